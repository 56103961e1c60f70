// The sound system on the real sound engine, from a folder where the game's banks lie at the
// game's base path: it starts, takes every message the game sends, and stops without leaving a
// pool behind, also when a start-up step fails.
#include "RecordingCalls.h"

#include <ScopedCwd.h>
#include <SoundSystem.h>

#include <AU/AuEffectPlugins.h>
#include <AU/IAuStreamMgr.h>
#include <AU/VorbisCodec.h>
#include <AuLogCapture.h>
#include <MessageRecorder.h>
#include <SDL_events.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unordered_map>

namespace {

// Every event the game posts.
const std::uint32_t kGameEvents[] = {0xFF0B3D05, 0xF9BB515D, 0x44A6CADC, 0xE7746BD5, 0x2C928473, 0xF64FB20D,
                                     0x2F6C248F, 0x63E09726, 0xE6517101, 0xDB54B788, 0x9A5F2038, 0xF5D36B26,
                                     0x205DA04D, 0x3474117A, 0x63C39CE1, 0x305775FC};

std::shared_ptr<Message> WindowEvent(std::uint8_t subEvent) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = subEvent;
    return std::make_shared<SDLEventMessage>(L"Input", event);
}

// Every part of the engine returned its own pools before the memory manager ended.
void ExpectNothingLeft(const RecordingCalls& calls) {
    EXPECT_EQ(calls.poolsAtMemoryTerm, 0);
    EXPECT_FALSE(AU::SoundEngine::IsInitialized());
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, nullptr);
    EXPECT_FALSE(AU::MemoryMgr::IsInitialized());
}

TEST(SoundSystemEngineTest, StartsTheEngineWithTheGameBanksAndStopsIt) {
    RecordingCalls calls(true);
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    testing::internal::CaptureStdout();
    sound.Initialize();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(errors.ErrorTexts().empty());
    ASSERT_TRUE(AU::SoundEngine::IsInitialized());
    const std::unordered_map<std::string, std::string> banks = {{"Init.bnk", "Init.bnk"},
                                                                {"Torvik.bnk", "Torvik.bnk"}};
    EXPECT_EQ(sound.GetBanks(), banks);
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
    ExpectNothingLeft(calls);
}

struct BrokenBank {
    const char* name;
    // Bytes of the real "Torvik.bnk" that the file keeps; -1 leaves no file.
    long kept;
};

class SoundSystemBrokenBankTest : public ::testing::TestWithParam<BrokenBank> {};

TEST_P(SoundSystemBrokenBankTest, PrintsOneLineAndTheGameRunsWithoutThatBanksSounds) {
    namespace fs = std::filesystem;
    const fs::path banks = fs::current_path() / ".." / ".." / "Resources" / "SoundBanks";
    const fs::path root = fs::path(testing::TempDir()) / "torvik_broken_bank" / GetParam().name;
    fs::remove_all(root);
    fs::create_directories(root / "Resources" / "SoundBanks");
    fs::create_directories(root / "Bin" / "Release");
    fs::copy_file(banks / "Init.bnk", root / "Resources" / "SoundBanks" / "Init.bnk");
    if (GetParam().kept >= 0) {
        fs::copy_file(banks / "Torvik.bnk", root / "Resources" / "SoundBanks" / "Torvik.bnk");
        fs::resize_file(root / "Resources" / "SoundBanks" / "Torvik.bnk",
                        static_cast<std::uintmax_t>(GetParam().kept));
    }
    ScopedCwd cwd(root / "Bin" / "Release");

    RecordingCalls calls(true);
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    AuLogCapture engineLog;
    testing::internal::CaptureStdout();
    sound.Initialize();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not load SoundBank \"Torvik.bnk\"!\n");
    EXPECT_TRUE(errors.ErrorTexts().empty());
    const std::unordered_map<std::string, std::string> loaded = {{"Init.bnk", "Init.bnk"}};
    EXPECT_EQ(sound.GetBanks(), loaded);

    // The busses' game parameter is there; the click's event is not.
    testing::internal::CaptureStdout();
    Engine::ImmediateMessage(
        std::make_shared<SoundRTPCMessage>(L"Options", "Music_Ambience_Bus_Volume", 50.0f));
    Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Menus", 0xFF0B3D05));
    sound.Update(0.016f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not post event 4278926597 to Game Object ID 0x0000000A in the sound engine!\n");
    EXPECT_EQ(sound.Release(), 0);
    ExpectNothingLeft(calls);
}

INSTANTIATE_TEST_SUITE_P(Files, SoundSystemBrokenBankTest,
                         ::testing::Values(BrokenBank{"Missing", -1}, BrokenBank{"Empty", 0},
                                           BrokenBank{"CutInItsIndex", 60},
                                           BrokenBank{"CutInItsMedia", 4000}),
                         [](const ::testing::TestParamInfo<BrokenBank>& info) {
                             return std::string(info.param.name);
                         });

struct Report {
    std::string text;
    int line;
};

bool operator==(const Report& a, const Report& b) {
    return a.text == b.text && a.line == b.line;
}

void PrintTo(const Report& report, std::ostream* out) {
    *out << report.line << " \"" << report.text << "\"";
}

const Report kMemoryReport{"Could not create the memory manager for the sound engine!", 103};
const Report kStreamReport{"Could not create the Streaming Manager for the sound engine!", 113};
const Report kDeviceReport{
    "Could not create the streaming device and Low-Level I/O system for the sound engine!", 126};
const Report kSoundReport{"Could not initialize the Sound Engine!", 137};
const Report kMusicReport{"Could not initialize the Music Engine!", 146};

struct EngineFailure {
    const char* call;
    // The failed step's report first, then those of the later steps that need what it did not make.
    std::vector<Report> reports;
    // What the later steps print on the console as they fail.
    const char* printed;
};

constexpr const char* kNoBanksNoObject = "Could not load SoundBank \"Init.bnk\"!\n"
                                         "Could not load SoundBank \"Torvik.bnk\"!\n"
                                         "Could not register game object \"BGM\" with ID 0x0000000A in the "
                                         "sound engine!\n";

class SoundSystemEngineFailureTest : public ::testing::TestWithParam<EngineFailure> {};

TEST_P(SoundSystemEngineFailureTest, LaterStepsFailCleanlyAndReleaseCopesWithThePartialStart) {
    const EngineFailure& failure = GetParam();
    RecordingCalls calls(true);
    calls.failing.insert(failure.call);
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    AuLogCapture engineLog;
    testing::internal::CaptureStdout();
    sound.Initialize();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), failure.printed);
    std::vector<Report> reports;
    for (const auto& report : errors.TakeOf<ErrorMessage>(MessageType::Error)) {
        EXPECT_TRUE(report->GetIsFatal());
        EXPECT_EQ(report->GetFunctionName(), "SoundSystem::Initialize");
        EXPECT_EQ(report->GetFileName(), "SoundSystem");
        reports.push_back({report->GetText(), report->GetLineNumber()});
    }
    EXPECT_EQ(reports, failure.reports);
    // Messages still reach a system whose engine did not start, and fail with their line.
    testing::internal::CaptureStdout();
    Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Game", 0xFF0B3D05));
    Engine::ImmediateMessage(std::make_shared<SoundRTPCMessage>(L"Options", "SFX_VO_Bus_Volume", 50.0f));
    Engine::ImmediateMessage(std::make_shared<SeekSoundEventMessage>(L"Game", 0x2C928473, 0.5f, 0));
    Engine::ImmediateMessage(std::make_shared<StopAllSoundsMessage>(L"Game"));
    Engine::ImmediateMessage(WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST));
    sound.Update(0.016f);
    const std::string printed = testing::internal::GetCapturedStdout();
    if (!AU::SoundEngine::IsInitialized()) {
        EXPECT_NE(
            printed.find("Could not post event 4278926597 to Game Object ID 0x0000000A in the sound engine!"),
            std::string::npos)
            << printed;
        EXPECT_NE(printed.find("Could not set RTPC \"SFX_VO_Bus_Volume\" to value 50 in the sound engine!"),
                  std::string::npos)
            << printed;
    }
    EXPECT_EQ(sound.Release(), 0);
    ExpectNothingLeft(calls);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SoundSystemEngineFailureTest,
    ::testing::Values(
        EngineFailure{"MemoryMgrInit",
                      {kMemoryReport, kStreamReport, kDeviceReport, kSoundReport, kMusicReport},
                      kNoBanksNoObject},
        EngineFailure{
            "StreamMgrCreate", {kStreamReport, kDeviceReport, kSoundReport, kMusicReport}, kNoBanksNoObject},
        // Without a device the engine runs, but no bank file can be read.
        EngineFailure{"CreateDevice",
                      {kDeviceReport},
                      "Could not load SoundBank \"Init.bnk\"!\nCould not load SoundBank \"Torvik.bnk\"!\n"},
        EngineFailure{"SoundEngineInit", {kSoundReport, kMusicReport}, kNoBanksNoObject},
        // The sound engine runs on without its music engine.
        EngineFailure{"MusicInit", {kMusicReport}, ""}),
    [](const ::testing::TestParamInfo<EngineFailure>& info) { return std::string(info.param.call); });

} // namespace
