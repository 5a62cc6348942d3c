// The codec's chunk level: the key, one chunk sealed or opened, the password
// chunk, the digest's text. Everything above it (the cores, the operations
// over files and streams) builds on these. Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_CHUNK_H
#define VELTRANE_CODEC_ENN_CHUNK_H

#include "codec/enn.h"
#include "crypto/blowfish.h"
#include "crypto/wipe.h"

// Clears the processor's vector registers. A copy of plain bytes (memcpy)
// leaves the last of them there, for the next signal or lazily bound call
// to save on the stack; each copy of plain data is followed by this. Does
// nothing where the codec does not know the registers.
void EnnWipeRegisters();

// The key's string length when it is 4 to 56, else -1.
int EnnKeyLength(const char* key);

// A key schedule that is wiped when it goes out of scope, on every way out.
// Every thread coding chunks reads it on every round, so it has its cache
// lines to itself: a write by the caller's thread to a neighbour (the digest
// state, say) would otherwise take them from the other cores' caches over and
// over. Padding rather than alignas, which mingw-w64 does not honour on the
// stack.
struct EnnCipher {
    unsigned char lineBefore[64];
    BLOWFISH_CTX ctx;
    unsigned char lineAfter[64];
    EnnCipher() = default;
    EnnCipher(const EnnCipher&) = delete;
    EnnCipher& operator=(const EnnCipher&) = delete;
    ~EnnCipher() { SecureWipe(&ctx, sizeof ctx); }
};

// Keys cipher with key (EnnBuiltIn() for the built-in one); false (nothing
// keyed) when the key is not 4 to 56 bytes.
bool EnnKeyCipher(const char* key, EnnCipher* cipher);

// Encrypts n plain bytes (0 to 99,999,999) as one chunk into out under a keyed
// ctx; returns the bytes written, 8 + 8 * ceil(n / 8).
int EnnSealChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int n, unsigned char* out);

// Decrypts the chunk at data (data_len bytes) into out, which holds out_cap
// bytes, and stores its plain length n, read from the length Block as atoi
// reads a text. Fails with ENN_ERR_GENERIC, out untouched, unless 0 <= n and
// 8 + 8 * ceil(n / 8) <= data_len and 8 * ceil(n / 8) <= out_cap; n is stored
// in any case once decoded.
int EnnOpenChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int data_len,
                 unsigned char* out, int out_cap, int* n);

// True when the 32 bytes at text are lowercase hexadecimal digits, as a
// digest header is.
bool EnnIsDigestText(const unsigned char* text);

// The plain length in a decrypted length Block, when it is eight decimal
// digits as the encoder prints them; else -1.
int EnnStrictLength(const unsigned char* text);

// Decodes the 16-byte password chunk; true, with the six digits and a NUL in
// password (7 bytes), only when it reads as the encoder writes it: length 8,
// six digits, "**".
bool EnnOpenPasswordChunk(const BLOWFISH_CTX* ctx, const unsigned char* sealed, char* password);

#endif
