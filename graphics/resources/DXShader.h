// Shader resources: one effect file with the vertex shader "VS" and the pixel shader "PS".
#pragma once

#include "iResource.h"

#include <d3d11.h>

#include <string>

class DXDevice;

class iShader : public iResource {
public:
    explicit iShader(std::string name) : iResource(std::move(name), RESOURCE_SHADER) {}
    virtual void LoadShaderFromFile(DXDevice* device, std::string file) = 0;
};

class DXShader : public iShader {
public:
    // Compile flags: warnings are errors, optimisation level 3, column-major matrices.
    static constexpr UINT kCompileFlags = 0x48010;
    static constexpr int kElementCount = 7;
    static const D3D11_INPUT_ELEMENT_DESC kLayout[kElementCount];

    explicit DXShader(std::string name) : iShader(std::move(name)) {}
    ~DXShader() override;
    DXShader(const DXShader&) = delete;
    DXShader& operator=(const DXShader&) = delete;

    // Success shows in the objects being set; each failed compile is reported (console, debugger,
    // fatal error report) and the objects of a missing blob stay null.
    void LoadShaderFromFile(DXDevice* device, std::string file) override;

    ID3D10Blob* mVertexBlob = nullptr;
    ID3D10Blob* mPixelBlob = nullptr;
    ID3D11VertexShader* mVertexShader = nullptr;
    ID3D11PixelShader* mPixelShader = nullptr;
    ID3D11InputLayout* mInputLayout = nullptr;
};
