// The audio manager's pending actions, frame by frame on the test's thread: scheduling by delay,
// launch order, pause and resume levels, the filters of the removal families, and the balance of
// every playing ID's pending count.
#include "../hierarchy/TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuExternalSources.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuAction.h"
#include "parameters/AuRTPCMgr.h"
#include "voices/AuVoiceCommands.h"

#include <AuDefaultPoolTest.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

class CAuAudioMgrTestAccess {
public:
    static void SetFrame(CAuAudioMgr& mgr, u32 frame) { mgr.m_uFrameCounter = frame; }
};

namespace {

using nodetest::TestNode;

constexpr u16 kStopType = 0x0102;
constexpr u16 kResumeType = 0x0302;
constexpr u16 kSetStateType = 0x1202;

// What the recording actions saw, in order.
struct Heard {
    std::string what; // "run", "notify"
    u32 actionID;
    u32 frame;
    u32 sampleOffset;
};
std::vector<Heard> g_heard;
u32 g_frame = 0;

// Every action kind the tests schedule: runs and notifications are recorded; `result` is what
// Execute answers (15 stands for a target that has gone).
template <class Base> class Recording : public Base {
public:
    using Base::Base;
    AURESULT Execute(CAuPendingAction& record) override {
        g_heard.push_back({"run", this->key, g_frame, record.uSampleOffset});
        return result;
    }
    AURESULT result = AuResultSuccess;
};

class RecordingPlay : public Recording<CAuActionPlay> {
public:
    using Recording::Recording;
    void NotifyPendingState() noexcept override { g_heard.push_back({"notify", key, g_frame, 0}); }
};

class RecordingNext : public Recording<CAuActionPlayAndContinue> {
public:
    using Recording::Recording;
    void NotifyPendingState() noexcept override { g_heard.push_back({"notify", key, g_frame, 0}); }
    // The continuous playback's answer, scripted.
    bool ContinueToNextItem(CAuNodeBase* node, CAuRegisteredObj*, CAuPendingAction&) override {
        asked.push_back(node);
        return done;
    }
    bool done = true;
    std::vector<CAuNodeBase*> asked;
};

using RecordingAction = Recording<CAuAction>;

template <class T> T* MakeAction(u32 id, u16 type, u32 target, bool isBus = false) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    T* action = new (memory) T(id);
    action->SetActionType(type);
    action->SetElementID(target, isBus);
    action->AddToIndex();
    return action;
}

CAuRegisteredObj* MakeObject(u32 id) {
    return new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj))) CAuRegisteredObj(id);
}

int g_cookie;
std::vector<AuEventCallbackInfo> g_ended;
void EndOfEvent(AuCallbackType type, AuCallbackInfo* info) {
    if (type == AU_EndOfEvent) g_ended.push_back(*static_cast<AuEventCallbackInfo*>(info));
}

class PendingActionsTest : public AuDefaultPoolTest {
protected:
    explicit PendingActionsTest(u32 poolBytes = 4u << 20) : AuDefaultPoolTest(poolBytes) {}

    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
        g_heard.clear();
        g_ended.clear();
        g_frame = 100;
        SetOutputTiming(1024);
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        ASSERT_EQ(m_playing.Init(), AuResultSuccess);
        g_pPlayingMgr = &m_playing;
        ASSERT_EQ(m_mgr.Init(4096), AuResultSuccess);
        g_pAudioMgr = &m_mgr;
        CAuAudioMgrTestAccess::SetFrame(m_mgr, g_frame);
    }
    void TearDown() override {
        m_mgr.Term();
        g_pAudioMgr = nullptr;
        EXPECT_EQ(m_playing.NumRecords(), 0u) << "a pending count was left unbalanced";
        m_playing.Term();
        g_pPlayingMgr = nullptr;
        EXPECT_EQ(nodetest::g_live.load(), 0);
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart) << "something was left behind";
        m_index.Term();
        g_pIndex = nullptr;
        win32test::ResetRandScript();
        SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
        AuDefaultPoolTest::TearDown();
    }

    // A record for the action, handed to the manager (which takes its own reference).
    AURESULT Schedule(CAuAction* action, AuPlayingID playingID = 0, CAuRegisteredObj* gameObj = nullptr,
                      AuExternalSourceArray* sources = nullptr) {
        AuCustomPlayParams params;
        params.playingID = playingID;
        params.pExternalSources = sources;
        CAuPendingAction* record = CAuPendingAction::Create(action, gameObj, params, 0);
        EXPECT_NE(record, nullptr);
        return m_mgr.EnqueueOrExecute(record);
    }
    // One pass: the counter moves on, then the due records run.
    void Step(u32 frames = 1) {
        for (u32 i = 0; i < frames; ++i) {
            CAuAudioMgrTestAccess::SetFrame(m_mgr, ++g_frame);
            m_mgr.ProcessPendingList();
        }
    }
    static std::vector<u32> Runs() {
        std::vector<u32> ids;
        for (const Heard& heard : g_heard)
            if (heard.what == "run") ids.push_back(heard.actionID);
        return ids;
    }
    static int Count(const std::string& what, u32 actionID) {
        int n = 0;
        for (const Heard& heard : g_heard)
            n += heard.what == what && heard.actionID == actionID;
        return n;
    }
    // A live playing ID whose post has been processed, as message 1 leaves it: once its pending
    // actions are gone it ends and tells EndOfEvent.
    void Post(AuPlayingID playingID, const std::vector<CAuAction*>& actions,
              CAuRegisteredObj* gameObj = nullptr) {
        ASSERT_EQ(m_playing.AddPlayingID(playingID, 10, 1234, EndOfEvent, &g_cookie, AU_EndOfEvent, nullptr),
                  AuResultSuccess);
        for (CAuAction* action : actions)
            Schedule(action, playingID, gameObj);
        m_playing.RemovePendingAction(playingID);
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuPlayingMgr m_playing;
    CAuAudioMgr m_mgr;
};

TEST_F(PendingActionsTest, ADelayBecomesFramesAndASampleOffset) {
    struct Case {
        const char* name;
        u16 type;
        i32 delay;
        i32 min, max; // the delay's range; rand is scripted to 0 (the minimum)
        bool runsAtOnce;
        u32 framesLater;
        u32 offset;
    };
    const Case cases[] = {
        {"no delay", 0x0403, 0, 0, 0, true, 0, 0},
        {"under a frame", 0x0403, 1023, 0, 0, true, 0, 1023},
        {"one frame", 0x0403, 1024, 0, 0, false, 1, 0},
        {"5000", 0x0403, 5000, 0, 0, false, 4, 904},
        {"play and continue, look-ahead 1", 0x0503, 2048, 0, 0, false, 1, 1024},
        {"play and continue within the look-ahead", 0x0503, 1024, 0, 0, true, 0, 1024},
        {"play and continue under a frame", 0x0503, 700, 0, 0, true, 0, 700},
        {"negative", 0x0403, -100, 0, 0, true, 0, 0},
        {"negative draw of a [-5, 5] ms range", 0x0403, 0, -240, 240, true, 0, 0},
        {"play and continue, negative", 0x0503, -2048, 0, 0, true, 0, 0},
    };
    u32 id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_heard.clear();
        const int zero = 0;
        win32test::ScriptRand(&zero, 1);
        CAuActionPlay* action = c.type == 0x0503
                                    ? static_cast<CAuActionPlay*>(MakeAction<RecordingNext>(id, c.type, 50))
                                    : MakeAction<RecordingPlay>(id, c.type, 50);
        ASSERT_EQ(action->SetPropValue(AuPropID_Delay, c.delay, c.min, c.max), AuResultSuccess);
        const u32 scheduledAt = g_frame;
        EXPECT_EQ(Schedule(action), AuResultSuccess);
        if (c.runsAtOnce) {
            ASSERT_EQ(Runs().size(), 1u);
            EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
        } else {
            EXPECT_TRUE(Runs().empty());
            EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
            Step(c.framesLater - 1);
            EXPECT_TRUE(Runs().empty()) << "ran a frame early";
            Step();
            ASSERT_EQ(Runs().size(), 1u);
        }
        const Heard& run = g_heard.back();
        EXPECT_EQ(run.frame - scheduledAt, c.framesLater);
        EXPECT_EQ(run.sampleOffset, c.offset);
        EXPECT_EQ(action->m_lRef, 1u) << "the manager's reference is gone";
        action->Release();
        ++id;
    }
}

// Each action run closes a group of voice commands, so that the plays of two actions start apart.
TEST_F(PendingActionsTest, EveryActionRunMovesTheChangeCounterOnce) {
    CAuActionPlay* now = MakeAction<RecordingPlay>(1, 0x0403, 50);
    CAuActionPlay* later = MakeAction<RecordingPlay>(2, 0x0403, 50);
    ASSERT_EQ(later->SetPropValue(AuPropID_Delay, 1024, 0, 0), AuResultSuccess);
    const u32 before = AuChangeCounter();
    EXPECT_EQ(Schedule(now), AuResultSuccess);
    EXPECT_EQ(AuChangeCounter(), before + 1) << "run at once";
    EXPECT_EQ(Schedule(later), AuResultSuccess);
    EXPECT_EQ(AuChangeCounter(), before + 1) << "queued: not run yet";
    Step();
    EXPECT_EQ(Runs().size(), 2u);
    EXPECT_EQ(AuChangeCounter(), before + 2);
    now->Release();
    later->Release();
}

TEST_F(PendingActionsTest, EqualLaunchFramesRunInSchedulingOrderAndLinksBeyondTheBlockGoBack) {
    // Launch frames 3, 1, 3, 2, 3 frames ahead: 1 first, then 2, then the three 3s in order.
    const i32 delays[] = {3 * 1024, 1024, 3 * 1024 + 500, 2 * 1024, 3 * 1024 + 1};
    std::vector<CAuAction*> actions;
    for (u32 i = 0; i < 5; ++i) {
        actions.push_back(MakeAction<RecordingPlay>(i + 1, AU_ACTION_PLAY, 50));
        actions.back()->SetPropValue(AuPropID_Delay, delays[i], 0, 0);
        Schedule(actions.back());
    }
    Step(3);
    EXPECT_EQ(Runs(), (std::vector<u32>{2, 4, 1, 3, 5}));

    // 40 records, more than the 32 links of the block, all at one frame.
    const u32 before = Used();
    g_heard.clear();
    for (u32 i = 0; i < 40; ++i)
        Schedule(actions[i % 5]);
    EXPECT_EQ(m_mgr.NumPendingItems(), 40u);
    Step(4);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_EQ(Runs().size(), 40u);
    EXPECT_EQ(Used(), before) << "the links beyond the block went back to the pool";
    for (CAuAction* action : actions)
        action->Release();
}

TEST_F(PendingActionsTest, APauseLevelNeedsItsOwnResumeUnlessAllAreAsked) {
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 3 * 1024, 0, 0);
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all ? "resume all" : "resume one level");
        g_heard.clear();
        Schedule(play); // due 3 frames from now
        Step();
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
        EXPECT_EQ(m_mgr.NumPausedItems(), 1u);
        Step(5);
        m_mgr.ResumePausedPendingItems(nullptr, nullptr, all, 0);
        if (!all) {
            EXPECT_EQ(m_mgr.NumPausedItems(), 1u) << "paused twice";
            Step(2);
            m_mgr.ResumePausedPendingItems(nullptr, nullptr, false, 0);
        }
        EXPECT_EQ(m_mgr.NumPausedItems(), 0u);
        EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
        // Two of its three frames were left: it runs two frames after the resume.
        const u32 resumedAt = g_frame;
        Step();
        EXPECT_TRUE(Runs().empty());
        Step();
        ASSERT_EQ(Runs().size(), 1u);
        EXPECT_EQ(g_heard.back().frame, resumedAt + 2);
    }
    play->Release();
}

TEST_F(PendingActionsTest, BusDelayedActionsSurviveStopClearAndPause) {
    RecordingAction* recovery = MakeAction<RecordingAction>(0, AU_ACTION_BUS_DELAYED, 7, true);
    RecordingPlay* play = MakeAction<RecordingPlay>(2, AU_ACTION_PLAY, 50);
    recovery->SetPropValue(AuPropID_Delay, 2048, 0, 0);
    play->SetPropValue(AuPropID_Delay, 2048, 0, 0);
    const AuActionException none{99, 0};
    struct Request {
        const char* name;
        void (*run)(CAuAudioMgr&, const AuActionException*);
    };
    const Request requests[] = {
        {"clear", [](CAuAudioMgr& m, const AuActionException*) { m.ClearPendingItems(nullptr, nullptr, 0); }},
        {"clear except",
         [](CAuAudioMgr& m, const AuActionException* e) { m.ClearPendingItemsExcept(nullptr, e, 1, 0); }},
        {"clear of node",
         [](CAuAudioMgr& m, const AuActionException*) { m.ClearPendingItemsOfNode(nullptr); }},
        {"pause",
         [](CAuAudioMgr& m, const AuActionException*) { m.PausePendingItems(nullptr, nullptr, true, 0); }},
        {"pause except",
         [](CAuAudioMgr& m, const AuActionException* e) {
             m.PausePendingItemsExcept(nullptr, true, e, 1, 0);
         }},
    };
    for (const Request& request : requests) {
        SCOPED_TRACE(request.name);
        Schedule(recovery);
        Schedule(play);
        request.run(m_mgr, &none);
        EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
        m_mgr.ClearPausedList();
        Step(2);
        EXPECT_EQ(Count("run", 0), 1) << "the bus's recovery still ran";
        EXPECT_EQ(Count("run", 2), 0);
        g_heard.clear();
    }
    recovery->Release();
    play->Release();
}

// parent 10 > child 11 > grandchild 12 (output bus: bus 20, whose parent bus is 21); node 13
// elsewhere. Busses and nodes are different entries even with one ID: bus 13 exists too.
class PendingFilterTest : public PendingActionsTest {
protected:
    void SetUp() override {
        PendingActionsTest::SetUp();
        m_parent = TestNode::Make(10);
        m_child = TestNode::Make(11);
        m_grandchild = TestNode::Make(12, AuNodeCategory_Sound);
        m_other = TestNode::Make(13, AuNodeCategory_Sound);
        m_bus = TestNode::Make(20, AuNodeCategory_Bus);
        m_topBus = TestNode::Make(21, AuNodeCategory_Bus);
        m_twinBus = TestNode::Make(13, AuNodeCategory_Bus);
        Link(m_parent, m_child);
        Link(m_child, m_grandchild);
        Link(m_bus, m_grandchild);
        Link(m_topBus, m_bus);
        m_objA = MakeObject(1);
        m_objB = MakeObject(2);
        // One delayed play per target: 10, 11, 12, 13, bus 20, bus 13.
        const struct {
            u32 target;
            bool isBus;
        } targets[] = {{10, false}, {11, false}, {12, false}, {13, false}, {20, true}, {13, true}};
        u32 id = 100;
        for (const auto& t : targets) {
            m_actions.push_back(MakeAction<RecordingPlay>(id++, AU_ACTION_PLAY, t.target, t.isBus));
            m_actions.back()->SetPropValue(AuPropID_Delay, 1024, 0, 0);
        }
    }
    void TearDown() override {
        m_mgr.ClearPendingList();
        m_mgr.ClearPausedList();
        for (CAuAction* action : m_actions)
            action->Release();
        m_objA->Release();
        m_objB->Release();
        for (TestNode* node : {m_grandchild, m_other, m_twinBus, m_child, m_parent, m_bus, m_topBus})
            node->Release();
        PendingActionsTest::TearDown();
    }
    static void Link(TestNode* above, TestNode* below) {
        below->AddRef();
        ASSERT_EQ(above->AddChild(below), AuResultSuccess);
    }
    // Every action scheduled once, for this object and playing ID.
    void ScheduleAll(CAuRegisteredObj* gameObj = nullptr, AuPlayingID playingID = 0) {
        for (CAuAction* action : m_actions)
            Schedule(action, playingID, gameObj);
    }
    // The targets of the records still pending, as "10", "b20"... A pause and a resume of all
    // of them on one frame leaves them in the paused list's order: by target ID.
    std::vector<std::string> Left() {
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        std::vector<std::string> left;
        g_heard.clear();
        m_mgr.ResumePausedPendingItems(nullptr, nullptr, true, 0);
        Step();
        for (u32 id : Runs()) {
            const CAuAction* action = m_actions[id - 100];
            left.push_back(((action->Flags() & AU_ACTION_TARGET_IS_BUS) ? "b" : "") +
                           std::to_string(action->TargetID()));
        }
        return left;
    }

    TestNode *m_parent, *m_child, *m_grandchild, *m_other, *m_bus, *m_topBus, *m_twinBus;
    CAuRegisteredObj *m_objA, *m_objB;
    std::vector<CAuAction*> m_actions;
};

TEST_F(PendingFilterTest, ANodeMatchesItsOwnTargetAndEveryTargetBelowIt) {
    using List = std::vector<std::string>;
    const struct {
        TestNode** node;
        List left;
    } cases[] = {
        {&m_parent, {"13", "b13", "b20"}},
        {&m_child, {"10", "13", "b13", "b20"}},
        {&m_grandchild, {"10", "11", "13", "b13", "b20"}},
        {&m_bus, {"10", "11", "13", "b13"}},    // the grandchild goes through its bus
        {&m_topBus, {"10", "11", "13", "b13"}}, // and through the bus's parent bus
        {&m_other, {"10", "11", "12", "b13", "b20"}},
        {&m_twinBus, {"10", "11", "12", "13", "b20"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((*c.node)->key);
        ScheduleAll();
        m_mgr.ClearPendingItems(*c.node, nullptr, 0);
        EXPECT_EQ(Left(), c.left);
    }
}

TEST_F(PendingFilterTest, AnExceptionListSparesExactlyItsEntriesAndWhatLiesBelowThem) {
    using List = std::vector<std::string>;
    const struct {
        const char* name;
        std::vector<AuActionException> exceptions;
        List left;
    } cases[] = {
        {"none", {}, {}},
        {"node 13", {{13, 0}}, {"13"}},
        {"bus 13", {{13, 1}}, {"b13"}},
        {"node 20 is not bus 20", {{20, 0}}, {}},
        {"bus 20 spares what it mixes", {{20, 1}}, {"12", "b20"}},
        {"parent 10", {{10, 0}}, {"10", "11", "12"}},
        {"duplicates", {{11, 0}, {11, 0}, {13, 1}, {13, 1}}, {"11", "12", "b13"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScheduleAll();
        m_mgr.ClearPendingItemsExcept(nullptr, c.exceptions.data(), static_cast<u32>(c.exceptions.size()), 0);
        EXPECT_EQ(Left(), c.left);
    }
}

TEST_F(PendingFilterTest, GameObjectAndPlayingIdFiltersTakeNullAndZeroAsAny) {
    // Records for object A with playing ID 0, and for no object with playing ID 0; the rest have
    // object B with playing ID 7.
    const struct {
        const char* name;
        CAuRegisteredObj** gameObj;
        AuPlayingID playingID;
        size_t left; // of 3 x 6 records
    } cases[] = {
        {"any object, any play", nullptr, 0, 0},
        {"object A", &m_objA, 0, 12},
        {"object B", &m_objB, 0, 12},
        {"playing ID 7", nullptr, 7, 12},
        {"object A and playing ID 7", &m_objA, 7, 18},
        {"playing ID 8", nullptr, 8, 18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(m_playing.AddPlayingID(7, 2, 1, nullptr, nullptr, 0, nullptr), AuResultSuccess);
        ScheduleAll(m_objA, 0);
        ScheduleAll(nullptr, 0);
        ScheduleAll(m_objB, 7);
        m_playing.RemovePendingAction(7);
        m_mgr.ClearPendingItems(m_parent, c.gameObj ? *c.gameObj : nullptr, c.playingID);
        m_mgr.ClearPendingItems(nullptr, c.gameObj ? *c.gameObj : nullptr, c.playingID);
        EXPECT_EQ(Left().size(), c.left);
        EXPECT_FALSE(m_playing.IsLive(7)) << "every record of the play ran or went";
    }
    EXPECT_EQ(m_objA->RefCount(), 1u);
    EXPECT_EQ(m_objB->RefCount(), 1u);
}

TEST_F(PendingFilterTest, RecordsOfResumeActionsArePausedOnlyWhenAsked) {
    RecordingAction* resume = MakeAction<RecordingAction>(200, kResumeType, 11);
    RecordingAction* stop = MakeAction<RecordingAction>(201, kStopType, 11);
    for (CAuAction* action : {static_cast<CAuAction*>(resume), static_cast<CAuAction*>(stop)})
        action->SetPropValue(AuPropID_Delay, 1024, 0, 0);
    for (const bool include : {false, true}) {
        SCOPED_TRACE(include);
        Schedule(resume);
        Schedule(stop);
        m_mgr.PausePendingItems(m_parent, nullptr, include, 0);
        EXPECT_EQ(m_mgr.NumPausedItems(), include ? 2u : 1u);
        g_heard.clear();
        Step();
        EXPECT_EQ(Runs(), include ? std::vector<u32>{} : std::vector<u32>{200});
        m_mgr.ClearPendingItems(nullptr, nullptr, 0);
    }
    resume->Release();
    stop->Release();
}

TEST_F(PendingFilterTest, ActionAndPlayingIdFamiliesSelectByActionIdAndPlay) {
    ASSERT_EQ(m_playing.AddPlayingID(7, 2, 1, nullptr, nullptr, 0, nullptr), AuResultSuccess);
    ASSERT_EQ(m_playing.AddPlayingID(8, 2, 1, nullptr, nullptr, 0, nullptr), AuResultSuccess);
    CAuAction* a = m_actions[0]; // ID 100
    CAuAction* b = m_actions[1]; // ID 101
    Schedule(a, 7);
    Schedule(a, 8);
    Schedule(b, 7);
    m_playing.RemovePendingAction(7);
    m_playing.RemovePendingAction(8);

    m_mgr.PausePendingItemsOfActionAndPlayingID(100, 8);
    EXPECT_EQ(m_mgr.NumPausedItems(), 1u);
    m_mgr.PausePendingItemsOfAction(a); // the paused one gains a level, the other is paused
    EXPECT_EQ(m_mgr.NumPausedItems(), 2u);
    m_mgr.ResumePausedItemsOfActionAndPlayingID(100, 0);
    EXPECT_EQ(m_mgr.NumPausedItems(), 1u) << "the twice-paused record needs a second resume";
    m_mgr.ResumePausedItemsOfAction(a);
    EXPECT_EQ(m_mgr.NumPausedItems(), 0u);

    // Zero names no play for the playing-ID family.
    m_mgr.PausePendingItemsOfPlayingID(0);
    m_mgr.RemovePendingItemsOfPlayingID(0);
    EXPECT_EQ(m_mgr.NumPendingItems(), 3u);
    m_mgr.PausePendingItemsOfPlayingID(7);
    m_mgr.PausePendingItemsOfPlayingID(7);
    EXPECT_EQ(m_mgr.NumPausedItems(), 2u);
    m_mgr.ResumePausedItemsOfPlayingID(7);
    EXPECT_EQ(m_mgr.NumPausedItems(), 2u);
    m_mgr.StopPendingItemsOfActionAndPlayingID(100, 0); // a's records, paused or not
    EXPECT_EQ(m_mgr.NumPausedItems(), 1u);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_FALSE(m_playing.IsLive(8));
    m_mgr.RemovePendingItemsOfPlayingID(7);
    EXPECT_EQ(m_mgr.NumPausedItems(), 0u);
    EXPECT_FALSE(m_playing.IsLive(7));
    EXPECT_EQ(Count("run", 100) + Count("run", 101), 0);
}

TEST_F(PendingActionsTest, ADelayedPlayRemovedBeforeItFiresEndsItsPlayingIdOnce) {
    TestNode* sound = TestNode::Make(50, AuNodeCategory_Sound);
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 500 * 48, 0, 0); // 500 ms at 48 kHz
    Post(21, {play});
    EXPECT_TRUE(m_playing.IsLive(21));
    EXPECT_EQ(Count("notify", 1), 1) << "a queued play hears of it";
    EXPECT_EQ(play->m_lRef, 2u);
    Step(10);

    // Message 31 with kind 0 on the play's target.
    EXPECT_EQ(ExecuteActionOnNode(sound, nullptr, 0, 0, AuCurveInterpolation_Linear, 21), AuResultSuccess);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_EQ(Count("notify", 1), 2) << "and of its removal";
    EXPECT_EQ(Count("run", 1), 0);
    EXPECT_EQ(play->m_lRef, 1u);
    EXPECT_FALSE(m_playing.IsLive(21));
    ASSERT_EQ(g_ended.size(), 1u);
    EXPECT_EQ(g_ended[0].playingID, 21u);
    EXPECT_EQ(g_ended[0].pCookie, &g_cookie);
    Step(30);
    EXPECT_EQ(g_ended.size(), 1u);
    EXPECT_EQ(Count("run", 1), 0);
    play->Release();
    sound->Release();
}

TEST_F(PendingActionsTest, ARecordHoldsItsGameObjectAndExternalSourcesUntilItGoes) {
    CAuRegisteredObj* object = MakeObject(3);
    const AuExternalSourceInfo info{};
    AuExternalSourceArray* sources = AuExternalSourceArray::Create(1, &info);
    ASSERT_NE(sources, nullptr);
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 1024, 0, 0);
    Schedule(play, 0, object, sources);
    EXPECT_EQ(object->RefCount(), 2u);
    sources->Release(); // the record's reference keeps it
    object->Release();
    EXPECT_EQ(object->RefCount(), 1u);
    Step();
    EXPECT_EQ(Count("run", 1), 1);
    play->Release(); // TearDown finds the object and the array freed
}

// The targets go through the node's own action execution after the pending records.
TEST_F(PendingActionsTest, ExecuteActionOnNodeActsOnPendingRecordsThenOnTheNode) {
    TestNode* sound = TestNode::Make(50, AuNodeCategory_Sound);
    CAuRegisteredObj* object = MakeObject(4);
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 1024, 0, 0);
    const struct {
        u32 kind;
        u32 request;
        u32 pending, paused; // left after the call, from one pending and one paused record
    } cases[] = {{0, AuActionExec_Stop, 0, 0},
                 {1, AuActionExec_Pause, 0, 2},
                 {2, AuActionExec_Resume, 2, 0},
                 {3, AuActionExec_Break, 0, 1}, // paused plays are left
                 {4, AuActionExec_ReleaseModulators, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Schedule(play, 0, object);
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        Schedule(play, 0, object);
        sound->executed.clear();
        EXPECT_EQ(ExecuteActionOnNode(sound, object, c.kind, 300, AuCurveInterpolation_SmoothS, 9),
                  AuResultSuccess);
        // Playing ID 9 matches no record: a second call with any play does.
        EXPECT_EQ(m_mgr.NumPendingItems() + m_mgr.NumPausedItems(), 2u);
        EXPECT_EQ(ExecuteActionOnNode(sound, object, c.kind, 300, AuCurveInterpolation_SmoothS, 0),
                  AuResultSuccess);
        EXPECT_EQ(m_mgr.NumPendingItems(), c.pending);
        EXPECT_EQ(m_mgr.NumPausedItems(), c.paused);
        ASSERT_EQ(sound->executed.size(), 2u);
        const AuActionExec& exec = sound->executed[1];
        EXPECT_EQ(exec.kind, c.request);
        EXPECT_EQ(exec.pGameObj, object);
        EXPECT_EQ(exec.playingID, 0u);
        EXPECT_EQ(exec.transitionTimeMs, 300);
        EXPECT_EQ(exec.eCurve, AuCurveInterpolation_SmoothS);
        EXPECT_EQ(sound->executed[0].playingID, 9u);
        m_mgr.ClearPendingList();
        m_mgr.ClearPausedList();
    }
    EXPECT_EQ(ExecuteActionOnNode(sound, object, 5, 0, AuCurveInterpolation_Linear, 0),
              AuResultInvalidParameter);
    EXPECT_EQ(ExecuteActionOnNode(nullptr, object, 0, 0, AuCurveInterpolation_Linear, 0), AuResultIDNotFound);
    play->Release();
    object->Release();
    sound->Release();
}

TEST_F(PendingActionsTest, AnActionWhoseTargetHasGoneRunsWithItsOwnResultAndFreesEverything) {
    ASSERT_EQ(m_playing.AddPlayingID(5, 10, 1, EndOfEvent, &g_cookie, AU_EndOfEvent, nullptr),
              AuResultSuccess);
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 404);
    play->result = AuResultIDNotFound;
    EXPECT_EQ(Schedule(play, 5), AuResultIDNotFound);
    play->SetPropValue(AuPropID_Delay, 1024, 0, 0);
    EXPECT_EQ(Schedule(play, 5), AuResultSuccess);
    m_playing.RemovePendingAction(5);
    EXPECT_TRUE(m_playing.IsLive(5));
    Step();
    EXPECT_EQ(Count("run", 1), 2);
    EXPECT_FALSE(m_playing.IsLive(5));
    EXPECT_EQ(g_ended.size(), 1u);
    // A missing target is under no node, and an exception list judges it by the ID it names.
    RecordingPlay* lost = MakeAction<RecordingPlay>(2, AU_ACTION_PLAY, 404, true);
    lost->SetPropValue(AuPropID_Delay, 1024, 0, 0);
    TestNode* node = TestNode::Make(404, AuNodeCategory_Sound); // a node, not the bus it names
    Schedule(lost);
    m_mgr.ClearPendingItems(node, nullptr, 0);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    node->Release();
    const AuActionException asBus{404, 1};
    const AuActionException asNode{404, 0};
    m_mgr.ClearPendingItemsExcept(nullptr, &asBus, 1, 0);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    m_mgr.ClearPendingItemsExcept(nullptr, &asNode, 1, 0);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    lost->Release();
    play->Release();
}

TEST_F(PendingActionsTest, PlayAndContinueHearsOfQueueAndLaunchOnlyWithItsStateButAlwaysOfRemoval) {
    RecordingNext* next = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    next->SetPropValue(AuPropID_Delay, 3 * 1024, 0, 0); // two frames after the look-ahead
    for (const u8 state : {0, 1}) {
        SCOPED_TRACE(state);
        g_heard.clear();
        next->SetState(state);
        Schedule(next);
        Step(2);
        const std::vector<std::string> expected =
            state ? std::vector<std::string>{"notify", "notify", "run"} : std::vector<std::string>{"run"};
        std::vector<std::string> heard;
        for (const Heard& h : g_heard)
            heard.push_back(h.what);
        EXPECT_EQ(heard, expected);
    }
    next->SetState(0);
    g_heard.clear();
    Schedule(next);
    m_mgr.ClearPendingItems(nullptr, nullptr, 0);
    EXPECT_EQ(Count("notify", 1), 1);
    next->Release();
}

TEST_F(PendingActionsTest, PendingPlayRemovalAsksPlayAndContinueWhetherItIsDone) {
    TestNode* sound = TestNode::Make(50, AuNodeCategory_Sound);
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    RecordingNext* next = MakeAction<RecordingNext>(2, AU_ACTION_PLAY_AND_CONTINUE, 50);
    play->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    next->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    for (const bool done : {false, true}) {
        SCOPED_TRACE(done);
        next->done = done;
        next->asked.clear();
        Schedule(play);
        Schedule(next);
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        Schedule(play);
        Schedule(next);
        m_mgr.RemovePendingPlayActions(sound, nullptr, 0);
        // The pending play always goes; the play-and-continue records, pending and paused, when
        // done; the paused play stays.
        EXPECT_EQ(m_mgr.NumPendingItems(), done ? 0u : 1u);
        EXPECT_EQ(m_mgr.NumPausedItems(), done ? 1u : 2u);
        EXPECT_EQ(next->asked, (std::vector<CAuNodeBase*>{sound, sound}));
        m_mgr.ClearPendingList();
        m_mgr.ClearPausedList();
    }
    play->Release();
    next->Release();
    sound->Release();
}

TEST_F(PendingActionsTest, StoppingTheItemsOfAnActionFollowsItsMode) {
    RecordingNext* next = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    RecordingNext* other = MakeAction<RecordingNext>(2, AU_ACTION_PLAY_AND_CONTINUE, 50);
    next->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    other->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    const struct {
        u32 mode;
        bool done;
        u32 pending, paused; // of one each, plus the other action's record pending
    } cases[] = {{1, true, 2, 1}, {4, true, 2, 1},  {2, false, 2, 1},
                 {2, true, 1, 0}, {3, false, 1, 1}, {3, true, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " done " << c.done);
        next->done = c.done;
        Schedule(next);
        m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
        Schedule(next);
        Schedule(other);
        m_mgr.StopPendingItemsOfAction(next, nullptr, c.mode);
        EXPECT_EQ(m_mgr.NumPendingItems(), c.pending);
        EXPECT_EQ(m_mgr.NumPausedItems(), c.paused);
        m_mgr.ClearPendingList();
        m_mgr.ClearPausedList();
    }
    next->Release();
    other->Release();
}

TEST_F(PendingActionsTest, PausingOneRecordTakesThePlayAndContinuePauseCount) {
    RecordingNext* next = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    RecordingPlay* play = MakeAction<RecordingPlay>(2, AU_ACTION_PLAY, 50);
    next->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    play->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    AuCustomPlayParams params;
    CAuPendingAction* nextRecord = CAuPendingAction::Create(next, nullptr, params, 0);
    CAuPendingAction* playRecord = CAuPendingAction::Create(play, nullptr, params, 0);
    m_mgr.EnqueueOrExecute(nextRecord);
    m_mgr.EnqueueOrExecute(playRecord);

    next->SetPauseCount(3);
    m_mgr.PausePendingItem(nextRecord);
    EXPECT_EQ(nextRecord->uPauseLevel, 2u);
    EXPECT_EQ(next->PauseCount(), 0u);
    next->SetPauseCount(2);
    m_mgr.PausePendingItem(nextRecord); // already paused: gains the count
    EXPECT_EQ(nextRecord->uPauseLevel, 4u);
    m_mgr.PausePendingItem(playRecord);
    m_mgr.PausePendingItem(playRecord);
    EXPECT_EQ(playRecord->uPauseLevel, 1u);
    for (u32 i = 0; i < 4; ++i)
        m_mgr.ResumePausedPendingItems(nullptr, nullptr, false, 0);
    EXPECT_EQ(m_mgr.NumPausedItems(), 1u) << "the fifth resume frees the play-and-continue record";
    m_mgr.ResumePausedPendingItems(nullptr, nullptr, false, 0);
    EXPECT_EQ(m_mgr.NumPendingItems(), 2u);

    // Removing one record by itself.
    m_mgr.RemovePendingItem(playRecord);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    EXPECT_EQ(Count("notify", 2), 2);
    m_mgr.ClearPendingList();
    next->Release();
    play->Release();
}

TEST_F(PendingActionsTest, PlayAndContinueFadesActOnTheirRecordOnceDone) {
    RecordingNext* next = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    RecordingAction* stop = MakeAction<RecordingAction>(2, kStopType, 50);
    next->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    stop->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    auto* first = reinterpret_cast<CAuTransition*>(0x10);
    auto* second = reinterpret_cast<CAuTransition*>(0x20);
    const struct {
        u32 key;
        bool done;
        bool firstKept, secondKept;
        u32 pending, paused;
    } cases[] = {
        {AU_TRANSITION_KEY_FADE_STOP, false, true, true, 1, 0},
        {AU_TRANSITION_KEY_FADE_PLAY, true, false, true, 1, 0},
        {AU_TRANSITION_KEY_FADE_STOP, true, false, true, 0, 0},
        {AU_TRANSITION_KEY_FADE_RESUME, true, true, false, 1, 0},
        {AU_TRANSITION_KEY_FADE_PAUSE, true, true, false, 0, 1},
        {AU_TRANSITION_KEY_RTPC, true, true, true, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.key << " done " << c.done);
        next->SetTransition(0, first, nullptr);
        next->SetTransition(1, second, nullptr);
        next->SetPauseCount(1);
        AuCustomPlayParams params;
        CAuPendingAction* record = CAuPendingAction::Create(next, nullptr, params, 0);
        m_mgr.EnqueueOrExecute(record);
        m_mgr.OnPlayAndContinueTransition(*record, c.key, 0.0f, c.done);
        EXPECT_EQ(next->Transition(0) == first, c.firstKept);
        EXPECT_EQ(next->Transition(1) == second, c.secondKept);
        EXPECT_EQ(m_mgr.NumPendingItems(), c.pending);
        EXPECT_EQ(m_mgr.NumPausedItems(), c.paused);
        if (c.key == AU_TRANSITION_KEY_FADE_PAUSE || c.key == AU_TRANSITION_KEY_FADE_RESUME) {
            EXPECT_EQ(next->PauseCount(), 0u);
        }
        m_mgr.ClearPendingList();
        m_mgr.ClearPausedList();
    }
    next->ForgetTransition(0);
    next->ForgetTransition(1);
    // Any other action's record is left alone.
    AuCustomPlayParams params;
    CAuPendingAction* record = CAuPendingAction::Create(stop, nullptr, params, 0);
    m_mgr.EnqueueOrExecute(record);
    m_mgr.OnPlayAndContinueTransition(*record, AU_TRANSITION_KEY_FADE_STOP, 0.0f, true);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    m_mgr.ClearPendingList();
    next->Release();
    stop->Release();
}

TEST_F(PendingActionsTest, ARecordFollowsItsActionsFadesThroughTheTransitionManager) {
    CAuTransitionMgr transitions;
    ASSERT_EQ(transitions.Init(8), AuResultSuccess);
    g_pTransitionMgr = &transitions;
    transitions.ProcessTransitionsList(g_frame); // fades start now
    RecordingNext* next = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    next->SetPropValue(AuPropID_Delay, 8 * 1024, 0, 0);
    AuCustomPlayParams params;
    CAuPendingAction* record = CAuPendingAction::Create(next, nullptr, params, 0);
    m_mgr.EnqueueOrExecute(record);

    // A stop fade of two buffers: the record goes when it is done.
    AuTransitionParams fade;
    fade.pTarget = record;
    fade.uTargetKey = AU_TRANSITION_KEY_FADE_STOP;
    fade.fStartValue = 1.0f;
    fade.lDurationMs = 42;
    CAuTransition* stopFade = transitions.AddTransition(fade, true);
    ASSERT_NE(stopFade, nullptr);
    next->SetTransition(0, stopFade, record);
    transitions.ProcessTransitionsList(g_frame + 1);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    transitions.ProcessTransitionsList(g_frame + 2);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_EQ(next->Transition(0), nullptr);

    // Ending the fades of an action's pending records detaches them.
    record = CAuPendingAction::Create(next, nullptr, params, 0);
    m_mgr.EnqueueOrExecute(record);
    fade.pTarget = record;
    fade.lDurationMs = 1000;
    CAuTransition* longFade = transitions.AddTransition(fade, true);
    next->SetTransition(0, longFade, record);
    m_mgr.StopPlayAndContinueTransitionsOf(nullptr, nullptr, 99); // another play: kept
    EXPECT_EQ(longFade->UserCount(), 1u);
    m_mgr.StopPlayAndContinueTransitions(next);
    EXPECT_EQ(longFade->UserCount(), 0u);
    EXPECT_EQ(next->Transition(0), nullptr);
    transitions.ProcessTransitionsList(g_frame + 3);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);

    longFade = transitions.AddTransition(fade, true);
    next->SetTransition(1, longFade, record);
    const AuActionException spare{50, 0};
    m_mgr.ResumePausedPendingItemsExcept(nullptr, true, &spare, 1, 0); // its target is spared
    EXPECT_EQ(longFade->UserCount(), 1u);
    m_mgr.ResumePausedPendingItemsExcept(nullptr, true, nullptr, 0, 0);
    EXPECT_EQ(longFade->UserCount(), 0u);
    m_mgr.ClearPendingList();
    next->Release();
    transitions.Term();
    g_pTransitionMgr = nullptr;
}

TEST_F(PendingActionsTest, AnInstanceThatGoesIsForgottenByThePlayAndContinueRecordsThatFollowIt) {
    RecordingNext* a = MakeAction<RecordingNext>(1, AU_ACTION_PLAY_AND_CONTINUE, 50);
    RecordingNext* b = MakeAction<RecordingNext>(2, AU_ACTION_PLAY_AND_CONTINUE, 50);
    RecordingNext* c = MakeAction<RecordingNext>(3, AU_ACTION_PLAY_AND_CONTINUE, 50);
    auto* gone = reinterpret_cast<CAuPlaybackInstance*>(0x100);
    auto* still = reinterpret_cast<CAuPlaybackInstance*>(0x200);
    for (RecordingNext* next : {a, b, c})
        next->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    a->SetPreviousInstance(gone);
    b->SetPreviousInstance(gone);
    c->SetPreviousInstance(still);
    Schedule(a);
    m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
    Schedule(b);
    Schedule(c);
    m_mgr.ClearPlayAndContinueRef(gone);
    EXPECT_EQ(a->PreviousInstance(), nullptr) << "paused";
    EXPECT_EQ(b->PreviousInstance(), nullptr) << "pending";
    EXPECT_EQ(c->PreviousInstance(), still);
    m_mgr.ClearPendingList();
    m_mgr.ClearPausedList();
    for (RecordingNext* next : {a, b, c})
        next->Release();
}

TEST_F(PendingActionsTest, TerminationRemovesThePausedThenThePendingRecords) {
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    Post(40, {play, play});
    m_mgr.PausePendingItemsOfPlayingID(40);
    Post(41, {play});
    EXPECT_EQ(m_mgr.NumPausedItems(), 2u);
    EXPECT_EQ(m_mgr.NumPendingItems(), 1u);
    m_mgr.Term();
    EXPECT_EQ(Count("notify", 1), 6);
    ASSERT_EQ(g_ended.size(), 2u);
    EXPECT_EQ(g_ended[0].playingID, 40u);
    EXPECT_EQ(g_ended[1].playingID, 41u);
    EXPECT_EQ(play->m_lRef, 1u);
    play->Release();
}

// A pool small enough to run dry on purpose.
class PendingActionsSmallPoolTest : public PendingActionsTest {
protected:
    PendingActionsSmallPoolTest() : PendingActionsTest(512u << 10) {}
    void Exhaust() {
        for (const u32 size : {16384u, 1024u, 64u, 16u})
            while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, size))
                m_blocks.push_back(block);
    }
    void Refill() {
        for (void* block : m_blocks)
            AU::MemoryMgr::Free(g_DefaultPoolId, block);
        m_blocks.clear();
    }
    std::vector<void*> m_blocks;
};

TEST_F(PendingActionsSmallPoolTest, ARefusedInsertionRemovesTheRecordAndBalancesTheCount) {
    RecordingPlay* play = MakeAction<RecordingPlay>(1, AU_ACTION_PLAY, 50);
    RecordingPlay* filler = MakeAction<RecordingPlay>(2, AU_ACTION_PLAY, 50);
    play->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    filler->SetPropValue(AuPropID_Delay, 4096, 0, 0);
    for (u32 i = 0; i < 32; ++i)
        Schedule(filler); // every link of the block
    ASSERT_EQ(m_playing.AddPlayingID(30, 10, 1, EndOfEvent, &g_cookie, AU_EndOfEvent, nullptr),
              AuResultSuccess);
    AuCustomPlayParams params;
    params.playingID = 30;
    CAuPendingAction* record = CAuPendingAction::Create(play, nullptr, params, 0);
    ASSERT_NE(record, nullptr);
    Exhaust();
    EXPECT_EQ(m_mgr.EnqueueOrExecute(record), AuResultNoMemory);
    EXPECT_EQ(m_mgr.NumPendingItems(), 32u);
    EXPECT_EQ(Count("notify", 1), 0) << "never queued, so never told";
    EXPECT_EQ(play->m_lRef, 1u);
    m_playing.RemovePendingAction(30); // the post itself
    EXPECT_FALSE(m_playing.IsLive(30));
    EXPECT_EQ(g_ended.size(), 1u);
    Refill();

    // A pause that finds no link for the 33rd record removes it.
    Post(31, {play});
    Exhaust();
    m_mgr.PausePendingItems(nullptr, nullptr, true, 0);
    EXPECT_EQ(m_mgr.NumPausedItems(), 32u);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_EQ(Count("notify", 1), 2) << "queued, then removed";
    EXPECT_FALSE(m_playing.IsLive(31));
    EXPECT_EQ(g_ended.size(), 2u);
    Refill();

    // So does a resume that finds no link for the 33rd record going back.
    Post(32, {play});
    m_mgr.PausePendingItemsOfPlayingID(32);
    EXPECT_EQ(m_mgr.NumPausedItems(), 33u);
    Exhaust();
    m_mgr.ResumePausedPendingItems(nullptr, nullptr, false, 0);
    EXPECT_EQ(m_mgr.NumPausedItems(), 0u);
    EXPECT_EQ(m_mgr.NumPendingItems(), 32u);
    EXPECT_EQ(Count("notify", 1), 4);
    EXPECT_FALSE(m_playing.IsLive(32));
    EXPECT_EQ(g_ended.size(), 3u);
    Refill();
    Step(4);
    EXPECT_EQ(Count("run", 2), 32);
    EXPECT_EQ(m_mgr.NumPendingItems(), 0u);
    EXPECT_EQ(m_mgr.EnqueueOrExecute(nullptr), AuResultInvalidParameter);
    EXPECT_EQ(CAuPendingAction::Create(nullptr, nullptr, AuCustomPlayParams{}, 0), nullptr);
    play->Release();
    filler->Release();
}

} // namespace
