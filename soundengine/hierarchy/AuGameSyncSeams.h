// What the set-state, set-switch and trigger actions ask of the state and switch managers. The
// managers install it; without one those actions change nothing (and still give 1).
#pragma once

#include <AU/AuTypes.h>

class CAuRegisteredObj;
class CAuSwitchEntry;

class IAuGameSyncActions {
public:
    // [audio thread] As a state set through the exported interface: the music hook and the
    // group's members hear it.
    virtual void SetState(u32 stateGroupID, u32 stateID, bool skipTransition,
                          bool skipExtension) noexcept = 0;
    // [audio thread] While the switch lock is held, subscription changes wait for its release.
    virtual void LockSwitches() noexcept = 0;
    virtual void UnlockSwitches() noexcept = 0;
    // [audio thread] The group's entry, found or made; null when it cannot be had.
    virtual CAuSwitchEntry* GetSwitchEntry(u32 switchGroupID) noexcept = 0;
    virtual void SetSwitch(CAuSwitchEntry& entry, u32 switchID, CAuRegisteredObj* gameObj) noexcept = 0;
    // [audio thread] Null: every game object.
    virtual void Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept = 0;

protected:
    ~IAuGameSyncActions() = default;
};

namespace AuGameSyncSeam {
inline IAuGameSyncActions* g_pGameSyncs = nullptr;
inline void Install(IAuGameSyncActions* syncs) {
    g_pGameSyncs = syncs;
}
inline IAuGameSyncActions* Get() {
    return g_pGameSyncs;
}
} // namespace AuGameSyncSeam

// The switch manager's deferral scope: deferred subscription changes apply when it closes.
class CAuSwitchMgrLock {
public:
    explicit CAuSwitchMgrLock(IAuGameSyncActions& syncs) : m_syncs(syncs) { m_syncs.LockSwitches(); }
    ~CAuSwitchMgrLock() { m_syncs.UnlockSwitches(); }
    CAuSwitchMgrLock(const CAuSwitchMgrLock&) = delete;
    CAuSwitchMgrLock& operator=(const CAuSwitchMgrLock&) = delete;

private:
    IAuGameSyncActions& m_syncs;
};
