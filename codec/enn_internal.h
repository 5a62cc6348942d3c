// Pieces the encoder and the decoder share; not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_INTERNAL_H
#define VELTRANE_CODEC_ENN_INTERNAL_H

#include <sys/stat.h>

#include <cstdio>

#include "crypto/blowfish.h"
#include "crypto/wipe.h"

// Chunks that the file operations read, code and write at a time. Reads and
// writes this large go straight between the file and the caller's buffers,
// past stdio's own small one.
constexpr int kEnnBatchChunks = 16;

// The key's string length when it is 4 to 56, else -1.
int EnnKeyLength(const char* key);

// A key schedule that is wiped when it goes out of scope, on every way out.
struct EnnCipher {
    BLOWFISH_CTX ctx;
    EnnCipher() = default;
    EnnCipher(const EnnCipher&) = delete;
    EnnCipher& operator=(const EnnCipher&) = delete;
    ~EnnCipher() { SecureWipe(&ctx, sizeof ctx); }
};

// Keys cipher with key; false (nothing keyed) when the key is not 4 to 56 bytes.
bool EnnKeyCipher(const char* key, EnnCipher* cipher);

// Encrypts n plain bytes (0 to 99,999,999) as one chunk into out under a keyed
// ctx; returns the bytes written, 8 + 8 * ceil(n / 8).
int EnnSealChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int n, unsigned char* out);

// Decrypts the chunk at data (data_len bytes) into out, which holds out_cap
// bytes, and stores its plain length n. Fails with ENN_ERR_GENERIC, out
// untouched, unless 0 <= n and 8 + 8 * ceil(n / 8) <= data_len and
// 8 * ceil(n / 8) <= out_cap; n is stored in any case once decoded.
int EnnOpenChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int data_len,
                 unsigned char* out, int out_cap, int* n);

// Opens path for reading when it names a readable regular file; else null.
std::FILE* EnnOpenInput(const char* path, struct stat* opened);

// True when path names the very file that opened describes (through links too).
bool EnnIsSameFile(const char* path, const struct stat& opened);

// Creates or truncates path for writing; records what was opened.
std::FILE* EnnCreateOutput(const char* path, struct stat* created);

// Reads up to size bytes, as many as the file still has. Returns the count, or
// -1 on a read error (which is never taken for the end of the file).
int EnnRead(std::FILE* in, unsigned char* buf, int size);

// Writes all size bytes, or returns false.
bool EnnWrite(std::FILE* out, const void* buf, int size);

// Closes out; true when everything written has reached the file.
bool EnnCloseOutput(std::FILE* out);

// Removes path when it still is the regular file that was created there, so
// that no partial result is left. A device, a link or any other file that has
// taken its place is left alone.
void EnnRemoveCreated(const char* path, const struct stat& created);

#endif
