// The audio manager's pending and paused actions: scheduling by delay, the per-pass launch, and
// the pause, resume and removal families with their filters.
#include "core/AuAudioMgr.h"
#include "core/AuExternalSources.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuAction.h"
#include "voices/AuVoiceCommands.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <new>

namespace {

bool IsBus(const CAuNodeBase* node) {
    return (node->FlagsB() & AU_NODE_B_IS_BUS) != 0;
}

// The target, its parents, then the bus found first along them and that bus's own ancestors.
template <class Visit> bool AnyInChain(CAuNodeBase* target, Visit visit) {
    CAuNodeBase* bus = nullptr;
    for (CAuNodeBase* node = target; node; node = node->Parent()) {
        if (visit(node)) return true;
        if (!bus) bus = node->Bus();
    }
    for (CAuNodeBase* node = bus; node; node = node->Bus() ? node->Bus() : node->Parent())
        if (visit(node)) return true;
    return false;
}

CAuNodeBase* TargetOf(const CAuAction& action) {
    return g_pIndex ? action.GetTargetNode() : nullptr;
}

bool IsUnder(const CAuAction& action, const CAuNodeBase* node) {
    CAuNodeBase* target = TargetOf(action);
    if (!target) return false;
    const bool found = AnyInChain(target, [node](CAuNodeBase* n) { return n == node; });
    target->Release();
    return found;
}

bool IsExcepted(const AuActionException* exceptions, u32 count, u32 id, bool isBus) {
    for (u32 i = 0; i < count; ++i)
        if (exceptions[i].id == id && (exceptions[i].isBus != 0) == isBus) return true;
    return false;
}

// A target that has gone is judged by the ID and kind its action names.
bool InExceptions(const CAuAction& action, const AuActionException* exceptions, u32 count) {
    if (count == 0) return false;
    CAuNodeBase* target = TargetOf(action);
    if (!target)
        return IsExcepted(exceptions, count, action.TargetID(),
                          (action.Flags() & AU_ACTION_TARGET_IS_BUS) != 0);
    const bool found =
        AnyInChain(target, [&](CAuNodeBase* n) { return IsExcepted(exceptions, count, n->key, IsBus(n)); });
    target->Release();
    return found;
}

bool IsPlay(const CAuAction& action) {
    return action.ActionType() == AU_ACTION_PLAY;
}

CAuActionPlayAndContinue* AsPlayAndContinue(CAuAction* action) {
    return action->ActionType() == AU_ACTION_PLAY_AND_CONTINUE
               ? static_cast<CAuActionPlayAndContinue*>(action)
               : nullptr;
}

// Queued and launched records tell a play-and-continue action only while its state asks for it;
// removed ones always.
void NotifyPending(CAuAction* action, bool always) {
    if (IsPlay(*action)) {
        static_cast<CAuActionPlay*>(action)->NotifyPendingState();
    } else if (CAuActionPlayAndContinue* next = AsPlayAndContinue(action)) {
        if (always || next->GetState() != 0) next->NotifyPendingState();
    }
}

// Asked only of play-and-continue actions; any other action has nothing more to play.
bool ActionIsDone(CAuPendingAction& record, CAuNodeBase* node) {
    CAuActionPlayAndContinue* next = AsPlayAndContinue(record.pAction);
    return !next || next->ContinueToNextItem(node, record.pGameObj, record);
}

// The record's end: its playing ID counts it no more, and it lets go of its action.
void Retire(CAuPendingAction* record) {
    CAuAction* action = record->pAction;
    if (g_pPlayingMgr) g_pPlayingMgr->RemovePendingAction(record->PlayingID());
    action->Release();
    CAuPendingAction::Destroy(record);
}

bool FrameBefore(u32 a, u32 b) {
    return static_cast<i32>(a - b) < 0;
}

} // namespace

// What the families select. Cheap tests first; the hierarchy walk last.
struct CAuAudioMgr::PendingFilter {
    CAuNodeBase* node = nullptr; // null: any target
    CAuRegisteredObj* gameObj = nullptr;
    AuPlayingID playingID = 0;
    const AuActionException* exceptions = nullptr;
    u32 exceptionCount = 0;
    const CAuAction* action = nullptr; // only this action
    u32 actionID = 0;
    bool byActionID = false;
    bool keepBusDelayed = true;
    bool includeResumes = true;
    bool onlyPlayAndContinue = false;

    // One node (null: any), object (null: any) and playing ID (0: any).
    static PendingFilter Of(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
        PendingFilter filter;
        filter.node = node;
        filter.gameObj = gameObj;
        filter.playingID = playingID;
        return filter;
    }
    // Every node but the exceptions and the nodes under them.
    static PendingFilter Except(CAuRegisteredObj* gameObj, const AuActionException* exceptions, u32 count,
                                AuPlayingID playingID) {
        PendingFilter filter = Of(nullptr, gameObj, playingID);
        filter.exceptions = exceptions;
        filter.exceptionCount = exceptions ? count : 0;
        return filter;
    }
    static PendingFilter OfAction(const CAuAction* action) {
        PendingFilter filter;
        filter.action = action;
        return filter;
    }
    static PendingFilter OfActionID(u32 actionID, AuPlayingID playingID) {
        PendingFilter filter = Of(nullptr, nullptr, playingID);
        filter.actionID = actionID;
        filter.byActionID = true;
        return filter;
    }

    bool Matches(const CAuPendingAction& record) const {
        const CAuAction& a = *record.pAction;
        if (keepBusDelayed && a.ActionType() == AU_ACTION_BUS_DELAYED) return false;
        if (!includeResumes && (a.ActionType() >> 8) == 0x03) return false;
        if (onlyPlayAndContinue && a.ActionType() != AU_ACTION_PLAY_AND_CONTINUE) return false;
        if (action && &a != action) return false;
        if (byActionID && a.key != actionID) return false;
        if (playingID != 0 && record.PlayingID() != playingID) return false;
        if (gameObj && record.pGameObj != gameObj) return false;
        if (node && !IsUnder(a, node)) return false;
        return !InExceptions(a, exceptions, exceptionCount);
    }
};

CAuPendingAction* CAuPendingAction::Create(CAuAction* action, CAuRegisteredObj* gameObj,
                                           const AuCustomPlayParams& params, u32 customParam) {
    if (!action) return nullptr;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPendingAction));
    return memory ? new (memory) CAuPendingAction(action, gameObj, params, customParam) : nullptr;
}

void CAuPendingAction::Destroy(CAuPendingAction* record) {
    if (!record) return;
    record->~CAuPendingAction();
    AU::MemoryMgr::Free(g_DefaultPoolId, record);
}

CAuPendingAction::CAuPendingAction(CAuAction* action, CAuRegisteredObj* gameObj,
                                   const AuCustomPlayParams& params, u32 customParam)
    : pAction(action), playParams(params), uCustomParam(customParam), pGameObj(gameObj) {
    if (pGameObj) pGameObj->AddRef();
    if (playParams.pExternalSources) playParams.pExternalSources->AddRef();
}

CAuPendingAction::~CAuPendingAction() {
    if (playParams.pExternalSources) playParams.pExternalSources->Release();
    if (pGameObj) pGameObj->Release();
}

void CAuPendingAction::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    if (g_pAudioMgr) g_pAudioMgr->OnPlayAndContinueTransition(*this, targetKey, value, done);
}

AURESULT CAuAudioMgr::EnqueueOrExecute(CAuPendingAction* record) noexcept {
    if (!record) return AuResultInvalidParameter;
    CAuAction* action = record->pAction;
    if (g_pPlayingMgr) g_pPlayingMgr->AddPendingAction(record->PlayingID());
    action->AddRef();
    const u32 perFrame = std::max<u32>(g_uNumSamplesPerFrame, 1);
    // A drawn range may go below zero; such a delay is no delay, not an offset near 2^32.
    const u32 delay = static_cast<u32>(std::max(action->GetDelay(), 0));
    u32 frames = delay / perFrame;
    record->uSampleOffset = delay - frames * perFrame;
    record->uLaunchFrame = m_uFrameCounter;
    if (frames != 0 && action->ActionType() == AU_ACTION_PLAY_AND_CONTINUE) {
        // The next item starts early enough to be ready; its offset keeps the exact start.
        frames -= std::min(frames, m_uPlayAndContinueLookAhead);
        record->uSampleOffset = delay - frames * perFrame;
    }
    if (frames == 0) {
        const AURESULT result = action->Execute(*record);
        IncrementChangeCounter();
        Retire(record);
        return result;
    }
    record->uLaunchFrame += frames;
    if (!InsertPending(record)) {
        Retire(record);
        return AuResultNoMemory;
    }
    NotifyPending(action, false);
    return AuResultSuccess;
}

void CAuAudioMgr::ProcessPendingList() noexcept {
    for (const AuPendingLink* head = m_pendingList.First(); head && !FrameBefore(m_uFrameCounter, head->key);
         head = m_pendingList.First()) {
        CAuPendingAction* record = head->pRecord;
        m_pendingList.RemoveFirst([](const AuPendingLink&) { return true; });
        CAuAction* action = record->pAction;
        NotifyPending(action, false);
        action->Execute(*record);
        IncrementChangeCounter();
        Retire(record);
    }
}

bool CAuAudioMgr::InsertPending(CAuPendingAction* record) noexcept {
    return m_pendingList.AddSorted(AuPendingLink{record->uLaunchFrame, record},
                                   [](const AuPendingLink& a, const AuPendingLink& b) {
                                       return FrameBefore(a.key, b.key);
                                   }) != nullptr;
}

void CAuAudioMgr::MoveToPaused(CAuPendingAction* record, u32 level) noexcept {
    record->uPausedAtFrame = m_uFrameCounter;
    record->uPauseLevel = level;
    const AuPendingLink link{record->pAction->TargetID(), record};
    if (!m_pausedList.AddSorted(link,
                                [](const AuPendingLink& a, const AuPendingLink& b) { return a.key < b.key; }))
        RemoveRecord(record);
}

void CAuAudioMgr::MoveToPending(CAuPendingAction* record) noexcept {
    record->uLaunchFrame += m_uFrameCounter - record->uPausedAtFrame;
    if (!InsertPending(record)) RemoveRecord(record);
}

void CAuAudioMgr::RemoveRecord(CAuPendingAction* record) noexcept {
    NotifyPending(record->pAction, true);
    Retire(record);
}

// `accept` may move or remove the record it accepts: the link goes right after it returns.
template <class Accept> void CAuAudioMgr::RemoveFrom(AuPendingList& list, Accept accept) noexcept {
    list.RemoveAll([&](const AuPendingLink& link) { return accept(link.pRecord); });
}

// Destroys every record `doomed` accepts, on the pending list before the paused one.
template <class Doomed> void CAuAudioMgr::RemoveWhere(PendingLists lists, Doomed doomed) noexcept {
    const auto remove = [&](CAuPendingAction* record) {
        if (!doomed(*record)) return false;
        RemoveRecord(record);
        return true;
    };
    if (lists & kPendingList) RemoveFrom(m_pendingList, remove);
    if (lists & kPausedList) RemoveFrom(m_pausedList, remove);
}

void CAuAudioMgr::RemoveMatching(const PendingFilter& filter, PendingLists lists) noexcept {
    RemoveWhere(lists, [&](CAuPendingAction& record) { return filter.Matches(record); });
}

void CAuAudioMgr::PausePendingItem(CAuPendingAction* record) noexcept {
    if (!record) return;
    CAuActionPlayAndContinue* next = AsPlayAndContinue(record->pAction);
    bool paused = false;
    m_pausedList.ForEach([&](AuPendingLink& link) {
        if (link.pRecord != record) return;
        record->uPauseLevel += next ? next->PauseCount() : 1;
        paused = true;
    });
    if (paused) return;
    if (!m_pendingList.RemoveFirst([record](const AuPendingLink& link) { return link.pRecord == record; }))
        return;
    u32 level = 0;
    if (next) {
        level = next->PauseCount() > 0 ? next->PauseCount() - 1 : 0;
        next->SetPauseCount(0);
    }
    MoveToPaused(record, level);
}

void CAuAudioMgr::RemovePendingItem(CAuPendingAction* record) noexcept {
    const auto same = [record](const AuPendingLink& link) { return link.pRecord == record; };
    if (m_pausedList.RemoveFirst(same) || m_pendingList.RemoveFirst(same)) RemoveRecord(record);
}

void CAuAudioMgr::PauseMatching(const PendingFilter& filter) noexcept {
    // The paused records first, so that the ones paused now start at level 0.
    m_pausedList.ForEach([&](AuPendingLink& link) {
        if (filter.Matches(*link.pRecord)) ++link.pRecord->uPauseLevel;
    });
    RemoveFrom(m_pendingList, [&](CAuPendingAction* record) {
        if (!filter.Matches(*record)) return false;
        MoveToPaused(record, 0);
        return true;
    });
}

void CAuAudioMgr::ResumeMatching(const PendingFilter& filter, bool all) noexcept {
    RemoveFrom(m_pausedList, [&](CAuPendingAction* record) {
        if (!filter.Matches(*record)) return false;
        if (!all && record->uPauseLevel > 0) {
            --record->uPauseLevel;
            return false;
        }
        record->uPauseLevel = 0;
        MoveToPending(record);
        return true;
    });
}

void CAuAudioMgr::StopTransitionsMatching(const PendingFilter& filter) noexcept {
    m_pendingList.ForEach([&](AuPendingLink& link) {
        if (!filter.Matches(*link.pRecord)) return;
        static_cast<CAuActionPlayAndContinue*>(link.pRecord->pAction)->EndTransitions();
    });
}

void CAuAudioMgr::PausePendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj, bool includePendingResumes,
                                    AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::Of(node, gameObj, playingID);
    filter.includeResumes = includePendingResumes;
    PauseMatching(filter);
}

void CAuAudioMgr::PausePendingItemsExcept(CAuRegisteredObj* gameObj, bool includePendingResumes,
                                          const AuActionException* exceptions, u32 exceptionCount,
                                          AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::Except(gameObj, exceptions, exceptionCount, playingID);
    filter.includeResumes = includePendingResumes;
    PauseMatching(filter);
}

void CAuAudioMgr::PausePendingItemsOfAction(CAuAction* action) noexcept {
    PauseMatching(PendingFilter::OfAction(action));
}

void CAuAudioMgr::PausePendingItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept {
    PauseMatching(PendingFilter::OfActionID(actionID, playingID));
}

void CAuAudioMgr::ResumePausedPendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj, bool all,
                                           AuPlayingID playingID) noexcept {
    ResumeMatching(PendingFilter::Of(node, gameObj, playingID), all);
}

void CAuAudioMgr::ResumePausedPendingItemsExcept(CAuRegisteredObj* gameObj, bool all,
                                                 const AuActionException* exceptions, u32 exceptionCount,
                                                 AuPlayingID playingID) noexcept {
    ResumeMatching(PendingFilter::Except(gameObj, exceptions, exceptionCount, playingID), all);
    StopPlayAndContinueTransitionsExcept(gameObj, exceptions, exceptionCount, playingID);
}

void CAuAudioMgr::ResumePausedItemsOfAction(CAuAction* action) noexcept {
    ResumeMatching(PendingFilter::OfAction(action), false);
}

void CAuAudioMgr::ResumePausedItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept {
    ResumeMatching(PendingFilter::OfActionID(actionID, playingID), false);
}

void CAuAudioMgr::ClearPendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj,
                                    AuPlayingID playingID) noexcept {
    RemoveMatching(PendingFilter::Of(node, gameObj, playingID), kBothLists);
}

void CAuAudioMgr::ClearPendingItemsExcept(CAuRegisteredObj* gameObj, const AuActionException* exceptions,
                                          u32 exceptionCount, AuPlayingID playingID) noexcept {
    RemoveMatching(PendingFilter::Except(gameObj, exceptions, exceptionCount, playingID), kBothLists);
}

void CAuAudioMgr::ClearPendingItemsOfNode(CAuNodeBase* node) noexcept {
    RemoveMatching(PendingFilter::Of(node, nullptr, 0), kPendingList);
}

void CAuAudioMgr::ClearPausedItemsOfNode(CAuNodeBase* node) noexcept {
    PendingFilter filter = PendingFilter::Of(node, nullptr, 0);
    filter.keepBusDelayed = false;
    RemoveMatching(filter, kPausedList);
}

void CAuAudioMgr::RemovePendingPlayActions(CAuNodeBase* node, CAuRegisteredObj* gameObj,
                                           AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::Of(node, gameObj, playingID);
    RemoveWhere(kPendingList, [&](CAuPendingAction& record) {
        const u16 type = record.pAction->ActionType();
        if (type != AU_ACTION_PLAY && type != AU_ACTION_PLAY_AND_CONTINUE) return false;
        if (!filter.Matches(record)) return false;
        return type == AU_ACTION_PLAY || ActionIsDone(record, node);
    });
    filter.onlyPlayAndContinue = true;
    RemoveWhere(kPausedList, [&](CAuPendingAction& record) {
        return filter.Matches(record) && ActionIsDone(record, node);
    });
}

void CAuAudioMgr::StopPendingItemsOfAction(CAuAction* action, CAuNodeBase* node, u32 mode) noexcept {
    if (mode != 2 && mode != 3) return;
    RemoveWhere(kPendingList, [&](CAuPendingAction& record) {
        return record.pAction == action && (mode == 3 || ActionIsDone(record, node));
    });
    RemoveWhere(kPausedList, [&](CAuPendingAction& record) {
        return record.pAction == action && ActionIsDone(record, node);
    });
}

void CAuAudioMgr::StopPendingItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::OfActionID(actionID, playingID);
    filter.keepBusDelayed = false;
    RemoveMatching(filter, kBothLists);
}

void CAuAudioMgr::RemovePendingItemsOfPlayingID(AuPlayingID playingID) noexcept {
    if (playingID == 0) return;
    RemoveWhere(kBothLists,
                [playingID](CAuPendingAction& record) { return record.PlayingID() == playingID; });
}

void CAuAudioMgr::PausePendingItemsOfPlayingID(AuPlayingID playingID) noexcept {
    if (playingID == 0) return;
    PauseMatching(PendingFilter::Of(nullptr, nullptr, playingID));
}

void CAuAudioMgr::ResumePausedItemsOfPlayingID(AuPlayingID playingID) noexcept {
    if (playingID == 0) return;
    ResumeMatching(PendingFilter::Of(nullptr, nullptr, playingID), false);
}

void CAuAudioMgr::ClearPlayAndContinueRef(const CAuPlaybackInstance* instance) noexcept {
    if (!instance) return;
    const auto clear = [instance](AuPendingLink& link) {
        CAuActionPlayAndContinue* next = AsPlayAndContinue(link.pRecord->pAction);
        if (next && next->PreviousInstance() == instance) next->SetPreviousInstance(nullptr);
    };
    m_pendingList.ForEach(clear);
    m_pausedList.ForEach(clear);
}

void CAuAudioMgr::StopPlayAndContinueTransitions(CAuAction* action) noexcept {
    if (!action || action->ActionType() != AU_ACTION_PLAY_AND_CONTINUE) return;
    StopTransitionsMatching(PendingFilter::OfAction(action));
}

void CAuAudioMgr::StopPlayAndContinueTransitionsOf(CAuNodeBase* node, CAuRegisteredObj* gameObj,
                                                   AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::Of(node, gameObj, playingID);
    filter.onlyPlayAndContinue = true;
    StopTransitionsMatching(filter);
}

void CAuAudioMgr::StopPlayAndContinueTransitionsExcept(CAuRegisteredObj* gameObj,
                                                       const AuActionException* exceptions,
                                                       u32 exceptionCount, AuPlayingID playingID) noexcept {
    PendingFilter filter = PendingFilter::Except(gameObj, exceptions, exceptionCount, playingID);
    filter.onlyPlayAndContinue = true;
    StopTransitionsMatching(filter);
}

void CAuAudioMgr::OnPlayAndContinueTransition(CAuPendingAction& record, u32 key, f32, bool done) noexcept {
    CAuActionPlayAndContinue* next = AsPlayAndContinue(record.pAction);
    if (!done || !next) return;
    switch (key) {
    case AU_TRANSITION_KEY_FADE_PLAY:
        next->ForgetTransition(0);
        break;
    case AU_TRANSITION_KEY_FADE_STOP:
        next->ForgetTransition(0);
        RemovePendingItem(&record);
        break;
    case AU_TRANSITION_KEY_FADE_PAUSE:
    case AU_TRANSITION_KEY_FADE_RESUME:
        // The record may go for want of a link, and the action with it: keep the action alive.
        next->AddRef();
        next->ForgetTransition(1);
        if (key == AU_TRANSITION_KEY_FADE_PAUSE) PausePendingItem(&record);
        next->SetPauseCount(0);
        next->Release();
        break;
    default:
        break;
    }
}

void CAuAudioMgr::ClearPendingList() noexcept {
    RemoveWhere(kPendingList, [](CAuPendingAction&) { return true; });
}

void CAuAudioMgr::ClearPausedList() noexcept {
    RemoveWhere(kPausedList, [](CAuPendingAction&) { return true; });
}

AURESULT ExecuteActionOnNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, u32 kind, i32 transitionMs,
                             AuCurveInterpolation curve, AuPlayingID playingID) {
    static constexpr AuActionExecKind kRequest[] = {AuActionExec_Stop, AuActionExec_Pause,
                                                    AuActionExec_Resume, AuActionExec_Break,
                                                    AuActionExec_ReleaseModulators};
    if (!node) return AuResultIDNotFound;
    if (kind >= std::size(kRequest)) return AuResultInvalidParameter;
    if (g_pAudioMgr) {
        switch (kind) {
        case 0:
            g_pAudioMgr->ClearPendingItems(node, gameObj, playingID);
            break;
        case 1:
            g_pAudioMgr->PausePendingItems(node, gameObj, true, playingID);
            break;
        case 2:
            g_pAudioMgr->ResumePausedPendingItems(node, gameObj, false, playingID);
            break;
        case 3:
            g_pAudioMgr->RemovePendingPlayActions(node, gameObj, playingID);
            break;
        default:
            break;
        }
    }
    return node->ExecuteAction(MakeActionExec(kRequest[kind], gameObj, playingID, transitionMs, curve));
}
