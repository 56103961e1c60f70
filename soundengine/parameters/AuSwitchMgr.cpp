#include "parameters/AuSwitchMgr.h"

#include "core/AuEngineManagers.h"

#include <AU/MemoryMgr.h>

#include <cstdint>
#include <new>

bool AuSwitchIndex(f32 output, u32 count, u32& outIndex) noexcept {
    // Written so that NaN fails both tests: it has no index, and converting it is undefined.
    if (!(output >= 0.0f) || !(output < static_cast<f32>(count))) return false;
    outIndex = static_cast<u32>(output);
    return outIndex < count;
}

CAuSwitchEntry::~CAuSwitchEntry() {
    Unbind();
    values.Clear();
    subscribers.Term();
}

void CAuSwitchEntry::Unbind() {
    if (paramID != 0 && g_pRTPCMgr) g_pRTPCMgr->UnSubscribeProperty64(this);
    paramID = 0;
    switchIDs.Term();
}

bool CAuSwitchEntry::SetSwitch(u32 switchID, CAuRegisteredObj* gameObj) noexcept {
    const AuRTPCKey key(gameObj);
    u32* slot = values.CreateSlot(key);
    if (!slot) return false;
    *slot = switchID;
    if (IsParameterDriven()) return true;
    for (AuSwitchSubscription* subscription : subscribers)
        if (subscription->active) subscription->pSubscriber->SetSwitch(switchID, key, nullptr);
    return true;
}

void CAuSwitchEntry::SetSwitchFromRTPC(f32 value, const AuRTPCKey& key,
                                       const CAuRTPCFilter* filter) noexcept {
    if (g_pSwitchMgr) g_pSwitchMgr->LockSwitches();
    u32 index = 0;
    if (AuSwitchIndex(value, switchIDs.Count(), index)) {
        const AuRTPCKey objectKey(key.pGameObj);
        const u32 switchID = switchIDs[index];
        for (AuSwitchSubscription* subscription : subscribers)
            if (subscription->active) subscription->pSubscriber->SetSwitch(switchID, objectKey, filter);
    }
    if (g_pSwitchMgr) g_pSwitchMgr->UnlockSwitches();
}

AURESULT CAuSwitchMgr::Init() {
    Term();
    return AuResultSuccess;
}

void CAuSwitchMgr::Term() {
    for (CAuSwitchEntry*& head : m_entries) {
        while (CAuSwitchEntry* entry = head) {
            head = entry->pNext;
            entry->~CAuSwitchEntry();
            AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        }
    }
    m_uGroupCount = 0;
    for (AuSwitchSubscription*& head : m_subscriptions) {
        while (AuSwitchSubscription* subscription = head) {
            head = subscription->pNext;
            AU::MemoryMgr::Free(g_DefaultPoolId, subscription);
        }
    }
    m_uSubscriptionCount = 0;
    m_deferred.Term();
    m_uLockCount = 0;
}

CAuSwitchEntry* CAuSwitchMgr::FindEntry(u32 groupID) const {
    for (CAuSwitchEntry* entry = m_entries[groupID % kBuckets]; entry; entry = entry->pNext)
        if (entry->groupID == groupID) return entry;
    return nullptr;
}

CAuSwitchEntry* CAuSwitchMgr::GetSwitchEntry(u32 groupID) noexcept {
    if (CAuSwitchEntry* entry = FindEntry(groupID)) return entry;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuSwitchEntry));
    if (!memory) return nullptr;
    auto* entry = new (memory) CAuSwitchEntry(groupID);
    CAuSwitchEntry*& head = m_entries[groupID % kBuckets];
    entry->pNext = head;
    head = entry;
    ++m_uGroupCount;
    return entry;
}

u32 CAuSwitchMgr::Bucket(const CAuSwitchAware* subscriber) {
    return static_cast<u32>(reinterpret_cast<uintptr_t>(subscriber) % kBuckets);
}

AuSwitchSubscription* CAuSwitchMgr::FindSubscription(const CAuSwitchAware* subscriber) const {
    for (AuSwitchSubscription* s = m_subscriptions[Bucket(subscriber)]; s; s = s->pNext)
        if (s->pSubscriber == subscriber) return s;
    return nullptr;
}

void CAuSwitchMgr::LeaveGroup(CAuSwitchEntry* entry, AuSwitchSubscription* subscription) {
    if (!entry) return;
    const u32 at =
        entry->subscribers.IndexOf([subscription](AuSwitchSubscription* s) { return s == subscription; });
    entry->subscribers.EraseOrdered(at);
}

void CAuSwitchMgr::Unlink(AuSwitchSubscription* subscription) {
    AuSwitchSubscription** link = &m_subscriptions[Bucket(subscription->pSubscriber)];
    while (*link != subscription)
        link = &(*link)->pNext;
    *link = subscription->pNext;
    --m_uSubscriptionCount;
}

AURESULT CAuSwitchMgr::SubscribeSwitch(CAuSwitchAware* subscriber, u32 groupID) {
    if (m_uLockCount > 0)
        return m_deferred.AddLast(Deferred{kSubscribe, subscriber, groupID}) ? AuResultSuccess : AuResultFail;
    return SubscribeNow(subscriber, groupID);
}

AURESULT CAuSwitchMgr::SubscribeNow(CAuSwitchAware* subscriber, u32 groupID) {
    if (!subscriber) return AuResultNoMemory;
    AuSwitchSubscription* subscription = FindSubscription(subscriber);
    if (subscription) {
        LeaveGroup(FindEntry(subscription->groupID), subscription);
        subscription->groupID = groupID;
        subscription->active = 1;
    } else {
        subscription = static_cast<AuSwitchSubscription*>(
            AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuSwitchSubscription)));
        if (!subscription) return AuResultNoMemory;
        AuSwitchSubscription*& head = m_subscriptions[Bucket(subscriber)];
        *subscription = AuSwitchSubscription{subscriber, head, groupID, 1};
        head = subscription;
        ++m_uSubscriptionCount;
    }
    CAuSwitchEntry* entry = GetSwitchEntry(groupID);
    const auto byAddress = [](AuSwitchSubscription* s, AuSwitchSubscription* key) {
        return reinterpret_cast<uintptr_t>(s) < reinterpret_cast<uintptr_t>(key);
    };
    if (!entry ||
        !entry->subscribers.Insert(entry->subscribers.LowerBound(subscription, byAddress), subscription)) {
        Unlink(subscription);
        AU::MemoryMgr::Free(g_DefaultPoolId, subscription);
        return AuResultNoMemory;
    }
    return AuResultSuccess;
}

void CAuSwitchMgr::UnsubscribeSwitch(CAuSwitchAware* subscriber) {
    if (m_uLockCount == 0) {
        UnsubscribeNow(subscriber);
        return;
    }
    AuSwitchSubscription* subscription = FindSubscription(subscriber);
    if (subscription) subscription->active = 0;
    // Without room in the queue the record stays inactive until the next unsubscribe or Term:
    // the subscriber hears nothing more either way.
    m_deferred.AddLast(Deferred{kUnsubscribe, subscriber, 0});
}

void CAuSwitchMgr::UnsubscribeNow(CAuSwitchAware* subscriber) {
    AuSwitchSubscription* subscription = FindSubscription(subscriber);
    if (!subscription) return;
    Unlink(subscription);
    LeaveGroup(FindEntry(subscription->groupID), subscription);
    AU::MemoryMgr::Free(g_DefaultPoolId, subscription);
}

void CAuSwitchMgr::UnlockSwitches() noexcept {
    if (m_uLockCount == 0 || --m_uLockCount > 0) return;
    // Applying one may queue none: the counter is 0 now, so each applies at once.
    for (u32 i = 0; i < m_deferred.Count(); ++i) {
        const Deferred op = m_deferred[i];
        if (op.operation == kSubscribe)
            SubscribeNow(op.pSubscriber, op.groupID);
        else
            UnsubscribeNow(op.pSubscriber);
    }
    m_deferred.Term();
}

AURESULT CAuSwitchMgr::SetSwitch(u32 groupID, u32 switchID, CAuRegisteredObj* gameObj) noexcept {
    CAuSwitchMgrLock lock(*this);
    CAuSwitchEntry* entry = GetSwitchEntry(groupID);
    if (!entry || !entry->SetSwitch(switchID, gameObj)) return AuResultNoMemory;
    return AuResultSuccess;
}

void CAuSwitchMgr::SetSwitch(CAuSwitchEntry& entry, u32 switchID, CAuRegisteredObj* gameObj) noexcept {
    entry.SetSwitch(switchID, gameObj);
}

u32 CAuSwitchMgr::GetSwitch(u32 groupID, const AuRTPCKey& key) noexcept {
    CAuSwitchEntry* entry = FindEntry(groupID);
    if (!entry) return 0;
    if (entry->IsParameterDriven()) {
        const f32 output = g_pRTPCMgr ? g_pRTPCMgr->GetProperty64Value(entry, key) : 0.0f;
        u32 index = 0;
        return AuSwitchIndex(output, entry->switchIDs.Count(), index) ? entry->switchIDs[index] : 0;
    }
    // No fall-back: an object without a value of its own reads 0 even with a global value set.
    const u32* value = entry->values.GetExact(key);
    return value ? *value : 0;
}

AURESULT CAuSwitchMgr::AddSwitchRTPC(u32 groupID, u32 paramID, u32 drivingType,
                                     const AuBankSwitchPoint* points, u32 count) {
    CAuSwitchEntry* entry = GetSwitchEntry(groupID);
    if (!entry) return AuResultNoMemory;
    entry->Unbind();
    if (count == 0) return AuResultSuccess;
    if (!entry->switchIDs.Grow(count)) return AuResultNoMemory;
    auto* curve =
        static_cast<AuCurvePoint*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, count * sizeof(AuCurvePoint)));
    if (!curve) {
        entry->switchIDs.Term();
        return AuResultNoMemory;
    }
    for (u32 i = 0; i < count; ++i) {
        curve[i] = AuCurvePoint{points[i].gameParameterValue, static_cast<f32>(i), points[i].interpolation};
        entry->switchIDs.AddLast(points[i].switchID);
    }
    entry->paramID = paramID;
    entry->drivingType = drivingType;
    // The subscription pushes the current value at once: the binding is complete before it.
    const AURESULT result = g_pRTPCMgr
                                ? g_pRTPCMgr->SubscribeSwitchGroup(entry, paramID, drivingType, curve, count)
                                : AuResultFail;
    AU::MemoryMgr::Free(g_DefaultPoolId, curve);
    if (result != AuResultSuccess) {
        if (g_pRTPCMgr) g_pRTPCMgr->UnSubscribeProperty64(entry);
        entry->paramID = 0;
        entry->switchIDs.Term();
    }
    return result;
}

void CAuSwitchMgr::UnregisterGameObject(CAuRegisteredObj* gameObj) noexcept {
    if (!gameObj) return;
    const AuRTPCKey key(gameObj);
    for (CAuSwitchEntry* head : m_entries)
        for (CAuSwitchEntry* entry = head; entry; entry = entry->pNext)
            entry->values.RemoveMatching(key);
}

void CAuSwitchMgr::SetState(u32 stateGroupID, u32 stateID, bool skipTransition, bool skipExtension) noexcept {
    if (g_pStateMgr) g_pStateMgr->SetState(stateGroupID, stateID, skipTransition, skipExtension);
}

void CAuSwitchMgr::Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept {
    if (g_pStateMgr) g_pStateMgr->Trigger(triggerID, gameObj);
}
