// Actions (hierarchy type 3, index table 4): what an event does when posted. The factory makes
// the class of each type's high byte; every class reads its bank payload here. Execution belongs
// to each family.
#pragma once

#include "core/AuObjectIndex.h"
#include "hierarchy/AuNodeBase.h"
#include "hierarchy/AuNodePlayParams.h"
#include "hierarchy/AuRecordCursor.h"
#include "memory/AuArray.h"
#include "parameters/AuPropBundle.h"

class CAuParameterNode;
class CAuPendingAction;
class CAuPlaybackInstance;
class CAuRegisteredObj;
class CAuTransition;
class IAuTransitionTarget;

// AuActionType: high byte the operation, low byte the scope (02 target, 04 all, 08 all except;
// +1 for the posting game object only).
constexpr u16 AU_ACTION_PLAY = 0x0403;
constexpr u16 AU_ACTION_PLAY_AND_CONTINUE = 0x0503;
constexpr u16 AU_ACTION_BUS_DELAYED = 0x1820;

// Flags of an action.
constexpr u8 AU_ACTION_CURVE_MASK = 0x1F;
constexpr u8 AU_ACTION_BANK_ID_READ = 0x20;
constexpr u8 AU_ACTION_TARGET_IS_BUS = 0x40;

class CAuAction : public CAuIndexable {
public:
    explicit CAuAction(u32 id) : CAuIndexable(id) {}
    ~CAuAction() override;
    u32 AddRef() override;
    u32 Release() override;
    virtual void SetActionType(u16 type);
    virtual void SetElementID(u32 id, bool isBus);
    // Slots 6 and 7: the value when it differs from what the action reads, then the range unless
    // both ends are 0 and none is stored. 1, or 2 without memory.
    virtual AURESULT SetPropValue(u8 id, i32 value, i32 min, i32 max);
    virtual AURESULT SetPropValue(u8 id, f32 value, f32 min, f32 max);
    // Slot 8: the families give it; 0 until then.
    virtual AURESULT Execute(CAuPendingAction& pending);
    // Slots 9 and 10: the kind-specific bank part; the base reads nothing.
    virtual AURESULT SetActionParams(AuRecordCursor& cursor);
    virtual AURESULT SetActionSpecificParams(AuRecordCursor& cursor);

    // The whole type-3 payload (ID and type included): target, bundles, slot 9, then the delay
    // from milliseconds to samples. 1, 52 for a bundle, 7 when the payload ends first, or the
    // kind-specific reader's result.
    AURESULT SetInitialValues(AuRecordCursor& cursor);
    // Index table 4; an ID of 0 is not indexed.
    void AddToIndex();
    // The target in the bus or node table, with a reference; null when absent.
    CAuNodeBase* GetTargetNode() const;
    // Samples, with the random offset of the property's range drawn now.
    i32 GetDelay() const;
    // The "all" scope: every dynamic sequence (index table 8, under its lock) hears the kind with
    // the game object; then the primary and secondary master busses and the default bus, each
    // held by a reference while it runs the record. [audio thread]
    static void ExecuteOnAll(const AuActionExec& exec);
    // The "all except" scope: the same three busses through slot 18; no dynamic sequence.
    static void ExecuteOnAllExcept(const AuActionExec& exec);
    // Milliseconds, drawn anew at every call.
    i32 GetTransitionTime() const;
    // base + min when max = min (no draw), else base + min + rand() / 32767 x (max - min).
    static f32 RandomizedFloat(f32 base, f32 min, f32 max);

    u16 ActionType() const { return m_type; }
    u32 TargetID() const { return m_targetID; }
    u8 Flags() const { return m_flags; }
    AuCurveInterpolation FadeCurve() const { return AuCurveInterpolation(m_flags & AU_ACTION_CURVE_MASK); }
    AuPropBundle& Props() { return m_props; }
    AuPropBundle8& Ranges() { return m_ranges; }

protected:
    // u8 fade curve, low 5 bits kept.
    bool ReadCurve(AuRecordCursor& cursor);
    i32 IntWithRange(u8 id) const;

    AuPropBundle m_props;
    AuPropBundle8 m_ranges;
    u32 m_targetID = 0;
    u16 m_type = 0;
    u8 m_flags = AuCurveInterpolation_Linear;
};

class CAuActionExcept : public CAuAction {
public:
    ~CAuActionExcept() override = default;
    // 1, or 2 when it cannot be stored.
    virtual AURESULT AddException(u32 id, bool isBus);
    virtual void RemoveException(u32 id, bool isBus);
    virtual void ClearExceptions();
    const AuArray<AuActionException>& Exceptions() const { return m_exceptions; }

public:
    using CAuAction::CAuAction;

protected:
    // u32 count, count x {u32 ID, u8 is-bus}: 7 for a count past the payload (nothing allocated),
    // 2 when the array cannot be had.
    AURESULT ReadExceptions(AuRecordCursor& cursor);
    // u8 curve, slot 10, the exception list.
    AURESULT ReadCurveSpecificAndExceptions(AuRecordCursor& cursor);

    AuArray<AuActionException> m_exceptions;
};

// Stop, pause and resume share one execution by scope: the nodes through slot 17 (one target,
// every bus, or every bus but the exceptions), then the pending actions that match.
class CAuActionActive : public CAuActionExcept {
public:
    AURESULT SetActionParams(AuRecordCursor& cursor) override {
        return ReadCurveSpecificAndExceptions(cursor);
    }
    // A single target that is missing: 1 with nothing done. A scope byte other than 02, 03, 04,
    // 05, 08 and 09: 1 with nothing done. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    bool MasterResume() const { return m_masterResume != 0; }

public:
    using CAuActionExcept::CAuActionExcept;

protected:
    // The action-execution kind of the family.
    virtual AuActionExecKind ExecKind() const = 0;
    // The pending actions of the scope; node null for the "all" scope.
    virtual void PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) = 0;
    virtual void PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) = 0;
    AuActionExec MakeExec(const CAuPendingAction& pending) const;

    u8 m_masterResume = 0;
};

// What an "all" action does to a dynamic sequence; the dynamic sequences of index table 8
// implement it. [audio thread]
class IAuAllActionTarget {
public:
    virtual void ExecuteAllAction(AuActionExecKind kind, CAuRegisteredObj* gameObj) = 0;

protected:
    ~IAuAllActionTarget() = default;
};

// Set and reset a property, the mute level or a game parameter, by scope. Every node taken from
// the index is released after its call.
class CAuActionSetValue : public CAuActionExcept {
public:
    AURESULT SetActionParams(AuRecordCursor& cursor) override {
        return ReadCurveSpecificAndExceptions(cursor);
    }
    // The scope byte picks the slot and the nodes: one target (missing: nothing), or for the
    // resets the modified-node lists of the registry and of every object (04, 08) or of the
    // posting object (05, 09). Always 1. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;

    // Slots 14 to 20. The node is null for game parameters. The global slots act for no object
    // and the "except" slots skip an excepted node, unless a family says otherwise.
    virtual void SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) = 0;
    virtual void SetValueGlobal(CAuNodeBase* node) { SetValue(node, nullptr); }
    virtual void ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) = 0;
    virtual void ResetValueGlobal(CAuNodeBase* node) { ResetValue(node, nullptr); }
    virtual void ResetAllValues(CAuNodeBase* node) = 0;
    virtual void ResetAllValuesExcept(CAuNodeBase* node, CAuRegisteredObj* gameObj);
    virtual void ResetAllValuesExceptGlobal(CAuNodeBase* node);

public:
    using CAuActionExcept::CAuActionExcept;

protected:
    // Only the node itself is compared, never its ancestors.
    bool IsExcepted(CAuNodeBase& node) const;
};

class CAuActionStop : public CAuActionActive {
public:
    using CAuActionActive::CAuActionActive;

protected:
    AuActionExecKind ExecKind() const override { return AuActionExec_Stop; }
    void PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
    void PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
};

class CAuActionPause : public CAuActionActive {
public:
    AURESULT SetActionSpecificParams(AuRecordCursor& cursor) override;
    bool IncludePendingResumes() const { return m_includePendingResumes != 0; }

public:
    using CAuActionActive::CAuActionActive;

protected:
    AuActionExecKind ExecKind() const override { return AuActionExec_Pause; }
    void PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
    void PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
    u8 m_includePendingResumes = 1;
};

class CAuActionResume : public CAuActionActive {
public:
    AURESULT SetActionSpecificParams(AuRecordCursor& cursor) override;

public:
    using CAuActionActive::CAuActionActive;

protected:
    AuActionExecKind ExecKind() const override { return AuActionExec_Resume; }
    void PendingOfNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
    void PendingExcept(CAuRegisteredObj* gameObj, AuPlayingID playingID) override;
};

class CAuActionPlay : public CAuAction {
public:
    // u8 curve, u32 bank ID; then the bank ID counts as read.
    AURESULT SetActionParams(AuRecordCursor& cursor) override;
    // Slot 11: the play history; a bank's play action has none.
    virtual void GetHistory(u32* out);
    // The probability draw (property 16), then the target's play with the record's object, play
    // parameters, playing ID and sample offset. 1 when the draw says no; 15 without the target;
    // else the play's result. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    // Slot 12: the audio manager tells the action that its pending record was queued, is about to
    // run or went away. A bank's play action keeps no state of its own about that.
    virtual void NotifyPendingState() noexcept {}
    u32 BankID() const { return m_bankID; }
    bool BankIDRead() const { return (m_flags & AU_ACTION_BANK_ID_READ) != 0; }

public:
    using CAuAction::CAuAction;

protected:
    // A probability of exactly 0 draws nothing; else (rand() x 32768 + rand()) / (2^30 - 1) x 100,
    // in double precision, must not be above it.
    bool DrawPlays();

    u32 m_bankID = 0xFFFFFFFF;
};

// Type 0x0503: the engine's own play of the next item of a continuous container. What the
// pending actions use of it is here; the continuous playback fills in the rest.
class CAuActionPlayAndContinue : public CAuActionPlay {
public:
    static constexpr u32 kNumTransitions = 2;

    // Detaches from its transitions; lets go of the node it plays.
    ~CAuActionPlayAndContinue() override;

    // The play an initial delay defers: the node (a reference) and its request, played again when
    // the delay has passed without applying the delay a second time. Not indexed (ID 0), with the
    // delay in samples; null without memory.
    static CAuActionPlayAndContinue* CreateDeferredPlay(CAuParameterNode& node,
                                                        const AuNodePlayParams& params, i32 delaySamples);
    // Plays the node with its request, starting at the record's sample offset.
    AURESULT Execute(CAuPendingAction& pending) override;
    CAuParameterNode* PlayedNode() const { return m_pNode; }
    const AuNodePlayParams& Request() const { return m_request; }

    // Asked before a pending record of the action is removed: true when the action is done, false
    // when it has taken its next item as target and must play again. Without a continuation list
    // it is done.
    virtual bool ContinueToNextItem(CAuNodeBase* node, CAuRegisteredObj* gameObj, CAuPendingAction& record);

    // Non-zero while the pending record must tell the action that it runs.
    u8 GetState() const { return m_state; }
    void SetState(u8 state) { m_state = state; }
    // Pauses carried over from the item it follows: the pause levels its record starts with.
    u32 PauseCount() const { return m_uPauseCount; }
    void SetPauseCount(u32 count) { m_uPauseCount = count; }
    // The instance it follows; cleared when that instance goes first.
    CAuPlaybackInstance* PreviousInstance() const { return m_pPreviousInstance; }
    void SetPreviousInstance(CAuPlaybackInstance* instance) { m_pPreviousInstance = instance; }
    // The item cross-fades, 0 the play or stop fade, 1 the pause or resume fade, each with the
    // owner that is its user in the transition manager.
    CAuTransition* Transition(u32 index) const { return m_pTransitions[index]; }
    void SetTransition(u32 index, CAuTransition* transition, IAuTransitionTarget* owner);
    // A transition that has ended: nothing to detach from any more.
    void ForgetTransition(u32 index) { m_pTransitions[index] = nullptr; }
    // [audio thread] Detaches the owner from every transition still running and forgets them.
    void EndTransitions() noexcept;

public:
    using CAuActionPlay::CAuActionPlay;

protected:
    CAuTransition* m_pTransitions[kNumTransitions] = {};
    IAuTransitionTarget* m_pTransitionOwner = nullptr;
    CAuPlaybackInstance* m_pPreviousInstance = nullptr;
    u32 m_uPauseCount = 0;
    u8 m_state = 0;
    CAuParameterNode* m_pNode = nullptr;
    AuNodePlayParams m_request;
};

class CAuActionMute : public CAuActionSetValue {
public:
    void SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    void ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    void ResetAllValues(CAuNodeBase* node) override;

public:
    using CAuActionSetValue::CAuActionSetValue;
};

// A float an action draws anew at every use: base + min, or base plus a draw from min to max.
struct AuDrawnValue {
    f32 base = 0.0f;
    f32 min = 0.0f;
    f32 max = 0.0f;

    f32 Draw() const { return CAuAction::RandomizedFloat(base, min, max); }
    // f32 base, f32 min, f32 max.
    bool Read(AuRecordCursor& cursor) { return cursor.Read(base) && cursor.Read(min) && cursor.Read(max); }
};

class CAuActionSetProp : public CAuActionSetValue {
public:
    void SetActionType(u16 type) override;
    // u8 value meaning, f32 base, f32 min, f32 max.
    AURESULT SetActionSpecificParams(AuRecordCursor& cursor) override;
    u8 PropertyID() const { return m_propertyID; }
    u8 ValueMeaning() const { return m_valueMeaning; }
    f32 Value() const { return m_value.Draw(); }
    void SetValueParams(u8 meaning, f32 base, f32 min, f32 max);

    // Meaning 2 adds the drawn value to the run-time value, 1 takes it as the absolute value of
    // the property, any other as the run-time value itself.
    void SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    // Run-time value 0 for the object: the node's own value again.
    void ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    void ResetValueGlobal(CAuNodeBase* node) override;
    void ResetAllValues(CAuNodeBase* node) override;

public:
    using CAuActionSetValue::CAuActionSetValue;

protected:
    AuDrawnValue m_value;
    u8 m_valueMeaning = 2;
    u8 m_propertyID = 0;
};

class CAuActionUseState : public CAuAction {
public:
    // Exactly 0x1002 sets the target's state-use flag, every other type clears it. 1, also
    // without the target. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    using CAuAction::CAuAction;
};

// Set state and set switch: a group and a value.
class CAuActionSetGroupValue : public CAuAction {
public:
    AURESULT SetActionParams(AuRecordCursor& cursor) override;
    u32 GroupID() const { return m_groupID; }
    u32 ValueID() const { return m_valueID; }

public:
    using CAuAction::CAuAction;

protected:
    u32 m_groupID = 0;
    u32 m_valueID = 0;
};

class CAuActionSetState : public CAuActionSetGroupValue {
public:
    // Any scope. 1. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    using CAuActionSetGroupValue::CAuActionSetGroupValue;
};

class CAuActionSetSwitch : public CAuActionSetGroupValue {
public:
    // Any scope, for the pending action's game object, inside the switch lock. 1. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    using CAuActionSetGroupValue::CAuActionSetGroupValue;
};

class CAuActionSetGameParameter : public CAuActionSetValue {
public:
    // u8 bypass-transition, u8 value meaning, f32 base, f32 min, f32 max.
    AURESULT SetActionSpecificParams(AuRecordCursor& cursor) override;
    bool BypassTransition() const { return m_bypassTransition != 0; }
    u32 ValueMeaning() const { return m_valueMeaning; }
    f32 Value() const { return m_value.Draw(); }
    void SetValueParams(u32 meaning, f32 base, f32 min, f32 max, bool bypassTransition);

    // The target ID names the game parameter; the node is not used. Slots 14 to 17 set or reset
    // its value for the object (null: every object); slots 18 to 20 do nothing.
    void SetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    void ResetValue(CAuNodeBase* node, CAuRegisteredObj* gameObj) override;
    void ResetAllValues(CAuNodeBase*) override {}
    void ResetAllValuesExcept(CAuNodeBase*, CAuRegisteredObj*) override {}
    void ResetAllValuesExceptGlobal(CAuNodeBase*) override {}

public:
    using CAuActionSetValue::CAuActionSetValue;

protected:
    AuDrawnValue m_value;
    u32 m_valueMeaning = 2;
    u8 m_bypassTransition = 0;
};

class CAuActionBypassFX : public CAuActionExcept {
public:
    // u8 bypass flag, u8 slot mask (kept as a word), the exception list; no curve.
    AURESULT SetActionParams(AuRecordCursor& cursor) override;
    bool Bypass() const { return m_bypass != 0; }
    u32 SlotMask() const { return m_slotMask; }
    void SetBypassParams(bool bypass, u32 slotMask);
    // Sets (0x1A) or resets (0x1B) the bypass bits under the mask, by scope; the resets walk the
    // modified-node lists as the set-value actions do. Always 1. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;

public:
    using CAuActionExcept::CAuActionExcept;

protected:
    u8 m_bypass = 0;
    u32 m_slotMask = 0xFFFFFFFF;
};

// Lets what plays finish its current pass; the pending plays of the target then go.
class CAuActionBreak : public CAuAction {
public:
    // 15 without the target; else the node's result. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    using CAuAction::CAuAction;

protected:
};

class CAuActionTrigger : public CAuAction {
public:
    // The target ID is the trigger's. 1. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    using CAuAction::CAuAction;
};

class CAuActionSeek : public CAuActionExcept {
public:
    // u8 seek-is-percent, f32 base, f32 min, f32 max, u8 snap-to-marker, the exception list.
    AURESULT SetActionParams(AuRecordCursor& cursor) override;
    bool IsPercent() const { return m_isPercent != 0; }
    bool SnapToMarker() const { return m_snapToMarker != 0; }
    f32 Position() const { return m_position.Draw(); }
    void SetSeekParams(bool percent, f32 base, f32 min, f32 max, bool snapToMarker);
    // A single target (missing: 15) gives the node's result; the "all" and "all except" scopes
    // reach the two master busses only and give 1, as does any other scope. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;
    // Whole milliseconds of a drawn value, toward zero. A NaN has no integer and seeks to 0; past
    // the 32-bit range the value saturates at 2^31 - 1, or goes to 0 below it.
    static i32 WholeMilliseconds(f32 value);

public:
    using CAuActionExcept::CAuActionExcept;

protected:
    AuDrawnValue m_position;
    u8 m_isPercent = 0;
    u8 m_snapToMarker = 0;
};

// Reads no kind-specific bytes, although its base would: the bank layout has none for it.
class CAuActionRelease : public CAuActionActive {
public:
    AURESULT SetActionParams(AuRecordCursor&) override { return AuResultSuccess; }
    // Single targets only (0x1F02, 0x1F03): the target's envelope modulators enter their release
    // phase (request kind 5). 2 without the target and for any other variant. [audio thread]
    AURESULT Execute(CAuPendingAction& pending) override;

public:
    using CAuActionActive::CAuActionActive;

protected:
    AuActionExecKind ExecKind() const override { return AuActionExec_ReleaseModulators; }
    // A release leaves the pending actions alone.
    void PendingOfNode(CAuNodeBase*, CAuRegisteredObj*, AuPlayingID) override {}
    void PendingExcept(CAuRegisteredObj*, AuPlayingID) override {}
};

// A new action with one reference, indexed unless its ID is 0; null for a high byte that no
// bank carries (0x00, 0x05, 0x15-0x18, 0x21-0x2F, 0x31 and up) or without memory.
CAuAction* CreateActionByType(u16 type, u32 id);
