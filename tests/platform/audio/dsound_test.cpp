// DirectSound: the device, the primary buffer's format, looping secondary buffers and their
// cursors, driven by output pulled on the test's thread.
#include <audio_test_control.h>
#include <dsound.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

WAVEFORMATEXTENSIBLE Pcm16(WORD channels, DWORD rate, DWORD mask) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = channels == 2 ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * rate;
    format.Format.wBitsPerSample = 16;
    if (channels != 2) {
        format.Format.cbSize = 22;
        format.Samples.wValidBitsPerSample = 16;
        format.dwChannelMask = mask;
        format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    }
    return format;
}

// A fake window: the stand-in only checks that one is given.
HWND Window() {
    static int window;
    return &window;
}

class DirectSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        audiotest::UseManualOutput(true);
        ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                                   reinterpret_cast<void**>(&sound)),
                  S_OK);
        ASSERT_EQ(sound->Initialize(nullptr), DS_OK);
        ASSERT_EQ(sound->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
        DSBUFFERDESC description{};
        description.dwSize = sizeof description;
        description.dwFlags = DSBCAPS_PRIMARYBUFFER;
        ASSERT_EQ(sound->CreateSoundBuffer(&description, &primary, nullptr), DS_OK);
    }
    void TearDown() override {
        if (secondary) secondary->Release();
        if (primary) primary->Release();
        if (sound) sound->Release();
        audiotest::UseManualOutput(false);
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    }
    // A stereo 48 kHz device and a looping secondary buffer of `bytes`.
    void OpenStereo(DWORD bytes) {
        WAVEFORMATEXTENSIBLE format = Pcm16(2, 48000, 3);
        ASSERT_EQ(primary->SetFormat(&format.Format), DS_OK);
        ASSERT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        DSBUFFERDESC description{};
        description.dwSize = sizeof description;
        description.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
        description.dwBufferBytes = bytes;
        description.lpwfxFormat = &format.Format;
        IDirectSoundBuffer* first = nullptr;
        ASSERT_EQ(sound->CreateSoundBuffer(&description, &first, nullptr), DS_OK);
        ASSERT_EQ(first->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&secondary)), S_OK);
        first->Release();
    }
    // Writes sample values value, value+1, ... into [offset, offset + frames) through Lock.
    void Write(DWORD offset, DWORD frames, short value) {
        void *part1, *part2;
        DWORD bytes1, bytes2;
        ASSERT_EQ(secondary->Lock(offset, frames * 4, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
        std::vector<short> samples(frames * 2);
        for (DWORD i = 0; i < frames; ++i)
            samples[2 * i] = samples[2 * i + 1] = static_cast<short>(value + i);
        std::memcpy(part1, samples.data(), bytes1);
        if (part2) std::memcpy(part2, reinterpret_cast<char*>(samples.data()) + bytes1, bytes2);
        ASSERT_EQ(secondary->Unlock(part1, bytes1, part2, bytes2), DS_OK);
    }

    IDirectSound8* sound = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSoundBuffer8* secondary = nullptr;
};

TEST_F(DirectSoundTest, TheDevicePlaysTheRingAtItsPlayCursorAndWrapsWhileLooping) {
    OpenStereo(16384); // 4096 frames
    Write(0, 4096, 0);
    DWORD play = 1, write = 1;
    ASSERT_EQ(secondary->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);
    EXPECT_EQ(write, 0u); // stopped: both cursors together
    EXPECT_EQ(audiotest::RenderOutput(16), std::vector<float>(32, 0.0f));

    ASSERT_EQ(secondary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<float> out = audiotest::RenderOutput(1024);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[2 * 1023 + 1], 1023 / 32768.0f);
    ASSERT_EQ(secondary->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 4096u);
    EXPECT_EQ(write, 4096u + 512 * 4); // one device callback ahead

    audiotest::RenderOutput(3072);
    ASSERT_EQ(secondary->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);
    out = audiotest::RenderOutput(1);
    EXPECT_EQ(out[0], 0.0f);
}

TEST_F(DirectSoundTest, ALockAcrossTheEndComesBackInTwoParts) {
    OpenStereo(16384);
    void *part1, *part2;
    DWORD bytes1, bytes2;
    ASSERT_EQ(secondary->Lock(12288, 8192, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
    EXPECT_EQ(bytes1, 4096u);
    EXPECT_EQ(bytes2, 4096u);
    ASSERT_NE(part2, nullptr);
    EXPECT_EQ(static_cast<char*>(part1) - static_cast<char*>(part2), 12288);
    // A second lock while one is open, or an unlock of other pointers, is refused.
    void* again;
    DWORD againBytes;
    EXPECT_EQ(secondary->Lock(0, 4, &again, &againBytes, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(secondary->Unlock(part2, bytes1, nullptr, 0), DSERR_INVALIDPARAM);
    ASSERT_EQ(secondary->Unlock(part1, bytes1, part2, bytes2), DS_OK);

    struct Case {
        DWORD offset, bytes;
    } refused[] = {{16384, 4}, {0, 0}, {0, 16388}};
    for (const Case& c : refused)
        EXPECT_EQ(secondary->Lock(c.offset, c.bytes, &part1, &bytes1, &part2, &bytes2, 0), DSERR_INVALIDPARAM)
            << c.offset << " " << c.bytes;
    ASSERT_EQ(secondary->Lock(0, 0, &part1, &bytes1, &part2, &bytes2, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(bytes1, 16384u);
    EXPECT_EQ(part2, nullptr);
    EXPECT_EQ(secondary->Unlock(part1, bytes1, nullptr, 0), DS_OK);
}

TEST_F(DirectSoundTest, AOneShotBufferStopsAtItsEnd) {
    OpenStereo(4096);
    Write(0, 1024, 100);
    ASSERT_EQ(secondary->Play(0, 0, 0), DS_OK);
    std::vector<float> out = audiotest::RenderOutput(2048);
    EXPECT_EQ(out[2 * 1023], (100 + 1023) / 32768.0f);
    EXPECT_EQ(out[2 * 1024], 0.0f);
}

TEST_F(DirectSoundTest, FormatsNeedThePriorityLevelAndMayBeRefusedByChannelCount) {
    WAVEFORMATEXTENSIBLE surround = Pcm16(6, 48000, 0x60F);
    ASSERT_EQ(sound->SetCooperativeLevel(Window(), DSSCL_NORMAL), DS_OK);
    EXPECT_EQ(primary->SetFormat(&surround.Format), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(sound->SetCooperativeLevel(Window(), DSSCL_PRIORITY), DS_OK);
    audiotest::RefuseChannelCount(6);
    EXPECT_EQ(primary->SetFormat(&surround.Format), DSERR_BADFORMAT);
    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwBufferBytes = 12 * 1024;
    description.lpwfxFormat = &surround.Format;
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(sound->CreateSoundBuffer(&description, &buffer, nullptr), DSERR_BADFORMAT);
    audiotest::RefuseChannelCount(0);
    ASSERT_EQ(primary->SetFormat(&surround.Format), DS_OK);
    EXPECT_EQ(audiotest::OutputChannels(), 6u);
    ASSERT_EQ(sound->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    // The primary buffer has no version-8 interface; a secondary one does.
    void* eight = nullptr;
    EXPECT_EQ(primary->QueryInterface(IID_IDirectSoundBuffer8, &eight), E_NOINTERFACE);
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundBuffer8, &eight), S_OK);
    static_cast<IDirectSoundBuffer8*>(eight)->Release();
    buffer->Release();

    WAVEFORMATEXTENSIBLE eightBit = Pcm16(2, 48000, 3);
    eightBit.Format.wBitsPerSample = 8;
    EXPECT_EQ(primary->SetFormat(&eightBit.Format), DSERR_BADFORMAT);
}

TEST_F(DirectSoundTest, TheSpeakerConfigurationFollowsTheDevice) {
    struct Case {
        unsigned channels;
        DWORD config;
    } cases[] = {{1, DSSPEAKER_MONO},
                 {2, DSSPEAKER_STEREO},
                 {4, DSSPEAKER_QUAD},
                 {6, DSSPEAKER_5POINT1_SURROUND},
                 {8, DSSPEAKER_7POINT1_SURROUND}};
    DWORD config = 0;
    for (const Case& c : cases) {
        audiotest::SetDeviceChannels(c.channels);
        ASSERT_EQ(sound->GetSpeakerConfig(&config), DS_OK);
        EXPECT_EQ(DSSPEAKER_CONFIG(config), c.config) << c.channels;
    }
    audiotest::SetSpeakerConfig(DSSPEAKER_5POINT1);
    ASSERT_EQ(sound->GetSpeakerConfig(&config), DS_OK);
    EXPECT_EQ(config, DSSPEAKER_5POINT1);
    audiotest::FailNextCall("IDirectSound8::GetSpeakerConfig", E_FAIL);
    EXPECT_EQ(sound->GetSpeakerConfig(&config), E_FAIL);
}

TEST(DirectSound, CallsBeforeInitialiseAreRefused) {
    IDirectSound8* sound = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                               reinterpret_cast<void**>(&sound)),
              S_OK);
    int window;
    EXPECT_EQ(sound->SetCooperativeLevel(&window, DSSCL_PRIORITY), DSERR_UNINITIALIZED);
    audiotest::FailNextCall("IDirectSound8::Initialize", DSERR_NODRIVER);
    EXPECT_EQ(sound->Initialize(nullptr), DSERR_NODRIVER);
    EXPECT_EQ(sound->Initialize(nullptr), DS_OK);
    EXPECT_EQ(sound->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
    EXPECT_EQ(sound->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    sound->Release();
    EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
}

} // namespace
