#include "ResourceTestSupport.h"

#include <resources/ProceduralModels.h>

#include <cstring>

namespace {

class ProceduralModelsTest : public restest::ResourceTest {};

void ExpectPosition(const Vertex& v, float x, float y, float z, const char* what) {
    EXPECT_NEAR(v.position[0], x, 1e-5) << what;
    EXPECT_NEAR(v.position[1], y, 1e-5) << what;
    EXPECT_NEAR(v.position[2], z, 1e-5) << what;
    EXPECT_EQ(v.position[3], 1.0f) << what;
}

TEST_F(ProceduralModelsTest, CubeHasTheTablesVerticesAndIndicesInBuffersMadeAtOnce) {
    d3d11test::RecordCalls(true);
    Cube cube("splashcube", mDevice.get());
    const auto buffers = Named(d3d11test::TakeCalls(), "CreateBuffer");
    ASSERT_EQ(cube.mMeshes.size(), 1u);
    const Mesh& mesh = *cube.mMeshes[0].mesh;
    EXPECT_EQ(mesh.mName, "CubeMesh");
    EXPECT_EQ(mesh.mOwner, &cube);
    EXPECT_EQ(std::memcmp(cube.mMeshes[0].transform, kIdentityTransform, sizeof kIdentityTransform), 0);
    EXPECT_EQ(mesh.mVertexCount, 24u);
    EXPECT_EQ(mesh.mIndexCount, 36u);
    EXPECT_EQ(mesh.mVertexDesc.ByteWidth, 2976u);
    EXPECT_EQ(mesh.mIndexDesc.ByteWidth, 144u);
    ASSERT_NE(mesh.mVertexBuffer, nullptr);
    ASSERT_NE(mesh.mIndexBuffer, nullptr);
    ASSERT_EQ(buffers.size(), 2u);
    // The buffers hold exactly the mesh's arrays.
    EXPECT_EQ(buffers[0].args, (std::vector<double>{2976, 0, 1, 0, 0, 0}));
    ASSERT_EQ(buffers[0].bytes.size(), 2976u);
    EXPECT_EQ(std::memcmp(buffers[0].bytes.data(), mesh.Vertices(), 2976), 0);
    EXPECT_EQ(buffers[1].args, (std::vector<double>{144, 0, 2, 0, 0, 0}));
    ASSERT_EQ(buffers[1].bytes.size(), 144u);
    EXPECT_EQ(std::memcmp(buffers[1].bytes.data(), mesh.Indices(), 144), 0);

    const Vertex* v = mesh.Vertices();
    ExpectPosition(v[0], -0.5f, -0.5f, -0.5f, "vertex 0");
    ExpectPosition(v[10], 0.5f, 0.5f, 0.5f, "vertex 10");
    ExpectPosition(v[23], 0.5f, -0.5f, 0.5f, "vertex 23");
    EXPECT_EQ(v[2].texCoord[0], -1.0f);
    EXPECT_EQ(v[2].texCoord[1], 0.0f);
    EXPECT_EQ(v[12].texCoord[0], -1.0f);
    EXPECT_EQ(v[12].texCoord[1], 1.0f);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(std::vector<float>(v[i].colour, v[i].colour + 4),
                  (std::vector<float>{0.7f, 0.0f, 0.2f, 1.0f}));
        EXPECT_EQ(std::vector<float>(v[i].normal, v[i].normal + 3), (std::vector<float>{0, 0, 0}));
    }
    const std::uint32_t* idx = mesh.Indices();
    EXPECT_EQ(std::vector<std::uint32_t>(idx, idx + 6), (std::vector<std::uint32_t>{4, 5, 6, 4, 6, 7}));
    EXPECT_EQ(std::vector<std::uint32_t>(idx + 30, idx + 36),
              (std::vector<std::uint32_t>{20, 21, 22, 20, 22, 23}));
}

TEST_F(ProceduralModelsTest, BoxSpansHalfItsSizeAroundTheCentre) {
    const float colour[4] = {0, 1, 0, 1};
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    DebugModel box({10, 20, 30}, {2, 4, 6}, colour, identity, mDevice.get());
    EXPECT_EQ(box.mName, "debugbox");
    EXPECT_EQ(box.mIsDebug, 1);
    const Mesh& mesh = *box.mMeshes[0].mesh;
    ASSERT_EQ(mesh.mVertexCount, 8u);
    const Vertex* v = mesh.Vertices();
    ExpectPosition(v[0], 11, 22, 27, "corner 0");
    ExpectPosition(v[2], 9, 18, 27, "corner 2");
    ExpectPosition(v[4], 11, 22, 33, "corner 4");
    ExpectPosition(v[6], 9, 18, 33, "corner 6");
    EXPECT_EQ(mesh.mIndexCount, 24u);
    EXPECT_EQ(
        std::vector<std::uint32_t>(mesh.Indices(), mesh.Indices() + 24),
        (std::vector<std::uint32_t>{0, 1, 1, 2, 2, 3, 3, 0, 0, 4, 3, 7, 2, 6, 1, 5, 4, 5, 5, 6, 6, 7, 7, 4}));
    // A turned box: its rows are the axes its size runs along.
    const float turned[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    DebugModel turnedBox({0, 0, 0}, {2, 4, 6}, colour, turned, mDevice.get());
    ExpectPosition(turnedBox.mMeshes[0].mesh->Vertices()[0], -2, 1, -3, "turned corner 0");
}

TEST_F(ProceduralModelsTest, SphereAndLine) {
    const float colour[4] = {1, 0, 0, 1};
    DebugModel sphere({1, 2, 3}, 0.0f, colour, mDevice.get());
    const Mesh& mesh = *sphere.mMeshes[0].mesh;
    EXPECT_EQ(sphere.mName, "debugsphere");
    ASSERT_EQ(mesh.mVertexCount, 441u);
    for (std::uint32_t i = 0; i < 441; ++i)
        ExpectPosition(mesh.Vertices()[i], 1, 2, 3, "sphere of radius 0");
    ASSERT_EQ(mesh.mIndexCount, 2520u);
    const std::uint32_t* last = mesh.Indices() + 2514;
    EXPECT_EQ(std::vector<std::uint32_t>(last, last + 6),
              (std::vector<std::uint32_t>{420, 419, 440, 439, 440, 419}));

    DebugModel unit({0, 0, 0}, 2.0f, colour, mDevice.get());
    const Vertex* v = unit.mMeshes[0].mesh->Vertices();
    ExpectPosition(v[0], 0, 2, 0, "north pole");
    ExpectPosition(v[21 * 20], 0, -2, 0, "south pole");
    ExpectPosition(v[21 * 10 + 5], 2, 0, 0, "equator, a quarter round");
    EXPECT_FLOAT_EQ(v[21 * 10 + 5].texCoord[0], -0.25f);
    EXPECT_FLOAT_EQ(v[21 * 10 + 5].texCoord[1], 0.5f);

    DebugModel line({0, 0, 0}, {1, 2, 3}, colour, mDevice.get());
    EXPECT_EQ(line.mName, "debugline");
    ExpectPosition(line.mMeshes[0].mesh->Vertices()[1], 1, 2, 3, "line end");
    EXPECT_EQ(line.mMeshes[0].mesh->mIndexCount, 2u);
}

TEST_F(ProceduralModelsTest, CopiedDebugModelHasNoBuffersAndIdentityTransforms) {
    const float colour[4] = {1, 1, 0, 1};
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    DebugModel box({0, 0, 0}, {1, 1, 1}, colour, identity, mDevice.get());
    box.mMeshes[0].transform[3] = 5.0f;
    const std::size_t live = d3d11test::LiveObjects();
    {
        DebugModel copy(box);
        EXPECT_EQ(copy.mName, "debugbox");
        EXPECT_EQ(copy.mIsDebug, 1);
        ASSERT_EQ(copy.mMeshes.size(), 1u);
        const Mesh& mesh = *copy.mMeshes[0].mesh;
        EXPECT_EQ(mesh.mVertexBuffer, nullptr);
        EXPECT_EQ(mesh.mIndexBuffer, nullptr);
        EXPECT_EQ(mesh.mOwner, &copy);
        EXPECT_EQ(mesh.Vertices(), box.mMeshes[0].mesh->Vertices()); // shared, not copied
        EXPECT_EQ(std::memcmp(copy.mMeshes[0].transform, kIdentityTransform, sizeof kIdentityTransform), 0);
        ASSERT_TRUE(copy.mMeshes[0].mesh->CreateBuffers(mDevice->GetD3DDevice()));
    }
    // The copy released its own buffers and nothing of the source's.
    EXPECT_EQ(d3d11test::LiveObjects(), live);
    EXPECT_NE(box.mMeshes[0].mesh->mVertexBuffer, nullptr);
}

TEST_F(ProceduralModelsTest, VertexHelpers) {
    const float colour[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    const Vertex c = MakeColouredVertex({1, 2, 3}, colour, 0.5f, 0.25f);
    ExpectPosition(c, 1, 2, 3, "coloured");
    EXPECT_EQ(std::vector<float>(c.normal, c.normal + 3), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(c.colour[3], 0.4f);
    const std::uint32_t joints[4] = {1, 2, 3, 4};
    const float weights[4] = {0.4f, 0.3f, 0.2f, 0.1f};
    const Vertex f =
        MakeFullVertex({1, 2, 3}, colour, {0, 1, 0}, 0.5f, 0.25f, joints, weights, 7, {1, 1, 1}, {2, 2, 2});
    EXPECT_EQ(f.blendIndices[3], 4u);
    EXPECT_EQ(f.blendWeights[0], 0.4f);
    EXPECT_EQ(f.textureIndex, 7u);
    EXPECT_EQ(f.extraB[2], 2.0f);
    EXPECT_EQ(std::vector<std::uint32_t>(f.reserved, f.reserved + 3), (std::vector<std::uint32_t>{0, 0, 0}));
    const Vertex m = MakeMovedVertex(f, {10, 10, 10});
    ExpectPosition(m, 11, 12, 13, "moved");
    EXPECT_EQ(m.texCoord[1], 0.25f);
    EXPECT_EQ(m.colour[1], 0.2f);
    EXPECT_EQ(std::vector<float>(m.normal, m.normal + 3), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(m.blendIndices[0], 0u);
    EXPECT_EQ(m.blendWeights[0], 0.0f);
    EXPECT_EQ(m.textureIndex, 0u);
    EXPECT_EQ(m.extraA[0], 0.0f);
}

} // namespace
