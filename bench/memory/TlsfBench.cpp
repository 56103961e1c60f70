// TLSF pool allocation (through the memory manager, under the pool's lock) against the C
// heap on the same workload: a set of live blocks per thread, each step frees one at random and
// allocates a new one of 8 to 4096 bytes. Prints the time ratio of each pair at the end.
#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kLive = 256;
constexpr size_t kSteps = 1 << 16;

AuMemPoolId g_benchPool = -1;

struct Workload {
    std::vector<u32> sizes;
    std::vector<u32> slots;
};

// The same sequence for both allocators; each thread draws its own.
Workload MakeWorkload(int thread) {
    std::mt19937 random(1234 + thread);
    std::uniform_int_distribution<u32> size(8, 4096);
    std::uniform_int_distribution<u32> slot(0, kLive - 1);
    Workload work;
    for (size_t i = 0; i < kSteps; ++i) {
        work.sizes.push_back(size(random));
        work.slots.push_back(slot(random));
    }
    return work;
}

template <class Allocate, class Release>
void Churn(benchmark::State& state, Allocate allocate, Release release) {
    const Workload work = MakeWorkload(state.thread_index());
    std::vector<void*> live(kLive, nullptr);
    size_t step = 0;
    for (auto _ : state) {
        const u32 slot = work.slots[step];
        release(live[slot]);
        live[slot] = allocate(work.sizes[step]);
        benchmark::DoNotOptimize(live[slot]);
        step = (step + 1) % kSteps;
    }
    for (void* block : live)
        release(block);
    state.SetItemsProcessed(state.iterations());
}

void BM_TlsfPool(benchmark::State& state) {
    Churn(
        state, [](u32 size) { return AU::MemoryMgr::Malloc(g_benchPool, size); },
        [](void* block) { AU::MemoryMgr::Free(g_benchPool, block); });
}

void BM_Malloc(benchmark::State& state) {
    Churn(
        state, [](u32 size) { return malloc(size); }, [](void* block) { free(block); });
}

BENCHMARK(BM_TlsfPool)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_Malloc)->Threads(1)->Threads(4)->UseRealTime();

// Keeps each run's time per step so the pairs can be compared after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                nsPerStep[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> nsPerStep;
};

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{4};
    if (AU::MemoryMgr::Init(&settings) != AuResultSuccess) return 1;
    g_benchPool = AU::MemoryMgr::CreatePool(nullptr, 64u << 20, 64, AuPoolAttrMalloc, 0);
    if (g_benchPool == -1) return 1;

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* threads : {"threads:1", "threads:4"}) {
        const std::string suffix = std::string("/real_time/") + threads;
        const auto tlsf = reporter.nsPerStep.find("BM_TlsfPool" + suffix);
        const auto heap = reporter.nsPerStep.find("BM_Malloc" + suffix);
        if (tlsf != reporter.nsPerStep.end() && heap != reporter.nsPerStep.end())
            printf("TLSF pool / malloc time per step, %s: %.2f (%.1f ns vs %.1f ns)\n", threads,
                   tlsf->second / heap->second, tlsf->second, heap->second);
    }
    benchmark::Shutdown();
    AU::MemoryMgr::Term();
    return 0;
}
