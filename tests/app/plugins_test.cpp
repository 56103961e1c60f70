#include "app_test_support.h"

#include <AddSystems.h>
#include <WindowSystem.h>

#include <SDL.h>

#include <cstdio>

namespace {

using apptest::CaseDir;
using apptest::Recorder;
using apptest::ScopedCwd;

TEST(PluginNames, OnlyNamesLongerThanTheExtensionEndingInDllInAnyCase) {
    struct Case {
        const wchar_t* entry;
        bool plugin;
    };
    const Case cases[] = {
        {L"x.dll", true},
        {L"X.DLL", true},
        {L"a.Dll", true},
        {L"Binaries/Game.dLL", true},
        {L".dll", false},
        {L"Binaries/.dll", false},
        {L"dll", false},
        {L"a.dl", false},
        {L"a.dll.txt", false},
        {L"", false},
        {L"Binaries\\b.DLL", true},
        {L"adll", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPluginLibraryName(c.entry), c.plugin) << "entry \"" << c.entry << "\"";
}

class StartUp : public ::testing::Test {
protected:
    void TearDown() override {
        Engine::Release();
        WindowSystem::SetMessageBoxFunction({});
    }
};

TEST_F(StartUp, APlugInIsAddedAfterTheSevenBuiltInSystems) {
    ScopedCwd cwd(CaseDir("good"));
    WindowSystem::SetMessageBoxFunction([](Uint32, const char*, const char*, SDL_Window*) { return 0; });
    AddSystems();
    Recorder recorder({MessageType::Window, MessageType::GameEvent});
    Engine::Initialize();
    // Systems start in add order and relayed messages arrive in order: the window system's
    // announcement comes first, so the plug-in started after the seventh system.
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[0]->GetMessageType(), MessageType::Window);
    EXPECT_EQ(recorder.seen[1]->GetMessageType(), MessageType::GameEvent);
    EXPECT_EQ(recorder.seen[1]->GetSender(), L"TestPlugin");
    EXPECT_EQ(Engine::RunFrames(2, 0.016f), 2);
    EXPECT_EQ(Engine::Release(), 0);
}

TEST_F(StartUp, WithoutPlugInsTheBuiltInSystemsStillStartAndQuitEndsTheLoop) {
    for (const char* folder : {"empty", "null"}) {
        SCOPED_TRACE(folder);
        ScopedCwd cwd(CaseDir(folder));
        AddSystems();
        Recorder recorder({MessageType::Window, MessageType::GameEvent, MessageType::Quit});
        Engine::Initialize();
        ASSERT_EQ(recorder.seen.size(), 1u);
        EXPECT_EQ(recorder.seen[0]->GetMessageType(), MessageType::Window);

        // Closing the window: SDL's quit event becomes one message 13 and the loop stops.
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        ASSERT_EQ(SDL_PushEvent(&quit), 1);
        EXPECT_EQ(Engine::RunFrames(10, 0.016f), 1);
        EXPECT_EQ(recorder.seen.size(), 2u);
        EXPECT_EQ(recorder.seen.back()->GetMessageType(), MessageType::Quit);
        EXPECT_EQ(Engine::Release(), 0);
    }
}

// ---- fatal start-up errors end the process --------------------------------------------------

class PlugInDeath : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

[[noreturn]] void LoadPluginsAlone(const char* folder) {
    ScopedCwd cwd(CaseDir(folder));
    AddPluginSystems();
    std::fprintf(stderr, "plug-ins loaded\n");
    std::exit(0);
}

[[noreturn]] void StartWithBox(const char* folder, int boxResult) {
    ScopedCwd cwd(CaseDir(folder));
    WindowSystem::SetMessageBoxFunction([boxResult](Uint32 flags, const char* title, const char* text,
                                                    SDL_Window* parent) {
        std::fprintf(stderr, "box %u [%s] parent=%s\n%s\n", flags, title, parent ? "window" : "none", text);
        return boxResult;
    });
    AddSystems();
    std::fprintf(stderr, "start-up went on\n");
    std::exit(0);
}

TEST_F(PlugInDeath, WithoutAWindowSystemTheLoadFailureEndsWithMinus77) {
    EXPECT_EXIT(LoadPluginsAlone("corrupt"), ::testing::ExitedWithCode(-77 & 0xFF), "");
}

TEST_F(PlugInDeath, WithoutAWindowSystemTheMissingExportEndsWithMinus28) {
    EXPECT_EXIT(LoadPluginsAlone("noexport"), ::testing::ExitedWithCode(-28 & 0xFF), "");
}

TEST_F(PlugInDeath, TheWindowSystemShowsTheLoadFailureAndEndsWithMinus14) {
    EXPECT_EXIT(StartWithBox("corrupt", 0), ::testing::ExitedWithCode(-14 & 0xFF),
                "box 16 \\[Fatal Error\\] parent=none\nFatal Error: Dynamically Loading a Library\n"
                "Source File: Main\nLine Number: 80\n Function Name: AddSystems\n");
}

TEST_F(PlugInDeath, TheWindowSystemShowsTheMissingExportAndEndsWithMinus14) {
    EXPECT_EXIT(StartWithBox("noexport", 0), ::testing::ExitedWithCode(-14 & 0xFF),
                "Fatal Error: Could not Locate Function that returns the system\n"
                "Source File: Main\nLine Number: 93\n Function Name: AddSystems\n");
}

TEST_F(PlugInDeath, ABoxThatCannotBeShownEndsWithMinus80) {
    EXPECT_EXIT(StartWithBox("corrupt", -1), ::testing::ExitedWithCode(-80 & 0xFF), "Dynamically Loading");
    EXPECT_EXIT(StartWithBox("noexport", -1), ::testing::ExitedWithCode(-80 & 0xFF), "Could not Locate");
}

TEST_F(PlugInDeath, APlugInThatGivesNoSystemIsSkipped) {
    EXPECT_EXIT(LoadPluginsAlone("null"), ::testing::ExitedWithCode(0), "plug-ins loaded");
    EXPECT_EXIT(StartWithBox("good", 0), ::testing::ExitedWithCode(0), "start-up went on");
}

} // namespace
