#include "app_test_support.h"

#include <ErrorLoggerSystem.h>
#include <SoundSystem.h>

#include <EngineTestControl.h>

namespace {

class SoundSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        sound = new SoundSystem(L"Sound");
        Engine::AddSystem(sound);
        Engine::Initialize();
    }
    void TearDown() override { Engine::Release(); }
    void Post(std::uint32_t event) {
        Engine::RelayMessage(std::make_shared<PostSoundEventMessage>(L"Menus", event));
        Engine::RunFrames(1, 0.016f);
    }
    SoundSystem* sound = nullptr;
};

TEST_F(SoundSystemTest, MuteEventsSetAndClearTheirOwnByteOnly) {
    struct Step {
        std::uint32_t event;
        bool music;
        bool sfx;
    };
    const Step steps[] = {
        {SoundSystem::kMusicMuteEvent, true, false},
        {SoundSystem::kSfxMuteEvent, true, true},
        {0x12345678, true, true},
        {SoundSystem::kMusicUnmuteEvent, false, true},
        {SoundSystem::kMusicUnmuteEvent, false, true},
        {SoundSystem::kSfxUnmuteEvent, false, false},
    };
    EXPECT_FALSE(sound->IsMusicMuted());
    EXPECT_FALSE(sound->IsSfxMuted());
    for (const Step& step : steps) {
        Post(step.event);
        EXPECT_EQ(sound->IsMusicMuted(), step.music) << std::hex << step.event;
        EXPECT_EQ(sound->IsSfxMuted(), step.sfx) << std::hex << step.event;
    }
}

TEST_F(SoundSystemTest, ParametersAreKeptPerGameObjectWithZeroGlobal) {
    Engine::RelayMessage(std::make_shared<SoundRTPCMessage>(L"Menus", "MusicVolume", 0.5f));
    Engine::RelayMessage(
        std::make_shared<SoundRTPCMessage>(L"Menus", "MusicVolume", 0.25f, reinterpret_cast<void*>(7)));
    Engine::RelayMessage(std::make_shared<SoundRTPCMessage>(L"Menus", "MusicVolume", 0.75f));
    Engine::RunFrames(1, 0.016f);
    const auto& parameters = sound->GetParameters();
    ASSERT_EQ(parameters.size(), 2u);
    EXPECT_EQ(parameters.at({0u, "MusicVolume"}), 0.75f);
    EXPECT_EQ(parameters.at({7u, "MusicVolume"}), 0.25f);
}

TEST_F(SoundSystemTest, ListensFromInitializeToRelease) {
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::PostSoundEvent), 1u);
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::SoundRTPC), 1u);
    EXPECT_EQ(sound->Release(), 0);
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::PostSoundEvent), 0u);
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::SoundRTPC), 0u);
}

TEST(ErrorLoggerSystemTest, DoesNothingAndReleasesWithZero) {
    ErrorLoggerSystem logger(L"ErrorLogger");
    logger.Initialize();
    logger.HandleMessage(std::make_shared<ErrorMessage>(L"Error Message", "x", true, "F", "File", 1));
    logger.Update(0.1f);
    EXPECT_EQ(logger.GetName(), L"ErrorLogger");
    EXPECT_EQ(logger.Release(), 0);
}

} // namespace
