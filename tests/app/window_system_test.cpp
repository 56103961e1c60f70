#include "app_test_support.h"

#include <WindowSystem.h>
#include <winuser.h>

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using apptest::Recorder;
using apptest::ScopedCwd;

struct Box {
    Uint32 flags;
    std::string title;
    std::string text;
    SDL_Window* parent;
};

class WindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        boxes.clear();
        WindowSystem::SetMessageBoxFunction(
            [](Uint32 flags, const char* title, const char* text, SDL_Window* parent) {
                boxes.push_back({flags, title, text, parent});
                return 0;
            });
        // A run-time tree of our own: Bin/Release is the working directory, Resources two levels up.
        root = std::filesystem::temp_directory_path() / ("torvik_window_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(root / "Bin" / "Release");
        std::filesystem::create_directories(root / "Resources" / "Textures");
        cwd = std::make_unique<ScopedCwd>((root / "Bin" / "Release").string());
    }
    void TearDown() override {
        Engine::Release();
        cwd.reset();
        std::filesystem::remove_all(root);
        WindowSystem::SetMessageBoxFunction({});
    }

    WindowSystem* AddWindowSystem() {
        auto* window = new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24);
        Engine::AddSystem(window);
        return window;
    }

    static std::vector<Box> boxes;
    std::filesystem::path root;
    std::unique_ptr<ScopedCwd> cwd;
};

std::vector<Box> WindowSystemTest::boxes;

// Sends a report while the window's announcement is delivered, as the graphics device does while it
// is built on the window: a start-up report. Register it before the window system starts.
class StartUpReporter {
public:
    StartUpReporter(bool fatal, std::string text) : mFatal(fatal), mText(std::move(text)) {
        Engine::RegisterListener(MessageType::Window, Callable(this, &StartUpReporter::OnWindow));
    }
    ~StartUpReporter() {
        Engine::UnregisterListener(MessageType::Window, Callable(this, &StartUpReporter::OnWindow));
    }
    void OnWindow(const std::shared_ptr<Message>&) {
        Engine::ImmediateMessage(
            std::make_shared<ErrorMessage>(L"Error Message", mText, mFatal, "G", "File", -5));
    }

private:
    bool mFatal;
    std::string mText;
};

// A system updated before the window system that reports from its frame, as the scene passes do.
class FrameReporter : public System {
public:
    FrameReporter() : System(L"Graphics") {}
    void Update(float) override {
        Engine::ImmediateMessage(
            std::make_shared<ErrorMessage>(L"Error Message", "No model matches this name: x", false,
                                           "DXDevice::DrawOpaqueObjects", "DX11.cpp", 9));
    }
};

Uint32 PixelAt(SDL_Surface* surface, int x, int y) {
    const auto* row = static_cast<const Uint8*>(surface->pixels) + y * surface->pitch;
    Uint32 pixel = 0;
    std::memcpy(&pixel, row + x * surface->format->BytesPerPixel, surface->format->BytesPerPixel);
    return pixel;
}

TEST_F(WindowSystemTest, OpensAWhiteTorvikWindowAndAnnouncesItsHandle) {
    AddWindowSystem();
    Recorder recorder({MessageType::Window});
    Engine::Initialize();

    HWND handle = FindWindowA(nullptr, "Torvik");
    ASSERT_NE(handle, nullptr);
    auto* window = static_cast<SDL_Window*>(handle);
    int width = 0, height = 0, x = 0, y = 0;
    SDL_GetWindowSize(window, &width, &height);
    SDL_GetWindowPosition(window, &x, &y);
    EXPECT_EQ(width, 1600);
    EXPECT_EQ(height, 900);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 100);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_RESIZABLE);

    SDL_Surface* surface = SDL_GetWindowSurface(window);
    ASSERT_NE(surface, nullptr);
    const Uint32 white = SDL_MapRGB(surface->format, 255, 255, 255);
    for (auto [px, py] : {std::pair{0, 0}, {1599, 0}, {0, 899}, {1599, 899}, {800, 450}})
        EXPECT_EQ(PixelAt(surface, px, py), white) << px << "," << py;

    ASSERT_EQ(recorder.seen.size(), 1u);
    const auto& announced = dynamic_cast<const WindowMessage&>(*recorder.seen[0]);
    EXPECT_EQ(announced.GetSender(), L"Window");
    EXPECT_EQ(announced.GetHandle(), handle);
    EXPECT_NE(announced.GetInstance(), nullptr);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowSystemTest, IconFilesThatAreMissingOrCorruptDoNotStopStartUp) {
    const auto icon = root / "Resources" / "Textures" / "TorvikIcon.bmp";
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"missing", [&] { std::filesystem::remove(icon); }},
        {"corrupt", [&] { std::ofstream(icon, std::ios::binary) << "BM this is not a bitmap"; }},
        {"empty", [&] { std::ofstream(icon, std::ios::binary).flush(); }},
        {"generated",
         [&] {
             std::filesystem::copy_file(TORVIK_ICON_FILE, icon,
                                        std::filesystem::copy_options::overwrite_existing);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        AddWindowSystem();
        Engine::Initialize();
        EXPECT_NE(FindWindowA(nullptr, "Torvik"), nullptr);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(Engine::Release(), 0);
    }
}

TEST_F(WindowSystemTest, TheGeneratedIconIsABitmapSdlReads) {
    SDL_Surface* icon = SDL_LoadBMP(TORVIK_ICON_FILE);
    ASSERT_NE(icon, nullptr) << SDL_GetError();
    EXPECT_EQ(icon->w, 32);
    EXPECT_EQ(icon->h, 32);
    SDL_FreeSurface(icon);
}

TEST_F(WindowSystemTest, SizeQueriesAnswerTheCurrentSize) {
    AddWindowSystem();
    Engine::Initialize();
    auto* window = static_cast<SDL_Window*>(FindWindowA(nullptr, "Torvik"));
    ASSERT_NE(window, nullptr);

    auto size = std::make_shared<WindowSizeMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(size);
    EXPECT_EQ(size->GetWidth(), 1600);
    EXPECT_EQ(size->GetHeight(), 900);

    SDL_SetWindowSize(window, 1280, 720);
    Engine::ImmediateMessage(size);
    EXPECT_EQ(size->GetWidth(), 1280);
    EXPECT_EQ(size->GetHeight(), 720);

    // Smaller than the game allows: the window keeps its minimum.
    SDL_SetWindowSize(window, 640, 360);
    auto device = std::make_shared<GraphicsDeviceMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(device);
    EXPECT_EQ(device->GetWidth(), WindowSystem::kMinimumWidth);
    EXPECT_EQ(device->GetHeight(), WindowSystem::kMinimumHeight);
}

TEST_F(WindowSystemTest, WithoutAWindowSizeQueriesAnswerTheLastKnownSize) {
    // Never initialised: no window, so no area to measure.
    AddWindowSystem();
    auto size = std::make_shared<WindowSizeMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(size);
    EXPECT_EQ(size->GetWidth(), 1600);
    EXPECT_EQ(size->GetHeight(), 900);
    auto device = std::make_shared<GraphicsDeviceMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(device);
    EXPECT_EQ(device->GetWidth(), 1600);
    EXPECT_EQ(device->GetHeight(), 900);
}

TEST_F(WindowSystemTest, ErrorBoxTextNamesFileLineAndFunction) {
    const ErrorMessage report(L"Error Message", "No model matches this name", false,
                              "GraphicsSystem::DrawMesh", "Graphics", 123);
    EXPECT_EQ(WindowSystem::ErrorBoxText(report),
              "No model matches this name\nSource File: Graphics\nLine Number: 123\n Function Name: "
              "GraphicsSystem::DrawMesh");
}

TEST_F(WindowSystemTest, ANonFatalReportShowsAnErrorBoxAndTheGameGoesOn) {
    AddWindowSystem();
    // Before the window exists the box has no parent.
    Engine::ImmediateMessage(
        std::make_shared<ErrorMessage>(L"Error Message", "early", false, "F", "File", 1));
    StartUpReporter reporter(false, "late");
    Engine::Initialize();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].flags, static_cast<Uint32>(SDL_MESSAGEBOX_ERROR));
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].parent, nullptr);
    EXPECT_EQ(boxes[1].text, "late\nSource File: File\nLine Number: -5\n Function Name: G");
    EXPECT_EQ(boxes[1].parent, FindWindowA(nullptr, "Torvik"));
    EXPECT_EQ(Engine::RunFrames(3, 0.016f), 3);
}

// Start-up ends with the window's announcement: a report from the first frame's passes, which run
// before the window system's own Update, is printed like any later one.
TEST_F(WindowSystemTest, TheFirstFramesReportsArePrintedWithoutABox) {
    Engine::AddSystem(new FrameReporter);
    AddWindowSystem();
    Engine::Initialize();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Engine::RunFrames(2, 0.016f), 2);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(printed,
              "Error: No model matches this name: x\nSource File: DX11.cpp\nLine Number: 9\n Function "
              "Name: DXDevice::DrawOpaqueObjects\n");
}

TEST_F(WindowSystemTest, NonFatalReportsDuringFramesArePrintedOncePerTextWithoutABox) {
    AddWindowSystem();
    Engine::Initialize();
    Engine::RunFrames(1, 0.016f);
    testing::internal::CaptureStdout();
    for (int frame = 0; frame < 3; ++frame) {
        Engine::ImmediateMessage(std::make_shared<ErrorMessage>(
            L"Error Message", "No model matches this name", false, "DrawMesh", "Graphics", 7));
        Engine::RunFrames(1, 0.016f);
    }
    Engine::ImmediateMessage(
        std::make_shared<ErrorMessage>(L"Error Message", "other", false, "F", "File", 1));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(printed,
              "Error: No model matches this name\nSource File: Graphics\nLine Number: 7\n Function Name: "
              "DrawMesh\nError: other\nSource File: File\nLine Number: 1\n Function Name: F\n");
}

class WindowSystemDeath : public WindowSystemTest {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        WindowSystemTest::SetUp();
    }
};

[[noreturn]] void ReportAndContinue(bool fatal, int boxResult) {
    WindowSystem::SetMessageBoxFunction([boxResult](Uint32, const char* title, const char*, SDL_Window*) {
        std::fprintf(stderr, "box [%s]\n", title);
        return boxResult;
    });
    Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
    StartUpReporter reporter(fatal, "report");
    Engine::Initialize();
    std::fprintf(stderr, "the game went on\n");
    std::exit(0);
}

[[noreturn]] void StartWithoutAVideoDriver() {
    WindowSystem::SetMessageBoxFunction([](Uint32, const char* title, const char* text, SDL_Window* parent) {
        std::fprintf(stderr, "box [%s] parent=%s\n%s\n", title, parent ? "window" : "none", text);
        return 0;
    });
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
    Engine::Initialize();
    std::exit(0);
}

TEST_F(WindowSystemDeath, AStartUpFailureIsAFatalReportOfTheWindowSystem) {
    EXPECT_EXIT(StartWithoutAVideoDriver(), ::testing::ExitedWithCode(-14 & 0xFF),
                "box \\[Fatal Error\\] parent=none\nSDL could not be properly initialized.\nSDL_Error: .*\n"
                "Source File: Windows\nLine Number: 87\n Function Name: WindowSystem::Initialize");
}

TEST_F(WindowSystemDeath, AFatalReportEndsTheProcessWithMinus14) {
    EXPECT_EXIT(ReportAndContinue(true, 0), ::testing::ExitedWithCode(-14 & 0xFF), "box \\[Fatal Error\\]");
}

TEST_F(WindowSystemDeath, ABoxThatCannotBeShownEndsTheProcessWithMinus80) {
    EXPECT_EXIT(ReportAndContinue(false, -1), ::testing::ExitedWithCode(-80 & 0xFF), "box \\[Error\\]");
    EXPECT_EXIT(ReportAndContinue(true, 1), ::testing::ExitedWithCode(-80 & 0xFF), "box \\[Fatal Error\\]");
}

TEST_F(WindowSystemDeath, ANonFatalReportDoesNotEndTheProcess) {
    EXPECT_EXIT(ReportAndContinue(false, 0), ::testing::ExitedWithCode(0),
                "box \\[Error\\]\nthe game went on");
}

} // namespace
