// The built-in shader programs that stand in for the compiled HLSL of the game's .fx files, and the
// texture sampler they use. Constant buffers are read the way HLSL reads them with column-major
// packing: matrix element (row r, column c) is float 4c + r of the buffer.
#pragma once

#include "internal.h"

#include <cmath>
#include <cstring>

namespace d3d11sw {

constexpr int kMaxVaryings = 16;

union Attr {
    float f[4];
    uint32_t u[4];
};

struct VSInput {
    Attr a[kSemanticCount];
};

// Which semantics a vertex program needs from the input layout.
unsigned RequiredSemantics(VsProgram program);
// Number of interpolated values the vertex program hands to the pixel program; the last one of the
// scene programs (the material index) is taken flat from the first vertex.
int VaryingCount(VsProgram program);
bool LastVaryingFlat(VsProgram program);
bool Compatible(VsProgram vs, PsProgram ps);

// Bytes of a bound constant buffer; reads past the end give zero, as on the platform.
struct ConstantBlock {
    const uint8_t* data = nullptr;
    size_t size = 0;
    float F(size_t offset) const {
        float v = 0;
        if (data && offset + 4 <= size) std::memcpy(&v, data + offset, 4);
        return v;
    }
    uint32_t U(size_t offset) const {
        uint32_t v = 0;
        if (data && offset + 4 <= size) std::memcpy(&v, data + offset, 4);
        return v;
    }
    void Matrix(size_t offset, float m[16]) const {
        for (int i = 0; i < 16; ++i)
            m[i] = F(offset + size_t(i) * 4);
    }
};

struct TextureRef {
    const uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    bool linear = true;
    D3D11_TEXTURE_ADDRESS_MODE addressU = D3D11_TEXTURE_ADDRESS_CLAMP;
    D3D11_TEXTURE_ADDRESS_MODE addressV = D3D11_TEXTURE_ADDRESS_CLAMP;
    float border[4] = {0, 0, 0, 0};
};

// Binds a view and a sampler; a null sampler samples linear with clamp, as the platform does.
TextureRef MakeTextureRef(ShaderResourceView* view, SamplerState* sampler);
// An unbound texture reads as (0, 0, 0, 0).
void Sample(const TextureRef& t, float u, float v, float out[4]);

struct VsUniforms {
    VsProgram program = VsProgram::Scene;
    float combined[16];
    float world[16];
    float invWorld[16];
    float cameraPos[3];
    float guiProjection[16];
    ConstantBlock skin;
};
void PrepareVs(VsUniforms& u, VsProgram program, const ConstantBlock& slot0, const ConstantBlock& slot3);
void RunVs(const VsUniforms& u, const VSInput& in, float clip[4], float* varyings);

struct Light {
    int type;
    float diffuse[3];
    float specular[3];
    float intensity;
    float direction[3];
    float range;
    float falloff;
    float cosInner;
    float cosOuter;
    float position[3];
};

struct PsUniforms {
    PsProgram program = PsProgram::Scene;
    TextureRef texture;
    bool textured = false;
    float objectColour[4];
    float material[4][12];
    float ambient[3];
    std::vector<Light> lights;
};
void PreparePs(PsUniforms& u, PsProgram program, const ConstantBlock& slot1, const ConstantBlock& slot2,
               ShaderResourceView* view0, SamplerState* sampler0);

// Pixel programs: `Shade` gets the perspective-correct varyings and writes RGBA.
struct ScenePs {
    const PsUniforms* u;
    bool vertexColour; // "defaultshader" also takes the vertex colour (procedural and debug models)
    void Shade(const float* v, float out[4]) const;
};
struct CameraPs {
    const PsUniforms* u;
    void Shade(const float* v, float out[4]) const { Sample(u->texture, v[0], v[1], out); }
};
struct GuiPs {
    const PsUniforms* u;
    void Shade(const float* v, float out[4]) const {
        float t[4];
        Sample(u->texture, v[4], v[5], t);
        for (int i = 0; i < 4; ++i)
            out[i] = v[i] * t[i];
    }
};

} // namespace d3d11sw
