// What the Windows slice's core (window.cpp) offers the other portable layers
// and the backends, beyond the Windows API itself.
#pragma once
#include <cstdint>

#include "platform/win/win.h"

struct SysWindow;

// The backend's part of a window; null for a window the backend could not
// make, or no window.
SysWindow* winNative(HWND window);
// Appends a message to the main thread's queue; from any thread.
void winQueueMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The oldest window not yet destroyed, or null.
HWND winFirstWindow();
// Screen position of the client area's top-left corner and its size
// (640 x 480 at the origin for no window).
void winClientArea(HWND window, int* screenX, int* screenY, int* width, int* height);
// Turns of the message loop that found no message: the show's passes.
int64_t winPassCount();
