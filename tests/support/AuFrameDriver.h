// The engine's output pulled by the test, one audio frame at a time. The device never plays by
// itself: the audio thread renders only as far as the test has pulled plus the sink's ring, so a
// test that waits for a sound counts frames, never time, and holds however slow the machine is.
// Attach before the engine starts, Detach once it stopped; a frame waits for the audio thread to
// fill the ring again, woken by the engine's trace of its pass.
#pragma once

#include "core/AuEngineTrace.h"
#include "core/AuOutputTiming.h"
#include "core/AuThreads.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuXAudio2Sink.h"

#include <AU/AuInitSettings.h>
#include <AU/SoundEngine.h>

#include <audio_test_control.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class AuFrameDriver {
public:
    static void Attach() {
        audiotest::UseManualOutput(true);
        AuSetTraceSink(&AuFrameDriver::Traced, nullptr);
    }
    static void Detach() {
        AuSetTraceSink(nullptr, nullptr);
        audiotest::UseManualOutput(false);
    }

    // The engine's defaults, but a device the test leaves unpulled is never taken for lost: the
    // silent sink that would replace it renders by the clock.
    static AuInitSettings Settings() {
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.deviceTimeoutMs = kNeverLostMs;
        return settings;
    }

    // The main output plays one frame, whose channel 0 goes to `played` when given; returns once
    // the audio thread has rendered the frame that took its place and ended that pass, so its
    // capture is written. False when the main output is not the device the test pulls.
    static bool Frame(std::vector<f32>* played = nullptr) {
        const CAuXAudio2Sink* sink = CAuXAudio2Sink::FindLive(CAuLowerEngine::MainSink());
        if (!sink) return false;
        const std::vector<f32> out = audiotest::RenderOutput(g_uNumSamplesPerFrame);
        if (played) {
            const unsigned channels = audiotest::OutputChannels();
            for (size_t n = 0; channels && n < out.size(); n += channels)
                played->push_back(out[n]);
        }
        State& state = TheState();
        {
            std::unique_lock guard(state.lock);
            state.passed.wait(guard,
                              [&] { return sink->WrittenCount() >= static_cast<i32>(sink->RefillCount()); });
        }
        // The pass that filled the ring holds the lock until it ends.
        CAuMainLock lock;
        return true;
    }

    // Runs `call`, which waits for frames to be rendered (an unload of a bank whose sounds play
    // waits for their voices to let go), while another thread pulls the output.
    template <class Call> static void WhileOutputPlays(Call call) {
        std::atomic<bool> returned{false};
        std::thread output([&] {
            while (!returned.load() && Frame()) {
            }
        });
        call();
        returned.store(true);
        output.join();
    }

private:
    // An hour: past any test's time-out, and small enough that the engine's count of passes per
    // time-out stays within 32 bits.
    static constexpr u32 kNeverLostMs = 3600 * 1000;

    struct State {
        std::mutex lock;
        std::condition_variable passed;
    };
    static State& TheState() {
        static State state;
        return state;
    }
    // [audio thread, under the main lock] Every step of a pass may be the one after the ring's last
    // write. The waiter never takes the main lock while it holds the state's lock.
    static void Traced(const char*, void*) {
        State& state = TheState();
        std::lock_guard guard(state.lock);
        state.passed.notify_all();
    }
};
