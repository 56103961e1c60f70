#include "plugins/AuStereoDelayEffect.h"

#include "parameters/AuFastMath.h"

#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr f32 kHalfPower = 0.707f;
// Feedback at or above this many dB is counted as this, so that the tail stays finite.
constexpr f64 kLoudestCountedDb = -0.1;
constexpr f64 kMaxTailSeconds = 60.0;

using Params = CAuStereoDelayEffectParams;

// dst[i] = dst[i] x dry + src[i] x wet, both gains gliding from their first to their last value.
void MixGlide(f32* dst, const f32* src, u32 frames, f32 dryFrom, f32 dryTo, f32 wetFrom, f32 wetTo) noexcept {
    const f32 dryStep = (dryTo - dryFrom) / f32(frames);
    const f32 wetStep = (wetTo - wetFrom) / f32(frames);
    for (u32 i = 0; i < frames; ++i)
        dst[i] = dst[i] * (dryFrom + dryStep * f32(i)) + src[i] * (wetFrom + wetStep * f32(i));
}

void ScaleGlide(f32* samples, u32 frames, f32 from, f32 to) noexcept {
    if (from == to) {
        if (from == 1.0f) return;
        for (u32 i = 0; i < frames; ++i)
            samples[i] *= from;
        return;
    }
    const f32 step = (to - from) / f32(frames);
    for (u32 i = 0; i < frames; ++i)
        samples[i] *= from + step * f32(i);
}

// The (front, rear) gains of a balance from -100 (all front) to 100 (all rear).
void BalanceGains(f32 balance, f32& front, f32& rear) noexcept {
    const f32 a = std::clamp((balance + 100.0f) * 0.005f, 0.0f, 1.0f);
    rear = std::sqrt(a);
    front = std::sqrt(1.0f - a);
}

f64 TailFactor(f64 gain) {
    return -60.0 / std::min(20.0 * std::log10(gain), kLoudestCountedDb);
}

} // namespace

AU::IAuPluginParam* CreateFx135Params(AU::IAuPluginMemAlloc* allocator) {
    // The defaults are the record's own.
    return AuPluginNew<CAuStereoDelayEffectParams>(allocator);
}

AU::IAuPlugin* CreateFx135(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<CAuStereoDelayEffect>(allocator);
}

AURESULT CAuStereoDelayEffectParams::SetParam(u16 id, const void* value, u32) noexcept {
    if (!value || id >= NumParams) return AuResultInvalidParameter;
    AuStereoDelayValues& v = m_values;
    if (id == LeftInput || id == RightInput) {
        (id == LeftInput ? v.uLeftInput : v.uRightInput) = AuParamU32(value);
        Raise(id);
        return AuResultSuccess;
    }
    const f32 x = AuParamF32(value);
    if (!std::isfinite(x)) return AuResultInvalidParameter;
    switch (id) {
    case CrossFeedbackEnabled:
        v.bCrossFeedbackEnabled = x != 0.0f;
        break;
    case FeedbackEnabled:
        v.bFeedbackEnabled = x != 0.0f;
        break;
    case DryLevel:
        v.fDryLevel = AuDbToLinear(x);
        break;
    case WetLevel:
        v.fWetLevel = AuDbToLinear(x);
        break;
    case Balance:
        v.fBalance = x;
        break;
    // Kept within what an i32 holds; every type past 7 designs a pass-through.
    case FilterType:
        v.iFilterType = i32(std::clamp(x, -1.0f, 8.0f));
        break;
    case FilterGain:
        v.fFilterGain = x;
        break;
    case FilterFrequency:
        v.fFilterFrequency = x;
        break;
    case FilterQ:
        v.fFilterQ = x;
        break;
    case LeftDelayTime:
        v.fLeftDelayTime = x;
        break;
    case LeftFeedback:
        v.fLeftFeedback = AuDbToLinear(x);
        break;
    case LeftToRight:
        v.fLeftToRight = AuDbToLinear(x);
        break;
    case RightDelayTime:
        v.fRightDelayTime = x;
        break;
    case RightFeedback:
        v.fRightFeedback = AuDbToLinear(x);
        break;
    default:
        v.fRightToLeft = AuDbToLinear(x);
        break; // RightToLeft
    }
    Raise(id);
    return AuResultSuccess;
}

AU::IAuPluginParam* CAuStereoDelayEffectParams::Clone(AU::IAuPluginMemAlloc* allocator) noexcept {
    auto* copy = AuPluginNew<CAuStereoDelayEffectParams>(allocator);
    if (!copy) return nullptr;
    copy->m_values = m_values;
    copy->RaiseAll();
    return copy;
}

AURESULT CAuStereoDelayEffectParams::Init(AU::IAuPluginMemAlloc*, const void* block, u32 size) noexcept {
    return size == 0 ? AuResultSuccess : SetParamsBlock(block, size);
}

AURESULT CAuStereoDelayEffectParams::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

AURESULT CAuStereoDelayEffectParams::SetParamsBlock(const void* bytes, u32 size) noexcept {
    AuStereoDelayBlock b;
    if (!AuReadBlock(bytes, size, b)) return AuResultFail;
    AuStereoDelayValues& v = m_values;
    // A number that is not finite keeps the value held before.
    const auto gain = [](f32 dB, f32 held) { return std::isfinite(dB) ? AuDbToLinear(dB) : held; };
    v.uLeftInput = b.uLeftInput;
    v.fLeftDelayTime = AuFiniteOr(b.fLeftDelayTime, v.fLeftDelayTime);
    v.fLeftFeedback = gain(b.fLeftFeedback, v.fLeftFeedback);
    v.fLeftToRight = gain(b.fLeftToRightFeedback, v.fLeftToRight);
    v.uRightInput = b.uRightInput;
    v.fRightDelayTime = AuFiniteOr(b.fRightDelayTime, v.fRightDelayTime);
    v.fRightFeedback = gain(b.fRightFeedback, v.fRightFeedback);
    v.fRightToLeft = gain(b.fRightToLeftFeedback, v.fRightToLeft);
    v.iFilterType = std::clamp(b.iFilterType, -1, 8);
    v.fFilterGain = AuFiniteOr(b.fFilterGain, v.fFilterGain);
    v.fFilterFrequency = AuFiniteOr(b.fFilterFrequency, v.fFilterFrequency);
    v.fFilterQ = AuFiniteOr(b.fFilterQ, v.fFilterQ);
    v.fDryLevel = gain(b.fDryLevel, v.fDryLevel);
    v.fWetLevel = gain(b.fWetLevel, v.fWetLevel);
    v.fBalance = AuFiniteOr(b.fBalance, v.fBalance);
    v.bFeedbackEnabled = b.uFeedbackEnabled != 0;
    v.bCrossFeedbackEnabled = b.uCrossFeedbackEnabled != 0;
    RaiseAll();
    return AuResultSuccess;
}

AURESULT CAuStereoDelayEffect::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    for (AuStereoDelayUnit& unit : m_units)
        FreeUnitLines(unit);
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

void CAuStereoDelayEffect::ClearUnit(AuStereoDelayUnit& unit) noexcept {
    for (AuStereoDelayLine* line : {&unit.left, &unit.right}) {
        if (line->pBuffer) memset(line->pBuffer, 0, size_t{line->uLength} * sizeof(f32));
        line->uPos = 0;
    }
    unit.leftFilter.Clear();
    unit.rightFilter.Clear();
}

AURESULT CAuStereoDelayEffect::Reset() noexcept {
    for (AuStereoDelayUnit& unit : m_units)
        ClearUnit(unit);
    return AuResultSuccess;
}

AURESULT CAuStereoDelayEffect::GetPluginInfo(AuPluginInfo& info) noexcept {
    info = {AuPluginTypeEffect, true, false};
    return AuResultSuccess;
}

void CAuStereoDelayEffect::BuildWorkingCopy() noexcept {
    m_current = m_pParams->m_values;
    if (m_bSendMode) m_current.fDryLevel = 0.0f;
    if (!m_current.bFeedbackEnabled) m_current.fLeftFeedback = m_current.fRightFeedback = 0.0f;
    if (!m_current.bCrossFeedbackEnabled) m_current.fLeftToRight = m_current.fRightToLeft = 0.0f;
    // A whole buffer is read from a line before it is written.
    const f32 oneBuffer = m_uSampleRate ? f32(m_uMaxFrames) / f32(m_uSampleRate) : 0.0f;
    const auto bound = [&](f32 t) { return std::clamp(t, oneBuffer, AU_EFFECT_MAX_DELAY_SECONDS); };
    m_current.fLeftDelayTime = bound(m_current.fLeftDelayTime);
    m_current.fRightDelayTime = bound(m_current.fRightDelayTime);
}

void CAuStereoDelayEffect::ComputeTailLength() noexcept {
    const AuStereoDelayValues& v = m_current;
    const f64 longer = std::max(v.fLeftDelayTime, v.fRightDelayTime);
    f64 t = longer;
    if (v.bFeedbackEnabled) {
        t = std::max(TailFactor(v.fLeftFeedback) * v.fLeftDelayTime,
                     TailFactor(v.fRightFeedback) * v.fRightDelayTime);
        // Feedback below -60 dB still leaves the first echo to be heard out.
        t = std::max(t, longer);
    }
    if (v.bCrossFeedbackEnabled) {
        const f64 both = f64(v.fLeftDelayTime) + v.fRightDelayTime;
        t += both * (v.bFeedbackEnabled ? 2.0 : 1.0) * TailFactor(f64(v.fLeftToRight) * v.fRightToLeft);
    }
    m_uTailLength = u32(f64(m_uSampleRate) * std::min(t, kMaxTailSeconds));
}

void CAuStereoDelayEffect::FreeUnitLines(AuStereoDelayUnit& unit) noexcept {
    for (AuStereoDelayLine* line : {&unit.left, &unit.right}) {
        if (line->pBuffer) m_pAllocator->Free(line->pBuffer);
        *line = {};
    }
}

AURESULT CAuStereoDelayEffect::AllocUnitLines(AuStereoDelayUnit& unit) noexcept {
    FreeUnitLines(unit);
    unit.uSampleRate = m_uSampleRate;
    const u32 atLeast = AuRoundUp4(std::max(m_uMaxFrames, 4u));
    for (auto [line, seconds] : {std::pair{&unit.left, m_current.fLeftDelayTime},
                                 std::pair{&unit.right, m_current.fRightDelayTime}}) {
        const u32 length = std::max(AuRoundUp4(AuDelaySamples(seconds, m_uSampleRate)), atLeast);
        line->pBuffer = static_cast<f32*>(m_pAllocator->Malloc(size_t{length} * sizeof(f32)));
        if (!line->pBuffer) return AuResultNoMemory;
        line->uLength = length;
    }
    return AuResultSuccess;
}

AURESULT CAuStereoDelayEffect::Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                                    AU::IAuPluginParam* params, AuPluginFormat& format) noexcept {
    m_pParams = static_cast<CAuStereoDelayEffectParams*>(params);
    m_pAllocator = allocator;
    m_uSampleRate = format.uSampleRate;
    m_bSendMode = context && context->IsSendModeEffect();
    m_uMaxFrames = context ? context->GetMaxBufferLength() & 0xFFFFu : 0;
    BuildWorkingCopy();
    m_previous = m_current;
    m_bFilterChanged = true;
    for (AuStereoDelayUnit& unit : m_units) {
        const AURESULT result = AllocUnitLines(unit);
        if (result != AuResultSuccess) return result;
    }
    // Without a bank block no change bit would ever ask for it.
    ComputeTailLength();
    m_pParams->Lower(Params::LeftDelayTime);
    m_pParams->Lower(Params::RightDelayTime);
    return AuResultSuccess;
}

void CAuStereoDelayEffect::Execute(AuPipelineBuffer& buffer) noexcept {
    BuildWorkingCopy();
    const Params& p = *m_pParams;
    if (p.Changed(Params::CrossFeedbackEnabled) || p.Changed(Params::FeedbackEnabled) ||
        p.Changed(Params::LeftDelayTime) || p.Changed(Params::LeftFeedback) ||
        p.Changed(Params::LeftToRight) || p.Changed(Params::RightDelayTime) ||
        p.Changed(Params::RightFeedback) || p.Changed(Params::RightToLeft))
        ComputeTailLength();
    if (p.Changed(Params::LeftDelayTime) || p.Changed(Params::RightDelayTime)) {
        for (AuStereoDelayUnit& unit : m_units) {
            if (AllocUnitLines(unit) != AuResultSuccess) return;
            ClearUnit(unit);
        }
    }
    m_bFilterChanged = m_bFilterChanged || p.Changed(Params::FilterType) || p.Changed(Params::FilterGain) ||
                       p.Changed(Params::FilterFrequency) || p.Changed(Params::FilterQ);
    m_pParams->LowerAll();

    const size_t workBytes = 4 * size_t{buffer.uMaxFrames} * sizeof(f32);
    auto* work = static_cast<f32*>(m_pAllocator->Malloc(workBytes));
    if (!work) return;
    Process(buffer, work);
    m_pAllocator->Free(work);
}

void CAuStereoDelayEffect::Process(AuPipelineBuffer& buffer, f32* work) noexcept {
    m_tail.Process(buffer, m_uTailLength);
    const u32 n = buffer.uValidFrames;
    const AuChannelConfig config = buffer.channelConfig;
    if (n == 0 || !buffer.pData) return;
    if (config.HasLFE() && m_bSendMode) memset(buffer.GetLFE(), 0, n * sizeof(f32));
    const u32 mask = config.ChannelMask() & ~AU_SPEAKER_LOW_FREQUENCY;
    if (mask == 0) return;

    // Every unit at once, so that a rear pair that did not run meanwhile is not left behind.
    if (m_bFilterChanged && m_current.iFilterType != 0) {
        for (AuStereoDelayUnit& unit : m_units) {
            DesignEffectFilter(unit.leftFilter, u32(m_current.iFilterType - 1), f32(unit.uSampleRate),
                               m_current.fFilterFrequency, m_current.fFilterGain, m_current.fFilterQ);
            unit.rightFilter.coefficients = unit.leftFilter.coefficients;
        }
    }
    m_bFilterChanged = false;

    const u32 maxFrames = buffer.uMaxFrames;
    f32* in0 = work;
    f32* in1 = work + maxFrames;
    f32* out0 = work + 2 * maxFrames;
    f32* out1 = work + 3 * maxFrames;
    const bool hasLeft = mask & AU_SPEAKER_FRONT_LEFT;
    const bool hasRight = mask & AU_SPEAKER_FRONT_RIGHT;
    const bool hasCenter = mask & AU_SPEAKER_FRONT_CENTER;
    const u32 numChannels = config.WithoutLFE().NumChannels();
    f32* first = buffer.GetChannel(0);
    f32* second = numChannels > 1 ? buffer.GetChannel(1) : first;
    f32* center = hasCenter ? buffer.GetChannel(u32(hasLeft) + u32(hasRight)) : nullptr;

    const auto feed = [&](f32* dst, f32* own, bool ownPresent, u32 mode, f32* fallback) {
        switch (mode) {
        case AuStereoDelayInputOwn:
            memcpy(dst, ownPresent ? own : fallback, n * sizeof(f32));
            break;
        case AuStereoDelayInputCenter:
            memcpy(dst, ownPresent && center ? center : own, n * sizeof(f32));
            break;
        case AuStereoDelayInputOwnAndCenter:
            if (ownPresent && center) {
                for (u32 i = 0; i < n; ++i)
                    dst[i] = (own[i] + center[i]) * kHalfPower;
            } else {
                memcpy(dst, ownPresent ? own : fallback, n * sizeof(f32));
            }
            break;
        default: // no input, also for modes past the table
            memset(dst, 0, n * sizeof(f32));
            break;
        }
    };
    feed(in0, first, hasLeft, m_current.uLeftInput, first);
    feed(in1, second, hasRight, m_current.uRightInput, first);
    RunUnit(m_units[0], in0, in1, out0, out1, n);

    const bool hasBack = mask & (AU_SPEAKER_BACK_LEFT | AU_SPEAKER_BACK_RIGHT);
    const bool hasSide = mask & (AU_SPEAKER_SIDE_LEFT | AU_SPEAKER_SIDE_RIGHT);
    f32 front = 1.0f, rear = 0.0f, prevFront = 1.0f, prevRear = 0.0f;
    if (hasBack || hasSide) {
        BalanceGains(m_current.fBalance, front, rear);
        BalanceGains(m_previous.fBalance, prevFront, prevRear);
    }
    const f32 dry = m_current.fDryLevel, prevDry = m_previous.fDryLevel;
    const f32 wet = m_current.fWetLevel, prevWet = m_previous.fWetLevel;
    if (mask == AU_SPEAKER_FRONT_CENTER) {
        for (u32 i = 0; i < n; ++i)
            out0[i] += out1[i];
        MixGlide(first, out0, n, prevDry, dry, prevWet, wet);
    } else if (hasLeft) {
        MixGlide(first, out0, n, prevDry, dry, prevWet * prevFront, wet * front);
        if (hasRight && numChannels > 1)
            MixGlide(second, out1, n, prevDry, dry, prevWet * prevFront, wet * front);
    }

    // Rear pairs follow the front channels: back first, then side.
    u32 rearChannel = u32(hasLeft) + u32(hasRight) + u32(hasCenter);
    const u32 numRearPairs = u32(hasBack) + u32(hasSide);
    for (u32 pair = 0; pair < numRearPairs && rearChannel + 1 < numChannels; ++pair, rearChannel += 2) {
        f32* rearLeft = buffer.GetChannel(rearChannel);
        f32* rearRight = buffer.GetChannel(rearChannel + 1);
        const auto rearFeed = [&](f32* dst, const f32* own, u32 mode) {
            if (mode == AuStereoDelayInputOwn || mode == AuStereoDelayInputOwnAndCenter)
                memcpy(dst, own, n * sizeof(f32));
            else
                memset(dst, 0, n * sizeof(f32));
        };
        rearFeed(in0, rearLeft, m_current.uLeftInput);
        rearFeed(in1, rearRight, m_current.uRightInput);
        RunUnit(m_units[1 + pair], in0, in1, out0, out1, n);
        MixGlide(rearLeft, out0, n, prevDry, dry, prevWet * prevRear, wet * rear);
        MixGlide(rearRight, out1, n, prevDry, dry, prevWet * prevRear, wet * rear);
    }

    if (center && mask != AU_SPEAKER_FRONT_CENTER) ScaleGlide(center, n, prevDry, dry);
    if (config.HasLFE()) ScaleGlide(buffer.GetLFE(), n, prevDry, dry);
    m_previous = m_current;
}

void CAuStereoDelayEffect::RunUnit(AuStereoDelayUnit& unit, f32* in0, f32* in1, f32* out0, f32* out1,
                                   u32 frames) noexcept {
    const AuStereoDelayValues& cur = m_current;
    const AuStereoDelayValues& prev = m_previous;
    const f32 nf = f32(frames);
    const f32 lfbStep = (cur.fLeftFeedback - prev.fLeftFeedback) / nf;
    const f32 rfbStep = (cur.fRightFeedback - prev.fRightFeedback) / nf;
    const f32 lrStep = (cur.fLeftToRight - prev.fLeftToRight) / nf;
    const f32 rlStep = (cur.fRightToLeft - prev.fRightToLeft) / nf;
    AuStereoDelayLine& L = unit.left;
    AuStereoDelayLine& R = unit.right;
    u32 posL = L.uPos, posR = R.uPos;
    for (u32 i = 0; i < frames; ++i) {
        const f32 fi = f32(i);
        const f32 dl = L.pBuffer[posL];
        const f32 dr = R.pBuffer[posR];
        in0[i] += dl * (prev.fLeftFeedback + lfbStep * fi) + dr * (prev.fRightToLeft + rlStep * fi);
        in1[i] += dr * (prev.fRightFeedback + rfbStep * fi) + dl * (prev.fLeftToRight + lrStep * fi);
        out0[i] = dl;
        out1[i] = dr;
        if (++posL == L.uLength) posL = 0;
        if (++posR == R.uLength) posR = 0;
    }
    if (cur.iFilterType != 0) {
        ProcessEffectFilter(unit.leftFilter, in0, frames);
        ProcessEffectFilter(unit.rightFilter, in1, frames);
    }
    for (auto [line, in] : {std::pair{&L, in0}, std::pair{&R, in1}}) {
        u32 pos = line->uPos;
        for (u32 i = 0; i < frames;) {
            const u32 run = std::min(frames - i, line->uLength - pos);
            memcpy(line->pBuffer + pos, in + i, run * sizeof(f32));
            i += run;
            pos += run;
            if (pos == line->uLength) pos = 0;
        }
        line->uPos = pos;
    }
}

AURESULT CAuStereoDelayEffect::TimeSkip(u32) noexcept {
    return AuResultDataReady;
}
