// Replays the media fuzz target on generated media in the normal build: valid PCM and ADPCM files
// with every optional chunk, the malformed variants, each cut at every length and with each of
// its words overwritten by large values. Nothing reads outside the media (the sanitizers), every
// result is one the sources may give, and every block taken is given back.
#include "LowerEnginePoolTest.h"
#include "fuzz/MediaFuzz.h"

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <set>

namespace {

using bankgen::Bytes;

class MediaFuzzReplayTest : public voicetest::LowerEnginePoolTest {
protected:
    void Check(const Bytes& input, const std::string& what) {
        static const std::set<AURESULT> allowed = {AuResultSuccess, AuResultFail, AuResultBadHeader,
                                                   AuResultTruncatedChunk, AuResultInvalidParameter};
        for (AURESULT result : voicetest::ReadMediaEveryWay(input.data(), input.size()))
            EXPECT_TRUE(allowed.count(result)) << what << ": " << result;
        EXPECT_EQ(Used(), m_usedAtStart) << what;
    }
};

std::vector<Bytes> Seeds() {
    const std::vector<float> a = bankgen::Chirp(100, 3000, 0.01, 48000, 0.5);
    const std::vector<float> b = bankgen::Noise(9, u32(a.size()), 0.3);
    bankgen::WaveOptions o;
    o.cues = {{1, 10, "a"}, {2, 200, "bb"}};
    o.loop = true, o.loopStart = 64, o.loopEnd = 300;
    o.hasEnvelope = true, o.envelope = {{0, 3}, {100, 9}};
    std::vector<Bytes> seeds = {bankgen::MakePcmWave(bankgen::ToPcm16({a, b}), 2, 48000, o),
                                bankgen::MakeAdpcmWave(bankgen::ToPcm16({a}), 1, 48000, o)};
    for (int k = 0; k < int(bankgen::Malformed::Count); ++k)
        seeds.push_back(bankgen::MakeMalformed(bankgen::Malformed(k)));
    return seeds;
}

TEST_F(MediaFuzzReplayTest, SeedsWholeCutAndOverwritten) {
    int n = 0;
    for (const Bytes& seed : Seeds()) {
        const std::string name = "seed " + std::to_string(n++);
        Check(seed, name);
        for (size_t cut = 0; cut < seed.size() && cut < 200; ++cut)
            Check(Bytes(seed.begin(), seed.begin() + cut), name + " cut at " + std::to_string(cut));
        for (size_t at = 4; at + 4 <= seed.size() && at < 160; at += 2) {
            for (u32 value : {0xFFFFFFFFu, 0x7FFFFFF0u, 0x10001u}) {
                Bytes damaged = seed;
                for (int i = 0; i < 4; ++i)
                    damaged[at + i] = u8(value >> (8 * i));
                Check(damaged, name + " word at " + std::to_string(at));
            }
        }
    }
}

} // namespace
