// The sound system over recorded engine calls: start-up and shut-down order with their settings,
// the failure reports, the message table on both delivery paths, focus changes and the console
// lines of failed calls.
#include "RecordingCalls.h"

#include <SoundSystem.h>

#include <EngineTestControl.h>
#include <MessageRecorder.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <winuser.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const Calls kStartup = {
    "MemoryMgrInit(20)",
    "StreamMgrGetDefaultSettings()",
    "StreamMgrCreate(65536)",
    "GetDefaultDeviceSettings()",
    "GetFileLocationResolver()",
    "SetFileLocationResolver(io)",
    "CreateDevice(io)",
    "GetDefaultInitSettings()",
    "GetDefaultPlatformInitSettings()",
    "SoundEngineInit()",
    "MusicGetDefaultInitSettings()",
    "MusicInit(1)",
    "SetBasePath(..\\..\\Resources/SoundBanks/)",
    "SetCurrentLanguage(English(US))",
    "RegisterCodec(0, 4, CreateVorbisFileSource, CreateVorbisBankSource)",
    "RegisterPlugin(3, 0, 106)",
    "RegisterPlugin(3, 0, 118)",
    "RegisterPlugin(3, 0, 135)",
    "LoadBank(Init.bnk, -1)",
    "LoadBank(Torvik.bnk, -1)",
    "RegisterGameObj(10, BGM, 1)",
};

const MessageType kListened[] = {MessageType::PostSoundEvent, MessageType::SDLEvent, MessageType::SoundRTPC,
                                 MessageType::SeekSoundEvent, MessageType::StopAllSounds};

std::shared_ptr<Message> WindowEvent(std::uint8_t subEvent) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = subEvent;
    return std::make_shared<SDLEventMessage>(L"Input", event);
}

std::string Post(std::uint32_t event, AuGameObjectID object = 10) {
    char line[96];
    std::snprintf(line, sizeof line, "PostEvent(0x%08X, %u, 0x100000, null, null, 0, null, 0)", event,
                  object);
    return line;
}

class SoundSystemTest : public ::testing::Test {
protected:
    RecordingCalls calls{false};
    SoundSystem sound{L"Sound", calls};
};

TEST_F(SoundSystemTest, StartsInOrderWithTheGameSettings) {
    sound.Initialize();
    EXPECT_EQ(calls.Take(), kStartup);
    for (MessageType type : kListened)
        EXPECT_EQ(EngineTest::ListenerCount(type), 1u) << static_cast<int>(type);

    EXPECT_EQ(calls.memorySettings.uMaxNumPools, 20u);
    EXPECT_EQ(calls.streamSettings.uMemorySize, 65536u);

    const AuDeviceSettings& device = calls.deviceSettings;
    EXPECT_EQ(device.pIOMemory, nullptr);
    EXPECT_EQ(device.uIOMemorySize, 0x200000u);
    EXPECT_EQ(device.uIOMemoryAlignment, 4u);
    EXPECT_EQ(device.ePoolAttributes, 2u);
    EXPECT_EQ(device.uGranularity, 16384u);
    EXPECT_EQ(device.uSchedulerTypeFlags, 1u);
    EXPECT_EQ(device.iThreadPriority, 1);
    EXPECT_EQ(device.uThreadAffinityMask, 0u);
    EXPECT_EQ(device.uThreadStackSize, 32768u);
    EXPECT_EQ(device.fTargetBufferLength, 380.0f);
    EXPECT_EQ(device.uMaxConcurrentIO, 8u);
    EXPECT_EQ(device.fCacheRatio, 1.0f);
    EXPECT_EQ(device.uMaxCachePinnedBytes, 0xFFFFFFFFu);

    const AuInitSettings& init = calls.initSettings;
    EXPECT_EQ(init.assertHook, nullptr);
    EXPECT_EQ(init.maxPathRecords, 255u);
    EXPECT_EQ(init.maxTransitions, 255u);
    EXPECT_EQ(init.defaultPoolSize, 0x1000000u);
    EXPECT_EQ(init.memoryThresholdRatio, 1.0f);
    EXPECT_EQ(init.commandQueueSize, 0x40000u);
    EXPECT_EQ(init.preparedMediaPoolId, -1);
    EXPECT_FALSE(init.gameSyncPreparation);
    EXPECT_EQ(init.playAndContinueLookAhead, 1u);
    EXPECT_EQ(init.samplesPerFrame, 1024u);
    EXPECT_EQ(init.reservedSizeA, 0x40000u);
    EXPECT_EQ(init.reservedSizeB, 0x10000u);
    EXPECT_EQ(init.mainOutputType, 3u);
    EXPECT_EQ(init.mainOutputSettings.ePanningRule, 0u);
    EXPECT_EQ(init.mainOutputSettings.channelConfig.uWord, 0u);
    EXPECT_EQ(init.mainOutputSettings.pfnSinkPluginCreator, nullptr);
    EXPECT_EQ(init.deviceTimeoutMs, 1000u);
    EXPECT_TRUE(init.useBankManagerThread);

    const AuPlatformInitSettings& platform = calls.platformSettings;
    EXPECT_EQ(platform.window, GetForegroundWindow());
    const AuThreadProperties* threads[] = {&platform.audioThread, &platform.bankManagerThread,
                                           &platform.reservedThread};
    const i32 priorities[] = {1, 0, 1};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(threads[i]->nPriority, priorities[i]) << i;
        EXPECT_EQ(threads[i]->dwAffinityMask, 0u) << i;
        EXPECT_EQ(threads[i]->uStackSize, 32768u) << i;
    }
    EXPECT_EQ(platform.lowerEnginePoolSize, 0x1000000u);
    EXPECT_EQ(platform.lowerEnginePoolRatio, 1.0f);
    EXPECT_EQ(platform.outputRefillBuffers, 4u);
    EXPECT_EQ(platform.sampleRateMode, 0u);
    EXPECT_TRUE(platform.outputFlag);
    EXPECT_EQ(platform.reservedWord, nullptr);

    EXPECT_EQ(calls.musicSettings.fLookAheadScale, 1.0f);

    const std::unordered_map<std::string, std::string> banks = {{"Init.bnk", "Init.bnk"},
                                                                {"Torvik.bnk", "Torvik.bnk"}};
    EXPECT_EQ(sound.GetBanks(), banks);
    EXPECT_EQ(sound.GetBanks().max_load_factor(), 1.0f);
    const std::unordered_map<std::string, AuGameObjectID> objects = {{"BGM", 10}};
    EXPECT_EQ(sound.GetGameObjects(), objects);
    EXPECT_EQ(sound.Release(), 0);
}

TEST_F(SoundSystemTest, LeavesAResolverThatIsAlreadySet) {
    CAuFilePackageLowLevelIOBlocking other;
    calls.resolver = &other;
    sound.Initialize();
    const Calls made = calls.Take();
    EXPECT_EQ(std::count(made.begin(), made.end(), "SetFileLocationResolver(io)"), 0);
    EXPECT_EQ(calls.resolver, &other);
    sound.Release();
    // Not ours: shut-down leaves it too.
    EXPECT_EQ(calls.resolver, &other);
}

TEST_F(SoundSystemTest, StopsInTheReverseOrderAndReturnsZero) {
    sound.Initialize();
    calls.Take();
    EXPECT_EQ(sound.Release(), 0);
    const Calls expected = {
        "UnregisterAllGameObj()",
        "UnloadBank(Torvik.bnk, null, null)",
        "UnloadBank(Init.bnk, null, null)",
        "MusicTerm()",
        "SoundEngineTerm()",
        "GetFileLocationResolver()",
        "SetFileLocationResolver(null)",
        "DestroyDevice(7)",
        "StreamMgrDestroy()",
        "MemoryMgrTerm()",
    };
    EXPECT_EQ(calls.Take(), expected);
    for (MessageType type : kListened)
        EXPECT_EQ(EngineTest::ListenerCount(type), 0u) << static_cast<int>(type);
    EXPECT_TRUE(sound.GetBanks().empty());
    // Asked for 8 buckets; the standard library may round up to its next bucket size.
    EXPECT_GE(sound.GetBanks().bucket_count(), 8u);
    EXPECT_LT(sound.GetBanks().bucket_count(), 16u);
    EXPECT_TRUE(sound.GetGameObjects().empty());
}

struct StartupFailure {
    const char* call;
    u32 schedulerFlags;
    const char* text;
    int line;
};

class StartupFailureTest : public ::testing::TestWithParam<StartupFailure> {};

TEST_P(StartupFailureTest, ReportsOnceAndGoesOn) {
    const StartupFailure& failure = GetParam();
    RecordingCalls calls(false);
    if (failure.call[0]) calls.failing.insert(failure.call);
    calls.schedulerFlags = failure.schedulerFlags;
    SoundSystem sound(L"Sound", calls);
    MessageRecorder errors({MessageType::Error});
    sound.Initialize();
    const auto reports = errors.TakeOf<ErrorMessage>(MessageType::Error);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]->GetText(), failure.text);
    EXPECT_TRUE(reports[0]->GetIsFatal());
    EXPECT_EQ(reports[0]->GetFunctionName(), "SoundSystem::Initialize");
    EXPECT_EQ(reports[0]->GetFileName(), "SoundSystem");
    EXPECT_EQ(reports[0]->GetLineNumber(), failure.line);
    EXPECT_EQ(reports[0]->GetSender(), L"Error Message");
    // The steps after the failed one still run.
    EXPECT_EQ(calls.calls.back(), kStartup.back());
    EXPECT_EQ(sound.Release(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartupFailureTest,
    ::testing::Values(
        StartupFailure{"MemoryMgrInit", 0, "Could not create the memory manager for the sound engine!", 103},
        StartupFailure{"StreamMgrCreate", 0, "Could not create the Streaming Manager for the sound engine!",
                       113},
        StartupFailure{"CreateDevice", 0,
                       "Could not create the streaming device and Low-Level I/O system for the sound engine!",
                       126},
        StartupFailure{"", AU_SCHEDULER_DEFERRED,
                       "Could not create the streaming device and Low-Level I/O system for the sound engine!",
                       126},
        StartupFailure{"SoundEngineInit", 0, "Could not initialize the Sound Engine!", 137},
        StartupFailure{"MusicInit", 0, "Could not initialize the Music Engine!", 146}),
    [](const ::testing::TestParamInfo<StartupFailure>& info) {
        return info.param.call[0] ? std::string(info.param.call) : std::string("DeferredScheduler");
    });

TEST_F(SoundSystemTest, AnotherSchedulerCreatesNoDevice) {
    calls.schedulerFlags = AU_SCHEDULER_DEFERRED;
    sound.Initialize();
    const Calls made = calls.Take();
    EXPECT_EQ(std::count(made.begin(), made.end(), "CreateDevice(io)"), 0);
    sound.Release();
    const Calls released = calls.Take();
    EXPECT_NE(std::find(released.begin(), released.end(), "DestroyDevice(4294967295)"), released.end());
}

// The game's messages and what each must call; the queue path also meets a type it drops.
std::vector<std::shared_ptr<Message>> GameMessages() {
    auto* wide = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x100000007ull));
    return {
        std::make_shared<PostSoundEventMessage>(L"Menus", 0xFF0B3D05),
        std::make_shared<PostSoundEventMessage>(L"Menus", 42, reinterpret_cast<void*>(3)),
        std::make_shared<PostSoundEventMessage>(L"Menus", 43, wide),
        std::make_shared<SoundRTPCMessage>(L"Menus", "Music_Ambience_Bus_Volume", 50.0f),
        std::make_shared<SoundRTPCMessage>(L"Menus", "SFX_VO_Bus_Volume", 25.0f, reinterpret_cast<void*>(3)),
        std::make_shared<SeekSoundEventMessage>(L"Game", 0x2C928473, 0.5f, 0),
        std::make_shared<SeekSoundEventMessage>(L"Game", 0x2C928473, 1.5f, 3),
        std::make_shared<StopAllSoundsMessage>(L"Game"),
        WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST),
    };
}

const Calls kGameMessageCalls = {
    Post(0xFF0B3D05),
    Post(42, 3),
    Post(43, 7),
    "SetRTPCValue(Music_Ambience_Bus_Volume, 50, 0xFFFFFFFF, 0, 4, 0)",
    "SetRTPCValue(SFX_VO_Bus_Volume, 25, 0x00000003, 0, 4, 0)",
    "SeekOnEvent(0x2C928473, 10, 0.5, 0, 0)",
    "SeekOnEvent(0x2C928473, 3, 1.5, 0, 0)",
    "StopAll(10)",
    Post(SoundSystem::kMusicMuteEvent),
    Post(SoundSystem::kSfxMuteEvent),
};

TEST_F(SoundSystemTest, ListenersCallTheEngineAsTheMessageTableSays) {
    sound.Initialize();
    calls.Take();
    for (const auto& message : GameMessages())
        Engine::ImmediateMessage(message);
    EXPECT_EQ(calls.Take(), kGameMessageCalls);
    sound.Release();
}

TEST_F(SoundSystemTest, TheQueueDrainCallsWhatTheListenersCallAndDropsOtherTypes) {
    sound.Initialize();
    calls.Take();
    sound.TransmitQueue(std::make_shared<ShowMenuMessage>(L"Menus", MENU_OPTIONS, true));
    for (const auto& message : GameMessages())
        sound.TransmitQueue(message);
    sound.TransmitQueue(std::make_shared<PauseMessage>(L"Game", PAUSE_GAME, 0u));
    sound.Update(0.016f);
    Calls expected = kGameMessageCalls;
    expected.push_back("RenderAudio()");
    EXPECT_EQ(calls.Take(), expected);
    // Drained: the next frame only renders.
    sound.Update(0.016f);
    EXPECT_EQ(calls.Take(), Calls{"RenderAudio()"});
    sound.Release();
}

struct FocusCase {
    const char* name;
    std::vector<std::uint32_t> playerPosts; // what the options menu posted before
    std::vector<std::uint8_t> windowEvents;
    Calls expected;
    bool musicMuted;
    bool sfxMuted;
};

class FocusTest : public ::testing::TestWithParam<FocusCase> {};

TEST_P(FocusTest, MutesOnLossAndKeepsThePlayersOwnMutes) {
    const FocusCase& focus = GetParam();
    RecordingCalls calls(false);
    SoundSystem sound(L"Sound", calls);
    sound.Initialize();
    for (std::uint32_t event : focus.playerPosts)
        Engine::ImmediateMessage(std::make_shared<PostSoundEventMessage>(L"Menus", event));
    calls.Take();
    for (std::uint8_t event : focus.windowEvents)
        Engine::ImmediateMessage(WindowEvent(event));
    EXPECT_EQ(calls.Take(), focus.expected);
    EXPECT_EQ(sound.IsMusicMuted(), focus.musicMuted);
    EXPECT_EQ(sound.IsSfxMuted(), focus.sfxMuted);
    sound.Release();
}

const std::uint32_t kMusicMute = SoundSystem::kMusicMuteEvent;
const std::uint32_t kMusicUnmute = SoundSystem::kMusicUnmuteEvent;
const std::uint32_t kSfxMute = SoundSystem::kSfxMuteEvent;
const std::uint32_t kSfxUnmute = SoundSystem::kSfxUnmuteEvent;

INSTANTIATE_TEST_SUITE_P(
    Cases, FocusTest,
    ::testing::Values(
        FocusCase{"NothingMuted",
                  {},
                  {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED},
                  {Post(kMusicMute), Post(kSfxMute), Post(kMusicUnmute), Post(kSfxUnmute)},
                  false,
                  false},
        FocusCase{"PlayerMutedMusic",
                  {kMusicMute},
                  {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED},
                  {Post(kMusicMute), Post(kSfxMute), Post(kSfxUnmute)},
                  true,
                  false},
        FocusCase{"PlayerMutedSfx",
                  {kSfxMute},
                  {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED},
                  {Post(kMusicMute), Post(kSfxMute), Post(kMusicUnmute)},
                  false,
                  true},
        FocusCase{"PlayerMutedBoth",
                  {kMusicMute, kSfxMute},
                  {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED},
                  {Post(kMusicMute), Post(kSfxMute)},
                  true,
                  true},
        FocusCase{"PlayerUnmutedAgain",
                  {kMusicMute, kMusicUnmute},
                  {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED},
                  {Post(kMusicMute), Post(kSfxMute), Post(kMusicUnmute), Post(kSfxUnmute)},
                  false,
                  false},
        FocusCase{"MinimiseAndRestore",
                  {kSfxMute},
                  {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_RESTORED},
                  {Post(kMusicMute), Post(kSfxMute), Post(kMusicUnmute)},
                  false,
                  true},
        FocusCase{
            "GainWithoutLoss", {kMusicMute}, {SDL_WINDOWEVENT_FOCUS_GAINED}, {Post(kSfxUnmute)}, true, false},
        FocusCase{"OtherWindowEvents",
                  {},
                  {SDL_WINDOWEVENT_MOVED, SDL_WINDOWEVENT_RESIZED, SDL_WINDOWEVENT_MAXIMIZED},
                  {},
                  false,
                  false}),
    [](const ::testing::TestParamInfo<FocusCase>& info) { return std::string(info.param.name); });

TEST_F(SoundSystemTest, OnlyWindowEventsCount) {
    sound.Initialize();
    calls.Take();
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    // The byte where a window event keeps its sub-event, set to "focus lost".
    key.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    Engine::ImmediateMessage(std::make_shared<SDLEventMessage>(L"Input", key));
    EXPECT_TRUE(calls.Take().empty());
    sound.Release();
}

TEST_F(SoundSystemTest, MuteFlagsFollowTheEventsWhetherOrNotThePostWorks) {
    sound.Initialize();
    calls.failing.insert("PostEvent");
    testing::internal::CaptureStdout();
    const struct {
        std::uint32_t event;
        bool music;
        bool sfx;
    } steps[] = {
        {kMusicMute, true, false},   {kSfxMute, true, true},      {0x12345678, true, true},
        {kMusicUnmute, false, true}, {kMusicUnmute, false, true}, {kSfxUnmute, false, false},
    };
    for (const auto& step : steps) {
        sound.PostEvent(step.event, 0);
        EXPECT_EQ(sound.IsMusicMuted(), step.music) << std::hex << step.event;
        EXPECT_EQ(sound.IsSfxMuted(), step.sfx) << std::hex << step.event;
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(
        printed.find("Could not post event 305419896 to Game Object ID 0x0000000A in the sound engine!\n"),
        std::string::npos)
        << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 6);
    sound.Release();
}

TEST_F(SoundSystemTest, FailedCallsPrintOneLineAndChangeNothing) {
    struct Case {
        const char* failing;
        std::function<void(SoundSystem&)> call;
        const char* line;
    };
    const Case cases[] = {
        {"PostEvent", [](SoundSystem& s) { s.PostEvent(42, 0); },
         "Could not post event 42 to Game Object ID 0x0000000A in the sound engine!\n"},
        {"PostEvent", [](SoundSystem& s) { s.PostEvent(0xFFFFFFFF, 0x1234); },
         "Could not post event 4294967295 to Game Object ID 0x00001234 in the sound engine!\n"},
        {"SetRTPCValue", [](SoundSystem& s) { s.SetRtpc(0, "", 0.5f); },
         "Could not set RTPC \"\" to value 0.5 in the sound engine!\n"},
        {"SetRTPCValue", [](SoundSystem& s) { s.SetRtpc(10, "Music_Ambience_Bus_Volume", 33.3f); },
         "Could not set RTPC \"Music_Ambience_Bus_Volume\" to value 33.29999924 for game object ID "
         "0x0000000A in the sound engine!\n"},
        {"RegisterGameObj", [](SoundSystem& s) { s.RegisterGameObject("Player"); },
         "Could not register game object \"Player\" with ID 0x0000000A in the sound engine!\n"},
        {"LoadBank", [](SoundSystem& s) { s.LoadBank("Missing"); },
         "Could not load SoundBank \"Missing.bnk\"!\n"},
    };
    sound.Initialize();
    const auto banks = sound.GetBanks();
    const auto objects = sound.GetGameObjects();
    for (const Case& c : cases) {
        calls.failing = {c.failing};
        testing::internal::CaptureStdout();
        c.call(sound);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
    EXPECT_EQ(sound.GetBanks(), banks);
    EXPECT_EQ(sound.GetGameObjects(), objects);

    calls.failing = {"UnloadBank"};
    testing::internal::CaptureStdout();
    sound.UnloadAllBanks();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not unload SoundBank \"Torvik.bnk\"!\nCould not unload SoundBank \"Init.bnk\"!\n");
    calls.failing.clear();
    sound.Release();
}

TEST_F(SoundSystemTest, AMissingBankLeavesTheOtherLoaded) {
    calls.failing = {"LoadBank Init.bnk"};
    testing::internal::CaptureStdout();
    sound.Initialize();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not load SoundBank \"Init.bnk\"!\n");
    const std::unordered_map<std::string, std::string> banks = {{"Torvik.bnk", "Torvik.bnk"}};
    EXPECT_EQ(sound.GetBanks(), banks);
    calls.Take();
    sound.Release();
    const Calls released = calls.Take();
    EXPECT_EQ(std::count(released.begin(), released.end(), "UnloadBank(Init.bnk, null, null)"), 0);
    EXPECT_EQ(std::count(released.begin(), released.end(), "UnloadBank(Torvik.bnk, null, null)"), 1);
}

} // namespace
