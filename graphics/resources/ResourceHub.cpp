#include "ResourceHub.h"

ResourceHub::ResourceHub(iDevice*, GraphicsAPI) {}

void ResourceHub::LoadResource(const std::string& name, ResourceType type) {
    mRequests.emplace_back(name, type);
}
