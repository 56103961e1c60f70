#include "iResourceManager.h"

#include "DXDevice.h"

iResourceManager::~iResourceManager() {
    DeleteAll();
}

iResourceManager::ResourceMap iResourceManager::FreshMap() {
    ResourceMap map(8);
    map.max_load_factor(1.0f);
    return map;
}

void iResourceManager::DeleteAll() {
    for (auto& [name, resource] : mResources)
        delete resource;
    mResources.clear();
}

void iResourceManager::ReloadResources() {
    DeleteAll();
    mResources = FreshMap();
    LoadResources();
}

void iResourceManager::UnloadResources() {
    DeleteAll();
    mResources = ResourceMap();
    mDevice = nullptr;
}

DXDevice* iResourceManager::Direct3D() const {
    return dynamic_cast<DXDevice*>(mDevice);
}
