// Inside the headless backend: the scheduler and display shared by its files.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win/win.h"

// Gives up the turn until the virtual clock reaches `wake` (ticks).
void vtBlockUntil(int64_t wake);
// Waits for the next vertical blank of the virtual display.
void vtWaitVblank();
[[noreturn]] void vtExitProcess(int code);
// Puts pixels on the virtual display (clipped); shown from the next blank on.
void vtShowPicture(const uint32_t* pixels, int width, int height, int pitch, int x, int y);
// Shows the whole display drawn larger, at the render scale's size.
void vtShowDetailed(const uint32_t* pixels, int width, int height, int pitch);
double vtRenderScale();
int vtRenderSamples();
// The trace (hooks_virtual.cpp) is closed once, when the process ends.
void vtCloseTrace();
// The audio output consumes samples up to the virtual time `ticks` (audio_virtual.cpp).
void vtAudioAdvance(int64_t ticks);
// The process ends: the output closes, and its fade-out goes to the sink.
void vtAudioEnd();
// The picture as an opaque PNG file (png_writer.cpp); says why when it cannot.
bool vtWritePng(const std::string& path, const uint32_t* pixels, int width, int height);
