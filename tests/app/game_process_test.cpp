// The game as a process: started from its working directory, it runs until its window is closed
// and then exits with 0.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// SDL turns SIGTERM into its quit event once its event loop is up; until then the default action
// would kill the process. So wait until the process catches the signal.
bool CatchesSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (SIGTERM - 1)) & 1u;
        }
    }
    return false;
}

TEST(GameProcess, ClosingTheWindowEndsTheGameWithZero) {
    const std::filesystem::path game = TORVIK_GAME;
    ASSERT_TRUE(std::filesystem::exists(game)) << game;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(game.parent_path().c_str()) != 0) _exit(101);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        execl(game.c_str(), game.c_str(), static_cast<char*>(nullptr));
        _exit(102);
    }
    bool ready = false;
    for (int tries = 0; tries < 3000 && !ready; ++tries) {
        ready = CatchesSigterm(pid);
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(ready) << "the game did not start its event loop";
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
