// The codec's chunk level: the password rule, the key, one chunk sealed or
// opened. Everything above it (the streaming cores, the operations over
// files and streams) builds on these.
#include "codec/enn_chunk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/enn.h"

int EnnIsPassword(const char* text) {
    if (text == nullptr) {
        return false;
    }
    for (int i = 0; i < ENN_PASSWORD_LENGTH; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return text[ENN_PASSWORD_LENGTH] == '\0';
}

int EnnIsContainerSize(long long size) {
    if (size == ENN_HEADER_SIZE) {
        return 1;  // the header alone: a container of nothing
    }
    if (size < ENN_PAYLOAD_OFFSET) {
        return false;
    }
    const long long last = (size - ENN_PAYLOAD_OFFSET) % ENN_CHUNK_CIPHER;
    return last == 0 || (last >= 2 * ENN_BLOCK_SIZE && last % ENN_BLOCK_SIZE == 0);
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// The registers each instruction set has, every one listed as clobbered so
// that the compiler keeps the callee-saved ones of the ABI (xmm6 to xmm15 on
// Windows) as the caller had them.
#define ENN_XMM0_15                                                                          \
    "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", \
        "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"

__attribute__((target("avx512f"))) void WipeAvx512() {
    asm volatile(
        "vzeroall\n\t"
        "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
        "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
        "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
        "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
        "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
        "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
        "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
        "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31"
        :
        :
        : ENN_XMM0_15, "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23",
          "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

__attribute__((target("avx"))) void WipeAvx() {
    asm volatile("vzeroall" : : : ENN_XMM0_15);
}

void WipeSse() {
    asm volatile(
        "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\t"
        "pxor %%xmm3, %%xmm3\n\tpxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\t"
        "pxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\tpxor %%xmm8, %%xmm8\n\t"
        "pxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
        "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\t"
        "pxor %%xmm15, %%xmm15"
        :
        :
        : ENN_XMM0_15);
}

#undef ENN_XMM0_15

}  // namespace

void EnnWipeRegisters() {
    if (__builtin_cpu_supports("avx512f")) {
        WipeAvx512();
    } else if (__builtin_cpu_supports("avx")) {
        WipeAvx();
    } else {
        WipeSse();
    }
}
#else
void EnnWipeRegisters() {}
#endif

int EnnKeyLength(const char* key) {
    if (key == nullptr) {
        return -1;
    }
    // A key is read no further than its longest and a NUL: a buffer without
    // one is refused, not read past its end.
    int len = 0;
    while (len <= 56 && key[len] != '\0') {
        ++len;
    }
    return len < 4 || len > 56 ? -1 : len;
}

bool EnnIsDigestText(const unsigned char* text) {
    for (int i = 0; i < ENN_HEADER_SIZE; ++i) {
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f'))) {
            return false;
        }
    }
    return true;
}

int EnnStrictLength(const unsigned char* text) {
    int n = 0;
    for (int i = 0; i < ENN_BLOCK_SIZE; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

bool EnnKeyCipher(const char* key, EnnCipher* cipher) {
    if (key != nullptr && key == EnnBuiltIn()) {
        char builtIn[ENN_KEY_SIZE];
        EnnBuiltInKey(builtIn);
        const bool keyed = EnnKeyCipher(builtIn, cipher);
        SecureWipe(builtIn, sizeof builtIn);
        return keyed;
    }
    const int keyLen = EnnKeyLength(key);
    if (keyLen < 0) {
        return false;
    }
    BlowfishSetKey(&cipher->ctx, reinterpret_cast<const unsigned char*>(key), keyLen);
    return true;
}

int EnnSealChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int n, unsigned char* out) {
    char length[9] = {};
    std::snprintf(length, sizeof length, ENN_LENGTH_FORMAT, n);
    BlowfishEncryptBlocks(ctx, reinterpret_cast<const unsigned char*>(length), out, 1);
    const int whole = n / 8 * 8;
    BlowfishEncryptBlocks(ctx, data, out + 8, static_cast<size_t>(whole / 8));
    if (whole == n) {
        return 8 + whole;
    }
    unsigned char last[8] = {};
    std::memcpy(last, data + whole, static_cast<size_t>(n - whole));
    BlowfishEncryptBlocks(ctx, last, out + 8 + whole, 1);
    SecureWipe(last, sizeof last);
    EnnWipeRegisters();
    return 16 + whole;
}

int EnnEncryptChunk(const char* key, const unsigned char* data, int n, unsigned char* out,
                    int* out_len) {
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher) || n < 0 || n > 99999999 || out == nullptr ||
        out_len == nullptr || (data == nullptr && n > 0)) {
        return ENN_ERR_GENERIC;
    }
    *out_len = EnnSealChunk(&cipher.ctx, data, n, out);
    return ENN_OK;
}

int EnnOpenChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int data_len,
                 unsigned char* out, int out_cap, int* n) {
    if (data_len < 8) {
        return ENN_ERR_GENERIC;
    }
    char length[9] = {};
    BlowfishDecryptBlocks(ctx, data, reinterpret_cast<unsigned char*>(length), 1);
    // Eight characters cannot overflow an int, whatever they hold.
    const int plain = std::atoi(length);
    *n = plain;
    if (plain < 0) {
        return ENN_ERR_GENERIC;
    }
    const int blocks = plain / 8 + (plain % 8 != 0);
    if (blocks > (data_len - 8) / 8 || blocks > out_cap / 8) {
        return ENN_ERR_GENERIC;
    }
    BlowfishDecryptBlocks(ctx, data + 8, out, static_cast<size_t>(blocks));
    return ENN_OK;
}

bool EnnOpenPasswordChunk(const BLOWFISH_CTX* ctx, const unsigned char* sealed, char* password) {
    unsigned char plain[2 * ENN_BLOCK_SIZE];
    BlowfishDecryptBlocks(ctx, sealed, plain, 2);
    char text[ENN_PASSWORD_LENGTH + 1];
    std::memcpy(text, plain + ENN_BLOCK_SIZE, ENN_PASSWORD_LENGTH);
    text[ENN_PASSWORD_LENGTH] = '\0';
    const bool ok =
        EnnStrictLength(plain) == 8 && EnnIsPassword(text) &&
        std::memcmp(plain + ENN_BLOCK_SIZE + ENN_PASSWORD_LENGTH, ENN_PASSWORD_FILLER, 2) == 0;
    if (ok) {
        std::memcpy(password, text, sizeof text);
    }
    SecureWipe(plain, sizeof plain);
    SecureWipe(text, sizeof text);
    return ok;
}

int EnnDecryptChunk(const char* key, const unsigned char* data, int data_len, unsigned char* out,
                    int* out_len) {
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher) || data == nullptr || data_len < 8 || out == nullptr ||
        out_len == nullptr) {
        return ENN_ERR_GENERIC;
    }
    int n = 0;
    const int result = EnnOpenChunk(&cipher.ctx, data, data_len, out, data_len - 8, &n);
    if (result == ENN_OK) {
        *out_len = n;
    }
    return result;
}
