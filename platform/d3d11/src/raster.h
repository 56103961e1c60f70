// Clipping, triangle set-up and rasterisation into one colour target and one depth target.
#pragma once

#include "programs.h"

#include <functional>
#include <memory>

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

// Vertices snap to 1/256 of a pixel.
constexpr int kSubBits = 8;
constexpr int64_t kOne = 1 << kSubBits;

// A triangle ready to rasterise: snapped vertices in clockwise order, edge biases for the top-left
// rule, its pixel bounds, and attribute planes (value at the reference point plus x and y steps).
struct Setup {
    int64_t X[3], Y[3];
    int64_t bias[3];
    int minX, maxX, minY, maxY;
    float refX, refY;
    float z, zdx, zdy;
    float iw, iwdx, iwdy;
    float flat;
    float v[kMaxVaryings], vdx[kMaxVaryings], vdy[kMaxVaryings];
};

// The setups of a draw that touch one band of rows, in submission order.
struct SetupList {
    const Setup* setups;
    const uint32_t* index;
    size_t count;
    size_t size() const { return count; }
    const Setup& operator[](size_t i) const { return setups[index[i]]; }
};

// One draw's triangles, set up and waiting for the rasteriser; `ps` owns what job.ps points to.
struct PreparedDraw {
    RasterJob job;
    std::unique_ptr<PsUniforms> ps;
    std::vector<Setup> setups;
};

// Work for one colour/depth target pair (either may be null; both are pitch x height), done together
// band by band of rows: a band runs the pending clears and then every draw in submission order, so
// the picture is the one that drawing them one after the other gives, and the band stays in cache.
struct RasterQueue {
    uint32_t* colour = nullptr;
    float* depth = nullptr;
    int pitch = 0;
    int height = 0;
    bool clearColour = false;
    uint32_t colourValue = 0;
    bool clearDepth = false;
    float depthValue = 1.0f;
    std::vector<PreparedDraw> draws;
    bool Empty() const { return !clearColour && !clearDepth && draws.empty(); }
};

// Clips against the view volume, culls and sets up the triangles (three `indices` each, into
// `vertices`), appending to `out`.
void SetUpTriangles(const RasterJob& job, const std::vector<ClipVertex>& vertices,
                    const std::vector<uint32_t>& indices, std::vector<Setup>& out);
// Does the queued work, on the pool when there is enough of it, and leaves the queue empty.
void Execute(RasterQueue& queue);

// `indices` holds two entries per line, into `vertices`; drawn at once.
void DrawLines(const RasterJob& job, const std::vector<ClipVertex>& vertices,
               const std::vector<uint32_t>& indices);

// Runs fn(y0, y1) over bands of [0, rows) on the rasteriser's threads.
void ForRows(int rows, const std::function<void(int, int)>& fn);

void SetThreadCount(unsigned n);
unsigned ThreadCount();

} // namespace d3d11sw
