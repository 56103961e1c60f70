#include "banks/AuEvent.h"

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
