// The keys the fuzz targets decode under, keyed once for the whole run: the
// built-in one, under which the seed containers are written, and the shortest
// key the codec takes, under which those same containers pass the digest test
// and decode to chunks of arbitrary content.
#ifndef VELTRANE_FUZZ_FUZZ_KEYS_H
#define VELTRANE_FUZZ_FUZZ_KEYS_H

#include <cstdlib>

#include "codec/enn_chunk.h"
#include "crypto/key_scramble.h"

class FuzzKeys {
  public:
    FuzzKeys() {
        if (!EnnKeyCipher(builtIn_.get(), &ciphers_[0]) || !EnnKeyCipher("k3y!", &ciphers_[1])) {
            std::abort();
        }
    }
    const char* BuiltIn() const { return builtIn_.get(); }
    const BLOWFISH_CTX* operator[](int i) const { return &ciphers_[i & 1].ctx; }

  private:
    BuiltInKey builtIn_;
    EnnCipher ciphers_[2];
};

#endif
