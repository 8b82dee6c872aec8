// The program's linked resources: the settings dialog "DIALOG_1", stored as
// the bytes of an extended dialog template (DLGTEMPLATEEX), little-endian,
// exactly as a resource compiler would lay it out. The bytes are produced at
// compile time by a small builder so that every field stays readable here.
#include <array>
#include <cstddef>

#include "platform/win/win.h"

namespace {

// Appends little-endian fields to a fixed buffer at compile time.
struct TemplateBuilder {
    BYTE bytes[512]{};
    size_t size = 0;

    constexpr void byte(BYTE v) { bytes[size++] = v; }
    constexpr void word(WORD v) {
        byte((BYTE)(v & 0xFF));
        byte((BYTE)(v >> 8));
    }
    constexpr void dword(DWORD v) {
        word((WORD)(v & 0xFFFF));
        word((WORD)(v >> 16));
    }
    constexpr void coord(int16_t v) { word((WORD)v); }
    // A UTF-16 string with its terminating zero (an empty string is one 0).
    constexpr void text(const char16_t* s) {
        while (*s) word((WORD)*s++);
        word(0);
    }
    // Items start on a DWORD boundary, counted from the template's start.
    constexpr void alignDword() {
        while (size % 4) byte(0);
    }
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;

struct Item {
    WORD classAtom;
    DWORD id;
    const char16_t* text;
    DWORD style;
    int16_t x, y, cx, cy;
};

// The settings dialog's controls in template (and tab) order.
constexpr Item kDialog1Items[] = {
    {kStaticAtom, 101, u"Fullscreen", WS_CHILD | WS_VISIBLE, 0, 1, 37, 8},  // left-aligned label
    {kButtonAtom, 100, u"", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 37, 1, 11, 10},
    {kButtonAtom, 101, u"Windowed", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 97, 1, 48, 10},
    {kButtonAtom, 103, u"Launch!", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 1, 25, 40, 14},
    {kButtonAtom, 102, u"Exit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 103, 25, 40, 14},
};

constexpr TemplateBuilder buildDialog1() {
    TemplateBuilder b;
    // DLGTEMPLATEEX header
    b.word(1);           // dlgVer
    b.word(0xFFFF);      // signature: extended template
    b.dword(0);          // helpID
    b.dword(0);          // exStyle
    b.dword(0x10C800C0); // style: WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    b.word((WORD)std::size(kDialog1Items));  // cDlgItems
    b.coord(176);        // x
    b.coord(90);         // y
    b.coord(145);        // cx
    b.coord(39);         // cy
    b.word(0);           // menu: none
    b.word(0);           // windowClass: the default dialog class
    b.text(u"please configure settings");  // title
    // Font, present because of DS_SETFONT
    b.word(8);           // pointsize
    b.word(0);           // weight
    b.byte(0);           // italic
    b.byte(1);           // charset
    b.text(u"Helv");     // typeface
    // DLGITEMTEMPLATEEX, one per control
    for (const Item& item : kDialog1Items) {
        b.alignDword();
        b.dword(0);           // helpID
        b.dword(0);           // exStyle
        b.dword(item.style);  // style
        b.coord(item.x);
        b.coord(item.y);
        b.coord(item.cx);
        b.coord(item.cy);
        b.dword(item.id);     // id (a DWORD in the extended form)
        b.word(0xFFFF);       // windowClass: predefined class by atom
        b.word(item.classAtom);
        b.text(item.text);    // title
        b.word(0);            // extraCount: no creation data
    }
    return b;
}

constexpr TemplateBuilder kDialog1Built = buildDialog1();

constexpr auto kDialog1 = [] {
    std::array<BYTE, kDialog1Built.size> out{};
    for (size_t i = 0; i < out.size(); i++) out[i] = kDialog1Built.bytes[i];
    return out;
}();

// Header 26 bytes, menu and class 4, caption 52, font 16 -> 98, first item
// at 100; items of 52, 32, 48, 46 (+2 padding) and 40 bytes.
static_assert(kDialog1.size() == 320, "DIALOG_1 layout changed");

}  // namespace

const ResourceEntry g_resources[] = {
    {"DIALOG_1", kDialog1.data(), kDialog1.size()},
    {nullptr, nullptr, 0},
};
