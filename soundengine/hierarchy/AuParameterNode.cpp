#include "hierarchy/AuParameterNode.h"

#include "hierarchy/AuAttenuation.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuPlaybackLimiter.h"

#include "core/AuAudioMgr.h"
#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <new>

IAuNodeInstances* g_pNodeInstances = nullptr;
IAuPlaybackLimits* g_pPlaybackLimits = nullptr;
bool g_bMotionDevicesPresent = false;

namespace {

// Above the 0 to 100 of real priorities.
constexpr f32 kPriorityAboveAll = 101.0f;

f32 WordFloat(u32 word) {
    f32 value;
    memcpy(&value, &word, 4);
    return value;
}

u32 FloatWord(f32 value) {
    u32 word;
    memcpy(&word, &value, 4);
    return word;
}

bool IsIntegerProp(u8 id) {
    const AuPropInfo* info = AuGetPropInfo(id);
    return info && info->isInteger;
}

// Half away from zero; only finite values reach it.
f64 RoundHalfAwayWide(f64 value) {
    return value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5);
}

// The same, saturated to the 32-bit range.
i32 RoundHalfAway(f64 value) {
    return static_cast<i32>(std::clamp(RoundHalfAwayWide(value), f64{INT32_MIN}, f64{INT32_MAX}));
}

i32 RoundedCurveValue(f32 value) {
    if (!std::isfinite(value)) return 0;
    if (value > 1e9f) return 1000000000;
    if (value < -1e9f) return -1000000000;
    return RoundHalfAway(value);
}

void DestroyHolder(CAuModifiedValues* values) {
    values->~CAuModifiedValues();
    AU::MemoryMgr::Free(g_DefaultPoolId, values);
}

} // namespace

i32 AuMillisecondsToSamples(f32 ms) {
    return RoundHalfAway(f64(ms) * g_OutputTiming.uSampleRate * 0.001);
}

i32 AuSecondsToSamples(f32 seconds) {
    return RoundHalfAway(f64(seconds) * g_OutputTiming.uSampleRate);
}

CAuParameterNode::CAuParameterNode(u32 id) : CAuNodeBase(id) {}

CAuParameterNode::~CAuParameterNode() {
    for (ObjectHolder& holder : m_objectHolders)
        DestroyHolder(holder.pValues);
    m_objectHolders.Term();
    if (m_pPositioning) {
        m_pPositioning->~CAuPositioningParams();
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pPositioning);
    }
    m_layers.Term();
    if (m_pAuxBusses) AU::MemoryMgr::Free(g_DefaultPoolId, m_pAuxBusses);
    m_ranges.Term();
}

CAuParameterNode* CAuParameterNode::ParentNode() const {
    return m_pParent ? dynamic_cast<CAuParameterNode*>(m_pParent) : nullptr;
}

void CAuParameterNode::ForgetObject(CAuRegisteredObj* gameObj) {
    const u32 at =
        m_objectHolders.IndexOf([gameObj](const ObjectHolder& h) { return h.pGameObj == gameObj; });
    if (at == m_objectHolders.Count()) return;
    DestroyHolder(m_objectHolders[at].pValues);
    m_objectHolders.EraseSwap(at);
}

AURESULT CAuParameterNode::ExecuteActionExceptChecked(const AuActionExec& exec) {
    for (CAuNodeBase* node = m_pParent; node; node = node->Parent()) {
        const bool isBus = (node->FlagsB() & AU_NODE_B_IS_BUS) != 0;
        for (u32 i = 0; i < exec.exceptionCount; ++i)
            if (exec.pExceptions[i].id == node->key && (exec.pExceptions[i].isBus != 0) == isBus)
                return AuResultSuccess;
    }
    return ExecuteActionExcept(exec);
}

bool CAuParameterNode::CountsLimit() const {
    return (m_flagsA & AU_NODE_A_OWN_LIMIT) || !m_pParent;
}

AuObjectActivity* CAuParameterNode::FindObjectActivity(CAuRegisteredObj* gameObj) const {
    if (!m_pActivity) return nullptr;
    for (AuObjectActivity& entry : m_pActivity->perObject)
        if (entry.pGameObj == gameObj) return &entry;
    return nullptr;
}

AURESULT CAuParameterNode::CountLimited(AuActivityBlock& block, AuPlayCountRecord& record) {
    CAuPlaybackLimiter** list = &block.pGlobalLimiter;
    u16 limit = block.limit;
    u32 counted = 0;
    CAuRegisteredObj* gameObj = nullptr;
    if (!block.bAllObjects) {
        ++block.limited;
        AuObjectActivity* entry = FindObjectActivity(record.pGameObj);
        if (!entry) {
            // The undo of the count finds no entry and lowers only the block's count.
            if (block.perObject.Count() == block.perObject.Capacity() && !block.perObject.Grow(4))
                return AuResultNoMemory;
            entry = block.perObject.AddLast({record.pGameObj, nullptr, 0, 0});
        }
        list = &entry->pLimiter;
        limit = GetMaxNumInstances(record.pGameObj);
        gameObj = record.pGameObj;
        ++entry->playing;
        counted = entry->playing > entry->virtualCount ? entry->playing - entry->virtualCount : 0u;
    } else {
        ++block.limited;
        counted = block.limited > block.virtualCount ? block.limited - block.virtualCount : 0u;
        // Once an instance has given way in this pass, the global list asks for no other.
        if (record.removed != 0) counted = 0;
    }
    if (!*list) {
        *list = CAuPlaybackLimiter::Create(AU_LIMITER_KIND_1, limit, block.orderFlag, block.useVirtual);
        if (!*list) {
            UncountLimited(record);
            return AuResultNoMemory;
        }
    }
    record.pNodeLimiter = *list;
    if (limit == 0 || !g_pPlaybackLimits || counted <= u32{limit} + record.removed) return AuResultSuccess;
    CAuPlaybackInstance* victim = nullptr;
    const AURESULT result = g_pPlaybackLimits->ApplyPlaybackLimit(
        **list, limit, record.priority, gameObj, block.orderFlag != 0, block.useVirtual != 0, victim);
    if (AuGaveWayUnder(victim, GetOutputBus())) ++record.removed;
    return result;
}

void CAuParameterNode::UncountLimited(AuPlayCountRecord& record) {
    if (!m_pActivity) return;
    AuActivityBlock& block = *m_pActivity;
    if (block.limited > 0) --block.limited;
    if (block.bAllObjects) {
        if (block.limited == 0 && block.pGlobalLimiter && block.pGlobalLimiter->Count() == 0)
            CAuPlaybackLimiter::Destroy(block.pGlobalLimiter);
        return;
    }
    AuObjectActivity* entry = FindObjectActivity(record.pGameObj);
    if (!entry) return;
    if (entry->playing > 0) --entry->playing;
    ReapplyLimit(*entry, record);
    if (entry->playing != 0 || entry->virtualCount != 0) return;
    CAuPlaybackLimiter::Destroy(entry->pLimiter);
    block.perObject.EraseSwap(static_cast<u32>(entry - &block.perObject[0]));
}

void CAuParameterNode::ReapplyLimit(AuObjectActivity& entry, AuPlayCountRecord& record) {
    if (!record.bCheckLimit || !entry.pLimiter || !g_pPlaybackLimits) return;
    const u16 limit = entry.pLimiter->Maximum();
    const u32 live = entry.playing > entry.virtualCount ? entry.playing - entry.virtualCount : 0u;
    if (limit == 0 || live <= limit) return;
    CAuPlaybackInstance* victim = nullptr;
    g_pPlaybackLimits->ApplyPlaybackLimit(*entry.pLimiter, limit, kPriorityAboveAll, record.pGameObj,
                                          entry.pLimiter->OrderFlag(), entry.pLimiter->UseVirtual(), victim);
    if (victim) ++record.removed;
}

namespace {

// The first failure stays the result.
void Merge(AURESULT& result, AURESULT more) {
    if (result == AuResultSuccess) result = more;
}

} // namespace

AURESULT CAuParameterNode::IncrementPlayCount(void* counter) {
    AuActivityBlock* block = EnsureActivity();
    if (!block) return AuResultNoMemory;
    ++block->playing;
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    // A node that starts playing joins the active children above it, as an active one does, so
    // that level and parameter changes of its busses and parents reach its instances.
    // Without memory to join, the start fails rather than play deaf to them.
    const bool joined = block->playing != 1 || RegisterActivity(record ? record->forward : 0);
    if (!record) {
        const AURESULT up = m_pParent ? m_pParent->IncrementPlayCount(nullptr) : AuResultSuccess;
        return joined ? up : AuResultNoMemory;
    }
    AURESULT result = AuResultSuccess;
    if (CountsLimit() && !record->pNodeLimitedAt) {
        record->pNodeLimitedAt = this;
        result = CountLimited(*block, *record);
    }
    if ((record->forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) {
        record->forward &= ~AU_ACTIVITY_TO_BUS;
        Merge(result, m_pBusNode->IncrementPlayCount(record));
    }
    if (CAuNodeBase* owner = GetExtraOwner(); owner && (record->forward & AU_ACTIVITY_TO_EXTRA_OWNER)) {
        record->forward &= ~AU_ACTIVITY_TO_EXTRA_OWNER;
        Merge(result, owner->IncrementPlayCount(record));
    }
    if (m_pParent) Merge(result, m_pParent->IncrementPlayCount(record));
    return joined ? result : AuResultNoMemory;
}

void CAuParameterNode::DecrementPlayCount(void* counter) {
    if (m_pActivity && m_pActivity->playing > 0) --m_pActivity->playing;
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    if (record) {
        // A record that counted the play here may come back for its end.
        if (CountsLimit() && (!record->pNodeLimitedAt || record->pNodeLimitedAt == this)) {
            record->pNodeLimitedAt = this;
            UncountLimited(*record);
        }
        if ((record->forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) {
            record->forward &= ~AU_ACTIVITY_TO_BUS;
            m_pBusNode->DecrementPlayCount(record);
        }
        if (CAuNodeBase* owner = GetExtraOwner(); owner && (record->forward & AU_ACTIVITY_TO_EXTRA_OWNER)) {
            record->forward &= ~AU_ACTIVITY_TO_EXTRA_OWNER;
            owner->DecrementPlayCount(record);
        }
    }
    FreeActivityIfEmpty();
    if (m_pParent) m_pParent->DecrementPlayCount(counter);
}

void CAuParameterNode::IncrementVirtualCount(void* counter) {
    AuActivityBlock* block = EnsureActivity();
    if (block) ++block->virtualCount;
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    if (block && record && CountsLimit() && !record->pNodeLimitedAt) {
        record->pNodeLimitedAt = this;
        if (AuObjectActivity* entry = block->bAllObjects ? nullptr : FindObjectActivity(record->pGameObj))
            ++entry->virtualCount;
    }
    ForwardVirtualCount(record, true);
    if (m_pParent) m_pParent->IncrementVirtualCount(counter);
}

void CAuParameterNode::DecrementVirtualCount(void* counter) {
    if (m_pActivity && m_pActivity->virtualCount > 0) --m_pActivity->virtualCount;
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    if (m_pActivity && record && CountsLimit() && !record->pNodeLimitedAt) {
        record->pNodeLimitedAt = this;
        AuObjectActivity* entry = m_pActivity->bAllObjects ? nullptr : FindObjectActivity(record->pGameObj);
        if (entry && entry->virtualCount > 0) --entry->virtualCount;
        if (entry) ReapplyLimit(*entry, *record);
    }
    ForwardVirtualCount(record, false);
    FreeActivityIfEmpty();
    if (m_pParent) m_pParent->DecrementVirtualCount(counter);
}

void CAuParameterNode::ForwardVirtualCount(AuPlayCountRecord* record, bool up) {
    if (!record) return;
    if ((record->forward & AU_ACTIVITY_TO_BUS) && m_pBusNode) {
        record->forward &= ~AU_ACTIVITY_TO_BUS;
        up ? m_pBusNode->IncrementVirtualCount(record) : m_pBusNode->DecrementVirtualCount(record);
    }
    if (CAuNodeBase* owner = GetExtraOwner(); owner && (record->forward & AU_ACTIVITY_TO_EXTRA_OWNER)) {
        record->forward &= ~AU_ACTIVITY_TO_EXTRA_OWNER;
        up ? owner->IncrementVirtualCount(record) : owner->DecrementVirtualCount(record);
    }
}

void CAuParameterNode::GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) {
    if (gameObj && !values.key.pGameObj) values.key.pGameObj = gameObj;
    GetAudioParameters(values);
}

f32 CAuParameterNode::RangeOffset(u8 id) {
    const AuPropValue8* range = m_ranges.Get(id);
    if (!range) return 0.0f;
    if (IsIntegerProp(id)) {
        const i32 min = static_cast<i32>(range->word1);
        const i32 max = static_cast<i32>(range->word2);
        if (max == min) return static_cast<f32>(min);
        const f64 r = static_cast<f64>(rand()) / 32767.0;
        return static_cast<f32>(f64(min) + RoundHalfAwayWide(r * (f64(max) - f64(min))));
    }
    const f32 min = WordFloat(range->word1);
    const f32 max = WordFloat(range->word2);
    if (max == min) return min;
    return min + static_cast<f32>(rand()) / 32767.0f * (max - min);
}

AURESULT CAuParameterNode::StoreRange(u8 id, u32 minWord, u32 maxWord) {
    if (minWord == 0 && maxWord == 0 && !m_ranges.Get(id)) return AuResultSuccess;
    return m_ranges.Set(id, minWord, maxWord);
}

AURESULT CAuParameterNode::SetRangedProp(u8 id, i32 value, i32 min, i32 max) {
    const AURESULT result = CAuNodeBase::SetAuProp(id, value, 0, 0);
    if (result != AuResultSuccess) return result;
    return StoreRange(id, static_cast<u32>(min), static_cast<u32>(max));
}

AURESULT CAuParameterNode::SetPropByID(u8 id, f32 value, f32 min, f32 max) {
    const bool notifies = id <= 5 || id == 8 || id == 9 || (id >= 18 && id <= 25);
    const bool forwards = id >= 11 && id <= 13;
    if (notifies || forwards) {
        const f32 old = GetPropFloat(id);
        if (old != value) {
            const AuPropInfo* info = AuGetPropInfo(id);
            const u32 target = info ? info->target : AU_TARGET_NONE;
            if (notifies && target != AU_TARGET_NONE)
                NotifyParamChange(target, value - old, AuRTPCKey{}, false, true);
            else if (forwards && target != AU_TARGET_NONE)
                ForwardParam(value, target, nullptr, false);
            AuPropValue stored;
            stored.f = value;
            if (m_props.SetValue(id, stored) != AuResultSuccess) return AuResultFail;
        }
    } else {
        const AURESULT result = CAuNodeBase::SetAuProp(id, value, 0, 0);
        if (result != AuResultSuccess) return result;
    }
    return StoreRange(id, FloatWord(min), FloatWord(max));
}

AURESULT CAuParameterNode::SetAuProp(u8 id, i32 value, u32 arg1, u32 arg2) {
    return SetRangedProp(id, value, static_cast<i32>(arg1), static_cast<i32>(arg2));
}

AURESULT CAuParameterNode::SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) {
    return SetPropByID(id, value, WordFloat(arg1), WordFloat(arg2));
}

CAuModifiedValues* CAuParameterNode::FindModifiedValues(CAuRegisteredObj* gameObj) const {
    if (!gameObj) return m_pModifiedValues;
    for (const ObjectHolder& holder : m_objectHolders)
        if (holder.pGameObj == gameObj) return holder.pValues;
    return nullptr;
}

CAuModifiedValues* CAuParameterNode::GetModifiedValues(CAuRegisteredObj* gameObj) {
    if (CAuModifiedValues* present = FindModifiedValues(gameObj)) return present;
    CAuModifiedValues* values = CreateModifiedValues(gameObj);
    if (!values) return nullptr;
    if (!gameObj) {
        m_pModifiedValues = values;
        return values;
    }
    if (!m_objectHolders.AddLast(ObjectHolder{gameObj, values})) {
        DestroyHolder(values);
        return nullptr;
    }
    return values;
}

AURESULT CAuParameterNode::SetValueFromAction(u8 id, f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                              AuCurveInterpolation curve, u32 mode) {
    CAuModifiedValues* values = GetModifiedValues(gameObj);
    if (!values) return AuResultFail;
    return values->SetValueWithFade(id, value, fadeMs, curve, mode);
}

AURESULT CAuParameterNode::ResetValueFromAction(u8 id, CAuRegisteredObj*, i32 fadeMs,
                                                AuCurveInterpolation curve) {
    for (ObjectHolder& holder : m_objectHolders)
        if (!holder.pValues->RestsAt(id, 0.0f))
            holder.pValues->SetValueWithFade(id, 0.0f, 0, AuCurveInterpolation_Linear, 0);
    if (m_pModifiedValues && !m_pModifiedValues->RestsAt(id, 0.0f))
        return m_pModifiedValues->SetValueWithFade(id, 0.0f, fadeMs, curve, 0);
    return AuResultSuccess;
}

AURESULT CAuParameterNode::MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) {
    CAuModifiedValues* values = GetModifiedValues(gameObj);
    if (!values) return AuResultFail;
    return values->SetValueWithFade(AuPropID_Level, 0.0f, fadeMs, curve, 0);
}

AURESULT CAuParameterNode::UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs,
                                            AuCurveInterpolation curve) {
    CAuModifiedValues* values = FindModifiedValues(gameObj);
    if (!values || values->RestsAt(AuPropID_Level, 1.0f)) return AuResultSuccess;
    return values->SetValueWithFade(AuPropID_Level, 1.0f, fadeMs, curve, 0);
}

void CAuParameterNode::UnmuteAllObjects(i32 fadeMs, AuCurveInterpolation curve) {
    for (u32 i = 0; i < m_objectHolders.Count(); ++i)
        if (!m_objectHolders[i].pValues->RestsAt(AuPropID_Level, 1.0f))
            UnmuteFromAction(m_objectHolders[i].pGameObj, fadeMs, curve);
}

AURESULT CAuParameterNode::UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation curve) {
    const AURESULT result = UnmuteFromAction(nullptr, fadeMs, curve);
    UnmuteAllObjects(fadeMs, curve);
    return result;
}

void CAuParameterNode::SetMaxNumInstances(u16 limit, CAuRegisteredObj* gameObj,
                                          const CAuRTPCFilter* exceptions, bool scoped) {
    limit &= 0x3FF;
    if (!scoped) SetLimitWord(static_cast<u16>((m_uLimitWord & ~0x3FF) | limit));
    if (!m_pActivity) return;
    AuActivityBlock& block = *m_pActivity;
    if (block.bAllObjects) {
        if (scoped && gameObj) return;
        block.limit = limit;
        if (block.pGlobalLimiter) block.pGlobalLimiter->SetMaximum(limit);
        return;
    }
    if (!scoped) block.limit = limit;
    if (scoped && gameObj) {
        AuObjectActivity* entry = CountsLimit() ? FindObjectActivity(gameObj) : nullptr;
        if (entry && entry->pLimiter) entry->pLimiter->SetMaximum(limit);
        return;
    }
    for (AuObjectActivity& entry : block.perObject) {
        if (!entry.pLimiter) continue;
        if (scoped && exceptions && exceptions->SkipKey(AuRTPCKey(entry.pGameObj))) continue;
        entry.pLimiter->SetMaximum(limit);
    }
}

void CAuParameterNode::SetLimitFlags(bool orderFlag, bool useVirtual) {
    SetFlagsA(AU_NODE_A_LIMIT_ORDER, orderFlag);
    SetFlagsA(AU_NODE_A_USE_VIRTUAL, useVirtual);
    if (!m_pActivity) return;
    m_pActivity->orderFlag = orderFlag ? 1 : 0;
    m_pActivity->useVirtual = useVirtual ? 1 : 0;
    const auto apply = [orderFlag, useVirtual](CAuPlaybackLimiter* list) {
        if (!list) return;
        list->SetOrderFlag(orderFlag);
        list->SetUseVirtual(useVirtual);
    };
    apply(m_pActivity->pGlobalLimiter);
    for (AuObjectActivity& entry : m_pActivity->perObject)
        apply(entry.pLimiter);
}

void CAuParameterNode::SetFxBypassBits(u8 bits, u8 mask) {
    if (m_pModifiedValues) m_pModifiedValues->SetBypassBits(bits, mask);
    for (ObjectHolder& holder : m_objectHolders)
        holder.pValues->SetBypassBits(bits, mask);
}

bool CAuParameterNode::BypassBit(u32 slot, CAuRegisteredObj* gameObj) {
    const bool all = slot == AU_NODE_BYPASS_ALL;
    const u32 target = all ? u32{AuTarget_BypassAll} : AuTarget_BypassSlot0 + slot;
    const u32 mask = all ? slot : 1u << slot;
    if (HasRTPC(target)) return GetRTPCValue(target, gameObj) != 0.0f;
    if (CAuModifiedValues* values = FindModifiedValues(gameObj)) return values->BypassBits() & mask;
    if (m_pModifiedValues) return m_pModifiedValues->BypassBits() & mask;
    return m_pEffects && (m_pEffects->bypassBits & mask);
}

void CAuParameterNode::GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj* gameObj) {
    if (!(m_flagsB & AU_NODE_B_OVERRIDE_EFFECTS) && m_pParent) return m_pParent->GetFx(slot, io, gameObj);
    FindFxSettings(slot, io);
    if (io.pSettings) io.bBypass = BypassBit(slot, gameObj);
}

u32 CAuParameterNode::GetFxMediaID(u32 slot, u32 index) {
    if (!(m_flagsB & AU_NODE_B_OVERRIDE_EFFECTS) && m_pParent) return m_pParent->GetFxMediaID(slot, index);
    return FindFxMediaID(slot, index);
}

bool CAuParameterNode::GetBypassAllFx(CAuRegisteredObj* gameObj) {
    if (!(m_flagsB & AU_NODE_B_OVERRIDE_EFFECTS) && m_pParent) return m_pParent->GetBypassAllFx(gameObj);
    return BypassBit(AU_NODE_BYPASS_ALL, gameObj);
}

bool CAuParameterNode::OwnsTarget(u32 target) {
    bool flag;
    if (target == AU_TARGET_GAME_AUX)
        flag = m_positioningByte & AU_POS_AUX_OWN_GAME;
    else if (target >= AU_TARGET_USER_AUX0 && target < AU_TARGET_USER_AUX0 + 4)
        flag = m_positioningByte & AU_POS_AUX_OWN_USER;
    else
        flag = m_pBusNode != nullptr;
    return flag || !m_pParent;
}

bool CAuParameterNode::OverridesParam(u32 target) {
    const bool special = target == AU_TARGET_GAME_AUX || (target >= AU_TARGET_USER_AUX0 && target <= 62);
    return special && OwnsTarget(target);
}

bool CAuParameterNode::HandlesParam(u32 target) {
    const bool special = target == AU_TARGET_GAME_AUX || (target >= AU_TARGET_USER_AUX0 && target <= 62);
    return !special || OwnsTarget(target);
}

void CAuParameterNode::SetPositioningType(bool enable, u32 types) {
    if (enable) {
        SetFlagsB(AU_NODE_B_OWN_POSITIONING, true);
        if (!m_pPositioning) {
            void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPositioningParams));
            if (memory) {
                m_pPositioning = new (memory) CAuPositioningParams();
                m_pPositioning->nodeID = key;
            }
        }
        m_positioningByte = u8((m_positioningByte & ~0x0F) | (types & 0x0F));
    } else {
        if (m_pPositioning) {
            m_pPositioning->~CAuPositioningParams();
            AU::MemoryMgr::Free(g_DefaultPoolId, m_pPositioning);
            m_pPositioning = nullptr;
        }
        m_positioningByte &= ~AU_POS_TYPE_MASK;
    }
    ForwardParam(static_cast<f32>(m_positioningByte & AU_POS_TYPE_MASK), AU_TARGET_POSITIONING_TYPE, nullptr,
                 false);
}

f32 CAuParameterNode::GetProp8Value(CAuRegisteredObj* gameObj) {
    return CAuNodeBase::GetProp8Value(gameObj) + RangeOffset(AuPropID_Prop8);
}

f32 CAuParameterNode::GetProp9Value(CAuRegisteredObj* gameObj) {
    return CAuNodeBase::GetProp9Value(gameObj) + RangeOffset(AuPropID_Prop9);
}

AURESULT CAuParameterNode::SetInitialFxParams(AuRecordCursor& cursor, bool effectsOnly) {
    u8 overrideEffects = 0, count = 0, bypass = 0;
    if (!cursor.Read(overrideEffects) || !cursor.Read(count)) return AuResultBadHeader;
    if (!effectsOnly) SetFlagsB(AU_NODE_B_OVERRIDE_EFFECTS, overrideEffects != 0);
    if (count == 0) return AuResultSuccess;
    if (!cursor.Read(bypass)) return AuResultBadHeader;
    if (cursor.Left() / 7 < count) return AuResultBadHeader;
    AURESULT result = AuResultSuccess;
    for (u32 i = 0; i < count && result == AuResultSuccess; ++i) {
        u8 slot = 0, shared = 0, rendered = 0;
        u32 id = 0;
        cursor.Read(slot);
        cursor.Read(id);
        cursor.Read(shared);
        cursor.Read(rendered);
        result = SetEffectRendered(slot, rendered != 0);
        if (result == AuResultSuccess && !rendered && id != 0 && !effectsOnly)
            result = SetEffect(slot, id, shared != 0, AU_EFFECT_STAMP_BANK);
    }
    if (!effectsOnly) SetBypass(bypass, 0xFF);
    return result;
}

AURESULT CAuParameterNode::SetInitialParams(AuRecordCursor& cursor) {
    const u8* at = cursor.At();
    if (m_props.SetFromBank(at, cursor.End()) != AuResultSuccess) return AuResultFail;
    cursor.SetAt(at);
    if (m_ranges.ReadFromBank(at, cursor.End()) != AuResultSuccess) return AuResultFail;
    cursor.SetAt(at);
    SetFlagsB(AU_NODE_B_SUM_STATES, true);
    return AuResultSuccess;
}

AURESULT CAuParameterNode::SetPositioningParams(AuRecordCursor& cursor) {
    u8 bits = 0;
    if (!cursor.Read(bits)) return AuResultBadHeader;
    SetFlagsB(AU_NODE_B_OWN_POSITIONING, bits & 1);
    if (!(bits & 1)) return AuResultSuccess;
    if (bits & 2) {
        m_positioningByte &= ~AU_POS_TYPE_MASK;
        SetFlagsB(AU_NODE_B_PANNER_2D, bits & 4);
    }
    if (!(bits & 8)) return AuResultSuccess;

    u8 type3D = 0;
    u32 attenuationID = 0;
    if (!cursor.Read(type3D) || !cursor.Read(attenuationID)) return AuResultBadHeader;
    if (!m_pPositioning) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPositioningParams));
        if (!memory) return AuResultNoMemory;
        m_pPositioning = new (memory) CAuPositioningParams();
    }
    CAuPositioningParams& params = *m_pPositioning;
    params.nodeID = key;
    params.type3D = type3D & 3;
    params.attenuationID = attenuationID;
    params.flags = (bits & 0x10) ? CAuPositioningParams::kSpatialisation : 0;
    m_positioningByte = u8((m_positioningByte & ~0x0F) | 1 | (params.type3D << AU_POS_3D_TYPE_SHIFT));
    if (params.type3D == 1) {
        if (bits & 0x40) params.flags |= CAuPositioningParams::kBit3;
        return AuResultSuccess;
    }

    u32 vertices = 0, items = 0;
    if (!cursor.Read(params.pathMode)) return AuResultBadHeader;
    if (bits & 0x20) params.flags |= CAuPositioningParams::kBit5;
    if (!cursor.Read(params.pathEndMs)) return AuResultBadHeader;
    if (bits & 0x80) params.flags |= CAuPositioningParams::kBit4;
    if (!cursor.Read(vertices) || cursor.Left() / 16 < vertices || !cursor.Skip(vertices * 16))
        return AuResultBadHeader;
    // Each item takes 8 bytes and its random range 12 more.
    if (!cursor.Read(items) || cursor.Left() / 20 < items) return AuResultBadHeader;
    if (vertices != 0 && items != 0) {
        AuLog(AuLogLevel::Error, "node %u: a positioning path (%u vertices, %u items) cannot be played yet",
              key, vertices, items);
        return AuResultTypeNotHandled;
    }
    cursor.Skip(items * 20);
    return AuResultSuccess;
}

AURESULT CAuParameterNode::SetAuxParams(AuRecordCursor& cursor) {
    u8 bits = 0;
    if (!cursor.Read(bits)) return AuResultBadHeader;
    m_positioningByte = u8((m_positioningByte & ~0x70) | ((bits & 7) << 4));
    if (!(bits & 8)) return AuResultSuccess;
    if (cursor.Left() < 16) return AuResultBadHeader;
    for (u32 slot = 0; slot < 4; ++slot) {
        u32 id = 0;
        cursor.Read(id);
        if (!m_pAuxBusses) {
            if (id == 0) continue;
            m_pAuxBusses = static_cast<u32*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, 4 * sizeof(u32)));
            if (!m_pAuxBusses) return AuResultNoMemory;
            memset(m_pAuxBusses, 0, 4 * sizeof(u32));
        }
        m_pAuxBusses[slot] = id;
        RecalcProps(0);
    }
    return AuResultSuccess;
}

AURESULT CAuParameterNode::SetAdvSettingsParams(AuRecordCursor& cursor) {
    u8 flags = 0, queue = 0, below = 0, output = 0;
    u16 maxInstances = 0;
    if (!cursor.Read(flags) || !cursor.Read(queue) || !cursor.Read(maxInstances) || !cursor.Read(below) ||
        !cursor.Read(output))
        return AuResultBadHeader;
    SetLimitFlags(flags & 1, flags & 2);
    SetFlagsA(AU_NODE_A_LIMIT_ALL_OBJECTS, flags & 4);
    SetFlagsA(AU_NODE_A_OWN_LIMIT, flags & 8);
    SetFlagsA(AU_NODE_A_OWN_VIRTUAL, flags & 16);
    m_virtualByte = u8((m_virtualByte & 0x80) | (queue & 7) | ((below & 15) << 3));
    SetLimitWord(static_cast<u16>((m_uLimitWord & ~0x3FF) | (maxInstances & 0x3FF)));
    m_positioningByte =
        u8((m_positioningByte & ~AU_POS_OVERRIDE_OUT1) | ((output & 1) ? AU_POS_OVERRIDE_OUT1 : 0));
    m_outputByte = u8((m_outputByte & ~0x07) | ((output & 2) ? AU_OUT_OVERRIDE_OUT2 : 0) |
                      ((output & 4) ? AU_OUT_VALUE_OUT2 : 0) | ((output & 8) ? AU_OUT_VALUE_OUT1 : 0));
    return AuResultSuccess;
}

AURESULT CAuParameterNode::ExecutePlay(AuNodePlayParams& params) {
    if (params.midi.IsNoteOn()) {
        bool firstCall = (params.flags & AU_PLAY_MIDI_FIRST_CALL) != 0;
        const AURESULT filtered = ResolveMidiEventParams(params.midi, firstCall);
        params.flags =
            u8((params.flags & ~AU_PLAY_MIDI_FIRST_CALL) | (firstCall ? AU_PLAY_MIDI_FIRST_CALL : 0));
        if (filtered != AuResultSuccess) return filtered;
    }
    const AURESULT delayed = ComputeInitialDelay(params);
    if (delayed == AuResultTypeNotHandled) return AuResultSuccess;
    if (delayed != AuResultSuccess) return delayed;
    return Play(params);
}

AURESULT CAuParameterNode::ResolveMidiEventParams(AuMidiEvent& event, bool& firstCall) {
    const u32 mask = GetPropWord(AU_PROP_MIDI_CHANNEL_MASK) & 0xFFFF;
    if (event.channel >= 16 || !(mask & (1u << event.channel))) return AuResultMidiFiltered;
    if (firstCall) {
        if (CAuParameterNode* parent = ParentNode()) {
            const AURESULT result = parent->ResolveMidiEventParams(event, firstCall);
            if (result != AuResultSuccess) return result;
        }
        firstCall = false;
    }
    CAuRegisteredObj* noObject = nullptr;
    if (event.CarriesNote()) {
        i32 transpose = static_cast<i32>(GetPropWord(AU_PROP_MIDI_TRANSPOSE));
        if (HasRTPC(AU_TARGET_MIDI_TRANSPOSE))
            transpose += RoundedCurveValue(GetRTPCValue(AU_TARGET_MIDI_TRANSPOSE, noObject));
        i64 note = i64{event.note} + transpose;
        note = note < 0 ? 0 : note > 127 ? 127 : note;
        const i32 low = static_cast<i32>(GetPropWord(AU_PROP_MIDI_NOTE_MIN));
        const i32 high = static_cast<i32>(GetPropWord(AU_PROP_MIDI_NOTE_MAX));
        if (note < low || note > high) return AuResultMidiFiltered;
        event.note = static_cast<u8>(note);
    }
    i32 offset = static_cast<i32>(GetPropWord(AU_PROP_MIDI_VELOCITY_OFFSET));
    if (HasRTPC(AU_TARGET_MIDI_VELOCITY))
        offset += RoundedCurveValue(GetRTPCValue(AU_TARGET_MIDI_VELOCITY, noObject));
    i64 velocity = i64{event.velocity} + offset;
    velocity = velocity < 1 ? 1 : velocity > 127 ? 127 : velocity;
    const i32 low = static_cast<i32>(GetPropWord(AU_PROP_MIDI_VELOCITY_MIN));
    const i32 high = static_cast<i32>(GetPropWord(AU_PROP_MIDI_VELOCITY_MAX));
    if (velocity < low || velocity > high) return AuResultMidiFiltered;
    event.velocity = static_cast<u8>(velocity);
    return AuResultSuccess;
}

AURESULT CAuParameterNode::ComputeInitialDelay(AuNodePlayParams& params) {
    if (params.flags & AU_PLAY_DEFERRED_RETURN) {
        params.flags &= ~AU_PLAY_DEFERRED_RETURN;
        return AuResultSuccess;
    }
    f32 delay = GetPropFloat(AU_PROP_INITIAL_DELAY);
    if (HasRTPC(AU_TARGET_INITIAL_DELAY)) delay += GetRTPCValue(AU_TARGET_INITIAL_DELAY, params.pGameObj);
    delay += RangeOffset(AU_PROP_INITIAL_DELAY);
    // NaN plays at once too; an absurd delay is kept to what a sample count can hold.
    if (!(delay > 0.0f)) return AuResultSuccess;
    const f32 limit = 2147483647.0f / static_cast<f32>(g_OutputTiming.uSampleRate);
    const i32 samples = AuSecondsToSamples(delay < limit ? delay : limit);
    if (params.uContinuationContext != 0) {
        params.lFrameOffset += samples;
        return AuResultSuccess;
    }
    if (!g_pAudioMgr) {
        AuLog(AuLogLevel::Error, "node %u: no pending-action queue for an initial delay", key);
        return AuResultFail;
    }
    CAuActionPlayAndContinue* action = CAuActionPlayAndContinue::CreateDeferredPlay(*this, params, samples);
    if (!action) return AuResultNoMemory;
    AuCustomPlayParams custom;
    memcpy(custom.customWords, params.customWords, sizeof(custom.customWords));
    custom.pExternalSources = params.pExternalSources;
    custom.playingID = params.playingID;
    CAuPendingAction* record = CAuPendingAction::Create(action, params.pGameObj, custom, 0);
    AURESULT queued = AuResultNoMemory;
    if (record) queued = g_pAudioMgr->EnqueueOrExecute(record);
    action->Release();
    // Queued, or played already when the delay fit in the look-ahead.
    return queued == AuResultSuccess ? AuResultTypeNotHandled : queued;
}

void CAuParameterNode::GetAudioParameters(AuAccumulatedValues& values) {
    CAuRegisteredObj* gameObj = values.key.pGameObj;
    const auto own = [&](u8 id) {
        f32 value = GetPropFloat(id);
        const AuPropInfo* info = AuGetPropInfo(id);
        if (info && info->target != AU_TARGET_NONE && HasRTPC(info->target))
            value += g_pRTPCMgr ? g_pRTPCMgr->GetRTPCConvertedValue(this, info->target, values.key) : 0.0f;
        return value;
    };
    // 1. The state-driven values.
    AddStateValues(values);
    // 2. Volume, the second audio-output setting, property 33 and properties 2-4.
    const bool root = m_pParent == nullptr;
    if (values.mask & 1) {
        values.values[0] += own(AuPropID_Volume);
        if (!values.bOutput2Decided && ((m_outputByte & AU_OUT_OVERRIDE_OUT2) || root)) {
            values.bOutput2Decided = true;
            values.bOutput2 = (m_outputByte & AU_OUT_VALUE_OUT2) != 0;
        }
        values.prop33 += own(AU_PROP_33);
    }
    for (u32 bit = 1; bit <= 3; ++bit)
        if (values.mask & (1u << bit)) values.values[bit + 1] += own(static_cast<u8>(bit + 1));
    // 3. The first audio-output setting: set, not added.
    if ((values.mask & AuAccumulatedValues::kSelectOutput1) && !values.bOutput1Decided &&
        ((m_positioningByte & AU_POS_OVERRIDE_OUT1) || root)) {
        values.output1Field = HasRTPC(AU_TARGET_OUT1) && g_pRTPCMgr
                                  ? g_pRTPCMgr->GetRTPCConvertedValue(this, AU_TARGET_OUT1, values.key)
                                  : GetPropFloat(AU_PROP_OUT1);
        values.bOutput1Decided = true;
        values.bOutput1 = (m_outputByte & AU_OUT_VALUE_OUT1) != 0;
    }
    // 4. The run-time values: the global holder, then the game object's.
    for (CAuModifiedValues* holder : {m_pModifiedValues, gameObj ? FindModifiedValues(gameObj) : nullptr}) {
        if (!holder) continue;
        if (values.mask & 1) values.values[0] += holder->GetValue(AuPropID_Volume);
        for (u32 bit = 1; bit <= 3; ++bit)
            if (values.mask & (1u << bit))
                values.values[bit + 1] += holder->GetValue(static_cast<u8>(bit + 1));
        const f32 level = holder->GetValue(AuPropID_Level);
        if (level != 1.0f) values.SetLevel(this, level);
    }
    // 5. Random offsets, into their own record.
    if (values.bDraw && values.pRandomOffsets && m_ranges.Count() != 0) {
        AuAccumulatedValues& offsets = *values.pRandomOffsets;
        if (values.mask & 1) {
            offsets.values[0] += RangeOffset(AuPropID_Volume);
            offsets.prop33 += RangeOffset(AU_PROP_33);
        }
        for (u32 bit = 1; bit <= 3; ++bit)
            if (values.mask & (1u << bit)) offsets.values[bit + 1] += RangeOffset(static_cast<u8>(bit + 1));
    }
    // 6. User aux sends.
    if (!values.bUserAuxDecided && ((m_positioningByte & AU_POS_AUX_OWN_USER) || root)) {
        values.bUserAuxDecided = true;
        if (m_pAuxBusses)
            for (u32 i = 0; i < 4; ++i) {
                values.userAuxSends[i] += own(static_cast<u8>(18 + i));
                values.userAuxBusses[i] = m_pAuxBusses[i];
            }
    }
    // 7. The game-defined aux send.
    if (!values.bGameAuxDecided && ((m_positioningByte & AU_POS_AUX_OWN_GAME) || root)) {
        values.bGameAuxDecided = true;
        values.gameAuxSend += own(22);
        values.bUseGameAux = (m_positioningByte & AU_POS_AUX_USE_GAME) != 0;
    }
    // 8. Up the parents and the output busses.
    if (values.bBusWalk && m_pBusNode) {
        values.busFields[0] += own(23);
        values.busFields[1] += own(25);
        values.busFields[2] += own(24);
        values.bBusWalk = false;
        if (m_pParent) m_pParent->GetAccumulatedValues(values, gameObj);
        values.bBusWalk = false;
        m_pBusNode->GetAccumulatedValues(values, gameObj);
        values.bBusWalk = true;
    } else if (m_pParent) {
        m_pParent->GetAccumulatedValues(values, gameObj);
    }
    // 9. Layers add their part once they are built.
}

bool CAuParameterNode::GetMaxRadius(f32& radius) {
    radius = 0.0f;
    CAuParameterNode* owner = GetPositioningOwner();
    if (!owner || !owner->m_pPositioning || owner->m_pPositioning->attenuationID == 0 || !g_pIndex)
        return false;
    auto* attenuation = static_cast<CAuAttenuation*>(
        g_pIndex->GetPtrAndAddRef(AuIndexAttenuations, owner->m_pPositioning->attenuationID));
    if (!attenuation) return false;
    const bool found = attenuation->GetMaxDistance(radius);
    attenuation->Release();
    return found;
}

CAuParameterNode* CAuParameterNode::GetPositioningOwner() {
    for (CAuNodeBase* node = this; node; node = node->Parent())
        if (node->FlagsB() & AU_NODE_B_OWN_POSITIONING) return dynamic_cast<CAuParameterNode*>(node);
    return nullptr;
}

void CAuParameterNode::GetPositioningParams(CAuRegisteredObj* gameObj, PositioningInfo& out) {
    CAuParameterNode* owner = GetPositioningOwner();
    if (!owner) owner = this;
    out.positioningType = owner->m_positioningByte & AU_POS_TYPE_MASK;
    out.type3D = (owner->m_positioningByte >> AU_POS_3D_TYPE_SHIFT) & 3;
    if (owner->HasRTPC(AU_TARGET_POSITIONING_TYPE))
        out.positioningType =
            static_cast<u8>(RoundedCurveValue(owner->GetRTPCValue(AU_TARGET_POSITIONING_TYPE, gameObj)) & 3);
    out.hasParams = owner->m_pPositioning != nullptr;
    if (out.hasParams) out.params = *owner->m_pPositioning;
    owner->GetPositioningPair(gameObj, out.pair);
}

void CAuParameterNode::GetVirtualVoiceSettings(u8& queueBehaviour, u8& belowThreshold) {
    CAuNodeBase* node = this;
    while (!(node->FlagsA() & AU_NODE_A_OWN_VIRTUAL) && node->Parent())
        node = node->Parent();
    auto* owner = dynamic_cast<CAuParameterNode*>(node);
    const u8 byte = owner ? owner->m_virtualByte : 0;
    queueBehaviour = byte & 7;
    belowThreshold = (byte >> 3) & 15;
}

u8 CAuParameterNode::GetVirtualBehaviour() {
    CAuNodeBase* node = this;
    while (!(node->FlagsC() & AU_NODE_C_MIDI_PLAY_SETTINGS) && node->Parent())
        node = node->Parent();
    if (node->GetPropWord(AuPropID_MidiPlayMode) == 2) return 1;
    return (node->FlagsC() & AU_NODE_C_MIDI_PLAY_FLAG) ? 2 : 0;
}

AURESULT CAuParameterNode::AddAssociatedLayer(CAuLayer* layer) {
    if (m_layers.Count() == m_layers.Capacity() && !m_layers.Grow(8)) return AuResultNoMemory;
    m_layers.AddLast(layer);
    RecalcProps(0);
    return AuResultSuccess;
}

AURESULT CAuParameterNode::RemoveAssociatedLayer(CAuLayer* layer) {
    const u32 at = m_layers.IndexOf([layer](CAuLayer* present) { return present == layer; });
    if (at == m_layers.Count()) return AuResultFail;
    m_layers.EraseOrdered(at);
    RecalcProps(0);
    return AuResultSuccess;
}
