#include "TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuMsgPayloads.h"
#include "core/AuThreads.h"
#include "hierarchy/AuNodeBase.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

namespace {

using nodetest::TestNode;

class NodeMsgTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_pIndex = &m_index;
        m_index.Init();
        ASSERT_EQ(m_audio.Init(4096), AuResultSuccess);
        AuInstallNodeMsgHandlers(m_audio);
    }
    void TearDown() override {
        m_audio.Term();
        m_index.Term();
        g_pIndex = nullptr;
        AuDefaultPoolTest::TearDown();
    }
    void Post(const AuMsgSetEffect& payload) {
        AuQueuedMsg* msg = m_audio.ReserveQueue(AuQueuedMsgType_SetEffect, AuQueuedMsgSize<AuMsgSetEffect>());
        ASSERT_NE(msg, nullptr);
        msg->As<AuMsgSetEffect>() = payload;
        m_audio.PublishMsg(msg);
    }
    void Run() {
        m_audio.RenderAudio();
        CAuMainLock lock;
        m_audio.ProcessMsgQueue();
    }
    CAuObjectIndex m_index;
    CAuAudioMgr m_audio;
};

TEST_F(NodeMsgTest, EffectMessagesReachTheBusOrTheNodeOfTheirTable) {
    TestNode* bus = TestNode::Make(7, AuNodeCategory_Bus);
    TestNode* node = TestNode::Make(7, AuNodeCategory_Sound);
    Post({7, 2, 0x1111, 1});
    Post({7, 0, 0x2222, 0});
    Post({7, 4, 0x3333, 0}); // refused: slot 4
    Post({8, 0, 0x4444, 1}); // no such bus
    Run();
    ASSERT_NE(bus->Effects(), nullptr);
    EXPECT_EQ(bus->Effects()->slots[2].pluginID, 0x1111u);
    EXPECT_EQ(bus->Effects()->slots[2].bShareSet, 1);
    ASSERT_NE(node->Effects(), nullptr);
    EXPECT_EQ(node->Effects()->slots[0].pluginID, 0x2222u);
    EXPECT_EQ(node->effectChanges, std::vector<u32>{0});
    // A bank's write afterwards does not undo what the game set.
    EXPECT_EQ(node->SetEffect(0, 0x5555, false, AU_EFFECT_STAMP_BANK), AuResultSuccess);
    EXPECT_EQ(node->Effects()->slots[0].pluginID, 0x2222u);
    EXPECT_EQ(bus->m_lRef, 1u);
    EXPECT_EQ(node->m_lRef, 1u);
    bus->Release();
    node->Release();
}

} // namespace
