// Decoding a container held in memory or arriving in pieces: the decoding
// core with the plain data kept in memory until the whole container has
// checked out, and the password from the same pass.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_chunk.h"
#include "codec/enn_core.h"
#include "codec/enn_fault.h"

struct EnnDecoder {
    EnnCipher cipher;
    EnnDecoding decoding;
    std::vector<unsigned char> plain;  // what the chunks gave so far
    size_t maxPlain = 0;               // 0: no bound
    int fault = ENN_FAULT_NONE;        // the first failure, which every later call repeats
    bool finished = false;

    ~EnnDecoder() { Wipe(); }
    void Wipe() {
        if (!plain.empty()) {
            SecureWipe(plain.data(), plain.size());
        }
        plain.clear();
    }
};

namespace {

// Makes plain hold size bytes, its old ones kept. Where it must move, the
// old copy is wiped before it is freed: plain data is never left behind on
// the heap.
void GrowTo(std::vector<unsigned char>* plain, size_t size) {
    if (size > plain->capacity()) {
        std::vector<unsigned char> bigger;
        bigger.reserve(std::max(size, 2 * plain->capacity()));
        bigger.assign(plain->begin(), plain->end());
        if (!plain->empty()) {
            SecureWipe(plain->data(), plain->size());
        }
        plain->swap(bigger);
    }
    plain->resize(size);
}

// Takes size bytes into the decoder: ENN_FAULT_NONE, or the fault that ends
// it. In slices of a batch, so that what it holds passes its bound by one
// batch's plain data at the most.
int Feed(EnnDecoder* d, const unsigned char* data, size_t size) {
    constexpr size_t kSlice = static_cast<size_t>(kEnnBatchChunks) * ENN_CHUNK_CIPHER;
    for (size_t at = 0; at < size; at += kSlice) {
        const size_t take = std::min(kSlice, size - at);
        const size_t had = d->plain.size();
        GrowTo(&d->plain, had + (take / ENN_CHUNK_CIPHER + 1) * ENN_CHUNK_PLAIN);
        const size_t got = EnnDecodeFeed(&d->decoding, data + at, take, d->plain.data() + had);
        d->plain.resize(had + got);  // whole chunks only: nothing written past them
        if (d->maxPlain != 0 && d->plain.size() > d->maxPlain) {
            return ENN_FAULT_TOO_LARGE;
        }
    }
    return ENN_FAULT_NONE;
}

// Ends the container: ENN_FAULT_NONE with the password, or the fault.
int Finish(EnnDecoder* d, char* password) {
    unsigned char last[ENN_CHUNK_PLAIN];
    int lastLen = 0;
    const int fault = EnnDecodeFinish(&d->decoding, last, &lastLen);
    if (fault == ENN_FAULT_NONE && lastLen > 0) {
        const size_t had = d->plain.size();
        if (d->maxPlain != 0 && had + static_cast<size_t>(lastLen) > d->maxPlain) {
            SecureWipe(last, sizeof last);
            return ENN_FAULT_TOO_LARGE;
        }
        GrowTo(&d->plain, had + static_cast<size_t>(lastLen));
        std::memcpy(d->plain.data() + had, last, static_cast<size_t>(lastLen));
    }
    SecureWipe(last, sizeof last);
    if (fault != ENN_FAULT_NONE) {
        return fault;
    }
    password[0] = '\0';  // the header alone carries no password
    if (d->decoding.prefixLen == ENN_PAYLOAD_OFFSET &&
        !EnnOpenPasswordChunk(&d->cipher.ctx, d->decoding.prefix + ENN_HEADER_SIZE, password)) {
        return ENN_FAULT_FOREIGN_KEY;  // cannot be: the core checked it
    }
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
    if (decoder->fault == ENN_FAULT_NONE && decoder->finished) {
        decoder->fault = ENN_FAULT_ARGUMENT;  // fed after its end
    }
    if (decoder->fault == ENN_FAULT_NONE) {
        decoder->fault =
            EnnCaught([&] { return Feed(decoder, static_cast<const unsigned char*>(data), size); });
        if (decoder->fault != ENN_FAULT_NONE) {
            decoder->Wipe();
        }
    }
    return EnnResultOf(decoder->fault);
}

int EnnDecoderFinish(EnnDecoder* decoder, char* password, const unsigned char** plain,
                     size_t* plain_len, int* fault) {
    if (decoder == nullptr || password == nullptr || plain == nullptr || plain_len == nullptr) {
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
        decoder->Wipe();
        return EnnFail(fault, decoder->fault);
    }
    std::memcpy(password, found, sizeof found);
    SecureWipe(found, sizeof found);
    *plain = decoder->plain.data();
    *plain_len = decoder->plain.size();
    return EnnFail(fault, ENN_FAULT_NONE);
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
    // Decoded into the decoder's own memory, then copied: plain receives
    // nothing unless the whole container checked out.
    EnnDecoder* decoder = EnnDecoderNew(key, 0, fault);
    if (decoder == nullptr) {
        return ENN_ERR_GENERIC;
    }
    EnnDecoderFeed(decoder, data, size);
    const unsigned char* decoded = nullptr;
    size_t decodedLen = 0;
    char found[ENN_PASSWORD_LENGTH + 1];
    int result = EnnDecoderFinish(decoder, found, &decoded, &decodedLen, fault);
    if (result == ENN_OK && decodedLen > plain_cap) {
        result = EnnFail(fault, ENN_FAULT_TOO_LARGE);
    }
    if (result == ENN_OK) {
        if (decodedLen > 0) {
            std::memcpy(plain, decoded, decodedLen);
        }
        std::memcpy(password, found, sizeof found);
        *plain_len = decodedLen;
    }
    SecureWipe(found, sizeof found);
    EnnDecoderFree(decoder);
    return result;
}
