// One voice's pull (source, pitch node, modulator gain node, both filter stages) over a looping
// 16-bit stereo PCM sound at 48 kHz, at pitch 0 and +300 cents. Prints ns per frame per voice;
// the whole audio frame with its mixing is the mixer benchmark's.
#include "core/AuOutputTiming.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceContext.h"

#include <AU/MemoryMgr.h>
#include <bankgen/Media.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_VoicePull(benchmark::State& state) {
    const f32 cents = static_cast<f32>(state.range(0));
    const std::vector<i16> samples =
        bankgen::ToPcm16({bankgen::Chirp(50, 12000, 1.0, 48000, 0.7), bankgen::Noise(3, 48000, 0.5)});
    const bankgen::Bytes media = bankgen::MakePcmWave(samples, 2, 48000);
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance instance(params);
    instance.SetLoopCount(0);
    AuSourceMedia source;
    source.uFlags = AuSourceMedia::kStorageInMemory << AuSourceMedia::kStorageShift;
    source.uPluginID = 1u << 16;
    source.pData = media.data();
    source.uSize = static_cast<u32>(media.size());
    instance.SetSourceMedia(source);
    instance.HandleParamNotification({2, nullptr, AuRTPCKey{}, false, cents});
    {
        CAuVoiceContext voice;
        if (voice.AttachSource(AuCreateSource(&instance), true, true) != AuResultSuccess) {
            state.SkipWithError("no source");
            return;
        }
        voice.Start();
        AuVoiceFrame frame;
        frame.uFrames = g_uNumSamplesPerFrame;
        if (!voice.VoiceUpdate(frame, AuVoiceLevels{})) {
            state.SkipWithError("no chain");
            return;
        }
        for (auto _ : state) {
            AuPipelineBuffer out;
            out.PrepareForVoicePass(g_uNumSamplesPerFrame);
            benchmark::DoNotOptimize(voice.Pull(out, g_uNumSamplesPerFrame));
            benchmark::DoNotOptimize(out.pData);
            voice.ReleaseBuffer();
        }
    }
    // Nanoseconds per audio frame (one pull) of one voice.
    state.counters["ns/frame/voice"] = benchmark::Counter(
        f64(state.iterations()) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_VoicePull)->Arg(0)->Arg(300);

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = g_LEngineDefaultPoolId =
        AU::MemoryMgr::CreatePool(nullptr, 1u << 22, 64, AuPoolAttrMalloc, 16);
    CAuResampler::InitKernels();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
