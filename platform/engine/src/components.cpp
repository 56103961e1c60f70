#include "Components.h"

#include <cmath>

using namespace Vectormath::Aos;

namespace {

std::shared_ptr<Transform> TransformOf(const Component& component) {
    auto parent = component.GetParent().lock();
    if (!parent) return nullptr;
    return std::static_pointer_cast<Transform>(parent->GetComponent(ComponentType::Transform).lock());
}

} // namespace

Transform::Transform() : Component(ComponentType::Transform), mScale(1.0f) {
    UpdateMatrices();
}

void Transform::SetWorldPosition(const Vector3& position) {
    mPosition = position;
    UpdateMatrices();
}

void Transform::SetRotation(const Vector3& radians) {
    mRotation = radians;
    UpdateMatrices();
}

void Transform::SetScale(const Vector3& scale) {
    mScale = scale;
    UpdateMatrices();
}

void Transform::UpdateMatrices() {
    mWorldRotation = Matrix4::rotationZYX(mRotation);
    mWorld = Matrix4::translation(mPosition) * mWorldRotation * Matrix4::scale(mScale);
}

RigidBody::RigidBody() : Component(ComponentType::RigidBody) {}

float RigidBody::GetInvMass() const {
    return (mStatic || !(mass > 0.0f)) ? 0.0f : 1.0f / mass;
}

Collider::Collider() : Component(ComponentType::Collider), mHalfExtents(0.5f) {}

Vector3 Collider::GetCenter() const {
    auto transform = TransformOf(*this);
    return transform ? transform->GetPosition() + mOffset : mOffset;
}

Vector3 Collider::GetHalfExtents() const {
    auto transform = TransformOf(*this);
    return transform ? mulPerElem(mHalfExtents, absPerElem(transform->GetScale())) : mHalfExtents;
}

Vector3 Collider::GetObbWorldHalfExtents() const {
    return GetHalfExtents();
}
Vector3 Collider::GetObbWorldScale() const {
    return GetHalfExtents();
}

std::array<Vector3, 3> Collider::GetObbAxes() const {
    auto transform = TransformOf(*this);
    const Matrix3 rotation = transform ? transform->GetWoldRotation().getUpper3x3() : Matrix3::identity();
    return {rotation.getCol0(), rotation.getCol1(), rotation.getCol2()};
}

// Half size of the world box around the shape.
Vector3 Collider::WorldBoxReach() const {
    switch (mShape) {
    case ShapeType::SPHERE:
        return Vector3(mRadius);
    case ShapeType::AABB:
        return GetHalfExtents();
    case ShapeType::OBB: {
        // Each world axis reaches |axis_i . e| * h_i summed over the box's axes.
        const auto axes = GetObbAxes();
        const Vector3 h = GetHalfExtents();
        return absPerElem(axes[0]) * h.getX() + absPerElem(axes[1]) * h.getY() +
               absPerElem(axes[2]) * h.getZ();
    }
    case ShapeType::CAPSULE: {
        const auto axes = GetObbAxes();
        return absPerElem(axes[1]) * GetHalfExtents().getY() + Vector3(mRadius);
    }
    case ShapeType::INVALID:
        break;
    }
    return Vector3(0.0f);
}

Vector3 Collider::GetAabbMin() const {
    return GetCenter() - WorldBoxReach();
}
Vector3 Collider::GetAabbMax() const {
    return GetCenter() + WorldBoxReach();
}

Renderable::Renderable() : Component(ComponentType::Renderable), mColor(1.0f), mBlend(0.0f) {}

Camera::Camera() : Component(ComponentType::Camera), mForward(0.0f, 0.0f, -1.0f), mUp(0.0f, 1.0f, 0.0f) {}

Matrix3 Camera::WorldRotation() const {
    auto transform = TransformOf(*this);
    return transform ? transform->GetWoldRotation().getUpper3x3() : Matrix3::identity();
}

Vector3 Camera::WorldPosition() const {
    auto transform = TransformOf(*this);
    return transform ? transform->GetPosition() : Vector3(0.0f);
}

void Camera::SetLocalDirections(const Vector3& forward, const Vector3& up) {
    mForward = forward;
    mUp = up;
}

Vector3 Camera::GetLookAt() const {
    return normalize(WorldRotation() * mForward);
}

Vector3 Camera::GetRightVector() const {
    const Matrix3 rotation = WorldRotation();
    return normalize(cross(rotation * mForward, rotation * mUp));
}

Vector3 Camera::GetUpVector() const {
    return cross(GetRightVector(), GetLookAt());
}

Matrix4 Camera::GetCameraTransformation() const {
    const Vector3 forward = GetLookAt();
    const Vector3 right = GetRightVector();
    const Vector3 up = cross(right, forward);
    const Vector3 eye = WorldPosition();
    // Rows: right, up, -forward; the camera looks down its -z.
    Matrix4 view;
    view.setCol(0, Vector4(right.getX(), up.getX(), -forward.getX(), 0.0f));
    view.setCol(1, Vector4(right.getY(), up.getY(), -forward.getY(), 0.0f));
    view.setCol(2, Vector4(right.getZ(), up.getZ(), -forward.getZ(), 0.0f));
    view.setCol(3, Vector4(-dot(right, eye), -dot(up, eye), dot(forward, eye), 1.0f));
    return view;
}

void Camera::SetCameraWidth(unsigned width) {
    if (width != mWidth) mDidChange = true;
    mWidth = width;
}

void Camera::SetCameraHeight(unsigned height) {
    if (height != mHeight) mDidChange = true;
    mHeight = height;
}

Light::Light()
    : Component(ComponentType::Light), mDiffuse(1.0f), mSpecular(1.0f), mDirection(0.0f, -1.0f, 0.0f) {}
Light::~Light() = default;

Debug::Debug()
    : Component(ComponentType::Debug), mNormal(0.0f, 1.0f, 0.0f, 1.0f), mGhost(0.0f, 0.0f, 1.0f, 1.0f),
      mStatic(1.0f, 0.0f, 0.0f, 1.0f), mStaticGhost(1.0f, 0.0f, 1.0f, 1.0f) {}

PlayerStats::PlayerStats() : Component(ComponentType::PlayerStats) {}
PickupComponent::PickupComponent() : Component(ComponentType::PickupComponent) {}
GroupComponent::GroupComponent() : Component(ComponentType::GroupComponent) {}
RoomComponent::RoomComponent() : Component(ComponentType::RoomComponent) {}
Spawner::Spawner() : Component(ComponentType::Spawner) {}

PauseBehavior::PauseBehavior() : BehaviorComponent(ComponentType::PauseBehavior) {}

std::uint32_t PauseBehavior::GetActedOnObjectID() const {
    auto parent = GetParent().lock();
    return parent ? parent->GetID() : 0;
}
