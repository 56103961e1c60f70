#include "music/AuMusicTriggers.h"

#include <atomic>

namespace {

// Written by the state manager on the game's thread while no audio thread runs; read by the
// sequencers on the audio thread. Release and acquire publish the registry it points to.
std::atomic<IAuTriggerRegistry*> s_pTriggerRegistry{nullptr};

} // namespace

void AuSetTriggerRegistry(IAuTriggerRegistry* registry) noexcept {
    s_pTriggerRegistry.store(registry, std::memory_order_release);
}

IAuTriggerRegistry* AuGetTriggerRegistry() noexcept {
    return s_pTriggerRegistry.load(std::memory_order_acquire);
}
