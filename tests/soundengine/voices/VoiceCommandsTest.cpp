#include "voices/AuFileSources.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceCommands.h"
#include "voices/AuVoiceContext.h"

#include "LowerEnginePoolTest.h"
#include "VoiceTestSupport.h"

#include <AuMemoryAutoStream.h>
#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

// Collects what every voice would mix, in order.
class FakeBus final : public IAuVoiceBusses {
public:
    AURESULT ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance&) noexcept override {
        if (refuse) return AuResultFail;
        connected.push_back(&voice);
        return AuResultSuccess;
    }
    void MixVoice(CAuVoiceContext&, AuPipelineBuffer& buffer) noexcept override {
        mixed.insert(mixed.end(), buffer.pData, buffer.pData + buffer.uValidFrames);
    }
    void DisconnectVoice(CAuVoiceContext&) noexcept override { ++disconnected; }

    bool refuse = false;
    std::vector<CAuVoiceContext*> connected;
    std::vector<f32> mixed;
    int disconnected = 0;
};

class VoiceCommandsTest : public voicetest::LowerEnginePoolTest {
protected:
    static constexpr u32 kStreamedFile = 55;

    VoiceCommandsTest() : LowerEnginePoolTest(4u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        m_samples.resize(2500);
        for (size_t i = 0; i < m_samples.size(); ++i)
            m_samples[i] = static_cast<i16>((i * 53) % 30000 - 15000);
        m_media = bankgen::MakePcmWave(m_samples, 1, 48000);
        ASSERT_EQ(m_commands.Init(AU_VOICE_COMMAND_POOL_ENTRIES), AuResultSuccess);
        m_commands.SetBusses(&m_bus);
        g_pVoiceCommandQueue = &m_commands;
    }
    void TearDown() override {
        g_pVoiceCommandQueue = nullptr;
        m_commands.Term();
        m_instances.clear();
        LowerEnginePoolTest::TearDown();
    }

    CAuPlaybackInstance& MakeInstance(u32 codec = 1) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 7;
        m_instances.push_back(std::make_unique<CAuPlaybackInstance>(params));
        m_instances.back()->SetSourceMedia(
            voicetest::InMemoryMedia(m_media.data(), m_media.size(), codec << 16));
        return *m_instances.back();
    }
    // The stream of the test's media keeps prefetching until the test lets it finish.
    void AddPrefetchingFile(autostm::MemoryStreamMgr& streams) {
        streams.AddFile(kStreamedFile, bankgen::Bytes(m_media));
        streams.onCreate = [](autostm::MemoryAutoStream& s) {
            s.nominal = 6000;
            s.buffered = 100;
        };
    }
    CAuPlaybackInstance& MakeStreamedInstance(autostm::MemoryStreamMgr& streams) {
        AddPrefetchingFile(streams);
        CAuPlaybackInstance& instance = MakeInstance();
        instance.SetSourceMedia(voicetest::StreamedMedia(kStreamedFile));
        return instance;
    }
    void Frame() {
        if (m_commands.HasVoicesToStart()) m_commands.StartPendingVoices();
        m_commands.ExecuteVoiceCommands();
        m_commands.AdvanceWaitingVoices(1024);
        m_commands.RenderVoices(true, 1024);
    }

    std::vector<i16> m_samples;
    bankgen::Bytes m_media;
    CAuVoiceCommands m_commands;
    FakeBus m_bus;
    std::vector<std::unique_ptr<CAuPlaybackInstance>> m_instances;
};

TEST_F(VoiceCommandsTest, APlayedPcmSoundRendersSampleForSampleAndItsInstanceEndsWithTheMedia) {
    CAuPlaybackInstance& instance = MakeInstance();
    instance.Play({}, false, false);
    EXPECT_TRUE(m_commands.HasVoicesToStart());
    for (int frame = 0; frame < 5; ++frame)
        Frame();
    EXPECT_EQ(m_commands.NumVoices(), 0u);
    EXPECT_EQ(m_bus.connected.size(), 1u);
    EXPECT_EQ(m_bus.disconnected, 1);
    EXPECT_TRUE(instance.IsStopped());
    EXPECT_EQ(instance.Voice(), nullptr);
    ASSERT_EQ(m_bus.mixed.size(), m_samples.size());
    for (size_t i = 0; i < m_samples.size(); ++i)
        ASSERT_NEAR(m_bus.mixed[i], f32(m_samples[i]) / 32768.0f * voicetest::EdgeRise(i), 1e-6f) << i;
    EXPECT_EQ(m_commands.NumQueued(), 0u);
}

TEST_F(VoiceCommandsTest, APauseQueuedAfterThePlayAppliesOnceTheVoiceExists) {
    CAuPlaybackInstance& instance = MakeInstance();
    instance.Play({}, false, false);
    m_commands.QueueCommand(&instance, AuVoiceCommand_Pause);
    m_commands.StartPendingVoices();
    m_commands.ExecuteVoiceCommands();
    ASSERT_NE(instance.Voice(), nullptr);
    EXPECT_EQ(static_cast<CAuVoiceContext*>(instance.Voice())->State(), CAuVoiceContext::kPaused);
    EXPECT_EQ(m_commands.NumQueued(), 0u);
    m_commands.RenderVoices(true, 1024);
    EXPECT_TRUE(m_bus.mixed.empty()); // paused voices do not render
    m_commands.QueueCommand(&instance, AuVoiceCommand_Resume);
    m_commands.ExecuteVoiceCommands();
    m_commands.RenderVoices(true, 1024);
    EXPECT_EQ(m_bus.mixed.size(), 1024u);
}

// A voice heard in its first frame, then paused or stopped without a fade time: its next buffer
// falls to silence and is the last heard; a stop because the voice's data goes is heard no more.
TEST_F(VoiceCommandsTest, APauseOrStopOfAHeardVoiceFallsOverOneBufferAndACutDoesNot) {
    struct Case {
        const char* name;
        std::function<void(CAuPlaybackInstance&)> act;
        bool falls;
        u32 voicesLeft;
    };
    const Case cases[] = {
        {"pause", [](CAuPlaybackInstance& i) { i.Pause({}); }, true, 1},
        {"stop", [](CAuPlaybackInstance& i) { i.Stop({}, true); }, true, 0},
        {"cut",
         [](CAuPlaybackInstance& i) {
             i.MarkCut();
             i.Stop({}, true);
         },
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_bus.mixed.clear();
        CAuPlaybackInstance& instance = MakeInstance();
        instance.Play({}, false, false);
        Frame();
        ASSERT_EQ(m_bus.mixed.size(), 1024u);
        c.act(instance);
        Frame();
        Frame();
        EXPECT_EQ(m_commands.NumVoices(), c.voicesLeft);
        ASSERT_EQ(m_bus.mixed.size(), c.falls ? 2048u : 1024u);
        for (size_t i = 0; c.falls && i < 1024; ++i)
            ASSERT_NEAR(m_bus.mixed[1024 + i],
                        f32(m_samples[1024 + i]) / 32768.0f * (1.0 - f64(i + 1) / 1024), 1e-5f)
                << i;
        m_commands.Term();
        ASSERT_EQ(m_commands.Init(AU_VOICE_COMMAND_POOL_ENTRIES), AuResultSuccess);
    }
}

TEST_F(VoiceCommandsTest, TwoPlaysOfOneGroupWaitForTheOneStillPrefetching) {
    autostm::MemoryStreamMgr streams;
    CAuPlaybackInstance& streamed = MakeStreamedInstance(streams);
    CAuPlaybackInstance& inMemory = MakeInstance();
    streamed.Play({}, false, false);
    inMemory.Play({}, false, false);
    Frame();
    Frame();
    ASSERT_NE(inMemory.Voice(), nullptr);
    ASSERT_NE(streamed.Voice(), nullptr);
    EXPECT_EQ(static_cast<CAuVoiceContext*>(inMemory.Voice())->State(), CAuVoiceContext::kCreated);
    EXPECT_EQ(m_commands.NumWaiting(), 1u);
    EXPECT_EQ(m_commands.NumQueued(), 2u);
    EXPECT_TRUE(m_bus.mixed.empty()); // neither plays alone
    streams.last->nominal = 0;
    streams.last->buffered = -1;
    Frame();
    EXPECT_EQ(m_commands.NumWaiting(), 0u);
    EXPECT_EQ(m_commands.NumQueued(), 0u);
    EXPECT_EQ(m_bus.connected.size(), 2u);
    EXPECT_EQ(m_bus.mixed.size(), 2048u); // both started in the same frame
    m_commands.Term();                    // before the stream manager goes
}

// What the engine does after each pending action it runs: a play of the next action starts on
// its own while the stream of the one before still prefetches.
TEST_F(VoiceCommandsTest, APlayQueuedAfterTheChangeCounterMovesDoesNotWaitForTheGroupBefore) {
    autostm::MemoryStreamMgr streams;
    CAuPlaybackInstance& streamed = MakeStreamedInstance(streams);
    CAuPlaybackInstance& inMemory = MakeInstance();
    streamed.Play({}, false, false);
    IncrementChangeCounter();
    inMemory.Play({}, false, false);
    Frame();
    Frame();
    EXPECT_EQ(m_commands.NumWaiting(), 1u) << "the stream still prefetches";
    EXPECT_EQ(m_bus.connected.size(), 1u);
    EXPECT_EQ(m_bus.mixed.size(), 2048u) << "the other play rendered both frames";
    streams.last->nominal = 0;
    streams.last->buffered = -1;
    Frame();
    EXPECT_EQ(m_commands.NumWaiting(), 0u);
    EXPECT_EQ(m_bus.connected.size(), 2u);
    m_commands.Term(); // before the stream manager goes
}

TEST_F(VoiceCommandsTest, SourceClassFromStorageKindAndCodec) {
    enum Expect { None, PcmBank, AdpcmBank, PcmFile, AdpcmFile };
    struct Case {
        u32 kind;
        u32 codecWord;
        Expect expect;
    };
    const Case cases[] = {
        {3, 1u << 16, PcmBank}, {3, 2u << 16, AdpcmBank}, {1, 1u << 16, PcmFile}, {1, 2u << 16, AdpcmFile},
        {0, 1u << 16, None},    {2, 1u << 16, None},      {3, 0xFFFF, None},      {3, 9u << 16 | 1, None},
    };
    for (const Case& c : cases) {
        CAuPlaybackInstance& instance = MakeInstance();
        AuSourceMedia media = instance.GetSourceMedia();
        media.uFlags = c.kind << AuSourceMedia::kStorageShift;
        media.uPluginID = c.codecWord;
        instance.SetSourceMedia(media);
        CAuSourceBase* source = AuCreateSource(&instance);
        const Expect got = !source                                     ? None
                           : dynamic_cast<CAuPcmBankSource*>(source)   ? PcmBank
                           : dynamic_cast<CAuAdpcmBankSource*>(source) ? AdpcmBank
                           : dynamic_cast<CAuPcmFileSource*>(source)   ? PcmFile
                           : dynamic_cast<CAuAdpcmFileSource*>(source) ? AdpcmFile
                                                                       : None;
        EXPECT_EQ(got, c.expect) << c.kind << " " << std::hex << c.codecWord;
        AuDestroySource(source);
    }
}

TEST_F(VoiceCommandsTest, WaitingVoicesCountTheirStartDelayDownAtTheirPitch) {
    autostm::MemoryStreamMgr streams;
    AddPrefetchingFile(streams);
    AuPlaybackInstanceParams params;
    params.key.playingID = 8;
    params.lStartDelayFrames = 5000;
    m_instances.push_back(std::make_unique<CAuPlaybackInstance>(params));
    CAuPlaybackInstance& instance = *m_instances.back();
    instance.SetSourceMedia(voicetest::StreamedMedia(kStreamedFile));
    instance.HandleParamNotification({2, nullptr, AuRTPCKey{}, false, 1200.0f}); // twice the speed
    instance.Play({}, false, false);
    m_commands.StartPendingVoices();
    ASSERT_EQ(m_commands.NumWaiting(), 1u);
    m_commands.AdvanceWaitingVoices(1024);
    EXPECT_EQ(instance.StartDelay(), 5000 - 2048);
    // Stopped before it started: the voice and its commands go.
    instance.Stop({}, true);
    m_commands.AdvanceWaitingVoices(1024);
    EXPECT_EQ(m_commands.NumWaiting(), 0u);
    EXPECT_EQ(m_commands.NumQueued(), 0u);
    EXPECT_EQ(instance.Voice(), nullptr);
}

TEST_F(VoiceCommandsTest, ACommandWithoutAVoiceIsRemoved) {
    CAuPlaybackInstance& instance = MakeInstance();
    m_commands.QueueCommand(&instance, AuVoiceCommand_Seek);
    m_commands.QueueCommand(&instance, AuVoiceCommand_StopLooping);
    EXPECT_FALSE(m_commands.HasVoicesToStart());
    m_commands.ExecuteVoiceCommands();
    EXPECT_EQ(m_commands.NumQueued(), 0u);
}

TEST_F(VoiceCommandsTest, FailedStartsLeaveNoVoice) {
    // A codec without a source class, and a bus that refuses the voice.
    CAuPlaybackInstance& unknownCodec = MakeInstance(9);
    unknownCodec.Play({}, false, false);
    Frame();
    EXPECT_TRUE(unknownCodec.IsStopped());
    m_bus.refuse = true;
    CAuPlaybackInstance& refused = MakeInstance();
    refused.Play({}, false, false);
    Frame();
    EXPECT_EQ(refused.Voice(), nullptr);
    EXPECT_EQ(m_commands.NumVoices(), 0u);
    EXPECT_EQ(m_commands.NumQueued(), 0u);
}

TEST_F(VoiceCommandsTest, CommandsBeyondTheBlockComeFromThePoolAndGoBack) {
    CAuPlaybackInstance& instance = MakeInstance();
    AU::MemoryMgr::PoolMemInfo before{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, before);
    for (u32 i = 0; i < AU_VOICE_COMMAND_POOL_ENTRIES; ++i)
        m_commands.QueueCommand(&instance, AuVoiceCommand_Seek);
    AU::MemoryMgr::PoolMemInfo full{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, full);
    EXPECT_EQ(full.uUsed, before.uUsed);
    m_commands.QueueCommand(&instance, AuVoiceCommand_Seek); // the 513th
    AU::MemoryMgr::PoolMemInfo over{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, over);
    EXPECT_GT(over.uUsed, before.uUsed);
    EXPECT_EQ(m_commands.NumQueued(), AU_VOICE_COMMAND_POOL_ENTRIES + 1);
    m_commands.ExecuteVoiceCommands(); // no voice: all removed
    AU::MemoryMgr::PoolMemInfo after{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, after);
    EXPECT_EQ(after.uUsed, before.uUsed);
    EXPECT_EQ(m_commands.NumQueued(), 0u);
}

} // namespace

TEST_F(VoiceCommandsTest, EachCommandKindActsOnTheVoiceAsItsTableSays) {
    // Kinds 0 to 3: the play state the voice ends in, and whether its first frame renders.
    struct Case {
        std::vector<AuVoiceCommand> commands; // queued together, the play first
        CAuVoiceContext::PlayState state;
    };
    const Case cases[] = {
        {{AuVoiceCommand_Start}, CAuVoiceContext::kPlaying},
        {{AuVoiceCommand_StartPaused}, CAuVoiceContext::kPaused},
        {{AuVoiceCommand_Start, AuVoiceCommand_Pause}, CAuVoiceContext::kPaused},
        {{AuVoiceCommand_Start, AuVoiceCommand_Pause, AuVoiceCommand_Resume}, CAuVoiceContext::kPlaying},
        {{AuVoiceCommand_Start, AuVoiceCommand_Resume}, CAuVoiceContext::kPlaying},
        {{AuVoiceCommand_StartPaused, AuVoiceCommand_Resume}, CAuVoiceContext::kPlaying},
    };
    for (const Case& c : cases) {
        CAuPlaybackInstance& instance = MakeInstance();
        for (AuVoiceCommand command : c.commands)
            m_commands.QueueCommand(&instance, command);
        m_bus.mixed.clear();
        Frame();
        ASSERT_NE(instance.Voice(), nullptr);
        EXPECT_EQ(static_cast<CAuVoiceContext*>(instance.Voice())->State(), c.state) << c.commands.size();
        EXPECT_EQ(m_bus.mixed.size(), c.state == CAuVoiceContext::kPlaying ? 1024u : 0u);
        EXPECT_EQ(m_commands.NumQueued(), 0u);
        instance.Stop({}, true);
        Frame();
    }

    // Kind 4: a looping sound plays the pass it is in to its end, then its instance ends.
    CAuPlaybackInstance& looping = MakeInstance();
    looping.SetLoopCount(0);
    m_bus.mixed.clear();
    looping.Play({}, false, false);
    for (int frame = 0; frame < 3; ++frame)
        Frame();
    ASSERT_EQ(m_bus.mixed.size(), 3u * 1024u); // into the second pass
    m_commands.QueueCommand(&looping, AuVoiceCommand_StopLooping);
    for (int frame = 0; frame < 4 && !looping.IsStopped(); ++frame)
        Frame();
    EXPECT_TRUE(looping.IsStopped());
    EXPECT_EQ(m_bus.mixed.size(), 2 * m_samples.size());

    // Kind 5: the voice goes on from the instance's seek position.
    CAuPlaybackInstance& seeking = MakeInstance();
    m_bus.mixed.clear();
    seeking.Play({}, false, false);
    Frame();
    seeking.SeekPercent(0.5f, false);
    Frame();
    ASSERT_EQ(m_bus.mixed.size(), 2048u);
    // Half of the duration in milliseconds, back to samples: within one sample of the middle, and
    // from there on sample for sample.
    size_t from = m_samples.size() / 2 - 1;
    while (from <= m_samples.size() / 2 + 1 && f32(m_samples[from]) / 32768.0f != m_bus.mixed[1024])
        ++from;
    ASSERT_LE(from, m_samples.size() / 2 + 1) << "the voice did not go on from the middle";
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_FLOAT_EQ(m_bus.mixed[1024 + i], f32(m_samples[from + i]) / 32768.0f) << i;
    seeking.Stop({}, true);
    Frame();
}
