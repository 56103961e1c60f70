// The GUI tests' world: the window system (SDL offscreen) and the graphics system with its GUI,
// started as the game starts them, in the run directory that holds "imguishader.fx". The clock is
// virtual and keys are fake, so every frame is the same.
#pragma once

#include "../GraphicsTestSupport.h"

#include <DXDevice.h>
#include <FloodWarning.h>
#include <ObjectFactory.h>
#include <ui/GuiBackend.h>
#include <win32_testing.h>
#include <win32_user_testing.h>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace guitest {

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        mOldDirectory = cwd;
        // A run directory of its own, so that tests running side by side never share "imgui.ini".
        mRoot = std::filesystem::temp_directory_path() / ("torvik-gui-" + std::to_string(getpid()));
        const std::filesystem::path run = mRoot / "Bin" / "Release";
        std::filesystem::create_directories(run);
        std::filesystem::create_directories(mRoot / "Resources");
        // The graphics system loads the run-time tree's shaders and textures at start.
        for (const char* folder : {"Shaders", "Textures"})
            std::filesystem::copy(
                std::filesystem::path(TORVIK_RESOURCES) / folder, mRoot / "Resources" / folder,
                std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(std::filesystem::path(TORVIK_GUI_RUN_DIR) / "imguishader.fx",
                                   run / "imguishader.fx", std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(chdir(run.c_str()), 0);
        win32test::UseVirtualClock(1'000'000'000);
        win32usertest::UseFakeInput();
        gfxtest::InstallBoxCounter();
        d3d11test::ClearInjectedFailures();
        mLiveBefore = d3d11test::LiveObjects();
        if (!StartSystems()) return;
        mGraphics = new GraphicsSystem(L"Graphics");
        Engine::AddSystem(mGraphics);
        Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
        Engine::Initialize();
        ASSERT_EQ(mGraphics->mState, 1);
        mDevice = dynamic_cast<DXDevice*>(mGraphics->mDevice);
        ASSERT_NE(mDevice, nullptr);
    }
    void TearDown() override {
        d3d11test::RecordCalls(false);
        Engine::Release();
        WindowSystem::SetMessageBoxFunction({});
        win32usertest::UseRealInput();
        win32test::UseRealClock();
        EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
        ASSERT_EQ(chdir(mOldDirectory.c_str()), 0);
        std::filesystem::remove_all(mRoot);
    }
    // False lets a test add its own systems or failures first.
    virtual bool StartSystems() { return true; }

    // One engine frame, 16 ms after the last.
    void Frame(int frames = 1) {
        for (int i = 0; i < frames; ++i) {
            win32test::AdvanceVirtualClock(16'000'000);
            Engine::RunFrames(1, 0.016f);
        }
    }
    std::vector<uint32_t> BackBuffer() {
        ID3D11Texture2D* back = nullptr;
        EXPECT_EQ(mDevice->GetSwapChain()->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&back)),
                  S_OK);
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        EXPECT_TRUE(d3d11test::ReadPixels(back, pixels, w, h));
        back->Release();
        mBackWidth = w;
        return pixels;
    }
    uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) const {
        return pixels[std::size_t(y) * std::size_t(mBackWidth) + std::size_t(x)];
    }
    static int Red(uint32_t p) { return int(p & 0xFF); }
    static int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
    static int Blue(uint32_t p) { return int((p >> 16) & 0xFF); }
    static bool Near(uint32_t p, int r, int g, int b, int tolerance) {
        return std::abs(Red(p) - r) <= tolerance && std::abs(Green(p) - g) <= tolerance &&
               std::abs(Blue(p) - b) <= tolerance;
    }
    static std::string Describe(uint32_t p) {
        return "(" + std::to_string(Red(p)) + ", " + std::to_string(Green(p)) + ", " +
               std::to_string(Blue(p)) + ")";
    }

    // "Player<n>" with its PlayerStats.
    static std::shared_ptr<PlayerStats> MakePlayer(int n) {
        std::shared_ptr<Object> object = Engine::mFactory->CreateGenericObject().lock();
        object->SetName("Player" + std::to_string(n));
        auto stats = std::make_shared<PlayerStats>();
        EXPECT_TRUE(object->AddComponent(stats));
        return stats;
    }

    // A window of the last frame by name; null when it was not drawn in it.
    static ImGuiWindow* Window(const std::string& name) {
        ImGuiWindow* w = ImGui::FindWindowByName(name.c_str());
        return w && w->Active ? w : nullptr;
    }

    // The player's viewport of a four-player split at 1600 x 900: left, top, width, height.
    static D3D11_VIEWPORT Quadrant(unsigned n) {
        const unsigned i = n - 1;
        return {float(i % 2) * 800.0f, float(i / 2) * 450.0f, 800.0f, 450.0f, 0.0f, 1.0f};
    }

    // One GUI pass as the graphics frame runs it, over a black back buffer, with `draw` in place of
    // the frame's windows.
    template <typename F> void GuiFrame(F draw) {
        win32test::AdvanceVirtualClock(16'000'000);
        ID3D11Texture2D* back = nullptr;
        ASSERT_EQ(mDevice->GetSwapChain()->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&back)),
                  S_OK);
        ID3D11RenderTargetView* rtv = nullptr;
        ASSERT_EQ(mDevice->GetD3DDevice()->CreateRenderTargetView(back, nullptr, &rtv), S_OK);
        back->Release();
        const float black[4] = {0, 0, 0, 1};
        mDevice->GetContext()->ClearRenderTargetView(rtv, black);
        rtv->Release();
        ImGuiNewFrame();
        draw();
        mDevice->SetFullWindowViewport();
        ImGuiBindBackBuffer();
        ImGuiRenderFrame();
        ImGuiReleaseBackBuffer();
    }

    GraphicsSystem* mGraphics = nullptr;
    DXDevice* mDevice = nullptr;
    std::size_t mLiveBefore = 0;
    std::string mOldDirectory;
    std::filesystem::path mRoot;
    int mBackWidth = 1600;
};

} // namespace guitest
