// The audio manager's pending list with 10^4 records at random launch frames (1 to 10^4 frames
// ahead): what one insertion costs, and what one audio frame's launch costs when every record
// that runs schedules its successor (the list stays at 10^4).
#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuPendingAction.h"
#include "hierarchy/AuAction.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <new>

class CAuAudioMgrTestAccess {
public:
    static void SetFrame(CAuAudioMgr& mgr, u32 frame) { mgr.m_uFrameCounter = frame; }
};

namespace {

constexpr u32 kRecords = 10000;
constexpr i32 kFrame = 1024;

// Runs by scheduling another record of itself, when asked to.
class ChainAction : public CAuAction {
public:
    using CAuAction::CAuAction;
    AURESULT Execute(CAuPendingAction&) override {
        ++runs;
        if (chain) Schedule(*this);
        return AuResultSuccess;
    }
    static void Schedule(CAuAction& action) {
        g_pAudioMgr->EnqueueOrExecute(CAuPendingAction::Create(&action, nullptr, AuCustomPlayParams{}, 0));
    }
    u64 runs = 0;
    bool chain = false;
};

// The engine pieces the pending list touches: a pool, the object index, the audio manager.
struct Engine {
    Engine() {
        const AuMemoryMgrSettings settings{4};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
        index.Init();
        g_pIndex = &index;
        mgr.Init(4096);
        g_pAudioMgr = &mgr;
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(ChainAction));
        action = new (memory) ChainAction(1);
        action->SetPropValue(AuPropID_Delay, 0, kFrame, kRecords * kFrame);
    }
    ~Engine() {
        action->chain = false;
        mgr.Term();
        g_pAudioMgr = nullptr;
        action->Release();
        index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    CAuObjectIndex index;
    CAuAudioMgr mgr;
    ChainAction* action;
};

void PendingInsertion(benchmark::State& state) {
    Engine engine;
    for (auto _ : state) {
        for (u32 i = 0; i < kRecords; ++i)
            ChainAction::Schedule(*engine.action);
        state.PauseTiming();
        engine.mgr.ClearPendingList();
        state.ResumeTiming();
    }
    state.counters["insertion"] = benchmark::Counter(
        f64(kRecords), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(PendingInsertion)->Unit(benchmark::kMillisecond);

void PendingFrame(benchmark::State& state) {
    Engine engine;
    for (u32 i = 0; i < kRecords; ++i)
        ChainAction::Schedule(*engine.action);
    engine.action->chain = true;
    u32 frame = 0;
    for (auto _ : state) {
        CAuAudioMgrTestAccess::SetFrame(engine.mgr, ++frame);
        engine.mgr.ProcessPendingList();
    }
    state.counters["records"] = f64(engine.mgr.NumPendingItems());
    state.counters["runs_per_frame"] = f64(engine.action->runs) / f64(frame);
}
BENCHMARK(PendingFrame)->Unit(benchmark::kMicrosecond);

} // namespace
