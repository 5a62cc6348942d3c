#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_internal.h"

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
    if (!EnnKeyCipher(key, &cipher) || data_len < 8) {
        return ENN_ERR_GENERIC;
    }
    int n = 0;
    const int result = EnnOpenChunk(&cipher.ctx, data, data_len, out, data_len - 8, &n);
    if (result == ENN_OK) {
        *out_len = n;
    }
    return result;
}

int EnnReadPassword(const char* key, const char* path, char* password) {
    return EnnReadPasswordEx(key, path, password, nullptr);
}

int EnnReadPasswordEx(const char* key, const char* path, char* password, int* fault) {
    return EnnReadPasswordStream(key, path, nullptr, nullptr, password, fault);
}

int EnnVerifyFile(const char* key, const char* path) {
    return EnnDecryptFileEx(key, path, nullptr, ENN_KEEP_EXISTING, nullptr);
}

int EnnDecryptFile(const char* key, const char* in_path, const char* out_path) {
    return EnnDecryptFileEx(key, in_path, out_path, ENN_REPLACE_EXISTING, nullptr);
}

int EnnDecryptFileEx(const char* key, const char* in_path, const char* out_path, int placing,
                     int* fault) {
    const int result = EnnDecryptStream(key, in_path, out_path, placing, nullptr, nullptr, nullptr,
                                        nullptr, fault);
    if (result == ENN_ERR_DIGEST && out_path != nullptr && (placing & ENN_NO_DIAGNOSTIC) == 0) {
        std::fputs("\n md5 error !", stdout);
        std::fflush(stdout);
    }
    return result;
}
