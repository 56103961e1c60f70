// How distance changes a positioned sound (hierarchy type 14, index table 6): up to seven curves
// over distance, each use naming the curve slot that serves it. Positioned nodes refer to it by
// ID. Only what the nodes ask of it so far is kept: the cone and the game-parameter entries of
// the record are checked and passed over.
#pragma once

#include "core/AuObjectIndex.h"
#include "hierarchy/AuRecordCursor.h"
#include "parameters/AuParamCurve.h"

class CAuAttenuation : public CAuIndexable {
public:
    static constexpr u32 kCurves = 7;
    static constexpr u8 kNoCurve = 255;
    // The use whose curve gives the level over distance.
    static constexpr u32 kUseDistanceVolume = 0;

    // In the default pool and in index table 6, every use without a curve; null without memory.
    static CAuAttenuation* Create(u32 id);

    u32 AddRef() override;
    u32 Release() override;
    // The whole payload. 1; 2 without a curve or memory; 7 when the record ends first.
    AURESULT SetAttenuationParams(const u8* payload, u32 size);

    // The curve serving `use`; null when none does or its slot is empty.
    const CAuParamCurve* CurveFor(u32 use) const;
    // The x of the last point of the distance curve, the largest distance it describes; false
    // without one.
    bool GetMaxDistance(f32& distance) const;

private:
    explicit CAuAttenuation(u32 id);
    ~CAuAttenuation() override = default;
    AURESULT ReadCurve(AuRecordCursor& cursor, u32 slot);

    CAuParamCurve m_curves[kCurves];
    u8 m_curveUse[kCurves];
};
