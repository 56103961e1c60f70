#include "ModulatorFixture.h"
#include "core/AuOutputTiming.h"
#include "voices/AuPlaybackInstance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using bankgen::CurvePoint;
using bankgen::HierarchyType;
using bankgen::ModulatorRecord;
using bankgen::PropF;
using bankgen::PropI;
using bankgen::RangeF;
using bankgen::RtpcCurve;

constexpr f64 kTwoPi = 6.283185307179586;

// The oscillator in double precision: phase advanced before each sample, the smoothing filter
// on every waveform but the sine. The waveforms with edges step their phase in single precision
// as the oscillator's state does, so that both put each edge on the same sample.
// `amplitude(i)` is sample i's amplitude.
template <class Amplitude>
std::vector<f64> ReferenceLfo(u32 waveform, f64 frequency, f64 smoothing, f64 pulseWidth, f64 degrees,
                              u32 count, Amplitude amplitude) {
    f64 b0 = 1.0, a1 = 0.0;
    if (smoothing != 0.0) {
        const f64 fc = 24000.0 * std::pow(frequency / 24000.0, smoothing);
        const f64 c = 2.0 - std::cos(kTwoPi * fc / 48000.0);
        a1 = std::sqrt(c * c - 1.0) - c;
        b0 = 1.0 + a1;
    }
    f64 phase = degrees / 360.0 + (waveform == 1 ? 0.25 : waveform == 3 ? 0.5 : 0.0);
    phase -= std::floor(phase);
    const f64 step = frequency / 48000.0;
    f32 edgePhase = static_cast<f32>(phase);
    const f32 edgeStep = static_cast<f32>(frequency) / 48000.0f;
    f64 y = 0.0;
    std::vector<f64> out;
    for (u32 i = 0; i < count; ++i) {
        const f64 a = amplitude(i);
        phase += step;
        phase -= std::floor(phase);
        edgePhase += edgeStep;
        if (edgePhase >= 1.0f) edgePhase -= 1.0f;
        if (waveform != 0) phase = edgePhase;
        f64 x = 0.0;
        switch (waveform) {
        case 0:
            out.push_back((1.0 + std::sin(kTwoPi * phase)) * 0.5 * a);
            continue;
        case 1:
            x = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
            break;
        case 2:
            x = phase < pulseWidth ? 1.0 : 0.0;
            break;
        case 3:
            x = phase;
            break;
        default:
            x = 1.0 - phase;
            break;
        }
        y = b0 * a * x - a1 * y;
        out.push_back(y);
    }
    return out;
}

TEST(ModulatorOscillatorTest, TheSinePolynomialIsWithin1e5OfSin) {
    for (u32 i = 0; i <= 10000; ++i) {
        const f64 x = 1.5707963267948966 * i / 10000.0;
        ASSERT_NEAR(AuLfoSinePolynomial(static_cast<f32>(x)), std::sin(x), 1e-5) << x;
    }
}

struct WaveCase {
    std::string name;
    u32 waveform;
    f32 frequency;
    f32 smoothing; // fraction
    f32 pulseWidth;
    f32 degrees;
};

void PrintTo(const WaveCase& c, std::ostream* out) {
    *out << c.name;
}

class LfoGoldenTest : public testing::TestWithParam<WaveCase> {};

TEST_P(LfoGoldenTest, MatchesTheDoublePrecisionReference) {
    const WaveCase& c = GetParam();
    AuLfoOscillator osc;
    osc.SetFrequency(c.frequency);
    osc.SetWaveform(c.waveform);
    osc.SetSmoothing(c.smoothing, c.frequency);
    osc.SetInitialPhase(c.degrees);
    constexpr u32 kCount = 48000;
    std::vector<f32> out(kCount);
    // Twelve frames, as the engine hands them over, with the amplitude ramping over the first.
    for (u32 frame = 0; frame < kCount / 4000; ++frame) {
        const f32 from = frame == 0 ? 0.0f : 0.8f;
        AuGenerateLfoWaveform(osc, out.data() + frame * 4000, 4000, from, (0.8f - from) / 4000.0f,
                              c.pulseWidth);
    }
    const std::vector<f64> reference =
        ReferenceLfo(c.waveform, c.frequency, c.smoothing, c.pulseWidth, c.degrees, kCount,
                     [](u32 i) { return i < 4000 ? 0.8 * (i + 1) / 4000.0 : 0.8; });
    u32 mismatches = 0;
    for (u32 i = 0; i < kCount; ++i) {
        const f64 expected = reference[i];
        // The sine's phase runs in single-precision radians: it drifts a little over a second.
        if (std::fabs(out[i] - expected) > (c.waveform == AuLfoWaveform_Sine ? 2e-3 : 1e-4)) ++mismatches;
        ASSERT_TRUE(std::isfinite(out[i]));
        ASSERT_GE(out[i], -1e-6f);
        ASSERT_LE(out[i], 0.8f + 1e-4f);
    }
    EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Waves, LfoGoldenTest,
                         testing::Values(WaveCase{"Sine", 0, 5.0f, 0.0f, 0.0f, 0.0f},
                                         WaveCase{"SineAt90Degrees", 0, 3.0f, 0.0f, 0.0f, 90.0f},
                                         WaveCase{"Triangle", 1, 5.0f, 0.0f, 0.0f, 0.0f},
                                         WaveCase{"SquareQuarter", 2, 4.0f, 0.0f, 0.25f, 0.0f},
                                         WaveCase{"RisingSaw", 3, 2.0f, 0.0f, 0.0f, -45.0f},
                                         WaveCase{"FallingSaw", 4, 7.0f, 0.0f, 0.0f, 0.0f},
                                         WaveCase{"SmoothedSquare", 2, 4.0f, 0.5f, 0.5f, 0.0f},
                                         WaveCase{"SmoothedSaw", 3, 2.0f, 0.8f, 0.0f, 0.0f}),
                         [](const testing::TestParamInfo<WaveCase>& info) { return info.param.name; });

TEST(ModulatorOscillatorTest, ASquareOfPulseWidthAQuarterIsHighForTheFirstQuarterOfEachCycle) {
    AuLfoOscillator osc;
    osc.SetWaveform(AuLfoWaveform_Square);
    osc.SetFrequency(48000.0f / 64.0f); // 64 samples a cycle, phase steps of 1/64
    std::vector<f32> out(256);
    AuGenerateLfoWaveform(osc, out.data(), 256, 1.0f, 0.0f, 0.25f);
    for (u32 i = 0; i < 256; ++i) {
        const u32 into = (i + 1) % 64; // the phase of sample i in 64ths
        EXPECT_EQ(out[i], into < 16 ? 1.0f : 0.0f) << i;
    }
}

TEST(ModulatorOscillatorTest, AnUnknownWaveformWritesNothingAndKeepsItsState) {
    AuLfoOscillator osc;
    osc.SetFrequency(10.0f);
    osc.SetWaveform(5);
    osc.phase = 0.3f;
    osc.y = 0.7f;
    f32 out[4] = {9.0f, 9.0f, 9.0f, 9.0f};
    AuGenerateLfoWaveform(osc, out, 4, 1.0f, 0.0f, 0.5f);
    for (f32 v : out)
        EXPECT_EQ(v, 9.0f);
    EXPECT_EQ(osc.phase, 0.3f);
    EXPECT_EQ(osc.y, 0.7f);
}

// The envelope in double precision, sample by sample.
f64 ReferenceEnvelope(f64 t, f64 attack, f64 curve, f64 decay, f64 sustain, f64 releaseStart, f64 release) {
    const auto hold = [&](f64 x) {
        const f64 h = attack / 2;
        if (x < h) return curve * x / h;
        if (x < attack) return curve + (1 - curve) * (x - h) / (attack - h);
        if (x < attack + decay) return 1 + (sustain - 1) * (x - attack) / decay;
        return sustain;
    };
    if (t < releaseStart) return hold(t);
    if (t - releaseStart >= release) return 0.0;
    return hold(releaseStart) * (1 - (t - releaseStart) / release);
}

TEST(ModulatorEnvelopeShapeTest, SegmentsFollowTheReferenceAtControlAndAudioRate) {
    AuEnvelopeShape shape;
    shape.attack = 1000;
    shape.curve = 0.7f;
    shape.decay = 3000;
    shape.sustain = 0.4f;
    shape.releaseStart = 6000;
    shape.release = 2500;
    bool ended = false;
    for (u32 t = 0; t < 10000; t += 7) {
        const f64 expected = ReferenceEnvelope(t, 1000, 0.7, 3000, 0.4, 6000, 2500);
        ASSERT_NEAR(shape.ValueAt(t, &ended), expected, 1e-5) << t;
        EXPECT_EQ(ended, t >= 8500) << t;
    }
    // Audio rate: bounds rounded to multiples of 4 lanes, each segment's line held to [0, 1].
    constexpr u32 kFrame = 1024;
    std::vector<f32> out(kFrame);
    for (u64 t0 = 0; t0 < 10240; t0 += kFrame) {
        shape.Fill(out.data(), kFrame, t0);
        for (u32 i = 0; i < kFrame; ++i) {
            const f64 t = f64(t0 + i + 1);
            ASSERT_GE(out[i], 0.0f);
            ASSERT_LE(out[i], 1.0f);
            // Away from a bound the value is the reference's; within two samples of one, it lies
            // between the two neighbouring segments' values.
            const f64 expected = ReferenceEnvelope(t, 1000, 0.7, 3000, 0.4, 6000, 2500);
            bool nearBound = false;
            for (f64 bound : {500.0, 1000.0, 4000.0, 6000.0, 8500.0})
                nearBound = nearBound || std::fabs(t - bound) <= 3.0;
            if (!nearBound) {
                ASSERT_NEAR(out[i], expected, 1e-4) << t;
            }
        }
    }
    // A bound on a multiple of 4 is exact: the decay of a 1000-sample attack starts at index 999.
    shape.Fill(out.data(), kFrame, 0);
    EXPECT_NEAR(out[996], ReferenceEnvelope(997, 1000, 0.7, 3000, 0.4, 6000, 2500), 1e-5);
    EXPECT_NEAR(out[1000], ReferenceEnvelope(1001, 1000, 0.7, 3000, 0.4, 6000, 2500), 1e-5);
}

TEST(ModulatorEnvelopeShapeTest, ARetriggerEntersTheAttackWhereItReachesTheValue) {
    AuEnvelopeShape shape;
    shape.attack = 1000;
    shape.curve = 0.5f;
    EXPECT_EQ(shape.RetriggerOffset(0.0f), 0u);
    EXPECT_EQ(shape.RetriggerOffset(0.25f), 250u);
    EXPECT_EQ(shape.RetriggerOffset(0.75f), 750u);
    EXPECT_EQ(shape.RetriggerOffset(1.0f), 1000u); // the end of the attack
    // A curve of 100 % reaches 1 at half the attack: no 0/0.
    shape.curve = 1.0f;
    EXPECT_EQ(shape.RetriggerOffset(1.0f), 500u);
    EXPECT_EQ(shape.RetriggerOffset(0.5f), 250u);
}

TEST(ModulatorSamplesTest, TimesSaturateBelowTheHeldMarkerAndNegativesCountAs0) {
    EXPECT_EQ(AuModulatorSamples(0.5f), 24000u);
    EXPECT_EQ(AuModulatorSamples(-3.0f), 0u);
    EXPECT_EQ(AuModulatorSamples(NAN), 0u);
    EXPECT_EQ(AuModulatorSamples(1e30f), AU_MODULATOR_MAX_SAMPLES);
    EXPECT_EQ(AuModulatorSamples(INFINITY), AU_MODULATOR_MAX_SAMPLES);
}

struct ContextRecorder : IAuModulatorTriggerCallback {
    AURESULT OnContext(CAuModulatorContext& context, const AuModulatorTrigger&) noexcept override {
        last = &context;
        ++calls;
        return AuResultSuccess;
    }
    CAuModulatorContext* last = nullptr;
    u32 calls = 0;
};

class ModulatorEngineTest : public ModulatorFixture {
protected:
    void SetUp() override {
        ModulatorFixture::SetUp();
        g_uNumSamplesPerFrame = 1024;
    }
    // Lets the modulator run at audio rate, as a voice's volume binding does.
    void AllowAudioRate(CAuModulator* modulator) {
        m_volume.propertyID = 0;
        m_volume.kind = AuRTPCSubscriberKind_Node;
        ASSERT_EQ(modulator->AddKeyInstance(&m_volume), AuResultSuccess);
    }
    CAuModulatorContext* Start(CAuModulator* modulator, const AuModulatorTrigger& trigger = {}) {
        ContextRecorder recorder;
        modulator->Trigger(trigger, *modulators.Engine(), &recorder);
        return recorder.last;
    }
    void Frame() { ASSERT_EQ(modulators.Engine()->UpdateModulators(1024), AuResultSuccess); }

    AuRTPCSubscription m_volume{};
};

constexpr u32 kParamWave = 800;
char g_objects[3];
CAuRegisteredObj* Object(u32 i) {
    return reinterpret_cast<CAuRegisteredObj*>(&g_objects[i]);
}

RtpcCurve Identity(u8 property, u32 driving, u8 drivingType = 0) {
    RtpcCurve curve;
    curve.gameParameter = driving;
    curve.drivingType = drivingType;
    curve.target = property;
    curve.curveId = 1;
    curve.points = {CurvePoint{0.0f, 0.0f, 4}, CurvePoint{100.0f, 100.0f, 4}};
    return curve;
}

struct TriggerCase {
    std::string name;
    HierarchyType type;
    i32 triggerProp; // property 15, -1 when absent
    u8 status;
    u8 velocity;
    u32 playKind;
    i32 scope;
    bool made;
};

void PrintTo(const TriggerCase& c, std::ostream* out) {
    *out << c.name;
}

class ModulatorTriggerTest : public ModulatorEngineTest, public testing::WithParamInterface<TriggerCase> {};

TEST_P(ModulatorTriggerTest, TheTriggerTestAndTheScopeDecideWhetherAContextIsMade) {
    const TriggerCase& c = GetParam();
    ModulatorRecord record{c.type, 40, {PropI(0, c.scope)}, {}, {}};
    if (c.triggerProp >= 0) record.props.push_back(PropI(15, c.triggerProp));
    CAuModulator* modulator = Load(record);
    ASSERT_NE(modulator, nullptr);
    AuModulatorTrigger trigger;
    trigger.pGameObj = Object(0);
    trigger.playingID = 5;
    trigger.midiStatus = c.status;
    trigger.midiChannel = c.status ? 1 : AU_MIDI_ANY;
    trigger.midiNote = c.status ? 60 : AU_MIDI_ANY;
    trigger.midiVelocity = c.velocity;
    trigger.playKind = c.playKind;
    ContextRecorder recorder;
    const AURESULT result = modulator->Trigger(trigger, *modulators.Engine(), &recorder);
    EXPECT_EQ(result, c.made ? AuResultSuccess : AuResultFail);
    EXPECT_EQ(recorder.calls, c.made ? 1u : 0u);
    EXPECT_EQ(modulators.Engine()->Count(), c.made ? 1u : 0u);
    f32 value;
    AuRTPCKey key = trigger.Key();
    EXPECT_EQ(modulator->GetCurrentValue(key, value), c.made);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModulatorTriggerTest,
    testing::Values(
        TriggerCase{"LfoWithoutMidi", HierarchyType::Lfo, -1, 0, 0, 1, 3, true},
        TriggerCase{"LfoNoteOn", HierarchyType::Lfo, -1, 0x90, 64, 1, 3, true},
        TriggerCase{"LfoNoteOnVelocity0", HierarchyType::Lfo, -1, 0x90, 0, 1, 3, false},
        TriggerCase{"LfoNoteOff", HierarchyType::Lfo, -1, 0x80, 64, 1, 3, false},
        TriggerCase{"EnvelopeWithoutProperty15", HierarchyType::Envelope, -1, 0, 0, 1, 3, true},
        TriggerCase{"EnvelopeOnPlayNoteOn", HierarchyType::Envelope, 1, 0x90, 64, 1, 3, true},
        TriggerCase{"EnvelopeOnPlayKind3", HierarchyType::Envelope, 1, 0x90, 64, 3, 3, false},
        TriggerCase{"EnvelopeOnPlayKind3WithoutMidi", HierarchyType::Envelope, 1, 0, 0, 3, 3, true},
        TriggerCase{"EnvelopeOnNoteOff", HierarchyType::Envelope, 2, 0x80, 0, 1, 3, true},
        TriggerCase{"EnvelopeOnNoteOnVelocity0", HierarchyType::Envelope, 2, 0x90, 0, 1, 3, true},
        TriggerCase{"EnvelopeOnNoteOffGivenNoteOn", HierarchyType::Envelope, 2, 0x90, 64, 1, 3, false},
        TriggerCase{"EnvelopeOnNoteOffWithoutMidi", HierarchyType::Envelope, 2, 0, 0, 1, 3, false},
        TriggerCase{"EnvelopeUnknownTrigger", HierarchyType::Envelope, 5, 0, 0, 1, 3, false},
        TriggerCase{"ObjectScopeWithoutPlay", HierarchyType::Lfo, -1, 0, 0, 0, 2, false},
        TriggerCase{"VoiceScopeWithoutPlay", HierarchyType::Lfo, -1, 0, 0, 0, 0, true}),
    [](const testing::TestParamInfo<TriggerCase>& info) { return info.param.name; });

TEST_F(ModulatorEngineTest, AGlobalLfoSharedByTwoObjectsHasOneContext) {
    CAuModulator* modulator = Load(ModulatorRecord{HierarchyType::Lfo, 41, {PropI(0, 3)}, {}, {}});
    AuModulatorTrigger a, b;
    a.pGameObj = Object(0);
    b.pGameObj = Object(1);
    CAuModulatorContext* first = Start(modulator, a);
    CAuModulatorContext* second = Start(modulator, b);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(modulators.Engine()->Count(), 1u);
    // An object-scope one has a context per object.
    CAuModulator* perObject = Load(ModulatorRecord{HierarchyType::Lfo, 42, {PropI(0, 2)}, {}, {}});
    EXPECT_NE(Start(perObject, a), Start(perObject, b));
    EXPECT_EQ(modulators.Engine()->Count(), 3u);
}

TEST_F(ModulatorEngineTest, OnlyAnEnvelopeRestartsAndOnlyForPlayKinds1And3) {
    CAuModulator* envelope = Load(
        ModulatorRecord{HierarchyType::Envelope,
                        43,
                        {PropI(0, 2), PropF(9, 1.0f), PropF(10, 50.0f), PropF(11, 1.0f), PropF(13, -1.0f)},
                        {},
                        {}});
    CAuModulator* lfo = Load(ModulatorRecord{HierarchyType::Lfo, 44, {PropI(0, 2)}, {}, {}});
    AuModulatorTrigger trigger;
    trigger.pGameObj = Object(0);
    CAuModulatorContext* env = Start(envelope, trigger);
    CAuModulatorContext* osc = Start(lfo, trigger);
    for (int i = 0; i < 3; ++i)
        Frame();
    ASSERT_EQ(env->elapsed, 3u * 1024);
    const f32 reached = env->recordEnd;
    for (u32 kind : {0u, 2u}) {
        trigger.playKind = kind;
        EXPECT_EQ(Start(envelope, trigger), env);
        EXPECT_EQ(env->elapsed, 3u * 1024) << kind;
    }
    Frame(); // the record of the frame becomes the value the retrigger starts from
    for (u32 kind : {1u, 3u}) {
        trigger.playKind = kind;
        EXPECT_EQ(Start(envelope, trigger), env);
        // Back inside the attack at the value it had: half the attack's 48000 samples is 0.5.
        EXPECT_NEAR(f64(env->elapsed), env->current / 0.5 * 24000.0, 1.0) << kind;
        EXPECT_GE(env->current, reached);
        Frame();
    }
    trigger.playKind = 1;
    const u64 lfoElapsed = osc->elapsed;
    EXPECT_EQ(Start(lfo, trigger), osc);
    EXPECT_EQ(osc->elapsed, lfoElapsed);
}

TEST_F(ModulatorEngineTest, AudioRateStartsAboveAQuarterOfTheFrameRateAt48k) {
    CAuModulator* modulator = Load(ModulatorRecord{HierarchyType::Lfo, 45, {PropI(0, 3)}, {}, {}});
    CAuModulatorContext* context = Start(modulator);
    // Without a volume binding it never runs at audio rate.
    EXPECT_FALSE(context->SetParam(AuModulatorParam_LfoFrequency, 20.0f) && context->bAudioRate);
    AllowAudioRate(modulator);
    for (const auto& [hz, audio] : {std::pair{1.0f, false}, {11.7f, false}, {11.8f, true}, {20.0f, true}}) {
        ASSERT_TRUE(context->SetParam(AuModulatorParam_LfoFrequency, hz));
        EXPECT_EQ(context->bAudioRate, audio) << hz;
    }
    Frame();
    EXPECT_NE(context->pBuffer, nullptr);
    ASSERT_TRUE(context->SetParam(AuModulatorParam_LfoFrequency, 1.0f));
    Frame();
    EXPECT_EQ(context->pBuffer, nullptr);
}

TEST_F(ModulatorEngineTest, TheAttackRampsTheDepthAndAnAttackOf0IsFullDepthAtOnce) {
    for (const f32 attackSeconds : {1024.0f / 48000.0f, 0.0f}) {
        CAuModulator* modulator =
            Load(ModulatorRecord{HierarchyType::Lfo,
                                 46,
                                 {PropI(0, 3), PropF(2, 100.0f), PropF(3, attackSeconds), PropF(4, 20.0f)},
                                 {},
                                 {}});
        AllowAudioRate(modulator);
        CAuModulatorContext* context = Start(modulator);
        ASSERT_TRUE(context->SetParam(AuModulatorParam_LfoFrequency, 20.0f));
        Frame();
        ASSERT_NE(context->pBuffer, nullptr);
        const std::vector<f64> reference = ReferenceLfo(0, 20.0, 0.0, 0.0, 0.0, 1024, [&](u32 i) {
            return attackSeconds == 0.0f ? 1.0 : (i + 1) / 1024.0;
        });
        for (u32 i = 0; i < 1024; ++i)
            ASSERT_NEAR(context->pBuffer[i], reference[i], 1e-4) << attackSeconds << " " << i;
        ReleaseAll();
        modulators.Engine()->Term();
    }
}

TEST_F(ModulatorEngineTest, AControlRateLfoSkipsToTheFrameEndAndGivesOneValue) {
    CAuModulator* modulator = Load(
        ModulatorRecord{HierarchyType::Lfo, 47, {PropI(0, 3), PropF(2, 100.0f), PropF(3, 0.0f)}, {}, {}});
    CAuModulatorContext* context = Start(modulator);
    // 1 Hz: frame k's value is the sine at sample 1024 k.
    for (u32 frame = 1; frame <= 60; ++frame) {
        Frame();
        ASSERT_EQ(context->pBuffer, nullptr);
        const f64 expected = (1.0 + std::sin(kTwoPi * 1024.0 * frame / 48000.0)) * 0.5;
        ASSERT_NEAR(context->recordEnd, expected, 1e-3) << frame;
        AuRTPCKey key;
        f32 pending = 0.0f;
        ASSERT_TRUE(modulator->GetPendingValue(key, pending));
        EXPECT_EQ(pending, context->recordEnd);
    }
}

TEST_F(ModulatorEngineTest, AHeldEnvelopeSustainsUntilReleasedAndEndsAt0) {
    // Attack 0.1 s, decay 0.1 s, sustain 50 % held, release 0.2 s.
    CAuModulator* modulator =
        Load(ModulatorRecord{HierarchyType::Envelope,
                             48,
                             {PropI(0, 3), PropF(9, 0.1f), PropF(10, 50.0f), PropF(11, 0.1f),
                              PropF(12, 50.0f), PropF(13, -1.0f), PropF(14, 0.2f)},
                             {},
                             {}});
    CAuModulatorContext* context = Start(modulator);
    for (u32 frame = 1; frame <= 40; ++frame) {
        Frame();
        const f64 expected = ReferenceEnvelope(1024.0 * frame, 4800, 0.5, 4800, 0.5, 1e300, 9600);
        ASSERT_NEAR(context->recordEnd, expected, 1e-5) << frame;
    }
    EXPECT_EQ(context->recordEnd, 0.5f);
    context->StartRelease(100);
    EXPECT_EQ(context->state, AU_MODULATOR_STATE_RELEASING);
    const u64 releaseAt = context->elapsed + 100;
    u32 frames = 0;
    while (context->state != AU_MODULATOR_STATE_ENDED && frames < 20) {
        Frame();
        ++frames;
        if (context->recordState != AU_MODULATOR_STATE_ENDED) {
            const f64 expected = 0.5 * (1.0 - (context->elapsed - releaseAt) / 9600.0);
            ASSERT_NEAR(context->recordEnd, expected, 1e-5);
        } else {
            // The release ends inside this frame: its value is exactly 0.
            EXPECT_EQ(context->recordEnd, 0.0f);
            EXPECT_LT(context->elapsed - 1024, releaseAt + 9600);
            Frame();
        }
    }
    EXPECT_EQ(context->state, AU_MODULATOR_STATE_ENDED);
    EXPECT_EQ(context->current, 0.0f);
}

TEST_F(ModulatorEngineTest, RangesDrawFromTheScriptedGeneratorAndClampAfterTheDraw) {
    CAuModulator* modulator = Load(ModulatorRecord{HierarchyType::Lfo,
                                                   49,
                                                   {PropI(0, 2), PropF(2, 50.0f), PropF(4, 19990.0f)},
                                                   {RangeF(2, -10.0f, 10.0f), RangeF(4, -20.0f, 20.0f)},
                                                   {}});
    // Per context: depth, then frequency.
    const int script[] = {0, 16383, 32767, 32767, 16384, 0};
    win32test::ScriptRand(script, 6);
    const f32 depths[] = {0.40f, 0.60f, 0.50f};
    const f32 frequencies[] = {19990.0f, 20000.0f, 19970.0f};
    for (u32 i = 0; i < 3; ++i) {
        AuModulatorTrigger trigger;
        trigger.pGameObj = Object(i);
        auto* context = static_cast<CAuLfoContext*>(Start(modulator, trigger));
        ASSERT_NE(context, nullptr);
        EXPECT_NEAR(context->depth, depths[i], 1e-4) << i;
        EXPECT_NEAR(context->frequency, frequencies[i], 0.01f) << i;
    }
    EXPECT_EQ(win32test::RandCallCount(), 6u);
}

TEST_F(ModulatorEngineTest, AWaveformFromAGameParameterIsTruncatedAndNaNPropertiesTakeTheDefault) {
    CAuModulator* modulator = Load(ModulatorRecord{HierarchyType::Lfo,
                                                   50,
                                                   {PropI(0, 2), PropF(4, NAN), PropF(2, INFINITY)},
                                                   {},
                                                   {Identity(45, kParamWave)}});
    ASSERT_EQ(modulator->RTPCMask(), 1u << 3);
    ASSERT_EQ(mgr.SetRTPCImmediate(kParamWave, 2.7f, AuRTPCKey{}), AuResultSuccess);
    AuModulatorTrigger trigger;
    trigger.pGameObj = Object(0);
    auto* context = static_cast<CAuLfoContext*>(Start(modulator, trigger));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->osc.waveform, AuLfoWaveform_Square);
    EXPECT_EQ(context->frequency, 1.0f);
    EXPECT_EQ(context->depth, 1.0f); // infinity held to 100 %
    // A later value reaches the running context.
    ASSERT_EQ(mgr.SetRTPCImmediate(kParamWave, 4.2f, AuRTPCKey(Object(0))), AuResultSuccess);
    EXPECT_EQ(context->osc.waveform, AuLfoWaveform_FallingSaw);
    EXPECT_FALSE(context->SetParam(99, 1.0f));
    EXPECT_FALSE(context->SetParam(AuModulatorParam_LfoDepth, NAN));
}

TEST_F(ModulatorEngineTest, TwoModulatorsDrivingEachOtherAreTriggeredOnceEach) {
    CAuModulator* a = Load(ModulatorRecord{HierarchyType::Lfo, 51, {PropI(0, 3)}, {}, {}});
    CAuModulator* b = Load(ModulatorRecord{HierarchyType::Lfo, 52, {PropI(0, 3)}, {}, {Identity(42, 51, 2)}});
    const AuCurvePoint points[] = {{0, 0, AuCurveInterpolation_Linear},
                                   {1, 100, AuCurveInterpolation_Linear}};
    ASSERT_EQ(mgr.SubscribeRTPC(static_cast<IAuModulatorSubscriber*>(a), 52, AuRTPCDrivingType_Modulator, 0,
                                42, 2, 0, points, 2, AuRTPCKey{}, AuRTPCSubscriberKind_Modulator),
              AuResultSuccess);
    struct Node : IAuNodeSubscriber {
        bool HasActivity() noexcept override { return false; }
        void SetParamFromRTPC(const AuRTPCSubscription&, u32, u32, f32, const AuRTPCKey&,
                              const CAuRTPCFilter*) noexcept override {}
        void RecalcProps(u32) noexcept override {}
    } node;
    ASSERT_EQ(mgr.SubscribeRTPC(&node, 51, AuRTPCDrivingType_Modulator, 0, 0, 3, 0, points, 2, AuRTPCKey{},
                                AuRTPCSubscriberKind_Node),
              AuResultSuccess);
    ContextRecorder recorder;
    EXPECT_EQ(modulators.Trigger(&node, AuModulatorTrigger{}, &recorder), AuResultSuccess);
    EXPECT_EQ(recorder.calls, 1u); // only the node's own modulator acts on it
    EXPECT_EQ(modulators.Engine()->Count(), 2u);
    f32 value;
    AuRTPCKey key;
    EXPECT_TRUE(b->GetCurrentValue(key, value));
    mgr.UnSubscribeRTPC(&node);
}

TEST_F(ModulatorEngineTest, ContextsEndWithTheirKeysAndNothingIsLeftBehind) {
    CAuModulator* perObject = Load(ModulatorRecord{HierarchyType::Envelope, 53, {PropI(0, 2)}, {}, {}});
    CAuModulator* global =
        Load(ModulatorRecord{HierarchyType::Lfo, 54, {PropI(0, 3), PropF(4, 30.0f)}, {}, {}});
    AllowAudioRate(global);
    AuModulatorTrigger trigger;
    for (u32 i = 0; i < 2; ++i) {
        trigger.pGameObj = Object(i);
        Start(perObject, trigger);
        Start(global, trigger);
    }
    EXPECT_EQ(modulators.Engine()->Count(), 3u);
    Frame();
    modulators.RemoveInstances(53, AuRTPCKey(Object(0)));
    Frame();
    EXPECT_EQ(modulators.Engine()->Count(), 2u);
    modulators.Update();
    ReleaseAll();
    modulators.Term();
    ASSERT_EQ(modulators.Init(), AuResultSuccess);
    EXPECT_EQ(Used(), m_usedAfterSetUp);
}

TEST_F(ModulatorEngineTest, AListWithoutItemsGivesFactor1AndNoTargets) {
    CAuModulatorList* list = CAuModulatorList::Create();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetStartFactor(~u64{0}), 1.0f);
    EXPECT_EQ(list->GetEndFactor(~u64{0}), 1.0f);
    u32 audio = 9, control = 9;
    list->CountTargets(~u64{0}, audio, control);
    EXPECT_EQ(audio, 0u);
    EXPECT_EQ(control, 0u);
    AuModulatorSampleTarget buffers[1];
    AuModulatorFrameTarget ramps[1];
    list->GatherBuffersAndRamps(~u64{0}, buffers, ramps, 1, 1, audio, control);
    EXPECT_EQ(audio + control, 0u);
    list->ReleaseShared();
    EXPECT_EQ(Used(), m_usedAfterSetUp);
}

TEST_F(ModulatorEngineTest, ListsSelectTargetsByTheirPropertyBitAndShareTheFrame) {
    CAuModulator* lfo = Load(ModulatorRecord{
        HierarchyType::Lfo, 60, {PropI(0, 3), PropF(2, 100.0f), PropF(3, 0.0f), PropF(4, 30.0f)}, {}, {}});
    CAuModulator* envelope = Load(ModulatorRecord{
        HierarchyType::Envelope, 61, {PropI(0, 3), PropF(9, 1.0f), PropF(10, 50.0f)}, {}, {}});
    AllowAudioRate(lfo);
    CAuModulatorContext* fast = Start(lfo);
    CAuModulatorContext* slow = Start(envelope);
    CAuModulatorList* list = CAuModulatorList::Create();
    const AuModulatorTarget onVolume{0.5f, 0.5f, 0};
    const AuModulatorTarget on40{0.0f, 2.0f, 40};
    ASSERT_EQ(list->AddContext(fast, &onVolume, 1), AuResultSuccess);
    ASSERT_EQ(list->AddContext(slow, &on40, 1), AuResultSuccess);
    ASSERT_EQ(list->AddContext(slow, &onVolume, 1), AuResultSuccess); // the same item, one more target
    EXPECT_EQ(list->ItemCount(), 2u);
    EXPECT_EQ(slow->users, 1u);
    Frame();
    Frame();
    const u64 bit40 = u64{1} << 40;
    u32 audio = 0, control = 0;
    list->CountTargets(bit40, audio, control);
    EXPECT_EQ(audio, 0u);
    EXPECT_EQ(control, 1u);
    EXPECT_FLOAT_EQ(list->GetStartFactor(bit40), slow->current * 2.0f);
    EXPECT_FLOAT_EQ(list->GetEndFactor(bit40), slow->recordEnd * 2.0f);
    list->CountTargets(1, audio, control);
    EXPECT_EQ(audio, 1u);
    EXPECT_EQ(control, 1u);
    AuModulatorSampleTarget buffers[2];
    AuModulatorFrameTarget ramps[2];
    list->GatherBuffersAndRamps(1, buffers, ramps, 2, 2, audio, control);
    ASSERT_EQ(audio, 1u);
    ASSERT_EQ(control, 1u);
    EXPECT_EQ(buffers[0].pValues, fast->pBuffer);
    EXPECT_EQ(buffers[0].fOffset, 0.5f);
    EXPECT_EQ(buffers[0].fScale, 0.5f);
    EXPECT_FLOAT_EQ(ramps[0].fStart, slow->current * 0.5f + 0.5f);
    EXPECT_FLOAT_EQ(ramps[0].fEnd, slow->recordEnd * 0.5f + 0.5f);
    // Each list stops at its capacity.
    list->GatherBuffersAndRamps(1 | bit40, buffers, ramps, 0, 1, audio, control);
    EXPECT_EQ(audio, 0u);
    EXPECT_EQ(control, 1u);
    // Bits 0 and 40 together: both products.
    EXPECT_FLOAT_EQ(list->GetEndFactor(1 | bit40), (fast->recordEnd * 0.5f + 0.5f) *
                                                       (slow->recordEnd * 0.5f + 0.5f) *
                                                       (slow->recordEnd * 2.0f));
    list->ClearTargets();
    list->CountTargets(~u64{0}, audio, control);
    EXPECT_EQ(audio + control, 0u);
    list->ReleaseShared();
    EXPECT_EQ(slow->users, 0u);
}

TEST_F(ModulatorEngineTest, TwoHoldersKeepOneListAliveUntilBothLetGo) {
    CAuModulator* lfo = Load(ModulatorRecord{HierarchyType::Lfo, 62, {PropI(0, 0)}, {}, {}});
    AuModulatorTrigger trigger;
    trigger.pGameObj = Object(0);
    CAuModulatorContext* context = Start(lfo, trigger);
    ASSERT_NE(context, nullptr);
    {
        CAuModulatorListHolder first;
        ASSERT_EQ(first.AddContext(context, {}), AuResultSuccess);
        CAuModulatorListHolder second = first;
        EXPECT_EQ(second.List(), first.List());
        first.Reset();
        EXPECT_EQ(second.List()->ItemCount(), 1u);
        EXPECT_EQ(context->users, 1u);
        Frame();
        EXPECT_EQ(modulators.Engine()->Count(), 1u); // a voice context lives while a list uses it
    }
    EXPECT_EQ(context->users, 0u);
    Frame(); // without users it ends
    EXPECT_EQ(modulators.Engine()->Count(), 0u);
    modulators.Update(); // and leaves its modulator
    AuRTPCKey key = trigger.Key();
    f32 value;
    EXPECT_FALSE(lfo->GetCurrentValue(key, value));
    ReleaseAll();
    EXPECT_EQ(Used(), m_usedAfterSetUp);
}

TEST_F(ModulatorEngineTest, ThePrivateContextsLastReaderMovesItOnAndReleaseReachesEnvelopes) {
    CAuModulator* envelope =
        Load(ModulatorRecord{HierarchyType::Envelope, 63, {PropI(0, 2), PropF(9, 1.0f)}, {}, {}});
    CAuModulator* global =
        Load(ModulatorRecord{HierarchyType::Envelope, 64, {PropI(0, 3), PropF(9, 1.0f)}, {}, {}});
    AuModulatorTrigger trigger;
    trigger.pGameObj = Object(0);
    CAuModulatorContext* own = Start(envelope, trigger);
    CAuModulatorContext* shared = Start(global, trigger);
    CAuModulatorListHolder a, b;
    ASSERT_EQ(a.AddContext(own, {}), AuResultSuccess);
    ASSERT_EQ(b.AddContext(own, {}), AuResultSuccess);
    ASSERT_EQ(a.AddContext(shared, {}), AuResultSuccess);
    Frame();
    a.List()->MarkConsumed();
    EXPECT_TRUE(own->bHasRecord); // one of two readers
    EXPECT_NE(shared->current, shared->recordEnd);
    b.List()->UnmarkConsumed(); // takes the one count back
    b.List()->MarkConsumed();
    b.List()->MarkConsumed();
    EXPECT_FALSE(own->bHasRecord);
    EXPECT_EQ(own->current, own->recordEnd);
    EXPECT_TRUE(shared->bHasRecord); // a global context moves on with the frame only
    a.List()->ReleaseAll(0);
    EXPECT_EQ(own->state, AU_MODULATOR_STATE_RELEASING);
    EXPECT_EQ(shared->state, AU_MODULATOR_STATE_RELEASING);
}

TEST_F(ModulatorEngineTest, AnInstancesModulatorsPauseResumeReleaseAndEndWithIt) {
    CAuModulator* envelope =
        Load(ModulatorRecord{HierarchyType::Envelope, 70, {PropI(0, 0), PropF(9, 1.0f)}, {}, {}});
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    params.pLinks = AuInstanceModulatorLinks();
    auto instance = std::make_unique<CAuPlaybackInstance>(params);
    struct Attach final : IAuModulatorTriggerCallback {
        explicit Attach(CAuPlaybackInstance& i) : instance(i) {}
        AURESULT OnContext(CAuModulatorContext& context, const AuModulatorTrigger&) noexcept override {
            return AuAttachModulator(instance, context, {});
        }
        CAuPlaybackInstance& instance;
    } attach(*instance);
    AuModulatorTrigger trigger;
    trigger.playingID = 1;
    trigger.pInstance = instance.get();
    ASSERT_EQ(envelope->Trigger(trigger, *modulators.Engine(), &attach), AuResultSuccess);
    ASSERT_NE(instance->ModulatorList(), nullptr);
    ASSERT_EQ(instance->KeyedParamIds().ModulatorIDs().Count(), 1u);
    EXPECT_EQ(instance->KeyedParamIds().ModulatorIDs()[0], 70u);
    AuRTPCKey key = trigger.Key();
    f32 value = 0.0f;
    ASSERT_TRUE(envelope->GetCurrentValue(key, value));
    Frame();
    CAuModulatorContext* context = nullptr;
    {
        ContextRecorder recorder;
        envelope->Trigger(trigger, *modulators.Engine(), &recorder); // the same context, retriggered
        context = recorder.last;
    }
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->users, 1u);
    Frame();
    const u64 elapsed = context->elapsed;
    instance->PauseNow(true);
    Frame();
    EXPECT_EQ(context->elapsed, elapsed);
    instance->ResumeNow();
    Frame();
    EXPECT_EQ(context->elapsed, elapsed + 1024);
    instance->ReleaseModulators();
    EXPECT_EQ(context->state, AU_MODULATOR_STATE_RELEASING);
    instance->Term(0);
    EXPECT_EQ(instance->ModulatorList(), nullptr);
    EXPECT_FALSE(envelope->GetCurrentValue(key, value));
    Frame();
    EXPECT_EQ(modulators.Engine()->Count(), 0u);
    instance.reset();
    ReleaseAll();
    modulators.Term();
    ASSERT_EQ(modulators.Init(), AuResultSuccess);
    EXPECT_EQ(Used(), m_usedAfterSetUp);
}

} // namespace
