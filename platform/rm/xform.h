// Inside the retained-mode layer: vector maths and rigid transforms (a
// frame's axes and origin), shared by the objects and the renderer.
#pragma once
#include <algorithm>
#include <cmath>

#include "platform/rm/rm.h"

namespace rm {

struct V3 {
    float x, y, z;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// With x right, y up and z forward (left-handed), cross(y, z) = x.
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float len(V3 a) { return std::sqrt(dot(a, a)); }
inline V3 normalize(V3 a) {
    float l = len(a);
    return l > 0 ? a * (1.0f / l) : a;
}
inline V3 toV3(const D3DVECTOR& v) { return {v.x, v.y, v.z}; }

// Axes and origin of a frame in its parent's (or the world's) coordinates.
struct Xf {
    V3 ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1}, pos{0, 0, 0};
    V3 dir(V3 v) const { return ax * v.x + ay * v.y + az * v.z; }
    V3 point(V3 v) const { return pos + dir(v); }
    V3 dirInv(V3 v) const { return {dot(ax, v), dot(ay, v), dot(az, v)}; }
    V3 pointInv(V3 v) const { return dirInv(v - pos); }
    Xf operator*(const Xf& c) const { return {dir(c.ax), dir(c.ay), dir(c.az), point(c.pos)}; }
    Xf inverse() const {
        Xf r;
        r.ax = {ax.x, ay.x, az.x};
        r.ay = {ax.y, ay.y, az.y};
        r.az = {ax.z, ay.z, az.z};
        r.pos = dirInv(pos) * -1.0f;
        return r;
    }
};

// Axes from a direction and an up vector made perpendicular to it; false if
// they are parallel or zero.
inline bool axesFrom(V3 dir, V3 up, Xf& out) {
    V3 z = normalize(dir);
    if (len(z) < 1e-12f) return false;
    V3 y = up - z * dot(up, z);
    if (len(y) < 1e-6f * std::max(1.0f, len(up))) return false;
    y = normalize(y);
    out.az = z;
    out.ay = y;
    out.ax = cross(y, z);
    return true;
}

// Rotation about a unit axis (Rodrigues): positive angles turn x towards y
// about z.
inline V3 rotate(V3 v, V3 k, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(k, v) * s + k * (dot(k, v) * (1 - c));
}

inline void orthonormalize(Xf& f) {
    f.az = normalize(f.az);
    f.ay = normalize(f.ay - f.az * dot(f.ay, f.az));
    f.ax = cross(f.ay, f.az);
}

}  // namespace rm
