// An independent writer of the container layout, against which the codec's
// own output is compared. Its primitives come from elsewhere: OpenSSL's
// Blowfish and MD5 on Linux (reference_openssl.cpp); on Windows, where there
// is no OpenSSL for the cross compiler, Windows' own MD5 (BCrypt) and the
// Blowfish primitive that the crypto suite pins to the published vectors
// (reference_win32.cpp).
#ifndef VELTRANE_TESTS_REFERENCE_CONTAINER_H
#define VELTRANE_TESTS_REFERENCE_CONTAINER_H

#include <string>

#include "test_util.h"

Bytes ReferenceContainer(const std::string& password, const Bytes& key, const Bytes& plain);

// Blowfish-ECB encryption of the Blocks of data (a multiple of 8 bytes).
Bytes ReferenceEcb(const Bytes& key, const Bytes& data);

// The 16-byte MD5 digest of data.
Bytes ReferenceMd5(const Bytes& data);

#endif
