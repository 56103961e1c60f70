// The common base of every playable node (sounds, the type-17 leaf, the grouping node, the
// containers and the music nodes): random ranges of properties, per-game-object run-time values,
// 3D positioning, aux sends, the advanced playback settings, the common bank record of playable
// nodes and the entry of a play request (MIDI filters, initial delay) before the concrete class's
// play runs. Everything runs on the audio thread or under g_csMain, as the node base says.
#pragma once

#include "hierarchy/AuAction.h"
#include "hierarchy/AuNodeBase.h"
#include "hierarchy/AuNodePlayParams.h"

class CAuLayer;

// The 3D settings a node's positioning block gives. The path of a node (vertices and playlist)
// is not kept yet: a record that carries one is refused.
struct CAuPositioningParams {
    // Flag bits.
    static constexpr u8 kSpatialisation = 1u << 0;
    static constexpr u8 kBit3 = 1u << 3; // positioning bits, bit 6, when the 3D type is 1
    static constexpr u8 kBit4 = 1u << 4; // positioning bits, bit 7
    static constexpr u8 kBit5 = 1u << 5; // positioning bits, bit 5

    u32 nodeID = 0;
    u8 type3D = 0;
    u32 attenuationID = 0;
    u8 flags = 0;
    u8 pathMode = 0;
    u32 pathEndMs = 0;
};

// Positioning byte of the parameter node.
constexpr u8 AU_POS_TYPE_MASK = 0x03; // 0 two-dimensional, 1 three-dimensional
constexpr u8 AU_POS_3D_TYPE_SHIFT = 2;
constexpr u8 AU_POS_AUX_OWN_GAME = 0x10;  // aux bit 0: own game-defined aux send (property 22)
constexpr u8 AU_POS_AUX_USE_GAME = 0x20;  // aux bit 1: game-defined aux sends are used
constexpr u8 AU_POS_AUX_OWN_USER = 0x40;  // aux bit 2: own user aux sends (busses, 18-21)
constexpr u8 AU_POS_OVERRIDE_OUT1 = 0x80; // override flag of the first audio-output setting
// Output byte.
constexpr u8 AU_OUT_OVERRIDE_OUT2 = 0x01;
constexpr u8 AU_OUT_VALUE_OUT2 = 0x02;
constexpr u8 AU_OUT_VALUE_OUT1 = 0x04;

// Properties and targets the parameter node reads.
constexpr u8 AU_PROP_OUT1 = 32;
constexpr u8 AU_PROP_33 = 33;
constexpr u8 AU_PROP_MIDI_TRANSPOSE = 47;
constexpr u8 AU_PROP_MIDI_VELOCITY_OFFSET = 48;
constexpr u8 AU_PROP_MIDI_NOTE_MIN = 49;
constexpr u8 AU_PROP_MIDI_NOTE_MAX = 50;
constexpr u8 AU_PROP_MIDI_VELOCITY_MIN = 51;
constexpr u8 AU_PROP_MIDI_VELOCITY_MAX = 52;
constexpr u8 AU_PROP_MIDI_CHANNEL_MASK = 53;
constexpr u8 AU_PROP_INITIAL_DELAY = 59;
constexpr u32 AU_TARGET_INITIAL_DELAY = 6;
constexpr u32 AU_TARGET_POSITIONING_TYPE = 10;
constexpr u32 AU_TARGET_GAME_AUX = 19;
constexpr u32 AU_TARGET_OUT1 = 35;
constexpr u32 AU_TARGET_MIDI_TRANSPOSE = 39;
constexpr u32 AU_TARGET_MIDI_VELOCITY = 40;
constexpr u32 AU_TARGET_USER_AUX0 = 56;
constexpr u32 AU_TARGET_BUS_FIELD0 = 60;

// Samples for a duration at the output rate, rounded half away from zero.
i32 AuMillisecondsToSamples(f32 ms);
i32 AuSecondsToSamples(f32 seconds);

class CAuParameterNode : public CAuNodeBase {
public:
    explicit CAuParameterNode(u32 id);
    // Destroys the per-object holders, the positioning settings, the layer and aux arrays and the
    // ranges, then the node-base part.
    ~CAuParameterNode() override;

    void ForgetObject(CAuRegisteredObj* gameObj) override;
    // Success when an ancestor (not the node itself) is in the exception list.
    AURESULT ExecuteActionExceptChecked(const AuActionExec& exec) override;
    bool HasPositioning() override { return m_pPositioning != nullptr; }
    // The largest distance of the positioning owner's attenuation: the x of its distance curve's
    // last point. False (and 0) without an owner, an attenuation or such a curve.
    bool GetMaxRadius(f32& radius) override;
    // The node counts what plays below it (and against its limit, see CountLimited), then its
    // output bus and extra owner once for the play, then the parent. The counter is an
    // AuPlayCountRecord; null counts plays only.
    AURESULT IncrementPlayCount(void* counter) override;
    void DecrementPlayCount(void* counter) override;
    void IncrementVirtualCount(void* counter) override;
    void DecrementVirtualCount(void* counter) override;
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override;
    AURESULT SetAuProp(u8 id, i32 value, u32 arg1, u32 arg2) override;
    AURESULT SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) override;
    AURESULT SetValueFromAction(u8 id, f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                AuCurveInterpolation curve, u32 mode) override;
    AURESULT ResetValueFromAction(u8 id, CAuRegisteredObj* gameObj, i32 fadeMs,
                                  AuCurveInterpolation curve) override;
    AURESULT MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) override;
    AURESULT UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) override;
    AURESULT UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation curve) override;
    // Unscoped (not from a curve): stored, and every list of the node takes it. From a curve
    // without a game object: the global list, or each per-object list but the excepted
    // objects'; with one: that object's list, when the node limits per object on its own.
    void SetMaxNumInstances(u16 limit, CAuRegisteredObj* gameObj, const CAuRTPCFilter* exceptions,
                            bool scoped) override;
    // Flags A bits 0 and 1: a new order flag re-sorts the global list and every per-object list
    // at once; the use-virtual flag is copied into them.
    void SetLimitFlags(bool orderFlag, bool useVirtual);
    void SetFxBypassBits(u8 bits, u8 mask) override;
    // While override-parent-effects is clear the parent answers; else the slot's settings
    // object, with a reference.
    void GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj* gameObj) override;
    u32 GetFxMediaID(u32 slot, u32 index) override;
    bool GetBypassAllFx(CAuRegisteredObj* gameObj) override;
    bool OverridesParam(u32 target) override;
    bool HandlesParam(u32 target) override;
    // Bits 0-1 of `types` the positioning type, bits 2-3 the 3D type.
    void SetPositioningType(bool enable, u32 types) override;
    f32 GetProp8Value(CAuRegisteredObj* gameObj) override;
    f32 GetProp9Value(CAuRegisteredObj* gameObj) override;
    AURESULT SetInitialParams(AuRecordCursor& cursor) override;
    AURESULT SetInitialFxParams(AuRecordCursor& cursor, bool effectsOnly) override;
    AURESULT SetPositioningParams(AuRecordCursor& cursor) override;
    AURESULT SetAuxParams(AuRecordCursor& cursor) override;
    AURESULT SetAdvSettingsParams(AuRecordCursor& cursor) override;
    CAuModifiedValues* GetModifiedValues(CAuRegisteredObj* gameObj) override;

    // The concrete class's play.
    virtual AURESULT Play(AuNodePlayParams& params) = 0;

    // A play request: MIDI filters, initial delay, then the node's play.
    AURESULT ExecutePlay(AuNodePlayParams& params);
    // 1 and the event rewritten, or 82 when a filter of this node or an ancestor refuses it.
    AURESULT ResolveMidiEventParams(AuMidiEvent& event, bool& firstCall);
    // 1 to play now, 3 when the play was deferred, else the failure.
    AURESULT ComputeInitialDelay(AuNodePlayParams& params);

    // The property's own range: value + min + r x (max - min), r = rand() / 32767; min alone
    // (no draw) when max equals min; 0 without a range. Integer properties round the offset.
    f32 RangeOffset(u8 id);
    // Same as the node base, with a random range when min or max is non-zero or one exists.
    AURESULT SetRangedProp(u8 id, i32 value, i32 min, i32 max);
    AURESULT SetPropByID(u8 id, f32 value, f32 min, f32 max);
    AuPropBundle8& Ranges() { return m_ranges; }

    // The value record of an instance: the node's contribution, then up the parents and busses.
    void GetAudioParameters(AuAccumulatedValues& values);

    // The node or its nearest ancestor with its own positioning; null at the root without one.
    CAuParameterNode* GetPositioningOwner();
    struct PositioningInfo {
        u8 positioningType = 0;
        u8 type3D = 0;
        CAuPositioningParams params;
        bool hasParams = false;
        AuPositioningPair pair{};
    };
    void GetPositioningParams(CAuRegisteredObj* gameObj, PositioningInfo& out);
    const CAuPositioningParams* Positioning() const { return m_pPositioning; }
    // The virtual queue behaviour (3 bits) and below-threshold behaviour (4 bits) of the node or
    // the nearest ancestor that sets them.
    void GetVirtualVoiceSettings(u8& queueBehaviour, u8& belowThreshold);
    // 1 when the MIDI play mode that applies is 2, else 2 when the node's MIDI play flag applies,
    // else 0.
    u8 GetVirtualBehaviour();

    // 52 without memory.
    AURESULT AddAssociatedLayer(CAuLayer* layer);
    // 2 when the layer is not there.
    AURESULT RemoveAssociatedLayer(CAuLayer* layer);
    u32 NumAssociatedLayers() const { return m_layers.Count(); }

    u8 VirtualByte() const { return m_virtualByte; }
    u8 PositioningByte() const { return m_positioningByte; }
    u8 OutputByte() const { return m_outputByte; }
    u32 AuxBus(u32 slot) const { return m_pAuxBusses && slot < 4 ? m_pAuxBusses[slot] : 0; }
    // The holder of the game object when one exists (no creation).
    CAuModifiedValues* FindModifiedValues(CAuRegisteredObj* gameObj) const;
    // The bypass of slot 0-3, or of all for AU_NODE_BYPASS_ALL, as its curve, the object's values,
    // the global values or the effect block give it, the first that has it.
    bool BypassBit(u32 slot, CAuRegisteredObj* gameObj);
    u32 NumObjectHolders() const { return m_objectHolders.Count(); }

protected:
    // Fades the level of every object's holder back to 1.0.
    void UnmuteAllObjects(i32 fadeMs, AuCurveInterpolation curve);
    // The parameter node with this ID, when the parent is one.
    CAuParameterNode* ParentNode() const;

private:
    // The node counts a play against its own limit: it sets one, or nothing is above it.
    bool CountsLimit() const;
    AuObjectActivity* FindObjectActivity(CAuRegisteredObj* gameObj) const;
    // The play enters the count of the node's global or per-object list (made when missing) and
    // the limit is applied when it is exceeded: 1, the instance manager's refusal, or 52.
    AURESULT CountLimited(AuActivityBlock& block, AuPlayCountRecord& record);
    // The count goes down; an emptied per-object entry or global list is freed.
    void UncountLimited(AuPlayCountRecord& record);
    // When the record asks and the entry's live count exceeds its list's maximum: the limit again,
    // at a priority above any real one so that any instance may give way.
    void ReapplyLimit(AuObjectActivity& entry, AuPlayCountRecord& record);
    void ForwardVirtualCount(AuPlayCountRecord* record, bool up);

    struct ObjectHolder {
        CAuRegisteredObj* pGameObj;
        CAuModifiedValues* pValues;
    };
    bool OwnsTarget(u32 target);
    // Stores the range unless both ends are 0 and none exists.
    AURESULT StoreRange(u8 id, u32 minWord, u32 maxWord);

    AuArray<ObjectHolder> m_objectHolders;
    CAuPositioningParams* m_pPositioning = nullptr;
    AuPropBundle8 m_ranges;
    AuArray<CAuLayer*> m_layers;
    u32* m_pAuxBusses = nullptr;
    u8 m_virtualByte = 0;
    u8 m_positioningByte = 4;
    u8 m_outputByte = 0;
};
