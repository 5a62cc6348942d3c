// The streaming cores: a container encoded or decoded from bytes in order, in
// memory, its chunks shared among threads. Built on the chunk level
// (enn_chunk.h); the operations over files and streams build on these. Not
// part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_CORE_H
#define VELTRANE_CODEC_ENN_CORE_H

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_chunk.h"
#include "codec/enn_workers.h"
#include "crypto/md5.h"
#include "crypto/wipe.h"

// Chunks that the file operations read, code and write at a time: large
// reads and writes cost fewer system calls, and give the threads enough to
// share. 1 MiB each way.
constexpr int kEnnBatchChunks = 256;

// The fewest whole chunks a feed holds for threads to be worth waking: a
// small file stays on the caller's thread.
constexpr int kEnnParallelChunks = 32;

// A container decoded from its bytes in order, checked as it goes: the digest
// over exactly the bytes decoded, the password chunk, and every data chunk
// against the layout the encoder writes. Once a fault is found nothing more
// is decoded, but the digest still takes every byte, so that damage is told
// as damage whatever else it broke. The password chunk is opened once, here.
struct EnnDecoding {
    const BLOWFISH_CTX* ctx;
    MD5_CTX md5;
    unsigned char prefix[ENN_PAYLOAD_OFFSET];  // header and password chunk
    int prefixLen;
    char password[ENN_PASSWORD_LENGTH + 1];  // the chunk's six digits once opened, else ""
    unsigned char piece[ENN_CHUNK_CIPHER];   // a data chunk split between feeds
    int pieceLen;
    bool ended;  // a chunk of fewer than 4000 bytes came: nothing may follow
    int fault;   // ENN_FAULT_FOREIGN_KEY or ENN_FAULT_LAYOUT once found
    int threads;
    std::unique_ptr<EnnWorkers> workers;
    EnnChunkQueue queue;
    std::vector<int> lengths;  // of the chunks of one feed, as decoded
    ~EnnDecoding() { SecureWipe(password, sizeof password); }
};

// Starts decoding a container under a keyed ctx, on EnnThreadCount() threads
// for large feeds.
void EnnDecodeStart(EnnDecoding* d, const BLOWFISH_CTX* ctx);

// Takes the next size bytes of the container, a feed of any size. The plain bytes of every data
// chunk they complete go to plain, which holds (size / 4008 + 1) * 4000 bytes;
// returns their count. What a chunk refused wrote is wiped: on a fault
// plain holds nothing from this feed.
// alongside (when given) runs exactly once on the caller's thread: while the
// helpers start on the feed's chunks when they are shared out among threads,
// so that the I/O of the batches before and after this one overlaps the
// cipher work, and after the feed otherwise. It must not touch data or plain.
size_t EnnDecodeFeed(EnnDecoding* d, const unsigned char* data, size_t size, unsigned char* plain,
                     const std::function<void()>& alongside = nullptr);

// The most plain bytes that the next size bytes of the container can write
// to plain: 4000 for each data chunk they complete, none once a fault is
// found.
size_t EnnDecodePlainBound(const EnnDecoding* d, size_t size);

// The bytes that, fed next, complete exactly chunks (1 or more) data chunks.
size_t EnnDecodeBytesFor(const EnnDecoding* d, size_t chunks);

// Ends the helper threads a feed started and gives them back: the next
// large feed takes what the thread limit leaves free then.
void EnnDecodeLetGo(EnnDecoding* d);

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

#endif
