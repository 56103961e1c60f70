// Loading the hierarchy of a bank of 100 000 small records (play actions and the events that
// list them) from memory: records per second through the chunk loop and the real readers.
#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"
#include "banks/AuBankReader.h"
#include "banks/AuHierarchyLoader.h"
#include "core/AuObjectIndex.h"

#include <AU/MemoryMgr.h>
#include <bankgen/Bank.h>
#include <bankgen/Records.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr u32 kPairs = 50000; // one action and one event each

// Settings, curves and media are not part of this measure.
class NoOtherChunks : public IAuBankSettingsSink, public IAuCurveTableSink, public IAuBankMediaSink {
public:
    void SetVolumeThreshold(f32, u32) override {}
    void SetMaxNumVoices(u16, u32) override {}
    bool AddStateGroup(u32) override { return false; }
    void SetDefaultTransitionTime(u32, u32) override {}
    void AddStateTransition(u32, u32, u32, u32) override {}
    AURESULT AddSwitchRTPC(u32, u32, u8, const AuBankSwitchPoint*, u32) override { return AuResultFail; }
    void SetGameParameter(u32, f32, u32, f32, f32) override {}
    AURESULT AddBuiltInParamBinding(u32, u8) override { return AuResultFail; }
    bool IsReady() override { return false; }
    void SetCurve(u32, u32, bool, u8, const AuBankCurvePoint*, u32) override {}
    void* AllocateDataBlock(u32) override { return nullptr; }
    AURESULT RegisterMedia(const AuMediaIndexEntry*, u32, const u8*, u32) override { return AuResultFail; }
    AURESULT PrepareMedia(CAuBankReader&, const AuMediaIndexEntry*, u32, u32) override {
        return AuResultFail;
    }
};

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
    NoOtherChunks others;
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
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * kPairs);
    index.Term();
    g_pIndex = nullptr;
    AU::MemoryMgr::Term();
}
BENCHMARK(BM_LoadHierarchyFromMemory)->Unit(benchmark::kMillisecond);

} // namespace
