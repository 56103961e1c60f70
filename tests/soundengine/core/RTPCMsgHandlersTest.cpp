// The game-parameter messages from the ring into the RTPC manager: the global ID, registered
// objects (held for the call only) and unknown ones, the transitions they carry, and resets.
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMgr.h"
#include "core/AuRegistryMsgHandlers.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr u32 kGlobal = 0xFFFFFFFF;
constexpr u32 kParam = 700;
constexpr u32 kObject = 10;
constexpr u32 kUnknown = 11;

class RTPCMsgHandlersTest : public AuDefaultPoolTest {
public:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, AU_INVALID_POOL_ID);
        ASSERT_EQ(m_mgr.Init(8192), AuResultSuccess);
        AuRegisterObjectMsgHandlers(m_mgr);
        AuRegisterRTPCMsgHandlers(m_mgr);
        CAuListener::Instance().Init();
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        m_transitions.SetOutputTiming(21, 1024);
        g_pTransitionMgr = &m_transitions;
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        g_pRegistryMgr = &m_registry;
        ASSERT_EQ(m_registry.Init(), AuResultSuccess);
        Post(AuQueuedMsgType_RegisterGameObj, AuMsgRegisterGameObj{kObject, 1, 0});
        Pass();
        m_object = m_registry.GetObjAndAddref(kObject);
        ASSERT_NE(m_object, nullptr);
        m_object->Release();
    }
    void TearDown() override {
        m_registry.Term();
        g_pRegistryMgr = nullptr;
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        m_transitions.Term();
        g_pTransitionMgr = nullptr;
        CAuListener::Instance().Term();
        m_mgr.Term();
        AU::MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
        g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }

    template <class Payload> void Post(u16 type, const Payload& payload) {
        AuQueuedMsg* msg = m_mgr.ReserveQueue(type, AuQueuedMsgSize<Payload>());
        ASSERT_NE(msg, nullptr);
        msg->As<Payload>() = payload;
        m_mgr.PublishMsg(msg);
    }
    // The messages of one audio frame.
    void Pass() {
        m_mgr.RenderAudio();
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
    }
    // Audio frames: the transitions advance.
    void Frames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            m_transitions.ProcessTransitionsList(++m_frame);
    }
    f32 Value(const AuRTPCKey& key) const { return m_rtpc.GetRTPCValue(kParam, key); }
    AuRTPCKey ObjectKey(AuPlayingID playingID = 0) const {
        AuRTPCKey key(m_object);
        key.playingID = playingID;
        return key;
    }

    CAuAudioMgr m_mgr;
    CAuTransitionMgr m_transitions;
    CAuRTPCMgr m_rtpc;
    CAuRegistryMgr m_registry;
    CAuRegisteredObj* m_object = nullptr;
    u32 m_frame = 0;
};

TEST_F(RTPCMsgHandlersTest, ASetReachesTheGlobalKeyOrTheObjectWithItsPlayingID) {
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 7.0f, kGlobal, 0});
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 3.0f, kObject, 0});
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 5.0f, kObject, 42});
    Pass();
    EXPECT_EQ(Value(AuRTPCKey{}), 7.0f);
    EXPECT_EQ(Value(ObjectKey()), 3.0f);
    EXPECT_EQ(Value(ObjectKey(42)), 5.0f);
    EXPECT_EQ(Value(ObjectKey(43)), 3.0f); // another sound of the object inherits the object's value
    // The object is held for the call only.
    EXPECT_EQ(m_object->RefCount(), 1u);
}

TEST_F(RTPCMsgHandlersTest, AMessageForAnUnknownObjectIsSkipped) {
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 7.0f, kGlobal, 0});
    Pass();
    const u32 params = m_rtpc.ParamCount();
    const std::function<void()> posts[] = {
        [&] {
            Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam + 1, 1.0f, kUnknown, 0});
        },
        [&] {
            Post(AuQueuedMsgType_SetRTPCWithTransition,
                 AuMsgSetRTPCWithTransition{kParam + 1, 1.0f, kUnknown, 0, 100, AuCurveInterpolation_Linear,
                                            false});
        },
        [&] {
            Post(AuQueuedMsgType_ResetRTPC, AuMsgResetRTPC{kParam, kUnknown, 0});
        },
        [&] {
            Post(AuQueuedMsgType_ResetRTPCWithTransition,
                 AuMsgResetRTPCWithTransition{kParam, kUnknown, 0, 100, AuCurveInterpolation_Linear, false});
        },
    };
    for (const auto& post : posts) {
        post();
        Pass();
        Frames(10);
        // No parameter was made for it, and nothing of the global value moved.
        EXPECT_EQ(m_rtpc.ParamCount(), params);
        EXPECT_EQ(Value(AuRTPCKey{}), 7.0f);
        EXPECT_EQ(m_transitions.Count(0), 0u);
    }
}

TEST_F(RTPCMsgHandlersTest, ASetWithATransitionMovesFrameByFrame) {
    Post(AuQueuedMsgType_SetRTPCWithTransition,
         AuMsgSetRTPCWithTransition{kParam, 48.0f, kObject, 0, 500, AuCurveInterpolation_Linear, false});
    Pass();
    EXPECT_EQ(Value(ObjectKey()), 0.0f); // from the default, at the next frame
    Frames(12);
    EXPECT_FLOAT_EQ(Value(ObjectKey()), 24.0f); // half of 24 buffers
    EXPECT_EQ(Value(AuRTPCKey{}), 0.0f);
    Frames(11);
    EXPECT_LT(Value(ObjectKey()), 48.0f);
    Frames(1);
    EXPECT_EQ(Value(ObjectKey()), 48.0f);
    EXPECT_EQ(m_transitions.Count(0), 0u);
    EXPECT_EQ(m_object->RefCount(), 1u);
}

TEST_F(RTPCMsgHandlersTest, ANegativeTimeSetsAtOnce) {
    Post(AuQueuedMsgType_SetRTPCWithTransition,
         AuMsgSetRTPCWithTransition{kParam, 9.0f, kGlobal, 0, -100, AuCurveInterpolation_Linear, false});
    Pass();
    EXPECT_EQ(Value(AuRTPCKey{}), 9.0f);
    EXPECT_EQ(m_transitions.Count(0), 0u);
}

TEST_F(RTPCMsgHandlersTest, TheBypassFlagSkipsTheParametersOwnRamp) {
    // 10 units per second: 0 to 10 takes a second of its own.
    ASSERT_EQ(m_rtpc.SetRampingParams(kParam, AuRTPCRampKind_Rate, 10.0f, 10.0f), AuResultSuccess);
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 10.0f, kGlobal, 0});
    Post(AuQueuedMsgType_SetRTPCWithTransition,
         AuMsgSetRTPCWithTransition{kParam, 10.0f, kObject, 0, 0, AuCurveInterpolation_Linear, true});
    Pass();
    EXPECT_EQ(Value(ObjectKey()), 10.0f);
    EXPECT_EQ(Value(AuRTPCKey{}), 0.0f);
    Frames(24);
    EXPECT_GT(Value(AuRTPCKey{}), 4.0f);
    EXPECT_LT(Value(AuRTPCKey{}), 6.0f);
}

TEST_F(RTPCMsgHandlersTest, AResetMovesToTheInheritedValueAndDropsTheObjectsOwn) {
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 20.0f, kGlobal, 0});
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 68.0f, kObject, 0});
    Pass();
    Post(AuQueuedMsgType_ResetRTPCWithTransition,
         AuMsgResetRTPCWithTransition{kParam, kObject, 0, 500, AuCurveInterpolation_Linear, false});
    Pass();
    Frames(12);
    EXPECT_FLOAT_EQ(Value(ObjectKey()), 44.0f);
    Frames(12);
    EXPECT_EQ(Value(ObjectKey()), 20.0f);
    // Gone: the object follows the global value again.
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 30.0f, kGlobal, 0});
    Pass();
    EXPECT_EQ(Value(ObjectKey()), 30.0f);

    Post(AuQueuedMsgType_ResetRTPC, AuMsgResetRTPC{kParam, kGlobal, 0});
    Pass();
    EXPECT_EQ(Value(AuRTPCKey{}), 0.0f);
    EXPECT_EQ(Value(ObjectKey()), 0.0f);
    EXPECT_EQ(m_object->RefCount(), 1u);
}

TEST_F(RTPCMsgHandlersTest, AnImmediateResetOfAnObjectLeavesTheGlobalValue) {
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 20.0f, kGlobal, 0});
    Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{kParam, 68.0f, kObject, 0});
    Post(AuQueuedMsgType_ResetRTPC, AuMsgResetRTPC{kParam, kObject, 0});
    Pass();
    EXPECT_EQ(Value(ObjectKey()), 20.0f);
    EXPECT_EQ(Value(AuRTPCKey{}), 20.0f);
}

} // namespace
