#include <assetgen/Textures.h>

#include <cstdlib>
#include <sstream>

#include <stb/stb_image_write.h>

namespace assetgen {

namespace {

// Large enough for any picture the game shows, small enough that a typo cannot fill the disk.
constexpr int kMaxSide = 4096;

bool ParseMarker(const std::string& word, Marker& marker) {
    static const std::pair<const char*, Marker> kNames[] = {{"square", Marker::Square},
                                                            {"cross", Marker::Cross},
                                                            {"border", Marker::Border},
                                                            {"diagonal", Marker::Diagonal}};
    for (const auto& [name, value] : kNames)
        if (word == name) {
            marker = value;
            return true;
        }
    return false;
}

} // namespace

bool ParseTextureRecipes(const std::string& text, std::vector<TextureRecipe>& out, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        TextureRecipe recipe;
        if (!(words >> recipe.file)) continue;
        int channels[6];
        std::string marker, extra;
        bool ok = bool(words >> recipe.width >> recipe.height);
        for (int& c : channels)
            ok = ok && bool(words >> c) && c >= 0 && c <= 255;
        ok = ok && bool(words >> marker) && !(words >> extra);
        if (!ok || recipe.width <= 0 || recipe.height <= 0 || recipe.width > kMaxSide ||
            recipe.height > kMaxSide || !ParseMarker(marker, recipe.marker)) {
            error = "line " + std::to_string(number) + ": expected <file> <width 1.." +
                    std::to_string(kMaxSide) +
                    "> <height> <r g b> <marker r g b> <square|cross|border|diagonal>";
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            recipe.colour[i] = std::uint8_t(channels[i]);
            recipe.markerColour[i] = std::uint8_t(channels[3 + i]);
        }
        out.push_back(recipe);
    }
    return true;
}

bool InMarker(const TextureRecipe& r, int x, int y) {
    const int w = r.width, h = r.height;
    switch (r.marker) {
    case Marker::Square:
        return x >= w * 3 / 8 && x < w * 5 / 8 && y >= h * 3 / 8 && y < h * 5 / 8;
    case Marker::Cross:
        return (x >= w * 7 / 16 && x < w * 9 / 16) || (y >= h * 7 / 16 && y < h * 9 / 16);
    case Marker::Border:
        return x < w / 8 || x >= w - w / 8 || y < h / 8 || y >= h - h / 8;
    case Marker::Diagonal:
        return std::abs(x * h - y * w) < w * h / 16;
    }
    return false;
}

std::vector<std::uint32_t> Paint(const TextureRecipe& r) {
    std::vector<std::uint32_t> pixels(std::size_t(r.width) * std::size_t(r.height));
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const std::uint8_t* c = InMarker(r, x, y) ? r.markerColour : r.colour;
            pixels[std::size_t(y) * std::size_t(r.width) + std::size_t(x)] =
                std::uint32_t(c[0]) | std::uint32_t(c[1]) << 8 | std::uint32_t(c[2]) << 16 | 0xFF000000u;
        }
    return pixels;
}

bool WritePng(const TextureRecipe& recipe, const std::string& path) {
    const std::vector<std::uint32_t> pixels = Paint(recipe);
    return stbi_write_png(path.c_str(), recipe.width, recipe.height, 4, pixels.data(), recipe.width * 4) != 0;
}

} // namespace assetgen
