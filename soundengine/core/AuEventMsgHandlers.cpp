#include "core/AuEventMsgHandlers.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuExternalSources.h"
#include "core/AuLog.h"
#include "core/AuMsgPayloads.h"
#include "core/AuPendingAction.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuEvent.h"

namespace {

constexpr u32 kAllObjects = 0xFFFFFFFF;
constexpr u16 kStopAll = 0x0104;
constexpr u16 kStopAllOfObject = 0x0105;

// Every handler below runs on the audio thread with g_csMain held. [audio thread]

// The message's object with a reference; false when it names one that is not registered.
bool LookUpObject(u32 gameObjID, CAuRegisteredObj*& gameObj) {
    gameObj = nullptr;
    if (gameObjID == kAllObjects) return true;
    gameObj = g_pRegistryMgr ? g_pRegistryMgr->GetObjAndAddref(gameObjID) : nullptr;
    return gameObj != nullptr;
}

void ReleaseObject(CAuRegisteredObj* gameObj) {
    if (gameObj) gameObj->Release();
}

CAuEvent* EventOf(CAuIndexable* event) {
    return static_cast<CAuEvent*>(event);
}

// What message 1 holds: the post's pending count, the event, the external sources.
void DropEvent(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgEvent>();
    if (g_pPlayingMgr) g_pPlayingMgr->RemovePendingAction(p.head.playingID);
    p.pEvent->Release();
    if (p.head.pExternalSources) p.head.pExternalSources->Release();
}

// One pending action per action of the event, in the event's order. Actions scoped to the
// posting object are skipped when it is not registered; the others run without an object.
void RunEvent(void* context, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgEvent>();
    CAuRegisteredObj* gameObj = g_pRegistryMgr ? g_pRegistryMgr->GetObjAndAddref(p.head.gameObjID) : nullptr;
    AuCustomPlayParams params;
    for (u32 i = 0; i < 3; ++i)
        params.customWords[i] = p.head.customWords[i];
    params.pExternalSources = p.head.pExternalSources;
    params.playingID = p.head.playingID;
    for (CAuAction* action : EventOf(p.pEvent)->Actions()) {
        const bool scoped = (action->ActionType() & 1) != 0;
        if (scoped && !gameObj) continue;
        CAuPendingAction* record =
            CAuPendingAction::Create(action, scoped ? gameObj : nullptr, params, p.head.customParam);
        if (!record) {
            AuLog(AuLogLevel::Error, "event %u: no memory for action %u", p.pEvent->key, action->key);
            continue;
        }
        g_pAudioMgr->EnqueueOrExecute(record);
    }
    ReleaseObject(gameObj);
    DropEvent(context, msg);
}

// A stop action made for the occasion, run at once with a record of its own.
void StopAll(void*, const AuQueuedMsg& msg) noexcept {
    CAuRegisteredObj* gameObj;
    if (!LookUpObject(msg.As<AuMsgStopAll>().gameObjID, gameObj)) return;
    if (CAuAction* action = CreateActionByType(gameObj ? kStopAllOfObject : kStopAll, 0)) {
        if (CAuPendingAction* record = CAuPendingAction::Create(action, gameObj, AuCustomPlayParams{}, 0)) {
            action->Execute(*record);
            CAuPendingAction::Destroy(record);
        }
        action->Release();
    }
    ReleaseObject(gameObj);
}

void StopPlayingID(void*, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgStopPlayingID>();
    g_pAudioMgr->RemovePendingItemsOfPlayingID(p.playingID);
    const AuActionExec exec =
        MakeActionExec(AuActionExec_Stop, nullptr, p.playingID, p.transitionMs, p.curve);
    for (CAuBus* bus : {CAuBus::GetPrimaryMasterBus(), CAuBus::GetSecondaryMasterBus()}) {
        if (!bus) continue;
        bus->ExecuteAction(exec);
        bus->Release();
    }
}

template <class Payload> void DropEventOf(void*, const AuQueuedMsg& msg) noexcept {
    msg.As<Payload>().pEvent->Release();
}

// A play action acts on what its target plays; any other action on its own pending records.
void EventAction(void* context, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgEventAction>();
    CAuRegisteredObj* gameObj;
    if (LookUpObject(p.gameObjID, gameObj)) {
        for (CAuAction* action : EventOf(p.pEvent)->Actions()) {
            if (action->ActionType() == AU_ACTION_PLAY) {
                if (CAuNodeBase* node = action->GetTargetNode()) {
                    ExecuteActionOnNode(node, gameObj, p.actionKind, p.transitionMs, p.curve, p.playingID);
                    node->Release();
                }
                continue;
            }
            switch (p.actionKind) {
            case AuActionExec_Stop:
            case AuActionExec_Break:
                g_pAudioMgr->StopPendingItemsOfActionAndPlayingID(action->key, p.playingID);
                break;
            case AuActionExec_Pause:
                g_pAudioMgr->PausePendingItemsOfActionAndPlayingID(action->key, p.playingID);
                break;
            case AuActionExec_Resume:
                g_pAudioMgr->ResumePausedItemsOfActionAndPlayingID(action->key, p.playingID);
                break;
            default:
                break;
            }
        }
        ReleaseObject(gameObj);
    }
    DropEventOf<AuMsgEventAction>(context, msg);
}

// The targets of the event's play actions that are not busses seek.
void Seek(void* context, const AuQueuedMsg& msg) noexcept {
    const auto& p = msg.As<AuMsgSeek>();
    CAuRegisteredObj* gameObj;
    if (LookUpObject(p.gameObjID, gameObj)) {
        AuActionExec exec = MakeActionExec(
            AuActionExec_Seek, gameObj, p.playingID, 0, AuCurveInterpolation_Linear,
            (p.isFraction ? AU_EXEC_SEEK_PERCENT : 0u) | (p.snapToMarker ? AU_EXEC_SEEK_SNAP : 0u));
        if (p.isFraction)
            exec.seekPosition = p.position.fraction;
        else
            exec.seekMs = p.position.ms;
        for (CAuAction* action : EventOf(p.pEvent)->Actions()) {
            if (action->ActionType() != AU_ACTION_PLAY || (action->Flags() & AU_ACTION_TARGET_IS_BUS))
                continue;
            if (CAuNodeBase* node = action->GetTargetNode()) {
                node->ExecuteAction(exec);
                node->Release();
            }
        }
        ReleaseObject(gameObj);
    }
    DropEventOf<AuMsgSeek>(context, msg);
}

} // namespace

void AuRegisterEventMsgHandlers(CAuAudioMgr& audioMgr) {
    audioMgr.SetMsgHandler(AuQueuedMsgType_Event, {RunEvent, DropEvent});
    audioMgr.SetMsgHandler(AuQueuedMsgType_StopAll, {StopAll});
    audioMgr.SetMsgHandler(AuQueuedMsgType_StopPlayingID, {StopPlayingID});
    audioMgr.SetMsgHandler(AuQueuedMsgType_EventAction, {EventAction, DropEventOf<AuMsgEventAction>});
    audioMgr.SetMsgHandler(AuQueuedMsgType_Seek, {Seek, DropEventOf<AuMsgSeek>});
}
