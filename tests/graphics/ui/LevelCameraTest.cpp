// A level whose extra camera has no size: the loader refuses the size with one line, and whatever
// camera ends up without a target is passed over, so the players' views and the menus are drawn.
#include "GuiTestSupport.h"

#include <EngineTestControl.h>

#include <fstream>

namespace {

using guitest::GuiTest;

class LevelCameraTest : public GuiTest {
protected:
    // Two players' cameras and an observer of the given width, under the run-time tree's levels.
    void WriteLevel(const std::string& name, unsigned observerWidth) {
        std::filesystem::create_directories(mRoot / "Resources" / "Levels");
        std::ofstream(mRoot / "Resources" / "Levels" / (name + ".json")) << R"({ "objects": [
          { "name": "Eye1", "components": { "Transform": {"position": [0, 1, 5]}, "Camera": {} } },
          { "name": "Eye2", "components": { "Transform": {"position": [0, 1, -5]}, "Camera": {} } },
          { "name": "Observer", "components": { "Transform": {"position": [0, 9, 0]},
              "Camera": {"width": )" << observerWidth << R"(} } } ] })";
    }
    std::shared_ptr<Camera> CameraOf(const std::string& name) {
        auto object = Engine::mFactory->GetObjectByName(name).lock();
        return object ? std::static_pointer_cast<Camera>(object->GetComponent(ComponentType::Camera).lock())
                      : nullptr;
    }
    // The two players' views on screen, as the game rules register them.
    void TwoPlayers() {
        for (unsigned n = 1; n <= 2; ++n)
            Engine::RelayMessage(
                std::make_shared<RegisterCameraMessage>(L"Test", CameraOf("Eye" + std::to_string(n)), n));
        Engine::RelayMessage(std::make_shared<ChangePlayerMode>(L"Test", 2));
    }
    // Frames with and without the pause menu: each player's view is drawn, the menu shows, and no
    // frame reports a failure.
    void ExpectViewsAndMenu() {
        ::testing::internal::CaptureStdout();
        Frame(2);
        const std::vector<uint32_t> bare = BackBuffer();
        Engine::RelayMessage(std::make_shared<ShowMenuMessage>(L"Test", MENU_PAUSE, true));
        // A window that appears takes a few frames to find its size.
        Frame(6);
        const std::vector<uint32_t> menu = BackBuffer();
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("FAILURE"), std::string::npos) << out;
        // The two-player halves: 1600 x 449 at the top and from row 450.
        for (int y : {100, 700}) {
            const uint32_t p = At(bare, 200, y);
            EXPECT_TRUE(Green(p) > 150 && Blue(p) > 200) << "the view at row " << y << " is " << Describe(p);
        }
        ImGuiWindow* pause = Window("Pause Menu");
        ASSERT_NE(pause, nullptr) << "the pause menu was not drawn";
        int changed = 0;
        for (int y = int(pause->Pos.y); y < int(pause->Pos.y + pause->Size.y) && y < 900; ++y)
            for (int x = int(pause->Pos.x); x < int(pause->Pos.x + pause->Size.x) && x < 1600; ++x)
                changed += At(bare, x, y) != At(menu, x, y);
        EXPECT_GT(changed, 1000) << "the pause menu left no pixels on screen";
    }
};

TEST_F(LevelCameraTest, AZeroWidthCameraIsRefusedWithOneLineAndEveryOtherViewAndTheMenusDraw) {
    WriteLevel("Observed", 0);
    EngineTest::CaptureLog(true);
    ASSERT_TRUE(Engine::mFactory->LoadLevel("Observed"));
    const std::vector<std::string> log = EngineTest::TakeLog();
    EngineTest::CaptureLog(false);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("level \"Observed\""), std::string::npos) << log[0];
    EXPECT_NE(log[0].find("\"Observer\" Camera"), std::string::npos) << log[0];
    EXPECT_NE(log[0].find("\"width\" must be an integer from 1 to 16384"), std::string::npos) << log[0];
    ASSERT_NE(CameraOf("Observer"), nullptr);
    EXPECT_EQ(CameraOf("Observer")->GetCameraWidth(), 1600u);
    TwoPlayers();
    ExpectViewsAndMenu();
}

// However a camera comes to have no target (here one resized to nothing after loading), the frame
// passes over it.
TEST_F(LevelCameraTest, ACameraWithoutATargetIsPassedOver) {
    WriteLevel("Observed", 800);
    ASSERT_TRUE(Engine::mFactory->LoadLevel("Observed"));
    TwoPlayers();
    Frame();
    for (unsigned width : {0u, Camera::kMaxSide + 1}) {
        SCOPED_TRACE(width);
        CameraOf("Observer")->SetCameraWidth(width);
        ExpectViewsAndMenu();
        Engine::RelayMessage(std::make_shared<ShowMenuMessage>(L"Test", MENU_PAUSE, false));
    }
}

} // namespace
