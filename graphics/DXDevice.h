// The Direct3D 11 device: swap chain, depth buffer, pipeline states, constant buffers, display
// modes, the window-size and full-screen operations, cameras, lights and the frame's passes.
#pragma once

#include "iDevice.h"

#include <Message.h>
#include <d3d11.h>
#include <dxgi.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class GraphicsSystem;
class ResourceHub;

// A constant buffer: the Direct3D buffer and the CPU copy that the passes fill and upload.
template <std::size_t Bytes> struct ConstantBuffer {
    static_assert(Bytes % 16 == 0, "constant buffers are whole 16-byte registers");
    ID3D11Buffer* buffer = nullptr;
    alignas(16) std::array<std::uint8_t, Bytes> bytes{};
};

// The values DrawMesh copies into the ObjectBuffer.
struct CameraConstants {
    Vectormath::Aos::Matrix4 combined;
    Vectormath::Aos::Matrix4 world;
    Vectormath::Aos::Matrix4 view;
    Vectormath::Aos::Matrix4 projection;
    Vectormath::Aos::Vector4 cameraPosition;
    Vectormath::Aos::Vector4 cameraLookAt;
};

struct CameraTarget {
    D3D11_VIEWPORT viewport{};
    ID3D11RenderTargetView* renderTarget = nullptr;
    ID3D11DepthStencilView* depthStencil = nullptr;
    ID3D11ShaderResourceView* shaderResource = nullptr;
    ID3D11Texture2D* colour = nullptr;
};

// One 64-byte record of the LightingBuffer.
struct LightRecord {
    float diffuse[3];
    std::int32_t type;
    float specular[3];
    float intensity;
    float direction[3];
    float range;
    float falloff;
    float innerAngle;
    float outerAngle;
    std::uint32_t pad;
};
static_assert(sizeof(LightRecord) == 64);

class DXDevice : public iDevice {
public:
    static constexpr unsigned kStartWidth = 1600;
    static constexpr unsigned kStartHeight = 900;
    static constexpr std::size_t kObjectBufferBytes = 352;
    static constexpr std::size_t kMatrixBufferBytes = 208;
    static constexpr std::size_t kSkinnedBufferBytes = 12800;
    static constexpr std::size_t kLightingBufferBytes = 10256;
    static constexpr int kMaxLights = 128;
    static constexpr std::size_t kLightPositionsOffset = 8192;
    static constexpr std::size_t kAmbientOffset = 10240;
    static constexpr std::size_t kLightCountOffset = 10252;

    DXDevice(HWND window, HINSTANCE instance, GraphicsSystem* owner);
    ~DXDevice() override;
    DXDevice(const DXDevice&) = delete;
    DXDevice& operator=(const DXDevice&) = delete;

    bool InitDevice() override;
    bool InitIDXGIFactory(void* unused);
    bool InitPipeline(ResourceHub* hub) override;
    bool UpdateScene() override;
    int Render() override;
    int RenderCameras() override;
    int ComposeViewports() override;
    int ReleaseDevice() override;
    bool IsFullscreen() override { return mFullscreen; }
    bool SetFullscreen(bool fullscreen) override;
    int GetWidth() override { return int(mWidth); }
    int GetHeight() override { return int(mHeight); }
    void SetBackgroundColor(const Vectormath::Aos::Vector3& color) override;
    int ToggleFullscreen() override;
    int NoOpTrueWithArgs(int, int, int, int, int, int) override { return 1; }
    int NoOpTrue() override { return 1; }
    int Present() override;
    float GetAspectRatio() override { return 16.0f / 9.0f; }
    Vectormath::Aos::Vector4 GetZeroVector() override { return {0, 0, 0, 0}; }
    Vectormath::Aos::Vector4 GetZeroVector2() override { return GetZeroVector(); }
    void AddRenderable(const std::shared_ptr<Renderable>& renderable) override;
    void AddDebugObject(const std::shared_ptr<Debug>& debug) override;
    void RemoveRenderable(const std::shared_ptr<Renderable>& renderable) override;
    void RemoveDebugObject(const std::shared_ptr<Debug>& debug) override;
    int AddCamera(const std::shared_ptr<Camera>& camera) override;
    void RemoveCamera(const std::shared_ptr<Camera>& camera) override;
    int Resize(unsigned width, unsigned height) override;
    void SetPlayerCamera(const std::shared_ptr<Camera>& camera, unsigned player) override;
    void SetPlayerCount(unsigned count) override;
    const D3D11_VIEWPORT* GetPlayerViewport(unsigned player) override;

    bool ResizeRenderTargetView(unsigned width, unsigned height);
    bool ResizeDepthBuffer(unsigned width, unsigned height);
    int SwitchToLargestDisplayMode();
    int RestoreWindowSize();
    void LayoutViewports(unsigned width, unsigned height);
    void UpdateViewports();
    void SetFullWindowViewport();

    void OnLightCreated(const std::shared_ptr<Message>& message);
    void OnLightDestroyed(const std::shared_ptr<Message>& message);

    // Prints the system's text of the result on standard output, one line.
    static void PrintHResult(HRESULT result);

    D3D_FEATURE_LEVEL GetFeatureLevel() const { return mFeatureLevel; }
    HWND GetWindow() const { return mWindow; }
    ID3D11Device* GetD3DDevice() const { return mDevice; }
    ID3D11DeviceContext* GetContext() const { return mContext; }
    IDXGISwapChain* GetSwapChain() const { return mSwapChain; }
    const float* GetBackgroundColor() const { return mBackground; }
    const std::vector<DXGI_MODE_DESC>& GetDisplayModes() const { return mDisplayModes; }
    unsigned GetVideoMemoryMiB() const { return mVideoMemoryMiB; }
    const char* GetVideoCardName() const { return mVideoCardName; }
    const std::uint8_t* MatrixBufferBytes() const { return mMatrixBuffer.bytes.data(); }
    const std::uint8_t* LightingBufferBytes() const { return mLightingBuffer.bytes.data(); }
    std::size_t LightCount() const { return mLights.size(); }

private:
    void RegisterLightListeners(bool reg);
    void ReportInit(const char* text, const char* function, int line);

    bool mFullscreen = true;
    CameraConstants mConstants;
    std::map<Camera*, CameraTarget> mCameraTargets;
    unsigned mWidth = 0;
    unsigned mHeight = 0;
    D3D_FEATURE_LEVEL mFeatureLevel = D3D_FEATURE_LEVEL_9_1;
    HWND mWindow;
    HINSTANCE mInstance;
    IDXGISwapChain* mSwapChain = nullptr;
    ID3D11Device* mDevice = nullptr;
    ID3D11DeviceContext* mContext = nullptr;
    ID3D11RenderTargetView* mBackBufferView = nullptr;
    ID3D11DepthStencilView* mDepthView = nullptr;
    D3D11_VIEWPORT mViewports[11]{};
    ID3D11BlendState* mBlendState = nullptr;
    ID3D11RasterizerState* mNoCullState = nullptr;
    ID3D11RasterizerState* mCullState = nullptr;
    ConstantBuffer<kObjectBufferBytes> mObjectBuffer;
    ConstantBuffer<kMatrixBufferBytes> mMatrixBuffer;
    ConstantBuffer<kSkinnedBufferBytes> mSkinnedBuffer;
    ConstantBuffer<kLightingBufferBytes> mLightingBuffer;
    std::vector<std::weak_ptr<Light>> mLights;
    IDXGIFactory* mFactory = nullptr;
    IDXGIAdapter* mAdapter = nullptr;
    IDXGIOutput* mOutput = nullptr;
    std::vector<DXGI_MODE_DESC> mDisplayModes;
    DXGI_ADAPTER_DESC mVideoCard{};
    unsigned mVideoMemoryMiB = 0;
    char mVideoCardName[128]{};
    ResourceHub* mHub = nullptr;
    float mBackground[3] = {0, 0, 0};
    GraphicsSystem* mOwner;
    Camera* mPlayerSlots[5] = {};
};
