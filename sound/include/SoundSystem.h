// The game's sound system "Sound": it starts the sound engine with the game's settings, effects and
// banks, turns the game's sound messages and the window's focus changes into sound-engine calls,
// renders audio once per frame and stops everything in the reverse order.
#pragma once

#include "SoundEngineCalls.h"

#include <AU/AuFilePackageLowLevelIOBlocking.h>
#include <Messages.h>
#include <System.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class SoundSystem : public System {
public:
    static constexpr std::uint32_t kMusicMuteEvent = 0x205DA04D;
    static constexpr std::uint32_t kMusicUnmuteEvent = 0x3474117A;
    static constexpr std::uint32_t kSfxMuteEvent = 0x63C39CE1;
    static constexpr std::uint32_t kSfxUnmuteEvent = 0x305775FC;
    // A message naming game object 0 means this one.
    static constexpr AuGameObjectID kDefaultGameObject = 10;
    // Every event keeps its sources' play positions; no callback is asked for.
    static constexpr u32 kPostEventFlags = 0x100000;

    // `calls` is what reaches the sound engine; it must outlive the system.
    explicit SoundSystem(const std::wstring& name, SoundEngineCalls& calls = SoundEngineCalls::Engine());
    ~SoundSystem() override = default;

    void Initialize() override;
    void Update(float dt) override;
    int Release() override;

    void OnPostSoundEvent(const std::shared_ptr<Message>& message);
    void OnSDLEvent(const std::shared_ptr<Message>& message);
    void OnSoundRTPC(const std::shared_ptr<Message>& message);
    void OnSeekEvent(const std::shared_ptr<Message>& message);
    void OnStopAllSounds(const std::shared_ptr<Message>& message);

    // Each makes one sound-engine call; a failure prints one console line and changes nothing.
    void LoadBank(const std::string& bankName);
    void UnloadAllBanks();
    void RegisterGameObject(const std::string& name);
    void SetRtpc(AuGameObjectID gameObject, const std::string& name, float value);
    void PostEvent(std::uint32_t eventID, AuGameObjectID gameObject);
    // Handles what the engine queued for this system, under the queue's mutex.
    void ProcessMessages();

    bool IsMusicMuted() const { return mMusicMuted; }
    bool IsSfxMuted() const { return mSfxMuted; }
    // File name -> file name of every bank loaded through this system.
    const std::unordered_map<std::string, std::string>& GetBanks() const { return mBanks; }
    const std::unordered_map<std::string, AuGameObjectID>& GetGameObjects() const { return mGameObjects; }

private:
    void Dispatch(const std::shared_ptr<Message>& message);
    void ReportStartupFailure(const char* text, int line);
    void ResetBankTable();

    CAuFilePackageLowLevelIOBlocking mLowLevelIO;
    std::unordered_map<std::string, std::string> mBanks;
    // The table's keys in load order, so that banks unload newest first.
    std::vector<std::string> mBankLoadOrder;
    std::unordered_map<std::string, AuGameObjectID> mGameObjects;
    bool mMusicMuted = false;
    bool mSfxMuted = false;
    SoundEngineCalls& mCalls;
};
