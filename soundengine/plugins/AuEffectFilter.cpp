#include "plugins/AuEffectFilter.h"

#include "parameters/AuFastMath.h"

#include <algorithm>
#include <cmath>

namespace {

// The single-precision constants the design has always used, widened.
constexpr f64 kPi = f64(3.1415927f);
constexpr f64 kTwoPi = f64(6.2831855f);
constexpr f64 kSqrt2 = f64(1.4142135f);

} // namespace

void DesignEffectFilter(AuEffectFilter& filter, u32 type, f32 sampleRate, f32 frequency, f32 gainDb,
                        f32 q) noexcept {
    if (type >= AuEffectFilterNumTypes || !(sampleRate > 0.0f) || !std::isfinite(sampleRate)) {
        BiquadIdentity(filter.coefficients);
        return;
    }
    const f64 rate = sampleRate;
    const f64 f = std::clamp(std::isnan(frequency) ? AU_EFFECT_FILTER_MIN_FREQUENCY : frequency,
                             AU_EFFECT_FILTER_MIN_FREQUENCY, sampleRate * 0.5f * 0.9f);
    const f64 Q = std::isnan(q) ? 1.0 : std::max<f64>(q, AU_EFFECT_FILTER_MIN_Q);
    // The engine's one decibel conversion, so that equal gains sound alike everywhere.
    const f64 A = AuFastPow10(gainDb * 0.025f);
    const f64 w0 = kTwoPi * f / rate;
    const f64 c = std::cos(w0);
    const f64 sqrtA = std::sqrt(A);
    const f64 shelfAlpha = std::sin(w0) / 2.0 * kSqrt2;
    const f64 alpha = std::sin(w0) / (2.0 * Q);
    f64 b0, b1, b2, a0 = 1.0, a1, a2;
    switch (type) {
    case AuEffectFilterLowShelf:
        b0 = A * ((A + 1) - (A - 1) * c + 2 * sqrtA * shelfAlpha);
        b1 = 2 * A * ((A - 1) - (A + 1) * c);
        b2 = A * ((A + 1) - (A - 1) * c - 2 * sqrtA * shelfAlpha);
        a0 = (A + 1) + (A - 1) * c + 2 * sqrtA * shelfAlpha;
        a1 = -2 * ((A - 1) + (A + 1) * c);
        a2 = (A + 1) + (A - 1) * c - 2 * sqrtA * shelfAlpha;
        break;
    case AuEffectFilterPeaking:
        b0 = 1 + alpha * A;
        b1 = -2 * c;
        b2 = 1 - alpha * A;
        a0 = 1 + alpha / A;
        a1 = -2 * c;
        a2 = 1 - alpha / A;
        break;
    case AuEffectFilterHighShelf:
        b0 = A * ((A + 1) + (A - 1) * c + 2 * sqrtA * shelfAlpha);
        b1 = -2 * A * ((A - 1) + (A + 1) * c);
        b2 = A * ((A + 1) + (A - 1) * c - 2 * sqrtA * shelfAlpha);
        a0 = (A + 1) - (A - 1) * c + 2 * sqrtA * shelfAlpha;
        a1 = 2 * ((A - 1) - (A + 1) * c);
        a2 = (A + 1) - (A - 1) * c - 2 * sqrtA * shelfAlpha;
        break;
    case AuEffectFilterLowPass: {
        const f64 C = 1.0 / std::tan(kPi * f / rate);
        b0 = 1.0 / (1.0 + kSqrt2 * C + C * C);
        b1 = 2 * b0;
        b2 = b0;
        a1 = 2 * (1 - C * C) * b0;
        a2 = (1 - kSqrt2 * C + C * C) * b0;
        break;
    }
    case AuEffectFilterHighPass: {
        const f64 K = std::tan(kPi * f / rate);
        b0 = 1.0 / (1.0 + kSqrt2 * K + K * K);
        b1 = -2 * b0;
        b2 = b0;
        a1 = 2 * (K * K - 1) * b0;
        a2 = (1 - kSqrt2 * K + K * K) * b0;
        break;
    }
    case AuEffectFilterBandPass:
        b0 = alpha;
        b1 = 0;
        b2 = -alpha;
        a0 = 1 + alpha;
        a1 = -2 * c;
        a2 = 1 - alpha;
        break;
    default: // notch
        b0 = 1;
        b1 = -2 * c;
        b2 = 1;
        a0 = 1 + alpha;
        a1 = -2 * c;
        a2 = 1 - alpha;
        break;
    }
    const f32 n[5] = {f32(b0 / a0), f32(b1 / a0), f32(b2 / a0), f32(a1 / a0), f32(a2 / a0)};
    // A gain of -inf dB (A = 0) leaves the peaking section's a0 at infinity.
    if (!std::all_of(n, n + 5, [](f32 v) { return std::isfinite(v); })) {
        BiquadIdentity(filter.coefficients);
        return;
    }
    BiquadCoefficients(filter.coefficients, n[0], n[1], n[2], n[3], n[4]);
}
