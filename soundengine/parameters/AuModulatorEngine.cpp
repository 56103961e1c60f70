#include "parameters/AuModulatorEngine.h"

#include "core/AuOutputTiming.h"
#include "parameters/AuModulator.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr f32 kTwoPi = 6.2831853f;
constexpr f32 kPi = 3.14159265f;
constexpr f32 kHalfPi = 1.57079633f;
// A step of 0 would never reach a breakpoint.
constexpr f32 kMinStep = 1e-8f;

f32 Wrap(f32 phase, f32 period) {
    if (phase >= period || phase < 0.0f) {
        phase = std::fmod(phase, period);
        if (phase < 0.0f) phase += period;
        if (phase >= period) phase = 0.0f;
    }
    return phase;
}

f32 Clamp01(f32 v) {
    return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

u32 Saturate(u64 samples) {
    return samples > AU_MODULATOR_MAX_SAMPLES ? AU_MODULATOR_MAX_SAMPLES : static_cast<u32>(samples);
}

} // namespace

u32 AuModulatorSamples(f32 seconds) {
    if (!(seconds > 0.0f)) return 0;
    const f64 samples = std::floor(f64(seconds) * g_OutputTiming.uSampleRate + 0.5);
    return samples >= f64(AU_MODULATOR_MAX_SAMPLES) ? AU_MODULATOR_MAX_SAMPLES : static_cast<u32>(samples);
}

f32 AuLfoSinePolynomial(f32 x) {
    const f32 x2 = x * x;
    return x * (0.9999966f + x2 * (-0.16664828f + x2 * (0.008306325f - 0.00018363654f * x2)));
}

f32 AuLfoOscillator::Period() const {
    return waveform == AuLfoWaveform_Sine ? kTwoPi : 1.0f;
}

void AuLfoOscillator::SetFrequency(f32 frequency) {
    step = frequency / AU_MODULATOR_RATE * (waveform == AuLfoWaveform_Sine ? kTwoPi : 1.0f);
}

void AuLfoOscillator::SetWaveform(u32 newWaveform) {
    const bool wasSine = waveform == AuLfoWaveform_Sine;
    const bool isSine = newWaveform == AuLfoWaveform_Sine;
    if (wasSine != isSine) {
        const f32 factor = isSine ? kTwoPi : 1.0f / kTwoPi;
        phase *= factor;
        step *= factor;
    }
    waveform = newWaveform;
}

void AuLfoOscillator::SetInitialPhase(f32 degrees) {
    degrees = std::clamp(degrees, -180.0f, 180.0f);
    f32 start = Period() * degrees / 360.0f;
    if (waveform == AuLfoWaveform_Triangle) start += 0.25f;
    if (waveform == AuLfoWaveform_RisingSaw) start += 0.5f;
    phase = Wrap(start, Period());
}

void AuLfoOscillator::SetSmoothing(f32 smoothing, f32 frequency) {
    if (smoothing == 0.0f) {
        b0 = 1.0f;
        a1 = 0.0f;
        return;
    }
    const f64 nyquist = AU_MODULATOR_RATE * 0.5;
    const f64 fc = nyquist * std::pow(std::max(0.0, f64(frequency)) / nyquist, f64(smoothing));
    const f64 c = 2.0 - std::cos(2.0 * 3.14159265358979 * fc / AU_MODULATOR_RATE);
    a1 = static_cast<f32>(std::sqrt(c * c - 1.0) - c);
    b0 = 1.0f + a1;
}

namespace {

// One loop per waveform, so that the shape's test stays out of the per-sample work. `Shape`
// maps (phase, amplitude, state y) to the sample and the new y.
template <class Shape>
void RunLfo(AuLfoOscillator& osc, f32* out, u32 count, f32 amplitude, f32 amplitudeStep, Shape shape) {
    const f32 period = osc.Period();
    const f32 step = std::max(osc.step, kMinStep);
    f32 p = osc.phase;
    f32 y = osc.y;
    f32 a = amplitude;
    for (u32 i = 0; i < count; ++i) {
        a += amplitudeStep;
        p += step;
        if (p >= period) p = Wrap(p - period, period);
        out[i] = shape(p, a, y);
    }
    // A still oscillator keeps its state.
    if (osc.step == 0.0f) return;
    osc.phase = p;
    osc.y = y;
}

} // namespace

void AuGenerateLfoWaveform(AuLfoOscillator& osc, f32* out, u32 count, f32 amplitude, f32 amplitudeStep,
                           f32 pulseWidth) {
    const f32 b0 = osc.b0, a1 = osc.a1;
    switch (osc.waveform) {
    case AuLfoWaveform_Sine:
        // No filter: y is left as it is.
        RunLfo(osc, out, count, amplitude, amplitudeStep, [](f32 p, f32 a, f32&) {
            f32 s;
            if (p < kHalfPi)
                s = AuLfoSinePolynomial(p);
            else if (p < kPi)
                s = AuLfoSinePolynomial(kPi - p);
            else if (p < kPi + kHalfPi)
                s = -AuLfoSinePolynomial(p - kPi);
            else
                s = -AuLfoSinePolynomial(kTwoPi - p);
            return (1.0f + s) * 0.5f * a;
        });
        return;
    case AuLfoWaveform_Triangle:
        RunLfo(osc, out, count, amplitude, amplitudeStep, [=](f32 p, f32 a, f32& y) {
            return y = b0 * a * (p < 0.5f ? 2.0f * p : 2.0f * (1.0f - p)) - a1 * y;
        });
        return;
    case AuLfoWaveform_Square:
        RunLfo(osc, out, count, amplitude, amplitudeStep,
               [=](f32 p, f32 a, f32& y) { return y = b0 * (p < pulseWidth ? a : 0.0f) - a1 * y; });
        return;
    case AuLfoWaveform_RisingSaw:
        RunLfo(osc, out, count, amplitude, amplitudeStep,
               [=](f32 p, f32 a, f32& y) { return y = b0 * a * p - a1 * y; });
        return;
    case AuLfoWaveform_FallingSaw:
        RunLfo(osc, out, count, amplitude, amplitudeStep,
               [=](f32 p, f32 a, f32& y) { return y = b0 * a * (1.0f - p) - a1 * y; });
        return;
    default:
        return;
    }
}

f32 AuEnvelopeShape::HoldValue(f64 t) const {
    const f64 h = attack * 0.5;
    if (t < h) return static_cast<f32>(curve * t / h);
    if (t < attack) return static_cast<f32>(curve + (1.0 - curve) * (t - h) / (attack - h));
    if (t < f64(attack) + decay) return static_cast<f32>(1.0 + (sustain - 1.0) * (t - attack) / decay);
    return sustain;
}

f32 AuEnvelopeShape::ValueAt(f64 t, bool* outEnded) const {
    if (outEnded) *outEnded = false;
    if (releaseStart == AU_MODULATOR_HELD || t < releaseStart) return HoldValue(t);
    const f64 into = t - releaseStart;
    if (into >= release) {
        if (outEnded) *outEnded = true;
        return 0.0f;
    }
    return static_cast<f32>(HoldValue(releaseStart) * (1.0 - into / release));
}

u32 AuEnvelopeShape::RetriggerOffset(f32 v) const {
    if (!(v > 0.0f)) return 0;
    const f64 h = attack * 0.5;
    // c >= v also covers c = v = 1, where the second branch would divide 0 by 0.
    const f64 offset = curve >= v && curve > 0.0f ? v / curve * h : h + (v - curve) / (1.0 - curve) * h;
    if (!(offset > 0.0)) return 0;
    return offset >= attack ? attack : static_cast<u32>(std::floor(offset + 0.5));
}

void AuEnvelopeShape::Fill(f32* out, u32 count, u64 t0) const {
    // Segment starts in samples since the start; a release cuts the segments it begins inside.
    const f64 release0 = releaseStart == AU_MODULATOR_HELD ? 1e300 : f64(releaseStart);
    const f64 starts[6] = {0.0,
                           std::min(attack * 0.5, release0),
                           std::min(f64(attack), release0),
                           std::min(f64(attack) + decay, release0),
                           release0,
                           release0 + release};
    const f64 h = attack * 0.5;
    const f64 releaseFrom = releaseStart == AU_MODULATOR_HELD ? 0.0 : HoldValue(releaseStart);
    // Each segment as value = base + slope x (t - start); 0 samples give slope 0.
    const f64 bases[6] = {0.0, curve, 1.0, sustain, releaseFrom, 0.0};
    const f64 slopes[6] = {h > 0 ? curve / h : 0.0,
                           attack - h > 0 ? (1.0 - curve) / (attack - h) : 0.0,
                           decay ? (sustain - 1.0) / decay : 0.0,
                           0.0,
                           release ? -releaseFrom / release : 0.0,
                           0.0};
    u32 from = 0;
    for (u32 k = 0; k < 6 && from < count; ++k) {
        u32 to = count;
        if (k < 5) {
            // Index i holds t0 + i + 1; the bound is rounded to a multiple of 4 lanes.
            const f64 next = starts[k + 1] - f64(t0) - 1.0;
            const u64 raw = next <= 0.0 ? 0 : next >= count ? count : static_cast<u64>(std::ceil(next));
            to = std::min<u32>(count, static_cast<u32>((raw + 2) & ~u64{3}));
            to = std::max(to, from);
        }
        const f64 base = bases[k] - slopes[k] * starts[k];
        for (u32 i = from; i < to; ++i)
            out[i] = Clamp01(static_cast<f32>(base + slopes[k] * f64(t0 + i + 1)));
        from = to;
    }
}

CAuModulatorContext::CAuModulatorContext(CAuModulator* modulator, u32 kind, u32 scope)
    : m_pModulator(modulator), m_uKind(kind), m_uScope(scope) {}

CAuModulatorContext::~CAuModulatorContext() = default;

void CAuModulatorContext::Release() {
    if (--m_uRefs) return;
    this->~CAuModulatorContext();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}

void CAuModulatorContext::StartRelease(u32 offset) {
    if (m_uKind != AuModulatorKind_Envelope) return;
    auto& envelope = static_cast<CAuEnvelopeContext&>(*this);
    if (envelope.shape.releaseStart != AU_MODULATOR_HELD) return;
    envelope.shape.releaseStart = Saturate(elapsed + offset);
    if (state != AU_MODULATOR_STATE_ENDED) state = AU_MODULATOR_STATE_RELEASING;
}

bool CAuModulatorContext::IsFinished() const {
    return state == AU_MODULATOR_STATE_ENDED || !m_pModulator ||
           (m_uScope <= AuModulatorScope_Note && users == 0);
}

void CAuModulatorContext::Terminate() {
    const bool ending = state == AU_MODULATOR_STATE_ENDED;
    state = AU_MODULATOR_STATE_ENDED;
    // Only an envelope that ran out ends its voice; one whose users left ends quietly.
    if (ending && users && pInstance && m_pModulator && m_pModulator->StopsOnEnd())
        AuModulatorStopInstance(*pInstance);
    pInstance = nullptr;
}

bool CAuLfoContext::SetParam(u32 id, f32 value) {
    if (!std::isfinite(value)) return false;
    switch (id) {
    case AuModulatorParam_LfoDepth:
        depth = value * 0.01f;
        return true;
    case AuModulatorParam_LfoAttack:
        attack = AuModulatorSamples(value);
        return true;
    case AuModulatorParam_LfoFrequency:
        frequency = value;
        osc.SetFrequency(value);
        osc.SetSmoothing(smoothing, frequency);
        bAudioRate = DecideAudioRate(g_uNumSamplesPerFrame);
        return true;
    case AuModulatorParam_LfoWaveform: {
        const f64 whole = std::trunc(f64(value));
        osc.SetWaveform(whole < 0.0 || whole > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<u32>(whole));
        return true;
    }
    case AuModulatorParam_LfoSmoothing:
        smoothing = value * 0.01f;
        osc.SetSmoothing(smoothing, frequency);
        return true;
    case AuModulatorParam_LfoPulseWidth:
        pulseWidth = value * 0.01f;
        return true;
    case AuModulatorParam_LfoInitialPhase:
        osc.SetInitialPhase(value);
        return true;
    default:
        return false;
    }
}

bool CAuLfoContext::DecideAudioRate(u32 samplesPerFrame) {
    return m_pModulator && m_pModulator->AllowsAudioRate() && samplesPerFrame &&
           frequency > AU_MODULATOR_RATE / f32(samplesPerFrame) * 0.25f;
}

void CAuLfoContext::Restart() {
    elapsed = 0;
    osc.y = 0.0f;
}

f32 CAuLfoContext::InitialValue() {
    // The waveform at its initial phase: one step back, then the one sample that reaches it.
    AuLfoOscillator at = osc;
    at.phase = Wrap(at.phase - at.step, at.Period());
    f32 value = 0.0f;
    AuGenerateLfoWaveform(at, &value, 1, attack == 0 ? depth : 0.0f, 0.0f, pulseWidth);
    return value;
}

void CAuLfoContext::ComputeFrame(f32* out, u32 n) {
    recordState = state;
    if (osc.waveform > AuLfoWaveform_FallingSaw) {
        if (out) std::fill(out, out + n, current);
        recordEnd = current;
        return;
    }
    // Attack 0 is full depth from the first sample; time before the start counts as 0.
    const f64 t1 = f64(elapsed);
    const f64 t0 = std::max(0.0, t1 - n);
    const f32 a = attack == 0 ? depth : static_cast<f32>(depth * std::min(1.0, t0 / attack));
    const f32 b = attack == 0 ? depth : static_cast<f32>(depth * std::min(1.0, t1 / attack));
    if (!out) {
        if (n > 1) osc.phase = Wrap(osc.phase + f32(n - 1) * osc.step, osc.Period());
        f32 value = current;
        AuGenerateLfoWaveform(osc, &value, 1, a, 0.0f, pulseWidth);
        recordEnd = value;
        return;
    }
    AuGenerateLfoWaveform(osc, out, n, a, (b - a) / f32(n), pulseWidth);
    recordEnd = out[n - 1];
}

bool CAuEnvelopeContext::SetParam(u32 id, f32 value) {
    if (!std::isfinite(value)) return false;
    switch (id) {
    case AuModulatorParam_EnvAttack:
        shape.attack = AuModulatorSamples(value);
        break;
    case AuModulatorParam_EnvAttackCurve:
        shape.curve = value * 0.01f;
        return true;
    case AuModulatorParam_EnvDecay:
        shape.decay = AuModulatorSamples(value);
        break;
    case AuModulatorParam_EnvSustain:
        shape.sustain = value * 0.01f;
        return true;
    case AuModulatorParam_EnvSustainTime:
        bHeld = value < 0.0f;
        sustainSamples = bHeld ? 0 : AuModulatorSamples(value);
        UpdateReleaseStart();
        return true;
    case AuModulatorParam_EnvRelease:
        shape.release = AuModulatorSamples(value);
        return true;
    default:
        return false;
    }
    UpdateReleaseStart();
    bAudioRate = DecideAudioRate(g_uNumSamplesPerFrame);
    return true;
}

void CAuEnvelopeContext::UpdateReleaseStart() {
    // A release already begun keeps its start.
    if (state == AU_MODULATOR_STATE_RELEASING) return;
    shape.releaseStart =
        bHeld ? AU_MODULATOR_HELD : Saturate(u64{sustainSamples} + shape.decay + shape.attack);
}

bool CAuEnvelopeContext::DecideAudioRate(u32 samplesPerFrame) {
    return m_pModulator && m_pModulator->AllowsAudioRate() &&
           std::min(shape.attack, shape.decay) < 2u * samplesPerFrame;
}

void CAuEnvelopeContext::Restart() {
    elapsed = 0;
    state = 0;
    startValue = Clamp01(current);
}

void CAuEnvelopeContext::ApplyRetrigger() {
    const u32 offset = shape.RetriggerOffset(startValue);
    elapsed += offset;
    if (shape.releaseStart != AU_MODULATOR_HELD)
        shape.releaseStart = Saturate(u64{shape.releaseStart} + offset);
}

void CAuEnvelopeContext::ComputeFrame(f32* out, u32 n) {
    recordState = state;
    if (out) shape.Fill(out, n, elapsed >= n ? elapsed - n : 0);
    bool ended = false;
    recordEnd = Clamp01(shape.ValueAt(f64(elapsed), &ended));
    if (ended) {
        recordState = AU_MODULATOR_STATE_ENDED;
        recordEnd = 0.0f;
    }
}

void CAuModulatorEngine::Term() {
    while (m_pHead) {
        CAuModulatorContext* context = m_pHead;
        m_pHead = context->pNext;
        context->pNext = nullptr;
        context->Release();
    }
    m_pTail = nullptr;
    m_uCount = 0;
    if (m_pOutput) AU::MemoryMgr::Falign(g_DefaultPoolId, m_pOutput);
    m_pOutput = nullptr;
    m_uOutputCapacity = 0;
}

void CAuModulatorEngine::AddContext(CAuModulatorContext* context) {
    context->AddRef();
    context->pNext = nullptr;
    if (m_pTail)
        m_pTail->pNext = context;
    else
        m_pHead = context;
    m_pTail = context;
    ++m_uCount;
}

AURESULT CAuModulatorEngine::UpdateModulators(u32 n) {
    u32 total = 0;
    CAuModulatorContext* previous = nullptr;
    for (CAuModulatorContext* context = m_pHead; context;) {
        CAuModulatorContext* next = context->pNext;
        // The last frame's record becomes the context's value (its readers may have taken it).
        if (context->bHasRecord) {
            context->current = context->recordEnd;
            if (context->recordState == AU_MODULATOR_STATE_ENDED) context->state = AU_MODULATOR_STATE_ENDED;
        }
        context->bHasRecord = false;
        context->pBuffer = nullptr;
        if (context->IsFinished()) {
            context->Terminate();
            if (previous)
                previous->pNext = next;
            else
                m_pHead = next;
            if (m_pTail == context) m_pTail = previous;
            --m_uCount;
            context->pNext = nullptr;
            context->Release();
            context = next;
            continue;
        }
        previous = context;
        context->consumers = 0;
        context->bufferLength = 0;
        if (!context->paused) {
            context->elapsed += n;
            context->bufferLength = context->bAudioRate ? n : 0;
            total += context->bufferLength;
        }
        context = next;
    }
    if (total > m_uOutputCapacity) {
        // 16-byte blocks for the four-lane loops; grown only.
        f32* grown = static_cast<f32*>(AU::MemoryMgr::Malign(g_DefaultPoolId, total * sizeof(f32), 16));
        if (!grown) return AuResultNoMemory;
        if (m_pOutput) AU::MemoryMgr::Falign(g_DefaultPoolId, m_pOutput);
        m_pOutput = grown;
        m_uOutputCapacity = total;
    }
    u32 offset = 0;
    for (CAuModulatorContext* context = m_pHead; context; context = context->pNext) {
        if (context->paused) continue;
        f32* out = context->bufferLength ? m_pOutput + offset : nullptr;
        offset += context->bufferLength;
        context->pBuffer = out;
        context->ComputeFrame(out, n);
        context->bHasRecord = true;
    }
    return AuResultSuccess;
}
