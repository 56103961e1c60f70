// Set-value actions on a sound heard in the capture: a 1 kHz tone on "Music_Bus" and a 500 Hz
// tone on "SFX_Bus", each band measured frame by frame.
#include "BankTestSupport.h"

#include <AuCaptureFile.h>

#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AU/StreamMgr.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E2;
constexpr u32 kMaster = 0x100;
constexpr u32 kMusicTone = 0x200, kSfxTone = 0x201, kMusicMedia = 0x210, kSfxMedia = 0x211;
constexpr u32 kPlayMusic = 0x300, kPlaySfx = 0x301;
constexpr u32 kPlayEvent = 0x400;
constexpr u32 kObject = 10;
constexpr size_t kFrame = 1024;
constexpr u32 kSetVolume = 0x500, kResetVolume = 0x501, kMuteTone = 0x502;

// The amplitude of one frequency in a block of channel 0, Hann-windowed so that the other tone
// does not leak into it.
f64 Band(const AuCaptureFile& c, size_t frame, f64 hz) {
    f64 re = 0.0, im = 0.0, weight = 0.0;
    for (size_t n = 0; n < kFrame; ++n) {
        const f64 w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * f64(n) / f64(kFrame - 1));
        const f64 x = c.At(frame * kFrame + n, 0) * w;
        const f64 phase = 2.0 * std::numbers::pi * hz * f64(n) / 48000.0;
        re += x * std::cos(phase);
        im += x * std::sin(phase);
        weight += w;
    }
    return 2.0 * std::sqrt(re * re + im * im) / weight;
}

class MuteHeardTest : public RunningEngineTest {
protected:
    MuteHeardTest() : RunningEngineTest("torvik_mute") {}
    void SetUp() override {
        RunningEngineTest::SetUp();
        m_music = AU::SoundEngine::GetIDFromString("Music_Bus");
        m_sfx = AU::SoundEngine::GetIDFromString("SFX_Bus");
    }

    // Two looping tones on the game's two busses, one event playing both, and the set-value
    // events of the music tone.
    Bytes Build() const {
        bankgen::BankBuilder builder(kBank);
        builder.AddMedia(
            kMusicMedia,
            bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(1000.0, 1.0, 48000, 0.25)}), 1, 48000));
        builder.AddMedia(
            kSfxMedia,
            bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(500.0, 1.0, 48000, 0.25)}), 1, 48000));
        bankgen::BusRecord master;
        master.id = kMaster;
        builder.Add(master);
        for (u32 bus : {m_music, m_sfx}) {
            bankgen::BusRecord record;
            record.id = bus;
            record.parent = kMaster;
            builder.Add(record);
        }
        const u32 tones[2][3] = {{kMusicTone, kMusicMedia, m_music}, {kSfxTone, kSfxMedia, m_sfx}};
        for (const auto& tone : tones) {
            bankgen::SoundRecord sound;
            sound.id = tone[0];
            sound.source.plugin = bankgen::kCodecPcm;
            sound.source.sourceId = tone[1];
            sound.source.fromBank = true;
            sound.node.outputBus = tone[2];
            sound.node.props.push_back(bankgen::PropI(58, 0)); // loops for ever
            builder.Add(sound);
        }
        for (auto [id, target] : {std::pair{kPlayMusic, kMusicTone}, std::pair{kPlaySfx, kSfxTone}}) {
            bankgen::ActionRecord play;
            play.id = id;
            play.type = 0x0403;
            play.target = target;
            play.bankId = kBank;
            builder.Add(play);
        }
        builder.Add(bankgen::EventRecord{kPlayEvent, {kPlayMusic, kPlaySfx}});
        u32 actionID = 0x310;
        // On the music tone itself: -6 dB for every object and its reset, a mute over 200 ms.
        const u32 soundActions[3][3] = {
            {kSetVolume, 0x0A02, 0}, {kResetVolume, 0x0B02, 0}, {kMuteTone, 0x0602, 200}};
        for (const auto& entry : soundActions) {
            bankgen::ActionRecord action;
            action.id = actionID++;
            action.type = static_cast<u16>(entry[1]);
            action.target = kMusicTone;
            action.base = -6.0f;
            action.valueMeaning = 0;
            if (entry[2]) action.props.push_back(bankgen::PropI(15, static_cast<i32>(entry[2])));
            builder.Add(action);
            builder.Add(bankgen::EventRecord{entry[0], {action.id}});
        }
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
        return out;
    }
    void Load() {
        m_image = Build();
        AuBankID id = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank(m_image.data(), static_cast<u32>(m_image.size()),
                                            AU_INVALID_POOL_ID, id),
                  AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"mute.wav"), AuResultSuccess);
    }
    AuCaptureFile Capture() const { return AuCaptureFile::Read(m_folder / "mute.wav"); }
    // Renders until the capture holds `frames` more blocks; the first block of them.
    size_t Render(size_t frames) const {
        const size_t from = Capture().Frames() / kFrame;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Capture().Frames() / kFrame < from + frames && std::chrono::steady_clock::now() < until) {
            AU::SoundEngine::RenderAudio();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return from;
    }
    void Post(u32 event) const { ASSERT_NE(AU::SoundEngine::PostEvent(event, kObject), 0u); }

    Bytes m_image;
    u32 m_music = 0, m_sfx = 0;
};

TEST_F(MuteHeardTest, MinusSixDecibelsOnASoundHalvesItsBandAndTheResetRestoresIt) {
    Load();
    Post(kPlayEvent);
    const size_t start = Render(10);
    Post(kSetVolume);
    const size_t lowered = Render(10);
    Post(kResetVolume);
    const size_t back = Render(10);
    ASSERT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
    const AuCaptureFile c = Capture();
    ASSERT_GE(c.Frames() / kFrame, back + 8);
    const f64 music = Band(c, start + 6, 1000.0), sfx = Band(c, start + 6, 500.0);
    ASSERT_GT(music, 1000.0);
    EXPECT_NEAR(Band(c, lowered + 6, 1000.0), 0.5 * music, 0.005 * music) << "-6 dB";
    EXPECT_NEAR(Band(c, lowered + 6, 500.0), sfx, 0.005 * sfx) << "the other sound is untouched";
    EXPECT_NEAR(Band(c, back + 6, 1000.0), music, 0.005 * music) << "reset";
}

TEST_F(MuteHeardTest, AMuteOfASoundWithAFadeFallsOverTenFrames) {
    Load();
    Post(kPlayEvent);
    const size_t start = Render(8);
    Post(kMuteTone);
    Render(20);
    ASSERT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
    const AuCaptureFile c = Capture();
    const f64 music = Band(c, start + 5, 1000.0), sfx = Band(c, start + 5, 500.0);
    ASSERT_GT(music, 1000.0);
    size_t first = start + 5;
    while (first < start + 20 && Band(c, first, 1000.0) > 0.98 * music)
        ++first;
    ASSERT_LT(first, start + 20) << "the fade began";
    f64 previous = music;
    for (size_t f = first; f < first + 8; ++f) {
        const f64 now = Band(c, f, 1000.0);
        EXPECT_LT(now, previous) << f;
        previous = now;
    }
    EXPECT_LT(Band(c, first + 11, 1000.0), 0.005 * music) << "silent once the 200 ms are over";
    EXPECT_NEAR(Band(c, first + 11, 500.0), sfx, 0.005 * sfx);
}

} // namespace
} // namespace banktest
