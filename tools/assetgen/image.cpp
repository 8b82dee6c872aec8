// Picture tools: noise, supersampled painting, text through fontconfig + SDL2_ttf,
// and JPEG writing with libjpeg-turbo.
#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

#include "tools/assetgen/assetgen.h"

namespace assetgen {

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

static uint32_t hash3(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

float smoothstep(float a, float b, float x) {
    float t = std::clamp((x - a) / (b - a), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

float valueNoise(float x, float y, uint32_t seed) {
    int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    float fx = x - xi, fy = y - yi;
    auto v = [&](int dx, int dy) { return (hash3(xi + dx, yi + dy, seed) & 0xffff) / 65535.0f; };
    float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    float a = v(0, 0) + (v(1, 0) - v(0, 0)) * sx;
    float b = v(0, 1) + (v(1, 1) - v(0, 1)) * sx;
    return a + (b - a) * sy;
}

float fbm(float x, float y, int octaves, uint32_t seed) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x, y, seed + 977u * i);
        norm += amp;
        x = x * 2.03f + 17.1f;
        y = y * 2.03f - 9.7f;
        amp *= 0.5f;
    }
    return sum / norm;
}

float Mask::sample(float x, float y) const {
    x -= 0.5f;
    y -= 0.5f;
    int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    float fx = x - xi, fy = y - yi;
    auto g = [&](int px, int py) {
        if (px < 0 || py < 0 || px >= w || py >= h) return 0.0f;
        return a[static_cast<size_t>(py) * w + px];
    };
    float top = g(xi, yi) + (g(xi + 1, yi) - g(xi, yi)) * fx;
    float bot = g(xi, yi + 1) + (g(xi + 1, yi + 1) - g(xi, yi + 1)) * fx;
    return top + (bot - top) * fy;
}

// Finds a font file for a fontconfig pattern such as "DejaVu Sans:bold".
static std::string fontFile(const std::string& spec) {
    static std::map<std::string, std::string> cache;
    auto it = cache.find(spec);
    if (it != cache.end()) return it->second;
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(spec.c_str()));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    std::string file;
    FcChar8* path = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) file = reinterpret_cast<char*>(path);
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    if (file.empty()) throw std::runtime_error("no font found for " + spec);
    cache[spec] = file;
    return file;
}

Mask renderText(const std::string& text, const std::string& fontSpec, int pointSize) {
    if (!TTF_WasInit() && TTF_Init() != 0) throw std::runtime_error(std::string("TTF_Init: ") + TTF_GetError());
    std::string file = fontFile(fontSpec);
    TTF_Font* font = TTF_OpenFont(file.c_str(), pointSize);
    if (!font) throw std::runtime_error("cannot open font " + file);
    SDL_Color white{255, 255, 255, 255};
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, text.c_str(), white);
    TTF_CloseFont(font);
    if (!rendered) throw std::runtime_error(std::string("TTF_RenderUTF8_Blended: ") + TTF_GetError());
    SDL_Surface* s = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    if (!s) throw std::runtime_error("SDL_ConvertSurfaceFormat failed");
    // Crop to the inked box so callers can place the text by its visible extent.
    int x0 = s->w, y0 = s->h, x1 = -1, y1 = -1;
    SDL_LockSurface(s);
    auto alphaAt = [&](int x, int y) {
        const uint8_t* row = static_cast<const uint8_t*>(s->pixels) + static_cast<size_t>(y) * s->pitch;
        uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        return static_cast<int>(v >> 24);
    };
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x)
            if (alphaAt(x, y) > 0) {
                x0 = std::min(x0, x); y0 = std::min(y0, y);
                x1 = std::max(x1, x); y1 = std::max(y1, y);
            }
    Mask m;
    if (x1 >= x0) {
        m.w = x1 - x0 + 1;
        m.h = y1 - y0 + 1;
        m.a.resize(static_cast<size_t>(m.w) * m.h);
        for (int y = 0; y < m.h; ++y)
            for (int x = 0; x < m.w; ++x) m.a[static_cast<size_t>(y) * m.w + x] = alphaAt(x + x0, y + y0) / 255.0f;
    }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return m;
}

void paintLayer(Image& img, int samples, const std::function<Paint(float, float)>& painter, bool hard) {
    float inv = 1.0f / samples;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            Rgb sum;
            float cover = 0;
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx) {
                    Paint p = painter(x + (sx + 0.5f) * inv, y + (sy + 0.5f) * inv);
                    if (p.a <= 0) continue;
                    sum = sum + p.c * p.a;
                    cover += p.a;
                }
            if (cover <= 0) continue;
            Rgb c = sum * (1.0f / cover);
            float a = cover * inv * inv;
            if (hard)
                img.at(x, y) = a >= 0.5f ? c : img.at(x, y);
            else
                img.at(x, y) = mix(img.at(x, y), c, std::min(a, 1.0f));
        }
}

void drawText(Image& img, const Mask& text, float cx, float cy, float height,
                const std::function<Rgb(float, float)>& fill, Rgb outline, float outlineWidth, bool hard) {
    if (text.w == 0) return;
    float scale = height / text.h;
    float w = text.w * scale;
    float x0 = cx - w / 2, y0 = cy - height / 2;
    int bx0 = std::max(0, static_cast<int>(x0 - outlineWidth - 2));
    int by0 = std::max(0, static_cast<int>(y0 - outlineWidth - 2));
    int bx1 = std::min(img.w, static_cast<int>(x0 + w + outlineWidth + 3));
    int by1 = std::min(img.h, static_cast<int>(y0 + height + outlineWidth + 3));
    if (bx0 >= bx1 || by0 >= by1) return;
    Image sub(bx1 - bx0, by1 - by0);
    for (int y = 0; y < sub.h; ++y)
        for (int x = 0; x < sub.w; ++x) sub.at(x, y) = img.at(x + bx0, y + by0);
    float r = outlineWidth / scale;
    paintLayer(sub, 3, [&](float px, float py) -> Paint {
        float mx = (px + bx0 - x0) / scale, my = (py + by0 - y0) / scale;
        float cov = text.sample(mx, my);
        float oc = 0;
        if (outlineWidth > 0) {
            oc = cov;
            for (int k = 0; k < 16 && oc < 1; ++k) {
                float ang = k * (2 * kPi / 16);
                oc = std::max(oc, text.sample(mx + r * std::cos(ang), my + r * std::sin(ang)));
                oc = std::max(oc, text.sample(mx + 0.5f * r * std::cos(ang), my + 0.5f * r * std::sin(ang)));
            }
        }
        float a = std::max(cov, oc);
        if (a <= 0) return {};
        Rgb f = fill(mx / text.w, my / text.h);
        Rgb c = outlineWidth > 0 ? mix(outline, f, std::min(1.0f, cov / a)) : f;
        return {c, a};
    }, hard);
    for (int y = 0; y < sub.h; ++y)
        for (int x = 0; x < sub.w; ++x) img.at(x + bx0, y + by0) = sub.at(x, y);
}

static std::vector<uint8_t> toBytes(const Image& img) {
    std::vector<uint8_t> rgb(static_cast<size_t>(img.w) * img.h * 3);
    for (size_t i = 0; i < img.px.size(); ++i) {
        const Rgb& c = img.px[i];
        rgb[3 * i + 0] = static_cast<uint8_t>(std::lround(std::clamp(c.r, 0.0f, 1.0f) * 255));
        rgb[3 * i + 1] = static_cast<uint8_t>(std::lround(std::clamp(c.g, 0.0f, 1.0f) * 255));
        rgb[3 * i + 2] = static_cast<uint8_t>(std::lround(std::clamp(c.b, 0.0f, 1.0f) * 255));
    }
    return rgb;
}

static std::vector<uint8_t> compress(const std::vector<uint8_t>& rgb, int w, int h, int quality) {
    tjhandle tj = tjInitCompress();
    if (!tj) throw std::runtime_error("tjInitCompress failed");
    unsigned char* out = nullptr;
    unsigned long size = 0;
    // Baseline (no progressive flag), full-resolution chroma.
    int rc = tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
    if (rc != 0) {
        std::string err = tjGetErrorStr2(tj);
        tjDestroy(tj);
        throw std::runtime_error("tjCompress2: " + err);
    }
    std::vector<uint8_t> bytes(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

static std::vector<uint8_t> decompress(const std::vector<uint8_t>& jpeg, int w, int h, int flags) {
    tjhandle tj = tjInitDecompress();
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    int rc = tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.data(), w, 0, h, TJPF_RGB, flags);
    tjDestroy(tj);
    if (rc != 0) throw std::runtime_error("tjDecompress2 failed");
    return rgb;
}

std::vector<uint8_t> encodeJpeg(const Image& img, int quality) {
    return compress(toBytes(img), img.w, img.h, quality);
}

std::vector<uint8_t> encodeDecalJpeg(const Image& img, int quality) {
    std::vector<uint8_t> rgb = toBytes(img);
    std::vector<uint8_t> jpeg = compress(rgb, img.w, img.h, quality);
    // Checked as the show decodes it: black comes back as (near) black, and no
    // shape pixel comes back that dark.
    std::vector<uint8_t> back = decompress(jpeg, img.w, img.h, TJFLAG_ACCURATEDCT);
    for (size_t i = 0; i < img.px.size(); ++i) {
        bool black = std::max({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}) == 0;
        int peak = std::max({back[3 * i], back[3 * i + 1], back[3 * i + 2]});
        if (black != (peak <= kDecalBlackLimit)) {
            char where[96];
            std::snprintf(where, sizeof where, "pixel %zu, %zu of a black-keyed picture decodes to %d", i % img.w,
                          i / img.w, peak);
            throw std::runtime_error(where);
        }
    }
    return jpeg;
}

}  // namespace assetgen
