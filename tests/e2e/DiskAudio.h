// What SDL's disk audio driver wrote, which the end-to-end tests hear the game through: 32-bit float
// stereo at 48000 Hz, at the pace of a sound card.
#pragma once

#include <HannToneLevel.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <vector>

namespace e2e {

constexpr double kDiskAudioRate = 48000.0;

// Sample frames in the driver's file so far.
inline std::size_t DiskAudioFrames(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : std::size_t(size / 8);
}

// The file's left channel.
inline std::vector<float> DiskAudioLeft(const std::filesystem::path& file) {
    std::vector<float> left;
    std::ifstream in(file, std::ios::binary);
    float pair[2];
    while (in.read(reinterpret_cast<char*>(pair), sizeof pair))
        left.push_back(pair[0]);
    return left;
}

// The level of the tone at `hz` in `length` samples from `from`; -1 past the end.
inline double ToneLevel(const std::vector<float>& left, std::size_t from, double hz, std::size_t length) {
    return HannToneLevel(left, from, hz, length, kDiskAudioRate);
}

// The loudest the tone is in any window of `length` samples between `from` and `to`, and where.
struct Loudest {
    double level = 0;
    std::size_t at = 0;
};
inline Loudest LoudestTone(const std::vector<float>& left, std::size_t from, std::size_t to, double hz,
                           std::size_t length) {
    Loudest loudest;
    for (std::size_t at = from; at + length <= std::min(to, left.size()); at += length / 8) {
        const double level = ToneLevel(left, at, hz, length);
        if (level > loudest.level) loudest = {level, at};
    }
    return loudest;
}

} // namespace e2e
