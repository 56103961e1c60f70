#include "plugins/AuDelayEffect.h"

#include "EffectTestSupport.h"

#include <AU/AuEffectPlugins.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr u32 kRate = kEffectTestRate;
constexpr u16 kMax = kEffectTestFrames;
const AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
const AuChannelConfig k21 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO | AU_SPEAKER_LOW_FREQUENCY);

class DelayEffectTest
    : public EffectFixture<CAuDelayEffect, CAuDelayEffectParams, CreateFx106, CreateFx106Params> {
protected:
    // The output of `frames` frames of channel `channel`, fed by an impulse at frame 0 on every channel.
    std::vector<f32> Impulse(AuChannelConfig config, u32 frames, u32 channel = 0) {
        return Run(config, frames, [](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; })[channel];
    }
};

TEST_F(DelayEffectTest, ImpulseEchoesEveryLineLengthWithFeedback) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.25f);
    SetF32(m_params, CAuDelayEffectParams::Feedback, 50.0f);
    SetF32(m_params, CAuDelayEffectParams::FeedbackEnabled, 1.0f);
    SetF32(m_params, CAuDelayEffectParams::WetDryMix, 40.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const u32 L = 12000;
    ASSERT_EQ(m_effect->Lines().uLength, L);
    const std::vector<f32> out = Impulse(kStereo, 4 * L + kMax);
    const f32 w = 0.4f, g = m_params->m_fOutputGain, f = 0.5f;
    EXPECT_NEAR(out[0], (1 - w) * g, 1e-6f);
    for (u32 k = 1; k <= 4; ++k)
        EXPECT_NEAR(out[k * L], w * g * std::pow(f, f32(k - 1)), 1e-6f) << "echo " << k;
    for (u32 i = 1; i < out.size(); ++i)
        if (i % L) {
            ASSERT_EQ(out[i], 0.0f) << "frame " << i;
        }
}

// The four-frame walk against the one-frame formulas, on noise, across glides and a line that
// wraps inside a buffer.
TEST_F(DelayEffectTest, MatchesTheOneFrameModelOnNoise) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.0103f); // 494.4 -> 496 samples
    SetF32(m_params, CAuDelayEffectParams::Feedback, 40.0f);
    SetF32(m_params, CAuDelayEffectParams::FeedbackEnabled, 1.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const u32 L = 496;
    ASSERT_EQ(m_effect->Lines().uLength, L);
    std::vector<f32> line(L, 0.0f);
    u32 pos = 0;
    f32 prevF = m_params->m_fFeedback, prevW = m_params->m_fWetDryMix, prevG = m_params->m_fOutputGain;
    u32 seed = 7;
    TestBuffer t(kStereo, kMax);
    for (u32 call = 0; call < 4; ++call) {
        if (call == 1) SetF32(m_params, CAuDelayEffectParams::WetDryMix, 80.0f);
        if (call == 2) SetF32(m_params, CAuDelayEffectParams::Feedback, 70.0f);
        if (call == 3) SetF32(m_params, CAuDelayEffectParams::OutputLevel, -6.0f);
        std::vector<f32> input(kMax);
        for (f32& x : input) {
            seed = seed * 1664525u + 1013904223u;
            x = f32(seed >> 8) / 16777216.0f - 0.5f;
        }
        t.Fill([&](u32, u32 i) { return input[i]; });
        t.buffer.uValidFrames = call == 2 ? 1021 : kMax; // a run that ends off the four-frame grid
        const u32 n = t.buffer.uValidFrames;
        m_effect->Execute(t.buffer);
        const f32 f = m_params->m_fFeedback, w = m_params->m_fWetDryMix, g = m_params->m_fOutputGain;
        const f32 sf = (f - prevF) / f32(n), sw = (w - prevW) / f32(n), sg = (g - prevG) / f32(n);
        for (u32 i = 0; i < n; ++i) {
            const f32 index = f32(i);
            const f32 fi = prevF + sf * index, wi = prevW + sw * index, gi = prevG + sg * index;
            const f32 x = input[i], d = line[pos];
            const f32 expected = (x * (1.0f - wi) + d * wi) * gi;
            line[pos] = x + d * fi;
            if (++pos == L) pos = 0;
            ASSERT_EQ(t.Channel(0)[i], expected) << "call " << call << " frame " << i;
            ASSERT_EQ(t.Channel(1)[i], expected) << "call " << call << " frame " << i;
        }
        prevF = f, prevW = w, prevG = g;
    }
}

TEST_F(DelayEffectTest, LineLengthIsTheTruncatedTimeRoundedUpToFour) {
    const struct {
        f32 seconds;
        u32 length;
    } cases[] = {{0.5f, 24000}, {0.0102f, 492}, {0.001f, 48}, {0.00002f, 0}, {-3.0f, 0}, {1e9f, 480000}};
    for (const auto& c : cases) {
        SetF32(m_params, CAuDelayEffectParams::DelayTime, c.seconds);
        ASSERT_EQ(Start(kStereo), AuResultSuccess);
        EXPECT_EQ(m_effect->Lines().uLength, c.length) << c.seconds;
        EXPECT_EQ(m_effect->Lines().uLength % 4, 0u);
        if (c.length > 0 && c.length < 4 * kMax) {
            const std::vector<f32> out = Impulse(kStereo, c.length + kMax);
            EXPECT_NE(out[c.length], 0.0f);
            EXPECT_EQ(out[c.length - 1], 0.0f);
        }
        m_effect->Term(&m_alloc);
        m_effect = nullptr;
    }
}

TEST_F(DelayEffectTest, DelayBelowOneSamplePassesTheBufferThrough) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.00001f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32 c, u32 i) { return f32(c + 1) * f32(i % 7); });
    m_effect->Execute(t.buffer);
    for (u32 i = 0; i < kMax; ++i)
        ASSERT_EQ(t.Channel(1)[i], 2.0f * f32(i % 7));
}

TEST_F(DelayEffectTest, TailLengths) {
    const struct {
        f32 feedbackPercent;
        bool enabled;
        u32 tail;
    } cases[] = {{50.0f, true, 239178},
                 {50.0f, false, 24000},
                 {0.0f, true, 24000},
                 {100.0f, true, 2400000},
                 {-50.0f, true, 2400000}};
    for (const auto& c : cases) {
        SetF32(m_params, CAuDelayEffectParams::Feedback, c.feedbackPercent);
        SetF32(m_params, CAuDelayEffectParams::FeedbackEnabled, c.enabled ? 1.0f : 0.0f);
        ASSERT_EQ(Start(kStereo), AuResultSuccess);
        EXPECT_EQ(m_effect->Lines().uTailLength, c.tail) << c.feedbackPercent;
        m_effect->Term(&m_alloc);
        m_effect = nullptr;
    }
}

TEST_F(DelayEffectTest, FeedbackDisabledGivesOneEchoAndLaterEnablingRestoresTheSetFeedback) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.01f);
    SetF32(m_params, CAuDelayEffectParams::Feedback, 50.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    std::vector<f32> out = Impulse(kStereo, 3 * kMax);
    EXPECT_GT(out[480], 0.0f);
    EXPECT_EQ(out[960], 0.0f);
    SetF32(m_params, CAuDelayEffectParams::FeedbackEnabled, 1.0f);
    EXPECT_FLOAT_EQ(m_params->m_fFeedback, 0.5f);
    Impulse(kStereo, 2 * kMax); // the glide to the new feedback
    out = Impulse(kStereo, 3 * kMax);
    EXPECT_NEAR(out[960], out[480] * 0.5f, 1e-6f);
}

TEST_F(DelayEffectTest, TwoPointOneWithoutLFEProcessing) {
    const u8 off = 0;
    ASSERT_EQ(m_params->SetParam(CAuDelayEffectParams::ProcessLFE, &off, 1), AuResultSuccess);
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.01f);
    for (bool sendMode : {false, true}) {
        ASSERT_EQ(Start(k21, sendMode), AuResultSuccess);
        EXPECT_EQ(m_effect->Lines().uNumLines, 2u);
        TestBuffer t(k21, kMax);
        t.Fill([](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
        m_effect->Execute(t.buffer);
        for (u32 c = 0; c < 2; ++c)
            EXPECT_GT(t.Channel(c)[480], 0.4f) << "front channel " << c << " delayed";
        EXPECT_EQ(t.Channel(2)[0], sendMode ? 0.0f : 1.0f) << "LFE, send mode " << sendMode;
        for (u32 i = 1; i < kMax; ++i)
            ASSERT_EQ(t.Channel(2)[i], 0.0f);
        // In send mode the dry signal is gone from the fronts too.
        EXPECT_EQ(t.Channel(0)[0] == 0.0f, sendMode);
        m_effect->Term(&m_alloc);
        m_effect = nullptr;
    }
}

TEST_F(DelayEffectTest, WetChangeGlidesAcrossOneBuffer) {
    SetF32(m_params, CAuDelayEffectParams::WetDryMix, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    SetF32(m_params, CAuDelayEffectParams::WetDryMix, 100.0f);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32) { return 1.0f; });
    m_effect->Execute(t.buffer);
    const f32 g = m_params->m_fOutputGain;
    EXPECT_FLOAT_EQ(t.Channel(0)[0], g) << "fully dry";
    EXPECT_NEAR(t.Channel(0)[kMax - 1], g / kMax, 1e-6f) << "one step short of fully wet";
    t.Fill([](u32, u32) { return 1.0f; });
    m_effect->Execute(t.buffer);
    EXPECT_EQ(t.Channel(0)[0], 0.0f) << "the lines are still silent: only the delayed signal";
}

TEST_F(DelayEffectTest, BlockOf18BytesAndAShortBlock) {
    BlockBytes b(18);
    b.F32(0, 0.25f);
    b.F32(4, 30.0f);
    b.F32(8, 75.0f);
    b.F32(12, -6.0f);
    b.U8(16, 1);
    b.U8(17, 0);
    ASSERT_EQ(m_params->Init(&m_alloc, b.bytes.data(), 18), AuResultSuccess);
    EXPECT_FLOAT_EQ(m_params->m_fDelayTime, 0.25f);
    EXPECT_FLOAT_EQ(m_params->m_fFeedback, 0.3f);
    EXPECT_FLOAT_EQ(m_params->m_fWetDryMix, 0.75f);
    EXPECT_NEAR(m_params->m_fOutputGain, 0.501f, 0.002f);
    EXPECT_TRUE(m_params->m_bFeedbackEnabled);
    EXPECT_FALSE(m_params->m_bProcessLFE);
    EXPECT_TRUE(m_params->m_bFeedbackChanged && m_params->m_bDelayLineChanged);

    BlockBytes shortBlock(17);
    shortBlock.F32(0, 2.0f);
    EXPECT_EQ(m_params->SetParamsBlock(shortBlock.bytes.data(), 17), AuResultFail);
    EXPECT_FLOAT_EQ(m_params->m_fDelayTime, 0.25f);
}

TEST_F(DelayEffectTest, BadParameterValuesAreRefused) {
    EXPECT_EQ(m_params->SetParam(CAuDelayEffectParams::DelayTime, nullptr, 4), AuResultInvalidParameter);
    SetF32(m_params, 6, 1.0f, AuResultInvalidParameter);
    SetF32(m_params, CAuDelayEffectParams::Feedback, std::nanf(""), AuResultInvalidParameter);
    SetF32(m_params, CAuDelayEffectParams::OutputLevel, std::numeric_limits<f32>::infinity(),
           AuResultInvalidParameter);
    EXPECT_FLOAT_EQ(m_params->m_fFeedback, 0.0f);
    EXPECT_FLOAT_EQ(m_params->m_fDelayTime, 0.5f);
}

TEST_F(DelayEffectTest, CloneRaisesEveryFlag) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.3f);
    m_params->m_bFeedbackChanged = m_params->m_bDelayLineChanged = false;
    auto* copy = static_cast<CAuDelayEffectParams*>(m_params->Clone(&m_alloc));
    ASSERT_NE(copy, nullptr);
    EXPECT_FLOAT_EQ(copy->m_fDelayTime, 0.3f);
    EXPECT_TRUE(copy->m_bFeedbackChanged && copy->m_bDelayLineChanged);
    copy->Term(&m_alloc);
    m_alloc.FailAfter(0);
    EXPECT_EQ(m_params->Clone(&m_alloc), nullptr);
}

TEST_F(DelayEffectTest, AllocationFailuresReturn52AndTermFreesWhatWasMade) {
    for (int granted = 0; granted < 3; ++granted) {
        m_alloc.FailAfter(granted + 1); // the object itself, then the array and lines
        EXPECT_EQ(Start(kStereo), AuResultNoMemory) << granted;
        m_alloc.FailAfter(-1);
        m_effect->Term(&m_alloc);
        m_effect = nullptr;
    }
}

TEST_F(DelayEffectTest, DelayChangeRebuildsAtTheNextBufferAndRetriesAfterAFailure) {
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.01f);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32) { return 0.5f; });
    m_alloc.FailAfter(0);
    m_effect->Execute(t.buffer);
    EXPECT_EQ(t.Channel(0)[7], 0.5f) << "unprocessed";
    EXPECT_TRUE(m_params->m_bDelayLineChanged);
    m_alloc.FailAfter(-1);
    m_effect->Execute(t.buffer);
    EXPECT_FALSE(m_params->m_bDelayLineChanged);
    EXPECT_EQ(m_effect->Lines().uLength, 480u);
}

TEST_F(DelayEffectTest, FrameInterface) {
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    AuPluginInfo info;
    EXPECT_EQ(m_effect->GetPluginInfo(info), AuResultSuccess);
    EXPECT_EQ(info.eType, AuPluginTypeEffect);
    EXPECT_TRUE(info.bIsInPlace);
    EXPECT_FALSE(info.bRefused);
    EXPECT_EQ(m_effect->TimeSkip(1024), AuResultDataReady);
}

TEST_F(DelayEffectTest, RingsOutThenReports17) {
    SetF32(m_params, CAuDelayEffectParams::DelayTime, 0.01f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32 i) { return i == kMax - 1 ? 1.0f : 0.0f; }, AuResultNoMoreData);
    m_effect->Execute(t.buffer);
    EXPECT_EQ(t.buffer.eState, AuResultDataReady);
    t.Ended();
    m_effect->Execute(t.buffer);
    EXPECT_EQ(t.buffer.eState, AuResultNoMoreData) << "480 tail frames fit in one buffer";
    EXPECT_GT(t.Channel(0)[479], 0.0f) << "the echo of the last input frame";
}

} // namespace
