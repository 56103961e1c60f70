// The engine's numbering of component classes. One list gives the enumeration and the class names
// that level files and ObjectFactory::CreateComponent use.
#pragma once

#define ZURARI_COMPONENT_TYPES(X)                                                                            \
    X(Renderable, 1)                                                                                         \
    X(RigidBody, 2)                                                                                          \
    X(Collider, 3)                                                                                           \
    X(Transform, 4)                                                                                          \
    X(Controller, 5)                                                                                         \
    X(PlayerStats, 6)                                                                                        \
    X(Debug, 8)                                                                                              \
    X(Camera, 10)                                                                                            \
    X(Spawner, 13)                                                                                           \
    X(LevelRuleset, 14)                                                                                      \
    X(GroupComponent, 16)                                                                                    \
    X(RoomComponent, 19)                                                                                     \
    X(Light, 20)                                                                                             \
    X(PickupComponent, 21)                                                                                   \
    X(PauseBehavior, 22)                                                                                     \
    X(EscapePod, 23)

enum class ComponentType : int {
    None = 0,
#define ZURARI_COMPONENT_TYPE_ENUM(name, value) name = value,
    ZURARI_COMPONENT_TYPES(ZURARI_COMPONENT_TYPE_ENUM)
#undef ZURARI_COMPONENT_TYPE_ENUM
};

// "Renderable", ...; "Unknown" for a number outside the list.
const char* ComponentTypeName(ComponentType type);
