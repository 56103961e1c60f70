#include "hierarchy/AuBus.h"

#include "core/AuAudioMgr.h"
#include "core/AuLog.h"
#include "core/AuMsgPayloads.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuThreads.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "parameters/AuRTPCMgr.h"
#include "voices/AuLowerEngineSeams.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <climits>
#include <new>

namespace {

// Guarded by the bus table's lock.
CAuBus* s_pPrimaryMaster = nullptr;
CAuBus* s_pSecondaryMaster = nullptr;
CAuDefaultBus* s_pDefaultBus = nullptr;

// Bank thread only: one load at a time.
bool s_bFirstBusRead = false;
bool s_bDetaching = false;
CAuDefaultBus* s_pDetachedDefaultBus = nullptr;

CAuIndexTable& BusTable() {
    return g_pIndex->Table(AuIndexBusses);
}

bool IsBus(const CAuNodeBase* node) {
    return node && (node->FlagsB() & AU_NODE_B_IS_BUS);
}

// The target of a property's change records: 0 and 5 are their own targets.
u32 TargetOf(u8 prop) {
    return prop;
}

// Samples of the recovery time; 0 when it lasts no longer than one audio frame, which recovers at
// once. Computed wide: a long time at a high rate does not fit 32 bits.
u32 RecoveryToSamples(u32 ms) {
    const u64 samples = u64{g_OutputTiming.uSampleRate / 1000} * ms;
    if (samples <= g_uNumSamplesPerFrame) return 0;
    return static_cast<u32>(std::min<u64>(samples, UINT32_MAX));
}

bool InsertSorted(AuArray<CAuNodeBase*>& array, CAuNodeBase* child) {
    const u32 at = array.LowerBound(child->key, [](CAuNodeBase* row, u32 id) { return row->key < id; });
    return array.Insert(at, child) != nullptr;
}

bool Contains(const AuArray<CAuNodeBase*>& array, const CAuNodeBase* child) {
    const u32 at = array.LowerBound(child->key, [](CAuNodeBase* row, u32 id) { return row->key < id; });
    for (u32 i = at; i < array.Count() && array[i]->key == child->key; ++i)
        if (array[i] == child) return true;
    return false;
}

bool Remove(AuArray<CAuNodeBase*>& array, const CAuNodeBase* child) {
    const u32 at = array.IndexOf([child](CAuNodeBase* row) { return row == child; });
    if (at == array.Count()) return false;
    array.EraseOrdered(at);
    return true;
}

bool IsExcepted(const AuActionExec& exec, const CAuNodeBase* child) {
    const bool isBus = IsBus(child);
    for (u32 i = 0; i < exec.exceptionCount; ++i)
        if (exec.pExceptions[i].id == child->key && (exec.pExceptions[i].isBus != 0) == isBus) return true;
    return false;
}

} // namespace

bool AuFirstBusRead() {
    return s_bFirstBusRead;
}

void AuSetFirstBusRead(bool read) {
    s_bFirstBusRead = read;
}

CAuBusBase::~CAuBusBase() {
    m_nodeChildren.Term();
}

u32 CAuBusBase::ChildCount() {
    return m_nodeChildren.Count();
}

CAuBus::CAuBus(u32 id) : CAuBusBase(id) {}

CAuBus* CAuBus::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuBus));
    if (!memory) return nullptr;
    auto* bus = new (memory) CAuBus(id);
    if (bus->Init() != AuResultSuccess) {
        bus->Release();
        return nullptr;
    }
    return bus;
}

AURESULT CAuBus::Init() {
    if (AuIsBusCategory(Category())) SetFlagsB(AU_NODE_B_IS_BUS, true);
    AddToIndex();
    AURESULT result = m_duckTargets.Init(0, AU_BUS_MAX_DUCKS);
    if (result == AuResultSuccess) result = m_ducks0.Init(0, AU_BUS_MAX_DUCKS);
    if (result == AuResultSuccess) result = m_ducks5.Init(0, AU_BUS_MAX_DUCKS);
    return result;
}

CAuBus::~CAuBus() {
    StopDuckTransitions(m_ducks0);
    StopDuckTransitions(m_ducks5);
    m_ducks0.Term();
    m_ducks5.Term();
    m_duckTargets.Term();
    BusTable().Lock();
    const bool primary = s_pPrimaryMaster == this;
    if (primary) {
        s_pPrimaryMaster = nullptr;
        // The next bank that reads a bus starts the master busses afresh.
        s_bFirstBusRead = false;
    }
    if (s_pSecondaryMaster == this) s_pSecondaryMaster = nullptr;
    BusTable().Unlock();
    if (primary) {
        // The groups that only the unloaded banks' nodes followed go with them. A bus's last
        // release comes under the main lock (a bank's unload) or with no other thread left (the
        // engine's end); taking that lock here, inside the bus table's, would invert their order.
        if (IAuStateMembership* states = AuGetStateMembership()) states->RemoveAllStateGroups(true);
    }
    CAuPlaybackLimiter::Destroy(m_pLimiter);
    m_busChildren.Term();
    if (m_pMixer) AU::MemoryMgr::Free(g_DefaultPoolId, m_pMixer);
    m_pMixer = nullptr;
}

CAuBus* CAuBus::GetPrimaryMasterBus() {
    BusTable().Lock();
    CAuBus* bus = s_pPrimaryMaster;
    if (bus) bus->AddRef();
    BusTable().Unlock();
    return bus;
}

CAuBus* CAuBus::GetSecondaryMasterBus() {
    BusTable().Lock();
    CAuBus* bus = s_pSecondaryMaster;
    if (bus) bus->AddRef();
    BusTable().Unlock();
    return bus;
}

void CAuBus::ClearMasterBusses() {
    BusTable().Lock();
    s_pPrimaryMaster = nullptr;
    s_pSecondaryMaster = nullptr;
    BusTable().Unlock();
}

void CAuBus::BecomeMasterIfNone() {
    BusTable().Lock();
    if (!s_pPrimaryMaster) {
        s_pPrimaryMaster = this;
        m_busFlags |= AU_BUS_PRIMARY_TREE;
    } else if (!s_pSecondaryMaster && s_pPrimaryMaster != this) {
        s_pSecondaryMaster = this;
        m_busFlags &= ~AU_BUS_PRIMARY_TREE;
    }
    BusTable().Unlock();
}

AURESULT CAuBus::SetInitialValues(AuRecordCursor& cursor) {
    u32 parentID = 0;
    if (!cursor.Skip(4) || !cursor.Read(parentID)) return AuResultBadHeader;
    if (parentID != 0) {
        auto* parent = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(parentID, true));
        if (!parent) {
            AuLog(AuLogLevel::Error, "bus %u: parent bus %u is not loaded", key, parentID);
            return AuResultFail;
        }
        AddRef();
        const AURESULT added = parent->AddChild(this);
        parent->Release();
        if (added != AuResultSuccess) return added;
    } else {
        BecomeMasterIfNone();
    }

    AURESULT result = SetInitialParams(cursor);
    if (result != AuResultSuccess) return result;
    if (!cursor.Read(m_fMaxDuckVolume)) return AuResultBadHeader;
    if ((result = ReadDuckTargets(cursor)) != AuResultSuccess) return result;
    if ((result = SetInitialFxParams(cursor, false)) != AuResultSuccess) return result;
    u8 overridePlugin = 0;
    if (!cursor.Read(overridePlugin)) return AuResultBadHeader;
    SetFlagsA(AU_NODE_A_OVERRIDE_PLUGIN, overridePlugin != 0);
    // Busses read their curves before their states, unlike the other nodes.
    if ((result = ReadRTPCList(cursor)) != AuResultSuccess) return result;
    if ((result = ReadStateChunk(cursor)) != AuResultSuccess) return result;
    if (AuBankHasExtraOwner() && (result = ReadExtraOwner(cursor)) != AuResultSuccess) return result;
    // The lower engine learns the volume the bank gives the bus.
    RecalcProps(0);
    return AuResultSuccess;
}

AURESULT CAuBus::SetInitialParams(AuRecordCursor& cursor) {
    const u8* at = cursor.At();
    m_props.Term();
    const AURESULT bundle = m_props.SetFromBank(at, cursor.End());
    if (bundle == AuResultTruncatedChunk) return AuResultBadHeader;
    if (bundle != AuResultSuccess) return bundle;
    cursor.SetAt(at);

    u8 flags1 = 0, flags2 = 0, flags3 = 0;
    u16 maxInstances = 0;
    u32 channelConfig = 0, recoveryMs = 0;
    if (!cursor.Read(flags1) || !cursor.Read(flags2) || !cursor.Read(maxInstances) ||
        !cursor.Read(channelConfig) || !cursor.Read(flags3) || !cursor.Read(recoveryMs))
        return AuResultBadHeader;
    SetFlagsB(AU_NODE_B_BANK_BUS_FLAG3, flags1 & 1);
    SetFlagsB(AU_NODE_B_PANNER_2D, flags1 & 2);
    SetLimitOrder(flags2 & 1);
    SetLimitUseVirtual(flags2 & 2);
    SetFlagsA(AU_NODE_A_OWN_LIMIT, flags2 & 4);
    SetLimitWord(static_cast<u16>((m_uLimitWord & ~0x3FF) | (maxInstances & 0x3FF)));
    // Kept as read: the voice side refuses a configuration it cannot mix.
    m_uChannelConfig = channelConfig;
    SetFlagsB(AU_NODE_B_BANK_BUS_FLAG4, flags3 & 1);
    m_busFlags = (flags3 & 2) ? (m_busFlags | AU_BUS_BANK_FLAG) : (m_busFlags & ~AU_BUS_BANK_FLAG);
    m_uRecoverySamples = RecoveryToSamples(recoveryMs);
    return AuResultSuccess;
}

AURESULT CAuBus::ReadDuckTargets(AuRecordCursor& cursor) {
    u32 count = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    if (count > cursor.Left() / AU_BUS_DUCK_TARGET_SIZE) return AuResultBadHeader;
    m_duckTargets.RemoveAll();
    for (u32 i = 0; i < count; ++i) {
        AuDuckTarget target{};
        u8 curve = 0, prop = 0;
        if (!cursor.Read(target.targetBusID) || !cursor.Read(target.duckDb) ||
            !cursor.Read(target.fadeOutMs) || !cursor.Read(target.fadeInMs) || !cursor.Read(curve) ||
            !cursor.Read(prop))
            return AuResultBadHeader;
        target.curve = curve;
        target.targetProp = prop == AuPropID_Volume ? AuPropID_Volume : AuPropID_BusVolume;
        if (!m_duckTargets.AddLast(target)) {
            AuLog(AuLogLevel::Error, "bus %u: duck target %u refused (at most %u)", key, i, AU_BUS_MAX_DUCKS);
            return AuResultFail;
        }
    }
    return AuResultSuccess;
}

AURESULT CAuBus::SetInitialFxParams(AuRecordCursor& cursor, bool) {
    u8 count = 0, bypass = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    if (count > 0 && !cursor.Read(bypass)) return AuResultBadHeader;
    for (u32 i = 0; i < count; ++i) {
        u8 slot = 0, shareSet = 0, unused = 0;
        u32 pluginID = 0;
        if (!cursor.Read(slot) || !cursor.Read(pluginID) || !cursor.Read(shareSet) || !cursor.Read(unused))
            return AuResultBadHeader;
        if (pluginID == 0) continue;
        const AURESULT result = SetEffect(slot, pluginID, shareSet != 0, AU_EFFECT_STAMP_BANK);
        if (result != AuResultSuccess) return result;
    }
    if (count > 0) {
        const AURESULT result = SetBypass(bypass, 0x1F);
        if (result != AuResultSuccess) return result;
    }
    u32 mixerID = 0;
    u8 mixerShareSet = 0;
    if (!cursor.Read(mixerID) || !cursor.Read(mixerShareSet)) return AuResultBadHeader;
    if (mixerID == 0) return AuResultSuccess;
    return SetMixerPlugin(mixerID, mixerShareSet != 0, AU_EFFECT_STAMP_BANK);
}

u32 CAuBus::ChildCount() {
    return m_nodeChildren.Count() + m_busChildren.Count();
}

AURESULT CAuBus::CanAddChild(CAuNodeBase* child) {
    if (child == this) return AuResultCannotBeOwnChild;
    if (Contains(IsBus(child) ? m_busChildren : m_nodeChildren, child)) return AuResultAlreadyAChild;
    if (child->Bus()) return AuResultChildHasParent;
    return AuResultSuccess;
}

void CAuBus::SetParent(CAuNodeBase*) {}

void CAuBus::SetBus(CAuNodeBase* bus) {
    m_pBusNode = bus;
    if (!IsBus(bus)) return;
    const u8 tree = static_cast<CAuBus*>(bus)->m_busFlags & AU_BUS_PRIMARY_TREE;
    if ((m_busFlags & AU_BUS_PRIMARY_TREE) == tree) return;
    m_busFlags = static_cast<u8>((m_busFlags & ~AU_BUS_PRIMARY_TREE) | tree);
    for (CAuNodeBase* child : m_busChildren)
        child->SetBus(this);
}

AURESULT CAuBus::InsertChild(CAuNodeBase* child) {
    const AURESULT allowed = CanAddChild(child);
    if (allowed != AuResultSuccess) return allowed;
    if (!InsertSorted(IsBus(child) ? m_busChildren : m_nodeChildren, child)) return AuResultFail;
    AddRef();
    return AuResultSuccess;
}

AURESULT CAuBus::AddChild(CAuNodeBase* child) {
    if (!child) return AuResultFail;
    const AURESULT result = InsertChild(child);
    if (result == AuResultSuccess) child->SetBus(this);
    child->Release();
    return result;
}

AURESULT CAuBus::AddChildByID(u32 id, bool isBus) {
    if (id == 0) return AuResultInvalidPool;
    CAuIndexable* found = g_pIndex->GetNodePtrAndAddRef(id, isBus);
    if (!found) return AuResultIDNotFound;
    return AddChild(static_cast<CAuNodeBase*>(found));
}

void CAuBus::RemoveChildByID(u32 id, bool isBus) {
    AuArray<CAuNodeBase*>& array = isBus ? m_busChildren : m_nodeChildren;
    const u32 at = array.LowerBound(id, [](CAuNodeBase* row, u32 wanted) { return row->key < wanted; });
    if (at < array.Count() && array[at]->key == id) RemoveChild(array[at]);
}

bool CAuBus::TakeOutChild(CAuNodeBase* child) {
    return Remove(IsBus(child) ? m_busChildren : m_nodeChildren, child);
}

void CAuBus::RemoveChild(CAuNodeBase* child) {
    if (child->Bus() != this) return;
    child->SetBus(nullptr);
    if (TakeOutChild(child)) Release();
}

void CAuBus::GatherChildren(u32 maximum, AuChildInfo* out, u32& count, u32 depth) {
    for (CAuNodeBase* child : m_nodeChildren) {
        if (count >= maximum) return;
        // A child without a parent node has no parent ID to give: 0.
        out[count++] = AuChildInfo{child->key, child->Parent() ? child->Parent()->key : 0, depth};
        child->GatherChildren(maximum, out, count, depth + 1);
    }
}

bool CAuBus::NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) {
    for (CAuNodeBase* child : m_nodeChildren)
        child->NotifyChildren(arg1, arg2, arg3, arg4, arg5);
    return true;
}

AURESULT CAuBus::ExecuteAction(const AuActionExec& exec) {
    if (!m_pActivity || (m_pActivity->playing == 0 && m_pActivity->activity == 0)) return AuResultSuccess;
    AuActionExec down = exec;
    if (exec.flags & AU_EXEC_PAUSE_TRANSITIONS) PauseTransitions(exec.kind == AuActionExec_Pause);
    down.flags |= AU_EXEC_TRANSITIONS_HANDLED;
    // A child may leave the arrays while it runs the record: indices are checked each time.
    for (u32 i = m_nodeChildren.Count(); i-- > 0;)
        if (i < m_nodeChildren.Count()) m_nodeChildren[i]->ExecuteAction(down);
    for (u32 i = m_busChildren.Count(); i-- > 0;)
        if (i < m_busChildren.Count()) m_busChildren[i]->ExecuteAction(down);
    return AuResultSuccess;
}

AURESULT CAuBus::ExecuteActionExcept(const AuActionExec& exec) {
    if (!(exec.flags & AU_EXEC_TRANSITIONS_HANDLED)) PauseTransitions(exec.kind == AuActionExec_Pause);
    for (AuArray<CAuNodeBase*>* array : {&m_nodeChildren, &m_busChildren}) {
        for (u32 i = array->Count(); i-- > 0;) {
            if (i >= array->Count()) continue;
            CAuNodeBase* child = (*array)[i];
            if (!IsExcepted(exec, child)) child->ExecuteActionExceptChecked(exec);
        }
    }
    return AuResultSuccess;
}

AURESULT CAuBus::ExecuteActionExceptChecked(const AuActionExec& exec) {
    return ExecuteActionExcept(exec);
}

AURESULT CAuBus::PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) {
    AuArray<CAuNodeBase*>& children = m_busChildren.Count() > 0 ? m_busChildren : m_nodeChildren;
    for (u32 i = 0; i < children.Count(); ++i) {
        const AURESULT result = children[i]->PlayToEnd(gameObj, value, playingID);
        if (result != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}

void CAuBus::ParamNotification(const AuParamChange& change) {
    if (change.target == AuPropID_BusVolume && MixesOnItsOwn()) {
        if (IAuBusOps* ops = AuBusOpsSeam::Get()) ops->OffsetBusVolume(key, change.value);
        return;
    }
    if (!m_pActivity || (m_pActivity->playing == 0 && m_pActivity->activity == 0)) return;
    switch (change.target) {
    case AuPropID_Volume:
    case AuPropID_BusVolume:
        (change.target == AuPropID_Volume ? m_fAccumVoiceVolume : m_fFoldedBusVolume) += change.value;
        for (CAuNodeBase* child : m_pActivity->activeChildren)
            if (IsBus(child)) child->ParamNotification(change);
        return;
    case 33:
        m_busFlags |= AU_BUS_VOLUME_SENT;
        return;
    case 32:
    case 34:
        m_busFlags |= AU_BUS_DYNAMICS_CHANGED;
        return;
    default:
        for (CAuNodeBase* child : m_pActivity->activeChildren)
            child->ParamNotification(change);
        return;
    }
}

void CAuBus::LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) {
    if (!m_pActivity) return;
    for (CAuNodeBase* child : m_pActivity->activeChildren)
        child->LevelNotificationForObject(level, gameObj, owner);
}

void CAuBus::LevelNotification(f32 level, const void* owner) {
    if (!m_pActivity) return;
    for (CAuNodeBase* child : m_pActivity->activeChildren)
        child->LevelNotification(level, owner);
}

void CAuBus::SetBusValue(f32 value, u32 target, CAuRegisteredObj*, bool) {
    if (!m_pBusNode) return;
    if (IAuBusOps* ops = AuBusOpsSeam::Get()) ops->SetBusProperty(key, value, target);
}

void CAuBus::RecalcNotification() {
    if (!m_pActivity) return;
    for (CAuNodeBase* child : m_pActivity->activeChildren)
        child->RecalcNotification();
}

void CAuBus::BypassNotification(u32 bits, u32 mask, CAuRegisteredObj*, bool) {
    if (IAuBusOps* ops = AuBusOpsSeam::Get()) ops->BypassBusEffects(key, bits, mask);
}

void CAuBus::RTPCTargetChanged(u32 target) {
    if (target < AuTarget_BypassSlot0 || target > AuTarget_BypassAll) return;
    u32 bits = 0;
    for (u32 slot = 0; slot < AU_NODE_EFFECT_SLOTS; ++slot) {
        const u32 slotTarget = AuTarget_BypassSlot0 + slot;
        const bool bypassed = HasRTPC(slotTarget) ? GetRTPCValue(slotTarget, nullptr) != 0.0f
                                                  : m_pEffects && (m_pEffects->bypassBits >> slot & 1);
        if (bypassed) bits |= 1u << slot;
    }
    if (GetBypassAllFx(nullptr)) bits |= AU_NODE_BYPASS_ALL;
    BypassNotification(bits, 0x1F, nullptr, false);
}

CAuNodeBase* CAuBus::GetMixingBus() {
    return MixesOnItsOwn() ? this : CAuBusBase::GetMixingBus();
}

CAuNodeBase* CAuBus::GetOutputBus() {
    return (m_flagsA & AU_NODE_A_OWN_LIMIT) ? this : CAuBusBase::GetOutputBus();
}

void CAuBus::EffectChanged(u32 slot) {
    if (IAuBusOps* ops = AuBusOpsSeam::Get()) ops->UpdateBusEffect(key, slot);
}

bool CAuBus::CountsLimit(const AuPlayCountRecord* record) const {
    // A record that counted the play here may come back for its end.
    return record && ((m_flagsA & AU_NODE_A_OWN_LIMIT) || !m_pBusNode) &&
           (!record->pLimitedAt || record->pLimitedAt == this);
}

AURESULT CAuBus::IncrementPlayCount(void* counter) {
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    AuActivityBlock* block = EnsureActivity();
    if (!block) return AuResultNoMemory;
    ++block->playing;
    // Joins its parent bus's active children, so that a level change above reaches what plays.
    const bool joined = block->playing != 1 || RegisterActivity(AU_ACTIVITY_TO_BOTH);
    AURESULT result = AuResultSuccess;
    if (CountsLimit(record)) {
        record->pLimitedAt = this;
        ++block->limited;
        result = CountLimited(*block, *record);
    }
    for (CAuNodeBase* above : {m_pBusNode, GetExtraOwner()}) {
        if (!above) continue;
        // A refusal to play virtual is passed up unless a failure came first.
        const AURESULT r = above->IncrementPlayCount(counter);
        if (r == AuResultLimiterRefusedUseVirtual) {
            if (result == AuResultSuccess) result = r;
        } else if (r != AuResultSuccess) {
            result = r;
        }
    }
    if (block->playing == 1) {
        SetDuckState(AuDuckState_Ducking);
        UpdateDuckTargets();
    }
    return joined ? result : AuResultNoMemory;
}

AURESULT CAuBus::CountLimited(AuActivityBlock& block, AuPlayCountRecord& record) {
    if (!m_pLimiter) {
        m_pLimiter =
            CAuPlaybackLimiter::Create(AU_LIMITER_KIND_2, block.limit, m_flagsA & AU_NODE_A_LIMIT_ORDER,
                                       m_flagsA & AU_NODE_A_USE_VIRTUAL);
        if (!m_pLimiter) return AuResultNoMemory;
    }
    record.pBusLimiter = m_pLimiter;
    const u32 counted = block.limited > block.virtualCount ? block.limited - block.virtualCount : 0u;
    if (block.limit == 0 || !g_pPlaybackLimits || counted <= u32{block.limit} + record.removed)
        return AuResultSuccess;
    CAuPlaybackInstance* victim = nullptr;
    const AURESULT result =
        g_pPlaybackLimits->ApplyPlaybackLimit(*m_pLimiter, block.limit, record.priority, nullptr,
                                              block.orderFlag != 0, block.useVirtual != 0, victim);
    if (AuGaveWayUnder(victim, GetOutputBus())) ++record.removed;
    return result;
}

void CAuBus::DecrementPlayCount(void* counter) {
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    if (m_pActivity && m_pActivity->playing > 0) --m_pActivity->playing;
    if (CountsLimit(record)) {
        record->pLimitedAt = this;
        if (m_pActivity && m_pActivity->limited > 0) --m_pActivity->limited;
        // The instances leave the list when they end, before their count goes.
        if (m_pLimiter && m_pLimiter->Count() == 0 && (!m_pActivity || m_pActivity->limited == 0))
            CAuPlaybackLimiter::Destroy(m_pLimiter);
    }
    for (CAuNodeBase* above : {m_pBusNode, GetExtraOwner()})
        if (above) above->DecrementPlayCount(counter);
    if (m_pActivity && m_pActivity->playing == 0) {
        if (m_uRecoverySamples > 0 && m_duckTargets.Count() > 0 && DuckState() == AuDuckState_Ducking) {
            SetDuckState(AuDuckState_Recovering);
            ScheduleRecovery();
        } else {
            SetDuckState(AuDuckState_Idle);
        }
        UpdateDuckTargets();
    }
    FreeActivityIfEmpty();
}

void CAuBus::IncrementVirtualCount(void* counter) {
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    AuActivityBlock* block = EnsureActivity();
    if (block && CountsLimit(record)) {
        record->pLimitedAt = this;
        ++block->virtualCount;
    }
    for (CAuNodeBase* above : {m_pBusNode, GetExtraOwner()})
        if (above) above->IncrementVirtualCount(counter);
}

void CAuBus::DecrementVirtualCount(void* counter) {
    auto* record = static_cast<AuPlayCountRecord*>(counter);
    if (m_pActivity && CountsLimit(record)) {
        record->pLimitedAt = this;
        if (m_pActivity->virtualCount > 0) --m_pActivity->virtualCount;
    }
    for (CAuNodeBase* above : {m_pBusNode, GetExtraOwner()})
        if (above) above->DecrementVirtualCount(counter);
    FreeActivityIfEmpty();
}

bool CAuBus::IncrementActivityCount(u32) {
    return CAuBusBase::IncrementActivityCount(AU_ACTIVITY_TO_BOTH);
}

void CAuBus::DecrementActivityCount(u32) {
    CAuBusBase::DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
}

bool CAuBus::RegisterActivity(u32 forward) {
    const bool registered = CAuBusBase::RegisterActivity(forward);
    RefreshAccumulatedProps();
    return registered;
}

AURESULT CAuBus::PrepareData() {
    for (u32 i = 0; i < m_nodeChildren.Count(); ++i) {
        const AURESULT result = m_nodeChildren[i]->PrepareData();
        if (result == AuResultSuccess) continue;
        while (i-- > 0)
            m_nodeChildren[i]->UnPrepareData();
        return result;
    }
    return AuResultSuccess;
}

void CAuBus::UnPrepareData() {
    for (CAuNodeBase* child : m_nodeChildren)
        child->UnPrepareData();
}

void CAuBus::GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) {
    // Voices take properties 0 and 5 of their busses from the accumulated bus values. The busses
    // above see the narrowed selection; the caller gets its own back.
    const u32 asked = values.mask;
    values.mask &= ~(1u | 16u);
    AddStateValues(values);
    const auto wanted = [&values](u8 prop) { return (values.mask & (1u << (prop - 1))) != 0; };
    for (u8 prop = 2; prop <= 4; ++prop) {
        if (!wanted(prop)) continue;
        f32 value = GetPropFloat(prop);
        if (HasRTPC(prop)) value += GetRTPCValue(prop, gameObj);
        values.values[prop] += value;
    }
    if (m_pModifiedValues) {
        for (u8 prop = 2; prop <= 4; ++prop)
            if (wanted(prop)) values.values[prop] += m_pModifiedValues->GetValue(prop);
        // A muted bus reaches the instances that start below it through their mute list.
        const f32 level = m_pModifiedValues->GetValue(AuPropID_Level);
        if (level != 1.0f) values.SetLevel(this, level);
    }
    if (m_pBusNode) m_pBusNode->GetAccumulatedValues(values, gameObj);
    values.mask = asked;
}

AURESULT CAuBus::SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) {
    if (id > AuPropID_Positioning3 || (id > AuPropID_BusVolume && id < AuPropID_Positioning1))
        return CAuBusBase::SetAuProp(id, value, arg1, arg2);
    const f32 current = GetPropFloat(id);
    if (current == value) return AuResultSuccess;
    const AuPropInfo* info = AuGetPropInfo(id);
    if (id <= AuPropID_BusVolume)
        NotifyParamChange(info->target, value - current, AuRTPCKey{}, false, true);
    else
        ForwardParam(value, info->target, nullptr, false);
    AuPropValue stored;
    stored.f = value;
    return m_props.SetValue(id, stored) == AuResultSuccess ? AuResultSuccess : AuResultFail;
}

AURESULT CAuBus::SetValueFromAction(u8 id, f32 value, CAuRegisteredObj*, i32 fadeMs,
                                    AuCurveInterpolation curve, u32 mode) {
    // A bus mixes every game object: its run-time values are those of object 0.
    CAuModifiedValues* holder = GetModifiedValues(nullptr);
    if (!holder) return AuResultFail;
    return holder->SetValueWithFade(id, value, fadeMs, curve, mode);
}

AURESULT CAuBus::ResetValueFromAction(u8 id, CAuRegisteredObj* gameObj, i32 fadeMs,
                                      AuCurveInterpolation curve) {
    if (!m_pModifiedValues || m_pModifiedValues->RestsAt(id, 0.0f)) return AuResultSuccess;
    return SetValueFromAction(id, 0.0f, gameObj, fadeMs, curve, 0);
}

AURESULT CAuBus::MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) {
    if (gameObj) return AuResultSuccess;
    CAuModifiedValues* holder = GetModifiedValues(nullptr);
    if (!holder) return AuResultFail;
    return holder->SetValueWithFade(AuPropID_Level, 0.0f, fadeMs, curve, 0);
}

AURESULT CAuBus::UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) {
    if (gameObj || !m_pModifiedValues || m_pModifiedValues->RestsAt(AuPropID_Level, 1.0f))
        return AuResultSuccess;
    return m_pModifiedValues->SetValueWithFade(AuPropID_Level, 1.0f, fadeMs, curve, 0);
}

AURESULT CAuBus::UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation curve) {
    return UnmuteFromAction(nullptr, fadeMs, curve);
}

void CAuBus::RecalcProps(u32 arg) noexcept {
    if (MixesOnItsOwn()) {
        if (IAuBusOps* ops = AuBusOpsSeam::Get())
            ops->SetBusVolume(key, GetAccumulatedProp(0, AuPropID_BusVolume));
        m_busFlags |= AU_BUS_VOLUME_SENT;
    }
    m_busFlags &= ~AU_BUS_ACCUMULATED_VALID;
    RefreshAccumulatedProps();
    if (!m_pActivity) return;
    for (CAuNodeBase* child : m_pActivity->activeChildren)
        child->RecalcProps(arg);
}

void CAuBus::SetMaxNumInstances(u16 limit, CAuRegisteredObj* gameObj, const CAuRTPCFilter*, bool fromCurve) {
    if (gameObj) return;
    if (fromCurve && (m_uLimitWord & 0x3FF) == 0) return;
    if (m_pActivity) m_pActivity->limit = limit;
    if (m_pLimiter) m_pLimiter->SetMaximum(limit);
    if (!fromCurve) SetLimitWord(static_cast<u16>((m_uLimitWord & ~0x3FF) | (limit & 0x3FF)));
}

AURESULT CAuBus::SetMixerPlugin(u32 pluginID, bool shareSet) {
    return SetMixerPlugin(pluginID, shareSet, AU_EFFECT_STAMP_API);
}

AURESULT CAuBus::SetMixerPlugin(u32 pluginID, bool shareSet, i32 stamp) {
    if (!m_pMixer) {
        if (pluginID == 0) return AuResultSuccess;
        m_pMixer = static_cast<AuBusMixer*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuBusMixer)));
        if (!m_pMixer) return AuResultFail;
        *m_pMixer = AuBusMixer{0, 0, 1};
    }
    if (stamp < m_pMixer->stamp) return AuResultSuccess;
    m_pMixer->stamp = stamp;
    const u8 share = shareSet ? 1 : 0;
    if (m_pMixer->pluginID == pluginID && m_pMixer->bShareSet == share) return AuResultSuccess;
    m_pMixer->pluginID = pluginID;
    m_pMixer->bShareSet = share;
    // What plays through the bus was mixed by the old plug-in.
    StopAll();
    if (pluginID == 0) {
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pMixer);
        m_pMixer = nullptr;
    }
    return AuResultSuccess;
}

void CAuBus::SetLimitOrder(bool orderFlag) {
    if (((m_flagsA & AU_NODE_A_LIMIT_ORDER) != 0) == orderFlag) return;
    SetFlagsA(AU_NODE_A_LIMIT_ORDER, orderFlag);
    if (m_pActivity) m_pActivity->orderFlag = orderFlag ? 1 : 0;
    if (m_pLimiter) m_pLimiter->SetOrderFlag(orderFlag);
}

void CAuBus::SetLimitUseVirtual(bool useVirtual) {
    SetFlagsA(AU_NODE_A_USE_VIRTUAL, useVirtual);
    if (m_pActivity) m_pActivity->useVirtual = useVirtual ? 1 : 0;
    if (m_pLimiter) m_pLimiter->SetUseVirtual(useVirtual);
}

void CAuBus::StopAll() {
    Stop(nullptr, 0, 0, AuCurveInterpolation_Linear);
}

void CAuBus::SetFxBypassBits(u8 bits, u8 mask) {
    if (m_pModifiedValues) m_pModifiedValues->SetBypassBits(bits, mask);
}

void CAuBus::GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj* gameObj) {
    FindFxSettings(slot, io);
    if (!io.pSettings) return;
    const u32 target = AuTarget_BypassSlot0 + slot;
    if (HasRTPC(target))
        io.bBypass = GetRTPCValue(target, gameObj) != 0.0f;
    else if (m_pModifiedValues)
        io.bBypass = (m_pModifiedValues->BypassBits() >> slot) & 1;
    else
        io.bBypass = (m_pEffects->bypassBits >> slot) & 1;
}

u32 CAuBus::GetFxMediaID(u32 slot, u32 index) {
    return FindFxMediaID(slot, index);
}

bool CAuBus::GetBypassAllFx(CAuRegisteredObj* gameObj) {
    if (HasRTPC(AuTarget_BypassAll)) return GetRTPCValue(AuTarget_BypassAll, gameObj) != 0.0f;
    if (m_pModifiedValues) return (m_pModifiedValues->BypassBits() & AU_NODE_BYPASS_ALL) != 0;
    return m_pEffects && (m_pEffects->bypassBits & AU_NODE_BYPASS_ALL);
}

void CAuBus::ForwardParam(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) {
    if (m_flagsB & AU_NODE_B_BANK_BUS_FLAG3) SetBusValue(value, target, gameObj, flag);
}

CAuModifiedValues* CAuBus::GetModifiedValues(CAuRegisteredObj*) {
    if (!m_pModifiedValues) m_pModifiedValues = CreateModifiedValues(nullptr);
    return m_pModifiedValues;
}

void CAuBus::GetAttachedPluginSettings(CAuIndexable*& io) {
    CAuIndexable* found = nullptr;
    if (m_pMixer && m_pMixer->pluginID != 0)
        found = g_pIndex->GetPtrAndAddRef(
            m_pMixer->bShareSet ? AuIndexPluginSettings18 : AuIndexPluginSettings19, m_pMixer->pluginID);
    if (io) io->Release();
    io = found;
}

bool CAuBus::MixesOnItsOwn() {
    if (m_pEffects)
        for (const AuEffectSlot& slot : m_pEffects->slots)
            if (slot.pluginID != 0) return true;
    return Category() == AuNodeCategory_BusType20 || m_uChannelConfig != 0 ||
           (m_flagsB & (AU_NODE_B_BANK_BUS_FLAG3 | AU_NODE_B_BANK_BUS_FLAG4)) || !m_pBusNode || m_pMixer;
}

f32 CAuBus::GetAccumulatedProp(u32 mode, u8 prop) {
    AuAccumulatedValues states;
    states.mask = prop == AuPropID_Volume ? 1u : 16u;
    AddStateValues(states);
    f32 value = states.values[prop == AuPropID_Volume ? 0 : 5];
    value += GetPropFloat(prop);
    if (HasRTPC(TargetOf(prop))) value += GetRTPCValue(TargetOf(prop), nullptr);
    if (m_pModifiedValues) value += m_pModifiedValues->GetValue(prop);
    value += GetDuckedVolume(prop);
    if (IsBus(m_pBusNode)) {
        auto* parent = static_cast<CAuBus*>(m_pBusNode);
        if (mode == 1 || !parent->MixesOnItsOwn()) value += parent->GetAccumulatedProp(mode, prop);
    }
    return value;
}

void CAuBus::RefreshAccumulatedProps() {
    m_fFoldedBusVolume = MixesOnItsOwn() ? 0.0f : GetAccumulatedProp(0, AuPropID_BusVolume);
    m_fAccumVoiceVolume = GetAccumulatedProp(1, AuPropID_Volume);
    m_busFlags |= AU_BUS_ACCUMULATED_VALID;
}

f32 CAuBus::GetDuckedVolume(u8 prop) const {
    const DuckList& list = Ducks(prop);
    if (list.IsEmpty()) return std::max(0.0f, m_fMaxDuckVolume);
    f32 sum = 0.0f;
    const_cast<DuckList&>(list).ForEach([&sum](const AuDuckEntry& entry) { sum += entry.value; });
    return std::max(sum, m_fMaxDuckVolume);
}

void CAuBus::SetMeterGameParameter(f32 level) {
    const u32 paramID = GetPropWord(29);
    if (paramID == 0 || !g_pRTPCMgr) return;
    const f32 lower = GetPropFloat(30);
    const f32 upper = GetPropFloat(31);
    g_pRTPCMgr->SetRTPCImmediate(paramID, std::clamp(level, lower, std::max(lower, upper)), AuRTPCKey{});
}

void CAuBus::SetDuckState(AuDuckState state) {
    m_busFlags = static_cast<u8>((m_busFlags & ~AU_BUS_DUCK_STATE_MASK) | (state << 1));
}

AuDuckEntry* CAuBus::FindDuck(u8 prop, u32 duckingBusID) {
    AuDuckEntry* found = nullptr;
    Ducks(prop).ForEach([&found, duckingBusID](AuDuckEntry& entry) {
        if (!found && entry.duckingBusID == duckingBusID) found = &entry;
    });
    return found;
}

void CAuBus::UpdateDuckTargets() {
    const AuDuckState state = DuckState();
    m_duckTargets.ForEach([this, state](const AuDuckTarget& target) {
        auto* bus = static_cast<CAuBus*>(g_pIndex->GetNodePtrAndAddRef(target.targetBusID, true));
        if (!bus) return;
        const u8 prop = static_cast<u8>(target.targetProp);
        const auto curve = static_cast<AuCurveInterpolation>(target.curve);
        switch (state) {
        case AuDuckState_Idle:
            bus->FadeDuck(prop, key, 0.0f, target.fadeInMs, curve, false);
            break;
        case AuDuckState_Ducking:
            bus->FadeDuck(prop, key, target.duckDb, target.fadeOutMs, curve, true);
            break;
        case AuDuckState_Recovering:
            bus->HoldDuck(prop, key);
            break;
        }
        bus->Release();
    });
}

void CAuBus::FadeDuck(u8 prop, u32 duckingBusID, f32 target, u32 ms, AuCurveInterpolation curve,
                      bool create) {
    AuDuckEntry* entry = FindDuck(prop, duckingBusID);
    if (!entry) {
        if (!create) return;
        entry = Ducks(prop).AddLast(AuDuckEntry{duckingBusID, nullptr, 0.0f});
        if (!entry) {
            AuLog(AuLogLevel::Warning, "bus %u: duck list full, bus %u does not duck it", key, duckingBusID);
            return;
        }
    }
    const i32 fadeMs = static_cast<i32>(std::min<u32>(ms, INT_MAX));
    if (entry->pTransition && g_pTransitionMgr) {
        g_pTransitionMgr->ChangeParameter(entry->pTransition, duckingBusID, target, fadeMs, curve, 0);
        return;
    }
    if (entry->value == target) return;
    if (!g_pTransitionMgr || fadeMs == 0) {
        SetDuckValue(prop, *entry, target);
        return;
    }
    AuTransitionParams params;
    params.pTarget = prop == AuPropID_Volume ? static_cast<IAuTransitionTarget*>(&m_receiver0) : &m_receiver5;
    params.uTargetKey = duckingBusID;
    params.fStartValue = entry->value;
    params.fTargetValue = target;
    params.lDurationMs = fadeMs;
    params.eCurve = curve;
    // Without a record the manager has already delivered the target with done.
    entry->pTransition = g_pTransitionMgr->AddTransition(params, true);
}

void CAuBus::HoldDuck(u8 prop, u32 duckingBusID) {
    AuDuckEntry* entry = FindDuck(prop, duckingBusID);
    if (!entry || !entry->pTransition || !g_pTransitionMgr) return;
    g_pTransitionMgr->ChangeParameter(entry->pTransition, duckingBusID, entry->value, 0,
                                      AuCurveInterpolation_Linear, 0);
}

void CAuBus::SetDuckValue(u8 prop, AuDuckEntry& entry, f32 value) {
    const f32 before = GetDuckedVolume(prop);
    entry.value = value;
    const f32 after = GetDuckedVolume(prop);
    if (after != before) NotifyParamChange(TargetOf(prop), after - before, AuRTPCKey{}, false, true);
}

void CAuBus::DuckReceiver::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    AuDuckEntry* entry = m_bus.FindDuck(m_prop, targetKey);
    if (!entry) return;
    if (done) entry->pTransition = nullptr;
    m_bus.SetDuckValue(m_prop, *entry, value);
}

void CAuBus::StopDuckTransitions(DuckList& list) {
    IAuTransitionTarget* receiver =
        &list == &m_ducks0 ? static_cast<IAuTransitionTarget*>(&m_receiver0) : &m_receiver5;
    list.ForEach([receiver](AuDuckEntry& entry) {
        if (entry.pTransition && g_pTransitionMgr)
            g_pTransitionMgr->RemoveTransitionUser(entry.pTransition, receiver);
        entry.pTransition = nullptr;
    });
}

void CAuBus::ScheduleRecovery() {
    AURESULT result = AuResultFail;
    CAuActionBusDelayed* action = CAuActionBusDelayed::Create(key, m_uRecoverySamples);
    if (action && g_pAudioMgr) {
        // The manager takes its own reference on the action and owns the record.
        CAuPendingAction* record = CAuPendingAction::Create(action, nullptr, AuCustomPlayParams{}, 0);
        if (record) result = g_pAudioMgr->EnqueueOrExecute(record);
    }
    if (action) action->Release();
    if (result == AuResultSuccess) return;
    // Rather than stay ducked for good.
    AuLog(AuLogLevel::Warning, "bus %u: recovery could not be scheduled; it recovers at once", key);
    SetDuckState(AuDuckState_Idle);
}

void CAuBus::EndRecovery() {
    if (DuckState() != AuDuckState_Recovering) return;
    SetDuckState(AuDuckState_Idle);
    UpdateDuckTargets();
}

CAuDefaultBus* CAuDefaultBus::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuDefaultBus));
    if (!memory) return nullptr;
    auto* bus = new (memory) CAuDefaultBus(id);
    bus->m_pExtraOwner =
        static_cast<CAuNodeBase**>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuNodeBase*)));
    if (bus->m_pExtraOwner) *bus->m_pExtraOwner = nullptr;
    // Flag first: the table lock below and the bus's own release must both find the bus table.
    bus->SetFlagsB(AU_NODE_B_IS_BUS, true);
    BusTable().Lock();
    if (!s_pDefaultBus) s_pDefaultBus = bus;
    BusTable().Unlock();
    if (!bus->m_pExtraOwner || bus->Init() != AuResultSuccess) {
        bus->Release();
        return nullptr;
    }
    return bus;
}

CAuDefaultBus* CAuDefaultBus::GetDefaultBus() {
    BusTable().Lock();
    CAuDefaultBus* bus = s_pDefaultBus;
    if (bus) bus->AddRef();
    BusTable().Unlock();
    return bus;
}

CAuDefaultBus* CAuDefaultBus::TakeDefaultBus() {
    BusTable().Lock();
    CAuDefaultBus* bus = s_pDefaultBus;
    s_pDefaultBus = nullptr;
    if (bus) bus->AddRef();
    BusTable().Unlock();
    return bus;
}

void CAuDefaultBus::SetDefaultBusIfNone(CAuDefaultBus* bus) {
    BusTable().Lock();
    if (!s_pDefaultBus && bus) s_pDefaultBus = bus;
    BusTable().Unlock();
}

CAuDefaultBus::~CAuDefaultBus() {
    BusTable().Lock();
    if (s_pDefaultBus == this) s_pDefaultBus = nullptr;
    BusTable().Unlock();
}

AURESULT CAuDefaultBus::CanAddChild(CAuNodeBase* child) {
    if (child == this) return AuResultCannotBeOwnChild;
    if (Contains(IsBus(child) ? m_busChildren : m_nodeChildren, child)) return AuResultAlreadyAChild;
    return AuResultSuccess;
}

AURESULT CAuDefaultBus::AddChild(CAuNodeBase* child) {
    if (!child) return AuResultFail;
    AURESULT result = InsertChild(child);
    if (result == AuResultSuccess) {
        result = child->SetExtraOwner(this);
        if (result != AuResultSuccess && TakeOutChild(child)) Release();
    }
    child->Release();
    return result;
}

void CAuDefaultBus::RemoveChild(CAuNodeBase* child) {
    // A child being destroyed has cleared its cell already; one owned elsewhere stays there.
    CAuNodeBase* owner = child->GetExtraOwner();
    if (owner && owner != this) return;
    if (!TakeOutChild(child)) return;
    if (owner) child->SetExtraOwner(nullptr);
    Release();
}

void CAuDefaultBus::NotifyParamChange(u32 target, f32 value, const AuRTPCKey& key, bool flag, bool delta) {
    // The motion tree carries the audio volumes as its own two targets.
    if (target == AuTarget_Volume)
        target = AuTarget_Prop8;
    else if (target == AuPropID_Pitch)
        target = 31;
    CAuBus::NotifyParamChange(target, value, key, flag, delta);
}

void CAuDefaultBus::CollectVolumes(AuCollectedVolumes& volumes, CAuRegisteredObj*, u32, bool) {
    for (const u8 prop : {AuPropID_Volume, AuPropID_Pitch}) {
        AuAccumulatedValues states;
        states.mask = prop == AuPropID_Volume ? 1u : 2u;
        AddStateValues(states);
        f32 value = states.values[prop] + GetPropFloat(prop);
        if (HasRTPC(prop)) value += GetRTPCValue(prop, nullptr);
        if (m_pModifiedValues) value += m_pModifiedValues->GetValue(prop);
        if (prop == AuPropID_Volume) {
            volumes.values[1] += value + GetDuckedVolume(prop);
        } else {
            volumes.values[3] += value;
        }
    }
}

CAuBusType20* CAuBusType20::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuBusType20));
    if (!memory) return nullptr;
    auto* bus = new (memory) CAuBusType20(id);
    if (bus->Init() != AuResultSuccess) {
        bus->Release();
        return nullptr;
    }
    return bus;
}

CAuActionBusDelayed* CAuActionBusDelayed::Create(u32 busID, u32 delaySamples) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuActionBusDelayed));
    if (!memory) return nullptr;
    auto* action = new (memory) CAuActionBusDelayed(0);
    action->SetActionType(AU_ACTION_BUS_DELAYED);
    action->SetElementID(busID, true);
    const i32 delay = static_cast<i32>(std::min<u32>(delaySamples, INT_MAX));
    if (action->SetPropValue(AuPropID_Delay, delay, 0, 0) != AuResultSuccess) {
        action->Release();
        return nullptr;
    }
    return action;
}

AURESULT CAuActionBusDelayed::Execute(CAuPendingAction&) {
    CAuNodeBase* bus = GetTargetNode();
    if (!bus) return AuResultSuccess;
    if (AuIsBusCategory(bus->Category())) static_cast<CAuBus*>(bus)->EndRecovery();
    bus->Release();
    return AuResultSuccess;
}

namespace {

CAuIndexable* CreateBus(u32 id, const u8*, u32) {
    // A first bus starts the master busses afresh.
    if (!AuFirstBusRead()) CAuBus::ClearMasterBusses();
    return CAuBus::Create(id);
}

CAuIndexable* CreateDefaultBus(u32 id, const u8*, u32) {
    return CAuDefaultBus::Create(id);
}

CAuIndexable* CreateBusType20(u32 id, const u8*, u32) {
    return CAuBusType20::Create(id);
}

AURESULT ReadBus(CAuIndexable& object, const u8* payload, u32 size, bool) {
    AuRecordCursor cursor(payload, size);
    return static_cast<CAuBus&>(object).SetInitialValues(cursor);
}

void AfterBus() {
    AuSetFirstBusRead(true);
}

// While no bus has been read, a bank may bring the motion tree's default bus: the current one
// steps aside for the load and comes back unless the bank installed another.
void BeginBankLoad() {
    s_bDetaching = g_pIndex && !AuFirstBusRead();
    if (s_bDetaching) s_pDetachedDefaultBus = CAuDefaultBus::TakeDefaultBus();
}

void EndBankLoad() {
    if (!s_bDetaching) return;
    s_bDetaching = false;
    CAuDefaultBus* detached = s_pDetachedDefaultBus;
    s_pDetachedDefaultBus = nullptr;
    if (!detached) return;
    CAuDefaultBus* installed = CAuDefaultBus::GetDefaultBus();
    if (installed)
        installed->Release();
    else
        CAuDefaultBus::SetDefaultBusIfNone(detached);
    detached->Release();
}

class DefaultBusSource final : public IAuDefaultBusSource {
public:
    CAuNodeBase* GetDefaultBusAddRef() override { return CAuDefaultBus::GetDefaultBus(); }
};
DefaultBusSource s_defaultBusSource;

void SetMixer(void*, const AuQueuedMsg& msg) {
    const AuMsgSetMixer& payload = msg.As<AuMsgSetMixer>();
    const bool isBus = payload.isBus == 1;
    auto* node = static_cast<CAuNodeBase*>(g_pIndex->GetNodePtrAndAddRef(payload.nodeID, isBus));
    if (!node) {
        AuLog(AuLogLevel::Warning, "mixer for %s %u: not loaded", isBus ? "bus" : "node", payload.nodeID);
        return;
    }
    const AURESULT result = node->SetMixerPlugin(payload.mixerID, true);
    if (result != AuResultSuccess)
        AuLog(AuLogLevel::Warning, "mixer %u of %u: result %d", payload.mixerID, payload.nodeID, result);
    node->Release();
}

} // namespace

void AuInstallBusHierarchyLoaders() {
    AuHierarchyLoaderEntry bus{AuIndexBusses, &CreateBus, &ReadBus, nullptr, nullptr};
    bus.afterRecord = &AfterBus;
    AuSetHierarchyLoader(AuHierarchyTypeBus, bus);
    AuSetHierarchyLoader(AuHierarchyTypeDefaultBus, AuHierarchyLoaderEntry{AuIndexBusses, &CreateDefaultBus,
                                                                           &ReadBus, nullptr, nullptr});
    AuSetBankLoadHooks(&BeginBankLoad, &EndBankLoad);
    AuSetDefaultBusSource(&s_defaultBusSource);
}

AuHierarchyLoaderEntry AuBusType20LoaderEntry() {
    return AuHierarchyLoaderEntry{AuIndexBusses, &CreateBusType20, &ReadBus, nullptr, nullptr};
}

void AuInstallBusMsgHandlers(CAuAudioMgr& audio) {
    audio.SetMsgHandler(AuQueuedMsgType_SetMixer, AuMsgHandler{&SetMixer, nullptr, nullptr});
}

CAuBus* CAuBus::MixingBusOf(CAuNodeBase* bus) {
    while (IsBus(bus) && !static_cast<CAuBus*>(bus)->MixesOnItsOwn())
        bus = bus->Bus();
    return IsBus(bus) ? static_cast<CAuBus*>(bus) : nullptr;
}

IAuMixBusNode* CAuBus::MixNodeView::ParentBusNode() noexcept {
    CAuBus* parent = MixingBusOf(m_bus.Bus());
    return parent ? &parent->MixNode() : nullptr;
}

f32 CAuBus::MixNodeView::OutputBusVolumeDb() noexcept {
    // A pass-through bus is mixed by the bus above it, which never sees its bus volume: its
    // voices carry it, with that of the pass-through busses between them.
    const f32 folded = m_bus.MixesOnItsOwn() ? 0.0f : m_bus.GetAccumulatedProp(0, AuPropID_BusVolume);
    return m_bus.GetAccumulatedProp(1, AuPropID_Volume) + folded;
}

void CAuBus::MixNodeView::GetMixerPlugin(AuEffectRecord& record) noexcept {
    CAuIndexable* settings = nullptr;
    m_bus.GetAttachedPluginSettings(settings);
    record = AuEffectRecord{static_cast<CAuPluginSettings*>(settings), false};
}

bool CAuBus::MixNodeView::HasPositioning() noexcept {
    return (m_bus.FlagsB() & AU_NODE_B_PANNER_2D) || m_bus.HasRTPC(AuTarget_Positioning1) ||
           m_bus.HasRTPC(AuTarget_Positioning2);
}

f32 CAuBus::MixNodeView::GetProperty(u32 property) noexcept {
    // The bank property behind each target the mixing side reads.
    u8 prop;
    switch (property) {
    case AuBusProperty_BusVolume:
        // The pass-through busses above fold in; the mixing bus above mixes its own.
        return m_bus.GetAccumulatedProp(0, AuPropID_BusVolume);
    case AuBusProperty_VoiceVolume:
        prop = AuPropID_Volume;
        break;
    case AuBusProperty_PanLR:
        prop = AuPropID_Positioning1;
        break;
    case AuBusProperty_PanFR:
        prop = AuPropID_Positioning2;
        break;
    case AuBusProperty_Centre:
        prop = AuPropID_Positioning3;
        break;
    case AuBusProperty_DynamicThreshold:
        prop = 26;
        break;
    case AuBusProperty_DynamicRatio:
        prop = 27;
        break;
    case AuBusProperty_DynamicRelease:
        prop = 28;
        break;
    case AuBusProperty_PositioningEnabled:
        return (m_bus.FlagsB() & AU_NODE_B_PANNER_2D) ? 1.0f : 0.0f;
    default:
        return 0.0f;
    }
    // The mixing side's numbers are the hierarchy's targets.
    static_assert(u32{AuBusProperty_PanLR} == u32{AuTarget_Positioning1} &&
                  u32{AuBusProperty_PanFR} == u32{AuTarget_Positioning2});
    return m_bus.HasRTPC(property) ? m_bus.GetRTPCValue(property, nullptr) : m_bus.GetPropFloat(prop);
}

IAuMixBusNode* AuLookupBankMixBus(u32 busID, f32& foldedDb) {
    foldedDb = 0.0f;
    if (!g_pIndex) return nullptr;
    auto* bus = static_cast<CAuNodeBase*>(g_pIndex->GetPtrAndAddRef(AuIndexBusses, busID));
    CAuBus* mixing = CAuBus::MixingBusOf(bus);
    if (mixing && mixing != bus) {
        foldedDb = static_cast<CAuBus*>(bus)->GetAccumulatedProp(0, AuPropID_BusVolume);
        mixing->AddRef();
    }
    if (bus && mixing != bus) bus->Release();
    return mixing ? &mixing->MixNode() : nullptr;
}
