#include <openssl/blowfish.h>
#include <openssl/md5.h>

#include "reference_container.h"

Bytes ReferenceEcb(const Bytes& key, const Bytes& data) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()), key.data());
    Bytes out(data.size());
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        BF_ecb_encrypt(&data[i], &out[i], &schedule, BF_ENCRYPT);
    }
    return out;
}

Bytes ReferenceMd5(const Bytes& data) {
    Bytes digest(MD5_DIGEST_LENGTH);
    MD5(data.data(), data.size(), digest.data());
    return digest;
}
