// The output side: set-up with the XAudio2 sink and its fall-backs, default-device changes heard
// through the enumerator or the window, the silent sinks in between, and audible output.
#include "MixingTestSupport.h"
#include "VoiceTestSupport.h"
#include "core/AuAudioMgr.h"
#include "voices/AuMixer.h"

#include "parameters/AuFastMath.h"
#include "voices/AuOutputSide.h"
#include "voices/AuXAudio2Sink.h"

#include <AU/SoundEngine.h>
#include <audio_test_control.h>
#include <bankgen/Media.h>
#include <ksmedia.h>
#include <win32_user_testing.h>
#include <winuser.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace voicetest;

namespace {

AuSinkKind MainKind() {
    return static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind();
}

bool EventSignalled() {
    return WaitForSingleObject(AuOutputEvent(), 0) == WAIT_OBJECT_0;
}

class OutputSideTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        audiotest::UseManualOutput(true);
        settings.samplesPerFrame = AU_DEFAULT_SAMPLES_PER_FRAME;
        settings.mainOutputType = 0;
    }
    void TearDown() override {
        if (initialised) TermOutputSide();
        audiotest::UseManualOutput(false);
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
        EXPECT_EQ(audiotest::NotificationClientCount(), 0u);
        EXPECT_EQ(AuOutputEvent(), nullptr);
        VoicesTest::TearDown();
    }
    void Init(const AuPlatformInitSettings* platform = nullptr) {
        AuPlatformInitSettings copy;
        CAuLowerEngine::GetDefaultPlatformInitSettings(copy);
        if (platform) copy = *platform;
        CAuLowerEngine::SetPlatformInitSettings(&copy);
        ASSERT_EQ(InitOutputSide(settings), AuResultSuccess);
        initialised = true;
    }
    // What the audio pass does about the output device on frame `frame`, in its order.
    static void CheckOutputDevice(u32 frame) {
        if (CAuLowerEngine::IsRestorePending() && !CAuLowerEngine::IsSuspended() && frame % 32 == 0)
            CAuLowerEngine::TryRestoreSinks();
        if (CAuLowerEngine::IsDeviceChangePending()) CAuLowerEngine::OnDeviceChanged();
    }
    static void ChangeDefaultDevice(EDataFlow flow, ERole role, const wchar_t* id) {
        std::thread system([=] { audiotest::SimulateDefaultDeviceChanged(flow, role, id); });
        system.join();
    }

    AuInitSettings settings{};
    bool initialised = false;
};

TEST_F(OutputSideTest, TheMainOutputPlaysThroughXAudio2AndTheExportsHandItsEngineOut) {
    Init();
    ASSERT_EQ(MainKind(), AuSinkKind_XAudio2);
    EXPECT_EQ(AU::GetEngineXAudio2Interface(), CAuLowerEngine::MainSink()->GetXAudio2Interface());
    EXPECT_NE(AU::GetEngineXAudio2Interface(), nullptr);
    EXPECT_EQ(AU::GetDirectSoundInstance(), nullptr);
    EXPECT_EQ(g_OutputTiming.uSampleRate, AU_DEFAULT_SAMPLE_RATE);
    EXPECT_EQ(audiotest::OutputRate(), AU_DEFAULT_SAMPLE_RATE);
    EXPECT_EQ(AuCurrentDeviceWatch(), AuDeviceWatch::Enumerator);
    ASSERT_NE(AuDefaultDeviceId(), nullptr);
    EXPECT_STREQ(AuDefaultDeviceId(), L"sdl-default-playback");
    EXPECT_EQ(audiotest::NotificationClientCount(), 1u);
    // COM was initialised for this thread and is balanced at the end.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
}

TEST_F(OutputSideTest, TheLowRateChoiceRunsTheEngineAt24000Hz) {
    AuPlatformInitSettings platform;
    CAuLowerEngine::GetDefaultPlatformInitSettings(platform);
    platform.sampleRateMode = 1;
    Init(&platform);
    EXPECT_EQ(g_OutputTiming.uSampleRate, AU_LOW_SAMPLE_RATE);
    EXPECT_EQ(audiotest::OutputRate(), AU_LOW_SAMPLE_RATE);
    EXPECT_EQ(CAuLowerEngine::GetWaitTimeout(), 2 * 42u);
}

TEST_F(OutputSideTest, WithoutXAudio2TheMainOutputIsSilent) {
    audiotest::FailNextCreation(CLSID_XAudio2, REGDB_E_CLASSNOTREG);
    Init();
    EXPECT_EQ(MainKind(), AuSinkKind_Dummy);
    EXPECT_EQ(AU::GetEngineXAudio2Interface(), nullptr);
    EXPECT_EQ(AuCurrentDeviceWatch(), AuDeviceWatch::Enumerator);
}

TEST_F(OutputSideTest, ADefaultDeviceChangeSilencesAtOnceAndRestoresOnTheNextThirtySecondFrame) {
    audiotest::SetDeviceChannels(8);
    Init();
    ASSERT_EQ(MainKind(), AuSinkKind_XAudio2);
    const u32 layout = CAuLowerEngine::Devices()->channelConfig.uWord;
    EXPECT_EQ(layout, AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1).uWord);
    EXPECT_FALSE(EventSignalled());

    // Only a render change of the multimedia role counts.
    ChangeDefaultDevice(eRender, eCommunications, L"headset");
    ChangeDefaultDevice(eCapture, eMultimedia, L"microphone");
    EXPECT_FALSE(CAuLowerEngine::IsDeviceChangePending());
    EXPECT_FALSE(EventSignalled());
    EXPECT_STREQ(AuDefaultDeviceId(), L"sdl-default-playback");

    audiotest::SetDeviceChannels(2);
    ChangeDefaultDevice(eRender, eMultimedia, L"usb-speakers");
    EXPECT_TRUE(CAuLowerEngine::IsDeviceChangePending());
    EXPECT_TRUE(EventSignalled());
    EXPECT_STREQ(AuDefaultDeviceId(), L"usb-speakers");

    // Frame 32 itself: the switch comes first, the restore waits for frame 64.
    u32 frame = 32;
    CheckOutputDevice(frame);
    EXPECT_EQ(MainKind(), AuSinkKind_Dummy);
    EXPECT_EQ(AU::GetEngineXAudio2Interface(), nullptr);
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());
    for (++frame; frame < 64; ++frame) {
        CheckOutputDevice(frame);
        ASSERT_EQ(MainKind(), AuSinkKind_Dummy) << frame;
    }
    CheckOutputDevice(frame);
    EXPECT_EQ(MainKind(), AuSinkKind_XAudio2);
    EXPECT_FALSE(CAuLowerEngine::IsRestorePending());
    // Back in the layout the device had, not the new device's.
    EXPECT_EQ(CAuLowerEngine::Devices()->channelConfig.uWord, layout);
    EXPECT_EQ(CAuLowerEngine::MainSink()->ChannelConfig().uWord, layout);
}

TEST_F(OutputSideTest, ARestoreThatFailsIsTriedAgainThirtyTwoFramesLater) {
    Init();
    ChangeDefaultDevice(eRender, eMultimedia, nullptr);
    CheckOutputDevice(1);
    ASSERT_EQ(MainKind(), AuSinkKind_Dummy);
    EXPECT_EQ(AuDefaultDeviceId(), nullptr);
    audiotest::FailNextCreation(CLSID_XAudio2, E_OUTOFMEMORY);
    CheckOutputDevice(32);
    EXPECT_EQ(MainKind(), AuSinkKind_Dummy);
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());
    CheckOutputDevice(64);
    EXPECT_EQ(MainKind(), AuSinkKind_XAudio2);
}

class WindowWatchTest : public OutputSideTest {
protected:
    void SetUp() override {
        OutputSideTest::SetUp();
        // The notices of the window reach the engine only while the audio manager exists.
        g_pAudioMgr = &audioMgr;
    }
    void TearDown() override {
        OutputSideTest::TearDown();
        g_pAudioMgr = nullptr;
        EXPECT_EQ(win32usertest::DeviceNotificationCount(), 0u);
    }
    CAuAudioMgr audioMgr;
    int window = 0;
};

TEST_F(WindowWatchTest, WithoutTheEnumeratorAudioArrivalsAtTheWindowRaiseTheNotice) {
    audiotest::FailNextCreation(CLSID_MMDeviceEnumerator, REGDB_E_CLASSNOTREG);
    const LONG_PTR original = GetWindowLongPtrW(&window, GWLP_WNDPROC);
    AuPlatformInitSettings platform;
    CAuLowerEngine::GetDefaultPlatformInitSettings(platform);
    platform.window = &window;
    Init(&platform);
    ASSERT_EQ(AuCurrentDeviceWatch(), AuDeviceWatch::Window);
    EXPECT_EQ(win32usertest::DeviceNotificationCount(), 1u);
    EXPECT_NE(GetWindowLongPtrW(&window, GWLP_WNDPROC), original);

    const GUID storage = {0x53f56307, 0xb6bf, 0x11d0, {1, 2, 3, 4, 5, 6, 7, 8}};
    win32usertest::ArriveDeviceInterface(storage, L"usb-stick");
    EXPECT_FALSE(CAuLowerEngine::IsDeviceChangePending());
    for (const GUID* audioClass : {&KSCATEGORY_AUDIO, &KSCATEGORY_RENDER}) {
        win32usertest::ArriveDeviceInterface(*audioClass, L"usb-speakers");
        EXPECT_TRUE(CAuLowerEngine::IsDeviceChangePending());
        EXPECT_TRUE(EventSignalled());
        CheckOutputDevice(1);
        EXPECT_FALSE(CAuLowerEngine::IsDeviceChangePending());
    }

    TermOutputSide();
    initialised = false;
    EXPECT_EQ(GetWindowLongPtrW(&window, GWLP_WNDPROC), original);
}

TEST_F(WindowWatchTest, ASubclassAddedLaterKeepsItsChainAtTheEnd) {
    audiotest::FailNextCreation(CLSID_MMDeviceEnumerator, REGDB_E_CLASSNOTREG);
    AuPlatformInitSettings platform;
    CAuLowerEngine::GetDefaultPlatformInitSettings(platform);
    platform.window = &window;
    Init(&platform);
    static WNDPROC s_engineProc = nullptr;
    auto later = +[](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return CallWindowProcW(s_engineProc, w, m, wp, lp);
    };
    s_engineProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(&window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(later)));
    TermOutputSide();
    initialised = false;
    EXPECT_EQ(GetWindowLongPtrW(&window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(later));
}

// Points the disk audio driver at `path` while it lives; the driver choice goes back after.
class DiskDriverOutput {
public:
    explicit DiskDriverOutput(const std::string& path) {
        const char* previous = std::getenv("SDL_AUDIODRIVER");
        m_saved = previous ? previous : "";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    }
    ~DiskDriverOutput() {
        setenv("SDL_AUDIODRIVER", m_saved.c_str(), 1);
        unsetenv("SDL_DISKAUDIOFILE");
    }

private:
    std::string m_saved;
};

// The stereo float frames the disk driver wrote, without the silence before and after the sound
// (the left channel's).
struct DiskAudio {
    std::vector<float> left;
    std::vector<float> right;
};
DiskAudio ReadDiskAudio(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    DiskAudio audio;
    float pair[2];
    while (file.read(reinterpret_cast<char*>(pair), sizeof pair)) {
        audio.left.push_back(pair[0]);
        audio.right.push_back(pair[1]);
    }
    size_t first = 0, last = audio.left.size();
    while (first < last && audio.left[first] == 0.0f)
        ++first;
    while (last > first && audio.left[last - 1] == 0.0f)
        --last;
    for (std::vector<float>* channel : {&audio.left, &audio.right}) {
        channel->erase(channel->begin() + static_cast<std::ptrdiff_t>(last), channel->end());
        channel->erase(channel->begin(), channel->begin() + static_cast<std::ptrdiff_t>(first));
    }
    return audio;
}

// A tone's level (RMS) and its pitch by its zero crossings, at 48 kHz.
struct ToneMeasure {
    double rms = 0.0;
    double hz = 0.0;
};
ToneMeasure MeasureTone(const std::vector<float>& samples) {
    double energy = 0;
    int crossings = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        energy += double{samples[i]} * samples[i];
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    const double count = static_cast<double>(samples.size());
    return {std::sqrt(energy / count), crossings / (2 * count / 48000.0)};
}

// The lower engine mixes a tone into the main output; the disk driver writes what the XAudio2
// sink played.
constexpr f64 kToneHz = 440.0;
constexpr f32 kToneLevel = 0.5f;
TestBuffer* g_toneBus = nullptr;
u32 g_toneFrame = 0;

void MixTone() {
    const u16 frames = g_toneBus->buffer.uMaxFrames;
    for (u32 i = 0; i < frames; ++i) {
        const f32 sample =
            kToneLevel * static_cast<f32>(std::sin(2 * M_PI * kToneHz * (g_toneFrame + i) / 48000.0));
        g_toneBus->buffer.GetChannel(0)[i] = sample;
        g_toneBus->buffer.GetChannel(1)[i] = sample;
    }
    g_toneFrame += frames;
    CAuLowerEngine::MixBusIntoDevice(AuAudioOutputType_Main, 0, g_toneBus->buffer);
}

TEST_F(OutputSideTest, AToneMixedByTheLowerEngineReachesTheDiskDriversFile) {
    audiotest::UseManualOutput(false);
    const std::string path = (m_folder / "output.raw").string();
    const DiskDriverOutput disk(path);

    TestBuffer tone(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), AU_DEFAULT_SAMPLES_PER_FRAME);
    g_toneBus = &tone;
    g_toneFrame = 0;
    m_graph.onMixBusses = MixTone;
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    settings.mainOutputSettings.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    Init();
    ASSERT_EQ(MainKind(), AuSinkKind_XAudio2);
    auto* sink = static_cast<CAuXAudio2Sink*>(CAuLowerEngine::MainSink());

    // The audio thread's loop, on this thread: wait, ask the sink, render.
    constexpr u32 kBuffers = 24;
    CAuLowerEngine::StartOutputs();
    u32 frame = 0;
    while (frame < kBuffers) {
        WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
        for (u32 n = CAuLowerEngine::GetNumBuffersToRender(); n > 0 && frame < kBuffers; --n)
            CAuLowerEngine::Perform(frame++);
    }
    while (sink->WrittenCount() > 0)
        WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
    TermOutputSide();
    initialised = false;
    CAuLowerEngine::SetVoiceGraph(nullptr);

    const DiskAudio audio = ReadDiskAudio(path);
    // Every rendered frame was played, nothing more (the tone's first sample is 0).
    ASSERT_GE(audio.left.size(), kBuffers * AU_DEFAULT_SAMPLES_PER_FRAME - 2);
    EXPECT_LE(audio.left.size(), kBuffers * AU_DEFAULT_SAMPLES_PER_FRAME);
    const ToneMeasure heard = MeasureTone(audio.left);
    EXPECT_NEAR(heard.rms, kToneLevel / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(heard.hz, kToneHz, 3.0);
}

// A voice played through a bus three levels below the master reaches the disk driver's file
// through the XAudio2 sink.
TEST_F(OutputSideTest, AVoiceThroughTheBusChainReachesTheDiskDriversFile) {
    audiotest::UseManualOutput(false);
    const std::string path = (m_folder / "voice.raw").string();
    const DiskDriverOutput disk(path);

    CAuMixer mixer;
    CAuLowerEngine::SetVoiceGraph(&mixer);
    settings.mainOutputSettings.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    Init();
    ASSERT_EQ(MainKind(), AuSinkKind_XAudio2);
    auto* sink = static_cast<CAuXAudio2Sink*>(CAuLowerEngine::MainSink());
    g_pVoiceCommandQueue = &mixer.Commands();
    FakeBusNode master(1), a(2, &master), b(3, &a), c(4, &b);
    const std::vector<i16> pcm = bankgen::ToPcm16({bankgen::Sine(1000.0, 1.0, 48000, 0.5)});
    const bankgen::Bytes media = bankgen::MakePcmWave(pcm, 1, 48000);
    AuPlaybackInstanceParams params;
    params.key.playingID = 3;
    auto instance = std::make_unique<CAuPlaybackInstance>(params);
    instance->SetSourceMedia(voicetest::InMemoryMedia(media.data(), media.size()));
    instance->SetOutputBusNode(&c);
    instance->SetLoopCount(0);
    instance->Play({}, false, false);

    constexpr u32 kBuffers = 24;
    CAuLowerEngine::StartOutputs();
    u32 frame = 0;
    while (frame < kBuffers) {
        WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
        for (u32 n = CAuLowerEngine::GetNumBuffersToRender(); n > 0 && frame < kBuffers; --n) {
            if (mixer.Commands().HasVoicesToStart()) mixer.Commands().StartPendingVoices();
            mixer.Commands().ExecuteVoiceCommands();
            CAuLowerEngine::Perform(frame++);
        }
    }
    while (sink->WrittenCount() > 0)
        WaitForSingleObject(AuOutputEvent(), CAuLowerEngine::GetWaitTimeout());
    CAuLowerEngine::TermVoices();
    g_pVoiceCommandQueue = nullptr;
    instance.reset();
    TermOutputSide();
    initialised = false;
    CAuLowerEngine::SetVoiceGraph(nullptr);

    const DiskAudio audio = ReadDiskAudio(path);
    ASSERT_GE(audio.left.size(), kBuffers * AU_DEFAULT_SAMPLES_PER_FRAME - 2);
    // The tone at -3 dB on each side, through the engine's seven unity gains.
    const double gain = AU_MINUS_3DB * std::pow(double{AuDbToLinear(0.0f)}, 7);
    const ToneMeasure heard = MeasureTone(audio.left);
    EXPECT_NEAR(heard.rms, 0.5 * gain / std::sqrt(2.0), 0.005);
    EXPECT_NEAR(heard.hz, 1000.0, 3.0);
    EXPECT_TRUE(audio.right == audio.left);
}

} // namespace
