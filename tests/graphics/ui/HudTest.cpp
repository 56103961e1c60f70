#include "GuiTestSupport.h"

#include <ui/Hud.h>

#include <cmath>
#include <limits>
#include <set>

namespace {

using guitest::GuiTest;

class HudTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        Frame();
        for (int n = 1; n <= 4; ++n)
            mStats.push_back(MakePlayer(n));
    }
    void TearDown() override {
        SetGuiTextureLookup(nullptr);
        mStats.clear();
        GuiTest::TearDown();
    }
    D3D11_VIEWPORT Viewport(unsigned n) { return Quadrant(n); }
    // The graphics frame's HUD call for each player, in frames of their own.
    void HudFrames(int frames) {
        for (int i = 0; i < frames; ++i)
            GuiFrame([this] {
                for (unsigned n = 1; n <= 4; ++n) {
                    const D3D11_VIEWPORT v = Viewport(n);
                    const PlayerStats& stats = *mStats[n - 1];
                    HudFields hud;
                    hud.left = v.TopLeftX;
                    hud.top = v.TopLeftY;
                    hud.width = v.Width;
                    hud.height = v.Height;
                    hud.keyCards = stats.GetKeyCards();
                    hud.powerCells = stats.GetPowerCells();
                    hud.flareFraction = GraphicsSystem::FlareFraction(stats);
                    hud.sprintFraction = stats.GetSprintLevel();
                    hud.playerIndex = int(n - 1);
                    hud.hub = mGraphics->mHub;
                    hud.prefix = "Player" + std::to_string(n);
                    DrawHud(hud);
                }
            });
    }
    // A GUI frame of its own around `draw`, rendered to draw data but not to pixels.
    template <typename F> ImDrawData* DrawAlone(F draw) {
        ImGuiNewFrame();
        draw();
        ImGui::Render();
        return ImGui::GetDrawData();
    }
    // The length of the run of pixels near `colour` that starts at (x, y) and goes right.
    int RunRight(const std::vector<uint32_t>& pixels, int x, int y, int r, int g, int b) {
        int n = 0;
        while (x + n < 1600 && Near(At(pixels, x + n, y), r, g, b, 2))
            ++n;
        return n;
    }

    std::vector<std::shared_ptr<PlayerStats>> mStats;
};

TEST_F(HudTest, EachQuadrantShowsItsPlayersKeyWindowInThePlayersColour) {
    HudFrames(3);
    const std::vector<uint32_t> pixels = BackBuffer();
    const int expected[4][3] = {{178, 107, 0}, {71, 39, 77}, {93, 103, 62}, {0, 0, 178}};
    for (unsigned n = 1; n <= 4; ++n) {
        const D3D11_VIEWPORT v = Viewport(n);
        const int x = int(v.TopLeftX + v.Width / 2 - 100), y = int(v.TopLeftY);
        ImGuiWindow* window = Window("Player" + std::to_string(n) + "Key Quantity");
        ASSERT_NE(window, nullptr) << n;
        EXPECT_EQ(window->Pos.x, float(x));
        EXPECT_EQ(window->Pos.y, float(y));
        for (const auto& [dx, dy] : {std::pair{3, 3}, std::pair{5, 4}, std::pair{4, 6}}) {
            const uint32_t p = At(pixels, x + dx, y + dy);
            EXPECT_TRUE(Near(p, expected[n - 1][0], expected[n - 1][1], expected[n - 1][2], 2))
                << "player " << n << " at " << x + dx << ", " << y + dy << ": " << Describe(p);
        }
        // The window to its left is the scene's.
        EXPECT_TRUE(Near(At(pixels, x - 3, y + 3), 0, 0, 0, 0)) << Describe(At(pixels, x - 3, y + 3));
        EXPECT_NE(Window("Player" + std::to_string(n) + "PowerCell Quantity"), nullptr);
    }
}

TEST_F(HudTest, SprintBarsMeasureTheirFractionOfTwoHundredPixels) {
    const float fractions[4] = {0.5f, 0.25f, 1.0f, 0.0f};
    for (int i = 0; i < 4; ++i)
        mStats[std::size_t(i)]->SetSprintLevel(fractions[i]);
    HudFrames(3);
    const std::vector<uint32_t> pixels = BackBuffer();
    const int colours[4][3] = {{178, 107, 0}, {71, 39, 77}, {93, 103, 62}, {0, 0, 178}};
    for (unsigned n = 1; n <= 4; ++n) {
        const D3D11_VIEWPORT v = Viewport(n);
        const int x = int(v.TopLeftX + 20), y = int(v.TopLeftY + v.Height - 60);
        // Below the label, right of the border's left edge.
        const int run =
            RunRight(pixels, x + 1, y + 45, colours[n - 1][0], colours[n - 1][1], colours[n - 1][2]);
        EXPECT_NEAR(run + 1, fractions[n - 1] * 200, 1.0) << "player " << n;
        const std::string prefix = "Player" + std::to_string(n);
        EXPECT_EQ(Window(prefix + " Sprint Bar") != nullptr, fractions[n - 1] > 0) << n;
        ImGuiWindow* border = Window(prefix + " Sprint Bar Border");
        ASSERT_NE(border, nullptr) << n;
        EXPECT_EQ(border->Pos.x, float(x));
        EXPECT_EQ(border->Size.x, 200.0f);
    }
}

TEST_F(HudTest, TheFlareBarGrowsLeftwardsFromTheViewportsRightEdge) {
    mStats[0]->flareRechargeTime = 4.0f;
    mStats[0]->SetTimeSinceFlareRecharge(1.0f);
    HudFrames(3);
    const D3D11_VIEWPORT v = Viewport(1);
    ImGuiWindow* bar = Window("Player1 Flare Bar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->Pos.x, v.TopLeftX + v.Width - (50 + 20));
    EXPECT_EQ(bar->Size.x, 50.0f);
    ImGuiWindow* border = Window("Player1 Flare Bar Border");
    ASSERT_NE(border, nullptr);
    EXPECT_EQ(border->Pos.x, v.TopLeftX + v.Width - 220);
}

TEST_F(HudTest, FractionsOutsideZeroToOneAreClampedAndNaNCountsAsZero) {
    const struct {
        float fraction;
        float width; // 0: no bar
    } cases[] = {
        {std::numeric_limits<float>::quiet_NaN(), 0},  {-0.5f, 0},  {2.0f, 200},
        {std::numeric_limits<float>::infinity(), 200}, {0.004f, 0}, {0.5f, 100},
    };
    for (const auto& c : cases) {
        HudFields hud;
        hud.width = 800;
        hud.height = 450;
        hud.sprintFraction = c.fraction;
        hud.flareFraction = c.fraction;
        hud.prefix = "Test";
        for (int frame = 0; frame < 2; ++frame)
            DrawAlone([&] { DrawHud(hud); });
        for (const char* bar : {"Test Sprint Bar", "Test Flare Bar"}) {
            ImGuiWindow* window = Window(bar);
            if (c.width == 0) {
                EXPECT_EQ(window, nullptr) << c.fraction << bar;
            } else {
                ASSERT_NE(window, nullptr) << c.fraction << bar;
                EXPECT_EQ(window->SizeFull.x, c.width) << c.fraction << bar;
            }
        }
    }
}

TEST_F(HudTest, APlayerIndexAboveThreeDrawsNothing) {
    HudFields hud;
    hud.width = 800;
    hud.height = 450;
    hud.playerIndex = 4;
    hud.prefix = "Player5";
    ImDrawData* data = DrawAlone([&] { DrawHud(hud); });
    EXPECT_EQ(data->CmdListsCount, 0);
    EXPECT_EQ(Window("Player5Key Quantity"), nullptr);
}

std::set<ImTextureID> Textures(const ImDrawData* data) {
    std::set<ImTextureID> textures;
    for (int n = 0; n < data->CmdListsCount; ++n)
        for (const ImDrawCmd& cmd : data->CmdLists[n]->CmdBuffer)
            textures.insert(cmd.TextureId);
    return textures;
}

// Three stand-in views by name; any other name is missing.
ID3D11ShaderResourceView* FakeIcon(ResourceHub*, const std::string& name) {
    static char key, cell, fallback;
    if (name == kKeyIcon) return reinterpret_cast<ID3D11ShaderResourceView*>(&key);
    if (name == kPowerCellIcon) return reinterpret_cast<ID3D11ShaderResourceView*>(&cell);
    if (name == "defaulttexture") return reinterpret_cast<ID3D11ShaderResourceView*>(&fallback);
    return nullptr;
}
ID3D11ShaderResourceView* OnlyDefault(ResourceHub* hub, const std::string& name) {
    return name == "defaulttexture" ? FakeIcon(hub, name) : nullptr;
}

TEST_F(HudTest, IconsComeFromTheHubLabelsWithoutOneAndTheDefaultTextureStandsInForAMissingIcon) {
    HudFields hud;
    hud.width = 800;
    hud.height = 450;
    hud.prefix = "P";
    hud.hub = mGraphics->mHub;
    const ImTextureID font = ImGui::GetIO().Fonts->TexID;

    SetGuiTextureLookup(FakeIcon);
    DrawAlone([&] { DrawHud(hud); });
    EXPECT_EQ(Textures(DrawAlone([&] { DrawHud(hud); })),
              (std::set<ImTextureID>{font, FakeIcon(nullptr, kKeyIcon), FakeIcon(nullptr, kPowerCellIcon)}));

    SetGuiTextureLookup(OnlyDefault);
    EXPECT_EQ(Textures(DrawAlone([&] { DrawHud(hud); })),
              (std::set<ImTextureID>{font, FakeIcon(nullptr, "defaulttexture")}));

    // Without the default texture only the counts are drawn; without a hub the labels come back.
    SetGuiTextureLookup(nullptr);
    for (int frame = 0; frame < 2; ++frame)
        DrawAlone([&] { DrawHud(hud); });
    const float countOnly = Window("PKey Quantity")->ContentSize.x;
    hud.hub = nullptr;
    for (int frame = 0; frame < 2; ++frame)
        DrawAlone([&] { DrawHud(hud); });
    const float labelled = Window("PKey Quantity")->ContentSize.x;
    // "Keys: " at font scale 4 is far wider than the count alone.
    EXPECT_GT(labelled, countOnly + 100);
}

} // namespace
