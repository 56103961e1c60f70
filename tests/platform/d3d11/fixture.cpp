#include "fixture.h"

#include <cstring>

namespace d3d11fixture {

Vertex MakeVertex(float x, float y, float z, float w, float u, float v) {
    Vertex out{};
    out.position[0] = x, out.position[1] = y, out.position[2] = z, out.position[3] = w;
    for (float& c : out.color)
        c = 1.0f;
    out.uv[0] = u, out.uv[1] = v;
    return out;
}

Matrix Identity() {
    Matrix m{};
    m[0] = m[5] = m[10] = m[15] = 1.0f;
    return m;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k)
                out[4 * c + r] += a[4 * k + r] * b[4 * c + k];
    return out;
}

Matrix Transpose(const Matrix& m) {
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * c + r] = m[4 * r + c];
    return out;
}

// Gauss-Jordan; the tests only invert well-conditioned matrices.
Matrix Inverse(const Matrix& m) {
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            a[r][c] = m[4 * c + r], a[r][4 + c] = r == c;
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        const double inv = 1.0 / a[c][c];
        for (double& v : a[c])
            v *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            const double f = a[r][c];
            for (int k = 0; k < 8; ++k)
                a[r][k] -= f * a[c][k];
        }
    }
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * c + r] = float(a[r][4 + c]);
    return out;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::string ShaderPath(const std::string& stem) {
    return std::string(TORVIK_D3D11_SHADER_DIR) + "/" + stem + ".fx";
}

Shader::~Shader() {
    if (vs) vs->Release();
    if (ps) ps->Release();
    if (layout) layout->Release();
}

void DeviceTest::SetUp() {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    window_ = SDL_CreateWindow("d3d11 test", 0, 0, kWidth, kHeight, 0);
    ASSERT_NE(window_, nullptr) << SDL_GetError();
    d3d11test::ClearInjectedFailures();
    DXGI_SWAP_CHAIN_DESC scd{};
    scd.BufferDesc = {kWidth,
                      kHeight,
                      {60, 1},
                      DXGI_FORMAT_R8G8B8A8_UNORM,
                      DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                      DXGI_MODE_SCALING_UNSPECIFIED};
    scd.SampleDesc = {1, 0};
    scd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    scd.BufferCount = 2;
    scd.OutputWindow = reinterpret_cast<HWND>(window_);
    scd.Windowed = FALSE;
    scd.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_3,
                                        D3D_FEATURE_LEVEL_9_2,  D3D_FEATURE_LEVEL_9_1};
    ASSERT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 6,
                                            D3D11_SDK_VERSION, &scd, &swapChain_, &device_, &level_,
                                            &context_),
              S_OK);
    D3D11_BUFFER_DESC cb{352, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ASSERT_EQ(device_->CreateBuffer(&cb, nullptr, &objectBuffer_), S_OK);
    LoadShader("camerashader", camera_);
}

void DeviceTest::TearDown() {
    if (camera_.vs) {
        camera_.vs->Release(), camera_.ps->Release(), camera_.layout->Release();
        camera_ = {};
    }
    if (objectBuffer_) objectBuffer_->Release();
    if (rtv_) rtv_->Release();
    if (dsv_) dsv_->Release();
    if (swapChain_) {
        swapChain_->SetFullscreenState(FALSE, nullptr);
        swapChain_->Release();
    }
    if (context_) context_->Release();
    if (device_) device_->Release();
    if (window_) SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    d3d11test::SetRasterThreads(0);
}

void DeviceTest::LoadShader(const std::string& stem, Shader& shader) {
    const std::wstring file = Wide(ShaderPath(stem));
    ID3D10Blob* vsBlob = nullptr;
    ID3D10Blob* psBlob = nullptr;
    ID3D10Blob* errors = nullptr;
    ASSERT_EQ(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "VS", "vs_5_0", 0x48010, 0, nullptr,
                                     &vsBlob, &errors, nullptr),
              S_OK);
    ASSERT_EQ(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "PS", "ps_5_0", 0x48010, 0, nullptr,
                                     &psBlob, &errors, nullptr),
              S_OK);
    EXPECT_EQ(
        device_->CreateVertexShader(vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), nullptr, &shader.vs),
        S_OK);
    EXPECT_EQ(
        device_->CreatePixelShader(psBlob->GetBufferPointer(), psBlob->GetBufferSize(), nullptr, &shader.ps),
        S_OK);
    const D3D11_INPUT_ELEMENT_DESC layout[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 32, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 44, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"BLENDINDICES", 0, DXGI_FORMAT_R32G32B32A32_UINT, 0, 52, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"BLENDWEIGHT", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 68, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXTUREINDEX", 0, DXGI_FORMAT_R32_UINT, 0, 84, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    EXPECT_EQ(device_->CreateInputLayout(layout, 7, vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(),
                                         &shader.layout),
              S_OK);
    vsBlob->Release();
    psBlob->Release();
}

ID3D11Buffer* DeviceTest::MakeBuffer(UINT bind, const void* data, UINT size) {
    D3D11_BUFFER_DESC desc{size, D3D11_USAGE_DEFAULT, bind, 0, 0, 0};
    D3D11_SUBRESOURCE_DATA init{data, 0, 0};
    ID3D11Buffer* b = nullptr;
    EXPECT_EQ(device_->CreateBuffer(&desc, &init, &b), S_OK);
    return b;
}

ID3D11ShaderResourceView* DeviceTest::MakeTexture(int w, int h, const std::vector<uint32_t>& pixels) {
    D3D11_TEXTURE2D_DESC desc{UINT(w),
                              UINT(h),
                              1,
                              1,
                              DXGI_FORMAT_R8G8B8A8_UNORM,
                              {1, 0},
                              D3D11_USAGE_DEFAULT,
                              D3D11_BIND_SHADER_RESOURCE,
                              0,
                              0};
    D3D11_SUBRESOURCE_DATA init{pixels.data(), UINT(w) * 4, 0};
    ID3D11Texture2D* tex = nullptr;
    EXPECT_EQ(device_->CreateTexture2D(&desc, &init, &tex), S_OK);
    ID3D11ShaderResourceView* view = nullptr;
    EXPECT_EQ(device_->CreateShaderResourceView(tex, nullptr, &view), S_OK);
    tex->Release();
    return view;
}

void DeviceTest::BindTarget(int w, int h) {
    if (rtv_) rtv_->Release();
    if (dsv_) dsv_->Release();
    D3D11_TEXTURE2D_DESC desc{UINT(w),
                              UINT(h),
                              1,
                              1,
                              DXGI_FORMAT_R8G8B8A8_UNORM,
                              {1, 0},
                              D3D11_USAGE_DEFAULT,
                              D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE,
                              0,
                              0};
    ID3D11Texture2D* colour = nullptr;
    ASSERT_EQ(device_->CreateTexture2D(&desc, nullptr, &colour), S_OK);
    ASSERT_EQ(device_->CreateRenderTargetView(colour, nullptr, &rtv_), S_OK);
    colour->Release();
    desc.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
    desc.BindFlags = D3D11_BIND_DEPTH_STENCIL;
    ID3D11Texture2D* depth = nullptr;
    ASSERT_EQ(device_->CreateTexture2D(&desc, nullptr, &depth), S_OK);
    ASSERT_EQ(device_->CreateDepthStencilView(depth, nullptr, &dsv_), S_OK);
    depth->Release();
    context_->OMSetRenderTargets(1, &rtv_, dsv_);
    const D3D11_VIEWPORT vp{0, 0, float(w), float(h), 0, 1};
    context_->RSSetViewports(1, &vp);
    const float black[4] = {0, 0, 0, 1};
    context_->ClearRenderTargetView(rtv_, black);
    context_->ClearDepthStencilView(dsv_, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
}

void DeviceTest::DrawFlat(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                          uint32_t rgba) {
    ID3D11Buffer* vb =
        MakeBuffer(D3D11_BIND_VERTEX_BUFFER, vertices.data(), UINT(vertices.size() * sizeof(Vertex)));
    ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, indices.data(), UINT(indices.size() * 4));
    ID3D11ShaderResourceView* tex = MakeTexture(1, 1, {rgba});
    const UINT stride = sizeof(Vertex), offset = 0;
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->IASetIndexBuffer(ib, DXGI_FORMAT_R32_UINT, 0);
    context_->IASetInputLayout(camera_.layout);
    context_->VSSetShader(camera_.vs, nullptr, 0);
    context_->PSSetShader(camera_.ps, nullptr, 0);
    float object[88] = {};
    const Matrix id = Identity();
    std::memcpy(object, id.data(), 64);
    context_->UpdateSubresource(objectBuffer_, 0, nullptr, object, 0, 0);
    context_->VSSetConstantBuffers(0, 1, &objectBuffer_);
    context_->PSSetShaderResources(0, 1, &tex);
    context_->DrawIndexed(UINT(indices.size()), 0, 0);
    tex->Release();
    vb->Release();
    ib->Release();
}

} // namespace d3d11fixture
