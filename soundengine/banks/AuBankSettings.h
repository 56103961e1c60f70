// The engine's reader of "STMG": the volume threshold and the voice limit reach the engine's
// settings, game parameters the RTPC manager, state groups with their transitions the state
// manager and parameter-driven switch groups the switch manager. Without those managers (the
// engine not started) the chunk is refused.
#pragma once

#include "banks/AuBankSinks.h"

class CAuBankSettingsSink final : public IAuBankSettingsSink {
public:
    void SetVolumeThreshold(f32 thresholdDb, u32 priority) override;
    void SetMaxNumVoices(u16 maxVoices, u32 priority) override;
    bool AddStateGroup(u32 groupID) override;
    void SetDefaultTransitionTime(u32 groupID, u32 ms) override;
    void AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms) override;
    AURESULT AddSwitchRTPC(u32 switchGroupID, u32 gameParameterID, u8 drivingType,
                           const AuBankSwitchPoint* points, u32 count) override;
    // Under g_csMain: the audio thread reads the parameters.
    void SetGameParameter(u32 gameParameterID, f32 defaultValue, u32 rampKind, f32 rampUp,
                          f32 rampDown) override;
    AURESULT AddBuiltInParamBinding(u32 gameParameterID, u8 kind) override;
};
