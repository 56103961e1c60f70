// The leaves of the hierarchy: the nodes that own sources and start playback instances. A sound
// (hierarchy type 2) has one source; the type-17 leaf has one motion source per motion device
// type and plays only while motion devices exist. Both forward the per-instance operations of the
// node interface to their live instances. Audio thread or g_csMain, as the node base says.
#pragma once

#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuParameterNode.h"
#include "hierarchy/AuSourceInfo.h"
#include "voices/AuPlaybackInstance.h"

class CAuLeafNode : public CAuParameterNode {
public:
    explicit CAuLeafNode(u32 id);

    // Each walks the live instances in list order.
    AURESULT PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) override;
    void ParamNotification(const AuParamChange& change) override;
    void LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) override;
    void LevelNotification(f32 level, const void* owner) override;
    void SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) override;
    void RecalcNotification() override;
    void BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool flag) override;
    void EffectChanged(u32 slot) override;
    void RecalcProps(u32 which) noexcept override;

    // Property 58 (loop count, default 1) with an offset drawn from its range.
    i32 ComputeRandomizedValue();

    // What a playback instance of this leaf is made with: the node (one reference for the
    // instance), the game object, the key with the MIDI event, the priority.
    void MakeInstanceParams(const AuNodePlayParams& request, AuPlaybackInstanceParams& out);
    // The node as the instances see it.
    IAuInstanceNode& InstanceNode() { return m_instanceNode; }
    CAuPlaybackInstance* FirstInstance() const { return m_pInstances; }

protected:
    // Seek of kind 4 on the matching instances.
    void SeekInstances(const AuActionExec& exec);

private:
    class NodeView final : public IAuInstanceNode {
    public:
        explicit NodeView(CAuLeafNode& owner) : IAuInstanceNode(owner.key), m_owner(owner) {}
        u32 AddRef() override { return m_owner.AddRef(); }
        u32 Release() override { return m_owner.Release(); }
        CAuPlaybackInstance*& InstanceListHead() noexcept override { return m_owner.m_pInstances; }
        bool UsesLevelWindow() noexcept override { return false; }
        bool GetMaxDistance(f32& maxDistance) noexcept override { return m_owner.GetMaxRadius(maxDistance); }
        u8 GetBelowThresholdBehavior() noexcept override;
        // The effect owner's slot: the leaf's own when it overrides its parent's effects, else the
        // nearest ancestor's that does.
        void GetEffectRecord(u32 slot, CAuRegisteredObj* gameObj, AuEffectRecord& record) noexcept override {
            record = AuEffectRecord{};
            m_owner.GetFx(slot, record, gameObj);
        }
        // The instance no longer counts below the node (it has left its lists already).
        void OnInstanceTerm(CAuPlaybackInstance* instance) noexcept override;
        void ClearPendingActions() noexcept override;
        CAuIndexable* OutputBus() noexcept override { return m_owner.GetOutputBus(); }

    private:
        CAuLeafNode& m_owner;
    };

    NodeView m_instanceNode;
    CAuPlaybackInstance* m_pInstances = nullptr;
};

class CAuSound : public CAuLeafNode {
public:
    // From the default pool, entered in the node table; null without memory.
    static CAuSound* Create(u32 id);
    explicit CAuSound(u32 id) : CAuLeafNode(id) {}
    ~CAuSound() override;

    u32 ClassKind() override { return 4; }
    AuNodeCategory Category() override { return AuNodeCategory_Sound; }
    // Appends the source to an AuArray<const AuSourceInfo*> (arg1) when it is streamed and flag
    // bit 11 is clear; false when the array cannot grow.
    bool NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) override;
    bool HasSource() override { return m_source.sourceID != 0; }
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    AURESULT ExecuteActionExcept(const AuActionExec& exec) override;
    AURESULT PrepareData() override { return m_source.PrepareMedia(); }
    void UnPrepareData() override { m_source.UnprepareMedia(); }
    // Adds (note - root note) x 100 cents for a MIDI note.
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override;
    // The MIDI built-ins and the note record for a note-on, then the instance manager's start.
    AURESULT Play(AuNodePlayParams& params) override;

    // The whole type-2 payload: source record, then the common record (effects only when the
    // sound was there already).
    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    AuSourceInfo& Source() { return m_source; }
    // The sounds' streamed sources for a list of them.
    static bool CollectStreamedSources(CAuNodeBase& node, AuArray<const AuSourceInfo*>& out) {
        return node.NotifyChildren(&out, nullptr, 0, 0, 0);
    }

private:
    AuSourceInfo m_source;
};

// A source of a type-17 leaf: one per motion device type.
struct AuMotionSource {
    AuSourceInfo info;
    u16 device1 = 0;
    u16 device2 = 0;
    f32 levelOffset = 0.0f;
};

// What a motion instance gathers of its source and its bus of the motion tree.
struct AuMotionParams {
    CAuNodeBase* pBus = nullptr; // not referenced
    u16 device1 = 0;
    u16 device2 = 0;
    u32 reserved[2] = {};
    AuCollectedVolumes volumes;
};

class CAuLeafType17 : public CAuLeafNode {
public:
    static CAuLeafType17* Create(u32 id);
    explicit CAuLeafType17(u32 id) : CAuLeafNode(id) {}
    ~CAuLeafType17() override;

    u32 ClassKind() override { return 10; }
    AuNodeCategory Category() override { return AuNodeCategory_LeafType17; }
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    AURESULT ExecuteActionExcept(const AuActionExec& exec) override;
    // Joins the default bus first when neither the node nor an ancestor has an extra owner.
    AURESULT IncrementPlayCount(void* counter) override;
    // Every source's media; the last failure, else 1.
    AURESULT PrepareData() override;
    void UnPrepareData() override;
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override;
    // One instance per source while motion devices exist; 1 in every case.
    AURESULT Play(AuNodePlayParams& params) override;

    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    // The bus of the motion tree (the extra owner, else the default bus, which the node then
    // joins) adds its volumes to the record; a record without a second device takes the source's
    // devices and the bus. 2 when there is neither bus.
    AURESULT GetMotionParams(AuMotionParams& record, const AuMotionSource& source, u32 arg);
    // Changes the level offset of a source: the instances playing it hear the change.
    void SetLevelOffset(AuMotionSource& source, f32 offset);
    f32 GetLinkedFloat(const AuSourceInfo& source) const;
    u32 NumSources() const { return m_sources.Count(); }
    AuMotionSource* Source(u32 i) const { return m_sources[i].pSource; }
    AuMotionSource* FindSource(u32 sourceID) const;
    void ClearSources();

private:
    struct Entry {
        u32 sourceID;
        AuMotionSource* pSource;
    };
    AuArray<Entry> m_sources;
};

// The hierarchy loader's entries of types 2 and 17.
AuHierarchyLoaderEntry AuSoundLoaderEntry();
AuHierarchyLoaderEntry AuLeafType17LoaderEntry();
