// Screenshots of the whole game as RGB pictures, and the coarse region checks the end-to-end tests
// make on them: statistics over rectangles, never whole-frame comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SDL_Surface;

namespace e2e {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes a pixel, rows top to bottom

    Rgb At(int x, int y) const;
    bool Empty() const { return width <= 0 || height <= 0; }
};

// Copies a surface of any format.
Picture FromSurface(SDL_Surface* surface);
// Reads a PNG (or any picture stb reads); an empty picture when it cannot.
Picture LoadPicture(const std::string& path);
// Writes the picture as PNG, making its folder; false when it cannot.
bool SavePng(const Picture& picture, const std::string& path);

bool Near(const Rgb& c, const Rgb& want, int tolerance);

// What a region holds: pixels counted by the predicate, colours quantised to 4 bits a channel.
struct RegionStats {
    int pixels = 0;
    int black = 0;   // every channel below 8
    int white = 0;   // every channel above 247
    int colours = 0; // distinct quantised colours
};
RegionStats Stats(const Picture& picture, Rect region);

template <typename Predicate> int Count(const Picture& picture, Rect region, Predicate predicate) {
    int count = 0;
    for (int y = region.y; y < region.y + region.h; ++y)
        for (int x = region.x; x < region.x + region.w; ++x)
            if (x >= 0 && y >= 0 && x < picture.width && y < picture.height && predicate(picture.At(x, y)))
                ++count;
    return count;
}

// Runs of rows (or columns) in which a line through the region holds at least `minimum` pixels that
// pass the predicate: the blocks of a stacked (or side-by-side) set of buttons.
struct Run {
    int start = 0, end = 0; // [start, end)
};
template <typename Predicate>
std::vector<Run> RowRuns(const Picture& picture, Rect region, int minimum, Predicate predicate) {
    std::vector<Run> runs;
    bool inside = false;
    for (int y = region.y; y < region.y + region.h; ++y) {
        const bool hit = Count(picture, Rect{region.x, y, region.w, 1}, predicate) >= minimum;
        if (hit && !inside) runs.push_back(Run{y, y + 1});
        if (hit) runs.back().end = y + 1;
        inside = hit;
    }
    return runs;
}
template <typename Predicate>
std::vector<Run> ColumnRuns(const Picture& picture, Rect region, int minimum, Predicate predicate) {
    std::vector<Run> runs;
    bool inside = false;
    for (int x = region.x; x < region.x + region.w; ++x) {
        const bool hit = Count(picture, Rect{x, region.y, 1, region.h}, predicate) >= minimum;
        if (hit && !inside) runs.push_back(Run{x, x + 1});
        if (hit) runs.back().end = x + 1;
        inside = hit;
    }
    return runs;
}

// The menus' button face, (0, 128, 255); the hovered one, (0, 176, 255); the pressed one, white.
bool IsButtonBlue(const Rgb& c);
bool IsHoveredBlue(const Rgb& c);

// The four players' views of a window of this size, as the game splits it: each view takes 0.499
// of the 16:9 box, so a seam of black stays between them.
std::vector<Rect> PlayerQuadrants(int width, int height);
// The seams between the quadrants: the middle columns and the middle rows.
std::vector<Rect> Seams(int width, int height);

} // namespace e2e
