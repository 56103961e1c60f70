// One pick of a random/sequence container's playlist at 2, 16, 256 and 1000 items: standard
// random with avoid-repeat 1, weighted, shuffle and sequence, beside std::uniform_int_distribution
// and std::discrete_distribution drawing from the same item counts and weights.
#include "core/AuObjectIndex.h"
#include "hierarchy/AuContainer.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <windows.h>

#include <random>
#include <vector>

namespace {

enum class Kind { Standard, Weighted, Shuffle, Sequence };

// Weights 1 to 100, the same for the container and the standard distribution.
std::vector<u32> Weights(u32 items) {
    std::vector<u32> weights(items);
    for (u32 i = 0; i < items; ++i)
        weights[i] = 1 + (i * 37) % 100;
    return weights;
}

class Playlist {
public:
    Playlist(Kind kind, u32 items) {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 8u << 20, 64, AuPoolAttrMalloc, 0);
        g_pIndex = &m_index;
        m_index.Init();
        m_container = CAuRandomSequenceContainer::Create(
            0x900, kind == Kind::Sequence ? AuPlaylistMode_Sequence : AuPlaylistMode_Random);
        const std::vector<u32> weights = Weights(items);
        for (u32 i = 0; i < items; ++i)
            m_container->AddPlaylistItem(0x1000 + i,
                                         kind == Kind::Weighted ? weights[i] : AU_PLAYLIST_UNWEIGHTED);
        if (kind == Kind::Standard) m_container->SetAvoidRepeatCount(1);
        if (kind == Kind::Shuffle) m_container->SetRandomMode(AuRandomMode_Shuffle);
        AURESULT result = AuResultSuccess;
        m_state = m_container->GetState(nullptr, result);
    }
    ~Playlist() {
        m_container->Release();
        m_index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
    }
    u16 Pick() {
        u16 index = 0;
        if (m_state->IsSequence())
            m_container->PickSequence(static_cast<CAuSequencePlaylistState&>(*m_state), index);
        else
            m_container->PickRandom(static_cast<CAuRandomPlaylistState&>(*m_state), index);
        return index;
    }

private:
    CAuObjectIndex m_index;
    CAuRandomSequenceContainer* m_container = nullptr;
    CAuPlaylistState* m_state = nullptr;
};

void BM_ContainerPick(benchmark::State& state, Kind kind) {
    srand(1);
    Playlist playlist(kind, static_cast<u32>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(playlist.Pick());
    state.SetItemsProcessed(state.iterations());
}

void BM_StdUniform(benchmark::State& state) {
    std::mt19937 engine(1);
    std::uniform_int_distribution<u32> pick(0, static_cast<u32>(state.range(0)) - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(pick(engine));
    state.SetItemsProcessed(state.iterations());
}

void BM_StdDiscrete(benchmark::State& state) {
    std::mt19937 engine(1);
    const std::vector<u32> weights = Weights(static_cast<u32>(state.range(0)));
    std::discrete_distribution<u32> pick(weights.begin(), weights.end());
    for (auto _ : state)
        benchmark::DoNotOptimize(pick(engine));
    state.SetItemsProcessed(state.iterations());
}

void Sizes(benchmark::internal::Benchmark* bench) {
    for (int items : {2, 16, 256, 1000})
        bench->Arg(items);
}

} // namespace

BENCHMARK_CAPTURE(BM_ContainerPick, standard, Kind::Standard)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_ContainerPick, weighted, Kind::Weighted)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_ContainerPick, shuffle, Kind::Shuffle)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_ContainerPick, sequence, Kind::Sequence)->Apply(Sizes);
BENCHMARK(BM_StdUniform)->Apply(Sizes);
BENCHMARK(BM_StdDiscrete)->Apply(Sizes);
BENCHMARK_MAIN();
