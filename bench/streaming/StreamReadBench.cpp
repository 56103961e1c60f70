// Reading a 100 MB file through a standard stream (one transfer per granularity on the device's
// I/O thread) beside a plain pread loop over the same file, in the same run.
#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr u32 kFileSize = 100 * 1000 * 1000;
constexpr u32 kGranularity = 16384;

// The input, written once per process into the temporary folder.
const std::filesystem::path& BenchFile() {
    static const std::filesystem::path path = [] {
        std::filesystem::path file = std::filesystem::temp_directory_path() / "torvik_stream_bench.aum";
        std::vector<char> chunk(1 << 20);
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(i * 131 + i / 251);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (u32 written = 0; written < kFileSize; written += static_cast<u32>(chunk.size()))
            out.write(chunk.data(), std::min<std::streamsize>(chunk.size(), kFileSize - written));
        return file;
    }();
    return path;
}

void BM_StandardStreamRead(benchmark::State& state) {
    const u32 readSize = static_cast<u32>(state.range(0));
    const AuMemoryMgrSettings memory{8};
    AU::MemoryMgr::Init(&memory);
    AuStreamMgrSettings settings;
    AU::StreamMgr::GetDefaultSettings(settings);
    AU::IAuStreamMgr* manager = AU::StreamMgr::Create(settings);
    CAuDefaultIOHookBlocking io;
    AuDeviceSettings device;
    AU::StreamMgr::GetDefaultDeviceSettings(device);
    device.uGranularity = kGranularity;
    if (!manager || io.Init(device) != AuResultSuccess) {
        state.SkipWithError("stream manager or device failed");
        return;
    }
    AU::StreamMgr::SetFileLocationResolver(&io);
    AuFileOpenFlags flags{};
    flags.uFileType = AU_FILE_TYPE_RAW_PATH;
    AU::IAuStdStream* stream = nullptr;
    if (manager->CreateStd(BenchFile().wstring().c_str(), &flags, AuOpenModeRead, stream, true) !=
        AuResultSuccess) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<u8> buffer(readSize);
    for (auto _ : state) {
        stream->SetPosition(0, AuMoveBegin, nullptr);
        for (u32 done = 0; done < kFileSize;) {
            u32 size = 0;
            if (stream->Read(buffer.data(), readSize, true, 50, 0.0f, size) != AuResultSuccess || size == 0) {
                state.SkipWithError("read failed");
                break;
            }
            done += size;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
    state.counters["MB"] = benchmark::Counter(static_cast<double>(kFileSize) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
    stream->Destroy();
    io.Term();
    manager->Destroy();
    AU::MemoryMgr::Term();
}
BENCHMARK(BM_StandardStreamRead)
    ->Arg(kGranularity)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: the same file read with pread in pieces of the same size.
void BM_PreadLoop(benchmark::State& state) {
    const size_t readSize = static_cast<size_t>(state.range(0));
    const int fd = open(BenchFile().c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<u8> buffer(readSize);
    for (auto _ : state) {
        for (size_t done = 0; done < kFileSize;) {
            const ssize_t n =
                pread(fd, buffer.data(), std::min(readSize, kFileSize - done), static_cast<off_t>(done));
            if (n <= 0) {
                state.SkipWithError("pread failed");
                break;
            }
            done += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
    state.counters["MB"] = benchmark::Counter(static_cast<double>(kFileSize) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PreadLoop)->Arg(kGranularity)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
