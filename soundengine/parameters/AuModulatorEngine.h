// The modulator engine: once per audio frame it computes every running modulator context, an
// LFO or an envelope, either as one value for the frame (control rate) or as a value per sample
// (audio rate). Audio thread only.
#pragma once

#include "parameters/AuRTPCKey.h"

#include <AU/AuTypes.h>

class CAuModulator;
class CAuPlaybackInstance;

// The oscillators' rate whatever the output's: their speed and the audio-rate threshold are
// fixed in samples of 48 kHz.
constexpr f32 AU_MODULATOR_RATE = 48000.0f;
constexpr u32 AU_MODULATOR_HELD = 0x7FFFFFFF;
// The largest sample count: one below the held marker, so that no sum of times can reach it.
constexpr u32 AU_MODULATOR_MAX_SAMPLES = 0x7FFFFFFE;
constexpr u32 AU_MODULATOR_STATE_RELEASING = 2;
constexpr u32 AU_MODULATOR_STATE_ENDED = 3;

// Parameter IDs of contexts (the game-parameter numbering of the modulator's properties).
enum AuModulatorParam : u32 {
    AuModulatorParam_LfoDepth = 42,
    AuModulatorParam_LfoAttack = 43,
    AuModulatorParam_LfoFrequency = 44,
    AuModulatorParam_LfoWaveform = 45,
    AuModulatorParam_LfoSmoothing = 46,
    AuModulatorParam_LfoPulseWidth = 47,
    AuModulatorParam_LfoInitialPhase = 48,
    AuModulatorParam_EnvAttack = 50,
    AuModulatorParam_EnvAttackCurve = 51,
    AuModulatorParam_EnvDecay = 52,
    AuModulatorParam_EnvSustain = 53,
    AuModulatorParam_EnvSustainTime = 54,
    AuModulatorParam_EnvRelease = 55,
};

enum AuLfoWaveform : u32 {
    AuLfoWaveform_Sine = 0,
    AuLfoWaveform_Triangle = 1,
    AuLfoWaveform_Square = 2,
    AuLfoWaveform_RisingSaw = 3,
    AuLfoWaveform_FallingSaw = 4,
};

// Seconds at the output rate, rounded half away from zero; below 0 (NaN too) counts as 0 and
// the count saturates at AU_MODULATOR_MAX_SAMPLES.
u32 AuModulatorSamples(f32 seconds);

// sin on [0, pi/2] by the oscillator's polynomial.
f32 AuLfoSinePolynomial(f32 x);

struct AuLfoOscillator {
    f32 y = 0.0f;
    f32 b0 = 1.0f;
    f32 a1 = 0.0f;
    f32 phase = 0.0f; // radians for the sine, cycles for the others
    f32 step = 0.0f;
    u32 waveform = AuLfoWaveform_Sine;

    // Frequency in Hz, phase in degrees, smoothing as a fraction.
    void SetFrequency(f32 frequency);
    void SetWaveform(u32 newWaveform);
    void SetInitialPhase(f32 degrees);
    void SetSmoothing(f32 smoothing, f32 frequency);
    f32 Period() const;
};

// Writes `count` samples of amplitude ramping from `amplitude` by `amplitudeStep` before each
// sample; the pulse width is the square's high fraction. Any other waveform writes nothing.
void AuGenerateLfoWaveform(AuLfoOscillator& osc, f32* out, u32 count, f32 amplitude, f32 amplitudeStep,
                           f32 pulseWidth);

// An envelope's shape in samples, with its value as a function of the samples since its start.
struct AuEnvelopeShape {
    u32 attack = 0;
    u32 decay = 0;
    u32 release = 0;
    u32 releaseStart = AU_MODULATOR_HELD;
    f32 curve = 0.5f;   // level at half the attack
    f32 sustain = 0.3f; // level

    // The value before any release at t.
    f32 HoldValue(f64 t) const;
    // The value at t, release included; `outEnded` once the release is over.
    f32 ValueAt(f64 t, bool* outEnded = nullptr) const;
    // Where a retrigger from value v enters the attack (c >= v takes the first half).
    u32 RetriggerOffset(f32 v) const;
    // Fills out[i] = ValueAt(t0 + i + 1) segment by segment, four samples at a time, bounds
    // rounded to multiples of 4 and each value clamped to [0, 1].
    void Fill(f32* out, u32 count, u64 t0) const;
};

// Stops a voice whose envelope ended: at once, curve 4. Defined with the voice-side wiring.
void AuModulatorStopInstance(CAuPlaybackInstance& instance);

class CAuModulatorContext {
public:
    CAuModulatorContext(CAuModulator* modulator, u32 kind, u32 scope);
    virtual ~CAuModulatorContext();
    // False for an ID this kind does not have.
    virtual bool SetParam(u32 id, f32 value) = 0;
    // Whether the context runs at audio rate for the frame size.
    virtual bool DecideAudioRate(u32 samplesPerFrame) = 0;
    // [audio thread] Computes the frame of n samples ending at the elapsed time into the
    // record; `out` holds n values at audio rate, else null.
    virtual void ComputeFrame(f32* out, u32 n) = 0;
    // Before the parameters of a retrigger.
    virtual void Restart() = 0;
    // The value a new context holds before its first frame.
    virtual f32 InitialValue() = 0;

    void AddRef() { ++m_uRefs; }
    void Release();

    // The envelope's release begins `offset` samples after the frame in progress.
    void StartRelease(u32 offset);
    // State 3; an envelope whose modulator says so stops its voices.
    void Terminate();
    bool IsFinished() const;

    CAuModulator* Modulator() const { return m_pModulator; }
    // The modulator lets its contexts go: they keep their values for their readers.
    void Detach() { m_pModulator = nullptr; }
    u32 Kind() const { return m_uKind; }
    u32 Scope() const { return m_uScope; }

    // Engine state, audio thread only.
    CAuModulatorContext* pNext = nullptr;
    AuRTPCKey key;                            // the scoped key it runs under
    CAuPlaybackInstance* pInstance = nullptr; // voice scope: the instance whose end it may cause
    u64 elapsed = 0;                          // samples to the end of the last frame computed
    u32 state = 0;
    u32 users = 0;
    u32 consumers = 0;
    u32 paused = 0;
    bool bAudioRate = false;
    f32 current = 0.0f;
    // This frame's record: its value at the end of the frame, its samples at audio rate, and the
    // state it ends in.
    bool bHasRecord = false;
    f32 recordEnd = 0.0f;
    u32 recordState = 0;
    f32* pBuffer = nullptr;
    u32 bufferLength = 0;

protected:
    CAuModulator* m_pModulator;
    u32 m_uKind;
    u32 m_uScope;
    u32 m_uRefs = 1;
};

class CAuLfoContext final : public CAuModulatorContext {
public:
    CAuLfoContext(CAuModulator* modulator, u32 scope) : CAuModulatorContext(modulator, 0, scope) {}
    bool SetParam(u32 id, f32 value) override;
    bool DecideAudioRate(u32 samplesPerFrame) override;
    void ComputeFrame(f32* out, u32 n) override;
    void Restart() override;
    f32 InitialValue() override;

    f32 depth = 1.0f;
    u32 attack = 0;
    f32 frequency = 1.0f;
    f32 smoothing = 0.0f;
    f32 pulseWidth = 0.0f;
    AuLfoOscillator osc;
};

class CAuEnvelopeContext final : public CAuModulatorContext {
public:
    CAuEnvelopeContext(CAuModulator* modulator, u32 scope) : CAuModulatorContext(modulator, 1, scope) {}
    bool SetParam(u32 id, f32 value) override;
    bool DecideAudioRate(u32 samplesPerFrame) override;
    void ComputeFrame(f32* out, u32 n) override;
    void Restart() override;
    f32 InitialValue() override { return 0.0f; }
    // After the parameters: a retrigger from a non-zero value enters the attack where it
    // reaches that value.
    void ApplyRetrigger();

    AuEnvelopeShape shape;
    u32 sustainSamples = 0;
    bool bHeld = true;
    f32 startValue = 0.0f;

private:
    void UpdateReleaseStart();
};

class CAuModulatorEngine {
public:
    CAuModulatorEngine() = default;
    CAuModulatorEngine(const CAuModulatorEngine&) = delete;
    CAuModulatorEngine& operator=(const CAuModulatorEngine&) = delete;
    ~CAuModulatorEngine() { Term(); }

    // Releases every context and the output blocks.
    void Term();
    // Runs the context from the next frame on (one reference more).
    void AddContext(CAuModulatorContext* context);
    // [audio thread] Advances every context by n samples: 1, or 52 when the output block cannot
    // grow (the pass stops there).
    AURESULT UpdateModulators(u32 n);
    u32 Count() const { return m_uCount; }

private:
    CAuModulatorContext* m_pHead = nullptr;
    CAuModulatorContext* m_pTail = nullptr;
    u32 m_uCount = 0;
    f32* m_pOutput = nullptr;
    u32 m_uOutputCapacity = 0;
};
