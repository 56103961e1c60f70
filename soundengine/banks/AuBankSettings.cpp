#include "banks/AuBankSettings.h"

#include "core/AuLog.h"
#include "core/AuThreads.h"
#include "parameters/AuRTPCMgr.h"

void CAuBankSettingsSink::SetVolumeThreshold(f32 thresholdDb, u32) {
    AuLog(AuLogLevel::Warning, "bank: volume threshold %g dB not applied: no voice limits yet", thresholdDb);
}

void CAuBankSettingsSink::SetMaxNumVoices(u16 maxVoices, u32) {
    AuLog(AuLogLevel::Warning, "bank: voice limit %u not applied: no voice limits yet", maxVoices);
}

bool CAuBankSettingsSink::AddStateGroup(u32 groupID) {
    AuLog(AuLogLevel::Error, "bank: state group %08X refused: no state manager", groupID);
    return false;
}

// Reached only after AddStateGroup accepted the group.
void CAuBankSettingsSink::SetDefaultTransitionTime(u32, u32) {}
void CAuBankSettingsSink::AddStateTransition(u32, u32, u32, u32) {}

AURESULT CAuBankSettingsSink::AddSwitchRTPC(u32 switchGroupID, u32, u8, const AuBankSwitchPoint*, u32) {
    AuLog(AuLogLevel::Error, "bank: switch group %08X refused: no switch manager", switchGroupID);
    return AuResultFail;
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
