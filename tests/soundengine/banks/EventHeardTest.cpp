// The whole road of a posted event, as the game drives it: a bank from memory, the post, the
// audio thread's passes, and the tone read back from the main output's capture file.
#include "BankTestSupport.h"

#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E1;
constexpr u32 kMaster = 0x100;
constexpr u32 kSfxBus = 0x101;
constexpr u32 kSound = 0x200;
constexpr u32 kMedia = 0x201;
constexpr u32 kPlay = 0x300;
constexpr u32 kEvent = 0x400;
constexpr u32 kObject = 10;
constexpr f64 kToneHz = 1000.0;

struct Capture {
    u16 channels = 0;
    u32 rate = 0;
    bool closed = false;
    std::vector<i16> samples;
};

u32 U32(const std::vector<u8>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (u32{b[at + 3]} << 24);
}

// The samples the capture holds so far; `closed` once the stop wrote the sizes.
Capture ReadCapture(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<u8> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Capture capture;
    if (b.size() < 46 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[38], "data", 4) != 0)
        return capture;
    capture.channels = static_cast<u16>(b[22] | (b[23] << 8));
    capture.rate = U32(b, 24);
    const u32 size = U32(b, 42);
    capture.closed = size != 0xFFFFFFFFu;
    const size_t bytes = capture.closed ? std::min<size_t>(size, b.size() - 46) : b.size() - 46;
    capture.samples.resize(bytes / 2);
    if (!capture.samples.empty()) std::memcpy(capture.samples.data(), &b[46], capture.samples.size() * 2);
    return capture;
}

class EventHeardTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings memory{16};
        ASSERT_EQ(AU::MemoryMgr::Init(&memory), AuResultSuccess);
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::filesystem::path(testing::TempDir()) / "torvik_heard" / info->name();
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        ASSERT_EQ(m_io.Init(device), AuResultSuccess);
        ASSERT_EQ(m_io.SetBasePath((m_folder.wstring() + L"/").c_str()), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
        ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    }
    void TearDown() override {
        if (AU::SoundEngine::IsInitialized()) AU::SoundEngine::Term();
        m_io.Term();
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        AU::MemoryMgr::Term();
    }

    // A master bus, a bus below it, a mono 16-bit 48 kHz tone in the bank's data on that bus, its
    // play action and the event.
    static Bytes ToneBank(f64 seconds) {
        bankgen::BankBuilder builder(kBank);
        builder.AddMedia(
            kMedia,
            bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(kToneHz, seconds, 48000, 0.5)}), 1, 48000));
        bankgen::BusRecord master;
        master.id = kMaster;
        builder.Add(master);
        bankgen::BusRecord sfx;
        sfx.id = kSfxBus;
        sfx.parent = kMaster;
        builder.Add(sfx);
        bankgen::SoundRecord sound;
        sound.id = kSound;
        sound.source.plugin = bankgen::kCodecPcm;
        sound.source.sourceId = kMedia;
        sound.source.fromBank = true;
        sound.node.outputBus = kSfxBus;
        builder.Add(sound);
        bankgen::ActionRecord play;
        play.id = kPlay;
        play.type = 0x0403;
        play.target = kSound;
        play.bankId = kBank;
        builder.Add(play);
        builder.Add(bankgen::EventRecord{kEvent, {kPlay}});
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
        return out;
    }

    // Keeps the audio thread going until `done` or two seconds have passed.
    template <class Done> static bool RenderUntil(Done done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            AU::SoundEngine::RenderAudio();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

    CAuDefaultIOHookBlocking m_io;
    std::filesystem::path m_folder;
};

TEST_F(EventHeardTest, APostedEventsToneIsInTheCaptureOnBothChannelsUntilItsSourceEnds) {
    const Bytes image = ToneBank(0.5);
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), AU_INVALID_POOL_ID, id),
              AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"heard.wav"), AuResultSuccess);
    const AuPlayingID playing = AU::SoundEngine::PostEvent(kEvent, kObject);
    ASSERT_NE(playing, 0u);
    const std::filesystem::path file = m_folder / "heard.wav";
    // The half second of tone and a quarter second past its end: 35 frames from its first loud
    // sample.
    ASSERT_TRUE(RenderUntil([&] {
        const Capture c = ReadCapture(file);
        for (size_t i = 0; i < c.samples.size(); ++i)
            if (std::abs(c.samples[i]) > 1000) return c.samples.size() - i >= 2 * 1024 * 35;
        return false;
    })) << "the tone never reached the capture";
    ASSERT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
    ASSERT_TRUE(RenderUntil([&] { return ReadCapture(file).closed; }));

    const Capture c = ReadCapture(file);
    ASSERT_EQ(c.channels, 2);
    ASSERT_EQ(c.rate, 48000u);
    const size_t frames = c.samples.size() / 2;
    size_t first = 0;
    while (first < frames && std::abs(c.samples[2 * first]) <= 1000)
        ++first;
    ASSERT_LT(first + 10 * 1024, frames);
    // Ten frames of tone from its first loud sample: both channels alike, a peak of about half
    // scale times the centre pan's 0.7071, and 1 kHz by its rising zero crossings.
    i32 peak = 0;
    u32 rising = 0;
    for (size_t n = first; n < first + 10 * 1024; ++n) {
        const i16 left = c.samples[2 * n];
        EXPECT_NEAR(left, c.samples[2 * n + 1], 1) << n;
        peak = std::max(peak, std::abs(i32{left}));
        if (n > first && c.samples[2 * (n - 1)] < 0 && left >= 0) ++rising;
    }
    EXPECT_NEAR(peak, 0.5 * 0.7071 * 32767, 0.02 * 0.5 * 0.7071 * 32767);
    // 10240 samples at 48 kHz hold 213.3 periods of 1 kHz.
    EXPECT_NEAR(rising, 10 * 1024 * kToneHz / 48000, 1.5);
    // The source's end leaves silence at the end of the capture.
    ASSERT_GE(frames, 1024u);
    for (size_t n = frames - 1024; n < frames; ++n)
        ASSERT_EQ(c.samples[2 * n], 0) << n;
}

} // namespace
} // namespace banktest
