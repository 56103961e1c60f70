// The whole road of a posted event, as the game drives it: a bank from memory, the post, the
// audio thread's passes, and the tone read back from the main output's capture file.
#include "BankTestSupport.h"

#include "core/AuThreads.h"
#include "parameters/AuFastMath.h"

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

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
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
constexpr u32 kObject = 10;
constexpr f64 kToneHz = 1000.0;

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
    };

    // A master bus, a bus below it, a mono 16-bit 48 kHz tone in the bank's data on that bus, its
    // play action and the event.
    static Bytes ToneBank(const Tone& tone) {
        bankgen::BankBuilder builder(kBank);
        const u32 samples = static_cast<u32>(tone.seconds * 48000);
        builder.AddMedia(
            kMedia, bankgen::MakePcmWave(
                        bankgen::ToPcm16({tone.noise ? bankgen::Noise(7, samples, 0.5)
                                                     : bankgen::Sine(kToneHz, tone.seconds, 48000, 0.5)}),
                        1, 48000));
        bankgen::BusRecord master;
        master.id = kMaster;
        if (tone.masterDb != 0.0f) master.props.push_back(bankgen::PropF(5, tone.masterDb));
        builder.Add(master);
        bankgen::BusRecord sfx;
        sfx.id = kSfxBus;
        sfx.parent = kMaster;
        if (tone.sfxDb != 0.0f) sfx.props.push_back(bankgen::PropF(5, tone.sfxDb));
        if (tone.sfxMixes) sfx.flags3 = 1;
        builder.Add(sfx);
        bankgen::SoundRecord sound;
        sound.id = kSound;
        sound.source.plugin = bankgen::kCodecPcm;
        sound.source.sourceId = kMedia;
        sound.source.fromBank = true;
        sound.node.outputBus = kSfxBus;
        if (tone.loops != 1) sound.node.props.push_back(bankgen::PropI(58, tone.loops));
        builder.Add(sound);
        bankgen::ActionRecord play;
        play.id = kPlay;
        play.type = 0x0403;
        play.target = kSound;
        play.bankId = kBank;
        if (tone.delayMs) play.props.push_back(bankgen::PropI(14, tone.delayMs));
        builder.Add(play);
        builder.Add(bankgen::EventRecord{kEvent, {kPlay}});
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
        return out;
    }

    // Keeps the audio thread going until `done` or five seconds have passed.
    template <class Done> static bool RenderUntil(Done done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            AU::SoundEngine::RenderAudio();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

    // Loads the bank from memory, registers the object and, unless the test starts it with the
    // post, starts the capture.
    void LoadAndCapture(const Tone& tone, bool startCapture = true) {
        m_image = ToneBank(tone);
        ASSERT_EQ(AU::SoundEngine::LoadBank(m_image.data(), static_cast<u32>(m_image.size()),
                                            AU_INVALID_POOL_ID, m_bankID),
                  AuResultSuccess);
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
    // A few more passes, whatever the capture does.
    static void Settle() {
        for (int i = 0; i < 20; ++i) {
            AU::SoundEngine::RenderAudio();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    AuCaptureFile StopCapture() const {
        EXPECT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
        EXPECT_TRUE(RenderUntil([&] { return Capture().closed; }));
        return Capture();
    }
    // The largest sample of channel 0 in frame `frame` of the capture.
    static i32 FramePeak(const AuCaptureFile& c, size_t frame) {
        i32 peak = 0;
        for (size_t n = frame * kFrame; n < (frame + 1) * kFrame && n < c.Frames(); ++n)
            peak = std::max(peak, std::abs(i32{c.At(n, 0)}));
        return peak;
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
    AuPlayingID Post() { return AU::SoundEngine::PostEvent(kEvent, kObject, AU_EndOfEvent, OnEnd, &m_ends); }

    static constexpr size_t kFrame = 1024;
    // 0.5 full scale through the centre pan, times the engine's unity gains on the way.
    static f64 TonePeak() {
        const f64 unity = AuDbToLinear(0.0f);
        return 0.5 * 0.7071 * unity * unity * unity * 32767;
    }

    Bytes m_image;
    AuBankID m_bankID = 0;
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
    LoadAndCapture({2.0, 0});
    ASSERT_NE(Post(), 0u);
    ASSERT_TRUE(RenderUntil([&] { return HeardFor(4 * kFrame); }));
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Pause, kObject),
              AuResultSuccess);
    ASSERT_TRUE(RenderFrames(6));
    ASSERT_EQ(AU::SoundEngine::ExecuteActionOnEvent(kEvent, AuActionOnEventType_Resume, kObject),
              AuResultSuccess);
    ASSERT_TRUE(RenderFrames(6));
    AU::SoundEngine::StopAll();
    const AuCaptureFile c = StopCapture();
    // The frames with tone, put together, are one 1 kHz tone: a rising zero crossing every 48
    // samples, across the held frames too.
    const size_t begin = c.FirstLouderThan(1000) / kFrame;
    std::vector<i16> heard;
    size_t held = 0;
    for (size_t f = begin; f < c.Frames() / kFrame; ++f) {
        if (FramePeak(c, f) == 0) {
            if (!heard.empty()) ++held;
            continue;
        }
        for (size_t n = f * kFrame; n < (f + 1) * kFrame; ++n)
            heard.push_back(c.At(n, 0));
    }
    EXPECT_GE(held, 5u);
    size_t last = 0, crossings = 0;
    for (size_t n = 1; n < heard.size(); ++n) {
        if (!(heard[n - 1] < 0 && heard[n] >= 0)) continue;
        if (last) {
            EXPECT_NEAR(f64(n - last), 48.0, 1.0) << n;
        }
        last = n;
        ++crossings;
    }
    EXPECT_GT(crossings, 8 * kFrame / 48);
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
    // Waits for the audio thread to let go of the bank's media; under ASan nothing reads it after.
    ASSERT_EQ(AU::SoundEngine::UnloadBank("tone.bnk", nullptr), AuResultSuccess);
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
TEST_F(EventHeardTest, APlayStartsInTheFirstFrameAfterThePostOrInItsDelaysLaunchFrame) {
    struct Case {
        i32 delayMs;
        size_t launchFrame;
    };
    // 100 ms is 4800 samples: the launch frame is the fourth after the post's.
    for (const Case& c : {Case{0, 0}, Case{100, 4}}) {
        SCOPED_TRACE(c.delayMs);
        m_ends.Clear();
        LoadAndCapture({0.25, 1, c.delayMs}, false);
        {
            CAuMainLock lock;
            ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
            ASSERT_NE(Post(), 0u);
        }
        ASSERT_TRUE(RenderUntil([&] { return m_ends.Count() > 0; }));
        const AuCaptureFile capture = StopCapture();
        // The sine's first sample is 0: its second is the first heard.
        const size_t first = capture.FirstLouderThan(0);
        EXPECT_GE(first, c.launchFrame * kFrame + 1);
        EXPECT_LT(first, (c.launchFrame + 1) * kFrame);
        if (c.delayMs == 0) {
            EXPECT_EQ(first, 1u);
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
    };
    // Against the same busses at 0 dB: the master's volume, the SFX bus's when it mixes on its own.
    const Case cases[] = {{0, 0, true}, {-6, 0, true}, {0, -6, true}, {-6, -12, true}, {-6, 0, false}};
    f64 unity = 0.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.masterDb << " " << c.sfxDb << " " << c.sfxMixes);
        m_ends.Clear();
        LoadAndCapture({0.25, 1, 0, false, c.masterDb, c.sfxDb, c.sfxMixes});
        ASSERT_NE(Post(), 0u);
        ASSERT_TRUE(RenderUntil([&] { return m_ends.Count() > 0; }));
        const AuCaptureFile capture = StopCapture();
        const size_t first = capture.FirstLouderThan(0);
        ASSERT_LT(first + 3 * kFrame, capture.Frames());
        const i32 peak = FramePeak(capture, first / kFrame + 1);
        if (unity == 0.0) unity = peak;
        EXPECT_NEAR(peak, unity * AuDbToLinear(c.masterDb + c.sfxDb), 0.005 * unity);
        // A fresh engine for the next case.
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
    const auto sameAs = [&](size_t at, size_t from) {
        for (size_t k = 0; k < kFrame; ++k)
            if (c.At(at + k, 0) != c.At(from + k, 0)) return false;
        return true;
    };
    size_t seekFrame = 0;
    const auto heard = [&] {
        c = Capture();
        for (size_t f = 48000 / kFrame + 1; f + 1 < c.Frames() / kFrame && !seekFrame; ++f)
            if (sameAs(f * kFrame, 48000)) seekFrame = f;
        return seekFrame != 0;
    };
    ASSERT_TRUE(RenderUntil(heard)) << "no frame continues at 1 s";
    AU::SoundEngine::StopAll();
    c = StopCapture();
    EXPECT_GE(seekFrame * kFrame, 60000u);
    EXPECT_TRUE(sameAs((seekFrame + 1) * kFrame, 48000 + kFrame));
}

} // namespace
} // namespace banktest
