#include "detail.h"

#include "ComponentType.h"
#include "EngineTestControl.h"
#include "MessageType.h"

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

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
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
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t c = b;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            c = b & 0x07;
        } else if (b >= 0x80) {
            extra = 4; // a stray continuation or an invalid lead byte
        }
        bool valid = extra < 4 && i + extra < text.size();
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += L'\uFFFD';
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

std::string ResolvePath(const std::string& windowsPath) {
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '\\') c = '/';
    const std::string prefix = "../../Resources";
    if (path.compare(0, prefix.size(), prefix) == 0) return ResourceRoot() + path.substr(prefix.size());
    return path;
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
