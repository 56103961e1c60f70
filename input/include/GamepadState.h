// One gamepad slot: its button bindings, its last two XInput states and its rumble.
#pragma once

#include <Xinput.h>

#include <string>
#include <unordered_map>

class GamepadState {
public:
    // Seconds between two tries of a disconnected slot.
    static constexpr float kRetryInterval = 1.0f;
    // A trigger is pulled above this value.
    static constexpr BYTE kTriggerThreshold = 128;

    GamepadState();
    explicit GamepadState(unsigned index);

    // False for a disconnected slot and for an action without a button; the poll that finds the pad
    // gone reads as the release of whatever it held.
    bool ButtonTriggered(std::string action) const;
    bool ButtonPressed(std::string action) const;
    bool ButtonReleased(std::string action) const;

    // Side 'L'/'l' or 'R'/'r'; any other side gives false. Released as the buttons are.
    bool TriggerPressed(char side) const;
    bool TriggerReleased(char side) const;

    void Poll(float dt);
    // Strengths 0 to 1 per motor, for `duration` seconds (until a later poll finds the time spent).
    void Rumble(float duration, float left, float right);
    // Both motors at one strength, as the vibrate message asks.
    void Vibrate(float duration, float strength);
    // Rumble time 0 and both motors still.
    void StopRumble();

    unsigned GetIndex() const { return mIndex; }
    bool IsConnected() const { return mConnected; }
    const XINPUT_STATE& GetCurrentState() const { return mCurrent; }
    float GetRumbleTime() const { return mRumbleTime; }
    float GetRetryTime() const { return mRetryTime; }
    const XINPUT_VIBRATION& GetVibration() const { return mVibration; }

private:
    WORD Mask(const std::string& action, bool& known) const;
    void SendVibration();

    unsigned mIndex = 0;
    float mRetryTime = 0.0f;
    bool mConnected = false;
    float mRumbleTime = 0.0f;
    XINPUT_STATE mPrevious{};
    XINPUT_STATE mCurrent{};
    XINPUT_VIBRATION mVibration{};
    std::unordered_map<std::string, WORD> mButtons;
};
