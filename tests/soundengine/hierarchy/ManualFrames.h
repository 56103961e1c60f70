// The running engine with its output device pulled by the test instead of by the device's thread:
// each Frames(n) takes n buffers out of the device and returns once the audio thread has rendered
// the frames that refill them, so that what a test posts between two calls takes effect in the
// frame it chose, however fast the machine is.
#pragma once

#include "BankTestSupport.h"

#include "core/AuAudioMgr.h"
#include "core/AuThreads.h"
#include "voices/AuLowerEngine.h"

#include <AU/SoundEngine.h>
#include <audio_test_control.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace banktest {

class AuManualFrames {
public:
    static constexpr size_t kFrame = 1024;

    // Restarts the fixture's engine with the device pulled by the test; the device is never
    // given up for lost while the test works between pulls. Wrap in ASSERT_NO_FATAL_FAILURE.
    void Start(AuEngineStarter& engine, const std::filesystem::path& folder) {
        engine.Stop();
        audiotest::UseManualOutput(true);
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(16));
        ASSERT_NO_FATAL_FAILURE(engine.OpenFolder(folder));
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.deviceTimeoutMs = 0xFFFFFFFFu;
        ASSERT_EQ(AU::SoundEngine::Init(&settings, nullptr), AuResultSuccess);
        ASSERT_EQ(audiotest::OutputRate(), 48000u);
        m_channels = audiotest::OutputChannels();
        ASSERT_GT(m_channels, 0u);
        // Every buffer of the device is filled before the first pull.
        ASSERT_TRUE(Refilled(0));
    }
    // The device's own thread pulls it again from here on.
    ~AuManualFrames() { audiotest::UseManualOutput(false); }

    static u32 FrameCounter() {
        CAuMainLock lock;
        return g_pAudioMgr->FrameCounter();
    }
    // `frames` buffers out of the device, one at a time, each refilled before the next; what the
    // device played of channel 0.
    std::vector<f32> Frames(size_t frames) const {
        std::vector<f32> played;
        played.reserve(frames * kFrame);
        for (size_t f = 0; f < frames; ++f) {
            // What was posted before is run by the pass that renders this frame, or one before it.
            AU::SoundEngine::RenderAudio();
            const u32 from = FrameCounter();
            const std::vector<f32> out = audiotest::RenderOutput(kFrame);
            for (size_t n = 0; n < out.size(); n += m_channels)
                played.push_back(out[n]);
            EXPECT_TRUE(Refilled(from)) << "the audio thread never refilled the device";
        }
        return played;
    }

private:
    // Until the audio thread has rendered past frame `from` and the device has no room left.
    // The patience only bounds a failure: a wait that is met returns at once.
    static bool Refilled(u32 from) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            {
                CAuMainLock lock;
                if (g_pAudioMgr->FrameCounter() != from && CAuLowerEngine::GetNumBuffersToRender() == 0)
                    return true;
            }
            if (std::chrono::steady_clock::now() > until) return false;
            AU::SoundEngine::RenderAudio();
            std::this_thread::yield();
        }
    }

    unsigned m_channels = 0;
};

} // namespace banktest
