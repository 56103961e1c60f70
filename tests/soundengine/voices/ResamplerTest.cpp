#include "VoiceTestSupport.h"

#include "LowerEnginePoolTest.h"
#include "core/AuCpuInfo.h"
#include "voices/AuResampler.h"

#include <cmath>
#include <cstdio>
#include <random>

using voicetest::TestBuffer;

namespace {

class ResamplerTest : public voicetest::LowerEnginePoolTest {
protected:
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
    }
    void TearDown() override {
        CAuCpuInfo::SetForTest(nullptr);
        CAuResampler::InitKernels();
        LowerEnginePoolTest::TearDown();
    }
};

AuResamplerFormat Format(u32 rate, AuChannelConfig config, u32 bits) {
    AuResamplerFormat format;
    format.uSampleRate = rate;
    format.config = config;
    format.uBitsPerSample = bits;
    return format;
}

// A whole input held by the test: interleaved 16-bit or planar float, handed out in pieces.
struct Media {
    AuResamplerFormat format;
    u32 frames = 0;
    std::vector<i16> pcm;   // interleaved
    std::vector<f32> plane; // planar, stride = frames

    u32 Channels() const { return format.config.NumChannels(); }

    static Media Noise(const AuResamplerFormat& format, u32 frames, u32 seed) {
        Media media{format, frames, {}, {}};
        std::mt19937 random(seed);
        const u32 n = frames * media.Channels();
        if (format.uBitsPerSample == 16) {
            std::uniform_int_distribution<int> sample(-32768, 32767);
            for (u32 i = 0; i < n; ++i)
                media.pcm.push_back(static_cast<i16>(sample(random)));
        } else {
            std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
            for (u32 i = 0; i < n; ++i)
                media.plane.push_back(sample(random));
        }
        return media;
    }
};

// One piece of the media as a source hands it over.
struct Piece {
    std::vector<i16> pcm;
    std::vector<f32> plane;
    AuPipelineBuffer buffer;

    Piece(const Media& media, u32 from, u32 frames) {
        const u32 channels = media.Channels();
        buffer.channelConfig = media.format.config;
        buffer.uMaxFrames = static_cast<u16>(frames);
        buffer.uValidFrames = static_cast<u16>(frames);
        buffer.eState = AuResultDataReady;
        if (media.format.uBitsPerSample == 16) {
            pcm.assign(media.pcm.begin() + from * channels, media.pcm.begin() + (from + frames) * channels);
            buffer.pData = reinterpret_cast<f32*>(pcm.data());
        } else {
            for (u32 c = 0; c < channels; ++c)
                plane.insert(plane.end(), media.plane.begin() + c * media.frames + from,
                             media.plane.begin() + c * media.frames + from + frames);
            buffer.pData = plane.data();
        }
    }
};

struct PitchChange {
    f32 cents;
    bool interpolate;
};

// Runs the media through a resampler in input pieces of the given sizes, with one pitch per output
// buffer (the last one holds). Returns every output frame, channel after channel.
std::vector<std::vector<f32>> Resample(const Media& media, const std::vector<u32>& pieces, u16 outFrames,
                                       const std::vector<PitchChange>& pitches, u32 outputRate = 48000) {
    CAuResampler resampler;
    EXPECT_EQ(resampler.Init(media.format, outputRate), AuResultSuccess);
    const u32 channels = media.Channels();
    std::vector<std::vector<f32>> result(channels);
    u32 next = 0, from = 0;
    std::unique_ptr<Piece> piece;
    bool more = true;
    for (u32 index = 0; more; ++index) {
        const PitchChange& pitch = pitches[std::min<size_t>(index, pitches.size() - 1)];
        resampler.SetPitch(pitch.cents, pitch.interpolate);
        TestBuffer out(media.format.config, outFrames);
        out.buffer.uValidFrames = 0;
        for (;;) {
            if (!piece || piece->buffer.uValidFrames == 0) {
                if (next == pieces.size()) {
                    more = false;
                    break;
                }
                piece = std::make_unique<Piece>(media, from, pieces[next]);
                from += pieces[next++];
            }
            if (resampler.Execute(piece->buffer, out.buffer) == AuResultDataReady) break;
        }
        for (u32 c = 0; c < channels; ++c)
            result[c].insert(result[c].end(), out.buffer.GetChannel(c),
                             out.buffer.GetChannel(c) + out.buffer.uValidFrames);
    }
    return result;
}

std::vector<u32> RandomSplit(u32 frames, u32 seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<u32> size(1, 700);
    std::vector<u32> pieces;
    for (u32 left = frames; left;) {
        const u32 n = std::min(size(random), left);
        pieces.push_back(n);
        left -= n;
    }
    return pieces;
}

bool BitEqual(const std::vector<std::vector<f32>>& a, const std::vector<std::vector<f32>>& b) {
    if (a.size() != b.size()) return false;
    for (size_t c = 0; c < a.size(); ++c)
        if (a[c].size() != b[c].size() || memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof(f32)) != 0)
            return false;
    return true;
}

class ScalarCpu final : public CAuCpuInfo {
public:
    ScalarCpu() : CAuCpuInfo(0, 1024, 64) {}
};
class Sse2Cpu final : public CAuCpuInfo {
public:
    Sse2Cpu() : CAuCpuInfo(AuCpuFeatureSSE | AuCpuFeatureSSE2, 1024, 64) {}
};

} // namespace

TEST_F(ResamplerTest, SetPitchTable) {
    const struct {
        u32 inputRate;
        f32 cents;
        u32 step;
        AuResamplerState state;
    } cases[] = {
        {48000, 0.0f, 0x10000, AuResamplerState_Copy},
        {48000, 1200.0f, 0x20000, AuResamplerState_Fixed},
        {48000, -1200.0f, 0x8000, AuResamplerState_Fixed},
        {44100, 0.0f, static_cast<u32>(0.91875 * 65536 + 0.5), AuResamplerState_Fixed},
        {24000, 1200.0f, 0x10000, AuResamplerState_Copy},
    };
    for (const auto& c : cases) {
        CAuResampler resampler;
        ASSERT_EQ(
            resampler.Init(Format(c.inputRate, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16), 48000),
            AuResultSuccess);
        resampler.SetPitch(c.cents, true); // the first call never ramps
        EXPECT_EQ(resampler.Step(), c.step) << c.inputRate << " " << c.cents;
        EXPECT_EQ(resampler.TargetStep(), c.step);
        EXPECT_EQ(resampler.State(), c.state) << c.inputRate << " " << c.cents;
    }
}

TEST_F(ResamplerTest, PitchChangeJumpsOrRampsOverTheRampFrames) {
    const Media media =
        Media::Noise(Format(48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16), 8000, 1);
    CAuResampler resampler;
    ASSERT_EQ(resampler.Init(media.format, 48000), AuResultSuccess);
    resampler.SetPitch(0.0f, true);
    resampler.SetPitch(1200.0f, false);
    EXPECT_EQ(resampler.Step(), 0x20000u);
    EXPECT_EQ(resampler.State(), AuResamplerState_Fixed);

    resampler.SetPitch(0.0f, true);
    EXPECT_EQ(resampler.State(), AuResamplerState_Ramp);
    Piece piece(media, 0, 8000);
    // 256 frames in, the ramp stands a quarter of the way; a new pitch starts from there.
    TestBuffer out(media.format.config, 256);
    EXPECT_EQ(resampler.Execute(piece.buffer, out.buffer), AuResultDataReady);
    EXPECT_EQ(resampler.RampCounter(), 256u);
    resampler.SetPitch(2400.0f, true);
    EXPECT_EQ(resampler.Step(), 0x20000u - 0x10000u / 4);
    EXPECT_EQ(resampler.TargetStep(), 0x40000u);
    EXPECT_EQ(resampler.RampCounter(), 0u);
    TestBuffer rest(media.format.config, 1023);
    EXPECT_EQ(resampler.Execute(piece.buffer, rest.buffer), AuResultDataReady);
    EXPECT_EQ(resampler.State(), AuResamplerState_Ramp); // one frame short of the ramp
    TestBuffer last(media.format.config, 1);
    EXPECT_EQ(resampler.Execute(piece.buffer, last.buffer), AuResultDataReady);
    EXPECT_EQ(resampler.State(), AuResamplerState_Fixed);
    EXPECT_EQ(resampler.Step(), 0x40000u);
}

TEST_F(ResamplerTest, RampAtTheLowOutputRateLastsHalfAsManyFrames) {
    const Media media =
        Media::Noise(Format(24000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16), 4000, 2);
    CAuResampler resampler;
    ASSERT_EQ(resampler.Init(media.format, 24000), AuResultSuccess);
    resampler.SetPitch(0.0f, true);
    resampler.SetPitch(-700.0f, true);
    Piece piece(media, 0, 4000);
    TestBuffer out(media.format.config, 511);
    EXPECT_EQ(resampler.Execute(piece.buffer, out.buffer), AuResultDataReady);
    EXPECT_EQ(resampler.State(), AuResamplerState_Ramp);
    TestBuffer one(media.format.config, 1);
    EXPECT_EQ(resampler.Execute(piece.buffer, one.buffer), AuResultDataReady);
    EXPECT_EQ(resampler.State(), AuResamplerState_Fixed);
}

// Any cut of the media into input buffers gives the same output, bit for bit, for every kernel:
// copies, fixed steps and ramps, 16-bit and float, mono to nine channels.
TEST_F(ResamplerTest, OutputDoesNotDependOnHowTheInputIsSplit) {
    const std::vector<PitchChange> schedule = {{0, true},     {700, true}, {-500, true},  {-500, true},
                                               {0, false},    {0, false},  {1900, false}, {-2400, true},
                                               {-2400, true}, {13, false}, {0, true},     {0, true}};
    const struct {
        u32 rate;
        AuChannelConfig config;
        u32 bits;
    } formats[] = {
        {48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16},
        {44100, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 16},
        {48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 16},
        {32000, AuChannelConfig::Standard(0xB), 16}, // 2.1
        {48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), 16},
        {22050, AuChannelConfig::Anonymous(9), 16},
        {48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 32},
        {44100, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 32},
        {48000, AuChannelConfig::Standard(0x33), 32},
        {48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1), 32},
        {24000, AuChannelConfig::Anonymous(10), 32},
    };
    constexpr u32 kFrames = 12000;
    for (const auto& f : formats) {
        const Media media = Media::Noise(Format(f.rate, f.config, f.bits), kFrames, f.rate + f.config.uWord);
        const auto whole = Resample(media, {kFrames}, 1024, schedule);
        ASSERT_GT(whole[0].size(), 5000u);
        for (u32 seed = 0; seed < 4; ++seed) {
            const auto split = Resample(media, RandomSplit(kFrames, seed), 1024, schedule);
            EXPECT_TRUE(BitEqual(whole, split)) << f.rate << " Hz, " << f.config.NumChannels()
                                                << " channels, " << f.bits << " bits, split " << seed;
        }
    }
}

TEST_F(ResamplerTest, CopyAndFixedStepAgreeAtUnity) {
    // A fixed step of exactly 1.0 interpolates at fraction 0: the same samples as the copy.
    const Media media =
        Media::Noise(Format(48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), 16), 3000, 4);
    const auto copied = Resample(media, {1000, 2000}, 1024, {{0, false}});
    const auto interpolated = Resample(media, {1000, 2000}, 1024, {{0.001f, false}, {0, true}});
    ASSERT_EQ(copied[0].size(), interpolated[0].size());
    EXPECT_TRUE(BitEqual(copied, interpolated));
}

TEST_F(ResamplerTest, SineAtMediaRateComesOutAtTheSameFrequency) {
    constexpr u32 kFrames = 44100;
    Media media{Format(44100, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16), kFrames, {}, {}};
    for (u32 i = 0; i < kFrames; ++i)
        media.pcm.push_back(
            static_cast<i16>(std::lround(16384.0 * std::sin(2 * M_PI * 1000.0 * i / 44100.0))));
    const auto out = Resample(media, RandomSplit(kFrames, 9), 1024, {{0, false}})[0];
    ASSERT_GT(out.size(), 47000u);
    // 4800 frames from the middle: 10 Hz bins, Hann window.
    const u32 n = 4800, at = 20000;
    f64 bestPower = 0, bestFrequency = 0;
    for (f64 frequency = 100; frequency <= 20000; frequency += 10) {
        f64 re = 0, im = 0;
        for (u32 i = 0; i < n; ++i) {
            const f64 w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
            re += w * out[at + i] * std::cos(2 * M_PI * frequency * i / 48000);
            im += w * out[at + i] * std::sin(2 * M_PI * frequency * i / 48000);
        }
        if (re * re + im * im > bestPower) {
            bestPower = re * re + im * im;
            bestFrequency = frequency;
        }
    }
    EXPECT_EQ(bestFrequency, 1000.0);
    // THD+N: what a least-squares 1 kHz sine leaves unexplained.
    f64 cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (u32 i = 0; i < n; ++i) {
        const f64 c = std::cos(2 * M_PI * 1000 * i / 48000), s = std::sin(2 * M_PI * 1000 * i / 48000);
        cc += c * c, ss += s * s, cs += c * s, xc += out[at + i] * c, xs += out[at + i] * s;
    }
    const f64 det = cc * ss - cs * cs;
    const f64 a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    f64 signal = 0, residual = 0;
    for (u32 i = 0; i < n; ++i) {
        const f64 fit = a * std::cos(2 * M_PI * 1000 * i / 48000) + b * std::sin(2 * M_PI * 1000 * i / 48000);
        signal += fit * fit;
        residual += (out[at + i] - fit) * (out[at + i] - fit);
    }
    const f64 thdn = 10 * std::log10(residual / signal);
    printf("1 kHz at 44100 Hz into 48000 Hz: THD+N %.1f dB\n", thdn);
    EXPECT_LT(thdn, -40.0);
}

TEST_F(ResamplerTest, SixteenBitFivePointOnePutsTheLfeLast) {
    // Interleaved channel i holds (i + 1) x 1000: FL FR FC LFE SL SR.
    Media media{Format(48000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), 16), 64, {}, {}};
    for (u32 i = 0; i < 64; ++i)
        for (u32 c = 0; c < 6; ++c)
            media.pcm.push_back(static_cast<i16>((c + 1) * 1000));
    const f32 expected[6] = {1000, 2000, 3000, 5000, 6000, 4000};
    for (CAuCpuInfo* cpu : std::initializer_list<CAuCpuInfo*>{new ScalarCpu, new Sse2Cpu}) {
        CAuCpuInfo::SetForTest(cpu);
        CAuResampler::InitKernels();
        for (f32 cents : {0.0f, 300.0f}) {
            const auto out = Resample(media, {64}, 16, {{cents, false}});
            for (u32 c = 0; c < 6; ++c)
                EXPECT_EQ(out[c][5], expected[c] / 32768.0f) << "channel " << c << " cents " << cents;
        }
        CAuCpuInfo::SetForTest(nullptr);
        delete cpu;
    }
}

TEST_F(ResamplerTest, ProcessorFeatureTwoChoosesTheVectorCopies) {
    ScalarCpu scalar;
    CAuCpuInfo::SetForTest(&scalar);
    CAuResampler::InitKernels();
    EXPECT_EQ(g_pfResamplers[0], &AuResampleCopies::Copy16);
    EXPECT_EQ(g_pfResamplers[1], &AuResampleCopies::Copy16Stereo);
    EXPECT_EQ(g_pfResamplers[3], &AuResampleCopies::Copy16);
    Sse2Cpu sse2;
    CAuCpuInfo::SetForTest(&sse2);
    CAuResampler::InitKernels();
    EXPECT_EQ(g_pfResamplers[0], &AuResampleCopies::Copy16Simd);
    EXPECT_EQ(g_pfResamplers[1], &AuResampleCopies::Copy16StereoSimd);
    EXPECT_EQ(g_pfResamplers[2], &AuResampleCopies::Copy16Simd);
    EXPECT_EQ(g_pfResamplers[3], &AuResampleCopies::Copy16Simd);
}

TEST_F(ResamplerTest, VectorCopiesMatchTheirScalarTwins) {
    const struct {
        AuChannelConfig config;
        AuResampleKernel scalar, simd;
    } kernels[] = {
        {AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), &AuResampleCopies::Copy16,
         &AuResampleCopies::Copy16Simd},
        {AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), &AuResampleCopies::Copy16Stereo,
         &AuResampleCopies::Copy16StereoSimd},
        {AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), &AuResampleCopies::Copy16,
         &AuResampleCopies::Copy16Simd},
        {AuChannelConfig::Anonymous(11), &AuResampleCopies::Copy16, &AuResampleCopies::Copy16Simd},
    };
    for (const auto& k : kernels) {
        const Media media = Media::Noise(Format(48000, k.config, 16), 700, k.config.uWord);
        // Lengths that leave every remainder of eight, and outputs that start anywhere.
        for (u32 frames = 1; frames <= 41; frames += 5) {
            for (u16 already = 0; already < 4; ++already) {
                std::vector<f32> results[2];
                for (int pass = 0; pass < 2; ++pass) {
                    CAuResampler resampler;
                    ASSERT_EQ(resampler.Init(media.format, 48000), AuResultSuccess);
                    resampler.SetPitch(0, false);
                    Piece piece(media, 0, frames + already);
                    TestBuffer out(k.config, static_cast<u16>(frames + already + 8));
                    out.buffer.uValidFrames = 0;
                    // A first call fills `already` frames with the same kernel.
                    Piece lead(media, 100, already);
                    if (already) (pass ? k.simd : k.scalar)(resampler, lead.buffer, out.buffer);
                    (pass ? k.simd : k.scalar)(resampler, piece.buffer, out.buffer);
                    results[pass].assign(out.buffer.pData,
                                         out.buffer.pData + out.buffer.NumChannels() * out.buffer.uMaxFrames);
                    for (u32 c = 0; c < out.buffer.NumChannels(); ++c)
                        results[pass].push_back(f32(out.buffer.uValidFrames));
                }
                EXPECT_EQ(memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(f32)), 0)
                    << k.config.NumChannels() << " channels, " << frames << " frames after " << already;
            }
        }
    }
}

TEST_F(ResamplerTest, ExtremePitchesAndRatesStayInsideTheStepRange) {
    for (f64 ratio : {0.1, 0.25, 0.5, 1.0, 2.0, 4.0, 8.0}) {
        const u32 rate = static_cast<u32>(48000 * ratio);
        for (f32 cents : {-30000.0f, -4800.0f, 4800.0f, 30000.0f}) {
            const Media media =
                Media::Noise(Format(rate, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 16), 3000, 5);
            CAuResampler resampler;
            ASSERT_EQ(resampler.Init(media.format, 48000), AuResultSuccess);
            resampler.SetPitch(cents, false);
            const f64 wanted = std::exp2(cents / 1200.0) * (f32(rate) / 48000.0f) * 65536 + 0.5;
            if (wanted < 1)
                EXPECT_EQ(resampler.Step(), AU_RESAMPLER_MIN_STEP) << ratio << " " << cents;
            else if (wanted > AU_RESAMPLER_MAX_STEP)
                EXPECT_EQ(resampler.Step(), AU_RESAMPLER_MAX_STEP) << ratio << " " << cents;
            else
                EXPECT_NEAR(f64(resampler.Step()), std::trunc(wanted), 1.0) << ratio << " " << cents;
            if (std::abs(cents) == 4800.0f && ratio * 16 <= 63) {
                EXPECT_LT(resampler.Step(), AU_RESAMPLER_MAX_STEP);
            }
            // A ramp from one extreme to the other, then a full buffer at each end.
            const auto out =
                Resample(media, RandomSplit(3000, 3), 1024, {{cents, false}, {-cents, true}, {-cents, true}});
            for (f32 s : out[0])
                ASSERT_TRUE(std::isfinite(s) && std::abs(s) <= 1.0f);
        }
    }
}

TEST_F(ResamplerTest, BadFormatsAndEmptyInput) {
    CAuResampler resampler;
    const AuChannelConfig stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    EXPECT_EQ(resampler.Init(Format(48000, stereo, 8), 48000), AuResultFail);
    EXPECT_EQ(resampler.Init(Format(48000, stereo, 24), 48000), AuResultFail);
    EXPECT_EQ(resampler.Init(Format(48000, AuChannelConfig(), 16), 48000), AuResultFail);
    EXPECT_EQ(resampler.Init(Format(48000, stereo, 16), 0), AuResultFail);
    // A media rate of 0 is a step of the smallest size, not a division by zero.
    ASSERT_EQ(resampler.Init(Format(0, stereo, 16), 48000), AuResultSuccess);
    resampler.SetPitch(0, false);
    EXPECT_EQ(resampler.Step(), AU_RESAMPLER_MIN_STEP);
    EXPECT_EQ(resampler.GetSpeed(), 0.0f);
    TestBuffer in(stereo, 16), out(stereo, 16);
    in.buffer.uValidFrames = 0;
    EXPECT_EQ(resampler.Execute(in.buffer, out.buffer), AuResultNoMoreData);
}

TEST_F(ResamplerTest, NineChannelsKeepTheirPreviousFrameInThePool) {
    const u32 before = Used();
    {
        CAuResampler resampler;
        ASSERT_EQ(resampler.Init(Format(48000, AuChannelConfig::Anonymous(9), 16), 48000), AuResultSuccess);
        EXPECT_GT(Used(), before);
        ASSERT_EQ(resampler.ChangeFormat(Format(48000, AuChannelConfig::Anonymous(12), 32), 0, 48000),
                  AuResultSuccess);
        ASSERT_EQ(resampler.ChangeFormat(Format(48000, AuChannelConfig::Anonymous(2), 32), 0, 48000),
                  AuResultSuccess);
        EXPECT_EQ(Used(), before);
        ASSERT_EQ(resampler.ChangeFormat(Format(48000, AuChannelConfig::Anonymous(9), 16), 0, 48000),
                  AuResultSuccess);
    }
    EXPECT_EQ(Used(), before);
}

TEST_F(ResamplerTest, LastFrameConvertsToAndFromFloat) {
    CAuResampler resampler;
    ASSERT_EQ(resampler.Init(Format(48000, AuChannelConfig::Anonymous(4), 16), 48000), AuResultSuccess);
    const f32 in[4] = {0.5f, -1.0f, 2.0f, -3.0f};
    resampler.SetLastFrame(in);
    f32 out[4];
    resampler.GetLastFrame(out);
    EXPECT_EQ(out[0], 16383 / 32768.0f);
    EXPECT_EQ(out[1], -32767 / 32768.0f);
    EXPECT_EQ(out[2], 32767 / 32768.0f);
    EXPECT_EQ(out[3], -1.0f);
    // A change of format keeps the frame; float holds it as it is.
    ASSERT_EQ(resampler.ChangeFormat(Format(48000, AuChannelConfig::Anonymous(4), 32), 0, 48000),
              AuResultSuccess);
    f32 again[4];
    resampler.GetLastFrame(again);
    EXPECT_EQ(memcmp(out, again, sizeof(out)), 0);
}

TEST_F(ResamplerTest, SpeedAndFormatChanges) {
    CAuResampler resampler;
    ASSERT_EQ(resampler.Init(Format(44100, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), 16), 48000),
              AuResultSuccess);
    resampler.SetPitch(1200, false);
    EXPECT_NEAR(resampler.GetSpeed(), 2.0f, 1e-4f);
    // The same rate: the step stays; another rate: the step is recomputed at once for the pitch.
    ASSERT_EQ(resampler.ChangeFormat(Format(44100, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 16),
                                     1200, 48000),
              AuResultSuccess);
    EXPECT_EQ(resampler.Column(), 1);
    EXPECT_EQ(resampler.Step(), static_cast<u32>(2 * 0.91875f * 65536 + 0.5f));
    ASSERT_EQ(resampler.ChangeFormat(Format(24000, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 32),
                                     1200, 48000),
              AuResultSuccess);
    EXPECT_EQ(resampler.Column(), 5);
    EXPECT_EQ(resampler.Step(), 0x10000u);
    EXPECT_NEAR(resampler.GetSpeed(), 2.0f, 1e-4f);
}

namespace {

class ResamplerStartTest : public voicetest::VoicesTest {
protected:
    void TearDown() override {
        voicetest::VoicesTest::TearDown();
        CAuCpuInfo::SetForTest(nullptr);
        CAuResampler::InitKernels();
    }
};

} // namespace

TEST_F(ResamplerStartTest, LowerEngineStartChoosesTheCopiesByProcessorFeatureTwo) {
    ScalarCpu scalar;
    CAuCpuInfo::SetForTest(&scalar);
    InitLowerEngine();
    EXPECT_EQ(g_pfResamplers[0], &AuResampleCopies::Copy16);
    EXPECT_EQ(g_pfResamplers[1], &AuResampleCopies::Copy16Stereo);
    CAuLowerEngine::Term();
    Sse2Cpu sse2;
    CAuCpuInfo::SetForTest(&sse2);
    InitLowerEngine();
    EXPECT_EQ(g_pfResamplers[0], &AuResampleCopies::Copy16Simd);
    EXPECT_EQ(g_pfResamplers[1], &AuResampleCopies::Copy16StereoSimd);
}
