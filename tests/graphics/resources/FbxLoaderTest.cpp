#include "ResourceTestSupport.h"

#include <resources/FBXLoader.h>
#include <resources/ResourceHub.h>

#include <fbx_test_control.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>

namespace {

namespace fs = std::filesystem;

const fs::path kModels = TORVIK_TEST_MODELS;

FbxAMatrix Place(FbxVector4 t, FbxVector4 r = {0, 0, 0}, FbxVector4 s = {1, 1, 1}) {
    return FbxAMatrix(t, r, s);
}

void ExpectNear(const FbxAMatrix& a, const FbxAMatrix& b, double tolerance = 1e-5) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.Get(r, c), b.Get(r, c), tolerance) << r << "," << c;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Hand-built scenes for the cases no file read through the importer holds, by the file name's end.
void BuildScenes(std::map<std::string, std::function<void(FbxScene&)>> scenes) {
    fbxtest::SetSceneBuilder([scenes](const std::string& file, FbxScene& scene) {
        for (const auto& [name, build] : scenes)
            if (EndsWith(file, name)) {
                build(scene);
                return true;
            }
        return false;
    });
}

const std::vector<FbxVector4> kTriangle = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};

class FbxLoaderTest : public restest::ResourceTest {
protected:
    void SetUp() override {
        ResourceTest::SetUp();
        for (const auto& entry : fs::directory_iterator(kModels))
            fs::copy_file(entry.path(), mRoot / "Resources" / "Models" / entry.path().filename());
    }
    void TearDown() override {
        fbxtest::SetSceneBuilder({});
        FBXLoader::SetFactory({});
        mHub.reset();
        ResourceTest::TearDown();
    }

    // The model read by a loader of its own, with what it printed.
    std::unique_ptr<Model> Load(const std::string& name, std::string* printed = nullptr) {
        FBXLoader loader;
        ::testing::internal::CaptureStdout();
        Model* model =
            loader.LoadFBX(std::string("..\\..\\Resources\\Models\\") + name + ".fbx", name, mDevice.get());
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (printed) *printed = out;
        return std::unique_ptr<Model>(model);
    }

    std::unique_ptr<ResourceHub> mHub;
};

TEST_F(FbxLoaderTest, TwoMeshNodesGiveTwoMeshesWithTheirPlacesAndMaterials) {
    const auto model = Load("twomeshes");
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->mName, "twomeshes");
    ASSERT_EQ(model->mMeshes.size(), 2u);
    EXPECT_TRUE(model->mSkeleton.empty());
    EXPECT_EQ(model->mFirstFrame, 0);
    EXPECT_EQ(model->mLastFrame, 0);
    EXPECT_TRUE(model->mNodes.empty()) << "the scene is gone after the import";

    struct Expected {
        const char* name;
        FbxAMatrix place;
        std::uint32_t vertices, indices;
        float diffuse[3];
        float shininess;
        const char* texture;
    };
    const Expected cases[] = {
        {"partA", Place({1, 2, 3}), 4, 6, {0.8f, 0.2f, 0.2f}, 16.0f, "crate.png"},
        {"partB", Place({-2, 0, 0}, {0, 90, 0}), 3, 3, {0.2f, 0.2f, 0.8f}, 64.0f, "metal.png"},
    };
    for (std::size_t m = 0; m < 2; ++m) {
        const Expected& e = cases[m];
        SCOPED_TRACE(e.name);
        const MeshEntry& entry = model->mMeshes[m];
        const Mesh& mesh = *entry.mesh;
        EXPECT_EQ(mesh.mName, e.name);
        EXPECT_EQ(mesh.mOwner, model.get());
        const auto expected = FBXLoader::FbxAMatrixToMatrix(e.place);
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(entry.transform[i], expected[std::size_t(i)], 1e-5) << i;
        EXPECT_EQ(mesh.mVertexCount, e.vertices);
        EXPECT_EQ(mesh.mIndexCount, e.indices);
        EXPECT_EQ(mesh.mVertexDesc.ByteWidth, e.vertices * 124);
        EXPECT_EQ(mesh.mIndexDesc.ByteWidth, e.indices * 4);
        EXPECT_NE(mesh.mVertexBuffer, nullptr);
        EXPECT_NE(mesh.mIndexBuffer, nullptr);
        EXPECT_EQ(mesh.mTextureNames, std::vector<std::string>{"defaulttexture"});
        for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v) {
            const Vertex& vertex = mesh.Vertices()[v];
            EXPECT_EQ(vertex.position[3], 1.0f);
            EXPECT_EQ(vertex.colour[3], 1.0f);
            EXPECT_NEAR(vertex.normal[2], 1.0f, 1e-6);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(vertex.blendWeights[k], 0.0f) << "no skeleton, no weights";
            EXPECT_EQ(vertex.textureIndex, 0u);
        }
        ASSERT_EQ(mesh.mMaterials.size(), 1u);
        const Material& material = mesh.mMaterials[0];
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(material.diffuse[i], e.diffuse[i], 1e-6);
        EXPECT_NEAR(material.shininess, e.shininess, 1e-6);
        EXPECT_EQ(material.diffuseTexture, e.texture);
        EXPECT_EQ(material.specularTexture, "");
    }
    // V is flipped: the file's (1, 1) corner reads (1, 0).
    bool flipped = false;
    for (std::uint32_t v = 0; v < model->mMeshes[0].mesh->mVertexCount; ++v) {
        const Vertex& vertex = model->mMeshes[0].mesh->Vertices()[v];
        flipped = flipped ||
                  (vertex.position[0] == 1.0f && vertex.position[1] == 1.0f && vertex.texCoord[1] == 0.0f);
    }
    EXPECT_TRUE(flipped);
}

TEST_F(FbxLoaderTest, CornersMergeWithinTheToleranceOnly) {
    const auto model = Load("corners");
    ASSERT_NE(model, nullptr);
    const Mesh& mesh = *model->mMeshes.at(0).mesh;
    // The corner 0.00002 away stays a vertex of its own; the one 0.000005 away joins the first.
    ASSERT_EQ(mesh.mVertexCount, 4u);
    const std::vector<std::uint32_t> indices(mesh.Indices(), mesh.Indices() + mesh.mIndexCount);
    EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 2, 0, 1, 2}));
    EXPECT_NEAR(mesh.Vertices()[3].texCoord[0] - mesh.Vertices()[0].texCoord[0], 0.00002f, 1e-6);
}

TEST_F(FbxLoaderTest, SixInfluencesKeepTheFourHeaviestLargestFirst) {
    const auto model = Load("sixinfluences");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mSkeleton.size(), 6u);
    const Mesh& mesh = *model->mMeshes.at(0).mesh;
    const Vertex* centre = nullptr;
    for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v)
        if (mesh.Vertices()[v].position[0] == 0.0f && mesh.Vertices()[v].position[1] == 0.0f)
            centre = &mesh.Vertices()[v];
    ASSERT_NE(centre, nullptr);
    // Weights 0.05, 0.28, 0.1, 0.22, 0.15, 0.2 on joints 0 to 5.
    EXPECT_EQ(std::vector<std::uint32_t>(centre->blendIndices, centre->blendIndices + 4),
              (std::vector<std::uint32_t>{1, 3, 5, 4}));
    const float weights[4] = {0.28f, 0.22f, 0.2f, 0.15f};
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(centre->blendWeights[k], weights[k], 1e-6);
    // A file without a take: the joints keep their bind poses and have no keys.
    for (const Joint& joint : model->mSkeleton)
        EXPECT_TRUE(joint.keys.empty());
    ExpectNear(model->mSkeleton[1].bindPoseInverse, Place({-1, 0, 0}));
    EXPECT_EQ(model->mFirstFrame, 0);
    EXPECT_EQ(model->mLastFrame, 0);
}

TEST_F(FbxLoaderTest, AJointOfAHundredOrMoreIsWrittenAsItStands) {
    const auto model = Load("highjoint");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mSkeleton.size(), 101u);
    const Mesh& mesh = *model->mMeshes.at(0).mesh;
    const Vertex& first = mesh.Vertices()[mesh.Indices()[0]];
    EXPECT_EQ(first.blendIndices[0], 100u);
    EXPECT_EQ(first.blendIndices[1], 1u);
    EXPECT_NEAR(first.blendWeights[0], 0.7f, 1e-6);
    EXPECT_NEAR(first.blendWeights[1], 0.3f, 1e-6);
    EXPECT_EQ(first.blendWeights[2], 0.0f);
}

TEST_F(FbxLoaderTest, ASkinnedFileGivesEveryJointAKeyPerFrame) {
    const auto model = Load("skinned");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mSkeleton.size(), 3u);
    const std::pair<const char*, int> joints[] = {{"hip", -1}, {"knee", 0}, {"foot", 1}};
    for (std::size_t j = 0; j < 3; ++j) {
        const Joint& joint = model->mSkeleton[j];
        EXPECT_EQ(joint.name, joints[j].first);
        EXPECT_EQ(joint.parent, joints[j].second);
        // The reader starts the file's frames 10 to 20 at 0.
        ASSERT_EQ(joint.keys.size(), 11u) << joint.name;
        for (std::size_t k = 0; k < 11; ++k)
            EXPECT_EQ(joint.keys[k].frame, std::int64_t(k));
    }
    EXPECT_EQ(model->mFirstFrame, 0);
    EXPECT_EQ(model->mLastFrame, 10);
    // The knee bends: its first and last keys differ; a middle vertex is split between two joints.
    EXPECT_FALSE(model->mSkeleton[1].keys.front().transform == model->mSkeleton[1].keys.back().transform);
    bool split = false;
    const Mesh& mesh = *model->mMeshes.at(0).mesh;
    for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v) {
        const Vertex& vertex = mesh.Vertices()[v];
        if (vertex.position[1] == 1.0f) {
            split = true;
            EXPECT_EQ(vertex.blendIndices[0], 1u);
            EXPECT_NEAR(vertex.blendWeights[0], 0.6f, 1e-6);
            EXPECT_EQ(vertex.blendIndices[1], 0u);
            EXPECT_NEAR(vertex.blendWeights[1], 0.4f, 1e-6);
        }
    }
    EXPECT_TRUE(split);
}

TEST_F(FbxLoaderTest, AnIdentityAnimationReproducesTheBindPose) {
    const auto model = Load("onejoint");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mSkeleton.size(), 1u);
    const Joint& bone = model->mSkeleton[0];
    // The bone sits at (0, 1, 0) turned 30 degrees about Z; the mesh at (0.5, 0, 0).
    ExpectNear(bone.bindPoseInverse, Place({0, 1, 0}, {0, 0, 30}).Inverse() * Place({0.5, 0, 0}));
    ASSERT_FALSE(bone.keys.empty());
    for (const Keyframe& key : bone.keys)
        ExpectNear(key.transform * bone.bindPoseInverse, FbxAMatrix());
}

TEST_F(FbxLoaderTest, HandBuiltScenesPinTheFormulasAndTheFrameRange) {
    const FbxAMatrix link = Place({0, 2, 0}, {0, 0, 40});
    const FbxAMatrix transform = Place({1, 0, 0}, {10, 0, 0});
    BuildScenes({{"frames.fbx", [&](FbxScene& scene) {
                      FbxNode* root = scene.GetRootNode();
                      FbxNode* bone = fbxtest::AddSkeletonNode(root, "bone", link);
                      FbxNode* mesh = fbxtest::AddMeshNode(root, "mesh", kTriangle, {{{0, 1, 2}}});
                      mesh->mGeometricTranslation = FbxVector4(0, 0, 3, 0);
                      mesh->mGeometricScaling = FbxVector4(2, 2, 2, 0);
                      fbxtest::AddCluster(mesh, bone, link, transform, {0, 1, 2}, {1, 1, 1});
                      fbxtest::AddTake(scene, "take", 10, 20);
                  }}});
    const auto model = Load("frames");
    ASSERT_NE(model, nullptr);
    const Joint& bone = model->mSkeleton.at(0);
    const FbxAMatrix geometry(FbxVector4(0, 0, 3), FbxVector4(0, 0, 0), FbxVector4(2, 2, 2));
    // inverse(link) x transform x geometry: the inverse takes the link alone.
    ExpectNear(bone.bindPoseInverse, link.Inverse() * transform * geometry);
    ASSERT_EQ(bone.keys.size(), 11u);
    for (std::size_t k = 0; k < 11; ++k)
        EXPECT_EQ(bone.keys[k].frame, std::int64_t(10 + k));
    EXPECT_EQ(model->mFirstFrame, 10);
    EXPECT_EQ(model->mLastFrame, 20);
    // A key: inverse(mesh node's place x geometry) x the link's place.
    ExpectNear(bone.keys[0].transform, geometry.Inverse() * link);
}

TEST_F(FbxLoaderTest, TextureNamesLoseTheirFolders) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain.png", "plain.png"},
        {"C:\\art\\wood.png", "wood.png"},
        {"../art/stone.png", "stone.png"},
        {"mixed/a\\b.png", "b.png"},
        {"folder\\", ""},
    };
    for (const auto& [file, expected] : cases) {
        SCOPED_TRACE(file);
        const std::string path = file;
        BuildScenes(
            {{"named.fbx", [&](FbxScene& scene) {
                  FbxNode* node = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
                  auto phong = std::make_unique<FbxSurfacePhong>();
                  auto texture = std::make_unique<FbxFileTexture>();
                  texture->mFileName = path;
                  phong->mChannels["DiffuseColor"].push_back(std::move(texture));
                  auto specular = std::make_unique<FbxFileTexture>();
                  specular->mFileName = "spec\\" + path;
                  phong->mChannels["SpecularColor"].push_back(std::move(specular));
                  // A layered texture names no file of its own.
                  phong->mChannels["DiffuseColor"].push_back(std::make_unique<FbxLayeredTexture>());
                  node->mMaterials.push_back(std::move(phong));
              }}});
        const auto model = Load("named");
        ASSERT_NE(model, nullptr);
        ASSERT_EQ(model->mMeshes.at(0).mesh->mMaterials.size(), 1u);
        EXPECT_EQ(model->mMeshes[0].mesh->mMaterials[0].diffuseTexture, expected);
        EXPECT_EQ(model->mMeshes[0].mesh->mMaterials[0].specularTexture, expected);
    }
}

TEST_F(FbxLoaderTest, TheManagerGivesLoadedMeshesTheTextureShader) {
    mHub = std::make_unique<ResourceHub>(mDevice.get(), 0);
    ::testing::internal::CaptureStdout();
    mHub->LoadResource("twomeshes", ResourceType(0));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("LOADING MODEL: twomeshes\n"), std::string::npos) << out;
    auto* model = dynamic_cast<Model*>(mHub->mModelManager->GetResource("twomeshes"));
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mMeshes.size(), 2u);
    for (const MeshEntry& entry : model->mMeshes)
        EXPECT_EQ(entry.mesh->mShaderName, "textureshader");
}

// What each file that cannot become a model prints; the manager adds its own line.
TEST_F(FbxLoaderTest, BadFilesGiveNoModelAndTheManagerTriesAgain) {
    WriteResource("Models", "notfbx.fbx", "this is not a model\n");
    WriteResource("Models", "empty.fbx", "");
    BuildScenes({
        {"unknownjoint.fbx",
         [](FbxScene& scene) {
             FbxNode* root = scene.GetRootNode();
             fbxtest::AddSkeletonNode(root, "bone");
             FbxNode* stray = root->AddChild("stray");
             FbxNode* mesh = fbxtest::AddMeshNode(root, "mesh", kTriangle, {{{0, 1, 2}}});
             fbxtest::AddCluster(mesh, stray, FbxAMatrix(), FbxAMatrix(), {0}, {1});
         }},
        {"nolink.fbx",
         [](FbxScene& scene) {
             fbxtest::AddSkeletonNode(scene.GetRootNode(), "bone");
             FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
             fbxtest::AddCluster(mesh, nullptr, FbxAMatrix(), FbxAMatrix(), {0}, {1});
         }},
        {"badreference.fbx",
         [](FbxScene& scene) {
             FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
             mesh->GetMesh()->GetElementNormal(0)->mReferenceMode = FbxLayerElement::eIndex;
         }},
        {"baduvreference.fbx",
         [](FbxScene& scene) {
             FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
             mesh->GetMesh()->GetElementUV(0)->mReferenceMode = FbxLayerElement::eIndex;
         }},
        {"nouv.fbx",
         [](FbxScene& scene) {
             FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
             mesh->GetMesh()->mUVs.clear();
         }},
    });
    const std::string cannotRead =
        "Call to fbxsdk_2015_1::FbxImporter::Initialize() failed.\nError returned: ";
    const std::pair<const char*, std::string> cases[] = {
        {"missing", cannotRead},
        {"notfbx", cannotRead},
        {"empty", cannotRead},
        {"truncated", cannotRead},
        {"unknownjoint", "Skeleton information in FBX file is corrupted.\n"},
        {"nolink", "Skeleton information in FBX file is corrupted.\n"},
        {"badreference", "Invalid Reference\n"},
        {"baduvreference", "Invalid Reference\n"},
        {"nouv", "Invalid UV Layer Number\n"},
    };
    mHub = std::make_unique<ResourceHub>(mDevice.get(), 0);
    for (const auto& [name, line] : cases) {
        SCOPED_TRACE(name);
        const std::string file = std::string("..\\..\\Resources\\Models\\") + name + ".fbx";
        for (int attempt = 0; attempt < 2; ++attempt) {
            ::testing::internal::CaptureStdout();
            mHub->LoadResource(name, ResourceType(0));
            const std::string out = ::testing::internal::GetCapturedStdout();
            EXPECT_NE(out.find(std::string("LOADING MODEL: ") + name + "\n"), std::string::npos) << out;
            EXPECT_NE(out.find(line), std::string::npos) << out;
            EXPECT_NE(out.find("FAILED TO LOAD MODEL: " + file + "\n"), std::string::npos) << out;
            EXPECT_EQ(mHub->mModelManager->GetResource(name), nullptr);
        }
    }
    // The loader still reads a good file after them all.
    ::testing::internal::CaptureStdout();
    mHub->LoadResource("corners", ResourceType(0));
    ::testing::internal::GetCapturedStdout();
    EXPECT_NE(mHub->mModelManager->GetResource("corners"), nullptr);
}

TEST_F(FbxLoaderTest, AnImporterErrorLongerThanTheLineIsCut) {
    const std::string name(300, 'x');
    std::string out;
    EXPECT_EQ(Load(name, &out), nullptr);
    const auto at = out.find("Error returned: ");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.size() - at, 254u) << "255 characters with the end mark";
    EXPECT_NE(out.find(std::string(100, 'x')), std::string::npos) << "the error names the file";
}

TEST_F(FbxLoaderTest, ASkinWithoutATakeKeepsItsJointsWithoutKeys) {
    BuildScenes(
        {{"notake.fbx", [](FbxScene& scene) {
              FbxNode* bone = fbxtest::AddSkeletonNode(scene.GetRootNode(), "bone", Place({0, 1, 0}));
              FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
              fbxtest::AddCluster(mesh, bone, Place({0, 1, 0}), FbxAMatrix(), {0, 1, 2}, {1, 1, 1});
          }}});
    const auto model = Load("notake");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mSkeleton.size(), 1u);
    EXPECT_TRUE(model->mSkeleton[0].keys.empty());
    ExpectNear(model->mSkeleton[0].bindPoseInverse, Place({0, -1, 0}));
    EXPECT_EQ(model->mFirstFrame, 0);
    EXPECT_EQ(model->mLastFrame, 0);
}

// Layers a file may hold that the loader reads only in part: each corner or triangle takes the
// loader's default where the layer gives no value.
TEST_F(FbxLoaderTest, UnusualLayersGiveTheirDefaults) {
    struct Case {
        const char* name;
        std::function<void(FbxMesh&)> change;
        std::function<void(const Mesh&)> check;
    };
    const Case cases[] = {
        {"normals by edge are not read",
         [](FbxMesh& mesh) { mesh.GetElementNormal(0)->mMappingMode = FbxLayerElement::eByEdge; },
         [](const Mesh& mesh) {
             for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v)
                 EXPECT_EQ(mesh.Vertices()[v].normal[0], 1.0f);
         }},
        {"an index past the normals reads zero",
         [](FbxMesh& mesh) {
             auto* normals = mesh.GetElementNormal(0);
             normals->mReferenceMode = FbxLayerElement::eIndexToDirect;
             normals->mIndex.mValues = {0, 7, -3};
         },
         [](const Mesh& mesh) {
             ASSERT_EQ(mesh.mVertexCount, 3u);
             EXPECT_EQ(mesh.Vertices()[0].normal[2], 1.0f);
             EXPECT_EQ(mesh.Vertices()[1].normal[2], 0.0f);
             EXPECT_EQ(mesh.Vertices()[2].normal[2], 0.0f);
         }},
        {"UVs by corner through an index",
         [](FbxMesh& mesh) {
             auto* uvs = mesh.GetElementUV(0);
             uvs->mMappingMode = FbxLayerElement::eByPolygonVertex;
             uvs->mReferenceMode = FbxLayerElement::eIndexToDirect;
             uvs->mDirect.mValues = {{0.25, 0.75}, {0.5, 0.5}};
             uvs->mIndex.mValues = {1, 0, 1};
         },
         [](const Mesh& mesh) {
             ASSERT_EQ(mesh.mVertexCount, 3u);
             EXPECT_EQ(mesh.Vertices()[0].texCoord[0], 0.5f);
             EXPECT_EQ(mesh.Vertices()[1].texCoord[0], 0.25f);
             EXPECT_EQ(mesh.Vertices()[1].texCoord[1], 0.25f) << "V is flipped";
         }},
        {"one material for all", [](FbxMesh& mesh) { mesh.GetElementMaterial(0)->mIndex.mValues = {1}; },
         [](const Mesh& mesh) {
             for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v)
                 EXPECT_EQ(mesh.Vertices()[v].textureIndex, 1u);
         }},
        {"materials by polygon of the wrong count",
         [](FbxMesh& mesh) {
             mesh.GetElementMaterial(0)->mMappingMode = FbxLayerElement::eByPolygon;
             mesh.GetElementMaterial(0)->mIndex.mValues = {0, 1};
         },
         [](const Mesh& mesh) {
             for (std::uint32_t v = 0; v < mesh.mVertexCount; ++v)
                 EXPECT_EQ(mesh.Vertices()[v].textureIndex, 0xFFFFFFFFu);
         }},
        {"a corner naming a point the mesh lacks", [](FbxMesh& mesh) { mesh.mPolygons[0].corners[2] = 9; },
         [](const Mesh& mesh) {
             ASSERT_EQ(mesh.mVertexCount, 3u);
             EXPECT_EQ(mesh.Vertices()[2].position[1], 0.0f);
             EXPECT_EQ(mesh.Vertices()[2].position[3], 1.0f);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuildScenes(
            {{"layers.fbx", [&](FbxScene& scene) {
                  FbxNode* node = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", kTriangle, {{{0, 1, 2}}});
                  c.change(*node->GetMesh());
              }}});
        const auto model = Load("layers");
        ASSERT_NE(model, nullptr);
        c.check(*model->mMeshes.at(0).mesh);
    }
}

// Equality within the tolerance does not carry over: a corner equal to two kept vertices takes the
// first of them, and blend pairs count as equal within 0.001 of weight.
TEST_F(FbxLoaderTest, MergingTakesTheFirstEqualKeptVertex) {
    BuildScenes({{"order.fbx", [](FbxScene& scene) {
                      std::vector<FbxVector4> points;
                      for (int t = 0; t < 4; ++t)
                          points.insert(points.end(), kTriangle.begin(), kTriangle.end());
                      FbxNode* bone = fbxtest::AddSkeletonNode(scene.GetRootNode(), "bone");
                      FbxNode* node =
                          fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", points,
                                               {{{0, 1, 2}}, {{3, 4, 5}}, {{6, 7, 8}}, {{9, 10, 11}}});
                      // First corners: U of 0, 0.000015 (a vertex of its own), 0.000008 (equal to both).
                      auto& uvs = node->GetMesh()->GetElementUV(0)->mDirect.mValues;
                      uvs[3] = FbxVector2(0.000015, 0);
                      uvs[6] = FbxVector2(0.000008, 0);
                      // The fourth triangle's first corner weighs 0.0009 less: still the same vertex.
                      std::vector<int> all(12);
                      std::vector<double> weights(12, 1.0);
                      for (int i = 0; i < 12; ++i)
                          all[std::size_t(i)] = i;
                      weights[9] = 0.9991;
                      fbxtest::AddCluster(node, bone, FbxAMatrix(), FbxAMatrix(), all, weights);
                  }}});
    const auto model = Load("order");
    ASSERT_NE(model, nullptr);
    const Mesh& mesh = *model->mMeshes.at(0).mesh;
    ASSERT_EQ(mesh.mVertexCount, 4u);
    const std::vector<std::uint32_t> indices(mesh.Indices(), mesh.Indices() + mesh.mIndexCount);
    EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 2, 0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(mesh.Vertices()[0].blendWeights[0], 1.0f) << "the kept vertex keeps its own weight";
}

} // namespace
