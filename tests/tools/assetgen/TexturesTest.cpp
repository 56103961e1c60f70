#include <assetgen/Textures.h>

#include <stb/stb_image.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>
#include <unistd.h>

namespace {

using assetgen::TextureRecipe;

std::vector<TextureRecipe> GameRecipes() {
    std::ifstream file(TORVIK_TEXTURE_RECIPES);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<TextureRecipe> recipes;
    std::string error;
    EXPECT_TRUE(assetgen::ParseTextureRecipes(text.str(), recipes, error)) << error;
    return recipes;
}

TEST(TextureRecipes, ParseAcceptsCommentsAndBlankLinesAndRefusesBadLines) {
    struct Case {
        const char* text;
        bool ok;
        std::size_t count;
    };
    const Case cases[] = {
        {"# only a comment\n\n   \n", true, 0},
        {"a.png 4 2 1 2 3 4 5 6 square # trailing comment\nb.png 1 1 0 0 0 255 255 255 border", true, 2},
        {"a.png 4 2 1 2 3 4 5 6", false, 0},            // no marker
        {"a.png 4 2 1 2 3 4 5 6 circle", false, 0},     // unknown marker
        {"a.png 0 2 1 2 3 4 5 6 cross", false, 0},      // empty
        {"a.png 5000 2 1 2 3 4 5 6 cross", false, 0},   // too large
        {"a.png 4 2 1 2 256 4 5 6 cross", false, 0},    // channel out of range
        {"a.png 4 2 1 2 3 4 5 6 cross extra", false, 0} // trailing word
    };
    for (const Case& c : cases) {
        std::vector<TextureRecipe> out;
        std::string error;
        EXPECT_EQ(assetgen::ParseTextureRecipes(c.text, out, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out.size(), c.count) << c.text;
        } else {
            EXPECT_EQ(error.rfind("line ", 0), 0u) << c.text;
        }
    }
}

TEST(TextureRecipes, TheGameNeedsEachTextureOnceAndEachLooksItsOwn) {
    const std::vector<TextureRecipe> recipes = GameRecipes();
    std::set<std::string> names;
    std::set<std::tuple<int, int, int>> colours;
    for (const TextureRecipe& r : recipes) {
        EXPECT_TRUE(names.insert(r.file).second) << r.file;
        EXPECT_TRUE(colours.insert({r.colour[0], r.colour[1], r.colour[2]}).second) << r.file;
    }
    for (const char* needed :
         {"TarnwickTexture.png", "controlScreen.png", "keyHUDicon.png", "powercellHUDicon.png",
          "Player1_Flare.png", "Player2_Flare.png", "Player3_Flare.png", "Player4_Flare.png"})
        EXPECT_TRUE(names.count(needed)) << needed;
}

TEST(TextureRecipes, WrittenPngReadsBackWithItsColourAndMarker) {
    const auto dir = std::filesystem::temp_directory_path() / ("assetgen_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const TextureRecipe& r : GameRecipes()) {
        const std::string path = (dir / r.file).string();
        ASSERT_TRUE(assetgen::WritePng(r, path)) << path;
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &n, 4);
        ASSERT_NE(pixels, nullptr) << path;
        ASSERT_EQ(w, r.width);
        ASSERT_EQ(h, r.height);
        int marked = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const stbi_uc* p = pixels + 4 * (y * w + x);
                const bool in = assetgen::InMarker(r, x, y);
                marked += in;
                const std::uint8_t* want = in ? r.markerColour : r.colour;
                ASSERT_TRUE(p[0] == want[0] && p[1] == want[1] && p[2] == want[2] && p[3] == 255)
                    << r.file << " at " << x << "," << y;
            }
        stbi_image_free(pixels);
        // The marker is there and leaves the texture's own colour visible.
        EXPECT_GT(marked, 0) << r.file;
        EXPECT_LT(marked, r.width * r.height / 2) << r.file;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
