// Blowfish, the 64-bit block cipher with 16 rounds and key-dependent S-boxes,
// with its standard initial tables. The caller owns the keyed state.
#ifndef VELTRANE_CRYPTO_BLOWFISH_H
#define VELTRANE_CRYPTO_BLOWFISH_H

#include <cstddef>
#include <cstdint>

struct BLOWFISH_CTX {
    uint32_t P[18];
    uint32_t S[4][256];
};

// The standard initial P-array and S-boxes: the first 1042 words of the
// fractional part of pi in hexadecimal.
extern const uint32_t kBlowfishInitP[18];
extern const uint32_t kBlowfishInitS[4][256];

// Keys ctx with keyLen (at least 1) unsigned key bytes; every field of ctx is
// overwritten. Of a key longer than 72 bytes only the first 72 count.
void BlowfishSetKey(BLOWFISH_CTX* ctx, const unsigned char* key, int keyLen);

// Replaces the Block halves (xl, xr) by their encryption, or decryption, under ctx.
void BlowfishEncryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr);
void BlowfishDecryptBlock(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr);

// Encrypts, or decrypts, the count Blocks at in into out (which may be in),
// each on its own, in the Block byte order below.
void BlowfishEncryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count);
void BlowfishDecryptBlocks(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out,
                           std::size_t count);

// The round function: ((S0[a] + S1[b]) ^ S2[c]) + S3[d] over the bytes a..d of x.
uint32_t BlowfishF(const BLOWFISH_CTX* ctx, uint32_t x);

// A Block's 8 bytes as two words, most significant byte first, and back.
inline uint32_t BlowfishLoadWord(const unsigned char* b) {
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}
inline void BlowfishStoreWord(uint32_t w, unsigned char* b) {
    b[0] = static_cast<unsigned char>(w >> 24);
    b[1] = static_cast<unsigned char>(w >> 16);
    b[2] = static_cast<unsigned char>(w >> 8);
    b[3] = static_cast<unsigned char>(w);
}

#endif
