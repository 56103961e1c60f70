#include "core/AuAudioMgr.h"
#include "core/AuLog.h"
#include "core/AuMsgPayloads.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuNodeBase.h"

namespace {

// SetBusEffect and SetActorMixerEffect: the exported interface writes with a stamp above the
// bank's, so a bank read later does not undo what the game set.
void SetEffect(void*, const AuQueuedMsg& msg) {
    const AuMsgSetEffect& payload = msg.As<AuMsgSetEffect>();
    const bool isBus = payload.isBus == 1;
    auto* node = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(payload.nodeID, isBus));
    if (!node) {
        AuLog(AuLogLevel::Warning, "effect for %s %u: not loaded", isBus ? "bus" : "node", payload.nodeID);
        return;
    }
    const AURESULT result = node->SetEffect(payload.slot, payload.effectID, true, AU_EFFECT_STAMP_API);
    if (result != AuResultSuccess)
        AuLog(AuLogLevel::Warning, "effect slot %u of %u: result %d", payload.slot, payload.nodeID, result);
    node->Release();
}

} // namespace

void AuInstallNodeMsgHandlers(CAuAudioMgr& audio) {
    audio.SetMsgHandler(AuQueuedMsgType_SetEffect, AuMsgHandler{&SetEffect, nullptr, nullptr});
    AuInstallBusMsgHandlers(audio);
}
