#include "openssl_baseline.h"

#include <openssl/blowfish.h>
#include <openssl/md5.h>

#include <cstring>

unsigned char OpenSslBaseline(const char* key, const unsigned char* plain, unsigned char* sealed,
                              std::size_t size) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(std::strlen(key)),
               reinterpret_cast<const unsigned char*>(key));
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        BF_ecb_encrypt(plain + i, sealed + i, &schedule, BF_ENCRYPT);
    }
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(sealed, size, digest);
    return digest[0];
}
