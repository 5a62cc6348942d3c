// No plain byte outlives its use: while a call runs, every block of the heap
// it frees is searched for a marker that fills the plain data, and after it
// returns, the vector registers and the stack its frames used; a bound on the plain data holds the
// heap within the bound and one slice. A program of its own, as it takes
// over the allocator: glibc's malloc and free by name, or under a sanitizer
// the hooks its allocator offers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "test_util.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELTRANE_SANITIZER_HOOKS 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELTRANE_SANITIZER_HOOKS 1
#endif
#endif

#ifdef VELTRANE_SANITIZER_HOOKS
// The sanitizers' allocator interface, which GCC ships no header for.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                              void (*free_hook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);
}
#else
#include <malloc.h>
#endif

namespace {

// The plain data is this, over and over: a leftover of 31 bytes or more
// holds it whole.
constexpr char kMarker[] = "#plain-marker-5#";
constexpr size_t kMarkerLen = sizeof kMarker - 1;
static_assert(kMarkerLen == 16, "the marker's period");

std::atomic<bool> g_watching{false};
std::atomic<long> g_blocksWithPlain{0};
std::atomic<long> g_markersFreed{0};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

// Markers in size bytes at p, read through a volatile pointer: what the
// compiler may not assume about memory being freed.
long CountMarkers(const volatile unsigned char* p, size_t size) {
    long found = 0;
    size_t run = 0;  // bytes of the marker matched so far
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = p[i];
        if (c == static_cast<unsigned char>(kMarker[run])) {
            if (++run == kMarkerLen) {
                ++found;
                run = 0;
            }
        } else {
            run = c == static_cast<unsigned char>(kMarker[0]) ? 1 : 0;
        }
    }
    return found;
}

void Allocated(size_t size) {
    if (g_watching.load(std::memory_order_relaxed)) {
        const long long live = g_live += static_cast<long long>(size);
        long long peak = g_peak.load();
        while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
        }
    }
}

// Searches a block about to be freed while a call is watched. Every block is
// cleared as it goes, so that a block the allocator hands out again carries
// nothing of the test's own copies into a later watch.
void Freed(const volatile void* p, size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(const_cast<void*>(p));
    if (g_watching.load(std::memory_order_relaxed)) {
        g_live -= static_cast<long long>(size);
        const long found = CountMarkers(bytes, size);
        if (found > 0) {
            ++g_blocksWithPlain;
            g_markersFreed += found;
        }
    }
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace

#ifdef VELTRANE_SANITIZER_HOOKS
namespace {
void MallocHook(const volatile void* p, size_t size) {
    (void)p;
    Allocated(size);
}
void FreeHook(const volatile void* p) {
    if (p != nullptr) {
        Freed(p, __sanitizer_get_allocated_size(p));
    }
}
const int g_hooked = __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook);
}  // namespace

// The calls' frames must be on the real stack to be found there.
extern "C" const char* __asan_default_options() {
    return "detect_stack_use_after_return=0";
}
#else
// glibc's allocator under its own names; every free of the program, its
// libraries' included, comes here first.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) noexcept {
    void* p = __libc_malloc(size);
    if (p != nullptr) {
        Allocated(malloc_usable_size(p));
    }
    return p;
}

void* calloc(size_t count, size_t size) noexcept {
    void* p = __libc_calloc(count, size);
    if (p != nullptr) {
        Allocated(malloc_usable_size(p));
    }
    return p;
}

void* realloc(void* p, size_t size) noexcept {
    // Only counted: what moves stays live.
    if (p != nullptr && g_watching.load(std::memory_order_relaxed)) {
        g_live -= static_cast<long long>(malloc_usable_size(p));
    }
    void* moved = __libc_realloc(p, size);
    if (moved != nullptr) {
        Allocated(malloc_usable_size(moved));
    }
    return moved;
}

void free(void* p) noexcept {
    if (p != nullptr) {
        Freed(p, malloc_usable_size(p));
    }
    __libc_free(p);
}
}
#endif

namespace {

// Markers in the stack below the caller's frame, where the frames of the
// calls it made lay: a frame of this size left as the calls left it.
__attribute__((noinline)) long MarkersOnTheStack() {
    unsigned char region[512 * 1024];
    // The compiler may not assume what region holds, nor drop the reads.
    asm volatile("" : : "r"(region) : "memory");
    return CountMarkers(region, sizeof region);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Markers in the vector registers, saved as a signal or the dynamic linker's
// resolver of a lazily bound call saves them: on the stack, where they stay.
// On a machine with AVX-512, whose 32 registers glibc's copies use; none
// are looked at elsewhere.
__attribute__((target("avx512f"), noinline)) long MarkersInRegisters() {
    if (!__builtin_cpu_supports("avx512f")) {
        return 0;
    }
    alignas(64) unsigned char saved[32 * 64];
#define ENN_SAVE(n) "vmovdqu64 %%zmm" #n ", " #n "*64(%0)\n\t"
#define ENN_SAVE4(a, b, c, d) ENN_SAVE(a) ENN_SAVE(b) ENN_SAVE(c) ENN_SAVE(d)
    // clang-format off
    asm volatile(ENN_SAVE4(0, 1, 2, 3) ENN_SAVE4(4, 5, 6, 7) ENN_SAVE4(8, 9, 10, 11)
                 ENN_SAVE4(12, 13, 14, 15) ENN_SAVE4(16, 17, 18, 19) ENN_SAVE4(20, 21, 22, 23)
                 ENN_SAVE4(24, 25, 26, 27) ENN_SAVE4(28, 29, 30, 31)
                 : : "r"(saved) : "memory");
    // clang-format on
#undef ENN_SAVE4
#undef ENN_SAVE
    const long found = CountMarkers(saved, sizeof saved);
    volatile unsigned char* p = saved;
    for (size_t i = 0; i < sizeof saved; ++i) {
        p[i] = 0;
    }
    return found;
}

// Clears them, so that what a case finds there is of its own call.
__attribute__((target("avx512f"), noinline)) void ClearTheRegisters() {
    if (!__builtin_cpu_supports("avx512f")) {
        return;
    }
#define ENN_CLEAR(n) "vpxord %%zmm" #n ", %%zmm" #n ", %%zmm" #n "\n\t"
#define ENN_CLEAR4(a, b, c, d) ENN_CLEAR(a) ENN_CLEAR(b) ENN_CLEAR(c) ENN_CLEAR(d)
    // clang-format off
    asm volatile(ENN_CLEAR4(0, 1, 2, 3) ENN_CLEAR4(4, 5, 6, 7) ENN_CLEAR4(8, 9, 10, 11)
                 ENN_CLEAR4(12, 13, 14, 15) ENN_CLEAR4(16, 17, 18, 19) ENN_CLEAR4(20, 21, 22, 23)
                 ENN_CLEAR4(24, 25, 26, 27) ENN_CLEAR4(28, 29, 30, 31)
                 : : : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                   "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16",
                   "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
                   "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
    // clang-format on
#undef ENN_CLEAR4
#undef ENN_CLEAR
}
#else
long MarkersInRegisters() {
    return 0;
}
void ClearTheRegisters() {}
#endif

// Clears the stack below the caller's frame, so that what a case finds
// there is of its own call.
__attribute__((noinline)) void ClearTheStack() {
    volatile unsigned char region[512 * 1024];
    for (volatile unsigned char& c : region) {
        c = 0;
    }
}

// Leaves plain data in a frame of its own, as a careless call would.
__attribute__((noinline)) void LeavePlainOnTheStack() {
    volatile unsigned char local[4096];
    for (size_t i = 0; i < sizeof local; ++i) {
        local[i] = static_cast<unsigned char>(kMarker[i % kMarkerLen]);
    }
}

Bytes Plain(size_t size) {
    Bytes plain(size);
    for (size_t i = 0; i < size; ++i) {
        plain[i] = static_cast<unsigned char>(kMarker[i % kMarkerLen]);
    }
    return plain;
}

// True when size bytes at p are the plain data from its start. A byte at a
// time, through a volatile pointer: a vector register the compiler chose
// would hold plain data, for the next lazily bound call to leave on the
// stack.
bool IsPlain(const volatile unsigned char* p, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (p[i] != static_cast<unsigned char>(kMarker[i % kMarkerLen])) {
            return false;
        }
    }
    return true;
}

// The plain data wiped, so that the test's own copies leave nothing behind.
void Wipe(Bytes* bytes) {
    volatile unsigned char* p = bytes->data();
    for (size_t i = 0; i < bytes->size(); ++i) {
        p[i] = 0;
    }
}

// What one call left behind.
struct Leftover {
    long freedBlocks = 0;
    long freedMarkers = 0;
    long stackMarkers = 0;
    long registerMarkers = 0;
    long long peak = 0;  // bytes of heap above what was live before
};

std::ostream& operator<<(std::ostream& out, const Leftover& l) {
    return out << l.freedMarkers << " markers in " << l.freedBlocks << " freed blocks, "
               << l.stackMarkers << " on the stack, " << l.registerMarkers
               << " in vector registers, heap peak " << l.peak;
}

// Runs call with the heap watched, then looks at the stack it used.
template <typename Call>
Leftover Watch(Call call) {
    ClearTheStack();
    g_blocksWithPlain = 0;
    g_markersFreed = 0;
    g_live = 0;
    g_peak = 0;
    g_watching = true;
    ClearTheRegisters();
    call();
    Leftover left;
    left.registerMarkers = MarkersInRegisters();
    g_watching = false;
    left.freedBlocks = g_blocksWithPlain.load();
    left.freedMarkers = g_markersFreed.load();
    left.peak = g_peak.load();
    left.stackMarkers = MarkersOnTheStack();
    return left;
}

bool Clean(const Leftover& l) {
    return l.freedBlocks == 0 && l.stackMarkers == 0 && l.registerMarkers == 0;
}

class PlainScan : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef VELTRANE_SANITIZER_HOOKS
        ASSERT_NE(g_hooked, 0) << "the allocator's hooks are not installed";
#endif
        // The watch itself sees a block freed with the marker in it.
        Bytes* probe = new Bytes(Plain(4096));
        const Leftover seen = Watch([&] { delete probe; });
        ASSERT_GT(seen.freedMarkers, 0) << "freed blocks are not seen";
        ASSERT_GT(Watch(LeavePlainOnTheStack).stackMarkers, 0) << "the stack is not seen";
    }

    // A container of the plain data of size bytes, made outside any watch,
    // with the test's copy of the plain data wiped.
    Bytes Container(size_t size) {
        Bytes plain = Plain(size);
        WriteFile(in, plain);
        Wipe(&plain);
        EXPECT_EQ(EnnEncryptFile("123456", EnnBuiltIn(), in.c_str(), sealed.c_str()), ENN_OK);
        return ReadFile(sealed);
    }

    TempDir dir;
    std::string in = dir.File("batch.txt");
    std::string sealed = dir.File("batch.txt.enn");
    std::string out = dir.File("batch.out");
};

// The container with the length Block of chunk k changed: the digest
// renewed, so that the damage is told as a chunk laid out wrong.
Bytes WithLengthBlockDamaged(const Bytes& container, size_t k) {
    Bytes body(container.begin() + ENN_HEADER_SIZE, container.end());
    const size_t at = ENN_PAYLOAD_OFFSET - ENN_HEADER_SIZE + k * ENN_CHUNK_CIPHER;
    for (size_t i = 0; i < ENN_BLOCK_SIZE; ++i) {
        body[at + i] ^= 0x5a;
    }
    return WithDigestHeader(body);
}

// Three megabytes and a short last chunk.
constexpr size_t kLarge = 3 * 1000 * 1000 + 123;

// The result and fault of an EnnDecoder over container in feeds of step
// bytes (0: one feed), the plain data checked and the decoder freed.
struct Outcome {
    int result = 0;
    int fault = 0;
    bool plainRight = false;
};

Outcome InFeeds(const Bytes& container, size_t step, size_t maxPlain, size_t plainSize) {
    Outcome o;
    EnnDecoder* d = EnnDecoderNew(EnnBuiltIn(), maxPlain, &o.fault);
    if (d == nullptr) {
        return o;
    }
    const size_t piece = step == 0 ? container.size() : step;
    for (size_t at = 0; at < container.size(); at += piece) {
        EnnDecoderFeed(d, container.data() + at, std::min(piece, container.size() - at));
    }
    char password[7];
    const unsigned char* plain = nullptr;
    size_t plainLen = 0;
    o.result = EnnDecoderFinish(d, password, &plain, &plainLen, &o.fault);
    o.plainRight = o.result == ENN_OK && plainLen == plainSize && IsPlain(plain, plainLen);
    EnnDecoderFree(d);
    return o;
}

TEST_F(PlainScan, AGoodContainerLeavesNothingBehindThroughEveryDecoder) {
    const Bytes container = Container(kLarge);
    {
        int fault = -1;
        const Leftover left = Watch([&] {
            EXPECT_EQ(EnnDecryptFileEx(EnnBuiltIn(), sealed.c_str(), out.c_str(), 0, &fault),
                      ENN_OK);
        });
        EXPECT_TRUE(Clean(left)) << "EnnDecryptFileEx: " << left;
        Bytes written = ReadFile(out);
        EXPECT_TRUE(written.size() == kLarge && IsPlain(written.data(), written.size()));
        Wipe(&written);
    }
    {
        struct Sink {
            size_t at = 0;
            bool right = true;
        } sink;
        const EnnWriteFunc write = [](void* context, const unsigned char* buf, int size) {
            Sink* s = static_cast<Sink*>(context);
            // From where the plain data stands: each piece starts at s->at.
            const volatile unsigned char* bytes = buf;
            for (int i = 0; i < size; ++i, ++s->at) {
                s->right =
                    s->right && bytes[i] == static_cast<unsigned char>(kMarker[s->at % kMarkerLen]);
            }
            return 0;
        };
        char password[7];
        int fault = -1;
        const Leftover left = Watch([&] {
            EXPECT_EQ(EnnDecryptStreamEx(EnnBuiltIn(), sealed.c_str(), nullptr, 0, nullptr, write,
                                         nullptr, &sink, password, &fault),
                      ENN_OK);
        });
        EXPECT_TRUE(Clean(left)) << "EnnDecryptStreamEx: " << left;
        EXPECT_TRUE(sink.right && sink.at == kLarge);
    }
    for (size_t step : {size_t{0}, size_t{4007}, size_t{100000}}) {
        Outcome o;
        const Leftover left = Watch([&] { o = InFeeds(container, step, 0, kLarge); });
        EXPECT_EQ(o.result, ENN_OK) << step;
        EXPECT_TRUE(o.plainRight) << step;
        EXPECT_TRUE(Clean(left)) << "EnnDecoder in feeds of " << step << ": " << left;
    }
    {
        Bytes plain(container.size());
        char password[7];
        size_t plainLen = 0;
        int fault = -1;
        const Leftover left = Watch([&] {
            EXPECT_EQ(EnnDecodeBuffer(EnnBuiltIn(), container.data(), container.size(), password,
                                      plain.data(), plain.size(), &plainLen, &fault),
                      ENN_OK);
        });
        EXPECT_TRUE(Clean(left)) << "EnnDecodeBuffer: " << left;
        EXPECT_TRUE(plainLen == kLarge && IsPlain(plain.data(), plainLen));
        // Straight into the caller's buffer: no copy of the plain data on the heap.
        EXPECT_LT(left.peak, 2 << 20) << "EnnDecodeBuffer: " << left;
        Wipe(&plain);
    }
}

TEST_F(PlainScan, EncryptingAFileLeavesNothingBehind) {
    Bytes plain = Plain(kLarge);
    WriteFile(in, plain);
    Wipe(&plain);
    int fault = -1;
    const Leftover left = Watch([&] {
        EXPECT_EQ(EnnEncryptFileEx("123456", EnnBuiltIn(), in.c_str(), sealed.c_str(), &fault),
                  ENN_OK);
    });
    EXPECT_TRUE(Clean(left)) << left;
}

TEST_F(PlainScan, ADamagedContainerLeavesNothingBehindOnAnyWayOut) {
    const size_t size = 200 * 1000;
    const Bytes good = Container(size);
    const size_t chunks = size / ENN_CHUNK_PLAIN;
    const Bytes large = Container(kLarge);
    const size_t largeChunks = kLarge / ENN_CHUNK_PLAIN;
    const struct {
        const char* what;
        Bytes container;
    } cases[] = {
        // Most of the plain data decoded before the damage is found.
        {"a length Block near the end", WithLengthBlockDamaged(good, chunks - 5)},
        {"the first length Block", WithLengthBlockDamaged(good, 0)},
        // The layout fault in the last slice an EnnDecoder takes.
        {"a length Block in the last slice", WithLengthBlockDamaged(large, largeChunks - 3)},
        // The short last chunk, found only when the container ends.
        {"the last length Block", WithLengthBlockDamaged(large, largeChunks)},
    };
    for (const auto& c : cases) {
        for (size_t step :
             {size_t{0}, size_t{1000}, size_t{4008}, size_t{65536}, size_t{300 * 1000}}) {
            Outcome o;
            const Leftover left = Watch([&] { o = InFeeds(c.container, step, 0, 0); });
            EXPECT_EQ(o.result, ENN_ERR_GENERIC) << c.what;
            EXPECT_EQ(o.fault, ENN_FAULT_LAYOUT) << c.what;
            EXPECT_TRUE(Clean(left))
                << c.what << ", EnnDecoder in feeds of " << step << ": " << left;
        }
        Bytes plain(c.container.size(), 0xee);
        char password[7] = "xxxxxx";
        size_t plainLen = 12345;
        int fault = -1;
        const Leftover left = Watch([&] {
            EXPECT_EQ(EnnDecodeBuffer(EnnBuiltIn(), c.container.data(), c.container.size(),
                                      password, plain.data(), plain.size(), &plainLen, &fault),
                      ENN_ERR_GENERIC);
        });
        EXPECT_EQ(fault, ENN_FAULT_LAYOUT) << c.what;
        EXPECT_TRUE(Clean(left)) << c.what << ", EnnDecodeBuffer: " << left;
        // Nor is any left in the caller's buffer, nor anything given out.
        EXPECT_EQ(CountMarkers(plain.data(), plain.size()), 0) << c.what;
        EXPECT_EQ(plainLen, 12345u);
        EXPECT_STREQ(password, "xxxxxx");
    }
}

// A bound far below the container's plain data fails where it is passed:
// EnnDecodeBuffer holds nothing of the plain data beyond the caller's
// buffer, an EnnDecoder no more than its bound and a slice.
TEST_F(PlainScan, ABoundHoldsTheHeapWithinItAndOneSlice) {
    const size_t size = 12 * 1000 * 1000;
    const Bytes container = Container(size);
    const long long slice = 256 * ENN_CHUNK_PLAIN;
    for (size_t bound : {size_t{16}, size_t{5 * 1000 * 1000}}) {
        Bytes plain(bound, 0xee);
        char password[7];
        size_t plainLen = 0;
        int fault = -1;
        const Leftover left = Watch([&] {
            EXPECT_EQ(EnnDecodeBuffer(EnnBuiltIn(), container.data(), container.size(), password,
                                      plain.data(), plain.size(), &plainLen, &fault),
                      ENN_ERR_GENERIC);
        });
        EXPECT_EQ(fault, ENN_FAULT_TOO_LARGE);
        EXPECT_TRUE(Clean(left)) << "EnnDecodeBuffer: " << left;
        EXPECT_EQ(CountMarkers(plain.data(), plain.size()), 0);
        EXPECT_LT(left.peak, 2 * slice) << "EnnDecodeBuffer bound " << bound << ": " << left;
        for (size_t step : {size_t{0}, size_t{4008}, size_t{1} << 20}) {
            Outcome o;
            const Leftover fed = Watch([&] { o = InFeeds(container, step, bound, 0); });
            EXPECT_EQ(o.result, ENN_ERR_GENERIC);
            EXPECT_EQ(o.fault, ENN_FAULT_TOO_LARGE);
            EXPECT_TRUE(Clean(fed)) << "EnnDecoder in feeds of " << step << ": " << fed;
            // Its own buffer, which grows by copy up to the bound, is the
            // old one and the new one for a moment.
            EXPECT_LT(fed.peak, 2 * static_cast<long long>(bound) + 2 * slice)
                << "EnnDecoder bound " << bound << " in feeds of " << step << ": " << fed;
        }
    }
}

}  // namespace
