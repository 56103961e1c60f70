// Loading the hierarchy of a bank of 100 000 small records (play actions and the events that
// list them) and 1000 delay settings from memory: records per second through the chunk loop and
// the real readers, the delay's parameter object included.
#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"
#include "banks/AuBankReader.h"
#include "core/AuObjectIndex.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "plugins/AuDelayEffect.h"
#include "voices/AuLowerEngine.h"

#include <AU/AuEffectPlugins.h>
#include <AU/MemoryMgr.h>
#include <bankgen/Bank.h>
#include <bankgen/Effects.h>
#include <bankgen/Records.h>

#include "../banks/IgnoringSinks.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr u32 kPairs = 50000; // one action and one event each
constexpr u32 kSettings = 1000;

const bankgen::Bytes& BankImage() {
    static const bankgen::Bytes image = [] {
        bankgen::BankBuilder builder(0xBE4C0001);
        for (u32 i = 0; i < kPairs; ++i) {
            bankgen::ActionRecord play;
            play.id = 0x10000 + i;
            play.type = 0x0403;
            play.target = 0x500;
            play.bankId = 0xBE4C0001;
            builder.Add(play);
            builder.Add(bankgen::EventRecord{0x90000 + i, {play.id}});
        }
        // Shared delays whose wet level follows a game parameter.
        AuDelayBlock delay;
        delay.fDelayTime = 0.25f;
        delay.fWetDryMix = 50.0f;
        bankgen::RtpcCurve wet;
        wet.gameParameter = 0x7B5FA2EB;
        wet.target = CAuDelayEffectParams::WetDryMix;
        wet.curveId = 1;
        wet.points = {{0, 0, 4}, {100, 100, 4}};
        for (u32 i = 0; i < kSettings; ++i) {
            bankgen::PluginSettingsRecord settings =
                bankgen::EffectSettings(0x20000 + i, delay, bankgen::HierarchyType::SharedPluginSettings);
            settings.rtpcs = {wet};
            builder.Add(settings);
        }
        bankgen::Bytes out;
        std::vector<std::string> errors;
        builder.Build(out, errors);
        return out;
    }();
    return image;
}

void BM_LoadHierarchyFromMemory(benchmark::State& state) {
    const bankgen::Bytes& image = BankImage();
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 256u << 20, 64, AuPoolAttrMalloc, 0);
    CAuObjectIndex index;
    index.Init();
    g_pIndex = &index;
    AuInstallCoreHierarchyLoaders();
    g_LEngineDefaultPoolId = g_DefaultPoolId;
    CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params);
    IgnoringSinks others;
    for (auto _ : state) {
        CAuBankReader reader;
        reader.Init();
        reader.SetMemory(image.data(), static_cast<u32>(image.size()));
        CAuHierarchyLoader loader;
        AuBankObjectList list;
        loader.BeginBank(&list, nullptr, 0);
        CAuBankFileNames names;
        AuBankHeader header{};
        const AURESULT result =
            AuReadBank(reader, AuBankLoadModeLoad, false,
                       AuBankChunkSinks{&others, &others, &others, &loader, &names}, header);
        if (result != AuResultSuccess) state.SkipWithError("the bank did not load");
        state.PauseTiming();
        AuReleaseBankObjects(list);
        names.Term();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * (2 * kPairs + kSettings));
    CAuLowerEngine::FreeRegistries();
    g_LEngineDefaultPoolId = -1;
    index.Term();
    g_pIndex = nullptr;
    AU::MemoryMgr::Term();
}
BENCHMARK(BM_LoadHierarchyFromMemory)->Unit(benchmark::kMillisecond);

} // namespace
