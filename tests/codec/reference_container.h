// An independent writer of the container layout, on OpenSSL's Blowfish and
// MD5, against which the codec's own output is compared.
#ifndef VELTRANE_TESTS_REFERENCE_CONTAINER_H
#define VELTRANE_TESTS_REFERENCE_CONTAINER_H

#include <string>

#include "test_util.h"

Bytes ReferenceContainer(const std::string& password, const Bytes& key, const Bytes& plain);

// Blowfish-ECB encryption of the Blocks of data (a multiple of 8 bytes).
Bytes ReferenceEcb(const Bytes& key, const Bytes& data);

#endif
