// Internals shared by the engine's sources.
#pragma once

#include <string>
#include <vector>

namespace zurari {

// One console line (a line end is added), also kept while a test captures the log.
void Log(const std::string& line);

// While one lives, console lines wait in it; Flush prints them, and the destructor drops the rest.
// Lets a reader print its warnings only for a file that it accepts.
class LogDeferral {
public:
    LogDeferral();
    ~LogDeferral();
    void Flush();
    LogDeferral(const LogDeferral&) = delete;
    LogDeferral& operator=(const LogDeferral&) = delete;

private:
    friend void Log(const std::string& line);
    std::vector<std::string> mLines;
    LogDeferral* mOuter;
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// "..\..\Resources\Levels\x.json" becomes "<resource root>/Levels/x.json"; then, as every path, it
// is named as this machine names it (win32_paths.h: '/' for '\', letter case resolved).
std::string ResolvePath(const std::string& windowsPath);

} // namespace zurari
