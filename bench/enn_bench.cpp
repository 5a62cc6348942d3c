// Measures the codec against a baseline and against the limits of this
// machine, all in one run:
//   - the baseline: OpenSSL's libcrypto doing the same cipher and digest work
//     in memory (Blowfish-ECB over the bytes under one key schedule, then MD5
//     over the result), on one thread;
//   - the limits: the product's Blowfish alone and MD5 alone on one thread, a
//     write of the same size flushed to disk, and from the first two the
//     two-core limit, both cores busy with the cipher and the digest;
//   - the in-memory cores, encoding and decoding, on one thread and on the
//     machine's threads;
//   - EnnEncryptFile and EnnDecryptFile, files on disk, durable as always.
// Every figure is the best of several rounds, taken in turn, so that a noisy
// neighbour hurts all alike, and is given as a ratio to the baseline.
//
// Usage: enn_bench [MiB] [rounds] [threads]   (default 64 MiB, 5 rounds,
// threads from the machine)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_core.h"
#include "openssl_baseline.h"

namespace {

const char kKey[] = "A fifty-six byte key for the benchmark, like the tool's.";
using Bytes = std::vector<unsigned char>;

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Bytes Fill(size_t size) {
    Bytes data(size);
    uint32_t x = 2463534242u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    return data;
}

volatile unsigned char g_sink;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "enn_bench: %s failed\n", what);
        std::exit(1);
    }
}

void BlowfishAlone(const Bytes& plain, Bytes& sealed) {
    EnnCipher cipher;
    EnnKeyCipher(kKey, &cipher);
    BlowfishEncryptBlocks(&cipher.ctx, plain.data(), sealed.data(), plain.size() / 8);
    g_sink = sealed[0];
}

void Md5Alone(const Bytes& data) {
    MD5_CTX md5;
    MD5Init(&md5);
    for (size_t at = 0; at < data.size(); at += 1 << 20) {
        MD5Update(&md5, data.data() + at,
                  static_cast<unsigned int>(std::min<size_t>(1 << 20, data.size() - at)));
    }
    char hex[33];
    MD5FinalHex(&md5, hex);
    g_sink = static_cast<unsigned char>(hex[0]);
}

void FlushedWrite(const std::string& path, const Bytes& data) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(fd >= 0, "open");
    for (size_t at = 0; at < data.size();) {
        const ssize_t put =
            write(fd, data.data() + at, std::min<size_t>(1 << 20, data.size() - at));
        Check(put > 0, "write");
        at += static_cast<size_t>(put);
    }
    Check(fsync(fd) == 0 && close(fd) == 0, "fsync");
}

// The in-memory cores, fed a batch at a time as the file operations feed them.
void EncodeCore(const Bytes& plain, Bytes& container) {
    EnnCipher cipher;
    EnnKeyCipher(kKey, &cipher);
    EnnEncoding e;
    EnnEncodeStart(&e, &cipher.ctx, "123456", container.data());
    size_t put = ENN_PAYLOAD_OFFSET;
    const size_t batch = kEnnBatchChunks * ENN_CHUNK_PLAIN;
    for (size_t at = 0; at < plain.size(); at += batch) {
        const int n = static_cast<int>(std::min(batch, plain.size() - at));
        put += static_cast<size_t>(EnnEncodeFeed(&e, plain.data() + at, n, container.data() + put));
    }
    char header[ENN_HEADER_SIZE + 1];
    put += static_cast<size_t>(EnnEncodeFinish(&e, container.data() + put, header));
    std::memcpy(container.data(), header, ENN_HEADER_SIZE);
    container.resize(put);
}

void DecodeCore(const Bytes& container, Bytes& plain) {
    EnnCipher cipher;
    EnnKeyCipher(kKey, &cipher);
    EnnDecoding d;
    EnnDecodeStart(&d, &cipher.ctx);
    size_t got =
        static_cast<size_t>(EnnDecodeFeed(&d, container.data(), ENN_PAYLOAD_OFFSET, plain.data()));
    const size_t batch = kEnnBatchChunks * ENN_CHUNK_CIPHER;
    for (size_t at = ENN_PAYLOAD_OFFSET; at < container.size(); at += batch) {
        const int n = static_cast<int>(std::min(batch, container.size() - at));
        got += static_cast<size_t>(EnnDecodeFeed(&d, container.data() + at, n, plain.data() + got));
    }
    int last = 0;
    Check(EnnDecodeFinish(&d, plain.data() + got, &last) == ENN_FAULT_NONE, "decoding");
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int threads = argc > 3 ? std::atoi(argv[3]) : EnnThreadCount();
    const size_t size = mib << 20;

    // On disk, not in /tmp, which may be memory.
    char folder[] = "enn-bench-XXXXXX";
    Check(mkdtemp(folder) != nullptr, "mkdtemp");
    const std::string plainPath = std::string(folder) + "/plain.bin";
    const std::string containerPath = plainPath + ".enn";
    const std::string restoredPath = std::string(folder) + "/restored.bin";
    const std::string writtenPath = std::string(folder) + "/written.bin";
    const Bytes plain = Fill(size);
    Bytes sealed(size);
    Bytes container(size / ENN_CHUNK_PLAIN * ENN_CHUNK_CIPHER + 2 * ENN_CHUNK_CIPHER);
    Bytes restored(size + ENN_CHUNK_PLAIN);
    FlushedWrite(plainPath, plain);

    const auto withThreads = [](int n, void (*run)(const Bytes&, Bytes&), const Bytes& a,
                                Bytes& b) {
        return [n, run, &a, &b] {
            EnnPinThreadCount(n);
            run(a, b);
        };
    };
    const struct {
        const char* name;
        std::function<void()> run;
    } jobs[] = {
        {"OpenSSL baseline (Blowfish-ECB + MD5, in memory)",
         [&] { g_sink = OpenSslBaseline(kKey, plain.data(), sealed.data(), plain.size()); }},
        {"our Blowfish alone, one thread", [&] { BlowfishAlone(plain, sealed); }},
        {"our MD5 alone, one thread", [&] { Md5Alone(plain); }},
        {"a write of the same size, flushed", [&] { FlushedWrite(writtenPath, plain); }},
        {"encode core, one thread", withThreads(1, EncodeCore, plain, container)},
        {"decode core, one thread", withThreads(1, DecodeCore, container, restored)},
        {"encode core, all threads", withThreads(threads, EncodeCore, plain, container)},
        {"decode core, all threads", withThreads(threads, DecodeCore, container, restored)},
        {"EnnEncryptFile, on disk, flushed",
         [&] {
             EnnPinThreadCount(threads);
             Check(
                 EnnEncryptFile("123456", kKey, plainPath.c_str(), containerPath.c_str()) == ENN_OK,
                 "EnnEncryptFile");
         }},
        {"EnnDecryptFile, on disk, flushed",
         [&] {
             EnnPinThreadCount(threads);
             Check(EnnDecryptFile(kKey, containerPath.c_str(), restoredPath.c_str()) == ENN_OK,
                   "EnnDecryptFile");
         }},
    };
    constexpr size_t kJobs = sizeof jobs / sizeof jobs[0];
    std::vector<double> best(kJobs, 1e30);
    // A first round, not counted, brings the files into the page cache.
    for (int round = -1; round < rounds; ++round) {
        for (size_t i = 0; i < kJobs; ++i) {
            const double t = Seconds(jobs[i].run);
            if (round >= 0) {
                best[i] = std::min(best[i], t);
            }
        }
    }
    unlink(plainPath.c_str());
    unlink(containerPath.c_str());
    unlink(restoredPath.c_str());
    unlink(writtenPath.c_str());
    rmdir(folder);

    const double mb = static_cast<double>(size) / 1e6;
    const double baseline = mb / best[0];
    // Both cores busy with the cipher and the digest of every byte.
    const double oneCore = 1.0 / (best[1] / mb + best[2] / mb);
    const double limit = std::min(threads, 2) * oneCore;
    std::printf("%zu MiB, best of %d rounds, %d threads, MB/s of plain data\n", mib, rounds,
                threads);
    for (size_t i = 0; i < kJobs; ++i) {
        const double rate = mb / best[i];
        std::printf("  %-50s %8.1f MB/s  %5.2f x baseline", jobs[i].name, rate, rate / baseline);
        if (i >= 4) {
            std::printf("  %3.0f %% of the limit", 100 * rate / limit);
        }
        std::printf("\n");
    }
    std::printf("  %-50s %8.1f MB/s  %5.2f x baseline\n", "limit: cipher and digest on two cores",
                limit, limit / baseline);
    return 0;
}
