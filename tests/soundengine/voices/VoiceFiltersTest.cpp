#include "VoiceTestSupport.h"

#include "LowerEnginePoolTest.h"
#include "voices/AuVoiceFilters.h"

#include <cmath>
#include <random>

using voicetest::TestBuffer;

namespace {

class VoiceFiltersTest : public voicetest::LowerEnginePoolTest {
protected:
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        SetOutputSampleRate(AU_DEFAULT_SAMPLE_RATE);
        SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
    }
    void TearDown() override {
        SetOutputSampleRate(AU_DEFAULT_SAMPLE_RATE);
        LowerEnginePoolTest::TearDown();
    }
};

void FillNoise(AuPipelineBuffer& buffer, u32 seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
    for (u32 c = 0; c < buffer.NumChannels(); ++c)
        for (u32 i = 0; i < buffer.uMaxFrames; ++i)
            buffer.GetChannel(c)[i] = sample(random);
}

std::vector<f32> Samples(const AuPipelineBuffer& buffer) {
    return std::vector<f32>(buffer.pData, buffer.pData + buffer.NumChannels() * buffer.uMaxFrames);
}

// The recurrence in double precision with a block's own (single-precision) scalars.
struct DirectForm1 {
    f64 x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    void Run(const AuBiquadBlock& b, f64* samples, u32 frames) {
        for (u32 i = 0; i < frames; ++i) {
            const f64 y =
                f64(b.fB0) * samples[i] + f64(b.fB1) * x1 + f64(b.fB2) * x2 + f64(b.fC) * y1 + f64(b.fD) * y2;
            x2 = x1;
            x1 = samples[i];
            y2 = y1;
            y1 = y;
            samples[i] = y;
        }
    }
};

f64 RelativeError(const f32* got, const std::vector<f64>& want) {
    f64 error = 0, peak = 1e-30;
    for (size_t i = 0; i < want.size(); ++i) {
        error = std::max(error, std::abs(f64(got[i]) - want[i]));
        peak = std::max(peak, std::abs(want[i]));
    }
    return error / peak;
}

// Peak amplitude of a settled filter's answer to a unit sine, in dB.
f64 GainDb(bool highPass, f32 value, f64 frequency) {
    CAuVoiceFilters filters;
    EXPECT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    highPass ? filters.SetHighPass(value) : filters.SetLowPass(value);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 1024);
    const f64 rate = g_OutputTiming.uSampleRate;
    f64 peak = 0;
    for (u32 call = 0; call < 48; ++call) {
        for (u32 i = 0; i < 1024; ++i)
            buffer.buffer.pData[i] = f32(std::sin(2 * M_PI * frequency * (call * 1024 + i) / rate));
        filters.Process(buffer.buffer);
        if (call >= 40)
            for (u32 i = 0; i < 1024; ++i)
                peak = std::max(peak, f64(std::abs(buffer.buffer.pData[i])));
    }
    return 20 * std::log10(peak);
}

} // namespace

TEST_F(VoiceFiltersTest, CutoffCurve) {
    EXPECT_NEAR(CAuVoiceFilters::LowPassCutoff(0, 1024, 0), 20000.0f, 0.01f);
    EXPECT_NEAR(CAuVoiceFilters::LowPassCutoff(15, 1024, 0), 13500.0f, 0.01f);
    EXPECT_NEAR(CAuVoiceFilters::LowPassCutoff(30, 1024, 0), 7000.0f, 20.0f);
    EXPECT_NEAR(CAuVoiceFilters::LowPassCutoff(100, 1024, 0), 16.8f, 0.05f);
    // The curve falls an octave for every 8.04 of value above 30.
    EXPECT_NEAR(CAuVoiceFilters::LowPassCutoff(60, 1024, 0) /
                    CAuVoiceFilters::LowPassCutoff(68.043f, 1024, 0),
                2.0f, 0.01f);
    for (f32 v : {0.0f, 12.5f, 30.0f, 57.0f, 100.0f})
        EXPECT_EQ(CAuVoiceFilters::HighPassCutoff(v, 1024, 0),
                  CAuVoiceFilters::LowPassCutoff(100 - v, 1024, 0));
    // The straight line: (trunc(48000 / 1024 x 8) & 0xFFFF) x 0.5 = 187.5 Hz at 0, 1 Hz at 100.
    EXPECT_FLOAT_EQ(CAuVoiceFilters::LowPassCutoff(0, 1024, 1), 187.5f);
    EXPECT_FLOAT_EQ(CAuVoiceFilters::LowPassCutoff(100, 1024, 1), 1.0f);
    // Outside 0 to 100 the curve holds its ends.
    EXPECT_EQ(CAuVoiceFilters::LowPassCutoff(-20, 1024, 0), CAuVoiceFilters::LowPassCutoff(0, 1024, 0));
    EXPECT_EQ(CAuVoiceFilters::LowPassCutoff(250, 1024, 0), CAuVoiceFilters::LowPassCutoff(100, 1024, 0));
    EXPECT_EQ(CAuVoiceFilters::LowPassCutoff(NAN, 1024, 0), CAuVoiceFilters::LowPassCutoff(0, 1024, 0));
}

TEST_F(VoiceFiltersTest, BothCutoffsStopAtNineTwentiethsOfTheRate) {
    for (u32 rate : {AU_DEFAULT_SAMPLE_RATE, AU_LOW_SAMPLE_RATE}) {
        SetOutputSampleRate(rate);
        // At 0.45 x rate the low-pass's C is 1 / tan(0.45 pi); any value that asks for more gives it.
        AuBiquadBlock limit, block;
        const f32 k = std::tan(3.1415927f * 0.45f);
        CAuVoiceFilters::LowPassCoefficients(block, 0.0f, 0);
        const f32 c = 1.0f / k;
        const f32 n = 1.0f / (1.4142135f * c + 1.0f + c * c);
        BiquadCoefficients(limit, n, 2 * n, n, (1 - c * c) * 2 * n, (1 - 1.4142135f * c + c * c) * n);
        if (rate == AU_LOW_SAMPLE_RATE) {
            EXPECT_EQ(memcmp(&limit, &block, sizeof(block)), 0);
        }
        for (u32 v = 0; v <= 100; ++v) {
            for (bool highPass : {false, true}) {
                highPass ? CAuVoiceFilters::HighPassCoefficients(block, f32(v), 0)
                         : CAuVoiceFilters::LowPassCoefficients(block, f32(v), 0);
                // Poles inside the unit circle: |a2| < 1 and |a1| < 1 + a2.
                const f32 a1 = -block.fC, a2 = -block.fD;
                EXPECT_TRUE(std::isfinite(a1) && std::isfinite(a2) && std::isfinite(block.fB0)) << v;
                EXPECT_LT(std::abs(a2), 1.0f) << rate << " " << v << " " << highPass;
                EXPECT_LT(std::abs(a1), 1.0f + a2) << rate << " " << v << " " << highPass;
            }
        }
    }
}

TEST_F(VoiceFiltersTest, LowPassIsThreeDecibelsDownAtItsCutoff) {
    for (f32 v : {30.0f, 50.0f, 70.0f}) {
        const f64 cutoff = CAuVoiceFilters::LowPassCutoff(v, 1024, 0);
        EXPECT_NEAR(GainDb(false, v, cutoff), -3.01, 0.2) << v;
        EXPECT_NEAR(GainDb(false, v, cutoff / 8), 0.0, 0.2) << v;
    }
    const f64 highCutoff = CAuVoiceFilters::HighPassCutoff(60.0f, 1024, 0);
    EXPECT_NEAR(GainDb(true, 60.0f, highCutoff), -3.01, 0.2);
}

TEST_F(VoiceFiltersTest, HighPassAtTheLowOutputRateStaysFiniteAndStable) {
    SetOutputSampleRate(AU_LOW_SAMPLE_RATE);
    for (f32 v : {100.0f, 90.0f, 75.0f}) {
        CAuVoiceFilters filters;
        ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 0), AuResultSuccess);
        filters.SetHighPass(v);
        TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 1024);
        f32 peak = 0;
        for (u32 call = 0; call < 50; ++call) {
            FillNoise(buffer.buffer, call);
            filters.Process(buffer.buffer);
            for (f32 s : Samples(buffer.buffer)) {
                ASSERT_TRUE(std::isfinite(s));
                peak = std::max(peak, std::abs(s));
            }
        }
        EXPECT_LT(peak, 4.0f) << v;
    }
}

TEST_F(VoiceFiltersTest, ProcessEqualsTheDoubleDirectFormOnEveryChannel) {
    std::mt19937 random(5);
    std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
    for (u32 channels = 1; channels <= 8; ++channels) {
        // Channel c starts c x frames floats in: every start alignment comes up.
        for (u16 frames = 1; frames <= 20; ++frames) {
            CAuVoiceFilters filters;
            ASSERT_EQ(filters.Init(AuChannelConfig::Anonymous(channels), 0), AuResultSuccess);
            filters.SetLowPass(40.0f);
            filters.SetHighPass(35.0f);
            TestBuffer buffer(AuChannelConfig::Anonymous(channels), frames);
            std::vector<std::vector<f64>> want(channels, std::vector<f64>(frames));
            for (u32 c = 0; c < channels; ++c)
                for (u32 i = 0; i < frames; ++i)
                    want[c][i] = buffer.buffer.GetChannel(c)[i] = sample(random);
            filters.Process(buffer.buffer);
            for (u32 c = 0; c < channels; ++c) {
                DirectForm1 low, high;
                low.Run(filters.LowPassSection().block, want[c].data(), frames);
                high.Run(filters.HighPassSection().block, want[c].data(), frames);
                EXPECT_LT(RelativeError(buffer.buffer.GetChannel(c), want[c]), 1e-5)
                    << channels << " channels, " << frames << " frames, channel " << c;
            }
        }
    }
}

TEST_F(VoiceFiltersTest, AValueOfATenthOrLessFromTheFirstBlockLeavesTheBufferUntouched) {
    const struct {
        f32 value;
        bool untouched;
    } cases[] = {{0.0f, true}, {0.05f, true}, {0.1f, true}, {0.11f, false}};
    for (const auto& c : cases) {
        CAuVoiceFilters filters;
        ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 0), AuResultSuccess);
        filters.SetLowPass(c.value);
        filters.SetHighPass(c.value);
        TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 1024);
        FillNoise(buffer.buffer, 1);
        const std::vector<f32> before = Samples(buffer.buffer);
        filters.Process(buffer.buffer);
        EXPECT_EQ(Samples(buffer.buffer) == before, c.untouched) << c.value;
        EXPECT_EQ(filters.LowPassState().bBypassed != 0, c.untouched) << c.value;
    }
}

TEST_F(VoiceFiltersTest, RampFromZeroRunsEightSubBlocksAfterTwoPrimedSamples) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 1024);
    FillNoise(buffer.buffer, 2);
    filters.Process(buffer.buffer); // the first block settles at 0: bypassed
    filters.SetLowPass(50.0f);
    FillNoise(buffer.buffer, 3);
    std::vector<f64> want(buffer.buffer.pData, buffer.buffer.pData + 1024);
    filters.Process(buffer.buffer);

    EXPECT_EQ(buffer.buffer.pData[0], f32(want[0]));
    EXPECT_EQ(buffer.buffer.pData[1], f32(want[1]));
    // The memory is primed with the two passed samples, then each 128-frame sub-block (the last
    // holds 126) runs at 6.25 x its number.
    DirectForm1 reference{want[1], want[0], want[1], want[0]};
    for (u32 step = 1, at = 2; step <= 8; ++step, at += 128) {
        AuBiquadBlock block;
        CAuVoiceFilters::LowPassCoefficients(block, 6.25f * f32(step), 0);
        reference.Run(block, want.data() + at, std::min(128u, 1024 - at));
    }
    EXPECT_LT(RelativeError(buffer.buffer.pData, want), 1e-5);
    EXPECT_EQ(filters.LowPassState().uStep, AU_FILTER_RAMP_STEPS);
    EXPECT_EQ(filters.LowPassState().fCurrent, 50.0f);
    EXPECT_EQ(filters.LowPassState().uCountdown, 0);
}

TEST_F(VoiceFiltersTest, RampSpreadOverShortBuffersPrimesOnce) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 8);
    filters.Process(buffer.buffer);
    filters.SetLowPass(80.0f);
    for (u32 call = 0; call < 8; ++call) {
        FillNoise(buffer.buffer, 10 + call);
        const std::vector<f32> before = Samples(buffer.buffer);
        filters.Process(buffer.buffer);
        // Only the ramp's first call passes its first two samples.
        EXPECT_EQ(buffer.buffer.pData[0] == before[0], call == 0) << call;
        EXPECT_EQ(filters.LowPassState().uStep, call + 1);
    }
}

TEST_F(VoiceFiltersTest, RampDownToZeroRunsFourMoreCallsThenBypasses) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    filters.SetLowPass(50.0f);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 1024);
    FillNoise(buffer.buffer, 4);
    filters.Process(buffer.buffer);
    EXPECT_EQ(filters.LowPassState().fCurrent, 50.0f);
    filters.SetLowPass(0.0f);
    std::vector<bool> touched;
    for (u32 call = 0; call < 7; ++call) {
        FillNoise(buffer.buffer, 20 + call);
        const std::vector<f32> before = Samples(buffer.buffer);
        filters.Process(buffer.buffer);
        touched.push_back(Samples(buffer.buffer) != before);
    }
    // The ramp, four calls at 0, then nothing.
    EXPECT_EQ(touched, (std::vector<bool>{true, true, true, true, true, false, false}));
    EXPECT_TRUE(filters.LowPassState().bBypassed);
}

TEST_F(VoiceFiltersTest, AChangeDuringTheTailCountdownKeepsTheFilterRunning) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    filters.SetLowPass(50.0f);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 1024);
    filters.Process(buffer.buffer);
    filters.SetLowPass(0.0f);
    filters.Process(buffer.buffer); // ramp down: countdown 4
    filters.Process(buffer.buffer);
    filters.SetLowPass(60.0f); // back up before the tail ends
    for (u32 call = 0; call < 10; ++call) {
        FillNoise(buffer.buffer, 30 + call);
        const std::vector<f32> before = Samples(buffer.buffer);
        filters.Process(buffer.buffer);
        EXPECT_NE(Samples(buffer.buffer), before) << call;
    }
    EXPECT_FALSE(filters.LowPassState().bBypassed);
    EXPECT_EQ(filters.LowPassState().fCurrent, 60.0f);
}

TEST_F(VoiceFiltersTest, ResetTakesTheNextChangeAtOnceFromCleanMemory) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 0), AuResultSuccess);
    filters.SetLowPass(40.0f);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 64);
    FillNoise(buffer.buffer, 6);
    filters.Process(buffer.buffer);
    filters.Reset();
    for (u32 c = 0; c < 2; ++c) {
        const AuBiquadMemory& m = filters.LowPassSection().pMemory[c];
        EXPECT_EQ(m.fX1 + m.fX2 + m.fY1 + m.fY2, 0.0f);
    }
    filters.SetLowPass(70.0f);
    filters.Process(buffer.buffer);
    EXPECT_EQ(filters.LowPassState().fCurrent, 70.0f); // no ramp
    EXPECT_EQ(filters.LowPassState().uStep, AU_FILTER_RAMP_STEPS);
}

TEST_F(VoiceFiltersTest, TargetsAreHeldBetweenZeroAndAHundred) {
    CAuVoiceFilters filters;
    const struct { f32 in, held; } cases[] = {{150.0f, 100.0f}, {-5.0f, 0.0f}, {NAN, 0.0f}, {42.0f, 42.0f}};
    for (const auto& c : cases) {
        filters.SetHighPass(c.in);
        EXPECT_EQ(filters.HighPassState().fTarget, c.held) << c.in;
    }
}

TEST_F(VoiceFiltersTest, EmptyBufferAndBufferWithoutSamplesAreSkipped) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 0), AuResultSuccess);
    filters.SetLowPass(50.0f);
    AuPipelineBuffer none;
    filters.Process(none);
    TestBuffer buffer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16);
    buffer.buffer.uValidFrames = 0;
    filters.Process(buffer.buffer);
    // The change is still pending for the first buffer that has samples.
    EXPECT_TRUE(filters.LowPassState().bChanged);
}

TEST_F(VoiceFiltersTest, NineChannelsAndABufferWiderThanTheMemory) {
    CAuVoiceFilters filters;
    ASSERT_EQ(filters.Init(AuChannelConfig::Anonymous(9), 0), AuResultSuccess);
    EXPECT_EQ(filters.LowPassSection().uMemorySize, 9 * sizeof(AuBiquadMemory));
    filters.SetLowPass(50.0f);
    TestBuffer buffer(AuChannelConfig::Anonymous(12), 32);
    FillNoise(buffer.buffer, 8);
    const std::vector<f32> before = Samples(buffer.buffer);
    filters.Process(buffer.buffer);
    // Channels past the memory's nine are left as they are.
    const std::vector<f32> after = Samples(buffer.buffer);
    EXPECT_NE(std::vector<f32>(after.begin(), after.begin() + 9 * 32),
              std::vector<f32>(before.begin(), before.begin() + 9 * 32));
    EXPECT_EQ(std::vector<f32>(after.begin() + 9 * 32, after.end()),
              std::vector<f32>(before.begin() + 9 * 32, before.end()));
}

TEST_F(VoiceFiltersTest, InitThatCannotAllocateKeepsNoMemory) {
    // A pool with room for one memory of 120 channels but not two.
    g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 5400, 64, AuPoolAttrMalloc, 16);
    ASSERT_NE(g_LEngineDefaultPoolId, -1);
    CAuVoiceFilters filters;
    EXPECT_EQ(filters.Init(AuChannelConfig::Anonymous(120), 0), AuResultFail);
    EXPECT_EQ(filters.LowPassSection().pMemory, nullptr);
    EXPECT_EQ(filters.HighPassSection().pMemory, nullptr);
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info);
    EXPECT_EQ(info.uUsed, 0u);
    TestBuffer buffer(AuChannelConfig::Anonymous(120), 16);
    filters.SetLowPass(50.0f);
    filters.Process(buffer.buffer); // no memory: nothing happens
    EXPECT_EQ(filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 0), AuResultSuccess);
}
