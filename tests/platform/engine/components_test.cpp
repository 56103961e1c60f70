// The vector library and the world-space behaviour of the components.
#include "engine_fixture.h"

#include <cmath>

namespace {

using namespace Vectormath::Aos;

constexpr float kHalfPi = 1.57079632679f;

void ExpectNear(const Vector3& v, float x, float y, float z, const char* what) {
    EXPECT_NEAR(v.getX(), x, 1e-5f) << what;
    EXPECT_NEAR(v.getY(), y, 1e-5f) << what;
    EXPECT_NEAR(v.getZ(), z, 1e-5f) << what;
}

TEST(VectormathTest, MatricesAreColumnMajorWithColumnVectors) {
    const Matrix4 t = Matrix4::translation(Vector3(4, 5, 6));
    const float* f = reinterpret_cast<const float*>(&t);
    EXPECT_EQ(f[12], 4.0f);
    EXPECT_EQ(f[13], 5.0f);
    EXPECT_EQ(f[14], 6.0f);
    EXPECT_EQ(f[15], 1.0f);
    EXPECT_EQ(t.getElem(3, 0), 4.0f) << "column 3, row 0";
    const Vector4 moved = t * Vector4(1, 1, 1, 1);
    ExpectNear(moved.getXYZ(), 5, 6, 7, "translation moves points");
    ExpectNear((t * Vector4(1, 1, 1, 0)).getXYZ(), 1, 1, 1, "and leaves directions");
}

TEST(VectormathTest, RotationsFollowTheRightHandRule) {
    ExpectNear(Matrix3::rotationY(kHalfPi) * Vector3(1, 0, 0), 0, 0, -1, "y turns x to -z");
    ExpectNear(Matrix3::rotationZ(kHalfPi) * Vector3(1, 0, 0), 0, 1, 0, "z turns x to y");
    ExpectNear(Matrix3::rotationX(kHalfPi) * Vector3(0, 1, 0), 0, 0, 1, "x turns y to z");
    // x first, then y: (0,1,0) -x-> (0,0,1) -y-> (1,0,0)
    ExpectNear(Matrix3::rotationZYX(Vector3(kHalfPi, kHalfPi, 0)) * Vector3(0, 1, 0), 1, 0, 0, "order");
}

TEST(VectormathTest, InverseTransposeAndVectorHelpers) {
    const Matrix4 m = Matrix4::translation(Vector3(1, -2, 3)) *
                      Matrix4::rotationZYX(Vector3(0.3f, -1.1f, 2.0f)) * Matrix4::scale(Vector3(2, 3, 0.5f));
    const Matrix4 product = inverse(m) * m;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_NEAR(product.getElem(c, r), c == r ? 1.0f : 0.0f, 1e-5f) << c << r;
    const Matrix3 r3 = m.getUpper3x3();
    const Matrix3 p3 = inverse(r3) * r3;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(p3.getElem(c, r), c == r ? 1.0f : 0.0f, 1e-5f);
    EXPECT_EQ(transpose(m).getElem(1, 2), m.getElem(2, 1));

    ExpectNear(cross(Vector3(1, 0, 0), Vector3(0, 1, 0)), 0, 0, 1, "cross");
    EXPECT_FLOAT_EQ(dot(Vector3(1, 2, 3), Vector3(4, 5, 6)), 32.0f);
    EXPECT_FLOAT_EQ(length(Vector3(3, 4, 0)), 5.0f);
    EXPECT_FLOAT_EQ(lengthSqr(Vector3(3, 4, 0)), 25.0f);
    ExpectNear(normalize(Vector3(0, 0, -7)), 0, 0, -1, "normalize");
    ExpectNear(absPerElem(Vector3(-1, 2, -3)), 1, 2, 3, "abs");
    static_assert(alignof(Vector3) == 16 && alignof(Vector4) == 16);
}

class ComponentsTest : public EngineTestBase {
protected:
    // An object with a Transform and the given component.
    template <class T>
    std::shared_ptr<T> Make(const char* className, std::shared_ptr<Transform>* transform = nullptr) {
        auto object = Engine::mFactory->CreateGenericObject();
        auto t =
            std::static_pointer_cast<Transform>(Engine::mFactory->GiveObjectComponent(object, "Transform"));
        if (transform) *transform = t;
        return std::static_pointer_cast<T>(Engine::mFactory->GiveObjectComponent(object, className));
    }
};

TEST_F(ComponentsTest, TransformBuildsTranslateRotateScale) {
    Transform t;
    t.SetWorldPosition(Vector3(1, 2, 3));
    t.SetRotation(Vector3(0, kHalfPi, 0));
    t.SetScale(Vector3(2, 2, 2));
    ExpectNear((t.GetWorldTransform() * Vector4(1, 0, 0, 1)).getXYZ(), 1, 2, 1, "world");
    ExpectNear(t.GetWoldRotation().getUpper3x3() * Vector3(1, 0, 0), 0, 0, -1, "rotation alone");
    ExpectNear(t.GetWoldRotation().getTranslation(), 0, 0, 0, "no translation in the rotation");
}

TEST_F(ComponentsTest, RigidBodyForcesImpulsesAndInverseMass) {
    RigidBody body;
    body.mass = 2.0f;
    EXPECT_FLOAT_EQ(body.GetInvMass(), 0.5f);
    body.AddForce(Vector3(1, 0, 0));
    body.AddForce(Vector3(0, -3, 0));
    ExpectNear(body.GetNetForce(), 1, -3, 0, "forces add up");
    body.ClearForces();
    ExpectNear(body.GetNetForce(), 0, 0, 0, "cleared");
    body.AddImpulse(Vector3(4, 0, 0));
    ExpectNear(body.GetVelocity(), 2, 0, 0, "impulse times inverse mass");
    body.velocity = Vector3(0, 1, 0);
    ExpectNear(body.GetVelocity(), 0, 1, 0, "the public velocity is the one read");

    const struct {
        bool isStatic;
        float mass, inverse;
    } cases[] = {{false, 4, 0.25f}, {true, 4, 0}, {false, 0, 0}, {false, -1, 0}};
    for (const auto& c : cases) {
        body.SetStatic(c.isStatic);
        body.mass = c.mass;
        EXPECT_FLOAT_EQ(body.GetInvMass(), c.inverse) << c.isStatic << " " << c.mass;
    }
    body.SetStatic(true);
    body.velocity = Vector3(0.0f);
    body.AddImpulse(Vector3(9, 9, 9));
    ExpectNear(body.GetVelocity(), 0, 0, 0, "static bodies do not move");
}

TEST_F(ComponentsTest, ColliderWorldValuesFollowTheTransform) {
    std::shared_ptr<Transform> t;
    auto c = Make<Collider>("Collider", &t);
    ASSERT_TRUE(c && t);
    c->SetShapeType(ShapeType::SPHERE);
    c->SetRadius(0.5f);
    t->SetWorldPosition(Vector3(10, 0, 0));
    ExpectNear(c->GetCenter(), 10, 0, 0, "centre");
    ExpectNear(c->GetAabbMin(), 9.5f, -0.5f, -0.5f, "sphere box min");
    ExpectNear(c->GetAabbMax(), 10.5f, 0.5f, 0.5f, "sphere box max");

    c->SetShapeType(ShapeType::AABB);
    c->SetHalfExtents(Vector3(1, 2, 3));
    t->SetScale(Vector3(2, 1, 1));
    ExpectNear(c->GetHalfExtents(), 2, 2, 3, "scaled half extents");
    ExpectNear(c->GetAabbMax(), 12, 2, 3, "aabb max");

    c->SetShapeType(ShapeType::OBB);
    t->SetScale(Vector3(1, 1, 1));
    c->SetHalfExtents(Vector3(1, 1, 1));
    t->SetRotation(Vector3(0, kHalfPi / 2, 0));
    const float r = std::sqrt(2.0f);
    ExpectNear(c->GetAabbMax() - c->GetCenter(), r, 1, r, "a box turned 45 degrees reaches sqrt 2");
    const auto axes = c->GetObbAxes();
    for (const auto& axis : axes)
        EXPECT_NEAR(length(axis), 1.0f, 1e-5f);
    ExpectNear(axes[1], 0, 1, 0, "y stays");
    ExpectNear(c->GetObbWorldHalfExtents(), 1, 1, 1, "obb half extents");
    ExpectNear(c->GetObbWorldScale(), 1, 1, 1, "obb scale");

    c->SetShapeType(ShapeType::INVALID);
    ExpectNear(c->GetAabbMax() - c->GetAabbMin(), 0, 0, 0, "an invalid shape has an empty box");

    Collider orphan;
    orphan.SetOffset(Vector3(1, 1, 1));
    ExpectNear(orphan.GetCenter(), 1, 1, 1, "no object: the offset alone");
}

TEST_F(ComponentsTest, CameraLooksAlongItsObjectAndReportsSizeChanges) {
    std::shared_ptr<Transform> t;
    auto cam = Make<Camera>("Camera", &t);
    ASSERT_TRUE(cam && t);
    t->SetWorldPosition(Vector3(0, 0, 10));
    ExpectNear(cam->GetLookAt(), 0, 0, -1, "forward");
    ExpectNear(cam->GetRightVector(), 1, 0, 0, "right");
    ExpectNear(cam->GetUpVector(), 0, 1, 0, "up");
    const Matrix4 view = cam->GetCameraTransformation();
    ExpectNear((view * Vector4(0, 0, 0, 1)).getXYZ(), 0, 0, -10, "the origin is 10 ahead");
    ExpectNear((view * Vector4(1, 0, 10, 1)).getXYZ(), 1, 0, 0, "right stays right");

    t->SetRotation(Vector3(0, kHalfPi, 0));
    ExpectNear(cam->GetLookAt(), -1, 0, 0, "turned left");
    ExpectNear((cam->GetCameraTransformation() * Vector4(-5, 0, 10, 1)).getXYZ(), 0, 0, -5,
               "ahead after turning");

    EXPECT_FALSE(cam->GetDidChange());
    cam->SetCameraWidth(cam->GetCameraWidth());
    EXPECT_FALSE(cam->GetDidChange()) << "the same size is no change";
    cam->SetCameraHeight(450);
    EXPECT_TRUE(cam->GetDidChange());
    EXPECT_EQ(cam->GetCameraHeight(), 450u);
    cam->SetDidChange(false);
    EXPECT_FALSE(cam->GetDidChange());
}

TEST_F(ComponentsTest, PlayerStatsAndStaticControllerFlag) {
    PlayerStats stats;
    stats.AddKeyCard();
    stats.AddPowerCell();
    stats.AddPowerCell();
    EXPECT_EQ(stats.GetKeyCards(), 1);
    EXPECT_EQ(stats.GetPowerCells(), 2);
    EXPECT_GT(stats.flareRechargeTime, 0.0f);
    static_assert(sizeof(stats.perished) == 1, "read as a one-byte flag");
    Controller::isFullscreened = true;
    EXPECT_TRUE(Controller::isFullscreened);
    Controller::isFullscreened = false;
    Controller controller;
    controller.SetPlayerNumber(3);
    EXPECT_EQ(controller.GetPlayerNumber(), 3u);
}

TEST_F(ComponentsTest, ComponentIdsAreUniqueWords) {
    Transform a, b;
    EXPECT_NE(a.GetComponentID(), b.GetComponentID());
    EXPECT_EQ(a.GetComponentType(), ComponentType::Transform);
}

} // namespace
