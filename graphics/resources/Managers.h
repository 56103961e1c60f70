// The three resource managers: models, textures and shaders.
#pragma once

#include "FBXLoader.h"
#include "iResourceManager.h"

#include <memory>

class ModelManager : public iResourceManager {
public:
    static constexpr const char* kDirectory = "..\\..\\Resources\\Models\\";
    static constexpr const char* kDefault = "splashcube";

    ~ModelManager() override;
    void Initialize(iDevice* device, GraphicsAPI api) override;
    void LoadResources() override;
    // Null on a miss.
    iResource* GetResource(std::string name) override;
    // A name that failed to load is tried again on its next request.
    void LoadiResource(std::string name) override;

private:
    std::unique_ptr<FBXLoader> mLoader;
};

class TextureManager : public iResourceManager {
public:
    static constexpr const char* kDirectory = "..\\..\\Resources\\Textures\\";
    static constexpr const char* kDefault = "defaulttexture";

    void Initialize(iDevice* device, GraphicsAPI api) override;
    void LoadResources() override;
    // "defaulttexture" on a miss (null when that is gone too).
    iResource* GetResource(std::string name) override;
    // A file that fails stays in the map under its name, without a view.
    void LoadiResource(std::string name) override;

private:
    void Load(const std::string& name, const std::string& file);
};

class ShaderManager : public iResourceManager {
public:
    static constexpr const char* kDirectory = "..\\..\\Resources\\Shaders\\";
    static constexpr const char* kDefault = "defaultshader";

    void Initialize(iDevice* device, GraphicsAPI api) override;
    void LoadResources() override;
    // "defaultshader" on a miss (null when that is gone too).
    iResource* GetResource(std::string name) override;
    void LoadiResource(std::string name) override;

private:
    void Load(const std::string& name);
};
