#include "fixture.h"

#include <cstring>

namespace d3d11fixture {

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

void DeviceTest::SetUp() {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    window_ = SDL_CreateWindow("d3d11 test", 0, 0, kWidth, kHeight, 0);
    ASSERT_NE(window_, nullptr) << SDL_GetError();
    d3d11test::ClearInjectedFailures();
    DXGI_SWAP_CHAIN_DESC scd = d3d11scene::SwapChainDesc(window_, kWidth, kHeight, false);
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
    camera_.Release();
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
    ASSERT_EQ(d3d11scene::LoadProgram(device_, stem, shader), S_OK) << stem;
}

ID3D11Buffer* DeviceTest::MakeBuffer(UINT bind, const void* data, UINT size) {
    ID3D11Buffer* b = d3d11scene::MakeBuffer(device_, bind, data, size);
    EXPECT_NE(b, nullptr);
    return b;
}

ID3D11ShaderResourceView* DeviceTest::MakeTexture(int w, int h, const std::vector<uint32_t>& pixels) {
    ID3D11ShaderResourceView* view = d3d11scene::MakeTexture(device_, w, h, pixels);
    EXPECT_NE(view, nullptr);
    return view;
}

void DeviceTest::BindTarget(int w, int h) {
    if (rtv_) rtv_->Release();
    if (dsv_) dsv_->Release();
    d3d11scene::Target target;
    const HRESULT made = d3d11scene::MakeTarget(device_, UINT(w), UINT(h), target);
    rtv_ = target.rtv, dsv_ = target.dsv;
    if (target.srv) target.srv->Release();
    ASSERT_EQ(made, S_OK);
    context_->OMSetRenderTargets(1, &rtv_, dsv_);
    const D3D11_VIEWPORT vp{0, 0, float(w), float(h), 0, 1};
    context_->RSSetViewports(1, &vp);
    const float black[4] = {0, 0, 0, 1};
    context_->ClearRenderTargetView(rtv_, black);
    context_->ClearDepthStencilView(dsv_, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
}

void DeviceTest::DrawCamera(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                            ID3D11ShaderResourceView* texture, ID3D11SamplerState* sampler) {
    ID3D11Buffer* vb =
        MakeBuffer(D3D11_BIND_VERTEX_BUFFER, vertices.data(), UINT(vertices.size() * sizeof(Vertex)));
    ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, indices.data(), UINT(indices.size() * 4));
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
    context_->PSSetShaderResources(0, 1, &texture);
    if (sampler) context_->PSSetSamplers(0, 1, &sampler);
    context_->DrawIndexed(UINT(indices.size()), 0, 0);
    vb->Release();
    ib->Release();
}

void DeviceTest::DrawFlat(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                          uint32_t rgba) {
    ID3D11ShaderResourceView* tex = MakeTexture(1, 1, {rgba});
    DrawCamera(vertices, indices, tex, nullptr);
    tex->Release();
}

} // namespace d3d11fixture
