// The Direct3D 11 device: swap chain, depth buffer, pipeline states, constant buffers, display
// modes, the window-size and full-screen operations, cameras, lights and the frame's passes.
#pragma once

#include "iDevice.h"
#include "resources/Mesh.h"
#include "resources/ProceduralModels.h"

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

// A transparent mesh waiting for the transparent pass: drawn farthest first.
struct TransparentDrawRecord {
    Mesh mesh;
    Vectormath::Aos::Matrix4 combined;
    // Squared distance from the camera's object to the renderable's object.
    float key = 0.0f;
    Vectormath::Aos::Vector4 colour;
    float blendFactors[4] = {0, 0, 0, 0};
};

// A frustum plane: unit normal (a, b, c) pointing into the frustum and d, with a.x + b.y + c.z = d on it.
using Plane = float[4];

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
    void UpdateLightBuffer();
    static LightRecord& FillLightRecord(LightRecord& record, const Light* light);
    void BuildFrustum(const Camera* camera, Plane planes[6]);
    static void MakePlaneFromPoints(Plane out, const Vectormath::Aos::Vector3& p0,
                                    const Vectormath::Aos::Vector3& p1, const Vectormath::Aos::Vector3& p2);
    static bool AabbOutsideFrustum(const Plane planes[6], const Vectormath::Aos::Vector3& min,
                                   const Vectormath::Aos::Vector3& max);

    // Binds and uploads everything one mesh needs; the caller draws it. Always 1.
    int DrawMesh(Mesh& mesh);
    // The mesh a transparent record starts from before it takes the copy.
    static Mesh MakeEmptyMesh() { return Mesh(std::string()); }
    int DrawOpaqueObjects(const std::shared_ptr<Camera>& camera);
    int DrawTransparentObjects();
    int DrawDebugObjects(const std::shared_ptr<Camera>& camera);
    int DrawPlayerCamera(unsigned slot);
    int ProcessCameraBuffer(const CameraTarget& target);
    int RebuildCameraTarget(CameraTarget& target, unsigned width, unsigned height);
    int RebuildDepthTarget(CameraTarget& target, unsigned width, unsigned height);
    int RebuildColorTarget(CameraTarget& target, unsigned width, unsigned height);

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
    const D3D11_VIEWPORT& ViewportRecord(int index) const { return mViewports[index]; }
    const std::map<Camera*, CameraTarget>& CameraTargets() const { return mCameraTargets; }
    Camera* PlayerSlot(unsigned slot) const { return slot < 5 ? mPlayerSlots[slot] : nullptr; }
    CameraConstants& Constants() { return mConstants; }

private:
    // The depth/stencil texture of the back buffer and of every camera target.
    static D3D11_TEXTURE2D_DESC DepthDesc(unsigned width, unsigned height);
    void RegisterLightListeners(bool reg);
    void ReleaseTarget(CameraTarget& target);
    void SetProjection(const Camera& camera);
    void WriteObjectBuffer();
    void WriteMaterials(const Mesh& mesh, const Vectormath::Aos::Vector4& colour);
    void ReportFrame(const char* text, const char* function, int line);
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
    std::vector<TransparentDrawRecord> mTransparentQueue;
    std::vector<std::unique_ptr<DebugModel>> mDebugModels;
    Plane mFrustum[6] = {};
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
