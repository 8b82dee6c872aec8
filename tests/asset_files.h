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
    Bytes& pad(size_t n) {
        data.insert(data.end(), n, 0xEE);
        return *this;
    }
    Bytes& raw(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    // Record order in the file: x, z, y.
    Bytes& point(float x, float y, float z) { return f32(x).f32(z).f32(y); }
    Bytes& face(uint16_t a, uint16_t b, uint16_t c) { return u16(a).u16(b).u16(c).pad(2); }
    Bytes& keyHead(int32_t bound) { return pad(10).i32(bound).pad(4); }
    Bytes& key(int32_t frame, float x, float y, float z) { return i32(frame).pad(2).point(x, y, z); }
};

struct Rgb {
    uint8_t r, g, b;
};

// Pixels as interleaved R, G, B bytes, or (planar) as three planes one after the other.
inline std::vector<uint8_t> pixels(int width, int height, const std::function<Rgb(int x, int y)>& pixel, bool planar) {
    size_t n = (size_t)width * height;
    std::vector<uint8_t> out(n * 3);
    for (size_t i = 0; i < n; i++) {
        Rgb p = pixel((int)(i % width), (int)(i / width));
        const uint8_t c[3] = {p.r, p.g, p.b};
        for (int k = 0; k < 3; k++) out[planar ? k * n + i : 3 * i + k] = c[k];
    }
    return out;
}

// The file a TurboJPEG compression call (encoder, &out, &size) makes.
template <class Call>
std::vector<uint8_t> compressed(Call call) {
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (call(encoder, &out, &size) != 0) throw std::runtime_error(tjGetErrorStr2(encoder));
    std::vector<uint8_t> file(out, out + size);
    tjFree(out);
    tjDestroy(encoder);
    return file;
}

inline std::vector<uint8_t> makeJpeg(int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                                     int quality = 100) {
    std::vector<uint8_t> rgb = pixels(width, height, pixel, false);
    return compressed([&](tjhandle e, unsigned char** out, unsigned long* size) {
        return tjCompress2(e, rgb.data(), width, 0, height, TJPF_RGB, out, size, TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
    });
}

// A JPEG in the RGB colour space (components named R, G, B, no JFIF marker):
// the decoder converts no colours, so a flat colour comes back exactly. The
// three planes are coded as TurboJPEG would code Y, Cb and Cr, then renamed.
inline std::vector<uint8_t> rgbSpaceJpeg(int width, int height, const std::function<Rgb(int x, int y)>& pixel) {
    std::vector<uint8_t> planes = pixels(width, height, pixel, true);
    size_t n = (size_t)width * height;
    const unsigned char* source[3] = {planes.data(), planes.data() + n, planes.data() + 2 * n};
    std::vector<uint8_t> in = compressed([&](tjhandle e, unsigned char** out, unsigned long* size) {
        return tjCompressFromYUVPlanes(e, source, width, nullptr, height, TJSAMP_444, out, size, 100, TJFLAG_ACCURATEDCT);
    });
    std::vector<uint8_t> file{0xFF, 0xD8};
    // Copy the segments, leaving out APP0 and renaming components 1, 2, 3.
    size_t at = 2;
    while (at + 4 <= in.size()) {
        uint8_t marker = in[at + 1];
        size_t length = (size_t)in[at + 2] << 8 | in[at + 3];
        std::vector<uint8_t> segment(in.begin() + at, in.begin() + at + 2 + length);
        if (marker == 0xC0) {
            for (int c = 0; c < 3; c++) segment[10 + 3 * c] = "RGB"[c];
        } else if (marker == 0xDA) {
            for (int c = 0; c < 3; c++) segment[5 + 2 * c] = "RGB"[c];
            file.insert(file.end(), segment.begin(), segment.end());
            file.insert(file.end(), in.begin() + at + 2 + length, in.end());  // scan data and EOI
            return file;
        }
        if (marker != 0xE0) file.insert(file.end(), segment.begin(), segment.end());
        at += 2 + length;
    }
    throw std::runtime_error("no scan in the JPEG");
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
// every picture is a distinct flat colour (pictureColour), or a detailed
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
            dir.write(kPictureNames[p], rgbSpaceJpeg(width, height, [&](int, int) { return c; }));
        }
    }
    std::vector<uint8_t> wave(640 * 480);
    for (size_t i = 0; i < wave.size(); i++) wave[i] = (uint8_t)(i % 251);
    dir.write("wave.raw", wave);
}

}  // namespace assetfiles
