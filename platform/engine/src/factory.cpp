#include "ObjectFactory.h"

#include "Components.h"
#include "Engine.h"
#include "Messages.h"
#include "RoomHandler.h"
#include "detail.h"
#include "level_loader.h"

#include <vector>

namespace {

const wchar_t* const kSender = L"ObjectFactory";

// Asks the graphics side for what a renderable draws with: model, textures, shader.
void RequestResources(const Object& object) {
    auto renderable =
        std::static_pointer_cast<Renderable>(object.GetComponent(ComponentType::Renderable).lock());
    if (!renderable) return;
    if (!renderable->GetModel().empty())
        Engine::RelayMessage(
            std::make_shared<LoadResourceMessage>(kSender, RESOURCE_MODEL, renderable->GetModel()));
    for (const auto& texture : renderable->GetTextures())
        Engine::RelayMessage(std::make_shared<LoadResourceMessage>(kSender, RESOURCE_TEXTURE, texture));
    if (!renderable->GetShader().empty())
        Engine::RelayMessage(
            std::make_shared<LoadResourceMessage>(kSender, RESOURCE_SHADER, renderable->GetShader()));
}

} // namespace

ObjectFactory::ObjectFactory() = default;
ObjectFactory::~ObjectFactory() = default;

std::shared_ptr<Object> ObjectFactory::NewObject() {
    std::shared_ptr<Object> object(new Object(mNextId++));
    mObjects.emplace(object->GetID(), object);
    return object;
}

// Builds the object from its description: named first, then every component added (each relays its
// CreatedComponentMessage, delivered once the object is complete), then its resources requested.
static std::shared_ptr<Object> Build(std::shared_ptr<Object> object, const std::string& name,
                                     const zurari::ObjectSpec& spec) {
    object->SetName(name);
    for (const auto& componentSpec : spec.components) {
        auto component = zurari::MakeComponent(componentSpec.type);
        zurari::ApplyFields(*component, componentSpec.fields, spec.where);
        object->AddComponent(component);
    }
    RequestResources(*object);
    return object;
}

bool ObjectFactory::LoadLevel(const std::string& name) {
    zurari::LevelSpec level;
    if (!zurari::ReadLevel(name, level)) return false;
    for (const auto& spec : level.objects)
        Build(NewObject(), spec.name, spec);
    for (auto& message : level.onLoad)
        Engine::RelayMessage(message);
    return true;
}

std::weak_ptr<Object> ObjectFactory::CreateArchetypedObject(const std::wstring& archetype) {
    const std::string name = zurari::Narrow(archetype);
    zurari::ObjectSpec spec;
    if (!zurari::ReadArchetype(name, spec)) return {};
    return Build(NewObject(), name, spec);
}

std::weak_ptr<Object> ObjectFactory::CreateGenericObject() {
    return NewObject();
}

std::shared_ptr<Component> ObjectFactory::CreateComponent(const std::string& className) {
    auto component = zurari::MakeComponent(zurari::ComponentTypeFromName(className));
    if (!component) zurari::Log("Engine: unknown component class \"" + className + "\"");
    return component;
}

std::shared_ptr<Component> ObjectFactory::CreateComponent(const std::wstring& className) {
    return CreateComponent(zurari::Narrow(className));
}

std::shared_ptr<Component> ObjectFactory::GiveObjectComponent(const std::weak_ptr<Object>& object,
                                                              const std::string& className) {
    auto target = object.lock();
    if (!target) return nullptr;
    auto component = CreateComponent(className);
    if (!component || !target->AddComponent(component)) return nullptr;
    return component;
}

std::shared_ptr<Component> ObjectFactory::GiveObjectComponent(const std::weak_ptr<Object>& object,
                                                              const std::wstring& className) {
    return GiveObjectComponent(object, zurari::Narrow(className));
}

std::weak_ptr<Object> ObjectFactory::GetObjectWithID(std::uint32_t id) const {
    auto found = mObjects.find(id);
    return found == mObjects.end() ? std::weak_ptr<Object>() : found->second;
}

std::weak_ptr<Object> ObjectFactory::GetObjectByName(const std::string& name) const {
    for (const auto& [id, object] : mObjects)
        if (object->GetName() == name) return object;
    return {};
}

std::map<std::uint32_t, std::shared_ptr<Object>> ObjectFactory::GetObjects() const {
    return mObjects;
}

void ObjectFactory::Destroy(const std::weak_ptr<Object>& object) {
    if (auto target = object.lock()) Destroy(target->GetID());
}

void ObjectFactory::Destroy(std::uint32_t id) {
    auto found = mObjects.find(id);
    if (found == mObjects.end() || found->second->mDestroying) return;
    // Held here so the object and its components outlive the announcements even if a handler
    // destroys it again or clears the factory.
    const std::shared_ptr<Object> object = found->second;
    object->mDestroying = true;
    const std::vector<std::shared_ptr<Component>> components = object->GetComponents();
    for (const auto& component : components) {
        Engine::ImmediateMessage(
            std::make_shared<DestroyedComponentMessage>(kSender, component->GetComponentType(), component));
        // A room lives as long as its component: a later level must not flood a room of this one.
        if (component->GetComponentType() == ComponentType::RoomComponent)
            RoomHandler::ForgetRoom(static_cast<const RoomComponent&>(*component).GetRoomID(), id);
    }
    mObjects.erase(id);
}

void ObjectFactory::DestroyAllObjects() {
    std::vector<std::uint32_t> ids;
    ids.reserve(mObjects.size());
    for (const auto& [id, object] : mObjects)
        ids.push_back(id);
    for (std::uint32_t id : ids)
        Destroy(id);
}
