// The GUI's drawing back end on Direct3D 11 and the per-player HUD. Until the GUI layer exists the
// back end keeps what it is handed and draws nothing.
#pragma once

#include <d3d11.h>
#include <windows.h>

#include <string>

class ResourceHub;

struct GuiBackendState {
    HWND window = nullptr;
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    IDXGISwapChain* swapChain = nullptr;
    LONGLONG ticksPerSecond = 0;
};

// The back end's globals (plain pointers, no references added).
GuiBackendState& GuiBackend();
void ImGuiInit();
void ImGuiNewFrame();
// Binds a render-target view of the back buffer for the GUI pass.
void ImGuiBindBackBuffer();
// Renders the GUI's draw lists through the back end.
void ImGuiRenderFrame();
// Releases the view ImGuiBindBackBuffer made.
void ImGuiReleaseBackBuffer();
void ImGuiInvalidateDeviceObjects();
void ImGuiShutdown();
void ImGuiResetGlobals();

void DrawHud(float left, float top, float width, float height, int keyCards, int powerCells,
             float flareFraction, float sprintLevel, int playerIndex, ResourceHub* hub,
             const std::string& playerName);
