// Shared pieces of the voice-side tests: the engine set-up with the lower engine, recording fakes
// for the seams and the hardware sinks, and a reader of capture files.
#pragma once

#include "AuCaptureFile.h"
#include "AuDefaultPoolTest.h"
#include "EdgeRise.h"
#include "core/AuOutputTiming.h"
#include "core/AuRegistryMgr.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSink.h"
#include "voices/AuVoiceContext.h"
#include <AU/AuDefaultIOHookBlocking.h>

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>
#include <win32_testing.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace voicetest {

// The played node of an instance, owned by the test and never counted: no level window and no
// maximum distance; its below-threshold action and effect slots hold what the test puts in them.
class PlayedNode final : public IAuInstanceNode {
public:
    explicit PlayedNode(u32 id = 100) : IAuInstanceNode(id) {}
    u32 AddRef() override { return 1; }
    u32 Release() override { return 1; }
    CAuPlaybackInstance*& InstanceListHead() noexcept override { return head; }
    bool UsesLevelWindow() noexcept override { return false; }
    bool GetMaxDistance(f32&) noexcept override { return false; }
    u8 GetBelowThresholdBehavior() noexcept override { return action; }
    void OnInstanceTerm(CAuPlaybackInstance*) noexcept override {}
    void ClearPendingActions() noexcept override { ++pendingCleared; }
    void GetEffectRecord(u32 slot, CAuRegisteredObj*, AuEffectRecord& record) noexcept override {
        record = records[slot];
        if (record.pSettings) record.pSettings->AddRef();
    }

    CAuPlaybackInstance* head = nullptr;
    u8 action = 0;
    int pendingCleared = 0;
    AuEffectRecord records[AU_VOICE_EFFECT_SLOTS];
};

// Every fake writes its calls here, so that a test can check their order across fakes.
inline std::vector<std::string>& Trace() {
    static std::vector<std::string> trace;
    return trace;
}

// A hardware sink that records what reaches it. Its buffer is the sink's own interleaved mix.
class RecordingSink final : public CAuBufferedSink {
public:
    explicit RecordingSink(AuChannelConfig config, AuSinkKind kind) : CAuBufferedSink(kind) {
        m_channelConfig = config;
        AllocBuffer(config);
    }

    AURESULT IsDataNeeded(u32& buffers) noexcept override {
        buffers = buffersNeeded;
        return AuResultSuccess;
    }
    bool IsStarved() noexcept override { return starved; }
    void ResetStarved() noexcept override {
        starved = false;
        ++resetStarvedCount;
    }
    AURESULT Start() override {
        ++startCount;
        return AuResultSuccess;
    }
    AURESULT WriteMix() noexcept override {
        ++mixCount;
        lastWritten.assign(m_buffer.pData, m_buffer.pData + m_buffer.NumChannels() * m_buffer.uMaxFrames);
        Trace().push_back("sink.mix");
        return AuResultSuccess;
    }
    AURESULT WriteSilence() noexcept override {
        ++silenceCount;
        lastWritten.assign(m_buffer.pData, m_buffer.pData + m_buffer.NumChannels() * m_buffer.uMaxFrames);
        Trace().push_back("sink.silence");
        return AuResultSuccess;
    }
    u32 GetWaitTimeout() noexcept override { return 7; }

    u32 buffersNeeded = 0;
    bool starved = false;
    int startCount = 0;
    int mixCount = 0;
    int silenceCount = 0;
    int resetStarvedCount = 0;
    std::vector<f32> lastWritten;
};

// The hardware outputs: each kind can be made to fail; the sink reports `reportedMask` (or the
// requested mask when that is 0).
class FakeHardwareSinks final : public IAuHardwareSinks {
public:
    CAuSinkBase* CreateXAudio2Sink(const AuPlatformInitSettings&, u32 channelMask, u32) override {
        ++xaudio2Attempts;
        return failXAudio2 ? nullptr : Make(channelMask, AuSinkKind_XAudio2);
    }
    CAuSinkBase* CreateDirectSoundSink(const AuPlatformInitSettings&, u32 channelMask) override {
        ++directSoundAttempts;
        return failDirectSound ? nullptr : Make(channelMask, AuSinkKind_DirectSound);
    }

    bool failXAudio2 = false;
    bool failDirectSound = false;
    u32 reportedMask = 0;
    int xaudio2Attempts = 0;
    int directSoundAttempts = 0;
    std::vector<RecordingSink*> made;

private:
    CAuSinkBase* Make(u32 requestedMask, AuSinkKind kind) {
        const u32 mask =
            reportedMask ? reportedMask : (requestedMask ? requestedMask : AU_SPEAKER_SETUP_STEREO);
        RecordingSink* sink = AuNewInLEngine<RecordingSink>(AuChannelConfig::Standard(mask), kind);
        if (sink) made.push_back(sink);
        return sink;
    }
};

class RecordingVoiceGraph final : public IAuVoiceGraph {
public:
    AURESULT InitVoiceCommands(u32 entries) override {
        Trace().push_back("voices.init " + std::to_string(entries));
        return initResult;
    }
    bool HasVoicesToStart() noexcept override { return voicesToStart; }
    void StartPendingVoices() noexcept override { Trace().push_back("voices.startcommands"); }
    void UpdateLimiters() noexcept override { Trace().push_back("instances.limiters"); }
    void ProcessVoiceCommands() noexcept override { Trace().push_back("voices.commands"); }
    void ProcessInstanceEvents() noexcept override { Trace().push_back("instances.events"); }
    void AdvancePendingVoices(u16 frames) noexcept override {
        Trace().push_back("voices.start " + std::to_string(frames));
        if (onStartPending) onStartPending();
    }
    void PreFrame() noexcept override { Trace().push_back("voices.preframe"); }
    void RenderVoices(bool render) noexcept override {
        Trace().push_back(render ? "voices.render" : "voices.skip");
    }
    void MixBusses() noexcept override {
        Trace().push_back("busses.mix");
        if (onMixBusses) onMixBusses();
    }
    void RemoveIdleBusses() noexcept override { Trace().push_back("busses.removeidle"); }
    void UpdateVoiceOutputs(u32 type, u32 id, u32 mask) override {
        Trace().push_back("voices.outputs " + std::to_string(type) + " " + std::to_string(id) + " " +
                          std::to_string(mask));
    }
    void ForEachPluginInstance(const CAuPluginSettings&, void (*)(CAuPluginParamHolder&, void*),
                               void*) noexcept override {
        Trace().push_back("voices.plugins");
    }
    void ReleaseEffectsUsingData(const u8*, u32 size) noexcept override {
        Trace().push_back("voices.releasefx " + std::to_string(size));
    }
    void TermVoices() override { Trace().push_back("voices.termvoices"); }
    void Term() override { Trace().push_back("voices.term"); }

    AURESULT initResult = AuResultSuccess;
    bool voicesToStart = false;
    void (*onStartPending)() = nullptr;
    void (*onMixBusses)() = nullptr;
};

class RecordingListeners final : public IAuListeners {
public:
    void Init() override { Trace().push_back("listeners.init"); }
    void Term() override { Trace().push_back("listeners.term"); }
    void SetOutputDevice(u32 mask, u32 type, u32 id) override {
        Trace().push_back("listeners.device " + std::to_string(mask) + " " + std::to_string(type) + " " +
                          std::to_string(id));
    }
    void RecomputeMatrices() override { Trace().push_back("listeners.recompute"); }
};

class RecordingMotion final : public IAuMotionDeviceMgr {
public:
    bool HasDevices() override { return hasDevices; }
    void PollDevices() noexcept override { Trace().push_back("motion.poll"); }
    void RenderDevices() noexcept override { Trace().push_back("motion.render"); }
    void Destroy() override { Trace().push_back("motion.destroy"); }
    bool hasDevices = true;
};

// Memory manager with the default pool, a stream manager with a disk device rooted in a fresh
// folder, the frame constants at their defaults and a virtual clock. The lower engine is left
// to each test.
class VoicesTest : public AuDefaultPoolTest {
protected:
    VoicesTest() : AuDefaultPoolTest(8u << 20) {}

    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        device.uIOMemorySize = 0;
        m_folder = FreshFolder();
        ASSERT_EQ(m_io.Init(device), AuResultSuccess);
        ASSERT_EQ(m_io.SetBasePath((m_folder.wstring() + L"/").c_str()), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
        win32test::UseVirtualClock(int64_t{1000} * 1000000);
        SetOutputSampleRate(AU_DEFAULT_SAMPLE_RATE);
        SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        Trace().clear();
    }

    void TearDown() override {
        CAuLowerEngine::Term();
        AuSetHardwareSinks(nullptr);
        CAuLowerEngine::SetVoiceGraph(nullptr);
        CAuLowerEngine::SetListeners(nullptr);
        CAuLowerEngine::SetMotionDeviceMgr(nullptr);
        AU::StreamMgr::SetFileLocationResolver(nullptr);
        m_io.Term();
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        win32test::UseRealClock();
        AuDefaultPoolTest::TearDown();
    }

    // The lower engine with its main output; no hardware sinks unless installed before.
    void InitLowerEngine(u32 mainOutputType = 3, AuChannelConfig config = AuChannelConfig()) {
        AuOutputSettings settings{};
        settings.channelConfig = config;
        ASSERT_EQ(CAuLowerEngine::Init(settings, mainOutputType), AuResultSuccess);
    }

    static std::filesystem::path FreshFolder() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "torvik_voices" /
                                       (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        return folder;
    }

    static void AdvanceMs(i64 ms) { win32test::AdvanceVirtualClock(ms * 1000000); }

    std::filesystem::path m_folder;
    CAuDefaultIOHookBlocking m_io;
    // Installed by the tests that want them; they outlive the lower engine's Term in TearDown.
    FakeHardwareSinks m_hardware;
    RecordingVoiceGraph m_graph;
    RecordingListeners m_listeners;
    RecordingMotion m_motion;
};

// A planar buffer owned by the test (16-byte aligned), for feeding kernels and devices.
class TestBuffer {
public:
    TestBuffer(AuChannelConfig config, u16 frames) {
        m_storage.resize(static_cast<size_t>(config.NumChannels()) * frames + 4);
        buffer.pData =
            reinterpret_cast<f32*>((reinterpret_cast<uintptr_t>(m_storage.data()) + 15) & ~uintptr_t{15});
        buffer.channelConfig = config;
        buffer.uMaxFrames = frames;
        buffer.uValidFrames = frames;
        buffer.eState = AuResultDataReady;
    }
    void Fill(u32 channel, f32 value) {
        for (u32 i = 0; i < buffer.uMaxFrames; ++i)
            buffer.GetChannel(channel)[i] = value;
    }

    AuPipelineBuffer buffer;

private:
    std::vector<f32> m_storage;
};

using CaptureFile = AuCaptureFile;

// Media an instance plays from memory, of the codec in the upper half of `pluginID` (1: PCM).
inline AuSourceMedia InMemoryMedia(const u8* data, size_t size, u32 pluginID = 1u << 16) {
    AuSourceMedia media;
    media.uFlags = AuSourceMedia::kStorageInMemory << AuSourceMedia::kStorageShift;
    media.uPluginID = pluginID;
    media.pData = data;
    media.uSize = static_cast<u32>(size);
    return media;
}

inline AuSourceMedia StreamedMedia(u32 fileID, u32 pluginID = 1u << 16 | 1) {
    AuSourceMedia media;
    media.uFlags = AuSourceMedia::kStorageStreamed << AuSourceMedia::kStorageShift;
    media.uPluginID = pluginID;
    media.uFileID = fileID;
    return media;
}

// A game object heard by listeners 0 and 2 at two positions (the second at y = 2), with an
// attenuation scaling of 2: four emitter-listener pairs.
inline void PlaceForTwoListeners(CAuRegisteredObj& object) {
    object.SetActiveListeners(0x5);
    const AuSoundPosition places[2] = {{{1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}},
                                       {{0.0f, 2.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}};
    ASSERT_EQ(object.SetPosition(places, 2, 1), AuResultSuccess);
    object.SetScalingFactor(2.0f);
    object.UpdatePositions();
}

// Renders one voice into the main device as the lower engine's pass does (its update, its pull,
// its mix, the device's frame) for `frames` frames; with `untilEnd` it stops once the voice has
// delivered its last buffer. Whether the voice ended.
inline bool CaptureVoice(CAuVoiceContext& voice, u32 frames, bool untilEnd) {
    bool playing = true;
    for (u32 frame = 0; frame < frames && (playing || !untilEnd); ++frame) {
        if (playing) {
            AuVoiceFrame update;
            update.uFrames = AU_DEFAULT_SAMPLES_PER_FRAME;
            voice.ApplyFrameBudget(update);
            EXPECT_TRUE(voice.VoiceUpdate(update, AuVoiceLevels{}));
            AuPipelineBuffer out;
            out.PrepareForVoicePass(AU_DEFAULT_SAMPLES_PER_FRAME);
            const AURESULT state = voice.Pull(out, AU_DEFAULT_SAMPLES_PER_FRAME);
            EXPECT_TRUE(state == AuResultDataReady || state == AuResultNoMoreData) << state;
            if (state != AuResultDataReady && state != AuResultNoMoreData) return false;
            CAuLowerEngine::MixBusIntoDevice(16, 0, out);
            voice.ReleaseBuffer();
            playing = state == AuResultDataReady;
        }
        CAuLowerEngine::Perform(frame);
    }
    return !playing;
}

} // namespace voicetest
