// The device mixing kernels against their plain reference loops and against memcpy of the same
// float bytes (the bandwidth ceiling): stereo, 5.1 and 7.1 interleaving with a gain ramp, and the
// 16-bit capture conversion. One frame of 1024 samples per channel per iteration; prints samples
// per second and the ratios at the end.
#include "voices/AuMixKernels.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr u16 kFrames = 1024;

struct Layout {
    const char* name;
    u32 mask;
};
constexpr Layout kLayouts[] = {{"stereo", AU_SPEAKER_SETUP_STEREO},
                               {"5.1", AU_SPEAKER_SETUP_5POINT1},
                               {"7.1", AU_SPEAKER_SETUP_7POINT1}};

// Aligned planar source, interleaved float and 16-bit destinations of one layout.
struct Buffers {
    explicit Buffers(u32 mask) : config(AuChannelConfig::Standard(mask)) {
        const size_t samples = size_t{config.NumChannels()} * kFrames;
        planar = static_cast<f32*>(std::aligned_alloc(64, samples * sizeof(f32)));
        out = static_cast<f32*>(std::aligned_alloc(64, samples * sizeof(f32)));
        pcm = static_cast<i16*>(std::aligned_alloc(64, samples * sizeof(i16)));
        std::mt19937 random(mask);
        std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
        for (size_t i = 0; i < samples; ++i)
            planar[i] = sample(random);
        memset(out, 0, samples * sizeof(f32));
        memset(pcm, 0, samples * sizeof(i16));
        src.pData = planar;
        src.channelConfig = config;
        src.uMaxFrames = src.uValidFrames = kFrames;
        dst = src;
        dst.pData = out;
    }
    ~Buffers() {
        std::free(planar);
        std::free(out);
        std::free(pcm);
    }
    size_t Samples() const { return size_t{config.NumChannels()} * kFrames; }

    AuChannelConfig config;
    f32* planar;
    f32* out;
    i16* pcm;
    AuPipelineBuffer src;
    AuPipelineBuffer dst;
};

void BM_Interleave(benchmark::State& state) {
    Buffers b(kLayouts[state.range(0)].mask);
    AuRamp ramp;
    ramp.Set(kFrames);
    for (auto _ : state) {
        MixChannelsByMask(ramp, b.src, b.dst, 0.5f, 0.25f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * b.Samples());
}

void BM_InterleaveScalar(benchmark::State& state) {
    Buffers b(kLayouts[state.range(0)].mask);
    for (auto _ : state) {
        AuMixReference::InterleaveRamp(b.src, kFrames, b.out, 0.5f, -0.25f / kFrames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * b.Samples());
}

void BM_Memcpy(benchmark::State& state) {
    Buffers b(kLayouts[state.range(0)].mask);
    for (auto _ : state) {
        memcpy(b.out, b.planar, b.Samples() * sizeof(f32));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * b.Samples());
}

void BM_To16Bit(benchmark::State& state) {
    Buffers b(kLayouts[state.range(0)].mask);
    for (auto _ : state) {
        memset(b.pcm, 0, b.Samples() * sizeof(i16));
        ConvertTo16Bit(b.planar, kFrames, b.pcm, kFrames, b.config, 0.5f, 0.25f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * b.Samples());
}

void BM_To16BitScalar(benchmark::State& state) {
    Buffers b(kLayouts[state.range(0)].mask);
    for (auto _ : state) {
        memset(b.pcm, 0, b.Samples() * sizeof(i16));
        AuMixReference::ConvertTo16Bit(b.planar, kFrames, b.pcm, kFrames, b.config, 0.5f, 0.25f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * b.Samples());
}

BENCHMARK(BM_Interleave)->DenseRange(0, 2);
BENCHMARK(BM_InterleaveScalar)->DenseRange(0, 2);
BENCHMARK(BM_Memcpy)->DenseRange(0, 2);
BENCHMARK(BM_To16Bit)->DenseRange(0, 2);
BENCHMARK(BM_To16BitScalar)->DenseRange(0, 2);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto items = run.counters.find("items_per_second");
            if (run.run_type == Run::RT_Iteration && items != run.counters.end())
                perSecond[run.benchmark_name()] = items->second;
        }
    }
    double Get(const std::string& name) const {
        const auto found = perSecond.find(name);
        return found == perSecond.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> perSecond;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int i = 0; i < 3; ++i) {
        const std::string arg = "/" + std::to_string(i);
        const double memcpyRate = reporter.Get("BM_Memcpy" + arg);
        for (const char* kernel : {"BM_Interleave", "BM_To16Bit"}) {
            const double rate = reporter.Get(kernel + arg);
            const double scalar = reporter.Get(std::string(kernel) + "Scalar" + arg);
            if (rate == 0.0 || scalar == 0.0 || memcpyRate == 0.0) continue;
            printf("%-13s %-6s %7.1f M samples/s, x%.2f the scalar loop, %.2f of memcpy\n", kernel + 3,
                   kLayouts[i].name, rate / 1e6, rate / scalar, rate / memcpyRate);
        }
    }
    benchmark::Shutdown();
    return 0;
}
