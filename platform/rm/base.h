// Inside the retained-mode layer: what every object is built on. The layer's
// one lock (every operation takes it), its error line on stderr, and the
// reference count the objects share.
#pragma once
#include <cstdio>
#include <mutex>

#include "platform/rm/rm.h"

namespace rm {

// Recursive, since releasing an object releases what it holds.
extern std::recursive_mutex g_lock;
using Guard = std::lock_guard<std::recursive_mutex>;

inline void report(const char* what) { fprintf(stderr, "retained mode: %s\n", what); }

template <class I>
struct Obj : I {
    ULONG refs = 1;  // under g_lock
    ULONG AddRef() override {
        Guard g(g_lock);
        return ++refs;
    }
    ULONG Release() override {
        Guard g(g_lock);
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    ~Obj() override = default;
};

template <class T>
void hold(T*& slot, T* next) {
    if (next) next->AddRef();
    if (slot) slot->Release();
    slot = next;
}

}  // namespace rm
