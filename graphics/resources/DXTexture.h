// Texture resources: one image file as a shader-resource view, with a sampler of its own.
#pragma once

#include "iResource.h"

#include <d3d11.h>

#include <string>

class DXDevice;

class iTexture : public iResource {
public:
    explicit iTexture(std::string name) : iResource(std::move(name), RESOURCE_TEXTURE) {}
    virtual void LoadTextureFromFile(DXDevice* device, std::string file) = 0;
};

class DXTexture : public iTexture {
public:
    explicit DXTexture(std::string name) : iTexture(std::move(name)) {}
    ~DXTexture() override;
    DXTexture(const DXTexture&) = delete;
    DXTexture& operator=(const DXTexture&) = delete;

    // A file that cannot be read leaves the view null and is printed; the sampler is made either way.
    void LoadTextureFromFile(DXDevice* device, std::string file) override;

    ID3D11ShaderResourceView* mView = nullptr;
    ID3D11SamplerState* mSampler = nullptr;
};
