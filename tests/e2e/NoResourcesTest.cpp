// The game started where "..\..\Resources" does not exist: its first shader cannot be read, which is
// fatal, so the report ends the process with -14 (seen as 242) instead of a game without pictures
// or a hang.
#include <AddSystems.h>
#include <Engine.h>
#include <WindowSystem.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(EndToEnd, WithoutResourcesTheShaderReportEndsTheGame) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path run = fs::path(TORVIK_E2E_ROOT) / "noresources" / "Bin" / "Release";
    fs::remove_all(run.parent_path().parent_path());
    fs::create_directories(run);
    ASSERT_FALSE(fs::exists(run / ".." / ".." / "Resources"));
    EXPECT_EXIT(
        {
            // The report box records and returns as shown: the fatal report itself ends the game.
            WindowSystem::SetMessageBoxFunction([](Uint32, const char* title, const char* text, SDL_Window*) {
                std::fprintf(stderr, "box \"%s\": %s\n", title, text);
                return 0;
            });
            // The console lines go where the death test reads them, in the order they are written.
            dup2(2, 1);
            std::setvbuf(stdout, nullptr, _IONBF, 0);
            if (chdir(run.c_str()) != 0) std::_Exit(1);
            AddSystems();
            Engine::Initialize();
            Engine::RunFrames(10, 0.1f);
            std::_Exit(Engine::Release());
        },
        testing::ExitedWithCode(242),
        "FAILED TO LOAD SHADER: \\.\\..\\.\\..Resources.Shaders.defaultshader\\.fx.*box \"Fatal Error\"");
}

} // namespace
