#include "fixture.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

extern "C" int stbi_write_png(const char* filename, int w, int h, int comp, const void* data, int stride);
extern "C" int stbi_write_bmp(const char* filename, int w, int h, int comp, const void* data);

using namespace d3d11fixture;
using d3d11test::Rgba;

namespace {

class Shaders : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ("d3d11_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        DeviceTest::TearDown();
    }
    std::string Write(const std::string& name, const std::string& text) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    HRESULT Compile(const std::string& path, const char* entry, const char* profile, ID3D10Blob** code,
                    ID3D10Blob** errors) {
        const std::wstring wide = Wide(path);
        return D3DX11CompileFromFileW(wide.c_str(), nullptr, nullptr, entry, profile, 0x48010, 0, nullptr,
                                      code, errors, nullptr);
    }
    std::filesystem::path dir_;
};

TEST_F(Shaders, CompileReportsMissingFilesAndEntryPoints) {
    ID3D10Blob* code = reinterpret_cast<ID3D10Blob*>(1);
    ID3D10Blob* errors = reinterpret_cast<ID3D10Blob*>(1);
    EXPECT_TRUE(FAILED(Compile((dir_ / "nothing.fx").string(), "VS", "vs_5_0", &code, &errors)));
    EXPECT_EQ(code, nullptr);
    EXPECT_EQ(errors, nullptr);

    const std::string onlyVs =
        Write("defaultshader.fx", "float4 VS(float4 p : POSITION) : SV_POSITION { return p; }\n"
                                  "// PS is only mentioned here, PSX(\n");
    EXPECT_EQ(Compile(onlyVs, "VS", "vs_5_0", &code, &errors), S_OK);
    ASSERT_NE(code, nullptr);
    code->Release();
    EXPECT_EQ(Compile(onlyVs, "PS", "ps_5_0", &code, &errors), E_FAIL);
    EXPECT_EQ(code, nullptr);
    ASSERT_NE(errors, nullptr);
    const std::string text(static_cast<const char*>(errors->GetBufferPointer()));
    EXPECT_NE(text.find("X3501"), std::string::npos) << text;
    EXPECT_NE(text.find("'PS'"), std::string::npos) << text;
    errors->Release();
}

TEST_F(Shaders, PathsWithBackslashesAndOtherCaseAreFound) {
    Write("CameraShader.fx", "void VS() {}\nvoid PS() {}\n");
    std::string path = (dir_ / "camerashader.fx").string();
    for (char& c : path)
        if (c == '/') c = '\\';
    ID3D10Blob* code = nullptr;
    ASSERT_EQ(Compile(path, "VS", "vs_5_0", &code, nullptr), S_OK);
    ID3D11VertexShader* vs = nullptr;
    EXPECT_EQ(device_->CreateVertexShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, &vs),
              S_OK);
    vs->Release();
    code->Release();
}

TEST_F(Shaders, UnknownShaderFilesFailAtCreation) {
    const std::string path = Write(
        "watershader.fx", "float4 VS() : SV_POSITION { return 0; }\nfloat4 PS() : SV_TARGET { return 0; }\n");
    ID3D10Blob *vsCode = nullptr, *psCode = nullptr;
    ASSERT_EQ(Compile(path, "VS", "vs_5_0", &vsCode, nullptr), S_OK);
    ASSERT_EQ(Compile(path, "PS", "ps_5_0", &psCode, nullptr), S_OK);
    ID3D11VertexShader* vs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    EXPECT_EQ(device_->CreateVertexShader(vsCode->GetBufferPointer(), vsCode->GetBufferSize(), nullptr, &vs),
              E_INVALIDARG);
    EXPECT_EQ(device_->CreatePixelShader(psCode->GetBufferPointer(), psCode->GetBufferSize(), nullptr, &ps),
              E_INVALIDARG);
    // Vertex code is not pixel code.
    ID3D10Blob* known = nullptr;
    ASSERT_EQ(Compile(ShaderPath("textureshader"), "VS", "vs_5_0", &known, nullptr), S_OK);
    EXPECT_EQ(device_->CreatePixelShader(known->GetBufferPointer(), known->GetBufferSize(), nullptr, &ps),
              E_INVALIDARG);
    const char junk[] = "not byte code";
    EXPECT_EQ(device_->CreateVertexShader(junk, sizeof junk, nullptr, &vs), E_INVALIDARG);
    known->Release();
    vsCode->Release();
    psCode->Release();
}

TEST(Projection, MatchesTheRightHandedRule) {
    D3DXMATRIX m;
    ASSERT_EQ(D3DXMatrixPerspectiveFovRH(&m, 3.14159265f / 2, 2.0f, 1.0f, 101.0f), &m);
    EXPECT_NEAR(m._22, 1.0f, 1e-6f);
    EXPECT_NEAR(m._11, 0.5f, 1e-6f);
    EXPECT_NEAR(m._33, 101.0f / -100.0f, 1e-6f);
    EXPECT_EQ(m._34, -1.0f);
    EXPECT_NEAR(m._43, 101.0f / -100.0f, 1e-6f);
    EXPECT_EQ(m._44, 0.0f);
    EXPECT_EQ(m._12 + m._13 + m._14 + m._21 + m._23 + m._24 + m._31 + m._32 + m._41 + m._42, 0.0f);
}

// Texture loading over stb_image: PNG and BMP become RGBA8 views; bad files fail without a view.
TEST_F(Shaders, TexturesLoadFromPngAndBmpAndBadFilesFail) {
    const uint8_t rgb[2 * 2 * 3] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    ASSERT_NE(stbi_write_png((dir_ / "Check.png").c_str(), 2, 2, 3, rgb, 6), 0);
    ASSERT_NE(stbi_write_bmp((dir_ / "check.bmp").c_str(), 2, 2, 3, rgb), 0);
    for (const char* name : {"check.png", "check.bmp"}) {
        const std::wstring file = Wide((dir_ / name).string());
        ID3D11ShaderResourceView* view = nullptr;
        HRESULT hr = E_FAIL;
        ASSERT_EQ(
            D3DX11CreateShaderResourceViewFromFileW(device_, file.c_str(), nullptr, nullptr, &view, &hr),
            S_OK)
            << name;
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(d3d11test::ReadPixel(view, 1, 0), Rgba(0, 255, 0)) << name;
        EXPECT_EQ(d3d11test::ReadPixel(view, 0, 1), Rgba(0, 0, 255)) << name;
        view->Release();
    }
    Write("broken.png", "\x89PNG\r\n\x1a\n not really");
    struct Case {
        const char* name;
        HRESULT expected;
    };
    for (const Case& c :
         {Case{"missing.png", D3D11_ERROR_FILE_NOT_FOUND}, Case{"broken.png", D3DX11_ERR_INVALID_DATA}}) {
        const std::wstring file = Wide((dir_ / c.name).string());
        ID3D11ShaderResourceView* view = reinterpret_cast<ID3D11ShaderResourceView*>(1);
        EXPECT_EQ(
            D3DX11CreateShaderResourceViewFromFileW(device_, file.c_str(), nullptr, nullptr, &view, nullptr),
            c.expected)
            << c.name;
        EXPECT_EQ(view, nullptr);
    }
}

// A unit cube seen from (0, 0, 5) looking down -z with a 90-degree field of view. The constants are
// written as the scene passes write them: world transposed from the engine's column-major matrix,
// the camera's view for row vectors, the D3DX projection, combined = W x view x projection.
TEST_F(Shaders, TexturedCubeLandsOnKnownPixelsAndIsComposed) {
    constexpr int kSize = 90;
    BindTarget(kSize, kSize);
    Shader textured;
    LoadShader("textureshader", textured);
    // Faces: front (+z) carries the full texture; the others a corner of it.
    std::vector<Vertex> v;
    std::vector<uint32_t> idx;
    auto face = [&](const float(&c)[4][3], const float n[3]) {
        const uint32_t base = uint32_t(v.size());
        const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int i = 0; i < 4; ++i) {
            Vertex x = MakeVertex(c[i][0], c[i][1], c[i][2], 1, uv[i][0], uv[i][1]);
            std::memcpy(x.normal, n, 12);
            v.push_back(x);
        }
        // Counter-clockwise seen from outside, as the cull state expects.
        idx.insert(idx.end(), {base, base + 3, base + 2, base, base + 2, base + 1});
    };
    const float h = 0.5f;
    const float front[4][3] = {{-h, h, h}, {h, h, h}, {h, -h, h}, {-h, -h, h}};
    const float back[4][3] = {{h, h, -h}, {-h, h, -h}, {-h, -h, -h}, {h, -h, -h}};
    const float nf[3] = {0, 0, 1}, nb[3] = {0, 0, -1};
    face(front, nf);
    face(back, nb);
    ID3D11Buffer* vb = MakeBuffer(D3D11_BIND_VERTEX_BUFFER, v.data(), UINT(v.size() * sizeof(Vertex)));
    ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, idx.data(), UINT(idx.size() * 4));

    const Matrix worldEngine = Identity();
    Matrix viewColumn = Identity();
    viewColumn[14] = -5.0f; // translate by -5 along z
    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovRH(&proj, 3.14159265f / 2, 1.0f, 1.0f, 100.0f);
    Matrix p{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            p[4 * c + r] = proj.m[r][c];
    const Matrix W = Transpose(worldEngine);
    const Matrix V = Transpose(viewColumn);
    const Matrix combined = Multiply(Multiply(W, V), p);
    float object[88] = {};
    std::memcpy(object, combined.data(), 64);
    std::memcpy(object + 16, Transpose(W).data(), 64);
    std::memcpy(object + 32, Inverse(W).data(), 64);
    std::memcpy(object + 48, Transpose(V).data(), 64);
    std::memcpy(object + 64, Transpose(p).data(), 64);
    object[80] = 0, object[81] = 0, object[82] = 5;
    ID3D11Buffer* matrixBuffer = nullptr;
    ID3D11Buffer* lighting = nullptr;
    D3D11_BUFFER_DESC cb{208, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ASSERT_EQ(device_->CreateBuffer(&cb, nullptr, &matrixBuffer), S_OK);
    cb.ByteWidth = 10256;
    ASSERT_EQ(device_->CreateBuffer(&cb, nullptr, &lighting), S_OK);
    std::vector<float> materials(52, 1.0f);
    std::vector<float> lights(10256 / 4, 0.0f);
    lights[10240 / 4] = lights[10244 / 4] = lights[10248 / 4] = 1.0f; // full ambient, no lights
    context_->UpdateSubresource(objectBuffer_, 0, nullptr, object, 0, 0);
    context_->UpdateSubresource(matrixBuffer, 0, nullptr, materials.data(), 0, 0);
    context_->UpdateSubresource(lighting, 0, nullptr, lights.data(), 0, 0);
    ID3D11ShaderResourceView* checker =
        MakeTexture(2, 2, {Rgba(255, 0, 0), Rgba(0, 255, 0), Rgba(0, 0, 255), Rgba(255, 255, 255)});
    const D3D11_SAMPLER_DESC sd = d3d11scene::LinearSampler(D3D11_TEXTURE_ADDRESS_WRAP);
    ID3D11SamplerState* sampler = nullptr;
    ASSERT_EQ(device_->CreateSamplerState(&sd, &sampler), S_OK);
    D3D11_RASTERIZER_DESC rd{D3D11_FILL_SOLID, D3D11_CULL_BACK, TRUE, 0, 0, 0, FALSE, FALSE, FALSE, FALSE};
    ID3D11RasterizerState* cull = nullptr;
    ASSERT_EQ(device_->CreateRasterizerState(&rd, &cull), S_OK);
    context_->RSSetState(cull);
    const float sky[4] = {0, 0.784f, 1, 1};
    context_->ClearRenderTargetView(rtv_, sky);

    d3d11scene::BindMesh(context_, vb, ib, textured);
    d3d11scene::BindSceneInputs(context_, objectBuffer_, matrixBuffer, lighting, checker, sampler);
    context_->DrawIndexed(UINT(idx.size()), 0, 0);

    // The front face spans x and y from 40 to 50: 0.5 / 4.5 of the half-width of 45 around the centre.
    EXPECT_EQ(Pixel(42, 42), Rgba(255, 0, 0));
    EXPECT_EQ(Pixel(47, 42), Rgba(0, 255, 0));
    EXPECT_EQ(Pixel(42, 47), Rgba(0, 0, 255));
    EXPECT_EQ(Pixel(47, 47), Rgba(255, 255, 255));
    EXPECT_EQ(Pixel(39, 45), Rgba(0, 200, 255));
    EXPECT_EQ(Pixel(50, 45), Rgba(0, 200, 255));
    EXPECT_EQ(Pixel(45, 39), Rgba(0, 200, 255));
    EXPECT_EQ(Pixel(45, 50), Rgba(0, 200, 255));
    // Depth of the front face at eye distance 4.5 (near 1, far 100).
    const float a = 100.0f / (1 - 100.0f), b = 100.0f / (1 - 100.0f);
    EXPECT_NEAR(d3d11test::ReadDepth(dsv_, 45, 45), (a * -4.5f + b) / 4.5f, 1e-4f);

    // Compose the camera target into the back buffer through "camerashader".
    ID3D11Texture2D* bb = nullptr;
    ASSERT_EQ(swapChain_->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&bb)), S_OK);
    ID3D11RenderTargetView* backView = nullptr;
    ASSERT_EQ(device_->CreateRenderTargetView(bb, nullptr, &backView), S_OK);
    bb->Release();
    ID3D11Resource* cameraTexture = nullptr;
    rtv_->GetResource(&cameraTexture);
    ID3D11ShaderResourceView* cameraView = nullptr;
    D3D11_SHADER_RESOURCE_VIEW_DESC srd{};
    srd.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    srd.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    srd.Texture2D.MipLevels = 1;
    ASSERT_EQ(device_->CreateShaderResourceView(cameraTexture, &srd, &cameraView), S_OK);
    cameraTexture->Release();
    ID3D11ShaderResourceView* none = nullptr;
    context_->PSSetShaderResources(0, 1, &none);
    context_->OMSetRenderTargets(1, &backView, nullptr);
    const float black[4] = {0, 0, 0, 1};
    context_->ClearRenderTargetView(backView, black);
    const D3D11_VIEWPORT vp{0, 0, float(kWidth), float(kHeight), 0, 1};
    context_->RSSetViewports(1, &vp);
    ID3D11SamplerState* nullSampler = nullptr;
    context_->PSSetSamplers(0, 1, &nullSampler);
    const std::vector<Vertex> quad = {MakeVertex(1, -1, 0.5f, 1, 1, 1), MakeVertex(-1, -1, 0.5f, 1, 0, 1),
                                      MakeVertex(-1, 1, 0.5f, 1, 0, 0), MakeVertex(1, 1, 0.5f, 1, 1, 0)};
    const std::vector<uint32_t> quadIdx = {0, 3, 2, 0, 2, 1};
    ID3D11Buffer* qvb = MakeBuffer(D3D11_BIND_VERTEX_BUFFER, quad.data(), UINT(quad.size() * sizeof(Vertex)));
    ID3D11Buffer* qib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, quadIdx.data(), 24);
    d3d11scene::BindMesh(context_, qvb, qib, camera_);
    float identity[88] = {};
    std::memcpy(identity, Identity().data(), 64);
    context_->UpdateSubresource(objectBuffer_, 0, nullptr, identity, 0, 0);
    context_->VSSetConstantBuffers(0, 1, &objectBuffer_);
    context_->PSSetShaderResources(0, 1, &cameraView);
    context_->DrawIndexed(6, 0, 0);
    // The 90 x 90 picture stretched over 64 x 48: the cube sits in the middle, the sky around it.
    const uint32_t centre = d3d11test::ReadPixel(backView, 32, 24);
    EXPECT_NE(centre, Rgba(0, 200, 255));
    EXPECT_NE(centre, Rgba(0, 0, 0));
    EXPECT_EQ(d3d11test::ReadPixel(backView, 2, 2), Rgba(0, 200, 255));
    EXPECT_EQ(d3d11test::ReadPixel(backView, 61, 45), Rgba(0, 200, 255));

    for (IUnknown* o : std::initializer_list<IUnknown*>{qvb, qib, cameraView, backView, cull, sampler,
                                                        checker, matrixBuffer, lighting, vb, ib})
        o->Release();
}

// One bone that moves everything by +x: the skinned program applies bone x inverse bind.
TEST_F(Shaders, SkinningMovesVerticesByTheirBones) {
    BindTarget(kWidth, kHeight);
    Shader skinned;
    LoadShader("animationshader", skinned);
    std::vector<Vertex> v = {MakeVertex(-0.5f, 0.5f, 0.5f, 1, 0, 0), MakeVertex(0, 0.5f, 0.5f, 1, 0, 0),
                             MakeVertex(0, -0.5f, 0.5f, 1, 0, 0), MakeVertex(-0.5f, -0.5f, 0.5f, 1, 0, 0)};
    for (Vertex& x : v) {
        x.blendIndices[0] = 7;
        x.blendWeights[0] = 1.0f;
        x.normal[2] = 1.0f;
    }
    const std::vector<uint32_t> idx = {0, 1, 2, 0, 2, 3};
    ID3D11Buffer* vb = MakeBuffer(D3D11_BIND_VERTEX_BUFFER, v.data(), UINT(v.size() * sizeof(Vertex)));
    ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, idx.data(), 24);
    std::vector<float> skin(12800 / 4, 0.0f);
    // Bone 7: translation +0.5 in x, written row by row with the translation in the last row, as the
    // model file's matrices are; its inverse bind pose is the identity.
    const float bone[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f, 0, 0, 1};
    std::memcpy(&skin[7 * 16], bone, 64);
    std::memcpy(&skin[1600 + 7 * 16], Identity().data(), 64);
    ID3D11Buffer* skinBuffer = MakeBuffer(D3D11_BIND_CONSTANT_BUFFER, skin.data(), 12800);
    float object[88] = {};
    std::memcpy(object, Identity().data(), 64);
    std::memcpy(object + 16, Identity().data(), 64);
    std::memcpy(object + 32, Identity().data(), 64);
    std::vector<float> materials(52, 1.0f);
    ID3D11Buffer* matrixBuffer = MakeBuffer(D3D11_BIND_CONSTANT_BUFFER, materials.data(), 208);
    std::vector<float> lights(10256 / 4, 0.0f);
    lights[10240 / 4] = lights[10244 / 4] = lights[10248 / 4] = 1.0f;
    ID3D11Buffer* lighting = MakeBuffer(D3D11_BIND_CONSTANT_BUFFER, lights.data(), 10256);
    context_->UpdateSubresource(objectBuffer_, 0, nullptr, object, 0, 0);
    ID3D11ShaderResourceView* white = MakeTexture(1, 1, {Rgba(255, 255, 255)});
    d3d11scene::BindMesh(context_, vb, ib, skinned);
    context_->VSSetConstantBuffers(0, 1, &objectBuffer_);
    context_->VSSetConstantBuffers(3, 1, &skinBuffer);
    context_->PSSetConstantBuffers(1, 1, &matrixBuffer);
    context_->PSSetConstantBuffers(2, 1, &lighting);
    context_->PSSetShaderResources(0, 1, &white);
    context_->DrawIndexed(6, 0, 0);
    // Unskinned the square spans x -0.5..0 (pixels 16..31); moved by 0.5 it spans 0..0.5 (32..47).
    EXPECT_EQ(Pixel(20, 24), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(40, 24), Rgba(255, 255, 255));
    for (IUnknown* o : std::initializer_list<IUnknown*>{white, lighting, matrixBuffer, skinBuffer, vb, ib})
        o->Release();
}

} // namespace
