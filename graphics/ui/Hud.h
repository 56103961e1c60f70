// Each player's heads-up display and the flood warning: fixed-size GUI windows placed relative to the
// player's viewport (pixels, origin at the back buffer's top left). Drawn inside the GUI frame only.
#pragma once

#include <FloodWarning.h>
#include <d3d11.h>

#include <string>

class ResourceHub;

// Named so that no caller mixes up the viewport's order (left before top).
struct HudFields {
    float left = 0.0f;
    float top = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    int keyCards = 0;
    int powerCells = 0;
    // 0..1; anything else is clamped, NaN counts as 0.
    float flareFraction = 0.0f;
    float sprintFraction = 0.0f;
    // 0..3; any other index draws nothing.
    int playerIndex = 0;
    // May be null: the icons are then replaced by labels.
    ResourceHub* hub = nullptr;
    // The player's object name ("Player1"), in front of every window name.
    std::string prefix;
};

void DrawHud(const HudFields& hud);

// One flood warning; `ordinal` (from 1, the call's place in the frame) keeps the windows apart.
void DrawFloodWarningWindow(const FloodWarningCall& call, int ordinal);
// Draws the game rules' queued warnings of this frame and empties the queue.
void DrawQueuedFloodWarnings();
// Empties the queue without drawing: calls made while no GUI frame could draw them.
void DropQueuedFloodWarnings();

// The GUI's pictures (the HUD icons, the how-to-play picture) are the resource hub's textures; the
// hub's texture manager installs this lookup. Null (the default) or a null result: the manager has no
// such texture.
using GuiTextureLookup = ID3D11ShaderResourceView* (*)(ResourceHub* hub, const std::string& name);
void SetGuiTextureLookup(GuiTextureLookup lookup);
// The hub's texture of that name, else its "defaulttexture"; null when neither exists.
ID3D11ShaderResourceView* GuiTexture(ResourceHub* hub, const std::string& name);

// The gap the flood warning keeps below the player's key and power-cell counts.
constexpr float kFloodWarningGap = 10.0f;

constexpr const char* kKeyIcon = "keyHUDicon.png";
constexpr const char* kPowerCellIcon = "powercellHUDicon.png";
