// The game-rules system: owns the game flow and the rules' message handler, keeps the four
// split-screen viewport records, drives room flooding, ends rounds with the results menu, pauses and
// resumes the game, and runs the behaviour components it owns once per frame. Game thread only.
#pragma once

#include "Components.h"
#include "GameLevel.h"
#include "GameObjectManager.h"
#include "System.h"

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

class GameLogicMessageHandler;

// One player's part of the screen, in pixels, once the graphics side has answered.
struct ViewportRecord {
    float width = 0.0f;
    float height = 0.0f;
    float topX = 0.0f;
    float topY = 0.0f;
    bool received = false;
};

class GameLogic : public System {
public:
    static constexpr int kViewports = 4;
    static constexpr const char* kFloodWarningText = "Room is about to flood!";

    explicit GameLogic(const std::wstring& name);
    ~GameLogic() override;

    void Initialize() override;
    void Update(float dt) override;
    int Release() override;

    // The id is the object on whose behalf the game pauses (0 for the round's end).
    void Pause(std::uint32_t objectId);
    void Unpause(std::uint32_t objectId);
    void TogglePause(std::uint32_t objectId);
    void AddPauseBehavior(std::uint32_t objectId);
    void SweepExpiredComponents(float dt);
    // Finishes every behaviour acting on that object and destroys the behaviour's object.
    void RemoveBehaviorsFor(std::uint32_t objectId);

    // Players, cameras and viewports.
    void SetupPlayer(const std::weak_ptr<Component>& controller);
    void RemovePlayer(const std::weak_ptr<Component>& component, ComponentType type);
    void UnregisterPlayer(std::uint32_t objectId);
    void UnregisterSpawner(std::uint32_t objectId);
    void RequestViewports();

    // Collision groups and placement, through immediate physics messages.
    void SetupCollisionGroups();
    void RegisterGroup(bool collides, const std::string& group);
    void SetGroupsNotColliding(const std::string& first, const std::string& second);
    void SetObjectPosition(const Transform& from, std::uint32_t objectId);
    void PlaceAtSpawner(GameObjectManager& manager, const std::weak_ptr<Object>& player);

    // Null before Initialize.
    GameLevel* GetLevel() { return mLevel.get(); }
    // Player p (1 to 4); null for any other number or before Initialize.
    ViewportRecord* GetViewport(unsigned player);
    // The behaviours run by the sweep, in insertion order.
    std::list<std::shared_ptr<BehaviorComponent>>& GetBehaviors() { return mBehaviors; }
    std::weak_ptr<Object> GetPauseObject() const { return mPauseObject; }

private:
    std::list<std::shared_ptr<BehaviorComponent>> mBehaviors;
    std::weak_ptr<Object> mPauseObject;
    // Made by Initialize; the viewport records are freed again by Release.
    std::unique_ptr<GameLogicMessageHandler> mHandler;
    std::unique_ptr<GameLevel> mLevel;
    std::unique_ptr<std::array<ViewportRecord, kViewports>> mViewports;
    int mSavedState = 0;
};
