#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuTransitionMgr.h"
#include "voices/AuPlaybackInstance.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_trace;

class RecordingQueue : public IAuVoiceCommandQueue {
public:
    void QueueCommand(CAuPlaybackInstance* instance, AuVoiceCommand command) noexcept override {
        commands.push_back(command);
        last = instance;
    }
    std::vector<u32> commands;
    CAuPlaybackInstance* last = nullptr;
};

class RecordingLimiter : public IAuInstanceLimiter {
public:
    explicit RecordingLimiter(const char* name) : m_name(name) {}
    AURESULT AddInstance(CAuPlaybackInstance*) noexcept override {
        g_trace.push_back(m_name + " add");
        return AuResultSuccess;
    }
    void RemoveInstance(CAuPlaybackInstance*) noexcept override { g_trace.push_back(m_name + " remove"); }
    void Resort(CAuPlaybackInstance* instance, f32 newPriority) noexcept override {
        // The instance still holds its old value here.
        g_trace.push_back(m_name + " resort " + std::to_string(int(instance->Priority().fPriority)) + "->" +
                          std::to_string(int(newPriority)));
    }

private:
    std::string m_name;
};

class FakeNode : public IAuInstanceNode {
public:
    FakeNode() : IAuInstanceNode(100) {}
    u32 AddRef() override { return ++m_lRef; }
    u32 Release() override {
        g_trace.push_back("node release");
        return --m_lRef;
    }
    CAuPlaybackInstance*& InstanceListHead() noexcept override { return head; }
    bool UsesLevelWindow() noexcept override { return true; }
    bool GetMaxDistance(f32& out) noexcept override {
        out = maxDistance;
        return true;
    }
    u8 GetBelowThresholdBehavior() noexcept override { return behavior; }
    void OnInstanceTerm(CAuPlaybackInstance*) noexcept override { g_trace.push_back("node informed"); }

    CAuPlaybackInstance* head = nullptr;
    f32 maxDistance = 100.0f;
    u8 behavior = 0;
};

class FakeGameObjs : public IAuGameObjRefs {
public:
    void AddRef(CAuRegisteredObj*) noexcept override { ++refs; }
    void Release(CAuRegisteredObj*) noexcept override {
        --refs;
        g_trace.push_back("game object release");
    }
    u32 GetGameDefinedSends(CAuRegisteredObj*, AuUniqueID busIDs[4], f32 levels[4]) noexcept override {
        busIDs[0] = 11, levels[0] = 0.5f;
        busIDs[1] = 12, levels[1] = 0.0f; // inaudible
        return 2;
    }
    int refs = 0;
};

CAuRegisteredObj* const kGameObj = reinterpret_cast<CAuRegisteredObj*>(uintptr_t{0x1000});
CAuRegisteredObj* const kOtherObj = reinterpret_cast<CAuRegisteredObj*>(uintptr_t{0x2000});

class PlaybackInstanceTest : public AuDefaultPoolTest {
protected:
    PlaybackInstanceTest() : AuDefaultPoolTest(1u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_trace.clear();
        ASSERT_EQ(transitions.Init(0), AuResultSuccess);
        transitions.SetOutputTiming(21, 1024);
        ASSERT_EQ(playing.Init(), AuResultSuccess);
        ASSERT_EQ(playing.AddPlayingID(7, 1, 1234, nullptr, nullptr, 0, nullptr), AuResultSuccess);
        g_pTransitionMgr = &transitions;
        g_pPlayingMgr = &playing;
        g_pVoiceCommandQueue = &queue;
        g_pGlobalVoiceLimiter = &global;
        g_pGameObjRefs = &gameObjs;
        m_usedAtStart = Used();
    }
    void TearDown() override {
        g_pTransitionMgr = nullptr;
        g_pPlayingMgr = nullptr;
        g_pVoiceCommandQueue = nullptr;
        g_pGlobalVoiceLimiter = nullptr;
        g_pGameObjRefs = nullptr;
        transitions.Term();
        playing.Term();
        AuDefaultPoolTest::TearDown();
    }
    AuPlaybackInstanceParams Params(AuPlayingID id = 7) {
        AuPlaybackInstanceParams params;
        params.pNode = &node;
        params.pGameObj = kGameObj;
        params.key.playingID = id;
        return params;
    }
    void Frame() { transitions.ProcessTransitionsList(++frame); }

    CAuTransitionMgr transitions;
    CAuPlayingMgr playing;
    RecordingQueue queue;
    RecordingLimiter nodeLimiter{"node"}, busLimiter{"bus"}, global{"global"};
    FakeNode node;
    FakeGameObjs gameObjs;
    u32 frame = 0;
};

// An instance made, initialised and terminated by the test.
struct Live {
    Live(const AuPlaybackInstanceParams& params, IAuInstanceLimiter* a = nullptr,
         IAuInstanceLimiter* b = nullptr)
        : instance(params) {
        EXPECT_EQ(instance.Init(a, b), AuResultSuccess);
    }
    ~Live() { instance.Term(0); }
    CAuPlaybackInstance* operator->() { return &instance; }
    CAuPlaybackInstance instance;
};

TEST_F(PlaybackInstanceTest, CommandsAreQueuedAsTheTableSays) {
    struct Case {
        const char* what;
        void (*act)(CAuPlaybackInstance&);
        std::vector<u32> commands;
    };
    const Case cases[] = {
        {"play", [](CAuPlaybackInstance& i) { i.Play({}, false, false); }, {0}},
        {"play paused", [](CAuPlaybackInstance& i) { i.Play({}, true, false); }, {1}},
        {"play mode 1",
         [](CAuPlaybackInstance& i) {
             i.SetPlayMode(CAuPlaybackInstance::kPlayModePaused);
             i.Play({}, false, false);
         },
         {1}},
        {"pause now", [](CAuPlaybackInstance& i) { i.PauseNow(false); }, {2}},
        {"pause now without command", [](CAuPlaybackInstance& i) { i.PauseNow(true); }, {}},
        {"resume now",
         [](CAuPlaybackInstance& i) {
             i.PauseNow(false);
             i.ResumeNow();
         },
         {2, 3}},
        {"resume when not paused", [](CAuPlaybackInstance& i) { i.ResumeNow(); }, {}},
        {"stop looping", [](CAuPlaybackInstance& i) { i.StopLooping(); }, {4}},
        {"seek time", [](CAuPlaybackInstance& i) { i.SeekTime(1000, true); }, {5}},
        {"seek percent", [](CAuPlaybackInstance& i) { i.SeekPercent(0.25f, false); }, {5}},
    };
    for (const Case& c : cases) {
        queue.commands.clear();
        Live live(Params());
        live->SetLoopCount(0);
        c.act(live.instance);
        EXPECT_EQ(queue.commands, c.commands) << c.what;
    }
}

TEST_F(PlaybackInstanceTest, SeeksStoreOutputRateSamplesOrTheFraction) {
    Live live(Params());
    live->SetLoopCount(3);
    live->StopLooping();
    EXPECT_EQ(live->LoopCount(), 1);
    live->SeekTime(1000, true);
    EXPECT_EQ(live->SeekPosition(), 48000.0f); // whatever the media's rate: the source converts once
    EXPECT_TRUE(live->SeekPending());
    EXPECT_TRUE(live->SeekSnap());
    EXPECT_FALSE(live->SeekByPercent());
    live->SeekPercent(0.25f, false);
    EXPECT_EQ(live->SeekPosition(), 0.25f);
    EXPECT_TRUE(live->SeekByPercent());
    EXPECT_FALSE(live->SeekSnap());
    live->SeekPercent(std::numeric_limits<f32>::quiet_NaN(), false); // kept for the source to refuse
    EXPECT_TRUE(std::isnan(live->SeekPosition()));
    SetOutputSampleRate(24000);
    live->SeekTime(4000000000u, false); // no 32-bit overflow
    EXPECT_EQ(live->SeekPosition(), 96000000000.0f);
    SetOutputSampleRate(48000);
}

TEST_F(PlaybackInstanceTest, PlayModeTwoStopsRightAfterTheCommand) {
    Live live(Params());
    live->SetPlayMode(CAuPlaybackInstance::kPlayModeStopAfterStart);
    live->Play({}, false, true);
    EXPECT_EQ(queue.commands, std::vector<u32>{0});
    EXPECT_TRUE(live->IsStopped());
}

TEST_F(PlaybackInstanceTest, PausesCountAndAForcedResumeResumesAtOnce) {
    Live live(Params());
    live->Play({}, false, false);
    live->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
    live->Pause({});
    live->Pause({});
    EXPECT_TRUE(live->IsPaused());
    EXPECT_EQ(live->Fader(), 0.0f);
    live->Resume({}, false);
    EXPECT_TRUE(live->IsPaused());
    EXPECT_EQ(live->PauseCount(), 1u);
    live->Resume({}, false);
    EXPECT_FALSE(live->IsPaused());
    EXPECT_EQ(live->Fader(), 1.0f);

    live->Pause({});
    live->Pause({});
    live->Pause({});
    live->Resume({}, true);
    EXPECT_FALSE(live->IsPaused());
    EXPECT_EQ(live->PauseCount(), 0u);
    // A running voice is held by a pause command once per pause, and resumed by one.
    EXPECT_EQ(queue.commands, (std::vector<u32>{0, 2, 3, 2, 3}));
}

TEST_F(PlaybackInstanceTest, AStopWhilePausedOrFadingOutOfAPauseIsImmediate) {
    {
        Live live(Params());
        live->Play({}, false, false);
        live->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
        live->Pause({});
        live->Stop({500, AuCurveInterpolation_Linear}, false);
        EXPECT_TRUE(live->IsStopped());
        EXPECT_EQ(transitions.Count(0), 0u); // no fade started
    }
    {
        Live live(Params());
        live->Play({}, false, false);
        live->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
        live->Pause({500, AuCurveInterpolation_Linear});
        Frame();
        EXPECT_FALSE(live->IsPaused());
        live->Stop({500, AuCurveInterpolation_Linear}, false);
        EXPECT_TRUE(live->IsStopped());
        Frame();
        EXPECT_EQ(transitions.Count(0), 0u); // the pause fade was let go
    }
}

TEST_F(PlaybackInstanceTest, PlayAndStopFadesRunThroughTheTransitionManager) {
    Live live(Params());
    live->Play({100, AuCurveInterpolation_Linear}, false, false);
    EXPECT_EQ(live->Fader(), 0.0f);
    live->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
    for (int i = 1; i <= 5; ++i) {
        Frame();
        EXPECT_FLOAT_EQ(live->Fader(), 0.2f * f32(i)) << i;
    }
    EXPECT_EQ(transitions.Count(0), 0u);

    live->Stop({100, AuCurveInterpolation_Linear}, false);
    EXPECT_FALSE(live->IsStopped());
    for (int i = 1; i <= 4; ++i) {
        Frame();
        EXPECT_NEAR(live->Fader(), 1.0f - 0.2f * f32(i), 1e-6f) << i;
        EXPECT_FALSE(live->IsStopped());
    }
    Frame();
    EXPECT_EQ(live->Fader(), 0.0f);
    EXPECT_TRUE(live->IsStopped());
    EXPECT_TRUE(live->Flags() & CAuPlaybackInstance::kFlagOnStopRan);
}

TEST_F(PlaybackInstanceTest, AStopWithoutTimeBeforeTheVoiceStartedEndsAtOnce) {
    Live live(Params());
    live->Play({}, false, false);
    live->Stop({}, false);
    EXPECT_TRUE(live->IsStopped());
    // Once its voice runs, a stop without time and without the immediate flag does nothing.
    Live running(Params());
    running->Play({}, false, false);
    running->SetVoiceActivity(CAuPlaybackInstance::kVoiceCreated);
    running->Stop({}, false);
    EXPECT_FALSE(running->IsStopped());
    running->Stop({}, true);
    EXPECT_TRUE(running->IsStopped());
    EXPECT_EQ(running->Fader(), 0.0f);
    EXPECT_EQ(running->StopReason(), 0u);
}

TEST_F(PlaybackInstanceTest, WithoutAnyTransitionRecordTheEndValueAppliesAtOnce) {
    // Fill the pool so that no record can be had, with none to reuse.
    std::vector<void*> blocks;
    for (u32 size = 1u << 16; size >= 8; size /= 2)
        while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, size))
            blocks.push_back(block);
    {
        Live live(Params());
        live->Play({100, AuCurveInterpolation_Linear}, false, false);
        EXPECT_EQ(live->PlayFade(), 1.0f);
        live->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
        live->Pause({100, AuCurveInterpolation_Linear});
        EXPECT_TRUE(live->IsPaused()); // the completion ran
        live->Resume({100, AuCurveInterpolation_Linear}, false);
        EXPECT_EQ(live->PauseFade(), 1.0f);
        EXPECT_EQ(live->Fader(), 1.0f);
        live->Stop({100, AuCurveInterpolation_Linear}, false);
        EXPECT_TRUE(live->IsStopped());
        EXPECT_EQ(transitions.Count(0), 0u);
    }
    for (void* block : blocks)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

TEST_F(PlaybackInstanceTest, AFullPoolFinishesItsMostAdvancedFadeForTheNewOne) {
    ASSERT_EQ(transitions.Init(1), AuResultSuccess);
    Live first(Params());
    Live second(Params());
    first->Play({100, AuCurveInterpolation_Linear}, false, false);
    first->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
    second->Play({}, false, false);
    second->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
    Frame();
    Frame();
    second->Stop({100, AuCurveInterpolation_Linear}, false);
    EXPECT_EQ(first->PlayFade(), 1.0f); // finished early
    EXPECT_FALSE(second->IsStopped());
    Frame();
    EXPECT_FLOAT_EQ(second->Fader(), 0.8f);
    EXPECT_EQ(first->PlayFade(), 1.0f);
}

TEST_F(PlaybackInstanceTest, MuteLevelsMultiplyAndOneRemovesTheOwnersEntry) {
    Live live(Params());
    int a, b;
    live->SetMuteLevel(&a, 0.5f, false);
    live->SetMuteLevel(&b, 0.5f, false);
    EXPECT_EQ(live->Fader(), 0.25f);
    EXPECT_EQ(live->MuteEntries(), 2u);
    live->SetMuteLevel(&a, 1.0f, false);
    EXPECT_EQ(live->MuteEntries(), 1u);
    EXPECT_EQ(live->Fader(), 0.5f);
    live->SetMuteLevel(&a, -3.0f, false);
    EXPECT_EQ(live->Fader(), 0.0f);
    live->SetMuteLevel(&a, std::numeric_limits<f32>::quiet_NaN(), false);
    EXPECT_EQ(live->Fader(), 0.0f);
    live->SetMuteLevel(&a, 1.0f, false);
    live->SetMuteLevel(&b, 1.0f, false);
    EXPECT_EQ(live->MuteEntries(), 0u);
    EXPECT_EQ(live->Fader(), 1.0f);
}

TEST_F(PlaybackInstanceTest, PriorityWithDistance) {
    struct Case {
        f32 base, offset, maxDistance, distance, expected;
    };
    const Case cases[] = {
        {50, 20, 100, 50, 60},   {50, 20, 100, 150, 70}, {50, 20, 0, 10, 70},
        {90, 30, 100, 100, 100}, {10, -30, 100, 90, 0},  {50, -20, 100, 25, 45},
    };
    for (const Case& c : cases) {
        g_trace.clear();
        node.maxDistance = c.maxDistance;
        AuPlaybackInstanceParams params = Params();
        params.priority = {c.base, c.base, c.offset};
        Live live(params, &nodeLimiter, &busLimiter);
        g_trace.clear();
        live->UpdatePriorityWithDistance(c.distance);
        EXPECT_EQ(live->Priority().fPriority, c.expected) << c.base << " " << c.offset << " " << c.distance;
        const std::string change = std::to_string(int(c.base)) + "->" + std::to_string(int(c.expected));
        EXPECT_EQ(g_trace, (std::vector<std::string>{"node resort " + change, "bus resort " + change,
                                                     "global resort " + change}));
    }
    AuPlaybackInstanceParams params = Params();
    params.priority = {50, 50, 0};
    Live still(params, &nodeLimiter);
    g_trace.clear();
    still->UpdatePriorityWithDistance(1000);
    EXPECT_EQ(still->Priority().fPriority, 50.0f);
    EXPECT_TRUE(g_trace.empty());
}

TEST_F(PlaybackInstanceTest, NotificationsAddTheirDeltas) {
    struct Case {
        u32 param;
        f32 (CAuPlaybackInstance::*read)() const;
    };
    const Case cases[] = {
        {0, &CAuPlaybackInstance::VolumeDb},
        {5, &CAuPlaybackInstance::VolumeDb},
        {2, &CAuPlaybackInstance::Pitch},
        {3, &CAuPlaybackInstance::Filter1},
        {4, &CAuPlaybackInstance::Filter2},
        {19, &CAuPlaybackInstance::GameSendVolumeDb},
        {35, &CAuPlaybackInstance::EnvelopeThreshold},
        {36, &CAuPlaybackInstance::SourceOffset},
        {60, &CAuPlaybackInstance::DryVolumeDb},
        {61, &CAuPlaybackInstance::OwnFilter2},
        {62, &CAuPlaybackInstance::OwnFilter1},
    };
    for (const Case& c : cases) {
        Live live(Params());
        AuParamNotification note{c.param, kGameObj, {}, false, 3.0f};
        live->HandleParamNotification(note);
        live->HandleParamNotification(note);
        EXPECT_EQ((live.instance.*c.read)(), 6.0f) << c.param;
        // Another game object, or a key for another playing ID: nothing.
        live->HandleParamNotification({c.param, kOtherObj, {}, false, 100.0f});
        AuRTPCKey otherKey;
        otherKey.playingID = 8;
        live->HandleParamNotification({c.param, nullptr, otherKey, false, 100.0f});
        EXPECT_EQ((live.instance.*c.read)(), 6.0f) << c.param;
    }
    for (u32 i = 0; i < 4; ++i) {
        Live live(Params());
        live->HandleParamNotification({56 + i, nullptr, {}, false, -2.0f});
        for (u32 j = 0; j < 4; ++j)
            EXPECT_EQ(live->UserSendVolumeDb(j), i == j ? -2.0f : 0.0f);
    }
    Live live(Params(), &nodeLimiter);
    AuRTPCKey key;
    key.playingID = 7;
    live->HandleParamNotification({8, kGameObj, key, false, 30.0f});
    EXPECT_EQ(live->Priority().fPriority, 80.0f);
    EXPECT_EQ(live->Priority().fBase, 80.0f);
    live->HandleParamNotification({8, kGameObj, key, false, 30.0f});
    EXPECT_EQ(live->Priority().fPriority, 100.0f); // clamped
    EXPECT_EQ(live->Priority().fBase, 110.0f);
    live->HandleParamNotification({1, kGameObj, key, false, 30.0f}); // not in the table
    live->HandleParamNotification({0, kGameObj, key, false, std::numeric_limits<f32>::infinity()});
    EXPECT_TRUE(std::isinf(live->VolumeDb()));
}

TEST_F(PlaybackInstanceTest, PositioningPropertiesStayInTheirFields) {
    Live live(Params());
    live->SetPositioningProp(37, 0.5f); // no 3D record yet: dropped
    live->SetPositioningProp(10, 7.0f); // two bits: 3
    EXPECT_EQ(live->PositioningMode(), 3);
    EXPECT_EQ(live->Positioning3D(), nullptr);
    live->SetPositioningProp(10, 1.0f);
    ASSERT_NE(live->Positioning3D(), nullptr);
    live->SetPositioningProp(37, 0.5f);
    EXPECT_EQ(live->Positioning3D()->fDistances[0], 50.0f);
    live->SetPositioningProp(65, 1.0f);
    live->SetPositioningProp(66, 2.0f);
    live->SetPositioningProp(65, 0.0f);
    EXPECT_EQ(live->Positioning3D()->uFlags, 2);
    live->SetPositioningProp(20, -100.0f);
    live->SetPositioningProp(21, 100.0f);
    live->SetPositioningProp(11, 30.0f);
    live->SetPositioningProp(64, 0.5f);
    EXPECT_EQ(live->PanLR(), -100.0f);
    EXPECT_EQ(live->PanFR(), 100.0f);
    EXPECT_EQ(live->CentrePct(), 30.0f);
    EXPECT_TRUE(live->PannerEnabled());
    const f32 value = 0.25f;
    live->ApplyRTPCParam(14, &value, sizeof value);
    live->ApplyRTPCParam(16, &value, sizeof value);
    EXPECT_EQ(live->Positioning3D()->fRTPCValues[1], 0.25f);
}

TEST_F(PlaybackInstanceTest, AModeOneWithoutMemoryStaysAtModeZero) {
    std::vector<void*> blocks;
    for (u32 size = 1u << 16; size >= 8; size /= 2)
        while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, size))
            blocks.push_back(block);
    {
        Live live(Params());
        live->SetPositioningProp(10, 1.0f);
        EXPECT_EQ(live->PositioningMode(), 0);
        EXPECT_EQ(live->Positioning3D(), nullptr);
    }
    for (void* block : blocks)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

TEST_F(PlaybackInstanceTest, AuxSendsListGameDefinedThenUserDefined) {
    Live live(Params());
    live->SetUseGameDefinedSends(true);
    live->HandleParamNotification({19, nullptr, {}, false, -6.0f});
    live->SetUserSend(0, 21, 0.0f);
    live->SetUserSend(1, 22, -200.0f); // inaudible
    live->SetUserSend(2, 23, -6.0f);
    AuAuxSend sends[CAuPlaybackInstance::kMaxAuxSends];
    ASSERT_EQ(live->GetAuxSends(sends), 3u);
    EXPECT_EQ(sends[0].busID, 11u);
    EXPECT_NEAR(sends[0].fLevel, 0.25f, 0.01f);
    EXPECT_EQ(sends[1].busID, 21u);
    EXPECT_NEAR(sends[1].fLevel, 1.0f, 0.01f);
    EXPECT_EQ(sends[2].busID, 23u);
    live->SetUserSend(0, 0, 0.0f); // a bus ID of 0 ends the list
    EXPECT_EQ(live->GetAuxSends(sends), 1u);
}

TEST_F(PlaybackInstanceTest, LimitsStopOrVirtualiseByTheNodesBehaviour) {
    node.behavior = 1;
    Live stopped(Params());
    stopped->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
    stopped->TryStopForLimit(3);
    EXPECT_TRUE(stopped->IsStopped());
    EXPECT_EQ(stopped->StopReason(), 3u);
    node.behavior = 2;
    Live virtualised(Params());
    virtualised->TryStopForLimit(3);
    EXPECT_TRUE(virtualised->ForcedVirtual());
    EXPECT_FALSE(virtualised->IsStopped());
    virtualised->StopForLimit(4);
    virtualised->StopForLimit(5); // the first reason stays
    EXPECT_TRUE(virtualised->IsStopped());
    EXPECT_EQ(virtualised->StopReason(), 4u);
}

TEST_F(PlaybackInstanceTest, FlagsAndTheFrameBudget) {
    Live live(Params());
    live->ForwardVoiceFlags(0x10, 0x10);
    EXPECT_TRUE(live->BypassAllEffects());
    live->ForwardVoiceFlags(0, 0x1F);
    EXPECT_FALSE(live->BypassAllEffects());
    live->SetFrameBudget(12);
    EXPECT_EQ(live->TakeFrameBudget(), 12);
    EXPECT_EQ(live->TakeFrameBudget(), -1);
    EXPECT_EQ(live->GetVirtualReturnMode(), 0u);
}

TEST_F(PlaybackInstanceTest, InitRefusesPlayingIdZero) {
    CAuPlaybackInstance instance(Params(0));
    EXPECT_EQ(instance.Init(&nodeLimiter, nullptr), AuResultFail);
    EXPECT_EQ(node.head, nullptr);
    instance.Term(0);
}

TEST_F(PlaybackInstanceTest, TermUndoesEverythingInOrder) {
    const u32 used = Used();
    ASSERT_EQ(playing.AddPlayingID(9, 1, 1234, nullptr, nullptr, 0, nullptr), AuResultSuccess);
    {
        CAuPlaybackInstance instance(Params(9));
        EXPECT_EQ(gameObjs.refs, 1);
        ASSERT_EQ(instance.Init(&nodeLimiter, &busLimiter), AuResultSuccess);
        EXPECT_EQ(node.head, &instance);
        EXPECT_TRUE(instance.UsesLevelWindow());
        EXPECT_EQ(g_trace, (std::vector<std::string>{"node add", "bus add", "global add"}));
        playing.RemovePendingAction(9); // only the instance keeps the playing ID now
        EXPECT_TRUE(playing.IsLive(9));
        int owner;
        instance.SetMuteLevel(&owner, 0.5f, false);
        instance.SetPositioningProp(10, 1.0f);
        ASSERT_EQ(instance.KeyedParamIds().AddParamID(3), AuResultSuccess);
        instance.Play({1000, AuCurveInterpolation_Linear}, false, false);
        EXPECT_GT(Used(), used);
        g_trace.clear();
        instance.Term(0);
        EXPECT_EQ(g_trace,
                  (std::vector<std::string>{"node remove", "bus remove", "global remove", "node informed",
                                            "game object release", "node release"}));
        EXPECT_FALSE(playing.IsLive(9));
        EXPECT_EQ(gameObjs.refs, 0);
        EXPECT_EQ(node.head, nullptr);
    }
    Frame(); // the fade that lost its user goes
    EXPECT_EQ(Used(), used);
}

TEST_F(PlaybackInstanceTest, TheNodesListKeepsTheOthers) {
    CAuPlaybackInstance a(Params()), b(Params()), c(Params());
    for (CAuPlaybackInstance* i : {&a, &b, &c})
        ASSERT_EQ(i->Init(nullptr, nullptr), AuResultSuccess);
    EXPECT_EQ(node.head, &c);
    b.Term(0);
    EXPECT_EQ(node.head, &c);
    EXPECT_EQ(c.NextOfNode(), &a);
    c.Term(0);
    EXPECT_EQ(node.head, &a);
    a.Term(0);
    EXPECT_EQ(node.head, nullptr);
}

} // namespace
