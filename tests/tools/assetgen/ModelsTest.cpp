#include <assetgen/Models.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Models : public ::testing::Test {
protected:
    void SetUp() override {
        mDir = fs::path(::testing::TempDir()) / ("models_" + std::to_string(::getpid()));
        fs::remove_all(mDir);
        fs::create_directories(mDir);
    }
    void TearDown() override { fs::remove_all(mDir); }

    fs::path mDir;
};

TEST_F(Models, EachSetWritesTheFilesItNames) {
    for (const char* set : {"game", "test"}) {
        SCOPED_TRACE(set);
        std::string error;
        ASSERT_TRUE(assetgen::WriteModels(set, mDir.string(), error)) << error;
        const auto files = assetgen::ModelFiles(set);
        EXPECT_FALSE(files.empty());
        for (const std::string& file : files) {
            EXPECT_TRUE(fs::exists(mDir / file)) << file;
            EXPECT_GT(fs::file_size(mDir / file), 0u) << file;
        }
    }
    EXPECT_EQ(assetgen::ModelFiles("game"),
              (std::vector<std::string>{"Player.fbx", "KeyCard.fbx", "PowerCell.fbx", "EscapePod.fbx"}));
    // The truncated copy is half of the first test model.
    EXPECT_EQ(fs::file_size(mDir / "truncated.fbx"), fs::file_size(mDir / "twomeshes.fbx") / 2);
}

TEST_F(Models, FailuresSayWhy) {
    std::string error;
    EXPECT_FALSE(assetgen::WriteModels("props", mDir.string(), error));
    EXPECT_EQ(error, "no model set props");
    EXPECT_TRUE(assetgen::ModelFiles("props").empty());
    error.clear();
    EXPECT_FALSE(assetgen::WriteModels("game", (mDir / "missing").string(), error));
    EXPECT_NE(error, "");
    error.clear();
    EXPECT_FALSE(assetgen::WriteGridModel((mDir / "missing" / "grid.fbx").string(), 300, error));
    EXPECT_NE(error, "");
}

TEST_F(Models, GridsHoldTheCornersAsked) {
    std::string error;
    ASSERT_TRUE(assetgen::WriteGridModel((mDir / "grid.fbx").string(), 300, error)) << error;
    // One "Polygon" index per corner: 100 triangles.
    std::ifstream in(mDir / "grid.fbx");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto at = text.find("PolygonVertexIndex: *");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoi(text.substr(at + 21)), 300);
}

} // namespace
