#include "DXShader.h"

#include "DXDevice.h"
#include "GraphicsErrors.h"
#include "Mesh.h"

#include <d3dx11.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace {

std::wstring Widen(const std::string& text) {
    // Byte by byte, as the file names and the compiler's text are plain ASCII.
    return std::wstring(text.begin(), text.end());
}

std::string BlobText(ID3D10Blob* blob) {
    if (!blob) return {};
    const char* text = static_cast<const char*>(blob->GetBufferPointer());
    std::string out(text, blob->GetBufferSize());
    while (!out.empty() && out.back() == '\0')
        out.pop_back();
    return out;
}

template <class T> void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

} // namespace

// Each element right after the one before it, at the vertex's own field offsets.
const D3D11_INPUT_ELEMENT_DESC DXShader::kLayout[kElementCount] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, offsetof(Vertex, position),
     D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, offsetof(Vertex, colour), D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, offsetof(Vertex, normal), D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, offsetof(Vertex, texCoord), D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"BLENDINDICES", 0, DXGI_FORMAT_R32G32B32A32_UINT, 0, offsetof(Vertex, blendIndices),
     D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"BLENDWEIGHT", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, offsetof(Vertex, blendWeights),
     D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"TEXTUREINDEX", 0, DXGI_FORMAT_R32_UINT, 0, offsetof(Vertex, textureIndex), D3D11_INPUT_PER_VERTEX_DATA,
     0},
};

DXShader::~DXShader() {
    SafeRelease(mVertexBlob);
    SafeRelease(mPixelBlob);
    SafeRelease(mVertexShader);
    SafeRelease(mPixelShader);
    SafeRelease(mInputLayout);
}

void DXShader::LoadShaderFromFile(DXDevice* device, std::string file) {
    const std::wstring wide = Widen(file);
    auto compile = [&](const char* entry, const char* profile, ID3D10Blob** blob, int line) {
        ID3D10Blob* errors = nullptr;
        const HRESULT hr = D3DX11CompileFromFileW(wide.c_str(), nullptr, nullptr, entry, profile,
                                                  kCompileFlags, 0, nullptr, blob, &errors, nullptr);
        if (SUCCEEDED(hr)) {
            SafeRelease(errors);
            return;
        }
        const std::string text = BlobText(errors);
        SafeRelease(errors);
        std::printf("FAILED TO LOAD SHADER: %s, code: %ld", file.c_str(), long(hr));
        DXDevice::PrintHResult(hr);
        OutputDebugStringW((Widen(text) + L"\n").c_str());
        SendGraphicsError(text, true, "DXShader::LoadShaderFromFile", "DXShader", line);
    };
    compile("VS", "vs_5_0", &mVertexBlob, 95);
    compile("PS", "ps_5_0", &mPixelBlob, 129);

    ID3D11Device* d3d = device ? device->GetD3DDevice() : nullptr;
    if (!d3d) return;
    if (mVertexBlob)
        d3d->CreateVertexShader(mVertexBlob->GetBufferPointer(), mVertexBlob->GetBufferSize(), nullptr,
                                &mVertexShader);
    if (mPixelBlob)
        d3d->CreatePixelShader(mPixelBlob->GetBufferPointer(), mPixelBlob->GetBufferSize(), nullptr,
                               &mPixelShader);
    if (mVertexBlob)
        d3d->CreateInputLayout(kLayout, kElementCount, mVertexBlob->GetBufferPointer(),
                               mVertexBlob->GetBufferSize(), &mInputLayout);
}
