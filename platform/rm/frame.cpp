// Texture coordinates from a wrap (flat, cylinder or sphere), and the
// position an animation's path gives at a time.
#include "platform/rm/frame.h"

namespace rm {

HRESULT Wrap::Apply(IDirect3DRMMeshBuilder* mesh) {
    Guard g(g_lock);
    if (!mesh) return D3DRMERR_BADVALUE;
    auto* m = static_cast<Mesh*>(mesh);
    constexpr float kPi = 3.14159265358979f;
    for (size_t i = 0; i < m->pos.size(); i++) {
        V3 r = m->pos[i] - origin;
        float x = dot(r, ax), y = dot(r, ay), z = dot(r, az);
        float u, v;
        if (type == D3DRMWRAP_FLAT) {
            u = su * x - ou;
            v = sv * y - ov;
        } else {
            // theta: longitude about the y axis, from +z towards +x, 0..2pi;
            // phi: angle from the +y axis, 0..pi.
            float theta = std::atan2(x, z);
            if (theta < 0) theta += 2 * kPi;
            float l = std::sqrt(x * x + y * y + z * z);
            float phi = l > 0 ? std::acos(std::clamp(y / l, -1.0f, 1.0f)) : 0.0f;
            u = su * theta / (2 * kPi) - ou;
            v = type == D3DRMWRAP_CYLINDER ? sv * y - ov : sv * phi / kPi - ov;
        }
        m->uv[i * 2] = u;
        m->uv[i * 2 + 1] = v;
    }
    return D3DRM_OK;
}

V3 Animation::at(float t) const {
    const size_t n = keys.size();
    if (n == 1) return keys[0].p;
    const float t0 = keys[0].t, t1 = keys[n - 1].t, span = t1 - t0;
    if (!(span > 0)) return keys[0].p;
    const bool closed = !(options & D3DRMANIMATION_OPEN) && (options & D3DRMANIMATION_CLOSED);
    if (closed) {
        float r = std::fmod(t - t0, span);
        if (r < 0) r += span;
        t = t0 + r;
    } else {
        t = std::clamp(t, t0, t1);
    }
    size_t i = (size_t)(std::upper_bound(keys.begin(), keys.end(), t, [](float v, const Key& k) { return v < k.t; }) -
                        keys.begin());
    i = std::clamp<size_t>(i, 1, n - 1) - 1;  // segment i .. i + 1
    const Key &a = keys[i], &b = keys[i + 1];
    float s = b.t > a.t ? (t - a.t) / (b.t - a.t) : 0.0f;
    if (!(options & D3DRMANIMATION_SPLINEPOSITION)) return a.p + (b.p - a.p) * s;
    V3 p0 = i > 0 ? keys[i - 1].p : (closed && n > 2 ? keys[n - 2].p : a.p);
    V3 p3 = i + 2 < n ? keys[i + 2].p : (closed && n > 2 ? keys[1].p : b.p);
    const V3 &p1 = a.p, &p2 = b.p;
    float s2 = s * s, s3 = s2 * s;
    return (p1 * 2.0f + (p2 - p0) * s + (p0 * 2.0f - p1 * 5.0f + p2 * 4.0f - p3) * s2 +
            (p1 * 3.0f - p0 - p2 * 3.0f + p3) * s3) *
           0.5f;
}

}  // namespace rm
