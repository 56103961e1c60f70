// The scene tests' world: a Direct3D device on an offscreen 1600 x 900 window with the run-time
// tree's shaders and textures in its resource hub, and helpers that build engine objects for it.
// Error reports are recorded; no window system shows them.
#pragma once

#include "GraphicsTestSupport.h"

#include <ComponentAccessors.h>
#include <DXDevice.h>
#include <ObjectFactory.h>
#include <resources/ResourceHub.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace scenetest {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

// Model files for the model manager: a test registers a builder under a model name; any other name
// fails to load, as a missing file does.
class FakeModels : public FBXLoader {
public:
    using Builder = std::function<Model*(const std::string& name, DXDevice* device)>;
    static std::map<std::string, Builder>& Builders() {
        static std::map<std::string, Builder> builders;
        return builders;
    }
    void CreateFBXManager() override {}
    Model* LoadFBX(const std::string&, const std::string& name, DXDevice* device) override {
        const auto it = Builders().find(name);
        return it == Builders().end() ? nullptr : it->second(name, device);
    }
};

// A one-mesh model of the given vertices and indices.
inline Model* MakeModel(const std::string& name, std::vector<Vertex> vertices,
                        std::vector<std::uint32_t> indices) {
    auto* model = new Model(name);
    auto* mesh = new Mesh(name + "Mesh");
    mesh->SetVertices(std::move(vertices));
    mesh->SetIndices(std::move(indices));
    model->AddMesh(mesh, kIdentityTransform);
    return model;
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        mLiveBefore = d3d11test::LiveObjects();
        d3d11test::ClearInjectedFailures();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        mWindow = SDL_CreateWindow("scene", 0, 0, 1600, 900, SDL_WINDOW_HIDDEN);
        ASSERT_NE(mWindow, nullptr) << SDL_GetError();
        mDevice = new DXDevice(mWindow, nullptr, nullptr);
        ASSERT_TRUE(mDevice->InitDevice());
        FBXLoader::SetFactory([] { return std::make_unique<FakeModels>(); });
        ::testing::internal::CaptureStdout();
        mHub = new ResourceHub(mDevice, 0);
        const std::string loaded = ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(loaded.find("FAILED"), std::string::npos) << loaded;
        ASSERT_TRUE(mDevice->InitPipeline(mHub));
    }
    void TearDown() override {
        d3d11test::RecordCalls(false);
        Engine::mFactory->DestroyAllObjects();
        if (mHub) mHub->Release();
        delete mHub;
        if (mDevice) mDevice->ReleaseDevice();
        delete mDevice;
        Engine::Release();
        FBXLoader::SetFactory({});
        FakeModels::Builders().clear();
        if (mWindow) SDL_DestroyWindow(mWindow);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
    }

    std::shared_ptr<Object> MakeObject(const Vector3& position) {
        std::shared_ptr<Object> object = Engine::mFactory->CreateGenericObject().lock();
        Give<Transform>(object, "Transform")->SetWorldPosition(position);
        return object;
    }
    template <class T> std::shared_ptr<T> Give(const std::shared_ptr<Object>& object, const char* name) {
        return std::static_pointer_cast<T>(Engine::mFactory->GiveObjectComponent(object, std::string(name)));
    }
    // A white "splashcube" (or the named model) with the given textures, added to the device.
    std::shared_ptr<Renderable> AddRenderable(const std::shared_ptr<Object>& object,
                                              const std::string& model = "splashcube",
                                              const Vector4& colour = Vector4(1, 1, 1, 1)) {
        auto r = Give<Renderable>(object, "Renderable");
        r->SetModel(model);
        r->SetColor(colour);
        mDevice->AddRenderable(r);
        return r;
    }
    std::shared_ptr<Collider> AddBox(const std::shared_ptr<Object>& object, const Vector3& half) {
        auto c = Give<Collider>(object, "Collider");
        c->SetShapeType(ShapeType::AABB);
        c->SetHalfExtents(half);
        return c;
    }
    // A camera at `position` looking along `forward` (y up), added to the device.
    std::shared_ptr<Camera> AddCamera(const Vector3& position, const Vector3& forward = Vector3(0, 0, -1)) {
        auto object = MakeObject(position);
        auto camera = Give<Camera>(object, "Camera");
        camera->SetLocalDirections(forward, Vector3(0, 1, 0));
        mDevice->AddCamera(camera);
        return camera;
    }
    // Loads a registered model into the model manager.
    void LoadModel(const std::string& name, FakeModels::Builder builder) {
        FakeModels::Builders()[name] = std::move(builder);
        ::testing::internal::CaptureStdout();
        mHub->LoadResource(name, RESOURCE_MODEL);
        ::testing::internal::GetCapturedStdout();
        ASSERT_NE(mHub->mModelManager->GetResource(name), nullptr) << name;
    }
    // One frame as the graphics system runs it, without the GUI; the console output is returned.
    std::string Frame() {
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(mDevice->UpdateScene());
        EXPECT_EQ(mDevice->Render(), 1);
        return ::testing::internal::GetCapturedStdout();
    }
    std::vector<uint32_t> BackBuffer() {
        ID3D11Texture2D* back = nullptr;
        EXPECT_EQ(mDevice->GetSwapChain()->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void**>(&back)),
                  S_OK);
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        EXPECT_TRUE(d3d11test::ReadPixels(back, pixels, w, h));
        back->Release();
        EXPECT_EQ(w, 1600);
        EXPECT_EQ(h, 900);
        return pixels;
    }
    static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) {
        return pixels[std::size_t(y) * 1600 + std::size_t(x)];
    }
    static int Red(uint32_t p) { return int(p & 0xFF); }
    static int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
    static int Blue(uint32_t p) { return int((p >> 16) & 0xFF); }

    SDL_Window* mWindow = nullptr;
    DXDevice* mDevice = nullptr;
    ResourceHub* mHub = nullptr;
    std::size_t mLiveBefore = 0;
};

} // namespace scenetest
