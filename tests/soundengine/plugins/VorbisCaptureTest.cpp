// A Vorbis sound of a bankgen bank heard end to end: the in-memory source, the voice's chain with
// its pitch node, the main device and the output capture, whose file is read back.
#include "../voices/VoiceTestSupport.h"

#include "plugins/AuVorbisSource.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuVoiceContext.h"

#include <AU/VorbisCodec.h>

#include <bankgen/Media.h>
#include <bankgen/Parse.h>
#include <bankgen/Recipe.h>
#include <vorbispack/Pack.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <variant>

namespace {

// Power of one frequency over Hann-windowed samples (Goertzel).
double PowerAt(const std::vector<double>& x, double hz, double rate) {
    const double k = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
    double s1 = 0.0, s2 = 0.0;
    for (double v : x) {
        const double s = v + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

class VorbisCaptureTest : public voicetest::VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        InitLowerEngine();
        CAuResampler::InitKernels();
        ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 4, CreateVorbisFileSource, CreateVorbisBankSource),
                  AuResultSuccess);
    }
    void TearDown() override {
        m_voice.reset();
        m_instance.reset();
        EXPECT_EQ(VorbisSetupCache::Count(), 0u);
        VoicesTest::TearDown();
    }

    voicetest::PlayedNode m_node;
    std::unique_ptr<CAuPlaybackInstance> m_instance;
    std::unique_ptr<CAuVoiceContext> m_voice;
};

// Media at 44.1 kHz into the 48 kHz device, so the pitch node converts: a tone left at its media
// rate would peak near 1088 Hz instead.
TEST_F(VorbisCaptureTest, AToneOfABankVorbisSoundIsCapturedAtItsFrequency) {
    constexpr double kTone = 1000.0;
    constexpr long kMediaRate = 44100;
    vorbispack::EncodedStream stream;
    vorbispack::Bytes packed;
    std::string error;
    ASSERT_TRUE(
        vorbispack::Encode({bankgen::Sine(kTone, 1.0, kMediaRate, 0.5)}, kMediaRate, 0.4f, stream, error))
        << error;
    ASSERT_TRUE(vorbispack::Pack(stream, {}, packed, error)) << error;
    const std::string dir = m_folder.string();
    std::ofstream(dir + "/tone.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(packed.data()), std::streamsize(packed.size()));
    std::vector<std::string> errors;
    auto builder = bankgen::BuilderFromRecipe(
        R"({"bank": "T", "media": [{"id": "0x2001", "file": "tone.wav"}],
        "objects": [{"type": "sound", "id": "0x1001", "media": "0x2001", "plugin": "0x00040001"}]})",
        errors, dir);
    ASSERT_TRUE(builder) << (errors.empty() ? "" : errors.front());
    bankgen::Bytes bank;
    ASSERT_TRUE(builder->Build(bank, errors));
    bankgen::ParsedBank parsed;
    ASSERT_TRUE(bankgen::ParseBank(bank, parsed, error)) << error;
    ASSERT_EQ(parsed.media.size(), 1u);
    const auto& sound = std::get<bankgen::SoundRecord>(*parsed.records[0].record);

    AuPlaybackInstanceParams params;
    params.key.playingID = 7;
    params.pNode = &m_node;
    m_instance = std::make_unique<CAuPlaybackInstance>(params);
    m_instance->SetSourceMedia(voicetest::InMemoryMedia(
        bank.data() + parsed.dataOffset + parsed.media[0].offset, parsed.media[0].size, sound.source.plugin));
    CAuSourceBase* source = AuCreateSource(m_instance.get());
    ASSERT_NE(dynamic_cast<CAuVorbisBankSource*>(source), nullptr);
    m_voice = std::make_unique<CAuVoiceContext>();
    ASSERT_EQ(m_voice->AttachSource(source, true, true), AuResultSuccess);
    m_voice->Start();

    CAuLowerEngine::StartOutputCapture(L"capture.wav");
    EXPECT_TRUE(voicetest::CaptureVoice(*m_voice, 200, true));
    CAuLowerEngine::StopOutputCapture();
    m_voice.reset();

    const voicetest::CaptureFile file = voicetest::CaptureFile::Read(m_folder / "capture.wav");
    ASSERT_TRUE(file.valid);
    ASSERT_EQ(file.channels, 2);
    const double rate = file.sampleRate;
    const size_t frames = file.samples.size() / 2;
    // About one second at the device rate, all of it captured.
    EXPECT_NEAR(double(frames), rate, 2.0 * AU_DEFAULT_SAMPLES_PER_FRAME);
    // The middle half second, away from the encoder's edges, Hann-windowed.
    const size_t from = size_t(rate / 4), count = size_t(rate / 2);
    ASSERT_LE(from + count, frames);
    std::vector<double> left(count);
    double sumSquares = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double v = file.samples[2 * (from + i)];
        ASSERT_EQ(file.samples[2 * (from + i) + 1], file.samples[2 * (from + i)]) << i; // both sides
        sumSquares += v * v;
        left[i] = v * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(count)));
    }
    const double rms = std::sqrt(sumSquares / double(count));
    double peakHz = 0.0, peak = 0.0;
    for (double hz = 50.0; hz <= 8000.0; hz += 5.0) {
        const double p = PowerAt(left, hz, rate);
        if (p > peak) {
            peak = p;
            peakHz = hz;
        }
    }
    std::printf("[ measured ] peak %.0f Hz, rms %.0f of 32768\n", peakHz, rms);
    EXPECT_NEAR(peakHz, kTone, 5.0);
    EXPECT_GT(rms, 2000.0);
    // A tone, not a broad sound: the unconverted frequency and the octave lie far below the peak.
    EXPECT_LT(PowerAt(left, kTone * rate / double(kMediaRate), rate), peak * 1e-3);
    EXPECT_LT(PowerAt(left, 2.0 * kTone, rate), peak * 1e-3);
}

} // namespace
