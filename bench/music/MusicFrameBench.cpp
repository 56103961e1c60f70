// One audio frame of the music engine (MusicFrameCallback) with 8 and 64 playing roots, each
// asking for segment information and holding four state changes for sync points far ahead.
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "music/AuMusicEngine.h"
#include "music/AuMusicSequencer.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void CountCallback(AuCallbackType, AuCallbackInfo* info) {
    ++*static_cast<u64*>(info->pCookie);
}

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
    bool SeekTime(i32&, bool) noexcept override { return false; }
    bool SeekPercent(f32&, bool) noexcept override { return false; }
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
    bool NextSyncPosition(CAuMusicChainItem*, u32, u32, u64 from, u64& position) noexcept override {
        position = from + (u64{1} << 40);
        return true;
    }
    bool TakeSegmentChanged() noexcept override { return false; }
    // The segment carries no stingers.
    bool FindStinger(CAuMusicChainItem*, AuUniqueID, AuMusicStinger&) noexcept override { return false; }
    CAuMusicCtx* CreateStingerContext(AuUniqueID, u32&) noexcept override { return nullptr; }
    void ProcessStinger(CAuMusicCtx&, i64, u32) noexcept override {}
    void CancelStinger(CAuMusicCtx&, i64) noexcept override {}
    bool ItemSegment(CAuMusicChainItem*, AuMusicSegmentTimes& segment) noexcept override {
        segment = AuMusicSegmentTimes{0, 0xFFFFFFFF, 0, {120.0f, 24000, 96000, 12000, 0}, nullptr, 0};
        return true;
    }

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
    CAuPlayingMgr playing;
    playing.Init();
    g_pPlayingMgr = &playing;
    u64 notified = 0;
    BenchNode node;
    const u32 roots = static_cast<u32>(state.range(0));
    for (u32 i = 0; i < roots; ++i) {
        auto* ctx = AuMusicNew<BenchCtx>(nullptr, &node);
        ctx->AddRef();
        ctx->index = i;
        ctx->roots = roots;
        AuMusicPlayParams params;
        params.playingID = 100 + i;
        // Segment information and every music-sync notification.
        playing.AddPlayingID(params.playingID, 1, 1, CountCallback, &notified,
                             CAuMusicTopCtx::kFlagSegmentInfo | 0x3F00, nullptr);
        ctx->Play(params);
        ctx->Release();
    }
    for (u32 group = 0; group < 4 * roots; ++group)
        MusicStateChangeHandler(group, 1);
    state.counters["held"] = static_cast<f64>(g_pMusicEngine.load()->pendingStates.Count());
    for (auto _ : state)
        MusicFrameCallback(false);
    state.SetItemsProcessed(state.iterations());
    state.counters["notified"] =
        benchmark::Counter(static_cast<f64>(notified), benchmark::Counter::kAvgIterations);
    MusicFrameCallback(true);
    g_pPlayingMgr = nullptr;
    playing.Term();
    AU::MemoryMgr::Term();
    g_DefaultPoolId = AU_INVALID_POOL_ID;
}
BENCHMARK(MusicFrame)->Arg(8)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
