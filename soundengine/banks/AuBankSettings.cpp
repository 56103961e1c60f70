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

bool CAuBankSettingsSink::AddStateGroup(u32 groupID) {
    if (!g_pStateMgr) {
        AuLog(AuLogLevel::Error, "bank: state group %08X refused: no state manager", groupID);
        return false;
    }
    AuLog(AuLogLevel::Warning,
          "bank: state group %08X and its transitions are not kept: states are not built", groupID);
    return true;
}

// The state manager keeps no groups yet: AddStateGroup has said so once for the group.
void CAuBankSettingsSink::SetDefaultTransitionTime(u32, u32) {}
void CAuBankSettingsSink::AddStateTransition(u32, u32, u32, u32) {}

AURESULT CAuBankSettingsSink::AddSwitchRTPC(u32 switchGroupID, u32, u8, const AuBankSwitchPoint*, u32) {
    if (!g_pSwitchMgr) {
        AuLog(AuLogLevel::Error, "bank: switch group %08X refused: no switch manager", switchGroupID);
        return AuResultFail;
    }
    AuLog(AuLogLevel::Warning,
          "bank: switch group %08X is not bound to its game parameter: switches are not built",
          switchGroupID);
    return AuResultSuccess;
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
