#include "reference_container.h"

#include <openssl/blowfish.h>
#include <openssl/md5.h>

#include <cstdio>

Bytes ReferenceEcb(const Bytes& key, const Bytes& data) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()), key.data());
    Bytes out(data.size());
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        BF_ecb_encrypt(&data[i], &out[i], &schedule, BF_ENCRYPT);
    }
    return out;
}

namespace {

Bytes Chunk(const Bytes& key, const unsigned char* data, size_t n) {
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", n);
    Bytes plain(length, length + 8);
    plain.insert(plain.end(), data, data + n);
    plain.resize(8 + (n + 7) / 8 * 8, 0);
    return ReferenceEcb(key, plain);
}

}  // namespace

Bytes ReferenceContainer(const std::string& password, const Bytes& key, const Bytes& plain) {
    const std::string passwordText = password + "**";
    Bytes body = Chunk(key, reinterpret_cast<const unsigned char*>(passwordText.data()), 8);
    for (size_t at = 0; at < plain.size(); at += 4000) {
        const Bytes chunk =
            Chunk(key, plain.data() + at, std::min<size_t>(4000, plain.size() - at));
        body.insert(body.end(), chunk.begin(), chunk.end());
    }
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(body.data(), body.size(), digest);
    std::string header;
    char hex[3];
    for (unsigned char b : digest) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        header += hex;
    }
    Bytes container(header.begin(), header.end());
    container.insert(container.end(), body.begin(), body.end());
    return container;
}
