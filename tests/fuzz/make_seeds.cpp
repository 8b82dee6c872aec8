// Writes the starting corpus of one fuzz target into a folder:
//   mesh    small meshes with and without optional sections
//   mesh-large  a mesh with more vertices, and one with more keys, than the
//           tables hold (kept out of the corpus folder for their size)
//   jpeg    small JPEG pictures of several kinds
//   wav     small WAV files of the formats SDL's loader reads, at several rates
//   mp3     tiny MP3 files made with LAME (rates, channels, with and without
//           the gapless tag, tagged, after junk, truncated), each behind the
//           flags and read plan of fuzz_mp3
//   dialog  the linked settings-dialog template and variations of it, behind
//           the two base-unit bytes of fuzz_dialog
#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win/win.h"
#include "tests/asset_files.h"
#include "tests/audio_files.h"

using namespace assetfiles;

namespace {

void put(const std::string& dir, const std::string& name, const std::vector<uint8_t>& head,
         const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data = head;
    data.insert(data.end(), bytes.begin(), bytes.end());
    writeFile(dir + "/" + name, data);
}

void put(const std::string& dir, const std::string& name, uint8_t first, const std::vector<uint8_t>& bytes) {
    put(dir, name, std::vector<uint8_t>{first}, bytes);
}

void meshSeeds(const std::string& dir) {
    put(dir, "plain", 0x0, meshAssetFile(0, 9, false, 0, false).data);
    put(dir, "tex", 0x4, meshAssetFile(1, 9, false, 0, true).data);
    put(dir, "keys_tex", 0x5, meshAssetFile(3, 9, true, 4, true).data);
    Bytes head;
    head.u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(5).u16(5);
    for (int i = 0; i < 10; i++) head.f32(1.0f);
    put(dir, "first_at_bound", 0x5, head.data);
}

// Meshes past the tables' limits, too large to keep in the corpus folder:
// written by every fuzz build and given to fuzz_mesh as a second folder.
void largeMeshSeeds(const std::string& dir) {
    // One vertex more than a mesh may have (180 KB): the reader keeps the
    // first kMaxMeshVertices, drops the faces that use the rest and reads on.
    Bytes big;
    big.u16(15001);
    for (int i = 0; i < 15001; i++) big.point((float)(i % 97), (float)(i % 89), (float)(i % 83));
    big.u16(3).face(0, 1, 2).face(14999, 14998, 0).face(15000, 1, 2);
    big.keyHead(2).key(0, 1, 2, 3).key(2, 4, 5, 6);
    big.u16(15001);
    for (int i = 0; i < 8; i++) big.f32(0.25f * i);
    put(dir, "over_limit", 0x5, big.data);

    // A key track of one record more than the tables keep (90 KB).
    Bytes keys;
    keys.u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(1000000);
    for (int i = 0; i <= 5000; i++) keys.key(i, 0.5f * i, 1, 2);
    keys.key(1000000, 0, 0, 0);
    put(dir, "many_keys", 0x1, keys.data);
}

void jpegSeeds(const std::string& dir) {
    // Selector byte: value % 8 - 1.
    put(dir, "rgb64", 4, rgbSpaceJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)x, (uint8_t)y, 9}; }));
    put(dir, "ycc64", 4, makeJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)(x * 4), 0, (uint8_t)y}; }, 75));
    put(dir, "ycc16", 1, makeJpeg(16, 16, [](int, int) { return Rgb{255, 0, 0}; }, 50));
    // A 4:2:0 progressive picture.
    std::vector<uint8_t> rgb(32 * 24 * 3, 0x80);
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, rgb.data(), 32, 0, 24, TJPF_RGB, &out, &size, TJSAMP_420, 60, TJFLAG_PROGRESSIVE);
    put(dir, "progressive", 2, std::vector<uint8_t>(out, out + size));
    tjFree(out);
    tjDestroy(encoder);
}

// --- WAV ------------------------------------------------------------------------

struct Chunks {
    std::vector<uint8_t> data;
    Chunks& u8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    Chunks& u16(uint16_t v) { return u8((uint8_t)v).u8((uint8_t)(v >> 8)); }
    Chunks& u32(uint32_t v) { return u16((uint16_t)v).u16((uint16_t)(v >> 16)); }
    Chunks& tag(const char* t) {
        data.insert(data.end(), t, t + 4);
        return *this;
    }
    Chunks& bytes(const std::vector<uint8_t>& b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    // A chunk with its size; odd sizes are padded to an even length.
    Chunks& chunk(const char* t, const std::vector<uint8_t>& body, uint32_t declared = UINT32_MAX) {
        tag(t).u32(declared == UINT32_MAX ? (uint32_t)body.size() : declared).bytes(body);
        if (body.size() % 2) u8(0);
        return *this;
    }
};

struct WavFormat {
    uint16_t tag;
    int channels, rate, bits, blockAlign;
    std::vector<uint8_t> extra;  // after cbSize; none (and no cbSize) when empty
};

std::vector<uint8_t> fmtBody(const WavFormat& f) {
    Chunks c;
    c.u16(f.tag).u16((uint16_t)f.channels).u32((uint32_t)f.rate);
    c.u32((uint32_t)(f.rate * f.blockAlign)).u16((uint16_t)f.blockAlign).u16((uint16_t)f.bits);
    if (!f.extra.empty()) c.u16((uint16_t)f.extra.size()).bytes(f.extra);
    return c.data;
}

// RIFF WAVE: an optional LIST chunk, fmt, an optional fact chunk, data.
std::vector<uint8_t> wavFile(const WavFormat& f, const std::vector<uint8_t>& samples, int factFrames = -1,
                             bool list = false, uint32_t declaredData = UINT32_MAX) {
    Chunks body;
    body.tag("WAVE");
    if (list) body.chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 3, 0, 0, 0, 'v', 'k', 0});
    body.chunk("fmt ", fmtBody(f));
    if (factFrames >= 0) body.chunk("fact", Chunks().u32((uint32_t)factFrames).data);
    body.chunk("data", samples, declaredData);
    Chunks riff;
    riff.tag("RIFF").u32((uint32_t)body.data.size()).bytes(body.data);
    return riff.data;
}

// `count` samples of a sine in the given width, little-endian.
std::vector<uint8_t> sineBytes(int count, int bytesPerSample, bool isFloat = false) {
    Chunks c;
    for (int i = 0; i < count; i++) {
        double v = std::sin(i * 0.3);
        if (isFloat) {
            float f = (float)(v * 0.5);
            uint32_t u;
            memcpy(&u, &f, 4);
            c.u32(u);
        } else if (bytesPerSample == 1) {
            c.u8((uint8_t)(128 + (int)(v * 100)));
        } else {
            int32_t s = (int32_t)(v * 0x3FFFFFFF);
            for (int b = 4 - bytesPerSample; b < 4; b++) c.u8((uint8_t)(s >> (8 * b)));
        }
    }
    return c.data;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(seed + i * 37 + (i >> 3));
    return v;
}

void wavSeeds(const std::string& dir) {
    auto w = [&](const char* name, const std::vector<uint8_t>& file) { put(dir, name, std::vector<uint8_t>(), file); };
    w("s16_stereo_44100", wavFile({1, 2, 44100, 16, 4, {}}, sineBytes(128, 2)));
    w("s16_mono_44100_list", wavFile({1, 1, 44100, 16, 2, {}}, sineBytes(64, 2), -1, true));
    w("u8_mono_22050", wavFile({1, 1, 22050, 8, 1, {}}, sineBytes(101, 1)));
    w("s16_stereo_48000", wavFile({1, 2, 48000, 16, 4, {}}, sineBytes(192, 2)));
    w("s24_stereo_32000", wavFile({1, 2, 32000, 24, 6, {}}, sineBytes(64, 3)));
    w("s32_6ch_44100", wavFile({1, 6, 44100, 32, 24, {}}, sineBytes(96, 4)));
    w("f32_stereo_96000", wavFile({3, 2, 96000, 32, 8, {0, 0}}, sineBytes(128, 4, true), 64));
    w("alaw_mono_8000", wavFile({6, 1, 8000, 8, 1, {0, 0}}, pattern(80, 0x55), 80));
    w("ulaw_mono_11025", wavFile({7, 1, 11025, 8, 1, {0, 0}}, pattern(81, 0xFF), 81));
    w("s16_mono_4000", wavFile({1, 1, 4000, 16, 2, {}}, sineBytes(20, 2)));
    // Extensible format, PCM subformat, 4 channels.
    {
        Chunks ext;
        ext.u16(16).u32(0x33).bytes({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00,
                                      0x38, 0x9B, 0x71});
        w("ext_s16_4ch_44100", wavFile({0xFFFE, 4, 44100, 16, 8, ext.data}, sineBytes(64, 2)));
    }
    // IMA ADPCM, mono, two blocks of 36 bytes (65 samples each).
    {
        Chunks blocks;
        for (int b = 0; b < 2; b++) blocks.u16((uint16_t)(100 * b)).u8((uint8_t)(10 + b)).u8(0).bytes(pattern(32, 3));
        w("ima_adpcm_mono_22050", wavFile({0x11, 1, 22050, 4, 36, Chunks().u16(65).data}, blocks.data, 130));
    }
    // Microsoft ADPCM, stereo, the seven standard coefficient pairs, two blocks
    // of 46 bytes (34 frames each).
    {
        Chunks ext;
        ext.u16(34).u16(7);
        const int16_t coefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
        for (auto& c : coefficients) ext.u16((uint16_t)c[0]).u16((uint16_t)c[1]);
        Chunks blocks;
        for (int b = 0; b < 2; b++) {
            blocks.u8(0).u8((uint8_t)(b + 1));         // predictors
            blocks.u16(16).u16(20);                    // deltas
            blocks.u16(1000).u16((uint16_t)-1000);     // first samples
            blocks.u16(900).u16((uint16_t)-900);       // second samples
            blocks.bytes(pattern(32, (uint8_t)(7 + b)));
        }
        w("ms_adpcm_stereo_44100", wavFile({2, 2, 44100, 4, 46, ext.data}, blocks.data, 68));
    }
    // Damaged: the data chunk claims more than the file holds; an odd byte count.
    w("s16_stereo_short_data", wavFile({1, 2, 44100, 16, 4, {}}, sineBytes(40, 2), -1, false, 4000));
    w("s16_stereo_odd_bytes", wavFile({1, 2, 44100, 16, 4, {}}, pattern(7, 1)));
}

// --- MP3 ------------------------------------------------------------------------

// Frames of a quiet sine, encoded by LAME in memory. With `tag` the first
// frame is LAME's tag (encoder delay and padding), filled in after encoding;
// at a constant bit rate the tag needs frames of about 200 bytes (64 kbps).
std::vector<uint8_t> encodeMp3(int rate, int channels, int frames, int kbps, bool vbr, bool tag) {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    if (vbr) {
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_quality(lame, 9);
    } else {
        lame_set_brate(lame, kbps);
    }
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, tag ? 1 : 0);
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        fprintf(stderr, "make_seeds: LAME refuses %d Hz, %d channels\n", rate, channels);
        exit(1);
    }
    std::vector<int16_t> stereo = audiotest::sine(frames, 440, rate, 8000);
    std::vector<int16_t> left(frames);
    for (int i = 0; i < frames; i++) left[i] = stereo[i * 2];
    std::vector<unsigned char> out((size_t)(1.25 * frames + 7200 + 16384));
    int n = channels == 2 ? lame_encode_buffer_interleaved(lame, stereo.data(), frames, out.data(), (int)out.size())
                          : lame_encode_buffer(lame, left.data(), left.data(), frames, out.data(), (int)out.size());
    int m = n < 0 ? -1 : lame_encode_flush(lame, out.data() + n, (int)out.size() - n);
    if (n < 0 || m < 0) {
        fprintf(stderr, "make_seeds: LAME could not encode\n");
        exit(1);
    }
    out.resize((size_t)(n + m));
    if (tag) {
        unsigned char frame[2880];
        size_t size = lame_get_lametag_frame(lame, frame, sizeof frame);
        if (size == 0 || size > out.size()) {
            fprintf(stderr, "make_seeds: LAME wrote no tag (the bit rate is too low for it)\n");
            exit(1);
        }
        memcpy(out.data(), frame, size);
    }
    lame_close(lame);
    return std::vector<uint8_t>(out.begin(), out.end());
}

// An ID3v2.3 tag with one title frame.
std::vector<uint8_t> id3Tag() {
    std::vector<uint8_t> frame = {'T', 'I', 'T', '2', 0, 0, 0, 7, 0, 0, 0, 'V', 'e', 'l', 'k', 'o', 'r'};
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, (uint8_t)frame.size()};
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

std::vector<uint8_t> cut(const std::vector<uint8_t>& v, size_t n) {
    return std::vector<uint8_t>(v.begin(), v.begin() + (long)std::min(n, v.size()));
}

void mp3Seeds(const std::string& dir) {
    // Flags (bit 0 loop, bit 1 ".mp3" name) and eight plan bytes, as fuzz_mp3 reads them.
    const std::vector<uint8_t> once = {0x00, 0x00, 0x05, 0x40, 0x4F, 0x83, 0xC2, 0x01, 0xE0};
    const std::vector<uint8_t> looping = {0x01, 0x40, 0xC1, 0x41, 0x3F, 0x8A, 0xC0, 0x02, 0xE0};
    const std::vector<uint8_t> named = {0x02, 0x40, 0x41, 0x42, 0xC0, 0x01, 0x02, 0x03, 0xE0};

    std::vector<uint8_t> stereo = encodeMp3(44100, 2, 9000, 64, false, true);
    put(dir, "stereo_44100", once, stereo);
    put(dir, "stereo_44100_loop", looping, stereo);
    put(dir, "mono_44100_vbr_loop", looping, encodeMp3(44100, 1, 2000, 0, true, true));
    put(dir, "stereo_44100_untagged", once, encodeMp3(44100, 2, 3000, 64, false, false));
    put(dir, "mono_22050", once, encodeMp3(22050, 1, 1500, 64, false, true));
    put(dir, "mono_8000", once, encodeMp3(8000, 1, 800, 64, false, true));
    put(dir, "stereo_48000", looping, encodeMp3(48000, 2, 1200, 64, false, true));

    std::vector<uint8_t> tagged = id3Tag(), small = encodeMp3(44100, 2, 1500, 64, false, true);
    tagged.insert(tagged.end(), small.begin(), small.end());
    put(dir, "id3_44100_loop", looping, tagged);
    std::vector<uint8_t> junk = {'j', 'u', 'n', 'k', 0, 0, 0, 0};
    junk.insert(junk.end(), small.begin(), small.end());
    put(dir, "junk_first_named", named, junk);

    put(dir, "stereo_44100_cut_half", looping, cut(stereo, stereo.size() / 2));
    put(dir, "stereo_44100_cut_in_frame", once, cut(stereo, stereo.size() / 3 + 17));
    put(dir, "stereo_44100_tag_only", once, cut(stereo, 208));
}

// --- Dialog templates ------------------------------------------------------------

struct Template {
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void word(uint16_t v) {
        u8((uint8_t)v);
        u8((uint8_t)(v >> 8));
    }
    void dword(uint32_t v) {
        word((uint16_t)v);
        word((uint16_t)(v >> 16));
    }
    void text(const std::u16string& s) {
        for (char16_t c : s) word((uint16_t)c);
        word(0);
    }
    void ordinal(uint16_t v) {
        word(0xFFFF);
        word(v);
    }
    void align() {
        while (bytes.size() % 4) u8(0);
    }
    void header(uint32_t style, uint16_t items, int16_t x, int16_t y, int16_t cx, int16_t cy) {
        word(1);
        word(0xFFFF);
        dword(0);
        dword(0);
        dword(style);
        word(items);
        word((uint16_t)x);
        word((uint16_t)y);
        word((uint16_t)cx);
        word((uint16_t)cy);
    }
    void itemHead(uint32_t style, int16_t x, int16_t y, int16_t cx, int16_t cy, uint32_t id) {
        align();
        dword(0);
        dword(0);
        dword(style);
        word((uint16_t)x);
        word((uint16_t)y);
        word((uint16_t)cx);
        word((uint16_t)cy);
        dword(id);
    }
};

std::vector<uint8_t> linkedDialog() {
    for (const ResourceEntry* e = g_resources; e->name; e++)
        if (strcmp(e->name, "DIALOG_1") == 0) return std::vector<uint8_t>(e->data, e->data + e->size);
    fprintf(stderr, "make_seeds: no DIALOG_1 among the resources\n");
    exit(1);
}

void dialogSeeds(const std::string& dir) {
    // Two bytes first: the base units less one.
    const std::vector<uint8_t> classic = {5, 12}, large = {7, 15};
    std::vector<uint8_t> linked = linkedDialog();
    put(dir, "linked", classic, linked);
    put(dir, "linked_large_font", large, linked);
    put(dir, "linked_cut", classic, cut(linked, 150));

    // No font; menu by ordinal, class by name; names in mixed case; every
    // kind of button; two radio groups; a hidden control; creation data; a
    // title by ordinal; negative positions; texts beyond ASCII, a surrogate
    // pair and a lone surrogate.
    Template t;
    constexpr uint32_t child = WS_CHILD | WS_VISIBLE;
    t.header(WS_VISIBLE | WS_CAPTION, 9, -20, 10, 200, 120);
    t.ordinal(7);
    t.text(u"VelkorDialog");
    t.text(u"R\u00e9glages \U0001F3B5 \xD800!");
    t.itemHead(child | WS_GROUP | BS_AUTORADIOBUTTON, 4, 4, 50, 10, 10);
    t.text(u"Button");
    t.text(u"One");
    t.word(0);
    t.itemHead(child | BS_AUTORADIOBUTTON | WS_TABSTOP, 4, 16, 50, 10, 11);
    t.ordinal(0x80);
    t.text(u"Two");
    t.word(0);
    t.itemHead(child | WS_GROUP | BS_AUTORADIOBUTTON, 60, 4, 50, 10, 12);
    t.ordinal(0x80);
    t.text(u"Three");
    t.word(4);
    t.dword(0xDEADBEEF);
    t.itemHead(child | 0x3 | WS_TABSTOP, 60, 16, 50, 10, 13);  // automatic check box
    t.ordinal(0x80);
    t.text(u"Check");
    t.word(0);
    t.itemHead(child | 0x6, 60, 28, 50, 10, 14);  // automatic three-state box
    t.ordinal(0x80);
    t.text(u"Maybe");
    t.word(0);
    t.itemHead(child | 0x7, -2, -3, 120, 60, 15);  // group box
    t.ordinal(0x80);
    t.text(u"Frame");
    t.word(0);
    t.itemHead(WS_CHILD | 0x1 | WS_TABSTOP, 4, 80, 40, 14, IDOK);  // hidden default push button
    t.ordinal(0x80);
    t.ordinal(5);
    t.word(0);
    t.itemHead(child | WS_TABSTOP, 50, 80, 40, 14, 0x12345);
    t.text(u"BUTTON");
    t.text(u"Go");
    t.word(0);
    t.itemHead(child, 100, 80, 40, 14, 16);
    t.text(u"STATIC");
    t.text(u"\u00c4\u00d6\u00dc");
    t.word(0);
    put(dir, "variety", std::vector<uint8_t>{2, 9}, t.bytes);

    // A font and a menu by name, no controls.
    Template empty;
    empty.header(WS_VISIBLE | DS_SETFONT, 0, 0, 0, 10, 10);
    empty.text(u"Menu");
    empty.word(0);
    empty.text(u"");
    empty.word(9);
    empty.word(700);
    empty.u8(1);
    empty.u8(0);
    empty.text(u"Tahoma");
    put(dir, "no_controls", std::vector<uint8_t>{0, 255}, empty.bytes);

    // One group of three automatic radio buttons, the last control among them.
    Template radios;
    radios.header(WS_VISIBLE, 4, 0, 0, 80, 40);
    radios.word(0);
    radios.word(0);
    radios.text(u"Radios");
    radios.itemHead(child | WS_TABSTOP, 0, 0, 30, 10, 1);
    radios.ordinal(0x80);
    radios.text(u"OK");
    radios.word(0);
    for (int i = 0; i < 3; i++) {
        radios.itemHead(child | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0), 0, (int16_t)(12 + 10 * i), 40, 10,
                        (uint32_t)(20 + i));
        radios.ordinal(0x80);
        radios.text(u"R");
        radios.word(0);
    }
    put(dir, "radios_last", classic, radios.bytes);

    // Refused: an unknown class atom; not an extended template.
    Template unknown;
    unknown.header(WS_VISIBLE, 1, 0, 0, 10, 10);
    unknown.word(0);
    unknown.word(0);
    unknown.text(u"x");
    unknown.itemHead(WS_CHILD, 0, 0, 5, 5, 1);
    unknown.ordinal(0x99);
    unknown.text(u"?");
    unknown.word(0);
    put(dir, "unknown_atom", classic, unknown.bytes);
    std::vector<uint8_t> plain = linked;
    plain[2] = 0xFE;
    put(dir, "not_extended", classic, plain);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds mesh|mesh-large|jpeg|wav|mp3|dialog DIR\n");
        return 1;
    }
    std::string kind = argv[1], dir = argv[2];
    if (kind == "mesh") meshSeeds(dir);
    else if (kind == "mesh-large") largeMeshSeeds(dir);
    else if (kind == "jpeg") jpegSeeds(dir);
    else if (kind == "wav") wavSeeds(dir);
    else if (kind == "mp3") mp3Seeds(dir);
    else if (kind == "dialog") dialogSeeds(dir);
    else {
        std::fprintf(stderr, "make_seeds: unknown kind %s\n", kind.c_str());
        return 1;
    }
    return 0;
}
