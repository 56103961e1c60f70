#include "ResourceTestSupport.h"

#include <resources/DXShader.h>
#include <resources/Managers.h>
#include <resources/ProceduralModels.h>
#include <resources/ResourceHub.h>

#include <scene_support.h>

#include <cstring>

namespace {

class MeshTest : public restest::ResourceTest {};

TEST(Mesh, DefaultsAndModelDefaults) {
    const Mesh mesh("m");
    EXPECT_EQ(mesh.mTextureNames, std::vector<std::string>{"defaulttexture"});
    EXPECT_EQ(mesh.mShaderName, "defaultshader");
    EXPECT_EQ(std::vector<float>(mesh.mColour, mesh.mColour + 4),
              (std::vector<float>{0.0f, 0.2f, 1.0f, 1.0f}));
    EXPECT_FALSE(mesh.mTransparent);
    EXPECT_TRUE(mesh.mVisible);
    EXPECT_EQ(mesh.mIndexDesc.BindFlags, UINT(D3D11_BIND_INDEX_BUFFER));
    EXPECT_EQ(mesh.mVertexDesc.BindFlags, UINT(D3D11_BIND_VERTEX_BUFFER));
    const Material material;
    EXPECT_EQ(material.shininess, 32.0f);
    EXPECT_EQ(material.specular[2], 1.0f);
    const Model model("m");
    EXPECT_EQ(model.mType, RESOURCE_MODEL);
    EXPECT_TRUE(model.mSkeleton.empty());
    EXPECT_EQ(model.mFirstFrame, 0);
    EXPECT_EQ(model.mLastFrame, 0);
    EXPECT_EQ(model.mCurrentKey, 0u);
    EXPECT_EQ(std::memcmp(model.mMatrix, kIdentityTransform, sizeof kIdentityTransform), 0);
    const Vertex v;
    EXPECT_EQ(v.position[3], 1.0f);
    EXPECT_EQ(v.normal[0], 1.0f);
    const Joint joint;
    EXPECT_EQ(joint.parent, -1);
    EXPECT_EQ(joint.bindPoseInverse, FbxAMatrix());
}

// The mesh's own descriptions make buffers that the input layout reads with the 124-byte stride: all
// three corners of the triangle land where their positions say.
TEST_F(MeshTest, TriangleFromTheMeshsOwnBuffersLandsOnItsCorners) {
    ID3D11Device* device = mDevice->GetD3DDevice();
    ID3D11DeviceContext* context = mDevice->GetContext();
    Mesh mesh("triangle");
    const float white[4] = {1, 1, 1, 1};
    // Clip-space corners; the normals are zero, so the default shader shows the colour unlit.
    std::vector<Vertex> vertices = {MakeColouredVertex({-0.5f, -0.5f, 0.5f}, white, 0, 0),
                                    MakeColouredVertex({0.5f, -0.5f, 0.5f}, white, 0, 0),
                                    MakeColouredVertex({0.0f, 0.5f, 0.5f}, white, 0, 0)};
    for (Vertex& v : vertices)
        v.normal[0] = 0.0f;
    mesh.SetVertices(vertices);
    mesh.SetIndices({0, 1, 2});
    ASSERT_TRUE(mesh.CreateBuffers(device));

    DXShader shader("defaultshader");
    shader.LoadShaderFromFile(mDevice.get(), "..\\..\\Resources\\Shaders\\defaultshader.fx");
    ASSERT_NE(shader.mInputLayout, nullptr);

    d3d11scene::Target target;
    ASSERT_EQ(d3d11scene::MakeTarget(device, 64, 64, target), S_OK);
    // Object constants: identity combined, world and inverse world; materials: colour (1, 1, 1, 1).
    std::vector<float> object(88, 0.0f);
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 4; ++i)
            object[16 * m + 5 * i] = 1.0f;
    std::vector<float> materials(52, 1.0f);
    std::vector<float> lighting(10256 / 4, 0.0f);
    ID3D11Buffer* objectBuffer =
        d3d11scene::MakeBuffer(device, D3D11_BIND_CONSTANT_BUFFER, object.data(), 352);
    ID3D11Buffer* materialBuffer =
        d3d11scene::MakeBuffer(device, D3D11_BIND_CONSTANT_BUFFER, materials.data(), 208);
    ID3D11Buffer* lightBuffer =
        d3d11scene::MakeBuffer(device, D3D11_BIND_CONSTANT_BUFFER, lighting.data(), 10256);
    D3D11_RASTERIZER_DESC rs{};
    rs.FillMode = D3D11_FILL_SOLID;
    rs.CullMode = D3D11_CULL_NONE;
    rs.DepthClipEnable = TRUE;
    ID3D11RasterizerState* noCull = nullptr;
    ASSERT_EQ(device->CreateRasterizerState(&rs, &noCull), S_OK);

    const float black[4] = {0, 0, 0, 1};
    context->OMSetRenderTargets(1, &target.rtv, target.dsv);
    context->ClearRenderTargetView(target.rtv, black);
    context->ClearDepthStencilView(target.dsv, D3D11_CLEAR_DEPTH, 1.0f, 0);
    const D3D11_VIEWPORT viewport{0, 0, 64, 64, 0, 1};
    context->RSSetViewports(1, &viewport);
    context->RSSetState(noCull);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    const UINT stride = sizeof(Vertex), offset = 0;
    context->IASetVertexBuffers(0, 1, &mesh.mVertexBuffer, &stride, &offset);
    context->IASetIndexBuffer(mesh.mIndexBuffer, DXGI_FORMAT_R32_UINT, 0);
    context->IASetInputLayout(shader.mInputLayout);
    context->VSSetShader(shader.mVertexShader, nullptr, 0);
    context->PSSetShader(shader.mPixelShader, nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &objectBuffer);
    context->PSSetConstantBuffers(1, 1, &materialBuffer);
    context->PSSetConstantBuffers(2, 1, &lightBuffer);
    context->DrawIndexed(mesh.mIndexCount, 0, 0);

    // Corners at pixels (16, 48), (48, 48) and (32, 16); a step inside each is lit, outside stays black.
    const uint32_t lit = d3d11test::Rgba(255, 255, 255);
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 18, 46), lit);
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 46, 46), lit);
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 32, 19), lit);
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 32, 40), lit);
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 14, 46), d3d11test::Rgba(0, 0, 0));
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 50, 46), d3d11test::Rgba(0, 0, 0));
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 32, 13), d3d11test::Rgba(0, 0, 0));
    EXPECT_EQ(d3d11test::ReadPixel(target.srv, 32, 51), d3d11test::Rgba(0, 0, 0));

    for (IUnknown* o : std::initializer_list<IUnknown*>{noCull, objectBuffer, materialBuffer, lightBuffer,
                                                        target.rtv, target.dsv, target.srv})
        o->Release();
}

TEST_F(MeshTest, CopiesShareArraysAndAssignmentReleasesTheTargetsBuffers) {
    ID3D11Device* device = mDevice->GetD3DDevice();
    const std::size_t live = d3d11test::LiveObjects();
    Mesh a("a");
    a.SetVertices({Vertex{}, Vertex{}, Vertex{}});
    a.SetIndices({0, 1, 2});
    a.mVisible = false;
    a.mTransparent = true;
    ASSERT_TRUE(a.CreateBuffers(device));
    Mesh b(a);
    EXPECT_EQ(b.mVertexBuffer, nullptr);
    EXPECT_EQ(b.mIndexBuffer, nullptr);
    EXPECT_TRUE(b.mVisible) << "a copy starts visible";
    EXPECT_TRUE(b.mTransparent);
    EXPECT_EQ(b.mVertexData.pSysMem, a.mVertexData.pSysMem);
    ASSERT_TRUE(b.CreateBuffers(device));
    EXPECT_EQ(d3d11test::LiveObjects(), live + 4);

    Mesh c("c");
    c.SetVertices({Vertex{}});
    c.SetIndices({0});
    ASSERT_TRUE(c.CreateBuffers(device));
    EXPECT_EQ(d3d11test::LiveObjects(), live + 6);
    // Assignment releases the target's buffers and takes the visible flag.
    c = a;
    EXPECT_FALSE(c.mVisible);
    EXPECT_EQ(c.mVertexBuffer, nullptr);
    EXPECT_EQ(d3d11test::LiveObjects(), live + 4);
    b = a;
    EXPECT_EQ(b.mVertexBuffer, nullptr);
    EXPECT_EQ(d3d11test::LiveObjects(), live + 2);
    {
        // The arrays outlive the mesh that made them while a copy holds them.
        Mesh d("d");
        d.SetVertices({MakeColouredVertex({7, 8, 9}, a.mColour, 0, 0)});
        b = d;
    }
    EXPECT_EQ(static_cast<const Vertex*>(b.mVertexData.pSysMem)->position[2], 9.0f);
}

// Building, copying, assigning and destroying meshes and debug models, and reloading every manager,
// leave the Direct3D objects where they were (the heap is LeakSanitizer's to check).
TEST_F(MeshTest, ChurnLeavesNothingBehind) {
    ID3D11Device* device = mDevice->GetD3DDevice();
    ::testing::internal::CaptureStdout();
    ResourceHub hub(mDevice.get(), 0);
    const std::size_t live = d3d11test::LiveObjects();
    const float colour[4] = {1, 0, 0, 1};
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int round = 0; round < 1000; ++round) {
        DebugModel box({0, 0, 0}, {1, 1, 1}, colour, identity, mDevice.get());
        DebugModel sphere({0, 0, 0}, 1.0f, colour, round % 10 ? nullptr : mDevice.get());
        DebugModel copy(box);
        copy.mMeshes[0].mesh->CreateBuffers(device);
        Mesh assigned("x");
        assigned.CreateBuffers(device);
        assigned = *sphere.mMeshes[0].mesh;
        assigned.CreateBuffers(device);
        *copy.mMeshes[0].mesh = assigned;
    }
    for (int i = 0; i < 10; ++i) {
        hub.LoadResource("Player1_Flare.png", RESOURCE_TEXTURE);
        hub.LoadResource("animationshader", RESOURCE_SHADER);
        hub.mModelManager->ReloadResources();
        hub.mTextureManager->ReloadResources();
        hub.mShaderManager->ReloadResources();
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(d3d11test::LiveObjects(), live);
}

} // namespace
