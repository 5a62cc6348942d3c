#include "crypto/blowfish.h"

#include <cstring>

#include "crypto/blowfish_tables.inc"

uint32_t BlowfishF(const BLOWFISH_CTX* ctx, uint32_t x) {
    return ((ctx->S[0][x >> 24] + ctx->S[1][(x >> 16) & 0xFF]) ^ ctx->S[2][(x >> 8) & 0xFF]) +
           ctx->S[3][x & 0xFF];
}

namespace {

// Two rounds per pass, so the halves swap roles instead of being exchanged;
// unrolled so that both halves stay in registers.
inline void Encipher(const BLOWFISH_CTX* ctx, uint32_t& xl, uint32_t& xr) {
    uint32_t l = xl;
    uint32_t r = xr;
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        l ^= ctx->P[i];
        r ^= BlowfishF(ctx, l);
        r ^= ctx->P[i + 1];
        l ^= BlowfishF(ctx, r);
    }
    xl = r ^ ctx->P[17];
    xr = l ^ ctx->P[16];
}

inline void Decipher(const BLOWFISH_CTX* ctx, uint32_t& xl, uint32_t& xr) {
    uint32_t l = xl;
    uint32_t r = xr;
#pragma GCC unroll 8
    for (int i = 17; i > 1; i -= 2) {
        l ^= ctx->P[i];
        r ^= BlowfishF(ctx, l);
        r ^= ctx->P[i - 1];
        l ^= BlowfishF(ctx, r);
    }
    xl = r ^ ctx->P[0];
    xr = l ^ ctx->P[1];
}

}  // namespace

void BlowfishEncryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
    Encipher(ctx, *xl, *xr);
}

void BlowfishDecryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
    Decipher(ctx, *xl, *xr);
}

void BlowfishEncryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count) {
    for (; count > 0; --count, in += 8, out += 8) {
        uint32_t l = BlowfishLoadWord(in);
        uint32_t r = BlowfishLoadWord(in + 4);
        Encipher(ctx, l, r);
        BlowfishStoreWord(l, out);
        BlowfishStoreWord(r, out + 4);
    }
}

void BlowfishDecryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count) {
    for (; count > 0; --count, in += 8, out += 8) {
        uint32_t l = BlowfishLoadWord(in);
        uint32_t r = BlowfishLoadWord(in + 4);
        Decipher(ctx, l, r);
        BlowfishStoreWord(l, out);
        BlowfishStoreWord(r, out + 4);
    }
}

void BlowfishSetKey(BLOWFISH_CTX* ctx, const unsigned char* key, int keyLen) {
    std::memcpy(ctx->S, kBlowfishInitS, sizeof ctx->S);
    int j = 0;
    for (int i = 0; i < 18; ++i) {
        uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            word = word << 8 | key[j];
            if (++j == keyLen) {
                j = 0;
            }
        }
        ctx->P[i] = kBlowfishInitP[i] ^ word;
    }
    uint32_t l = 0;
    uint32_t r = 0;
    for (int i = 0; i < 18; i += 2) {
        BlowfishEncryptBlock(ctx, &l, &r);
        ctx->P[i] = l;
        ctx->P[i + 1] = r;
    }
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 256; i += 2) {
            BlowfishEncryptBlock(ctx, &l, &r);
            ctx->S[k][i] = l;
            ctx->S[k][i + 1] = r;
        }
    }
}
