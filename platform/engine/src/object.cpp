#include "Object.h"

#include "Engine.h"
#include "Messages.h"
#include "detail.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<std::uint32_t> gNextComponentId{1};
}

Component::Component(ComponentType type) : mType(type), mId(gNextComponentId.fetch_add(1)) {}
Component::~Component() = default;
void Component::HandleMessage(const std::shared_ptr<Message>&) {}

Object::~Object() = default;

std::weak_ptr<Component> Object::GetComponent(ComponentType type) const {
    for (const auto& component : mComponents)
        if (component->GetComponentType() == type) return component;
    return {};
}

bool Object::AddComponent(std::shared_ptr<Component> component) {
    const std::string who = "Engine: object " + std::to_string(mId) + " \"" + mName + "\"";
    if (!component) {
        zurari::Log(who + ": AddComponent with no component ignored");
        return false;
    }
    const std::string what = ComponentTypeName(component->GetComponentType());
    if (mDestroying) {
        zurari::Log(who + " is being destroyed; " + what + " not added");
        return false;
    }
    if (!component->mParent.expired()) {
        zurari::Log(who + ": the " + what + " already belongs to another object; not added");
        return false;
    }
    if (!GetComponent(component->GetComponentType()).expired()) {
        zurari::Log(who + " already has a " + what + "; the second one is not added");
        return false;
    }
    component->mParent = weak_from_this();
    mComponents.push_back(component);
    Engine::RelayMessage(std::make_shared<CreatedComponentMessage>(L"ObjectFactory",
                                                                   component->GetComponentType(), component));
    return true;
}
