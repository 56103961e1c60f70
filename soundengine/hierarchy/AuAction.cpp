#include "hierarchy/AuAction.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuGameSyncSeams.h"
#include "hierarchy/AuParameterNode.h"

#include <AU/MemoryMgr.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

CAuIndexTable& ActionTable() {
    return g_pIndex->Table(AuIndexActions);
}

template <class T> CAuAction* Make(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return memory ? new (memory) T(id) : nullptr;
}

i32 AsInt(u32 word) {
    return static_cast<i32>(word);
}

u32 Word(f32 value) {
    u32 word;
    memcpy(&word, &value, 4);
    return word;
}

// The value when it differs from what the action reads, then the range unless it is empty and
// none is stored.
AURESULT StorePropAndRange(AuPropBundle& props, AuPropBundle8& ranges, u8 id, bool differs, AuPropValue value,
                           bool emptyRange, u32 min, u32 max) {
    if (differs && props.SetValue(id, value) != AuResultSuccess) return AuResultFail;
    if (emptyRange && !ranges.Get(id)) return AuResultSuccess;
    return ranges.Set(id, min, max);
}

// A one-byte flag stored as 0 or 1.
bool ReadFlag(AuRecordCursor& cursor, u8& flag) {
    u8 byte = 0;
    if (!cursor.Read(byte)) return false;
    flag = byte != 0;
    return true;
}

// The primary and secondary master busses, then the default bus when asked for: each held by the
// reference its getter gave while `call` runs.
template <class Call> void ForEachMasterBus(bool withDefault, Call call) {
    for (CAuBus* bus : {static_cast<CAuBus*>(CAuBus::GetPrimaryMasterBus()), CAuBus::GetSecondaryMasterBus(),
                        withDefault ? static_cast<CAuBus*>(CAuDefaultBus::GetDefaultBus()) : nullptr}) {
        if (!bus) continue;
        call(*bus);
        bus->Release();
    }
}

// The action's target, held while `call` gives the result; `missing` without it.
template <class Call> AURESULT OnTarget(const CAuAction& action, AURESULT missing, Call call) {
    CAuNodeBase* node = action.GetTargetNode();
    if (!node) return missing;
    const AURESULT result = call(*node);
    node->Release();
    return result;
}

i32 SaturatedI32(i64 value) {
    return static_cast<i32>(std::clamp<i64>(value, INT32_MIN, INT32_MAX));
}

// base + min, plus a draw only when the range is not a single value. Summed wide: a delay read
// from a bank may sit at the limit already.
i32 WithIntRange(i32 base, const AuPropValue8* range) {
    if (!range) return base;
    const i64 min = AsInt(range->word1);
    const i64 max = AsInt(range->word2);
    if (max == min) return SaturatedI32(base + min);
    return SaturatedI32(base + min +
                        static_cast<i64>(static_cast<f64>(rand()) / 32767.0 * f64(max - min) + 0.5));
}

} // namespace

CAuAction::~CAuAction() {
    m_ranges.Term();
    m_props.Term();
}

u32 CAuAction::AddRef() {
    return AddRefIn(ActionTable());
}

u32 CAuAction::Release() {
    return ReleaseIn(ActionTable());
}

void CAuAction::SetActionType(u16 type) {
    m_type = type;
}

void CAuAction::SetElementID(u32 id, bool isBus) {
    m_targetID = id;
    m_flags = isBus ? (m_flags | AU_ACTION_TARGET_IS_BUS) : (m_flags & ~AU_ACTION_TARGET_IS_BUS);
}

AURESULT CAuAction::SetPropValue(u8 id, i32 value, i32 min, i32 max) {
    const AuPropValue* stored = m_props.GetValue(id);
    const i32 current = stored ? stored->i : AsInt(AuPropDefaultWord(id));
    AuPropValue word;
    word.i = value;
    return StorePropAndRange(m_props, m_ranges, id, current != value, word, min == 0 && max == 0,
                             static_cast<u32>(min), static_cast<u32>(max));
}

AURESULT CAuAction::SetPropValue(u8 id, f32 value, f32 min, f32 max) {
    const AuPropValue* stored = m_props.GetValue(id);
    const f32 current = stored ? stored->f : AuPropDefaultFloat(id);
    AuPropValue word;
    word.f = value;
    return StorePropAndRange(m_props, m_ranges, id, current != value, word, min == 0.0f && max == 0.0f,
                             Word(min), Word(max));
}

AURESULT CAuAction::Execute(CAuPendingAction&) {
    AuLog(AuLogLevel::Warning, "action %u of type %04X: its execution is not built", key, m_type);
    return AuResultNotImplemented;
}

AURESULT CAuAction::SetActionParams(AuRecordCursor&) {
    return AuResultSuccess;
}

AURESULT CAuAction::SetActionSpecificParams(AuRecordCursor&) {
    return AuResultSuccess;
}

bool CAuAction::ReadCurve(AuRecordCursor& cursor) {
    u8 curve = 0;
    if (!cursor.Read(curve)) return false;
    m_flags = u8((m_flags & ~AU_ACTION_CURVE_MASK) | (curve & AU_ACTION_CURVE_MASK));
    return true;
}

AURESULT CAuAction::SetInitialValues(AuRecordCursor& cursor) {
    u32 id = 0, target = 0;
    u16 type = 0;
    u8 isBus = 0;
    if (!cursor.Read(id) || !cursor.Read(type) || !cursor.Read(target) || !cursor.Read(isBus))
        return AuResultBadHeader;
    SetElementID(target, isBus != 0);
    m_props.Term();
    m_ranges.Term();
    const u8* at = cursor.At();
    AURESULT result = m_props.SetFromBank(at, cursor.End());
    if (result == AuResultSuccess) result = m_ranges.ReadFromBank(at, cursor.End());
    if (result == AuResultTruncatedChunk) return AuResultBadHeader;
    if (result != AuResultSuccess) return result;
    cursor.SetAt(at);
    if ((result = SetActionParams(cursor)) != AuResultSuccess) return result;

    // The delay is kept in samples at the output rate; from about 12 hours on it stays at the
    // longest one 32 bits hold.
    const i64 perMs = g_OutputTiming.uSampleRate / 1000;
    if (AuPropValue* delay = m_props.GetValue(AuPropID_Delay)) delay->i = SaturatedI32(delay->i * perMs);
    if (AuPropValue8* range = m_ranges.Get(AuPropID_Delay)) {
        range->word1 = static_cast<u32>(SaturatedI32(AsInt(range->word1) * perMs));
        range->word2 = static_cast<u32>(SaturatedI32(AsInt(range->word2) * perMs));
    }
    return AuResultSuccess;
}

void CAuAction::AddToIndex() {
    if (key != 0) ActionTable().Add(this);
}

CAuNodeBase* CAuAction::GetTargetNode() const {
    return static_cast<CAuNodeBase*>(
        g_pIndex->GetNodePtrAndAddRef(m_targetID, (m_flags & AU_ACTION_TARGET_IS_BUS) != 0));
}

i32 CAuAction::IntWithRange(u8 id) const {
    auto* self = const_cast<CAuAction*>(this);
    const AuPropValue* stored = self->m_props.GetValue(id);
    return WithIntRange(stored ? stored->i : 0, self->m_ranges.Get(id));
}

i32 CAuAction::GetDelay() const {
    return IntWithRange(AuPropID_Delay);
}

i32 CAuAction::GetTransitionTime() const {
    return IntWithRange(AuPropID_TransitionTime);
}

f32 CAuAction::RandomizedFloat(f32 base, f32 min, f32 max) {
    if (max == min) return base + min;
    return base + min + static_cast<f32>(rand()) / 32767.0f * (max - min);
}

AURESULT CAuActionExcept::AddException(u32 id, bool isBus) {
    return m_exceptions.AddLast(AuActionException{id, isBus ? 1u : 0u}) ? AuResultSuccess : AuResultFail;
}

void CAuActionExcept::RemoveException(u32 id, bool isBus) {
    const u32 flag = isBus ? 1 : 0;
    m_exceptions.EraseSwap(m_exceptions.IndexOf(
        [&](const AuActionException& entry) { return entry.id == id && entry.isBus == flag; }));
}

void CAuActionExcept::ClearExceptions() {
    m_exceptions.Term();
}

AURESULT CAuActionExcept::ReadExceptions(AuRecordCursor& cursor) {
    u32 count = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    // Five bytes each: a count the payload cannot hold is refused before anything is sized by it.
    if (count > cursor.Left() / 5) return AuResultBadHeader;
    ClearExceptions();
    if (count == 0) return AuResultSuccess;
    if (!m_exceptions.Grow(count)) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        u32 id = 0;
        u8 isBus = 0;
        cursor.Read(id);
        cursor.Read(isBus);
        m_exceptions.AddLast(AuActionException{id, isBus != 0 ? 1u : 0u});
    }
    return AuResultSuccess;
}

AURESULT CAuActionExcept::ReadCurveSpecificAndExceptions(AuRecordCursor& cursor) {
    if (!ReadCurve(cursor)) return AuResultBadHeader;
    const AURESULT result = SetActionSpecificParams(cursor);
    if (result != AuResultSuccess) return result;
    return ReadExceptions(cursor);
}

AURESULT CAuActionPause::SetActionSpecificParams(AuRecordCursor& cursor) {
    return ReadFlag(cursor, m_includePendingResumes) ? AuResultSuccess : AuResultBadHeader;
}

AURESULT CAuActionResume::SetActionSpecificParams(AuRecordCursor& cursor) {
    return ReadFlag(cursor, m_masterResume) ? AuResultSuccess : AuResultBadHeader;
}

AURESULT CAuActionPlay::SetActionParams(AuRecordCursor& cursor) {
    if (!ReadCurve(cursor) || !cursor.Read(m_bankID)) return AuResultBadHeader;
    m_flags |= AU_ACTION_BANK_ID_READ;
    return AuResultSuccess;
}

void CAuActionPlay::GetHistory(u32* out) {
    out[0] = 0;
}

bool CAuActionPlay::DrawPlays() {
    const AuPropValue* stored = m_props.GetValue(AuPropID_Probability);
    const f64 probability = stored ? stored->f : AuPropDefaultFloat(AuPropID_Probability);
    if (probability == 0.0) return false;
    // 2^30 - 1, not 2^30: both draws at 32767 give exactly 100, which still plays at 100.
    const f64 first = rand();
    const f64 r = (first * 32768.0 + rand()) / 1073741823.0 * 100.0;
    return r <= probability;
}

AURESULT CAuActionPlay::Execute(CAuPendingAction& pending) {
    if (!DrawPlays()) return AuResultSuccess;
    CAuNodeBase* target = GetTargetNode();
    if (!target) return AuResultIDNotFound;
    auto* node = dynamic_cast<CAuParameterNode*>(target);
    if (!node) {
        AuLog(AuLogLevel::Warning, "play action %u: target %u is not a playable node", key, m_targetID);
        target->Release();
        return AuResultFail;
    }
    AuNodePlayParams params;
    params.flags |= AU_PLAY_PASSED_2;
    params.pGameObj = pending.pGameObj;
    params.transitionMs = GetTransitionTime();
    params.eCurve = FadeCurve();
    for (u32 i = 0; i < 3; ++i)
        params.customWords[i] = pending.playParams.customWords[i];
    params.pExternalSources = pending.playParams.pExternalSources;
    params.playingID = pending.PlayingID();
    params.lFrameOffset = static_cast<i32>(pending.uSampleOffset);
    const AURESULT result = node->ExecutePlay(params);
    target->Release();
    return result;
}

CAuActionPlayAndContinue::~CAuActionPlayAndContinue() {
    EndTransitions();
    if (m_pNode) m_pNode->Release();
}

CAuActionPlayAndContinue* CAuActionPlayAndContinue::CreateDeferredPlay(CAuParameterNode& node,
                                                                       const AuNodePlayParams& params,
                                                                       i32 delaySamples) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuActionPlayAndContinue));
    if (!memory) return nullptr;
    auto* action = new (memory) CAuActionPlayAndContinue(0);
    action->SetActionType(AU_ACTION_PLAY_AND_CONTINUE);
    action->SetElementID(node.key, false);
    if (action->SetPropValue(AuPropID_Delay, delaySamples, 0, 0) != AuResultSuccess) {
        action->Release();
        return nullptr;
    }
    node.AddRef();
    action->m_pNode = &node;
    action->m_request = params;
    action->m_request.flags |= AU_PLAY_DEFERRED_RETURN;
    return action;
}

AURESULT CAuActionPlayAndContinue::Execute(CAuPendingAction& pending) {
    if (!m_pNode) return CAuActionPlay::Execute(pending);
    // Each run plays a copy: the request the action holds stays as it was made.
    AuNodePlayParams params = m_request;
    params.lFrameOffset += static_cast<i32>(pending.uSampleOffset);
    return m_pNode->ExecutePlay(params);
}

bool CAuActionPlayAndContinue::ContinueToNextItem(CAuNodeBase*, CAuRegisteredObj*, CAuPendingAction&) {
    return true;
}

void CAuActionPlayAndContinue::SetTransition(u32 index, CAuTransition* transition,
                                             IAuTransitionTarget* owner) {
    m_pTransitions[index] = transition;
    if (owner) m_pTransitionOwner = owner;
}

void CAuActionPlayAndContinue::EndTransitions() noexcept {
    for (CAuTransition*& transition : m_pTransitions) {
        if (transition && g_pTransitionMgr)
            g_pTransitionMgr->RemoveTransitionUser(transition, m_pTransitionOwner);
        transition = nullptr;
    }
}

void CAuActionSetProp::SetActionType(u16 type) {
    CAuActionSetValue::SetActionType(type);
    switch (type >> 8) {
    case 0x08:
    case 0x09:
        m_propertyID = AuPropID_Pitch;
        break;
    case 0x0A:
    case 0x0B:
        m_propertyID = AuPropID_Volume;
        break;
    case 0x0C:
    case 0x0D:
        m_propertyID = AuPropID_BusVolume;
        break;
    case 0x0E:
    case 0x0F:
        m_propertyID = 3;
        break;
    default: // 0x20 and 0x30
        m_propertyID = 4;
        break;
    }
}

AURESULT CAuActionSetProp::SetActionSpecificParams(AuRecordCursor& cursor) {
    if (!cursor.Read(m_valueMeaning) || !m_value.Read(cursor)) return AuResultBadHeader;
    return AuResultSuccess;
}

AURESULT CAuActionSetGroupValue::SetActionParams(AuRecordCursor& cursor) {
    if (!cursor.Read(m_groupID) || !cursor.Read(m_valueID)) return AuResultBadHeader;
    return AuResultSuccess;
}

AURESULT CAuActionSetGameParameter::SetActionSpecificParams(AuRecordCursor& cursor) {
    u8 meaning = 0;
    if (!cursor.Read(m_bypassTransition) || !cursor.Read(meaning) || !m_value.Read(cursor))
        return AuResultBadHeader;
    m_valueMeaning = meaning;
    return AuResultSuccess;
}

AURESULT CAuActionBypassFX::SetActionParams(AuRecordCursor& cursor) {
    u8 mask = 0;
    if (!cursor.Read(m_bypass) || !cursor.Read(mask)) return AuResultBadHeader;
    m_slotMask = mask;
    return ReadExceptions(cursor);
}

AURESULT CAuActionSeek::SetActionParams(AuRecordCursor& cursor) {
    if (!cursor.Read(m_isPercent) || !m_position.Read(cursor) || !cursor.Read(m_snapToMarker))
        return AuResultBadHeader;
    return ReadExceptions(cursor);
}

CAuAction* CreateActionByType(u16 type, u32 id) {
    CAuAction* action = nullptr;
    switch (type >> 8) {
    case 0x01:
        action = Make<CAuActionStop>(id);
        break;
    case 0x02:
        action = Make<CAuActionPause>(id);
        break;
    case 0x03:
        action = Make<CAuActionResume>(id);
        break;
    case 0x04:
        action = Make<CAuActionPlay>(id);
        break;
    case 0x06:
    case 0x07:
        action = Make<CAuActionMute>(id);
        break;
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x20:
    case 0x30:
        action = Make<CAuActionSetProp>(id);
        break;
    case 0x10:
    case 0x11:
        action = Make<CAuActionUseState>(id);
        break;
    case 0x12:
        action = Make<CAuActionSetState>(id);
        break;
    case 0x13:
    case 0x14:
        action = Make<CAuActionSetGameParameter>(id);
        break;
    case 0x19:
        action = Make<CAuActionSetSwitch>(id);
        break;
    case 0x1A:
    case 0x1B:
        action = Make<CAuActionBypassFX>(id);
        break;
    case 0x1C:
        action = Make<CAuActionBreak>(id);
        break;
    case 0x1D:
        action = Make<CAuActionTrigger>(id);
        break;
    case 0x1E:
        action = Make<CAuActionSeek>(id);
        break;
    case 0x1F:
        action = Make<CAuActionRelease>(id);
        break;
    default:
        return nullptr;
    }
    if (!action) return nullptr;
    action->SetActionType(type);
    action->AddToIndex();
    return action;
}

namespace {

bool IsSingleTarget(u16 type) {
    return (type & 0xFE) == 0x02;
}

} // namespace

void CAuAction::ExecuteOnAll(const AuActionExec& exec) {
    if (g_pIndex) {
        CAuIndexTable& sequences = g_pIndex->Table(AuIndexDynamicSequences);
        sequences.Lock();
        sequences.ForEach([&exec](CAuIndexable* sequence) {
            if (auto* target = dynamic_cast<IAuAllActionTarget*>(sequence))
                target->ExecuteAllAction(AuActionExecKind(exec.kind), exec.pGameObj);
        });
        sequences.Unlock();
    }
    ForEachMasterBus(true, [&exec](CAuBus& bus) { bus.ExecuteAction(exec); });
}

void CAuAction::ExecuteOnAllExcept(const AuActionExec& exec) {
    ForEachMasterBus(true, [&exec](CAuBus& bus) { bus.ExecuteActionExcept(exec); });
}

AuActionExec CAuActionActive::MakeExec(const CAuPendingAction& pending) const {
    // The post's playing-ID filter (0 = any), not the post's own playing ID.
    AuActionExec exec =
        MakeActionExec(ExecKind(), pending.pGameObj, pending.uCustomParam, GetTransitionTime(), FadeCurve());
    if (ExecKind() == AuActionExec_Resume && MasterResume()) exec.flags |= AU_EXEC_MASTER_RESUME;
    return exec;
}

AURESULT CAuActionActive::Execute(CAuPendingAction& pending) {
    switch (m_type & 0xFF) {
    case 0x02:
    case 0x03:
        return OnTarget(*this, AuResultSuccess, [this, &pending](CAuNodeBase& node) {
            const AURESULT result = node.ExecuteAction(MakeExec(pending));
            PendingOfNode(&node, pending.pGameObj, pending.uCustomParam);
            return result;
        });
    case 0x04:
    case 0x05: {
        AuActionExec exec = MakeExec(pending);
        // Every game object: the busses also move their own state transitions.
        if (!exec.pGameObj) exec.flags |= AU_EXEC_PAUSE_TRANSITIONS;
        ExecuteOnAll(exec);
        PendingOfNode(nullptr, pending.pGameObj, pending.uCustomParam);
        return AuResultSuccess;
    }
    case 0x08:
    case 0x09: {
        AuActionExec exec = MakeExec(pending);
        exec.pExceptions = m_exceptions.begin();
        exec.exceptionCount = m_exceptions.Count();
        ExecuteOnAllExcept(exec);
        PendingExcept(pending.pGameObj, pending.uCustomParam);
        return AuResultSuccess;
    }
    default:
        return AuResultSuccess;
    }
}

void CAuActionStop::PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr) g_pAudioMgr->ClearPendingItems(node, gameObj, playingID);
}

void CAuActionStop::PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr)
        g_pAudioMgr->ClearPendingItemsExcept(gameObj, m_exceptions.begin(), m_exceptions.Count(), playingID);
}

void CAuActionPause::PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr) g_pAudioMgr->PausePendingItems(node, gameObj, IncludePendingResumes(), playingID);
}

void CAuActionPause::PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr)
        g_pAudioMgr->PausePendingItemsExcept(gameObj, IncludePendingResumes(), m_exceptions.begin(),
                                             m_exceptions.Count(), playingID);
}

void CAuActionResume::PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr) g_pAudioMgr->ResumePausedPendingItems(node, gameObj, MasterResume(), playingID);
}

void CAuActionResume::PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    if (g_pAudioMgr)
        g_pAudioMgr->ResumePausedPendingItemsExcept(gameObj, MasterResume(), m_exceptions.begin(),
                                                    m_exceptions.Count(), playingID);
}

AURESULT CAuActionRelease::Execute(CAuPendingAction& pending) {
    if (!IsSingleTarget(m_type)) return AuResultFail;
    return OnTarget(*this, AuResultFail,
                    [this, &pending](CAuNodeBase& node) { return node.ExecuteAction(MakeExec(pending)); });
}

AURESULT CAuActionBreak::Execute(CAuPendingAction& pending) {
    return OnTarget(*this, AuResultIDNotFound, [&pending](CAuNodeBase& node) {
        const AURESULT result = node.ExecuteAction(MakeActionExec(
            AuActionExec_Break, pending.pGameObj, pending.PlayingID(), 0, AuCurveInterpolation_Linear));
        if (result == AuResultSuccess && g_pAudioMgr)
            g_pAudioMgr->RemovePendingPlayActions(&node, pending.pGameObj, pending.PlayingID());
        return result;
    });
}

namespace {

// The node of a modified-list key, held for the call only; a key whose node is gone is skipped.
template <class Call> void WithNode(const AuModifiedNode& item, Call call) {
    CAuIndexable* found = g_pIndex ? g_pIndex->GetNodePtrAndAddRef(item.nodeID, item.isBus != 0) : nullptr;
    if (!found) return;
    auto* node = static_cast<CAuNodeBase*>(found);
    call(*node);
    node->Release();
}

// The registry's globally modified nodes, then every registered object's. A node on several
// lists is visited once per list.
template <class Call> void ForEachModifiedNode(Call call) {
    if (!g_pRegistryMgr) return;
    g_pRegistryMgr->ForEachModifiedNode([&call](const AuModifiedNode& item) { WithNode(item, call); });
}

template <class Call> void ForEachModifiedNodeOf(CAuRegisteredObj* gameObj, Call call) {
    if (!gameObj) return;
    gameObj->ForEachModifiedNode([&call](const AuModifiedNode& item) { WithNode(item, call); });
}

bool IsSetType(u32 high) {
    switch (high) {
    case 0x06:
    case 0x08:
    case 0x0A:
    case 0x0C:
    case 0x0E:
    case 0x20:
        return true;
    default:
        return false;
    }
}

bool Excepted(const AuArray<AuActionException>& exceptions, CAuNodeBase& node) {
    const u32 isBus = (node.FlagsB() & AU_NODE_B_IS_BUS) ? 1 : 0;
    for (const AuActionException& entry : exceptions)
        if (entry.id == node.key && entry.isBus == isBus) return true;
    return false;
}

} // namespace

bool CAuActionSetValue::IsExcepted(CAuNodeBase& node) const {
    return Excepted(m_exceptions, node);
}

void CAuActionSetValue::ResetAllValuesExcept(CAuNodeBase* node, CAuRegisteredObj* gameObj) {
    if (!IsExcepted(*node)) ResetValue(node, gameObj);
}

void CAuActionSetValue::ResetAllValuesExceptGlobal(CAuNodeBase* node) {
    if (!IsExcepted(*node)) ResetAllValues(node);
}

AURESULT CAuActionSetValue::Execute(CAuPendingAction& pending) {
    const u32 high = m_type >> 8;
    CAuRegisteredObj* gameObj = pending.pGameObj;
    // The bus volume has no per-object variants.
    if (m_type == 0x0C03 || m_type == 0x0D03 || m_type == 0x0D05 || m_type == 0x0D09) return AuResultSuccess;
    if (high == 0x13 || high == 0x14) {
        if (!IsSingleTarget(m_type)) return AuResultSuccess;
        // One operation for both: the post's object (none for 02) decides the key.
        if (high == 0x13)
            SetValue(nullptr, gameObj);
        else
            ResetValue(nullptr, gameObj);
        return AuResultSuccess;
    }
    const bool set = IsSetType(high);
    switch (m_type & 0xFF) {
    case 0x02:
    case 0x03: {
        CAuNodeBase* node = GetTargetNode();
        if (!node) return AuResultSuccess;
        const bool global = (m_type & 0xFF) == 0x02;
        if (set) {
            if (global)
                SetValueGlobal(node);
            else
                SetValue(node, gameObj);
        } else {
            if (global)
                ResetValueGlobal(node);
            else
                ResetValue(node, gameObj);
        }
        node->Release();
        return AuResultSuccess;
    }
    case 0x04:
        if (!set) ForEachModifiedNode([this](CAuNodeBase& node) { ResetAllValues(&node); });
        return AuResultSuccess;
    case 0x05:
        if (!set)
            ForEachModifiedNodeOf(gameObj,
                                  [this, gameObj](CAuNodeBase& node) { ResetValue(&node, gameObj); });
        return AuResultSuccess;
    case 0x08:
        if (!set) ForEachModifiedNode([this](CAuNodeBase& node) { ResetAllValuesExceptGlobal(&node); });
        return AuResultSuccess;
    case 0x09:
        if (!set)
            ForEachModifiedNodeOf(
                gameObj, [this, gameObj](CAuNodeBase& node) { ResetAllValuesExcept(&node, gameObj); });
        return AuResultSuccess;
    default:
        return AuResultSuccess;
    }
}

void CAuActionMute::SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) {
    node->MuteFromAction(gameObj, GetTransitionTime(), FadeCurve());
}

void CAuActionMute::ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) {
    node->UnmuteFromAction(gameObj, GetTransitionTime(), FadeCurve());
}

void CAuActionMute::ResetAllValues(CAuNodeBase* node) {
    node->UnmuteAllFromAction(GetTransitionTime(), FadeCurve());
}

void CAuActionSetProp::SetValueParams(u8 meaning, f32 base, f32 min, f32 max) {
    m_valueMeaning = meaning;
    m_value = {base, min, max};
}

void CAuActionSetProp::SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) {
    node->SetValueFromAction(m_propertyID, Value(), gameObj, GetTransitionTime(), FadeCurve(),
                             m_valueMeaning);
}

void CAuActionSetProp::ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) {
    node->SetValueFromAction(m_propertyID, 0.0f, gameObj, GetTransitionTime(), FadeCurve(), 0);
}

void CAuActionSetProp::ResetValueGlobal(CAuNodeBase* node) {
    node->ResetValueFromAction(m_propertyID, nullptr, GetTransitionTime(), FadeCurve());
}

void CAuActionSetProp::ResetAllValues(CAuNodeBase* node) {
    ResetValueGlobal(node);
}

void CAuActionSetGameParameter::SetValueParams(u32 meaning, f32 base, f32 min, f32 max,
                                               bool bypassTransition) {
    m_valueMeaning = meaning;
    m_value = {base, min, max};
    m_bypassTransition = bypassTransition ? 1 : 0;
}

void CAuActionSetGameParameter::SetValue(CAuNodeBase*, CAuRegisteredObj* gameObj) {
    if (!g_pRTPCMgr) return;
    // The value goes on as drawn, NaN included: the manager takes any float.
    const TransParamsBase transition{GetTransitionTime(), FadeCurve(), BypassTransition()};
    g_pRTPCMgr->SetRTPCInternal(m_targetID, Value(), AuRTPCKey(gameObj), transition,
                                AuValueMeaning(m_valueMeaning));
}

void CAuActionSetGameParameter::ResetValue(CAuNodeBase*, CAuRegisteredObj* gameObj) {
    if (!g_pRTPCMgr) return;
    const TransParamsBase transition{GetTransitionTime(), FadeCurve(), BypassTransition()};
    g_pRTPCMgr->ResetRTPCValue(m_targetID, AuRTPCKey(gameObj), transition);
}

AURESULT CAuActionUseState::Execute(CAuPendingAction&) {
    CAuNodeBase* node = GetTargetNode();
    if (!node) return AuResultSuccess;
    node->SetUseState(m_type == 0x1002);
    node->Release();
    return AuResultSuccess;
}

AURESULT CAuActionSetState::Execute(CAuPendingAction&) {
    if (IAuGameSyncActions* syncs = AuGameSyncSeam::Get())
        syncs->SetState(m_groupID, m_valueID, false, false);
    return AuResultSuccess;
}

AURESULT CAuActionSetSwitch::Execute(CAuPendingAction& pending) {
    IAuGameSyncActions* syncs = AuGameSyncSeam::Get();
    if (!syncs) return AuResultSuccess;
    CAuSwitchMgrLock lock(*syncs);
    if (CAuSwitchEntry* entry = syncs->GetSwitchEntry(m_groupID))
        syncs->SetSwitch(*entry, m_valueID, pending.pGameObj);
    return AuResultSuccess;
}

AURESULT CAuActionTrigger::Execute(CAuPendingAction& pending) {
    if (IAuGameSyncActions* syncs = AuGameSyncSeam::Get()) syncs->Trigger(m_targetID, pending.pGameObj);
    return AuResultSuccess;
}

void CAuActionBypassFX::SetBypassParams(bool bypass, u32 slotMask) {
    m_bypass = bypass ? 1 : 0;
    m_slotMask = slotMask;
}

AURESULT CAuActionBypassFX::Execute(CAuPendingAction& pending) {
    // The node keeps one byte of bypass bits.
    const u8 mask = static_cast<u8>(m_slotMask);
    CAuRegisteredObj* gameObj = pending.pGameObj;
    const u32 high = m_type >> 8;
    const u32 scope = m_type & 0xFF;
    if (high == 0x1A || IsSingleTarget(m_type)) {
        if (!IsSingleTarget(m_type)) return AuResultSuccess;
        CAuNodeBase* node = GetTargetNode();
        if (!node) return AuResultSuccess;
        if (high == 0x1A)
            node->SetBypassFromAction(m_bypass ? mask : 0, mask, gameObj);
        else
            node->ResetBypassFromAction(mask, gameObj);
        node->Release();
        return AuResultSuccess;
    }
    // Both "except" scopes reset the bits of every object, from either list.
    const auto resetUnlessExcepted = [this, mask](CAuNodeBase& node) {
        if (!Excepted(m_exceptions, node)) node.ResetBypassFromAction(mask, nullptr);
    };
    switch (scope) {
    case 0x04:
        ForEachModifiedNode([mask](CAuNodeBase& node) { node.ResetBypassFromAction(mask, nullptr); });
        break;
    case 0x05:
        ForEachModifiedNodeOf(
            gameObj, [mask, gameObj](CAuNodeBase& node) { node.ResetBypassFromAction(mask, gameObj); });
        break;
    case 0x08:
        ForEachModifiedNode(resetUnlessExcepted);
        break;
    case 0x09:
        ForEachModifiedNodeOf(gameObj, resetUnlessExcepted);
        break;
    default:
        break;
    }
    return AuResultSuccess;
}

void CAuActionSeek::SetSeekParams(bool percent, f32 base, f32 min, f32 max, bool snapToMarker) {
    m_isPercent = percent ? 1 : 0;
    m_position = {base, min, max};
    m_snapToMarker = snapToMarker ? 1 : 0;
}

i32 CAuActionSeek::WholeMilliseconds(f32 value) {
    if (std::isnan(value) || value < -2147483648.0f) return 0;
    // 2^31 is the first float past the range.
    if (value >= 2147483648.0f) return 0x7FFFFFFF;
    return static_cast<i32>(value);
}

AURESULT CAuActionSeek::Execute(CAuPendingAction& pending) {
    const u32 scope = m_type & 0xFF;
    AuActionExec exec = MakeActionExec(AuActionExec_Seek, pending.pGameObj, pending.uCustomParam, 0,
                                       IsSingleTarget(m_type) ? AuCurveInterpolation_Linear : FadeCurve());
    exec.flags = (IsPercent() ? AU_EXEC_SEEK_PERCENT : 0u) | (SnapToMarker() ? AU_EXEC_SEEK_SNAP : 0u);
    switch (scope) {
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x08:
    case 0x09:
        break;
    default:
        return AuResultSuccess;
    }
    const f32 drawn = Position();
    if (IsPercent())
        exec.seekPosition = drawn;
    else
        exec.seekMs = WholeMilliseconds(drawn);
    if (IsSingleTarget(m_type))
        return OnTarget(*this, AuResultIDNotFound,
                        [&exec](CAuNodeBase& node) { return node.ExecuteAction(exec); });
    const bool except = scope == 0x08 || scope == 0x09;
    if (except) {
        exec.pExceptions = m_exceptions.begin();
        exec.exceptionCount = m_exceptions.Count();
    }
    // The default bus is not visited: what seeks plays under the master busses.
    ForEachMasterBus(false, [&exec, except](CAuBus& bus) {
        if (except)
            bus.ExecuteActionExcept(exec);
        else
            bus.ExecuteAction(exec);
    });
    return AuResultSuccess;
}
