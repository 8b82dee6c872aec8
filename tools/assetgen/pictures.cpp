// The show's pictures: textures, black-keyed overlays, two paintings, the wave map.
#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "tools/assetgen/assetgen.h"

namespace assetgen {
namespace {

const char* kBold = "DejaVu Sans:bold";
const char* kSerif = "DejaVu Serif:bold:italic";

Rgb hsv(float h, float s, float v) {
    h = h - std::floor(h);
    float k[3] = {5, 3, 1};
    float c[3];
    for (int i = 0; i < 3; ++i) {
        float kk = std::fmod(k[i] + h * 6, 6.0f);
        c[i] = v - v * s * std::clamp(std::min(kk, 4 - kk), 0.0f, 1.0f);
    }
    return {c[0], c[1], c[2]};
}

// Classic chrome lettering: sky above the horizon line, warm ground below.
Rgb chrome(float, float v) {
    if (v < 0.52f) return mix(hex(0xffffff), hex(0x3fa8ff), v / 0.52f);
    return mix(hex(0x2a1050), hex(0xffb347), (v - 0.52f) / 0.48f);
}
Rgb gold(float, float v) { return mix(hex(0xfff2a8), hex(0xd08a10), v); }

// Variants for black-keyed pictures: no dark band in the letters and bright
// mid-tone outlines, so nothing near black ever borders the transparent black.
Rgb brightChrome(float, float v) {
    if (v < 0.52f) return mix(hex(0xffffff), hex(0x46b0ff), v / 0.52f);
    return mix(hex(0x9a5ae0), hex(0xffc060), (v - 0.52f) / 0.48f);
}
const uint32_t kChromeRim = 0x3d64e8;  // mid blue
const uint32_t kGoldRim = 0xc8601c;    // copper

float roundBox(float x, float y, float cx, float cy, float hw, float hh, float r) {
    float dx = std::max(std::abs(x - cx) - hw + r, 0.0f), dy = std::max(std::abs(y - cy) - hh + r, 0.0f);
    float inside = std::min(std::max(std::abs(x - cx) - hw + r, std::abs(y - cy) - hh + r), 0.0f);
    return std::sqrt(dx * dx + dy * dy) + inside - r;  // signed distance, < 0 inside
}

void save(const std::string& dir, const std::string& name, const Image& img) {
    writeFile(dir + "/" + name, encodeJpeg(img, 95));
}
void saveDecal(const std::string& dir, const std::string& name, const Image& img) {
    std::vector<uint8_t> jpeg;
    try {
        jpeg = encodeDecalJpeg(img, 100);
    } catch (const std::exception& e) {
        throw std::runtime_error(name + ": " + e.what());
    }
    writeFile(dir + "/" + name, jpeg);
}

void fill(Image& img, const std::function<Rgb(float, float)>& f) {
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) img.at(x, y) = f(x + 0.5f, y + 0.5f);
}

// Horizontal copper bars over deep blue.
Rgb copper(float x, float y, float size) {
    float t = y / size;
    Rgb c = mix(hex(0x0a0830), hex(0x1a0a40), t);
    const uint32_t bars[] = {0xff3d7f, 0xffa53d, 0x3dd6ff, 0x9d5cff, 0x5cff9d};
    for (int i = 0; i < 5; ++i) {
        float centre = size * (0.1f + 0.2f * i) + 6 * std::sin(x / size * 2 * kPi + i);
        float d = std::abs(y - centre) / (size * 0.045f);
        if (d < 1) c = mix(c, hex(bars[i]) * (0.55f + 0.45f * (1 - d * d)), 0.85f * (1 - d * d * d * d));
    }
    return c;
}

Rgb plasma(float x, float y, float size, float hueShift) {
    float u = x / size * 2 * kPi, v = y / size * 2 * kPi;
    float p = std::sin(u * 2) + std::sin(v * 3 + u) + std::sin(std::sqrt((u - 3) * (u - 3) + (v - 3) * (v - 3)) * 2);
    return hsv(hueShift + p * 0.12f, 0.75f, 0.55f + 0.15f * std::sin(p * 2));
}

void textLines(Image& img, const std::vector<std::string>& lines, const char* font, float lineHeight, float top,
               float gap, const std::function<Rgb(float, float)>& f, Rgb outline, float ow, bool hard = false) {
    float y = top;
    for (const auto& line : lines) {
        Mask m = renderText(line, font, 96);
        // Shrink lines that would not fit between the margins.
        float hgt = std::min(lineHeight, (img.w - 2 * ow - 20) * m.h / static_cast<float>(m.w));
        drawText(img, m, img.w / 2.0f, y + lineHeight / 2, hgt, f, outline, ow, hard);
        y += lineHeight + gap;
    }
}

// ---- black-keyed overlays ----

// Shown small (about 150 px square) in the lower left of the loading screen,
// outside the spinning arrows' circle, so the lettering fills the picture.
Image loadingPicture() {
    Image img(256, 256);
    textLines(img, {"Velkor 2001"}, kSerif, 44, 20, 0, gold, hex(kGoldRim), 3.5f, true);
    textLines(img, {"LOADING"}, kBold, 64, 86, 0, brightChrome, hex(kChromeRim), 4.5f, true);
    paintLayer(img, 4, [](float x, float y) -> Paint {
        for (int i = 0; i < 8; ++i) {
            float cx = 30 + i * 28;
            if (roundBox(x, y, cx, 200, 11, 11, 4) < 0) return {hsv(0.5f + i * 0.06f, 0.75f, 1.0f), 1};
        }
        return {};
    }, true);
    return img;
}

// A ring of curved arrows between radii r0 and r1; the heads reach headExtra
// beyond the ring on either side.
Image arrowPicture(int count, float r0, float r1, float headExtra, float hue0, float hue1, bool clockwise) {
    Image img(256, 256);
    paintLayer(img, 4, [=](float x, float y) -> Paint {
        float dx = x - 128, dy = y - 128;
        float r = std::sqrt(dx * dx + dy * dy);
        float a = std::atan2(dy, dx);
        if (!clockwise) a = -a;
        float seg = 2 * kPi / count;
        float local = std::fmod(a + 4 * kPi, seg);
        float mid = (r0 + r1) / 2, half = (r1 - r0) / 2;
        float headLen = 26 / mid, gap = 9 / mid;  // in radians: the same length in texels on any ring
        float bodyEnd = seg - gap - headLen;
        float t = local / (seg - gap);
        Rgb c = mix(hsv(hue0, 0.85f, 1.0f), hsv(hue1, 0.9f, 0.95f), t);
        float edge = std::abs(r - mid) / half;
        if (local < bodyEnd && edge < 1) {
            Rgb shine = mix(c, hex(0xffffff), std::max(0.0f, 1 - std::abs(r - mid - half * 0.35f) / (half * 0.3f)) * 0.7f);
            return {edge > 0.72f ? c * 0.72f : shine, 1};
        }
        if (local >= bodyEnd && local < bodyEnd + headLen) {
            float k = 1 - (local - bodyEnd) / headLen;  // 1 at the head's base, 0 at its tip
            float w = (half + headExtra) * k;
            if (std::abs(r - mid) < w) return {std::abs(r - mid) > w - 3.5f ? c * 0.72f : c, 1};
        }
        return {};
    }, true);
    return img;
}

// Where each tile sits on its quad, in the quad's units (7 across, y up, from
// the quad's centre), and how wide it is. The quads stay where the show puts
// them in front of the camera; the tiles are placed inside them so that each
// is whole on screen and they gather around the scene's centre object:
// scene 1 (tiles 5 to 9, 20 units out) in the corners around the sphere,
// scene 3 (tiles 1 to 4, 15 units out) towards the corners of the view.
struct TilePlace {
    float dx, dy, size;
};
const TilePlace kTilePlaces[9] = {
    {1.85f, 1.85f, 3.0f}, {-1.85f, 0.9f, 3.0f}, {1.85f, -1.85f, 3.0f}, {-1.85f, 1.85f, 3.0f}, {-2.1f, 0.05f, 2.4f},
    {-0.25f, 1.2f, 2.4f}, {2.1f, 2.1f, 2.4f},   {-2.1f, -2.1f, 2.4f},  {1.25f, 0.75f, 2.4f},
};

Image tileSheet() {
    Image img(512, 512);
    const float cell = 512.0f / 3, unit = cell / 7;
    for (int n = 1; n <= 9; ++n) {
        int row = (n - 1) / 3, col = (n - 1) % 3;
        const TilePlace& place = kTilePlaces[n - 1];
        float cx = (col + 0.5f) * cell + place.dx * unit, cy = (row + 0.5f) * cell - place.dy * unit;
        float half = place.size * unit / 2, k = half / 66;  // k: scale against a 132-texel tile
        Rgb top = hsv((n - 1) / 9.0f, 0.75f, 1.0f), bottom = hsv((n - 1) / 9.0f + 0.05f, 0.9f, 0.6f);
        paintLayer(img, 4, [&](float x, float y) -> Paint {
            float d = roundBox(x, y, cx, cy, half, half, 20 * k);
            if (d >= 0) return {};
            float v = (y - (cy - half)) / (2 * half);
            if (d > -6 * k) return {hex(0xf4f4ff), 1};
            return {mix(top, bottom, v), 1};
        }, true);
        // The number lies inside the tile, so its edges may blend (nothing near black).
        Mask m = renderText(std::to_string(n), kBold, 120);
        drawText(img, m, cx, cy, 84 * k, [](float, float v) { return mix(hex(0xffffff), hex(0xfff0c0), v); },
                 hex(0x202040), std::max(2.5f, 5 * k));
    }
    return img;
}

Image zugPicture() {
    Image img(512, 512);
    // Speed streaks behind the engine.
    paintLayer(img, 3, [](float x, float y) -> Paint {
        for (int i = 0; i < 6; ++i) {
            float yy = 120 + i * 52;
            float len = 60 + 25 * ((i * 7) % 4);
            bool left = x < 256;
            float start = left ? 20 + i % 3 * 8 : 492 - i % 3 * 8 - len;
            if (x > start && x < start + len && std::abs(y - yy) < 3) return {hsv(0.52f + i * 0.02f, 0.7f, 1), 1};
        }
        return {};
    }, true);
    paintLayer(img, 4, [](float x, float y) -> Paint {
        auto circle = [&](float cx, float cy, float r) { return std::hypot(x - cx, y - cy) - r; };
        // Headlamp.
        float lamp = circle(256, 196, 44);
        if (lamp < 0) return {lamp > -7 ? hex(0xff8a1c) : mix(hex(0xffffe0), hex(0xffd040), -lamp < 30 ? (30 + lamp) / 30 : 0), 1};
        // Number plate.
        if (roundBox(x, y, 256, 300, 78, 30, 8) < 0) return {roundBox(x, y, 256, 300, 78, 30, 8) > -5 ? hex(0x8a4a08) : gold(0, (y - 270) / 60), 1};
        // Boiler front with gold rim and rivets.
        float boiler = circle(256, 250, 150);
        if (boiler < 0) {
            if (boiler > -13) return {gold(0, (y - 100) / 300), 1};
            for (int k = 0; k < 16; ++k) {
                float a = k * 2 * kPi / 16;
                if (circle(256 + 124 * std::cos(a), 250 + 124 * std::sin(a), 5) < 0) return {hex(0xffd870), 1};
            }
            float shade = 0.65f + 0.35f * (1 - std::hypot(x - 210, y - 200) / 260);
            return {hex(0xb01830) * shade, 1};
        }
        // Chimney.
        if (x > 222 && x < 290 && y > 34 && y < 112) return {y < 52 ? gold(0, (y - 34) / 18) : hex(0x5c6690) * (0.85f + 0.35f * (x - 222) / 68), 1};
        // Buffer beam and buffers.
        if (circle(112, 420, 30) < 0 || circle(400, 420, 30) < 0) return {hex(0xc8ccd8), 1};
        if (x > 80 && x < 432 && y > 392 && y < 448) return {hex(0xd02838), 1};
        // Cowcatcher in yellow and slate stripes.
        if (y >= 448 && y < 496) {
            float half = 170 - (y - 448) * 1.6f;
            if (std::abs(x - 256) < half) return {std::fmod(x + y + 600, 36.0f) < 18 ? hex(0xffd21f) : hex(0x646a86), 1};
        }
        return {};
    }, true);
    Mask m = renderText("ZUG", kBold, 96);
    drawText(img, m, 256, 301, 38, [](float, float) { return hex(0x9a0a18); }, {}, 0);  // on the plate
    return img;
}

// Drawn over the last view of scene 4, in its lower third: the lettering
// lies over the island, and the fading sphere and the flower above it stay free.
Image endPicture() {
    Image img(256, 256);
    textLines(img, {"THE END"}, kBold, 42, 160, 0, brightChrome, hex(kChromeRim), 3.5f, true);
    textLines(img, {"Velkor 2001"}, kSerif, 22, 210, 0, gold, hex(kGoldRim), 2.5f, true);
    return img;
}

// ---- textures ----

Image titleTexture() {
    Image img(256, 256);
    fill(img, [](float x, float y) { return copper(x, y, 256); });
    textLines(img, {"Velkor"}, kSerif, 70, 50, 0, chrome, hex(0x05051a), 4);
    textLines(img, {"2001"}, kBold, 54, 142, 0, gold, hex(0x301000), 3);
    return img;
}

Image linesTexture(const std::vector<std::string>& lines, float hue, uint32_t seed, int style) {
    Image img(256, 256);
    fill(img, [&](float x, float y) {
        if (style == 0) return plasma(x, y, 256, hue) * 0.8f;
        if (style == 1) {
            float s = std::fmod(x + y + 512, 32.0f) < 16 ? 1.0f : 0.8f;
            return mix(hsv(hue, 0.8f, 0.35f), hsv(hue + 0.1f, 0.8f, 0.6f), y / 256) * s;
        }
        float gx = std::fmod(x, 32.0f), gy = std::fmod(y, 32.0f);
        Rgb c = mix(hsv(hue, 0.7f, 0.25f), hsv(hue + 0.15f, 0.9f, 0.55f), std::hypot(x - 128, y - 128) / 180);
        if (gx < 1.5f || gy < 1.5f) c = c + hsv(hue + 0.3f, 0.6f, 0.25f);
        return c + hsv(hue, 0.3f, 0.1f) * fbm(x / 40, y / 40, 3, seed);
    });
    float lh = lines.size() > 2 ? 46 : 58;
    float total = lines.size() * lh + (lines.size() - 1) * 14;
    textLines(img, lines, kBold, lh, 128 - total / 2, 14,
              [&](float, float v) { return mix(hex(0xffffff), hsv(hue + 0.5f, 0.5f, 1), v); }, hex(0x080818), 3.5f);
    return img;
}

Image backTexture() {
    Image img(256, 256);
    fill(img, [](float x, float y) {
        float u = x / 256 * 2 * kPi, v = y / 256 * 2 * kPi;
        float a = std::sin(3 * u + std::sin(2 * v)) + std::cos(2 * v - std::sin(u) * 1.5f);
        float rings = std::sin(std::hypot(std::sin(u) * 3, std::cos(v) * 3) * 4);
        return hsv(0.62f + 0.18f * a + 0.05f * rings, 0.7f, 0.75f + 0.25f * rings * 0.5f);
    });
    return img;
}

Image grassTexture() {
    Image img(256, 256);
    fill(img, [](float x, float y) {
        float n = fbm(x / 32, y / 32, 4, 21);
        return mix(hex(0x1f5a14), hex(0x4c9a2a), n);
    });
    Rng rng(0x9a55);
    // Blades wrap around the edges so the texture tiles.
    for (int i = 0; i < 1400; ++i) {
        float bx = rng.range(0, 256), by = rng.range(0, 256), len = rng.range(8, 22), lean = rng.range(-0.5f, 0.5f);
        Rgb c = mix(hex(0x3f8f1f), hex(0xa8e04a), rng.uniform());
        for (int s = 0; s < 24; ++s) {
            float t = s / 23.0f;
            float px = bx + lean * len * t * t, py = by - len * t;
            float wdt = 1.6f * (1 - t) + 0.3f;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    int ix = static_cast<int>(std::floor(px)) + dx, iy = static_cast<int>(std::floor(py)) + dy;
                    float d = std::hypot(ix + 0.5f - px, iy + 0.5f - py);
                    if (d > wdt) continue;
                    Rgb& dst = img.at((ix + 512) % 256, (iy + 512) % 256);
                    dst = mix(dst, c * (0.7f + 0.3f * t), 0.8f);
                }
        }
    }
    for (int i = 0; i < 40; ++i) {
        float fx = rng.range(0, 256), fy = rng.range(0, 256);
        Rgb c = hsv(rng.uniform() < 0.5f ? 0.13f : 0.85f, 0.6f, 1);
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                if (dx * dx + dy * dy <= 5) img.at((static_cast<int>(fx) + dx + 256) % 256, (static_cast<int>(fy) + dy + 256) % 256) = dx == 0 && dy == 0 ? hex(0xffee66) : c;
    }
    return img;
}

Image panelTexture() {
    Image img(256, 256);
    fill(img, [](float x, float y) {
        float d = roundBox(x, y, 128, 128, 128, 128, 0);
        float bevel = std::clamp(-d / 14, 0.0f, 1.0f);
        Rgb c = mix(hex(0x202a48), hex(0x34406c), fbm(x / 50, y / 50, 3, 77));
        if (bevel < 1) c = (x + y < 256 ? hex(0x8090c8) : hex(0x10142a)) * (1 - bevel) + c * bevel;
        // Circuit traces.
        float gx = std::fmod(x + 8, 40.0f), gy = std::fmod(y + 20, 40.0f);
        if (bevel >= 1 && ((gx < 2.5f && std::fmod(y, 80.0f) < 50) || (gy < 2.5f && std::fmod(x + 30, 90.0f) < 60)))
            c = mix(c, hex(0x30e0ff), 0.55f);
        for (float cx : {24.0f, 232.0f})
            for (float cy : {24.0f, 232.0f})
                if (std::hypot(x - cx, y - cy) < 5) c = mix(hex(0xe0e4f0), hex(0x606880), std::hypot(x - cx + 2, y - cy + 2) / 7);
        return c;
    });
    paintLayer(img, 4, [](float x, float y) -> Paint {
        float d = std::hypot(x - 128, y - 128);
        if (d < 70 && d > 60) return {hex(0xff3d9a), 1};
        return {};
    });
    Mask m = renderText("V", kBold, 140);
    drawText(img, m, 128, 130, 80, [](float, float v) { return mix(hex(0xffffff), hex(0x40d0ff), v); }, hex(0x000010), 4);
    return img;
}

// ---- paintings ----

// Brush texture: strokes follow a flow field; returns a small brightness wobble.
float brush(float x, float y, float angle, uint32_t seed) {
    float c = std::cos(angle), s = std::sin(angle);
    float u = x * c + y * s, v = -x * s + y * c;
    return fbm(u / 30, v / 2.2f, 3, seed) - 0.5f;
}

Image screamPainting() {
    Image img(640, 480);
    paintLayer(img, 2, [](float x, float y) -> Paint {
        float swirl = 40 * std::sin(x / 90 + y / 70) + 25 * fbm(x / 120, y / 90, 4, 3);
        // Bridge: a diagonal deck from lower left to the right.
        float deckTop = 230 + x * 0.5f;
        float fjordLine = 250 + 30 * std::sin(x / 110);
        Rgb c;
        float stroke;
        if (y > deckTop) {
            float t = (y - deckTop) / (480 - deckTop + 1);
            c = mix(hex(0xc27a3a), hex(0x6b3a1f), t);
            stroke = brush(x, y, -0.3f, 9);
            // Railing lines.
            float rail = y - (deckTop + 8);
            if (std::abs(rail) < 3 || std::abs(y - (deckTop + 26)) < 2) c = hex(0x3a2012);
            if (y < deckTop + 30 && std::fmod(x + 1000, 46.0f) < 4) c = hex(0x3a2012);
        } else if (y > fjordLine + swirl * 0.3f + 40 && x > 320 + (y - 260) * 0.8f && y < 400 - (x - 460) * 0.35f) {
            // Dark hills across the fjord.
            c = mix(hex(0x2c5a2a), hex(0x173a26), fbm(x / 60, y / 40, 3, 12));
            stroke = brush(x, y, 0.9f, 11);
        } else if (y > fjordLine + swirl * 0.3f) {
            float t = std::clamp((y - fjordLine) / 150, 0.0f, 1.0f);
            c = mix(hex(0x2a4a8a), hex(0x101e48), t);
            c = mix(c, hex(0x3b6fa0), 0.4f + 0.4f * std::sin((x + swirl * 3) / 40 + y / 25));
            stroke = brush(x, y, 0.6f + std::sin(x / 80) * 0.5f, 7);
        } else {
            float band = (y + swirl) / 45;
            const uint32_t sky[] = {0xf2c14e, 0xe8743b, 0xd23a2a, 0xf08a3c, 0xe85a28, 0xc8302c, 0xf2a65a};
            int i = static_cast<int>(std::floor(band));
            float f = band - i;
            Rgb a = hex(sky[((i % 7) + 7) % 7]), b = hex(sky[(((i + 1) % 7) + 7) % 7]);
            c = mix(a, b, smoothstep(0.35f, 0.65f, f));
            stroke = brush(x, y, std::sin(x / 120 + y / 60) * 0.4f, 5);
        }
        c = c * (1 + 0.45f * stroke);
        // Figure: a pale, wavering body with hands held to an oval head.
        float fx = 300 + 10 * std::sin(y / 40), hy = 210;
        float head = std::hypot((x - fx) / 34, (y - hy) / 48);
        float bodyW = 26 + (y - 250) * 0.25f + 8 * std::sin(y / 22);
        bool body = y > 240 && y < 480 && std::abs(x - fx - (y - 250) * 0.15f) < bodyW;
        bool arms = (std::hypot((x - fx + 40) / 12, (y - hy - 20) / 50) < 1) || (std::hypot((x - fx - 40) / 12, (y - hy - 20) / 50) < 1);
        if (body) c = mix(hex(0x1c1a2c), hex(0x33283a), std::sin(y / 30) * 0.5f + 0.5f) * (1 + 0.3f * brush(x, y, 1.4f, 13));
        if (arms) c = mix(hex(0xcfc29a), hex(0xa89870), (y - hy + 30) / 100);
        if (head < 1) {
            c = mix(hex(0xe6dcb4), hex(0xa99c74), head);
            float eyeL = std::hypot((x - fx + 12) / 7, (y - hy + 8) / 10), eyeR = std::hypot((x - fx - 12) / 7, (y - hy + 8) / 10);
            float mouth = std::hypot((x - fx) / 8, (y - hy - 24) / 13);
            if (eyeL < 1 || eyeR < 1 || mouth < 1) c = hex(0x2a1e24);
        }
        // Two small far figures on the bridge.
        for (float px : {70.0f, 96.0f}) {
            float py = 230 + px * 0.5f - 2;
            if (std::abs(x - px) < 5 && y > py - 44 && y < py) c = hex(0x201824);
            if (std::hypot(x - px, y - (py - 48)) < 6) c = hex(0x201824);
        }
        return {c, 1};
    });
    return img;
}

Image girlsPainting() {
    Image img(640, 480);
    paintLayer(img, 2, [](float x, float y) -> Paint {
        // Bold colour fields: a turquoise sky, a green shore, a violet road.
        float hill = 200 + 40 * std::sin(x / 130 + 1) + 18 * fbm(x / 60, 0, 3, 4) * 3;
        float road = 330 + (x - 640) * -0.12f;
        Rgb c;
        if (y < hill) {
            c = mix(hex(0x37b8c8), hex(0xfbe7a0), y / hill);
            float sun = std::hypot(x - 500, y - 90);
            if (sun < 46) c = mix(hex(0xfff6c8), hex(0xffb648), sun / 46);
            c = c * (1 + 0.3f * brush(x, y, 0.2f * std::sin(x / 90), 31));
        } else if (y < road) {
            c = mix(hex(0x2f8a4a), hex(0x175a3a), (y - hill) / (road - hill + 1));
            c = c * (1 + 0.35f * brush(x, y, 1.1f, 32));
        } else {
            c = mix(hex(0x8a4aa8), hex(0xe07a5a), (y - road) / (480 - road));
            c = c * (1 + 0.3f * brush(x, y, -0.5f, 33));
            if (std::abs(y - road - 6) < 3) c = hex(0xf3e6d0);  // railing
        }
        // Three girls at the railing: round heads, bold dresses (white, red, green).
        const uint32_t dresses[] = {0xf6f0e8, 0xd8283a, 0x2fa84f};
        for (int i = 0; i < 3; ++i) {
            float gx = 330 + i * 70, base = road + 70, top = road - 95;
            float headY = top - 20;
            if (std::hypot((x - gx) / 17, (y - headY) / 20) < 1) c = mix(hex(0xf1c8a0), hex(0xc89064), std::max(0.0f, (x - gx) / 20));
            if (std::hypot((x - gx) / 19, (y - headY + 6) / 16) < 1 && y < headY - 4) c = i == 1 ? hex(0xf2c230) : hex(0x4a2a18);
            float half = 16 + (y - top) * 0.33f;
            if (y > top && y < base && std::abs(x - gx) < half) c = hex(dresses[i]) * (0.8f + 0.25f * (1 - std::abs(x - gx) / half));
        }
        // The railing in front of them.
        float rail = road - 40 + (x - 640) * -0.12f * 0.2f;
        if (std::abs(y - rail) < 3 || std::abs(y - rail - 22) < 2 || (y > rail && y < road && std::fmod(x + 640, 58.0f) < 5))
            c = hex(0xf3e6d0) * 0.92f;
        // Swirling sky lines.
        if (y < hill - 10) {
            float s = std::sin(x / 35 + 3 * std::sin(y / 50)) * std::sin(y / 17);
            if (s > 0.92f) c = mix(c, hex(0xffffff), 0.35f);
        }
        return {c, 1};
    });
    return img;
}

}  // namespace

void writePictures(const std::string& dir) {
    saveDecal(dir, "loading.jpg", loadingPicture());
    // The arrows turn about the screen centre and draw over the loading picture:
    // arrow1 reaches 76 texels out (133 px on screen), arrow2 50, while the
    // loading picture's nearest corner lies 142 px from the centre.
    saveDecal(dir, "arrow1.jpg", arrowPicture(3, 54, 66, 10, 0.50f, 0.62f, true));
    saveDecal(dir, "arrow2.jpg", arrowPicture(4, 32, 42, 8, 0.92f, 0.08f, false));
    save(dir, "text2.jpg", titleTexture());
    save(dir, "text.jpg", linesTexture({"real time", "no tricks", "just code"}, 0.75f, 1, 0));
    save(dir, "back.jpg", backTexture());
    save(dir, "grass.jpg", grassTexture());
    save(dir, "text3.jpg", linesTexture({"VELKOR", "2001"}, 0.58f, 2, 1));
    save(dir, "suba.jpg", panelTexture());
    saveDecal(dir, "te.jpg", endPicture());
    save(dir, "text1.jpg", linesTexture({"thanks", "for", "watching"}, 0.02f, 3, 2));
    save(dir, "text4.jpg", linesTexture({"pixels", "in motion"}, 0.45f, 4, 2));
    saveDecal(dir, "123.jpg", tileSheet());
    saveDecal(dir, "zug.jpg", zugPicture());
    save(dir, "scream.jpg", screamPainting());
    save(dir, "girls.jpg", girlsPainting());
}

// Reveal order for the interludes: a ripple spreading from the centre, bent by
// noise, then rank-equalised so every level uncovers about the same area.
void writeWaveMap(const std::string& dir) {
    const int w = 640, h = 480;
    std::vector<float> v(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float dx = (x - 320) / 320.0f, dy = (y - 240) / 320.0f;
            float d = std::sqrt(dx * dx + dy * dy);
            float a = std::atan2(dy, dx);
            v[static_cast<size_t>(y) * w + x] =
                d + 0.06f * std::sin(a * 5 + d * 9) + 0.05f * std::sin(d * 40) + 0.18f * fbm(x / 90.0f, y / 90.0f, 4, 61);
        }
    std::vector<uint32_t> order(v.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return v[a] < v[b]; });
    std::vector<uint8_t> out(v.size());
    for (size_t rank = 0; rank < order.size(); ++rank) out[order[rank]] = static_cast<uint8_t>(rank * 256 / order.size());
    writeFile(dir + "/wave.raw", out);
}

}  // namespace assetgen
