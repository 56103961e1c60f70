// The exported posting layer read back from the ring: every call's checks, the record it posts
// and the payload, withdrawals, the settings applied at once, and the exports driving the real
// audio thread.
#include "FakeObject.h"
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuEngineSettings.h"
#include "core/AuExternalSources.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "parameters/AuFastMath.h"

#include <AuDefaultPoolTest.h>

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using au_test::FakeObject;
using namespace AU::SoundEngine;

constexpr u32 kAll = 0xFFFFFFFF;
constexpr u32 kEventID = 0x1234;
constexpr u32 kEmptyNameID = 0x811C9DC5;
constexpr u32 kRing = 8192;

// The records between the read and the write position, in ring order.
std::vector<const AuQueuedMsg*> Inspect(const CAuAudioMgr& mgr) {
    std::vector<const AuQueuedMsg*> records;
    u32 at = mgr.ReadOffset();
    const u32 end = mgr.WriteOffset();
    while (at != end) {
        if (mgr.Capacity() - at < sizeof(AuQueuedMsg)) {
            at = 0;
            continue;
        }
        const auto* msg = reinterpret_cast<const AuQueuedMsg*>(mgr.Ring() + at);
        if (msg->type == AuQueuedMsgType_WrapMarker) {
            at = 0;
            continue;
        }
        records.push_back(msg);
        at += msg->size;
        if (at >= mgr.Capacity()) at = 0;
    }
    return records;
}

template <class P> const P& As(const AuQueuedMsg& msg) {
    return msg.As<P>();
}

bool Same(const AuVector& a, const AuVector& b) {
    return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
}

class ExportsTest : public AuDefaultPoolTest {
public:
    ExportsTest() : AuDefaultPoolTest(1u << 20) {}

    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        au_test::g_live = 0;
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, AU_INVALID_POOL_ID);
        m_usedAtStart = Used();
        g_pIndex = &m_index;
        m_index.Init();
        ASSERT_EQ(m_playing.Init(), AuResultSuccess);
        g_pPlayingMgr = &m_playing;
        ASSERT_EQ(m_mgr.Init(kRing), AuResultSuccess);
        g_pAudioMgr = &m_mgr;
        // What the records own, given back as their handlers will.
        m_mgr.SetMsgHandler(AuQueuedMsgType_Event, {ReleaseEvent});
        m_mgr.SetMsgHandler(AuQueuedMsgType_EventAction, {ReleaseEventOf<AuMsgEventAction>});
        m_mgr.SetMsgHandler(AuQueuedMsgType_Seek, {ReleaseEventOf<AuMsgSeek>});
        m_mgr.SetMsgHandler(AuQueuedMsgType_ListenerSpatialization, {FreeVolumes});
        m_mgr.SetMsgHandler(AuQueuedMsgType_OutputCapture, {FreeCopy<AuMsgOutputCapture>});
        m_mgr.SetMsgHandler(AuQueuedMsgType_OutputCaptureMarker, {FreeCopy<AuMsgOutputCaptureMarker>});
        m_mgr.SetMsgHandler(AuQueuedMsgType_SpeakerAngles, {FreeCopy<AuMsgSpeakerAngles>});
        m_event = FakeObject::Make(kEventID, AuIndexEvents);
    }
    void TearDown() override {
        Drain();
        m_event->Release();
        g_pAudioMgr = nullptr;
        m_mgr.Term();
        g_pPlayingMgr = nullptr;
        m_playing.Term();
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(au_test::g_live.load(), 0);
        EXPECT_EQ(Used(), m_usedAtStart);
        AU::MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
        g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;
        AuDefaultPoolTest::TearDown();
    }

    static void ReleaseEvent(void*, const AuQueuedMsg& msg) {
        const auto& p = msg.As<AuMsgEvent>();
        g_pPlayingMgr->RemovePendingAction(p.head.playingID);
        if (p.head.pExternalSources) p.head.pExternalSources->Release();
        p.pEvent->Release();
    }
    template <class P> static void ReleaseEventOf(void*, const AuQueuedMsg& msg) {
        msg.As<P>().pEvent->Release();
    }
    static void FreeVolumes(void*, const AuQueuedMsg& msg) {
        if (f32* volumes = msg.As<AuMsgListenerSpatialization>().pVolumes)
            AU::MemoryMgr::Free(g_LEngineDefaultPoolId, volumes);
    }
    template <class P> static void FreeCopy(void*, const AuQueuedMsg& msg) {
        const P& p = msg.As<P>();
        const void* copy = nullptr;
        if constexpr (std::is_same_v<P, AuMsgOutputCapture>) copy = p.pFileName;
        if constexpr (std::is_same_v<P, AuMsgOutputCaptureMarker>) copy = p.pText;
        if constexpr (std::is_same_v<P, AuMsgSpeakerAngles>) copy = p.pAngles;
        if (copy) AU::MemoryMgr::Free(g_DefaultPoolId, const_cast<void*>(copy));
    }

    void Drain() {
        m_mgr.RenderAudio();
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
        ASSERT_TRUE(m_mgr.IsEmpty());
    }

    CAuObjectIndex m_index;
    CAuPlayingMgr m_playing;
    CAuAudioMgr m_mgr;
    FakeObject* m_event = nullptr;
};

struct Row {
    const char* name;
    std::function<i64()> call;
    // The result; nullopt for a new playing ID (not 0).
    std::optional<i64> result;
    int type; // -1: nothing is posted
    std::function<void(const AuQueuedMsg&, i64 result)> check;
};

TEST_F(ExportsTest, EveryExportChecksAndPostsItsPayload) {
    const AuSoundPosition p{{1, 2, 3}, {0, 0, -1}};
    const AuSoundPosition three[3] = {{{1, 0, 0}, {0, 0, 1}}, {{2, 0, 0}, {0, 0, 1}}, {{3, 0, 0}, {0, 0, 1}}};
    const AuAuxSendValue sends[5] = {{1, 0.1f}, {2, 0.2f}, {3, 0.3f}, {4, 0.4f}, {5, 0.5f}};
    const f32 volumes[6] = {0, -1, -2, -3, -4, -5};
    const f32 angles[3] = {30, 110, 142.5f};
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    const AuExternalSourceInfo external{7, 1, L"x.wav", nullptr, 0, 0};
    int marker = 0;
    void* const initParams = &marker;
    const u32 none = GetIDFromString("none");
    const u32 named = GetIDFromString("Named");
    const char* const nullName = nullptr;
    const wchar_t* const nullWide = nullptr;
    const AuPlayingID live = 4242;
    ASSERT_EQ(m_playing.AddPlayingID(live, 9, kEventID, nullptr, nullptr, 0, nullptr), AuResultSuccess);

    const std::vector<Row> rows = {
        {"RegisterGameObj 0", [] { return RegisterGameObj(0, 1); }, 31, -1, {}},
        {"RegisterGameObj mask 256", [] { return RegisterGameObj(5, 256); }, 31, -1, {}},
        {"RegisterGameObj all", [] { return RegisterGameObj(kAll, 1); }, 31, -1, {}},
        {"RegisterGameObj", [] { return RegisterGameObj(5, 0x81); }, 1, 11,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgRegisterGameObj>(m);
             EXPECT_EQ(r.gameObjID, 5u);
             EXPECT_EQ(r.listenerMask, 0x81u);
             EXPECT_EQ(r.reserved, 0u);
         }},
        {"RegisterGameObj named", [] { return RegisterGameObj(6, "BGM", 3); }, 1, 11,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgRegisterGameObj>(m).listenerMask, 3u); }},
        {"UnregisterGameObj 0", [] { return UnregisterGameObj(0); }, 2, -1, {}},
        {"UnregisterGameObj", [] { return UnregisterGameObj(7); }, 1, 12,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgUnregisterGameObj>(m).gameObjID, 7u); }},
        {"UnregisterAllGameObj", [] { return UnregisterAllGameObj(); }, 1, 12,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgUnregisterGameObj>(m).gameObjID, kAll); }},
        {"SetPosition 0", [&] { return SetPosition(0, p); }, 2, -1, {}},
        {"SetPositionInternal 0", [&] { return SetPositionInternal(0, p); }, 1, 13,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgGameObjPosition>(m);
             EXPECT_EQ(r.gameObjID, 0u);
             EXPECT_EQ(memcmp(&r.position, &p, sizeof(p)), 0);
         }},
        {"SetPosition", [&] { return SetPosition(9, p); }, 1, 13,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgGameObjPosition>(m).gameObjID, 9u); }},
        {"SetMultiplePositions",
         [&] { return SetMultiplePositions(9, three, 3, AuMultiPositionType_MultiSources); }, 1, 34,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgMultiplePositions>(m);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.count, 3u);
             EXPECT_EQ(r.type, 1u);
             EXPECT_EQ(memcmp(r.Positions(), three, sizeof(three)), 0);
             EXPECT_GE(m.size, AuMsgMultiplePositions::RecordSize(3));
         }},
        {"SetMultiplePositions empty",
         [] { return SetMultiplePositions(9, nullptr, 0, AuMultiPositionType_SingleSource); }, 1, 34,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgMultiplePositions>(m).count, 0u); }},
        {"SetMultiplePositions type 3",
         [&] { return SetMultiplePositions(9, three, 3, AuMultiPositionType(3)); },
         31,
         -1,
         {}},
        {"SetMultiplePositions null array", [] { return SetMultiplePositions(9, nullptr, 2); }, 31, -1, {}},
        {"SetMultiplePositions beyond the ring",
         [] {
             std::vector<AuSoundPosition> many(kRing / sizeof(AuSoundPosition));
             return SetMultiplePositions(9, many.data(), static_cast<u16>(many.size()));
         },
         31,
         -1,
         {}},
        {"SetActiveListeners 256", [] { return SetActiveListeners(9, 256); }, 31, -1, {}},
        {"SetActiveListeners", [] { return SetActiveListeners(9, 0x11); }, 1, 14,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgActiveListeners>(m).listenerMask, 0x11u); }},
        {"SetAttenuationScalingFactor 0", [] { return SetAttenuationScalingFactor(9, 0.0f); }, 31, -1, {}},
        {"SetAttenuationScalingFactor NaN", [&] { return SetAttenuationScalingFactor(9, nan); }, 31, -1, {}},
        {"SetAttenuationScalingFactor", [] { return SetAttenuationScalingFactor(9, 2.5f); }, 1, 33,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgAttenuationScaling>(m).factor, 2.5f); }},
        {"SetGameObjectAuxSendValues 5", [&] { return SetGameObjectAuxSendValues(9, sends, 5); }, 31, -1, {}},
        {"SetGameObjectAuxSendValues null",
         [] { return SetGameObjectAuxSendValues(9, nullptr, 2); },
         31,
         -1,
         {}},
        {"SetGameObjectAuxSendValues", [&] { return SetGameObjectAuxSendValues(9, sends + 1, 2); }, 1, 18,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgAuxSends>(m);
             EXPECT_EQ(r.count, 2u);
             EXPECT_EQ(r.values[0].auxBusID, 2u);
             EXPECT_EQ(r.values[1].fControlValue, 0.3f);
         }},
        {"SetGameObjectAuxSendValues none", [] { return SetGameObjectAuxSendValues(9, nullptr, 0); }, 1, 18,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgAuxSends>(m).count, 0u); }},
        {"SetGameObjectOutputBusVolume", [] { return SetGameObjectOutputBusVolume(9, 0.5f); }, 1, 19,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgOutputBusVolume>(m).volume, 0.5f); }},
        {"SetObjectObstructionAndOcclusion",
         [&] { return SetObjectObstructionAndOcclusion(9, 8, 0.5f, nan); }, 1, 20,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgObstructionOcclusion>(m);
             EXPECT_EQ(r.listener, 8u);
             EXPECT_EQ(r.obstruction, 0.5f);
             EXPECT_TRUE(std::isnan(r.occlusion));
         }},
        {"SetListenerPosition",
         [] {
             return SetListenerPosition({{0, 1, 1}, {0, 1, 0}, {4, 5, 6}}, 2);
         },
         1, 16,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerPosition>(m);
             EXPECT_EQ(r.listener, 2u);
             EXPECT_TRUE(Same(r.position.OrientationFront, {0, 0, 1}));
             EXPECT_TRUE(Same(r.position.OrientationTop, {0, 1, 0}));
             EXPECT_TRUE(Same(r.position.Position, {4, 5, 6}));
         }},
        {"SetListenerPosition long top",
         [] {
             return SetListenerPosition({{0, 1, 1}, {0, 2, 0}, {0, 0, 0}}, 0);
         },
         1, 16,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerPosition>(m);
             EXPECT_TRUE(Same(r.position.OrientationFront, {0, 0, 1}));
             EXPECT_TRUE(Same(r.position.OrientationTop, {0, 1, 0}));
         }},
        {"SetListenerPosition zero",
         [] {
             return SetListenerPosition({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 9);
         },
         1, 16,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerPosition>(m);
             EXPECT_EQ(r.listener, 9u);
             EXPECT_TRUE(Same(r.position.OrientationFront, {0, 0, 0}));
         }},
        {"SetListenerScalingFactor 0", [] { return SetListenerScalingFactor(1, 0.0f); }, 31, -1, {}},
        {"SetListenerScalingFactor", [] { return SetListenerScalingFactor(1, 2.0f); }, 1, 35,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgListenerScaling>(m).factor, 2.0f); }},
        {"SetListenerSpatialization",
         [&] { return SetListenerSpatialization(2, true, AuChannelConfig::Anonymous(6), volumes); }, 1, 17,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerSpatialization>(m);
             EXPECT_EQ(r.listener, 2u);
             ASSERT_NE(r.pVolumes, nullptr);
             EXPECT_NE(r.pVolumes, volumes);
             EXPECT_EQ(reinterpret_cast<uintptr_t>(r.pVolumes) % 16, 0u);
             EXPECT_EQ(memcmp(r.pVolumes, volumes, sizeof(volumes)), 0);
             EXPECT_EQ(r.channelConfig.uWord, 6u);
             EXPECT_TRUE(r.spatialized);
             EXPECT_TRUE(r.volumesGiven);
         }},
        {"SetListenerSpatialization no volumes", [] { return SetListenerSpatialization(2, false); }, 1, 17,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerSpatialization>(m);
             EXPECT_EQ(r.pVolumes, nullptr);
             EXPECT_FALSE(r.spatialized);
             EXPECT_FALSE(r.volumesGiven);
         }},
        {"SetListenerPipeline", [] { return SetListenerPipeline(3, true, false); }, 1, 26,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgListenerPipeline>(m);
             EXPECT_EQ(r.listener, 3u);
             EXPECT_TRUE(r.audio);
             EXPECT_FALSE(r.motion);
         }},
        {"AddSecondaryOutput type 2",
         [] { return AddSecondaryOutput(1, AuAudioOutputType(2), 1); },
         0,
         -1,
         {}},
        {"AddSecondaryOutput main",
         [] { return AddSecondaryOutput(1, AuAudioOutputType_Main, 1); },
         31,
         -1,
         {}},
        {"AddSecondaryOutput mask 256",
         [] { return AddSecondaryOutput(1, AuAudioOutputType_SecondaryA, 256); },
         31,
         -1,
         {}},
        {"AddSecondaryOutput", [] { return AddSecondaryOutput(1, AuAudioOutputType_SecondaryA, 3); }, 1, 27,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgAddRemoveOutput>(m);
             EXPECT_EQ(r.listenerMask, 3u);
             EXPECT_EQ(r.pInitParams, nullptr);
             EXPECT_EQ(r.typeOrDevice, 4u);
             EXPECT_EQ(r.idOrPlayer, 1u);
             EXPECT_TRUE(r.add);
         }},
        {"RemoveSecondaryOutput main",
         [] { return RemoveSecondaryOutput(0, AuAudioOutputType_Main); },
         2,
         -1,
         {}},
        {"RemoveSecondaryOutput", [] { return RemoveSecondaryOutput(1, AuAudioOutputType_SecondaryB); }, 1,
         27,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgAddRemoveOutput>(m);
             EXPECT_EQ(r.typeOrDevice, 8u);
             EXPECT_FALSE(r.add);
         }},
        {"SetSecondaryOutputVolume main",
         [] { return SetSecondaryOutputVolume(0, AuAudioOutputType_Main, 1); },
         2,
         -1,
         {}},
        {"SetSecondaryOutputVolume",
         [] { return SetSecondaryOutputVolume(1, AuAudioOutputType_SecondaryA, 0.5f); }, 1, 21,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSecondaryOutputVolume>(m);
             EXPECT_EQ(r.deviceType, 4u);
             EXPECT_EQ(r.outputID, 1u);
             EXPECT_EQ(r.volume, 0.5f);
         }},
        {"SetPanningRule",
         [] { return SetPanningRule(AuPanningRule_Headphones, AuAudioOutputType_SecondaryA, 2); }, 1, 42,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgPanningRule>(m);
             EXPECT_EQ(r.outputID, 2u);
             EXPECT_EQ(r.deviceType, 4u);
             EXPECT_EQ(r.rule, AuPanningRule_Headphones);
         }},
        {"SetSpeakerAngles 2", [&] { return SetSpeakerAngles(angles, 2, 30); }, 31, -1, {}},
        {"SetSpeakerAngles null", [] { return SetSpeakerAngles(nullptr, 3, 30); }, 31, -1, {}},
        {"SetSpeakerAngles", [&] { return SetSpeakerAngles(angles, 3, 40); }, 1, 43,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSpeakerAngles>(m);
             ASSERT_NE(r.pAngles, angles);
             EXPECT_EQ(memcmp(r.pAngles, angles, sizeof(angles)), 0);
             EXPECT_EQ(r.count, 3u);
             EXPECT_EQ(r.heightAngle, 40.0f);
             EXPECT_EQ(r.deviceType, 16u);
             EXPECT_EQ(r.outputID, 0u);
         }},
        {"StartOutputCapture null", [] { return StartOutputCapture(nullptr); }, 31, -1, {}},
        {"StartOutputCapture", [] { return StartOutputCapture(L"capture.wav"); }, 1, 38,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(std::wstring(As<AuMsgOutputCapture>(m).pFileName), L"capture.wav");
         }},
        {"StopOutputCapture", [] { return StopOutputCapture(); }, 1, 38,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgOutputCapture>(m).pFileName, nullptr); }},
        {"AddOutputCaptureMarker empty", [] { return AddOutputCaptureMarker(""); }, 31, -1, {}},
        {"AddOutputCaptureMarker null", [] { return AddOutputCaptureMarker(nullptr); }, 31, -1, {}},
        {"AddOutputCaptureMarker", [] { return AddOutputCaptureMarker("door"); }, 1, 39,
         [](const AuQueuedMsg& m, i64) { EXPECT_STREQ(As<AuMsgOutputCaptureMarker>(m).pText, "door"); }},
        {"SetBusEffect", [] { return SetBusEffect(7u, 1, 99); }, 1, 40,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetEffect>(m);
             EXPECT_EQ(r.nodeID, 7u);
             EXPECT_EQ(r.slot, 1u);
             EXPECT_EQ(r.effectID, 99u);
             EXPECT_EQ(r.isBus, 1u);
         }},
        {"SetBusEffect null name", [&] { return SetBusEffect(nullName, 1, 99); }, 15, -1, {}},
        {"SetBusEffect wide name", [] { return SetBusEffect(L"Named", 2, 3); }, 1, 40,
         [&](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgSetEffect>(m).nodeID, named); }},
        {"SetActorMixerEffect", [] { return SetActorMixerEffect(8, 0, 5); }, 1, 40,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgSetEffect>(m).isBus, 0u); }},
        {"SetMixer", [] { return SetMixer(7u, 99); }, 1, 41,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetMixer>(m);
             EXPECT_EQ(r.nodeID, 7u);
             EXPECT_EQ(r.mixerID, 99u);
             EXPECT_EQ(r.isBus, 1u);
         }},
        {"SetMixer empty name", [] { return SetMixer("", 1); }, 1, 41,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgSetMixer>(m).nodeID, kEmptyNameID); }},
        {"SetMixer null name", [&] { return SetMixer(nullWide, 1); }, 15, -1, {}},
        {"SetRandomSeed", [] { return (SetRandomSeed(42), 1); }, 1, 46,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgRandomSeed>(m).seed, 42u); }},
        {"PostTrigger", [] { return PostTrigger(5u, 9); }, 1, 10,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgTrigger>(m).gameObjID, 9u);
             EXPECT_EQ(As<AuMsgTrigger>(m).triggerID, 5u);
         }},
        {"PostTrigger empty name", [] { return PostTrigger("", 9); }, 1, 10,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgTrigger>(m).triggerID, kEmptyNameID); }},
        {"PostTrigger null name", [&] { return PostTrigger(nullName, 9); }, 15, -1, {}},
        {"StopAll", [] { return (StopAll(), 1); }, 1, 25,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgStopAll>(m).gameObjID, kAll); }},
        {"StopAll one", [] { return (StopAll(9), 1); }, 1, 25,
         [](const AuQueuedMsg& m, i64) { EXPECT_EQ(As<AuMsgStopAll>(m).gameObjID, 9u); }},
        {"StopPlayingID 0", [] { return (StopPlayingID(0, 100), 1); }, 1, -1, {}},
        {"StopPlayingID", [] { return (StopPlayingID(77, -5, AuCurveInterpolation_EaseInQuad), 1); }, 1, 30,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgStopPlayingID>(m);
             EXPECT_EQ(r.playingID, 77u);
             EXPECT_EQ(r.transitionMs, -5);
             EXPECT_EQ(r.curve, AuCurveInterpolation_EaseInQuad);
         }},
        {"PostEvent unknown", [] { return PostEvent(kEventID + 1, 9); }, 0, -1, {}},
        {"PostEvent null name", [&] { return PostEvent(nullName, 9); }, 0, -1, {}},
        {"PostEvent sources without array",
         [] { return PostEvent(kEventID, 9, 0, nullptr, nullptr, 1, nullptr); },
         0,
         -1,
         {}},
        {"PostEvent", [&] { return PostEvent(kEventID, 9, 0, nullptr, nullptr, 1, &external, 55); },
         std::nullopt, 1,
         [&](const AuQueuedMsg& m, i64 id) {
             const auto& r = As<AuMsgEvent>(m);
             EXPECT_EQ(r.head.gameObjID, 9u);
             EXPECT_EQ(r.head.playingID, static_cast<u32>(id));
             EXPECT_EQ(r.head.customParam, 55u);
             EXPECT_EQ(r.pEvent, m_event);
             ASSERT_NE(r.head.pExternalSources, nullptr);
             ASSERT_EQ(r.head.pExternalSources->Count(), 1u);
             const AuExternalSourceInfo& copy = (*r.head.pExternalSources)[0];
             EXPECT_EQ(copy.iExternalSrcCookie, 7u);
             EXPECT_NE(copy.szFile, external.szFile);
             EXPECT_EQ(std::wstring(copy.szFile), L"x.wav");
             EXPECT_TRUE(m_playing.IsLive(static_cast<u32>(id)));
         }},
        {"ExecuteActionOnEvent unknown",
         [] { return ExecuteActionOnEvent(kEventID + 1, AuActionOnEventType_Stop); },
         2,
         -1,
         {}},
        {"ExecuteActionOnEvent",
         [] {
             return ExecuteActionOnEvent(kEventID, AuActionOnEventType_Pause, 9, 100,
                                         AuCurveInterpolation_SmoothS, 77);
         },
         1, 31,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgEventAction>(m);
             EXPECT_EQ(r.pEvent, m_event);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.actionKind, 1u);
             EXPECT_EQ(r.transitionMs, 100);
             EXPECT_EQ(r.curve, AuCurveInterpolation_SmoothS);
             EXPECT_EQ(r.playingID, 77u);
         }},
        {"SeekOnEvent unknown", [] { return SeekOnEvent(kEventID + 1, 9, 10); }, 2, -1, {}},
        {"SeekOnEvent ms", [] { return SeekOnEvent(kEventID, 9, 1500, true, 3); }, 1, 36,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSeek>(m);
             EXPECT_EQ(r.position.ms, 1500);
             EXPECT_FALSE(r.isFraction);
             EXPECT_TRUE(r.snapToMarker);
             EXPECT_EQ(r.playingID, 3u);
         }},
        {"SeekOnEvent fraction", [] { return SeekOnEvent(kEventID, 9, 0.25f); }, 1, 36,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSeek>(m);
             EXPECT_EQ(r.position.fraction, 0.25f);
             EXPECT_TRUE(r.isFraction);
             EXPECT_FALSE(r.snapToMarker);
         }},
        {"PlaySourcePlugin", [] { return PlaySourcePlugin(100, 64, 9); }, std::nullopt, 37,
         [](const AuQueuedMsg& m, i64 id) {
             const auto& r = As<AuMsgSourcePlugin>(m);
             EXPECT_EQ(r.head.gameObjID, 9u);
             EXPECT_EQ(r.head.playingID, static_cast<u32>(id));
             EXPECT_EQ(r.head.pExternalSources, nullptr);
             EXPECT_EQ(r.pluginID, 100u);
             EXPECT_EQ(r.companyID, 64u);
             EXPECT_EQ(r.stop, 0u);
         }},
        {"StopSourcePlugin", [] { return StopSourcePlugin(100, 64, 55); }, 1, 37,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSourcePlugin>(m);
             EXPECT_EQ(r.head.gameObjID, kAll);
             EXPECT_EQ(r.head.playingID, 55u);
             EXPECT_EQ(r.stop, 1u);
         }},
        {"SetState none", [&] { return SetState(1u, none); }, 1, 7,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetState>(m);
             EXPECT_EQ(r.groupID, 1u);
             EXPECT_EQ(r.stateID, 0u);
             EXPECT_FALSE(r.flagA);
             EXPECT_FALSE(r.flagB);
         }},
        {"SetState names", [] { return SetState("Named", "none"); }, 1, 7,
         [&](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgSetState>(m).groupID, named);
             EXPECT_EQ(As<AuMsgSetState>(m).stateID, 0u);
         }},
        {"SetState null name", [&] { return SetState(nullName, "x"); }, 15, -1, {}},
        {"SetStateInternal", [] { return SetStateInternal(1, 2, true, false); }, 1, 7,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_TRUE(As<AuMsgSetState>(m).flagA);
             EXPECT_FALSE(As<AuMsgSetState>(m).flagB);
         }},
        {"SetSwitch", [] { return SetSwitch(3u, 4u, 9); }, 1, 8,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetSwitch>(m);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.groupID, 3u);
             EXPECT_EQ(r.stateID, 4u);
         }},
        {"SetSwitch empty group", [] { return SetSwitch("", "Named", 9); }, 1, 8,
         [&](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgSetSwitch>(m).groupID, kEmptyNameID);
             EXPECT_EQ(As<AuMsgSetSwitch>(m).stateID, named);
         }},
        {"SetSwitch null state", [&] { return SetSwitch(L"g", nullWide, 9); }, 15, -1, {}},
        {"SetRTPCValue", [] { return SetRTPCValue(5u, 0.5f, 9, 0, AuCurveInterpolation_EaseOutSine, false); },
         1, 2,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetRTPC>(m);
             EXPECT_EQ(r.paramID, 5u);
             EXPECT_EQ(r.value, 0.5f);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.playingID, 0u);
         }},
        {"SetRTPCValue bypass",
         [] { return SetRTPCValue(5u, 0.5f, 9, 0, AuCurveInterpolation_EaseOutSine, true); }, 1, 3,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetRTPCWithTransition>(m);
             EXPECT_EQ(r.transitionMs, 0);
             EXPECT_EQ(r.curve, AuCurveInterpolation_EaseOutSine);
             EXPECT_TRUE(r.bypass);
         }},
        {"SetRTPCValue timed NaN", [&] { return SetRTPCValue(5u, nan, kAll, -20); }, 1, 3,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetRTPCWithTransition>(m);
             EXPECT_TRUE(std::isnan(r.value));
             EXPECT_EQ(r.gameObjID, kAll);
             EXPECT_EQ(r.transitionMs, -20);
             EXPECT_FALSE(r.bypass);
         }},
        {"SetRTPCValue null name", [&] { return SetRTPCValue(nullName, 1.0f); }, 15, -1, {}},
        {"SetRTPCValueByPlayingID ended",
         [] { return SetRTPCValueByPlayingID(5u, 1.0f, 999999); },
         31,
         -1,
         {}},
        {"SetRTPCValueByPlayingID", [&] { return SetRTPCValueByPlayingID(L"Named", 1.0f, live); }, 1, 2,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgSetRTPC>(m);
             EXPECT_EQ(r.paramID, named);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.playingID, live);
         }},
        {"ResetRTPCValue", [] { return ResetRTPCValue(5u, 9); }, 1, 5,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgResetRTPC>(m);
             EXPECT_EQ(r.paramID, 5u);
             EXPECT_EQ(r.gameObjID, 9u);
             EXPECT_EQ(r.playingID, 0u);
         }},
        {"ResetRTPCValue timed", [] { return ResetRTPCValue(5u, 9, 30, AuCurveInterpolation_EaseInCubic); },
         1, 6,
         [](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgResetRTPCWithTransition>(m);
             EXPECT_EQ(r.transitionMs, 30);
             EXPECT_EQ(r.curve, AuCurveInterpolation_EaseInCubic);
         }},
        {"ResetRTPCValue bypass",
         [] { return ResetRTPCValue("Named", 9, 0, AuCurveInterpolation_Linear, true); }, 1, 6,
         [](const AuQueuedMsg& m, i64) { EXPECT_TRUE(As<AuMsgResetRTPCWithTransition>(m).bypass); }},
        {"AddPlayerMotionDevice player 4",
         [] { return AU::MotionEngine::AddPlayerMotionDevice(4, 0, 406); },
         2,
         -1,
         {}},
        {"AddPlayerMotionDevice",
         [&] { return AU::MotionEngine::AddPlayerMotionDevice(1, 0, 0x10196, initParams); }, 1, 27,
         [&](const AuQueuedMsg& m, i64) {
             const auto& r = As<AuMsgAddRemoveOutput>(m);
             EXPECT_EQ(r.pInitParams, initParams);
             EXPECT_EQ(r.typeOrDevice, 406u);
             EXPECT_EQ(r.idOrPlayer, 1u);
             EXPECT_TRUE(r.add);
         }},
        {"RemovePlayerMotionDevice player 4",
         [] { return (AU::MotionEngine::RemovePlayerMotionDevice(4, 0, 406), 1); },
         1,
         -1,
         {}},
        {"RemovePlayerMotionDevice",
         [] { return (AU::MotionEngine::RemovePlayerMotionDevice(3, 0, 406), 1); }, 1, 27,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgAddRemoveOutput>(m).idOrPlayer, 3u);
             EXPECT_FALSE(As<AuMsgAddRemoveOutput>(m).add);
         }},
        {"SetPlayerListener player 4",
         [] { return (AU::MotionEngine::SetPlayerListener(4, 0), 1); },
         1,
         -1,
         {}},
        {"SetPlayerListener listener 8",
         [] { return (AU::MotionEngine::SetPlayerListener(0, 8), 1); },
         1,
         -1,
         {}},
        {"SetPlayerListener", [] { return (AU::MotionEngine::SetPlayerListener(3, 7), 1); }, 1, 28,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgMotionPlayerListener>(m).player, 3u);
             EXPECT_EQ(As<AuMsgMotionPlayerListener>(m).listener, 7u);
         }},
        {"SetPlayerVolume player 4", [] { return (AU::MotionEngine::SetPlayerVolume(4, -3), 1); }, 1, -1, {}},
        {"SetPlayerVolume", [] { return (AU::MotionEngine::SetPlayerVolume(2, -3), 1); }, 1, 29,
         [](const AuQueuedMsg& m, i64) {
             EXPECT_EQ(As<AuMsgMotionPlayerVolume>(m).volume, -3.0f);
             EXPECT_EQ(As<AuMsgMotionPlayerVolume>(m).player, 2u);
         }},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const i64 result = row.call();
        if (row.result)
            EXPECT_EQ(result, *row.result);
        else
            EXPECT_NE(result, 0);
        const std::vector<const AuQueuedMsg*> records = Inspect(m_mgr);
        if (row.type < 0) {
            EXPECT_TRUE(records.empty());
        } else {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0]->type, row.type);
            EXPECT_EQ(records[0]->size % 8, 0u);
            EXPECT_GE(records[0]->size, sizeof(AuQueuedMsg) + 4);
            if (row.check) row.check(*records[0], result);
        }
        Drain();
    }
    m_playing.RemovePendingAction(live);
}

TEST_F(ExportsTest, PlayingIDsIncreaseStrictly) {
    const AuPlayingID first = PostEvent(kEventID, 9);
    const AuPlayingID second = PostEvent(kEventID, 9);
    EXPECT_NE(first, 0u);
    EXPECT_GT(second, first);
}

TEST_F(ExportsTest, PlayingIDsSkipZeroWhenTheyWrap) {
    const AuPlayingID before = g_PlayingID.load();
    g_PlayingID.store(0xFFFFFFFF);
    EXPECT_EQ(PlaySourcePlugin(1, 2, 9), 1u);
    g_PlayingID.store(before);
}

// Takes every block of the pool but the given sizes, which stay free for the allocations the
// test wants to succeed; everything is given back at the end.
class PoolFiller {
public:
    PoolFiller(AuMemPoolId pool, std::vector<u32> keepFree) : m_pool(pool) {
        std::vector<void*> kept;
        for (u32 size : keepFree) {
            kept.push_back(AU::MemoryMgr::Malloc(pool, size));
            // A spacer keeps the kept blocks from merging.
            m_blocks.push_back(AU::MemoryMgr::Malloc(pool, 16));
        }
        for (u32 size : {4096u, 256u, 16u})
            while (void* block = AU::MemoryMgr::Malloc(pool, size))
                m_blocks.push_back(block);
        for (void* block : kept)
            AU::MemoryMgr::Free(pool, block);
    }
    ~PoolFiller() {
        for (void* block : m_blocks)
            AU::MemoryMgr::Free(m_pool, block);
    }

private:
    AuMemPoolId m_pool;
    std::vector<void*> m_blocks;
};

TEST_F(ExportsTest, AnEventThePlayingIDManagerRefusesIsWithdrawnAndReleased) {
    const AuExternalSourceInfo external{7, 1, L"x.wav", nullptr, 0, 0};
    const u32 released = au_test::g_released.load();
    {
        // Room for the source array and its copied name, none for the playing-ID record.
        PoolFiller filler(g_DefaultPoolId, {8 + sizeof(AuExternalSourceInfo), 6 * sizeof(wchar_t)});
        EXPECT_EQ(PostEvent(kEventID, 9, 0, nullptr, nullptr, 1, &external), 0u);
        const std::vector<const AuQueuedMsg*> records = Inspect(m_mgr);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->type, AuQueuedMsgType_Cancelled);
    }
    EXPECT_EQ(au_test::g_released.load(), released + 1);
    EXPECT_EQ(m_playing.NumRecords(), 0u);
    Drain();
}

TEST_F(ExportsTest, CopiesThatCannotBeMadeAfterReservingWithdrawTheRecord) {
    const f32 volumes[2] = {-3, -6};
    const f32 angles[4] = {30, 60, 110, 150};
    {
        PoolFiller filler(g_LEngineDefaultPoolId, {});
        EXPECT_EQ(SetListenerSpatialization(1, true, AuChannelConfig::Anonymous(2), volumes),
                  AuResultNoMemory);
    }
    {
        PoolFiller filler(g_DefaultPoolId, {});
        EXPECT_EQ(SetSpeakerAngles(angles, 4, 0), AuResultNoMemory);
    }
    const std::vector<const AuQueuedMsg*> records = Inspect(m_mgr);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->type, AuQueuedMsgType_Cancelled);
    EXPECT_EQ(records[1]->type, AuQueuedMsgType_Cancelled);
    const u64 executed = m_mgr.ExecutedMsgCount();
    Drain();
    EXPECT_EQ(m_mgr.ExecutedMsgCount(), executed + 3); // two skipped, one end of frame
}

TEST_F(ExportsTest, VolumeThresholdAndVoiceLimitPriorities) {
    AuEngineSettings::Reset();
    EXPECT_EQ(AuEngineSettings::VolumeThresholdDb(), -96.3f);
    EXPECT_EQ(AuEngineSettings::VolumeThresholdLinear(), 1.0f / 65536.0f);

    struct Case {
        const char* name;
        std::function<AURESULT()> call;
        AURESULT result;
        f32 db;
    };
    const Case cases[] = {
        {"below the range", [] { return SetVolumeThreshold(-100.0f); }, AuResultInvalidParameter, -96.3f},
        {"above 0", [] { return SetVolumeThreshold(0.5f); }, AuResultInvalidParameter, -96.3f},
        {"NaN", [] { return SetVolumeThreshold(std::nanf("")); }, AuResultInvalidParameter, -96.3f},
        {"bank at 2", [] { return SetVolumeThresholdInternal(-50.0f, AU_SETTING_PRIORITY_BANK); },
         AuResultSuccess, -50.0f},
        {"initial 3 after the bank", [] { return SetVolumeThresholdInternal(-40.0f, 3); }, AuResultSuccess,
         -50.0f},
        {"game after the bank", [] { return SetVolumeThreshold(-60.0f); }, AuResultSuccess, -60.0f},
        {"bank after the game", [] { return SetVolumeThresholdInternal(-30.0f, AU_SETTING_PRIORITY_BANK); },
         AuResultSuccess, -60.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.name;
        EXPECT_EQ(AuEngineSettings::VolumeThresholdDb(), c.db) << c.name;
    }
    ASSERT_EQ(SetVolumeThreshold(-96.3f), AuResultSuccess);
    const f32 exact = static_cast<f32>(std::pow(10.0, -96.3f / 20.0));
    EXPECT_EQ(AuEngineSettings::VolumeThresholdLinear(), std::max(exact, AuDbToLinear(-96.3f)));
    EXPECT_NEAR(AuEngineSettings::VolumeThresholdLinear(), 1.531e-5f, 0.001e-5f);
    EXPECT_NE(AuEngineSettings::VolumeThresholdLinear(), 1.0f / 65536.0f);

    EXPECT_EQ(SetMaxNumVoicesLimit(0), AuResultInvalidParameter);
    EXPECT_EQ(AuEngineSettings::MaxNumVoices(), AU_DEFAULT_MAX_NUM_VOICES);
    EXPECT_EQ(SetMaxNumVoicesLimitInternal(40, AU_SETTING_PRIORITY_BANK), AuResultSuccess);
    EXPECT_EQ(AuEngineSettings::MaxNumVoices(), 40u);
    EXPECT_EQ(SetMaxNumVoicesLimit(20), AuResultSuccess);
    EXPECT_EQ(SetMaxNumVoicesLimitInternal(30, AU_SETTING_PRIORITY_BANK), AuResultSuccess);
    EXPECT_EQ(AuEngineSettings::MaxNumVoices(), 20u);
    AuEngineSettings::Reset();
}

std::vector<int>* g_calls = nullptr;
void First(bool last) {
    g_calls->push_back(last ? -1 : 1);
}
void Second(bool last) {
    g_calls->push_back(last ? -2 : 2);
}

TEST_F(ExportsTest, BehavioralExtensionsRunNewestFirst) {
    std::vector<int> calls;
    g_calls = &calls;
    EXPECT_EQ(RemoveBehavioralExtension(First), AuResultFail);
    ASSERT_EQ(AddBehavioralExtension(First), AuResultSuccess);
    ASSERT_EQ(AddBehavioralExtension(Second), AuResultSuccess);
    AuSoundEngineInternal::CallGlobalCallbacks(false);
    EXPECT_EQ(calls, (std::vector<int>{2, 1}));
    EXPECT_EQ(RemoveBehavioralExtension(Second), AuResultSuccess);
    EXPECT_EQ(RemoveBehavioralExtension(Second), AuResultFail);
    EXPECT_EQ(UnregisterGlobalCallback(First), AuResultSuccess);
    calls.clear();
    AuSoundEngineInternal::CallGlobalCallbacks(false);
    EXPECT_TRUE(calls.empty());
    g_calls = nullptr;
}

} // namespace
