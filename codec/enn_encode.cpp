// The encoder's file operations: the stream operation with both ends named.
#include "codec/enn.h"

int EnnEncryptFile(const char* password, const char* key, const char* in_path,
                   const char* out_path) {
    return EnnEncryptFileEx(password, key, in_path, out_path, nullptr);
}

int EnnEncryptFileEx(const char* password, const char* key, const char* in_path,
                     const char* out_path, int* fault) {
    return EnnEncryptStream(password, key, in_path, out_path, nullptr, nullptr, nullptr, nullptr,
                            fault);
}
