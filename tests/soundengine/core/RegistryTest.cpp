#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMgr.h"
#include "core/AuRegistryMsgHandlers.h"
#include "core/AuThreads.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr f32 kPi = std::numbers::pi_v<f32>;
constexpr u32 kAll = 0xFFFFFFFF;
// Game parameters bound to the built-in kinds 1 to 6.
constexpr u32 kBuiltInParam[7] = {0, 501, 502, 503, 504, 505, 506};

AuSoundPosition At(f32 x, f32 y, f32 z) {
    return {{x, y, z}, {0.0f, 0.0f, -1.0f}};
}

class RegistryTest : public AuDefaultPoolTest {
public:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, AU_INVALID_POOL_ID);
        m_liveAtStart = CAuRegisteredObj::LiveCount();
        ASSERT_EQ(m_mgr.Init(8192), AuResultSuccess);
        AuRegisterObjectMsgHandlers(m_mgr);
        CAuListener::Instance().Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        for (u32 kind = 1; kind <= 6; ++kind)
            ASSERT_EQ(m_rtpc.AddBuiltInParamBinding(kind, kBuiltInParam[kind]), AuResultSuccess);
        g_pRegistryMgr = &m_registry;
        ASSERT_EQ(m_registry.Init(), AuResultSuccess);
    }
    void TearDown() override {
        m_registry.Term();
        g_pRegistryMgr = nullptr;
        EXPECT_EQ(CAuRegisteredObj::LiveCount(), m_liveAtStart);
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
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
    void PostPositions(u32 id, std::vector<AuSoundPosition> positions, u32 type) {
        const u32 count = static_cast<u32>(positions.size());
        AuQueuedMsg* msg =
            m_mgr.ReserveQueue(AuQueuedMsgType_MultiplePositions, AuMsgMultiplePositions::RecordSize(count));
        ASSERT_NE(msg, nullptr);
        auto& payload = msg->As<AuMsgMultiplePositions>();
        payload = {id, static_cast<u16>(count), type};
        if (count) memcpy(payload.Positions(), positions.data(), count * sizeof(AuSoundPosition));
        m_mgr.PublishMsg(msg);
    }
    void Register(u32 id, u32 mask = 1) {
        Post(AuQueuedMsgType_RegisterGameObj, AuMsgRegisterGameObj{id, mask, 0});
    }
    void SetPosition(u32 id, const AuSoundPosition& p) {
        Post(AuQueuedMsgType_GameObjPosition, AuMsgGameObjPosition{id, p});
    }

    // What the audio frame does with the messages, the listeners and the objects.
    void Pass() {
        m_mgr.RenderAudio();
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
        CAuListener::UpdateChanged();
        m_registry.UpdateObjects();
    }

    // A reference the way a playing sound holds one; Find without a lasting reference.
    CAuRegisteredObj* Hold(u32 id) { return m_registry.GetObjAndAddref(id); }
    CAuRegisteredObj* Find(u32 id) {
        CAuRegisteredObj* object = m_registry.GetObjAndAddref(id);
        if (object) object->Release();
        return object;
    }
    f32 BuiltIn(CAuRegisteredObj* object, u32 kind) {
        return m_rtpc.GetRTPCValue(kBuiltInParam[kind], AuRTPCKey(object));
    }

    CAuAudioMgr m_mgr;
    CAuRTPCMgr m_rtpc;
    CAuRegistryMgr m_registry;
    u32 m_liveAtStart = 0;
};

TEST_F(RegistryTest, ObjectZeroIsRegisteredAtInitWithEveryListenerAndTheOrigin) {
    CAuRegisteredObj* origin = Find(0);
    ASSERT_NE(origin, nullptr);
    EXPECT_EQ(origin->ActiveListeners(), 0xFF);
    ASSERT_EQ(origin->Positions().uCount, 1u);
    const AuSoundPosition zero{};
    EXPECT_EQ(memcmp(origin->Positions().pPositions, &zero, sizeof(zero)), 0);
    EXPECT_EQ(origin->Flags(), 0xC0000001u);
}

TEST_F(RegistryTest, MessagesDriveTheRegistry) {
    Register(10, 0b01);
    Register(10, 0b110);
    Register(11);
    Pass();
    EXPECT_EQ(m_registry.NumObjects(), 3u);
    ASSERT_NE(Find(10), nullptr);
    EXPECT_EQ(Find(10)->ActiveListeners(), 0b110);

    // A position for an unknown ID changes nothing.
    SetPosition(12, At(1, 2, 3));
    Pass();
    EXPECT_EQ(m_registry.NumObjects(), 3u);
    EXPECT_EQ(Find(12), nullptr);

    Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{11});
    Pass();
    EXPECT_EQ(Find(11), nullptr);
    EXPECT_EQ(m_registry.NumObjects(), 2u);

    Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{kAll});
    Pass();
    EXPECT_EQ(m_registry.NumObjects(), 1u);
    EXPECT_NE(Find(0), nullptr);
}

TEST_F(RegistryTest, AnUnregisteredObjectInUseLivesOnWithItsLastPairs) {
    Register(10);
    Pass();
    CAuRegisteredObj* held = Hold(10);
    ASSERT_NE(held, nullptr);
    const u32 live = CAuRegisteredObj::LiveCount();
    SetPosition(10, At(0, 0, 7));
    Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{10});
    Pass();
    EXPECT_EQ(Find(10), nullptr);
    EXPECT_EQ(CAuRegisteredObj::LiveCount(), live);
    EXPECT_FALSE(held->IsRegistered());
    EXPECT_FALSE(held->PositionsChanged());
    ASSERT_EQ(held->NumPairs(), 1u);
    EXPECT_FLOAT_EQ(held->Pairs()[0].fDistance, 7.0f);
    EXPECT_FLOAT_EQ(BuiltIn(held, 1), 7.0f);

    // Registering the ID again makes a new object; the old one lives until its release.
    Register(10);
    Pass();
    EXPECT_NE(Find(10), held);
    EXPECT_EQ(CAuRegisteredObj::LiveCount(), live + 1);
    held->Release();
    EXPECT_EQ(CAuRegisteredObj::LiveCount(), live);
}

TEST_F(RegistryTest, TheReferenceCountNeverTouchesTheFlagBits) {
    Register(10);
    Pass();
    CAuRegisteredObj* object = Hold(10);
    ASSERT_NE(object, nullptr);
    // Positions were computed once someone held it.
    Pass();
    EXPECT_EQ(object->Flags(), 0x80000002u);
    object->AddRef();
    EXPECT_EQ(object->Flags(), 0x80000003u);
    object->Release();
    object->Release();
    EXPECT_EQ(object->Flags(), 0x80000001u);
}

TEST_F(RegistryTest, OnlyObjectsInUseComputeTheirPairs) {
    Register(10);
    SetPosition(10, At(0, 0, 3));
    Pass();
    CAuRegisteredObj* object = Find(10);
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->PositionsChanged());
    EXPECT_EQ(object->NumPairs(), 0u);
    object->AddRef();
    Pass();
    EXPECT_FALSE(object->PositionsChanged());
    EXPECT_EQ(object->NumPairs(), 1u);
    object->Release();
}

struct PairCase {
    u32 type;
    u32 expectedPairs;
};

class PairCountTest : public RegistryTest, public testing::WithParamInterface<PairCase> {};

TEST_P(PairCountTest, PairsArePerHeardListenerAndPosition) {
    Register(10, 0b101);
    PostPositions(10, {At(0, 0, 1), At(0, 0, 2), At(0, 0, 3)}, GetParam().type);
    Pass();
    CAuRegisteredObj* object = Hold(10);
    Pass();
    EXPECT_EQ(object->GetNumEmitterListenerPairs(0xFF), GetParam().expectedPairs);
    ASSERT_EQ(object->NumPairs(), GetParam().expectedPairs);
    const u32 perListener = GetParam().expectedPairs / 2;
    for (u32 i = 0; i < object->NumPairs(); ++i)
        EXPECT_EQ(object->Pairs()[i].listenerBit, i < perListener ? 0b001 : 0b100) << i;
    object->Release();
}

INSTANTIATE_TEST_SUITE_P(Types, PairCountTest,
                         testing::Values(PairCase{1, 6}, PairCase{2, 6}, PairCase{0, 2}));

TEST_F(RegistryTest, TheClosestPairFeedsTheBuiltInParameters) {
    // Listener 1 stands at x = 10; the object's positions are 4 from listener 0 and 4 from
    // listener 1 (a tie: listener 0's pair comes first) and one 6 away.
    AuListenerPosition moved{{0, 0, 1}, {0, 1, 0}, {10, 0, 0}};
    Post(AuQueuedMsgType_ListenerPosition, AuMsgListenerPosition{1, moved});
    Register(10, 0b11);
    PostPositions(10, {At(0, 0, -6), At(0, 4, 0), At(14, 0, 0)}, AuMultiPositionType_MultiSources);
    Post(AuQueuedMsgType_ObstructionOcclusion, AuMsgObstructionOcclusion{10, 0, 1.0f, 0.5f});
    Post(AuQueuedMsgType_ObstructionOcclusion, AuMsgObstructionOcclusion{10, 1, 0.5f, 1.0f});
    Pass();
    CAuRegisteredObj* object = Hold(10);
    Pass();
    ASSERT_EQ(object->NumPairs(), 6u);
    EXPECT_FLOAT_EQ(BuiltIn(object, 1), 4.0f);
    EXPECT_NEAR(BuiltIn(object, 2), 0.0f, 1e-4); // straight above listener 0
    EXPECT_NEAR(BuiltIn(object, 3), 90.0f, 1e-4);
    EXPECT_NEAR(BuiltIn(object, 4), 90.0f, 1e-4); // facing -z, seen from below
    EXPECT_FLOAT_EQ(BuiltIn(object, 5), 100.0f);
    EXPECT_FLOAT_EQ(BuiltIn(object, 6), 127.0f / 255.0f * 100.0f);
    // Object 0 has no value of its own: the values are keyed by the object.
    EXPECT_EQ(m_rtpc.GetRTPCValue(kBuiltInParam[1], AuRTPCKey()), 0.0f);
    object->Release();
}

TEST_F(RegistryTest, AnglesBeyondATurnAreReducedBeforeConversion) {
    EXPECT_NEAR(AuRadiansToDegrees(370.0f * kPi / 180.0f), 10.0f, 1e-3);
    EXPECT_NEAR(AuRadiansToDegrees(-370.0f * kPi / 180.0f), -10.0f, 1e-3);
    EXPECT_NEAR(AuDegreesToRadians(450.0f), kPi / 2, 1e-6);
}

TEST_F(RegistryTest, ObstructionIsClampedBeforeItBecomesAByte) {
    struct Case {
        f32 value;
        u8 stored;
    };
    const f32 inf = std::numeric_limits<f32>::infinity();
    const Case cases[] = {{-1.0f, 0}, {2.0f, 255}, {std::nanf(""), 0}, {inf, 255},
                          {-inf, 0},  {1.0f, 255}, {0.5f, 127},        {0.0f, 0}};
    Register(10);
    Pass();
    CAuRegisteredObj* object = Find(10);
    for (const Case& c : cases) {
        EXPECT_EQ(object->SetObstructionOcclusion(3, c.value, c.value), AuResultSuccess);
        EXPECT_EQ(object->Obstruction(3), c.stored) << c.value;
        EXPECT_EQ(object->Occlusion(3), c.stored) << c.value;
    }
    EXPECT_EQ(object->SetObstructionOcclusion(8, 1.0f, 1.0f), AuResultFail);
    EXPECT_EQ(m_registry.SetObjectObstructionAndOcclusion(99, 0, 1.0f, 1.0f), AuResultFail);
}

TEST_F(RegistryTest, AuxSendsKeepOnlyUsableEntriesInOrder) {
    Register(10);
    Pass();
    CAuRegisteredObj* object = Find(10);
    const AuAuxSendValue four[] = {{1, 0.1f}, {2, 0.2f}, {3, 0.3f}, {4, 0.4f}, {5, 0.5f}};
    ASSERT_EQ(object->SetAuxSends(four, 4), AuResultSuccess);
    EXPECT_EQ(object->SetAuxSends(four, 5), AuResultFail);
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(object->AuxSends()[i].auxBusID, i + 1);

    const AuAuxSendValue mixed[] = {{0, 0.5f}, {7, 0.0f}, {9, 0.3f}};
    Post(AuQueuedMsgType_AuxSends, AuMsgAuxSends{10, 3, {mixed[0], mixed[1], mixed[2], {}}});
    Pass();
    EXPECT_EQ(object->AuxSends()[0].auxBusID, 9u);
    EXPECT_FLOAT_EQ(object->AuxSends()[0].fControlValue, 0.3f);
    for (u32 i = 1; i < 4; ++i) {
        EXPECT_EQ(object->AuxSends()[i].auxBusID, 0u);
        EXPECT_EQ(object->AuxSends()[i].fControlValue, 0.0f);
    }
    ASSERT_EQ(object->SetAuxSends(four, 2), AuResultSuccess);
    EXPECT_EQ(object->SetAuxSends(nullptr, 3), AuResultSuccess);
    EXPECT_EQ(object->AuxSends()[0].auxBusID, 0u);
}

TEST_F(RegistryTest, PerObjectSettingsFromMessages) {
    Register(10);
    Post(AuQueuedMsgType_OutputBusVolume, AuMsgOutputBusVolume{10, 0.25f});
    Post(AuQueuedMsgType_AttenuationScaling, AuMsgAttenuationScaling{10, 2.0f});
    Post(AuQueuedMsgType_ActiveListeners, AuMsgActiveListeners{10, 0x1F0});
    SetPosition(10, At(0, 0, 8));
    Pass();
    CAuRegisteredObj* object = Hold(10);
    Pass();
    EXPECT_EQ(object->OutputBusVolume(), 0.25f);
    EXPECT_EQ(object->ScalingFactor(), 2.0f);
    EXPECT_EQ(object->ActiveListeners(), 0xF0);
    ASSERT_EQ(object->NumPairs(), 4u);
    EXPECT_FLOAT_EQ(object->Pairs()[0].fDistance, 4.0f);
    // A null array with count 0: back to the default position (0, 0, 1).
    PostPositions(10, {}, AuMultiPositionType_SingleSource);
    Pass();
    EXPECT_EQ(object->Positions().uCount, 0u);
    EXPECT_FLOAT_EQ(object->Pairs()[0].fDistance, 0.5f);
    object->Release();
}

TEST_F(RegistryTest, NodeDataKeepsOrderWhenCleared) {
    Register(10);
    Register(11);
    Pass();
    CAuRegisteredObj* a = Find(10);
    CAuRegisteredObj* b = Find(11);
    for (u32 node : {100u, 200u, 300u})
        ASSERT_EQ(m_registry.SetObjNodeData(a, node, node + 1, node + 2), AuResultSuccess);
    ASSERT_EQ(m_registry.SetObjNodeData(b, 200, 7, 8), AuResultSuccess);
    ASSERT_EQ(m_registry.SetObjNodeData(a, 200, 5, 6), AuResultSuccess);
    EXPECT_EQ(a->NodeData().Count(), 3u);
    EXPECT_EQ(m_registry.GetObjNodeData(a, 200).words[0], 5u);
    EXPECT_EQ(m_registry.SetObjNodeData(nullptr, 200, 1, 1), AuResultFail);
    EXPECT_EQ(m_registry.GetObjNodeData(nullptr, 200).words[1], 0u);

    m_registry.ClearObjNodeData(200, nullptr);
    ASSERT_EQ(a->NodeData().Count(), 2u);
    EXPECT_EQ(a->NodeData()[0].nodeID, 100u);
    EXPECT_EQ(a->NodeData()[1].nodeID, 300u);
    EXPECT_EQ(b->NodeData().Count(), 0u);
    m_registry.ClearObjNodeData(100, a);
    EXPECT_EQ(a->NodeData()[0].nodeID, 300u);
}

TEST_F(RegistryTest, ModifiedNodesAreListedOnce) {
    AuModifiedNode* first = m_registry.AddModifiedNode({5, 0});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(m_registry.AddModifiedNode({5, 0}), first);
    EXPECT_NE(m_registry.AddModifiedNode({5, 1}), first);
    for (u32 id = 6; id < 20; ++id)
        ASSERT_NE(m_registry.AddModifiedNode({id, 0}), nullptr);
    EXPECT_EQ(m_registry.NumModifiedNodes(), 16u);
}

// Records what a game object's end and listener changes ask of the parts above the registry.
class RecordingLinks final : public IAuGameObjectLinks {
public:
    void ForgetObject(const AuModifiedNode& node, CAuRegisteredObj& object) noexcept override {
        log.push_back("forget " + std::to_string(node.nodeID) + " of " + std::to_string(object.ID()));
    }
    void RemoveSwitchValues(CAuRegisteredObj& object) noexcept override {
        log.push_back("switches of " + std::to_string(object.ID()));
    }
    void RemoveModulatorInstances(u32 modulatorID, const AuRTPCKey& key) noexcept override {
        log.push_back("modulator " + std::to_string(modulatorID) + " of " +
                      std::to_string(key.pGameObj->ID()));
    }
    void UpdateActiveListeners(CAuRegisteredObj& object, u32 oldMask, u32 newMask) noexcept override {
        log.push_back("listeners of " + std::to_string(object.ID()) + " " + std::to_string(oldMask) + "->" +
                      std::to_string(newMask) + " stored " + std::to_string(object.ActiveListeners()));
    }
    std::vector<std::string> log;
};

TEST_F(RegistryTest, AnObjectsEndReleasesWhatIsKeptForIt) {
    RecordingLinks links;
    CAuRegistryMgr::SetLinks(&links);
    Register(10);
    Post(AuQueuedMsgType_ActiveListeners, AuMsgActiveListeners{10, 3});
    SetPosition(10, At(3, 4, 5));
    Post(AuQueuedMsgType_ObstructionOcclusion, AuMsgObstructionOcclusion{10, 0, 0.5f, 0.5f});
    Pass();
    CAuRegisteredObj* object = Hold(10);
    Pass(); // feeds the built-in parameters, which note their IDs with the object
    EXPECT_EQ(object->ParamIds().ParamIDs().Count(), 6u);
    ASSERT_EQ(object->AddModifiedNode({300, 0}), AuResultSuccess);
    ASSERT_EQ(object->AddModifiedNode({300, 0}), AuResultSuccess);
    ASSERT_EQ(object->AddModifiedNode({301, 1}), AuResultSuccess);
    ASSERT_EQ(object->ParamIds().AddModulatorID(77), AuResultSuccess);
    Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{10});
    Pass();
    EXPECT_EQ(links.log.size(), 1u);
    object->Release();
    CAuRegistryMgr::SetLinks(nullptr);
    const std::vector<std::string> expected = {"listeners of 10 1->3 stored 1", "forget 300 of 10",
                                               "forget 301 of 10", "switches of 10", "modulator 77 of 10"};
    EXPECT_EQ(links.log, expected);
    // The game parameters' values at the object are gone with it.
    for (u32 kind = 1; kind <= 6; ++kind)
        EXPECT_EQ(m_rtpc.GetRTPCValue(kBuiltInParam[kind], AuRTPCKey(object)), 0.0f) << kind;
}

struct DistanceCase {
    const char* name;
    AuVector emitter;
    f32 scaling;
    f32 distance;
    f32 angles[3];
};

TEST(ComputeScaledDistanceTest, Table) {
    constexpr f32 h = kPi / 2;
    // The listener at (1, 1, 1) looking along +z with +y up; the emitter faces -z.
    const DistanceCase cases[] = {
        {"ahead", {1, 1, 5}, 1, 4, {0, 0, 0}},
        {"ahead scaled", {1, 1, 5}, 2, 2, {0, 0, 0}},
        {"left", {-2, 1, 1}, 1, 3, {-h, 0, h}},
        {"left scaled", {-2, 1, 1}, 2, 1.5f, {-h, 0, h}},
        {"above", {1, 3, 1}, 1, 2, {0, h, h}},
        {"behind", {1, 1, -1}, 2, 1, {kPi, 0, kPi}},
        {"at the listener", {1, 1, 1}, 1, 0, {0, 0, 0}},
        {"at the listener scaled", {1, 1, 1}, 2, 0, {0, 0, 0}},
    };
    AuListenerData listener{};
    listener.position = {{0, 0, 1}, {0, 1, 0}, {1, 1, 1}};
    listener.fScalingFactor = 1.0f;
    listener.matrix[0] = {1, 0, 0};
    listener.matrix[1] = {0, 1, 0};
    listener.matrix[2] = {0, 0, 1};
    for (const DistanceCase& c : cases) {
        AuEmitterListenerPair pair{};
        const AuSoundPosition emitter{c.emitter, {0, 0, -1}};
        EXPECT_FLOAT_EQ(CAuSpeakerPan::ComputeScaledDistance(listener, emitter, c.scaling, pair), c.distance)
            << c.name;
        EXPECT_FLOAT_EQ(pair.fDistance, c.distance) << c.name;
        for (u32 i = 0; i < 3; ++i)
            EXPECT_NEAR(pair.fAngles[i], c.angles[i], 1e-6) << c.name << " angle " << i;
    }
}

TEST(ComputeScaledDistanceTest, RoundingNeverMakesANaNAngle) {
    // A listener frame that is not quite orthonormal: t / |d| lands a hair above 1.
    AuListenerData listener{};
    listener.fScalingFactor = 1.0f;
    listener.matrix[0] = {0, 0, 0};
    listener.matrix[1] = {0, 1.0000001f, 0};
    listener.matrix[2] = {0, 0, 1e-30f};
    for (f32 y : {3.0f, 1e-3f, 123456.0f}) {
        AuEmitterListenerPair pair{};
        const AuSoundPosition emitter{{0, y, 1e-9f}, {0, 1, 0}};
        CAuSpeakerPan::ComputeScaledDistance(listener, emitter, 1.0f, pair);
        for (f32 angle : pair.fAngles)
            EXPECT_FALSE(std::isnan(angle)) << y;
    }
}

TEST_F(RegistryTest, ListenerRows) {
    EXPECT_EQ(CAuListener::AudioMask(), 0xFFu);
    EXPECT_EQ(CAuListener::MotionMask(), 0u);
    const AuListenerData& row = CAuListener::Data(2);
    EXPECT_EQ(row.matrix[0].X, 1.0f);
    EXPECT_EQ(row.matrix[0].Y, 0.0f);
    EXPECT_EQ(row.matrix[0].Z, 0.0f);
    EXPECT_EQ(row.outputType, 16u);

    const f32 volumes[6] = {0.0f, -6.0f, -800.0f, -740.5f, 20.0f, -20.0f};
    const u32 before = [] {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info);
        return info.uUsed;
    }();
    ASSERT_EQ(CAuListener::SetSpatialization(2, false, AuChannelConfig::Anonymous(6), volumes),
              AuResultSuccess);
    ASSERT_NE(row.pSpeakerVolumeBlock, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(row.pSpeakerVolumeBlock) % 16, 0u);
    EXPECT_EQ(row.pVolumesLinear - row.pVolumesDb, 8); // two groups of four per half: 64 bytes
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info);
    EXPECT_GE(info.uUsed - before, 64u);
    EXPECT_LT(info.uUsed - before, 64u + 64u);
    EXPECT_FALSE(row.bSpatialized);
    EXPECT_EQ(row.pVolumesDb[1], -6.0f);
    EXPECT_EQ(row.pVolumesLinear[0], AuDbToLinear(0.0f));
    EXPECT_EQ(row.pVolumesLinear[2], 0.0f);
    EXPECT_EQ(row.pVolumesLinear[3], 0.0f);
    EXPECT_NEAR(row.pVolumesLinear[4], 10.0f, 0.03f);

    // Index 8 changes nothing.
    const f32 one[1] = {-3.0f};
    EXPECT_EQ(CAuListener::SetSpatialization(8, true, AuChannelConfig::Anonymous(1), one),
              AuResultInvalidParameter);
    EXPECT_EQ(CAuListener::SetPosition(8, AuListenerPosition{}), AuResultInvalidParameter);
    CAuListener::SetScalingFactor(8, 3.0f);
    CAuListener::SetPipeline(8, false, true);
    EXPECT_EQ(CAuListener::AudioMask(), 0xFFu);
    EXPECT_EQ(CAuListener::MotionMask(), 0u);
    EXPECT_EQ(row.pVolumesDb[1], -6.0f);
    EXPECT_EQ(CAuListener::SetSpatialization(2, true, AuChannelConfig::Anonymous(0), one),
              AuResultInvalidParameter);
    EXPECT_EQ(row.pSpeakerVolumeBlock, nullptr);

    // The message's copy of the volumes is freed by the handler.
    f32* copy = static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, 16, 16));
    copy[0] = -12.0f;
    Post(AuQueuedMsgType_ListenerSpatialization,
         AuMsgListenerSpatialization{3, copy, AuChannelConfig::Anonymous(1), true, true});
    Post(AuQueuedMsgType_ListenerPipeline, AuMsgListenerPipeline{3, false, true});
    Post(AuQueuedMsgType_ListenerScaling, AuMsgListenerScaling{3, 4.0f});
    Pass();
    EXPECT_EQ(CAuListener::Data(3).pVolumesDb[0], -12.0f);
    EXPECT_EQ(CAuListener::AudioMask(), 0xF7u);
    EXPECT_EQ(CAuListener::MotionMask(), 0x08u);
    EXPECT_EQ(CAuListener::Data(3).fScalingFactor, 4.0f);
}

TEST_F(RegistryTest, AMovedListenerMarksTheObjectsHearingItOnly) {
    Register(10, 0b0010);
    Register(11, 0b0101);
    Register(12, 0b1010);
    Pass();
    CAuRegisteredObj* objects[] = {Hold(10), Hold(11), Hold(12)};
    Pass();
    for (CAuRegisteredObj* object : objects)
        ASSERT_FALSE(object->PositionsChanged());
    {
        CAuMainLock lock;
        CAuListener::SetPosition(1, AuListenerPosition{{0, 0, 1}, {0, 1, 0}, {0, 0, 5}});
        CAuListener::UpdateChanged();
    }
    EXPECT_TRUE(objects[0]->PositionsChanged());
    EXPECT_FALSE(objects[1]->PositionsChanged());
    EXPECT_TRUE(objects[2]->PositionsChanged());
    for (CAuRegisteredObj* object : objects)
        object->Release();
}

TEST(AuMathTest, Helpers) {
    AuVector zero{0, 0, 0};
    AuMath::Normalize(zero);
    EXPECT_EQ(zero.X, 0.0f);
    AuVector v{3, 0, 4};
    AuMath::Normalize(v);
    EXPECT_FLOAT_EQ(v.X, 0.6f);
    EXPECT_FLOAT_EQ(v.Z, 0.8f);
    AuVector nan{std::nanf(""), 1, 1};
    AuMath::Normalize(nan);
    EXPECT_EQ(nan.Y, 1.0f);
    EXPECT_FLOAT_EQ(AuMath::Distance({1, 2, 3}, {4, 6, 3}), 5.0f);
    EXPECT_FLOAT_EQ(AuMath::DotProduct({1, 2, 3}, {4, 5, 6}), 32.0f);
    const AuVector side = AuMath::CrossProduct({0, 1, 0}, {0, 0, 1});
    EXPECT_EQ(side.X, 1.0f);
    EXPECT_EQ(AuMath::InterpolateClamped(0, 10, 2, 20, -1), 10.0f);
    EXPECT_EQ(AuMath::InterpolateClamped(0, 10, 2, 20, 1), 15.0f);
    EXPECT_EQ(AuMath::InterpolateClamped(0, 10, 2, 20, 3), 20.0f);
}

} // namespace
