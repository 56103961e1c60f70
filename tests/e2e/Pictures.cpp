#include "Pictures.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

extern "C" {
unsigned char* stbi_load(const char* filename, int* x, int* y, int* channels, int desired);
void stbi_image_free(void* data);
int stbi_write_png(const char* filename, int w, int h, int comp, const void* data, int stride);
}

namespace e2e {

Rgb Picture::At(int x, int y) const {
    const std::size_t at = (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
    return Rgb{rgb[at], rgb[at + 1], rgb[at + 2]};
}

Picture FromSurface(SDL_Surface* surface) {
    Picture picture;
    if (!surface) return picture;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return picture;
    picture.width = surface->w;
    picture.height = surface->h;
    picture.rgb.resize(std::size_t(surface->w) * std::size_t(surface->h) * 3);
    const int bytes = surface->format->BytesPerPixel;
    for (int y = 0; y < surface->h; ++y) {
        const auto* row =
            static_cast<const std::uint8_t*>(surface->pixels) + std::ptrdiff_t(y) * surface->pitch;
        for (int x = 0; x < surface->w; ++x) {
            Uint32 value = 0;
            // Little-endian packing, as SDL stores pixels of up to four bytes on this machine.
            for (int k = 0; k < bytes; ++k)
                value |= Uint32(row[x * bytes + k]) << (8 * k);
            Uint8 r = 0, g = 0, b = 0;
            SDL_GetRGB(value, surface->format, &r, &g, &b);
            const std::size_t at = (std::size_t(y) * std::size_t(surface->w) + std::size_t(x)) * 3;
            picture.rgb[at] = r;
            picture.rgb[at + 1] = g;
            picture.rgb[at + 2] = b;
        }
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    return picture;
}

Picture LoadPicture(const std::string& path) {
    Picture picture;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3);
    if (!data) return Picture{};
    picture.rgb.assign(data, data + std::size_t(picture.width) * std::size_t(picture.height) * 3);
    stbi_image_free(data);
    return picture;
}

bool SavePng(const Picture& picture, const std::string& path) {
    if (picture.Empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    return stbi_write_png(path.c_str(), picture.width, picture.height, 3, picture.rgb.data(),
                          picture.width * 3) != 0;
}

bool Near(const Rgb& c, const Rgb& want, int tolerance) {
    return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
           std::abs(c.b - want.b) <= tolerance;
}

RegionStats Stats(const Picture& picture, Rect region) {
    RegionStats stats;
    std::set<int> colours;
    for (int y = std::max(0, region.y); y < std::min(picture.height, region.y + region.h); ++y) {
        for (int x = std::max(0, region.x); x < std::min(picture.width, region.x + region.w); ++x) {
            const Rgb c = picture.At(x, y);
            ++stats.pixels;
            if (c.r < 8 && c.g < 8 && c.b < 8) ++stats.black;
            if (c.r > 247 && c.g > 247 && c.b > 247) ++stats.white;
            colours.insert((c.r >> 4) << 8 | (c.g >> 4) << 4 | (c.b >> 4));
        }
    }
    stats.colours = int(colours.size());
    return stats;
}

bool IsButtonBlue(const Rgb& c) {
    return Near(c, Rgb{0, 128, 255}, 4);
}

bool IsHoveredBlue(const Rgb& c) {
    return Near(c, Rgb{0, 176, 255}, 4);
}

std::vector<Rect> PlayerQuadrants(int width, int height) {
    // Halves of the window, kept clear of the seam by a few pixels.
    const int halfW = width / 2, halfH = height / 2, gap = 4;
    return {Rect{0, 0, halfW - gap, halfH - gap}, Rect{halfW + gap, 0, width - halfW - gap, halfH - gap},
            Rect{0, halfH + gap, halfW - gap, height - halfH - gap},
            Rect{halfW + gap, halfH + gap, width - halfW - gap, height - halfH - gap}};
}

std::vector<Rect> Seams(int width, int height) {
    return {Rect{width / 2 - 1, 0, 2, height}, Rect{0, height / 2 - 1, width, 2}};
}

} // namespace e2e
