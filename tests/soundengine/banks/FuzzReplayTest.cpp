// Replays the chunk-loop fuzz target on its seed corpus in the normal build: the generated game
// banks and a written bank with every chunk kind, whole, cut at many lengths and with chunk sizes
// overwritten. Every read gives back the memory it took, and a damaged bank is never reported as
// a complete load.
#include "AuLogCapture.h"
#include "BankTestSupport.h"
#include "fuzz/BankChunksFuzz.h"

#include <cstddef>
#include <cstdint>
#include <set>

namespace banktest {
namespace {

class FuzzReplayTest : public BankTest {
protected:
    AuLogCapture m_log; // the refusals' reasons, kept off the console
    // Every way of reading the input, and the memory check after them.
    std::vector<AURESULT> Read(const Bytes& input, const std::string& what) {
        const std::vector<AURESULT> results = ReadBankEveryWay(input.data(), input.size());
        EXPECT_EQ(Used(), m_usedAtStart) << what << ": memory not given back";
        return results;
    }
};

std::vector<Bytes> Seeds() {
    const std::filesystem::path banks(TORVIK_SOUNDBANKS_DIR);
    return {ReadWholeFile(banks / "Init.bnk"), ReadWholeFile(banks / "Torvik.bnk"), FullBank()};
}

u32 U32At(const Bytes& bytes, size_t at) {
    return u32(bytes[at]) | u32(bytes[at + 1]) << 8 | u32(bytes[at + 2]) << 16 | u32(bytes[at + 3]) << 24;
}

// Where each chunk starts; the last entry is the bank's end.
std::vector<size_t> ChunkStarts(const Bytes& bank) {
    std::vector<size_t> starts{0};
    while (starts.back() + 8 <= bank.size())
        starts.push_back(starts.back() + 8 + U32At(bank, starts.back() + 4));
    return starts;
}

TEST_F(FuzzReplayTest, WholeBanksLoadEveryWay) {
    for (const Bytes& seed : Seeds()) {
        ASSERT_GT(seed.size(), 28u);
        for (AURESULT result : Read(seed, "whole bank"))
            EXPECT_EQ(result, AuResultSuccess);
    }
}

// A bank cut anywhere but between two chunks is never a complete load.
TEST_F(FuzzReplayTest, CutBanksAreRefused) {
    for (const Bytes& seed : Seeds()) {
        const std::vector<size_t> starts = ChunkStarts(seed);
        ASSERT_EQ(starts.back(), seed.size());
        const std::set<size_t> boundaries(starts.begin() + 1, starts.end());
        // Every length through the chunk headers at the front, then a spread over the rest.
        for (size_t length = 0; length < seed.size(); length += length < 512 ? 1 : 1 + length / 64) {
            const Bytes cut(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(length));
            const std::string what = "cut at " + std::to_string(length);
            for (AURESULT result : Read(cut, what)) {
                if (!boundaries.contains(length)) {
                    EXPECT_NE(result, AuResultSuccess) << what;
                }
            }
        }
    }
}

// A chunk whose size is overwritten to reach past the bank's end is refused every way; any other
// overwritten byte may still make a readable bank, but never leaks or reads out of bounds.
TEST_F(FuzzReplayTest, OverwrittenBytes) {
    const Bytes seed = Seeds().front();
    const std::vector<size_t> starts = ChunkStarts(seed);
    for (size_t at = 0; at < seed.size(); ++at) {
        for (u8 value : {u8{0x00}, u8{0x7F}, u8{0xFF}}) {
            Bytes changed = seed;
            changed[at] = value;
            const std::string what = "byte " + std::to_string(at) + " = " + std::to_string(value);
            bool pastTheEnd = false;
            for (size_t i = 0; i + 1 < starts.size(); ++i) {
                const size_t start = starts[i];
                if (at >= start + 4 && at < start + 8)
                    pastTheEnd = start + 8 + U32At(changed, start + 4) > changed.size();
            }
            for (AURESULT result : Read(changed, what)) {
                if (pastTheEnd) {
                    EXPECT_NE(result, AuResultSuccess) << what;
                }
            }
        }
    }
}

} // namespace
} // namespace banktest
