// The threads that share a container's cipher work with the caller's thread.
// Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_WORKERS_H
#define VELTRANE_CODEC_ENN_WORKERS_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// How many threads a large container is coded on: the machine's cores (at
// most 8), unless pinned.
int EnnThreadCount();

// Pins the thread count (tests, benchmarks); 0 takes it from the machine
// again. Applies to codings started afterwards.
void EnnPinThreadCount(int threads);

// Takes up to wanted helpers from what the process's thread limit leaves
// free (EnnSetThreadLimit, codec/enn.h): how many it got, maybe 0.
int EnnTakeHelpers(int wanted);

// Gives helpers taken with EnnTakeHelpers back.
void EnnGiveBackHelpers(int helpers);

// How many helpers the calls of the process hold now (tests).
int EnnHelpersHeld();

// How many helper threads are in their loop now, from their start until
// they end (tests): never more than are held.
int EnnHelpersRunning();

// Helper threads, started on first use and ended with the object, which
// holds them against the process's limit meanwhile. Run hands every helper
// the same job and returns once each has finished it; the caller's thread
// does its own share meanwhile.
class EnnWorkers {
  public:
    // For helpers taken with EnnTakeHelpers: given back when it goes.
    explicit EnnWorkers(int helpers) : helpers_(helpers), granted_(helpers) {}
    ~EnnWorkers();
    EnnWorkers(const EnnWorkers&) = delete;
    EnnWorkers& operator=(const EnnWorkers&) = delete;

    int helpers() const { return helpers_; }

    // Runs job on every helper and mine on the caller's thread; returns when
    // all are done.
    void Run(const std::function<void()>& job, const std::function<void()>& mine);

  private:
    void Loop();

    int helpers_;
    int granted_;
    bool started_ = false;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void()>* job_ = nullptr;
    unsigned long generation_ = 0;
    int running_ = 0;
    bool stopping_ = false;
};

// The chunks of one batch, handed out one at a time to whichever thread asks
// first, each marked when done so that a thread can follow them in order.
struct EnnChunkQueue {
    int count = 0;
    std::atomic<int> next{0};
    std::unique_ptr<std::atomic<bool>[]> done;
    int capacity = 0;

    // Starts a batch of count chunks.
    void Reset(int chunks);
    // The index of a chunk nobody has taken, or -1 when none is left.
    int Take() {
        const int i = next.fetch_add(1, std::memory_order_relaxed);
        return i < count ? i : -1;
    }
    void MarkDone(int i) { done[i].store(true, std::memory_order_release); }
    bool IsDone(int i) const { return done[i].load(std::memory_order_acquire); }
};

#endif
