// Fuzzes the container decoder behind EnnDecryptFile and EnnVerifyFile, in
// memory. Each input is decoded as it is (mostly a digest failure for a
// mutated container) and, if its header does not match, again with the header
// renewed, as a forger would, so that the chunk checks themselves meet the
// damage; under both keys, fed in pieces of a size the input chooses. The
// oracle: a header is refused exactly when it differs from the digest of the
// rest, and a container is accepted only when encoding what it decodes to,
// with the password it carries, gives back the very same bytes. Seeded with
// real containers, the search also meets every way of being one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_core.h"
#include "codec/enn_fault.h"
#include "fuzz_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;

const FuzzKeys keys;

// The container the encoder's core writes for plain, fed in one piece.
Bytes Encode(const BLOWFISH_CTX* ctx, const char* password, const Bytes& plain) {
    EnnEncoding e;
    Bytes container(ENN_PAYLOAD_OFFSET + (plain.size() / ENN_CHUNK_PLAIN + 2) * ENN_CHUNK_CIPHER);
    EnnEncodeStart(&e, ctx, password, container.data());
    size_t at = ENN_PAYLOAD_OFFSET;
    at += static_cast<size_t>(
        EnnEncodeFeed(&e, plain.data(), static_cast<int>(plain.size()), &container[at]));
    char header[ENN_HEADER_SIZE + 1];
    at += static_cast<size_t>(EnnEncodeFinish(&e, &container[at], header));
    std::memcpy(container.data(), header, ENN_HEADER_SIZE);
    container.resize(at);
    return container;
}

int Decode(const BLOWFISH_CTX* ctx, const uint8_t* data, size_t size, size_t step) {
    EnnDecoding d;
    EnnDecodeStart(&d, ctx);
    Bytes plain;
    Bytes buf((step / ENN_CHUNK_CIPHER + 1) * ENN_CHUNK_PLAIN);
    for (size_t at = 0; at < size; at += step) {
        const int piece = static_cast<int>(std::min(step, size - at));
        const int got = EnnDecodeFeed(&d, data + at, piece, buf.data());
        plain.insert(plain.end(), buf.begin(), buf.begin() + got);
    }
    int last = 0;
    Bytes tail(ENN_CHUNK_PLAIN);
    const int fault = EnnDecodeFinish(&d, tail.data(), &last);
    const int result = EnnResultOf(fault);
    plain.insert(plain.end(), tail.begin(), tail.begin() + last);

    if (result == ENN_OK && size == ENN_HEADER_SIZE) {
        if (!plain.empty()) {
            std::abort();  // the header alone holds nothing
        }
    } else if (result == ENN_OK) {
        char password[7];
        if (!EnnOpenPasswordChunk(ctx, data + ENN_HEADER_SIZE, password) ||
            Encode(ctx, password, plain) != Bytes(data, data + size)) {
            std::abort();  // accepted what no encoder writes
        }
    } else if (result != ENN_ERR_DIGEST && (result != ENN_ERR_GENERIC || fault == ENN_FAULT_NONE)) {
        std::abort();
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    const size_t step = size == 0 ? 1 : 1 + data[size - 1] * 131u % 70000u;
    if (size < ENN_HEADER_SIZE) {
        if (Decode(keys[0], data, size, step) != ENN_ERR_DIGEST) {
            std::abort();
        }
        return 0;
    }
    MD5_CTX md5;
    MD5Init(&md5);
    MD5Update(&md5, data + ENN_HEADER_SIZE, static_cast<unsigned int>(size - ENN_HEADER_SIZE));
    char header[ENN_HEADER_SIZE + 1];
    MD5FinalHex(&md5, header);
    const bool intact = std::memcmp(header, data, ENN_HEADER_SIZE) == 0;
    if ((Decode(keys[0], data, size, step) == ENN_ERR_DIGEST) == intact) {
        std::abort();  // the header test must be exact
    }
    Bytes renewed(data, data + size);
    std::memcpy(renewed.data(), header, ENN_HEADER_SIZE);
    for (int key = 0; key < 2; ++key) {
        if (Decode(keys[key], renewed.data(), size, step) == ENN_ERR_DIGEST) {
            std::abort();
        }
    }
    return 0;
}
