// One voice's pull (source, pitch node, modulator gain node, both filter stages) over a looping
// 16-bit stereo PCM sound at 48 kHz, at pitch 0 and +300 cents, and again with the delay effect
// (0.5 s, 50 % feedback) in the voice's first effect slot. Prints ns per frame per voice; the
// whole audio frame with its mixing is the mixer benchmark's.
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceContext.h"

#include <AU/AuEffectPlugins.h>
#include <AU/MemoryMgr.h>
#include <bankgen/Effects.h>
#include <bankgen/Media.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// The delay's settings as a bank's loader leaves them, in an index of their own.
class DelaySettings {
public:
    DelaySettings() {
        m_index.Init();
        g_pIndex = &m_index;
        AuDelayBlock block;
        block.fDelayTime = 0.5f;
        block.fFeedback = 50.0f;
        block.fWetDryMix = 50.0f;
        block.uFeedbackEnabled = 1;
        block.uProcessLFE = 1;
        bankgen::EncodeContext context;
        const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::EffectSettings(1, block), context);
        m_pSettings = CAuPluginSettingsType19::Create(1);
        if (m_pSettings && m_pSettings->LoadPluginSettings(
                               payload.data(), static_cast<u32>(payload.size())) != AuResultSuccess) {
            m_pSettings->Release();
            m_pSettings = nullptr;
        }
    }
    ~DelaySettings() {
        if (m_pSettings) m_pSettings->Release();
        m_index.Term();
        g_pIndex = nullptr;
    }
    // Null when the settings could not be made.
    CAuPluginSettings* Get() const { return m_pSettings; }

private:
    CAuObjectIndex m_index;
    CAuPluginSettings* m_pSettings = nullptr;
};

// The played node: the delay in slot 0 when asked for.
class BenchNode final : public IAuInstanceNode {
public:
    explicit BenchNode(CAuPluginSettings* delay) : IAuInstanceNode(2), m_pDelay(delay) {}
    u32 AddRef() override { return 1; }
    u32 Release() override { return 1; }
    CAuPlaybackInstance*& InstanceListHead() noexcept override { return m_pHead; }
    bool UsesLevelWindow() noexcept override { return false; }
    bool GetMaxDistance(f32&) noexcept override { return false; }
    u8 GetBelowThresholdBehavior() noexcept override { return 0; }
    void OnInstanceTerm(CAuPlaybackInstance*) noexcept override {}
    void GetEffectRecord(u32 slot, CAuRegisteredObj*, AuEffectRecord& record) noexcept override {
        record = AuEffectRecord{slot == 0 ? m_pDelay : nullptr, false};
        if (record.pSettings) record.pSettings->AddRef();
    }

private:
    CAuPluginSettings* m_pDelay;
    CAuPlaybackInstance* m_pHead = nullptr;
};

void BM_VoicePull(benchmark::State& state) {
    const f32 cents = static_cast<f32>(state.range(0));
    DelaySettings delay;
    if (state.range(1) && !(delay.Get() && delay.Get()->ParamObject())) {
        state.SkipWithError("no delay settings");
        return;
    }
    BenchNode node(state.range(1) ? delay.Get() : nullptr);
    const std::vector<i16> samples =
        bankgen::ToPcm16({bankgen::Chirp(50, 12000, 1.0, 48000, 0.7), bankgen::Noise(3, 48000, 0.5)});
    const bankgen::Bytes media = bankgen::MakePcmWave(samples, 2, 48000);
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    params.pNode = &node;
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
BENCHMARK(BM_VoicePull)->ArgNames({"cents", "delay"})->ArgsProduct({{0, 300}, {0, 1}});

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{8};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = g_LEngineDefaultPoolId =
        AU::MemoryMgr::CreatePool(nullptr, 1u << 22, 64, AuPoolAttrMalloc, 16);
    CAuResampler::InitKernels();
    CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
