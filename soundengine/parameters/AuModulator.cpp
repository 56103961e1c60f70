#include "parameters/AuModulator.h"

#include "hierarchy/AuRecordCursor.h"
#include "parameters/AuKeyedParamIds.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <windows.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr u32 kPointBytes = 12;
constexpr u8 kMidiNoteOff = 0x80;
constexpr u8 kMidiNoteOn = 0x90;
constexpr u8 kMidiAftertouch = 0xA0;

constexpr u32 kLfoParams[] = {42, 43, 44, 45, 46, 47, 48};
constexpr u32 kEnvelopeParams[] = {50, 51, 52, 53, 54, 55};

u8 PropOfParam(u32 paramID) {
    return static_cast<u8>(paramID >= AuModulatorParam_EnvAttack ? paramID - 41 : paramID - 40);
}

bool IsIntegerProp(u8 id) {
    return id == AuModulatorProp_Scope || id == AuModulatorProp_StopOnEnd ||
           id == AuModulatorProp_LfoWaveform || id == AuModulatorProp_EnvTrigger;
}

f32 DefaultOf(u8 id) {
    switch (id) {
    case AuModulatorProp_StopOnEnd:
    case AuModulatorProp_EnvTrigger:
    case AuModulatorProp_LfoDepth:
    case AuModulatorProp_LfoAttack:
    case AuModulatorProp_LfoFrequency:
        return 1.0f;
    case AuModulatorProp_EnvAttack:
        return 100.0f;
    case AuModulatorProp_EnvAttackCurve:
        return 0.5f;
    case AuModulatorProp_EnvDecay:
        return 200.0f;
    case AuModulatorProp_EnvSustain:
        return 0.3f;
    case AuModulatorProp_EnvSustainTime:
        return -1.0f;
    case AuModulatorProp_EnvRelease:
        return 1000.0f;
    default:
        return 0.0f;
    }
}

// The bounds a drawn or non-finite value is held to.
void BoundsOf(u32 paramID, f32& low, f32& high) {
    switch (paramID) {
    case AuModulatorParam_LfoFrequency:
        low = 0.0f;
        high = 20000.0f;
        return;
    case AuModulatorParam_LfoInitialPhase:
        low = -180.0f;
        high = 180.0f;
        return;
    case AuModulatorParam_LfoAttack:
    case AuModulatorParam_EnvAttack:
    case AuModulatorParam_EnvDecay:
    case AuModulatorParam_EnvSustainTime:
    case AuModulatorParam_EnvRelease:
        low = 0.0f;
        high = FLT_MAX;
        return;
    default:
        low = 0.0f;
        high = 100.0f;
        return;
    }
}

bool KeyWithin(const AuRTPCKey& pattern, const AuRTPCKey& key) {
    return (!pattern.pGameObj || pattern.pGameObj == key.pGameObj) &&
           (!pattern.playingID || pattern.playingID == key.playingID) &&
           (!pattern.midiTargetID || pattern.midiTargetID == key.midiTargetID) &&
           (pattern.midiChannel == AU_MIDI_ANY || pattern.midiChannel == key.midiChannel) &&
           (pattern.midiNote == AU_MIDI_ANY || pattern.midiNote == key.midiNote) &&
           (!pattern.pInstance || pattern.pInstance == key.pInstance);
}

void DropContext(CAuModulatorContext* context) {
    context->Detach();
    context->Release();
}

} // namespace

i32 AuMidiNoteKey(u8 status, u8 channel, u8 note) {
    const u8 kind = status & 0xF0;
    if (kind != kMidiNoteOff && kind != kMidiNoteOn && kind != kMidiAftertouch) return -1;
    return i32(note) | i32(channel) << 8;
}

AuRTPCKey AuModulatorTrigger::Key() const {
    AuRTPCKey key(pGameObj);
    key.playingID = playingID;
    key.midiTargetID = midiTargetID;
    key.midiChannel = midiChannel;
    key.midiNote = AuMidiNoteKey(midiStatus, midiChannel, midiNote) < 0 ? AU_MIDI_ANY : midiNote;
    key.pInstance = pInstance;
    return key;
}

CAuModulator::CAuModulator(u32 id, u32 kind) : CAuIndexable(id), m_uKind(kind) {}

CAuModulator* CAuModulator::Create(u32 id, u32 kind) {
    if (kind != AuModulatorKind_Lfo && kind != AuModulatorKind_Envelope) return nullptr;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuModulator));
    if (!memory) return nullptr;
    auto* modulator = new (memory) CAuModulator(id, kind);
    g_pIndex->Table(AuIndexModulators).Add(modulator);
    return modulator;
}

CAuModulator::~CAuModulator() {
    if (g_pRTPCMgr) g_pRTPCMgr->UnSubscribeRTPC(static_cast<IAuModulatorSubscriber*>(this));
    m_contexts.RemoveIf(
        AuRTPCKey{},
        [](CAuModulatorContext** slot, void*, const AuRTPCKey&) {
            if (*slot) DropContext(*slot);
            return true;
        },
        nullptr);
    m_subscriptions.Term();
}

u32 CAuModulator::AddRef() {
    return AddRefIn(g_pIndex->Table(AuIndexModulators));
}

u32 CAuModulator::Release() {
    return ReleaseIn(g_pIndex->Table(AuIndexModulators));
}

AURESULT CAuModulator::SetInitialValues(const u8* payload, u32 size) {
    AuRecordCursor cursor(payload, size);
    if (!cursor.Skip(4)) return AuResultBadHeader;
    const u8* at = cursor.At();
    // A bundle that runs past the record is a bad record, whatever the bundle reader calls it.
    AURESULT result = m_props.SetFromBank(at, cursor.End());
    if (result != AuResultSuccess) return result == AuResultNoMemory ? result : AuResultBadHeader;
    cursor.SetAt(at);
    result = m_ranges.ReadFromBank(at, cursor.End());
    if (result != AuResultSuccess) return result == AuResultNoMemory ? result : AuResultBadHeader;
    cursor.SetAt(at);
    return ReadBindings(cursor);
}

AURESULT CAuModulator::ReadBindings(AuRecordCursor& cursor) {
    u16 count = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    for (u32 i = 0; i < count; ++i) {
        u32 drivingID = 0, curveID = 0;
        u8 drivingType = 0, mode = 0, propertyID = 0, scaling = 0;
        u16 points = 0;
        if (!cursor.Read(drivingID) || !cursor.Read(drivingType) || !cursor.Read(mode) ||
            !cursor.Read(propertyID) || !cursor.Read(curveID) || !cursor.Read(scaling) ||
            !cursor.Read(points))
            return AuResultBadHeader;
        const u8* bytes = cursor.Take(u32{points} * kPointBytes);
        if (!bytes) return AuResultBadHeader;
        if (!g_pRTPCMgr) continue;
        AuCurvePoint* copy = nullptr;
        if (points) {
            copy = static_cast<AuCurvePoint*>(
                AU::MemoryMgr::Malloc(g_DefaultPoolId, u32{points} * sizeof(AuCurvePoint)));
            if (!copy) return AuResultNoMemory;
            for (u32 p = 0; p < points; ++p) {
                const u8* point = bytes + p * kPointBytes;
                memcpy(&copy[p].x, point, 4);
                memcpy(&copy[p].y, point + 4, 4);
                memcpy(&copy[p].interpolation, point + 8, 4);
            }
        }
        const AURESULT subscribed = g_pRTPCMgr->SubscribeRTPC(
            static_cast<IAuModulatorSubscriber*>(this), drivingID, drivingType, mode, propertyID, curveID,
            scaling, copy, points, AuRTPCKey{}, AuRTPCSubscriberKind_Modulator);
        if (copy) AU::MemoryMgr::Free(g_DefaultPoolId, copy);
        // A binding that cannot be made leaves its property to the bank's value.
        if (subscribed == AuResultSuccess && propertyID >= AU_MODULATOR_PARAM_FIRST &&
            propertyID <= AU_MODULATOR_PARAM_LAST)
            m_uRTPCMask |= 1u << (propertyID - AU_MODULATOR_PARAM_FIRST);
    }
    return AuResultSuccess;
}

f32 CAuModulator::PropFloat(u8 id) {
    const AuPropValue* value = m_props.GetValue(id);
    if (!value) return DefaultOf(id);
    return IsIntegerProp(id) ? f32(value->i) : value->f;
}

i32 CAuModulator::PropInt(u8 id) {
    const AuPropValue* value = m_props.GetValue(id);
    if (!value) return static_cast<i32>(DefaultOf(id));
    return IsIntegerProp(id) ? value->i : static_cast<i32>(value->f);
}

u32 CAuModulator::Scope() {
    const i32 scope = PropInt(AuModulatorProp_Scope);
    return scope < 0 || scope > i32(AuModulatorScope_Global) ? u32(AuModulatorScope_Global) : u32(scope);
}

bool CAuModulator::StopsOnEnd() {
    return m_uKind == AuModulatorKind_Envelope && PropInt(AuModulatorProp_StopOnEnd) != 0;
}

f32 CAuModulator::ComputeParam(u32 paramID, const AuRTPCKey& key, bool* outHeld) {
    const u8 prop = PropOfParam(paramID);
    const bool driven = (m_uRTPCMask >> (paramID - AU_MODULATOR_PARAM_FIRST)) & 1;
    f32 value =
        driven && g_pRTPCMgr
            ? g_pRTPCMgr->GetRTPCConvertedValue(static_cast<IAuModulatorSubscriber*>(this), paramID, key)
            : PropFloat(prop);
    if (std::isnan(value)) value = DefaultOf(prop);
    if (paramID == AuModulatorParam_LfoWaveform) return std::trunc(value);
    if (paramID == AuModulatorParam_EnvSustainTime && value < 0.0f) {
        *outHeld = true;
        return -1.0f;
    }
    f32 low, high;
    BoundsOf(paramID, low, high);
    if (const AuPropValue8* range = m_ranges.Get(prop)) {
        f32 min, max;
        memcpy(&min, &range->word1, 4);
        memcpy(&max, &range->word2, 4);
        if (std::isfinite(min) && std::isfinite(max)) {
            value += max == min ? min : min + static_cast<f32>(rand()) / 32767.0f * (max - min);
            if (std::isnan(value)) value = DefaultOf(prop);
            value = std::clamp(value, low, high);
        }
    }
    // A value the bank gives without a range stands, unless it is not finite.
    if (!std::isfinite(value)) value = std::clamp(value, low, high);
    return value;
}

void CAuModulator::RandomizeModulatorProperties(CAuModulatorContext& context, const AuRTPCKey& key) {
    if (m_uKind == AuModulatorKind_Lfo) {
        for (u32 id : kLfoParams) {
            bool held = false;
            context.SetParam(id, ComputeParam(id, key, &held));
        }
    } else {
        for (u32 id : kEnvelopeParams) {
            bool held = false;
            context.SetParam(id, ComputeParam(id, key, &held));
        }
    }
}

bool CAuModulator::TriggerTest(const AuModulatorTrigger& trigger) {
    const u8 status = trigger.midiStatus & 0xF0;
    if (m_uKind == AuModulatorKind_Lfo)
        return status == 0 || (status == kMidiNoteOn && trigger.midiVelocity > 0);
    switch (PropInt(AuModulatorProp_EnvTrigger)) {
    case 1:
        return status == 0 || trigger.playKind != 3;
    case 2:
        return status == kMidiNoteOff || (status == kMidiNoteOn && trigger.midiVelocity == 0);
    default:
        return false;
    }
}

CAuModulatorContext* CAuModulator::CreateContext(CAuModulatorContext* existing,
                                                 const AuModulatorTrigger& trigger, const AuRTPCKey& key,
                                                 bool& outCreated) {
    outCreated = false;
    if (!TriggerTest(trigger)) return nullptr;
    if (existing) {
        // Only an envelope starts again; an LFO shared by several plays keeps running.
        if (m_uKind == AuModulatorKind_Envelope && (trigger.playKind == 1 || trigger.playKind == 3)) {
            auto& envelope = static_cast<CAuEnvelopeContext&>(*existing);
            envelope.Restart();
            RandomizeModulatorProperties(envelope, key);
            envelope.ApplyRetrigger();
        }
        return existing;
    }
    const u32 scope = Scope();
    if (scope != AuModulatorScope_Voice && trigger.playKind == 0) return nullptr;
    const u32 size = m_uKind == AuModulatorKind_Lfo ? sizeof(CAuLfoContext) : sizeof(CAuEnvelopeContext);
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, size);
    if (!memory) return nullptr;
    CAuModulatorContext* context =
        m_uKind == AuModulatorKind_Lfo
            ? static_cast<CAuModulatorContext*>(new (memory) CAuLfoContext(this, scope))
            : new (memory) CAuEnvelopeContext(this, scope);
    context->key = key;
    if (scope == AuModulatorScope_Voice) context->pInstance = trigger.pInstance;
    RandomizeModulatorProperties(*context, key);
    context->current = context->InitialValue();
    outCreated = true;
    return context;
}

AuRTPCKey CAuModulator::GetScopedKey(const AuRTPCKey& full) {
    AuRTPCKey key = full;
    const u32 scope = Scope();
    if (scope >= AuModulatorScope_Note) {
        key.pInstance = nullptr;
        if (key.midiNote != AU_MIDI_ANY) key.playingID = 0;
    }
    if (scope >= AuModulatorScope_GameObject) {
        key.midiChannel = key.midiNote = AU_MIDI_ANY;
        key.midiTargetID = 0;
        key.playingID = 0;
    }
    if (scope >= AuModulatorScope_Global) key.pGameObj = nullptr;
    return key;
}

AURESULT CAuModulator::Trigger(const AuModulatorTrigger& trigger, CAuModulatorEngine& engine,
                               IAuModulatorTriggerCallback* callback) {
    const AuRTPCKey key = GetScopedKey(trigger.Key());
    CAuModulatorContext** slot = m_contexts.CreateSlot(key);
    if (!slot) return AuResultFail;
    CAuModulatorContext* existing = *slot;
    bool created = false;
    CAuModulatorContext* context = CreateContext(existing, trigger, key, created);
    if (!context) {
        if (!existing) m_contexts.RemoveAt(key);
        return AuResultFail;
    }
    if (created) {
        // The slot keeps the creation's reference.
        *slot = context;
        engine.AddContext(context);
        AuKeyOwners::RegisterModulatorID(ID(), key);
    }
    return callback ? callback->OnContext(*context, trigger) : AuResultSuccess;
}

bool CAuModulator::GetCurrentValue(AuRTPCKey& key, f32& outValue) {
    key = GetScopedKey(key);
    CAuModulatorContext** slot = m_contexts.FindValue(key);
    if (!slot || !*slot) return false;
    outValue = (*slot)->current;
    return true;
}

bool CAuModulator::GetPendingValue(AuRTPCKey& key, f32& outValue) {
    key = GetScopedKey(key);
    CAuModulatorContext** slot = m_contexts.FindValue(key);
    if (!slot || !*slot) return false;
    outValue = (*slot)->bHasRecord ? (*slot)->recordEnd : (*slot)->current;
    return true;
}

void CAuModulator::UpdateInstances() {
    m_contexts.RemoveIf(
        AuRTPCKey{},
        [](CAuModulatorContext** slot, void* argument, const AuRTPCKey&) {
            CAuModulatorContext* context = *slot;
            if (!context) return true;
            if (context->IsFinished()) {
                DropContext(context);
                return true;
            }
            auto& self = *static_cast<CAuModulator*>(argument);
            const f32 value = context->bHasRecord ? context->recordEnd : context->current;
            if (g_pRTPCMgr)
                for (AuRTPCSubscription* subscription : self.m_subscriptions)
                    if (subscription->propertyID != 0 && subscription->propertyID != 36)
                        g_pRTPCMgr->NotifyModulatorValue(*subscription, self.ID(), value, context->key);
            return false;
        },
        this);
}

void CAuModulator::RemoveKeyInstances(const AuRTPCKey& key) {
    struct Match {
        AuRTPCKey key;
    } match{key};
    m_contexts.RemoveIf(
        key,
        [](CAuModulatorContext** slot, void* argument, const AuRTPCKey& visited) {
            if (!KeyWithin(static_cast<Match*>(argument)->key, visited)) return false;
            if (*slot) {
                // The owner of the key is ending: nothing of it is stopped from here.
                (*slot)->pInstance = nullptr;
                (*slot)->Terminate();
                DropContext(*slot);
            }
            return true;
        },
        &match);
}

AURESULT CAuModulator::AddKeyInstance(AuRTPCSubscription* subscription) {
    if (m_subscriptions.IndexOf([subscription](AuRTPCSubscription* s) { return s == subscription; }) <
        m_subscriptions.Count())
        return AuResultSuccess;
    if (!m_subscriptions.AddLast(subscription)) return AuResultNoMemory;
    // Voices apply the volumes sample by sample: such a modulator may run at audio rate.
    if ((subscription->propertyID == 0 || subscription->propertyID == 36) &&
        (subscription->kind == AuRTPCSubscriberKind_Node || subscription->kind == AuRTPCSubscriberKind_Bus))
        m_bAudioRate = true;
    return AuResultSuccess;
}

void CAuModulator::RemoveKeyInstance(AuRTPCSubscription* subscription) {
    const u32 at =
        m_subscriptions.IndexOf([subscription](AuRTPCSubscription* s) { return s == subscription; });
    m_subscriptions.EraseOrdered(at);
}

void CAuModulator::SetParamFromRTPC(u32 propertyID, f32 value, const AuRTPCKey& key) noexcept {
    const bool lfo = m_uKind == AuModulatorKind_Lfo;
    if (propertyID < (lfo ? AuModulatorParam_LfoDepth : AuModulatorParam_EnvAttack) ||
        propertyID > (lfo ? AuModulatorParam_LfoInitialPhase : AuModulatorParam_EnvRelease))
        return;
    if (std::isnan(value)) value = DefaultOf(PropOfParam(propertyID));
    f32 low, high;
    BoundsOf(propertyID, low, high);
    if (!std::isfinite(value)) value = std::clamp(value, low, high);
    struct Change {
        u32 id;
        f32 value;
    } change{propertyID, value};
    m_contexts.RemoveIf(
        GetScopedKey(key),
        [](CAuModulatorContext** slot, void* argument, const AuRTPCKey&) {
            const auto& c = *static_cast<Change*>(argument);
            if (*slot) (*slot)->SetParam(c.id, c.value);
            return false;
        },
        &change);
}
