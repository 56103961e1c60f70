#include "AddSystems.h"

#include "ErrorLoggerSystem.h"
#include "WindowSystem.h"

#include <Engine.h>
#include <GameLogic.h>
#include <GraphicsSystem.h>
#include <InputSystem.h>
#include <Messages.h>
#include <PhysicsSystem.h>
#include <SoundSystem.h>
#include <System.h>
#include <WindowsDirectory.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace {

constexpr int kExitLibraryNotLoaded = -77;
constexpr int kExitExportMissing = -28;

[[noreturn]] void FatalStartupError(const char* text, int line, int status) {
    Engine::ImmediateMessage(
        std::make_shared<ErrorMessage>(L"Error Message", text, true, "AddSystems", "Main", line));
    // Reached only when no window system took the report.
    std::exit(status);
}

std::string Utf8(const std::wstring& text) {
    std::string out(static_cast<std::size_t>(
                        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)),
                    '\0');
    if (out.empty()) return out;
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr,
                        nullptr);
    out.pop_back();
    return out;
}

} // namespace

bool IsPluginLibraryName(const std::wstring& entry) {
    const std::size_t slash = entry.find_last_of(L"/\\");
    const std::wstring name = slash == std::wstring::npos ? entry : entry.substr(slash + 1);
    if (name.size() <= 4) return false;
    std::wstring extension = name.substr(name.size() - 4);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return extension == L".DLL";
}

void AddPluginSystems() {
    for (const std::wstring& entry : GetFilesInWindowsDirectory(L"Binaries\\")) {
        if (!IsPluginLibraryName(entry)) continue;
        // Plug-in libraries stay loaded for the life of the process.
        HMODULE library = LoadLibraryW(entry.c_str());
        if (!library)
            FatalStartupError("Fatal Error: Dynamically Loading a Library", 80, kExitLibraryNotLoaded);
        auto create = reinterpret_cast<System* (*)()>(GetProcAddress(library, "?ExpSystem@@YGPAVSystem@@XZ"));
        if (!create)
            FatalStartupError("Fatal Error: Could not Locate Function that returns the system", 93,
                              kExitExportMissing);
        System* system = create();
        if (!system) {
            std::printf("AddSystems: %s returned no system; it is not added\n", Utf8(entry).c_str());
            continue;
        }
        Engine::AddSystem(system);
    }
}

void AddSystems() {
    Engine::AddSystem(new ErrorLoggerSystem(L"ErrorLogger"));
    Engine::AddSystem(new GameLogic(L"GameLogic"));
    Engine::AddSystem(new GraphicsSystem(L"Graphics"));
    Engine::AddSystem(new InputSystem(L"Input"));
    Engine::AddSystem(new PhysicsSystem(L"Physics"));
    Engine::AddSystem(new SoundSystem(L"Sound"));
    Engine::AddSystem(new WindowSystem(L"Window", 1600, 900, 100, 100, "Torvik", 0x24));
    AddPluginSystems();
}
