// The equaliser section of the stereo delay and the room reverb: coefficients designed from a
// type, a frequency, a gain and a Q, run four samples per step by the engine's biquad.
#pragma once

#include "voices/AuBiquad.h"

enum AuEffectFilterType : u32 {
    AuEffectFilterLowShelf = 0,
    AuEffectFilterPeaking = 1,
    AuEffectFilterHighShelf = 2,
    AuEffectFilterLowPass = 3,
    AuEffectFilterHighPass = 4,
    AuEffectFilterBandPass = 5,
    AuEffectFilterNotch = 6,
    AuEffectFilterNumTypes = 7,
};

// Designs stay below this share of the sample rate.
constexpr f32 AU_EFFECT_FILTER_MAX_RATIO = 0.45f;
constexpr f32 AU_EFFECT_FILTER_MIN_FREQUENCY = 1.0f;
constexpr f32 AU_EFFECT_FILTER_MIN_Q = 0.01f;

struct AuEffectFilter {
    AuBiquadBlock coefficients;
    AuBiquadMemory memory{};

    AuEffectFilter() { BiquadIdentity(coefficients); }
    // Only the memory: the design stays.
    void Clear() noexcept { memory = {}; }
};

// Leaves the memory as it is. Frequencies are held to [1 Hz, 0.45 rate] and Q to at least 0.01;
// a type outside the table, and any design that would not be finite, gives the pass-through.
void DesignEffectFilter(AuEffectFilter& filter, u32 type, f32 sampleRate, f32 frequency, f32 gainDb,
                        f32 q) noexcept;

// [audio thread] Filters in place; the memory carries to the next call.
inline void ProcessEffectFilter(AuEffectFilter& filter, f32* samples, u32 frames) noexcept {
    BiquadFilter(filter.coefficients, filter.memory, samples, frames);
}
