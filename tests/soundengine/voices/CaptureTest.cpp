#include "AuLogCapture.h"
#include "VoiceTestSupport.h"

#include <sndfile.h>

using namespace voicetest;

namespace {

constexpr u32 kFrame = AU_DEFAULT_SAMPLES_PER_FRAME;

class CaptureTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        InitLowerEngine();
    }

    static void RenderFrames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            CAuLowerEngine::Perform(i);
    }

    CaptureFile Read(const char* name) const { return CaptureFile::Read(m_folder / name); }

    // Frames and channels as libsndfile sees the file; -1 when it cannot open it.
    std::pair<i64, int> OpenWithSndfile(const char* name) const {
        SF_INFO info{};
        SNDFILE* file = sf_open((m_folder / name).c_str(), SFM_READ, &info);
        if (!file) return {-1, 0};
        std::vector<short> samples(static_cast<size_t>(info.frames * info.channels));
        const sf_count_t read = sf_readf_short(file, samples.data(), info.frames);
        sf_close(file);
        return {read == info.frames ? info.frames : -2, info.channels};
    }
};

std::vector<u8> GoldenStereoHeader(u32 dataBytes) {
    std::vector<u8> header;
    // Reserved up front: g++ 12 under ThreadSanitizer otherwise sees an overflow in the first insert.
    header.reserve(46);
    auto tag = [&](const char* t) { header.insert(header.end(), t, t + 4); };
    auto u32le = [&](u32 v) {
        for (int i = 0; i < 4; ++i)
            header.push_back(static_cast<u8>(v >> (8 * i)));
    };
    auto u16le = [&](u16 v) {
        header.push_back(static_cast<u8>(v));
        header.push_back(static_cast<u8>(v >> 8));
    };
    tag("RIFF");
    u32le(38 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    u32le(18);
    u16le(1);
    u16le(2);
    u32le(48000);
    u32le(192000);
    u16le(4);
    u16le(16);
    u16le(0);
    tag("data");
    u32le(dataBytes);
    return header;
}

} // namespace

TEST(CaptureNameTest, TheDigitGoesAtTheLastDotOrInFront) {
    const AuMemoryMgrSettings settings{4};
    ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    const struct {
        const wchar_t* given;
        std::wstring first;
        std::wstring second;
    } cases[] = {
        {L"out.wav", L"out1.wav", L"out2.wav"},
        {L"capture", L"1capture", L"2capture"},
        {L"a.b.wav", L"a.b1.wav", L"a.b2.wav"},
        {L".wav", L"1.wav", L"2.wav"},
        {L"x", L"1x", L"2x"},
        {L"dir.d/take", L"dir1.d/take", L"dir2.d/take"},
    };
    for (const auto& c : cases) {
        AuCaptureName name;
        ASSERT_TRUE(name.Make(c.given));
        EXPECT_EQ(std::wstring(name.Next()), c.first);
        EXPECT_EQ(std::wstring(name.Next()), c.second);
        name.Free();
    }
    AU::MemoryMgr::Term();
    g_DefaultPoolId = -1;
}

TEST_F(CaptureTest, EveryDeviceWritesItsOwnFileOfWholeFrames) {
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 8, 2, 0, 0), AuResultSuccess);
    CAuLowerEngine::StartOutputCapture(L"out.wav");
    EXPECT_TRUE(CAuLowerEngine::IsCapturing());
    RenderFrames(5);
    CAuLowerEngine::StopOutputCapture();
    EXPECT_FALSE(CAuLowerEngine::IsCapturing());

    for (const char* name : {"out.wav", "out1.wav", "out2.wav"}) {
        const CaptureFile file = Read(name);
        ASSERT_TRUE(file.valid) << name;
        EXPECT_EQ(file.dataSize, 5 * kFrame * 2 * 2) << name;
        EXPECT_EQ(file.bytes.size(), 46 + file.dataSize) << name;
        EXPECT_EQ(std::vector<u8>(file.bytes.begin(), file.bytes.begin() + 46),
                  GoldenStereoHeader(file.dataSize))
            << name;
        EXPECT_TRUE(file.cues.empty());
        EXPECT_EQ(OpenWithSndfile(name), (std::pair<i64, int>{5 * kFrame, 2})) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder / "out0.wav"));
}

TEST_F(CaptureTest, WhatTheDeviceMixesIsWhatTheFileHolds) {
    TestBuffer tone(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), kFrame);
    for (u32 i = 0; i < kFrame; ++i) {
        tone.buffer.GetChannel(0)[i] = (i % 2) ? 0.5f : -0.5f;
        tone.buffer.GetChannel(1)[i] = 0.25f;
    }
    CAuLowerEngine::StartOutputCapture(L"tone.wav");
    CAuLowerEngine::Perform(0);
    CAuLowerEngine::MixBusIntoDevice(16, 0, tone.buffer);
    CAuLowerEngine::MixBusIntoDevice(16, 0, tone.buffer);
    CAuLowerEngine::Perform(1);
    CAuLowerEngine::Perform(2);
    CAuLowerEngine::StopOutputCapture();
    const CaptureFile file = Read("tone.wav");
    ASSERT_TRUE(file.valid);
    ASSERT_EQ(file.samples.size(), 3u * kFrame * 2);
    EXPECT_EQ(file.samples[0], 0) << "the first frame was silent";
    EXPECT_EQ(file.samples[2 * kFrame - 1], 0);
    // Both busses are heard: twice the tone (each half is 16383.5, rounded to even 16384), limited.
    EXPECT_EQ(file.samples[2 * kFrame + 0], -32768);
    EXPECT_EQ(file.samples[2 * kFrame + 2], 32767);
    EXPECT_EQ(file.samples[2 * kFrame + 1], 16384);
    EXPECT_EQ(file.samples[4 * kFrame], 0) << "and the next frame is silent again";
}

TEST_F(CaptureTest, MarkersOfOneFrameShareACuePointAndOddLabelsArePadded) {
    CAuLowerEngine::StartOutputCapture(L"marks.wav");
    CAuLowerEngine::AddOutputCaptureMarker("a");
    CAuLowerEngine::AddOutputCaptureMarker("b");
    RenderFrames(2);
    CAuLowerEngine::AddOutputCaptureMarker("hit");
    RenderFrames(1);
    CAuLowerEngine::StopOutputCapture();

    const CaptureFile file = Read("marks.wav");
    ASSERT_TRUE(file.valid);
    ASSERT_EQ(file.cues.size(), 2u);
    EXPECT_EQ(file.cues[0].id, 1u);
    EXPECT_EQ(file.cues[0].position, 0u);
    EXPECT_EQ(file.cues[1].id, 2u);
    EXPECT_EQ(file.cues[1].position, 2 * kFrame);
    ASSERT_EQ(file.labels.size(), 2u);
    EXPECT_EQ(file.labels[0].text, "ab");
    EXPECT_EQ(file.labels[1].text, "hit");
    // "ab" with its zero is 3 bytes and takes a pad byte; "hit" is 4.
    EXPECT_EQ(file.listSize, 4u + (12 + 3 + 1) + (12 + 4));
    const u32 trailing = (8 + 4 + 2 * 24) + (8 + file.listSize);
    EXPECT_EQ(file.riffSize, 38 + file.dataSize + trailing);
    EXPECT_EQ(file.bytes.size(), 8 + file.riffSize);
    EXPECT_EQ(OpenWithSndfile("marks.wav"), (std::pair<i64, int>{3 * kFrame, 2}));
}

TEST_F(CaptureTest, ADeviceAddedDuringACaptureTakesTheNextDigit) {
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    CAuLowerEngine::StartOutputCapture(L"capture");
    RenderFrames(1);
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 2, 0, 0), AuResultSuccess);
    RenderFrames(2);
    CAuLowerEngine::StopOutputCapture();
    EXPECT_EQ(Read("capture").dataSize, 3 * kFrame * 4);
    EXPECT_EQ(Read("1capture").dataSize, 3 * kFrame * 4);
    EXPECT_EQ(Read("2capture").dataSize, 2 * kFrame * 4);

    CAuLowerEngine::StartOutputCapture(L"x");
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 3, 0, 0), AuResultSuccess);
    RenderFrames(1);
    CAuLowerEngine::StopOutputCapture();
    for (const char* name : {"x", "1x", "2x", "3x"})
        EXPECT_EQ(Read(name).dataSize, kFrame * 4) << name;
}

TEST_F(CaptureTest, ASecondStartAndAnEmptyNameAreIgnored) {
    CAuLowerEngine::StartOutputCapture(L"");
    EXPECT_FALSE(CAuLowerEngine::IsCapturing());
    CAuLowerEngine::AddOutputCaptureMarker("nobody hears this");
    CAuLowerEngine::StartOutputCapture(L"first.wav");
    CAuLowerEngine::StartOutputCapture(L"second.wav");
    RenderFrames(1);
    CAuLowerEngine::StopOutputCapture();
    CAuLowerEngine::StopOutputCapture();
    EXPECT_EQ(Read("first.wav").dataSize, kFrame * 4);
    EXPECT_FALSE(std::filesystem::exists(m_folder / "second.wav"));
}

TEST_F(CaptureTest, AFileThatCannotBeOpenedLeavesTheDeviceWithoutCapture) {
    const u32 usedBefore = Used();
    AuLogCapture log;
    CAuLowerEngine::StartOutputCapture(L"missing/folder/out.wav");
    EXPECT_NE(log.Text().find("cannot be written"), std::string::npos);
    EXPECT_EQ(CAuLowerEngine::Devices()->pCaptureWriter, nullptr);
    CAuLowerEngine::AddOutputCaptureMarker("x");
    RenderFrames(2);
    CAuLowerEngine::StopOutputCapture();
    EXPECT_EQ(Used(), usedBefore) << "nothing of the failed capture stays";
}
