// What an intake program pays per container, measured in one run so that
// the figures are ratios against each other on a shared machine:
//   1. 1,000 containers of 4 KiB decrypted to files one by one (each put in
//      place and flushed), against the same decoded in memory;
//   2. large containers decoded in memory by one caller thread, against 8
//      callers at once, with the most helper threads held at any moment.
// Usage: intake_bench [FOLDER ON A DISK] [ROUNDS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_workers.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "intake_bench: %s failed\n", what);
        std::exit(1);
    }
}

Bytes ReadAll(const std::string& path) {
    Bytes data;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    Check(f != nullptr, "reading a container");
    unsigned char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        data.insert(data.end(), buf, buf + n);
    }
    std::fclose(f);
    return data;
}

// A container of size plain bytes, made by the encoder in folder.
Bytes Container(const std::string& folder, size_t size, unsigned seed) {
    const std::string plain = folder + "/bench-plain";
    const std::string sealed = folder + "/bench-plain.enn";
    std::FILE* f = std::fopen(plain.c_str(), "wb");
    Check(f != nullptr, "writing a plain file");
    for (size_t i = 0; i < size; ++i) {
        std::fputc(static_cast<int>((i * 131 + seed) & 0xff), f);
    }
    std::fclose(f);
    Check(EnnEncryptFile("123456", EnnBuiltIn(), plain.c_str(), sealed.c_str()) == ENN_OK,
          "encrypting");
    Bytes data = ReadAll(sealed);
    std::remove(plain.c_str());
    std::remove(sealed.c_str());
    return data;
}

// Decodes container in memory; its plain length.
size_t DecodeInMemory(const Bytes& container, Bytes* plain) {
    char password[7];
    size_t len = 0;
    Check(EnnDecodeBuffer(EnnBuiltIn(), container.data(), container.size(), password, plain->data(),
                          plain->size(), &len, nullptr) == ENN_OK,
          "decoding in memory");
    return len;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::printf("intake_bench: libenn %s, %u cores, thread limit %d, folder %s\n", EnnVersion(),
                std::thread::hardware_concurrency(), EnnThreadLimit(), folder.c_str());

    // 1. Small containers: to files against in memory.
    constexpr int kSmall = 1000;
    std::vector<std::string> names;
    for (int i = 0; i < kSmall; ++i) {
        const Bytes c = Container(folder, 4096, static_cast<unsigned>(i));
        names.push_back(folder + "/bench-" + std::to_string(i) + ".enn");
        std::FILE* f = std::fopen(names.back().c_str(), "wb");
        Check(f != nullptr && std::fwrite(c.data(), 1, c.size(), f) == c.size(), "storing");
        std::fclose(f);
    }
    std::vector<Bytes> held;
    for (const std::string& name : names) {
        held.push_back(ReadAll(name));
    }
    Bytes plain(8192);
    double toFiles = 1e9;
    double inMemory = 1e9;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        for (int i = 0; i < kSmall; ++i) {
            const std::string out = folder + "/bench-out-" + std::to_string(i);
            Check(EnnDecryptFile(EnnBuiltIn(), names[i].c_str(), out.c_str()) == ENN_OK,
                  "decrypting to a file");
        }
        toFiles = std::min(toFiles, Seconds(start));
        start = Clock::now();
        for (const Bytes& c : held) {
            Check(DecodeInMemory(c, &plain) == 4096, "the plain length");
        }
        inMemory = std::min(inMemory, Seconds(start));
    }
    for (int i = 0; i < kSmall; ++i) {
        std::remove(names[i].c_str());
        std::remove((folder + "/bench-out-" + std::to_string(i)).c_str());
    }
    std::printf("1,000 containers of 4 KiB, best of %d:\n", rounds);
    std::printf("  to files, one by one (flushed):  %8.3f s\n", toFiles);
    std::printf("  in memory (EnnDecodeBuffer):     %8.3f s\n", inMemory);
    std::printf("  in memory is %.1f times as fast\n", toFiles / inMemory);

    // 2. Large containers: one caller against eight.
    constexpr size_t kLarge = 16u << 20;
    const Bytes large = Container(folder, kLarge, 7);
    Bytes onePlain(large.size());
    double one = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (int k = 0; k < 8; ++k) {
            Check(DecodeInMemory(large, &onePlain) == kLarge, "one caller");
        }
        one = std::min(one, Seconds(start));
    }
    double eight = 1e9;
    int mostHeld = 0;
    for (int r = 0; r < rounds; ++r) {
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done.load()) {
                mostHeld = std::max(mostHeld, EnnHelpersHeld());
                std::this_thread::yield();
            }
        });
        const auto start = Clock::now();
        std::vector<std::thread> callers;
        for (int t = 0; t < 8; ++t) {
            callers.emplace_back([&] {
                Bytes mine(large.size());
                Check(DecodeInMemory(large, &mine) == kLarge, "eight callers");
            });
        }
        for (std::thread& t : callers) {
            t.join();
        }
        eight = std::min(eight, Seconds(start));
        done = true;
        watcher.join();
    }
    std::printf("8 containers of 16 MiB in memory, best of %d:\n", rounds);
    std::printf("  one caller, one after another:   %8.3f s\n", one);
    std::printf("  8 callers at once:               %8.3f s (%.2f times the throughput)\n", eight,
                one / eight);
    std::printf("  most helpers held at once: %d (the limit allows %d)\n", mostHeld,
                std::max(EnnThreadLimit() - 1, 0));
    return 0;
}
