// Writes the window icon: a 32 x 32, 24-bit BMP of a white "T" over rising water.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 32;

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb PixelAt(int x, int y) { // y from the top
    const bool bar = y >= 5 && y < 10 && x >= 6 && x < 26;
    const bool stem = y >= 10 && y < 27 && x >= 13 && x < 19;
    if (bar || stem) return {255, 255, 255};
    if (y >= 20) return {20, 110, static_cast<std::uint8_t>(150 + (y - 20) * 10)};
    return {16, 24, 48};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon <output.bmp>\n");
        return 2;
    }
    constexpr std::uint32_t kRowBytes = kSize * 3; // already a multiple of 4
    constexpr std::uint32_t kPixelBytes = kRowBytes * kSize;
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    static_assert(kRowBytes % 4 == 0, "BMP rows are padded to 4 bytes");

    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    PutU32(out, kHeaderBytes + kPixelBytes);
    PutU32(out, 0);
    PutU32(out, kHeaderBytes);
    PutU32(out, 40);
    PutU32(out, kSize);
    PutU32(out, kSize); // positive height: rows from the bottom up
    PutU16(out, 1);
    PutU16(out, 24);
    PutU32(out, 0); // uncompressed
    PutU32(out, kPixelBytes);
    PutU32(out, 2835); // 72 dpi
    PutU32(out, 2835);
    PutU32(out, 0);
    PutU32(out, 0);
    for (int row = kSize - 1; row >= 0; --row) {
        for (int x = 0; x < kSize; ++x) {
            const Rgb p = PixelAt(x, row);
            out.push_back(p.b);
            out.push_back(p.g);
            out.push_back(p.r);
        }
    }

    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "make_icon: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
