// The C runtime's pseudo-random generator as the show's own platform had it:
// results 0 to 32767 from a linear congruential sequence kept per thread,
// starting from 1 on each (never seeded unless srand says otherwise). The C
// libraries here each have their own generator (glibc's and musl's differ,
// and both reach 2^31 - 1), which would make the jitter of the show's
// pictures differ from one build to the next. These definitions take the
// place of the C library's for the program's own code, at link time; hidden,
// they are not offered to the shared libraries it loads, which keep theirs.
#include <cstdint>

namespace {
thread_local uint32_t g_holdRand = 1;
}

extern "C" __attribute__((visibility("hidden"))) int rand(void) {
    g_holdRand = g_holdRand * 214013u + 2531011u;
    return (int)((g_holdRand >> 16) & 0x7FFFu);
}

extern "C" __attribute__((visibility("hidden"))) void srand(unsigned seed) { g_holdRand = seed; }
