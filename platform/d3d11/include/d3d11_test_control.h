// Controls of the graphics stand-in for tests and benchmarks only: read back targets, count draws,
// make the next call of a kind fail, record the calls made, count live objects, choose the device's
// feature level and how many threads rasterise.
#pragma once

#include <d3d11.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d3d11test {

// Packed RGBA8, red in the low byte.
constexpr uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return r | g << 8 | b << 16 | a << 24;
}

// Copies a colour texture (a back buffer, a camera target); false for anything else.
bool ReadPixels(ID3D11Resource* resource, std::vector<uint32_t>& pixels, int& width, int& height);
// One texel of the view's texture; 0 outside it.
uint32_t ReadPixel(ID3D11View* view, int x, int y);
// Stored depth (0..1); -1 outside the target.
float ReadDepth(ID3D11DepthStencilView* view, int x, int y);

// Draw calls that reached the rasteriser since the last reset.
unsigned DrawCount();
void ResetDrawCount();

// The next call named `call` fails with `result`. Names are the calls' own: "CreateBuffer",
// "CreateTexture2D", "CreateRenderTargetView", "CreateDepthStencilView", "CreateShaderResourceView",
// "CreateVertexShader", "CreatePixelShader", "CreateInputLayout", "CreateBlendState",
// "CreateRasterizerState", "CreateSamplerState", "D3D11CreateDeviceAndSwapChain", "GetParent", "GetBuffer",
// "EnumAdapters", "EnumOutputs", "GetDisplayModeList", "GetDesc", "MakeWindowAssociation", "Present",
// "ResizeBuffers", "ResizeTarget", "SetFullscreenState", "GetContainingOutput".
void FailNextCall(const char* call, HRESULT result);
// The nth call of that name from now (1 = the next) fails; the ones before it succeed.
void FailNthCall(const char* call, unsigned nth, HRESULT result);
void ClearInjectedFailures();

// One call into the stand-in, as its caller made it. `args` holds the call's numeric arguments in
// order (integers, floats, and objects as their addresses, 0 for null; descriptions field by field);
// `bytes` the data it handed over (initial data, UpdateSubresource); `text` file names and semantics.
struct Call {
    std::string name;
    std::vector<double> args;
    std::vector<uint8_t> bytes;
    std::string text;
};
// Starting a record drops the previous one. The record lists device, context and DXGI calls, D3DX file
// reads, and "SwapChainDestroyed" when a swap chain goes.
void RecordCalls(bool record);
std::vector<Call> TakeCalls();
// Direct3D, DXGI and D3DX objects that exist now (devices, swap chains, views, buffers, blobs, ...).
std::size_t LiveObjects();
// The one level devices are created at (11_0 by default), as a card whose best level it is: a
// request list must name it.
void SetMaxFeatureLevel(D3D_FEATURE_LEVEL level);

// True forces the plain per-pixel path where vector kernels would run (tests compare the two);
// VectorKernels tells whether this processor runs them at all.
void SetPlainKernels(bool plain);
bool VectorKernels();

// 0 = every hardware thread (the default); 1 = rasterise on the calling thread only.
void SetRasterThreads(unsigned count);
unsigned RasterThreads();

} // namespace d3d11test
