// Draws a fresh 56-byte key from /dev/urandom (no zero byte in it or in its
// scrambled form) and prints the scrambled form as a C++ initialiser for
// kScrambledKey. Run it only to change the built-in key: containers written
// under one key cannot be read under another.
#include <cstdio>
#include <cstring>

#include "crypto/key_scramble.h"

int main() {
    std::FILE* random = std::fopen("/dev/urandom", "rb");
    if (random == nullptr) {
        std::perror("/dev/urandom");
        return 1;
    }
    char key[57] = {};
    char scrambled[57] = {};
    do {
        for (int i = 0; i < 56; ++i) {
            do {
                if (std::fread(&key[i], 1, 1, random) != 1) {
                    std::perror("/dev/urandom");
                    return 1;
                }
            } while (key[i] == 0);
        }
        KeyScramble(key, scrambled);
    } while (std::strlen(scrambled) != 56);
    std::fclose(random);
    std::printf("const unsigned char kScrambledKey[57] = {");
    for (int i = 0; i < 57; ++i) {
        std::printf("%s0x%02X,", i % 8 == 0 ? "\n    " : " ",
                    static_cast<unsigned char>(scrambled[i]));
    }
    std::printf("\n};\n");
    std::memset(key, 0, sizeof key);
    return 0;
}
