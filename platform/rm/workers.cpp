#include "platform/rm/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace rm {
namespace {

constexpr int kMaxThreads = 64;

int defaultThreads() {
    const char* text = std::getenv("VELKOR_THREADS");
    if (text && *text) {
        char* end = nullptr;
        long n = std::strtol(text, &end, 10);
        if (*end == '\0' && n >= 1 && n <= kMaxThreads) return (int)n;
    }
    return std::clamp((int)std::thread::hardware_concurrency(), 1, kMaxThreads);
}

// Made on first use and never destroyed: its threads wait on it until the
// process ends.
struct Pool {
    std::mutex lock;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    std::atomic<int> wanted{defaultThreads()};
    // The current job, written under the lock before the generation moves on.
    PartFn fn = nullptr;
    void* context = nullptr;
    int parts = 0;
    int helpers = 0;  // workers taking part in it
    int busy = 0;     // of those, still working
    unsigned generation = 0;
    std::atomic<int> next{0};

    void work() {
        for (int i; (i = next.fetch_add(1)) < parts;) fn(context, i);
    }

    void serve(int id) {
        unsigned seen = 0;
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return generation != seen; });
            seen = generation;
            if (id >= helpers) continue;
            guard.unlock();
            work();
            guard.lock();
            if (--busy == 0) finished.notify_one();
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
            p.threads.emplace_back([&p, id] { p.serve(id); });
        }
        p.fn = fn;
        p.context = context;
        p.parts = parts;
        p.helpers = helpers;
        p.busy = helpers;
        p.next = 0;
        p.generation++;
    }
    p.wake.notify_all();
    p.work();
    std::unique_lock<std::mutex> guard(p.lock);
    p.finished.wait(guard, [&] { return p.busy == 0; });
}

}  // namespace rm
