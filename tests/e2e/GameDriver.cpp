#include "GameDriver.h"

#include <Engine.h>
#include <WindowSystem.h>
#include <winuser.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace e2e {

fs::path CopyRunTimeTree(const fs::path& root) {
    fs::remove_all(root);
    const fs::path run = root / "Bin" / "Release";
    fs::create_directories(run);
    fs::copy(TORVIK_RESOURCES_DIR, root / "Resources", fs::copy_options::recursive);
    fs::copy_file(fs::path(TORVIK_BIN_DIR) / "imguishader.fx", run / "imguishader.fx");
    fs::copy(fs::path(TORVIK_BIN_DIR) / "Binaries", run / "Binaries", fs::copy_options::recursive);
    return run;
}

GameDriver::GameDriver() {
    WindowSystem::SetMessageBoxFunction([this](Uint32, const char* title, const char* text, SDL_Window*) {
        boxes.push_back(std::string(title) + ": " + text);
        ADD_FAILURE() << "a report was shown during the run: " << title << ": " << text;
        return 0;
    });
}

GameDriver::~GameDriver() {
    WindowSystem::SetMessageBoxFunction({});
}

bool GameDriver::Frame() {
    if (Engine::RunFrames(1, kFrameTime) != 1) return false;
    ++frames;
    return true;
}

void GameDriver::Frames(int count) {
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(Frame()) << "the game quit at frame " << frames;
}

SDL_Window* GameDriver::Window() const {
    return static_cast<SDL_Window*>(FindWindowA(nullptr, "Torvik"));
}

void GameDriver::Key(SDL_Scancode code, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.windowID = SDL_GetWindowID(Window());
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = code;
    event.key.keysym.sym = SDL_GetKeyFromScancode(code);
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

void GameDriver::Tap(SDL_Scancode code) {
    Key(code, true);
    Frames(1);
    Key(code, false);
    Frames(1);
}

void GameDriver::MouseMove(int x, int y) {
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.windowID = SDL_GetWindowID(Window());
    event.motion.x = x;
    event.motion.y = y;
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

void GameDriver::MouseButton(int x, int y, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.windowID = SDL_GetWindowID(Window());
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = 1;
    event.button.x = x;
    event.button.y = y;
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

void GameDriver::ClickAt(int x, int y) {
    MouseMove(x, y);
    Frames(1);
    MouseButton(x, y, true);
    Frames(1);
    MouseButton(x, y, false);
    Frames(1);
}

} // namespace e2e
