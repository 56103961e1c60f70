#include "KeyBindings.h"

KeyBindings::KeyBindings()
    : mKeys{{"Left", 0x41},
            {"Right", 0x44},
            {"Up", 0x57},
            {"Down", 0x53},
            {"Pause", VK_ESCAPE},
            {"Use", 0x45},
            {"Shoot", VK_LBUTTON},
            {"Sprint", VK_LSHIFT},
            {"PreviousWeapon", 0x46},
            {"NextWeapon", VK_RBUTTON},
            {"Drop", 0x51},
            {"SkipWithEnter", VK_RETURN},
            {"SkipWithSpace", VK_SPACE},
            {"DamagePlayers", 0x50},
            {"GodMode", 0x4F},
            {"InstantWin", 0x49},
            {"NextLevel", 0x4E},
            {"TestingLevel", VK_F10}} {}

bool KeyBindings::IsDown(const std::array<SHORT, 256>& states, const std::string& action, bool& known) const {
    auto found = mKeys.find(action);
    known = found != mKeys.end();
    return known && states[found->second] < 0;
}

bool KeyBindings::KeyTriggered(std::string action) const {
    bool known = false;
    const bool now = IsDown(mCurrent, action, known);
    return known && now && !IsDown(mPrevious, action, known);
}

bool KeyBindings::KeyPressed(std::string action) const {
    bool known = false;
    return IsDown(mCurrent, action, known);
}

bool KeyBindings::KeyReleased(std::string action) const {
    bool known = false;
    const bool now = IsDown(mCurrent, action, known);
    return known && !now && IsDown(mPrevious, action, known);
}

void KeyBindings::Refresh() {
    for (int key = 0; key < 256; ++key) {
        mPrevious[static_cast<std::size_t>(key)] = mCurrent[static_cast<std::size_t>(key)];
        mCurrent[static_cast<std::size_t>(key)] = GetKeyState(key);
    }
}
