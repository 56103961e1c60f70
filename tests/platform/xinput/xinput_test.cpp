#include <Xinput.h>
#include <xinput_testing.h>

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

class FakePads : public ::testing::Test {
protected:
    void SetUp() override { xinputtest::UseFakePads(); }
    void TearDown() override { xinputtest::UseRealPads(); }
};

TEST_F(FakePads, BadArgumentsAreRefused) {
    XINPUT_STATE state{};
    XINPUT_VIBRATION vibration{};
    EXPECT_EQ(XInputGetState(4, &state), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(XInputGetState(0, nullptr), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(XInputSetState(4, &vibration), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(XInputSetState(0, nullptr), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
}

TEST_F(FakePads, SlotsStartDisconnectedAndTakeNoRumble) {
    for (DWORD user = 0; user < XUSER_MAX_COUNT; ++user) {
        XINPUT_STATE state{};
        EXPECT_EQ(XInputGetState(user, &state), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
        XINPUT_VIBRATION vibration{100, 200};
        EXPECT_EQ(XInputSetState(user, &vibration), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
        EXPECT_EQ(xinputtest::GetStateCalls(user), 1);
    }
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());
}

TEST_F(FakePads, InjectedStateIsReadAndThePacketMovesOnlyOnChange) {
    XINPUT_GAMEPAD pad{XINPUT_GAMEPAD_A, 10, 200, 1, -2, 3, -4};
    xinputtest::SetPad(2, pad);
    XINPUT_STATE first{};
    ASSERT_EQ(XInputGetState(2, &first), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(first.Gamepad.wButtons, XINPUT_GAMEPAD_A);
    EXPECT_EQ(first.Gamepad.bRightTrigger, 200);
    EXPECT_EQ(first.Gamepad.sThumbRY, -4);

    xinputtest::SetPad(2, pad);
    XINPUT_STATE same{};
    XInputGetState(2, &same);
    EXPECT_EQ(same.dwPacketNumber, first.dwPacketNumber);

    pad.wButtons = XINPUT_GAMEPAD_B;
    xinputtest::SetPad(2, pad);
    XINPUT_STATE changed{};
    XInputGetState(2, &changed);
    EXPECT_NE(changed.dwPacketNumber, first.dwPacketNumber);

    xinputtest::DisconnectPad(2);
    EXPECT_EQ(XInputGetState(2, &changed), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

TEST_F(FakePads, RumbleOfConnectedSlotsIsRecordedInOrder) {
    xinputtest::SetPad(1, XINPUT_GAMEPAD{});
    xinputtest::SetPad(3, XINPUT_GAMEPAD{});
    XINPUT_VIBRATION a{65535, 0}, b{1, 2}, c{5, 5};
    XInputSetState(3, &a);
    XInputSetState(0, &c); // not connected
    XInputSetState(1, &b);
    const auto recorded = xinputtest::TakeVibrations();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].userIndex, 3u);
    EXPECT_EQ(recorded[0].left, 65535);
    EXPECT_EQ(recorded[0].right, 0);
    EXPECT_EQ(recorded[1].userIndex, 1u);
    EXPECT_EQ(recorded[1].left, 1);
    EXPECT_EQ(recorded[1].right, 2);
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());
}

// The real path over SDL, with SDL's virtual game controller standing in for a device.
class SdlPads : public ::testing::Test {
protected:
    void SetUp() override {
        xinputtest::UseRealPads();
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    }
    void TearDown() override {
        if (device >= 0) SDL_JoystickDetachVirtual(device);
        XINPUT_STATE state{};
        XInputGetState(0, &state); // lets the slot let go of the detached controller
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    }
    SDL_Joystick* Attach() {
        device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                           SDL_CONTROLLER_BUTTON_MAX, 0);
        EXPECT_GE(device, 0) << SDL_GetError();
        SDL_Joystick* joystick = SDL_JoystickOpen(device);
        EXPECT_NE(joystick, nullptr) << SDL_GetError();
        return joystick;
    }
    int device = -1;
};

TEST_F(SdlPads, WithoutDevicesEverySlotIsDisconnected) {
    for (DWORD user = 0; user < XUSER_MAX_COUNT; ++user) {
        XINPUT_STATE state{};
        EXPECT_EQ(XInputGetState(user, &state), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    }
}

TEST_F(SdlPads, ButtonsTriggersAndAxesAreConverted) {
    SDL_Joystick* joystick = Attach();
    ASSERT_NE(joystick, nullptr);
    XINPUT_STATE state{};
    // The first call takes the controller into slot 0; SDL reports changes from then on.
    ASSERT_EQ(XInputGetState(0, &state), static_cast<DWORD>(ERROR_SUCCESS));
    SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTX, 1000);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTY, -32768); // pushed up
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_RIGHTY, 32767); // pulled down
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
    SDL_GameControllerUpdate();

    ASSERT_EQ(XInputGetState(0, &state), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(state.Gamepad.wButtons, XINPUT_GAMEPAD_A | XINPUT_GAMEPAD_DPAD_UP);
    EXPECT_EQ(state.Gamepad.sThumbLX, 1000);
    EXPECT_EQ(state.Gamepad.sThumbLY, 32767);
    EXPECT_EQ(state.Gamepad.sThumbRY, -32767);
    EXPECT_EQ(state.Gamepad.bLeftTrigger, 255);
    EXPECT_EQ(state.Gamepad.bRightTrigger, 0);
    EXPECT_EQ(XInputGetState(1, &state), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

    XINPUT_VIBRATION vibration{30000, 40000};
    EXPECT_EQ(XInputSetState(0, &vibration), static_cast<DWORD>(ERROR_SUCCESS));
    SDL_JoystickClose(joystick);
}

} // namespace
