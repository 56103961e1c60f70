// Loading a 64 MB bank of media from memory in place, from memory copied into a pool of its own
// and from a file through the stream manager, beside memcpy and a pread loop over the same bytes.
#include "banks/AuBankMgr.h"
#include <AU/AuDefaultIOHookBlocking.h>

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/StreamMgr.h>
#include <bankgen/Bank.h>

#include "IgnoringSinks.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr u32 kBankID = 0x0BE4C400;
constexpr u32 kMediaCount = 64;
constexpr u32 kMediaSize = 1 << 20;

// The bank, made once per process by the bank writer, in memory aligned to 16 and on disk.
const std::vector<u8>& BankBytes() {
    static const std::vector<u8> bytes = [] {
        bankgen::BankBuilder builder(kBankID);
        for (u32 m = 0; m < kMediaCount; ++m) {
            bankgen::Bytes media(kMediaSize);
            for (u32 i = 0; i < kMediaSize; ++i)
                media[i] = static_cast<u8>(i * 131 + i / 251 + m);
            builder.AddMedia(0x1000 + m, std::move(media));
        }
        bankgen::Bytes out;
        std::vector<std::string> errors;
        builder.Build(out, errors);
        return std::vector<u8>(out.begin(), out.end());
    }();
    return bytes;
}

const std::filesystem::path& BankFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path root = std::filesystem::temp_directory_path() / "torvik_bank_bench";
        std::filesystem::create_directories(root / "SoundBanks");
        std::ofstream out(root / "SoundBanks" / (std::to_string(kBankID) + ".bnk"),
                          std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(BankBytes().data()),
                  static_cast<std::streamsize>(BankBytes().size()));
        return root;
    }();
    return folder;
}

// The engine's pieces a bank load needs: memory, a stream manager over the bank folder, a manager.
class Loader {
public:
    Loader() {
        const AuMemoryMgrSettings memory{8};
        AU::MemoryMgr::Init(&memory);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        m_streams = AU::StreamMgr::Create(settings);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        m_io.SetBankPath(L"SoundBanks/");
        m_io.SetBasePath((BankFolder().wstring() + L"/").c_str());
        m_ok = m_streams && g_DefaultPoolId != AU_INVALID_POOL_ID && m_io.Init(device) == AuResultSuccess;
        AU::StreamMgr::SetFileLocationResolver(&m_io);
        m_mgr.SetChunkSinks(&m_sinks, &m_sinks, &m_sinks);
        m_mgr.Init();
    }
    ~Loader() {
        m_mgr.Term();
        m_io.Term();
        if (m_streams) m_streams->Destroy();
        AU::MemoryMgr::Term();
        g_DefaultPoolId = AU_INVALID_POOL_ID;
    }
    bool Ok() const { return m_ok; }
    // Loads and unloads once; false when either fails.
    bool Cycle(u32 source, const void* memory) {
        AuBankRequest request{};
        request.kind = AuBankRequest_Load;
        request.source = source;
        request.bankID = kBankID;
        request.poolID = AU_INVALID_POOL_ID;
        request.memory = memory;
        request.size = static_cast<u32>(BankBytes().size());
        if (m_mgr.ExecuteQueueItem(request) != AuResultSuccess || m_mgr.BankCount() != 1) return false;
        request.kind = AuBankRequest_Unload;
        return m_mgr.ExecuteQueueItem(request) == AuResultSuccess && m_mgr.BankCount() == 0;
    }

private:
    AU::IAuStreamMgr* m_streams = nullptr;
    CAuDefaultIOHookBlocking m_io;
    IgnoringSinks m_sinks;
    CAuBankMgr m_mgr;
    bool m_ok = false;
};

void Report(benchmark::State& state) {
    const double bytes = static_cast<double>(BankBytes().size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BankBytes().size()));
    state.counters["MB"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LoadBank(benchmark::State& state) {
    const u32 source = static_cast<u32>(state.range(0));
    const std::vector<u8>& bytes = BankBytes();
    BankFolder();
    // In place needs 16-byte alignment; a copy keeps the image where the loader can use it.
    void* image = std::aligned_alloc(16, (bytes.size() + 15) / 16 * 16);
    memcpy(image, bytes.data(), bytes.size());
    {
        Loader loader;
        if (!loader.Ok()) state.SkipWithError("set-up failed");
        for (auto _ : state)
            if (!loader.Cycle(source, source == AuBankSource_ByID ? nullptr : image)) {
                state.SkipWithError("load failed");
                break;
            }
    }
    std::free(image);
    Report(state);
}
BENCHMARK(BM_LoadBank)
    ->ArgName("source")
    ->Arg(AuBankSource_InPlace)
    ->Arg(AuBankSource_Copied)
    ->Arg(AuBankSource_ByID)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Memcpy(benchmark::State& state) {
    const std::vector<u8>& bytes = BankBytes();
    std::vector<u8> copy(bytes.size());
    for (auto _ : state) {
        memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
    }
    Report(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The file baseline: the same bank file read with pread in 1 MB pieces.
void BM_PreadLoop(benchmark::State& state) {
    const size_t size = BankBytes().size();
    const std::filesystem::path file = BankFolder() / "SoundBanks" / (std::to_string(kBankID) + ".bnk");
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<u8> buffer(size);
    for (auto _ : state) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = pread(fd, buffer.data() + done, std::min<size_t>(1 << 20, size - done),
                                    static_cast<off_t>(done));
            if (n <= 0) {
                state.SkipWithError("pread failed");
                break;
            }
            done += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    close(fd);
    Report(state);
}
BENCHMARK(BM_PreadLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
