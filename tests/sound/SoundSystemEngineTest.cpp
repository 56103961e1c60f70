// The sound system on the real sound engine, from a folder where the game's banks lie at the
// game's base path: it starts, takes every message the game sends, and stops without leaving a
// pool behind, also when a start-up step fails.
#include "RecordingCalls.h"

#include <SoundSystem.h>

#include <AU/AuEffectPlugins.h>
#include <AU/IAuStreamMgr.h>
#include <AU/VorbisCodec.h>
#include <MessageRecorder.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_map>

namespace {

// Every event the game posts.
const std::uint32_t kGameEvents[] = {0xFF0B3D05, 0xF9BB515D, 0x44A6CADC, 0xE7746BD5, 0x2C928473, 0xF64FB20D,
                                     0x2F6C248F, 0x63E09726, 0xE6517101, 0xDB54B788, 0x9A5F2038, 0xF5D36B26,
                                     0x205DA04D, 0x3474117A, 0x63C39CE1, 0x305775FC};

void ExpectNothingLeft() {
    EXPECT_FALSE(AU::SoundEngine::IsInitialized());
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, nullptr);
    EXPECT_FALSE(AU::MemoryMgr::IsInitialized());
}

TEST(SoundSystemEngineTest, StartsTheEngineWithTheGameBanksAndStopsIt) {
    RecordingCalls calls(true);
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    // Until the engine reads the banks' hierarchy, both loads fail with a console line each.
    testing::internal::CaptureStdout();
    sound.Initialize();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(errors.ErrorTexts().empty());
    ASSERT_TRUE(AU::SoundEngine::IsInitialized());
    const std::unordered_map<std::string, AuGameObjectID> objects = {{"BGM", 10}};
    EXPECT_EQ(sound.GetGameObjects(), objects);
    // The Vorbis codec and the three effects are registered already: a second registration is refused.
    EXPECT_EQ(AU::SoundEngine::RegisterCodec(0, 4, CreateVorbisFileSource, CreateVorbisBankSource),
              AuResultFail);
    EXPECT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                              CreateFx106Params),
              AuResultFail);
    EXPECT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID, CreateFx118,
                                              CreateFx118Params),
              AuResultFail);
    EXPECT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_STEREO_DELAY_ID, CreateFx135,
                                              CreateFx135Params),
              AuResultFail);
    EXPECT_STREQ(AU::StreamMgr::GetCurrentLanguage(), L"English(US)");

    // Every message the game sends reaches a running engine on both paths, frame after frame.
    testing::internal::CaptureStdout();
    for (std::uint32_t event : kGameEvents) {
        Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Game", event));
        sound.TransmitQueue(std::make_shared<PostSoundEventMessage>(L"Game", event));
        sound.Update(0.016f);
    }
    Engine::ImmediateMessage(
        std::make_shared<SoundRTPCMessage>(L"Options", "Music_Ambience_Bus_Volume", 50.0f));
    Engine::ImmediateMessage(std::make_shared<SeekSoundEventMessage>(L"Game", 0x2C928473, 0.5f, 0));
    Engine::ImmediateMessage(std::make_shared<StopAllSoundsMessage>(L"Game"));
    sound.Update(0.016f);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "RenderAudio()"), 17);

    // An unknown event fails with one line; the game goes on.
    testing::internal::CaptureStdout();
    sound.PostEvent(0x12345678, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not post event 305419896 to Game Object ID 0x0000000A in the sound engine!\n");

    EXPECT_EQ(sound.Release(), 0);
    EXPECT_TRUE(sound.GetBanks().empty());
    ExpectNothingLeft();
}

struct EngineFailure {
    const char* call;
    const char* firstText;
};

class SoundSystemEngineFailureTest : public ::testing::TestWithParam<EngineFailure> {};

TEST_P(SoundSystemEngineFailureTest, ReleaseCopesWithThePartialStart) {
    RecordingCalls calls(true);
    calls.failing.insert(GetParam().call);
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    testing::internal::CaptureStdout();
    sound.Initialize();
    testing::internal::GetCapturedStdout();
    const std::vector<std::string> texts = errors.ErrorTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), GetParam().firstText);
    // Messages still reach a system whose engine did not start.
    testing::internal::CaptureStdout();
    Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Game", 0xFF0B3D05));
    sound.Update(0.016f);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sound.Release(), 0);
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SoundSystemEngineFailureTest,
    ::testing::Values(
        EngineFailure{"MemoryMgrInit", "Could not create the memory manager for the sound engine!"},
        EngineFailure{"StreamMgrCreate", "Could not create the Streaming Manager for the sound engine!"},
        EngineFailure{"CreateDevice",
                      "Could not create the streaming device and Low-Level I/O system for the sound engine!"},
        EngineFailure{"SoundEngineInit", "Could not initialize the Sound Engine!"},
        EngineFailure{"MusicInit", "Could not initialize the Music Engine!"}),
    [](const ::testing::TestParamInfo<EngineFailure>& info) { return std::string(info.param.call); });

} // namespace
