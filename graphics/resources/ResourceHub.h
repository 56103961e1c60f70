// The resource hub: owns the model, texture and shader managers and routes load requests by type.
#pragma once

#include "Managers.h"

#include <Messages.h>

#include <string>

class iDevice;

class ResourceHub {
public:
    // Creates the three managers, then initialises them in the same order, so the default model
    // exists before the default textures and shaders.
    ResourceHub(iDevice* device, GraphicsAPI api);
    ~ResourceHub();
    ResourceHub(const ResourceHub&) = delete;
    ResourceHub& operator=(const ResourceHub&) = delete;

    // Models, textures and shaders; any other type does nothing.
    void LoadResource(const std::string& name, ResourceType type);
    // Unloads and deletes the three managers, models first; the hub is only destroyed afterwards.
    void Release();

    ModelManager* mModelManager;
    TextureManager* mTextureManager;
    ShaderManager* mShaderManager;
};
