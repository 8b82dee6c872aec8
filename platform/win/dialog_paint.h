// The settings dialog painted into a plain pixel buffer: a classic grey
// dialog with bevels, radio buttons, push buttons and a dotted focus
// rectangle, text set with FreeType. Every backend shows these pixels, so
// the painting uses only integer coverage and integer blending and comes
// out the same on every machine.
#pragma once
#include <cstdint>

#include "platform/win/dialog.h"

// The dialog font file: DejaVu Sans from Debian's fonts-dejavu-core, the sans serif that stands in for the
// template's "Helv". The browser build ships the same file at the same path.
constexpr const char* kDialogFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The dialog's face colour, which fills the client area behind the controls.
constexpr uint32_t kDialogFace = 0xC0C0C0;

// Opens the dialog font at `points` at 96 dots per inch times `scale` (1, 2 or 3), once per (points, scale);
// false, with one line on stderr naming the file and the reason, when it cannot (the dialog is then drawn without text).
bool dialogFontOpen(int points, int scale);
// Closes the open font and makes later opens read `file` (nullptr: kDialogFontFile).
void dialogFontUseFile(const char* file);
// Dialog base units of the open font: the average advance of the 52 letters A-Z a-z (rounded: (sum + 26) / 52), and the
// line height in pixels. Both 0 when no font is open.
void dialogFontBaseUnits(int* baseX, int* baseY);
// Paints the dialog's client area: d.width x d.height pixels, 0x00RRGGBB, rows d.width * 4 bytes apart, lines and
// marks `scale` pixels thick.
void dialogPaint(const Dialog& d, int scale, uint32_t* pixels);
