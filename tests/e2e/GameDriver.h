// The whole game in this process as a player drives it: a fresh copy of the run-time tree to run
// in, fixed frames, and keys and the mouse as SDL events pushed into SDL's queue.
#pragma once

#include <ScopedCwd.h>

#include <SDL.h>

#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

// Fixed so that a run is the same every time.
constexpr float kFrameTime = 0.1f;

// A fresh copy of the run-time tree under `root`: Resources beside Bin/Release, which holds the GUI's
// shader and the plug-in folder, so that "..\..\Resources" is the copy. Bin/Release is returned.
std::filesystem::path CopyRunTimeTree(const std::filesystem::path& root);

// A report box fails the test and is kept in `boxes`: none may block a run.
class GameDriver {
public:
    GameDriver();
    ~GameDriver();
    GameDriver(const GameDriver&) = delete;
    GameDriver& operator=(const GameDriver&) = delete;

    // One frame of the engine; false once the game has quit.
    bool Frame();
    void Frames(int count);

    SDL_Window* Window() const;
    void Key(SDL_Scancode code, bool down);
    // A key pressed for one frame, as a quick tap.
    void Tap(SDL_Scancode code);
    void MouseMove(int x, int y);
    void MouseButton(int x, int y, bool down);
    // A left click at the point: moved there one frame, pressed the next, let go the one after.
    void ClickAt(int x, int y);

    int frames = 0;
    std::vector<std::string> boxes;
};

} // namespace e2e
