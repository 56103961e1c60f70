// Counting one play, and its end, through a sound and its output bus while N game objects each
// have a play counted there already: the sound's limit per game object (an entry found by a walk
// of the objects) beside one limit over all objects (a single list), at 8, 64 and 1024 objects.
#include "core/AuObjectIndex.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuSound.h"

#include <AU/MemoryMgr.h>

#include <bankgen/Records.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr u32 kBusID = 0x900, kSoundID = 0x901;

class Hierarchy {
public:
    explicit Hierarchy(u8 advancedFlags) {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 8u << 20, 64, AuPoolAttrMalloc, 0);
        g_pIndex = &m_index;
        m_index.Init();
        bankgen::BusRecord bus;
        bus.id = kBusID;
        bus.flags2 = 4; // a limit of its own, with no maximum: every play is listed
        m_bus = CAuBus::Create(kBusID);
        Read(bankgen::Record{bus},
             [this](AuRecordCursor& cursor) { return m_bus->SetInitialValues(cursor); });
        bankgen::SoundRecord sound;
        sound.id = kSoundID;
        sound.source.sourceId = 1;
        sound.node.outputBus = kBusID;
        sound.node.advancedFlags = advancedFlags;
        m_sound = CAuSound::Create(kSoundID);
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::Record{sound}, ctx);
        m_sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false);
    }
    ~Hierarchy() {
        m_sound->Release();
        m_bus->Release();
        m_index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
    }
    CAuSound& Sound() { return *m_sound; }

private:
    template <class ReadFn> static void Read(const bankgen::Record& record, ReadFn read) {
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(record, ctx);
        AuRecordCursor cursor(payload.data(), static_cast<u32>(payload.size()));
        read(cursor);
    }

    CAuObjectIndex m_index;
    CAuBus* m_bus = nullptr;
    CAuSound* m_sound = nullptr;
};

CAuRegisteredObj* Object(u32 n) {
    return reinterpret_cast<CAuRegisteredObj*>(static_cast<uintptr_t>(0x1000 + 16 * n));
}

void CountPlays(benchmark::State& state, u8 advancedFlags) {
    Hierarchy hierarchy(advancedFlags);
    CAuSound& sound = hierarchy.Sound();
    const u32 n = static_cast<u32>(state.range(0));
    for (u32 i = 0; i < n; ++i) {
        AuPlayCountRecord record;
        record.pGameObj = Object(i);
        sound.IncrementPlayCount(&record);
    }
    // The last object's entry: the longest walk.
    CAuRegisteredObj* last = Object(n - 1);
    for (auto _ : state) {
        AuPlayCountRecord start;
        start.pGameObj = last;
        benchmark::DoNotOptimize(sound.IncrementPlayCount(&start));
        AuPlayCountRecord end;
        end.pGameObj = last;
        sound.DecrementPlayCount(&end);
    }
    for (u32 i = 0; i < n; ++i) {
        AuPlayCountRecord record;
        record.pGameObj = Object(i);
        sound.DecrementPlayCount(&record);
    }
    // Nanoseconds per count and end.
    state.counters["ns/play"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e-9,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CountPerObject(benchmark::State& state) {
    CountPlays(state, 8);
}

void BM_CountAllObjects(benchmark::State& state) {
    CountPlays(state, 8 | 4);
}

BENCHMARK(BM_CountPerObject)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_CountAllObjects)->Arg(8)->Arg(64)->Arg(1024);

} // namespace
