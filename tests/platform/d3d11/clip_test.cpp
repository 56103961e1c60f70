// Two triangles of a mesh share an edge and walk it in opposite directions. Where that edge crosses a
// clip plane, both triangles must cut it at the very same point, or the pair leaves pixels drawn twice
// (an additive pair shows them brighter) or not at all. Coverage is counted on the set-ups the
// rasteriser makes; holes are judged against the pair clipped in double precision.
#include "kernels.h"
#include "raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using namespace d3d11sw;

namespace {

constexpr int kW = 640, kH = 480;
// Pixel centres closer than this to an outer edge of the exact pair may fall either way (the
// rasteriser snaps to 1/256 pixel); the shared edge gets no such allowance.
constexpr double kMargin = 0.02;
// Only pixels this close to the shared edge can be affected by where it is cut.
constexpr double kBand = 2.0;

struct P2 {
    double x, y;
};
struct Homogeneous {
    double p[4];
};

// The rasteriser's view volume (0 < w, |x| <= w, |y| <= w, 0 <= z <= w), in double precision.
double Distance(const Homogeneous& v, int plane) {
    const double* p = v.p;
    switch (plane) {
    case 0:
        return p[3] - 1e-5;
    case 1:
        return p[3] + p[0];
    case 2:
        return p[3] - p[0];
    case 3:
        return p[3] + p[1];
    case 4:
        return p[3] - p[1];
    case 5:
        return p[2];
    default:
        return p[3] - p[2];
    }
}

P2 Project(const Homogeneous& v) {
    return {(v.p[0] / v.p[3] + 1) * 0.5 * kW, (1 - v.p[1] / v.p[3]) * 0.5 * kH};
}

Homogeneous ToDouble(const ClipVertex& v) {
    return {{v.pos[0], v.pos[1], v.pos[2], v.pos[3]}};
}

std::vector<P2> ExactPolygon(std::vector<Homogeneous> poly) {
    for (int plane = 0; plane < 7 && !poly.empty(); ++plane) {
        std::vector<Homogeneous> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const Homogeneous& a = poly[i];
            const Homogeneous& b = poly[(i + 1) % poly.size()];
            const double da = Distance(a, plane), db = Distance(b, plane);
            if (da >= 0) out.push_back(a);
            if ((da >= 0) != (db >= 0)) {
                const Homogeneous& in = da >= 0 ? a : b;
                const Homogeneous& outside = da >= 0 ? b : a;
                const double t = Distance(in, plane) / (Distance(in, plane) - Distance(outside, plane));
                Homogeneous m;
                for (int k = 0; k < 4; ++k)
                    m.p[k] = in.p[k] + (outside.p[k] - in.p[k]) * t;
                out.push_back(m);
            }
        }
        poly = std::move(out);
    }
    std::vector<P2> screen;
    for (const Homogeneous& v : poly)
        screen.push_back(Project(v));
    return screen;
}

// The part of a -> b inside the view volume, projected.
bool ExactSegment(const Homogeneous& a, const Homogeneous& b, P2& s0, P2& s1) {
    double t0 = 0, t1 = 1;
    for (int plane = 0; plane < 7; ++plane) {
        const double da = Distance(a, plane), db = Distance(b, plane);
        if (da < 0 && db < 0) return false;
        if (da < 0) t0 = std::max(t0, da / (da - db));
        if (db < 0) t1 = std::min(t1, da / (da - db));
    }
    if (t0 >= t1) return false;
    auto at = [&](double t) {
        Homogeneous m;
        for (int k = 0; k < 4; ++k)
            m.p[k] = a.p[k] + (b.p[k] - a.p[k]) * t;
        return Project(m);
    };
    s0 = at(t0);
    s1 = at(t1);
    return true;
}

// Signed distance of p from the line a -> b.
double Side(P2 a, P2 b, P2 p) {
    const double ex = b.x - a.x, ey = b.y - a.y;
    return (ex * (p.y - a.y) - ey * (p.x - a.x)) / std::hypot(ex, ey);
}

// Strictly inside `poly` by the margin from every edge except those on the shared line s0 -> s1,
// across which the other triangle of the pair continues.
bool InsideExact(const std::vector<P2>& poly, P2 s0, P2 s1, P2 p) {
    if (poly.size() < 3) return false;
    double area = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const P2 a = poly[i], b = poly[(i + 1) % poly.size()];
        area += a.x * b.y - b.x * a.y;
    }
    const double sign = area > 0 ? 1 : -1;
    for (size_t i = 0; i < poly.size(); ++i) {
        const P2 a = poly[i], b = poly[(i + 1) % poly.size()];
        const bool shared = std::fabs(Side(s0, s1, a)) < 1e-6 && std::fabs(Side(s0, s1, b)) < 1e-6;
        const double d = sign * Side(a, b, p);
        if (shared ? d < 0 : d <= kMargin) return false;
    }
    return true;
}

int Covering(const std::vector<Setup>& setups, int x, int y) {
    int n = 0;
    for (const Setup& s : setups) {
        int xs, xe;
        if (y >= s.minY && y <= s.maxY && RowSpan(s, y, xs, xe)) n += x >= xs && x <= xe;
    }
    return n;
}

struct Faults {
    int twice = 0, holes = 0;
};

// Pixels near the shared edge v1 -> v2 of triangles (v0, v1, v2) and (v2, v1, v3).
Faults CheckPair(const RasterJob& job, const std::vector<ClipVertex>& v) {
    std::vector<Setup> a, b;
    SetUpTriangles(job, v, {0, 1, 2}, a);
    SetUpTriangles(job, v, {2, 1, 3}, b);
    const std::vector<P2> ea = ExactPolygon({ToDouble(v[0]), ToDouble(v[1]), ToDouble(v[2])});
    const std::vector<P2> eb = ExactPolygon({ToDouble(v[2]), ToDouble(v[1]), ToDouble(v[3])});
    P2 s0, s1;
    Faults f;
    if (!ExactSegment(ToDouble(v[1]), ToDouble(v[2]), s0, s1)) return f;
    const P2 l0 = Project(ToDouble(v[1])), l1 = Project(ToDouble(v[2]));
    const double lo = std::min(s0.y, s1.y) - kBand, hi = std::max(s0.y, s1.y) + kBand;
    for (int y = std::max(0, int(std::floor(lo))); y <= std::min(kH - 1, int(hi)); ++y) {
        // The part of the clipped edge within the band of this row.
        const double yc = y + 0.5;
        double t0 = 0, t1 = 1;
        const double dy = s1.y - s0.y;
        if (std::fabs(dy) > 1e-12) {
            t0 = std::max(0.0, std::min((yc - kBand - s0.y) / dy, (yc + kBand - s0.y) / dy));
            t1 = std::min(1.0, std::max((yc - kBand - s0.y) / dy, (yc + kBand - s0.y) / dy));
        }
        if (t0 > t1) continue;
        const double xa = s0.x + (s1.x - s0.x) * t0, xb = s0.x + (s1.x - s0.x) * t1;
        const int x0 = std::max(0, int(std::floor(std::min(xa, xb) - kBand)));
        const int x1 = std::min(kW - 1, int(std::max(xa, xb) + kBand));
        for (int x = x0; x <= x1; ++x) {
            const int n = Covering(a, x, y) + Covering(b, x, y);
            f.twice += n > 1;
            if (n == 0) {
                const P2 p{x + 0.5, y + 0.5};
                f.holes += InsideExact(ea, l0, l1, p) || InsideExact(eb, l0, l1, p);
            }
        }
    }
    return f;
}

enum class Plane { Near, Far, Left };

struct Case {
    const char* name;
    Plane plane;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class SharedEdgeAcrossAClipPlane : public ::testing::TestWithParam<Case> {
protected:
    uint32_t Next() {
        seed_ ^= seed_ << 13;
        seed_ ^= seed_ >> 17;
        seed_ ^= seed_ << 5;
        return seed_;
    }
    float Unit() { return float(Next() >> 8) / float(1u << 24); }
    float Signed() { return Unit() * 2 - 1; }

    // Inside the view volume, or outside it across the plane under test only.
    ClipVertex Vertex(bool outside) {
        ClipVertex v{};
        const float w = 0.5f + 2.5f * Unit();
        v.pos[0] = Signed() * w * 0.9f;
        v.pos[1] = Signed() * w * 0.9f;
        v.pos[2] = w * (0.1f + 0.8f * Unit());
        v.pos[3] = w;
        if (outside) switch (GetParam().plane) {
            case Plane::Near:
                v.pos[2] = -w * (0.05f + 0.5f * Unit());
                break;
            case Plane::Far:
                v.pos[2] = w * (1.05f + 0.5f * Unit());
                break;
            case Plane::Left:
                v.pos[0] = -w * (1.05f + Unit());
                break;
            }
        return v;
    }

    uint32_t seed_ = 0x2545F491u;
};

TEST_P(SharedEdgeAcrossAClipPlane, EveryPixelOfThePairIsDrawnOnce) {
    RasterJob job;
    job.pitch = kW;
    job.clipX1 = kW;
    job.clipY1 = kH;
    job.viewport = D3D11_VIEWPORT{0, 0, float(kW), float(kH), 0, 1};
    job.cull = D3D11_CULL_NONE;
    job.depthClip = true;
    Faults total;
    int pairs = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        // v1 lies beyond the plane; v3 completes a parallelogram on screen, so the pair does not fold.
        std::vector<ClipVertex> v = {Vertex(false), Vertex(true), Vertex(false), Vertex(false)};
        for (int k = 0; k < 2; ++k)
            v[3].pos[k] =
                (v[1].pos[k] / v[1].pos[3] + v[2].pos[k] / v[2].pos[3] - v[0].pos[k] / v[0].pos[3]) *
                v[3].pos[3];
        const Faults f = CheckPair(job, v);
        total.twice += f.twice;
        total.holes += f.holes;
        pairs += f.twice > 0 || f.holes > 0;
    }
    EXPECT_EQ(total.twice, 0) << pairs << " pairs with faults";
    EXPECT_EQ(total.holes, 0) << pairs << " pairs with faults";
}

INSTANTIATE_TEST_SUITE_P(Clip, SharedEdgeAcrossAClipPlane,
                         ::testing::Values(Case{"Near", Plane::Near}, Case{"Far", Plane::Far},
                                           Case{"Left", Plane::Left}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
