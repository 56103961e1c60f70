// Objects behind the graphics interfaces. Every object keeps two counts: the public one that
// AddRef/Release report, and an internal one held by pipeline bindings (the context keeps what is bound
// alive without changing what the caller sees). An object dies when both reach zero.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SDL_Window;

namespace d3d11sw {

struct RasterQueue;

class Device;

// Common lifetime for every object; `Implements` answers QueryInterface.
class Object {
public:
    Object();
    virtual ~Object();
    ULONG AddPublic() { return ++refs_; }
    ULONG ReleasePublic();
    void AddInternal() { ++internal_; }
    void ReleaseInternal();
    ULONG PublicCount() const { return refs_; }

protected:
    virtual void Destroy() { delete this; }
    // Runs when the last public reference goes, before the object may live on through bindings.
    virtual void LastPublicReleased() {}

private:
    std::atomic<ULONG> refs_{1};
    std::atomic<ULONG> internal_{0};
};

template <class I> class Com : public I, public Object {
public:
    ULONG AddRef() override { return AddPublic(); }
    ULONG Release() override { return ReleasePublic(); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (Implements(riid)) {
            AddPublic();
            *out = static_cast<I*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

protected:
    virtual bool Implements(REFIID riid) const { return riid == IID_IUnknown; }
};

// A binding held by the context: internal reference only.
template <class T> class Bound {
public:
    Bound() = default;
    Bound(const Bound&) = delete;
    Bound& operator=(const Bound&) = delete;
    ~Bound() { Reset(nullptr); }
    void Reset(T* p) {
        if (p) p->AddInternal();
        if (p_) p_->ReleaseInternal();
        p_ = p;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// ---- resources -------------------------------------------------------------------------------------

class Buffer final : public Com<ID3D11Buffer> {
public:
    explicit Buffer(const D3D11_BUFFER_DESC& desc) : desc_(desc), bytes_(desc.ByteWidth) {}
    void GetDesc(D3D11_BUFFER_DESC* desc) override {
        if (desc) *desc = desc_;
    }
    const D3D11_BUFFER_DESC& Desc() const { return desc_; }
    uint8_t* Data() { return bytes_.data(); }
    size_t Size() const { return bytes_.size(); }

protected:
    bool Implements(REFIID riid) const override;

private:
    D3D11_BUFFER_DESC desc_;
    std::vector<uint8_t> bytes_;
};

// Colour textures hold packed RGBA8 (red in the low byte); depth textures hold float depth.
class Texture2D final : public Com<ID3D11Texture2D> {
public:
    explicit Texture2D(const D3D11_TEXTURE2D_DESC& desc);
    void GetDesc(D3D11_TEXTURE2D_DESC* desc) override {
        if (desc) *desc = desc_;
    }
    const D3D11_TEXTURE2D_DESC& Desc() const { return desc_; }
    int Width() const { return static_cast<int>(desc_.Width); }
    int Height() const { return static_cast<int>(desc_.Height); }
    bool IsDepth() const { return desc_.Format == DXGI_FORMAT_D24_UNORM_S8_UINT; }
    uint32_t* Colour() { return colour_.data(); }
    float* Depth() { return depth_.data(); }

protected:
    bool Implements(REFIID riid) const override;

private:
    D3D11_TEXTURE2D_DESC desc_;
    std::vector<uint32_t> colour_;
    std::vector<float> depth_;
};

// The view keeps a public reference on its texture for as long as it exists.
template <class I> class View final : public Com<I> {
public:
    explicit View(Texture2D* texture) : texture_(texture) { texture_->AddRef(); }
    ~View() override { texture_->Release(); }
    void GetResource(ID3D11Resource** resource) override {
        if (!resource) return;
        texture_->AddRef();
        *resource = texture_;
    }
    Texture2D* Texture() const { return texture_; }

private:
    Texture2D* texture_;
};
using RenderTargetView = View<ID3D11RenderTargetView>;
using DepthStencilView = View<ID3D11DepthStencilView>;
using ShaderResourceView = View<ID3D11ShaderResourceView>;

// ---- shaders and states ----------------------------------------------------------------------------

enum class VsProgram { Scene, Skinned, Camera, Gui };
enum class PsProgram { Scene, Textured, Camera, Gui };

// Vertex inputs the built-in programs read, by semantic.
enum Semantic {
    kPosition,
    kColor,
    kNormal,
    kTexcoord,
    kBlendIndices,
    kBlendWeight,
    kTextureIndex,
    kSemanticCount
};

class VertexShader final : public Com<ID3D11VertexShader> {
public:
    VertexShader(VsProgram program, std::string stem) : program(program), stem(std::move(stem)) {}
    const VsProgram program;
    const std::string stem;
};

class PixelShader final : public Com<ID3D11PixelShader> {
public:
    PixelShader(PsProgram program, std::string stem) : program(program), stem(std::move(stem)) {}
    const PsProgram program;
    const std::string stem;
};

struct LayoutElement {
    Semantic semantic;
    DXGI_FORMAT format;
    UINT slot;
    UINT offset;
};

class InputLayout final : public Com<ID3D11InputLayout> {
public:
    explicit InputLayout(std::vector<LayoutElement> elements) : elements(std::move(elements)) {}
    const std::vector<LayoutElement> elements;
};

class BlendState final : public Com<ID3D11BlendState> {
public:
    explicit BlendState(const D3D11_BLEND_DESC& desc) : desc(desc) {}
    const D3D11_BLEND_DESC desc;
};

class RasterizerState final : public Com<ID3D11RasterizerState> {
public:
    explicit RasterizerState(const D3D11_RASTERIZER_DESC& desc) : desc(desc) {}
    const D3D11_RASTERIZER_DESC desc;
};

class SamplerState final : public Com<ID3D11SamplerState> {
public:
    explicit SamplerState(const D3D11_SAMPLER_DESC& desc) : desc(desc) {}
    const D3D11_SAMPLER_DESC desc;
};

class Blob final : public Com<ID3D10Blob> {
public:
    explicit Blob(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    LPVOID GetBufferPointer() override { return bytes_.data(); }
    SIZE_T GetBufferSize() override { return bytes_.size(); }

protected:
    bool Implements(REFIID riid) const override;

private:
    std::vector<uint8_t> bytes_;
};

// ---- device and context ----------------------------------------------------------------------------

class Context final : public ID3D11DeviceContext {
public:
    explicit Context(Device& device);
    ~Context();

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    void VSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) override;
    void PSSetShaderResources(UINT start, UINT count, ID3D11ShaderResourceView* const* views) override;
    void PSSetShader(ID3D11PixelShader* shader, ID3D11ClassInstance* const* instances, UINT count) override;
    void PSSetSamplers(UINT start, UINT count, ID3D11SamplerState* const* samplers) override;
    void VSSetShader(ID3D11VertexShader* shader, ID3D11ClassInstance* const* instances, UINT count) override;
    void DrawIndexed(UINT indexCount, UINT startIndex, INT baseVertex) override;
    void Draw(UINT vertexCount, UINT startVertex) override;
    HRESULT Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP type, UINT flags,
                D3D11_MAPPED_SUBRESOURCE* mapped) override;
    void Unmap(ID3D11Resource* resource, UINT subresource) override;
    void PSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) override;
    void IASetInputLayout(ID3D11InputLayout* layout) override;
    void IASetVertexBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers, const UINT* strides,
                            const UINT* offsets) override;
    void IASetIndexBuffer(ID3D11Buffer* buffer, DXGI_FORMAT format, UINT offset) override;
    void IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology) override;
    void OMSetRenderTargets(UINT count, ID3D11RenderTargetView* const* views,
                            ID3D11DepthStencilView* depth) override;
    void OMSetBlendState(ID3D11BlendState* state, const FLOAT factor[4], UINT sampleMask) override;
    void RSSetState(ID3D11RasterizerState* state) override;
    void RSSetViewports(UINT count, const D3D11_VIEWPORT* viewports) override;
    void RSSetScissorRects(UINT count, const D3D11_RECT* rects) override;
    void UpdateSubresource(ID3D11Resource* resource, UINT subresource, const D3D11_BOX* box, const void* data,
                           UINT rowPitch, UINT depthPitch) override;
    void ClearRenderTargetView(ID3D11RenderTargetView* view, const FLOAT color[4]) override;
    void ClearDepthStencilView(ID3D11DepthStencilView* view, UINT flags, FLOAT depth, UINT8 stencil) override;

    ULONG PublicCount() const { return refs_; }
    // Finishes the queued rasterisation: before anything reads or replaces what it draws into or
    // samples from (presenting, resizing, texture updates, test read-back, other targets).
    void Flush();

private:
    struct VertexStream {
        Bound<Buffer> buffer;
        UINT stride = 0;
        UINT offset = 0;
    };
    // `indices` null: vertex i of the draw is startVertex + i.
    void Run(UINT count, const uint32_t* indices, UINT startVertex);

    Device& device_;
    std::atomic<ULONG> refs_{0};

    Bound<InputLayout> layout_;
    VertexStream streams_[D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT];
    Bound<Buffer> indexBuffer_;
    DXGI_FORMAT indexFormat_ = DXGI_FORMAT_UNKNOWN;
    UINT indexOffset_ = 0;
    D3D11_PRIMITIVE_TOPOLOGY topology_ = D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED;
    Bound<VertexShader> vs_;
    Bound<PixelShader> ps_;
    Bound<Buffer> vsConstants_[D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT];
    Bound<Buffer> psConstants_[D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT];
    static constexpr int kTextureSlots = 16;
    Bound<ShaderResourceView> psViews_[kTextureSlots];
    Bound<SamplerState> psSamplers_[D3D11_COMMONSHADER_SAMPLER_SLOT_COUNT];
    Bound<RasterizerState> rasterizer_;
    Bound<BlendState> blend_;
    float blendFactor_[4] = {1, 1, 1, 1};
    Bound<RenderTargetView> targets_[D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT];
    Bound<DepthStencilView> depth_;
    std::vector<D3D11_VIEWPORT> viewports_;
    std::vector<D3D11_RECT> scissors_;
    std::vector<uint32_t> indexScratch_;
    // Triangle draws and clears of the bound targets wait here until something needs their result;
    // `held_` keeps the textures they touch alive until then (internal references).
    std::unique_ptr<RasterQueue> queue_;
    std::vector<Object*> held_;
    bool QueueOnBoundTargets();
    void Hold(Object* o);
};

// Flushes every device context; the test controls read textures directly.
void FlushAllContexts();

class Device final : public Com<ID3D11Device> {
public:
    explicit Device(D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0) : context_(*this), level_(level) {}

    HRESULT CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                         ID3D11Buffer** buffer) override;
    HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                            ID3D11Texture2D** texture) override;
    HRESULT CreateShaderResourceView(ID3D11Resource* resource, const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                     ID3D11ShaderResourceView** view) override;
    HRESULT CreateRenderTargetView(ID3D11Resource* resource, const D3D11_RENDER_TARGET_VIEW_DESC* desc,
                                   ID3D11RenderTargetView** view) override;
    HRESULT CreateDepthStencilView(ID3D11Resource* resource, const D3D11_DEPTH_STENCIL_VIEW_DESC* desc,
                                   ID3D11DepthStencilView** view) override;
    HRESULT CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count, const void* bytecode,
                              SIZE_T length, ID3D11InputLayout** layout) override;
    HRESULT CreateVertexShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage* linkage,
                               ID3D11VertexShader** shader) override;
    HRESULT CreatePixelShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage* linkage,
                              ID3D11PixelShader** shader) override;
    HRESULT CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** state) override;
    HRESULT CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc, ID3D11RasterizerState** state) override;
    HRESULT CreateSamplerState(const D3D11_SAMPLER_DESC* desc, ID3D11SamplerState** state) override;
    D3D_FEATURE_LEVEL GetFeatureLevel() override { return level_; }
    void GetImmediateContext(ID3D11DeviceContext** context) override;

    Context& ImmediateContext() { return context_; }
    // The device and its immediate context share one lifetime: called when either count drops.
    void MaybeDestroy();

protected:
    bool Implements(REFIID riid) const override;
    void Destroy() override { MaybeDestroy(); }

private:
    Context context_;
    D3D_FEATURE_LEVEL level_;
};

// ---- DXGI ------------------------------------------------------------------------------------------

class Output final : public Com<IDXGIOutput> {
public:
    HRESULT GetParent(REFIID riid, void** parent) override;
    HRESULT GetDisplayModeList(DXGI_FORMAT format, UINT flags, UINT* count, DXGI_MODE_DESC* desc) override;

protected:
    bool Implements(REFIID riid) const override;
};

class Factory;

class Adapter final : public Com<IDXGIAdapter> {
public:
    explicit Adapter(Factory* factory);
    ~Adapter() override;
    HRESULT GetParent(REFIID riid, void** parent) override;
    HRESULT EnumOutputs(UINT output, IDXGIOutput** out) override;
    HRESULT GetDesc(DXGI_ADAPTER_DESC* desc) override;

protected:
    bool Implements(REFIID riid) const override;

private:
    Factory* factory_;
};

class Factory final : public Com<IDXGIFactory> {
public:
    HRESULT GetParent(REFIID riid, void** parent) override;
    HRESULT MakeWindowAssociation(HWND window, UINT flags) override;
    HRESULT EnumAdapters(UINT adapter, IDXGIAdapter** out) override;

protected:
    bool Implements(REFIID riid) const override;
};

class SwapChain final : public Com<IDXGISwapChain> {
public:
    SwapChain(Device* device, const DXGI_SWAP_CHAIN_DESC& desc);
    ~SwapChain() override;
    HRESULT GetParent(REFIID riid, void** parent) override;
    HRESULT Present(UINT syncInterval, UINT flags) override;
    HRESULT GetBuffer(UINT buffer, REFIID riid, void** surface) override;
    HRESULT SetFullscreenState(BOOL fullscreen, IDXGIOutput* target) override;
    HRESULT GetFullscreenState(BOOL* fullscreen, IDXGIOutput** target) override;
    HRESULT GetDesc(DXGI_SWAP_CHAIN_DESC* desc) override;
    HRESULT ResizeBuffers(UINT count, UINT width, UINT height, DXGI_FORMAT format, UINT flags) override;
    HRESULT ResizeTarget(const DXGI_MODE_DESC* target) override;
    HRESULT GetContainingOutput(IDXGIOutput** output) override;

    // Replaces the back buffer with a new one of the described size.
    HRESULT MakeBackBuffer();

protected:
    bool Implements(REFIID riid) const override;

private:
    SDL_Window* Window() const { return reinterpret_cast<SDL_Window*>(desc_.OutputWindow); }
    // Copies the back buffer into the window.
    HRESULT Show();
    // Waits as vertical sync does: `syncInterval` refreshes after the previous present.
    void Pace(UINT syncInterval);

    Device* device_;
    DXGI_SWAP_CHAIN_DESC desc_;
    Texture2D* backBuffer_ = nullptr;
    // When the previous present was due; none before the first.
    std::optional<std::chrono::steady_clock::time_point> lastPresent_;
    // Where the window was before it was made to cover the display; none while it does not.
    struct Placement {
        int x, y, w, h;
    };
    std::optional<Placement> windowed_;
};

// ---- shared helpers --------------------------------------------------------------------------------

// A creation failure injected by the test controls for this call name, or S_OK.
HRESULT TakeInjectedFailure(const char* call);
// The call record of the test controls. Callers test Recording() first, so that an unrecorded run
// builds no argument lists.
bool Recording();
void RecordCall(const char* name, std::vector<double> args, const void* bytes = nullptr, size_t size = 0,
                std::string text = {});
inline double Addr(const void* p) {
    return double(reinterpret_cast<uintptr_t>(p));
}
#define D3D11SW_RECORD(...)                                                                                  \
    do {                                                                                                     \
        if (::d3d11sw::Recording()) ::d3d11sw::RecordCall(__VA_ARGS__);                                      \
    } while (0)
// The level that new devices are created at, at most.
D3D_FEATURE_LEVEL MaxFeatureLevel();
void CountDraw();
std::string StemOf(const std::string& path);
// Reports a problem of the caller's on standard error, as the platform's debug layer would.
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

Texture2D* AsTexture(ID3D11Resource* resource);
Buffer* AsBuffer(ID3D11Resource* resource);

} // namespace d3d11sw
