#include "parameters/AuKeyedParamIds.h"

namespace {

IAuKeyOwnerDirectory* g_pKeyOwnerDirectories[AuKeyOwnerKind_Count] = {};

AuKeyedParamIds* NarrowestOwner(const AuRTPCKey& key) {
    AuKeyOwnerKind kind;
    if (key.pInstance)
        kind = AuKeyOwnerKind_Instance;
    else if (key.playingID)
        kind = AuKeyOwnerKind_PlayingID;
    else if (key.pGameObj)
        kind = AuKeyOwnerKind_GameObject;
    else
        return nullptr;
    IAuKeyOwnerDirectory* directory = g_pKeyOwnerDirectories[kind];
    return directory ? directory->FindParamIds(key) : nullptr;
}

} // namespace

AURESULT AuKeyedParamIds::AddSorted(AuArray<u32>& ids, u32 id) {
    const u32 at = ids.LowerBound(id, [](u32 held, u32 wanted) { return held < wanted; });
    if (at < ids.Count() && ids[at] == id) return AuResultSuccess;
    return ids.Insert(at, id) ? AuResultSuccess : AuResultNoMemory;
}

void AuKeyOwners::SetDirectory(AuKeyOwnerKind kind, IAuKeyOwnerDirectory* directory) {
    if (kind < AuKeyOwnerKind_Count) g_pKeyOwnerDirectories[kind] = directory;
}

AURESULT AuKeyOwners::RegisterParamID(u32 paramID, const AuRTPCKey& key) {
    AuKeyedParamIds* owner = NarrowestOwner(key);
    return owner ? owner->AddParamID(paramID) : AuResultSuccess;
}

AURESULT AuKeyOwners::RegisterModulatorID(u32 modulatorID, const AuRTPCKey& key) {
    AuKeyedParamIds* owner = NarrowestOwner(key);
    return owner ? owner->AddModulatorID(modulatorID) : AuResultSuccess;
}
