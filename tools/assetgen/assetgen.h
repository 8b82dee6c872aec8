// assetgen: writes the show's DATA folder (pictures, meshes, wave map, jingle, music).
// Everything is procedural and deterministic: one seeded generator, no clocks,
// no library random distributions, single-threaded floating point.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace assetgen {

constexpr float kPi = 3.14159265358979f;

// PCG32 (O'Neill): small, fast, identical output everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) { next(); state_ += seed; next(); }
    uint32_t next() {
        uint64_t old = state_;
        state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
        uint32_t xs = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
        uint32_t rot = static_cast<uint32_t>(old >> 59u);
        return (xs >> rot) | (xs << ((32u - rot) & 31u));
    }
    // Uniform in [0, 1).
    float uniform() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
    float range(float a, float b) { return a + (b - a) * uniform(); }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }

private:
    uint64_t state_ = 0;
};

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(Vec3 a) { return std::sqrt(dot(a, a)); }
inline Vec3 normalize(Vec3 a) {
    float l = length(a);
    return l > 0 ? a * (1.0f / l) : a;
}

// Colour as linear-ish floats 0..1 (no gamma handling: painted directly in sRGB).
struct Rgb {
    float r = 0, g = 0, b = 0;
};
inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Rgb operator*(Rgb a, float s) { return {a.r * s, a.g * s, a.b * s}; }
inline Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Rgb mix(Rgb a, Rgb b, float t) { return a * (1 - t) + b * t; }
inline Rgb hex(uint32_t v) {
    return {((v >> 16) & 255) / 255.0f, ((v >> 8) & 255) / 255.0f, (v & 255) / 255.0f};
}

struct Image {
    int w = 0, h = 0;
    std::vector<Rgb> px;
    Image() = default;
    Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height) {}
    Rgb& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
    const Rgb& at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

// A grey-level coverage mask (0..1), e.g. rendered text.
struct Mask {
    int w = 0, h = 0;
    std::vector<float> a;
    float sample(float x, float y) const;  // bilinear, 0 outside
};

// ---- files ----
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// ---- images (image.cpp) ----
float valueNoise(float x, float y, uint32_t seed);                  // smooth, about 0..1
float fbm(float x, float y, int octaves, uint32_t seed);            // 0..1
float smoothstep(float a, float b, float x);
Mask renderText(const std::string& text, const std::string& fontSpec, int pointSize);
// Paints with supersampling; the painter returns colour and coverage at a point.
struct Paint {
    Rgb c;
    float a = 0;
};
// hard: a pixel takes the shape's colour when at least half covered, else stays
// untouched (no blending into the background; used for black-keyed pictures).
void paintLayer(Image& img, int samples, const std::function<Paint(float, float)>& painter, bool hard = false);
// Stamps a text mask centred at (cx, cy) scaled to the given height in pixels,
// filled by fill(u, v) with u, v in 0..1 over the text's box; optional outline.
void drawText(Image& img, const Mask& text, float cx, float cy, float height,
              const std::function<Rgb(float, float)>& fill, Rgb outline, float outlineWidth, bool hard = false);
std::vector<uint8_t> encodeJpeg(const Image& img, int quality);
// Encodes a picture meant for black-is-transparent use: every non-black pixel
// is shape, the rest is key. Throws unless every black pixel decodes (accurate
// IDCT, as the show decodes) to at most kDecalBlackLimit in each channel and
// every shape pixel to more: at quality 100 with full-resolution chroma the
// codec moves a pixel by up to three levels, well within the renderer's key
// tolerance, so nothing around a shape is left as a dark fringe or speck.
constexpr int kDecalBlackLimit = 3;
std::vector<uint8_t> encodeDecalJpeg(const Image& img, int quality);

// ---- content ----
void writePictures(const std::string& dir);
void writeMeshes(const std::string& dir);
void writeWaveMap(const std::string& dir);
void writeAudio(const std::string& dir);

}  // namespace assetgen
