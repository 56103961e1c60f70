// The global game state.
#pragma once

class GameState {
public:
    enum STATE {
        FIRST_SPLASH = 0,
        TEAM_SPLASH = 1,
        IDLE = 2,
        PLAYING = 3,
        PAUSED = 4,
        FIRST_SPLASH_2 = 5,
        FIRST_SPLASH_3 = 6,
        GAMEPAD_SPLASH = 7,
        HOW_TO_PLAY = 8,
        OBJECTIVES = 9
    };
    enum MENU_STATE {
        MENU_STATE_MAIN = 0,
        MENU_STATE_LOBBY = 1,
        MENU_STATE_PAUSE = 2,
        MENU_STATE_CONFIRMATION = 3,
        MENU_STATE_HOW_TO_PLAY = 4,
        MENU_STATE_OPTIONS = 5,
        MENU_STATE_CREDITS = 6,
        MENU_STATE_RESULTS = 7
    };

    static int GetState();
    static void SetState(int state);
    static int GetMenuState();
    static void SetMenuState(int menuState);
};
