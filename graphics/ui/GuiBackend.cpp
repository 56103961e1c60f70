#include "GuiBackend.h"

#include "GuiCompat.h"

#include <FloodWarning.h>
#include <imgui_internal.h>

#include <Engine.h>
#include <Messages.h>
#include <d3dx11.h>
#include <win32_paths.h>
#include <winuser.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

// Warnings as errors, optimisation level 3, column-major matrices.
constexpr UINT kCompileFlags = (1u << 18) | (1u << 15) | (1u << 4);

struct Owned {
    ID3D11Buffer* vertexBuffer = nullptr;
    ID3D11Buffer* indexBuffer = nullptr;
    ID3D11VertexShader* vertexShader = nullptr;
    ID3D11PixelShader* pixelShader = nullptr;
    ID3D11InputLayout* inputLayout = nullptr;
    ID3D11Buffer* constantBuffer = nullptr;
    ID3D11BlendState* blendState = nullptr;
    ID3D11SamplerState* fontSampler = nullptr;
    ID3D11ShaderResourceView* fontView = nullptr;
    ID3D11RenderTargetView* backBufferView = nullptr;
    unsigned vertexCapacity = 0;
    unsigned indexCapacity = 0;
    LONGLONG previousTicks = 0;
    std::string iniFile;
};

Owned& Objects() {
    static Owned owned;
    return owned;
}

template <typename T> void ReleaseAndClear(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

ID3D10Blob* Compile(const char* entry, const char* profile) {
    ID3D10Blob* blob = nullptr;
    ID3D10Blob* errors = nullptr;
    const HRESULT hr = D3DX11CompileFromFileW(kImGuiShaderFile, nullptr, nullptr, entry, profile,
                                              kCompileFlags, 0, nullptr, &blob, &errors, nullptr);
    if (errors) errors->Release();
    if (FAILED(hr)) {
        ReleaseAndClear(blob);
        return nullptr;
    }
    return blob;
}

bool MakeDynamicBuffer(UINT bytes, UINT bind, ID3D11Buffer*& buffer) {
    D3D11_BUFFER_DESC desc{};
    desc.ByteWidth = bytes;
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = bind;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return SUCCEEDED(GuiBackend().device->CreateBuffer(&desc, nullptr, &buffer));
}

// Makes room for a frame's vertices and indices; false when a buffer cannot be made.
bool Reserve(unsigned vertices, unsigned indices) {
    Owned& o = Objects();
    if (vertices > o.vertexCapacity || !o.vertexBuffer) {
        const unsigned capacity = std::max({vertices + 5000, o.vertexCapacity, kImGuiInitialVertices});
        ReleaseAndClear(o.vertexBuffer);
        o.vertexCapacity = 0;
        if (!MakeDynamicBuffer(capacity * sizeof(ImDrawVert), D3D11_BIND_VERTEX_BUFFER, o.vertexBuffer))
            return false;
        o.vertexCapacity = capacity;
    }
    if (indices > o.indexCapacity || !o.indexBuffer) {
        const unsigned capacity = std::max({indices + 10000, o.indexCapacity, kImGuiInitialVertices * 3});
        ReleaseAndClear(o.indexBuffer);
        o.indexCapacity = 0;
        if (!MakeDynamicBuffer(capacity * sizeof(ImDrawIdx), D3D11_BIND_INDEX_BUFFER, o.indexBuffer))
            return false;
        o.indexCapacity = capacity;
    }
    return true;
}

// The library reads an empty ini file past its end, so the settings are read here instead, and an
// empty or missing file leaves the defaults.
void LoadIniSettings(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty()) ImGui::LoadIniSettingsFromMemory(text.data(), text.size());
    GImGui->SettingsLoaded = true;
}

} // namespace

GuiBackendState& GuiBackend() {
    static GuiBackendState state;
    return state;
}

bool ImGuiInit() {
    static_assert(sizeof(ImDrawVert) == 20 && sizeof(ImDrawIdx) == 2, "the input layout and index format");
    LARGE_INTEGER now{};
    if (!QueryPerformanceCounter(&now)) return false;
    Owned& o = Objects();
    o.previousTicks = now.QuadPart;
    if (!gui::HasContext()) ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    o.iniFile = win32::NativePath(std::string(kImGuiIniFile));
    io.IniFilename = o.iniFile.c_str();
    LoadIniSettings(o.iniFile);
    io.LogFilename = kImGuiLogFile;
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    io.KeyMap[ImGuiKey_Tab] = VK_TAB;
    io.KeyMap[ImGuiKey_LeftArrow] = VK_LEFT;
    io.KeyMap[ImGuiKey_RightArrow] = VK_RIGHT;
    io.KeyMap[ImGuiKey_UpArrow] = VK_UP;
    io.KeyMap[ImGuiKey_DownArrow] = VK_DOWN;
    io.KeyMap[ImGuiKey_Home] = VK_HOME;
    io.KeyMap[ImGuiKey_End] = VK_END;
    io.KeyMap[ImGuiKey_Delete] = VK_DELETE;
    io.KeyMap[ImGuiKey_Backspace] = VK_BACK;
    io.KeyMap[ImGuiKey_Enter] = VK_RETURN;
    io.KeyMap[ImGuiKey_Escape] = VK_ESCAPE;
    // Keyboard navigation in the newer release refuses to run without an activation key.
    io.KeyMap[ImGuiKey_Space] = kImGuiActivateKeySlot;
    io.KeyMap[ImGuiKey_A] = 'A';
    io.KeyMap[ImGuiKey_C] = 'C';
    io.KeyMap[ImGuiKey_V] = 'V';
    io.KeyMap[ImGuiKey_X] = 'X';
    io.KeyMap[ImGuiKey_Y] = 'Y';
    io.KeyMap[ImGuiKey_Z] = 'Z';
    io.ImeWindowHandle = GuiBackend().window;
    // The library asserts on a frame without a built atlas, so it is built even when the device
    // objects never come to be.
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    // Warnings the game rules asked for before there was a GUI are not drawn a frame late.
    TakeFloodWarnings();
    return true;
}

void ImGuiNewFrame() {
    if (!gui::HasContext()) return;
    if (!Objects().vertexBuffer) ImGuiCreateDeviceObjects();
    ImGuiIO& io = ImGui::GetIO();
    const GuiBackendState& b = GuiBackend();
    RECT rect{};
    if (b.window && GetClientRect(b.window, &rect))
        io.DisplaySize = ImVec2(float(std::max<LONG>(0, rect.right - rect.left)),
                                float(std::max<LONG>(0, rect.bottom - rect.top)));
    else
        io.DisplaySize = ImVec2(0.0f, 0.0f);
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    Owned& o = Objects();
    const double elapsed =
        b.ticksPerSecond > 0 ? double(now.QuadPart - o.previousTicks) / double(b.ticksPerSecond) : 0.0;
    // The library asserts on a frame time of 0, which a clock that did not move gives.
    io.DeltaTime = std::max(float(elapsed), 1e-6f);
    o.previousTicks = now.QuadPart;
    io.KeyCtrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    io.KeyShift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    io.KeyAlt = (GetKeyState(VK_MENU) & 0x8000) != 0;
    ImGui::NewFrame();
    Engine::RelayMessage(std::make_shared<ImGuiReferenceMessage>(L"Graphics", &io));
}

bool ImGuiCreateDeviceObjects() {
    GuiBackendState& b = GuiBackend();
    if (!b.device || !gui::HasContext()) return false;
    Owned& o = Objects();
    // The font sampler marks a complete set; what a failed attempt left is released too, so a retry
    // never leaks it.
    if (o.fontSampler || o.vertexShader || o.inputLayout || o.constantBuffer || o.pixelShader || o.blendState)
        ImGuiInvalidateDeviceObjects();

    ID3D10Blob* vs = Compile("VS", "vs_5_0");
    if (!vs) return false;
    const HRESULT vsMade =
        b.device->CreateVertexShader(vs->GetBufferPointer(), vs->GetBufferSize(), nullptr, &o.vertexShader);
    const D3D11_INPUT_ELEMENT_DESC layout[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    const HRESULT layoutMade = FAILED(vsMade)
                                   ? vsMade
                                   : b.device->CreateInputLayout(layout, 3, vs->GetBufferPointer(),
                                                                 vs->GetBufferSize(), &o.inputLayout);
    vs->Release();
    if (FAILED(layoutMade)) return false;

    if (!MakeDynamicBuffer(64, D3D11_BIND_CONSTANT_BUFFER, o.constantBuffer)) return false;

    ID3D10Blob* ps = Compile("PS", "ps_5_0");
    if (!ps) return false;
    const HRESULT psMade =
        b.device->CreatePixelShader(ps->GetBufferPointer(), ps->GetBufferSize(), nullptr, &o.pixelShader);
    ps->Release();
    if (FAILED(psMade)) return false;

    D3D11_BLEND_DESC blend{};
    blend.AlphaToCoverageEnable = FALSE;
    blend.RenderTarget[0].BlendEnable = TRUE;
    blend.RenderTarget[0].SrcBlend = D3D11_BLEND_SRC_ALPHA;
    blend.RenderTarget[0].DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
    blend.RenderTarget[0].BlendOp = D3D11_BLEND_OP_ADD;
    blend.RenderTarget[0].SrcBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
    blend.RenderTarget[0].DestBlendAlpha = D3D11_BLEND_ZERO;
    blend.RenderTarget[0].BlendOpAlpha = D3D11_BLEND_OP_ADD;
    blend.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    if (FAILED(b.device->CreateBlendState(&blend, &o.blendState))) return false;

    // Indexed draw data: the vertex buffer with an index buffer beside it.
    if (!Reserve(kImGuiInitialVertices, kImGuiInitialVertices * 3)) return false;
    ImGuiCreateFontsTexture();
    return o.fontView && o.fontSampler;
}

void ImGuiCreateFontsTexture() {
    GuiBackendState& b = GuiBackend();
    Owned& o = Objects();
    ImGuiIO& io = ImGui::GetIO();
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);

    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = UINT(width);
    desc.Height = UINT(height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA data{};
    data.pSysMem = pixels;
    data.SysMemPitch = UINT(width) * 4;
    ID3D11Texture2D* texture = nullptr;
    if (SUCCEEDED(b.device->CreateTexture2D(&desc, &data, &texture))) {
        D3D11_SHADER_RESOURCE_VIEW_DESC view{};
        view.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
        view.Texture2D.MipLevels = 1;
        view.Texture2D.MostDetailedMip = 0;
        if (FAILED(b.device->CreateShaderResourceView(texture, &view, &o.fontView))) o.fontView = nullptr;
        texture->Release();
    }
    io.Fonts->SetTexID(static_cast<ImTextureID>(o.fontView));

    D3D11_SAMPLER_DESC sampler{};
    sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    sampler.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.ComparisonFunc = D3D11_COMPARISON_ALWAYS;
    sampler.MinLOD = 0.0f;
    sampler.MaxLOD = 0.0f;
    if (FAILED(b.device->CreateSamplerState(&sampler, &o.fontSampler))) o.fontSampler = nullptr;
}

void ImGuiInvalidateDeviceObjects() {
    if (!GuiBackend().device) return;
    Owned& o = Objects();
    if (o.fontSampler) ReleaseAndClear(o.fontSampler);
    if (o.fontView) {
        ReleaseAndClear(o.fontView);
        if (gui::HasContext()) ImGui::GetIO().Fonts->SetTexID(nullptr);
    }
    ReleaseAndClear(o.indexBuffer);
    ReleaseAndClear(o.vertexBuffer);
    o.vertexCapacity = o.indexCapacity = 0;
    ReleaseAndClear(o.blendState);
    ReleaseAndClear(o.pixelShader);
    ReleaseAndClear(o.constantBuffer);
    ReleaseAndClear(o.inputLayout);
    ReleaseAndClear(o.vertexShader);
    ReleaseAndClear(o.backBufferView);
}

void ImGuiRenderDrawLists(ImDrawData* drawData) {
    GuiBackendState& b = GuiBackend();
    Owned& o = Objects();
    if (!drawData || !b.context || !o.vertexBuffer || !o.constantBuffer || !o.vertexShader || !o.pixelShader)
        return;
    const float W = drawData->DisplaySize.x, H = drawData->DisplaySize.y;
    // A window without a client area: the projection would be degenerate and nothing is visible.
    if (!(W > 0.0f) || !(H > 0.0f) || drawData->TotalVtxCount <= 0) return;
    if (!Reserve(unsigned(drawData->TotalVtxCount), unsigned(drawData->TotalIdxCount))) return;

    D3D11_MAPPED_SUBRESOURCE vertices{}, indices{};
    if (FAILED(b.context->Map(o.vertexBuffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &vertices))) return;
    if (FAILED(b.context->Map(o.indexBuffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &indices))) {
        b.context->Unmap(o.vertexBuffer, 0);
        return;
    }
    auto* vertexOut = static_cast<ImDrawVert*>(vertices.pData);
    auto* indexOut = static_cast<ImDrawIdx*>(indices.pData);
    for (int n = 0; n < drawData->CmdListsCount; ++n) {
        const ImDrawList* list = drawData->CmdLists[n];
        std::memcpy(vertexOut, list->VtxBuffer.Data, size_t(list->VtxBuffer.Size) * sizeof(ImDrawVert));
        std::memcpy(indexOut, list->IdxBuffer.Data, size_t(list->IdxBuffer.Size) * sizeof(ImDrawIdx));
        vertexOut += list->VtxBuffer.Size;
        indexOut += list->IdxBuffer.Size;
    }
    b.context->Unmap(o.indexBuffer, 0);
    b.context->Unmap(o.vertexBuffer, 0);

    // Pixels from the draw data's origin map to the target's corners, depth 0.5.
    const float L = drawData->DisplayPos.x, T = drawData->DisplayPos.y;
    const float projection[16] = {
        2.0f / W, 0, 0, 0, 0, -2.0f / H, 0, 0, 0, 0, 0.5f, 0, -1.0f - 2.0f * L / W, 1.0f + 2.0f * T / H,
        0.5f,     1,
    };
    D3D11_MAPPED_SUBRESOURCE constants{};
    if (FAILED(b.context->Map(o.constantBuffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &constants))) return;
    std::memcpy(constants.pData, projection, sizeof projection);
    b.context->Unmap(o.constantBuffer, 0);

    const UINT stride = sizeof(ImDrawVert), offset = 0;
    b.context->IASetInputLayout(o.inputLayout);
    b.context->IASetVertexBuffers(0, 1, &o.vertexBuffer, &stride, &offset);
    b.context->IASetIndexBuffer(o.indexBuffer, DXGI_FORMAT_R16_UINT, 0);
    b.context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    b.context->VSSetShader(o.vertexShader, nullptr, 0);
    b.context->VSSetConstantBuffers(0, 1, &o.constantBuffer);
    b.context->PSSetShader(o.pixelShader, nullptr, 0);
    b.context->PSSetSamplers(0, 1, &o.fontSampler);
    const float blendFactor[4] = {0, 0, 0, 0};
    b.context->OMSetBlendState(o.blendState, blendFactor, 0xffffffff);
    // Scissor on, so that windows clip their contents to their command rectangles.
    D3D11_RASTERIZER_DESC raster{};
    raster.FillMode = D3D11_FILL_SOLID;
    raster.CullMode = D3D11_CULL_NONE;
    raster.ScissorEnable = TRUE;
    ID3D11RasterizerState* rasterState = nullptr;
    if (SUCCEEDED(b.device->CreateRasterizerState(&raster, &rasterState))) {
        b.context->RSSetState(rasterState);
        rasterState->Release();
    }

    UINT vertexBase = 0, indexBase = 0;
    for (int n = 0; n < drawData->CmdListsCount; ++n) {
        const ImDrawList* list = drawData->CmdLists[n];
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.UserCallback) {
                if (cmd.UserCallback != ImDrawCallback_ResetRenderState) cmd.UserCallback(list, &cmd);
                continue;
            }
            const float left = std::max(cmd.ClipRect.x - L, 0.0f), top = std::max(cmd.ClipRect.y - T, 0.0f);
            const float right = std::min(cmd.ClipRect.z - L, W), bottom = std::min(cmd.ClipRect.w - T, H);
            if (right <= left || bottom <= top || cmd.ElemCount == 0) continue;
            auto* texture = static_cast<ID3D11ShaderResourceView*>(cmd.TextureId);
            b.context->PSSetShaderResources(0, 1, &texture);
            const D3D11_RECT scissor{LONG(left), LONG(top), LONG(right), LONG(bottom)};
            b.context->RSSetScissorRects(1, &scissor);
            b.context->DrawIndexed(cmd.ElemCount, indexBase + cmd.IdxOffset, INT(vertexBase + cmd.VtxOffset));
        }
        vertexBase += UINT(list->VtxBuffer.Size);
        indexBase += UINT(list->IdxBuffer.Size);
    }
    b.context->IASetInputLayout(nullptr);
    b.context->VSSetShader(nullptr, nullptr, 0);
    b.context->PSSetShader(nullptr, nullptr, 0);
}

void ImGuiBindBackBuffer() {
    GuiBackendState& b = GuiBackend();
    Owned& o = Objects();
    ReleaseAndClear(o.backBufferView);
    if (!b.device || !b.context || !b.swapChain) return;
    ID3D11Texture2D* backBuffer = nullptr;
    if (FAILED(b.swapChain->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&backBuffer)))) return;
    if (FAILED(b.device->CreateRenderTargetView(backBuffer, nullptr, &o.backBufferView)))
        o.backBufferView = nullptr;
    backBuffer->Release();
    if (o.backBufferView) b.context->OMSetRenderTargets(1, &o.backBufferView, nullptr);
}

void ImGuiRenderFrame() {
    if (!gui::HasContext()) return;
    ImGui::Render();
    ImGuiRenderDrawLists(ImGui::GetDrawData());
}

void ImGuiReleaseBackBuffer() {
    ReleaseAndClear(Objects().backBufferView);
}

void ImGuiShutdown() {
    if (!gui::HasContext()) return;
    ImGui::DestroyContext();
}

void ImGuiResetGlobals() {
    GuiBackend() = GuiBackendState{};
    Owned& o = Objects();
    o.previousTicks = 0;
}
