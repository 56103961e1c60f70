#include <fbx_test_control.h>
#include <fbxsdk.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

const std::string kModels = TORVIK_TEST_MODELS;

// A manager and a scene with the file imported into it, as the loader makes them.
class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        mManager = FbxManager::Create();
        mManager->SetIOSettings(FbxIOSettings::Create(mManager, "IOSRoot"));
        mScene = FbxScene::Create(mManager, "myScene");
    }
    void TearDown() override {
        fbxtest::SetSceneBuilder({});
        mManager->Destroy();
    }

    // Empty on success, else the importer's error text.
    std::string Import(const std::string& file) {
        FbxImporter* importer = FbxImporter::Create(mManager, "myImporter");
        std::string error;
        if (!importer->Initialize(file.c_str(), -1, mManager->GetIOSettings()))
            error = importer->GetStatus().GetErrorString();
        else if (!importer->Import(mScene, false))
            error = "import";
        importer->Destroy();
        return error;
    }

    FbxNode* Child(FbxNode* node, const std::string& name) {
        for (int i = 0; i < node->GetChildCount(); ++i)
            if (name == node->GetChild(i)->GetName()) return node->GetChild(i);
        return nullptr;
    }

    FbxManager* mManager = nullptr;
    FbxScene* mScene = nullptr;
};

FbxTime Frame(FbxLongLong f) {
    FbxTime t;
    t.SetFrame(f, FbxTime::eFrames60);
    return t;
}

void ExpectNear(const FbxAMatrix& a, const FbxAMatrix& b, double tolerance = 1e-5) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.Get(r, c), b.Get(r, c), tolerance) << r << "," << c;
}

TEST_F(StandIn, TwoMeshNodesComeBackWithTheirMaterialsAndPlaces) {
    ASSERT_EQ(Import(kModels + "/twomeshes.fbx"), "");
    FbxNode* root = mScene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), 2);
    EXPECT_STREQ(root->GetChild(0)->GetName(), "partA");
    EXPECT_STREQ(root->GetChild(1)->GetName(), "partB");

    struct Expected {
        const char* node;
        int polygons;
        double diffuse[3], ambient[3], specular[3], shininess;
        const char* texture;
    };
    const Expected cases[] = {
        {"partA", 2, {0.8, 0.2, 0.2}, {0.1, 0.2, 0.3}, {0.5, 0.5, 0.5}, 16.0, "C:\\Art\\crate.png"},
        {"partB", 1, {0.2, 0.2, 0.8}, {0.0, 0.0, 0.1}, {1.0, 1.0, 1.0}, 64.0, "textures/metal.png"},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE(e.node);
        FbxNode* node = Child(root, e.node);
        ASSERT_NE(node, nullptr);
        ASSERT_NE(node->GetNodeAttribute(), nullptr);
        EXPECT_EQ(node->GetNodeAttribute()->GetAttributeType(), FbxNodeAttribute::eMesh);
        FbxMesh* mesh = node->GetMesh();
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->GetPolygonCount(), e.polygons);
        EXPECT_EQ(mesh->GetPolygonVertexCount(), 3 * e.polygons);
        // Every corner names a control point, and points, normals and UVs line up.
        for (int i = 0; i < mesh->GetPolygonCount(); ++i)
            for (int j = 0; j < 3; ++j) {
                EXPECT_GE(mesh->GetPolygonVertex(i, j), 0);
                EXPECT_LT(mesh->GetPolygonVertex(i, j), mesh->GetControlPointsCount());
            }
        ASSERT_EQ(mesh->GetElementUVCount(), 1);
        EXPECT_EQ(mesh->GetElementUV(0)->GetMappingMode(), FbxLayerElement::eByControlPoint);
        EXPECT_EQ(mesh->GetElementUV(0)->GetReferenceMode(), FbxLayerElement::eDirect);
        EXPECT_EQ(mesh->GetElementUV(0)->GetDirectArray().GetCount(), mesh->GetControlPointsCount());
        EXPECT_EQ(mesh->GetElementNormal(0)->GetDirectArray().GetCount(), mesh->GetControlPointsCount());
        FbxGeometryElementMaterial* polygonMaterials = mesh->GetElementMaterial(0);
        ASSERT_NE(polygonMaterials, nullptr);
        EXPECT_EQ(polygonMaterials->GetMappingMode(), FbxLayerElement::eByPolygon);
        EXPECT_EQ(polygonMaterials->GetIndexArray()->GetCount(), e.polygons);
        EXPECT_EQ(mesh->GetDeformerCount(), 0);

        ASSERT_EQ(node->GetMaterialCount(), 1);
        FbxSurfaceMaterial* material = node->GetMaterial(0);
        ASSERT_TRUE(material->GetClassId().Is(FbxSurfacePhong::ClassId));
        auto* phong = static_cast<FbxSurfacePhong*>(material);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(phong->Diffuse.Get()[i], e.diffuse[i], 1e-6);
            EXPECT_NEAR(phong->Ambient.Get()[i], e.ambient[i], 1e-6);
            EXPECT_NEAR(phong->Specular.Get()[i], e.specular[i], 1e-6);
        }
        EXPECT_NEAR(phong->Shininess.Get(), e.shininess, 1e-6);
        const FbxProperty diffuse = material->FindProperty("DiffuseColor");
        ASSERT_TRUE(diffuse.IsValid());
        ASSERT_EQ(diffuse.GetSrcObjectCount<FbxTexture>(), 1);
        auto* file = FbxCast<FbxFileTexture>(diffuse.GetSrcObject<FbxTexture>(0));
        ASSERT_NE(file, nullptr);
        EXPECT_STREQ(file->GetFileName(), e.texture);
        EXPECT_EQ(FbxCast<FbxLayeredTexture>(diffuse.GetSrcObject<FbxTexture>(0)), nullptr);
        EXPECT_EQ(material->FindProperty("SpecularColor").GetSrcObjectCount<FbxTexture>(), 0);
        EXPECT_FALSE(material->FindProperty("NoSuchChannel").IsValid());
    }
    // partA sits at (1, 2, 3): the translation in row 3.
    const FbxAMatrix a = Child(root, "partA")->EvaluateGlobalTransform(Frame(0));
    ExpectNear(a, FbxAMatrix(FbxVector4(1, 2, 3), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1)));
    // partB is turned 90 degrees about Y and moved to (-2, 0, 0).
    const FbxAMatrix b = Child(root, "partB")->EvaluateGlobalTransform(Frame(0));
    ExpectNear(b, FbxAMatrix(FbxVector4(-2, 0, 0), FbxVector4(0, 90, 0), FbxVector4(1, 1, 1)));
    EXPECT_EQ(mScene->GetSrcObject<FbxAnimStack>(0), nullptr);
    // The meshes are triangles already.
    FbxGeometryConverter converter(mManager);
    EXPECT_TRUE(converter.Triangulate(mScene, true, false));
    EXPECT_EQ(Child(root, "partA")->GetMesh()->GetPolygonCount(), 2);
}

TEST_F(StandIn, ASkinComesBackWithItsSkeletonClustersAndTake) {
    ASSERT_EQ(Import(kModels + "/skinned.fbx"), "");
    FbxNode* root = mScene->GetRootNode();
    FbxNode* hip = Child(root, "hip");
    ASSERT_NE(hip, nullptr);
    FbxNode* knee = Child(hip, "knee");
    ASSERT_NE(knee, nullptr);
    FbxNode* foot = Child(knee, "foot");
    ASSERT_NE(foot, nullptr);
    for (FbxNode* joint : {hip, knee, foot})
        EXPECT_EQ(joint->GetNodeAttribute()->GetAttributeType(), FbxNodeAttribute::eSkeleton)
            << joint->GetName();

    FbxNode* leg = Child(root, "leg");
    ASSERT_NE(leg, nullptr);
    FbxMesh* mesh = leg->GetMesh();
    ASSERT_EQ(mesh->GetDeformerCount(), 1);
    auto* skin = static_cast<FbxSkin*>(mesh->GetDeformer(0, FbxDeformer::eSkin));
    ASSERT_NE(skin, nullptr);
    ASSERT_EQ(skin->GetClusterCount(), 3);
    std::map<std::string, FbxCluster*> clusters;
    std::vector<double> sums(std::size_t(mesh->GetControlPointsCount()), 0.0);
    for (int c = 0; c < skin->GetClusterCount(); ++c) {
        FbxCluster* cluster = skin->GetCluster(c);
        ASSERT_NE(cluster->GetLink(), nullptr);
        clusters[cluster->GetLink()->GetName()] = cluster;
        for (int k = 0; k < cluster->GetControlPointIndicesCount(); ++k)
            sums[std::size_t(cluster->GetControlPointIndices()[k])] += cluster->GetControlPointWeights()[k];
    }
    EXPECT_EQ(clusters.size(), 3u);
    for (double sum : sums)
        EXPECT_NEAR(sum, 1.0, 1e-6);
    // The link matrix is the joint's place at bind time, so inverse(link) x transform is the joint's
    // offset from the mesh.
    FbxAMatrix link, transform;
    clusters.at("knee")->GetTransformLinkMatrix(link);
    clusters.at("knee")->GetTransformMatrix(transform);
    ExpectNear(link, FbxAMatrix(FbxVector4(0, 1, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1)));
    ExpectNear(transform, FbxAMatrix());

    // The take: the reader starts the animation at frame 0; frames 10 to 20 come back as 0 to 10.
    FbxAnimStack* stack = mScene->GetSrcObject<FbxAnimStack>(0);
    ASSERT_NE(stack, nullptr);
    EXPECT_STREQ(stack->GetName(), "bend");
    FbxTakeInfo* take = mScene->GetTakeInfo(stack->GetName());
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(take->mLocalTimeSpan.GetStart().GetFrameCount(FbxTime::eFrames60), 0);
    EXPECT_EQ(take->mLocalTimeSpan.GetStop().GetFrameCount(FbxTime::eFrames60), 10);
    EXPECT_EQ(mScene->GetTakeInfo("other"), nullptr);
    // The knee turns from 0 to 90 degrees about Z: at the last frame its X axis points along Y.
    const FbxAMatrix first = knee->EvaluateGlobalTransform(Frame(0));
    const FbxAMatrix halfway = knee->EvaluateGlobalTransform(Frame(5));
    const FbxAMatrix last = knee->EvaluateGlobalTransform(Frame(10));
    ExpectNear(first, FbxAMatrix(FbxVector4(0, 1, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1)));
    ExpectNear(halfway, FbxAMatrix(FbxVector4(0.5, 1, 0), FbxVector4(0, 0, 45), FbxVector4(1, 1, 1)));
    ExpectNear(last, FbxAMatrix(FbxVector4(0, 1, 0), FbxVector4(0, 0, 90), FbxVector4(1, 1, 1)));
    // Past the last key the pose holds.
    ExpectNear(knee->EvaluateGlobalTransform(Frame(40)), last);
    // The foot follows its parent.
    ExpectNear(foot->EvaluateGlobalTransform(Frame(10)),
               last * FbxAMatrix(FbxVector4(0, 1, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1)));
}

TEST_F(StandIn, SixJointsInfluenceOnePoint) {
    ASSERT_EQ(Import(kModels + "/sixinfluences.fbx"), "");
    FbxMesh* mesh = Child(mScene->GetRootNode(), "fan")->GetMesh();
    auto* skin = static_cast<FbxSkin*>(mesh->GetDeformer(0, FbxDeformer::eSkin));
    ASSERT_NE(skin, nullptr);
    ASSERT_EQ(skin->GetClusterCount(), 6);
    std::map<int, int> influences;
    for (int c = 0; c < 6; ++c)
        for (int k = 0; k < skin->GetCluster(c)->GetControlPointIndicesCount(); ++k)
            ++influences[skin->GetCluster(c)->GetControlPointIndices()[k]];
    int most = 0;
    for (const auto& [point, count] : influences)
        most = std::max(most, count);
    EXPECT_EQ(most, 6);
    EXPECT_EQ(mScene->GetSrcObject<FbxAnimStack>(0), nullptr);
}

TEST_F(StandIn, FilesItCannotReadFailWithTheReason) {
    const std::string dir = ::testing::TempDir();
    std::ofstream(dir + "/empty.fbx").flush();
    std::ofstream(dir + "/text.fbx") << "this is not a model\n";
    for (const std::string& file :
         {kModels + "/truncated.fbx", dir + "/empty.fbx", dir + "/text.fbx", dir + "/missing.fbx"}) {
        SCOPED_TRACE(file);
        const std::string error = Import(file);
        EXPECT_NE(error, "");
        EXPECT_NE(error, "import");
    }
    // Nothing reached the scene.
    EXPECT_EQ(mScene->GetRootNode()->GetChildCount(), 0);
}

TEST_F(StandIn, WindowsSeparatorsNameTheSameFile) {
    std::string windows = kModels + "\\onejoint.fbx";
    EXPECT_EQ(Import(windows), "");
    EXPECT_EQ(mScene->GetRootNode()->GetChildCount(), 2);
}

TEST_F(StandIn, AHandBuiltSceneReplacesTheFileItNames) {
    fbxtest::SetSceneBuilder([](const std::string& file, FbxScene& scene) {
        if (file != "made.fbx") return false;
        FbxNode* bone = fbxtest::AddSkeletonNode(scene.GetRootNode(), "bone");
        FbxNode* mesh = fbxtest::AddMeshNode(scene.GetRootNode(), "mesh", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                             {{{0, 1, 2}}});
        fbxtest::AddCluster(mesh, bone, FbxAMatrix(), FbxAMatrix(), {0, 1, 2}, {1, 1, 1});
        fbxtest::AddTake(scene, "take", 10, 20);
        return true;
    });
    ASSERT_EQ(Import("made.fbx"), "");
    ASSERT_EQ(mScene->GetRootNode()->GetChildCount(), 2);
    EXPECT_EQ(mScene->GetRootNode()->GetChild(0)->GetParent(), mScene->GetRootNode());
    FbxTakeInfo* take = mScene->GetTakeInfo("take");
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(take->mLocalTimeSpan.GetStart().GetFrameCount(FbxTime::eFrames60), 10);
    // Other names still read files.
    EXPECT_NE(Import(::testing::TempDir() + "/missing.fbx"), "");
}

TEST(StandInManager, DestroyFreesWhatTheProgramLeft) {
    // Checked by the leak sanitizer: the scene and an importer left behind go with their manager.
    FbxManager* manager = FbxManager::Create();
    FbxScene::Create(manager, "left");
    FbxImporter* importer = FbxImporter::Create(manager, "left");
    EXPECT_TRUE(importer->Initialize((kModels + "/corners.fbx").c_str()));
    manager->Destroy();
    EXPECT_EQ(FbxScene::Create(nullptr, "none"), nullptr);
}

} // namespace
