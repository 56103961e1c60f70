#include "voices/AuRiffHeader.h"

#include "LowerEnginePoolTest.h"
#include "VoiceTestSupport.h"

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using bankgen::Bytes;
using bankgen::Malformed;

class RiffHeaderTest : public voicetest::LowerEnginePoolTest {
protected:
    // Parses a copy of exactly `media`'s bytes, so that ASan sees any read past them.
    AURESULT Parse(const Bytes& media, CAuCuePointList* cues = nullptr) {
        std::vector<u8> exact(media.begin(), media.end());
        const u8* data = exact.empty() ? reinterpret_cast<const u8*>("") : exact.data();
        AURESULT result = ParseRiffHeader(data, u32(exact.size()), format, cues, loopStart, loopEnd, dataSize,
                                          dataOffset, &analysis, &seek);
        // Pointers into the copy are not used after it goes.
        format = {}, analysis = {}, seek = {};
        return result;
    }
    AuRiffChunk format, analysis, seek;
    u32 loopStart = 99, loopEnd = 99, dataSize = 0, dataOffset = 0;
};

std::vector<i16> Stereo(u32 frames) {
    const std::vector<float> s = bankgen::Sine(440, frames / 8000.0, 8000, 0.5);
    return bankgen::ToPcm16({s, s});
}

TEST_F(RiffHeaderTest, EveryVariantGivesItsResultAndNeverReadsOutside) {
    struct Case {
        Malformed kind;
        AURESULT expected;
    };
    const Case cases[] = {
        {Malformed::Truncated11, AuResultBadHeader},
        {Malformed::Truncated12, AuResultTruncatedChunk},
        {Malformed::Truncated19, AuResultTruncatedChunk},
        {Malformed::BadMagic, AuResultBadHeader},
        {Malformed::BadForm, AuResultBadHeader},
        {Malformed::CueBeforeFmt, AuResultBadHeader},
        {Malformed::MissingFmt, AuResultBadHeader},
        {Malformed::OversizeChunk, AuResultTruncatedChunk},
        {Malformed::OddChunkNonZeroPad, AuResultSuccess}, // "fmt " follows the odd chunk directly
        {Malformed::HugeCueCount, AuResultBadHeader},
        {Malformed::HugeAudCount, AuResultSuccess},          // kept; the source checks the count
        {Malformed::LablSizeBelow4, AuResultTruncatedChunk}, // the next chunk starts inside the text
        {Malformed::SmplLoopOutside, AuResultSuccess},       // the loop record is dropped
        {Malformed::StepIndex200, AuResultSuccess},
        {Malformed::BlockAlignZero, AuResultSuccess},
        {Malformed::RateZero, AuResultSuccess},
        {Malformed::ChannelsZero, AuResultSuccess},
        {Malformed::Pcm32Bit, AuResultSuccess},
        {Malformed::PartialAdpcmBlock, AuResultSuccess},
        {Malformed::LoopEndBelowStart, AuResultSuccess},
        {Malformed::LoopPastEnd, AuResultSuccess},
        {Malformed::TrailingBytes, AuResultSuccess},
    };
    static_assert(std::size(cases) == size_t(Malformed::Count));
    for (const Case& c : cases) {
        CAuCuePointList cues;
        EXPECT_EQ(Parse(bankgen::MakeMalformed(c.kind), &cues), c.expected) << bankgen::MalformedName(c.kind);
        if (c.kind == Malformed::SmplLoopOutside) {
            EXPECT_EQ(loopEnd, 0u);
        }
    }
    EXPECT_EQ(ParseRiffHeader(nullptr, 100, format, nullptr, loopStart, loopEnd, dataSize, dataOffset,
                              nullptr, nullptr),
              AuResultInvalidParameter);
    EXPECT_EQ(Parse({}), AuResultInvalidParameter);
}

TEST_F(RiffHeaderTest, EveryCutOfAFullFileIsRefusedOrParsedWithinIt) {
    bankgen::WaveOptions o;
    o.cues = {{1, 10, "one"}, {2, 20, "three"}};
    o.loop = true, o.loopStart = 5, o.loopEnd = 60;
    o.hasEnvelope = true, o.envelope = {{0, 1}, {50, 2}};
    const Bytes full = bankgen::MakePcmWave(Stereo(100), 2, 8000, o);
    ASSERT_EQ(Parse(full), AuResultSuccess);
    const size_t start = dataOffset;
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        CAuCuePointList cues;
        const AURESULT result = Parse(Bytes(full.begin(), full.begin() + cut), &cues);
        // Only a cut inside "data" parses: the chunk may run past what was given.
        EXPECT_EQ(result == AuResultSuccess, cut >= start) << cut;
        EXPECT_TRUE(result == AuResultSuccess || result == AuResultBadHeader ||
                    result == AuResultTruncatedChunk || result == AuResultInvalidParameter)
            << cut;
    }
}

TEST_F(RiffHeaderTest, AFullFileGivesItsChunks) {
    bankgen::WaveOptions o;
    o.cues = {{7, 10, "one"}, {9, 20, ""}, {8, 30, "three"}};
    o.loop = true, o.loopStart = 5, o.loopEnd = 60;
    o.hasEnvelope = true, o.envelope = {{0, 1}, {50, 2}};
    const Bytes full = bankgen::MakeAdpcmWave(Stereo(128), 2, 8000, o);
    CAuCuePointList cues;
    AuRiffChunk fmt;
    ASSERT_EQ(ParseRiffHeader(full.data(), u32(full.size()), fmt, &cues, loopStart, loopEnd, dataSize,
                              dataOffset, &analysis, &seek),
              AuResultSuccess);
    AuWaveFormat wave;
    ASSERT_TRUE(ReadWaveFormat(fmt, wave));
    EXPECT_EQ(wave.uTag, 2);
    EXPECT_EQ(wave.uChannels, 2);
    EXPECT_EQ(wave.uBlockAlign, 72);
    EXPECT_EQ(wave.uChannelMask, 0x3u);
    EXPECT_EQ(loopStart, 5u);
    EXPECT_EQ(loopEnd, 60u);
    EXPECT_EQ(dataSize, 144u);
    EXPECT_EQ(dataOffset + dataSize, full.size());
    EXPECT_EQ(analysis.uSize, 16u + 12u);
    EXPECT_EQ(seek.pData, nullptr);
    ASSERT_EQ(cues.Count(), 3u);
    EXPECT_EQ(cues[0].uID, 7u);
    EXPECT_STREQ(cues[0].pLabel, "one");
    EXPECT_EQ(cues[1].pLabel, nullptr);
    EXPECT_STREQ(cues[2].pLabel, "three");
    EXPECT_EQ(cues[2].uPosition, 30u);
    // The nearest point; a tie takes the earlier one in the list.
    EXPECT_EQ(cues.FindNearest(15)->uID, 7u);
    EXPECT_EQ(cues.FindNearest(26)->uID, 8u);
    EXPECT_EQ(cues.FindNearest(0)->uID, 7u);
    cues.Free();
    EXPECT_EQ(cues.FindNearest(15), nullptr);
    EXPECT_EQ(Used(), m_usedAtStart);
}

} // namespace
