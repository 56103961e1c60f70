// Scene set-up shared by the graphics stand-in's tests and its benchmark: the engine's vertex, the
// built-in programs, buffers, textures, targets and the swap chain description.
#pragma once

#include <d3d11.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

namespace d3d11scene {

// The engine's 124-byte vertex; the shaders read the first 88 bytes.
struct Vertex {
    float position[4];
    float color[4];
    float normal[3];
    float uv[2];
    uint32_t blendIndices[4];
    float blendWeights[4];
    uint32_t textureIndex;
    float unused[9];
};
static_assert(sizeof(Vertex) == 124);

// White, at clip-space (x, y, z, w) with texture coordinates (u, v).
Vertex MakeVertex(float x, float y, float z, float w, float u, float v);

std::wstring Wide(const std::string& s);
// The shader file with the given stem in the game's shader folder.
std::string ShaderPath(const std::string& stem);

// A built-in program's shaders and its input layout; released with it.
struct Program {
    ID3D11VertexShader* vs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    ID3D11InputLayout* layout = nullptr;
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() { Release(); }
    void Release();
};
// Compiles VS and PS of the shader file with the given stem and makes the engine's input layout, as the
// game loads its shaders.
HRESULT LoadProgram(ID3D11Device* device, const std::string& stem, Program& program);

// Binds a mesh's vertex buffer and R32 index buffer and a program, as the game's mesh drawing does.
void BindMesh(ID3D11DeviceContext* context, ID3D11Buffer* vertices, ID3D11Buffer* indices,
              const Program& program);
// Binds the scene programs' inputs: the object constants to the vertex stage's slot 0, materials and
// lighting to the pixel stage's slots 1 and 2, and `texture` with `sampler` in all three texture slots.
void BindSceneInputs(ID3D11DeviceContext* context, ID3D11Buffer* object, ID3D11Buffer* materials,
                     ID3D11Buffer* lighting, ID3D11ShaderResourceView* texture, ID3D11SamplerState* sampler);

// The game's swap chain over `window`, in R8G8B8A8 at 60 Hz.
DXGI_SWAP_CHAIN_DESC SwapChainDesc(SDL_Window* window, UINT width, UINT height, bool windowed);

// A buffer holding `size` bytes of `data`; null on failure.
ID3D11Buffer* MakeBuffer(ID3D11Device* device, UINT bind, const void* data, UINT size);
// A texture with its view; `pixels` packed RGBA8, w x h. Null on failure.
ID3D11ShaderResourceView* MakeTexture(ID3D11Device* device, int w, int h,
                                      const std::vector<uint32_t>& pixels);
// Linear filtering with the given addressing on every axis, as the game's samplers are made.
D3D11_SAMPLER_DESC LinearSampler(D3D11_TEXTURE_ADDRESS_MODE address);

// A camera target: colour with its render-target and shader-resource views, and depth. The views are
// the caller's to release.
struct Target {
    ID3D11RenderTargetView* rtv = nullptr;
    ID3D11DepthStencilView* dsv = nullptr;
    ID3D11ShaderResourceView* srv = nullptr;
};
HRESULT MakeTarget(ID3D11Device* device, UINT w, UINT h, Target& target);

} // namespace d3d11scene
