#include "GameLevel.h"

#include "ComponentAccessors.h"
#include "Engine.h"
#include "GameState.h"
#include "Messages.h"
#include "ObjectFactory.h"

namespace {

const wchar_t* const kSender = L"GameLevel";

constexpr std::uint32_t kSplashMusic[] = {0xE7746BD5, 0x2C928473};
constexpr std::uint32_t kPlayingMusic[] = {0xF64FB20D, 0x2F6C248F, 0x63E09726};

template <std::size_t N> void PostSounds(const std::uint32_t (&events)[N]) {
    for (std::uint32_t event : events)
        Engine::RelayMessage(std::make_shared<PostSoundEventMessage>(kSender, event));
}

} // namespace

void GameLevel::LoadLevel(const std::string& name, int players) {
    Engine::mFactory->LoadLevel(name);
    Engine::mFactory->CreateArchetypedObject(L"Arbiter");
    mPlayerCount = players;
    mLevelName = name;
    mEnded = false;
    // A new round counts from zero; counts left from the last one would overshoot the player
    // count, and the "equals" test would then never end the round.
    mDead = 0;
    mEscaped = 0;
    mEnteredByPlaying = false;
}

void GameLevel::Unload() {
    mObjects.Clear();
    Engine::mFactory->DestroyAllObjects();
}

void GameLevel::Restart() {
    const std::string level = mLevelName;
    const int players = mPlayerCount;
    const bool spawn = mEnteredByPlaying;
    mObjects.Clear();
    Engine::mFactory->DestroyAllObjects();
    LoadLevel(level, players);
    // The playing transition spawns the players; a level reached that way holds none of its own.
    if (spawn) {
        SpawnPlayers();
        mEnteredByPlaying = true;
    }
}

void GameLevel::SpawnPlayers() {
    for (int n = 1; n <= mPlayerCount; ++n) {
        const std::string name = "Player" + std::to_string(n);
        auto object = Engine::mFactory->CreateArchetypedObject(std::wstring(name.begin(), name.end())).lock();
        if (!object) continue;
        object->SetName(name);
        const std::string texture = object->GetName() + "_Flare.png";
        Engine::RelayMessage(std::make_shared<LoadResourceMessage>(kSender, RESOURCE_TEXTURE, texture));
        auto group = std::make_shared<PhysicsMessage>(kSender, PHYSICS_SET_OBJECT_GROUP, object->GetID(),
                                                      Vectormath::Aos::Vector3(0.0f));
        group->SetGroupName(object->GetName());
        Engine::RelayMessage(group);
        if (auto renderable = GetComponentOfType<Renderable>(object).lock()) renderable->AddTexture(texture);
    }
}

void GameLevel::StartStage(float timer, float duration) {
    bool showCursor = true;
    switch (GameState::GetState()) {
    case GameState::IDLE:
    case GameState::PAUSED:
        break;
    case GameState::PLAYING:
        PostSounds(kPlayingMusic);
        showCursor = false;
        break;
    case GameState::TEAM_SPLASH:
    case GameState::GAMEPAD_SPLASH:
    case GameState::HOW_TO_PLAY:
        mStageTimer = timer;
        mStageDuration = duration;
        break;
    default: // the first splash (0, 5, 6), objectives (9) and any other value
        PostSounds(kSplashMusic);
        mStageTimer = timer;
        mStageDuration = duration;
        break;
    }
    Engine::RelayMessage(std::make_shared<DisplayCursorMessage>(kSender, showCursor));
}

void GameLevel::NextSplash(int state, const std::string& level, bool spawn) {
    GameState::SetState(state);
    Unload();
    LoadLevel(level, 0);
    if (spawn) SpawnPlayers();
    StartStage(0.0f, kSplashSeconds);
}

void GameLevel::GoToPlaying() {
    GameState::SetState(GameState::PLAYING);
    Unload();
    LoadLevel("Full_Level_Test", kPlayersInPlay);
    mEnteredByPlaying = true;
    SpawnPlayers();
    StartStage(0.0f, kPlayingStageSeconds);
}

void GameLevel::Update(float dt) {
    const int state = GameState::GetState();
    switch (state) {
    case GameState::IDLE:
    case GameState::PAUSED:
        return;
    case GameState::PLAYING:
        UpdatePlaying(dt);
        return;
    default:
        break;
    }
    // A splash stage: a skip jumps to playing before the timer moves.
    if (mSkip) {
        GoToPlaying();
        return;
    }
    if (!(mStageTimer + dt > mStageDuration)) {
        mStageTimer += dt;
        return;
    }
    switch (state) {
    case GameState::TEAM_SPLASH:
        NextSplash(GameState::GAMEPAD_SPLASH, "GAMEPAD_SPLASH", false);
        break;
    case GameState::GAMEPAD_SPLASH:
        NextSplash(GameState::HOW_TO_PLAY, "HOWTOPLAY", false);
        break;
    case GameState::HOW_TO_PLAY:
        NextSplash(GameState::OBJECTIVES, "OBJECTIVES", true);
        break;
    case GameState::OBJECTIVES:
        GoToPlaying();
        break;
    default: // the first splash (0, 5, 6) and any value outside 0 to 9
        NextSplash(GameState::TEAM_SPLASH, "TEAM_SPLASH", false);
        break;
    }
}

void GameLevel::UpdatePlaying(float dt) {
    if (mObjects.HasObjects()) {
        auto ruleset = mObjects.GetRulesetObject();
        if (!ruleset) {
            mObjects.SetRulesetObject(Engine::mFactory->CreateArchetypedObject(L"Arbiter"));
            ruleset = mObjects.GetRulesetObject();
        }
        if (ruleset) {
            if (auto rules = GetComponentOfType<LevelRuleset>(ruleset).lock()) rules->Update(dt);
        }
        if (mDead + mEscaped == mPlayerCount) mEnded = true;
    }
    mStageTimer += dt;
}
