// Modulators heard in the capture: a looping 1 kHz tone whose volume a 2 Hz LFO or an envelope
// drives through the sound's volume curve, with the game's busses from bankgen's Init bank.
#include "BankTestSupport.h"

#include <AuCaptureFile.h>

#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>
#include <vector>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E3;
constexpr u32 kTremolo = 0x200, kShaped = 0x201, kMedia = 0x210;
constexpr u32 kLfo = 0x800, kEnvelope = 0x801;
constexpr u32 kPlayTremolo = 0x400, kPlayShaped = 0x401, kRelease = 0x402;
constexpr u32 kObject = 10;
// 10 ms at 48 kHz.
constexpr size_t kWindow = 480;

// The volume follows the modulator from -96 dB at 0 to 0 dB at 1.
bankgen::RtpcCurve VolumeFrom(u32 modulator) {
    bankgen::RtpcCurve curve;
    curve.gameParameter = modulator;
    curve.drivingType = 2;
    curve.target = 0;
    curve.curveId = 1;
    curve.points = {bankgen::CurvePoint{0.0f, -96.0f, 4}, bankgen::CurvePoint{1.0f, 0.0f, 4}};
    return curve;
}

f64 Rms(const AuCaptureFile& c, size_t from) {
    f64 sum = 0.0;
    for (size_t n = from; n < from + kWindow; ++n)
        sum += f64(c.At(n, 0)) * c.At(n, 0);
    return std::sqrt(sum / kWindow);
}

class ModulatorHeardTest : public RunningEngineTest {
protected:
    ModulatorHeardTest() : RunningEngineTest("torvik_modulators") {}

    Bytes Build() const {
        const u32 music = AU::SoundEngine::GetIDFromString("Music_Bus");
        bankgen::BankBuilder builder(kBank);
        builder.AddMedia(kMedia, bankgen::MakePcmWave(
                                     bankgen::ToPcm16({bankgen::Sine(1000.0, 1.0, 48000, 0.5)}), 1, 48000));
        // Modulators come before the nodes whose curves name them.
        builder.Add(bankgen::ModulatorRecord{bankgen::HierarchyType::Lfo,
                                             kLfo,
                                             {bankgen::PropI(0, 0), bankgen::PropF(2, 100.0f),
                                              bankgen::PropF(3, 0.0f), bankgen::PropF(4, 2.0f)},
                                             {},
                                             {}});
        builder.Add(bankgen::ModulatorRecord{bankgen::HierarchyType::Envelope,
                                             kEnvelope,
                                             {bankgen::PropI(0, 0), bankgen::PropF(9, 0.1f),
                                              bankgen::PropF(10, 50.0f), bankgen::PropF(11, 0.1f),
                                              bankgen::PropF(12, 50.0f), bankgen::PropF(13, -1.0f),
                                              bankgen::PropF(14, 0.2f)},
                                             {},
                                             {}});
        const u32 sounds[2][2] = {{kTremolo, kLfo}, {kShaped, kEnvelope}};
        for (const auto& [id, modulator] : sounds) {
            bankgen::SoundRecord sound = BankSound(id, kMedia, music);
            sound.node.props.push_back(bankgen::PropI(58, 0)); // loops for ever
            sound.node.rtpcs.push_back(VolumeFrom(modulator));
            builder.Add(sound);
        }
        builder.Add(PlayAction(0x300, kTremolo, kBank));
        builder.Add(PlayAction(0x301, kShaped, kBank));
        builder.Add(ActionOn(0x302, 0x1F02, kShaped));
        builder.Add(bankgen::EventRecord{kPlayTremolo, {0x300}});
        builder.Add(bankgen::EventRecord{kPlayShaped, {0x301}});
        builder.Add(bankgen::EventRecord{kRelease, {0x302}});
        return Built(builder);
    }
    void Load() {
        std::filesystem::copy_file(std::filesystem::path(TORVIK_SOUNDBANKS_DIR) / "Init.bnk",
                                   m_folder / "Init.bnk", std::filesystem::copy_options::overwrite_existing);
        AuBankID id = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
        ASSERT_NO_FATAL_FAILURE(LoadImage(Build()));
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::StartOutputCapture(L"modulators.wav"), AuResultSuccess);
    }
    AuCaptureFile Capture() const { return AuCaptureFile::Read(m_folder / "modulators.wav"); }
    // Renders until the capture holds `samples` past the first sound, which is returned (or
    // kNever once the patience runs out).
    size_t RenderPastOnset(size_t samples) const {
        size_t onset = kNever;
        RenderUntil([&] {
            const AuCaptureFile c = Capture();
            for (size_t n = 0; onset == kNever && n < c.Frames(); ++n)
                if (c.At(n, 0) != 0) onset = n;
            return onset != kNever && c.Frames() >= onset + samples;
        });
        return onset;
    }
    static void OnEnd(AuCallbackType type, AuCallbackInfo* info) {
        if (type == AU_EndOfEvent) static_cast<std::atomic<bool>*>(info->pCookie)->store(true);
    }
    static void Post(u32 event) {
        ASSERT_NE(AU::SoundEngine::PostEvent(event, kObject), 0u);
        AU::SoundEngine::RenderAudio();
    }
    static constexpr size_t kNever = ~size_t{0};
};

TEST_F(ModulatorHeardTest, A2HzSineLfoOnTheVolumeRisesAndFallsTwiceASecond) {
    ASSERT_NO_FATAL_FAILURE(Load());
    Post(kPlayTremolo);
    const size_t onset = RenderPastOnset(48000 + kWindow);
    ASSERT_NE(onset, kNever);
    const AuCaptureFile c = Capture();
    // Levels against the loudest window, where the LFO is at its top.
    u32 peaks = 0, troughs = 0;
    std::vector<f64> level;
    f64 full = 0.0;
    for (size_t w = 0; w < 100; ++w) {
        level.push_back(Rms(c, onset + w * kWindow));
        full = std::max(full, level.back());
    }
    ASSERT_GT(full, 1000.0);
    for (f64& l : level)
        l /= full;
    for (size_t w = 0; w < 100; ++w) {
        // The LFO starts at its middle and rises: (1 + sin(2 pi 2 t)) / 2 at the window's middle.
        const f64 t = (f64(w) * kWindow + kWindow / 2) / 48000.0;
        const f64 expected = (1.0 + std::sin(2.0 * std::numbers::pi * 2.0 * t)) * 0.5;
        EXPECT_NEAR(level[w], expected, 0.08) << w;
        if (w > 0 && w + 1 < 100) {
            peaks += level[w] > level[w - 1] && level[w] >= level[w + 1] && level[w] > 0.9;
            troughs += level[w] < level[w - 1] && level[w] <= level[w + 1] && level[w] < 0.1;
        }
    }
    EXPECT_EQ(peaks, 2u);
    EXPECT_EQ(troughs, 2u);
}

TEST_F(ModulatorHeardTest, AnEnvelopeShapesTheToneAndTheReleaseActionEndsIt) {
    ASSERT_NO_FATAL_FAILURE(Load());
    // The tone loops for ever: only the envelope's end can end the event.
    std::atomic<bool> ended{false};
    ASSERT_NE(AU::SoundEngine::PostEvent(kPlayShaped, kObject, AU_EndOfEvent, OnEnd, &ended), 0u);
    const size_t onset = RenderPastOnset(48000);
    ASSERT_NE(onset, kNever);
    f64 full = 0.0;
    {
        const AuCaptureFile c = Capture();
        // Levels against full volume, twice the sustain's 50 %.
        full = 2.0 * Rms(c, onset + 24000);
        ASSERT_GT(full, 1000.0);
        // Attack 0.1 s through 50 % at its half, decay 0.1 s to the 50 % sustain.
        EXPECT_NEAR(Rms(c, onset + 2400 - kWindow / 2) / full, 0.5, 0.08);
        EXPECT_NEAR(Rms(c, onset + 4800 - kWindow / 2) / full, 1.0, 0.08);
        EXPECT_NEAR(Rms(c, onset + 7200 - kWindow / 2) / full, 0.75, 0.08);
        for (size_t at = 9600; at + kWindow < 48000; at += 4800)
            EXPECT_NEAR(Rms(c, onset + at) / full, 0.5, 0.03) << at;
    }
    const size_t before = Capture().Frames();
    Post(kRelease);
    // The release takes 0.2 s from the sustain down to silence, then the voice ends.
    size_t silent = kNever;
    RenderUntil([&] {
        const AuCaptureFile c = Capture();
        for (size_t n = before; silent == kNever && n + kWindow <= c.Frames(); n += kWindow)
            if (Rms(c, n) < 1.0) silent = n;
        return silent != kNever && c.Frames() >= silent + 48000;
    });
    ASSERT_NE(silent, kNever);
    EXPECT_TRUE(RenderUntil([&] { return ended.load(); }));
    const AuCaptureFile c = Capture();
    // It fell through the middle of the release on the way.
    bool halfway = false;
    for (size_t n = before; n + kWindow <= silent; n += kWindow)
        halfway = halfway || std::abs(Rms(c, n) / full - 0.25) < 0.05;
    EXPECT_TRUE(halfway);
    for (size_t n = silent; n + kWindow <= silent + 48000; n += kWindow)
        ASSERT_LT(Rms(c, n), 1.0) << n - silent;
}

} // namespace
} // namespace banktest
