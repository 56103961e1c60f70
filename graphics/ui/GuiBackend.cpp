#include "GuiBackend.h"

GuiBackendState& GuiBackend() {
    static GuiBackendState state;
    return state;
}

void ImGuiInit() {}
void ImGuiNewFrame() {}
void ImGuiBindBackBuffer() {}
void ImGuiRenderFrame() {}
void ImGuiReleaseBackBuffer() {}
void ImGuiInvalidateDeviceObjects() {}
void ImGuiShutdown() {}
void ImGuiResetGlobals() {
    GuiBackend() = GuiBackendState{};
}

void DrawHud(float, float, float, float, int, int, float, float, int, ResourceHub*, const std::string&) {}
