// Builds engine objects with a Transform, a RigidBody and a Collider for the physics tests, and
// records the collision messages that reach the bus.
#pragma once

#include "Callable.h"
#include "Components.h"
#include "Engine.h"
#include "Messages.h"
#include "ObjectFactory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace physics_test {

using Vectormath::Aos::Vector3;

struct BodyDesc {
    ShapeType shape = ShapeType::SPHERE;
    Vector3 position{0.0f, 0.0f, 0.0f};
    Vector3 rotation{0.0f, 0.0f, 0.0f}; // radians
    float radius = 0.5f;
    Vector3 halfExtents{0.5f, 0.5f, 0.5f}; // with a unit scale
    bool withBody = true;
    bool isStatic = false;
    bool useGravity = false;
    float mass = 1.0f;
    float damping = 1.0f;
    bool ghost = false;
    Vector3 velocity{0.0f, 0.0f, 0.0f};
};

struct Body {
    std::shared_ptr<Object> object;
    std::shared_ptr<Transform> transform;
    std::shared_ptr<RigidBody> body; // null without one
    std::shared_ptr<Collider> collider;

    std::uint32_t id() const { return object->GetID(); }
    float y() const { return transform->GetPosition().getY(); }
};

inline Body MakeBody(const BodyDesc& desc) {
    Body made;
    made.object = Engine::mFactory->CreateGenericObject().lock();
    made.transform = std::make_shared<Transform>();
    made.transform->SetWorldPosition(desc.position);
    made.transform->SetRotation(desc.rotation);
    made.object->AddComponent(made.transform);
    if (desc.withBody) {
        made.body = std::make_shared<RigidBody>();
        made.body->SetStatic(desc.isStatic);
        made.body->useGravity = desc.useGravity;
        made.body->mass = desc.mass;
        made.body->SetDamping(desc.damping);
        made.body->velocity = desc.velocity;
        made.object->AddComponent(made.body);
    }
    made.collider = std::make_shared<Collider>();
    made.collider->SetShapeType(desc.shape);
    made.collider->SetRadius(desc.radius);
    made.collider->SetHalfExtents(desc.halfExtents);
    made.collider->SetGhost(desc.ghost);
    made.object->AddComponent(made.collider);
    return made;
}

struct Collision {
    CollisionMessageType type;
    std::uint32_t first;
    std::uint32_t second;
    bool operator==(const Collision&) const = default;
};

// Listens for collision messages from construction until destruction.
class CollisionRecorder {
public:
    CollisionRecorder() { Engine::RegisterListener(MessageType::Collision, MakeCallable()); }
    ~CollisionRecorder() { Engine::UnregisterListener(MessageType::Collision, MakeCallable()); }

    std::vector<Collision> Take() { return std::exchange(mSeen, {}); }

private:
    Callable MakeCallable() {
        return Callable(Callable::MakeID(this, nullptr, 0), [this](const std::shared_ptr<Message>& message) {
            const auto& collision = static_cast<const CollisionMessage&>(*message);
            EXPECT_EQ(collision.GetSender(), L"Physics");
            mSeen.push_back({collision.GetType(), collision.GetFirstID(), collision.GetSecondID()});
        });
    }

    std::vector<Collision> mSeen;
};

} // namespace physics_test
