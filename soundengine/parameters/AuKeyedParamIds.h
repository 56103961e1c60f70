// What the owners of narrow keys (game objects, playing-ID records, playback instances) keep so
// that the values stored under their keys can be removed when they end: the IDs of the game
// parameters and modulators holding such values.
#pragma once

#include "memory/AuArray.h"
#include "parameters/AuRTPCKey.h"

class AuKeyedParamIds {
public:
    AuKeyedParamIds() = default;
    AuKeyedParamIds(const AuKeyedParamIds&) = delete;
    AuKeyedParamIds& operator=(const AuKeyedParamIds&) = delete;
    ~AuKeyedParamIds() { Term(); }

    // 1 (also when the ID is held already), or 52 without memory with nothing changed.
    AURESULT AddParamID(u32 paramID) { return AddSorted(m_paramIDs, paramID); }
    AURESULT AddModulatorID(u32 modulatorID) { return AddSorted(m_modulatorIDs, modulatorID); }

    // Sorted, without duplicates. The owner walks them when it ends, then calls Term.
    const AuArray<u32>& ParamIDs() const { return m_paramIDs; }
    const AuArray<u32>& ModulatorIDs() const { return m_modulatorIDs; }

    void Term() {
        m_paramIDs.Term();
        m_modulatorIDs.Term();
    }

private:
    static AURESULT AddSorted(AuArray<u32>& ids, u32 id);

    AuArray<u32> m_modulatorIDs;
    AuArray<u32> m_paramIDs;
};

enum AuKeyOwnerKind : u32 {
    AuKeyOwnerKind_GameObject,
    AuKeyOwnerKind_PlayingID,
    AuKeyOwnerKind_Instance,
    AuKeyOwnerKind_Count,
};

// Installed by the part that keeps one kind of owner (the game-object registry, the playing-ID
// manager, the playback instances): finds the owner that a key names.
class IAuKeyOwnerDirectory {
public:
    // The IDs kept by the owner of this kind in the key; null when there is no such owner.
    // [audio thread]
    virtual AuKeyedParamIds* FindParamIds(const AuRTPCKey& key) = 0;

protected:
    ~IAuKeyOwnerDirectory() = default;
};

struct AuKeyOwners {
    // Installed before the audio thread starts and removed (null) after it stops, so that the
    // audio thread's reads need no synchronisation of their own.
    static void SetDirectory(AuKeyOwnerKind kind, IAuKeyOwnerDirectory* directory);

    // Adds the ID to the narrowest owner present in the key: its playback instance, else its
    // playing ID's record, else its game object; nothing for the global key, or when no such
    // owner is installed or found. 1, or 52 when the owner cannot store the ID. [audio thread]
    static AURESULT RegisterParamID(u32 paramID, const AuRTPCKey& key);
    static AURESULT RegisterModulatorID(u32 modulatorID, const AuRTPCKey& key);
};
