#include "test_util.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "crypto/md5.h"

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string Md5Hex(const unsigned char* data, size_t size) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data, static_cast<unsigned int>(size));
    char hex[33];
    return MD5FinalHex(&ctx, hex);
}

Bytes WithDigestHeader(const Bytes& body) {
    const std::string header = Md5Hex(body.data(), body.size());
    // Sized once and filled, not grown by insert: GCC 12 at -O3 takes the
    // vector's unused reallocation path for an overrun (-Warray-bounds).
    Bytes container(header.size() + body.size());
    std::copy(header.begin(), header.end(), container.begin());
    std::copy(body.begin(), body.end(), container.begin() + static_cast<long>(header.size()));
    return container;
}

Bytes PseudoRandomBytes(size_t size, uint32_t seed) {
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

// Paths are UTF-8 throughout the tests; u8path keeps them so on Windows too,
// where a narrow path would mean the ANSI code page.
namespace fs = std::filesystem;

TempDir::TempDir() {
    const fs::path base = fs::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "veltrane-%08x", static_cast<unsigned>(random()));
        // create_directory is false when the name is already taken.
        if (fs::create_directory(base / name)) {
            path_ = (base / name).u8string();
            return;
        }
    }
    throw std::runtime_error("no fresh temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(fs::u8path(path_), ignored);
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(fs::u8path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}
