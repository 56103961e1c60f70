// The GUI's drawing back end on Direct3D 11: feeds Dear ImGui the display size, frame time and modifier
// keys, hands its input block to the input system every frame, and renders its draw data with
// "imguishader.fx". One back end per program; game thread only.
#pragma once

#include <d3d11.h>
#include <imgui.h>
#include <windows.h>

#include <string>

struct GuiBackendState {
    // Borrowed from the graphics system: no references are added.
    HWND window = nullptr;
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    IDXGISwapChain* swapChain = nullptr;
    LONGLONG ticksPerSecond = 0;
};

// The back end's borrowed handles and tick rate.
GuiBackendState& GuiBackend();

// Creates the GUI context, reads the first frame's start from the performance counter (false when it
// is unavailable), fills the key map and builds the font atlas.
bool ImGuiInit();
// Opens the GUI frame; device objects are made on the first call (and retried while they are missing).
void ImGuiNewFrame();
bool ImGuiCreateDeviceObjects();
void ImGuiCreateFontsTexture();
void ImGuiInvalidateDeviceObjects();
// Draws the frame's draw data into the bound render target.
void ImGuiRenderDrawLists(ImDrawData* drawData);
// Makes a render-target view of the back buffer (releasing the previous one) and binds it alone.
void ImGuiBindBackBuffer();
// Closes the GUI frame and renders it.
void ImGuiRenderFrame();
// Releases the view ImGuiBindBackBuffer made.
void ImGuiReleaseBackBuffer();
// Destroys the GUI context, when there is one.
void ImGuiShutdown();
// Forgets the borrowed handles and the timing.
void ImGuiResetGlobals();

// The ini file the GUI keeps, and its log file.
constexpr const char* kImGuiIniFile = "..\\..\\Resources\\imgui.ini";
constexpr const char* kImGuiLogFile = "imgui_log.txt";
// The shader file, read from the working directory.
constexpr const wchar_t* kImGuiShaderFile = L"imguishader.fx";
// Vertices the vertex buffer holds at first; it grows when a frame needs more.
constexpr unsigned kImGuiInitialVertices = 30000;
// The arrows move the menus' keyboard navigation, but the menus are clicked: the key that would
// activate a button is mapped to a slot of the key table that no key ever writes (virtual keys stop
// at 255).
constexpr int kImGuiActivateKeySlot = 511;
