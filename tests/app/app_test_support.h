// Helpers of the start-up tests: a message recorder, a working-directory switch and a box that
// never waits.
#pragma once

#include <Callable.h>
#include <Engine.h>
#include <Messages.h>

#include <MessageRecorder.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace apptest {

using Recorder = MessageRecorder;

// Changes the working directory for the life of the object.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& path) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer)) mOld = buffer;
        EXPECT_EQ(chdir(path.c_str()), 0) << path;
    }
    ~ScopedCwd() {
        if (!mOld.empty() && chdir(mOld.c_str()) != 0) ADD_FAILURE() << "could not return to " << mOld;
    }

private:
    std::string mOld;
};

inline std::string CaseDir(const std::string& name) {
    return std::string(TORVIK_TEST_CASES) + "/" + name;
}

} // namespace apptest
