#include <vorbispack/Setup.h>

#include <algorithm>

namespace vorbispack {

std::uint32_t BitReader::Read(int bits) {
    std::uint32_t value = 0;
    for (int i = 0; i < bits; ++i, ++m_bit) {
        if (m_bit >= m_size * 8) {
            m_eop = true;
            continue;
        }
        value |= std::uint32_t((m_data[m_bit >> 3] >> (m_bit & 7)) & 1) << i;
    }
    return value;
}

void BitWriter::Write(std::uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i, ++m_bit) {
        if ((m_bit & 7) == 0) m_bytes.push_back(0);
        m_bytes.back() |= std::uint8_t(((value >> i) & 1) << (m_bit & 7));
    }
}

void BitWriter::Copy(BitReader& reader, std::size_t bits) {
    for (; bits >= 32; bits -= 32)
        Write(reader.Read(32), 32);
    Write(reader.Read(int(bits)), int(bits));
}

void BitWriter::Append(const BitWriter& other) {
    BitReader reader(other.m_bytes.data(), other.m_bytes.size());
    Copy(reader, other.m_bit);
}

int ILog(std::uint32_t v) {
    int bits = 0;
    for (; v; v >>= 1)
        ++bits;
    return bits;
}

namespace {

std::uint32_t Lookup1Values(std::uint32_t entries, std::uint32_t dims) {
    std::uint32_t r = 0;
    for (;;) {
        std::uint64_t p = 1;
        for (std::uint32_t d = 0; d < dims && p <= entries; ++d)
            p *= r + 1;
        if (p > entries) return r;
        ++r;
    }
}

bool Fail(std::string& error, const std::string& why) {
    error = why;
    return false;
}

bool ConvertCodebook(BitReader& in, std::vector<std::uint8_t>& out, std::string& error) {
    if (in.Read(24) != 0x564342) return Fail(error, "codebook sync pattern missing");
    const std::uint32_t dims = in.Read(16);
    const std::uint32_t entries = in.Read(24);
    if (dims == 0 || dims > 15) return Fail(error, "codebook dimensions outside 1..15");
    if (entries == 0 || entries > 16383) return Fail(error, "codebook entries outside 1..16383");
    BitWriter w;
    w.Write(dims, 4);
    w.Write(entries, 14);
    const bool ordered = in.Read(1);
    w.Write(ordered, 1);
    if (ordered) {
        const std::uint32_t first = in.Read(5);
        w.Write(first, 5);
        std::uint32_t current = 0;
        std::uint32_t length = first + 1;
        while (current < entries && !in.Eop()) {
            const int bits = ILog(entries - current);
            const std::uint32_t number = in.Read(bits);
            w.Write(number, bits);
            current += number;
            if (current > entries || ++length > 33) return Fail(error, "ordered codebook lengths overflow");
        }
    } else {
        const bool sparse = in.Read(1);
        std::vector<int> lengths(entries, 0);
        for (auto& length : lengths) {
            if (sparse && !in.Read(1)) continue;
            length = int(in.Read(5)) + 1;
        }
        const int maxLength = *std::max_element(lengths.begin(), lengths.end());
        const int width = maxLength > 0 ? ILog(std::uint32_t(maxLength - 1)) : 0;
        w.Write(std::uint32_t(width), 3);
        w.Write(sparse, 1);
        for (const int length : lengths) {
            if (sparse) w.Write(length > 0, 1);
            if (length > 0) w.Write(std::uint32_t(length - 1), width);
        }
    }
    const std::uint32_t lookup = in.Read(4);
    if (lookup == 2) return Fail(error, "codebook lookup type 2");
    if (lookup > 2) return Fail(error, "codebook lookup type above 2");
    w.Write(lookup, 1);
    if (lookup == 1) {
        w.Write(in.Read(32), 32);
        w.Write(in.Read(32), 32);
        const std::uint32_t valueBits = in.Read(4);
        w.Write(valueBits, 4);
        w.Write(in.Read(1), 1);
        const std::uint32_t count = Lookup1Values(entries, dims);
        for (std::uint32_t i = 0; i < count; ++i)
            w.Write(in.Read(int(valueBits) + 1), int(valueBits) + 1);
    }
    if (in.Eop()) return Fail(error, "set-up packet ends inside a codebook");
    out = w.Bytes();
    return true;
}

bool CopyFloor(BitReader& in, BitWriter& w, std::string& error) {
    if (in.Read(16) != 1) return Fail(error, "floor type other than 1");
    const std::uint32_t partitions = in.Read(5);
    w.Write(partitions, 5);
    std::vector<std::uint32_t> classes(partitions);
    std::uint32_t maxClass = 0;
    for (auto& c : classes) {
        c = in.Read(4);
        w.Write(c, 4);
        maxClass = std::max(maxClass, c);
    }
    std::vector<std::uint32_t> dims(partitions ? maxClass + 1 : 0);
    for (auto& d : dims) {
        d = in.Read(3) + 1;
        w.Write(d - 1, 3);
        const std::uint32_t subclass = in.Read(2);
        w.Write(subclass, 2);
        if (subclass) w.Copy(in, 8);
        w.Copy(in, std::size_t(8) << subclass);
    }
    w.Copy(in, 2);
    const std::uint32_t rangeBits = in.Read(4);
    w.Write(rangeBits, 4);
    for (const auto c : classes)
        w.Copy(in, std::size_t(dims[c]) * rangeBits);
    return true;
}

bool CopyResidue(BitReader& in, BitWriter& w, std::string& error) {
    const std::uint32_t type = in.Read(16);
    if (type == 0) return Fail(error, "residue type 0");
    if (type > 2) return Fail(error, "residue type above 2");
    w.Write(type, 2);
    w.Copy(in, 24 + 24 + 24);
    const std::uint32_t classifications = in.Read(6) + 1;
    w.Write(classifications - 1, 6);
    w.Copy(in, 8);
    std::size_t books = 0;
    for (std::uint32_t i = 0; i < classifications; ++i) {
        std::uint32_t cascade = in.Read(3);
        w.Write(cascade, 3);
        const bool high = in.Read(1);
        w.Write(high, 1);
        if (high) {
            const std::uint32_t bits = in.Read(5);
            w.Write(bits, 5);
            cascade |= bits << 3;
        }
        books += std::size_t(__builtin_popcount(cascade));
    }
    w.Copy(in, books * 8);
    return true;
}

bool CopyMapping(BitReader& in, BitWriter& w, int channels, std::string& error) {
    if (in.Read(16) != 0) return Fail(error, "mapping type other than 0");
    std::uint32_t submaps = 1;
    const bool hasSubmaps = in.Read(1);
    w.Write(hasSubmaps, 1);
    if (hasSubmaps) {
        submaps = in.Read(4) + 1;
        w.Write(submaps - 1, 4);
    }
    const bool coupled = in.Read(1);
    w.Write(coupled, 1);
    if (coupled) {
        const std::uint32_t steps = in.Read(8) + 1;
        w.Write(steps - 1, 8);
        w.Copy(in, std::size_t(steps) * 2 * std::size_t(ILog(std::uint32_t(channels - 1))));
    }
    w.Copy(in, 2);
    if (submaps > 1) w.Copy(in, std::size_t(channels) * 4);
    w.Copy(in, std::size_t(submaps) * 24);
    return true;
}

} // namespace

bool ReadStandardSetup(const std::uint8_t* packet, std::size_t size, int channels, StandardSetup& out,
                       std::string& error) {
    static const std::uint8_t kMagic[7] = {5, 'v', 'o', 'r', 'b', 'i', 's'};
    if (size < 7 || !std::equal(kMagic, kMagic + 7, packet)) return Fail(error, "not a Vorbis set-up header");
    if (channels < 1 || channels > 8) return Fail(error, "channel count outside 1..8");
    BitReader in(packet + 7, size - 7);
    out = StandardSetup{};
    const std::uint32_t books = in.Read(8) + 1;
    for (std::uint32_t i = 0; i < books; ++i) {
        out.compactBooks.emplace_back();
        if (!ConvertCodebook(in, out.compactBooks.back(), error)) return false;
    }
    const std::uint32_t times = in.Read(6) + 1;
    for (std::uint32_t i = 0; i < times; ++i)
        if (in.Read(16) != 0) return Fail(error, "time-domain transform other than 0");
    BitWriter& w = out.tail;
    const std::uint32_t floors = in.Read(6) + 1;
    w.Write(floors - 1, 6);
    for (std::uint32_t i = 0; i < floors; ++i)
        if (!CopyFloor(in, w, error)) return false;
    const std::uint32_t residues = in.Read(6) + 1;
    w.Write(residues - 1, 6);
    for (std::uint32_t i = 0; i < residues; ++i)
        if (!CopyResidue(in, w, error)) return false;
    const std::uint32_t mappings = in.Read(6) + 1;
    w.Write(mappings - 1, 6);
    for (std::uint32_t i = 0; i < mappings; ++i)
        if (!CopyMapping(in, w, channels, error)) return false;
    const std::uint32_t modes = in.Read(6) + 1;
    if (modes > 2) return Fail(error, "more than 2 modes");
    w.Write(modes - 1, 6);
    for (std::uint32_t i = 0; i < modes; ++i) {
        const bool block = in.Read(1);
        w.Write(block, 1);
        if (in.Read(16) != 0 || in.Read(16) != 0) return Fail(error, "window or transform type other than 0");
        w.Copy(in, 8);
        out.modeBlockFlags.push_back(block);
    }
    if (in.Read(1) != 1) return Fail(error, "framing bit missing");
    if (in.Eop()) return Fail(error, "set-up packet ends early");
    return true;
}

std::vector<HarvestSetting> HarvestMatrix() {
    // Every rate the encoder has tuned settings for, mono and stereo, qualities -0.1 to 1.0.
    std::vector<HarvestSetting> matrix;
    for (const long rate : {22050L, 32000L, 44100L, 48000L})
        for (const int channels : {1, 2})
            for (int q = -1; q <= 10; ++q)
                matrix.push_back({rate, channels, float(q) / 10.0f});
    return matrix;
}

std::vector<std::uint8_t> WriteCompactSetup(const StandardSetup& setup,
                                            const std::vector<std::uint16_t>& indices) {
    BitWriter w;
    w.Write(std::uint32_t(indices.size() - 1), 8);
    for (const auto index : indices)
        w.Write(index, 10);
    w.Append(setup.tail);
    return w.Bytes();
}

} // namespace vorbispack
