#include "VorbisTestSupport.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

using vorbistest::EngineDecode;
using vorbistest::Make;
using vorbistest::ReferenceDecode;

class VorbisDecoderTest : public AuDefaultPoolTest {
protected:
    VorbisDecoderTest() : AuDefaultPoolTest(32u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = g_DefaultPoolId;
    }
    void TearDown() override {
        EXPECT_EQ(VorbisSetupCache::Count(), 0u);
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
};

TEST(VorbisDctTest, FastTransformMatchesTheDefinition) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (const u32 n : {128u, 256u, 512u, 1024u, 2048u}) {
        std::vector<f32> in(n), fast(n), reference(n);
        for (auto& v : in)
            v = value(random);
        fast = in;
        VorbisDctIv(fast.data(), n);
        VorbisDctIvReference(in.data(), reference.data(), n);
        for (u32 i = 0; i < n; ++i)
            ASSERT_NEAR(fast[i], reference[i], 2e-3) << n << " " << i;
    }
}

struct SideBySide {
    u32 channels;
    long rate;
    float quality;
};

class VorbisSideBySideTest : public VorbisDecoderTest, public testing::WithParamInterface<SideBySide> {};

TEST_P(VorbisSideBySideTest, MatchesTheReferenceDecoderWithinOneOrTwoSteps) {
    const auto [channels, rate, quality] = GetParam();
    const auto e = Make(channels, rate, quality);
    const auto reference = ReferenceDecode(e.stream);
    const auto engine = EngineDecode(e.media);
    ASSERT_EQ(engine.size(), reference.size());
    ASSERT_EQ(engine.size(), std::size_t(e.info.totalSamples) * channels);
    std::size_t withinOne = 0;
    int worst = 0;
    int loudest = 0;
    for (const auto v : reference)
        loudest = std::max(loudest, std::abs(int(v)));
    EXPECT_GT(loudest, 8000); // the signal is there, not two silences alike
    for (std::size_t i = 0; i < engine.size(); ++i) {
        const int d = std::abs(int(engine[i]) - int(reference[i]));
        worst = std::max(worst, d);
        withinOne += d <= 1;
    }
    EXPECT_LE(worst, 2);
    std::printf("%u ch %ld Hz q%.1f: %zu samples, worst %d, %.4f%% within 1\n", channels, rate,
                double(quality), engine.size(), worst, 100.0 * double(withinOne) / double(engine.size()));
    EXPECT_GE(double(withinOne), 0.99 * double(engine.size()));
}

INSTANTIATE_TEST_SUITE_P(Configurations, VorbisSideBySideTest,
                         testing::Values(SideBySide{1, 48000, 0.2f}, SideBySide{2, 48000, 0.4f},
                                         SideBySide{2, 44100, -0.1f}, SideBySide{1, 22050, 0.0f},
                                         SideBySide{2, 32000, 1.0f}));

} // namespace
