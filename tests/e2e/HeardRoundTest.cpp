// The game heard: the whole game in this process, as the full round starts it, with SDL's disk
// audio driver, which writes what the game plays (32-bit float, stereo, 48000 Hz) to a file at the
// pace of a sound card. A scripted run goes through the splash, the level, a pause with menu clicks,
// the credits and back, the resume and the quit; the position of the file at each step tells where
// its sound must be.
#include "GameDriver.h"

#include <AddSystems.h>
#include <Engine.h>
#include <GameState.h>
#include <ui/MenuScreens.h>

#include "DiskAudio.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using e2e::CopyRunTimeTree;

constexpr double kRate = e2e::kDiskAudioRate;
constexpr std::size_t kWindow = 8192;
// The lines of the game's sounds: the held roots of the menu, level and credits music, the
// ambience's drone and the click's main partial.
constexpr double kMenuMusicHz = 220, kLevelMusicHz = 330, kAmbienceHz = 110, kCreditsHz = 262,
                 kClickHz = 2000;
constexpr double kHeard = 0.05;
constexpr double kSilent = 0.002;

double ToneLevel(const std::vector<float>& left, std::size_t from, double hz) {
    return e2e::ToneLevel(left, from, hz, kWindow);
}

class HeardGame : public e2e::GameDriver {
public:
    explicit HeardGame(fs::path file) : mFile(std::move(file)) {}

    // Frames for `seconds` of wall time, a few milliseconds apart, while the driver plays on.
    void Idle(double seconds) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            ASSERT_TRUE(Frame()) << "the game quit";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Sample frames the disk driver has written so far.
    std::size_t Played() const { return e2e::DiskAudioFrames(mFile); }

    // Clicks the button the menus drew with this label, once its screen has stopped moving; the
    // click's sound is posted in the frame that sees the release, which is the last one when
    // `settle` is false.
    void Click(const std::string& label, bool settle = true) {
        MenuWidgetRect rect{};
        bool settled = false;
        for (int i = 0; i < 10 && !settled; ++i) {
            const auto found = MenuWidgetRects().find(label);
            settled = found != MenuWidgetRects().end() && found->second.min.x == rect.min.x &&
                      found->second.min.y == rect.min.y;
            if (found != MenuWidgetRects().end()) rect = found->second;
            if (!settled) Frames(1);
        }
        ASSERT_TRUE(settled) << "no \"" << label << "\" stayed in place";
        const int x = int((rect.min.x + rect.max.x) / 2);
        const int y = int((rect.min.y + rect.max.y) / 2);
        MouseMove(x, y);
        Frames(1);
        MouseButton(x, y, true);
        Frames(1);
        MouseButton(x, y, false);
        if (settle) Frames(3);
    }

private:
    fs::path mFile;
};

struct Mark {
    const char* what;
    std::size_t at;
};

TEST(EndToEnd, HeardRound) {
    const fs::path captures = TORVIK_CAPTURES;
    fs::create_directories(captures);
    const fs::path file = captures / "heard-round.raw";
    fs::remove(file);
    fs::remove(captures / "heard-summary.txt");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    const fs::path run = CopyRunTimeTree(TORVIK_E2E_ROOT "/heard");
    ScopedCwd cwd(run);

    HeardGame game(file);
    AddSystems();
    Engine::Initialize();
    ASSERT_NE(game.Window(), nullptr) << "no window titled \"Torvik\"";

    // The splash plays the menu music; Enter loads the level, whose music and ambience start.
    game.Idle(1.5);
    if (testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(GameState::GetState(), GameState::FIRST_SPLASH);
    const Mark splash{"the splash", game.Played()};
    game.Tap(SDL_SCANCODE_RETURN);
    game.Frames(1);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING) << "Enter did not load the level";
    const Mark level{"the level", game.Played()};
    game.Idle(1.5);

    // Escape pauses everything that plays; the menu's clicks are heard, and the credits play their
    // own music until "Back" stops it.
    game.MouseMove(2, 2);
    game.Tap(SDL_SCANCODE_ESCAPE);
    game.Frames(2);
    ASSERT_EQ(GameState::GetState(), GameState::PAUSED);
    const Mark pause{"the pause", game.Played()};
    game.Idle(1.0);
    const Mark click{"the click on \"Options\"", game.Played()};
    game.Click("Options");
    game.Idle(1.0);
    game.Click("Back");
    const Mark credits{"\"Credits\"", game.Played()};
    game.Click("Credits");
    game.Idle(1.5);
    const Mark creditsBack{"\"Back\" from the credits", game.Played()};
    game.Click("Back");
    game.Idle(1.5);
    const Mark resume{"\"Resume Game\"", game.Played()};
    game.Click("Resume Game");
    if (testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    game.Idle(1.5);

    // Quit through the pause menu.
    game.MouseMove(2, 2);
    game.Tap(SDL_SCANCODE_ESCAPE);
    game.Frames(2);
    game.Click("Quit Game");
    game.Click("Yes", false);
    bool quit = false;
    for (int i = 0; i < 10 && !quit; ++i)
        quit = !game.Frame();
    EXPECT_TRUE(quit) << "the game did not quit after \"Yes\"";

    // What the driver wrote up to the quit.
    const std::vector<float> left = e2e::DiskAudioLeft(file);
    std::string summary = "heard round: " + std::to_string(left.size()) + " sample frames\n";
    // What was mixed when a step was taken reaches the file after the output's queue: a window is
    // judged from half a second after its step.
    const std::size_t settle = std::size_t(0.5 * kRate);
    struct Check {
        const Mark& mark;
        std::size_t offset;
        std::vector<double> heard, silent;
    };
    // A click's sound is posted a few frames after its step (over half a second under load), so what
    // it does is judged a second after the step.
    const std::size_t clicked = settle + std::size_t(0.5 * kRate);
    const Check checks[] = {
        // The window that ends where Enter was pressed: the splash's menu music alone.
        {splash, 0, {kMenuMusicHz}, {kLevelMusicHz, kAmbienceHz}},
        {level, settle, {kLevelMusicHz, kAmbienceHz}, {}},
        // The level's stop all has faded the menu music out in its 500 ms.
        {level, settle + std::size_t(0.6 * kRate), {kLevelMusicHz, kAmbienceHz}, {kMenuMusicHz}},
        {pause, settle, {}, {kLevelMusicHz, kAmbienceHz, kMenuMusicHz}},
        {credits, clicked, {kCreditsHz}, {kLevelMusicHz, kAmbienceHz}},
        {creditsBack, clicked, {}, {kCreditsHz, kLevelMusicHz, kAmbienceHz}},
        {resume, clicked, {kLevelMusicHz, kAmbienceHz}, {kCreditsHz, kMenuMusicHz}},
    };
    for (const Check& check : checks) {
        const std::size_t at = check.offset == 0 ? check.mark.at - kWindow : check.mark.at + check.offset;
        char line[160];
        for (double hz : check.heard) {
            const double level = ToneLevel(left, at, hz);
            EXPECT_GT(level, kHeard) << hz << " Hz after " << check.mark.what << ", sample frame " << at;
            std::snprintf(line, sizeof line, "%s: %g Hz at %.3f at sample frame %zu\n", check.mark.what, hz,
                          level, at);
            summary += line;
        }
        for (double hz : check.silent) {
            const double level = ToneLevel(left, at, hz);
            EXPECT_LT(level, kSilent) << hz << " Hz after " << check.mark.what << ", sample frame " << at;
            std::snprintf(line, sizeof line, "%s: %g Hz at %.4f at sample frame %zu\n", check.mark.what, hz,
                          level, at);
            summary += line;
        }
    }
    // The click: a short sound over 2 kHz, the loudest of its kind in the second after it.
    const e2e::Loudest blip = e2e::LoudestTone(left, click.at, click.at + std::size_t(kRate), kClickHz, 2048);
    EXPECT_GT(blip.level, 0.15) << "no click after sample frame " << click.at;
    char line[160];
    std::snprintf(line, sizeof line, "the click: %.3f at sample frame %zu, %.0f ms after its step\n",
                  blip.level, blip.at, double(blip.at - click.at) * 1000 / kRate);
    summary += line;
    std::printf("%s", summary.c_str());
    std::fflush(stdout);
    std::ofstream(captures / "heard-summary.txt") << summary;

    // The driver writes on until the engine stops.
    EXPECT_EQ(Engine::Release(), 0);
    unsetenv("SDL_DISKAUDIOFILE");
}

} // namespace
