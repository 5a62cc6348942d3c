#include "command/secret.h"

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
