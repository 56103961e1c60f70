// Curve shapes between two values, and piecewise curves that map a game-driven value onto a
// property with a scaling.
#pragma once

#include <AU/AuTypes.h>

struct AuBankCurvePoint;

// The value at fraction t (0 to 1) from a to b along a shape; 0.0 for shapes above 8 (callers
// hold a themselves for shape 9). [audio thread]
f32 AuInterpolateCurve(f32 t, f32 a, f32 b, AuCurveInterpolation shape) noexcept;

// What a curve does with each output; kinds not listed leave it unchanged.
enum AuCurveScaling : u32 {
    AuCurveScaling_None = 0,
    AuCurveScaling_LinearToDb = 2, // y in (-1, 1) to decibels, +-4096 outside
    AuCurveScaling_Pow10 = 3,      // 10^y
    AuCurveScaling_DbToLinear = 4, // 10^(y / 20)
};

// A point as banks store it; a segment runs from this point to the next with this shape.
struct AuCurvePoint {
    f32 x;
    f32 y;
    u32 interpolation; // AuCurveInterpolation; a bank's value is kept as it comes
};

// Points sorted by x, owned in the default pool by whoever owns the curve.
class CAuParamCurve {
public:
    CAuParamCurve() = default;
    CAuParamCurve(const CAuParamCurve&) = delete;
    CAuParamCurve& operator=(const CAuParamCurve&) = delete;
    ~CAuParamCurve() { Term(); }

    // Replaces the points by a copy. 31 for no points, 52 without memory; the old points are
    // gone either way and the curve is then empty.
    AURESULT Set(const AuCurvePoint* points, u32 count, u32 scaling);
    AURESULT Set(const AuBankCurvePoint* points, u32 count, u32 scaling);
    void Term();

    // The scaled output at x. The search starts at segment `startIndex` (0 for a full search) and
    // the segment it ends in is written to `outIndex` when given. 0.0 for an empty curve; x below
    // the first point gives the first y, at or past the last point the last y (so does NaN).
    // Unsorted points give some point's y or a segment's value, never a search past the end.
    // [audio thread]
    f32 Convert(f32 x, u32 startIndex = 0, u32* outIndex = nullptr) const noexcept;
    // [audio thread]
    f32 ApplyScaling(f32 y) const noexcept { return ApplyScaling(y, m_uScaling); }
    static f32 ApplyScaling(f32 y, u32 scaling) noexcept;

    const AuCurvePoint* Points() const { return m_pPoints; }
    u32 Count() const { return m_uCount; }
    u32 Scaling() const { return m_uScaling; }
    bool IsEmpty() const { return m_uCount == 0; }

private:
    AuCurvePoint* m_pPoints = nullptr;
    u32 m_uCount = 0;
    u32 m_uScaling = AuCurveScaling_None;
};
