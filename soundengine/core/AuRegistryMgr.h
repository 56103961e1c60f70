// The game-object registry: every game object the game registered, with its positions, listeners,
// sends and per-object values, and the emitter-listener pairs that feed the built-in game
// parameters. Audio thread only (and Init and Term): everything here runs under g_csMain and has
// no lock of its own; the reference counts are plain words for the same reason.
#pragma once

#include "memory/AuArray.h"
#include "memory/AuPoolList.h"
#include "parameters/AuKeyedParamIds.h"
#include "voices/AuPositioning.h"

#include <AU/AuPositionTypes.h>

class CAuRegisteredObj;

// A hierarchy node that keeps values for some game object.
struct AuModifiedNode {
    u32 nodeID;
    u8 isBus;
};

// Two words a node keeps per game object (switch containers).
struct AuObjNodeData {
    u32 nodeID;
    u32 words[2];
};

// What a game object's end and its listener changes ask of the parts above the registry: the
// hierarchy's nodes, the switch manager, the modulators and the voices. Installed by those parts;
// without one the calls are skipped.
class IAuGameObjectLinks {
public:
    // [audio thread] The node, looked up and released again, drops this object's values.
    virtual void ForgetObject(const AuModifiedNode& node, CAuRegisteredObj& object) noexcept = 0;
    // [audio thread] The switch values set on this object.
    virtual void RemoveSwitchValues(CAuRegisteredObj& object) noexcept = 0;
    // [audio thread] The modulator's instances at the key.
    virtual void RemoveModulatorInstances(u32 modulatorID, const AuRTPCKey& key) noexcept = 0;
    // [audio thread] Before the object's new listener mask is stored: its voices re-evaluate
    // which outputs hear them.
    virtual void UpdateActiveListeners(CAuRegisteredObj& object, u32 oldMask, u32 newMask) noexcept = 0;

protected:
    ~IAuGameObjectLinks() = default;
};

// Where an object without positions of its own sounds from.
constexpr AuSoundPosition AU_DEFAULT_SOUND_POSITION{{0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
constexpr u32 AU_MAX_AUX_SENDS = 4;
// The built-in game-parameter kinds an object feeds from its closest pair.
enum AuBuiltInParam : u32 {
    AuBuiltInParam_Distance = 1,
    AuBuiltInParam_Azimuth = 2,
    AuBuiltInParam_Elevation = 3,
    AuBuiltInParam_EmitterCone = 4,
    AuBuiltInParam_Obstruction = 5,
    AuBuiltInParam_Occlusion = 6,
};

class CAuRegisteredObj {
public:
    static constexpr u32 kCountMask = 0x3FFFFFFF;
    static constexpr u32 kPositionsChanged = 0x40000000;
    static constexpr u32 kRegistered = 0x80000000;

    explicit CAuRegisteredObj(u32 gameObjID);
    ~CAuRegisteredObj();
    CAuRegisteredObj(const CAuRegisteredObj&) = delete;
    CAuRegisteredObj& operator=(const CAuRegisteredObj&) = delete;

    // [audio thread] The count in bits 0-29 only; the last release destroys and frees the object.
    void AddRef() noexcept;
    void Release() noexcept;

    // [audio thread] Each marks the positions changed.
    void SetActiveListeners(u8 mask) noexcept;
    // 1, or 52 when the positions cannot be copied (the object then has none of its own).
    AURESULT SetPosition(const AuSoundPosition* positions, u16 count, u32 type) noexcept;
    void SetScalingFactor(f32 factor) noexcept;
    // [audio thread] 2 for more than 4; else the usable sends fill the slots in order.
    AURESULT SetAuxSends(const AuAuxSendValue* values, u32 count) noexcept;
    // [audio thread] 2 for a listener of 8 or more. Values are clamped to [0, 1] (NaN as 0).
    AURESULT SetObstructionOcclusion(u32 listener, f32 obstruction, f32 occlusion) noexcept;
    void SetOutputBusVolume(f32 volume) noexcept { m_fOutputBusVolume = volume; }
    u32 GetNumEmitterListenerPairs(u32 listenerMask) const noexcept;
    // [audio thread] 1, or 2 without memory.
    AURESULT AddModifiedNode(const AuModifiedNode& node) noexcept;
    // [audio thread] Each item is handed over as a copy and the list re-read after every visit:
    // a visit may add to it.
    template <class Visit> void ForEachModifiedNode(Visit visit) const {
        for (u32 i = 0; i < m_modifiedNodes.Count(); ++i)
            visit(AuModifiedNode(m_modifiedNodes[i]));
    }
    // [audio thread] With positions changed: the pairs again, and the built-in parameters from
    // the closest one.
    void UpdatePositions() noexcept;

    u32 ID() const { return m_uGameObjID; }
    u32 Flags() const { return m_uFlags; }
    u32 RefCount() const { return m_uFlags & kCountMask; }
    bool IsRegistered() const { return (m_uFlags & kRegistered) != 0; }
    bool PositionsChanged() const { return (m_uFlags & kPositionsChanged) != 0; }
    void ClearRegistered() { m_uFlags &= ~kRegistered; }
    void MarkPositionsChanged() { m_uFlags |= kPositionsChanged; }
    u8 ActiveListeners() const { return m_uActiveListeners; }
    u32 MultiPositionType() const { return m_uPositionType & 7; }
    const AuPositionArray& Positions() const { return m_positions; }
    const AuAuxSendValue* AuxSends() const { return m_auxSends; }
    u8 Obstruction(u32 listener) const { return m_obstruction[listener]; }
    u8 Occlusion(u32 listener) const { return m_occlusion[listener]; }
    f32 OutputBusVolume() const { return m_fOutputBusVolume; }
    f32 ScalingFactor() const { return m_fScalingFactor; }
    const AuEmitterListenerPair* Pairs() const { return m_pPairs; }
    u32 NumPairs() const { return m_uNumPairs; }
    AuKeyedParamIds& ParamIds() { return m_paramIds; }
    AuArray<AuObjNodeData>& NodeData() { return m_nodeData; }

    // Objects alive in the process: what tests count to see one die.
    static u32 LiveCount() { return s_uLive; }

private:
    bool ComputePairs() noexcept;
    void FeedBuiltInParams(const AuEmitterListenerPair& pair) noexcept;

    AuKeyedParamIds m_paramIds;
    AuArray<AuModifiedNode> m_modifiedNodes;
    AuPositionArray m_positions;
    u8 m_uActiveListeners = 1;
    u8 m_uPositionType = 0;
    AuAuxSendValue m_auxSends[AU_MAX_AUX_SENDS] = {};
    AuArray<AuObjNodeData> m_nodeData;
    u8 m_obstruction[AU_NUM_LISTENERS] = {};
    u8 m_occlusion[AU_NUM_LISTENERS] = {};
    f32 m_fOutputBusVolume = 1.0f;
    f32 m_fScalingFactor = 1.0f;
    AuEmitterListenerPair* m_pPairs = nullptr;
    u32 m_uNumPairs = 0;
    u32 m_uPairCapacity = 0;
    u32 m_uGameObjID;
    u32 m_uFlags = kRegistered | kPositionsChanged | 1;

    static u32 s_uLive;
};

class CAuRegistryMgr {
public:
    static constexpr u32 kBuckets = 193;
    static constexpr u32 kPreallocatedNodes = 8;

    CAuRegistryMgr() = default;
    ~CAuRegistryMgr() { Term(); }
    CAuRegistryMgr(const CAuRegistryMgr&) = delete;
    CAuRegistryMgr& operator=(const CAuRegistryMgr&) = delete;

    // The table, the node list and object 0 (all listeners, one position at the origin).
    // 1, or 52 without memory.
    AURESULT Init();
    // Object 0, then every object; the table and the node list.
    void Term();

    // [audio thread] An existing object only takes the new mask. Null without memory.
    CAuRegisteredObj* RegisterObject(u32 gameObjID, u32 listenerMask) noexcept;
    void UnregisterObject(u32 gameObjID) noexcept;
    // Every object but object 0.
    void UnregisterAll() noexcept;
    // The object with a reference added, or null.
    CAuRegisteredObj* GetObjAndAddref(u32 gameObjID) noexcept;

    // [audio thread] 2 for an unknown object; else 1 or the object's result.
    AURESULT SetActiveListeners(u32 gameObjID, u32 listenerMask) noexcept;
    AURESULT SetGameObjectAuxSendValues(u32 gameObjID, const AuAuxSendValue* values, u32 count) noexcept;
    AURESULT SetGameObjectOutputBusVolume(u32 gameObjID, f32 volume) noexcept;
    AURESULT SetObjectObstructionAndOcclusion(u32 gameObjID, u32 listener, f32 obstruction,
                                              f32 occlusion) noexcept;
    AURESULT SetAttenuationScalingFactor(u32 gameObjID, f32 factor) noexcept;
    AURESULT SetPosition(u32 gameObjID, const AuSoundPosition* positions, u16 count, u32 type) noexcept;

    // [audio thread] The node's item (added once); null without memory.
    AuModifiedNode* AddModifiedNode(const AuModifiedNode& node) noexcept;
    // The two words the node keeps for the object; zeros when there are none.
    AuObjNodeData GetObjNodeData(CAuRegisteredObj* object, u32 nodeID) const noexcept;
    // 1, or 2 without object or memory.
    AURESULT SetObjNodeData(CAuRegisteredObj* object, u32 nodeID, u32 word0, u32 word1) noexcept;
    // From the object, or from every registered object for null; the later entries keep their
    // order. 1.
    AURESULT ClearObjNodeData(u32 nodeID, CAuRegisteredObj* object) noexcept;

    // [audio thread] Objects hearing one of the listeners get their positions marked changed.
    void MarkListenersChanged(u32 listenerMask) noexcept;
    // [audio thread] Once per pass: objects in use apply their position changes.
    void UpdateObjects() noexcept;

    // [audio thread] The nodes modified for every game object, then each registered object's own.
    template <class Visit> void ForEachModifiedNode(Visit visit) {
        m_modifiedNodes.ForEach([&visit](const AuModifiedNode& node) { visit(AuModifiedNode(node)); });
        ForEach([&visit](CAuRegisteredObj& object) { object.ForEachModifiedNode(visit); });
    }

    u32 NumObjects() const { return m_uNumEntries; }
    u32 NumModifiedNodes() const { return m_modifiedNodes.Count(); }

    static void SetLinks(IAuGameObjectLinks* links) { s_pLinks = links; }
    static IAuGameObjectLinks* Links() { return s_pLinks; }

private:
    struct Entry {
        Entry* pNext;
        u32 gameObjID;
        CAuRegisteredObj* pObj;
    };

    CAuRegisteredObj* Find(u32 gameObjID) const noexcept;
    // Unlinks the entry at `link` and drops the registry's reference.
    void Unregister(Entry** link) noexcept;
    template <class Visit> void ForEach(Visit visit) const {
        for (Entry* head : m_buckets)
            for (Entry* entry = head; entry; entry = entry->pNext)
                visit(*entry->pObj);
    }

    AuPoolList<AuModifiedNode> m_modifiedNodes;
    Entry* m_buckets[kBuckets] = {};
    u32 m_uNumEntries = 0;

    static IAuGameObjectLinks* s_pLinks;
};
