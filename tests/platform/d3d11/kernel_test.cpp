// The vector kernels against the plain per-pixel path on random scenes: the same coverage and depth,
// and colours that differ at most by one 8-bit step (the lighting is approximated) and rarely at all.
#include "fixture.h"

#include <cmath>
#include <cstring>

using namespace d3d11fixture;
using d3d11test::Rgba;

namespace {

class Kernels : public DeviceTest {
protected:
    static constexpr int kW = 101, kH = 67; // odd sizes: rows end inside an eight-pixel group

    uint32_t Next() {
        seed_ = seed_ * 1664525u + 1013904223u;
        return seed_ >> 8;
    }
    float Uniform(float lo, float hi) { return lo + (hi - lo) * float(Next() & 0xFFFF) / 65535.0f; }

    struct Picture {
        std::vector<uint32_t> colour;
        std::vector<float> depth;
    };

    Picture Read() {
        Picture p;
        ID3D11Resource* r = nullptr;
        rtv_->GetResource(&r);
        int w = 0, h = 0;
        EXPECT_TRUE(d3d11test::ReadPixels(r, p.colour, w, h));
        r->Release();
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                p.depth.push_back(d3d11test::ReadDepth(dsv_, x, y));
        return p;
    }

    // Same picture, or one whose channels differ by at most `tolerance`, in at most `share` of the pixels.
    static void ExpectClose(const Picture& plain, const Picture& vector, int tolerance, double share,
                            const std::string& what) {
        ASSERT_EQ(plain.colour.size(), vector.colour.size());
        EXPECT_TRUE(plain.depth == vector.depth) << what;
        int differing = 0, worst = 0, covered = 0;
        for (size_t i = 0; i < plain.colour.size(); ++i) {
            covered += plain.depth[i] < 1.0f;
            int d = 0;
            for (int c = 0; c < 4; ++c)
                d = std::max(d, std::abs(Channel(plain.colour[i], c) - Channel(vector.colour[i], c)));
            differing += d > 0;
            worst = std::max(worst, d);
        }
        EXPECT_LE(worst, tolerance) << what;
        EXPECT_LE(differing, int(share * double(plain.colour.size()))) << what;
        // The scene must cover enough of the target for the comparison to mean something.
        EXPECT_GT(covered, int(plain.colour.size() / 4)) << what;
    }

    uint32_t seed_ = 12345;
};

struct SceneCase {
    const char* shader;
    D3D11_TEXTURE_ADDRESS_MODE address;
    bool blend;
    bool textured;
    float shininess;
    float falloff;
};

TEST_F(Kernels, SceneProgramsMatchThePlainPath) {
    if (!d3d11test::VectorKernels()) GTEST_SKIP() << "this processor has no AVX2: only the plain path runs";
    const SceneCase cases[] = {
        {"textureshader", D3D11_TEXTURE_ADDRESS_WRAP, false, true, 32.0f, 1.0f},
        {"textureshader", D3D11_TEXTURE_ADDRESS_CLAMP, false, true, 7.5f, 2.0f},
        {"defaultshader", D3D11_TEXTURE_ADDRESS_WRAP, true, true, 12.0f, 0.6f},
        {"defaultshader", D3D11_TEXTURE_ADDRESS_CLAMP, false, false, 0.0f, 1.0f},
    };
    for (const SceneCase& c : cases) {
        const std::string what = std::string(c.shader) + (c.blend ? " blended" : "") +
                                 (c.address == D3D11_TEXTURE_ADDRESS_WRAP ? " wrap" : " clamp");
        Shader shader;
        LoadShader(c.shader, shader);
        // Random triangles in clip space, some reaching behind the near plane and past the edges.
        std::vector<Vertex> v;
        std::vector<uint32_t> idx;
        for (uint32_t t = 0; t < 90; ++t) {
            const float w = Uniform(0.6f, 3.0f);
            const float cx = Uniform(-1.2f, 1.2f), cy = Uniform(-1.2f, 1.2f);
            const uint32_t material = Next() % 5;
            for (int k = 0; k < 3; ++k) {
                const float vw = w * Uniform(0.8f, 1.25f);
                Vertex x =
                    MakeVertex((cx + Uniform(-0.5f, 0.5f)) * vw, (cy + Uniform(-0.5f, 0.5f)) * vw,
                               Uniform(-0.1f, 1.0f) * vw, vw, Uniform(-2.0f, 3.0f), Uniform(-2.0f, 3.0f));
                for (float& col : x.color)
                    col = Uniform(0.2f, 1.0f);
                x.normal[0] = Uniform(-1, 1), x.normal[1] = Uniform(-1, 1), x.normal[2] = Uniform(0.2f, 1);
                // A few triangles without normals are shown unlit.
                if (t % 17 == 0) x.normal[0] = x.normal[1] = x.normal[2] = 0;
                x.textureIndex = material;
                v.push_back(x);
            }
            idx.insert(idx.end(), {3 * t, 3 * t + 1, 3 * t + 2});
        }
        ID3D11Buffer* vb = MakeBuffer(D3D11_BIND_VERTEX_BUFFER, v.data(), UINT(v.size() * sizeof(Vertex)));
        ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, idx.data(), UINT(idx.size() * 4));

        std::vector<float> materials(52, 1.0f);
        for (int m = 0; m < 4; ++m) {
            for (int i = 0; i < 3; ++i) {
                materials[size_t(m) * 12 + size_t(i)] = Uniform(0.2f, 1.0f);
                materials[size_t(m) * 12 + 4 + size_t(i)] = Uniform(0.2f, 1.0f);
                materials[size_t(m) * 12 + 8 + size_t(i)] = m == 3 ? 0.0f : Uniform(0.2f, 1.0f);
            }
            materials[size_t(m) * 12 + 11] = c.shininess + float(m);
        }
        materials[48] = 0.9f, materials[49] = 1.0f, materials[50] = 0.8f, materials[51] = 0.7f;
        ID3D11Buffer* matrix = MakeBuffer(D3D11_BIND_CONSTANT_BUFFER, materials.data(), 208);
        // Directional, point and spot lights around the scene.
        std::vector<float> l(10256 / 4, 0.0f);
        const uint32_t types[] = {0, 1, 2, 1};
        for (int i = 0; i < 4; ++i) {
            float* r = &l[size_t(i) * 16];
            for (int k = 0; k < 3; ++k)
                r[k] = Uniform(0.3f, 1.0f), r[4 + k] = Uniform(0.2f, 0.8f);
            std::memcpy(&r[3], &types[i], 4);
            r[7] = Uniform(0.5f, 2.0f);
            r[8] = Uniform(-0.5f, 0.5f), r[9] = Uniform(-0.5f, 0.5f), r[10] = -1.0f;
            r[11] = Uniform(1.5f, 6.0f);
            r[12] = c.falloff;
            r[13] = 20.0f, r[14] = 40.0f;
            float* p = &l[2048 + size_t(i) * 4];
            p[0] = Uniform(-1, 1), p[1] = Uniform(-1, 1), p[2] = Uniform(1.0f, 2.5f), p[3] = 1;
        }
        l[2560] = 0.05f, l[2561] = 0.04f, l[2562] = 0.03f;
        const uint32_t count = 4;
        std::memcpy(&l[2563], &count, 4);
        ID3D11Buffer* lighting = MakeBuffer(D3D11_BIND_CONSTANT_BUFFER, l.data(), 10256);

        std::vector<uint32_t> texels(16 * 8);
        for (uint32_t& p : texels)
            p = Next() | 0xFF000000u;
        texels[5] &= 0x80FFFFFFu; // some translucency for the blended case
        ID3D11ShaderResourceView* texture = MakeTexture(16, 8, texels);
        D3D11_SAMPLER_DESC sd{
            D3D11_FILTER_MIN_MAG_MIP_LINEAR, c.address,    c.address, c.address,        0, 0,
            D3D11_COMPARISON_NEVER,          {0, 0, 0, 0}, 0,         D3D11_FLOAT32_MAX};
        ID3D11SamplerState* sampler = nullptr;
        ASSERT_EQ(device_->CreateSamplerState(&sd, &sampler), S_OK);
        D3D11_BLEND_DESC bd{};
        bd.RenderTarget[0] = {TRUE,
                              D3D11_BLEND_SRC_ALPHA,
                              D3D11_BLEND_INV_SRC_ALPHA,
                              D3D11_BLEND_OP_ADD,
                              D3D11_BLEND_ONE,
                              D3D11_BLEND_ZERO,
                              D3D11_BLEND_OP_ADD,
                              D3D11_COLOR_WRITE_ENABLE_ALL};
        ID3D11BlendState* blend = nullptr;
        ASSERT_EQ(device_->CreateBlendState(&bd, &blend), S_OK);
        D3D11_RASTERIZER_DESC rd{
            D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, TRUE, FALSE, FALSE, FALSE};
        ID3D11RasterizerState* noCull = nullptr;
        ASSERT_EQ(device_->CreateRasterizerState(&rd, &noCull), S_OK);

        float object[88] = {};
        const Matrix id = Identity();
        for (int m = 0; m < 3; ++m)
            std::memcpy(object + 16 * m, id.data(), 64);
        object[80] = 0.2f, object[81] = -0.1f, object[82] = 4.0f;

        Picture pictures[2];
        for (bool plain : {true, false}) {
            d3d11test::SetPlainKernels(plain);
            BindTarget(kW, kH);
            const float grey[4] = {0.3f, 0.4f, 0.5f, 1.0f};
            context_->ClearRenderTargetView(rtv_, grey);
            const UINT stride = sizeof(Vertex), offset = 0;
            context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
            context_->IASetIndexBuffer(ib, DXGI_FORMAT_R32_UINT, 0);
            context_->IASetInputLayout(shader.layout);
            context_->VSSetShader(shader.vs, nullptr, 0);
            context_->PSSetShader(shader.ps, nullptr, 0);
            context_->UpdateSubresource(objectBuffer_, 0, nullptr, object, 0, 0);
            context_->VSSetConstantBuffers(0, 1, &objectBuffer_);
            context_->PSSetConstantBuffers(1, 1, &matrix);
            context_->PSSetConstantBuffers(2, 1, &lighting);
            ID3D11ShaderResourceView* none = nullptr;
            context_->PSSetShaderResources(0, 1, c.textured ? &texture : &none);
            context_->PSSetSamplers(0, 1, &sampler);
            context_->RSSetState(noCull);
            context_->OMSetBlendState(c.blend ? blend : nullptr, nullptr, 0xffffffff);
            context_->DrawIndexed(UINT(idx.size()), 0, 0);
            pictures[plain ? 0 : 1] = Read();
            context_->OMSetBlendState(nullptr, nullptr, 0xffffffff);
            context_->RSSetState(nullptr);
        }
        d3d11test::SetPlainKernels(false);
        ExpectClose(pictures[0], pictures[1], 1, 0.02, what);
        for (IUnknown* o :
             std::initializer_list<IUnknown*>{noCull, blend, sampler, texture, lighting, matrix, vb, ib})
            o->Release();
    }
}

// Composition: no pow on this path, so the pictures must be identical, at any scale and placement.
TEST_F(Kernels, CameraProgramMatchesThePlainPathExactly) {
    if (!d3d11test::VectorKernels()) GTEST_SKIP() << "this processor has no AVX2: only the plain path runs";
    std::vector<uint32_t> texels(37 * 23);
    for (uint32_t& p : texels)
        p = Next();
    ID3D11ShaderResourceView* texture = MakeTexture(37, 23, texels);
    D3D11_RASTERIZER_DESC rd{D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, TRUE, FALSE, FALSE, FALSE};
    ID3D11RasterizerState* noCull = nullptr;
    ASSERT_EQ(device_->CreateRasterizerState(&rd, &noCull), S_OK);
    for (D3D11_TEXTURE_ADDRESS_MODE address : {D3D11_TEXTURE_ADDRESS_WRAP, D3D11_TEXTURE_ADDRESS_CLAMP}) {
        D3D11_SAMPLER_DESC sd{D3D11_FILTER_MIN_MAG_MIP_LINEAR, address,      address, address,          0, 0,
                              D3D11_COMPARISON_NEVER,          {0, 0, 0, 0}, 0,       D3D11_FLOAT32_MAX};
        ID3D11SamplerState* sampler = nullptr;
        ASSERT_EQ(device_->CreateSamplerState(&sd, &sampler), S_OK);
        // A quad with perspective and coordinates well outside [0, 1], and one covering the target.
        const std::vector<Vertex> quads = {MakeVertex(-1.1f, 1.2f, 0.3f, 1, -1.5f, -0.7f),
                                           MakeVertex(2.4f, 2.0f, 1.0f, 2, 2.5f, -0.2f),
                                           MakeVertex(2.6f, -2.2f, 1.1f, 2.2f, 3.1f, 2.2f),
                                           MakeVertex(-0.9f, -1.0f, 0.2f, 1, -1.1f, 1.9f),
                                           MakeVertex(-1, 1, 0.7f, 1, 0, 0),
                                           MakeVertex(1, 1, 0.7f, 1, 1, 0),
                                           MakeVertex(1, -1, 0.7f, 1, 1, 1),
                                           MakeVertex(-1, -1, 0.7f, 1, 0, 1)};
        for (uint32_t first : {0u, 4u}) {
            const std::vector<uint32_t> idx = {first, first + 1, first + 2, first, first + 2, first + 3};
            Picture pictures[2];
            for (bool plain : {true, false}) {
                d3d11test::SetPlainKernels(plain);
                BindTarget(kW, kH);
                context_->RSSetState(noCull);
                DrawCamera(quads, idx, texture, sampler);
                pictures[plain ? 0 : 1] = Read();
                context_->RSSetState(nullptr);
            }
            d3d11test::SetPlainKernels(false);
            ExpectClose(pictures[0], pictures[1], 0, 0.0, "camera quad " + std::to_string(first));
        }
        sampler->Release();
    }
    noCull->Release();
    texture->Release();
}

// Composition at the target's own size, as the split screen does it: whole rows of neighbouring texel
// pairs, filling the viewport or placed inside the target; identical to the plain path.
TEST_F(Kernels, CompositionAtTheTargetsOwnSizeMatchesThePlainPathExactly) {
    if (!d3d11test::VectorKernels()) GTEST_SKIP() << "this processor has no AVX2: only the plain path runs";
    struct Placement {
        float x, y;
        int w, h;
    };
    for (const Placement& at : {Placement{0, 0, kW, kH}, Placement{3, 2, kW - 5, kH - 3}}) {
        std::vector<uint32_t> texels(size_t(at.w) * size_t(at.h));
        for (uint32_t& p : texels)
            p = Next();
        ID3D11ShaderResourceView* texture = MakeTexture(at.w, at.h, texels);
        for (D3D11_TEXTURE_ADDRESS_MODE address : {D3D11_TEXTURE_ADDRESS_WRAP, D3D11_TEXTURE_ADDRESS_CLAMP}) {
            const D3D11_SAMPLER_DESC sd = d3d11scene::LinearSampler(address);
            ID3D11SamplerState* sampler = nullptr;
            ASSERT_EQ(device_->CreateSamplerState(&sd, &sampler), S_OK);
            const std::vector<Vertex> quad = {
                MakeVertex(-1, 1, 0.5f, 1, 0, 0), MakeVertex(1, 1, 0.5f, 1, 1, 0),
                MakeVertex(1, -1, 0.5f, 1, 1, 1), MakeVertex(-1, -1, 0.5f, 1, 0, 1)};
            const std::vector<uint32_t> idx = {0, 1, 2, 0, 2, 3};
            Picture pictures[2];
            for (bool plain : {true, false}) {
                d3d11test::SetPlainKernels(plain);
                BindTarget(kW, kH);
                const D3D11_VIEWPORT vp{at.x, at.y, float(at.w), float(at.h), 0, 1};
                context_->RSSetViewports(1, &vp);
                DrawCamera(quad, idx, texture, sampler);
                pictures[plain ? 0 : 1] = Read();
            }
            d3d11test::SetPlainKernels(false);
            ExpectClose(pictures[0], pictures[1], 0, 0.0,
                        "composition at " + std::to_string(int(at.x)) + "," + std::to_string(int(at.y)));
            sampler->Release();
        }
        texture->Release();
    }
}

} // namespace
