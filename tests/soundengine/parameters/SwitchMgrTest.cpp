// Switch groups: stored values per object, groups driven by a game parameter, and subscription
// changes made while a change is being delivered.
#include "core/AuEngineManagers.h"
#include "parameters/AuRTPCMgr.h"
#include "parameters/AuSwitchMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr u32 kGroup = 0x20, kOtherGroup = 0x21, kParam = 0x30;
constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
// Objects only compared, never read.
char g_objects[2];

struct Heard {
    u32 switchID;
    AuRTPCKey key;
};

class Follower final : public CAuSwitchAware {
public:
    void SetSwitch(u32 switchID, const AuRTPCKey& key, const CAuRTPCFilter*) noexcept override {
        heard.push_back({switchID, key});
        if (onChange) onChange();
    }
    std::vector<Heard> heard;
    std::function<void()> onChange;
};

class SwitchMgrTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        g_pSwitchMgr = &m_switches;
        ASSERT_EQ(m_switches.Init(), AuResultSuccess);
        m_usedAtStart = Used();
    }
    void TearDown() override {
        m_switches.Term();
        g_pSwitchMgr = nullptr;
        EXPECT_EQ(m_rtpc.SubscriptionCount(), 0u) << "the bindings went with their entries";
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        AuDefaultPoolTest::TearDown();
    }

    CAuRTPCMgr m_rtpc;
    CAuSwitchMgr m_switches;
    CAuRegisteredObj* const m_a = reinterpret_cast<CAuRegisteredObj*>(&g_objects[0]);
    CAuRegisteredObj* const m_b = reinterpret_cast<CAuRegisteredObj*>(&g_objects[1]);
};

TEST_F(SwitchMgrTest, AnObjectReadsOnlyItsOwnValue) {
    Follower follower;
    ASSERT_EQ(m_switches.SubscribeSwitch(&follower, kGroup), AuResultSuccess);
    ASSERT_EQ(m_switches.SetSwitch(kGroup, 5, nullptr), AuResultSuccess);
    ASSERT_EQ(m_switches.SetSwitch(kGroup, 6, m_a), AuResultSuccess);
    EXPECT_EQ(m_switches.GetSwitch(kGroup, AuRTPCKey{}), 5u);
    EXPECT_EQ(m_switches.GetSwitch(kGroup, AuRTPCKey(m_a)), 6u);
    EXPECT_EQ(m_switches.GetSwitch(kGroup, AuRTPCKey(m_b)), 0u) << "no fall-back to the global value";
    EXPECT_EQ(m_switches.GetSwitch(kOtherGroup, AuRTPCKey{}), 0u) << "an unknown group";
    ASSERT_EQ(follower.heard.size(), 2u);
    EXPECT_EQ(follower.heard[1].switchID, 6u);
    EXPECT_EQ(follower.heard[1].key, AuRTPCKey(m_a));
    EXPECT_EQ(m_switches.SubscribeSwitch(nullptr, kGroup), AuResultNoMemory);
    m_switches.UnsubscribeSwitch(&follower);
}

TEST_F(SwitchMgrTest, UnregisteringAnObjectRemovesItsValuesFromEveryGroup) {
    for (u32 group : {kGroup, kOtherGroup}) {
        ASSERT_EQ(m_switches.SetSwitch(group, 7, m_a), AuResultSuccess);
        ASSERT_EQ(m_switches.SetSwitch(group, 8, m_b), AuResultSuccess);
    }
    m_switches.UnregisterGameObject(m_a);
    for (u32 group : {kGroup, kOtherGroup}) {
        EXPECT_EQ(m_switches.GetSwitch(group, AuRTPCKey(m_a)), 0u);
        EXPECT_EQ(m_switches.GetSwitch(group, AuRTPCKey(m_b)), 8u);
    }
}

TEST_F(SwitchMgrTest, AParameterDrivenGroupMapsTheCurveOutputToAnIndex) {
    struct Case {
        const char* what;
        std::vector<AuBankSwitchPoint> points;
        f32 value;
        u32 expected; // 0: no switch
    };
    const u32 linear = AuCurveInterpolation_Linear;
    const std::vector<AuBankSwitchPoint> four = {
        {0.0f, 0x100, linear}, {10.0f, 0x101, linear}, {20.0f, 0x102, linear}, {30.0f, 0x103, linear}};
    const Case cases[] = {
        {"2.9 selects index 2", four, 29.0f, 0x102},
        {"an exact point", four, 10.0f, 0x101},
        {"below the first point", four, -5.0f, 0x100},
        {"past the last point", four, 100.0f, 0x103},
        {"NaN takes the last point", four, kNaN, 0x103},
        {"inside a segment starting at a NaN point",
         {{0.0f, 0x100, linear}, {kNaN, 0x101, linear}, {10.0f, 0x102, linear}},
         5.0f,
         0},
        {"a segment from an infinite point", {{-INFINITY, 0x100, linear}, {10.0f, 0x101, linear}}, 5.0f, 0},
        {"unsorted points stay inside the list",
         {{20.0f, 0x100, linear}, {0.0f, 0x101, linear}, {10.0f, 0x102, linear}},
         15.0f,
         0x100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Follower follower;
        ASSERT_EQ(m_switches.SubscribeSwitch(&follower, kGroup), AuResultSuccess);
        ASSERT_EQ(
            m_switches.AddSwitchRTPC(kGroup, kParam, 0, c.points.data(), static_cast<u32>(c.points.size())),
            AuResultSuccess);
        follower.heard.clear();
        ASSERT_EQ(m_rtpc.SetRTPCImmediate(kParam, c.value, AuRTPCKey(m_a)), AuResultSuccess);
        EXPECT_EQ(m_switches.GetSwitch(kGroup, AuRTPCKey(m_a)), c.expected);
        if (c.expected == 0) {
            EXPECT_TRUE(follower.heard.empty());
        } else {
            ASSERT_EQ(follower.heard.size(), 1u);
            EXPECT_EQ(follower.heard[0].switchID, c.expected);
            EXPECT_EQ(follower.heard[0].key, AuRTPCKey(m_a));
        }
        // A stored value of a parameter-driven group tells no one.
        follower.heard.clear();
        ASSERT_EQ(m_switches.SetSwitch(kGroup, 0x999, m_a), AuResultSuccess);
        EXPECT_TRUE(follower.heard.empty());
        m_switches.UnsubscribeSwitch(&follower);
        m_rtpc.RemoveKeyValues(kParam, AuRTPCKey(m_a));
    }
    // No points: the binding goes and the stored values count again.
    ASSERT_EQ(m_switches.AddSwitchRTPC(kGroup, kParam, 0, nullptr, 0), AuResultSuccess);
    EXPECT_EQ(m_switches.GetSwitch(kGroup, AuRTPCKey(m_a)), 0x999u);
    EXPECT_EQ(m_rtpc.SubscriptionCount(), 0u);
}

TEST_F(SwitchMgrTest, SubscriptionChangesDuringADeliveryApplyInOrderWhenItEnds) {
    struct Case {
        bool subscribeFirst;
        bool subscribedAfter;
    };
    for (const Case c : {Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(c.subscribeFirst ? "subscribe, unsubscribe" : "unsubscribe, subscribe");
        Follower walker, late;
        ASSERT_EQ(m_switches.SubscribeSwitch(&walker, kGroup), AuResultSuccess);
        walker.onChange = [&] {
            if (c.subscribeFirst) {
                EXPECT_EQ(m_switches.SubscribeSwitch(&late, kGroup), AuResultSuccess);
                m_switches.UnsubscribeSwitch(&late);
            } else {
                m_switches.UnsubscribeSwitch(&late);
                EXPECT_EQ(m_switches.SubscribeSwitch(&late, kGroup), AuResultSuccess);
            }
            EXPECT_EQ(m_switches.SubscriptionCount(), 1u) << "nothing changes during the walk";
        };
        ASSERT_EQ(m_switches.SetSwitch(kGroup, 1, m_a), AuResultSuccess);
        walker.onChange = nullptr;
        EXPECT_EQ(m_switches.SubscriptionCount(), c.subscribedAfter ? 2u : 1u);
        ASSERT_EQ(m_switches.SetSwitch(kGroup, 2, m_a), AuResultSuccess);
        EXPECT_EQ(late.heard.size(), c.subscribedAfter ? 1u : 0u);
        m_switches.UnsubscribeSwitch(&walker);
        m_switches.UnsubscribeSwitch(&late);
    }
}

TEST_F(SwitchMgrTest, AFollowerUnsubscribedDuringAWalkHearsNothingMoreInIt) {
    Follower first, second;
    // Whichever hears first drops the other.
    first.onChange = [&] { m_switches.UnsubscribeSwitch(&second); };
    second.onChange = [&] { m_switches.UnsubscribeSwitch(&first); };
    ASSERT_EQ(m_switches.SubscribeSwitch(&first, kGroup), AuResultSuccess);
    ASSERT_EQ(m_switches.SubscribeSwitch(&second, kGroup), AuResultSuccess);
    ASSERT_EQ(m_switches.SetSwitch(kGroup, 3, nullptr), AuResultSuccess);
    EXPECT_EQ(first.heard.size() + second.heard.size(), 1u);
    EXPECT_EQ(m_switches.SubscriptionCount(), 1u);
    Follower& kept = first.heard.empty() ? second : first;
    kept.onChange = nullptr;
    ASSERT_EQ(m_switches.SetSwitch(kGroup, 4, nullptr), AuResultSuccess);
    EXPECT_EQ(first.heard.size() + second.heard.size(), 2u);
    m_switches.UnsubscribeSwitch(&kept);
}

TEST_F(SwitchMgrTest, ASubscriberFollowsOneGroup) {
    Follower follower;
    ASSERT_EQ(m_switches.SubscribeSwitch(&follower, kGroup), AuResultSuccess);
    ASSERT_EQ(m_switches.SubscribeSwitch(&follower, kOtherGroup), AuResultSuccess);
    EXPECT_EQ(m_switches.SubscriptionCount(), 1u);
    ASSERT_EQ(m_switches.SetSwitch(kGroup, 1, nullptr), AuResultSuccess);
    ASSERT_EQ(m_switches.SetSwitch(kOtherGroup, 2, nullptr), AuResultSuccess);
    ASSERT_EQ(follower.heard.size(), 1u);
    EXPECT_EQ(follower.heard[0].switchID, 2u);
    m_switches.UnsubscribeSwitch(&follower);
}

} // namespace
