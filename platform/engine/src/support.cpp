#include "detail.h"

#include "ComponentType.h"
#include "EngineTestControl.h"
#include "MessageType.h"

#include <win32_paths.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace zurari {
namespace {

struct LogState {
    std::mutex mutex;
    bool capture = false;
    std::vector<std::string> lines;
};

LogState& Logs() {
    static LogState state;
    return state;
}

std::string& ResourceRoot() {
    static std::string root = "../../Resources";
    return root;
}

// Game thread only, like the loaders that use it.
LogDeferral* gDeferral = nullptr;

} // namespace

LogDeferral::LogDeferral() : mOuter(gDeferral) {
    gDeferral = this;
}
LogDeferral::~LogDeferral() {
    gDeferral = mOuter;
}

void LogDeferral::Flush() {
    LogDeferral* self = gDeferral;
    gDeferral = mOuter;
    for (const auto& line : mLines)
        Log(line);
    mLines.clear();
    gDeferral = self;
}

void Log(const std::string& line) {
    if (gDeferral) {
        gDeferral->mLines.push_back(line);
        return;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    LogState& logs = Logs();
    std::lock_guard<std::mutex> lock(logs.mutex);
    if (logs.capture) logs.lines.push_back(line);
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(
                        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()), nullptr,
                        nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
                     L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()));
    return out;
}

std::string ResolvePath(const std::string& windowsPath) {
    const std::string prefix = "../../Resources";
    const bool inResources =
        windowsPath.size() >= prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), windowsPath.begin(), [](char wanted, char given) {
            return given == wanted || (wanted == '/' && given == '\\');
        });
    return win32::NativePath(inResources ? ResourceRoot() + windowsPath.substr(prefix.size()) : windowsPath);
}

} // namespace zurari

const char* MessageTypeName(MessageType type) {
    switch (type) {
#define ZURARI_MESSAGE_TYPE_CASE(name, value)                                                                \
    case MessageType::name:                                                                                  \
        return #name;
        ZURARI_MESSAGE_TYPES(ZURARI_MESSAGE_TYPE_CASE)
#undef ZURARI_MESSAGE_TYPE_CASE
    }
    return "Unknown";
}

namespace EngineTest {

void SetResourceRoot(const std::string& root) {
    zurari::ResourceRoot() = root;
}

void CaptureLog(bool capture) {
    auto& logs = zurari::Logs();
    std::lock_guard<std::mutex> lock(logs.mutex);
    logs.capture = capture;
    if (!capture) logs.lines.clear();
}

std::vector<std::string> TakeLog() {
    auto& logs = zurari::Logs();
    std::lock_guard<std::mutex> lock(logs.mutex);
    std::vector<std::string> lines;
    lines.swap(logs.lines);
    return lines;
}

} // namespace EngineTest

const char* ComponentTypeName(ComponentType type) {
    switch (type) {
#define ZURARI_COMPONENT_TYPE_CASE(name, value)                                                              \
    case ComponentType::name:                                                                                \
        return #name;
        ZURARI_COMPONENT_TYPES(ZURARI_COMPONENT_TYPE_CASE)
#undef ZURARI_COMPONENT_TYPE_CASE
    case ComponentType::None:
        break;
    }
    return "Unknown";
}
