#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/enn.h"
#include "codec/enn_internal.h"
#include "crypto/md5.h"
#include "crypto/wipe.h"

namespace {

inline void OpenBlock(const BLOWFISH_CTX* ctx, const unsigned char* in, unsigned char* out) {
    uint32_t l = BlowfishLoadWord(in);
    uint32_t r = BlowfishLoadWord(in + 4);
    BlowfishDecryptBlock(ctx, &l, &r);
    BlowfishStoreWord(l, out);
    BlowfishStoreWord(r, out + 4);
}

bool KeyContext(const char* key, BLOWFISH_CTX* ctx) {
    const int keyLen = EnnKeyLength(key);
    if (keyLen < 0) {
        return false;
    }
    BlowfishSetKey(ctx, reinterpret_cast<const unsigned char*>(key), keyLen);
    return true;
}

}  // namespace

int EnnOpenChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int data_len,
                 unsigned char* out, int out_cap, int* n) {
    if (data_len < 8) {
        return ENN_ERR_GENERIC;
    }
    char length[9] = {};
    OpenBlock(ctx, data, reinterpret_cast<unsigned char*>(length));
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
    for (int i = 0; i < blocks; ++i) {
        OpenBlock(ctx, data + 8 + 8 * i, out + 8 * i);
    }
    return ENN_OK;
}

int EnnDecryptChunk(const char* key, const unsigned char* data, int data_len, unsigned char* out,
                    int* out_len) {
    BLOWFISH_CTX ctx;
    if (!KeyContext(key, &ctx) || data_len < 8) {
        return ENN_ERR_GENERIC;
    }
    int n = 0;
    const int result = EnnOpenChunk(&ctx, data, data_len, out, data_len - 8, &n);
    if (result == ENN_OK) {
        *out_len = n;
    }
    return result;
}

int EnnReadPassword(const char* key, const char* path, char* password) {
    BLOWFISH_CTX ctx;
    if (!KeyContext(key, &ctx)) {
        return ENN_ERR_GENERIC;
    }
    struct stat opened;
    std::FILE* in = EnnOpenInput(path, &opened);
    if (in == nullptr) {
        return ENN_ERR_OPEN_INPUT;
    }
    unsigned char sealed[16];
    unsigned char plain[8] = {};  // a length Block reading 0 leaves six zero bytes
    int n = 0;
    const bool ok = std::fseek(in, ENN_HEADER_SIZE, SEEK_SET) == 0 &&
                    EnnRead(in, sealed, sizeof sealed) == static_cast<int>(sizeof sealed) &&
                    EnnOpenChunk(&ctx, sealed, sizeof sealed, plain, sizeof plain, &n) == ENN_OK;
    std::fclose(in);
    SecureWipe(&ctx, sizeof ctx);
    if (!ok) {
        return ENN_ERR_GENERIC;
    }
    std::memcpy(password, plain, 6);
    password[6] = '\0';
    return ENN_OK;
}

int EnnDecryptFile(const char* key, const char* in_path, const char* out_path) {
    BLOWFISH_CTX ctx;
    if (!KeyContext(key, &ctx)) {
        return ENN_ERR_GENERIC;
    }
    struct stat opened;
    std::FILE* in = EnnOpenInput(in_path, &opened);
    if (in == nullptr) {
        return ENN_ERR_OPEN_INPUT;
    }

    char stored[ENN_HEADER_SIZE + 1] = {};
    char computed[ENN_HEADER_SIZE + 1] = {};
    unsigned char sealed[4096];
    unsigned char plain[4096];
    MD5_CTX md5;
    MD5Init(&md5);
    int got = EnnRead(in, reinterpret_cast<unsigned char*>(stored), ENN_HEADER_SIZE);
    while (got >= 0) {
        got = EnnRead(in, sealed, ENN_CHUNK_CIPHER);
        if (got <= 0) {
            break;
        }
        MD5Update(&md5, sealed, static_cast<unsigned int>(got));
    }
    MD5FinalHex(&md5, computed);
    if (got < 0) {
        std::fclose(in);
        return ENN_ERR_GENERIC;
    }
    if (std::strncmp(stored, computed, ENN_HEADER_SIZE) != 0) {
        std::fputs("\n md5 error !", stdout);
        std::fflush(stdout);
        std::fclose(in);
        return ENN_ERR_DIGEST;
    }

    // Creating the output would truncate the container before it is decoded.
    struct stat created;
    std::FILE* out =
        EnnIsSameFile(out_path, opened) ? nullptr : EnnCreateOutput(out_path, &created);
    if (out == nullptr) {
        std::fclose(in);
        return ENN_ERR_CREATE_OUTPUT;
    }
    bool ok = std::fseek(in, ENN_PAYLOAD_OFFSET, SEEK_SET) == 0;
    while (ok) {
        got = EnnRead(in, sealed, ENN_CHUNK_CIPHER);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        int n = 0;
        ok = EnnOpenChunk(&ctx, sealed, got, plain, sizeof plain, &n) == ENN_OK &&
             EnnWrite(out, plain, n);
        if (got < ENN_CHUNK_CIPHER) {
            break;
        }
    }
    SecureWipe(&ctx, sizeof ctx);
    std::fclose(in);
    const bool closed = EnnCloseOutput(out);
    return ok && closed ? ENN_OK : ENN_ERR_GENERIC;
}
