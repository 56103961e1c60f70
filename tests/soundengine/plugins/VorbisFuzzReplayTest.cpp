// Replays the Vorbis fuzz target on packed media in the normal build: whole, cut at many lengths,
// with header words overwritten and with bytes of the set-up and the packets flipped. Nothing
// reads outside the media (the sanitizers), every result is one the source may give, and every
// block taken is given back.
#include "../voices/LowerEnginePoolTest.h"
#include "VorbisTestSupport.h"
#include "fuzz/VorbisFuzz.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using vorbispack::Bytes;

class VorbisFuzzReplayTest : public voicetest::LowerEnginePoolTest {
protected:
    VorbisFuzzReplayTest() : LowerEnginePoolTest(32u << 20) {}
    void Check(const Bytes& input, const std::string& what) {
        static const std::set<AURESULT> allowed = {
            AuResultSuccess,          AuResultFail,       AuResultBadHeader, AuResultTruncatedChunk,
            AuResultInvalidParameter, AuResultNoMoreData, AuResultNoMemory};
        for (AURESULT result : vorbistest::PlayVorbisEveryWay(input.data(), input.size()))
            EXPECT_TRUE(allowed.count(result)) << what << ": " << result;
        EXPECT_EQ(VorbisSetupCache::Count(), 0u) << what;
        EXPECT_EQ(Used(), m_usedAtStart) << what;
    }
};

TEST_F(VorbisFuzzReplayTest, PackedMediaWholeCutAndDamaged) {
    vorbispack::PackOptions loop;
    loop.loop = true, loop.loopStart = 3000, loop.loopEnd = 9000;
    const Bytes seeds[] = {vorbistest::Make(1, 22050, 0.0f, 0.5).media,
                           vorbistest::Make(2, 48000, 0.4f, 0.3, loop).media};
    int n = 0;
    for (const Bytes& seed : seeds) {
        const std::string name = "seed " + std::to_string(n++);
        const auto v = vorbistest::View(seed);
        Check(seed, name);
        for (size_t cut = 0; cut < seed.size(); cut += cut < 200 ? 1 : 197)
            Check(Bytes(seed.begin(), seed.begin() + std::ptrdiff_t(cut)),
                  name + " cut at " + std::to_string(cut));
        for (size_t at = 4; at + 4 <= v.dataOffset + 8; at += 2)
            for (u32 value : {0xFFFFFFFFu, 0x7FFFFFF0u, 0x10001u, 0u}) {
                Bytes damaged = seed;
                for (int i = 0; i < 4; ++i)
                    damaged[at + size_t(i)] = u8(value >> (8 * i));
                Check(damaged, name + " word at " + std::to_string(at));
            }
        // The set-up and the packets: each byte of the set-up and every 41st after it.
        for (size_t at = v.dataOffset + v.seekSize; at < seed.size();
             at += at < v.dataOffset + v.firstPacket ? 1 : 41)
            for (u8 mask : {u8(0x01), u8(0x80), u8(0xFF)}) {
                Bytes damaged = seed;
                damaged[at] ^= mask;
                Check(damaged, name + " byte at " + std::to_string(at));
            }
    }
}

} // namespace
