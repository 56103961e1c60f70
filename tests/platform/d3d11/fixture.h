// A window, a device with its swap chain, and small helpers shared by the graphics stand-in tests.
#pragma once

#include <d3d11.h>
#include <d3d11_test_control.h>
#include <d3dx10math.h>
#include <d3dx11.h>

#include <SDL.h>
#include <gtest/gtest.h>
#include <scene_support.h>

#include <array>
#include <string>
#include <vector>

namespace d3d11fixture {

using d3d11scene::MakeVertex;
using d3d11scene::ShaderPath;
using d3d11scene::Vertex;
using d3d11scene::Wide;
using Shader = d3d11scene::Program;

// Column-major 4 x 4 (element (r, c) at 4c + r), as the engine's matrices are.
using Matrix = std::array<float, 16>;
Matrix Identity();
Matrix Multiply(const Matrix& a, const Matrix& b);
Matrix Transpose(const Matrix& m);
Matrix Inverse(const Matrix& m);

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
    // Draws clip-space vertices through "camerashader" with the identity transform, sampling `texture`
    // through `sampler` (null: the one bound stays).
    void DrawCamera(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                    ID3D11ShaderResourceView* texture, ID3D11SamplerState* sampler);
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
