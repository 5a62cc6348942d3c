// The work a container costs, done by OpenSSL's libcrypto in memory: apart,
// since its names (MD5_CTX, ...) are the product's own names too.
#ifndef VELTRANE_BENCH_OPENSSL_BASELINE_H
#define VELTRANE_BENCH_OPENSSL_BASELINE_H

#include <cstddef>

// Blowfish-ECB over the size bytes of plain (a multiple of 8) under one key
// schedule of key into sealed, then MD5 over the result; returns a byte of
// the digest, to keep it alive.
unsigned char OpenSslBaseline(const char* key, const unsigned char* plain, unsigned char* sealed,
                              std::size_t size);

#endif
