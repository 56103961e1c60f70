// One audio frame of the game-object registry at its worst: a listener moved, so 500 objects in
// use, each heard by all 8 listeners from 4 positions, recompute their 32 emitter-listener pairs
// and feed the six built-in game parameters. Time per iteration is the cost per frame.
#include "core/AuEngineManagers.h"
#include "core/AuListener.h"
#include "core/AuRegistryMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr u32 kObjects = 500;
constexpr u16 kPositions = 4;

void UpdateObjects500x8x4(benchmark::State& state) {
    // Pools of its own; the memory manager of the program when it runs.
    const bool ownManager = !AU::MemoryMgr::IsInitialized();
    const AuMemoryMgrSettings settings{8};
    if (ownManager) AU::MemoryMgr::Init(&settings);
    const AuMemPoolId programPool = g_DefaultPoolId;
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
    g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 16);
    {
        CAuListener::Instance().Init();
        CAuRTPCMgr rtpc;
        rtpc.Init();
        g_pRTPCMgr = &rtpc;
        for (u32 kind = 1; kind <= 6; ++kind)
            rtpc.AddBuiltInParamBinding(kind, 1000 + kind);
        CAuRegistryMgr registry;
        registry.Init();
        g_pRegistryMgr = &registry;
        std::vector<CAuRegisteredObj*> held;
        for (u32 id = 1; id <= kObjects; ++id) {
            CAuRegisteredObj* object = registry.RegisterObject(id, 0xFF);
            AuSoundPosition positions[kPositions];
            for (u16 p = 0; p < kPositions; ++p)
                positions[p] = {{f32(id % 37) - 18.0f, f32(p), f32(id % 11) + 1.0f}, {0.0f, 0.0f, -1.0f}};
            object->SetPosition(positions, kPositions, AuMultiPositionType_MultiSources);
            object->SetObstructionOcclusion(id % 8, 0.25f, 0.75f);
            object->AddRef();
            held.push_back(object);
        }
        for (u32 i = 0; i < AU_NUM_LISTENERS; ++i)
            CAuListener::SetPosition(i, AuListenerPosition{{0, 0, 1}, {0, 1, 0}, {f32(i), 0, 0}});
        registry.UpdateObjects();
        f32 x = 0.0f;
        for (auto _ : state) {
            // The game moves listener 0 every frame: every object hears it.
            x += 0.01f;
            CAuListener::SetPosition(0, AuListenerPosition{{0, 0, 1}, {0, 1, 0}, {x, 0, 0}});
            CAuListener::UpdateChanged();
            registry.UpdateObjects();
        }
        state.counters["pairs"] = f64(held.front()->NumPairs());
        for (CAuRegisteredObj* object : held)
            object->Release();
        registry.Term();
        g_pRegistryMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
        CAuListener::Instance().Term();
    }
    AU::MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
    AU::MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;
    g_DefaultPoolId = programPool;
    if (ownManager) AU::MemoryMgr::Term();
}
BENCHMARK(UpdateObjects500x8x4)->Unit(benchmark::kMicrosecond);

} // namespace
