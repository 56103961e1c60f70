// The set-value, mute, game-parameter, bypass, seek, state, switch and trigger actions: what each
// scope hands to which node (recording nodes, the registry's modified-node lists), the value
// meanings on a sound's run-time values, the ranged draws, and the managers behind a recording
// fake.
#include "ActionTestSupport.h"
#include "BankEngineSupport.h"
#include "BusOpsFake.h"
#include "TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuGameSyncSeams.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"
#include "voices/AuPlaybackInstance.h"

#include <bankgen/Bank.h>

#include <AuDefaultPoolTest.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

using actiontest::ActionManagersTest;
using actiontest::RecordingBus;
using nodetest::TestNode;

constexpr u32 kMaster = 0xE2B7BC37, kSecondMaster = 0x7A1F0003, kDefaultBus = 0x7A1F0004;
constexpr u32 kA = 0x1001, kB = 0x1002, kChild = 0x1003, kBus5 = 5, kGone = 0xDEAD;
constexpr u32 kParam = 0x4000;

std::vector<std::string> g_calls;

// A node whose set-value slots write one line each: the slot, the node, the object (a: all),
// and the arguments.
class RecNode : public TestNode {
public:
    using TestNode::TestNode;
    static std::string Obj(CAuRegisteredObj* gameObj) {
        return gameObj ? std::to_string(gameObj->ID()) : "a";
    }
    void Add(const char* what, CAuRegisteredObj* gameObj, const std::string& rest = "") {
        g_calls.push_back(std::string(what) + " " + std::to_string(key) + " " + Obj(gameObj) + rest);
    }
    AURESULT SetValueFromAction(u8 id, f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                AuCurveInterpolation curve, u32 mode) override {
        char rest[96];
        snprintf(rest, sizeof(rest), " p%u %.3f t%d c%u m%u", id, value, fadeMs, u32(curve), mode);
        Add("set", gameObj, rest);
        return AuResultSuccess;
    }
    AURESULT ResetValueFromAction(u8 id, CAuRegisteredObj* gameObj, i32 fadeMs,
                                  AuCurveInterpolation) override {
        Add("reset", gameObj, " p" + std::to_string(id) + " t" + std::to_string(fadeMs));
        return AuResultSuccess;
    }
    AURESULT MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation) override {
        Add("mute", gameObj, " t" + std::to_string(fadeMs));
        return AuResultSuccess;
    }
    AURESULT UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation) override {
        Add("unmute", gameObj, " t" + std::to_string(fadeMs));
        return AuResultSuccess;
    }
    AURESULT UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation) override {
        Add("unmuteall", nullptr, " t" + std::to_string(fadeMs));
        return AuResultSuccess;
    }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        executed.push_back(exec);
        return answer;
    }
    AURESULT answer = AuResultSuccess;
};

// The state and switch managers as the actions reach them.
class RecordingGameSyncs final : public IAuGameSyncActions {
public:
    RecordingGameSyncs() { AuGameSyncSeam::Install(this); }
    ~RecordingGameSyncs() { AuGameSyncSeam::Install(nullptr); }
    void SetState(u32 group, u32 state, bool a, bool b) noexcept override {
        calls.push_back("state " + std::to_string(group) + " " + std::to_string(state) + " " +
                        std::to_string(a) + std::to_string(b));
    }
    void LockSwitches() noexcept override { calls.push_back("lock"); }
    void UnlockSwitches() noexcept override { calls.push_back("unlock"); }
    CAuSwitchEntry* GetSwitchEntry(u32 group) noexcept override {
        calls.push_back("entry " + std::to_string(group));
        return haveEntry ? reinterpret_cast<CAuSwitchEntry*>(&entryStorage) : nullptr;
    }
    void SetSwitch(CAuSwitchEntry& entry, u32 switchID, CAuRegisteredObj* gameObj) noexcept override {
        EXPECT_EQ(&entry, reinterpret_cast<CAuSwitchEntry*>(&entryStorage));
        calls.push_back("switch " + std::to_string(switchID) + " " + RecNode::Obj(gameObj));
    }
    void Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept override {
        calls.push_back("trigger " + std::to_string(triggerID) + " " + RecNode::Obj(gameObj));
    }
    std::vector<std::string> calls;
    bool haveEntry = true;
    alignas(8) int entryStorage = 0; // an entry's alignment: only its address is used
};

class SetValueActionTest : public ActionManagersTest {
protected:
    void SetUp() override {
        g_calls.clear();
        win32test::ResetRandScript();
        SetOutputSampleRate(48000);
        ActionManagersTest::SetUp();
        g_pRegistryMgr = &m_registry;
        ASSERT_EQ(m_registry.Init(), AuResultSuccess);
        m_obj10 = m_registry.RegisterObject(10, 1);
        m_obj11 = m_registry.RegisterObject(11, 1);
        ASSERT_NE(m_obj10, nullptr);
        ASSERT_NE(m_obj11, nullptr);
    }
    void TearDown() override {
        ReleaseOwned();
        if (CAuDefaultBus* bus = CAuDefaultBus::TakeDefaultBus()) bus->Release();
        CAuBus::ClearMasterBusses();
        m_registry.Term();
        g_pRegistryMgr = nullptr;
        win32test::ResetRandScript();
        ActionManagersTest::TearDown();
    }

    RecNode* Node(u32 id, AuNodeCategory category = AuNodeCategory_Sound) {
        return Own(TestNode::Make<RecNode>(id, category));
    }
    // A action of the factory, kept until the end of the test.
    template <class T = CAuAction> T* Action(u16 type, u32 target = kA, bool isBus = false) {
        CAuAction* action = CreateActionByType(type, 0x3000 + u32(m_owned.size()));
        EXPECT_NE(action, nullptr) << std::hex << type;
        action->SetElementID(target, isBus);
        return static_cast<T*>(Own(action));
    }
    // Global list: A. Object 10: A, the child of A, B and a key whose node is gone. Object 11: B.
    // The child goes before its parent at the end: it holds a reference on it.
    void FillLists() {
        RecNode* a = Node(kA);
        RecNode* child = Node(kChild);
        child->AddRef();
        ASSERT_EQ(a->AddChild(child), AuResultSuccess);
        Node(kB);
        ASSERT_NE(m_registry.AddModifiedNode({kA, 0}), nullptr);
        for (u32 id : {kA, kChild, kB, kGone})
            ASSERT_EQ(m_obj10->AddModifiedNode({id, 0}), AuResultSuccess);
        ASSERT_EQ(m_obj11->AddModifiedNode({kB, 0}), AuResultSuccess);
    }
    void Frames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            m_transitions.ProcessTransitionsList(++m_frame);
    }

    CAuRegistryMgr m_registry;
    CAuRegisteredObj* m_obj10 = nullptr;
    CAuRegisteredObj* m_obj11 = nullptr;
    u32 m_frame = 0;
};

using Lines = std::vector<std::string>;

TEST_F(SetValueActionTest, MuteScopesReachTheNodesOfTheirListsAsTheTableSays) {
    FillLists();
    struct Case {
        u16 type;
        bool postedOn10;
        Lines calls;
    };
    const Case cases[] = {
        {0x0602, false, {"mute 4097 a t0"}},
        {0x0603, true, {"mute 4097 10 t0"}},
        {0x0604, false, {}},
        {0x0605, true, {}},
        {0x0608, false, {}},
        {0x0702, false, {"unmute 4097 a t0"}},
        {0x0703, true, {"unmute 4097 10 t0"}},
        // The registry's list, then object 0 (empty), 10 and 11; the gone key is skipped.
        {0x0704,
         false,
         {"unmuteall 4097 a t0", "unmuteall 4097 a t0", "unmuteall 4099 a t0", "unmuteall 4098 a t0",
          "unmuteall 4098 a t0"}},
        {0x0705, true, {"unmute 4097 10 t0", "unmute 4099 10 t0", "unmute 4098 10 t0"}},
        // A is excepted; its child is not.
        {0x0708, false, {"unmuteall 4099 a t0", "unmuteall 4098 a t0", "unmuteall 4098 a t0"}},
        {0x0709, true, {"unmute 4099 10 t0", "unmute 4098 10 t0"}},
        {0x0706, false, {}},
        {0x070A, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.type);
        g_calls.clear();
        auto* action = Action<CAuActionExcept>(c.type);
        ASSERT_EQ(action->AddException(kA, false), AuResultSuccess);
        EXPECT_EQ(Run(action, c.postedOn10 ? m_obj10 : nullptr), AuResultSuccess);
        EXPECT_EQ(g_calls, c.calls);
    }
    // Every lookup was released: A keeps its own and its child's reference.
    for (CAuIndexable* object : m_owned) {
        if (object->key == kA || object->key == kB) {
            EXPECT_EQ(object->m_lRef, object->key == kA ? 2u : 1u);
        }
    }
}

TEST_F(SetValueActionTest, AMissingTargetDoesNothingAndGivesSuccess) {
    for (u16 type :
         {u16(0x0602), u16(0x0703), u16(0x0A02), u16(0x0B03), u16(0x1002), u16(0x1A02), u16(0x1B03)}) {
        CAuAction* action = Action(type, kGone);
        EXPECT_EQ(Run(action, m_obj10), AuResultSuccess) << std::hex << type;
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(SetValueActionTest, MuteOnAnObjectSilencesOnlyThatObjectsInstance) {
    CAuSound* sound = Own(CAuSound::Create(kA));
    std::vector<CAuPlaybackInstance*> instances;
    for (CAuRegisteredObj* gameObj : {m_obj10, m_obj11}) {
        AuNodePlayParams request;
        request.pGameObj = gameObj;
        request.playingID = gameObj->ID();
        AuPlaybackInstanceParams params;
        sound->MakeInstanceParams(request, params);
        CAuPlaybackInstance* instance = sound->CreateSoundInstance(params);
        ASSERT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        instances.push_back(instance);
    }
    EXPECT_EQ(Run(Action(0x0603), m_obj10), AuResultSuccess);
    EXPECT_EQ(instances[0]->MuteEntries(), 1u) << "object 10's instance";
    EXPECT_EQ(instances[1]->MuteEntries(), 0u) << "object 11's plays on";

    EXPECT_EQ(Run(Action(0x0705), m_obj10), AuResultSuccess) << "through object 10's list";
    EXPECT_EQ(instances[0]->MuteEntries(), 0u);
    for (CAuPlaybackInstance* instance : instances) {
        instance->Term(0);
        instance->~CAuPlaybackInstance();
        AU::MemoryMgr::Free(g_DefaultPoolId, instance);
    }
}

// The game's mute of a bus (0x0602 with is-bus set) and what an instance that starts under it
// collects: the bus's level in the mute list.
TEST_F(SetValueActionTest, AMutedBusHandsItsLevelToWhatStartsBelowIt) {
    RecordingBus* bus = Own(RecordingBus::Make(kBus5, false, false));
    Run(Action(0x0602, kBus5, true));
    ASSERT_NE(bus->ModifiedValues(), nullptr);
    EXPECT_EQ(bus->ModifiedValues()->GetValue(AuPropID_Level), 0.0f);
    AuAccumulatedValues values;
    values.mask = 0x1F;
    bus->GetAccumulatedValues(values, m_obj10);
    ASSERT_EQ(values.levelCount, 1u);
    EXPECT_EQ(values.levels[0].owner, bus);
    EXPECT_EQ(values.levels[0].value, 0.0f);
    Run(Action(0x0603, kBus5, true), m_obj10);
    Run(Action(0x0702, kBus5, true));
    AuAccumulatedValues after;
    bus->GetAccumulatedValues(after, m_obj10);
    EXPECT_EQ(after.levelCount, 0u) << "unmuted; a bus has no per-object mute";
}

TEST_F(SetValueActionTest, SetPropertyScopesPickTheirPropertyAndSlot) {
    FillLists();
    Node(kBus5, AuNodeCategory_Bus);
    struct Case {
        u16 type;
        u32 target;
        bool isBus;
        bool postedOn10;
        Lines calls;
    };
    const Case cases[] = {
        {0x0802, kA, false, false, {"set 4097 a p2 1.500 t0 c4 m2"}},
        {0x0A02, kA, false, false, {"set 4097 a p0 1.500 t0 c4 m2"}},
        {0x0A03, kA, false, true, {"set 4097 10 p0 1.500 t0 c4 m2"}},
        {0x0E03, kA, false, true, {"set 4097 10 p3 1.500 t0 c4 m2"}},
        {0x2002, kA, false, false, {"set 4097 a p4 1.500 t0 c4 m2"}},
        {0x0C02, kBus5, true, false, {"set 5 a p5 1.500 t0 c4 m2"}},
        // Property 5 has only global variants.
        {0x0C03, kBus5, true, true, {}},
        {0x0D03, kBus5, true, true, {}},
        {0x0D05, kBus5, true, true, {}},
        {0x0D09, kBus5, true, true, {}},
        {0x0A04, kA, false, false, {}},
        {0x0B02, kA, false, false, {"reset 4097 a p0 t0"}},
        // Back to the node's own value for the object: meaning 0, value 0.
        {0x0B03, kA, false, true, {"set 4097 10 p0 0.000 t0 c4 m0"}},
        {0x0D02, kBus5, true, false, {"reset 5 a p5 t0"}},
        {0x0D04,
         kA,
         false,
         false,
         {"reset 4097 a p5 t0", "reset 4097 a p5 t0", "reset 4099 a p5 t0", "reset 4098 a p5 t0",
          "reset 4098 a p5 t0"}},
        {0x0B05,
         kA,
         false,
         true,
         {"set 4097 10 p0 0.000 t0 c4 m0", "set 4099 10 p0 0.000 t0 c4 m0", "set 4098 10 p0 0.000 t0 c4 m0"}},
        {0x3008, kA, false, false, {"reset 4099 a p4 t0", "reset 4098 a p4 t0", "reset 4098 a p4 t0"}},
        {0x0F09, kA, false, true, {"set 4099 10 p3 0.000 t0 c4 m0", "set 4098 10 p3 0.000 t0 c4 m0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.type);
        g_calls.clear();
        auto* action = Action<CAuActionSetProp>(c.type, c.target, c.isBus);
        action->SetValueParams(2, 1.5f, 0.0f, 0.0f);
        ASSERT_EQ(action->AddException(kA, false), AuResultSuccess);
        EXPECT_EQ(Run(action, c.postedOn10 ? m_obj10 : nullptr), AuResultSuccess);
        EXPECT_EQ(g_calls, c.calls);
    }
}

TEST_F(SetValueActionTest, TheTransitionTimeAndCurveReachEveryCall) {
    Node(kA);
    auto* action = Action<CAuActionSetProp>(0x0A02);
    action->SetValueParams(0, -6.0f, 0.0f, 0.0f);
    action->SetPropValue(AuPropID_TransitionTime, 200, 0, 0);
    u8 curve[] = {AuCurveInterpolation_SmoothS, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    AuRecordCursor cursor(curve, sizeof(curve));
    ASSERT_EQ(action->SetActionParams(cursor), AuResultSuccess);
    EXPECT_EQ(Run(action), AuResultSuccess);
    EXPECT_EQ(g_calls,
              Lines{"set 4097 a p0 0.000 t200 c" + std::to_string(u32(AuCurveInterpolation_SmoothS)) + " m1"})
        << "the bank's meaning 1 and base 0";
}

TEST_F(SetValueActionTest, ARangeDrawsAtEveryExecution) {
    Node(kA);
    auto* action = Action<CAuActionSetProp>(0x0A02);
    action->SetValueParams(0, 0.0f, -3.0f, 3.0f);
    const int draws[] = {0, 16384, 32767};
    win32test::ScriptRand(draws, 3);
    for (int i = 0; i < 3; ++i)
        Run(action);
    EXPECT_EQ(win32test::RandCallCount(), 3u);
    EXPECT_EQ(g_calls, (Lines{"set 4097 a p0 -3.000 t0 c4 m0", "set 4097 a p0 0.000 t0 c4 m0",
                              "set 4097 a p0 3.000 t0 c4 m0"}));

    // min = max adds min without a draw.
    action->SetValueParams(0, 1.0f, 2.0f, 2.0f);
    g_calls.clear();
    Run(action);
    EXPECT_EQ(win32test::RandCallCount(), 3u);
    EXPECT_EQ(g_calls, Lines{"set 4097 a p0 3.000 t0 c4 m0"});
}

TEST_F(SetValueActionTest, AnExceptionMatchesTheIDAndTheBusFlagTogether) {
    Node(kBus5, AuNodeCategory_Bus);
    ASSERT_NE(m_registry.AddModifiedNode({kBus5, 1}), nullptr);
    auto* action = Action<CAuActionSetProp>(0x0B08);
    ASSERT_EQ(action->AddException(kBus5, false), AuResultSuccess);
    ASSERT_EQ(action->AddException(0x7777, true), AuResultSuccess) << "an unknown ID is harmless";
    Run(action);
    EXPECT_EQ(g_calls, Lines{"reset 5 a p0 t0"}) << "{5, not a bus} is not bus 5";
    action->ClearExceptions();
    ASSERT_EQ(action->AddException(kBus5, true), AuResultSuccess);
    g_calls.clear();
    Run(action);
    EXPECT_TRUE(g_calls.empty());
}

// Value meanings on a sound's own run-time values: stored volume -2 dB, action value -6 dB.
TEST_F(SetValueActionTest, ValueMeaningsWithoutAndWithARunningFade) {
    CAuSound* sound = Own(CAuSound::Create(kA));
    ASSERT_EQ(sound->SetAuProp(AuPropID_Volume, -2.0f, 0, 0), AuResultSuccess);
    struct Case {
        u8 meaning;
        f32 withoutFade; // after one action from 0
        f32 twice;       // after a second one
    };
    const Case cases[] = {{0, -6.0f, -6.0f}, {1, -4.0f, -4.0f}, {2, -6.0f, -12.0f}, {7, -6.0f, -6.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.meaning));
        auto* action = Action<CAuActionSetProp>(0x0A02);
        action->SetValueParams(c.meaning, -6.0f, 0.0f, 0.0f);
        Run(action);
        CAuModifiedValues* values = sound->ModifiedValues();
        ASSERT_NE(values, nullptr);
        EXPECT_FLOAT_EQ(values->GetValue(AuPropID_Volume), c.withoutFade);
        Run(action);
        EXPECT_FLOAT_EQ(values->GetValue(AuPropID_Volume), c.twice);

        // A fade to -10 is under way when the action comes with its own fade.
        ASSERT_EQ(values->SetValueWithFade(AuPropID_Volume, 0.0f, 0, AuCurveInterpolation_Linear, 0),
                  AuResultSuccess);
        ASSERT_EQ(values->SetValueWithFade(AuPropID_Volume, -10.0f, 200, AuCurveInterpolation_Linear, 0),
                  AuResultSuccess);
        Frames(3);
        const f32 present = values->GetValue(AuPropID_Volume);
        ASSERT_LT(present, 0.0f);
        ASSERT_GT(present, -10.0f);
        ASSERT_NE(values->Transition(AuPropID_Volume), nullptr);
        action->SetPropValue(AuPropID_TransitionTime, 100, 0, 0);
        Run(action);
        Frames(20);
        EXPECT_EQ(values->Transition(AuPropID_Volume), nullptr);
        const f32 expected = c.meaning == 1 ? -4.0f : c.meaning == 2 ? present - 6.0f : -6.0f;
        EXPECT_NEAR(values->GetValue(AuPropID_Volume), expected, 1e-4f) << "retargeted";

        // Reset for every object: the node's own value again.
        Run(Action(0x0B02));
        EXPECT_FLOAT_EQ(values->GetValue(AuPropID_Volume), 0.0f);
        EXPECT_FLOAT_EQ(sound->GetPropFloat(AuPropID_Volume), -2.0f) << "the stored value is untouched";
    }
}

TEST_F(SetValueActionTest, GameParameterActionsSetAndResetTheValueAtTheirKey) {
    // A fixed-time ramp of 1 s that only the bypass flag skips.
    ASSERT_EQ(m_rtpc.SetRampingParams(kParam, 2, 1.0f, 1.0f), AuResultSuccess);
    auto* global = Action<CAuActionSetGameParameter>(0x1302, kParam);
    global->SetValueParams(1, 40.0f, 0.0f, 0.0f, true);
    auto* mine = Action<CAuActionSetGameParameter>(0x1303, kParam);
    mine->SetValueParams(1, 70.0f, 0.0f, 0.0f, true);
    EXPECT_EQ(Run(global), AuResultSuccess);
    EXPECT_EQ(Run(mine, m_obj10), AuResultSuccess);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey{}), 40.0f);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey(m_obj10)), 70.0f);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey(m_obj11)), 40.0f)
        << "falls back to the global value";

    // Meaning 2 adds; without the bypass flag the parameter's ramp applies.
    mine->SetValueParams(2, 10.0f, 0.0f, 0.0f, false);
    Run(mine, m_obj10);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey(m_obj10)), 70.0f) << "ramping";
    Frames(60);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey(m_obj10)), 80.0f);

    // The resets move each key back to what it inherits.
    auto* resetMine = Action<CAuActionSetGameParameter>(0x1403, kParam);
    resetMine->SetValueParams(1, 0.0f, 0.0f, 0.0f, true);
    Run(resetMine, m_obj10);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey(m_obj10)), 40.0f);
    auto* resetGlobal = Action<CAuActionSetGameParameter>(0x1402, kParam);
    resetGlobal->SetValueParams(1, 0.0f, 0.0f, 0.0f, true);
    Run(resetGlobal);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey{}), 0.0f) << "the default";

    // Other scopes do nothing; a NaN is passed on as the manager takes it.
    auto* all = Action<CAuActionSetGameParameter>(0x1304, kParam);
    all->SetValueParams(1, 5.0f, 0.0f, 0.0f, true);
    Run(all);
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(kParam, AuRTPCKey{}), 0.0f);
    global->SetValueParams(1, std::numeric_limits<f32>::quiet_NaN(), 0.0f, 0.0f, true);
    EXPECT_EQ(Run(global), AuResultSuccess);
    EXPECT_TRUE(std::isnan(m_rtpc.GetRTPCValue(kParam, AuRTPCKey{})));
}

TEST_F(SetValueActionTest, BypassChangesOnlyTheMaskedBitsAndResetsRestoreEachNodesOwn) {
    RecNode* a = Node(kA);
    RecNode* b = Node(kB);
    ASSERT_EQ(a->SetBypass(0x06, 0xFF), AuResultSuccess);
    ASSERT_EQ(b->SetBypass(0x01, 0xFF), AuResultSuccess);
    ASSERT_NE(a->GetModifiedValues(nullptr), nullptr);
    ASSERT_NE(b->GetModifiedValues(nullptr), nullptr);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x06);
    a->bypasses.clear();
    a->fxBypass.clear();

    auto* bypass = Action<CAuActionBypassFX>(0x1A02);
    bypass->SetBypassParams(true, 0x01);
    EXPECT_EQ(Run(bypass), AuResultSuccess);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x07) << "bit 0 only";
    ASSERT_EQ(a->bypasses.size(), 1u);
    EXPECT_EQ(a->bypasses[0], (std::pair<u32, u32>{0x01, 0x01}));
    ASSERT_EQ(a->fxBypass.size(), 1u) << "for every object the node's effects hear it too";
    bypass->SetBypassParams(false, 0x04);
    Run(bypass);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x03);
    bypass->SetBypassParams(true, 0x18);
    Run(bypass);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x1B);
    b->SetBypassFromAction(0x1E, 0x1F, nullptr);

    // Both holders are of every object: the registry's list has both.
    auto* reset = Action<CAuActionBypassFX>(0x1B04);
    reset->SetBypassParams(false, 0xFF);
    EXPECT_EQ(Run(reset), AuResultSuccess);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x06);
    EXPECT_EQ(b->ModifiedValues()->BypassBits(), 0x01);

    // All except: B is skipped.
    a->SetBypassFromAction(0x1F, 0x1F, nullptr);
    b->SetBypassFromAction(0x1F, 0x1F, nullptr);
    auto* except = Action<CAuActionBypassFX>(0x1B08);
    except->SetBypassParams(false, 0x1F);
    ASSERT_EQ(except->AddException(kB, false), AuResultSuccess);
    Run(except);
    EXPECT_EQ(a->ModifiedValues()->BypassBits(), 0x06);
    EXPECT_EQ(b->ModifiedValues()->BypassBits(), 0x1F);

    // Variants that bypass does not run.
    for (u16 type : {u16(0x1A04), u16(0x1A08), u16(0x1B06)}) {
        a->bypasses.clear();
        EXPECT_EQ(Run(Action(type)), AuResultSuccess);
        EXPECT_TRUE(a->bypasses.empty()) << std::hex << type;
    }
}

TEST_F(SetValueActionTest, SeekRecordsByScope) {
    RecordingBus* master = Own(RecordingBus::Make(kMaster, true, false));
    RecordingBus* second = Own(RecordingBus::Make(kSecondMaster, true, false));
    RecNode* target = Node(kA);
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    struct Case {
        const char* name;
        actiontest::SeekSetting seek;
        f32 fraction; // percent
        i32 ms;       // otherwise
    };
    const Case cases[] = {
        {"half", {0x1E02, true, 0.5f, 0.0f, 0.0f, {}}, 0.5f, 0},
        {"50 is passed on; the sound clamps it", {0x1E02, true, 50.0f, 0.0f, 0.0f, {}}, 50.0f, 0},
        {"truncated", {0x1E03, false, 1234.9f, 0.0f, 0.0f, {}}, 0.0f, 1234},
        {"negative draw", {0x1E02, false, 0.0f, -500.0f, 500.0f, {0}}, 0.0f, -500},
        {"positive draw", {0x1E02, false, 0.0f, -500.0f, 500.0f, {32767}}, 0.0f, 500},
        {"NaN base", {0x1E02, false, nan, 0.0f, 0.0f, {}}, 0.0f, 0},
        {"NaN range", {0x1E02, false, 0.0f, nan, 10.0f, {100}}, 0.0f, 0},
        {"infinite", {0x1E02, false, std::numeric_limits<f32>::infinity(), 0.0f, 0.0f, {}}, 0.0f, 0x7FFFFFFF},
        {"1e12", {0x1E02, false, 1e12f, 0.0f, 0.0f, {}}, 0.0f, 0x7FFFFFFF},
        {"-1e12", {0x1E02, false, -1e12f, 0.0f, 0.0f, {}}, 0.0f, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target->executed.clear();
        auto* seek = Action<CAuActionSeek>(c.seek.type);
        seek->SetSeekParams(c.seek.percent, c.seek.base, c.seek.min, c.seek.max, true);
        c.seek.ScriptDraws();
        EXPECT_EQ(Run(seek, (c.seek.type & 1) ? m_obj10 : nullptr, 9, 4), AuResultSuccess);
        ASSERT_EQ(target->executed.size(), 1u);
        const AuActionExec& exec = target->executed[0];
        EXPECT_EQ(exec.kind, u32(AuActionExec_Seek));
        EXPECT_EQ(exec.playingID, 4u) << "the post's filter, not its playing ID";
        EXPECT_EQ(exec.pGameObj, (c.seek.type & 1) ? m_obj10 : nullptr);
        EXPECT_EQ(exec.transitionTimeMs, 0);
        EXPECT_EQ(exec.eCurve, AuCurveInterpolation_Linear) << "one target seeks with curve 4";
        EXPECT_EQ(exec.flags, (c.seek.percent ? AU_EXEC_SEEK_PERCENT : 0u) | AU_EXEC_SEEK_SNAP);
        if (c.seek.percent)
            EXPECT_EQ(exec.seekPosition, c.fraction);
        else
            EXPECT_EQ(exec.seekMs, c.ms);
    }
    EXPECT_TRUE(master->executed.empty());

    // The single target's result is the action's; a missing one gives 15.
    auto* one = Action<CAuActionSeek>(0x1E02);
    target->answer = AuResultFail;
    EXPECT_EQ(Run(one), AuResultFail);
    one->SetElementID(kGone, false);
    EXPECT_EQ(Run(one), AuResultIDNotFound);

    // All and all except: the two master busses, never the default bus.
    target->executed.clear();
    for (u16 type : {u16(0x1E04), u16(0x1E05), u16(0x1E08), u16(0x1E09)}) {
        SCOPED_TRACE(testing::Message() << std::hex << type);
        master->executed.clear();
        master->excepted.clear();
        second->executed.clear();
        second->excepted.clear();
        auto* seek = Action<CAuActionSeek>(type);
        seek->SetSeekParams(true, 0.25f, 0.0f, 0.0f, false);
        ASSERT_EQ(seek->AddException(kA, false), AuResultSuccess);
        EXPECT_EQ(Run(seek, (type & 1) ? m_obj10 : nullptr), AuResultSuccess);
        const bool except = (type & 0xFF) >= 8;
        for (RecordingBus* bus : {master, second}) {
            const std::vector<AuActionExec>& got = except ? bus->excepted : bus->executed;
            ASSERT_EQ(got.size(), 1u);
            EXPECT_TRUE((except ? bus->executed : bus->excepted).empty());
            EXPECT_EQ(got[0].seekPosition, 0.25f);
            EXPECT_EQ(got[0].pGameObj, (type & 1) ? m_obj10 : nullptr);
            EXPECT_EQ(got[0].exceptionCount, except ? 1u : 0u);
        }
    }
    EXPECT_TRUE(target->executed.empty()) << "the test's busses pass nothing down";
    master->executed.clear();
    master->excepted.clear();
    for (u16 type : {u16(0x1E06), u16(0x1E0A)})
        EXPECT_EQ(Run(Action(type)), AuResultSuccess);
    EXPECT_TRUE(master->executed.empty() && master->excepted.empty());
}

// What plays under the default bus hears the "all" stop through it, but not the "all" seek.
TEST_F(SetValueActionTest, SeekAllDoesNotVisitTheDefaultBus) {
    Own(RecordingBus::Make(kMaster, true, false));
    CAuDefaultBus* defaultBus = CAuDefaultBus::Create(kDefaultBus);
    ASSERT_NE(defaultBus, nullptr);
    RecNode* child = Node(kA);
    child->AddRef();
    ASSERT_EQ(defaultBus->AddChild(child), AuResultSuccess);
    ASSERT_TRUE(child->IncrementActivityCount(AU_ACTIVITY_TO_EXTRA_OWNER));
    Run(Action(0x0104));
    ASSERT_EQ(child->executed.size(), 1u) << "the stop all reaches it";
    Run(Action<CAuActionSeek>(0x1E04));
    Run(Action<CAuActionSeek>(0x1E08));
    EXPECT_EQ(child->executed.size(), 1u);
    child->DecrementActivityCount(AU_ACTIVITY_TO_EXTRA_OWNER);
    defaultBus->RemoveChild(child);
    defaultBus->Release();
}

TEST_F(SetValueActionTest, UseStateSetsTheFlagOnlyForExactly1002) {
    RecNode* node = Node(kA);
    struct Case {
        u16 type;
        bool uses;
    };
    for (const Case c : {Case{0x1003, false}, Case{0x1002, true}, Case{0x1102, false}, Case{0x1002, true},
                         Case{0x1004, false}}) {
        node->recalcs.clear();
        EXPECT_EQ(Run(Action(c.type), m_obj10), AuResultSuccess);
        EXPECT_EQ(node->UsesState(), c.uses) << std::hex << c.type;
        EXPECT_EQ(node->recalcs.size(), 1u) << "the node re-applies or drops its state values";
    }
}

TEST_F(SetValueActionTest, StateSwitchAndTriggerReachTheManagersAndGiveSuccess) {
    auto* state = Action<CAuActionSetGroupValue>(0x1204, 0);
    auto* sw = Action<CAuActionSetGroupValue>(0x1903, 0);
    u8 ids[] = {7, 0, 0, 0, 9, 0, 0, 0};
    AuRecordCursor stateCursor(ids, sizeof(ids));
    ASSERT_EQ(state->SetActionParams(stateCursor), AuResultSuccess);
    AuRecordCursor switchCursor(ids, sizeof(ids));
    ASSERT_EQ(sw->SetActionParams(switchCursor), AuResultSuccess);
    CAuAction* trigger = Action(0x1D02, 55);

    // Without the managers nothing happens, and still 1.
    EXPECT_EQ(Run(state), AuResultSuccess);
    EXPECT_EQ(Run(sw, m_obj10), AuResultSuccess);
    EXPECT_EQ(Run(trigger), AuResultSuccess);

    RecordingGameSyncs syncs;
    EXPECT_EQ(Run(state, m_obj10), AuResultSuccess);
    EXPECT_EQ(Run(sw, m_obj10), AuResultSuccess);
    EXPECT_EQ(Run(trigger), AuResultSuccess);
    EXPECT_EQ(Run(trigger, m_obj11), AuResultSuccess);
    syncs.haveEntry = false;
    EXPECT_EQ(Run(sw, m_obj10), AuResultSuccess);
    EXPECT_EQ(syncs.calls, (Lines{"state 7 9 00", "lock", "entry 7", "switch 9 10", "unlock", "trigger 55 a",
                                  "trigger 55 11", "lock", "entry 7", "unlock"}));
}

// ---- In the running engine ----

struct Passes {
    std::mutex lock;
    std::condition_variable changed;
    u32 count = 0;
};
Passes* g_passes = nullptr;

void OnPass(bool) {
    std::lock_guard guard(g_passes->lock);
    ++g_passes->count;
    g_passes->changed.notify_all();
}

class SetValueEngineTest : public banktest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        g_passes = &m_passes;
        ASSERT_EQ(AU::SoundEngine::RegisterGlobalCallback(OnPass), AuResultSuccess);
    }
    void TearDown() override {
        if (AU::SoundEngine::IsInitialized()) AU::SoundEngine::Term();
        g_passes = nullptr;
        EngineTest::TearDown();
    }
    // Two passes after the frame of calls is closed: the second began after it, so it ran them.
    void RenderAndWait() {
        std::unique_lock guard(m_passes.lock);
        const u32 target = m_passes.count + 2;
        guard.unlock();
        ASSERT_EQ(AU::SoundEngine::RenderAudio(), AuResultSuccess);
        guard.lock();
        m_passes.changed.wait(guard, [&] { return m_passes.count >= target; });
    }
    // The Init bank and the game's bank, and object 10.
    static void LoadGame(AuBankID& init, AuBankID& game) {
        ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, game), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(10), AuResultSuccess);
    }
    // What the mixing side heard for one bus since the last call.
    std::vector<std::string> BusLines(banktest::RecordingBusOps& ops, u32 busID) {
        char id[16];
        snprintf(id, sizeof(id), " %08X ", busID);
        CAuMainLock lock;
        std::vector<std::string> lines;
        for (const std::string& line : ops.calls)
            if (line.find(id) != std::string::npos) lines.push_back(line);
        ops.calls.clear();
        return lines;
    }

    Passes m_passes;
    std::vector<u8> m_bank; // loaded in place: lives past Term
};

TEST_F(SetValueEngineTest, AGameParameterSetByAnActionMovesTheSfxBusAsTheSliderDoes) {
    banktest::RecordingBusOps ops;
    AuBankID init = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    const u32 param = AU::SoundEngine::GetIDFromString("SFX_VO_Bus_Volume");
    const u32 sfxBus = AU::SoundEngine::GetIDFromString("SFX_Bus");
    constexpr u32 kEvent = 0x4100;
    bankgen::BankBuilder builder(0xB9);
    bankgen::ActionRecord set;
    set.id = 0x3100;
    set.type = 0x1302;
    set.target = param;
    set.valueMeaning = 1;
    set.bypassTransition = 1;
    set.base = 50.0f;
    builder.Add(set);
    builder.Add(bankgen::EventRecord{kEvent, {set.id}});
    std::vector<std::string> errors;
    ASSERT_TRUE(builder.Build(m_bank, errors));
    AuBankID id = 0;
    ASSERT_EQ(
        AU::SoundEngine::LoadBank(m_bank.data(), static_cast<u32>(m_bank.size()), AU_INVALID_POOL_ID, id),
        AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::RegisterGameObj(10), AuResultSuccess);
    RenderAndWait();
    BusLines(ops, sfxBus);

    ASSERT_NE(AU::SoundEngine::PostEvent(kEvent, 10), 0u);
    RenderAndWait();
    const std::vector<std::string> byAction = BusLines(ops, sfxBus);
    ASSERT_EQ(byAction, std::vector<std::string>{"offset 0CB96245 -6.02"}) << "the Init bank's curve at 50";
    {
        CAuMainLock lock;
        EXPECT_EQ(g_pRTPCMgr->GetRTPCValue(param, AuRTPCKey{}), 50.0f) << "set for every object";
    }

    // The slider's way: back to 100, then 50 again through the exported call.
    ASSERT_EQ(AU::SoundEngine::SetRTPCValue(param, 100.0f), AuResultSuccess);
    RenderAndWait();
    BusLines(ops, sfxBus);
    ASSERT_EQ(AU::SoundEngine::SetRTPCValue(param, 50.0f), AuResultSuccess);
    RenderAndWait();
    const std::vector<std::string> bySlider = BusLines(ops, sfxBus);
    EXPECT_EQ(byAction, bySlider);
}

// The run-time level of a bus of the loaded banks; 1.0 without a holder, -1 without the bus.
f32 BusLevel(u32 busID) {
    CAuMainLock lock;
    auto* bus = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(busID, true));
    if (!bus) return -1.0f;
    const f32 level = bus->ModifiedValues() ? bus->ModifiedValues()->GetValue(AuPropID_Level) : 1.0f;
    bus->Release();
    return level;
}

TEST_F(SetValueEngineTest, TheGamesMuteEventsMuteAndUnmuteTheirBusOnly) {
    AuBankID init = 0, game = 0;
    ASSERT_NO_FATAL_FAILURE(LoadGame(init, game));
    const u32 music = AU::SoundEngine::GetIDFromString("Music_Bus");
    const u32 sfx = AU::SoundEngine::GetIDFromString("SFX_Bus");
    struct Step {
        u32 event;
        f32 music, sfx;
    };
    const Step steps[] = {{0x205DA04D, 0.0f, 1.0f},
                          {0x63C39CE1, 0.0f, 0.0f},
                          {0x3474117A, 1.0f, 0.0f},
                          {0x305775FC, 1.0f, 1.0f}};
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << std::hex << step.event);
        ASSERT_NE(AU::SoundEngine::PostEvent(step.event, 10), 0u);
        RenderAndWait();
        EXPECT_EQ(BusLevel(music), step.music);
        EXPECT_EQ(BusLevel(sfx), step.sfx);
    }
}

// The event outlives the unload of its target's bank; its action then finds no bus and does
// nothing, and every object is gone once both banks are.
TEST_F(SetValueEngineTest, AMuteWhoseBusWasUnloadedBeforeItRunsDoesNothing) {
    AuBankID init = 0, game = 0;
    ASSERT_NO_FATAL_FAILURE(LoadGame(init, game));
    ASSERT_NE(AU::SoundEngine::PostEvent(0x205DA04D, 10), 0u);
    // The game's sounds hold the bus: they go first, the posted event lives on in its message.
    ASSERT_EQ(AU::SoundEngine::UnloadBank(game, nullptr), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(init, nullptr), AuResultSuccess);
    EXPECT_EQ(BusLevel(AU::SoundEngine::GetIDFromString("Music_Bus")), -1.0f);
    RenderAndWait();
    CAuMainLock lock;
    for (u32 table = 0; table < AuIndexTableCount; ++table)
        EXPECT_EQ(g_pIndex->Table(AuIndexTableId(table)).Count(), 0u) << table;
}

} // namespace
