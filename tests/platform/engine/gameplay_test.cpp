// The engine's gameplay: players' controls, pickups, escape pods and drowning in flooded rooms.
#include "engine_fixture.h"

#include <cmath>

namespace {

using namespace Vectormath::Aos;

// Every game event and give-items message that reaches the bus.
class EventLog {
public:
    EventLog() {
        Engine::RegisterListener(MessageType::GameEvent, Callable(this, &EventLog::Record));
        Engine::RegisterListener(MessageType::GiveItems, Callable(this, &EventLog::Record));
    }
    ~EventLog() {
        Engine::UnregisterListener(MessageType::GameEvent, Callable(this, &EventLog::Record));
        Engine::UnregisterListener(MessageType::GiveItems, Callable(this, &EventLog::Record));
    }
    void Record(const std::shared_ptr<Message>& message) {
        if (message->GetMessageType() == MessageType::GiveItems) {
            lines.push_back("give items");
            return;
        }
        const auto& event = static_cast<const GameEventMessage&>(*message);
        lines.push_back(event.GetEventText() + " " + std::to_string(event.GetObjectID()));
    }
    std::vector<std::string> Take() { return std::exchange(lines, {}); }

private:
    std::vector<std::string> lines;
};

struct Player {
    std::shared_ptr<Object> object;
    std::shared_ptr<Transform> transform;
    std::shared_ptr<RigidBody> body;
    std::shared_ptr<Collider> collider;
    std::shared_ptr<PlayerStats> stats;
    std::shared_ptr<Controller> controller;
    std::string id() const { return std::to_string(object->GetID()); }
};

class GameplayTest : public EngineTestBase {
protected:
    void SetUp() override {
        EngineTestBase::SetUp();
        RoomHandler::InitializeRooms();
        GameState::SetState(GameState::PLAYING);
        events = std::make_unique<EventLog>();
        auto arbiter = Engine::mFactory->CreateGenericObject().lock();
        ruleset = std::make_shared<LevelRuleset>();
        arbiter->AddComponent(ruleset);
    }
    void TearDown() override {
        events.reset();
        ruleset.reset();
        EngineTestBase::TearDown();
    }

    Player MakePlayer(const std::string& name, Vector3 position) {
        Player p;
        p.object = Engine::mFactory->CreateGenericObject().lock();
        p.object->SetName(name);
        p.transform = std::make_shared<Transform>();
        p.transform->SetWorldPosition(position);
        p.body = std::make_shared<RigidBody>();
        p.body->useGravity = false;
        p.collider = std::make_shared<Collider>();
        p.stats = std::make_shared<PlayerStats>();
        p.controller = std::make_shared<Controller>();
        for (std::shared_ptr<Component> c : std::initializer_list<std::shared_ptr<Component>>{
                 p.transform, p.body, p.collider, p.stats, p.controller})
            p.object->AddComponent(c);
        return p;
    }
    std::shared_ptr<Object> MakeThing(std::shared_ptr<Component> marker, Vector3 position = Vector3(0.0f),
                                      Vector3 halfExtents = Vector3(0.5f)) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        auto transform = std::make_shared<Transform>();
        transform->SetWorldPosition(position);
        auto collider = std::make_shared<Collider>();
        collider->SetShapeType(ShapeType::AABB);
        collider->SetHalfExtents(halfExtents);
        collider->SetGhost(true);
        object->AddComponent(transform);
        object->AddComponent(collider);
        object->AddComponent(marker);
        return object;
    }
    std::shared_ptr<Object> Pickup(const std::string& type) {
        auto pickup = std::make_shared<PickupComponent>();
        pickup->SetPickupType(type);
        return MakeThing(pickup);
    }
    std::shared_ptr<Object> Room(int id, Vector3 center) {
        auto room = std::make_shared<RoomComponent>();
        room->SetRoomID(id);
        auto object = MakeThing(room, center, Vector3(5.0f, 2.0f, 5.0f));
        RoomHandler::GetRooms().emplace(id, object->GetID());
        RoomHandler::IncrementRooms();
        RoomHandler::AssignRingToRooms();
        return object;
    }
    static void Touch(const std::shared_ptr<Object>& a, const std::shared_ptr<Object>& b,
                      CollisionMessageType type = COLLISION_STARTED) {
        Engine::RelayMessage(std::make_shared<CollisionMessage>(
            L"Physics", type, std::min(a->GetID(), b->GetID()), std::max(a->GetID(), b->GetID())));
        Drain();
    }
    static void Flood() {
        RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval);
        ASSERT_TRUE(RoomHandler::IsTimeToFlood());
        RoomHandler::FloodRoom();
    }
    static void Send(const Player& p, std::shared_ptr<Message> message) {
        p.controller->HandleMessage(message);
    }
    static std::shared_ptr<Message> Button(MessageType type, const std::string& action) {
        if (type == MessageType::ButtonTrigger)
            return std::make_shared<ButtonTriggerMessage>(L"Input", action, 0);
        if (type == MessageType::ButtonPress)
            return std::make_shared<ButtonPressMessage>(L"Input", action, 0);
        return std::make_shared<ButtonReleaseMessage>(L"Input", action, 0);
    }
    static bool Alive(const std::shared_ptr<Object>& object) {
        return !Engine::mFactory->GetObjectWithID(object->GetID()).expired();
    }

    std::shared_ptr<LevelRuleset> ruleset;
    std::unique_ptr<EventLog> events;
};

TEST_F(GameplayTest, PickupsGiveTheirItemOnceWithTheExactTexts) {
    ruleset->Update(0.0f);
    Player one = MakePlayer("Player1", Vector3(0.0f));
    Player two = MakePlayer("Player2", Vector3(0.0f));
    auto key = Pickup("KeyCard");
    auto cell = Pickup("PowerCell");
    auto odd = Pickup("Gem");
    Touch(one.object, key);
    Touch(two.object, key); // gone already
    Touch(one.object, key);
    Touch(cell, two.object); // either order of ids
    Touch(two.object, odd);
    Touch(one.object, cell, COLLISION_ENDED);
    EXPECT_EQ(events->Take(),
              (std::vector<std::string>{"keycard picked up " + one.id(), "powercell picked up " + two.id(),
                                        "keycard picked up " + two.id()}));
    EXPECT_EQ(one.stats->GetKeyCards(), 1);
    EXPECT_EQ(two.stats->GetKeyCards(), 1) << "anything but a power cell is a keycard";
    EXPECT_EQ(two.stats->GetPowerCells(), 1);
    EXPECT_FALSE(Alive(key) || Alive(cell) || Alive(odd));
}

TEST_F(GameplayTest, EscapeNeedsAKeycardAndAPowerCellAndHappensOnce) {
    ruleset->Update(0.0f);
    Player p = MakePlayer("Player1", Vector3(0.0f));
    auto pod = MakeThing(std::make_shared<EscapePod>());
    Touch(p.object, pod);
    p.stats->AddKeyCard();
    Touch(p.object, pod);
    EXPECT_TRUE(events->Take().empty()) << "a keycard alone is not enough";
    p.stats->AddPowerCell();
    Touch(p.object, pod);
    Touch(p.object, pod);
    EXPECT_EQ(events->Take(), (std::vector<std::string>{"escape pod launched " + p.id()}));
    EXPECT_TRUE(Alive(pod)) << "pods take every player who qualifies";
    EXPECT_FALSE(p.stats->perished);

    // An escaped player no longer picks anything up or drowns.
    Touch(p.object, Pickup("KeyCard"));
    auto room = Room(1, Vector3(0.0f));
    Flood();
    ruleset->Update(0.1f);
    Touch(p.object, room);
    EXPECT_TRUE(events->Take().empty());
}

TEST_F(GameplayTest, NothingHappensBeforeTheFirstUpdateOrOutsidePlay) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    auto key = Pickup("KeyCard");
    Touch(p.object, key);
    EXPECT_TRUE(Alive(key)) << "a ruleset the flow never runs (another Arbiter) stays inert";
    ruleset->Update(0.0f);
    for (int state : {GameState::PAUSED, GameState::IDLE, GameState::FIRST_SPLASH}) {
        GameState::SetState(state);
        Touch(p.object, key);
        EXPECT_TRUE(Alive(key)) << state;
    }
    GameState::SetState(GameState::PLAYING);
    Touch(p.object, key);
    EXPECT_FALSE(Alive(key));

    // Once its Arbiter is destroyed (a restart), a ruleset still held somewhere judges nothing.
    auto cell = Pickup("PowerCell");
    Engine::mFactory->Destroy(ruleset->GetParent());
    Touch(p.object, cell);
    EXPECT_TRUE(Alive(cell));
}

TEST_F(GameplayTest, FloodTimelineDrownsWhoeverIsInTheFloodedRoom) {
    ruleset->Update(0.0f);
    auto first = Room(1, Vector3(0.0f, 2.0f, 0.0f));
    auto second = Room(2, Vector3(20.0f, 2.0f, 0.0f));
    Player a = MakePlayer("Player1", Vector3(1.0f, 0.5f, 1.0f));
    Player b = MakePlayer("Player2", Vector3(21.0f, 0.5f, 0.0f));
    Player c = MakePlayer("Player3", Vector3(50.0f, 0.5f, 0.0f)); // in no room
    ruleset->Update(0.1f);
    EXPECT_TRUE(events->Take().empty());

    Flood(); // ring 0: room 1
    ruleset->Update(0.1f);
    Drain();
    EXPECT_EQ(events->Take(), (std::vector<std::string>{"player died " + a.id()}));
    EXPECT_TRUE(a.stats->perished);
    ruleset->Update(0.1f);
    Drain();
    EXPECT_TRUE(events->Take().empty()) << "one death per player";

    // Walking into a flooded room drowns at the touch.
    c.transform->SetWorldPosition(Vector3(0.0f, 0.5f, 0.0f));
    Touch(c.object, first);
    EXPECT_EQ(events->Take(), (std::vector<std::string>{"player died " + c.id()}));

    Touch(b.object, second);
    EXPECT_TRUE(events->Take().empty()) << "room 2 is still dry";
    Flood();
    ruleset->Update(0.1f);
    Drain();
    EXPECT_EQ(events->Take(), (std::vector<std::string>{"player died " + b.id()}));
    EXPECT_TRUE(b.stats->perished && c.stats->perished);
}

TEST_F(GameplayTest, ControlsMoveTurnAndSprintOnlyWhilePlaying) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    Send(p, Button(MessageType::ButtonTrigger, "Up"));
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getZ(), -Controller::kWalkSpeed, 1e-5f) << "forward is -z";
    EXPECT_NEAR(p.body->velocity.getX(), 0.0f, 1e-5f);

    Send(p, Button(MessageType::ButtonPress, "Right"));
    p.controller->Update(0.1f);
    const float diagonal = Controller::kWalkSpeed / std::sqrt(2.0f);
    EXPECT_NEAR(p.body->velocity.getX(), diagonal, 1e-4f) << "never faster on a diagonal";
    EXPECT_NEAR(p.body->velocity.getZ(), -diagonal, 1e-4f);

    Send(p, Button(MessageType::ButtonRelease, "Right"));
    Send(p, Button(MessageType::ButtonTrigger, "Sprint"));
    p.controller->Update(0.5f);
    EXPECT_NEAR(p.body->velocity.getZ(), -Controller::kSprintSpeed, 1e-5f);
    EXPECT_NEAR(p.stats->GetSprintLevel(), 0.75f, 1e-5f);
    p.controller->Update(2.0f);
    EXPECT_EQ(p.stats->GetSprintLevel(), 0.0f);
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getZ(), -Controller::kWalkSpeed, 1e-5f) << "out of breath";

    // A quarter turn to the right: forward becomes +x.
    Send(p, Button(MessageType::ButtonRelease, "Sprint"));
    Send(p, std::make_shared<MouseLookMessage>(L"Mouse", 1.57079632679f / Controller::kMouseTurn, 0.0f, 0));
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getX(), Controller::kWalkSpeed, 1e-3f);
    EXPECT_NEAR(p.body->velocity.getZ(), 0.0f, 1e-3f);
    EXPECT_NEAR(p.transform->GetRotation().getY(), -1.57079632679f, 1e-5f)
        << "the camera turns with the player";

    Send(p, Button(MessageType::ButtonRelease, "Up"));
    p.controller->Update(0.1f);
    EXPECT_NEAR(length(p.body->velocity), 0.0f, 1e-5f);
}

TEST_F(GameplayTest, TheControllerIgnoresInputWhilePaused) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    GameState::SetState(GameState::PAUSED);
    Send(p, Button(MessageType::ButtonTrigger, "Left"));
    Send(p, std::make_shared<LeftStickMessage>(L"Input", 0, 32767, 0));
    Send(p, std::make_shared<MouseLookMessage>(L"Mouse", 300.0f, 0.0f, 0));
    Send(p, Button(MessageType::ButtonTrigger, "InstantWin"));
    Send(p, std::make_shared<RightTriggerTriggerMessage>(L"Input", 0));
    p.stats->SetTimeSinceFlareRecharge(p.stats->flareRechargeTime);
    Drain();
    GameState::SetState(GameState::PLAYING);
    p.controller->Update(0.1f);
    EXPECT_NEAR(length(p.body->velocity), 0.0f, 1e-6f);
    EXPECT_EQ(p.controller->GetYaw(), 0.0f);
    EXPECT_TRUE(p.controller->GetFlares().empty());
    EXPECT_TRUE(events->Take().empty());

    // A key held into the pause and let go during it is let go.
    Send(p, Button(MessageType::ButtonTrigger, "Down"));
    GameState::SetState(GameState::PAUSED);
    Send(p, Button(MessageType::ButtonRelease, "Down"));
    GameState::SetState(GameState::PLAYING);
    p.controller->Update(0.1f);
    EXPECT_NEAR(length(p.body->velocity), 0.0f, 1e-6f);
}

TEST_F(GameplayTest, GamepadSticksAndTriggers) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    Send(p, std::make_shared<LeftStickMessage>(L"Input", 32767, 0, 0));
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getX(), Controller::kWalkSpeed, 1e-4f);
    Send(p, std::make_shared<LeftStickMessage>(L"Input", 0, -16384, 0));
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getZ(), Controller::kWalkSpeed * 0.5f, 1e-3f) << "half back: half speed";
    Send(p, std::make_shared<LeftStickMessage>(L"Input", 32767, 0, 0));
    Send(p, std::make_shared<LeftTriggerTriggerMessage>(L"Input", 0));
    p.controller->Update(0.1f);
    EXPECT_NEAR(p.body->velocity.getX(), Controller::kSprintSpeed, 1e-4f);
    Send(p, std::make_shared<LeftTriggerReleaseMessage>(L"Input", 0));
    Send(p, std::make_shared<LeftStickMessage>(L"Input", 0, 0, 0)); // let go
    Send(p, std::make_shared<RightStickMessage>(L"Input", -32767, 0, 0));
    p.controller->Update(0.5f);
    EXPECT_NEAR(length(p.body->velocity), 0.0f, 1e-5f);
    EXPECT_NEAR(p.controller->GetYaw(), Controller::kStickTurnRate * 0.5f, 1e-4f) << "left turns left";
}

TEST_F(GameplayTest, FlaresRechargeFlyAndBurnOut) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    Send(p, Button(MessageType::ButtonTrigger, "Shoot"));
    EXPECT_TRUE(p.controller->GetFlares().empty()) << "not recharged yet";
    p.controller->Update(p.stats->flareRechargeTime);
    EXPECT_EQ(p.stats->GetTimeSinceFlareRecharge(), p.stats->flareRechargeTime);
    Send(p, std::make_shared<RightTriggerTriggerMessage>(L"Input", 0));
    ASSERT_EQ(p.controller->GetFlares().size(), 1u);
    EXPECT_EQ(p.stats->GetTimeSinceFlareRecharge(), 0.0f);
    auto flare = Engine::mFactory->GetObjectWithID(p.controller->GetFlares()[0]).lock();
    ASSERT_TRUE(flare);
    auto body = std::static_pointer_cast<RigidBody>(flare->GetComponent(ComponentType::RigidBody).lock());
    EXPECT_NEAR(body->velocity.getZ(), -Controller::kFlareSpeed, 1e-5f);
    auto renderable =
        std::static_pointer_cast<Renderable>(flare->GetComponent(ComponentType::Renderable).lock());
    EXPECT_EQ(renderable->GetTextures(), std::vector<std::string>{"Player1_Flare.png"});
    EXPECT_FALSE(flare->GetComponent(ComponentType::Light).expired());
    Send(p, Button(MessageType::ButtonTrigger, "Shoot"));
    EXPECT_EQ(p.controller->GetFlares().size(), 1u) << "one flare per recharge";
    p.controller->Update(Controller::kFlareLifetime);
    EXPECT_TRUE(p.controller->GetFlares().empty());
    EXPECT_TRUE(flare->IsBeingDestroyed());
}

TEST_F(GameplayTest, InstantWinAsksToGiveEveryoneTheirItems) {
    Player p = MakePlayer("Player1", Vector3(0.0f));
    Send(p, Button(MessageType::ButtonPress, "InstantWin"));
    Drain();
    EXPECT_TRUE(events->Take().empty()) << "only when the action goes down";
    Send(p, Button(MessageType::ButtonTrigger, "InstantWin"));
    Drain();
    EXPECT_EQ(events->Take(), std::vector<std::string>{"give items"});
}

TEST_F(GameplayTest, TheDeadAndTheEscapedNoLongerMove) {
    Player dead = MakePlayer("Player1", Vector3(0.0f));
    dead.body->velocity = Vector3(0.0f, -1.0f, 2.0f);
    dead.stats->perished = true;
    Send(dead, Button(MessageType::ButtonTrigger, "Left"));
    dead.controller->Update(0.1f);
    EXPECT_NEAR(dead.body->velocity.getZ(), 2.0f, 1e-6f) << "keeps its last velocity";
    EXPECT_NEAR(dead.body->velocity.getX(), 0.0f, 1e-6f);

    Player gone = MakePlayer("Player2", Vector3(0.0f));
    gone.body->SetStatic(true);
    Send(gone, Button(MessageType::ButtonTrigger, "Left"));
    gone.controller->Update(0.1f);
    EXPECT_NEAR(length(gone.body->velocity), 0.0f, 1e-6f);
}

TEST_F(GameplayTest, ADestroyedRoomIsForgottenAndTheLastOneRestartsTheFloodClock) {
    auto first = Room(1, Vector3(0.0f));
    auto second = Room(2, Vector3(20.0f, 0.0f, 0.0f));
    // A second room component claiming room 2 was never the room's object.
    auto stray = MakeThing(std::make_shared<RoomComponent>());
    Flood();
    ASSERT_TRUE(RoomHandler::IsRoomFlooded(1));
    RoomHandler::UpdateTimeSinceLastFlood(10.0f);

    Engine::mFactory->Destroy(stray->GetID());
    EXPECT_EQ(RoomHandler::HowManyRooms(), 2);
    Engine::mFactory->Destroy(first->GetID());
    EXPECT_EQ(RoomHandler::HowManyRooms(), 1);
    EXPECT_FALSE(RoomHandler::IsRoomFlooded(1));
    EXPECT_EQ(RoomHandler::GetRing(2), 0) << "rings follow the rooms that are left";
    RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval - 10.0f);
    EXPECT_TRUE(RoomHandler::IsTimeToFlood()) << "the clock runs on while rooms remain";

    Engine::mFactory->Destroy(second->GetID());
    EXPECT_TRUE(RoomHandler::GetRooms().empty());
    Room(1, Vector3(0.0f));
    EXPECT_FALSE(RoomHandler::IsTimeToFlood()) << "a new level floods on its own timeline";
    EXPECT_FALSE(RoomHandler::IsRoomFlooded(1));
}

} // namespace
