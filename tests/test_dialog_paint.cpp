// The settings dialog in pixels: the linked template laid out with the base
// units of the dialog font, painted, and looked at as a viewer would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/win/dialog.h"
#include "platform/win/dialog_paint.h"
#include "platform/win/win.h"
#include "stderr_lines.h"

namespace {

enum { kLabel, kFullscreen, kWindowed, kLaunch, kExit };

// DIALOG_1 laid out for the dialog font at `scale` (6 x 13 units a scale
// without it), Fullscreen checked, nothing focused.
Dialog laidOut(int scale) {
    const ResourceEntry* e = g_resources;
    while (e->name && strcmp(e->name, "DIALOG_1") != 0) e++;
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(e->name && dialogParseTemplate(e->data, e->size, &t, &error)) << error;
    int bx = 6 * scale, by = 13 * scale;
    if (dialogFontOpen(t.pointSize, scale)) dialogFontBaseUnits(&bx, &by);
    Dialog d;
    dialogLayout(t, bx, by, &d);
    EXPECT_EQ(d.controls.size(), 5u);
    d.controls[kFullscreen].checked = BST_CHECKED;
    d.focus = d.pressed = -1;
    return d;
}

struct Picture {
    int w;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[(size_t)y * w + x]; }
};

// Painted over garbage, all of which must be painted over.
Picture paint(const Dialog& d, int scale) {
    Picture p{d.width, std::vector<uint32_t>((size_t)d.width * d.height, 0x5A17E3)};
    dialogPaint(d, scale, p.px.data());
    return p;
}

Dialog withoutTexts(Dialog d) {
    for (DialogControl& c : d.controls) c.text.clear();
    return d;
}

// The bounding box and number of the pixels that differ; each must be in `r`.
struct Changes { RECT box{1 << 20, 1 << 20, -1, -1}; int count = 0; };
Changes changesWithin(const Picture& a, const Picture& b, const RECT& r) {
    Changes c;
    for (LONG i = 0, x, y; i < (LONG)a.px.size(); i++) {
        if (a.px[i] == b.px[i]) continue;
        x = i % a.w, y = i / a.w, c.count++;
        EXPECT_TRUE(x >= r.left && x < r.right && y >= r.top && y < r.bottom) << x << "," << y << " outside";
        c.box = {std::min(c.box.left, x), std::min(c.box.top, y), std::max(c.box.right, x + 1),
                 std::max(c.box.bottom, y + 1)};
    }
    return c;
}

// What control i's text alone adds to the dialog without texts.
Changes textOf(const Dialog& d, int i, int scale) {
    Dialog one = withoutTexts(d);
    one.controls[i].text = d.controls[i].text;
    return changesWithin(paint(withoutTexts(d), scale), paint(one, scale), d.controls[i].rect);
}

TEST(DialogPaint, TextsSitInTheirControlsOverAPlainFace) {
    for (int scale : {1, 2}) {
        Dialog d = laidOut(scale);
        Picture bare = paint(withoutTexts(d), scale);
        for (int i = 0; i < (int)bare.px.size(); i++)
            ASSERT_TRUE(dialogControlAt(d, i % d.width, i / d.width) >= 0 || bare.px[i] == kDialogFace) << i;
        for (int i : {kLabel, kWindowed, kLaunch, kExit}) {
            const RECT& r = d.controls[i].rect;
            Changes c = textOf(d, i, scale);
            EXPECT_GT(c.count, 20 * scale * scale) << d.controls[i].text;
            // Centred vertically; push buttons centre it across, the label
            // starts at its left edge and a radio button's after the circle.
            EXPECT_NEAR(c.box.top + c.box.bottom, r.top + r.bottom, 2 * scale) << d.controls[i].text;
            if (i >= kLaunch) {
                EXPECT_NEAR(c.box.left + c.box.right, r.left + r.right, 3 * scale) << d.controls[i].text;
            } else {
                EXPECT_NEAR(c.box.left, r.left + (i == kLabel ? 1 : 16) * scale, scale) << d.controls[i].text;
            }
        }
        Dialog narrow = d;  // text cut at its control's edges
        narrow.controls[kLabel].rect.right -= 30 * scale;
        narrow.controls[kLabel].rect.bottom -= 4 * scale;
        EXPECT_GT(textOf(narrow, kLabel, scale).count, 0);
        EXPECT_EQ(paint(d, scale).px, paint(d, scale).px);
    }
}

TEST(DialogPaint, RadioMarkFocusAndPressShowInTheirControlOnly) {
    for (int scale : {1, 2}) {
        Dialog d = laidOut(scale);
        Picture plain = paint(d, scale);
        for (int i : {kFullscreen, kWindowed}) {  // round circles, the checked one marked
            const RECT& r = d.controls[i].rect;
            int left = r.left, top = r.top + (r.bottom - r.top - 12 * scale) / 2, c = 6 * scale;
            EXPECT_EQ((plain.at(left + c, top + c) & 0xFF) < 0x40, i == kFullscreen) << i << " at " << scale;
            EXPECT_EQ(plain.at(left, top), kDialogFace);                    // the corners stay face
            EXPECT_LT(plain.at(left, top + c) & 0xFF, kDialogFace & 0xFF);  // the shadowed left edge
        }
        for (int i : {kWindowed, kLaunch}) {
            Dialog focused = d;
            focused.focus = i;
            Picture f = paint(focused, scale);
            EXPECT_GT(changesWithin(plain, f, d.controls[i].rect).count, 20 * scale);
            const RECT& r = d.controls[i].rect;
            EXPECT_EQ(f.at(r.left, r.top) == 0, i == kLaunch);  // the black frame
            if (i == kLaunch) {                                  // and the dotted rectangle
                EXPECT_EQ(f.at(r.left + 3 * scale, r.top + 3 * scale), 0u);
                EXPECT_NE(f.at(r.left + 4 * scale, r.top + 3 * scale), 0u);
            }
        }
        // Pressed, the face inside the bevels is the same picture moved by the scale.
        Dialog pressed = d;
        pressed.pressed = kLaunch;
        Picture p = paint(pressed, scale);
        const RECT& r = d.controls[kLaunch].rect;
        changesWithin(plain, p, r);
        int text = 0;
        for (int y = r.top + 2 * scale; y < r.bottom - 3 * scale; y++)
            for (int x = r.left + 2 * scale; x < r.right - 3 * scale; x++) {
                EXPECT_EQ(p.at(x + scale, y + scale), plain.at(x, y)) << x << "," << y;
                text += plain.at(x, y) != kDialogFace;
            }
        EXPECT_GT(text, 20 * scale * scale);
    }
}

// Base units, and the width and height of the label's and Launch!'s text.
std::vector<LONG> sizesAt(int scale) {
    Dialog d = laidOut(scale);
    int bx, by;
    dialogFontBaseUnits(&bx, &by);
    RECT a = textOf(d, kLabel, scale).box, b = textOf(d, kLaunch, scale).box;
    return {bx, by, a.right - a.left, a.bottom - a.top, b.right - b.left, b.bottom - b.top};
}

TEST(DialogPaint, DoubleScaleDoublesBaseUnitsAndText) {
    std::vector<LONG> one = sizesAt(1), two = sizesAt(2);
    for (size_t k = 0; k < one.size(); k++) EXPECT_NEAR(two[k], 2 * one[k], 1 + one[k] / 8) << k;
}

// Controls partly or wholly outside the client area (a template may put them
// anywhere) are cut at its edges: nothing is written beyond the picture.
TEST(DialogPaint, ControlsOutsideTheClientAreaAreCut) {
    Dialog d = laidOut(1);
    d.controls[kLaunch].rect = RECT{d.width + 5, 2, d.width + 60, 20};        // right of it
    d.controls[kExit].rect = RECT{-30, d.height - 8, 40, d.height + 30};     // over the bottom left
    d.controls[kWindowed].rect = RECT{-100, -50, -10, -5};                    // above and left
    d.focus = kExit;
    d.pressed = kLaunch;
    const size_t n = (size_t)d.width * d.height;
    std::vector<uint32_t> guarded(n + 64, 0xDEADBEEF);
    dialogPaint(d, 1, guarded.data());
    EXPECT_TRUE(std::all_of(guarded.begin() + n, guarded.end(), [](uint32_t p) { return p == 0xDEADBEEF; }));
    EXPECT_EQ(guarded[(size_t)(d.height - 8) * d.width + 1], 0u);  // the focused Exit's black frame, where it shows
}

TEST(DialogPaint, WithoutTheFontFramesAreDrawnAndNoText) {
    dialogFontUseFile("/nonexistent/DejaVuSans.ttf");
    std::vector<std::string> lines = stderrLines([] { EXPECT_FALSE(dialogFontOpen(8, 1)); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "/nonexistent/DejaVuSans.ttf")) << lines[0];
    int units[2] = {-1, -1};
    dialogFontBaseUnits(&units[0], &units[1]);
    EXPECT_EQ(units[0] | units[1], 0);
    Dialog d;
    stderrLines([&] { d = laidOut(1); });
    d.focus = kLaunch;
    Picture p = paint(d, 1);
    EXPECT_EQ(p.px, paint(withoutTexts(d), 1).px);
    const RECT &launch = d.controls[kLaunch].rect, &exit = d.controls[kExit].rect;
    EXPECT_EQ(std::tuple(p.at(launch.left, launch.top), p.at(launch.left + 3, launch.top + 3)), std::tuple(0u, 0u));
    EXPECT_EQ(std::tuple(p.at(exit.left, exit.top), p.at(exit.right - 1, exit.top + 5)), std::tuple(0xFFFFFFu, 0u));
    dialogFontUseFile(nullptr);
    EXPECT_TRUE(dialogFontOpen(8, 1));
}

}  // namespace
