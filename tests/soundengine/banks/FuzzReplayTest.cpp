// Replays the chunk-loop fuzz target on its seed corpus in the normal build: the generated game
// banks and a written bank with every chunk kind, whole, cut at many lengths and with bytes
// overwritten, so the target keeps compiling and its inputs stay clean under the sanitizers.
#include "BankTestSupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace banktest {
namespace {

using FuzzReplayTest = BankTest;

std::vector<Bytes> Seeds() {
    const std::filesystem::path banks(TORVIK_SOUNDBANKS_DIR);
    return {ReadWholeFile(banks / "Init.bnk"), ReadWholeFile(banks / "Torvik.bnk"), FullBank()};
}

TEST_F(FuzzReplayTest, WholeBanks) {
    for (const Bytes& seed : Seeds()) {
        ASSERT_GT(seed.size(), 28u);
        EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0);
    }
}

TEST_F(FuzzReplayTest, CutBanks) {
    for (const Bytes& seed : Seeds()) {
        // Every length through the chunk headers at the front, then a spread over the rest.
        for (size_t length = 0; length < seed.size(); length += length < 512 ? 1 : 1 + length / 64) {
            const Bytes cut(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(length));
            LLVMFuzzerTestOneInput(cut.data(), cut.size());
        }
    }
}

TEST_F(FuzzReplayTest, OverwrittenBytes) {
    const Bytes seed = Seeds().front();
    for (size_t at = 0; at < seed.size(); ++at) {
        for (u8 value : {u8{0x00}, u8{0x7F}, u8{0xFF}}) {
            Bytes changed = seed;
            changed[at] = value;
            LLVMFuzzerTestOneInput(changed.data(), changed.size());
        }
    }
}

} // namespace
} // namespace banktest
