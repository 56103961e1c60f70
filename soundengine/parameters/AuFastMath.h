// The engine's one conversion between decibels and gains. Every decibel-to-gain conversion (curve
// scalings, listeners, transitions, voices, filter design) goes through AuFastPow10 so that equal
// levels give equal gains everywhere; its error (under 0.25 %) is part of the engine's sound.
#pragma once

#include <AU/AuTypes.h>

#include <bit>
#include <cmath>

// Below 10^-37 the result is 0.
constexpr f32 AU_FAST_POW10_MIN_EXPONENT = -37.0f;
// Above 10^38 the exponent field of the approximation would run into the sign bit: larger
// exponents give the gain of 10^38 instead of wrapping to infinity, a negative or zero.
constexpr f32 AU_FAST_POW10_MAX_EXPONENT = 38.0f;

namespace AuFastMathDetail {
// 2^23 log2(10): one unit of the exponent of ten in float bits.
constexpr f64 kBitsPerDecade = 27866352.0;
// The bits of 1.0f.
constexpr f64 kOneBits = 1065353216.0;
static_assert(kOneBits == f64(std::bit_cast<u32>(1.0f)));
static_assert(AU_FAST_POW10_MAX_EXPONENT * kBitsPerDecade + kOneBits < 2147483648.0,
              "the largest exponent must keep the sign bit clear");
} // namespace AuFastMathDetail

// 10^exponent: the exponent's bits scaled into a float's exponent field, the mantissa corrected by
// a quadratic. 0 for a NaN exponent. [audio thread]
inline f32 AuFastPow10(f32 exponent) noexcept {
    using namespace AuFastMathDetail;
    if (!(exponent >= AU_FAST_POW10_MIN_EXPONENT)) return 0.0f; // also NaN
    if (exponent > AU_FAST_POW10_MAX_EXPONENT) exponent = AU_FAST_POW10_MAX_EXPONENT;
    // The sum v x 2^23 log2(10) + 1.0-bits, truncated toward zero, as extended precision forms
    // it. A float times the constant needs 45 bits, so the product is exact in double, and since
    // the sum stays positive its integer part is the 1.0-bits plus the product's floor. Only for
    // exponents under 2^-16 has the product fraction bits finer than the extended sum keeps, and
    // the sum's rounding may carry into the integer part: those few take the extended form.
    i64 whole;
    if (std::fabs(exponent) < 0x1p-16f) {
        whole = i64(static_cast<long double>(exponent) * kBitsPerDecade + kOneBits) - i64(kOneBits);
    } else {
        const f64 scaled = f64(exponent) * kBitsPerDecade;
        whole = i64(scaled);
        if (f64(whole) > scaled) --whole;
    }
    const u32 bits = u32(whole + i64(kOneBits));
    const f32 scale = std::bit_cast<f32>(bits & 0xFF800000u);
    const f32 m = std::bit_cast<f32>((bits & 0x007FFFFFu) + 0x3F800000u);
    return scale * ((m * 0.32518977f + 0.020805772f) * m + 0.65304345f);
}

// Decibels to a linear gain: 0 below -740 dB. [audio thread]
inline f32 AuDbToLinear(f32 dB) noexcept {
    return AuFastPow10(dB * 0.05f);
}

// Natural logarithm of |u| from its exponent and a two-term series of its mantissa; the
// exponent byte alone for 0, infinities and NaN, so any input gives a finite value.
inline f32 AuFastLn(f32 u) noexcept {
    const u32 bits = std::bit_cast<u32>(u);
    const i32 exponent = i32((bits >> 23) & 0xFFu) - 127;
    const f32 m = std::bit_cast<f32>((bits & 0x007FFFFFu) | 0x3F800000u);
    const f32 z = (m - 1.0f) / (m + 1.0f);
    return 2.0f * z * (1.0f + z * z * 0.33333334f) + f32(exponent) * 0.6931472f;
}

// Decibels of a positive gain: within 0.02 dB of 20 log10(u). [audio thread]
inline f32 AuFastLinearToDb(f32 u) noexcept {
    return AuFastLn(u) * 0.4342945f * 20.0f;
}
