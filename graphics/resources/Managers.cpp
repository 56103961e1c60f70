#include "Managers.h"

#include "DXShader.h"
#include "DXTexture.h"
#include "GraphicsErrors.h"
#include "Mesh.h"
#include "ProceduralModels.h"
#include "ResourceHub.h"
#include "ui/Hud.h"

#include <cstdio>

namespace {

// The GUI draws the hub's textures by name; a miss is the manager's "defaulttexture".
ID3D11ShaderResourceView* HubTexture(ResourceHub* hub, const std::string& name) {
    if (!hub || !hub->mTextureManager) return nullptr;
    const auto* texture = dynamic_cast<const DXTexture*>(hub->mTextureManager->GetResource(name));
    return texture ? texture->mView : nullptr;
}

iResource* Find(const iResourceManager::ResourceMap& map, const std::string& name) {
    const auto it = map.find(name);
    return it == map.end() ? nullptr : it->second;
}

void Insert(iResourceManager::ResourceMap& map, const std::string& name, iResource* resource) {
    // A name is only ever inserted when it is not loaded, so there is nothing to replace.
    map.emplace(name, resource);
}

// The graphics interface check of LoadResources; false when the defaults must not be loaded.
bool CheckApi(GraphicsAPI api, const char* manager, int firstLine) {
    const std::string function = std::string(manager) + "::LoadResources";
    switch (api) {
    case 0:
        return true;
    case 2:
        SendGraphicsError("NOT IMPLEMENTED!", false, function.c_str(), manager, firstLine);
        return true;
    case 3:
        SendGraphicsError("NOT IMPLEMENTED!", true, function.c_str(), manager, firstLine + 3);
        return false;
    default:
        SendGraphicsError("Undefined Graphics API in InitGraphics!", true, function.c_str(), manager,
                          firstLine + 6);
        return false;
    }
}

} // namespace

// ---- models -----------------------------------------------------------------------------------------

ModelManager::~ModelManager() = default;

void ModelManager::Initialize(iDevice* device, GraphicsAPI api) {
    if (!mLoader) {
        mLoader = FBXLoader::Make();
        if (mLoader) mLoader->CreateFBXManager();
    }
    mResources = FreshMap();
    mDevice = device;
    mGraphicsAPI = api;
    LoadResources();
    // Each import tears its SDK objects down at its end; the first import needs fresh ones.
    if (mLoader) mLoader->CreateFBXManager();
}

void ModelManager::LoadResources() {
    std::printf("--- LOADING DEFAULT MODELS ---\n");
    auto* cube = new Cube(kDefault, Direct3D());
    cube->mMeshes.front().mesh->mShaderName = "defaultshader";
    Insert(mResources, kDefault, cube);
}

iResource* ModelManager::GetResource(std::string name) {
    return Find(mResources, name);
}

void ModelManager::LoadiResource(std::string name) {
    if (name == kDefault || mResources.count(name)) return;
    const std::string file = kDirectory + name + ".fbx";
    std::printf("LOADING MODEL: %s\n", name.c_str());
    Model* model = mLoader ? mLoader->LoadFBX(file, name, Direct3D()) : nullptr;
    if (!model) {
        std::printf("FAILED TO LOAD MODEL: %s\n", file.c_str());
        return;
    }
    for (MeshEntry& entry : model->mMeshes)
        entry.mesh->mShaderName = "textureshader";
    Insert(mResources, name, model);
}

// ---- textures ---------------------------------------------------------------------------------------

void TextureManager::Initialize(iDevice* device, GraphicsAPI api) {
    mResources = FreshMap();
    mDevice = device;
    mGraphicsAPI = api;
    SetGuiTextureLookup(&HubTexture);
    LoadResources();
}

void TextureManager::Load(const std::string& name, const std::string& file) {
    auto* texture = new DXTexture(name);
    texture->LoadTextureFromFile(Direct3D(), kDirectory + file);
    Insert(mResources, name, texture);
}

void TextureManager::LoadResources() {
    std::printf("--- LOADING DEFAULT TEXTURE ---\n");
    if (!CheckApi(mGraphicsAPI, "TextureManager", 117)) return;
    Load(kDefault, "TarnwickTexture.png");
    for (const char* name : {"controlScreen.png", "keyHUDicon.png", "powercellHUDicon.png"})
        Load(name, name);
}

iResource* TextureManager::GetResource(std::string name) {
    if (iResource* found = Find(mResources, name)) return found;
    return Find(mResources, kDefault);
}

void TextureManager::LoadiResource(std::string name) {
    if (name == kDefault) return;
    if (const iResource* found = GetResource(name); found && found->mName != kDefault) return;
    if (mGraphicsAPI != 0)
        SendGraphicsError("Attempted to load resource with undefined API!", true,
                          "TextureManager::LoadiResource", "TextureManager", 76);
    std::printf("LOADING TEXTURE: %s\n", name.c_str());
    Load(name, name);
}

// ---- shaders ----------------------------------------------------------------------------------------

void ShaderManager::Initialize(iDevice* device, GraphicsAPI api) {
    mResources = FreshMap();
    mDevice = device;
    mGraphicsAPI = api;
    LoadResources();
}

void ShaderManager::Load(const std::string& name) {
    auto* shader = new DXShader(name);
    shader->LoadShaderFromFile(Direct3D(), kDirectory + name + ".fx");
    Insert(mResources, name, shader);
}

void ShaderManager::LoadResources() {
    std::printf("--- LOADING DEFAULT SHADERS ---\n");
    if (!CheckApi(mGraphicsAPI, "ShaderManager", 119)) return;
    for (const char* name : {kDefault, "textureshader", "camerashader"})
        Load(name);
}

iResource* ShaderManager::GetResource(std::string name) {
    if (iResource* found = Find(mResources, name)) return found;
    return Find(mResources, kDefault);
}

void ShaderManager::LoadiResource(std::string name) {
    if (name == kDefault) return;
    if (const iResource* found = GetResource(name); found && found->mName != kDefault) return;
    if (mGraphicsAPI != 0)
        SendGraphicsError("Attempted to load resource with undefined API!", true,
                          "ShaderManager::LoadiResource", "ShaderManager", 78);
    std::printf("LOADING SHADER: %s.fx\n", name.c_str());
    Load(name);
}
