// The "Input" system: keyboard, mouse and four gamepads become the players' input messages. It also
// pumps SDL's events for the whole program, follows the window's focus, numbers the Controller
// components, runs rumble and shows or hides the cursor.
#pragma once

#include "GamepadState.h"
#include "KeyBindings.h"
#include "MouseLook.h"

#include <Messages.h>
#include <System.h>
#include <winuser.h>

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct ImGuiIO;

class InputSystem : public System {
public:
    static constexpr unsigned kGamepadSlots = 4;
    static constexpr SHORT kLeftStickDeadZone = XINPUT_GAMEPAD_LEFT_THUMB_DEADZONE;
    static constexpr SHORT kRightStickDeadZone = XINPUT_GAMEPAD_RIGHT_THUMB_DEADZONE;

    explicit InputSystem(const std::wstring& name);
    ~InputSystem() override;

    void Initialize() override;
    void Update(float dt) override;
    int Release() override;

    void PollSDLEvents();
    void HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // `gamepad` tells whether the gamepad (not the keyboard) answered.
    bool ActionTriggered(std::string action, unsigned player, bool& gamepad) const;
    bool ActionPressed(std::string action, unsigned player, bool& gamepad) const;
    bool ActionReleased(std::string action, unsigned player, bool& gamepad) const;

    void HandleCreatedComponentMessage(const std::shared_ptr<Message>& message);
    void HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message);
    void HandleControllerVibrateMessage(const std::shared_ptr<Message>& message);
    void HandleControllerVibrateMotorsMessage(const std::shared_ptr<Message>& message);
    void HandlePauseMessage(const std::shared_ptr<Message>& message);
    void HandleSDLEventMessage(const std::shared_ptr<Message>& message);
    void HandleDisplayCursorMessage(const std::shared_ptr<Message>& message);
    void StoreWindowHandle(const std::shared_ptr<Message>& message);
    void StoreGuiReference(const std::shared_ptr<Message>& message);

    const std::vector<std::string>& GetActions() const { return mActions; }
    const GamepadState& GetSlot(unsigned index) const { return mSlots.at(index); }
    bool IsActive() const { return mActive; }
    HWND GetWindowHandle() const { return mWindow; }
    const MouseLook& GetMouseLook() const { return mMouseLook; }

private:
    using Handler = void (InputSystem::*)(const std::shared_ptr<Message>&);
    struct Listener {
        MessageType type;
        Handler handler;
    };
    static const std::array<Listener, 9> kListeners;

    GamepadState* SlotOf(const std::weak_ptr<Component>& controller);
    void StopConnectedRumbles();
    void AnnounceButtons(unsigned player);
    void AnnounceTriggers(const GamepadState& slot, unsigned player);
    void AnnounceSticks(const GamepadState& slot, unsigned player);
    void RelayWrapped(std::shared_ptr<Message> message, unsigned player);

    // The GUI reads the mouse once per frame, so a button that went down and up within one event
    // pump would never be seen pressed. Once a button changed in a pump, the mouse messages after it
    // wait for later pumps: each frame sees at most one change of each button, and moves after a
    // change wait with it so that the press lands where it was made.
    struct MouseMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    bool MouseMessageMustWait(UINT message) const;
    void ApplyMouseMessage(const MouseMessage& mouse);
    void ReplayWaitingMouseMessages();

    KeyBindings mKeys;
    MouseLook mMouseLook;
    ImGuiIO* mGui = nullptr;
    // Keeps every registered controller alive until its destroyed-component message.
    std::unordered_map<std::shared_ptr<Component>, GamepadState*> mControllers;
    std::array<GamepadState, kGamepadSlots> mSlots;
    std::vector<std::string> mActions;
    bool mActive = true;
    HWND mWindow = nullptr;
    std::deque<MouseMessage> mWaitingMouse;
    // One bit per GUI mouse button that changed in this pump.
    unsigned mButtonsChanged = 0;
};
