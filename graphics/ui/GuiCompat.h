// The GUI was written for an older Dear ImGui than the 1.86 we link. The differences that change what
// is drawn, or trip the library's assertions, are bridged here once, for the back end, the HUD and
// the menus alike.
#pragma once

#include <imgui.h>

namespace gui {

// The older release's window flags that still mean the same. Its "show borders" bit (128) is the newer
// release's "no background", so it is never passed: bordered windows push a border size instead.
constexpr ImGuiWindowFlags kNoTitleBar = ImGuiWindowFlags_NoTitleBar;
constexpr ImGuiWindowFlags kNoResize = ImGuiWindowFlags_NoResize;
constexpr ImGuiWindowFlags kNoMove = ImGuiWindowFlags_NoMove;
constexpr ImGuiWindowFlags kNoCollapse = ImGuiWindowFlags_NoCollapse;
constexpr ImGuiWindowFlags kAlwaysAutoResize = ImGuiWindowFlags_AlwaysAutoResize;
constexpr ImGuiWindowFlags kNoSavedSettings = ImGuiWindowFlags_NoSavedSettings;

// The older release drew a window's background at 0.7 of its colour's alpha unless Begin was given one.
constexpr float kDefaultFillAlpha = 0.7f;
constexpr float kDefaultBgAlpha = -1.0f;

// Whether a GUI context exists (the library asserts on almost every call without one).
bool HasContext();

// Begin as the older release took it: a first-use size ((0, 0) for none) and a background alpha that
// multiplies the pushed WindowBg alpha (the default, -1, multiplies by 0.7), at most 1.
bool Begin(const char* name, bool* open, ImVec2 sizeOnFirstUse, float bgAlpha, ImGuiWindowFlags flags);

// The newer release draws a border around every window: push the border size the window asks for
// (1 for the older release's bordered windows, 0 for all others). Pop with ImGui::PopStyleVar().
void PushWindowBorder(bool bordered);

// The check-box colours of the older release.
constexpr ImGuiCol kCheckHovered = ImGuiCol_FrameBgHovered;
constexpr ImGuiCol kCheckActive = ImGuiCol_FrameBgActive;

} // namespace gui
