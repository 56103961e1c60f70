#include "RTPCMgrFixture.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuKeyedParamIds.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

char g_objects[2];
CAuRegisteredObj* const kA = reinterpret_cast<CAuRegisteredObj*>(&g_objects[0]);
CAuRegisteredObj* const kB = reinterpret_cast<CAuRegisteredObj*>(&g_objects[1]);
constexpr u32 kParam = 1000;
constexpr u32 kOther = 2000;

// y = x from 0 to 100.
const AuCurvePoint kIdentity[] = {{0, 0, AuCurveInterpolation_Linear},
                                  {100, 100, AuCurveInterpolation_Linear}};
// y = 2x.
const AuCurvePoint kDouble[] = {{0, 0, AuCurveInterpolation_Linear}, {100, 200, AuCurveInterpolation_Linear}};

struct Call {
    u32 propertyID;
    u32 paramID;
    f32 value;
    AuRTPCKey key;
    const CAuRTPCFilter* filter;
};

class RecordingNode : public IAuNodeSubscriber {
public:
    bool HasActivity() noexcept override { return active; }
    void SetParamFromRTPC(const AuRTPCSubscription&, u32 propertyID, u32 paramID, f32 value,
                          const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept override {
        calls.push_back({propertyID, paramID, value, key, filter});
        // The filter lives for the call only: ask it now.
        skips.clear();
        for (const AuRTPCKey& probe : probes)
            skips.push_back(filter && filter->SkipKey(probe));
    }
    void RecalcProps(u32 propertyID) noexcept override { recalcs.push_back(propertyID); }
    bool active = true;
    std::vector<Call> calls;
    std::vector<AuRTPCKey> probes;
    std::vector<bool> skips;
    std::vector<u32> recalcs;
};

class RecordingHolder : public IAuPluginParamSubscriber {
public:
    f32 GetBaseValue(u32) noexcept override { return base; }
    void SetParam(u32 propertyID, const void* value, u32 size) noexcept override {
        EXPECT_EQ(size, 4u);
        calls.push_back({propertyID, 0, *static_cast<const f32*>(value), {}, nullptr});
    }
    f32 base = 0;
    std::vector<Call> calls;
};

class RecordingLayer : public IAuLayerSubscriber {
public:
    bool IsActiveForRTPC() noexcept override { return active; }
    void SetCrossfadePosition(f32 value) noexcept override { positions.push_back(value); }
    void SetParamFromRTPC(u32 propertyID, u32 paramID, f32 value, const AuRTPCKey& key,
                          const CAuRTPCFilter* filter) noexcept override {
        calls.push_back({propertyID, paramID, value, key, filter});
    }
    void RefreshActiveChildren(u32 propertyID) noexcept override { refreshes.push_back(propertyID); }
    bool active = true;
    std::vector<f32> positions;
    std::vector<Call> calls;
    std::vector<u32> refreshes;
};

class RecordingSwitch : public IAuSwitchGroupSubscriber {
public:
    void SetSwitchFromRTPC(f32 value, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept override {
        calls.push_back({64, 0, value, key, filter});
    }
    std::vector<Call> calls;
};

class RTPCMgrTest : public RTPCMgrFixture {
protected:
    void Set(f32 value, CAuRegisteredObj* object = nullptr, i32 ms = 0, u32 param = kParam,
             AuValueMeaning meaning = AuValueMeaning_Independent) {
        ASSERT_EQ(mgr.SetRTPCInternal(param, value, object, 0,
                                      TransParamsBase{ms, AuCurveInterpolation_Linear, false}, meaning),
                  AuResultSuccess);
    }
    f32 Get(CAuRegisteredObj* object = nullptr, u32 param = kParam) {
        return mgr.GetRTPCValue(param, AuRTPCKey(object));
    }
    AURESULT Subscribe(IAuRTPCSubscriber* subscriber, u32 kind, u32 propertyID, const AuRTPCKey& key = {},
                       const AuCurvePoint* points = kIdentity, u32 param = kParam,
                       u32 mode = AuRTPCMode_Single, u32 curveID = 1) {
        return mgr.SubscribeRTPC(subscriber, param, AuRTPCDrivingType_GameParameter, mode, propertyID,
                                 curveID, AuCurveScaling_None, points, points ? 2 : 0, key, kind);
    }
};

TEST_F(RTPCMgrTest, Parameter131ReadsItsDefaultAfterInitAndUnknownsReadZero) {
    bool found = false;
    EXPECT_EQ(mgr.GetDefaultValue(AU_RTPC_PARAM_131, &found), 64.0f);
    EXPECT_TRUE(found);
    EXPECT_EQ(mgr.GetRTPCValue(AU_RTPC_PARAM_131, AuRTPCKey(kA)), 64.0f);
    EXPECT_EQ(mgr.GetDefaultValue(42, &found), 0.0f);
    EXPECT_FALSE(found);
    EXPECT_EQ(mgr.GetRTPCValue(42, AuRTPCKey{}), 0.0f);
    EXPECT_EQ(mgr.ParamCount(), 1u);
}

// A parameter a bank only names for its curves goes with its last subscriber; what the game or
// the Init bank gave it keeps it.
TEST_F(RTPCMgrTest, AParameterOnlySubscribedToGoesWithItsLastSubscriber) {
    const struct {
        const char* name;
        void (*give)(CAuRTPCMgr& mgr);
        bool kept;
    } cases[] = {
        {"nothing", [](CAuRTPCMgr&) {}, false},
        {"a default", [](CAuRTPCMgr& mgr) { mgr.SetDefaultParamValue(kParam, 0.0f); }, true},
        {"ramps", [](CAuRTPCMgr& mgr) { mgr.SetRampingParams(kParam, AuRTPCRampKind_Rate, 1, 1); }, true},
        {"a built-in binding", [](CAuRTPCMgr& mgr) { mgr.AddBuiltInParamBinding(1, kParam); }, true},
        {"a game value",
         [](CAuRTPCMgr& mgr) { mgr.SetRTPCInternal(kParam, 5.0f, AuRTPCKey(kA), TransParamsBase{}); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mgr.Term();
        ASSERT_EQ(mgr.Init(), AuResultSuccess);
        const u32 before = Used();
        RecordingNode first, second;
        ASSERT_EQ(Subscribe(&first, AuRTPCSubscriberKind_Node, 3), AuResultSuccess);
        ASSERT_EQ(Subscribe(&second, AuRTPCSubscriberKind_Node, 3), AuResultSuccess);
        c.give(mgr);
        EXPECT_EQ(mgr.ParamCount(), 2u);
        mgr.UnSubscribeRTPC(&first);
        EXPECT_EQ(mgr.ParamCount(), 2u) << "a subscriber remains";
        mgr.UnSubscribeRTPC(&second);
        bool found = false;
        mgr.GetDefaultValue(kParam, &found);
        EXPECT_EQ(found, c.kept);
        EXPECT_EQ(mgr.ParamCount(), c.kept ? 2u : 1u);
        if (!c.kept) {
            EXPECT_EQ(Used(), before);
        }
    }
    // A key owner's end takes its values, and with the last of them the parameter.
    RecordingNode node;
    ASSERT_EQ(Subscribe(&node, AuRTPCSubscriberKind_Node, 3, AuRTPCKey(kA)), AuResultSuccess);
    mgr.UnSubscribeRTPC(&node);
    EXPECT_EQ(mgr.ParamCount(), 2u) << "the last case's value keeps it";
    mgr.RemoveKeyValues(kParam, AuRTPCKey(kA));
    EXPECT_EQ(mgr.ParamCount(), 1u);
}

TEST_F(RTPCMgrTest, AnOffsetWithoutAnOwnValueAddsToTheDefault) {
    mgr.SetDefaultParamValue(kParam, 10);
    Set(50);
    Set(5, kA, 0, kParam, AuValueMeaning_Offset);
    EXPECT_EQ(Get(kA), 15.0f); // not 55
    Set(5, kA, 0, kParam, AuValueMeaning_Offset);
    EXPECT_EQ(Get(kA), 20.0f);
    Set(-1, nullptr, 0, kParam, AuValueMeaning_Offset);
    EXPECT_EQ(Get(), 49.0f);
}

TEST_F(RTPCMgrTest, TheSameValueAgainNotifiesNobodyUnlessItIsAReset) {
    RecordingNode node;
    ASSERT_EQ(Subscribe(&node, AuRTPCSubscriberKind_Node, 3), AuResultSuccess);
    Set(30);
    Set(30);
    ASSERT_EQ(node.calls.size(), 1u);
    EXPECT_FLOAT_EQ(node.calls[0].value, 30.0f);
    EXPECT_EQ(node.calls[0].paramID, kParam);
    // NaN never equals itself: each set is a change.
    Set(std::numeric_limits<f32>::quiet_NaN());
    Set(std::numeric_limits<f32>::quiet_NaN());
    EXPECT_EQ(node.calls.size(), 3u);
    Set(0);
    // A reset to the inherited value (the default, 0) with the value already there still tells.
    mgr.ResetRTPCValue(kParam, AuRTPCKey{}, TransParamsBase{});
    EXPECT_EQ(node.calls.size(), 5u);
}

TEST_F(RTPCMgrTest, RateRampsAndTimeRamps) {
    RecordingNode node;
    Subscribe(&node, AuRTPCSubscriberKind_Node, 3);
    mgr.SetRampingParams(kParam, AuRTPCRampKind_Rate, 0, 10); // rising at once, falling 10 per second
    Set(50);
    EXPECT_EQ(Get(), 50.0f);
    Set(45); // 5 down at 10/s: 500 ms, 24 buffers
    EXPECT_EQ(Get(), 50.0f);
    u32 frames = 0;
    while (Get() != 45.0f && frames < 100)
        Frame(), ++frames;
    EXPECT_EQ(frames, 24u);
    // Negative and NaN rates give no ramp time.
    mgr.SetRampingParams(kParam, AuRTPCRampKind_Rate, -1, std::numeric_limits<f32>::quiet_NaN());
    Set(60);
    Set(10);
    EXPECT_EQ(Get(), 10.0f);

    // Fixed time: one second whatever the distance, approached exponentially.
    mgr.SetRampingParams(kParam, AuRTPCRampKind_Time, 1, 2);
    Set(10.001f);
    frames = 0;
    while (Get() != 10.001f && frames < 200)
        Frame(), ++frames;
    EXPECT_EQ(frames, 48u);
    // Bypassing the ramp: at once.
    ASSERT_EQ(
        mgr.SetRTPCInternal(kParam, 3, AuRTPCKey{}, TransParamsBase{0, AuCurveInterpolation_Linear, true}),
        AuResultSuccess);
    EXPECT_EQ(Get(), 3.0f);
}

TEST_F(RTPCMgrTest, AFadeDeliversTheCurveFrameByFrame) {
    RecordingNode bus;
    Subscribe(&bus, AuRTPCSubscriberKind_Bus, 5, {}, kDouble);
    Set(0);
    bus.calls.clear();
    Set(50, nullptr, 500);
    EXPECT_TRUE(bus.calls.empty());
    for (u32 i = 1; i <= 24; ++i) {
        Frame();
        ASSERT_EQ(bus.calls.size(), i);
        EXPECT_FLOAT_EQ(bus.calls.back().value, 2 * AuInterpolateCurve(std::min(1.0f, f32(i) / 24), 0, 50,
                                                                       AuCurveInterpolation_Linear));
    }
    EXPECT_EQ(Get(), 50.0f);
    Frame();
    EXPECT_EQ(bus.calls.size(), 24u);
    // Retargeted midway: one ramp, moving on from where it is.
    Set(0, nullptr, 210);
    Frame();
    Set(100, nullptr, 210);
    for (int i = 0; i < 10; ++i)
        Frame();
    EXPECT_EQ(Get(), 100.0f);
    EXPECT_EQ(transitions.Count(0), 0u);
}

TEST_F(RTPCMgrTest, SettingTheValueARampIsPassingStopsTheRamp) {
    Set(0);
    Set(100, nullptr, 1000);
    Frame();
    Frame();
    const f32 now = Get();
    ASSERT_GT(now, 0.0f);
    Set(now);
    EXPECT_EQ(transitions.Count(0), 1u); // cancelled: dropped at the next frame
    for (int i = 0; i < 60; ++i)
        Frame();
    EXPECT_EQ(Get(), now);
    EXPECT_EQ(transitions.Count(0), 0u);
}

TEST_F(RTPCMgrTest, IdleNodesAndBussesGetOnlyTheirIdleProperties) {
    RecordingNode node, bus;
    node.active = bus.active = false;
    const std::vector<u32> properties{0, 5, 11, 20, 21, 24, 28, 29, 41, 3};
    for (u32 property : properties) {
        Subscribe(&node, AuRTPCSubscriberKind_Node, property);
        Subscribe(&bus, AuRTPCSubscriberKind_Bus, property);
    }
    Set(7);
    std::vector<u32> nodeGot, busGot;
    for (const Call& call : node.calls)
        nodeGot.push_back(call.propertyID);
    for (const Call& call : bus.calls)
        busGot.push_back(call.propertyID);
    std::sort(nodeGot.begin(), nodeGot.end());
    std::sort(busGot.begin(), busGot.end());
    EXPECT_EQ(nodeGot, std::vector<u32>{41});
    EXPECT_EQ(busGot, (std::vector<u32>{0, 5, 11, 20, 21, 24, 28, 41}));
    // Busses take values without a game object only.
    bus.active = true;
    bus.calls.clear();
    Set(8, kA);
    EXPECT_TRUE(bus.calls.empty());
}

TEST_F(RTPCMgrTest, ObjectFiltersAndTheGlobalValueForAScopedHolder) {
    RecordingNode onB;
    Subscribe(&onB, AuRTPCSubscriberKind_Node, 3, AuRTPCKey(kB));
    Set(1, kA);
    EXPECT_TRUE(onB.calls.empty());
    Set(2, kB);
    ASSERT_EQ(onB.calls.size(), 1u);
    EXPECT_EQ(onB.calls[0].key, AuRTPCKey(kB));

    RecordingHolder holder;
    ASSERT_EQ(Subscribe(&holder, AuRTPCSubscriberKind_PluginParams, 9, AuRTPCKey(kB)), AuResultSuccess);
    ASSERT_EQ(holder.calls.size(), 1u); // the first push: B's value through the curve
    EXPECT_EQ(holder.calls[0].value, 2.0f);
    holder.calls.clear();
    Set(5); // B has a value of its own: the global one does not reach the holder
    EXPECT_TRUE(holder.calls.empty());
    mgr.ResetRTPCValue(kParam, AuRTPCKey(kB), TransParamsBase{});
    ASSERT_EQ(holder.calls.size(), 1u); // the reset itself, to the inherited global value
    EXPECT_EQ(holder.calls[0].value, 5.0f);
    Set(6); // now B inherits
    ASSERT_EQ(holder.calls.size(), 2u);
    EXPECT_EQ(holder.calls[1].value, 6.0f);
    Set(7, kA);
    EXPECT_EQ(holder.calls.size(), 2u);
}

TEST_F(RTPCMgrTest, NodesGetAFilterWhileNarrowerValuesExist) {
    RecordingNode node;
    node.probes = {AuRTPCKey(kA), AuRTPCKey(kB), AuRTPCKey{}};
    Subscribe(&node, AuRTPCSubscriberKind_Node, 3);
    Set(1);
    ASSERT_EQ(node.calls.size(), 1u);
    EXPECT_EQ(node.calls[0].filter, nullptr);
    Set(2, kA);
    Set(3);
    ASSERT_EQ(node.calls.size(), 3u);
    EXPECT_NE(node.calls[2].filter, nullptr);
    EXPECT_EQ(node.skips, (std::vector<bool>{true, false, false})); // A keeps its own value
}

TEST_F(RTPCMgrTest, AResetMovesToTheInheritedValueThenRemovesIt) {
    RecordingNode node;
    Subscribe(&node, AuRTPCSubscriberKind_Node, 3);
    Set(10);
    Set(30, kA);
    node.calls.clear();
    mgr.ResetRTPCValue(kParam, AuRTPCKey(kA), TransParamsBase{210, AuCurveInterpolation_Linear, false});
    for (int i = 0; i < 9; ++i)
        Frame();
    EXPECT_FLOAT_EQ(Get(kA), 12.0f); // on its way, still A's own
    Frame();
    ASSERT_EQ(node.calls.size(), 10u);
    EXPECT_EQ(node.calls.back().value, 10.0f);
    EXPECT_EQ(node.calls.back().key, AuRTPCKey(kA));
    Set(11);
    EXPECT_EQ(Get(kA), 11.0f);                                    // A's own value is gone
    mgr.ResetRTPCValue(kParam, AuRTPCKey(kB), TransParamsBase{}); // no own value: nothing
    mgr.ResetRTPCValue(77, AuRTPCKey{}, TransParamsBase{});       // unknown: nothing
    EXPECT_EQ(node.calls.size(), 11u);
}

TEST_F(RTPCMgrTest, RemoveKeyValuesDropsMatchingValuesRampsAndExactSubscriptions) {
    RecordingNode exact, wider;
    AuRTPCKey playing(kA);
    playing.playingID = 7;
    Subscribe(&exact, AuRTPCSubscriberKind_Node, 3, playing);
    Subscribe(&wider, AuRTPCSubscriberKind_Node, 3, AuRTPCKey(kA));
    ASSERT_EQ(mgr.SetRTPCInternal(kParam, 5, playing, TransParamsBase{}), AuResultSuccess);
    AuRTPCKey other = playing;
    other.playingID = 8;
    ASSERT_EQ(mgr.SetRTPCInternal(kParam, 6, other, TransParamsBase{}), AuResultSuccess);
    Set(4, kA);
    Set(9, kB);
    ASSERT_EQ(mgr.SetRTPCInternal(kParam, 50, other, TransParamsBase{1000}), AuResultSuccess); // a ramp
    exact.calls.clear();
    wider.calls.clear();
    const u32 subscriptions = mgr.SubscriptionCount();

    mgr.RemoveKeyValues(kParam, playing);
    EXPECT_EQ(mgr.SubscriptionCount(), subscriptions - 1);
    EXPECT_EQ(mgr.FindSubscription(&exact, 3), nullptr);
    EXPECT_NE(mgr.FindSubscription(&wider, 3), nullptr);
    EXPECT_EQ(mgr.GetRTPCValue(kParam, playing), 4.0f); // falls back to A's value
    EXPECT_EQ(mgr.GetRTPCValue(kParam, other), 6.0f);

    AuRTPCKey anyPlaying(kA); // object A, every playing ID
    anyPlaying.midiChannel = 3;
    mgr.RemoveKeyValues(kParam, AuRTPCKey(kA));
    EXPECT_EQ(mgr.GetRTPCValue(kParam, other), 0.0f);
    EXPECT_EQ(Get(kB), 9.0f);
    EXPECT_EQ(mgr.FindSubscription(&wider, 3), nullptr); // its key equals A's
    for (int i = 0; i < 60; ++i)
        Frame();
    EXPECT_EQ(mgr.GetRTPCValue(kParam, other), 0.0f); // the ramp went with the values
    EXPECT_TRUE(exact.calls.empty());
    EXPECT_TRUE(wider.calls.empty());
}

TEST_F(RTPCMgrTest, CombinedValuesOfSeveralCurves) {
    RecordingHolder holder;
    holder.base = 1;
    Set(10);
    Set(3, nullptr, 0, kOther);
    ASSERT_EQ(Subscribe(&holder, AuRTPCSubscriberKind_PluginParams, 9, {}, kIdentity, kParam,
                        AuRTPCMode_Additive, 1),
              AuResultSuccess);
    ASSERT_EQ(
        Subscribe(&holder, AuRTPCSubscriberKind_PluginParams, 9, {}, kDouble, kOther, AuRTPCMode_Additive, 2),
        AuResultSuccess);
    EXPECT_EQ(mgr.GetRTPCConvertedValue(&holder, 9, AuRTPCKey{}), 16.0f);
    EXPECT_EQ(holder.calls.back().value, 17.0f); // base + 10 + 6
    Set(20);
    EXPECT_EQ(holder.calls.back().value, 27.0f);
    bool remain = false;
    mgr.UnSubscribeRTPCCurve(&holder, 9, 2, &remain);
    EXPECT_TRUE(remain);
    EXPECT_EQ(mgr.GetRTPCConvertedValue(&holder, 9, AuRTPCKey{}), 20.0f);
    mgr.UnSubscribeRTPCCurve(&holder, 9, 1, &remain);
    EXPECT_FALSE(remain);
    EXPECT_EQ(mgr.FindSubscription(&holder, 9), nullptr);
    EXPECT_EQ(mgr.GetRTPCConvertedValue(&holder, 9, AuRTPCKey{}), 0.0f);
    const size_t calls = holder.calls.size();
    Set(30);
    EXPECT_EQ(holder.calls.size(), calls);
}

TEST_F(RTPCMgrTest, SubscriptionRefusalsLeaveNothingBehind) {
    RecordingNode node;
    const u32 before = Used();
    EXPECT_EQ(Subscribe(nullptr, AuRTPCSubscriberKind_Node, 3), AuResultInvalidParameter);
    EXPECT_EQ(Subscribe(&node, AuRTPCSubscriberKind_Node, 3, {}, nullptr), AuResultInvalidParameter);
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
    EXPECT_EQ(mgr.SubscribeRTPC(&node, kParam, AuRTPCDrivingType_Modulator, 0, 3, 1, 0, kIdentity, 2, {},
                                AuRTPCSubscriberKind_Node),
              AuResultFail); // no modulator manager
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
    EXPECT_EQ(Used(), before);

    RecordingLayer layer;
    EXPECT_EQ(mgr.SubscribeProperty64(&layer, kParam, AuRTPCDrivingType_GameParameter), AuResultSuccess);
    EXPECT_EQ(layer.refreshes, std::vector<u32>{64});
    Set(42);
    EXPECT_EQ(layer.positions, std::vector<f32>{42});
    layer.active = false;
    Set(43);
    EXPECT_EQ(layer.positions.size(), 1u);
    mgr.UnSubscribeProperty64(&layer);
    layer.active = true;
    Set(44);
    EXPECT_EQ(layer.positions.size(), 1u);
}

TEST_F(RTPCMgrTest, SwitchGroupsGetTheFirstCurveAndReplacingACurveKeepsOne) {
    RecordingSwitch group;
    const AuCurvePoint steps[] = {{0, 100, AuCurveInterpolation_Hold}, {50, 200, AuCurveInterpolation_Hold}};
    ASSERT_EQ(mgr.SubscribeSwitchGroup(&group, kParam, AuRTPCDrivingType_GameParameter, steps, 2),
              AuResultSuccess);
    Set(10);
    Set(60);
    ASSERT_EQ(group.calls.size(), 3u); // the push, then two values
    EXPECT_EQ(group.calls[1].value, 100.0f);
    EXPECT_EQ(group.calls[2].value, 200.0f);
    ASSERT_EQ(mgr.SubscribeSwitchGroup(&group, kParam, AuRTPCDrivingType_GameParameter, kIdentity, 2),
              AuResultSuccess);
    EXPECT_EQ(mgr.FindSubscription(&group, 64)->curves.Count(), 1u);
    Set(61);
    EXPECT_EQ(group.calls.back().value, 61.0f);
    mgr.UnSubscribeRTPC(&group);
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
}

TEST_F(RTPCMgrTest, BuiltInBindingsSetEveryBoundParameterAtTheKey) {
    EXPECT_EQ(mgr.AddBuiltInParamBinding(1, kParam), AuResultSuccess);
    EXPECT_EQ(mgr.AddBuiltInParamBinding(1, kOther), AuResultSuccess);
    EXPECT_EQ(mgr.AddBuiltInParamBinding(0, 3000), AuResultSuccess); // not bound
    EXPECT_EQ(mgr.AddBuiltInParamBinding(7, 3000), AuResultSuccess); // no such list
    mgr.SetRampingParams(kParam, AuRTPCRampKind_Time, 5, 5); // no bypass: a parameter's own ramp applies
    mgr.UpdateBuiltInParam(1, AuRTPCKey(kA), 12.5f);
    EXPECT_EQ(Get(kA, kOther), 12.5f);
    EXPECT_EQ(Get(kB, kOther), 0.0f);
    EXPECT_EQ(Get(kA, kParam), 0.0f); // on its five-second way
    Frame();
    EXPECT_GT(Get(kA, kParam), 0.0f);
    mgr.UpdateBuiltInParam(2, AuRTPCKey(kA), 1.0f);
    EXPECT_EQ(Get(kA, 3000), 0.0f);
    EXPECT_EQ(mgr.ParamCount(), 3u); // 131 and the two bound
}

// Owners hear of the parameters that hold values at their keys.
class ObjectDirectory : public IAuKeyOwnerDirectory {
public:
    AuKeyedParamIds* FindParamIds(const AuRTPCKey& key) override {
        return key.pGameObj == kA ? &ids : nullptr;
    }
    AuKeyedParamIds ids;
};

TEST_F(RTPCMgrTest, AValueAtAnObjectsKeyRegistersWithTheObject) {
    ObjectDirectory objects;
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, &objects);
    Set(1, kA);
    Set(2, kA, 0, kOther);
    Set(3, kA); // the slot exists: no new registration needed
    Set(4);
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, nullptr);
    ASSERT_EQ(objects.ids.ParamIDs().Count(), 2u);
    EXPECT_EQ(objects.ids.ParamIDs()[0], kParam);
    EXPECT_EQ(objects.ids.ParamIDs()[1], kOther);
    objects.ids.Term();
}

TEST_F(RTPCMgrTest, TermCancelsRampsAndFreesEverything) {
    RecordingNode node;
    const u32 before = Used();
    Subscribe(&node, AuRTPCSubscriberKind_Node, 3, AuRTPCKey(kA));
    Set(1, kA, 500);
    Set(2, kB, 500);
    Frame();
    mgr.Term();
    transitions.ProcessTransitionsList(++frame); // the cancelled records leave
    EXPECT_EQ(transitions.Count(0), 0u);
    EXPECT_LT(Used(), before); // parameter 131 went too
    EXPECT_EQ(mgr.Init(), AuResultSuccess);
    EXPECT_EQ(Used(), before);
}

} // namespace

namespace {

TEST_F(RTPCMgrTest, WithoutMemoryNothingIsHalfLinked) {
    RecordingNode node;
    Set(1); // the parameter exists
    // Fill the pool, then give it back a block at a time: each step fails somewhere else.
    std::vector<void*> filler;
    while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, 16))
        filler.push_back(block);
    EXPECT_EQ(mgr.SetRTPCInternal(kOther, 5, AuRTPCKey{}, TransParamsBase{}), AuResultFail);   // no entry
    EXPECT_EQ(mgr.SetRTPCInternal(kParam, 5, AuRTPCKey(kA), TransParamsBase{}), AuResultFail); // no slot
    EXPECT_EQ(Get(kA), 1.0f);
    u32 refusals = 0;
    AURESULT result = AuResultFail;
    while (!filler.empty()) {
        AU::MemoryMgr::Free(g_DefaultPoolId, filler.back());
        filler.pop_back();
        const u32 before = Used();
        result = Subscribe(&node, AuRTPCSubscriberKind_Node, 3, {}, kIdentity, kOther);
        if (result == AuResultSuccess) break;
        ++refusals;
        ASSERT_EQ(result, AuResultNoMemory);
        ASSERT_EQ(mgr.SubscriptionCount(), 0u);
        ASSERT_EQ(Used(), before) << "refusal " << refusals;
    }
    EXPECT_EQ(result, AuResultSuccess);
    EXPECT_GE(refusals, 3u); // the subscription, the curve, its points, the entry, its array
    for (void* block : filler)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
    Set(7, nullptr, 0, kOther);
    ASSERT_FALSE(node.calls.empty());
    EXPECT_FLOAT_EQ(node.calls.back().value, 7.0f);
}

} // namespace
