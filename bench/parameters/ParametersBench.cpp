// The fast power of ten beside std::pow and exp2f on the same exponents, curve evaluation and
// the keyed-value lookup with fall-back on a tree of 1000 game objects x 10 playing IDs.
#include "parameters/AuFastMath.h"
#include "parameters/AuKeyedValues.h"
#include "parameters/AuParamCurve.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr size_t kInputs = 4096;

std::vector<f32> Decibels() {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> dB(-96.3f, 24.0f);
    std::vector<f32> values(kInputs);
    for (f32& v : values)
        v = dB(random);
    return values;
}

void DbToGainFast(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AuDbToLinear(dB[i]));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainFast);

void DbToGainStdPow(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::pow(10.0f, dB[i] * 0.05f));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainStdPow);

void DbToGainExp2f(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(exp2f(dB[i] * (0.05f * 3.321928f)));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainExp2f);

// A block of gains, as a voice's level is converted per buffer.
void DbToGainBlockFast(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    std::vector<f32> gains(kInputs);
    for (auto _ : state) {
        for (size_t i = 0; i < kInputs; ++i)
            gains[i] = AuDbToLinear(dB[i]);
        benchmark::DoNotOptimize(gains.data());
    }
    state.SetItemsProcessed(state.iterations() * kInputs);
}
BENCHMARK(DbToGainBlockFast);

void DbToGainBlockStdPow(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    std::vector<f32> gains(kInputs);
    for (auto _ : state) {
        for (size_t i = 0; i < kInputs; ++i)
            gains[i] = std::pow(10.0f, dB[i] * 0.05f);
        benchmark::DoNotOptimize(gains.data());
    }
    state.SetItemsProcessed(state.iterations() * kInputs);
}
BENCHMARK(DbToGainBlockStdPow);

// The engine's default pool for the benchmarks that allocate.
class PoolScope {
public:
    PoolScope() {
        const AuMemoryMgrSettings settings{4};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
    }
    ~PoolScope() {
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
};

void CurveConvert16Points(benchmark::State& state) {
    PoolScope pool;
    std::vector<AuCurvePoint> points;
    for (u32 i = 0; i < 16; ++i)
        points.push_back({f32(i) * 100.0f / 15.0f, -96.3f + f32(i) * 6.0f,
                          i % 2 ? AuCurveInterpolation_Linear : AuCurveInterpolation_EaseOutCubic});
    CAuParamCurve curve;
    curve.Set(points.data(), u32(points.size()), u32(state.range(0)));
    std::mt19937 random(16);
    std::uniform_real_distribution<f32> x(-5.0f, 105.0f);
    std::vector<f32> inputs(kInputs);
    for (f32& v : inputs)
        v = x(random);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve.Convert(inputs[i]));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(CurveConvert16Points)->Arg(AuCurveScaling_None)->Arg(AuCurveScaling_DbToLinear);

// 1000 objects x 10 playing IDs, half of the objects also with a value of their own; requests
// for (object, playing ID) hit exactly, fall back to the object, or to the global value.
void KeyedFindValue(benchmark::State& state) {
    PoolScope pool;
    {
        CAuKeyedValues<f32> values;
        *values.CreateSlot(AuRTPCKey{}) = 1.0f;
        const auto object = [](u32 i) {
            return reinterpret_cast<CAuRegisteredObj*>(uintptr_t(0x10000 + i * 64));
        };
        for (u32 o = 0; o < 1000; ++o) {
            if (o % 2) *values.CreateSlot(AuRTPCKey(object(o))) = f32(o);
            for (u32 p = 1; p <= 10; ++p) {
                AuRTPCKey key(object(o));
                key.playingID = p * 2; // even IDs stored, odd ones fall back
                *values.CreateSlot(key) = f32(p);
            }
        }
        std::mt19937 random(1000);
        std::vector<AuRTPCKey> requests(kInputs);
        for (AuRTPCKey& key : requests) {
            key = AuRTPCKey(object(random() % 1200)); // some objects have no values at all
            key.playingID = 1 + random() % 20;
        }
        size_t i = 0;
        for (auto _ : state) {
            AuRTPCKey key = requests[i];
            benchmark::DoNotOptimize(values.FindValue(key));
            i = (i + 1) % kInputs;
        }
    }
}
BENCHMARK(KeyedFindValue);

} // namespace

BENCHMARK_MAIN();
