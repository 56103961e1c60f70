#include "hierarchy/AuNodeBase.h"

#include "hierarchy/AuPlaybackLimiter.h"

#include "banks/AuBankMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuLog.h"
#include "core/AuRegistryMgr.h"
#include "parameters/AuRTPCMgr.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <new>

namespace {

IAuDefaultBusSource* s_pDefaultBusSource = nullptr;

template <class T> T* MakeInPool() {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return memory ? new (memory) T() : nullptr;
}

template <class T> void FreeInPool(T*& object) {
    if (!object) return;
    object->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, object);
    object = nullptr;
}

f32 BitsFloat(u32 bits) {
    f32 value;
    memcpy(&value, &bits, 4);
    return value;
}

} // namespace

AuActionExec MakeActionExec(AuActionExecKind kind, CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms,
                            AuCurveInterpolation curve, u32 flags) {
    AuActionExec exec;
    exec.kind = kind;
    exec.pGameObj = gameObj;
    exec.playingID = playingID;
    exec.transitionTimeMs = ms;
    exec.eCurve = curve;
    exec.flags = flags;
    return exec;
}

void AuSetDefaultBusSource(IAuDefaultBusSource* source) {
    s_pDefaultBusSource = source;
}

bool AuBankHasExtraOwner() {
    return g_pBankMgr && g_pBankMgr->LastHeader().uExtraOwnerFlag != 0;
}

CAuModifiedValues::~CAuModifiedValues() {
    for (Value& entry : m_values)
        if (entry.pTransition && g_pTransitionMgr)
            g_pTransitionMgr->RemoveTransitionUser(entry.pTransition, this);
}

CAuModifiedValues::Value* CAuModifiedValues::Find(u8 id) {
    for (Value& entry : m_values)
        if (entry.id == id) return &entry;
    return nullptr;
}

const CAuModifiedValues::Value* CAuModifiedValues::Find(u8 id) const {
    for (const Value& entry : m_values)
        if (entry.id == id) return &entry;
    return nullptr;
}

AURESULT CAuModifiedValues::SetValue(u8 id, f32 value) {
    const f32 previous = GetValue(id);
    Value* entry = Find(id);
    if (!entry) entry = m_values.AddLast(Value{id, previous, nullptr});
    if (!entry) return AuResultFail;
    entry->value = value;
    if (id == AuPropID_Level) {
        if (m_pGameObj)
            m_owner.LevelNotificationForObject(value, m_pGameObj, &m_owner);
        else
            m_owner.LevelNotification(value, &m_owner);
    } else if (const AuPropInfo* info = AuGetPropInfo(id); info && info->target != AU_TARGET_NONE) {
        m_owner.NotifyParamChange(info->target, value - previous, AuRTPCKey(m_pGameObj), false, true);
    }
    return AuResultSuccess;
}

void CAuModifiedValues::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    const u8 id = static_cast<u8>(targetKey);
    SetValue(id, value);
    if (done)
        if (Value* entry = Find(id)) entry->pTransition = nullptr;
}

AURESULT CAuModifiedValues::SetValueWithFade(u8 id, f32 target, i32 fadeMs, AuCurveInterpolation curve,
                                             u32 mode) {
    Value* entry = Find(id);
    // 1: the value the property should read, so the stored one comes off; 2: an offset to where
    // the run-time value is now, a running fade's present value included.
    if (mode == 1)
        target -= m_owner.GetPropFloat(id);
    else if (mode == 2)
        target += entry ? entry->value : GetValue(id);
    if (entry && entry->pTransition && g_pTransitionMgr) {
        g_pTransitionMgr->ChangeParameter(entry->pTransition, id, target, fadeMs, curve, 0);
        return AuResultSuccess;
    }
    if (fadeMs <= 0 || !g_pTransitionMgr) return SetValue(id, target);
    if (!entry) entry = m_values.AddLast(Value{id, GetValue(id), nullptr});
    if (!entry) return AuResultFail;
    AuTransitionParams params;
    params.pTarget = this;
    params.uTargetKey = id;
    params.fStartValue = entry->value;
    params.fTargetValue = target;
    params.lDurationMs = fadeMs;
    params.eCurve = curve;
    // Without a record the manager has already delivered the target with done.
    entry->pTransition = g_pTransitionMgr->AddTransition(params, true);
    return AuResultSuccess;
}

f32 CAuModifiedValues::GetValue(u8 id) const {
    if (const Value* entry = Find(id)) return entry->value;
    return id == AuPropID_Level ? 1.0f : 0.0f;
}

CAuTransition* CAuModifiedValues::Transition(u8 id) const {
    const Value* entry = Find(id);
    return entry ? entry->pTransition : nullptr;
}

CAuNodeBase::CAuNodeBase(u32 id) : CAuIndexable(id) {
    m_flagsA = AU_NODE_A_LIMIT_ALL_OBJECTS;
    m_flagsB = AU_NODE_B_SUM_STATES;
    m_flagsC &= ~0x1F;
}

CAuNodeBase::~CAuNodeBase() {
    m_flagsB |= AU_NODE_B_DESTROYING;
    if (m_pEffects) {
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pEffects);
        m_pEffects = nullptr;
    }
    for (u32 target = 0; target < AU_TARGET_NONE; ++target) {
        if (!HasRTPC(target)) continue;
        if (g_pRTPCMgr) g_pRTPCMgr->UnSubscribeRTPCProperty(this, target);
        m_uRTPCMask &= ~(u64{1} << target);
    }
    FreeInPool(m_pModifiedValues);
    while (CAuStateGroupRecord* record = m_pStateGroups) {
        m_pStateGroups = record->pNext;
        FreeInPool(record);
    }
    if (m_pExtraOwner) {
        // The owner's RemoveChild drops the reference the node holds on it.
        CAuNodeBase* owner = *m_pExtraOwner;
        *m_pExtraOwner = nullptr;
        if (owner) owner->RemoveChild(this);
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pExtraOwner);
        m_pExtraOwner = nullptr;
    }
    if (m_pActivity) {
        LeaveActiveChildren();
        FreeInPool(m_pActivity);
    }
    m_props.Term();
}

CAuIndexTable& CAuNodeBase::OwnTable() {
    return g_pIndex->GetNodeTable((m_flagsB & AU_NODE_B_IS_BUS) != 0);
}

u32 CAuNodeBase::AddRef() {
    return AddRefIn(OwnTable());
}

u32 CAuNodeBase::Release() {
    CAuIndexTable& table = OwnTable();
    table.Lock();
    const u32 count = --m_lRef;
    if (count == 0) {
        // Unlinked first, all under the lock: a lookup either found the node with a reference or
        // cannot find it any more. This very object is unlinked: a second node of the same ID
        // stays.
        table.Remove(this);
        ClearStateTransitions();
        if (m_pParent) m_pParent->RemoveChild(this);
        if (m_pBusNode) m_pBusNode->RemoveChild(this);
        void* memory = dynamic_cast<void*>(this);
        this->~CAuNodeBase();
        AU::MemoryMgr::Free(g_DefaultPoolId, memory);
    }
    table.Unlock();
    return count;
}

void CAuNodeBase::AddToIndex() {
    OwnTable().Add(this);
}

CAuPlaybackInstance* CAuNodeBase::CreateSoundInstance(const AuPlaybackInstanceParams& params) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPlaybackInstance));
    return memory ? new (memory) CAuPlaybackInstance(params) : nullptr;
}

void CAuNodeBase::ClearStateTransitions() {
    for (CAuStateGroupRecord* record = m_pStateGroups; record; record = record->pNext)
        record->StopTransitions();
}

void CAuNodeBase::SetParent(CAuNodeBase* parent) {
    m_pParent = parent;
}

void CAuNodeBase::SetBus(CAuNodeBase* bus) {
    m_pBusNode = bus;
}

void CAuNodeBase::ForgetObject(CAuRegisteredObj*) {}

AURESULT CAuNodeBase::AddChild(CAuNodeBase* child) {
    if (child) child->Release();
    return AuResultNotImplemented;
}

AURESULT CAuNodeBase::AddChildByID(u32 id) {
    if (id == AU_INVALID_UNIQUE_ID) return AuResultInvalidPool;
    CAuIndexable* found = g_pIndex->GetNodePtrAndAddRef(id, false);
    if (!found) return AuResultIDNotFound;
    return AddChild(static_cast<CAuNodeBase*>(found));
}

void CAuNodeBase::RemoveChildByID(u32) {}
void CAuNodeBase::RemoveChild(CAuNodeBase*) {}
void CAuNodeBase::GatherChildren(u32, AuChildInfo*, u32&, u32) {}

bool CAuNodeBase::NotifyChildren(void*, void*, u32, u32, u32) {
    return true;
}

bool CAuNodeBase::HasSource() {
    return true;
}

void CAuNodeBase::ParamNotificationEntry(const AuParamChange& change) {
    ParamNotification(change);
}

void CAuNodeBase::NotifyParamChange(u32 target, f32 value, const AuRTPCKey& key, bool flag, bool delta) {
    if (!HandlesParam(target)) return;
    ParamNotification(AuParamChange{target, value, key, flag, delta});
}

void CAuNodeBase::ApplyParamValue(f32, u32, CAuRegisteredObj*) {}
void CAuNodeBase::RTPCTargetChanged(u32) {}

bool CAuNodeBase::HasPositioning() {
    return false;
}

bool CAuNodeBase::GetMaxRadius(f32&) {
    return false;
}

CAuNodeBase* CAuNodeBase::GetMixingBus() {
    for (CAuNodeBase* node = this; node; node = node->m_pParent)
        if (node->m_pBusNode) return node->m_pBusNode;
    return nullptr;
}

CAuNodeBase* CAuNodeBase::GetOutputBus() {
    if (m_pBusNode) return m_pBusNode->GetOutputBus();
    if (m_pParent) return m_pParent->GetOutputBus();
    return nullptr;
}

AuActivityBlock::~AuActivityBlock() {
    for (AuObjectActivity& entry : perObject)
        CAuPlaybackLimiter::Destroy(entry.pLimiter);
    CAuPlaybackLimiter::Destroy(pGlobalLimiter);
}

AuActivityBlock* CAuNodeBase::EnsureActivity() {
    if (m_pActivity) return m_pActivity;
    AuActivityBlock* block = MakeInPool<AuActivityBlock>();
    if (!block) return nullptr;
    block->limit = GetMaxNumInstances(nullptr);
    block->orderFlag = m_flagsA & AU_NODE_A_LIMIT_ORDER;
    block->useVirtual = (m_flagsA & AU_NODE_A_USE_VIRTUAL) ? 1 : 0;
    block->bAllObjects = (m_flagsA & AU_NODE_A_LIMIT_ALL_OBJECTS) != 0;
    m_pActivity = block;
    return block;
}

bool CAuNodeBase::AddActiveChild(CAuNodeBase* child) {
    AuActivityBlock* block = EnsureActivity();
    if (!block) return false;
    for (CAuNodeBase* present : block->activeChildren)
        if (present == child) return true;
    return block->activeChildren.AddLast(child) != nullptr;
}

void CAuNodeBase::RemoveActiveChild(CAuNodeBase* child) {
    if (!m_pActivity) return;
    AuArray<CAuNodeBase*>& children = m_pActivity->activeChildren;
    const u32 at = children.IndexOf([child](CAuNodeBase* present) { return present == child; });
    children.EraseSwap(at);
    FreeActivityIfEmpty();
}

void CAuNodeBase::LeaveActiveChildren() {
    if (m_pParent) m_pParent->RemoveActiveChild(this);
    if (m_pBusNode) m_pBusNode->RemoveActiveChild(this);
    if (CAuNodeBase* owner = GetExtraOwner()) owner->RemoveActiveChild(this);
}

void CAuNodeBase::FreeActivityIfEmpty() {
    if (!m_pActivity || !m_pActivity->IsEmpty()) return;
    LeaveActiveChildren();
    FreeInPool(m_pActivity);
}

bool CAuNodeBase::IncrementActivityCount(u32 forward) {
    const bool made = m_pActivity == nullptr;
    AuActivityBlock* block = EnsureActivity();
    if (!block) return false;
    // A node that becomes active joins the active children above it; until it has counted it
    // must not be freed as empty on the way.
    ++block->activity;
    bool ok = true;
    if (made) ok = RegisterActivity(forward);
    if ((forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) {
        ok = m_pBusNode->IncrementActivityCount(AU_ACTIVITY_TO_BOTH) && ok;
        forward &= ~AU_ACTIVITY_TO_BUS;
    }
    if ((forward & AU_ACTIVITY_TO_EXTRA_OWNER)) {
        if (CAuNodeBase* owner = GetExtraOwner()) {
            ok = owner->IncrementActivityCount(AU_ACTIVITY_TO_BOTH) && ok;
            forward &= ~AU_ACTIVITY_TO_EXTRA_OWNER;
        }
    }
    // The parent counts what plays below it, as slot 41 counts it down.
    if (m_pParent) ok = m_pParent->IncrementActivityCount(forward) && ok;
    return ok;
}

void CAuNodeBase::DecrementActivityCount(u32 forward) {
    if (m_pActivity && m_pActivity->activity > 0) {
        --m_pActivity->activity;
        FreeActivityIfEmpty();
    }
    if ((forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) {
        m_pBusNode->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
        forward &= ~AU_ACTIVITY_TO_BUS;
    }
    if ((forward & AU_ACTIVITY_TO_EXTRA_OWNER)) {
        if (CAuNodeBase* owner = GetExtraOwner()) {
            owner->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
            forward &= ~AU_ACTIVITY_TO_EXTRA_OWNER;
        }
    }
    if (m_pParent) m_pParent->DecrementActivityCount(forward);
}

bool CAuNodeBase::RegisterActivity(u32 forward) {
    bool ok = true;
    if ((forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) ok = m_pBusNode->AddActiveChild(this) && ok;
    if (forward & AU_ACTIVITY_TO_EXTRA_OWNER)
        if (CAuNodeBase* owner = GetExtraOwner()) ok = owner->AddActiveChild(this) && ok;
    if (m_pParent) ok = m_pParent->AddActiveChild(this) && ok;
    return ok;
}

void CAuNodeBase::TriggerModulators(AuModulatorTrigger& trigger, IAuModulatorTriggerCallback* callback) {
    if (g_pModulatorMgr) {
        trigger.pTarget = static_cast<IAuNodeSubscriber*>(this);
        trigger.targetKind = SubscriberKind();
        g_pModulatorMgr->Trigger(trigger.pTarget, trigger, callback);
    }
    if (m_pParent) m_pParent->TriggerModulators(trigger, callback);
    if (m_pBusNode) m_pBusNode->TriggerModulators(trigger, callback);
}

void CAuNodeBase::PauseTransitions(bool pause) {
    for (CAuStateGroupRecord* record = m_pStateGroups; record; record = record->pNext)
        record->PauseTransitions(pause);
}

AURESULT CAuNodeBase::SetAuProp(u8 id, i32 value, u32, u32) {
    if (static_cast<i32>(GetPropWord(id)) == value) return AuResultSuccess;
    AuPropValue stored;
    stored.i = value;
    if (m_props.SetValue(id, stored) != AuResultSuccess) return AuResultFail;
    RecalcProps(0);
    return AuResultSuccess;
}

AURESULT CAuNodeBase::SetAuProp(u8 id, f32 value, u32, u32) {
    if (GetPropFloat(id) == value) return AuResultSuccess;
    AuPropValue stored;
    stored.f = value;
    if (m_props.SetValue(id, stored) != AuResultSuccess) return AuResultFail;
    RecalcProps(0);
    return AuResultSuccess;
}

void CAuNodeBase::RecalcProps(u32) noexcept {}
void CAuNodeBase::NoOp55() {}
void CAuNodeBase::UpdateStateValues() {
    for (CAuStateGroupRecord* record = m_pStateGroups; record; record = record->pNext)
        record->UpdateValues();
}

CAuModifiedValues* CAuNodeBase::CreateModifiedValues(CAuRegisteredObj* gameObj) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuModifiedValues));
    if (!memory) return nullptr;
    auto* values = new (memory) CAuModifiedValues(*this, gameObj, m_pEffects ? m_pEffects->bypassBits : 0);
    const AuModifiedNode item{key, static_cast<u8>((m_flagsB & AU_NODE_B_IS_BUS) ? 1 : 0)};
    bool registered = true;
    if (gameObj)
        registered = gameObj->AddModifiedNode(item) == AuResultSuccess;
    else if (g_pRegistryMgr)
        registered = g_pRegistryMgr->AddModifiedNode(item) != nullptr;
    if (!registered) FreeInPool(values);
    return values;
}

CAuStateGroupRecord* CAuNodeBase::FindStateGroup(u32 groupID) const {
    for (CAuStateGroupRecord* record = m_pStateGroups; record; record = record->pNext)
        if (record->groupID == groupID) return record;
    return nullptr;
}

CAuStateGroupRecord* CAuNodeBase::AddStateGroup(u32 groupID) {
    if (CAuStateGroupRecord* present = FindStateGroup(groupID)) return present;
    CAuStateGroupRecord* record = CAuStateGroupRecord::Create(*this, groupID);
    if (!record) return nullptr;
    record->pNext = m_pStateGroups;
    m_pStateGroups = record;
    return record;
}

void CAuNodeBase::AddStateValues(AuAccumulatedValues& values) const {
    if (!(m_flagsB & AU_NODE_B_SUM_STATES)) return;
    // Mask bit n wants entry kEntry[n] of property kProp[n].
    static constexpr u8 kProp[5] = {0, 2, 3, 4, 5};
    static constexpr u8 kEntry[5] = {0, 2, 3, 4, 5};
    for (const CAuStateGroupRecord* record = m_pStateGroups; record; record = record->pNext)
        for (u32 bit = 0; bit < 5; ++bit)
            if (values.mask & (1u << bit)) values.values[kEntry[bit]] += record->Value(kProp[bit]);
}

bool CAuNodeBase::CollectLinkedIDs(u32 groupID, AuArray<u32>& out) const {
    const CAuStateGroupRecord* record = FindStateGroup(groupID);
    if (!record) return false;
    if (record->bankByte == 0) {
        out.Term();
        out.AddLast(0);
        return true;
    }
    const u32 value = record->bankByte;
    if (out.IndexOf([value](u32 present) { return present == value; }) == out.Count()) out.AddLast(value);
    return false;
}

bool CAuNodeBase::CollectLinkedIDsInBusChain(u32 groupID, AuArray<u32>& out) const {
    // A bus's parent bus is its own-bus link.
    for (const CAuNodeBase* bus = this; bus; bus = bus->m_pBusNode)
        if (bus->CollectLinkedIDs(groupID, out)) return true;
    return false;
}

bool CAuNodeBase::CollectLinkedIDsFromParents(u32 groupID, AuArray<u32>& out) const {
    for (const CAuNodeBase* node = this; node; node = node->m_pParent) {
        if (node->CollectLinkedIDs(groupID, out)) return true;
        if (node->m_pBusNode) return node->m_pBusNode->CollectLinkedIDsInBusChain(groupID, out);
    }
    return false;
}

AuPropValue* CAuNodeBase::GetPluginProp(u32 n) {
    const u32 id = AuPropID_FirstPlugin + n;
    return id <= 0xFF ? m_props.GetValue(static_cast<u8>(id)) : nullptr;
}

AURESULT CAuNodeBase::SetMixerPlugin(u32, bool) {
    return AuResultFail;
}

AURESULT CAuNodeBase::RecalcNotificationWithID(const AuRTPCSubscription& subscription, u32 target,
                                               u32 paramID, f32 value, const AuRTPCKey& key, bool flag,
                                               const CAuRTPCFilter* filter) {
    switch (target) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 5:
    case 19:
    case 29:
    case 30:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
    case 56:
    case 57:
    case 58:
    case 59:
    case 60:
    case 61:
    case 62: {
        // The manager tells before it stores: the curves still give the old value here.
        const f32 now = EvaluateRTPCCurves(paramID, subscription);
        NotifyParamChange(target, value - now, key, flag, true);
        return AuResultSuccess;
    }
    case 6:
    case 39:
    case 40:
        return AuResultSuccess;
    case AuTarget_Priority:
        if ((m_flagsA & AU_NODE_A_OVERRIDE_PRIORITY) || !m_pParent)
            ParamNotification(AuParamChange{AuTarget_Priority, value, key, flag, false});
        return AuResultSuccess;
    case AuTarget_InstanceLimit:
        if ((m_flagsA & AU_NODE_A_OWN_LIMIT) || !m_pParent)
            SetMaxNumInstances(static_cast<u16>(static_cast<i32>(value)), key.pGameObj, filter, true);
        return AuResultSuccess;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 20:
    case 21:
    case 37:
    case 38:
    case 65:
    case 66:
    case 67:
    case 68:
        ForwardParam(value, target, key.pGameObj, flag);
        return AuResultSuccess;
    case 24:
    case 25:
    case 26:
    case 27:
    case 28: {
        const u32 bit = 1u << (target - AuTarget_BypassSlot0);
        BypassNotification(value != 0.0f ? bit : 0, bit, key.pGameObj, flag);
        return AuResultSuccess;
    }
    case AuTarget_ApplyParam:
        ApplyParamValue(value, AuTarget_ApplyParam, key.pGameObj);
        return AuResultSuccess;
    default:
        return AuResultFail;
    }
}

void CAuNodeBase::SetParamFromRTPC(const AuRTPCSubscription& subscription, u32 propertyID, u32 paramID,
                                   f32 value, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept {
    RecalcNotificationWithID(subscription, propertyID, paramID, value, key, filter != nullptr, filter);
}

void CAuNodeBase::UnsetRTPC(u32 target) {
    if (target >= AU_TARGET_NONE) return;
    if (g_pRTPCMgr) g_pRTPCMgr->UnSubscribeRTPCProperty(this, target);
    m_uRTPCMask &= ~(u64{1} << target);
    RecalcProps(1);
    RTPCTargetChanged(target);
}

bool CAuNodeBase::OverridesParam(u32) {
    return false;
}

bool CAuNodeBase::HandlesParam(u32) {
    return true;
}

void CAuNodeBase::SetPositioningType(bool, u32) {}

void CAuNodeBase::CollectVolumes(AuCollectedVolumes& volumes, CAuRegisteredObj* gameObj, u32 arg,
                                 bool replace) {
    if (CAuNodeBase* owner = GetExtraOwner()) {
        const f32 prop8 = GetProp8Value(gameObj);
        const f32 prop9 = GetProp9Value(gameObj);
        if (replace) {
            volumes.values[1] = prop8;
            volumes.values[3] = prop9;
        } else {
            volumes.values[1] += prop8;
            volumes.values[3] += prop9;
        }
        owner->CollectVolumes(volumes, gameObj, arg, false);
        // The bus volumes up to the first bus that has an effect of its own.
        CAuNodeBase* bus = GetMixingBus();
        while (bus) {
            volumes.values[2] += bus->GetPropFloat(AuPropID_Volume);
            const AuEffectBlock* effects = bus->Effects();
            bool hasEffect = false;
            for (u32 slot = 0; effects && slot < AU_NODE_EFFECT_SLOTS; ++slot)
                hasEffect = hasEffect || effects->slots[slot].pluginID != 0;
            if (hasEffect) break;
            bus = bus->Parent();
        }
    }
    if (m_pParent) m_pParent->CollectVolumes(volumes, gameObj, arg, replace);
}

AURESULT CAuNodeBase::SetProp8FromAction(f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                         AuCurveInterpolation curve) {
    CAuModifiedValues* values = GetModifiedValues(gameObj);
    if (!values) return AuResultFail;
    return values->SetValueWithFade(AuPropID_Prop8, value, fadeMs, curve, 0);
}

CAuNodeBase* CAuNodeBase::GetExtraOwner() {
    return m_pExtraOwner ? *m_pExtraOwner : nullptr;
}

AURESULT CAuNodeBase::SetExtraOwner(CAuNodeBase* owner) {
    if (!m_pExtraOwner) {
        if (!owner) return AuResultSuccess;
        m_pExtraOwner =
            static_cast<CAuNodeBase**>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuNodeBase*)));
        if (!m_pExtraOwner) return AuResultNoMemory;
    }
    *m_pExtraOwner = owner;
    return AuResultSuccess;
}

f32 CAuNodeBase::GetProp8Value(CAuRegisteredObj* gameObj) {
    if (HasRTPC(AuTarget_Prop8)) return GetRTPCValue(AuTarget_Prop8, gameObj);
    return GetPropFloat(AuPropID_Prop8);
}

f32 CAuNodeBase::GetProp9Value(CAuRegisteredObj* gameObj) {
    f32 value = GetPropFloat(AuPropID_Prop9);
    if (HasRTPC(AuTarget_Prop9)) value += GetRTPCValue(AuTarget_Prop9, gameObj);
    return value;
}

void CAuNodeBase::ForwardParam(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) {
    if (m_flagsB & AU_NODE_B_OWN_POSITIONING) SetBusValue(value, target, gameObj, flag);
}

AURESULT CAuNodeBase::SetPositioningParams(AuRecordCursor&) {
    return AuResultNotImplemented;
}

AURESULT CAuNodeBase::SetAuxParams(AuRecordCursor&) {
    return AuResultNotImplemented;
}

AURESULT CAuNodeBase::SetAdvSettingsParams(AuRecordCursor&) {
    return AuResultNotImplemented;
}

AuRTPCSubscriberKind CAuNodeBase::SubscriberKind() {
    return AuRTPCSubscriberKind_Node;
}

CAuNodeBase* CAuNodeBase::GetDefaultBusIfOrphan() {
    if (CAuNodeBase* owner = GetExtraOwner()) return owner;
    if (!s_pDefaultBusSource) return nullptr;
    CAuNodeBase* bus = s_pDefaultBusSource->GetDefaultBusAddRef();
    if (!bus) return nullptr;
    AddRef();
    bus->AddChild(this); // the default bus makes itself the extra owner
    bus->Release();
    return GetExtraOwner() == bus ? bus : nullptr;
}

AURESULT CAuNodeBase::Stop(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms,
                           AuCurveInterpolation curve, u32 flags) {
    return ExecuteAction(MakeActionExec(AuActionExec_Stop, gameObj, playingID, ms, curve, flags));
}

AURESULT CAuNodeBase::Pause(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms,
                            AuCurveInterpolation curve, u32 flags) {
    return ExecuteAction(MakeActionExec(AuActionExec_Pause, gameObj, playingID, ms, curve, flags));
}

AURESULT CAuNodeBase::Resume(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms,
                             AuCurveInterpolation curve, u32 flags) {
    return ExecuteAction(MakeActionExec(AuActionExec_Resume, gameObj, playingID, ms, curve, flags));
}

AURESULT CAuNodeBase::PrepareNodeByID(u32 id) {
    auto* node = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(id, false));
    if (!node) return AuResultIDNotFound;
    const AURESULT result = node->PrepareData();
    if (result != AuResultSuccess) node->Release();
    return result;
}

void CAuNodeBase::UnprepareNodeByID(u32 id) {
    auto* node = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(id, false));
    if (!node) return;
    node->UnPrepareData();
    node->Release();
    node->Release();
}

bool CAuNodeBase::IsDescendantOf(const CAuNodeBase* bus) const {
    for (const CAuNodeBase* node = this; node; node = node->m_pBusNode ? node->m_pBusNode : node->m_pParent)
        if (node == bus) return true;
    return false;
}

f32 CAuNodeBase::GetPropFloat(u8 id) {
    const AuPropInfo* info = AuGetPropInfo(id);
    const AuPropValue* stored = m_props.GetValue(id);
    if (!stored) return AuPropDefaultFloat(id);
    return info && info->isInteger ? static_cast<f32>(stored->i) : stored->f;
}

u32 CAuNodeBase::GetPropWord(u8 id) {
    const AuPropValue* stored = m_props.GetValue(id);
    return stored ? stored->u : AuPropDefaultWord(id);
}

f32 CAuNodeBase::GetRTPCValue(u32 target, CAuRegisteredObj* gameObj) {
    if (!g_pRTPCMgr) return 0.0f;
    return g_pRTPCMgr->GetRTPCConvertedValue(this, target, AuRTPCKey(gameObj));
}

void CAuNodeBase::GetPriority(CAuRegisteredObj* gameObj, f32& priority, f32& distanceOffset) {
    CAuNodeBase* node = this;
    while (node->m_pParent && !(node->m_flagsA & AU_NODE_A_OVERRIDE_PRIORITY))
        node = node->m_pParent;
    priority = node->HasRTPC(AuTarget_Priority) ? node->GetRTPCValue(AuTarget_Priority, gameObj)
                                                : node->GetPropFloat(AuPropID_Priority);
    distanceOffset = (node->m_flagsA & AU_NODE_A_DISTANCE_OFFSET)
                         ? node->GetPropFloat(AuPropID_PriorityDistanceOffset)
                         : 0.0f;
}

u16 CAuNodeBase::GetMaxNumInstances(CAuRegisteredObj* gameObj) {
    const u16 stored = m_uLimitWord & 0x3FF;
    if (HasRTPC(AuTarget_InstanceLimit) && stored != 0)
        return static_cast<u16>(static_cast<i32>(GetRTPCValue(AuTarget_InstanceLimit, gameObj)));
    return stored;
}

f32 CAuNodeBase::EvaluateRTPCCurves(u32 paramID, const AuRTPCSubscription& subscription) {
    if (!g_pRTPCMgr) return 0.0f;
    bool known = false;
    g_pRTPCMgr->GetDefaultValue(paramID, &known);
    if (!known &&
        (subscription.propertyID == AuTarget_Volume || subscription.propertyID == AuTarget_Modulated)) {
        for (const AuRTPCCurve* curve : subscription.curves)
            if (curve->drivingID == paramID && curve->drivingType == AuRTPCDrivingType_Modulator) return 1.0f;
    }
    const f32 value = g_pRTPCMgr->GetRTPCValue(paramID, subscription.key);
    return CAuRTPCMgr::SumCurves(subscription, paramID, value);
}

AuEffectBlock* CAuNodeBase::EnsureEffects() {
    if (m_pEffects) return m_pEffects;
    auto* block = static_cast<AuEffectBlock*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuEffectBlock)));
    if (!block) return nullptr;
    memset(block, 0, sizeof(AuEffectBlock));
    block->stamp = AU_EFFECT_STAMP_BYPASS;
    m_pEffects = block;
    return block;
}

AURESULT CAuNodeBase::SetEffect(u32 slot, u32 pluginID, bool shareSet, i32 stamp) {
    if (slot >= AU_NODE_EFFECT_SLOTS) return AuResultInvalidParameter;
    AuEffectBlock* block = EnsureEffects();
    if (!block) return AuResultNoMemory;
    if (stamp < block->stamp) return AuResultSuccess;
    block->stamp = stamp;
    AuEffectSlot& entry = block->slots[slot];
    if (entry.pluginID == pluginID && (entry.bShareSet != 0) == shareSet) return AuResultSuccess;
    entry.pluginID = pluginID;
    entry.bShareSet = shareSet ? 1 : 0;
    RecalcProps(0);
    EffectChanged(slot);
    return AuResultSuccess;
}

AURESULT CAuNodeBase::SetEffectRendered(u32 slot, bool rendered) {
    if (slot >= AU_NODE_EFFECT_SLOTS) return AuResultInvalidParameter;
    AuEffectBlock* block = EnsureEffects();
    if (!block) return AuResultNoMemory;
    AuEffectSlot& entry = block->slots[slot];
    entry.bRendered = rendered ? 1 : 0;
    if (rendered && entry.pluginID != 0) {
        entry.pluginID = 0;
        entry.bShareSet = 0;
        RecalcProps(0);
        EffectChanged(slot);
    }
    return AuResultSuccess;
}

AURESULT CAuNodeBase::SetBypass(u8 bits, u8 mask) {
    if (bits == 0 && !m_pEffects) return AuResultSuccess;
    AuEffectBlock* block = EnsureEffects();
    if (!block) return AuResultNoMemory;
    block->bypassBits = u8((block->bypassBits & ~mask) | (bits & mask));
    SetFxBypassBits(bits, mask);
    BypassNotification(bits, mask, nullptr, false);
    return AuResultSuccess;
}

void CAuNodeBase::SetBypassFromAction(u8 bits, u8 mask, CAuRegisteredObj* gameObj) {
    if (m_pModifiedValues && m_pModifiedValues->GameObj() == gameObj)
        m_pModifiedValues->SetBypassBits(bits, mask);
    if (!gameObj) SetFxBypassBits(bits, mask);
    BypassNotification(bits, mask, gameObj, false);
}

void CAuNodeBase::SetUseState(bool use) {
    SetFlagsB(AU_NODE_B_SUM_STATES, use);
    RecalcProps(0);
}

void CAuNodeBase::ResetBypassFromAction(u8 mask, CAuRegisteredObj* gameObj) {
    SetBypassFromAction(m_pEffects ? m_pEffects->bypassBits : 0, mask, gameObj);
}

bool CAuNodeBase::GetPositioningPair(CAuRegisteredObj* gameObj, AuPositioningPair& out) {
    const bool curves = HasRTPC(AuTarget_Positioning1) || HasRTPC(AuTarget_Positioning2);
    if (curves) {
        out.first = HasRTPC(AuTarget_Positioning1) ? GetRTPCValue(AuTarget_Positioning1, gameObj) : 0.0f;
        out.second = HasRTPC(AuTarget_Positioning2) ? GetRTPCValue(AuTarget_Positioning2, gameObj) : 0.0f;
    } else {
        out.first = GetPropFloat(AuPropID_Positioning1);
        out.second = GetPropFloat(AuPropID_Positioning2);
    }
    out.third = GetPropFloat(AuPropID_Positioning3);
    out.bPanner2D = (m_flagsB & AU_NODE_B_PANNER_2D) != 0;
    return curves;
}

void CAuNodeBase::GetLinkedPluginSettings(CAuIndexable*& io) {
    CAuNodeBase* node = this;
    while (!(node->m_flagsA & AU_NODE_A_OVERRIDE_PLUGIN) && !node->m_pBusNode && node->m_pParent)
        node = node->m_pParent;
    const u32 id = node->GetPropWord(AuPropID_AttachedPlugin);
    CAuIndexable* found =
        id == 0xFFFFFFFFu ? nullptr : g_pIndex->GetPtrAndAddRef(AuIndexPluginSettings19, id);
    if (io) io->Release();
    io = found;
}

AURESULT CAuNodeBase::SetNodeBaseParams(AuRecordCursor& cursor, bool effectsOnly) {
    AURESULT result = SetInitialFxParams(cursor, effectsOnly);
    if (result != AuResultSuccess || effectsOnly) return result;

    u8 overrideByte = 0;
    u32 busID = 0;
    u32 parentID = 0;
    u8 bits = 0;
    if (!cursor.Read(overrideByte) || !cursor.Read(busID) || !cursor.Read(parentID)) return AuResultBadHeader;
    SetFlagsA(AU_NODE_A_OVERRIDE_PLUGIN, overrideByte & 1);

    if (busID != 0) {
        auto* bus = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(busID, true));
        if (!bus) return AuResultFail;
        AddRef();
        result = bus->AddChild(this);
        bus->Release();
        if (result != AuResultSuccess) return result;
    }
    if (parentID != 0) {
        // A parent that is not loaded yet links the node through its own children list.
        if (auto* parent = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(parentID, false))) {
            AddRef();
            result = parent->AddChild(this);
            parent->Release();
            if (result != AuResultSuccess) return result;
        }
    }

    if (!cursor.Read(bits)) return AuResultBadHeader;
    const u8 oldA = m_flagsA;
    SetFlagsA(AU_NODE_A_OVERRIDE_PRIORITY, bits & 1);
    if (m_flagsA != oldA) RecalcProps(0);
    const u8 midA = m_flagsA;
    SetFlagsA(AU_NODE_A_DISTANCE_OFFSET, bits & 2);
    if (m_flagsA != midA) RecalcProps(0);
    m_flagsC = u8((m_flagsC & ~0x0F) | ((bits >> 2) & 0x0F));

    if ((result = SetInitialParams(cursor)) != AuResultSuccess) return result;
    if ((result = SetPositioningParams(cursor)) != AuResultSuccess) return result;
    if ((result = SetAuxParams(cursor)) != AuResultSuccess) return result;
    if ((result = SetAdvSettingsParams(cursor)) != AuResultSuccess) return result;
    if ((result = ReadStateChunk(cursor)) != AuResultSuccess) return result;
    if ((result = ReadRTPCList(cursor)) != AuResultSuccess) return result;
    if (AuBankHasExtraOwner()) return ReadExtraOwner(cursor);
    return AuResultSuccess;
}

AURESULT CAuNodeBase::ReadStateChunk(AuRecordCursor& cursor) {
    u32 groups = 0;
    if (!cursor.Read(groups)) return AuResultBadHeader;
    // Each group takes at least 7 bytes: a count past the record is refused before anything.
    if (cursor.Left() / 7 < groups) return AuResultBadHeader;
    for (u32 g = 0; g < groups; ++g) {
        u32 groupID = 0;
        u8 bankByte = 0;
        u16 states = 0;
        if (!cursor.Read(groupID)) return AuResultBadHeader;
        CAuStateGroupRecord* record = AddStateGroup(groupID);
        if (!record) {
            AuLog(AuLogLevel::Error, "node %u: state group %u refused", key, groupID);
            return AuResultFail;
        }
        if (!cursor.Read(bankByte) || !cursor.Read(states)) return AuResultBadHeader;
        record->bankByte = bankByte;
        for (u32 s = 0; s < states; ++s) {
            u32 stateID = 0, objectID = 0;
            if (!cursor.Read(stateID) || !cursor.Read(objectID)) return AuResultBadHeader;
            const AURESULT result = record->LinkState(stateID, objectID);
            if (result != AuResultSuccess) return result;
        }
    }
    return AuResultSuccess;
}

AURESULT CAuNodeBase::ReadRTPCList(AuRecordCursor& cursor) {
    u16 count = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    for (u32 i = 0; i < count; ++i) {
        u32 paramID = 0, curveID = 0;
        u8 drivingType = 0, mode = 0, target = 0, scaling = 0;
        u16 points = 0;
        if (!cursor.Read(paramID) || !cursor.Read(drivingType) || !cursor.Read(mode) ||
            !cursor.Read(target) || !cursor.Read(curveID) || !cursor.Read(scaling) || !cursor.Read(points))
            return AuResultBadHeader;
        const u8* bytes = cursor.Take(u32{points} * AU_BANK_CURVE_POINT_SIZE);
        if (!bytes) return AuResultBadHeader;
        if (target >= AU_TARGET_NONE) continue;
        m_uRTPCMask |= u64{1} << target;
        if (!g_pRTPCMgr) continue;
        // Points are read in place: the manager copies them with the scaling.
        AuCurvePoint* copy = nullptr;
        if (points > 0) {
            copy = static_cast<AuCurvePoint*>(
                AU::MemoryMgr::Malloc(g_DefaultPoolId, u32{points} * sizeof(AuCurvePoint)));
            if (!copy) return AuResultNoMemory;
            for (u32 p = 0; p < points; ++p) {
                const u8* at = bytes + p * AU_BANK_CURVE_POINT_SIZE;
                u32 x, y, shape;
                memcpy(&x, at, 4);
                memcpy(&y, at + 4, 4);
                memcpy(&shape, at + 8, 4);
                copy[p].x = BitsFloat(x);
                copy[p].y = BitsFloat(y);
                copy[p].interpolation = shape;
            }
        }
        const AURESULT result =
            g_pRTPCMgr->SubscribeRTPC(this, paramID, drivingType, mode, target, curveID, scaling, copy,
                                      points, AuRTPCKey{}, SubscriberKind());
        if (copy) AU::MemoryMgr::Free(g_DefaultPoolId, copy);
        if (result != AuResultSuccess) return result;
        RTPCTargetChanged(target);
    }
    return AuResultSuccess;
}

AURESULT CAuNodeBase::ReadExtraOwner(AuRecordCursor& cursor) {
    u32 ownerID = 0;
    if (!cursor.Read(ownerID)) return AuResultBadHeader;
    if (ownerID == 0) return AuResultSuccess;
    if (!m_pExtraOwner) {
        m_pExtraOwner =
            static_cast<CAuNodeBase**>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuNodeBase*)));
        if (!m_pExtraOwner) return AuResultNoMemory;
        *m_pExtraOwner = nullptr;
    }
    auto* owner = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(ownerID, true));
    if (!owner) return AuResultFail;
    AddRef();
    const AURESULT result = owner->AddChild(this);
    owner->Release();
    return result;
}

void CAuNodeBase::FindFxSettings(u32 slot, AuEffectRecord& io) const {
    if (io.pSettings) io.pSettings->Release();
    io = AuEffectRecord{};
    if (!m_pEffects || slot >= AU_NODE_EFFECT_SLOTS) return;
    const AuEffectSlot& entry = m_pEffects->slots[slot];
    io.pSettings = CAuPluginSettings::Find(entry.pluginID, entry.bShareSet != 0);
}

u32 CAuNodeBase::FindFxMediaID(u32 slot, u32 index) const {
    if (!m_pEffects) return 0xFFFFFFFFu;
    AuEffectRecord record;
    FindFxSettings(slot, record);
    if (!record.pSettings) return 0;
    const u32 mediaID = record.pSettings->GetMediaID(index);
    record.pSettings->Release();
    return mediaID;
}
