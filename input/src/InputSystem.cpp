#include "InputSystem.h"

#include <Callable.h>
#include <Components.h>
#include <Engine.h>
#include <winuser_sdl.h>

#include <SDL.h>
#include <imgui.h>

#include <cstdlib>

const std::array<InputSystem::Listener, 9> InputSystem::kListeners = {{
    {MessageType::CreatedComponent, &InputSystem::HandleCreatedComponentMessage},
    {MessageType::DestroyedComponent, &InputSystem::HandleDestroyedComponentMessage},
    {MessageType::ControllerVibrate, &InputSystem::HandleControllerVibrateMessage},
    {MessageType::ControllerVibrateMotors, &InputSystem::HandleControllerVibrateMotorsMessage},
    {MessageType::Pause, &InputSystem::HandlePauseMessage},
    {MessageType::SDLEvent, &InputSystem::HandleSDLEventMessage},
    {MessageType::DisplayCursor, &InputSystem::HandleDisplayCursorMessage},
    {MessageType::Window, &InputSystem::StoreWindowHandle},
    {MessageType::ImGuiReference, &InputSystem::StoreGuiReference},
}};

InputSystem::InputSystem(const std::wstring& name) : System(name) {
    for (unsigned i = 0; i < kGamepadSlots; ++i)
        mSlots[i] = GamepadState(i);
}

InputSystem::~InputSystem() = default;

void InputSystem::Initialize() {
    mActions = {"Left",       "Right",         "Up",      "Down",          "Pause",         "Use",
                "Sprint",     "Shoot",         "Drop",    "SkipWithEnter", "SkipWithSpace", "PreviousWeapon",
                "NextWeapon", "DamagePlayers", "GodMode", "InstantWin",    "NextLevel",     "TestingLevel"};
    for (const Listener& listener : kListeners)
        Engine::RegisterListener(listener.type, Callable(this, listener.handler));
    if (SDL_Init(SDL_INIT_GAMECONTROLLER) < 0) {
        Engine::ImmediateMessage(std::make_shared<ErrorMessage>(
            L"Error Message",
            std::string("SDL could not be properly initialized.\nSDL_Error: ") + SDL_GetError(), true,
            "InputSystem::Initialize", "Input", 100));
    }
}

int InputSystem::Release() {
    for (const Listener& listener : kListeners)
        Engine::UnregisterListener(listener.type, Callable(this, listener.handler));
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    return 0;
}

// ---- listeners -------------------------------------------------------------------------------

GamepadState* InputSystem::SlotOf(const std::weak_ptr<Component>& controller) {
    std::shared_ptr<Component> component = controller.lock();
    if (!component) return nullptr;
    auto found = mControllers.find(component);
    return found == mControllers.end() ? nullptr : found->second;
}

void InputSystem::HandleCreatedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto* created = dynamic_cast<const CreatedComponentMessage*>(message.get());
    if (!created || created->GetComponentType() != ComponentType::Controller) return;
    std::shared_ptr<Component> component = created->GetComponentPTR().lock();
    if (!component) return;
    // The smallest number that no slotted controller uses.
    unsigned number = 0;
    for (bool taken = true; taken;) {
        taken = false;
        for (const auto& entry : mControllers) {
            if (entry.second && entry.second->GetIndex() == number) {
                ++number;
                taken = true;
                break;
            }
        }
    }
    mControllers[component] = number < kGamepadSlots ? &mSlots[number] : nullptr;
    if (auto* controller = dynamic_cast<Controller*>(component.get())) controller->SetPlayerNumber(number);
}

void InputSystem::HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto* destroyed = dynamic_cast<const DestroyedComponentMessage*>(message.get());
    if (!destroyed || destroyed->GetComponentType() != ComponentType::Controller) return;
    if (std::shared_ptr<Component> component = destroyed->GetComponentPTR().lock())
        mControllers.erase(component);
}

void InputSystem::HandleControllerVibrateMessage(const std::shared_ptr<Message>& message) {
    const auto* vibrate = dynamic_cast<const ControllerVibrateMessage*>(message.get());
    if (!vibrate) return;
    GamepadState* slot = SlotOf(vibrate->GetControllerComponent());
    if (!slot || !slot->IsConnected()) return;
    slot->Vibrate(vibrate->GetDuration(), vibrate->GetStrength());
}

void InputSystem::HandleControllerVibrateMotorsMessage(const std::shared_ptr<Message>& message) {
    const auto* vibrate = dynamic_cast<const ControllerVibrateMotorsMessage*>(message.get());
    if (!vibrate) return;
    GamepadState* slot = SlotOf(vibrate->GetControllerComponent());
    if (!slot) return;
    slot->Rumble(vibrate->GetDuration(), vibrate->GetLeftStrength(), vibrate->GetRightStrength());
}

void InputSystem::StopConnectedRumbles() {
    for (GamepadState& slot : mSlots)
        if (slot.IsConnected()) slot.StopRumble();
}

void InputSystem::HandlePauseMessage(const std::shared_ptr<Message>& message) {
    const auto* pause = dynamic_cast<const PauseMessage*>(message.get());
    if (pause && pause->GetType() == PAUSE_GAME) StopConnectedRumbles();
}

void InputSystem::HandleSDLEventMessage(const std::shared_ptr<Message>& message) {
    const auto* sdl = dynamic_cast<const SDLEventMessage*>(message.get());
    if (!sdl || sdl->GetEvent().type != SDL_WINDOWEVENT) return;
    switch (sdl->GetEvent().window.event) {
    case SDL_WINDOWEVENT_FOCUS_LOST:
    case SDL_WINDOWEVENT_MINIMIZED:
        mActive = false;
        StopConnectedRumbles();
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_RESTORED:
        mActive = true;
        break;
    default:
        break;
    }
}

void InputSystem::HandleDisplayCursorMessage(const std::shared_ptr<Message>& message) {
    const auto* cursor = dynamic_cast<const DisplayCursorMessage*>(message.get());
    if (!cursor) return;
    // The display counter moves by one per call, so each loop ends.
    if (cursor->GetDisplayCursor()) {
        while (ShowCursor(TRUE) < 0) {
        }
    } else {
        while (ShowCursor(FALSE) >= 0) {
        }
    }
}

void InputSystem::StoreWindowHandle(const std::shared_ptr<Message>& message) {
    if (const auto* window = dynamic_cast<const WindowMessage*>(message.get())) mWindow = window->GetHandle();
}

void InputSystem::StoreGuiReference(const std::shared_ptr<Message>& message) {
    if (const auto* gui = dynamic_cast<const ImGuiReferenceMessage*>(message.get())) mGui = gui->Get();
}

// ---- events and native messages ------------------------------------------------------------------

void InputSystem::PollSDLEvents() {
    mButtonsChanged = 0;
    ReplayWaitingMouseMessages();
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        auto relayed = std::make_shared<SDLEventMessage>(mName, event);
        Engine::RelayMessage(relayed);
        if (relayed->GetHandled() != 0) continue;
        if (event.type == SDL_QUIT) {
            Engine::RelayMessage(std::make_shared<Message>(mName, MessageType::Quit));
            continue;
        }
        // SDL's own system events carry the display server's messages; the platform's window
        // messages come from SDL's portable events instead.
        MSG native;
        if (TranslateSDLEventToMessage(event, &native))
            HandleWindowMessage(native.message, native.wParam, native.lParam);
    }
}

void InputSystem::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!mGui) return;
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE && lParam == 0)
            Engine::RelayMessage(std::make_shared<HasKeyboardFocusMessage>(L"Input", false));
        if (HIWORD(wParam) == 1 && lParam == 0)
            Engine::RelayMessage(std::make_shared<HasKeyboardFocusMessage>(L"Input", true));
        break;
    case WM_KEYDOWN:
        if (wParam < 256) mGui->KeysDown[wParam] = true;
        break;
    case WM_KEYUP:
        if (wParam < 256) mGui->KeysDown[wParam] = false;
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        if (!mWaitingMouse.empty() || MouseMessageMustWait(message))
            mWaitingMouse.push_back({message, wParam, lParam});
        else
            ApplyMouseMessage({message, wParam, lParam});
        break;
    case WM_MOUSEWHEEL:
        mGui->MouseWheel += GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? 1.0f : -1.0f;
        break;
    default:
        break;
    }
}

namespace {

// The GUI's button of a button message; -1 for any other message.
int GuiButtonOf(UINT message) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return 1;
    default:
        return -1;
    }
}

} // namespace

bool InputSystem::MouseMessageMustWait(UINT message) const {
    const int button = GuiButtonOf(message);
    return button < 0 ? mButtonsChanged != 0 : (mButtonsChanged & (1u << button)) != 0;
}

void InputSystem::ApplyMouseMessage(const MouseMessage& mouse) {
    const int button = GuiButtonOf(mouse.message);
    if (button < 0) {
        mGui->MousePos = ImVec2(static_cast<float>(GET_X_LPARAM(mouse.lParam)),
                                static_cast<float>(GET_Y_LPARAM(mouse.lParam)));
        return;
    }
    mGui->MouseDown[button] = mouse.message == WM_LBUTTONDOWN || mouse.message == WM_RBUTTONDOWN;
    mButtonsChanged |= 1u << button;
}

void InputSystem::ReplayWaitingMouseMessages() {
    if (!mGui) return;
    while (!mWaitingMouse.empty() && !MouseMessageMustWait(mWaitingMouse.front().message)) {
        ApplyMouseMessage(mWaitingMouse.front());
        mWaitingMouse.pop_front();
    }
}

// ---- the frame ------------------------------------------------------------------------------------

bool InputSystem::ActionTriggered(std::string action, unsigned player, bool& gamepad) const {
    if (player == 0) {
        if (mKeys.KeyTriggered(action)) {
            gamepad = false;
            return true;
        }
        if (mSlots[0].ButtonTriggered(action)) {
            gamepad = true;
            return true;
        }
        return false;
    }
    gamepad = true;
    return player < kGamepadSlots && mSlots[player].ButtonTriggered(action);
}

bool InputSystem::ActionPressed(std::string action, unsigned player, bool& gamepad) const {
    if (player == 0) {
        if (mKeys.KeyPressed(action)) {
            gamepad = false;
            return true;
        }
        if (mSlots[0].ButtonPressed(action)) {
            gamepad = true;
            return true;
        }
        return false;
    }
    gamepad = true;
    return player < kGamepadSlots && mSlots[player].ButtonPressed(action);
}

bool InputSystem::ActionReleased(std::string action, unsigned player, bool& gamepad) const {
    if (player == 0) {
        if (mKeys.KeyReleased(action)) {
            gamepad = false;
            return true;
        }
        if (mSlots[0].ButtonReleased(action)) {
            gamepad = true;
            return true;
        }
        return false;
    }
    gamepad = true;
    return player < kGamepadSlots && mSlots[player].ButtonReleased(action);
}

void InputSystem::RelayWrapped(std::shared_ptr<Message> message, unsigned player) {
    Engine::RelayMessage(std::make_shared<ControllerIDMessage>(mName, std::move(message), player));
}

void InputSystem::AnnounceButtons(unsigned player) {
    for (const std::string& action : mActions) {
        bool gamepad = false;
        std::shared_ptr<Message> button;
        if (ActionTriggered(action, player, gamepad)) {
            button = std::make_shared<ButtonTriggerMessage>(mName, action, player);
        } else if (ActionPressed(action, player, gamepad)) {
            button = std::make_shared<ButtonPressMessage>(mName, action, player);
        } else if (ActionReleased(action, player, gamepad)) {
            button = std::make_shared<ButtonReleaseMessage>(mName, action, player);
        } else {
            continue;
        }
        if (gamepad) {
            RelayWrapped(std::move(button), player);
        } else {
            Engine::RelayMessage(std::move(button));
        }
    }
}

void InputSystem::AnnounceTriggers(const GamepadState& slot, unsigned player) {
    const XINPUT_GAMEPAD& pad = slot.GetCurrentState().Gamepad;
    if (slot.TriggerPressed('L'))
        RelayWrapped(std::make_shared<LeftTriggerTriggerMessage>(mName, player), player);
    if (slot.TriggerPressed('R'))
        RelayWrapped(std::make_shared<RightTriggerTriggerMessage>(mName, player), player);
    // The engine has no held-left-trigger message: a held left trigger repeats the went-down one.
    if (slot.IsConnected() && pad.bLeftTrigger > GamepadState::kTriggerThreshold)
        RelayWrapped(std::make_shared<LeftTriggerTriggerMessage>(mName, player), player);
    if (slot.IsConnected() && pad.bRightTrigger > GamepadState::kTriggerThreshold)
        RelayWrapped(std::make_shared<RightTriggerPressMessage>(mName, player), player);
    if (slot.TriggerReleased('L'))
        RelayWrapped(std::make_shared<LeftTriggerReleaseMessage>(mName, player), player);
    if (slot.TriggerReleased('R'))
        RelayWrapped(std::make_shared<RightTriggerReleaseMessage>(mName, player), player);
}

namespace {

bool InsideDeadZone(SHORT x, SHORT y, SHORT zone) {
    return x >= -zone && x <= zone && y >= -zone && y <= zone;
}

} // namespace

void InputSystem::AnnounceSticks(const GamepadState& slot, unsigned player) {
    const XINPUT_GAMEPAD& pad = slot.GetCurrentState().Gamepad;
    SHORT lx = 0, ly = 0, rx = 0, ry = 0;
    if (slot.IsConnected() && !InsideDeadZone(pad.sThumbLX, pad.sThumbLY, kLeftStickDeadZone)) {
        lx = pad.sThumbLX;
        ly = pad.sThumbLY;
    }
    if (slot.IsConnected() && !InsideDeadZone(pad.sThumbRX, pad.sThumbRY, kRightStickDeadZone)) {
        rx = pad.sThumbRX;
        ry = pad.sThumbRY;
    }
    auto left = std::make_shared<LeftStickMessage>(mName, lx, ly, player);
    auto right = std::make_shared<RightStickMessage>(mName, rx, ry, player);
    RelayWrapped(std::move(left), player);
    RelayWrapped(std::move(right), player);
}

void InputSystem::Update(float dt) {
    PollSDLEvents();
    mGui = nullptr;
    if (!mActive) return;
    for (auto& entry : mControllers)
        if (entry.second) entry.second->Poll(dt);
    mKeys.Refresh();
    mMouseLook.Update(!mSlots[0].IsConnected(), mWindow);
    for (auto& entry : mControllers) {
        if (!entry.second) continue;
        const GamepadState& slot = *entry.second;
        const unsigned player = slot.GetIndex();
        AnnounceButtons(player);
        AnnounceTriggers(slot, player);
        AnnounceSticks(slot, player);
    }
}
