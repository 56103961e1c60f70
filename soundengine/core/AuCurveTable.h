// The six obstruction and occlusion curves that the init bank's "ENVS" chunk brings, one per
// (group, output): groups 0 obstruction and 1 occlusion; output 0 a linear volume factor, 1 the
// low-pass and 2 the high-pass value of the voice's filters. Written by the bank thread and read by
// the voice side, both under g_csMain.
#pragma once

#include "banks/AuBankSinks.h"
#include "parameters/AuParamCurve.h"

enum AuEnvironmentGroup : u32 {
    AuEnvironmentGroup_Obstruction = 0,
    AuEnvironmentGroup_Occlusion = 1,
};

enum AuEnvironmentOutput : u32 {
    AuEnvironmentOutput_Volume = 0, // linear factor
    AuEnvironmentOutput_LowPass = 1,
    AuEnvironmentOutput_HighPass = 2,
};

class CAuCurveTable final : public IAuCurveTableSink {
public:
    static constexpr u32 kCurves = AU_BANK_ENVIRONMENT_GROUPS * AU_BANK_ENVIRONMENT_OUTPUTS;

    AURESULT Init();
    void Term();

    // The chunk is read only once the state manager exists, that is in a started engine.
    bool IsReady() override;
    // Output 0 is kept as a linear factor: decibels (scaling 0) are converted when evaluated,
    // and a curve of linear offsets (scaling 2) gets 1.0 added to each point.
    void SetCurve(u32 group, u32 output, bool enabled, u8 scaling, const AuBankCurvePoint* points,
                  u32 count) override;

    // The curve at a percentage (0 to 100); 1.0 for a disabled or empty curve, so that a missing
    // curve leaves the voice as it is. [audio thread]
    f32 Value(u32 group, u32 output, f32 percent) const noexcept;
    // One listener's volume factor from the object's stored bytes for it (0 to 255 for 0 to 100 %):
    // occlusion times obstruction. [audio thread]
    f32 VolumeFactor(u8 obstruction, u8 occlusion) const noexcept;

    bool IsEnabled(u32 group, u32 output) const { return m_enabled[Index(group, output)] != 0; }
    const CAuParamCurve& Curve(u32 group, u32 output) const { return m_curves[Index(group, output)]; }

private:
    static u32 Index(u32 group, u32 output) { return group * AU_BANK_ENVIRONMENT_OUTPUTS + output; }

    u8 m_enabled[kCurves] = {};
    CAuParamCurve m_curves[kCurves];
};
