// The context tree and the sequencer driven frame by frame as the audio pass drives them (the
// transitions, then the music frame callback), with no audio thread: fades, pauses, stops, the
// clock and its speed, the end of a play, and state changes held for a sync point, read back from
// the message ring.
#include "MusicFakes.h"
#include "core/AuAudioMgr.h"
#include "core/AuMsgPayloads.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"

#include <AuDefaultPoolTest.h>

#include <cmath>
#include <string>

namespace {

using au_test::kBar;
using au_test::kSyncNextBar;
using au_test::RecordingChild;
using au_test::RecordingNode;
using au_test::TimelineCtx;

std::vector<AuCallbackType> g_callbacks;
std::vector<std::string> g_cues;

void RecordCallback(AuCallbackType type, AuCallbackInfo* info) {
    g_callbacks.push_back(type);
    if (type == AU_MusicSyncUserCue)
        g_cues.push_back(static_cast<AuMusicSyncCallbackInfo*>(info)->pszUserCueName);
}

class MusicTreeTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_callbacks.clear();
        g_cues.clear();
        ASSERT_EQ(m_playing.Init(), AuResultSuccess);
        g_pPlayingMgr = &m_playing;
        ASSERT_EQ(m_audio.Init(1u << 16), AuResultSuccess);
        g_pAudioMgr = &m_audio;
        ASSERT_EQ(m_transitions.Init(16), AuResultSuccess);
        m_transitions.SetOutputTiming(21, 1024);
        g_pTransitionMgr = &m_transitions;
        g_uNumSamplesPerFrame = 1024;
        ASSERT_NE(MusicEngineCreate(nullptr), nullptr);
        m_engine = g_pMusicEngine.load();
        AuSetTriggerRegistry(&m_triggers);
    }
    void TearDown() override {
        // The sound engine's last call of its callbacks: every root is let go and the engine freed.
        MusicFrameCallback(true);
        EXPECT_EQ(TimelineCtx::s_live, 0u);
        AuSetTriggerRegistry(nullptr);
        g_pTransitionMgr = nullptr;
        m_transitions.Term();
        g_pAudioMgr = nullptr;
        m_audio.Term();
        g_pPlayingMgr = nullptr;
        m_playing.Term();
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }

    // One audio pass.
    void Frame() {
        m_transitions.ProcessTransitionsList(++m_frame);
        MusicFrameCallback(false);
    }
    // A root started with its creator's reference already given back: the play holds it.
    TimelineCtx* Start(AuPlayingID playingID, AuMusicFade fade = {}, u32 flags = 0) {
        if (playingID) {
            EXPECT_EQ(m_playing.AddPlayingID(playingID, 9, 77, RecordCallback, nullptr, flags, nullptr),
                      AuResultSuccess);
        }
        auto* ctx = AuMusicNew<TimelineCtx>(nullptr, &m_node);
        ctx->AddRef();
        AuMusicPlayParams params;
        params.gameObjID = 9;
        params.playingID = playingID;
        params.fade = fade;
        const AURESULT result = ctx->Play(params);
        if (playingID) m_playing.RemovePendingAction(playingID);
        ctx->Release();
        return result == AuResultSuccess ? ctx : nullptr;
    }
    // The messages posted so far, in order.
    std::vector<const AuQueuedMsg*> Posted() {
        std::vector<const AuQueuedMsg*> found;
        for (u32 at = m_audio.ReadOffset(); at != m_audio.WriteOffset();) {
            const auto* msg = reinterpret_cast<const AuQueuedMsg*>(m_audio.Ring() + at);
            found.push_back(msg);
            at += msg->size;
        }
        return found;
    }
    std::vector<AuMsgSetState> StateMessages() {
        std::vector<AuMsgSetState> found;
        for (const AuQueuedMsg* msg : Posted())
            if (msg->type == AuQueuedMsgType_SetState) found.push_back(msg->As<AuMsgSetState>());
        return found;
    }

    CAuPlayingMgr m_playing;
    CAuAudioMgr m_audio;
    CAuTransitionMgr m_transitions;
    CAuMusicEngine* m_engine = nullptr;
    au_test::RecordingTriggers m_triggers;
    RecordingNode m_node;
    u32 m_frame = 0;
};

TEST_F(MusicTreeTest, EveryFrameHandsEachRootTheNextWindowAtItsSpeed) {
    TimelineCtx* a = Start(1);
    TimelineCtx* b = Start(2);
    for (int i = 0; i < 3; ++i)
        Frame();
    using W = std::vector<std::pair<u64, u32>>;
    EXPECT_EQ(a->windows, (W{{0, 1024}, {1024, 1024}, {2048, 1024}}));
    EXPECT_EQ(b->windows, a->windows);
    // The speed is read again only on request.
    m_node.speed = 0.5f;
    RecordingChild voice;
    b->AddChild(&voice);
    Frame();
    EXPECT_EQ(b->windows.back(), (std::pair<u64, u32>{3072, 1024}));
    MusicEngineRequestSpeedRefresh(1);
    Frame();
    Frame();
    // The next frame after the request, for every play.
    for (TimelineCtx* root : {a, b}) {
        EXPECT_EQ(root->windows[4], (std::pair<u64, u32>{4096, 512}));
        EXPECT_EQ(root->windows[5], (std::pair<u64, u32>{4608, 512}));
    }
    ASSERT_FALSE(voice.params.empty());
    EXPECT_EQ(voice.params.back(), (std::pair<u32, f32>{54, 0.5f}));
    EXPECT_EQ(m_engine->pMidiHandler->FramesAdvanced(), 6u);
    // Each play's MIDI router follows its clock.
    EXPECT_EQ(b->Sequencer()->MidiRouter().FramesAdvanced(), 6u);
    EXPECT_EQ(b->Sequencer()->MidiRouter().SamplesAdvanced(), 4 * 1024u + 2 * 512u);
    EXPECT_EQ(b->Sequencer()->MidiRouter().Speed(), 0.5f);
    b->RemoveChild(&voice);
}

TEST_F(MusicTreeTest, UnusableSpeedsPlayAtOneAndTheStepRoundsHalfAwayFromZero) {
    for (f32 speed : {0.0f, -2.0f, std::nanf(""), INFINITY})
        EXPECT_EQ(CAuMusicSequencer::UsableSpeed(speed), 1.0f) << speed;
    EXPECT_EQ(CAuMusicSequencer::UsableSpeed(0.25f), 0.25f);
    const struct {
        u32 frame;
        f32 speed;
        u32 step;
    } cases[] = {{1024, 1.0f, 1024}, {1024, 0.5f, 512},  {1024, 1.5f, 1536},
                 {3, 0.5f, 2},       {1024, 1e30f, ~0u}, {5, 0.1f, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(CAuMusicSequencer::FrameStep(c.frame, c.speed), c.step) << c.frame << " x " << c.speed;
}

TEST_F(MusicTreeTest, ARootThatEndsInItsOwnFrameLeavesTheWalkIntact) {
    TimelineCtx* first = Start(1);
    TimelineCtx* middle = Start(2);
    TimelineCtx* last = Start(3);
    middle->endAt = 1500;
    Frame();
    Frame();
    EXPECT_EQ(TimelineCtx::s_live, 2u);
    Frame();
    EXPECT_EQ(first->windows.size(), 3u);
    EXPECT_EQ(last->windows.size(), 3u);
    EXPECT_FALSE(m_playing.IsLive(2));
    EXPECT_TRUE(m_playing.IsLive(1));
    EXPECT_EQ(m_engine->pFirstTop, last);
    EXPECT_EQ(m_engine->pLastTop, first);
}

TEST_F(MusicTreeTest, TheLastReleaseOfTheRootEndsThePlayOnce) {
    TimelineCtx* root = Start(7, {}, CAuMusicTopCtx::kFlagSegmentInfo | AU_MusicPlayStarted);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(g_callbacks, std::vector<AuCallbackType>{AU_MusicPlayStarted});
    auto* child = AuMusicNew<TimelineCtx>(root, &m_node);
    child->AddRef();
    child->SetPlaying();
    EXPECT_EQ(root->RefCount(), 2u) << "the play's and the child's";
    Frame();
    Frame();
    AuSegmentInfo info{};
    EXPECT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(7, info, false), AuResultSuccess);
    EXPECT_EQ(info.iActiveDuration, 2000);
    EXPECT_EQ(info.iCurrentPosition, 1) << "the answer of the latest frame, asked before its window";
    root->StopWithFade({}, AuMusicNoStopOffset);
    EXPECT_TRUE(child->IsStopping()) << "a stop at no particular offset waits for the frame's end";
    Frame();
    EXPECT_TRUE(m_playing.IsLive(7)) << "the child still holds the root";
    EXPECT_EQ(m_node.calls, std::vector<i32>{3});
    child->Release();
    EXPECT_EQ(TimelineCtx::s_live, 0u);
    EXPECT_FALSE(m_playing.IsLive(7));
    EXPECT_EQ(m_node.calls, (std::vector<i32>{3, -3}));
    EXPECT_EQ(AU::MusicEngine::GetPlayingSegmentInfo(7, info, false), AuResultFail);
    EXPECT_EQ(m_engine->pFirstTop, nullptr);
    EXPECT_EQ(WaitForSingleObject(m_engine->hTermEvent, 0), WAIT_OBJECT_0);
}

TEST_F(MusicTreeTest, APlayIsRefusedWithoutAPlayingIDOrWhenTheNodeRefuses) {
    EXPECT_EQ(Start(0), nullptr);
    EXPECT_TRUE(m_node.calls.empty()) << "nothing counted that could never be given back";
    m_node.refuse = true;
    EXPECT_EQ(Start(4), nullptr);
    EXPECT_EQ(m_node.calls, (std::vector<i32>{3, -3}));
    EXPECT_EQ(m_engine->pFirstTop, nullptr);
    EXPECT_EQ(TimelineCtx::s_live, 0u);
}

TEST_F(MusicTreeTest, APlayFadeRisesOverItsFramesAndReachesTheChildren) {
    const struct {
        const char* name;
        AuMusicFade fade;
        u32 firstFrame; // the first frame that moves the level
    } cases[] = {{"at once", {100, AuCurveInterpolation_Linear, 0}, 1},
                 {"2048 samples later", {100, AuCurveInterpolation_Linear, 2048}, 3},
                 {"an offset before now", {100, AuCurveInterpolation_Linear, -4096}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TimelineCtx* root = Start(11, c.fade);
        RecordingChild voice;
        root->AddChild(&voice);
        std::vector<f32> levels;
        std::vector<f32> handed; // the child's level after each frame
        for (u32 i = 0; i < 8; ++i) {
            Frame();
            levels.push_back(root->PlayStopLevel());
            handed.push_back(voice.levels.empty() ? 0.0f : voice.levels.back().second);
        }
        EXPECT_EQ(handed, levels) << "every new level reaches the child in its frame";
        for (u32 i = 0; i + 1 < c.firstFrame; ++i)
            EXPECT_EQ(levels[i], 0.0f) << i;
        // 100 ms in 21 ms buffers: five frames.
        EXPECT_LT(levels[c.firstFrame + 2], 1.0f);
        EXPECT_EQ(levels[c.firstFrame + 3], 1.0f);
        ASSERT_FALSE(voice.levels.empty());
        EXPECT_EQ(voice.levels.back().second, 1.0f);
        EXPECT_FALSE(root->HasPlayStopFade());
        root->RemoveChild(&voice);
        root->StopWithFade({}, 0);
        Frame();
    }
}

TEST_F(MusicTreeTest, AFadeThatCannotBeMadeSetsTheLevelAtOnce) {
    g_pTransitionMgr = nullptr;
    TimelineCtx* root = Start(12, {100});
    EXPECT_EQ(root->PlayStopLevel(), 1.0f);
    root->StopWithFade({100}, 300);
    EXPECT_EQ(root->PlayStopLevel(), 0.0f);
    EXPECT_TRUE(root->IsStopping()) << "the stop fade's end stops it, at no particular offset";
    EXPECT_EQ(root->StopOffset(), AuMusicNoStopOffset);
    g_pTransitionMgr = &m_transitions;
    Frame();
    EXPECT_EQ(TimelineCtx::s_live, 0u);
}

TEST_F(MusicTreeTest, AFinishedStopFadeStopsWithNoOffset) {
    TimelineCtx* root = Start(13);
    root->AddRef();
    RecordingChild voice;
    root->AddChild(&voice);
    root->StopWithFade({50}, 300);
    // 50 ms in 21 ms buffers: three frames.
    Frame();
    Frame();
    EXPECT_TRUE(voice.stops.empty());
    EXPECT_GT(root->PlayStopLevel(), 0.0f);
    Frame();
    EXPECT_EQ(voice.stops, std::vector<u32>{AuMusicNoStopOffset});
    EXPECT_EQ(root->PlayStopLevel(), 0.0f);
    EXPECT_TRUE(root->IsStopped());
    root->RemoveChild(&voice);
    root->Release();
    EXPECT_EQ(TimelineCtx::s_live, 0u);
}

TEST_F(MusicTreeTest, PausesCountAndAStopWhilePausedIsImmediate) {
    TimelineCtx* root = Start(14);
    root->PauseWithFade({});
    root->PauseWithFade({});
    Frame();
    EXPECT_TRUE(root->IsPaused());
    const size_t windows = root->windows.size();
    Frame();
    EXPECT_EQ(root->windows.size(), windows) << "a paused root's clock stands";
    root->ResumeWithFade({}, false);
    EXPECT_TRUE(root->IsPaused());
    EXPECT_EQ(root->PauseCount(), 1u);
    root->ResumeWithFade({}, false);
    EXPECT_FALSE(root->IsPaused());
    EXPECT_EQ(root->PauseLevel(), 1.0f);
    root->PauseWithFade({});
    Frame();
    ASSERT_TRUE(root->IsPaused());
    root->StopWithFade({500}, 0);
    EXPECT_TRUE(root->IsStopped());
}

TEST_F(MusicTreeTest, AStopAtAnOffsetMakesAPlayingContextStopping) {
    TimelineCtx* root = Start(15);
    auto* child = AuMusicNew<TimelineCtx>(root, &m_node);
    child->AddRef();
    child->SetPlaying();
    root->OnStopped(300);
    EXPECT_TRUE(root->IsStopping());
    EXPECT_EQ(root->StopOffset(), 300u);
    EXPECT_EQ(child->StopOffset(), 300u);
    root->OnLastFrame();
    EXPECT_TRUE(root->IsStopped());
    EXPECT_TRUE(child->IsStopped());
    child->Release();
    Frame();
}

// Term stops all the sound engine plays and asks for a frame; with no audio thread to release the
// roots, it lets go of them itself.
TEST_F(MusicTreeTest, TermPostsAStopOfEverythingAndAFrame) {
    Start(16);
    AU::MusicEngine::Term();
    EXPECT_EQ(g_pMusicEngine.load(), nullptr);
    EXPECT_EQ(TimelineCtx::s_live, 0u);
    EXPECT_FALSE(m_playing.IsLive(16));
    EXPECT_EQ(m_node.calls, (std::vector<i32>{3, -3}));
    const std::vector<const AuQueuedMsg*> posted = Posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0]->type, AuQueuedMsgType_StopAll);
    EXPECT_EQ(posted[0]->As<AuMsgStopAll>().gameObjID, AU_INVALID_GAME_OBJECT);
    EXPECT_EQ(posted[1]->type, AuQueuedMsgType_EndOfFrame);
}

TEST_F(MusicTreeTest, TheActionEntryPointsFindTheirRoots) {
    TimelineCtx* a = Start(21);
    TimelineCtx* b = Start(22);
    const struct {
        AuUniqueID node;
        u32 gameObj;
        AuPlayingID playingID;
        bool a, b;
    } cases[] = {{500, 0, 0, true, true},   {500, 9, 0, true, true},   {500, 8, 0, false, false},
                 {500, 0, 22, false, true}, {501, 0, 0, false, false}, {500, 9, 21, true, false}};
    for (const auto& c : cases) {
        a->seeks.clear();
        b->seeks.clear();
        i32 ms = 1500;
        MusicEngineSeekContextsByTime(c.node, c.gameObj, c.playingID, ms, false);
        EXPECT_EQ(a->seeks.size(), c.a ? 1u : 0u);
        EXPECT_EQ(b->seeks.size(), c.b ? 1u : 0u);
        MusicEnginePauseContexts(c.node, c.gameObj, {}, c.playingID);
        Frame();
        EXPECT_EQ(a->IsPaused(), c.a);
        EXPECT_EQ(b->IsPaused(), c.b);
        MusicEngineResumeContexts(c.node, c.gameObj, {}, c.playingID);
        EXPECT_FALSE(a->IsPaused());
    }
    f32 fraction = 0.5f;
    MusicEngineSeekContextsByPercent(500, 0, 21, fraction, true);
    EXPECT_EQ(a->seeks.back(), 50);
    MusicEngineStopContexts(500, 0, {}, 22);
    EXPECT_TRUE(b->IsStopping());
    EXPECT_FALSE(a->IsStopped());
    Frame();
    EXPECT_EQ(TimelineCtx::s_live, 1u);
}

TEST_F(MusicTreeTest, AnAcceptedSeekRaisesMusicPlayStartedAgain) {
    TimelineCtx* a = Start(31, {}, AU_MusicPlayStarted);
    EXPECT_EQ(g_callbacks.size(), 1u);
    i32 ms = 10;
    MusicEngineSeekContextsByTime(500, 0, 31, ms, false);
    EXPECT_EQ(g_callbacks.size(), 2u);
    a->acceptSeek = false;
    f32 fraction = 0.1f;
    MusicEngineSeekContextsByPercent(500, 0, 31, fraction, false);
    EXPECT_EQ(g_callbacks.size(), 2u);
}

// State changes: 1024-sample frames; frame k (from 1) plays [1024 (k - 1), 1024 k).
TEST_F(MusicTreeTest, AStateChangeWaitsOnlyForADeclaredSyncPointBeyondThisFrame) {
    EXPECT_FALSE(MusicStateChangeHandler(40, 41)) << "no music plays";
    TimelineCtx* root = Start(51);
    root->syncTypes[0][40] = kSyncNextBar;
    EXPECT_FALSE(MusicStateChangeHandler(41, 1)) << "a group no segment declares";
    // The root is paused, so the probe alone answers: its clock stands `left` samples before the
    // bar (less than one frame, then exactly one).
    root->PauseWithFade({});
    Frame();
    ASSERT_TRUE(root->IsPaused());
    for (u64 left : {u64{1000}, u64{1024}}) {
        auto* probe = AuMusicNew<TimelineCtx>(nullptr, &m_node);
        probe->AddRef();
        probe->syncTypes[0][40] = kSyncNextBar;
        AuMusicPlayParams params;
        params.playingID = 52;
        ASSERT_EQ(probe->Play(params), AuResultSuccess);
        probe->Sequencer()->NextFrame(static_cast<u32>(kBar - left));
        EXPECT_FALSE(MusicStateChangeHandler(40, 2)) << left;
        probe->StopWithFade({}, 0);
        probe->Release();
        Frame();
    }
    EXPECT_TRUE(StateMessages().empty());
}

TEST_F(MusicTreeTest, AHeldStateChangeIsPostedInTheFrameThatHoldsItsBar) {
    TimelineCtx* root = Start(61);
    root->syncTypes[0][40] = kSyncNextBar;
    for (int i = 0; i < 10; ++i)
        Frame();
    ASSERT_EQ(root->Sequencer()->Clock(), 10240u);
    EXPECT_TRUE(MusicStateChangeHandler(40, 2));
    EXPECT_TRUE(MusicStateChangeHandler(40, 3)) << "a newer change of the group for the same bar";
    u32 frame = 10;
    while (StateMessages().empty() && frame < 200) {
        Frame();
        ++frame;
    }
    // Frame 94 of the play covers [95232, 96256), which holds sample 96000.
    EXPECT_EQ(frame, 94u);
    const std::vector<AuMsgSetState> posted = StateMessages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].groupID, 40u);
    EXPECT_EQ(posted[0].stateID, 3u);
    EXPECT_FALSE(posted[0].flagA);
    EXPECT_TRUE(posted[0].flagB) << "the state manager must not ask the handler again";
    for (int i = 0; i < 400; ++i)
        Frame();
    EXPECT_EQ(StateMessages().size(), 1u);
    EXPECT_EQ(m_engine->pendingStates.Count(), 0u);
}

TEST_F(MusicTreeTest, WithoutARecordTheChangeGoesAtOnceAndTheGroupsHeldChangesAreCancelled) {
    TimelineCtx* root = Start(71);
    root->syncTypes[0][40] = kSyncNextBar;
    Frame();
    ASSERT_TRUE(MusicStateChangeHandler(40, 2));
    {
        // Every block of the pool is taken: no record for the next change.
        std::vector<void*> blocks;
        for (u32 size : {4096u, 256u, 16u, 1u})
            while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, size))
                blocks.push_back(block);
        EXPECT_FALSE(MusicStateChangeHandler(40, 3));
        for (void* block : blocks)
            AU::MemoryMgr::Free(g_DefaultPoolId, block);
    }
    for (int i = 0; i < 100; ++i)
        Frame();
    EXPECT_TRUE(StateMessages().empty()) << "the held change was cancelled";
    EXPECT_EQ(m_engine->pendingStates.Count(), 0u);
}

TEST_F(MusicTreeTest, ChangedFollowingSegmentsRecheckTheHeldChanges) {
    TimelineCtx* root = Start(81);
    root->syncTypes[0][40] = kSyncNextBar;
    root->syncTypes[1][40] = kSyncNextBar;
    Frame();
    ASSERT_TRUE(MusicStateChangeHandler(40, 2));
    ASSERT_NE(root->items[0].pFirstEntry, nullptr);
    EXPECT_EQ(root->items[0].pFirstEntry->uTime, kBar);
    // The next segment now starts before that bar: the change moves to the next segment's start.
    root->ChangeFollowingSegments(kBar / 2);
    EXPECT_EQ(root->items[0].pFirstEntry, nullptr);
    ASSERT_NE(root->items[1].pFirstEntry, nullptr);
    EXPECT_EQ(root->items[1].pFirstEntry->uTime, kBar / 2);
    EXPECT_TRUE(StateMessages().empty());
    EXPECT_EQ(m_engine->pendingStates.Count(), 1u);
    // Taken out again with its sync point now less than a frame away: applied at once.
    AuMusicScheduledEntry* taken = root->items[1].pFirstEntry;
    root->items[1].pFirstEntry = nullptr;
    root->nextStart = root->Sequencer()->Clock() + 500;
    root->Sequencer()->Reevaluate(taken);
    ASSERT_EQ(StateMessages().size(), 1u);
    EXPECT_EQ(StateMessages()[0].stateID, 2u);
    EXPECT_EQ(m_engine->pendingStates.Count(), 0u);
}

constexpr u32 kAllSyncBits = AU_MusicSyncBeat | AU_MusicSyncBar | AU_MusicSyncEntry | AU_MusicSyncExit |
                             AU_MusicSyncGrid | AU_MusicSyncUserCue;

TEST_F(MusicTreeTest, AWindowFromTheEntryCueOfABarAndAHalfNotifiesInOrder) {
    TimelineCtx* root = Start(91, {}, kAllSyncBits);
    root->markers = {{0, "at the entry"}, {12000, "a"}, {120000, "b"}, {200000, "later"}};
    root->time.uGridPeriod = 48000;
    g_callbacks.clear();
    root->Sequencer()->NextFrame(static_cast<u32>(kBar * 3 / 2));
    using C = std::vector<AuCallbackType>;
    C expected{AU_MusicSyncUserCue, AU_MusicSyncUserCue, AU_MusicSyncEntry, AU_MusicSyncBar, AU_MusicSyncBar};
    expected.insert(expected.end(), 6, AU_MusicSyncBeat);
    expected.insert(expected.end(), 3, AU_MusicSyncGrid);
    EXPECT_EQ(g_callbacks, expected);
    EXPECT_EQ(g_cues, (std::vector<std::string>{"a", "b"}));
}

TEST_F(MusicTreeTest, AWindowPastTheExitIsExaminedInTheNextSegmentToo) {
    TimelineCtx* root = Start(92, {}, AU_MusicSyncEntry | AU_MusicSyncExit | AU_MusicSyncBar);
    root->active[0] = static_cast<u32>(kBar);
    root->nextStart = kBar;
    g_callbacks.clear();
    root->Sequencer()->NextFrame(static_cast<u32>(kBar + 1000));
    EXPECT_EQ(g_callbacks, (std::vector<AuCallbackType>{AU_MusicSyncEntry, AU_MusicSyncBar, AU_MusicSyncExit,
                                                        AU_MusicSyncEntry, AU_MusicSyncBar}));
    // The next window lies within the second segment: the first has nothing more to say.
    g_callbacks.clear();
    root->Sequencer()->NextFrame(static_cast<u32>(kBar));
    EXPECT_EQ(g_callbacks, (std::vector<AuCallbackType>{AU_MusicSyncBar}));
}

TEST_F(MusicTreeTest, OnlyTheAskedNotificationsArePosted) {
    TimelineCtx* root = Start(93, {}, AU_MusicSyncBeat);
    root->markers = {{12000, "a"}};
    g_callbacks.clear();
    root->Sequencer()->NextFrame(static_cast<u32>(kBar));
    EXPECT_EQ(g_callbacks, std::vector<AuCallbackType>(4, AU_MusicSyncBeat));
    TimelineCtx* silent = Start(94);
    silent->markers = {{12000, "a"}};
    g_callbacks.clear();
    silent->Sequencer()->NextFrame(static_cast<u32>(kBar));
    EXPECT_TRUE(g_callbacks.empty());
}

// A top-level context under another shares its sequencer and posts nothing of its own.
TEST_F(MusicTreeTest, OnlyTheRootPostsMusicSyncNotifications) {
    TimelineCtx* root = Start(95, {}, AU_MusicSyncEntry | AU_MusicSyncUserCue);
    root->markers = {{12000, "root"}};
    auto* inner = AuMusicNew<TimelineCtx>(root, &m_node);
    inner->AddRef();
    AuMusicPlayParams params;
    params.playingID = 95;
    ASSERT_EQ(inner->Play(params), AuResultSuccess);
    EXPECT_EQ(inner->Sequencer(), root->Sequencer());
    inner->SetPlayFlags(root->PlayFlags());
    inner->markers = {{12000, "inner"}};
    g_callbacks.clear();
    root->Sequencer()->NextFrame(static_cast<u32>(kBar));
    EXPECT_EQ(g_callbacks, (std::vector<AuCallbackType>{AU_MusicSyncUserCue, AU_MusicSyncEntry}));
    EXPECT_EQ(g_cues, std::vector<std::string>{"root"});
    inner->StopWithFade({}, 0);
    inner->Release();
}

// Stingers over the test timeline: a bar every 96000 samples, a beat every 24000, the next segment
// from bar 4. Frames are 1024 samples at speed 1.
constexpr AuUniqueID kTrigger = 7;
constexpr u32 kSyncNextBeat = au_test::kSyncNextBeat;

u32 StingerCount(const CAuMusicSequencer& sequencer) {
    u32 count = 0;
    for (const AuMusicStingerRecord* record = sequencer.FirstStinger(); record; record = record->pNext)
        ++count;
    return count;
}

std::vector<u64> EntryTimes(const CAuMusicChainItem& item, u32 kind) {
    std::vector<u64> times;
    for (const AuMusicScheduledEntry* entry = item.pFirstEntry; entry; entry = entry->pNext)
        if (entry->uKind == kind) times.push_back(entry->uTime);
    return times;
}

TEST_F(MusicTreeTest, EachPlayHandlesTheTriggersOfItsGameObjectWhileItLives) {
    TimelineCtx* root = Start(101);
    ASSERT_EQ(m_triggers.registered.size(), 1u);
    IAuTriggerHandler* handler = m_triggers.registered[0].first;
    EXPECT_EQ(handler, root->Sequencer());
    root->StopWithFade({}, 0);
    Frame();
    ASSERT_EQ(m_triggers.unregistered.size(), 1u);
    EXPECT_EQ(m_triggers.unregistered[0].first, handler);
    // A registry that refuses is not asked to forget the handler.
    m_triggers.refuse = true;
    Start(102)->StopWithFade({}, 0);
    Frame();
    EXPECT_EQ(m_triggers.registered.size(), 2u);
    EXPECT_EQ(m_triggers.unregistered.size(), 1u);
}

TEST_F(MusicTreeTest, ATriggerPlacesItsStingerAtTheNextSyncPointOfItsType) {
    TimelineCtx* root = Start(103);
    root->stingers = {{3, 30, kSyncNextBeat, 0, 0, 0},
                      {kTrigger, 70, kSyncNextBar, 5, 0, 0},
                      {kTrigger, 71, kSyncNextBeat, 0, 0, 0}};
    for (int i = 0; i < 10; ++i)
        Frame();
    root->cueFilters.clear();
    root->Sequencer()->Trigger(99);
    EXPECT_EQ(root->Sequencer()->FirstStinger(), nullptr) << "no stinger has that trigger";
    m_triggers.registered[0].first->Trigger(kTrigger);
    const AuMusicStingerRecord* record = root->Sequencer()->FirstStinger();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(root->stingerSegments, std::vector<AuUniqueID>{70}) << "the first stinger of the trigger";
    EXPECT_EQ(root->cueFilters, std::vector<u32>{5});
    EXPECT_EQ(record->uTime, kBar);
    EXPECT_EQ(EntryTimes(root->items[0], AuMusicScheduledEntry::kStinger), std::vector<u64>{kBar});
    EXPECT_EQ(root->RefCount(), 2u) << "the play's and the stinger segment's, its child";
    // Its segment plays every window from now on, counted from its place on the clock.
    Frame();
    ASSERT_EQ(root->stingerWindows.size(), 1u);
    EXPECT_EQ(root->stingerWindows[0].context, record->pContext);
    EXPECT_EQ(root->stingerWindows[0].position, 10 * 1024 - static_cast<i64>(kBar));
    EXPECT_EQ(root->stingerWindows[0].length, 1024u);
}

TEST_F(MusicTreeTest, ARepeatInsideTheDontRepeatWindowDoesNothing) {
    // Placed at the beat of 24000 with a window of 1000 ms: 48000 samples, until clock 72000.
    const struct {
        AuUniqueID segment;
        int framesBeforeRepeat;
        u64 newest; // the place of the newest stinger
    } cases[] = {{70, 69, 24000}, {70, 70, 4 * 24000}, {0, 69, 24000}, {0, 70, 4 * 24000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "segment " << c.segment << ", repeat after " << c.framesBeforeRepeat);
        TimelineCtx* root = Start(104);
        root->stingers = {{kTrigger, c.segment, kSyncNextBeat, 0, 1000, 0}};
        Frame();
        root->Sequencer()->Trigger(kTrigger);
        ASSERT_EQ(StingerCount(*root->Sequencer()), 1u);
        EXPECT_EQ(root->Sequencer()->FirstStinger()->uDontRepeat, 48000u);
        EXPECT_EQ(root->Sequencer()->FirstStinger()->pContext != nullptr, c.segment != 0);
        for (int i = 0; i < c.framesBeforeRepeat; ++i)
            Frame();
        // Clock 70 x 1024 = 71680 is inside the window; 71 x 1024 = 72704 is past it.
        root->Sequencer()->Trigger(kTrigger);
        ASSERT_NE(root->Sequencer()->FirstStinger(), nullptr);
        EXPECT_EQ(root->Sequencer()->FirstStinger()->uTime, c.newest);
        root->StopWithFade({}, 0);
        Frame();
    }
}

TEST_F(MusicTreeTest, OnlyALookAheadOfOneLooksIntoTheNextSegment) {
    const struct {
        u32 lookAhead;
        bool placed;
    } cases[] = {{0, false}, {1, true}, {2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "look-ahead " << c.lookAhead);
        TimelineCtx* root = Start(105);
        // The next bar of the playing segment is where the next segment starts.
        root->nextStart = kBar;
        root->stingers = {{kTrigger, 70, kSyncNextBar, 0, 0, c.lookAhead}};
        Frame();
        root->Sequencer()->Trigger(kTrigger);
        EXPECT_EQ(StingerCount(*root->Sequencer()), c.placed ? 1u : 0u);
        EXPECT_TRUE(EntryTimes(root->items[0], AuMusicScheduledEntry::kStinger).empty());
        EXPECT_EQ(EntryTimes(root->items[1], AuMusicScheduledEntry::kStinger),
                  c.placed ? std::vector<u64>{kBar} : std::vector<u64>{});
        if (c.placed) {
            EXPECT_FALSE(root->Sequencer()->FirstStinger()->bRetrigger) << "it looked ahead already";
        }
        EXPECT_EQ(root->RefCount(), 1u + (c.placed ? 1u : 0u)) << "a dropped stinger's segment is let go";
        root->StopWithFade({}, 0);
        Frame();
    }
}

TEST_F(MusicTreeTest, AStingerWhoseSegmentCannotBeMadeIsNotPlaced) {
    TimelineCtx* root = Start(106);
    root->stingers = {{kTrigger, 70, kSyncNextBar, 0, 1000, 0}};
    root->refuseStingerContext = true;
    root->Sequencer()->Trigger(kTrigger);
    EXPECT_EQ(root->Sequencer()->FirstStinger(), nullptr);
    EXPECT_EQ(root->items[0].pFirstEntry, nullptr);
    root->refuseStingerContext = false;
    root->Sequencer()->Trigger(kTrigger);
    EXPECT_NE(root->Sequencer()->FirstStinger(), nullptr) << "nothing blocked the trigger";
}

// When the segments after the current one change, the stinger entries taken out are cancelled and
// stop blocking their trigger; one placed in the current segment that could have looked further
// is looked for again, in the next segment only.
TEST_F(MusicTreeTest, ATakenOutStingerIsCancelledAndMayTriggerAgainInTheNextSegment) {
    const struct {
        u32 lookAhead;
        bool again;
    } cases[] = {{0, false}, {1, true}, {3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "look-ahead " << c.lookAhead);
        TimelineCtx* root = Start(107);
        root->stingers = {{kTrigger, 70, kSyncNextBar, 0, 60000, c.lookAhead}};
        Frame();
        root->Sequencer()->Trigger(kTrigger);
        ASSERT_EQ(StingerCount(*root->Sequencer()), 1u);
        CAuMusicCtx* first = root->Sequencer()->FirstStinger()->pContext;
        EXPECT_EQ(root->Sequencer()->FirstStinger()->bRetrigger, c.lookAhead != 0);
        root->Sequencer()->Trigger(kTrigger);
        ASSERT_EQ(StingerCount(*root->Sequencer()), 1u) << "a minute of don't-repeat";

        root->ChangeFollowingSegments(2 * kBar);
        ASSERT_EQ(root->cancelledStingers.size(), 1u);
        EXPECT_EQ(root->cancelledStingers[0].context, first);
        EXPECT_EQ(root->cancelledStingers[0].position, 1024 - static_cast<i64>(kBar));
        EXPECT_TRUE(first->IsStopped());
        EXPECT_EQ(EntryTimes(root->items[1], AuMusicScheduledEntry::kStinger),
                  c.again ? std::vector<u64>{2 * kBar} : std::vector<u64>{});
        EXPECT_EQ(StingerCount(*root->Sequencer()), c.again ? 2u : 1u);
        if (c.again) {
            EXPECT_FALSE(root->Sequencer()->FirstStinger()->bRetrigger) << "a re-trigger looks no further";
        } else {
            root->Sequencer()->Trigger(kTrigger);
            EXPECT_EQ(StingerCount(*root->Sequencer()), 2u) << "the cancelled stinger blocks no repeat";
        }
        root->StopWithFade({}, 0);
        Frame();
    }
}

TEST_F(MusicTreeTest, StingerRecordsGoOnceTheirWindowAndSegmentArePastOrWhenThePlayStops) {
    TimelineCtx* root = Start(108);
    // Placed at 24000; a window of 10 ms (480 samples) and a segment of 3000 samples.
    root->stingers = {{kTrigger, 70, kSyncNextBeat, 0, 10, 0}};
    root->stingerLength = 3000;
    Frame();
    root->Sequencer()->Trigger(kTrigger);
    ASSERT_EQ(root->RefCount(), 2u);
    // The window that holds 27000 is frame 26, [26624, 27648).
    for (int i = 1; i < 26; ++i)
        Frame();
    EXPECT_EQ(StingerCount(*root->Sequencer()), 1u);
    Frame();
    EXPECT_EQ(StingerCount(*root->Sequencer()), 0u);
    EXPECT_EQ(root->RefCount(), 1u) << "its segment let go";

    root->Sequencer()->Trigger(kTrigger);
    ASSERT_EQ(StingerCount(*root->Sequencer()), 1u);
    root->StopWithFade({}, 0);
    EXPECT_EQ(root->Sequencer()->FirstStinger(), nullptr) << "a stopped root lets go of its stingers";
    root->Sequencer()->Trigger(kTrigger);
    EXPECT_EQ(root->Sequencer()->FirstStinger(), nullptr) << "and takes no new ones";
    Frame();
}

TEST(MusicSequencerCounts, PointsOfAGridInAHalfOpenRange) {
    const struct {
        i64 from, to;
        u32 period, offset;
        u64 count;
    } cases[] = {{0, 96000, 24000, 0, 4},    {0, 96001, 24000, 0, 5},      {1, 96000, 24000, 0, 3},
                 {-500, 10, 24000, 0, 1},    {10, 10, 24000, 0, 0},        {0, 100, 0, 0, 0},
                 {0, 48000, 24000, 6000, 2}, {6000, 6001, 24000, 6000, 1}, {7000, 30000, 24000, 6000, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(CAuMusicSequencer::CountPoints(c.from, c.to, c.period, c.offset), c.count)
            << c.from << ".." << c.to << " every " << c.period << " from " << c.offset;
}

} // namespace
