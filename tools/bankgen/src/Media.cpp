#include <bankgen/Media.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <numbers>
#include <span>

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

namespace {

struct Format {
    std::uint16_t tag;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint32_t bytesPerSecond;
    std::uint16_t blockAlign;
    std::uint16_t bits;
    std::uint32_t mask;
    const std::uint8_t* subFormat;
};

// ADPCM's sub-format: its tag in the first word, the same tail as PCM's.
constexpr std::uint8_t kAdpcmSubFormat[16] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void Chunk(ByteWriter& w, const char* tag, const Bytes& payload) {
    w.Tag(tag);
    w.U32(static_cast<std::uint32_t>(payload.size()));
    w.Raw(payload);
    if (payload.size() % 2) w.U8(0);
}

Bytes OptionalChunks(const WaveOptions& o, std::uint32_t rate) {
    Bytes out;
    ByteWriter w(out);
    if (!o.cues.empty()) {
        Bytes cue;
        ByteWriter c(cue);
        c.U32(static_cast<std::uint32_t>(o.cues.size()));
        for (const WaveCue& p : o.cues) {
            c.U32(p.id);
            c.U32(p.position);
            c.Tag("data");
            c.U32(0);
            c.U32(0);
            c.U32(p.position);
        }
        Chunk(w, "cue ", cue);
        Bytes list;
        ByteWriter l(list);
        l.Tag("adtl");
        for (const WaveCue& p : o.cues) {
            if (p.label.empty()) continue;
            Bytes labl;
            ByteWriter b(labl);
            b.U32(p.id);
            b.Raw(std::span(reinterpret_cast<const std::uint8_t*>(p.label.data()), p.label.size()));
            b.U8(0);
            Chunk(l, "labl", labl);
        }
        if (list.size() > 4) Chunk(w, "LIST", list);
    }
    if (o.loop) {
        Bytes smpl;
        ByteWriter m(smpl);
        m.U32(0);
        m.U32(0);
        m.U32(rate ? 1000000000u / rate : 0);
        m.U32(60);
        m.U32(0);
        m.U32(0);
        m.U32(0);
        m.U32(1); // loops
        m.U32(0); // sampler data
        m.U32(0);
        m.U32(0);
        m.U32(o.loopStart);
        m.U32(o.loopEnd);
        m.U32(0);
        m.U32(0);
        Chunk(w, "smpl", smpl);
    }
    if (o.hasEnvelope) {
        Bytes aud;
        ByteWriter a(aud);
        a.U32(0);
        a.U32(0);
        a.U32(static_cast<std::uint32_t>(o.envelope.size()));
        a.F32(o.envelopeOffset);
        for (const WaveEnvelopePoint& p : o.envelope) {
            a.U32(p.position);
            a.U16(p.attenuation);
        }
        Chunk(w, "aud ", aud);
    }
    return out;
}

Bytes MakeWave(const Format& f, const Bytes& data, const WaveOptions& options) {
    const Bytes extra = OptionalChunks(options, f.rate);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(data.size());
    Bytes out;
    ByteWriter w(out);
    w.Tag("RIFF");
    w.U32(static_cast<std::uint32_t>(4 + (8 + kFmtSize) + extra.size() + 8 + dataSize));
    w.Tag("WAVE");
    w.Tag("fmt ");
    w.U32(kFmtSize);
    w.U16(f.tag);
    w.U16(f.channels);
    w.U32(f.rate);
    w.U32(f.bytesPerSecond);
    w.U16(f.blockAlign);
    w.U16(f.bits);
    w.U16(22);     // extension size
    w.U16(f.bits); // valid bits
    w.U32(f.mask);
    w.Raw(std::span(f.subFormat, 16));
    w.Raw(extra);
    w.Tag("data");
    w.U32(dataSize);
    w.Raw(data);
    return out;
}

constexpr std::int16_t kStepTable[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// The decoder's step: the new predictor and index for nibble v.
void Step(int& predictor, int& index, int v) {
    int diff = ((v & 7) * 2 + 1) * kStepTable[index] / 8;
    if (v & 8) diff = -diff;
    predictor = std::clamp(predictor + diff, -32768, 32767);
    index = std::clamp(index + kIndexTable[v], 0, 88);
}

} // namespace

Bytes MakePcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate,
                  const WaveOptions& options) {
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
    Bytes data;
    ByteWriter w(data);
    for (std::int16_t s : interleaved)
        w.I16(s);
    return MakeWave({kFormatExtensible, channels, rate, rate * blockAlign, blockAlign, 16,
                     ChannelMask(channels), kPcmSubFormat},
                    data, options);
}

void DecodeAdpcmChannel(const std::uint8_t* record, std::int16_t* out, std::uint32_t stride) {
    int predictor = static_cast<std::int16_t>(record[0] | record[1] << 8);
    int index = std::min<int>(record[2], 88);
    out[0] = static_cast<std::int16_t>(predictor);
    for (std::uint32_t i = 1; i < kAdpcmBlockFrames; ++i) {
        const std::uint8_t byte = record[4 + (i - 1) / 2];
        Step(predictor, index, (i - 1) % 2 ? byte >> 4 : byte & 15);
        out[i * stride] = static_cast<std::int16_t>(predictor);
    }
}

Bytes EncodeAdpcm(const std::vector<std::int16_t>& interleaved, std::uint16_t channels,
                  std::vector<std::int16_t>* decoded) {
    Bytes out;
    if (channels == 0) return out;
    const size_t frames = interleaved.size() / channels;
    const size_t blocks = (frames + kAdpcmBlockFrames - 1) / kAdpcmBlockFrames;
    out.assign(blocks * channels * kAdpcmBlockBytes, 0);
    if (decoded) decoded->assign(blocks * kAdpcmBlockFrames * channels, 0);
    for (std::uint16_t c = 0; c < channels; ++c) {
        int index = 0;
        for (size_t b = 0; b < blocks; ++b) {
            const auto input = [&](size_t i) {
                const size_t frame = std::min(b * kAdpcmBlockFrames + i, frames - 1);
                return static_cast<int>(interleaved[frame * channels + c]);
            };
            std::uint8_t* record = &out[(b * channels + c) * kAdpcmBlockBytes];
            int predictor = input(0);
            record[0] = static_cast<std::uint8_t>(predictor);
            record[1] = static_cast<std::uint8_t>(predictor >> 8);
            record[2] = static_cast<std::uint8_t>(index);
            if (decoded)
                (*decoded)[b * kAdpcmBlockFrames * channels + c] = static_cast<std::int16_t>(predictor);
            for (std::uint32_t i = 1; i < kAdpcmBlockFrames; ++i) {
                int best = 0;
                int bestError = INT32_MAX;
                for (int v = 0; v < 16; ++v) {
                    int p = predictor;
                    int x = index;
                    Step(p, x, v);
                    const int error = std::abs(p - input(i));
                    if (error < bestError) best = v, bestError = error;
                }
                Step(predictor, index, best);
                record[4 + (i - 1) / 2] |= static_cast<std::uint8_t>((i - 1) % 2 ? best << 4 : best);
                if (decoded)
                    (*decoded)[(b * kAdpcmBlockFrames + i) * channels + c] =
                        static_cast<std::int16_t>(predictor);
            }
        }
    }
    return out;
}

Bytes MakeAdpcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate,
                    const WaveOptions& options) {
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * kAdpcmBlockBytes);
    return MakeWave({2, channels, rate, rate * blockAlign / kAdpcmBlockFrames, blockAlign, 4,
                     ChannelMask(channels), kAdpcmSubFormat},
                    EncodeAdpcm(interleaved, channels), options);
}

std::vector<float> Dc(std::uint32_t frames, double level) {
    return std::vector<float>(frames, static_cast<float>(level));
}

std::vector<float> Chirp(double fromHz, double toHz, double seconds, std::uint32_t rate, double amplitude) {
    std::vector<float> out(Frames(seconds, rate));
    const double length = std::max(seconds, 1e-9);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2.0 * std::numbers::pi * (fromHz * t + (toHz - fromHz) * t * t / (2.0 * length));
        out[i] = static_cast<float>(amplitude * std::sin(phase));
    }
    return out;
}

namespace {

constexpr const char* kMalformedNames[] = {"truncated-11",
                                           "truncated-12",
                                           "truncated-19",
                                           "bad-magic",
                                           "bad-form",
                                           "cue-before-fmt",
                                           "missing-fmt",
                                           "oversize-chunk",
                                           "odd-chunk-nonzero-pad",
                                           "huge-cue-count",
                                           "huge-aud-count",
                                           "labl-below-4",
                                           "smpl-loop-outside",
                                           "step-index-200",
                                           "block-align-0",
                                           "rate-0",
                                           "channels-0",
                                           "pcm-32-bit",
                                           "partial-adpcm-block",
                                           "loop-end-below-start",
                                           "loop-past-end",
                                           "trailing-bytes"};
static_assert(std::size(kMalformedNames) == static_cast<size_t>(Malformed::Count));

// A short stereo file: 100 frames of a sine.
std::vector<std::int16_t> ShortSignal() {
    const std::vector<float> s = Sine(440, 100.0 / 8000.0, 8000, 0.5);
    return ToPcm16({s, s});
}

void PutU16(Bytes& b, size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(Bytes& b, size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Header, one chunk, then "fmt " and "data" of a valid file.
Bytes WithChunkFirst(const char* tag, const Bytes& payload) {
    const Bytes valid = MakePcmWave(ShortSignal(), 2, 8000);
    Bytes out(valid.begin(), valid.begin() + 12);
    ByteWriter w(out);
    Chunk(w, tag, payload);
    out.insert(out.end(), valid.begin() + 12, valid.end());
    return out;
}

} // namespace

const char* MalformedName(Malformed kind) {
    const size_t i = static_cast<size_t>(kind);
    return i < std::size(kMalformedNames) ? kMalformedNames[i] : "?";
}

Bytes MakeMalformed(Malformed kind) {
    const std::vector<std::int16_t> signal = ShortSignal();
    Bytes pcm = MakePcmWave(signal, 2, 8000);
    // Offsets of the valid layout: "fmt " data at 20, "data" header at 60.
    switch (kind) {
    case Malformed::Truncated11:
        pcm.resize(11);
        return pcm;
    case Malformed::Truncated12:
        pcm.resize(12);
        return pcm;
    case Malformed::Truncated19:
        pcm.resize(19);
        return pcm;
    case Malformed::BadMagic:
        pcm[0] = 'X';
        return pcm;
    case Malformed::BadForm:
        pcm[8] = 'A';
        return pcm;
    case Malformed::CueBeforeFmt: {
        Bytes cue(4 + 24, 0);
        PutU32(cue, 0, 1);
        return WithChunkFirst("cue ", cue);
    }
    case Malformed::MissingFmt: {
        Bytes out(pcm.begin(), pcm.begin() + 12);
        out.insert(out.end(), pcm.begin() + 60, pcm.end());
        return out;
    }
    case Malformed::OversizeChunk: {
        WaveOptions o;
        o.cues = {{1, 10, "a"}};
        Bytes out = MakePcmWave(signal, 2, 8000, o);
        PutU32(out, 64, 0x7FFFFFF0); // the "cue " chunk's size
        return out;
    }
    case Malformed::OddChunkNonZeroPad: {
        // An odd chunk whose next byte is the start of "fmt ": no pad to skip.
        const Bytes valid = pcm;
        Bytes out(valid.begin(), valid.begin() + 12);
        ByteWriter w(out);
        w.Tag("junk");
        w.U32(3);
        w.U8(1);
        w.U8(2);
        w.U8(3);
        out.insert(out.end(), valid.begin() + 12, valid.end());
        return out;
    }
    case Malformed::HugeCueCount: {
        WaveOptions o;
        o.cues = {{1, 10, ""}};
        Bytes out = MakePcmWave(signal, 2, 8000, o);
        PutU32(out, 68, 0x10000000);
        return out;
    }
    case Malformed::HugeAudCount: {
        WaveOptions o;
        o.hasEnvelope = true;
        o.envelope = {{0, 0}, {50, 10}};
        Bytes out = MakePcmWave(signal, 2, 8000, o);
        PutU32(out, 60 + 8 + 8, 0x40000000);
        return out;
    }
    case Malformed::LablSizeBelow4: {
        WaveOptions o;
        o.cues = {{1, 10, "x"}};
        Bytes out = MakePcmWave(signal, 2, 8000, o);
        // "cue " is 8 + 28 bytes from 60; "LIST" then "adtl", then "labl" and its size.
        PutU32(out, 60 + 36 + 12 + 4, 2);
        return out;
    }
    case Malformed::SmplLoopOutside: {
        WaveOptions o;
        o.loop = true;
        o.loopStart = 10;
        o.loopEnd = 50;
        Bytes out = MakePcmWave(signal, 2, 8000, o);
        PutU32(out, 60 + 8 + 32, 0xFFFFFF00); // sampler-data size
        return out;
    }
    case Malformed::StepIndex200: {
        Bytes out = MakeAdpcmWave(signal, 2, 8000);
        out[68 + 2] = 200;
        return out;
    }
    case Malformed::BlockAlignZero:
        PutU16(pcm, 32, 0);
        return pcm;
    case Malformed::RateZero:
        PutU32(pcm, 24, 0);
        return pcm;
    case Malformed::ChannelsZero:
        PutU16(pcm, 22, 0);
        return pcm;
    case Malformed::Pcm32Bit:
        PutU16(pcm, 34, 32);
        PutU16(pcm, 32, 8);
        return pcm;
    case Malformed::PartialAdpcmBlock: {
        Bytes out = MakeAdpcmWave(signal, 2, 8000);
        out.resize(out.size() - 10);
        PutU32(out, 64, static_cast<std::uint32_t>(out.size() - 68));
        return out;
    }
    case Malformed::LoopEndBelowStart: {
        WaveOptions o;
        o.loop = true;
        o.loopStart = 50;
        o.loopEnd = 20;
        return MakePcmWave(signal, 2, 8000, o);
    }
    case Malformed::LoopPastEnd: {
        WaveOptions o;
        o.loop = true;
        o.loopStart = 10;
        o.loopEnd = 100;
        return MakePcmWave(signal, 2, 8000, o);
    }
    case Malformed::TrailingBytes:
        pcm.push_back(0);
        pcm.push_back(0);
        return pcm;
    case Malformed::Count:
        break;
    }
    return {};
}

} // namespace bankgen
