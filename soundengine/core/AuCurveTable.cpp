#include "core/AuCurveTable.h"

#include "core/AuEngineManagers.h"
#include "core/AuLog.h"
#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>

AURESULT CAuCurveTable::Init() {
    for (u8& enabled : m_enabled)
        enabled = 0;
    return AuResultSuccess;
}

void CAuCurveTable::Term() {
    for (CAuParamCurve& curve : m_curves)
        curve.Term();
}

bool CAuCurveTable::IsReady() {
    return g_pStateMgr != nullptr;
}

f32 CAuCurveTable::Value(u32 group, u32 output, f32 percent) const noexcept {
    if (group >= AU_BANK_ENVIRONMENT_GROUPS || output >= AU_BANK_ENVIRONMENT_OUTPUTS) return 1.0f;
    const u32 index = Index(group, output);
    if (!m_enabled[index] || m_curves[index].IsEmpty()) return 1.0f;
    return m_curves[index].Convert(percent);
}

f32 CAuCurveTable::VolumeFactor(u8 obstruction, u8 occlusion) const noexcept {
    const auto percent = [](u8 stored) { return static_cast<f32>(stored) / 255.0f * 100.0f; };
    return Value(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_Volume, percent(occlusion)) *
           Value(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_Volume, percent(obstruction));
}

void CAuCurveTable::SetCurve(u32 group, u32 output, bool enabled, u8 scaling, const AuBankCurvePoint* points,
                             u32 count) {
    if (group >= AU_BANK_ENVIRONMENT_GROUPS || output >= AU_BANK_ENVIRONMENT_OUTPUTS) return;
    CAuMainLock lock;
    m_enabled[Index(group, output)] = enabled ? 1 : 0;
    CAuParamCurve& curve = m_curves[Index(group, output)];
    if (count == 0) {
        curve.Term();
        return;
    }
    AURESULT result;
    if (output == 0 && scaling == AuCurveScaling_LinearToDb) {
        auto* offsets =
            static_cast<AuCurvePoint*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, count * sizeof(AuCurvePoint)));
        if (!offsets) {
            result = AuResultNoMemory;
        } else {
            for (u32 i = 0; i < count; ++i)
                offsets[i] = AuCurvePoint{points[i].x, points[i].y + 1.0f, points[i].interpolation};
            result = curve.Set(offsets, count, AuCurveScaling_None);
            AU::MemoryMgr::Free(g_DefaultPoolId, offsets);
        }
    } else {
        const u32 kept =
            output == 0 && scaling == AuCurveScaling_None ? u32{AuCurveScaling_DbToLinear} : u32{scaling};
        result = curve.Set(points, count, kept);
    }
    if (result != AuResultSuccess)
        AuLog(AuLogLevel::Error, "curve table: curve (%u, %u) of %u points not kept (%s)", group, output,
              count, AuResultName(result));
}
