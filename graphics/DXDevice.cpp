#include "DXDevice.h"

#include "GraphicsErrors.h"

#include <Callable.h>
#include <ComponentAccessors.h>
#include <Engine.h>
#include <GameState.h>
#include <windows.h>

#include "resources/ResourceHub.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kSourceFile = "DX11.cpp";

template <class T> void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

void PutFloats(std::uint8_t* at, std::initializer_list<float> values) {
    for (float v : values) {
        std::memcpy(at, &v, sizeof v);
        at += sizeof v;
    }
}

} // namespace

D3D11_TEXTURE2D_DESC DXDevice::DepthDesc(unsigned width, unsigned height) {
    D3D11_TEXTURE2D_DESC d{};
    d.Width = width;
    d.Height = height;
    d.MipLevels = 1;
    d.ArraySize = 1;
    d.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
    d.SampleDesc = {1, 0};
    d.Usage = D3D11_USAGE_DEFAULT;
    d.BindFlags = D3D11_BIND_DEPTH_STENCIL;
    return d;
}

iDevice::~iDevice() = default;

DXDevice::DXDevice(HWND window, HINSTANCE instance, GraphicsSystem* owner)
    : mWindow(window), mInstance(instance), mOwner(owner) {
    // Four materials of three float4 rows: (1, 1, 1, -), (1, 1, 1, -), (1, 1, 1, 32); the colour at 192.
    for (int m = 0; m < 4; ++m) {
        std::uint8_t* at = mMatrixBuffer.bytes.data() + 48 * m;
        PutFloats(at, {1.0f, 1.0f, 1.0f});
        PutFloats(at + 16, {1.0f, 1.0f, 1.0f});
        PutFloats(at + 32, {1.0f, 1.0f, 1.0f, 32.0f});
    }
    const LightRecord defaults{{0, 0, 0}, 2, {0, 0, 0}, 1.0f, {0, 0, 0}, 10.0f, 1.0f, 15.0f, 30.0f, 0};
    for (int i = 0; i < kMaxLights; ++i)
        std::memcpy(mLightingBuffer.bytes.data() + sizeof(LightRecord) * i, &defaults, sizeof defaults);
    RegisterLightListeners(true);
}

DXDevice::~DXDevice() {
    RegisterLightListeners(false);
}

void DXDevice::RegisterLightListeners(bool reg) {
    const Callable created(this, &DXDevice::OnLightCreated);
    const Callable destroyed(this, &DXDevice::OnLightDestroyed);
    if (reg) {
        Engine::RegisterListener(MessageType::CreatedComponent, created);
        Engine::RegisterListener(MessageType::DestroyedComponent, destroyed);
    } else {
        Engine::UnregisterListener(MessageType::CreatedComponent, created);
        Engine::UnregisterListener(MessageType::DestroyedComponent, destroyed);
    }
}

void DXDevice::ReportInit(const char* text, const char* function, int line) {
    SendGraphicsError(text, true, function, kSourceFile, line);
}

void DXDevice::PrintHResult(HRESULT result) {
    wchar_t buffer[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        DWORD(result), 0, buffer, DWORD(std::size(buffer)), nullptr);
    std::string text;
    if (length > 0) {
        std::string utf8(std::size_t(length) * 4 + 1, '\0');
        const int n = WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), utf8.data(), int(utf8.size()),
                                          nullptr, nullptr);
        text.assign(utf8.data(), std::size_t(n > 0 ? n : 0));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
    } else {
        // The wording the platform's error object uses for a code without system text.
        char unknown[32];
        std::snprintf(unknown, sizeof unknown, "Unknown error 0x%08X", unsigned(result));
        text = unknown;
    }
    std::printf("%s\n", text.c_str());
}

bool DXDevice::InitDevice() {
    constexpr const char* kFunction = "DXDevice::InitDevice";
    mFeatureLevel = D3D_FEATURE_LEVEL_9_1;

    DXGI_SWAP_CHAIN_DESC scd{};
    scd.BufferDesc.Width = kStartWidth;
    scd.BufferDesc.Height = kStartHeight;
    scd.BufferDesc.RefreshRate = {60, 1};
    scd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    scd.BufferDesc.ScanlineOrdering = DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED;
    scd.BufferDesc.Scaling = DXGI_MODE_SCALING_UNSPECIFIED;
    scd.SampleDesc = {1, 0};
    scd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    scd.BufferCount = 2;
    scd.OutputWindow = mWindow;
    scd.Windowed = mFullscreen ? FALSE : TRUE;
    scd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    scd.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;

    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_3,
                                        D3D_FEATURE_LEVEL_9_2,  D3D_FEATURE_LEVEL_9_1};
    HRESULT hr = D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 6,
                                               D3D11_SDK_VERSION, &scd, &mSwapChain, &mDevice, &mFeatureLevel,
                                               &mContext);
    // Each report below is fatal: the window system ends the process. Should it return, nothing past
    // the failed step can run, so the device reports failure instead.
    if (FAILED(hr)) {
        ReportInit("Failed to create the SwapChain", kFunction, __LINE__);
        return false;
    }
    if (mFeatureLevel < D3D_FEATURE_LEVEL_11_0)
        ReportInit("Error: Graphics Card is not fully supported!\nGame will be unplayable!", kFunction,
                   __LINE__);

    if (!InitIDXGIFactory(nullptr)) return false;

    const D3D11_TEXTURE2D_DESC depthDesc = DepthDesc(kStartWidth, kStartHeight);
    ID3D11Texture2D* depthTexture = nullptr;
    if (FAILED(mDevice->CreateTexture2D(&depthDesc, nullptr, &depthTexture))) {
        ReportInit("Failed to create the depth/stencil Buffer", kFunction, __LINE__);
        return false;
    }
    hr = mDevice->CreateDepthStencilView(depthTexture, nullptr, &mDepthView);
    depthTexture->Release();
    if (FAILED(hr)) {
        ReportInit("Failed to create the depth/stencil view", kFunction, __LINE__);
        return false;
    }

    D3D11_RASTERIZER_DESC rs{};
    rs.FillMode = D3D11_FILL_SOLID;
    rs.CullMode = D3D11_CULL_BACK;
    rs.FrontCounterClockwise = TRUE;
    rs.DepthClipEnable = FALSE;
    mDevice->CreateRasterizerState(&rs, &mCullState);
    rs.CullMode = D3D11_CULL_NONE;
    rs.FrontCounterClockwise = FALSE;
    mDevice->CreateRasterizerState(&rs, &mNoCullState);
    mContext->RSSetState(mCullState);

    mSwapChain->GetDesc(&scd);
    ID3D11Texture2D* backBuffer = nullptr;
    if (FAILED(mSwapChain->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&backBuffer)))) {
        ReportInit("Failed to Get the back buffer", kFunction, __LINE__);
        return false;
    }
    D3D11_RENDER_TARGET_VIEW_DESC rtv{};
    rtv.Format = scd.BufferDesc.Format;
    rtv.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    rtv.Texture2D.MipSlice = 0;
    hr = mDevice->CreateRenderTargetView(backBuffer, &rtv, &mBackBufferView);
    backBuffer->Release();
    if (FAILED(hr)) {
        ReportInit("Failed to Create the render targer view", kFunction, __LINE__);
        return false;
    }
    mContext->OMSetRenderTargets(1, &mBackBufferView, mDepthView);

    auto makeConstantBuffer = [this](UINT bytes, ID3D11Buffer** buffer) {
        const D3D11_BUFFER_DESC desc{bytes, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
        return mDevice->CreateBuffer(&desc, nullptr, buffer);
    };
    if (hr = makeConstantBuffer(kObjectBufferBytes, &mObjectBuffer.buffer); FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    if (FAILED(makeConstantBuffer(kMatrixBufferBytes, &mMatrixBuffer.buffer))) {
        ReportInit("Failed to Create The Matrix Buffer", kFunction, __LINE__);
        return false;
    }
    if (FAILED(makeConstantBuffer(kSkinnedBufferBytes, &mSkinnedBuffer.buffer))) {
        ReportInit("Failed to Create The Skinned Buffer", kFunction, __LINE__);
        return false;
    }
    if (FAILED(makeConstantBuffer(kLightingBufferBytes, &mLightingBuffer.buffer))) {
        ReportInit("Failed to Create The Lighting Buffer", kFunction, __LINE__);
        return false;
    }
    mBackground[0] = 0.0f;
    mBackground[1] = 0.784f;
    mBackground[2] = 1.0f;
    return true;
}

bool DXDevice::InitIDXGIFactory(void*) {
    constexpr const char* kFunction = "DXDevice::InitIDXGIFactory";
    mDisplayModes.clear();
    if (FAILED(mSwapChain->GetParent(IID_IDXGIFactory, reinterpret_cast<void**>(&mFactory)))) {
        ReportInit("The IDXGI Factory failed to be gotten", kFunction, __LINE__);
        return false;
    }
    if (FAILED(mFactory->MakeWindowAssociation(mWindow, DXGI_MWA_NO_ALT_ENTER))) {
        ReportInit("Failed to make the window association", kFunction, __LINE__);
        return false;
    }
    if (FAILED(mFactory->EnumAdapters(0, &mAdapter))) {
        ReportInit("Failed to enumerate the adapters", kFunction, __LINE__);
        return false;
    }
    if (FAILED(mAdapter->EnumOutputs(0, &mOutput))) {
        ReportInit("Failed to enumerate the monitors", kFunction, __LINE__);
        return false;
    }
    UINT count = 0;
    if (FAILED(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count,
                                           nullptr))) {
        ReportInit("Failed to get the number of display modes", kFunction, __LINE__);
        return false;
    }
    mDisplayModes.resize(count);
    if (FAILED(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count,
                                           mDisplayModes.data()))) {
        ReportInit("Failed to get the display mode list", kFunction, __LINE__);
        return false;
    }
    mDisplayModes.resize(count);
    if (FAILED(mAdapter->GetDesc(&mVideoCard))) {
        ReportInit("Failed to Get the description of the Video Card", kFunction, __LINE__);
        return false;
    }
    mVideoMemoryMiB = unsigned(mVideoCard.DedicatedVideoMemory >> 20);
    std::size_t converted = 0;
    return wcstombs_s(&converted, mVideoCardName, sizeof mVideoCardName, mVideoCard.Description,
                      sizeof mVideoCardName) == 0;
}

bool DXDevice::InitPipeline(ResourceHub* hub) {
    mHub = hub;
    mContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    D3D11_BLEND_DESC blend{};
    blend.AlphaToCoverageEnable = FALSE;
    blend.IndependentBlendEnable = TRUE;
    blend.RenderTarget[0] = {TRUE,
                             D3D11_BLEND_SRC_ALPHA,
                             D3D11_BLEND_INV_SRC_ALPHA,
                             D3D11_BLEND_OP_ADD,
                             D3D11_BLEND_ZERO,
                             D3D11_BLEND_ZERO,
                             D3D11_BLEND_OP_ADD,
                             D3D11_COLOR_WRITE_ENABLE_ALL};
    if (HRESULT hr = mDevice->CreateBlendState(&blend, &mBlendState); FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    LayoutViewports(kStartWidth, kStartHeight);
    mWidth = kStartWidth;
    mHeight = kStartHeight;
    mTransparentQueue.clear();
    return true;
}

bool DXDevice::UpdateScene() {
    for (const std::weak_ptr<Renderable>& entry : mRenderables) {
        const std::shared_ptr<Renderable> renderable = entry.lock();
        if (!renderable) continue;
        if (mHub && GameState::GetState() != GameState::PAUSED)
            if (auto* model = dynamic_cast<Model*>(mHub->mModelManager->GetResource(renderable->GetModel()));
                model && !model->mSkeleton.empty() && model->mAnimate) {
                // Keys are numbered from 0 to last - first; past the last the animation starts over.
                ++model->mCurrentKey;
                if (std::int64_t(model->mCurrentKey) > std::int64_t(model->mLastFrame) - model->mFirstFrame)
                    model->mCurrentKey = 0;
            }
        if (const std::shared_ptr<Object> object = renderable->GetParent().lock())
            if (const std::shared_ptr<Transform> transform = GetComponentOfType<Transform>(object).lock())
                transform->UpdateMatrices();
    }
    return true;
}

bool DXDevice::ResizeRenderTargetView(unsigned width, unsigned height) {
    if (!mBackBufferView) {
        std::printf("ERROR: NO RENDER TARGET VIEW TO RESIZE!");
        return false;
    }
    SafeRelease(mBackBufferView);
    if (HRESULT hr = mSwapChain->ResizeBuffers(1, width, height, DXGI_FORMAT_R8G8B8A8_UNORM,
                                               DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH);
        FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    ID3D11Texture2D* backBuffer = nullptr;
    if (HRESULT hr = mSwapChain->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&backBuffer));
        FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    HRESULT hr = mDevice->CreateRenderTargetView(backBuffer, nullptr, &mBackBufferView);
    backBuffer->Release();
    if (FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    mContext->OMSetRenderTargets(1, &mBackBufferView, mDepthView);
    return true;
}

bool DXDevice::ResizeDepthBuffer(unsigned width, unsigned height) {
    if (!mDepthView) {
        std::printf("ERROR: NO DEPTH STENCIL BUFFER TO REZISE!");
        return false;
    }
    const D3D11_TEXTURE2D_DESC desc = DepthDesc(width, height);
    ID3D11Texture2D* texture = nullptr;
    if (HRESULT hr = mDevice->CreateTexture2D(&desc, nullptr, &texture); FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    SafeRelease(mDepthView);
    HRESULT hr = mDevice->CreateDepthStencilView(texture, nullptr, &mDepthView);
    texture->Release();
    if (FAILED(hr)) {
        PrintHResult(hr);
        return false;
    }
    return true;
}

int DXDevice::ReleaseDevice() {
    for (auto& [camera, target] : mCameraTargets)
        ReleaseTarget(target);
    mTransparentQueue.clear();
    mDebugModels.clear();
    SafeRelease(mBackBufferView);
    SafeRelease(mObjectBuffer.buffer);
    SafeRelease(mMatrixBuffer.buffer);
    SafeRelease(mSkinnedBuffer.buffer);
    SafeRelease(mLightingBuffer.buffer);
    SafeRelease(mBlendState);
    SafeRelease(mNoCullState);
    SafeRelease(mCullState);
    SafeRelease(mDepthView);
    SafeRelease(mFactory);
    SafeRelease(mAdapter);
    SafeRelease(mOutput);
    mDisplayModes.clear();
    mDisplayModes.shrink_to_fit();
    // DXGI requires windowed mode before the swap chain goes.
    if (mSwapChain) mSwapChain->SetFullscreenState(FALSE, nullptr);
    SafeRelease(mSwapChain);
    SafeRelease(mContext);
    SafeRelease(mDevice);
    return 1;
}
