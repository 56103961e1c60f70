// Direct3D 11 device, immediate context and resources: the subset this program calls, run by a CPU
// rasteriser (formats: R8G8B8A8_UNORM colour, D24_UNORM_S8_UINT depth; one mip level, one sample).
#pragma once

#include <d3dcommon.h>
#include <dxgi.h>

#define D3D11_SDK_VERSION 7
#define D3D11_ERROR_FILE_NOT_FOUND ((HRESULT)0x887C0002)
#define D3D11_FLOAT32_MAX 3.402823466e+38f
#define D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT 8
#define D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT 14
#define D3D11_COMMONSHADER_INPUT_RESOURCE_SLOT_COUNT 128
#define D3D11_COMMONSHADER_SAMPLER_SLOT_COUNT 16
#define D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT 32
#define D3D11_VIEWPORT_AND_SCISSORRECT_OBJECT_COUNT_PER_PIPELINE 16
#define D3D11_APPEND_ALIGNED_ELEMENT 0xffffffffu
#define D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION 16384u

enum D3D11_USAGE {
    D3D11_USAGE_DEFAULT = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC = 2,
    D3D11_USAGE_STAGING = 3,
};

enum D3D11_BIND_FLAG {
    D3D11_BIND_VERTEX_BUFFER = 0x1,
    D3D11_BIND_INDEX_BUFFER = 0x2,
    D3D11_BIND_CONSTANT_BUFFER = 0x4,
    D3D11_BIND_SHADER_RESOURCE = 0x8,
    D3D11_BIND_RENDER_TARGET = 0x20,
    D3D11_BIND_DEPTH_STENCIL = 0x40,
};

enum D3D11_CPU_ACCESS_FLAG {
    D3D11_CPU_ACCESS_WRITE = 0x10000,
    D3D11_CPU_ACCESS_READ = 0x20000,
};

enum D3D11_MAP {
    D3D11_MAP_READ = 1,
    D3D11_MAP_WRITE = 2,
    D3D11_MAP_READ_WRITE = 3,
    D3D11_MAP_WRITE_DISCARD = 4,
    D3D11_MAP_WRITE_NO_OVERWRITE = 5,
};

enum D3D11_CLEAR_FLAG {
    D3D11_CLEAR_DEPTH = 0x1,
    D3D11_CLEAR_STENCIL = 0x2,
};

enum D3D11_FILL_MODE {
    D3D11_FILL_WIREFRAME = 2,
    D3D11_FILL_SOLID = 3,
};

enum D3D11_CULL_MODE {
    D3D11_CULL_NONE = 1,
    D3D11_CULL_FRONT = 2,
    D3D11_CULL_BACK = 3,
};

enum D3D11_BLEND {
    D3D11_BLEND_ZERO = 1,
    D3D11_BLEND_ONE = 2,
    D3D11_BLEND_SRC_COLOR = 3,
    D3D11_BLEND_INV_SRC_COLOR = 4,
    D3D11_BLEND_SRC_ALPHA = 5,
    D3D11_BLEND_INV_SRC_ALPHA = 6,
    D3D11_BLEND_DEST_ALPHA = 7,
    D3D11_BLEND_INV_DEST_ALPHA = 8,
    D3D11_BLEND_DEST_COLOR = 9,
    D3D11_BLEND_INV_DEST_COLOR = 10,
    D3D11_BLEND_SRC_ALPHA_SAT = 11,
    D3D11_BLEND_BLEND_FACTOR = 14,
    D3D11_BLEND_INV_BLEND_FACTOR = 15,
};

enum D3D11_BLEND_OP {
    D3D11_BLEND_OP_ADD = 1,
    D3D11_BLEND_OP_SUBTRACT = 2,
    D3D11_BLEND_OP_REV_SUBTRACT = 3,
    D3D11_BLEND_OP_MIN = 4,
    D3D11_BLEND_OP_MAX = 5,
};

enum D3D11_COLOR_WRITE_ENABLE {
    D3D11_COLOR_WRITE_ENABLE_RED = 1,
    D3D11_COLOR_WRITE_ENABLE_GREEN = 2,
    D3D11_COLOR_WRITE_ENABLE_BLUE = 4,
    D3D11_COLOR_WRITE_ENABLE_ALPHA = 8,
    D3D11_COLOR_WRITE_ENABLE_ALL = 15,
};

enum D3D11_FILTER {
    D3D11_FILTER_MIN_MAG_MIP_POINT = 0,
    D3D11_FILTER_MIN_MAG_MIP_LINEAR = 0x15,
};

enum D3D11_TEXTURE_ADDRESS_MODE {
    D3D11_TEXTURE_ADDRESS_WRAP = 1,
    D3D11_TEXTURE_ADDRESS_MIRROR = 2,
    D3D11_TEXTURE_ADDRESS_CLAMP = 3,
    D3D11_TEXTURE_ADDRESS_BORDER = 4,
};

enum D3D11_COMPARISON_FUNC {
    D3D11_COMPARISON_NEVER = 1,
    D3D11_COMPARISON_LESS = 2,
    D3D11_COMPARISON_EQUAL = 3,
    D3D11_COMPARISON_LESS_EQUAL = 4,
    D3D11_COMPARISON_GREATER = 5,
    D3D11_COMPARISON_NOT_EQUAL = 6,
    D3D11_COMPARISON_GREATER_EQUAL = 7,
    D3D11_COMPARISON_ALWAYS = 8,
};

enum D3D11_INPUT_CLASSIFICATION {
    D3D11_INPUT_PER_VERTEX_DATA = 0,
    D3D11_INPUT_PER_INSTANCE_DATA = 1,
};

enum D3D11_RTV_DIMENSION { D3D11_RTV_DIMENSION_TEXTURE2D = 4 };
enum D3D11_DSV_DIMENSION { D3D11_DSV_DIMENSION_TEXTURE2D = 3 };
enum D3D11_SRV_DIMENSION { D3D11_SRV_DIMENSION_TEXTURE2D = 4 };
using D3D_SRV_DIMENSION = D3D11_SRV_DIMENSION;
#define D3D_SRV_DIMENSION_TEXTURE2D D3D11_SRV_DIMENSION_TEXTURE2D

struct D3D11_BUFFER_DESC {
    UINT ByteWidth;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
    UINT StructureByteStride;
};

struct D3D11_SUBRESOURCE_DATA {
    const void* pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

struct D3D11_MAPPED_SUBRESOURCE {
    void* pData;
    UINT RowPitch;
    UINT DepthPitch;
};

struct D3D11_BOX {
    UINT left, top, front, right, bottom, back;
};

struct D3D11_TEXTURE2D_DESC {
    UINT Width;
    UINT Height;
    UINT MipLevels;
    UINT ArraySize;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
};

struct D3D11_TEX2D_RTV {
    UINT MipSlice;
};
struct D3D11_RENDER_TARGET_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_RTV_DIMENSION ViewDimension;
    union {
        D3D11_TEX2D_RTV Texture2D;
    };
};

struct D3D11_TEX2D_DSV {
    UINT MipSlice;
};
struct D3D11_DEPTH_STENCIL_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_DSV_DIMENSION ViewDimension;
    UINT Flags;
    union {
        D3D11_TEX2D_DSV Texture2D;
    };
};

struct D3D11_TEX2D_SRV {
    UINT MostDetailedMip;
    UINT MipLevels;
};
struct D3D11_SHADER_RESOURCE_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_SRV_DIMENSION ViewDimension;
    union {
        D3D11_TEX2D_SRV Texture2D;
    };
};

struct D3D11_INPUT_ELEMENT_DESC {
    LPCSTR SemanticName;
    UINT SemanticIndex;
    DXGI_FORMAT Format;
    UINT InputSlot;
    UINT AlignedByteOffset;
    D3D11_INPUT_CLASSIFICATION InputSlotClass;
    UINT InstanceDataStepRate;
};

struct D3D11_RENDER_TARGET_BLEND_DESC {
    BOOL BlendEnable;
    D3D11_BLEND SrcBlend;
    D3D11_BLEND DestBlend;
    D3D11_BLEND_OP BlendOp;
    D3D11_BLEND SrcBlendAlpha;
    D3D11_BLEND DestBlendAlpha;
    D3D11_BLEND_OP BlendOpAlpha;
    UINT8 RenderTargetWriteMask;
};

struct D3D11_BLEND_DESC {
    BOOL AlphaToCoverageEnable;
    BOOL IndependentBlendEnable;
    D3D11_RENDER_TARGET_BLEND_DESC RenderTarget[8];
};

struct D3D11_RASTERIZER_DESC {
    D3D11_FILL_MODE FillMode;
    D3D11_CULL_MODE CullMode;
    BOOL FrontCounterClockwise;
    INT DepthBias;
    FLOAT DepthBiasClamp;
    FLOAT SlopeScaledDepthBias;
    BOOL DepthClipEnable;
    BOOL ScissorEnable;
    BOOL MultisampleEnable;
    BOOL AntialiasedLineEnable;
};

struct D3D11_SAMPLER_DESC {
    D3D11_FILTER Filter;
    D3D11_TEXTURE_ADDRESS_MODE AddressU;
    D3D11_TEXTURE_ADDRESS_MODE AddressV;
    D3D11_TEXTURE_ADDRESS_MODE AddressW;
    FLOAT MipLODBias;
    UINT MaxAnisotropy;
    D3D11_COMPARISON_FUNC ComparisonFunc;
    FLOAT BorderColor[4];
    FLOAT MinLOD;
    FLOAT MaxLOD;
};

struct D3D11_VIEWPORT {
    FLOAT TopLeftX;
    FLOAT TopLeftY;
    FLOAT Width;
    FLOAT Height;
    FLOAT MinDepth;
    FLOAT MaxDepth;
};
using D3D11_RECT = RECT;

struct ID3D11Device;
struct ID3D11ClassLinkage;
struct ID3D11ClassInstance;

struct ID3D11DeviceChild : IUnknown {};

struct ID3D11Resource : ID3D11DeviceChild {};

struct ID3D11Buffer : ID3D11Resource {
    virtual void GetDesc(D3D11_BUFFER_DESC* desc) = 0;
};

struct ID3D11Texture2D : ID3D11Resource {
    virtual void GetDesc(D3D11_TEXTURE2D_DESC* desc) = 0;
};

struct ID3D11View : ID3D11DeviceChild {
    // Adds a reference to the viewed resource, as the platform does.
    virtual void GetResource(ID3D11Resource** resource) = 0;
};
struct ID3D11RenderTargetView : ID3D11View {};
struct ID3D11DepthStencilView : ID3D11View {};
struct ID3D11ShaderResourceView : ID3D11View {};

struct ID3D11VertexShader : ID3D11DeviceChild {};
struct ID3D11PixelShader : ID3D11DeviceChild {};
struct ID3D11InputLayout : ID3D11DeviceChild {};
struct ID3D11BlendState : ID3D11DeviceChild {};
struct ID3D11RasterizerState : ID3D11DeviceChild {};
struct ID3D11SamplerState : ID3D11DeviceChild {};

struct ID3D11DeviceContext : ID3D11DeviceChild {
    virtual void VSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) = 0;
    virtual void PSSetShaderResources(UINT start, UINT count, ID3D11ShaderResourceView* const* views) = 0;
    virtual void PSSetShader(ID3D11PixelShader* shader, ID3D11ClassInstance* const* instances,
                             UINT count) = 0;
    virtual void PSSetSamplers(UINT start, UINT count, ID3D11SamplerState* const* samplers) = 0;
    virtual void VSSetShader(ID3D11VertexShader* shader, ID3D11ClassInstance* const* instances,
                             UINT count) = 0;
    virtual void DrawIndexed(UINT indexCount, UINT startIndex, INT baseVertex) = 0;
    virtual void Draw(UINT vertexCount, UINT startVertex) = 0;
    virtual HRESULT Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP type, UINT flags,
                        D3D11_MAPPED_SUBRESOURCE* mapped) = 0;
    virtual void Unmap(ID3D11Resource* resource, UINT subresource) = 0;
    virtual void PSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) = 0;
    virtual void IASetInputLayout(ID3D11InputLayout* layout) = 0;
    virtual void IASetVertexBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers, const UINT* strides,
                                    const UINT* offsets) = 0;
    virtual void IASetIndexBuffer(ID3D11Buffer* buffer, DXGI_FORMAT format, UINT offset) = 0;
    virtual void IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology) = 0;
    virtual void OMSetRenderTargets(UINT count, ID3D11RenderTargetView* const* views,
                                    ID3D11DepthStencilView* depth) = 0;
    virtual void OMSetBlendState(ID3D11BlendState* state, const FLOAT factor[4], UINT sampleMask) = 0;
    virtual void RSSetState(ID3D11RasterizerState* state) = 0;
    virtual void RSSetViewports(UINT count, const D3D11_VIEWPORT* viewports) = 0;
    virtual void RSSetScissorRects(UINT count, const D3D11_RECT* rects) = 0;
    virtual void UpdateSubresource(ID3D11Resource* resource, UINT subresource, const D3D11_BOX* box,
                                   const void* data, UINT rowPitch, UINT depthPitch) = 0;
    virtual void ClearRenderTargetView(ID3D11RenderTargetView* view, const FLOAT color[4]) = 0;
    virtual void ClearDepthStencilView(ID3D11DepthStencilView* view, UINT flags, FLOAT depth,
                                       UINT8 stencil) = 0;
};

struct ID3D11Device : IUnknown {
    virtual HRESULT CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                                 ID3D11Buffer** buffer) = 0;
    virtual HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* initial,
                                    ID3D11Texture2D** texture) = 0;
    virtual HRESULT CreateShaderResourceView(ID3D11Resource* resource,
                                             const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                             ID3D11ShaderResourceView** view) = 0;
    virtual HRESULT CreateRenderTargetView(ID3D11Resource* resource,
                                           const D3D11_RENDER_TARGET_VIEW_DESC* desc,
                                           ID3D11RenderTargetView** view) = 0;
    virtual HRESULT CreateDepthStencilView(ID3D11Resource* resource,
                                           const D3D11_DEPTH_STENCIL_VIEW_DESC* desc,
                                           ID3D11DepthStencilView** view) = 0;
    virtual HRESULT CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count,
                                      const void* shaderBytecode, SIZE_T bytecodeLength,
                                      ID3D11InputLayout** layout) = 0;
    virtual HRESULT CreateVertexShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage* linkage,
                                       ID3D11VertexShader** shader) = 0;
    virtual HRESULT CreatePixelShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage* linkage,
                                      ID3D11PixelShader** shader) = 0;
    virtual HRESULT CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** state) = 0;
    virtual HRESULT CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc,
                                          ID3D11RasterizerState** state) = 0;
    virtual HRESULT CreateSamplerState(const D3D11_SAMPLER_DESC* desc, ID3D11SamplerState** state) = 0;
    virtual D3D_FEATURE_LEVEL GetFeatureLevel() = 0;
    virtual void GetImmediateContext(ID3D11DeviceContext** context) = 0;
};

extern const IID IID_ID3D11Device;
extern const IID IID_ID3D11DeviceContext;
extern const IID IID_ID3D11Resource;
extern const IID IID_ID3D11Buffer;
extern const IID IID_ID3D11Texture2D;

HRESULT D3D11CreateDeviceAndSwapChain(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software,
                                      UINT flags, const D3D_FEATURE_LEVEL* featureLevels, UINT levelCount,
                                      UINT sdkVersion, const DXGI_SWAP_CHAIN_DESC* swapChainDesc,
                                      IDXGISwapChain** swapChain, ID3D11Device** device,
                                      D3D_FEATURE_LEVEL* featureLevel, ID3D11DeviceContext** context);
