#include "DXTexture.h"

#include "DXDevice.h"

#include <d3dx11.h>

#include <cstdio>

DXTexture::~DXTexture() {
    if (mSampler) mSampler->Release();
    if (mView) mView->Release();
}

void DXTexture::LoadTextureFromFile(DXDevice* device, std::string file) {
    const std::wstring wide(file.begin(), file.end());
    ID3D11Device* d3d = device ? device->GetD3DDevice() : nullptr;
    const HRESULT hr =
        D3DX11CreateShaderResourceViewFromFileW(d3d, wide.c_str(), nullptr, nullptr, &mView, nullptr);
    if (FAILED(hr)) {
        std::printf("FAILED TO LOAD TEXTURE: %s\n", file.c_str());
        DXDevice::PrintHResult(hr);
    }
    D3D11_SAMPLER_DESC desc{};
    desc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    desc.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.MipLODBias = 0.0f;
    desc.MaxAnisotropy = 0;
    desc.ComparisonFunc = D3D11_COMPARISON_NEVER;
    desc.MinLOD = 0.0f;
    desc.MaxLOD = D3D11_FLOAT32_MAX;
    if (d3d) d3d->CreateSamplerState(&desc, &mSampler);
}
