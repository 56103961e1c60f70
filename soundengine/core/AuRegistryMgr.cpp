#include "core/AuRegistryMgr.h"

#include "core/AuListener.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <bit>
#include <cmath>
#include <new>

u32 CAuRegisteredObj::s_uLive = 0;
IAuGameObjectLinks* CAuRegistryMgr::s_pLinks = nullptr;

namespace {

// The registry names the owner of a game object's keyed values: the object itself.
class GameObjectDirectory final : public IAuKeyOwnerDirectory {
public:
    AuKeyedParamIds* FindParamIds(const AuRTPCKey& key) override {
        return key.pGameObj ? &key.pGameObj->ParamIds() : nullptr;
    }
};
GameObjectDirectory s_directory;

// trunc(value x 255) of the value clamped to [0, 1]: a NaN or out-of-range value would make the
// conversion undefined.
u8 ToByte(f32 value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<u8>(value * 255.0f);
}

} // namespace

CAuRegisteredObj::CAuRegisteredObj(u32 gameObjID) : m_uGameObjID(gameObjID) {
    ++s_uLive;
}

CAuRegisteredObj::~CAuRegisteredObj() {
    IAuGameObjectLinks* links = CAuRegistryMgr::Links();
    if (links) {
        for (const AuModifiedNode& node : m_modifiedNodes)
            links->ForgetObject(node, *this);
        links->RemoveSwitchValues(*this);
    }
    m_modifiedNodes.Term();
    const AuRTPCKey key(this);
    if (links)
        for (u32 id : m_paramIds.ModulatorIDs())
            links->RemoveModulatorInstances(id, key);
    if (g_pRTPCMgr)
        for (u32 id : m_paramIds.ParamIDs())
            g_pRTPCMgr->RemoveKeyValues(id, key);
    m_paramIds.Term();
    m_nodeData.Term();
    if (m_pPairs) AU::MemoryMgr::Free(g_DefaultPoolId, m_pPairs);
    m_positions.Term();
    --s_uLive;
}

void CAuRegisteredObj::AddRef() noexcept {
    const u32 w = m_uFlags;
    m_uFlags = (((w + 1) ^ w) & kCountMask) ^ w;
}

void CAuRegisteredObj::Release() noexcept {
    const u32 w = m_uFlags;
    m_uFlags = (((w - 1) ^ w) & kCountMask) ^ w;
    if ((m_uFlags & kCountMask) != 0) return;
    this->~CAuRegisteredObj();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}

void CAuRegisteredObj::SetActiveListeners(u8 mask) noexcept {
    m_uActiveListeners = mask;
    MarkPositionsChanged();
}

AURESULT CAuRegisteredObj::SetPosition(const AuSoundPosition* positions, u16 count, u32 type) noexcept {
    const AURESULT result = m_positions.Copy(positions, positions ? count : 0);
    m_uPositionType = static_cast<u8>(type & 7);
    MarkPositionsChanged();
    return result;
}

void CAuRegisteredObj::SetScalingFactor(f32 factor) noexcept {
    m_fScalingFactor = factor;
    MarkPositionsChanged();
}

AURESULT CAuRegisteredObj::SetAuxSends(const AuAuxSendValue* values, u32 count) noexcept {
    if (count > AU_MAX_AUX_SENDS) return AuResultFail;
    u32 used = 0;
    for (u32 i = 0; values && i < count; ++i)
        if (values[i].auxBusID != 0 && values[i].fControlValue > 0.0f) m_auxSends[used++] = values[i];
    for (; used < AU_MAX_AUX_SENDS; ++used)
        m_auxSends[used] = {0, 0.0f};
    return AuResultSuccess;
}

AURESULT CAuRegisteredObj::SetObstructionOcclusion(u32 listener, f32 obstruction, f32 occlusion) noexcept {
    if (listener >= AU_NUM_LISTENERS) return AuResultFail;
    m_obstruction[listener] = ToByte(obstruction);
    m_occlusion[listener] = ToByte(occlusion);
    return AuResultSuccess;
}

u32 CAuRegisteredObj::GetNumEmitterListenerPairs(u32 listenerMask) const noexcept {
    const u32 positions = MultiPositionType() != 0 ? m_positions.uCount : 1;
    return static_cast<u32>(std::popcount(m_uActiveListeners & listenerMask)) * positions;
}

AURESULT CAuRegisteredObj::AddModifiedNode(const AuModifiedNode& node) noexcept {
    for (const AuModifiedNode& held : m_modifiedNodes)
        if (held.nodeID == node.nodeID && held.isBus == node.isBus) return AuResultSuccess;
    return m_modifiedNodes.AddLast(node) ? AuResultSuccess : AuResultFail;
}

bool CAuRegisteredObj::ComputePairs() noexcept {
    const u32 positions = MultiPositionType() != 0 ? m_positions.uCount : 1;
    const u32 needed = static_cast<u32>(std::popcount(m_uActiveListeners)) * positions;
    m_uNumPairs = 0;
    if (needed > m_uPairCapacity) {
        auto* grown = static_cast<AuEmitterListenerPair*>(
            AU::MemoryMgr::Malloc(g_DefaultPoolId, needed * sizeof(AuEmitterListenerPair)));
        if (!grown) return false;
        if (m_pPairs) AU::MemoryMgr::Free(g_DefaultPoolId, m_pPairs);
        m_pPairs = grown;
        m_uPairCapacity = needed;
    }
    f32 closest = 1.0e10f;
    u32 closestIndex = 0;
    for (u32 listener = 0; listener < AU_NUM_LISTENERS; ++listener) {
        if (!(m_uActiveListeners & (1u << listener))) continue;
        for (u32 p = 0; p < positions; ++p) {
            AuEmitterListenerPair& pair = m_pPairs[m_uNumPairs];
            pair = AuEmitterListenerPair{};
            pair.listenerBit = static_cast<u8>(1u << listener);
            const AuSoundPosition& position =
                p < m_positions.uCount ? m_positions.pPositions[p] : AU_DEFAULT_SOUND_POSITION;
            const f32 distance = CAuSpeakerPan::ComputeScaledDistance(CAuListener::Data(listener), position,
                                                                      m_fScalingFactor, pair);
            if (distance < closest) {
                closest = distance;
                closestIndex = m_uNumPairs;
            }
            ++m_uNumPairs;
        }
    }
    if (m_uNumPairs) FeedBuiltInParams(m_pPairs[closestIndex]);
    return true;
}

void CAuRegisteredObj::FeedBuiltInParams(const AuEmitterListenerPair& pair) noexcept {
    if (!g_pRTPCMgr) return;
    const AuRTPCKey key(this);
    const u32 listener = static_cast<u32>(std::countr_zero(static_cast<u32>(pair.listenerBit)));
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_Distance, key, pair.fDistance);
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_Azimuth, key, AuRadiansToDegrees(pair.fAngles[0]));
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_Elevation, key, AuRadiansToDegrees(pair.fAngles[1]));
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_EmitterCone, key, AuRadiansToDegrees(pair.fAngles[2]));
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_Obstruction, key,
                                   m_obstruction[listener] * (1.0f / 255.0f) * 100.0f);
    g_pRTPCMgr->UpdateBuiltInParam(AuBuiltInParam_Occlusion, key,
                                   m_occlusion[listener] * (1.0f / 255.0f) * 100.0f);
}

void CAuRegisteredObj::UpdatePositions() noexcept {
    if (!PositionsChanged()) return;
    // Without memory for the pairs the change stays pending for the next frame.
    if (ComputePairs()) m_uFlags &= ~kPositionsChanged;
}

AURESULT CAuRegistryMgr::Init() {
    if (m_modifiedNodes.Init(kPreallocatedNodes, AuPoolList<AuModifiedNode>::kNoMaximum) != AuResultSuccess)
        return AuResultNoMemory;
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, &s_directory);
    CAuRegisteredObj* origin = RegisterObject(0, 0xFF);
    if (!origin) return AuResultNoMemory;
    const AuSoundPosition zero{};
    return origin->SetPosition(&zero, 1, AuMultiPositionType_SingleSource);
}

void CAuRegistryMgr::Term() {
    UnregisterObject(0);
    for (Entry*& head : m_buckets)
        while (head)
            Unregister(&head);
    m_modifiedNodes.Term();
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, nullptr);
}

CAuRegisteredObj* CAuRegistryMgr::Find(u32 gameObjID) const noexcept {
    for (Entry* entry = m_buckets[gameObjID % kBuckets]; entry; entry = entry->pNext)
        if (entry->gameObjID == gameObjID) return entry->pObj;
    return nullptr;
}

CAuRegisteredObj* CAuRegistryMgr::RegisterObject(u32 gameObjID, u32 listenerMask) noexcept {
    if (CAuRegisteredObj* existing = Find(gameObjID)) {
        existing->SetActiveListeners(static_cast<u8>(listenerMask));
        return existing;
    }
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj));
    if (!block) return nullptr;
    auto* object = new (block) CAuRegisteredObj(gameObjID);
    auto* entry = static_cast<Entry*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry)));
    if (!entry) {
        object->Release();
        return nullptr;
    }
    Entry*& head = m_buckets[gameObjID % kBuckets];
    *entry = Entry{head, gameObjID, object};
    head = entry;
    ++m_uNumEntries;
    object->SetActiveListeners(static_cast<u8>(listenerMask));
    return object;
}

void CAuRegistryMgr::Unregister(Entry** link) noexcept {
    Entry* entry = *link;
    *link = entry->pNext;
    --m_uNumEntries;
    CAuRegisteredObj* object = entry->pObj;
    AU::MemoryMgr::Free(g_DefaultPoolId, entry);
    // Users keep the object with the positions it had when it left.
    if (object->RefCount() > 1) object->UpdatePositions();
    object->ClearRegistered();
    object->Release();
}

void CAuRegistryMgr::UnregisterObject(u32 gameObjID) noexcept {
    for (Entry** link = &m_buckets[gameObjID % kBuckets]; *link; link = &(*link)->pNext) {
        if ((*link)->gameObjID != gameObjID) continue;
        Unregister(link);
        return;
    }
}

void CAuRegistryMgr::UnregisterAll() noexcept {
    for (Entry*& head : m_buckets) {
        Entry** link = &head;
        while (*link) {
            if ((*link)->gameObjID == 0)
                link = &(*link)->pNext;
            else
                Unregister(link);
        }
    }
}

CAuRegisteredObj* CAuRegistryMgr::GetObjAndAddref(u32 gameObjID) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    if (object) object->AddRef();
    return object;
}

AURESULT CAuRegistryMgr::SetActiveListeners(u32 gameObjID, u32 listenerMask) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    if (!object) return AuResultFail;
    if (s_pLinks) s_pLinks->UpdateActiveListeners(*object, object->ActiveListeners(), listenerMask & 0xFF);
    object->SetActiveListeners(static_cast<u8>(listenerMask));
    return AuResultSuccess;
}

AURESULT CAuRegistryMgr::SetGameObjectAuxSendValues(u32 gameObjID, const AuAuxSendValue* values,
                                                    u32 count) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    return object ? object->SetAuxSends(values, count) : AuResultFail;
}

AURESULT CAuRegistryMgr::SetGameObjectOutputBusVolume(u32 gameObjID, f32 volume) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    if (!object) return AuResultFail;
    object->SetOutputBusVolume(volume);
    return AuResultSuccess;
}

AURESULT CAuRegistryMgr::SetObjectObstructionAndOcclusion(u32 gameObjID, u32 listener, f32 obstruction,
                                                          f32 occlusion) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    return object ? object->SetObstructionOcclusion(listener, obstruction, occlusion) : AuResultFail;
}

AURESULT CAuRegistryMgr::SetAttenuationScalingFactor(u32 gameObjID, f32 factor) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    if (!object) return AuResultFail;
    object->SetScalingFactor(factor);
    return AuResultSuccess;
}

AURESULT CAuRegistryMgr::SetPosition(u32 gameObjID, const AuSoundPosition* positions, u16 count,
                                     u32 type) noexcept {
    CAuRegisteredObj* object = Find(gameObjID);
    if (!object) return AuResultFail;
    object->SetPosition(positions, count, type);
    return AuResultSuccess;
}

AuModifiedNode* CAuRegistryMgr::AddModifiedNode(const AuModifiedNode& node) noexcept {
    AuModifiedNode* found = nullptr;
    m_modifiedNodes.ForEach([&](AuModifiedNode& held) {
        if (!found && held.nodeID == node.nodeID && held.isBus == node.isBus) found = &held;
    });
    return found ? found : m_modifiedNodes.AddLast(node);
}

AuObjNodeData CAuRegistryMgr::GetObjNodeData(CAuRegisteredObj* object, u32 nodeID) const noexcept {
    if (object)
        for (const AuObjNodeData& entry : object->NodeData())
            if (entry.nodeID == nodeID) return entry;
    return AuObjNodeData{nodeID, {0, 0}};
}

AURESULT CAuRegistryMgr::SetObjNodeData(CAuRegisteredObj* object, u32 nodeID, u32 word0, u32 word1) noexcept {
    if (!object) return AuResultFail;
    AuArray<AuObjNodeData>& data = object->NodeData();
    for (AuObjNodeData& entry : data)
        if (entry.nodeID == nodeID) {
            entry.words[0] = word0;
            entry.words[1] = word1;
            return AuResultSuccess;
        }
    return data.AddLast(AuObjNodeData{nodeID, {word0, word1}}) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuRegistryMgr::ClearObjNodeData(u32 nodeID, CAuRegisteredObj* object) noexcept {
    const auto clear = [nodeID](CAuRegisteredObj& from) {
        AuArray<AuObjNodeData>& data = from.NodeData();
        const u32 index =
            data.IndexOf([nodeID](const AuObjNodeData& entry) { return entry.nodeID == nodeID; });
        data.EraseOrdered(index);
    };
    if (object)
        clear(*object);
    else
        ForEach(clear);
    return AuResultSuccess;
}

void CAuRegistryMgr::MarkListenersChanged(u32 listenerMask) noexcept {
    ForEach([listenerMask](CAuRegisteredObj& object) {
        if (object.ActiveListeners() & listenerMask) object.MarkPositionsChanged();
    });
}

void CAuRegistryMgr::UpdateObjects() noexcept {
    ForEach([](CAuRegisteredObj& object) {
        if (object.RefCount() > 1) object.UpdatePositions();
    });
}
