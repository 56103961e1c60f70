#include "hierarchy/AuState.h"

#include "hierarchy/AuNodeBase.h"

#include <AU/MemoryMgr.h>

#include <new>

namespace {

IAuStateMembership* s_pMembership = nullptr;

} // namespace

void AuSetStateMembership(IAuStateMembership* membership) {
    s_pMembership = membership;
}

IAuStateMembership* AuGetStateMembership() {
    return s_pMembership;
}

CAuState* CAuState::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuState));
    if (!memory) return nullptr;
    CAuState* state = new (memory) CAuState(id);
    g_pIndex->Table(AuIndexStates).Add(state);
    return state;
}

u32 CAuState::AddRef() {
    return AddRefIn(g_pIndex->Table(AuIndexStates));
}

u32 CAuState::Release() {
    return ReleaseIn(g_pIndex->Table(AuIndexStates));
}

AURESULT CAuState::SetInitialValues(AuRecordCursor& cursor) {
    const u8* at = cursor.At();
    const AURESULT result = m_props.SetFromBank(at, cursor.End());
    if (result == AuResultTruncatedChunk) return AuResultBadHeader;
    if (result != AuResultSuccess) return result;
    cursor.SetAt(at);
    return AuResultSuccess;
}

CAuStateGroupRecord* CAuStateGroupRecord::Create(CAuNodeBase& node, u32 groupID) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuStateGroupRecord));
    if (!memory) return nullptr;
    IAuStateMembership* membership = s_pMembership;
    auto* record =
        new (memory) CAuStateGroupRecord(node, groupID, membership ? membership->GetState(groupID) : 0);
    if (membership && membership->AddStateGroupMember(groupID, record) != AuResultSuccess) {
        record->m_bRegistered = false;
        record->~CAuStateGroupRecord();
        AU::MemoryMgr::Free(g_DefaultPoolId, memory);
        return nullptr;
    }
    return record;
}

CAuStateGroupRecord::~CAuStateGroupRecord() {
    StopTransitions();
    if (m_bRegistered && s_pMembership) s_pMembership->RemoveStateGroupMember(groupID, this);
    for (AuStateLink& link : links) {
        if (link.pState->Parent() == &node) link.pState->ClearParent();
        link.pState->Release();
    }
}

void CAuStateGroupRecord::ApplyValue(u8 id, f32 value, bool done) {
    AuStateValue* entry = Entry(id);
    if (!entry) return;
    const f32 previous = entry->value;
    entry->value = value;
    if (done && entry->pTransition) {
        entry->pTransition = nullptr;
        node.DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    }
    if (value != previous) node.NotifyParamChange(id, value - previous, AuRTPCKey{}, false, true);
}

void CAuStateGroupRecord::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    ApplyValue(static_cast<u8>(targetKey), value, done);
}

AURESULT CAuStateGroupRecord::LinkState(u32 stateID, u32 objectID) {
    auto* state = static_cast<CAuState*>(g_pIndex->GetPtrAndAddRef(AuIndexStates, objectID));
    if (!state) return AuResultUnknownObject;
    for (AuStateLink& link : links) {
        if (link.stateID != stateID) continue;
        if (link.pState == state) {
            state->Release();
            return AuResultSuccess;
        }
        if (link.pState->Parent() == &node) link.pState->ClearParent();
        link.pState->Release();
        link.pState = state;
        state->SetParent(&node);
        return AuResultSuccess;
    }
    if (!links.AddLast(AuStateLink{stateID, state})) {
        state->Release();
        return AuResultNoMemory;
    }
    state->SetParent(&node);
    return AuResultSuccess;
}

CAuState* CAuStateGroupRecord::FindState(u32 stateID) const {
    for (const AuStateLink& link : links)
        if (link.stateID == stateID) return link.pState;
    return nullptr;
}

AURESULT CAuStateGroupRecord::UpdateValues() {
    const u32 current = s_pMembership ? s_pMembership->GetState(groupID) : stateAtCreation;
    CAuState* state = FindState(current);
    for (u8 id = 0; id < AU_STATE_PROPS; ++id) {
        const AuPropValue* stored = state ? state->Props().GetValue(id) : nullptr;
        const f32 target = stored ? stored->f : 0.0f;
        AuStateValue* entry = Entry(id);
        if (!entry) return AuResultFail;
        if (!entry->pTransition) entry->value = target;
    }
    return AuResultSuccess;
}

f32 CAuStateGroupRecord::Value(u8 id) const {
    for (const AuStateValue& entry : values)
        if (entry.id == id) return entry.value;
    return 0.0f;
}

AuStateValue* CAuStateGroupRecord::Entry(u8 id) {
    for (AuStateValue& entry : values)
        if (entry.id == id) return &entry;
    return values.AddLast(AuStateValue{id, 0.0f, nullptr});
}

void CAuStateGroupRecord::StopTransitions() {
    for (AuStateValue& entry : values) {
        if (!entry.pTransition) continue;
        if (g_pTransitionMgr) g_pTransitionMgr->RemoveTransitionUser(entry.pTransition, this);
        entry.pTransition = nullptr;
        node.DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    }
}

void CAuStateGroupRecord::PauseTransitions(bool pause) {
    if (!g_pTransitionMgr) return;
    for (AuStateValue& entry : values) {
        if (!entry.pTransition) continue;
        if (pause)
            g_pTransitionMgr->Pause(entry.pTransition);
        else
            g_pTransitionMgr->Resume(entry.pTransition);
    }
}
