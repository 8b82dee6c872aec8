// The eight .3d meshes and the three camera key tracks.
//
// Meshes are built in the show's own coordinates (left-handed, +y up) with every
// triangle (a, b, c) ordered so that cross(b - a, c - a) points out of the solid,
// which makes it clockwise for a viewer outside. The file stores each vertex as
// x, z, y and each face as (a, c, b), because the show's reader swaps the last two
// coordinates and reverses the index order when it loads a file.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "tools/assetgen/assetgen.h"

namespace assetgen {
namespace {

struct Mesh {
    std::vector<Vec3> v;
    std::vector<std::array<int, 3>> f;
    std::vector<std::array<float, 2>> uv;  // empty, or one pair per vertex

    int add(Vec3 p, float u = 0, float w = 0) {
        v.push_back(p);
        uv.push_back({u, w});
        return static_cast<int>(v.size()) - 1;
    }
    void tri(int a, int b, int c) {
        // Zero-area triangles (at poles of a grid) are left out.
        if (length(cross(v[b] - v[a], v[c] - v[a])) < 1e-6f) return;
        f.push_back({a, b, c});
    }
    float signedVolume(size_t firstFace = 0) const {
        double s = 0;
        for (size_t i = firstFace; i < f.size(); ++i) s += dot(v[f[i][0]], cross(v[f[i][1]], v[f[i][2]]));
        return static_cast<float>(s / 6.0);
    }
    // Makes the faces added since firstFace (one closed part) face outwards.
    void orientClosed(size_t firstFace) {
        if (signedVolume(firstFace) < 0)
            for (size_t i = firstFace; i < f.size(); ++i) std::swap(f[i][1], f[i][2]);
    }
};

// A (nu x nv) grid of quads over a parametric surface, both directions closed or
// open as asked; vertices on closing seams are duplicated so texture coordinates
// can run 0..1 across them.
template <class Pos, class Tex>
void grid(Mesh& m, int nu, int nv, Pos pos, Tex tex) {
    int base = static_cast<int>(m.v.size());
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i) {
            float s = static_cast<float>(i) / nu, t = static_cast<float>(j) / nv;
            auto uvp = tex(s, t);
            m.add(pos(s, t), uvp[0], uvp[1]);
        }
    auto id = [&](int i, int j) { return base + j * (nu + 1) + i; };
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            m.tri(id(i, j), id(i + 1, j), id(i + 1, j + 1));
            m.tri(id(i, j), id(i + 1, j + 1), id(i, j + 1));
        }
}

void put16(std::vector<uint8_t>& b, uint32_t x) {
    b.push_back(static_cast<uint8_t>(x));
    b.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t x) {
    put16(b, x & 0xffff);
    put16(b, x >> 16);
}
void putF(std::vector<uint8_t>& b, float f) {
    uint32_t x;
    static_assert(sizeof x == sizeof f);
    std::memcpy(&x, &f, 4);
    put32(b, x);
}

constexpr int kKeyBound = 100;  // 101 keys, frames 0..100: one loop = 40 s at 2.5 frames/s

std::vector<uint8_t> encodeMesh(const Mesh& m, bool withUv, const std::vector<Vec3>* keys) {
    if (m.v.size() > 15000 || m.f.size() > 3749 || (withUv && m.v.size() > 7500))
        throw std::runtime_error("mesh exceeds the reader's capacity");
    std::vector<uint8_t> b;
    put16(b, static_cast<uint32_t>(m.v.size()));
    for (const Vec3& p : m.v) { putF(b, p.x); putF(b, p.z); putF(b, p.y); }
    put16(b, static_cast<uint32_t>(m.f.size()));
    for (const auto& t : m.f) {
        put16(b, t[0]); put16(b, t[2]); put16(b, t[1]); put16(b, 0);
    }
    if (keys) {
        put16(b, 0);
        put32(b, 0); put32(b, 0);
        put32(b, static_cast<uint32_t>(kKeyBound));
        put32(b, 0);
        for (int i = 0; i <= kKeyBound; ++i) {
            const Vec3& p = (*keys)[i];
            put32(b, static_cast<uint32_t>(i));
            put16(b, 0);
            putF(b, p.x); putF(b, p.z); putF(b, p.y);
        }
    }
    if (withUv) {
        put16(b, static_cast<uint32_t>(m.v.size()));
        for (const auto& t : m.uv) { putF(b, t[0]); putF(b, t[1]); }
    }
    return b;
}

// A closed smooth loop sampled at the key frames; the last key repeats the first.
template <class Path>
std::vector<Vec3> keyLoop(Path path) {
    std::vector<Vec3> k;
    for (int i = 0; i <= kKeyBound; ++i) k.push_back(path(2 * kPi * (i % kKeyBound) / kKeyBound));
    return k;
}

// Spiky ball: a subdivided icosahedron pushed out along its own rays, so every
// ray from the origin crosses the surface exactly once.
Mesh makeZag() {
    Mesh m;
    const float t = (1 + std::sqrt(5.0f)) / 2;
    std::vector<Vec3> p = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                           {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    for (auto& q : p) q = normalize(q);
    std::vector<std::array<int, 3>> f = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11},
                                         {1, 5, 9}, {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                         {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8}, {3, 8, 9},
                                         {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
    std::vector<Vec3> spikesA(p.begin(), p.end()), spikesB;
    for (int level = 0; level < 3; ++level) {
        std::vector<std::array<int, 3>> nf;
        std::vector<std::pair<std::pair<int, int>, int>> mids;
        auto mid = [&](int a, int b) {
            auto key = std::make_pair(std::min(a, b), std::max(a, b));
            for (auto& e : mids) if (e.first == key) return e.second;
            p.push_back(normalize(p[a] + p[b]));
            if (level == 0) spikesB.push_back(p.back());
            mids.push_back({key, static_cast<int>(p.size()) - 1});
            return static_cast<int>(p.size()) - 1;
        };
        for (auto& tr : f) {
            int a = mid(tr[0], tr[1]), b = mid(tr[1], tr[2]), c = mid(tr[2], tr[0]);
            nf.push_back({tr[0], a, c}); nf.push_back({tr[1], b, a});
            nf.push_back({tr[2], c, b}); nf.push_back({a, b, c});
        }
        f = nf;
    }
    for (const Vec3& d : p) {
        float sa = 0, sb = 0;
        for (const Vec3& s : spikesA) sa = std::max(sa, std::pow(std::max(0.0f, dot(d, s)), 48.0f));
        for (const Vec3& s : spikesB) sb = std::max(sb, std::pow(std::max(0.0f, dot(d, s)), 90.0f));
        float r = 17.0f + std::max(27.0f * sa, 15.0f * sb);
        // Planar projection: no seam, the picture shows front and back.
        m.add(d * r, 0.5f + 0.5f * d.x, 0.5f - 0.5f * d.y);
    }
    for (auto& tr : f) m.tri(tr[0], tr[1], tr[2]);
    m.orientClosed(0);
    return m;
}

// Tube of radius rad along a closed curve; frame from the curve's own offset
// vector so it closes without a twist.
template <class Curve, class Side>
void tube(Mesh& m, int n, int sides, float rad, Curve curve, Side sideRef, float uRepeat) {
    size_t first = m.f.size();
    grid(m, n, sides,
         [&](float s, float t) {
             float a = 2 * kPi * s;
             Vec3 c = curve(a);
             Vec3 tg = normalize(curve(a + 1e-3f) - curve(a - 1e-3f));
             Vec3 d = sideRef(a);
             Vec3 nrm = normalize(d - tg * dot(d, tg));
             Vec3 bin = cross(tg, nrm);
             // Around the tube the angle runs so that the picture is not mirrored
             // seen from outside (u along, v around, their cross product outwards).
             float b = -2 * kPi * t;
             return c + (nrm * std::cos(b) + bin * std::sin(b)) * rad;
         },
         [&](float s, float t) { return std::array<float, 2>{s * uRepeat, t}; });
    m.orientClosed(first);
}

Mesh makeZlin() {
    Mesh m;
    auto curve = [](float a) {
        float zig = std::asin(std::sin(8 * a)) * (2 / kPi);  // triangle wave, 8 teeth
        return Vec3{58 * std::cos(a), 11 * zig, 58 * std::sin(a)};
    };
    auto radial = [](float a) { return Vec3{std::cos(a), 0, std::sin(a)}; };
    tube(m, 176, 9, 3.2f, curve, radial, 1);
    return m;
}

Mesh makeSt() {
    Mesh m;
    grid(m, 40, 22,
         [](float s, float t) {
             float phi = 2 * kPi * s, th = kPi * t;
             float r = 44.0f * (1 + 0.05f * std::cos(6 * phi) * std::sin(th) * std::sin(th));
             // phi = 0 faces the scene-1 camera; phi grows to the viewer's right.
             return Vec3{r * std::sin(th) * std::sin(phi), r * std::cos(th), -r * std::sin(th) * std::cos(phi)};
         },
         [](float s, float t) { return std::array<float, 2>{2 * s, t}; });
    m.orientClosed(0);
    return m;
}

Mesh makeKnot() {
    Mesh m;
    const float R = 80, A = 20;
    auto curve = [&](float a) {
        float r = R + A * std::cos(3 * a);
        return Vec3{r * std::cos(2 * a), A * std::sin(3 * a), r * std::sin(2 * a)};
    };
    auto off = [&](float a) { return curve(a) - Vec3{R * std::cos(2 * a), 0, R * std::sin(2 * a)}; };
    tube(m, 150, 12, 7.0f, curve, off, 12);
    return m;
}

void quadFace(Mesh& m, Vec3 o, Vec3 du, Vec3 dv) {
    // o is the corner at picture top-left; du runs right, dv runs down.
    int a = m.add(o, 0, 0), b = m.add(o + du, 1, 0), c = m.add(o + du + dv, 1, 1), d = m.add(o + dv, 0, 1);
    m.tri(a, b, c);
    m.tri(a, c, d);
}

Mesh makeBox() {
    Mesh m;
    const float h = 22, cx = -86;
    auto P = [&](float x, float y, float z) { return Vec3{cx + x * h, y * h, z * h}; };
    // Each face seen from outside: top-left corner, right, down.
    quadFace(m, P(-1, 1, -1), P(1, 1, -1) - P(-1, 1, -1), P(-1, -1, -1) - P(-1, 1, -1));  // front (-z)
    quadFace(m, P(1, 1, 1), P(-1, 1, 1) - P(1, 1, 1), P(1, -1, 1) - P(1, 1, 1));          // back
    quadFace(m, P(1, 1, -1), P(1, 1, 1) - P(1, 1, -1), P(1, -1, -1) - P(1, 1, -1));       // right
    quadFace(m, P(-1, 1, 1), P(-1, 1, -1) - P(-1, 1, 1), P(-1, -1, 1) - P(-1, 1, 1));     // left
    quadFace(m, P(-1, 1, 1), P(1, 1, 1) - P(-1, 1, 1), P(-1, 1, -1) - P(-1, 1, 1));       // top
    quadFace(m, P(-1, -1, -1), P(1, -1, -1) - P(-1, -1, -1), P(-1, -1, 1) - P(-1, -1, -1));  // bottom
    m.orientClosed(0);
    return m;
}

Mesh makePyr() {
    Mesh m;
    const float cx = 86, b = 26;
    int apex = m.add({cx, 36, 0});
    int c0 = m.add({cx - b, -26, -b}), c1 = m.add({cx + b, -26, -b}), c2 = m.add({cx + b, -26, b}),
        c3 = m.add({cx - b, -26, b});
    m.tri(apex, c1, c0); m.tri(apex, c2, c1); m.tri(apex, c3, c2); m.tri(apex, c0, c3);
    m.tri(c0, c1, c2); m.tri(c0, c2, c3);
    m.orientClosed(0);
    m.uv.clear();
    return m;
}

// A floating grassy island: rolling top, shallow rocky cone underneath. Kept
// small enough that the scene-4 camera frames it, the sphere above it and the
// flower with a margin.
Mesh makeBlin() {
    Mesh m;
    const int seg = 64, rings = 18, under = 5;
    const float radius = 70, top = -50;
    auto height = [&](float x, float z) {
        float r = std::sqrt(x * x + z * z) / radius;
        float hills = 4.0f * std::sin(x / 12.0f) * std::cos(z / 16.0f) + 3.0f * (fbm(x / 28 + 3, z / 28 + 7, 3, 11) - 0.5f);
        return top + hills * smoothstep(1.0f, 0.55f, r) * smoothstep(0.3f, 0.55f, r) - 4.0f * smoothstep(0.85f, 1.0f, r);
    };
    auto uvOf = [](Vec3 p) { return std::array<float, 2>{p.x / 26.0f, p.z / 26.0f}; };
    auto addP = [&](Vec3 p) { auto t = uvOf(p); return m.add(p, t[0], t[1]); };
    int centre = addP({0, height(0, 0), 0});
    std::vector<std::vector<int>> ring;
    for (int r = 1; r <= rings; ++r) {
        std::vector<int> row;
        float rr = radius * r / rings;
        for (int s = 0; s < seg; ++s) {
            float a = 2 * kPi * s / seg;
            float x = rr * std::cos(a), z = rr * std::sin(a);
            row.push_back(addP({x, height(x, z), z}));
        }
        ring.push_back(row);
    }
    for (int r = 1; r <= under; ++r) {
        std::vector<int> row;
        float k = static_cast<float>(r) / (under + 1);
        float rr = radius * (1 - k) * (1 - 0.35f * k);
        for (int s = 0; s < seg; ++s) {
            float a = 2 * kPi * s / seg;
            float bump = 1 + 0.12f * (fbm(std::cos(a) * 3 + r, std::sin(a) * 3, 3, 5) - 0.5f);
            float x = rr * bump * std::cos(a), z = rr * bump * std::sin(a);
            row.push_back(addP({x, top - 6 - 26 * k * (1 + 0.15f * bump), z}));
        }
        ring.push_back(row);
    }
    int tip = addP({0, top - 36, 0});
    // Seen from above, increasing angle runs from +x to +z: counter-clockwise.
    for (int s = 0; s < seg; ++s) m.tri(centre, ring[0][(s + 1) % seg], ring[0][s]);
    for (size_t r = 0; r + 1 < ring.size(); ++r)
        for (int s = 0; s < seg; ++s) {
            int a = ring[r][s], b = ring[r][(s + 1) % seg], c = ring[r + 1][(s + 1) % seg], d = ring[r + 1][s];
            m.tri(a, b, c);
            m.tri(a, c, d);
        }
    for (int s = 0; s < seg; ++s) m.tri(tip, ring.back()[s], ring.back()[(s + 1) % seg]);
    m.orientClosed(0);
    return m;
}

// Flattened ellipsoid petals around a round heart; centre at the origin, the
// loader lifts it 60 units above the island.
Mesh makeFlower() {
    Mesh m;
    auto blob = [&](Vec3 c, Vec3 ax, Vec3 ay, Vec3 az, int nu, int nv) {
        size_t first = m.f.size();
        grid(m, nu, nv,
             [&](float s, float t) {
                 float phi = 2 * kPi * s, th = kPi * t;
                 return c + ax * (std::sin(th) * std::cos(phi)) + ay * std::cos(th) + az * (std::sin(th) * std::sin(phi));
             },
             [](float, float) { return std::array<float, 2>{0, 0}; });
        m.orientClosed(first);
    };
    auto petals = [&](int n, float len, float wid, float tilt, float phase, float y) {
        for (int i = 0; i < n; ++i) {
            float a = 2 * kPi * (i + phase) / n;
            Vec3 dir{std::cos(a) * std::cos(tilt), std::sin(tilt), std::sin(a) * std::cos(tilt)};
            Vec3 side{-std::sin(a), 0, std::cos(a)};
            Vec3 up = normalize(cross(dir, side));
            Vec3 c = dir * (len * 0.55f) + Vec3{0, y, 0};
            blob(c, dir * (len * 0.5f), up * 1.6f, side * wid, 12, 8);
        }
    };
    petals(10, 34, 8.0f, 0.45f, 0.0f, 4);
    petals(7, 24, 6.5f, 0.95f, 0.5f, 6);
    blob({0, 8, 0}, {8, 0, 0}, {0, 6, 0}, {0, 0, 8}, 16, 10);
    // Scaled down so the lifted flower stays inside the scene-4 frame.
    for (Vec3& p : m.v) p = p * 0.7f;
    m.uv.clear();
    return m;
}

}  // namespace

void writeMeshes(const std::string& dir) {
    Mesh knot = makeKnot(), blin = makeBlin(), box = makeBox();
    // Camera loops around the origin (all 120..300 units out), each a smooth closed curve.
    auto knotKeys = keyLoop([](float t) {
        float r = 215 + 35 * std::sin(2 * t);
        return Vec3{r * std::cos(t), 55 * std::sin(t + 0.7f) + 25 * std::sin(3 * t), r * std::sin(t)};
    });
    // Far enough that the cube (86 to one side) never comes closer than about
    // 170, so the cube, the sphere, the pyramid and the tiles in front share the view.
    auto boxKeys = keyLoop([](float t) {
        float r = 270 + 12 * std::sin(3 * t);
        return Vec3{r * std::sin(-t + 0.3f), 40 + 40 * std::sin(2 * t), -r * std::cos(-t + 0.3f)};
    });
    // Around the island while rising to look down on it (40 degrees) and
    // sinking to just below the sphere's level, farther when higher: the show
    // uses the first half of the loop. The camera looks at the sphere, the
    // island's rock reaches 86 below and the flower 71 above, so the path
    // keeps room for both.
    auto blinKeys = keyLoop([](float t) {
        float e = 0.3f + 0.4f * std::sin(2 * t), r = 282 + 16 * std::sin(2 * t);
        return Vec3{r * std::cos(e) * std::sin(t), r * std::sin(e), -r * std::cos(e) * std::cos(t)};
    });
    writeFile(dir + "/zag.3d", encodeMesh(makeZag(), true, nullptr));
    writeFile(dir + "/zlin.3d", encodeMesh(makeZlin(), false, nullptr));
    writeFile(dir + "/s_t.3d", encodeMesh(makeSt(), true, nullptr));
    writeFile(dir + "/knot.3d", encodeMesh(knot, true, &knotKeys));
    writeFile(dir + "/blin.3d", encodeMesh(blin, true, &blinKeys));
    writeFile(dir + "/box.3d", encodeMesh(box, true, &boxKeys));
    writeFile(dir + "/pyr.3d", encodeMesh(makePyr(), false, nullptr));
    writeFile(dir + "/flower.3d", encodeMesh(makeFlower(), false, nullptr));
}

}  // namespace assetgen
