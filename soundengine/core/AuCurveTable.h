// The six obstruction and occlusion curves that the init bank's "ENVS" chunk brings, one per
// (group, output): groups 0 obstruction and 1 occlusion; output 0 a linear volume factor, 1 and 2
// values the voice side reads. Written by the bank thread and read by the voice side, both under
// g_csMain.
#pragma once

#include "banks/AuBankSinks.h"
#include "parameters/AuParamCurve.h"

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

    bool IsEnabled(u32 group, u32 output) const { return m_enabled[Index(group, output)] != 0; }
    const CAuParamCurve& Curve(u32 group, u32 output) const { return m_curves[Index(group, output)]; }

private:
    static u32 Index(u32 group, u32 output) { return group * AU_BANK_ENVIRONMENT_OUTPUTS + output; }

    u8 m_enabled[kCurves] = {};
    CAuParamCurve m_curves[kCurves];
};
