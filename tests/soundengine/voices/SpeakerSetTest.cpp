#include "voices/AuSpeakerSet.h"

#include "../../support/AuDefaultPoolTest.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr f32 kDegree = std::numbers::pi_v<f32> / 180;

struct Point {
    f32 azimuth, elevation; // degrees
};

// A speaker set over the lower-engine pool, triangulated into list A.
class SpeakerSetTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, -1);
    }
    void TearDown() override {
        m_set.listA.Term();
        m_set.listB.Term();
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
    void Build(const std::vector<Point>& points) {
        m_points.clear();
        m_vectors.clear();
        for (const Point& p : points) {
            const f32 az = p.azimuth * kDegree, el = p.elevation * kDegree;
            m_points.push_back(az);
            m_points.push_back(el);
            m_vectors.push_back({{std::cos(az) * std::cos(el), std::sin(az) * std::cos(el), std::sin(el)}});
        }
        m_set.uNumSpeakers = static_cast<u32>(points.size());
        m_set.pSpeakers = m_vectors.data();
        ASSERT_TRUE(m_set.Triangulate(m_points.data(), m_set.listA));
    }
    std::vector<f32> Gains(f32 azimuth, f32 elevation) {
        std::vector<f32> gains(m_set.uNumSpeakers, -1.0f);
        m_set.ComputeGains(azimuth * kDegree, elevation * kDegree, m_set.uNumSpeakers, gains.data());
        return gains;
    }

    CAuSpeakerSet m_set;
    std::vector<f32> m_points;
    std::vector<AuSpeakerVector> m_vectors;
};

// 5.1 with four height speakers, and the virtual speaker below that closes the set.
const std::vector<Point> kHeightLayout = {{30, 0},  {-30, 0},  {0, 0},    {110, 0},   {-110, 0},
                                          {45, 45}, {-45, 45}, {135, 45}, {-135, 45}, {0, -90}};

} // namespace

TEST_F(SpeakerSetTest, TriangulationLeavesEveryCircumcircleEmpty) {
    Build(kHeightLayout);
    ASSERT_GT(m_set.listA.uCount, 0u);
    for (u32 t = 0; t < m_set.listA.uCount; ++t) {
        const AuSpeakerTriangle& triangle = m_set.listA.pItems[t];
        const u32 a = triangle.uSpeakers[0], b = triangle.uSpeakers[1], c = triangle.uSpeakers[2];
        EXPECT_TRUE(a < b && b < c) << "corners in index order";
        // Circumcircle by its centre and radius.
        const f64 ax = m_points[2 * a], ay = m_points[2 * a + 1], bx = m_points[2 * b],
                  by = m_points[2 * b + 1], cx = m_points[2 * c], cy = m_points[2 * c + 1];
        const f64 d = 2 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
        ASSERT_NE(d, 0.0);
        const f64 ux = ((ax * ax + ay * ay) * (by - cy) + (bx * bx + by * by) * (cy - ay) +
                        (cx * cx + cy * cy) * (ay - by)) /
                       d;
        const f64 uy = ((ax * ax + ay * ay) * (cx - bx) + (bx * bx + by * by) * (ax - cx) +
                        (cx * cx + cy * cy) * (bx - ax)) /
                       d;
        const f64 radius = std::hypot(ax - ux, ay - uy);
        for (u32 p = 0; p < m_set.uNumSpeakers; ++p) {
            if (p == a || p == b || p == c) continue;
            const f64 distance = std::hypot(m_points[2 * p] - ux, m_points[2 * p + 1] - uy);
            // The in-circle tolerance of 0.01 (a lifted determinant) allows a hair inside.
            EXPECT_GT(distance, radius - 0.01) << "point " << p << " in triangle " << a << b << c;
        }
        EXPECT_FLOAT_EQ(triangle.fMinAzimuth, std::min({ax, bx, cx}));
        EXPECT_FLOAT_EQ(triangle.fMaxElevation, std::max({ay, by, cy}));
    }
}

TEST_F(SpeakerSetTest, ADirectionOnASpeakerGivesItAllTheGain) {
    Build(kHeightLayout);
    for (u32 s = 0; s + 1 < m_set.uNumSpeakers; ++s) {
        const std::vector<f32> gains = Gains(kHeightLayout[s].azimuth, kHeightLayout[s].elevation);
        for (u32 i = 0; i < gains.size(); ++i)
            EXPECT_NEAR(gains[i], i == s ? 1.0f : 0.0f, 1e-5f) << "speaker " << s << " gain " << i;
    }
}

TEST_F(SpeakerSetTest, InsideATriangleTheGainsHaveUnitPower) {
    Build(kHeightLayout);
    const std::vector<f32> gains = Gains(10, 20);
    f32 power = 0;
    u32 nonZero = 0;
    for (const f32 g : gains) {
        EXPECT_GE(g, 0.0f);
        power += g * g;
        nonZero += g > 0;
    }
    EXPECT_NEAR(power, 1.0f, 1e-5f);
    EXPECT_EQ(nonZero, 3u);
}

TEST_F(SpeakerSetTest, TheVirtualSpeakerPansOnItsTwoRealSpeakers) {
    Build(kHeightLayout);
    // Below the horizon between the front left and the centre: a triangle with the virtual speaker.
    const std::vector<f32> gains = Gains(15, -20);
    EXPECT_EQ(gains[9], 0.0f) << "the virtual speaker is never heard";
    EXPECT_GT(gains[0], 0.0f);
    EXPECT_GT(gains[2], 0.0f);
    EXPECT_NEAR(gains[0] * gains[0] + gains[2] * gains[2], 1.0f, 1e-5f);
    EXPECT_NEAR(gains[0], gains[2], 1e-5f) << "midway in azimuth";
    for (const u32 other : {1u, 3u, 4u, 5u, 6u, 7u, 8u})
        EXPECT_EQ(gains[other], 0.0f) << other;
}

TEST_F(SpeakerSetTest, ADegenerateTriangleNeverWins) {
    // Speakers 0, 1, 2 lie on the horizon (one great circle); 0, 1, 3 is a real triangle; 4 is
    // the virtual speaker.
    Build({{0, 0}, {90, 0}, {-90, 0}, {0, 60}, {0, -90}});
    m_set.listA.Term();
    ASSERT_TRUE(m_set.listA.Add({{0, 1, 2}, 0, 0, 0, 0}));
    ASSERT_TRUE(m_set.listB.Add({{0, 1, 3}, 0, 0, 0, 0}));
    f32 degenerate[3];
    CAuSpeakerSet::SolveTriplet(m_vectors[0].v, m_vectors[0].v, m_vectors[1].v, m_vectors[2].v, degenerate);
    EXPECT_EQ(degenerate[0] + degenerate[1] + degenerate[2], 0.0f);
    const std::vector<f32> gains = Gains(45, 10);
    EXPECT_GT(gains[3], 0.0f) << "the triangle of list B holds the direction";
    EXPECT_NEAR(gains[0] * gains[0] + gains[1] * gains[1] + gains[3] * gains[3], 1.0f, 1e-5f);
}

TEST_F(SpeakerSetTest, SolveTripletReconstructsTheDirection) {
    Build(kHeightLayout);
    const f32 d[3] = {0.8f, 0.3f, 0.2f};
    f32 g[3];
    CAuSpeakerSet::SolveTriplet(d, m_vectors[0].v, m_vectors[2].v, m_vectors[5].v, g);
    EXPECT_NEAR(g[0] * g[0] + g[1] * g[1] + g[2] * g[2], 1.0f, 1e-5f);
    f32 sum[3];
    for (u32 k = 0; k < 3; ++k)
        sum[k] = g[0] * m_vectors[0].v[k] + g[1] * m_vectors[2].v[k] + g[2] * m_vectors[5].v[k];
    // The combination points along d.
    const f32 scale = sum[0] / d[0];
    for (u32 k = 0; k < 3; ++k)
        EXPECT_NEAR(sum[k], scale * d[k], 1e-5f) << k;
}

TEST_F(SpeakerSetTest, FewerThanThreeSpeakersGiveNoTrianglesAndSilence) {
    Build({{30, 0}, {-30, 0}});
    EXPECT_EQ(m_set.listA.uCount, 0u);
    const std::vector<f32> gains = Gains(0, 0);
    EXPECT_EQ(gains[0] + gains[1], 0.0f);
    m_set.uNumSpeakers = 0;
    m_set.pSpeakers = nullptr;
    f32 none[2] = {-1, -1};
    m_set.ComputeGains(0, 0, 2, none);
    EXPECT_EQ(none[0] + none[1], 0.0f);
}

TEST_F(SpeakerSetTest, TriangleArraysGrowByFourAndCopyWithEmptyBounds) {
    AuTriangleArray array;
    for (u32 i = 0; i < 9; ++i)
        ASSERT_TRUE(array.Add({{i, i + 1, i + 2}, 1, 2, 3, 4}));
    EXPECT_EQ(array.uCapacity, 12u);
    EXPECT_EQ(array.pItems[8].uSpeakers[2], 10u);
    m_set.listA = array;
    ASSERT_TRUE(m_set.listB.Add({{7, 8, 9}, 1, 2, 3, 4}));
    AuTriangleArray working;
    m_set.CopyTriangles(working);
    ASSERT_EQ(working.uCount, 10u);
    EXPECT_EQ(working.pItems[9].uSpeakers[0], 7u);
    EXPECT_EQ(working.pItems[0].fMinAzimuth, 6.2831855f);
    EXPECT_EQ(working.pItems[0].fMaxElevation, -6.2831855f);
    working.Term();
}
