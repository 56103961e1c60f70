#include "SceneTestSupport.h"

#include <MatrixHelpers.h>
#include <resources/DXTexture.h>

#include <cstring>

namespace {

using scenetest::SceneTest;
using scenetest::Vector3;
using scenetest::Vector4;
using Vectormath::Aos::Matrix4;

std::vector<d3d11test::Call> Named(const std::vector<d3d11test::Call>& calls, const std::string& name) {
    std::vector<d3d11test::Call> out;
    for (const auto& c : calls)
        if (c.name == name) out.push_back(c);
    return out;
}

// The bytes of every whole upload of a buffer of `size` bytes, in order.
std::vector<std::vector<uint8_t>> Uploads(const std::vector<d3d11test::Call>& calls, std::size_t size) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& c : Named(calls, "UpdateSubresource"))
        if (c.bytes.size() == size) out.push_back(c.bytes);
    return out;
}

std::vector<float> Floats(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t count) {
    std::vector<float> out(count);
    std::memcpy(out.data(), bytes.data() + offset, count * 4);
    return out;
}

std::vector<float> Stored(const Matrix4& m) {
    std::vector<float> out(16);
    std::memcpy(out.data(), &m, 64);
    return out;
}

std::vector<float> RowMajor(const FbxAMatrix& m) {
    std::vector<float> out(16);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[std::size_t(4 * r + c)] = float(m.Get(r, c));
    return out;
}

const std::vector<float> kIdentity(kIdentityTransform, kIdentityTransform + 16);

class DrawMesh : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        mMesh.SetVertices({Vertex{}, Vertex{}, Vertex{}});
        mMesh.SetIndices({0, 1, 2});
    }
    void TearDown() override {
        mMesh.ReleaseBuffers();
        SceneTest::TearDown();
    }
    std::vector<d3d11test::Call> Draw(Mesh& mesh) {
        d3d11test::RecordCalls(true);
        EXPECT_EQ(mDevice->DrawMesh(mesh), 1);
        return d3d11test::TakeCalls();
    }
    Mesh mMesh{"m"};
};

TEST_F(DrawMesh, BuffersAreMadeOnTheFirstDrawOnly) {
    auto calls = Draw(mMesh);
    const auto created = Named(calls, "CreateBuffer");
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0].args, (std::vector<double>{12, 0, 2, 0, 0, 0})); // the indices first
    EXPECT_EQ(created[1].args, (std::vector<double>{372, 0, 1, 0, 0, 0}));
    const auto strides = Named(calls, "IASetVertexBuffers");
    ASSERT_EQ(strides.size(), 1u);
    EXPECT_EQ(strides[0].args[3], 124); // start, count, buffer, stride, offset
    EXPECT_EQ(Named(calls, "IASetIndexBuffer")[0].args[1], 42);
    calls = Draw(mMesh);
    EXPECT_TRUE(Named(calls, "CreateBuffer").empty());
    // The four constant buffers go to their slots every draw; no skinning for this shader.
    EXPECT_EQ(Uploads(calls, 352).size(), 1u);
    EXPECT_EQ(Uploads(calls, 208).size(), 1u);
    EXPECT_EQ(Uploads(calls, 10256).size(), 1u);
    EXPECT_TRUE(Uploads(calls, 12800).empty());
    EXPECT_EQ(Named(calls, "VSSetConstantBuffers")[0].args[0], 0);
    const auto ps = Named(calls, "PSSetConstantBuffers");
    ASSERT_EQ(ps.size(), 2u);
    EXPECT_EQ(ps[0].args[0], 1);
    EXPECT_EQ(ps[1].args[0], 2);
}

TEST_F(DrawMesh, TextureSlotsRepeatTheLastName) {
    auto view = [this](const char* name) {
        return double(reinterpret_cast<uintptr_t>(
            dynamic_cast<DXTexture*>(mHub->mTextureManager->GetResource(name))->mView));
    };
    const double key = view("keyHUDicon.png"), cell = view("powercellHUDicon.png"),
                 fallback = view("defaulttexture");
    struct Case {
        std::vector<std::string> names;
        std::vector<double> slots;
    };
    const Case cases[] = {
        {{"keyHUDicon.png"}, {key, key, key}},
        {{"keyHUDicon.png", "powercellHUDicon.png"}, {key, cell, cell}},
        {{"powercellHUDicon.png", "nothing.png", "keyHUDicon.png", "ignored.png"}, {cell, fallback, key}},
    };
    for (const Case& c : cases) {
        mMesh.mTextureNames = c.names;
        const auto bound = Named(Draw(mMesh), "PSSetShaderResources");
        ASSERT_EQ(bound.size(), 1u);
        EXPECT_EQ(bound[0].args, (std::vector<double>{0, 3, c.slots[0], c.slots[1], c.slots[2]}));
    }
    mMesh.mTextureNames.clear();
    EXPECT_TRUE(Named(Draw(mMesh), "PSSetShaderResources").empty()) << "no names bind nothing";
}

TEST_F(DrawMesh, ObjectBufferLayout) {
    CameraConstants& k = mDevice->Constants();
    auto numbered = [](float base) {
        Matrix4 m;
        for (int i = 0; i < 16; ++i)
            m.setElem(i / 4, i % 4, base + float(i));
        return m;
    };
    k.combined = numbered(100);
    k.world = Matrix4::translation(Vector3(1, 2, 3)) * Matrix4::scale(Vector3(2, 2, 2));
    k.view = numbered(200);
    k.projection = numbered(300);
    k.cameraPosition = Vector4(7, 8, 9, 0);
    k.cameraLookAt = Vector4(0, 0, -1, 0);
    const auto uploads = Uploads(Draw(mMesh), 352);
    ASSERT_EQ(uploads.size(), 1u);
    const auto& b = uploads[0];
    Matrix4 inverse;
    InvertMatrix(inverse, k.world);
    EXPECT_EQ(Floats(b, 0, 16), Stored(k.combined));
    EXPECT_EQ(Floats(b, 64, 16), Stored(transpose(k.world)));
    EXPECT_EQ(Floats(b, 128, 16), Stored(inverse));
    EXPECT_EQ(Floats(b, 192, 16), Stored(transpose(k.view)));
    EXPECT_EQ(Floats(b, 256, 16), Stored(transpose(k.projection)));
    EXPECT_EQ(Floats(b, 320, 8), (std::vector<float>{7, 8, 9, 0, 0, 0, -1, 0}));
}

// Three joints, the middle one without keys; the model's key is past the first joint's last key.
TEST_F(DrawMesh, BonePaletteFromTheJointsAndIdentityAfterThem) {
    Model model("skinned");
    for (int j = 0; j < 3; ++j) {
        Joint joint;
        joint.name = "joint" + std::to_string(j);
        joint.bindPoseInverse = FbxAMatrix(FbxVector4(0, 0, -j), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1));
        const int keys = j == 1 ? 0 : (j == 0 ? 3 : 6);
        for (int f = 0; f < keys; ++f)
            joint.keys.push_back(
                {f, FbxAMatrix(FbxVector4(j, f, 0), FbxVector4(0, 0, 10.0 * f), FbxVector4(1, 1, 1))});
        model.mSkeleton.push_back(joint);
    }
    model.mCurrentKey = 4;
    mMesh.mOwner = &model;
    mMesh.mShaderName = "AnimationShader";
    auto calls = Draw(mMesh);
    EXPECT_TRUE(Uploads(calls, 12800).empty()) << "the name is compared exactly";
    mMesh.mShaderName = "animationshader";
    calls = Draw(mMesh);
    const auto uploads = Uploads(calls, 12800);
    ASSERT_EQ(uploads.size(), 1u);
    const auto& b = uploads[0];
    EXPECT_EQ(Floats(b, 0, 16), RowMajor(model.mSkeleton[0].keys[2].transform)) << "held at its last key";
    EXPECT_EQ(Floats(b, 6400, 16), RowMajor(model.mSkeleton[0].bindPoseInverse));
    EXPECT_EQ(Floats(b, 64, 16), kIdentity);
    EXPECT_EQ(Floats(b, 6400 + 64, 16), kIdentity);
    EXPECT_EQ(Floats(b, 128, 16), RowMajor(model.mSkeleton[2].keys[4].transform));
    EXPECT_EQ(Floats(b, 6400 + 128, 16), RowMajor(model.mSkeleton[2].bindPoseInverse));
    for (std::size_t k = 3; k < 100; ++k)
        ASSERT_EQ(Floats(b, 64 * k, 16), kIdentity) << k;
    bool slot3 = false;
    for (const auto& c : Named(calls, "VSSetConstantBuffers"))
        slot3 |= c.args[0] == 3;
    EXPECT_TRUE(slot3);
}

// Models with more than 100 joints are drawn with the first 100.
TEST_F(DrawMesh, OnlyTheFirstHundredJointsReachThePalette) {
    Model model("crowd");
    for (int j = 0; j < 150; ++j) {
        Joint joint;
        joint.keys.push_back({0, FbxAMatrix(FbxVector4(j, 0, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1))});
        model.mSkeleton.push_back(joint);
    }
    mMesh.mOwner = &model;
    mMesh.mShaderName = "animationshader";
    const auto uploads = Uploads(Draw(mMesh), 12800);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(Floats(uploads[0], 64 * 99, 16), RowMajor(model.mSkeleton[99].keys[0].transform));
    EXPECT_EQ(Floats(uploads[0], 6400 + 64 * 99, 16), RowMajor(model.mSkeleton[99].bindPoseInverse));
}

// The opaque pass fills the materials and the colour, and the lights, before each mesh is drawn.
TEST_F(DrawMesh, MaterialAndLightingUploads) {
    auto withMaterials = [](std::size_t count) {
        return [count](const std::string& name, DXDevice*) {
            Model* model = scenetest::MakeModel(name, {Vertex{}, Vertex{}, Vertex{}}, {0, 1, 2});
            for (std::size_t m = 0; m < count; ++m) {
                Material material;
                const float v = float(m + 1);
                material.ambient[0] = v;
                material.diffuse[1] = 10 * v;
                material.specular[2] = 100 * v;
                material.shininess = 1000 * v;
                model->mMeshes[0].mesh->mMaterials.push_back(material);
            }
            return model;
        };
    };
    LoadModel("two", withMaterials(2));
    LoadModel("five", withMaterials(5));
    AddCamera(Vector3(0, 0, 5));
    auto lightObject = MakeObject(Vector3(1, 2, 3));
    auto light = Give<Light>(lightObject, "Light");
    light->SetLightType(LIGHT_DIRECTIONAL);
    light->SetRange(42.0f);
    Engine::RunFrames(1, 0.016f);
    auto object = MakeObject(Vector3(0, 0, 0));
    auto renderable = AddRenderable(object, "two", Vector4(0.25f, 0.5f, 0.75f, 1));
    gfxtest::Recorder errors({MessageType::Error});
    d3d11test::RecordCalls(true);
    Frame();
    auto calls = d3d11test::TakeCalls();
    auto materials = Uploads(calls, 208);
    ASSERT_EQ(materials.size(), 1u);
    const auto& b = materials[0];
    EXPECT_EQ(Floats(b, 0, 3), (std::vector<float>{1, 1, 1}));
    EXPECT_EQ(Floats(b, 16, 3), (std::vector<float>{1, 10, 1}));
    EXPECT_EQ(Floats(b, 32, 4), (std::vector<float>{1, 1, 100, 1000}));
    EXPECT_EQ(Floats(b, 48 + 32, 4), (std::vector<float>{1, 1, 200, 2000}));
    for (int m = 2; m < 4; ++m) {
        EXPECT_EQ(Floats(b, 48 * m, 3), (std::vector<float>{1, 1, 1})) << m;
        EXPECT_EQ(Floats(b, 48 * m + 16, 3), (std::vector<float>{1, 1, 1})) << m;
        EXPECT_EQ(Floats(b, 48 * m + 32, 4), (std::vector<float>{1, 1, 1, 32})) << m;
    }
    EXPECT_EQ(Floats(b, 192, 4), (std::vector<float>{0.25f, 0.5f, 0.75f, 1}));
    EXPECT_TRUE(errors.seen.empty());

    const auto lighting = Uploads(calls, 10256);
    ASSERT_EQ(lighting.size(), 1u);
    const auto& l = lighting[0];
    std::int32_t type;
    std::memcpy(&type, l.data() + 12, 4);
    EXPECT_EQ(type, LIGHT_DIRECTIONAL);
    EXPECT_EQ(Floats(l, 44, 1)[0], 42.0f);
    EXPECT_EQ(Floats(l, 8192, 4), (std::vector<float>{1, 2, 3, 1}));
    EXPECT_EQ(Floats(l, 8192 + 16, 4), (std::vector<float>{0, 0, 0, 1}));
    EXPECT_EQ(Floats(l, 10240, 3), (std::vector<float>{0.01f, 0.01f, 0.01f}));
    std::uint32_t count;
    std::memcpy(&count, l.data() + 10252, 4);
    EXPECT_EQ(count, 1u);

    // Five materials: reported (not fatal), the first four written.
    renderable->SetModel("five");
    d3d11test::RecordCalls(true);
    Frame();
    materials = Uploads(d3d11test::TakeCalls(), 208);
    ASSERT_EQ(materials.size(), 1u);
    EXPECT_EQ(Floats(materials[0], 48 * 3 + 32, 4), (std::vector<float>{1, 1, 400, 4000}));
    ASSERT_EQ(errors.ErrorTexts(), std::vector<std::string>{"Mesh has more materials than current maximum!"});
    EXPECT_FALSE(dynamic_cast<const ErrorMessage*>(errors.seen[0].get())->GetIsFatal());
}

} // namespace
