#include "SceneTestSupport.h"

#include <EngineTestControl.h>
#include <GameState.h>

#include <algorithm>
#include <cstring>

namespace {

using scenetest::SceneTest;
using scenetest::Vector3;
using scenetest::Vector4;

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class SceneRendering : public SceneTest {
protected:
    // A camera at (x, 0, 5) looking down -z in player slot `slot`.
    std::shared_ptr<Camera> PlayerCamera(unsigned slot, float x = 0.0f) {
        auto camera = AddCamera(Vector3(x, 0, 5));
        mDevice->SetPlayerCamera(camera, slot);
        return camera;
    }
    bool IsCube(uint32_t p) { return Green(p) < 10 && Red(p) > 20; }
    bool IsBackground(uint32_t p) { return Green(p) > 150 && Blue(p) > 200; }
};

// The cube's front face, 4.5 from each camera, spans 60.2 pixels each way from the centre of a
// 798 x 449 quadrant (cot 22.5 degrees x 0.5 / 4.5 of the half height); a camera moved right by one
// sees it 120.4 pixels further left, with its right face from 60.2 to 71.1 pixels right of that.
TEST_F(SceneRendering, SplashcubeSeenByFourPlayersLandsInEachQuadrant) {
    auto cube = MakeObject(Vector3(0, 0, 0));
    AddRenderable(cube);
    const float shifts[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    for (unsigned n = 1; n <= 4; ++n)
        PlayerCamera(n, shifts[n - 1]);
    mDevice->SetPlayerCount(4);
    const std::string out = Frame();
    EXPECT_EQ(Count(out, "Drew 0 things, culled 0\n"), 4) << out;
    const auto pixels = BackBuffer();
    const int origins[4][2] = {{0, 0}, {802, 0}, {0, 451}, {802, 451}};
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE("quadrant " + std::to_string(q + 1));
        const int cx = origins[q][0] + 399 - (q == 1 ? 120 : 0), cy = origins[q][1] + 224;
        for (int d : {0, -58, 57})
            EXPECT_TRUE(IsCube(At(pixels, cx + d, cy))) << d << " across";
        for (int d : {-58, 58})
            EXPECT_TRUE(IsCube(At(pixels, cx, cy + d))) << d << " down";
        // Seen from the right, the cube's right face shows too, up to 71.1 pixels right of the centre.
        for (int d : {-63, q == 1 ? 73 : 62})
            EXPECT_TRUE(IsBackground(At(pixels, cx + d, cy))) << d << " across";
        if (q == 1) {
            EXPECT_TRUE(IsCube(At(pixels, cx + 69, cy)));
        }
        for (int d : {-63, 63})
            EXPECT_TRUE(IsBackground(At(pixels, cx, cy + d))) << d << " down";
        // The face is textured: the default texture's dark centre square is at the face's centre.
        EXPECT_LT(Red(At(pixels, cx, cy)), Red(At(pixels, cx + 50, cy + 50)));
    }
    // The seams between quadrants stay black.
    for (int x : {798, 799, 800, 801})
        EXPECT_EQ(At(pixels, x, 200), d3d11test::Rgba(0, 0, 0)) << x;
    for (int y : {449, 450})
        EXPECT_EQ(At(pixels, 300, y), d3d11test::Rgba(0, 0, 0)) << y;
}

TEST_F(SceneRendering, TransparentMeshesBlendOverOpaqueOnesFarthestFirst) {
    auto camera = PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    AddRenderable(MakeObject(Vector3(0, 0, 0)));
    Frame();
    const uint32_t opaque = At(BackBuffer(), 800, 450);

    // A dark glass in front, and two tinted ones off to the sides at different distances.
    auto glass = AddRenderable(MakeObject(Vector3(0, 0, 2)), "splashcube", Vector4(0, 0, 0, 0.5f));
    glass->SetTransparency(true);
    auto nearGlass = AddRenderable(MakeObject(Vector3(-2, 0, 0)), "splashcube", Vector4(1, 0, 0, 0.5f));
    nearGlass->SetTransparency(true);
    auto farGlass = AddRenderable(MakeObject(Vector3(2, 0, -3)), "splashcube", Vector4(0, 0, 1, 0.5f));
    farGlass->SetTransparency(true);
    d3d11test::RecordCalls(true);
    Frame();
    const auto calls = d3d11test::TakeCalls();
    const uint32_t blended = At(BackBuffer(), 800, 450);
    EXPECT_LT(Red(blended), Red(opaque) * 3 / 4);
    EXPECT_GT(Red(blended), Red(opaque) / 8) << "the opaque cube shows through";

    // The colours the transparent draws were made with, in order.
    std::vector<std::vector<float>> colours;
    for (const auto& c : calls)
        if (c.name == "UpdateSubresource" && c.bytes.size() == 208) {
            std::vector<float> colour(4);
            std::memcpy(colour.data(), c.bytes.data() + 192, 16);
            if (colour[3] == 0.5f) colours.push_back(colour);
        }
    const std::vector<std::vector<float>> expected = {{0, 0, 1, 0.5f}, {1, 0, 0, 0.5f}, {0, 0, 0, 0.5f}};
    EXPECT_EQ(colours, expected);
}

TEST_F(SceneRendering, DebugShapesShowThroughWalls) {
    PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    auto wall = MakeObject(Vector3(0, 0, 0));
    GetComponentOfType<Transform>(wall).lock()->SetScale(Vector3(10, 10, 1));
    AddRenderable(wall);
    Frame();
    const auto before = BackBuffer();
    auto hidden = MakeObject(Vector3(0, 0, -3));
    AddBox(hidden, Vector3(1, 1, 1));
    auto debug = Give<Debug>(hidden, "Debug");
    debug->SetDrawFlags(DEBUG_DRAW_SHAPES);
    debug->SetNormalColor(Vector4(1, 1, 0, 1));
    mDevice->AddDebugObject(debug);
    Frame();
    const auto after = BackBuffer();
    // The box's near vertical edges stand 155 pixels either side of the centre, its far ones 121.
    for (int edge : {800 - 155, 800 - 121, 800 + 121, 800 + 155}) {
        bool changed = false;
        for (int x = edge - 2; x <= edge + 2; ++x)
            changed |= At(after, x, 450) != At(before, x, 450);
        EXPECT_TRUE(changed) << "edge at " << edge;
    }
    EXPECT_EQ(At(after, 800, 450), At(before, 800, 450)) << "the wall is still drawn";
    EXPECT_EQ(At(after, 700, 450), At(before, 700, 450));
}

TEST_F(SceneRendering, CollidersCullAndObjectsWithoutOneAreAlwaysDrawn) {
    PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    for (float x : {-1.5f, 1.5f}) {
        auto object = MakeObject(Vector3(x, 0, 0));
        AddBox(object, Vector3(0.5f, 0.5f, 0.5f));
        AddRenderable(object);
    }
    auto behind = MakeObject(Vector3(0, 0, 10));
    AddBox(behind, Vector3(0.5f, 0.5f, 0.5f));
    AddRenderable(behind);
    // No collider: never culled, counted in neither, drawn even where a collider would be culled.
    AddRenderable(MakeObject(Vector3(0, 0, 20)));
    d3d11test::RecordCalls(true);
    const std::string out = Frame();
    const auto calls = d3d11test::TakeCalls();
    EXPECT_EQ(out, "Drew 2 things, culled 1\n");
    const auto cubes = std::count_if(calls.begin(), calls.end(), [](const d3d11test::Call& c) {
        return c.name == "DrawIndexed" && c.args[0] == 36;
    });
    EXPECT_EQ(cubes, 3);
}

TEST_F(SceneRendering, PlayerCountsOutsideOneToFourShowSlotZeroFullWindow) {
    AddRenderable(MakeObject(Vector3(0, 0, 0)));
    for (unsigned count : {0u, 5u}) {
        SCOPED_TRACE(count);
        auto camera = PlayerCamera(0);
        mDevice->SetPlayerCount(count);
        EXPECT_EQ(camera->GetCameraWidth(), 1600u);
        Frame();
        const auto pixels = BackBuffer();
        EXPECT_TRUE(IsCube(At(pixels, 800, 450)));
        EXPECT_TRUE(IsBackground(At(pixels, 800, 200)));
        EXPECT_TRUE(IsBackground(At(pixels, 10, 10)));
        EXPECT_TRUE(IsBackground(At(pixels, 1590, 890)));
        mDevice->RemoveCamera(camera);
    }
    // Without cameras the window stays black.
    Frame();
    const auto pixels = BackBuffer();
    EXPECT_TRUE(
        std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p == d3d11test::Rgba(0, 0, 0); }));
}

TEST_F(SceneRendering, ACameraAddedTwiceIsDrawnOnceAndLeaksNothing) {
    AddRenderable(MakeObject(Vector3(0, 0, 0)));
    auto camera = PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    const std::size_t withCamera = d3d11test::LiveObjects();
    EXPECT_EQ(mDevice->AddCamera(camera), 1);
    EXPECT_EQ(d3d11test::LiveObjects(), withCamera);
    EXPECT_EQ(mDevice->mCameras.size(), 1u);
    EXPECT_EQ(Count(Frame(), "Drew"), 1);
    EXPECT_TRUE(IsCube(At(BackBuffer(), 800, 450)));
    // The fixture's end checks that nothing of either target outlives the device.
    mDevice->RemoveCamera(camera);
    EXPECT_TRUE(mDevice->CameraTargets().empty());
    EXPECT_EQ(Frame(), "");
}

// The skinned program skips an influence naming joint 100 or above: the triangle is drawn unskinned.
TEST_F(SceneRendering, AnInfluenceOfJoint150IsIgnored) {
    ::testing::internal::CaptureStdout();
    mHub->LoadResource("animationshader", RESOURCE_SHADER);
    ::testing::internal::GetCapturedStdout();
    auto build = [](std::uint32_t joint, float weight) {
        return [joint, weight](const std::string& name, DXDevice*) {
            const float white[4] = {1, 1, 1, 1};
            std::vector<Vertex> v = {MakeColouredVertex({-1, -1, 0}, white, 0, 0),
                                     MakeColouredVertex({1, -1, 0}, white, 0, 0),
                                     MakeColouredVertex({0, 1, 0}, white, 0, 0)};
            for (Vertex& x : v) {
                x.normal[0] = 0;
                x.blendIndices[0] = joint;
                x.blendWeights[0] = weight;
            }
            Model* model = scenetest::MakeModel(name, v, {0, 1, 2});
            Joint j;
            j.keys.push_back({0, FbxAMatrix(FbxVector4(3, 0, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1))});
            model->mSkeleton.push_back(j);
            return model;
        };
    };
    LoadModel("far", build(150, 1.0f));
    LoadModel("plain", build(0, 0.0f));
    LoadModel("moved", build(0, 1.0f));
    PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    auto object = MakeObject(Vector3(0, 0, 0));
    auto renderable = AddRenderable(object, "plain");
    renderable->SetShader("animationshader");
    std::vector<uint32_t> pictures[3];
    const char* models[3] = {"plain", "far", "moved"};
    for (int i = 0; i < 3; ++i) {
        renderable->SetModel(models[i]);
        Frame();
        pictures[i] = BackBuffer();
    }
    EXPECT_TRUE(pictures[0] == pictures[1]);
    EXPECT_FALSE(pictures[0] == pictures[2]) << "joint 0 does move it";
}

TEST_F(SceneRendering, FramesWithTransparentAndDebugObjectsLeaveNothingBehind) {
    PlayerCamera(1);
    PlayerCamera(2, 1.0f);
    mDevice->SetPlayerCount(2);
    for (int i = 0; i < 3; ++i) {
        auto object = MakeObject(Vector3(float(i), 0, 0));
        AddBox(object, Vector3(0.5f, 0.5f, 0.5f));
        auto r = AddRenderable(object, "splashcube", Vector4(1, 1, 1, 0.5f));
        r->SetTransparency(i != 0);
        auto debug = Give<Debug>(object, "Debug");
        debug->SetDrawFlags(i == 0 ? DEBUG_DRAW_SHAPES : i == 1 ? DEBUG_DRAW_VELOCITY : DEBUG_DRAW_FORCE);
        Give<RigidBody>(object, "RigidBody")->SetVelocity(Vector3(0, 1, 0));
        mDevice->AddDebugObject(debug);
    }
    Frame();
    const std::size_t live = d3d11test::LiveObjects();
    ::testing::internal::CaptureStdout();
    for (int frame = 0; frame < 300; ++frame) {
        mDevice->UpdateScene();
        ASSERT_EQ(mDevice->Render(), 1);
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(d3d11test::LiveObjects(), live);
}

// Cameras from bad level data: degenerate frusta are reported (not fatally), a camera whose target
// cannot be made is passed over, and nothing crashes.
TEST_F(SceneRendering, BadCamerasAreReportedAndNeverCrash) {
    AddRenderable(MakeObject(Vector3(0, 0, 0)));
    gfxtest::Recorder errors({MessageType::Error});
    auto flat = AddCamera(Vector3(0, 0, 5));
    flat->SetCameraFOV(0.0f);
    mDevice->SetPlayerCamera(flat, 1);
    mDevice->SetPlayerCount(1);
    Frame();
    EXPECT_FALSE(errors.ErrorTexts().empty());
    for (const std::string& text : errors.ErrorTexts())
        EXPECT_EQ(text, "Trying to make plane with invalid normal");
    mDevice->RemoveCamera(flat);

    auto nearZero = AddCamera(Vector3(0, 0, 5));
    nearZero->SetCameraNear(0.0f);
    errors.seen.clear();
    Frame();
    EXPECT_FALSE(errors.ErrorTexts().empty()) << "the near plane collapses to a point";
    mDevice->RemoveCamera(nearZero);

    // A camera of no size has no target: making it is reported once, and the frames go on without it.
    auto object = MakeObject(Vector3(0, 0, 5));
    auto empty = Give<Camera>(object, "Camera");
    empty->SetCameraWidth(0);
    ::testing::internal::CaptureStdout();
    mDevice->AddCamera(empty);
    EXPECT_EQ(mDevice->Render(), 1);
    EXPECT_EQ(mDevice->Render(), 1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("The parameter is incorrect."), std::string::npos) << out;
}

// Each frame moves a skinned model to its next key, back to the first past the last; a paused game
// holds it.
TEST_F(SceneRendering, AnimationKeysAdvanceWrapAndHoldWhilePaused) {
    LoadModel("walker", [](const std::string& name, DXDevice*) {
        Model* model = scenetest::MakeModel(name, {Vertex{}, Vertex{}, Vertex{}}, {0, 1, 2});
        Joint joint;
        for (int f = 10; f <= 12; ++f)
            joint.keys.push_back({f, FbxAMatrix()});
        model->mSkeleton.push_back(joint);
        model->mFirstFrame = 10;
        model->mLastFrame = 12;
        return model;
    });
    LoadModel("still", [](const std::string& name, DXDevice*) {
        return scenetest::MakeModel(name, {Vertex{}, Vertex{}, Vertex{}}, {0, 1, 2});
    });
    AddRenderable(MakeObject(Vector3(0, 0, 0)), "walker");
    AddRenderable(MakeObject(Vector3(0, 0, 0)), "still");
    auto* walker = dynamic_cast<Model*>(mHub->mModelManager->GetResource("walker"));
    auto* still = dynamic_cast<Model*>(mHub->mModelManager->GetResource("still"));
    const int state = GameState::GetState();
    GameState::SetState(GameState::PLAYING);
    std::vector<std::uint32_t> keys;
    for (int frame = 0; frame < 4; ++frame) {
        mDevice->UpdateScene();
        keys.push_back(walker->mCurrentKey);
    }
    EXPECT_EQ(keys, (std::vector<std::uint32_t>{1, 2, 0, 1}));
    EXPECT_EQ(still->mCurrentKey, 0u) << "no skeleton, no animation";
    GameState::SetState(GameState::PAUSED);
    mDevice->UpdateScene();
    EXPECT_EQ(walker->mCurrentKey, 1u);
    GameState::SetState(state);
}

// The generated walking figure, read from the run-time tree by the FBX loader and drawn through
// "animationshader": its legs swing between keys, and after its last key it stands as at the first.
TEST_F(SceneRendering, TheGeneratedWalkerMovesAndComesBackToItsFirstPose) {
    LoadModel("Player", [](const std::string& name, DXDevice* device) {
        FBXLoader loader;
        return loader.LoadFBX("..\\..\\Resources\\Models\\Player.fbx", name, device);
    });
    ::testing::internal::CaptureStdout();
    mHub->LoadResource("animationshader", RESOURCE_SHADER);
    ::testing::internal::GetCapturedStdout();
    auto renderable = AddRenderable(MakeObject(Vector3(0, 0, 0)), "Player");
    renderable->SetShader("animationshader");
    PlayerCamera(1);
    mDevice->SetPlayerCount(1);
    auto* walker = dynamic_cast<Model*>(mHub->mModelManager->GetResource("Player"));
    ASSERT_NE(walker, nullptr);
    ASSERT_EQ(walker->mSkeleton.size(), 3u);
    const std::uint32_t keys = std::uint32_t(walker->mLastFrame - walker->mFirstFrame + 1);
    ASSERT_EQ(keys, 31u);

    const int state = GameState::GetState();
    GameState::SetState(GameState::PAUSED);
    Frame();
    const auto first = BackBuffer();
    int figure = 0;
    for (const uint32_t p : first)
        figure += IsBackground(p) ? 0 : 1;
    EXPECT_GT(figure, 1000) << "the figure is drawn";
    GameState::SetState(GameState::PLAYING);
    for (int f = 0; f < 15; ++f)
        Frame();
    EXPECT_EQ(walker->mCurrentKey, 15u);
    EXPECT_NE(BackBuffer(), first) << "the legs swung";
    for (std::uint32_t f = 15; f < keys; ++f)
        Frame();
    EXPECT_EQ(walker->mCurrentKey, 0u);
    EXPECT_EQ(BackBuffer(), first) << "back in the first pose";
    GameState::SetState(state);
}

} // namespace
