// One audio pass that runs 1000 posted events, each a play of a sound, up to the instance
// manager's start (voices and mixing not counted), and that pass's share of the 21.33 ms that
// one 1024-sample frame at 48 kHz lasts.
#include "banks/AuAction.h"
#include "banks/AuEvent.h"
#include "banks/AuSound.h"
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuEventMsgHandlers.h"
#include "core/AuListener.h"
#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <benchmark/benchmark.h>

namespace {

constexpr u32 kEvents = 1000;
constexpr u32 kObject = 10, kEvent = 0xFF0B3D05, kSound = 0x1001, kAction = 0x3001;
constexpr f64 kFrameUs = 1024.0 / 48000.0 * 1e6;

class CountingInstances final : public IAuNodeInstances {
public:
    AURESULT StartNode(CAuLeafNode&, const AuSourceInfo&, AuNodePlayParams&) override {
        ++starts;
        return AuResultSuccess;
    }
    void StopInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                             AuPlayingID) override {}
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                              AuPlayingID) override {}
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation, AuPlayingID,
                               bool) override {}
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj*, AuPlayingID) override {}
    u64 starts = 0;
};

// The managers the road touches, a registered object, and one event with one play of one sound.
struct Engine {
    Engine() {
        const AuMemoryMgrSettings settings{4};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 32u << 20, 64, AuPoolAttrMalloc, 0);
        index.Init();
        g_pIndex = &index;
        mgr.Init(1u << 20);
        g_pAudioMgr = &mgr;
        AuRegisterEventMsgHandlers(mgr);
        transitions.Init(0);
        g_pTransitionMgr = &transitions;
        rtpc.Init();
        g_pRTPCMgr = &rtpc;
        playing.Init();
        g_pPlayingMgr = &playing;
        CAuListener::Instance().Init();
        registry.Init();
        g_pRegistryMgr = &registry;
        registry.RegisterObject(kObject, 1);
        g_pNodeInstances = &instances;
        sound = CAuSound::Create(kSound);
        play = CreateActionByType(AU_ACTION_PLAY, kAction);
        play->SetElementID(kSound, false);
        event = CAuEvent::Create(kEvent);
        const u32 words[] = {kEvent, 1, kAction};
        AuRecordCursor cursor(reinterpret_cast<const u8*>(words), sizeof(words));
        event->SetInitialValues(cursor);
        event->AddToIndex();
    }
    ~Engine() {
        mgr.Term();
        g_pAudioMgr = nullptr;
        event->Release();
        play->Release();
        sound->Release();
        g_pNodeInstances = nullptr;
        registry.Term();
        g_pRegistryMgr = nullptr;
        CAuListener::Instance().Term();
        playing.Term();
        g_pPlayingMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
        transitions.Term();
        g_pTransitionMgr = nullptr;
        index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    CAuObjectIndex index;
    CAuAudioMgr mgr;
    CAuTransitionMgr transitions;
    CAuRTPCMgr rtpc;
    CAuPlayingMgr playing;
    CAuRegistryMgr registry;
    CountingInstances instances;
    CAuSound* sound;
    CAuAction* play;
    CAuEvent* event;
};

void EventRoadPass(benchmark::State& state) {
    Engine engine;
    for (auto _ : state) {
        state.PauseTiming();
        for (u32 i = 0; i < kEvents; ++i)
            AU::SoundEngine::PostEvent(kEvent, kObject);
        engine.mgr.RenderAudio();
        state.ResumeTiming();
        CAuMainLock lock;
        engine.mgr.ProcessMsgQueue();
        engine.mgr.ProcessPendingList();
    }
    state.counters["starts_per_pass"] = f64(engine.instances.starts) / f64(state.iterations());
    state.counters["us_per_pass"] =
        benchmark::Counter(1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["budget_share_pct"] = benchmark::Counter(
        kFrameUs / 1e8, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(EventRoadPass)->Unit(benchmark::kMicrosecond);

} // namespace
