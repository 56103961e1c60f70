#include "parameters/AuParamCurve.h"

#include "banks/AuBankFormat.h"
#include "parameters/AuFastMath.h"

#include <AU/MemoryMgr.h>

#include <cstddef>
#include <cstring>

// Bank points are copied as they come.
static_assert(sizeof(AuCurvePoint) == AU_BANK_CURVE_POINT_SIZE &&
              sizeof(AuBankCurvePoint) == sizeof(AuCurvePoint));
static_assert(offsetof(AuCurvePoint, x) == offsetof(AuBankCurvePoint, x) &&
              offsetof(AuCurvePoint, y) == offsetof(AuBankCurvePoint, y) &&
              offsetof(AuCurvePoint, interpolation) == offsetof(AuBankCurvePoint, interpolation));

namespace {

constexpr f32 kHalfPi = 1.5707964f;
constexpr f32 kPi = 3.1415927f;

// The polynomials take x and x^2 rounded to single precision and run in double.
f64 Sine(f32 x) {
    const f64 x2 = f32(x * x);
    return x * (0.9999966 + x2 * (-0.16664828 + x2 * (0.008306325 - 0.00018363654 * x2)));
}
f64 HalfSine(f32 x) {
    const f64 x2 = f32(x * x);
    return x * (0.4999983 + x2 * (-0.08332414 + x2 * (0.0041531627 - 0.00009181827 * x2)));
}
// (1 - cos x) / 2
f64 RaisedCosine(f32 x) {
    const f64 x2 = f32(x * x);
    return 0.00069670216 + x2 * (0.2476748 + x2 * (-0.01961384 + 0.00048483399 * x2));
}
f64 Cosine(f32 x) {
    const f64 x2 = f32(x * x);
    return 0.9999933 + x2 * (-0.49991244 + x2 * (0.04148775 - 0.0012712094 * x2));
}

} // namespace

f32 AuInterpolateCurve(f32 t, f32 a, f32 b, AuCurveInterpolation shape) noexcept {
    // In double, a + (b - a) at t = 1 and b + (a - b) at t = 0 come back exact.
    const f64 from = a;
    const f64 to = b;
    const f64 span = to - from;
    const f64 tt = t;
    switch (shape) {
    case AuCurveInterpolation_EaseOutCubic: {
        const f64 rest = 1.0 - tt;
        return f32(to - span * rest * rest * rest);
    }
    case AuCurveInterpolation_EaseOutSine:
        return f32(from + span * Sine(t * kHalfPi));
    case AuCurveInterpolation_EaseOutQuad:
        return f32(from + span * (tt * (3.0 - tt) / 2.0));
    case AuCurveInterpolation_SteepMiddle:
        if (t <= 0.5f) return f32(from + span * HalfSine(t * kPi));
        return f32(from + span * (1.0 - HalfSine(kPi - t * kPi)));
    case AuCurveInterpolation_Linear:
        return f32(from + span * tt);
    case AuCurveInterpolation_SmoothS:
        return f32(from + span * RaisedCosine(t * kPi));
    case AuCurveInterpolation_EaseInQuad:
        return f32(from + span * (tt * (1.0 + tt) / 2.0));
    case AuCurveInterpolation_EaseInSine:
        return f32(to - span * Cosine(t * kHalfPi));
    case AuCurveInterpolation_EaseInCubic:
        return f32(from + span * tt * tt * tt);
    case AuCurveInterpolation_Hold:
        break;
    }
    return 0.0f;
}

AURESULT CAuParamCurve::Set(const AuCurvePoint* points, u32 count, u32 scaling) {
    Term();
    if (!points || count == 0) return AuResultInvalidParameter;
    const u64 bytes = u64{count} * sizeof(AuCurvePoint);
    if (bytes > UINT32_MAX) return AuResultNoMemory;
    m_pPoints = static_cast<AuCurvePoint*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, u32(bytes)));
    if (!m_pPoints) return AuResultNoMemory;
    memcpy(m_pPoints, points, bytes);
    m_uCount = count;
    m_uScaling = scaling;
    return AuResultSuccess;
}

AURESULT CAuParamCurve::Set(const AuBankCurvePoint* points, u32 count, u32 scaling) {
    return Set(reinterpret_cast<const AuCurvePoint*>(points), count, scaling);
}

void CAuParamCurve::Term() {
    if (m_pPoints) AU::MemoryMgr::Free(g_DefaultPoolId, m_pPoints);
    m_pPoints = nullptr;
    m_uCount = 0;
    m_uScaling = AuCurveScaling_None;
}

f32 CAuParamCurve::Convert(f32 x, u32 startIndex, u32* outIndex) const noexcept {
    if (m_uCount == 0) {
        if (outIndex) *outIndex = 0;
        return 0.0f;
    }
    const u32 last = m_uCount - 1;
    u32 i = startIndex < last ? startIndex : last;
    f32 y = m_pPoints[last].y;
    // Every comparison with NaN is false: NaN walks to the end and takes the last y.
    for (; i < last; ++i) {
        const AuCurvePoint& from = m_pPoints[i];
        if (from.x >= x) {
            y = from.y;
            break;
        }
        const AuCurvePoint& to = m_pPoints[i + 1];
        if (to.x > x) {
            if (from.interpolation == AuCurveInterpolation_Linear) {
                y = from.y + (x - from.x) / (to.x - from.x) * (to.y - from.y);
            } else if (from.interpolation == AuCurveInterpolation_Hold) {
                y = from.y;
            } else {
                y = AuInterpolateCurve((x - from.x) / (to.x - from.x), from.y, to.y,
                                       AuCurveInterpolation(from.interpolation));
            }
            break;
        }
    }
    if (outIndex) *outIndex = i;
    return ApplyScaling(y);
}

f32 CAuParamCurve::ApplyScaling(f32 y, u32 scaling) noexcept {
    switch (scaling) {
    case AuCurveScaling_LinearToDb:
        if (y <= -1.0f) return -4096.0f;
        if (y >= 1.0f) return 4096.0f;
        if (y < 0.0f) return AuFastLn(1.0f + y) * 0.4342945f * 20.0f;
        return AuFastLn(1.0f - y) * -0.4342945f * 20.0f;
    case AuCurveScaling_Pow10:
        return AuFastPow10(y);
    case AuCurveScaling_DbToLinear:
        return AuDbToLinear(y);
    default:
        return y;
    }
}
