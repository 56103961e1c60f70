// The engine's gameplay: players' controls and the level's rules (pickups, escape pods, drowning).
#include "Components.h"
#include "Engine.h"
#include "GameState.h"
#include "Messages.h"
#include "ObjectFactory.h"
#include "RoomHandler.h"

#include <algorithm>
#include <cmath>

using namespace Vectormath::Aos;

namespace {

template <class T> std::shared_ptr<T> ComponentOf(const Object& object, ComponentType type) {
    return std::static_pointer_cast<T>(object.GetComponent(type).lock());
}

bool Playing() {
    return GameState::GetState() == GameState::PLAYING;
}

// Yaw 0 looks down -z, as a Camera does by default; positive yaw turns left.
Vector3 Forward(float yaw) {
    return Vector3(-std::sin(yaw), 0.0f, -std::cos(yaw));
}
Vector3 Right(float yaw) {
    return Vector3(std::cos(yaw), 0.0f, -std::sin(yaw));
}

float StickAxis(std::int16_t value) {
    return std::max(-1.0f, static_cast<float>(value) / 32767.0f);
}

bool Overlap(const Collider& a, const Collider& b) {
    const Vector3 aMin = a.GetAabbMin(), aMax = a.GetAabbMax();
    const Vector3 bMin = b.GetAabbMin(), bMax = b.GetAabbMax();
    for (int i = 0; i < 3; ++i)
        if (aMax[i] < bMin[i] || bMax[i] < aMin[i]) return false;
    return true;
}

} // namespace

bool Controller::isFullscreened = false;

Controller::Controller() : Component(ComponentType::Controller) {}

void Controller::HandleMessage(const std::shared_ptr<Message>& message) {
    if (!message) return;
    const bool playing = Playing();
    switch (message->GetMessageType()) {
    case MessageType::ButtonTrigger:
    case MessageType::ButtonPress:
    case MessageType::ButtonRelease:
        HandleButton(message->GetMessageType(), static_cast<const ButtonMessage&>(*message).GetAction());
        break;
    case MessageType::LeftTriggerTrigger:
        if (playing) mTriggerSprint = true;
        break;
    case MessageType::LeftTriggerRelease:
        mTriggerSprint = false;
        break;
    case MessageType::RightTriggerTrigger:
        if (playing) FireFlare();
        break;
    case MessageType::LeftStick: {
        // Outside play the stick counts as let go.
        const auto& stick = static_cast<const StickMessage&>(*message);
        mStickX = playing ? StickAxis(stick.GetX()) : 0.0f;
        mStickY = playing ? StickAxis(stick.GetY()) : 0.0f;
        break;
    }
    case MessageType::RightStick:
        mTurnRate = playing ? StickAxis(static_cast<const StickMessage&>(*message).GetX()) : 0.0f;
        break;
    case MessageType::MouseLook:
        if (playing) mYaw -= static_cast<const MouseLookMessage&>(*message).GetX() * kMouseTurn;
        break;
    default:
        break;
    }
}

void Controller::HandleButton(MessageType type, const std::string& action) {
    unsigned bit = 0;
    if (action == "Left")
        bit = HELD_LEFT;
    else if (action == "Right")
        bit = HELD_RIGHT;
    else if (action == "Up")
        bit = HELD_UP;
    else if (action == "Down")
        bit = HELD_DOWN;
    else if (action == "Sprint")
        bit = HELD_SPRINT;
    if (type == MessageType::ButtonRelease) {
        mHeld &= ~bit;
        return;
    }
    if (!Playing()) return;
    mHeld |= bit;
    if (type != MessageType::ButtonTrigger) return;
    if (action == "Shoot")
        FireFlare();
    else if (action == "InstantWin")
        Engine::RelayMessage(std::make_shared<Message>(L"Controller", MessageType::GiveItems));
}

void Controller::FireFlare() {
    auto parent = GetParent().lock();
    if (!parent) return;
    auto stats = ComponentOf<PlayerStats>(*parent, ComponentType::PlayerStats);
    auto transform = ComponentOf<Transform>(*parent, ComponentType::Transform);
    if (!stats || !transform || stats->perished) return;
    if (stats->GetTimeSinceFlareRecharge() < stats->flareRechargeTime) return;
    stats->SetTimeSinceFlareRecharge(0.0f);

    auto flare = Engine::mFactory->CreateGenericObject().lock();
    flare->SetName(parent->GetName() + "Flare");
    auto flareTransform = std::make_shared<Transform>();
    flareTransform->SetWorldPosition(transform->GetPosition() + Forward(mYaw) * 0.8f);
    flareTransform->SetScale(Vector3(0.2f));
    auto body = std::make_shared<RigidBody>();
    body->useGravity = false;
    body->mass = 0.1f;
    body->velocity = Forward(mYaw) * kFlareSpeed;
    auto collider = std::make_shared<Collider>();
    collider->SetRadius(0.2f);
    collider->SetGhost(true);
    auto light = std::make_shared<Light>();
    light->SetRange(6.0f);
    auto renderable = std::make_shared<Renderable>();
    renderable->SetModel("splashcube");
    renderable->SetShader("textureshader");
    renderable->AddTexture(parent->GetName() + "_Flare.png");
    for (std::shared_ptr<Component> component :
         std::initializer_list<std::shared_ptr<Component>>{flareTransform, body, collider, light, renderable})
        flare->AddComponent(component);
    // The player's own projectile group: flares pass through other flares, never through players.
    auto group = std::make_shared<PhysicsMessage>(L"Controller", PHYSICS_SET_OBJECT_GROUP, flare->GetID(),
                                                  Vector3(0.0f));
    group->SetGroupName(parent->GetName() + "projectile");
    Engine::ImmediateMessage(group);
    mFlares.push_back(Flare{flare, 0.0f});
}

std::vector<std::uint32_t> Controller::GetFlares() const {
    std::vector<std::uint32_t> ids;
    for (const Flare& flare : mFlares)
        if (auto object = flare.object.lock()) ids.push_back(object->GetID());
    return ids;
}

void Controller::Update(float dt) {
    for (Flare& flare : mFlares) {
        flare.age += dt;
        if (flare.age >= kFlareLifetime) Engine::mFactory->Destroy(flare.object);
    }
    std::erase_if(mFlares, [](const Flare& flare) {
        auto object = flare.object.lock();
        return !object || object->IsBeingDestroyed();
    });

    auto parent = GetParent().lock();
    if (!parent) return;
    auto transform = ComponentOf<Transform>(*parent, ComponentType::Transform);
    auto body = ComponentOf<RigidBody>(*parent, ComponentType::RigidBody);
    auto stats = ComponentOf<PlayerStats>(*parent, ComponentType::PlayerStats);
    if (stats)
        stats->SetTimeSinceFlareRecharge(
            std::min(stats->GetTimeSinceFlareRecharge() + dt, stats->flareRechargeTime));
    if ((stats && stats->perished) || (body && body->IsStatic())) return;

    mYaw -= mTurnRate * kStickTurnRate * dt;
    if (transform) {
        const Vector3 rotation = transform->GetRotation();
        transform->SetRotation(Vector3(rotation.getX(), mYaw, rotation.getZ()));
    }

    float x = mStickX + ((mHeld & HELD_RIGHT) ? 1.0f : 0.0f) - ((mHeld & HELD_LEFT) ? 1.0f : 0.0f);
    float y = mStickY + ((mHeld & HELD_UP) ? 1.0f : 0.0f) - ((mHeld & HELD_DOWN) ? 1.0f : 0.0f);
    const float amount = std::sqrt(x * x + y * y);
    if (amount > 1.0f) {
        x /= amount;
        y /= amount;
    }
    const bool moving = amount > 0.0f;
    bool sprinting = false;
    if (stats) {
        sprinting = moving && ((mHeld & HELD_SPRINT) || mTriggerSprint) && stats->GetSprintLevel() > 0.0f;
        const float change = sprinting ? -kSprintDrainPerSecond * dt : kSprintRecoveryPerSecond * dt;
        stats->SetSprintLevel(std::clamp(stats->GetSprintLevel() + change, 0.0f, 1.0f));
    }
    if (!body) return;
    // The controls set the horizontal speed outright; gravity keeps the vertical one.
    const Vector3 velocity = (Forward(mYaw) * y + Right(mYaw) * x) * (sprinting ? kSprintSpeed : kWalkSpeed);
    body->velocity.setX(velocity.getX());
    body->velocity.setZ(velocity.getZ());
}

LevelRuleset::LevelRuleset() : Component(ComponentType::LevelRuleset) {
    Engine::RegisterListener(MessageType::Collision, Callable(this, &LevelRuleset::HandleCollision));
}

LevelRuleset::~LevelRuleset() {
    Engine::UnregisterListener(MessageType::Collision, Callable(this, &LevelRuleset::HandleCollision));
}

void LevelRuleset::Update(float dt) {
    mActive = true;
    std::vector<std::shared_ptr<Object>> players;
    for (const auto& [id, object] : Engine::mFactory->GetObjects()) {
        if (object->GetComponent(ComponentType::PlayerStats).expired()) continue;
        if (auto controller = ComponentOf<Controller>(*object, ComponentType::Controller)) {
            controller->Update(dt);
            players.push_back(object);
        }
    }
    // Everyone inside a flooded room drowns, whether they walked in or the water came to them.
    for (const auto& [room, objectId] : RoomHandler::GetRooms()) {
        if (!RoomHandler::IsRoomFlooded(room)) continue;
        auto roomObject = Engine::mFactory->GetObjectWithID(objectId).lock();
        if (!roomObject) continue;
        auto water = ComponentOf<Collider>(*roomObject, ComponentType::Collider);
        if (!water) continue;
        for (const auto& player : players) {
            auto body = ComponentOf<Collider>(*player, ComponentType::Collider);
            if (body && !IsFinished(*player) && Overlap(*water, *body)) Drown(player);
        }
    }
}

void LevelRuleset::HandleCollision(const std::shared_ptr<Message>& message) {
    const auto& collision = static_cast<const CollisionMessage&>(*message);
    if (!mActive || !Playing() || collision.GetType() != COLLISION_STARTED) return;
    // A destroyed Arbiter may still be held until the flow replaces it; its round is over.
    auto arbiter = GetParent().lock();
    if (!arbiter || arbiter->IsBeingDestroyed()) return;
    auto first = Engine::mFactory->GetObjectWithID(collision.GetFirstID()).lock();
    auto second = Engine::mFactory->GetObjectWithID(collision.GetSecondID()).lock();
    if (!first || !second) return;
    Touch(first, second);
    Touch(second, first);
}

bool LevelRuleset::IsFinished(const Object& player) const {
    auto stats = ComponentOf<PlayerStats>(player, ComponentType::PlayerStats);
    return (stats && stats->perished) ||
           std::find(mFinished.begin(), mFinished.end(), player.GetID()) != mFinished.end();
}

void LevelRuleset::Touch(const std::shared_ptr<Object>& player, const std::shared_ptr<Object>& other) {
    auto stats = ComponentOf<PlayerStats>(*player, ComponentType::PlayerStats);
    if (!stats || IsFinished(*player) || other->IsBeingDestroyed()) return;
    if (auto pickup = ComponentOf<PickupComponent>(*other, ComponentType::PickupComponent)) {
        // Anything but a power cell is a keycard, as the game rules count them.
        const bool powerCell = pickup->GetPickupType() == "PowerCell";
        if (powerCell)
            stats->AddPowerCell();
        else
            stats->AddKeyCard();
        Engine::RelayMessage(std::make_shared<GameEventMessage>(
            L"LevelRuleset", powerCell ? kPowerCellEvent : kKeyCardEvent, player->GetID()));
        // Taken: a second touch, by anyone, finds nothing.
        Engine::mFactory->Destroy(other->GetID());
    } else if (!other->GetComponent(ComponentType::EscapePod).expired()) {
        if (stats->GetKeyCards() > 0 && stats->GetPowerCells() > 0) Escape(player);
    } else if (auto room = ComponentOf<RoomComponent>(*other, ComponentType::RoomComponent)) {
        if (RoomHandler::IsRoomFlooded(room->GetRoomID())) Drown(player);
    }
}

void LevelRuleset::Drown(const std::shared_ptr<Object>& player) {
    if (auto stats = ComponentOf<PlayerStats>(*player, ComponentType::PlayerStats)) stats->perished = true;
    mFinished.push_back(player->GetID());
    Engine::RelayMessage(std::make_shared<GameEventMessage>(L"LevelRuleset", kDeathEvent, player->GetID()));
}

void LevelRuleset::Escape(const std::shared_ptr<Object>& player) {
    mFinished.push_back(player->GetID());
    Engine::RelayMessage(std::make_shared<GameEventMessage>(L"LevelRuleset", kEscapeEvent, player->GetID()));
}

EscapePod::EscapePod() : Component(ComponentType::EscapePod) {}
