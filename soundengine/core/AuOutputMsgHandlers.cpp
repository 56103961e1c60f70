#include "core/AuAudioMgr.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMsgHandlers.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"

#include <AU/MemoryMgr.h>

#include <windows.h>

namespace {

// The motion device's ID: its records wait for the motion devices' handler.
constexpr u32 kMotionDeviceID = 406;

// Every handler below runs on the audio thread with g_csMain held. [audio thread]
void SecondaryOutputVolume(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSecondaryOutputVolume>();
    CAuLowerEngine::SetOutputVolume(p.deviceType, p.outputID, p.volume);
}

void AddRemoveOutput(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgAddRemoveOutput>();
    if (p.typeOrDevice == kMotionDeviceID) return;
    if (!p.add) {
        CAuLowerEngine::RemoveSecondaryOutput(p.typeOrDevice, p.idOrPlayer);
        return;
    }
    AuOutputSettings settings;
    CAuLowerEngine::GetDefaultOutputSettings(settings);
    if (CAuLowerEngine::AddSecondaryOutput(settings, p.typeOrDevice, p.idOrPlayer, p.listenerMask, 0) !=
        AuResultSuccess)
        return;
    CAuOutputDevice* device = CAuLowerEngine::FindDevice(p.typeOrDevice, p.idOrPlayer);
    if (device && device->pSink) device->pSink->Start();
}

void FreeCaptureName(void*, const AuQueuedMsg& msg) noexcept {
    wchar_t* name = msg.As<AuMsgOutputCapture>().pFileName;
    if (name) AU::MemoryMgr::Free(g_DefaultPoolId, name);
}

void OutputCapture(void* context, const AuQueuedMsg& msg) noexcept {
    const wchar_t* name = msg.As<AuMsgOutputCapture>().pFileName;
    if (name)
        CAuLowerEngine::StartOutputCapture(name);
    else
        CAuLowerEngine::StopOutputCapture();
    FreeCaptureName(context, msg);
}

void FreeMarker(void*, const AuQueuedMsg& msg) noexcept {
    AU::MemoryMgr::Free(g_DefaultPoolId, msg.As<AuMsgOutputCaptureMarker>().pText);
}

void OutputCaptureMarker(void* context, const AuQueuedMsg& msg) noexcept {
    CAuLowerEngine::AddOutputCaptureMarker(msg.As<AuMsgOutputCaptureMarker>().pText);
    FreeMarker(context, msg);
}

void PanningRule(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgPanningRule>();
    CAuLowerEngine::SetPanningRule(p.deviceType, p.outputID, p.rule);
}

void FreeAngles(void*, const AuQueuedMsg& msg) noexcept {
    AU::MemoryMgr::Free(g_DefaultPoolId, msg.As<AuMsgSpeakerAngles>().pAngles);
}

void SpeakerAngles(void* context, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSpeakerAngles>();
    if (CAuOutputDevice* device = CAuLowerEngine::FindDevice(p.deviceType, p.outputID))
        device->SetSpeakerAngles(p.pAngles, p.count, p.heightAngle);
    FreeAngles(context, msg);
}

void RandomSeed(void*, const AuQueuedMsg& msg) noexcept {
    const u32 seed = msg.As<AuMsgRandomSeed>().seed;
    srand(seed ? seed : static_cast<unsigned int>(_time64(nullptr)));
}

} // namespace

void AuRegisterOutputMsgHandlers(CAuAudioMgr& audioMgr) {
    audioMgr.SetMsgHandler(AuQueuedMsgType_SecondaryOutputVolume, {SecondaryOutputVolume});
    audioMgr.SetMsgHandler(AuQueuedMsgType_AddRemoveOutput, {AddRemoveOutput});
    audioMgr.SetMsgHandler(AuQueuedMsgType_OutputCapture, {OutputCapture, FreeCaptureName});
    audioMgr.SetMsgHandler(AuQueuedMsgType_OutputCaptureMarker, {OutputCaptureMarker, FreeMarker});
    audioMgr.SetMsgHandler(AuQueuedMsgType_PanningRule, {PanningRule});
    audioMgr.SetMsgHandler(AuQueuedMsgType_SpeakerAngles, {SpeakerAngles, FreeAngles});
    audioMgr.SetMsgHandler(AuQueuedMsgType_RandomSeed, {RandomSeed});
}
