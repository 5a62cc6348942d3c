// Fuzzes EnnDecryptFile and EnnReadPassword on whole files. Each input is
// written to a container file and decoded as it is (mostly a digest failure
// for a mutated container) and, if its header does not match, again with the
// header renewed, as a forger would, so that the decoding pass itself meets
// the damage; then under the short key too. A header must be refused exactly
// when it differs from the digest of the rest.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/enn.h"
#include "crypto/md5.h"
#include "fuzz_keys.h"

namespace {

const FuzzKeys keys;
std::string g_dir;
std::string g_container;
std::string g_plain;

void RemoveFiles() {
    unlink(g_container.c_str());
    unlink(g_plain.c_str());
    rmdir(g_dir.c_str());
}

void WriteContainer(const uint8_t* header, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(g_container.c_str(), "wb");
    if (f == nullptr || (header != nullptr && std::fwrite(header, 1, 32, f) != 32) ||
        (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::abort();
    }
}

long long PlainSize() {
    struct stat st;
    return stat(g_plain.c_str(), &st) == 0 ? st.st_size : -1;
}

// Decodes the container file under key; a digest that matches must be
// accepted, and whatever decodes can be no longer than the chunks after the
// password chunk.
int Decode(const char* key, size_t containerSize) {
    unlink(g_plain.c_str());
    const int result = EnnDecryptFile(key, g_container.c_str(), g_plain.c_str());
    const long long payload = containerSize > 48 ? static_cast<long long>(containerSize) - 48 : 0;
    if (result == ENN_OK && PlainSize() > payload) {
        std::abort();
    }
    if (result == ENN_ERR_DIGEST && PlainSize() != -1) {
        std::abort();  // a refused container must not create the output
    }
    return result;
}

void ReadPassword(const char* key) {
    char password[8];
    std::memset(password, 'x', sizeof password);
    const int result = EnnReadPassword(key, g_container.c_str(), password);
    if (result == ENN_OK && (password[6] != '\0' || password[7] != 'x')) {
        std::abort();
    }
    if (result != ENN_OK && (password[0] != 'x' || password[6] != 'x')) {
        std::abort();  // written only on success
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The decoder reports a digest mismatch on standard output, which would
    // otherwise drown libFuzzer's own report on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    char dir[] = "/tmp/enn-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::abort();
    }
    g_dir = dir;
    g_container = g_dir + "/in.enn";
    g_plain = g_dir + "/out";
    std::atexit(RemoveFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    WriteContainer(nullptr, data, size);
    ReadPassword(keys[0]);
    ReadPassword(keys[1]);
    if (size < 32) {
        if (Decode(keys[0], size) != ENN_ERR_DIGEST) {
            std::abort();
        }
        return 0;
    }

    MD5_CTX md5;
    MD5Init(&md5);
    MD5Update(&md5, data + 32, static_cast<unsigned int>(size - 32));
    char header[33];
    MD5FinalHex(&md5, header);
    const bool intact = std::memcmp(header, data, 32) == 0;
    // The digest test does not depend on the key: one key suffices for it.
    if (Decode(keys[0], size) == ENN_ERR_DIGEST) {
        if (intact) {
            std::abort();
        }
        WriteContainer(reinterpret_cast<const uint8_t*>(header), data + 32, size - 32);
        if (Decode(keys[0], size) == ENN_ERR_DIGEST) {
            std::abort();
        }
    } else if (!intact) {
        std::abort();  // a header that differs from the digest was accepted
    }
    if (Decode(keys[1], size) == ENN_ERR_DIGEST) {
        std::abort();
    }
    return 0;
}
