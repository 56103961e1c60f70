// The physics system: moves every rigid body at a fixed step, finds overlapping colliders, pushes
// bodies apart and relays a CollisionMessage when two objects begin or stop touching. It learns of
// bodies and colliders through the engine's created and destroyed component messages and takes
// orders through PhysicsMessage and PauseMessage. Game thread only.
#pragma once

#include "CollisionGroupRegistry.h"
#include "detail/Shapes.h"

#include "Components.h"
#include "Message.h"
#include "System.h"
#include "Vectormath.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class PhysicsSystem : public System {
public:
    explicit PhysicsSystem(const std::wstring& name);
    ~PhysicsSystem() override;

    void Initialize() override;
    // Runs the steps that the frame time pays for (at most 0.25 s a frame), then relays the
    // frame's collision messages. Nothing happens while paused or when dt is not positive.
    void Update(float dt) override;
    // Drops the system's queued messages.
    int Release() override;

    static constexpr double kFixedStep = 0.01;
    static constexpr float kMaxFrameTime = 0.25f;
    static constexpr float kPenetrationSlop = 0.001f;
    static constexpr float kCorrectionFraction = 1.0f;

    double GetAccumulator() const { return mAccumulator; }
    bool IsPaused() const { return mPaused; }
    std::size_t GetBodyCount() const { return mBodies.size(); }
    std::size_t GetColliderCount() const { return mColliders.size(); }
    const CollisionGroupRegistry& GetCollisionGroups() const { return mCollisionGroups; }

private:
    using ObjectPair = std::pair<std::uint32_t, std::uint32_t>; // smaller id first

    void HandleComponentCreated(const std::shared_ptr<Message>& message);
    void HandlePhysicsMessage(const std::shared_ptr<Message>& message);
    void HandlePause(const std::shared_ptr<Message>& message);
    void HandleComponentDestroyed(const std::shared_ptr<Message>& message);

    void Step(float dt);
    void ApplyForces(float dt);
    void BroadPhase();
    void NarrowPhase();
    void ResolveContacts();
    void Integrate(float dt);
    void PublishCollisions();

    std::vector<std::weak_ptr<RigidBody>> mBodies;
    std::vector<std::weak_ptr<Collider>> mColliders;
    std::vector<physics_detail::ColliderPair> mCandidatePairs;
    std::vector<physics_detail::Contact> mContacts;
    bool mPaused = false;
    Vectormath::Aos::Vector3 mGravity{0.0f, -9.8f, 0.0f};
    physics_detail::ShapeCheckTable mCollisionChecks;
    physics_detail::ContactGeneratorTable mContactGenerators;
    CollisionGroupRegistry mCollisionGroups;
    std::set<ObjectPair> mTouchingPairs;
    std::set<ObjectPair> mPreviousTouchingPairs;
    std::vector<ObjectPair> mBegunPairs;
    std::vector<ObjectPair> mEndedPairs;
    double mAccumulator = 0.0;

    // The live colliders of the current step, locked once so that the raw pointers in the pair
    // and contact lists stay valid and each world box is computed once rather than per pair.
    struct StepCollider {
        std::shared_ptr<Collider> collider;
        Vectormath::Aos::Vector3 min, max;
        std::uint32_t group = 0;
        bool startsPairs = false;
    };
    std::vector<StepCollider> mStepColliders;
};
