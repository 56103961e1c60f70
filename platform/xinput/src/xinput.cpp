#include <Xinput.h>
#include <xinput_testing.h>

#include <SDL.h>

#include <array>
#include <mutex>

namespace {

struct FakeSlot {
    bool connected = false;
    XINPUT_GAMEPAD pad{};
    DWORD packet = 0;
    int getStateCalls = 0;
};

struct RealSlot {
    SDL_GameController* controller = nullptr;
    SDL_JoystickID instance = -1;
    XINPUT_GAMEPAD last{};
    DWORD packet = 0;
};

struct Pads {
    std::mutex mutex;
    bool fake = false;
    std::array<FakeSlot, XUSER_MAX_COUNT> fakeSlots;
    std::vector<xinputtest::Vibration> vibrations;
    std::array<RealSlot, XUSER_MAX_COUNT> realSlots;
};

Pads& State() {
    static Pads pads;
    return pads;
}

bool InUse(const Pads& pads, SDL_JoystickID instance) {
    for (const RealSlot& slot : pads.realSlots)
        if (slot.controller && slot.instance == instance) return true;
    return false;
}

// Slots take the game controllers in SDL's device order; a slot whose controller went away takes
// the next free one.
SDL_GameController* ControllerOf(Pads& pads, DWORD user) {
    RealSlot& slot = pads.realSlots[user];
    if (slot.controller && SDL_GameControllerGetAttached(slot.controller)) return slot.controller;
    if (slot.controller) {
        SDL_GameControllerClose(slot.controller);
        slot = RealSlot{};
    }
    if (!SDL_WasInit(SDL_INIT_GAMECONTROLLER)) return nullptr;
    for (int device = 0; device < SDL_NumJoysticks(); ++device) {
        if (!SDL_IsGameController(device)) continue;
        const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(device);
        if (InUse(pads, instance)) continue;
        if (SDL_GameController* controller = SDL_GameControllerOpen(device)) {
            slot.controller = controller;
            slot.instance = instance;
            return controller;
        }
    }
    return nullptr;
}

// The platform's Y axes point up, SDL's down.
SHORT InvertAxis(Sint16 value) {
    return value == -32768 ? SHORT{32767} : static_cast<SHORT>(-value);
}

BYTE TriggerByte(Sint16 value) {
    if (value <= 0) return 0;
    return static_cast<BYTE>((value * 255 + 16383) / 32767);
}

XINPUT_GAMEPAD ReadController(SDL_GameController* c) {
    struct ButtonBit {
        SDL_GameControllerButton button;
        WORD bit;
    };
    static constexpr ButtonBit kButtons[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_UP, XINPUT_GAMEPAD_DPAD_UP},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, XINPUT_GAMEPAD_DPAD_DOWN},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, XINPUT_GAMEPAD_DPAD_LEFT},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, XINPUT_GAMEPAD_DPAD_RIGHT},
        {SDL_CONTROLLER_BUTTON_START, XINPUT_GAMEPAD_START},
        {SDL_CONTROLLER_BUTTON_BACK, XINPUT_GAMEPAD_BACK},
        {SDL_CONTROLLER_BUTTON_LEFTSTICK, XINPUT_GAMEPAD_LEFT_THUMB},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, XINPUT_GAMEPAD_RIGHT_THUMB},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, XINPUT_GAMEPAD_LEFT_SHOULDER},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, XINPUT_GAMEPAD_RIGHT_SHOULDER},
        {SDL_CONTROLLER_BUTTON_A, XINPUT_GAMEPAD_A},
        {SDL_CONTROLLER_BUTTON_B, XINPUT_GAMEPAD_B},
        {SDL_CONTROLLER_BUTTON_X, XINPUT_GAMEPAD_X},
        {SDL_CONTROLLER_BUTTON_Y, XINPUT_GAMEPAD_Y},
    };
    XINPUT_GAMEPAD pad{};
    for (const ButtonBit& b : kButtons)
        if (SDL_GameControllerGetButton(c, b.button)) pad.wButtons = static_cast<WORD>(pad.wButtons | b.bit);
    pad.bLeftTrigger = TriggerByte(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    pad.bRightTrigger = TriggerByte(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    pad.sThumbLX = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX);
    pad.sThumbLY = InvertAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY));
    pad.sThumbRX = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTX);
    pad.sThumbRY = InvertAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTY));
    return pad;
}

bool SamePad(const XINPUT_GAMEPAD& a, const XINPUT_GAMEPAD& b) {
    return a.wButtons == b.wButtons && a.bLeftTrigger == b.bLeftTrigger &&
           a.bRightTrigger == b.bRightTrigger && a.sThumbLX == b.sThumbLX && a.sThumbLY == b.sThumbLY &&
           a.sThumbRX == b.sThumbRX && a.sThumbRY == b.sThumbRY;
}

} // namespace

DWORD WINAPI XInputGetState(DWORD userIndex, XINPUT_STATE* state) {
    if (userIndex >= XUSER_MAX_COUNT || !state) return ERROR_BAD_ARGUMENTS;
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    if (pads.fake) {
        FakeSlot& slot = pads.fakeSlots[userIndex];
        ++slot.getStateCalls;
        if (!slot.connected) return ERROR_DEVICE_NOT_CONNECTED;
        *state = XINPUT_STATE{slot.packet, slot.pad};
        return ERROR_SUCCESS;
    }
    SDL_GameController* controller = ControllerOf(pads, userIndex);
    if (!controller) return ERROR_DEVICE_NOT_CONNECTED;
    RealSlot& slot = pads.realSlots[userIndex];
    const XINPUT_GAMEPAD pad = ReadController(controller);
    if (!SamePad(pad, slot.last)) ++slot.packet;
    slot.last = pad;
    *state = XINPUT_STATE{slot.packet, pad};
    return ERROR_SUCCESS;
}

DWORD WINAPI XInputSetState(DWORD userIndex, XINPUT_VIBRATION* vibration) {
    if (userIndex >= XUSER_MAX_COUNT || !vibration) return ERROR_BAD_ARGUMENTS;
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    if (pads.fake) {
        if (!pads.fakeSlots[userIndex].connected) return ERROR_DEVICE_NOT_CONNECTED;
        pads.vibrations.push_back({userIndex, vibration->wLeftMotorSpeed, vibration->wRightMotorSpeed});
        return ERROR_SUCCESS;
    }
    SDL_GameController* controller = ControllerOf(pads, userIndex);
    if (!controller) return ERROR_DEVICE_NOT_CONNECTED;
    // The platform's speeds hold until changed; SDL wants a duration, so ask for its longest.
    SDL_GameControllerRumble(controller, vibration->wLeftMotorSpeed, vibration->wRightMotorSpeed, 0xFFFF);
    return ERROR_SUCCESS;
}

namespace xinputtest {

void UseFakePads() {
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    pads.fake = true;
    pads.fakeSlots = {};
    pads.vibrations.clear();
}

void UseRealPads() {
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    pads.fake = false;
    pads.fakeSlots = {};
    pads.vibrations.clear();
}

void SetPad(DWORD userIndex, const XINPUT_GAMEPAD& pad) {
    if (userIndex >= XUSER_MAX_COUNT) return;
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    FakeSlot& slot = pads.fakeSlots[userIndex];
    if (!slot.connected || !SamePad(slot.pad, pad)) ++slot.packet;
    slot.connected = true;
    slot.pad = pad;
}

void DisconnectPad(DWORD userIndex) {
    if (userIndex >= XUSER_MAX_COUNT) return;
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    pads.fakeSlots[userIndex].connected = false;
}

std::vector<Vibration> TakeVibrations() {
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    std::vector<Vibration> out;
    out.swap(pads.vibrations);
    return out;
}

int GetStateCalls(DWORD userIndex) {
    if (userIndex >= XUSER_MAX_COUNT) return 0;
    Pads& pads = State();
    std::lock_guard<std::mutex> lock(pads.mutex);
    return pads.fakeSlots[userIndex].getStateCalls;
}

} // namespace xinputtest
