// The whole game in this process, started as main starts it (AddSystems with its plug-ins, the
// engine's Initialize, frames, Release) in a copy of the run-time tree, and played as a person plays
// it: keys and the mouse are SDL events pushed into SDL's queue, the pads come through the XInput
// stand-in. Frames have a fixed 0.1 s so that the run is the same every time.
#include "GameDriver.h"
#include "Pictures.h"

#include <AddSystems.h>
#include <Components.h>
#include <Engine.h>
#include <GameState.h>
#include <MessageRecorder.h>
#include <Messages.h>
#include <ObjectFactory.h>
#include <Xinput.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <ui/MenuScreens.h>
#include <xinput_testing.h>

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using e2e::CopyRunTimeTree;
using e2e::kFrameTime;
using e2e::Picture;
using e2e::Rect;
using e2e::Rgb;

std::string Hex(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", id);
    return text;
}

// One line per recorded message, for the order checks and for people to read.
std::string Describe(const Message& message) {
    switch (message.GetMessageType()) {
    case MessageType::ShowMenu: {
        const auto& menu = static_cast<const ShowMenuMessage&>(message);
        return "ShowMenu " + std::to_string(int(menu.GetType())) + (menu.IsVisible() ? " shown" : " hidden");
    }
    case MessageType::Quit:
        return "Quit";
    case MessageType::PostSoundEvent:
        return "Sound " + Hex(static_cast<const PostSoundEventMessage&>(message).GetEventID());
    case MessageType::RegisterCamera:
        return "RegisterCamera " +
               std::to_string(static_cast<const RegisterCameraMessage&>(message).GetPlayerNumber());
    case MessageType::ChangePlayerMode:
        return "PlayerMode " + std::to_string(static_cast<const ChangePlayerMode&>(message).GetPlayerMode());
    case MessageType::Pause:
        return "Pause " + std::to_string(int(static_cast<const PauseMessage&>(message).GetType()));
    case MessageType::LoadLevel: {
        const auto& load = static_cast<const LoadLevelMessage&>(message);
        return "LoadLevel " + load.GetFileName() + " " + std::to_string(load.GetPlayers());
    }
    default:
        return "Message " + std::to_string(int(message.GetMessageType()));
    }
}

// Where each expected line was found, in order; -1 for the first one missing.
int FindInOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected,
                std::size_t& missing) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        while (at < log.size() && log[at] != expected[i])
            ++at;
        if (at == log.size()) {
            missing = i;
            return -1;
        }
        ++at;
    }
    return int(at);
}

class Game : public e2e::GameDriver {
public:
    // Frames until the condition holds, at most `limit`; true when it held.
    bool RunUntil(const std::function<bool()>& condition, int limit) {
        for (int i = 0; i < limit; ++i) {
            if (condition()) return true;
            if (!Frame()) return false;
        }
        return condition();
    }

    // Clicks the centre of the button that the menus drew with this label in the last frame.
    void Click(const std::string& label) {
        const auto& rects = MenuWidgetRects();
        const auto found = rects.find(label);
        ASSERT_NE(found, rects.end()) << "no \"" << label << "\" was drawn in frame " << frames;
        const ImVec2 centre((found->second.min.x + found->second.max.x) / 2,
                            (found->second.min.y + found->second.max.y) / 2);
        ClickAt(int(centre.x), int(centre.y));
        // The GUI sees the release in the next frame, whose drain delivers the click's actions; a
        // screen they show is laid out in the frame after it and centred in the one after that.
        Frames(3);
    }

    Picture Capture(const std::string& name) {
        Picture picture = e2e::FromSurface(SDL_GetWindowSurface(Window()));
        EXPECT_FALSE(picture.Empty()) << name;
        const std::string path = std::string(TORVIK_CAPTURES) + "/" + name + ".png";
        EXPECT_TRUE(e2e::SavePng(picture, path)) << path;
        std::printf("capture %s: %s (%d x %d, frame %d)\n", name.c_str(), path.c_str(), picture.width,
                    picture.height, frames);
        return picture;
    }
};

std::shared_ptr<Object> Player(int n) {
    return Engine::mFactory->GetObjectByName("Player" + std::to_string(n)).lock();
}

std::shared_ptr<PlayerStats> StatsOf(int n) {
    auto player = Player(n);
    return player ? std::static_pointer_cast<PlayerStats>(
                        player->GetComponent(ComponentType::PlayerStats).lock())
                  : nullptr;
}

// ---- the region checks of the four captures ----------------------------------------------------------

void CheckSplash(const Picture& splash) {
    const auto stats = e2e::Stats(splash, Rect{0, 0, splash.width, splash.height});
    EXPECT_GT(stats.colours, 4) << "the splash is one flat colour";
    EXPECT_LT(stats.white, stats.pixels / 2) << "the splash is the window system's white";
    EXPECT_LT(stats.black, stats.pixels * 9 / 10) << "the splash is black";
}

// The player's HUD colour, which its count windows lay at the GUI's window alpha over the scene.
struct HudColour {
    Rgb rgb;
    const char* name;
};
const HudColour kHudColours[4] = {
    {{255, 153, 0}, "orange"}, {{102, 56, 110}, "purple"}, {{133, 148, 89}, "olive"}, {{0, 0, 255}, "blue"}};

// The flood warning's grey (0.2).
const Rgb kWarningGrey{51, 51, 51};
// How far from a window's colour a channel of the scene must lie for its pull towards it to be measured.
constexpr int kMeasurableGap = 25;

// Whether a window of this colour over this scene pixel can be told apart: some channel far enough
// from the window's.
bool ShowsAVeil(const Rgb& scene, const Rgb& window) {
    return std::abs(scene.r - window.r) > kMeasurableGap || std::abs(scene.g - window.g) > kMeasurableGap ||
           std::abs(scene.b - window.b) > kMeasurableGap;
}

// A pixel of the scene seen through a window: each channel pulled from the scene's towards the
// window's by the window's alpha.
bool IsVeiled(const Rgb& seen, const Rgb& scene, const Rgb& window) {
    const int seenChannels[3] = {seen.r, seen.g, seen.b}, sceneChannels[3] = {scene.r, scene.g, scene.b};
    const int windowChannels[3] = {window.r, window.g, window.b};
    bool pulled = false;
    for (int k = 0; k < 3; ++k) {
        const int from = sceneChannels[k], to = seenChannels[k], towards = windowChannels[k];
        if (to < std::min(from, towards) - 6 || to > std::max(from, towards) + 6) return false;
        if (std::abs(from - towards) > kMeasurableGap) {
            const float alpha = float(from - to) / float(from - towards);
            if (alpha < 0.3f || alpha > 0.9f) return false;
            pulled = true;
        }
    }
    return pulled;
}

void CheckPlayerViews(const Picture& picture, bool aroundAMenu) {
    const auto quadrants = e2e::PlayerQuadrants(picture.width, picture.height);
    int viewsJudged = 0;
    for (std::size_t n = 0; n < quadrants.size(); ++n) {
        const auto stats = e2e::Stats(picture, quadrants[n]);
        EXPECT_GT(stats.colours, 8) << "player " << n + 1 << "'s view has no spread of colours";
        EXPECT_LT(stats.black, stats.pixels / 2) << "player " << n + 1 << "'s view is black";
        if (aroundAMenu) continue;
        // The HUD's two count windows side by side at the view's top centre, 200 x 50, over the scene;
        // the flood warning (200 x 100, grey at 0.75) lies below them, clear of them.
        const Rect& q = quadrants[n];
        const int centre = q.x + q.w / 2;
        const Rect hud{centre - 98, q.y + 2, 196, 46};
        const HudColour& want = kHudColours[n];
        // Each window veils the scene in the same row just beside it with its colour, or with the
        // warning's grey; a row whose scene differs on the two sides, or is too near the colour to show
        // a veil, cannot be judged.
        const auto veils = [&](int top, int bottom, int left, int right, const Rgb& window, int& rows) {
            int veiled = 0;
            for (int y = top; y < bottom; ++y) {
                const Rgb besideLeft = picture.At(centre - 110, y), besideRight = picture.At(centre + 110, y);
                if (!e2e::Near(besideLeft, besideRight, 12) || !ShowsAVeil(besideLeft, window)) continue;
                ++rows;
                if (IsVeiled(picture.At(left, y), besideLeft, window) &&
                    IsVeiled(picture.At(right, y), besideRight, window))
                    ++veiled;
            }
            return veiled;
        };
        // The count windows' margins beside their icons and digits.
        int hudRows = 0;
        const int hudVeiled = veils(hud.y, hud.y + hud.h, centre - 96, centre + 4, want.rgb, hudRows);
        // Below the warning's text.
        int rows = 0;
        const int veiled = veils(q.y + 130, q.y + 170, centre - 60, centre + 60, kWarningGrey, rows);
        if (rows < 10 || hudRows < 10) {
            std::printf("player %zu: too few rows of even, coloured scene beside the HUD to judge it\n",
                        n + 1);
            continue;
        }
        ++viewsJudged;
        EXPECT_GE(hudVeiled * 10, hudRows * 8) << "player " << n + 1 << "'s HUD " << want.name << " veils "
                                               << hudVeiled << " of " << hudRows << " rows";
        EXPECT_GE(veiled * 10, rows * 8)
            << "player " << n + 1 << "'s flood warning veils " << veiled << " of " << rows << " rows";
    }
    if (aroundAMenu) return;
    EXPECT_GE(viewsJudged, 2) << "too few views show their flood warning over a scene that can show it";
    for (const Rect& seam : e2e::Seams(picture.width, picture.height)) {
        const auto stats = e2e::Stats(picture, seam);
        EXPECT_EQ(stats.black, stats.pixels) << "the seam at " << seam.x << ", " << seam.y << " is not black";
    }
}

void CheckPause(const Picture& pause) {
    // Five stacked blue faces on the middle column of the screen.
    const Rect column{pause.width / 2 - 150, 0, 300, pause.height};
    const auto faces = e2e::RowRuns(pause, column, 200, e2e::IsButtonBlue);
    EXPECT_EQ(faces.size(), 5u) << "blue blocks down the middle of the pause screen";
    for (const auto& face : faces)
        EXPECT_GT(face.end - face.start, 40) << "a face at row " << face.start;
}

// Rows of text pixels joined into lines: the gaps inside a line of glyphs are narrower than those
// between lines.
std::vector<e2e::Run> Lines(const std::vector<e2e::Run>& rows) {
    std::vector<e2e::Run> lines;
    for (const e2e::Run& run : rows) {
        if (!lines.empty() && run.start - lines.back().end < 8)
            lines.back().end = run.end;
        else
            lines.push_back(run);
    }
    return lines;
}

void CheckResults(const Picture& results, const Rect& window) {
    auto cyan = [](const Rgb& c) { return e2e::Near(c, Rgb{0, 255, 255}, 40); };
    auto red = [](const Rgb& c) { return e2e::Near(c, Rgb{255, 0, 0}, 40); };
    const auto cyanRows = Lines(e2e::RowRuns(results, window, 2, cyan));
    const auto redRows = Lines(e2e::RowRuns(results, window, 2, red));
    ASSERT_FALSE(cyanRows.empty()) << "no cyan text in the results window";
    ASSERT_FALSE(redRows.empty()) << "no red text in the results window";
    EXPECT_EQ(cyanRows.size(), 1u) << "one cyan line: the first player's";
    EXPECT_LT(cyanRows.front().start, redRows.front().start) << "the cyan line comes first";
    EXPECT_EQ(redRows.size(), 3u) << "a red line for each of the other three";
}

// ---- the run -----------------------------------------------------------------------------------------

TEST(EndToEnd, FullRound) {
    using Clock = std::chrono::steady_clock;
    const auto wallStart = Clock::now();
    const fs::path run = CopyRunTimeTree(TORVIK_E2E_ROOT "/fullround");
    ScopedCwd cwd(run);
    fs::create_directories(TORVIK_CAPTURES);
    fs::remove(fs::path(TORVIK_CAPTURES) / "fullround-summary.txt");

    // Players 2 to 4 hold pads and stand still; player 1 plays with the keyboard and the mouse.
    xinputtest::UseFakePads();
    for (DWORD slot = 1; slot <= 3; ++slot)
        xinputtest::SetPad(slot, XINPUT_GAMEPAD{});

    Game game;
    AddSystems();
    MessageRecorder recorder({MessageType::ShowMenu, MessageType::Quit, MessageType::PostSoundEvent,
                              MessageType::RegisterCamera, MessageType::ChangePlayerMode, MessageType::Pause,
                              MessageType::LoadLevel});
    MessageRecorder events({MessageType::GameEvent});
    Engine::Initialize();
    ASSERT_NE(game.Window(), nullptr) << "no window titled \"Torvik\"";

    // The first splash for one second, then Enter skips the rest.
    game.Frames(10);
    if (testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(GameState::GetState(), GameState::FIRST_SPLASH);
    CheckSplash(game.Capture("splash"));
    game.Tap(SDL_SCANCODE_RETURN);
    game.Frames(1);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING) << "Enter did not skip the splash";
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(Player(n)) << "player " << n;
    const int playStart = game.frames;
    const auto playWallStart = Clock::now();

    // Player 1 walks straight ahead over its keycard and power cell into the escape pod.
    game.Frames(2);
    game.Key(SDL_SCANCODE_W, true);
    const bool escaped = game.RunUntil(
        [&] {
            for (const auto& message : events.seen) {
                const auto& event = static_cast<const GameEventMessage&>(*message);
                if (event.GetEventText() == LevelRuleset::kEscapeEvent &&
                    event.GetObjectID() == Player(1)->GetID())
                    return true;
            }
            return false;
        },
        40);
    game.Key(SDL_SCANCODE_W, false);
    ASSERT_TRUE(escaped) << "player 1 did not reach the pod by frame " << game.frames;
    EXPECT_EQ(StatsOf(1)->GetKeyCards(), 1);
    EXPECT_EQ(StatsOf(1)->GetPowerCells(), 1);
    game.Frames(2);
    CheckPlayerViews(game.Capture("playing"), false);

    // Escape pauses; the mouse rests in a corner so that no face is lit by hovering.
    game.MouseMove(2, 2);
    game.Tap(SDL_SCANCODE_ESCAPE);
    game.Frames(1);
    ASSERT_EQ(GameState::GetState(), GameState::PAUSED);
    // A screen that appears is laid out in its first frame and centred in the next.
    game.Frames(1);
    const Picture pause = game.Capture("pause");
    CheckPause(pause);
    CheckPlayerViews(pause, true);
    game.Click("Options");
    ASSERT_NE(MenuWidgetRects().count("Fullscreen"), 0u) << "the options screen is not shown";
    game.Click("Back");
    game.Click("Resume Game");
    if (testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);

    // The round ends by itself when the flood has reached the three players who stayed. Meanwhile a
    // click with no menu shown (player 1 fires a flare) changes nothing, and player 3's pad is
    // unplugged for three seconds: its slot keeps polling until it is back.
    const auto resultsShown = [&] {
        for (const auto& message : recorder.seen)
            if (Describe(*message) == "ShowMenu 9 shown") return true;
        return false;
    };
    game.Frames(20);
    game.ClickAt(800, 450);
    xinputtest::DisconnectPad(2);
    const int pollsBefore = xinputtest::GetStateCalls(2);
    game.Frames(30);
    const int pollsUnplugged = xinputtest::GetStateCalls(2) - pollsBefore;
    EXPECT_GE(pollsUnplugged, 2) << "an unplugged slot polls again";
    EXPECT_LT(pollsUnplugged, 30) << "an unplugged slot polls about once a second, not every frame";
    xinputtest::SetPad(2, XINPUT_GAMEPAD{});
    ASSERT_TRUE(game.RunUntil(resultsShown, 1200)) << "the round did not end by frame " << game.frames;
    const int playFrames = game.frames - playStart;
    const double playWall = std::chrono::duration<double>(Clock::now() - playWallStart).count();
    game.Frames(2);
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    EXPECT_FALSE(StatsOf(1)->perished);
    for (int n = 2; n <= 4; ++n)
        EXPECT_TRUE(StatsOf(n)->perished) << "player " << n;

    const Picture results = game.Capture("results");
    ImGuiWindow* window = ImGui::FindWindowByName("Results");
    ASSERT_NE(window, nullptr) << "the results window was not drawn";
    CheckResults(results,
                 Rect{int(window->Pos.x), int(window->Pos.y), int(window->Size.x), int(window->Size.y)});

    game.Click("Quit Game");
    ASSERT_NE(MenuWidgetRects().count("Yes"), 0u) << "the confirmation is not shown";
    const MenuWidgetRect yes = MenuWidgetRects().at("Yes");
    game.ClickAt(int((yes.min.x + yes.max.x) / 2), int((yes.min.y + yes.max.y) / 2));
    // The GUI sees the release in this frame and relays the request to quit: the loop ends after it.
    ASSERT_TRUE(game.Frame());
    EXPECT_FALSE(game.Frame()) << "the game did not quit after \"Yes\"";

    std::vector<std::string> log;
    for (const auto& message : recorder.seen)
        log.push_back(Describe(*message));
    {
        std::ofstream out(std::string(TORVIK_CAPTURES) + "/fullround-messages.txt");
        for (const auto& line : log)
            out << line << "\n";
    }
    const int status = Engine::Release();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(game.boxes.empty());

    const std::vector<std::string> expected = {"Sound 0xE7746BD5",  "Sound 0x2C928473", // the first splash
                                               "Sound 0xF64FB20D",  "Sound 0x2F6C248F",
                                               "Sound 0x63E09726", // playing
                                               "RegisterCamera 1",  "PlayerMode 1",
                                               "RegisterCamera 2",  "PlayerMode 2", // four players
                                               "RegisterCamera 3",  "PlayerMode 3",
                                               "RegisterCamera 4",  "PlayerMode 4", //
                                               "Pause 0",           "Sound 0xE6517101",
                                               "ShowMenu 5 shown",                      // Escape
                                               "Pause 1",           "Sound 0xDB54B788", // "Resume Game"
                                               "ShowMenu 9 shown",  "Pause 0",
                                               "Sound 0xF64FB20D",           // the round's end
                                               "ShowMenu 10 shown", "Quit"}; // "Quit Game", "Yes"
    std::size_t missing = 0;
    EXPECT_GE(FindInOrder(log, expected, missing), 0)
        << "\"" << expected[missing] << "\" is missing from the message log (or out of order)";
    const auto results9 = std::find(log.begin(), log.end(), "ShowMenu 9 shown");
    EXPECT_EQ(std::find(results9, log.end(), "ShowMenu 5 shown"), log.end())
        << "the round's end shows no pause menu";

    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "full round: %d frames, %.1f s of game time, %.1f s of wall time; playing: %d frames, mean "
                  "frame time %.1f ms\n",
                  game.frames, double(game.frames) * double(kFrameTime), wall, playFrames,
                  playFrames > 0 ? playWall * 1000.0 / double(playFrames) : 0.0);
    std::printf("%s", summary);
    std::ofstream(std::string(TORVIK_CAPTURES) + "/fullround-summary.txt") << summary;
    xinputtest::UseRealPads();
}

} // namespace
