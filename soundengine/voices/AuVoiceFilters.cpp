#include "voices/AuVoiceFilters.h"

#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr f32 kPi = 3.1415927f;
constexpr f32 kSqrt2 = 1.4142135f;
// Above this fraction of the output rate the bilinear tangent runs away.
constexpr f32 kMaxCutoffRatio = 0.45f;

// 2^(t x 1042939.9375 / 2^23) from the bits of a float: the integer part lands in the exponent, the
// fraction in the mantissa, which a quadratic bends into 2^fraction.
f32 FastPow2(f32 t) {
    const i32 bits = static_cast<i32>(t * 1042939.9375f + 1065353216.0f);
    const u32 mantissaBits = (static_cast<u32>(bits) & 0x7FFFFFu) | 0x3F800000u;
    const u32 exponentBits = static_cast<u32>(bits) & 0xFF800000u;
    f32 m, e;
    memcpy(&m, &mantissaBits, sizeof(m));
    memcpy(&e, &exponentBits, sizeof(e));
    return ((m * 0.32518977f + 0.020805772f) * m + 0.65304345f) * e;
}

f32 Clamp100(f32 value) {
    return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 100.0f);
}

f32 Cutoff(f32 value, u16 samplesPerFrame, u8 mode) {
    value = Clamp100(value);
    if (mode) {
        const f32 frameRate = static_cast<f32>(g_OutputTiming.uSampleRate) /
                              static_cast<f32>(std::max<u16>(samplesPerFrame, 1));
        const f32 top = static_cast<f32>(static_cast<u32>(frameRate * 8.0f) & 0xFFFFu) * 0.5f;
        return top - (top - 1.0f) * 0.01f * value;
    }
    if (value < 30.0f) return (30.0f - value) * 433.33334f + 7000.0f;
    return 16.797443f * FastPow2(100.0f - value);
}

f32 LimitedRatio(f32 cutoff) {
    return std::min(cutoff / static_cast<f32>(g_OutputTiming.uSampleRate), kMaxCutoffRatio);
}

u32 Channels(const AuFilterSection& section, const AuPipelineBuffer& buffer) {
    return std::min<u32>(buffer.NumChannels(), section.uMemorySize / sizeof(AuBiquadMemory));
}

AuBiquadMemory* AllocMemory(u32 bytes) {
    auto* memory = static_cast<AuBiquadMemory*>(CAuLowerEngine::PluginAllocator().Malloc(bytes));
    if (memory) memset(memory, 0, bytes);
    return memory;
}

void FreeMemory(AuFilterSection& section) {
    if (section.pMemory) CAuLowerEngine::PluginAllocator().Free(section.pMemory);
    section.pMemory = nullptr;
    section.uMemorySize = 0;
}

} // namespace

CAuVoiceFilters::CAuVoiceFilters() {
    BiquadIdentity(m_lowPass.block);
    BiquadIdentity(m_highPass.block);
}

AURESULT CAuVoiceFilters::Init(AuChannelConfig config, u8 mode) {
    Term();
    m_config = config;
    m_uMode = mode;
    m_lowPassState = AuFilterState();
    m_highPassState = AuFilterState();
    const u32 bytes = config.NumChannels() * static_cast<u32>(sizeof(AuBiquadMemory));
    m_lowPass.pMemory = AllocMemory(bytes);
    m_highPass.pMemory = AllocMemory(bytes);
    if (!m_lowPass.pMemory || !m_highPass.pMemory) {
        Term();
        return AuResultFail;
    }
    m_lowPass.uMemorySize = m_highPass.uMemorySize = bytes;
    return AuResultSuccess;
}

void CAuVoiceFilters::Term() {
    FreeMemory(m_lowPass);
    FreeMemory(m_highPass);
}

void CAuVoiceFilters::Reset() noexcept {
    m_lowPassState.bFirst = m_highPassState.bFirst = 1;
    if (m_lowPass.pMemory) memset(m_lowPass.pMemory, 0, m_lowPass.uMemorySize);
    if (m_highPass.pMemory) memset(m_highPass.pMemory, 0, m_highPass.uMemorySize);
}

void CAuVoiceFilters::SetTarget(AuFilterState& state, f32 value) noexcept {
    value = Clamp100(value);
    if (value == state.fTarget) return;
    state.fTarget = value;
    state.bChanged = 1;
}

f32 CAuVoiceFilters::LowPassCutoff(f32 value, u16 samplesPerFrame, u8 mode) noexcept {
    return Cutoff(value, samplesPerFrame, mode);
}

f32 CAuVoiceFilters::HighPassCutoff(f32 value, u16 samplesPerFrame, u8 mode) noexcept {
    return Cutoff(100.0f - Clamp100(value), samplesPerFrame, mode);
}

void CAuVoiceFilters::LowPassCoefficients(AuBiquadBlock& block, f32 value, u8 mode) noexcept {
    const f32 ratio = LimitedRatio(LowPassCutoff(value, g_uNumSamplesPerFrame, mode));
    const f32 c = 1.0f / std::tan(kPi * ratio);
    const f32 n = 1.0f / (kSqrt2 * c + 1.0f + c * c);
    BiquadCoefficients(block, n, 2.0f * n, n, (1.0f - c * c) * 2.0f * n, (1.0f - kSqrt2 * c + c * c) * n);
}

void CAuVoiceFilters::HighPassCoefficients(AuBiquadBlock& block, f32 value, u8 mode) noexcept {
    // The same limit as the low-pass: at a 24 kHz output the curve reaches past half the rate.
    const f32 k = std::tan(kPi * LimitedRatio(HighPassCutoff(value, g_uNumSamplesPerFrame, mode)));
    const f32 n = 1.0f / (k * k + 1.0f + kSqrt2 * k);
    BiquadCoefficients(block, n, -2.0f * n, n, 2.0f * (k * k - 1.0f) * n, (k * k + 1.0f - kSqrt2 * k) * n);
}

void CAuVoiceFilters::Process(AuPipelineBuffer& buffer) noexcept {
    if (!buffer.pData || !buffer.uValidFrames) return;
    ProcessLowPass(buffer, m_lowPassState, m_lowPass, m_uMode);
    ProcessHighPass(buffer, m_highPassState, m_highPass, m_uMode);
}

void CAuVoiceFilters::ProcessLowPass(AuPipelineBuffer& buffer, AuFilterState& state, AuFilterSection& section,
                                     u8 mode) noexcept {
    ProcessFilter(buffer, state, section, mode, &LowPassCoefficients);
}

void CAuVoiceFilters::ProcessHighPass(AuPipelineBuffer& buffer, AuFilterState& state,
                                      AuFilterSection& section, u8 mode) noexcept {
    ProcessFilter(buffer, state, section, mode, &HighPassCoefficients);
}

void CAuVoiceFilters::ProcessFilter(AuPipelineBuffer& buffer, AuFilterState& state, AuFilterSection& section,
                                    u8 mode, void (*design)(AuBiquadBlock&, f32, u8) noexcept) noexcept {
    if (state.bChanged) {
        state.bChanged = 0;
        // A tail countdown belongs to the ramp that ended at 0; a new change must not inherit it.
        state.uCountdown = 0;
        if (state.bFirst) {
            state.bFirst = 0;
            state.uStep = AU_FILTER_RAMP_STEPS;
            state.fCurrent = state.fTarget;
            state.bBypassed = state.fTarget <= AU_FILTER_BYPASS_VALUE;
            if (!state.bBypassed) design(section.block, state.fTarget, mode);
        } else {
            state.bBypassed =
                state.fCurrent <= AU_FILTER_BYPASS_VALUE && state.fTarget <= AU_FILTER_BYPASS_VALUE;
            state.uStep = state.bBypassed ? AU_FILTER_RAMP_STEPS : 0;
        }
    }
    if (state.bBypassed || !buffer.pData || !section.pMemory) return;

    const u32 frames = buffer.uValidFrames;
    const u32 channels = Channels(section, buffer);
    if (state.uStep >= AU_FILTER_RAMP_STEPS) {
        for (u32 c = 0; c < channels; ++c)
            FilterChannel(section, buffer.GetChannel(c), frames, c);
        if (state.uCountdown >= 1 && --state.uCountdown == 0) state.bBypassed = 1;
        return;
    }

    const f32 start = state.fCurrent;
    const f32 delta = state.fTarget - start;
    u32 frame = 0;
    // A filter that was silent until now takes its memory from the signal itself, so that it does
    // not start from zeros with a step; a ramp that spans several calls primes only once.
    if (start <= AU_FILTER_BYPASS_VALUE && state.uStep == 0) {
        if (frames < 2) return;
        for (u32 c = 0; c < channels; ++c) {
            const f32* s = buffer.GetChannel(c);
            section.pMemory[c] = {s[1], s[0], s[1], s[0]};
        }
        frame = 2;
    }
    const u32 subBlock = std::max<u32>(g_OutputTiming.uRateFactor, 1);
    while (frame < frames) {
        const u32 length = std::min(subBlock, frames - frame);
        if (state.uStep < AU_FILTER_RAMP_STEPS) {
            ++state.uStep;
            design(section.block, start + delta * static_cast<f32>(state.uStep) * 0.125f, mode);
        }
        for (u32 c = 0; c < channels; ++c)
            FilterChannel(section, buffer.GetChannel(c) + frame, length, c);
        frame += length;
    }
    if (state.uStep >= AU_FILTER_RAMP_STEPS) {
        state.fCurrent = state.fTarget;
        if (state.fCurrent <= AU_FILTER_BYPASS_VALUE) state.uCountdown = AU_FILTER_TAIL_CALLS;
    }
}
