// State groups over real node-base members, the trigger handlers and the prepared game syncs.
#include "TestNodes.h"

#include "core/AuEngineManagers.h"
#include "core/AuObjectIndex.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuStateMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using nodetest::TestNode;

constexpr u32 kGroup = 0x10, kOtherGroup = 0x11;
constexpr u32 kDry = 1, kUnderwater = 2, kDeep = 3;

class RecordingFollower final : public CAuSwitchAware {
public:
    void SetSwitch(u32 switchID, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept override {
        EXPECT_TRUE(key.IsGlobal());
        EXPECT_EQ(filter, nullptr);
        heard.push_back(switchID);
    }
    std::vector<u32> heard;
};

// A member whose node cannot count one more activity.
class NoActivityNode final : public TestNode {
public:
    NoActivityNode(u32 id, AuNodeCategory category) : TestNode(id, category) {}
    bool IncrementActivityCount(u32) override { return false; }
};

// The music hook: takes the change when asked to.
bool g_takeChange = false;
std::vector<std::pair<u32, u32>> g_asked;
bool RecordingHandler(AuUniqueID group, AuUniqueID state) {
    g_asked.push_back({group, state});
    return g_takeChange;
}

class StateMgrTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        ASSERT_EQ(m_transitions.Init(16), AuResultSuccess);
        m_transitions.SetOutputTiming(10, 512);
        g_pStateMgr = &m_states;
        ASSERT_EQ(m_states.Init(), AuResultSuccess);
        AuSetStateMembership(&m_states);
        g_takeChange = false;
        g_asked.clear();
        m_usedAtStart = Used();
    }
    void TearDown() override {
        g_pfnStateChangeHandler.store(nullptr);
        AuSetStateMembership(nullptr);
        m_states.Term();
        g_pStateMgr = nullptr;
        m_transitions.Term();
        g_pTransitionMgr = nullptr;
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(nodetest::g_live.load(), 0);
        AuDefaultPoolTest::TearDown();
    }

    CAuState* MakeState(u32 id, std::vector<std::pair<u8, f32>> props) {
        CAuState* state = CAuState::Create(id);
        for (const auto& [prop, value] : props) {
            AuPropValue v;
            v.f = value;
            EXPECT_EQ(state->Props().SetValue(prop, v), AuResultSuccess);
        }
        m_stateObjects.push_back(state);
        return state;
    }
    // A node following kGroup with the given state objects.
    template <class T = TestNode> T* Member(u32 id, std::vector<std::pair<u32, u32>> links) {
        T* node = TestNode::Make<T>(id);
        CAuStateGroupRecord* record = node->AddStateGroup(kGroup);
        EXPECT_NE(record, nullptr);
        for (const auto& [state, object] : links)
            EXPECT_EQ(record->LinkState(state, object), AuResultSuccess);
        m_nodes.push_back(node);
        return node;
    }
    static CAuStateGroupRecord& Record(TestNode* node) { return *node->FindStateGroup(kGroup); }
    void RunFrames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            m_transitions.ProcessTransitionsList(++m_frame);
    }
    void ReleaseAll() {
        for (TestNode* node : m_nodes)
            node->Release();
        m_nodes.clear();
        for (CAuState* state : m_stateObjects)
            state->Release();
        m_stateObjects.clear();
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuTransitionMgr m_transitions;
    CAuStateMgr m_states;
    std::vector<TestNode*> m_nodes;
    std::vector<CAuState*> m_stateObjects;
    u32 m_frame = 0;
};

TEST_F(StateMgrTest, TheSettersRefuseUnknownGroupsAndNullFollowers) {
    EXPECT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    EXPECT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess) << "an existing group";
    EXPECT_EQ(m_states.GroupCount(), 1u);
    EXPECT_EQ(m_states.SetDefaultTransitionTime(kOtherGroup, 5), AuResultUnknownStateGroup);
    EXPECT_EQ(m_states.AddStateTransition(kOtherGroup, 1, 2, 5, false), AuResultUnknownStateGroup);
    EXPECT_EQ(m_states.AddStateGroupMember(kOtherGroup, nullptr), AuResultUnknownStateGroup);
    EXPECT_EQ(m_states.RegisterSwitch(nullptr, kGroup), AuResultInvalidParameter);
    EXPECT_EQ(m_states.RegisterTrigger(nullptr, nullptr), AuResultInvalidParameter);
    EXPECT_EQ(m_states.GetState(kOtherGroup), 0u);
    m_states.SetState(kOtherGroup, kDry, false, false);
    EXPECT_EQ(m_states.GetState(kOtherGroup), 0u) << "an unknown group is ignored";
    EXPECT_EQ(m_states.GroupCount(), 1u);
}

TEST_F(StateMgrTest, SetStateTellsFollowersAndTheHookOnlyAsItsFlagsSay) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.AddStateGroup(kOtherGroup), AuResultSuccess);
    RecordingFollower follower, other;
    ASSERT_EQ(m_states.RegisterSwitch(&follower, kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.RegisterSwitch(&other, kOtherGroup), AuResultSuccess);
    g_pfnStateChangeHandler.store(&RecordingHandler);

    struct Case {
        const char* what;
        u32 state;
        bool flagA, flagB, take;
        std::vector<u32> heard;
        size_t asked;
        u32 after;
    };
    const Case cases[] = {
        {"a new state", kDry, false, false, false, {kDry}, 1, kDry},
        {"the current state again: no follower", kDry, false, false, false, {}, 1, kDry},
        {"flag A: at once, the hook is not asked",
         kUnderwater,
         true,
         false,
         false,
         {kUnderwater},
         0,
         kUnderwater},
        {"flag B: neither followers nor hook", kDeep, false, true, false, {}, 0, kDeep},
        {"the hook takes it: the state stays", kDry, false, false, true, {kDry}, 1, kDeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        follower.heard.clear();
        g_asked.clear();
        g_takeChange = c.take;
        m_states.SetState(kGroup, c.state, c.flagA, c.flagB);
        EXPECT_EQ(follower.heard, c.heard);
        EXPECT_EQ(g_asked.size(), c.asked);
        EXPECT_EQ(m_states.GetState(kGroup), c.after);
    }
    EXPECT_TRUE(other.heard.empty()) << "followers of another group";
    m_states.UnregisterSwitch(&follower);
    follower.heard.clear();
    g_takeChange = false;
    m_states.SetState(kGroup, kUnderwater, false, false);
    EXPECT_TRUE(follower.heard.empty());
}

TEST_F(StateMgrTest, VolumesFadeInDecibelsAndTheOtherPropertiesLinearly) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.SetDefaultTransitionTime(kGroup, 100), AuResultSuccess); // 10 buffers
    MakeState(0x200, {{0, -6.0f}, {1, -12.0f}, {2, 100.0f}, {3, 40.0f}, {4, -20.0f}, {5, -20.0f}});
    TestNode* node = Member(1, {{kUnderwater, 0x200}});
    m_states.SetState(kGroup, kUnderwater, false, false);
    EXPECT_EQ(m_states.GetState(kGroup), kUnderwater);
    ASSERT_NE(node->Activity(), nullptr) << "each running property counts one activity";
    EXPECT_EQ(node->Activity()->activity, 6u);

    const CAuStateGroupRecord& record = Record(node);
    for (u32 frame = 1; frame < 10; ++frame) {
        RunFrames(1);
        // The linear properties give the fraction; the decibel ones move linearly in amplitude.
        const f32 t = record.Value(2) / 100.0f;
        ASSERT_GT(t, 0.0f);
        ASSERT_LT(t, 1.0f);
        EXPECT_NEAR(record.Value(3), 40.0f * t, 1e-3f);
        EXPECT_NEAR(record.Value(4), -20.0f * t, 1e-3f);
        const auto db = [t](f32 target) {
            return 20.0f * std::log10(1.0f + t * (std::pow(10.0f, target / 20.0f) - 1.0f));
        };
        EXPECT_NEAR(record.Value(0), db(-6.0f), 0.05f) << "frame " << frame;
        EXPECT_NEAR(record.Value(1), db(-12.0f), 0.05f);
        EXPECT_NEAR(record.Value(5), db(-20.0f), 0.05f);
        EXPECT_GT(std::abs(record.Value(5) - -20.0f * t), 0.5f) << "not linear in decibels";
    }
    RunFrames(2);
    EXPECT_NEAR(record.Value(0), -6.0f, 0.05f);
    EXPECT_FLOAT_EQ(record.Value(2), 100.0f);
    EXPECT_EQ(node->Activity(), nullptr) << "each ended run counted down";
    ReleaseAll();
}

TEST_F(StateMgrTest, TheCurrentStateSetAgainRetargetsEveryMember) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.SetDefaultTransitionTime(kGroup, 100), AuResultSuccess);
    MakeState(0x200, {{2, 100.0f}});
    MakeState(0x300, {{2, 50.0f}});
    TestNode* a = Member(1, {{kUnderwater, 0x200}});
    TestNode* b = Member(2, {{kUnderwater, 0x200}});
    m_states.SetState(kGroup, kUnderwater, false, false);
    RunFrames(3);
    // The node's state object changes under the running state: the same state set again moves
    // every member to the new target without a second run.
    ASSERT_EQ(Record(a).LinkState(kUnderwater, 0x300), AuResultSuccess);
    ASSERT_EQ(Record(b).LinkState(kUnderwater, 0x300), AuResultSuccess);
    m_states.SetState(kGroup, kUnderwater, false, false);
    EXPECT_EQ(m_transitions.Count(0), 2u);
    RunFrames(12);
    EXPECT_FLOAT_EQ(Record(a).Value(2), 50.0f);
    EXPECT_FLOAT_EQ(Record(b).Value(2), 50.0f);
    EXPECT_EQ(a->Activity(), nullptr);
    ReleaseAll();
}

TEST_F(StateMgrTest, AListedTransitionTimeHoldsOneWayUnlessAddedBothWays) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.SetDefaultTransitionTime(kGroup, 100), AuResultSuccess);
    ASSERT_EQ(m_states.AddStateTransition(kGroup, kDry, kUnderwater, 0, false), AuResultSuccess);
    MakeState(0x200, {{2, 100.0f}});
    TestNode* node = Member(1, {{kUnderwater, 0x200}});
    const CAuStateGroupRecord& record = Record(node);
    // Whether the change lands after one frame.
    const auto landsAtOnce = [&](u32 state, f32 target) {
        m_states.SetState(kGroup, state, false, false);
        RunFrames(1);
        const bool landed = record.Value(2) == target;
        RunFrames(12);
        return landed;
    };
    m_states.SetState(kGroup, kDry, true, false);
    RunFrames(1);
    EXPECT_TRUE(landsAtOnce(kUnderwater, 100.0f)) << "dry to underwater is listed at 0 ms";
    EXPECT_FALSE(landsAtOnce(kDry, 0.0f)) << "the way back takes the default time";
    ASSERT_EQ(m_states.AddStateTransition(kGroup, kDry, kUnderwater, 0, true), AuResultSuccess);
    EXPECT_TRUE(landsAtOnce(kUnderwater, 100.0f));
    EXPECT_TRUE(landsAtOnce(kDry, 0.0f)) << "added both ways";
    ReleaseAll();
}

TEST_F(StateMgrTest, AMemberThatCannotCountTheActivityGetsTheValueAtOnce) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.SetDefaultTransitionTime(kGroup, 1000), AuResultSuccess);
    MakeState(0x200, {{0, -6.0f}, {2, 100.0f}});
    TestNode* node = Member<NoActivityNode>(1, {{kUnderwater, 0x200}});
    m_states.SetState(kGroup, kUnderwater, false, false);
    EXPECT_FLOAT_EQ(Record(node).Value(0), -6.0f);
    EXPECT_FLOAT_EQ(Record(node).Value(2), 100.0f);
    for (const AuStateValue& entry : Record(node).values)
        EXPECT_EQ(entry.pTransition, nullptr);
    RunFrames(1);
    EXPECT_EQ(m_transitions.Count(0), 0u) << "the runs were dropped";
    ReleaseAll();
}

TEST_F(StateMgrTest, RemoveAllStateGroupsKeepsGroupsWithMembersOnlyWithItsFlag) {
    ASSERT_EQ(m_states.AddStateGroup(kGroup), AuResultSuccess);
    ASSERT_EQ(m_states.AddStateGroup(kOtherGroup), AuResultSuccess);
    Member(1, {});
    m_states.RemoveAllStateGroups(true);
    EXPECT_EQ(m_states.GroupCount(), 1u);
    EXPECT_EQ(m_states.SetDefaultTransitionTime(kGroup, 1), AuResultSuccess) << "the group with a member";
    m_states.RemoveAllStateGroups(false);
    EXPECT_EQ(m_states.GroupCount(), 0u);
    ReleaseAll(); // the member's end finds no group
}

class RecordingTriggerHandler final : public IAuTriggerHandler {
public:
    explicit RecordingTriggerHandler(std::vector<std::string>& log, std::string name)
        : m_log(log), m_name(std::move(name)) {}
    void Trigger(AuUniqueID triggerID) noexcept override {
        m_log.push_back(m_name + std::to_string(triggerID));
    }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST_F(StateMgrTest, ATriggerOnAnObjectReachesOnlyTheHandlersRegisteredWithIt) {
    std::vector<std::string> log;
    RecordingTriggerHandler anyObject(log, "any"), onB(log, "B"), onC(log, "C");
    char objects[2];
    auto* b = reinterpret_cast<CAuRegisteredObj*>(&objects[0]);
    auto* c = reinterpret_cast<CAuRegisteredObj*>(&objects[1]);
    ASSERT_EQ(m_states.RegisterTrigger(&anyObject, nullptr), AuResultSuccess);
    ASSERT_EQ(m_states.RegisterTrigger(&onB, b), AuResultSuccess);
    ASSERT_EQ(m_states.RegisterTrigger(&onC, c), AuResultSuccess);
    m_states.Trigger(7, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"any7", "B7", "C7"}));
    log.clear();
    m_states.Trigger(8, b);
    EXPECT_EQ(log, (std::vector<std::string>{"B8"}));
    log.clear();
    m_states.UnregisterTrigger(&onB, b);
    m_states.Trigger(9, b);
    EXPECT_TRUE(log.empty());
}

class RecordingPreparation final : public CAuPreparationAware {
public:
    RecordingPreparation(std::vector<std::string>& log, std::string name)
        : m_log(log), m_name(std::move(name)) {}
    AURESULT ModifyActiveState(u32 valueID, bool prepare) noexcept override {
        m_log.push_back(m_name + (prepare ? "+" : "-") + std::to_string(valueID));
        return prepare ? onPrepare : onUnprepare;
    }
    AURESULT onPrepare = AuResultSuccess;
    AURESULT onUnprepare = AuResultSuccess;

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

class PreparedGameSyncTest : public StateMgrTest {
protected:
    static constexpr u32 kSwitchType = 0;
    void SetUp() override {
        StateMgrTest::SetUp();
        // Subscribed last to first: the newest is walked first.
        for (RecordingPreparation* s : {&third, &second, &first})
            ASSERT_EQ(s->SubscribePrepare(kGroup, kSwitchType), AuResultSuccess);
    }
    const AuArray<u32>& Values() { return *m_states.GetPreparedGameSyncValues(kGroup, kSwitchType); }
    std::vector<std::string> log;
    RecordingPreparation first{log, "a"}, second{log, "b"}, third{log, "c"};
};

TEST_F(PreparedGameSyncTest, PreparingAValueTwiceTellsTheSubscribersOnce) {
    EXPECT_EQ(m_states.GetPreparedGameSyncValues(kGroup, AU_GROUP_TYPE_STATE), nullptr)
        << "one list per type";
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, true), AuResultSuccess);
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, true), AuResultSuccess);
    EXPECT_EQ(log, (std::vector<std::string>{"a+5", "b+5", "c+5"}));
    ASSERT_EQ(Values().Count(), 1u);
    log.clear();
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, false), AuResultSuccess);
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, false), AuResultSuccess);
    EXPECT_EQ(log, (std::vector<std::string>{"a-5", "b-5", "c-5"}));
    EXPECT_EQ(Values().Count(), 0u);
    second.UnsubscribePrepare(kGroup, kSwitchType);
    log.clear();
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 6, true), AuResultSuccess);
    EXPECT_EQ(log, (std::vector<std::string>{"a+6", "c+6"}));
}

TEST_F(PreparedGameSyncTest, AFailingSubscriberRollsThePreparationBack) {
    ASSERT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 4, true), AuResultSuccess);
    log.clear();
    third.onPrepare = AuResultNoMemory;
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, true), AuResultNoMemory);
    EXPECT_EQ(log, (std::vector<std::string>{"a+5", "b+5", "c+5", "a-5", "b-5"}));
    ASSERT_EQ(Values().Count(), 1u);
    EXPECT_EQ(Values()[0], 4u);
}

TEST_F(PreparedGameSyncTest, AFailingUnprepareCallsNobodyAgainAndTheValueStaysRemoved) {
    ASSERT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, true), AuResultSuccess);
    log.clear();
    second.onUnprepare = AuResultFail;
    EXPECT_EQ(m_states.PrepareGameSync(kSwitchType, kGroup, 5, false), AuResultFail);
    EXPECT_EQ(log, (std::vector<std::string>{"a-5", "b-5"}));
    EXPECT_EQ(Values().Count(), 0u);
}

} // namespace
