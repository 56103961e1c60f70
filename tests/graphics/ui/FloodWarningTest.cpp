#include "GuiTestSupport.h"

#include <GameLogic.h>
#include <GameState.h>
#include <ui/Hud.h>

#include <SDL.h>

namespace {

using guitest::GuiTest;

class FloodWarningTest : public GuiTest {
protected:
    // The game rules' calls of one frame: one warning per player's viewport.
    void WarnEveryPlayer() {
        for (unsigned n = 1; n <= 4; ++n) {
            const D3D11_VIEWPORT v = Quadrant(n);
            DrawFloodWarning(v.Width, v.TopLeftX, v.TopLeftY, "Room is about to flood!");
        }
    }
};

TEST_F(FloodWarningTest, FourWarningsShowFourWindowsOneInEachViewport) {
    for (int frame = 0; frame < 3; ++frame) {
        WarnEveryPlayer();
        Frame();
    }
    EXPECT_TRUE(TakeFloodWarnings().empty()) << "the GUI pass empties the queue";
    const std::vector<uint32_t> pixels = BackBuffer();
    for (unsigned n = 1; n <= 4; ++n) {
        const D3D11_VIEWPORT v = Quadrant(n);
        ImGuiWindow* window = Window("Warning!##" + std::to_string(n));
        ASSERT_NE(window, nullptr) << n;
        EXPECT_EQ(window->Pos.x, v.TopLeftX + v.Width / 2 - 100);
        EXPECT_GT(window->Pos.y, v.TopLeftY + 50) << "below the counts";
        EXPECT_EQ(window->Size.x, 200.0f);
        EXPECT_EQ(window->Size.y, 100.0f);
        // Its lower padding: 0.2 grey at 0.75 x 0.7 over the black scene.
        const uint32_t p = At(pixels, int(window->Pos.x) + 100, int(window->Pos.y) + 95);
        EXPECT_TRUE(Near(p, 27, 27, 27, 3)) << n << ": " << Describe(p);
    }
    // The visible title is the same for all.
    EXPECT_STREQ(ImGui::FindRenderedTextEnd("Warning!##3"), "##3");
}

TEST_F(FloodWarningTest, OnlyOneFramesCallsAreEverDrawn) {
    DrawFloodWarning(1600, 0, 0, "first");
    Frame();
    EXPECT_NE(Window("Warning!##1"), nullptr);
    // Nobody called this frame: no warning is left over from the last one.
    Frame();
    EXPECT_EQ(Window("Warning!##1"), nullptr);
}

// A warning from before the GUI existed is dropped, not drawn a frame late.
class FloodWarningBeforeGuiTest : public GuiTest {
protected:
    bool StartSystems() override {
        DrawFloodWarning(1600, 0, 0, "too early");
        return true;
    }
};

TEST_F(FloodWarningBeforeGuiTest, IsNeverDrawn) {
    Frame(2);
    EXPECT_EQ(Window("Warning!##1"), nullptr);
    EXPECT_TRUE(TakeFloodWarnings().empty());
}

} // namespace

namespace {

ImRect RectOf(ImGuiWindow* window) {
    return ImRect(window->Pos, ImVec2(window->Pos.x + window->Size.x, window->Pos.y + window->Size.y));
}

// The game rules beside the graphics system, in a four-player round: the warnings are drawn where the
// game rules ask for them, from the viewports the graphics side told them.
class FloodWarningInRoundTest : public GuiTest {
protected:
    bool StartSystems() override {
        mLogic = new GameLogic(L"GameLogic");
        Engine::AddSystem(mLogic);
        return true;
    }
    void StartRound() {
        for (int n = 1; n <= 4; ++n)
            MakePlayer(n);
        GameState::SetState(GameState::PLAYING);
        mLogic->GetLevel()->LoadLevel("Nowhere", 4);
        Engine::ImmediateMessage(std::make_shared<ChangePlayerMode>(L"GameLogic", 4));
        Frame(4);
    }
    void Resize(int w, int h) {
        SDL_SetWindowSize(static_cast<SDL_Window*>(mGraphics->mWindow), w, h);
        // The size the window took, which the window system may have kept to its minimum.
        SDL_GetWindowSize(static_cast<SDL_Window*>(mGraphics->mWindow), &w, &h);
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
        e.window.data1 = w;
        e.window.data2 = h;
        Engine::ImmediateMessage(std::make_shared<SDLEventMessage>(L"Input", e));
        Frame(4);
    }
    // Every player's warning: centred on its viewport's top edge, under the counts, never over them.
    void ExpectWarningsUnderTheCounts() {
        for (unsigned n = 1; n <= 4; ++n) {
            SCOPED_TRACE(n);
            const D3D11_VIEWPORT* v = mDevice->GetPlayerViewport(n);
            ASSERT_NE(v, nullptr);
            ImGuiWindow* warning = Window("Warning!##" + std::to_string(n));
            ImGuiWindow* keys = Window("Player" + std::to_string(n) + "Key Quantity");
            ImGuiWindow* cells = Window("Player" + std::to_string(n) + "PowerCell Quantity");
            ASSERT_TRUE(warning && keys && cells);
            EXPECT_NEAR(warning->Pos.x, v->TopLeftX + v->Width / 2 - 100, 0.5f);
            EXPECT_GT(warning->Pos.y, v->TopLeftY);
            EXPECT_FALSE(RectOf(warning).Overlaps(RectOf(keys)));
            EXPECT_FALSE(RectOf(warning).Overlaps(RectOf(cells)));
            EXPECT_EQ(keys->Pos.y, v->TopLeftY);
            // The bars at the bottom stay clear of the warning and of each other.
            const std::string prefix = "Player" + std::to_string(n);
            ImGuiWindow* sprint = Window(prefix + " Sprint Bar Border");
            ImGuiWindow* flare = Window(prefix + " Flare Bar Border");
            ASSERT_TRUE(sprint && flare);
            EXPECT_FALSE(RectOf(sprint).Overlaps(RectOf(flare)));
            EXPECT_FALSE(RectOf(warning).Overlaps(RectOf(sprint)));
            EXPECT_FALSE(RectOf(warning).Overlaps(RectOf(flare)));
            EXPECT_FALSE(RectOf(keys).Overlaps(RectOf(cells)));
        }
    }
    GameLogic* mLogic = nullptr;
};

TEST_F(FloodWarningInRoundTest, NeverCoversTheCountsAndFollowsAResize) {
    StartRound();
    ExpectWarningsUnderTheCounts();
    Resize(1280, 720);
    EXPECT_EQ(mDevice->GetWidth(), 1280);
    ExpectWarningsUnderTheCounts();
    // The smallest window the game allows still gives every player a HUD whose parts stay apart.
    Resize(1, 1);
    EXPECT_EQ(mDevice->GetWidth(), unsigned(WindowSystem::kMinimumWidth));
    ExpectWarningsUnderTheCounts();
}

} // namespace
