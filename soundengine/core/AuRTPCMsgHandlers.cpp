#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMgr.h"
#include "core/AuRegistryMsgHandlers.h"
#include "parameters/AuRTPCMgr.h"

namespace {

constexpr u32 kGlobal = 0xFFFFFFFF;

// Runs `apply` with the message's object: none for the global ID, else the registered object,
// held for the call. An object the registry does not know drops the message. [audio thread]
template <class Apply> void WithObject(u32 gameObjID, Apply apply) noexcept {
    if (!g_pRTPCMgr) return;
    if (gameObjID == kGlobal) {
        apply(nullptr);
        return;
    }
    CAuRegisteredObj* object = g_pRegistryMgr ? g_pRegistryMgr->GetObjAndAddref(gameObjID) : nullptr;
    if (!object) return;
    apply(object);
    object->Release();
}

// The global key takes no playing ID: only an object's sounds have one.
AuPlayingID PlayingIDOf(CAuRegisteredObj* object, AuPlayingID playingID) noexcept {
    return object ? playingID : 0;
}

// Every handler below runs on the audio thread with g_csMain held; the records hold no
// references, so none needs a drop. [audio thread]
void SetRTPC(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSetRTPC>();
    WithObject(p.gameObjID, [&](CAuRegisteredObj* object) {
        g_pRTPCMgr->SetRTPCInternal(p.paramID, p.value, object, PlayingIDOf(object, p.playingID),
                                    TransParamsBase{});
    });
}

void SetRTPCWithTransition(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSetRTPCWithTransition>();
    const TransParamsBase transition{p.transitionMs, p.curve, p.bypass};
    WithObject(p.gameObjID, [&](CAuRegisteredObj* object) {
        g_pRTPCMgr->SetRTPCInternal(p.paramID, p.value, object, PlayingIDOf(object, p.playingID), transition);
    });
}

void ResetRTPC(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgResetRTPC>();
    WithObject(p.gameObjID, [&](CAuRegisteredObj* object) {
        g_pRTPCMgr->ResetRTPCValueByObject(p.paramID, object, PlayingIDOf(object, p.playingID),
                                           TransParamsBase{});
    });
}

void ResetRTPCWithTransition(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgResetRTPCWithTransition>();
    const TransParamsBase transition{p.transitionMs, p.curve, p.bypass};
    WithObject(p.gameObjID, [&](CAuRegisteredObj* object) {
        g_pRTPCMgr->ResetRTPCValueByObject(p.paramID, object, PlayingIDOf(object, p.playingID), transition);
    });
}

} // namespace

void AuRegisterRTPCMsgHandlers(CAuAudioMgr& audioMgr) {
    audioMgr.SetMsgHandler(AuQueuedMsgType_SetRTPC, {SetRTPC});
    audioMgr.SetMsgHandler(AuQueuedMsgType_SetRTPCWithTransition, {SetRTPCWithTransition});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ResetRTPC, {ResetRTPC});
    audioMgr.SetMsgHandler(AuQueuedMsgType_ResetRTPCWithTransition, {ResetRTPCWithTransition});
}
