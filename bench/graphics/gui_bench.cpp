// The GUI pass on the CPU rasteriser: four HUDs, four flood warnings and the pause menu, from the
// frame's start to the rendered back buffer; ms per pass.
#include <DXDevice.h>
#include <Engine.h>
#include <d3d11_test_control.h>
#include <resources/ResourceHub.h>
#include <ui/GuiBackend.h>
#include <ui/Hud.h>
#include <ui/Menus.h>

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

void GuiPass(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    // "imguishader.fx" is read from the run directory.
    if (chdir(TORVIK_GUI_RUN_DIR) != 0 || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        state.SkipWithError("no run directory or video");
        return;
    }
    SDL_Window* window = SDL_CreateWindow("gui", 0, 0, 1600, 900, SDL_WINDOW_HIDDEN);
    auto* device = new DXDevice(window, nullptr, nullptr);
    if (!window || !device->InitDevice()) {
        state.SkipWithError("device set-up failed");
        return;
    }
    ResourceHub hub(device, 0);
    if (!device->InitPipeline(&hub)) {
        state.SkipWithError("pipeline set-up failed");
        return;
    }
    GuiBackendState& gui = GuiBackend();
    gui.window = window;
    gui.device = device->GetD3DDevice();
    gui.context = device->GetContext();
    gui.swapChain = device->GetSwapChain();
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    gui.ticksPerSecond = frequency.QuadPart;
    ImGuiInit();
    Menus menus(&hub);
    menus.Show(MENU_PAUSE);

    const auto pass = [&] {
        ImGuiNewFrame();
        for (int n = 0; n < 4; ++n) {
            const float left = float(n % 2) * 800, top = float(n / 2) * 450;
            DrawFloodWarningWindow(FloodWarningCall{800, left, top, "Room is about to flood!"}, n + 1);
        }
        for (int n = 0; n < 4; ++n) {
            HudFields hud;
            hud.left = float(n % 2) * 800;
            hud.top = float(n / 2) * 450;
            hud.width = 800;
            hud.height = 450;
            hud.keyCards = n;
            hud.powerCells = 1;
            hud.flareFraction = 0.6f;
            hud.sprintFraction = 0.8f;
            hud.playerIndex = n;
            hud.hub = &hub;
            hud.prefix = "Player" + std::to_string(n + 1);
            DrawHud(hud);
        }
        menus.Draw();
        device->SetFullWindowViewport();
        ImGuiBindBackBuffer();
        ImGuiRenderFrame();
        ImGuiReleaseBackBuffer();
        // Delivers the frame's relayed input-block message.
        Engine::RunFrames(1, 0.016f);
    };
    // The first frames create the device objects and size the windows.
    for (int i = 0; i < 3; ++i)
        pass();
    d3d11test::ResetDrawCount();
    for (auto _ : state)
        pass();
    state.counters["draws"] = double(d3d11test::DrawCount()) / double(state.iterations());

    ImGuiInvalidateDeviceObjects();
    ImGuiShutdown();
    ImGuiResetGlobals();
    device->ReleaseDevice();
    delete device;
    Engine::Release();
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
BENCHMARK(GuiPass)->Unit(benchmark::kMillisecond);

} // namespace
