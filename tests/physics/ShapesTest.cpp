#include "detail/Shapes.h"

#include "World.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace physics_detail;
using namespace physics_test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Vectormath::Aos::Matrix3;

constexpr float kQuarterTurn = 0.785398163f; // 45 degrees
const float kSqrt2 = std::sqrt(2.0f);

BodyDesc Sphere(Vector3 position, float radius) {
    BodyDesc desc;
    desc.shape = ShapeType::SPHERE;
    desc.position = position;
    desc.radius = radius;
    return desc;
}

BodyDesc BoxSpec(ShapeType shape, Vector3 position, Vector3 half, float yRotation = 0.0f) {
    BodyDesc desc;
    desc.shape = shape;
    desc.position = position;
    desc.halfExtents = half;
    desc.rotation = Vector3(0.0f, yRotation, 0.0f);
    return desc;
}

enum class First { A, B };

struct ShapeCase {
    const char* name;
    BodyDesc a;
    BodyDesc b;
    bool overlap;
    bool contact; // a contact is stored (only asked when overlapping)
    First first;  // which collider the contact starts from
    Vector3 normal;
    float depth;
    std::string printed;
};

class ShapesTest : public ::testing::Test {
protected:
    void TearDown() override { Engine::Release(); }
};

TEST_F(ShapesTest, PairTable) {
    const Vector3 unit(1.0f, 1.0f, 1.0f);
    const ShapeCase cases[] = {
        // Spheres: strict, so centres exactly the radius sum apart do not overlap.
        {"spheres 2 apart", Sphere({0, 0, 0}, 1), Sphere({2, 0, 0}, 1), false, false, First::A, {}, 0, ""},
        {"spheres 1.999 apart",
         Sphere({0, 0, 0}, 1),
         Sphere({1.999f, 0, 0}, 1),
         true,
         true,
         First::A,
         {1, 0, 0},
         0.001f,
         ""},
        {"spheres 1.999 apart, second first",
         Sphere({1.999f, 0, 0}, 1),
         Sphere({0, 0, 0}, 1),
         true,
         true,
         First::A,
         {-1, 0, 0},
         0.001f,
         ""},
        {"coincident spheres",
         Sphere({1, 2, 3}, 1),
         Sphere({1, 2, 3}, 0.5f),
         true,
         true,
         First::A,
         {0, 1, 0},
         1.5f,
         ""},
        // Sphere and AABB.
        {"sphere touching an AABB face",
         Sphere({0, 1.5f, 0}, 0.5f),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        {"sphere sunk into an AABB top",
         Sphere({0, 1.4f, 0}, 0.5f),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         true,
         true,
         First::A,
         {0, -1, 0},
         0.1f,
         ""},
        {"AABB first, sphere second",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         Sphere({0, 1.4f, 0}, 0.5f),
         true,
         true,
         First::B,
         {0, -1, 0},
         0.1f,
         ""},
        {"sphere near an AABB edge",
         Sphere({1.3f, 1.4f, 0}, 0.6f),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         true,
         true,
         First::A,
         {-0.6f, -0.8f, 0},
         0.1f,
         ""},
        {"sphere near an AABB edge, outside",
         Sphere({1.3f, 1.4f, 0}, 0.45f),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        {"sphere centre inside an AABB",
         Sphere({0.2f, 0.3f, 0}, 0.5f),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         true,
         true,
         First::A,
         {0, 1, 0},
         0.5f,
         ""},
        // AABB pairs: least overlap wins, x before y before z on ties.
        {"unit AABBs offset (1.5, 0.2, 0.2)",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::AABB, {1.5f, 0.2f, 0.2f}, unit),
         true,
         true,
         First::A,
         {1, 0, 0},
         0.5f,
         ""},
        {"equal overlaps on x and y",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::AABB, {1.5f, 1.5f, 0.2f}, unit),
         true,
         true,
         First::A,
         {1, 0, 0},
         0.5f,
         ""},
        {"equal overlaps on y and z, negative side",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::AABB, {0.2f, -1.5f, -1.5f}, unit),
         true,
         true,
         First::A,
         {0, -1, 0},
         0.5f,
         ""},
        {"AABB faces touching: overlap without a contact",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::AABB, {2, 0, 0}, unit),
         true,
         false,
         First::A,
         {},
         0,
         ""},
        {"AABBs apart",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::AABB, {2.01f, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        // Boxes with an OBB: detected, never given a contact.
        {"OBB 45 degrees about y overlapping an AABB",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::OBB, {2.2f, 0, 0}, unit, kQuarterTurn),
         true,
         false,
         First::A,
         {},
         0,
         "Contact generation not implemented on AABB vs OBB\n"},
        {"the same pair, OBB first",
         BoxSpec(ShapeType::OBB, {2.2f, 0, 0}, unit, kQuarterTurn),
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         true,
         false,
         First::A,
         {},
         0,
         "Contact generation not implemented on OBB vs AABB\n"},
        {"OBB by an AABB corner, apart along the OBB's axis",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::OBB, {2.3f, 0, 2.3f}, unit, kQuarterTurn),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        {"two OBBs overlapping",
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         BoxSpec(ShapeType::OBB, {1.2f, 0, 1.2f}, unit, kQuarterTurn),
         true,
         false,
         First::A,
         {},
         0,
         "Contact generation not implemented on OBB vs OBB\n"},
        {"two OBBs apart",
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         BoxSpec(ShapeType::OBB, {1.5f, 0, 1.5f}, unit, kQuarterTurn),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        // Sphere and OBB: the OBB's corner points along +x.
        {"sphere at an OBB corner",
         Sphere({1.5f, 0, 0}, 0.1f),
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         true,
         true,
         First::A,
         {-1, 0, 0},
         0.1f - (1.5f - kSqrt2),
         ""},
        {"OBB first, sphere second",
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         Sphere({1.5f, 0, 0}, 0.1f),
         true,
         true,
         First::B,
         {-1, 0, 0},
         0.1f - (1.5f - kSqrt2),
         ""},
        {"sphere just off an OBB corner",
         Sphere({1.5f, 0, 0}, 0.08f),
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         false,
         false,
         First::A,
         {},
         0,
         ""},
        {"sphere centre inside an OBB",
         Sphere({0.1f, 0.2f, 0}, 0.25f),
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit, kQuarterTurn),
         true,
         true,
         First::A,
         {0, 1, 0},
         0.25f,
         ""},
        // Capsules never collide, and say so.
        {"capsule and sphere",
         BoxSpec(ShapeType::CAPSULE, {0, 0, 0}, unit),
         Sphere({0, 0, 0}, 1),
         false,
         false,
         First::A,
         {},
         0,
         "Collision check implemented on CAPSULE vs SPHERE\n"},
        {"sphere and capsule",
         Sphere({0, 0, 0}, 1),
         BoxSpec(ShapeType::CAPSULE, {0, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         "Collision check implemented on SPHERE vs CAPSULE\n"},
        {"AABB and capsule",
         BoxSpec(ShapeType::AABB, {0, 0, 0}, unit),
         BoxSpec(ShapeType::CAPSULE, {0, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         "Collision check implemented on AABB vs CAPSULE\n"},
        {"capsule and OBB",
         BoxSpec(ShapeType::CAPSULE, {0, 0, 0}, unit),
         BoxSpec(ShapeType::OBB, {0, 0, 0}, unit),
         false,
         false,
         First::A,
         {},
         0,
         "Collision check implemented on CAPSULE vs OBB\n"},
    };

    const ShapeCheckTable checks = MakeShapeCheckTable();
    const ContactGeneratorTable generators = MakeContactGeneratorTable();
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Body a = MakeBody(c.a);
        Body b = MakeBody(c.b);
        const int index = static_cast<int>(c.a.shape) * kTableShapes + static_cast<int>(c.b.shape);

        CaptureStdout();
        const bool overlap = checks[index](*a.collider, *b.collider);
        Contact contact;
        if (overlap) contact = generators[index](*a.collider, *b.collider);
        EXPECT_EQ(GetCapturedStdout(), c.printed);

        ASSERT_EQ(overlap, c.overlap);
        // The broad phase's box test passes for every pair the narrow phase may see.
        if (overlap) {
            EXPECT_TRUE(CheckAabbAabb(*a.collider, *b.collider));
        }
        if (!overlap) continue;
        ASSERT_EQ(!contact.IsEmpty(), c.contact);
        if (!c.contact) continue;
        Collider* first = c.first == First::A ? a.collider.get() : b.collider.get();
        Collider* second = c.first == First::A ? b.collider.get() : a.collider.get();
        EXPECT_EQ(contact.first, first);
        EXPECT_EQ(contact.second, second);
        EXPECT_NEAR(contact.normal.getX(), c.normal.getX(), 1e-4f);
        EXPECT_NEAR(contact.normal.getY(), c.normal.getY(), 1e-4f);
        EXPECT_NEAR(contact.normal.getZ(), c.normal.getZ(), 1e-4f);
        EXPECT_NEAR(length(contact.normal), 1.0f, 1e-5f);
        EXPECT_NEAR(contact.depth, c.depth, 1e-4f);
        EXPECT_FALSE(contact.firstIsGhost);
        EXPECT_FALSE(contact.secondIsGhost);
    }
}

TEST_F(ShapesTest, ContactsCarryBothGhostFlags) {
    BodyDesc ghost = Sphere({0, 0, 0}, 1);
    ghost.ghost = true;
    Body a = MakeBody(ghost);
    Body b = MakeBody(Sphere({1, 0, 0}, 1));
    const Contact ab = ContactSphereSphere(*a.collider, *b.collider);
    EXPECT_TRUE(ab.firstIsGhost);
    EXPECT_FALSE(ab.secondIsGhost);
    const Contact ba = ContactSphereSphere(*b.collider, *a.collider);
    EXPECT_FALSE(ba.firstIsGhost);
    EXPECT_TRUE(ba.secondIsGhost);
}

TEST_F(ShapesTest, SeparatingAxisTestUsesEdgeAxes) {
    // Found with an independent test (a point common to both boxes' twelve face planes): no face
    // axis separates these boxes, only the cross product of the third axes of both.
    const Box a{Vector3(0.0f), Matrix3::identity(), Vector3(1.0f)};
    const Matrix3 rotation = Matrix3::rotationZYX(Vector3(0.5f, -1.0f, 1.1f));
    EXPECT_FALSE(ObbSeparatingAxisTest(a, Box{Vector3(2.3f, 2.0f, 0.3f), rotation, Vector3(1.0f)}));
    EXPECT_TRUE(ObbSeparatingAxisTest(a, Box{Vector3(2.07f, 1.8f, 0.27f), rotation, Vector3(1.0f)}));
    // Symmetric in its two boxes.
    EXPECT_FALSE(ObbSeparatingAxisTest(Box{Vector3(2.3f, 2.0f, 0.3f), rotation, Vector3(1.0f)}, a));
}

TEST_F(ShapesTest, ShapeNames) {
    EXPECT_STREQ(ShapeName(ShapeType::SPHERE), "SPHERE");
    EXPECT_STREQ(ShapeName(ShapeType::AABB), "AABB");
    EXPECT_STREQ(ShapeName(ShapeType::OBB), "OBB");
    EXPECT_STREQ(ShapeName(ShapeType::CAPSULE), "CAPSULE");
    EXPECT_STREQ(ShapeName(ShapeType::INVALID), "INVALID");
    EXPECT_STREQ(ShapeName(static_cast<ShapeType>(9)), "INVALID");
}

} // namespace
