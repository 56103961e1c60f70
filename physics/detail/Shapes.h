// Shape-pair overlap tests and contact generators of the narrow phase, and the two tables that
// pick them by the shapes of a pair. Internal to physics; tests include it.
#pragma once

#include "Components.h"
#include "Vectormath.h"

#include <array>

namespace physics_detail {

// One overlap. The normal is a unit vector from `first` toward `second`; depth is not negative.
// A contact without both colliders is empty and is never stored.
struct Contact {
    Collider* first = nullptr;
    Collider* second = nullptr;
    Vectormath::Aos::Vector3 normal;
    float depth = 0.0f;
    bool firstIsGhost = false;
    bool secondIsGhost = false;

    bool IsEmpty() const { return first == nullptr || second == nullptr; }
};

// A broad-phase candidate: `first` has a moving rigid body.
struct ColliderPair {
    Collider* first = nullptr;
    Collider* second = nullptr;
};

using ShapeCheck = bool (*)(const Collider& first, const Collider& second);
using ContactGenerator = Contact (*)(Collider& first, Collider& second);

// Row = first collider's shape, column = second's; SPHERE, AABB, OBB and CAPSULE only.
constexpr int kTableShapes = 4;
using ShapeCheckTable = std::array<ShapeCheck, kTableShapes * kTableShapes>;
using ContactGeneratorTable = std::array<ContactGenerator, kTableShapes * kTableShapes>;

ShapeCheckTable MakeShapeCheckTable();
ContactGeneratorTable MakeContactGeneratorTable();

// "SPHERE", "AABB", "OBB", "CAPSULE", "INVALID"; "INVALID" for anything outside.
const char* ShapeName(ShapeType shape);

bool CheckNotImplemented(const Collider& first, const Collider& second);
bool CheckSphereSphere(const Collider& a, const Collider& b);
bool CheckSphereAabb(const Collider& sphere, const Collider& box);
bool CheckAabbAabb(const Collider& a, const Collider& b);
bool CheckSphereObb(const Collider& sphere, const Collider& box);
bool CheckObbObb(const Collider& first, const Collider& second);
bool CheckAabbMinMax(const Vectormath::Aos::Vector3& minA, const Vectormath::Aos::Vector3& maxA,
                     const Vectormath::Aos::Vector3& minB, const Vectormath::Aos::Vector3& maxB);

struct Box {
    Vectormath::Aos::Vector3 center;
    Vectormath::Aos::Matrix3 axes; // columns are the box's unit axes
    Vectormath::Aos::Vector3 halfExtents;
};
// True when no axis among the 15 candidates separates the boxes.
bool ObbSeparatingAxisTest(const Box& a, const Box& b);

Contact ContactNotImplemented(Collider& first, Collider& second);
Contact ContactSphereSphere(Collider& a, Collider& b);
Contact ContactSphereAabb(Collider& sphere, Collider& box);
Contact ContactSphereObb(Collider& sphere, Collider& box);
Contact ContactAabbAabb(Collider& a, Collider& b);

// The normal used when two positions coincide and the direction between them is undefined.
inline const Vectormath::Aos::Vector3 kFallbackNormal{0.0f, 1.0f, 0.0f};

} // namespace physics_detail
