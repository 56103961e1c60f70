// The game window over SDL: opens it, hands its handle to the other systems, answers size queries,
// minimises on request and shows error reports, ending the process on fatal ones.
#pragma once

#include <Messages.h>
#include <System.h>

#include <SDL_video.h>

#include <functional>
#include <set>
#include <string>

class WindowSystem : public System {
public:
    // Returns 0 when the box was shown. SDL_ShowSimpleMessageBox unless replaced.
    using MessageBoxFunction =
        std::function<int(Uint32 flags, const char* title, const char* text, SDL_Window* parent)>;

    static constexpr int kExitAfterFatalReport = -14;
    static constexpr int kExitMessageBoxFailed = -80;
    // The smallest window the player can make: four players' HUDs fit their quarters and every menu
    // fits the window.
    static constexpr int kMinimumWidth = 960;
    static constexpr int kMinimumHeight = 540;

    WindowSystem(const std::wstring& name, int width, int height, int x, int y, const std::string& title,
                 Uint32 windowFlags);

    void HandleMessage(std::shared_ptr<Message> message) override;
    void Update(float dt) override;
    int Release() override;
    void Initialize() override;

    void ShowErrorBox(const ErrorMessage& report);

    // For every window system of the process; an empty function restores SDL's box. Tests use it so
    // that no box ever waits for a click.
    static void SetMessageBoxFunction(MessageBoxFunction function);
    // The text of the box: the report, then its source file, line and function.
    static std::string ErrorBoxText(const ErrorMessage& report);

    // The icon, under the resources folder.
    static constexpr const char* kIconPath = "../../Resources/Textures/TorvikIcon.bmp";

private:
    void ReportStartupError(const std::string& text, int line);
    void OnWindowAnnounced(const std::shared_ptr<Message>& message);
    void AnswerSize(SizeMessage& message, bool keepSize);

    int mWidth;
    int mHeight;
    int mX;
    int mY;
    std::string mTitle;
    Uint32 mWindowFlags;
    SDL_Window* mWindow = nullptr;
    SDL_Surface* mSurface = nullptr;
    // Once frames run, a box per non-fatal report would stop the game every frame: such reports
    // go to the console instead, each distinct text once. Frames count as running once the window's
    // announcement has reached every system that builds on it (the device, input), which is before
    // the first frame's first Update.
    bool mFramesRunning = false;
    std::set<std::string> mPrintedReports;
};
