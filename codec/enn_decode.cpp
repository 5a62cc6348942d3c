// The decoder's file operations: the stream operations with both ends
// named, and the one diagnostic the codec prints.
#include <cstdio>

#include "codec/enn.h"

int EnnReadPassword(const char* key, const char* path, char* password) {
    return EnnReadPasswordEx(key, path, password, nullptr);
}

int EnnReadPasswordEx(const char* key, const char* path, char* password, int* fault) {
    return EnnReadPasswordStream(key, path, nullptr, nullptr, password, fault);
}

int EnnVerifyFile(const char* key, const char* path) {
    return EnnDecryptFileEx(key, path, nullptr, ENN_KEEP_EXISTING, nullptr);
}

int EnnDecryptFile(const char* key, const char* in_path, const char* out_path) {
    return EnnDecryptFileEx(key, in_path, out_path, ENN_REPLACE_EXISTING, nullptr);
}

int EnnDecryptFileEx(const char* key, const char* in_path, const char* out_path, int placing,
                     int* fault) {
    const int result = EnnDecryptStream(key, in_path, out_path, placing, nullptr, nullptr, nullptr,
                                        nullptr, fault);
    if (result == ENN_ERR_DIGEST && out_path != nullptr && (placing & ENN_NO_DIAGNOSTIC) == 0) {
        std::fputs("\n md5 error !", stdout);
        std::fflush(stdout);
    }
    return result;
}
