// The game's flow over the engine's GameState: the splash sequence, level loading and the players'
// spawning, per-state music and cursor, the level's ruleset while playing, and the end of a round.
// Owned by GameLogic, whose update drives it outside the idle and paused states. Sender "GameLevel".
#pragma once

#include "GameObjectManager.h"

#include <string>

class GameLevel {
public:
    static constexpr float kFirstSplashSeconds = 10.0f;
    static constexpr float kSplashSeconds = 5.0f;
    static constexpr float kPlayingStageSeconds = 0.5f;
    static constexpr int kPlayersInPlay = 4;

    GameLevel() = default;

    // Loads the level's objects and an "Arbiter", and starts a new round: the end flag and the dead
    // and escaped counts are cleared.
    void LoadLevel(const std::string& name, int players);
    // Music and cursor for the current state; the splash states also restart the stage timer.
    void StartStage(float timer, float duration);
    void Update(float dt);
    // Creates "Player1".."PlayerN" from their archetypes with their flare textures and groups.
    void SpawnPlayers();
    // Forgets the players, then destroys every object.
    void Unload();
    std::string GetLevelName() const { return mLevelName; }

    bool IsRoundOver() const { return mEnded; }
    void SetSkip() { mSkip = true; }
    bool GetSkip() const { return mSkip; }
    float GetStageTimer() const { return mStageTimer; }
    float GetStageDuration() const { return mStageDuration; }
    int GetPlayerCount() const { return mPlayerCount; }
    void AddDead() { ++mDead; }
    void AddEscaped() { ++mEscaped; }
    int GetDeadCount() const { return mDead; }
    int GetEscapedCount() const { return mEscaped; }
    GameObjectManager& GetObjectManager() { return mObjects; }
    const GameObjectManager& GetObjectManager() const { return mObjects; }
    // True when the last level was entered through the playing transition (see Restart).
    bool WasEnteredByPlaying() const { return mEnteredByPlaying; }
    // Restarts the current level: forgets the players, destroys every object and loads it again;
    // a round entered through the playing transition gets its players spawned again.
    void Restart();

    GameLevel(const GameLevel&) = delete;
    GameLevel& operator=(const GameLevel&) = delete;

private:
    // Sets the state, then unloads, loads the level and starts its stage.
    void NextSplash(int state, const std::string& level, bool spawn);
    void GoToPlaying();
    void UpdatePlaying(float dt);

    bool mEnded = false;
    bool mSkip = false;
    float mStageTimer = 0.0f;
    float mStageDuration = 0.0f;
    int mPlayerCount = kPlayersInPlay;
    GameObjectManager mObjects;
    std::string mLevelName;
    int mDead = 0;
    int mEscaped = 0;
    bool mEnteredByPlaying = false;
};
