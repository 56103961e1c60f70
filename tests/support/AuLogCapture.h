// Collects what the sound engine logs while it is alive, so a test reads the engine's reasons.
#pragma once

#include "core/AuLog.h"

#include <string>
#include <utility>
#include <vector>

class AuLogCapture {
public:
    AuLogCapture() { AuSetLogSink(&AuLogCapture::Record, this); }
    ~AuLogCapture() { AuSetLogSink(nullptr, nullptr); }
    AuLogCapture(const AuLogCapture&) = delete;
    AuLogCapture& operator=(const AuLogCapture&) = delete;

    const std::vector<std::pair<AuLogLevel, std::string>>& Lines() const { return m_lines; }
    std::string Text() const {
        std::string all;
        for (const auto& line : m_lines)
            all += line.second + "\n";
        return all;
    }
    void Clear() { m_lines.clear(); }

private:
    static void Record(AuLogLevel level, const char* text, void* user) {
        static_cast<AuLogCapture*>(user)->m_lines.emplace_back(level, text);
    }
    std::vector<std::pair<AuLogLevel, std::string>> m_lines;
};
