#include "ComponentAccessors.h"

namespace component_access {

std::shared_ptr<Component> Lock(const Object& object, ComponentType type) {
    return object.GetComponent(type).lock();
}

} // namespace component_access
