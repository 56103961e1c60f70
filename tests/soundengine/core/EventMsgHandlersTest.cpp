// The messages that start and steer playback, from the exported calls through the ring: a posted
// event becomes one pending action per action, a stop all, a stop of one playing ID, an action
// and a seek on an event; and what a message never run gives back at termination.
#include "../hierarchy/TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuEventMsgHandlers.h"
#include "core/AuExternalSources.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "core/AuRegistryMsgHandlers.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/SoundEngine.h>
#include <AuDefaultPoolTest.h>
#include <AuEventRoadManagers.h>

#include <gtest/gtest.h>

#include <new>
#include <vector>

class CAuAudioMgrTestAccess {
public:
    static void SetFrame(CAuAudioMgr& mgr, u32 frame) { mgr.m_uFrameCounter = frame; }
};

namespace {

using nodetest::TestNode;

constexpr u32 kObject = 10, kUnknown = 99, kEvent = 0xFF0B3D05, kSound = 0x1001, kMaster = 0xE2B7BC37;

// What each action saw of its pending record when it ran.
struct Ran {
    u32 actionID;
    CAuRegisteredObj* gameObj;
    AuPlayingID playingID;
    u32 customParam;
    AuExternalSourceArray* sources;
    u32 sampleOffset;
};
std::vector<Ran> g_ran;

template <class Base> class Recording : public Base {
public:
    using Base::Base;
    AURESULT Execute(CAuPendingAction& record) override {
        g_ran.push_back({this->key, record.pGameObj, record.PlayingID(), record.uCustomParam,
                         record.playParams.pExternalSources, record.uSampleOffset});
        return AuResultSuccess;
    }
};

// The end-of-event callbacks, with the thread they came on.
std::vector<AuEventCallbackInfo> g_ended;
int g_cookie;
void EndOfEvent(AuCallbackType type, AuCallbackInfo* info) {
    if (type == AU_EndOfEvent) g_ended.push_back(*static_cast<AuEventCallbackInfo*>(info));
}

class MasterBus : public CAuBus {
public:
    static MasterBus* Make(u32 id) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(MasterBus));
        auto* bus = new (memory) MasterBus(id);
        EXPECT_EQ(bus->Init(), AuResultSuccess);
        bus->BecomeMasterIfNone();
        return bus;
    }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        executed.push_back(exec);
        return AuResultSuccess;
    }
    std::vector<AuActionExec> executed;

private:
    explicit MasterBus(u32 id) : CAuBus(id) {}
};

class Sequence : public CAuIndexable, public IAuAllActionTarget {
public:
    explicit Sequence(u32 id) : CAuIndexable(id) {}
    u32 AddRef() override { return ++m_lRef; }
    u32 Release() override { return --m_lRef; }
    void ExecuteAllAction(AuActionExecKind kind, CAuRegisteredObj* gameObj) override {
        heard.push_back({kind, gameObj});
    }
    std::vector<std::pair<AuActionExecKind, CAuRegisteredObj*>> heard;
};

// The instance manager as a sound's play reaches it: the frame and the request of each start.
class StartRecorder final : public IAuNodeInstances {
public:
    struct Start {
        CAuLeafNode* node;
        u32 frame;
        AuNodePlayParams params;
    };
    AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo&, AuNodePlayParams& params) override {
        starts.push_back({&node, g_pAudioMgr->FrameCounter(), params});
        return AuResultSuccess;
    }
    void StopInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                             AuPlayingID) override {}
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                              AuPlayingID) override {}
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation, AuPlayingID,
                               bool) override {}
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj*, AuPlayingID) override {}
    std::vector<Start> starts;
};

class EventMsgHandlersTest : public AuDefaultPoolTest {
public:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
        g_ran.clear();
        g_ended.clear();
        SetOutputTiming(1024);
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, AU_INVALID_POOL_ID);
        ASSERT_EQ(m_road.Init(8192, kObject), AuResultSuccess);
        m_object = m_road.pObject;
        CAuAudioMgrTestAccess::SetFrame(m_mgr, ++m_frame);
        CAuBus::ClearMasterBusses();
    }
    void TearDown() override {
        if (!m_termed) Term();
        for (CAuIndexable* object : m_owned)
            object->Release();
        CAuBus::ClearMasterBusses();
        EXPECT_EQ(m_playing.NumRecords(), 0u) << "a playing ID was left live";
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_road.Term();
        EXPECT_EQ(nodetest::g_live.load(), 0);
        AU::MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
        g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;
        SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
        EXPECT_EQ(Used(), m_usedAtStart) << "something was left behind";
        AuDefaultPoolTest::TearDown();
    }
    void Term() {
        m_road.TermAudioMgr();
        m_termed = true;
    }

    // The messages of one audio frame, then the pending actions that are due.
    void Pass() {
        m_mgr.RenderAudio();
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
        CAuAudioMgrTestAccess::SetFrame(m_mgr, ++m_frame);
        m_mgr.ProcessPendingList();
    }
    // Plays are play actions, as the pending actions expect of type 0x0403.
    CAuAction* Action(u32 id, u16 type, u32 target = kSound, u32 delayFrames = 0) {
        CAuAction* action = nullptr;
        if (type == AU_ACTION_PLAY)
            action = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Recording<CAuActionPlay>)))
                Recording<CAuActionPlay>(id);
        else
            action = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Recording<CAuAction>)))
                Recording<CAuAction>(id);
        action->SetActionType(type);
        action->SetElementID(target, false);
        if (delayFrames) action->SetPropValue(AuPropID_Delay, i32(delayFrames * 1024), 0, 0);
        action->AddToIndex();
        m_owned.push_back(action);
        return action;
    }
    // An event listing the actions, as a bank's record does.
    void Event(std::vector<u32> actionIDs, u32 id = kEvent) {
        CAuEvent* event = AuEventRoadManagers::MakeEvent(id, actionIDs);
        ASSERT_NE(event, nullptr);
        m_owned.push_back(event);
    }
    AuPlayingID Post(u32 gameObj = kObject, u32 numSources = 0,
                     const AuExternalSourceInfo* sources = nullptr) {
        return AU::SoundEngine::PostEvent(kEvent, gameObj, AU_EndOfEvent, EndOfEvent, &g_cookie, numSources,
                                          sources, 0x77);
    }
    u32 EventRefs() {
        CAuIndexable* event = m_index.GetPtrAndAddRef(AuIndexEvents, kEvent);
        const u32 refs = event->m_lRef - 1;
        event->Release();
        return refs;
    }

    AuEventRoadManagers m_road;
    CAuObjectIndex& m_index = m_road.index;
    CAuAudioMgr& m_mgr = m_road.mgr;
    CAuPlayingMgr& m_playing = m_road.playing;
    CAuRegisteredObj* m_object = nullptr;
    std::vector<CAuIndexable*> m_owned;
    u32 m_frame = 0;
    bool m_termed = false;
};

TEST_F(EventMsgHandlersTest, EachActionOfAPostedEventRunsOrWaitsWithThePostsValues) {
    Action(0x3001, 0x0403);
    Action(0x3002, 0x0102);
    Action(0x3003, 0x0403, kSound, 2);
    Event({0x3001, 0x3002, 0x3003});
    const wchar_t name[] = L"voice.aum";
    const AuExternalSourceInfo source{1, 2, name, nullptr, 0, 3};
    const AuPlayingID id = Post(kObject, 1, &source);
    ASSERT_NE(id, 0u);
    Pass();
    ASSERT_EQ(g_ran.size(), 2u);
    EXPECT_EQ(g_ran[0].actionID, 0x3001u);
    EXPECT_EQ(g_ran[0].gameObj, m_object) << "0x0403 is scoped to the posting object";
    EXPECT_EQ(g_ran[0].playingID, id);
    EXPECT_EQ(g_ran[0].customParam, 0x77u) << "the post's last argument";
    ASSERT_NE(g_ran[0].sources, nullptr);
    EXPECT_EQ(g_ran[0].sources->Count(), 1u);
    EXPECT_EQ(g_ran[1].actionID, 0x3002u);
    EXPECT_EQ(g_ran[1].gameObj, nullptr) << "0x0102 is not scoped to the object";
    EXPECT_EQ(EventRefs(), 1u) << "the message's reference is given back";
    EXPECT_TRUE(m_playing.IsLive(id)) << "one action still waits";
    EXPECT_TRUE(g_ended.empty());

    // Posted in frame 0 with a delay of two frames: it runs in frame 2.
    Pass();
    ASSERT_EQ(g_ran.size(), 3u);
    EXPECT_EQ(g_ran[2].actionID, 0x3003u);
    EXPECT_FALSE(m_playing.IsLive(id));
    ASSERT_EQ(g_ended.size(), 1u) << "exactly once";
    EXPECT_EQ(g_ended[0].pCookie, &g_cookie);
    EXPECT_EQ(g_ended[0].gameObjID, kObject);
    EXPECT_EQ(g_ended[0].playingID, id);
    EXPECT_EQ(g_ended[0].eventID, kEvent);
}

TEST_F(EventMsgHandlersTest, AnUnregisteredObjectSkipsOnlyTheActionsScopedToIt) {
    Action(0x3001, 0x0403);
    Action(0x3002, 0x0102);
    Action(0x3003, 0x0105);
    Event({0x3001, 0x3002, 0x3003});
    const AuPlayingID id = Post(kUnknown);
    Pass();
    ASSERT_EQ(g_ran.size(), 1u);
    EXPECT_EQ(g_ran[0].actionID, 0x3002u);
    EXPECT_FALSE(m_playing.IsLive(id)) << "the playing ID still ends";
    ASSERT_EQ(g_ended.size(), 1u);
    EXPECT_EQ(g_ended[0].gameObjID, kUnknown);
}

TEST_F(EventMsgHandlersTest, UnknownEventsPostNothing) {
    EXPECT_EQ(Post(), 0u);
    EXPECT_TRUE(m_mgr.IsEmpty());
}

TEST_F(EventMsgHandlersTest, MessagesNeverRunGiveBackWhatTheyHoldAtTermination) {
    Action(0x3001, 0x0403);
    Event({0x3001});
    const wchar_t name[] = L"voice.aum";
    const AuExternalSourceInfo source{1, 2, name, nullptr, 0, 3};
    const AuPlayingID id = Post(kObject, 1, &source);
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Stop, kObject),
              AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::SeekOnEvent(kEvent, kObject, 0.5f), AuResultSuccess);
    EXPECT_EQ(EventRefs(), 4u);
    Term();
    EXPECT_TRUE(g_ran.empty());
    EXPECT_EQ(EventRefs(), 1u);
    EXPECT_FALSE(m_playing.IsLive(id));
    EXPECT_EQ(g_ended.size(), 1u);
}

TEST_F(EventMsgHandlersTest, StopAllStopsTheObjectsSoundsOrEveryOneOrNothing) {
    Sequence sequence(9);
    sequence.AddRef();
    m_index.Table(AuIndexDynamicSequences).Add(&sequence);
    struct Case {
        u32 gameObj;
        bool heard;
        CAuRegisteredObj* as;
    };
    const Case cases[] = {{kObject, true, m_object}, {0xFFFFFFFF, true, nullptr}, {kUnknown, false, nullptr}};
    for (const Case& c : cases) {
        sequence.heard.clear();
        AU::SoundEngine::StopAll(c.gameObj);
        Pass();
        ASSERT_EQ(sequence.heard.size(), c.heard ? 1u : 0u) << c.gameObj;
        if (!c.heard) continue;
        EXPECT_EQ(sequence.heard[0].first, AuActionExec_Stop);
        EXPECT_EQ(sequence.heard[0].second, c.as);
    }
    m_index.Table(AuIndexDynamicSequences).Remove(&sequence);
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 0u) << "the stop made for the occasion is gone";
}

TEST_F(EventMsgHandlersTest, StopPlayingIDRemovesItsPendingActionsAndStopsItThroughTheMasterBus) {
    MasterBus* master = MasterBus::Make(kMaster);
    m_owned.push_back(master);
    Action(0x3001, 0x0403, kSound, 5);
    Event({0x3001});
    const AuPlayingID first = Post();
    const AuPlayingID second = Post();
    Pass();
    EXPECT_EQ(m_mgr.NumPendingItems(), 2u);
    AU::SoundEngine::StopPlayingID(first, 200, AuCurveInterpolation_SmoothS);
    AU::SoundEngine::StopPlayingID(0);
    Pass();
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u) << "the other post's action still waits";
    EXPECT_FALSE(m_playing.IsLive(first));
    EXPECT_TRUE(m_playing.IsLive(second));
    ASSERT_EQ(master->executed.size(), 1u) << "a playing ID of 0 posts nothing";
    EXPECT_EQ(master->executed[0].kind, u32(AuActionExec_Stop));
    EXPECT_EQ(master->executed[0].playingID, first);
    EXPECT_EQ(master->executed[0].transitionTimeMs, 200);
    EXPECT_EQ(master->executed[0].eCurve, AuCurveInterpolation_SmoothS);
    EXPECT_EQ(master->executed[0].pGameObj, nullptr);
    m_mgr.ClearPendingList();
}

TEST_F(EventMsgHandlersTest, AnActionOnAnEventReachesThePlayTargetsAndThePendingRecordsOfTheOthers) {
    auto* sound = TestNode::Make<TestNode>(kSound, AuNodeCategory_Sound);
    m_owned.push_back(sound);
    Action(0x3001, 0x0403);
    Action(0x3002, 0x1202, 0, 3); // any other action: its records wait
    Event({0x3001, 0x3002});
    const AuPlayingID first = Post();
    const AuPlayingID second = Post();
    Pass();
    ASSERT_EQ(m_mgr.NumPendingItems(), 2u);

    // Pause of one playing ID: the play target hears it, the other action's record of that ID pauses.
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Pause, kObject, 100,
                                                    AuCurveInterpolation_Linear, first),
              AuResultSuccess);
    Pass();
    ASSERT_EQ(sound->executed.size(), 1u);
    EXPECT_EQ(sound->executed[0].kind, u32(AuActionExec_Pause));
    EXPECT_EQ(sound->executed[0].pGameObj, m_object);
    EXPECT_EQ(sound->executed[0].playingID, first);
    EXPECT_EQ(sound->executed[0].transitionTimeMs, 100);
    EXPECT_EQ(m_mgr.NumPausedItems(), 1u);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);

    AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Resume, kObject, 0,
                                          AuCurveInterpolation_Linear, 0);
    Pass();
    EXPECT_EQ(m_mgr.NumPausedItems(), 0u) << "playing ID 0 resumes any";

    // Stop of every playing ID removes the other action's records; the playing IDs end.
    AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Stop, 0xFFFFFFFF);
    Pass();
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    ASSERT_EQ(sound->executed.size(), 3u);
    EXPECT_EQ(sound->executed[2].pGameObj, nullptr);
    EXPECT_FALSE(m_playing.IsLive(first));
    EXPECT_FALSE(m_playing.IsLive(second));

    // An unknown object: nothing, the event's reference still given back.
    AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Stop, kUnknown);
    Pass();
    EXPECT_EQ(sound->executed.size(), 3u);
    EXPECT_EQ(EventRefs(), 1u);
}

// Message 31 on an action that does not play: its own records only (another event's action keeps
// its record), and only those of the playing ID when one is given.
TEST_F(EventMsgHandlersTest, AnActionOnAnEventStepsItsOtherActionsRecordsOfThePlayingIDOnly) {
    constexpr u32 kOtherEvent = 0xE7746BD5;
    Action(0x3002, 0x1202, 0, 100);
    Action(0x3003, 0x1202, 0, 100);
    Event({0x3002});
    Event({0x3003}, kOtherEvent);
    enum Filter { kAny, kFirst, kSecond };
    struct Case {
        AuActionOnEventType kind;
        Filter filter;
        bool pausedBefore; // the event's two records paused first
        u32 pending, paused;
        bool firstLive, secondLive;
    };
    const Case cases[] = {
        {AuActionOnEventType_Stop, kSecond, false, 2, 0, true, false},
        {AuActionOnEventType_Break, kFirst, false, 2, 0, false, true},
        {AuActionOnEventType_Stop, kAny, false, 1, 0, false, false},
        {AuActionOnEventType_Pause, kSecond, false, 2, 1, true, true},
        {AuActionOnEventType_Pause, kAny, false, 1, 2, true, true},
        {AuActionOnEventType_Resume, kFirst, true, 2, 1, true, true},
        {AuActionOnEventType_Resume, kAny, true, 3, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.filter << " " << c.pausedBefore);
        const AuPlayingID first = Post();
        const AuPlayingID second = Post();
        const AuPlayingID other = AU::SoundEngine::PostEvent(kOtherEvent, kObject);
        Pass();
        ASSERT_EQ(m_mgr.NumPendingItems(), 3u);
        if (c.pausedBefore) {
            AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Pause, kObject);
            Pass();
            ASSERT_EQ(m_mgr.NumPausedItems(), 2u);
        }
        const AuPlayingID filter = c.filter == kFirst ? first : c.filter == kSecond ? second : 0;
        ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, c.kind, kObject, 0,
                                                        AuCurveInterpolation_Linear, filter),
                  AuResultSuccess);
        Pass();
        EXPECT_EQ(m_mgr.NumPendingItems(), c.pending);
        EXPECT_EQ(m_mgr.NumPausedItems(), c.paused);
        EXPECT_EQ(m_playing.IsLive(first), c.firstLive);
        EXPECT_EQ(m_playing.IsLive(second), c.secondLive);
        EXPECT_TRUE(m_playing.IsLive(other));
        EXPECT_TRUE(g_ran.empty()) << "nothing ran before its delay";
        m_mgr.ClearPausedList();
        m_mgr.ClearPendingList();
    }
}

TEST_F(EventMsgHandlersTest, BreakOnAnEventRemovesThePendingPlaysOfItsTarget) {
    auto* sound = TestNode::Make<TestNode>(kSound, AuNodeCategory_Sound);
    m_owned.push_back(sound);
    Action(0x3001, 0x0403, kSound, 4);
    Event({0x3001});
    const AuPlayingID id = Post();
    Pass();
    ASSERT_EQ(m_mgr.NumPendingItems(), 1u);
    AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Break, kObject);
    Pass();
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    ASSERT_EQ(sound->executed.size(), 1u);
    EXPECT_EQ(sound->executed[0].kind, u32(AuActionExec_Break));
    EXPECT_FALSE(m_playing.IsLive(id));
}

TEST_F(EventMsgHandlersTest, ASeekOnAnEventReachesThePlayTargetsThatAreNotBusses) {
    auto* sound = TestNode::Make<TestNode>(kSound, AuNodeCategory_Sound);
    m_owned.push_back(sound);
    auto* bus = TestNode::Make<TestNode>(kMaster, AuNodeCategory_Bus);
    m_owned.push_back(bus);
    Action(0x3001, 0x0403);
    CAuAction* busPlay = Action(0x3002, 0x0403, kMaster);
    busPlay->SetElementID(kMaster, true);
    Action(0x3003, 0x0102);
    Event({0x3001, 0x3002, 0x3003});
    AU::SoundEngine::SeekOnEvent(kEvent, kObject, 0.5f, true, 12);
    AU::SoundEngine::SeekOnEvent(kEvent, 0xFFFFFFFF, 1500, false, 0);
    AU::SoundEngine::SeekOnEvent(kEvent, kUnknown, 10, false, 0);
    Pass();
    EXPECT_TRUE(bus->executed.empty());
    EXPECT_TRUE(g_ran.empty()) << "seeks run no action";
    ASSERT_EQ(sound->executed.size(), 2u);
    const AuActionExec& fraction = sound->executed[0];
    EXPECT_EQ(fraction.kind, u32(AuActionExec_Seek));
    EXPECT_EQ(fraction.seekPosition, 0.5f);
    EXPECT_EQ(fraction.flags, AU_EXEC_SEEK_PERCENT | AU_EXEC_SEEK_SNAP);
    EXPECT_EQ(fraction.pGameObj, m_object);
    EXPECT_EQ(fraction.playingID, 12u);
    const AuActionExec& ms = sound->executed[1];
    EXPECT_EQ(ms.seekMs, 1500);
    EXPECT_EQ(ms.flags, 0u);
    EXPECT_EQ(ms.pGameObj, nullptr);
    EXPECT_EQ(EventRefs(), 1u);
}

// The road up to the instance manager with the real play action and sound: a play without delay
// starts in the pass that runs the post; one delayed by 100 ms (4800 samples) four frames later,
// 704 samples into that frame.
TEST_F(EventMsgHandlersTest, APostedPlayReachesTheSoundsStartAtItsFrameAndOffset) {
    StartRecorder recorder;
    g_pNodeInstances = &recorder;
    CAuSound* sound = CAuSound::Create(kSound);
    m_owned.push_back(sound);
    struct Case {
        i32 delaySamples;
        u32 framesLater;
        i32 offset;
    };
    for (const Case c : {Case{0, 0, 0}, Case{4800, 4, 704}, Case{1000, 0, 1000}}) {
        SCOPED_TRACE(c.delaySamples);
        recorder.starts.clear();
        CAuAction* play = CreateActionByType(0x0403, 0x3001);
        play->SetElementID(kSound, false);
        play->SetPropValue(AuPropID_Delay, c.delaySamples, 0, 0);
        Event({0x3001});
        const AuPlayingID id = Post();
        const u32 postedIn = m_mgr.FrameCounter();
        for (u32 i = 0; i <= c.framesLater; ++i)
            Pass();
        ASSERT_EQ(recorder.starts.size(), 1u);
        EXPECT_EQ(recorder.starts[0].node, sound);
        EXPECT_EQ(recorder.starts[0].frame, postedIn + c.framesLater);
        EXPECT_EQ(recorder.starts[0].params.lFrameOffset, c.offset);
        EXPECT_EQ(recorder.starts[0].params.pGameObj, m_object);
        EXPECT_EQ(recorder.starts[0].params.playingID, id);
        // No instance was made, so nothing holds the playing ID once its action has run.
        EXPECT_FALSE(m_playing.IsLive(id));
        m_owned.back()->Release();
        m_owned.pop_back();
        play->Release();
    }
    g_pNodeInstances = nullptr;
}

} // namespace
