#include "PhysicsSystem.h"

#include "ComponentAccessors.h"

#include "Engine.h"
#include "Messages.h"
#include "ObjectFactory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

using namespace Vectormath::Aos;
using physics_detail::ColliderPair;
using physics_detail::Contact;

namespace {

constexpr std::size_t kListCapacity = 1000;
constexpr std::size_t kPairListCapacity = 30;

std::shared_ptr<Object> FindObject(std::uint32_t id) {
    if (Engine::mFactory == nullptr) return nullptr;
    return Engine::mFactory->GetObjectWithID(id).lock();
}

template <class T> std::shared_ptr<T> ComponentOf(const std::shared_ptr<Object>& object) {
    return object ? GetComponentOfType<T>(*object).lock() : nullptr;
}

template <class T> std::shared_ptr<T> ParentComponent(const Component& component) {
    return ComponentOf<T>(component.GetParent().lock());
}

bool IsFinite(const Vector3& v) {
    return std::isfinite(v.getX()) && std::isfinite(v.getY()) && std::isfinite(v.getZ());
}

bool InTables(ShapeType shape) {
    const int value = static_cast<int>(shape);
    return value >= 0 && value < physics_detail::kTableShapes;
}

} // namespace

PhysicsSystem::PhysicsSystem(const std::wstring& name)
    : System(name), mCollisionChecks(physics_detail::MakeShapeCheckTable()),
      mContactGenerators(physics_detail::MakeContactGeneratorTable()) {
    mBodies.reserve(kListCapacity);
    mColliders.reserve(kListCapacity);
    mCandidatePairs.reserve(kListCapacity);
    mContacts.reserve(kListCapacity);
    mStepColliders.reserve(kListCapacity);
    mBegunPairs.reserve(kPairListCapacity);
    mEndedPairs.reserve(kPairListCapacity);

    Engine::RegisterListener(MessageType::CreatedComponent,
                             Callable(this, &PhysicsSystem::HandleComponentCreated));
    Engine::RegisterListener(MessageType::Physics, Callable(this, &PhysicsSystem::HandlePhysicsMessage));
    Engine::RegisterListener(MessageType::Pause, Callable(this, &PhysicsSystem::HandlePause));
    Engine::RegisterListener(MessageType::DestroyedComponent,
                             Callable(this, &PhysicsSystem::HandleComponentDestroyed));
}

PhysicsSystem::~PhysicsSystem() {
    Engine::UnregisterListener(MessageType::CreatedComponent,
                               Callable(this, &PhysicsSystem::HandleComponentCreated));
    Engine::UnregisterListener(MessageType::Physics, Callable(this, &PhysicsSystem::HandlePhysicsMessage));
    Engine::UnregisterListener(MessageType::Pause, Callable(this, &PhysicsSystem::HandlePause));
    Engine::UnregisterListener(MessageType::DestroyedComponent,
                               Callable(this, &PhysicsSystem::HandleComponentDestroyed));
}

void PhysicsSystem::Initialize() {}

void PhysicsSystem::Update(float dt) {
    // Negative or NaN frame times count as no time at all.
    if (mPaused || !(dt > 0.0f)) return;
    mAccumulator += static_cast<double>(std::min(dt, kMaxFrameTime));
    while (mAccumulator >= kFixedStep) {
        Step(static_cast<float>(kFixedStep));
        mAccumulator -= kFixedStep;
    }
    PublishCollisions();
}

int PhysicsSystem::Release() {
    std::lock_guard<std::mutex> lock(mQueueMutex);
    while (!mMessageQueue.empty())
        mMessageQueue.pop();
    return 0;
}

void PhysicsSystem::Step(float dt) {
    ApplyForces(dt);
    BroadPhase();
    NarrowPhase();
    ResolveContacts();
    Integrate(dt);
    // The step's hold on the colliders ends with it: the engine owns them.
    mStepColliders.clear();
}

void PhysicsSystem::ApplyForces(float dt) {
    for (const auto& entry : mBodies) {
        auto body = entry.lock();
        if (!body) continue;
        if (body->useGravity) body->AddForce(mGravity * body->mass);
        if (!body->IsStatic()) body->velocity += body->GetNetForce() * body->GetInvMass() * dt * 0.5f;
    }
}

void PhysicsSystem::BroadPhase() {
    mStepColliders.clear();
    for (const auto& entry : mColliders) {
        auto collider = entry.lock();
        if (!collider) continue;
        auto body = ParentComponent<RigidBody>(*collider);
        StepCollider step;
        step.min = collider->GetAabbMin();
        step.max = collider->GetAabbMax();
        step.group = collider->GetCollisionGroup();
        // Only a moving body starts pairs; static bodies and bare colliders are only ever second.
        step.startsPairs = body && !body->IsStatic();
        step.collider = std::move(collider);
        mStepColliders.push_back(std::move(step));
    }
    for (const StepCollider& a : mStepColliders) {
        if (!a.startsPairs) continue;
        for (const StepCollider& b : mStepColliders) {
            if (&a == &b) continue;
            if (!mCollisionGroups.DoGroupsCollide(a.group, b.group)) continue;
            if (!physics_detail::CheckAabbMinMax(a.min, a.max, b.min, b.max)) continue;
            mCandidatePairs.push_back(ColliderPair{a.collider.get(), b.collider.get()});
        }
    }
}

void PhysicsSystem::NarrowPhase() {
    for (const ColliderPair& pair : mCandidatePairs) {
        const ShapeType shapeA = pair.first->GetShapeType();
        const ShapeType shapeB = pair.second->GetShapeType();
        // INVALID (or any number outside the tables) has no tests: such a pair is skipped.
        if (!InTables(shapeA) || !InTables(shapeB)) continue;
        const int index = static_cast<int>(shapeA) * physics_detail::kTableShapes + static_cast<int>(shapeB);
        if (!mCollisionChecks[index](*pair.first, *pair.second)) continue;
        const Contact contact = mContactGenerators[index](*pair.first, *pair.second);
        if (!contact.IsEmpty()) mContacts.push_back(contact);

        auto parentA = pair.first->GetParent().lock();
        auto parentB = pair.second->GetParent().lock();
        if (!parentA || !parentB) {
            std::printf("Collision between Colliders without parents.\n");
            continue;
        }
        const std::uint32_t idA = parentA->GetID();
        const std::uint32_t idB = parentB->GetID();
        mTouchingPairs.emplace(std::min(idA, idB), std::max(idA, idB));
    }
    mCandidatePairs.clear();
}

void PhysicsSystem::ResolveContacts() {
    for (const Contact& contact : mContacts) {
        if (contact.IsEmpty()) {
            std::printf("Collision resolution got a contact where one of the objects was NULL\n");
            continue;
        }
        auto objectA = contact.first->GetParent().lock();
        auto objectB = contact.second->GetParent().lock();
        auto bodyA = ComponentOf<RigidBody>(objectA);
        auto bodyB = ComponentOf<RigidBody>(objectB);
        if (!bodyA || !bodyB) continue;

        const Vector3& n = contact.normal;
        if (dot(n, bodyA->GetVelocity() - bodyB->GetVelocity()) < 0.0f) continue; // already separating
        const bool staticA = bodyA->IsStatic();
        const bool staticB = bodyB->IsStatic();
        // Ghosts are detected and reported, never pushed.
        if (contact.firstIsGhost || contact.secondIsGhost) continue;

        bodyA->AddImpulse(n * (-contact.depth * dot(bodyA->GetVelocity(), n)));

        const float invMassA = bodyA->GetInvMass();
        const float invMassB = bodyB->GetInvMass();
        const float invMassSum = invMassA + invMassB;
        // Two bodies that cannot move have no share of the correction to split.
        if (!(invMassSum > 0.0f)) continue;
        const float k = kCorrectionFraction * std::max(contact.depth - kPenetrationSlop, 0.0f) / invMassSum;
        if (!staticA) {
            if (auto transform = ComponentOf<Transform>(objectA))
                transform->SetWorldPosition(transform->GetPosition() - n * (k * invMassA));
        }
        if (!staticB) {
            if (auto transform = ComponentOf<Transform>(objectB))
                transform->SetWorldPosition(transform->GetPosition() + n * (k * invMassB));
        }
    }
    mContacts.clear();
}

void PhysicsSystem::Integrate(float dt) {
    for (const auto& entry : mBodies) {
        auto body = entry.lock();
        if (!body) continue;
        if (!body->IsStatic()) {
            // A body without a Transform has nowhere to move; it keeps its velocity.
            if (auto transform = ParentComponent<Transform>(*body)) {
                transform->SetWorldPosition(transform->GetPosition() + body->GetVelocity() * dt);
                body->velocity += body->GetNetForce() * body->GetInvMass() * dt * 0.5f;
            }
        }
        body->ClearForces();
        // Horizontal damping only: a falling body keeps its vertical speed.
        const float damping = body->GetDamping();
        body->velocity.setX(body->velocity.getX() * damping);
        body->velocity.setZ(body->velocity.getZ() * damping);
    }
}

void PhysicsSystem::PublishCollisions() {
    mBegunPairs.clear();
    mEndedPairs.clear();
    std::set_difference(mTouchingPairs.begin(), mTouchingPairs.end(), mPreviousTouchingPairs.begin(),
                        mPreviousTouchingPairs.end(), std::back_inserter(mBegunPairs));
    std::set_difference(mPreviousTouchingPairs.begin(), mPreviousTouchingPairs.end(), mTouchingPairs.begin(),
                        mTouchingPairs.end(), std::back_inserter(mEndedPairs));
    for (const ObjectPair& pair : mBegunPairs)
        Engine::RelayMessage(
            std::make_shared<CollisionMessage>(mName, COLLISION_STARTED, pair.first, pair.second));
    for (const ObjectPair& pair : mEndedPairs)
        Engine::RelayMessage(
            std::make_shared<CollisionMessage>(mName, COLLISION_ENDED, pair.first, pair.second));
    mPreviousTouchingPairs.swap(mTouchingPairs);
    mTouchingPairs.clear();
}

void PhysicsSystem::HandleComponentCreated(const std::shared_ptr<Message>& message) {
    const auto& created = static_cast<const CreatedComponentMessage&>(*message);
    const ComponentType type = created.GetComponentType();
    if (type != ComponentType::RigidBody && type != ComponentType::Collider) return;
    auto component = created.GetComponentPTR().lock();
    if (!component) return;
    auto parent = component->GetParent().lock();
    if (!parent) return;
    // Looked up again by id: only an object the factory still knows joins the simulation.
    auto object = FindObject(parent->GetID());
    if (!object) return;
    if (type == ComponentType::RigidBody) {
        if (auto body = GetComponentOfType<RigidBody>(*object).lock()) mBodies.push_back(body);
    } else {
        if (auto collider = GetComponentOfType<Collider>(*object).lock()) mColliders.push_back(collider);
    }
}

void PhysicsSystem::HandleComponentDestroyed(const std::shared_ptr<Message>& message) {
    const auto& destroyed = static_cast<const DestroyedComponentMessage&>(*message);
    const auto component = destroyed.GetComponentPTR().lock();
    const auto gone = [&component](const auto& entry) {
        auto live = entry.lock();
        return !live || live == component;
    };
    switch (destroyed.GetComponentType()) {
    case ComponentType::RigidBody:
        std::erase_if(mBodies, gone);
        break;
    case ComponentType::Collider:
        std::erase_if(mColliders, gone);
        break;
    default:
        break;
    }
}

void PhysicsSystem::HandlePhysicsMessage(const std::shared_ptr<Message>& message) {
    const auto& physics = static_cast<const PhysicsMessage&>(*message);
    const PhysicsMessageType type = physics.GetType();
    const Vector3& vector = physics.GetVector();
    switch (type) {
    case PHYSICS_FORCE:
    case PHYSICS_IMPULSE:
    case PHYSICS_SET_POSITION:
        // A non-finite vector would spread NaN into every position it touches.
        if (!IsFinite(vector)) {
            std::printf("Physics: ignored PhysicsMessage type %d for object %u with a non-finite vector\n",
                        static_cast<int>(type), physics.GetObjectID());
            return;
        }
        break;
    default:
        break;
    }
    switch (type) {
    case PHYSICS_FORCE:
        if (auto body = ComponentOf<RigidBody>(FindObject(physics.GetObjectID()))) body->AddForce(vector);
        break;
    case PHYSICS_IMPULSE:
        if (auto body = ComponentOf<RigidBody>(FindObject(physics.GetObjectID()))) body->AddImpulse(vector);
        break;
    case PHYSICS_SET_POSITION:
        if (auto object = FindObject(physics.GetObjectID())) {
            if (auto transform = ComponentOf<Transform>(object))
                transform->SetWorldPosition(vector);
            else
                std::printf("SetPosition with NULL trans)");
        }
        break;
    case PHYSICS_USE_GRAVITY:
        if (auto body = ComponentOf<RigidBody>(FindObject(physics.GetObjectID())))
            body->SetUseGravity(physics.GetFlag());
        break;
    case PHYSICS_REGISTER_GROUP:
        mCollisionGroups.RegisterCollisionGroup(physics.GetFlag(), physics.GetGroupName());
        break;
    case PHYSICS_SET_GROUP_PAIR:
        mCollisionGroups.SetGroupsCollide(mCollisionGroups.GetGroupId(physics.GetFirstGroupName()),
                                          mCollisionGroups.GetGroupId(physics.GetSecondGroupName()),
                                          physics.GetFlag());
        break;
    case PHYSICS_SET_OBJECT_GROUP:
        if (auto collider = ComponentOf<Collider>(FindObject(physics.GetObjectID())))
            collider->SetCollisionGroup(mCollisionGroups.GetGroupId(physics.GetGroupName()));
        break;
    default:
        break;
    }
}

void PhysicsSystem::HandlePause(const std::shared_ptr<Message>& message) {
    const auto& pause = static_cast<const PauseMessage&>(*message);
    switch (pause.GetType()) {
    case PAUSE_GAME:
        mPaused = true;
        break;
    case UNPAUSE_GAME:
        mPaused = false;
        break;
    default:
        std::printf("Physics: Unhandled PauseMessageType\n");
        break;
    }
}
