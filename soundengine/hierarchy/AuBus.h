// Busses (hierarchy types 8 and 16): the nodes through which sounds are mixed. A bus keeps the
// nodes and busses that output into it, tells the lower engine its volume, effect bypass and
// properties by bus ID, and ducks other busses while something plays below it. The type-16 bus
// heads the motion output tree; the first one made is the engine's default bus. Everything runs
// under g_csMain (on the audio or bank thread) except the master-bus and default-bus getters,
// which take the bus table's lock so that any thread may read them.
#pragma once

#include "core/AuTransitionMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuNodeBase.h"
#include "hierarchy/AuPlaybackLimiter.h"
#include "memory/AuArray.h"
#include "memory/AuPoolList.h"
#include "voices/AuMixBusNode.h"

#include <AU/AuChannelConfig.h>

// Ducks may lower a bus no further than this, whatever they add up to (bits 0xC2C0999A).
constexpr f32 AU_BUS_MIN_DUCK_DB = -96.3f;
// The duck targets and each of the two duck lists.
constexpr u32 AU_BUS_MAX_DUCKS = 100;
// Bytes of one duck target in the bank record.
constexpr u32 AU_BUS_DUCK_TARGET_SIZE = 18;

// Bus flags.
constexpr u8 AU_BUS_ACCUMULATED_VALID = 0x01;
constexpr u8 AU_BUS_DUCK_STATE_MASK = 0x0E;
constexpr u8 AU_BUS_BANK_FLAG = 0x10;
constexpr u8 AU_BUS_VOLUME_SENT = 0x20;
constexpr u8 AU_BUS_DYNAMICS_CHANGED = 0x40;
constexpr u8 AU_BUS_PRIMARY_TREE = 0x80;
constexpr u8 AU_BUS_INITIAL_FLAGS = 0x60;

enum AuDuckState : u8 {
    AuDuckState_Idle = 0,
    AuDuckState_Ducking = 1,
    AuDuckState_Recovering = 2,
};

// What a bus does to another bus while it ducks.
struct AuDuckTarget {
    u32 targetBusID;
    f32 duckDb;
    u32 fadeOutMs;
    u32 fadeInMs;
    u32 curve;      // AuCurveInterpolation
    u32 targetProp; // 0 or 5
};

// What one ducking bus does to this bus now.
struct AuDuckEntry {
    u32 duckingBusID;
    CAuTransition* pTransition;
    f32 value; // dB
};

struct AuBusMixer {
    i32 stamp;
    u32 pluginID;
    u8 bShareSet; // 1: settings of type 18 (table 10), else type 19 (table 11)
};

// Set after every bus record a bank load reads; cleared when the primary master bus goes.
bool AuFirstBusRead();
void AuSetFirstBusRead(bool read);

class CAuBusBase : public CAuNodeBase {
public:
    using CAuNodeBase::CAuNodeBase;
    ~CAuBusBase() override;
    // Slot 84: the node children.
    virtual u32 ChildCount();
    // Slot 85: 1 when the child may be added, else the refusal.
    virtual AURESULT CanAddChild(CAuNodeBase* child) = 0;

protected:
    // Sorted by ID.
    AuArray<CAuNodeBase*> m_nodeChildren;
};

class CAuBus : public CAuBusBase {
public:
    // From the default pool, entered in the bus table; null without memory.
    static CAuBus* Create(u32 id);

    ~CAuBus() override;

    // With a reference, under the bus table's lock; null when there is none.
    static CAuBus* GetPrimaryMasterBus();
    static CAuBus* GetSecondaryMasterBus();
    static void ClearMasterBusses();

    // Slot 86: the whole bank payload (ID included). 2 for a parent bus that is not loaded, 7 for
    // a payload that ends early or whose duck-target count runs past it.
    virtual AURESULT SetInitialValues(AuRecordCursor& cursor);

    u32 ChildCount() override;
    AURESULT CanAddChild(CAuNodeBase* child) override;

    void SetParent(CAuNodeBase* parent) override;
    void SetBus(CAuNodeBase* bus) override;
    AURESULT AddChild(CAuNodeBase* child) override;
    // Slot 10 with the table chosen by the caller.
    AURESULT AddChildByID(u32 id, bool isBus);
    AURESULT AddChildByID(u32 id) override { return AddChildByID(id, false); }
    void RemoveChildByID(u32 id, bool isBus);
    void RemoveChildByID(u32 id) override { RemoveChildByID(id, false); }
    void RemoveChild(CAuNodeBase* child) override;
    void GatherChildren(u32 maximum, AuChildInfo* out, u32& count, u32 depth) override;
    bool NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) override;
    AuNodeCategory Category() override { return AuNodeCategory_Bus; }
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    AURESULT ExecuteActionExcept(const AuActionExec& exec) override;
    AURESULT ExecuteActionExceptChecked(const AuActionExec& exec) override;
    AURESULT PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) override;
    void ParamNotification(const AuParamChange& change) override;
    void LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) override;
    void LevelNotification(f32 level, const void* owner) override;
    void SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) override;
    void RecalcNotification() override;
    void BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool flag) override;
    void RTPCTargetChanged(u32 target) override;
    CAuNodeBase* GetMixingBus() override;
    CAuNodeBase* GetOutputBus() override;
    void EffectChanged(u32 slot) override;
    // Slots 36 to 39; the counter is an AuPlayCountRecord (null: plays counted, no limit).
    AURESULT IncrementPlayCount(void* counter) override;
    void DecrementPlayCount(void* counter) override;
    void IncrementVirtualCount(void* counter) override;
    void DecrementVirtualCount(void* counter) override;
    bool IncrementActivityCount(u32 forward) override;
    void DecrementActivityCount(u32 forward) override;
    AURESULT PrepareData() override;
    void UnPrepareData() override;
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override;
    AURESULT SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) override;
    using CAuNodeBase::SetAuProp;
    AURESULT SetValueFromAction(u8 id, f32 value, CAuRegisteredObj* gameObj, i32 fadeMs,
                                AuCurveInterpolation curve, u32 mode) override;
    AURESULT ResetValueFromAction(u8 id, CAuRegisteredObj* gameObj, i32 fadeMs,
                                  AuCurveInterpolation curve) override;
    AURESULT MuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) override;
    AURESULT UnmuteFromAction(CAuRegisteredObj* gameObj, i32 fadeMs, AuCurveInterpolation curve) override;
    AURESULT UnmuteAllFromAction(i32 fadeMs, AuCurveInterpolation curve) override;
    void RecalcProps(u32 arg) noexcept override;
    void SetMaxNumInstances(u16 limit, CAuRegisteredObj* gameObj, const CAuRTPCFilter* exceptions,
                            bool fromCurve) override;
    // Slot 59 with the exported interface's stamp.
    AURESULT SetMixerPlugin(u32 pluginID, bool shareSet) override;
    AURESULT SetMixerPlugin(u32 pluginID, bool shareSet, i32 stamp);
    void SetFxBypassBits(u8 bits, u8 mask) override;
    void GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj* gameObj) override;
    u32 GetFxMediaID(u32 slot, u32 index) override;
    bool GetBypassAllFx(CAuRegisteredObj* gameObj) override;
    void ForwardParam(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) override;
    AURESULT SetInitialParams(AuRecordCursor& cursor) override;
    AURESULT SetInitialFxParams(AuRecordCursor& cursor, bool effectsOnly) override;
    CAuModifiedValues* GetModifiedValues(CAuRegisteredObj* gameObj) override;
    AuRTPCSubscriberKind SubscriberKind() override { return AuRTPCSubscriberKind_Bus; }
    bool RegisterActivity(u32 forward) override;

    bool IsTopLevelBus() const { return m_pBusNode == nullptr; }
    // An effect, a mixer, a channel configuration, category 12, flags B bit 3 or 4, or no parent:
    // the bus has mix busses of its own. Else its volume is folded into its children's.
    bool MixesOnItsOwn();
    // Mode 0 stops at the first parent that mixes on its own; mode 1 goes to the top.
    f32 GetAccumulatedProp(u32 mode, u8 prop);
    void RefreshAccumulatedProps();
    // The sum of the duck list of property 0 or 5, raised to the maximum duck volume.
    f32 GetDuckedVolume(u8 prop) const;
    // Clamped between properties 30 and 31, the level goes to the game parameter of property 29.
    void SetMeterGameParameter(f32 level);
    // The recovery action runs: in state 2 the bus lets go of its targets.
    void EndRecovery();
    // The mixer's settings object with a reference, replacing and releasing `io`'s.
    void GetAttachedPluginSettings(CAuIndexable*& io);
    // Flags A bits 0 and 1: the order flag re-sorts the bus's instance list at once; the
    // use-virtual flag is copied into it.
    void SetLimitOrder(bool orderFlag);
    void SetLimitUseVirtual(bool useVirtual);
    // The instances the bus's own limit counts, highest priority first; null while nothing is
    // counted.
    const CAuPlaybackLimiter* Limiter() const { return m_pLimiter; }

    AuDuckState DuckState() const { return AuDuckState((m_busFlags & AU_BUS_DUCK_STATE_MASK) >> 1); }
    u8 BusFlags() const { return m_busFlags; }
    u32 RecoverySamples() const { return m_uRecoverySamples; }
    AuChannelConfig ChannelConfig() const { return AuChannelConfig{m_uChannelConfig}; }
    f32 MaxDuckVolume() const { return m_fMaxDuckVolume; }
    u32 DuckTargetCount() const { return m_duckTargets.Count(); }
    const AuBusMixer* Mixer() const { return m_pMixer; }
    f32 FoldedBusVolume() const { return m_fFoldedBusVolume; }
    f32 AccumulatedVoiceVolume() const { return m_fAccumVoiceVolume; }
    u32 BusChildCount() const { return m_busChildren.Count(); }
    u32 NodeChildCount() const { return m_nodeChildren.Count(); }
    CAuNodeBase* NodeChild(u32 i) const { return m_nodeChildren[i]; }
    CAuNodeBase* BusChild(u32 i) const { return m_busChildren[i]; }
    // The bus as the mixing side reads it; its references are the bus's own.
    IAuMixBusNode& MixNode() { return m_mixNode; }
    // The bus itself or the nearest one above it that mixes on its own; null when `bus` is none.
    static CAuBus* MixingBusOf(CAuNodeBase* bus);

protected:
    explicit CAuBus(u32 id);
    // Bus-table flag, index entry, the three pooled lists. 1, or the failure.
    AURESULT Init();
    // The shared part of slot 9: the decision, the sorted insertion and this bus's reference.
    AURESULT InsertChild(CAuNodeBase* child);
    // Takes the child out of the array that holds it; false when neither does.
    bool TakeOutChild(CAuNodeBase* child);
    // Master-bus globals for a bus read with parent ID 0.
    void BecomeMasterIfNone();

    // Sorted by ID.
    AuArray<CAuNodeBase*> m_busChildren;

private:
    // The mixing side numbers the properties it reads by their targets; pass-through busses
    // between two mixing ones fold into the lower one's volume.
    class MixNodeView final : public IAuMixBusNode {
    public:
        explicit MixNodeView(CAuBus& bus) : m_bus(bus) {}
        void AddRef() noexcept override { m_bus.AddRef(); }
        void Release() noexcept override { m_bus.Release(); }
        u32 BusNodeID() noexcept override { return m_bus.key; }
        IAuMixBusNode* ParentBusNode() noexcept override;
        AuChannelConfig ChannelConfig() noexcept override { return m_bus.ChannelConfig(); }
        f32 GetProperty(u32 property) noexcept override;
        bool HasPositioning() noexcept override;
        bool IsMotionBus() noexcept override { return m_bus.Category() == AuNodeCategory_DefaultBus; }
        // Bank busses carry no dynamic-range processing.
        bool HasDynamicRange() noexcept override { return false; }
        bool ReleaseInDecibels() noexcept override { return false; }
        bool TakeDynamicRangeChanged() noexcept override { return false; }
        void SetDynamicRangeGain(f32) noexcept override {}
        f32 OutputBusVolumeDb() noexcept override;
        // Bank busses keep no level window.
        bool GetLevelWindow(AuLevelWindow&) noexcept override { return false; }
        void ReportLevel(f32) noexcept override {}
        void GetInsertEffect(u32 slot, AuEffectRecord& record) noexcept override {
            m_bus.GetFx(slot, record, nullptr);
        }
        bool BypassAllEffects() noexcept override { return m_bus.GetBypassAllFx(nullptr); }
        void GetMixerPlugin(AuEffectRecord& record) noexcept override;

    private:
        CAuBus& m_bus;
    };

    // Each duck list receives its entries' fades; the key is the ducking bus's ID.
    class DuckReceiver final : public IAuTransitionTarget {
    public:
        DuckReceiver(CAuBus& bus, u8 prop) : m_bus(bus), m_prop(prop) {}
        void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;

    private:
        CAuBus& m_bus;
        u8 m_prop;
    };
    using DuckList = AuPoolList<AuDuckEntry>;

    DuckList& Ducks(u8 prop) { return prop == AuPropID_Volume ? m_ducks0 : m_ducks5; }
    const DuckList& Ducks(u8 prop) const { return prop == AuPropID_Volume ? m_ducks0 : m_ducks5; }
    AuDuckEntry* FindDuck(u8 prop, u32 duckingBusID);
    void SetDuckState(AuDuckState state);
    void UpdateDuckTargets();
    // This bus's entry for `duckingBusID` moves to `target`; `create` adds it when missing.
    void FadeDuck(u8 prop, u32 duckingBusID, f32 target, u32 ms, AuCurveInterpolation curve, bool create);
    void HoldDuck(u8 prop, u32 duckingBusID);
    void SetDuckValue(u8 prop, AuDuckEntry& entry, f32 value);
    void StopDuckTransitions(DuckList& list);
    void ScheduleRecovery();
    AURESULT ReadDuckTargets(AuRecordCursor& cursor);
    // Stops everything that plays through the bus for a mixer change.
    void StopAll();
    // The bus counts a play against its own limit: it sets one, or has no parent bus, and no bus
    // below has counted it.
    bool CountsLimit(const AuPlayCountRecord* record) const;
    // The bus's list (registered as kind 2) is made when missing and handed to the record; past
    // the limit the instance manager picks who gives way. 1, its refusal, or 52.
    AURESULT CountLimited(AuActivityBlock& block, AuPlayCountRecord& record);

    MixNodeView m_mixNode{*this};
    DuckReceiver m_receiver0{*this, AuPropID_Volume};
    DuckReceiver m_receiver5{*this, AuPropID_BusVolume};
    AuBusMixer* m_pMixer = nullptr;
    u32 m_uRecoverySamples = 0;
    u32 m_uChannelConfig = 0;
    f32 m_fMaxDuckVolume = AU_BUS_MIN_DUCK_DB;
    AuPoolList<AuDuckTarget> m_duckTargets;
    DuckList m_ducks0;
    DuckList m_ducks5;
    f32 m_fFoldedBusVolume = 0.0f;
    f32 m_fAccumVoiceVolume = 0.0f;
    u8 m_busFlags = AU_BUS_INITIAL_FLAGS;
    CAuPlaybackLimiter* m_pLimiter = nullptr;
};

// The type-16 bus: its children join it as their extra owner and keep their own bus for mixing.
class CAuDefaultBus : public CAuBus {
public:
    // Becomes the default bus when there is none. Null without memory.
    static CAuDefaultBus* Create(u32 id);
    // Under the bus table's lock, with a reference; null when none.
    static CAuDefaultBus* GetDefaultBus();
    // Clears the singleton; the former default bus with a reference added (null when none).
    static CAuDefaultBus* TakeDefaultBus();
    static void SetDefaultBusIfNone(CAuDefaultBus* bus);

    ~CAuDefaultBus() override;
    AURESULT AddChild(CAuNodeBase* child) override;
    void RemoveChild(CAuNodeBase* child) override;
    AuNodeCategory Category() override { return AuNodeCategory_DefaultBus; }
    void NotifyParamChange(u32 target, f32 value, const AuRTPCKey& key, bool flag, bool delta) override;
    void CollectVolumes(AuCollectedVolumes& volumes, CAuRegisteredObj* gameObj, u32 arg,
                        bool replace) override;
    AURESULT CanAddChild(CAuNodeBase* child) override;

private:
    using CAuBus::CAuBus;
};

// The type-20 bus: a bus of its own category, which always mixes on its own.
class CAuBusType20 : public CAuBus {
public:
    // From the default pool, entered in the bus table; null without memory.
    static CAuBusType20* Create(u32 id);
    AuNodeCategory Category() override { return AuNodeCategory_BusType20; }

private:
    using CAuBus::CAuBus;
};

// Action type 0x1820: made by a bus that starts recovering, with the bus as its target and the
// recovery time as its delay.
class CAuActionBusDelayed final : public CAuAction {
public:
    // ID 0, not indexed; null without memory.
    static CAuActionBusDelayed* Create(u32 busID, u32 delaySamples);
    // The target bus ends its recovery when it is still recovering. 1, also for a bus gone.
    AURESULT Execute(CAuPendingAction& pending) override;

private:
    using CAuAction::CAuAction;
};

// Types 8 and 16 in the hierarchy loader, the default-bus rule around a bank load, and the
// default bus for orphan nodes.
void AuInstallBusHierarchyLoaders();
// Type 20: created and read under g_csMain, kept when found again.
AuHierarchyLoaderEntry AuBusType20LoaderEntry();

class CAuAudioMgr;
// Message 41 (a node's mixer plug-in from the exported interface); before the audio thread.
void AuInstallBusMsgHandlers(CAuAudioMgr& audio);

// The mixer's lookup of a send's bus: the bank bus of that ID (or the mixing bus above it) with
// one reference, as the mixing side reads it; null when no such bus is loaded. `foldedDb`: the
// bus volume the mixing bus above a pass-through bus skips. [audio thread]
IAuMixBusNode* AuLookupBankMixBus(u32 busID, f32& foldedDb);
