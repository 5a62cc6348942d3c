// Pieces the encoder and the decoder share; not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_INTERNAL_H
#define VELTRANE_CODEC_ENN_INTERNAL_H

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_workers.h"
#include "crypto/blowfish.h"
#include "crypto/md5.h"
#include "crypto/wipe.h"

// Chunks that the file operations read, code and write at a time: large
// reads and writes cost fewer system calls, and give the threads enough to
// share. 1 MiB each way.
constexpr int kEnnBatchChunks = 256;

// The fewest whole chunks a feed holds for threads to be worth waking: a
// small file stays on the caller's thread.
constexpr int kEnnParallelChunks = 32;

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

// Keys cipher with key; false (nothing keyed) when the key is not 4 to 56 bytes.
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

// A container decoded from its bytes in order, checked as it goes: the digest
// over exactly the bytes decoded, the password chunk, and every data chunk
// against the layout the encoder writes. Once a fault is found nothing more
// is decoded, but the digest still takes every byte, so that damage is told
// as damage whatever else it broke.
struct EnnDecoding {
    const BLOWFISH_CTX* ctx;
    MD5_CTX md5;
    unsigned char prefix[ENN_PAYLOAD_OFFSET];  // header and password chunk
    int prefixLen;
    unsigned char piece[ENN_CHUNK_CIPHER];  // a data chunk split between feeds
    int pieceLen;
    bool ended;  // a chunk of fewer than 4000 bytes came: nothing may follow
    int fault;   // ENN_FAULT_FOREIGN_KEY or ENN_FAULT_LAYOUT once found
    int threads;
    std::unique_ptr<EnnWorkers> workers;
    EnnChunkQueue queue;
    std::vector<int> lengths;  // of the chunks of one feed, as decoded
};

// Starts decoding a container under a keyed ctx, on EnnThreadCount() threads
// for large feeds.
void EnnDecodeStart(EnnDecoding* d, const BLOWFISH_CTX* ctx);

// Takes the next size bytes of the container, a feed of any size. The plain bytes of every data
// chunk they complete go to plain, which holds (size / 4008 + 1) * 4000 bytes;
// returns their count.
// alongside (when given) runs exactly once on the caller's thread: while the
// helpers start on the feed's chunks when they are shared out among threads,
// so that the I/O of the batches before and after this one overlaps the
// cipher work, and after the feed otherwise. It must not touch data or plain.
size_t EnnDecodeFeed(EnnDecoding* d, const unsigned char* data, size_t size, unsigned char* plain,
                     const std::function<void()>& alongside = nullptr);

// Ends the container: the plain bytes of a last short chunk go to plain (4000
// bytes) and their count to *plain_len. Returns ENN_FAULT_NONE, or the fault
// found: ENN_FAULT_DIGEST or ENN_FAULT_NOT_CONTAINER, which win over any
// other, ENN_FAULT_TOO_SHORT, ENN_FAULT_FOREIGN_KEY or ENN_FAULT_LAYOUT.
int EnnDecodeFinish(EnnDecoding* d, unsigned char* plain, int* plain_len);

// A container encoded from plain bytes in order: the streaming counterpart of
// EnnDecoding. Large feeds share the cipher work among EnnThreadCount()
// threads; the bytes are the same whatever the count. The plain bytes it holds
// are wiped when it goes, finished or not.
struct EnnEncoding {
    const BLOWFISH_CTX* ctx;
    MD5_CTX md5;
    unsigned char pending[ENN_CHUNK_PLAIN];  // plain bytes of a chunk not yet whole
    int pendingLen;
    int threads;
    std::unique_ptr<EnnWorkers> workers;
    EnnChunkQueue queue;
    ~EnnEncoding() { SecureWipe(pending, sizeof pending); }
};

// Starts a container carrying password (six digits) under a keyed ctx; out
// receives its first 48 bytes: a placeholder header of spaces and the
// password chunk.
void EnnEncodeStart(EnnEncoding* e, const BLOWFISH_CTX* ctx, const char* password,
                    unsigned char* out);

// Takes the next size plain bytes, a feed of any size. The chunks they complete go to out, which
// holds (size / 4000 + 1) * 4008 bytes; returns their count.
// alongside as for EnnDecodeFeed.
size_t EnnEncodeFeed(EnnEncoding* e, const unsigned char* plain, size_t size, unsigned char* out,
                     const std::function<void()>& alongside = nullptr);

// Ends the container: a last short chunk goes to out (4008 bytes), its count
// returned, and header (33 bytes) receives the digest text that replaces the
// placeholder at offset 0.
int EnnEncodeFinish(EnnEncoding* e, unsigned char* out, char* header);

// Files that close, and aside files that go, on every way out.
struct EnnReaderGuard {
    EnnReader reader;
    ~EnnReaderGuard() { EnnCloseReader(&reader); }
};
struct EnnWriterGuard {
    EnnWriter writer;
    ~EnnWriterGuard() { EnnDiscard(&writer); }
};

#endif
