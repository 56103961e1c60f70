// One audio frame of the transition manager with both pools full (255 + 255 records), each
// record with one user, half on curves and half exponential.
#include "core/AuTransitionMgr.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

namespace {

class SinkUser : public IAuTransitionTarget {
public:
    void TransUpdateValue(u32, f32 value, bool) noexcept override { sum += value; }
    f32 sum = 0;
};

void ProcessTransitionsListFullPools(benchmark::State& state) {
    const AuMemoryMgrSettings settings{4};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
    {
        CAuTransitionMgr mgr;
        mgr.Init(0);
        mgr.SetOutputTiming(21, 1024);
        SinkUser user;
        u32 frame = 0;
        const auto fill = [&] {
            for (u32 pool = 0; pool < 2; ++pool)
                while (mgr.Count(pool) < mgr.Capacity()) {
                    const u32 n = mgr.Count(pool);
                    AuTransitionParams params{&user,      n,       0.0f,
                                              1.0f,       1000000, AuCurveInterpolation(n % 9),
                                              n % 4 == 1, true,    n % 2 == 1};
                    mgr.AddTransition(params, true, pool);
                }
        };
        fill();
        for (auto _ : state) {
            mgr.ProcessTransitionsList(++frame);
            if (frame % 40000 == 0) {
                state.PauseTiming();
                fill(); // a million ms lasts about 47000 frames
                state.ResumeTiming();
            }
        }
        benchmark::DoNotOptimize(user.sum);
        state.counters["records"] = f64(mgr.Count(0) + mgr.Count(1));
        mgr.Term();
    }
    AU::MemoryMgr::Term();
    g_DefaultPoolId = -1;
}
BENCHMARK(ProcessTransitionsListFullPools)->Unit(benchmark::kMicrosecond);

} // namespace
