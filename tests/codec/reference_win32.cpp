#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <stdexcept>

#include "crypto/blowfish.h"
#include "reference_container.h"

Bytes ReferenceEcb(const Bytes& key, const Bytes& data) {
    BLOWFISH_CTX ctx;
    BlowfishSetKey(&ctx, key.data(), static_cast<int>(key.size()));
    Bytes out(data.size());
    BlowfishEncryptBlocks(&ctx, data.data(), out.data(), data.size() / 8);
    return out;
}

Bytes ReferenceMd5(const Bytes& data) {
    Bytes digest(16);
    // BCRYPT_MD5_ALG_HANDLE needs Windows 10; opening the provider works everywhere.
    BCRYPT_ALG_HANDLE md5 = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&md5, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
        throw std::runtime_error("BCrypt has no MD5");
    }
    const NTSTATUS status = BCryptHash(md5, nullptr, 0, const_cast<PUCHAR>(data.data()),
                                       static_cast<ULONG>(data.size()), digest.data(), 16);
    BCryptCloseAlgorithmProvider(md5, 0);
    if (!BCRYPT_SUCCESS(status)) {
        throw std::runtime_error("BCryptHash failed");
    }
    return digest;
}
