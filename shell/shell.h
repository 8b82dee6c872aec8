// Entry, settings dialog, main window and main loop.
#pragma once
#include "platform/win/win.h"

INT_PTR settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void showError(const char* text);

// The message pump with the show pass; returns WM_QUIT's wParam.
int runMainLoop();
// One pass of the show: the software picture, the update of the current
// scene and its effects, the timeline, then the frame is rendered.
void runShowPass();

// Milliseconds of a pause numerator / delta: truncated toward zero to 64 bits
// and passed as its low 32 bits; no pause for a delta of 0 or below.
DWORD pauseMilliseconds(double numerator, float delta);

extern float g_shakeX, g_shakeY;
extern float g_finalAlpha;
extern int32_t g_musicRate;
