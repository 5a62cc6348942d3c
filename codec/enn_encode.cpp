#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/enn.h"
#include "codec/enn_internal.h"
#include "crypto/md5.h"

namespace {

bool IsSixDigits(const char* password) {
    for (int i = 0; i < 6; ++i) {
        if (password[i] < '0' || password[i] > '9') {
            return false;
        }
    }
    return password[6] == '\0';
}

}  // namespace

int EnnKeyLength(const char* key) {
    const size_t len = std::strlen(key);
    return len < 4 || len > 56 ? -1 : static_cast<int>(len);
}

int EnnSealChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int n, unsigned char* out) {
    char length[9] = {};
    std::snprintf(length, sizeof length, "%08d", n);
    BlowfishEncryptBlocks(ctx, reinterpret_cast<const unsigned char*>(length), out, 1);
    const int whole = n / 8 * 8;
    BlowfishEncryptBlocks(ctx, data, out + 8, static_cast<size_t>(whole / 8));
    if (whole == n) {
        return 8 + whole;
    }
    unsigned char last[8] = {};
    std::memcpy(last, data + whole, static_cast<size_t>(n - whole));
    BlowfishEncryptBlocks(ctx, last, out + 8 + whole, 1);
    return 16 + whole;
}

bool EnnKeyCipher(const char* key, EnnCipher* cipher) {
    const int keyLen = EnnKeyLength(key);
    if (keyLen < 0) {
        return false;
    }
    BlowfishSetKey(&cipher->ctx, reinterpret_cast<const unsigned char*>(key), keyLen);
    return true;
}

int EnnEncryptChunk(const char* key, const unsigned char* data, int n, unsigned char* out,
                    int* out_len) {
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher) || n < 0 || n > 99999999) {
        return ENN_ERR_GENERIC;
    }
    *out_len = EnnSealChunk(&cipher.ctx, data, n, out);
    return ENN_OK;
}

int EnnEncryptFile(const char* password, const char* key, const char* in_path,
                   const char* out_path) {
    if (!IsSixDigits(password)) {
        return ENN_ERR_GENERIC;
    }
    char passwordText[9];
    std::snprintf(passwordText, sizeof passwordText, "%s**", password);
    // One key schedule serves every chunk of the file: the same bytes as keying
    // each chunk afresh, at half the cipher work.
    EnnCipher cipher;
    if (!EnnKeyCipher(key, &cipher)) {
        return ENN_ERR_GENERIC;
    }

    struct stat inStat;
    std::FILE* in = EnnOpenInput(in_path, &inStat);
    if (in == nullptr) {
        return ENN_ERR_OPEN_INPUT;
    }
    // Creating the output would truncate the input before it is read.
    struct stat outStat;
    std::FILE* out =
        EnnIsSameFile(out_path, inStat) ? nullptr : EnnCreateOutput(out_path, &outStat);
    if (out == nullptr) {
        std::fclose(in);
        return ENN_ERR_CREATE_OUTPUT;
    }

    MD5_CTX md5;
    MD5Init(&md5);

    char header[ENN_HEADER_SIZE + 1];
    std::memset(header, ' ', ENN_HEADER_SIZE);
    unsigned char plain[kEnnBatchChunks * ENN_CHUNK_PLAIN];
    unsigned char sealed[kEnnBatchChunks * ENN_CHUNK_CIPHER];
    int sealedLen =
        EnnSealChunk(&cipher.ctx, reinterpret_cast<const unsigned char*>(passwordText), 8, sealed);
    SecureWipe(passwordText, sizeof passwordText);
    bool ok = EnnWrite(out, header, ENN_HEADER_SIZE);
    bool more = true;
    while (ok) {
        ok = EnnWrite(out, sealed, sealedLen);
        MD5Update(&md5, sealed, static_cast<unsigned int>(sealedLen));
        if (!ok || !more) {
            break;
        }
        const int got = EnnRead(in, plain, sizeof plain);
        ok = got >= 0;
        // A short read is the end of the input, as for a single chunk.
        more = got == static_cast<int>(sizeof plain);
        sealedLen = 0;
        for (int at = 0; at < got; at += ENN_CHUNK_PLAIN) {
            sealedLen += EnnSealChunk(&cipher.ctx, plain + at,
                                      std::min<int>(ENN_CHUNK_PLAIN, got - at), sealed + sealedLen);
        }
    }
    MD5FinalHex(&md5, header);
    ok = ok && std::fseek(out, 0, SEEK_SET) == 0 && EnnWrite(out, header, ENN_HEADER_SIZE);
    std::fclose(in);
    if (!EnnCloseOutput(out) || !ok) {
        EnnRemoveCreated(out_path, outStat);
        return ENN_ERR_GENERIC;
    }
    return ENN_OK;
}
