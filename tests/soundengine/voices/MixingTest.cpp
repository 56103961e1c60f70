// Voices through the bus graph into the output devices, read back from the capture files.
#include "MixerPluginSupport.h"
#include "MixingTestSupport.h"
#include "VoiceTestSupport.h"
#include "core/AuRegistryMgr.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuRoomReverbEffect.h"
#include "voices/AuMixer.h"
#include "voices/AuResampler.h"
#include "voices/AuSpeakerPan.h"

#include "parameters/AuFastMath.h"

#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>
#include <bankgen/Effects.h>
#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace {

using voicetest::CaptureFile;
using voicetest::FakeBusNode;

constexpr u32 kFrame = AU_DEFAULT_SAMPLES_PER_FRAME;
constexpr f64 kToneHz = 1000.0;
constexpr f64 kToneLevel = 0.5;

// The aux-send busses the voices find by ID: the aux bus, and a bus that passes through to it.
constexpr u32 kAuxPassThrough = 0x2002;
constexpr f32 kAuxPassThroughDb = -6.0f;
FakeBusNode* g_auxNode = nullptr;
IAuMixBusNode* LookupAux(u32 id, f32& foldedDb) {
    if (!g_auxNode || (id != g_auxNode->id && id != kAuxPassThrough)) return nullptr;
    foldedDb = id == kAuxPassThrough ? kAuxPassThroughDb : 0.0f;
    g_auxNode->AddRef();
    return g_auxNode;
}

u32 EffectKey(u32 id) {
    return CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, id);
}

// Mean square of one captured frame's left channel, in full-scale units.
f64 FrameEnergy(const CaptureFile& file, u32 frame) {
    f64 sum = 0.0;
    for (u32 i = 0; i < kFrame; ++i) {
        const f64 sample = file.samples[2 * (size_t{kFrame} * frame + i)] / 32768.0;
        sum += sample * sample;
    }
    return sum / kFrame;
}

class MixingTest : public voicetest::VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        CAuLowerEngine::SetVoiceGraph(&m_mixer);
        InitLowerEngine();
        g_pVoiceCommandQueue = &m_mixer.Commands();
        m_mixer.SetBusNodeLookup(LookupAux);
        g_auxNode = &m_aux;
        SetTone(1.0);
        m_settings.Init();
    }
    void TearDown() override {
        CAuLowerEngine::TermVoices();
        m_instances.clear();
        m_settings.Term();
        g_pVoiceCommandQueue = nullptr;
        g_auxNode = nullptr;
        m_instances.clear();
        VoicesTest::TearDown();
        EXPECT_EQ(m_c.refs, 0);
        EXPECT_EQ(m_passThrough.refs, 0);
        EXPECT_EQ(m_master.refs, 0);
    }

    void SetTone(f64 seconds) {
        m_pcm = bankgen::ToPcm16({bankgen::Sine(kToneHz, seconds, 48000, kToneLevel)});
        m_media = bankgen::MakePcmWave(m_pcm, 1, 48000);
    }

    CAuPlaybackInstance& Play(IAuMixBusNode* bus, CAuRegisteredObj* gameObj = nullptr,
                              IAuInstanceNode* node = nullptr) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 11;
        params.pGameObj = gameObj;
        params.pNode = node;
        m_instances.push_back(std::make_unique<CAuPlaybackInstance>(params));
        CAuPlaybackInstance& instance = *m_instances.back();
        instance.SetSourceMedia(voicetest::InMemoryMedia(m_media.data(), m_media.size()));
        instance.SetOutputBusNode(bus);
        instance.Play({}, false, false);
        return instance;
    }

    // The audio thread's pass for one buffer.
    void Frame() {
        CAuVoiceCommands& commands = m_mixer.Commands();
        if (commands.HasVoicesToStart()) commands.StartPendingVoices();
        commands.ExecuteVoiceCommands();
        CAuLowerEngine::Perform(m_frame++);
    }

    CaptureFile StopAndRead(const char* name) {
        CAuLowerEngine::StopOutputCapture();
        return CaptureFile::Read(m_folder / name);
    }

    // What unity gains through the chain make of the tone's sample n on one output channel.
    f64 Expected(u64 n, f64 gain) const { return f64(m_pcm[n]) / 32768.0 * gain * 32767.0; }

    // The gains of a voice through four hierarchy busses into the device's master bus: the
    // voice's volume, its ray and its source level, and each bus's volume, each 0 dB through the
    // engine's conversion; the mono sound panned to the stereo centre.
    static f64 UnityGain() {
        const f64 unity = AuDbToLinear(0.0f);
        return AU_MINUS_3DB * std::pow(unity, 3) * std::pow(unity, 4);
    }

    // Every sample pair of one captured frame against the tone's frames from `toneStart`, each
    // scaled by gain(i); both channels alike.
    void ExpectFrame(const CaptureFile& file, u32 frame, u64 toneStart, const std::function<f64(u32)>& gain,
                     const char* what) {
        ASSERT_GE(file.samples.size(), size_t{2} * kFrame * (frame + 1)) << what;
        int bad = 0;
        for (u32 i = 0; i < kFrame; ++i) {
            const f64 want = toneStart + i < m_pcm.size() ? Expected(toneStart + i, gain(i)) : 0.0;
            for (u32 c = 0; c < 2; ++c) {
                const f64 got = file.samples[2 * (size_t{kFrame} * frame + i) + c];
                if (std::fabs(got - want) > 0.005 * kToneLevel * 32767.0 * UnityGain() + 1.0 && bad++ < 5)
                    ADD_FAILURE() << what << ": frame " << frame << " sample " << i << " channel " << c
                                  << " got " << got << " want " << want;
            }
        }
    }

    CAuMixer m_mixer;
    FakeBusNode m_master{0xE2B7BC37};
    FakeBusNode m_a{0x1001, &m_master};
    FakeBusNode m_b{0x1002, &m_a};
    FakeBusNode m_c{0x1003, &m_b};
    FakeBusNode m_aux{0x2001, &m_master};
    // A bus the mixing side never sees: it passes through to m_c.
    FakeBusNode m_passThrough{0x1004, &m_c};
    FakeBusNode m_reverb{0x3001, &m_master};
    voicetest::PlayedNode m_sound{0x5001};
    voicetest::InsertSettings m_settings;
    std::vector<i16> m_pcm;
    bankgen::Bytes m_media;
    std::vector<std::unique_ptr<CAuPlaybackInstance>> m_instances;
    u32 m_frame = 0;
};

TEST_F(MixingTest, AToneThreeBussesBelowTheMasterIsCapturedOnBothChannelsFromItsFirstFrame) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    Play(&m_c);
    for (int i = 0; i < 3; ++i)
        Frame();
    const CaptureFile file = StopAndRead("out.wav");
    ASSERT_TRUE(file.valid);
    EXPECT_EQ(file.channels, 2);
    EXPECT_EQ(file.dataSize, 3 * kFrame * 4);
    for (u32 frame = 0; frame < 3; ++frame)
        ExpectFrame(
            file, frame, u64{frame} * kFrame,
            [frame](u32 i) { return UnityGain() * (frame == 0 ? voicetest::EdgeRise(i) : 1.0); }, "unity");
    i16 peak = 0;
    for (u32 i = 0; i < kFrame; ++i)
        peak = std::max<i16>(peak, file.samples[2 * i]);
    i16 tonePeak = 0;
    for (u32 i = 0; i < kFrame; ++i)
        tonePeak = std::max(tonePeak, m_pcm[i]);
    EXPECT_NEAR(f64(peak) / (f64(tonePeak) / 32768.0 * 32767.0), UnityGain(), 0.005 * UnityGain());
}

TEST_F(MixingTest, BussesAreMadeOnFirstPlayReusedByTheNextAndRemovedOnceIdle) {
    SetTone(0.05); // 2400 samples: three frames
    Play(&m_c);
    Frame();
    // The device's master bus, the hierarchy's master and the three below it.
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 5u);
    EXPECT_EQ(m_mixer.Graph().Bus(0)->BusID(), CAuBusGraph::kMasterBusID);
    EXPECT_EQ(m_c.refs, 2); // the bus and the instance
    Play(&m_c);
    Frame();
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 5u);
    EXPECT_EQ(m_mixer.Commands().NumVoices(), 2u);
    while (m_mixer.Commands().NumVoices() > 0)
        Frame();
    // The frame the last voice ended in still mixed: the busses go at the end of the next.
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 5u);
    Frame();
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 0u);

    // A bus made in a frame without any voice lives through the end of the next frame.
    ASSERT_NE(m_mixer.Graph().GetOrCreateBus(&m_b, AuAudioOutputType_Main, 0), nullptr);
    Frame();
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 4u);
    Frame();
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 0u);
}

TEST_F(MixingTest, BusVolumesRampSilenceAndJump) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    Play(&m_c);
    Frame(); // 0: unity
    ASSERT_NE(AuBusOpsSeam::Get(), nullptr);
    AuBusOpsSeam::Get()->SetBusVolume(m_b.id, -6.0f);
    Frame(); // 1: ramp to -6 dB
    Frame(); // 2: -6 dB
    AuBusOpsSeam::Get()->OffsetBusVolume(m_b.id, -6.0f);
    Frame(); // 3: -12 dB at once
    AuBusOpsSeam::Get()->SetBusVolume(m_b.id, -800.0f);
    Frame(); // 4: ramp to silence
    Frame(); // 5: silence
    const CaptureFile file = StopAndRead("out.wav");
    ASSERT_TRUE(file.valid);
    const f64 unity = AuDbToLinear(0.0f);
    const f64 half = AuDbToLinear(-6.0f) / unity;
    const f64 quarter = AuDbToLinear(-12.0f) / unity;
    const f64 g = UnityGain();
    ExpectFrame(
        file, 1, kFrame, [&](u32 i) { return g * (1.0 + (half - 1.0) * i / kFrame); }, "ramp to -6 dB");
    ExpectFrame(
        file, 2, 2 * kFrame, [&](u32) { return g * half; }, "-6 dB");
    ExpectFrame(
        file, 3, 3 * kFrame, [&](u32) { return g * quarter; }, "offset -6 dB");
    // The bus ramps to silence, and the voice, now under the threshold through it, with it.
    ExpectFrame(
        file, 4, 4 * kFrame, [&](u32 i) { return g * quarter * std::pow(1.0 - f64(i) / kFrame, 2); },
        "to -800 dB");
    ExpectFrame(
        file, 5, 5 * kFrame, [](u32) { return 0.0; }, "silence");
}

TEST_F(MixingTest, AVoiceUnderTheThresholdRendersOneMoreFrameThenStopsAndFadesInWhenItComesBack) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    CAuPlaybackInstance& instance = Play(&m_c);
    Frame(); // 0
    int owner = 0;
    instance.SetMuteLevel(&owner, 0.0f, false);
    Frame(); // 1: the ramp down
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    EXPECT_TRUE(voice->MixState().levels.bAudible);
    EXPECT_TRUE(voice->MixState().levels.bAllBelowThreshold);
    Frame(); // 2: not heard
    EXPECT_FALSE(voice->MixState().levels.bAudible);
    instance.SetMuteLevel(&owner, 1.0f, false);
    Frame(); // 3: fades in
    EXPECT_TRUE(voice->MixState().levels.bAudible);
    Frame(); // 4
    const CaptureFile file = StopAndRead("out.wav");
    const f64 g = UnityGain();
    ExpectFrame(
        file, 1, kFrame, [&](u32 i) { return g * (1.0 - f64(i) / kFrame); }, "ramp down");
    ExpectFrame(
        file, 2, 2 * kFrame, [](u32) { return 0.0; }, "below");
    ExpectFrame(
        file, 3, 3 * kFrame, [&](u32 i) { return g * f64(i) / kFrame; }, "fade in");
    ExpectFrame(
        file, 4, 4 * kFrame, [&](u32) { return g; }, "back");
}

TEST_F(MixingTest, AnAuxOutputGoesInTheFrameItsSendGoes) {
    CAuPlaybackInstance& instance = Play(&m_c);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 1u);
    instance.SetUserSend(0, m_aux.id, 0.0f);
    Frame();
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 2u);
    EXPECT_NE(m_mixer.Graph().FindBus(m_aux.id, AuAudioOutputType_Main, 0), nullptr);
    instance.SetUserSend(0, 0, 0.0f);
    m_mixer.PreFrame();
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 1u);
    EXPECT_EQ(m_aux.refs, 1); // its bus, until the idle pass
}

// The send stays on the aux bus frame after frame, at the pass-through bus's volume. Against the
// dry path, which the voice's fade-in moves alike; the engine's decibels are good to 0.1 %.
TEST_F(MixingTest, ASendToAPassThroughBusGoesToItsMixingBusWithItsBusVolume) {
    CAuPlaybackInstance& instance = Play(&m_c);
    instance.SetUserSend(0, m_aux.id, 0.0f);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    const auto sendToDry = [&] {
        f32 send = -1.0f, dry = -1.0f;
        for (CAuVoiceOutput* output = voice->MixState().pOutputs; output; output = output->pNext)
            (output->eKind == CAuVoiceOutput::kDry ? dry : send) = output->fGain;
        return send / dry;
    };
    const f32 direct = sendToDry();
    EXPECT_NEAR(direct, 1.0f, 1e-3f);
    instance.SetUserSend(0, kAuxPassThrough, 0.0f);
    for (int i = 0; i < 3; ++i) {
        Frame();
        ASSERT_EQ(CAuMixer::NumOutputs(*voice), 2u) << "frame " << i;
        EXPECT_NEAR(sendToDry() / direct, std::pow(10.0f, kAuxPassThroughDb / 20.0f), 1e-3f) << "frame " << i;
    }
}

TEST_F(MixingTest, APausedVoiceKeepsItsIdleBussesAndMixesAgainWhenResumed) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    CAuPlaybackInstance& instance = Play(&m_c);
    Frame();
    m_mixer.Commands().QueueCommand(&instance, AuVoiceCommand_Pause);
    for (int i = 0; i < 4; ++i)
        Frame(); // 1: falls to silence; 2-4: paused
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 5u);
    EXPECT_EQ(m_mixer.Graph().FindBus(m_c.id, AuAudioOutputType_Main, 0)->Activity(), CAuMixBus::kIdle);
    m_mixer.Commands().QueueCommand(&instance, AuVoiceCommand_Resume);
    Frame(); // 5: where its fall ended, rising
    const CaptureFile file = StopAndRead("out.wav");
    ExpectFrame(
        file, 1, kFrame, [](u32 i) { return UnityGain() * (1.0 - f64(i + 1) / kFrame); }, "falling");
    ExpectFrame(
        file, 3, 0, [](u32) { return 0.0; }, "paused");
    ExpectFrame(
        file, 5, 2 * kFrame, [](u32 i) { return UnityGain() * voicetest::EdgeRise(i); }, "resumed");
}

TEST_F(MixingTest, AVoiceNoListenerHearsIsMixedOnceIntoItsDryBusInSilence) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    CAuRegisteredObj object(5); // listener 0, of the main output
    Play(&m_c, &object);
    Frame(); // 0: heard
    // The listeners change before the outputs follow: the voice keeps an output nobody hears.
    object.SetActiveListeners(0);
    for (int i = 0; i < 3; ++i) {
        Frame(); // 1: fades out over the buffer; 2, 3: silent but mixed
        CAuOutputBus* bus = m_mixer.Graph().FindBus(m_c.id, AuAudioOutputType_Main, 0);
        ASSERT_NE(bus, nullptr);
        EXPECT_EQ(bus->Activity(), CAuMixBus::kActive) << i;
    }
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    EXPECT_TRUE(voice->MixState().bHeardByNone);
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 1u);
    const CaptureFile file = StopAndRead("out.wav");
    ExpectFrame(
        file, 0, 0, [](u32 i) { return UnityGain() * voicetest::EdgeRise(i); }, "heard");
    for (u32 frame : {2u, 3u})
        ExpectFrame(
            file, frame, frame * kFrame, [](u32) { return 0.0; }, "heard by none");
}

TEST_F(MixingTest, ASecondaryOutputAddedDuringPlayCapturesTheSameSignal) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    Play(&m_c);
    Frame(); // 0
    AuOutputSettings settings{};
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(settings, AuAudioOutputType_SecondaryB, 0, 0x2, 0),
              AuResultSuccess);
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 2u);
    for (int i = 0; i < 3; ++i)
        Frame(); // 1-3
    const CaptureFile main = StopAndRead("out.wav");
    const CaptureFile second = CaptureFile::Read(m_folder / "out1.wav");
    ASSERT_TRUE(second.valid);
    EXPECT_EQ(second.dataSize, 3 * kFrame * 4);
    // A new output of a sounding voice fades in over its first buffer, then follows the main one.
    const f64 g = UnityGain();
    ExpectFrame(
        second, 0, kFrame, [&](u32 i) { return g * f64(i) / kFrame; }, "secondary fade in");
    for (u32 frame = 1; frame < 3; ++frame)
        ExpectFrame(
            second, frame, u64{frame + 1} * kFrame, [&](u32) { return g; }, "secondary");
    ExpectFrame(
        main, 3, 3 * kFrame, [&](u32) { return g; }, "main");
    // The device goes: the voice keeps only its main output.
    ASSERT_EQ(CAuLowerEngine::RemoveSecondaryOutput(AuAudioOutputType_SecondaryB, 0), AuResultSuccess);
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 1u);
    Frame();
}

TEST_F(MixingTest, AGameObjectsVoicesFollowItsListenersAcrossDevices) {
    AuOutputSettings settings{};
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(settings, AuAudioOutputType_SecondaryB, 0, 0x2, 0),
              AuResultSuccess);
    CAuRegisteredObj object(5); // heard by listener 0, of the main output
    Play(&m_c, &object);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    auto devices = [&] {
        u32 types = 0;
        for (CAuVoiceOutput* output = voice->MixState().pOutputs; output; output = output->pNext)
            types |= output->uDeviceType;
        return types;
    };
    EXPECT_EQ(devices(), u32{AuAudioOutputType_Main});
    struct Step {
        u8 mask;
        u32 devices;
    } steps[] = {{0x3, AuAudioOutputType_Main | AuAudioOutputType_SecondaryB},
                 {0x2, AuAudioOutputType_SecondaryB},
                 {0x0, 0},
                 {0x1, AuAudioOutputType_Main}};
    u8 old = object.ActiveListeners();
    for (const Step& step : steps) {
        object.SetActiveListeners(step.mask);
        m_mixer.UpdateActiveListeners(&object, old, step.mask);
        old = step.mask;
        EXPECT_EQ(devices(), step.devices) << int(step.mask);
        Frame();
    }
    CAuLowerEngine::TermVoices();
    m_instances.clear();
}

TEST_F(MixingTest, AnOutputAnswersForTheListenersOfItsDevice) {
    CAuPlaybackInstance& instance = Play(&m_c);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    CAuVoiceOutput* output = voice->MixState().pOutputs;
    ASSERT_NE(output, nullptr);
    // An output to a device that has gone: no listeners.
    CAuVoiceOutput* orphan = CAuVoiceOutput::Create(voice, output->pBus, AuAudioOutputType_SecondaryA, 9,
                                                    CAuVoiceOutput::kDry, false, false);
    ASSERT_NE(orphan, nullptr);
    struct Case {
        const char* name;
        f32 mode, panner, panLR, panFR, centre;
        bool positioned;
        f32 pan[2];
        u32 rays, orphanRays;
    } cases[] = {
        {"2D", 0, 0, 40, 10, 100, false, {0, 0}, 0, 0},
        {"2D panner", 0, 1, 150, -30, 50, true, {1.0f, -0.3f}, 0, 0},
        {"2D panner to the left", 0, 1, -250, 300, 0, true, {-1.0f, 1.0f}, 0, 0},
        {"3D", 1, 1, 40, 10, 100, true, {0, 0}, 1, 0},
    };
    for (const Case& c : cases) {
        instance.SetPositioningProp(10, c.mode);
        instance.SetPositioningProp(64, c.panner);
        instance.SetPositioningProp(20, c.panLR);
        instance.SetPositioningProp(21, c.panFR);
        instance.SetPositioningProp(11, c.centre);
        EXPECT_EQ(output->IsPositioned(), c.positioned) << c.name;
        EXPECT_EQ(output->PositioningMode(), u8(c.mode)) << c.name;
        EXPECT_FLOAT_EQ(output->CentreFactor(), c.centre * 0.01f) << c.name;
        f32 pan[3] = {9, 9, 9};
        output->Get2DPanning(pan);
        EXPECT_FLOAT_EQ(pan[0], c.pan[0]) << c.name;
        EXPECT_FLOAT_EQ(pan[1], c.pan[1]) << c.name;
        EXPECT_EQ(pan[2], 0.0f) << c.name;
        EXPECT_EQ(output->NumRays(), c.rays) << c.name;
        EXPECT_EQ(orphan->NumRays(), c.orphanRays) << c.name;
    }
    AuVoiceRay ray;
    EXPECT_EQ(output->GetRay(0, ray), AuResultSuccess);
    EXPECT_EQ(ray.listenerMask, 0xFFu);
    EXPECT_EQ(output->GetRay(1, ray), AuResultFail);
    EXPECT_EQ(orphan->GetRay(0, ray), AuResultFail);
    EXPECT_EQ(output->ListenerMask(), 0xFFu);
    EXPECT_EQ(orphan->ListenerMask(), 0u);
    EXPECT_EQ(output->PlayingID(), 11u);
    EXPECT_EQ(output->GameObjectID(), 0u);
    f32 previous[8], current[8];
    output->GetMatrices(previous, current);
    EXPECT_EQ(previous[0], output->pPrevMatrix[0]);
    EXPECT_EQ(current[1], output->pMatrix[1]);
    EXPECT_GT(current[1], 0.0f);
    orphan->GetMatrices(previous, current);
    EXPECT_EQ(current[0], 0.0f);
    EXPECT_EQ(current[1], 0.0f);
    CAuVoiceOutput::Destroy(orphan);
}

TEST_F(MixingTest, NonFiniteVolumesAreSilenceAndNeverReachTheOutputAsUndefinedValues) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    CAuPlaybackInstance& instance = Play(&m_c);
    const f32 bad[] = {NAN, INFINITY, -INFINITY};
    for (f32 value : bad) {
        instance.SetOwnerVolumeOffset(value);
        m_c.outputBusVolumeDb = value;
        Frame();
    }
    AuBusOpsSeam::Get()->SetBusVolume(m_a.id, INFINITY);
    Frame();
    const CaptureFile file = StopAndRead("out.wav");
    ASSERT_TRUE(file.valid);
    EXPECT_EQ(file.dataSize, 4 * kFrame * 4);
    for (u32 frame = 0; frame < 4; ++frame)
        ExpectFrame(
            file, frame, 0, [](u32) { return 0.0; }, "non-finite");
}

TEST_F(MixingTest, AVoiceWithoutABusNodeGoesToTheDevicesMasterBus) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    Play(nullptr);
    Frame();
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 1u);
    const CaptureFile file = StopAndRead("out.wav");
    const f64 unity = AuDbToLinear(0.0f);
    ExpectFrame(
        file, 0, 0, [&](u32 i) { return AU_MINUS_3DB * std::pow(unity, 3) * voicetest::EdgeRise(i); },
        "master only");
}

TEST_F(MixingTest, AVoiceOnAPassThroughBusMixesIntoTheBusBelowWithThePassThroughBussVolume) {
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    m_c.outputBusVolumeDb = -12.0f;
    m_passThrough.outputBusVolumeDb = -6.0f;
    CAuPlaybackInstance& instance = Play(&m_c);
    instance.SetOutputBusNode(&m_c, &m_passThrough);
    EXPECT_EQ(instance.GetOutputBusVolume(), -6.0f);
    Frame();
    // The device's master bus, the hierarchy's master and the three below it; none for the bus
    // that passes through.
    EXPECT_EQ(m_mixer.Graph().NumBusses(), 5u);
    const CaptureFile file = StopAndRead("out.wav");
    // The pass-through bus's -6 dB in place of the voice volume's unity, not m_c's -12 dB.
    const f64 gain = UnityGain() / AuDbToLinear(0.0f) * AuDbToLinear(-6.0f);
    ExpectFrame(
        file, 0, 0, [&](u32 i) { return gain * voicetest::EdgeRise(i); }, "pass-through");
}

TEST_F(MixingTest, AReverbInsertRingsOnAfterItsBussesVoiceEndsAndTheBusThenGoesIdle) {
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID, CreateFx118,
                                             CreateFx118Params),
              AuResultSuccess);
    CAuPluginSettings* settings = m_settings.Make(0x118, EffectKey(AU_FX_ROOM_REVERB_ID));
    ASSERT_TRUE(settings && settings->ParamObject());
    const f32 decay = 0.5f;
    const f32 preDelay = 20.0f;
    ASSERT_EQ(settings->ParamObject()->SetParam(CAuRoomReverbEffectParams::DecayTime, &decay, 4),
              AuResultSuccess);
    ASSERT_EQ(settings->ParamObject()->SetParam(CAuRoomReverbEffectParams::PreDelay, &preDelay, 4),
              AuResultSuccess);
    // The tail: (pre-delay + decay) x rate = 24960 frames, a little over 24 buffers.
    constexpr u32 kTailBuffers = (24960 + kFrame - 1) / kFrame;
    m_reverb.effectSlot = 0;
    m_reverb.effectSettings = settings;
    SetTone(0.05);
    struct Case {
        bool bypassAll;
        const wchar_t* file;
        const char* name;
        u32 minLinger, maxLinger; // frames the bus outlives its last voice
    } cases[] = {
        {false, L"ringing.wav", "ringing.wav", kTailBuffers - 1, kTailBuffers + 2},
        {true, L"bypassed.wav", "bypassed.wav", 0, 2},
    };
    for (const Case& c : cases) {
        m_reverb.bypassAll = c.bypassAll;
        CAuLowerEngine::StartOutputCapture(c.file);
        Play(&m_reverb);
        u32 frames = 0;
        while ((frames == 0 || m_mixer.Commands().NumVoices() > 0) && frames < 20) {
            Frame();
            ++frames;
        }
        const u32 voiceEnd = frames;
        ASSERT_NE(m_mixer.Graph().FindBus(m_reverb.id, AuAudioOutputType_Main, 0), nullptr) << c.name;
        EXPECT_EQ(settings->m_lRef, 2u) << c.name << ": the test's and the insert's";
        while (m_mixer.Graph().FindBus(m_reverb.id, AuAudioOutputType_Main, 0) && frames < 100) {
            Frame();
            ++frames;
        }
        const u32 busGone = frames;
        EXPECT_GE(busGone - voiceEnd, c.minLinger) << c.name;
        EXPECT_LE(busGone - voiceEnd, c.maxLinger) << c.name;
        EXPECT_EQ(settings->m_lRef, 1u) << c.name << ": the insert let go with its bus";
        Frame();
        Frame();
        const CaptureFile file = StopAndRead(c.name);
        ASSERT_TRUE(file.valid) << c.name;
        ASSERT_EQ(file.samples.size(), size_t{2} * kFrame * (busGone + 2)) << c.name;
        EXPECT_GT(FrameEnergy(file, 0), 1e-3) << c.name << ": the tone";
        if (!c.bypassAll) {
            // Heard after the voice, fading, then silent once the bus is gone.
            const f64 early = FrameEnergy(file, voiceEnd + 1);
            const f64 late = FrameEnergy(file, busGone - 2);
            EXPECT_GT(early, 1e-7) << "the tail after the voice";
            EXPECT_GT(late, 0.0) << "still ringing two buffers before the end";
            EXPECT_LT(late, early / 10.0) << "the tail decays";
        }
        for (u32 frame = busGone + (c.bypassAll ? 0 : 1); frame < busGone + 2; ++frame)
            EXPECT_EQ(FrameEnergy(file, frame), 0.0) << c.name << " frame " << frame;
        for (u32 frame = voiceEnd + 1; c.bypassAll && frame < busGone + 2; ++frame)
            EXPECT_EQ(FrameEnergy(file, frame), 0.0) << c.name << " frame " << frame;
    }
}

TEST_F(MixingTest, ABusWithAMixerPluginIsHeardAsItsMixerMixesTheVoice) {
    voicetest::RegisterTestMixer();
    const f32 gain = 0.5f;
    CAuPluginSettings* settings = m_settings.Make(0x3A1, voicetest::TestMixerKey(), &gain, sizeof gain);
    ASSERT_TRUE(settings && settings->ParamObject());
    SetTone(0.05);
    struct Case {
        bool mixer;
        const wchar_t* file;
        const char* name;
    } cases[] = {{false, L"matrix.wav", "matrix.wav"}, {true, L"mixer.wav", "mixer.wav"}};
    f64 peaks[2][2] = {};
    for (const Case& c : cases) {
        m_reverb.mixerSettings = c.mixer ? settings : nullptr;
        CAuLowerEngine::StartOutputCapture(c.file);
        Play(&m_reverb);
        do
            Frame();
        while (m_mixer.Graph().FindBus(m_reverb.id, AuAudioOutputType_Main, 0) && m_frame < 100);
        EXPECT_EQ(voicetest::g_mixer.live, 0) << c.name << ": the mixer ended with its bus";
        const CaptureFile file = StopAndRead(c.name);
        ASSERT_TRUE(file.valid) << c.name;
        ASSERT_GE(file.samples.size(), size_t{2} * kFrame) << c.name;
        for (u32 i = 0; i < kFrame; ++i)
            for (u32 ch = 0; ch < 2; ++ch)
                peaks[c.mixer][ch] = std::max(peaks[c.mixer][ch], std::fabs(f64(file.samples[2 * i + ch])));
    }
    // The mixer takes the voice at its own gain, without the voice's volumes or the pan matrix;
    // the busses above apply their volumes alike in both runs.
    const f64 voiceGain = AU_MINUS_3DB * std::pow(f64(AuDbToLinear(0.0f)), 3);
    for (u32 ch = 0; ch < 2; ++ch) {
        ASSERT_GT(peaks[0][ch], 1000.0) << ch;
        EXPECT_NEAR(peaks[1][ch] / peaks[0][ch], gain / voiceGain, 0.005 * gain / voiceGain) << ch;
    }
    EXPECT_EQ(settings->m_lRef, 1u);
}

TEST_F(MixingTest, TheWalkOverPluginInstancesFindsBusInsertsAndVoiceEffectsMadeFromTheSettings) {
    ASSERT_EQ(
        CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params),
        AuResultSuccess);
    AuDelayBlock block;
    block.fDelayTime = 0.1f;
    block.fWetDryMix = 50.0f;
    u8 bytes[AuDelayBlock::kSize];
    AuWriteBlock(block, bytes);
    CAuPluginSettings* echo = m_settings.Make(0x106, EffectKey(AU_FX_DELAY_ID), bytes, sizeof bytes);
    CAuPluginSettings* other = m_settings.Make(0x107, EffectKey(AU_FX_DELAY_ID), bytes, sizeof bytes);
    ASSERT_TRUE(echo && echo->ParamObject() && other && other->ParamObject());
    m_reverb.effectSlot = 1;
    m_reverb.effectSettings = echo;
    m_sound.records[2] = {echo, false};
    m_sound.records[3] = {other, false};
    SetTone(0.05);
    Play(&m_reverb, nullptr, &m_sound);
    Frame();

    struct Visit {
        CAuPluginParamHolder* holder;
        AuRTPCKey key;
    };
    static std::vector<Visit> s_visits;
    s_visits.clear();
    const AuPluginInstanceVisit note = [](CAuPluginParamHolder& holder, void*) {
        s_visits.push_back({&holder, holder.Key()});
    };
    CAuLowerEngine::ForEachPluginInstance(*echo, note, nullptr);
    const CAuOutputBus* bus = m_mixer.Graph().FindBus(m_reverb.id, AuAudioOutputType_Main, 0);
    ASSERT_NE(bus, nullptr);
    ASSERT_EQ(s_visits.size(), 2u);
    EXPECT_EQ(s_visits[0].holder, bus->InsertHolder(1)) << "the busses first";
    EXPECT_TRUE(s_visits[0].key.IsGlobal());
    const CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(s_visits[1].holder, voice->Effect(2)->Holder());
    EXPECT_EQ(s_visits[1].key.playingID, 11u) << "the voice's own key";

    s_visits.clear();
    CAuLowerEngine::ForEachPluginInstance(*other, note, nullptr);
    ASSERT_EQ(s_visits.size(), 1u);
    EXPECT_EQ(s_visits[0].holder, voice->Effect(3)->Holder());

    // Every instance holds its settings until it ends with its voice or bus.
    EXPECT_EQ(echo->m_lRef, 3u);
    while (m_mixer.Graph().NumBusses() > 0 && m_frame < 100)
        Frame();
    s_visits.clear();
    CAuLowerEngine::ForEachPluginInstance(*echo, note, nullptr);
    EXPECT_TRUE(s_visits.empty());
    EXPECT_EQ(echo->m_lRef, 1u);
    EXPECT_EQ(other->m_lRef, 1u);
}

TEST_F(MixingTest, OutputsAddedToAVoiceGoFirstAndARemovedOneLeavesTheOthersLinked) {
    Play(&m_c);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    ASSERT_EQ(CAuMixer::NumOutputs(*voice), 1u);
    CAuVoiceOutput* dry = voice->MixState().pOutputs;
    CAuOutputBus* aux = m_mixer.Graph().GetOrCreateBus(&m_aux, AuAudioOutputType_Main, 0);
    CAuOutputBus* b = m_mixer.Graph().GetOrCreateBus(&m_b, AuAudioOutputType_Main, 0);
    ASSERT_TRUE(aux && b);
    CAuVoiceOutput* send = voice->AddOutput(aux, AuAudioOutputType_Main, 0, CAuVoiceOutput::kUserSend);
    CAuVoiceOutput* second = voice->AddOutput(b, AuAudioOutputType_Main, 0, CAuVoiceOutput::kGameSend);
    ASSERT_TRUE(send && second);
    EXPECT_TRUE(voice->Flags() & CAuVoiceContext::kFlagOutputsChanged);
    EXPECT_EQ(voice->MixState().pOutputs, second);
    EXPECT_EQ(second->pNext, send);
    EXPECT_EQ(send->pNext, dry);
    EXPECT_EQ(send->eKind, CAuVoiceOutput::kUserSend);
    EXPECT_EQ(aux->NumInputs(), 1u);
    voice->RemoveOutput(send);
    EXPECT_EQ(second->pNext, dry);
    EXPECT_EQ(aux->NumInputs(), 0u) << "the bus no longer counts the voice";
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), 2u);
    voice->RemoveOutput(second);
    EXPECT_EQ(voice->MixState().pOutputs, dry);
    Frame();
}

TEST_F(MixingTest, AnOutputRegistersItsBussLayoutWithTheDeviceOrIsNotMade) {
    Play(&m_c);
    Frame();
    CAuVoiceContext* voice = m_mixer.Commands().FirstVoice();
    ASSERT_NE(voice, nullptr);
    CAuOutputDevice* device = CAuLowerEngine::FindDevice(AuAudioOutputType_Main, 0);
    ASSERT_NE(device, nullptr);
    struct Case {
        AuChannelConfig layout;
        std::vector<u32> tables; // the masks the device has tables for afterwards
    };
    const Case cases[] = {
        // 5.1 without its LFE, and the same without the centre.
        {AuChannelConfig::Standard(0x60F), {0x607, 0x603}},
        // 7.1 is limited to the masks the panner knows.
        {AuChannelConfig::Standard(0x63F), {0x637, 0x633}},
        {AuChannelConfig::Standard(0x33), {0x33}},
        // Another kind of layout is taken as it is.
        {AuChannelConfig::Anonymous(4), {}},
    };
    // The busses hold their nodes until the voices end below.
    std::deque<FakeBusNode> nodes;
    u32 id = 0x4001;
    for (const Case& c : cases) {
        FakeBusNode& node = nodes.emplace_back(id++, &m_master);
        node.config = c.layout;
        CAuOutputBus* bus = m_mixer.Graph().GetOrCreateBus(&node, AuAudioOutputType_Main, 0);
        ASSERT_NE(bus, nullptr);
        for (u32 mask : c.tables)
            ASSERT_EQ(CAuSpeakerPan::GetPanTable(*device, mask), nullptr) << std::hex << mask;
        const u32 tablesBefore = device->panTables.Count();
        CAuVoiceOutput* output = voice->AddOutput(bus, AuAudioOutputType_Main, 0, CAuVoiceOutput::kUserSend);
        ASSERT_NE(output, nullptr) << std::hex << c.layout.uWord;
        EXPECT_EQ(device->panTables.Count(), tablesBefore + c.tables.size()) << std::hex << c.layout.uWord;
        for (u32 mask : c.tables)
            EXPECT_NE(CAuSpeakerPan::GetPanTable(*device, mask), nullptr) << std::hex << mask;
        // A second output to a layout the device knows adds nothing.
        CAuVoiceOutput* again = voice->AddOutput(bus, AuAudioOutputType_Main, 0, CAuVoiceOutput::kGameSend);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(device->panTables.Count(), tablesBefore + c.tables.size());
        voice->RemoveOutput(again);
        voice->RemoveOutput(output);
        EXPECT_EQ(bus->NumInputs(), 0u);
    }

    // No device of that identity takes the layout: the output is not made, the bus keeps no input.
    FakeBusNode& stereo = nodes.emplace_back(0x4101, &m_master);
    stereo.config = AuChannelConfig::Standard(0x3);
    CAuOutputBus* bus = m_mixer.Graph().GetOrCreateBus(&stereo, AuAudioOutputType_Main, 0);
    ASSERT_NE(bus, nullptr);
    const u32 outputs = CAuMixer::NumOutputs(*voice);
    EXPECT_EQ(voice->AddOutput(bus, AuAudioOutputType_Main, 7, CAuVoiceOutput::kUserSend), nullptr);
    EXPECT_EQ(CAuMixer::NumOutputs(*voice), outputs);
    EXPECT_EQ(bus->NumInputs(), 0u);
    Frame();
    CAuLowerEngine::TermVoices();
    for (const FakeBusNode& node : nodes)
        EXPECT_EQ(node.refs, 0) << std::hex << node.id;
}

TEST_F(MixingTest, AGameParameterCurveOnABusInsertMovesTheRunningEchosLevel) {
    ASSERT_EQ(
        CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params),
        AuResultSuccess);
    CAuTransitionMgr transitions;
    ASSERT_EQ(transitions.Init(0), AuResultSuccess);
    g_pTransitionMgr = &transitions;
    CAuRTPCMgr rtpcs;
    ASSERT_EQ(rtpcs.Init(), AuResultSuccess);
    g_pRTPCMgr = &rtpcs;
    // The 0.1 s delay whose wet level follows a game parameter from 0 to 100 %.
    constexpr u32 kVolume = 0x51DE;
    AuDelayBlock block;
    block.fDelayTime = 0.1f;
    block.fWetDryMix = 50.0f;
    bankgen::PluginSettingsRecord record =
        bankgen::EffectSettings(0x106, block, bankgen::HierarchyType::SharedPluginSettings);
    bankgen::RtpcCurve curve;
    curve.gameParameter = kVolume;
    curve.target = CAuDelayEffectParams::WetDryMix;
    curve.curveId = 1;
    curve.points = {{0, 0, 4}, {100, 100, 4}};
    record.rtpcs = {curve};
    CAuPluginSettings* settings = m_settings.Load(record);
    ASSERT_TRUE(settings && settings->ParamObject());
    m_reverb.effectSlot = 0;
    m_reverb.effectSettings = settings;
    // The click once the voice's start has risen.
    m_pcm.assign(4800, 0);
    m_pcm[voicetest::kEdgeRise] = 16384;
    m_media = bankgen::MakePcmWave(m_pcm, 1, 48000);

    struct Case {
        f32 moveTo;       // the game parameter after the first buffer
        f64 echoPerClick; // the echo's level against the click's, which was half wet
        const wchar_t* file;
        const char* name;
    } cases[] = {
        {50.0f, 1.0, L"kept.wav", "kept.wav"},
        {0.0f, 0.0, L"dry.wav", "dry.wav"},
        {100.0f, 2.0, L"wet.wav", "wet.wav"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(rtpcs.SetRTPCImmediate(kVolume, 50.0f, AuRTPCKey{}), AuResultSuccess);
        CAuLowerEngine::StartOutputCapture(c.file);
        Play(&m_reverb);
        Frame();
        ASSERT_EQ(rtpcs.SetRTPCImmediate(kVolume, c.moveTo, AuRTPCKey{}), AuResultSuccess);
        while (m_mixer.Graph().FindBus(m_reverb.id, AuAudioOutputType_Main, 0) && m_frame < 200)
            Frame();
        const CaptureFile file = StopAndRead(c.name);
        ASSERT_TRUE(file.valid) << c.name;
        const size_t frames = file.samples.size() / 2;
        size_t click = 0;
        while (click < frames && file.samples[2 * click] == 0)
            ++click;
        ASSERT_LT(click + 4800, frames) << c.name;
        const f64 clickLevel = file.samples[2 * click];
        EXPECT_GT(clickLevel, 1000.0) << c.name;
        EXPECT_NEAR(file.samples[2 * (click + 4800)] / clickLevel, c.echoPerClick, 0.01) << c.name;
    }
    m_settings.Term();
    EXPECT_EQ(rtpcs.SubscriptionCount(), 0u) << "every insert left with its bus";
    g_pRTPCMgr = nullptr;
    rtpcs.Term();
    g_pTransitionMgr = nullptr;
    transitions.Term();
}

} // namespace
