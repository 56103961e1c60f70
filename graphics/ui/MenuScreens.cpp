#include "MenuScreens.h"

// The screens' windows come with the menu screens; until then a visible record draws nothing.
void DrawMainMenu() {}
void DrawJoinLobbyMenu() {}
void DrawOptionsMenu() {}
void DrawHowToPlayMenu(Menus::Record&) {}
void DrawCreditsMenu() {}
void DrawPauseMenu() {}
void DrawReturnToMainConfirmation() {}
void DrawExitGameConfirmation() {}
void DrawRestartConfirmation() {}
void DrawResultsMenu() {}
void DrawExitGameConfirmation2() {}
