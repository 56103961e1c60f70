#include "ResourceHub.h"

ResourceHub::ResourceHub(iDevice* device, GraphicsAPI api)
    : mModelManager(new ModelManager), mTextureManager(new TextureManager),
      mShaderManager(new ShaderManager) {
    mModelManager->Initialize(device, api);
    mTextureManager->Initialize(device, api);
    mShaderManager->Initialize(device, api);
}

ResourceHub::~ResourceHub() {
    Release();
}

void ResourceHub::LoadResource(const std::string& name, ResourceType type) {
    switch (type) {
    case RESOURCE_MODEL:
        mModelManager->LoadiResource(name);
        break;
    case RESOURCE_TEXTURE:
        mTextureManager->LoadiResource(name);
        break;
    case RESOURCE_SHADER:
        mShaderManager->LoadiResource(name);
        break;
    default:
        break;
    }
}

void ResourceHub::Release() {
    iResourceManager* managers[] = {mModelManager, mTextureManager, mShaderManager};
    for (iResourceManager* manager : managers)
        if (manager) manager->UnloadResources();
    for (iResourceManager* manager : managers)
        delete manager;
    mModelManager = nullptr;
    mTextureManager = nullptr;
    mShaderManager = nullptr;
}
