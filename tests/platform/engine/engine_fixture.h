// A clean engine per test, level files in a scratch folder, and the engine's console lines.
#pragma once

#include "Zurari32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class EngineTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes <scratch>/<relative> (folders made as needed).
    void WriteFile(const std::string& relative, const std::string& text);
    void WriteLevel(const std::string& name, const std::string& json) {
        WriteFile("Levels/" + name + ".json", json);
    }
    void WriteArchetype(const std::string& name, const std::string& json) {
        WriteFile("Archetypes/" + name + ".json", json);
    }
    // Console lines since the last call.
    std::vector<std::string> Log();
    // Delivers what is queued (one frame without systems).
    static void Drain() { Engine::RunFrames(1, 0.0f); }

    std::filesystem::path mScratch;
};

// True when some line contains every one of the pieces.
bool AnyLineHas(const std::vector<std::string>& lines, const std::vector<std::string>& pieces);
