// What the game's sound messages do to the sound, read back from the main output's capture: the
// sound system runs on the real engine with the game's banks, in a run-time tree of its own, and
// each sound of the Torvik bank is told apart by a line of its own: the music's held root, the
// ambience's drone, the interface sounds' main partial. No other sound has energy at those lines.
#include <ScopedCwd.h>
#include <SoundSystem.h>

#include <AU/SoundEngine.h>
#include <AuCaptureFile.h>
#include <AuLogCapture.h>
#include <Engine.h>
#include <HannToneLevel.h>
#include <MessageRecorder.h>
#include <SDL_events.h>
#include <audio_test_control.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWavHeader = 46;
constexpr double kRate = 48000.0;
constexpr std::size_t kAudioFrame = 1024;
// Enough samples to tell 110 Hz from 220 Hz under a Hann window, and short beside the events.
constexpr std::size_t kWindow = 8192;

// The lines of the Torvik bank's sounds, by what plays them.
constexpr double kClickHz = 2000, kHoverHz = 1500, kHoverVariantHz = 2500, kMenuMusicHz = 220,
                 kLevelMusicHz = 330, kAmbienceHz = 110, kCreditsHz = 262;
constexpr double kAllTones[] = {kClickHz,      kHoverHz,    kHoverVariantHz, kMenuMusicHz,
                                kLevelMusicHz, kAmbienceHz, kCreditsHz};
// The amplitude of each music's held root in its score.
constexpr double kMusicRoot = 0.13;
// The length of every loop of the bank.
constexpr std::size_t kLoop = 4 * 48000;

// The events the game posts.
constexpr std::uint32_t kClick = 0xFF0B3D05, kHover = 0xF9BB515D, kHoverVariant = 0x44A6CADC,
                        kMenuMusic = 0x2C928473, kLevelMusic = 0x2F6C248F, kAmbience = 0x63E09726,
                        kCredits = 0x9A5F2038, kCreditsBack = 0xF5D36B26, kStopMusic = 0xE7746BD5,
                        kStopAll = 0xF64FB20D, kPauseAll = 0xE6517101, kResumeAll = 0xDB54B788,
                        kMusicMute = 0x205DA04D, kMusicUnmute = 0x3474117A, kSfxMute = 0x63C39CE1,
                        kSfxUnmute = 0x305775FC;

// A line is heard above this level (full scale 1) and silent below the other.
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

// Where the loudest short window of the tone at `hz` starts between the two samples.
std::size_t LoudestBlipAt(const std::vector<double>& left, std::size_t from, std::size_t to, double hz) {
    constexpr std::size_t kBlipWindow = 2048;
    double loudest = -1;
    std::size_t at = from;
    for (std::size_t i = from; i + kBlipWindow <= to; i += kBlipWindow / 8)
        if (const double level = ToneLevel(left, i, hz, kBlipWindow); level > loudest)
            loudest = level, at = i;
    return at;
}

// The lines of a Hann-windowed spectrum up to `maxHz`, in Hz: bins that stand above the two bins on
// each side and reach `floor` of the loudest; lines closer than four bins are one line, so a short
// sound's own spread does not count twice.
std::vector<double> SpectralLines(const std::vector<double>& left, std::size_t from, std::size_t length,
                                  double maxHz, double floor = 0.15) {
    std::vector<double> windowed(length);
    for (std::size_t n = 0; n < length; ++n)
        windowed[n] = left[from + n] * (0.5 - 0.5 * std::cos(2 * M_PI * double(n) / double(length - 1)));
    const std::size_t bins = std::size_t(maxHz * double(length) / kRate);
    std::vector<double> magnitude(bins + 3, 0.0);
    for (std::size_t k = 1; k < magnitude.size(); ++k) {
        // Goertzel: one multiply-add a sample.
        const double c = 2 * std::cos(2 * M_PI * double(k) / double(length));
        double s1 = 0, s2 = 0;
        for (double x : windowed) {
            const double s0 = x + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        magnitude[k] = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2));
    }
    const double loudest = *std::max_element(magnitude.begin(), magnitude.end());
    std::vector<double> lines;
    std::size_t last = 0;
    for (std::size_t k = 2; k + 2 < magnitude.size(); ++k) {
        const double m = magnitude[k];
        if (m < floor * loudest || m < magnitude[k - 1] || m < magnitude[k - 2] || m < magnitude[k + 1] ||
            m < magnitude[k + 2])
            continue;
        if (!lines.empty() && k - last < 4) continue;
        lines.push_back(double(k) * kRate / double(length));
        last = k;
    }
    return lines;
}

// The pitches among the lines: a line that is not a whole multiple of a lower pitch (within 3 %).
std::vector<double> Pitches(const std::vector<double>& lines) {
    std::vector<double> pitches;
    for (double f : lines) {
        bool overtone = false;
        for (double p : pitches) {
            const double ratio = f / p;
            overtone |= ratio > 1.5 && std::abs(ratio - std::round(ratio)) < 0.03 * ratio;
        }
        if (!overtone) pitches.push_back(f);
    }
    return pitches;
}

// Onsets: 10 ms frames whose energy of the sample-to-sample change (which favours the notes'
// partials over a held low root) is twice that of 30 ms before and a fair part of the loudest;
// one onset at most every 80 ms.
std::vector<std::size_t> Onsets(const std::vector<double>& left, std::size_t from, std::size_t to) {
    constexpr std::size_t kFrame = 480;
    std::vector<double> energy;
    for (std::size_t at = from + 1; at + kFrame <= to; at += kFrame) {
        double e = 0;
        for (std::size_t n = at; n < at + kFrame; ++n)
            e += (left[n] - left[n - 1]) * (left[n] - left[n - 1]);
        energy.push_back(e);
    }
    std::vector<std::size_t> onsets;
    if (energy.empty()) return onsets;
    const double loudest = *std::max_element(energy.begin(), energy.end());
    for (std::size_t i = 3; i < energy.size(); ++i)
        if (energy[i] > 2 * energy[i - 3] && energy[i] > 0.02 * loudest &&
            (onsets.empty() || (i - onsets.back()) * kFrame > std::size_t(0.08 * kRate)))
            onsets.push_back(i);
    for (std::size_t& i : onsets)
        i = from + i * kFrame;
    return onsets;
}

// The largest second difference between the two samples: what a click (a step or a kink) shows.
double LargestKink(const std::vector<double>& left, std::size_t from, std::size_t to) {
    double kink = 0;
    for (std::size_t n = std::max<std::size_t>(from, 1); n + 1 < to && n + 1 < left.size(); ++n)
        kink = std::max(kink, std::abs(left[n + 1] - 2 * left[n] + left[n - 1]));
    return kink;
}

// The sound system started as the game starts it, from Bin/Release of a copy of the game's banks,
// with the main output captured to Resources/SoundBanks/heard.wav. The output device is pulled by
// the test, not by SDL in real time, so the engine renders only as far as the test listens, however
// slow the machine is.
class SoundSystemHeardTest : public ::testing::Test {
protected:
    void SetUp() override {
        audiotest::UseManualOutput(true);
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
        audiotest::UseManualOutput(false);
        mCwd.reset();
        if (!HasFailure()) fs::remove_all(mRoot);
    }

    // Samples the capture holds now.
    std::size_t Captured() const {
        std::error_code error;
        const auto size = fs::file_size(mCapture, error);
        return error || size < kWavHeader ? 0 : (size - kWavHeader) / 4;
    }

    // Frames of the game, each pulling one audio frame from the output, until the capture holds
    // `samples`. A pull frees one slot of the engine's output queue and the audio thread renders
    // one frame into it, which the capture receives: that is waited for, not a time.
    void RunUntilCaptured(std::size_t samples) {
        while (Captured() < samples) {
            const std::size_t before = Captured();
            mSound.Update(0.016f);
            audiotest::RenderOutput(kAudioFrame);
            while (Captured() == before)
                std::this_thread::yield();
        }
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

    // The three menu blips, each a short sound that ends by itself.
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
    // The music's held roots at their 0.13 at the centre pan (the Vorbis one within its coding),
    // the ambience's drone with the rumble round it.
    const Levels levels = Listen(kWindow);
    ExpectOnly(levels, playing, "the loops go on");
    EXPECT_NEAR(levels.Of(kLevelMusicHz), kMusicRoot * std::sqrt(0.5), 0.01);
    EXPECT_NEAR(levels.Of(kCreditsHz), kMusicRoot * std::sqrt(0.5), 0.01);
    EXPECT_NEAR(levels.Of(kMenuMusicHz), kMusicRoot * std::sqrt(0.5), 0.015);
    EXPECT_GT(levels.Of(kAmbienceHz), 0.1 * std::sqrt(0.5));
}

TEST_F(SoundSystemHeardTest, TheOptionsSliderLowersTheMusicByItsBusCurve) {
    Post(kLevelMusic);
    const double full = Listen(kSettle).Of(kLevelMusicHz);
    // The held root's 0.13 at the centre pan.
    EXPECT_NEAR(full, kMusicRoot * std::sqrt(0.5), 0.01);

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

struct HeardMusic {
    const char* name;
    std::uint32_t event;
};

void PrintTo(const HeardMusic& music, std::ostream* out) {
    *out << music.name;
}

class SoundSystemMusicHeardTest : public SoundSystemHeardTest,
                                  public ::testing::WithParamInterface<HeardMusic> {};

// Each music alone: more than one pitch at a time (a root held under chords and a melody), notes that
// start on a beat, and a loop whose end runs into its start without a click.
TEST_P(SoundSystemMusicHeardTest, TheMusicHasHarmonyAndRhythmAndLoopsWithoutAClick) {
    const std::size_t posted = Captured();
    Post(GetParam().event);
    RunUntilCaptured(posted + kLoop + 2 * 48000);
    const std::vector<double> left = ReadLeft(mCapture);
    // Its first sample: every music starts from its root's zero crossing.
    std::size_t start = posted;
    while (start < left.size() && std::abs(left[start]) < 0.002)
        ++start;
    ASSERT_LT(start + kLoop + 48000, left.size()) << "the music was not heard";

    for (std::size_t second = 0; second < 4; ++second) {
        const std::size_t at = start + second * 48000 + 4096;
        const std::vector<double> lines = SpectralLines(left, at, kWindow, 5000);
        std::string heard;
        for (double hz : lines)
            heard += " " + std::to_string(int(hz));
        EXPECT_GE(Pitches(lines).size(), 2u)
            << "one pitch at sample " << at << ", lines at" << heard << " Hz";
    }

    const std::vector<std::size_t> onsets = Onsets(left, start, start + kLoop);
    EXPECT_GE(onsets.size(), 5u) << "notes starting in one loop";

    // Where the loop runs into its start again it changes no more sharply than within the loop.
    const double within = LargestKink(left, start + 480, start + kLoop - 480);
    const double seam = LargestKink(left, start + kLoop - 480, start + kLoop + 480);
    EXPECT_GT(within, 0.0);
    EXPECT_LT(seam, 1.5 * within) << "a click where the loop starts again";
}

INSTANTIATE_TEST_SUITE_P(Loops, SoundSystemMusicHeardTest,
                         ::testing::Values(HeardMusic{"Menu", kMenuMusic}, HeardMusic{"Level", kLevelMusic},
                                           HeardMusic{"Credits", kCredits}),
                         [](const auto& info) { return std::string(info.param.name); });

// The share of probe frequencies from 50 Hz to 10 kHz, away from the ambience's drone lines, at
// which the window holds more than a trace of sound.
double Broadband(const std::vector<double>& left, std::size_t at) {
    int probes = 0, heard = 0;
    for (double hz = 50; hz < 10000; hz *= 1.25) {
        bool nearDrone = false;
        for (double drone : {55.0, 110.0, 165.0})
            nearDrone |= std::abs(hz - drone) < 20;
        if (nearDrone) continue;
        ++probes;
        heard += ToneLevel(left, at, hz) > 2e-5;
    }
    return double(heard) / probes;
}

// The ambience is shaped noise over drones: sound all across the band, where a music has lines.
TEST_F(SoundSystemHeardTest, TheAmbienceIsBroadband) {
    Post(kLevelMusic);
    const Levels music = Listen(kSettle);
    EXPECT_LT(Broadband(music.left, music.at), 0.5) << "the level music";
    Post(kStopAll);
    ExpectOnly(Listen(24000 + kSettle), {}, "stopped");

    Post(kAmbience);
    const Levels ambience = Listen(kSettle);
    EXPECT_GT(Broadband(ambience.left, ambience.at), 0.9);
    EXPECT_GT(ambience.Of(kAmbienceHz), kHeard) << "its drone";
}

// Every sound of the bank has more than one line: the interface sounds a partial or a noise above
// their main one, the loops their chords or their noise.
TEST_F(SoundSystemHeardTest, NoSoundOfTheBankIsABareSine) {
    for (const auto& [event, hz] : {std::pair{kClick, kClickHz}, std::pair{kHover, kHoverHz},
                                    std::pair{kHoverVariant, kHoverVariantHz}}) {
        const std::size_t posted = Captured();
        double loudest = 0;
        const Levels after = Blip(event, hz, loudest);
        const std::size_t at = LoudestBlipAt(after.left, posted, after.at, hz);
        const std::vector<double> lines = SpectralLines(after.left, at, 2048, 10000);
        EXPECT_GE(lines.size(), 2u) << hz << " Hz's sound";
    }
    for (std::uint32_t event : {kMenuMusic, kLevelMusic, kAmbience, kCredits}) {
        Post(event);
        const Levels playing = Listen(kSettle);
        EXPECT_GE(SpectralLines(playing.left, playing.at, kWindow, 10000).size(), 2u) << "event " << event;
        Post(kStopAll);
        ExpectOnly(Listen(24000 + kSettle), {}, "stopped");
    }
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
