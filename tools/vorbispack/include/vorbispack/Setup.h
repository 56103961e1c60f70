// The standard Vorbis set-up header read field by field and rewritten in the engine's compact
// form. Linked by the codebook harvester (which must not depend on the engine) and the packer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorbispack {

// Least-significant bit first, as Vorbis packs its packets. Reads past the end give zero bits
// and set `eop`.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint32_t Read(int bits);
    bool Eop() const { return m_eop; }
    std::size_t BitPosition() const { return m_bit; }
    std::size_t BitSize() const { return m_size * 8; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_bit = 0;
    bool m_eop = false;
};

class BitWriter {
public:
    void Write(std::uint32_t value, int bits);
    // Copies `bits` bits from the reader.
    void Copy(BitReader& reader, std::size_t bits);
    void Append(const BitWriter& other);
    std::size_t BitSize() const { return m_bit; }
    // The bytes, the last padded with zero bits.
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_bit = 0;
};

// Bits needed to hold v (0 for 0).
int ILog(std::uint32_t v);

struct StandardSetup {
    // Each codebook in the compact codebook format, as padded bytes.
    std::vector<std::vector<std::uint8_t>> compactBooks;
    // Floors, residues, mappings and modes already in compact form.
    BitWriter tail;
    std::vector<bool> modeBlockFlags;
};

// Reads the third header packet of a standard stream for `channels` channels. False with a
// reason for anything the compact form cannot carry (lookup type 2, more than 15 dimensions or
// 16383 entries, residue type 0, more than 2 modes, other floor or mapping types) or a packet
// that ends early.
bool ReadStandardSetup(const std::uint8_t* packet, std::size_t size, int channels, StandardSetup& out,
                       std::string& error);

// The compact set-up: the codebook count, one 10-bit library index per codebook, the tail.
std::vector<std::uint8_t> WriteCompactSetup(const StandardSetup& setup,
                                            const std::vector<std::uint16_t>& indices);

// The encoder settings whose set-ups make the codebook library, in harvesting order.
struct HarvestSetting {
    long rate;
    int channels;
    float quality;
};
std::vector<HarvestSetting> HarvestMatrix();

// The 10-bit index field bounds the library.
constexpr std::size_t kMaxLibraryBooks = 599;

} // namespace vorbispack
