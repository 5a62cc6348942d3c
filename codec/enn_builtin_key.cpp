#include "codec/enn.h"
#include "crypto/key_scramble.h"

int EnnBuiltInKey(char key[57]) {
    if (key == nullptr) {
        return ENN_ERR_GENERIC;
    }
    KeyUnscramble(reinterpret_cast<const char*>(kScrambledKey), key);
    return ENN_OK;
}
