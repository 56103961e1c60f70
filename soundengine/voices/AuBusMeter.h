// The meter of a mixing bus: peak, RMS, true peak (four-times oversampled) and K-weighted power of
// the bus's buffer after its effects, once per frame, with the bus gain applied. All values are
// linear; the K-weighted power is a mean square. Blocks come from the lower-engine pool.
#pragma once

#include "voices/AuBiquad.h"
#include "voices/AuPipelineBuffer.h"

#include <AU/IAuMetering.h>

// Every measure of AuMeteringFlags.
constexpr u32 AU_METERING_ALL = 31;

// The taps of each phase of the true-peak interpolator.
constexpr u32 AU_TRUE_PEAK_TAPS = 12;
constexpr u32 AU_TRUE_PEAK_PHASES = 4;
// The rate the meters are built for: the game runs at it.
constexpr u32 AU_METER_RATE = 48000;
// The weight of the surround channels in the K-weighted sum (+1.5 dB).
constexpr f32 AU_SURROUND_WEIGHT = 1.4125375f;

struct AuBusMeterData final : AU::IAuMetering {
    const f32* GetPeak() const override { return pPeak; }
    const f32* GetRMS() const override { return pRMS; }
    const f32* GetTruePeak() const override { return pTruePeak; }
    f32 GetKPower() const override { return fKPower; }
    u32 GetNumChannels() const override { return uNumChannels; }

    f32* pPeak = nullptr;
    f32* pRMS = nullptr;
    f32* pTruePeak = nullptr;
    f32* pTruePeakHistory = nullptr;    // AU_TRUE_PEAK_TAPS per channel, oldest first
    AuBiquadBlock* pKStages = nullptr;  // the shelf then the high-pass, shared by every channel
    AuBiquadMemory* pKMemory = nullptr; // two per channel
    f32 fKPower = 0.0f;
    u32 uFlags = 0;
    u32 uNumChannels = 0;

    // 1, or 2 when a block cannot be had (the caller then destroys the meter with Term).
    AURESULT Init(u32 channels, u32 sampleRate, u32 flags) noexcept;
    void Term() noexcept;
    // [audio thread] The flagged measures of the buffer's channels over its maximum frames (a
    // multiple of 4), scaled by `gain`; a gain of 0 or less zeroes them.
    void BusMeter(f32 gain, const AuPipelineBuffer& buffer) noexcept;
};

// The interpolator's phases, for tests that check it against another implementation.
extern const f32 g_AuTruePeakTaps[AU_TRUE_PEAK_PHASES][AU_TRUE_PEAK_TAPS];
// The two K-weighting stages for a rate.
void AuKWeightingCoefficients(u32 sampleRate, AuBiquadBlock& shelf, AuBiquadBlock& highPass) noexcept;
