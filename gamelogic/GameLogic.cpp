#include "GameLogic.h"

#include "ComponentAccessors.h"
#include "Engine.h"
#include "FloodWarning.h"
#include "GameLogicMessageHandler.h"
#include "GameState.h"
#include "Messages.h"
#include "ObjectFactory.h"
#include "RoomHandler.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr std::uint32_t kPauseSound = 0xE6517101;
constexpr std::uint32_t kRoundOverSound = 0xF64FB20D;
constexpr std::uint32_t kResumeSound = 0xDB54B788;

std::string PlayerName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "Player%d", n);
    return name;
}

} // namespace

GameLogic::GameLogic(const std::wstring& name) : System(name) {
    GameState::SetState(GameState::FIRST_SPLASH);
}

GameLogic::~GameLogic() {
    mLevel.reset();
    mHandler.reset();
}

void GameLogic::Initialize() {
    RoomHandler::InitializeRooms();
    mLevel = std::make_unique<GameLevel>();
    mHandler = std::make_unique<GameLogicMessageHandler>(*this);
    mViewports = std::make_unique<std::array<ViewportRecord, kViewports>>();
    SetupCollisionGroups();
    mLevel->LoadLevel("VM_SPLASH", 0);
    mLevel->StartStage(0.0f, GameLevel::kFirstSplashSeconds);
}

void GameLogic::Update(float dt) {
    BeginFloodWarningFrame();
    const int state = GameState::GetState();
    if (mLevel && state != GameState::IDLE && state != GameState::PAUSED) {
        mLevel->Update(dt);
        RequestViewports();
        // Shown every frame while the flow runs, whether or not a room is about to flood.
        for (int n = 1; n <= mLevel->GetPlayerCount(); ++n) {
            if (const ViewportRecord* viewport = GetViewport(static_cast<unsigned>(n)))
                DrawFloodWarning(viewport->width, viewport->topX, viewport->topY, kFloodWarningText);
        }
        if (RoomHandler::IsTimeToFlood()) RoomHandler::FloodRoom();
        if (!RoomHandler::IsARoomFlooding() && GameState::GetState() == GameState::PLAYING)
            RoomHandler::UpdateTimeSinceLastFlood(dt);
        if (mLevel->IsRoundOver()) {
            Engine::ImmediateMessage(std::make_shared<ShowMenuMessage>(mName, MENU_RESULTS, true));
            TogglePause(0);
        }
    }
    SweepExpiredComponents(dt);
}

int GameLogic::Release() {
    mBehaviors.clear();
    mViewports.reset();
    return 0;
}

ViewportRecord* GameLogic::GetViewport(unsigned player) {
    if (!mViewports || player < 1 || player > kViewports) return nullptr;
    return &(*mViewports)[player - 1];
}

void GameLogic::Pause(std::uint32_t objectId) {
    mSavedState = GameState::GetState();
    GameState::SetState(GameState::PAUSED);
    Engine::RelayMessage(std::make_shared<PauseMessage>(mName, PAUSE_GAME, objectId));
}

void GameLogic::Unpause(std::uint32_t objectId) {
    GameState::SetState(mSavedState);
    Engine::RelayMessage(std::make_shared<PauseMessage>(mName, UNPAUSE_GAME, objectId));
    Engine::RelayMessage(std::make_shared<ShowMenuMessage>(L"Graphics", MENU_ALL, false));
}

void GameLogic::TogglePause(std::uint32_t objectId) {
    const bool roundOver = mLevel && mLevel->IsRoundOver();
    if (GameState::GetState() != GameState::PAUSED) {
        Pause(objectId);
        Engine::RelayMessage(
            std::make_shared<PostSoundEventMessage>(mName, roundOver ? kRoundOverSound : kPauseSound));
        mPauseObject = Engine::mFactory->CreateGenericObject();
        if (auto pauseObject = mPauseObject.lock()) AddPauseBehavior(pauseObject->GetID());
        if (!roundOver) Engine::RelayMessage(std::make_shared<ShowMenuMessage>(mName, MENU_PAUSE, true));
        Engine::RelayMessage(std::make_shared<DisplayCursorMessage>(mName, false));
    } else {
        Unpause(objectId);
        Engine::RelayMessage(std::make_shared<PostSoundEventMessage>(mName, kResumeSound));
        // The behaviour pass may already have destroyed it.
        if (auto pauseObject = mPauseObject.lock()) Engine::mFactory->Destroy(pauseObject->GetID());
        Engine::RelayMessage(std::make_shared<DisplayCursorMessage>(mName, false));
        Engine::RelayMessage(std::make_shared<ShowMenuMessage>(mName, MENU_PAUSE, false));
    }
}

void GameLogic::AddPauseBehavior(std::uint32_t objectId) {
    auto object = Engine::mFactory->GetObjectWithID(objectId).lock();
    if (!object) return;
    auto behavior =
        std::static_pointer_cast<BehaviorComponent>(Engine::mFactory->CreateComponent(L"PauseBehavior"));
    if (!behavior) return;
    object->AddComponent(behavior);
    mBehaviors.push_back(behavior);
}

void GameLogic::SweepExpiredComponents(float dt) {
    std::vector<std::string> blocked;
    // Objects of expired entries are destroyed once the walk is over: a destruction comes back
    // through RemoveBehaviorsFor, which edits this list.
    std::vector<std::shared_ptr<Object>> expiredParents;
    bool skipUpdate = false;
    for (auto entry = mBehaviors.begin(); entry != mBehaviors.end();) {
        const std::shared_ptr<BehaviorComponent> behavior = *entry;
        const std::string group = behavior->GetGroupName();
        if (std::find(blocked.begin(), blocked.end(), group) != blocked.end()) {
            skipUpdate = false;
            ++entry;
            continue;
        }
        if (!skipUpdate) {
            behavior->Update(dt);
            if (behavior->GetTimeLeft() <= 0.0f) {
                behavior->Finish();
                if (auto parent = behavior->GetParent().lock()) expiredParents.push_back(parent);
                entry = mBehaviors.erase(entry);
                // The entry after an expired one only takes the blocking test this frame.
                skipUpdate = true;
                continue;
            }
        }
        skipUpdate = false;
        if (behavior->IsBlocking()) {
            blocked.push_back(group);
            if (group.empty()) break;
        }
        ++entry;
    }
    for (const auto& parent : expiredParents)
        Engine::mFactory->Destroy(parent->GetID());
}

void GameLogic::RemoveBehaviorsFor(std::uint32_t objectId) {
    // Taken out of the list first: destroying an object comes back here re-entrantly.
    std::vector<std::shared_ptr<BehaviorComponent>> removed;
    for (auto entry = mBehaviors.begin(); entry != mBehaviors.end();) {
        if ((*entry)->GetActedOnObjectID() == objectId) {
            removed.push_back(*entry);
            entry = mBehaviors.erase(entry);
        } else {
            ++entry;
        }
    }
    for (const auto& behavior : removed) {
        behavior->Finish();
        if (auto parent = behavior->GetParent().lock()) Engine::mFactory->Destroy(parent->GetID());
    }
}

void GameLogic::SetupPlayer(const std::weak_ptr<Component>& controller) {
    auto component = controller.lock();
    if (!component || !mLevel) return;
    GameObjectManager& objects = mLevel->GetObjectManager();
    const unsigned number = objects.GetNextPlayerNumber();
    const std::string name = PlayerName(static_cast<int>(number));
    objects.AddObject(name, component->GetParent());
    objects.SetNextPlayerNumber(number + 1);
    if (auto player = objects.FindObject(name).lock()) {
        if (auto camera = GetComponentOfType<Camera>(player, ComponentType::Camera).lock()) {
            Engine::RelayMessage(std::make_shared<RegisterCameraMessage>(mName, camera, number));
            Engine::RelayMessage(std::make_shared<ChangePlayerMode>(mName, static_cast<int>(number)));
        }
    }
    PlaceAtSpawner(objects, objects.FindObject(name));
}

void GameLogic::RemovePlayer(const std::weak_ptr<Component>& component, ComponentType type) {
    auto destroyed = component.lock();
    if (!destroyed) return;
    auto parent = destroyed->GetParent().lock();
    if (!parent) return;
    if (type == ComponentType::Controller)
        UnregisterPlayer(parent->GetID());
    else if (type == ComponentType::Spawner)
        UnregisterSpawner(parent->GetID());
}

void GameLogic::UnregisterPlayer(std::uint32_t objectId) {
    if (!mLevel) return;
    GameObjectManager& objects = mLevel->GetObjectManager();
    if (objects.HasObjects()) {
        for (int n = 1; n <= kViewports; ++n) {
            const std::string name = PlayerName(n);
            auto player = objects.FindObject(name).lock();
            if (player && player->GetID() == objectId) {
                objects.SetNextPlayerNumber(1);
                objects.RemoveObjects(name);
                break;
            }
        }
    }
    Engine::RelayMessage(
        std::make_shared<ChangePlayerMode>(mName, static_cast<int>(objects.GetNextPlayerNumber()) - 1));
}

void GameLogic::UnregisterSpawner(std::uint32_t objectId) {
    if (!mLevel) return;
    GameObjectManager& objects = mLevel->GetObjectManager();
    for (int n = 1; n <= kViewports; ++n) {
        const std::string name = PlayerName(n);
        auto spawner = objects.FindSpawner(name).lock();
        if (spawner && spawner->GetID() == objectId) {
            objects.RemoveSpawners(name);
            break;
        }
    }
    Engine::RelayMessage(
        std::make_shared<ChangePlayerMode>(mName, static_cast<int>(objects.GetNextPlayerNumber()) - 1));
}

void GameLogic::RequestViewports() {
    for (int p = 1; p <= mLevel->GetPlayerCount(); ++p) {
        const ViewportRecord* viewport = GetViewport(static_cast<unsigned>(p));
        if (viewport && !viewport->received)
            Engine::RelayMessage(std::make_shared<ViewportRequestMessage>(mName, static_cast<unsigned>(p)));
    }
}

void GameLogic::SetupCollisionGroups() {
    static const std::string kProjectile = "projectile";
    for (int n = 1; n <= kViewports; ++n) {
        RegisterGroup(true, PlayerName(n));
        RegisterGroup(true, PlayerName(n) + kProjectile);
    }
    for (int a = 1; a <= kViewports; ++a) {
        for (int b = 1; b <= kViewports; ++b) {
            SetGroupsNotColliding(PlayerName(a), PlayerName(b));
            SetGroupsNotColliding(PlayerName(a) + kProjectile, PlayerName(b) + kProjectile);
        }
    }
}

void GameLogic::RegisterGroup(bool collides, const std::string& group) {
    auto message =
        std::make_shared<PhysicsMessage>(mName, PHYSICS_REGISTER_GROUP, 0, Vectormath::Aos::Vector3(0.0f));
    message->SetFlag(collides);
    message->SetGroupName(group);
    Engine::ImmediateMessage(message);
}

void GameLogic::SetGroupsNotColliding(const std::string& first, const std::string& second) {
    auto message =
        std::make_shared<PhysicsMessage>(mName, PHYSICS_SET_GROUP_PAIR, 0, Vectormath::Aos::Vector3(0.0f));
    message->SetFirstGroupName(first);
    message->SetSecondGroupName(second);
    message->SetFlag(false);
    Engine::ImmediateMessage(message);
}

void GameLogic::SetObjectPosition(const Transform& from, std::uint32_t objectId) {
    const Vectormath::Aos::Vector3& position = from.GetPosition();
    Engine::ImmediateMessage(std::make_shared<PhysicsMessage>(
        L"Game Logic", PHYSICS_SET_POSITION, objectId,
        Vectormath::Aos::Vector3(position.getX(), position.getY(), position.getZ())));
}

void GameLogic::PlaceAtSpawner(GameObjectManager& manager, const std::weak_ptr<Object>& player) {
    auto object = player.lock();
    if (!object) return;
    auto spawner = manager.FindSpawner(object->GetName()).lock();
    if (!spawner) return;
    auto transform = GetComponentOfType<Transform>(spawner).lock();
    if (!transform) return;
    SetObjectPosition(*transform, object->GetID());
}
