#include <GamepadState.h>
#include <KeyBindings.h>

#include <win32_user_testing.h>
#include <xinput_testing.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class Bindings : public ::testing::Test {
protected:
    void SetUp() override {
        win32usertest::UseFakeInput();
        xinputtest::UseFakePads();
    }
    void TearDown() override {
        win32usertest::UseRealInput();
        xinputtest::UseRealPads();
    }
};

TEST_F(Bindings, KeyHeldAcrossTwoFramesTriggersOnceAndReleasesAfter) {
    KeyBindings keys;
    struct Frame {
        bool down;
        bool triggered, pressed, released;
    };
    const Frame frames[] = {
        {false, false, false, false}, {true, true, true, false},    {true, false, true, false},
        {false, false, false, true},  {false, false, false, false},
    };
    for (const Frame& f : frames) {
        win32usertest::SetKeyDown('W', f.down);
        keys.Refresh();
        EXPECT_EQ(keys.KeyTriggered("Up"), f.triggered);
        EXPECT_EQ(keys.KeyPressed("Up"), f.pressed);
        EXPECT_EQ(keys.KeyReleased("Up"), f.released);
    }
}

TEST_F(Bindings, EveryActionHasItsKeyAndMouseButtonsCountAsKeys) {
    struct Case {
        const char* action;
        int key;
    };
    const Case cases[] = {{"Left", 'A'},
                          {"Right", 'D'},
                          {"Up", 'W'},
                          {"Down", 'S'},
                          {"Pause", VK_ESCAPE},
                          {"Use", 'E'},
                          {"Shoot", VK_LBUTTON},
                          {"Sprint", VK_LSHIFT},
                          {"PreviousWeapon", 'F'},
                          {"NextWeapon", VK_RBUTTON},
                          {"Drop", 'Q'},
                          {"SkipWithEnter", VK_RETURN},
                          {"SkipWithSpace", VK_SPACE},
                          {"DamagePlayers", 'P'},
                          {"GodMode", 'O'},
                          {"InstantWin", 'I'},
                          {"NextLevel", 'N'},
                          {"TestingLevel", VK_F10}};
    for (const Case& c : cases) {
        KeyBindings keys;
        win32usertest::ReleaseAllKeys();
        win32usertest::SetKeyDown(c.key, true);
        keys.Refresh();
        EXPECT_TRUE(keys.KeyTriggered(c.action)) << c.action;
        // No other action shares the key.
        for (const Case& other : cases) {
            if (other.key == c.key) continue;
            EXPECT_FALSE(keys.KeyPressed(other.action)) << c.action << " " << other.action;
        }
    }
    KeyBindings keys;
    EXPECT_FALSE(keys.KeyPressed("Fly"));
}

XINPUT_GAMEPAD Buttons(WORD buttons) {
    return XINPUT_GAMEPAD{buttons, 0, 0, 0, 0, 0, 0};
}

TEST_F(Bindings, GamepadButtonsFollowTheirMasks) {
    struct Case {
        const char* action;
        WORD mask;
    };
    const Case cases[] = {{"Left", XINPUT_GAMEPAD_DPAD_LEFT},
                          {"Right", XINPUT_GAMEPAD_DPAD_RIGHT},
                          {"Up", XINPUT_GAMEPAD_DPAD_UP},
                          {"Down", XINPUT_GAMEPAD_DPAD_DOWN},
                          {"Pause", XINPUT_GAMEPAD_START},
                          {"Use", XINPUT_GAMEPAD_X},
                          {"Sprint", XINPUT_GAMEPAD_A},
                          {"PreviousWeapon", XINPUT_GAMEPAD_LEFT_SHOULDER},
                          {"NextWeapon", XINPUT_GAMEPAD_RIGHT_SHOULDER},
                          {"Drop", XINPUT_GAMEPAD_Y}};
    for (const Case& c : cases) {
        xinputtest::UseFakePads();
        GamepadState pad(1);
        xinputtest::SetPad(1, Buttons(0));
        pad.Poll(0.016f);
        xinputtest::SetPad(1, Buttons(c.mask));
        pad.Poll(0.016f);
        EXPECT_TRUE(pad.ButtonTriggered(c.action)) << c.action;
        EXPECT_TRUE(pad.ButtonPressed(c.action)) << c.action;
        pad.Poll(0.016f);
        EXPECT_FALSE(pad.ButtonTriggered(c.action)) << c.action;
        EXPECT_TRUE(pad.ButtonPressed(c.action)) << c.action;
        xinputtest::SetPad(1, Buttons(0));
        pad.Poll(0.016f);
        EXPECT_TRUE(pad.ButtonReleased(c.action)) << c.action;
    }
}

TEST_F(Bindings, ActionsWithoutAButtonNeverAnswer) {
    GamepadState pad(0);
    xinputtest::SetPad(0, Buttons(0));
    pad.Poll(0.016f);
    xinputtest::SetPad(0, Buttons(0xFFFF));
    pad.Poll(0.016f);
    for (const char* action :
         {"Shoot", "SkipWithEnter", "SkipWithSpace", "GodMode", "DamagePlayers", "TestingLevel", "Fly"}) {
        EXPECT_FALSE(pad.ButtonTriggered(action)) << action;
        EXPECT_FALSE(pad.ButtonPressed(action)) << action;
    }
}

TEST_F(Bindings, AnUnpluggedPadReleasesWhatItHeldOnceAndThenAnswersFalse) {
    GamepadState pad(2);
    xinputtest::SetPad(2, XINPUT_GAMEPAD{XINPUT_GAMEPAD_A | XINPUT_GAMEPAD_DPAD_UP, 255, 0, 0, 0, 0, 0});
    pad.Poll(0.016f);
    ASSERT_TRUE(pad.ButtonPressed("Sprint"));
    xinputtest::DisconnectPad(2);
    pad.Poll(0.016f);
    EXPECT_FALSE(pad.IsConnected());
    EXPECT_FALSE(pad.ButtonPressed("Sprint"));
    EXPECT_TRUE(pad.ButtonReleased("Sprint"));
    EXPECT_TRUE(pad.ButtonReleased("Up"));
    EXPECT_FALSE(pad.ButtonReleased("Use")) << "never held";
    EXPECT_TRUE(pad.TriggerReleased('L'));
    EXPECT_FALSE(pad.TriggerReleased('R')) << "never pulled";
    // The next polls, one of them a retry, find nothing more to let go.
    for (float dt : {0.016f, 2.0f}) {
        pad.Poll(dt);
        EXPECT_FALSE(pad.ButtonReleased("Sprint"));
        EXPECT_FALSE(pad.ButtonReleased("Up"));
        EXPECT_FALSE(pad.TriggerReleased('L'));
    }
}

TEST_F(Bindings, TriggersArePulledAbove128AndSidesAreOneCharacter) {
    GamepadState pad(0);
    struct Frame {
        BYTE left, right;
        bool leftPressed, rightPressed, leftReleased, rightReleased;
    };
    const Frame frames[] = {
        {128, 128, false, false, false, false},
        {129, 255, true, true, false, false},
        {200, 129, false, false, false, false},
        {128, 0, false, false, true, true},
    };
    for (const Frame& f : frames) {
        xinputtest::SetPad(0, XINPUT_GAMEPAD{0, f.left, f.right, 0, 0, 0, 0});
        pad.Poll(0.016f);
        EXPECT_EQ(pad.TriggerPressed('L'), f.leftPressed);
        EXPECT_EQ(pad.TriggerPressed('l'), f.leftPressed);
        EXPECT_EQ(pad.TriggerPressed('R'), f.rightPressed);
        EXPECT_EQ(pad.TriggerPressed('r'), f.rightPressed);
        EXPECT_EQ(pad.TriggerReleased('L'), f.leftReleased);
        EXPECT_EQ(pad.TriggerReleased('R'), f.rightReleased);
        EXPECT_FALSE(pad.TriggerPressed('X'));
        EXPECT_FALSE(pad.TriggerReleased('\0'));
    }
}

TEST_F(Bindings, ADisconnectedSlotIsTriedAtOnceThenAboutOnceASecond) {
    GamepadState pad(3);
    const int expectedCalls[] = {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3};
    for (int frame = 0; frame < 11; ++frame) {
        pad.Poll(0.25f);
        EXPECT_EQ(xinputtest::GetStateCalls(3), expectedCalls[frame]) << "frame " << frame;
    }
    // A pad plugged in now is found at the next try, and from then on polled every frame.
    xinputtest::SetPad(3, Buttons(0));
    for (int frame = 0; frame < 4; ++frame)
        pad.Poll(0.25f);
    EXPECT_FALSE(pad.IsConnected());
    pad.Poll(0.25f);
    EXPECT_TRUE(pad.IsConnected());
    EXPECT_EQ(xinputtest::GetStateCalls(3), 4);
    for (int frame = 0; frame < 3; ++frame)
        pad.Poll(0.25f);
    EXPECT_EQ(xinputtest::GetStateCalls(3), 7);
}

TEST_F(Bindings, ConnectingSilencesTheMotorsAndAConnectedSlotGetsZerosEveryPollWithoutRumble) {
    GamepadState pad(0);
    xinputtest::SetPad(0, Buttons(0));
    pad.Poll(0.016f);
    pad.Poll(0.016f);
    const auto sent = xinputtest::TakeVibrations();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& v : sent) {
        EXPECT_EQ(v.left, 0);
        EXPECT_EQ(v.right, 0);
    }
}

TEST_F(Bindings, RumbleStrengthsAreClampedAndRunForTheirDuration) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float left, right;
        WORD leftSpeed, rightSpeed;
        bool runs;
    };
    const Case cases[] = {
        {-1.0f, 0.0f, 0, 0, false},  {0.0f, 0.0f, 0, 0, false}, {0.5f, 2.0f, 32767, 65535, true},
        {nan, 1.0f, 0, 65535, true}, {nan, nan, 0, 0, false},   {1.0f, 0.25f, 65535, 16383, true},
    };
    for (const Case& c : cases) {
        xinputtest::UseFakePads();
        GamepadState pad(1);
        xinputtest::SetPad(1, Buttons(0));
        pad.Poll(0.25f);
        xinputtest::TakeVibrations();
        pad.Rumble(0.5f, c.left, c.right);
        auto sent = xinputtest::TakeVibrations();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].left, c.leftSpeed) << c.left;
        EXPECT_EQ(sent[0].right, c.rightSpeed) << c.right;
        EXPECT_EQ(pad.GetRumbleTime(), c.runs ? 0.5f : 0.0f);
        if (!c.runs) continue;
        // 0.5 s at 0.25 s a frame: two polls spend it, the third stops the motors.
        pad.Poll(0.25f);
        pad.Poll(0.25f);
        EXPECT_TRUE(xinputtest::TakeVibrations().empty());
        pad.Poll(0.25f);
        sent = xinputtest::TakeVibrations();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].left, 0);
        EXPECT_EQ(sent[0].right, 0);
    }
}

TEST_F(Bindings, RumbleOnADisconnectedSlotDoesNothing) {
    GamepadState pad(0);
    pad.Rumble(1.0f, 1.0f, 1.0f);
    pad.Vibrate(1.0f, 1.0f);
    EXPECT_EQ(pad.GetRumbleTime(), 0.0f);
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());
}

TEST_F(Bindings, GamepadStatesCopyWithTheirIndex) {
    GamepadState slots[4];
    for (unsigned i = 0; i < 4; ++i)
        slots[i] = GamepadState(i);
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_EQ(slots[i].GetIndex(), i);
    EXPECT_EQ(GamepadState().GetIndex(), 0u);
    EXPECT_FALSE(GamepadState(2).IsConnected());
}

} // namespace
