#include "plugins/AuRoomReverbEffect.h"

#include "EffectTestSupport.h"

#include <AU/AuEffectPlugins.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

constexpr u32 kRate = kEffectTestRate;
constexpr u16 kMax = kEffectTestFrames;
using Params = CAuRoomReverbEffectParams;
const AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);

bool IsPrime(u32 n) {
    if (n < 2) return false;
    for (u32 d = 2; d * d <= n; ++d)
        if (n % d == 0) return false;
    return true;
}

class RoomReverbEffectTest
    : public EffectFixture<CAuRoomReverbEffect, Params, CreateFx118, CreateFx118Params> {
protected:
    static std::function<f32(u32, u32)> Impulse(u32 channel = 0) {
        return [channel](u32 c, u32 i) { return c == channel && i == 0 ? 1.0f : 0.0f; };
    }
    // Only the network: no dry signal, no early reflections.
    void NetworkOnly() {
        SetF32(m_params, Params::DryLevel, -1000.0f);
        const u8 off = 0;
        EXPECT_EQ(m_params->SetParam(Params::EREnabled, &off, 1), AuResultSuccess);
    }
    static u32 Onset(const std::vector<f32>& samples) {
        return u32(std::find_if(samples.begin(), samples.end(), [](f32 s) { return s != 0.0f; }) -
                   samples.begin());
    }
};

TEST_F(RoomReverbEffectTest, DefaultStructuresAt48kHz) {
    f64 times[32];
    CAuRoomReverbEffect::LineTimes(*m_params, times, false);
    EXPECT_NEAR(std::accumulate(times, times + 32, 0.0) / 32, 41.6, 1e-4) << "mean time";
    EXPECT_NEAR(times[0], 33.28, 1e-4) << "shortest before lengthening";
    CAuRoomReverbEffect::LineTimes(*m_params, times, true);
    EXPECT_LT(times[31], 51.0);
    EXPECT_TRUE(std::is_sorted(times, times + 32));

    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    ASSERT_EQ(m_effect->Density(), 8u);
    EXPECT_FLOAT_EQ(m_effect->BlockNormaliser(), 1.0f / std::sqrt(8.0f));
    u32 previous = 0;
    for (u32 i = 0; i < 32; ++i) {
        const u32 length = m_effect->LineSet(i % 8).lines[i / 8].uLength;
        EXPECT_EQ(length % 2, 1u) << i;
        EXPECT_TRUE(IsPrime(length)) << length;
        EXPECT_NE(length, previous) << i;
        EXPECT_GE(length, u32(times[i] * 48.0)) << i;
        EXPECT_LT(length, 51u * 48u);
        previous = length;
    }
    EXPECT_EQ(m_effect->TailLength(), 58800u) << "(0.025 + 1.2) s";
    EXPECT_EQ(m_effect->PreDelayLine().uLength, 1200u);
    // Pattern 23 starts at 27.75 ms.
    EXPECT_EQ(m_effect->ERLine().uLength, 1332u);
    const AuEarlyReflections& er = m_effect->EarlyReflections();
    EXPECT_EQ(er.uLength % 4, 0u);
    EXPECT_LE(er.uLength, 65535u + AU_REVERB_BLOCK_FRAMES);
    EXPECT_GT(er.auNumTaps[0], 0u);
    EXPECT_LE(er.auNumTaps[0], 63u);
    EXPECT_EQ(er.aauReadPos[0][0], 0u) << "the first tap is the line's own delay";
    EXPECT_EQ(m_effect->RearLine(0).pBuffer, nullptr) << "stereo has no rear pairs";
}

TEST_F(RoomReverbEffectTest, AllpassTimesAndCoefficients) {
    SetF32(m_params, Params::Diffusion, 50.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const f32 expected[4] = {0.0f, 0.0f, 0.61803f, 0.61803f};
    for (u32 i = 0; i < 4; ++i)
        EXPECT_NEAR(m_effect->Allpass(i).fCoef, expected[i], 1e-5f) << i;
    // 4.31, 6.53, 9.9 and 15 ms, each lengthened by up to 5 %.
    const f64 base[4] = {4.3124, 6.534, 9.9, 15.0};
    for (u32 i = 0; i < 4; ++i) {
        const f64 ms = m_effect->Allpass(i).uLength / 48.0;
        EXPECT_GE(ms, base[i] - 0.05) << i;
        EXPECT_LE(ms, base[i] * 1.05 + 0.1) << i;
    }
    SetF32(m_params, Params::Diffusion, 100.0f);
    Run(kStereo, kMax, Impulse());
    for (u32 i = 0; i < 4; ++i)
        EXPECT_NEAR(m_effect->Allpass(i).fCoef, 0.61803f, 1e-5f) << i;
}

// The decay time read off the impulse response's energy decay curve (Schroeder), from -5 to -35 dB.
f64 MeasuredRT60(const std::vector<std::vector<f32>>& out, f64 from, f64 span) {
    std::vector<f64> energy(out[0].size());
    for (const auto& channel : out)
        for (size_t i = 0; i < channel.size(); ++i)
            energy[i] += f64(channel[i]) * channel[i];
    std::vector<f64> remaining(energy.size() + 1, 0.0);
    for (size_t i = energy.size(); i-- > 0;)
        remaining[i] = remaining[i + 1] + energy[i];
    const auto dB = [&](size_t i) { return 10.0 * std::log10(remaining[i] / remaining[0]); };
    size_t at5 = 0, at35 = 0;
    while (dB(at5) > -from)
        ++at5;
    at35 = at5;
    while (dB(at35) > -from - span)
        ++at35;
    return 60.0 / (span / (f64(at35 - at5) / kRate));
}

struct DecayCase {
    f32 decay;
    f32 damping;
    f64 from; // dB below the start where the fit begins; the fit spans 30 dB
    f64 tolerance;
};

class RoomReverbDecay : public RoomReverbEffectTest, public testing::WithParamInterface<DecayCase> {};

TEST_P(RoomReverbDecay, RT60FollowsTheDecayTime) {
    const DecayCase& d = GetParam();
    NetworkOnly();
    SetF32(m_params, Params::DecayTime, d.decay);
    SetF32(m_params, Params::DampingRatio, d.damping);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    // Long enough that what is cut off lies far below the fit.
    const auto out = Run(kStereo, u32(kRate * d.decay * 2.2f), Impulse());
    EXPECT_NEAR(MeasuredRT60(out, d.from, 30.0), d.decay, d.decay * d.tolerance);
}

// A damping ratio of 1 leaves every frequency decaying alike; the default ratio makes the highs
// die sooner, so the broadband decay runs a little short of the decay time, which the lows keep.
INSTANTIATE_TEST_SUITE_P(Times, RoomReverbDecay,
                         testing::Values(DecayCase{0.5f, 1.0f, 5.0, 0.05}, DecayCase{1.2f, 1.0f, 5.0, 0.05},
                                         DecayCase{3.0f, 1.0f, 5.0, 0.05}, DecayCase{0.5f, 2.25f, 10.0, 0.15},
                                         DecayCase{1.2f, 2.25f, 10.0, 0.15},
                                         DecayCase{3.0f, 2.25f, 10.0, 0.15}));

TEST_F(RoomReverbEffectTest, OnsetFollowsThePreDelay) {
    NetworkOnly();
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const auto at25 = Run(kStereo, 4 * kMax, Impulse());
    SetF32(m_params, Params::PreDelay, 60.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const auto at60 = Run(kStereo, 5 * kMax, Impulse());
    EXPECT_GT(Onset(at25[0]), 1200u);
    EXPECT_EQ(Onset(at60[0]), Onset(at25[0]) + 1680u);
    EXPECT_EQ(m_effect->TailLength(), 60480u);
}

TEST_F(RoomReverbEffectTest, ReflectionsArriveAtTheirFirstTap) {
    SetF32(m_params, Params::DryLevel, -1000.0f);
    SetF32(m_params, Params::PreDelay, 200.0f); // the network stays silent meanwhile
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    const auto out = Run(kStereo, 2 * kMax, Impulse());
    EXPECT_EQ(Onset(out[0]), 1332u);
}

TEST_F(RoomReverbEffectTest, FullWidthKeepsTheLeftNetworkOutOfTheRight) {
    NetworkOnly();
    SetU32(m_params, Params::Density, 1); // one set: it feeds only the left output
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    EXPECT_FLOAT_EQ(m_effect->BlockNormaliser(), 1.0f);
    auto out = Run(kStereo, 8 * kMax, Impulse());
    EXPECT_LT(Onset(out[0]), out[0].size());
    EXPECT_EQ(Onset(out[1]), out[1].size()) << "front-right hears nothing of the left network";

    SetF32(m_params, Params::StereoWidth, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    out = Run(kStereo, 8 * kMax, Impulse());
    EXPECT_LT(Onset(out[1]), out[1].size());
    // w = 0.707106 and c = sqrt(1 - w^2) differ in the seventh digit.
    for (size_t i = 0; i < out[0].size(); ++i)
        ASSERT_NEAR(out[0][i], out[1][i], 1e-5f * std::fabs(out[0][i])) << i;
}

struct MaskCase {
    u32 mask;
    bool processed;
};

class RoomReverbRoutines : public RoomReverbEffectTest, public testing::WithParamInterface<MaskCase> {};

TEST_P(RoomReverbRoutines, MaskSelectsARoutineOrLeavesTheBuffer) {
    const MaskCase& mc = GetParam();
    const AuChannelConfig config = AuChannelConfig::Standard(mc.mask);
    SetF32(m_params, Params::LFELevel, 0.0f);
    ASSERT_EQ(Start(config), AuResultSuccess);
    const auto input = [](u32 c, u32 i) { return i == 0 ? f32(c + 1) : 0.0f; };
    const auto out = Run(config, 4 * kMax, input);
    for (u32 c = 0; c < config.NumChannels(); ++c) {
        bool untouched = true;
        for (u32 i = 0; i < out[c].size(); ++i)
            untouched = untouched && out[c][i] == input(c, i);
        EXPECT_EQ(untouched, !mc.processed) << "channel " << c;
        for (f32 s : out[c])
            ASSERT_TRUE(std::isfinite(s));
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, RoomReverbRoutines,
                         testing::Values(MaskCase{0x3, true}, MaskCase{0x4, true}, MaskCase{0x8, true},
                                         MaskCase{0xB, true}, MaskCase{0xC, true}, MaskCase{0x7, true},
                                         MaskCase{0xF, true}, MaskCase{0x603, true}, MaskCase{0x607, true},
                                         MaskCase{0x60B, true}, MaskCase{0x60F, true}, MaskCase{0x633, true},
                                         MaskCase{0x637, true}, MaskCase{0x63B, true}, MaskCase{0x63F, true},
                                         MaskCase{0x6, false}, MaskCase{0x1, false}, MaskCase{0x30, false}),
                         [](const testing::TestParamInfo<MaskCase>& info) {
                             char name[16];
                             snprintf(name, sizeof name, "Mask%X", info.param.mask);
                             return std::string(name);
                         });

TEST_F(RoomReverbEffectTest, RearPairsHearTheReflectionsLaterByTheRearDelay) {
    SetF32(m_params, Params::DryLevel, -1000.0f);
    SetF32(m_params, Params::PreDelay, 300.0f);
    const AuChannelConfig k51 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    ASSERT_EQ(Start(k51), AuResultSuccess);
    EXPECT_EQ(m_effect->RearLine(0).uLength, 1920u);
    const auto out = Run(k51, 4 * kMax, Impulse());
    EXPECT_EQ(Onset(out[0]), 1332u);
    EXPECT_EQ(Onset(out[3]), 1332u + 1920u) << "side-left";
    EXPECT_EQ(Onset(out[2]), out[2].size()) << "no reflections in the centre of a multichannel layout";
}

TEST_F(RoomReverbEffectTest, CentreOnlyWithoutCentreInputStaysFinite) {
    SetF32(m_params, Params::CenterInputLevel, -1000.0f);
    const AuChannelConfig mono = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);
    ASSERT_EQ(Start(mono), AuResultSuccess);
    const auto out = Run(mono, 3 * kMax, [](u32, u32 i) { return i < 100 ? 1.0f : 0.0f; });
    for (u32 i = 0; i < out[0].size(); ++i) {
        ASSERT_TRUE(std::isfinite(out[0][i])) << i;
        ASSERT_FLOAT_EQ(out[0][i], i < 100 ? m_params->m_levels.fDryLevel : 0.0f)
            << "silence feeds the network";
    }
}

TEST_F(RoomReverbEffectTest, BlockOf186Bytes) {
    BlockBytes b(186);
    const f32 head[13] = {2.5f,  1.5f,    70.0f, 90.0f, 3.0f,    200.0f, 0.7f,
                          -3.0f, 2000.0f, 2.0f,  6.0f,  8000.0f, 0.5f};
    for (u32 i = 0; i < 13; ++i)
        b.F32(4 * i, head[i]);
    const f32 levels[6] = {-1.0f, -2.0f, -3.0f, -4.0f, -5.0f, -6.0f};
    for (u32 i = 0; i < 6; ++i)
        b.F32(52 + 4 * i, levels[i]);
    b.F32(76, -7.0f);
    b.U8(80, 0);
    b.U32(81, 12);
    const f32 mid[5] = {15.0f, 20.0f, 30.0f, 60.0f, 40.0f};
    for (u32 i = 0; i < 5; ++i)
        b.F32(85 + 4 * i, mid[i]);
    b.U32(105, 4);
    b.U8(109, 1);
    const u32 filters[6] = {1, 4, 2, 5, 3, 6};
    for (u32 i = 0; i < 6; ++i)
        b.U32(110 + 4 * i, filters[i]);
    b.F32(134, -8.0f);
    b.F32(138, -9.0f);
    for (u32 i = 0; i < 11; ++i)
        b.F32(142 + 4 * i, 100.0f + f32(i));
    ASSERT_EQ(m_params->Init(&m_alloc, b.bytes.data(), 186), AuResultSuccess);

    const AuRoomReverbLevels& a = m_params->m_levels;
    const AuRoomReverbStructure& s = m_params->m_structure;
    EXPECT_FLOAT_EQ(a.fDecayTime, 2.5f);
    EXPECT_FLOAT_EQ(a.fDampingRatio, 1.5f);
    EXPECT_FLOAT_EQ(a.fDiffusion, 70.0f);
    EXPECT_FLOAT_EQ(a.fStereoWidth, 90.0f);
    EXPECT_FLOAT_EQ(a.afFilterFrequency[1], 2000.0f);
    EXPECT_FLOAT_EQ(a.afFilterQ[2], 0.5f);
    EXPECT_FLOAT_EQ(a.afFilterGain[0], 3.0f);
    const f32* gains[6] = {&a.fFrontLevel, &a.fRearLevel, &a.fCenterLevel,
                           &a.fLFELevel,   &a.fDryLevel,  &a.fERLevel};
    for (u32 i = 0; i < 6; ++i)
        EXPECT_NEAR(*gains[i], std::pow(10.0f, levels[i] / 20.0f), 0.003f) << i;
    EXPECT_NEAR(a.fReverbLevel, std::pow(10.0f, -10.0f / 20.0f), 0.002f) << "3 dB below the level passed";
    EXPECT_FALSE(s.bEREnabled);
    EXPECT_EQ(s.uPattern, 12u);
    EXPECT_FLOAT_EQ(s.fPreDelay, 15.0f);
    EXPECT_FLOAT_EQ(s.fERSize, 20.0f);
    EXPECT_FLOAT_EQ(s.fRearDelay, 30.0f);
    EXPECT_FLOAT_EQ(s.fRoomSize, 60.0f);
    EXPECT_FLOAT_EQ(s.fRoomShape, 40.0f);
    EXPECT_EQ(s.uDensity, 4u);
    EXPECT_TRUE(s.bEQEnabled);
    for (u32 k = 0; k < 3; ++k) {
        EXPECT_EQ(s.auFilterPosition[k], filters[2 * k]);
        EXPECT_EQ(s.auFilterType[k], filters[2 * k + 1]);
    }
    EXPECT_NEAR(s.fCenterInputLevel, std::pow(10.0f, -8.0f / 20.0f), 0.002f);
    EXPECT_NEAR(s.fLFEInputLevel, std::pow(10.0f, -9.0f / 20.0f), 0.002f);
    for (u32 i = 0; i < 11; ++i)
        EXPECT_FLOAT_EQ(m_params->m_afTuning[i], 100.0f + f32(i));
    EXPECT_TRUE(m_params->m_bLevelsChanged && m_params->m_bStructureChanged);

    EXPECT_EQ(m_params->SetParamsBlock(b.bytes.data(), 185), AuResultFail);
}

TEST_F(RoomReverbEffectTest, BadValuesAreClampedOrRefused) {
    EXPECT_EQ(m_params->SetParam(Params::DecayTime, nullptr, 4), AuResultInvalidParameter);
    SetU32(m_params, Params::Pattern, 26, AuResultInvalidParameter);
    SetU32(m_params, Params::Pattern, 0xFFFFFFFFu, AuResultInvalidParameter);
    EXPECT_EQ(m_params->m_structure.uPattern, 23u);
    SetF32(m_params, 5, 1.0f);   // not in the table: 1, nothing stored
    SetF32(m_params, 999, 1.0f); // above 110 too
    SetF32(m_params, Params::DecayTime, std::nanf(""), AuResultInvalidParameter);
    SetU32(m_params, Params::Density, 0);
    EXPECT_EQ(m_params->m_structure.uDensity, 1u);
    SetU32(m_params, Params::Density, 1000);
    EXPECT_EQ(m_params->m_structure.uDensity, 32u);

    SetF32(m_params, Params::DecayTime, 0.0f);
    SetF32(m_params, Params::DampingRatio, 0.0f);
    SetF32(m_params, Params::PreDelay, 1e9f);
    SetF32(m_params, Params::RearDelay, -5.0f);
    SetF32(m_params, Params::StereoWidth, 1e6f);
    SetF32(m_params, Params::ERSize, 1e9f);
    SetU32(m_params, Params::Filter1Position + 1, 99); // a type outside the table
    const u8 on = 1;
    EXPECT_EQ(m_params->SetParam(Params::EQEnabled, &on, 1), AuResultSuccess);
    SetF32(m_params, Params::Filter1Position + 4, 0.0f); // Q 0
    for (u16 id = Params::FirstTuning; id <= Params::LastTuning; ++id)
        SetF32(m_params, id, -1e30f);
    const AuChannelConfig k71 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1);
    // A reflection buffer longer than 65535 samples fails the set-up.
    EXPECT_EQ(Start(k71), AuResultFail);
    SetF32(m_params, Params::ERSize, 0.0f);
    ASSERT_EQ(Start(k71), AuResultSuccess);
    EXPECT_EQ(m_effect->PreDelayLine().uLength, 480000u) << "10 s at most";
    EXPECT_EQ(m_effect->TailLength(), 480479u)
        << "10 s and the decay held to 0.01 s (0.00999999978 as a float)";
    const auto out = Run(k71, 3 * kMax, [](u32, u32 i) { return i % 64 == 0 ? 1.0f : 0.0f; });
    for (const auto& channel : out)
        for (f32 s : channel)
            ASSERT_TRUE(std::isfinite(s));
}

TEST_F(RoomReverbEffectTest, StructureChangesRebuildOnlyWhatTheyTouch) {
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    Run(kStereo, 2 * kMax, Impulse());
    const f32* lines = m_effect->LineSet(0).lines[0].pBuffer;
    SetU32(m_params, Params::Pattern, 4);
    Run(kStereo, kMax, Impulse());
    EXPECT_EQ(m_effect->LineSet(0).lines[0].pBuffer, lines) << "a new pattern leaves the network ringing";
    EXPECT_EQ(m_effect->ERLine().uLength, 1092u) << "pattern 4 starts at 22.75 ms";
    SetU32(m_params, Params::Density, 2);
    Run(kStereo, kMax, Impulse());
    EXPECT_EQ(m_effect->Density(), 2u);

    const u8 on = 1, off = 0;
    EXPECT_EQ(m_params->SetParam(Params::EQEnabled, &on, 1), AuResultSuccess);
    SetU32(m_params, Params::Filter1Position, AuReverbFilterOnReflections);
    Run(kStereo, kMax, Impulse());
    EXPECT_EQ(m_effect->NumFilterSlots(), 4u) << "two for the reflections, one each for the others";
    EXPECT_EQ(m_params->SetParam(Params::EREnabled, &off, 1), AuResultSuccess);
    Run(kStereo, kMax, Impulse());
    EXPECT_EQ(m_effect->NumFilterSlots(), 2u) << "without reflections their filter takes no slot";
    EXPECT_EQ(m_effect->ERLine().pBuffer, nullptr);
    EXPECT_EQ(m_effect->EarlyReflections().pBuffer, nullptr);
    SetU32(m_params, Params::Filter1Position + 5, 9); // a position outside the table: off
    Run(kStereo, kMax, Impulse());
    EXPECT_EQ(m_effect->NumFilterSlots(), 1u);
}

TEST_F(RoomReverbEffectTest, FailuresReturn52AndLeaveEverythingForTerm) {
    u32 failed = 0;
    for (int granted = 1; granted < 60; granted += 3) {
        m_alloc.FailAfter(granted);
        const AURESULT result = Start(kStereo);
        m_alloc.FailAfter(-1);
        EXPECT_TRUE(result == AuResultNoMemory || result == AuResultSuccess) << granted;
        failed += result == AuResultNoMemory;
    }
    EXPECT_GT(failed, 10u);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    SetU32(m_params, Params::Density, 3);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32) { return 0.5f; });
    m_alloc.FailAfter(0);
    m_effect->Execute(t.buffer);
    m_alloc.FailAfter(-1);
    EXPECT_EQ(t.Channel(0)[10], 0.5f) << "a failed rebuild skips the buffer";
    EXPECT_TRUE(m_params->m_bStructureChanged);
    m_effect->Execute(t.buffer);
    EXPECT_EQ(m_effect->Density(), 3u);
}

TEST_F(RoomReverbEffectTest, CloneRaisesBothFlagsAndRingsOut) {
    auto* copy = static_cast<Params*>(m_params->Clone(&m_alloc));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->m_bLevelsChanged && copy->m_bStructureChanged);
    copy->Term(&m_alloc);

    SetF32(m_params, Params::DecayTime, 0.1f);
    SetF32(m_params, Params::PreDelay, 0.0f);
    ASSERT_EQ(Start(kStereo), AuResultSuccess);
    TestBuffer t(kStereo, kMax);
    t.Fill([](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; }, AuResultNoMoreData);
    m_effect->Execute(t.buffer);
    u32 calls = 1;
    while (t.buffer.eState == AuResultDataReady && calls < 100) {
        t.Ended();
        m_effect->Execute(t.buffer);
        ++calls;
    }
    EXPECT_EQ(calls, (4800u + kMax - 1) / kMax + 1);
}

} // namespace
