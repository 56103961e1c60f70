#include "parameters/AuRTPCMgr.h"

#include "parameters/AuKeyedParamIds.h"

#include <AU/MemoryMgr.h>

#include <new>

CAuRTPCMgr* g_pRTPCMgr = nullptr;

struct AuRTPCEntry {
    u32 id = 0;
    AuRTPCEntry* pNext = nullptr;
    f32 defaultValue = 0.0f;
    u32 rampKind = AuRTPCRampKind_None;
    f32 up = 0.0f;
    f32 down = 0.0f;
    CAuKeyedValues<f32> values;
    AuRTPCTransition* pTransitions = nullptr; // newest first
    AuArray<AuRTPCSubscription*> subscribers; // sorted by address
    // Given a default, ramps or a built-in binding (by Init or the Init bank): kept on purpose
    // without subscribers or values, as banks loaded later still read it.
    bool bKept = false;
};

// One running ramp of one key; its updates come back through the transition manager.
struct AuRTPCTransition : IAuTransitionTarget {
    void TransUpdateValue(u32, f32 value, bool done) noexcept override {
        pMgr->OnTransitionValue(this, value, done);
    }

    AuRTPCTransition* pNext = nullptr;
    CAuTransition* pHandle = nullptr;
    AuRTPCEntry* pEntry = nullptr;
    AuRTPCKey key;
    bool bReset = false;
    CAuRTPCMgr* pMgr = nullptr;
};

namespace {

template <class T> T* New() {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return memory ? new (memory) T{} : nullptr;
}

template <class T> void Delete(T* object) {
    object->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, object);
}

// A ramp time in ms from a float: NaN and anything not above 0 give none.
i32 RampMs(f32 ms) {
    if (!(ms > 0.0f)) return 0;
    if (ms >= 2147483647.0f) return 2147483647;
    return i32(ms);
}

// Busses keep these properties up to date while idle.
bool IdleBusProperty(u32 propertyID) {
    return propertyID == 0 || propertyID == 5 || propertyID == 11 || propertyID == 20 || propertyID == 21 ||
           (propertyID >= 24 && propertyID <= 28);
}
constexpr u32 kIdleNodeProperty = 41;

bool LessByAddress(const AuRTPCSubscription* held, const AuRTPCSubscription* wanted) {
    return reinterpret_cast<uintptr_t>(held) < reinterpret_cast<uintptr_t>(wanted);
}

} // namespace

bool CAuRTPCFilter::SkipKey(const AuRTPCKey& candidate) const noexcept {
    if (!candidate.HasNarrowerField(m_key)) return false;
    AuRTPCKey found = candidate;
    return m_entry.values.FindValue(found) && found.HasNarrowerField(m_key);
}

AURESULT CAuRTPCMgr::Init() {
    Term();
    AuRTPCEntry* entry = FindOrCreateEntry(AU_RTPC_PARAM_131);
    if (!entry) return AuResultNoMemory;
    entry->defaultValue = AU_RTPC_PARAM_131_DEFAULT;
    entry->bKept = true;
    return AuResultSuccess;
}

void CAuRTPCMgr::Term() {
    for (AuRTPCEntry*& head : m_params) {
        while (AuRTPCEntry* entry = head) {
            head = entry->pNext;
            while (entry->pTransitions)
                CancelTransition(*entry, entry->pTransitions);
            FreeEntry(entry);
        }
    }
    m_uParamCount = 0;
    for (AuRTPCSubscription*& head : m_subscriptions) {
        while (AuRTPCSubscription* subscription = head) {
            head = subscription->pNext;
            for (AuRTPCCurve* curve : subscription->curves) {
                if (curve->drivingType == AuRTPCDrivingType_Modulator && m_pModulators)
                    m_pModulators->Unsubscribe(subscription, curve->drivingID);
                Delete(curve);
            }
            Delete(subscription);
        }
    }
    m_uSubscriptionCount = 0;
    for (AuArray<u32>& ids : m_builtIn)
        ids.Term();
}

AuRTPCEntry* CAuRTPCMgr::FindEntry(u32 paramID) const {
    for (AuRTPCEntry* entry = m_params[paramID % kBuckets]; entry; entry = entry->pNext)
        if (entry->id == paramID) return entry;
    return nullptr;
}

AuRTPCEntry* CAuRTPCMgr::FindOrCreateEntry(u32 paramID) {
    if (AuRTPCEntry* entry = FindEntry(paramID)) return entry;
    AuRTPCEntry* entry = New<AuRTPCEntry>();
    if (!entry) return nullptr;
    entry->id = paramID;
    entry->pNext = m_params[paramID % kBuckets];
    m_params[paramID % kBuckets] = entry;
    ++m_uParamCount;
    return entry;
}

void CAuRTPCMgr::FreeEntry(AuRTPCEntry* entry) {
    Delete(entry);
}

// An entry only listing subscribers goes with its last one: the banks name game parameters by the
// thousand the game may never set, and each bank would leave its own behind for good. Not while
// a caller holds entries (subscribers told of a value may unsubscribe): it stays then, as it
// did before this rule.
void CAuRTPCMgr::DropIfUnused(AuRTPCEntry* entry) {
    if (m_uHoldingEntries || entry->bKept || entry->subscribers.Count() || !entry->values.IsEmpty() ||
        entry->pTransitions)
        return;
    for (AuRTPCEntry** link = &m_params[entry->id % kBuckets]; *link; link = &(*link)->pNext) {
        if (*link == entry) {
            *link = entry->pNext;
            --m_uParamCount;
            FreeEntry(entry);
            return;
        }
    }
}

u32 CAuRTPCMgr::SubscriptionBucket(const IAuRTPCSubscriber* subscriber, u32 propertyID) {
    return u32((reinterpret_cast<uintptr_t>(subscriber) + propertyID) % kBuckets);
}

AURESULT CAuRTPCMgr::SetRTPCInternal(u32 paramID, f32 value, const AuRTPCKey& key,
                                     const TransParamsBase& transition, AuValueMeaning meaning) noexcept {
    AuRTPCEntry* entry = FindOrCreateEntry(paramID);
    if (!entry) return AuResultFail;
    bool narrower = false;
    f32* slot = entry->values.GetExact(key, nullptr, &narrower);
    f32 target = value;
    if (meaning == AuValueMeaning_Offset) {
        // An offset adds to this key's own value (where a ramp has it now), never to an inherited one.
        f32 current = entry->defaultValue;
        if (slot) {
            const AuRTPCTransition* running = FindTransition(*entry, key);
            current = running && running->pHandle ? running->pHandle->CurrentValue() : *slot;
        }
        target = current + value;
    }
    return SetValueWithRamp(*entry, slot, target, key, transition, false, narrower);
}

AURESULT CAuRTPCMgr::SetRTPCInternal(u32 paramID, f32 value, CAuRegisteredObj* gameObj, AuPlayingID playingID,
                                     const TransParamsBase& transition, AuValueMeaning meaning) noexcept {
    AuRTPCKey key(gameObj);
    key.playingID = playingID;
    return SetRTPCInternal(paramID, value, key, transition, meaning);
}

AURESULT CAuRTPCMgr::SetRTPCImmediate(u32 paramID, f32 value, const AuRTPCKey& key) noexcept {
    return SetRTPCInternal(paramID, value, key, TransParamsBase{}, AuValueMeaning_Independent);
}

void CAuRTPCMgr::ResetRTPCValue(u32 paramID, const AuRTPCKey& key,
                                const TransParamsBase& transition) noexcept {
    AuRTPCEntry* entry = FindEntry(paramID);
    if (!entry) return;
    f32* wider = nullptr;
    bool narrower = false;
    f32* slot = entry->values.GetExact(key, &wider, &narrower);
    if (!slot) return;
    SetValueWithRamp(*entry, slot, wider ? *wider : entry->defaultValue, key, transition, true, narrower);
}

void CAuRTPCMgr::ResetRTPCValueByObject(u32 paramID, CAuRegisteredObj* gameObj, AuPlayingID playingID,
                                        const TransParamsBase& transition) noexcept {
    AuRTPCKey key(gameObj);
    key.playingID = playingID;
    ResetRTPCValue(paramID, key, transition);
}

AURESULT CAuRTPCMgr::SetValueWithRamp(AuRTPCEntry& entry, f32* slot, f32 target, const AuRTPCKey& key,
                                      const TransParamsBase& transition, bool reset, bool narrower) noexcept {
    AuRTPCTransition* running = FindTransition(entry, key);
    // The same value again changes nothing, unless a ramp is still heading elsewhere: it must
    // stop where the game now wants the value.
    if (!reset && slot && *slot == target && !running) return AuResultSuccess;
    const f32 current = slot ? *slot : entry.defaultValue;
    i32 ms = transition.TransitionTime;
    bool timeRamp = false;
    if (entry.rampKind != AuRTPCRampKind_None && !transition.bBypassInternalValueInterpolation) {
        const bool rising = target > current;
        f32 rampMs = 0.0f;
        if (entry.rampKind == AuRTPCRampKind_Rate) {
            const f32 rate = rising ? entry.up : entry.down;
            if (rate > 0.0f) rampMs = (rising ? target - current : current - target) / rate * 1000.0f;
        } else if (entry.rampKind == AuRTPCRampKind_Time) {
            rampMs = (rising ? entry.up : entry.down) * 1000.0f;
            timeRamp = true;
        }
        const i32 ramp = RampMs(rampMs);
        if (ramp > ms) ms = ramp;
    }
    const bool changes = !(current == target);
    if (ms > 0 && changes) {
        if (StartTransition(entry, current, target, key, transition, ms, reset, timeRamp))
            return AuResultSuccess;
        return StoreValue(entry, slot, target, key, reset, narrower); // no ramp could be had
    }
    if (running) CancelTransition(entry, running);
    if (!changes && !reset) return AuResultSuccess;
    return StoreValue(entry, slot, target, key, reset, narrower);
}

AuRTPCTransition* CAuRTPCMgr::FindTransition(AuRTPCEntry& entry, const AuRTPCKey& key) noexcept {
    for (AuRTPCTransition* transition = entry.pTransitions; transition; transition = transition->pNext)
        if (transition->key == key) return transition;
    return nullptr;
}

bool CAuRTPCMgr::StartTransition(AuRTPCEntry& entry, f32 current, f32 target, const AuRTPCKey& key,
                                 const TransParamsBase& transition, i32 ms, bool reset,
                                 bool timeRamp) noexcept {
    if (AuRTPCTransition* running = FindTransition(entry, key)) {
        if (!(current == target) && g_pTransitionMgr && running->pHandle) {
            g_pTransitionMgr->ChangeParameter(running->pHandle, AU_TRANSITION_KEY_RTPC, target, ms,
                                              transition.eFadeCurve, 0);
            running->bReset = reset;
            return true;
        }
        CancelTransition(entry, running);
        return false;
    }
    if (current == target || !g_pTransitionMgr) return false;
    AuRTPCTransition* record = New<AuRTPCTransition>();
    if (!record) return false;
    record->pEntry = &entry;
    record->key = key;
    record->bReset = reset;
    record->pMgr = this;
    // Linked first: a transition manager without room delivers the target at once, and the
    // record then unlinks and frees itself before AddTransition returns.
    record->pNext = entry.pTransitions;
    entry.pTransitions = record;
    AuTransitionParams params;
    params.pTarget = record;
    params.uTargetKey = AU_TRANSITION_KEY_RTPC;
    params.fStartValue = current;
    params.fTargetValue = target;
    params.lDurationMs = ms;
    params.eCurve = transition.eFadeCurve;
    if (timeRamp) {
        // A fixed-time ramp approaches exponentially over its own seconds.
        params.lDurationMs = RampMs((current > target ? entry.down : entry.up) * 1000.0f);
        params.bExponential = true;
    }
    if (CAuTransition* handle = g_pTransitionMgr->AddTransition(params, true)) record->pHandle = handle;
    return true;
}

void CAuRTPCMgr::CancelTransition(AuRTPCEntry& entry, AuRTPCTransition* transition) noexcept {
    if (transition->pHandle && g_pTransitionMgr)
        g_pTransitionMgr->RemoveTransitionUser(transition->pHandle, transition);
    for (AuRTPCTransition** link = &entry.pTransitions; *link; link = &(*link)->pNext) {
        if (*link == transition) {
            *link = transition->pNext;
            break;
        }
    }
    Delete(transition);
}

void CAuRTPCMgr::OnTransitionValue(AuRTPCTransition* transition, f32 value, bool done) noexcept {
    AuRTPCEntry& entry = *transition->pEntry;
    const AuRTPCKey key = transition->key;
    const bool reset = done && transition->bReset;
    if (done) {
        // The record is gone before anyone hears the last value: a subscriber that sets this key
        // again starts a fresh ramp.
        for (AuRTPCTransition** link = &entry.pTransitions; *link; link = &(*link)->pNext) {
            if (*link == transition) {
                *link = transition->pNext;
                break;
            }
        }
        Delete(transition);
    }
    bool narrower = false;
    f32* slot = entry.values.GetExact(key, nullptr, &narrower);
    StoreValue(entry, slot, value, key, reset, narrower);
}

AURESULT CAuRTPCMgr::StoreValue(AuRTPCEntry& entry, f32* slot, f32 value, const AuRTPCKey& key, bool reset,
                                bool narrower) noexcept {
    NotifySubscribers(entry, value, key, narrower);
    // A subscriber may have changed the tree while it was told: find the slot again.
    slot = entry.values.GetExact(key);
    if (reset) {
        if (slot) entry.values.RemoveAt(key);
        return AuResultSuccess;
    }
    if (slot) {
        *slot = value;
        return AuResultSuccess;
    }
    slot = entry.values.CreateSlot(key);
    if (!slot) return AuResultFail;
    *slot = value;
    AuKeyOwners::RegisterParamID(entry.id, key);
    return AuResultSuccess;
}

void CAuRTPCMgr::NotifySubscribers(AuRTPCEntry& entry, f32 value, const AuRTPCKey& key,
                                   bool narrower) noexcept {
    const CAuRTPCFilter filter(entry, key);
    const AuRTPCSubscription* previous = nullptr;
    ++m_uHoldingEntries;
    // Subscribers may unsubscribe while told: the count is read on every step.
    for (u32 i = 0; i < entry.subscribers.Count(); ++i) {
        AuRTPCSubscription* subscription = entry.subscribers[i];
        if (subscription == previous) continue;
        previous = subscription;
        const u32 kind = subscription->kind;
        const bool filtered =
            narrower && (kind == AuRTPCSubscriberKind_Node || kind == AuRTPCSubscriberKind_Layer ||
                         kind == AuRTPCSubscriberKind_SwitchGroup);
        NotifySubscription(*subscription, entry, value, key, filtered ? &filter : nullptr);
    }
    --m_uHoldingEntries;
}

void CAuRTPCMgr::NotifySubscription(AuRTPCSubscription& subscription, AuRTPCEntry& entry, f32 value,
                                    const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept {
    if (subscription.key.pGameObj && key.pGameObj && key.pGameObj != subscription.key.pGameObj) return;
    if (!subscription.key.MatchesSubKey(key)) return;
    const u32 propertyID = subscription.propertyID;
    // Holders and instances scoped to one object take its values, and values without an object
    // only while nothing narrower holds for their own key.
    const auto reachesScoped = [&] {
        if (key.pGameObj == subscription.key.pGameObj) return true;
        if (key.pGameObj) return false;
        AuRTPCKey found = subscription.key;
        return !(entry.values.FindValue(found) && found.HasNarrowerField(key));
    };
    switch (subscription.kind) {
    case AuRTPCSubscriberKind_PluginParams: {
        if (!reachesScoped() || subscription.curves.Count() == 0) return;
        auto* holder = static_cast<IAuPluginParamSubscriber*>(subscription.pSubscriber);
        f32 result;
        if (subscription.mode == AuRTPCMode_Single) {
            result = subscription.curves[0]->curve.Convert(value);
        } else {
            bool any = false;
            const AuRTPCKey& scope = subscription.key.pGameObj ? subscription.key : key;
            const f32 others = CombinedValue(subscription, scope, entry.id, any);
            const f32 own = SumCurves(subscription, entry.id, value);
            const f32 base = holder->GetBaseValue(propertyID);
            result =
                subscription.mode == AuRTPCMode_Multiplicative ? base * others * own : base + others + own;
        }
        holder->SetParam(propertyID, &result, sizeof(result));
        return;
    }
    case AuRTPCSubscriberKind_Bus:
    case AuRTPCSubscriberKind_Node: {
        const bool bus = subscription.kind == AuRTPCSubscriberKind_Bus;
        if (bus && key.pGameObj) return; // busses mix every object: global values only
        auto* node = static_cast<IAuNodeSubscriber*>(subscription.pSubscriber);
        if (!node->HasActivity() && propertyID != kIdleNodeProperty && !(bus && IdleBusProperty(propertyID)))
            return;
        node->SetParamFromRTPC(subscription, propertyID, entry.id, SumCurves(subscription, entry.id, value),
                               key, filter);
        return;
    }
    case AuRTPCSubscriberKind_PlaybackInstance: {
        if (!reachesScoped()) return;
        const f32 result = SumCurves(subscription, entry.id, value);
        static_cast<IAuInstanceSubscriber*>(subscription.pSubscriber)
            ->ApplyRTPCParam(u16(propertyID), &result, sizeof(result));
        return;
    }
    case AuRTPCSubscriberKind_Modulator:
        static_cast<IAuModulatorSubscriber*>(subscription.pSubscriber)
            ->SetParamFromRTPC(propertyID, SumCurves(subscription, entry.id, value), key);
        return;
    case AuRTPCSubscriberKind_SwitchGroup:
        if (subscription.curves.Count() == 0) return;
        static_cast<IAuSwitchGroupSubscriber*>(subscription.pSubscriber)
            ->SetSwitchFromRTPC(subscription.curves[0]->curve.Convert(value), key, filter);
        return;
    default: {
        auto* layer = static_cast<IAuLayerSubscriber*>(subscription.pSubscriber);
        if (!layer->IsActiveForRTPC()) return;
        if (propertyID == AU_RTPC_PROPERTY_GENERIC)
            layer->SetCrossfadePosition(value);
        else
            layer->SetParamFromRTPC(propertyID, entry.id, SumCurves(subscription, entry.id, value), key,
                                    filter);
        return;
    }
    }
}

void CAuRTPCMgr::NotifyModulatorValue(AuRTPCSubscription& subscription, u32 modulatorID, f32 value,
                                      const AuRTPCKey& key) noexcept {
    if (subscription.key.pGameObj && key.pGameObj && key.pGameObj != subscription.key.pGameObj) return;
    if (!subscription.key.MatchesSubKey(key)) return;
    const f32 result = SumCurves(subscription, modulatorID, value);
    switch (subscription.kind) {
    case AuRTPCSubscriberKind_PluginParams:
        static_cast<IAuPluginParamSubscriber*>(subscription.pSubscriber)
            ->SetParam(subscription.propertyID, &result, sizeof(result));
        return;
    case AuRTPCSubscriberKind_Bus:
    case AuRTPCSubscriberKind_Node: {
        auto* node = static_cast<IAuNodeSubscriber*>(subscription.pSubscriber);
        if (node->HasActivity())
            node->SetParamFromRTPC(subscription, subscription.propertyID, modulatorID, result, key, nullptr);
        return;
    }
    case AuRTPCSubscriberKind_Modulator:
        static_cast<IAuModulatorSubscriber*>(subscription.pSubscriber)
            ->SetParamFromRTPC(subscription.propertyID, result, key);
        return;
    default:
        return;
    }
}

f32 CAuRTPCMgr::SumCurves(const AuRTPCSubscription& subscription, u32 paramID, f32 value) noexcept {
    f32 sum = 0.0f;
    for (const AuRTPCCurve* curve : subscription.curves)
        if (curve->drivingID == paramID) sum += curve->curve.Convert(value);
    return sum;
}

bool CAuRTPCMgr::GetParamValue(u32 drivingID, u32 drivingType, u32 propertyID, u32 kind, const AuRTPCKey& key,
                               f32& value, bool& ignore) noexcept {
    ignore = false;
    if (AuRTPCEntry* entry = drivingType == AuRTPCDrivingType_Modulator ? nullptr : FindEntry(drivingID)) {
        AuRTPCKey found = key;
        const f32* slot = entry->values.FindValue(found);
        if (slot) value = *slot;
        return slot != nullptr;
    }
    if (kind != AuRTPCSubscriberKind_PluginParams && (propertyID == 0 || propertyID == 36)) {
        ignore = true;
        value = 1.0f;
        return true;
    }
    return m_pModulators && m_pModulators->GetValue(drivingID, key, value);
}

f32 CAuRTPCMgr::CombinedValue(const AuRTPCSubscription& subscription, const AuRTPCKey& key,
                              u32 exceptDrivingID, bool& anyCurve) noexcept {
    const bool product = subscription.mode == AuRTPCMode_Multiplicative;
    f32 result = product ? 1.0f : 0.0f;
    anyCurve = false;
    for (const AuRTPCCurve* curve : subscription.curves) {
        if (exceptDrivingID && curve->drivingID == exceptDrivingID) continue;
        f32 value = 0.0f;
        bool ignore = false;
        if (!GetParamValue(curve->drivingID, curve->drivingType, subscription.propertyID, subscription.kind,
                           key, value, ignore))
            value = GetDefaultValue(curve->drivingID);
        if (ignore) continue;
        anyCurve = true;
        const f32 converted = curve->curve.Convert(value);
        result = product ? result * converted : result + converted;
    }
    return result;
}

f32 CAuRTPCMgr::WithBase(AuRTPCSubscription& subscription, f32 curves) noexcept {
    if (subscription.mode == AuRTPCMode_Single) return curves;
    const f32 base = static_cast<IAuPluginParamSubscriber*>(subscription.pSubscriber)
                         ->GetBaseValue(subscription.propertyID);
    return subscription.mode == AuRTPCMode_Multiplicative ? base * curves : base + curves;
}

f32 CAuRTPCMgr::GetRTPCConvertedValue(IAuRTPCSubscriber* subscriber, u32 propertyID,
                                      const AuRTPCKey& key) noexcept {
    const AuRTPCSubscription* subscription = FindSubscription(subscriber, propertyID);
    if (!subscription) return 0.0f;
    bool any = false;
    return CombinedValue(*subscription, key, 0, any);
}

f32 CAuRTPCMgr::GetProperty64Value(IAuRTPCSubscriber* subscriber, const AuRTPCKey& key) noexcept {
    const AuRTPCSubscription* subscription = FindSubscription(subscriber, AU_RTPC_PROPERTY_GENERIC);
    if (!subscription || subscription->curves.Count() == 0) return 0.0f;
    const AuRTPCCurve& curve = *subscription->curves[0];
    f32 value = 0.0f;
    bool ignore = false;
    if (!GetParamValue(curve.drivingID, curve.drivingType, AU_RTPC_PROPERTY_GENERIC, subscription->kind, key,
                       value, ignore))
        value = GetDefaultValue(curve.drivingID);
    return ignore ? 0.0f : curve.curve.Convert(value);
}

f32 CAuRTPCMgr::GetRTPCValue(u32 paramID, const AuRTPCKey& key) const {
    AuRTPCEntry* entry = FindEntry(paramID);
    if (!entry) return 0.0f;
    AuRTPCKey found = key;
    const f32* slot = entry->values.FindValue(found);
    return slot ? *slot : entry->defaultValue;
}

AURESULT CAuRTPCMgr::PushSubscription(AuRTPCSubscription& subscription) noexcept {
    const u32 propertyID = subscription.propertyID;
    bool any = false;
    switch (subscription.kind) {
    case AuRTPCSubscriberKind_PluginParams: {
        const f32 value = WithBase(subscription, CombinedValue(subscription, subscription.key, 0, any));
        static_cast<IAuPluginParamSubscriber*>(subscription.pSubscriber)
            ->SetParam(propertyID, &value, sizeof(value));
        break;
    }
    case AuRTPCSubscriberKind_Bus:
    case AuRTPCSubscriberKind_Node:
        static_cast<IAuNodeSubscriber*>(subscription.pSubscriber)->RecalcProps(propertyID);
        break;
    case AuRTPCSubscriberKind_PlaybackInstance: {
        const f32 value = CombinedValue(subscription, subscription.key, 0, any);
        static_cast<IAuInstanceSubscriber*>(subscription.pSubscriber)
            ->ApplyRTPCParam(u16(propertyID), &value, sizeof(value));
        break;
    }
    case AuRTPCSubscriberKind_Modulator:
        static_cast<IAuModulatorSubscriber*>(subscription.pSubscriber)
            ->SetParamFromRTPC(propertyID, CombinedValue(subscription, subscription.key, 0, any),
                               subscription.key);
        break;
    case AuRTPCSubscriberKind_SwitchGroup:
        static_cast<IAuSwitchGroupSubscriber*>(subscription.pSubscriber)
            ->SetSwitchFromRTPC(CombinedValue(subscription, subscription.key, 0, any), subscription.key,
                                nullptr);
        break;
    default:
        static_cast<IAuLayerSubscriber*>(subscription.pSubscriber)->RefreshActiveChildren(propertyID);
        break;
    }
    return AuResultSuccess;
}

AURESULT CAuRTPCMgr::RefreshSubscriber(IAuRTPCSubscriber* subscriber) noexcept {
    AURESULT result = AuResultSuccess;
    for (AuRTPCSubscription* head : m_subscriptions)
        for (AuRTPCSubscription* subscription = head; subscription; subscription = subscription->pNext)
            if (subscription->pSubscriber == subscriber) {
                const AURESULT pushed = PushSubscription(*subscription);
                if (pushed != AuResultSuccess) result = pushed;
            }
    return result;
}

AuRTPCSubscription* CAuRTPCMgr::FindSubscription(IAuRTPCSubscriber* subscriber, u32 propertyID) const {
    for (AuRTPCSubscription* subscription = m_subscriptions[SubscriptionBucket(subscriber, propertyID)];
         subscription; subscription = subscription->pNext)
        if (subscription->pSubscriber == subscriber && subscription->propertyID == propertyID)
            return subscription;
    return nullptr;
}

void CAuRTPCMgr::RemoveFromParam(AuRTPCSubscription* subscription, u32 paramID) {
    AuRTPCEntry* entry = FindEntry(paramID);
    if (!entry) return;
    const u32 at = entry->subscribers.LowerBound(subscription, LessByAddress);
    if (at < entry->subscribers.Count() && entry->subscribers[at] == subscription)
        entry->subscribers.EraseOrdered(at);
    DropIfUnused(entry);
}

void CAuRTPCMgr::DropCurve(AuRTPCSubscription* subscription, u32 index) {
    AuRTPCCurve* curve = subscription->curves[index];
    subscription->curves.EraseOrdered(index);
    // The subscription stays with the driver while another of its curves follows it.
    const bool shared = subscription->curves.IndexOf([curve](const AuRTPCCurve* other) {
        return other->drivingID == curve->drivingID && other->drivingType == curve->drivingType;
    }) < subscription->curves.Count();
    if (!shared) {
        if (curve->drivingType == AuRTPCDrivingType_Modulator) {
            if (m_pModulators) m_pModulators->Unsubscribe(subscription, curve->drivingID);
        } else {
            RemoveFromParam(subscription, curve->drivingID);
        }
    }
    Delete(curve);
}

void CAuRTPCMgr::UnlinkSubscription(AuRTPCSubscription* subscription) {
    for (AuRTPCSubscription** link =
             &m_subscriptions[SubscriptionBucket(subscription->pSubscriber, subscription->propertyID)];
         *link; link = &(*link)->pNext) {
        if (*link == subscription) {
            *link = subscription->pNext;
            --m_uSubscriptionCount;
            return;
        }
    }
}

void CAuRTPCMgr::DropSubscription(AuRTPCSubscription* subscription) {
    bool left = false;
    for (const AuRTPCCurve* curve : subscription->curves) {
        if (curve->drivingType == AuRTPCDrivingType_Modulator) {
            if (m_pModulators) m_pModulators->Unsubscribe(subscription, curve->drivingID);
        } else if (FindEntry(curve->drivingID)) {
            RemoveFromParam(subscription, curve->drivingID);
            left = true;
        }
    }
    if (!left) {
        // Subscribed without a curve (a layer's property 64): look through every parameter.
        for (AuRTPCEntry* head : m_params) {
            for (AuRTPCEntry* entry = head; entry;) {
                AuRTPCEntry* next = entry->pNext; // the entry may go
                RemoveFromParam(subscription, entry->id);
                entry = next;
            }
        }
    }
    for (AuRTPCCurve* curve : subscription->curves)
        Delete(curve);
    UnlinkSubscription(subscription);
    Delete(subscription);
}

AURESULT CAuRTPCMgr::SubscribeRTPC(IAuRTPCSubscriber* subscriber, u32 drivingID, u32 drivingType, u32 mode,
                                   u32 propertyID, u32 curveID, u32 scaling, const AuCurvePoint* points,
                                   u32 count, const AuRTPCKey& key, u32 kind) {
    if (!subscriber) return AuResultInvalidParameter;
    AuRTPCSubscription* subscription = FindSubscription(subscriber, propertyID);
    if (!subscription) {
        subscription = New<AuRTPCSubscription>();
        if (!subscription) return AuResultNoMemory;
        subscription->pSubscriber = subscriber;
        subscription->propertyID = propertyID;
        subscription->key = key;
        subscription->kind = kind;
        subscription->mode = mode;
        AuRTPCSubscription*& head = m_subscriptions[SubscriptionBucket(subscriber, propertyID)];
        subscription->pNext = head;
        head = subscription;
        ++m_uSubscriptionCount;
    } else {
        const u32 at = subscription->curves.IndexOf(
            [curveID](const AuRTPCCurve* curve) { return curve->curveID == curveID; });
        if (at < subscription->curves.Count()) DropCurve(subscription, at);
    }

    AURESULT result = AuResultSuccess;
    AuRTPCCurve* added = nullptr;
    if (points && count) {
        added = New<AuRTPCCurve>();
        if (added) {
            added->curveID = curveID;
            added->drivingID = drivingID;
            added->drivingType = drivingType;
        }
        if (!added) {
            result = AuResultNoMemory;
        } else if ((result = added->curve.Set(points, count, scaling)) != AuResultSuccess ||
                   !subscription->curves.AddLast(added)) {
            if (result == AuResultSuccess) result = AuResultNoMemory;
            Delete(added);
            added = nullptr;
        }
    } else if (!(kind == AuRTPCSubscriberKind_Layer && propertyID == AU_RTPC_PROPERTY_GENERIC)) {
        result = AuResultInvalidParameter;
    }

    if (result == AuResultSuccess) {
        if (drivingType == AuRTPCDrivingType_Modulator) {
            result = m_pModulators ? m_pModulators->Subscribe(subscription, drivingID) : AuResultFail;
        } else if (AuRTPCEntry* entry = FindOrCreateEntry(drivingID)) {
            const u32 at = entry->subscribers.LowerBound(subscription, LessByAddress);
            if (!(at < entry->subscribers.Count() && entry->subscribers[at] == subscription) &&
                !entry->subscribers.Insert(at, subscription))
                result = AuResultNoMemory;
        } else {
            result = AuResultNoMemory;
        }
        if (result != AuResultSuccess && added) {
            // Nothing of this call stays linked.
            subscription->curves.EraseOrdered(subscription->curves.Count() - 1);
            Delete(added);
        }
    }
    if (result != AuResultSuccess) {
        if (subscription->curves.Count() == 0) DropSubscription(subscription);
        return result;
    }
    return RefreshSubscriber(subscriber);
}

AURESULT CAuRTPCMgr::SubscribeProperty64(IAuLayerSubscriber* subscriber, u32 drivingID, u32 drivingType) {
    return SubscribeRTPC(subscriber, drivingID, drivingType, AuRTPCMode_Single, AU_RTPC_PROPERTY_GENERIC, 0,
                         AuCurveScaling_None, nullptr, 0, AuRTPCKey{}, AuRTPCSubscriberKind_Layer);
}

AURESULT CAuRTPCMgr::SubscribeSwitchGroup(IAuSwitchGroupSubscriber* entry, u32 paramID, u32 drivingType,
                                          const AuCurvePoint* points, u32 count) {
    return SubscribeRTPC(entry, paramID, drivingType, AuRTPCMode_Single, AU_RTPC_PROPERTY_GENERIC, 0,
                         AuCurveScaling_None, points, count, AuRTPCKey{}, AuRTPCSubscriberKind_SwitchGroup);
}

void CAuRTPCMgr::UnSubscribeRTPC(IAuRTPCSubscriber* subscriber) {
    for (AuRTPCSubscription*& head : m_subscriptions) {
        for (AuRTPCSubscription* subscription = head; subscription;) {
            AuRTPCSubscription* next = subscription->pNext;
            if (subscription->pSubscriber == subscriber) DropSubscription(subscription);
            subscription = next;
        }
    }
}

void CAuRTPCMgr::UnSubscribeRTPCProperty(IAuRTPCSubscriber* subscriber, u32 propertyID) {
    if (AuRTPCSubscription* subscription = FindSubscription(subscriber, propertyID))
        DropSubscription(subscription);
}

void CAuRTPCMgr::UnSubscribeProperty64(IAuRTPCSubscriber* subscriber) {
    UnSubscribeRTPCProperty(subscriber, AU_RTPC_PROPERTY_GENERIC);
}

void CAuRTPCMgr::UnSubscribeRTPCCurve(IAuRTPCSubscriber* subscriber, u32 propertyID, u32 curveID,
                                      bool* outCurvesRemain) {
    AuRTPCSubscription* subscription = FindSubscription(subscriber, propertyID);
    bool remain = false;
    if (subscription) {
        const u32 at = subscription->curves.IndexOf(
            [curveID](const AuRTPCCurve* curve) { return curve->curveID == curveID; });
        if (at < subscription->curves.Count()) {
            DropCurve(subscription, at);
            if (subscription->curves.Count() == 0)
                DropSubscription(subscription);
            else
                remain = true;
        } else {
            remain = subscription->curves.Count() > 0;
        }
    }
    if (outCurvesRemain) *outCurvesRemain = remain;
}

void CAuRTPCMgr::RemoveKeyValues(u32 paramID, const AuRTPCKey& key) noexcept {
    AuRTPCEntry* entry = FindEntry(paramID);
    if (!entry) return;
    ++m_uHoldingEntries;
    for (u32 i = entry->subscribers.Count(); i-- > 0;) {
        if (i >= entry->subscribers.Count()) continue; // a drop took several
        AuRTPCSubscription* subscription = entry->subscribers[i];
        if (subscription->key == key) DropSubscription(subscription);
    }
    for (AuRTPCTransition* transition = entry->pTransitions; transition;) {
        AuRTPCTransition* next = transition->pNext;
        const bool matches = key.IsGlobal() || ((!key.pGameObj || key.pGameObj == transition->key.pGameObj) &&
                                                key.MatchesSubKey(transition->key));
        if (matches) CancelTransition(*entry, transition);
        transition = next;
    }
    entry->values.RemoveMatching(key);
    --m_uHoldingEntries;
    DropIfUnused(entry);
}

f32 CAuRTPCMgr::GetDefaultValue(u32 paramID, bool* outFound) const {
    const AuRTPCEntry* entry = FindEntry(paramID);
    if (outFound) *outFound = entry != nullptr;
    return entry ? entry->defaultValue : 0.0f;
}

AURESULT CAuRTPCMgr::SetDefaultParamValue(u32 paramID, f32 value) {
    AuRTPCEntry* entry = FindOrCreateEntry(paramID);
    if (!entry) return AuResultNoMemory;
    entry->defaultValue = value;
    entry->bKept = true;
    return AuResultSuccess;
}

AURESULT CAuRTPCMgr::SetRampingParams(u32 paramID, u32 rampKind, f32 up, f32 down) {
    AuRTPCEntry* entry = FindOrCreateEntry(paramID);
    if (!entry) return AuResultNoMemory;
    entry->rampKind = rampKind;
    entry->up = up;
    entry->down = down;
    entry->bKept = true;
    return AuResultSuccess;
}

AURESULT CAuRTPCMgr::AddBuiltInParamBinding(u32 kind, u32 paramID) {
    if (kind == 0 || kind >= AU_RTPC_BUILT_IN_KINDS) return AuResultSuccess;
    AuRTPCEntry* entry = FindOrCreateEntry(paramID);
    if (!entry) return AuResultNoMemory;
    entry->bKept = true;
    AuArray<u32>& ids = m_builtIn[kind];
    if (ids.IndexOf([paramID](u32 id) { return id == paramID; }) < ids.Count()) return AuResultSuccess;
    return ids.AddLast(paramID) ? AuResultSuccess : AuResultNoMemory;
}

void CAuRTPCMgr::UpdateBuiltInParam(u32 kind, const AuRTPCKey& key, f32 value) noexcept {
    if (kind >= AU_RTPC_BUILT_IN_KINDS) return;
    for (u32 i = 0; i < m_builtIn[kind].Count(); ++i)
        SetRTPCInternal(m_builtIn[kind][i], value, key, TransParamsBase{}, AuValueMeaning_Independent);
}

bool CAuRTPCMgr::HasModulatorValue(u32 modulatorID, const AuRTPCKey& key) noexcept {
    f32 value = 0.0f;
    return m_pModulators && m_pModulators->GetValue(modulatorID, key, value);
}

f32 CAuRTPCMgr::GetModulatorValue(u32 modulatorID, const AuRTPCKey& key) noexcept {
    f32 value = 0.0f;
    if (!m_pModulators || !m_pModulators->GetValue(modulatorID, key, value)) return 0.0f;
    return value;
}
