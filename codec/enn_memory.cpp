// Decoding a container held in memory or arriving in pieces: the decoding
// core with the plain data kept in memory until the whole container has
// checked out, and the password from the same pass.
//
// The plain data lives in one buffer: the decoder's own, or the caller's for
// EnnDecodeBuffer. Every byte a feed may write there is counted, so that on
// any failure all of it is wiped; the decoder's own buffer grows by copy,
// wipe and free, never by a move that leaves the old block to the heap
// unwiped.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "codec/enn.h"
#include "codec/enn_chunk.h"
#include "codec/enn_core.h"
#include "codec/enn_fault.h"
#include "codec/enn_file.h"

// Whether size bytes at data lie over the cap bytes at plain.
static bool Overlap(const void* data, size_t size, const void* plain, size_t cap) {
    const uintptr_t in = reinterpret_cast<uintptr_t>(data);
    const uintptr_t out = reinterpret_cast<uintptr_t>(plain);
    return size > 0 && cap > 0 && in < out + cap && out < in + size;
}

struct EnnDecoder {
    EnnCipher cipher;
    EnnDecoding decoding;
    unsigned char* plain = nullptr;  // what the chunks gave so far
    size_t plainLen = 0;
    size_t capacity = 0;
    size_t touched = 0;          // bytes of plain, from its start, a feed may have written
    bool callers = false;        // plain is the caller's: never grown nor freed
    size_t maxPlain = 0;         // 0: no bound
    int fault = ENN_FAULT_NONE;  // the first failure, which every later call repeats
    bool finished = false;
    bool givenOut = false;  // a finish gave plain out: it stays as it is until the end

    // The caller's buffer is left as it is only once a finish gave it out.
    ~EnnDecoder() {
        if (!(callers && givenOut)) {
            Discard();
        }
    }

    // Whether size bytes at data lie over the caller's buffer.
    bool Over(const void* data, size_t size) const {
        return callers && Overlap(data, size, plain, capacity);
    }

    // Wipes every byte of plain a feed may have written, and frees the
    // decoder's own buffer: on a failure, on growing, and at the end, but
    // never between a finish that gave plain out and the end.
    void Discard() {
        if (plain != nullptr) {
            SecureWipe(plain, touched);
        }
        if (!callers) {
            delete[] plain;
            plain = nullptr;
            capacity = 0;
        }
        plainLen = 0;
        touched = 0;
    }

    // The plain bytes that may still come before the bound is passed.
    size_t Room() const {
        if (callers) {
            return capacity - plainLen;
        }
        return maxPlain == 0 ? SIZE_MAX - plainLen : maxPlain - plainLen;
    }

    // Makes plain hold size bytes (at most plainLen + Room()), the plainLen
    // it has kept. False when the memory cannot be had.
    bool Reserve(size_t size) {
        if (size <= capacity) {
            return true;
        }
        if (callers) {
            return false;  // cannot be: Room() keeps within the caller's buffer
        }
        size_t bigger = std::max(size, capacity > SIZE_MAX / 2 ? SIZE_MAX : 2 * capacity);
        if (maxPlain != 0) {
            bigger = std::max(size, std::min(bigger, maxPlain));
        }
        unsigned char* grown = new (std::nothrow) unsigned char[bigger];
        if (grown == nullptr) {
            return false;
        }
        const size_t kept = plainLen;
        if (kept > 0) {
            std::memcpy(grown, plain, kept);
            EnnWipeRegisters();
        }
        Discard();
        plain = grown;
        capacity = bigger;
        plainLen = kept;
        touched = kept;
        return true;
    }

    // Marks the bytes up to size as written.
    void Touch(size_t size) { touched = std::max(touched, size); }
};

namespace {

// Takes size bytes into the decoder: ENN_FAULT_NONE, or the fault that ends
// it. In slices of a batch, each decoded where its plain bytes go once there
// is room for the most it can give; where the bound lies within a slice, the
// chunks that fit at once, then one chunk at a time beside, so that the
// decoder stops at the first chunk that passes it.
int Feed(EnnDecoder* d, const unsigned char* data, size_t size) {
    constexpr size_t kSlice = static_cast<size_t>(kEnnBatchChunks) * ENN_CHUNK_CIPHER;
    while (size > 0) {
        size_t take = std::min(kSlice, size);
        size_t most = EnnDecodePlainBound(&d->decoding, take);
        const size_t room = d->Room();
        if (most > room) {
            const size_t fit = room / ENN_CHUNK_PLAIN;
            const size_t chunks = fit > 0 ? fit : 1;
            take = EnnDecodeBytesFor(&d->decoding, chunks);
            most = chunks * ENN_CHUNK_PLAIN;
        }
        size_t got = 0;
        if (most <= room) {
            if (!d->Reserve(d->plainLen + most)) {
                return ENN_FAULT_NO_MEMORY;
            }
            d->Touch(d->plainLen + most);
            got = EnnDecodeFeed(&d->decoding, data, take, d->plain + d->plainLen);
        } else {
            // One chunk that may or may not fit what is left.
            unsigned char aside[ENN_CHUNK_PLAIN];
            got = EnnDecodeFeed(&d->decoding, data, take, aside);
            int why = ENN_FAULT_NONE;
            if (got > room) {
                why = ENN_FAULT_TOO_LARGE;
            } else if (got > 0 && !d->Reserve(d->plainLen + got)) {
                why = ENN_FAULT_NO_MEMORY;
            } else if (got > 0) {
                d->Touch(d->plainLen + got);
                std::memcpy(d->plain + d->plainLen, aside, got);
                EnnWipeRegisters();
            }
            SecureWipe(aside, sizeof aside);
            if (why != ENN_FAULT_NONE) {
                return why;
            }
        }
        d->plainLen += got;
        data += take;
        size -= take;
    }
    return ENN_FAULT_NONE;
}

// Ends the container: ENN_FAULT_NONE with the password, or the fault.
int Finish(EnnDecoder* d, char* password) {
    unsigned char last[ENN_CHUNK_PLAIN];
    int lastLen = 0;
    int fault = EnnDecodeFinish(&d->decoding, last, &lastLen);
    if (fault == ENN_FAULT_NONE && lastLen > 0) {
        const size_t n = static_cast<size_t>(lastLen);
        if (n > d->Room()) {
            fault = ENN_FAULT_TOO_LARGE;
        } else if (!d->Reserve(d->plainLen + n)) {
            fault = ENN_FAULT_NO_MEMORY;
        } else {
            d->Touch(d->plainLen + n);
            std::memcpy(d->plain + d->plainLen, last, n);
            EnnWipeRegisters();
            d->plainLen += n;
        }
    }
    SecureWipe(last, sizeof last);
    if (fault != ENN_FAULT_NONE) {
        return fault;
    }
    std::memcpy(password, d->decoding.password, sizeof d->decoding.password);
    return ENN_FAULT_NONE;
}

}  // namespace

EnnDecoder* EnnDecoderNew(const char* key, size_t max_plain, int* fault) {
    EnnDecoder* d = new (std::nothrow) EnnDecoder;
    if (d == nullptr) {
        EnnFail(fault, ENN_FAULT_NO_MEMORY);
        return nullptr;
    }
    if (!EnnKeyCipher(key, &d->cipher)) {
        delete d;
        EnnFail(fault, ENN_FAULT_ARGUMENT);
        return nullptr;
    }
    d->maxPlain = max_plain;
    EnnDecodeStart(&d->decoding, &d->cipher.ctx);
    EnnFail(fault, ENN_FAULT_NONE);
    return d;
}

int EnnDecoderFeed(EnnDecoder* decoder, const void* data, size_t size) {
    if (decoder == nullptr || (data == nullptr && size > 0)) {
        return EnnResultOf(ENN_FAULT_ARGUMENT);
    }
    if (decoder->fault == ENN_FAULT_NONE && (decoder->finished || decoder->Over(data, size))) {
        decoder->fault = ENN_FAULT_ARGUMENT;  // fed after its end, or what it would overwrite
        if (!decoder->givenOut) {
            decoder->Discard();
        }
    }
    if (decoder->fault == ENN_FAULT_NONE) {
        decoder->fault =
            EnnCaught([&] { return Feed(decoder, static_cast<const unsigned char*>(data), size); });
        // The helpers are the process's: held for the feed only.
        EnnDecodeLetGo(&decoder->decoding);
        if (decoder->fault != ENN_FAULT_NONE) {
            decoder->Discard();
        }
    }
    return EnnResultOf(decoder->fault);
}

int EnnDecoderFinish(EnnDecoder* decoder, char* password, const unsigned char** plain,
                     size_t* plain_len, int* fault) {
    if (decoder == nullptr || password == nullptr || plain == nullptr || plain_len == nullptr) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT);
    }
    if (decoder->givenOut) {
        // Finished twice: what the first gave out stays the caller's to read.
        decoder->fault = ENN_FAULT_ARGUMENT;
        return EnnFail(fault, ENN_FAULT_ARGUMENT);
    }
    if (decoder->fault == ENN_FAULT_NONE && decoder->finished) {
        decoder->fault = ENN_FAULT_ARGUMENT;  // finished twice
    }
    char found[ENN_PASSWORD_LENGTH + 1] = {};
    if (decoder->fault == ENN_FAULT_NONE) {
        decoder->fault = EnnCaught([&] { return Finish(decoder, found); });
    }
    decoder->finished = true;
    if (decoder->fault != ENN_FAULT_NONE) {
        decoder->Discard();
        return EnnFail(fault, decoder->fault);
    }
    std::memcpy(password, found, sizeof found);
    SecureWipe(found, sizeof found);
    decoder->givenOut = true;
    *plain = decoder->plain;
    *plain_len = decoder->plainLen;
    return EnnFail(fault, ENN_FAULT_NONE);
}

EnnDecoder* EnnDecoderNewInto(const char* key, void* plain, size_t plain_cap, int* fault) {
    if (plain == nullptr) {
        EnnFail(fault, ENN_FAULT_ARGUMENT);
        return nullptr;
    }
    EnnDecoder* d = EnnDecoderNew(key, plain_cap, fault);
    if (d != nullptr) {
        d->plain = static_cast<unsigned char*>(plain);
        d->capacity = plain_cap;
        d->callers = true;
    }
    return d;
}

void EnnDecoderFree(EnnDecoder* decoder) {
    delete decoder;
}

int EnnDecodeBuffer(const char* key, const void* data, size_t size, char* password, void* plain,
                    size_t plain_cap, size_t* plain_len, int* fault) {
    if ((data == nullptr && size > 0) || password == nullptr || plain == nullptr ||
        plain_len == nullptr) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT);
    }
    // Decoded where it goes, and wiped there on failure: no copy of the
    // plain data anywhere else. Only a plain buffer laid over the container
    // itself, which the decoding would overwrite before reading, takes the
    // decoder's own memory, bound by plain_cap, and is moved at the end.
    const bool overlaps = Overlap(data, size, plain, plain_cap);
    EnnDecoder* decoder = overlaps ? EnnDecoderNew(key, plain_cap, fault)
                                   : EnnDecoderNewInto(key, plain, plain_cap, fault);
    if (decoder == nullptr) {
        return ENN_ERR_GENERIC;
    }
    EnnDecoderFeed(decoder, data, size);
    const unsigned char* decoded = nullptr;
    size_t decodedLen = 0;
    char found[ENN_PASSWORD_LENGTH + 1];
    // The bound passed, or the plain data wiped where it lay.
    const int result = EnnDecoderFinish(decoder, found, &decoded, &decodedLen, fault);
    if (result == ENN_OK) {
        if (overlaps && decodedLen > 0) {
            std::memmove(plain, decoded, decodedLen);
            EnnWipeRegisters();
        }
        std::memcpy(password, found, sizeof found);
        *plain_len = decodedLen;
    }
    SecureWipe(found, sizeof found);
    EnnDecoderFree(decoder);
    return result;
}

namespace {

// The most plain bytes a file of size bytes can decode to: 4000 for each
// whole data chunk, and all but the length Block of a last short one.
size_t PlainBound(long long size) {
    if (size < ENN_PAYLOAD_OFFSET) {
        return 0;
    }
    const unsigned long long data = static_cast<unsigned long long>(size) - ENN_PAYLOAD_OFFSET;
    const unsigned long long rest = data % ENN_CHUNK_CIPHER;
    return static_cast<size_t>(data / ENN_CHUNK_CIPHER * ENN_CHUNK_PLAIN +
                               (rest > ENN_BLOCK_SIZE ? rest - ENN_BLOCK_SIZE : 0));
}

// Feeds the open file to decoder, a batch at a time, reading one byte past
// its size to see it grow. ENN_FAULT_NONE once all of it was fed unchanged,
// or ENN_FAULT_READ or CHANGED; a failed feed ends the reading, and the
// decoder keeps its fault.
int FeedFile(EnnReader* reader, EnnDecoder* decoder) {
    // A batch's worth, or less for a small file.
    const int size =
        static_cast<int>(std::min<long long>(kEnnBatchChunks * ENN_CHUNK_CIPHER, reader->size + 1));
    std::unique_ptr<unsigned char[]> piece(new unsigned char[size]);
    long long total = 0;
    for (;;) {
        const int want = static_cast<int>(std::min<long long>(size, reader->size - total + 1));
        const int got = EnnReadFull(reader, piece.get(), want);
        if (got < 0) {
            return ENN_FAULT_READ;
        }
        total += got;
        if (got == 0 || total > reader->size) {
            break;
        }
        if (EnnDecoderFeed(decoder, piece.get(), static_cast<size_t>(got)) != ENN_OK) {
            return ENN_FAULT_NONE;
        }
    }
    return total == reader->size && EnnReaderUnchanged(reader) ? ENN_FAULT_NONE : ENN_FAULT_CHANGED;
}

int DecodeFile(const char* key, const char* path, char* password, void* plain, size_t plain_cap,
               size_t* plain_len) {
    if (path == nullptr || password == nullptr || plain_len == nullptr ||
        (plain == nullptr && plain_cap > 0)) {
        return ENN_FAULT_ARGUMENT;
    }
    // A buffer of no bytes may be null; the decoder takes this one then.
    unsigned char none = 0;
    int fault = ENN_FAULT_NONE;
    const std::unique_ptr<EnnDecoder, decltype(&EnnDecoderFree)> decoder(
        EnnDecoderNewInto(key, plain != nullptr ? plain : &none, plain_cap, &fault),
        EnnDecoderFree);
    if (!decoder) {
        return fault;
    }
    EnnReaderGuard file;
    if (const int why = EnnOpenReader(path, &file.reader)) {
        return why;
    }
    const size_t need = PlainBound(file.reader.size);
    if (need > plain_cap) {
        *plain_len = need;
        return ENN_FAULT_TOO_LARGE;
    }
    if (const int why = FeedFile(&file.reader, decoder.get())) {
        return why;  // the decoder wipes what it wrote as it goes
    }
    const unsigned char* decoded = nullptr;
    size_t decodedLen = 0;
    char found[ENN_PASSWORD_LENGTH + 1];
    fault = ENN_FAULT_NONE;
    EnnDecoderFinish(decoder.get(), found, &decoded, &decodedLen, &fault);
    if (fault == ENN_FAULT_NONE) {
        std::memcpy(password, found, sizeof found);
        *plain_len = decodedLen;
    }
    SecureWipe(found, sizeof found);
    return fault;
}

}  // namespace

int EnnDecodeFile(const char* key, const char* path, char* password, void* plain, size_t plain_cap,
                  size_t* plain_len, int* fault) {
    return EnnFail(fault, EnnCaught([&] {
                       return DecodeFile(key, path, password, plain, plain_cap, plain_len);
                   }));
}
