// Typed access to an object's components. Each member asks Object::GetComponent for its
// ComponentType and hands the result back as a weak pointer of its own class (a static conversion:
// an object holds at most one component per type, so the type number fixes the class). The result
// is empty when the object has no such component or it has already gone; callers lock it and skip
// the object when it is empty.
#pragma once

#include "Components.h"
#include "Object.h"

#include <memory>
#include <type_traits>

// The members of the family; any other class has no accessor.
template <class T> inline constexpr ComponentType kComponentTypeOf = ComponentType::None;
template <> inline constexpr ComponentType kComponentTypeOf<Renderable> = ComponentType::Renderable;
template <> inline constexpr ComponentType kComponentTypeOf<RigidBody> = ComponentType::RigidBody;
template <> inline constexpr ComponentType kComponentTypeOf<Collider> = ComponentType::Collider;
template <> inline constexpr ComponentType kComponentTypeOf<Transform> = ComponentType::Transform;
template <> inline constexpr ComponentType kComponentTypeOf<Controller> = ComponentType::Controller;
template <> inline constexpr ComponentType kComponentTypeOf<PlayerStats> = ComponentType::PlayerStats;
template <> inline constexpr ComponentType kComponentTypeOf<Debug> = ComponentType::Debug;
template <> inline constexpr ComponentType kComponentTypeOf<Spawner> = ComponentType::Spawner;
template <> inline constexpr ComponentType kComponentTypeOf<LevelRuleset> = ComponentType::LevelRuleset;
template <> inline constexpr ComponentType kComponentTypeOf<Light> = ComponentType::Light;

namespace component_access {
// The component of that type, locked; null when absent or expired.
std::shared_ptr<Component> Lock(const Object& object, ComponentType type);
} // namespace component_access

template <class T>
requires(kComponentTypeOf<T> !=
         ComponentType::None) std::weak_ptr<T> GetComponentOfType(const Object& object) {
    return std::static_pointer_cast<T>(component_access::Lock(object, kComponentTypeOf<T>));
}

template <class T>
requires(kComponentTypeOf<T> !=
         ComponentType::None) std::weak_ptr<T> GetComponentOfType(const std::shared_ptr<Object>& object) {
    if (!object) return {};
    return GetComponentOfType<T>(*object);
}

// The camera's type number is passed by the caller (ComponentType::Camera at every call site). Any
// other number would name a component of another class, so it gives an empty pointer.
template <class T>
requires std::is_same_v<T, Camera> std::weak_ptr<T> GetComponentOfType(const Object& object,
                                                                       ComponentType type) {
    if (type != ComponentType::Camera) return {};
    return std::static_pointer_cast<T>(component_access::Lock(object, type));
}

template <class T>
requires std::is_same_v<T, Camera> std::weak_ptr<T> GetComponentOfType(const std::shared_ptr<Object>& object,
                                                                       ComponentType type) {
    if (!object) return {};
    return GetComponentOfType<T>(*object, type);
}
