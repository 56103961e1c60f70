// Clipping, triangle set-up and rasterisation into one colour target and one depth target.
#pragma once

#include "programs.h"

namespace d3d11sw {

struct ClipVertex {
    float pos[4];
    float var[kMaxVaryings];
};

struct RasterJob {
    uint32_t* colour = nullptr; // null: no colour target bound
    float* depth = nullptr;     // null: no depth target bound (no test, no write)
    int pitch = 0;              // pixels per row of both targets
    // Pixels that may be written: viewport, scissor and target bounds, half-open.
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
    D3D11_VIEWPORT viewport{};
    D3D11_CULL_MODE cull = D3D11_CULL_BACK;
    bool frontCounterClockwise = false;
    bool depthClip = true;
    bool blend = false;
    D3D11_RENDER_TARGET_BLEND_DESC blendDesc{};
    float blendFactor[4] = {1, 1, 1, 1};
    uint8_t writeMask = 0x0F;
    int varyings = 0;
    bool lastFlat = false;
    PsProgram program = PsProgram::Scene;
    const PsUniforms* ps = nullptr;
    bool vertexColour = false;
};

// `indices` holds three (triangles) or two (lines) entries per primitive, into `vertices`.
void DrawTriangles(const RasterJob& job, const std::vector<ClipVertex>& vertices,
                   const std::vector<uint32_t>& indices);
void DrawLines(const RasterJob& job, const std::vector<ClipVertex>& vertices,
               const std::vector<uint32_t>& indices);

void SetThreadCount(unsigned n);
unsigned ThreadCount();

} // namespace d3d11sw
