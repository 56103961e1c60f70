#include "VoiceTestSupport.h"

using namespace voicetest;

namespace {

class SinkTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        // The sinks' memory comes from the lower engine's pool, which its Init makes.
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, -1);
    }

    static AuChannelConfig Stereo() { return AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO); }
};

} // namespace

TEST_F(SinkTest, TheDummySinkAnswersWholePeriodsOfTheClock) {
    CAuDummySink* sink = AuCreateDummySink(Stereo());
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->PeriodMs(), 21u);
    EXPECT_EQ(sink->GetWaitTimeout(), 5u);
    u32 buffers = 99;
    EXPECT_EQ(sink->IsDataNeeded(buffers), AuResultSuccess);
    EXPECT_EQ(buffers, 0u);
    AdvanceMs(20);
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 0u) << "no whole period yet";
    AdvanceMs(1);
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 1u);
    AdvanceMs(3 * 21);
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 3u) << "a stall answers for every period it missed";
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 0u);
    // The clock going backwards (a wrap of the tick count) answers one buffer.
    win32test::UseVirtualClock(int64_t{500} * 1000000);
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 1u);
    AdvanceMs(21);
    sink->IsDataNeeded(buffers);
    EXPECT_EQ(buffers, 1u);
    sink->Term(nullptr);
}

TEST_F(SinkTest, DummyTimingFollowsTheRateAndFrameSize) {
    SetOutputSampleRate(AU_LOW_SAMPLE_RATE);
    SetOutputTiming(256);
    EXPECT_EQ(g_OutputTiming.uBufferMs, 10u);
    EXPECT_EQ(g_OutputTiming.uBufferQuarterMs, 2u);
    CAuDummySink* sink = AuCreateDummySink(Stereo());
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->PeriodMs(), 10u);
    EXPECT_EQ(sink->GetWaitTimeout(), 2u);
    sink->Term(nullptr);
}

TEST_F(SinkTest, EveryFrameEndHandsOnExactlyOneBufferSilenceWhenNothingCame) {
    RecordingSink* sink = AuNewInLEngine<RecordingSink>(Stereo(), AuSinkKind_XAudio2);
    ASSERT_NE(sink, nullptr);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->silenceCount, 1);
    EXPECT_EQ(sink->mixCount, 0);

    TestBuffer tone(Stereo(), AU_DEFAULT_SAMPLES_PER_FRAME);
    tone.Fill(0, 0.5f);
    tone.Fill(1, -0.25f);
    sink->PassData(tone.buffer, 1.0f, 1.0f);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->mixCount, 1);
    EXPECT_EQ(sink->silenceCount, 1);
    ASSERT_EQ(sink->lastWritten.size(), 2u * AU_DEFAULT_SAMPLES_PER_FRAME);
    EXPECT_EQ(sink->lastWritten[0], 0.5f);
    EXPECT_EQ(sink->lastWritten[1], -0.25f);

    // The next frame's silence does not repeat the last mix.
    sink->OnFrameEnd();
    EXPECT_EQ(sink->silenceCount, 2);
    EXPECT_EQ(sink->lastWritten[0], 0.0f);

    // An empty buffer passes nothing.
    tone.buffer.uValidFrames = 0;
    sink->PassData(tone.buffer, 1.0f, 1.0f);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->silenceCount, 3);
    sink->Term(nullptr);
}

TEST_F(SinkTest, TwoMixesInOneFrameAreSummedAndTheNextFrameStartsClean) {
    RecordingSink* sink = AuNewInLEngine<RecordingSink>(Stereo(), AuSinkKind_XAudio2);
    ASSERT_NE(sink, nullptr);
    TestBuffer a(Stereo(), AU_DEFAULT_SAMPLES_PER_FRAME), b(Stereo(), AU_DEFAULT_SAMPLES_PER_FRAME);
    a.Fill(0, 0.25f);
    a.Fill(1, 0.25f);
    b.Fill(0, 0.5f);
    b.Fill(1, -0.5f);
    sink->PassData(a.buffer, 1.0f, 1.0f);
    sink->PassData(b.buffer, 1.0f, 1.0f);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->lastWritten[100], 0.75f);
    EXPECT_EQ(sink->lastWritten[101], -0.25f);
    sink->PassData(a.buffer, 1.0f, 1.0f);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->lastWritten[100], 0.25f);
    EXPECT_EQ(sink->mixCount, 2);
    sink->Term(nullptr);
}

TEST_F(SinkTest, ABufferOfAnotherShapeIsNotWrittenPastTheSinksBuffer) {
    RecordingSink* sink = AuNewInLEngine<RecordingSink>(Stereo(), AuSinkKind_XAudio2);
    ASSERT_NE(sink, nullptr);
    TestBuffer longer(Stereo(), 2 * AU_DEFAULT_SAMPLES_PER_FRAME);
    longer.Fill(0, 1.0f);
    longer.Fill(1, 1.0f);
    TestBuffer wider(AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1), AU_DEFAULT_SAMPLES_PER_FRAME);
    for (u32 c = 0; c < 8; ++c)
        wider.Fill(c, 1.0f);
    sink->PassData(longer.buffer, 1.0f, 1.0f);
    sink->PassData(wider.buffer, 1.0f, 1.0f);
    sink->OnFrameEnd();
    EXPECT_EQ(sink->mixCount, 1);
    EXPECT_EQ(sink->lastWritten[0], 0.0f);
    EXPECT_EQ(sink->lastWritten.back(), 0.0f);
    sink->Term(nullptr);
}

TEST_F(SinkTest, TheFactoryPrefersXAudio2ThenDirectSoundThenNothing) {
    const AuOutputSettings settings{AuPanningRule_Speakers,
                                    AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), nullptr};
    EXPECT_EQ(CreateOutputSink(settings, 3), nullptr) << "no m_hardware output installed";

    AuSetHardwareSinks(&m_hardware);
    CAuSinkBase* sink = CreateOutputSink(settings, 3);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(sink)->Kind(), AuSinkKind_XAudio2);
    EXPECT_EQ(sink->ChannelConfig().ChannelMask(), AU_SPEAKER_SETUP_5POINT1);
    sink->Term(nullptr);

    m_hardware.failXAudio2 = true;
    sink = CreateOutputSink(settings, 3);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(sink)->Kind(), AuSinkKind_DirectSound);
    sink->Term(nullptr);

    m_hardware.failDirectSound = true;
    EXPECT_EQ(CreateOutputSink(settings, 3), nullptr);
    EXPECT_EQ(m_hardware.xaudio2Attempts, 3);
    EXPECT_EQ(m_hardware.directSoundAttempts, 2);
}

TEST_F(SinkTest, TheDummyOptionTakesTheMainSinksLayoutOrStereo) {
    AuSetHardwareSinks(&m_hardware);
    AuOutputSettings settings{};
    CAuSinkBase* sink = CreateOutputSink(settings, AU_SINK_OPTION_DUMMY | 3);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(sink)->Kind(), AuSinkKind_Dummy);
    EXPECT_EQ(sink->ChannelConfig().uWord, 0x3102u);
    EXPECT_EQ(m_hardware.xaudio2Attempts, 0);
    sink->Term(nullptr);

    CAuSinkBase* mainSink = AuCreateDummySink(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1));
    CAuLowerEngine::SetMainSink(mainSink);
    sink = CreateOutputSink(settings, AU_SINK_OPTION_DUMMY);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->ChannelConfig().ChannelMask(), AU_SPEAKER_SETUP_5POINT1);
    sink->Term(nullptr);
    settings.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);
    sink = CreateOutputSink(settings, AU_SINK_OPTION_DUMMY);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->ChannelConfig().uWord, 0x4101u);
    sink->Term(nullptr);
    CAuLowerEngine::SetMainSink(nullptr);
    mainSink->Term(nullptr);
}
