#include "GraphicsTestSupport.h"

#include <DXDevice.h>
#include <ObjectFactory.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::string> Names(const std::vector<d3d11test::Call>& calls) {
    std::vector<std::string> names;
    for (const auto& c : calls)
        names.push_back(c.name);
    return names;
}

const d3d11test::Call* Find(const std::vector<d3d11test::Call>& calls, const std::string& name, int nth = 1) {
    for (const auto& c : calls)
        if (c.name == name && --nth == 0) return &c;
    return nullptr;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The game's window and graphics systems, with the device up.
class DeviceResizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        gfxtest::InstallBoxCounter();
        mGraphics = new GraphicsSystem(L"Graphics");
        Engine::AddSystem(mGraphics);
        Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
        Engine::Initialize();
        ASSERT_EQ(mGraphics->mState, 1);
        mDevice = dynamic_cast<DXDevice*>(mGraphics->mDevice);
        ASSERT_NE(mDevice, nullptr);
        d3d11test::RecordCalls(true);
    }
    void TearDown() override {
        d3d11test::RecordCalls(false);
        Engine::Release();
        WindowSystem::SetMessageBoxFunction({});
    }
    void SizeChanged(int w, int h) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
        e.window.data1 = w;
        e.window.data2 = h;
        Engine::ImmediateMessage(std::make_shared<SDLEventMessage>(L"Input", e));
    }
    UINT BufferCount() {
        DXGI_SWAP_CHAIN_DESC d{};
        mDevice->GetSwapChain()->GetDesc(&d);
        return d.BufferCount;
    }

    GraphicsSystem* mGraphics = nullptr;
    DXDevice* mDevice = nullptr;
};

TEST_F(DeviceResizeTest, ASizeChangeResizesDepthAndBackBuffers) {
    EXPECT_EQ(BufferCount(), 2u);
    d3d11test::TakeCalls();
    SizeChanged(1280, 720);
    const auto calls = d3d11test::TakeCalls();
    EXPECT_EQ(Names(calls), (std::vector<std::string>{"RSSetViewports", "CreateTexture2D",
                                                      "CreateDepthStencilView", "ResizeBuffers", "GetBuffer",
                                                      "CreateRenderTargetView", "OMSetRenderTargets"}));
    EXPECT_EQ(std::vector<double>(calls[1].args.begin(), calls[1].args.begin() + 5),
              (std::vector<double>{1280, 720, 1, 1, 45}));
    EXPECT_EQ(calls[3].args, (std::vector<double>{1, 1280, 720, 28, 2}));
    EXPECT_EQ(calls[5].args[1], -1); // no description
    EXPECT_EQ(mDevice->GetWidth(), 1280);
    EXPECT_EQ(mDevice->GetHeight(), 720);
    EXPECT_EQ(BufferCount(), 1u);
    // The frame still presents at the new size.
    EXPECT_EQ(Engine::RunFrames(1, 1 / 60.f), 1);
    EXPECT_NE(Find(d3d11test::TakeCalls(), "Present"), nullptr);
}

TEST_F(DeviceResizeTest, SizesThatCannotBeMadeFailTwiceAndKeepTheStoredSize) {
    for (const auto& [w, h] :
         {std::pair{0, 720}, std::pair{1280, 0}, std::pair{20000, 900}, std::pair{-5, 900}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        testing::internal::CaptureStdout();
        EXPECT_EQ(mDevice->Resize(unsigned(w), unsigned(h)), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        // Both tries of the depth buffer print the platform's answer.
        EXPECT_EQ(Count(out, "The parameter is incorrect."), 2) << out;
        EXPECT_EQ(mDevice->GetWidth(), 1600);
        EXPECT_EQ(mDevice->GetHeight(), 900);
    }
    // The next real size lays everything out again, and frames go on.
    SizeChanged(1024, 768);
    EXPECT_EQ(mDevice->GetWidth(), 1024);
    EXPECT_EQ(Engine::RunFrames(2, 1 / 60.f), 2);
}

TEST_F(DeviceResizeTest, LeavingAndEnteringFullScreen) {
    ASSERT_TRUE(mDevice->IsFullscreen());
    Engine::ImmediateMessage(std::make_shared<FullScreenMessage>(L"Menus", false));
    auto calls = d3d11test::TakeCalls();
    EXPECT_FALSE(mDevice->IsFullscreen());
    EXPECT_FALSE(Controller::isFullscreened);
    const auto* leave = Find(calls, "SetFullscreenState");
    ASSERT_NE(leave, nullptr);
    EXPECT_EQ(leave->args[0], 0);
    // The window system's answer (the window is 1600 x 900) sizes the buffers, then the target is asked for.
    const auto* resize = Find(calls, "ResizeBuffers");
    ASSERT_NE(resize, nullptr);
    EXPECT_EQ(resize->args, (std::vector<double>{1, 1600, 900, 28, 2}));
    const auto* target = Find(calls, "ResizeTarget");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->args, (std::vector<double>{1600, 900, 60, 1, 28, 0, 0}));
    EXPECT_LT(resize, target);

    Engine::ImmediateMessage(std::make_shared<FullScreenMessage>(L"Menus", true));
    calls = d3d11test::TakeCalls();
    EXPECT_TRUE(mDevice->IsFullscreen());
    EXPECT_TRUE(Controller::isFullscreened);
    EXPECT_EQ(Names(calls),
              (std::vector<std::string>{
                  "GetContainingOutput", "GetDisplayModeList", "GetDisplayModeList", "ResizeTarget",
                  "RSSetViewports", "CreateTexture2D", "CreateDepthStencilView", "ResizeBuffers", "GetBuffer",
                  "CreateRenderTargetView", "OMSetRenderTargets", "SetFullscreenState", "ResizeTarget"}));
    // The largest mode of the ascending list, first at its refresh rate, then at 0/0 in full screen.
    EXPECT_EQ(std::vector<double>(calls[3].args.begin(), calls[3].args.begin() + 4),
              (std::vector<double>{1920, 1080, 60, 1}));
    EXPECT_EQ(calls[7].args, (std::vector<double>{1, 1920, 1080, 28, 2}));
    EXPECT_EQ(calls[11].args[0], 1);
    EXPECT_EQ(std::vector<double>(calls[12].args.begin(), calls[12].args.begin() + 4),
              (std::vector<double>{1920, 1080, 0, 0}));
    EXPECT_EQ(mDevice->GetWidth(), 1920);
}

// Where the window is on the display, and the device's size, once the window's events have reached
// the graphics system as the input system's pump hands them on.
std::string Placement(SDL_Window* window, DXDevice* device) {
    SDL_Event event;
    while (SDL_PollEvent(&event))
        Engine::ImmediateMessage(std::make_shared<SDLEventMessage>(L"Input", event));
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window, &x, &y);
    SDL_GetWindowSize(window, &w, &h);
    return "window " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
           std::to_string(h) + ", device " + std::to_string(device->GetWidth()) + "x" +
           std::to_string(device->GetHeight());
}

TEST_F(DeviceResizeTest, FullScreenCoversExactlyTheDisplayAndLeavingItPutsTheWindowBack) {
    auto* window = static_cast<SDL_Window*>(mGraphics->mWindow);
    SDL_Rect display{};
    ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &display), 0);
    const std::string covering = "window " + std::to_string(display.x) + "," + std::to_string(display.y) +
                                 " " + std::to_string(display.w) + "x" + std::to_string(display.h) +
                                 ", device " + std::to_string(display.w) + "x" + std::to_string(display.h);
    const std::string windowed = "window 100,100 1600x900, device 1600x900";
    // The game starts with the full-screen flag set: the options' box leaves it first.
    Engine::ImmediateMessage(std::make_shared<FullScreenMessage>(L"ImGui", false));
    EXPECT_EQ(Placement(window, mDevice), windowed);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Engine::ImmediateMessage(std::make_shared<FullScreenMessage>(L"ImGui", true));
        EXPECT_EQ(Placement(window, mDevice), covering);
        EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN);
        Engine::ImmediateMessage(std::make_shared<FullScreenMessage>(L"ImGui", false));
        EXPECT_EQ(Placement(window, mDevice), windowed);
    }
}

TEST_F(DeviceResizeTest, SetFullscreenAloneChangesNoSwapChainState) {
    EXPECT_FALSE(mDevice->SetFullscreen(false));
    EXPECT_TRUE(mDevice->SetFullscreen(true));
    EXPECT_TRUE(d3d11test::TakeCalls().empty());
    EXPECT_FLOAT_EQ(mDevice->GetAspectRatio(), 16.0f / 9.0f);
    SizeChanged(900, 1600);
    EXPECT_FLOAT_EQ(mDevice->GetAspectRatio(), 16.0f / 9.0f);
}

TEST_F(DeviceResizeTest, RenderablesAreAddedWithoutDuplicateTestAndRemovedOneAtATime) {
    const auto object = Engine::mFactory->CreateGenericObject();
    const auto renderable =
        std::static_pointer_cast<Renderable>(Engine::mFactory->GiveObjectComponent(object, "Renderable"));
    auto other = std::make_shared<Renderable>();
    struct Step {
        bool add;
        std::shared_ptr<Renderable> item;
        std::size_t size;
    };
    mDevice->mRenderables.clear();
    for (const Step& s : {Step{false, renderable, 0}, Step{true, renderable, 1}, Step{true, renderable, 2},
                          Step{false, other, 2}, Step{false, renderable, 1}, Step{false, renderable, 0}}) {
        if (s.add)
            mDevice->AddRenderable(s.item);
        else
            mDevice->RemoveRenderable(s.item);
        EXPECT_EQ(mDevice->mRenderables.size(), s.size);
    }
    const auto debug =
        std::static_pointer_cast<Debug>(Engine::mFactory->GiveObjectComponent(object, "Debug"));
    mDevice->mDebugObjects.clear();
    mDevice->AddDebugObject(debug);
    mDevice->AddDebugObject(debug);
    mDevice->RemoveDebugObject(debug);
    EXPECT_EQ(mDevice->mDebugObjects.size(), 1u);
}

} // namespace
