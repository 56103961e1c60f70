// The device's light list, kept from the created- and destroyed-component messages.
#include "DXDevice.h"

#include <ComponentAccessors.h>
#include <Engine.h>
#include <Messages.h>
#include <ObjectFactory.h>

#include <algorithm>

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
