// Reading level and archetype files (format in ../LEVELS.md).
#pragma once

#include "ComponentType.h"
#include "Message.h"
#include "Object.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zurari {

struct ComponentSpec {
    ComponentType type;
    nlohmann::ordered_json fields;
};

struct ObjectSpec {
    std::string name;
    std::vector<ComponentSpec> components;
    std::string where; // for reports: "level \"X\": object 2 \"Floor\""
};

struct LevelSpec {
    std::vector<ObjectSpec> objects;
    std::vector<std::shared_ptr<Message>> onLoad;
};

// Each reads and checks the whole file first. A missing or malformed file gives one console line and
// false; unknown components, fields and onLoad messages are reported and skipped.
bool ReadLevel(const std::string& name, LevelSpec& level);
bool ReadArchetype(const std::string& name, ObjectSpec& object);

// ComponentType::None for an unknown class name.
ComponentType ComponentTypeFromName(const std::string& className);
std::shared_ptr<Component> MakeComponent(ComponentType type);
// Sets the component from its file fields; reports and skips unknown or ill-typed fields.
void ApplyFields(Component& component, const nlohmann::ordered_json& fields, const std::string& where);

} // namespace zurari
