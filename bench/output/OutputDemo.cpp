// Plays one second of a 440 Hz tone through the engine's output path: the lower engine mixes a
// bus into the main output, whose sink (XAudio2 over SDL audio when it starts, else the silent
// sink) plays it. Run it on a desktop with sound to hear the tone.
#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuOutputSide.h"
#include "voices/AuSink.h"
#include "voices/AuXAudio2Sink.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/StreamMgr.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kToneHz = 440.0;
constexpr float kToneLevel = 0.25f;

// Stands in for the voices and busses: one stereo top bus holding the tone.
class ToneGraph final : public IAuVoiceGraph {
public:
    ToneGraph() : m_storage(2 * AU_DEFAULT_SAMPLES_PER_FRAME + 4) {
        m_bus.pData =
            reinterpret_cast<f32*>((reinterpret_cast<uintptr_t>(m_storage.data()) + 15) & ~uintptr_t{15});
        m_bus.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
        m_bus.uMaxFrames = m_bus.uValidFrames = AU_DEFAULT_SAMPLES_PER_FRAME;
        m_bus.eState = AuResultDataReady;
    }

    AURESULT InitVoiceCommands(u32) override { return AuResultSuccess; }
    void StartPendingVoices(u16) noexcept override {}
    void PreFrame() noexcept override {}
    void RenderVoices(bool) noexcept override {}
    void MixBusses() noexcept override {
        const double rate = g_OutputTiming.uSampleRate;
        for (u32 i = 0; i < m_bus.uMaxFrames; ++i) {
            const f32 sample =
                kToneLevel * static_cast<f32>(std::sin(2 * M_PI * kToneHz * (m_frames + i) / rate));
            m_bus.GetChannel(0)[i] = sample;
            m_bus.GetChannel(1)[i] = sample;
        }
        m_frames += m_bus.uMaxFrames;
        CAuLowerEngine::MixBusIntoDevice(AuAudioOutputType_Main, 0, m_bus);
    }
    void RemoveIdleBusses() noexcept override {}
    void UpdateVoiceOutputs(u32, u32, u32) override {}
    void TermVoices() override {}
    void Term() override {}

    u64 Frames() const { return m_frames; }

private:
    std::vector<f32> m_storage;
    AuPipelineBuffer m_bus;
    u64 m_frames = 0;
};

} // namespace

int main() {
    const AuMemoryMgrSettings memory{8};
    if (AU::MemoryMgr::Init(&memory) != AuResultSuccess) return 1;
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
    AuStreamMgrSettings streaming;
    AU::StreamMgr::GetDefaultSettings(streaming);
    if (g_DefaultPoolId == -1 || !AU::StreamMgr::Create(streaming)) return 1;

    ToneGraph tone;
    CAuLowerEngine::SetVoiceGraph(&tone);
    CAuLowerEngine::SetPlatformInitSettings(nullptr);
    AuInitSettings settings{};
    settings.samplesPerFrame = AU_DEFAULT_SAMPLES_PER_FRAME;
    if (InitOutputSide(settings) != AuResultSuccess) return 1;
    const auto* sink = static_cast<const CAuBufferedSink*>(CAuLowerEngine::MainSink());
    printf("output: %s sink, %u Hz\n", sink->Kind() == AuSinkKind_XAudio2 ? "XAudio2" : "silent",
           g_OutputTiming.uSampleRate);

    // The audio thread's loop, here on the main thread: sleep until the sink wants buffers.
    CAuLowerEngine::StartOutputs();
    u32 frame = 0;
    while (tone.Frames() < g_OutputTiming.uSampleRate) {
        WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
        for (u32 n = CAuLowerEngine::GetNumBuffersToRender(); n > 0; --n)
            CAuLowerEngine::Perform(frame++);
    }
    // Let the queued buffers play out before the device closes.
    if (const CAuXAudio2Sink* xaudio2 = CAuXAudio2Sink::FindLive(CAuLowerEngine::MainSink())) {
        while (xaudio2->WrittenCount() > 0)
            WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
    }
    printf("rendered %u buffers, %.3f s\n", frame,
           static_cast<double>(tone.Frames()) / g_OutputTiming.uSampleRate);

    TermOutputSide();
    CAuLowerEngine::SetVoiceGraph(nullptr);
    AU::IAuStreamMgr::m_pStreamMgr->Destroy();
    AU::MemoryMgr::Term();
    return 0;
}
