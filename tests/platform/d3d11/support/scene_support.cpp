#include "scene_support.h"

#include <d3dx11.h>

namespace d3d11scene {

Vertex MakeVertex(float x, float y, float z, float w, float u, float v) {
    Vertex out{};
    out.position[0] = x, out.position[1] = y, out.position[2] = z, out.position[3] = w;
    for (float& c : out.color)
        c = 1.0f;
    out.uv[0] = u, out.uv[1] = v;
    return out;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::string ShaderPath(const std::string& stem) {
    return std::string(TORVIK_D3D11_SHADER_DIR) + "/" + stem + ".fx";
}

void Program::Release() {
    if (vs) vs->Release();
    if (ps) ps->Release();
    if (layout) layout->Release();
    vs = nullptr, ps = nullptr, layout = nullptr;
}

HRESULT LoadProgram(ID3D11Device* device, const std::string& stem, Program& program) {
    program.Release();
    const std::wstring file = Wide(ShaderPath(stem));
    ID3D10Blob* vsBlob = nullptr;
    ID3D10Blob* psBlob = nullptr;
    HRESULT hr = D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "VS", "vs_5_0", 0x48010, 0, nullptr,
                                        &vsBlob, nullptr, nullptr);
    if (SUCCEEDED(hr))
        hr = D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "PS", "ps_5_0", 0x48010, 0, nullptr,
                                    &psBlob, nullptr, nullptr);
    if (SUCCEEDED(hr))
        hr = device->CreateVertexShader(vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), nullptr,
                                        &program.vs);
    if (SUCCEEDED(hr))
        hr = device->CreatePixelShader(psBlob->GetBufferPointer(), psBlob->GetBufferSize(), nullptr,
                                       &program.ps);
    const D3D11_INPUT_ELEMENT_DESC layout[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 32, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 44, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"BLENDINDICES", 0, DXGI_FORMAT_R32G32B32A32_UINT, 0, 52, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"BLENDWEIGHT", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 68, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXTUREINDEX", 0, DXGI_FORMAT_R32_UINT, 0, 84, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    if (SUCCEEDED(hr))
        hr = device->CreateInputLayout(layout, 7, vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(),
                                       &program.layout);
    if (vsBlob) vsBlob->Release();
    if (psBlob) psBlob->Release();
    if (FAILED(hr)) program.Release();
    return hr;
}

void BindMesh(ID3D11DeviceContext* context, ID3D11Buffer* vertices, ID3D11Buffer* indices,
              const Program& program) {
    const UINT stride = sizeof(Vertex), offset = 0;
    context->IASetIndexBuffer(indices, DXGI_FORMAT_R32_UINT, 0);
    context->IASetVertexBuffers(0, 1, &vertices, &stride, &offset);
    context->VSSetShader(program.vs, nullptr, 0);
    context->PSSetShader(program.ps, nullptr, 0);
    context->IASetInputLayout(program.layout);
}

void BindSceneInputs(ID3D11DeviceContext* context, ID3D11Buffer* object, ID3D11Buffer* materials,
                     ID3D11Buffer* lighting, ID3D11ShaderResourceView* texture, ID3D11SamplerState* sampler) {
    context->VSSetConstantBuffers(0, 1, &object);
    context->PSSetConstantBuffers(1, 1, &materials);
    context->PSSetConstantBuffers(2, 1, &lighting);
    ID3D11ShaderResourceView* views[3] = {texture, texture, texture};
    ID3D11SamplerState* samplers[3] = {sampler, sampler, sampler};
    context->PSSetShaderResources(0, 3, views);
    context->PSSetSamplers(0, 3, samplers);
}

DXGI_SWAP_CHAIN_DESC SwapChainDesc(SDL_Window* window, UINT width, UINT height, bool windowed) {
    DXGI_SWAP_CHAIN_DESC scd{};
    scd.BufferDesc = {width,
                      height,
                      {60, 1},
                      DXGI_FORMAT_R8G8B8A8_UNORM,
                      DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                      DXGI_MODE_SCALING_UNSPECIFIED};
    scd.SampleDesc = {1, 0};
    scd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    scd.BufferCount = 2;
    scd.OutputWindow = reinterpret_cast<HWND>(window);
    scd.Windowed = windowed ? TRUE : FALSE;
    scd.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;
    return scd;
}

ID3D11Buffer* MakeBuffer(ID3D11Device* device, UINT bind, const void* data, UINT size) {
    const D3D11_BUFFER_DESC desc{size, D3D11_USAGE_DEFAULT, bind, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA init{data, 0, 0};
    ID3D11Buffer* b = nullptr;
    return SUCCEEDED(device->CreateBuffer(&desc, &init, &b)) ? b : nullptr;
}

ID3D11ShaderResourceView* MakeTexture(ID3D11Device* device, int w, int h,
                                      const std::vector<uint32_t>& pixels) {
    const D3D11_TEXTURE2D_DESC desc{UINT(w),
                                    UINT(h),
                                    1,
                                    1,
                                    DXGI_FORMAT_R8G8B8A8_UNORM,
                                    {1, 0},
                                    D3D11_USAGE_DEFAULT,
                                    D3D11_BIND_SHADER_RESOURCE,
                                    0,
                                    0};
    const D3D11_SUBRESOURCE_DATA init{pixels.data(), UINT(w) * 4, 0};
    ID3D11Texture2D* tex = nullptr;
    if (FAILED(device->CreateTexture2D(&desc, &init, &tex))) return nullptr;
    ID3D11ShaderResourceView* view = nullptr;
    device->CreateShaderResourceView(tex, nullptr, &view);
    tex->Release();
    return view;
}

D3D11_SAMPLER_DESC LinearSampler(D3D11_TEXTURE_ADDRESS_MODE address) {
    return {D3D11_FILTER_MIN_MAG_MIP_LINEAR, address,      address, address,          0, 0,
            D3D11_COMPARISON_NEVER,          {0, 0, 0, 0}, 0,       D3D11_FLOAT32_MAX};
}

HRESULT MakeTarget(ID3D11Device* device, UINT w, UINT h, Target& target) {
    D3D11_TEXTURE2D_DESC desc{w,
                              h,
                              1,
                              1,
                              DXGI_FORMAT_R8G8B8A8_UNORM,
                              {1, 0},
                              D3D11_USAGE_DEFAULT,
                              D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE,
                              0,
                              0};
    ID3D11Texture2D* colour = nullptr;
    HRESULT hr = device->CreateTexture2D(&desc, nullptr, &colour);
    if (FAILED(hr)) return hr;
    hr = device->CreateRenderTargetView(colour, nullptr, &target.rtv);
    if (SUCCEEDED(hr)) hr = device->CreateShaderResourceView(colour, nullptr, &target.srv);
    colour->Release();
    if (FAILED(hr)) return hr;
    desc.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
    desc.BindFlags = D3D11_BIND_DEPTH_STENCIL;
    ID3D11Texture2D* depth = nullptr;
    hr = device->CreateTexture2D(&desc, nullptr, &depth);
    if (FAILED(hr)) return hr;
    hr = device->CreateDepthStencilView(depth, nullptr, &target.dsv);
    depth->Release();
    return hr;
}

} // namespace d3d11scene
