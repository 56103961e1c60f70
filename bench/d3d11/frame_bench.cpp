// One split-screen frame on the CPU rasteriser: 10,000 textured, lit triangles drawn into four
// 798 x 449 camera targets (the quadrants of a 1600 x 900 window), then the four pictures composed
// into the 1600 x 900 back buffer, as the scene passes do. Run with 1 rasterising thread and with all.
#include <d3d11.h>
#include <d3d11_test_control.h>
#include <d3dx10math.h>
#include <d3dx11.h>

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

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

template <class T> void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

struct Program {
    ID3D11VertexShader* vs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    ID3D11InputLayout* layout = nullptr;
};

struct Target {
    ID3D11RenderTargetView* rtv = nullptr;
    ID3D11DepthStencilView* dsv = nullptr;
    ID3D11ShaderResourceView* srv = nullptr;
};

class Scene {
public:
    static constexpr int kMeshes = 25, kQuadsX = 20, kQuadsY = 10; // 25 x 400 = 10,000 triangles

    bool Init() {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
        window_ = SDL_CreateWindow("bench", 0, 0, 1600, 900, 0);
        if (!window_) return false;
        DXGI_SWAP_CHAIN_DESC scd{};
        scd.BufferDesc = {1600,
                          900,
                          {60, 1},
                          DXGI_FORMAT_R8G8B8A8_UNORM,
                          DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                          DXGI_MODE_SCALING_UNSPECIFIED};
        scd.SampleDesc = {1, 0};
        scd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        scd.BufferCount = 2;
        scd.OutputWindow = reinterpret_cast<HWND>(window_);
        scd.Windowed = TRUE;
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        if (FAILED(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                                 D3D11_SDK_VERSION, &scd, &chain_, &device_, nullptr,
                                                 &context_)))
            return false;
        if (!Load("textureshader", textured_) || !Load("camerashader", camera_)) return false;
        ID3D11Texture2D* bb = nullptr;
        chain_->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&bb));
        device_->CreateRenderTargetView(bb, nullptr, &backBuffer_);
        bb->Release();
        backDepth_ = MakeTarget(1600, 900).dsv;
        for (Target& t : cameras_)
            t = MakeTarget(798, 449);
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
        for (Program* p : {&textured_, &camera_})
            SafeRelease(p->vs), SafeRelease(p->ps), SafeRelease(p->layout);
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
        const UINT stride = sizeof(Vertex), offset = 0;
        for (int c = 0; c < 4; ++c) {
            const D3D11_VIEWPORT vp{placement[c][0], placement[c][1], 798, 449, 0, 1};
            context_->RSSetViewports(1, &vp);
            context_->IASetVertexBuffers(0, 1, &quadVb_, &stride, &offset);
            context_->IASetIndexBuffer(quadIb_, DXGI_FORMAT_R32_UINT, 0);
            Bind(camera_);
            float object[88] = {};
            object[0] = object[5] = object[10] = object[15] = 1;
            context_->UpdateSubresource(object_, 0, nullptr, object, 0, 0);
            context_->VSSetConstantBuffers(0, 1, &object_);
            context_->PSSetShaderResources(0, 1, &cameras_[c].srv);
            context_->DrawIndexed(6, 0, 0);
        }
        chain_->Present(1, 0);
    }

private:
    bool Load(const char* stem, Program& p) {
        const std::string path = std::string(TORVIK_D3D11_SHADER_DIR) + "/" + stem + ".fx";
        const std::wstring file(path.begin(), path.end());
        ID3D10Blob *vs = nullptr, *ps = nullptr;
        if (FAILED(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "VS", "vs_5_0", 0x48010, 0, nullptr,
                                          &vs, nullptr, nullptr)) ||
            FAILED(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "PS", "ps_5_0", 0x48010, 0, nullptr,
                                          &ps, nullptr, nullptr)))
            return false;
        const D3D11_INPUT_ELEMENT_DESC layout[] = {
            {"POSITION", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 32, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 44, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"BLENDINDICES", 0, DXGI_FORMAT_R32G32B32A32_UINT, 0, 52, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"BLENDWEIGHT", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 68, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"TEXTUREINDEX", 0, DXGI_FORMAT_R32_UINT, 0, 84, D3D11_INPUT_PER_VERTEX_DATA, 0},
        };
        device_->CreateVertexShader(vs->GetBufferPointer(), vs->GetBufferSize(), nullptr, &p.vs);
        device_->CreatePixelShader(ps->GetBufferPointer(), ps->GetBufferSize(), nullptr, &p.ps);
        device_->CreateInputLayout(layout, 7, vs->GetBufferPointer(), vs->GetBufferSize(), &p.layout);
        vs->Release();
        ps->Release();
        return p.vs && p.ps && p.layout;
    }

    void Bind(const Program& p) {
        context_->VSSetShader(p.vs, nullptr, 0);
        context_->PSSetShader(p.ps, nullptr, 0);
        context_->IASetInputLayout(p.layout);
    }

    Target MakeTarget(UINT w, UINT h) {
        Target t;
        D3D11_TEXTURE2D_DESC d{w,
                               h,
                               1,
                               1,
                               DXGI_FORMAT_R8G8B8A8_UNORM,
                               {1, 0},
                               D3D11_USAGE_DEFAULT,
                               D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE,
                               0,
                               0};
        ID3D11Texture2D* tex = nullptr;
        device_->CreateTexture2D(&d, nullptr, &tex);
        device_->CreateRenderTargetView(tex, nullptr, &t.rtv);
        device_->CreateShaderResourceView(tex, nullptr, &t.srv);
        tex->Release();
        d.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
        d.BindFlags = D3D11_BIND_DEPTH_STENCIL;
        device_->CreateTexture2D(&d, nullptr, &tex);
        device_->CreateDepthStencilView(tex, nullptr, &t.dsv);
        tex->Release();
        return t;
    }

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
        D3D11_TEXTURE2D_DESC d{256,
                               256,
                               1,
                               1,
                               DXGI_FORMAT_R8G8B8A8_UNORM,
                               {1, 0},
                               D3D11_USAGE_DEFAULT,
                               D3D11_BIND_SHADER_RESOURCE,
                               0,
                               0};
        D3D11_SUBRESOURCE_DATA init{px.data(), 256 * 4, 0};
        ID3D11Texture2D* tex = nullptr;
        device_->CreateTexture2D(&d, &init, &tex);
        device_->CreateShaderResourceView(tex, nullptr, &texture_);
        tex->Release();
        D3D11_SAMPLER_DESC sd{D3D11_FILTER_MIN_MAG_MIP_LINEAR,
                              D3D11_TEXTURE_ADDRESS_WRAP,
                              D3D11_TEXTURE_ADDRESS_WRAP,
                              D3D11_TEXTURE_ADDRESS_WRAP,
                              0,
                              0,
                              D3D11_COMPARISON_NEVER,
                              {0, 0, 0, 0},
                              0,
                              D3D11_FLOAT32_MAX};
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
            D3D11_BUFFER_DESC bd{
                UINT(v.size() * sizeof(Vertex)), D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
            D3D11_SUBRESOURCE_DATA init{v.data(), 0, 0};
            device_->CreateBuffer(&bd, &init, &vbs_[m]);
            bd = {UINT(idx.size() * 4), D3D11_USAGE_DEFAULT, D3D11_BIND_INDEX_BUFFER, 0, 0, 0};
            init.pSysMem = idx.data();
            device_->CreateBuffer(&bd, &init, &ibs_[m]);
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
        D3D11_BUFFER_DESC bd{4 * sizeof(Vertex), D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
        D3D11_SUBRESOURCE_DATA init{q.data(), 0, 0};
        device_->CreateBuffer(&bd, &init, &quadVb_);
        bd = {24, D3D11_USAGE_DEFAULT, D3D11_BIND_INDEX_BUFFER, 0, 0, 0};
        init.pSysMem = qi;
        device_->CreateBuffer(&bd, &init, &quadIb_);
    }

    // Each camera looks at the sheets from a slightly different place.
    void DrawMesh(int camera, int mesh) {
        const UINT stride = sizeof(Vertex), offset = 0;
        context_->IASetIndexBuffer(ibs_[mesh], DXGI_FORMAT_R32_UINT, 0);
        context_->IASetVertexBuffers(0, 1, &vbs_[mesh], &stride, &offset);
        Bind(textured_);
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
        context_->VSSetConstantBuffers(0, 1, &object_);
        context_->PSSetConstantBuffers(1, 1, &matrix_);
        context_->PSSetConstantBuffers(2, 1, &lighting_);
        ID3D11ShaderResourceView* views[3] = {texture_, texture_, texture_};
        ID3D11SamplerState* samplers[3] = {sampler_, sampler_, sampler_};
        context_->PSSetShaderResources(0, 3, views);
        context_->PSSetSamplers(0, 3, samplers);
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
