// The settings dialog in pixels. Text comes from FreeType's 8-bit coverage
// and is blended in integers; the radio circle's samples are tested with
// integer distances; so the same pixels come out everywhere.
#include "platform/win/dialog_paint.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The classic three-dimensional colours.
constexpr uint32_t kFace = kDialogFace;
constexpr uint32_t kHighlight = 0xFFFFFF;
constexpr uint32_t kLight = 0xDFDFDF;
constexpr uint32_t kShadow = 0x808080;
constexpr uint32_t kDarkShadow = 0x000000;
constexpr uint32_t kWindow = 0xFFFFFF;
constexpr uint32_t kText = 0x000000;

// --- The font ----------------------------------------------------------------

FT_Library g_library = nullptr;
FT_Face g_face = nullptr;
std::string g_file = kDialogFontFile;
int g_points = 0, g_scale = 0;    // the size g_face is set to
int g_ascender = 0, g_height = 0;  // whole pixels

// FreeType's own message for an error code (its library is built without them).
const char* errorText(FT_Error error) {
#undef FTERRORS_H_
#define FT_ERROR_START_LIST switch (error) {
#define FT_ERRORDEF(e, v, s) \
    case v:                  \
        return s;
#define FT_ERROR_END_LIST }
#include FT_ERRORS_H
    return "unknown FreeType error";
}

void closeFace() {
    if (g_face) FT_Done_Face(g_face);
    g_face = nullptr;
    g_points = g_scale = g_ascender = g_height = 0;
}

bool fail(const char* what, FT_Error error) {
    fprintf(stderr, "%s: cannot %s the dialog font (%s)\n", g_file.c_str(), what, errorText(error));
    closeFace();
    return false;
}

// Loads the glyph of code point `c` into the face's slot, hinted lightly
// (vertical snapping only) and, if `render`, as 8-bit grey coverage.
// Characters the font lacks get its missing-glyph box.
bool loadGlyph(uint32_t c, bool render) {
    FT_Int32 flags = FT_LOAD_TARGET_LIGHT | (render ? FT_LOAD_RENDER : 0);
    return FT_Load_Glyph(g_face, FT_Get_Char_Index(g_face, c), flags) == 0;
}

int advance() { return (int)((g_face->glyph->advance.x + 32) >> 6); }

// Code points of UTF-8 text; a byte that starts no valid sequence is U+FFFD.
std::vector<uint32_t> decodeUtf8(const std::string& text) {
    std::vector<uint32_t> out;
    const auto* p = (const unsigned char*)text.data();
    size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned char b = p[i];
        int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        bool ok = length > 0 && i + length <= n;
        for (int k = 1; ok && k < length; k++) {
            ok = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && c >= kSmallest[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        out.push_back(ok ? c : 0xFFFD);
        i += ok ? length : 1;
    }
    return out;
}

int textWidth(const std::string& text) {
    if (!g_face) return 0;
    int w = 0;
    for (uint32_t c : decodeUtf8(text))
        if (loadGlyph(c, false)) w += advance();
    return w;
}

// --- Drawing -----------------------------------------------------------------

struct Canvas {
    uint32_t* pixels;
    int w, h;
    int s;  // scale

    void fill(int x, int y, int fw, int fh, uint32_t rgb) {
        int x0 = std::max(x, 0), y0 = std::max(y, 0), x1 = std::min(x + fw, w), y1 = std::min(y + fh, h);
        if (x1 <= x0) return;  // wholly left or right of the client area
        for (int py = y0; py < y1; py++) std::fill(pixels + (size_t)py * w + x0, pixels + (size_t)py * w + x1, rgb);
    }
    // Top and left edges in one colour, bottom and right in another, each
    // `s` pixels thick, `inset` lines of that thickness inside the rectangle.
    void bevel(const RECT& r, int inset, uint32_t topLeft, uint32_t bottomRight) {
        int x0 = r.left + inset * s, y0 = r.top + inset * s;
        int x1 = r.right - inset * s, y1 = r.bottom - inset * s;
        if (x1 - x0 < 2 * s || y1 - y0 < 2 * s) return;
        fill(x0, y0, x1 - x0 - s, s, topLeft);
        fill(x0, y0, s, y1 - y0 - s, topLeft);
        fill(x0, y1 - s, x1 - x0, s, bottomRight);
        fill(x1 - s, y0, s, y1 - y0, bottomRight);
    }
    // Dotted rectangle: dots of s x s, every other one, cut at its edges.
    void focusRect(int x0, int y0, int x1, int y1) {
        for (int x = x0; x < x1; x += 2 * s) {
            fill(x, y0, std::min(s, x1 - x), s, kText);
            fill(x, y1 - s, std::min(s, x1 - x), s, kText);
        }
        for (int y = y0; y < y1; y += 2 * s) {
            fill(x0, y, s, std::min(s, y1 - y), kText);
            fill(x1 - s, y, s, std::min(s, y1 - y), kText);
        }
    }
    // `rgb` over the pixel, covering `covered` of its 16 samples.
    void blend(int x, int y, uint32_t rgb, int covered) {
        if (x < 0 || y < 0 || x >= w || y >= h || covered <= 0) return;
        uint32_t& p = pixels[(size_t)y * w + x];
        uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            uint32_t a = (rgb >> shift) & 0xFF, b = (p >> shift) & 0xFF;
            out |= ((b * (16 - covered) + a * covered + 8) / 16) << shift;
        }
        p = out;
    }
    // Text in the dialog font, its line's top at y; returns its width.
    // Clipped to `clip`.
    int text(const std::string& s8, int x, int y, const RECT& clip) {
        if (!g_face || s8.empty()) return 0;
        int cx0 = std::max((int)clip.left, 0), cy0 = std::max((int)clip.top, 0);
        int cx1 = std::min((int)clip.right, w), cy1 = std::min((int)clip.bottom, h);
        int pen = x, baseline = y + g_ascender;
        for (uint32_t c : decodeUtf8(s8)) {
            if (!loadGlyph(c, true)) continue;
            const FT_GlyphSlot slot = g_face->glyph;
            const FT_Bitmap& bm = slot->bitmap;
            if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays == 256) {
                int left = pen + slot->bitmap_left, top = baseline - slot->bitmap_top;
                for (int row = 0; row < (int)bm.rows; row++) {
                    int py = top + row;
                    if (py < cy0 || py >= cy1) continue;
                    const unsigned char* src =
                        bm.buffer + (bm.pitch >= 0 ? row * bm.pitch : ((int)bm.rows - 1 - row) * -bm.pitch);
                    for (int col = 0; col < (int)bm.width; col++) {
                        int px = left + col;
                        if (px < cx0 || px >= cx1 || !src[col]) continue;
                        uint32_t& p = pixels[(size_t)py * w + px];
                        uint32_t keep = 255 - src[col], out = 0;  // black text: the background shows through
                        for (int shift = 0; shift < 24; shift += 8)
                            out |= ((((p >> shift) & 0xFF) * keep + 127) / 255) << shift;
                        p = out;
                    }
                }
            }
            pen += advance();
        }
        return pen - x;
    }
};

// A classic radio button circle, edges split on the diagonal (shadowed at
// the top left, lit at the bottom right), drawn with 4 x 4 samples a pixel.
// Distances are in eighths of a pixel, so the samples' centres are whole
// numbers and every test is exact.
void drawRadioCircle(Canvas& c, int left, int top, int size, bool checked, bool pressed) {
    const int R = 4 * size, ring = 8 * c.s;
    for (int py = 0; py < size; py++)
        for (int px = 0; px < size; px++) {
            int r = 0, g = 0, b = 0, covered = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    int dx = 8 * px + 2 * sx + 1 - R, dy = 8 * py + 2 * sy + 1 - R;
                    int d2 = dx * dx + dy * dy;
                    if (d2 > R * R) continue;
                    bool upperLeft = dx + dy < 0;
                    uint32_t col;
                    if (d2 > (R - ring) * (R - ring))
                        col = upperLeft ? kShadow : kHighlight;
                    else if (d2 > (R - 2 * ring) * (R - 2 * ring))
                        col = upperLeft ? kDarkShadow : kLight;
                    else if (checked && d2 < (16 * c.s) * (16 * c.s))
                        col = kText;
                    else
                        col = pressed ? kFace : kWindow;
                    r += col >> 16;
                    g += (col >> 8) & 0xFF;
                    b += col & 0xFF;
                    covered++;
                }
            if (!covered) continue;
            auto avg = [&](int sum) { return (uint32_t)((2 * sum + covered) / (2 * covered)); };
            c.blend(left + px, top + py, (avg(r) << 16) | (avg(g) << 8) | avg(b), covered);
        }
}

void drawControl(Canvas& c, const Dialog& d, int index) {
    const DialogControl& ctl = d.controls[index];
    if (!(ctl.style & WS_VISIBLE)) return;
    const RECT& r = ctl.rect;
    bool focused = d.focus == index, pressed = d.pressed == index;
    int h = r.bottom - r.top, th = g_face ? g_height : 13 * c.s;

    if (ctl.windowClass == "static") {
        c.text(ctl.text, r.left, r.top, r);
        return;
    }
    if (ctl.windowClass != "button") return;
    DWORD type = ctl.style & 0x0F;
    if (type == BS_AUTORADIOBUTTON || type == 4 /* BS_RADIOBUTTON */) {
        int size = 12 * c.s;
        int top = r.top + (h - size) / 2;
        drawRadioCircle(c, r.left, top, size, ctl.checked == (int)BST_CHECKED, pressed);
        int tx = r.left + size + 4 * c.s, ty = r.top + (h - th) / 2;
        int tw = c.text(ctl.text, tx, ty, r);
        if (focused) {
            if (tw > 0)
                c.focusRect(tx - c.s, std::max((int)r.top, ty - c.s), std::min((int)r.right, tx + tw + 2 * c.s),
                            std::min((int)r.bottom, ty + th + c.s));
            else
                c.focusRect(r.left, std::max((int)r.top, top - c.s), std::min((int)r.right, r.left + size + c.s),
                            std::min((int)r.bottom, top + size + c.s));
        }
        return;
    }
    // Push button: a raised bevel; pressed it sinks; with the focus it gets
    // the black frame of the default button and a dotted focus rectangle.
    c.fill(r.left, r.top, r.right - r.left, h, kFace);
    int inset = 0;
    if (focused || pressed) {
        c.bevel(r, 0, kDarkShadow, kDarkShadow);
        inset = 1;
    }
    if (pressed) {
        c.bevel(r, inset, kShadow, kShadow);
    } else {
        c.bevel(r, inset, kHighlight, kDarkShadow);
        c.bevel(r, inset + 1, kLight, kShadow);
    }
    int shift = pressed ? c.s : 0;
    int tw = textWidth(ctl.text);
    c.text(ctl.text, r.left + (r.right - r.left - tw) / 2 + shift, r.top + (h - th) / 2 + shift, r);
    if (focused) c.focusRect(r.left + 3 * c.s, r.top + 3 * c.s, r.right - 3 * c.s, r.bottom - 3 * c.s);
}

}  // namespace

bool dialogFontOpen(int points, int scale) {
    if (points <= 0) points = 8;
    scale = std::clamp(scale, 1, 3);
    if (g_face && points == g_points && scale == g_scale) return true;
    FT_Error error = 0;
    if (!g_library && (error = FT_Init_FreeType(&g_library)) != 0) {
        g_library = nullptr;
        return fail("start FreeType for", error);
    }
    if (!g_face && (error = FT_New_Face(g_library, g_file.c_str(), 0, &g_face)) != 0) {
        g_face = nullptr;
        return fail("open", error);
    }
    FT_UInt dpi = 96u * (FT_UInt)scale;
    if ((error = FT_Set_Char_Size(g_face, 0, points * 64, dpi, dpi)) != 0) return fail("size", error);
    // The size's ascender is rounded up and its height rounded to whole
    // pixels (26.6); rounding up again keeps that for any font.
    g_ascender = (int)((g_face->size->metrics.ascender + 63) >> 6);
    g_height = (int)((g_face->size->metrics.height + 63) >> 6);
    g_points = points;
    g_scale = scale;
    return true;
}

void dialogFontUseFile(const char* file) {
    closeFace();
    g_file = file ? file : kDialogFontFile;
}

void dialogFontBaseUnits(int* baseX, int* baseY) {
    int bx = 0, by = 0;
    if (g_face) {
        bx = (textWidth("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
        by = g_height;
    }
    if (baseX) *baseX = bx;
    if (baseY) *baseY = by;
}

void dialogPaint(const Dialog& d, int scale, uint32_t* pixels) {
    if (!pixels || d.width <= 0 || d.height <= 0) return;
    Canvas c{pixels, d.width, d.height, std::clamp(scale, 1, 3)};
    c.fill(0, 0, d.width, d.height, kFace);
    for (int i = 0; i < (int)d.controls.size(); i++) drawControl(c, d, i);
}
