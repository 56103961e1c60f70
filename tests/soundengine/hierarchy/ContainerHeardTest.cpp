// A random container in step play, as the game drives it: a bank from memory whose event plays
// the container, one post after another, and which of its clicks each post put in the capture.
#include "BankTestSupport.h"

#include "core/AuAudioMgr.h"
#include "core/AuThreads.h"

#include <AuCaptureFile.h>

#include <AU/AuCallback.h>
#include <AU/SoundEngine.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E2;
constexpr u32 kMaster = 0x100;
constexpr u32 kContainer = 0x210;
constexpr u32 kPlay = 0x300;
constexpr u32 kEvent = 0x400;
constexpr u32 kObject = 10;
constexpr u32 kClicks = 3;
// Each click is a 20 ms burst of 1 kHz at its own level, told apart by its peak.
constexpr f64 kLevels[kClicks] = {0.15, 0.35, 0.6};

class ContainerHeardTest : public RunningEngineTest {
protected:
    ContainerHeardTest() : RunningEngineTest("torvik_container_heard") {}

    static Bytes ClickBank() {
        bankgen::BankBuilder builder(kBank);
        bankgen::BusRecord master;
        master.id = kMaster;
        builder.Add(master);
        bankgen::RandomSequenceRecord container;
        container.id = kContainer;
        container.node.outputBus = kMaster;
        container.playlistMode = 0;
        container.avoidRepeat = 1;
        for (u32 i = 0; i < kClicks; ++i) {
            const u32 sound = 0x200 + i, media = 0x500 + i;
            builder.AddMedia(
                media, bankgen::MakePcmWave(
                           bankgen::ToPcm16({bankgen::Sine(1000.0, 0.02, 48000, kLevels[i])}), 1, 48000));
            builder.Add(BankSound(sound, media, 0));
            container.children.push_back(sound);
            container.playlist.push_back({sound, 50000});
        }
        builder.Add(container);
        builder.Add(PlayAction(kPlay, kContainer, kBank));
        builder.Add(bankgen::EventRecord{kEvent, {kPlay}});
        return Built(builder);
    }

    static void OnEnd(AuCallbackType type, AuCallbackInfo* info) {
        if (type == AU_EndOfEvent) static_cast<std::atomic<u32>*>(info->pCookie)->fetch_add(1);
    }
    // Until the audio thread has run `frames` passes past what was posted so far.
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
    // The click of each burst of sound in the capture, by its peak; bursts are apart by at least
    // a frame of silence.
    static std::vector<int> Clicks(const AuCaptureFile& c) {
        std::vector<int> clicks;
        constexpr size_t kGap = 1024;
        size_t quiet = kGap;
        i32 peak = 0;
        const auto close = [&] {
            if (peak == 0) return;
            int nearest = 0;
            for (int i = 1; i < int(kClicks); ++i)
                if (std::abs(peak - Expected(i)) < std::abs(peak - Expected(nearest))) nearest = i;
            clicks.push_back(nearest);
            peak = 0;
        };
        for (size_t f = 0; f < c.Frames(); ++f) {
            const i32 level = std::abs(i32{c.At(f, 0)});
            if (level > 200) {
                if (quiet >= kGap) close();
                quiet = 0;
                peak = std::max(peak, level);
            } else {
                ++quiet;
            }
        }
        close();
        return clicks;
    }
    // A click's peak through the centre pan at unity gains.
    static i32 Expected(int click) { return static_cast<i32>(kLevels[click] * 0.7071 * 32767); }
};

TEST_F(ContainerHeardTest, ThirtyPostsOfAnAvoidRepeatContainerNeverPlayOneClickTwiceInARow) {
    ASSERT_NO_FATAL_FAILURE(LoadImage(ClickBank()));
    ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"clicks.wav"), AuResultSuccess);
    std::atomic<u32> ends = 0;
    constexpr u32 kPosts = 30;
    for (u32 n = 0; n < kPosts; ++n) {
        ASSERT_NE(AU::SoundEngine::PostEvent(kEvent, kObject, AU_EndOfEvent, OnEnd, &ends), 0u) << n;
        ASSERT_TRUE(RenderUntil([&] { return ends.load() == n + 1; })) << n;
        // Silence between two clicks.
        ASSERT_TRUE(PassFrames(3));
    }
    const std::vector<int> clicks = Clicks(StopCapture("clicks.wav"));
    ASSERT_EQ(clicks.size(), kPosts);
    u32 counts[kClicks] = {};
    for (size_t i = 0; i < clicks.size(); ++i) {
        ++counts[clicks[i]];
        if (i > 0) {
            EXPECT_NE(clicks[i], clicks[i - 1]) << "post " << i;
        }
    }
    for (u32 i = 0; i < kClicks; ++i)
        EXPECT_GT(counts[i], 0u) << "click " << i << " never played";
}

} // namespace
} // namespace banktest
