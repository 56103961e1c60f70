#include "ResourceTestSupport.h"

#include <Callable.h>

#include <fstream>
#include <unistd.h>

namespace restest {

std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "{\"" << r.text << "\", " << r.fatal << ", " << r.function << ", " << r.file << ", "
               << r.line << "}";
}

void ResourceTest::SetUp() {
    namespace fs = std::filesystem;
    mLiveBefore = d3d11test::LiveObjects();
    d3d11test::ClearInjectedFailures();
    mRoot = fs::temp_directory_path() / ("torvik_res_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(mRoot);
    fs::create_directories(mRoot / "run" / "bin");
    fs::create_directories(mRoot / "Resources" / "Models");
    for (const char* folder : {"Shaders", "Textures"})
        fs::copy(fs::path(TORVIK_RESOURCES) / folder, mRoot / "Resources" / folder,
                 fs::copy_options::recursive);
    mOldDirectory = fs::current_path();
    fs::current_path(mRoot / "run" / "bin");

    Engine::RegisterListener(MessageType::Error, Callable(this, &ResourceTest::OnError));
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    mWindow = SDL_CreateWindow("resources", 0, 0, 1600, 900, SDL_WINDOW_HIDDEN);
    ASSERT_NE(mWindow, nullptr) << SDL_GetError();
    mDevice = std::make_unique<DXDevice>(mWindow, nullptr, nullptr);
    ASSERT_TRUE(mDevice->InitDevice());
}

void ResourceTest::TearDown() {
    d3d11test::RecordCalls(false);
    if (mDevice) mDevice->ReleaseDevice();
    mDevice.reset();
    if (mWindow) SDL_DestroyWindow(mWindow);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    Engine::UnregisterListener(MessageType::Error, Callable(this, &ResourceTest::OnError));
    std::filesystem::current_path(mOldDirectory);
    std::filesystem::remove_all(mRoot);
    // Every Direct3D object the test made is gone again.
    EXPECT_EQ(d3d11test::LiveObjects(), mLiveBefore);
}

void ResourceTest::WriteResource(const std::string& folder, const std::string& name,
                                 const std::string& bytes) {
    std::filesystem::create_directories(mRoot / "Resources" / folder);
    std::ofstream(mRoot / "Resources" / folder / name, std::ios::binary) << bytes;
}

void ResourceTest::OnError(const std::shared_ptr<Message>& message) {
    mErrors.push_back(message);
}

std::vector<Report> ResourceTest::Reports() const {
    std::vector<Report> out;
    for (const auto& m : mErrors)
        if (const auto* e = dynamic_cast<const ErrorMessage*>(m.get()))
            out.push_back(
                {e->GetText(), e->GetIsFatal(), e->GetFunctionName(), e->GetFileName(), e->GetLineNumber()});
    return out;
}

std::vector<d3d11test::Call> ResourceTest::Named(const std::vector<d3d11test::Call>& calls,
                                                 const std::string& name) {
    std::vector<d3d11test::Call> out;
    for (const auto& c : calls)
        if (c.name == name) out.push_back(c);
    return out;
}

} // namespace restest
