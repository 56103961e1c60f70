// The engine's capture file read back field by field: the header, the samples, the markers. The
// one reader of every test that listens to what was rendered; it also reads a capture that is
// still being written (its sizes not yet set), up to the last whole sample.
#pragma once

#include <AU/AuTypes.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct AuCaptureFile {
    struct Cue {
        u32 id;
        u32 position;
    };
    struct Label {
        u32 id;
        std::string text;
    };
    static constexpr u32 kOpenSize = 0xFFFFFFFFu;

    std::vector<u8> bytes;
    u32 riffSize = 0;
    u16 channels = 0;
    u32 sampleRate = 0;
    u32 dataSize = 0;
    std::vector<i16> samples;
    std::vector<Cue> cues;
    std::vector<Label> labels;
    u32 listSize = 0;
    // The header is sound and every chunk lies inside the file.
    bool valid = false;
    // The capture was stopped: its sizes are written.
    bool closed = false;

    static u32 U32(const std::vector<u8>& b, size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (u32{b[at + 3]} << 24);
    }
    static u16 U16(const std::vector<u8>& b, size_t at) { return static_cast<u16>(b[at] | (b[at + 1] << 8)); }

    size_t Frames() const { return channels ? samples.size() / channels : 0; }
    i16 At(size_t frame, u32 channel) const { return samples[frame * channels + channel]; }
    // The first frame whose sample on `channel` is louder than `threshold`; Frames() when none.
    size_t FirstLouderThan(i32 threshold, u32 channel = 0) const {
        for (size_t f = 0; f < Frames(); ++f)
            if (At(f, channel) > threshold || At(f, channel) < -threshold) return f;
        return Frames();
    }

    static AuCaptureFile Read(const std::filesystem::path& path) {
        AuCaptureFile file;
        std::ifstream in(path, std::ios::binary);
        file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const auto& b = file.bytes;
        if (b.size() < 46 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[38], "data", 4) != 0)
            return file;
        file.riffSize = U32(b, 4);
        file.channels = U16(b, 22);
        file.sampleRate = U32(b, 24);
        file.dataSize = U32(b, 42);
        file.closed = file.dataSize != kOpenSize;
        if (!file.closed) {
            // Still being written: whatever whole samples are there so far.
            file.samples.resize((b.size() - 46) / 2);
            if (!file.samples.empty()) std::memcpy(file.samples.data(), &b[46], file.samples.size() * 2);
            file.valid = true;
            return file;
        }
        if (46 + size_t{file.dataSize} > b.size()) return file;
        file.samples.resize(file.dataSize / 2);
        if (!file.samples.empty()) std::memcpy(file.samples.data(), &b[46], file.samples.size() * 2);
        size_t at = 46 + file.dataSize;
        while (at + 8 <= b.size()) {
            const std::string tag(reinterpret_cast<const char*>(&b[at]), 4);
            const u32 size = U32(b, at + 4);
            if (at + 8 + size > b.size()) return file;
            if (tag == "cue ") {
                const u32 count = U32(b, at + 8);
                for (u32 i = 0; i < count; ++i)
                    file.cues.push_back({U32(b, at + 12 + 24 * i), U32(b, at + 12 + 24 * i + 4)});
            } else if (tag == "LIST") {
                file.listSize = size;
                size_t label = at + 12;
                while (label + 12 <= at + 8 + size) {
                    const u32 length = U32(b, label + 4) - 4;
                    file.labels.push_back(
                        {U32(b, label + 8), std::string(reinterpret_cast<const char*>(&b[label + 12]))});
                    label += 12 + length + (length & 1);
                }
            }
            at += 8 + size + (size & 1);
        }
        file.valid = true;
        return file;
    }
};
