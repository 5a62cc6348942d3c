// Fuzzes EnnDecryptChunk. Input: a selector byte, then the chunk bytes.
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
#include "crypto/blowfish.h"
#include "fuzz_keys.h"

namespace {

const FuzzKeys keys;

void SealLength(const char* key, unsigned char* block) {
    BLOWFISH_CTX ctx;
    BlowfishSetKey(&ctx, reinterpret_cast<const unsigned char*>(key),
                   static_cast<int>(std::strlen(key)));
    uint32_t l = BlowfishLoadWord(block);
    uint32_t r = BlowfishLoadWord(block + 4);
    BlowfishEncryptBlock(&ctx, &l, &r);
    BlowfishStoreWord(l, block);
    BlowfishStoreWord(r, block + 4);
}

void RoundTrip(const char* key, const unsigned char* plain, int n) {
    std::unique_ptr<unsigned char[]> sealed(new unsigned char[8 + 8 * ((n + 7) / 8)]);
    int sealedLen = 0;
    if (EnnEncryptChunk(key, plain, n, sealed.get(), &sealedLen) != ENN_OK ||
        sealedLen != 8 + 8 * ((n + 7) / 8)) {
        std::abort();
    }
    std::unique_ptr<unsigned char[]> back(new unsigned char[sealedLen - 8]);
    int backLen = -1;
    if (EnnDecryptChunk(key, sealed.get(), sealedLen, back.get(), &backLen) != ENN_OK ||
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
    const char* key = keys[selector & 1];
    const int dataLen = static_cast<int>(size - 1);
    std::unique_ptr<unsigned char[]> data(new unsigned char[dataLen]);
    std::memcpy(data.get(), input + 1, static_cast<size_t>(dataLen));
    if ((selector & 2) != 0 && dataLen >= 8) {
        SealLength(key, data.get());
    }

    const int outCap = dataLen >= 8 ? dataLen - 8 : 0;
    std::unique_ptr<unsigned char[]> out(new unsigned char[outCap]);
    int n = -12345;
    const int result = EnnDecryptChunk(key, data.get(), dataLen, out.get(), &n);
    if (result == ENN_OK && (n < 0 || 8 * ((static_cast<long long>(n) + 7) / 8) > outCap)) {
        std::abort();  // a length that does not fit was accepted
    }
    if (result != ENN_OK && result != ENN_ERR_GENERIC) {
        std::abort();
    }
    if (result != ENN_OK && n != -12345) {
        std::abort();  // out_len is written only on success
    }

    RoundTrip(key, input + 1, dataLen);
    return 0;
}
