#include <assetgen/Textures.h>

#include <algorithm>
#include <cctype>
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
                                                            {"diagonal", Marker::Diagonal},
                                                            {"text", Marker::Text}};
    for (const auto& [name, value] : kNames)
        if (word == name) {
            marker = value;
            return true;
        }
    return false;
}

// A 5 x 7 font: seven rows from the top, the leftmost pixel in bit 4.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},  {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},  {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},  {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},  {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},  {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},  {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},  {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},  {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},  {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},  {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},  {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},  {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},  {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},  {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},  {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},  {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},  {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},  {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},  {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},  {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},  {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},  {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'\'', {0x0C, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
};
constexpr int kGlyphWidth = 5, kGlyphHeight = 7;
// A character cell: one column between letters, three rows between lines.
constexpr int kCellWidth = kGlyphWidth + 1, kLineHeight = kGlyphHeight + 3;

const Glyph* Find(char c) {
    const char upper = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont)
        if (g.c == upper) return &g;
    return nullptr;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The text after the marker word, split at '|'; false when it has no title or a character the
// font lacks.
bool ParseText(const std::string& rest, std::vector<std::string>& lines) {
    std::stringstream parts(rest);
    for (std::string part; std::getline(parts, part, '|');) {
        // Spaces inside a line make columns; only the ends are trimmed.
        lines.push_back(Trim(part));
        for (char c : lines.back())
            if (!Find(c)) return false;
    }
    if (!rest.empty() && rest.back() == '|') lines.push_back({});
    return !lines.empty() && !lines[0].empty();
}

// Body lines no wider than `columns`, broken at spaces (a word longer than a line is cut).
std::vector<std::string> Wrap(const std::vector<std::string>& body, std::size_t columns) {
    std::vector<std::string> out;
    for (const std::string& line : body) {
        std::string rest = line;
        while (rest.size() > columns) {
            std::size_t cut = rest.rfind(' ', columns);
            if (cut == std::string::npos || cut == 0) cut = columns;
            out.push_back(Trim(rest.substr(0, cut)));
            rest = Trim(rest.substr(cut));
        }
        out.push_back(rest);
    }
    return out;
}

void DrawLine(std::vector<std::uint8_t>& mask, const TextureRecipe& r, const std::string& line, int x0,
              int y0, int scale) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const Glyph* g = Find(line[i]);
        if (!g) continue;
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (!(g->rows[row] >> (kGlyphWidth - 1 - col) & 1)) continue;
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx) {
                        const int x = x0 + (int(i) * kCellWidth + col) * scale + dx;
                        const int y = y0 + row * scale + dy;
                        if (x >= 0 && y >= 0 && x < r.width && y < r.height)
                            mask[std::size_t(y) * std::size_t(r.width) + std::size_t(x)] = 1;
                    }
            }
    }
}

int LineWidth(const std::string& line, int scale) {
    return line.empty() ? 0 : (int(line.size()) * kCellWidth - 1) * scale;
}

// The title as large as fits (up to three times the body's size) over the body, the whole centred.
void LayOutText(std::vector<std::uint8_t>& mask, const TextureRecipe& r) {
    const int margin = std::max(1, r.width / 32);
    const int scale = std::max(1, r.height / 216);
    int titleScale = 3 * scale;
    while (titleScale > 1 && LineWidth(r.text[0], titleScale) > r.width - 2 * margin)
        --titleScale;
    const std::size_t perLine =
        std::size_t(std::max(1, (r.width - 2 * margin + scale) / (kCellWidth * scale)));
    const std::vector<std::string> body =
        Wrap(std::vector<std::string>(r.text.begin() + 1, r.text.end()), perLine);
    int bodyWidth = 0;
    for (const std::string& line : body)
        bodyWidth = std::max(bodyWidth, LineWidth(line, scale));
    const int titleHeight = kGlyphHeight * titleScale;
    const int gap = body.empty() ? 0 : kLineHeight * scale;
    const int bodyHeight = body.empty() ? 0 : int(body.size()) * kLineHeight * scale - 3 * scale;
    int y = std::max(0, (r.height - titleHeight - gap - bodyHeight) / 2);
    DrawLine(mask, r, r.text[0], (r.width - LineWidth(r.text[0], titleScale)) / 2, y, titleScale);
    y += titleHeight + gap;
    // Columns made with spaces line up only when every line starts at the block's left edge.
    const bool columns = std::any_of(body.begin(), body.end(), [](const std::string& line) {
        return line.find("  ") != std::string::npos;
    });
    for (const std::string& line : body) {
        const int left = (r.width - (columns ? bodyWidth : LineWidth(line, scale))) / 2;
        DrawLine(mask, r, line, left, y, scale);
        y += kLineHeight * scale;
    }
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
        ok = ok && bool(words >> marker) && ParseMarker(marker, recipe.marker);
        if (ok && recipe.marker == Marker::Text) {
            std::string rest;
            std::getline(words, rest);
            ok = ParseText(rest, recipe.text);
        } else {
            ok = ok && !(words >> extra);
        }
        if (!ok || recipe.width <= 0 || recipe.height <= 0 || recipe.width > kMaxSide ||
            recipe.height > kMaxSide) {
            error = "line " + std::to_string(number) + ": expected <file> <width 1.." +
                    std::to_string(kMaxSide) +
                    "> <height> <r g b> <marker r g b> <square|cross|border|diagonal|text title|line|...>"
                    " (text of letters, digits, spaces and . , ! ? - : / ( ) ' +)";
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

std::vector<std::uint8_t> MarkerMask(const TextureRecipe& r) {
    const int w = r.width, h = r.height;
    std::vector<std::uint8_t> mask(std::size_t(w) * std::size_t(h), 0);
    if (r.marker == Marker::Text) {
        if (!r.text.empty()) LayOutText(mask, r);
        return mask;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool in = false;
            switch (r.marker) {
            case Marker::Square:
                in = x >= w * 3 / 8 && x < w * 5 / 8 && y >= h * 3 / 8 && y < h * 5 / 8;
                break;
            case Marker::Cross:
                in = (x >= w * 7 / 16 && x < w * 9 / 16) || (y >= h * 7 / 16 && y < h * 9 / 16);
                break;
            case Marker::Border:
                in = x < w / 8 || x >= w - w / 8 || y < h / 8 || y >= h - h / 8;
                break;
            case Marker::Diagonal:
                in = std::abs(x * h - y * w) < w * h / 16;
                break;
            case Marker::Text:
                break;
            }
            mask[std::size_t(y) * std::size_t(w) + std::size_t(x)] = in;
        }
    return mask;
}

std::vector<std::uint32_t> Paint(const TextureRecipe& r) {
    const std::vector<std::uint8_t> mask = MarkerMask(r);
    std::vector<std::uint32_t> pixels(mask.size());
    for (std::size_t i = 0; i < mask.size(); ++i) {
        const std::uint8_t* c = mask[i] ? r.markerColour : r.colour;
        pixels[i] = std::uint32_t(c[0]) | std::uint32_t(c[1]) << 8 | std::uint32_t(c[2]) << 16 | 0xFF000000u;
    }
    return pixels;
}

bool WritePng(const TextureRecipe& recipe, const std::string& path) {
    const std::vector<std::uint32_t> pixels = Paint(recipe);
    return stbi_write_png(path.c_str(), recipe.width, recipe.height, 4, pixels.data(), recipe.width * 4) != 0;
}

} // namespace assetgen
