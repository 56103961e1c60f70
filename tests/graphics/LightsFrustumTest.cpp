#include "SceneTestSupport.h"

#include <cmath>
#include <cstring>

namespace {

using scenetest::SceneTest;
using scenetest::Vector3;

class Frustum : public SceneTest {};
class Lights : public SceneTest {
protected:
    std::shared_ptr<Light> AddLight(const Vector3& position) {
        auto object = MakeObject(position);
        auto light = Give<Light>(object, "Light");
        Engine::RunFrames(1, 0.016f); // delivers the created-component message to the device
        return light;
    }
    LightRecord Record(int i) const {
        LightRecord r;
        std::memcpy(&r, mDevice->LightingBufferBytes() + 64 * i, 64);
        return r;
    }
    std::vector<float> Position(int i) const {
        std::vector<float> p(4);
        std::memcpy(p.data(), mDevice->LightingBufferBytes() + 8192 + 16 * i, 16);
        return p;
    }
    std::uint32_t Count() const {
        std::uint32_t n;
        std::memcpy(&n, mDevice->LightingBufferBytes() + 10252, 4);
        return n;
    }
};

float Distance(const Plane& p, const Vector3& x) {
    return p[0] * x.getX() + p[1] * x.getY() + p[2] * x.getZ() - p[3];
}

TEST_F(Frustum, NormalsPointInwardForARightHandedCamera) {
    auto camera = AddCamera(Vector3(1, 2, 3), Vector3(1, 0, -1));
    Plane planes[6];
    mDevice->BuildFrustum(camera.get(), planes);
    const Vector3 look = camera->GetLookAt();
    // Points on the camera's axis between the planes are inside every plane; beyond them outside one.
    for (float depth : {0.2f, 10.0f, 999.0f})
        for (const Plane& p : planes)
            EXPECT_GT(Distance(p, Vector3(1, 2, 3) + look * depth), 0.0f) << depth;
    EXPECT_LT(Distance(planes[0], Vector3(1, 2, 3) + look * 1001.0f), 0.0f);
    EXPECT_LT(Distance(planes[1], Vector3(1, 2, 3) + look * 0.05f), 0.0f);
    EXPECT_LT(Distance(planes[1], Vector3(1, 2, 3) - look), 0.0f);
    for (const Plane& p : planes)
        EXPECT_NEAR(p[0] * p[0] + p[1] * p[1] + p[2] * p[2], 1.0f, 1e-5f);
    // Right of the right plane, above the top one.
    EXPECT_LT(Distance(planes[3], Vector3(1, 2, 3) + look * 10.0f + camera->GetRightVector() * 100.0f), 0.0f);
    EXPECT_LT(Distance(planes[4], Vector3(1, 2, 3) + look * 10.0f + camera->GetUpVector() * 100.0f), 0.0f);
}

TEST_F(Frustum, BoxesInsideOutsideAndTouching) {
    // One plane x >= 0 repeated: only it decides.
    Plane planes[6];
    for (Plane& p : planes) {
        p[0] = 1, p[1] = 0, p[2] = 0, p[3] = 0;
    }
    struct Case {
        Vector3 min, max;
        bool outside;
    };
    const Case cases[] = {
        {Vector3(1, 0, 0), Vector3(2, 1, 1), false},           // inside
        {Vector3(-1, 0, 0), Vector3(1, 1, 1), false},          // across: kept
        {Vector3(-3, 0, 0), Vector3(-2, 1, 1), true},          // outside
        {Vector3(-1, 0, 0), Vector3(0, 1, 1), false},          // touching
        {Vector3(-1, 0, 0), Vector3(-0.000005f, 1, 1), false}, // within 1e-5 of it
        {Vector3(-1, 0, 0), Vector3(-0.0001f, 1, 1), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DXDevice::AabbOutsideFrustum(planes, c.min, c.max), c.outside) << c.max.getX();
}

TEST_F(Frustum, CollinearPointsAreReportedAndGiveANonFinitePlane) {
    gfxtest::Recorder errors({MessageType::Error});
    Plane p;
    DXDevice::MakePlaneFromPoints(p, Vector3(0, 0, 0), Vector3(1, 1, 1), Vector3(2, 2, 2));
    ASSERT_EQ(errors.seen.size(), 1u);
    const auto* e = dynamic_cast<const ErrorMessage*>(errors.seen[0].get());
    EXPECT_EQ(e->GetText(), "Trying to make plane with invalid normal");
    EXPECT_FALSE(e->GetIsFatal());
    EXPECT_EQ(e->GetFunctionName(), "DXDevice::MakePlaneFromPoints");
    EXPECT_EQ(e->GetFileName(), "DX11.cpp");
    EXPECT_FALSE(std::isfinite(p[0]));
}

TEST_F(Lights, NoLightsGiveDefaultRecordsAndCountZero) {
    mDevice->UpdateLightBuffer();
    for (int i = 0; i < 128; ++i) {
        const LightRecord r = Record(i);
        // The engine's default light: a point light of full intensity shining down, range 10.
        EXPECT_EQ(r.type, LIGHT_POINT) << i;
        EXPECT_EQ(r.intensity, 1.0f);
        EXPECT_EQ(r.range, 10.0f);
        EXPECT_EQ(r.direction[1], -1.0f);
        EXPECT_EQ(Position(i), (std::vector<float>{0, 0, 0, 1})) << i;
    }
    EXPECT_EQ(Count(), 0u);
}

TEST_F(Lights, RecordsFollowTheLightsAndStopAt128) {
    auto first = AddLight(Vector3(1, 2, 3));
    first->SetLightType(LIGHT_SPOT);
    first->SetDiffuseIntensity(Vector3(0.5f, 0.25f, 0.125f));
    first->SetSpecularIntensity(Vector3(1, 0, 1));
    first->SetIntensity(3.0f);
    first->SetLightDirection(Vector3(0, 0, -1));
    first->SetRange(20.0f);
    first->SetFalloffValue(2.0f);
    first->SetInteriorAngle(15.0f);
    first->SetExteriorAngle(30.0f);
    first->SetLightPositionOffset(Vector3(0, 1, 0));
    mDevice->UpdateLightBuffer();
    const LightRecord r = Record(0);
    EXPECT_EQ(std::vector<float>(r.diffuse, r.diffuse + 3), (std::vector<float>{0.5f, 0.25f, 0.125f}));
    EXPECT_EQ(r.type, 2);
    EXPECT_EQ(std::vector<float>(r.specular, r.specular + 3), (std::vector<float>{1, 0, 1}));
    EXPECT_EQ(r.intensity, 3.0f);
    EXPECT_EQ(r.direction[2], -1.0f);
    EXPECT_EQ(r.range, 20.0f);
    EXPECT_EQ(r.falloff, 2.0f);
    EXPECT_EQ(r.innerAngle, 15.0f);
    EXPECT_EQ(r.outerAngle, 30.0f);
    EXPECT_EQ(Position(0), (std::vector<float>{1, 3, 3, 1}));
    EXPECT_EQ(Count(), 1u);

    for (int i = 1; i < 130; ++i)
        AddLight(Vector3(float(i), 0, 0));
    ASSERT_EQ(mDevice->LightCount(), 130u);
    mDevice->UpdateLightBuffer();
    EXPECT_EQ(Count(), 128u);
    EXPECT_EQ(Position(127), (std::vector<float>{127, 0, 0, 1}));
}

TEST_F(Lights, DestroyingALightRegisteredTwiceRemovesBothAndExpiredOnes) {
    auto kept = AddLight(Vector3(0, 0, 0));
    auto twice = AddLight(Vector3(1, 0, 0));
    // The same light announced again.
    mDevice->OnLightCreated(std::make_shared<CreatedComponentMessage>(L"Test", ComponentType::Light, twice));
    auto gone = AddLight(Vector3(2, 0, 0));
    ASSERT_EQ(mDevice->LightCount(), 4u);
    Engine::mFactory->Destroy(gone->GetParent());
    Engine::RunFrames(1, 0.016f);
    gone.reset();
    mDevice->OnLightDestroyed(
        std::make_shared<DestroyedComponentMessage>(L"Test", ComponentType::Light, twice));
    EXPECT_EQ(mDevice->LightCount(), 1u);
    mDevice->UpdateLightBuffer();
    EXPECT_EQ(Count(), 1u);
}

} // namespace
