// Set-value actions on a sound heard in the capture: with the game's busses from bankgen's Init
// bank, a 1 kHz tone on "Music_Bus" and a 500 Hz tone on "SFX_Bus", each band measured frame by
// frame.
#include "BankTestSupport.h"

#include "core/AuThreads.h"

#include <AuCaptureFile.h>

#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AU/StreamMgr.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E2;
constexpr u32 kMusicTone = 0x200, kSfxTone = 0x201, kMusicMedia = 0x210, kSfxMedia = 0x211;
constexpr u32 kPlayMusic = 0x300, kPlaySfx = 0x301;
constexpr u32 kPlayEvent = 0x400, kPlayMusicEvent = 0x401;
constexpr u32 kObject = 10, kOther = 11;
constexpr size_t kFrame = 1024;
constexpr u32 kSetVolume = 0x500, kResetVolume = 0x501, kMuteTone = 0x502, kResetVolumeSlow = 0x503;
// The game's four bus events, the music pair again over 200 ms, and the master's pair.
constexpr u32 kMuteMusic = 0x205DA04D, kUnmuteMusic = 0x3474117A, kMuteSfx = 0x63C39CE1,
              kUnmuteSfx = 0x305775FC;
constexpr u32 kMuteMusicSlow = 0x600, kUnmuteMusicSlow = 0x601, kMuteMaster = 0x602, kUnmuteMaster = 0x603;
// Scopes: a tone muted for the posting object, unmute all, and unmute all but "SFX_Bus".
constexpr u32 kMuteMusicToneOfObject = 0x700, kMuteSfxToneOfObject = 0x701, kUnmuteAll = 0x702,
              kUnmuteAllButSfxBus = 0x703;

// The amplitude of one frequency in a block of channel 0, Hann-windowed so that the other tone
// does not leak into it.
f64 Band(const AuCaptureFile& c, size_t frame, f64 hz) {
    f64 re = 0.0, im = 0.0, weight = 0.0;
    for (size_t n = 0; n < kFrame; ++n) {
        const f64 w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * f64(n) / f64(kFrame - 1));
        const f64 x = c.At(frame * kFrame + n, 0) * w;
        const f64 phase = 2.0 * std::numbers::pi * hz * f64(n) / 48000.0;
        re += x * std::cos(phase);
        im += x * std::sin(phase);
        weight += w;
    }
    return 2.0 * std::sqrt(re * re + im * im) / weight;
}

// Whether block `f` has the 1 kHz and the 500 Hz band at these levels, within 0.5 % of `full`.
bool BandsAt(const AuCaptureFile& c, size_t f, f64 music, f64 sfx, f64 full) {
    return std::abs(Band(c, f, 1000.0) - music) < 0.005 * full &&
           std::abs(Band(c, f, 500.0) - sfx) < 0.005 * full;
}

class MuteHeardTest : public RunningEngineTest {
protected:
    MuteHeardTest() : RunningEngineTest("torvik_mute") {}
    void SetUp() override {
        RunningEngineTest::SetUp();
        m_music = AU::SoundEngine::GetIDFromString("Music_Bus");
        m_sfx = AU::SoundEngine::GetIDFromString("SFX_Bus");
        m_master = AU::SoundEngine::GetIDFromString("Master Audio Bus");
    }

    // Two looping tones on the game's two busses, one event playing both, and the set-value
    // events of the music tone.
    Bytes Build() const {
        bankgen::BankBuilder builder(kBank);
        builder.AddMedia(
            kMusicMedia,
            bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(1000.0, 1.0, 48000, 0.25)}), 1, 48000));
        builder.AddMedia(
            kSfxMedia,
            bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(500.0, 1.0, 48000, 0.25)}), 1, 48000));
        const u32 tones[2][3] = {{kMusicTone, kMusicMedia, m_music}, {kSfxTone, kSfxMedia, m_sfx}};
        for (const auto& tone : tones) {
            bankgen::SoundRecord sound = BankSound(tone[0], tone[1], tone[2]);
            sound.node.props.push_back(bankgen::PropI(58, 0)); // loops for ever
            builder.Add(sound);
        }
        builder.Add(PlayAction(kPlayMusic, kMusicTone, kBank));
        builder.Add(PlayAction(kPlaySfx, kSfxTone, kBank));
        builder.Add(bankgen::EventRecord{kPlayEvent, {kPlayMusic, kPlaySfx}});
        builder.Add(bankgen::EventRecord{kPlayMusicEvent, {kPlayMusic}});
        u32 actionID = 0x310;
        // On the music tone itself: -6 dB for every object and its reset, at once and over 200 ms,
        // a mute over 200 ms.
        const u32 soundActions[4][3] = {{kSetVolume, 0x0A02, 0},
                                        {kResetVolume, 0x0B02, 0},
                                        {kMuteTone, 0x0602, 200},
                                        {kResetVolumeSlow, 0x0B02, 200}};
        for (const auto& entry : soundActions) {
            bankgen::ActionRecord action = ActionOn(actionID++, static_cast<u16>(entry[1]), kMusicTone);
            action.base = -6.0f;
            action.valueMeaning = 0;
            if (entry[2]) action.props.push_back(bankgen::PropI(15, static_cast<i32>(entry[2])));
            builder.Add(action);
            builder.Add(bankgen::EventRecord{entry[0], {action.id}});
        }
        const u32 busActions[8][4] = {
            {kMuteMusic, 0x0602, m_music, 0},       {kUnmuteMusic, 0x0702, m_music, 0},
            {kMuteSfx, 0x0602, m_sfx, 0},           {kUnmuteSfx, 0x0702, m_sfx, 0},
            {kMuteMusicSlow, 0x0602, m_music, 200}, {kUnmuteMusicSlow, 0x0702, m_music, 200},
            {kMuteMaster, 0x0602, m_master, 0},     {kUnmuteMaster, 0x0702, m_master, 0}};
        for (const auto& entry : busActions) {
            bankgen::ActionRecord action = ActionOn(actionID++, static_cast<u16>(entry[1]), entry[2], true);
            if (entry[3]) action.props.push_back(bankgen::PropI(15, static_cast<i32>(entry[3])));
            builder.Add(action);
            builder.Add(bankgen::EventRecord{entry[0], {action.id}});
        }
        const u32 scopeActions[4][3] = {{kMuteMusicToneOfObject, 0x0603, kMusicTone},
                                        {kMuteSfxToneOfObject, 0x0603, kSfxTone},
                                        {kUnmuteAll, 0x0704, 0},
                                        {kUnmuteAllButSfxBus, 0x0708, 0}};
        for (const auto& entry : scopeActions) {
            bankgen::ActionRecord action = ActionOn(actionID++, static_cast<u16>(entry[1]), entry[2]);
            if (entry[1] == 0x0708) action.exceptions.push_back({m_sfx, 1});
            builder.Add(action);
            builder.Add(bankgen::EventRecord{entry[0], {action.id}});
        }
        return Built(builder);
    }
    void Load() {
        // The engine reads files from the test's folder.
        std::filesystem::copy_file(std::filesystem::path(TORVIK_SOUNDBANKS_DIR) / "Init.bnk",
                                   m_folder / "Init.bnk", std::filesystem::copy_options::overwrite_existing);
        AuBankID id = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
        ASSERT_NO_FATAL_FAILURE(LoadImage(Build()));
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kOther), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"mute.wav"), AuResultSuccess);
    }
    AuCaptureFile Capture() const { return AuCaptureFile::Read(m_folder / "mute.wav"); }
    // Renders `frames` more blocks; the first block of them.
    size_t Render(size_t frames) const {
        const size_t from = Capture().Frames() / kFrame;
        for (size_t i = 0; i < frames && RenderFrame(); ++i) {
        }
        return from;
    }
    // Renders until a block from `from` on is a block that `heard` accepts (given the capture and
    // the block), then `after` more blocks; that block, or kNever when the frames a heard test
    // waits for were rendered without it. The engine renders its ring's frames ahead of what was
    // pulled, so a change is looked for rather than expected after a count of blocks. A block is
    // looked at once the next one is there, which some checks need as well.
    template <class Heard> size_t RenderUntil(size_t from, Heard heard, size_t after = 4) const {
        size_t found = kNever;
        size_t f = from;
        RunningEngineTest::RenderUntil([&] {
            const AuCaptureFile c = Capture();
            for (; f + 1 < c.Frames() / kFrame; ++f)
                if (heard(c, f)) {
                    found = f;
                    return true;
                }
            return false;
        });
        if (found != kNever) Render(after);
        return found;
    }
    static constexpr size_t kNever = ~size_t{0};
    // Plays both tones, with `first` brings the 1 kHz one to `share` of its level before, posts
    // `event`, which fades it, and stops the capture 14 blocks after the first block of the fade;
    // the bands' full levels.
    struct Fade {
        AuCaptureFile capture;
        f64 music = 0.0, sfx = 0.0;
        size_t first = kNever;
    };
    Fade RenderFade(u32 event, u32 first = 0, f64 share = 0.0) {
        Fade fade;
        const Onset onset = PlayBoth();
        size_t start = onset.start;
        if (start == kNever) return fade;
        fade.music = onset.music;
        fade.sfx = onset.sfx;
        f64 before = fade.music;
        if (first) {
            Post(first);
            before = share * fade.music;
            start = RenderUntil(start, [&](const AuCaptureFile& k, size_t f) {
                return f + 1 < k.Frames() / kFrame && BandsAt(k, f, before, fade.sfx, fade.music) &&
                       BandsAt(k, f + 1, before, fade.sfx, fade.music);
            });
            if (start == kNever) return fade;
        }
        Post(event);
        fade.first = RenderUntil(
            start,
            [&](const AuCaptureFile& k, size_t f) {
                return std::abs(Band(k, f, 1000.0) - before) > 0.02 * fade.music &&
                       Band(k, f, 500.0) > 0.99 * fade.sfx;
            },
            14);
        EXPECT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
        fade.capture = Capture();
        return fade;
    }
    // A 200 ms fade of the 1 kHz band from `from` to `to`: 200 ms is 9.375 frames of 1024, so each
    // whole frame inside it moves the band by the same share; after it the band is at `to`, the
    // other one unchanged.
    static void ExpectLinearFade(const Fade& fade, f64 from, f64 to) {
        const AuCaptureFile& c = fade.capture;
        const size_t first = fade.first;
        const f64 step = (to - from) * 1024.0 / 9600.0;
        for (size_t f = first + 1; f < first + 8; ++f)
            EXPECT_NEAR(Band(c, f, 1000.0) - Band(c, f - 1, 1000.0), step, 0.1 * std::abs(step)) << f - first;
        EXPECT_NEAR(Band(c, first + 11, 1000.0), to, 0.005 * fade.music) << "once the 200 ms are over";
        EXPECT_NEAR(Band(c, first + 11, 500.0), fade.sfx, 0.005 * fade.sfx);
    }
    // Both tones heard and steady over two blocks, the first of which is returned: its bands are
    // the unchanged levels.
    size_t RenderOnset() const {
        return RenderUntil(Capture().Frames() / kFrame, [](const AuCaptureFile& c, size_t f) {
            if (f + 1 >= c.Frames() / kFrame) return false;
            for (f64 hz : {1000.0, 500.0}) {
                const f64 now = Band(c, f, hz);
                if (now < 1000.0 || std::abs(Band(c, f + 1, hz) - now) > 0.001 * now) return false;
            }
            return true;
        });
    }
    // Loads the bank and plays both tones: the block of RenderOnset, kNever once the patience ran
    // out, and the bands' levels there.
    struct Onset {
        size_t start = kNever;
        f64 music = 0.0, sfx = 0.0;
    };
    Onset PlayBoth() {
        Onset onset;
        Load();
        Post(kPlayEvent);
        onset.start = RenderOnset();
        if (onset.start == kNever) return onset;
        const AuCaptureFile c = Capture();
        onset.music = Band(c, onset.start, 1000.0);
        onset.sfx = Band(c, onset.start, 500.0);
        return onset;
    }
    void Post(u32 event, AuGameObjectID object = kObject) const {
        ASSERT_NE(AU::SoundEngine::PostEvent(event, object), 0u);
    }

    u32 m_music = 0, m_sfx = 0, m_master = 0;
};

TEST_F(MuteHeardTest, MinusSixDecibelsOnASoundHalvesItsBandAndTheResetRestoresIt) {
    const Onset onset = PlayBoth();
    const size_t start = onset.start;
    ASSERT_NE(start, kNever);
    const f64 music = onset.music, sfx = onset.sfx;
    Post(kSetVolume);
    // -6 dB on the music tone, the other sound untouched; then the reset.
    const size_t lowered = RenderUntil(
        start, [&](const AuCaptureFile& k, size_t f) { return BandsAt(k, f, 0.5 * music, sfx, music); });
    EXPECT_NE(lowered, kNever) << "-6 dB halves the band";
    Post(kResetVolume);
    const size_t back = RenderUntil(start, [&](const AuCaptureFile& k, size_t f) {
        return f > lowered && BandsAt(k, f, music, sfx, music);
    });
    EXPECT_NE(back, kNever) << "the reset restores it";
}

// The reset's fade runs in decibels: the band rises every frame and ends at its own level.
TEST_F(MuteHeardTest, AVolumeResetWithAFadeBringsTheBandBackOverTenFrames) {
    const Fade fade = RenderFade(kResetVolumeSlow, kSetVolume, 0.5);
    ASSERT_NE(fade.first, kNever) << "the fade began";
    const AuCaptureFile& c = fade.capture;
    for (size_t f = fade.first + 1; f < fade.first + 9; ++f)
        EXPECT_GT(Band(c, f, 1000.0), Band(c, f - 1, 1000.0)) << f - fade.first;
    EXPECT_LT(Band(c, fade.first + 8, 1000.0), 0.995 * fade.music) << "still under way";
    EXPECT_NEAR(Band(c, fade.first + 11, 1000.0), fade.music, 0.005 * fade.music);
    EXPECT_NEAR(Band(c, fade.first + 11, 500.0), fade.sfx, 0.005 * fade.sfx);
}

TEST_F(MuteHeardTest, AMuteOfASoundWithAFadeFallsOverTenFrames) {
    const Fade fade = RenderFade(kMuteTone);
    ASSERT_NE(fade.first, kNever) << "the fade began";
    const AuCaptureFile& c = fade.capture;
    const f64 music = fade.music, sfx = fade.sfx;
    const size_t first = fade.first;
    f64 previous = music;
    for (size_t f = first; f < first + 8; ++f) {
        const f64 now = Band(c, f, 1000.0);
        EXPECT_LT(now, previous) << f;
        previous = now;
    }
    EXPECT_LT(Band(c, first + 11, 1000.0), 0.005 * music) << "silent once the 200 ms are over";
    EXPECT_NEAR(Band(c, first + 11, 500.0), sfx, 0.005 * sfx);
}

// Each bus event reaches the tones playing below that bus only; the master's reaches both.
TEST_F(MuteHeardTest, ABusMuteSilencesTheBandsBelowItAndItsUnmuteRestoresThem) {
    struct Case {
        u32 mute, unmute;
        bool music, sfx; // silenced
    };
    const Case cases[] = {{kMuteMusic, kUnmuteMusic, true, false},
                          {kMuteSfx, kUnmuteSfx, false, true},
                          {kMuteMaster, kUnmuteMaster, true, true}};
    const Onset onset = PlayBoth();
    const size_t start = onset.start;
    ASSERT_NE(start, kNever);
    const f64 music = onset.music, sfx = onset.sfx;
    ASSERT_GT(sfx, 1000.0);
    size_t from = start;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const f64 mutedMusic = cases[i].music ? 0.0 : music, mutedSfx = cases[i].sfx ? 0.0 : sfx;
        Post(cases[i].mute);
        // Both silent two blocks running: a late pass leaves one silent block at most.
        const size_t muted = RenderUntil(from, [&](const AuCaptureFile& k, size_t f) {
            return f + 1 < k.Frames() / kFrame && BandsAt(k, f, mutedMusic, mutedSfx, music) &&
                   BandsAt(k, f + 1, mutedMusic, mutedSfx, music);
        });
        ASSERT_NE(muted, kNever) << "case " << i << ": the mute is heard on its bus only";
        Post(cases[i].unmute);
        const size_t back = RenderUntil(
            muted, [&](const AuCaptureFile& k, size_t f) { return BandsAt(k, f, music, sfx, music); });
        ASSERT_NE(back, kNever) << "case " << i << ": the unmute restores the bands";
        from = back;
    }
}

TEST_F(MuteHeardTest, ABusMuteOverTwoHundredMillisecondsFallsLinearlyOverTenFrames) {
    const Fade fade = RenderFade(kMuteMusicSlow);
    ASSERT_NE(fade.first, kNever) << "the fade began";
    ExpectLinearFade(fade, fade.music, 0.0);
}

TEST_F(MuteHeardTest, ABusUnmuteOverTwoHundredMillisecondsRisesLinearlyOverTenFrames) {
    const Fade fade = RenderFade(kUnmuteMusicSlow, kMuteMusic);
    ASSERT_NE(fade.first, kNever) << "the fade began";
    ExpectLinearFade(fade, 0.0, fade.music);
}

// The music tone plays on objects 10 and 11, started in one frame, so the 1 kHz band holds two
// tones in phase; the 500 Hz tone plays on object 10. Each step posts its events in one frame and
// waits for both bands at its levels, counted in tones.
TEST_F(MuteHeardTest, MuteScopesReachTheObjectsAndListsTheySay) {
    struct Sent {
        u32 event;
        AuGameObjectID object;
    };
    struct Step {
        std::vector<Sent> posts;
        f64 music, sfx;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"0x0603 on a sound mutes the posting object's instance only",
         {{{{kMuteMusicToneOfObject, kObject}}, 1, 1}, {{{kMuteMusicToneOfObject, kOther}}, 0, 1}}},
        // A bus in the registry's list, a tone in object 10's and one in object 11's.
        {"0x0704 unmutes every node of every modified list",
         {{{{kMuteMusic, kObject}, {kMuteSfxToneOfObject, kObject}, {kMuteMusicToneOfObject, kOther}}, 0, 0},
          {{{kUnmuteAll, kObject}}, 2, 1}}},
        // The SFX tone's own mute is lifted: the bus's unmute alone brings it back.
        {"0x0708 skips the excepted bus but not the tone below it",
         {{{{kMuteSfx, kObject},
            {kMuteSfxToneOfObject, kObject},
            {kMuteMusicToneOfObject, kObject},
            {kMuteMusicToneOfObject, kOther}},
           0,
           0},
          {{{kUnmuteAllButSfxBus, kObject}}, 2, 0},
          {{{kUnmuteSfx, kObject}}, 2, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load();
        {
            CAuMainLock lock;
            Post(kPlayEvent);
            Post(kPlayMusicEvent, kOther);
        }
        const size_t start = RenderOnset();
        ASSERT_NE(start, kNever);
        const AuCaptureFile before = Capture();
        const f64 tone = Band(before, start, 500.0);
        ASSERT_NEAR(Band(before, start, 1000.0), 2.0 * tone, 0.005 * tone)
            << "both music tones, in one phase";
        size_t from = start;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            {
                CAuMainLock lock;
                for (const Sent& sent : step.posts)
                    Post(sent.event, sent.object);
            }
            // Two blocks running: a late pass leaves one silent block at most.
            from = RenderUntil(from, [&](const AuCaptureFile& k, size_t f) {
                return f + 1 < k.Frames() / kFrame &&
                       BandsAt(k, f, step.music * tone, step.sfx * tone, tone) &&
                       BandsAt(k, f + 1, step.music * tone, step.sfx * tone, tone);
            });
            ASSERT_NE(from, kNever) << "step " << i;
        }
        TearDown();
        SetUp();
    }
}

// The muted bus's level reaches an instance that starts below it.
TEST_F(MuteHeardTest, AToneStartedOnAMutedBusStaysSilentUntilTheUnmute) {
    Load();
    Post(kMuteMusic);
    Post(kPlayEvent);
    const size_t start = RenderUntil(Capture().Frames() / kFrame, [](const AuCaptureFile& k, size_t f) {
        return Band(k, f, 500.0) > 1000.0;
    });
    ASSERT_NE(start, kNever) << "the other bus plays";
    const f64 sfx = Band(Capture(), start, 500.0);
    Post(kUnmuteMusic);
    const size_t back =
        RenderUntil(start, [&](const AuCaptureFile& k, size_t f) { return BandsAt(k, f, sfx, sfx, sfx); });
    ASSERT_NE(back, kNever) << "heard after the unmute at the level of its twin";
    ASSERT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
    const AuCaptureFile c = Capture();
    // The block before the one found may hold the start of the unmute.
    for (size_t f = start; f + 1 < back; ++f)
        EXPECT_LT(Band(c, f, 1000.0), 0.005 * sfx) << "silent from its start, block " << f - start;
    EXPECT_GE(back, start + 2) << "the mute held until the unmute";
}

} // namespace
} // namespace banktest
