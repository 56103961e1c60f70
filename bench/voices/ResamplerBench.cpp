// The pitch stage's and the voice filters' kernels on the same input as their references.
// Resampling 44.1 kHz into 48 kHz, 1024 output frames per iteration: the engine's fixed-step and
// ramping kernels (16-bit and float, mono and stereo) beside libsamplerate's SRC_LINEAR and a plain
// scalar linear interpolator; the step-1.0 16-bit copies, plain and vector. Filtering 1024 samples:
// the four-at-a-time section beside its one-sample recurrence, a voice's low-pass and high-pass
// pair, and the pair bypassed. Prints ns per output sample per channel and the ratios at the end.
#include "voices/AuBiquad.h"
#include "voices/AuResampler.h"
#include "voices/AuVoiceFilters.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr u16 kOutFrames = 1024;
constexpr u32 kInFrames = 4096;
constexpr u32 kInputRate = 44100;
constexpr u32 kOutputRate = 48000;

void Report(benchmark::State& state, u32 channels) {
    state.counters["ns/sample/ch"] =
        benchmark::Counter(f64(state.iterations()) * kOutFrames * channels,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A chirp with a little noise, the same samples in every form the contenders take.
struct Signal {
    std::vector<i16> pcm;         // interleaved
    std::vector<f32> planar;      // stride kInFrames
    std::vector<f32> interleaved; // for libsamplerate
    explicit Signal(u32 channels) {
        std::mt19937 random(1);
        std::uniform_real_distribution<f32> noise(-0.05f, 0.05f);
        planar.resize(size_t{kInFrames} * channels);
        for (u32 i = 0; i < kInFrames; ++i) {
            const f64 t = f64(i) / kInputRate;
            for (u32 c = 0; c < channels; ++c) {
                const f32 s = f32(0.6 * std::sin(2 * M_PI * (200 + 4000 * t) * t * (c + 1))) + noise(random);
                pcm.push_back(static_cast<i16>(s * 32767));
                planar[size_t{c} * kInFrames + i] = pcm.back() / 32768.0f;
                interleaved.push_back(pcm.back() / 32768.0f);
            }
        }
    }
};

struct Buffers {
    Signal signal;
    AuPipelineBuffer in;
    std::vector<f32> outStorage;
    AuPipelineBuffer out;
    Buffers(u32 channels, bool isFloat) : signal(channels), outStorage(size_t{kOutFrames} * channels + 4) {
        const AuChannelConfig config = AuChannelConfig::Anonymous(channels);
        in.channelConfig = out.channelConfig = config;
        in.pData = isFloat ? signal.planar.data() : reinterpret_cast<f32*>(signal.pcm.data());
        in.uMaxFrames = kInFrames;
        in.uValidFrames = kInFrames;
        out.pData = outStorage.data();
        out.uMaxFrames = kOutFrames;
    }
    // The input starts over when it is used up, as a looping source would hand it over.
    void Refill() {
        if (!in.uValidFrames) in.uValidFrames = kInFrames;
    }
};

// Arguments: 16 or 32 bits, channels, 0 fixed step or 1 ramping (a pitch change every buffer).
void BM_Resampler(benchmark::State& state) {
    const u32 bits = u32(state.range(0)), channels = u32(state.range(1));
    const bool ramp = state.range(2) != 0;
    Buffers b(channels, bits == 32);
    CAuResampler resampler;
    AuResamplerFormat format;
    format.uSampleRate = kInputRate;
    format.config = b.in.channelConfig;
    format.uBitsPerSample = bits;
    if (resampler.Init(format, kOutputRate) != AuResultSuccess) {
        state.SkipWithError("init");
        return;
    }
    resampler.SetPitch(0, false);
    f32 cents = 0;
    for (auto _ : state) {
        if (ramp) resampler.SetPitch(cents = cents == 0 ? 30.0f : 0.0f, true);
        for (;;) {
            b.Refill();
            if (resampler.Execute(b.in, b.out) == AuResultDataReady) break;
        }
        benchmark::ClobberMemory();
    }
    Report(state, channels);
}

void BM_SrcLinear(benchmark::State& state) {
    const u32 channels = u32(state.range(0));
    Signal signal(channels);
    int error = 0;
    SRC_STATE* src = src_new(SRC_LINEAR, int(channels), &error);
    std::vector<f32> out(size_t{kOutFrames} * channels);
    long at = 0;
    for (auto _ : state) {
        long produced = 0;
        while (produced < kOutFrames) {
            SRC_DATA data{};
            data.data_in = signal.interleaved.data() + at * channels;
            data.input_frames = long(kInFrames) - at;
            data.data_out = out.data() + produced * channels;
            data.output_frames = kOutFrames - produced;
            data.src_ratio = f64(kOutputRate) / kInputRate;
            src_process(src, &data);
            at += data.input_frames_used;
            produced += data.output_frames_gen;
            if (at == long(kInFrames)) at = 0;
        }
        benchmark::ClobberMemory();
    }
    src_delete(src);
    Report(state, channels);
}

// The obvious loop: a float position, two loads and a lerp per sample.
void BM_ScalarLinear(benchmark::State& state) {
    const u32 channels = u32(state.range(0));
    Signal signal(channels);
    std::vector<f32> out(size_t{kOutFrames} * channels);
    const f64 step = f64(kInputRate) / kOutputRate;
    f64 position = 0;
    for (auto _ : state) {
        for (u32 k = 0; k < kOutFrames; ++k) {
            u32 i = u32(position);
            if (i + 1 >= kInFrames) position -= kInFrames - 1, i = u32(position);
            const f32 fraction = f32(position - i);
            for (u32 c = 0; c < channels; ++c) {
                const f32* s = signal.planar.data() + size_t{c} * kInFrames;
                out[size_t{c} * kOutFrames + k] = s[i] + (s[i + 1] - s[i]) * fraction;
            }
            position += step;
        }
        benchmark::ClobberMemory();
    }
    Report(state, channels);
}

// Arguments: 0 plain or 1 vector, channels. Step 1.0 on 48 kHz media.
void BM_Copy16(benchmark::State& state) {
    const bool simd = state.range(0) != 0;
    const u32 channels = u32(state.range(1));
    Buffers b(channels, false);
    CAuResampler resampler;
    AuResamplerFormat format;
    format.uSampleRate = kOutputRate;
    format.config = b.in.channelConfig;
    resampler.Init(format, kOutputRate);
    resampler.SetPitch(0, false);
    const AuResampleKernel kernel =
        channels == 2 ? (simd ? &AuResampleCopies::Copy16StereoSimd : &AuResampleCopies::Copy16Stereo)
                      : (simd ? &AuResampleCopies::Copy16Simd : &AuResampleCopies::Copy16);
    for (auto _ : state) {
        while (kernel(resampler, b.in, b.out) != AuResultDataReady)
            b.Refill();
        b.Refill();
        benchmark::ClobberMemory();
    }
    Report(state, channels);
}

struct FilterInput {
    alignas(16) f32 samples[kOutFrames * 2];
    FilterInput() {
        std::mt19937 random(2);
        std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
        for (f32& s : samples)
            s = sample(random);
    }
};

// One channel through the low-pass at 40, run by `filter`.
template <class Filter> void RunLowPass(benchmark::State& state, Filter filter) {
    FilterInput input;
    AuBiquadBlock block;
    CAuVoiceFilters::LowPassCoefficients(block, 40.0f, 0);
    AuBiquadMemory memory{};
    for (auto _ : state) {
        filter(block, memory, input.samples, kOutFrames);
        benchmark::ClobberMemory();
    }
    Report(state, 1);
}

void BM_BiquadBlock(benchmark::State& state) {
    RunLowPass(state, [](auto&... args) { BiquadFilter(args...); });
}

void BM_BiquadScalar(benchmark::State& state) {
    RunLowPass(state, [](auto&... args) { AuBiquadReference::Filter(args...); });
}

// Argument: 1 with both filters at 40, 0 with both at 0 (bypassed). Stereo.
void BM_VoiceFilters(benchmark::State& state) {
    FilterInput input;
    CAuVoiceFilters filters;
    if (filters.Init(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 0) != AuResultSuccess) {
        state.SkipWithError("init");
        return;
    }
    const f32 value = state.range(0) ? 40.0f : 0.0f;
    filters.SetLowPass(value);
    filters.SetHighPass(value);
    AuPipelineBuffer buffer;
    buffer.pData = input.samples;
    buffer.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    buffer.uMaxFrames = buffer.uValidFrames = kOutFrames;
    for (auto _ : state) {
        filters.Process(buffer);
        benchmark::ClobberMemory();
    }
    Report(state, 2);
}

BENCHMARK(BM_Resampler)->ArgsProduct({{16, 32}, {1, 2}, {0, 1}});
BENCHMARK(BM_SrcLinear)->Arg(1)->Arg(2);
BENCHMARK(BM_ScalarLinear)->Arg(1)->Arg(2);
BENCHMARK(BM_Copy16)->ArgsProduct({{0, 1}, {1, 2, 6}});
BENCHMARK(BM_BiquadBlock);
BENCHMARK(BM_BiquadScalar);
BENCHMARK(BM_VoiceFilters)->Arg(1)->Arg(0);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto ns = run.counters.find("ns/sample/ch");
            // The inverted rate is in seconds per sample.
            if (run.run_type == Run::RT_Iteration && ns != run.counters.end())
                nsPerSample[run.benchmark_name()] = ns->second * 1e9;
        }
    }
    double Get(const std::string& name) const {
        const auto found = nsPerSample.find(name);
        return found == nsPerSample.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> nsPerSample;
};

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 16);
    CAuResampler::InitKernels();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (u32 channels : {1u, 2u}) {
        const std::string ch = "/" + std::to_string(channels);
        const double src = reporter.Get("BM_SrcLinear" + ch);
        const double scalar = reporter.Get("BM_ScalarLinear" + ch);
        for (const char* bits : {"16", "32"}) {
            for (const char* mode : {"0", "1"}) {
                const double ns = reporter.Get(std::string("BM_Resampler/") + bits + ch + "/" + mode);
                if (ns == 0.0 || src == 0.0 || scalar == 0.0) continue;
                printf(
                    "resampler %s-bit %u ch %-7s %6.2f ns/sample/ch: x%.2f as fast as SRC_LINEAR, x%.2f the "
                    "scalar loop\n",
                    bits, channels, *mode == '0' ? "fixed" : "ramping", ns, src / ns, scalar / ns);
            }
        }
    }
    const double block = reporter.Get("BM_BiquadBlock"), scalar = reporter.Get("BM_BiquadScalar");
    if (block > 0.0 && scalar > 0.0)
        printf("biquad block form x%.2f as fast as the direct form\n", scalar / block);
    const double active = reporter.Get("BM_VoiceFilters/1"), bypassed = reporter.Get("BM_VoiceFilters/0");
    if (active > 0.0) printf("voice filters: %.3f ns/sample/ch running, %.4f bypassed\n", active, bypassed);

    benchmark::Shutdown();
    AU::MemoryMgr::Term();
    return 0;
}
