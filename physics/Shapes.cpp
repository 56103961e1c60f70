#include "detail/Shapes.h"

#include "ComponentAccessors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace Vectormath::Aos;

namespace physics_detail {

namespace {

// The position of the collider's object, the reference point of the sphere tests. False when the
// collider has no parent or the parent no Transform: such a collider touches nothing.
bool ObjectPosition(const Collider& collider, Vector3& position) {
    auto parent = collider.GetParent().lock();
    if (!parent) return false;
    auto transform = GetComponentOfType<Transform>(*parent).lock();
    if (!transform) return false;
    position = transform->GetPosition();
    return true;
}

Matrix3 ObjectRotation(const Collider& collider) {
    auto parent = collider.GetParent().lock();
    auto transform = parent ? GetComponentOfType<Transform>(*parent).lock() : nullptr;
    return transform ? transform->GetWoldRotation().getUpper3x3() : Matrix3::identity();
}

Contact MakeContact(Collider& first, Collider& second, const Vector3& normal, float depth) {
    Contact contact;
    contact.first = &first;
    contact.second = &second;
    contact.normal = normal;
    contact.depth = depth;
    contact.firstIsGhost = first.IsGhost();
    contact.secondIsGhost = second.IsGhost();
    return contact;
}

// Like std::clamp, but defined for a reversed range (negative extents from level data): gives lo.
float Clamp(float v, float lo, float hi) {
    return std::max(lo, std::min(v, hi));
}

Vector3 ClosestPointOnObb(const Collider& box, const Vector3& point) {
    const Vector3 center = box.GetCenter();
    const auto axes = box.GetObbAxes();
    const Vector3 half = box.GetObbWorldHalfExtents();
    Vector3 closest = center;
    for (int i = 0; i < 3; ++i) {
        const float along = Clamp(dot(point - center, axes[i]), -half[i], half[i]);
        closest += axes[i] * along;
    }
    return closest;
}

Vector3 ClampToBox(const Vector3& p, const Vector3& min, const Vector3& max) {
    return {Clamp(p.getX(), min.getX(), max.getX()), Clamp(p.getY(), min.getY(), max.getY()),
            Clamp(p.getZ(), min.getZ(), max.getZ())};
}

// Sphere against a closest point q of a box: overlap depth and the normal from the sphere toward
// the box. A sphere whose reference point lies in the box has no direction to q; it takes the
// fall-back normal and its whole radius as depth.
Contact SphereToPointContact(Collider& sphere, Collider& box, const Vector3& center, const Vector3& closest) {
    const Vector3 d = closest - center;
    const float len = length(d);
    if (len == 0.0f) return MakeContact(sphere, box, kFallbackNormal, sphere.GetRadius());
    const float depth = sphere.GetRadius() - len;
    if (depth < 0.0f) return {};
    return MakeContact(sphere, box, d * (1.0f / len), depth);
}

bool SwappedSphereAabb(const Collider& box, const Collider& sphere) {
    return CheckSphereAabb(sphere, box);
}
bool SwappedSphereObb(const Collider& box, const Collider& sphere) {
    return CheckSphereObb(sphere, box);
}
bool SwappedObbObb(const Collider& obb, const Collider& aabb) {
    return CheckObbObb(aabb, obb);
}
Contact SwappedContactSphereAabb(Collider& box, Collider& sphere) {
    return ContactSphereAabb(sphere, box);
}
Contact SwappedContactSphereObb(Collider& box, Collider& sphere) {
    return ContactSphereObb(sphere, box);
}

constexpr int Index(ShapeType first, ShapeType second) {
    return static_cast<int>(first) * kTableShapes + static_cast<int>(second);
}

} // namespace

const char* ShapeName(ShapeType shape) {
    static constexpr const char* kNames[] = {"SPHERE", "AABB", "OBB", "CAPSULE", "INVALID"};
    const int index = static_cast<int>(shape);
    return (index >= 0 && index < 5) ? kNames[index] : kNames[4];
}

ShapeCheckTable MakeShapeCheckTable() {
    ShapeCheckTable table;
    table.fill(&CheckNotImplemented);
    using enum ShapeType;
    table[Index(SPHERE, SPHERE)] = &CheckSphereSphere;
    table[Index(SPHERE, AABB)] = &CheckSphereAabb;
    table[Index(SPHERE, OBB)] = &CheckSphereObb;
    table[Index(AABB, SPHERE)] = &SwappedSphereAabb;
    table[Index(AABB, AABB)] = &CheckAabbAabb;
    table[Index(AABB, OBB)] = &CheckObbObb;
    table[Index(OBB, SPHERE)] = &SwappedSphereObb;
    table[Index(OBB, AABB)] = &SwappedObbObb;
    table[Index(OBB, OBB)] = &CheckObbObb;
    return table;
}

ContactGeneratorTable MakeContactGeneratorTable() {
    ContactGeneratorTable table;
    table.fill(&ContactNotImplemented);
    using enum ShapeType;
    table[Index(SPHERE, SPHERE)] = &ContactSphereSphere;
    table[Index(SPHERE, AABB)] = &ContactSphereAabb;
    table[Index(SPHERE, OBB)] = &ContactSphereObb;
    table[Index(AABB, SPHERE)] = &SwappedContactSphereAabb;
    table[Index(AABB, AABB)] = &ContactAabbAabb;
    table[Index(OBB, SPHERE)] = &SwappedContactSphereObb;
    return table;
}

bool CheckNotImplemented(const Collider& first, const Collider& second) {
    std::printf("Collision check implemented on %s vs %s\n", ShapeName(first.GetShapeType()),
                ShapeName(second.GetShapeType()));
    return false;
}

bool CheckSphereSphere(const Collider& a, const Collider& b) {
    Vector3 pa, pb;
    if (!ObjectPosition(a, pa) || !ObjectPosition(b, pb)) return false;
    const float reach = a.GetRadius() + b.GetRadius();
    return reach * reach > lengthSqr(pb - pa);
}

bool CheckSphereAabb(const Collider& sphere, const Collider& box) {
    const Vector3 c = sphere.GetCenter();
    const Vector3 min = box.GetAabbMin();
    const Vector3 max = box.GetAabbMax();
    float sum = 0.0f;
    for (int i = 0; i < 3; ++i) {
        if (c[i] > max[i]) sum += (c[i] - max[i]) * (c[i] - max[i]);
        if (c[i] < min[i]) sum += (min[i] - c[i]) * (min[i] - c[i]);
    }
    const float r = sphere.GetRadius();
    return r * r > sum;
}

bool CheckAabbMinMax(const Vector3& minA, const Vector3& maxA, const Vector3& minB, const Vector3& maxB) {
    for (int i = 0; i < 3; ++i)
        if (minB[i] > maxA[i] || minA[i] > maxB[i]) return false;
    return true;
}

bool CheckAabbAabb(const Collider& a, const Collider& b) {
    return CheckAabbMinMax(a.GetAabbMin(), a.GetAabbMax(), b.GetAabbMin(), b.GetAabbMax());
}

bool CheckSphereObb(const Collider& sphere, const Collider& box) {
    const Vector3 c = sphere.GetCenter();
    const float r = sphere.GetRadius();
    return r * r > lengthSqr(ClosestPointOnObb(box, c) - c);
}

bool CheckObbObb(const Collider& first, const Collider& second) {
    const Box a{first.GetCenter(),
                first.GetShapeType() == ShapeType::AABB ? Matrix3::identity() : ObjectRotation(first),
                first.GetObbWorldScale()};
    const Box b{second.GetCenter(), ObjectRotation(second), second.GetObbWorldScale()};
    return ObbSeparatingAxisTest(a, b);
}

bool ObbSeparatingAxisTest(const Box& a, const Box& b) {
    // Absorbs the error of near-parallel edge pairs, whose cross products are near zero.
    constexpr float kEpsilon = 0.00001f;
    float R[3][3], AbsR[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            R[i][j] = dot(a.axes.getCol(i), b.axes.getCol(j));
            AbsR[i][j] = std::fabs(R[i][j]) + kEpsilon;
        }
    const Vector3 between = b.center - a.center;
    const float t[3] = {dot(between, a.axes.getCol(0)), dot(between, a.axes.getCol(1)),
                        dot(between, a.axes.getCol(2))};
    const Vector3& eA = a.halfExtents;
    const Vector3& eB = b.halfExtents;

    for (int i = 0; i < 3; ++i) {
        const float rb = eB[0] * AbsR[i][0] + eB[1] * AbsR[i][1] + eB[2] * AbsR[i][2];
        if (std::fabs(t[i]) > eA[i] + rb) return false;
    }
    for (int j = 0; j < 3; ++j) {
        const float ra = eA[0] * AbsR[0][j] + eA[1] * AbsR[1][j] + eA[2] * AbsR[2][j];
        if (std::fabs(t[0] * R[0][j] + t[1] * R[1][j] + t[2] * R[2][j]) > ra + eB[j]) return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float ra = eA[i1] * AbsR[i2][j] + eA[i2] * AbsR[i1][j];
            const float rb = eB[j1] * AbsR[i][j2] + eB[j2] * AbsR[i][j1];
            if (std::fabs(t[i2] * R[i1][j] - t[i1] * R[i2][j]) > ra + rb) return false;
        }
    }
    return true;
}

Contact ContactNotImplemented(Collider& first, Collider& second) {
    std::printf("Contact generation not implemented on %s vs %s\n", ShapeName(first.GetShapeType()),
                ShapeName(second.GetShapeType()));
    return {};
}

Contact ContactSphereSphere(Collider& a, Collider& b) {
    Vector3 pa, pb;
    if (!ObjectPosition(a, pa) || !ObjectPosition(b, pb)) return {};
    const Vector3 d = pb - pa;
    const float dist = length(d);
    const float reach = a.GetRadius() + b.GetRadius();
    // Coincident centres: no direction between them; push apart along the fall-back normal.
    if (dist == 0.0f) return MakeContact(a, b, kFallbackNormal, reach);
    return MakeContact(a, b, d / dist, reach - dist);
}

Contact ContactSphereAabb(Collider& sphere, Collider& box) {
    Vector3 p;
    if (!ObjectPosition(sphere, p)) return {};
    return SphereToPointContact(sphere, box, p, ClampToBox(p, box.GetAabbMin(), box.GetAabbMax()));
}

Contact ContactSphereObb(Collider& sphere, Collider& box) {
    const Vector3 c = sphere.GetCenter();
    return SphereToPointContact(sphere, box, c, ClosestPointOnObb(box, c));
}

Contact ContactAabbAabb(Collider& a, Collider& b) {
    Vector3 pa, pb;
    if (!ObjectPosition(a, pa) || !ObjectPosition(b, pb)) return {};
    const Vector3 d = pb - pa;
    const Vector3 ha = a.GetHalfExtents();
    const Vector3 hb = b.GetHalfExtents();
    int axis = 0;
    float least = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const float overlap = ha[k] + hb[k] - std::fabs(d[k]);
        if (overlap <= 0.0f) return {};
        if (k == 0 || overlap < least) {
            least = overlap;
            axis = k;
        }
    }
    Vector3 normal(0.0f);
    normal[axis] = d[axis] >= 0.0f ? 1.0f : -1.0f;
    return MakeContact(a, b, normal, least);
}

} // namespace physics_detail
