#include "core/AuListener.h"
#include "core/AuRegistryMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceContext.h"

#include "LowerEnginePoolTest.h"
#include "VoiceTestSupport.h"

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <vector>

namespace {

// A source whose start answers "still buffering" a set number of times.
class BufferingSource final : public CAuSourceBase {
public:
    BufferingSource(CAuPlaybackInstance* instance, int polls)
        : CAuSourceBase(instance, nullptr, 0), m_polls(polls) {}
    AURESULT StartStream() noexcept override {
        return m_polls-- > 0 ? AuResultStillBuffering : AuResultSuccess;
    }
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override { buffer.eState = AuResultNoDataReady; }

private:
    int m_polls;
};

// Answers the voice's question whether to restart after virtual mode as the test says.
class RestartingInstance final : public CAuPlaybackInstance {
public:
    using CAuPlaybackInstance::CAuPlaybackInstance;
    u32 GetVirtualReturnMode() noexcept override { return answer; }
    u32 answer = 0;
};

class VoiceContextTest : public voicetest::LowerEnginePoolTest {
protected:
    VoiceContextTest() : LowerEnginePoolTest(4u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        std::vector<i16> samples(3000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<i16>((i * 37) % 20000 - 10000);
        m_samples = samples;
        m_media = bankgen::MakePcmWave(samples, 1, 48000);
    }
    void TearDown() override {
        m_voice.reset();
        m_instance.reset();
        LowerEnginePoolTest::TearDown();
    }

    CAuPlaybackInstance& MakeInstance(i32 startDelay = -1, u8 action = 0, u8 mode = 0,
                                      CAuRegisteredObj* gameObj = nullptr) {
        m_voice.reset(); // its sources know the old instance
        m_node.action = action;
        AuPlaybackInstanceParams params;
        params.key.playingID = 7;
        params.pNode = &m_node;
        params.pGameObj = gameObj;
        params.priority.fPriority = 61.5f;
        params.lStartDelayFrames = startDelay;
        m_instance = std::make_unique<RestartingInstance>(params);
        m_instance->SetSourceMedia(voicetest::InMemoryMedia(m_media.data(), m_media.size()));
        m_instance->SetVirtualMode(mode);
        return *m_instance;
    }
    // A voice with the instance's PCM source attached.
    CAuVoiceContext& MakeVoice(AURESULT expected = AuResultSuccess) {
        m_voice = std::make_unique<CAuVoiceContext>();
        CAuSourceBase* source = AuCreateSource(m_instance.get());
        EXPECT_NE(source, nullptr);
        EXPECT_EQ(m_voice->AttachSource(source, true, true), expected);
        return *m_voice;
    }
    static bool Update(CAuVoiceContext& voice, bool audible = true) {
        AuVoiceFrame frame;
        frame.uFrames = 1024;
        AuVoiceLevels levels;
        levels.bAudible = audible;
        voice.ApplyFrameBudget(frame);
        return voice.VoiceUpdate(frame, levels);
    }

    voicetest::PlayedNode m_node;
    std::vector<i16> m_samples;
    bankgen::Bytes m_media;
    std::unique_ptr<CAuPlaybackInstance> m_instance;
    std::unique_ptr<CAuVoiceContext> m_voice;
};

TEST_F(VoiceContextTest, ChainIsSourcePitchModulatorStageOneFinalNode) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    CAuSourceBase* source = voice.Source();
    voice.Start();
    ASSERT_TRUE(Update(voice));
    ASSERT_TRUE(voice.ChainBuilt());
    EXPECT_EQ(voice.FinalNode().Input(), &voice.FilterStage1());
    EXPECT_EQ(voice.FilterStage1().Input(), &voice.ModulatorNode());
    EXPECT_EQ(voice.ModulatorNode().Input(), &voice.PitchStage());
    EXPECT_EQ(voice.PitchStage().Input(), nullptr);
    EXPECT_EQ(voice.Pitch().Source(), source);
}

TEST_F(VoiceContextTest, PcmAtPitchZeroRendersSampleForSampleToItsEnd) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    voice.Start();
    std::vector<f32> rendered;
    AURESULT state = AuResultDataReady;
    for (int frame = 0; frame < 10 && state == AuResultDataReady; ++frame) {
        ASSERT_TRUE(Update(voice));
        AuPipelineBuffer out;
        out.PrepareForVoicePass(1024);
        state = voice.Pull(out, 1024);
        ASSERT_TRUE(state == AuResultDataReady || state == AuResultNoMoreData) << state;
        rendered.insert(rendered.end(), out.pData, out.pData + out.uValidFrames);
    }
    EXPECT_EQ(state, AuResultNoMoreData);
    ASSERT_GE(rendered.size(), m_samples.size());
    for (size_t i = 0; i < m_samples.size(); ++i)
        ASSERT_NEAR(rendered[i], f32(m_samples[i]) / 32768.0f * voicetest::EdgeRise(i), 1e-6f) << i;
}

TEST_F(VoiceContextTest, RaysGrowOneEntryAtATimeAndNewOnesStartAtUnityGain) {
    MakeInstance();
    const u32 before = Used();
    CAuVoiceContext& voice = MakeVoice();
    // The first attachment made room for one ray.
    EXPECT_EQ(voice.RayCapacity(), 1u);
    EXPECT_EQ(voice.NumRays(), 0u);
    const u32 usedWithOne = Used();
    ASSERT_EQ(voice.SetNumRays(3), AuResultSuccess);
    EXPECT_EQ(voice.RayCapacity(), 3u);
    voice.Rays()[0].fDistance = 5.0f;
    voice.Rays()[2].fGains[1] = 0.25f;
    ASSERT_EQ(voice.SetNumRays(1), AuResultSuccess);
    ASSERT_EQ(voice.SetNumRays(2), AuResultSuccess);
    EXPECT_EQ(voice.RayCapacity(), 3u); // fewer rays keep the room
    EXPECT_EQ(voice.Rays()[0].fDistance, 5.0f);
    const AuVoiceRay& fresh = voice.Rays()[1];
    EXPECT_EQ(fresh.fDistance, 0.0f);
    EXPECT_EQ(fresh.listenerMask, 0);
    for (f32 gain : fresh.fGains)
        EXPECT_EQ(gain, 1.0f);
    EXPECT_GT(Used(), usedWithOne);
    m_voice.reset();
    EXPECT_EQ(Used(), before); // the rays went with the voice
}

TEST_F(VoiceContextTest, WhereTheVoiceSoundsFromIsItsGameObjectAsItsListenersHearIt) {
    {
        MakeInstance();
        CAuVoiceContext& voice = MakeVoice();
        AuEmitterListenerPair pair{};
        AuSoundPosition position{};
        EXPECT_EQ(voice.GetNumEmitterRays(), 0u);
        EXPECT_EQ(voice.GetEmitterRay(0, 0xFF, pair), AuResultFail);
        EXPECT_EQ(voice.GetNumEmitterPositions(), 1u);
        ASSERT_EQ(voice.GetEmitterPosition(0, position), AuResultSuccess);
        EXPECT_EQ(position.Position.Z, AU_DEFAULT_SOUND_POSITION.Position.Z);
        EXPECT_EQ(voice.GetEmitterPosition(1, position), AuResultFail);
        EXPECT_EQ(voice.GetAttenuationScaling(), 1.0f);
        EXPECT_EQ(voice.GetListenerMask(), 0);
        EXPECT_EQ(voice.GetListenerData(0), nullptr);
        EXPECT_EQ(voice.GetPlayingID(), 7u);
        EXPECT_EQ(voice.GetPriority(), 62u);
        EXPECT_EQ(voice.GetGameObjectID(), 0xFFFFFFFFu);
        EXPECT_EQ(voice.GetPositioningType(), 0u);
        EXPECT_EQ(voice.GetNodeID(), 100u);
    }
    CAuRegisteredObj object(42);
    ASSERT_NO_FATAL_FAILURE(voicetest::PlaceForTwoListeners(object));
    MakeInstance(-1, 0, 0, &object);
    CAuVoiceContext& voice = MakeVoice();
    EXPECT_EQ(voice.GetNumEmitterRays(), 4u); // two listeners, two positions
    EXPECT_EQ(voice.GetNumEmitterPositions(), 2u);
    AuSoundPosition position{};
    ASSERT_EQ(voice.GetEmitterPosition(1, position), AuResultSuccess);
    EXPECT_EQ(position.Position.Y, 2.0f);
    EXPECT_EQ(voice.GetEmitterPosition(2, position), AuResultFail);
    EXPECT_EQ(voice.GetAttenuationScaling(), 2.0f);
    EXPECT_EQ(voice.GetGameObjectID(), 42u);
    EXPECT_EQ(voice.GetPositioningType(), 1u);
    EXPECT_EQ(voice.GetListenerMask(), 0x5);
    EXPECT_EQ(voice.GetListenerData(0), &CAuListener::Data(0));
    EXPECT_EQ(voice.GetListenerData(1), &CAuListener::Data(2));
    EXPECT_EQ(voice.GetListenerData(2), nullptr);
    // Rays by listener: listener 2 holds the third and fourth pairs.
    struct Case {
        u32 index, mask;
        AURESULT result;
        u8 listenerBit;
    };
    const Case cases[] = {{0, 0xFF, AuResultSuccess, 0x1}, {2, 0xFF, AuResultSuccess, 0x4},
                          {0, 0x4, AuResultSuccess, 0x4},  {1, 0x4, AuResultSuccess, 0x4},
                          {2, 0x4, AuResultFail, 0},       {0, 0x2, AuResultFail, 0}};
    for (const Case& c : cases) {
        AuEmitterListenerPair pair{};
        EXPECT_EQ(voice.GetEmitterRay(c.index, c.mask, pair), c.result) << c.index << " " << c.mask;
        EXPECT_EQ(pair.listenerBit, c.listenerBit) << c.index << " " << c.mask;
    }
    m_voice.reset();
    m_instance.reset();
}

TEST_F(VoiceContextTest, PlayStateTable) {
    struct Case {
        const char* steps; // s start, p pause, r resume, x stop
        CAuVoiceContext::PlayState end;
    };
    const Case cases[] = {
        {"p", CAuVoiceContext::kStopped},   {"r", CAuVoiceContext::kStopped},
        {"s", CAuVoiceContext::kPlaying},   {"ss", CAuVoiceContext::kStopped},
        {"sp", CAuVoiceContext::kPaused},   {"sps", CAuVoiceContext::kStopped},
        {"spr", CAuVoiceContext::kPlaying}, {"sr", CAuVoiceContext::kPlaying},
        {"sxs", CAuVoiceContext::kStopped}, {"sxp", CAuVoiceContext::kStopped},
    };
    for (const Case& c : cases) {
        MakeInstance();
        CAuVoiceContext& voice = MakeVoice();
        for (const char* step = c.steps; *step; ++step) {
            switch (*step) {
            case 's':
                voice.Start();
                break;
            case 'p':
                voice.Pause();
                break;
            case 'r':
                voice.Resume();
                break;
            case 'x':
                voice.Stop();
                break;
            }
        }
        EXPECT_EQ(voice.State(), c.end) << c.steps;
        m_voice.reset();
    }
}

TEST_F(VoiceContextTest, FilterTargetsAreClampedAndAChangeStartsWhereTheRampStands) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    const f32 targets[2][4] = {{120.0f, 30.0f, -3.0f, 10.0f}, {130.0f, 20.0f, 5.0f, 40.0f}};
    voice.ApplyFilterTargets(targets, 2);
    // Stage 1: the lowest of targets 1 and 3; stage 2: of 2 and 4.
    EXPECT_EQ(voice.Stage1().LowPass().fTarget, 100.0f);
    EXPECT_EQ(voice.Stage1().HighPass().fTarget, 0.0f);
    EXPECT_EQ(voice.Stage2().LowPass().fTarget, 20.0f);
    EXPECT_EQ(voice.Stage2().HighPass().fTarget, 10.0f);
    // The first change left the start at 0 with the ramp settled; none has run since.
    EXPECT_EQ(voice.Stage2().LowPass().fStart, 0.0f);
    const f32 again[1][4] = {{100.0f, 60.0f, 0.0f, 10.0f}};
    voice.ApplyFilterTargets(again, 1);
    // No interpolation step ran towards 20: the start stays where it was.
    EXPECT_EQ(voice.Stage2().LowPass().fStart, 0.0f);
    EXPECT_TRUE(voice.Stage2().LowPass().bDirty);
}

TEST_F(VoiceContextTest, AStartedRampMovesTheStartToItsTarget) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    voice.Start();
    ASSERT_TRUE(Update(voice));
    const f32 first[1][4] = {{40.0f, 0.0f, 0.0f, 0.0f}};
    voice.ApplyFilterTargets(first, 1);
    AuPipelineBuffer out;
    out.PrepareForVoicePass(1024);
    ASSERT_EQ(voice.Pull(out, 1024), AuResultDataReady); // the eight steps run in this buffer
    const f32 second[1][4] = {{70.0f, 0.0f, 0.0f, 0.0f}};
    voice.ApplyFilterTargets(second, 1);
    EXPECT_EQ(voice.Stage1().LowPass().fStart, 40.0f); // 0 + (40 - 0) x 8 x 0.125
    EXPECT_EQ(voice.Stage1().LowPass().fTarget, 70.0f);
}

TEST_F(VoiceContextTest, StartCheckWaitsWhileBufferingAndForTheLookAhead) {
    // Four refill buffers: (4 + 1) x 1024 frames at rate factor 1.
    struct Case {
        i32 delay;
        AURESULT result;
        bool starving;
    };
    for (const Case& c : {Case{5119, AuResultSuccess, false}, Case{5120, AuResultStillBuffering, false},
                          Case{-1, AuResultSuccess, true}}) {
        MakeInstance(c.delay);
        CAuVoiceContext& voice = MakeVoice();
        EXPECT_EQ(voice.CheckSourceReady(), c.result) << c.delay;
        EXPECT_EQ((voice.Flags() & CAuVoiceContext::kFlagResyncPending) != 0, c.starving) << c.delay;
        m_voice.reset();
    }
}

TEST_F(VoiceContextTest, StartCheckReportsALateBufferingSourceOnce) {
    MakeInstance(-1);
    m_voice = std::make_unique<CAuVoiceContext>();
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(BufferingSource), 16);
    auto* source = new (block) BufferingSource(m_instance.get(), 3);
    ASSERT_EQ(m_voice->AttachSource(source, true, true), AuResultStillBuffering);
    EXPECT_EQ(m_voice->CheckSourceReady(), AuResultStillBuffering);
    EXPECT_TRUE(m_voice->IsStarving());
    EXPECT_EQ(m_voice->CheckSourceReady(), AuResultStillBuffering);
    EXPECT_EQ(m_voice->CheckSourceReady(), AuResultSuccess); // late: still marked starving
    EXPECT_TRUE(m_voice->IsStarving());
}

TEST_F(VoiceContextTest, BelowThresholdActions) {
    // Action 1 refuses a source that attaches below the threshold.
    MakeInstance(-1, 1);
    m_instance->SetVirtual(true);
    MakeVoice(AuResultTypeNotHandled);
    EXPECT_EQ(m_voice->Source(), nullptr);

    // Action 2 from the beginning keeps it unstarted and the voice silent.
    MakeInstance(-1, 2, 0);
    m_instance->SetVirtual(true);
    CAuVoiceContext& voice = MakeVoice();
    EXPECT_NE(voice.Source(), nullptr);
    EXPECT_FALSE(voice.Flags() & CAuVoiceContext::kFlagAudible);
    voice.Start();
    EXPECT_FALSE(Update(voice, false));
    EXPECT_EQ(voice.State(), CAuVoiceContext::kPlaying);

    // Action 1 stops a voice that becomes inaudible.
    MakeInstance(-1, 1);
    CAuVoiceContext& stopping = MakeVoice();
    stopping.Start();
    EXPECT_TRUE(Update(stopping));
    EXPECT_FALSE(Update(stopping, false));
    EXPECT_EQ(stopping.State(), CAuVoiceContext::kStopped);
    EXPECT_TRUE(m_instance->IsStopped());
}

TEST_F(VoiceContextTest, GoingVirtualKeepsTheBuffersOnlyToResumeWhereItWas) {
    for (u8 mode : {0, 1, 2}) {
        MakeInstance(-1, 2, mode);
        m_instance->HandleParamNotification({2, nullptr, AuRTPCKey{}, false, 300.0f});
        CAuVoiceContext& voice = MakeVoice();
        voice.Start();
        ASSERT_TRUE(Update(voice));
        AuPipelineBuffer out;
        out.PrepareForVoicePass(1024);
        ASSERT_EQ(voice.Pull(out, 1024), AuResultDataReady);
        voice.ReleaseBuffer();
        const u32 held = voice.Pitch().HeldFrames();
        const u32 position = voice.Source()->Position();
        ASSERT_GT(held, 0u) << int(mode); // +300 cents leaves input behind
        EXPECT_FALSE(Update(voice, false)) << int(mode);
        EXPECT_TRUE(m_instance->IsVirtual());
        EXPECT_EQ(voice.State(), CAuVoiceContext::kPlaying);
        EXPECT_EQ(voice.Pitch().HeldFrames(), mode == 2 ? held : 0u) << int(mode);
        // Only the elapsed-time mode moves on while virtual.
        if (mode == 1)
            EXPECT_GT(voice.Source()->Position(), position);
        else
            EXPECT_EQ(voice.Source()->Position(), position) << int(mode);
    }
}

TEST_F(VoiceContextTest, LeavingVirtualModeRestartsOrStopsAsTheInstanceAnswers) {
    for (u32 answer : {1u, 2u}) {
        MakeInstance(-1, 2, 0);
        static_cast<RestartingInstance&>(*m_instance).answer = answer;
        CAuVoiceContext& voice = MakeVoice();
        voice.Start();
        AuPipelineBuffer out;
        for (int frame = 0; frame < 2; ++frame) {
            ASSERT_TRUE(Update(voice));
            out.PrepareForVoicePass(1024);
            ASSERT_EQ(voice.Pull(out, 1024), AuResultDataReady);
            voice.ReleaseBuffer();
        }
        EXPECT_FALSE(Update(voice, false));
        const bool renders = Update(voice, true);
        if (answer == 2) {
            EXPECT_FALSE(renders);
            EXPECT_EQ(voice.State(), CAuVoiceContext::kStopped);
            continue;
        }
        ASSERT_TRUE(renders);
        out.PrepareForVoicePass(1024);
        ASSERT_EQ(voice.Pull(out, 1024), AuResultDataReady);
        EXPECT_FLOAT_EQ(out.pData[0], f32(m_samples[0]) / 32768.0f); // from the media's first sample
        EXPECT_FLOAT_EQ(out.pData[1], f32(m_samples[1]) / 32768.0f);
        voice.ReleaseBuffer();
    }
}

TEST_F(VoiceContextTest, AStartSeveralFramesAwayCountsDownFrameByFrameThenRenders) {
    // Frames the voice stays silent for a start delay, with 1024 frames a pass.
    struct Case {
        i32 delay;
        int silentPasses;
    };
    for (const Case& c : {Case{0, 0}, Case{1023, 0}, Case{1024, 1}, Case{2500, 2}, Case{4096, 4}}) {
        MakeInstance(c.delay);
        CAuVoiceContext& voice = MakeVoice();
        voice.Start();
        int silent = 0;
        while (silent < 10 && !Update(voice))
            ++silent;
        EXPECT_EQ(silent, c.silentPasses) << c.delay;
        EXPECT_LT(m_instance->StartDelay(), 0) << c.delay;
        m_voice.reset();
    }
}

TEST_F(VoiceContextTest, ABudgetOfZeroDoesNotRender) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    voice.Start();
    m_instance->SetFrameBudget(0);
    EXPECT_FALSE(Update(voice));
    EXPECT_FALSE(voice.ChainBuilt());
    EXPECT_TRUE(Update(voice)); // the budget was taken
}

} // namespace

TEST_F(VoiceContextTest, PitchForwardReachesThePitchNodeAfterSetUp) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    voice.Start();
    ASSERT_TRUE(Update(voice));
    EXPECT_EQ(voice.Pitch().Params().fRateFactor, 1.0f);
    EXPECT_TRUE(voice.Pitch().Params().bInterpolate);
    voice.ForwardPitch(2.0f, false);
    EXPECT_EQ(voice.Pitch().Params().fRateFactor, 2.0f);
    EXPECT_FALSE(voice.Pitch().Params().bInterpolate);
}

TEST_F(VoiceContextTest, SourceEnvelopeIsZeroWithoutAnalysisOrSource) {
    MakeInstance();
    CAuVoiceContext& voice = MakeVoice();
    EXPECT_EQ(voice.GetSourceEnvelope(), 0.0f);
    voice.ReleaseSources();
    EXPECT_EQ(voice.GetSourceEnvelope(), 0.0f);
}
