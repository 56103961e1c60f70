#include "plugins/AuStereoDelayEffect.h"

#include "EffectTestSupport.h"

#include <AU/AuEffectPlugins.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr u32 kRate = kEffectTestRate;
constexpr u16 kMax = kEffectTestFrames;
using Params = CAuStereoDelayEffectParams;
const AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
const AuChannelConfig k51 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
const AuChannelConfig k71 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1);

class StereoDelayEffectTest
    : public EffectFixture<CAuStereoDelayEffect, Params, CreateFx135, CreateFx135Params> {
protected:
    static u32 FirstNonZeroAfter(const std::vector<f32>& samples, u32 from) {
        for (u32 i = from; i < samples.size(); ++i)
            if (samples[i] != 0.0f) return i;
        return u32(samples.size());
    }
};

TEST_F(StereoDelayEffectTest, LeftEchoCrossesToTheRightWithCrossFeedback) {
    SetF32(m_params, Params::LeftDelayTime, 0.1f);
    SetF32(m_params, Params::RightDelayTime, 0.15f);
    SetF32(m_params, Params::CrossFeedbackEnabled, 1.0f);
    SetF32(m_params, Params::LeftToRight, -6.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const u32 Ll = 4800, Lr = 7200;
    EXPECT_EQ(m_effect->Unit(0).left.uLength, Ll);
    EXPECT_EQ(m_effect->Unit(0).right.uLength, Lr);
    const auto out =
        Run(kStereo, Ll + Lr + kMax, [](u32 c, u32 i) { return c == 0 && i == 0 ? 1.0f : 0.0f; });
    const f32 wet = m_params->m_values.fWetLevel, dry = m_params->m_values.fDryLevel;
    EXPECT_FLOAT_EQ(out[0][0], dry);
    EXPECT_EQ(FirstNonZeroAfter(out[0], 1), Ll);
    EXPECT_FLOAT_EQ(out[0][Ll], wet);
    EXPECT_EQ(FirstNonZeroAfter(out[1], 0), Ll + Lr);
    EXPECT_NEAR(out[1][Ll + Lr], wet * m_params->m_values.fLeftToRight, 1e-6f);

    // Without cross-feedback nothing reaches the right.
    SetF32(m_params, Params::CrossFeedbackEnabled, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const auto alone =
        Run(kStereo, Ll + Lr + kMax, [](u32 c, u32 i) { return c == 0 && i == 0 ? 1.0f : 0.0f; });
    EXPECT_EQ(FirstNonZeroAfter(alone[1], 0), alone[1].size());
}

struct RoutingCase {
    const char* name;
    AuChannelConfig config;
    u32 channel;
    // The channel the echo reaches, or -1 when the channel gets only the dry gain.
    int echoOn;
};

class StereoDelayRouting : public StereoDelayEffectTest, public testing::WithParamInterface<RoutingCase> {};

TEST_P(StereoDelayRouting, WhichUnitDelaysEachChannel) {
    const RoutingCase& rc = GetParam();
    SetF32(m_params, Params::LeftDelayTime, 0.05f);
    SetF32(m_params, Params::RightDelayTime, 0.05f);
    SetF32(m_params, Params::DryLevel, -6.0f);
    ASSERT_EQ(Start(rc.config), AuResultSuccess);
    const auto out =
        Run(rc.config, 3 * kMax, [&](u32 c, u32 i) { return c == rc.channel && i == 0 ? 1.0f : 0.0f; });
    const f32 dry = m_params->m_values.fDryLevel;
    EXPECT_FLOAT_EQ(out[rc.channel][0], dry) << "the dry gain";
    for (u32 c = 0; c < rc.config.NumChannels(); ++c) {
        const bool echoes = FirstNonZeroAfter(out[c], 1) == 2400;
        EXPECT_EQ(echoes, int(c) == rc.echoOn) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, StereoDelayRouting,
    testing::Values(RoutingCase{"FiveOneFrontLeft", k51, 0, 0}, RoutingCase{"FiveOneFrontRight", k51, 1, 1},
                    RoutingCase{"FiveOneCentre", k51, 2, -1}, RoutingCase{"FiveOneSideLeft", k51, 3, 3},
                    RoutingCase{"FiveOneSideRight", k51, 4, 4}, RoutingCase{"FiveOneLFE", k51, 5, -1},
                    RoutingCase{"SevenOneCentre", k71, 2, -1}, RoutingCase{"SevenOneBackLeft", k71, 3, 3},
                    RoutingCase{"SevenOneBackRight", k71, 4, 4}, RoutingCase{"SevenOneSideLeft", k71, 5, 5},
                    RoutingCase{"SevenOneSideRight", k71, 6, 6}, RoutingCase{"SevenOneLFE", k71, 7, -1}),
    [](const testing::TestParamInfo<RoutingCase>& info) { return info.param.name; });

TEST_F(StereoDelayEffectTest, CentreOnlyFeedsBothLinesAndTakesBothBack) {
    const AuChannelConfig mono = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);
    SetF32(m_params, Params::LeftDelayTime, 0.05f);
    SetF32(m_params, Params::RightDelayTime, 0.1f);
    ASSERT_EQ(Start(mono), AuResultSuccess);
    const auto out = Run(mono, 6 * kMax, [](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
    const f32 wet = m_params->m_values.fWetLevel;
    EXPECT_FLOAT_EQ(out[0][2400], wet);
    EXPECT_FLOAT_EQ(out[0][4800], wet);
}

TEST_F(StereoDelayEffectTest, BalanceGains) {
    const struct {
        f32 balance, front, rear;
    } cases[] = {{-100.0f, 1.0f, 0.0f}, {0.0f, 0.70710677f, 0.70710677f}, {100.0f, 0.0f, 1.0f}};
    for (const auto& c : cases) {
        SetF32(m_params, Params::Balance, c.balance);
        SetF32(m_params, Params::LeftDelayTime, 0.05f);
        ASSERT_EQ(Start(k51), AuResultSuccess);
        const auto out =
            Run(k51, 3 * kMax, [](u32 ch, u32 i) { return (ch == 0 || ch == 3) && i == 0 ? 1.0f : 0.0f; });
        const f32 wet = m_params->m_values.fWetLevel;
        EXPECT_NEAR(out[0][2400], wet * c.front, 1e-6f) << c.balance;
        EXPECT_NEAR(out[3][2400], wet * c.rear, 1e-6f) << c.balance;
    }
}

TEST_F(StereoDelayEffectTest, DelayOfZeroIsRaisedToOneBuffer) {
    SetF32(m_params, Params::LeftDelayTime, 0.0f);
    SetF32(m_params, Params::RightDelayTime, -4.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->Unit(0).left.uLength, kMax);
    EXPECT_EQ(m_effect->Unit(0).right.uLength, kMax);
    const auto out = Run(kStereo, 3 * kMax, [](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
    EXPECT_EQ(FirstNonZeroAfter(out[0], 1), kMax);
    EXPECT_EQ(FirstNonZeroAfter(out[1], 1), kMax);
}

TEST_F(StereoDelayEffectTest, LowPassFeedLowersTheEchoHighBand) {
    SetF32(m_params, Params::LeftDelayTime, 0.05f);
    SetF32(m_params, Params::DryLevel, -200.0f);
    const auto echoHighBand = [&](f32 filterType) {
        SetF32(m_params, Params::FilterType, filterType);
        SetF32(m_params, Params::FilterFrequency, 1000.0f);
        EXPECT_EQ(Start(kStereo), AuResultSuccess);
        u32 noise = 12345;
        const auto out = Run(kStereo, 4 * kMax, [&](u32 c, u32) {
            noise = noise * 1664525u + 1013904223u;
            return c == 0 ? f32(noise >> 8) / f32(1 << 24) - 0.5f : 0.0f;
        });
        f64 energy = 0;
        for (u32 i = 2401; i < 4 * kMax; ++i)
            energy += std::pow(out[0][i] - out[0][i - 1], 2.0);
        return energy;
    };
    const f64 plain = echoHighBand(0.0f);
    const f64 lowPassed = echoHighBand(4.0f); // the equaliser's low pass
    EXPECT_GT(plain, 0.0);
    EXPECT_LT(lowPassed, plain * 0.05);
    // A type past the table designs a pass-through.
    EXPECT_NEAR(echoHighBand(8.0f), plain, plain * 1e-4);
}

TEST_F(StereoDelayEffectTest, TailLengths) {
    SetF32(m_params, Params::FeedbackEnabled, 1.0f);
    SetF32(m_params, Params::LeftFeedback, -12.04f);
    SetF32(m_params, Params::RightFeedback, -12.04f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_NEAR(m_effect->TailLength() / f64(kRate), 0.5 * 60.0 / 12.04, 0.003);

    SetF32(m_params, Params::FeedbackEnabled, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->TailLength(), 24000u) << "the longer delay";

    SetF32(m_params, Params::FeedbackEnabled, 1.0f);
    SetF32(m_params, Params::LeftFeedback, 0.0f);
    SetF32(m_params, Params::CrossFeedbackEnabled, 1.0f);
    SetF32(m_params, Params::LeftToRight, 0.0f);
    SetF32(m_params, Params::RightToLeft, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->TailLength(), 60u * kRate) << "limited to 60 s";

    SetF32(m_params, Params::LeftFeedback, -200.0f);
    SetF32(m_params, Params::RightFeedback, -200.0f);
    SetF32(m_params, Params::CrossFeedbackEnabled, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->TailLength(), 24000u) << "the first echo is always heard out";
}

TEST_F(StereoDelayEffectTest, TailChangeAtExecuteAndRingOut) {
    SetF32(m_params, Params::LeftDelayTime, 0.025f);
    SetF32(m_params, Params::RightDelayTime, 0.025f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->TailLength(), 1200u);
    SetF32(m_params, Params::RightDelayTime, 0.05f);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; }, AuResultNoMoreData);
    m_effect->Execute(t.buffer);
    EXPECT_EQ(m_effect->TailLength(), 2400u);
    EXPECT_EQ(m_effect->Unit(0).right.uLength, 2400u);
    u32 calls = 0;
    while (t.buffer.eState == AuResultDataReady && calls < 10) {
        t.Ended();
        m_effect->Execute(t.buffer);
        ++calls;
    }
    EXPECT_EQ(calls, 3u);
    EXPECT_EQ(t.buffer.eState, AuResultNoMoreData);
}

TEST_F(StereoDelayEffectTest, InputModes) {
    const struct {
        u32 mode;
        f32 expected; // the left echo, fed by 1.0 on front-left and 0.5 on the centre
    } cases[] = {{0, 1.0f}, {1, 0.5f}, {2, 1.5f * 0.707f}, {3, 0.0f}, {9, 0.0f}};
    const AuChannelConfig three = AuChannelConfig::Standard(0x7);
    for (const auto& c : cases) {
        SetU32(m_params, Params::LeftInput, c.mode);
        SetF32(m_params, Params::LeftDelayTime, 0.05f);
        ASSERT_EQ(Start(three), AuResultSuccess);
        const auto out = Run(three, 3 * kMax, [](u32 ch, u32 i) {
            return i == 0 ? (ch == 0 ? 1.0f : ch == 2 ? 0.5f : 0.0f) : 0.0f;
        });
        EXPECT_NEAR(out[0][2400], c.expected * m_params->m_values.fWetLevel, 1e-6f) << "mode " << c.mode;
    }
}

TEST_F(StereoDelayEffectTest, SendModeSilencesDryAndLFE) {
    SetF32(m_params, Params::LeftDelayTime, 0.05f);
    ASSERT_EQ(Start(k51, true), AuResultSuccess);
    const auto out = Run(k51, 3 * kMax, [](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
    for (u32 c = 0; c < 6; ++c)
        EXPECT_EQ(out[c][0], 0.0f) << c;
    EXPECT_NE(out[0][2400], 0.0f);
}

TEST_F(StereoDelayEffectTest, BlockOf62BytesAndAShortBlock) {
    BlockBytes b(62);
    b.U32(0, 2);
    b.F32(4, 0.3f);
    b.F32(8, -6.0f);
    b.F32(12, -20.0f);
    b.U32(16, 1);
    b.F32(20, 0.4f);
    b.F32(24, -3.0f);
    b.F32(28, -40.0f);
    b.U32(32, 4);
    b.F32(36, 3.0f);
    b.F32(40, 2500.0f);
    b.F32(44, 0.7f);
    b.F32(48, -1.0f);
    b.F32(52, -2.0f);
    b.F32(56, 25.0f);
    b.U8(60, 1);
    b.U8(61, 1);
    m_params->LowerAll();
    ASSERT_EQ(m_params->Init(&m_alloc, b.bytes.data(), 62), AuResultSuccess);
    const AuStereoDelayValues& v = m_params->m_values;
    EXPECT_EQ(v.uLeftInput, 2u);
    EXPECT_FLOAT_EQ(v.fLeftDelayTime, 0.3f);
    EXPECT_NEAR(v.fLeftFeedback, 0.501f, 0.002f);
    EXPECT_NEAR(v.fLeftToRight, 0.1f, 0.0005f);
    EXPECT_EQ(v.uRightInput, 1u);
    EXPECT_FLOAT_EQ(v.fRightDelayTime, 0.4f);
    EXPECT_NEAR(v.fRightFeedback, 0.708f, 0.002f);
    EXPECT_NEAR(v.fRightToLeft, 0.01f, 0.0001f);
    EXPECT_EQ(v.iFilterType, 4);
    EXPECT_FLOAT_EQ(v.fFilterGain, 3.0f);
    EXPECT_FLOAT_EQ(v.fFilterFrequency, 2500.0f);
    EXPECT_FLOAT_EQ(v.fFilterQ, 0.7f);
    EXPECT_NEAR(v.fDryLevel, 0.891f, 0.002f);
    EXPECT_NEAR(v.fWetLevel, 0.794f, 0.003f);
    EXPECT_FLOAT_EQ(v.fBalance, 25.0f);
    EXPECT_TRUE(v.bFeedbackEnabled && v.bCrossFeedbackEnabled);
    for (u32 id = 0; id < Params::NumParams; ++id)
        EXPECT_TRUE(m_params->Changed(id)) << id;

    EXPECT_EQ(m_params->SetParamsBlock(b.bytes.data(), 61), AuResultFail);
    BlockBytes other(62);
    EXPECT_EQ(m_params->SetParamsBlock(other.bytes.data(), 61), AuResultFail);
    EXPECT_FLOAT_EQ(m_params->m_values.fLeftDelayTime, 0.3f);
}

TEST_F(StereoDelayEffectTest, BadParameterValues) {
    EXPECT_EQ(m_params->SetParam(Params::LeftDelayTime, nullptr, 4), AuResultInvalidParameter);
    SetF32(m_params, 17, 1.0f, AuResultInvalidParameter);
    SetF32(m_params, Params::LeftFeedback, std::nanf(""), AuResultInvalidParameter);
    SetF32(m_params, Params::Balance, std::numeric_limits<f32>::infinity(), AuResultInvalidParameter);
    SetF32(m_params, Params::FilterType, 3e9f);
    EXPECT_EQ(m_params->m_values.iFilterType, 8);
    SetF32(m_params, Params::LeftDelayTime, 1e12f);
    SetF32(m_params, Params::Balance, 500.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_EQ(m_effect->Unit(0).left.uLength, 480000u) << "10 s at most";
    const auto out =
        Run(AuChannelConfig::Standard(0x33), 2 * kMax, [](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
    for (const auto& channel : out)
        for (f32 s : channel)
            ASSERT_TRUE(std::isfinite(s));
}

TEST_F(StereoDelayEffectTest, CloneRaisesEveryBitAndFailuresAreReported) {
    m_params->LowerAll();
    auto* copy = static_cast<Params*>(m_params->Clone(&m_alloc));
    ASSERT_NE(copy, nullptr);
    for (u32 id = 0; id < Params::NumParams; ++id)
        EXPECT_TRUE(copy->Changed(id));
    copy->Term(&m_alloc);

    for (int granted = 1; granted < 7; ++granted) {
        m_alloc.FailAfter(granted);
        EXPECT_EQ(Start(kStereo), AuResultNoMemory) << granted;
        m_alloc.FailAfter(-1);
    }
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32) { return 0.25f; });
    m_alloc.FailAfter(0);
    m_effect->Execute(t.buffer);
    m_alloc.FailAfter(-1);
    EXPECT_EQ(t.Channel(1)[100], 0.25f) << "no work block: the buffer passes unprocessed";
}

} // namespace
