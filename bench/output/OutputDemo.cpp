// Plays one second of a 440 Hz tone through the engine's output path: the sound engine starts
// with its audio thread, the lower engine mixes a bus holding the tone into the main output, and
// the main output's sink (XAudio2 over SDL audio when it starts, else the silent sink) plays it.
// Run it on a desktop with sound to hear the tone.
#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kToneHz = 440.0;
constexpr float kToneLevel = 0.25f;

// Stands in for the voices and busses: one stereo top bus holding one second of the tone, then
// nothing.
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
    bool HasVoicesToStart() noexcept override { return false; }
    void StartPendingVoices() noexcept override {}
    void UpdateLimiters() noexcept override {}
    void ProcessVoiceCommands() noexcept override {}
    void ProcessInstanceEvents() noexcept override {}
    void AdvancePendingVoices(u16) noexcept override {}
    void PreFrame() noexcept override {}
    void RenderVoices(bool) noexcept override {}
    // [audio thread]
    void MixBusses() noexcept override {
        const u64 done = m_frames.load(std::memory_order_relaxed);
        const u32 rate = g_OutputTiming.uSampleRate;
        if (done >= rate) return;
        for (u32 i = 0; i < m_bus.uMaxFrames; ++i) {
            const f32 sample =
                kToneLevel * static_cast<f32>(std::sin(2 * M_PI * kToneHz * (done + i) / rate));
            m_bus.GetChannel(0)[i] = sample;
            m_bus.GetChannel(1)[i] = sample;
        }
        CAuLowerEngine::MixBusIntoDevice(AuAudioOutputType_Main, 0, m_bus);
        m_frames.store(done + m_bus.uMaxFrames, std::memory_order_relaxed);
    }
    void RemoveIdleBusses() noexcept override {}
    void UpdateVoiceOutputs(u32, u32, u32) override {}
    // Its tone runs no plug-in.
    void ForEachPluginInstance(const CAuPluginSettings&, void (*)(CAuPluginParamHolder&, void*),
                               void*) noexcept override {}
    void ReleaseEffectsUsingData(const u8*, u32) noexcept override {}
    void TermVoices() override {}
    void Term() override {}

    u64 Frames() const { return m_frames.load(std::memory_order_relaxed); }

private:
    std::vector<f32> m_storage;
    AuPipelineBuffer m_bus;
    // Written by the audio thread, read by the main thread to see when the second is over; a
    // count alone, so relaxed.
    std::atomic<u64> m_frames{0};
};

} // namespace

int main() {
    const AuMemoryMgrSettings memory{8};
    if (AU::MemoryMgr::Init(&memory) != AuResultSuccess) return 1;
    AuStreamMgrSettings streaming;
    AU::StreamMgr::GetDefaultSettings(streaming);
    if (!AU::StreamMgr::Create(streaming)) return 1;

    ToneGraph tone;
    CAuLowerEngine::SetVoiceGraph(&tone);
    if (AU::SoundEngine::Init(nullptr, nullptr) != AuResultSuccess) return 1;
    const auto* sink = static_cast<const CAuBufferedSink*>(CAuLowerEngine::MainSink());
    printf("output: %s sink, %u Hz\n", sink->Kind() == AuSinkKind_XAudio2 ? "XAudio2" : "silent",
           g_OutputTiming.uSampleRate);

    // The audio thread renders as the sink asks; the game's frames only close message frames.
    while (tone.Frames() < g_OutputTiming.uSampleRate) {
        AU::SoundEngine::RenderAudio();
        Sleep(16);
    }
    // What the sink still holds plays out before the device closes.
    Sleep(250);
    printf("rendered %.3f s of tone\n", static_cast<double>(tone.Frames()) / g_OutputTiming.uSampleRate);

    AU::SoundEngine::Term();
    CAuLowerEngine::SetVoiceGraph(nullptr);
    AU::IAuStreamMgr::m_pStreamMgr->Destroy();
    AU::MemoryMgr::Term();
    return 0;
}
