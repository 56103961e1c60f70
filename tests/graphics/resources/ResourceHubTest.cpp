#include "ResourceTestSupport.h"

#include <resources/DXShader.h>
#include <resources/DXTexture.h>
#include <resources/ProceduralModels.h>
#include <resources/ResourceHub.h>

#include <algorithm>
#include <set>

namespace {

using restest::Report;

std::set<std::string> Keys(const iResourceManager& manager) {
    std::set<std::string> keys;
    for (const auto& [name, resource] : manager.Resources())
        keys.insert(name);
    return keys;
}

const std::set<std::string> kDefaultTextures = {"defaulttexture", "controlScreen.png", "keyHUDicon.png",
                                                "powercellHUDicon.png"};
const std::set<std::string> kDefaultShaders = {"defaultshader", "textureshader", "camerashader"};

// A loader that counts its calls and returns a one-triangle model once `succeedFrom` calls were made.
struct FakeLoader : FBXLoader {
    struct Counts {
        int managers = 0;
        std::vector<std::string> files;
    };
    explicit FakeLoader(std::shared_ptr<Counts> counts, int succeedFrom)
        : counts(counts), succeedFrom(succeedFrom) {}
    void CreateFBXManager() override { ++counts->managers; }
    Model* LoadFBX(const std::string& file, const std::string& name, DXDevice*) override {
        counts->files.push_back(file);
        if (int(counts->files.size()) < succeedFrom) return nullptr;
        auto* model = new Model(name);
        auto* mesh = new Mesh("tri");
        mesh->SetVertices({Vertex{}, Vertex{}, Vertex{}});
        mesh->SetIndices({0, 1, 2});
        model->AddMesh(mesh, kIdentityTransform);
        return model;
    }
    std::shared_ptr<Counts> counts;
    int succeedFrom;
};

class ResourceHubTest : public restest::ResourceTest {
protected:
    void TearDown() override {
        mHub.reset();
        FBXLoader::SetFactory({});
        ResourceTest::TearDown();
    }
    void MakeHub(GraphicsAPI api = 0) { mHub = std::make_unique<ResourceHub>(mDevice.get(), api); }

    std::unique_ptr<ResourceHub> mHub;
};

TEST_F(ResourceHubTest, BuildsManagersInOrderWithTheirDefaults) {
    auto counts = std::make_shared<FakeLoader::Counts>();
    FBXLoader::SetFactory([counts] { return std::make_unique<FakeLoader>(counts, 1); });
    ::testing::internal::CaptureStdout();
    MakeHub();
    const std::string out = ::testing::internal::GetCapturedStdout();
    const auto models = out.find("--- LOADING DEFAULT MODELS ---\n");
    const auto textures = out.find("--- LOADING DEFAULT TEXTURE ---\n");
    const auto shaders = out.find("--- LOADING DEFAULT SHADERS ---\n");
    ASSERT_NE(models, std::string::npos) << out;
    EXPECT_LT(models, textures);
    EXPECT_LT(textures, shaders);
    EXPECT_NE(shaders, std::string::npos);
    EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
    EXPECT_EQ(out.find("LOADING TEXTURE:"), std::string::npos) << "defaults print no line each";

    EXPECT_EQ(Keys(*mHub->mModelManager), std::set<std::string>{"splashcube"});
    EXPECT_EQ(Keys(*mHub->mTextureManager), kDefaultTextures);
    EXPECT_EQ(Keys(*mHub->mShaderManager), kDefaultShaders);
    // The loader made its SDK objects before the defaults and again after them.
    EXPECT_EQ(counts->managers, 2);

    auto* cube = dynamic_cast<Cube*>(mHub->mModelManager->GetResource("splashcube"));
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->mMeshes.front().mesh->mShaderName, "defaultshader");
    auto* shader = dynamic_cast<DXShader*>(mHub->mShaderManager->GetResource("camerashader"));
    ASSERT_NE(shader, nullptr);
    EXPECT_NE(shader->mVertexShader, nullptr);
    EXPECT_NE(shader->mPixelShader, nullptr);
    EXPECT_NE(shader->mInputLayout, nullptr);
    auto* texture = dynamic_cast<DXTexture*>(mHub->mTextureManager->GetResource("defaulttexture"));
    ASSERT_NE(texture, nullptr);
    ASSERT_NE(texture->mView, nullptr);
    // "defaulttexture" is the file TarnwickTexture.png: light grey with a dark centre square.
    EXPECT_EQ(d3d11test::ReadPixel(texture->mView, 2, 2), d3d11test::Rgba(200, 200, 200));
    EXPECT_EQ(d3d11test::ReadPixel(texture->mView, 32, 32), d3d11test::Rgba(60, 60, 60));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(ResourceHubTest, LookupsFallBackToTheDefaultsUnlessTheDefaultIsGone) {
    MakeHub();
    iResource* defaultTexture = mHub->mTextureManager->GetResource("defaulttexture");
    iResource* defaultShader = mHub->mShaderManager->GetResource("defaultshader");
    struct Case {
        iResourceManager* manager;
        const char* name;
        iResource* expected;
    };
    const Case cases[] = {
        {mHub->mTextureManager, "nothing.png", defaultTexture},
        {mHub->mTextureManager, "", defaultTexture},
        {mHub->mTextureManager, "keyHUDicon.png", mHub->mTextureManager->Resources().at("keyHUDicon.png")},
        {mHub->mShaderManager, "nothingshader", defaultShader},
        {mHub->mShaderManager, "camerashader", mHub->mShaderManager->Resources().at("camerashader")},
        {mHub->mModelManager, "nothing", nullptr},
        {mHub->mModelManager, "splashcube", mHub->mModelManager->Resources().at("splashcube")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.manager->GetResource(c.name), c.expected) << c.name;

    // With the default removed (unloaded), unknown names find nothing.
    mHub->mTextureManager->UnloadResources();
    mHub->mShaderManager->UnloadResources();
    EXPECT_EQ(mHub->mTextureManager->GetResource("nothing.png"), nullptr);
    EXPECT_EQ(mHub->mShaderManager->GetResource("nothingshader"), nullptr);
}

TEST_F(ResourceHubTest, RequestsLoadOnceAndDefaultsAndTypeTwoDoNothing) {
    auto counts = std::make_shared<FakeLoader::Counts>();
    // The first import fails, the second succeeds.
    FBXLoader::SetFactory([counts] { return std::make_unique<FakeLoader>(counts, 2); });
    MakeHub();
    d3d11test::RecordCalls(true);
    ::testing::internal::CaptureStdout();
    for (const char* name : {"defaulttexture", "Player1_Flare.png", "Player1_Flare.png"})
        mHub->LoadResource(name, RESOURCE_TEXTURE);
    for (const char* name : {"defaultshader", "animationshader", "animationshader"})
        mHub->LoadResource(name, RESOURCE_SHADER);
    mHub->LoadResource("splashcube", RESOURCE_MODEL);
    mHub->LoadResource("crate", RESOURCE_MODEL);
    EXPECT_EQ(mHub->mModelManager->GetResource("crate"), nullptr);
    mHub->LoadResource("crate", RESOURCE_MODEL);
    mHub->LoadResource("crate", RESOURCE_MODEL);
    mHub->LoadResource("Player2_Flare.png", RESOURCE_NONE);
    mHub->LoadResource("Player2_Flare.png", ResourceType(7));
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::vector<d3d11test::Call> calls = d3d11test::TakeCalls();

    EXPECT_EQ(out, "LOADING TEXTURE: Player1_Flare.png\n"
                   "LOADING SHADER: animationshader.fx\n"
                   "LOADING MODEL: crate\n"
                   "FAILED TO LOAD MODEL: ..\\..\\Resources\\Models\\crate.fbx\n"
                   "LOADING MODEL: crate\n");
    const auto reads = Named(calls, "D3DX11CreateShaderResourceViewFromFileW");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].text, "..\\..\\Resources\\Textures\\Player1_Flare.png");
    EXPECT_EQ(Named(calls, "D3DX11CompileFromFileW").size(), 2u); // VS and PS, once
    EXPECT_EQ(counts->files, (std::vector<std::string>{"..\\..\\Resources\\Models\\crate.fbx",
                                                       "..\\..\\Resources\\Models\\crate.fbx"}));
    Model* crate = dynamic_cast<Model*>(mHub->mModelManager->GetResource("crate"));
    ASSERT_NE(crate, nullptr);
    EXPECT_EQ(crate->mMeshes.front().mesh->mShaderName, "textureshader");
    EXPECT_EQ(Keys(*mHub->mTextureManager).count("Player2_Flare.png"), 0u);
    EXPECT_EQ(mHub->mTextureManager->Resources().size(), 5u);
    EXPECT_EQ(mHub->mShaderManager->Resources().size(), 4u);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(ResourceHubTest, ReloadLeavesOnlyTheDefaults) {
    auto counts = std::make_shared<FakeLoader::Counts>();
    FBXLoader::SetFactory([counts] { return std::make_unique<FakeLoader>(counts, 1); });
    MakeHub();
    mHub->LoadResource("crate", RESOURCE_MODEL);
    mHub->LoadResource("Player3_Flare.png", RESOURCE_TEXTURE);
    mHub->LoadResource("missing.png", RESOURCE_TEXTURE);
    mHub->LoadResource("animationshader", RESOURCE_SHADER);
    ASSERT_EQ(mHub->mModelManager->Resources().size(), 2u);
    ::testing::internal::CaptureStdout();
    for (iResourceManager* m : std::initializer_list<iResourceManager*>{
             mHub->mModelManager, mHub->mTextureManager, mHub->mShaderManager})
        m->ReloadResources();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        out,
        "--- LOADING DEFAULT MODELS ---\n--- LOADING DEFAULT TEXTURE ---\n--- LOADING DEFAULT SHADERS ---\n");
    EXPECT_EQ(Keys(*mHub->mModelManager), std::set<std::string>{"splashcube"});
    EXPECT_EQ(Keys(*mHub->mTextureManager), kDefaultTextures);
    EXPECT_EQ(Keys(*mHub->mShaderManager), kDefaultShaders);
}

// One row per graphics interface value: the reports of LoadResources and whether the defaults exist.
TEST_F(ResourceHubTest, GraphicsApiTable) {
    struct Case {
        GraphicsAPI api;
        std::vector<Report> reports;
        bool defaults;
    };
    const Case cases[] = {
        {2,
         {{"NOT IMPLEMENTED!", false, "TextureManager::LoadResources", "TextureManager", 117},
          {"NOT IMPLEMENTED!", false, "ShaderManager::LoadResources", "ShaderManager", 119}},
         true},
        {3,
         {{"NOT IMPLEMENTED!", true, "TextureManager::LoadResources", "TextureManager", 120},
          {"NOT IMPLEMENTED!", true, "ShaderManager::LoadResources", "ShaderManager", 122}},
         false},
        {7,
         {{"Undefined Graphics API in InitGraphics!", true, "TextureManager::LoadResources", "TextureManager",
           123},
          {"Undefined Graphics API in InitGraphics!", true, "ShaderManager::LoadResources", "ShaderManager",
           125}},
         false},
        {-1,
         {{"Undefined Graphics API in InitGraphics!", true, "TextureManager::LoadResources", "TextureManager",
           123},
          {"Undefined Graphics API in InitGraphics!", true, "ShaderManager::LoadResources", "ShaderManager",
           125}},
         false},
    };
    for (const Case& c : cases) {
        mErrors.clear();
        ::testing::internal::CaptureStdout();
        MakeHub(c.api);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(Reports(), c.reports) << c.api;
        EXPECT_EQ(Keys(*mHub->mTextureManager), c.defaults ? kDefaultTextures : std::set<std::string>{})
            << c.api;
        EXPECT_EQ(Keys(*mHub->mShaderManager), c.defaults ? kDefaultShaders : std::set<std::string>{})
            << c.api;
        // The model manager knows no interface but the device's.
        EXPECT_EQ(Keys(*mHub->mModelManager), std::set<std::string>{"splashcube"}) << c.api;

        // A request under any interface but 0 is reported, and the load goes on.
        mErrors.clear();
        ::testing::internal::CaptureStdout();
        mHub->LoadResource("Player4_Flare.png", RESOURCE_TEXTURE);
        mHub->LoadResource("animationshader", RESOURCE_SHADER);
        ::testing::internal::GetCapturedStdout();
        const std::vector<Report> expected = {{"Attempted to load resource with undefined API!", true,
                                               "TextureManager::LoadiResource", "TextureManager", 76},
                                              {"Attempted to load resource with undefined API!", true,
                                               "ShaderManager::LoadiResource", "ShaderManager", 78}};
        EXPECT_EQ(Reports(), expected) << c.api;
        EXPECT_EQ(mHub->mTextureManager->Resources().count("Player4_Flare.png"), 1u);
        EXPECT_EQ(mHub->mShaderManager->Resources().count("animationshader"), 1u);
        mHub.reset();
    }
}

} // namespace
