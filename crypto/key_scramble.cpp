#include "crypto/key_scramble.h"

#include "crypto/wipe.h"

#include <cstring>

namespace {
const unsigned char kMask = 0xA6;
}

// Both directions keep the run of plain bytes after position i as one running
// value, working down from the end of the string.

void KeyScramble(const char* in, char* out) {
    const size_t len = std::strlen(in);
    unsigned char run = 0;
    for (size_t i = len; i-- > 0;) {
        run ^= static_cast<unsigned char>(in[i]);
        out[i] = static_cast<char>(run ^ kMask);
    }
    out[len] = '\0';
}

void KeyUnscramble(const char* in, char* out) {
    const size_t len = std::strlen(in);
    unsigned char run = 0;
    for (size_t i = len; i-- > 0;) {
        const unsigned char plain = static_cast<unsigned char>(in[i]) ^ run ^ kMask;
        out[i] = static_cast<char>(plain);
        run ^= plain;
    }
    out[len] = '\0';
}

// Made once with tools/make_scrambled_key from 56 random bytes. Changing it
// makes every container written before unreadable to the receiving side.
const unsigned char kScrambledKey[57] = {
    0xF5, 0x72, 0x21, 0x52, 0x1A, 0xD1, 0xEA, 0x6A, 0x27, 0x5E, 0x70, 0xAF, 0x06, 0x29, 0xA0,
    0x22, 0x3D, 0xC0, 0x7E, 0x37, 0xBA, 0x33, 0xE9, 0x3F, 0x53, 0xC4, 0xEE, 0x21, 0x76, 0x9C,
    0x31, 0xD5, 0xBA, 0x16, 0x65, 0x46, 0x3E, 0x4B, 0x61, 0xFE, 0x41, 0x53, 0xEF, 0x3E, 0xE1,
    0x11, 0x51, 0x93, 0x66, 0xA4, 0x5B, 0x14, 0xFB, 0x73, 0x3E, 0x59, 0x00,
};

BuiltInKey::BuiltInKey() : key_() {
    KeyUnscramble(reinterpret_cast<const char*>(kScrambledKey), key_);
}

BuiltInKey::~BuiltInKey() {
    SecureWipe(key_, sizeof key_);
}
