// Effects a bank attaches: a click sound with a delay of its own on a bus with a room reverb, both
// named by plug-in settings records of the bank writer, played by the running engine and read back
// from the main output's capture.
#include "BankTestSupport.h"

#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuThreads.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuVoiceEdge.h"

#include <AuCaptureFile.h>

#include <AU/AuEffectPlugins.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>

#include <bankgen/Effects.h>
#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E3;
constexpr u32 kMaster = 0x100;
constexpr u32 kReverbBus = 0x101;
constexpr u32 kSound = 0x200;
constexpr u32 kMedia = 0x201;
constexpr u32 kPlay = 0x300;
constexpr u32 kEvent = 0x400;
constexpr u32 kEcho = 0x106;   // the sound's own settings (type 19)
constexpr u32 kReverb = 0x118; // the bus's share set (type 18)
constexpr u32 kEchoCurve = 1;
// Where the media holds its click: past the voice's rise from silence, so that it is heard whole.
constexpr size_t kClickAt = 48000 * AU_VOICE_EDGE_RISE_MS / 1000;
constexpr u32 kObject = 10;
constexpr const char* kBusVolumeName = "SFX_VO_Bus_Volume";
constexpr u32 kBusVolume = 0x01415798;
constexpr size_t kFrame = 1024;
// The delay's 0.5 s at 48 kHz.
constexpr size_t kEchoAt = 24000;

class EffectHeardTest : public RunningEngineTest {
protected:
    EffectHeardTest() : RunningEngineTest("torvik_effects") {}
    void SetUp() override {
        RunningEngineTest::SetUp();
        ASSERT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                                  CreateFx106Params),
                  AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID, CreateFx118,
                                                  CreateFx118Params),
                  AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
    }

    struct Bank {
        u8 soundBypass = 0;
        u8 busBypass = 0;
        f32 decaySeconds = 0.3f;
        bool wetFollowsBusVolume = false;
    };

    // A room reverb of the given decay that passes the dry signal at 0 dB, without early
    // reflections, at the effect's own tuning.
    static AuRoomReverbBlock Reverb(f32 decaySeconds) {
        AuRoomReverbBlock b;
        b.fDecayTime = decaySeconds;
        b.fDampingRatio = 2.25f;
        b.fDiffusion = 100.0f;
        b.fStereoWidth = 180.0f;
        const f32 frequencies[] = {100.0f, 1000.0f, 10000.0f};
        for (u32 k = 0; k < AuRoomReverbBlock::kNumFilters; ++k)
            b.aFilters[k] = {0.0f, frequencies[k], 1.0f, 3, k};
        b.fLFELevel = -96.0f;
        b.fERLevel = -96.0f;
        b.fReverbLevel = -10.0f;
        b.uPattern = 23;
        b.fPreDelay = 20.0f;
        b.fRearDelay = 40.0f;
        b.fRoomSize = 80.0f;
        b.fRoomShape = 100.0f;
        b.uDensity = 8;
        b.fLFEInputLevel = -96.0f;
        const f32 tuning[] = {8.0f, 50.0f, 2.0f, 0.1f, 0.8f, 66.0f, 15.0f, 5.0f, 40.0f, 0.5f, 50.0f};
        std::copy(std::begin(tuning), std::end(tuning), b.afTuning);
        return b;
    }

    // A master bus, the reverb bus below it, the click sound on that bus with its 0.5 s, 50 % wet
    // delay, its play action and the event.
    static Bytes EffectBank(const Bank& bank) {
        bankgen::BankBuilder builder(kBank);
        std::vector<i16> click(4800, 0);
        click[kClickAt] = 16384;
        builder.AddMedia(kMedia, bankgen::MakePcmWave(click, 1, 48000));
        bankgen::BusRecord master;
        master.id = kMaster;
        builder.Add(master);
        bankgen::BusRecord bus;
        bus.id = kReverbBus;
        bus.parent = kMaster;
        bus.effects = {{0, kReverb, 1, 0}};
        bus.bypassBits = bank.busBypass;
        builder.Add(bus);
        builder.Add(bankgen::EffectSettings(kReverb, Reverb(bank.decaySeconds),
                                            bankgen::HierarchyType::SharedPluginSettings));
        AuDelayBlock delay;
        delay.fDelayTime = 0.5f;
        delay.fWetDryMix = 50.0f;
        bankgen::PluginSettingsRecord echo = bankgen::EffectSettings(kEcho, delay);
        if (bank.wetFollowsBusVolume) {
            bankgen::RtpcCurve curve;
            curve.gameParameter = kBusVolume;
            curve.target = CAuDelayEffectParams::WetDryMix;
            curve.curveId = kEchoCurve;
            curve.points = {{0, 0, 4}, {100, 100, 4}};
            echo.rtpcs = {curve};
        }
        builder.Add(echo);
        bankgen::SoundRecord sound = BankSound(kSound, kMedia, kReverbBus);
        sound.node.overrideParentEffects = 1;
        sound.node.effects = {{0, kEcho, 0, 0}};
        sound.node.bypassBits = bank.soundBypass;
        builder.Add(sound);
        builder.Add(PlayAction(kPlay, kSound, kBank));
        builder.Add(bankgen::EventRecord{kEvent, {kPlay}});
        return Built(builder);
    }

    void Load(const Bank& bank) { LoadImage(EffectBank(bank)); }
    // The unload waits for the voices and busses of the bank to let go, frames away.
    void Unload() {
        AURESULT result = AuResultFail;
        AuFrameDriver::WhileOutputPlays([&] { result = AU::SoundEngine::UnloadBank(m_bankID, nullptr); });
        ASSERT_EQ(result, AuResultSuccess);
    }

    // The capture's start and `posts` posts of the event in one batch of messages: the capture's
    // first frame is the first frame rendered after them, whose number is kept.
    void PostWithCapture(const char* file, int posts = 1) {
        const std::wstring name(file, file + std::strlen(file));
        CAuMainLock lock;
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(name.c_str()), AuResultSuccess);
        for (int i = 0; i < posts; ++i)
            ASSERT_NE(AU::SoundEngine::PostEvent(kEvent, kObject), 0u);
        m_firstFrame = g_pAudioMgr->FrameCounter();
    }
    // Runs `step` under the main lock once the audio thread has rendered `frames` frames of the
    // capture, and asks for a pass that takes what it posted; the number of frames rendered then,
    // or 0 when the patience ran out.
    template <class Step> u32 AfterFrames(u32 frames, Step step) {
        u32 rendered = 0;
        const bool reached = RenderUntil([&] {
            CAuMainLock lock;
            rendered = g_pAudioMgr->FrameCounter() - m_firstFrame;
            if (rendered < frames) return false;
            step();
            AU::SoundEngine::RenderAudio();
            return true;
        });
        return reached ? rendered : 0;
    }
    // Under the main lock, what holds the settings besides the bank.
    static u32 Holders(u32 id, bool shared) {
        CAuMainLock lock;
        CAuPluginSettings* settings = CAuPluginSettings::Find(id, shared);
        if (!settings) return 0;
        const u32 holders = settings->m_lRef - 2;
        settings->Release();
        return holders;
    }
    // Once the click is heard and the voice's delay and the bus's reverb have let go of their
    // settings: the voice ended and the bus went idle after its tail.
    AuCaptureFile RenderToTheEnd(const char* file) const {
        const auto path = m_folder / file;
        EXPECT_TRUE(RenderUntil([&] {
            const AuCaptureFile c = AuCaptureFile::Read(path);
            return c.FirstLouderThan(500) < c.Frames() && Holders(kEcho, false) == 0 &&
                   Holders(kReverb, true) == 0;
        })) << file;
        return StopCapture(file);
    }

    u32 m_firstFrame = 0;
};

TEST_F(EffectHeardTest, TheBanksDelayAndReverbPlayTheClickItsEchoAndTheTailAndItsBypassBitsPlayItDry) {
    struct Case {
        u8 soundBypass;
        u8 busBypass;
        const char* file;
    } cases[] = {
        {0, 0, "both.wav"},
        {1, 0, "dry-sound.wav"},
        {0, 1, "dry-bus.wav"},
        {1, 1, "dry.wav"},
    };
    i32 halfWetClick = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Load({c.soundBypass, c.busBypass});
        PostWithCapture(c.file);
        const AuCaptureFile capture = RenderToTheEnd(c.file);
        Unload();
        const size_t click = capture.FirstLouderThan(500);
        ASSERT_LT(click, capture.Frames());
        EXPECT_EQ(click, kClickAt) << "the click is heard where the media holds it, in the first frame";
        const i32 level = capture.At(click, 0);
        if (halfWetClick == 0) halfWetClick = level;
        ASSERT_GT(halfWetClick, 1000);
        // The delay passes half the click at once and half of it 0.5 s later; bypassed, the whole
        // click at once and nothing later. The reverb's dry path at 0 dB is unity within 0.5 %.
        const i32 expected = (c.soundBypass ? 2 : 1) * halfWetClick;
        EXPECT_NEAR(level, expected, 0.005 * expected);
        if (c.soundBypass) {
            EXPECT_LT(Peak(capture, click + kEchoAt - 100, click + kEchoAt + 100), halfWetClick / 100);
        } else {
            ASSERT_LT(click + kEchoAt + kFrame, capture.Frames());
            EXPECT_NEAR(capture.At(click + kEchoAt, 0), level, 0.01 * level);
        }
        // The reverb's tail after the click (past its 20 ms pre-delay): it decays by 60 dB in
        // 0.3 s, so 0.2 s on it is more than ten times quieter. Bypassed, there is nothing
        // between the click and its echo.
        const i32 early = Peak(capture, click + 1000, click + 6000);
        const i32 late = Peak(capture, click + 15000, click + 20000);
        if (c.busBypass) {
            EXPECT_EQ(Peak(capture, click + 1, click + kEchoAt), 0);
            EXPECT_EQ(Peak(capture, click + kEchoAt + 1, capture.Frames()), 0);
        } else {
            EXPECT_GT(early, 20) << "the tail";
            EXPECT_LT(late, early / 10) << "the tail decays";
            if (!c.soundBypass) {
                EXPECT_GT(Peak(capture, click + kEchoAt + 1000, click + kEchoAt + 6000), 20)
                    << "the echo's tail";
            }
        }
        // The bus went idle once its tail ended: the capture ends in silence.
        EXPECT_EQ(Peak(capture, capture.Frames() - kFrame, capture.Frames()), 0);
    }
}

TEST_F(EffectHeardTest, TheBusVolumeParameterMovesTheRunningDelaysWetLevelAndSoItsEcho) {
    EXPECT_EQ(AU::SoundEngine::GetIDFromString(kBusVolumeName), kBusVolume);
    Load({0, 0, 0.3f, true});
    u32 subscriptions = 0;
    {
        CAuMainLock lock;
        subscriptions = g_pRTPCMgr->SubscriptionCount();
    }
    struct Case {
        f32 moveTo;       // the game parameter after the click
        f64 echoPerClick; // the echo against the click, which was half wet
        const char* file;
    } cases[] = {
        {50.0f, 1.0, "kept.wav"},
        {0.0f, 0.0, "dry.wav"},
        {100.0f, 2.0, "wet.wav"},
        {25.0f, 0.5, "quarter.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(AU::SoundEngine::SetRTPCValue(kBusVolumeName, 50.0f), AuResultSuccess);
        PostWithCapture(c.file);
        const u32 movedAt = AfterFrames(
            2, [&] { EXPECT_EQ(AU::SoundEngine::SetRTPCValue(kBusVolumeName, c.moveTo), AuResultSuccess); });
        // The echo is in the capture's 24th frame.
        ASSERT_GE(movedAt, 2u);
        ASSERT_LT(movedAt, kEchoAt / kFrame) << "the echo was rendered before the move";
        const AuCaptureFile capture = RenderToTheEnd(c.file);
        const size_t click = capture.FirstLouderThan(500);
        ASSERT_LT(click + kEchoAt, capture.Frames());
        const f64 level = capture.At(click, 0);
        EXPECT_GT(level, 1000.0);
        EXPECT_NEAR(capture.At(click + kEchoAt, 0) / level, c.echoPerClick, 0.01);
    }
    CAuMainLock lock;
    EXPECT_EQ(g_pRTPCMgr->SubscriptionCount(), subscriptions) << "every delay left with its voice";
}

TEST_F(EffectHeardTest, RemovingTheCurveUnsubscribesEveryRunningDelaySoTheParameterNoLongerMovesTheEcho) {
    Load({0, 0, 0.3f, true});
    ASSERT_EQ(AU::SoundEngine::SetRTPCValue(kBusVolumeName, 50.0f), AuResultSuccess);
    // Two voices of the sound, each with its own delay made from the settings.
    PostWithCapture("removed.wav", 2);
    const u32 removedAt = AfterFrames(2, [&] {
        CAuPluginSettings* echo = CAuPluginSettings::Find(kEcho, false);
        ASSERT_NE(echo, nullptr);
        std::vector<CAuPluginParamHolder*> instances;
        CAuLowerEngine::ForEachPluginInstance(
            *echo,
            [](CAuPluginParamHolder& holder, void* list) {
                static_cast<std::vector<CAuPluginParamHolder*>*>(list)->push_back(&holder);
            },
            &instances);
        ASSERT_EQ(instances.size(), 2u);
        for (CAuPluginParamHolder* holder : instances)
            ASSERT_NE(g_pRTPCMgr->FindSubscription(holder, CAuDelayEffectParams::WetDryMix), nullptr);
        const u32 subscriptions = g_pRTPCMgr->SubscriptionCount();
        echo->RemoveRTPCEntry(CAuDelayEffectParams::WetDryMix, kEchoCurve);
        EXPECT_EQ(echo->RTPCEntries().Count(), 0u);
        EXPECT_EQ(g_pRTPCMgr->SubscriptionCount(), subscriptions - 2);
        for (CAuPluginParamHolder* holder : instances)
            EXPECT_EQ(g_pRTPCMgr->FindSubscription(holder, CAuDelayEffectParams::WetDryMix), nullptr);
        echo->Release();
        EXPECT_EQ(AU::SoundEngine::SetRTPCValue(kBusVolumeName, 0.0f), AuResultSuccess);
    });
    ASSERT_GE(removedAt, 2u);
    ASSERT_LT(removedAt, kEchoAt / kFrame) << "the echo was rendered before the removal";
    const AuCaptureFile capture = RenderToTheEnd("removed.wav");
    const size_t click = capture.FirstLouderThan(500);
    ASSERT_LT(click + kEchoAt, capture.Frames());
    const f64 level = capture.At(click, 0);
    EXPECT_GT(level, 1000.0);
    EXPECT_NEAR(capture.At(click + kEchoAt, 0) / level, 1.0, 0.01) << "both echoes stay half wet";
}

TEST_F(EffectHeardTest, ABankUnloadedWhileItsReverbRingsKeepsTheSettingsUntilTheInsertLetsGo) {
    // The objects of every index table.
    const auto indexed = [] {
        CAuMainLock lock;
        u32 count = 0;
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            count += g_pIndex->Table(AuIndexTableId(table)).Count();
        return count;
    };
    Load({0, 0, 2.0f});
    PostWithCapture("unloaded.wav");
    ASSERT_GE(AfterFrames(2, [] {}), 2u);
    Unload();
    u32 unloadedAt = 0;
    {
        CAuMainLock lock;
        unloadedAt = g_pAudioMgr->FrameCounter() - m_firstFrame;
        EXPECT_EQ(g_pIndex->Table(AuIndexPluginSettings18).Count(), 1u)
            << "the ringing insert holds the reverb";
    }
    // 2 s of decay is some 94 frames: the bus rings on for a long while after the unload, then
    // goes idle and its insert lets go of the last settings.
    EXPECT_TRUE(RenderUntil([&] { return indexed() == 0; })) << "objects outlive the bank";
    const AuCaptureFile capture = StopCapture("unloaded.wav");
    const size_t after = (unloadedAt + 1) * kFrame;
    ASSERT_LT(after + 10 * kFrame, capture.Frames());
    EXPECT_GT(capture.At(kClickAt, 0), 1000) << "the click";
    EXPECT_GT(Peak(capture, after, after + 10 * kFrame), 20) << "the reverb rings after the unload";
    EXPECT_EQ(Peak(capture, capture.Frames() - kFrame, capture.Frames()), 0) << "and ends";
}

} // namespace
} // namespace banktest
