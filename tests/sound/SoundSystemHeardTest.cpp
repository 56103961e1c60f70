// What the game's sound messages do to the sound, read back from the main output's capture: the
// sound system runs on the real engine with the game's banks, in a run-time tree of its own, and
// each tone of the Torvik bank is told apart by its frequency.
#include <ScopedCwd.h>
#include <SoundSystem.h>

#include <AU/SoundEngine.h>
#include <AuCaptureFile.h>
#include <AuLogCapture.h>
#include <Engine.h>
#include <HannToneLevel.h>
#include <MessageRecorder.h>
#include <SDL_events.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWavHeader = 46;
constexpr double kRate = 48000.0;
constexpr std::size_t kAudioFrame = 1024;
// Enough samples to tell 110 Hz from 220 Hz under a Hann window, and short beside the events.
constexpr std::size_t kWindow = 8192;

// The tones of the Torvik bank, by what plays them.
constexpr double kClickHz = 2000, kHoverHz = 1500, kHoverVariantHz = 2500, kMenuMusicHz = 220,
                 kLevelMusicHz = 330, kAmbienceHz = 110, kCreditsHz = 262;
constexpr double kAllTones[] = {kClickHz,      kHoverHz,    kHoverVariantHz, kMenuMusicHz,
                                kLevelMusicHz, kAmbienceHz, kCreditsHz};

// The events the game posts.
constexpr std::uint32_t kClick = 0xFF0B3D05, kHover = 0xF9BB515D, kHoverVariant = 0x44A6CADC,
                        kMenuMusic = 0x2C928473, kLevelMusic = 0x2F6C248F, kAmbience = 0x63E09726,
                        kCredits = 0x9A5F2038, kCreditsBack = 0xF5D36B26, kStopMusic = 0xE7746BD5,
                        kStopAll = 0xF64FB20D, kPauseAll = 0xE6517101, kResumeAll = 0xDB54B788,
                        kMusicMute = 0x205DA04D, kMusicUnmute = 0x3474117A, kSfxMute = 0x63C39CE1,
                        kSfxUnmute = 0x305775FC;

// A tone is heard above this level (full scale 1) and silent below the other.
constexpr double kHeard = 0.05;
constexpr double kSilent = 0.002;
constexpr std::size_t kSettle = 4 * kAudioFrame;

// The capture's left channel, scaled to full scale 1.
std::vector<double> ReadLeft(const fs::path& path) {
    const AuCaptureFile capture = AuCaptureFile::Read(path);
    std::vector<double> left;
    for (std::size_t frame = 0; frame < capture.Frames(); ++frame)
        left.push_back(capture.At(frame, 0) / 32768.0);
    return left;
}

double ToneLevel(const std::vector<double>& left, std::size_t from, double hz, std::size_t length = kWindow) {
    return HannToneLevel(left, from, hz, length, kRate);
}

// The loudest the tone at `hz` is in any short window between the two samples: a blip of 40 ms
// fills most of a 2048-sample window.
double LoudestBlip(const std::vector<double>& left, std::size_t from, std::size_t to, double hz) {
    constexpr std::size_t kBlipWindow = 2048;
    double loudest = 0;
    for (std::size_t at = from; at + kBlipWindow <= to; at += kBlipWindow / 8)
        loudest = std::max(loudest, ToneLevel(left, at, hz, kBlipWindow));
    return loudest;
}

// The sound system started as the game starts it, from Bin/Release of a copy of the game's banks,
// with the main output captured to Resources/SoundBanks/heard.wav.
class SoundSystemHeardTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path banks = fs::current_path() / ".." / ".." / "Resources" / "SoundBanks";
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        mRoot = fs::path(testing::TempDir()) / "torvik_heard_game" / info->name();
        fs::remove_all(mRoot);
        fs::create_directories(mRoot / "Resources" / "SoundBanks");
        fs::create_directories(mRoot / "Bin" / "Release");
        for (const char* bank : {"Init.bnk", "Torvik.bnk"})
            fs::copy_file(banks / bank, mRoot / "Resources" / "SoundBanks" / bank);
        mCwd = std::make_unique<ScopedCwd>(mRoot / "Bin" / "Release");
        mCapture = mRoot / "Resources" / "SoundBanks" / "heard.wav";

        testing::internal::CaptureStdout();
        mSound.Initialize();
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(printed, "");
        ASSERT_TRUE(mErrors.ErrorTexts().empty());
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
    }

    void TearDown() override {
        AU::SoundEngine::StopOutputCapture();
        mSound.Update(0.016f);
        EXPECT_EQ(mSound.Release(), 0);
        mCwd.reset();
        if (!HasFailure()) fs::remove_all(mRoot);
    }

    // Samples the capture holds now.
    std::size_t Captured() const {
        std::error_code error;
        const auto size = fs::file_size(mCapture, error);
        return error || size < kWavHeader ? 0 : (size - kWavHeader) / 4;
    }

    // Frames of the game until the capture holds `samples`, for at most five seconds.
    void RunUntilCaptured(std::size_t samples) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Captured() < samples && std::chrono::steady_clock::now() < until) {
            mSound.Update(0.016f);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_GE(Captured(), samples) << "the capture stopped growing";
    }

    // What the game sends, in the frame it sends it: the listener takes it at once, the frame's
    // update renders.
    void Send(const std::shared_ptr<Message>& message) {
        Engine::ImmediateMessage(message);
        mSound.Update(0.016f);
    }
    void Post(std::uint32_t event) { Send(std::make_shared<PostSoundEventMessage>(L"Game", event)); }

    // The level of every tone in the window that starts `settle` samples after the capture's end as
    // it is now, once the game has run until it is captured.
    struct Levels {
        std::size_t at = 0;
        std::vector<double> left;
        double Of(double hz) const { return ToneLevel(left, at, hz); }
    };
    Levels Listen(std::size_t settle) {
        Levels levels;
        levels.at = Captured() + settle;
        RunUntilCaptured(levels.at + kWindow);
        levels.left = ReadLeft(mCapture);
        return levels;
    }

    // The loudest the blip of `event` is, posted now, and the tones heard once it is over.
    Levels Blip(std::uint32_t event, double hz, double& loudest) {
        const std::size_t posted = Captured();
        Post(event);
        Levels after = Listen(4 * kAudioFrame + kWindow);
        loudest = LoudestBlip(after.left, posted, after.at, hz);
        return after;
    }

    // The loudest a click posted now is.
    double Click() {
        double loudest = 0;
        Blip(kClick, kClickHz, loudest);
        return loudest;
    }

    // Only these tones are heard in the window, every other one is silent.
    static void ExpectOnly(const Levels& levels, std::vector<double> heard, const char* when) {
        for (double hz : kAllTones) {
            const bool wanted = std::find(heard.begin(), heard.end(), hz) != heard.end();
            const double level = levels.Of(hz);
            if (wanted)
                EXPECT_GT(level, kHeard) << when << ": " << hz << " Hz at sample " << levels.at;
            else
                EXPECT_LT(level, kSilent) << when << ": " << hz << " Hz at sample " << levels.at;
        }
    }

    fs::path mRoot;
    fs::path mCapture;
    std::unique_ptr<ScopedCwd> mCwd;
    MessageRecorder mErrors{{MessageType::Error}};
    AuLogCapture mEngineLog;
    SoundSystem mSound{L"Sound"};
};

// The events that start a sound: each is heard at its own frequency once posted, the loops go on
// and the blips end by themselves. (The other events are heard in the tests below.)
TEST_F(SoundSystemHeardTest, EachEventThatPlaysIsHeardInTheCapture) {
    ExpectOnly(Listen(0), {}, "before any event");

    // The three menu blips, each a short tone that ends by itself.
    for (const auto& [event, hz] : {std::pair{kClick, kClickHz}, std::pair{kHover, kHoverHz},
                                    std::pair{kHoverVariant, kHoverVariantHz}}) {
        double loudest = 0;
        const Levels after = Blip(event, hz, loudest);
        // Its peak: the blip's amplitude at the centre pan, most of it inside the window.
        EXPECT_GT(loudest, 0.15) << hz << " Hz after its event";
        ExpectOnly(after, {}, "after a blip");
    }

    // The loops, one after another: each joins those already playing and keeps on.
    std::vector<double> playing;
    for (const auto& [event, hz] :
         {std::pair{kMenuMusic, kMenuMusicHz}, std::pair{kLevelMusic, kLevelMusicHz},
          std::pair{kAmbience, kAmbienceHz}, std::pair{kCredits, kCreditsHz}}) {
        Post(event);
        playing.push_back(hz);
        ExpectOnly(Listen(kSettle), playing, "loops");
    }
    // The PCM loops at their 0.25, the Vorbis ones at their 0.5, at the centre pan.
    const Levels levels = Listen(kWindow);
    ExpectOnly(levels, playing, "the loops go on");
    EXPECT_NEAR(levels.Of(kLevelMusicHz), 0.25 * std::sqrt(0.5), 0.01);
    EXPECT_NEAR(levels.Of(kCreditsHz), 0.25 * std::sqrt(0.5), 0.01);
    EXPECT_NEAR(levels.Of(kMenuMusicHz), 0.5 * std::sqrt(0.5), 0.02);
    EXPECT_NEAR(levels.Of(kAmbienceHz), 0.5 * std::sqrt(0.5), 0.02);
}

TEST_F(SoundSystemHeardTest, TheOptionsSliderLowersTheMusicByItsBusCurve) {
    Post(kLevelMusic);
    const double full = Listen(kSettle).Of(kLevelMusicHz);
    // The tone's 0.25 at the centre pan.
    EXPECT_NEAR(full, 0.25 * std::sqrt(0.5), 0.01);

    // The slider halfway, for every object: the bus curve follows the ear, half the gain at 50.
    Send(std::make_shared<SoundRTPCMessage>(L"Options", "Music_Ambience_Bus_Volume", 50.0f));
    const double half = Listen(kSettle).Of(kLevelMusicHz);
    const double halfDb = 20 * std::log10(half / full);
    EXPECT_LT(halfDb, -5.0) << half << " of " << full;
    EXPECT_GT(halfDb, -8.0) << half << " of " << full;
    // At 10 it is still heard, 20 dB down.
    Send(std::make_shared<SoundRTPCMessage>(L"Options", "Music_Ambience_Bus_Volume", 10.0f));
    EXPECT_NEAR(20 * std::log10(Listen(kSettle).Of(kLevelMusicHz) / full), -20.0, 1.0);
    double click = 0;
    Blip(kClick, kClickHz, click);
    EXPECT_GT(click, 0.15) << "the SFX slider was not moved";

    Send(std::make_shared<SoundRTPCMessage>(L"Options", "Music_Ambience_Bus_Volume", 100.0f));
    EXPECT_NEAR(Listen(kSettle).Of(kLevelMusicHz), full, 0.01);
}

TEST_F(SoundSystemHeardTest, StopAllFadesTheLoopsOutAndPauseAllHoldsThemUntilResumeAll) {
    Post(kLevelMusic);
    Post(kAmbience);
    ExpectOnly(Listen(kSettle), {kLevelMusicHz, kAmbienceHz}, "playing");

    Post(kPauseAll);
    ExpectOnly(Listen(kSettle), {}, "paused");
    Post(kResumeAll);
    ExpectOnly(Listen(kSettle), {kLevelMusicHz, kAmbienceHz}, "resumed");

    // Its fade is 500 ms: 24 000 samples.
    Post(kStopAll);
    ExpectOnly(Listen(24000 + kSettle), {}, "stopped");
}

// "Back" from the credits stops their music alone; the splash's first event stops every loop of
// the music bus, and a click posted with it in the same frame plays whole on the SFX bus.
TEST_F(SoundSystemHeardTest, TheCreditsBackAndTheSplashStopsSilenceOnlyTheirOwnSounds) {
    Post(kLevelMusic);
    Post(kCredits);
    ExpectOnly(Listen(kSettle), {kLevelMusicHz, kCreditsHz}, "playing");
    Post(kCreditsBack);
    ExpectOnly(Listen(kSettle), {kLevelMusicHz}, "after the credits' back");

    Post(kMenuMusic);
    Post(kAmbience);
    Post(kCredits);
    ExpectOnly(Listen(kSettle), {kLevelMusicHz, kMenuMusicHz, kAmbienceHz, kCreditsHz}, "every loop");
    const std::size_t posted = Captured();
    Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Game", kClick));
    Post(kStopMusic);
    const Levels after = Listen(4 * kAudioFrame + kWindow);
    ExpectOnly(after, {}, "after the music bus's stop");
    // The whole blip: a click that the stop reached would end in the frame it starts.
    EXPECT_GT(LoudestBlip(after.left, posted, after.at, kClickHz), 0.15);
}

// The player's mutes: a muted bus is silent for what plays and for what starts on it, the other bus
// plays on, and the unmute brings it back at its level.
TEST_F(SoundSystemHeardTest, TheMuteEventsSilenceTheirBusUntilTheirUnmute) {
    Post(kLevelMusic);
    const double full = Listen(kSettle).Of(kLevelMusicHz);
    EXPECT_GT(full, kHeard);

    Post(kMusicMute);
    ExpectOnly(Listen(kSettle), {}, "music muted");
    EXPECT_GT(Click(), 0.15) << "the SFX bus was muted with the music";
    Post(kAmbience);
    ExpectOnly(Listen(kSettle), {}, "a loop started while the music is muted");
    Post(kMusicUnmute);
    const Levels unmuted = Listen(kSettle);
    ExpectOnly(unmuted, {kLevelMusicHz, kAmbienceHz}, "music unmuted");
    EXPECT_NEAR(unmuted.Of(kLevelMusicHz), full, 0.01);

    Post(kSfxMute);
    EXPECT_LT(Click(), kSilent) << "a click while the SFX are muted";
    ExpectOnly(Listen(kSettle), {kLevelMusicHz, kAmbienceHz}, "SFX muted");
    Post(kSfxUnmute);
    EXPECT_GT(Click(), 0.15) << "a click after the SFX unmute";
}

struct FocusHeard {
    const char* name;
    // The window events: the loss (0 for none) and the gain.
    std::uint8_t loss, gain;
    // What the player muted before.
    bool musicMuted, sfxMuted;
};

void PrintTo(const FocusHeard& focus, std::ostream* out) {
    *out << focus.name;
}

class SoundSystemFocusHeardTest : public SoundSystemHeardTest,
                                  public ::testing::WithParamInterface<FocusHeard> {
protected:
    void Window(std::uint8_t subEvent) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = subEvent;
        Send(std::make_shared<SDLEventMessage>(L"Input", event));
    }
};

// Both busses are silent while the window is away; when it is back, only the player's own mutes stay,
// until the player lifts them.
TEST_P(SoundSystemFocusHeardTest, TheWindowAwaySilencesBothBussesAndThePlayersMutesStay) {
    const FocusHeard& focus = GetParam();
    Post(kLevelMusic);
    if (focus.musicMuted) Post(kMusicMute);
    if (focus.sfxMuted) Post(kSfxMute);
    if (focus.loss != 0) {
        Window(focus.loss);
        ExpectOnly(Listen(kSettle), {}, "the window away");
        EXPECT_LT(Click(), kSilent) << "a click with the window away";
    }
    Window(focus.gain);
    EXPECT_EQ(mSound.IsMusicMuted(), focus.musicMuted);
    EXPECT_EQ(mSound.IsSfxMuted(), focus.sfxMuted);
    ExpectOnly(Listen(kSettle), focus.musicMuted ? std::vector<double>{} : std::vector<double>{kLevelMusicHz},
               "the window back");
    if (focus.sfxMuted)
        EXPECT_LT(Click(), kSilent) << "a click with the player's SFX mute";
    else
        EXPECT_GT(Click(), 0.15) << "a click with the window back";

    // A bus muted both by the player and by the loss comes back with the player's one unmute.
    if (focus.musicMuted) {
        Post(kMusicUnmute);
        ExpectOnly(Listen(kSettle), {kLevelMusicHz}, "the player's music unmute");
    }
    if (focus.sfxMuted) {
        Post(kSfxUnmute);
        EXPECT_GT(Click(), 0.15) << "a click after the player's SFX unmute";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, SoundSystemFocusHeardTest,
    ::testing::Values(FocusHeard{"FocusLostAndGained", SDL_WINDOWEVENT_FOCUS_LOST,
                                 SDL_WINDOWEVENT_FOCUS_GAINED, false, false},
                      FocusHeard{"MinimisedAndRestoredWithTheMusicMuted", SDL_WINDOWEVENT_MINIMIZED,
                                 SDL_WINDOWEVENT_RESTORED, true, false},
                      FocusHeard{"FocusLostAndGainedWithTheSfxMuted", SDL_WINDOWEVENT_FOCUS_LOST,
                                 SDL_WINDOWEVENT_FOCUS_GAINED, false, true},
                      FocusHeard{"GainedWithoutALossWithTheMusicMuted", 0, SDL_WINDOWEVENT_FOCUS_GAINED, true,
                                 false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
