#include "engine_fixture.h"

#include "EngineTestControl.h"

#include <algorithm>
#include <fstream>
#include <unistd.h>

void EngineTestBase::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        "torvik_engine_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    mScratch = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(mScratch);
    std::filesystem::create_directories(mScratch);
    EngineTest::SetResourceRoot(mScratch.string());
    EngineTest::CaptureLog(true);
}

void EngineTestBase::TearDown() {
    Engine::Release();
    EngineTest::CaptureLog(false);
    std::filesystem::remove_all(mScratch);
}

void EngineTestBase::WriteFile(const std::string& relative, const std::string& text) {
    const auto path = mScratch / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> EngineTestBase::Log() {
    return EngineTest::TakeLog();
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::vector<std::string>& pieces) {
    for (const auto& line : lines) {
        bool all = true;
        for (const auto& piece : pieces)
            all = all && line.find(piece) != std::string::npos;
        if (all) return true;
    }
    return false;
}
