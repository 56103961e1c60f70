// A music segment from a bank written from a recipe, played by a posted event on the running
// engine: its clips' sources are heard in the main output's capture at their places in the
// segment, at the music's speed, and the event ends with the segment.
#include "../banks/BankTestSupport.h"

#include "core/AuThreads.h"
#include "music/AuMusicCtx.h"
#include "music/AuMusicEngine.h"
#include "music/AuMusicSequencer.h"

#include <AuCaptureFile.h>

#include <AU/AuCallback.h>
#include <AU/MusicEngine.h>
#include <AU/SoundEngine.h>

#include <bankgen/Recipe.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr u32 kEvent = 0x400;
constexpr u32 kObject = 10;
constexpr size_t kFrame = 1024;

// A segment of `durationMs` with one track whose clips play a quarter second of 1 kHz at 0 and at
// 500 ms, on the master bus; a play action and its event. `speed` is the segment's property 54.
std::string Recipe(f64 speed, u32 durationMs = 1000) {
    std::string props =
        speed == 1.0 ? "" : R"(, "props": [{"id": 54, "float": )" + std::to_string(speed) + "}]";
    return R"({
      "bank": "MusicHeard.bnk",
      "media": [{"id": 9, "channels": [{"kind": "sine", "frequency": 1000, "seconds": 0.25}]}],
      "objects": [
        {"type": "bus", "id": 256},
        {"type": "musicTrack", "id": 11, "parent": 10, "bus": 256, "sources": [{"media": 9}],
         "clips": [{"source": 9, "playAtMs": 0, "sourceDurationMs": 250},
                   {"source": 9, "playAtMs": 500, "sourceDurationMs": 250}]},
        {"type": "musicSegment", "id": 10, "children": [11], "durationMs": )" +
           std::to_string(durationMs) + R"(, "tempo": 120,
         "stingers": [{"trigger": 5, "syncType": 2}])" +
           props + R"(},
        {"type": "action", "id": 768, "action": "0x0403", "target": 10},
        {"type": "event", "id": 1024, "actions": [768]}
      ]})";
}

// Runs of loud samples in channel 0: [first, end) pairs, a run ending at 100 quiet samples.
std::vector<std::pair<size_t, size_t>> LoudRuns(const AuCaptureFile& c) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t quiet = 0;
    bool inRun = false;
    for (size_t n = 0; n < c.Frames(); ++n) {
        if (std::abs(i32{c.At(n, 0)}) > 1000) {
            if (!inRun) runs.emplace_back(n, n + 1);
            inRun = true;
            quiet = 0;
            runs.back().second = n + 1;
        } else if (inRun && ++quiet >= 100) {
            inRun = false;
        }
    }
    return runs;
}

// Rising zero crossings of channel 0 in [from, to).
u32 RisingCrossings(const AuCaptureFile& c, size_t from, size_t to) {
    u32 rising = 0;
    for (size_t n = from + 1; n < to; ++n)
        if (c.At(n - 1, 0) < 0 && c.At(n, 0) >= 0) ++rising;
    return rising;
}

class MusicHeardTest : public banktest::RunningEngineTest {
protected:
    MusicHeardTest() : RunningEngineTest("torvik_music_heard") {}
    void SetUp() override {
        RunningEngineTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
    }
    void TearDown() override {
        // A segment that still plays is stopped and let go of over the next frames.
        AuFrameDriver::WhileOutputPlays([] { AU::MusicEngine::Term(); });
        RunningEngineTest::TearDown();
    }

    void Load(f64 speed, u32 durationMs = 1000) {
        std::vector<std::string> errors;
        std::optional<bankgen::BankBuilder> builder =
            bankgen::BuilderFromRecipe(Recipe(speed, durationMs), errors);
        ASSERT_TRUE(builder) << errors.front();
        ASSERT_NO_FATAL_FAILURE(LoadImage(banktest::Built(*builder)));
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"music.wav"), AuResultSuccess);
    }

    static void OnEnd(AuCallbackType type, AuCallbackInfo* info) {
        if (type == AU_EndOfEvent) static_cast<std::atomic<u32>*>(info->pCookie)->fetch_add(1);
    }

    // Posts the event and renders until it has ended and a few frames more are captured.
    AuCaptureFile PlayToEnd() {
        const AuPlayingID playing =
            AU::SoundEngine::PostEvent(kEvent, kObject, AU_EndOfEvent, OnEnd, &m_ends);
        EXPECT_NE(playing, 0u);
        EXPECT_TRUE(RenderUntil([&] { return m_ends.load() != 0; })) << "the segment's play never ended";
        EXPECT_EQ(m_ends.load(), 1u);
        for (int i = 0; i < 10 && RenderFrame(); ++i) {
        }
        return StopCapture("music.wav");
    }

    std::atomic<u32> m_ends{0};
};

TEST_F(MusicHeardTest, APostedSegmentsClipsAreHeardAtTheirPlacesAndTheEventEndsWithTheSegment) {
    ASSERT_NO_FATAL_FAILURE(Load(1.0));
    const AuCaptureFile c = PlayToEnd();
    const auto runs = LoudRuns(c);
    ASSERT_EQ(runs.size(), 2u) << "two clips, two tones";
    // Each clip plays its quarter second (12000 samples) once; the second starts half a second
    // after the first, to the sample or within the frame the voice starts in.
    for (const auto& [first, end] : runs)
        EXPECT_NEAR(static_cast<f64>(end - first), 12000.0, 64.0);
    EXPECT_NEAR(static_cast<f64>(runs[1].first - runs[0].first), 24000.0, static_cast<f64>(kFrame));
    // 1 kHz: 250 rising crossings in a quarter second.
    EXPECT_NEAR(RisingCrossings(c, runs[0].first, runs[0].second), 250.0, 2.0);
    // Nothing after the second clip: the segment ended with it.
    for (size_t n = runs[1].second; n < c.Frames(); ++n)
        ASSERT_LE(std::abs(i32{c.At(n, 0)}), 1000) << n;
}

TEST_F(MusicHeardTest, AtDoubleSpeedTheClipsComeTwiceAsFastAndAnOctaveHigher) {
    ASSERT_NO_FATAL_FAILURE(Load(2.0));
    const AuCaptureFile c = PlayToEnd();
    const auto runs = LoudRuns(c);
    ASSERT_EQ(runs.size(), 2u);
    // The music clock runs at twice the rate: a clip of 12000 music samples lasts 6000, the second
    // comes 12000 samples after the first, and the pitch of 1200 cents plays 2 kHz.
    for (const auto& [first, end] : runs)
        EXPECT_NEAR(static_cast<f64>(end - first), 6000.0, 64.0);
    EXPECT_NEAR(static_cast<f64>(runs[1].first - runs[0].first), 12000.0, static_cast<f64>(kFrame));
    EXPECT_NEAR(RisingCrossings(c, runs[0].first, runs[0].second), 250.0, 2.0);
}

TEST_F(MusicHeardTest, TermWhileAClipSoundsStopsThePlayAndReturns) {
    ASSERT_NO_FATAL_FAILURE(Load(1.0));
    const AuPlayingID playing = AU::SoundEngine::PostEvent(kEvent, kObject, AU_EndOfEvent, OnEnd, &m_ends);
    ASSERT_NE(playing, 0u);
    const auto path = m_folder / "music.wav";
    ASSERT_TRUE(RenderUntil([&] {
        const AuCaptureFile c = AuCaptureFile::Read(path);
        return c.FirstLouderThan(1000) < c.Frames();
    })) << "the first clip was never heard";
    // The voices of the stopped segment let go of the tree as they end; Term waits for that, while
    // the output plays on.
    AuFrameDriver::WhileOutputPlays([] { AU::MusicEngine::Term(); });
    EXPECT_TRUE(RenderUntil([&] { return m_ends.load() != 0; }, 20));
    EXPECT_EQ(m_ends.load(), 1u);
}

// The sequencer of the posted segment registers with the engine's trigger registry: a trigger
// posted on its object places the segment's stinger (trigger 5, next bar, no segment of its own).
TEST_F(MusicHeardTest, ATriggerPostedOnTheObjectPlacesTheSegmentsStinger) {
    ASSERT_NO_FATAL_FAILURE(Load(1.0, 4000));
    ASSERT_NE(AU::SoundEngine::PostEvent(kEvent, kObject), 0u);
    const auto sequencer = [] {
        CAuMainLock lock;
        const CAuMusicEngine* engine = g_pMusicEngine.load();
        return engine && engine->pFirstTop ? engine->pFirstTop->RootSequencer() : nullptr;
    };
    const auto placed = [&] {
        CAuMainLock lock;
        CAuMusicSequencer* playing = sequencer();
        return playing && playing->FirstStinger() != nullptr;
    };
    ASSERT_TRUE(RenderUntil([&] { return sequencer() != nullptr; }));
    ASSERT_EQ(AU::SoundEngine::PostTrigger(5, kObject), AuResultSuccess);
    EXPECT_TRUE(RenderUntil(placed));
}

} // namespace
