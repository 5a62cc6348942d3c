#include "reference_container.h"

#include <algorithm>
#include <cstdio>

namespace {

Bytes Chunk(const Bytes& key, const unsigned char* data, size_t n) {
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", n);
    Bytes plain(8 + (n + 7) / 8 * 8, 0);
    std::copy(length, length + 8, plain.begin());
    std::copy(data, data + n, plain.begin() + 8);
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
    const Bytes digest = ReferenceMd5(body);
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
