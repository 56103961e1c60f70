// Vertex positions with a NaN or an infinity. Each comparison with NaN is false, and an infinity cut by
// a clip plane comes out as NaN (infinity times 0); either reaching the fixed-point set-up overflows its
// integers. Such a triangle or line is dropped, and the rest of its draw is drawn as before.
#include "raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using namespace d3d11sw;

namespace {

constexpr int kW = 320, kH = 240;

ClipVertex V(float x, float y, float z, float w) {
    ClipVertex v{};
    v.pos[0] = x, v.pos[1] = y, v.pos[2] = z, v.pos[3] = w;
    return v;
}

// A colour-only job over a kW x kH target: no depth test can hide what a bad shape writes.
RasterJob ColourJob(uint32_t* colour, PsUniforms& ps, bool depthClip) {
    RasterJob job;
    job.colour = colour;
    job.pitch = kW;
    job.clipX0 = 0, job.clipY0 = 0, job.clipX1 = kW, job.clipY1 = kH;
    job.viewport = D3D11_VIEWPORT{0, 0, float(kW), float(kH), 0, 1};
    job.cull = D3D11_CULL_NONE;
    job.depthClip = depthClip;
    job.program = PsProgram::Camera; // samples no texture when none is bound
    ps.program = PsProgram::Camera;
    job.ps = &ps;
    return job;
}

// No shader output packs to this.
constexpr uint32_t kUntouched = 0x5A5A5A5Au;

int Written(const std::vector<uint32_t>& colour) {
    int n = 0;
    for (uint32_t c : colour)
        n += c != kUntouched;
    return n;
}

std::vector<uint32_t> Sequence(size_t n) {
    std::vector<uint32_t> indices;
    for (uint32_t i = 0; i < n; ++i)
        indices.push_back(i);
    return indices;
}

int DrawTriangles(const std::vector<ClipVertex>& vertices, bool depthClip) {
    std::vector<uint32_t> colour(size_t(kW) * kH, kUntouched);
    PsUniforms ps{};
    const RasterJob job = ColourJob(colour.data(), ps, depthClip);
    std::vector<Setup> setups;
    SetUpTriangles(job, vertices, Sequence(vertices.size()), setups);
    RasterQueue q;
    q.colour = colour.data();
    q.pitch = kW;
    q.height = kH;
    q.draws.push_back(PreparedDraw{job, nullptr, std::move(setups)});
    Execute(q);
    return Written(colour);
}

int DrawLineList(const std::vector<ClipVertex>& vertices, bool depthClip) {
    std::vector<uint32_t> colour(size_t(kW) * kH, kUntouched);
    PsUniforms ps{};
    DrawLines(ColourJob(colour.data(), ps, depthClip), vertices, Sequence(vertices.size()));
    return Written(colour);
}

// A healthy triangle and line in the top-left corner, drawn in the same call as the bad one.
const std::vector<ClipVertex> kGoodTriangle = {V(-0.9f, 0.9f, 0.5f, 1), V(-0.6f, 0.9f, 0.5f, 1),
                                               V(-0.9f, 0.6f, 0.5f, 1)};
const std::vector<ClipVertex> kGoodLine = {V(-0.9f, 0.5f, 0.5f, 1), V(-0.5f, 0.5f, 0.5f, 1)};

struct Spoilt {
    int coordinate;
    float value;
    bool clipped; // whether the triangle's finite vertices also reach outside the view
    bool depthClip;
    std::string Name() const {
        const char* axis[] = {"x", "y", "z", "w"};
        const std::string v = std::isnan(value) ? "NaN" : value > 0 ? "+inf" : "-inf";
        return v + " " + axis[coordinate] + (clipped ? ", clipped" : ", inside") +
               (depthClip ? ", depth clip" : ", no depth clip");
    }
};

std::vector<Spoilt> AllSpoilt() {
    std::vector<Spoilt> cases;
    for (int coordinate = 0; coordinate < 4; ++coordinate)
        for (float value : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()})
            for (bool clipped : {false, true})
                for (bool depthClip : {true, false})
                    cases.push_back({coordinate, value, clipped, depthClip});
    return cases;
}

// Finite vertices of the bad triangle and line, away from the healthy ones. A `clipped` one reaches
// past the top edge: the top plane is cut after the sides and w, so what their cuts made meets it.
std::vector<ClipVertex> Bad(const Spoilt& c, bool line) {
    ClipVertex spoilt = V(0.5f, -0.5f, 0.5f, 1);
    spoilt.pos[c.coordinate] = c.value;
    const ClipVertex far = c.clipped ? V(0.5f, 3.0f, 0.5f, 1) : V(0.5f, 0.0f, 0.5f, 1);
    if (line) return {far, spoilt};
    return {far, V(0.0f, 0.0f, 0.5f, 1), spoilt};
}

void PrintTo(const Spoilt& c, std::ostream* out) {
    *out << c.Name();
}

class NonFinitePosition : public ::testing::TestWithParam<Spoilt> {};

TEST_P(NonFinitePosition, TheTriangleOrLineDrawsNothingAndTheRestOfTheDrawIsDrawn) {
    const Spoilt& c = GetParam();
    for (bool line : {false, true}) {
        std::vector<ClipVertex> vertices = line ? kGoodLine : kGoodTriangle;
        const int good = line ? DrawLineList(vertices, c.depthClip) : DrawTriangles(vertices, c.depthClip);
        ASSERT_GT(good, 0);
        const std::vector<ClipVertex> bad = Bad(c, line);
        vertices.insert(vertices.end(), bad.begin(), bad.end());
        // The spoilt vertex in each place of the shape.
        for (size_t turn = 0; turn < bad.size(); ++turn) {
            std::rotate(vertices.end() - bad.size(), vertices.end() - bad.size() + 1, vertices.end());
            const int drawn =
                line ? DrawLineList(vertices, c.depthClip) : DrawTriangles(vertices, c.depthClip);
            EXPECT_EQ(drawn, good) << (line ? "line" : "triangle") << ", turn " << turn << ": "
                                   << drawn - good << " pixels written by the bad one";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, NonFinitePosition, ::testing::ValuesIn(AllSpoilt()),
                         [](const ::testing::TestParamInfo<Spoilt>& info) {
                             std::string name;
                             for (char ch : info.param.Name())
                                 if (std::isalnum(static_cast<unsigned char>(ch)))
                                     name += ch;
                                 else if (ch == '+' || ch == '-')
                                     name += ch == '+' ? "plus" : "minus";
                                 else if (ch == ' ')
                                     name += '_';
                             return name;
                         });

// The same triangles with the spoilt coordinate made finite are drawn: the test looks where they land.
TEST(NonFinitePositions, TheBadShapesWouldBeSeenWereTheyFinite) {
    for (bool clipped : {false, true}) {
        const Spoilt finite{0, 0.5f, clipped, true};
        for (bool line : {false, true}) {
            const std::vector<ClipVertex> bad = Bad(finite, line);
            const int drawn = line ? DrawLineList(bad, true) : DrawTriangles(bad, true);
            EXPECT_GT(drawn, 0) << (line ? "line" : "triangle") << (clipped ? ", clipped" : ", inside");
        }
    }
}

} // namespace
