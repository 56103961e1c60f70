// The engine's Vorbis decoder beside the reference library on the same packets: two seconds of
// 48 kHz stereo, decoded whole per iteration, as ns per output frame per channel and the
// real-time factor of 32 such voices; and the set-up parse (the engine's compact set-up through
// its cache, the reference's three header packets). Prints the ratios at the end.
#include "plugins/AuVorbisDecoder.h"

#include <AU/MemoryMgr.h>
#include <bankgen/Media.h>
#include <vorbis/codec.h>
#include <vorbispack/Pack.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr u32 kChannels = 2;
constexpr long kRate = 48000;
constexpr u32 kVoices = 32;

struct Media {
    vorbispack::EncodedStream stream;
    vorbispack::Bytes media;
    vorbispack::PackedInfo info;
    AuVorbisSetupParams setup{};
    const u8* data = nullptr; // "data" payload
    u32 dataSize = 0;
    u32 seekSize = 0;
    u32 firstPacket = 0;
};

u32 U32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

const Media& TestMedia() {
    static const Media m = [] {
        Media m;
        std::vector<std::vector<float>> channels;
        for (u32 c = 0; c < kChannels; ++c) {
            auto s = bankgen::Sine(440.0 * (c + 1), 2.0, kRate, 0.4);
            const auto sweep = bankgen::Chirp(100, 8000, 2.0, kRate, 0.2);
            const auto noise = bankgen::Noise(c + 1, u32(s.size()), 0.05);
            for (size_t i = 0; i < s.size(); ++i)
                s[i] += sweep[i] + noise[i];
            channels.push_back(s);
        }
        std::string error;
        if (!vorbispack::Encode(channels, kRate, 0.4f, m.stream, error) ||
            !vorbispack::Pack(m.stream, {}, m.media, error, &m.info)) {
            std::fprintf(stderr, "VorbisBench: %s\n", error.c_str());
            std::exit(1);
        }
        const u8* f = m.media.data() + 20; // the 66-byte "fmt " follows the RIFF header
        m.setup = {U32(f + 60), U32(f + 52), f[64], f[65]};
        m.seekSize = U32(f + 40);
        m.firstPacket = U32(f + 44);
        m.data = m.media.data() + 20 + 66 + 8;
        m.dataSize = U32(m.media.data() + 20 + 66 + 4);
        return m;
    }();
    return m;
}

struct Timing {
    f64 seconds = 0;
    u64 iterations = 0;
};
std::map<std::string, Timing> g_timings;

struct Clock {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    f64 Seconds() const {
        return std::chrono::duration<f64>(std::chrono::steady_clock::now() - start).count();
    }
};

void Report(benchmark::State& state, const char* name, f64 seconds, bool decode) {
    g_timings[name] = {seconds, u64(state.iterations())};
    if (!decode) return;
    const f64 frames = f64(TestMedia().info.totalSamples);
    state.counters["ns/frame/channel"] =
        benchmark::Counter(f64(state.iterations()) * frames * kChannels,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Seconds of audio per second of decoding, shared by 32 voices.
    state.counters["rt x 32 voices"] =
        benchmark::Counter(f64(state.iterations()) * frames / kRate / kVoices, benchmark::Counter::kIsRate);
}

struct Pool {
    Pool() {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = g_LEngineDefaultPoolId =
            AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
    }
    ~Pool() { AU::MemoryMgr::Term(); }
};

void BM_EngineDecode(benchmark::State& state) {
    const Media& m = TestMedia();
    Pool pool;
    const u8* setup = m.data + m.seekSize;
    AuVorbisDecodeState st;
    st.decoder.pSetup = VorbisSetupCache::Get(m.setup, kChannels, setup + 2, u32(setup[0] | setup[1] << 8));
    if (!st.decoder.pSetup || InitVorbisChannels(st.decoder, kChannels) != 0) {
        state.SkipWithError("the engine refuses the media");
        return;
    }
    std::vector<i16> out(1024 * kChannels);
    const Clock clock;
    for (auto _ : state) {
        ResetVorbisDecoder(st.decoder, 0, m.info.endTrim);
        st.uStage = kVorbisStageDecoding;
        st.bAllDataPresent = true;
        u32 at = m.firstPacket;
        do {
            st.uFramesWanted = 1024;
            st.uBytesAvailable = m.dataSize - at;
            DecodeVorbisPackets(st, m.info.maxPacket, m.data + at, out.data());
            at += st.uBytesConsumed;
            benchmark::DoNotOptimize(out.data());
        } while (st.eStatus == AuResultDataReady);
    }
    Report(state, "engine decode", clock.Seconds(), true);
    FreeVorbisChannels(st.decoder);
    VorbisSetupCache::Release(m.setup.uSetupId);
}
BENCHMARK(BM_EngineDecode)->Unit(benchmark::kMillisecond);

ogg_packet Packet(const vorbispack::Bytes& bytes, long number, std::int64_t granule = -1, bool last = false) {
    ogg_packet p{};
    p.packet = const_cast<unsigned char*>(bytes.data());
    p.bytes = long(bytes.size());
    p.b_o_s = number == 0;
    p.e_o_s = last;
    p.granulepos = granule;
    p.packetno = number;
    return p;
}

bool ReadHeaders(vorbis_info& info, vorbis_comment& comment, const vorbispack::EncodedStream& s) {
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    ogg_packet a = Packet(s.identification, 0), b = Packet(s.comments, 1), c = Packet(s.setup, 2);
    return vorbis_synthesis_headerin(&info, &comment, &a) == 0 &&
           vorbis_synthesis_headerin(&info, &comment, &b) == 0 &&
           vorbis_synthesis_headerin(&info, &comment, &c) == 0;
}

void BM_ReferenceDecode(benchmark::State& state) {
    const Media& m = TestMedia();
    vorbis_info info;
    vorbis_comment comment;
    if (!ReadHeaders(info, comment, m.stream)) {
        state.SkipWithError("the reference refuses the headers");
        return;
    }
    std::vector<i16> out(8192 * kChannels);
    const Clock clock;
    for (auto _ : state) {
        vorbis_dsp_state dsp;
        vorbis_block block;
        vorbis_synthesis_init(&dsp, &info);
        vorbis_block_init(&dsp, &block);
        for (size_t i = 0; i < m.stream.audio.size(); ++i) {
            ogg_packet p = Packet(m.stream.audio[i].bytes, long(i + 3), m.stream.audio[i].granule,
                                  i + 1 == m.stream.audio.size());
            if (vorbis_synthesis(&block, &p) == 0) vorbis_synthesis_blockin(&dsp, &block);
            float** pcm;
            int n;
            while ((n = vorbis_synthesis_pcmout(&dsp, &pcm)) > 0) {
                // The same 16-bit conversion as the engine's output.
                for (int f = 0; f < n && f < 8192; ++f)
                    for (u32 c = 0; c < kChannels; ++c) {
                        const f32 v = pcm[c][f] * 32768.0f;
                        out[size_t(f) * kChannels + c] = v >= 32767.0f    ? 32767
                                                         : v <= -32768.0f ? -32768
                                                                          : i16(v);
                    }
                vorbis_synthesis_read(&dsp, n);
            }
        }
        benchmark::DoNotOptimize(out.data());
        vorbis_block_clear(&block);
        vorbis_dsp_clear(&dsp);
    }
    Report(state, "reference decode", clock.Seconds(), true);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
}
BENCHMARK(BM_ReferenceDecode)->Unit(benchmark::kMillisecond);

void BM_EngineSetupParse(benchmark::State& state) {
    const Media& m = TestMedia();
    Pool pool;
    const u8* setup = m.data + m.seekSize;
    const Clock clock;
    for (auto _ : state) {
        const VorbisSetupInfo* info =
            VorbisSetupCache::Get(m.setup, kChannels, setup + 2, u32(setup[0] | setup[1] << 8));
        benchmark::DoNotOptimize(info);
        VorbisSetupCache::Release(m.setup.uSetupId);
    }
    Report(state, "engine set-up", clock.Seconds(), false);
}
BENCHMARK(BM_EngineSetupParse)->Unit(benchmark::kMicrosecond);

void BM_ReferenceSetupParse(benchmark::State& state) {
    const Media& m = TestMedia();
    const Clock clock;
    for (auto _ : state) {
        vorbis_info info;
        vorbis_comment comment;
        benchmark::DoNotOptimize(ReadHeaders(info, comment, m.stream));
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    Report(state, "reference set-up", clock.Seconds(), false);
}
BENCHMARK(BM_ReferenceSetupParse)->Unit(benchmark::kMicrosecond);

void PrintRatio(const char* what, const char* engine, const char* reference) {
    const auto e = g_timings.find(engine), r = g_timings.find(reference);
    if (e == g_timings.end() || r == g_timings.end() || !e->second.iterations || !r->second.iterations)
        return;
    const f64 ratio =
        (e->second.seconds / f64(e->second.iterations)) / (r->second.seconds / f64(r->second.iterations));
    std::printf("%s: engine / reference time = %.2f\n", what, ratio);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatio("decode", "engine decode", "reference decode");
    PrintRatio("set-up parse", "engine set-up", "reference set-up");
    return 0;
}
