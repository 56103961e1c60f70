// Texture recipes: each generated image is one colour with a marker of a second colour, so that image
// tests can tell every texture apart from the others.
//
// A recipe file holds one texture per line ('#' starts a comment):
//   <file name> <width> <height> <r> <g> <b> <marker r> <marker g> <marker b> <marker>
// with the marker one of "square" (the centre quarter), "cross" (a band through the centre each way),
// "border" (an eighth of the size round the edge), "diagonal" (a band along the main diagonal).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

enum class Marker { Square, Cross, Border, Diagonal };

struct TextureRecipe {
    std::string file;
    int width = 0;
    int height = 0;
    std::uint8_t colour[3] = {};
    std::uint8_t markerColour[3] = {};
    Marker marker = Marker::Square;
};

// False with a reason naming the line when a line is malformed.
bool ParseTextureRecipes(const std::string& text, std::vector<TextureRecipe>& out, std::string& error);
// Whether pixel (x, y) belongs to the recipe's marker.
bool InMarker(const TextureRecipe& recipe, int x, int y);
// Packed RGBA8 (red in the low byte), row by row from the top.
std::vector<std::uint32_t> Paint(const TextureRecipe& recipe);
bool WritePng(const TextureRecipe& recipe, const std::string& path);

} // namespace assetgen
