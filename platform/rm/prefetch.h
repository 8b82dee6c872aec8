// Asking for memory before it is used. The workers share a frame's set-ups
// and its rows of pixels, and a line last held by another processor's cache
// takes long to fetch: a store to it stalls the writer, a load the reader.
// Asked for a little ahead, the fetches overlap the work.
#pragma once
#include <cstddef>
#include <vector>

namespace rm {

// The cache lines of [p, p + bytes) fetched to be written. On x86-64 it is
// PREFETCHW, which processors without it take as a no-op (the compiler would
// only emit it for a build that requires it).
inline void prefetchForWrite(const void* p, size_t bytes) {
    for (size_t at = 0; at < bytes; at += 64) {
#if defined(__x86_64__) || defined(__i386__)
        asm volatile("prefetchw %0" : : "m"(((const char*)p)[at]));
#else
        __builtin_prefetch((const char*)p + at, 1);
#endif
    }
}

// The same, to be read.
inline void prefetchForRead(const void* p, size_t bytes) {
    for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch((const char*)p + at, 0);
}

// The element `ahead` places past the end of v, when its storage holds it:
// fetched to be written, for a vector filled one element at a time.
template <class T>
inline void prefetchAppend(const std::vector<T>& v, size_t ahead) {
    if (v.size() + ahead < v.capacity()) prefetchForWrite(v.data() + v.size() + ahead, sizeof(T));
}

}  // namespace rm
