// Game objects and the base of their components. Objects are made, owned and destroyed by the
// ObjectFactory; everyone else holds weak pointers and locks them at each use.
#pragma once

#include "ComponentType.h"
#include "Message.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Object;

class Component {
public:
    explicit Component(ComponentType type);
    virtual ~Component();
    // Input and game messages handed to the component by the game rules; the default ignores them.
    virtual void HandleMessage(const std::shared_ptr<Message>& message);

    ComponentType GetComponentType() const { return mType; }
    // A word that identifies this component for the whole run, compared as a value.
    std::uint32_t GetComponentID() const { return mId; }
    const std::weak_ptr<Object>& GetParent() const { return mParent; }

    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

private:
    friend class Object;
    ComponentType mType;
    std::uint32_t mId;
    std::weak_ptr<Object> mParent;
};

class Object : public std::enable_shared_from_this<Object> {
public:
    ~Object();

    std::uint32_t GetID() const { return mId; }
    const std::string& GetName() const { return mName; }
    void SetName(const std::string& name) { mName = name; }

    // Empty when the object has no component of that type.
    std::weak_ptr<Component> GetComponent(ComponentType type) const;
    // Sets the component's parent and relays a CreatedComponentMessage. Refused (false, with a console
    // line) for a null component, one that already has a parent, a type the object already has, or
    // an object being destroyed.
    bool AddComponent(std::shared_ptr<Component> component);
    // In the order they were added.
    const std::vector<std::shared_ptr<Component>>& GetComponents() const { return mComponents; }
    bool IsBeingDestroyed() const { return mDestroying; }

    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

private:
    friend class ObjectFactory;
    explicit Object(std::uint32_t id) : mId(id) {}

    std::uint32_t mId;
    std::string mName;
    std::vector<std::shared_ptr<Component>> mComponents;
    bool mDestroying = false;
};
