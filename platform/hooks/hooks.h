// Hooks for tests and the trace, apart from the backend: the portable layers
// ask whether a step is to fail and report what they do. Programs that need
// neither (velkor, the null and web backends) link hooks/none.cpp; the
// headless backend supplies real ones for velkor-capture and the tests.
#pragma once

// True when the run has been told to make the named step fail
// ("DirectDrawCreate", "SetCooperativeLevel", "SetDisplayMode",
// "CreateSurface:primary", "CreateSurface:offscreen", "GetAttachedSurface",
// "CreateClipper", "SetHWnd", "SetClipper", "Lock", "Lock:lost",
// "BASS_GetVersion", "BASS_Init", "AudioDevice"). Real failures are found by
// the layers themselves. Any thread.
bool hookShouldFail(const char* step);

// One line of the trace, where a run keeps one. Any thread.
void hookTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
