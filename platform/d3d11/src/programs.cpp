#include "programs.h"

#include "kernels.h"

#include <algorithm>

namespace d3d11sw {

namespace {

// out = mul(v, M) for a row vector: column c of M dotted with v.
inline void MulRow(const float v[4], const float m[16], float out[4]) {
    for (int c = 0; c < 4; ++c)
        out[c] = v[0] * m[4 * c] + v[1] * m[4 * c + 1] + v[2] * m[4 * c + 2] + v[3] * m[4 * c + 3];
}
// out = mul(M, v) for a column vector.
inline void MulCol(const float m[16], const float v[4], float out[4]) {
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
}
// Element-wise m = a x b as HLSL mul(a, b).
inline void MulMat(const float a[16], const float b[16], float out[16]) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = s;
        }
}

inline float Dot3(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline bool Normalise(float* v) {
    const float len2 = Dot3(v, v);
    if (len2 <= 1e-20f) return false;
    const float inv = 1.0f / std::sqrt(len2);
    v[0] *= inv, v[1] *= inv, v[2] *= inv;
    return true;
}

constexpr unsigned Bit(Semantic s) {
    return 1u << s;
}

} // namespace

unsigned RequiredSemantics(VsProgram program) {
    switch (program) {
    case VsProgram::Scene:
        return Bit(kPosition) | Bit(kColor) | Bit(kNormal) | Bit(kTexcoord) | Bit(kTextureIndex);
    case VsProgram::Skinned:
        return Bit(kPosition) | Bit(kColor) | Bit(kNormal) | Bit(kTexcoord) | Bit(kTextureIndex) |
               Bit(kBlendIndices) | Bit(kBlendWeight);
    case VsProgram::Camera:
        return Bit(kPosition) | Bit(kTexcoord);
    case VsProgram::Gui:
        return Bit(kPosition) | Bit(kTexcoord) | Bit(kColor);
    }
    return 0;
}

// Scene varyings: world position 0-2, world normal 3-5, uv 6-7, colour 8-11, vector to the camera 12-14,
// material index 15. Camera: uv 0-1. GUI: colour 0-3, uv 4-5.
int VaryingCount(VsProgram program) {
    switch (program) {
    case VsProgram::Scene:
    case VsProgram::Skinned:
        return 16;
    case VsProgram::Camera:
        return 2;
    case VsProgram::Gui:
        return 6;
    }
    return 0;
}

bool LastVaryingFlat(VsProgram program) {
    return program == VsProgram::Scene || program == VsProgram::Skinned;
}

bool Compatible(VsProgram vs, PsProgram ps) {
    switch (ps) {
    case PsProgram::Scene:
    case PsProgram::Textured:
        return vs == VsProgram::Scene || vs == VsProgram::Skinned;
    case PsProgram::Camera:
        return vs == VsProgram::Camera;
    case PsProgram::Gui:
        return vs == VsProgram::Gui;
    }
    return false;
}

void PrepareVs(VsUniforms& u, VsProgram program, const ConstantBlock& slot0, const ConstantBlock& slot3) {
    u.program = program;
    if (program == VsProgram::Gui) {
        slot0.Matrix(0, u.guiProjection);
        return;
    }
    slot0.Matrix(0, u.combined);
    slot0.Matrix(64, u.world);
    slot0.Matrix(128, u.invWorld);
    for (int i = 0; i < 3; ++i)
        u.cameraPos[i] = slot0.F(320 + size_t(i) * 4);
    u.skin = slot3;
}

void RunVs(const VsUniforms& u, const VSInput& in, float clip[4], float* v) {
    switch (u.program) {
    case VsProgram::Gui: {
        const float p[4] = {in.a[kPosition].f[0], in.a[kPosition].f[1], 0.0f, 1.0f};
        MulCol(u.guiProjection, p, clip);
        for (int i = 0; i < 4; ++i)
            v[i] = in.a[kColor].f[i];
        v[4] = in.a[kTexcoord].f[0];
        v[5] = in.a[kTexcoord].f[1];
        return;
    }
    case VsProgram::Camera:
        MulRow(in.a[kPosition].f, u.combined, clip);
        v[0] = in.a[kTexcoord].f[0];
        v[1] = in.a[kTexcoord].f[1];
        return;
    case VsProgram::Scene:
    case VsProgram::Skinned:
        break;
    }

    float pos[4], nrm[4];
    std::memcpy(pos, in.a[kPosition].f, sizeof pos);
    nrm[0] = in.a[kNormal].f[0], nrm[1] = in.a[kNormal].f[1], nrm[2] = in.a[kNormal].f[2], nrm[3] = 0;
    if (u.program == VsProgram::Skinned) {
        // Sum of w_k x (bone[i_k] x inverse bind[i_k]); bones past the 100 of the buffer are skipped.
        float skin[16] = {};
        float weightSum = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t index = in.a[kBlendIndices].u[k];
            const float w = in.a[kBlendWeight].f[k];
            if (w == 0.0f || index >= 100) continue;
            float bone[16], bind[16], m[16];
            u.skin.Matrix(size_t(index) * 64, bone);
            u.skin.Matrix(6400 + size_t(index) * 64, bind);
            MulMat(bone, bind, m);
            for (int i = 0; i < 16; ++i)
                skin[i] += w * m[i];
            weightSum += w;
        }
        if (weightSum > 0) {
            float p2[4], n2[4];
            MulCol(skin, pos, p2);
            MulCol(skin, nrm, n2);
            std::memcpy(pos, p2, sizeof pos);
            std::memcpy(nrm, n2, sizeof nrm);
        }
    }
    MulRow(pos, u.combined, clip);
    float wp[4], wn[4];
    MulCol(u.world, pos, wp);
    MulCol(u.invWorld, nrm, wn);
    v[0] = wp[0], v[1] = wp[1], v[2] = wp[2];
    v[3] = wn[0], v[4] = wn[1], v[5] = wn[2];
    v[6] = in.a[kTexcoord].f[0], v[7] = in.a[kTexcoord].f[1];
    for (int i = 0; i < 4; ++i)
        v[8 + i] = in.a[kColor].f[i];
    for (int i = 0; i < 3; ++i)
        v[12 + i] = u.cameraPos[i] - wp[i];
    v[15] = float(in.a[kTextureIndex].u[0]);
}

void PreparePs(PsUniforms& u, PsProgram program, const ConstantBlock& slot1, const ConstantBlock& slot2,
               ShaderResourceView* view0, SamplerState* sampler0) {
    u.program = program;
    u.texture = MakeTextureRef(view0, sampler0);
    u.textured = view0 != nullptr;
    if (program != PsProgram::Scene && program != PsProgram::Textured) return;
    for (int m = 0; m < 4; ++m)
        for (int i = 0; i < 12; ++i)
            u.material[m][i] = slot1.F(size_t(m) * 48 + size_t(i) * 4);
    for (int i = 0; i < 4; ++i)
        u.objectColour[i] = slot1.F(192 + size_t(i) * 4);
    for (int i = 0; i < 3; ++i)
        u.ambient[i] = slot2.F(10240 + size_t(i) * 4);
    const uint32_t count = std::min<uint32_t>(slot2.U(10252), 128);
    u.lights.resize(count);
    constexpr float kDegrees = 3.14159265f / 180.0f;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t b = size_t(i) * 64;
        Light& l = u.lights[i];
        for (int k = 0; k < 3; ++k) {
            l.diffuse[k] = slot2.F(b + size_t(k) * 4);
            l.specular[k] = slot2.F(b + 16 + size_t(k) * 4);
            l.direction[k] = slot2.F(b + 32 + size_t(k) * 4);
            l.position[k] = slot2.F(8192 + size_t(i) * 16 + size_t(k) * 4);
        }
        l.type = int(slot2.U(b + 12));
        l.intensity = slot2.F(b + 28);
        l.range = slot2.F(b + 44);
        l.falloff = slot2.F(b + 48);
        l.cosInner = std::cos(slot2.F(b + 52) * kDegrees);
        l.cosOuter = std::cos(slot2.F(b + 56) * kDegrees);
        Normalise(l.direction);
    }
}

void ScenePs::Shade(const float* v, float out[4]) const {
    float base[4] = {1, 1, 1, 1};
    if (u->textured) Sample(u->texture, v[6], v[7], base);
    for (int i = 0; i < 4; ++i)
        base[i] *= u->objectColour[i] * (vertexColour ? v[8 + i] : 1.0f);

    float n[3] = {v[3], v[4], v[5]};
    // Geometry without normals (procedural cubes, debug shapes) is shown unlit.
    if (!Normalise(n)) {
        std::memcpy(out, base, sizeof(float) * 4);
        return;
    }
    const int m = MaterialIndex(v[15]);
    const float* A = u->material[m];
    const float* B = A + 4;
    const float* C = A + 8;
    float lit[3] = {u->ambient[0] * A[0], u->ambient[1] * A[1], u->ambient[2] * A[2]};
    float toEye[3] = {v[12], v[13], v[14]};
    Normalise(toEye);
    for (const Light& l : u->lights) {
        float L[3];
        float att = 1.0f;
        if (l.type == 0) {
            L[0] = -l.direction[0], L[1] = -l.direction[1], L[2] = -l.direction[2];
        } else {
            L[0] = l.position[0] - v[0], L[1] = l.position[1] - v[1], L[2] = l.position[2] - v[2];
            const float dist = std::sqrt(Dot3(L, L));
            if (dist >= l.range || dist <= 1e-6f) continue;
            L[0] /= dist, L[1] /= dist, L[2] /= dist;
            att = 1.0f - dist / l.range;
            if (l.falloff != 1.0f) att = std::pow(att, l.falloff);
            if (l.type == 2) {
                const float c = -Dot3(L, l.direction);
                if (c <= l.cosOuter) continue;
                if (c < l.cosInner) att *= (c - l.cosOuter) / (l.cosInner - l.cosOuter);
            }
        }
        const float ndl = Dot3(n, L);
        if (ndl <= 0) continue;
        float h[3] = {L[0] + toEye[0], L[1] + toEye[1], L[2] + toEye[2]};
        float spec = 0;
        const bool specular =
            (C[0] * l.specular[0] != 0) | (C[1] * l.specular[1] != 0) | (C[2] * l.specular[2] != 0);
        if (specular && Normalise(h)) {
            const float ndh = Dot3(n, h);
            if (ndh > 0) spec = std::pow(ndh, C[3]);
        }
        const float k = l.intensity * att;
        for (int i = 0; i < 3; ++i)
            lit[i] += k * (B[i] * l.diffuse[i] * ndl + C[i] * l.specular[i] * spec);
    }
    for (int i = 0; i < 3; ++i)
        out[i] = base[i] * lit[i];
    out[3] = base[3];
}

// ---- sampling --------------------------------------------------------------------------------------

TextureRef MakeTextureRef(ShaderResourceView* view, SamplerState* sampler) {
    TextureRef t;
    if (!view) return t;
    Texture2D* tex = view->Texture();
    if (tex->IsDepth()) return t;
    t.pixels = tex->Colour();
    t.width = tex->Width();
    t.height = tex->Height();
    if (sampler) {
        t.linear = sampler->desc.Filter != D3D11_FILTER_MIN_MAG_MIP_POINT;
        t.addressU = sampler->desc.AddressU;
        t.addressV = sampler->desc.AddressV;
        std::memcpy(t.border, sampler->desc.BorderColor, sizeof t.border);
    }
    return t;
}

namespace {
// Texel index along one axis; -1 stands for the border colour.
inline int Address(int i, int n, D3D11_TEXTURE_ADDRESS_MODE mode) {
    if (i >= 0 && i < n) return i;
    switch (mode) {
    case D3D11_TEXTURE_ADDRESS_WRAP: {
        const int r = i % n;
        return r < 0 ? r + n : r;
    }
    case D3D11_TEXTURE_ADDRESS_MIRROR: {
        const int period = 2 * n;
        int r = i % period;
        if (r < 0) r += period;
        return r < n ? r : period - 1 - r;
    }
    case D3D11_TEXTURE_ADDRESS_BORDER:
        return -1;
    case D3D11_TEXTURE_ADDRESS_CLAMP:
        break;
    }
    return i < 0 ? 0 : n - 1;
}

inline void Texel(const TextureRef& t, int x, int y, float out[4]) {
    x = Address(x, t.width, t.addressU);
    y = Address(y, t.height, t.addressV);
    if (x < 0 || y < 0) {
        std::memcpy(out, t.border, sizeof t.border);
        return;
    }
    const uint32_t p = t.pixels[size_t(y) * size_t(t.width) + size_t(x)];
    constexpr float k = 1.0f / 255.0f;
    out[0] = float(p & 0xFF) * k;
    out[1] = float((p >> 8) & 0xFF) * k;
    out[2] = float((p >> 16) & 0xFF) * k;
    out[3] = float(p >> 24) * k;
}
} // namespace

namespace {
// Bilinear blend of four packed texels with 8-bit weights, two channels per 32-bit lane.
inline void Blend4(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t wx, uint32_t wy, float out[4]) {
    const uint32_t w11 = (wx * wy) >> 8, w10 = wx - w11, w01 = wy - w11, w00 = 256 - wx - wy + w11;
    const uint32_t rb = ((a & 0x00FF00FFu) * w00 + (b & 0x00FF00FFu) * w10 + (c & 0x00FF00FFu) * w01 +
                         (d & 0x00FF00FFu) * w11);
    const uint32_t ga = (((a >> 8) & 0x00FF00FFu) * w00 + ((b >> 8) & 0x00FF00FFu) * w10 +
                         ((c >> 8) & 0x00FF00FFu) * w01 + ((d >> 8) & 0x00FF00FFu) * w11);
    constexpr float k = 1.0f / (255.0f * 256.0f);
    out[0] = float(rb & 0xFFFFu) * k;
    out[1] = float(ga & 0xFFFFu) * k;
    out[2] = float(rb >> 16) * k;
    out[3] = float(ga >> 16) * k;
}
} // namespace

void Sample(const TextureRef& t, float u, float v, float out[4]) {
    if (!t.pixels || !std::isfinite(u) || !std::isfinite(v)) {
        out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    // Keep coordinates in a range where the integer conversion below is exact.
    u = std::clamp(u, -4096.0f, 4096.0f);
    v = std::clamp(v, -4096.0f, 4096.0f);
    auto floorInt = [](float f) {
        const int i = int(f);
        return i - (f < float(i));
    };
    // Wrapping drops whole periods first, so most samples stay on the fast path below.
    if (t.addressU == D3D11_TEXTURE_ADDRESS_WRAP) u -= float(floorInt(u));
    if (t.addressV == D3D11_TEXTURE_ADDRESS_WRAP) v -= float(floorInt(v));
    const float x = u * float(t.width), y = v * float(t.height);
    if (!t.linear) {
        Texel(t, floorInt(x), floorInt(y), out);
        return;
    }
    // Weights in 1/256 steps, as texture hardware uses.
    const int fx = floorInt((x - 0.5f) * 256.0f), fy = floorInt((y - 0.5f) * 256.0f);
    const int x0 = fx >> 8, y0 = fy >> 8;
    const uint32_t wx = uint32_t(fx & 255), wy = uint32_t(fy & 255);
    const int w = t.width, h = t.height;
    if (x0 >= 0 && y0 >= 0 && x0 + 1 < w && y0 + 1 < h) {
        const uint32_t* row = t.pixels + size_t(y0) * size_t(w) + size_t(x0);
        Blend4(row[0], row[1], row[w], row[w + 1], wx, wy, out);
        return;
    }
    auto at = [&](int xi, int yi, bool& border) -> uint32_t {
        xi = Address(xi, w, t.addressU);
        yi = Address(yi, h, t.addressV);
        if (xi < 0 || yi < 0) {
            border = true;
            return 0;
        }
        return t.pixels[size_t(yi) * size_t(w) + size_t(xi)];
    };
    bool border = false;
    const uint32_t a = at(x0, y0, border), b = at(x0 + 1, y0, border), c = at(x0, y0 + 1, border),
                   d = at(x0 + 1, y0 + 1, border);
    if (!border) {
        Blend4(a, b, c, d, wx, wy, out);
        return;
    }
    // Border addressing mixes in a float colour: blend in floats.
    float q[4][4];
    Texel(t, x0, y0, q[0]);
    Texel(t, x0 + 1, y0, q[1]);
    Texel(t, x0, y0 + 1, q[2]);
    Texel(t, x0 + 1, y0 + 1, q[3]);
    const float ax = float(wx) / 256.0f, ay = float(wy) / 256.0f;
    for (int i = 0; i < 4; ++i) {
        const float top = q[0][i] + (q[1][i] - q[0][i]) * ax;
        const float bottom = q[2][i] + (q[3][i] - q[2][i]) * ax;
        out[i] = top + (bottom - top) * ay;
    }
}

} // namespace d3d11sw
