// The base of every node of the sound hierarchy (sounds, containers, grouping nodes, music nodes
// and busses): its place in the parent tree and in the output tree of busses, its properties,
// game-parameter curves, effect slots and the activity block that counts what plays below it.
// The virtual operations keep one order for every kind of node; the comment of each gives what
// the base does. Every operation except AddRef, Release and AddToIndex runs on the audio thread
// or under g_csMain.
#pragma once

#include "core/AuObjectIndex.h"
#include "hierarchy/AuNodeProps.h"
#include "hierarchy/AuRecordCursor.h"
#include "hierarchy/AuState.h"
#include "memory/AuArray.h"
#include "parameters/AuPropBundle.h"
#include "parameters/AuRTPCSubscriber.h"
#include "plugins/AuPluginSettings.h"

class CAuNodeBase;
struct AuModulatorTrigger;
class IAuModulatorTriggerCallback;
class CAuModifiedValues;
class CAuPlaybackInstance;
class CAuPlaybackLimiter;
class CAuRegisteredObj;
class CAuTransition;
struct AuPlaybackInstanceParams;

// Slot 15. Busses are 0, 10 and 12.
enum AuNodeCategory : u32 {
    AuNodeCategory_Bus = 0,
    AuNodeCategory_Grouping = 1,
    AuNodeCategory_RandomSequence = 2,
    AuNodeCategory_Sound = 3,
    AuNodeCategory_Switch = 4,
    AuNodeCategory_LayerContainer = 5,
    AuNodeCategory_MusicTrack = 6,
    AuNodeCategory_MusicSegment = 7,
    AuNodeCategory_MusicPlaylist = 8,
    AuNodeCategory_MusicSwitch = 9,
    AuNodeCategory_DefaultBus = 10,
    AuNodeCategory_LeafType17 = 11,
    AuNodeCategory_BusType20 = 12,
};

constexpr bool AuIsBusCategory(u32 category) {
    return category == AuNodeCategory_Bus || category == AuNodeCategory_DefaultBus ||
           category == AuNodeCategory_BusType20;
}

// Node flags A.
constexpr u8 AU_NODE_A_LIMIT_ORDER = 0x01;       // handed to the limiter with every check
constexpr u8 AU_NODE_A_USE_VIRTUAL = 0x02;       // likewise
constexpr u8 AU_NODE_A_OWN_VIRTUAL = 0x04;       // own virtual-voice settings
constexpr u8 AU_NODE_A_OWN_LIMIT = 0x08;         // own instance limit even below a parent
constexpr u8 AU_NODE_A_OVERRIDE_PLUGIN = 0x10;   // GetLinkedPluginSettings stops here
constexpr u8 AU_NODE_A_LIMIT_ALL_OBJECTS = 0x20; // the limit counts every game object together
constexpr u8 AU_NODE_A_DISTANCE_OFFSET = 0x40;   // the priority's distance offset applies
constexpr u8 AU_NODE_A_OVERRIDE_PRIORITY = 0x80;
// Node flags B.
constexpr u8 AU_NODE_B_SUM_STATES = 0x01;
constexpr u8 AU_NODE_B_DESTROYING = 0x02;
constexpr u8 AU_NODE_B_IS_BUS = 0x04; // selects the index table
constexpr u8 AU_NODE_B_BANK_BUS_FLAG3 = 0x08;
constexpr u8 AU_NODE_B_BANK_BUS_FLAG4 = 0x10;
constexpr u8 AU_NODE_B_OWN_POSITIONING = 0x20;
constexpr u8 AU_NODE_B_PANNER_2D = 0x40;
constexpr u8 AU_NODE_B_OVERRIDE_EFFECTS = 0x80;
// Node flags C: bits 0-3 from bits 2-5 of the record's bit vector; bit 4 cleared at construction.
constexpr u8 AU_NODE_C_MIDI_PLAY_SETTINGS = 0x01;
constexpr u8 AU_NODE_C_MIDI_PITCH_SETTINGS = 0x02;
constexpr u8 AU_NODE_C_MIDI_PITCH_FOLLOWS_NOTE = 0x04;
constexpr u8 AU_NODE_C_MIDI_PLAY_FLAG = 0x08;

constexpr u32 AU_NODE_EFFECT_SLOTS = 4;
constexpr u8 AU_NODE_BYPASS_ALL = 0x10;
// Writer stamps of the effect slots: a lower stamp than the stored one is ignored.
constexpr i32 AU_EFFECT_STAMP_BANK = 0;
constexpr i32 AU_EFFECT_STAMP_BYPASS = -1;
constexpr i32 AU_EFFECT_STAMP_API = 1;
// Activity forwarding: bit 0 to the bus, bit 1 to the extra owner.
constexpr u32 AU_ACTIVITY_TO_BUS = 1;
constexpr u32 AU_ACTIVITY_TO_EXTRA_OWNER = 2;
constexpr u32 AU_ACTIVITY_TO_BOTH = 3;

// The kinds of an action-execution record (slot 17).
enum AuActionExecKind : u32 {
    AuActionExec_Stop = 0,
    AuActionExec_Pause = 1,
    AuActionExec_Resume = 2,
    AuActionExec_Break = 3,
    AuActionExec_Seek = 4,
    AuActionExec_ReleaseModulators = 5,
};

// Flag bits of an action-execution record.
constexpr u32 AU_EXEC_PAUSE_TRANSITIONS = 1u << 0;   // run slot 46 on the way down
constexpr u32 AU_EXEC_TRANSITIONS_HANDLED = 1u << 1; // a bus has run slot 46 already
constexpr u32 AU_EXEC_SEEK_PERCENT = 1u << 2;        // kind 4: the position is a fraction
constexpr u32 AU_EXEC_SEEK_SNAP = 1u << 3;           // kind 4: snap to the nearest marker
constexpr u32 AU_EXEC_MASTER_RESUME = 1u << 4;       // kind 2

struct AuActionException {
    u32 id;
    u32 isBus;
};

struct AuActionExec {
    u32 kind = AuActionExec_Stop;
    CAuRegisteredObj* pGameObj = nullptr; // null: every object
    AuPlayingID playingID = 0;            // 0: every play
    i32 transitionTimeMs = 0;
    AuCurveInterpolation eCurve = AuCurveInterpolation_Linear;
    u32 flags = 0;
    const AuActionException* pExceptions = nullptr; // slot 18 skips these nodes
    u32 exceptionCount = 0;
    f32 seekPosition = 0.0f; // kind 4 with AU_EXEC_SEEK_PERCENT: a fraction of the duration
    i32 seekMs = 0;          // kind 4 without it: whole milliseconds
};

// The record of `kind` for the object and playing ID, with its fade; no exceptions or seek position.
AuActionExec MakeActionExec(AuActionExecKind kind, CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms,
                            AuCurveInterpolation curve, u32 flags = 0);

// Slot 21: a parameter change travelling down the hierarchy.
struct AuParamChange {
    u32 target;
    f32 value;
    AuRTPCKey key;
    bool bFlag;
    bool bDelta; // the value is a difference to add
};

// A level (property 10) other than 1.0 of a node that a value record collects, once per owner.
struct AuLevelEntry {
    const void* owner;
    f32 value;
};

// Slot 45: the values a voice accumulates from its node up. Entry 0 property 0, entries 2-4
// properties 2-4, entry 5 property 5; mask bit 0 entry 0 (and property 33), bits 1-3 entries
// 2-4, bit 4 entry 5, bit 5 the first audio-output setting.
struct AuAccumulatedValues {
    static constexpr u32 kMaxLevels = 8;
    static constexpr u32 kSelectOutput1 = 1u << 5;

    f32 values[6] = {};
    u32 mask = 0;
    f32 prop33 = 0.0f;
    // The two audio-output settings, decided by the nearest node that sets them.
    bool bOutput1Decided = false;
    bool bOutput1 = false;
    f32 output1Field = 0.0f;
    bool bOutput2Decided = false;
    bool bOutput2 = false;
    AuLevelEntry levels[kMaxLevels] = {};
    u32 levelCount = 0;
    bool bUserAuxDecided = false;
    f32 userAuxSends[4] = {};
    u32 userAuxBusses[4] = {};
    bool bGameAuxDecided = false;
    f32 gameAuxSend = 0.0f;
    bool bUseGameAux = false;
    // Properties 23, 25 and 24 of the nodes that have an output bus of their own.
    f32 busFields[3] = {};

    // The request: the key of the curves and holders; with bDraw, the ranged offsets of
    // properties 0, 33 and 2-4 go to pRandomOffsets (when given); bBusWalk asks the busses too.
    AuRTPCKey key;
    bool bDraw = false;
    AuAccumulatedValues* pRandomOffsets = nullptr;
    bool bBusWalk = true;

    // Replaces the owner's level or appends it; false when the record is full.
    bool SetLevel(const void* owner, f32 value) {
        for (u32 i = 0; i < levelCount; ++i)
            if (levels[i].owner == owner) {
                levels[i].value = value;
                return true;
            }
        if (levelCount == kMaxLevels) return false;
        levels[levelCount++] = {owner, value};
        return true;
    }
};

// Slot 13.
struct AuChildInfo {
    u32 childID;
    u32 parentID;
    u32 depth;
};

// Slot 69: floats 1 to 3 receive the motion values.
struct AuCollectedVolumes {
    f32 values[4] = {};
};

// GetPositioningPair.
struct AuPositioningPair {
    f32 first;
    f32 second;
    f32 third;
    bool bPanner2D;
};

// Per game object in the activity block.
struct AuObjectActivity {
    CAuRegisteredObj* pGameObj;
    CAuPlaybackLimiter* pLimiter; // owned
    u16 playing;
    u16 virtualCount;
};

// The record a play carries through slots 36 to 39 on its way up the parents and the busses.
// Each limit is counted once: at the first node, and at the first bus, that sets its own limit
// or has nothing above it. The lists found there are the ones the new instance enters.
struct AuPlayCountRecord {
    CAuRegisteredObj* pGameObj = nullptr;
    f32 priority = 50.0f;
    // Bit 0: the next output bus still has to count it; bit 1: the next extra owner.
    u32 forward = AU_ACTIVITY_TO_BOTH;
    CAuNodeBase* pNodeLimitedAt = nullptr;
    CAuNodeBase* pLimitedAt = nullptr; // the bus
    CAuPlaybackLimiter* pNodeLimiter = nullptr;
    CAuPlaybackLimiter* pBusLimiter = nullptr;
    // Instances that gave way to this play so far: the next limit counts them as gone.
    u32 removed = 0;
    // On the way down: a game object's count still over its limit (lowered meanwhile, or an
    // instance back from virtual) has the limit applied again.
    bool bCheckLimit = false;
};

// Exists while something plays, is virtual or is counted below the node.
struct AuActivityBlock {
    // Frees the lists still held; empty by then unless the node goes while instances live.
    ~AuActivityBlock();
    AuArray<AuObjectActivity> perObject;
    CAuPlaybackLimiter* pGlobalLimiter = nullptr; // owned
    u16 limit = 0;
    u8 orderFlag = 0;
    u8 useVirtual = 0;
    AuArray<CAuNodeBase*> activeChildren;
    u16 playing = 0;
    u16 activity = 0;
    u16 limited = 0;
    u16 virtualCount = 0;
    bool bAllObjects = false; // flags A bit 5 at creation

    bool IsEmpty() const {
        return playing == 0 && activity == 0 && limited == 0 && virtualCount == 0 && !pGlobalLimiter &&
               activeChildren.Count() == 0 && perObject.Count() == 0;
    }
};

// Created on first use: four effect slots and the bypass bits.
struct AuEffectSlot {
    u32 pluginID; // 0: empty
    u8 bRendered;
    u8 bShareSet; // 1: settings of type 18 (table 10), else type 19 (table 11)
};
struct AuEffectBlock {
    i32 stamp;
    AuEffectSlot slots[AU_NODE_EFFECT_SLOTS];
    u8 bypassBits; // bit n slot n, bit 4 all
};

// The run-time values of one node for one game object (0: all), set by actions and the exported
// interface. Each stored change is told to the node: the level (property 10) through slots 24 and
// 25, any other property as a difference through slot 23 on its target.
class CAuModifiedValues : public IAuTransitionTarget {
public:
    CAuModifiedValues(CAuNodeBase& owner, CAuRegisteredObj* gameObj, u8 bypassBits)
        : m_owner(owner), m_pGameObj(gameObj), m_bypassBits(bypassBits) {}
    // Detaches every transition that still moves a value.
    virtual ~CAuModifiedValues();
    // Stores the value at once and tells the node. 1, or 2 without memory.
    virtual AURESULT SetValue(u8 id, f32 value);
    // [audio thread] A transition's step; at its end the value forgets it.
    void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;

    // Moves the value to `target` over `fadeMs` along `curve`. Mode 1: the target is what the
    // property should read, the node's stored value is taken off; mode 2: the target is added to
    // the run-time value now; any other: the target is the run-time value. A running transition
    // is retargeted; no time sets at once.
    AURESULT SetValueWithFade(u8 id, f32 target, i32 fadeMs, AuCurveInterpolation curve, u32 mode);
    // 0.0 when absent, 1.0 for the level.
    f32 GetValue(u8 id) const;
    CAuTransition* Transition(u8 id) const;
    // The value stands at `value` with no fade taking it elsewhere: a reset or an unmute to it
    // has nothing to do. A fade that has just begun still reads its start.
    bool RestsAt(u8 id, f32 value) const { return GetValue(id) == value && !Transition(id); }
    CAuRegisteredObj* GameObj() const { return m_pGameObj; }
    u8 BypassBits() const { return m_bypassBits; }
    void SetBypassBits(u8 bits, u8 mask) { m_bypassBits = u8((m_bypassBits & ~mask) | (bits & mask)); }

private:
    struct Value {
        u8 id;
        f32 value;
        CAuTransition* pTransition;
    };
    Value* Find(u8 id);
    const Value* Find(u8 id) const;

    CAuNodeBase& m_owner;
    CAuRegisteredObj* m_pGameObj;
    AuArray<Value> m_values;
    u8 m_bypassBits;
};

// Gives the default bus of the motion output tree with a reference; the busses install it.
class IAuDefaultBusSource {
public:
    virtual CAuNodeBase* GetDefaultBusAddRef() = 0;

protected:
    ~IAuDefaultBusSource() = default;
};
void AuSetDefaultBusSource(IAuDefaultBusSource* source);

class CAuNodeBase : public CAuIndexable, public IAuNodeSubscriber {
public:
    // Construction leaves flags A/B at 0x20/0x01 and flags C bits 0-4 clear; bits 10-15 of the
    // limit word are the derived class's.
    explicit CAuNodeBase(u32 id);

    // Slot 0. Marks the node as being destroyed and lets go of everything it holds (see the
    // .cpp for the order).
    ~CAuNodeBase() override;
    // Slots 1 and 2, under the lock of the node's own index table. At 0: unlink, slot 5, the
    // parent's and the bus's slot 12, destroy, free.
    u32 AddRef() override;
    u32 Release() override;
    // Slot 4: a playback instance from the default pool; null without memory.
    virtual CAuPlaybackInstance* CreateSoundInstance(const AuPlaybackInstanceParams& params);
    // Slot 5: stops the transitions of the state-driven values, then slot 41 with 3.
    virtual void ClearStateTransitions();
    virtual void SetParent(CAuNodeBase* parent);
    virtual void SetBus(CAuNodeBase* bus);
    // Slot 8: a game object is being unregistered.
    virtual void ForgetObject(CAuRegisteredObj* gameObj);
    // Slot 9. The caller added a reference on the child; AddChild drops it in every case, and
    // adds one on itself when it accepts the child. Leaves accept none (0).
    virtual AURESULT AddChild(CAuNodeBase* child);
    // Slot 10: 14 for ID 0, 15 for an ID the node table lacks, else slot 9.
    virtual AURESULT AddChildByID(u32 id);
    virtual void RemoveChildByID(u32 id);
    // Slot 12: the child is going; drop it from the children's arrays.
    virtual void RemoveChild(CAuNodeBase* child);
    virtual void GatherChildren(u32 maximum, AuChildInfo* out, u32& count, u32 depth);
    // Slot 14: five arguments that the classes that implement it define.
    virtual bool NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5);
    virtual AuNodeCategory Category() = 0;
    virtual bool HasSource();
    virtual AURESULT ExecuteAction(const AuActionExec& exec) = 0;
    virtual AURESULT ExecuteActionExcept(const AuActionExec& exec) = 0;
    virtual AURESULT ExecuteActionExceptChecked(const AuActionExec& exec) = 0;
    virtual AURESULT PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) = 0;
    virtual void ParamNotification(const AuParamChange& change) = 0;
    // Slot 22: slot 21.
    virtual void ParamNotificationEntry(const AuParamChange& change);
    // Slot 23: a change record to slot 21 when slot 67 takes the target.
    virtual void NotifyParamChange(u32 target, f32 value, const AuRTPCKey& key, bool flag, bool delta);
    // The owner is the node whose level changed: busses and containers pass it down unchanged, so
    // each instance keeps one mute level per muted node above it.
    virtual void LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) = 0;
    virtual void LevelNotification(f32 level, const void* owner) = 0;
    virtual void SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) = 0;
    // Slot 27: changes of target 41.
    virtual void ApplyParamValue(f32 value, u32 target, CAuRegisteredObj* gameObj);
    virtual void RecalcNotification() = 0;
    virtual void BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool flag) = 0;
    virtual void RTPCTargetChanged(u32 target);
    virtual bool HasPositioning();
    virtual bool GetMaxRadius(f32& radius);
    // Slot 33: the own bus or the nearest ancestor's.
    virtual CAuNodeBase* GetMixingBus();
    // Slot 34: the own bus's slot 34, else the parent's, else null.
    virtual CAuNodeBase* GetOutputBus();
    virtual void EffectChanged(u32 slot) = 0;
    virtual AURESULT IncrementPlayCount(void* counter) = 0;
    virtual void DecrementPlayCount(void* counter) = 0;
    virtual void IncrementVirtualCount(void* counter) = 0;
    virtual void DecrementVirtualCount(void* counter) = 0;
    // Slot 40: creates the activity block when missing and counts; bit 0 of `forward` also counts
    // at the bus, bit 1 at the extra owner. False (nothing counted here) without memory.
    virtual bool IncrementActivityCount(u32 forward);
    // Slot 41: counts down, frees an emptied block, forwards to the bus, the extra owner and the
    // parent with the bits left.
    virtual void DecrementActivityCount(u32 forward);
    virtual AURESULT PrepareData() = 0;
    virtual void UnPrepareData() = 0;
    // Slot 44: the modulators driving this node's properties start for the play, then the
    // parent's and the bus's slot 44. The callback hears of each context with this node as target.
    virtual void TriggerModulators(AuModulatorTrigger& trigger, IAuModulatorTriggerCallback* callback);
    virtual void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) = 0;
    // Slot 46: true pauses, false resumes the transitions of the state-driven values.
    virtual void PauseTransitions(bool pause);
    // Slots 47 and 48: only a change from what the node reads (its default when absent) is
    // stored, then slot 54 with 0. 1, or 2 without memory.
    virtual AURESULT SetAuProp(u8 id, i32 value, u32 arg1, u32 arg2);
    virtual AURESULT SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2);
    virtual AURESULT SetValueFromAction(u8 id, f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                        AuCurveInterpolation curve, u32 mode) = 0;
    virtual AURESULT ResetValueFromAction(u8 id, CAuRegisteredObj* gameObj, i32 fadeMs,
                                          AuCurveInterpolation curve) = 0;
    virtual AURESULT MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) = 0;
    virtual AURESULT UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) = 0;
    virtual AURESULT UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation curve) = 0;
    // Slot 54 (also the game-parameter manager's request to recompute): nothing in the base.
    void RecalcProps(u32 arg) noexcept override;
    virtual void NoOp55();
    virtual void UpdateStateValues();
    // Slot 57. `fromCurve`: the value comes from a game-parameter change, which scopes it (the
    // stored limit stays); `exceptions`, when given, names the game objects that keep a value of
    // their own.
    virtual void SetMaxNumInstances(u16 limit, CAuRegisteredObj* gameObj, const CAuRTPCFilter* exceptions,
                                    bool fromCurve) = 0;
    // Slot 58: the stored word of property 60 + n, null without one.
    virtual AuPropValue* GetPluginProp(u32 n);
    // Slot 59: busses only (2).
    virtual AURESULT SetMixerPlugin(u32 pluginID, bool shareSet);
    virtual void SetFxBypassBits(u8 bits, u8 mask) = 0;
    // The slot's settings object with a reference and its bypass for the object (null: all); the
    // settings `io` held before are released. An empty record for an empty slot.
    virtual void GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj* gameObj) = 0;
    // The media ID at the index of the slot's settings; -1 without effect block, 0 when absent.
    virtual u32 GetFxMediaID(u32 slot, u32 index) = 0;
    virtual bool GetBypassAllFx(CAuRegisteredObj* gameObj) = 0;
    // Slot 64: a game-parameter change of the node, dispatched by target (2 for a target that has
    // no handling).
    virtual AURESULT RecalcNotificationWithID(const AuRTPCSubscription& subscription, u32 target, u32 paramID,
                                              f32 value, const AuRTPCKey& key, bool flag,
                                              const CAuRTPCFilter* filter = nullptr);
    // Slot 65.
    virtual void UnsetRTPC(u32 target);
    virtual bool OverridesParam(u32 target);
    virtual bool HandlesParam(u32 target);
    virtual void SetPositioningType(bool enable, u32 types);
    virtual void CollectVolumes(AuCollectedVolumes& volumes, CAuRegisteredObj* gameObj, u32 arg,
                                bool replace);
    // Slot 70: the run-time value of property 8, with a fade.
    virtual AURESULT SetProp8FromAction(f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                        AuCurveInterpolation curve);
    virtual CAuNodeBase* GetExtraOwner();
    // Slot 72: allocates the cell on first use; nothing when both are null. 1, or 52.
    virtual AURESULT SetExtraOwner(CAuNodeBase* owner);
    virtual f32 GetProp8Value(CAuRegisteredObj* gameObj);
    virtual f32 GetProp9Value(CAuRegisteredObj* gameObj);
    // Slot 75: slot 26 when the node has its own positioning.
    virtual void ForwardParam(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag);
    // Slots 76 to 80: the parts of the common record that the derived classes read.
    virtual AURESULT SetInitialParams(AuRecordCursor& cursor) = 0;
    virtual AURESULT SetInitialFxParams(AuRecordCursor& cursor, bool effectsOnly) = 0;
    virtual AURESULT SetPositioningParams(AuRecordCursor& cursor);
    virtual AURESULT SetAuxParams(AuRecordCursor& cursor);
    virtual AURESULT SetAdvSettingsParams(AuRecordCursor& cursor);
    // Slot 81: the holder of the game object's run-time values, created on demand (null without
    // memory).
    virtual CAuModifiedValues* GetModifiedValues(CAuRegisteredObj* gameObj) = 0;
    virtual AuRTPCSubscriberKind SubscriberKind();
    // Slot 83: joins the active children of the bus (bit 0), of the extra owner (bit 1) and of the
    // parent, creating their blocks; true when every addition succeeded.
    virtual bool RegisterActivity(u32 forward);

    // The game-parameter manager's view of the node.
    bool HasActivity() noexcept override { return m_pActivity != nullptr; }
    void SetParamFromRTPC(const AuRTPCSubscription& subscription, u32 propertyID, u32 paramID, f32 value,
                          const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept override;

    // Enters the node in its index table (the bus table with flags B bit 2).
    void AddToIndex();
    // The motion bus: the extra owner, else the node joins the default bus (null without one).
    CAuNodeBase* GetDefaultBusIfOrphan();
    // Build an action-execution record of kind 0, 1 or 2 and run slot 17.
    AURESULT Stop(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms, AuCurveInterpolation curve,
                  u32 flags = 0);
    AURESULT Pause(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms, AuCurveInterpolation curve,
                   u32 flags = 0);
    AURESULT Resume(CAuRegisteredObj* gameObj, AuPlayingID playingID, i32 ms, AuCurveInterpolation curve,
                    u32 flags = 0);
    // The prepare keeps the lookup's reference; 15 for an unknown ID.
    static AURESULT PrepareNodeByID(u32 id);
    static void UnprepareNodeByID(u32 id);
    // The bus is the node itself or an ancestor along the own-bus links.
    bool IsDescendantOf(const CAuNodeBase* bus) const;

    // The property as the node reads it: stored, else its default.
    f32 GetPropFloat(u8 id);
    u32 GetPropWord(u8 id);
    // Priority and distance offset of the nearest node that sets them (override bit, or root).
    void GetPriority(CAuRegisteredObj* gameObj, f32& priority, f32& distanceOffset);
    // The limit word's 10 bits, or the value of a curve on target 9 when the word is non-zero.
    u16 GetMaxNumInstances(CAuRegisteredObj* gameObj);
    // The game-parameter value of a target for the game object, when a curve drives it.
    f32 GetRTPCValue(u32 target, CAuRegisteredObj* gameObj);
    bool HasRTPC(u32 target) const { return target < AU_TARGET_NONE && (m_uRTPCMask >> target) & 1; }
    // The curves of the subscription on one game parameter at its value now.
    static f32 EvaluateRTPCCurves(u32 paramID, const AuRTPCSubscription& subscription);

    // Effect slots. 31 for slot 4 or above, 52 without memory; a stamp lower than the stored one
    // is ignored (1); an unchanged slot 1 without a refresh.
    AURESULT SetEffect(u32 slot, u32 pluginID, bool shareSet, i32 stamp);
    // Marks a slot as rendered: an effect it held is dropped and the node refreshed.
    AURESULT SetEffectRendered(u32 slot, bool rendered);
    AURESULT SetBypass(u8 bits, u8 mask);
    void SetBypassFromAction(u8 bits, u8 mask, CAuRegisteredObj* gameObj);
    // Flags B bit 0: whether the state-driven values count; the node refreshes either way.
    void SetUseState(bool use);
    bool UsesState() const { return (m_flagsB & AU_NODE_B_SUM_STATES) != 0; }
    void ResetBypassFromAction(u8 mask, CAuRegisteredObj* gameObj);
    // Values of targets 20/21 (or properties 11/12), property 13 and the panner flag; true when
    // a curve drives either of the first two.
    bool GetPositioningPair(CAuRegisteredObj* gameObj, AuPositioningPair& out);
    // The attached plug-in settings (table 11) of the nearest node that sets them; replaces and
    // releases `io`'s previous object.
    void GetLinkedPluginSettings(CAuIndexable*& io);

    // The holder of a game object's run-time values, registered as a modified node with the game
    // object (with the registry for all objects); null without memory. For slot 81.
    CAuModifiedValues* CreateModifiedValues(CAuRegisteredObj* gameObj);

    // State groups the node follows.
    CAuStateGroupRecord* FindStateGroup(u32 groupID) const;
    // The group's record, made and registered when missing; null when that fails.
    CAuStateGroupRecord* AddStateGroup(u32 groupID);
    CAuStateGroupRecord* StateGroups() const { return m_pStateGroups; }
    // Adds the state-driven values to the wanted entries (flags B bit 0).
    void AddStateValues(AuAccumulatedValues& values) const;
    // The bank bytes of the node's record of a state group: true when that byte is 0 (the output
    // is then the single value 0); else the byte is appended unless present, false.
    bool CollectLinkedIDs(u32 groupID, AuArray<u32>& out) const;
    // The same up the bus chain until one answers true.
    bool CollectLinkedIDsInBusChain(u32 groupID, AuArray<u32>& out) const;
    // Up the parent chain and, once, the bus chain of the first node with a bus.
    bool CollectLinkedIDsFromParents(u32 groupID, AuArray<u32>& out) const;

    // The common record of the non-bus nodes: steps 1 to 9.
    AURESULT SetNodeBaseParams(AuRecordCursor& cursor, bool effectsOnly);
    // Steps the bus record reads in its own order.
    AURESULT ReadStateChunk(AuRecordCursor& cursor);
    AURESULT ReadRTPCList(AuRecordCursor& cursor);
    AURESULT ReadExtraOwner(AuRecordCursor& cursor);

    CAuNodeBase* Parent() const { return m_pParent; }
    CAuNodeBase* Bus() const { return m_pBusNode; }
    AuPropBundle& Props() { return m_props; }
    AuActivityBlock* Activity() const { return m_pActivity; }
    const AuEffectBlock* Effects() const { return m_pEffects; }
    // The settings the node's own slot names (with a reference) into `io`, releasing what it held;
    // the bypass stays clear.
    void FindFxSettings(u32 slot, AuEffectRecord& io) const;
    // The media of the node's own slot; -1 without effect block.
    u32 FindFxMediaID(u32 slot, u32 index) const;
    CAuModifiedValues* ModifiedValues() const { return m_pModifiedValues; }
    u8 FlagsA() const { return m_flagsA; }
    u8 FlagsB() const { return m_flagsB; }
    u8 FlagsC() const { return m_flagsC; }
    u16 LimitWord() const { return m_uLimitWord; }
    u64 RTPCMask() const { return m_uRTPCMask; }

protected:
    void SetFlagsA(u8 bits, bool on) { m_flagsA = on ? (m_flagsA | bits) : (m_flagsA & ~bits); }
    void SetFlagsB(u8 bits, bool on) { m_flagsB = on ? (m_flagsB | bits) : (m_flagsB & ~bits); }
    void SetFlagsC(u8 bits, bool on) { m_flagsC = on ? (m_flagsC | bits) : (m_flagsC & ~bits); }
    void SetLimitWord(u16 word) { m_uLimitWord = word; }
    // The block with its counters from the node, made when missing; null without memory.
    AuActivityBlock* EnsureActivity();
    // Frees the block when it has become empty: the node leaves the active children first.
    void FreeActivityIfEmpty();
    // Adds or removes a child in the active-children array of this node's block.
    bool AddActiveChild(CAuNodeBase* child);
    void RemoveActiveChild(CAuNodeBase* child);

    CAuStateGroupRecord* m_pStateGroups = nullptr;
    CAuModifiedValues* m_pModifiedValues = nullptr;
    AuEffectBlock* m_pEffects = nullptr;
    AuActivityBlock* m_pActivity = nullptr;
    CAuNodeBase* m_pParent = nullptr;
    CAuNodeBase* m_pBusNode = nullptr;
    AuPropBundle m_props;
    u16 m_uLimitWord = 0;
    u8 m_flagsA = 0;
    u8 m_flagsB = 0;
    u8 m_flagsC = 0;
    u64 m_uRTPCMask = 0;
    CAuNodeBase** m_pExtraOwner = nullptr;

private:
    CAuIndexTable& OwnTable();
    AuEffectBlock* EnsureEffects();
    void LeaveActiveChildren();
};

class CAuAudioMgr;
// Messages 40 and 41 (effect slots and bus mixers from the exported interface); before the audio
// thread starts.
void AuInstallNodeMsgHandlers(CAuAudioMgr& audio);

// The bank header's extra-owner flag as the bank manager kept it from the last header read.
bool AuBankHasExtraOwner();
