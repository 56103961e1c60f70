#include "GuiTestSupport.h"

#include <EngineTestControl.h>
#include <InputSystem.h>
#include <ui/MenuScreens.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace {

using guitest::GuiTest;

std::map<std::string, int> CreationCounts(const std::vector<d3d11test::Call>& calls) {
    std::map<std::string, int> counts;
    for (const auto& c : calls)
        if (c.name.rfind("Create", 0) == 0) ++counts[c.name];
    return counts;
}

// A draw list of coloured quads in pixels, textured with the font atlas's white texel.
struct QuadList {
    explicit QuadList() : list(ImGui::GetDrawListSharedData()) {}
    void Quad(float x0, float y0, float x1, float y1, ImU32 colour) {
        const ImVec2 uv = ImGui::GetIO().Fonts->TexUvWhitePixel;
        const auto base = ImDrawIdx(list.VtxBuffer.Size);
        for (const ImVec2 p : {ImVec2(x0, y0), ImVec2(x1, y0), ImVec2(x1, y1), ImVec2(x0, y1)})
            list.VtxBuffer.push_back(ImDrawVert{p, uv, colour});
        for (const int i : {0, 1, 2, 0, 2, 3})
            list.IdxBuffer.push_back(ImDrawIdx(base + i));
    }
    // A command over the indices added since the last one.
    void Command(ImVec4 clip) {
        ImDrawCmd cmd;
        cmd.ClipRect = clip;
        cmd.TextureId = ImGui::GetIO().Fonts->TexID;
        cmd.IdxOffset = mIndicesDone;
        cmd.ElemCount = unsigned(list.IdxBuffer.Size) - mIndicesDone;
        mIndicesDone = unsigned(list.IdxBuffer.Size);
        list.CmdBuffer.push_back(cmd);
    }
    ImDrawList list;
    unsigned mIndicesDone = 0;
};

ImDrawData DrawData(std::vector<ImDrawList*>& lists) {
    ImDrawData data;
    data.Valid = true;
    data.CmdLists = lists.data();
    data.CmdListsCount = int(lists.size());
    for (ImDrawList* l : lists) {
        data.TotalVtxCount += l->VtxBuffer.Size;
        data.TotalIdxCount += l->IdxBuffer.Size;
    }
    data.DisplayPos = ImVec2(0, 0);
    data.DisplaySize = ImVec2(1600, 900);
    data.FramebufferScale = ImVec2(1, 1);
    return data;
}

class GuiBackendTest : public GuiTest {
protected:
    // Clears the back buffer to grey and renders the lists into it, as the GUI pass does.
    std::vector<uint32_t> Render(std::vector<ImDrawList*> lists) {
        ID3D11Texture2D* back = nullptr;
        EXPECT_EQ(mDevice->GetSwapChain()->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&back)),
                  S_OK);
        ID3D11RenderTargetView* rtv = nullptr;
        EXPECT_EQ(mDevice->GetD3DDevice()->CreateRenderTargetView(back, nullptr, &rtv), S_OK);
        back->Release();
        const float grey[4] = {0.25f, 0.25f, 0.25f, 1.0f};
        mDevice->GetContext()->ClearRenderTargetView(rtv, grey);
        rtv->Release();
        ImGuiBindBackBuffer();
        ImDrawData data = DrawData(lists);
        ImGuiRenderDrawLists(&data);
        ImGuiReleaseBackBuffer();
        return BackBuffer();
    }
};

TEST_F(GuiBackendTest, TheFirstFrameCreatesTheDeviceObjectsOnceAndLaterFramesOnlyTheirOwn) {
    // A window in every frame, so that every frame draws.
    const auto warnedFrame = [this] {
        DrawFloodWarning(1600, 0, 0, "text");
        Frame();
    };
    d3d11test::RecordCalls(true);
    warnedFrame();
    const auto first = d3d11test::TakeCalls();
    const std::map<std::string, int> expectedFirst = {
        {"CreateBlendState", 1},         {"CreateBuffer", 3},           {"CreateInputLayout", 1},
        {"CreatePixelShader", 1},        {"CreateRenderTargetView", 1}, {"CreateSamplerState", 1},
        {"CreateShaderResourceView", 1}, {"CreateTexture2D", 1},        {"CreateVertexShader", 1},
    };
    EXPECT_EQ(CreationCounts(first), expectedFirst);
    // The shader comes from the working directory, once per entry point.
    int compiles = 0;
    for (const auto& c : first)
        if (c.text.find("imguishader.fx") != std::string::npos) ++compiles;
    EXPECT_GE(compiles, 2);
    // A new window is hidden in its first frame while it sizes itself: nothing was drawn yet.
    for (int i = 0; i < 3; ++i)
        warnedFrame();
    const std::map<std::string, int> expectedLater = {{"CreateRasterizerState", 3},
                                                      {"CreateRenderTargetView", 3}};
    EXPECT_EQ(CreationCounts(d3d11test::TakeCalls()), expectedLater);
}

TEST_F(GuiBackendTest, ThePixelsOfACommandStayInsideItsClipRectangle) {
    Frame();
    QuadList quads;
    // Two full-screen quads, each clipped to its own rectangle.
    quads.Quad(0, 0, 1600, 900, IM_COL32(255, 0, 0, 255));
    quads.Command(ImVec4(100, 100, 200, 150));
    quads.Quad(0, 0, 1600, 900, IM_COL32(0, 0, 255, 255));
    quads.Command(ImVec4(300, 400, 310, 420));
    const std::vector<uint32_t> pixels = Render({&quads.list});
    int red = 0, blue = 0, other = 0;
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1600; ++x) {
            const uint32_t p = At(pixels, x, y);
            const bool inRed = x >= 100 && x < 200 && y >= 100 && y < 150;
            const bool inBlue = x >= 300 && x < 310 && y >= 400 && y < 420;
            if (inRed && Near(p, 255, 0, 0, 0))
                ++red;
            else if (inBlue && Near(p, 0, 0, 255, 0))
                ++blue;
            else if (!inRed && !inBlue && Near(p, 64, 64, 64, 1))
                ++other;
        }
    EXPECT_EQ(red, 100 * 50);
    EXPECT_EQ(blue, 10 * 20);
    EXPECT_EQ(other, 1600 * 900 - 100 * 50 - 10 * 20);
}

TEST_F(GuiBackendTest, AFrameOfFortyThousandVerticesDrawsThemAll) {
    Frame();
    // Two lists of 5,000 one-pixel quads each: 40,000 vertices, more than the first buffer holds.
    QuadList a, b;
    for (int i = 0; i < 5000; ++i) {
        const float x = float(i % 1000), y = float(i / 1000);
        a.Quad(x, y, x + 1, y + 1, IM_COL32(0, 255, 0, 255));
        b.Quad(x, y + 100, x + 1, y + 101, IM_COL32(0, 255, 0, 255));
    }
    a.Command(ImVec4(0, 0, 1600, 900));
    b.Command(ImVec4(0, 0, 1600, 900));
    ASSERT_EQ(a.list.VtxBuffer.Size + b.list.VtxBuffer.Size, 40000);
    const std::vector<uint32_t> pixels = Render({&a.list, &b.list});
    int green = 0;
    for (uint32_t p : pixels)
        if (Near(p, 0, 255, 0, 0)) ++green;
    EXPECT_EQ(green, 10000);
    EXPECT_TRUE(Near(At(pixels, 999, 104), 0, 255, 0, 0));
    EXPECT_TRUE(Near(At(pixels, 0, 105), 64, 64, 64, 1));
}

TEST_F(GuiBackendTest, TheProjectionMapsPixelsOfTheDisplayOntoTheBackBuffer) {
    Frame();
    QuadList quads;
    quads.Quad(1590, 890, 1600, 900, IM_COL32(255, 255, 0, 255));
    quads.Command(ImVec4(0, 0, 1600, 900));
    const std::vector<uint32_t> pixels = Render({&quads.list});
    EXPECT_TRUE(Near(At(pixels, 1590, 890), 255, 255, 0, 0)) << Describe(At(pixels, 1590, 890));
    EXPECT_TRUE(Near(At(pixels, 1599, 899), 255, 255, 0, 0));
    EXPECT_TRUE(Near(At(pixels, 1589, 890), 64, 64, 64, 1));
    EXPECT_TRUE(Near(At(pixels, 1590, 889), 64, 64, 64, 1));
}

TEST_F(GuiBackendTest, AHundredFramesLeaveTheLiveObjectCountFlat) {
    Frame();
    const std::size_t live = d3d11test::LiveObjects();
    Frame(100);
    EXPECT_EQ(d3d11test::LiveObjects(), live);
}

TEST_F(GuiBackendTest, TheKeyMapNamesTheVirtualKeys) {
    const ImGuiIO& io = ImGui::GetIO();
    const std::vector<std::pair<ImGuiKey_, int>> table = {
        {ImGuiKey_Tab, 9},      {ImGuiKey_LeftArrow, 37}, {ImGuiKey_RightArrow, 39},
        {ImGuiKey_UpArrow, 38}, {ImGuiKey_DownArrow, 40}, {ImGuiKey_Home, 36},
        {ImGuiKey_End, 35},     {ImGuiKey_Delete, 46},    {ImGuiKey_Backspace, 8},
        {ImGuiKey_Enter, 13},   {ImGuiKey_Escape, 27},    {ImGuiKey_A, 65},
        {ImGuiKey_C, 67},       {ImGuiKey_V, 86},         {ImGuiKey_X, 88},
        {ImGuiKey_Y, 89},       {ImGuiKey_Z, 90},         {ImGuiKey_Space, kImGuiActivateKeySlot},
    };
    for (const auto& [key, vk] : table)
        EXPECT_EQ(io.KeyMap[key], vk) << key;
    EXPECT_STREQ(io.LogFilename, "imgui_log.txt");
    EXPECT_STREQ(io.IniFilename, "../../Resources/imgui.ini");
    EXPECT_TRUE(io.ConfigFlags & ImGuiConfigFlags_NavEnableKeyboard);
    EXPECT_FALSE(io.MouseDrawCursor);
}

TEST_F(GuiBackendTest, TheInputBlockIsRelayedEveryFrameAndWhatIsWrittenIntoItIsTheGuisNextFrame) {
    gfxtest::Recorder recorder({MessageType::ImGuiReference});
    Frame();
    ASSERT_EQ(recorder.seen.size(), 1u);
    const auto* reference = dynamic_cast<const ImGuiReferenceMessage*>(recorder.seen[0].get());
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(reference->GetSender(), L"Graphics");
    ImGuiIO* io = reference->Get();
    EXPECT_EQ(io, &ImGui::GetIO());
    // Relayed, not delivered at once: the engine holds it until the frame's systems have run.
    ImGuiNewFrame();
    EXPECT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 1u);
    ImGui::EndFrame();
    io->MousePos = ImVec2(321, 123);
    Frame();
    EXPECT_EQ(recorder.seen.size(), 3u);
    EXPECT_EQ(ImGui::GetMousePos().x, 321);
    EXPECT_EQ(ImGui::GetMousePos().y, 123);
}

TEST_F(GuiBackendTest, AClockThatDidNotMoveGivesTheSmallestFrameTimeAndNoAssertion) {
    Frame();
    Engine::RunFrames(1, 0.0f);
    EXPECT_GT(ImGui::GetIO().DeltaTime, 0.0f);
    EXPECT_LE(ImGui::GetIO().DeltaTime, 1e-5f);
}

TEST_F(GuiBackendTest, AWindowWithoutClientAreaDrawsNothing) {
    Frame();
    d3d11test::ResetDrawCount();
    QuadList quads;
    quads.Quad(0, 0, 10, 10, IM_COL32(255, 0, 0, 255));
    quads.Command(ImVec4(0, 0, 10, 10));
    std::vector<ImDrawList*> lists{&quads.list};
    ImDrawData data = DrawData(lists);
    data.DisplaySize = ImVec2(0, 0);
    ImGuiRenderDrawLists(&data);
    EXPECT_EQ(d3d11test::DrawCount(), 0u);
}

// Without "imguishader.fx" there is no GUI, and the game goes on.
class GuiWithoutShaderTest : public GuiTest {
protected:
    bool StartSystems() override {
        EXPECT_TRUE(std::filesystem::remove("imguishader.fx"));
        return true;
    }
};

TEST_F(GuiWithoutShaderTest, TheFramesGoOnWithoutDrawingTheGui) {
    d3d11test::RecordCalls(true);
    Frame(3);
    int draws = 0;
    for (const auto& c : d3d11test::TakeCalls())
        if (c.name == "DrawIndexed" || c.name == "CreateBlendState") ++draws;
    EXPECT_EQ(draws, 0);
    EXPECT_TRUE(ImGui::GetIO().Fonts->IsBuilt());
}

} // namespace

namespace {

// The library would read an empty ini file past its end.
class GuiWithEmptyIniTest : public guitest::GuiTest {
protected:
    bool StartSystems() override {
        std::ofstream(mRoot / "Resources" / "imgui.ini").flush();
        return true;
    }
};

TEST_F(GuiWithEmptyIniTest, StartsWithTheDefaultSettings) {
    DrawFloodWarning(1600, 0, 0, "text");
    Frame(2);
    EXPECT_TRUE(std::filesystem::exists(mRoot / "Resources" / "imgui.ini"));
}

} // namespace

namespace {

// The game's input system beside the GUI: what it writes into the relayed block is the GUI's input.
class GuiWithInputTest : public guitest::GuiTest {
protected:
    bool StartSystems() override {
        Engine::AddSystem(new InputSystem(L"Input"));
        return true;
    }
};

TEST_F(GuiWithInputTest, AMouseMoveAndAKeyReachTheGuiThroughTheInputSystem) {
    // The first frame relays the block; the input system keeps it for its next event pump.
    Frame();
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 321;
    motion.motion.y = 123;
    ASSERT_EQ(SDL_PushEvent(&motion), 1);
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.scancode = SDL_SCANCODE_DOWN;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    Frame(2);
    EXPECT_EQ(ImGui::GetIO().MousePos.x, 321.0f);
    EXPECT_EQ(ImGui::GetIO().MousePos.y, 123.0f);
    EXPECT_TRUE(ImGui::IsKeyDown(ImGui::GetKeyIndex(ImGuiKey_DownArrow)));
}

// The pause menu's "Options" clicked through SDL's events: `held` frames between press and release,
// 0 when both arrive in one event pump (a fast finger or a touchpad tap).
class GuiClickTest : public GuiWithInputTest {
protected:
    int ClicksOnOptions(int held) {
        Engine::ImmediateMessage(std::make_shared<ShowMenuMessage>(L"Test", MENU_PAUSE, true));
        Frame(6);
        const auto& rects = MenuWidgetRects();
        EXPECT_EQ(rects.count("Options"), 1u);
        if (!rects.count("Options")) return -1;
        const MenuWidgetRect r = rects.at("Options");
        gfxtest::Recorder recorder({MessageType::ShowMenu});
        SDL_Event motion{};
        motion.type = SDL_MOUSEMOTION;
        motion.motion.x = int((r.min.x + r.max.x) / 2);
        motion.motion.y = int((r.min.y + r.max.y) / 2);
        EXPECT_EQ(SDL_PushEvent(&motion), 1);
        SDL_Event button{};
        button.type = SDL_MOUSEBUTTONDOWN;
        button.button.button = SDL_BUTTON_LEFT;
        button.button.state = SDL_PRESSED;
        button.button.x = motion.motion.x;
        button.button.y = motion.motion.y;
        EXPECT_EQ(SDL_PushEvent(&button), 1);
        Frame(held);
        button.type = SDL_MOUSEBUTTONUP;
        button.button.state = SDL_RELEASED;
        EXPECT_EQ(SDL_PushEvent(&button), 1);
        Frame(4);
        int clicks = 0;
        for (const auto& show : recorder.TakeOf<ShowMenuMessage>(MessageType::ShowMenu))
            clicks += show->GetType() == MENU_OPTIONS && show->IsVisible();
        return clicks;
    }
};

TEST_F(GuiClickTest, APressAndReleaseInOneEventPumpClickOnce) {
    EXPECT_EQ(ClicksOnOptions(0), 1);
}

TEST_F(GuiClickTest, APressHeldOverSeveralFramesClicksOnce) {
    EXPECT_EQ(ClicksOnOptions(5), 1);
}

} // namespace
