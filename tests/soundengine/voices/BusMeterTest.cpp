#include "LowerEnginePoolTest.h"
#include "VoiceTestSupport.h"
#include "voices/AuBusMeter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using voicetest::TestBuffer;

constexpr u16 kFrames = 1024;
constexpr f64 kPi = 3.14159265358979323846;

class BusMeterTest : public voicetest::LowerEnginePoolTest {
protected:
    void TearDown() override {
        m_meter.Term();
        LowerEnginePoolTest::TearDown();
    }

    AuBusMeterData m_meter;
};

f64 ToDb(f64 linear) {
    return 20.0 * std::log10(linear);
}

TEST_F(BusMeterTest, SilenceAndAZeroGainGiveZeroForEveryMeasure) {
    ASSERT_EQ(m_meter.Init(6, AU_METER_RATE, AU_METERING_ALL), AuResultSuccess);
    TestBuffer silent(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), kFrames);
    TestBuffer loud(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), kFrames);
    for (u32 c = 0; c < 6; ++c)
        loud.Fill(c, 0.5f);
    struct Case {
        const char* name;
        AuPipelineBuffer* buffer;
        f32 gain;
    } cases[] = {
        {"silence", &silent.buffer, 1.0f}, {"gain 0", &loud.buffer, 0.0f}, {"NaN gain", &loud.buffer, NAN}};
    for (const Case& c : cases) {
        m_meter.BusMeter(c.gain, *c.buffer);
        for (u32 ch = 0; ch < 6; ++ch) {
            EXPECT_EQ(m_meter.pPeak[ch], 0.0f) << c.name;
            EXPECT_EQ(m_meter.pRMS[ch], 0.0f) << c.name;
            EXPECT_EQ(m_meter.pTruePeak[ch], 0.0f) << c.name;
        }
        EXPECT_EQ(m_meter.fKPower, 0.0f) << c.name;
    }
}

TEST_F(BusMeterTest, PeakAndRmsOfASineCarryTheGainAndTheUnityCompensation) {
    ASSERT_EQ(m_meter.Init(1, AU_METER_RATE, AU_EnableBusMeter_Peak | AU_EnableBusMeter_RMS),
              AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), kFrames);
    for (u32 i = 0; i < kFrames; ++i)
        buffer.buffer.pData[i] = -0.8f * f32(std::sin(2 * kPi * 16 * i / kFrames));
    m_meter.BusMeter(0.5f, buffer.buffer);
    EXPECT_NEAR(m_meter.pPeak[0], 0.8f * 0.5f * 1.0009619f, 1e-5);
    EXPECT_NEAR(m_meter.pRMS[0], 0.8f / std::sqrt(2.0f) * 0.5f * 1.0009619f, 1e-5);
    EXPECT_EQ(m_meter.pTruePeak, nullptr);
    EXPECT_EQ(m_meter.pKStages, nullptr);
}

TEST_F(BusMeterTest, TruePeakOfAQuarterRateSineLiesAboveItsSamplesAndAgreesWithLibebur128) {
    ASSERT_EQ(m_meter.Init(1, AU_METER_RATE, AU_EnableBusMeter_Peak | AU_EnableBusMeter_TruePeak),
              AuResultSuccess);
    ebur128_state* reference = ebur128_init(1, AU_METER_RATE, EBUR128_MODE_TRUE_PEAK);
    ASSERT_NE(reference, nullptr);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), kFrames);
    u64 n = 0;
    for (int block = 0; block < 8; ++block) {
        for (u32 i = 0; i < kFrames; ++i, ++n)
            buffer.buffer.pData[i] = f32(std::sin(kPi / 2 * f64(n) + kPi / 4));
        m_meter.BusMeter(1.0f / 1.0009619f, buffer.buffer);
        ASSERT_EQ(ebur128_add_frames_float(reference, buffer.buffer.pData, kFrames), EBUR128_SUCCESS);
    }
    f64 referencePeak = 0.0;
    ASSERT_EQ(ebur128_true_peak(reference, 0, &referencePeak), EBUR128_SUCCESS);
    ebur128_destroy(&reference);
    EXPECT_NEAR(m_meter.pPeak[0], 0.70710678f, 1e-4);
    EXPECT_GT(m_meter.pTruePeak[0], m_meter.pPeak[0] * 1.3f);
    EXPECT_NEAR(ToDb(m_meter.pTruePeak[0]), ToDb(referencePeak), 0.1);
}

TEST_F(BusMeterTest, TruePeakHistoryCarriesAcrossBuffers) {
    // An impulse at the end of one buffer rings into the interpolated values at the start of the
    // next: without the history the second buffer would read silence.
    ASSERT_EQ(m_meter.Init(1, AU_METER_RATE, AU_EnableBusMeter_TruePeak), AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), kFrames);
    buffer.buffer.pData[kFrames - 1] = 1.0f;
    m_meter.BusMeter(1.0f, buffer.buffer);
    buffer.Fill(0, 0.0f);
    m_meter.BusMeter(1.0f, buffer.buffer);
    EXPECT_GT(m_meter.pTruePeak[0], 0.1f);
    m_meter.BusMeter(1.0f, buffer.buffer);
    EXPECT_EQ(m_meter.pTruePeak[0], 0.0f);
}

// Planar 5.1 (FL FR FC SL SR LFE) with one sine per channel; the weighted power after the filters
// settled, and libebur128's momentary loudness of the same signal.
struct KPowerRun {
    f32 power = 0.0f;
    f64 referenceLufs = 0.0;
};

KPowerRun RunKPower(AuBusMeterData& meter, const f32 (&amplitudes)[6]) {
    KPowerRun run;
    ebur128_state* reference = ebur128_init(6, AU_METER_RATE, EBUR128_MODE_M);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), kFrames);
    // libebur128's six-channel map is L R C (unused) Ls Rs: the planar LFE goes to slot 3.
    constexpr u32 kInterleavedSlot[6] = {0, 1, 2, 4, 5, 3};
    std::vector<f32> interleaved(6 * kFrames);
    u64 n = 0;
    for (int block = 0; block < 40; ++block) {
        for (u32 i = 0; i < kFrames; ++i, ++n)
            for (u32 c = 0; c < 6; ++c) {
                const f32 v =
                    amplitudes[c] * f32(std::sin(2 * kPi * (500.0 + 300.0 * c) * f64(n) / AU_METER_RATE));
                buffer.buffer.GetChannel(c)[i] = v;
                interleaved[6 * i + kInterleavedSlot[c]] = v;
            }
        meter.BusMeter(1.0f / 1.0009619f, buffer.buffer);
        ebur128_add_frames_float(reference, interleaved.data(), kFrames);
        run.power = meter.fKPower;
    }
    ebur128_loudness_momentary(reference, &run.referenceLufs);
    ebur128_destroy(&reference);
    return run;
}

TEST_F(BusMeterTest, KWeightedPowerOfFivePointOneLeavesTheLfeOutWeighsTheSurroundsAndAgreesWithLibebur128) {
    ASSERT_EQ(m_meter.Init(6, AU_METER_RATE, AU_EnableBusMeter_KPower), AuResultSuccess);
    const KPowerRun mixed = RunKPower(m_meter, {0.3f, 0.2f, 0.25f, 0.15f, 0.1f, 0.0f});
    EXPECT_NEAR(-0.691 + 10.0 * std::log10(mixed.power), mixed.referenceLufs, 0.1);

    m_meter.Term();
    ASSERT_EQ(m_meter.Init(6, AU_METER_RATE, AU_EnableBusMeter_KPower), AuResultSuccess);
    const KPowerRun withLfe = RunKPower(m_meter, {0.3f, 0.2f, 0.25f, 0.15f, 0.1f, 0.9f});
    EXPECT_NEAR(withLfe.power, mixed.power, mixed.power * 1e-5);
}

TEST_F(BusMeterTest, ASurroundChannelCountsWithItsWeight) {
    // The same signal in the front centre, then in the side left.
    ASSERT_EQ(m_meter.Init(6, AU_METER_RATE, AU_EnableBusMeter_KPower), AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), kFrames);
    f32 powers[2] = {};
    for (u32 which = 0; which < 2; ++which) {
        m_meter.Term();
        ASSERT_EQ(m_meter.Init(6, AU_METER_RATE, AU_EnableBusMeter_KPower), AuResultSuccess);
        u64 n = 0;
        for (int block = 0; block < 10; ++block) {
            for (u32 c = 0; c < 6; ++c)
                buffer.Fill(c, 0.0f);
            f32* channel = buffer.buffer.GetChannel(which == 0 ? 2 : 3);
            for (u32 i = 0; i < kFrames; ++i, ++n)
                channel[i] = 0.5f * f32(std::sin(2 * kPi * 1000.0 * f64(n) / AU_METER_RATE));
            m_meter.BusMeter(1.0f, buffer.buffer);
        }
        powers[which] = m_meter.fKPower;
    }
    EXPECT_NEAR(powers[1] / powers[0], AU_SURROUND_WEIGHT, 1e-4);
}

TEST_F(BusMeterTest, ANonStandardLayoutHasNoKWeightedPower) {
    ASSERT_EQ(m_meter.Init(2, AU_METER_RATE, AU_EnableBusMeter_KPower), AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Anonymous(2), kFrames);
    buffer.Fill(0, 0.5f);
    buffer.Fill(1, 0.5f);
    m_meter.BusMeter(1.0f, buffer.buffer);
    EXPECT_EQ(m_meter.fKPower, 0.0f);
}

} // namespace
