#include "core/AuRegistryMsgHandlers.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMgr.h"

#include <AU/MemoryMgr.h>

namespace {

constexpr u32 kAllObjects = 0xFFFFFFFF;

// Every handler below runs on the audio thread with g_csMain held. [audio thread]
template <class Payload, void (*Run)(const Payload&)> void Execute(void*, const AuQueuedMsg& msg) noexcept {
    if (g_pRegistryMgr) Run(msg.As<Payload>());
}

void Register(const AuMsgRegisterGameObj& p) noexcept {
    g_pRegistryMgr->RegisterObject(p.gameObjID, p.listenerMask);
}

void Unregister(const AuMsgUnregisterGameObj& p) noexcept {
    if (p.gameObjID == kAllObjects)
        g_pRegistryMgr->UnregisterAll();
    else
        g_pRegistryMgr->UnregisterObject(p.gameObjID);
}

void Position(const AuMsgGameObjPosition& p) noexcept {
    g_pRegistryMgr->SetPosition(p.gameObjID, &p.position, 1, AuMultiPositionType_SingleSource);
}

void MultiplePositions(const AuMsgMultiplePositions& p) noexcept {
    g_pRegistryMgr->SetPosition(p.gameObjID, p.count ? p.Positions() : nullptr, p.count, p.type);
}

void ActiveListeners(const AuMsgActiveListeners& p) noexcept {
    g_pRegistryMgr->SetActiveListeners(p.gameObjID, p.listenerMask);
}

void AuxSends(const AuMsgAuxSends& p) noexcept {
    g_pRegistryMgr->SetGameObjectAuxSendValues(p.gameObjID, p.values, p.count);
}

void OutputBusVolume(const AuMsgOutputBusVolume& p) noexcept {
    g_pRegistryMgr->SetGameObjectOutputBusVolume(p.gameObjID, p.volume);
}

void ObstructionOcclusion(const AuMsgObstructionOcclusion& p) noexcept {
    g_pRegistryMgr->SetObjectObstructionAndOcclusion(p.gameObjID, p.listener, p.obstruction, p.occlusion);
}

void AttenuationScaling(const AuMsgAttenuationScaling& p) noexcept {
    g_pRegistryMgr->SetAttenuationScalingFactor(p.gameObjID, p.factor);
}

void ListenerPosition(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgListenerPosition>();
    CAuListener::SetPosition(p.listener, p.position);
}

void FreeVolumes(void*, const AuQueuedMsg& msg) noexcept {
    f32* volumes = msg.As<AuMsgListenerSpatialization>().pVolumes;
    if (volumes) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, volumes);
}

void ListenerSpatialization(void* context, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgListenerSpatialization>();
    CAuListener::SetSpatialization(p.listener, p.spatialized, p.channelConfig,
                                   p.volumesGiven ? p.pVolumes : nullptr);
    FreeVolumes(context, msg);
}

void ListenerPipeline(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgListenerPipeline>();
    CAuListener::SetPipeline(p.listener, p.audio, p.motion);
}

void ListenerScaling(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgListenerScaling>();
    CAuListener::SetScalingFactor(p.listener, p.factor);
}

} // namespace

void AuRegisterObjectMsgHandlers(CAuAudioMgr& audioMgr) {
    audioMgr.SetMsgHandler(AuQueuedMsgType_RegisterGameObj, {Execute<AuMsgRegisterGameObj, Register>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_UnregisterGameObj, {Execute<AuMsgUnregisterGameObj, Unregister>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_GameObjPosition, {Execute<AuMsgGameObjPosition, Position>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_MultiplePositions,
                           {Execute<AuMsgMultiplePositions, MultiplePositions>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ActiveListeners, {Execute<AuMsgActiveListeners, ActiveListeners>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_AuxSends, {Execute<AuMsgAuxSends, AuxSends>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_OutputBusVolume, {Execute<AuMsgOutputBusVolume, OutputBusVolume>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ObstructionOcclusion,
                           {Execute<AuMsgObstructionOcclusion, ObstructionOcclusion>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_AttenuationScaling,
                           {Execute<AuMsgAttenuationScaling, AttenuationScaling>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ListenerPosition, {ListenerPosition});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ListenerSpatialization, {ListenerSpatialization, FreeVolumes});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ListenerPipeline, {ListenerPipeline});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ListenerScaling, {ListenerScaling});
}
