#include "plugins/AuEffectCommon.h"

#include "EffectTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr u16 kMax = 1024;

struct TailCase {
    const char* name;
    u32 tailLength;
    // Valid frames of the first buffer, which carries state 17 unless `inputRuns`.
    u16 firstValid;
    bool inputRuns;
    // Calls that come back 45 after the input ended, and the frames padded with silence.
    u32 expectedRinging;
    u32 expectedPadded;
};

class EffectTailTable : public testing::TestWithParam<TailCase> {};

TEST_P(EffectTailTable, RingsForTheTailThenStays17) {
    const TailCase& c = GetParam();
    TestBuffer t(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), kMax);
    AuEffectTail tail;
    u32 ringing = 0;
    u32 padded = 0;
    for (u32 call = 0; call < 50; ++call) {
        t.Fill([](u32, u32) { return 0.25f; }, c.inputRuns ? AuResultDataReady : AuResultNoMoreData);
        t.buffer.uValidFrames = call == 0 ? c.firstValid : 0;
        const u16 valid = t.buffer.uValidFrames;
        tail.Process(t.buffer, c.tailLength);
        if (c.inputRuns) {
            EXPECT_EQ(t.buffer.eState, AuResultDataReady);
            EXPECT_EQ(t.buffer.uValidFrames, valid);
            EXPECT_EQ(tail.uRemaining, AU_EFFECT_NO_TAIL);
            continue;
        }
        EXPECT_EQ(t.buffer.uValidFrames, kMax);
        for (u32 ch = 0; ch < 2; ++ch)
            for (u32 i = valid; i < kMax; ++i)
                ASSERT_EQ(t.Channel(ch)[i], 0.0f) << "frame " << i;
        for (u32 i = 0; i < valid; ++i)
            ASSERT_EQ(t.Channel(1)[i], 0.25f);
        padded += kMax - valid;
        if (t.buffer.eState != AuResultDataReady) {
            EXPECT_EQ(t.buffer.eState, AuResultNoMoreData);
            break;
        }
        ++ringing;
    }
    if (c.inputRuns) return;
    EXPECT_EQ(ringing, c.expectedRinging);
    EXPECT_EQ(padded, c.expectedPadded);
    EXPECT_EQ(tail.uRemaining, 0u);
    // Once over, a further 17 buffer stays 17 and leaves the count at 0.
    t.Ended();
    tail.Process(t.buffer, c.tailLength);
    EXPECT_EQ(t.buffer.eState, AuResultNoMoreData);
    EXPECT_EQ(tail.uRemaining, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectTailTable,
    testing::Values(TailCase{"InputRuns", 3000, kMax, true, 0, 0},
                    // A full last buffer, then three padded ones for a tail of 3072.
                    TailCase{"EndedFromFirstCall", 3 * kMax, kMax, false, 3, 3 * kMax},
                    TailCase{"ShortLastBuffer", 3 * kMax, 500, false, 3, 524 + 3 * kMax},
                    // 2500 = 2 x 1024 + 452: the third padded buffer lacks more than remains.
                    TailCase{"TailNotAMultiple", 2500, kMax, false, 3, 3 * kMax},
                    TailCase{"NoTail", 0, kMax, false, 0, 0}),
    [](const testing::TestParamInfo<TailCase>& info) { return info.param.name; });

TEST(EffectTail, DropLargerThanWhatRemainsEndsTheTail) {
    TestBuffer t(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), kMax);
    AuEffectTail tail;
    tail.uRemaining = 100;
    tail.uTailLength = 5000;
    t.Ended();
    tail.Process(t.buffer, 5000);
    EXPECT_EQ(tail.uRemaining, 0u);
    EXPECT_EQ(t.buffer.eState, AuResultNoMoreData);
}

TEST(EffectTail, ALongerTailGrowsTheRunningOneAShorterOneDoesNot) {
    TestBuffer t(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), kMax);
    AuEffectTail tail;
    t.Fill([](u32, u32) { return 0.0f; }, AuResultNoMoreData);
    tail.Process(t.buffer, 4000);
    EXPECT_EQ(tail.uRemaining, 4000u);
    t.Ended();
    tail.Process(t.buffer, 6000);
    EXPECT_EQ(tail.uRemaining, 4000u + 2000u - kMax);
    EXPECT_EQ(tail.uTailLength, 6000u);
    t.Ended();
    tail.Process(t.buffer, 10);
    EXPECT_EQ(tail.uRemaining, 4000u + 2000u - 2 * kMax);
    EXPECT_EQ(tail.uTailLength, 6000u);
}

TEST(EffectTail, InputThatResumesStopsTheTail) {
    TestBuffer t(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), kMax);
    AuEffectTail tail;
    t.Ended();
    tail.Process(t.buffer, 8000);
    EXPECT_NE(tail.uRemaining, AU_EFFECT_NO_TAIL);
    t.Fill([](u32, u32) { return 1.0f; }, AuResultDataNeeded);
    tail.Process(t.buffer, 8000);
    EXPECT_EQ(tail.uRemaining, AU_EFFECT_NO_TAIL);
    EXPECT_EQ(t.buffer.eState, AuResultDataNeeded);
}

TEST(EffectTail, DelaySamplesAreBoundedForBadTimes) {
    EXPECT_EQ(AuDelaySamples(0.5f, 48000), 24000u);
    EXPECT_EQ(AuDelaySamples(-1.0f, 48000), 0u);
    EXPECT_EQ(AuDelaySamples(std::nanf(""), 48000), 0u);
    EXPECT_EQ(AuDelaySamples(1e30f, 48000), 480000u);
    EXPECT_EQ(AuDelaySamples(std::numeric_limits<f32>::infinity(), 192000), 1920000u);
    EXPECT_EQ(AuRoundUp4(489), 492u);
    EXPECT_EQ(AuRoundUp4(480), 480u);
}

} // namespace

namespace {

// The four-frame kernels against the one-frame loops on random input, at every alignment and
// with lengths that leave a remainder.
TEST(EffectKernels, MulAddMatchesTheOneFrameLoop) {
    u32 seed = 99;
    const auto random = [&] {
        seed = seed * 1664525u + 1013904223u;
        return f32(seed >> 8) / 16777216.0f - 0.5f;
    };
    std::vector<f32> src(80), dst(80);
    for (u32 offset = 0; offset < 4; ++offset) {
        for (u32 frames : {0u, 3u, 4u, 13u, 64u, 75u}) {
            for (f32& s : src)
                s = random();
            for (f32& d : dst)
                d = random();
            std::vector<f32> plain = dst, glided = dst, plainGlided = dst;
            const f32 gain = random(), from = random(), step = random() * 0.01f;
            AuMulAdd(dst.data() + offset, src.data() + 1, frames, gain);
            AuMulAddGlide(glided.data() + offset, src.data() + 1, frames, from, step);
            for (u32 i = 0; i < frames; ++i) {
                plain[offset + i] += src[1 + i] * gain;
                plainGlided[offset + i] += src[1 + i] * (from + step * f32(i));
            }
            EXPECT_EQ(dst, plain) << offset << " " << frames;
            EXPECT_EQ(glided, plainGlided) << offset << " " << frames;
        }
    }
}

} // namespace
