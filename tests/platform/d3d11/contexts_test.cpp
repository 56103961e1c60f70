// Two devices, each drawing on its own thread, share the rasteriser's worker threads; each must get the
// pictures it gets when it draws alone.
#include "fixture.h"

#include <cstring>
#include <thread>

using d3d11scene::MakeVertex;
using d3d11scene::Vertex;

namespace {

constexpr int kW = 160, kH = 192; // six bands of rows
constexpr int kRounds = 6;

// A device with its own window, camera program and targets, drawing a scene of random triangles.
class Painter {
public:
    Painter(uint32_t seed, uint32_t colour) {
        window_ = SDL_CreateWindow("d3d11 painter", 0, 0, kW, kH, 0);
        EXPECT_NE(window_, nullptr) << SDL_GetError();
        DXGI_SWAP_CHAIN_DESC scd = d3d11scene::SwapChainDesc(window_, kW, kH, false);
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        EXPECT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                                D3D11_SDK_VERSION, &scd, &swapChain_, &device_, nullptr,
                                                &context_),
                  S_OK);
        EXPECT_EQ(d3d11scene::LoadProgram(device_, "camerashader", camera_), S_OK);
        float object[88] = {};
        object[0] = object[5] = object[10] = object[15] = 1.0f; // identity transform
        object_ = d3d11scene::MakeBuffer(device_, D3D11_BIND_CONSTANT_BUFFER, object, sizeof object);
        texture_ = d3d11scene::MakeTexture(device_, 1, 1, {colour});
        std::vector<Vertex> v;
        std::vector<uint32_t> idx;
        auto rnd = [&] {
            seed = seed * 1664525u + 1013904223u;
            return float(seed >> 8) / float(1u << 24) * 2.4f - 1.2f;
        };
        for (uint32_t t = 0; t < 400; ++t) {
            for (int k = 0; k < 3; ++k)
                v.push_back(MakeVertex(rnd(), rnd(), rnd() * 0.4f + 0.5f, 1, rnd(), rnd()));
            idx.insert(idx.end(), {3 * t, 3 * t + 1, 3 * t + 2});
        }
        vertices_ =
            d3d11scene::MakeBuffer(device_, D3D11_BIND_VERTEX_BUFFER, v.data(), UINT(v.size() * sizeof v[0]));
        indices_ = d3d11scene::MakeBuffer(device_, D3D11_BIND_INDEX_BUFFER, idx.data(), UINT(idx.size() * 4));
        indexCount_ = UINT(idx.size());
        D3D11_RASTERIZER_DESC rd{
            D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, FALSE, FALSE, FALSE, FALSE};
        EXPECT_EQ(device_->CreateRasterizerState(&rd, &noCull_), S_OK);
        for (d3d11scene::Target& t : targets_)
            EXPECT_EQ(d3d11scene::MakeTarget(device_, kW, kH, t), S_OK);
    }
    ~Painter() {
        for (d3d11scene::Target& t : targets_)
            for (IUnknown* u : {static_cast<IUnknown*>(t.rtv), static_cast<IUnknown*>(t.dsv),
                                static_cast<IUnknown*>(t.srv)})
                if (u) u->Release();
        for (IUnknown* u : {static_cast<IUnknown*>(noCull_), static_cast<IUnknown*>(indices_),
                            static_cast<IUnknown*>(vertices_), static_cast<IUnknown*>(texture_),
                            static_cast<IUnknown*>(object_)})
            if (u) u->Release();
        camera_.Release();
        if (context_) context_->Release();
        if (swapChain_) swapChain_->Release();
        if (device_) device_->Release();
        if (window_) SDL_DestroyWindow(window_);
    }

    // Draws the scene into every target; the work of one target runs when the next is bound.
    void DrawRounds() {
        const UINT stride = sizeof(Vertex), offset = 0;
        for (d3d11scene::Target& t : targets_) {
            context_->OMSetRenderTargets(1, &t.rtv, t.dsv);
            const D3D11_VIEWPORT vp{0, 0, float(kW), float(kH), 0, 1};
            context_->RSSetViewports(1, &vp);
            context_->RSSetState(noCull_);
            const float black[4] = {0, 0, 0, 1};
            context_->ClearRenderTargetView(t.rtv, black);
            context_->ClearDepthStencilView(t.dsv, D3D11_CLEAR_DEPTH, 1.0f, 0);
            context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
            context_->IASetVertexBuffers(0, 1, &vertices_, &stride, &offset);
            context_->IASetIndexBuffer(indices_, DXGI_FORMAT_R32_UINT, 0);
            context_->IASetInputLayout(camera_.layout);
            context_->VSSetShader(camera_.vs, nullptr, 0);
            context_->PSSetShader(camera_.ps, nullptr, 0);
            context_->VSSetConstantBuffers(0, 1, &object_);
            context_->PSSetShaderResources(0, 1, &texture_);
            // Several draws, so that a band holds more than one queued piece of work.
            for (UINT first = 0; first < indexCount_; first += indexCount_ / 4)
                context_->DrawIndexed(indexCount_ / 4, first, 0);
        }
        context_->OMSetRenderTargets(0, nullptr, nullptr);
    }

    std::vector<uint32_t> Picture(int round) {
        ID3D11Resource* r = nullptr;
        targets_[size_t(round)].rtv->GetResource(&r);
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        EXPECT_TRUE(d3d11test::ReadPixels(r, pixels, w, h));
        r->Release();
        return pixels;
    }

private:
    SDL_Window* window_ = nullptr;
    IDXGISwapChain* swapChain_ = nullptr;
    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;
    d3d11scene::Program camera_;
    ID3D11Buffer* object_ = nullptr;
    ID3D11ShaderResourceView* texture_ = nullptr;
    ID3D11Buffer* vertices_ = nullptr;
    ID3D11Buffer* indices_ = nullptr;
    UINT indexCount_ = 0;
    ID3D11RasterizerState* noCull_ = nullptr;
    d3d11scene::Target targets_[kRounds];
};

TEST(Contexts, TwoDrawingAtOnceGetThePicturesTheyGetAlone) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    {
        d3d11test::SetRasterThreads(0);
        Painter a(7, d3d11test::Rgba(200, 40, 10)), b(99, d3d11test::Rgba(10, 90, 220));
        a.DrawRounds();
        b.DrawRounds();
        const std::vector<uint32_t> aloneA = a.Picture(0), aloneB = b.Picture(0);
        ASSERT_EQ(aloneA.size(), size_t(kW) * kH);
        ASSERT_FALSE(aloneA == aloneB);
        for (int pass = 0; pass < 4; ++pass) {
            std::thread other([&] { b.DrawRounds(); });
            a.DrawRounds();
            other.join();
            for (int round = 0; round < kRounds; ++round) {
                EXPECT_TRUE(a.Picture(round) == aloneA) << "pass " << pass << ", round " << round;
                EXPECT_TRUE(b.Picture(round) == aloneB) << "pass " << pass << ", round " << round;
            }
        }
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

} // namespace
