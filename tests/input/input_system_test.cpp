#include <InputSystem.h>

#include <Callable.h>
#include <Components.h>
#include <Engine.h>
#include <EngineTestControl.h>
#include <GameState.h>
#include <ObjectFactory.h>
#include <win32_user_testing.h>
#include <xinput_testing.h>

#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

// One input message as the game rules see it.
struct Seen {
    MessageType type;
    bool wrapped;
    unsigned player;
    std::string what; // action, stick "x,y", or empty

    bool operator==(const Seen& other) const {
        return type == other.type && wrapped == other.wrapped && player == other.player && what == other.what;
    }
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << "{" << MessageTypeName(s.type) << (s.wrapped ? " wrapped" : "") << " p" << s.player << " "
               << s.what << "}";
}

class InputRecorder {
public:
    InputRecorder() {
        for (MessageType type : kTypes)
            Engine::RegisterListener(type, Callable(this, &InputRecorder::OnMessage));
    }
    ~InputRecorder() {
        for (MessageType type : kTypes)
            Engine::UnregisterListener(type, Callable(this, &InputRecorder::OnMessage));
    }
    void OnMessage(const std::shared_ptr<Message>& message) {
        if (message->GetMessageType() == MessageType::Quit) {
            ++quits;
            return;
        }
        if (message->GetMessageType() == MessageType::HasKeyboardFocus) {
            focus.push_back(dynamic_cast<const HasKeyboardFocusMessage&>(*message).GetHasFocus());
            return;
        }
        if (const auto* id = dynamic_cast<const ControllerIDMessage*>(message.get())) {
            Seen s = Describe(*id->GetWrappedMessage());
            EXPECT_EQ(s.player, id->GetPlayerNumber()) << "wrapper and content disagree";
            s.wrapped = true;
            seen.push_back(s);
            return;
        }
        seen.push_back(Describe(*message));
    }
    std::vector<Seen> Take() {
        std::vector<Seen> out;
        out.swap(seen);
        return out;
    }

    std::vector<Seen> seen;
    int quits = 0;
    std::vector<bool> focus;

private:
    static Seen Describe(const Message& m) {
        if (const auto* b = dynamic_cast<const ButtonMessage*>(&m))
            return {m.GetMessageType(), false, b->GetPlayerNumber(), b->GetAction()};
        if (const auto* t = dynamic_cast<const TriggerMessage*>(&m))
            return {m.GetMessageType(), false, t->GetPlayerNumber(), ""};
        if (const auto* s = dynamic_cast<const StickMessage*>(&m))
            return {m.GetMessageType(), false, s->GetPlayerNumber(),
                    std::to_string(s->GetX()) + "," + std::to_string(s->GetY())};
        if (const auto* l = dynamic_cast<const MouseLookMessage*>(&m)) {
            char text[64];
            std::snprintf(text, sizeof text, "%.2f,%.2f", l->GetX(), l->GetY());
            return {m.GetMessageType(), false, l->GetPlayerNumber(), text};
        }
        return {m.GetMessageType(), false, 99, "?"};
    }
    static constexpr MessageType kTypes[] = {MessageType::ButtonTrigger, MessageType::ButtonPress,
                                             MessageType::ButtonRelease, MessageType::ControllerID,
                                             MessageType::Quit,          MessageType::HasKeyboardFocus};
};

Seen Bare(MessageType type, const char* action) {
    return {type, false, 0, action};
}
Seen Pad(MessageType type, unsigned player, const char* what = "") {
    return {type, true, player, what};
}

// Both sticks at rest, as every frame of a registered controller ends.
void AddSticks(std::vector<Seen>& frame, unsigned player, const char* left = "0,0",
               const char* right = "0,0") {
    frame.push_back(Pad(MessageType::LeftStick, player, left));
    frame.push_back(Pad(MessageType::RightStick, player, right));
}

class InputSystemTest : public ::testing::Test {
protected:
    static constexpr float kFrame = 0.016f;

    void SetUp() override {
        win32usertest::UseFakeInput();
        win32usertest::ResetCursor();
        xinputtest::UseFakePads();
        GameState::SetState(GameState::IDLE);
        input = new InputSystem(L"Input");
        Engine::AddSystem(input);
        Engine::Initialize();
        recorder = std::make_unique<InputRecorder>();
    }
    void TearDown() override {
        recorder.reset();
        Engine::Release();
        win32usertest::UseRealInput();
        xinputtest::UseRealPads();
        GameState::SetState(GameState::IDLE);
    }

    // A player object with a Controller; its number is given when the creation message arrives.
    std::weak_ptr<Object> AddPlayer() {
        std::weak_ptr<Object> object = Engine::mFactory->CreateGenericObject();
        EXPECT_NE(Engine::mFactory->GiveObjectComponent(object, "Controller"), nullptr);
        return object;
    }
    static std::shared_ptr<Controller> ControllerOf(const std::weak_ptr<Object>& object) {
        auto locked = object.lock();
        if (!locked) return nullptr;
        return std::dynamic_pointer_cast<Controller>(locked->GetComponent(ComponentType::Controller).lock());
    }
    void Frame(float dt = kFrame) { ASSERT_EQ(Engine::RunFrames(1, dt), 1); }
    // Delivers pending messages without a frame of input: a frame whose messages are thrown away.
    void Settle() {
        Frame();
        recorder->Take();
    }
    // Registers the controller, then lets its slot find the pad.
    void SettleConnected() {
        Settle();
        Settle();
    }
    void SendNow(std::shared_ptr<Message> message) { Engine::ImmediateMessage(std::move(message)); }
    static SDL_Event WindowEvent(Uint8 event) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = event;
        return e;
    }

    InputSystem* input = nullptr;
    std::unique_ptr<InputRecorder> recorder;
};

// ---- controller numbering -------------------------------------------------------------------

TEST_F(InputSystemTest, ControllersTakeTheSmallestFreeNumberAndTheFirstFourASlot) {
    std::vector<std::weak_ptr<Object>> players;
    for (int i = 0; i < 5; ++i)
        players.push_back(AddPlayer());
    Settle();
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(ControllerOf(players[i])->GetPlayerNumber(), i);

    Engine::mFactory->Destroy(players[1]);
    auto again = AddPlayer();
    Settle();
    EXPECT_EQ(ControllerOf(again)->GetPlayerNumber(), 1u);

    // The fifth has no slot, so it never counts as taken: the next one gets 4 as well.
    auto sixth = AddPlayer();
    Settle();
    EXPECT_EQ(ControllerOf(sixth)->GetPlayerNumber(), 4u);

    Engine::mFactory->Destroy(players[0]);
    Engine::mFactory->Destroy(players[3]);
    auto seventh = AddPlayer();
    auto eighth = AddPlayer();
    Settle();
    EXPECT_EQ(ControllerOf(seventh)->GetPlayerNumber(), 0u);
    EXPECT_EQ(ControllerOf(eighth)->GetPlayerNumber(), 3u);
}

TEST_F(InputSystemTest, OtherComponentsAreNotNumbered) {
    auto object = Engine::mFactory->CreateGenericObject();
    Engine::mFactory->GiveObjectComponent(object, "Transform");
    auto player = AddPlayer();
    Settle();
    EXPECT_EQ(ControllerOf(player)->GetPlayerNumber(), 0u);
}

// ---- the message stream of a frame -------------------------------------------------------------

struct FrameInput {
    std::vector<int> keys;
    bool padConnected;
    XINPUT_GAMEPAD pad;
    std::vector<Seen> expected; // sticks at rest are added unless `sticks` says otherwise
    const char* leftStick = "0,0";
    const char* rightStick = "0,0";
};

struct StreamCase {
    const char* name;
    std::vector<FrameInput> frames;
};

XINPUT_GAMEPAD P(WORD buttons, BYTE lt = 0, BYTE rt = 0, SHORT lx = 0, SHORT ly = 0, SHORT rx = 0,
                 SHORT ry = 0) {
    return XINPUT_GAMEPAD{buttons, lt, rt, lx, ly, rx, ry};
}

using MT = MessageType;
constexpr WORD kUp = XINPUT_GAMEPAD_DPAD_UP;

const StreamCase kStreams[] = {
    {"W tap",
     {{{'W'}, false, {}, {Bare(MT::ButtonTrigger, "Up")}},
      {{'W'}, false, {}, {Bare(MT::ButtonPress, "Up")}},
      {{'W'}, false, {}, {Bare(MT::ButtonPress, "Up")}},
      {{}, false, {}, {Bare(MT::ButtonRelease, "Up")}},
      {{}, false, {}, {}}}},
    {"pad d-pad up",
     {{{}, true, P(kUp), {Pad(MT::ButtonTrigger, 0, "Up")}},
      {{}, true, P(kUp), {Pad(MT::ButtonPress, 0, "Up")}},
      {{}, true, P(0), {Pad(MT::ButtonRelease, 0, "Up")}},
      {{}, true, P(0), {}}}},
    {"pad goes down while the key is held",
     {{{'W'}, true, P(0), {Bare(MT::ButtonTrigger, "Up")}},
      {{'W'}, true, P(kUp), {Pad(MT::ButtonTrigger, 0, "Up")}},
      {{'W'}, true, P(kUp), {Bare(MT::ButtonPress, "Up")}}}},
    {"key and pad at once: the key answers",
     {{{'W'}, true, P(kUp), {Bare(MT::ButtonTrigger, "Up")}},
      {{}, true, P(kUp), {Pad(MT::ButtonPress, 0, "Up")}},
      {{}, true, P(0), {Pad(MT::ButtonRelease, 0, "Up")}}}},
    {"two actions in list order",
     {{{'D', VK_ESCAPE, VK_LBUTTON},
       true,
       P(XINPUT_GAMEPAD_X),
       {Bare(MT::ButtonTrigger, "Right"), Bare(MT::ButtonTrigger, "Pause"), Pad(MT::ButtonTrigger, 0, "Use"),
        Bare(MT::ButtonTrigger, "Shoot")}}}},
    {"triggers 128 and 129",
     {{{}, true, P(0, 128, 128), {}},
      {{},
       true,
       P(0, 129, 129),
       {Pad(MT::LeftTriggerTrigger, 0), Pad(MT::RightTriggerTrigger, 0), Pad(MT::LeftTriggerTrigger, 0),
        Pad(MT::RightTriggerPress, 0)}},
      {{}, true, P(0, 255, 200), {Pad(MT::LeftTriggerTrigger, 0), Pad(MT::RightTriggerPress, 0)}},
      {{}, true, P(0, 128, 0), {Pad(MT::LeftTriggerRelease, 0), Pad(MT::RightTriggerRelease, 0)}}}},
    {"sticks and their dead zones",
     {{{}, true, P(0, 0, 0, 7849, -7849, 8689, -8689), {}},
      {{}, true, P(0, 0, 0, 7850, 3, -8690, 8689), {}, "7850,3", "-8690,8689"},
      {{}, true, P(0, 0, 0, -32768, 32767, 0, 9000), {}, "-32768,32767", "0,9000"}}},
    {"a disconnected pad keeps its sticks at rest", {{{}, false, P(0, 0, 0, 20000, 20000), {}}}},
};

class MessageStream : public InputSystemTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(MessageStream, FramesGiveExactlyTheseMessages) {
    AddPlayer();
    Settle();
    int index = 0;
    for (const FrameInput& frame : GetParam().frames) {
        win32usertest::ReleaseAllKeys();
        for (int key : frame.keys)
            win32usertest::SetKeyDown(key, true);
        if (frame.padConnected) {
            xinputtest::SetPad(0, frame.pad);
        } else {
            xinputtest::DisconnectPad(0);
        }
        Frame();
        std::vector<Seen> expected = frame.expected;
        AddSticks(expected, 0, frame.leftStick, frame.rightStick);
        EXPECT_EQ(recorder->Take(), expected) << "frame " << index;
        ++index;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, MessageStream, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// ---- a pad unplugged while it holds something ------------------------------------------------------

struct HeldInput {
    const char* name;
    XINPUT_GAMEPAD pad;
    std::vector<Seen> letGo; // what the frame that finds the pad gone says, besides the sticks at rest
};

void PrintTo(const HeldInput& held, std::ostream* out) {
    *out << held.name;
}

constexpr unsigned kThird = 2;

const HeldInput kHeldInputs[] = {
    {"dpad up", P(kUp), {Pad(MT::ButtonRelease, kThird, "Up")}},
    {"dpad down", P(XINPUT_GAMEPAD_DPAD_DOWN), {Pad(MT::ButtonRelease, kThird, "Down")}},
    {"dpad left", P(XINPUT_GAMEPAD_DPAD_LEFT), {Pad(MT::ButtonRelease, kThird, "Left")}},
    {"dpad right", P(XINPUT_GAMEPAD_DPAD_RIGHT), {Pad(MT::ButtonRelease, kThird, "Right")}},
    {"A sprints", P(XINPUT_GAMEPAD_A), {Pad(MT::ButtonRelease, kThird, "Sprint")}},
    {"left trigger sprints", P(0, 255), {Pad(MT::LeftTriggerRelease, kThird)}},
    {"right trigger", P(0, 0, 200), {Pad(MT::RightTriggerRelease, kThird)}},
    {"start", P(XINPUT_GAMEPAD_START), {Pad(MT::ButtonRelease, kThird, "Pause")}},
    {"X", P(XINPUT_GAMEPAD_X), {Pad(MT::ButtonRelease, kThird, "Use")}},
    {"Y", P(XINPUT_GAMEPAD_Y), {Pad(MT::ButtonRelease, kThird, "Drop")}},
    {"left shoulder", P(XINPUT_GAMEPAD_LEFT_SHOULDER), {Pad(MT::ButtonRelease, kThird, "PreviousWeapon")}},
    {"right shoulder", P(XINPUT_GAMEPAD_RIGHT_SHOULDER), {Pad(MT::ButtonRelease, kThird, "NextWeapon")}},
    {"B, back and the thumbs have no action",
     P(XINPUT_GAMEPAD_B | XINPUT_GAMEPAD_BACK | XINPUT_GAMEPAD_LEFT_THUMB | XINPUT_GAMEPAD_RIGHT_THUMB),
     {}},
    {"left stick", P(0, 0, 0, 20000, 30000), {}},
    {"right stick", P(0, 0, 0, 0, 0, -30000, 0), {}},
    {"everything at once",
     P(0xFFFF, 255, 255, -32768, 32767, 32767, 0),
     {Pad(MT::ButtonRelease, kThird, "Left"), Pad(MT::ButtonRelease, kThird, "Right"),
      Pad(MT::ButtonRelease, kThird, "Up"), Pad(MT::ButtonRelease, kThird, "Down"),
      Pad(MT::ButtonRelease, kThird, "Pause"), Pad(MT::ButtonRelease, kThird, "Use"),
      Pad(MT::ButtonRelease, kThird, "Sprint"), Pad(MT::ButtonRelease, kThird, "Drop"),
      Pad(MT::ButtonRelease, kThird, "PreviousWeapon"), Pad(MT::ButtonRelease, kThird, "NextWeapon"),
      Pad(MT::LeftTriggerRelease, kThird), Pad(MT::RightTriggerRelease, kThird)}},
};

// Hands each player's wrapped pad messages to that player's Controller, as the game rules do.
class ToControllers {
public:
    ToControllers() {
        Engine::RegisterListener(MessageType::ControllerID, Callable(this, &ToControllers::On));
    }
    ~ToControllers() {
        Engine::UnregisterListener(MessageType::ControllerID, Callable(this, &ToControllers::On));
    }
    void On(const std::shared_ptr<Message>& message) {
        const auto& id = static_cast<const ControllerIDMessage&>(*message);
        for (const auto& controller : controllers)
            if (controller->GetPlayerNumber() == id.GetPlayerNumber())
                controller->HandleMessage(id.GetWrappedMessage());
    }
    std::vector<std::shared_ptr<Controller>> controllers;
};

class UnpluggedWhileHeld : public InputSystemTest, public ::testing::WithParamInterface<HeldInput> {
protected:
    // Three walking players; the third is the one whose pad goes.
    void SetUp() override {
        InputSystemTest::SetUp();
        GameState::SetState(GameState::PLAYING);
        for (unsigned i = 0; i <= kThird; ++i) {
            auto object = AddPlayer();
            for (const char* part : {"RigidBody", "Transform", "PlayerStats"})
                ASSERT_NE(Engine::mFactory->GiveObjectComponent(object, part), nullptr) << part;
            route.controllers.push_back(ControllerOf(object));
            if (i == kThird)
                body = std::static_pointer_cast<RigidBody>(
                    object.lock()->GetComponent(ComponentType::RigidBody).lock());
        }
        Settle();
    }
    // One frame of input and of the third player's controls; what the third player's pad said.
    std::vector<Seen> Step() {
        Frame();
        route.controllers[kThird]->Update(kFrame);
        std::vector<Seen> third;
        for (const Seen& s : recorder->Take())
            if (s.player == kThird) third.push_back(s);
        return third;
    }
    float Speed() const { return std::hypot(body->velocity.getX(), body->velocity.getZ()); }

    ToControllers route;
    std::shared_ptr<RigidBody> body;
};

TEST_P(UnpluggedWhileHeld, WhatThePadHeldIsLetGoOnceAndThePlayerStops) {
    xinputtest::SetPad(kThird, GetParam().pad);
    for (int i = 0; i < 3; ++i)
        Step();

    xinputtest::DisconnectPad(kThird);
    std::vector<Seen> expected = GetParam().letGo;
    AddSticks(expected, kThird);
    EXPECT_EQ(Step(), expected) << "the frame that finds the pad gone";
    EXPECT_EQ(Speed(), 0.0f);
    // Two seconds without the pad, its slot tried twice: nothing more is let go and nobody moves.
    std::vector<Seen> atRest;
    AddSticks(atRest, kThird);
    const float yaw = route.controllers[kThird]->GetYaw();
    for (int i = 0; i < 125; ++i)
        ASSERT_EQ(Step(), atRest) << "frame " << i << " after the unplug";
    EXPECT_EQ(Speed(), 0.0f);
    EXPECT_EQ(route.controllers[kThird]->GetYaw(), yaw) << "the right stick no longer turns";

    // Plugged in again with only the d-pad up held: a walk, not a sprint that A or the trigger left on.
    xinputtest::SetPad(kThird, P(kUp));
    for (int i = 0; i < 125 && Speed() == 0.0f; ++i)
        Step();
    EXPECT_FLOAT_EQ(Speed(), Controller::kWalkSpeed);
}

INSTANTIATE_TEST_SUITE_P(Inputs, UnpluggedWhileHeld, ::testing::ValuesIn(kHeldInputs),
                         [](const ::testing::TestParamInfo<HeldInput>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

TEST_F(InputSystemTest, EachPlayerHearsOnlyItsOwnPad) {
    std::vector<std::weak_ptr<Object>> players;
    for (int i = 0; i < 3; ++i)
        players.push_back(AddPlayer());
    Settle();
    win32usertest::SetKeyDown('W', true); // the keyboard is player 0's only
    xinputtest::SetPad(2, P(XINPUT_GAMEPAD_A));
    Frame();
    std::vector<Seen> perPlayer[3];
    for (const Seen& s : recorder->Take()) {
        ASSERT_LT(s.player, 3u);
        perPlayer[s.player].push_back(s);
    }
    std::vector<Seen> expected0{Bare(MT::ButtonTrigger, "Up")};
    AddSticks(expected0, 0);
    std::vector<Seen> expected1;
    AddSticks(expected1, 1);
    std::vector<Seen> expected2{Pad(MT::ButtonTrigger, 2, "Sprint")};
    AddSticks(expected2, 2);
    EXPECT_EQ(perPlayer[0], expected0);
    EXPECT_EQ(perPlayer[1], expected1);
    EXPECT_EQ(perPlayer[2], expected2);
}

TEST_F(InputSystemTest, WithoutControllersThereAreNoButtonTriggerOrStickMessages) {
    win32usertest::SetKeyDown('W', true);
    xinputtest::SetPad(0, P(kUp, 255, 255, 30000));
    for (int i = 0; i < 3; ++i)
        Frame();
    EXPECT_TRUE(recorder->Take().empty());
    EXPECT_EQ(xinputtest::GetStateCalls(0), 0);
}

TEST_F(InputSystemTest, ControllersWithoutASlotProduceNothing) {
    std::vector<std::weak_ptr<Object>> players;
    for (int i = 0; i < 5; ++i)
        players.push_back(AddPlayer());
    Settle();
    Frame();
    for (const Seen& s : recorder->Take())
        EXPECT_LT(s.player, 4u) << s;
}

TEST_F(InputSystemTest, WhileTheWindowIsInactiveOnlyEventsArePumped) {
    AddPlayer();
    Settle();
    win32usertest::SetKeyDown('W', true);
    Frame();
    recorder->Take();
    for (Uint8 lost : {Uint8{SDL_WINDOWEVENT_FOCUS_LOST}, Uint8{SDL_WINDOWEVENT_MINIMIZED}}) {
        SendNow(std::make_shared<SDLEventMessage>(L"Test", WindowEvent(lost)));
        EXPECT_FALSE(input->IsActive());
        const int pollsBefore = xinputtest::GetStateCalls(0);
        win32usertest::SetKeyDown('W', false);
        Frame();
        win32usertest::SetKeyDown('W', true);
        Frame();
        EXPECT_TRUE(recorder->Take().empty());
        EXPECT_EQ(xinputtest::GetStateCalls(0), pollsBefore);
        const Uint8 back =
            lost == SDL_WINDOWEVENT_FOCUS_LOST ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_RESTORED;
        SendNow(std::make_shared<SDLEventMessage>(L"Test", WindowEvent(back)));
        EXPECT_TRUE(input->IsActive());
        // Compared with the keys read before the focus went: W was down then and is down now.
        Frame();
        std::vector<Seen> expected{Bare(MT::ButtonPress, "Up")};
        AddSticks(expected, 0);
        EXPECT_EQ(recorder->Take(), expected);
    }
}

TEST_F(InputSystemTest, MouseLookRunsWhilePlayingEvenWithoutControllers) {
    SDL_Window* window = nullptr;
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    window = SDL_CreateWindow("Torvik", 100, 100, 1600, 900, SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr);
    SendNow(std::make_shared<WindowMessage>(L"Window", window, nullptr));
    EXPECT_EQ(input->GetWindowHandle(), window);
    win32usertest::SetCursorScreenPos(900, 550);
    Frame();
    GameState::SetState(GameState::PLAYING);
    win32usertest::SetCursorScreenPos(903, 554);
    Frame();
    Frame();
    const std::vector<Seen> expected{Pad(MT::MouseLook, 0, "0.60,-0.80"), Pad(MT::MouseLook, 0, "0.00,0.00")};
    EXPECT_EQ(recorder->Take(), expected);

    // With gamepad 0 connected the mouse is not read as a direction.
    AddPlayer();
    xinputtest::SetPad(0, P(0));
    Settle();
    win32usertest::SetCursorScreenPos(800, 550);
    Frame();
    for (const Seen& s : recorder->Take())
        EXPECT_NE(s.type, MT::MouseLook) << s;
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// ---- rumble --------------------------------------------------------------------------------------

TEST_F(InputSystemTest, VibrateStrengthsGiveTheseMotorSpeeds) {
    auto player = AddPlayer();
    xinputtest::SetPad(0, P(0));
    SettleConnected();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float strength;
        WORD speed;
        float time;
    };
    for (Case c : {Case{-1.0f, 0, 0.0f}, Case{0.0f, 0, 0.0f}, Case{0.5f, 32767, 2.0f},
                   Case{2.0f, 65535, 2.0f}, Case{nan, 0, 0.0f}}) {
        xinputtest::TakeVibrations();
        SendNow(
            std::make_shared<ControllerVibrateMessage>(L"GameLogic", ControllerOf(player), 2.0f, c.strength));
        const auto sent = xinputtest::TakeVibrations();
        ASSERT_EQ(sent.size(), 1u) << c.strength;
        EXPECT_EQ(sent[0].userIndex, 0u);
        EXPECT_EQ(sent[0].left, c.speed) << c.strength;
        EXPECT_EQ(sent[0].right, c.speed) << c.strength;
        EXPECT_EQ(input->GetSlot(0).GetRumbleTime(), c.time) << c.strength;
    }
}

TEST_F(InputSystemTest, VibrateMessagesForUnknownExpiredOrSlotlessControllersAreIgnored) {
    std::vector<std::weak_ptr<Object>> players;
    for (int i = 0; i < 5; ++i)
        players.push_back(AddPlayer());
    for (DWORD i = 0; i < 4; ++i)
        xinputtest::SetPad(i, P(0));
    SettleConnected();
    xinputtest::TakeVibrations();

    // The fifth controller has no slot.
    SendNow(std::make_shared<ControllerVibrateMessage>(L"GameLogic", ControllerOf(players[4]), 1.0f, 1.0f));
    SendNow(std::make_shared<ControllerVibrateMotorsMessage>(L"GameLogic", ControllerOf(players[4]), 1.0f,
                                                             1.0f, 1.0f));
    // A controller the input system never heard of.
    auto stranger = Engine::mFactory->CreateComponent("Controller");
    SendNow(std::make_shared<ControllerVibrateMessage>(L"GameLogic", stranger, 1.0f, 1.0f));
    // An expired one.
    std::weak_ptr<Component> expired;
    {
        auto gone = Engine::mFactory->CreateComponent("Controller");
        expired = gone;
    }
    SendNow(std::make_shared<ControllerVibrateMotorsMessage>(L"GameLogic", expired, 1.0f, 1.0f, 1.0f));
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());

    // A slot that lost its pad is not vibrated either.
    xinputtest::DisconnectPad(1);
    Frame();
    xinputtest::TakeVibrations();
    SendNow(std::make_shared<ControllerVibrateMessage>(L"GameLogic", ControllerOf(players[1]), 1.0f, 1.0f));
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());

    // A destroyed controller leaves the table.
    auto component = ControllerOf(players[2]);
    Engine::mFactory->Destroy(players[2]);
    SendNow(std::make_shared<ControllerVibrateMessage>(L"GameLogic", component, 1.0f, 1.0f));
    EXPECT_TRUE(xinputtest::TakeVibrations().empty());
}

TEST_F(InputSystemTest, MotorMessagesRumbleEachMotor) {
    auto player = AddPlayer();
    xinputtest::SetPad(0, P(0));
    SettleConnected();
    xinputtest::TakeVibrations();
    SendNow(std::make_shared<ControllerVibrateMotorsMessage>(L"GameLogic", ControllerOf(player), 0.5f, 0.25f,
                                                             3.0f));
    auto sent = xinputtest::TakeVibrations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].left, 16383);
    EXPECT_EQ(sent[0].right, 65535);
    EXPECT_EQ(input->GetSlot(0).GetRumbleTime(), 0.5f);
    SendNow(std::make_shared<ControllerVibrateMotorsMessage>(L"GameLogic", ControllerOf(player), 9.0f, 0.0f,
                                                             -1.0f));
    EXPECT_EQ(input->GetSlot(0).GetRumbleTime(), 0.0f);
}

TEST_F(InputSystemTest, PauseFocusLossAndMinimiseStopTheRumble) {
    auto player = AddPlayer();
    xinputtest::SetPad(0, P(0));
    SettleConnected();
    struct Case {
        const char* name;
        std::shared_ptr<Message> stop;
        bool stops;
    };
    const Case cases[] = {
        {"pause", std::make_shared<PauseMessage>(L"GameLogic", PAUSE_GAME, 0u), true},
        {"resume", std::make_shared<PauseMessage>(L"GameLogic", UNPAUSE_GAME, 0u), false},
        {"focus lost", std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST)),
         true},
        {"minimised", std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_MINIMIZED)),
         true},
        {"resized", std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_RESIZED)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendNow(std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED)));
        SendNow(std::make_shared<ControllerVibrateMessage>(L"GameLogic", ControllerOf(player), 5.0f, 1.0f));
        xinputtest::TakeVibrations();
        SendNow(c.stop);
        const auto sent = xinputtest::TakeVibrations();
        if (c.stops) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].left, 0);
            EXPECT_EQ(input->GetSlot(0).GetRumbleTime(), 0.0f);
        } else {
            EXPECT_TRUE(sent.empty());
            EXPECT_EQ(input->GetSlot(0).GetRumbleTime(), 5.0f);
        }
    }
}

// ---- cursor, quit, native messages --------------------------------------------------------------

TEST_F(InputSystemTest, DisplayCursorCallsShowCursorUntilTheCountIsOnTheAskedSide) {
    struct Step {
        bool show;
        int calls;
        int count;
    };
    // From the initial count 0: already shown costs one call.
    const Step steps[] = {{true, 1, 1}, {false, 2, -1}, {false, 1, -2}, {true, 2, 0}};
    for (const Step& step : steps) {
        const int before = win32usertest::ShowCursorCalls();
        SendNow(std::make_shared<DisplayCursorMessage>(L"GameLogic", step.show));
        EXPECT_EQ(win32usertest::ShowCursorCalls() - before, step.calls);
        EXPECT_EQ(win32usertest::CursorDisplayCount(), step.count);
    }
}

TEST_F(InputSystemTest, EachQuitEventGivesExactlyOneQuitMessage) {
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_EQ(Engine::RunFrames(5, kFrame), 1); // the quit ends the loop
    EXPECT_EQ(recorder->quits, 2);
}

class NativeMessages : public InputSystemTest {
protected:
    void SetUp() override {
        InputSystemTest::SetUp();
        SendNow(std::make_shared<ImGuiReferenceMessage>(L"ImGui", &io));
    }
    ImGuiIO io;
};

TEST_F(NativeMessages, WindowMessagesWriteTheGuiInputBlock) {
    input->HandleWindowMessage(WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(io.KeysDown['A']);
    input->HandleWindowMessage(WM_KEYUP, 'A', 0);
    EXPECT_FALSE(io.KeysDown['A']);
    input->HandleWindowMessage(WM_KEYDOWN, 255, 0);
    EXPECT_TRUE(io.KeysDown[255]);
    for (WPARAM outside : {WPARAM{256}, WPARAM{511}, WPARAM{100000}})
        input->HandleWindowMessage(WM_KEYDOWN, outside, 0);
    EXPECT_FALSE(io.KeysDown[256]);
    EXPECT_FALSE(io.KeysDown[511]);

    input->HandleWindowMessage(WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-5), static_cast<WORD>(-32768)));
    EXPECT_EQ(io.MousePos.x, -5.0f);
    EXPECT_EQ(io.MousePos.y, -32768.0f);
    input->HandleWindowMessage(WM_MOUSEMOVE, 0, MAKELPARAM(1599, 899));
    EXPECT_EQ(io.MousePos.x, 1599.0f);
    EXPECT_EQ(io.MousePos.y, 899.0f);

    struct ButtonCase {
        UINT message;
        int button;
        bool down;
    };
    for (ButtonCase c : {ButtonCase{WM_LBUTTONDOWN, 0, true}, ButtonCase{WM_RBUTTONDOWN, 1, true},
                         ButtonCase{WM_LBUTTONUP, 0, false}, ButtonCase{WM_RBUTTONUP, 1, false}}) {
        // A new pump each time: a button's second change in one pump waits for the next.
        input->PollSDLEvents();
        input->HandleWindowMessage(c.message, 0, 0);
        EXPECT_EQ(io.MouseDown[c.button], c.down) << c.message;
    }
    input->HandleWindowMessage(0x0207, 0, 0); // middle button: ignored
    EXPECT_FALSE(io.MouseDown[2]);

    const float wheelBefore = io.MouseWheel;
    input->HandleWindowMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    input->HandleWindowMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0);
    input->HandleWindowMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    EXPECT_EQ(io.MouseWheel - wheelBefore, 1.0f);
}

// The mouse messages of one pump, and what the GUI block holds after that pump and each later one:
// "L" and "R" for the buttons held, then the pointer's x.
struct MousePumpCase {
    const char* name;
    std::vector<std::pair<UINT, int>> messages; // message, pointer x for moves
    std::vector<std::string> pumps;
};

TEST_F(NativeMessages, EachPumpShowsTheGuiAtMostOneChangeOfEachButton) {
    const std::vector<MousePumpCase> table = {
        {"a click within one pump", {{WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 0}}, {"L 0", " 0", " 0"}},
        {"a move after the press waits with the release",
         {{WM_MOUSEMOVE, 7}, {WM_LBUTTONDOWN, 0}, {WM_MOUSEMOVE, 9}, {WM_LBUTTONUP, 0}},
         {"L 7", " 9", " 9"}},
        {"a double click",
         {{WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 0}, {WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 0}},
         {"L 0", " 0", "L 0", " 0", " 0"}},
        {"each button changes once per pump",
         {{WM_RBUTTONDOWN, 0}, {WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 0}, {WM_RBUTTONUP, 0}},
         {"LR 0", " 0", " 0"}},
        {"a press alone", {{WM_LBUTTONDOWN, 0}}, {"L 0", "L 0"}},
    };
    for (const MousePumpCase& c : table) {
        SCOPED_TRACE(c.name);
        io.MouseDown[0] = io.MouseDown[1] = false;
        io.MousePos = ImVec2(0, 0);
        input->PollSDLEvents();
        for (const auto& [message, x] : c.messages)
            input->HandleWindowMessage(message, 0, MAKELPARAM(x, 0));
        std::vector<std::string> seen;
        for (std::size_t pump = 0; pump < c.pumps.size(); ++pump) {
            if (pump > 0) input->PollSDLEvents();
            seen.push_back(std::string(io.MouseDown[0] ? "L" : "") + (io.MouseDown[1] ? "R" : "") + " " +
                           std::to_string(int(io.MousePos.x)));
        }
        EXPECT_EQ(seen, c.pumps);
        // Released for the next case.
        input->PollSDLEvents();
        input->HandleWindowMessage(WM_LBUTTONUP, 0, 0);
    }
}

TEST_F(NativeMessages, ActivateReportsTheKeyboardFocus) {
    input->HandleWindowMessage(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    input->HandleWindowMessage(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 1234); // another window: no report
    input->HandleWindowMessage(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    input->HandleWindowMessage(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 1), 0);
    Frame();
    EXPECT_EQ(recorder->focus, (std::vector<bool>{false, true}));
}

TEST_F(NativeMessages, TheGuiReferenceServesOneEventPump) {
    // The reference arrived before this frame: its event pump writes the block, then lets go.
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.scancode = SDL_SCANCODE_E;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    Frame();
    EXPECT_TRUE(io.KeysDown['E']);

    key.key.keysym.scancode = SDL_SCANCODE_Q;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    Frame();
    EXPECT_FALSE(io.KeysDown['Q']);
    input->HandleWindowMessage(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    Frame();
    EXPECT_TRUE(recorder->focus.empty());

    // A reference relayed during a frame serves the next frame's pump.
    Engine::RelayMessage(std::make_shared<ImGuiReferenceMessage>(L"ImGui", &io));
    Frame();
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    Frame();
    EXPECT_TRUE(io.KeysDown['Q']);
}

TEST_F(InputSystemTest, ReleaseRemovesEveryListener) {
    const MessageType types[] = {MT::CreatedComponent,
                                 MT::DestroyedComponent,
                                 MT::ControllerVibrate,
                                 MT::ControllerVibrateMotors,
                                 MT::Pause,
                                 MT::SDLEvent,
                                 MT::DisplayCursor,
                                 MT::Window,
                                 MT::ImGuiReference};
    for (MessageType type : types)
        EXPECT_EQ(EngineTest::ListenerCount(type), 1u) << MessageTypeName(type);
    EXPECT_EQ(input->Release(), 0);
    for (MessageType type : types)
        EXPECT_EQ(EngineTest::ListenerCount(type), 0u) << MessageTypeName(type);
    EXPECT_EQ(input->GetActions().size(), 18u);
}

} // namespace
