// The music engine's life with the sound engine: Init and Term in every order, the hooks it
// leaves in the core, what a failed start leaves, and the segment-information rows.
#include "MusicFakes.h"
#include "MusicTestSupport.h"
#include "core/AuPlayingMgr.h"
#include "core/AuThreads.h"
#include "music/AuMusicEngine.h"

#include <AU/MusicEngine.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>

namespace {

using au_test::PoolFiller;

class MusicEngineTest : public au_test::SoundEngineRunning {
protected:
    void TearDown() override {
        AU::MusicEngine::Term();
        SoundEngineRunning::TearDown();
    }
    // Runs one pass of the global callbacks with the audio thread held off; how many MIDI frames
    // it advanced tells how many times the music frame callback is registered.
    static u64 MusicCallsInOnePass() {
        CAuMainLock lock;
        CAuMusicEngine* engine = g_pMusicEngine.load();
        if (!engine) return 0;
        const u64 before = engine->pMidiHandler->FramesAdvanced();
        AuSoundEngineInternal::CallGlobalCallbacks(false);
        return engine->pMidiHandler->FramesAdvanced() - before;
    }
    static void ExpectHooksInstalled() {
        EXPECT_EQ(g_pfnStateChangeHandler.load(), &MusicStateChangeHandler);
        EXPECT_EQ(g_pfnBankExtensionReader.load(), &MusicBankObjectLoader);
    }
};

TEST_F(MusicEngineTest, EveryWayToInitLeavesOneFrameCallbackAndTheHooks) {
    struct Case {
        const char* name;
        std::function<void()> before;
    };
    const Case cases[] = {
        {"first Init", [] {}},
        {"second Init", [] { ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess); }},
        {"Init after Term",
         [] {
             ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
             AU::MusicEngine::Term();
         }},
        {"Init after the sound engine's Term and Init",
         [] {
             ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
             AU::MusicEngine::Term();
             AU::SoundEngine::Term();
             ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
         }},
        {"Init after the sound engine's Term with the music engine made",
         [] {
             ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
             AU::SoundEngine::Term();
             ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
        ASSERT_NE(g_pMusicEngine.load(), nullptr);
        EXPECT_EQ(g_pMusicEngine.load()->settings.fLookAheadScale, 1.0f);
        EXPECT_EQ(MusicCallsInOnePass(), 1u);
        ExpectHooksInstalled();
        AU::MusicEngine::Term();
        AU::SoundEngine::Term();
        ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    }
}

TEST_F(MusicEngineTest, TheLookAheadScaleIsKeptOnlyWhenUsable) {
    const struct {
        f32 given;
        f32 kept;
    } cases[] = {{0.5f, 0.5f},
                 {0.0f, 0.0f},
                 {2.0f, 2.0f},
                 {-1.0f, 1.0f},
                 {std::numeric_limits<f32>::quiet_NaN(), 1.0f},
                 {std::numeric_limits<f32>::infinity(), 1.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        AuMusicSettings settings;
        AU::MusicEngine::GetDefaultInitSettings(settings);
        EXPECT_EQ(settings.fLookAheadScale, 1.0f);
        settings.fLookAheadScale = c.given;
        ASSERT_EQ(AU::MusicEngine::Init(&settings), AuResultSuccess);
        EXPECT_EQ(g_pMusicEngine.load()->settings.fLookAheadScale, c.kept);
        AU::MusicEngine::Term();
    }
}

TEST_F(MusicEngineTest, AFailedStartLeavesNothingAndALaterInitSucceeds) {
    enum class Fault { Singleton, TermEvent, MidiHandler };
    const struct {
        const char* name;
        Fault fault;
    } cases[] = {{"singleton", Fault::Singleton},
                 {"term event", Fault::TermEvent},
                 {"MIDI handler", Fault::MidiHandler}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const u32 usedBefore = Used();
        const size_t handlesBefore = win32test::OpenHandleCount();
        {
            // The audio thread waits, so it takes nothing of what the filler leaves.
            CAuMainLock lock;
            std::vector<u32> keep;
            if (c.fault == Fault::TermEvent) {
                win32test::FailNextEventCreations(1);
                keep = {sizeof(CAuMusicEngine), sizeof(CAuMidiHandler)};
            } else if (c.fault == Fault::MidiHandler) {
                keep = {sizeof(CAuMusicEngine)};
            }
            PoolFiller filler(g_DefaultPoolId, keep);
            EXPECT_EQ(AU::MusicEngine::Init(nullptr), AuResultFail);
            win32test::FailNextEventCreations(0);
        }
        EXPECT_EQ(g_pMusicEngine.load(), nullptr);
        EXPECT_EQ(Used(), usedBefore);
        EXPECT_EQ(win32test::OpenHandleCount(), handlesBefore);
        ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
        EXPECT_EQ(MusicCallsInOnePass(), 1u);
        AU::MusicEngine::Term();
    }
}

TEST_F(MusicEngineTest, InitWithoutTheSoundEngineFails) {
    AU::SoundEngine::Term();
    EXPECT_EQ(AU::MusicEngine::Init(nullptr), AuResultFail);
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
}

TEST_F(MusicEngineTest, TermWithoutInitAndASecondTermDoNothing) {
    AU::MusicEngine::Term();
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    const size_t handles = win32test::OpenHandleCount();
    AU::MusicEngine::Term();
    EXPECT_EQ(win32test::OpenHandleCount(), handles - 1) << "the term event is closed";
    AU::MusicEngine::Term();
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
}

// The hooks stay in the core after Term; each must then do nothing (a freed engine is never
// touched), in both orders of stopping the two engines.
TEST_F(MusicEngineTest, TheHooksLeftInstalledTouchNothingOnceTheEngineIsGone) {
    const u8 record[5] = {10, 0, 0, 0, 0};
    for (bool musicFirst : {true, false}) {
        SCOPED_TRACE(musicFirst ? "music engine stopped first" : "sound engine stopped first");
        ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
        if (musicFirst) AU::MusicEngine::Term();
        AU::SoundEngine::Term(); // the callbacks' last call
        EXPECT_EQ(g_pMusicEngine.load(), nullptr);
        AU::MusicEngine::Term();
        ExpectHooksInstalled();
        EXPECT_FALSE(g_pfnStateChangeHandler.load()(1, 2)) << "the core applies the change";
        EXPECT_EQ(g_pfnBankExtensionReader.load()(record, nullptr, 7), AuResultTypeNotHandled);
        MusicFrameCallback(false);
        MusicFrameCallback(true);
        MusicEngineRequestSpeedRefresh(1);
        ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    }
}

TEST_F(MusicEngineTest, TheBankReaderLeavesTheOtherRecordTypesToTheCore) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    for (u8 type : {u8{0}, u8{9}, u8{14}, u8{23}}) {
        const u8 record[5] = {type, 0, 0, 0, 0};
        EXPECT_EQ(MusicBankObjectLoader(record, nullptr, 1), AuResultTypeNotHandled) << int{type};
    }
    // Its own types need the bank that lists them.
    for (u8 type : {u8{10}, u8{11}, u8{12}, u8{13}}) {
        const u8 record[5] = {type, 0, 0, 0, 0};
        EXPECT_EQ(MusicBankObjectLoader(record, nullptr, 1), AuResultFail) << int{type};
    }
}

TEST_F(MusicEngineTest, SegmentInfoComesFromTheRowAndExtrapolatesOnlyWithALength) {
    win32test::UseVirtualClock(1'000'000'000);
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    CAuSegmentInfoRepository& rows = g_pMusicEngine.load()->segmentInfo;
    AuSegmentInfo info{11, 22, 33, 44, 55};
    const AuSegmentInfo untouched = info;
    EXPECT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(9, info, true), AuResultFail);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);

    ASSERT_EQ(rows.AddRow(9), AuResultSuccess);
    win32test::AdvanceVirtualClock(5'000'000);
    EXPECT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(9, info, true), AuResultSuccess);
    EXPECT_EQ(info.iCurrentPosition, 0) << "a zeroed row has no length to extrapolate over";
    EXPECT_EQ(info.iRemainingDuration, 0);

    const struct {
        AuSegmentInfo row;
        bool extrapolate;
        i32 position;
    } cases[] = {{{100, 0, 0, 0, 7}, true, 100},     {{100, 1, 0, 0, 7}, true, 102},
                 {{100, 0, 1, 0, 7}, true, 102},     {{100, 0, 0, 1, 7}, true, 102},
                 {{100, 0, 2000, 0, 7}, false, 100}, {{-50, 10, 2000, 0, 7}, true, -48}};
    for (const auto& c : cases) {
        rows.UpdateRow(9, c.row);
        // 2.7 ms later: whole milliseconds are added, the rest truncated.
        win32test::AdvanceVirtualClock(2'700'000);
        ASSERT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(9, info, c.extrapolate), AuResultSuccess);
        EXPECT_EQ(info.iCurrentPosition, c.position);
        EXPECT_EQ(info.iActiveDuration, c.row.iActiveDuration);
        EXPECT_EQ(info.iRemainingDuration, 7);
    }
    rows.RemoveRow(9);
    EXPECT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(9, info, false), AuResultFail);
    win32test::UseRealClock();
}

// Starts a root on the running engine, as the audio thread's pass would; it stops by itself once
// its clock reaches `endAt` (0: never).
au_test::TimelineCtx* StartOnTheEngine(au_test::RecordingNode& node, AuPlayingID playingID, u64 endAt) {
    CAuMainLock lock;
    EXPECT_EQ(g_pPlayingMgr->AddPlayingID(playingID, 9, 77, nullptr, nullptr, 0, nullptr), AuResultSuccess);
    auto* ctx = AuMusicNew<au_test::TimelineCtx>(nullptr, &node);
    ctx->AddRef();
    ctx->endAt = endAt;
    AuMusicPlayParams params;
    params.playingID = playingID;
    EXPECT_EQ(ctx->Play(params), AuResultSuccess);
    g_pPlayingMgr->RemovePendingAction(playingID);
    ctx->Release();
    return ctx;
}

// The audio thread's frames: each play gets the next window of its clock at its speed, a speed
// refresh reaches every play at the next frame, and the MIDI handler steps with or without music.
TEST_F(MusicEngineTest, TheAudioThreadHandsEachPlayItsNextWindow) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    const auto midiFrames = [] {
        CAuMainLock lock;
        return g_pMusicEngine.load()->pMidiHandler->FramesAdvanced();
    };
    const u64 idle = midiFrames();
    while (midiFrames() < idle + 3)
        std::this_thread::yield();

    au_test::RecordingNode normal;
    au_test::RecordingNode slow;
    slow.speed = 0.5f;
    au_test::TimelineCtx* a = StartOnTheEngine(normal, 5, 0);
    au_test::TimelineCtx* b = StartOnTheEngine(slow, 6, 0);
    const auto windowsOf = [](au_test::TimelineCtx* ctx) {
        CAuMainLock lock;
        return ctx->windows;
    };
    while (windowsOf(b).size() < 4)
        std::this_thread::yield();
    {
        CAuMainLock lock;
        normal.speed = 2.0f;
        slow.speed = 2.0f;
        MusicEngineRequestSpeedRefresh(0);
    }
    while (windowsOf(a).size() < 8 || windowsOf(b).size() < 8)
        std::this_thread::yield();
    for (au_test::TimelineCtx* ctx : {a, b}) {
        const u32 before = ctx == a ? 1024 : 512;
        u64 clock = 0;
        bool refreshed = false;
        for (const auto& [start, length] : windowsOf(ctx)) {
            EXPECT_EQ(start, clock) << "windows follow each other";
            refreshed = refreshed || length == 2048;
            EXPECT_EQ(length, refreshed ? 2048u : before);
            clock += length;
        }
        EXPECT_TRUE(refreshed);
    }
    // The plays end before their nodes go.
    AU::MusicEngine::Term();
}

TEST_F(MusicEngineTest, TermWaitsForTheAudioThreadToReleaseTheLastRoot) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    au_test::RecordingNode node;
    // Ends about 40 frames into the play, on the audio thread.
    StartOnTheEngine(node, 5, 40 * 1024);
    AU::MusicEngine::Term();
    EXPECT_EQ(au_test::TimelineCtx::s_live, 0u);
    EXPECT_EQ(node.calls, (std::vector<i32>{3, -3}));
    EXPECT_FALSE(g_pPlayingMgr->IsLive(5));
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
}

TEST_F(MusicEngineTest, TermWithNothingPlayingReturnsWithoutWaiting) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    // With the audio thread held off, a wait could never end.
    CAuMainLock lock;
    AU::MusicEngine::Term();
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
}

// Term cannot wait for a root to end by itself: it stops every root, and lets go of those that the
// audio thread does not release (it renders nothing while suspended).
TEST_F(MusicEngineTest, TermStopsARootThatWouldPlayForEver) {
    for (const bool suspended : {false, true}) {
        SCOPED_TRACE(suspended ? "suspended" : "rendering");
        ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
        if (suspended) {
            ASSERT_EQ(AU::SoundEngine::Suspend(false), AuResultSuccess);
        }
        au_test::RecordingNode node;
        StartOnTheEngine(node, 5, 0);
        AU::MusicEngine::Term();
        EXPECT_EQ(au_test::TimelineCtx::s_live, 0u);
        EXPECT_EQ(node.calls, (std::vector<i32>{3, -3}));
        EXPECT_FALSE(g_pPlayingMgr->IsLive(5));
        EXPECT_EQ(g_pMusicEngine.load(), nullptr);
        if (suspended) {
            ASSERT_EQ(AU::SoundEngine::WakeupFromSuspend(), AuResultSuccess);
        }
    }
}

// A root that someone else still holds outlives the engine; its last release ends the play without it.
TEST_F(MusicEngineTest, TermLetsGoOfARootThatSomeoneStillHolds) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    au_test::RecordingNode node;
    au_test::TimelineCtx* ctx = StartOnTheEngine(node, 5, 0);
    {
        CAuMainLock lock;
        ctx->AddRef();
    }
    AU::MusicEngine::Term();
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
    {
        CAuMainLock lock;
        EXPECT_TRUE(ctx->IsStopped());
        EXPECT_EQ(node.calls, (std::vector<i32>{3}));
        ctx->Release();
    }
    EXPECT_EQ(au_test::TimelineCtx::s_live, 0u);
    EXPECT_EQ(node.calls, (std::vector<i32>{3, -3}));
    EXPECT_FALSE(g_pPlayingMgr->IsLive(5));
}

// The other order of stopping: the sound engine first, with a root playing. Its last call of the
// callbacks ends the play while the core's managers still exist; the music Term then has nothing.
TEST_F(MusicEngineTest, TheSoundEnginesTermFirstReleasesThePlayingRoots) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    au_test::RecordingNode node;
    StartOnTheEngine(node, 6, 0);
    AU::SoundEngine::Term();
    EXPECT_EQ(au_test::TimelineCtx::s_live, 0u);
    EXPECT_EQ(node.calls, (std::vector<i32>{3, -3}));
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
    AU::MusicEngine::Term();
}

// GetPlayingSegmentInfo from the game's thread while the audio thread writes the row every frame.
TEST_F(MusicEngineTest, SegmentInfoReadsRaceTheFramesCleanly) {
    ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    au_test::RecordingNode node;
    au_test::TimelineCtx* ctx = nullptr;
    {
        CAuMainLock lock;
        ASSERT_EQ(g_pPlayingMgr->AddPlayingID(8, 9, 77, nullptr, nullptr, CAuMusicTopCtx::kFlagSegmentInfo,
                                              nullptr),
                  AuResultSuccess);
        ctx = AuMusicNew<au_test::TimelineCtx>(nullptr, &node);
        ctx->AddRef();
        AuMusicPlayParams params;
        params.playingID = 8;
        ASSERT_EQ(ctx->Play(params), AuResultSuccess);
        g_pPlayingMgr->RemovePendingAction(8);
        ctx->Release();
    }
    i32 last = -1;
    while (last < 20) {
        AuSegmentInfo info{};
        ASSERT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(8, info, false), AuResultSuccess);
        EXPECT_GE(info.iCurrentPosition, last) << "rows only move forward";
        last = info.iCurrentPosition;
        std::this_thread::yield();
    }
    {
        CAuMainLock lock;
        ctx->StopWithFade({}, 0);
    }
    AU::MusicEngine::Term();
}

} // namespace
