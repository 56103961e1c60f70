#include "parameters/AuFastMath.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace {

// The conversion as first defined, in extended precision: truncate v x 2^23 log2(10) + the bits
// of 1.0 toward zero to 64 bits and keep the low 32.
f32 ExtendedPrecisionPow10(f32 v) {
    const long double sum = static_cast<long double>(v) * 27866352.0L + 1065353216.0L;
    const u32 bits = u32(i64(sum));
    const f32 scale = std::bit_cast<f32>(bits & 0xFF800000u);
    const f32 m = std::bit_cast<f32>((bits & 0x007FFFFFu) + 0x3F800000u);
    return scale * ((m * 0.32518977f + 0.020805772f) * m + 0.65304345f);
}

TEST(FastPow10, SameBitsAsTheExtendedPrecisionFormUpToTheSaturation) {
    std::mt19937 random(27);
    std::uniform_real_distribution<f32> wide(-37.0f, 38.0f);
    std::uniform_real_distribution<f32> small(-1e-3f, 1e-3f);
    for (int i = 0; i < 200000; ++i) {
        // Small exponents carry fraction bits far below the sum's last bit: the case a plain
        // double sum would round across an integer.
        const f32 v = i % 2 ? wide(random) : small(random);
        ASSERT_EQ(std::bit_cast<u32>(AuFastPow10(v)), std::bit_cast<u32>(ExtendedPrecisionPow10(v))) << v;
    }
    for (f32 v : {-37.0f, -36.999998f, -1e-30f, 0.0f, 1e-30f, 1.0f, 37.99999f, 38.0f})
        EXPECT_EQ(std::bit_cast<u32>(AuFastPow10(v)), std::bit_cast<u32>(ExtendedPrecisionPow10(v))) << v;
}

TEST(FastPow10, WithinAQuarterPercentOverTheMixingRange) {
    f64 worst = 0;
    for (f64 dB = -96.3; dB <= 24.0; dB += 0.001) {
        const f64 exact = std::pow(10.0, f32(dB) * 0.05f);
        worst = std::max(worst, std::fabs(AuDbToLinear(f32(dB)) / exact - 1.0));
    }
    EXPECT_LT(worst, 0.0025);
    EXPECT_GT(worst, 0.001); // the approximation's own error, not an exact pow
}

TEST(FastPow10, HugeExponentsSaturateInsteadOfWrapping) {
    const f32 top = AuFastPow10(38.0f);
    EXPECT_TRUE(std::isfinite(top));
    EXPECT_GT(top, 1e37f);
    // +800 dB: the first-defined form runs its exponent field into the sign bit here.
    EXPECT_FALSE(std::isfinite(ExtendedPrecisionPow10(38.6f)) && ExtendedPrecisionPow10(38.6f) > 0);
    for (f32 dB : {771.0f, 800.0f, 1e6f, 3e38f, std::numeric_limits<f32>::infinity()})
        EXPECT_EQ(AuDbToLinear(dB), top) << dB;
    for (f32 exponent : {38.5f, 39.0f, 100.0f, 1e30f})
        EXPECT_EQ(AuFastPow10(exponent), top) << exponent;
}

TEST(FastPow10, TinyAndNaNExponentsGiveZero) {
    EXPECT_EQ(AuDbToLinear(-740.1f), 0.0f);
    EXPECT_GT(AuDbToLinear(-739.9f), 0.0f);
    EXPECT_EQ(AuFastPow10(-37.0001f), 0.0f);
    EXPECT_GT(AuFastPow10(-37.0f), 0.0f);
    EXPECT_EQ(AuFastPow10(-std::numeric_limits<f32>::infinity()), 0.0f);
    EXPECT_EQ(AuFastPow10(std::numeric_limits<f32>::quiet_NaN()), 0.0f);
    EXPECT_EQ(AuDbToLinear(std::numeric_limits<f32>::quiet_NaN()), 0.0f);
}

TEST(FastDecibels, WithinTwoHundredthsOfADecibel) {
    f64 worst = 0;
    for (f64 dB = -96.3; dB <= 24.0; dB += 0.001) {
        const f32 gain = f32(std::pow(10.0, dB / 20));
        worst = std::max(worst, std::fabs(AuFastLinearToDb(gain) - 20 * std::log10(f64(gain))));
    }
    EXPECT_LT(worst, 0.02);
    EXPECT_EQ(AuFastLinearToDb(1.0f), 0.0f);
}

TEST(FastDecibels, AnyInputGivesAFiniteValue) {
    for (f32 u :
         {0.0f, -1.0f, 1e-45f, std::numeric_limits<f32>::infinity(), std::numeric_limits<f32>::quiet_NaN()})
        EXPECT_TRUE(std::isfinite(AuFastLinearToDb(u))) << u;
    EXPECT_FLOAT_EQ(AuFastLinearToDb(-0.5f), AuFastLinearToDb(0.5f)); // the sign is not read
}

} // namespace
