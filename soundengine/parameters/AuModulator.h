// Modulators (hierarchy types 21 and 22, index table 7): LFOs and envelopes that make a property
// of playing sounds move by itself. Each keeps its running contexts by key at its scope; the
// modulator engine advances them once per frame and the voices read them through their lists.
#pragma once

#include "core/AuObjectIndex.h"
#include "memory/AuArray.h"
#include "parameters/AuKeyedValues.h"
#include "parameters/AuModulatorEngine.h"
#include "parameters/AuPropBundle.h"
#include "parameters/AuRTPCSubscriber.h"

class AuRecordCursor;
struct AuRTPCSubscription;
class CAuModulatorContext;

enum AuModulatorKind : u32 {
    AuModulatorKind_Lfo = 0,      // type 21
    AuModulatorKind_Envelope = 1, // type 22
    AuModulatorKind_None = 0xFFFFFFFF,
};

enum AuModulatorScope : u32 {
    AuModulatorScope_Voice = 0,
    AuModulatorScope_Note = 1,
    AuModulatorScope_GameObject = 2,
    AuModulatorScope_Global = 3,
};

// Property IDs of the bank bundles.
enum AuModulatorProp : u8 {
    AuModulatorProp_Scope = 0,
    AuModulatorProp_StopOnEnd = 1,
    AuModulatorProp_LfoDepth = 2,
    AuModulatorProp_LfoAttack = 3,
    AuModulatorProp_LfoFrequency = 4,
    AuModulatorProp_LfoWaveform = 5,
    AuModulatorProp_LfoSmoothing = 6,
    AuModulatorProp_LfoPulseWidth = 7,
    AuModulatorProp_LfoInitialPhase = 8,
    AuModulatorProp_EnvAttack = 9,
    AuModulatorProp_EnvAttackCurve = 10,
    AuModulatorProp_EnvDecay = 11,
    AuModulatorProp_EnvSustain = 12,
    AuModulatorProp_EnvSustainTime = 13,
    AuModulatorProp_EnvRelease = 14,
    AuModulatorProp_EnvTrigger = 15,
};

// Parameter-driven properties: bit (ID - 42) of the RTPC mask.
constexpr u32 AU_MODULATOR_PARAM_FIRST = 42;
constexpr u32 AU_MODULATOR_PARAM_LAST = 73;

// What starts a context: the play it belongs to. Cleared as no MIDI (status 0, channel and note
// 255) with play kind 1, a start.
struct AuModulatorTrigger {
    CAuRegisteredObj* pGameObj = nullptr;
    AuPlayingID playingID = 0;
    AuUniqueID midiTargetID = 0;
    u8 midiStatus = 0;
    u8 midiChannel = AU_MIDI_ANY;
    u8 midiNote = AU_MIDI_ANY;
    u8 midiVelocity = 0;
    // 0 registers without a play (only voice-scope contexts are made), 1 a start, 3 a start that
    // ends a held note.
    u32 playKind = 1;
    CAuPlaybackInstance* pInstance = nullptr;
    // The subscriber the modulator is triggered for, and whether it is a node's (2) or a bus's (3).
    IAuRTPCSubscriber* pTarget = nullptr;
    u32 targetKind = AuRTPCSubscriberKind_Node;
    u32 targetProperty = 0;

    // {game object, playing ID, target, channel, note, instance}; the MIDI note counts only for
    // note-off, note-on and aftertouch.
    AuRTPCKey Key() const;
};

// A MIDI event's note key {note, channel} for note-off, note-on and aftertouch, else -1.
i32 AuMidiNoteKey(u8 status, u8 channel, u8 note);

// Told about every context a trigger makes or finds.
class IAuModulatorTriggerCallback {
public:
    // [audio thread] 1, or what ends the trigger.
    virtual AURESULT OnContext(CAuModulatorContext& context, const AuModulatorTrigger& trigger) noexcept = 0;

protected:
    ~IAuModulatorTriggerCallback() = default;
};

class CAuModulator final : public CAuIndexable, public IAuModulatorSubscriber {
public:
    // In the default pool and index table 7; null without memory or for another kind.
    static CAuModulator* Create(u32 id, u32 kind);

    u32 AddRef() override;
    u32 Release() override;

    // The whole payload: 1; 7 when a count runs past the record, 52 without memory. A binding
    // whose subscription fails is left out and the read goes on.
    AURESULT SetInitialValues(const u8* payload, u32 size);

    u32 ID() const { return CAuIndexable::key; }
    u32 Kind() const { return m_uKind; }
    u32 Scope();
    u32 RTPCMask() const { return m_uRTPCMask; }
    bool AllowsAudioRate() const { return m_bAudioRate; }
    // The bank's value or the property's default, as a float or as an integer.
    f32 PropFloat(u8 id);
    i32 PropInt(u8 id);

    // The context's parameters for a new or retriggered play, handed to its SetParam.
    void RandomizeModulatorProperties(CAuModulatorContext& context, const AuRTPCKey& key);
    // The trigger test: whether the play's MIDI status and kind start this modulator.
    bool TriggerTest(const AuModulatorTrigger& trigger);
    // Null when the test fails or the scope needs a play; `existing` comes back retriggered when
    // allowed, and a new context with `outCreated` set.
    CAuModulatorContext* CreateContext(CAuModulatorContext* existing, const AuModulatorTrigger& trigger,
                                       const AuRTPCKey& key, bool& outCreated);
    // Narrows a play's key to the modulator's scope.
    AuRTPCKey GetScopedKey(const AuRTPCKey& key);

    // [audio thread] One context per scoped key. 1, or 2 when none could be had; what the
    // callback answers otherwise.
    AURESULT Trigger(const AuModulatorTrigger& trigger, CAuModulatorEngine& engine,
                     IAuModulatorTriggerCallback* callback);
    // [audio thread] With fall-back to wider keys; the key comes back at the level found.
    bool GetCurrentValue(AuRTPCKey& key, f32& outValue);
    bool GetPendingValue(AuRTPCKey& key, f32& outValue);
    // [audio thread] Pushes each context's value to the subscriptions that do not read it
    // directly, then lets finished contexts go.
    void UpdateInstances();
    // [audio thread] The contexts at keys matching `key`.
    void RemoveKeyInstances(const AuRTPCKey& key);
    // Property 1 of an envelope: its end stops its voices.
    bool StopsOnEnd();

    // The subscriptions that read this modulator (added by the manager).
    AURESULT AddKeyInstance(AuRTPCSubscription* subscription);
    void RemoveKeyInstance(AuRTPCSubscription* subscription);

    // Kind 5: a game parameter moved one of the modulator's parameters.
    void SetParamFromRTPC(u32 propertyID, f32 value, const AuRTPCKey& key) noexcept override;

    // Each modulator triggered once per manager trigger: the stamp of the last one.
    u32 m_uTriggerStamp = 0;

private:
    CAuModulator(u32 id, u32 kind);
    ~CAuModulator() override;
    AURESULT ReadBindings(AuRecordCursor& cursor);
    f32 ComputeParam(u32 paramID, const AuRTPCKey& key, bool* outHeld);

    u32 m_uKind;
    AuPropBundle m_props;
    AuPropBundle8 m_ranges;
    u32 m_uRTPCMask = 0;
    CAuKeyedValues<CAuModulatorContext*> m_contexts;
    AuArray<AuRTPCSubscription*> m_subscriptions;
    bool m_bAudioRate = false;
};
