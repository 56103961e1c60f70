// One physics step with N moving spheres resting in a grid on a static floor, each touching its
// neighbours' boxes: the broad phase examines every pair, so the time per step grows with N^2.
#include "PhysicsSystem.h"

#include "Components.h"
#include "Engine.h"
#include "ObjectFactory.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using Vectormath::Aos::Vector3;

// Just over one fixed step, so every Update runs exactly one step.
constexpr float kOneStep = 0.0100001f;

void AddObject(const Vector3& position, ShapeType shape, const Vector3& halfExtents, bool isStatic) {
    auto object = Engine::mFactory->CreateGenericObject().lock();
    auto transform = std::make_shared<Transform>();
    transform->SetWorldPosition(position);
    object->AddComponent(transform);
    auto body = std::make_shared<RigidBody>();
    body->SetStatic(isStatic);
    body->useGravity = !isStatic;
    object->AddComponent(body);
    auto collider = std::make_shared<Collider>();
    collider->SetShapeType(shape);
    collider->SetRadius(0.5f);
    collider->SetHalfExtents(halfExtents);
    object->AddComponent(collider);
}

void BM_PhysicsStep(benchmark::State& state) {
    const int bodies = static_cast<int>(state.range(0));
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(bodies))));
    {
        PhysicsSystem physics(L"Physics");
        const float floorHalf = 0.5f * side + 1.0f;
        AddObject(Vector3(0.0f, -0.5f, 0.0f), ShapeType::AABB, Vector3(floorHalf, 0.5f, floorHalf), true);
        for (int i = 0; i < bodies; ++i) {
            const float x = static_cast<float>(i % side) - 0.5f * side;
            const float z = static_cast<float>(i / side) - 0.5f * side;
            AddObject(Vector3(x, 0.49f, z), ShapeType::SPHERE, Vector3(0.5f), false);
        }
        Engine::RunFrames(1, 0.0f); // delivers the created-component messages
        for (auto _ : state) {
            physics.Update(kOneStep);
            Engine::RunFrames(1, 0.0f); // delivers the collision messages
        }
        state.counters["bodies"] = bodies;
        Engine::mFactory->DestroyAllObjects();
    }
    state.SetComplexityN(bodies);
}

BENCHMARK(BM_PhysicsStep)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->Complexity();

} // namespace
