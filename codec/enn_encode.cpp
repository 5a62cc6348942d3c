#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_internal.h"

int EnnIsPassword(const char* text) {
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

int EnnKeyLength(const char* key) {
    const size_t len = std::strlen(key);
    return len < 4 || len > 56 ? -1 : static_cast<int>(len);
}

int EnnOpenSource(const char* key, const char* in_path, EnnCipher* cipher, EnnReader* reader,
                  int* fault) {
    if (!EnnKeyCipher(key, cipher)) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT, ENN_ERR_GENERIC);
    }
    int why = ENN_FAULT_NONE;
    if (!EnnOpenReader(in_path, reader, &why)) {
        return EnnFail(fault, why, ENN_ERR_OPEN_INPUT);
    }
    return ENN_OK;
}

int EnnTargetFault(const char* path, const EnnFileId& source, bool keepExisting) {
    switch (EnnLookAtTarget(path, &source)) {
        case ENN_TARGET_SAME_FILE:
            return ENN_FAULT_SAME_FILE;
        case ENN_TARGET_FOLDER:
            return ENN_FAULT_OUTPUT_FOLDER;
        case ENN_TARGET_OTHER:
            return ENN_FAULT_NOT_REGULAR;
        case ENN_TARGET_NO_FOLDER:
            return ENN_FAULT_NO_FOLDER;
        case ENN_TARGET_NAME_TOO_LONG:
            return ENN_FAULT_NAME_TOO_LONG;
        case ENN_TARGET_READ_ONLY:
            return keepExisting ? ENN_FAULT_EXISTS : ENN_FAULT_READ_ONLY;
        case ENN_TARGET_FILE:
            return keepExisting ? ENN_FAULT_EXISTS : ENN_FAULT_NONE;
        default:
            return ENN_FAULT_NONE;  // creating the file aside tells what is wrong
    }
}

int EnnPlacedResult(int fault) {
    switch (fault) {
        case ENN_FAULT_NONE:
            return ENN_OK;
        case ENN_FAULT_WRITE:
        case ENN_FAULT_DISK_FULL:
            return ENN_ERR_GENERIC;
        default:
            return ENN_ERR_CREATE_OUTPUT;
    }
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
    return EnnEncryptFileEx(password, key, in_path, out_path, nullptr);
}

int EnnEncryptFileEx(const char* password, const char* key, const char* in_path,
                     const char* out_path, int* fault) {
    return EnnEncryptStream(password, key, in_path, out_path, nullptr, nullptr, nullptr, nullptr,
                            fault);
}
