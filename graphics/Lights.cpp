// The device's light list, kept from the created- and destroyed-component messages, the lighting buffer
// filled from it, and the view frustum that culls renderables.
#include "DXDevice.h"
#include "GraphicsErrors.h"

#include <ComponentAccessors.h>
#include <Engine.h>
#include <Messages.h>
#include <ObjectFactory.h>

#include <algorithm>
#include <cmath>
#include <cstring>

using Vectormath::Aos::Vector3;

void DXDevice::OnLightCreated(const std::shared_ptr<Message>& message) {
    const auto* created = dynamic_cast<const CreatedComponentMessage*>(message.get());
    if (!created || created->GetComponentType() != ComponentType::Light) return;
    const std::shared_ptr<Component> component = created->GetComponentPTR().lock();
    if (!component) return;
    const std::shared_ptr<Object> parent = component->GetParent().lock();
    if (!parent) return;
    const std::shared_ptr<Object> object = Engine::mFactory->GetObjectWithID(parent->GetID()).lock();
    if (!object) return;
    mLights.push_back(GetComponentOfType<Light>(object));
}

void DXDevice::OnLightDestroyed(const std::shared_ptr<Message>& message) {
    const auto* destroyed = dynamic_cast<const DestroyedComponentMessage*>(message.get());
    if (!destroyed || destroyed->GetComponentType() != ComponentType::Light) return;
    const std::shared_ptr<Component> component = destroyed->GetComponentPTR().lock();
    if (!component) return;
    const std::uint32_t id = component->GetComponentID();
    std::erase_if(mLights, [id](const std::weak_ptr<Light>& entry) {
        const std::shared_ptr<Light> light = entry.lock();
        return !light || light->GetComponentID() == id;
    });
}

LightRecord& DXDevice::FillLightRecord(LightRecord& record, const Light* light) {
    const Vector3& diffuse = light->GetDiffuseIntensity();
    const Vector3& specular = light->GetSpecularIntensity();
    const Vector3& direction = light->GetLightDirection();
    for (int i = 0; i < 3; ++i) {
        record.diffuse[i] = diffuse[i];
        record.specular[i] = specular[i];
        record.direction[i] = direction[i];
    }
    record.type = std::int32_t(light->GetLightType());
    record.intensity = light->GetIntensity();
    record.range = light->GetRange();
    record.falloff = light->GetFalloffValue();
    record.innerAngle = light->GetInteriorAngle();
    record.outerAngle = light->GetExteriorAngle();
    return record;
}

void DXDevice::UpdateLightBuffer() {
    std::uint8_t* bytes = mLightingBuffer.bytes.data();
    auto put = [bytes](int slot, const LightRecord& record, const Vector3& position) {
        std::memcpy(bytes + sizeof(LightRecord) * std::size_t(slot), &record, sizeof record);
        const float p[4] = {position.getX(), position.getY(), position.getZ(), 1.0f};
        std::memcpy(bytes + kLightPositionsOffset + sizeof p * std::size_t(slot), p, sizeof p);
    };
    // The first 128 lights that still lock with their object's Transform; the rest cannot fit.
    std::uint32_t written = 0;
    for (const std::weak_ptr<Light>& entry : mLights) {
        if (written == kMaxLights) break;
        const std::shared_ptr<Light> light = entry.lock();
        if (!light) continue;
        const std::shared_ptr<Object> object = light->GetParent().lock();
        const std::shared_ptr<Transform> transform =
            object ? GetComponentOfType<Transform>(object).lock() : std::shared_ptr<Transform>();
        if (!transform) continue;
        LightRecord record{};
        // The four bytes after the exterior angle are never written: keep what the slot held.
        std::memcpy(&record, bytes + sizeof(LightRecord) * written, sizeof record);
        put(int(written), FillLightRecord(record, light.get()),
            light->GetLightPositionOffset() + transform->GetPosition());
        ++written;
    }
    const Light defaults;
    for (std::uint32_t slot = written; slot < std::uint32_t(kMaxLights); ++slot) {
        LightRecord record{};
        std::memcpy(&record, bytes + sizeof(LightRecord) * slot, sizeof record);
        put(int(slot), FillLightRecord(record, &defaults), Vector3(0.0f));
    }
    std::memcpy(bytes + kLightCountOffset, &written, sizeof written);
}

void DXDevice::MakePlaneFromPoints(Plane out, const Vector3& p0, const Vector3& p1, const Vector3& p2) {
    const Vector3 n = cross(p1 - p0, p2 - p0);
    const float len = length(n);
    if (len < 0.00001f)
        SendGraphicsError("Trying to make plane with invalid normal", false, "DXDevice::MakePlaneFromPoints",
                          "DX11.cpp", __LINE__);
    const Vector3 unit = n / len;
    out[0] = unit.getX();
    out[1] = unit.getY();
    out[2] = unit.getZ();
    out[3] = dot(p0, unit);
}

void DXDevice::BuildFrustum(const Camera* camera, Plane planes[6]) {
    Vector3 eye(0.0f);
    if (const std::shared_ptr<Object> object = camera->GetParent().lock())
        if (const std::shared_ptr<Transform> transform = GetComponentOfType<Transform>(object).lock())
            eye = transform->GetPosition();
    const Vector3 fwd = camera->GetLookAt();
    const Vector3 right = camera->GetRightVector();
    const Vector3 up = camera->GetUpVector();
    const float aspect = float(camera->GetCameraWidth()) / float(camera->GetCameraHeight());
    const float t = std::tan(camera->GetCameraFOV() * 0.5f);
    const float farPlane = camera->GetCameraFar(), nearPlane = camera->GetCameraNear();
    const float hf = t * farPlane, wf = hf * aspect, hn = t * nearPlane, wn = hn * aspect;
    const Vector3 fc = eye + fwd * farPlane, nc = eye + fwd * nearPlane;
    const Vector3 ftl = fc + up * hf - right * wf, ftr = fc + up * hf + right * wf;
    const Vector3 fbl = fc - up * hf - right * wf, fbr = fc - up * hf + right * wf;
    const Vector3 ntl = nc + up * hn - right * wn, ntr = nc + up * hn + right * wn;
    const Vector3 nbl = nc - up * hn - right * wn, nbr = nc - up * hn + right * wn;
    MakePlaneFromPoints(planes[0], ftr, ftl, fbl);
    MakePlaneFromPoints(planes[1], ntl, ntr, nbr);
    MakePlaneFromPoints(planes[2], ftl, ntl, nbl);
    MakePlaneFromPoints(planes[3], ntr, ftr, fbr);
    MakePlaneFromPoints(planes[4], ntr, ntl, ftl);
    MakePlaneFromPoints(planes[5], fbl, nbl, nbr);
}

bool DXDevice::AabbOutsideFrustum(const Plane planes[6], const Vector3& min, const Vector3& max) {
    const Vector3 half = (max - min) * 0.5f;
    const Vector3 centre = min + half;
    for (int i = 0; i < 6; ++i) {
        const float* pl = planes[i];
        float farDot = 0.0f, nearDot = 0.0f;
        for (int axis = 0; axis < 3; ++axis) {
            const float n = pl[axis];
            const float toward = n < 0.0f ? centre[axis] - half[axis] : centre[axis] + half[axis];
            const float away = n < 0.0f ? centre[axis] + half[axis] : centre[axis] - half[axis];
            farDot += n * toward;
            nearDot += n * away;
        }
        if (farDot - pl[3] < -0.00001f && nearDot - pl[3] < -0.00001f) return true;
    }
    return false;
}
