// The Vorbis media the build packed into the game's "Torvik.bnk" decode with the engine's own
// decoder into the 4 s loops their scores make: the menu music over its root at 220 Hz, the
// ambience over its drone at 110 Hz, each running from its end into its start without a click.
#include "../voices/LowerEnginePoolTest.h"
#include "VorbisTestSupport.h"

#include <HannToneLevel.h>

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

// The largest second difference of the loop played twice, from `from` to `to` of the first pass.
double LargestKink(const std::vector<double>& twice, std::size_t from, std::size_t to) {
    double kink = 0;
    for (std::size_t n = std::max<std::size_t>(from, 1); n + 1 < to; ++n)
        kink = std::max(kink, std::abs(twice[n + 1] - 2 * twice[n] + twice[n - 1]));
    return kink;
}

TEST_F(VorbisGameMediaTest, MenuMusicAndAmbienceAreTheirLoops) {
    std::ifstream in(std::string(TORVIK_SOUNDBANKS_DIR) + "/Torvik.bnk", std::ios::binary);
    ASSERT_TRUE(in);
    const bankgen::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bankgen::ParsedBank bank;
    std::string error;
    ASSERT_TRUE(bankgen::ParseBank(file, bank, error)) << error;
    const struct {
        std::uint32_t media;
        double line, level;
    } cases[] = {{0x2004, 220.0, 0.13}, {0x2007, 110.0, 0.14}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.media);
        const auto m = std::find_if(bank.media.begin(), bank.media.end(),
                                    [&](const bankgen::ParsedMedia& p) { return p.id == c.media; });
        ASSERT_NE(m, bank.media.end());
        const auto begin = file.begin() + std::ptrdiff_t(bank.dataOffset + m->offset);
        const vorbispack::Bytes media(begin, begin + std::ptrdiff_t(m->size));
        const std::vector<std::int16_t> pcm = vorbistest::EngineDecode(media);
        ASSERT_EQ(pcm.size(), 192000u);
        std::vector<double> twice;
        for (int pass = 0; pass < 2; ++pass)
            for (std::int16_t s : pcm)
                twice.push_back(s / 32768.0);
        // Its line, held through the loop (the ambience's with the rumble round it).
        for (std::size_t at = 0; at + 8192 <= pcm.size(); at += 48000)
            EXPECT_NEAR(HannToneLevel(twice, at, c.line, 8192, 48000.0), c.level, 0.35 * c.level) << at;
        // From its end into its start no sharper than anywhere within it.
        const double within = LargestKink(twice, 1, pcm.size() - 480);
        const double seam = LargestKink(twice, pcm.size() - 480, pcm.size() + 480);
        EXPECT_LT(seam, 1.5 * within);
    }
}

} // namespace
