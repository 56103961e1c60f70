#include "parameters/AuStateMgr.h"

#include "core/AuEngineManagers.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "hierarchy/AuNodeBase.h"

#include <AU/MemoryMgr.h>

#include <climits>
#include <new>

namespace {

constexpr u32 kPreallocatedItems = 8;
// Volumes (0, 1, 5) move in decibels; the others in their own units.
constexpr bool kStatePropInDb[AU_STATE_PROPS] = {true, true, false, false, false, true};

AuStateValue* ExistingEntry(CAuStateGroupRecord& member, u8 id) {
    for (AuStateValue& entry : member.values)
        if (entry.id == id) return &entry;
    return nullptr;
}

} // namespace

AURESULT CAuPreparationAware::SubscribePrepare(u32 groupID, u32 groupType) {
    if (!g_pStateMgr) return AuResultFail;
    CAuMainLock lock;
    AuPreparedGameSync* record = g_pStateMgr->GetPreparedGameSyncGroup(groupID, groupType);
    if (!record) return AuResultFail;
    pNextPrepare = record->pHead;
    record->pHead = this;
    if (!record->pTail) record->pTail = this;
    return AuResultSuccess;
}

void CAuPreparationAware::UnsubscribePrepare(u32 groupID, u32 groupType) {
    if (!g_pStateMgr) return;
    CAuMainLock lock;
    AuPreparedGameSync* record = g_pStateMgr->FindPrepared(groupID, groupType);
    if (!record) return;
    CAuPreparationAware* previous = nullptr;
    for (CAuPreparationAware* s = record->pHead; s; previous = s, s = s->pNextPrepare) {
        if (s != this) continue;
        (previous ? previous->pNextPrepare : record->pHead) = pNextPrepare;
        if (record->pTail == this) record->pTail = previous;
        pNextPrepare = nullptr;
        return;
    }
}

CAuStateMgr::CAuStateMgr() {
    InitializeCriticalSection(&m_lock);
}

CAuStateMgr::~CAuStateMgr() {
    Term();
    DeleteCriticalSection(&m_lock);
}

AURESULT CAuStateMgr::Init() {
    if (m_followers.Init(kPreallocatedItems, AuPoolList<Follower>::kNoMaximum) != AuResultSuccess ||
        m_triggers.Init(kPreallocatedItems, AuPoolList<TriggerHandler>::kNoMaximum) != AuResultSuccess)
        return AuResultNoMemory;
    return AuResultSuccess;
}

void CAuStateMgr::Term() {
    RemoveAllStateGroups(false);
    m_groups.Term();
    m_followers.Term();
    m_triggers.Term();
    EnterCriticalSection(&m_lock);
    FreePrepared(m_pPreparedStates);
    FreePrepared(m_pPreparedSwitches);
    LeaveCriticalSection(&m_lock);
}

CAuStateMgr::Group* CAuStateMgr::FindGroup(u32 groupID) const {
    for (const GroupSlot& slot : m_groups)
        if (slot.id == groupID) return slot.pGroup;
    return nullptr;
}

void CAuStateMgr::FreeGroup(Group* group) {
    group->~Group();
    AU::MemoryMgr::Free(g_DefaultPoolId, group);
}

AURESULT CAuStateMgr::AddStateGroup(u32 groupID) {
    if (FindGroup(groupID)) return AuResultSuccess;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Group));
    if (!memory) return AuResultFail;
    Group* group = new (memory) Group{0, 0, nullptr, {}};
    if (!m_groups.AddLast(GroupSlot{groupID, group})) {
        FreeGroup(group);
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT CAuStateMgr::SetDefaultTransitionTime(u32 groupID, u32 ms) {
    Group* group = FindGroup(groupID);
    if (!group) return AuResultUnknownStateGroup;
    group->defaultMs = ms;
    return AuResultSuccess;
}

AURESULT CAuStateMgr::SetTransitionTime(Group& group, u32 from, u32 to, u32 ms) {
    for (TransitionTime& time : group.transitions) {
        if (time.from != from || time.to != to) continue;
        time.ms = ms;
        return AuResultSuccess;
    }
    return group.transitions.AddLast(TransitionTime{from, to, ms}) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuStateMgr::AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms, bool bothWays) {
    Group* group = FindGroup(groupID);
    if (!group) return AuResultUnknownStateGroup;
    const AURESULT result = SetTransitionTime(*group, fromState, toState, ms);
    if (result != AuResultSuccess || !bothWays) return result;
    return SetTransitionTime(*group, toState, fromState, ms);
}

u32 CAuStateMgr::TransitionMs(const Group& group, u32 from, u32 to) const {
    for (const TransitionTime& time : group.transitions)
        if (time.from == from && time.to == to) return time.ms;
    return group.defaultMs;
}

AURESULT CAuStateMgr::AddStateGroupMember(u32 groupID, CAuStateGroupRecord* member) {
    Group* group = FindGroup(groupID);
    if (!group) return AuResultUnknownStateGroup;
    member->pNextMember = group->pMembers;
    group->pMembers = member;
    return AuResultSuccess;
}

void CAuStateMgr::RemoveStateGroupMember(u32 groupID, CAuStateGroupRecord* member) {
    Group* group = FindGroup(groupID);
    if (!group) return;
    for (CAuStateGroupRecord** link = &group->pMembers; *link; link = &(*link)->pNextMember) {
        if (*link != member) continue;
        *link = member->pNextMember;
        member->pNextMember = nullptr;
        return;
    }
}

u32 CAuStateMgr::GetState(u32 groupID) {
    const Group* group = FindGroup(groupID);
    return group ? group->current : 0;
}

void CAuStateMgr::RemoveAllStateGroups(bool onlyEmpty) {
    for (u32 i = m_groups.Count(); i-- > 0;) {
        Group* group = m_groups[i].pGroup;
        if (onlyEmpty && group->pMembers) continue;
        FreeGroup(group);
        m_groups.EraseSwap(i);
    }
}

AURESULT CAuStateMgr::RegisterSwitch(CAuSwitchAware* follower, u32 groupID) {
    if (!follower) return AuResultInvalidParameter;
    return m_followers.AddLast(Follower{follower, groupID}) ? AuResultSuccess : AuResultFail;
}

void CAuStateMgr::UnregisterSwitch(CAuSwitchAware* follower) {
    m_followers.RemoveAll([follower](const Follower& item) { return item.pFollower == follower; });
}

void CAuStateMgr::SetState(u32 groupID, u32 stateID, bool skipTransition, bool skipExtension) noexcept {
    Group* group = FindGroup(groupID);
    if (!group) return;
    if (!skipExtension) {
        if (stateID != group->current)
            m_followers.ForEach([&](Follower& item) {
                if (item.groupID == groupID) item.pFollower->SetSwitch(stateID, AuRTPCKey{}, nullptr);
            });
        const AuStateChangeHandlerFunc handler = g_pfnStateChangeHandler.load(std::memory_order_acquire);
        // The music engine holds the change for a musical point and sets it again later.
        if (handler && !skipTransition && handler(groupID, stateID)) return;
    }
    const u32 ms = skipTransition ? 0 : TransitionMs(*group, group->current, stateID);
    const i32 time = ms > u32{INT_MAX} ? INT_MAX : static_cast<i32>(ms);
    for (CAuStateGroupRecord* member = group->pMembers; member; member = member->pNextMember)
        MoveMember(*member, stateID, time);
    group->current = stateID;
}

void CAuStateMgr::MoveMember(CAuStateGroupRecord& member, u32 stateID, i32 ms) noexcept {
    CAuState* state = member.FindState(stateID);
    bool changed = false;
    for (u8 id = 0; id < AU_STATE_PROPS; ++id) {
        const AuPropValue* stored = state ? state->Props().GetValue(id) : nullptr;
        const f32 target = stored ? stored->f : 0.0f;
        AuStateValue* entry = ExistingEntry(member, id);
        if (entry && entry->pTransition) {
            g_pTransitionMgr->ChangeParameter(entry->pTransition, id, target, ms, AuCurveInterpolation_Linear,
                                              0);
            continue;
        }
        if ((entry ? entry->value : 0.0f) == target) continue;
        if (!entry && !(entry = member.Entry(id))) continue;
        AuTransitionParams params;
        params.pTarget = &member;
        params.uTargetKey = id;
        params.fStartValue = entry->value;
        params.fTargetValue = target;
        params.lDurationMs = ms;
        params.eCurve = AuCurveInterpolation_Linear;
        params.bdBs = kStatePropInDb[id];
        params.bMirror = true;
        CAuTransition* transition =
            g_pTransitionMgr ? g_pTransitionMgr->AddTransition(params, true) : nullptr;
        // The refused transition has handed the member its target already; the entry may have moved.
        if (!transition) {
            if ((entry = member.Entry(id))) entry->value = target;
            changed = true;
            continue;
        }
        entry->pTransition = transition;
        if (!member.node.IncrementActivityCount(AU_ACTIVITY_TO_BOTH)) {
            // A node that cannot count the run would never be told it ended: the value now.
            g_pTransitionMgr->RemoveTransitionUser(transition, &member);
            entry->pTransition = nullptr;
            member.ApplyValue(id, target, true);
        }
    }
    if (changed) member.node.RecalcProps(0);
}

AURESULT CAuStateMgr::RegisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept {
    if (!handler) return AuResultInvalidParameter;
    return m_triggers.AddLast(TriggerHandler{handler, 0, gameObj}) ? AuResultSuccess : AuResultFail;
}

void CAuStateMgr::UnregisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj*) noexcept {
    m_triggers.RemoveAll([handler](const TriggerHandler& item) { return item.pHandler == handler; });
}

void CAuStateMgr::Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept {
    m_triggers.ForEach([&](TriggerHandler& item) {
        if (item.triggerID != 0 && item.triggerID != triggerID) return;
        if (gameObj && item.pGameObj != gameObj) return;
        item.pHandler->Trigger(triggerID);
    });
}

AuPreparedGameSync* CAuStateMgr::FindPrepared(u32 groupID, u32 groupType) {
    EnterCriticalSection(&m_lock);
    AuPreparedGameSync* record = PreparedList(groupType);
    while (record && record->groupID != groupID)
        record = record->pNext;
    LeaveCriticalSection(&m_lock);
    return record;
}

AuPreparedGameSync* CAuStateMgr::GetPreparedGameSyncGroup(u32 groupID, u32 groupType) {
    EnterCriticalSection(&m_lock);
    AuPreparedGameSync*& head = PreparedList(groupType);
    AuPreparedGameSync* record = head;
    while (record && record->groupID != groupID)
        record = record->pNext;
    if (!record) {
        if (void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuPreparedGameSync))) {
            record = new (memory) AuPreparedGameSync{head, {}, groupID, nullptr, nullptr};
            head = record;
        }
    }
    LeaveCriticalSection(&m_lock);
    return record;
}

AuArray<u32>* CAuStateMgr::GetPreparedGameSyncValues(u32 groupID, u32 groupType) {
    AuPreparedGameSync* record = FindPrepared(groupID, groupType);
    return record ? &record->values : nullptr;
}

AURESULT CAuStateMgr::PrepareGameSync(u32 groupType, u32 groupID, u32 valueID, bool prepare) {
    // The bank thread comes here while nodes, the subscribers, end under g_csMain on the audio
    // thread: the values and the walk stay under it. Taken before the manager's lock, never inside.
    CAuMainLock lock;
    AuPreparedGameSync* record = GetPreparedGameSyncGroup(groupID, groupType);
    if (!record) return prepare ? AuResultNoMemory : AuResultSuccess;
    const auto isValue = [valueID](u32 value) { return value == valueID; };
    const u32 at = record->values.IndexOf(isValue);
    if (prepare == (at < record->values.Count())) return AuResultSuccess;
    if (!prepare)
        record->values.EraseSwap(at);
    else if (!record->values.AddLast(valueID))
        return AuResultNoMemory;
    for (CAuPreparationAware* subscriber = record->pHead; subscriber; subscriber = subscriber->pNextPrepare) {
        const AURESULT result = subscriber->ModifyActiveState(valueID, prepare);
        if (result == AuResultSuccess) continue;
        // A failed unprepare leaves the value gone: what the others let go stays let go.
        if (prepare) {
            for (CAuPreparationAware* done = record->pHead; done != subscriber; done = done->pNextPrepare)
                done->ModifyActiveState(valueID, false);
            record->values.EraseSwap(record->values.IndexOf(isValue));
        }
        return result;
    }
    return AuResultSuccess;
}

void CAuStateMgr::FreePrepared(AuPreparedGameSync*& head) {
    while (AuPreparedGameSync* record = head) {
        head = record->pNext;
        record->~AuPreparedGameSync();
        AU::MemoryMgr::Free(g_DefaultPoolId, record);
    }
}
