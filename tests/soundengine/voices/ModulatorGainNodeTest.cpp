#include "voices/AuModulatorGainNode.h"
#include "voices/AuPlaybackInstance.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using voicetest::TestBuffer;

// Targets handed out as the test set them.
class FakeModulators final : public IAuModulatorList {
public:
    void CountTargets(u64 mask, u32& sampleRate, u32& frameRate) noexcept override {
        lastMask = mask;
        sampleRate = static_cast<u32>(sample.size());
        frameRate = static_cast<u32>(frame.size());
    }
    f32 CurrentGain(u64) noexcept override { return current; }
    void FillTargets(u64, AuModulatorSampleTarget* s, AuModulatorFrameTarget* f) noexcept override {
        for (size_t i = 0; i < sample.size(); ++i)
            s[i] = sample[i];
        for (size_t i = 0; i < frame.size(); ++i)
            f[i] = frame[i];
    }

    std::vector<AuModulatorSampleTarget> sample;
    std::vector<AuModulatorFrameTarget> frame;
    f32 current = 1.0f;
    u64 lastMask = 0;
};

class ModulatorGainNodeTest : public testing::Test {
protected:
    std::unique_ptr<CAuPlaybackInstance> MakeInstance(bool motion) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        params.bMotion = motion;
        return std::make_unique<CAuPlaybackInstance>(params);
    }
};

constexpr AuChannelConfig k51() {
    return AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
}

TEST_F(ModulatorGainNodeTest, WithoutModulatorsTheBufferIsUnchanged) {
    auto instance = MakeInstance(false);
    CAuModulatorGainNode node;
    ASSERT_EQ(node.Init(instance.get()), AuResultSuccess);
    TestBuffer buffer(k51(), 64);
    for (u32 c = 0; c < 6; ++c)
        buffer.Fill(c, 0.25f * f32(c + 1));
    node.Execute(buffer.buffer); // no list at all
    FakeModulators empty;
    instance->SetModulatorList(&empty);
    node.Execute(buffer.buffer); // a list without targets of the volume properties
    EXPECT_EQ(empty.lastMask, AU_MODULATOR_GAIN_PROPERTIES);
    for (u32 c = 0; c < 6; ++c)
        for (u32 i = 0; i < 64; ++i)
            ASSERT_EQ(buffer.buffer.GetChannel(c)[i], 0.25f * f32(c + 1));
}

TEST_F(ModulatorGainNodeTest, FrameRateTargetRampsEveryChannelIncludingTheLFE) {
    auto instance = MakeInstance(false);
    FakeModulators list;
    list.frame.push_back({1.0f, 0.5f});
    instance->SetModulatorList(&list);
    CAuModulatorGainNode node;
    node.Init(instance.get());
    TestBuffer buffer(k51(), 1024);
    for (u32 c = 0; c < 6; ++c)
        buffer.Fill(c, 1.0f);
    node.Execute(buffer.buffer);
    const f32 step = 0.5f / 1024.0f;
    for (u32 c = 0; c < 6; ++c) {
        const f32* s = buffer.buffer.GetChannel(c);
        EXPECT_EQ(s[0], 1.0f) << c;
        EXPECT_NEAR(s[1023], 0.5f, step * 1.01f) << c;
        EXPECT_GT(s[1023], 0.5f) << c;
        for (u32 i = 1; i < 1024; ++i)
            ASSERT_LT(s[i], s[i - 1]) << c << " " << i;
    }
}

TEST_F(ModulatorGainNodeTest, SampleRateTargetsMultiplyEverySampleOverWholeBlocksOfFour) {
    auto instance = MakeInstance(false);
    std::vector<f32> values(16);
    for (u32 i = 0; i < 16; ++i)
        values[i] = f32(i);
    FakeModulators list;
    list.sample.push_back({values.data(), 0.5f, 0.25f}); // gain = i / 4 + 0.5
    instance->SetModulatorList(&list);
    CAuModulatorGainNode node;
    node.Init(instance.get());
    TestBuffer buffer(AuChannelConfig::Anonymous(2), 14); // 12 frames in whole blocks of four
    buffer.Fill(0, 2.0f);
    buffer.Fill(1, -1.0f);
    node.Execute(buffer.buffer);
    for (u32 i = 0; i < 14; ++i) {
        const f32 gain = i < 12 ? f32(i) * 0.25f + 0.5f : 1.0f;
        EXPECT_FLOAT_EQ(buffer.buffer.GetChannel(0)[i], 2.0f * gain) << i;
        EXPECT_FLOAT_EQ(buffer.buffer.GetChannel(1)[i], -gain) << i;
    }
}

TEST_F(ModulatorGainNodeTest, MotionFeedTakesOneGainPerBuffer) {
    auto instance = MakeInstance(true);
    FakeModulators list;
    list.frame.push_back({1.0f, 0.0f}); // not used on this path
    list.current = 0.5f;
    instance->SetModulatorList(&list);
    CAuModulatorGainNode node;
    node.Init(instance.get());
    TestBuffer buffer(AuChannelConfig::Anonymous(1), 8);
    buffer.Fill(0, 1.0f);
    node.Execute(buffer.buffer);
    for (u32 i = 0; i < 8; ++i)
        EXPECT_EQ(buffer.buffer.GetChannel(0)[i], 0.5f);
}

TEST_F(ModulatorGainNodeTest, GainRampLeavesTheLFEOutUnlessAsked) {
    struct Case {
        bool includeLFE;
        f32 from, to;
        f32 lfeFirst, lfeLast;
    };
    for (const Case& c : {Case{false, 0.5f, 0.5f, 1.0f, 1.0f}, Case{true, 0.5f, 0.5f, 0.5f, 0.5f},
                          Case{false, 1.0f, 0.0f, 1.0f, 1.0f}, Case{true, 1.0f, 0.0f, 1.0f, 1.0f / 16}}) {
        TestBuffer buffer(k51(), 16);
        for (u32 ch = 0; ch < 6; ++ch)
            buffer.Fill(ch, 1.0f);
        AuApplyGainRamp(buffer.buffer, c.from, c.to, c.includeLFE);
        EXPECT_FLOAT_EQ(buffer.buffer.GetLFE()[0], c.lfeFirst);
        EXPECT_FLOAT_EQ(buffer.buffer.GetLFE()[15], c.lfeLast);
        EXPECT_FLOAT_EQ(buffer.buffer.GetChannel(0)[15], c.from == c.to ? c.from : 1.0f / 16);
    }
}

TEST_F(ModulatorGainNodeTest, GainRampLeftoverFramesContinueWithTheWholeCountsStep) {
    TestBuffer buffer(AuChannelConfig::Anonymous(1), 6);
    buffer.Fill(0, 1.0f);
    AuApplyGainRamp(buffer.buffer, 0.0f, 1.0f, false);
    const f32* s = buffer.buffer.GetChannel(0);
    // Four frames step by 1/4, the two left over by 1/6 from where the blocks ended.
    const f32 expected[6] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.0f + 1.0f / 6};
    for (u32 i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(s[i], expected[i]) << i;
}

} // namespace
