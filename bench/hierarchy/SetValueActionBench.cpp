// The "all" resets of the set-value actions: 0x0B04 (reset the voice volume) and 0x0704 (unmute)
// over 1000 registered game objects that each modified 10 sounds, one holder per sound. Each
// execution finds every key in the index, runs the node's slot and releases it. The values are
// set again outside the timing so that every execution has work to undo. Prints the time of one
// execution and its share of the 21.33 ms that a 1024-sample frame at 48 kHz lasts.
#include "core/AuEngineManagers.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr u32 kObjects = 1000, kNodesPerObject = 10;
constexpr f64 kFrameUs = 1024.0 / 48000.0 * 1e6;

class Engine {
public:
    Engine() {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 64u << 20, 64, AuPoolAttrMalloc, 0);
        SetOutputTiming(1024);
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        m_rtpc.Init();
        g_pRegistryMgr = &m_registry;
        m_registry.Init();
        for (u32 o = 0; o < kObjects; ++o) {
            CAuRegisteredObj* object = m_registry.RegisterObject(100 + o, 1);
            m_objects.push_back(object);
            for (u32 n = 0; n < kNodesPerObject; ++n)
                m_sounds.push_back(CAuSound::Create(0x10000 + o * kNodesPerObject + n));
        }
    }
    ~Engine() {
        for (CAuSound* sound : m_sounds)
            sound->Release();
        m_registry.Term();
        g_pRegistryMgr = nullptr;
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        m_index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
    }
    // Every object's own sounds get a value for that object: -3 dB, or muted.
    void Modify(bool mute) {
        for (u32 o = 0; o < kObjects; ++o)
            for (u32 n = 0; n < kNodesPerObject; ++n) {
                CAuSound* sound = m_sounds[o * kNodesPerObject + n];
                if (mute)
                    sound->MuteFromAction(m_objects[o], 0, AuCurveInterpolation_Linear);
                else
                    sound->SetValueFromAction(AuPropID_Volume, -3.0f, m_objects[o], 0,
                                              AuCurveInterpolation_Linear, 0);
            }
    }

private:
    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuRegistryMgr m_registry;
    std::vector<CAuRegisteredObj*> m_objects;
    std::vector<CAuSound*> m_sounds;
};

void RunAllReset(benchmark::State& state, u16 type, bool mute) {
    Engine engine;
    CAuAction* action = CreateActionByType(type, 0);
    CAuPendingAction* record = CAuPendingAction::Create(action, nullptr, {}, 0);
    for (auto _ : state) {
        state.PauseTiming();
        engine.Modify(mute);
        state.ResumeTiming();
        benchmark::DoNotOptimize(action->Execute(*record));
    }
    CAuPendingAction::Destroy(record);
    action->Release();
    state.counters["us_per_exec"] =
        benchmark::Counter(1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["frame_share_pct"] = benchmark::Counter(
        kFrameUs / 1e8, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void ResetVolumeOfAll(benchmark::State& state) {
    RunAllReset(state, 0x0B04, false);
}
BENCHMARK(ResetVolumeOfAll)->Unit(benchmark::kMicrosecond);

void UnmuteAll(benchmark::State& state) {
    RunAllReset(state, 0x0704, true);
}
BENCHMARK(UnmuteAll)->Unit(benchmark::kMicrosecond);

} // namespace
