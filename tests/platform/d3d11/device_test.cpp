#include "fixture.h"

#include <chrono>
#include <cstring>

using namespace d3d11fixture;

namespace {

class Device : public DeviceTest {};

TEST_F(Device, ReportsFeatureLevel11AndCountsReferences) {
    EXPECT_EQ(level_, D3D_FEATURE_LEVEL_11_0);
    EXPECT_EQ(device_->GetFeatureLevel(), D3D_FEATURE_LEVEL_11_0);
    D3D11_BUFFER_DESC desc{64, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ID3D11Buffer* b = nullptr;
    ASSERT_EQ(device_->CreateBuffer(&desc, nullptr, &b), S_OK);
    EXPECT_EQ(b->AddRef(), 2u);
    EXPECT_EQ(b->AddRef(), 3u);
    EXPECT_EQ(b->Release(), 2u);
    ID3D11Resource* asResource = nullptr;
    ASSERT_EQ(b->QueryInterface(IID_ID3D11Resource, reinterpret_cast<void**>(&asResource)), S_OK);
    EXPECT_EQ(asResource->Release(), 2u);
    void* wrong = reinterpret_cast<void*>(1);
    EXPECT_EQ(b->QueryInterface(IID_ID3D11Texture2D, &wrong), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
    // Binding keeps the buffer alive without showing in the count.
    context_->VSSetConstantBuffers(0, 1, &b);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(b->Release(), 0u);
    ID3D11Buffer* none = nullptr;
    context_->VSSetConstantBuffers(0, 1, &none);
}

TEST_F(Device, ClearedBackBufferReachesTheWindowSurface) {
    ID3D11Texture2D* bb = nullptr;
    ASSERT_EQ(swapChain_->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&bb)), S_OK);
    D3D11_RENDER_TARGET_VIEW_DESC rd{};
    rd.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    rd.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    ID3D11RenderTargetView* rtv = nullptr;
    ASSERT_EQ(device_->CreateRenderTargetView(bb, &rd, &rtv), S_OK);
    bb->Release();
    const float colour[4] = {0.0f, 0.784f, 1.0f, 1.0f};
    context_->ClearRenderTargetView(rtv, colour);
    ASSERT_EQ(swapChain_->Present(1, 0), S_OK);
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    ASSERT_NE(surface, nullptr);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{kWidth - 1, kHeight - 1}, std::pair{kWidth / 2, 7}}) {
        Uint32 p = 0;
        std::memcpy(&p,
                    static_cast<uint8_t*>(surface->pixels) + y * surface->pitch +
                        x * surface->format->BytesPerPixel,
                    surface->format->BytesPerPixel);
        Uint8 r, g, b;
        SDL_GetRGB(p, surface->format, &r, &g, &b);
        EXPECT_EQ(r, 0);
        EXPECT_EQ(g, 200);
        EXPECT_EQ(b, 255);
    }
    rtv->Release();
}

TEST_F(Device, PresentFollowsAResizedWindowAndResizeBuffersResizes) {
    SDL_SetWindowSize(window_, 100, 80);
    ASSERT_EQ(swapChain_->ResizeBuffers(1, 100, 80, DXGI_FORMAT_R8G8B8A8_UNORM, 2), S_OK);
    DXGI_SWAP_CHAIN_DESC desc{};
    ASSERT_EQ(swapChain_->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.BufferDesc.Width, 100u);
    EXPECT_EQ(desc.BufferDesc.Height, 80u);
    EXPECT_EQ(desc.BufferCount, 1u);
    ID3D11Texture2D* bb = nullptr;
    ASSERT_EQ(swapChain_->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&bb)), S_OK);
    D3D11_TEXTURE2D_DESC td{};
    bb->GetDesc(&td);
    EXPECT_EQ(td.Width, 100u);
    EXPECT_EQ(td.Height, 80u);
    ID3D11RenderTargetView* rtv = nullptr;
    ASSERT_EQ(device_->CreateRenderTargetView(bb, nullptr, &rtv), S_OK);
    bb->Release();
    const float red[4] = {1, 0, 0, 1};
    context_->ClearRenderTargetView(rtv, red);
    ASSERT_EQ(swapChain_->Present(1, 0), S_OK);
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    ASSERT_EQ(surface->w, 100);
    Uint32 p = 0;
    std::memcpy(&p,
                static_cast<uint8_t*>(surface->pixels) + 79 * surface->pitch +
                    99 * surface->format->BytesPerPixel,
                surface->format->BytesPerPixel);
    Uint8 r, g, b;
    SDL_GetRGB(p, surface->format, &r, &g, &b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    rtv->Release();
    EXPECT_EQ(swapChain_->ResizeBuffers(1, 0x10000, 80, DXGI_FORMAT_R8G8B8A8_UNORM, 2),
              DXGI_ERROR_INVALID_CALL);
}

TEST_F(Device, DisplayModesComeInTwoCallsInAscendingOrder) {
    IDXGIFactory* factory = nullptr;
    ASSERT_EQ(swapChain_->GetParent(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->MakeWindowAssociation(reinterpret_cast<HWND>(window_), DXGI_MWA_NO_ALT_ENTER), S_OK);
    IDXGIAdapter* adapter = nullptr;
    ASSERT_EQ(factory->EnumAdapters(0, &adapter), S_OK);
    IDXGIAdapter* second = nullptr;
    EXPECT_EQ(factory->EnumAdapters(1, &second), DXGI_ERROR_NOT_FOUND);
    IDXGIOutput* output = nullptr;
    ASSERT_EQ(adapter->EnumOutputs(0, &output), S_OK);
    UINT count = 0;
    ASSERT_EQ(
        output->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count, nullptr),
        S_OK);
    ASSERT_GE(count, 2u);
    std::vector<DXGI_MODE_DESC> modes(count);
    ASSERT_EQ(output->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count,
                                         modes.data()),
              S_OK);
    for (UINT i = 1; i < count; ++i)
        EXPECT_GT(modes[i].Width * modes[i].Height, modes[i - 1].Width * modes[i - 1].Height);
    EXPECT_EQ(modes.back().Width, 1920u);
    UINT shortCount = 1;
    EXPECT_EQ(output->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, 1, &shortCount, modes.data()),
              DXGI_ERROR_MORE_DATA);
    EXPECT_EQ(shortCount, 1u);
    DXGI_ADAPTER_DESC ad{};
    ASSERT_EQ(adapter->GetDesc(&ad), S_OK);
    EXPECT_GT(ad.DedicatedVideoMemory >> 20, 0u);
    EXPECT_NE(ad.Description[0], L'\0');
    output->Release();
    adapter->Release();
    factory->Release();
}

TEST_F(Device, FullScreenStateIsHonouredAndTargetsResizeTheWindow) {
    BOOL full = TRUE;
    ASSERT_EQ(swapChain_->GetFullscreenState(&full, nullptr), S_OK);
    EXPECT_TRUE(full); // created with Windowed FALSE
    // In full screen the window stands for the display: a new mode gives it the mode's size.
    const DXGI_MODE_DESC display{120,
                                 90,
                                 {0, 0},
                                 DXGI_FORMAT_R8G8B8A8_UNORM,
                                 DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                                 DXGI_MODE_SCALING_UNSPECIFIED};
    ASSERT_EQ(swapChain_->ResizeTarget(&display), S_OK);
    int fullW = 0, fullH = 0;
    SDL_GetWindowSize(window_, &fullW, &fullH);
    EXPECT_EQ(fullW, 120);
    EXPECT_EQ(fullH, 90);
    ASSERT_EQ(swapChain_->SetFullscreenState(FALSE, nullptr), S_OK);
    ASSERT_EQ(swapChain_->GetFullscreenState(&full, nullptr), S_OK);
    EXPECT_FALSE(full);
    const DXGI_MODE_DESC mode{80,
                              60,
                              {60, 1},
                              DXGI_FORMAT_R8G8B8A8_UNORM,
                              DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                              DXGI_MODE_SCALING_UNSPECIFIED};
    ASSERT_EQ(swapChain_->ResizeTarget(&mode), S_OK);
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 60);
    IDXGIOutput* out = nullptr;
    ASSERT_EQ(swapChain_->GetContainingOutput(&out), S_OK);
    out->Release();
}

TEST_F(Device, RejectsBadDescriptions) {
    struct Case {
        UINT size;
        UINT bind;
        D3D11_USAGE usage;
        UINT cpu;
        HRESULT expected;
    };
    const Case cases[] = {
        {352, D3D11_BIND_CONSTANT_BUFFER, D3D11_USAGE_DEFAULT, 0, S_OK},
        {10256, D3D11_BIND_CONSTANT_BUFFER, D3D11_USAGE_DEFAULT, 0, S_OK},
        {100, D3D11_BIND_CONSTANT_BUFFER, D3D11_USAGE_DEFAULT, 0, E_INVALIDARG},
        {0, D3D11_BIND_VERTEX_BUFFER, D3D11_USAGE_DEFAULT, 0, E_INVALIDARG},
        {600000, D3D11_BIND_VERTEX_BUFFER, D3D11_USAGE_DYNAMIC, D3D11_CPU_ACCESS_WRITE, S_OK},
        {64, D3D11_BIND_CONSTANT_BUFFER, D3D11_USAGE_DYNAMIC, 0, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        D3D11_BUFFER_DESC d{c.size, c.usage, c.bind, c.cpu, 0, 0};
        ID3D11Buffer* b = nullptr;
        EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b), c.expected) << c.size;
        if (b) b->Release();
    }
    D3D11_TEXTURE2D_DESC t{
        0, 10, 1, 1, DXGI_FORMAT_R8G8B8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE,
        0, 0};
    ID3D11Texture2D* tex = nullptr;
    EXPECT_EQ(device_->CreateTexture2D(&t, nullptr, &tex), E_INVALIDARG);
    EXPECT_EQ(tex, nullptr);
}

TEST_F(Device, InjectedFailuresHitTheNamedCallOnce) {
    d3d11test::FailNextCall("CreateBuffer", E_OUTOFMEMORY);
    D3D11_BUFFER_DESC d{16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ID3D11Buffer* b = nullptr;
    EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b), E_OUTOFMEMORY);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b), S_OK);
    b->Release();
    d3d11test::FailNextCall("Present", DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(swapChain_->Present(1, 0), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(swapChain_->Present(1, 0), S_OK);
}

TEST_F(Device, TheNthCallFailsAndTheOnesBeforeItSucceed) {
    d3d11test::FailNthCall("CreateBuffer", 2, E_OUTOFMEMORY);
    D3D11_BUFFER_DESC d{16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ID3D11Buffer* b[3] = {};
    EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b[0]), S_OK);
    EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b[1]), E_OUTOFMEMORY);
    EXPECT_EQ(device_->CreateBuffer(&d, nullptr, &b[2]), S_OK);
    b[0]->Release();
    b[2]->Release();
}

TEST_F(Device, CallRecordKeepsArgumentsAndUploadedBytes) {
    d3d11test::RecordCalls(true);
    const float data[4] = {1, 2, 3, 4};
    D3D11_BUFFER_DESC d{16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA initial{data, 0, 0};
    ID3D11Buffer* b = nullptr;
    ASSERT_EQ(device_->CreateBuffer(&d, &initial, &b), S_OK);
    const float update[4] = {5, 6, 7, 8};
    context_->UpdateSubresource(b, 0, nullptr, update, 0, 0);
    context_->PSSetConstantBuffers(2, 1, &b);
    const auto calls = d3d11test::TakeCalls();
    d3d11test::RecordCalls(false);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "CreateBuffer");
    EXPECT_EQ(calls[0].args, (std::vector<double>{16, 0, 4, 0, 0, 0}));
    ASSERT_EQ(calls[0].bytes.size(), 16u);
    EXPECT_EQ(std::memcmp(calls[0].bytes.data(), data, 16), 0);
    EXPECT_EQ(calls[1].name, "UpdateSubresource");
    ASSERT_EQ(calls[1].bytes.size(), 16u);
    EXPECT_EQ(std::memcmp(calls[1].bytes.data(), update, 16), 0);
    EXPECT_EQ(calls[2].args, (std::vector<double>{2, 1, double(reinterpret_cast<uintptr_t>(b))}));
    EXPECT_TRUE(d3d11test::TakeCalls().empty());
    b->Release();
}

TEST_F(Device, LiveObjectsCountWhatExists) {
    const std::size_t before = d3d11test::LiveObjects();
    D3D11_BUFFER_DESC d{16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ID3D11Buffer* b = nullptr;
    ASSERT_EQ(device_->CreateBuffer(&d, nullptr, &b), S_OK);
    EXPECT_EQ(d3d11test::LiveObjects(), before + 1);
    // A bound buffer lives on until it is unbound.
    context_->VSSetConstantBuffers(0, 1, &b);
    b->Release();
    EXPECT_EQ(d3d11test::LiveObjects(), before + 1);
    ID3D11Buffer* none = nullptr;
    context_->VSSetConstantBuffers(0, 1, &none);
    EXPECT_EQ(d3d11test::LiveObjects(), before);
}

// Present with a sync interval waits for that many refreshes of a 60 Hz display after the previous
// one: three presents span at least two intervals. Only the lower bound is certain on a busy machine.
TEST_F(Device, PresentWaitsForTheSyncInterval) {
    for (UINT interval : {1u, 2u}) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(swapChain_->Present(interval, 0), S_OK);
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        EXPECT_GE(spent.count(), 2.0 * interval / 60.0) << "sync interval " << interval;
    }
}

TEST(DeviceCreation, NeedsTheWindowAndLevel11) {
    DXGI_SWAP_CHAIN_DESC scd{};
    scd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    scd.SampleDesc = {1, 0};
    scd.BufferCount = 1;
    IDXGISwapChain* chain = nullptr;
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    EXPECT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                            D3D11_SDK_VERSION, &scd, &chain, &device, nullptr, &context),
              DXGI_ERROR_INVALID_CALL);
    const D3D_FEATURE_LEVEL only10[] = {D3D_FEATURE_LEVEL_10_0};
    EXPECT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, only10, 1,
                                            D3D11_SDK_VERSION, nullptr, nullptr, &device, nullptr, &context),
              E_INVALIDARG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(context, nullptr);
}

TEST(DeviceCreation, AChosenLevelIsTheOneOffered) {
    d3d11test::SetMaxFeatureLevel(D3D_FEATURE_LEVEL_10_1);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    D3D_FEATURE_LEVEL got = D3D_FEATURE_LEVEL_9_1;
    EXPECT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 1,
                                            D3D11_SDK_VERSION, nullptr, nullptr, &device, &got, &context),
              E_INVALIDARG);
    ASSERT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 3,
                                            D3D11_SDK_VERSION, nullptr, nullptr, &device, &got, &context),
              S_OK);
    d3d11test::SetMaxFeatureLevel(D3D_FEATURE_LEVEL_11_0);
    EXPECT_EQ(got, D3D_FEATURE_LEVEL_10_1);
    EXPECT_EQ(device->GetFeatureLevel(), D3D_FEATURE_LEVEL_10_1);
    context->Release();
    device->Release();
}

} // namespace
