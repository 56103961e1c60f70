#include <bankgen/Media.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bankgen {

namespace {

constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kFmtSize = 40;
// KSDATAFORMAT_SUBTYPE_PCM in file byte order; the reader does not look at it, players do.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint32_t Frames(double seconds, std::uint32_t rate) {
    return static_cast<std::uint32_t>(std::lround(std::max(0.0, seconds) * rate));
}

} // namespace

std::vector<float> Sine(double frequencyHz, double seconds, std::uint32_t rate, double amplitude) {
    std::vector<float> out(Frames(seconds, rate));
    const double step = 2.0 * std::numbers::pi * frequencyHz / rate;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(i)));
    return out;
}

std::vector<float> Impulse(std::uint32_t frames, std::uint32_t at, double amplitude) {
    std::vector<float> out(frames, 0.0f);
    if (at < frames) out[at] = static_cast<float>(amplitude);
    return out;
}

std::vector<float> Noise(std::uint32_t seed, std::uint32_t frames, double amplitude) {
    std::vector<float> out(frames);
    std::uint32_t state = seed;
    for (float& s : out) {
        state = state * 1664525u + 1013904223u;
        // The top 24 bits give a uniform value in [0, 1) exactly representable as a float.
        const double unit = static_cast<double>(state >> 8) / 16777216.0;
        s = static_cast<float>(amplitude * (2.0 * unit - 1.0));
    }
    return out;
}

std::vector<std::int16_t> ToPcm16(const std::vector<std::vector<float>>& channels) {
    if (channels.empty()) return {};
    size_t frames = channels[0].size();
    for (const auto& c : channels)
        frames = std::min(frames, c.size());
    std::vector<std::int16_t> out;
    out.reserve(frames * channels.size());
    for (size_t i = 0; i < frames; ++i)
        for (const auto& c : channels) {
            const double v = std::clamp(static_cast<double>(c[i]) * 32767.0, -32768.0, 32767.0);
            out.push_back(static_cast<std::int16_t>(std::lround(v)));
        }
    return out;
}

std::uint32_t ChannelMask(std::uint16_t channels) {
    switch (channels) {
    case 1:
        return 0x4;
    case 2:
        return 0x3;
    case 4:
        return 0x33;
    case 6:
        return 0x3F;
    default:
        return 0;
    }
}

Bytes MakePcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(interleaved.size() * 2);
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
    Bytes out;
    ByteWriter w(out);
    w.Tag("RIFF");
    w.U32(4 + (8 + kFmtSize) + 8 + dataSize);
    w.Tag("WAVE");
    w.Tag("fmt ");
    w.U32(kFmtSize);
    w.U16(kFormatExtensible);
    w.U16(channels);
    w.U32(rate);
    w.U32(rate * blockAlign);
    w.U16(blockAlign);
    w.U16(16);
    w.U16(22); // extension size
    w.U16(16); // valid bits
    w.U32(ChannelMask(channels));
    w.Raw(kPcmSubFormat);
    w.Tag("data");
    w.U32(dataSize);
    for (std::int16_t s : interleaved)
        w.I16(s);
    return out;
}

} // namespace bankgen
