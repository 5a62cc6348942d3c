// MD5 message digest (RFC 1321), in the shape of the RFC's reference routines,
// plus MD5FinalHex, which renders the digest as 32 lowercase hex characters.
#ifndef VELTRANE_CRYPTO_MD5_H
#define VELTRANE_CRYPTO_MD5_H

#include <cstdint>

struct MD5_CTX {
    uint32_t state[4];         // chaining values A, B, C, D
    uint32_t count[2];         // message length in bits mod 2^64, low word first
    unsigned char buffer[64];  // bytes waiting for a whole block
};

// Starts a message. buffer is left as it is.
void MD5Init(MD5_CTX* ctx);

// Takes inputLen more message bytes (0 allowed). Whole blocks are read straight
// from input, which is never changed.
void MD5Update(MD5_CTX* ctx, const unsigned char* input, unsigned int inputLen);

// Writes the 16-byte digest and clears every byte of ctx.
void MD5Final(unsigned char digest[16], MD5_CTX* ctx);

// Finishes like MD5Final and writes the digest as 32 lowercase hexadecimal
// characters and a NUL into out (33 bytes). With out null it allocates the 33
// bytes with malloc (the caller frees them); if that fails it returns null and
// leaves ctx running. Returns the text written.
char* MD5FinalHex(MD5_CTX* ctx, char* out);

#endif
