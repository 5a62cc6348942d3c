#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/enn.h"
#include "codec/enn_internal.h"

namespace {

// The plain length in a decrypted length Block, when it is eight decimal
// digits as the encoder prints them; else -1.
int StrictLength(const unsigned char* text) {
    int n = 0;
    for (int i = 0; i < ENN_BLOCK_SIZE; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// Decodes a data chunk of size bytes into out, checking it against the layout
// the encoder writes: eight digits of length, 1 to 4000 bytes filling exactly
// size, zero fill. Returns n, or -1.
int OpenDataChunk(const BLOWFISH_CTX* ctx, const unsigned char* data, int size,
                  unsigned char* out) {
    if (size < 2 * ENN_BLOCK_SIZE || size % ENN_BLOCK_SIZE != 0) {
        return -1;
    }
    unsigned char length[ENN_BLOCK_SIZE];
    BlowfishDecryptBlocks(ctx, data, length, 1);
    const int n = StrictLength(length);
    const int blocks = (size - ENN_BLOCK_SIZE) / ENN_BLOCK_SIZE;
    // 3993 to 3999 bytes fill a whole chunk's size too; the caller sees to
    // it that such a chunk is the last.
    const bool fits = n >= 1 && n <= ENN_CHUNK_PLAIN && (n + 7) / 8 == blocks;
    if (!fits) {
        return -1;
    }
    BlowfishDecryptBlocks(ctx, data + ENN_BLOCK_SIZE, out, static_cast<size_t>(blocks));
    for (int i = n; i < blocks * ENN_BLOCK_SIZE; ++i) {
        if (out[i] != 0) {
            return -1;
        }
    }
    return n;
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

bool EnnOpenPasswordChunk(const BLOWFISH_CTX* ctx, const unsigned char* sealed, char* password) {
    unsigned char plain[2 * ENN_BLOCK_SIZE];
    BlowfishDecryptBlocks(ctx, sealed, plain, 2);
    char text[ENN_PASSWORD_LENGTH + 1];
    std::memcpy(text, plain + ENN_BLOCK_SIZE, ENN_PASSWORD_LENGTH);
    text[ENN_PASSWORD_LENGTH] = '\0';
    const bool ok =
        StrictLength(plain) == 8 && EnnIsPassword(text) &&
        std::memcmp(plain + ENN_BLOCK_SIZE + ENN_PASSWORD_LENGTH, ENN_PASSWORD_FILLER, 2) == 0;
    if (ok) {
        std::memcpy(password, text, sizeof text);
    }
    SecureWipe(plain, sizeof plain);
    SecureWipe(text, sizeof text);
    return ok;
}

void EnnDecodeStart(EnnDecoding* d, const BLOWFISH_CTX* ctx) {
    d->ctx = ctx;
    MD5Init(&d->md5);
    d->prefixLen = 0;
    d->pieceLen = 0;
    d->ended = false;
    d->fault = ENN_FAULT_NONE;
}

int EnnDecodeFeed(EnnDecoding* d, const unsigned char* data, int size, unsigned char* plain) {
    if (d->prefixLen < ENN_PAYLOAD_OFFSET) {
        const int take = std::min(size, ENN_PAYLOAD_OFFSET - d->prefixLen);
        std::memcpy(d->prefix + d->prefixLen, data, static_cast<size_t>(take));
        d->prefixLen += take;
        data += take;
        size -= take;
        if (d->prefixLen == ENN_PAYLOAD_OFFSET) {
            MD5Update(&d->md5, d->prefix + ENN_HEADER_SIZE, ENN_PAYLOAD_OFFSET - ENN_HEADER_SIZE);
            char password[ENN_PASSWORD_LENGTH + 1];
            if (!EnnOpenPasswordChunk(d->ctx, d->prefix + ENN_HEADER_SIZE, password)) {
                d->fault = ENN_FAULT_FOREIGN_KEY;
            }
            SecureWipe(password, sizeof password);
        }
    }
    if (size <= 0) {
        return 0;
    }
    MD5Update(&d->md5, data, static_cast<unsigned int>(size));
    int plainLen = 0;
    while (size > 0 && d->fault == ENN_FAULT_NONE) {
        const unsigned char* chunk = data;
        if (d->pieceLen > 0 || size < ENN_CHUNK_CIPHER) {
            // A chunk split between feeds is gathered; whole ones are decoded
            // where they lie.
            const int take = std::min(size, ENN_CHUNK_CIPHER - d->pieceLen);
            std::memcpy(d->piece + d->pieceLen, data, static_cast<size_t>(take));
            d->pieceLen += take;
            data += take;
            size -= take;
            if (d->pieceLen < ENN_CHUNK_CIPHER) {
                break;
            }
            chunk = d->piece;
        } else {
            data += ENN_CHUNK_CIPHER;
            size -= ENN_CHUNK_CIPHER;
        }
        d->pieceLen = 0;
        const int n =
            d->ended ? -1 : OpenDataChunk(d->ctx, chunk, ENN_CHUNK_CIPHER, plain + plainLen);
        if (n < 0) {
            d->fault = ENN_FAULT_LAYOUT;
            break;
        }
        plainLen += n;
        d->ended = n < ENN_CHUNK_PLAIN;  // only the last chunk holds fewer
    }
    return d->fault == ENN_FAULT_NONE ? plainLen : 0;
}

int EnnDecodeFinish(EnnDecoding* d, unsigned char* plain, int* plain_len, int* fault) {
    *plain_len = 0;
    char computed[ENN_HEADER_SIZE + 1];
    if (d->prefixLen < ENN_PAYLOAD_OFFSET && d->prefixLen > ENN_HEADER_SIZE) {
        MD5Update(&d->md5, d->prefix + ENN_HEADER_SIZE,
                  static_cast<unsigned int>(d->prefixLen - ENN_HEADER_SIZE));
    }
    MD5FinalHex(&d->md5, computed);
    // A file shorter than the header never matches.
    if (d->prefixLen < ENN_HEADER_SIZE || std::memcmp(d->prefix, computed, ENN_HEADER_SIZE) != 0) {
        return EnnFail(fault, ENN_FAULT_DIGEST, ENN_ERR_DIGEST);
    }
    if (d->prefixLen == ENN_HEADER_SIZE) {
        // The header alone, matching: a container of nothing. It carries no
        // password, but nothing in it is wrong either.
        return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
    }
    if (d->prefixLen < ENN_PAYLOAD_OFFSET) {
        return EnnFail(fault, ENN_FAULT_LAYOUT, ENN_ERR_GENERIC);
    }
    if (d->fault == ENN_FAULT_NONE && d->pieceLen > 0) {
        const int n = d->ended ? -1 : OpenDataChunk(d->ctx, d->piece, d->pieceLen, plain);
        if (n < 0) {
            d->fault = ENN_FAULT_LAYOUT;
        } else {
            *plain_len = n;
        }
    }
    if (d->fault != ENN_FAULT_NONE) {
        *plain_len = 0;
        return EnnFail(fault, d->fault, ENN_ERR_GENERIC);
    }
    return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
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
    unsigned char sealed[kEnnBatchChunks * ENN_CHUNK_CIPHER];
    unsigned char plain[kEnnBatchChunks * ENN_CHUNK_PLAIN + ENN_CHUNK_PLAIN];
    bool written = true;
    // The header and password chunk first, so that every later read covers
    // whole chunks and decodes where it lies.
    int want = ENN_PAYLOAD_OFFSET;
    for (;;) {
        const int got = EnnReadFull(&in.reader, sealed, want);
        if (got < 0) {
            return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
        }
        const int plainLen = EnnDecodeFeed(&d, sealed, got, plain);
        if (writing && written && plainLen > 0) {
            written = EnnWriteAll(&out.writer, plain, plainLen);
        }
        if (got < want) {
            break;
        }
        want = sizeof sealed;
    }
    int plainLen = 0;
    int decodeFault = ENN_FAULT_NONE;
    const int decoded = EnnDecodeFinish(&d, plain, &plainLen, &decodeFault);
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
    if (!written || (plainLen > 0 && !EnnWriteAll(&out.writer, plain, plainLen))) {
        return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
    }
    const int placed =
        EnnPutInPlace(&out.writer, out_path, keepExisting ? ENN_PLACE_NEW : ENN_PLACE_REPLACE);
    return EnnFail(fault, placed, EnnPlacedResult(placed));
}
