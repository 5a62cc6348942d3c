// Fuzzes the chunk decoder behind EnnDecryptChunk. Input: a selector byte,
// then the chunk bytes.
//   bit 0  the key: built-in or short
//   bit 1  take the first 8 chunk bytes as the plain length text and encrypt
//          them first, so that every length a length Block can announce is
//          reached, not only what random bytes happen to decrypt to
// The chunk and the output buffer are heap blocks of exactly the promised
// sizes (data_len, and data_len - 8 for out), so a read or write past either
// is an ASan report. Every chunk that decodes must announce a length that fits
// its data, and encrypting the chunk bytes as plaintext must decode back to them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_chunk.h"
#include "fuzz_keys.h"

namespace {

const FuzzKeys keys;

void RoundTrip(const BLOWFISH_CTX* ctx, const unsigned char* plain, int n) {
    const int sealedSize = 8 + 8 * ((n + 7) / 8);
    std::unique_ptr<unsigned char[]> sealed(new unsigned char[sealedSize]);
    if (EnnSealChunk(ctx, plain, n, sealed.get()) != sealedSize) {
        std::abort();
    }
    std::unique_ptr<unsigned char[]> back(new unsigned char[sealedSize - 8]);
    int backLen = -1;
    if (EnnOpenChunk(ctx, sealed.get(), sealedSize, back.get(), sealedSize - 8, &backLen) !=
            ENN_OK ||
        backLen != n || std::memcmp(back.get(), plain, static_cast<size_t>(n)) != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1 || size > 1 << 16) {
        return 0;
    }
    const uint8_t selector = input[0];
    const BLOWFISH_CTX* ctx = keys[selector & 1];
    const int dataLen = static_cast<int>(size - 1);
    std::unique_ptr<unsigned char[]> data(new unsigned char[dataLen]);
    std::memcpy(data.get(), input + 1, static_cast<size_t>(dataLen));
    if ((selector & 2) != 0 && dataLen >= 8) {
        BlowfishEncryptBlocks(ctx, data.get(), data.get(), 1);
    }

    const int outCap = dataLen >= 8 ? dataLen - 8 : 0;
    std::unique_ptr<unsigned char[]> out(new unsigned char[outCap]);
    int n = -12345;
    const int result = EnnOpenChunk(ctx, data.get(), dataLen, out.get(), outCap, &n);
    if (result == ENN_OK && (n < 0 || 8 * ((static_cast<long long>(n) + 7) / 8) > outCap)) {
        std::abort();  // a length that does not fit was accepted
    }
    if (result != ENN_OK && result != ENN_ERR_GENERIC) {
        std::abort();
    }
    if (dataLen < 8 && n != -12345) {
        std::abort();  // nothing is decoded without a whole length Block
    }

    RoundTrip(ctx, input + 1, dataLen);
    return 0;
}
