// libFuzzer target of the chunk loop: every input is read as a bank from memory (in place and
// copied, in each load mode) and through a stream with a block size taken from the input's size.
// The sinks touch every byte they are handed, so a view past its bank shows under the sanitizers.
#include "BankChunksFuzz.h"

#include "../BankFakes.h"

#include "core/AuSoundEngineInternal.h"
#include "hierarchy/AuHierarchyLoader.h"

#include <AU/MemoryMgr.h>

#include <cstddef>
#include <cstdint>

namespace {

// The fuzzer runs without the engine's initialisation; a replaying test brings its own.
void EnsureMemory() {
    if (AU::MemoryMgr::IsInitialized()) return;
    const AuMemoryMgrSettings settings{4};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 64u << 20, 64, AuPoolAttrMalloc, 0);
}

AURESULT ReadOnce(CAuBankReader& reader, AuBankLoadMode mode, bool inPlace, bool extensionReader) {
    banktest::RecordingSinks sinks;
    sinks.extensionReader = extensionReader;
    sinks.extensionResult = extensionReader ? AuResultSuccess : AuResultTypeNotHandled;
    CAuBankFileNames names;
    AuBankHeader header{};
    const AURESULT result = AuReadBank(reader, mode, inPlace, sinks.Sinks(&names), header);
    names.Term();
    return result;
}

// The engine's bank extension reader as the loader hands it a record: every byte of it read, even
// types taken, odd ones left (3).
AURESULT TouchingExtensionReader(const u8* record, CAuLoadedBank*, u32) {
    const u32 size = u32(record[1]) | u32(record[2]) << 8 | u32(record[3]) << 16 | u32(record[4]) << 24;
    volatile u32 sum = 0;
    for (u32 i = 0; i < AU_BANK_RECORD_HEADER_SIZE + size; ++i)
        sum = sum + record[i];
    return record[0] % 2 == 0 ? AuResultSuccess : AuResultTypeNotHandled;
}

// The real record readers of the core's types (states, actions, events) on the input's records,
// with an object index of its own, without and with an extension reader; every object is released
// again. The result is not reported: a type whose class is not built yet fails such a load on
// purpose.
void ReadWithHierarchyLoader(const uint8_t* data, u32 size, bool extensionReader) {
    CAuObjectIndex* outer = g_pIndex;
    CAuObjectIndex index;
    if (!outer) {
        index.Init();
        g_pIndex = &index;
    }
    AuInstallCoreHierarchyLoaders();
    const AuBankExtensionReaderFunc outerReader = g_pfnBankExtensionReader.load();
    AU::SoundEngine::SetBankExtensionReader(extensionReader ? &TouchingExtensionReader : nullptr);
    CAuBankReader reader;
    reader.Init();
    reader.SetMemory(data, size);
    banktest::RecordingSinks others;
    CAuHierarchyLoader loader;
    AuBankObjectList list;
    loader.BeginBank(&list, nullptr, 0);
    CAuBankFileNames names;
    AuBankChunkSinks sinks = others.Sinks(&names);
    sinks.pHierarchy = &loader;
    AuBankHeader header{};
    AuReadBank(reader, AuBankLoadModeLoad, false, sinks, header);
    names.Term();
    AuReleaseBankObjects(list);
    AU::SoundEngine::SetBankExtensionReader(outerReader);
    if (!outer) {
        index.Term();
        g_pIndex = nullptr;
    }
}

} // namespace

std::vector<AURESULT> banktest::ReadBankEveryWay(const uint8_t* data, size_t size) {
    std::vector<AURESULT> results;
    if (size > (1u << 24)) return results;
    EnsureMemory();
    const u32 bytes = static_cast<u32>(size);
    {
        CAuBankReader reader;
        reader.Init();
        for (AuBankLoadMode mode :
             {AuBankLoadModeLoad, AuBankLoadModePrepareWithMedia, AuBankLoadModePrepareStructure}) {
            for (bool inPlace : {false, true}) {
                reader.SetMemory(data, bytes);
                results.push_back(ReadOnce(reader, mode, inPlace, inPlace));
            }
        }
    }
    {
        banktest::FakeStreamMgr streams;
        streams.file.assign(data, data + size);
        streams.blockSize = 1u << (size % 13);
        CAuBankReader reader;
        reader.Init();
        AURESULT opened = reader.OpenByID(1, 0, 0, nullptr, false);
        results.push_back(
            opened == AuResultSuccess ? ReadOnce(reader, AuBankLoadModeLoad, false, size % 2 == 0) : opened);
    }
    ReadWithHierarchyLoader(data, bytes, false);
    ReadWithHierarchyLoader(data, bytes, true);
    return results;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    banktest::ReadBankEveryWay(data, size);
    return 0;
}
