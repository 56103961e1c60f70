// The "Sound" system until the game sound system arrives: it takes the sound messages the game sends
// and keeps what the player muted, without a sound engine behind it.
#pragma once

#include <Messages.h>
#include <System.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

class SoundSystem : public System {
public:
    static constexpr std::uint32_t kMusicMuteEvent = 0x205DA04D;
    static constexpr std::uint32_t kMusicUnmuteEvent = 0x3474117A;
    static constexpr std::uint32_t kSfxMuteEvent = 0x63C39CE1;
    static constexpr std::uint32_t kSfxUnmuteEvent = 0x305775FC;
    // A message naming game object 0 means this one.
    static constexpr std::uint32_t kDefaultGameObject = 10;

    explicit SoundSystem(const std::wstring& name) : System(name) {}

    void Initialize() override;
    int Release() override;

    void OnPostSoundEvent(const std::shared_ptr<Message>& message);
    void OnSoundRTPC(const std::shared_ptr<Message>& message);

    bool IsMusicMuted() const { return mMusicMuted; }
    bool IsSfxMuted() const { return mSfxMuted; }
    // The last value set for (game object, parameter name); game object 0 is global.
    const std::map<std::pair<std::uint32_t, std::string>, float>& GetParameters() const {
        return mParameters;
    }

private:
    std::map<std::pair<std::uint32_t, std::string>, float> mParameters;
    bool mMusicMuted = false;
    bool mSfxMuted = false;
};
