#include "GraphicsTestSupport.h"

#include <DXDevice.h>
#include <EngineTestControl.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using gfxtest::Recorder;

namespace {

std::vector<d3d11test::Call> Named(const std::vector<d3d11test::Call>& calls, const std::string& name) {
    std::vector<d3d11test::Call> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&name](const d3d11test::Call& c) { return c.name == name; });
    return out;
}

// The window system (SDL offscreen) and the graphics system, started as the game starts them.
class GraphicsSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        gfxtest::InstallBoxCounter();
        d3d11test::ClearInjectedFailures();
        mLiveBefore = d3d11test::LiveObjects();
        mGraphics = new GraphicsSystem(L"Graphics");
        Engine::AddSystem(mGraphics);
        Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
    }
    void TearDown() override {
        Engine::Release();
        d3d11test::RecordCalls(false);
        WindowSystem::SetMessageBoxFunction({});
    }

    GraphicsSystem* mGraphics = nullptr;
    std::size_t mLiveBefore = 0;
};

TEST_F(GraphicsSystemTest, WindowMessageBuildsTheDeviceInItsOrder) {
    d3d11test::RecordCalls(true);
    Engine::Initialize();
    ASSERT_EQ(mGraphics->mState, 1);
    const std::vector<d3d11test::Call> calls = d3d11test::TakeCalls();

    std::vector<std::string> names;
    for (const auto& c : calls)
        names.push_back(c.name);
    const std::vector<std::string> expected = {"D3D11CreateDeviceAndSwapChain",
                                               "GetParent",
                                               "MakeWindowAssociation",
                                               "EnumAdapters",
                                               "EnumOutputs",
                                               "GetDisplayModeList",
                                               "GetDisplayModeList",
                                               "GetDesc",
                                               "CreateTexture2D",
                                               "CreateDepthStencilView",
                                               "CreateRasterizerState",
                                               "CreateRasterizerState",
                                               "RSSetState",
                                               "GetDesc",
                                               "GetBuffer",
                                               "CreateRenderTargetView",
                                               "OMSetRenderTargets",
                                               "CreateBuffer",
                                               "CreateBuffer",
                                               "CreateBuffer",
                                               "CreateBuffer",
                                               "IASetPrimitiveTopology",
                                               "CreateBlendState",
                                               "RSSetViewports"};
    ASSERT_EQ(names, expected);

    // Swap chain 1600 x 900 at 60/1, format 28, two buffers, full screen (Windowed FALSE), mode switch.
    const auto& create = calls[0].args;
    EXPECT_EQ(create[1], 1); // hardware
    EXPECT_EQ(create[3], 7); // SDK version
    EXPECT_EQ(std::vector<double>(create.begin() + 4, create.begin() + 9),
              (std::vector<double>{1600, 900, 60, 1, 28}));
    EXPECT_EQ(create[13], 0x20);
    EXPECT_EQ(create[14], 2);
    EXPECT_EQ(create[15], double(reinterpret_cast<uintptr_t>(mGraphics->mWindow)));
    EXPECT_EQ(create[16], 0); // Windowed FALSE
    EXPECT_EQ(create[18], 2);
    EXPECT_EQ(std::vector<double>(create.end() - 7, create.end()),
              (std::vector<double>{6, 0xb000, 0xa100, 0xa000, 0x9300, 0x9200, 0x9100}));
    EXPECT_EQ(calls[2].args[1], 2);                               // no Alt+Enter
    EXPECT_EQ(calls[5].args, (std::vector<double>{28, 1, 0, 0})); // the count first
    EXPECT_EQ(calls[6].args[3], 1);                               // then the list
    EXPECT_EQ(calls[7].text, "IDXGIAdapter");
    EXPECT_EQ(std::vector<double>(calls[8].args.begin(), calls[8].args.begin() + 9),
              (std::vector<double>{1600, 900, 1, 1, 45, 1, 0, 0, 0x40}));
    EXPECT_EQ(calls[10].args, (std::vector<double>{3, 3, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(calls[11].args, (std::vector<double>{3, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(calls[16].args[0], 1);
    EXPECT_NE(calls[16].args[2], 0); // with the depth view
    for (int i = 0; i < 4; ++i) {
        const double bytes[] = {352, 208, 12800, 10256};
        EXPECT_EQ(calls[17 + i].args, (std::vector<double>{bytes[i], 0, 4, 0, 0, 0}));
    }
    EXPECT_EQ(calls[21].args[0], 4);
    const auto& blend = calls[22].args;
    EXPECT_EQ(std::vector<double>(blend.begin(), blend.begin() + 10),
              (std::vector<double>{0, 1, 1, 5, 6, 1, 1, 1, 1, 0x0F}));
    EXPECT_TRUE(std::all_of(blend.begin() + 10, blend.end(), [](double v) { return v == 0; }));
    EXPECT_EQ(calls[23].args, (std::vector<double>{1, 0, 0, 1600, 900, 0, 1}));

    auto* device = dynamic_cast<DXDevice*>(mGraphics->mDevice);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsFullscreen());
    EXPECT_EQ(device->GetDisplayModes().size(), 5u);
    EXPECT_EQ(device->GetVideoMemoryMiB(), 256u);
    EXPECT_STREQ(device->GetVideoCardName(), "Torvik CPU rasteriser");
    const float* background = device->GetBackgroundColor();
    EXPECT_FLOAT_EQ(background[1], 0.784f);
}

TEST_F(GraphicsSystemTest, FramesPresentTheClearedBackBufferAndASecondWindowMakesNoDevice) {
    Engine::Initialize();
    ASSERT_EQ(mGraphics->mState, 1);
    auto* window = static_cast<SDL_Window*>(mGraphics->mWindow);
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    ASSERT_NE(surface, nullptr);
    auto pixel = [&](int x, int y) {
        Uint8 r, g, b;
        SDL_GetRGB(static_cast<Uint32*>(surface->pixels)[y * surface->pitch / 4 + x], surface->format, &r, &g,
                   &b);
        return (r << 16) | (g << 8) | b;
    };
    ASSERT_EQ(pixel(800, 450), 0xFFFFFF); // the window system's white

    d3d11test::RecordCalls(true);
    Engine::RelayMessage(std::make_shared<WindowMessage>(L"Window", mGraphics->mWindow, nullptr));
    EXPECT_EQ(Engine::RunFrames(3, 1 / 60.f), 3);
    const auto calls = d3d11test::TakeCalls();
    EXPECT_TRUE(Named(calls, "D3D11CreateDeviceAndSwapChain").empty());
    const auto presents = Named(calls, "Present");
    ASSERT_EQ(presents.size(), 3u);
    for (const auto& p : presents)
        EXPECT_EQ(p.args, (std::vector<double>{1, 0}));
    surface = SDL_GetWindowSurface(window);
    EXPECT_EQ(pixel(0, 0), 0);
    EXPECT_EQ(pixel(800, 450), 0);
    EXPECT_EQ(pixel(1599, 899), 0);
}

TEST_F(GraphicsSystemTest, ReleaseLeavesNoDirect3DObjectAndNoListener) {
    Engine::Initialize();
    ASSERT_EQ(mGraphics->mState, 1);
    Engine::RunFrames(2, 1 / 60.f);
    ASSERT_GT(d3d11test::LiveObjects(), mLiveBefore);
    d3d11test::RecordCalls(true);
    EXPECT_EQ(mGraphics->Release(), 0);
    const auto calls = d3d11test::TakeCalls();
    EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
    // Windowed again before the swap chain goes.
    const auto leave = std::find_if(calls.begin(), calls.end(), [](const d3d11test::Call& c) {
        return c.name == "SetFullscreenState" && c.args[0] == 0;
    });
    const auto gone = std::find_if(calls.begin(), calls.end(),
                                   [](const d3d11test::Call& c) { return c.name == "SwapChainDestroyed"; });
    ASSERT_NE(leave, calls.end());
    ASSERT_NE(gone, calls.end());
    EXPECT_LT(leave, gone);
    for (MessageType type :
         {MessageType::Window, MessageType::CreatedComponent, MessageType::LoadResource,
          MessageType::ClearResources, MessageType::DestroyedComponent, MessageType::Debug,
          MessageType::NoEffect, MessageType::SDLEvent, MessageType::RegisterCamera,
          MessageType::ChangePlayerMode, MessageType::SetBackgroundColor, MessageType::ShowMenu,
          MessageType::FullScreen, MessageType::HasKeyboardFocus, MessageType::ViewportRequest})
        EXPECT_EQ(EngineTest::ListenerCount(type), 0u) << MessageTypeName(type);
}

// Failures of the device's set-up, without a window system: the reports are captured, not shown.
struct FailureCase {
    const char* call;
    unsigned nth;
    const char* text;
    const char* function;
    // What the graphics system adds after the device's own report, if anything.
    const char* systemText;
};

class DeviceFailureTest : public ::testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
        mWindow = SDL_CreateWindow("Torvik", 100, 100, 1600, 900, 0);
        ASSERT_NE(mWindow, nullptr);
        mLiveBefore = d3d11test::LiveObjects();
    }
    void TearDown() override {
        d3d11test::ClearInjectedFailures();
        d3d11test::SetMaxFeatureLevel(D3D_FEATURE_LEVEL_11_0);
        SDL_DestroyWindow(mWindow);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        Engine::Release();
    }

    SDL_Window* mWindow = nullptr;
    std::size_t mLiveBefore = 0;
};

TEST_P(DeviceFailureTest, ReportsTheStepAndLeavesTheSystemNotReady) {
    const FailureCase& c = GetParam();
    Recorder errors({MessageType::Error});
    GraphicsSystem graphics(L"Graphics");
    graphics.Initialize();
    d3d11test::FailNthCall(c.call, c.nth, E_INVALIDARG);
    testing::internal::CaptureStdout();
    Engine::ImmediateMessage(std::make_shared<WindowMessage>(L"Window", mWindow, nullptr));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(graphics.mState, 0);

    std::vector<std::string> expected;
    if (*c.text) expected.push_back(c.text);
    if (*c.systemText) expected.push_back(c.systemText);
    expected.push_back("Error: Graphics failed to initialize the device!");
    EXPECT_EQ(errors.ErrorTexts(), expected);
    ASSERT_FALSE(errors.seen.empty());
    const auto* first = dynamic_cast<const ErrorMessage*>(errors.seen.front().get());
    EXPECT_EQ(first->GetFunctionName(), c.function);
    EXPECT_TRUE(first->GetIsFatal());
    EXPECT_EQ(first->GetSender(), L"Error Message");
    // Steps without a report of their own print the failing call's result.
    if (!*c.text) {
        EXPECT_EQ(out, "The parameter is incorrect.\n");
    }
    graphics.Release();
    EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
}

constexpr const char* kInit = "DXDevice::InitDevice";
constexpr const char* kFactory = "DXDevice::InitIDXGIFactory";
constexpr const char* kSystem = "GraphicsSystem::InitializeDevice";

INSTANTIATE_TEST_SUITE_P(
    EachStep, DeviceFailureTest,
    ::testing::Values(FailureCase{"D3D11CreateDeviceAndSwapChain", 1, "Failed to create the SwapChain", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"GetParent", 1, "The IDXGI Factory failed to be gotten", kFactory,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"MakeWindowAssociation", 1, "Failed to make the window association",
                                  kFactory, "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"EnumAdapters", 1, "Failed to enumerate the adapters", kFactory,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"EnumOutputs", 1, "Failed to enumerate the monitors", kFactory,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"GetDisplayModeList", 1, "Failed to get the number of display modes",
                                  kFactory, "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"GetDisplayModeList", 2, "Failed to get the display mode list", kFactory,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"GetDesc", 1, "Failed to Get the description of the Video Card", kFactory,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateTexture2D", 1, "Failed to create the depth/stencil Buffer", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateDepthStencilView", 1, "Failed to create the depth/stencil view",
                                  kInit, "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"GetBuffer", 1, "Failed to Get the back buffer", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateRenderTargetView", 1, "Failed to Create the render targer view",
                                  kInit, "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateBuffer", 1, "", kSystem, "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateBuffer", 2, "Failed to Create The Matrix Buffer", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateBuffer", 3, "Failed to Create The Skinned Buffer", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateBuffer", 4, "Failed to Create The Lighting Buffer", kInit,
                                  "ERROR: DEVICE NOT INITIALIZED!"},
                      FailureCase{"CreateBlendState", 1, "", kSystem, "ERROR: SCENE NOT INITIALIZED!"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        return std::string(info.param.call) + "_" + std::to_string(info.param.nth);
    });

TEST_F(DeviceFailureTest, ACardBelowElevenReportsThatItIsNotFullySupported) {
    d3d11test::SetMaxFeatureLevel(D3D_FEATURE_LEVEL_10_1);
    Recorder errors({MessageType::Error});
    GraphicsSystem graphics(L"Graphics");
    graphics.Initialize();
    Engine::ImmediateMessage(std::make_shared<WindowMessage>(L"Window", mWindow, nullptr));
    EXPECT_EQ(
        errors.ErrorTexts(),
        std::vector<std::string>{"Error: Graphics Card is not fully supported!\nGame will be unplayable!"});
    auto* device = dynamic_cast<DXDevice*>(graphics.mDevice);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetFeatureLevel(), D3D_FEATURE_LEVEL_10_1);
    graphics.Release();
    EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
}

// With the real window system a failed start-up ends the process after the report's box.
void StartGameWithFailingDevice(bool nullWindow) {
    gfxtest::InstallBoxCounter();
    if (!nullWindow) d3d11test::FailNextCall("D3D11CreateDeviceAndSwapChain", E_FAIL);
    Engine::AddSystem(new GraphicsSystem(L"Graphics"));
    Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
    // Relayed before start-up, this message without a handle is delivered before the window's own.
    if (nullWindow) Engine::RelayMessage(std::make_shared<WindowMessage>(L"Window", nullptr, nullptr));
    Engine::Initialize();
    std::exit(0);
}

TEST(GraphicsSystemDeathTest, AFailedDeviceEndsTheGameWithTheFatalStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(StartGameWithFailingDevice(false), ::testing::ExitedWithCode(242), "");
    EXPECT_EXIT(StartGameWithFailingDevice(true), ::testing::ExitedWithCode(242), "");
}

TEST(FlareFraction, ANonPositiveOrNonFiniteRechargeTimeGivesAFullBar) {
    struct Case {
        float recharge;
        float since;
        float fraction;
    };
    const Case cases[] = {{5.0f, 2.5f, 0.5f},
                          {5.0f, 0.0f, 0.0f},
                          {0.0f, 2.0f, 1.0f},
                          {-1.0f, 2.0f, 1.0f},
                          {std::numeric_limits<float>::infinity(), 2.0f, 1.0f},
                          {std::numeric_limits<float>::quiet_NaN(), 2.0f, 1.0f}};
    for (const Case& c : cases) {
        PlayerStats stats;
        stats.flareRechargeTime = c.recharge;
        stats.SetTimeSinceFlareRecharge(c.since);
        EXPECT_FLOAT_EQ(GraphicsSystem::FlareFraction(stats), c.fraction) << c.recharge;
    }
}

} // namespace
