// Writes the seed corpus of the fuzz targets: real containers of a few sizes
// under the built-in key into DIR/container, and their chunks, behind a
// selector byte, into DIR/chunk. Given the tests' data folder too, it adds
// the catalogue of forgeries (every file its MANIFEST lists) and the known
// answer to DIR/container, so that the search starts from every refusal.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "fuzz_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool WriteFile(const std::string& path, const Bytes& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

Bytes ReadFile(const std::string& path) {
    Bytes data;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    int c;
    while (f != nullptr && (c = std::fgetc(f)) != EOF) {
        data.push_back(static_cast<unsigned char>(c));
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    return data;
}

Bytes Content(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>("20261208,6222021234567890,1520.00,CNY\n"[i % 38]);
    }
    return data;
}

// Copies the tests' checked-in containers from data into dir, each named
// after its folder and file.
bool CopyTestData(const std::string& data, const std::string& dir) {
    std::vector<std::string> files = {"known-answer/batch.txt.enn"};
    std::ifstream manifest(data + "/forgeries/MANIFEST");
    for (std::string line; std::getline(manifest, line);) {
        if (!line.empty() && line[0] != '#') {
            files.push_back("forgeries/" + line.substr(0, line.find(' ')));
        }
    }
    bool ok = files.size() > 1;
    for (std::string file : files) {
        const Bytes bytes = ReadFile(data + "/" + file);
        std::replace(file.begin(), file.end(), '/', '-');
        ok = ok && WriteFile(dir + "/" + file, bytes);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR [TEST_DATA_DIR]\n");
        return 2;
    }
    const std::string dir = argv[1];
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/container").c_str(), 0755);
    mkdir((dir + "/chunk").c_str(), 0755);
    const FuzzKeys keys;
    const std::string plain = dir + "/plain.tmp";
    bool ok = true;
    for (size_t size : {0, 1, 7, 8, 9, 100, 3993, 3999, 4000, 4001, 8000, 8100}) {
        const std::string container = dir + "/container/size-" + std::to_string(size) + ".enn";
        ok = ok && WriteFile(plain, Content(size)) &&
             EnnEncryptFile("240613", keys.BuiltIn(), plain.c_str(), container.c_str()) == ENN_OK;
        // Each chunk of the container, as fuzz_chunk reads it under the built-in key.
        const Bytes bytes = ReadFile(container);
        for (size_t at = 32, chunk = 0; ok && at < bytes.size() && chunk < 3; ++chunk) {
            const size_t len = at == 32 ? 16 : std::min<size_t>(4008, bytes.size() - at);
            Bytes seed{0};
            seed.insert(seed.end(), bytes.begin() + at, bytes.begin() + at + len);
            ok = WriteFile(
                dir + "/chunk/size-" + std::to_string(size) + "-" + std::to_string(chunk), seed);
            at += len;
        }
    }
    // A plain length text for the selector that encrypts it first.
    Bytes lengthFirst{2, '0', '0', '0', '0', '0', '0', '1', '3'};
    lengthFirst.resize(lengthFirst.size() + 16, 0x5a);
    ok = ok && WriteFile(dir + "/chunk/length-13", lengthFirst);
    std::remove(plain.c_str());
    if (ok && argc == 3 && !CopyTestData(argv[2], dir + "/container")) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot copy the tests' containers from %s\n",
                     argv[2]);
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write the seeds into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
