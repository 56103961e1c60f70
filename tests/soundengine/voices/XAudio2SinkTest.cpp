// The XAudio2 sink against the XAudio2 stand-in, its passes run on the test's thread.
#include "VoiceTestSupport.h"
#include "voices/AuXAudio2Sink.h"

#include <audio_test_control.h>

#include <cmath>
#include <limits>

using namespace voicetest;

namespace {

class XAudio2SinkTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        audiotest::UseManualOutput(true);
        // The lower-engine pool, with a silent main output.
        InitLowerEngine();
        platform = CAuLowerEngine::PlatformSettings();
    }
    void TearDown() override {
        for (CAuSinkBase* sink : sinks)
            sink->Term(&CAuLowerEngine::PluginAllocator());
        audiotest::UseManualOutput(false);
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
        VoicesTest::TearDown();
    }
    CAuXAudio2Sink* Make(u32 mask = 0) {
        CAuSinkBase* sink = AuCreateXAudio2Sink(platform, mask, 0);
        if (sink) sinks.push_back(sink);
        return static_cast<CAuXAudio2Sink*>(sink);
    }
    // One frame's mix of a constant value into the sink, handed on as the lower engine does.
    static void Frame(CAuXAudio2Sink* sink, f32 value) {
        TestBuffer mix(sink->ChannelConfig(), g_uNumSamplesPerFrame);
        for (u32 channel = 0; channel < mix.buffer.NumChannels(); ++channel)
            mix.Fill(channel, value);
        sink->PassData(mix.buffer, 1.0f, 1.0f);
        ASSERT_EQ(sink->OnFrameEnd(), AuResultSuccess);
    }

    AuPlatformInitSettings platform;
    std::vector<CAuSinkBase*> sinks;
};

TEST_F(XAudio2SinkTest, TheLayoutComesFromTheDeviceUnlessOneIsAskedFor) {
    struct Case {
        unsigned deviceChannels;
        u32 requested;
        u32 expectedWord;
    } cases[] = {{1, 0, 0x3102},       {2, 0, 0x3102},    {3, 0, 0x3102},   {4, 0, 0x60F106},
                 {5, 0, 0x60F106},     {6, 0, 0x60F106},  {7, 0, 0x63F108}, {8, 0, 0x63F108},
                 {2, 0x63F, 0x63F108}, {8, 0x33, 0x33104}};
    for (const Case& c : cases) {
        audiotest::SetDeviceChannels(c.deviceChannels);
        CAuXAudio2Sink* sink = Make(c.requested);
        ASSERT_NE(sink, nullptr) << c.deviceChannels;
        EXPECT_EQ(sink->ChannelConfig().uWord, c.expectedWord) << c.deviceChannels << " " << c.requested;
        EXPECT_EQ(sink->Buffer().uMaxFrames, g_uNumSamplesPerFrame);
        EXPECT_NE(sink->GetXAudio2Interface(), nullptr);
        sink->Term(&CAuLowerEngine::PluginAllocator());
        sinks.clear();
    }
}

TEST_F(XAudio2SinkTest, EveryFailedStepGivesNoSinkAndLeavesNothingBehind) {
    const char* calls[] = {"IXAudio2::Initialize", "IXAudio2::CreateMasteringVoice",
                           "IXAudio2::GetDeviceDetails", "IXAudio2::CreateSourceVoice"};
    for (const char* call : calls) {
        audiotest::FailNextCall(call, E_FAIL);
        EXPECT_EQ(Make(), nullptr) << call;
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u) << call;
    }
    audiotest::FailNextCreation(CLSID_XAudio2, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Make(), nullptr);
    // The mask asked for needs no device details.
    audiotest::FailNextCall("IXAudio2::GetDeviceDetails", E_FAIL);
    EXPECT_NE(Make(AU_SPEAKER_SETUP_STEREO), nullptr);
    audiotest::ClearInjectedFailures();
    audiotest::FailNextCall("IXAudio2SourceVoice::Start", E_FAIL);
    CAuXAudio2Sink* sink = Make();
    EXPECT_EQ(sink->Start(), AuResultFail);
    EXPECT_EQ(sink->Start(), AuResultSuccess);
}

TEST_F(XAudio2SinkTest, BuffersNeededAreTheFewestAnyXAudio2SinkCanTake) {
    CAuXAudio2Sink* first = Make();
    CAuXAudio2Sink* second = Make();
    u32 buffers = 0;
    ASSERT_EQ(first->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, 4u);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(second->WriteSilence(), AuResultSuccess);
    EXPECT_EQ(second->WrittenCount(), 3);
    // Asked through either sink, the fuller one decides.
    ASSERT_EQ(first->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, 1u);
    ASSERT_EQ(second->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, 1u);
    // The silent main sink is no XAudio2 sink and counts for nothing.
    EXPECT_EQ(CAuXAudio2Sink::FindLive(CAuLowerEngine::MainSink()), nullptr);
}

TEST_F(XAudio2SinkTest, EightWritesWrapTheRingAndAFullRingTakesNothing) {
    CAuXAudio2Sink* sink = Make();
    for (u32 i = 1; i <= AU_XAUDIO2_RING_SLOTS; ++i) {
        ASSERT_EQ(sink->WriteSilence(), AuResultSuccess);
        EXPECT_EQ(sink->WriteIndex(), i % AU_XAUDIO2_RING_SLOTS);
    }
    u32 buffers = 99;
    ASSERT_EQ(sink->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, 0u);
}

TEST_F(XAudio2SinkTest, ARefillCountAboveTheRingIsHeldToTheRing) {
    platform.outputRefillBuffers = 12;
    CAuXAudio2Sink* sink = Make();
    EXPECT_EQ(sink->RefillCount(), AU_XAUDIO2_RING_SLOTS);
    u32 buffers = 0;
    ASSERT_EQ(sink->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, AU_XAUDIO2_RING_SLOTS);
}

TEST_F(XAudio2SinkTest, WrittenSlotsPlayInOrderAndFinishedOnesAreCountedBack) {
    CAuXAudio2Sink* sink = Make(AU_SPEAKER_SETUP_STEREO);
    Frame(sink, 0.25f);
    Frame(sink, -0.5f);
    EXPECT_EQ(sink->WrittenCount(), 2);
    ASSERT_EQ(sink->Start(), AuResultSuccess);
    const u32 frames = g_uNumSamplesPerFrame;
    std::vector<float> out = audiotest::RenderOutput(2 * frames);
    ASSERT_EQ(out.size(), 4u * frames);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[2 * frames - 1], 0.25f);
    EXPECT_EQ(out[2 * frames], -0.5f);
    EXPECT_EQ(out[4 * frames - 1], -0.5f);
    EXPECT_EQ(sink->WrittenCount(), 0);
    EXPECT_FALSE(sink->IsStarved());

    // Played out and nothing new: the next pass finds the voice empty.
    audiotest::RenderOutput(16);
    EXPECT_TRUE(sink->IsStarved());
    sink->ResetStarved();
    EXPECT_FALSE(sink->IsStarved());
}

TEST_F(XAudio2SinkTest, AFrameWithoutMixHandsOnSilenceAndAMixIsHeldToTheSampleRange) {
    CAuXAudio2Sink* sink = Make(AU_SPEAKER_SETUP_STEREO);
    Frame(sink, 0.75f);
    ASSERT_EQ(sink->OnFrameEnd(), AuResultSuccess); // nothing passed: silence
    Frame(sink, std::numeric_limits<f32>::infinity());
    EXPECT_EQ(sink->Slot(0)[5], 0.75f);
    EXPECT_EQ(sink->Slot(1)[5], 0.0f);
    EXPECT_EQ(sink->Slot(2)[5], 2147483648.0f);

    // A short mix leaves no stale samples behind it in the slot.
    TestBuffer shortMix(sink->ChannelConfig(), g_uNumSamplesPerFrame);
    shortMix.Fill(0, 1.0f);
    shortMix.Fill(1, 1.0f);
    shortMix.buffer.uValidFrames = 100;
    for (int i = 0; i < 5; ++i)
        Frame(sink, 0.5f); // slots 3..7
    sink->PassData(shortMix.buffer, 1.0f, 1.0f);
    ASSERT_EQ(sink->OnFrameEnd(), AuResultSuccess); // slot 0 again
    EXPECT_EQ(sink->Slot(0)[2 * 99], 1.0f);
    EXPECT_EQ(sink->Slot(0)[2 * 100], 0.0f);
}

TEST_F(XAudio2SinkTest, ANewMainSinkContinuesTheRingOfTheRunningOne) {
    CAuSinkBase* deviceSink = CAuLowerEngine::MainSink();
    CAuXAudio2Sink* old = Make(AU_SPEAKER_SETUP_STEREO);
    CAuLowerEngine::SetMainSink(old);
    for (int i = 0; i < 4; ++i)
        Frame(old, 0.0f);
    ASSERT_EQ(old->Start(), AuResultSuccess);
    audiotest::RenderOutput(2 * g_uNumSamplesPerFrame); // two slots played
    Frame(old, 0.1f);
    Frame(old, 0.2f);
    ASSERT_EQ(old->WrittenCount(), 4);

    CAuXAudio2Sink* replacement = static_cast<CAuXAudio2Sink*>(
        AuCreateXAudio2Sink(platform, AU_SPEAKER_SETUP_STEREO, AU_SINK_OPTION_MAIN));
    ASSERT_NE(replacement, nullptr);
    sinks.push_back(replacement);
    CAuLowerEngine::SetMainSink(deviceSink);
    // The old sink stops; the new one holds its four unplayed slots, already with the voice.
    old->Term(&CAuLowerEngine::PluginAllocator());
    sinks.erase(sinks.begin());
    EXPECT_EQ(replacement->WrittenCount(), 4);
    EXPECT_EQ(replacement->WriteIndex(), 4u);
    XAUDIO2_VOICE_STATE state;
    replacement->SourceVoice()->GetState(&state);
    EXPECT_EQ(state.BuffersQueued, 4u);
    ASSERT_EQ(replacement->Start(), AuResultSuccess);
    const u32 frames = g_uNumSamplesPerFrame;
    std::vector<float> out = audiotest::RenderOutput(4 * frames);
    EXPECT_EQ(out[2 * 2 * frames], 0.1f);
    EXPECT_EQ(out[2 * 3 * frames], 0.2f);
    EXPECT_EQ(replacement->WrittenCount(), 0);
}

TEST_F(XAudio2SinkTest, ACriticalErrorMakesTheSinkAskToBeReplaced) {
    CAuXAudio2Sink* sink = Make();
    u32 buffers = 0;
    ASSERT_EQ(sink->IsDataNeeded(buffers), AuResultSuccess);
    audiotest::RaiseCriticalError(XAUDIO2_E_DEVICE_INVALIDATED);
    EXPECT_EQ(sink->IsDataNeeded(buffers), AuResultFail);
}

TEST_F(XAudio2SinkTest, TheWaitIsTwoBufferDurations) {
    CAuXAudio2Sink* sink = Make();
    EXPECT_EQ(sink->GetWaitTimeout(), 42u);
    SetOutputSampleRate(AU_LOW_SAMPLE_RATE);
    EXPECT_EQ(sink->GetWaitTimeout(), 2 * 42u);
}

} // namespace
