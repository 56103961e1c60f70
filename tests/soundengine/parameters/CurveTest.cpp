#include "banks/AuBankFormat.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuParamCurve.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
constexpr f32 kInf = std::numeric_limits<f32>::infinity();

// The exact shapes, from their formulas, for fraction t.
f64 ExactShape(u32 shape, f64 t) {
    const f64 pi = std::numbers::pi;
    switch (shape) {
    case 0:
        return 1.0 - (1.0 - t) * (1.0 - t) * (1.0 - t);
    case 1:
        return std::sin(t * pi / 2);
    case 2:
        return t * (3 - t) / 2;
    case 3:
        return t <= 0.5 ? std::sin(t * pi) / 2 : 1 - std::sin(t * pi) / 2;
    case 4:
        return t;
    case 5:
        return (1 - std::cos(t * pi)) / 2;
    case 6:
        return t * (1 + t) / 2;
    case 7:
        return 1 - std::cos(t * pi / 2);
    default:
        return t * t * t;
    }
}

TEST(CurveShapes, TableAtBothEndsAndTheMiddle) {
    struct Pair {
        f32 a, b;
    };
    for (const Pair& pair : {Pair{0, 1}, Pair{1, 0}, Pair{-96.3f, 0}}) {
        const f32 span = std::fabs(pair.b - pair.a);
        for (u32 shape = 0; shape <= 8; ++shape) {
            const auto curve = AuCurveInterpolation(shape);
            for (f32 t : {0.0f, 0.5f, 1.0f}) {
                const f32 got = AuInterpolateCurve(t, pair.a, pair.b, curve);
                const f64 want = pair.a + (pair.b - pair.a) * ExactShape(shape, t);
                SCOPED_TRACE(testing::Message() << "shape " << shape << " t " << t << " a " << pair.a);
                const bool polynomialOnly = shape % 2 == 0;
                if (polynomialOnly && t != 0.5f) {
                    EXPECT_EQ(got, t == 0 ? pair.a : pair.b); // exact at both ends
                } else {
                    // The sine and cosine approximations; the raised cosine is the coarsest.
                    const f64 tolerance = (shape == 5 ? 1e-3 : 1e-5) * span + 1e-5;
                    EXPECT_NEAR(got, want, tolerance);
                }
            }
        }
        EXPECT_FLOAT_EQ(AuInterpolateCurve(0, pair.a, pair.b, AuCurveInterpolation_SmoothS),
                        pair.a + (pair.b - pair.a) * 0.00069670216f);
        for (u32 shape : {9u, 10u, 0xFFFFFFFFu})
            EXPECT_EQ(AuInterpolateCurve(0.5f, pair.a, pair.b, AuCurveInterpolation(shape)), 0.0f) << shape;
    }
}

TEST(CurveShapes, SteepMiddleMeetsItselfAtTheMiddleAndEndsExactly) {
    const f32 below = AuInterpolateCurve(0.5f, 0, 1, AuCurveInterpolation_SteepMiddle);
    const f32 above = AuInterpolateCurve(std::nextafter(0.5f, 1.0f), 0, 1, AuCurveInterpolation_SteepMiddle);
    EXPECT_NEAR(below, above, 1e-5);
    EXPECT_EQ(AuInterpolateCurve(1, -96.3f, 0, AuCurveInterpolation_SteepMiddle), 0.0f);
    EXPECT_EQ(AuInterpolateCurve(0, -96.3f, 0, AuCurveInterpolation_SteepMiddle), -96.3f);
}

class ParamCurveTest : public AuDefaultPoolTest {
protected:
    ParamCurveTest() : AuDefaultPoolTest(64 * 1024) {}
};

TEST_F(ParamCurveTest, ConvertTable) {
    CAuParamCurve one;
    const AuCurvePoint single{3, 7, AuCurveInterpolation_Linear};
    ASSERT_EQ(one.Set(&single, 1, AuCurveScaling_None), AuResultSuccess);
    for (f32 x : {-1e9f, 0.0f, 3.0f, 1e9f, kNaN, kInf, -kInf})
        EXPECT_EQ(one.Convert(x), 7.0f) << x;

    const std::vector<AuCurvePoint> points{{0, 10, AuCurveInterpolation_Linear},
                                           {10, 20, AuCurveInterpolation_Hold},
                                           {20, 30, AuCurveInterpolation_EaseInCubic},
                                           {30, 60, AuCurveInterpolation_Linear}};
    CAuParamCurve curve;
    ASSERT_EQ(curve.Set(points.data(), u32(points.size()), AuCurveScaling_None), AuResultSuccess);
    struct Case {
        f32 x;
        f32 y;
        u32 index;
    };
    const Case cases[] = {
        {-5, 10, 0}, // below the first point
        {0, 10, 0},  // on a point
        {10, 20, 1}, // on a point ending a segment
        {20, 30, 2},
        {30, 60, 3},                    // the last point
        {45, 60, 3},                    // beyond
        {2.5f, 10 + 2.5f / 10 * 10, 0}, // linear, single precision
        {19.999f, 20, 1},               // hold up to, not including, the next x
        {25, AuInterpolateCurve(0.5f, 30, 60, AuCurveInterpolation_EaseInCubic), 2},
        {kNaN, 60, 3}, // unordered: walks to the last y
        {kInf, 60, 3},
        {-kInf, 10, 0},
    };
    for (const Case& c : cases) {
        u32 index = 99;
        EXPECT_EQ(curve.Convert(c.x, 0, &index), c.y) << c.x;
        EXPECT_EQ(index, c.index) << c.x;
    }
    // A linear segment computed as the single-precision formula gives it.
    const f32 x = 7.3f;
    EXPECT_EQ(curve.Convert(x), 10.0f + (x - 0.0f) / (10.0f - 0.0f) * (20.0f - 10.0f));
    EXPECT_EQ(curve.Convert(21, 2),
              AuInterpolateCurve((21.0f - 20) / 10, 30, 60, AuCurveInterpolation_EaseInCubic));
    u32 index = 0;
    EXPECT_EQ(curve.Convert(5, 1, &index), 20.0f); // a start past x: that point's y
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(curve.Convert(5, 1000, &index), 60.0f); // a start past the end is the last point
    EXPECT_EQ(index, 3u);
}

TEST_F(ParamCurveTest, UnsortedPointsStayBoundedAndDeterministic) {
    const std::vector<AuCurvePoint> points{
        {50, 1, AuCurveInterpolation_Linear}, {10, 2, AuCurveInterpolation_Linear},        {kNaN, 3, 99},
        {30, 4, AuCurveInterpolation_Linear}, {-kInf, kNaN, AuCurveInterpolation_SmoothS}, {20, 6, 12}};
    CAuParamCurve curve;
    ASSERT_EQ(curve.Set(points.data(), u32(points.size()), AuCurveScaling_DbToLinear), AuResultSuccess);
    for (f32 x : {-100.0f, 0.0f, 15.0f, 25.0f, 40.0f, 100.0f, kNaN, kInf, -kInf}) {
        u32 index = 99;
        const f32 first = curve.Convert(x, 0, &index);
        EXPECT_LT(index, points.size());
        const f32 again = curve.Convert(x);
        EXPECT_TRUE(first == again || (std::isnan(first) && std::isnan(again))) << x;
    }
}

TEST_F(ParamCurveTest, SetRefusesNoPointsAndLeavesTheCurveEmpty) {
    const AuCurvePoint point{0, 1, AuCurveInterpolation_Linear};
    CAuParamCurve curve;
    ASSERT_EQ(curve.Set(&point, 1, AuCurveScaling_Pow10), AuResultSuccess);
    EXPECT_EQ(curve.Set(static_cast<const AuCurvePoint*>(nullptr), 3, AuCurveScaling_None),
              AuResultInvalidParameter);
    EXPECT_TRUE(curve.IsEmpty());
    ASSERT_EQ(curve.Set(&point, 1, AuCurveScaling_Pow10), AuResultSuccess);
    EXPECT_EQ(curve.Set(&point, 0, AuCurveScaling_None), AuResultInvalidParameter);
    EXPECT_TRUE(curve.IsEmpty());
    EXPECT_EQ(curve.Points(), nullptr);
    EXPECT_EQ(curve.Convert(5), 0.0f);
    EXPECT_EQ(Used(), m_usedAtStart); // the old points were freed
}

TEST_F(ParamCurveTest, SetWithoutMemoryGives52AndAnEmptyCurve) {
    std::vector<AuCurvePoint> many(8 * 1024, AuCurvePoint{0, 0, 4}); // 96 KiB, more than the pool
    CAuParamCurve curve;
    const AuCurvePoint point{0, 1, AuCurveInterpolation_Linear};
    ASSERT_EQ(curve.Set(&point, 1, AuCurveScaling_None), AuResultSuccess);
    EXPECT_EQ(curve.Set(many.data(), u32(many.size()), AuCurveScaling_None), AuResultNoMemory);
    EXPECT_TRUE(curve.IsEmpty());
    EXPECT_EQ(curve.Set(many.data(), 0x20000000u, AuCurveScaling_None), AuResultNoMemory); // 6 GiB: refused
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(ParamCurveTest, BankPointsAreTakenAsTheyCome) {
    const AuBankCurvePoint bank[] = {{0, -96.3f, AuCurveInterpolation_EaseOutCubic}, {100, 0, 7}};
    CAuParamCurve curve;
    ASSERT_EQ(curve.Set(bank, 2, AuCurveScaling_DbToLinear), AuResultSuccess);
    EXPECT_EQ(curve.Points()[1].interpolation, 7u);
    EXPECT_EQ(curve.Convert(100), AuDbToLinear(0));
    EXPECT_EQ(curve.Convert(0), AuDbToLinear(-96.3f));
    EXPECT_EQ(curve.Convert(50),
              AuDbToLinear(AuInterpolateCurve(0.5f, -96.3f, 0, AuCurveInterpolation_EaseOutCubic)));
}

TEST(CurveScaling, Table) {
    struct Case {
        u32 kind;
        f32 y;
        f32 want;
        f32 tolerance;
    };
    const Case cases[] = {
        {2, 0.0f, 0.0f, 0},
        {2, -1.0f, -4096, 0},
        {2, -7.0f, -4096, 0},
        {2, -kInf, -4096, 0},
        {2, 1.0f, 4096, 0},
        {2, 3.0f, 4096, 0},
        {2, kInf, 4096, 0},
        {2, -0.5f, f32(20 * std::log10(0.5)), 0.02f},
        {2, 0.5f, f32(-20 * std::log10(0.5)), 0.02f},
        {2, -0.999f, f32(20 * std::log10(0.001)), 0.02f},
        {3, 0.0f, 1.0f, 0.0025f},
        {3, 2.0f, 100.0f, 0.25f},
        {3, -36.9f, f32(std::pow(10.0, -36.9)), 1e-39f},
        {3, -37.5f, 0.0f, 0},
        {4, -20.0f, 0.1f, 0.00025f},
        {4, 0.0f, 1.0f, 0.0025f},
        {4, 6.0f, f32(std::pow(10.0, 0.3)), 0.005f},
        {4, -740.5f, 0.0f, 0},
        {4, -1e30f, 0.0f, 0},
        {4, -kInf, 0.0f, 0},
        {4, kNaN, 0.0f, 0},
        {0, -3.5f, -3.5f, 0},
        {1, 12.0f, 12.0f, 0},
        {7, 2.0f, 2.0f, 0},
        {0xFFFFFFFF, -96.3f, -96.3f, 0},
    };
    for (const Case& c : cases) {
        const f32 got = CAuParamCurve::ApplyScaling(c.y, c.kind);
        if (c.tolerance == 0)
            EXPECT_EQ(got, c.want) << "kind " << c.kind << " y " << c.y;
        else
            EXPECT_NEAR(got, c.want, c.tolerance) << "kind " << c.kind << " y " << c.y;
    }
    EXPECT_TRUE(std::isnan(CAuParamCurve::ApplyScaling(kNaN, 0)));
    EXPECT_TRUE(std::isfinite(CAuParamCurve::ApplyScaling(kNaN, 2)));
}

} // namespace
