// The eleven menu screens, each one window drawn inside the GUI frame while its record is visible.
#pragma once

#include "Menus.h"

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
