// A hint to the processor inside a spin-wait loop: it saves power and lets
// the other hardware thread of the core run.
#pragma once

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}
