// Makes, finds and destroys game objects; reads level and archetype files (format: docs beside the
// loader, platform/engine/LEVELS.md).
//
// Every component added to an object is announced with a relayed CreatedComponentMessage (21); it is
// delivered after the object has its name and all its components. Destroying an object delivers one
// DestroyedComponentMessage (22) per component, immediately, while the component and the object still
// exist; a 22 handler may destroy further objects, or the same one again (a no-op).
#pragma once

#include "Object.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class ObjectFactory {
public:
    ObjectFactory();
    ~ObjectFactory();

    // Creates the objects of "..\..\Resources\Levels\<name>.json" and relays its onLoad messages.
    // A missing or malformed file prints one console line and creates nothing (false).
    bool LoadLevel(const std::string& name);
    // An object built from "..\..\Resources\Archetypes\<name>.json", named after the archetype;
    // empty when the archetype is unknown or malformed.
    std::weak_ptr<Object> CreateArchetypedObject(const std::wstring& archetype);
    std::weak_ptr<Object> CreateGenericObject();
    // A component of that class name ("Transform", "PauseBehavior", ...) without a parent; null for
    // an unknown name.
    std::shared_ptr<Component> CreateComponent(const std::wstring& className);
    std::shared_ptr<Component> CreateComponent(const std::string& className);
    // Creates the component and adds it to the object; null when the object is gone, the name unknown,
    // or the object refuses it.
    std::shared_ptr<Component> GiveObjectComponent(const std::weak_ptr<Object>& object,
                                                   const std::wstring& className);
    std::shared_ptr<Component> GiveObjectComponent(const std::weak_ptr<Object>& object,
                                                   const std::string& className);

    // Empty for an unknown id.
    std::weak_ptr<Object> GetObjectWithID(std::uint32_t id) const;
    // The object of that name with the lowest id; empty when none.
    std::weak_ptr<Object> GetObjectByName(const std::string& name) const;
    // A snapshot of every live object, by ascending id.
    std::map<std::uint32_t, std::shared_ptr<Object>> GetObjects() const;

    void Destroy(const std::weak_ptr<Object>& object);
    void Destroy(std::uint32_t id);
    void DestroyAllObjects();

    ObjectFactory(const ObjectFactory&) = delete;
    ObjectFactory& operator=(const ObjectFactory&) = delete;

private:
    std::shared_ptr<Object> NewObject();

    std::map<std::uint32_t, std::shared_ptr<Object>> mObjects;
    std::uint32_t mNextId = 1;
};
