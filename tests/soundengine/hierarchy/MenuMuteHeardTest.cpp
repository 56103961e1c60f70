// The options menu's two mute boxes, as a new player toggles them: the game's banks, the menu's
// click posted after each box's event as the menu posts it, and the device's output driven frame
// by frame. Whatever the order and timing of the toggles, once both boxes are off again the click
// is heard as loud as before.
#include "BankTestSupport.h"

#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace banktest {
namespace {

// The menu's click and the game's four box events.
constexpr u32 kClick = 0xFF0B3D05;
constexpr u32 kMuteMusic = 0x205DA04D, kUnmuteMusic = 0x3474117A, kMuteSfx = 0x63C39CE1,
              kUnmuteSfx = 0x305775FC;
// The same four over 100 ms (almost five frames), so that the next toggle meets them in flight.
constexpr u32 kFadeBank = 0x4E3;
constexpr u32 kSlowMuteMusic = 0x600, kSlowUnmuteMusic = 0x601, kSlowMuteSfx = 0x602, kSlowUnmuteSfx = 0x603;
constexpr AuGameObjectID kMenu = 100;

class MenuMuteHeardTest : public RunningEngineTest {
protected:
    MenuMuteHeardTest() : RunningEngineTest("torvik_menu_mute") {}
    void SetUp() override {
        RunningEngineTest::SetUp();
        if (HasFatalFailure()) return;
        for (const char* bank : {"Init.bnk", "Torvik.bnk"}) {
            std::filesystem::copy_file(std::filesystem::path(TORVIK_SOUNDBANKS_DIR) / bank, m_folder / bank,
                                       std::filesystem::copy_options::overwrite_existing);
            AuBankID id = 0;
            ASSERT_EQ(AU::SoundEngine::LoadBank(bank, AU_INVALID_POOL_ID, id), AuResultSuccess) << bank;
        }
        ASSERT_NO_FATAL_FAILURE(LoadImage(FadeBank()));
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kMenu), AuResultSuccess);
    }

    // The box events again with a fade time.
    static Bytes FadeBank() {
        const u32 music = AU::SoundEngine::GetIDFromString("Music_Bus");
        const u32 sfx = AU::SoundEngine::GetIDFromString("SFX_Bus");
        const u32 actions[4][3] = {{kSlowMuteMusic, 0x0602, music},
                                   {kSlowUnmuteMusic, 0x0702, music},
                                   {kSlowMuteSfx, 0x0602, sfx},
                                   {kSlowUnmuteSfx, 0x0702, sfx}};
        bankgen::BankBuilder builder(kFadeBank);
        u32 actionID = 0x310;
        for (const auto& entry : actions) {
            bankgen::ActionRecord action = ActionOn(actionID++, static_cast<u16>(entry[1]), entry[2], true);
            action.props.push_back(bankgen::PropI(15, 100));
            builder.Add(action);
            builder.Add(bankgen::EventRecord{entry[0], {action.id}});
        }
        return Built(builder);
    }

    // The click posted now, and the loudest the device plays of it: the device's queued buffers
    // and the click's 80 ms fit in ten frames.
    f32 Click() {
        EXPECT_NE(AU::SoundEngine::PostEvent(kClick, kMenu), 0u);
        const std::vector<f32> played = Frames(10);
        f32 peak = 0.0f;
        for (f32 sample : played)
            peak = std::max(peak, std::abs(sample));
        return peak;
    }

    // `frames` frames of the device, each rendered before the next; what it played of channel 0.
    static std::vector<f32> Frames(size_t frames) {
        std::vector<f32> played;
        for (size_t f = 0; f < frames; ++f)
            RenderFrame(&played);
        return played;
    }
};

TEST_F(MenuMuteHeardTest, TheClickIsHeardAfterBothBoxesAreToggledOnAndOffInAnyOrderAndTiming) {
    const f32 heard = Click();
    ASSERT_GT(heard, 0.05f) << "the click is not heard before any box was touched";
    // Each order of the four toggles in which a box goes on before it goes off.
    const char* orders[] = {"MmSs", "MSms", "MSsm", "SMms", "SMsm", "SsMm"};
    int cases = 0;
    for (const char* order : orders) {
        for (const bool slow : {false, true}) {
            // Bit k: a frame between toggle k and toggle k + 1, or none.
            for (u32 gaps = 0; gaps < 8; ++gaps) {
                std::string name = std::string(order) + (slow ? " faded" : " at once") + " gaps ";
                for (u32 k = 0; k < 3; ++k)
                    name += (gaps >> k) & 1 ? '1' : '0';
                SCOPED_TRACE(name);
                for (u32 k = 0; k < 4; ++k) {
                    const char box = order[k];
                    const u32 event = box == 'M'   ? (slow ? kSlowMuteMusic : kMuteMusic)
                                      : box == 'm' ? (slow ? kSlowUnmuteMusic : kUnmuteMusic)
                                      : box == 'S' ? (slow ? kSlowMuteSfx : kMuteSfx)
                                                   : (slow ? kSlowUnmuteSfx : kUnmuteSfx);
                    // The menu posts the box's event, then its click.
                    ASSERT_NE(AU::SoundEngine::PostEvent(event, kMenu), 0u);
                    ASSERT_NE(AU::SoundEngine::PostEvent(kClick, kMenu), 0u);
                    if (k < 3 && ((gaps >> k) & 1)) Frames(1);
                }
                // The last fade done and the toggles' clicks played out.
                Frames(12);
                const f32 after = Click();
                ASSERT_NEAR(after, heard, 0.02f * heard) << "the click after the toggles";
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 96);
}

} // namespace
} // namespace banktest
