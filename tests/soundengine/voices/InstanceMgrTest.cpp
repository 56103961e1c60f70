#include "voices/AuInstanceMgr.h"

#include "VoiceTestSupport.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {

class InstanceMgrTest : public AuDefaultPoolTest {
protected:
    InstanceMgrTest() : AuDefaultPoolTest(2u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = g_DefaultPoolId;
        m_node.action = 1; // below the threshold the voice stops, unless a test says otherwise
        ASSERT_EQ(m_mgr.InitEvents(), AuResultSuccess);
    }
    void TearDown() override {
        m_mgr.Term(false);
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
    // As the nodes make them: from the default pool, added to the manager.
    CAuPlaybackInstance* Add(f32 priority, const u8* data = nullptr) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        params.pNode = &m_node;
        params.priority.fPriority = priority;
        void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPlaybackInstance));
        auto* instance = new (block) CAuPlaybackInstance(params);
        AuSourceMedia media;
        media.pData = data;
        instance->SetSourceMedia(media);
        m_mgr.AddInstance(instance);
        return instance;
    }
    std::vector<CAuPlaybackInstance*> Fill(u32 count, f32 priority) {
        std::vector<CAuPlaybackInstance*> added;
        for (u32 i = 0; i < count; ++i)
            added.push_back(Add(priority));
        return added;
    }

    voicetest::PlayedNode m_node;
    CAuInstanceMgr m_mgr;
};

TEST_F(InstanceMgrTest, AtTheVoiceLimitTiesLoseAndAHigherPriorityStopsOne) {
    const auto added = Fill(256, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(50.0f, reason), AuResultLimiterRefusedUseVirtual);
    EXPECT_EQ(reason, CAuInstanceMgr::kRefusedVoiceLimit);
    for (CAuPlaybackInstance* i : added)
        ASSERT_FALSE(i->IsStopped());
    EXPECT_EQ(m_mgr.CheckResourceLimits(51.0f, reason), AuResultSuccess);
    EXPECT_TRUE(added.back()->IsStopped()); // the last of the lowest in the list's order
    EXPECT_EQ(added.back()->StopReason(), CAuInstanceMgr::kStopForVoiceLimit);
    for (size_t i = 0; i + 1 < added.size(); ++i)
        ASSERT_FALSE(added[i]->IsStopped()) << i;
}

TEST_F(InstanceMgrTest, AtTheVoiceLimitAVirtualisingInstanceGoesVirtualInsteadOfStopping) {
    m_node.action = 2;
    const auto added = Fill(256, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(51.0f, reason), AuResultSuccess);
    EXPECT_FALSE(added.back()->IsStopped());
    EXPECT_TRUE(added.back()->ForcedVirtual());
    // The virtual one no longer counts: the start took its place.
    Add(51.0f);
    // Instances that keep playing below the threshold can be neither stopped nor sent away.
    m_node.action = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(60.0f, reason), AuResultLimiterRefusedUseVirtual);
}

TEST_F(InstanceMgrTest, BelowTheLimitEveryStartGoesOn) {
    Fill(255, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(0.0f, reason), AuResultSuccess);
    m_mgr.SetVoiceLimit(2);
    m_mgr.SetVirtualCount(254); // only one plays a voice
    EXPECT_EQ(m_mgr.CheckResourceLimits(0.0f, reason), AuResultSuccess);
}

TEST_F(InstanceMgrTest, MemoryThresholds) {
    CAuPlaybackInstance* low = Add(10.0f);
    u32 reason = 0;
    m_mgr.SetMemoryThresholds(1.0f, 1.0f); // never, however full
    EXPECT_TRUE(m_mgr.CheckMemoryThreshold(0.0f));
    m_mgr.SetMemoryThresholds(0.0f, 1.0f); // any use of the default pool is too much
    EXPECT_EQ(m_mgr.CheckResourceLimits(10.0f, reason), AuResultFail); // equal priority: refused
    EXPECT_EQ(reason, CAuInstanceMgr::kRefusedMemory);
    EXPECT_FALSE(low->IsStopped());
    EXPECT_EQ(m_mgr.CheckResourceLimits(20.0f, reason), AuResultSuccess);
    EXPECT_TRUE(low->IsStopped());
    EXPECT_EQ(low->StopReason(), CAuInstanceMgr::kStopForMemory);
    EXPECT_FALSE(m_mgr.CheckMemoryThreshold(90.0f)); // nothing left to stop
}

TEST_F(InstanceMgrTest, PriorityFromDistance) {
    const f32 near[] = {30.0f, 10.0f};
    const f32 far[] = {500.0f};
    struct Case {
        AuPriorityInputs in;
        f32 expected;
    };
    auto make = [](f32 base, f32 offset, bool hasMax, f32 max, f32 scaling, const f32* d, u32 n) {
        AuPriorityInputs in;
        in.fBase = base;
        in.fDistanceOffset = offset;
        in.bHasMaxDistance = hasMax;
        in.fMaxDistance = max;
        in.fScaling = scaling;
        in.pDistances = d;
        in.uNumDistances = n;
        return in;
    };
    const Case cases[] = {
        {make(50, -20, false, 100, 1, near, 2), 50},   // not positioned
        {make(50, 0, true, 100, 1, near, 2), 50},      // no offset
        {make(50, -20, true, 100, 1, near, 2), 48},    // the nearest of the positions
        {make(50, -20, true, 50, 2, near, 2), 48},     // the maximum scaled by the object
        {make(50, -20, true, 100, 1, far, 1), 30},     // past the maximum
        {make(50, -20, true, 100, 1, nullptr, 0), 30}, // no listener: 1e10
        {make(90, 40, true, 100, 1, far, 1), 100},     // clamped
        {make(10, -40, true, 100, 1, far, 1), 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(CAuInstanceMgr::ComputePriority(c.in), c.expected)
            << c.in.fBase << " " << c.in.fDistanceOffset;
}

TEST_F(InstanceMgrTest, AnEndEventDestroysItsInstanceAndEventsBeyondTheBlockGoBackToThePool) {
    CAuPlaybackInstance* first = Add(50.0f);
    CAuPlaybackInstance* second = Add(50.0f);
    const u32 before = Used();
    for (u32 i = 0; i < CAuInstanceMgr::kPreallocatedEvents; ++i)
        m_mgr.QueueInstanceEvent(second, 1, i, 0.0f);
    EXPECT_EQ(Used(), before);
    m_mgr.QueueInstanceEvent(first, AuInstanceEvent::kEnd, 0, 0.0f); // the 65th
    EXPECT_GT(Used(), before);
    m_mgr.ProcessInstanceEvents();
    EXPECT_EQ(m_mgr.NumInstances(), 1u);
    EXPECT_EQ(m_mgr.FirstInstance(), second);
    EXPECT_LT(Used(), before); // the event record and the instance are freed
}

TEST_F(InstanceMgrTest, AVirtualInstanceComingBackOverTheLimitStopsAnyOther) {
    const auto added = Fill(257, 100.0f);
    m_mgr.SetVirtualCount(2);
    m_mgr.OnVirtualCountLowered(false);
    EXPECT_EQ(m_mgr.NumVirtual(), 1u);
    for (CAuPlaybackInstance* i : added)
        ASSERT_FALSE(i->IsStopped());
    m_mgr.OnVirtualCountLowered(true); // 257 play against 256: even priority 100 gives way
    EXPECT_EQ(m_mgr.NumVirtual(), 0u);
    EXPECT_TRUE(added.back()->IsStopped());
}

TEST_F(InstanceMgrTest, StopInstancesUsingDataStopsThoseOfTheUnloadingBank) {
    // Two banks side by side: media anywhere inside bank A's block is A's, its end is B's start.
    const u8 banks[16] = {};
    const u8* bankA = banks;
    const u8* bankB = banks + 8;
    CAuPlaybackInstance* atStart = Add(50.0f, bankA);
    CAuPlaybackInstance* inside = Add(50.0f, bankA + 7);
    CAuPlaybackInstance* other = Add(50.0f, bankB);
    CAuPlaybackInstance* none = Add(50.0f, nullptr);
    m_mgr.StopInstancesUsingData(bankA, 8);
    EXPECT_TRUE(atStart->IsStopped());
    EXPECT_TRUE(inside->IsStopped());
    EXPECT_FALSE(other->IsStopped());
    EXPECT_FALSE(none->IsStopped());
}

TEST_F(InstanceMgrTest, AnInstanceEndsOnceAndOnlyWhenTheManagerOwnsIt) {
    CAuPlaybackInstance* listed = Add(50.0f);
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance stranger(params);
    m_mgr.EndInstance(listed);
    m_mgr.EndInstance(listed);
    m_mgr.EndInstance(&stranger);
    EXPECT_TRUE(listed->IsStopped());
    EXPECT_TRUE(stranger.IsStopped());
    m_mgr.ProcessInstanceEvents(); // a second end would free the instance twice
    EXPECT_EQ(m_mgr.NumInstances(), 0u);
}

} // namespace

TEST_F(InstanceMgrTest, UpdateLimitersMakesThoseBeyondEachMaximumGiveWay) {
    // Joined as the nodes' starts do: every instance enters the engine-wide limiter.
    std::vector<CAuPlaybackInstance*> started;
    for (f32 priority : {30.0f, 10.0f, 20.0f}) {
        started.push_back(Add(priority));
        ASSERT_EQ(started.back()->Init(nullptr, nullptr), AuResultSuccess);
    }
    EXPECT_EQ(g_pGlobalVoiceLimiter != nullptr, true);
    EXPECT_EQ(m_mgr.GlobalLimiter().Count(), 3u);
    m_mgr.UpdateLimiters();
    for (CAuPlaybackInstance* i : started)
        ASSERT_FALSE(i->IsStopped());
    m_mgr.SetVoiceLimit(2);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(started[0]->IsStopped());
    EXPECT_TRUE(started[1]->IsStopped()); // the lowest priority
    EXPECT_EQ(started[1]->StopReason(), AU_LIMITER_REASON_ENGINE);
    EXPECT_FALSE(started[2]->IsStopped());

    // A node's list registers with its first instance and is updated with the frame.
    CAuPlaybackLimiter nodeList(AU_LIMITER_KIND_2, 1, false, false);
    ASSERT_EQ(nodeList.AddInstance(started[0], AU_LIMITER_KIND_2), AuResultSuccess);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 1u);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_1), 0u);
    ASSERT_EQ(nodeList.AddInstance(started[2], AU_LIMITER_KIND_2), AuResultSuccess);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 1u);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(started[0]->IsStopped());
    EXPECT_TRUE(started[2]->IsStopped());
    EXPECT_EQ(started[2]->StopReason(), AU_LIMITER_REASON_LIST);
    nodeList.RemoveInstance(started[0], AU_LIMITER_KIND_2);
    nodeList.RemoveInstance(started[2], AU_LIMITER_KIND_2);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 0u);
    nodeList.Term();

    m_mgr.Term(false);
    EXPECT_EQ(g_pGlobalVoiceLimiter, nullptr);
    ASSERT_EQ(m_mgr.InitEvents(), AuResultSuccess);
}
