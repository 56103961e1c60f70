// The Vorbis media the build packed into the game's "Torvik.bnk" decode with the engine's own
// decoder into the tones they were made from: 2 s of 220 Hz (menu music) and 110 Hz (ambience).
#include "../voices/LowerEnginePoolTest.h"
#include "VorbisTestSupport.h"

#include <bankgen/Parse.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

class VorbisGameMediaTest : public voicetest::LowerEnginePoolTest {
protected:
    VorbisGameMediaTest() : LowerEnginePoolTest(32u << 20) {}
};

TEST_F(VorbisGameMediaTest, MenuMusicAndAmbienceAreTheirTones) {
    std::ifstream in(std::string(TORVIK_SOUNDBANKS_DIR) + "/Torvik.bnk", std::ios::binary);
    ASSERT_TRUE(in);
    const bankgen::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bankgen::ParsedBank bank;
    std::string error;
    ASSERT_TRUE(bankgen::ParseBank(file, bank, error)) << error;
    const struct {
        std::uint32_t media;
        double frequency;
    } cases[] = {{0x2004, 220.0}, {0x2007, 110.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.media);
        const auto m = std::find_if(bank.media.begin(), bank.media.end(),
                                    [&](const bankgen::ParsedMedia& p) { return p.id == c.media; });
        ASSERT_NE(m, bank.media.end());
        const auto begin = file.begin() + std::ptrdiff_t(bank.dataOffset + m->offset);
        const vorbispack::Bytes media(begin, begin + std::ptrdiff_t(m->size));
        const std::vector<std::int16_t> pcm = vorbistest::EngineDecode(media);
        ASSERT_EQ(pcm.size(), 96000u);
        // Rising zero crossings count the cycles; the packer's tone has amplitude 0.5.
        int cycles = 0;
        int peak = 0;
        for (size_t i = 1; i < pcm.size(); ++i) {
            cycles += pcm[i - 1] < 0 && pcm[i] >= 0;
            peak = std::max(peak, std::abs(int(pcm[i])));
        }
        EXPECT_NEAR(cycles, c.frequency * 2.0, 2.0);
        EXPECT_NEAR(peak, 16384, 1600);
    }
}

} // namespace
