// The secrets a program holds while it runs the Encrypt command or reads a
// container: the password texts and the built-in key. The key comes from the
// codec's library, which keeps the primitives of crypto/ to itself, so that a
// program links them once: inside the library.
#ifndef VELTRANE_COMMAND_SECRET_H
#define VELTRANE_COMMAND_SECRET_H

#include <cstddef>
#include <string>

#include "codec/enn.h"

// Sets size bytes at p to zero, even when p is never read again.
void WipeSecret(void* p, std::size_t size);

// Sets every byte of text to zero, leaving its length as it was.
void WipeSecret(std::string& text);

// The cipher key built into the tool (EnnBuiltInKey), held for as long as the
// object lives and wiped when it goes, on every way out.
class HeldKey {
  public:
    HeldKey();
    ~HeldKey();
    HeldKey(const HeldKey&) = delete;
    HeldKey& operator=(const HeldKey&) = delete;
    const char* get() const { return key_; }

  private:
    char key_[ENN_KEY_SIZE] = {};
};

#endif
