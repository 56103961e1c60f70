#include "SoundSystem.h"

#include <Callable.h>
#include <Engine.h>

#include <cstdint>

namespace {

std::uint32_t GameObjectId(void* gameObject) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(gameObject));
}

} // namespace

void SoundSystem::Initialize() {
    Engine::RegisterListener(MessageType::PostSoundEvent, Callable(this, &SoundSystem::OnPostSoundEvent));
    Engine::RegisterListener(MessageType::SoundRTPC, Callable(this, &SoundSystem::OnSoundRTPC));
}

int SoundSystem::Release() {
    Engine::UnregisterListener(MessageType::PostSoundEvent, Callable(this, &SoundSystem::OnPostSoundEvent));
    Engine::UnregisterListener(MessageType::SoundRTPC, Callable(this, &SoundSystem::OnSoundRTPC));
    return 0;
}

void SoundSystem::OnPostSoundEvent(const std::shared_ptr<Message>& message) {
    const auto* post = dynamic_cast<const PostSoundEventMessage*>(message.get());
    if (!post) return;
    // The mute bytes decide what is resumed when the window gets the focus back.
    switch (post->GetEventID()) {
    case kMusicMuteEvent:
        mMusicMuted = true;
        break;
    case kMusicUnmuteEvent:
        mMusicMuted = false;
        break;
    case kSfxMuteEvent:
        mSfxMuted = true;
        break;
    case kSfxUnmuteEvent:
        mSfxMuted = false;
        break;
    default:
        break;
    }
}

void SoundSystem::OnSoundRTPC(const std::shared_ptr<Message>& message) {
    const auto* rtpc = dynamic_cast<const SoundRTPCMessage*>(message.get());
    if (!rtpc) return;
    mParameters[{GameObjectId(rtpc->GetGameObject()), rtpc->GetName()}] = rtpc->GetValue();
}
