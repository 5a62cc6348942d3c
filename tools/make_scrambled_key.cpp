// Draws a fresh 56-byte key from the system's random source (BCryptGenRandom
// on Windows, /dev/urandom elsewhere; no zero byte in the key or in its
// scrambled form) and prints the scrambled form as a C++ initialiser for
// kScrambledKey. Run it only to change the built-in key: containers written
// under one key cannot be read under another.
#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#endif

#include <cstdio>
#include <cstring>

#include "crypto/key_scramble.h"

namespace {

// Fills the byte at c from the system's random source; false when it fails.
#ifdef _WIN32
bool RandomByte(char* c) {
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(c), 1, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
#else
bool RandomByte(char* c) {
    static std::FILE* const random = std::fopen("/dev/urandom", "rb");
    return random != nullptr && std::fread(c, 1, 1, random) == 1;
}
#endif

}  // namespace

int main() {
    char key[57] = {};
    char scrambled[57] = {};
    do {
        for (int i = 0; i < 56; ++i) {
            do {
                if (!RandomByte(&key[i])) {
                    std::fputs("make_scrambled_key: no random bytes from the system\n", stderr);
                    return 1;
                }
            } while (key[i] == 0);
        }
        KeyScramble(key, scrambled);
    } while (std::strlen(scrambled) != 56);
    std::printf("const unsigned char kScrambledKey[57] = {");
    for (int i = 0; i < 57; ++i) {
        std::printf("%s0x%02X,", i % 8 == 0 ? "\n    " : " ",
                    static_cast<unsigned char>(scrambled[i]));
    }
    std::printf("\n};\n");
    std::memset(key, 0, sizeof key);
    return 0;
}
