#include "AuDefaultPoolTest.h"
#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"

#include <vector>

namespace {

struct Heard {
    AuCallbackType type;
    AuEventCallbackInfo info;
    f32 duration;
};

std::vector<Heard> g_heard;

void Record(AuCallbackType type, AuCallbackInfo* info) {
    Heard heard{type, *static_cast<AuEventCallbackInfo*>(info), 0.0f};
    if (type == AU_Duration) heard.duration = static_cast<AuDurationCallbackInfo*>(info)->fDuration;
    g_heard.push_back(heard);
}

int g_cookie;

class PlayingMgrTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(m_mgr.Init(), AuResultSuccess);
        g_heard.clear();
    }
    void TearDown() override {
        m_mgr.Term();
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    CAuPlayingMgr m_mgr;
};

void VolumeCallback(AuSpeakerVolumeMatrixCallbackInfo*) {}
void OtherVolumeCallback(AuSpeakerVolumeMatrixCallbackInfo*) {}
void MeteringCallback(AU::IAuMetering*, AuChannelConfig, AuMeteringFlags) {}

} // namespace

TEST_F(PlayingMgrTest, APlayingIdEndsWhenItsLastInstanceAndPendingActionAreGone) {
    ASSERT_EQ(m_mgr.AddPlayingID(7, 10, 1234, Record, &g_cookie, AU_EndOfEvent, nullptr), AuResultSuccess);
    u32 flags = 0;
    EXPECT_EQ(m_mgr.AddInstance(7, flags), AuResultSuccess);
    EXPECT_EQ(flags, u32{AU_EndOfEvent});
    m_mgr.AddPendingAction(7);    // a delayed action
    m_mgr.RemovePendingAction(7); // the post itself is done
    m_mgr.RemoveInstance(7);
    EXPECT_TRUE(m_mgr.IsLive(7)) << "the delayed action keeps it alive";
    EXPECT_TRUE(g_heard.empty());
    m_mgr.RemovePendingAction(7);
    EXPECT_FALSE(m_mgr.IsLive(7));
    ASSERT_EQ(g_heard.size(), 1u);
    EXPECT_EQ(g_heard[0].type, AU_EndOfEvent);
    EXPECT_EQ(g_heard[0].info.pCookie, &g_cookie);
    EXPECT_EQ(g_heard[0].info.gameObjID, 10u);
    EXPECT_EQ(g_heard[0].info.playingID, 7u);
    EXPECT_EQ(g_heard[0].info.eventID, 1234u);
    // Further removals of an ended ID do nothing, and it has no game object any more.
    m_mgr.RemoveInstance(7);
    m_mgr.RemovePendingAction(7);
    EXPECT_EQ(g_heard.size(), 1u);
    EXPECT_EQ(m_mgr.GetGameObjFromPlayingID(7), 0xFFFFFFFFu);
    EXPECT_EQ(m_mgr.NumRecords(), 0u);
}

TEST_F(PlayingMgrTest, IdsInOneBucketLiveApart) {
    for (const AuPlayingID id : {3u, 34u, 65u})
        ASSERT_EQ(m_mgr.AddPlayingID(id, id + 1, 0, Record, nullptr, AU_EndOfEvent, nullptr),
                  AuResultSuccess);
    EXPECT_EQ(m_mgr.NumRecords(), 3u);
    m_mgr.RemovePendingAction(34);
    EXPECT_EQ(m_mgr.GetGameObjFromPlayingID(3), 4u);
    EXPECT_EQ(m_mgr.GetGameObjFromPlayingID(34), 0xFFFFFFFFu);
    EXPECT_EQ(m_mgr.GetGameObjFromPlayingID(65), 66u);
    m_mgr.AddPendingAction(0);
    m_mgr.RemovePendingAction(3);
    m_mgr.RemovePendingAction(65);
    EXPECT_EQ(g_heard.size(), 3u);
}

TEST_F(PlayingMgrTest, WithoutACallbackOnlyTheOptionsAndTwoTypesStay) {
    ASSERT_EQ(m_mgr.AddPlayingID(5, 1, 0, nullptr, nullptr, 0xFFFFFFFF, nullptr), AuResultSuccess);
    u32 flags = 0;
    m_mgr.AddInstance(5, flags);
    EXPECT_EQ(flags, 0xFFFFFFFFu & ~0xFDFFBu);
    m_mgr.RemoveInstance(5);
    m_mgr.RemovePendingAction(5);
    EXPECT_TRUE(g_heard.empty());
}

TEST_F(PlayingMgrTest, NotificationsReachOnlyTheTypesAskedFor) {
    ASSERT_EQ(m_mgr.AddPlayingID(9, 2, 77, Record, nullptr, AU_Duration, nullptr), AuResultSuccess);
    m_mgr.NotifyStarvation(9);
    m_mgr.NotifyDuration(9, 1500.0f, 750.0f, 3, 4);
    m_mgr.NotifyDuration(10, 1.0f, 1.0f, 3, 4);
    ASSERT_EQ(g_heard.size(), 1u);
    EXPECT_EQ(g_heard[0].type, AU_Duration);
    EXPECT_EQ(g_heard[0].duration, 1500.0f);
    m_mgr.CancelEventCallback(9);
    m_mgr.NotifyDuration(9, 1.0f, 1.0f, 3, 4);
    m_mgr.RemovePendingAction(9);
    EXPECT_EQ(g_heard.size(), 1u) << "a cancelled ID is silent, its end too";
}

TEST_F(PlayingMgrTest, CancellingACookieSilencesEveryIdOfIt) {
    int other;
    ASSERT_EQ(m_mgr.AddPlayingID(1, 1, 0, Record, &g_cookie, AU_EndOfEvent, nullptr), AuResultSuccess);
    ASSERT_EQ(m_mgr.AddPlayingID(2, 1, 0, Record, &other, AU_EndOfEvent, nullptr), AuResultSuccess);
    ASSERT_EQ(m_mgr.AddPlayingID(33, 1, 0, Record, &g_cookie, AU_EndOfEvent, nullptr), AuResultSuccess);
    m_mgr.CancelEventCallbackCookie(&g_cookie);
    for (const AuPlayingID id : {1u, 2u, 33u})
        m_mgr.RemovePendingAction(id);
    ASSERT_EQ(g_heard.size(), 1u);
    EXPECT_EQ(g_heard[0].info.playingID, 2u);
}

TEST_F(PlayingMgrTest, TheEndDropsTheTrackedPlayPositions) {
    CAuPositionRepository repository;
    ASSERT_EQ(repository.Init(), AuResultSuccess);
    g_pPositionRepository = &repository;
    ASSERT_EQ(m_mgr.AddPlayingID(4, 1, 0, nullptr, nullptr, AU_EnableGetSourcePlayPosition, nullptr),
              AuResultSuccess);
    repository.AddSource(4, 1);
    repository.UpdatePlayPosition(4, 1, 480, 48000, 48000);
    u32 ms = 0;
    EXPECT_EQ(repository.GetSourcePlayPosition(4, ms, false), AuResultSuccess);
    m_mgr.RemovePendingAction(4);
    EXPECT_NE(repository.GetSourcePlayPosition(4, ms, false), AuResultSuccess);
    g_pPositionRepository = nullptr;
    repository.Term();
}

TEST_F(PlayingMgrTest, BusCallbacksAreSetReplacedAndRemoved) {
    CAuBusCallbackMgr& bus = m_mgr.BusCallbacks();
    EXPECT_FALSE(bus.HasVolumeCallback(5));
    EXPECT_FALSE(bus.DoVolumeCallback(5, nullptr));
    EXPECT_EQ(bus.SetVolumeCallback(5, VolumeCallback), AuResultSuccess);
    EXPECT_EQ(bus.SetVolumeCallback(5, OtherVolumeCallback), AuResultSuccess);
    EXPECT_TRUE(bus.HasVolumeCallback(5));
    EXPECT_TRUE(bus.DoVolumeCallback(5, nullptr));
    EXPECT_EQ(bus.SetVolumeCallback(5, nullptr), AuResultSuccess);
    EXPECT_FALSE(bus.HasVolumeCallback(5));
    EXPECT_EQ(bus.SetVolumeCallback(6, nullptr), AuResultSuccess) << "removing an absent one is fine";

    EXPECT_EQ(bus.SetMeteringCallback(5, MeteringCallback, AU_EnableBusMeter_Peak), AuResultSuccess);
    EXPECT_EQ(bus.SetMeteringCallback(5, MeteringCallback, AU_EnableBusMeter_RMS), AuResultSuccess);
    EXPECT_EQ(bus.GetMeteringFlags(5), AU_EnableBusMeter_RMS);
    EXPECT_TRUE(bus.DoMeteringCallback(5, nullptr, AuChannelConfig()));
    EXPECT_EQ(bus.SetMeteringCallback(5, nullptr, AU_EnableBusMeter_Peak), AuResultSuccess);
    EXPECT_EQ(bus.GetMeteringFlags(5), AU_NoMetering);
    EXPECT_FALSE(bus.DoMeteringCallback(5, nullptr, AuChannelConfig()));
}
