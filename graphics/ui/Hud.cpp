#include "Hud.h"

#include "GuiCompat.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

GuiTextureLookup& Lookup() {
    static GuiTextureLookup lookup = nullptr;
    return lookup;
}

struct PlayerColours {
    ImVec4 background;
    ImVec4 border;
};

const PlayerColours kPlayerColours[4] = {
    {{1.0f, 0.6f, 0.0f, 1.0f}, {0.8f, 0.48f, 0.0f, 1.0f}},
    {{0.4f, 0.22f, 0.43f, 1.0f}, {0.32f, 0.18f, 0.34f, 1.0f}},
    {{0.52f, 0.58f, 0.35f, 1.0f}, {0.42f, 0.46f, 0.28f, 1.0f}},
    {{0.0f, 0.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.8f, 1.0f}},
};

const ImVec4 kWhiteText{1.0f, 1.0f, 1.0f, 2.0f};
constexpr ImGuiWindowFlags kCountFlags =
    gui::kNoTitleBar | gui::kNoMove | gui::kNoCollapse | gui::kAlwaysAutoResize | gui::kNoSavedSettings;
constexpr ImGuiWindowFlags kBarFlags =
    gui::kNoTitleBar | gui::kNoResize | gui::kNoMove | gui::kNoCollapse | gui::kNoSavedSettings;

constexpr float kCountFontScale = 4.0f;
constexpr float kIconSize = 45.0f;

// The count windows size themselves to their contents (a line at their font scale, or the icon) and
// are at least 50 pixels tall.
float CountWindowHeight() {
    const ImGuiStyle& style = ImGui::GetStyle();
    const float content = std::max(ImGui::GetFont()->FontSize * kCountFontScale, kIconSize);
    return std::max(50.0f, content + 2 * style.WindowPadding.y);
}

float Fraction(float f) {
    return std::isnan(f) ? 0.0f : std::clamp(f, 0.0f, 1.0f);
}

void CountWindow(const HudFields& hud, const char* suffix, float x, const char* icon, const char* label,
                 int count) {
    gui::PushWindowBorder(true);
    gui::Begin((hud.prefix + suffix).c_str(), nullptr, ImVec2(0, 0), gui::kDefaultBgAlpha, kCountFlags);
    ImGui::SetWindowPos(ImVec2(x, hud.top));
    ImGui::SetWindowSize(ImVec2(100, 50));
    ImGui::SetWindowFontScale(kCountFontScale);
    if (hud.hub) {
        if (ID3D11ShaderResourceView* view = GuiTexture(hud.hub, icon))
            ImGui::Image(static_cast<ImTextureID>(view), ImVec2(kIconSize, kIconSize), ImVec2(0, 0),
                         ImVec2(1, 1), ImVec4(1, 1, 1, 1), ImVec4(1, 1, 1, 0));
    } else {
        ImGui::TextColored(kWhiteText, "%s", label);
    }
    ImGui::SameLine();
    ImGui::TextColored(kWhiteText, "%d", count);
    ImGui::End();
    ImGui::PopStyleVar();
}

// A filled bar; one narrower than a pixel is not drawn (the library would size it to fit instead).
void Bar(const std::string& name, float x, float y, float width) {
    if (!(width >= 1.0f)) return;
    gui::PushWindowBorder(false);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowMinSize, ImVec2(1, 1));
    gui::Begin(name.c_str(), nullptr, ImVec2(0, 0), gui::kDefaultBgAlpha, kBarFlags);
    ImGui::SetWindowPos(ImVec2(x, y));
    ImGui::SetWindowSize(ImVec2(width, 50));
    ImGui::End();
    ImGui::PopStyleVar(2);
}

void BarBorder(const std::string& name, float x, float y, const char* label) {
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImVec4(1, 1, 1, 0));
    gui::PushWindowBorder(true);
    gui::Begin(name.c_str(), nullptr, ImVec2(0, 0), gui::kDefaultBgAlpha, kBarFlags);
    ImGui::SetWindowPos(ImVec2(x, y));
    ImGui::SetWindowSize(ImVec2(200, 50));
    ImGui::SetWindowFontScale(2.0f);
    ImGui::Indent(40);
    ImGui::TextColored(ImVec4(1, 1, 1, 1), "%s", label);
    ImGui::Unindent(40);
    ImGui::End();
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();
}

} // namespace

void SetGuiTextureLookup(GuiTextureLookup lookup) {
    Lookup() = lookup;
}

ID3D11ShaderResourceView* GuiTexture(ResourceHub* hub, const std::string& name) {
    if (!Lookup()) return nullptr;
    if (ID3D11ShaderResourceView* view = Lookup()(hub, name)) return view;
    return Lookup()(hub, "defaulttexture");
}

void DrawHud(const HudFields& hud) {
    if (hud.playerIndex < 0 || hud.playerIndex > 3 || !gui::HasContext()) return;
    const PlayerColours& colours = kPlayerColours[hud.playerIndex];
    ImGui::PushStyleColor(ImGuiCol_WindowBg, colours.background);
    ImGui::PushStyleColor(ImGuiCol_Border, colours.border);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    const float centre = hud.left + hud.width / 2;
    CountWindow(hud, "Key Quantity", centre - 100, kKeyIcon, "Keys: ", hud.keyCards);
    CountWindow(hud, "PowerCell Quantity", centre, kPowerCellIcon, "PowerCells: ", hud.powerCells);
    ImGui::PopStyleVar();

    const float barTop = hud.top + hud.height - 60;
    const float sprint = Fraction(hud.sprintFraction) * 200;
    const float flare = Fraction(hud.flareFraction) * 200;
    Bar(hud.prefix + " Sprint Bar", hud.left + 20, barTop, sprint);
    BarBorder(hud.prefix + " Sprint Bar Border", hud.left + 20, barTop, "Sprint");
    Bar(hud.prefix + " Flare Bar", hud.left + hud.width - (flare + 20), barTop, flare);
    BarBorder(hud.prefix + " Flare Bar Border", hud.left + hud.width - 220, barTop, "Flare");
    ImGui::PopStyleColor(2);
}

void DrawFloodWarningWindow(const FloodWarningCall& call, int ordinal) {
    if (!gui::HasContext()) return;
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImVec4(0.2f, 0.2f, 0.2f, 0.75f));
    ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(1.0f, 1.0f, 1.0f, 0.5f));
    gui::PushWindowBorder(true);
    // Every player's warning has the same title; the id after "##" keeps them separate windows.
    const std::string name = "Warning!##" + std::to_string(ordinal);
    gui::Begin(name.c_str(), nullptr, ImVec2(0, 0), gui::kDefaultBgAlpha,
               gui::kNoResize | gui::kNoMove | gui::kNoCollapse | gui::kNoSavedSettings);
    // Under the player's key and power-cell counts, which sit at the same centre of the viewport's top
    // edge and must stay readable.
    ImGui::SetWindowPos(
        ImVec2(call.left + call.width / 2 - 100, call.top + CountWindowHeight() + kFloodWarningGap));
    ImGui::SetWindowSize(ImVec2(200, 100));
    ImGui::TextWrapped("%s", call.text.c_str());
    ImGui::End();
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(2);
}

void DrawQueuedFloodWarnings() {
    const std::vector<FloodWarningCall> calls = TakeFloodWarnings();
    int ordinal = 0;
    for (const FloodWarningCall& call : calls)
        DrawFloodWarningWindow(call, ++ordinal);
}

void DropQueuedFloodWarnings() {
    TakeFloodWarnings();
}
