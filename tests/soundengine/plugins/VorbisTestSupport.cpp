#include "VorbisTestSupport.h"

#include <vorbis/codec.h>

#include <cmath>
#include <cstring>

namespace vorbistest {

std::vector<std::vector<float>> TestSignal(std::uint32_t channels, long rate, double seconds) {
    std::vector<std::vector<float>> out;
    for (std::uint32_t c = 0; c < channels; ++c) {
        auto tone = bankgen::Sine(440.0 * (c + 1), seconds, std::uint32_t(rate), 0.4);
        const auto sweep = bankgen::Chirp(100, 6000, seconds, std::uint32_t(rate), 0.2);
        const auto noise = bankgen::Noise(7 + c, std::uint32_t(tone.size()), 0.05);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] += sweep[i] + noise[i];
        out.push_back(tone);
    }
    return out;
}

Encoded Make(std::uint32_t channels, long rate, float quality, double seconds,
             const vorbispack::PackOptions& options) {
    Encoded e;
    e.channels = channels;
    std::string error;
    EXPECT_TRUE(vorbispack::Encode(TestSignal(channels, rate, seconds), rate, quality, e.stream, error))
        << error;
    EXPECT_TRUE(vorbispack::Pack(e.stream, options, e.media, error, &e.info)) << error;
    return e;
}

namespace {
std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
} // namespace

MediaView View(const vorbispack::Bytes& media) {
    MediaView v;
    std::size_t at = 12;
    while (at + 8 <= media.size()) {
        const std::uint32_t size = U32(&media[at + 4]);
        if (std::memcmp(&media[at], "fmt ", 4) == 0) v.fmtOffset = std::uint32_t(at + 8);
        if (std::memcmp(&media[at], "data", 4) == 0) {
            v.dataOffset = std::uint32_t(at + 8);
            v.dataSize = size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    const std::uint8_t* f = media.data() + v.fmtOffset;
    v.channels = U16(f + 2);
    v.rate = U32(f + 4);
    v.total = U32(f + 24);
    v.loopStart = U32(f + 28);
    v.loopEnd = U32(f + 32);
    v.loopSkip = U16(f + 36);
    v.loopTrim = U16(f + 38);
    v.seekSize = U32(f + 40);
    v.firstPacket = U32(f + 44);
    v.maxPacket = U16(f + 48);
    v.endTrim = U16(f + 50);
    v.setup = {U32(f + 60), U32(f + 52), f[64], f[65]};
    v.data = media.data() + v.dataOffset;
    return v;
}

std::vector<std::int16_t> ReferenceDecode(const vorbispack::EncodedStream& s) {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    const vorbispack::Bytes* headers[3] = {&s.identification, &s.comments, &s.setup};
    for (int i = 0; i < 3; ++i) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(headers[i]->data());
        p.bytes = long(headers[i]->size());
        p.b_o_s = i == 0;
        p.packetno = i;
        EXPECT_EQ(vorbis_synthesis_headerin(&info, &comment, &p), 0);
    }
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_synthesis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i < s.audio.size(); ++i) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(s.audio[i].bytes.data());
        p.bytes = long(s.audio[i].bytes.size());
        p.granulepos = s.audio[i].granule;
        p.e_o_s = i + 1 == s.audio.size();
        p.packetno = long(i + 3);
        if (vorbis_synthesis(&block, &p) == 0) vorbis_synthesis_blockin(&dsp, &block);
        float** pcm;
        int n;
        while ((n = vorbis_synthesis_pcmout(&dsp, &pcm)) > 0) {
            for (int f = 0; f < n; ++f)
                for (int c = 0; c < info.channels; ++c) {
                    const float v = std::trunc(pcm[c][f] * 32768.0f);
                    out.push_back(std::int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v));
                }
            vorbis_synthesis_read(&dsp, n);
        }
    }
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

std::vector<std::int16_t> EngineDecode(const vorbispack::Bytes& media, std::uint32_t wanted,
                                       std::uint32_t skip, std::uint32_t fromOffset) {
    const MediaView v = View(media);
    const std::uint8_t* setup = v.data + v.seekSize;
    const std::uint32_t setupSize = U16(setup);
    AuVorbisDecodeState st;
    st.decoder.pSetup = VorbisSetupCache::Get(v.setup, v.channels, setup + 2, setupSize);
    EXPECT_NE(st.decoder.pSetup, nullptr);
    if (!st.decoder.pSetup) return {};
    EXPECT_EQ(InitVorbisChannels(st.decoder, v.channels), 0);
    ResetVorbisDecoder(st.decoder, std::uint16_t(skip), v.endTrim);
    st.uStage = kVorbisStageDecoding;
    st.bAllDataPresent = true;
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> buffer(std::size_t(wanted) * v.channels);
    std::uint32_t at = fromOffset ? fromOffset : v.firstPacket;
    for (int guard = 0; guard < 100000; ++guard) {
        st.uFramesWanted = wanted;
        st.uBytesAvailable = v.dataSize - at;
        DecodeVorbisPackets(st, v.maxPacket, v.data + at, buffer.data());
        at += st.uBytesConsumed;
        out.insert(out.end(), buffer.begin(),
                   buffer.begin() + std::ptrdiff_t(st.uFramesProduced * v.channels));
        if (st.eStatus != AuResultDataReady) break;
    }
    EXPECT_EQ(st.eStatus, AuResultNoMoreData);
    FreeVorbisChannels(st.decoder);
    VorbisSetupCache::Release(v.setup.uSetupId);
    return out;
}

} // namespace vorbistest
