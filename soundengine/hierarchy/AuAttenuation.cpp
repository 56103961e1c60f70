#include "hierarchy/AuAttenuation.h"

#include "memory/AuArray.h"

#include <AU/MemoryMgr.h>

#include <new>

namespace {

// Cone flag, then with the cone two angles and three values.
constexpr u32 kConeBytes = 20;
// Game-parameter ID, kind, mode, target, curve ID and scaling before the point count.
constexpr u32 kEntryHeadBytes = 12;
constexpr u32 kPointBytes = 12;

} // namespace

CAuAttenuation::CAuAttenuation(u32 id) : CAuIndexable(id) {
    for (u8& use : m_curveUse)
        use = kNoCurve;
}

CAuAttenuation* CAuAttenuation::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuAttenuation));
    if (!memory) return nullptr;
    auto* attenuation = new (memory) CAuAttenuation(id);
    g_pIndex->Table(AuIndexAttenuations).Add(attenuation);
    return attenuation;
}

u32 CAuAttenuation::AddRef() {
    return AddRefIn(g_pIndex->Table(AuIndexAttenuations));
}

u32 CAuAttenuation::Release() {
    return ReleaseIn(g_pIndex->Table(AuIndexAttenuations));
}

AURESULT CAuAttenuation::SetAttenuationParams(const u8* payload, u32 size) {
    AuRecordCursor cursor(payload, size);
    u8 cone = 0;
    if (!cursor.Skip(4) || !cursor.Read(cone) || (cone != 0 && !cursor.Skip(kConeBytes)))
        return AuResultBadHeader;
    u8 curves = 0;
    for (u8& use : m_curveUse)
        if (!cursor.Read(use)) return AuResultBadHeader;
    if (!cursor.Read(curves)) return AuResultBadHeader;
    if (curves == 0) return AuResultFail;
    for (u32 slot = 0; slot < curves; ++slot) {
        const AURESULT result = ReadCurve(cursor, slot);
        if (result != AuResultSuccess) return result;
    }
    u16 entries = 0;
    if (!cursor.Read(entries)) return AuResultBadHeader;
    for (u32 i = 0; i < entries; ++i) {
        u16 points = 0;
        if (!cursor.Skip(kEntryHeadBytes) || !cursor.Read(points) || !cursor.Skip(u32{points} * kPointBytes))
            return AuResultBadHeader;
    }
    return AuResultSuccess;
}

AURESULT CAuAttenuation::ReadCurve(AuRecordCursor& cursor, u32 slot) {
    u8 scaling = 0;
    u16 count = 0;
    if (!cursor.Read(scaling) || !cursor.Read(count) || cursor.Left() < u32{count} * kPointBytes)
        return AuResultBadHeader;
    // Slots past the seven are read past: no use can name them.
    if (slot >= kCurves || count == 0)
        return cursor.Skip(u32{count} * kPointBytes) ? AuResultSuccess : AuResultBadHeader;
    // The level curves over distance take their scaling in decibels.
    bool levelCurve = false;
    for (u32 use = 0; use <= 2; ++use)
        levelCurve = levelCurve || m_curveUse[use] == slot;
    u32 scaled = scaling;
    f32 lift = 0.0f;
    if (levelCurve && scaling == AuCurveScaling_None) {
        scaled = AuCurveScaling_DbToLinear;
    } else if (levelCurve && scaling == AuCurveScaling_LinearToDb) {
        scaled = AuCurveScaling_None;
        lift = 1.0f;
    }
    AuArray<AuCurvePoint> points;
    if (!points.Grow(count)) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        AuCurvePoint point;
        cursor.Read(point.x);
        cursor.Read(point.y);
        cursor.Read(point.interpolation);
        point.y += lift;
        points.AddLast(point);
    }
    const AURESULT result = m_curves[slot].Set(points.begin(), count, scaled);
    points.Term();
    return result == AuResultSuccess ? AuResultSuccess : AuResultFail;
}

const CAuParamCurve* CAuAttenuation::CurveFor(u32 use) const {
    if (use >= kCurves || m_curveUse[use] >= kCurves) return nullptr;
    const CAuParamCurve& curve = m_curves[m_curveUse[use]];
    return curve.IsEmpty() ? nullptr : &curve;
}

bool CAuAttenuation::GetMaxDistance(f32& distance) const {
    const CAuParamCurve* curve = CurveFor(kUseDistanceVolume);
    distance = curve ? curve->Points()[curve->Count() - 1].x : 0.0f;
    return curve != nullptr;
}
