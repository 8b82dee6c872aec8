// Recording stand-ins for the retained-mode objects, so that the show's
// direction can be checked call by call without rendering anything.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/rm/rm.h"

inline std::vector<std::string> g_calls;
inline std::map<const void*, std::string> g_names;

inline std::string nameOf(const void* p) {
    auto it = g_names.find(p);
    return it == g_names.end() ? (p ? "?" : "null") : it->second;
}

inline std::string fmt(const char* format, double a = 0, double b = 0, double c = 0, double d = 0) {
    char text[160];
    snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

struct FakeFrame : IDirect3DRMFrame {
    D3DVECTOR position{0, 0, 0};
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    void log(const std::string& what) { g_calls.push_back(nameOf(this) + "." + what); }
    HRESULT AddVisual(IDirect3DRMMeshBuilder* v) override { return log("AddVisual(" + nameOf(v) + ")"), 0; }
    HRESULT AddLight(IDirect3DRMLight* l) override { return log("AddLight"), 0; }
    HRESULT SetPosition(IDirect3DRMFrame* r, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        position = {x, y, z};
        return log("SetPosition(" + nameOf(r) + fmt(", %g, %g, %g)", x, y, z)), 0;
    }
    HRESULT SetOrientation(IDirect3DRMFrame*, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE) override {
        return log("SetOrientation"), 0;
    }
    HRESULT SetRotation(IDirect3DRMFrame* r, D3DVALUE x, D3DVALUE y, D3DVALUE z, D3DVALUE t) override {
        return log("SetRotation(" + nameOf(r) + fmt(", %g, %g, %g, %g)", x, y, z, t)), 0;
    }
    HRESULT Move(D3DVALUE d) override { return log(fmt("Move(%g)", d)), 0; }
    HRESULT LookAt(IDirect3DRMFrame* t, IDirect3DRMFrame* r, int c) override {
        return log("LookAt(" + nameOf(t) + ", " + nameOf(r) + fmt(", %g)", c)), 0;
    }
    HRESULT SetSortMode(int) override { return 0; }
    HRESULT SetZbufferMode(int) override { return 0; }
    HRESULT GetPosition(IDirect3DRMFrame*, D3DVECTOR* p) override { return *p = position, 0; }
    HRESULT GetOrientation(IDirect3DRMFrame*, D3DVECTOR*, D3DVECTOR*) override { return 0; }
};

struct FakeMesh : IDirect3DRMMeshBuilder {
    D3DCOLOR colour = 0xFFFFFFFF;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    void log(const std::string& what) { g_calls.push_back(nameOf(this) + "." + what); }
    HRESULT AddFaces(DWORD, const D3DVECTOR*, DWORD, const D3DVECTOR*, const DWORD*, void**) override {
        return log("AddFaces"), 0;
    }
    HRESULT Scale(D3DVALUE x, D3DVALUE y, D3DVALUE z) override { return log(fmt("Scale(%g, %g, %g)", x, y, z)), 0; }
    HRESULT Translate(D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        return log(fmt("Translate(%g, %g, %g)", x, y, z)), 0;
    }
    HRESULT GetBox(D3DRMBOX*) override { return 0; }
    HRESULT SetColor(D3DCOLOR c) override {
        colour = c;
        char text[32];
        snprintf(text, sizeof text, "SetColor(0x%08X)", (unsigned)c);
        return log(text), 0;
    }
    HRESULT SetColorRGB(D3DVALUE, D3DVALUE, D3DVALUE) override { return log("SetColorRGB"), 0; }
    HRESULT SetMaterial(IDirect3DRMMaterial*) override { return log("SetMaterial"), 0; }
    HRESULT SetTexture(IDirect3DRMTexture* t) override { return log("SetTexture(" + nameOf(t) + ")"), 0; }
    HRESULT SetPerspective(BOOL) override { return 0; }
    HRESULT SetTextureCoordinates(DWORD i, D3DVALUE u, D3DVALUE v) override {
        return log(fmt("SetTextureCoordinates(%g, %.6f, %.6f)", i, u, v)), 0;
    }
    int GetVertexCount() override { return 0; }
    int GetFaceCount() override { return 0; }
    HRESULT GetVertex(DWORD, D3DVECTOR*) override { return 0; }
    HRESULT GetTextureCoordinates(DWORD, D3DVALUE*, D3DVALUE*) override { return 0; }
    D3DCOLOR GetColor() override { return colour; }
};

struct FakeAnimation : IDirect3DRMAnimation {
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    void log(const std::string& what) { g_calls.push_back(nameOf(this) + "." + what); }
    HRESULT SetOptions(DWORD o) override { return log(fmt("SetOptions(%g)", o)), 0; }
    HRESULT AddPositionKey(D3DVALUE t, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        return log(fmt("AddPositionKey(%g, %g, %g, %g)", t, x, y, z)), 0;
    }
    HRESULT SetFrame(IDirect3DRMFrame* f) override { return log("SetFrame(" + nameOf(f) + ")"), 0; }
    HRESULT SetTime(D3DVALUE t) override { return log(fmt("SetTime(%g)", t)), 0; }
};
