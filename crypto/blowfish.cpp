#include "crypto/blowfish.h"

#include <cstring>

#include "crypto/blowfish_tables.inc"

namespace {

// The round function, where the rounds can have it inline: in a shared
// library a call to BlowfishF itself may be taken over by another library,
// so the compiler keeps it a call.
inline uint32_t F(const BLOWFISH_CTX* ctx, uint32_t x) {
    return ((ctx->S[0][x >> 24] + ctx->S[1][(x >> 16) & 0xFF]) ^ ctx->S[2][(x >> 8) & 0xFF]) +
           ctx->S[3][x & 0xFF];
}

}  // namespace

uint32_t BlowfishF(const BLOWFISH_CTX* ctx, uint32_t x) {
    return F(ctx, x);
}

namespace {

// Runs N independent Blocks through the 16 rounds side by side. Each round's
// table reads wait on the round before; interleaving Blocks gives the
// processor other work meanwhile. Two rounds per pass, so the halves swap
// roles instead of being exchanged.
template <int N, bool Decrypt>
inline void Cipher(const BLOWFISH_CTX* ctx, uint32_t* l, uint32_t* r) {
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        const uint32_t p0 = ctx->P[Decrypt ? 17 - i : i];
        const uint32_t p1 = ctx->P[Decrypt ? 16 - i : i + 1];
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k) {
            l[k] ^= p0;
            r[k] ^= F(ctx, l[k]);
        }
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k) {
            r[k] ^= p1;
            l[k] ^= F(ctx, r[k]);
        }
    }
    const uint32_t toLeft = ctx->P[Decrypt ? 0 : 17];
    const uint32_t toRight = ctx->P[Decrypt ? 1 : 16];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        const uint32_t left = r[k] ^ toLeft;
        r[k] = l[k] ^ toRight;
        l[k] = left;
    }
}

template <int N, bool Decrypt>
inline void CipherBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out) {
    uint32_t l[N];
    uint32_t r[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        l[k] = BlowfishLoadWord(in + 8 * k);
        r[k] = BlowfishLoadWord(in + 8 * k + 4);
    }
    Cipher<N, Decrypt>(ctx, l, r);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        BlowfishStoreWord(l[k], out + 8 * k);
        BlowfishStoreWord(r[k], out + 8 * k + 4);
    }
}

template <bool Decrypt>
void CipherRun(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
               std::size_t count) {
    constexpr int kLanes = 4;
    for (; count >= kLanes; count -= kLanes, in += 8 * kLanes, out += 8 * kLanes) {
        CipherBlocks<kLanes, Decrypt>(ctx, in, out);
    }
    for (; count > 0; --count, in += 8, out += 8) {
        CipherBlocks<1, Decrypt>(ctx, in, out);
    }
}

}  // namespace

void BlowfishEncryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
    Cipher<1, false>(ctx, xl, xr);
}

void BlowfishDecryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
    Cipher<1, true>(ctx, xl, xr);
}

void BlowfishEncryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count) {
    CipherRun<false>(ctx, in, out, count);
}

void BlowfishDecryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count) {
    CipherRun<true>(ctx, in, out, count);
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
