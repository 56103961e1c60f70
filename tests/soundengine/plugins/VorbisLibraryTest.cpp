#include "plugins/AuVorbisCodebookLibrary.h"
#include "plugins/AuVorbisDecoder.h"

#include <vorbispack/Pack.h>
#include <vorbispack/Setup.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

// A standard codebook as the Vorbis I text defines it: codeword lengths and VQ values.
struct StandardBook {
    std::uint32_t dims = 0;
    std::uint32_t entries = 0;
    std::vector<std::uint8_t> lengths;
    std::vector<double> values; // entries x dims; empty without a lookup
};

double Float32(std::uint32_t x) {
    const double v = std::ldexp(double(x & 0x1FFFFF), int((x & 0x7FE00000) >> 21) - 788);
    return x & 0x80000000u ? -v : v;
}

// Reads the codebooks of a standard set-up packet.
std::vector<StandardBook> StandardBooks(const vorbispack::Bytes& setup) {
    vorbispack::BitReader r(setup.data() + 7, setup.size() - 7);
    std::vector<StandardBook> books(r.Read(8) + 1);
    for (auto& b : books) {
        EXPECT_EQ(r.Read(24), 0x564342u);
        b.dims = r.Read(16);
        b.entries = r.Read(24);
        b.lengths.assign(b.entries, 0);
        if (r.Read(1)) {
            std::uint32_t current = 0, length = r.Read(5) + 1;
            while (current < b.entries) {
                const std::uint32_t n = r.Read(vorbispack::ILog(b.entries - current));
                for (std::uint32_t i = 0; i < n; ++i)
                    b.lengths[current + i] = std::uint8_t(length);
                current += n;
                ++length;
            }
        } else {
            const bool sparse = r.Read(1);
            for (auto& l : b.lengths)
                if (!sparse || r.Read(1)) l = std::uint8_t(r.Read(5) + 1);
        }
        const std::uint32_t lookup = r.Read(4);
        EXPECT_LE(lookup, 1u);
        if (lookup == 1) {
            const double minimum = Float32(r.Read(32)), delta = Float32(r.Read(32));
            const std::uint32_t bits = r.Read(4) + 1;
            const bool sequence = r.Read(1);
            std::uint32_t count = 0;
            while (std::pow(double(count + 1), double(b.dims)) <= b.entries)
                ++count;
            std::vector<std::uint32_t> mult(count);
            for (auto& m : mult)
                m = r.Read(int(bits));
            for (std::uint32_t e = 0; e < b.entries; ++e) {
                double last = 0;
                std::uint32_t divisor = 1;
                for (std::uint32_t d = 0; d < b.dims; ++d) {
                    const double v = mult[(e / divisor) % count] * delta + minimum + last;
                    b.values.push_back(v);
                    if (sequence) last = v;
                    divisor *= count;
                }
            }
        }
    }
    return books;
}

TEST(VorbisLibraryTest, EveryEntryUnpacksToTheStandardBookItCameFrom) {
    std::set<std::uint32_t> covered;
    std::vector<u8> block(16u << 20);
    for (const auto [rate, channels, quality] : vorbispack::HarvestMatrix()) {
        vorbispack::EncodedStream stream;
        std::string error;
        ASSERT_TRUE(vorbispack::Encode(std::vector<std::vector<float>>(std::size_t(channels), {0.0f}), rate,
                                       quality, stream, error))
            << error;
        vorbispack::StandardSetup compact;
        ASSERT_TRUE(
            vorbispack::ReadStandardSetup(stream.setup.data(), stream.setup.size(), channels, compact, error))
            << error;
        const auto standard = StandardBooks(stream.setup);
        ASSERT_EQ(standard.size(), compact.compactBooks.size());
        for (std::size_t i = 0; i < standard.size(); ++i) {
            const auto& bits = compact.compactBooks[i];
            std::uint32_t index = 0;
            while (index < g_uVorbisCodebookCount &&
                   (VorbisCodebookLibrary[index].uBytes != bits.size() ||
                    std::memcmp(VorbisCodebookLibrary[index].pBits, bits.data(), bits.size()) != 0))
                ++index;
            ASSERT_LT(index, g_uVorbisCodebookCount)
                << rate << " " << channels << " " << quality << " book " << i;
            if (!covered.insert(index).second) continue;
            AuVorbisCodebook book;
            u32 used = 0;
            ASSERT_TRUE(UnpackVorbisCodebook(book, VorbisCodebookLibrary[index], block.data(),
                                             u32(block.size()), used))
                << index;
            const StandardBook& s = standard[i];
            ASSERT_EQ(book.uDims, s.dims) << index;
            ASSERT_EQ(book.uEntries, s.entries) << index;
            EXPECT_TRUE(std::equal(s.lengths.begin(), s.lengths.end(), book.pLengths)) << index;
            ASSERT_EQ(book.pValues != nullptr, !s.values.empty()) << index;
            for (std::size_t v = 0; v < s.values.size(); ++v)
                ASSERT_NEAR(book.pValues[v], s.values[v], 1e-6 * (1 + std::fabs(s.values[v])))
                    << index << " " << v;
        }
    }
    // The table covers the whole library.
    EXPECT_EQ(covered.size(), g_uVorbisCodebookCount);
    EXPECT_LE(g_uVorbisCodebookCount, vorbispack::kMaxLibraryBooks);
}

} // namespace
