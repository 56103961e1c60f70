// The resource tests' world: a copy of the run-time tree's shaders and textures under a temporary
// root R, the working directory R/run/bin (so "..\..\Resources" is R/Resources), and a Direct3D
// device on an offscreen window. Error reports are recorded; no window system shows them.
#pragma once

#include <DXDevice.h>
#include <Engine.h>
#include <Messages.h>
#include <d3d11_test_control.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace restest {

struct Report {
    std::string text;
    bool fatal;
    std::string function;
    std::string file;
    int line;
    bool operator==(const Report&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Report& r);

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file under R/Resources/<folder>.
    void WriteResource(const std::string& folder, const std::string& name, const std::string& bytes);
    std::vector<Report> Reports() const;
    void OnError(const std::shared_ptr<Message>& message);
    // The calls of one name since recording started.
    static std::vector<d3d11test::Call> Named(const std::vector<d3d11test::Call>& calls,
                                              const std::string& name);

    std::filesystem::path mRoot;
    std::filesystem::path mOldDirectory;
    SDL_Window* mWindow = nullptr;
    std::unique_ptr<DXDevice> mDevice;
    std::vector<std::shared_ptr<Message>> mErrors;
    std::size_t mLiveBefore = 0;
};

} // namespace restest
