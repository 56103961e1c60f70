// Display adapters, outputs, display modes and swap chains: the subset this program calls.
#pragma once

#include <d3dcommon.h>
#include <dxgiformat.h>

#define DXGI_ERROR_INVALID_CALL ((HRESULT)0x887A0001)
#define DXGI_ERROR_NOT_FOUND ((HRESULT)0x887A0002)
#define DXGI_ERROR_MORE_DATA ((HRESULT)0x887A0003)
#define DXGI_ERROR_DEVICE_REMOVED ((HRESULT)0x887A0005)

#define DXGI_USAGE_SHADER_INPUT 0x00000010u
#define DXGI_USAGE_RENDER_TARGET_OUTPUT 0x00000020u
#define DXGI_MWA_NO_WINDOW_CHANGES 1u
#define DXGI_MWA_NO_ALT_ENTER 2u
#define DXGI_MWA_NO_PRINT_SCREEN 4u
#define DXGI_ENUM_MODES_INTERLACED 1u
#define DXGI_ENUM_MODES_SCALING 2u

struct DXGI_RATIONAL {
    UINT Numerator;
    UINT Denominator;
};

enum DXGI_MODE_SCANLINE_ORDER {
    DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED = 0,
    DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE = 1,
};
enum DXGI_MODE_SCALING {
    DXGI_MODE_SCALING_UNSPECIFIED = 0,
    DXGI_MODE_SCALING_CENTERED = 1,
    DXGI_MODE_SCALING_STRETCHED = 2,
};
enum DXGI_SWAP_EFFECT {
    DXGI_SWAP_EFFECT_DISCARD = 0,
    DXGI_SWAP_EFFECT_SEQUENTIAL = 1,
};
enum DXGI_SWAP_CHAIN_FLAG {
    DXGI_SWAP_CHAIN_FLAG_NONPREROTATED = 1,
    DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH = 2,
};

struct DXGI_MODE_DESC {
    UINT Width;
    UINT Height;
    DXGI_RATIONAL RefreshRate;
    DXGI_FORMAT Format;
    DXGI_MODE_SCANLINE_ORDER ScanlineOrdering;
    DXGI_MODE_SCALING Scaling;
};

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

using DXGI_USAGE = UINT;

struct DXGI_SWAP_CHAIN_DESC {
    DXGI_MODE_DESC BufferDesc;
    DXGI_SAMPLE_DESC SampleDesc;
    DXGI_USAGE BufferUsage;
    UINT BufferCount;
    HWND OutputWindow;
    BOOL Windowed;
    DXGI_SWAP_EFFECT SwapEffect;
    UINT Flags;
};

struct DXGI_ADAPTER_DESC {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
};

struct IDXGIObject : IUnknown {
    virtual HRESULT GetParent(REFIID riid, void** parent) = 0;
};

struct IDXGIOutput : IDXGIObject {
    // Two-call form: with a null list only the count is written; a short list gets DXGI_ERROR_MORE_DATA.
    virtual HRESULT GetDisplayModeList(DXGI_FORMAT format, UINT flags, UINT* count, DXGI_MODE_DESC* desc) = 0;
};

struct IDXGIAdapter : IDXGIObject {
    virtual HRESULT EnumOutputs(UINT output, IDXGIOutput** out) = 0;
    virtual HRESULT GetDesc(DXGI_ADAPTER_DESC* desc) = 0;
};

struct IDXGIFactory : IDXGIObject {
    virtual HRESULT MakeWindowAssociation(HWND window, UINT flags) = 0;
    virtual HRESULT EnumAdapters(UINT adapter, IDXGIAdapter** out) = 0;
};

struct IDXGIDeviceSubObject : IDXGIObject {};

// The output window is the SDL window (an SDL_Window* passed as HWND); Present copies the back buffer
// into its window surface.
struct IDXGISwapChain : IDXGIDeviceSubObject {
    virtual HRESULT Present(UINT syncInterval, UINT flags) = 0;
    virtual HRESULT GetBuffer(UINT buffer, REFIID riid, void** surface) = 0;
    virtual HRESULT SetFullscreenState(BOOL fullscreen, IDXGIOutput* target) = 0;
    virtual HRESULT GetFullscreenState(BOOL* fullscreen, IDXGIOutput** target) = 0;
    virtual HRESULT GetDesc(DXGI_SWAP_CHAIN_DESC* desc) = 0;
    virtual HRESULT ResizeBuffers(UINT count, UINT width, UINT height, DXGI_FORMAT format, UINT flags) = 0;
    virtual HRESULT ResizeTarget(const DXGI_MODE_DESC* target) = 0;
    virtual HRESULT GetContainingOutput(IDXGIOutput** output) = 0;
};

extern const IID IID_IDXGIObject;
extern const IID IID_IDXGIFactory;
extern const IID IID_IDXGIAdapter;
extern const IID IID_IDXGIOutput;
extern const IID IID_IDXGISwapChain;
