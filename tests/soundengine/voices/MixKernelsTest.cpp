#include "VoiceTestSupport.h"

#include "voices/AuMixKernels.h"

#include <random>

using voicetest::TestBuffer;

namespace {

constexpr u16 kFrames = 1024;

// Planar channel c holds c + 1 everywhere, so an interleaved frame shows where each came from.
std::vector<f32> InterleavedOrder(u32 mask) {
    const AuChannelConfig config = AuChannelConfig::Standard(mask);
    TestBuffer src(config, 8);
    for (u32 c = 0; c < config.NumChannels(); ++c)
        src.Fill(c, static_cast<f32>(c + 1));
    TestBuffer dst(config, 8);
    for (u32 c = 0; c < config.NumChannels(); ++c)
        dst.Fill(c, 0.0f);
    AuRamp ramp;
    ramp.Set(8);
    MixChannelsByMask(ramp, src.buffer, dst.buffer, 1.0f, 1.0f);
    return std::vector<f32>(dst.buffer.pData, dst.buffer.pData + config.NumChannels());
}

void FillRandom(TestBuffer& buffer, u32 seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
    for (u32 i = 0; i < buffer.buffer.NumChannels() * buffer.buffer.uMaxFrames; ++i)
        buffer.buffer.pData[i] = sample(random);
}

} // namespace

TEST(MixKernelsTest, EachMaskReachesItsKernelWithTheOutputChannelOrder) {
    const struct {
        u32 mask;
        std::vector<f32> order; // planar channel + 1 per interleaved position
    } cases[] = {
        {0x3, {1, 2}},
        {0x60F, {1, 2, 3, 6, 4, 5}},       // FL FR FC LFE SL SR
        {0x63F, {1, 2, 3, 8, 4, 5, 6, 7}}, // FL FR FC LFE BL BR SL SR
        {0x4, {1}},
        {0x33, {1, 2, 3, 4}}, // 4.0 keeps its planar order
        {0x607, {1, 2, 3, 4, 5}},
        {0x3F, {1, 2, 3, 6, 4, 5}}, // the generic kernel moves an LFE like the 5.1 kernel
    };
    for (const auto& c : cases)
        EXPECT_EQ(InterleavedOrder(c.mask), c.order) << std::hex << c.mask;
}

TEST(MixKernelsTest, VectorInterleaversEqualTheReferenceOnRandomData) {
    for (u32 mask : {0x3u, 0x60Fu, 0x63Fu, 0x4u, 0x33u}) {
        const AuChannelConfig config = AuChannelConfig::Standard(mask);
        TestBuffer src(config, kFrames);
        FillRandom(src, mask);
        TestBuffer kernel(config, kFrames);
        TestBuffer reference(config, kFrames);
        FillRandom(kernel, 7);
        FillRandom(reference, 7);
        AuRamp ramp;
        ramp.Set(kFrames);
        MixChannelsByMask(ramp, src.buffer, kernel.buffer, 0.25f, 0.9f);
        AuMixReference::InterleaveRamp(src.buffer, kFrames, reference.buffer.pData, 0.25f,
                                       (0.9f - 0.25f) * ramp.fInvFrames);
        for (u32 i = 0; i < config.NumChannels() * kFrames; ++i)
            ASSERT_NEAR(kernel.buffer.pData[i], reference.buffer.pData[i], 5e-6f)
                << std::hex << mask << " " << i;
    }
}

TEST(MixKernelsTest, StereoRampFromZeroToOneEndsAtOneStepBelowOne) {
    const AuChannelConfig stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    TestBuffer src(stereo, kFrames);
    src.Fill(0, 1.0f);
    src.Fill(1, 1.0f);
    TestBuffer dst(stereo, kFrames);
    dst.Fill(0, 0.0f);
    dst.Fill(1, 0.0f);
    AuRamp ramp;
    ramp.Set(kFrames);
    InterleaveStereoRamp(ramp, src.buffer, dst.buffer.pData, 0.0f, 1.0f / kFrames);
    EXPECT_EQ(dst.buffer.pData[0], 0.0f);
    EXPECT_EQ(dst.buffer.pData[2 * kFrames - 2], 1023.0f / 1024.0f);
    EXPECT_EQ(dst.buffer.pData[2 * kFrames - 1], 1023.0f / 1024.0f);
}

TEST(MixKernelsTest, InterleaversAddSoTwoBussesAreBothHeard) {
    const AuChannelConfig config = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    TestBuffer a(config, 16), b(config, 16), dst(config, 16);
    for (u32 c = 0; c < 6; ++c) {
        a.Fill(c, 0.25f);
        b.Fill(c, 0.5f);
        dst.Fill(c, 0.0f);
    }
    AuRamp ramp;
    ramp.Set(16);
    MixChannelsByMask(ramp, a.buffer, dst.buffer, 1.0f, 1.0f);
    MixChannelsByMask(ramp, b.buffer, dst.buffer, 1.0f, 1.0f);
    for (u32 i = 0; i < 6 * 16; ++i)
        ASSERT_EQ(dst.buffer.pData[i], 0.75f) << i;
}

TEST(MixKernelsTest, MixChannelRampEqualsTheReferenceAndStartZeroStepZeroTouchesNothing) {
    TestBuffer src(AuChannelConfig::Anonymous(1), kFrames);
    TestBuffer kernel(AuChannelConfig::Anonymous(1), kFrames);
    TestBuffer reference(AuChannelConfig::Anonymous(1), kFrames);
    FillRandom(src, 3);
    FillRandom(kernel, 4);
    FillRandom(reference, 4);
    MixChannelRamp(src.buffer.pData, kernel.buffer.pData, -0.5f, 0.001f, kFrames);
    AuMixReference::MixChannelRamp(src.buffer.pData, reference.buffer.pData, -0.5f, 0.001f, kFrames);
    for (u32 i = 0; i < kFrames; ++i)
        ASSERT_NEAR(kernel.buffer.pData[i], reference.buffer.pData[i], 5e-6f) << i;

    // Even a source of infinities leaves the destination as it was.
    src.Fill(0, INFINITY);
    const std::vector<f32> before(kernel.buffer.pData, kernel.buffer.pData + kFrames);
    MixChannelRamp(src.buffer.pData, kernel.buffer.pData, 0.0f, 0.0f, kFrames);
    EXPECT_EQ(std::vector<f32>(kernel.buffer.pData, kernel.buffer.pData + kFrames), before);
}

TEST(MixKernelsTest, CentreOnlyWithAZeroStepMultipliesByTheStartGain) {
    const AuChannelConfig mono = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);
    TestBuffer src(mono, 64), dst(mono, 64);
    src.Fill(0, 0.5f);
    dst.Fill(0, 0.0f);
    AuRamp ramp;
    ramp.Set(64);
    MixChannelsByMask(ramp, src.buffer, dst.buffer, 0.5f, 0.5f);
    for (u32 i = 0; i < 64; ++i)
        ASSERT_EQ(dst.buffer.pData[i], 0.25f);
}

TEST(MixKernelsTest, SixteenBitConversionScalesLimitsAndRounds) {
    const AuChannelConfig stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    const struct {
        f32 sample;
        i16 expected;
    } cases[] = {{1.0f, 32767}, {-1.0f, -32767}, {-1.5f, -32768}, {1.5f, 32767}, {0.5f, 16384}, {0.0f, 0}};
    for (const auto& c : cases) {
        for (const bool vector : {true, false}) {
            TestBuffer src(stereo, 8);
            src.Fill(0, c.sample);
            src.Fill(1, c.sample);
            alignas(16) i16 out[16] = {};
            if (vector)
                ConvertTo16Bit(src.buffer.pData, 8, out, 8, stereo, 1.0f, 1.0f);
            else
                AuMixReference::ConvertTo16Bit(src.buffer.pData, 8, out, 8, stereo, 1.0f, 1.0f);
            EXPECT_EQ(out[0], c.expected) << c.sample << " vector " << vector;
            EXPECT_EQ(out[15], c.expected) << c.sample << " vector " << vector;
        }
    }
}

TEST(MixKernelsTest, SixteenBitConversionAddsWithSaturationAndMatchesTheReference) {
    for (u32 mask : {0x3u, 0x60Fu}) {
        const AuChannelConfig config = AuChannelConfig::Standard(mask);
        TestBuffer src(config, kFrames);
        FillRandom(src, 11);
        std::vector<i16> kernel(config.NumChannels() * kFrames + 8), reference(kernel.size());
        i16* k = reinterpret_cast<i16*>((reinterpret_cast<uintptr_t>(kernel.data()) + 15) & ~uintptr_t{15});
        ConvertTo16Bit(src.buffer.pData, kFrames, k, kFrames, config, 1.0f, 0.5f);
        AuMixReference::ConvertTo16Bit(src.buffer.pData, kFrames, reference.data(), kFrames, config, 1.0f,
                                       0.5f);
        for (u32 i = 0; i < config.NumChannels() * kFrames; ++i)
            ASSERT_NEAR(k[i], reference[i], 1) << i;
    }
    const AuChannelConfig stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    TestBuffer loud(stereo, 8);
    loud.Fill(0, 0.75f);
    loud.Fill(1, -0.75f);
    alignas(16) i16 out[16] = {};
    ConvertTo16Bit(loud.buffer.pData, 8, out, 8, stereo, 1.0f, 1.0f);
    ConvertTo16Bit(loud.buffer.pData, 8, out, 8, stereo, 1.0f, 1.0f);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
}

TEST(MixKernelsTest, MixNChannelsSetsTheLfeApart) {
    const AuChannelConfig surround = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    const AuChannelConfig stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    // Source 5.1 with channel c = c + 1; a matrix that sends every input to every output at 0.5.
    TestBuffer src(surround, 16);
    for (u32 c = 0; c < 6; ++c)
        src.Fill(c, static_cast<f32>(c + 1));
    std::vector<f32> matrix(6 * AuMatrixRowStride(6), 0.5f);

    TestBuffer both(surround, 16);
    for (u32 c = 0; c < 6; ++c)
        both.Fill(c, 0.0f);
    both.buffer.uValidFrames = 0;
    MixNChannels(src.buffer, both.buffer, {1.0f, 1.0f}, matrix.data(), matrix.data(), 1.0f / 16, 16);
    // Each non-LFE output hears the five non-LFE inputs (1+2+3+4+5) x 0.5; the LFE only the LFE.
    for (u32 c = 0; c < 5; ++c)
        EXPECT_FLOAT_EQ(both.buffer.GetChannel(c)[5], 7.5f) << c;
    EXPECT_FLOAT_EQ(both.buffer.GetLFE()[5], 3.0f);
    EXPECT_EQ(both.buffer.uValidFrames, 16);

    std::vector<f32> toStereo(6 * AuMatrixRowStride(2), 0.5f);
    TestBuffer one(stereo, 16);
    one.Fill(0, 0.0f);
    one.Fill(1, 0.0f);
    MixNChannels(src.buffer, one.buffer, {1.0f, 1.0f}, toStereo.data(), toStereo.data(), 1.0f / 16, 16);
    EXPECT_FLOAT_EQ(one.buffer.GetChannel(0)[3], 7.5f);
    EXPECT_FLOAT_EQ(one.buffer.GetChannel(1)[3], 7.5f);
}

TEST(MixKernelsTest, MixNChannelsRampsFromThePreviousToTheCurrentMatrix) {
    const AuChannelConfig mono = AuChannelConfig::Anonymous(1);
    TestBuffer src(mono, 8), dst(mono, 8);
    src.Fill(0, 1.0f);
    dst.Fill(0, 0.0f);
    const f32 previous[4] = {0.0f};
    const f32 current[4] = {1.0f};
    MixNChannels(src.buffer, dst.buffer, {1.0f, 0.5f}, previous, current, 1.0f / 8, 8);
    for (u32 i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(dst.buffer.pData[i], 0.5f * i / 8) << i;
}
