#include "plugins/AuEffectFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace {

constexpr f64 kRate = 48000.0;

struct Coeffs {
    f64 b0, b1, b2, a0, a1, a2;
};

// The cookbook in double precision with the exact amplitude 10^(gain / 40).
Coeffs Cookbook(u32 type, f64 f, f64 gainDb, f64 Q) {
    f = std::min(f, kRate * 0.45);
    const f64 A = std::pow(10.0, gainDb / 40.0);
    const f64 w0 = 2 * M_PI * f / kRate, c = std::cos(w0), s = std::sin(w0);
    const f64 alpha = s / (2 * Q), shelf = s / 2 * std::sqrt(2.0), rA = std::sqrt(A);
    switch (type) {
    case 0:
        return {A * ((A + 1) - (A - 1) * c + 2 * rA * shelf),
                2 * A * ((A - 1) - (A + 1) * c),
                A * ((A + 1) - (A - 1) * c - 2 * rA * shelf),
                (A + 1) + (A - 1) * c + 2 * rA * shelf,
                -2 * ((A - 1) + (A + 1) * c),
                (A + 1) + (A - 1) * c - 2 * rA * shelf};
    case 1:
        return {1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A};
    case 2:
        return {A * ((A + 1) + (A - 1) * c + 2 * rA * shelf),
                -2 * A * ((A - 1) + (A + 1) * c),
                A * ((A + 1) + (A - 1) * c - 2 * rA * shelf),
                (A + 1) - (A - 1) * c + 2 * rA * shelf,
                2 * ((A - 1) - (A + 1) * c),
                (A + 1) - (A - 1) * c - 2 * rA * shelf};
    case 3: { // Butterworth: Q = 1/sqrt(2)
        const f64 a = s / std::sqrt(2.0);
        return {(1 - c) / 2, 1 - c, (1 - c) / 2, 1 + a, -2 * c, 1 - a};
    }
    case 4: {
        const f64 a = s / std::sqrt(2.0);
        return {(1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + a, -2 * c, 1 - a};
    }
    case 5:
        return {alpha, 0, -alpha, 1 + alpha, -2 * c, 1 - alpha};
    default:
        return {1, -2 * c, 1, 1 + alpha, -2 * c, 1 - alpha};
    }
}

f64 Magnitude(const Coeffs& k, f64 f) {
    const std::complex<f64> z = std::polar(1.0, -2 * M_PI * f / kRate);
    return std::abs((k.b0 + k.b1 * z + k.b2 * z * z) / (k.a0 + k.a1 * z + k.a2 * z * z));
}

Coeffs Designed(const AuEffectFilter& filter) {
    const AuBiquadBlock& b = filter.coefficients;
    return {b.fB0, b.fB1, b.fB2, 1.0, -b.fC, -b.fD};
}

f64 Db(f64 magnitude) {
    return 20 * std::log10(magnitude);
}

struct DesignCase {
    u32 type;
    f32 f, gainDb, q;
};

class EffectFilterDesign : public testing::TestWithParam<DesignCase> {};

TEST_P(EffectFilterDesign, MagnitudeMatchesTheCookbookWithin005Db) {
    const DesignCase& d = GetParam();
    AuEffectFilter filter;
    DesignEffectFilter(filter, d.type, f32(kRate), d.f, d.gainDb, d.q);
    const Coeffs reference = Cookbook(d.type, d.f, d.gainDb, d.q);
    const Coeffs designed = Designed(filter);
    for (f64 f = 20.0; f < 23000.0; f *= 1.07) {
        const f64 want = Magnitude(reference, f), got = Magnitude(designed, f);
        if (want > 0.03) { // away from the zeros of notch, band pass and the pass filters' stop bands
            EXPECT_NEAR(Db(got), Db(want), 0.05) << "at " << f << " Hz";
        } else {
            EXPECT_NEAR(got, want, 2e-3) << "at " << f << " Hz";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EffectFilterDesign,
                         testing::Values(DesignCase{0, 100, 6, 1}, DesignCase{0, 2000, -12, 1},
                                         DesignCase{1, 1000, 9, 2}, DesignCase{1, 300, -15, 0.5f},
                                         DesignCase{2, 8000, 6, 1}, DesignCase{2, 500, -9, 1},
                                         DesignCase{3, 1000, 0, 1}, DesignCase{3, 12000, 0, 1},
                                         DesignCase{4, 200, 0, 1}, DesignCase{4, 5000, 0, 1},
                                         DesignCase{5, 1000, 0, 1}, DesignCase{5, 4000, 0, 3},
                                         DesignCase{6, 1000, 0, 1}, DesignCase{6, 60, 0, 4},
                                         // Above 0.45 of the rate: designed at 21 600 Hz.
                                         DesignCase{3, 30000, 0, 1}, DesignCase{1, 40000, 6, 1}));

TEST(EffectFilter, AboveTheLimitDesignsAt045OfTheRate) {
    AuEffectFilter above, at;
    DesignEffectFilter(above, AuEffectFilterLowPass, 48000.0f, 30000.0f, 0, 1);
    DesignEffectFilter(at, AuEffectFilterLowPass, 48000.0f, 21600.0f, 0, 1);
    EXPECT_EQ(above.coefficients.fB0, at.coefficients.fB0);
    EXPECT_EQ(above.coefficients.fC, at.coefficients.fC);
}

TEST(EffectFilter, ZeroDbShelvesAndPeakingPassThrough) {
    // The engine's fast conversion gives A = 0.999039 at 0 dB, not exactly 1.
    for (u32 type : {0u, 1u, 2u}) {
        AuEffectFilter filter;
        DesignEffectFilter(filter, type, 48000.0f, 1000.0f, 0.0f, 1.0f);
        for (f64 f = 20.0; f < 22000.0; f *= 1.2)
            EXPECT_NEAR(Db(Magnitude(Designed(filter), f)), 0.0, 0.02) << "type " << type << " at " << f;
    }
}

TEST(EffectFilter, BadDesignsStayFinite) {
    const f32 inf = std::numeric_limits<f32>::infinity(), nan = std::nanf("");
    const struct {
        u32 type;
        f32 rate, f, gain, q;
    } cases[] = {{1, 48000, 1000, 6, 0},    {5, 48000, 1000, 0, -1},  {6, 48000, 0, 0, 1},
                 {3, 48000, 0, 0, 1},       {4, 48000, -50, 0, 1},    {0, 48000, nan, nan, nan},
                 {1, 48000, 1000, -inf, 1}, {2, 48000, 1000, inf, 1}, {7, 48000, 1000, 6, 1},
                 {99, 48000, 1000, 0, 1},   {1, 0, 1000, 6, 1}};
    for (const auto& c : cases) {
        AuEffectFilter filter;
        DesignEffectFilter(filter, c.type, c.rate, c.f, c.gain, c.q);
        const AuBiquadBlock& b = filter.coefficients;
        for (f32 v : {b.fB0, b.fB1, b.fB2, b.fC, b.fD})
            EXPECT_TRUE(std::isfinite(v)) << "type " << c.type;
        std::vector<f32> samples(64, 1.0f);
        ProcessEffectFilter(filter, samples.data(), 64);
        for (f32 s : samples)
            ASSERT_TRUE(std::isfinite(s)) << "type " << c.type;
    }
    AuEffectFilter outOfTable;
    DesignEffectFilter(outOfTable, 7, 48000.0f, 1000.0f, 6.0f, 1.0f);
    EXPECT_EQ(outOfTable.coefficients.fB0, 1.0f) << "a type outside the table passes through";
    EXPECT_EQ(outOfTable.coefficients.fC, 0.0f);
}

TEST(EffectFilter, FreshFilterPassesAndClearingKeepsTheDesign) {
    AuEffectFilter filter;
    alignas(16) f32 samples[7] = {1, 2, 3, 4, 5, 6, 7};
    ProcessEffectFilter(filter, samples + 1, 3); // three samples at an unaligned address
    EXPECT_EQ(samples[3], 4.0f);
    DesignEffectFilter(filter, AuEffectFilterLowPass, 48000.0f, 500.0f, 0.0f, 1.0f);
    const f32 b0 = filter.coefficients.fB0;
    ProcessEffectFilter(filter, samples, 7);
    EXPECT_NE(filter.memory.fY1, 0.0f);
    filter.Clear();
    EXPECT_EQ(filter.memory.fX1, 0.0f);
    EXPECT_EQ(filter.memory.fY2, 0.0f);
    EXPECT_EQ(filter.coefficients.fB0, b0);
}

TEST(EffectFilter, UnalignedShortRunMatchesTheOneSampleRecurrence) {
    AuEffectFilter filter;
    DesignEffectFilter(filter, AuEffectFilterPeaking, 48000.0f, 3000.0f, 8.0f, 0.7f);
    alignas(16) f32 a[12] = {0.5f, -1, 0.25f, 0.75f, 1, -0.5f, 0, 0.3f, -0.2f, 0.9f, 0.1f, -0.7f};
    f32 b[12];
    std::copy(a, a + 12, b);
    AuBiquadMemory memory{};
    ProcessEffectFilter(filter, a + 1, 3);
    ProcessEffectFilter(filter, a + 4, 8);
    AuBiquadReference::Filter(filter.coefficients, memory, b + 1, 11);
    for (int i = 1; i < 12; ++i)
        EXPECT_NEAR(a[i], b[i], 1e-5f) << i;
}

} // namespace
