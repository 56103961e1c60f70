#include "TestNodes.h"

#include "core/AuObjectIndex.h"
#include "hierarchy/AuNodeBase.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>
#include <bankgen/Records.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

using nodetest::g_live;
using nodetest::g_trace;
using nodetest::TestNode;

class NodeBaseTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_live = 0;
        g_trace.clear();
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
    }
    void TearDown() override {
        EXPECT_EQ(g_live.load(), 0);
        EXPECT_EQ(m_rtpc.SubscriptionCount(), 0u);
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        m_index.Term();
        g_pIndex = nullptr;
        AuDefaultPoolTest::TearDown();
    }
    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
};

f32 ValueAt(const u8* block, u32 offset) {
    f32 value;
    memcpy(&value, block + offset, 4);
    return value;
}

TEST_F(NodeBaseTest, BundleValuesStartAtTheFirstMultipleOfFourAfterTheIds) {
    struct Case {
        u32 count;
        u32 valueOffset;
    };
    for (const Case c : {Case{1, 4}, Case{3, 4}, Case{4, 8}, Case{7, 8}, Case{8, 12}}) {
        AuPropBundle bundle;
        for (u32 i = 0; i < c.count; ++i) {
            AuPropValue value;
            value.f = 10.0f + f32(i);
            ASSERT_EQ(bundle.SetValue(static_cast<u8>(20 + i), value), AuResultSuccess);
        }
        const u8* block = bundle.Block();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block[0], c.count);
        for (u32 i = 0; i < c.count; ++i) {
            EXPECT_EQ(block[1 + i], 20 + i);
            EXPECT_EQ(ValueAt(block, c.valueOffset + 4 * i), 10.0f + f32(i)) << c.count;
        }
        for (u32 pad = 1 + c.count; pad < c.valueOffset; ++pad)
            EXPECT_EQ(block[pad], 0) << "padding";
    }
}

TEST_F(NodeBaseTest, ABankBundleOfCountZeroTakesOneByteAndAllocatesNothing) {
    TestNode* node = TestNode::Make(1);
    const u32 used = Used();
    const u8 bytes[] = {0, 0xAA};
    const u8* cursor = bytes;
    EXPECT_EQ(node->Props().SetFromBank(cursor, bytes + sizeof(bytes)), AuResultSuccess);
    EXPECT_EQ(cursor, bytes + 1);
    EXPECT_EQ(node->Props().Block(), nullptr);
    EXPECT_EQ(Used(), used);
    node->Release();
}

TEST_F(NodeBaseTest, PropertiesReadTheirTableDefaults) {
    TestNode* node = TestNode::Make(1);
    EXPECT_EQ(node->GetPropFloat(AuPropID_Priority), 50.0f);
    EXPECT_EQ(node->GetPropFloat(AuPropID_PriorityDistanceOffset), -10.0f);
    EXPECT_EQ(node->GetPropFloat(AuPropID_Level), 1.0f);
    EXPECT_EQ(node->GetPropWord(AuPropID_AttachedPlugin), 0xFFFFFFFFu);
    EXPECT_TRUE(AuGetPropInfo(AuPropID_AttachedPlugin)->isInteger);
    EXPECT_EQ(node->GetPropWord(AuPropID_LoopCount), 1u);
    EXPECT_EQ(node->GetPropFloat(AuPropID_MidiRootNote), 60.0f);
    EXPECT_EQ(AuGetPropInfo(60), nullptr) << "60 and above are opaque words";
    node->Release();
}

TEST_F(NodeBaseTest, SettingWhatThePropertyAlreadyReadsStoresNothingAndRefreshesNothing) {
    TestNode* node = TestNode::Make(1);
    const u32 used = Used();
    EXPECT_EQ(node->SetAuProp(AuPropID_Priority, 50.0f, 0, 0), AuResultSuccess);
    EXPECT_EQ(node->SetAuProp(AuPropID_LoopCount, i32{1}, 0, 0), AuResultSuccess);
    EXPECT_EQ(node->Props().Count(), 0u);
    EXPECT_EQ(Used(), used);
    EXPECT_TRUE(node->recalcs.empty());

    EXPECT_EQ(node->SetAuProp(AuPropID_Priority, 70.0f, 0, 0), AuResultSuccess);
    EXPECT_EQ(node->SetAuProp(AuPropID_Priority, 70.0f, 0, 0), AuResultSuccess);
    EXPECT_EQ(node->Props().Count(), 1u);
    EXPECT_EQ(node->recalcs, std::vector<u32>{0});
    EXPECT_EQ(node->GetPropFloat(AuPropID_Priority), 70.0f);
    node->Release();
}

TEST_F(NodeBaseTest, ConstructionSetsTheFlagPairAndClearsFlagsC) {
    TestNode* node = TestNode::Make(1);
    EXPECT_EQ(node->FlagsA() | node->FlagsB() << 8, 0x0120);
    EXPECT_EQ(node->FlagsC() & 0x1F, 0);
    TestNode* bus = TestNode::Make(1, AuNodeCategory_Bus);
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(1, true), bus) << "busses live in the bus table";
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(1, false), node);
    for (CAuNodeBase* n : {static_cast<CAuNodeBase*>(node), static_cast<CAuNodeBase*>(bus)})
        n->Release(), n->Release();
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count() + m_index.Table(AuIndexBusses).Count(), 0u);
}

TEST_F(NodeBaseTest, TheLastReleaseLeavesParentAndBusBeforeTheDestructorRuns) {
    TestNode* parent = TestNode::Make(10);
    TestNode* bus = TestNode::Make(20, AuNodeCategory_Bus);
    TestNode* child = TestNode::Make(30, AuNodeCategory_Sound);
    child->AddRef();
    ASSERT_EQ(parent->AddChild(child), AuResultSuccess);
    child->AddRef();
    ASSERT_EQ(bus->AddChild(child), AuResultSuccess);
    EXPECT_EQ(child->m_lRef, 1u) << "AddChild drops the caller's reference";
    EXPECT_EQ(parent->m_lRef, 2u);
    EXPECT_EQ(bus->m_lRef, 2u);
    EXPECT_EQ(child->Parent(), parent);
    EXPECT_EQ(child->Bus(), bus);

    g_trace.clear();
    EXPECT_EQ(child->Release(), 0u);
    EXPECT_EQ(g_trace,
              (std::vector<std::string>{"slot5 30", "remove 30 from 10", "remove 30 from 20", "destroy 30"}));
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(30, false), nullptr);
    EXPECT_EQ(parent->m_lRef, 1u);
    EXPECT_EQ(bus->m_lRef, 1u);
    parent->Release();
    bus->Release();
}

TEST_F(NodeBaseTest, AddChildByIdRefusesZeroAndUnknownIdsAndALeafTakesNoChild) {
    TestNode* parent = TestNode::Make(10);
    TestNode* child = TestNode::Make(11, AuNodeCategory_Sound);
    EXPECT_EQ(parent->AddChildByID(0), AuResultInvalidPool);
    EXPECT_EQ(parent->AddChildByID(99), AuResultIDNotFound);
    EXPECT_EQ(parent->AddChildByID(11), AuResultSuccess);
    EXPECT_EQ(child->Parent(), parent);
    EXPECT_EQ(child->m_lRef, 1u);

    // The base slot 9 of a leaf refuses, and still drops the reference it was given.
    struct Leaf : TestNode {
        using TestNode::TestNode;
        AURESULT AddChild(CAuNodeBase* c) override { return CAuNodeBase::AddChild(c); }
    };
    Leaf* leaf = TestNode::Make<Leaf>(12, AuNodeCategory_Sound);
    EXPECT_EQ(leaf->AddChildByID(11), AuResultNotImplemented);
    EXPECT_EQ(child->m_lRef, 1u);
    leaf->Release();
    child->Release();
    parent->Release();
}

TEST_F(NodeBaseTest, ReleasesRacingLookupsNeverHandOutADyingNode) {
    constexpr u32 kRounds = 2000;
    std::atomic<bool> done = false;
    std::thread looker([&] {
        while (!done.load()) {
            for (u32 id = 1; id <= 4; ++id) {
                auto* node = static_cast<CAuNodeBase*>(m_index.GetNodePtrAndAddRef(id, false));
                if (!node) continue;
                EXPECT_EQ(node->FlagsB() & AU_NODE_B_DESTROYING, 0);
                node->Release();
            }
        }
    });
    for (u32 round = 0; round < kRounds; ++round) {
        TestNode* node = TestNode::Make(1 + round % 4, AuNodeCategory_Sound);
        node->Release();
    }
    done = true;
    looker.join();
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
    g_trace.clear();
}

class ActivityTest : public NodeBaseTest {
protected:
    void SetUp() override {
        NodeBaseTest::SetUp();
        parent = TestNode::Make(1);
        bus = TestNode::Make(2, AuNodeCategory_Bus);
        owner = TestNode::Make(3, AuNodeCategory_DefaultBus);
        leaf = TestNode::Make(4, AuNodeCategory_Sound);
        for (TestNode* above : {parent, bus, owner}) {
            leaf->AddRef();
            ASSERT_EQ(above->AddChild(leaf), AuResultSuccess);
        }
        ASSERT_EQ(leaf->GetExtraOwner(), owner);
    }
    void TearDown() override {
        for (TestNode* node : {leaf, parent, bus, owner})
            node->Release();
        NodeBaseTest::TearDown();
    }
    static bool Lists(TestNode* node, CAuNodeBase* child) {
        if (!node->Activity()) return false;
        for (CAuNodeBase* c : node->Activity()->activeChildren)
            if (c == child) return true;
        return false;
    }
    TestNode* parent = nullptr;
    TestNode* bus = nullptr;
    TestNode* owner = nullptr;
    TestNode* leaf = nullptr;
};

TEST_F(ActivityTest, CountingUpMakesTheBlocksAboveAndCountingDownFreesThem) {
    const u32 used = Used();
    EXPECT_TRUE(leaf->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    for (TestNode* node : {leaf, bus, owner, parent}) {
        ASSERT_NE(node->Activity(), nullptr) << node->key;
        EXPECT_EQ(node->Activity()->activity, 1u) << node->key;
    }
    EXPECT_TRUE(Lists(bus, leaf));
    EXPECT_TRUE(Lists(owner, leaf));
    EXPECT_TRUE(Lists(parent, leaf));

    EXPECT_TRUE(leaf->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    EXPECT_EQ(bus->Activity()->activeChildren.Count(), 1u) << "listed once";
    leaf->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    EXPECT_EQ(leaf->Activity()->activity, 1u);
    leaf->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    for (TestNode* node : {leaf, bus, owner, parent})
        EXPECT_EQ(node->Activity(), nullptr) << node->key;
    EXPECT_EQ(Used(), used);
}

TEST_F(ActivityTest, WithoutMemoryForTheBlockNothingIsCounted) {
    std::vector<void*> held;
    while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, 64))
        held.push_back(block);
    EXPECT_FALSE(leaf->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    for (TestNode* node : {leaf, bus, owner, parent})
        EXPECT_EQ(node->Activity(), nullptr) << node->key;
    for (void* block : held)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

TEST_F(ActivityTest, TheExtraOwnerIsTheMotionBusOfAnOrphan) {
    EXPECT_EQ(leaf->GetDefaultBusIfOrphan(), owner);
    EXPECT_EQ(owner->m_children.size(), 1u);
}

TEST_F(NodeBaseTest, AnOrphanJoinsTheDefaultBusOnce) {
    struct Source : IAuDefaultBusSource {
        CAuNodeBase* bus = nullptr;
        CAuNodeBase* GetDefaultBusAddRef() override {
            if (bus) bus->AddRef();
            return bus;
        }
    } source;
    TestNode* node = TestNode::Make(1, AuNodeCategory_Sound);
    AuSetDefaultBusSource(&source);
    EXPECT_EQ(node->GetDefaultBusIfOrphan(), nullptr) << "no default bus";
    TestNode* motion = TestNode::Make(2, AuNodeCategory_DefaultBus);
    source.bus = motion;
    EXPECT_EQ(node->GetDefaultBusIfOrphan(), motion);
    EXPECT_EQ(node->GetDefaultBusIfOrphan(), motion);
    EXPECT_EQ(motion->m_children.size(), 1u);
    EXPECT_EQ(motion->m_lRef, 2u);
    EXPECT_EQ(node->m_lRef, 1u);
    AuSetDefaultBusSource(nullptr);
    node->Release();
    EXPECT_EQ(motion->m_lRef, 1u);
    motion->Release();
}

const std::vector<AuCurvePoint> kIdentity = {{0, 0, AuCurveInterpolation_Linear},
                                             {100, 100, AuCurveInterpolation_Linear}};

TEST_F(NodeBaseTest, PriorityComesFromTheNearestNodeThatSetsIt) {
    TestNode* root = TestNode::Make(1);
    TestNode* middle = TestNode::Make(2);
    TestNode* leaf = TestNode::Make(3, AuNodeCategory_Sound);
    middle->AddRef();
    root->AddChild(middle);
    leaf->AddRef();
    middle->AddChild(leaf);

    f32 priority = 0, offset = 0;
    leaf->GetPriority(nullptr, priority, offset);
    EXPECT_EQ(priority, 50.0f) << "a missing property 6 reads 50";
    EXPECT_EQ(offset, 0.0f);

    root->SetAuProp(AuPropID_Priority, 80.0f, 0, 0);
    leaf->SetAuProp(AuPropID_Priority, 10.0f, 0, 0);
    leaf->GetPriority(nullptr, priority, offset);
    EXPECT_EQ(priority, 80.0f) << "without the override bit the root's";

    middle->SetFlagsA(AU_NODE_A_OVERRIDE_PRIORITY | AU_NODE_A_DISTANCE_OFFSET, true);
    leaf->GetPriority(nullptr, priority, offset);
    EXPECT_EQ(priority, 50.0f) << "the nearest override, with its own default";
    EXPECT_EQ(offset, -10.0f);

    leaf->SetFlagsA(AU_NODE_A_OVERRIDE_PRIORITY, true);
    leaf->GetPriority(nullptr, priority, offset);
    EXPECT_EQ(priority, 10.0f);
    EXPECT_EQ(offset, 0.0f) << "the offset only with flags A bit 6";

    ASSERT_EQ(m_rtpc.SetDefaultParamValue(0x77, 33.0f), AuResultSuccess);
    ASSERT_EQ(leaf->SubscribeCurve(0x77, AuTarget_Priority, kIdentity), AuResultSuccess);
    leaf->GetPriority(nullptr, priority, offset);
    EXPECT_EQ(priority, 33.0f) << "a curve on target 8 replaces the property";

    leaf->Release();
    middle->Release();
    root->Release();
}

TEST_F(NodeBaseTest, ALimitWordOfZeroMeansNoLimitEvenWithACurve) {
    TestNode* node = TestNode::Make(1, AuNodeCategory_Sound);
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(0x88, 12.0f), AuResultSuccess);
    EXPECT_EQ(node->GetMaxNumInstances(nullptr), 0u);
    ASSERT_EQ(node->SubscribeCurve(0x88, AuTarget_InstanceLimit, kIdentity), AuResultSuccess);
    EXPECT_EQ(node->GetMaxNumInstances(nullptr), 0u);
    node->SetLimitWord(0xFC00 | 5); // bits 10-15 belong to the derived classes
    EXPECT_EQ(node->GetMaxNumInstances(nullptr), 12u);
    node->UnsetRTPC(AuTarget_InstanceLimit);
    EXPECT_EQ(node->GetMaxNumInstances(nullptr), 5u);
    EXPECT_EQ(node->RTPCMask(), 0u);
    node->Release();
}

TEST_F(NodeBaseTest, GameParameterChangesAreDispatchedByTarget) {
    enum Where { Slot23, Slot21, Slot57, Slot75, Slot29, Slot27, Nothing, Refused };
    struct Row {
        std::vector<u32> targets;
        Where where;
    };
    const Row rows[] = {
        {{0, 2, 3, 4, 5, 19, 29, 30, 32, 33, 34, 35, 36, 56, 57, 58, 59, 60, 61, 62}, Slot23},
        {{8}, Slot21},
        {{9}, Slot57},
        {{10, 11, 12, 13, 14, 15, 20, 21, 37, 38, 65, 66, 67, 68}, Slot75},
        {{24, 25, 26, 27, 28}, Slot29},
        {{41}, Slot27},
        {{6, 39, 40}, Nothing},
        {{1, 7, 16, 17, 18, 22, 23, 31, 42, 55, 63, 64, 69, 200}, Refused},
    };
    TestNode* node = TestNode::Make(1, AuNodeCategory_Sound);
    node->SetFlagsB(AU_NODE_B_OWN_POSITIONING, true);
    AuRTPCSubscription subscription{};
    subscription.pSubscriber = node;
    for (const Row& row : rows) {
        for (u32 target : row.targets) {
            TestNode* n = node;
            n->changes.clear(), n->limits.clear(), n->forwarded.clear(), n->bypasses.clear(),
                n->applied.clear();
            subscription.propertyID = target;
            const AURESULT result =
                n->RecalcNotificationWithID(subscription, target, 0x99, 3.0f, AuRTPCKey{}, false);
            EXPECT_EQ(result, row.where == Refused ? AuResultFail : AuResultSuccess) << target;
            EXPECT_EQ(n->changes.size(), row.where == Slot23 || row.where == Slot21 ? 1u : 0u) << target;
            EXPECT_EQ(n->limits.size(), row.where == Slot57 ? 1u : 0u) << target;
            EXPECT_EQ(n->forwarded.size(), row.where == Slot75 ? 1u : 0u) << target;
            EXPECT_EQ(n->bypasses.size(), row.where == Slot29 ? 1u : 0u) << target;
            EXPECT_EQ(n->applied.size(), row.where == Slot27 ? 1u : 0u) << target;
            if (row.where == Slot23) {
                EXPECT_TRUE(n->changes[0].bDelta);
                EXPECT_EQ(n->changes[0].value, 3.0f) << "the difference from the curve sum (no curve: 0)";
            }
            if (row.where == Slot29) {
                const u32 bit = 1u << (target - 24);
                EXPECT_EQ(n->bypasses[0], (std::pair<u32, u32>{bit, bit}));
            }
            if (row.where == Slot57) {
                EXPECT_EQ(n->limits[0], (std::pair<u16, bool>{3, true}));
            }
        }
    }
    // A child without the override or own-limit bits leaves targets 8 and 9 to its ancestors.
    TestNode* parent = TestNode::Make(2);
    node->AddRef();
    parent->AddChild(node);
    node->changes.clear(), node->limits.clear();
    EXPECT_EQ(node->RecalcNotificationWithID(subscription, 8, 0x99, 3.0f, AuRTPCKey{}, false),
              AuResultSuccess);
    EXPECT_EQ(node->RecalcNotificationWithID(subscription, 9, 0x99, 3.0f, AuRTPCKey{}, false),
              AuResultSuccess);
    EXPECT_TRUE(node->changes.empty());
    EXPECT_TRUE(node->limits.empty());
    node->SetFlagsA(AU_NODE_A_OVERRIDE_PRIORITY | AU_NODE_A_OWN_LIMIT, true);
    node->RecalcNotificationWithID(subscription, 8, 0x99, 3.0f, AuRTPCKey{}, false);
    node->RecalcNotificationWithID(subscription, 9, 0x99, 3.0f, AuRTPCKey{}, false);
    EXPECT_EQ(node->changes.size(), 1u);
    EXPECT_EQ(node->limits.size(), 1u);
    node->Release();
    parent->Release();
}

TEST_F(NodeBaseTest, EffectSlotsHonourTheSlotRangeAndTheWriterStamp) {
    TestNode* node = TestNode::Make(1, AuNodeCategory_Bus);
    EXPECT_EQ(node->SetEffect(4, 0x55, true, AU_EFFECT_STAMP_API), AuResultInvalidParameter);
    EXPECT_EQ(node->Effects(), nullptr);

    EXPECT_EQ(node->SetEffect(1, 0x55, true, AU_EFFECT_STAMP_API), AuResultSuccess);
    EXPECT_EQ(node->effectChanges, std::vector<u32>{1});
    EXPECT_EQ(node->recalcs, std::vector<u32>{0});
    EXPECT_EQ(node->SetEffect(1, 0x66, false, AU_EFFECT_STAMP_BANK), AuResultSuccess);
    EXPECT_EQ(node->Effects()->slots[1].pluginID, 0x55u) << "a lower stamp is ignored";
    EXPECT_EQ(node->SetEffect(1, 0x55, true, AU_EFFECT_STAMP_API), AuResultSuccess);
    EXPECT_EQ(node->effectChanges.size(), 1u) << "an unchanged slot is not refreshed";

    EXPECT_EQ(node->SetBypass(0x12, 0x10), AuResultSuccess);
    EXPECT_EQ(node->Effects()->bypassBits, 0x10);
    EXPECT_EQ(node->bypasses.back(), (std::pair<u32, u32>{0x12, 0x10}));
    node->Release();

    TestNode* plain = TestNode::Make(2, AuNodeCategory_Sound);
    EXPECT_EQ(plain->SetBypass(0, 0x1F), AuResultSuccess);
    EXPECT_EQ(plain->Effects(), nullptr) << "clearing bits makes no block";
    EXPECT_TRUE(plain->bypasses.empty());
    plain->Release();
}

TEST_F(NodeBaseTest, PrepareKeepsTheLookupReferenceAndUnprepareDropsBoth) {
    TestNode* node = TestNode::Make(5, AuNodeCategory_Sound);
    EXPECT_EQ(CAuNodeBase::PrepareNodeByID(6), AuResultIDNotFound);
    EXPECT_EQ(CAuNodeBase::PrepareNodeByID(5), AuResultSuccess);
    EXPECT_EQ(node->m_lRef, 2u);
    node->prepareResult = AuResultFail;
    EXPECT_EQ(CAuNodeBase::PrepareNodeByID(5), AuResultFail);
    EXPECT_EQ(node->m_lRef, 2u);
    CAuNodeBase::UnprepareNodeByID(5);
    EXPECT_EQ(node->m_lRef, 1u);
    EXPECT_EQ(node->unprepared, 1);
    EXPECT_EQ(node->Stop(nullptr, 7, 100, AuCurveInterpolation_Linear), AuResultSuccess);
    ASSERT_EQ(node->executed.size(), 1u);
    EXPECT_EQ(node->executed[0].kind, AuActionExec_Stop);
    EXPECT_EQ(node->executed[0].playingID, 7u);
    node->Release();
}

TEST_F(NodeBaseTest, DescendantsFollowTheOwnBusLinks) {
    TestNode* master = TestNode::Make(1, AuNodeCategory_Bus);
    TestNode* child = TestNode::Make(2, AuNodeCategory_Bus);
    TestNode* leaf = TestNode::Make(3, AuNodeCategory_Sound);
    TestNode* other = TestNode::Make(4, AuNodeCategory_Bus);
    child->AddRef();
    master->AddChild(child);
    leaf->AddRef();
    child->AddChild(leaf);
    EXPECT_TRUE(leaf->IsDescendantOf(master));
    EXPECT_TRUE(leaf->IsDescendantOf(leaf));
    EXPECT_FALSE(leaf->IsDescendantOf(other));
    EXPECT_EQ(leaf->GetMixingBus(), child);
    for (TestNode* node : {leaf, child, master, other})
        node->Release();
}

// The common record as the bank writer encodes it: a grouping record's payload after its ID.
bankgen::Bytes GroupingPayload(const bankgen::NodeCommon& common, bool extraOwner = false) {
    bankgen::GroupingRecord record;
    record.id = 1;
    record.node = common;
    bankgen::EncodeContext ctx;
    ctx.extraOwner = extraOwner;
    bankgen::Bytes bytes = bankgen::EncodePayload(record, ctx);
    EXPECT_TRUE(ctx.errors.empty());
    return bytes;
}

TEST_F(NodeBaseTest, TheCommonRecordLinksTheNodeAndTakesItsFlagsAndCurves) {
    TestNode* bus = TestNode::Make(0x100, AuNodeCategory_Bus);
    TestNode* parent = TestNode::Make(0x200);
    bankgen::NodeCommon common;
    common.outputBus = 0x100;
    common.parent = 0x200;
    common.bitVector = 0x3F;
    common.overrideAttachedPlugin = 1;
    common.rtpcs.push_back(bankgen::RtpcCurve{0x500, 0, 0, 5, 7, 0, {{0, 0, 4}, {1, 1, 4}}});
    common.rtpcs.push_back(bankgen::RtpcCurve{0x501, 0, 0, 63, 8, 0, {{0, 0, 4}}});
    const bankgen::Bytes payload = GroupingPayload(common);

    TestNode* node = TestNode::Make(1, AuNodeCategory_Grouping);
    AuRecordCursor cursor(payload.data() + 4, static_cast<u32>(payload.size() - 4));
    EXPECT_EQ(node->SetNodeBaseParams(cursor, false), AuResultSuccess);
    EXPECT_EQ(cursor.Left(), 4u) << "the children count is the grouping record's own";
    EXPECT_EQ(node->Bus(), bus);
    EXPECT_EQ(node->Parent(), parent);
    EXPECT_EQ(node->m_lRef, 1u);
    EXPECT_EQ(node->FlagsA() & 0xD0, 0xD0);
    EXPECT_EQ(node->FlagsC() & 0x1F, 0x0F);
    EXPECT_EQ(node->RTPCMask(), (u64{1} << 5) | (u64{1} << 63));
    const AuRTPCSubscription* subscription = m_rtpc.FindSubscription(node, 5);
    ASSERT_NE(subscription, nullptr);
    EXPECT_EQ(subscription->kind, u32{AuRTPCSubscriberKind_Node});
    EXPECT_EQ(node->targetChanges, (std::vector<u32>{5, 63}));

    node->Release();
    EXPECT_EQ(bus->m_lRef, 1u);
    EXPECT_EQ(parent->m_lRef, 1u);
    bus->Release();
    parent->Release();
}

TEST_F(NodeBaseTest, AMissingBusFailsTheRecordAndAMissingParentIsSkipped) {
    bankgen::NodeCommon common;
    common.parent = 0x200;
    const bankgen::Bytes skipped = GroupingPayload(common);
    TestNode* node = TestNode::Make(1);
    AuRecordCursor cursor(skipped.data() + 4, static_cast<u32>(skipped.size() - 4));
    EXPECT_EQ(node->SetNodeBaseParams(cursor, false), AuResultSuccess);
    EXPECT_EQ(node->Parent(), nullptr);
    node->Release();

    common.outputBus = 0x100;
    const bankgen::Bytes failing = GroupingPayload(common);
    node = TestNode::Make(1);
    AuRecordCursor second(failing.data() + 4, static_cast<u32>(failing.size() - 4));
    EXPECT_EQ(node->SetNodeBaseParams(second, false), AuResultFail);
    node->Release();
}

TEST_F(NodeBaseTest, EveryCutOfTheRecordGivesSevenAndLeaksNothing) {
    TestNode* bus = TestNode::Make(0x100, AuNodeCategory_Bus);
    TestNode* owner = TestNode::Make(0x300, AuNodeCategory_DefaultBus);
    bankgen::NodeCommon common;
    common.outputBus = 0x100;
    common.rtpcs.push_back(bankgen::RtpcCurve{0x500, 0, 0, 5, 7, 0, {{0, 0, 4}, {1, 1, 4}}});
    common.extraOwnerBus = 0x300;
    const bankgen::Bytes payload = GroupingPayload(common, true);
    // The record's own part: everything after the ID up to the children count.
    const u32 whole = static_cast<u32>(payload.size() - 8);
    for (u32 cut = 0; cut < whole; ++cut) {
        TestNode* node = TestNode::Make(1);
        AuRecordCursor cursor(payload.data() + 4, cut);
        AURESULT result = node->SetNodeBaseParams(cursor, false);
        if (result == AuResultSuccess) result = node->ReadExtraOwner(cursor);
        EXPECT_EQ(result, AuResultBadHeader) << cut;
        node->Release();
    }
    TestNode* node = TestNode::Make(1);
    AuRecordCursor cursor(payload.data() + 4, whole);
    ASSERT_EQ(node->SetNodeBaseParams(cursor, false), AuResultSuccess);
    EXPECT_EQ(cursor.Left(), 4u) << "the extra owner is read only with the bank header's flag";
    EXPECT_EQ(node->ReadExtraOwner(cursor), AuResultSuccess);
    EXPECT_EQ(node->GetExtraOwner(), owner);
    node->Release();
    EXPECT_EQ(bus->m_lRef, 1u);
    EXPECT_EQ(owner->m_lRef, 1u);
    bus->Release();
    owner->Release();
}

class ModifiedValuesTest : public NodeBaseTest {
protected:
    void SetUp() override {
        NodeBaseTest::SetUp();
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        node = TestNode::Make(1, AuNodeCategory_Sound);
        AuPropValue pitch;
        pitch.f = 20.0f;
        ASSERT_EQ(node->Props().SetValue(AuPropID_Pitch, pitch), AuResultSuccess);
        values = node->GetModifiedValues(nullptr);
        ASSERT_NE(values, nullptr);
    }
    void TearDown() override {
        if (node) node->Release();
        m_transitions.Term();
        g_pTransitionMgr = nullptr;
        NodeBaseTest::TearDown();
    }
    void RunFrames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            m_transitions.ProcessTransitionsList(++m_frame);
    }
    f32 SumOfChanges(u32 target) const {
        f32 sum = 0;
        for (const AuParamChange& change : node->changes)
            if (change.target == target && change.bDelta) sum += change.value;
        return sum;
    }
    CAuTransitionMgr m_transitions;
    u32 m_frame = 0;
    TestNode* node = nullptr;
    CAuModifiedValues* values = nullptr;
};

TEST_F(ModifiedValuesTest, AValueWithoutFadeIsSetAtOnceAndTheNodeHearsTheDifference) {
    EXPECT_EQ(values->GetValue(AuPropID_Level), 1.0f);
    EXPECT_EQ(values->SetValueWithFade(AuPropID_Volume, -6.0f, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    EXPECT_EQ(values->SetValueWithFade(AuPropID_Volume, -4.0f, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    ASSERT_EQ(node->changes.size(), 2u);
    EXPECT_EQ(node->changes[1].value, 2.0f);
    EXPECT_EQ(SumOfChanges(AuTarget_Volume), -4.0f);
    // Relative to the stored property: pitch 50 over a stored 20 is a run-time 30.
    EXPECT_EQ(values->SetValueWithFade(AuPropID_Pitch, 50.0f, 0, AuCurveInterpolation_Linear, 1),
              AuResultSuccess);
    EXPECT_EQ(values->GetValue(AuPropID_Pitch), 30.0f);
    // The level goes to slot 25 for all game objects.
    EXPECT_EQ(values->SetValueWithFade(AuPropID_Level, 0.0f, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    EXPECT_EQ(node->levels, std::vector<f32>{0.0f});
}

TEST_F(ModifiedValuesTest, AFadeRunsThroughATransitionThatARetargetKeeps) {
    ASSERT_EQ(values->SetValueWithFade(AuPropID_Pitch, 100.0f, 100, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    CAuTransition* transition = values->Transition(AuPropID_Pitch);
    ASSERT_NE(transition, nullptr);
    RunFrames(2);
    const f32 midway = values->GetValue(AuPropID_Pitch);
    EXPECT_GT(midway, 0.0f);
    EXPECT_LT(midway, 100.0f);
    ASSERT_EQ(values->SetValueWithFade(AuPropID_Pitch, 50.0f, 100, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    EXPECT_EQ(values->Transition(AuPropID_Pitch), transition) << "retargeted, not a second one";
    RunFrames(20);
    EXPECT_EQ(values->Transition(AuPropID_Pitch), nullptr) << "the value forgets its finished transition";
    EXPECT_EQ(values->GetValue(AuPropID_Pitch), 50.0f);
    EXPECT_FLOAT_EQ(SumOfChanges(2), 50.0f); // property 2 drives target 2
}

TEST_F(ModifiedValuesTest, ANodeDestroyedMidFadeLeavesTheTransitionWithoutUsers) {
    ASSERT_EQ(values->SetValueWithFade(AuPropID_Pitch, 100.0f, 500, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    CAuTransition* transition = values->Transition(AuPropID_Pitch);
    ASSERT_NE(transition, nullptr);
    node->Release();
    node = nullptr;
    EXPECT_EQ(transition->UserCount(), 0u);
    RunFrames(2);
    EXPECT_EQ(m_transitions.Count(0), 0u);
}

// The state manager's side, recorded.
class Membership : public IAuStateMembership {
public:
    AURESULT AddStateGroupMember(u32 groupID, CAuStateGroupRecord* member) override {
        if (refuse) return AuResultFail;
        added.push_back({groupID, member});
        return AuResultSuccess;
    }
    void RemoveStateGroupMember(u32 groupID, CAuStateGroupRecord* member) override {
        removed.push_back({groupID, member});
    }
    u32 GetState(u32) override { return current; }
    void RemoveAllStateGroups(bool) override {}
    bool refuse = false;
    u32 current = 0;
    std::vector<std::pair<u32, CAuStateGroupRecord*>> added, removed;
};

class StateLinkTest : public NodeBaseTest {
protected:
    void SetUp() override {
        NodeBaseTest::SetUp();
        AuSetStateMembership(&membership);
    }
    void TearDown() override {
        AuSetStateMembership(nullptr);
        NodeBaseTest::TearDown();
    }
    // A state object read from the bank writer's type-1 record.
    static CAuState* MakeState(u32 id, std::vector<bankgen::Prop> props) {
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload =
            bankgen::EncodePayload(bankgen::StateRecord{id, std::move(props)}, ctx);
        CAuState* state = CAuState::Create(id);
        AuRecordCursor cursor(payload.data() + 4, static_cast<u32>(payload.size() - 4));
        EXPECT_EQ(state->SetInitialValues(cursor), AuResultSuccess);
        EXPECT_EQ(cursor.Left(), 0u);
        return state;
    }
    static AURESULT Read(TestNode* node, const std::vector<bankgen::StateGroupLink>& groups) {
        bankgen::NodeCommon common;
        common.stateGroups = groups;
        const bankgen::Bytes payload = GroupingPayload(common);
        AuRecordCursor cursor(payload.data() + 4, static_cast<u32>(payload.size() - 4));
        return node->SetNodeBaseParams(cursor, false);
    }
    Membership membership;
};

TEST_F(StateLinkTest, TheStateChunkLinksTheStateObjectsAndTheValuesFollowTheCurrentState) {
    CAuState* quiet = MakeState(0x200, {bankgen::PropF(0, -6.0f), bankgen::PropF(2, 100.0f)});
    CAuState* loud = MakeState(0x300, {bankgen::PropF(0, 3.0f)});
    TestNode* node = TestNode::Make(1);
    membership.current = 2;
    ASSERT_EQ(Read(node, {{0x10, 5, {{1, 0x200}, {2, 0x300}}}}), AuResultSuccess);

    CAuStateGroupRecord* record = node->FindStateGroup(0x10);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(membership.added.size(), 1u);
    EXPECT_EQ(record->stateAtCreation, 2u);
    EXPECT_EQ(record->bankByte, 5);
    EXPECT_EQ(record->FindState(1), quiet);
    EXPECT_EQ(record->FindState(2), loud);
    EXPECT_EQ(quiet->m_lRef, 2u);
    EXPECT_EQ(quiet->Parent(), node);

    node->UpdateStateValues();
    EXPECT_EQ(record->Value(0), 3.0f);
    EXPECT_EQ(record->Value(2), 0.0f) << "what the state lacks reads 0";
    membership.current = 1;
    node->UpdateStateValues();
    AuAccumulatedValues values;
    values.mask = 0x1F;
    node->AddStateValues(values);
    EXPECT_EQ(values.values[0], -6.0f);
    EXPECT_EQ(values.values[2], 100.0f);

    // Read again (a sound read by a second bank): the same record, the same links.
    ASSERT_EQ(Read(node, {{0x10, 5, {{1, 0x200}}}}), AuResultSuccess);
    EXPECT_EQ(membership.added.size(), 1u);
    EXPECT_EQ(quiet->m_lRef, 2u);
    // A state linked anew to another object lets go of the old one.
    ASSERT_EQ(Read(node, {{0x10, 5, {{1, 0x300}}}}), AuResultSuccess);
    EXPECT_EQ(quiet->m_lRef, 1u);
    EXPECT_EQ(quiet->Parent(), nullptr);
    EXPECT_EQ(loud->m_lRef, 3u);

    node->Release();
    EXPECT_EQ(membership.removed.size(), 1u);
    EXPECT_EQ(loud->m_lRef, 1u);
    quiet->Release();
    loud->Release();
    EXPECT_EQ(m_index.Table(AuIndexStates).Count(), 0u);
}

TEST_F(StateLinkTest, AnUnknownStateObjectGivesSixteenAndARefusedGroupTwo) {
    TestNode* node = TestNode::Make(1);
    EXPECT_EQ(Read(node, {{0x10, 0, {{1, 0x999}}}}), AuResultUnknownObject);
    node->Release();
    EXPECT_EQ(membership.removed.size(), 1u);

    membership.removed.clear();
    membership.refuse = true;
    node = TestNode::Make(1);
    EXPECT_EQ(Read(node, {{0x10, 0, {}}}), AuResultFail);
    EXPECT_EQ(node->StateGroups(), nullptr);
    node->Release();
    EXPECT_TRUE(membership.removed.empty()) << "never registered, never unregistered";
}

TEST_F(StateLinkTest, AGroupCountPastTheRecordIsRefusedBeforeAnythingIsMade) {
    const u8 bytes[] = {0xFF, 0xFF, 0xFF, 0x0F, 1, 2, 3};
    TestNode* node = TestNode::Make(1);
    AuRecordCursor cursor(bytes, sizeof(bytes));
    EXPECT_EQ(node->ReadStateChunk(cursor), AuResultBadHeader);
    EXPECT_TRUE(membership.added.empty());
    node->Release();
}

TEST_F(StateLinkTest, LinkedIdsComeFromTheNodeItsParentsAndTheirBusses) {
    TestNode* bus = TestNode::Make(1, AuNodeCategory_Bus);
    TestNode* parent = TestNode::Make(2);
    TestNode* leaf = TestNode::Make(3, AuNodeCategory_Sound);
    bus->AddRef(), parent->AddRef();
    leaf->AddRef();
    parent->AddChild(leaf);
    parent->AddRef();
    bus->AddChild(parent);
    bus->Release(), parent->Release();
    ASSERT_EQ(Read(leaf, {{0x10, 4, {}}}), AuResultSuccess);
    ASSERT_EQ(Read(parent, {{0x10, 6, {}}}), AuResultSuccess);
    ASSERT_EQ(Read(bus, {{0x10, 0, {}}}), AuResultSuccess);

    AuArray<u32> out;
    EXPECT_FALSE(leaf->CollectLinkedIDs(0x10, out));
    EXPECT_FALSE(leaf->CollectLinkedIDs(0x10, out));
    EXPECT_EQ(out.Count(), 1u) << "a value is listed once";
    EXPECT_FALSE(leaf->CollectLinkedIDs(0x11, out)) << "a group the node does not follow";
    EXPECT_TRUE(leaf->CollectLinkedIDsFromParents(0x10, out));
    ASSERT_EQ(out.Count(), 1u);
    EXPECT_EQ(out[0], 0u) << "the bus's byte 0 stands for every value";
    leaf->Release();
    parent->Release();
    bus->Release();
}

} // namespace
