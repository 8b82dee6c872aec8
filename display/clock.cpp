// The frame clock: the duration of the previous pass in hundredths of a second.
#include "display/display.h"
#include "shell/state.h"

int64_t g_lastCounter = 0;

void updateFrameClock() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    float f = (float)(uint32_t)frequency.LowPart;
    QueryPerformanceCounter(&counter);
    uint32_t ticks = (uint32_t)counter.QuadPart - (uint32_t)g_lastCounter;  // wraps of the low half cancel
    g_frameDelta = (float)((double)ticks * 100.0 / (double)f);
    g_lastCounter = counter.QuadPart;
}
