// The whole audio frame: N looping PCM voices (44.1 kHz media, mono or stereo, at pitch 0 or
// +-300 cents) through a three-level bus tree into the silent main output, 1024 frames at 48 kHz.
// Beside it, in the same run: a plain reference mixer (scalar linear resampling, a gain ramp and
// accumulation of the same voices into one stereo buffer) and OpenAL's loopback device rendering
// the same voices. Each prints the voices one core mixes in real time (21.33 ms per frame); the
// engine also its ratio to the reference.
#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuMixer.h"
#include "voices/AuResampler.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/StreamMgr.h>
#include <bankgen/Media.h>

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr u32 kMediaRate = 44100;
constexpr u32 kOutputRate = 48000;
constexpr f64 kFrameSeconds = 1024.0 / kOutputRate;

// A bus of the tree with its parent; unity volume, the device's layout.
class BenchBus final : public IAuMixBusNode {
public:
    BenchBus(u32 id, BenchBus* parent) : m_id(id), m_parent(parent) {}
    void AddRef() noexcept override {}
    void Release() noexcept override {}
    u32 BusNodeID() noexcept override { return m_id; }
    IAuMixBusNode* ParentBusNode() noexcept override { return m_parent; }
    AuChannelConfig ChannelConfig() noexcept override { return AuChannelConfig(); }
    f32 GetProperty(u32) noexcept override { return 0.0f; }
    bool HasPositioning() noexcept override { return false; }
    bool IsMotionBus() noexcept override { return false; }
    bool HasDynamicRange() noexcept override { return false; }
    bool ReleaseInDecibels() noexcept override { return true; }
    bool TakeDynamicRangeChanged() noexcept override { return false; }
    void SetDynamicRangeGain(f32) noexcept override {}
    f32 OutputBusVolumeDb() noexcept override { return 0.0f; }
    bool GetLevelWindow(AuLevelWindow&) noexcept override { return false; }
    void ReportLevel(f32) noexcept override {}
    void GetInsertEffect(u32, AuEffectRecord& record) noexcept override { record = AuEffectRecord{}; }
    bool BypassAllEffects() noexcept override { return false; }
    void GetMixerPlugin(AuEffectRecord& record) noexcept override { record = AuEffectRecord{}; }

private:
    u32 m_id;
    BenchBus* m_parent;
};

struct Media {
    std::vector<i16> samples; // interleaved
    bankgen::Bytes wave;
    u16 channels;
};

const Media& GetMedia(u16 channels) {
    static std::map<u16, Media> media;
    Media& m = media[channels];
    if (m.wave.empty()) {
        std::vector<std::vector<float>> signal;
        for (u16 c = 0; c < channels; ++c)
            signal.push_back(bankgen::Sine(220.0 * (c + 1), 1.0, kMediaRate, 0.25));
        m.samples = bankgen::ToPcm16(signal);
        m.wave = bankgen::MakePcmWave(m.samples, channels, kMediaRate);
        m.channels = channels;
    }
    return m;
}

// The cents of voice v: 0, or alternately +300 and -300.
f32 CentsOf(u32 v, bool pitched) {
    return pitched ? (v % 2 ? -300.0f : 300.0f) : 0.0f;
}

void Report(benchmark::State& state, u32 voices) {
    const f64 seconds = state.iterations() ? f64(state.iterations()) : 1.0;
    state.counters["frame_ms"] =
        benchmark::Counter(seconds * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["voices_per_core"] =
        benchmark::Counter(f64(voices) * kFrameSeconds * seconds, benchmark::Counter::kIsRate);
}

// The reference: per voice, linear interpolation at the voice's step, a ramped gain and the
// mono centre or the stereo pair added into one stereo buffer.
class ReferenceMixer {
public:
    ReferenceMixer(u32 voices, const Media& media, bool pitched)
        : m_channels(media.channels), m_length(media.samples.size() / media.channels),
          m_source(media.samples.size()), m_positions(voices, 0.0), m_steps(voices), m_out(2 * 1024) {
        for (size_t i = 0; i < m_source.size(); ++i)
            m_source[i] = media.samples[i] / 32768.0f;
        for (u32 v = 0; v < voices; ++v)
            m_steps[v] = f64(kMediaRate) / kOutputRate * std::exp2(CentsOf(v, pitched) / 1200.0);
    }

    void Frame() {
        std::fill(m_out.begin(), m_out.end(), 0.0f);
        for (size_t v = 0; v < m_positions.size(); ++v) {
            f64 position = m_positions[v];
            const f32 start = 0.7f;
            const f32 step = (0.75f - start) / 1024.0f;
            for (u32 i = 0; i < 1024; ++i) {
                const size_t at = size_t(position);
                const f32 t = f32(position - f64(at));
                const size_t next = at + 1 < m_length ? at + 1 : 0;
                const f32 gain = start + step * f32(i);
                for (u32 c = 0; c < 2; ++c) {
                    const u32 sc = m_channels == 1 ? 0 : c;
                    const f32 a = m_source[at * m_channels + sc];
                    const f32 b = m_source[next * m_channels + sc];
                    m_out[2 * i + c] += (a + (b - a) * t) * gain;
                }
                position += m_steps[v];
                if (position >= f64(m_length)) position -= f64(m_length);
            }
            m_positions[v] = position;
        }
        benchmark::DoNotOptimize(m_out.data());
    }

    // Seconds per frame over a short run, for the engine's ratio.
    f64 Measure() {
        constexpr int kFrames = 30;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i)
            Frame();
        return std::chrono::duration<f64>(std::chrono::steady_clock::now() - start).count() / kFrames;
    }

private:
    u32 m_channels;
    size_t m_length;
    std::vector<f32> m_source;
    std::vector<f64> m_positions;
    std::vector<f64> m_steps;
    std::vector<f32> m_out;
};

// The engine: lower engine with the voice graph, a silent main output.
void BM_EngineFrame(benchmark::State& state) {
    const u32 voices = u32(state.range(0));
    const Media& media = GetMedia(u16(state.range(1)));
    const bool pitched = state.range(2) != 0;
    CAuMixer mixer;
    CAuLowerEngine::SetPlatformInitSettings(nullptr);
    CAuLowerEngine::SetVoiceGraph(&mixer);
    AuOutputSettings output{};
    output.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    if (CAuLowerEngine::Init(output, AU_SINK_OPTION_DUMMY) != AuResultSuccess) {
        state.SkipWithError("no lower engine");
        return;
    }
    g_pVoiceCommandQueue = &mixer.Commands();
    BenchBus master(1, nullptr), music(2, &master), group(3, &music), leaf(4, &group);
    std::vector<std::unique_ptr<CAuPlaybackInstance>> instances;
    for (u32 v = 0; v < voices; ++v) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1 + v;
        instances.push_back(std::make_unique<CAuPlaybackInstance>(params));
        CAuPlaybackInstance& instance = *instances.back();
        instance.SetLoopCount(0);
        AuSourceMedia source;
        source.uFlags = AuSourceMedia::kStorageInMemory << AuSourceMedia::kStorageShift;
        source.uPluginID = 1u << 16;
        source.pData = media.wave.data();
        source.uSize = static_cast<u32>(media.wave.size());
        instance.SetSourceMedia(source);
        instance.SetOutputBusNode(&leaf);
        instance.HandleParamNotification({2, nullptr, AuRTPCKey{}, false, CentsOf(v, pitched)});
        instance.Play({}, false, false);
    }
    mixer.Commands().StartPendingVoices();
    mixer.Commands().ExecuteVoiceCommands();
    u32 frame = 0;
    CAuLowerEngine::Perform(frame++);
    if (mixer.Commands().NumVoices() != voices) state.SkipWithError("voices did not start");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        CAuLowerEngine::Perform(frame++);
    const f64 engineSeconds = std::chrono::duration<f64>(std::chrono::steady_clock::now() - start).count() /
                              f64(state.iterations() ? state.iterations() : 1);
    Report(state, voices);
    // How many times the plain reference's time the engine takes for the same voices.
    state.counters["x_reference"] = engineSeconds / ReferenceMixer(voices, media, pitched).Measure();
    CAuLowerEngine::TermVoices();
    g_pVoiceCommandQueue = nullptr;
    instances.clear();
    CAuLowerEngine::Term();
    CAuLowerEngine::SetVoiceGraph(nullptr);
}

void BM_ReferenceFrame(benchmark::State& state) {
    const u32 voices = u32(state.range(0));
    ReferenceMixer mixer(voices, GetMedia(u16(state.range(1))), state.range(2) != 0);
    for (auto _ : state)
        mixer.Frame();
    Report(state, voices);
}

// OpenAL's loopback device rendering the same voices into float stereo.
void BM_OpenALFrame(benchmark::State& state) {
    const u32 voices = u32(state.range(0));
    const Media& media = GetMedia(u16(state.range(1)));
    const bool pitched = state.range(2) != 0;
    auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
        alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    auto render =
        reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    ALCdevice* device = openLoopback ? openLoopback(nullptr) : nullptr;
    if (!device || !render) {
        state.SkipWithError("no OpenAL loopback device");
        return;
    }
    const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT,
                                 ALC_STEREO_SOFT,
                                 ALC_FORMAT_TYPE_SOFT,
                                 ALC_FLOAT_SOFT,
                                 ALC_FREQUENCY,
                                 ALCint(kOutputRate),
                                 ALC_MONO_SOURCES,
                                 256,
                                 ALC_STEREO_SOURCES,
                                 256,
                                 0};
    ALCcontext* context = alcCreateContext(device, attributes);
    alcMakeContextCurrent(context);
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    alBufferData(buffer, media.channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16, media.samples.data(),
                 ALsizei(media.samples.size() * sizeof(i16)), ALsizei(kMediaRate));
    std::vector<ALuint> sources(voices);
    alGenSources(ALsizei(voices), sources.data());
    for (u32 v = 0; v < voices; ++v) {
        alSourcei(sources[v], AL_BUFFER, ALint(buffer));
        alSourcei(sources[v], AL_LOOPING, AL_TRUE);
        alSourcef(sources[v], AL_PITCH, f32(std::exp2(CentsOf(v, pitched) / 1200.0)));
        alSourcePlay(sources[v]);
    }
    std::vector<f32> out(2 * 1024);
    if (alGetError() != AL_NO_ERROR) state.SkipWithError("OpenAL could not play every voice");
    for (auto _ : state) {
        render(device, out.data(), 1024);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, voices);
    alDeleteSources(ALsizei(voices), sources.data());
    alDeleteBuffers(1, &buffer);
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(context);
    alcCloseDevice(device);
}

void Arguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"voices", "channels", "pitched"});
    for (i64 voices : {16, 64, 256})
        for (i64 channels : {1, 2})
            for (i64 pitched : {0, 1})
                b->Args({voices, channels, pitched});
}
BENCHMARK(BM_EngineFrame)->Apply(Arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceFrame)->Apply(Arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenALFrame)->Apply(Arguments)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 24, 64, AuPoolAttrMalloc, 16);
    AuStreamMgrSettings streams;
    AU::StreamMgr::GetDefaultSettings(streams);
    AU::StreamMgr::Create(streams);
    SetOutputSampleRate(kOutputRate);
    SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
    CAuResampler::InitKernels();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
    return 0;
}
