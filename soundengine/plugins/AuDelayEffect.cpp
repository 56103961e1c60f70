#include "plugins/AuDelayEffect.h"

#include "parameters/AuFastMath.h"

#include <AU/AuEffectPlugins.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <xmmintrin.h>

namespace {

// Feedback at or above this many dB rings for the cap of one hundred repetitions.
constexpr f64 kLoudestCountedFeedbackDb = -0.6;
constexpr f64 kMaxRepetitions = 100.0;

} // namespace

AU::IAuPluginParam* CreateFx106Params(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<CAuDelayEffectParams>(allocator);
}

AU::IAuPlugin* CreateFx106(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<CAuDelayEffect>(allocator);
}

void CAuDelayEffectParams::SetDefaults() {
    m_fDelayTime = 0.5f;
    m_fFeedback = 0.0f;
    m_fWetDryMix = 0.5f;
    m_fOutputGain = 1.0f;
    m_bFeedbackEnabled = false;
    m_bProcessLFE = true;
}

AURESULT CAuDelayEffectParams::SetParam(u16 id, const void* value, u32) noexcept {
    if (!value) return AuResultInvalidParameter;
    if (id == ProcessLFE) {
        // A switch passed by its first byte only.
        m_bProcessLFE = AuParamByte(value);
        m_bDelayLineChanged = true;
        return AuResultSuccess;
    }
    if (id > FeedbackEnabled) return AuResultInvalidParameter;
    const f32 number = AuParamF32(value);
    if (!std::isfinite(number)) return AuResultInvalidParameter;
    switch (id) {
    case DelayTime:
        m_fDelayTime = number;
        m_bDelayLineChanged = true;
        break;
    case Feedback:
        m_fFeedback = number * 0.01f;
        m_bFeedbackChanged = true;
        break;
    case WetDryMix:
        m_fWetDryMix = number * 0.01f;
        break;
    case OutputLevel:
        m_fOutputGain = AuDbToLinear(number);
        break;
    default: // FeedbackEnabled
        m_bFeedbackEnabled = number != 0.0f;
        m_bFeedbackChanged = true;
        break;
    }
    return AuResultSuccess;
}

AU::IAuPluginParam* CAuDelayEffectParams::Clone(AU::IAuPluginMemAlloc* allocator) noexcept {
    auto* copy = AuPluginNew<CAuDelayEffectParams>(allocator);
    if (!copy) return nullptr;
    *copy = *this;
    copy->m_bFeedbackChanged = copy->m_bDelayLineChanged = true;
    return copy;
}

AURESULT CAuDelayEffectParams::Init(AU::IAuPluginMemAlloc*, const void* block, u32 size) noexcept {
    if (size == 0) {
        SetDefaults();
        return AuResultSuccess;
    }
    return SetParamsBlock(block, size);
}

AURESULT CAuDelayEffectParams::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

AURESULT CAuDelayEffectParams::SetParamsBlock(const void* bytes, u32 size) noexcept {
    AuDelayBlock block;
    if (!AuReadBlock(bytes, size, block)) return AuResultFail;
    // A number that is not finite keeps the value held before.
    m_fDelayTime = AuFiniteOr(block.fDelayTime, m_fDelayTime);
    m_fFeedback = AuFiniteOr(block.fFeedback * 0.01f, m_fFeedback);
    m_fWetDryMix = AuFiniteOr(block.fWetDryMix * 0.01f, m_fWetDryMix);
    if (std::isfinite(block.fOutputLevel)) m_fOutputGain = AuDbToLinear(block.fOutputLevel);
    m_bFeedbackEnabled = block.uFeedbackEnabled != 0;
    m_bProcessLFE = block.uProcessLFE != 0;
    m_bFeedbackChanged = m_bDelayLineChanged = true;
    return AuResultSuccess;
}

f32 CAuDelayEffect::EffectiveFeedback() const noexcept {
    return m_pParams->m_bFeedbackEnabled ? m_pParams->m_fFeedback : 0.0f;
}

f32 CAuDelayEffect::EffectiveWetDryMix() const noexcept {
    return m_lines.bSendMode ? 1.0f : m_pParams->m_fWetDryMix;
}

AURESULT CAuDelayEffect::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    FreeLines();
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

AURESULT CAuDelayEffect::Reset() noexcept {
    for (u32 c = 0; c < m_lines.uNumLines; ++c)
        if (m_lines.ppLines[c]) memset(m_lines.ppLines[c], 0, m_lines.uLength * sizeof(f32));
    m_lines.uWritePos = 0;
    return AuResultSuccess;
}

AURESULT CAuDelayEffect::GetPluginInfo(AuPluginInfo& info) noexcept {
    info = {AuPluginTypeEffect, true, false};
    return AuResultSuccess;
}

AURESULT CAuDelayEffect::Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                              AU::IAuPluginParam* params, AuPluginFormat& format) noexcept {
    m_pAllocator = allocator;
    m_pParams = static_cast<CAuDelayEffectParams*>(params);
    m_lines.bSendMode = context && context->IsSendModeEffect();
    m_lines.fPrevFeedback = EffectiveFeedback();
    m_lines.fPrevWetDryMix = EffectiveWetDryMix();
    m_lines.fPrevOutputGain = m_pParams->m_fOutputGain;
    m_lines.uSampleRate = format.uSampleRate;
    const AURESULT result = AllocLines(format.channelConfig);
    ComputeTailLength();
    m_pParams->m_bFeedbackChanged = m_pParams->m_bDelayLineChanged = false;
    return result;
}

void CAuDelayEffect::FreeLines() noexcept {
    if (m_lines.ppLines) {
        for (u32 c = 0; c < m_lines.uNumLines; ++c)
            if (m_lines.ppLines[c]) m_pAllocator->Free(m_lines.ppLines[c]);
        m_pAllocator->Free(m_lines.ppLines);
    }
    m_lines.ppLines = nullptr;
    m_lines.uNumLines = 0;
    m_lines.uLength = 0;
}

AURESULT CAuDelayEffect::AllocLines(AuChannelConfig config) noexcept {
    FreeLines();
    u32 processed = config.NumChannels();
    if (config.HasLFE() && !m_pParams->m_bProcessLFE && processed > 0) --processed;
    m_lines.uNumProcessed = processed;
    m_lines.uWritePos = 0;
    if (processed == 0) return AuResultFail;
    m_lines.uLength = AuRoundUp4(AuDelaySamples(m_pParams->m_fDelayTime, m_lines.uSampleRate));
    // Shorter than one sample: the buffer passes with no line.
    if (m_lines.uLength == 0) return AuResultSuccess;
    m_lines.ppLines = static_cast<f32**>(m_pAllocator->Malloc(processed * sizeof(f32*)));
    if (!m_lines.ppLines) return AuResultNoMemory;
    memset(m_lines.ppLines, 0, processed * sizeof(f32*));
    m_lines.uNumLines = processed;
    for (u32 c = 0; c < processed; ++c) {
        m_lines.ppLines[c] = static_cast<f32*>(m_pAllocator->Malloc(size_t{m_lines.uLength} * sizeof(f32)));
        if (!m_lines.ppLines[c]) return AuResultNoMemory;
    }
    return AuResultSuccess;
}

void CAuDelayEffect::ComputeTailLength() noexcept {
    const f64 length = m_lines.uLength;
    const f32 feedback = EffectiveFeedback();
    f64 tail = length;
    if (feedback != 0.0f) {
        // Frames until the echoes fall by 60 dB, at most one hundred repetitions. A negative
        // feedback has no logarithm and takes the cap.
        const f64 feedbackDb = 20.0 * std::log10(f64(feedback));
        tail =
            feedbackDb < kLoudestCountedFeedbackDb ? length * (-60.0 / feedbackDb) : length * kMaxRepetitions;
    }
    m_lines.uTailLength = u32(std::min(tail, 4294967294.0));
}

void CAuDelayEffect::Execute(AuPipelineBuffer& buffer) noexcept {
    if (m_pParams->m_bDelayLineChanged) {
        if (AllocLines(buffer.channelConfig) != AuResultSuccess) return;
        Reset();
        m_pParams->m_bDelayLineChanged = false;
    }
    if (m_pParams->m_bFeedbackChanged) {
        ComputeTailLength();
        m_pParams->m_bFeedbackChanged = false;
    }
    m_lines.tail.Process(buffer, m_lines.uTailLength);

    const f32 feedback = EffectiveFeedback();
    const f32 wet = EffectiveWetDryMix();
    const f32 gain = m_pParams->m_fOutputGain;
    const u32 frames = buffer.uValidFrames;
    if (frames > 0 && m_lines.uLength > 0 && buffer.pData) {
        const f32 feedbackStep = (feedback - m_lines.fPrevFeedback) / f32(frames);
        const f32 wetStep = (wet - m_lines.fPrevWetDryMix) / f32(frames);
        const f32 gainStep = (gain - m_lines.fPrevOutputGain) / f32(frames);
        const __m128 kLanes = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 prevFeedback = _mm_set1_ps(m_lines.fPrevFeedback);
        const __m128 prevWet = _mm_set1_ps(m_lines.fPrevWetDryMix);
        const __m128 prevGain = _mm_set1_ps(m_lines.fPrevOutputGain);
        const __m128 vFeedbackStep = _mm_set1_ps(feedbackStep);
        const __m128 vWetStep = _mm_set1_ps(wetStep);
        const __m128 vGainStep = _mm_set1_ps(gainStep);
        const u32 length = m_lines.uLength;
        const u32 channels = std::min(m_lines.uNumLines, buffer.NumChannels());
        u32 pos = m_lines.uWritePos;
        for (u32 c = 0; c < channels; ++c) {
            f32* samples = buffer.GetChannel(c);
            f32* line = m_lines.ppLines[c];
            pos = m_lines.uWritePos;
            u32 i = 0;
            while (i < frames) {
                const u32 run = std::min(frames - i, length - pos);
                u32 k = 0;
                // Four frames per step; each lane computes what the one-frame loop below does.
                for (; k + 4 <= run; k += 4) {
                    const __m128 index = _mm_add_ps(_mm_set1_ps(f32(i + k)), kLanes);
                    const __m128 f = _mm_add_ps(prevFeedback, _mm_mul_ps(vFeedbackStep, index));
                    const __m128 w = _mm_add_ps(prevWet, _mm_mul_ps(vWetStep, index));
                    const __m128 g = _mm_add_ps(prevGain, _mm_mul_ps(vGainStep, index));
                    const __m128 x = _mm_loadu_ps(samples + i + k);
                    const __m128 d = _mm_loadu_ps(line + pos + k);
                    const __m128 mixed = _mm_add_ps(_mm_mul_ps(x, _mm_sub_ps(one, w)), _mm_mul_ps(d, w));
                    _mm_storeu_ps(samples + i + k, _mm_mul_ps(mixed, g));
                    _mm_storeu_ps(line + pos + k, _mm_add_ps(x, _mm_mul_ps(d, f)));
                }
                for (; k < run; ++k) {
                    const f32 index = f32(i + k);
                    const f32 f = m_lines.fPrevFeedback + feedbackStep * index;
                    const f32 w = m_lines.fPrevWetDryMix + wetStep * index;
                    const f32 g = m_lines.fPrevOutputGain + gainStep * index;
                    const f32 x = samples[i + k];
                    const f32 d = line[pos + k];
                    samples[i + k] = (x * (1.0f - w) + d * w) * g;
                    line[pos + k] = x + d * f;
                }
                i += run;
                pos += run;
                if (pos == length) pos = 0;
            }
        }
        m_lines.uWritePos = pos;
    }
    // No dry signal may pass a send, and an unprocessed LFE would be one.
    if (frames > 0 && buffer.pData && buffer.channelConfig.HasLFE() && m_lines.bSendMode &&
        !m_pParams->m_bProcessLFE)
        memset(buffer.GetLFE(), 0, frames * sizeof(f32));
    m_lines.fPrevFeedback = feedback;
    m_lines.fPrevWetDryMix = wet;
    m_lines.fPrevOutputGain = gain;
}

AURESULT CAuDelayEffect::TimeSkip(u32) noexcept {
    return AuResultDataReady;
}
