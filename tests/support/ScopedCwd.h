// Runs a test inside a folder and returns to where it was, whatever the test does.
#pragma once

#include <filesystem>

class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& path) : mOld(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedCwd() { std::filesystem::current_path(mOld); }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::filesystem::path mOld;
};
