#include "core/AuGameSyncs.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuMsgPayloads.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuNodeBase.h"
#include "voices/AuMixer.h"

namespace {

constexpr u32 kGlobal = 0xFFFFFFFF;

class CAuGameObjectLinks final : public IAuGameObjectLinks {
public:
    void ForgetObject(const AuModifiedNode& item, CAuRegisteredObj& object) noexcept override {
        if (!g_pIndex) return;
        auto* node = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(item.nodeID, item.isBus != 0));
        if (!node) return;
        node->ForgetObject(&object);
        node->Release();
    }
    void RemoveSwitchValues(CAuRegisteredObj& object) noexcept override {
        if (g_pSwitchMgr) g_pSwitchMgr->UnregisterGameObject(&object);
    }
    void RemoveModulatorInstances(u32 modulatorID, const AuRTPCKey& key) noexcept override {
        if (g_pModulatorMgr) g_pModulatorMgr->RemoveInstances(modulatorID, key);
    }
    void UpdateActiveListeners(CAuRegisteredObj& object, u32 oldMask, u32 newMask) noexcept override {
        if (pMixer) pMixer->UpdateActiveListeners(&object, oldMask, newMask);
    }

    CAuMixer* pMixer = nullptr;
};

CAuGameObjectLinks s_links;

// Runs `apply` with the registered object, held for the call, or with null for the global ID
// where the message allows it; an object the registry does not know drops the message.
// [audio thread]
template <class Apply> void WithObject(u32 gameObjID, bool globalAllowed, Apply apply) noexcept {
    if (gameObjID == kGlobal && globalAllowed) {
        apply(nullptr);
        return;
    }
    CAuRegisteredObj* object = g_pRegistryMgr ? g_pRegistryMgr->GetObjAndAddref(gameObjID) : nullptr;
    if (!object) return;
    apply(object);
    object->Release();
}

// The handlers run on the audio thread with g_csMain held; the records hold no references.
void SetState(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSetState>();
    if (g_pStateMgr) g_pStateMgr->SetState(p.groupID, p.stateID, p.flagA, p.flagB);
}

void SetSwitch(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSetSwitch>();
    if (!g_pSwitchMgr) return;
    WithObject(p.gameObjID, false,
               [&](CAuRegisteredObj* object) { g_pSwitchMgr->SetSwitch(p.groupID, p.stateID, object); });
}

void Trigger(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgTrigger>();
    if (!g_pStateMgr) return;
    WithObject(p.gameObjID, true,
               [&](CAuRegisteredObj* object) { g_pStateMgr->Trigger(p.triggerID, object); });
}

} // namespace

void AuInstallGameSyncs(CAuBankMgr* bankMgr, CAuMixer& mixer) {
    AuGameSyncSeam::Install(g_pSwitchMgr);
    AuSetStateMembership(g_pStateMgr);
    AuSetTriggerRegistry(g_pStateMgr);
    if (bankMgr) bankMgr->SetGameSyncPreparation(g_pStateMgr);
    s_links.pMixer = &mixer;
    CAuRegistryMgr::SetLinks(&s_links);
}

void AuRemoveGameSyncs(CAuBankMgr* bankMgr) {
    CAuRegistryMgr::SetLinks(nullptr);
    s_links.pMixer = nullptr;
    if (bankMgr) bankMgr->SetGameSyncPreparation(nullptr);
    AuSetTriggerRegistry(nullptr);
    AuSetStateMembership(nullptr);
    AuGameSyncSeam::Install(nullptr);
}

void AuRegisterGameSyncMsgHandlers(CAuAudioMgr& audioMgr) {
    audioMgr.SetMsgHandler(AuQueuedMsgType_SetState, {SetState});
    audioMgr.SetMsgHandler(AuQueuedMsgType_SetSwitch, {SetSwitch});
    audioMgr.SetMsgHandler(AuQueuedMsgType_Trigger, {Trigger});
}
