// Player 0's keyboard and mouse buttons: one virtual key per action, read once per frame.
#pragma once

#include <winuser.h>

#include <array>
#include <string>
#include <unordered_map>

class KeyBindings {
public:
    KeyBindings();

    // Each is false for an action that has no key.
    bool KeyTriggered(std::string action) const;
    bool KeyPressed(std::string action) const;
    bool KeyReleased(std::string action) const;

    // The current states become the previous ones; GetKeyState gives the new ones for keys 0 to 255.
    void Refresh();

private:
    bool IsDown(const std::array<SHORT, 256>& states, const std::string& action, bool& known) const;

    std::array<SHORT, 256> mPrevious{};
    std::array<SHORT, 256> mCurrent{};
    std::unordered_map<std::string, BYTE> mKeys;
};
