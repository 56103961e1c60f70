#include "hierarchy/AuEvent.h"

#include "core/AuLog.h"
#include "hierarchy/AuNodeBase.h"

#include <AU/MemoryMgr.h>

#include <new>

CAuEvent* CAuEvent::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuEvent));
    return memory ? new (memory) CAuEvent(id) : nullptr;
}

CAuEvent::~CAuEvent() {
    // Each entry is read before its release, which may free the action.
    for (u32 i = 0; i < m_actions.Count(); ++i) {
        CAuAction* action = m_actions[i];
        action->Release();
    }
    m_actions.Term();
}

u32 CAuEvent::AddRef() {
    return AddRefIn(g_pIndex->Table(AuIndexEvents));
}

u32 CAuEvent::Release() {
    return ReleaseIn(g_pIndex->Table(AuIndexEvents));
}

AURESULT CAuEvent::SetInitialValues(AuRecordCursor& cursor) {
    u32 id = 0, count = 0;
    if (!cursor.Read(id) || !cursor.Read(count)) return AuResultBadHeader;
    if (count > cursor.Left() / 4) return AuResultBadHeader;
    if (count > 0 && !m_actions.Grow(count)) return AuResultNoMemory;
    for (u32 i = 0; i < count; ++i) {
        u32 actionID = 0;
        cursor.Read(actionID);
        if (actionID == 0) return AuResultInvalidPool;
        CAuIndexable* action = g_pIndex->GetPtrAndAddRef(AuIndexActions, actionID);
        if (!action) return AuResultFail;
        m_actions.AddLast(static_cast<CAuAction*>(action));
    }
    return AuResultSuccess;
}

void CAuEvent::AddToIndex() {
    g_pIndex->Table(AuIndexEvents).Add(this);
}

AURESULT CAuEvent::ForEachPlayTarget(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) {
    for (CAuAction* action : m_actions) {
        if (action->ActionType() != AU_ACTION_PLAY) continue;
        CAuNodeBase* node = action->GetTargetNode();
        if (!node) continue;
        node->NotifyChildren(arg1, arg2, arg3, arg4, arg5);
        node->Release();
    }
    return AuResultSuccess;
}

namespace {

CAuEvent& Event(void* event) {
    return *static_cast<CAuEvent*>(event);
}

bool IsPlay(const CAuAction* action) {
    return action->ActionType() == AU_ACTION_PLAY;
}

} // namespace

void* CAuEventPreparation::AcquireEvent(u32 eventID) {
    return g_pIndex->GetPtrAndAddRef(AuIndexEvents, eventID);
}

void CAuEventPreparation::ReleaseEvent(void* event) {
    Event(event).Release();
}

u32 CAuEventPreparation::PreparationCount(void* event) {
    return Event(event).Preparations();
}

void CAuEventPreparation::SetPreparationCount(void* event, u32 count) {
    Event(event).SetPreparations(count);
}

u32 CAuEventPreparation::PlayActionCount(void* event) {
    u32 count = 0;
    for (const CAuAction* action : Event(event).Actions())
        count += IsPlay(action) ? 1 : 0;
    return count;
}

IAuEventPreparation::PlayAction CAuEventPreparation::GetPlayAction(void* event, u32 index) {
    for (CAuAction* action : Event(event).Actions()) {
        if (!IsPlay(action)) continue;
        if (index-- == 0) return PlayAction{static_cast<CAuActionPlay*>(action)->BankID(), action};
    }
    return PlayAction{0, nullptr};
}

AURESULT CAuEventPreparation::PrepareData(void* action) {
    const auto* play = static_cast<CAuAction*>(action);
    CAuNodeBase* node = play->GetTargetNode();
    if (!node) {
        AuLog(AuLogLevel::Error, "bank: play action %08X cannot be prepared: its target %08X is not loaded",
              play->key, play->TargetID());
        return AuResultIDNotFound;
    }
    const AURESULT result = node->PrepareData();
    node->Release();
    return result;
}

void CAuEventPreparation::UnPrepareData(void* action) {
    CAuNodeBase* node = static_cast<CAuAction*>(action)->GetTargetNode();
    if (!node) return;
    node->UnPrepareData();
    node->Release();
}

u32 CAuEventPreparation::CollectPreparedEvents(void** out, u32 capacity) {
    CAuIndexTable& table = g_pIndex->Table(AuIndexEvents);
    u32 found = 0;
    table.Lock();
    table.ForEach([&](CAuIndexable* object) {
        auto* event = static_cast<CAuEvent*>(object);
        if (found < capacity && event->Preparations() != 0) {
            event->AddRef();
            out[found++] = event;
        }
    });
    table.Unlock();
    return found;
}
