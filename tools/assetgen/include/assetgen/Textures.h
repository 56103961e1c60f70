// Texture recipes: each generated image is one colour with a marker of a second colour, so that image
// tests can tell every texture apart from the others; pictures that say something carry text.
//
// A recipe file holds one texture per line ('#' starts a comment):
//   <file name> <width> <height> <r> <g> <b> <marker r> <marker g> <marker b> <marker>
// with the marker one of "square" (the centre quarter), "cross" (a band through the centre each way),
// "border" (an eighth of the size round the edge), "diagonal" (a band along the main diagonal), or
// "text" followed by the picture's lines separated by '|': the first is the title, drawn large and
// centred; the others below it, each centred, wrapped at spaces where a line is wider than the
// picture. When a line holds two spaces in a row (columns), the lines are drawn as one centred block
// instead, each from the block's left edge, so that the columns line up. An empty line leaves a gap. Text is
// upper case letters, digits, spaces and . , ! ? - : / ( ) ' +; lower case is drawn as upper case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

enum class Marker { Square, Cross, Border, Diagonal, Text };

struct TextureRecipe {
    std::string file;
    int width = 0;
    int height = 0;
    std::uint8_t colour[3] = {};
    std::uint8_t markerColour[3] = {};
    Marker marker = Marker::Square;
    std::vector<std::string> text; // the title, then the body lines (text marker only)
};

// False with a reason naming the line when a line is malformed.
bool ParseTextureRecipes(const std::string& text, std::vector<TextureRecipe>& out, std::string& error);
// One byte a pixel, row by row from the top: 1 where the marker (or the text's ink) is.
std::vector<std::uint8_t> MarkerMask(const TextureRecipe& recipe);
// Packed RGBA8 (red in the low byte), row by row from the top.
std::vector<std::uint32_t> Paint(const TextureRecipe& recipe);
bool WritePng(const TextureRecipe& recipe, const std::string& path);

} // namespace assetgen
