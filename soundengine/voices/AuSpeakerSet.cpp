#include "voices/AuSpeakerSet.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr u32 kGrowBy = 4;
// An empty bound, so that the first corner sets both ends.
constexpr f32 kEmptyMinimum = 6.2831855f;
constexpr f32 kEmptyMaximum = -6.2831855f;
// A point this far inside a circumcircle breaks the triangle; closer ones are rounding.
constexpr f64 kInCircleTolerance = 0.01;
constexpr f64 kDegenerateDeterminant = 0.0001;
// A direction on an edge or a corner solves to gains of zero give or take rounding: as much below
// zero still counts as inside, or a direction on a speaker could fall between all triangles.
constexpr f32 kEdgeTolerance = 1e-5f;

f64 Determinant(const f64* a, const f64* b, const f64* c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
           a[2] * (b[0] * c[1] - b[1] * c[0]);
}

} // namespace

bool AuTriangleArray::Grow(AuTriangleArray& array, u32 extra) {
    const u32 capacity = array.uCapacity + extra;
    auto* items = static_cast<AuSpeakerTriangle*>(
        AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, capacity * sizeof(AuSpeakerTriangle)));
    if (!items) return false;
    if (array.pItems) {
        memcpy(items, array.pItems, array.uCount * sizeof(AuSpeakerTriangle));
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, array.pItems);
    }
    array.pItems = items;
    array.uCapacity = capacity;
    return true;
}

bool AuTriangleArray::Add(const AuSpeakerTriangle& triangle) {
    if (uCount == uCapacity && !Grow(*this, kGrowBy)) return false;
    pItems[uCount++] = triangle;
    return true;
}

void AuTriangleArray::Term() {
    if (pItems) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, pItems);
    *this = AuTriangleArray{};
}

bool CAuSpeakerSet::Triangulate(const f32* points, AuTriangleArray& triangles) const {
    const u32 n = uNumSpeakers;
    if (n < 3) return true;
    auto x = [&](u32 i) { return static_cast<f64>(points[2 * i]); };
    auto y = [&](u32 i) { return static_cast<f64>(points[2 * i + 1]); };
    for (u32 i = 0; i + 2 < n; ++i) {
        for (u32 j = i + 1; j + 1 < n; ++j) {
            for (u32 k = j + 1; k < n; ++k) {
                const f64 orientation = (y(k) - y(i)) * (x(j) - x(i)) - (x(k) - x(i)) * (y(j) - y(i));
                if (orientation == 0) continue;
                // Counter-clockwise corners for the in-circle test.
                const u32 b = orientation < 0 ? k : j;
                const u32 c = orientation < 0 ? j : k;
                bool empty = true;
                for (u32 t = 0; t < n && empty; ++t) {
                    if (t == i || t == j || t == k) continue;
                    const f64 lift = x(t) * x(t) + y(t) * y(t);
                    f64 rows[3][3];
                    const u32 corners[3] = {i, b, c};
                    for (u32 r = 0; r < 3; ++r) {
                        const u32 p = corners[r];
                        rows[r][0] = x(p) - x(t);
                        rows[r][1] = y(p) - y(t);
                        rows[r][2] = (x(p) * x(p) + y(p) * y(p)) - lift;
                    }
                    const f64 inCircle = rows[0][0] * (rows[1][1] * rows[2][2] - rows[1][2] * rows[2][1]) -
                                         rows[0][1] * (rows[1][0] * rows[2][2] - rows[1][2] * rows[2][0]) +
                                         rows[0][2] * (rows[1][0] * rows[2][1] - rows[1][1] * rows[2][0]);
                    empty = inCircle <= kInCircleTolerance;
                }
                if (!empty) continue;
                AuSpeakerTriangle triangle{
                    {i, j, k}, kEmptyMinimum, kEmptyMinimum, kEmptyMaximum, kEmptyMaximum};
                for (const u32 p : triangle.uSpeakers) {
                    triangle.fMinAzimuth = std::min(triangle.fMinAzimuth, points[2 * p]);
                    triangle.fMaxAzimuth = std::max(triangle.fMaxAzimuth, points[2 * p]);
                    triangle.fMinElevation = std::min(triangle.fMinElevation, points[2 * p + 1]);
                    triangle.fMaxElevation = std::max(triangle.fMaxElevation, points[2 * p + 1]);
                }
                if (!triangles.Add(triangle)) return false;
            }
        }
    }
    return true;
}

void CAuSpeakerSet::CopyTriangles(AuTriangleArray& working) const {
    for (const AuTriangleArray* list : {&listA, &listB}) {
        for (u32 i = 0; i < list->uCount; ++i) {
            const AuSpeakerTriangle& source = list->pItems[i];
            working.Add({{source.uSpeakers[0], source.uSpeakers[1], source.uSpeakers[2]},
                         kEmptyMinimum,
                         kEmptyMinimum,
                         kEmptyMaximum,
                         kEmptyMaximum});
        }
    }
}

void CAuSpeakerSet::SolveTriplet(const f32* direction, const f32* p, const f32* q, const f32* r, f32* gains) {
    gains[0] = gains[1] = gains[2] = 0.0f;
    const f64 d[3] = {direction[0], direction[1], direction[2]};
    const f64 a[3] = {p[0], p[1], p[2]}, b[3] = {q[0], q[1], q[2]}, c[3] = {r[0], r[1], r[2]};
    const f64 det = Determinant(a, b, c);
    if (std::fabs(det) < kDegenerateDeterminant) return;
    // Cramer's rule on g0 p + g1 q + g2 r = d.
    const f64 g[3] = {Determinant(d, b, c) / det, Determinant(a, d, c) / det, Determinant(a, b, d) / det};
    const f64 length = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    if (!(length > 0.0)) return;
    for (u32 i = 0; i < 3; ++i)
        gains[i] = static_cast<f32>(g[i] / length);
}

void CAuSpeakerSet::ComputeGains(f32 azimuth, f32 elevation, u32 gainCount, f32* gains) const noexcept {
    memset(gains, 0, gainCount * sizeof(f32));
    if (!pSpeakers || uNumSpeakers == 0) return;
    const f32 d[3] = {std::cos(azimuth) * std::cos(elevation), std::sin(azimuth) * std::cos(elevation),
                      std::sin(elevation)};
    AuTriangleArray working;
    if (!AuTriangleArray::Grow(working, kGrowBy)) return;
    CopyTriangles(working);

    const AuSpeakerTriangle* best = nullptr;
    f32 bestGains[3] = {};
    f32 bestLength = 0.0f;
    for (u32 t = 0; t < working.uCount; ++t) {
        const u32* s = working.pItems[t].uSpeakers;
        if (s[0] >= uNumSpeakers || s[1] >= uNumSpeakers || s[2] >= uNumSpeakers) continue;
        f32 g[3];
        SolveTriplet(d, pSpeakers[s[0]].v, pSpeakers[s[1]].v, pSpeakers[s[2]].v, g);
        if (g[0] < -kEdgeTolerance || g[1] < -kEdgeTolerance || g[2] < -kEdgeTolerance) continue;
        for (f32& gain : g)
            gain = std::max(gain, 0.0f);
        const f32 length = g[0] * g[0] + g[1] * g[1] + g[2] * g[2];
        if (length > bestLength) {
            best = &working.pItems[t];
            bestLength = length;
            std::copy(g, g + 3, bestGains);
        }
    }
    if (best) {
        const u32 virtualSpeaker = uNumSpeakers - 1;
        const u32* s = best->uSpeakers;
        auto put = [&](u32 speaker, f32 gain) {
            if (speaker < gainCount) gains[speaker] = gain;
        };
        if (s[0] == virtualSpeaker || s[1] == virtualSpeaker || s[2] == virtualSpeaker) {
            // The virtual speaker is not heard: pan between the two real ones in the horizontal
            // plane.
            const u32 p = s[0] != virtualSpeaker ? s[0] : s[1];
            const u32 q = s[2] != virtualSpeaker ? s[2] : s[1];
            const f32 px = pSpeakers[p].v[0], py = pSpeakers[p].v[1];
            const f32 qx = pSpeakers[q].v[0], qy = pSpeakers[q].v[1];
            const f32 m = 1.0f / (qy * px - qx * py);
            const f32 gq = m * (px * d[1] - py * d[0]);
            const f32 gp = m * (qy * d[0] - qx * d[1]);
            const f32 norm = 1.0f / std::sqrt(gp * gp + gq * gq);
            if (std::isfinite(norm) && std::isfinite(m)) {
                put(p, gp * norm);
                put(q, gq * norm);
            }
        } else {
            for (u32 i = 0; i < 3; ++i)
                put(s[i], bestGains[i]);
        }
    }
    working.Term();
}
