#include "crypto/md5.h"

#include <cstdlib>
#include <cstring>

namespace {

const unsigned char MD5_PADDING[64] = {0x80};
const char kHexDigits[] = "0123456789abcdef";

// Per-step rotation amounts, four to a round.
const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(2^32 * |sin(i + 1)|), as tabulated in RFC 1321.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline uint32_t RotateLeft(uint32_t x, int n) {
    return x << n | x >> (32 - n);
}

void MD5Encode(unsigned char* output, const uint32_t* input, unsigned int len) {
    for (unsigned int i = 0, j = 0; j < len; ++i, j += 4) {
        output[j] = static_cast<unsigned char>(input[i]);
        output[j + 1] = static_cast<unsigned char>(input[i] >> 8);
        output[j + 2] = static_cast<unsigned char>(input[i] >> 16);
        output[j + 3] = static_cast<unsigned char>(input[i] >> 24);
    }
}

void MD5Decode(uint32_t* output, const unsigned char* input, unsigned int len) {
    for (unsigned int i = 0, j = 0; j < len; ++i, j += 4) {
        output[i] = uint32_t{input[j]} | uint32_t{input[j + 1]} << 8 |
                    uint32_t{input[j + 2]} << 16 | uint32_t{input[j + 3]} << 24;
    }
}

void MD5Transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t x[16];
    MD5Decode(x, block, 64);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                g = 5 * i + 1;
                break;
            case 2:
                f = b ^ c ^ d;
                g = 3 * i + 5;
                break;
            default:
                f = c ^ (b | ~d);
                g = 7 * i;
                break;
        }
        const uint32_t next = b + RotateLeft(a + f + x[g % 16] + kSine[i], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void MD5Init(MD5_CTX* ctx) {
    ctx->count[0] = ctx->count[1] = 0;
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX* ctx, const unsigned char* input, unsigned int inputLen) {
    unsigned int index = (ctx->count[0] >> 3) & 0x3F;
    const uint32_t bits = static_cast<uint32_t>(inputLen) << 3;
    if ((ctx->count[0] += bits) < bits) {
        ctx->count[1]++;
    }
    ctx->count[1] += inputLen >> 29;

    const unsigned int partLen = 64 - index;
    unsigned int i = 0;
    if (inputLen >= partLen) {
        std::memcpy(&ctx->buffer[index], input, partLen);
        MD5Transform(ctx->state, ctx->buffer);
        for (i = partLen; i + 63 < inputLen; i += 64) {
            MD5Transform(ctx->state, &input[i]);
        }
        index = 0;
    }
    if (inputLen > i) {
        std::memcpy(&ctx->buffer[index], &input[i], inputLen - i);
    }
}

void MD5Final(unsigned char digest[16], MD5_CTX* ctx) {
    unsigned char bits[8];
    MD5Encode(bits, ctx->count, 8);
    const unsigned int index = (ctx->count[0] >> 3) & 0x3F;
    const unsigned int padLen = index < 56 ? 56 - index : 120 - index;
    MD5Update(ctx, MD5_PADDING, padLen);
    MD5Update(ctx, bits, 8);
    MD5Encode(digest, ctx->state, 16);
    std::memset(ctx, 0, sizeof *ctx);
}

char* MD5FinalHex(MD5_CTX* ctx, char* out) {
    if (out == nullptr) {
        out = static_cast<char*>(std::malloc(33));
        if (out == nullptr) {
            return nullptr;
        }
    }
    unsigned char digest[16];
    MD5Final(digest, ctx);
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kHexDigits[digest[i] >> 4];
        out[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
    }
    out[32] = '\0';
    return out;
}
