#include "banks/AuBankSettings.h"

#include "core/AuEngineManagers.h"
#include "core/AuLog.h"
#include "core/AuThreads.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/SoundEngine.h>

void CAuBankSettingsSink::SetVolumeThreshold(f32 thresholdDb, u32 priority) {
    if (AU::SoundEngine::SetVolumeThresholdInternal(thresholdDb, priority) != AuResultSuccess)
        AuLog(AuLogLevel::Warning, "bank: volume threshold %g dB is out of range; kept as it was",
              thresholdDb);
}

void CAuBankSettingsSink::SetMaxNumVoices(u16 maxVoices, u32 priority) {
    if (AU::SoundEngine::SetMaxNumVoicesLimitInternal(maxVoices, priority) != AuResultSuccess)
        AuLog(AuLogLevel::Warning, "bank: a voice limit of 0 is refused; kept as it was");
}

// The bank thread reaches the managers here while the audio thread reads them: under g_csMain.
bool CAuBankSettingsSink::AddStateGroup(u32 groupID) {
    CAuMainLock lock;
    if (!g_pStateMgr) {
        AuLog(AuLogLevel::Error, "bank: state group %08X refused: no state manager", groupID);
        return false;
    }
    if (g_pStateMgr->AddStateGroup(groupID) == AuResultSuccess) return true;
    AuLog(AuLogLevel::Error, "bank: state group %08X not kept: no memory", groupID);
    return false;
}

void CAuBankSettingsSink::SetDefaultTransitionTime(u32 groupID, u32 ms) {
    CAuMainLock lock;
    if (g_pStateMgr) g_pStateMgr->SetDefaultTransitionTime(groupID, ms);
}

// The init bank lists each direction it means.
void CAuBankSettingsSink::AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms) {
    CAuMainLock lock;
    if (g_pStateMgr &&
        g_pStateMgr->AddStateTransition(groupID, fromState, toState, ms, false) != AuResultSuccess)
        AuLog(AuLogLevel::Error, "bank: transition %08X to %08X of state group %08X not kept", fromState,
              toState, groupID);
}

AURESULT CAuBankSettingsSink::AddSwitchRTPC(u32 switchGroupID, u32 gameParameterID, u8 drivingType,
                                            const AuBankSwitchPoint* points, u32 count) {
    CAuMainLock lock;
    if (!g_pSwitchMgr) {
        AuLog(AuLogLevel::Error, "bank: switch group %08X refused: no switch manager", switchGroupID);
        return AuResultFail;
    }
    return g_pSwitchMgr->AddSwitchRTPC(switchGroupID, gameParameterID, drivingType, points, count);
}

void CAuBankSettingsSink::SetGameParameter(u32 gameParameterID, f32 defaultValue, u32 rampKind, f32 rampUp,
                                           f32 rampDown) {
    CAuMainLock lock;
    if (!g_pRTPCMgr) return;
    if (g_pRTPCMgr->SetDefaultParamValue(gameParameterID, defaultValue) != AuResultSuccess ||
        g_pRTPCMgr->SetRampingParams(gameParameterID, rampKind, rampUp, rampDown) != AuResultSuccess)
        AuLog(AuLogLevel::Error, "bank: game parameter %08X not stored: no memory", gameParameterID);
}

AURESULT CAuBankSettingsSink::AddBuiltInParamBinding(u32 gameParameterID, u8 kind) {
    CAuMainLock lock;
    return g_pRTPCMgr ? g_pRTPCMgr->AddBuiltInParamBinding(kind, gameParameterID) : AuResultFail;
}
