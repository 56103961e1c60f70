// A window, a device with its swap chain, and small helpers shared by the graphics stand-in tests.
#pragma once

#include <d3d11.h>
#include <d3d11_test_control.h>
#include <d3dx10math.h>
#include <d3dx11.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace d3d11fixture {

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

Vertex MakeVertex(float x, float y, float z, float w, float u, float v);

// Column-major 4 x 4 (element (r, c) at 4c + r), as the engine's matrices are.
using Matrix = std::array<float, 16>;
Matrix Identity();
Matrix Multiply(const Matrix& a, const Matrix& b);
Matrix Transpose(const Matrix& m);
Matrix Inverse(const Matrix& m);

std::wstring Wide(const std::string& s);
std::string ShaderPath(const std::string& stem);

struct Shader {
    ID3D11VertexShader* vs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    ID3D11InputLayout* layout = nullptr;
    ~Shader();
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Compiles VS and PS of the shader file with the given stem and makes the scene input layout.
    void LoadShader(const std::string& stem, Shader& shader);
    ID3D11Buffer* MakeBuffer(UINT bind, const void* data, UINT size);
    // A texture with its view; `pixels` packed RGBA8.
    ID3D11ShaderResourceView* MakeTexture(int w, int h, const std::vector<uint32_t>& pixels);
    // Colour and depth target of the given size, bound with a full viewport.
    void BindTarget(int w, int h);
    // Draws clip-space vertices through "camerashader" with a flat-colour texture.
    void DrawFlat(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices, uint32_t rgba);
    uint32_t Pixel(int x, int y) { return d3d11test::ReadPixel(rtv_, x, y); }

    static constexpr int kWidth = 64, kHeight = 48;
    SDL_Window* window_ = nullptr;
    IDXGISwapChain* swapChain_ = nullptr;
    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;
    D3D_FEATURE_LEVEL level_ = D3D_FEATURE_LEVEL_9_1;
    ID3D11RenderTargetView* rtv_ = nullptr;
    ID3D11DepthStencilView* dsv_ = nullptr;
    ID3D11Buffer* objectBuffer_ = nullptr;
    Shader camera_;
};

inline int Channel(uint32_t p, int c) {
    return int((p >> (8 * c)) & 0xFF);
}

} // namespace d3d11fixture
