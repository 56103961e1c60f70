#include "core/AuEngineSettings.h"

#include "parameters/AuFastMath.h"

#include <AU/SoundEngine.h>

#include <atomic>
#include <cmath>

namespace {

// Written by whichever thread calls the setters (the game's, or the bank thread), read by the
// audio thread's voice starts. Each is one word on its own; a reader that sees a value a pass
// late decides one start with the older setting, so relaxed order is enough. Two setters racing
// may interleave their priority check and store, as plain stores would.
std::atomic<f32> s_thresholdDb{AU_DEFAULT_VOLUME_THRESHOLD_DB};
std::atomic<f32> s_thresholdLinear{AU_DEFAULT_VOLUME_THRESHOLD_LINEAR};
std::atomic<u32> s_thresholdPriority{AU_SETTING_PRIORITY_INITIAL};
std::atomic<u16> s_maxVoices{AU_DEFAULT_MAX_NUM_VOICES};
std::atomic<u32> s_maxVoicesPriority{AU_SETTING_PRIORITY_INITIAL};

} // namespace

namespace AuEngineSettings {

void Reset() {
    s_thresholdDb.store(AU_DEFAULT_VOLUME_THRESHOLD_DB, std::memory_order_relaxed);
    s_thresholdLinear.store(AU_DEFAULT_VOLUME_THRESHOLD_LINEAR, std::memory_order_relaxed);
    s_thresholdPriority.store(AU_SETTING_PRIORITY_INITIAL, std::memory_order_relaxed);
    s_maxVoices.store(AU_DEFAULT_MAX_NUM_VOICES, std::memory_order_relaxed);
    s_maxVoicesPriority.store(AU_SETTING_PRIORITY_INITIAL, std::memory_order_relaxed);
}

f32 VolumeThresholdDb() {
    return s_thresholdDb.load(std::memory_order_relaxed);
}

f32 VolumeThresholdLinear() {
    return s_thresholdLinear.load(std::memory_order_relaxed);
}

u16 MaxNumVoices() {
    return s_maxVoices.load(std::memory_order_relaxed);
}

u32 VolumeThresholdPriority() {
    return s_thresholdPriority.load(std::memory_order_relaxed);
}

u32 MaxNumVoicesPriority() {
    return s_maxVoicesPriority.load(std::memory_order_relaxed);
}

} // namespace AuEngineSettings

namespace AU::SoundEngine {

AURESULT SetVolumeThresholdInternal(f32 thresholdDb, u32 priority) {
    if (!(thresholdDb >= AU_MIN_VOLUME_THRESHOLD_DB && thresholdDb <= 0.0f)) return AuResultInvalidParameter;
    if (priority > s_thresholdPriority.load(std::memory_order_relaxed)) return AuResultSuccess;
    s_thresholdPriority.store(priority, std::memory_order_relaxed);
    s_thresholdDb.store(thresholdDb, std::memory_order_relaxed);
    // Voices compare levels made by the fast conversion: the larger of the two gains keeps a voice
    // exactly at the threshold from passing it by the conversion's error.
    const f32 exact = static_cast<f32>(std::pow(10.0, thresholdDb / 20.0));
    const f32 fast = AuDbToLinear(thresholdDb);
    s_thresholdLinear.store(exact > fast ? exact : fast, std::memory_order_relaxed);
    return AuResultSuccess;
}

AURESULT SetMaxNumVoicesLimitInternal(u16 maxVoices, u32 priority) {
    if (maxVoices == 0) return AuResultInvalidParameter;
    if (priority > s_maxVoicesPriority.load(std::memory_order_relaxed)) return AuResultSuccess;
    s_maxVoicesPriority.store(priority, std::memory_order_relaxed);
    s_maxVoices.store(maxVoices, std::memory_order_relaxed);
    return AuResultSuccess;
}

} // namespace AU::SoundEngine
