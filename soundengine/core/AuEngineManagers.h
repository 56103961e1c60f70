// The engine's manager singletons that later parts fill in. Each is made by the engine's Init in
// the default pool, in a fixed order, and torn down by its Term; for now each has its start, its
// stop and the per-frame call the audio pass makes of it.
#pragma once

#include "banks/AuThreadedBankMgr.h"
#include "core/AuCurveTable.h"
#include "core/AuRegistryMgr.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuModulatorMgr.h"
#include "parameters/AuRTPCMgr.h"
#include "parameters/AuStateMgr.h"
#include "parameters/AuSwitchMgr.h"

#include <AU/AuInitSettings.h>

class CAuPathMgr {
public:
    AURESULT Init(u32 maxPathRecords) {
        m_uMaxPathRecords = maxPathRecords;
        return AuResultSuccess;
    }
    void Term() {}
    // [audio thread] Advances every path to the given frame.
    void ProcessPathsList(u32) noexcept {}
    u32 MaxPathRecords() const { return m_uMaxPathRecords; }

private:
    u32 m_uMaxPathRecords = 0;
};

class CAuInstanceMgr;

extern CAuCurveTable* g_pCurveTable;
extern CAuRegistryMgr* g_pRegistryMgr;
extern CAuPathMgr* g_pPathMgr;
extern CAuSwitchMgr* g_pSwitchMgr;
extern CAuStateMgr* g_pStateMgr;
// Every live playback instance; made with the voice side, after the managers above.
extern CAuInstanceMgr* g_pInstanceMgr;
