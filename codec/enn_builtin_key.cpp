// The key built into the tool, and the library's own version.
#include "codec/enn.h"
#include "crypto/key_scramble.h"

namespace {

// Stands for the built-in key where a key is asked for: recognised by its
// address, never used as a key's bytes.
const char kBuiltIn[] = "built-in key";

}  // namespace

int EnnBuiltInKey(char key[ENN_KEY_SIZE]) {
    if (key == nullptr) {
        return ENN_ERR_GENERIC;
    }
    KeyUnscramble(reinterpret_cast<const char*>(kScrambledKey), key);
    return ENN_OK;
}

const char* EnnBuiltIn() {
    return kBuiltIn;
}

const char* EnnVersion() {
    return ENN_VERSION_STRING;
}
