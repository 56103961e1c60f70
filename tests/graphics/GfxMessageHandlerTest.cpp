#include "GraphicsTestSupport.h"

#include <ComponentAccessors.h>
#include <EngineTestControl.h>
#include <GFXMessageHandler.h>
#include <ObjectFactory.h>
#include <ui/Menus.h>

#include <gtest/gtest.h>

using gfxtest::Recorder;
using gfxtest::RecordingDevice;

namespace {

// A graphics system on a recording device, driven through the engine's bus.
class GfxMessageHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        GraphicsSystem::SetDeviceFactory([this](HWND, HINSTANCE, GraphicsSystem*) {
            auto* device = new RecordingDevice;
            mDevice = device;
            mCalls = device->calls;
            return device;
        });
        mGraphics = new GraphicsSystem(L"Graphics");
        Engine::AddSystem(mGraphics);
        Engine::Initialize();
    }
    void TearDown() override {
        Engine::Release();
        GraphicsSystem::SetDeviceFactory({});
    }
    void Send(std::shared_ptr<Message> message) { Engine::ImmediateMessage(std::move(message)); }
    void StartDevice() {
        Send(std::make_shared<WindowMessage>(L"Window", reinterpret_cast<HWND>(0x1234), nullptr));
        ASSERT_EQ(mGraphics->mState, 1);
        mCalls->clear();
    }
    std::vector<std::string> TakeCalls() { return std::exchange(*mCalls, {}); }

    GraphicsSystem* mGraphics = nullptr;
    RecordingDevice* mDevice = nullptr;
    std::shared_ptr<std::vector<std::string>> mCalls = std::make_shared<std::vector<std::string>>();
};

TEST_F(GfxMessageHandlerTest, EarlyLoadsAreQueuedOncePerNameAndTypeAndLoadedInOrder) {
    const std::pair<const char*, ResourceType> requests[] = {
        {"wall.png", RESOURCE_TEXTURE}, {"wall.png", RESOURCE_TEXTURE}, {"wall.png", RESOURCE_MODEL},
        {"Wall.png", RESOURCE_TEXTURE}, {"crate", RESOURCE_MODEL},      {"wall.png", RESOURCE_TEXTURE}};
    for (const auto& [name, type] : requests)
        Engine::RelayMessage(std::make_shared<LoadResourceMessage>(L"GameLevel", type, name));
    Engine::RunFrames(1, 1 / 60.f);
    EXPECT_EQ(mGraphics->mPendingLoads.size(), 4u);
    ::testing::internal::CaptureStdout();
    StartDevice();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(mGraphics->mPendingLoads.empty());
    // The queue reaches the hub in arrival order once the defaults are loaded. Neither model file
    // exists, so the two models fail.
    std::vector<std::string> loads;
    for (std::size_t at = out.find("LOADING "); at != std::string::npos; at = out.find("LOADING ", at + 1))
        if (out.compare(at, 12, "LOADING DEFA") != 0)
            loads.push_back(out.substr(at, out.find('\n', at) - at));
    const std::vector<std::string> expected = {"LOADING TEXTURE: wall.png", "LOADING MODEL: wall.png",
                                               "LOADING TEXTURE: Wall.png", "LOADING MODEL: crate"};
    EXPECT_EQ(loads, expected) << out;
    EXPECT_EQ(mGraphics->mHub->mTextureManager->Resources().count("wall.png"), 1u);
    EXPECT_EQ(mGraphics->mHub->mTextureManager->Resources().count("Wall.png"), 1u);
    // Once the hub exists requests go straight to it: a loaded name loads nothing more, a model that
    // failed is tried again.
    ::testing::internal::CaptureStdout();
    Send(std::make_shared<LoadResourceMessage>(L"GameLevel", RESOURCE_TEXTURE, "wall.png"));
    Send(std::make_shared<LoadResourceMessage>(L"GameLevel", RESOURCE_MODEL, "crate"));
    out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "LOADING MODEL: crate\n"
                   "Call to fbxsdk_2015_1::FbxImporter::Initialize() failed.\n"
                   "Error returned: Unable to open file \"../../Resources/Models/crate.fbx\".\n"
                   "FAILED TO LOAD MODEL: ..\\..\\Resources\\Models\\crate.fbx\n");
}

// One row per message: what the device is asked to do, and whether the window is told to minimise.
struct Step {
    const char* what;
    std::function<std::shared_ptr<Message>()> message;
    bool fullscreenBefore;
    std::vector<std::string> calls;
    bool minimised;
    bool fullscreenAfter;
};

SDL_Event WindowEvent(Uint8 event, int data1 = 0, int data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = event;
    e.window.data1 = data1;
    e.window.data2 = data2;
    return e;
}

TEST_F(GfxMessageHandlerTest, DeviceMessagesTable) {
    StartDevice();
    const Step steps[] = {
        {"focus lost in full screen",
         [] { return std::make_shared<HasKeyboardFocusMessage>(L"Input", false); },
         true,
         {"ToggleFullscreen", "SetFullscreen 1"},
         true,
         true},
        {"focus gained in full screen",
         [] {
             return std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED));
         },
         true,
         {"SetFullscreen 0", "ToggleFullscreen"},
         false,
         true},
        {"focus lost while windowed",
         [] { return std::make_shared<HasKeyboardFocusMessage>(L"Input", false); },
         false,
         {},
         false,
         false},
        {"focus gained while windowed",
         [] {
             return std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED));
         },
         false,
         {},
         false,
         false},
        {"focus gained message",
         [] { return std::make_shared<HasKeyboardFocusMessage>(L"Input", true); },
         true,
         {},
         false,
         true},
        {"full screen as it is",
         [] { return std::make_shared<FullScreenMessage>(L"Menus", true); },
         true,
         {},
         false,
         true},
        {"full screen off",
         [] { return std::make_shared<FullScreenMessage>(L"Menus", false); },
         true,
         {"ToggleFullscreen"},
         false,
         false},
        {"full screen on",
         [] { return std::make_shared<FullScreenMessage>(L"Menus", true); },
         false,
         {"ToggleFullscreen"},
         false,
         true},
        {"size changed",
         [] {
             return std::make_shared<SDLEventMessage>(L"Input",
                                                      WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 1280, 720));
         },
         true,
         {"Resize 1280 720"},
         false,
         true},
        {"size changed to nothing",
         [] {
             return std::make_shared<SDLEventMessage>(L"Input",
                                                      WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 0, 720));
         },
         true,
         {"Resize 0 720"},
         false,
         true},
        {"other window event",
         [] { return std::make_shared<SDLEventMessage>(L"Input", WindowEvent(SDL_WINDOWEVENT_MOVED, 5, 5)); },
         true,
         {},
         false,
         true},
        {"player count",
         [] { return std::make_shared<ChangePlayerMode>(L"GameLogic", 3); },
         true,
         {"SetPlayerCount 3"},
         false,
         true},
        {"player count 0",
         [] { return std::make_shared<ChangePlayerMode>(L"GameLogic", 0); },
         true,
         {"SetPlayerCount 0"},
         false,
         true},
        {"expired camera",
         [] { return std::make_shared<RegisterCameraMessage>(L"GameLogic", std::weak_ptr<Camera>{}, 9); },
         true,
         {"SetPlayerCamera none 9"},
         false,
         true},
        {"background",
         [] {
             return std::make_shared<SetBackgroundColorMessage>(L"GameLogic",
                                                                Vectormath::Aos::Vector3(1, 0, 0));
         },
         true,
         {"SetBackgroundColor"},
         false,
         true},
        {"no effect",
         [] { return std::make_shared<Message>(L"GameLogic", MessageType::NoEffect); },
         true,
         {},
         false,
         true},
        {"menu type 13",
         [] { return std::make_shared<ShowMenuMessage>(L"Menus", eMENUTYPE(13), true); },
         true,
         {},
         false,
         true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        mDevice->fullscreen = step.fullscreenBefore;
        Recorder minimise({MessageType::MinimizeWindow});
        Send(step.message());
        EXPECT_EQ(TakeCalls(), step.calls);
        EXPECT_EQ(minimise.seen.size(), step.minimised ? 1u : 0u);
        EXPECT_EQ(mDevice->IsFullscreen(), step.fullscreenAfter);
        Engine::RunFrames(1, 1 / 60.f);
        TakeCalls();
    }
}

TEST_F(GfxMessageHandlerTest, DeviceMessagesBeforeTheDeviceAreDropped) {
    Send(std::make_shared<ShowMenuMessage>(L"Menus", MENU_MAIN, true));
    Send(std::make_shared<FullScreenMessage>(L"Menus", false));
    Send(std::make_shared<ViewportRequestMessage>(L"GameLogic", 1));
    Send(std::make_shared<ChangePlayerMode>(L"GameLogic", 2));
    EXPECT_EQ(mGraphics->mMenus, nullptr);
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 0u);
    StartDevice();
    EXPECT_TRUE(TakeCalls().empty());
}

TEST_F(GfxMessageHandlerTest, ShownAndHiddenMenusFollowTheirType) {
    StartDevice();
    mGraphics->mMenus->mRecords = {{MENU_HOWTOPLAY, false}, {MENU_PAUSE, true}, {MENU_HOWTOPLAY, false}};
    Send(std::make_shared<ShowMenuMessage>(L"Menus", MENU_HOWTOPLAY, true));
    EXPECT_TRUE(mGraphics->mMenus->mRecords[0].visible && mGraphics->mMenus->mRecords[2].visible);
    Send(std::make_shared<ShowMenuMessage>(L"Menus", eMENUTYPE(11), true));
    Send(std::make_shared<ShowMenuMessage>(L"Menus", MENU_ALL, false));
    for (const Menus::Record& r : mGraphics->mMenus->mRecords)
        EXPECT_FALSE(r.visible);
}

TEST_F(GfxMessageHandlerTest, AViewportRequestIsAnsweredLaterByARelayedResponse) {
    StartDevice();
    Recorder responses({MessageType::ViewportResponse});
    for (unsigned player : {0u, 2u, 5u})
        Send(std::make_shared<ViewportRequestMessage>(L"GameLogic", player));
    EXPECT_TRUE(responses.seen.empty());
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 1u);
    Engine::RunFrames(1, 1 / 60.f);
    ASSERT_EQ(responses.seen.size(), 1u);
    const auto& r = dynamic_cast<const ViewportResponseMessage&>(*responses.seen[0]);
    EXPECT_EQ(r.GetSender(), L"Graphics");
    EXPECT_EQ(r.GetPlayerNumber(), 2u);
    EXPECT_EQ(r.GetWidth(), 200.0f);
    EXPECT_EQ(r.GetHeight(), 100.0f);
    EXPECT_EQ(r.GetTopX(), 20.0f);
    EXPECT_EQ(r.GetTopY(), 40.0f);
}

TEST_F(GfxMessageHandlerTest, ObjectsMadeBeforeTheDeviceAreRegisteredOnce) {
    std::vector<std::uint32_t> ids;
    for (const char* parts : {"RDC", "C", "R"}) {
        const auto object = Engine::mFactory->CreateGenericObject();
        ids.push_back(object.lock()->GetID());
        for (const char* p = parts; *p; ++p)
            Engine::mFactory->GiveObjectComponent(object, *p == 'R'   ? "Renderable"
                                                          : *p == 'D' ? "Debug"
                                                                      : "Camera");
    }
    Engine::RunFrames(1, 1 / 60.f); // their created-component messages reach a handler without a device
    Send(std::make_shared<WindowMessage>(L"Window", reinterpret_cast<HWND>(0x1234), nullptr));
    Engine::RunFrames(2, 1 / 60.f);
    const auto id = [&ids](int i) { return std::to_string(ids[i]); };
    std::vector<std::string> registered;
    for (const std::string& c : *mCalls)
        if (c.rfind("Add", 0) == 0) registered.push_back(c);
    EXPECT_EQ(registered, (std::vector<std::string>{"AddRenderable " + id(0), "AddDebugObject " + id(0),
                                                    "AddCamera " + id(0), "AddCamera " + id(1),
                                                    "AddRenderable " + id(2)}));
    // Destroying one goes to the device; created later, one is added once.
    mCalls->clear();
    Engine::mFactory->Destroy(ids[2]);
    const auto later = Engine::mFactory->CreateGenericObject();
    Engine::mFactory->GiveObjectComponent(later, "Debug");
    Engine::RunFrames(1, 1 / 60.f);
    std::vector<std::string> changes;
    for (const std::string& c : *mCalls)
        if (c.rfind("Add", 0) == 0 || c.rfind("Remove", 0) == 0) changes.push_back(c);
    EXPECT_EQ(changes, (std::vector<std::string>{"RemoveRenderable " + id(2),
                                                 "AddDebugObject " + std::to_string(later.lock()->GetID())}));
}

TEST_F(GfxMessageHandlerTest, DebugMessagesSetTheComponentAndGiveOneWhenMissing) {
    const auto object = Engine::mFactory->CreateGenericObject();
    const Vectormath::Aos::Vector4 n(1, 0, 0, 1), g(0, 1, 0, 1), s(0, 0, 1, 1), sg(1, 1, 0, 1);
    Send(std::make_shared<DebugMessage>(L"Physics", object.lock()->GetID(), 4u, n, g, s, sg));
    Send(std::make_shared<DebugMessage>(L"Physics", 987654u, 4u, n, g, s, sg)); // no such object
    const auto debug = GetComponentOfType<Debug>(object.lock()).lock();
    ASSERT_NE(debug, nullptr);
    EXPECT_EQ(debug->GetDrawFlags(), 4u);
    EXPECT_EQ(debug->GetGhostColor().getY(), 1.0f);
    EXPECT_EQ(debug->GetStaticGhostColor().getX(), 1.0f);
}

TEST_F(GfxMessageHandlerTest, FramesRunOnlyOnceTheDeviceIsReady) {
    Engine::RunFrames(2, 1 / 60.f);
    EXPECT_EQ(mDevice, nullptr);
    StartDevice();
    Engine::RunFrames(2, 1 / 60.f);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"UpdateScene", "Render", "Present", "UpdateScene",
                                                     "Render", "Present"}));
}

TEST_F(GfxMessageHandlerTest, ReleaseTakesEveryListenerOff) {
    StartDevice();
    const std::size_t window = EngineTest::ListenerCount(MessageType::Window);
    ASSERT_GE(window, 1u);
    mGraphics->Release();
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::Window), window - 1);
    for (MessageType type :
         {MessageType::CreatedComponent, MessageType::LoadResource, MessageType::ClearResources,
          MessageType::DestroyedComponent, MessageType::Debug, MessageType::NoEffect, MessageType::SDLEvent,
          MessageType::RegisterCamera, MessageType::ChangePlayerMode, MessageType::SetBackgroundColor,
          MessageType::ShowMenu, MessageType::FullScreen, MessageType::HasKeyboardFocus,
          MessageType::ViewportRequest})
        EXPECT_EQ(EngineTest::ListenerCount(type), 0u) << MessageTypeName(type);
    EXPECT_EQ(mGraphics->mDevice, nullptr);
}

TEST_F(GfxMessageHandlerTest, ClearResourcesReloadsEveryManagerToItsDefaults) {
    // Before the hub exists only the line is printed.
    ::testing::internal::CaptureStdout();
    Send(std::make_shared<Message>(L"GameLogic", MessageType::ClearResources));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "--- CLEARING ALL RESOURCES! ---\n");
    ::testing::internal::CaptureStdout();
    StartDevice();
    Send(std::make_shared<LoadResourceMessage>(L"GameLevel", RESOURCE_TEXTURE, "Player1_Flare.png"));
    Send(std::make_shared<LoadResourceMessage>(L"GameLevel", RESOURCE_SHADER, "animationshader"));
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(mGraphics->mHub->mTextureManager->Resources().size(), 5u);
    ::testing::internal::CaptureStdout();
    Send(std::make_shared<Message>(L"GameLogic", MessageType::ClearResources));
    // (The recording device has no Direct3D device, so its textures load without views.)
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::size_t at = 0;
    for (const char* line : {"--- CLEARING ALL RESOURCES! ---\n", "--- LOADING DEFAULT MODELS ---\n",
                             "--- LOADING DEFAULT TEXTURE ---\n", "--- LOADING DEFAULT SHADERS ---\n"}) {
        at = out.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " in " << out;
    }
    EXPECT_EQ(mGraphics->mHub->mModelManager->Resources().size(), 1u);
    EXPECT_EQ(mGraphics->mHub->mTextureManager->Resources().size(), 4u);
    EXPECT_EQ(mGraphics->mHub->mShaderManager->Resources().size(), 3u);
}

} // namespace
