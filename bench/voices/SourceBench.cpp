// The built-in codecs' decoding against references on the same signal: the engine's IMA ADPCM
// block decoder beside libsndfile decoding an IMA ADPCM WAVE file of that signal, and the PCM
// bank source's buffer hand-off beside memcpy of the same bytes. Prints ns per sample per
// channel; one stereo second at 48 kHz per iteration.
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include <AU/MemoryMgr.h>
#include <bankgen/Media.h>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr u32 kFrames = 48000;
constexpr u16 kChannels = 2;

const std::vector<i16>& Signal() {
    static const std::vector<i16> samples =
        bankgen::ToPcm16({bankgen::Chirp(50, 12000, 1.0, 48000, 0.7), bankgen::Noise(3, kFrames, 0.5)});
    return samples;
}

void Report(benchmark::State& state) {
    state.counters["ns/sample/channel"] =
        benchmark::Counter(f64(state.iterations()) * kFrames * kChannels,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EngineAdpcm(benchmark::State& state) {
    const bankgen::Bytes blocks = bankgen::EncodeAdpcm(Signal(), kChannels);
    std::vector<i16> out(blocks.size() / 36 * 64);
    for (auto _ : state) {
        for (size_t b = 0; b < blocks.size() / (36 * kChannels); ++b)
            for (u32 c = 0; c < kChannels; ++c)
                AuDecodeAdpcmBlock(&blocks[(b * kChannels + c) * 36], &out[b * 64 * kChannels + c],
                                   kChannels);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state);
}
BENCHMARK(BM_EngineAdpcm);

// A WAVE file in memory for libsndfile's virtual I/O.
struct MemoryFile {
    std::vector<u8> bytes;
    sf_count_t at = 0;
};
sf_count_t Length(void* user) {
    return sf_count_t(static_cast<MemoryFile*>(user)->bytes.size());
}
sf_count_t SeekTo(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    f->at = whence == SEEK_SET   ? offset
            : whence == SEEK_CUR ? f->at + offset
                                 : sf_count_t(f->bytes.size()) + offset;
    return f->at;
}
sf_count_t Read(void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t n = std::min(count, sf_count_t(f->bytes.size()) - f->at);
    if (n <= 0) return 0;
    memcpy(ptr, f->bytes.data() + f->at, size_t(n));
    f->at += n;
    return n;
}
sf_count_t Write(const void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    if (f->bytes.size() < size_t(f->at + count)) f->bytes.resize(size_t(f->at + count));
    memcpy(f->bytes.data() + f->at, ptr, size_t(count));
    f->at += count;
    return count;
}
sf_count_t Tell(void* user) {
    return static_cast<MemoryFile*>(user)->at;
}
SF_VIRTUAL_IO g_io{Length, SeekTo, Read, Write, Tell};

void BM_LibsndfileAdpcm(benchmark::State& state) {
    MemoryFile file;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
    SNDFILE* writer = sf_open_virtual(&g_io, SFM_WRITE, &info, &file);
    if (!writer) {
        state.SkipWithError("libsndfile cannot write IMA ADPCM");
        return;
    }
    sf_writef_short(writer, Signal().data(), kFrames);
    sf_close(writer);
    file.at = 0;
    SF_INFO readInfo{};
    SNDFILE* reader = sf_open_virtual(&g_io, SFM_READ, &readInfo, &file);
    std::vector<short> out(size_t(kFrames) * kChannels);
    for (auto _ : state) {
        sf_seek(reader, 0, SEEK_SET);
        benchmark::DoNotOptimize(sf_readf_short(reader, out.data(), kFrames));
    }
    sf_close(reader);
    Report(state);
}
BENCHMARK(BM_LibsndfileAdpcm);

void BM_PcmBankSource(benchmark::State& state) {
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = g_LEngineDefaultPoolId =
        AU::MemoryMgr::CreatePool(nullptr, 1 << 20, 64, AuPoolAttrMalloc, 0);
    const bankgen::Bytes media = bankgen::MakePcmWave(Signal(), kChannels, 48000);
    {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        CAuPlaybackInstance instance(params);
        instance.SetLoopCount(0);
        CAuPcmBankSource source(&instance, media.data(), u32(media.size()));
        source.StartStream();
        for (auto _ : state) {
            for (u32 done = 0; done < kFrames; done += 1024) {
                AuPipelineBuffer buffer;
                buffer.uMaxFrames = 1024;
                source.GetBuffer(buffer);
                benchmark::DoNotOptimize(buffer.pData);
            }
        }
    }
    AU::MemoryMgr::Term();
    Report(state);
}
BENCHMARK(BM_PcmBankSource);

void BM_Memcpy(benchmark::State& state) {
    const std::vector<i16>& in = Signal();
    std::vector<i16> out(in.size());
    for (auto _ : state) {
        for (u32 done = 0; done < kFrames; done += 1024) {
            const u32 frames = std::min<u32>(1024, kFrames - done);
            memcpy(&out[done * kChannels], &in[done * kChannels], frames * kChannels * sizeof(i16));
        }
        benchmark::DoNotOptimize(out.data());
    }
    Report(state);
}
BENCHMARK(BM_Memcpy);

} // namespace

BENCHMARK_MAIN();
