// Player 0 turns with the mouse: while playing, the cursor's direction of movement goes out each
// frame and the cursor is kept inside the window.
#pragma once

#include <winuser.h>

class MouseLook {
public:
    // `enabled`: send the direction (the input system passes true while gamepad 0 is absent).
    // A null window means the foreground window.
    void Update(bool enabled, HWND window);

    POINT GetPosition() const { return POINT{mX, mY}; }
    POINT GetDelta() const { return POINT{mDeltaX, mDeltaY}; }
    POINT GetCentre() const { return POINT{mCentreX, mCentreY}; }

private:
    void ReadCursor(HWND window);

    int mX = 0;
    int mY = 0;
    int mDeltaX = 0;
    int mDeltaY = 0;
    int mCentreX = 0;
    int mCentreY = 0;
};
