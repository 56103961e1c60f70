// What the plain per-pixel path (raster.cpp) and the eight-pixel vector kernels (kernels_avx2.cpp)
// share: row spans, the material rule, the output merger; and the choice between the two paths.
#pragma once

#include "raster.h"

#include <algorithm>

namespace d3d11sw {

// The pixels of row `y` that all three edge functions accept, as [xs, xe]; false when there are none.
inline bool RowSpan(const Setup& s, int y, int& xs, int& xe) {
    const int64_t py = int64_t(y) * kOne + kOne / 2;
    const int64_t px0 = int64_t(s.minX) * kOne + kOne / 2;
    xs = s.minX, xe = s.maxX;
    for (int e = 0; e < 3 && xs <= xe; ++e) {
        const int a = e, b = (e + 1) % 3;
        const int64_t ex = s.X[b] - s.X[a], ey = s.Y[b] - s.Y[a];
        const int64_t e0 = ex * (py - s.Y[a]) - ey * (px0 - s.X[a]) + s.bias[e];
        const int64_t step = -ey * kOne;
        if (step == 0) {
            if (e0 < 0) xs = xe + 1;
        } else if (step > 0) {
            // e0 + k*step >= 0  <=>  k >= ceil(-e0 / step)
            if (e0 >= 0) continue;
            const int64_t k = (-e0 + step - 1) / step;
            xs = int(std::max<int64_t>(xs, s.minX + k));
        } else if (e0 < 0) {
            xs = xe + 1;
        } else {
            const int64_t k = e0 / -step;
            xe = int(std::min<int64_t>(xe, s.minX + k));
        }
    }
    return xs <= xe;
}

// The material entry a scene pixel uses, from its flat texture index.
inline int MaterialIndex(float textureIndex) {
    return textureIndex >= 3.0f ? 3 : textureIndex > 0.0f ? int(textureIndex + 0.5f) : 0;
}

// The output merger of the plain path: blend, write mask, 8-bit packing.
void WritePixel(const RasterJob& job, uint32_t* pixel, float c[4]);

// Rasterises the listed setups' rows in [bandY0, bandY1) with a vector kernel, in list order.
using BandKernel = void (*)(const RasterJob& job, const SetupList& setups, int bandY0, int bandY1);
// The vector kernel for the job's program and states, or null where only the plain path applies (no
// AVX2, point or border/mirror sampling, the GUI program, or the plain path asked for).
BandKernel PickBandKernel(const RasterJob& job);

// Whether this processor runs the vector kernels.
bool VectorKernelsAvailable();
// Forces the plain path everywhere (tests and the benchmark compare the two).
void SetPlainKernels(bool plain);

} // namespace d3d11sw
