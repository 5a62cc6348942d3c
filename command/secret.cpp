#include "command/secret.h"

#include "codec/enn.h"

void WipeSecret(void* p, std::size_t size) {
    // Through a volatile pointer, so that the stores are not dropped as dead.
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    while (size-- > 0) {
        *bytes++ = 0;
    }
}

void WipeSecret(std::string& text) {
    WipeSecret(text.data(), text.size());
}

HeldKey::HeldKey() {
    EnnBuiltInKey(key_);
}

HeldKey::~HeldKey() {
    WipeSecret(key_, sizeof key_);
}
