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
        {"a.png 4 2 1 2 3 4 5 6", false, 0},             // no marker
        {"a.png 4 2 1 2 3 4 5 6 circle", false, 0},      // unknown marker
        {"a.png 0 2 1 2 3 4 5 6 cross", false, 0},       // empty
        {"a.png 5000 2 1 2 3 4 5 6 cross", false, 0},    // too large
        {"a.png 4 2 1 2 256 4 5 6 cross", false, 0},     // channel out of range
        {"a.png 4 2 1 2 3 4 5 6 cross extra", false, 0}, // trailing word
        {"a.png 64 36 1 2 3 4 5 6 text TITLE|line one|  a  column|", true, 1},
        {"a.png 64 36 1 2 3 4 5 6 text", false, 0},          // no title
        {"a.png 64 36 1 2 3 4 5 6 text |body", false, 0},    // an empty title
        {"a.png 64 36 1 2 3 4 5 6 text TITLE|50%", false, 0} // a character the font lacks
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
        const std::vector<std::uint8_t> mask = assetgen::MarkerMask(r);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const stbi_uc* p = pixels + 4 * (y * w + x);
                const bool in = mask[std::size_t(y * w + x)] != 0;
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

// Rows (or columns) with ink, grouped into runs: the lines of a text (or the letters of a line).
std::vector<std::pair<int, int>> InkRuns(const std::vector<std::uint8_t>& mask, int w, int h, bool rows,
                                         int from = 0, int to = -1) {
    std::vector<std::pair<int, int>> runs;
    const int count = rows ? h : w;
    bool inside = false;
    for (int i = 0; i < count; ++i) {
        bool ink = false;
        for (int j = 0; j < (rows ? w : h) && !ink; ++j) {
            const int x = rows ? j : i, y = rows ? i : j;
            if (!rows && (y < from || (to >= 0 && y >= to))) continue;
            ink = mask[std::size_t(y * w + x)] != 0;
        }
        if (ink && !inside) runs.push_back({i, i + 1});
        if (ink) runs.back().second = i + 1;
        inside = ink;
    }
    return runs;
}

const TextureRecipe* Named(const std::vector<TextureRecipe>& recipes, const std::string& file) {
    for (const TextureRecipe& r : recipes)
        if (r.file == file) return &r;
    return nullptr;
}

// The splash screens and the How To Play picture are text, not patterns: a little ink in many
// short strokes, on several lines, the title's line cut into its letters.
TEST(TextureRecipes, TheSplashesAndTheControlsPictureCarryText) {
    const std::vector<TextureRecipe> recipes = GameRecipes();
    struct Case {
        const char* file;
        const char* title;
        std::size_t lines;
    };
    const Case cases[] = {{"VM_SPLASH.png", "TORVIK", 3},      {"TEAM_SPLASH.png", "TORVIK", 3},
                          {"GAMEPAD_SPLASH.png", "TORVIK", 4}, {"HOWTOPLAY.png", "TORVIK", 8},
                          {"OBJECTIVES.png", "TORVIK", 3},     {"controlScreen.png", "CONTROLS", 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const TextureRecipe* r = Named(recipes, c.file);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->text.empty() ? "" : r->text[0], c.title);
        const std::vector<std::uint8_t> mask = assetgen::MarkerMask(*r);
        const int w = r->width, h = r->height;
        int ink = 0, strokes = 0, inkRows = 0;
        for (int y = 0; y < h; ++y) {
            int rowStrokes = 0;
            for (int x = 0; x < w; ++x) {
                const bool on = mask[std::size_t(y * w + x)] != 0;
                ink += on;
                rowStrokes += on && (x == 0 || !mask[std::size_t(y * w + x - 1)]);
            }
            strokes += rowStrokes;
            inkRows += rowStrokes > 0;
        }
        // Ink, but little of it: text on a background.
        EXPECT_GT(ink, w * h / 100);
        EXPECT_LT(ink, w * h / 4);
        // Letters cut every inked row into many short strokes; a band or a frame gives one or two.
        ASSERT_GT(inkRows, 0);
        EXPECT_GT(strokes / inkRows, 4);
        // One band of rows per line of text (the wrapped objectives take more).
        const auto lines = InkRuns(mask, w, h, true);
        EXPECT_GE(lines.size(), c.lines);
        // The title's band holds one column run per letter.
        ASSERT_FALSE(lines.empty());
        const auto letters = InkRuns(mask, w, h, false, lines[0].first, lines[0].second);
        EXPECT_EQ(letters.size(), std::string(c.title).size());
        // Centred: as much background left of the title as right of it.
        EXPECT_NEAR(letters.front().first, w - letters.back().second, 2);
    }
}

// The How To Play picture shows every key and button the README's table of controls lists.
TEST(TextureRecipes, TheControlsPictureShowsTheControlsTheReadmeLists) {
    const TextureRecipe* controls = nullptr;
    const std::vector<TextureRecipe> recipes = GameRecipes();
    controls = Named(recipes, "controlScreen.png");
    ASSERT_NE(controls, nullptr);
    std::string shown;
    for (const std::string& line : controls->text)
        shown += line + "\n";
    // Upper case, without "the ".
    const auto normal = [](std::string text) {
        for (char& c : text)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        for (std::size_t at; (at = text.find("THE ")) != std::string::npos;)
            text.erase(at, 4);
        return text;
    };
    std::ifstream readme(TORVIK_README);
    ASSERT_TRUE(readme) << TORVIK_README;
    std::size_t rows = 0;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("| Action |", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        if (line.empty() || line[0] != '|') break;
        if (line.rfind("|---", 0) == 0) continue;
        std::vector<std::string> cells;
        std::stringstream parts(line.substr(1));
        for (std::string cell; std::getline(parts, cell, '|');) {
            const auto first = cell.find_first_not_of(' ');
            cells.push_back(
                first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
        }
        ASSERT_GE(cells.size(), 3u) << line;
        ++rows;
        for (std::size_t i = 1; i < 3; ++i)
            EXPECT_NE(shown.find(normal(cells[i])), std::string::npos) << cells[i] << " of " << cells[0];
    }
    EXPECT_GE(rows, 7u) << "the README's table of controls";
}

} // namespace
