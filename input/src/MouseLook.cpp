#include "MouseLook.h"

#include <Engine.h>
#include <GameState.h>
#include <Messages.h>

#include <cmath>

void MouseLook::ReadCursor(HWND window) {
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    ScreenToClient(window, &cursor);
    mX = cursor.x;
    mY = cursor.y;
}

void MouseLook::Update(bool enabled, HWND window) {
    if (!window) window = GetForegroundWindow();
    RECT client{0, 0, 0, 0};
    const bool haveClient = GetClientRect(window, &client) != FALSE;

    if (GameState::GetState() != GameState::PLAYING) {
        ReadCursor(window);
        return;
    }

    mCentreX = (client.left + client.right) / 2;
    mCentreY = (client.top + client.bottom) / 2;
    const int oldX = mX;
    const int oldY = mY;
    ReadCursor(window);

    // Without a client area there is nothing to keep the cursor inside.
    if (haveClient && client.right > client.left && client.bottom > client.top) {
        if (mX <= 0 || mX >= 2 * mCentreX - 1) {
            POINT centre{mCentreX, mY};
            ClientToScreen(window, &centre);
            SetCursorPos(centre.x, centre.y);
        }
        if (mY <= 0 || mY >= 2 * mCentreY - 1) {
            POINT centre{mX, mCentreY};
            ClientToScreen(window, &centre);
            SetCursorPos(centre.x, centre.y);
        }
    }

    mDeltaX = oldX - mX;
    mDeltaY = oldY - mY;
    const float dx = static_cast<float>(mDeltaX);
    const float dy = static_cast<float>(mDeltaY);
    const float length = std::sqrt(dx * dx + dy * dy + 0.0f);
    if (!enabled) return;
    // A still mouse has no direction: it reports (0, 0) rather than dividing by a zero length.
    float x = 0.0f, y = 0.0f;
    if (length > 0.0f) {
        x = -dx / length;
        y = dy / length;
    }
    auto look = std::make_shared<MouseLookMessage>(L"Mouse", x, y, 0u);
    Engine::RelayMessage(std::make_shared<ControllerIDMessage>(L"Mouse", std::move(look), 0u));
}
