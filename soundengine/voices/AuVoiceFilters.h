// Every voice's low-pass and high-pass filter: second-order Butterworth sections driven by a value
// from 0 (open) to 100, ramped over eight sub-blocks when the value changes and bypassed at 0.
#pragma once

#include "core/AuPolyBase.h"
#include "voices/AuBiquad.h"
#include "voices/AuPipelineBuffer.h"

// A filter's value at or below this is no filter at all.
constexpr f32 AU_FILTER_BYPASS_VALUE = 0.1f;
// A ramp takes this many sub-blocks; a value of it means settled.
constexpr u8 AU_FILTER_RAMP_STEPS = 8;
// Calls a filter keeps running at its final coefficients after a ramp down to 0, so that its tail
// dies out before the bypass.
constexpr u8 AU_FILTER_TAIL_CALLS = 4;

struct AuFilterState {
    f32 fCurrent = 0.0f;
    f32 fTarget = 0.0f;
    u8 uStep = AU_FILTER_RAMP_STEPS;
    u8 uSpare = 0;
    u8 uCountdown = 0;
    u8 bBypassed = 1;
    u8 bChanged = 1;
    u8 bFirst = 1;
};

struct AuFilterSection {
    AuBiquadBlock block;
    AuBiquadMemory* pMemory = nullptr; // one per channel
    u32 uMemorySize = 0;               // bytes
};

class CAuVoiceFilters {
public:
    CAuVoiceFilters();
    ~CAuVoiceFilters() { Term(); }
    CAuVoiceFilters(const CAuVoiceFilters&) = delete;
    CAuVoiceFilters& operator=(const CAuVoiceFilters&) = delete;

    // Both filters back to their first state, with zeroed memories for the configuration's channels
    // from the lower engine's plug-in allocator. 2 when either allocation fails (none is kept).
    AURESULT Init(AuChannelConfig config, u8 mode);
    void Term();
    // [audio thread] The next change is taken as the first one, from clean memories.
    void Reset() noexcept;

    // The voice's targets, limited to 0 to 100; a different value starts a change.
    void SetLowPass(f32 value) noexcept { SetTarget(m_lowPassState, value); }
    void SetHighPass(f32 value) noexcept { SetTarget(m_highPassState, value); }

    // [audio thread] The low-pass, then the high-pass, in place over every channel.
    void Process(AuPipelineBuffer& buffer) noexcept;
    // [audio thread] One filter: takes a pending change, then ramps or runs settled.
    static void ProcessLowPass(AuPipelineBuffer& buffer, AuFilterState& state, AuFilterSection& section,
                               u8 mode) noexcept;
    static void ProcessHighPass(AuPipelineBuffer& buffer, AuFilterState& state, AuFilterSection& section,
                                u8 mode) noexcept;
    // [audio thread] One channel's samples through the section with that channel's memory.
    static void FilterChannel(AuFilterSection& section, f32* samples, u32 frames, u32 channel) noexcept {
        BiquadFilter(section.block, section.pMemory[channel], samples, frames);
    }

    // Hz. Mode 0 is the voices' curve (20000 Hz at 0, 7000 at 30, about 16.8 at 100); mode 1 a
    // straight line from half the frame rate x 8 down to 1 Hz. The high-pass reads the curve at
    // 100 - value.
    static f32 LowPassCutoff(f32 value, u16 samplesPerFrame, u8 mode) noexcept;
    static f32 HighPassCutoff(f32 value, u16 samplesPerFrame, u8 mode) noexcept;
    // The sections at a value for the output rate; both cut-offs stop at 0.45 x rate.
    static void LowPassCoefficients(AuBiquadBlock& block, f32 value, u8 mode) noexcept;
    static void HighPassCoefficients(AuBiquadBlock& block, f32 value, u8 mode) noexcept;

    const AuFilterState& LowPassState() const { return m_lowPassState; }
    const AuFilterState& HighPassState() const { return m_highPassState; }
    const AuFilterSection& LowPassSection() const { return m_lowPass; }
    const AuFilterSection& HighPassSection() const { return m_highPass; }

private:
    static void SetTarget(AuFilterState& state, f32 value) noexcept;
    static void ProcessFilter(AuPipelineBuffer& buffer, AuFilterState& state, AuFilterSection& section,
                              u8 mode, void (*design)(AuBiquadBlock&, f32, u8) noexcept) noexcept;

    CAuPolyBase m_base;
    AuFilterSection m_lowPass;
    AuFilterSection m_highPass;
    AuFilterState m_lowPassState;
    AuFilterState m_highPassState;
    AuChannelConfig m_config;
    u8 m_uMode = 0;
};
