#include "fixture.h"

#include <cstring>

using namespace d3d11fixture;
using d3d11test::Rgba;

namespace {

class Raster : public DeviceTest {
protected:
    // Pixel-space rectangle as clip-space vertices of a target of w x h.
    static std::vector<Vertex> Rect(float x0, float y0, float x1, float y1, int w, int h, float z = 0.5f) {
        auto cx = [&](float x) { return x / float(w) * 2.0f - 1.0f; };
        auto cy = [&](float y) { return 1.0f - y / float(h) * 2.0f; };
        return {MakeVertex(cx(x0), cy(y0), z, 1, 0, 0), MakeVertex(cx(x1), cy(y0), z, 1, 1, 0),
                MakeVertex(cx(x1), cy(y1), z, 1, 1, 1), MakeVertex(cx(x0), cy(y1), z, 1, 0, 1)};
    }
    ID3D11RasterizerState* State(D3D11_CULL_MODE cull, BOOL frontCCW, BOOL scissor = FALSE) {
        D3D11_RASTERIZER_DESC d{D3D11_FILL_SOLID, cull, frontCCW, 0, 0, 0, FALSE, scissor, FALSE, FALSE};
        ID3D11RasterizerState* s = nullptr;
        EXPECT_EQ(device_->CreateRasterizerState(&d, &s), S_OK);
        return s;
    }
    ID3D11BlendState* Blend(D3D11_BLEND src, D3D11_BLEND dst) {
        D3D11_BLEND_DESC d{};
        d.RenderTarget[0] = {TRUE,
                             src,
                             dst,
                             D3D11_BLEND_OP_ADD,
                             D3D11_BLEND_ONE,
                             D3D11_BLEND_ZERO,
                             D3D11_BLEND_OP_ADD,
                             D3D11_COLOR_WRITE_ENABLE_ALL};
        ID3D11BlendState* b = nullptr;
        EXPECT_EQ(device_->CreateBlendState(&d, &b), S_OK);
        return b;
    }
    int Count(uint32_t colour) {
        int n = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                n += Pixel(x, y) == colour;
        return n;
    }
};

// Clockwise on screen: drawn with the default rasterizer state (back faces culled, front clockwise).
const std::vector<uint32_t> kQuadCw = {0, 1, 2, 0, 2, 3};

TEST_F(Raster, CoversPixelCentresInsideTheTriangleOnly) {
    BindTarget(kWidth, kHeight);
    DrawFlat(Rect(2, 3, 10, 7, kWidth, kHeight), kQuadCw, Rgba(255, 255, 255));
    EXPECT_EQ(Count(Rgba(255, 255, 255)), 8 * 4);
    EXPECT_EQ(Pixel(2, 3), Rgba(255, 255, 255));
    EXPECT_EQ(Pixel(9, 6), Rgba(255, 255, 255));
    EXPECT_EQ(Pixel(10, 6), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(9, 7), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(1, 3), Rgba(0, 0, 0));
    EXPECT_EQ(d3d11test::DrawCount() > 0, true);
}

TEST_F(Raster, SharedEdgesAreDrawnOnceByTheTopLeftRule) {
    BindTarget(kWidth, kHeight);
    ID3D11BlendState* add = Blend(D3D11_BLEND_ONE, D3D11_BLEND_ONE);
    context_->OMSetBlendState(add, nullptr, 0xffffffff);
    // A fan of triangles around a centre that sits exactly on a pixel corner; every edge is shared.
    auto cx = [](float x) { return x / float(kWidth) * 2.0f - 1.0f; };
    auto cy = [](float y) { return 1.0f - y / float(kHeight) * 2.0f; };
    std::vector<Vertex> v = {MakeVertex(cx(20), cy(20), 0.5f, 1, 0, 0)};
    const float ring[][2] = {{10, 10}, {20, 8}, {33, 10}, {33, 20}, {33, 33}, {20, 31}, {10, 33}, {8, 20}};
    for (const auto& p : ring)
        v.push_back(MakeVertex(cx(p[0]), cy(p[1]), 0.5f, 1, 0, 0));
    std::vector<uint32_t> idx;
    for (uint32_t i = 1; i <= 8; ++i)
        idx.insert(idx.end(), {0, i, i % 8 + 1});
    DrawFlat(v, idx, Rgba(64, 0, 0));
    int once = 0, twice = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int r = Channel(Pixel(x, y), 0);
            once += r == 64;
            twice += r > 64;
        }
    EXPECT_EQ(twice, 0);
    EXPECT_GT(once, 400);
    add->Release();
}

TEST_F(Raster, NearerSurfacesWinWhicheverIsDrawnFirst) {
    for (bool nearFirst : {true, false}) {
        BindTarget(kWidth, kHeight);
        const auto nearRect = Rect(0, 0, 32, 48, kWidth, kHeight, 0.25f);
        const auto farRect = Rect(16, 0, 64, 48, kWidth, kHeight, 0.75f);
        if (nearFirst) {
            DrawFlat(nearRect, kQuadCw, Rgba(255, 0, 0));
            DrawFlat(farRect, kQuadCw, Rgba(0, 255, 0));
        } else {
            DrawFlat(farRect, kQuadCw, Rgba(0, 255, 0));
            DrawFlat(nearRect, kQuadCw, Rgba(255, 0, 0));
        }
        EXPECT_EQ(Pixel(20, 20), Rgba(255, 0, 0)) << nearFirst;
        EXPECT_EQ(Pixel(40, 20), Rgba(0, 255, 0)) << nearFirst;
        EXPECT_NEAR(d3d11test::ReadDepth(dsv_, 20, 20), 0.25f, 1e-6f);
        EXPECT_NEAR(d3d11test::ReadDepth(dsv_, 40, 20), 0.75f, 1e-6f);
        EXPECT_EQ(d3d11test::ReadDepth(dsv_, 40, 47), 0.75f);
    }
}

TEST_F(Raster, AlphaBlendsAsTheBlendStateAsks) {
    BindTarget(kWidth, kHeight);
    const float blue[4] = {0, 0, 1, 1};
    context_->ClearRenderTargetView(rtv_, blue);
    ID3D11BlendState* alpha = Blend(D3D11_BLEND_SRC_ALPHA, D3D11_BLEND_INV_SRC_ALPHA);
    const float factors[4] = {0, 0, 0, 0};
    context_->OMSetBlendState(alpha, factors, 0xffffffff);
    DrawFlat(Rect(0, 0, 32, 48, kWidth, kHeight), kQuadCw, Rgba(255, 0, 0, 64));
    const uint32_t p = Pixel(10, 10);
    EXPECT_NEAR(Channel(p, 0), 64, 1);
    EXPECT_NEAR(Channel(p, 2), 191, 1);
    // Alpha: ONE x source + ZERO x destination.
    EXPECT_NEAR(Channel(p, 3), 64, 1);
    EXPECT_EQ(Pixel(40, 10), Rgba(0, 0, 255));
    context_->OMSetBlendState(nullptr, nullptr, 0xffffffff);
    DrawFlat(Rect(0, 0, 32, 48, kWidth, kHeight, 0.1f), kQuadCw, Rgba(255, 0, 0, 64));
    EXPECT_EQ(Pixel(10, 10), Rgba(255, 0, 0, 64));
    alpha->Release();
}

TEST_F(Raster, ScissorLimitsDrawingOnlyWhenEnabled) {
    for (BOOL enabled : {TRUE, FALSE}) {
        BindTarget(kWidth, kHeight);
        ID3D11RasterizerState* s = State(D3D11_CULL_NONE, FALSE, enabled);
        context_->RSSetState(s);
        const D3D11_RECT rect{10, 5, 20, 15};
        context_->RSSetScissorRects(1, &rect);
        DrawFlat(Rect(0, 0, 64, 48, kWidth, kHeight), kQuadCw, Rgba(255, 255, 255));
        EXPECT_EQ(Count(Rgba(255, 255, 255)), enabled ? 100 : kWidth * kHeight);
        EXPECT_EQ(Pixel(10, 5), Rgba(255, 255, 255));
        EXPECT_EQ(Pixel(20, 5) == Rgba(255, 255, 255), !enabled);
        context_->RSSetState(nullptr);
        s->Release();
    }
}

TEST_F(Raster, LineListDrawsOnePixelPerColumn) {
    BindTarget(kWidth, kHeight);
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    auto cx = [](float x) { return x / float(kWidth) * 2.0f - 1.0f; };
    auto cy = [](float y) { return 1.0f - y / float(kHeight) * 2.0f; };
    // Horizontal at row 10 from x 4 to 40, and a diagonal.
    std::vector<Vertex> v = {
        MakeVertex(cx(4), cy(10.5f), 0.5f, 1, 0, 0), MakeVertex(cx(40), cy(10.5f), 0.5f, 1, 0, 0),
        MakeVertex(cx(0), cy(20), 0.5f, 1, 0, 0), MakeVertex(cx(20), cy(40), 0.5f, 1, 0, 0)};
    DrawFlat(v, {0, 1, 2, 3}, Rgba(0, 255, 0));
    int row10 = 0;
    for (int x = 0; x < kWidth; ++x)
        row10 += Pixel(x, 10) == Rgba(0, 255, 0);
    EXPECT_EQ(row10, 36);
    EXPECT_EQ(Pixel(4, 10), Rgba(0, 255, 0));
    EXPECT_EQ(Pixel(40, 10), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(10, 9), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(10, 30), Rgba(0, 255, 0));
    EXPECT_EQ(Pixel(10, 20), Rgba(0, 0, 0));
    EXPECT_EQ(Count(Rgba(0, 255, 0)), 36 + 20);
}

// The composition quad as the passes build it: positions (1,-1), (-1,-1), (-1,1), (1,1) and the
// indices 0 3 2, 0 2 1, drawn with back faces culled and counter-clockwise fronts.
TEST_F(Raster, CompositionQuadSurvivesCullingWithCounterClockwiseFronts) {
    const std::vector<Vertex> quad = {MakeVertex(1, -1, 0.5f, 1, 1, 1), MakeVertex(-1, -1, 0.5f, 1, 0, 1),
                                      MakeVertex(-1, 1, 0.5f, 1, 0, 0), MakeVertex(1, 1, 0.5f, 1, 1, 0)};
    for (BOOL ccw : {TRUE, FALSE}) {
        BindTarget(kWidth, kHeight);
        ID3D11RasterizerState* s = State(D3D11_CULL_BACK, ccw);
        context_->RSSetState(s);
        DrawFlat(quad, {0, 3, 2, 0, 2, 1}, Rgba(255, 255, 0));
        EXPECT_EQ(Count(Rgba(255, 255, 0)), ccw ? kWidth * kHeight : 0);
        s->Release();
    }
}

TEST_F(Raster, AttributesArePerspectiveCorrect) {
    BindTarget(kWidth, kHeight);
    // Left edge at w 1, right edge at w 3 (clip coordinates already multiplied by w); u runs 0 to 1.
    std::vector<Vertex> v = {MakeVertex(-1, 1, 0.5f, 1, 0, 0), MakeVertex(3, 3, 1.5f, 3, 1, 0),
                             MakeVertex(3, -3, 1.5f, 3, 1, 1), MakeVertex(-1, -1, 0.5f, 1, 0, 1)};
    ID3D11Buffer* vb = MakeBuffer(D3D11_BIND_VERTEX_BUFFER, v.data(), UINT(v.size() * sizeof(Vertex)));
    ID3D11Buffer* ib = MakeBuffer(D3D11_BIND_INDEX_BUFFER, kQuadCw.data(), 24);
    ID3D11ShaderResourceView* tex = MakeTexture(2, 1, {Rgba(0, 0, 0), Rgba(255, 255, 255)});
    D3D11_SAMPLER_DESC sd{D3D11_FILTER_MIN_MAG_MIP_POINT,
                          D3D11_TEXTURE_ADDRESS_CLAMP,
                          D3D11_TEXTURE_ADDRESS_CLAMP,
                          D3D11_TEXTURE_ADDRESS_CLAMP,
                          0,
                          0,
                          D3D11_COMPARISON_NEVER,
                          {0, 0, 0, 0},
                          0,
                          D3D11_FLOAT32_MAX};
    ID3D11SamplerState* point = nullptr;
    ASSERT_EQ(device_->CreateSamplerState(&sd, &point), S_OK);
    const UINT stride = sizeof(Vertex), offset = 0;
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->IASetIndexBuffer(ib, DXGI_FORMAT_R32_UINT, 0);
    context_->IASetInputLayout(camera_.layout);
    context_->VSSetShader(camera_.vs, nullptr, 0);
    context_->PSSetShader(camera_.ps, nullptr, 0);
    const Matrix id = Identity();
    float object[88] = {};
    std::memcpy(object, id.data(), 64);
    context_->UpdateSubresource(objectBuffer_, 0, nullptr, object, 0, 0);
    context_->VSSetConstantBuffers(0, 1, &objectBuffer_);
    context_->PSSetShaderResources(0, 1, &tex);
    context_->PSSetSamplers(0, 1, &point);
    context_->DrawIndexed(6, 0, 0);
    // At 70 % of the width the screen-linear u would be 0.7; the perspective-correct u is 0.44.
    EXPECT_EQ(Pixel(int(kWidth * 0.70f), 24), Rgba(0, 0, 0));
    EXPECT_EQ(Pixel(int(kWidth * 0.85f), 24), Rgba(255, 255, 255));
    point->Release();
    tex->Release();
    vb->Release();
    ib->Release();
}

// The right half of the quad lies in front of the near plane (z below 0): clipped away when depth
// clipping is on, drawn with its depth clamped to 0 when it is off.
TEST_F(Raster, DepthClipRemovesWhatLiesBeforeTheNearPlane) {
    const std::vector<Vertex> v = {MakeVertex(-1, 1, 0.5f, 1, 0, 0), MakeVertex(1, 1, -0.5f, 1, 0, 0),
                                   MakeVertex(1, -1, -0.5f, 1, 0, 0), MakeVertex(-1, -1, 0.5f, 1, 0, 0)};
    for (BOOL clip : {TRUE, FALSE}) {
        BindTarget(kWidth, kHeight);
        D3D11_RASTERIZER_DESC d{D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, clip, FALSE, FALSE, FALSE};
        ID3D11RasterizerState* s = nullptr;
        ASSERT_EQ(device_->CreateRasterizerState(&d, &s), S_OK);
        context_->RSSetState(s);
        DrawFlat(v, kQuadCw, Rgba(0, 0, 255));
        EXPECT_EQ(Pixel(1, 24), Rgba(0, 0, 255));
        EXPECT_EQ(Pixel(kWidth / 2 - 2, 24), Rgba(0, 0, 255));
        EXPECT_EQ(Pixel(kWidth / 2 + 2, 24), clip ? Rgba(0, 0, 0) : Rgba(0, 0, 255));
        if (!clip) {
            EXPECT_EQ(d3d11test::ReadDepth(dsv_, kWidth - 2, 24), 0.0f);
        }
        context_->RSSetState(nullptr);
        s->Release();
    }
}

TEST_F(Raster, ZeroSizedViewportDrawsNothing) {
    BindTarget(kWidth, kHeight);
    const D3D11_VIEWPORT empty{0, 0, 0, 0, 0, 1};
    context_->RSSetViewports(1, &empty);
    d3d11test::ResetDrawCount();
    DrawFlat(Rect(0, 0, 64, 48, kWidth, kHeight), kQuadCw, Rgba(255, 255, 255));
    EXPECT_EQ(Count(Rgba(255, 255, 255)), 0);
    EXPECT_EQ(d3d11test::DrawCount(), 0u);
}

TEST_F(Raster, ViewportPlacesTheImage) {
    BindTarget(kWidth, kHeight);
    const D3D11_VIEWPORT quarter{32, 24, 32, 24, 0, 1};
    context_->RSSetViewports(1, &quarter);
    DrawFlat(Rect(0, 0, 64, 48, kWidth, kHeight), kQuadCw, Rgba(255, 255, 255));
    EXPECT_EQ(Count(Rgba(255, 255, 255)), 32 * 24);
    EXPECT_EQ(Pixel(32, 24), Rgba(255, 255, 255));
    EXPECT_EQ(Pixel(31, 24), Rgba(0, 0, 0));
}

TEST_F(Raster, BandsOnManyThreadsGiveTheSamePicture) {
    std::vector<Vertex> v;
    std::vector<uint32_t> idx;
    uint32_t seed = 7;
    auto rnd = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24) * 2.4f - 1.2f;
    };
    for (uint32_t t = 0; t < 300; ++t) {
        for (int k = 0; k < 3; ++k)
            v.push_back(MakeVertex(rnd(), rnd(), rnd() * 0.4f + 0.5f, 1, rnd(), rnd()));
        idx.insert(idx.end(), {3 * t, 3 * t + 1, 3 * t + 2});
    }
    ID3D11RasterizerState* s = State(D3D11_CULL_NONE, FALSE);
    std::vector<uint32_t> pictures[2];
    for (unsigned threads : {1u, 0u}) {
        d3d11test::SetRasterThreads(threads);
        BindTarget(kWidth, kHeight);
        context_->RSSetState(s);
        DrawFlat(v, idx, Rgba(10, 200, 30));
        ID3D11Resource* r = nullptr;
        rtv_->GetResource(&r);
        int w, h;
        ASSERT_TRUE(d3d11test::ReadPixels(r, pictures[threads == 0], w, h));
        r->Release();
    }
    EXPECT_TRUE(pictures[0] == pictures[1]);
    s->Release();
}

// Draws wait in a queue until their result is needed; each must still see the state of its own call:
// a texture updated or released after the draw, a clear after it, and a read-back right away.
TEST_F(Raster, QueuedDrawsKeepTheStateOfTheirCall) {
    BindTarget(kWidth, kHeight);
    ID3D11ShaderResourceView* tex = MakeTexture(1, 1, {Rgba(255, 0, 0)});
    ID3D11Resource* texResource = nullptr;
    tex->GetResource(&texResource);
    auto draw = [&](const std::vector<Vertex>& v) { DrawCamera(v, kQuadCw, tex, nullptr); };
    draw(Rect(0, 0, 16, 48, kWidth, kHeight));
    const uint32_t green = Rgba(0, 255, 0);
    context_->UpdateSubresource(texResource, 0, nullptr, &green, 4, 0);
    draw(Rect(16, 0, 32, 48, kWidth, kHeight));
    // The last user of the texture lets go while the draw may still be queued.
    texResource->Release();
    ID3D11ShaderResourceView* none = nullptr;
    context_->PSSetShaderResources(0, 1, &none);
    tex->Release();
    ID3D11ShaderResourceView* blueTex = MakeTexture(1, 1, {Rgba(0, 0, 255)});
    tex = blueTex;
    draw(Rect(32, 0, 48, 48, kWidth, kHeight));
    blueTex->Release();
    EXPECT_EQ(Pixel(8, 10), Rgba(255, 0, 0));
    EXPECT_EQ(Pixel(24, 10), green);
    EXPECT_EQ(Pixel(40, 10), Rgba(0, 0, 255));
    // A clear after draws replaces them; draws after it land on top.
    const float white[4] = {1, 1, 1, 1};
    context_->ClearRenderTargetView(rtv_, white);
    context_->ClearDepthStencilView(dsv_, D3D11_CLEAR_DEPTH, 1.0f, 0);
    DrawFlat(Rect(0, 0, 8, 8, kWidth, kHeight), kQuadCw, Rgba(10, 20, 30));
    EXPECT_EQ(Pixel(4, 4), Rgba(10, 20, 30));
    EXPECT_EQ(Pixel(24, 10), Rgba(255, 255, 255));
    EXPECT_EQ(d3d11test::ReadDepth(dsv_, 24, 10), 1.0f);
}

// The user-interface path: a dynamic vertex buffer filled through Map with discard, 20-byte vertices
// with 8-bit colours, an orthographic matrix in pixels, drawn without indices.
TEST_F(Raster, NonIndexedDrawFromAMappedDynamicBuffer) {
    BindTarget(kWidth, kHeight);
    const std::wstring file = Wide(ShaderPath("imguishader"));
    ID3D10Blob *vsBlob = nullptr, *psBlob = nullptr;
    ASSERT_EQ(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "VS", "vs_5_0", 0x48010, 0, nullptr,
                                     &vsBlob, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(D3DX11CompileFromFileW(file.c_str(), nullptr, nullptr, "PS", "ps_5_0", 0x48010, 0, nullptr,
                                     &psBlob, nullptr, nullptr),
              S_OK);
    ID3D11VertexShader* vs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    ID3D11InputLayout* layout = nullptr;
    ASSERT_EQ(device_->CreateVertexShader(vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), nullptr, &vs),
              S_OK);
    ASSERT_EQ(device_->CreatePixelShader(psBlob->GetBufferPointer(), psBlob->GetBufferSize(), nullptr, &ps),
              S_OK);
    const D3D11_INPUT_ELEMENT_DESC elements[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    ASSERT_EQ(
        device_->CreateInputLayout(elements, 3, vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), &layout),
        S_OK);
    // The scene layout does not feed this shader's inputs.
    const D3D11_INPUT_ELEMENT_DESC positionOnly[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0}};
    ID3D11InputLayout* bad = nullptr;
    EXPECT_EQ(device_->CreateInputLayout(positionOnly, 1, vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(),
                                         &bad),
              E_INVALIDARG);
    D3D11_BUFFER_DESC vbd{600000, D3D11_USAGE_DYNAMIC, D3D11_BIND_VERTEX_BUFFER, D3D11_CPU_ACCESS_WRITE, 0,
                          0};
    D3D11_BUFFER_DESC cbd{64, D3D11_USAGE_DYNAMIC, D3D11_BIND_CONSTANT_BUFFER, D3D11_CPU_ACCESS_WRITE, 0, 0};
    ID3D11Buffer *vb = nullptr, *cb = nullptr;
    ASSERT_EQ(device_->CreateBuffer(&vbd, nullptr, &vb), S_OK);
    ASSERT_EQ(device_->CreateBuffer(&cbd, nullptr, &cb), S_OK);
    struct GuiVertex {
        float x, y, u, v;
        uint32_t colour;
    };
    static_assert(sizeof(GuiVertex) == 20);
    const uint32_t c = Rgba(255, 128, 0);
    const GuiVertex quad[6] = {{8, 4, 0, 0, c}, {24, 4, 0, 0, c},  {24, 12, 0, 0, c},
                               {8, 4, 0, 0, c}, {24, 12, 0, 0, c}, {8, 12, 0, 0, c}};
    D3D11_MAPPED_SUBRESOURCE m{};
    ASSERT_EQ(context_->Map(vb, 0, D3D11_MAP_WRITE_DISCARD, 0, &m), S_OK);
    std::memcpy(m.pData, quad, sizeof quad);
    context_->Unmap(vb, 0);
    const float W = kWidth, H = kHeight;
    const float ortho[16] = {2 / W, 0, 0, 0, 0, -2 / H, 0, 0, 0, 0, 0.5f, 0, -1, 1, 0.5f, 1};
    ASSERT_EQ(context_->Map(cb, 0, D3D11_MAP_WRITE_DISCARD, 0, &m), S_OK);
    std::memcpy(m.pData, ortho, sizeof ortho);
    context_->Unmap(cb, 0);
    EXPECT_EQ(context_->Map(objectBuffer_, 0, D3D11_MAP_WRITE_DISCARD, 0, &m), E_INVALIDARG);
    ID3D11ShaderResourceView* white = MakeTexture(1, 1, {Rgba(255, 255, 255)});
    const UINT stride = 20, offset = 0;
    context_->IASetInputLayout(layout);
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->VSSetShader(vs, nullptr, 0);
    context_->VSSetConstantBuffers(0, 1, &cb);
    context_->PSSetShader(ps, nullptr, 0);
    context_->PSSetShaderResources(0, 1, &white);
    ID3D11RasterizerState* s = State(D3D11_CULL_NONE, FALSE);
    context_->RSSetState(s);
    context_->OMSetRenderTargets(1, &rtv_, nullptr);
    context_->Draw(6, 0);
    EXPECT_EQ(Count(Rgba(255, 128, 0)), 16 * 8);
    EXPECT_EQ(Pixel(8, 4), Rgba(255, 128, 0));
    EXPECT_EQ(Pixel(24, 4), Rgba(0, 0, 0));
    s->Release();
    white->Release();
    vb->Release();
    cb->Release();
    layout->Release();
    vs->Release();
    ps->Release();
    vsBlob->Release();
    psBlob->Release();
}

} // namespace
