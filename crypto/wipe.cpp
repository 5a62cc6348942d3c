#include "crypto/wipe.h"

void SecureWipe(void* p, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    while (size-- > 0) {
        *bytes++ = 0;
    }
}
