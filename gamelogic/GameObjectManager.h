// The level's game objects by name for the game rules: player objects, spawners, named groups, the
// level's ruleset object, and the keycards and power cells still lying in the level. Game thread only.
#pragma once

#include "Message.h"
#include "Object.h"
#include "Players.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

class GameObjectManager {
public:
    // Listens for game events (54) and created components (21) for the pickup counts.
    GameObjectManager();
    ~GameObjectManager();

    // The object indexed under that name; empty unless exactly one entry has it and it still lives.
    std::weak_ptr<Object> FindObject(const std::string& name) const;
    std::weak_ptr<Object> FindSpawner(const std::string& name) const;
    // Player index n (from 0) is the object "Player" + (n + 1).
    std::weak_ptr<Object> GetPlayerObject(unsigned n) const;

    // Duplicates are kept: a lookup of a name entered twice fails.
    void AddObject(const std::string& name, const std::weak_ptr<Object>& object);
    void AddSpawner(const std::string& name, const std::weak_ptr<Object>& object);
    void RemoveObjects(const std::string& name);
    void RemoveSpawners(const std::string& name);
    bool HasObjects() const { return !mObjectsByName.empty(); }

    // Keeps the object alive; an object the factory has since destroyed counts as none.
    void SetRulesetObject(const std::weak_ptr<Object>& object);
    std::shared_ptr<Object> GetRulesetObject() const;

    // The group of that name, made on first use; groups outlive Clear.
    std::shared_ptr<Group> GetOrCreateGroup(const std::string& name);
    std::shared_ptr<Group> FindGroup(const std::string& name) const;

    unsigned GetNextPlayerNumber() const { return mNextPlayerNumber; }
    void SetNextPlayerNumber(unsigned number) { mNextPlayerNumber = number; }

    std::uint32_t GetKeyCardCount() const { return mKeyCards; }
    std::uint32_t GetPowerCellCount() const { return mPowerCells; }

    // Forgets every player: the by-name index empties and the numbering starts again at 1, so the
    // next level's players are "Player1".. even though their objects are destroyed only afterwards.
    // Groups, spawners, the ruleset object and the pickup counts stay.
    void Clear();

    void OnGameEvent(const std::shared_ptr<Message>& message);
    void OnComponentCreated(const std::shared_ptr<Message>& message);

    GameObjectManager(const GameObjectManager&) = delete;
    GameObjectManager& operator=(const GameObjectManager&) = delete;

private:
    using Index = std::unordered_multimap<std::string, std::weak_ptr<Object>>;
    static std::weak_ptr<Object> FindIn(const Index& index, const std::string& name);

    std::unordered_map<std::string, std::shared_ptr<Group>> mGroups;
    Index mObjectsByName;
    std::shared_ptr<Object> mRuleset;
    unsigned mNextPlayerNumber = 1;
    std::uint32_t mPowerCells = 0;
    std::uint32_t mKeyCards = 0;
    Index mSpawners;
};
