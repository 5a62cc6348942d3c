// The streaming cores of both directions: bytes in, bytes out, in memory.
// The file operations are loops of reader, core and writer around them.
//
// A container's chunks are independent under the cipher; only the digest
// runs in order. So a batch of whole chunks is shared out among threads one
// chunk at a time, while the caller's thread takes the digest over the
// chunks in order as they come done, and codes chunks itself whenever the
// next one in order is not ready. Small feeds stay on the caller's thread.
#include "codec/enn_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "codec/enn.h"
#include "codec/enn_fault.h"

namespace {

// Runs code(i) for each of count chunks, on the helpers and the caller's
// thread; the caller runs before() first, then inOrder(i) for each chunk in
// order once it is coded, coding chunks itself while the next is not ready.
// Following the coding closely keeps each chunk in the cache for inOrder.
template <typename Code, typename InOrder, typename Before>
void ShareOut(EnnWorkers* workers, EnnChunkQueue* queue, int count, Code code, InOrder inOrder,
              Before before) {
    queue->Reset(count);
    const auto codeOne = [&] {
        const int i = queue->Take();
        if (i >= 0) {
            code(i);
            queue->MarkDone(i);
        }
        return i >= 0;
    };
    const std::function<void()> helper = [&] {
        while (codeOne()) {
        }
    };
    const std::function<void()> mine = [&] {
        before();
        for (int j = 0; j < count; ++j) {
            while (!queue->IsDone(j)) {
                if (!codeOne()) {
                    std::this_thread::yield();  // the last chunks are on other threads
                }
            }
            inOrder(j);
        }
    };
    workers->Run(helper, mine);
}

// The helpers for a feed of count chunks, or null when the caller's thread
// alone is the better choice.
EnnWorkers* WorkersFor(std::unique_ptr<EnnWorkers>* workers, int threads, int count) {
    if (threads <= 1 || count < kEnnParallelChunks) {
        return nullptr;
    }
    if (!*workers) {
        // Helpers are shared by every call of the process; where none are
        // free, the caller's thread codes alone, and asks again next feed.
        const int helpers = EnnTakeHelpers(threads - 1);
        if (helpers == 0) {
            return nullptr;
        }
        try {
            workers->reset(new EnnWorkers(helpers));
        } catch (...) {
            EnnGiveBackHelpers(helpers);
            throw;
        }
    }
    return workers->get();
}

// Decodes a data chunk of size bytes into out, checking it against the layout
// the encoder writes: eight digits of length, 1 to 4000 bytes filling exactly
// size, zero fill. Returns n, or -1.
int OpenDataChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int size,
                  unsigned char* out) {
    if (size < 2 * ENN_BLOCK_SIZE || size % ENN_BLOCK_SIZE != 0) {
        return -1;
    }
    unsigned char length[ENN_BLOCK_SIZE];
    BlowfishDecryptBlocks(ctx, data, length, 1);
    const int n = EnnStrictLength(length);
    const int blocks = (size - ENN_BLOCK_SIZE) / ENN_BLOCK_SIZE;
    // 3993 to 3999 bytes fill a whole chunk's size too; the caller sees to
    // it that such a chunk is the last.
    const bool fits = n >= 1 && n <= ENN_CHUNK_PLAIN && (n + 7) / 8 == blocks;
    if (!fits) {
        return -1;
    }
    BlowfishDecryptBlocks(ctx, data + ENN_BLOCK_SIZE, out, static_cast<size_t>(blocks));
    for (int i = n; i < blocks * ENN_BLOCK_SIZE; ++i) {
        if (out[i] != 0) {
            return -1;
        }
    }
    return n;
}

}  // namespace

void EnnEncodeStart(EnnEncoding* e, const BLOWFISH_CTX* ctx, const char* password,
                    unsigned char* out) {
    e->ctx = ctx;
    e->pendingLen = 0;
    e->threads = EnnThreadCount();
    MD5Init(&e->md5);
    std::memset(out, ' ', ENN_HEADER_SIZE);
    char passwordText[9];
    std::snprintf(passwordText, sizeof passwordText, "%s" ENN_PASSWORD_FILLER, password);
    EnnSealChunk(ctx, reinterpret_cast<const unsigned char*>(passwordText), 8,
                 out + ENN_HEADER_SIZE);
    SecureWipe(passwordText, sizeof passwordText);
    MD5Update(&e->md5, out + ENN_HEADER_SIZE, ENN_PAYLOAD_OFFSET - ENN_HEADER_SIZE);
}

namespace {

int EncodeSlice(EnnEncoding* e, const unsigned char* plain, int size, unsigned char* out,
                const std::function<void()>& alongside) {
    if (size <= 0) {  // nothing to take; plain may even be null
        return 0;
    }
    int written = 0;
    if (e->pendingLen > 0) {
        const int take = std::min(size, ENN_CHUNK_PLAIN - e->pendingLen);
        std::memcpy(e->pending + e->pendingLen, plain, static_cast<size_t>(take));
        EnnWipeRegisters();
        e->pendingLen += take;
        plain += take;
        size -= take;
        if (e->pendingLen < ENN_CHUNK_PLAIN) {
            return 0;
        }
        written = EnnSealChunk(e->ctx, e->pending, ENN_CHUNK_PLAIN, out);
        MD5Update(&e->md5, out, static_cast<unsigned int>(written));
        e->pendingLen = 0;
    }
    const int whole = size / ENN_CHUNK_PLAIN;
    unsigned char* sealed = out + written;
    const auto seal = [&](int i) {
        EnnSealChunk(e->ctx, plain + i * ENN_CHUNK_PLAIN, ENN_CHUNK_PLAIN,
                     sealed + i * ENN_CHUNK_CIPHER);
    };
    const auto digest = [&](int i) {
        MD5Update(&e->md5, sealed + i * ENN_CHUNK_CIPHER, ENN_CHUNK_CIPHER);
    };
    if (EnnWorkers* workers = WorkersFor(&e->workers, e->threads, whole)) {
        ShareOut(workers, &e->queue, whole, seal, digest, [&] {
            if (alongside) {
                alongside();
            }
        });
    } else {
        for (int i = 0; i < whole; ++i) {
            seal(i);
            digest(i);
        }
    }
    written += whole * ENN_CHUNK_CIPHER;
    e->pendingLen = size - whole * ENN_CHUNK_PLAIN;
    std::memcpy(e->pending, plain + whole * ENN_CHUNK_PLAIN, static_cast<size_t>(e->pendingLen));
    EnnWipeRegisters();
    return written;
}

// A feed of any size is taken in slices whose counts of bytes and chunks fit
// an int: about a gigabyte each.
constexpr size_t kSliceChunks = 1 << 18;

// Runs feed over slices of at most slice bytes, handing each the hook once,
// to the first that shares its work; the hook runs after the feed when none
// did, so that it runs exactly once.
template <typename Feed>
size_t InSlices(size_t size, size_t slice, const std::function<void()>& alongside, Feed feed) {
    bool ran = false;
    const std::function<void()> once = [&] {
        if (!ran && alongside) {
            ran = true;
            alongside();
        }
    };
    size_t out = 0;
    for (size_t at = 0; at < size; at += slice) {
        out += feed(at, std::min(slice, size - at), out, once);
    }
    once();
    return out;
}

}  // namespace

size_t EnnEncodeFeed(EnnEncoding* e, const unsigned char* plain, size_t size, unsigned char* out,
                     const std::function<void()>& alongside) {
    return InSlices(size, kSliceChunks * ENN_CHUNK_PLAIN, alongside,
                    [&](size_t at, size_t take, size_t written, const std::function<void()>& hook) {
                        return static_cast<size_t>(EncodeSlice(
                            e, plain + at, static_cast<int>(take), out + written, hook));
                    });
}

int EnnEncodeFinish(EnnEncoding* e, unsigned char* out, char* header) {
    int written = 0;
    if (e->pendingLen > 0) {
        written = EnnSealChunk(e->ctx, e->pending, e->pendingLen, out);
        MD5Update(&e->md5, out, static_cast<unsigned int>(written));
        e->pendingLen = 0;
    }
    MD5FinalHex(&e->md5, header);
    return written;
}

void EnnDecodeStart(EnnDecoding* d, const BLOWFISH_CTX* ctx) {
    d->ctx = ctx;
    MD5Init(&d->md5);
    d->prefixLen = 0;
    d->password[0] = '\0';
    d->pieceLen = 0;
    d->ended = false;
    d->fault = ENN_FAULT_NONE;
    d->threads = EnnThreadCount();
}

namespace {

// Decodes count whole chunks at data into plain (4000 bytes each) and checks
// them in order; returns the plain bytes, or sets d->fault.
int DecodeWholeChunks(EnnDecoding* d, const unsigned char* data, int count, unsigned char* plain,
                      bool digested, const std::function<void()>& alongside) {
    if (static_cast<int>(d->lengths.size()) < count) {
        d->lengths.resize(static_cast<size_t>(count));
    }
    const auto open = [&](int i) {
        d->lengths[static_cast<size_t>(i)] = OpenDataChunk(
            d->ctx, data + i * ENN_CHUNK_CIPHER, ENN_CHUNK_CIPHER, plain + i * ENN_CHUNK_PLAIN);
    };
    if (EnnWorkers* workers = WorkersFor(&d->workers, d->threads, count)) {
        // The digest needs no chunk decoded, but taking it right behind the
        // decoding finds the bytes still in the cache.
        ShareOut(
            workers, &d->queue, count, open,
            [&](int i) {
                if (!digested) {
                    MD5Update(&d->md5, data + i * ENN_CHUNK_CIPHER, ENN_CHUNK_CIPHER);
                }
            },
            [&] {
                if (alongside) {
                    alongside();
                }
            });
    } else {
        if (!digested) {
            MD5Update(&d->md5, data, static_cast<unsigned int>(count) * ENN_CHUNK_CIPHER);
        }
        for (int i = 0; i < count; ++i) {
            open(i);
        }
    }
    int plainLen = 0;
    for (int i = 0; i < count; ++i) {
        const int n = d->lengths[static_cast<size_t>(i)];
        if (d->ended || n < 0) {
            // Every chunk of the batch may have been decoded, those after
            // the fault too: none of it is given out, nor left behind.
            d->fault = ENN_FAULT_LAYOUT;
            SecureWipe(plain, static_cast<size_t>(count) * ENN_CHUNK_PLAIN);
            return 0;
        }
        plainLen += n;
        d->ended = n < ENN_CHUNK_PLAIN;  // only the last chunk holds fewer
    }
    return plainLen;
}

int DecodeSlice(EnnDecoding* d, const unsigned char* data, int size, unsigned char* plain,
                const std::function<void()>& alongside) {
    if (size <= 0) {  // nothing to take; data may even be null
        return 0;
    }
    if (d->prefixLen < ENN_PAYLOAD_OFFSET) {
        const int take = std::min(size, ENN_PAYLOAD_OFFSET - d->prefixLen);
        std::memcpy(d->prefix + d->prefixLen, data, static_cast<size_t>(take));
        d->prefixLen += take;
        data += take;
        size -= take;
        if (d->prefixLen == ENN_PAYLOAD_OFFSET) {
            MD5Update(&d->md5, d->prefix + ENN_HEADER_SIZE, ENN_PAYLOAD_OFFSET - ENN_HEADER_SIZE);
            if (!EnnOpenPasswordChunk(d->ctx, d->prefix + ENN_HEADER_SIZE, d->password)) {
                d->fault = ENN_FAULT_FOREIGN_KEY;
            }
        }
    }
    if (size <= 0) {
        return 0;
    }
    if (d->fault != ENN_FAULT_NONE) {
        // Once a fault is found nothing more is decoded, but the digest still
        // takes every byte, so that damage is told as damage.
        MD5Update(&d->md5, data, static_cast<unsigned int>(size));
        return 0;
    }
    int plainLen = 0;
    if (d->pieceLen > 0) {
        // A chunk split between feeds is gathered first.
        const int take = std::min(size, ENN_CHUNK_CIPHER - d->pieceLen);
        std::memcpy(d->piece + d->pieceLen, data, static_cast<size_t>(take));
        MD5Update(&d->md5, data, static_cast<unsigned int>(take));
        d->pieceLen += take;
        data += take;
        size -= take;
        if (d->pieceLen < ENN_CHUNK_CIPHER) {
            return 0;
        }
        d->pieceLen = 0;
        plainLen = DecodeWholeChunks(d, d->piece, 1, plain, true, nullptr);
        if (d->fault != ENN_FAULT_NONE) {
            MD5Update(&d->md5, data, static_cast<unsigned int>(size));
            return 0;
        }
    }
    // Whole chunks are decoded where they lie.
    const int whole = size / ENN_CHUNK_CIPHER;
    plainLen += DecodeWholeChunks(d, data, whole, plain + plainLen, false, alongside);
    data += whole * ENN_CHUNK_CIPHER;
    size -= whole * ENN_CHUNK_CIPHER;
    MD5Update(&d->md5, data, static_cast<unsigned int>(size));
    std::memcpy(d->piece, data, static_cast<size_t>(size));
    d->pieceLen = size;
    if (d->fault != ENN_FAULT_NONE) {
        SecureWipe(plain, static_cast<size_t>(plainLen));  // the gathered chunk's
        return 0;
    }
    return plainLen;
}

}  // namespace

size_t EnnDecodePlainBound(const EnnDecoding* d, size_t size) {
    const size_t prefixLeft = static_cast<size_t>(ENN_PAYLOAD_OFFSET - d->prefixLen);
    if (d->fault != ENN_FAULT_NONE || size <= prefixLeft) {
        return 0;
    }
    const size_t chunks = (static_cast<size_t>(d->pieceLen) + size - prefixLeft) / ENN_CHUNK_CIPHER;
    return chunks * ENN_CHUNK_PLAIN;
}

size_t EnnDecodeBytesFor(const EnnDecoding* d, size_t chunks) {
    return static_cast<size_t>(ENN_PAYLOAD_OFFSET - d->prefixLen) + chunks * ENN_CHUNK_CIPHER -
           static_cast<size_t>(d->pieceLen);
}

void EnnDecodeLetGo(EnnDecoding* d) {
    d->workers.reset();
}

size_t EnnDecodeFeed(EnnDecoding* d, const unsigned char* data, size_t size, unsigned char* plain,
                     const std::function<void()>& alongside) {
    return InSlices(
        size, kSliceChunks * ENN_CHUNK_CIPHER, alongside,
        [&](size_t at, size_t take, size_t plainLen, const std::function<void()>& hook) {
            return static_cast<size_t>(
                DecodeSlice(d, data + at, static_cast<int>(take), plain + plainLen, hook));
        });
}

int EnnDecodeFinish(EnnDecoding* d, unsigned char* plain, int* plain_len) {
    *plain_len = 0;
    char computed[ENN_HEADER_SIZE + 1];
    if (d->prefixLen < ENN_PAYLOAD_OFFSET && d->prefixLen > ENN_HEADER_SIZE) {
        MD5Update(&d->md5, d->prefix + ENN_HEADER_SIZE,
                  static_cast<unsigned int>(d->prefixLen - ENN_HEADER_SIZE));
    }
    MD5FinalHex(&d->md5, computed);
    // A file shorter than the header never matches; one that does not even
    // begin with a digest's text was never a container.
    if (d->prefixLen < ENN_HEADER_SIZE || std::memcmp(d->prefix, computed, ENN_HEADER_SIZE) != 0) {
        const bool container = d->prefixLen >= ENN_HEADER_SIZE && EnnIsDigestText(d->prefix);
        return container ? ENN_FAULT_DIGEST : ENN_FAULT_NOT_CONTAINER;
    }
    if (d->prefixLen == ENN_HEADER_SIZE) {
        // The header alone, matching: a container of nothing. It carries no
        // password, but nothing in it is wrong either.
        return ENN_FAULT_NONE;
    }
    if (d->prefixLen < ENN_PAYLOAD_OFFSET) {
        return ENN_FAULT_TOO_SHORT;
    }
    if (d->fault == ENN_FAULT_NONE && d->pieceLen > 0) {
        const int n = d->ended ? -1 : OpenDataChunk(d->ctx, d->piece, d->pieceLen, plain);
        if (n < 0) {
            d->fault = ENN_FAULT_LAYOUT;
            SecureWipe(plain, ENN_CHUNK_PLAIN);  // what a chunk refused for its fill left
        } else {
            *plain_len = n;
        }
    }
    if (d->fault != ENN_FAULT_NONE) {
        *plain_len = 0;
        return d->fault;
    }
    return ENN_FAULT_NONE;
}
