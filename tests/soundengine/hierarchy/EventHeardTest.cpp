// The whole road of a posted event, as the game drives it: a bank from memory, the post, the
// audio thread's passes, and the tone read back from the main output's capture file.
#include "ActionTestSupport.h"
#include "BankTestSupport.h"

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuPlayingMgr.h"
#include "core/AuThreads.h"
#include "parameters/AuFastMath.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuVoiceEdge.h"

#include <AuCaptureFile.h>

#include <AU/AuCallback.h>
#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AU/StreamMgr.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>
#include <win32_testing.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E1;
constexpr u32 kMaster = 0x100;
constexpr u32 kSfxBus = 0x101;
constexpr u32 kSound = 0x200;
constexpr u32 kMedia = 0x201;
constexpr u32 kPlay = 0x300;
constexpr u32 kEvent = 0x400;
constexpr u32 kActionEvent = 0x500;
constexpr u32 kObject = 10;
constexpr f64 kToneHz = 1000.0;
// The samples a voice takes to rise from silence as it starts.
constexpr size_t kRise = 48000 * AU_VOICE_EDGE_RISE_MS / 1000;

class EventHeardTest : public RunningEngineTest {
protected:
    EventHeardTest() : RunningEngineTest("torvik_heard") {}

    struct Tone {
        f64 seconds = 0.5;
        i32 loops = 1; // 0 loops for ever
        i32 delayMs = 0;
        bool noise = false;  // noise instead of the 1 kHz sine
        f32 masterDb = 0.0f; // the busses' bus volumes
        f32 sfxDb = 0.0f;
        bool sfxMixes = false; // the SFX bus mixes on its own rather than passing through
        f32 probability = 100.0f;
        // More actions, each the only one of event kActionEvent + its index.
        std::vector<bankgen::ActionRecord> actions = {};
        f32 sfxVoiceDb = 0.0f; // the SFX bus's voice volume
        f32 soundDb = 0.0f;    // the sound's own volume and pitch (cents)
        f32 soundPitch = 0.0f;
        bool cosine = false; // the tone starts at its peak
    };

    // A master bus, a bus below it, a mono 16-bit 48 kHz tone in the bank's data on that bus, its
    // play action and the event.
    static Bytes ToneBank(const Tone& tone) {
        bankgen::BankBuilder builder(kBank);
        const u32 samples = static_cast<u32>(tone.seconds * 48000);
        std::vector<float> wave =
            tone.noise ? bankgen::Noise(7, samples, 0.5) : bankgen::Sine(kToneHz, tone.seconds, 48000, 0.5);
        if (tone.cosine) {
            for (size_t n = 0; n < wave.size(); ++n)
                wave[n] = static_cast<float>(0.5 * std::cos(2 * M_PI * kToneHz * f64(n) / 48000));
        }
        builder.AddMedia(kMedia, bankgen::MakePcmWave(bankgen::ToPcm16({wave}), 1, 48000));
        bankgen::BusRecord master;
        master.id = kMaster;
        if (tone.masterDb != 0.0f) master.props.push_back(bankgen::PropF(5, tone.masterDb));
        builder.Add(master);
        bankgen::BusRecord sfx;
        sfx.id = kSfxBus;
        sfx.parent = kMaster;
        if (tone.sfxDb != 0.0f) sfx.props.push_back(bankgen::PropF(5, tone.sfxDb));
        if (tone.sfxVoiceDb != 0.0f) sfx.props.push_back(bankgen::PropF(0, tone.sfxVoiceDb));
        if (tone.sfxMixes) sfx.flags3 = 1;
        builder.Add(sfx);
        bankgen::SoundRecord sound = BankSound(kSound, kMedia, kSfxBus);
        if (tone.loops != 1) sound.node.props.push_back(bankgen::PropI(58, tone.loops));
        if (tone.soundDb != 0.0f) sound.node.props.push_back(bankgen::PropF(0, tone.soundDb));
        if (tone.soundPitch != 0.0f) sound.node.props.push_back(bankgen::PropF(2, tone.soundPitch));
        builder.Add(sound);
        bankgen::ActionRecord play = PlayAction(kPlay, kSound, kBank);
        if (tone.delayMs) play.props.push_back(bankgen::PropI(14, tone.delayMs));
        if (tone.probability != 100.0f) play.props.push_back(bankgen::PropF(16, tone.probability));
        builder.Add(play);
        builder.Add(bankgen::EventRecord{kEvent, {kPlay}});
        for (size_t i = 0; i < tone.actions.size(); ++i) {
            builder.Add(tone.actions[i]);
            builder.Add(bankgen::EventRecord{kActionEvent + u32(i), {tone.actions[i].id}});
        }
        return Built(builder);
    }

    // Loads the bank from memory, registers the object and, unless the test starts it with the
    // post, starts the capture.
    void LoadAndCapture(const Tone& tone, bool startCapture = true) {
        ASSERT_NO_FATAL_FAILURE(LoadImage(ToneBank(tone)));
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        if (startCapture) {
            ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
        }
    }
    AuCaptureFile Capture() const { return AuCaptureFile::Read(m_folder / "heard.wav"); }
    // Frames of the capture from its first loud sample on.
    bool HeardFor(size_t frames) const {
        const AuCaptureFile c = Capture();
        const size_t first = c.FirstLouderThan(1000);
        return first < c.Frames() && c.Frames() - first >= frames;
    }
    // Until the capture holds `frames` more frames than now.
    bool RenderFrames(size_t frames) const {
        const size_t until = Capture().Frames() + frames * kFrame;
        return RenderUntil([&] { return Capture().Frames() >= until; });
    }
    // A few more frames, whatever the capture does.
    static void Settle() {
        for (int i = 0; i < 4 && RenderFrame(); ++i) {
        }
    }
    AuCaptureFile StopCapture() const { return RunningEngineTest::StopCapture("heard.wav"); }
    // The largest sample of channel 0 in frame `frame` of the capture.
    static i32 FramePeak(const AuCaptureFile& c, size_t frame) {
        return Peak(c, frame * kFrame, (frame + 1) * kFrame);
    }

    // What the end-of-event callback received, on which thread, how often.
    struct Ends {
        std::mutex lock;
        std::vector<AuEventCallbackInfo> infos;
        std::vector<std::thread::id> threads;
        size_t Count() {
            std::lock_guard guard(lock);
            return infos.size();
        }
        void Clear() {
            std::lock_guard guard(lock);
            infos.clear();
            threads.clear();
        }
    };
    static void OnEnd(AuCallbackType type, AuCallbackInfo* info) {
        if (type != AU_EndOfEvent) return;
        auto* ends = static_cast<Ends*>(info->pCookie);
        std::lock_guard guard(ends->lock);
        ends->infos.push_back(*static_cast<AuEventCallbackInfo*>(info));
        ends->threads.push_back(std::this_thread::get_id());
    }
    AuPlayingID Post(AuGameObjectID object = kObject) {
        return AU::SoundEngine::PostEvent(kEvent, object, AU_EndOfEvent, OnEnd, &m_ends);
    }
    bool Ended(AuPlayingID playing) {
        std::lock_guard guard(m_ends.lock);
        for (const AuEventCallbackInfo& info : m_ends.infos)
            if (info.playingID == playing) return true;
        return false;
    }
    // Until the audio thread has run `frames` passes past what was posted so far: whatever it
    // was asked before is done in the frames the capture holds from then on.
    static bool PassFrames(u32 frames) {
        AU::SoundEngine::RenderAudio();
        u32 from = 0;
        {
            CAuMainLock lock;
            from = g_pAudioMgr->FrameCounter();
        }
        return RenderUntil([&] {
            CAuMainLock lock;
            return g_pAudioMgr->FrameCounter() - from >= frames;
        });
    }
    // Whether the kFrame samples of channel 0 from `at` repeat those from `from`, which wrap at
    // `loop`: the capture of a looped media, started with its post, holds the media's first pass
    // from sample 0 on, its first samples rising with the voice's start (they are not compared).
    static bool Repeats(const AuCaptureFile& c, size_t at, size_t from, size_t loop = SIZE_MAX) {
        for (size_t k = 0; k < kFrame; ++k)
            if ((from + k) % loop >= kRise && c.At(at + k, 0) != c.At((from + k) % loop, 0)) return false;
        return true;
    }
    // The peak of channel 0 in the capture's last frame, in units of one tone's peak.
    static f64 LastFrameTones(const AuCaptureFile& c) {
        return c.Frames() < kFrame ? -1.0 : FramePeak(c, c.Frames() / kFrame - 1) / TonePeak();
    }

    // Until the capture's last frame peaks at `tones` tones.
    bool HearsTones(f64 tones) const {
        return RenderUntil([&] { return std::abs(LastFrameTones(Capture()) - tones) < 0.005; });
    }

    static constexpr size_t kFrame = 1024;
    // 0.5 full scale through the centre pan, times the engine's unity gains on the way.
    static f64 TonePeak() {
        const f64 unity = AuDbToLinear(0.0f);
        return 0.5 * 0.7071 * unity * unity * unity * 32767;
    }

    Ends m_ends;
};

TEST_F(EventHeardTest, APostedEventsToneIsInTheCaptureOnBothChannelsUntilItsSourceEnds) {
    LoadAndCapture({0.5});
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    // The half second of tone and a quarter second past its end: 35 frames from its first loud
    // sample.
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(35 * kFrame) && m_ends.Count() > 0; }))
        << "the tone never reached the capture, or never ended";
    const AuCaptureFile c = StopCapture();
    ASSERT_EQ(c.channels, 2);
    ASSERT_EQ(c.sampleRate, 48000u);
    const size_t frames = c.Frames();
    const size_t first = c.FirstLouderThan(1000);
    ASSERT_LT(first + 10 * kFrame, frames);
    // Ten frames of tone from its first loud sample: both channels alike, a peak of half scale
    // times the centre pan's 0.7071 and the unity gains, and 1 kHz by its rising zero crossings.
    i32 peak = 0;
    u32 rising = 0;
    for (size_t n = first; n < first + 10 * kFrame; ++n) {
        const i16 left = c.At(n, 0);
        EXPECT_NEAR(left, c.At(n, 1), 1) << n;
        peak = std::max(peak, std::abs(i32{left}));
        if (n > first && c.At(n - 1, 0) < 0 && left >= 0) ++rising;
    }
    EXPECT_NEAR(peak, TonePeak(), 0.005 * TonePeak());
    // 10240 samples at 48 kHz hold 213.3 periods of 1 kHz.
    EXPECT_NEAR(rising, 10 * kFrame * kToneHz / 48000, 1.5);
    // The source's end leaves silence at the end of the capture.
    ASSERT_GE(frames, kFrame);
    for (size_t n = frames - kFrame; n < frames; ++n)
        ASSERT_EQ(c.At(n, 0), 0) << n;
    // The event ended once, on the audio thread, with what the post gave.
    Settle();
    {
        CAuMainLock lock;
        EXPECT_FALSE(g_pPlayingMgr->IsLive(playing)) << "the playing ID outlived its end";
    }
    std::lock_guard guard(m_ends.lock);
    ASSERT_EQ(m_ends.infos.size(), 1u);
    EXPECT_EQ(m_ends.infos[0].pCookie, &m_ends);
    EXPECT_EQ(m_ends.infos[0].gameObjID, kObject);
    EXPECT_EQ(m_ends.infos[0].playingID, playing);
    EXPECT_EQ(m_ends.infos[0].eventID, kEvent);
    EXPECT_NE(m_ends.threads[0], std::this_thread::get_id());
}

TEST_F(EventHeardTest, StoppingThePlayingIDWithAFadeSilencesTheLoopWithinTenFrames) {
    LoadAndCapture({2.0, 0});
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(5 * kFrame); }));
    AU::SoundEngine::StopPlayingID(playing, 200);
    ASSERT_TRUE(RenderUntil([&] { return m_ends.Count() > 0; })) << "the looping tone never ended";
    ASSERT_TRUE(RenderFrames(2));
    Settle();
    const AuCaptureFile c = StopCapture();
    const size_t firstFrame = c.FirstLouderThan(1000) / kFrame + 1;
    // The frames at full level, then the fade: each frame quieter, silence after at most ten
    // (200 ms is 9.4 frames of 1024 samples).
    const i32 full = FramePeak(c, firstFrame);
    size_t f = firstFrame;
    while (f < c.Frames() / kFrame && FramePeak(c, f) >= full - 1)
        ++f;
    const size_t fadeStart = f;
    ASSERT_GT(fadeStart, firstFrame);
    i32 previous = full;
    while (f < c.Frames() / kFrame && FramePeak(c, f) > 0) {
        EXPECT_LT(FramePeak(c, f), previous) << f;
        previous = FramePeak(c, f);
        ++f;
    }
    EXPECT_GE(f - fadeStart, 9u);
    EXPECT_LE(f - fadeStart, 10u);
    ASSERT_LT(f, c.Frames() / kFrame);
    for (; f < c.Frames() / kFrame; ++f)
        ASSERT_EQ(FramePeak(c, f), 0) << f;
    EXPECT_EQ(m_ends.Count(), 1u);
}

TEST_F(EventHeardTest, PausingAndResumingTheEventHoldsTheToneAndContinuesItsPhase) {
    // The frames with tone put together, the silent frames between them, and the tone frames
    // after that silence. The capture grows in bursts, so the steps wait for these, not for time.
    struct Split {
        std::vector<i16> heard;
        size_t held = 0;
        size_t resumed = 0;
    };
    const auto split = [](const AuCaptureFile& c) {
        Split s;
        const size_t first = c.FirstLouderThan(1000);
        if (first >= c.Frames()) return s;
        for (size_t f = first / kFrame; f < c.Frames() / kFrame; ++f) {
            if (FramePeak(c, f) == 0) {
                if (!s.heard.empty()) ++s.held;
                continue;
            }
            if (s.held) ++s.resumed;
            for (size_t n = f * kFrame; n < (f + 1) * kFrame; ++n)
                s.heard.push_back(c.At(n, 0));
        }
        return s;
    };
    LoadAndCapture({2.0, 0});
    ASSERT_NE(Post(), 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(4 * kFrame); }));
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Pause, kObject),
              AuResultSuccess);
    ASSERT_TRUE(RenderUntil([&] { return split(Capture()).held >= 5; }));
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Resume, kObject),
              AuResultSuccess);
    ASSERT_TRUE(RenderUntil([&] { return split(Capture()).resumed >= 5; }));
    AU::SoundEngine::StopAll();
    const Split s = split(StopCapture());
    EXPECT_GE(s.held, 5u);
    // One 1 kHz tone: a rising zero crossing every 48 samples, across the held frames too. Near
    // silence, in the pause's fall and the resume's rise, the samples round to 0 and cross
    // nothing; the crossings around it stay on the tone's grid.
    size_t last = 0, crossings = 0;
    for (size_t n = 1; n < s.heard.size(); ++n) {
        if (!(s.heard[n - 1] < 0 && s.heard[n] >= 0) || s.heard[n] - s.heard[n - 1] < 100) continue;
        if (last) {
            const f64 gap = f64(n - last);
            EXPECT_NEAR(gap, 48.0 * std::max(1.0, std::round(gap / 48.0)), 1.0) << n;
        }
        last = n;
        ++crossings;
    }
    EXPECT_GT(crossings, 8 * kFrame / 48);
}

// A looping 1 kHz cosine, which starts at its peak: its start, a pause and a resume without a fade
// time, and a stop without one (as the credits' Back stops the music), four frames apart and
// driven frame by frame. Around each edge the largest step from one captured sample to the next
// stays below the largest the tone makes by itself, which a cut at the peak would pass eightfold.
TEST_F(EventHeardTest, AVoicesStartPauseResumeAndStopNeverStepTheOutput) {
    const auto frames = [](size_t count) {
        for (size_t f = 0; f < count; ++f)
            ASSERT_TRUE(RenderFrame());
    };
    Tone tone{2.0, 0};
    tone.cosine = true;
    LoadAndCapture(tone);
    // Silence in the capture before the start, so that the start has a sample to step from.
    frames(2);
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    frames(4);
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Pause, kObject),
              AuResultSuccess);
    frames(4);
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Resume, kObject),
              AuResultSuccess);
    frames(4);
    AU::SoundEngine::StopPlayingID(playing, 0);
    frames(4);
    ASSERT_TRUE(Ended(playing));
    ASSERT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
    frames(2);
    const AuCaptureFile c = Capture();
    ASSERT_TRUE(c.closed);
    // The sounding stretches: two, the pause between them. The cosine holds a zero sample every
    // half period, so a stretch ends only at a run of silence longer than that.
    std::vector<std::pair<size_t, size_t>> heard;
    for (size_t n = 0, silent = 0; n < c.Frames(); ++n) {
        if (c.At(n, 0) == 0) {
            ++silent;
            continue;
        }
        if (heard.empty() || silent > 64)
            heard.push_back({n, n + 1});
        else
            heard.back().second = n + 1;
        silent = 0;
    }
    ASSERT_EQ(heard.size(), 2u) << "not one pause between two stretches of tone";
    ASSERT_GE(heard[0].first, kFrame);
    ASSERT_GT(heard[0].second - heard[0].first, 3 * kFrame);
    ASSERT_GT(heard[1].first - heard[0].second, 2 * kFrame) << "the pause did not hold the tone";
    ASSERT_GT(heard[1].second - heard[1].first, 3 * kFrame);
    const auto largestStep = [&](size_t from, size_t to) {
        i32 step = 0;
        for (size_t n = std::max<size_t>(from, 1); n < std::min(to, c.Frames()); ++n)
            step = std::max(step, std::abs(c.At(n, 0) - c.At(n - 1, 0)));
        return step;
    };
    // The tone's own, in a frame of the first stretch past its start; 2 pi x 1 kHz / 48 kHz of
    // its peak. The rise's slope adds a third of a percent to it.
    const i32 own = largestStep(heard[0].first + kFrame, heard[0].first + 2 * kFrame);
    EXPECT_NEAR(own, TonePeak() * 2 * M_PI * kToneHz / 48000, 0.01 * TonePeak());
    const i32 bound = static_cast<i32>(own * 1.01) + 2;
    const std::pair<const char*, size_t> edges[] = {{"start", heard[0].first},
                                                    {"pause", heard[0].second},
                                                    {"resume", heard[1].first},
                                                    {"stop", heard[1].second}};
    for (const auto& [name, at] : edges)
        EXPECT_LE(largestStep(at - std::min(at, kFrame), at + kFrame), bound) << name << " at " << at;
    // Each edge is short: the rise reaches the tone's peak within its first 5 ms, the falls take
    // one frame.
    EXPECT_GT(Peak(c, heard[0].first, heard[0].first + 240), 0.99 * TonePeak());
    EXPECT_GT(Peak(c, heard[1].first, heard[1].first + 240), 0.99 * TonePeak());
    EXPECT_GT(Peak(c, heard[0].second - 2 * kFrame, heard[0].second - kFrame), 0.99 * TonePeak());
    EXPECT_GT(Peak(c, heard[1].second - 2 * kFrame, heard[1].second - kFrame), 0.99 * TonePeak());
}

TEST_F(EventHeardTest, ABankUnloadedWhileItsSoundPlaysSilencesItAndReturns) {
    {
        std::ofstream out(m_folder / "tone.bnk", std::ios::binary);
        const Bytes image = ToneBank({2.0, 0});
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("tone.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(4 * kFrame); }));
    // Waits for the audio thread to let go of the bank's media, frames away; under ASan nothing
    // reads it after.
    AURESULT unloaded = AuResultFail;
    AuFrameDriver::WhileOutputPlays([&] { unloaded = AU::SoundEngine::UnloadBank("tone.bnk", nullptr); });
    ASSERT_EQ(unloaded, AuResultSuccess);
    EXPECT_EQ(m_ends.Count(), 1u);
    ASSERT_TRUE(RenderFrames(2));
    Settle();
    const AuCaptureFile c = StopCapture();
    // The loop is gone from the capture's end.
    ASSERT_GE(c.Frames(), 4 * kFrame);
    for (size_t n = c.Frames() - kFrame; n < c.Frames(); ++n)
        ASSERT_EQ(c.At(n, 0), 0) << n;
    // The event is gone with the bank: a new post finds nothing.
    EXPECT_EQ(AU::SoundEngine::PostEvent(kEvent, kObject), 0u);
}

// The post and the capture's start in one batch of messages: the capture's first frame is the
// first frame rendered after the post.
TEST_F(EventHeardTest, APlayStartsInTheFirstFrameAfterThePostOrAtItsDelayToTheSample) {
    // 100 ms is 4800 samples: 704 samples into the fourth frame after the post's; 21 ms is 1008
    // samples, 16 short of the first frame's end; 22 ms is 1056, 32 into the next.
    for (const i32 delayMs : {0, 100, 21, 22}) {
        SCOPED_TRACE(delayMs);
        m_ends.Clear();
        LoadAndCapture({0.25, 1, delayMs}, false);
        {
            CAuMainLock lock;
            ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
            ASSERT_NE(Post(), 0u);
        }
        ASSERT_TRUE(RenderUntil([&] { return m_ends.Count() > 0; }));
        const AuCaptureFile capture = StopCapture();
        // The sine's first sample is 0: its second is the first heard.
        const size_t start = static_cast<size_t>(delayMs) * 48;
        EXPECT_EQ(capture.FirstLouderThan(0), start + 1);
        // From there on the media itself, sample by sample (the resampler's copy kernel), once
        // the voice has risen from silence; never louder while it rises.
        const f64 level = TonePeak() / 32767;
        for (size_t n = 1; n < 2 * kFrame; ++n) {
            const f64 expected = level * 32767 * std::sin(2 * M_PI * kToneHz * f64(n) / 48000);
            if (n < kRise) {
                ASSERT_LE(std::abs(capture.At(start + n, 0)), std::abs(expected) + 2) << n;
            } else {
                ASSERT_NEAR(capture.At(start + n, 0), expected, 0.01 * TonePeak() + 2) << n;
            }
        }
        // A fresh engine for the next case.
        TearDown();
        SetUp();
    }
}

TEST_F(EventHeardTest, TheBankBussesVolumesReachTheMixOfTheirSound) {
    struct Case {
        f32 masterDb;
        f32 sfxDb;
        bool sfxMixes;
        f32 sfxVoiceDb = 0.0f;
        f32 soundDb = 0.0f;
    };
    // Against the same busses at 0 dB: the master's volume, and the SFX bus's bus and voice volumes
    // whether it mixes on its own or passes through to the master (-6 dB: half the amplitude); the
    // sound's own volume adds to theirs, each counted once.
    const Case cases[] = {{0, 0, true},         {-6, 0, true},          {0, -6, true},
                          {-6, -12, true},      {-6, 0, false},         {0, -6, false},
                          {-6, -12, false},     {0, 0, true, -6},       {0, 0, false, -6},
                          {-3, -6, false, -3},  {0, 0, true, 0, -6},    {0, 0, false, 0, -6},
                          {0, 0, true, -3, -3}, {-3, -6, false, -3, -6}};
    f64 unity = 0.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.masterDb << " " << c.sfxDb << " " << c.sfxMixes << " "
                                        << c.sfxVoiceDb << " " << c.soundDb);
        m_ends.Clear();
        Tone tone{0.25};
        tone.masterDb = c.masterDb;
        tone.sfxDb = c.sfxDb;
        tone.sfxMixes = c.sfxMixes;
        tone.sfxVoiceDb = c.sfxVoiceDb;
        tone.soundDb = c.soundDb;
        LoadAndCapture(tone);
        ASSERT_NE(Post(), 0u);
        ASSERT_TRUE(RenderUntil([&] { return m_ends.Count() > 0; }));
        const AuCaptureFile capture = StopCapture();
        const size_t first = capture.FirstLouderThan(0);
        ASSERT_LT(first + 3 * kFrame, capture.Frames());
        const i32 peak = FramePeak(capture, first / kFrame + 1);
        if (unity == 0.0) unity = peak;
        EXPECT_NEAR(peak, unity * AuDbToLinear(c.masterDb + c.sfxDb + c.sfxVoiceDb + c.soundDb),
                    0.005 * unity);
        // A fresh engine for the next case.
        TearDown();
        SetUp();
    }
}

// The sound's pitch from its bank: an octave up doubles the tone's rising zero crossings, an
// octave down halves them.
TEST_F(EventHeardTest, TheSoundsPitchFromItsBankIsHeard) {
    for (const f32 cents : {1200.0f, -1200.0f}) {
        SCOPED_TRACE(cents);
        Tone tone{0.5};
        tone.soundPitch = cents;
        LoadAndCapture(tone);
        ASSERT_NE(Post(), 0u);
        ASSERT_TRUE(RenderUntil([&] { return HeardFor(6 * kFrame); }));
        const AuCaptureFile c = StopCapture();
        const size_t first = c.FirstLouderThan(1000);
        ASSERT_LT(first + 5 * kFrame, c.Frames());
        u32 rising = 0;
        for (size_t n = first + 1; n < first + 5 * kFrame; ++n)
            if (c.At(n - 1, 0) < 0 && c.At(n, 0) >= 0) ++rising;
        EXPECT_NEAR(rising, 5 * kFrame * kToneHz * std::exp2(cents / 1200.0) / 48000, 1.5);
        TearDown();
        SetUp();
    }
}

TEST_F(EventHeardTest, SeekingHalfwayIntoALoopedToneContinuesAtItsMiddle) {
    LoadAndCapture({2.0, 0, 0, true}, false);
    {
        CAuMainLock lock;
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
        ASSERT_NE(Post(), 0u);
    }
    // 1.25 s in, the seek to the half of the 2 s media: 1 s.
    ASSERT_TRUE(RenderUntil([&] { return Capture().Frames() >= 60000; }));
    ASSERT_EQ(AU::SoundEngine::SeekOnEvent(kEvent, kObject, 0.5f), AuResultSuccess);
    // Noise in the media: the capture repeats its own second at 48000 only where the seek landed.
    // The capture's file grows in bursts, so the test waits for the seek to be heard, not for a
    // count of frames.
    AuCaptureFile c;
    size_t seekFrame = 0;
    const auto heard = [&] {
        c = Capture();
        for (size_t f = 48000 / kFrame + 1; f + 1 < c.Frames() / kFrame && !seekFrame; ++f)
            if (Repeats(c, f * kFrame, 48000)) seekFrame = f;
        return seekFrame != 0;
    };
    ASSERT_TRUE(RenderUntil(heard)) << "no frame continues at 1 s";
    AU::SoundEngine::StopAll();
    c = StopCapture();
    EXPECT_GE(seekFrame * kFrame, 60000u);
    EXPECT_TRUE(Repeats(c, (seekFrame + 1) * kFrame, 48000 + kFrame));
}

// Seek actions of the bank on a looped 2 s noise, one after another: each is heard as a frame that
// does not continue the one before it, and lands where the media's first pass holds the same
// samples.
TEST_F(EventHeardTest, SeekActionsLandWhereTheirDrawnValueSays) {
    constexpr size_t kLoop = 96000;
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    struct Case {
        const char* name;
        actiontest::SeekSetting seek;
        size_t lands; // media sample
    };
    const Case cases[] = {
        {"half", {0x1E02, true, 0.5f, 0, 0, {}}, 48000},
        // The end of a loop that never ends is its start.
        {"50 with the flag: clamped to the end", {0x1E02, true, 50.0f, 0, 0, {}}, 0},
        // Unclamped it would land 0.3 into a pass.
        {"50.3 with the flag", {0x1E02, true, 50.3f, 0, 0, {}}, 0},
        {"1234.9 ms for the posting object", {0x1E03, false, 1234.9f, 0, 0, {}}, 1234 * 48},
        {"[-500, 500] ms drawing -500", {0x1E02, false, 0, -500, 500, {0}}, 0},
        {"[-500, 500] ms drawing +500", {0x1E02, false, 0, -500, 500, {32767}}, 500 * 48},
        {"[-500, 500] ms drawing -249.99", {0x1E02, false, 0, -500, 500, {8192}}, 0},
        {"a NaN base", {0x1E02, false, nan, 0, 0, {}}, 0},
        // Held at 2^31 - 1 ms: 103 079 215 056 output samples, far past 32 bits, into the loop.
        {"1e12 ms", {0x1E02, false, 1e12f, 0, 0, {}}, 2147483647ull * 48 % kLoop},
        {"all, through the master bus", {0x1E04, true, 0.75f, 0, 0, {}}, 72000},
    };
    Tone tone{2.0, 0, 0, true};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const actiontest::SeekSetting& setting = cases[i].seek;
        bankgen::ActionRecord seek =
            ActionOn(0x600 + u32(i), setting.type, setting.type == 0x1E04 ? 0 : kSound);
        seek.option = setting.percent ? 1 : 0;
        seek.base = setting.base;
        seek.min = setting.min;
        seek.max = setting.max;
        tone.actions.push_back(seek);
    }
    LoadAndCapture(tone, false);
    {
        CAuMainLock lock;
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
        ASSERT_NE(Post(), 0u);
    }
    // The whole first pass is the reference.
    ASSERT_TRUE(RenderUntil([&] { return Capture().Frames() >= kLoop + kFrame; }));
    // Each seek runs before the next is posted, frames apart.
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        cases[i].seek.ScriptDraws();
        ASSERT_NE(AU::SoundEngine::PostEvent(kActionEvent + u32(i), kObject), 0u);
        ASSERT_TRUE(PassFrames(3));
        EXPECT_EQ(win32test::RandCallCount(), cases[i].seek.draws.size());
    }
    win32test::ResetRandScript();
    // Where each frame that does not continue the one before it starts in the media (kLoop: in no
    // place); a silent frame continues nothing.
    std::vector<size_t> landed;
    AuCaptureFile capture;
    size_t last = 0, at = 0;
    ASSERT_TRUE(RenderUntil([&] {
        capture = Capture();
        for (size_t f = last + 1; f + 1 < capture.Frames() / kFrame && landed.size() < std::size(cases);
             ++f) {
            if (FramePeak(capture, f) == 0) continue;
            last = f;
            at = (at + kFrame) % kLoop;
            if (Repeats(capture, f * kFrame, at, kLoop)) continue;
            at = 0;
            while (at < kLoop && !Repeats(capture, f * kFrame, at, kLoop))
                ++at;
            landed.push_back(at);
            if (at == kLoop) return true;
        }
        return landed.size() == std::size(cases);
    })) << landed.size()
        << " seeks heard";
    AU::SoundEngine::StopAll();
    StopCapture();
    ASSERT_EQ(landed.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(landed[i], cases[i].lands) << cases[i].name;
    EXPECT_TRUE(Repeats(capture, (last + 1) * kFrame, (at + kFrame) % kLoop, kLoop)) << "the last plays on";
}

TEST_F(EventHeardTest, ThePlaysProbabilityDrawDecidesWhetherItIsHeard) {
    struct Case {
        f32 probability;
        std::vector<int> script;
        bool heard;
    };
    // r = (a x 32768 + b) / (2^30 - 1) x 100; the play goes on when r is not above the probability.
    const Case cases[] = {
        {100.0f, {32767, 32767}, true}, // r is exactly 100
        {0.0f, {}, false},              // nothing is drawn
        {50.0f, {16383, 32767}, true},  // 2^29 - 1: just below 50
        {50.0f, {16384, 0}, false},     // 2^29: just above
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.probability << " " << c.script.size());
        m_ends.Clear();
        Tone tone{0.25};
        tone.probability = c.probability;
        LoadAndCapture(tone);
        win32test::ResetRandScript();
        win32test::ScriptRand(c.script.data(), c.script.size());
        const AuPlayingID playing = Post();
        ASSERT_NE(playing, 0u);
        ASSERT_TRUE(RenderUntil([&] { return Ended(playing); }));
        EXPECT_EQ(win32test::RandCallCount(), c.script.size());
        // A play that is not drawn ends the event at once: frames past it show nothing came.
        ASSERT_TRUE(PassFrames(3));
        const AuCaptureFile capture = StopCapture();
        ASSERT_GT(capture.Frames(), 0u);
        EXPECT_EQ(capture.FirstLouderThan(0) < capture.Frames(), c.heard);
        win32test::ResetRandScript();
        TearDown();
        SetUp();
    }
}

// The same looping tone on objects 10 and 11, started in the same frame: the capture's last frame
// holds two tones' peak while both play, one while one does.
TEST_F(EventHeardTest, StopsByScopeAndStopAllSilenceTheSoundsTheyReach) {
    constexpr AuGameObjectID kOther = 11, kUnknown = 99;
    const auto stop = [](u16 type, u32 target, std::vector<bankgen::ActionException> exceptions = {}) {
        bankgen::ActionRecord action = ActionOn(0x600, type, target);
        action.exceptions = std::move(exceptions);
        return std::vector<bankgen::ActionRecord>{action};
    };
    const auto post = [] { AU::SoundEngine::PostEvent(kActionEvent, kObject); };
    struct Case {
        const char* name;
        std::vector<bankgen::ActionRecord> actions;
        std::function<void()> act;
        f64 tones; // left in the last frame
        bool ends10, ends11;
    };
    const Case cases[] = {
        {"0x0102 on the sound", stop(0x0102, kSound), post, 0.0, true, true},
        {"0x0103 on the sound", stop(0x0103, kSound), post, 1.0, true, false},
        {"0x0104", stop(0x0104, 0), post, 0.0, true, true},
        {"0x0105", stop(0x0105, 0), post, 1.0, true, false},
        {"0x0108 except the SFX bus", stop(0x0108, 0, {{kSfxBus, 1}}), post, 2.0, false, false},
        {"0x0108 except the sound", stop(0x0108, 0, {{kSound, 0}}), post, 2.0, false, false},
        {"0x0108 except nothing", stop(0x0108, 0), post, 0.0, true, true},
        {"0x0106", stop(0x0106, kSound), post, 2.0, false, false},
        {"StopAll(10)", {}, [] { AU::SoundEngine::StopAll(kObject); }, 1.0, true, false},
        {"StopAll()", {}, [] { AU::SoundEngine::StopAll(); }, 0.0, true, true},
        {"StopAll(99)", {}, [] { AU::SoundEngine::StopAll(kUnknown); }, 2.0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ends.Clear();
        Tone tone{2.0, 0};
        tone.actions = c.actions;
        LoadAndCapture(tone, false);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kOther), AuResultSuccess);
        AuPlayingID ten = 0, eleven = 0;
        {
            CAuMainLock lock;
            ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
            ten = Post(kObject);
            eleven = Post(kOther);
        }
        ASSERT_NE(ten, 0u);
        ASSERT_NE(eleven, 0u);
        ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
        c.act();
        ASSERT_TRUE(PassFrames(3));
        ASSERT_TRUE(RenderUntil([&] { return Ended(ten) == c.ends10 && Ended(eleven) == c.ends11; }));
        const AuCaptureFile capture = StopCapture();
        EXPECT_NEAR(LastFrameTones(capture), c.tones, 0.01);
        EXPECT_EQ(Ended(ten), c.ends10);
        EXPECT_EQ(Ended(eleven), c.ends11);
        TearDown();
        SetUp();
    }
}

TEST_F(EventHeardTest, PauseAllHoldsTheToneAndResumeAllBringsItBack) {
    Tone tone{2.0, 0};
    tone.actions = {ActionOn(0x600, 0x0204, 0), ActionOn(0x601, 0x0304, 0)};
    LoadAndCapture(tone);
    ASSERT_NE(Post(), 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
    AU::SoundEngine::PostEvent(kActionEvent, kObject);
    ASSERT_TRUE(PassFrames(3));
    AuCaptureFile held;
    ASSERT_TRUE(RenderUntil([&] {
        held = Capture();
        return held.Frames() >= kFrame && LastFrameTones(held) == 0.0;
    })) << "pause all never silenced the tone";
    AU::SoundEngine::PostEvent(kActionEvent + 1, kObject);
    ASSERT_TRUE(PassFrames(3));
    const AuCaptureFile c = StopCapture();
    EXPECT_NEAR(LastFrameTones(c), 1.0, 0.01);
    EXPECT_EQ(m_ends.Count(), 0u) << "paused, not stopped";
}

TEST_F(EventHeardTest, AStopWithoutTimeEndsARunningVoiceAtTheFrameEdgeAfterAOneFrameFall) {
    LoadAndCapture({2.0, 0});
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
    {
        CAuMainLock lock;
        const CAuPlaybackInstance* instance = g_pInstanceMgr->FirstInstance();
        ASSERT_NE(instance, nullptr);
        // Its voice was made, started and mixed; its looping source has not ended.
        EXPECT_EQ(instance->VoiceActivity(), CAuPlaybackInstance::kVoiceCreated |
                                                 CAuPlaybackInstance::kVoiceStarted |
                                                 CAuPlaybackInstance::kVoiceMixed);
    }
    AU::SoundEngine::StopPlayingID(playing, 0);
    ASSERT_TRUE(RenderUntil([&] { return Ended(playing); }));
    ASSERT_TRUE(PassFrames(2));
    const AuCaptureFile c = StopCapture();
    // The tone runs at its level to the end of a frame, falls to silence over the next one, and
    // nothing is heard after it.
    size_t last = c.Frames() / kFrame;
    while (last > 0 && FramePeak(c, last - 1) == 0)
        --last;
    ASSERT_GT(last, 2u);
    ASSERT_LT(last, c.Frames() / kFrame) << "no silent frame after the stop";
    EXPECT_NEAR(Peak(c, (last - 1) * kFrame - 48, (last - 1) * kFrame), TonePeak(), 0.01 * TonePeak())
        << "full up to the fall";
    EXPECT_GT(Peak(c, (last - 1) * kFrame, (last - 1) * kFrame + 48), 0.9 * TonePeak()) << "the fall's start";
    EXPECT_LT(Peak(c, last * kFrame - 48, last * kFrame), 0.05 * TonePeak()) << "the fall's end";
    EXPECT_EQ(m_ends.Count(), 1u);
}

// Set to -6 dB and reset, on the SFX bus under the master, the tone's level follows, whether the
// bus mixes on its own (the lower engine's bus) or passes through (the voice carries it).
TEST_F(EventHeardTest, AVolumeActionOnTheSoundsBusIsHeardWhetherTheBusMixesOrPassesThrough) {
    struct Case {
        u16 set, reset; // bus volume (property 5) or voice volume (property 0)
        bool sfxMixes;
    };
    const Case cases[] = {
        {0x0C02, 0x0D02, false}, {0x0A02, 0x0B02, false}, {0x0C02, 0x0D02, true}, {0x0A02, 0x0B02, true}};
    const f64 half = AuDbToLinear(-6.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.set << (c.sfxMixes ? " mixing" : " pass-through"));
        bankgen::ActionRecord set = ActionOn(0x600, c.set, kSfxBus, true);
        set.base = -6.0f;
        const bankgen::ActionRecord reset = ActionOn(0x601, c.reset, kSfxBus, true);
        Tone tone{2.0, 0};
        tone.sfxMixes = c.sfxMixes;
        tone.actions = {set, reset};
        LoadAndCapture(tone);
        ASSERT_NE(Post(), 0u);
        ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
        ASSERT_TRUE(HearsTones(1.0));
        AU::SoundEngine::PostEvent(kActionEvent, kObject);
        EXPECT_TRUE(HearsTones(half)) << "the set volume was not heard: " << LastFrameTones(Capture());
        AU::SoundEngine::PostEvent(kActionEvent + 1, kObject);
        EXPECT_TRUE(HearsTones(1.0)) << "the reset was not heard: " << LastFrameTones(Capture());
        AU::SoundEngine::StopAll();
        StopCapture();
        TearDown();
        SetUp();
    }
}

// A volume set on a sound that is at -6 dB in its bank adds to that level, once, and a reset
// brings back the bank's level.
TEST_F(EventHeardTest, AVolumeActionOnTheSoundAddsToItsBankVolume) {
    bankgen::ActionRecord set = ActionOn(0x600, 0x0A02, kSound);
    set.base = -6.0f;
    const bankgen::ActionRecord reset = ActionOn(0x601, 0x0B02, kSound);
    Tone tone{2.0, 0};
    tone.soundDb = -6.0f;
    tone.actions = {set, reset};
    LoadAndCapture(tone);
    ASSERT_NE(Post(), 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
    const f64 half = AuDbToLinear(-6.0f);
    EXPECT_TRUE(HearsTones(half)) << "the bank's volume was not heard: " << LastFrameTones(Capture());
    AU::SoundEngine::PostEvent(kActionEvent, kObject);
    EXPECT_TRUE(HearsTones(half * half))
        << "the set volume was not heard once: " << LastFrameTones(Capture());
    AU::SoundEngine::PostEvent(kActionEvent + 1, kObject);
    EXPECT_TRUE(HearsTones(half)) << "the reset was not heard: " << LastFrameTones(Capture());
    AU::SoundEngine::StopAll();
    StopCapture();
}

// Paused twice, the tone needs two plain resumes; one master resume takes both levels at once.
TEST_F(EventHeardTest, APlainResumeTakesOnePauseLevelAndAMasterResumeTakesThemAll) {
    const bankgen::ActionRecord pause = ActionOn(0x600, 0x0202, kSound),
                                resume = ActionOn(0x601, 0x0302, kSound);
    bankgen::ActionRecord master = ActionOn(0x602, 0x0302, kSound);
    master.option = 1;
    Tone tone{2.0, 0};
    tone.actions = {pause, resume, master};
    LoadAndCapture(tone);
    ASSERT_NE(Post(), 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
    AU::SoundEngine::PostEvent(kActionEvent, kObject);
    AU::SoundEngine::PostEvent(kActionEvent, kObject);
    ASSERT_TRUE(PassFrames(3));
    // Had the plain resume taken both levels, the silence would end three frames after it began.
    constexpr u32 kHeld = 12;
    AU::SoundEngine::PostEvent(kActionEvent + 1, kObject);
    ASSERT_TRUE(PassFrames(kHeld));
    AU::SoundEngine::PostEvent(kActionEvent + 2, kObject);
    ASSERT_TRUE(PassFrames(3));
    ASSERT_TRUE(RenderUntil([&] { return std::abs(LastFrameTones(Capture()) - 1.0) < 0.01; }))
        << "the master resume never brought the tone back";
    const AuCaptureFile c = StopCapture();
    // One silent stretch between the tone's frames, as long as both resumes' distance at least.
    size_t f = c.FirstLouderThan(1000) / kFrame;
    while (f < c.Frames() / kFrame && FramePeak(c, f) > 0)
        ++f;
    const size_t silenceStart = f;
    while (f < c.Frames() / kFrame && FramePeak(c, f) == 0)
        ++f;
    EXPECT_GE(f - silenceStart, kHeld);
    for (; f + 1 < c.Frames() / kFrame; ++f)
        ASSERT_GT(FramePeak(c, f), 0) << "silent again at frame " << f;
    EXPECT_EQ(m_ends.Count(), 0u) << "paused and resumed, never stopped";
}

// Actions whose target is not loaded: each post's playing ID still ends, and the tone that plays
// meanwhile is heard without a break (the results are the actions' own tests').
TEST_F(EventHeardTest, ActionsOnAMissingTargetEndTheirPlayingIDAndLeaveTheToneAlone) {
    constexpr u32 kMissing = 0xDEAD;
    // Play and break give 15, single-target stop, pause and resume 1, release 2.
    const u16 types[] = {0x0403, 0x1C02, 0x0102, 0x0202, 0x0302, 0x1F02};
    Tone tone{2.0, 0};
    for (u16 type : types) {
        bankgen::ActionRecord action = ActionOn(0x600 + u32(tone.actions.size()), type, kMissing);
        if (type == 0x0403) action.bankId = kBank;
        tone.actions.push_back(action);
    }
    LoadAndCapture(tone);
    const AuPlayingID playing = Post();
    ASSERT_NE(playing, 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(3 * kFrame); }));
    std::vector<AuPlayingID> posted;
    for (size_t i = 0; i < std::size(types); ++i) {
        posted.push_back(
            AU::SoundEngine::PostEvent(kActionEvent + u32(i), kObject, AU_EndOfEvent, OnEnd, &m_ends));
        ASSERT_NE(posted.back(), 0u) << std::hex << types[i];
    }
    ASSERT_TRUE(RenderUntil([&] {
        return std::all_of(posted.begin(), posted.end(), [&](AuPlayingID id) { return Ended(id); });
    })) << "a playing ID of an action on a missing target never ended";
    ASSERT_TRUE(PassFrames(3));
    const AuCaptureFile c = StopCapture();
    EXPECT_FALSE(Ended(playing));
    EXPECT_EQ(m_ends.Count(), std::size(types));
    const size_t first = c.FirstLouderThan(1000) / kFrame + 1;
    ASSERT_LT(first + 3, c.Frames() / kFrame);
    for (size_t f = first; f < c.Frames() / kFrame; ++f)
        ASSERT_NEAR(FramePeak(c, f), TonePeak(), 0.01 * TonePeak()) << "frame " << f;
}

// A break on the event of a looping tone and of a delayed play of it: the loop ends with its
// current pass, to the sample, and the delayed play never sounds; both playing IDs end.
TEST_F(EventHeardTest, ABreakOnAnEventLetsTheLoopFinishItsPassAndDropsItsPendingPlay) {
    bankgen::ActionRecord delayed = PlayAction(0x600, kSound, kBank);
    delayed.props.push_back(bankgen::PropI(14, 2000));
    Tone tone{0.25, 0}; // 12000 samples a pass, looped for ever
    tone.actions = {delayed};
    LoadAndCapture(tone, false);
    AuPlayingID loop = 0, later = 0;
    {
        CAuMainLock lock;
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
        loop = Post();
        later = AU::SoundEngine::PostEvent(kActionEvent, kObject, AU_EndOfEvent, OnEnd, &m_ends);
    }
    ASSERT_NE(loop, 0u);
    ASSERT_NE(later, 0u);
    // Into the second pass.
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(14 * kFrame); }));
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kActionEvent, AuActionOnEventType_Break, kObject),
              AuResultSuccess);
    ASSERT_TRUE(RenderUntil([&] { return Ended(loop) && Ended(later); }));
    // Past the delayed play's 2 s.
    ASSERT_TRUE(RenderUntil([&] { return Capture().Frames() > 2 * 48000 + 4 * kFrame; }));
    const AuCaptureFile c = StopCapture();
    // The sine's first sample is 0: the tone begins one sample before its first heard one.
    const size_t start = c.FirstLouderThan(0) - 1;
    size_t end = c.Frames();
    while (end > start && c.At(end - 1, 0) == 0)
        --end;
    EXPECT_EQ((end - start) % 12000, 0u) << "the loop stopped inside a pass: " << end - start;
    EXPECT_GE((end - start) / 12000, 2u);
    EXPECT_LT(end, 2u * 48000) << "the delayed play was heard";
    EXPECT_EQ(m_ends.Count(), 2u);
}

} // namespace
} // namespace banktest
