// Clearing secrets in a way the compiler cannot drop as a dead store.
#ifndef VELTRANE_CRYPTO_WIPE_H
#define VELTRANE_CRYPTO_WIPE_H

#include <cstddef>

// Sets size bytes at p to zero, even when p is never read again.
void SecureWipe(void* p, std::size_t size);

#endif
