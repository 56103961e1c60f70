// The voice of a music clip: how the tree's stop offsets, fades, pauses and speed reach it, its
// frame budget, the return from virtual, and where its start is moved to meet a frame.
#include "MusicFakes.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "music/AuMusicPlaybackInstance.h"
#include "music/AuMusicSegmentCtx.h"

#include <AuDefaultPoolTest.h>

#include <cmath>
#include <vector>

namespace {

class RecordingQueue : public IAuVoiceCommandQueue {
public:
    void QueueCommand(CAuPlaybackInstance*, AuVoiceCommand command) noexcept override {
        commands.push_back(command);
    }
    std::vector<u32> commands;
};

class FakeNode : public IAuInstanceNode {
public:
    FakeNode() : IAuInstanceNode(100) {}
    u32 AddRef() override { return ++m_lRef; }
    u32 Release() override { return --m_lRef; }
    CAuPlaybackInstance*& InstanceListHead() noexcept override { return head; }
    bool UsesLevelWindow() noexcept override { return false; }
    bool GetMaxDistance(f32&) noexcept override { return false; }
    u8 GetBelowThresholdBehavior() noexcept override { return 0; }
    void OnInstanceTerm(CAuPlaybackInstance*) noexcept override {}
    CAuPlaybackInstance* head = nullptr;
};

class FakeGameObjs : public IAuGameObjRefs {
public:
    void AddRef(CAuRegisteredObj*) noexcept override {}
    void Release(CAuRegisteredObj*) noexcept override {}
    u32 GetGameDefinedSends(CAuRegisteredObj*, AuUniqueID*, f32*) noexcept override { return 0; }
};

// A track context that records what its voices ask of it.
class FakeTrack : public IAuMusicTrackCtx {
public:
    // The fake's own reference keeps the voices' releases from freeing it: it is not in the pool.
    FakeTrack() : context(nullptr) { context.AddRef(); }
    CAuMusicCtx& TrackContext() noexcept override { return context; }
    void DropQueuedActions(CAuMusicPlaybackInstance*) noexcept override { ++dropped; }
    bool VirtualReturnPosition(CAuMusicPlaybackInstance*, u32 lookAhead, u32& position) noexcept override {
        askedLookAhead = lookAhead;
        position = answer;
        return canReturn;
    }
    struct Ctx : CAuMusicCtx {
        using CAuMusicCtx::CAuMusicCtx;
    } context;
    u32 dropped = 0;
    u32 askedLookAhead = 0;
    u32 answer = 0;
    bool canReturn = true;
};

class MusicPlaybackInstanceTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        m_transitions.SetOutputTiming(21, 1024);
        ASSERT_EQ(m_playing.Init(), AuResultSuccess);
        ASSERT_EQ(m_playing.AddPlayingID(7, 1, 1234, nullptr, nullptr, 0, nullptr), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        g_pPlayingMgr = &m_playing;
        g_pVoiceCommandQueue = &m_queue;
        g_pGameObjRefs = &m_gameObjs;
        g_uNumSamplesPerFrame = 1024;
    }
    void TearDown() override {
        g_pTransitionMgr = nullptr;
        g_pPlayingMgr = nullptr;
        g_pVoiceCommandQueue = nullptr;
        g_pGameObjRefs = nullptr;
        m_transitions.Term();
        m_playing.Term();
        AuDefaultPoolTest::TearDown();
    }
    AuPlaybackInstanceParams Params() {
        AuPlaybackInstanceParams params;
        params.pNode = &m_node;
        params.key.playingID = 7;
        return params;
    }

    CAuTransitionMgr m_transitions;
    CAuPlayingMgr m_playing;
    RecordingQueue m_queue;
    FakeNode m_node;
    FakeGameObjs m_gameObjs;
    FakeTrack m_track;
    const AuMusicTrackClip m_clip{0, 55, 0, 48000, 48000, 0};
};

// Made, initialised (joining the track) and terminated by the test.
struct Voice {
    Voice(const AuPlaybackInstanceParams& params, FakeTrack& track, const AuMusicTrackClip& clip,
          u32 lookAhead = 0)
        : instance(params, track, clip, lookAhead) {
        EXPECT_EQ(instance.Init(nullptr, nullptr), AuResultSuccess);
        instance.SetVoiceActivity(CAuPlaybackInstance::kVoiceCreated);
    }
    ~Voice() {
        if (!terminated) instance.Term(0);
    }
    CAuMusicPlaybackInstance* operator->() { return &instance; }
    CAuMusicPlaybackInstance instance;
    bool terminated = false;
};

TEST_F(MusicPlaybackInstanceTest, AStopOffsetIsCountedInTheVoicesOwnSamples) {
    Voice voice(Params(), m_track, m_clip);
    EXPECT_EQ(m_track.context.FirstChild(), static_cast<CAuMusicChild*>(&voice.instance));
    voice->SetParamValue(AuMusicParam_PlaybackSpeed, 2.0f);
    voice->OnStopped(4800);
    EXPECT_EQ(voice->PendingStopOffset(), 2400);
    EXPECT_FALSE(voice->IsStopped()) << "no immediate stop: the voice ends at its offset";
    EXPECT_EQ(voice->Fader(), 1.0f);
    // A flagged stop from the voice side waits for that offset too.
    voice->OnStop(0, 1);
    EXPECT_FALSE(voice->IsStopped());
    // A later offset does not move it; an earlier one does.
    voice->OnStopped(6000);
    EXPECT_EQ(voice->PendingStopOffset(), 2400);
    voice->OnStopped(3001);
    EXPECT_EQ(voice->PendingStopOffset(), 1501) << "rounded half away from zero";
    EXPECT_EQ(voice->TakeFrameBudget(), 1501);
    EXPECT_EQ(voice->TakeFrameBudget(), -1);
    voice->OnStop(0, 1);
    EXPECT_TRUE(voice->IsStopped()) << "with nothing pending, the base stop runs";
}

TEST_F(MusicPlaybackInstanceTest, AFadeOutAutomationStopsAtOnceAndKeepsTheBudgetEmpty) {
    Voice voice(Params(), m_track, m_clip);
    voice->SetMusicFlags(CAuMusicPlaybackInstance::kFadeOutAutomation);
    voice->OnStopped(4800);
    EXPECT_TRUE(voice->IsStopped());
    EXPECT_EQ(voice->TakeFrameBudget(), -1);
}

TEST_F(MusicPlaybackInstanceTest, WithoutAnOffsetTheStopIsImmediate) {
    Voice voice(Params(), m_track, m_clip);
    voice->OnStopped(AuMusicNoStopOffset);
    EXPECT_TRUE(voice->IsStopped());
    EXPECT_EQ(voice->Fader(), 0.0f);
}

TEST_F(MusicPlaybackInstanceTest, FadeLevelsAreMuteEntriesOfTheirOwner) {
    Voice voice(Params(), m_track, m_clip);
    const int owners[2] = {};
    voice->SetFadeLevel(&owners[0], 0.5f);
    voice->SetFadeLevel(&owners[1], 0.25f);
    EXPECT_EQ(voice->MuteEntries(), 2u);
    voice->SetFadeLevel(&owners[0], 1.0f);
    EXPECT_EQ(voice->MuteEntries(), 1u);
    // Through the tree: the track's fade reaches its voices.
    m_track.context.SetFadeLevel(&owners[1], 1.0f);
    EXPECT_EQ(voice->MuteEntries(), 0u);
}

TEST_F(MusicPlaybackInstanceTest, TheSpeedBecomesThePitch) {
    Voice voice(Params(), m_track, m_clip);
    const struct {
        f32 speed;
        f32 cents;
    } cases[] = {{0.5f, -1200.0f}, {2.0f, 1200.0f}, {1.0f, 0.0f}, {0.0f, 0.0f}, {-1.0f, 0.0f}, {NAN, 0.0f}};
    for (const auto& c : cases) {
        m_track.context.SetParamValue(AuMusicParam_PlaybackSpeed, c.speed);
        EXPECT_EQ(voice->Pitch(), c.cents) << c.speed;
    }
    m_track.context.SetParamValue(41, 4.0f);
    EXPECT_EQ(voice->Pitch(), 0.0f) << "only the speed key";
}

TEST_F(MusicPlaybackInstanceTest, PausesAndResumesFromTheTree) {
    Voice voice(Params(), m_track, m_clip);
    m_track.context.OnPaused();
    EXPECT_TRUE(voice->IsPaused());
    EXPECT_TRUE(m_queue.commands.empty()) << "paused without a voice command";
    m_track.context.OnResumed();
    EXPECT_FALSE(voice->IsPaused());
    EXPECT_EQ(voice->PauseFade(), 1.0f);
    EXPECT_EQ(voice->Fader(), 1.0f);
}

TEST_F(MusicPlaybackInstanceTest, TermDropsTheTracksActionsUnlessTerminated) {
    {
        Voice voice(Params(), m_track, m_clip);
        voice->Term(0);
        voice.terminated = true;
        EXPECT_EQ(m_track.dropped, 1u);
        EXPECT_EQ(m_track.context.FirstChild(), nullptr);
    }
    Voice voice(Params(), m_track, m_clip);
    voice->Terminate(AuMusicNoStopOffset);
    EXPECT_TRUE(voice->IsStopped());
    voice->Term(0);
    voice.terminated = true;
    EXPECT_EQ(m_track.dropped, 1u);
}

TEST_F(MusicPlaybackInstanceTest, AVirtualVoiceReturnsWhereTheTrackSays) {
    Voice voice(Params(), m_track, m_clip, 1500);
    EXPECT_EQ(voice->LookAhead(), 2048u) << "rounded up to whole frames";
    m_track.answer = 7000;
    EXPECT_EQ(voice->GetVirtualReturnMode(), 1u);
    EXPECT_EQ(m_track.askedLookAhead, 2048u);
    EXPECT_EQ(voice->SourcePosition(), 7000u);
    m_track.canReturn = false;
    EXPECT_EQ(voice->GetVirtualReturnMode(), 2u);
    voice->SeekTime(100, false);
    EXPECT_FALSE(voice->SeekPending());
}

TEST(MusicPlaybackInstanceAlign, StartsMoveToAFrameStart) {
    const struct {
        u32 offset;
        f32 speed;
        u32 lookAhead;
        u32 aligned;
    } cases[] = {
        {0, 1.0f, 0, 0},          {2048, 1.0f, 0, 2048},    // on a frame start
        {100, 1.0f, 1024, 0},     {511, 1.0f, 1024, 0},     // first half, absorbed
        {100, 1.0f, 0, 1024},     {100, 1.0f, 99, 1024},    // first half, not absorbed
        {512, 1.0f, 1024, 1024},  {1000, 1.0f, 1024, 1024}, // second half
        {1100, 1.0f, 2048, 1024}, {300, 0.5f, 2048, 512},   // half frame at speed 0.5 is 256
        {200, 0.5f, 2048, 0},     {200, 0.0f, 2048, 0},     // an unusable speed acts as 1.0
    };
    for (const auto& c : cases)
        EXPECT_EQ(CAuMusicPlaybackInstance::AlignStart(c.offset, 1024, c.speed, c.lookAhead), c.aligned)
            << c.offset << " at " << c.speed << " with " << c.lookAhead;
}

} // namespace

namespace {

class NoStarts : public IAuMusicClipStarter {
public:
    CAuMusicChild* StartClip(IAuMusicTrackCtx&, CAuTrackNode&, const AuMusicTrackClip&, u32,
                             i32) noexcept override {
        return nullptr;
    }
};

// A voice back from virtual asks its track context where its source stands: the clip's begin
// offset plus how far the track is past the clip's start, wrapped in the source; nothing once
// the clip is over or the track stops.
TEST_F(MusicPlaybackInstanceTest, ATrackContextTellsWhereAVoiceReturnsFromVirtual) {
    CAuObjectIndex index;
    index.Init();
    g_pIndex = &index;
    CAuTrackNode* node = CAuTrackNode::Create(0x501);
    ASSERT_NE(node, nullptr);
    NoStarts starter;
    auto* track = AuMusicNew<CAuTrackCtx>(nullptr, *node, 0u, starter);
    ASSERT_NE(track, nullptr);
    track->AddRef();
    track->PlayWithFade({});
    // Plays 1000 to 5000 on the track's timeline, from 500 into a source of 3000.
    const AuMusicTrackClip clip{0, 55, 1000, 4000, 3000, 500};
    {
        CAuMusicPlaybackInstance voice(Params(), *track, clip, 0);
        ASSERT_EQ(voice.Init(nullptr, nullptr), AuResultSuccess);
        EXPECT_EQ(track->FirstChild(), static_cast<CAuMusicChild*>(&voice));
        struct Case {
            i64 position;
            u32 mode;
            u32 sourcePosition;
        };
        const Case cases[] = {{2000, 1, 1500}, {4000, 1, 500}, {4999, 1, 1499}, {5000, 2, 0}};
        for (const Case& c : cases) {
            track->ProcessWindow(c.position, 1024);
            EXPECT_EQ(voice.GetVirtualReturnMode(), c.mode) << c.position;
            if (c.mode == 1) {
                EXPECT_EQ(voice.SourcePosition(), c.sourcePosition) << c.position;
            }
        }
        track->ProcessWindow(2000, 1024);
        track->OnStopped(300);
        ASSERT_TRUE(track->IsStopping());
        EXPECT_EQ(voice.GetVirtualReturnMode(), 2u) << "a stopping track takes no voice back";
        voice.Term(0);
        EXPECT_EQ(track->FirstChild(), nullptr);
    }
    track->Release();
    node->Release();
    index.Term();
    g_pIndex = nullptr;
}

} // namespace
