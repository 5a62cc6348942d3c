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
    EnnCipher cipher;
    EnnReaderGuard in;
    if (const int opened = EnnOpenSource(key, path, &cipher, &in.reader, fault)) {
        return opened;
    }
    unsigned char prefix[ENN_PAYLOAD_OFFSET];
    const int got = EnnReadFull(&in.reader, prefix, sizeof prefix);
    if (got < 0) {
        return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
    }
    if (got < static_cast<int>(sizeof prefix)) {
        return EnnFail(fault, ENN_FAULT_LAYOUT, ENN_ERR_GENERIC);
    }
    if (!EnnOpenPasswordChunk(&cipher.ctx, prefix + ENN_HEADER_SIZE, password)) {
        return EnnFail(fault, ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC);
    }
    return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
}

int EnnVerifyFile(const char* key, const char* path) {
    return EnnDecryptFileEx(key, path, nullptr, ENN_KEEP_EXISTING, nullptr);
}

int EnnDecryptFile(const char* key, const char* in_path, const char* out_path) {
    return EnnDecryptFileEx(key, in_path, out_path, ENN_REPLACE_EXISTING, nullptr);
}

int EnnDecryptFileEx(const char* key, const char* in_path, const char* out_path, int placing,
                     int* fault) {
    const bool keepExisting = (placing & ENN_KEEP_EXISTING) != 0;
    const bool diagnose = (placing & ENN_NO_DIAGNOSTIC) == 0;
    EnnCipher cipher;
    EnnReaderGuard in;
    if (const int opened = EnnOpenSource(key, in_path, &cipher, &in.reader, fault)) {
        return opened;
    }
    // An output that cannot be had is reported only once the container has
    // been checked, so that damage is told first; meanwhile nothing is written.
    int outFault = ENN_FAULT_NONE;
    EnnWriterGuard out;
    if (out_path != nullptr) {
        outFault = EnnTargetFault(out_path, in.reader.id, keepExisting);
        if (outFault == ENN_FAULT_NONE) {
            EnnCreateAside(out_path, &out.writer, &outFault);
        }
    }
    const bool writing = out_path != nullptr && outFault == ENN_FAULT_NONE;

    EnnDecoding d;
    EnnDecodeStart(&d, &cipher.ctx);
    const int batch = kEnnBatchChunks * ENN_CHUNK_CIPHER;
    std::unique_ptr<unsigned char[]> sealed(new unsigned char[batch]);
    std::unique_ptr<unsigned char[]> plain(
        new unsigned char[(kEnnBatchChunks + 1) * ENN_CHUNK_PLAIN]);
    bool written = true;
    // The header and password chunk first, so that every later read covers
    // whole chunks and decodes where it lies.
    int want = ENN_PAYLOAD_OFFSET;
    for (;;) {
        const int got = EnnReadFull(&in.reader, sealed.get(), want);
        if (got < 0) {
            return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
        }
        const int plainLen = EnnDecodeFeed(&d, sealed.get(), got, plain.get());
        if (writing && written && plainLen > 0) {
            written = EnnWriteAll(&out.writer, plain.get(), plainLen);
        }
        if (got < want) {
            break;
        }
        want = batch;
    }
    int plainLen = 0;
    int decodeFault = ENN_FAULT_NONE;
    const int decoded = EnnDecodeFinish(&d, plain.get(), &plainLen, &decodeFault);
    EnnCloseReader(&in.reader);
    if (decoded == ENN_ERR_DIGEST && out_path != nullptr && diagnose) {
        std::fputs("\n md5 error !", stdout);
        std::fflush(stdout);
    }
    if (decoded != ENN_OK) {
        return EnnFail(fault, decodeFault, decoded);
    }
    if (out_path == nullptr) {
        return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
    }
    if (outFault != ENN_FAULT_NONE) {
        return EnnFail(fault, outFault, ENN_ERR_CREATE_OUTPUT);
    }
    if (!written || (plainLen > 0 && !EnnWriteAll(&out.writer, plain.get(), plainLen))) {
        return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
    }
    const int placed =
        EnnPutInPlace(&out.writer, out_path, keepExisting ? ENN_PLACE_NEW : ENN_PLACE_REPLACE);
    return EnnFail(fault, placed, EnnPlacedResult(placed));
}
