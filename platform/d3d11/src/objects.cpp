#include "internal.h"
#include "programs.h"
#include "raster.h"

#include <SDL.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <d3d11_test_control.h>

// Interface identifiers: the values are ours; only their identity matters here.
const IID IID_ID3D10Blob = {0x8BA5FB08, 0x5195, 0x40e2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};
const IID IID_IDXGIObject = {0xaec22fb8, 0x76f3, 0x4639, {0x9b, 0xe0, 0x28, 0xeb, 0x43, 0xa6, 0x7a, 0x2e}};
const IID IID_IDXGIFactory = {0x7b7166ec, 0x21c7, 0x44ae, {0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69}};
const IID IID_IDXGIAdapter = {0x2411e7e1, 0x12ac, 0x4ccf, {0xbd, 0x14, 0x97, 0x98, 0xe8, 0x53, 0x4d, 0xc0}};
const IID IID_IDXGIOutput = {0xae02eedb, 0xc735, 0x4690, {0x8d, 0x52, 0x5a, 0x8d, 0xc2, 0x02, 0x13, 0xaa}};
const IID IID_IDXGISwapChain = {0x310d36a0, 0xd2e7, 0x4c0a, {0xaa, 0x04, 0x6a, 0x9d, 0x23, 0xb8, 0x88, 0x6a}};
const IID IID_ID3D11Device = {0xdb6f6ddb, 0xac77, 0x4e88, {0x82, 0x53, 0x81, 0x9d, 0xf9, 0xbb, 0xf1, 0x40}};
const IID IID_ID3D11DeviceContext = {
    0xc0bfa96c, 0xe089, 0x44fb, {0x8e, 0xaf, 0x26, 0xf8, 0x79, 0x61, 0x90, 0xda}};
const IID IID_ID3D11Resource = {0xdc8e63f3, 0xd12b, 0x4952, {0xb4, 0x7b, 0x5e, 0x45, 0x02, 0x6a, 0x86, 0x2d}};
const IID IID_ID3D11Buffer = {0x48570b85, 0xd1ee, 0x4fcd, {0xa2, 0x50, 0xeb, 0x35, 0x07, 0x22, 0xb0, 0x37}};
const IID IID_ID3D11Texture2D = {
    0x6f15aaf2, 0xd208, 0x4e89, {0x9a, 0xb4, 0x48, 0x95, 0x35, 0xd3, 0x4f, 0x9c}};

namespace d3d11sw {

// ---- lifetime --------------------------------------------------------------------------------------

namespace {
std::atomic<size_t> g_liveObjects{0};
} // namespace

Object::Object() {
    ++g_liveObjects;
}
Object::~Object() {
    --g_liveObjects;
}
size_t LiveObjectCount() {
    return g_liveObjects;
}

ULONG Object::ReleasePublic() {
    ULONG left = --refs_;
    if (left == 0) {
        LastPublicReleased();
        if (internal_ == 0) Destroy();
    }
    return left;
}

void Object::ReleaseInternal() {
    if (--internal_ == 0 && refs_ == 0) Destroy();
}

bool Buffer::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_ID3D11Resource || riid == IID_ID3D11Buffer;
}

bool Texture2D::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_ID3D11Resource || riid == IID_ID3D11Texture2D;
}

Texture2D::Texture2D(const D3D11_TEXTURE2D_DESC& desc) : desc_(desc) {
    const size_t count = size_t(desc.Width) * desc.Height;
    if (IsDepth())
        depth_.assign(count, 1.0f);
    else
        colour_.assign(count, 0u);
}

bool Blob::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_ID3D10Blob;
}

Texture2D* AsTexture(ID3D11Resource* resource) {
    return dynamic_cast<Texture2D*>(resource);
}
Buffer* AsBuffer(ID3D11Resource* resource) {
    return dynamic_cast<Buffer*>(resource);
}

// ---- test controls and diagnostics -------------------------------------------------------------------

namespace {
std::mutex g_controlLock;
// The failure and how many successful calls of that name come before it.
struct Injected {
    HRESULT result;
    unsigned skip;
};
std::map<std::string, Injected> g_injected;
std::atomic<unsigned> g_draws{0};
std::atomic<bool> g_recording{false};
std::vector<d3d11test::Call> g_calls;
std::atomic<D3D_FEATURE_LEVEL> g_maxLevel{D3D_FEATURE_LEVEL_11_0};
} // namespace

bool Recording() {
    return g_recording.load(std::memory_order_relaxed);
}

void RecordCall(const char* name, std::vector<double> args, const void* bytes, size_t size,
                std::string text) {
    std::lock_guard<std::mutex> lock(g_controlLock);
    if (!g_recording) return;
    d3d11test::Call call{name, std::move(args), {}, std::move(text)};
    if (bytes && size) {
        const auto* b = static_cast<const uint8_t*>(bytes);
        call.bytes.assign(b, b + size);
    }
    g_calls.push_back(std::move(call));
}

void StartRecording(bool record) {
    std::lock_guard<std::mutex> lock(g_controlLock);
    g_calls.clear();
    g_recording = record;
}

std::vector<d3d11test::Call> TakeRecordedCalls() {
    std::lock_guard<std::mutex> lock(g_controlLock);
    return std::exchange(g_calls, {});
}

D3D_FEATURE_LEVEL MaxFeatureLevel() {
    return g_maxLevel;
}
void SetMaxLevel(D3D_FEATURE_LEVEL level) {
    g_maxLevel = level;
}

HRESULT TakeInjectedFailure(const char* call) {
    std::lock_guard<std::mutex> lock(g_controlLock);
    auto it = g_injected.find(call);
    if (it == g_injected.end()) return S_OK;
    if (it->second.skip > 0) {
        --it->second.skip;
        return S_OK;
    }
    HRESULT hr = it->second.result;
    g_injected.erase(it);
    return hr;
}

void CountDraw() {
    ++g_draws;
}
unsigned Draws() {
    return g_draws;
}
void ResetDraws() {
    g_draws = 0;
}

void InjectFailure(const char* call, unsigned nth, HRESULT result) {
    std::lock_guard<std::mutex> lock(g_controlLock);
    g_injected[call] = {result, nth > 0 ? nth - 1 : 0};
}

void ClearFailures() {
    std::lock_guard<std::mutex> lock(g_controlLock);
    g_injected.clear();
}

void Complain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("d3d11: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

// ---- device: resource creation -----------------------------------------------------------------------

bool Device::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_ID3D11Device;
}

void Device::MaybeDestroy() {
    if (PublicCount() == 0 && context_.PublicCount() == 0) delete this;
}

void Device::GetImmediateContext(ID3D11DeviceContext** context) {
    if (!context) return;
    context_.AddRef();
    *context = &context_;
}

namespace {
// Whole-buffer constants are read in 16-byte registers, so their size must be a multiple of 16.
bool ValidBufferDesc(const D3D11_BUFFER_DESC& d) {
    if (d.ByteWidth == 0) return false;
    if ((d.BindFlags & D3D11_BIND_CONSTANT_BUFFER) && (d.ByteWidth % 16 != 0 || d.ByteWidth > 65536))
        return false;
    if (d.Usage == D3D11_USAGE_DYNAMIC && !(d.CPUAccessFlags & D3D11_CPU_ACCESS_WRITE)) return false;
    if (d.Usage == D3D11_USAGE_DEFAULT && d.CPUAccessFlags != 0) return false;
    return d.Usage <= D3D11_USAGE_STAGING;
}
} // namespace

HRESULT Device::CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                             ID3D11Buffer** buffer) {
    if (desc)
        D3D11SW_RECORD("CreateBuffer",
                       {double(desc->ByteWidth), double(desc->Usage), double(desc->BindFlags),
                        double(desc->CPUAccessFlags), double(desc->MiscFlags),
                        double(desc->StructureByteStride)},
                       initial ? initial->pSysMem : nullptr, initial ? desc->ByteWidth : 0);
    if (!desc || !ValidBufferDesc(*desc)) {
        Complain("CreateBuffer: invalid description (size %u, bind 0x%x, usage %d)",
                 desc ? desc->ByteWidth : 0, desc ? desc->BindFlags : 0, desc ? int(desc->Usage) : -1);
        return E_INVALIDARG;
    }
    if (desc->Usage == D3D11_USAGE_IMMUTABLE && (!initial || !initial->pSysMem)) return E_INVALIDARG;
    if (initial && !initial->pSysMem) return E_INVALIDARG;
    if (!buffer) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateBuffer"); FAILED(hr)) return hr;
    auto* b = new Buffer(*desc);
    if (initial) std::memcpy(b->Data(), initial->pSysMem, desc->ByteWidth);
    *buffer = b;
    return S_OK;
}

HRESULT Device::CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                                ID3D11Texture2D** texture) {
    if (desc)
        D3D11SW_RECORD("CreateTexture2D",
                       {double(desc->Width), double(desc->Height), double(desc->MipLevels),
                        double(desc->ArraySize), double(desc->Format), double(desc->SampleDesc.Count),
                        double(desc->SampleDesc.Quality), double(desc->Usage), double(desc->BindFlags),
                        double(desc->CPUAccessFlags), double(desc->MiscFlags)});
    if (!desc || desc->Width == 0 || desc->Height == 0 ||
        desc->Width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION ||
        desc->Height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION || desc->MipLevels > 1 || desc->ArraySize != 1 ||
        desc->SampleDesc.Count != 1) {
        Complain("CreateTexture2D: unsupported description (one mip level, one sample, 1..16384 pixels)");
        return E_INVALIDARG;
    }
    const bool depth = desc->Format == DXGI_FORMAT_D24_UNORM_S8_UINT;
    if (!depth && desc->Format != DXGI_FORMAT_R8G8B8A8_UNORM) {
        Complain("CreateTexture2D: format %d is not supported", int(desc->Format));
        return E_INVALIDARG;
    }
    if (depth && (desc->BindFlags & ~UINT(D3D11_BIND_DEPTH_STENCIL))) return E_INVALIDARG;
    if (!depth && (desc->BindFlags & D3D11_BIND_DEPTH_STENCIL)) return E_INVALIDARG;
    if (initial && !initial->pSysMem) return E_INVALIDARG;
    if (initial && !depth && initial->SysMemPitch < desc->Width * 4) return E_INVALIDARG;
    if (!texture) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateTexture2D"); FAILED(hr)) return hr;
    auto* t = new Texture2D(*desc);
    if (initial && !depth) {
        const auto* src = static_cast<const uint8_t*>(initial->pSysMem);
        for (UINT y = 0; y < desc->Height; ++y)
            std::memcpy(t->Colour() + size_t(y) * desc->Width, src + size_t(y) * initial->SysMemPitch,
                        size_t(desc->Width) * 4);
    }
    *texture = t;
    return S_OK;
}

HRESULT Device::CreateShaderResourceView(ID3D11Resource* resource,
                                         const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                         ID3D11ShaderResourceView** view) {
    D3D11SW_RECORD("CreateShaderResourceView", {Addr(resource), desc ? double(desc->Format) : -1.0,
                                                desc ? double(desc->ViewDimension) : -1.0,
                                                desc ? double(desc->Texture2D.MostDetailedMip) : -1.0,
                                                desc ? double(desc->Texture2D.MipLevels) : -1.0});
    Texture2D* t = AsTexture(resource);
    if (!t || !(t->Desc().BindFlags & D3D11_BIND_SHADER_RESOURCE)) return E_INVALIDARG;
    if (desc && (desc->ViewDimension != D3D11_SRV_DIMENSION_TEXTURE2D || desc->Format != t->Desc().Format ||
                 desc->Texture2D.MostDetailedMip != 0))
        return E_INVALIDARG;
    if (!view) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateShaderResourceView"); FAILED(hr)) return hr;
    *view = new ShaderResourceView(t);
    return S_OK;
}

HRESULT Device::CreateRenderTargetView(ID3D11Resource* resource, const D3D11_RENDER_TARGET_VIEW_DESC* desc,
                                       ID3D11RenderTargetView** view) {
    D3D11SW_RECORD("CreateRenderTargetView", {Addr(resource), desc ? double(desc->Format) : -1.0,
                                              desc ? double(desc->ViewDimension) : -1.0,
                                              desc ? double(desc->Texture2D.MipSlice) : -1.0});
    Texture2D* t = AsTexture(resource);
    if (!t || !(t->Desc().BindFlags & D3D11_BIND_RENDER_TARGET)) return E_INVALIDARG;
    if (desc && (desc->ViewDimension != D3D11_RTV_DIMENSION_TEXTURE2D || desc->Format != t->Desc().Format ||
                 desc->Texture2D.MipSlice != 0))
        return E_INVALIDARG;
    if (!view) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateRenderTargetView"); FAILED(hr)) return hr;
    *view = new RenderTargetView(t);
    return S_OK;
}

HRESULT Device::CreateDepthStencilView(ID3D11Resource* resource, const D3D11_DEPTH_STENCIL_VIEW_DESC* desc,
                                       ID3D11DepthStencilView** view) {
    D3D11SW_RECORD("CreateDepthStencilView", {Addr(resource), desc ? double(desc->Format) : -1.0,
                                              desc ? double(desc->ViewDimension) : -1.0});
    Texture2D* t = AsTexture(resource);
    if (!t || !t->IsDepth()) return E_INVALIDARG;
    if (desc && (desc->ViewDimension != D3D11_DSV_DIMENSION_TEXTURE2D || desc->Format != t->Desc().Format))
        return E_INVALIDARG;
    if (!view) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateDepthStencilView"); FAILED(hr)) return hr;
    *view = new DepthStencilView(t);
    return S_OK;
}

HRESULT Device::CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** state) {
    if (!desc) return E_INVALIDARG;
    if (Recording()) {
        std::vector<double> args{double(desc->AlphaToCoverageEnable), double(desc->IndependentBlendEnable)};
        for (const auto& rt : desc->RenderTarget)
            args.insert(args.end(), {double(rt.BlendEnable), double(rt.SrcBlend), double(rt.DestBlend),
                                     double(rt.BlendOp), double(rt.SrcBlendAlpha), double(rt.DestBlendAlpha),
                                     double(rt.BlendOpAlpha), double(rt.RenderTargetWriteMask)});
        RecordCall("CreateBlendState", std::move(args));
    }
    const int used = desc->IndependentBlendEnable ? 8 : 1;
    for (int i = 0; i < used; ++i) {
        const auto& rt = desc->RenderTarget[i];
        if (!rt.BlendEnable) continue;
        auto factorOk = [](D3D11_BLEND b) {
            return b >= D3D11_BLEND_ZERO && b <= D3D11_BLEND_INV_BLEND_FACTOR;
        };
        auto opOk = [](D3D11_BLEND_OP o) { return o >= D3D11_BLEND_OP_ADD && o <= D3D11_BLEND_OP_MAX; };
        if (!factorOk(rt.SrcBlend) || !factorOk(rt.DestBlend) || !factorOk(rt.SrcBlendAlpha) ||
            !factorOk(rt.DestBlendAlpha) || !opOk(rt.BlendOp) || !opOk(rt.BlendOpAlpha))
            return E_INVALIDARG;
    }
    if (!state) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateBlendState"); FAILED(hr)) return hr;
    D3D11_BLEND_DESC copy = *desc;
    if (!copy.IndependentBlendEnable)
        for (int i = 1; i < 8; ++i)
            copy.RenderTarget[i] = copy.RenderTarget[0];
    *state = new BlendState(copy);
    return S_OK;
}

HRESULT Device::CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc, ID3D11RasterizerState** state) {
    if (desc)
        D3D11SW_RECORD("CreateRasterizerState",
                       {double(desc->FillMode), double(desc->CullMode), double(desc->FrontCounterClockwise),
                        double(desc->DepthBias), double(desc->DepthBiasClamp),
                        double(desc->SlopeScaledDepthBias), double(desc->DepthClipEnable),
                        double(desc->ScissorEnable), double(desc->MultisampleEnable),
                        double(desc->AntialiasedLineEnable)});
    if (!desc || (desc->FillMode != D3D11_FILL_SOLID && desc->FillMode != D3D11_FILL_WIREFRAME) ||
        desc->CullMode < D3D11_CULL_NONE || desc->CullMode > D3D11_CULL_BACK)
        return E_INVALIDARG;
    if (!state) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateRasterizerState"); FAILED(hr)) return hr;
    *state = new RasterizerState(*desc);
    return S_OK;
}

HRESULT Device::CreateSamplerState(const D3D11_SAMPLER_DESC* desc, ID3D11SamplerState** state) {
    if (!desc) return E_INVALIDARG;
    D3D11SW_RECORD("CreateSamplerState",
                   {double(desc->Filter), double(desc->AddressU), double(desc->AddressV),
                    double(desc->AddressW), double(desc->MipLODBias), double(desc->MaxAnisotropy),
                    double(desc->ComparisonFunc), double(desc->MinLOD), double(desc->MaxLOD)});
    auto addressOk = [](D3D11_TEXTURE_ADDRESS_MODE m) {
        return m >= D3D11_TEXTURE_ADDRESS_WRAP && m <= D3D11_TEXTURE_ADDRESS_BORDER;
    };
    if (!addressOk(desc->AddressU) || !addressOk(desc->AddressV) || !addressOk(desc->AddressW))
        return E_INVALIDARG;
    if (!state) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateSamplerState"); FAILED(hr)) return hr;
    *state = new SamplerState(*desc);
    return S_OK;
}

// ---- DXGI ------------------------------------------------------------------------------------------

namespace {
// Ascending, so the last mode is the largest.
const DXGI_MODE_DESC kModes[] = {
    {800,
     600,
     {60, 1},
     DXGI_FORMAT_R8G8B8A8_UNORM,
     DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE,
     DXGI_MODE_SCALING_UNSPECIFIED},
    {1024,
     768,
     {60, 1},
     DXGI_FORMAT_R8G8B8A8_UNORM,
     DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE,
     DXGI_MODE_SCALING_UNSPECIFIED},
    {1280,
     720,
     {60, 1},
     DXGI_FORMAT_R8G8B8A8_UNORM,
     DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE,
     DXGI_MODE_SCALING_UNSPECIFIED},
    {1600,
     900,
     {60, 1},
     DXGI_FORMAT_R8G8B8A8_UNORM,
     DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE,
     DXGI_MODE_SCALING_UNSPECIFIED},
    {1920,
     1080,
     {60, 1},
     DXGI_FORMAT_R8G8B8A8_UNORM,
     DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE,
     DXGI_MODE_SCALING_UNSPECIFIED},
};
constexpr UINT kModeCount = sizeof(kModes) / sizeof(kModes[0]);
} // namespace

bool Output::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_IDXGIObject || riid == IID_IDXGIOutput;
}

HRESULT Output::GetParent(REFIID, void** parent) {
    if (parent) *parent = nullptr;
    return E_NOINTERFACE;
}

HRESULT Output::GetDisplayModeList(DXGI_FORMAT format, UINT flags, UINT* count, DXGI_MODE_DESC* desc) {
    D3D11SW_RECORD("GetDisplayModeList",
                   {double(format), double(flags), count ? double(*count) : -1.0, desc ? 1.0 : 0.0});
    if (!count) return DXGI_ERROR_INVALID_CALL;
    if (HRESULT hr = TakeInjectedFailure("GetDisplayModeList"); FAILED(hr)) return hr;
    const UINT available = format == DXGI_FORMAT_R8G8B8A8_UNORM ? kModeCount : 0;
    if (!desc) {
        *count = available;
        return S_OK;
    }
    const UINT n = *count < available ? *count : available;
    for (UINT i = 0; i < n; ++i)
        desc[i] = kModes[i];
    *count = n;
    return n < available ? DXGI_ERROR_MORE_DATA : S_OK;
}

Adapter::Adapter(Factory* factory) : factory_(factory) {
    factory_->AddRef();
}
Adapter::~Adapter() {
    factory_->Release();
}

bool Adapter::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_IDXGIObject || riid == IID_IDXGIAdapter;
}

HRESULT Adapter::GetParent(REFIID riid, void** parent) {
    return factory_->QueryInterface(riid, parent);
}

HRESULT Adapter::EnumOutputs(UINT output, IDXGIOutput** out) {
    D3D11SW_RECORD("EnumOutputs", {double(output)});
    if (!out) return DXGI_ERROR_INVALID_CALL;
    *out = nullptr;
    if (output != 0) return DXGI_ERROR_NOT_FOUND;
    if (HRESULT hr = TakeInjectedFailure("EnumOutputs"); FAILED(hr)) return hr;
    *out = new Output();
    return S_OK;
}

HRESULT Adapter::GetDesc(DXGI_ADAPTER_DESC* desc) {
    D3D11SW_RECORD("GetDesc", {}, nullptr, 0, "IDXGIAdapter");
    if (!desc) return E_INVALIDARG;
    if (HRESULT hr = TakeInjectedFailure("GetDesc"); FAILED(hr)) return hr;
    std::memset(desc, 0, sizeof(*desc));
    const wchar_t name[] = L"Torvik CPU rasteriser";
    std::memcpy(desc->Description, name, sizeof(name));
    desc->DedicatedVideoMemory = SIZE_T(256) << 20;
    desc->SharedSystemMemory = SIZE_T(1024) << 20;
    return S_OK;
}

bool Factory::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_IDXGIObject || riid == IID_IDXGIFactory;
}

HRESULT Factory::GetParent(REFIID, void** parent) {
    if (parent) *parent = nullptr;
    return E_NOINTERFACE;
}

HRESULT Factory::MakeWindowAssociation(HWND window, UINT flags) {
    D3D11SW_RECORD("MakeWindowAssociation", {Addr(window), double(flags)});
    // Alt+Enter and the other key handling the flags switch off never happen here.
    if (flags & ~UINT(DXGI_MWA_NO_WINDOW_CHANGES | DXGI_MWA_NO_ALT_ENTER | DXGI_MWA_NO_PRINT_SCREEN))
        return DXGI_ERROR_INVALID_CALL;
    return TakeInjectedFailure("MakeWindowAssociation");
}

HRESULT Factory::EnumAdapters(UINT adapter, IDXGIAdapter** out) {
    D3D11SW_RECORD("EnumAdapters", {double(adapter)});
    if (!out) return DXGI_ERROR_INVALID_CALL;
    *out = nullptr;
    if (adapter != 0) return DXGI_ERROR_NOT_FOUND;
    if (HRESULT hr = TakeInjectedFailure("EnumAdapters"); FAILED(hr)) return hr;
    *out = new Adapter(this);
    return S_OK;
}

// ---- swap chain --------------------------------------------------------------------------------------

SwapChain::SwapChain(Device* device, const DXGI_SWAP_CHAIN_DESC& desc) : device_(device), desc_(desc) {
    device_->AddRef();
}

SwapChain::~SwapChain() {
    D3D11SW_RECORD("SwapChainDestroyed", {});
    if (backBuffer_) backBuffer_->Release();
    device_->Release();
}

bool SwapChain::Implements(REFIID riid) const {
    return riid == IID_IUnknown || riid == IID_IDXGIObject || riid == IID_IDXGISwapChain;
}

HRESULT SwapChain::MakeBackBuffer() {
    D3D11_TEXTURE2D_DESC t{};
    t.Width = desc_.BufferDesc.Width;
    t.Height = desc_.BufferDesc.Height;
    t.MipLevels = 1;
    t.ArraySize = 1;
    t.Format = desc_.BufferDesc.Format;
    t.SampleDesc = {1, 0};
    t.BindFlags = D3D11_BIND_RENDER_TARGET |
                  (desc_.BufferUsage & DXGI_USAGE_SHADER_INPUT ? D3D11_BIND_SHADER_RESOURCE : 0);
    // Made here rather than through the device, so that the caller's call record and injected
    // failures see only the calls the caller made.
    if (t.Width == 0 || t.Height == 0 || t.Width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION ||
        t.Height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION || t.Format != DXGI_FORMAT_R8G8B8A8_UNORM)
        return E_INVALIDARG;
    if (backBuffer_) backBuffer_->Release();
    backBuffer_ = new Texture2D(t);
    return S_OK;
}

HRESULT SwapChain::GetParent(REFIID riid, void** parent) {
    D3D11SW_RECORD("GetParent", {riid == IID_IDXGIFactory ? 1.0 : 0.0}, nullptr, 0, "IDXGISwapChain");
    if (!parent) return E_INVALIDARG;
    *parent = nullptr;
    if (!(riid == IID_IDXGIFactory || riid == IID_IDXGIObject || riid == IID_IUnknown)) return E_NOINTERFACE;
    if (HRESULT hr = TakeInjectedFailure("GetParent"); FAILED(hr)) return hr;
    *parent = static_cast<IDXGIFactory*>(new Factory());
    return S_OK;
}

HRESULT SwapChain::GetBuffer(UINT buffer, REFIID riid, void** surface) {
    D3D11SW_RECORD("GetBuffer", {double(buffer), riid == IID_ID3D11Texture2D ? 1.0 : 0.0});
    if (!surface) return E_INVALIDARG;
    *surface = nullptr;
    // With the discard effect only buffer 0 can be reached.
    if (buffer != 0) return DXGI_ERROR_INVALID_CALL;
    if (HRESULT hr = TakeInjectedFailure("GetBuffer"); FAILED(hr)) return hr;
    return backBuffer_->QueryInterface(riid, surface);
}

HRESULT SwapChain::SetFullscreenState(BOOL fullscreen, IDXGIOutput* target) {
    D3D11SW_RECORD("SetFullscreenState", {double(fullscreen), Addr(target)});
    if (HRESULT hr = TakeInjectedFailure("SetFullscreenState"); FAILED(hr)) return hr;
    desc_.Windowed = fullscreen ? FALSE : TRUE;
    // Full screen is a borderless window over the whole display that holds it, which behaves alike
    // with or without a window manager; leaving puts the window back where it was.
    SDL_Window* window = Window();
    if (!window) return S_OK;
    if (fullscreen && !windowed_) {
        SDL_Rect display{};
        const int index = SDL_GetWindowDisplayIndex(window);
        if (index < 0 || SDL_GetDisplayBounds(index, &display) != 0) return S_OK;
        Placement placed{};
        SDL_GetWindowPosition(window, &placed.x, &placed.y);
        SDL_GetWindowSize(window, &placed.w, &placed.h);
        windowed_ = placed;
        SDL_SetWindowBordered(window, SDL_FALSE);
        SDL_SetWindowPosition(window, display.x, display.y);
        SDL_SetWindowSize(window, display.w, display.h);
    } else if (!fullscreen && windowed_) {
        SDL_SetWindowBordered(window, SDL_TRUE);
        SDL_SetWindowSize(window, windowed_->w, windowed_->h);
        SDL_SetWindowPosition(window, windowed_->x, windowed_->y);
        windowed_.reset();
    }
    return S_OK;
}

HRESULT SwapChain::GetFullscreenState(BOOL* fullscreen, IDXGIOutput** target) {
    if (fullscreen) *fullscreen = desc_.Windowed ? FALSE : TRUE;
    if (target) *target = desc_.Windowed ? nullptr : new Output();
    return S_OK;
}

HRESULT SwapChain::GetDesc(DXGI_SWAP_CHAIN_DESC* desc) {
    D3D11SW_RECORD("GetDesc", {}, nullptr, 0, "IDXGISwapChain");
    if (!desc) return E_INVALIDARG;
    *desc = desc_;
    return S_OK;
}

HRESULT SwapChain::ResizeBuffers(UINT count, UINT width, UINT height, DXGI_FORMAT format, UINT flags) {
    D3D11SW_RECORD("ResizeBuffers",
                   {double(count), double(width), double(height), double(format), double(flags)});
    if (format != DXGI_FORMAT_UNKNOWN && format != DXGI_FORMAT_R8G8B8A8_UNORM) return DXGI_ERROR_INVALID_CALL;
    if (HRESULT hr = TakeInjectedFailure("ResizeBuffers"); FAILED(hr)) return hr;
    // Zero takes the window's client size, as on the platform.
    if ((width == 0 || height == 0) && Window()) {
        int w = 0, h = 0;
        SDL_GetWindowSize(Window(), &w, &h);
        if (width == 0) width = UINT(w > 0 ? w : 8);
        if (height == 0) height = UINT(h > 0 ? h : 8);
    }
    if (width == 0 || height == 0 || width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION ||
        height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION)
        return DXGI_ERROR_INVALID_CALL;
    device_->ImmediateContext().Flush();
    const DXGI_SWAP_CHAIN_DESC old = desc_;
    if (count != 0) desc_.BufferCount = count;
    desc_.BufferDesc.Width = width;
    desc_.BufferDesc.Height = height;
    if (format != DXGI_FORMAT_UNKNOWN) desc_.BufferDesc.Format = format;
    desc_.Flags = flags;
    if (HRESULT hr = MakeBackBuffer(); FAILED(hr)) {
        desc_ = old;
        return hr;
    }
    return S_OK;
}

HRESULT SwapChain::ResizeTarget(const DXGI_MODE_DESC* target) {
    if (target)
        D3D11SW_RECORD("ResizeTarget",
                       {double(target->Width), double(target->Height), double(target->RefreshRate.Numerator),
                        double(target->RefreshRate.Denominator), double(target->Format),
                        double(target->ScanlineOrdering), double(target->Scaling)});
    if (!target) return DXGI_ERROR_INVALID_CALL;
    if (HRESULT hr = TakeInjectedFailure("ResizeTarget"); FAILED(hr)) return hr;
    // The target is the window's client size in both states: in the (emulated) full-screen state the
    // window stands for the display, which a full-screen window covers at the mode asked for. Were
    // the mode only recorded, the buffers would take its size while the client area kept the old one,
    // and everything sized by the client area (the GUI) would be drawn at the wrong scale.
    // In full screen the window already covers the display, whose mode is not ours to change.
    if (Window() && !windowed_ && target->Width > 0 && target->Height > 0)
        SDL_SetWindowSize(Window(), int(target->Width), int(target->Height));
    return S_OK;
}

HRESULT SwapChain::GetContainingOutput(IDXGIOutput** output) {
    D3D11SW_RECORD("GetContainingOutput", {});
    if (!output) return DXGI_ERROR_INVALID_CALL;
    *output = nullptr;
    if (HRESULT hr = TakeInjectedFailure("GetContainingOutput"); FAILED(hr)) return hr;
    *output = new Output();
    return S_OK;
}

void SwapChain::Pace(UINT syncInterval) {
    using Clock = std::chrono::steady_clock;
    // The display refreshes at 60 Hz; rounded up, so that a wait is never shorter than the refresh.
    constexpr auto kRefresh = std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(1.0 / 60));
    const Clock::time_point now = Clock::now();
    if (syncInterval > 0 && lastPresent_) {
        const Clock::time_point due = *lastPresent_ + kRefresh * syncInterval;
        if (due > now) {
            std::this_thread::sleep_until(due);
            // On the beat: the frames keep a steady rate.
            lastPresent_ = due;
            return;
        }
    }
    // Late, or not synchronised: the beat starts again now rather than catching up in a burst.
    lastPresent_ = now;
}

HRESULT SwapChain::Present(UINT syncInterval, UINT flags) {
    D3D11SW_RECORD("Present", {double(syncInterval), double(flags)});
    const HRESULT hr = Show();
    if (SUCCEEDED(hr)) Pace(syncInterval);
    return hr;
}

HRESULT SwapChain::Show() {
    if (HRESULT hr = TakeInjectedFailure("Present"); FAILED(hr)) return hr;
    device_->ImmediateContext().Flush();
    SDL_Window* window = Window();
    if (!window) return DXGI_ERROR_INVALID_CALL;
    // Fetched on every present: a resize invalidates the previous surface.
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (!surface) {
        Complain("Present: no window surface: %s", SDL_GetError());
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return DXGI_ERROR_DEVICE_REMOVED;
    const int sw = backBuffer_->Width(), sh = backBuffer_->Height();
    const int dw = surface->w, dh = surface->h;
    const uint32_t* src = backBuffer_->Colour();
    const SDL_PixelFormat* fmt = surface->format;
    // 32-bit surfaces with 8-bit channels are packed directly; anything else goes through SDL_MapRGB.
    const bool fast = fmt->BytesPerPixel == 4 && fmt->Rloss == 0 && fmt->Gloss == 0 && fmt->Bloss == 0;
    // The usual case: same size, a 32-bit surface with red and blue swapped (the byte order SDL's
    // software windows use), converted row by row on the rasteriser's threads.
    if (fast && dw == sw && dh == sh && fmt->Rshift == 16 && fmt->Gshift == 8 && fmt->Bshift == 0) {
        const uint32_t alpha = fmt->Amask;
        auto* pixels = static_cast<uint8_t*>(surface->pixels);
        const int pitch = surface->pitch;
        ForRows(dh, [&](int y0, int y1) {
            const __m128i green = _mm_set1_epi32(0xFF00), low = _mm_set1_epi32(0xFF),
                          a = _mm_set1_epi32(int(alpha));
            for (int y = y0; y < y1; ++y) {
                const uint32_t* in = src + size_t(y) * size_t(sw);
                auto* out = reinterpret_cast<uint32_t*>(pixels + size_t(y) * size_t(pitch));
                int x = 0;
                for (; x + 4 <= dw; x += 4) {
                    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
                    __m128i q = _mm_or_si128(_mm_and_si128(p, green), a);
                    q = _mm_or_si128(q, _mm_slli_epi32(_mm_and_si128(p, low), 16));
                    q = _mm_or_si128(q, _mm_and_si128(_mm_srli_epi32(p, 16), low));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), q);
                }
                for (; x < dw; ++x) {
                    const uint32_t p = in[x];
                    out[x] = (p & 0xFF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu) | alpha;
                }
            }
        });
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        if (SDL_UpdateWindowSurface(window) != 0) return DXGI_ERROR_DEVICE_REMOVED;
        return S_OK;
    }
    // The back buffer is stretched over the client area, as the platform does with a size mismatch.
    std::vector<int> columns(size_t(dw > 0 ? dw : 0));
    for (int x = 0; x < dw; ++x)
        columns[size_t(x)] = int(int64_t(x) * sw / dw);
    for (int y = 0; y < dh; ++y) {
        const uint32_t* row = src + size_t(int64_t(y) * sh / dh) * size_t(sw);
        auto* out = static_cast<uint8_t*>(surface->pixels) + size_t(y) * size_t(surface->pitch);
        for (int x = 0; x < dw; ++x) {
            const uint32_t p = row[columns[size_t(x)]];
            if (fast) {
                const Uint32 mapped = (Uint32(p & 0xFF) << fmt->Rshift) |
                                      (Uint32((p >> 8) & 0xFF) << fmt->Gshift) |
                                      (Uint32((p >> 16) & 0xFF) << fmt->Bshift) | fmt->Amask;
                std::memcpy(out + size_t(x) * 4, &mapped, 4);
            } else {
                const Uint32 mapped = SDL_MapRGB(fmt, Uint8(p), Uint8(p >> 8), Uint8(p >> 16));
                std::memcpy(out + size_t(x) * fmt->BytesPerPixel, &mapped, fmt->BytesPerPixel);
            }
        }
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    if (SDL_UpdateWindowSurface(window) != 0) return DXGI_ERROR_DEVICE_REMOVED;
    return S_OK;
}

} // namespace d3d11sw

using namespace d3d11sw;

HRESULT D3D11CreateDeviceAndSwapChain(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE, UINT flags,
                                      const D3D_FEATURE_LEVEL* featureLevels, UINT levelCount,
                                      UINT sdkVersion, const DXGI_SWAP_CHAIN_DESC* swapChainDesc,
                                      IDXGISwapChain** swapChain, ID3D11Device** device,
                                      D3D_FEATURE_LEVEL* featureLevel, ID3D11DeviceContext** context) {
    if (Recording()) {
        std::vector<double> args{Addr(adapter), double(driverType), double(flags), double(sdkVersion)};
        if (swapChainDesc) {
            const DXGI_SWAP_CHAIN_DESC& d = *swapChainDesc;
            args.insert(args.end(),
                        {double(d.BufferDesc.Width), double(d.BufferDesc.Height),
                         double(d.BufferDesc.RefreshRate.Numerator),
                         double(d.BufferDesc.RefreshRate.Denominator), double(d.BufferDesc.Format),
                         double(d.BufferDesc.ScanlineOrdering), double(d.BufferDesc.Scaling),
                         double(d.SampleDesc.Count), double(d.SampleDesc.Quality), double(d.BufferUsage),
                         double(d.BufferCount), Addr(d.OutputWindow), double(d.Windowed),
                         double(d.SwapEffect), double(d.Flags)});
        }
        args.push_back(double(levelCount));
        for (UINT i = 0; featureLevels && i < levelCount; ++i)
            args.push_back(double(featureLevels[i]));
        RecordCall("D3D11CreateDeviceAndSwapChain", std::move(args));
    }
    if (swapChain) *swapChain = nullptr;
    if (device) *device = nullptr;
    if (context) *context = nullptr;
    if (sdkVersion != D3D11_SDK_VERSION || (adapter && driverType != D3D_DRIVER_TYPE_UNKNOWN) ||
        (!adapter && driverType == D3D_DRIVER_TYPE_UNKNOWN))
        return E_INVALIDARG;
    if (swapChain && (!swapChainDesc || !swapChainDesc->OutputWindow)) return DXGI_ERROR_INVALID_CALL;
    // One level is offered (11_0 unless a test chose another): a list that does not ask for it cannot
    // be met.
    const D3D_FEATURE_LEVEL offered = MaxFeatureLevel();
    bool wanted = !featureLevels;
    for (UINT i = 0; featureLevels && i < levelCount; ++i)
        wanted = wanted || featureLevels[i] == offered;
    if (!wanted) return E_INVALIDARG;
    const std::optional<D3D_FEATURE_LEVEL> level = offered;
    if (swapChainDesc) {
        const auto& b = swapChainDesc->BufferDesc;
        if (b.Format != DXGI_FORMAT_R8G8B8A8_UNORM || swapChainDesc->SampleDesc.Count != 1 ||
            swapChainDesc->BufferCount == 0)
            return DXGI_ERROR_INVALID_CALL;
    }
    if (HRESULT hr = TakeInjectedFailure("D3D11CreateDeviceAndSwapChain"); FAILED(hr)) return hr;

    auto* dev = new Device(*level);
    if (swapChain) {
        // Present writes the window surface itself: a plain memory framebuffer is all it needs, and it
        // keeps GPU drivers (and their allocations) out of headless runs. An explicit setting wins.
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
        DXGI_SWAP_CHAIN_DESC desc = *swapChainDesc;
        if (desc.BufferDesc.Width == 0 || desc.BufferDesc.Height == 0) {
            int w = 0, h = 0;
            SDL_GetWindowSize(reinterpret_cast<SDL_Window*>(desc.OutputWindow), &w, &h);
            desc.BufferDesc.Width = UINT(w > 0 ? w : 8);
            desc.BufferDesc.Height = UINT(h > 0 ? h : 8);
        }
        auto* chain = new SwapChain(dev, desc);
        if (HRESULT hr = chain->MakeBackBuffer(); FAILED(hr)) {
            chain->Release();
            dev->Release();
            return hr;
        }
        *swapChain = chain;
    }
    if (featureLevel) *featureLevel = *level;
    if (context) dev->GetImmediateContext(context);
    if (device)
        *device = dev;
    else
        dev->Release();
    return S_OK;
}
