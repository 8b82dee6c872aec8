// Writing small asset files for tests and benchmarks: .3d meshes, JPEG
// pictures (TurboJPEG) and a scratch DATA folder to run the loaders in.
#pragma once
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace assetfiles {

// Little-endian byte writer for .3d files.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& u16(uint16_t v) { return raw(&v, 2); }
    Bytes& i32(int32_t v) { return raw(&v, 4); }
    Bytes& f32(float v) { return raw(&v, 4); }
    Bytes& pad(size_t n) { return data.insert(data.end(), n, 0xEE), *this; }
    Bytes& raw(const void* p, size_t n) {
        return data.insert(data.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n), *this;
    }
    // Record order in the file: x, z, y.
    Bytes& point(float x, float y, float z) { return f32(x).f32(z).f32(y); }
    Bytes& face(uint16_t a, uint16_t b, uint16_t c) { return u16(a).u16(b).u16(c).pad(2); }
    Bytes& keyHead(int32_t bound) { return pad(10).i32(bound).pad(4); }
    Bytes& key(int32_t frame, float x, float y, float z) { return i32(frame).pad(2).point(x, y, z); }
};

struct Rgb { uint8_t r, g, b; };

// A JPEG (4:4:4, accurate DCT) of the given pixels; at quality 100 a flat
// colour comes back within 1 or 2 of each channel.
inline std::vector<uint8_t> makeJpeg(int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                                     int quality = 100) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            Rgb p = pixel(x, y);
            rgb.insert(rgb.end(), {p.r, p.g, p.b});
        }
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, quality,
                    TJFLAG_ACCURATEDCT) != 0)
        throw std::runtime_error(tjGetErrorStr2(encoder));
    std::vector<uint8_t> file(out, out + size);
    tjFree(out);
    tjDestroy(encoder);
    return file;
}

inline std::vector<uint8_t> solidJpeg(int width, int height, Rgb colour) {
    return makeJpeg(width, height, [&](int, int) { return colour; });
}

inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path.string());
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// A scratch folder with DATA/ inside, made the working directory while it
// lives (the readers take paths relative to it).
struct ScratchDir {
    std::filesystem::path root, data, previous;
    ScratchDir() {
        char pattern[] = "/tmp/velkor-assets-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
        root = pattern;
        data = root / "DATA";
        std::filesystem::create_directory(data);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root);
    }
    ~ScratchDir() {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    // name as in the show ("zag.3d"), written into DATA/.
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const { writeFile(data / name, bytes); }
};

// The show's asset set, written into dir.data. Meshes are grids of about
// `vertices` vertices (two triangles per cell), each file's vertices offset by
// its index along x; key tracks have the bounds below with frames 0 to bound;
// every picture is a distinct flat colour (pictureColour, 16 apart in red
// and green, so that a decoded one is told apart within a few), or a detailed
// pattern when `detailed` (for timing decoders on realistic data).
struct ShowAssets {
    int vertices = 16;
    bool detailed = false;
    int knotBound = 7, blinBound = 5, boxBound = 3;
};

inline const char* const kMeshNames[8] = {"zag.3d", "zlin.3d", "s_t.3d", "knot.3d",
                                          "blin.3d", "box.3d", "pyr.3d", "flower.3d"};
inline const char* const kPictureNames[16] = {"loading.jpg", "arrow1.jpg", "arrow2.jpg", "text2.jpg",
                                              "text.jpg",    "back.jpg",   "grass.jpg",  "text3.jpg",
                                              "suba.jpg",    "te.jpg",     "text1.jpg",  "text4.jpg",
                                              "123.jpg",     "zug.jpg",    "scream.jpg", "girls.jpg"};

inline Rgb pictureColour(int index) { return Rgb{(uint8_t)(16 * index), (uint8_t)(255 - 16 * index), 7}; }

// Key frame i of a track: position (i, 2i, 3i) plus 100 * file.
inline Bytes meshAssetFile(int file, int vertices, bool keys, int bound, bool tex) {
    int side = 2;
    while ((side + 1) * (side + 1) <= vertices) side++;
    Bytes b;
    b.u16((uint16_t)(side * side));
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) b.point((float)(x + file), (float)y, (float)((x * y) % 5));
    int cells = (side - 1) * (side - 1);
    b.u16((uint16_t)(2 * cells));
    for (int y = 0; y + 1 < side; y++)
        for (int x = 0; x + 1 < side; x++) {
            uint16_t i = (uint16_t)(y * side + x);
            b.face(i, (uint16_t)(i + side), (uint16_t)(i + 1));
            b.face((uint16_t)(i + 1), (uint16_t)(i + side), (uint16_t)(i + side + 1));
        }
    if (keys) {
        b.keyHead(bound);
        for (int k = 0; k <= bound; k++) b.key(k, 100.0f * file + k, 100.0f * file + 2 * k, 100.0f * file + 3 * k);
    }
    if (tex) {
        b.u16((uint16_t)(side * side));
        for (int i = 0; i < side * side; i++) b.f32((float)(i % side) / side).f32((float)(i / side) / side);
    }
    return b;
}

inline void writeShowAssets(const ScratchDir& dir, const ShowAssets& a = {}) {
    const bool keys[8] = {false, false, false, true, true, true, false, false};
    const bool tex[8] = {true, false, true, true, true, true, false, false};
    const int bounds[8] = {0, 0, 0, a.knotBound, a.blinBound, a.boxBound, 0, 0};
    for (int f = 0; f < 8; f++) dir.write(kMeshNames[f], meshAssetFile(f, a.vertices, keys[f], bounds[f], tex[f]).data);
    for (int p = 0; p < 16; p++) {
        int size = p < 12 ? 256 : 512, width = p < 14 ? size : 640, height = p < 14 ? size : 480;
        Rgb c = pictureColour(p);
        if (a.detailed) {
            uint32_t seed = 12345u + p;
            dir.write(kPictureNames[p], makeJpeg(width, height, [&](int x, int y) {
                          seed = seed * 1664525u + 1013904223u;
                          uint8_t noise = (uint8_t)(seed >> 27);
                          return Rgb{(uint8_t)(x + noise), (uint8_t)(y * 2 + noise), (uint8_t)((x ^ y) + c.b)};
                      }, 90));
        } else {
            dir.write(kPictureNames[p], solidJpeg(width, height, c));
        }
    }
    std::vector<uint8_t> wave(640 * 480);
    for (size_t i = 0; i < wave.size(); i++) wave[i] = (uint8_t)(i % 251);
    dir.write("wave.raw", wave);
}

}  // namespace assetfiles
