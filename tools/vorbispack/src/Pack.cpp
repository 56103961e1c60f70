#include <vorbispack/Pack.h>
#include <vorbispack/Setup.h>

#include <bankgen/Bytes.h>

#include "plugins/AuVorbisCodebookLibrary.h"
#include "plugins/AuVorbisDecoder.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <cstring>
#include <map>

namespace vorbispack {

namespace {

bool Fail(std::string& error, const std::string& why) {
    error = why;
    return false;
}

EncodedPacket Copy(const ogg_packet& p) {
    return {Bytes(p.packet, p.packet + p.bytes), p.granulepos};
}

std::uint32_t ReadU32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

} // namespace

bool Encode(const std::vector<std::vector<float>>& channels, long rate, float quality, EncodedStream& out,
            std::string& error) {
    if (channels.empty() || channels.size() > 8) return Fail(error, "channel count outside 1..8");
    const std::size_t frames = channels[0].size();
    for (const auto& c : channels)
        if (c.size() != frames) return Fail(error, "channels of different lengths");
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, long(channels.size()), rate, quality) != 0) {
        vorbis_info_clear(&info);
        return Fail(error, "the encoder refuses this rate, channel count and quality");
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_packet id, comments, setup;
    vorbis_analysis_headerout(&dsp, &comment, &id, &comments, &setup);
    out = EncodedStream{};
    out.identification = Copy(id).bytes;
    out.comments = Copy(comments).bytes;
    out.setup = Copy(setup).bytes;
    const auto drain = [&] {
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet p;
            while (vorbis_bitrate_flushpacket(&dsp, &p) == 1)
                out.audio.push_back(Copy(p));
        }
    };
    constexpr std::size_t kChunk = 1024;
    for (std::size_t at = 0; at < frames; at += kChunk) {
        const std::size_t n = frames - at < kChunk ? frames - at : kChunk;
        float** buffer = vorbis_analysis_buffer(&dsp, int(n));
        for (std::size_t c = 0; c < channels.size(); ++c)
            std::memcpy(buffer[c], channels[c].data() + at, n * sizeof(float));
        vorbis_analysis_wrote(&dsp, int(n));
        drain();
    }
    vorbis_analysis_wrote(&dsp, 0);
    drain();
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return true;
}

bool ReadOgg(const Bytes& ogg, EncodedStream& out, std::string& error) {
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(ogg.size()));
    std::memcpy(buffer, ogg.data(), ogg.size());
    ogg_sync_wrote(&sync, long(ogg.size()));
    ogg_stream_state stream;
    bool started = false;
    out = EncodedStream{};
    std::size_t count = 0;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!started) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            started = true;
        }
        if (ogg_stream_pagein(&stream, &page) != 0) continue;
        ogg_packet p;
        while (ogg_stream_packetout(&stream, &p) == 1) {
            if (count == 0)
                out.identification = Copy(p).bytes;
            else if (count == 1)
                out.comments = Copy(p).bytes;
            else if (count == 2)
                out.setup = Copy(p).bytes;
            else
                out.audio.push_back(Copy(p));
            ++count;
        }
    }
    if (started) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    if (count < 3) return Fail(error, "fewer than three header packets in the Ogg file");
    // Only the last packet of a page carries its granule: the others are counted forward by the
    // packer from the block sizes.
    return true;
}

Bytes WriteOgg(const EncodedStream& s) {
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    Bytes out;
    const auto flush = [&](bool force) {
        ogg_page page;
        while (force ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
            out.insert(out.end(), page.header, page.header + page.header_len);
            out.insert(out.end(), page.body, page.body + page.body_len);
        }
    };
    std::int64_t number = 0;
    const auto put = [&](const Bytes& bytes, std::int64_t granule, bool bos, bool eos) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(bytes.data());
        p.bytes = long(bytes.size());
        p.b_o_s = bos;
        p.e_o_s = eos;
        p.granulepos = granule;
        p.packetno = number++;
        ogg_stream_packetin(&stream, &p);
    };
    put(s.identification, 0, true, false);
    put(s.comments, 0, false, false);
    put(s.setup, 0, false, false);
    flush(true);
    for (std::size_t i = 0; i < s.audio.size(); ++i) {
        put(s.audio[i].bytes, s.audio[i].granule, false, i + 1 == s.audio.size());
        flush(false);
    }
    flush(true);
    ogg_stream_clear(&stream);
    return out;
}

bool Pack(const EncodedStream& s, const PackOptions& o, Bytes& media, std::string& error, PackedInfo* info) {
    const Bytes& id = s.identification;
    static const std::uint8_t kIdMagic[7] = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    if (id.size() < 30 || std::memcmp(id.data(), kIdMagic, 7) != 0)
        return Fail(error, "no identification header");
    const std::uint32_t channels = id[11];
    const std::uint32_t rate = ReadU32(id, 12);
    const std::uint32_t shortExp = id[28] & 15;
    const std::uint32_t longExp = id[28] >> 4;
    if (channels < 1 || channels > 8) return Fail(error, "channel count outside 1..8");
    if (rate == 0) return Fail(error, "sample rate 0");
    if (shortExp < kVorbisMinBlockExp || longExp > kVorbisMaxBlockExp || shortExp > longExp)
        return Fail(error, "block sizes outside 256..4096");

    StandardSetup setup;
    if (!ReadStandardSetup(s.setup.data(), s.setup.size(), int(channels), setup, error)) return false;
    std::map<Bytes, std::uint16_t> library;
    for (std::uint32_t i = 0; i < g_uVorbisCodebookCount; ++i) {
        const auto& e = VorbisCodebookLibrary[i];
        library.emplace(Bytes(e.pBits, e.pBits + e.uBytes), std::uint16_t(i));
    }
    std::vector<std::uint16_t> indices;
    for (const auto& book : setup.compactBooks) {
        const auto it = library.find(book);
        if (it == library.end()) return Fail(error, "a codebook that is not in the library");
        indices.push_back(it->second);
    }
    const Bytes compact = WriteCompactSetup(setup, indices);
    if (compact.size() > 65535) return Fail(error, "set-up larger than 65535 bytes");
    const std::uint32_t setupMemory =
        VorbisSetupMemorySize(compact.data(), std::uint32_t(compact.size()), channels, shortExp, longExp);
    if (setupMemory == 0) return Fail(error, "the decoder refuses the compact set-up");

    // Repack: no packet-type bit, a 1-bit mode number, no window flags on long blocks.
    const int modeBits = ILog(std::uint32_t(setup.modeBlockFlags.size() - 1));
    std::vector<Bytes> packets;
    std::vector<std::uint32_t> blocks;
    std::uint16_t maxPacket = 0;
    for (const auto& p : s.audio) {
        BitReader r(p.bytes.data(), p.bytes.size());
        if (p.bytes.empty() || r.Read(1) != 0) return Fail(error, "an audio packet with the header type bit");
        const std::uint32_t mode = r.Read(modeBits);
        if (mode >= setup.modeBlockFlags.size()) return Fail(error, "an audio packet names a missing mode");
        const bool longBlock = setup.modeBlockFlags[mode];
        if (longBlock) r.Read(2);
        BitWriter w;
        w.Write(mode, 1);
        if (r.BitPosition() < r.BitSize()) w.Copy(r, r.BitSize() - r.BitPosition());
        if (w.Bytes().size() > 65535) return Fail(error, "an audio packet larger than 65535 bytes");
        packets.push_back(w.Bytes());
        blocks.push_back(1u << (longBlock ? longExp : shortExp));
        if (w.Bytes().size() > maxPacket) maxPacket = std::uint16_t(w.Bytes().size());
    }
    if (packets.size() < 2) return Fail(error, "fewer than two audio packets");

    // S[k] = frames decoded before packet k's own output: out_1 + ... + out_k.
    std::vector<std::uint64_t> S(packets.size(), 0);
    for (std::size_t k = 1; k < packets.size(); ++k)
        S[k] = S[k - 1] + blocks[k - 1] / 4 + blocks[k] / 4;
    const std::size_t last = packets.size() - 1;
    for (std::size_t k = 0; k < last; ++k)
        if (s.audio[k].granule >= 0 && std::uint64_t(s.audio[k].granule) != S[k])
            return Fail(error, "the stream needs a beginning trim, which the media cannot carry");
    const std::int64_t total = s.audio[last].granule;
    if (total <= 0 || std::uint64_t(total) > S[last] || total > 0xFFFFFFFF)
        return Fail(error, "the last granule position is outside the decoded length");
    if (S[last] - std::uint64_t(total) > 65535) return Fail(error, "an end trim above 65535 samples");
    const std::uint16_t endTrim = std::uint16_t(S[last] - std::uint64_t(total));

    // Offsets from the end of the seek table: the set-up packet comes first.
    std::vector<std::uint32_t> offset(packets.size() + 1);
    offset[0] = std::uint32_t(2 + compact.size());
    for (std::size_t k = 0; k < packets.size(); ++k)
        offset[k + 1] = offset[k] + std::uint32_t(2 + packets[k].size());
    Bytes seek;
    bankgen::ByteWriter sw(seek);
    std::uint64_t prevSamples = 0;
    std::uint32_t prevOffset = 0;
    for (std::size_t k = 1; k < packets.size(); ++k) {
        if (S[k] - prevSamples < o.stepSamples && offset[k] - prevOffset < 32768) continue;
        if (S[k] - prevSamples > 65535 || offset[k] - prevOffset > 65535)
            return Fail(error, "a seek-table step beyond 16 bits");
        sw.U16(std::uint16_t(S[k] - prevSamples));
        sw.U16(std::uint16_t(offset[k] - prevOffset));
        prevSamples = S[k];
        prevOffset = offset[k];
    }

    const std::uint32_t dataAfterSeek = offset[packets.size()];
    std::uint32_t loopStart = offset[0];
    std::uint32_t loopEnd = dataAfterSeek;
    std::uint16_t loopSkip = 0;
    std::uint16_t loopTrim = endTrim;
    if (o.loop) {
        if (o.loopEnd < o.loopStart || o.loopEnd >= std::uint64_t(total))
            return Fail(error, "loop points outside the media");
        std::size_t k = 0;
        while (k + 1 < packets.size() && S[k + 1] <= o.loopStart)
            ++k;
        loopStart = offset[k];
        loopSkip = std::uint16_t(o.loopStart - S[k]);
        // The first packet m whose output reaches le: S[m] >= le + 1.
        std::size_t m = 0;
        while (S[m] < std::uint64_t(o.loopEnd) + 1)
            ++m;
        loopEnd = offset[m + 1];
        loopTrim = std::uint16_t(S[m] - (std::uint64_t(o.loopEnd) + 1));
    }

    Bytes data = seek;
    bankgen::ByteWriter dw(data);
    dw.U16(std::uint16_t(compact.size()));
    dw.Raw(compact);
    for (const auto& p : packets) {
        dw.U16(std::uint16_t(p.size()));
        dw.Raw(p);
    }
    const std::uint32_t setupId =
        VorbisSetupId(compact.data(), std::uint32_t(compact.size()), channels, shortExp, longExp);

    Bytes fmt;
    bankgen::ByteWriter f(fmt);
    f.U16(0xFFFF);
    f.U16(std::uint16_t(channels));
    f.U32(rate);
    f.U32(std::uint32_t(std::uint64_t(data.size()) * rate / std::uint64_t(total)));
    f.U16(std::uint16_t(2 * channels));
    f.U16(16);
    f.U16(48);
    f.U16(0);
    f.U32(channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0);
    f.U32(std::uint32_t(total));
    f.U32(loopStart);
    f.U32(loopEnd);
    f.U16(loopSkip);
    f.U16(loopTrim);
    f.U32(std::uint32_t(seek.size()));
    f.U32(std::uint32_t(seek.size() + 2 + compact.size()));
    f.U16(maxPacket);
    f.U16(endTrim);
    f.U32(setupMemory);
    f.U32(0);
    f.U32(setupId);
    f.U8(std::uint8_t(shortExp));
    f.U8(std::uint8_t(longExp));

    Bytes smpl;
    if (o.loop) {
        bankgen::ByteWriter m(smpl);
        for (const std::uint32_t v : {0u, 0u, 1000000000u / rate, 60u, 0u, 0u, 0u, 1u, 0u, 0u, 0u})
            m.U32(v);
        m.U32(o.loopStart);
        m.U32(o.loopEnd);
        m.U32(0);
        m.U32(0);
    }
    media.clear();
    bankgen::ByteWriter w(media);
    w.Tag("RIFF");
    w.U32(std::uint32_t(4 + 8 + fmt.size() + (smpl.empty() ? 0 : 8 + smpl.size()) + 8 + data.size()));
    w.Tag("WAVE");
    w.Tag("fmt ");
    w.U32(std::uint32_t(fmt.size()));
    w.Raw(fmt);
    if (!smpl.empty()) {
        w.Tag("smpl");
        w.U32(std::uint32_t(smpl.size()));
        w.Raw(smpl);
    }
    w.Tag("data");
    w.U32(std::uint32_t(data.size()));
    w.Raw(data);
    if (info)
        *info = {std::uint32_t(total),         endTrim, maxPacket, setupId, setupMemory,
                 std::uint32_t(packets.size())};
    return true;
}

} // namespace vorbispack
