// The XAudio2 engine's callback contract, its device and its failures. Passes run on the test's
// thread (manual output) except where SDL's own device thread is the point.
#include <audio_test_control.h>
#include <ksmedia.h>
#include <xaudio2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

WAVEFORMATEXTENSIBLE FloatFormat(WORD channels, DWORD rate) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.nBlockAlign = static_cast<WORD>(channels * 4);
    format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * rate;
    format.Format.wBitsPerSample = 32;
    format.Format.cbSize = 22;
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = channels == 2 ? 0x3 : 0;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    return format;
}

// Records every callback in order; optionally refills from the pass start as a sink does.
struct Recorder final : IXAudio2VoiceCallback {
    std::vector<std::string> events;
    IXAudio2SourceVoice* voice = nullptr;
    std::vector<std::vector<float>>* refill = nullptr;
    size_t nextRefill = 0;

    void OnVoiceProcessingPassStart(UINT32) override {
        events.push_back("pass");
        if (!refill || !voice) return;
        XAUDIO2_VOICE_STATE state;
        voice->GetState(&state);
        while (state.BuffersQueued < 2 && nextRefill < refill->size()) {
            std::vector<float>& data = (*refill)[nextRefill];
            XAUDIO2_BUFFER buffer{};
            buffer.AudioBytes = static_cast<UINT32>(data.size() * sizeof(float));
            buffer.pAudioData = reinterpret_cast<const BYTE*>(data.data());
            buffer.pContext = reinterpret_cast<void*>(++nextRefill);
            ASSERT_EQ(voice->SubmitSourceBuffer(&buffer), S_OK);
            voice->GetState(&state);
        }
    }
    void OnVoiceProcessingPassEnd() override { events.push_back("end"); }
    void OnStreamEnd() override { events.push_back("stream end"); }
    void OnBufferStart(void* context) override { events.push_back("start " + std::to_string(Id(context))); }
    void OnBufferEnd(void* context) override {
        // The finished buffer has already left the queue.
        XAUDIO2_VOICE_STATE state;
        voice->GetState(&state);
        events.push_back("done " + std::to_string(Id(context)) + " left " +
                         std::to_string(state.BuffersQueued));
    }
    void OnLoopEnd(void*) override {}
    void OnVoiceError(void*, HRESULT) override { events.push_back("error"); }

    static uintptr_t Id(void* context) { return reinterpret_cast<uintptr_t>(context); }
};

struct EngineRecorder final : IXAudio2EngineCallback {
    std::atomic<int> passes{0};
    std::atomic<HRESULT> critical{S_OK};
    std::mutex mutex;
    std::condition_variable passed;

    void OnProcessingPassStart() override {
        std::lock_guard<std::mutex> lock(mutex);
        passes.fetch_add(1);
        passed.notify_all();
    }
    void WaitForPasses(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        passed.wait(lock, [&] { return passes.load() >= count; });
    }
    void OnProcessingPassEnd() override {}
    void OnCriticalError(HRESULT error) override { critical.store(error); }
};

class XAudio2Test : public ::testing::Test {
protected:
    void SetUp() override {
        audiotest::UseManualOutput(true);
        ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                                   reinterpret_cast<void**>(&engine)),
                  S_OK);
        ASSERT_EQ(engine->Initialize(0, XAUDIO2_DEFAULT_PROCESSOR), S_OK);
    }
    void TearDown() override {
        if (source) source->DestroyVoice();
        if (master) master->DestroyVoice();
        if (engine) engine->Release();
        audiotest::UseManualOutput(false);
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    }
    void OpenStereo(Recorder* recorder) {
        ASSERT_EQ(engine->CreateMasteringVoice(&master, 0, 48000), S_OK);
        WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
        ASSERT_EQ(engine->CreateSourceVoice(&source, &format.Format, 0, 1.0f, recorder), S_OK);
        recorder->voice = source;
    }
    void Submit(std::vector<float>& data, uintptr_t id, UINT32 flags = 0) {
        XAUDIO2_BUFFER buffer{};
        buffer.Flags = flags;
        buffer.AudioBytes = static_cast<UINT32>(data.size() * sizeof(float));
        buffer.pAudioData = reinterpret_cast<const BYTE*>(data.data());
        buffer.pContext = reinterpret_cast<void*>(id);
        ASSERT_EQ(source->SubmitSourceBuffer(&buffer), S_OK);
    }

    IXAudio2* engine = nullptr;
    IXAudio2MasteringVoice* master = nullptr;
    IXAudio2SourceVoice* source = nullptr;
};

std::vector<float> Constant(size_t frames, float left, float right) {
    std::vector<float> data(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        data[2 * i] = left;
        data[2 * i + 1] = right;
    }
    return data;
}

TEST_F(XAudio2Test, APassStartsBeforeConsumingAndEndsBuffersInSubmitOrder) {
    Recorder recorder;
    OpenStereo(&recorder);
    std::vector<float> a = Constant(256, 0.25f, -0.25f), b = Constant(256, 0.5f, -0.5f),
                       c = Constant(256, 1, -1);
    Submit(a, 1);
    Submit(b, 2);
    Submit(c, 3, XAUDIO2_END_OF_STREAM);
    // Not started: a pass consumes nothing and calls nothing.
    EXPECT_EQ(audiotest::RenderOutput(128), std::vector<float>(256, 0.0f));
    EXPECT_TRUE(recorder.events.empty());
    ASSERT_EQ(source->Start(0), S_OK);

    std::vector<float> out = audiotest::RenderOutput(512);
    ASSERT_EQ(out.size(), 1024u);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[2 * 255 + 1], -0.25f);
    EXPECT_EQ(out[2 * 256], 0.5f);
    EXPECT_EQ(out[2 * 511 + 1], -0.5f);
    std::vector<std::string> expected = {"pass",    "start 1",       "done 1 left 2",
                                         "start 2", "done 2 left 1", "end"};
    EXPECT_EQ(recorder.events, expected);
    XAUDIO2_VOICE_STATE state;
    source->GetState(&state);
    EXPECT_EQ(state.BuffersQueued, 1u);
    EXPECT_EQ(state.SamplesPlayed, 512u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(state.pCurrentBufferContext), 3u);

    // The last buffer ends halfway; the rest of the pass is silence and the count stops.
    recorder.events.clear();
    out = audiotest::RenderOutput(512);
    EXPECT_EQ(out[2 * 255], 1.0f);
    EXPECT_EQ(out[2 * 256], 0.0f);
    expected = {"pass", "start 3", "done 3 left 0", "stream end", "end"};
    EXPECT_EQ(recorder.events, expected);
    source->GetState(&state);
    EXPECT_EQ(state.BuffersQueued, 0u);
    EXPECT_EQ(state.SamplesPlayed, 768u);
    EXPECT_EQ(state.pCurrentBufferContext, nullptr);
}

TEST_F(XAudio2Test, ThePassStartMayRefillTheQueueItIsAboutToPlay) {
    Recorder recorder;
    std::vector<std::vector<float>> refill = {Constant(300, 0.1f, 0.1f), Constant(300, 0.2f, 0.2f),
                                              Constant(300, 0.3f, 0.3f)};
    recorder.refill = &refill;
    OpenStereo(&recorder);
    ASSERT_EQ(source->Start(0), S_OK);
    std::vector<float> out = audiotest::RenderOutput(512);
    // Submitted inside the pass start, played in the same pass.
    EXPECT_EQ(out[0], 0.1f);
    EXPECT_EQ(out[2 * 300], 0.2f);
    out = audiotest::RenderOutput(512);
    EXPECT_EQ(out[2 * (600 - 512)], 0.3f);
    EXPECT_EQ(out[2 * (900 - 512)], 0.0f);
    XAUDIO2_VOICE_STATE state;
    source->GetState(&state);
    EXPECT_EQ(state.SamplesPlayed, 900u);
}

TEST_F(XAudio2Test, VolumeScalesAndChannelsBeyondTheDeviceAreDropped) {
    ASSERT_EQ(engine->CreateMasteringVoice(&master, 1, 48000), S_OK);
    EXPECT_EQ(audiotest::OutputChannels(), 1u);
    WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
    ASSERT_EQ(engine->CreateSourceVoice(&source, &format.Format, 0, 1.0f, nullptr), S_OK);
    std::vector<float> data = Constant(64, 0.5f, 0.75f);
    Submit(data, 1);
    ASSERT_EQ(source->SetVolume(0.5f), S_OK);
    ASSERT_EQ(source->Start(0), S_OK);
    std::vector<float> out = audiotest::RenderOutput(64);
    ASSERT_EQ(out.size(), 64u);
    EXPECT_EQ(out[63], 0.25f);
}

TEST_F(XAudio2Test, DeviceDetailsFollowTheDeviceAndTheMasteringVoiceTakesThem) {
    XAUDIO2_DEVICE_DETAILS details;
    for (unsigned channels : {2u, 5u, 6u, 8u}) {
        audiotest::SetDeviceChannels(channels);
        ASSERT_EQ(engine->GetDeviceDetails(0, &details), S_OK);
        EXPECT_EQ(details.OutputFormat.Format.nChannels, channels);
    }
    EXPECT_EQ(engine->GetDeviceDetails(1, &details), E_INVALIDARG);
    ASSERT_EQ(engine->CreateMasteringVoice(&master, XAUDIO2_DEFAULT_CHANNELS, 24000), S_OK);
    EXPECT_EQ(audiotest::OutputChannels(), 8u);
    EXPECT_EQ(audiotest::OutputRate(), 24000u);
    IXAudio2MasteringVoice* second = nullptr;
    EXPECT_EQ(engine->CreateMasteringVoice(&second), XAUDIO2_E_INVALID_CALL);
}

TEST_F(XAudio2Test, SourceVoicesTakeFloatAtTheDeviceRateOnly) {
    ASSERT_EQ(engine->CreateMasteringVoice(&master, 2, 48000), S_OK);
    struct Case {
        const char* what;
        WAVEFORMATEXTENSIBLE format;
    };
    Case cases[] = {{"other rate", FloatFormat(2, 44100)},
                    {"pcm", FloatFormat(2, 48000)},
                    {"16 bits", FloatFormat(2, 48000)},
                    {"bad block", FloatFormat(2, 48000)}};
    cases[1].format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    cases[2].format.Format.wBitsPerSample = 16;
    cases[3].format.Format.nBlockAlign = 4;
    for (Case& c : cases) {
        IXAudio2SourceVoice* voice = nullptr;
        EXPECT_EQ(engine->CreateSourceVoice(&voice, &c.format.Format), E_INVALIDARG) << c.what;
        EXPECT_EQ(voice, nullptr);
    }
    WAVEFORMATEXTENSIBLE good = FloatFormat(2, 48000);
    ASSERT_EQ(engine->CreateSourceVoice(&source, &good.Format), S_OK);
    std::vector<float> odd(3);
    XAUDIO2_BUFFER buffer{};
    buffer.AudioBytes = 12; // not whole frames
    buffer.pAudioData = reinterpret_cast<const BYTE*>(odd.data());
    EXPECT_EQ(source->SubmitSourceBuffer(&buffer), E_INVALIDARG);
    std::vector<float> data = Constant(4, 0, 0);
    buffer.AudioBytes = 32;
    buffer.pAudioData = reinterpret_cast<const BYTE*>(data.data());
    for (UINT32 i = 0; i < XAUDIO2_MAX_QUEUED_BUFFERS; ++i)
        ASSERT_EQ(source->SubmitSourceBuffer(&buffer), S_OK);
    EXPECT_EQ(source->SubmitSourceBuffer(&buffer), XAUDIO2_E_INVALID_CALL);
}

TEST_F(XAudio2Test, InjectedFailuresHitOneCallEach) {
    const char* calls[] = {"IXAudio2::GetDeviceDetails", "IXAudio2::CreateMasteringVoice",
                           "IXAudio2::CreateSourceVoice", "IXAudio2SourceVoice::Start",
                           "IXAudio2SourceVoice::SubmitSourceBuffer"};
    for (const char* call : calls)
        audiotest::FailNextCall(call, E_FAIL);
    XAUDIO2_DEVICE_DETAILS details;
    EXPECT_EQ(engine->GetDeviceDetails(0, &details), E_FAIL);
    EXPECT_EQ(engine->GetDeviceDetails(0, &details), S_OK);
    EXPECT_EQ(engine->CreateMasteringVoice(&master), E_FAIL);
    EXPECT_EQ(master, nullptr);
    ASSERT_EQ(engine->CreateMasteringVoice(&master), S_OK);
    WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
    EXPECT_EQ(engine->CreateSourceVoice(&source, &format.Format), E_FAIL);
    ASSERT_EQ(engine->CreateSourceVoice(&source, &format.Format), S_OK);
    EXPECT_EQ(source->Start(0), E_FAIL);
    EXPECT_EQ(source->Start(0), S_OK);
    std::vector<float> data = Constant(4, 0, 0);
    XAUDIO2_BUFFER buffer{};
    buffer.AudioBytes = 32;
    buffer.pAudioData = reinterpret_cast<const BYTE*>(data.data());
    EXPECT_EQ(source->SubmitSourceBuffer(&buffer), E_FAIL);
    EXPECT_EQ(source->SubmitSourceBuffer(&buffer), S_OK);

    IXAudio2* second = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                               reinterpret_cast<void**>(&second)),
              S_OK);
    audiotest::FailNextCall("IXAudio2::Initialize", XAUDIO2_E_INVALID_CALL);
    EXPECT_EQ(second->Initialize(0), XAUDIO2_E_INVALID_CALL);
    second->Release();
}

TEST_F(XAudio2Test, EnginesOfOneFormatShareTheDeviceAndAreSummed) {
    ASSERT_EQ(engine->CreateMasteringVoice(&master, 2, 48000), S_OK);
    WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
    ASSERT_EQ(engine->CreateSourceVoice(&source, &format.Format), S_OK);
    IXAudio2* other = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                               reinterpret_cast<void**>(&other)),
              S_OK);
    ASSERT_EQ(other->Initialize(0), S_OK);
    IXAudio2MasteringVoice* otherMaster = nullptr;
    // The device is open in stereo: another layout must wait until it closes.
    EXPECT_EQ(other->CreateMasteringVoice(&otherMaster, 6, 48000), XAUDIO2_E_NO_DEVICE);
    ASSERT_EQ(other->CreateMasteringVoice(&otherMaster, 2, 48000), S_OK);
    IXAudio2SourceVoice* otherSource = nullptr;
    ASSERT_EQ(other->CreateSourceVoice(&otherSource, &format.Format), S_OK);

    std::vector<float> a = Constant(64, 0.25f, 0.5f), b = Constant(64, 0.125f, -1.0f);
    Submit(a, 1);
    XAUDIO2_BUFFER buffer{};
    buffer.AudioBytes = static_cast<UINT32>(b.size() * sizeof(float));
    buffer.pAudioData = reinterpret_cast<const BYTE*>(b.data());
    ASSERT_EQ(otherSource->SubmitSourceBuffer(&buffer), S_OK);
    ASSERT_EQ(source->Start(0), S_OK);
    ASSERT_EQ(otherSource->Start(0), S_OK);
    std::vector<float> out = audiotest::RenderOutput(64);
    EXPECT_EQ(out[0], 0.375f);
    EXPECT_EQ(out[1], -0.5f);

    otherSource->DestroyVoice();
    otherMaster->DestroyVoice();
    other->Release();
    // Still open for the first engine.
    EXPECT_EQ(audiotest::OutputChannels(), 2u);
}

TEST_F(XAudio2Test, CriticalErrorsReachRegisteredEngineCallbacksOnly) {
    EngineRecorder recorder;
    ASSERT_EQ(engine->RegisterForCallbacks(&recorder), S_OK);
    ASSERT_EQ(engine->CreateMasteringVoice(&master), S_OK);
    audiotest::RenderOutput(16);
    EXPECT_EQ(recorder.passes.load(), 1);
    audiotest::RaiseCriticalError(XAUDIO2_E_DEVICE_INVALIDATED);
    EXPECT_EQ(recorder.critical.load(), XAUDIO2_E_DEVICE_INVALIDATED);
    engine->UnregisterForCallbacks(&recorder);
    recorder.critical = S_OK;
    audiotest::RaiseCriticalError(E_FAIL);
    audiotest::RenderOutput(16);
    EXPECT_EQ(recorder.critical.load(), S_OK);
    EXPECT_EQ(recorder.passes.load(), 1);
}

TEST_F(XAudio2Test, WithoutSdlAudioOnlyTheMasteringVoiceFails) {
    // SDL reads the driver when its audio starts; nothing holds it at this point.
    engine->Release();
    engine = nullptr;
    const char* previous = std::getenv("SDL_AUDIODRIVER");
    std::string saved = previous ? previous : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                               reinterpret_cast<void**>(&engine)),
              S_OK);
    EXPECT_EQ(engine->Initialize(0), S_OK);
    EXPECT_EQ(engine->CreateMasteringVoice(&master), XAUDIO2_E_NO_DEVICE);
    EXPECT_EQ(master, nullptr);
    setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
}

// SDL's own device thread runs the passes from here on.
class XAudio2DeviceThread : public ::testing::Test {
protected:
    void TearDown() override {
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    }
};

// Keeps two buffers queued from the pass start and counts finished buffers; after `stopAfter`
// buffers it submits nothing more.
struct ToneFeeder final : IXAudio2VoiceCallback {
    IXAudio2SourceVoice* voice = nullptr;
    std::vector<std::vector<float>> ring;
    size_t submitted = 0;
    size_t stopAfter = 0;
    std::mutex mutex;
    std::condition_variable changed;
    size_t ended = 0;
    std::atomic<bool> destroyed{false};
    std::atomic<int> lateCallbacks{0};

    void Check() {
        if (destroyed.load()) lateCallbacks.fetch_add(1);
    }
    void OnVoiceProcessingPassStart(UINT32) override {
        Check();
        XAUDIO2_VOICE_STATE state;
        voice->GetState(&state);
        while (state.BuffersQueued < 2 && (stopAfter == 0 || submitted < stopAfter)) {
            std::vector<float>& data = ring[submitted % ring.size()];
            XAUDIO2_BUFFER buffer{};
            buffer.AudioBytes = static_cast<UINT32>(data.size() * sizeof(float));
            buffer.pAudioData = reinterpret_cast<const BYTE*>(data.data());
            if (voice->SubmitSourceBuffer(&buffer) != S_OK) break;
            ++submitted;
            voice->GetState(&state);
        }
        Check();
    }
    void OnVoiceProcessingPassEnd() override { Check(); }
    void OnStreamEnd() override {}
    void OnBufferStart(void*) override { Check(); }
    void OnBufferEnd(void*) override {
        Check();
        std::lock_guard<std::mutex> lock(mutex);
        ++ended;
        changed.notify_all();
    }
    void OnLoopEnd(void*) override {}
    void OnVoiceError(void*, HRESULT) override {}

    void WaitForEnded(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ended >= count; });
    }
};

std::vector<float> SineBuffer(size_t frames, size_t startFrame, double frequency, double amplitude) {
    std::vector<float> data(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(startFrame + i) / 48000.0;
        data[2 * i] = data[2 * i + 1] = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * t));
    }
    return data;
}

TEST_F(XAudio2DeviceThread, DestroyVoiceReturnsOnlyAfterTheLastCallback) {
    IXAudio2* engine = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                               reinterpret_cast<void**>(&engine)),
              S_OK);
    ASSERT_EQ(engine->Initialize(0), S_OK);
    IXAudio2MasteringVoice* master = nullptr;
    ASSERT_EQ(engine->CreateMasteringVoice(&master, 2, 48000), S_OK);
    ToneFeeder feeder;
    feeder.ring.assign(3, std::vector<float>(2 * 256, 0.0f));
    WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
    IXAudio2SourceVoice* voice = nullptr;
    ASSERT_EQ(engine->CreateSourceVoice(&voice, &format.Format, 0, 1.0f, &feeder), S_OK);
    feeder.voice = voice;
    ASSERT_EQ(voice->Start(0), S_OK);
    feeder.WaitForEnded(4);
    voice->DestroyVoice();
    feeder.destroyed = true;
    // The engine goes on with its passes; none of them may reach the destroyed voice.
    EngineRecorder passes;
    ASSERT_EQ(engine->RegisterForCallbacks(&passes), S_OK);
    passes.WaitForPasses(3);
    engine->UnregisterForCallbacks(&passes);
    EXPECT_EQ(feeder.lateCallbacks.load(), 0);
    master->DestroyVoice();
    engine->Release();
}

// The disk driver writes what the device played; the tone must be found there with its frequency
// and level.
TEST_F(XAudio2DeviceThread, ATonePlayedThroughTheDiskDriverReachesItsFile) {
    std::string path = ::testing::TempDir() + "xaudio2_tone.raw";
    std::remove(path.c_str());
    const char* previous = std::getenv("SDL_AUDIODRIVER");
    std::string saved = previous ? previous : "";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);

    IXAudio2* engine = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                               reinterpret_cast<void**>(&engine)),
              S_OK);
    ASSERT_EQ(engine->Initialize(0), S_OK);
    IXAudio2MasteringVoice* master = nullptr;
    ASSERT_EQ(engine->CreateMasteringVoice(&master, 2, 48000), S_OK);
    ToneFeeder feeder;
    const size_t kFrames = 1024, kBuffers = 12;
    for (size_t i = 0; i < kBuffers; ++i)
        feeder.ring.push_back(SineBuffer(kFrames, i * kFrames, 440.0, 0.5));
    feeder.stopAfter = kBuffers;
    WAVEFORMATEXTENSIBLE format = FloatFormat(2, 48000);
    IXAudio2SourceVoice* voice = nullptr;
    ASSERT_EQ(engine->CreateSourceVoice(&voice, &format.Format, 0, 1.0f, &feeder), S_OK);
    feeder.voice = voice;
    ASSERT_EQ(voice->Start(0), S_OK);
    feeder.WaitForEnded(kBuffers);
    voice->DestroyVoice();
    master->DestroyVoice();
    engine->Release();
    setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");

    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file);
    std::vector<float> samples;
    float sample;
    while (file.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    // Left channel between the first and the last sound.
    std::vector<float> left;
    for (size_t i = 0; i + 1 < samples.size(); i += 2)
        left.push_back(samples[i]);
    size_t first = 0, last = left.size();
    while (first < left.size() && left[first] == 0.0f)
        ++first;
    while (last > first && left[last - 1] == 0.0f)
        --last;
    ASSERT_GE(last - first, kFrames * kBuffers - 2);
    EXPECT_LE(last - first, kFrames * kBuffers);
    double energy = 0;
    int crossings = 0;
    for (size_t i = first; i < last; ++i) {
        energy += left[i] * left[i];
        if (i > first && (left[i - 1] < 0) != (left[i] < 0)) ++crossings;
    }
    double rms = std::sqrt(energy / static_cast<double>(last - first));
    double seconds = static_cast<double>(last - first) / 48000.0;
    EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(crossings / (2 * seconds), 440.0, 5.0);
    std::remove(path.c_str());
}

} // namespace
