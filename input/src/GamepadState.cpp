#include "GamepadState.h"

namespace {

WORD SpeedOf(float strength) {
    // Truncation, as the motors take it; strength is already within 0..1.
    return static_cast<WORD>(strength * 65535.0f);
}

// 0..1; NaN counts as 0, because converting it to a motor speed is undefined.
float ClampStrength(float strength) {
    if (!(strength > 0.0f)) return 0.0f;
    return strength > 1.0f ? 1.0f : strength;
}

} // namespace

GamepadState::GamepadState() : GamepadState(0) {}

GamepadState::GamepadState(unsigned index)
    : mIndex(index), mButtons{{"Left", XINPUT_GAMEPAD_DPAD_LEFT},
                              {"Right", XINPUT_GAMEPAD_DPAD_RIGHT},
                              {"Up", XINPUT_GAMEPAD_DPAD_UP},
                              {"Down", XINPUT_GAMEPAD_DPAD_DOWN},
                              {"Pause", XINPUT_GAMEPAD_START},
                              {"Use", XINPUT_GAMEPAD_X},
                              {"Shoot", 0},
                              {"Sprint", XINPUT_GAMEPAD_A},
                              {"PreviousWeapon", XINPUT_GAMEPAD_LEFT_SHOULDER},
                              {"NextWeapon", XINPUT_GAMEPAD_RIGHT_SHOULDER},
                              {"Drop", XINPUT_GAMEPAD_Y},
                              {"SkipWithEnter", 0},
                              {"SkipWithSpace", 0}} {}

WORD GamepadState::Mask(const std::string& action, bool& known) const {
    auto found = mButtons.find(action);
    known = found != mButtons.end();
    return known ? found->second : WORD{0};
}

bool GamepadState::ButtonTriggered(std::string action) const {
    if (!mConnected) return false;
    bool known = false;
    const WORD mask = Mask(action, known);
    return (mCurrent.Gamepad.wButtons & mask) != 0 && (mPrevious.Gamepad.wButtons & mask) == 0;
}

bool GamepadState::ButtonPressed(std::string action) const {
    if (!mConnected) return false;
    bool known = false;
    return (mCurrent.Gamepad.wButtons & Mask(action, known)) != 0;
}

bool GamepadState::ButtonReleased(std::string action) const {
    bool known = false;
    const WORD mask = Mask(action, known);
    return (mCurrent.Gamepad.wButtons & mask) == 0 && (mPrevious.Gamepad.wButtons & mask) != 0;
}

namespace {

bool TriggerValues(char side, const XINPUT_STATE& previous, const XINPUT_STATE& current, BYTE& before,
                   BYTE& now) {
    if (side == 'L' || side == 'l') {
        before = previous.Gamepad.bLeftTrigger;
        now = current.Gamepad.bLeftTrigger;
        return true;
    }
    if (side == 'R' || side == 'r') {
        before = previous.Gamepad.bRightTrigger;
        now = current.Gamepad.bRightTrigger;
        return true;
    }
    return false;
}

} // namespace

bool GamepadState::TriggerPressed(char side) const {
    BYTE before = 0, now = 0;
    if (!mConnected || !TriggerValues(side, mPrevious, mCurrent, before, now)) return false;
    return before <= kTriggerThreshold && now > kTriggerThreshold;
}

bool GamepadState::TriggerReleased(char side) const {
    BYTE before = 0, now = 0;
    if (!TriggerValues(side, mPrevious, mCurrent, before, now)) return false;
    return before > kTriggerThreshold && now <= kTriggerThreshold;
}

void GamepadState::SendVibration() {
    XInputSetState(mIndex, &mVibration);
}

void GamepadState::StopRumble() {
    mRumbleTime = 0.0f;
    mVibration = XINPUT_VIBRATION{0, 0};
    SendVibration();
}

void GamepadState::Poll(float dt) {
    mPrevious = mCurrent;
    if (!mConnected) {
        mRetryTime -= dt;
        if (mRetryTime >= 0.0f) return;
        mRetryTime = kRetryInterval;
    }
    if (XInputGetState(mIndex, &mCurrent) != ERROR_SUCCESS) {
        // An unplugged pad lets go of everything it held, once: without that release its player
        // would go on walking or sprinting until the pad came back.
        mCurrent = XINPUT_STATE{};
        mConnected = false;
        return;
    }
    if (!mConnected) {
        mConnected = true;
        StopRumble();
    } else if (mRumbleTime > 0.0f) {
        mRumbleTime -= dt;
    } else {
        StopRumble();
    }
}

void GamepadState::Rumble(float duration, float left, float right) {
    if (!mConnected) return;
    mRumbleTime = duration;
    left = ClampStrength(left);
    right = ClampStrength(right);
    if (left == 0.0f && right == 0.0f) mRumbleTime = 0.0f;
    mVibration = XINPUT_VIBRATION{SpeedOf(left), SpeedOf(right)};
    SendVibration();
}

void GamepadState::Vibrate(float duration, float strength) {
    if (!mConnected) return;
    mRumbleTime = duration;
    strength = ClampStrength(strength);
    if (strength == 0.0f) mRumbleTime = 0.0f;
    mVibration = XINPUT_VIBRATION{SpeedOf(strength), SpeedOf(strength)};
    SendVibration();
}
