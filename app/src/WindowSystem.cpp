#include "WindowSystem.h"

#include <Callable.h>
#include <Engine.h>
#include <winuser.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

WindowSystem::MessageBoxFunction& BoxFunction() {
    static WindowSystem::MessageBoxFunction function;
    return function;
}

[[noreturn]] void EndProcessNow(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

WindowSystem::WindowSystem(const std::wstring& name, int width, int height, int x, int y,
                           const std::string& title, Uint32 windowFlags)
    : System(name), mWidth(width), mHeight(height), mX(x), mY(y), mTitle(title), mWindowFlags(windowFlags) {}

void WindowSystem::SetMessageBoxFunction(MessageBoxFunction function) {
    BoxFunction() = std::move(function);
}

std::string WindowSystem::ErrorBoxText(const ErrorMessage& report) {
    return report.GetText() + "\nSource File: " + report.GetFileName() +
           "\nLine Number: " + std::to_string(report.GetLineNumber()) +
           "\n Function Name: " + report.GetFunctionName();
}

void WindowSystem::ReportStartupError(const std::string& text, int line) {
    Engine::ImmediateMessage(std::make_shared<ErrorMessage>(L"Error Message", text + SDL_GetError(), true,
                                                            "WindowSystem::Initialize", "Windows", line));
}

void WindowSystem::Initialize() {
    // The game draws the window surface on the CPU: a plain framebuffer, not one routed through a
    // GL texture (which loads the whole GL stack for nothing). The environment may still choose.
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        ReportStartupError("SDL could not be properly initialized.\nSDL_Error: ", 87);
    mWindow = SDL_CreateWindow(mTitle.c_str(), mX, mY, mWidth, mHeight, mWindowFlags);
    if (!mWindow) ReportStartupError("Window could not properly be created.\nSDL_Error: ", 91);
    if (mWindow) SDL_SetWindowMinimumSize(mWindow, kMinimumWidth, kMinimumHeight);
    mSurface = mWindow ? SDL_GetWindowSurface(mWindow) : nullptr;
    if (!mSurface) ReportStartupError("SDL could not fetch Window Surface.\nSDL_Error: ", 95);

    // A missing or unreadable icon leaves the default one.
    if (SDL_Surface* icon = SDL_LoadBMP_RW(SDL_RWFromFile(kIconPath, "rb"), 1)) {
        if (mWindow) SDL_SetWindowIcon(mWindow, icon);
        SDL_FreeSurface(icon);
    }
    if (mSurface) SDL_FillRect(mSurface, nullptr, SDL_MapRGB(mSurface->format, 255, 255, 255));

    // Registered after the systems added before this one, so it hears the announcement last of them.
    Engine::RegisterListener(MessageType::Window, Callable(this, &WindowSystem::OnWindowAnnounced));
    HWND window = FindWindowA(nullptr, mTitle.c_str());
    auto instance = reinterpret_cast<HINSTANCE>(static_cast<LONG_PTR>(GetWindowLongW(window, GWL_HINSTANCE)));
    Engine::RelayMessage(std::make_shared<WindowMessage>(mName, window, instance));
}

void WindowSystem::OnWindowAnnounced(const std::shared_ptr<Message>&) {
    mFramesRunning = true;
}

void WindowSystem::AnswerSize(SizeMessage& message, bool keepSize) {
    int width = 0, height = 0;
    if (mWindow) SDL_GetWindowSize(mWindow, &width, &height);
    // A window without area (minimised on some drivers, or not opened) would give zero-sized
    // targets and a 0/0 aspect: answer with the last good size instead.
    if (width <= 0 || height <= 0) {
        width = mWidth;
        height = mHeight;
    } else if (keepSize) {
        mWidth = width;
        mHeight = height;
    }
    message.SetHeight(height);
    message.SetWidth(width);
}

void WindowSystem::HandleMessage(std::shared_ptr<Message> message) {
    if (!message) return;
    switch (message->GetMessageType()) {
    case MessageType::Error:
        if (auto* report = dynamic_cast<ErrorMessage*>(message.get())) {
            if (report->GetIsFatal() || !mFramesRunning)
                ShowErrorBox(*report);
            else if (mPrintedReports.insert(report->GetText()).second)
                std::printf("Error: %s\n", ErrorBoxText(*report).c_str());
        }
        break;
    case MessageType::WindowSize:
        if (auto* size = dynamic_cast<WindowSizeMessage*>(message.get())) AnswerSize(*size, false);
        break;
    case MessageType::GraphicsDevice:
        if (auto* size = dynamic_cast<GraphicsDeviceMessage*>(message.get())) AnswerSize(*size, true);
        break;
    case MessageType::MinimizeWindow:
        if (mWindow) SDL_MinimizeWindow(mWindow);
        break;
    default:
        break;
    }
}

void WindowSystem::Update(float) {
    mFramesRunning = true;
    std::lock_guard<std::mutex> lock(mQueueMutex);
    while (!mMessageQueue.empty()) {
        if (mMessageQueue.front() && mMessageQueue.front()->GetMessageType() == MessageType::MinimizeWindow &&
            mWindow)
            SDL_MinimizeWindow(mWindow);
        mMessageQueue.pop();
    }
}

int WindowSystem::Release() {
    Engine::UnregisterListener(MessageType::Window, Callable(this, &WindowSystem::OnWindowAnnounced));
    if (mWindow) SDL_DestroyWindow(mWindow);
    mWindow = nullptr;
    mSurface = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return 0;
}

void WindowSystem::ShowErrorBox(const ErrorMessage& report) {
    const char* title = report.GetIsFatal() ? "Fatal Error" : "Error";
    const std::string text = ErrorBoxText(report);
    const MessageBoxFunction& box = BoxFunction();
    const int shown = box ? box(SDL_MESSAGEBOX_ERROR, title, text.c_str(), mWindow)
                          : SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text.c_str(), mWindow);
    // Other systems' threads (the sound engine's audio thread) still run here: end the process
    // at once, as the platform does, rather than run static destructors under them.
    if (shown != 0) EndProcessNow(kExitMessageBoxFailed);
    if (report.GetIsFatal()) EndProcessNow(kExitAfterFatalReport);
}
