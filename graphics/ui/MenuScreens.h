// The eleven menu screens. Each draws one window inside the GUI frame while its record is visible and
// turns clicks into engine messages and sound events; each button posts its actions, then the click
// sound, and the hover sound once each time the pointer enters it.
#pragma once

#include "Menus.h"

#include <imgui.h>

#include <cstdint>
#include <map>
#include <string>

void DrawMainMenu();
void DrawJoinLobbyMenu();
void DrawOptionsMenu();
// Given its record so that it can reach the resource hub.
void DrawHowToPlayMenu(Menus::Record& record);
void DrawCreditsMenu();
void DrawPauseMenu();
void DrawReturnToMainConfirmation();
void DrawExitGameConfirmation();
void DrawRestartConfirmation();
void DrawResultsMenu();
void DrawExitGameConfirmation2();

// Sound events the screens post.
constexpr std::uint32_t kClickSound = 0xFF0B3D05;
constexpr std::uint32_t kHoverSound = 0xF9BB515D;
constexpr std::uint32_t kVolumeUpHoverSound = 0x44A6CADC;
constexpr std::uint32_t kCreditsOpenSound = 0x9A5F2038;
constexpr std::uint32_t kCreditsBackSound = 0xF5D36B26;
constexpr std::uint32_t kMusicMuteSound = 0x205DA04D;
constexpr std::uint32_t kMusicUnmuteSound = 0x3474117A;
constexpr std::uint32_t kSfxMuteSound = 0x63C39CE1;
constexpr std::uint32_t kSfxUnmuteSound = 0x305775FC;

// The values the screens keep for the whole run of the process.
struct MenuValues {
    float musicVolume = 100.0f;
    float sfxVolume = 100.0f;
    bool muteMusic = false;
    bool muteSfx = false;
    bool fullScreen = true;
    int chosenLevel = 0;
    // One per button and check box, by window and label.
    std::map<std::string, bool> hovered;
    // Each screen's scale by window name: 1, or less while the display is too small for the screen.
    std::map<std::string, float> scales;
};
const MenuValues& CurrentMenuValues();

// Tests only: the values go back to their initial ones.
void ResetMenuValuesForTest();

// Tests only (and the end-to-end clicks): the screen rectangle of each button and check box drawn in
// the last frame, by label; a label drawn twice keeps its last rectangle.
struct MenuWidgetRect {
    ImVec2 min;
    ImVec2 max;
};
const std::map<std::string, MenuWidgetRect>& MenuWidgetRects();
// Called by the menu set at the start of each frame's drawing.
void ClearMenuWidgetRects();
