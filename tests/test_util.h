// Helpers shared by the test suites: hex, temporary folders, whole files.
#ifndef VELTRANE_TESTS_TEST_UTIL_H
#define VELTRANE_TESTS_TEST_UTIL_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string& hex);
std::string ToHex(const unsigned char* data, size_t size);
inline std::string ToHex(const Bytes& b) {
    return ToHex(b.data(), b.size());
}

// The lowercase hex MD5 of data, and body behind the 32-character digest
// header a container carries.
std::string Md5Hex(const unsigned char* data, size_t size);
Bytes WithDigestHeader(const Bytes& body);

// Deterministic pseudo-random bytes (the same for the same seed).
Bytes PseudoRandomBytes(size_t size, uint32_t seed);

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const Bytes& data);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// The names in folder dir, without "." and "..".
std::set<std::string> Listing(const std::string& dir);

#endif
