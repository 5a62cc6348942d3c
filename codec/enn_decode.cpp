#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/enn.h"
#include "codec/enn_internal.h"
#include "crypto/md5.h"

namespace {

// Reads the header and everything after it from the start of in, using buf,
// and compares the header with the MD5 of the rest as 32 exact bytes.
int CheckDigest(std::FILE* in, unsigned char* buf, int size) {
    char stored[ENN_HEADER_SIZE + 1] = {};
    char computed[ENN_HEADER_SIZE + 1] = {};
    MD5_CTX md5;
    MD5Init(&md5);
    // Whatever a short file does not supply stays zero and cannot match.
    int got = EnnRead(in, reinterpret_cast<unsigned char*>(stored), ENN_HEADER_SIZE);
    while (got >= 0) {
        got = EnnRead(in, buf, size);
        if (got <= 0) {
            break;
        }
        MD5Update(&md5, buf, static_cast<unsigned int>(got));
    }
    MD5FinalHex(&md5, computed);
    if (got < 0) {
        return ENN_ERR_GENERIC;
    }
    return std::strncmp(stored, computed, ENN_HEADER_SIZE) == 0 ? ENN_OK : ENN_ERR_DIGEST;
}

}  // namespace

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
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher)) {
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
    const bool ok =
        std::fseek(in, ENN_HEADER_SIZE, SEEK_SET) == 0 &&
        EnnRead(in, sealed, sizeof sealed) == static_cast<int>(sizeof sealed) &&
        EnnOpenChunk(&cipher.ctx, sealed, sizeof sealed, plain, sizeof plain, &n) == ENN_OK;
    std::fclose(in);
    if (!ok) {
        return ENN_ERR_GENERIC;
    }
    std::memcpy(password, plain, 6);
    password[6] = '\0';
    return ENN_OK;
}

int EnnVerifyFile(const char* path) {
    struct stat opened;
    std::FILE* in = EnnOpenInput(path, &opened);
    if (in == nullptr) {
        return ENN_ERR_OPEN_INPUT;
    }
    unsigned char buf[kEnnBatchChunks * ENN_CHUNK_CIPHER];
    const int result = CheckDigest(in, buf, sizeof buf);
    std::fclose(in);
    return result;
}

int EnnDecryptFile(const char* key, const char* in_path, const char* out_path) {
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher)) {
        return ENN_ERR_GENERIC;
    }
    struct stat opened;
    std::FILE* in = EnnOpenInput(in_path, &opened);
    if (in == nullptr) {
        return ENN_ERR_OPEN_INPUT;
    }

    unsigned char sealed[kEnnBatchChunks * ENN_CHUNK_CIPHER];
    unsigned char plain[kEnnBatchChunks * ENN_CHUNK_PLAIN];
    const int digest = CheckDigest(in, sealed, sizeof sealed);
    if (digest == ENN_ERR_DIGEST) {
        std::fputs("\n md5 error !", stdout);
        std::fflush(stdout);
    }
    if (digest != ENN_OK) {
        std::fclose(in);
        return digest;
    }

    // Creating the output would truncate the container before it is decoded.
    struct stat created;
    std::FILE* out =
        EnnIsSameFile(out_path, opened) ? nullptr : EnnCreateOutput(out_path, &created);
    if (out == nullptr) {
        std::fclose(in);
        return ENN_ERR_CREATE_OUTPUT;
    }
    // The data area is cut at fixed steps of ENN_CHUNK_CIPHER bytes, whatever
    // the length Blocks say; only the piece at the end may be shorter.
    bool ok = std::fseek(in, ENN_PAYLOAD_OFFSET, SEEK_SET) == 0;
    bool more = true;
    while (ok && more) {
        const int got = EnnRead(in, sealed, sizeof sealed);
        ok = got >= 0;
        more = got == static_cast<int>(sizeof sealed);
        int plainLen = 0;
        for (int at = 0; ok && at < got; at += ENN_CHUNK_CIPHER) {
            int n = 0;
            ok = EnnOpenChunk(&cipher.ctx, sealed + at, std::min<int>(ENN_CHUNK_CIPHER, got - at),
                              plain + plainLen, static_cast<int>(sizeof plain) - plainLen,
                              &n) == ENN_OK;
            plainLen += ok ? n : 0;
        }
        // What decoded before a bad chunk is still written, as it would be
        // chunk by chunk.
        ok = EnnWrite(out, plain, plainLen) && ok;
    }
    std::fclose(in);
    const bool closed = EnnCloseOutput(out);
    return ok && closed ? ENN_OK : ENN_ERR_GENERIC;
}
