// One split-screen frame on the CPU rasteriser: 10,000 textured, lit triangles drawn into four
// 798 x 449 camera targets (the quadrants of a 1600 x 900 window), then the four pictures composed
// into the 1600 x 900 back buffer, as the scene passes do. Run with 1 rasterising thread and with all.
#include <d3d11.h>
#include <d3d11_test_control.h>
#include <d3dx10math.h>

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <scene_support.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using d3d11scene::Program;
using d3d11scene::Target;
using d3d11scene::Vertex;

template <class T> void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

class Scene {
public:
    static constexpr int kMeshes = 25, kQuadsX = 20, kQuadsY = 10; // 25 x 400 = 10,000 triangles

    bool Init() {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
        window_ = SDL_CreateWindow("bench", 0, 0, 1600, 900, 0);
        if (!window_) return false;
        const DXGI_SWAP_CHAIN_DESC scd = d3d11scene::SwapChainDesc(window_, 1600, 900, true);
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        if (FAILED(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                                 D3D11_SDK_VERSION, &scd, &chain_, &device_, nullptr,
                                                 &context_)))
            return false;
        if (FAILED(d3d11scene::LoadProgram(device_, "textureshader", textured_)) ||
            FAILED(d3d11scene::LoadProgram(device_, "camerashader", camera_)))
            return false;
        ID3D11Texture2D* bb = nullptr;
        chain_->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&bb));
        device_->CreateRenderTargetView(bb, nullptr, &backBuffer_);
        bb->Release();
        Target back;
        if (FAILED(d3d11scene::MakeTarget(device_, 1600, 900, back))) return false;
        backDepth_ = back.dsv;
        SafeRelease(back.rtv), SafeRelease(back.srv);
        for (Target& t : cameras_)
            if (FAILED(d3d11scene::MakeTarget(device_, 798, 449, t))) return false;
        MakeConstants();
        MakeTexture();
        MakeMeshes();
        return true;
    }

    ~Scene() {
        for (auto& b : vbs_)
            SafeRelease(b);
        for (auto& b : ibs_)
            SafeRelease(b);
        for (Target& t : cameras_)
            SafeRelease(t.rtv), SafeRelease(t.dsv), SafeRelease(t.srv);
        textured_.Release(), camera_.Release();
        SafeRelease(quadVb_), SafeRelease(quadIb_), SafeRelease(texture_), SafeRelease(sampler_),
            SafeRelease(cull_);
        SafeRelease(object_), SafeRelease(matrix_), SafeRelease(lighting_), SafeRelease(backBuffer_);
        SafeRelease(backDepth_), SafeRelease(chain_), SafeRelease(context_), SafeRelease(device_);
        if (window_) SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    void Frame() {
        const D3D11_VIEWPORT cameraViewport{0, 0, 798, 449, 0, 1};
        const float sky[4] = {0, 0.784f, 1, 1};
        for (int c = 0; c < 4; ++c) {
            ID3D11ShaderResourceView* none = nullptr;
            context_->PSSetShaderResources(0, 1, &none);
            context_->OMSetRenderTargets(1, &cameras_[c].rtv, cameras_[c].dsv);
            context_->RSSetViewports(1, &cameraViewport);
            context_->RSSetState(cull_);
            context_->ClearRenderTargetView(cameras_[c].rtv, sky);
            context_->ClearDepthStencilView(cameras_[c].dsv, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f,
                                            0);
            context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
            context_->OMSetBlendState(nullptr, nullptr, 0xffffffff);
            for (int m = 0; m < kMeshes; ++m)
                DrawMesh(c, m);
        }
        // Composition: the four quadrants of the back buffer.
        const float black[4] = {0, 0, 0, 1};
        context_->OMSetRenderTargets(1, &backBuffer_, backDepth_);
        context_->ClearRenderTargetView(backBuffer_, black);
        context_->ClearDepthStencilView(backDepth_, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
        const float placement[4][2] = {{0, 0}, {802, 0}, {0, 451}, {802, 451}};
        for (int c = 0; c < 4; ++c) {
            const D3D11_VIEWPORT vp{placement[c][0], placement[c][1], 798, 449, 0, 1};
            context_->RSSetViewports(1, &vp);
            d3d11scene::BindMesh(context_, quadVb_, quadIb_, camera_);
            float object[88] = {};
            object[0] = object[5] = object[10] = object[15] = 1;
            context_->UpdateSubresource(object_, 0, nullptr, object, 0, 0);
            context_->VSSetConstantBuffers(0, 1, &object_);
            context_->PSSetShaderResources(0, 1, &cameras_[c].srv);
            context_->DrawIndexed(6, 0, 0);
        }
        // Unsynchronised: the benchmark measures drawing, not the display's rate.
        chain_->Present(0, 0);
    }

private:
    void MakeConstants() {
        D3D11_BUFFER_DESC d{352, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
        device_->CreateBuffer(&d, nullptr, &object_);
        d.ByteWidth = 208;
        device_->CreateBuffer(&d, nullptr, &matrix_);
        d.ByteWidth = 10256;
        device_->CreateBuffer(&d, nullptr, &lighting_);
        std::vector<float> materials(52, 1.0f);
        materials[11] = 32.0f;
        context_->UpdateSubresource(matrix_, 0, nullptr, materials.data(), 0, 0);
        // Two lights: a directional key light and a point light, plus the game's ambient 0.01.
        std::vector<float> l(10256 / 4, 0.0f);
        const float dir[] = {0.9f,  0.9f,  0.85f, 0,     0.3f, 0.3f, 0.3f, 1.0f,
                             -0.3f, -1.0f, -0.4f, 10.0f, 1,    15,   30,   0};
        std::memcpy(&l[0], dir, sizeof dir);
        const float point[] = {1.0f, 0.6f, 0.3f, 0, 0.5f, 0.5f, 0.5f, 2.0f, 0, 0, 0, 30.0f, 1, 15, 30, 0};
        std::memcpy(&l[16], point, sizeof point);
        uint32_t dirType = 0, pointType = 1;
        std::memcpy(&l[3], &dirType, 4);
        std::memcpy(&l[19], &pointType, 4);
        l[2048 + 4] = 0, l[2048 + 5] = 3, l[2048 + 6] = -6, l[2048 + 7] = 1;
        l[2560] = l[2561] = l[2562] = 0.01f;
        const uint32_t count = 2;
        std::memcpy(&l[2563], &count, 4);
        context_->UpdateSubresource(lighting_, 0, nullptr, l.data(), 0, 0);
        D3D11_RASTERIZER_DESC rd{
            D3D11_FILL_SOLID, D3D11_CULL_BACK, TRUE, 0, 0, 0, FALSE, FALSE, FALSE, FALSE};
        device_->CreateRasterizerState(&rd, &cull_);
    }

    void MakeTexture() {
        std::vector<uint32_t> px(256 * 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                px[size_t(y) * 256 + size_t(x)] = ((x / 32 + y / 32) & 1) ? 0xFF3060C0u : 0xFFE0E0E0u;
        texture_ = d3d11scene::MakeTexture(device_, 256, 256, px);
        const D3D11_SAMPLER_DESC sd = d3d11scene::LinearSampler(D3D11_TEXTURE_ADDRESS_WRAP);
        device_->CreateSamplerState(&sd, &sampler_);
    }

    // Wavy sheets facing the camera in a 5 x 5 arrangement at several depths, overlapping in depth.
    void MakeMeshes() {
        for (int m = 0; m < kMeshes; ++m) {
            std::vector<Vertex> v;
            std::vector<uint32_t> idx;
            const float cx = float(m % 5) * 2.2f - 4.4f, cy = float(m / 5) * 1.4f - 2.8f,
                        cz = -float(m % 3) * 1.5f;
            for (int j = 0; j <= kQuadsY; ++j)
                for (int i = 0; i <= kQuadsX; ++i) {
                    Vertex x{};
                    const float u = float(i) / kQuadsX, w = float(j) / kQuadsY;
                    x.position[0] = cx + (u - 0.5f) * 2.6f;
                    x.position[1] = cy + (0.5f - w) * 1.6f;
                    x.position[2] = cz + 0.3f * std::sin(u * 6.28f) * std::cos(w * 3.14f);
                    x.position[3] = 1;
                    x.color[0] = x.color[1] = x.color[2] = x.color[3] = 1;
                    x.normal[2] = 1;
                    x.normal[0] = -0.3f * std::cos(u * 6.28f);
                    x.uv[0] = u * 2, x.uv[1] = w;
                    v.push_back(x);
                }
            for (int j = 0; j < kQuadsY; ++j)
                for (int i = 0; i < kQuadsX; ++i) {
                    const uint32_t a = uint32_t(j * (kQuadsX + 1) + i), b = a + 1, c = a + kQuadsX + 1,
                                   d = c + 1;
                    idx.insert(idx.end(), {a, c, d, a, d, b}); // counter-clockwise from the front
                }
            vbs_[m] = d3d11scene::MakeBuffer(device_, D3D11_BIND_VERTEX_BUFFER, v.data(),
                                             UINT(v.size() * sizeof(Vertex)));
            ibs_[m] =
                d3d11scene::MakeBuffer(device_, D3D11_BIND_INDEX_BUFFER, idx.data(), UINT(idx.size() * 4));
            indexCount_ = UINT(idx.size());
        }
        const float quad[4][4] = {{1, -1, 1, 1}, {-1, -1, 0, 1}, {-1, 1, 0, 0}, {1, 1, 1, 0}};
        std::vector<Vertex> q(4);
        for (int i = 0; i < 4; ++i) {
            q[size_t(i)] = Vertex{};
            q[size_t(i)].position[0] = quad[i][0], q[size_t(i)].position[1] = quad[i][1];
            q[size_t(i)].position[2] = 0.5f, q[size_t(i)].position[3] = 1;
            q[size_t(i)].uv[0] = quad[i][2], q[size_t(i)].uv[1] = quad[i][3];
        }
        const uint32_t qi[6] = {0, 3, 2, 0, 2, 1};
        quadVb_ = d3d11scene::MakeBuffer(device_, D3D11_BIND_VERTEX_BUFFER, q.data(), 4 * sizeof(Vertex));
        quadIb_ = d3d11scene::MakeBuffer(device_, D3D11_BIND_INDEX_BUFFER, qi, sizeof qi);
    }

    // Each camera looks at the sheets from a slightly different place.
    void DrawMesh(int camera, int mesh) {
        d3d11scene::BindMesh(context_, vbs_[mesh], ibs_[mesh], textured_);
        D3DXMATRIX proj;
        D3DXMatrixPerspectiveFovRH(&proj, 0.9f, 798.0f / 449.0f, 0.5f, 100.0f);
        // Row-vector combined: translate the eye to (camera offset, 0, 7), then project.
        float view[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -0.3f * float(camera), 0, -7.0f, 1};
        float combined[16];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                float s = 0;
                for (int k = 0; k < 4; ++k)
                    s += view[4 * r + k] * proj.m[k][c];
                combined[4 * c + r] = s;
            }
        float object[88] = {};
        std::memcpy(object, combined, 64);
        object[16] = object[21] = object[26] = object[31] = 1;
        object[32] = object[37] = object[42] = object[47] = 1;
        object[80] = 0.3f * float(camera), object[82] = 7;
        context_->UpdateSubresource(object_, 0, nullptr, object, 0, 0);
        d3d11scene::BindSceneInputs(context_, object_, matrix_, lighting_, texture_, sampler_);
        context_->DrawIndexed(indexCount_, 0, 0);
    }

    SDL_Window* window_ = nullptr;
    IDXGISwapChain* chain_ = nullptr;
    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;
    ID3D11RenderTargetView* backBuffer_ = nullptr;
    ID3D11DepthStencilView* backDepth_ = nullptr;
    Target cameras_[4];
    Program textured_, camera_;
    ID3D11Buffer *object_ = nullptr, *matrix_ = nullptr, *lighting_ = nullptr;
    ID3D11Buffer *vbs_[kMeshes] = {}, *ibs_[kMeshes] = {};
    ID3D11Buffer *quadVb_ = nullptr, *quadIb_ = nullptr;
    UINT indexCount_ = 0;
    ID3D11ShaderResourceView* texture_ = nullptr;
    ID3D11SamplerState* sampler_ = nullptr;
    ID3D11RasterizerState* cull_ = nullptr;
};

void SplitScreenFrame(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Scene scene;
    if (!scene.Init()) {
        state.SkipWithError("device set-up failed");
        return;
    }
    d3d11test::SetRasterThreads(unsigned(state.range(0)));
    d3d11test::SetPlainKernels(state.range(1) != 0);
    state.counters["threads"] = double(d3d11test::RasterThreads());
    state.counters["vector"] = state.range(1) == 0 && d3d11test::VectorKernels() ? 1 : 0;
    for (auto _ : state)
        scene.Frame();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    d3d11test::SetRasterThreads(0);
    d3d11test::SetPlainKernels(false);
}
// Threads: 1 = one core, 0 = every hardware thread. Second argument 1: the plain per-pixel path
// instead of the vector kernels, for comparison.
BENCHMARK(SplitScreenFrame)
    ->ArgNames({"threads", "plain"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
