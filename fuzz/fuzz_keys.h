// The keys the fuzz targets decode under: the built-in one, under which the
// seed containers are written, and the shortest key the codec takes, under
// which those same containers pass the digest test and yield length Blocks of
// arbitrary content.
#ifndef VELTRANE_FUZZ_FUZZ_KEYS_H
#define VELTRANE_FUZZ_FUZZ_KEYS_H

#include "crypto/key_scramble.h"

struct FuzzKeys {
    char builtIn[57];
    const char* shortKey = "k3y!";
    FuzzKeys() { KeyUnscramble(reinterpret_cast<const char*>(kScrambledKey), builtIn); }
    const char* operator[](int i) const { return i % 2 == 0 ? builtIn : shortKey; }
};

#endif
