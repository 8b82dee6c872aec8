#include "platform/rm/workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/win/env.h"

namespace rm {
namespace {

constexpr int kMaxThreads = 64;

// How long a worker looks for the next job before it sleeps: a frame's jobs
// come within this of each other, and of the call that wakes the workers as
// a pass begins.
constexpr auto kSpin = std::chrono::microseconds(250);

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// One a processor, or VELKOR_THREADS.
int defaultThreads() {
    const int processors = std::clamp((int)std::thread::hardware_concurrency(), 1, kMaxThreads);
    char instead[64];
    snprintf(instead, sizeof instead, "drawing with %d (one a processor)", processors);
    return (int)envSetting("VELKOR_THREADS", 1, kMaxThreads, true, processors, instead);
}

// Made on first use and never destroyed: its threads wait on it until the
// process ends. A job is open from the moment it is handed out until the
// calling thread has run out of parts; a worker joins it only while it is
// open, so the caller never waits for a worker that was slow to wake (on a
// busy machine, a whole time slice), only for those still drawing a part.
struct Pool {
    std::mutex lock;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    std::atomic<int> wanted{defaultThreads()};
    // The current job, written under the lock before the generation moves on.
    PartFn fn = nullptr;
    void* context = nullptr;
    int parts = 0;
    int helpers = 0;  // workers asked to help
    bool open = false;
    std::atomic<int> active{0};  // workers inside the job
    std::atomic<unsigned> generation{0};  // moved on under the lock
    std::atomic<int> next{0};

    void work() {
        for (int i; (i = next.fetch_add(1)) < parts;) fn(context, i);
    }

    void serve(int id) {
        unsigned seen = 0;
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            // A frame hands out jobs in quick succession: look for the next
            // one for a moment before sleeping, which costs a wake-up.
            guard.unlock();
            const auto until = std::chrono::steady_clock::now() + kSpin;
            for (int spin = 1; generation.load(std::memory_order_relaxed) == seen; spin++) {
                relax();
                if (spin % 64 == 0 && std::chrono::steady_clock::now() > until) break;
            }
            guard.lock();
            wake.wait(guard, [&] { return generation != seen; });
            seen = generation;
            if (id >= helpers || !open) continue;
            active++;
            guard.unlock();
            work();
            guard.lock();
            if (--active == 0 && !open) finished.notify_one();
        }
    }
};

Pool& pool() {
    static Pool* p = new Pool;
    return *p;
}

}  // namespace

int renderThreads() { return pool().wanted.load(); }

void setRenderThreads(int count) { pool().wanted = std::clamp(count, 1, kMaxThreads); }

void wakeWorkers() {
    Pool& p = pool();
    const int helpers = p.wanted.load() - 1;
    if (helpers <= 0) return;
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if ((int)p.threads.size() < helpers) return;  // the first job makes them
        p.helpers = helpers;
        p.open = false;  // a call to be ready, not a job
        p.generation++;
    }
    p.wake.notify_all();
}

void runParts(int parts, PartFn fn, void* context) {
    Pool& p = pool();
    int helpers = std::min(p.wanted.load(), parts) - 1;
    if (helpers <= 0) {
        for (int i = 0; i < parts; i++) fn(context, i);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(p.lock);
        while ((int)p.threads.size() < helpers) {
            int id = (int)p.threads.size();
            try {
                p.threads.emplace_back([&p, id] { p.serve(id); });
            } catch (const std::system_error& e) {
                // The system will not give more threads: draw with those there are.
                helpers = (int)p.threads.size();
                p.wanted = helpers + 1;
                fprintf(stderr, "renderer: cannot start more than %d worker threads (%s); drawing with %d\n", helpers,
                        e.what(), helpers + 1);
            }
        }
        p.fn = fn;
        p.context = context;
        p.parts = parts;
        p.helpers = helpers;
        p.open = true;
        p.next = 0;
        p.generation++;
    }
    p.wake.notify_all();
    p.work();
    std::unique_lock<std::mutex> guard(p.lock);
    p.open = false;
    // The workers still drawing finish soon: look for that for a moment
    // before sleeping, which would cost a wake-up.
    if (p.active.load() != 0) {
        guard.unlock();
        const auto until = std::chrono::steady_clock::now() + kSpin;
        for (int spin = 1; p.active.load(std::memory_order_acquire) != 0; spin++) {
            relax();
            if (spin % 64 == 0 && std::chrono::steady_clock::now() > until) break;
        }
        guard.lock();
    }
    p.finished.wait(guard, [&] { return p.active == 0; });
}

}  // namespace rm
