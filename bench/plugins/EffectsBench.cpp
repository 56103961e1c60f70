// The effect plug-ins on one 1024-frame buffer per iteration: the delay 106 and the stereo delay
// 135 in stereo, the room reverb 118 in stereo and 5.1, and the equaliser section of both beside
// a plain double-precision direct-form-I loop on the same samples. Each iteration first copies the
// noise input back into the buffer (the effects work in place); the copy is part of every figure.
#include "plugins/AuDelayEffect.h"
#include "plugins/AuEffectFilter.h"
#include "plugins/AuRoomReverbEffect.h"
#include "plugins/AuStereoDelayEffect.h"

#include <AU/AuEffectPlugins.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr u16 kFrames = 1024;
constexpr u32 kRate = 48000;

class BenchAllocator final : public AU::IAuPluginMemAlloc {
public:
    void* Malloc(size_t size) override {
        ++allocations;
        return std::aligned_alloc(16, (size + 15) & ~size_t{15});
    }
    void Free(void* block) override { std::free(block); }
    u64 allocations = 0;
};

class BenchContext final : public AU::IAuEffectPluginContext {
public:
    u32 GetMaxBufferLength() const noexcept override { return kFrames; }
    bool IsSendModeEffect() const noexcept override { return false; }
};

std::vector<f32> Noise(size_t count, u32 seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<f32> sample(-0.5f, 0.5f);
    std::vector<f32> samples(count);
    for (f32& s : samples)
        s = sample(random);
    return samples;
}

struct Buffer {
    explicit Buffer(AuChannelConfig config)
        : input(Noise(size_t{config.NumChannels()} * kFrames, config.uWord)) {
        data = static_cast<f32*>(std::aligned_alloc(16, input.size() * sizeof(f32)));
        buffer.pData = data;
        buffer.channelConfig = config;
        buffer.uMaxFrames = kFrames;
    }
    ~Buffer() { std::free(data); }
    void Refill() {
        memcpy(data, input.data(), input.size() * sizeof(f32));
        buffer.uValidFrames = kFrames;
        buffer.eState = AuResultDataReady;
    }
    std::vector<f32> input;
    f32* data;
    AuPipelineBuffer buffer;
};

void SetF32(AU::IAuPluginParam* params, u16 id, f32 value) {
    params->SetParam(id, &value, sizeof value);
}

// Runs one effect, its parameters set by `configure`, over one buffer per iteration.
template <typename Configure>
void RunEffect(benchmark::State& state, AU::IAuPlugin* (*create)(AU::IAuPluginMemAlloc*),
               AU::IAuPluginParam* (*createParams)(AU::IAuPluginMemAlloc*), u32 mask, Configure configure) {
    BenchAllocator allocator;
    BenchContext context;
    AU::IAuPluginParam* params = createParams(&allocator);
    params->Init(&allocator, nullptr, 0);
    configure(params);
    AU::IAuPlugin* effect = create(&allocator);
    AuPluginFormat format{kRate, AuChannelConfig::Standard(mask)};
    if (effect->Init(&allocator, &context, params, format) != AuResultSuccess) {
        state.SkipWithError("the effect did not start");
        return;
    }
    effect->Reset();
    Buffer buffer(format.channelConfig);
    const u64 before = allocator.allocations;
    for (auto _ : state) {
        buffer.Refill();
        effect->Execute(buffer.buffer);
        benchmark::DoNotOptimize(buffer.data[kFrames - 1]);
    }
    state.counters["allocs/buffer"] =
        benchmark::Counter(f64(allocator.allocations - before) / f64(std::max<u64>(state.iterations(), 1)));
    state.counters["ns/buffer"] = benchmark::Counter(
        f64(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    effect->Term(&allocator);
    params->Term(&allocator);
}

void BM_Delay106Stereo(benchmark::State& state) {
    RunEffect(state, CreateFx106, CreateFx106Params, AU_SPEAKER_SETUP_STEREO, [](AU::IAuPluginParam* p) {
        SetF32(p, CAuDelayEffectParams::Feedback, 50.0f);
        SetF32(p, CAuDelayEffectParams::FeedbackEnabled, 1.0f);
    });
}
BENCHMARK(BM_Delay106Stereo);

void BM_StereoDelay135Stereo(benchmark::State& state) {
    RunEffect(state, CreateFx135, CreateFx135Params, AU_SPEAKER_SETUP_STEREO, [](AU::IAuPluginParam* p) {
        SetF32(p, CAuStereoDelayEffectParams::FeedbackEnabled, 1.0f);
        SetF32(p, CAuStereoDelayEffectParams::CrossFeedbackEnabled, 1.0f);
        SetF32(p, CAuStereoDelayEffectParams::FilterType, 4.0f);
    });
}
BENCHMARK(BM_StereoDelay135Stereo);

void BM_Reverb118Stereo(benchmark::State& state) {
    RunEffect(state, CreateFx118, CreateFx118Params, AU_SPEAKER_SETUP_STEREO, [](AU::IAuPluginParam*) {});
}
BENCHMARK(BM_Reverb118Stereo);

void BM_Reverb118StereoNoER(benchmark::State& state) {
    RunEffect(state, CreateFx118, CreateFx118Params, AU_SPEAKER_SETUP_STEREO, [](AU::IAuPluginParam* p) {
        const u8 off = 0;
        p->SetParam(CAuRoomReverbEffectParams::EREnabled, &off, 1);
    });
}
BENCHMARK(BM_Reverb118StereoNoER);

void BM_Reverb118FiveOne(benchmark::State& state) {
    RunEffect(state, CreateFx118, CreateFx118Params, AU_SPEAKER_SETUP_5POINT1, [](AU::IAuPluginParam*) {});
}
BENCHMARK(BM_Reverb118FiveOne);

// The equaliser section four samples per step, and the plain loop it stands beside.
void BM_ProcessEffectFilter(benchmark::State& state) {
    AuEffectFilter filter;
    DesignEffectFilter(filter, AuEffectFilterPeaking, f32(kRate), 2000.0f, 6.0f, 1.0f);
    Buffer buffer(AuChannelConfig::Anonymous(1));
    for (auto _ : state) {
        buffer.Refill();
        ProcessEffectFilter(filter, buffer.data, kFrames);
        benchmark::DoNotOptimize(buffer.data[kFrames - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ProcessEffectFilter);

void BM_DirectFormIDouble(benchmark::State& state) {
    AuEffectFilter filter;
    DesignEffectFilter(filter, AuEffectFilterPeaking, f32(kRate), 2000.0f, 6.0f, 1.0f);
    const AuBiquadBlock& k = filter.coefficients;
    const f64 b0 = k.fB0, b1 = k.fB1, b2 = k.fB2, c = k.fC, d = k.fD;
    f64 x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    Buffer buffer(AuChannelConfig::Anonymous(1));
    for (auto _ : state) {
        buffer.Refill();
        f32* samples = buffer.data;
        for (u32 i = 0; i < kFrames; ++i) {
            const f64 x = samples[i];
            const f64 y = b0 * x + b1 * x1 + b2 * x2 + c * y1 + d * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            samples[i] = f32(y);
        }
        benchmark::DoNotOptimize(buffer.data[kFrames - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_DirectFormIDouble);

} // namespace

BENCHMARK_MAIN();
