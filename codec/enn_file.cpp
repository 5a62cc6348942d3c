#include <unistd.h>

#include "codec/enn_internal.h"

std::FILE* EnnOpenInput(const char* path, struct stat* opened) {
    // Opening a fifo would wait for a writer; look before opening.
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        return nullptr;
    }
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        return nullptr;
    }
    // Again on what was opened, should the name have changed in between.
    if (fstat(fileno(in), opened) != 0 || !S_ISREG(opened->st_mode)) {
        std::fclose(in);
        return nullptr;
    }
    return in;
}

bool EnnIsSameFile(const char* path, const struct stat& opened) {
    struct stat st;
    return stat(path, &st) == 0 && st.st_dev == opened.st_dev && st.st_ino == opened.st_ino;
}

std::FILE* EnnCreateOutput(const char* path, struct stat* created) {
    std::FILE* out = std::fopen(path, "wb");
    if (out != nullptr && fstat(fileno(out), created) != 0) {
        std::fclose(out);
        return nullptr;
    }
    return out;
}

int EnnRead(std::FILE* in, unsigned char* buf, int size) {
    const size_t got = std::fread(buf, 1, static_cast<size_t>(size), in);
    return std::ferror(in) ? -1 : static_cast<int>(got);
}

bool EnnWrite(std::FILE* out, const void* buf, int size) {
    return std::fwrite(buf, 1, static_cast<size_t>(size), out) == static_cast<size_t>(size);
}

bool EnnCloseOutput(std::FILE* out) {
    const bool flushed = std::fflush(out) == 0;
    return std::fclose(out) == 0 && flushed;
}

void EnnRemoveCreated(const char* path, const struct stat& created) {
    struct stat now;
    if (S_ISREG(created.st_mode) && lstat(path, &now) == 0 && S_ISREG(now.st_mode) &&
        now.st_dev == created.st_dev && now.st_ino == created.st_ino) {
        unlink(path);
    }
}
