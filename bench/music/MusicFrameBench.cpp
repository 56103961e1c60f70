// One audio frame of the music engine (MusicFrameCallback) with 8 and 64 playing roots, each
// asking for segment information and holding four state changes for sync points far ahead.
#include "core/AuOutputTiming.h"
#include "music/AuMusicEngine.h"
#include "music/AuMusicSequencer.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

class BenchNode : public IAuMusicNode {
public:
    AuUniqueID NodeID() const noexcept override { return 1; }
    bool IncrementActivity(u32) noexcept override { return true; }
    void DecrementActivity(u32) noexcept override {}
    f32 PlaybackSpeed() noexcept override { return 1.0f; }
};

// A root playing one endless segment whose every state group syncs on a point far ahead.
class BenchCtx : public CAuMusicTopCtx {
public:
    using CAuMusicTopCtx::CAuMusicTopCtx;
    ~BenchCtx() override {
        while (AuMusicScheduledEntry* entry = item.pFirstEntry) {
            item.pFirstEntry = entry->pNext;
            AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        }
    }
    AURESULT GetSegmentInfo(AuSegmentInfo& info) noexcept override {
        info = AuSegmentInfo{static_cast<i32>(Sequencer()->Clock() / 48), 100, 2000, 300, 0};
        return AuResultSuccess;
    }
    bool SeekTime(i32, bool) noexcept override { return false; }
    bool SeekPercent(f32, bool) noexcept override { return false; }
    void ProcessWindow(u64 start, u32 length) noexcept override {
        Sequencer()->RunDueEntries(item, start, length);
    }
    CAuMusicChainItem* PlayingItem() noexcept override { return &item; }
    CAuMusicChainItem* NextItem(CAuMusicChainItem*) noexcept override { return nullptr; }
    IAuMusicNode* ItemNode(CAuMusicChainItem*) noexcept override { return Node(); }
    // Each root declares its own groups: group % roots.
    u32 StateSyncTypes(CAuMusicChainItem*, AuUniqueID group, u32* types, u32 max) noexcept override {
        if (max == 0 || group % roots != index) return 0;
        types[0] = 1;
        return 1;
    }
    bool NextSyncPosition(CAuMusicChainItem*, u32, u64 from, u64& position) noexcept override {
        position = from + (u64{1} << 40);
        return true;
    }
    bool TakeSegmentChanged() noexcept override { return false; }

    CAuMusicChainItem item;
    u32 index = 0;
    u32 roots = 1;
};

void MusicFrame(benchmark::State& state) {
    const AuMemoryMgrSettings settings{4};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
    g_uNumSamplesPerFrame = 1024;
    MusicEngineCreate(nullptr);
    BenchNode node;
    const u32 roots = static_cast<u32>(state.range(0));
    for (u32 i = 0; i < roots; ++i) {
        auto* ctx = AuMusicNew<BenchCtx>(nullptr, &node);
        ctx->AddRef();
        ctx->index = i;
        ctx->roots = roots;
        AuMusicPlayParams params;
        params.playingID = 100 + i;
        ctx->Play(params);
        // What AddInstance would hand back: segment information and every music notification.
        ctx->SetPlayFlags(CAuMusicTopCtx::kFlagSegmentInfo | 0x3F00);
        g_pMusicEngine.load()->segmentInfo.AddRow(params.playingID);
        ctx->Release();
    }
    for (u32 group = 0; group < 4 * roots; ++group)
        MusicStateChangeHandler(group, 1);
    state.counters["held"] = static_cast<f64>(g_pMusicEngine.load()->pendingStates.Count());
    for (auto _ : state)
        MusicFrameCallback(false);
    state.SetItemsProcessed(state.iterations());
    MusicFrameCallback(true);
    AU::MemoryMgr::Term();
    g_DefaultPoolId = AU_INVALID_POOL_ID;
}
BENCHMARK(MusicFrame)->Arg(8)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
