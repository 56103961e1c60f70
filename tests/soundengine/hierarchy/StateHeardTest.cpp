// A state group heard in the capture: a 1 kHz tone on the game's "Music_Bus" follows a group
// whose "Underwater" state lowers its volume by 6 dB, reached over a listed 0 ms transition and
// left over the group's default time.
#include "BankTestSupport.h"

#include <AuCaptureFile.h>
#include <HannToneLevel.h>

#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E3;
constexpr u32 kTone = 0x200, kMedia = 0x210, kPlay = 0x300, kPlayEvent = 0x400, kStateObject = 0x500;
constexpr u32 kGroup = 0x600, kUnderwater = 0x601;
constexpr u32 kObject = 10;
constexpr size_t kBlock = 1024;
// The group's default time: 500 ms is 23.4 blocks of 1024 samples at 48 kHz.
constexpr u32 kDefaultMs = 500;

class StateHeardTest : public RunningEngineTest {
protected:
    StateHeardTest() : RunningEngineTest("torvik_state") {}

    static Bytes Build(u32 musicBus) {
        bankgen::BankBuilder builder(kBank);
        bankgen::Settings settings;
        settings.stateGroups.push_back({kGroup, kDefaultMs, {{0, kUnderwater, 0}}});
        builder.SetSettings(settings);
        builder.AddMedia(kMedia, bankgen::MakePcmWave(
                                     bankgen::ToPcm16({bankgen::Sine(1000.0, 1.0, 48000, 0.25)}), 1, 48000));
        builder.Add(bankgen::StateRecord{kStateObject, {bankgen::PropF(0, -6.0f)}});
        bankgen::SoundRecord sound = BankSound(kTone, kMedia, musicBus);
        sound.node.props.push_back(bankgen::PropI(58, 0)); // loops for ever
        sound.node.stateGroups.push_back({kGroup, 0, {{kUnderwater, kStateObject}}});
        builder.Add(sound);
        builder.Add(PlayAction(kPlay, kTone, kBank));
        builder.Add(bankgen::EventRecord{kPlayEvent, {kPlay}});
        return Built(builder);
    }
    // The level of each block of the left channel captured so far; blocks a late pass left silent
    // are no audio frames and are dropped.
    std::vector<f64> Levels() const {
        const AuCaptureFile capture = AuCaptureFile::Read(m_folder / "state.wav");
        std::vector<f64> left(capture.Frames());
        for (size_t f = 0; f < left.size(); ++f)
            left[f] = capture.At(f, 0);
        std::vector<f64> levels;
        for (size_t b = 0; (b + 1) * kBlock <= left.size(); ++b) {
            const f64 level = HannToneLevel(left, b * kBlock, 1000.0, kBlock, 48000.0);
            if (level > 100.0) levels.push_back(level);
        }
        return levels;
    }
    // The first block from `from` on whose level `accepts`, once `after` more blocks follow it;
    // rendered until there is one (or the patience runs out: then the end).
    template <class Accepts> size_t RenderToBlock(size_t from, size_t after, Accepts accepts) const {
        size_t found = ~size_t{0};
        RenderUntil([&] {
            const std::vector<f64> levels = Levels();
            for (size_t b = from; b + after < levels.size(); ++b)
                if (accepts(levels[b])) return (found = b), true;
            return false;
        });
        return found;
    }
};

TEST_F(StateHeardTest, UnderwaterHalvesTheToneAtOnceAndSurfacingFadesItBack) {
    std::filesystem::copy_file(std::filesystem::path(TORVIK_SOUNDBANKS_DIR) / "Init.bnk",
                               m_folder / "Init.bnk", std::filesystem::copy_options::overwrite_existing);
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
    ASSERT_NO_FATAL_FAILURE(LoadImage(Build(AU::SoundEngine::GetIDFromString("Music_Bus"))));
    ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"state.wav"), AuResultSuccess);
    ASSERT_NE(AU::SoundEngine::PostEvent(kPlayEvent, kObject), 0u);
    // Past the tone's start.
    ASSERT_NE(RenderToBlock(8, 1, [](f64) { return true; }), ~size_t{0});
    const f64 full = Levels()[8];
    ASSERT_EQ(AU::SoundEngine::SetState(kGroup, kUnderwater), AuResultSuccess);
    const size_t down = RenderToBlock(9, 6, [full](f64 level) { return level < 0.9 * full; });
    ASSERT_NE(down, ~size_t{0}) << "never went under water";
    ASSERT_EQ(AU::SoundEngine::SetState(kGroup, 0), AuResultSuccess);
    const size_t up = RenderToBlock(down + 6, 26, [full](f64 level) { return level > 0.52 * full; });
    ASSERT_NE(up, ~size_t{0}) << "never surfaced";
    const AuCaptureFile closed = StopCapture("state.wav");
    ASSERT_TRUE(closed.closed);
    const std::vector<f64> levels = Levels();
    for (size_t b = down + 1; b < down + 6; ++b)
        EXPECT_NEAR(levels[b] / full, 0.5, 0.005) << "half amplitude, block " << b - down;
    // 23.4 blocks, linear in amplitude: about 2.1 % of the full level more each block.
    for (size_t b = up + 1; b < up + 22; ++b)
        EXPECT_NEAR(levels[b] - levels[b - 1], 0.5 * full / 23.4375, 0.2 * 0.5 * full / 23.4375) << b - up;
    EXPECT_NEAR(levels[up + 26] / full, 1.0, 0.005) << "back once the default time is over";
}

} // namespace
} // namespace banktest
