#include "GuiTestSupport.h"

#include <GameState.h>
#include <ui/Menus.h>

namespace {

using guitest::GuiTest;

class MenusTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        Menus::SetDrawObserver([this](eMENUTYPE type) {
            mDrawn.push_back({type, GameState::GetMenuState()});
        });
    }
    void TearDown() override {
        Menus::SetDrawObserver({});
        GuiTest::TearDown();
    }
    Menus& TheMenus() { return *mGraphics->mMenus; }
    void Show(eMENUTYPE type, bool visible) {
        Engine::ImmediateMessage(std::make_shared<ShowMenuMessage>(L"Graphics", type, visible));
    }
    std::vector<std::pair<eMENUTYPE, int>> mDrawn;
};

TEST_F(MenusTest, ElevenHiddenRecordsOfTheTypesInOrderShareTheHub) {
    ASSERT_EQ(TheMenus().mRecords.size(), 11u);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(TheMenus().mRecords[std::size_t(i)].type, i);
        EXPECT_FALSE(TheMenus().mRecords[std::size_t(i)].visible);
        EXPECT_EQ(TheMenus().mRecords[std::size_t(i)].resources, mGraphics->mHub);
    }
    Frame();
    EXPECT_TRUE(mDrawn.empty());
}

TEST_F(MenusTest, HidingAllHidesEveryRecordAndAnyOtherTypeOnlyItsOwn) {
    for (int type = 0; type <= 10; ++type)
        Show(eMENUTYPE(type), true);
    Show(MENU_PAUSE, false);
    for (const Menus::Record& r : TheMenus().mRecords)
        EXPECT_EQ(r.visible, r.type != MENU_PAUSE) << r.type;
    Show(eMENUTYPE(11), false);
    Show(eMENUTYPE(13), false);
    EXPECT_TRUE(TheMenus().mRecords[0].visible);
    Show(MENU_ALL, false);
    for (const Menus::Record& r : TheMenus().mRecords)
        EXPECT_FALSE(r.visible) << r.type;
}

TEST_F(MenusTest, EachScreenSetsItsMenuStateBeforeItIsDrawn) {
    const std::pair<eMENUTYPE, int> table[] = {
        {MENU_MAIN, 0},
        {MENU_LOBBY, 1},
        {MENU_OPTIONS, 5},
        {MENU_HOWTOPLAY, 4},
        {MENU_CREDITS, 6},
        {MENU_PAUSE, 2},
        {MENU_CONFIRM_MAIN, 3},
        {MENU_CONFIRM_EXIT, 3},
        {MENU_CONFIRM_RESTART, 3},
        {MENU_RESULTS, 7},
        {MENU_CONFIRM_EXIT_RESULTS, 3},
    };
    for (const auto& [type, state] : table) {
        mDrawn.clear();
        GameState::SetMenuState(99);
        Show(type, true);
        Frame();
        EXPECT_EQ(mDrawn, (std::vector<std::pair<eMENUTYPE, int>>{{type, state}})) << type;
        EXPECT_EQ(GameState::GetMenuState(), state);
        Show(MENU_ALL, false);
    }
}

TEST_F(MenusTest, PauseThenOptionsDrawsBothWithTheOptionsInFront) {
    Show(MENU_PAUSE, true);
    Show(MENU_OPTIONS, true);
    Frame();
    EXPECT_EQ(mDrawn, (std::vector<std::pair<eMENUTYPE, int>>{{MENU_PAUSE, 2}, {MENU_OPTIONS, 5}}));
    // Shown again while visible, the pause screen keeps its place behind.
    Show(MENU_PAUSE, true);
    mDrawn.clear();
    Frame();
    EXPECT_EQ(mDrawn, (std::vector<std::pair<eMENUTYPE, int>>{{MENU_PAUSE, 2}, {MENU_OPTIONS, 5}}));
}

TEST_F(MenusTest, AnUnknownTypeIsReportedAndTheWalkGoesOn) {
    TheMenus().mRecords.insert(TheMenus().mRecords.begin(), Menus::Record{eMENUTYPE(11), true});
    Show(MENU_RESULTS, true);
    ::testing::internal::CaptureStdout();
    Frame();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: Tried to draw unknown menu type in Menus.cpp!"), std::string::npos) << out;
    EXPECT_EQ(mDrawn, (std::vector<std::pair<eMENUTYPE, int>>{{MENU_RESULTS, 7}}));
}

} // namespace
