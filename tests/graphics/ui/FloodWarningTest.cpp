#include "GuiTestSupport.h"

#include <ui/Hud.h>

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
        EXPECT_EQ(window->Pos.y, v.TopLeftY);
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
