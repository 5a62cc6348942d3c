#include "codec/enn_workers.h"

#include <algorithm>

#include "codec/enn.h"

namespace {

std::atomic<int> g_pinnedThreads{0};

// The process's limit on threads coding at once, and the helpers that calls
// hold now: a call takes what is free, and gives it back when it ends.
constexpr int kDefaultThreadLimit = 8;
std::atomic<int> g_threadLimit{kDefaultThreadLimit};
std::atomic<int> g_helpersHeld{0};
std::atomic<int> g_helpersRunning{0};

}  // namespace

int EnnSetThreadLimit(int threads) {
    return g_threadLimit.exchange(std::clamp(threads, 0, 64));
}

int EnnThreadLimit() {
    return g_threadLimit.load();
}

int EnnTakeHelpers(int wanted) {
    int held = g_helpersHeld.load();
    for (;;) {
        const int free = std::max(g_threadLimit.load() - 1, 0) - held;
        const int take = std::clamp(wanted, 0, std::max(free, 0));
        if (take == 0) {
            return 0;
        }
        if (g_helpersHeld.compare_exchange_weak(held, held + take)) {
            return take;
        }
    }
}

void EnnGiveBackHelpers(int helpers) {
    g_helpersHeld.fetch_sub(helpers);
}

int EnnHelpersHeld() {
    return g_helpersHeld.load();
}

int EnnHelpersRunning() {
    return g_helpersRunning.load();
}

int EnnThreadCount() {
    const int pinned = g_pinnedThreads.load();
    if (pinned > 0) {
        return pinned;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, 8);
}

void EnnPinThreadCount(int threads) {
    g_pinnedThreads.store(std::max(threads, 0));
}

EnnWorkers::~EnnWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
    // Only once the threads are gone: another call that takes the helpers
    // starts threads of its own, and the limit counts threads alive.
    EnnGiveBackHelpers(granted_);
}

void EnnWorkers::Run(const std::function<void()>& job, const std::function<void()>& mine) {
    if (!started_) {
        started_ = true;
        try {
            for (int i = 0; i < helpers_; ++i) {
                threads_.emplace_back(&EnnWorkers::Loop, this);
            }
        } catch (...) {
            // The system gives fewer threads: the caller's does the rest.
        }
        helpers_ = static_cast<int>(threads_.size());
        EnnGiveBackHelpers(granted_ - helpers_);  // those that never started
        granted_ = helpers_;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        running_ = helpers_;
        ++generation_;
    }
    wake_.notify_all();
    // The job lives in the caller's frame: no helper may still be in it when
    // this returns, nor when mine() leaves by unwinding (its caller's thread
    // ended in one of the caller's functions).
    struct AwaitHelpers {
        EnnWorkers* workers;
        ~AwaitHelpers() {
            std::unique_lock<std::mutex> lock(workers->mutex_);
            workers->done_.wait(lock, [this] { return workers->running_ == 0; });
            workers->job_ = nullptr;
        }
    } awaiting{this};
    mine();
}

void EnnWorkers::Loop() {
    struct Running {
        Running() { ++g_helpersRunning; }
        ~Running() { --g_helpersRunning; }
    } running;
    unsigned long seen = 0;
    for (;;) {
        const std::function<void()>* job = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) {
                return;
            }
            seen = generation_;
            job = job_;
        }
        (*job)();
        std::lock_guard<std::mutex> lock(mutex_);
        if (--running_ == 0) {
            done_.notify_one();
        }
    }
}

void EnnChunkQueue::Reset(int chunks) {
    if (chunks > capacity) {
        done.reset(new std::atomic<bool>[static_cast<size_t>(chunks)]);
        capacity = chunks;
    }
    for (int i = 0; i < chunks; ++i) {
        done[i].store(false, std::memory_order_relaxed);
    }
    count = chunks;
    next.store(0, std::memory_order_relaxed);
}
