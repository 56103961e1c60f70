// Collects what the sound engine logs while it is alive, so a test reads the engine's reasons.
// The engine's threads log while the test reads, so every access takes the capture's own lock and
// readers get copies.
#pragma once

#include "core/AuLog.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class AuLogCapture {
public:
    AuLogCapture() { AuSetLogSink(&AuLogCapture::Record, this); }
    ~AuLogCapture() { AuSetLogSink(nullptr, nullptr); }
    AuLogCapture(const AuLogCapture&) = delete;
    AuLogCapture& operator=(const AuLogCapture&) = delete;

    std::vector<std::pair<AuLogLevel, std::string>> Lines() const {
        std::lock_guard guard(m_lock);
        return m_lines;
    }
    std::string Text() const {
        std::lock_guard guard(m_lock);
        std::string all;
        for (const auto& line : m_lines)
            all += line.second + "\n";
        return all;
    }
    void Clear() {
        std::lock_guard guard(m_lock);
        m_lines.clear();
    }

private:
    static void Record(AuLogLevel level, const char* text, void* user) {
        auto* self = static_cast<AuLogCapture*>(user);
        std::lock_guard guard(self->m_lock);
        self->m_lines.emplace_back(level, text);
    }
    mutable std::mutex m_lock;
    std::vector<std::pair<AuLogLevel, std::string>> m_lines;
};
