#include "GuiCompat.h"

#include <algorithm>

namespace gui {

bool HasContext() {
    return ImGui::GetCurrentContext() != nullptr;
}

bool Begin(const char* name, bool* open, ImVec2 sizeOnFirstUse, float bgAlpha, ImGuiWindowFlags flags) {
    if (sizeOnFirstUse.x != 0.0f || sizeOnFirstUse.y != 0.0f)
        ImGui::SetNextWindowSize(sizeOnFirstUse, ImGuiCond_FirstUseEver);
    // The newer release replaces the background alpha where the older one multiplied it.
    const float factor = bgAlpha >= 0.0f ? bgAlpha : kDefaultFillAlpha;
    const float pushed = ImGui::GetStyleColorVec4(ImGuiCol_WindowBg).w;
    ImGui::SetNextWindowBgAlpha(std::clamp(pushed * factor, 0.0f, 1.0f));
    return ImGui::Begin(name, open, flags);
}

void PushWindowBorder(bool bordered) {
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, bordered ? 1.0f : 0.0f);
}

} // namespace gui
