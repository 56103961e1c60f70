#include "GameObjectManager.h"

#include "Callable.h"
#include "Components.h"
#include "Engine.h"
#include "Messages.h"

GameObjectManager::GameObjectManager() {
    Engine::RegisterListener(MessageType::GameEvent, Callable(this, &GameObjectManager::OnGameEvent));
    Engine::RegisterListener(MessageType::CreatedComponent,
                             Callable(this, &GameObjectManager::OnComponentCreated));
}

GameObjectManager::~GameObjectManager() {
    Engine::UnregisterListener(MessageType::GameEvent, Callable(this, &GameObjectManager::OnGameEvent));
    Engine::UnregisterListener(MessageType::CreatedComponent,
                               Callable(this, &GameObjectManager::OnComponentCreated));
}

std::weak_ptr<Object> GameObjectManager::FindIn(const Index& index, const std::string& name) {
    if (index.count(name) != 1) return {};
    auto object = index.find(name)->second.lock();
    if (!object) return {};
    return object;
}

std::weak_ptr<Object> GameObjectManager::FindObject(const std::string& name) const {
    return FindIn(mObjectsByName, name);
}

std::weak_ptr<Object> GameObjectManager::FindSpawner(const std::string& name) const {
    return FindIn(mSpawners, name);
}

std::weak_ptr<Object> GameObjectManager::GetPlayerObject(unsigned n) const {
    return FindObject("Player" + std::to_string(n + 1));
}

void GameObjectManager::AddObject(const std::string& name, const std::weak_ptr<Object>& object) {
    mObjectsByName.emplace(name, object);
}

void GameObjectManager::AddSpawner(const std::string& name, const std::weak_ptr<Object>& object) {
    mSpawners.emplace(name, object);
}

void GameObjectManager::RemoveObjects(const std::string& name) {
    mObjectsByName.erase(name);
}

void GameObjectManager::RemoveSpawners(const std::string& name) {
    mSpawners.erase(name);
}

void GameObjectManager::SetRulesetObject(const std::weak_ptr<Object>& object) {
    mRuleset = object.lock();
}

std::shared_ptr<Object> GameObjectManager::GetRulesetObject() const {
    // Our shared pointer keeps a destroyed object alive; the factory has let go of it.
    if (!mRuleset || mRuleset->IsBeingDestroyed()) return nullptr;
    return mRuleset;
}

std::shared_ptr<Group> GameObjectManager::GetOrCreateGroup(const std::string& name) {
    auto& group = mGroups[name];
    if (!group) group = std::make_shared<Group>(name);
    return group;
}

std::shared_ptr<Group> GameObjectManager::FindGroup(const std::string& name) const {
    auto found = mGroups.find(name);
    return found == mGroups.end() ? nullptr : found->second;
}

void GameObjectManager::Clear() {
    mObjectsByName.clear();
    mNextPlayerNumber = 1;
}

void GameObjectManager::OnGameEvent(const std::shared_ptr<Message>& message) {
    const auto& event = static_cast<const GameEventMessage&>(*message);
    if (event.GetEventText() == "keycard picked up") {
        if (mKeyCards > 0) --mKeyCards;
    } else if (event.GetEventText() == "powercell picked up") {
        if (mPowerCells > 0) --mPowerCells;
    }
}

void GameObjectManager::OnComponentCreated(const std::shared_ptr<Message>& message) {
    const auto& created = static_cast<const CreatedComponentMessage&>(*message);
    if (created.GetComponentType() != ComponentType::PickupComponent) return;
    auto pickup = std::static_pointer_cast<PickupComponent>(created.GetComponentPTR().lock());
    if (!pickup) return;
    if (pickup->GetPickupType() == "PowerCell")
        ++mPowerCells;
    else
        ++mKeyCards;
}
