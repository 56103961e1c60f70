// Engine-wide settings that both the game and the banks write: the volume threshold under which
// voices go virtual, and the voice limit. A lower priority number wins.
#pragma once

#include <AU/AuTypes.h>

constexpr u32 AU_SETTING_PRIORITY_GAME = 0;
constexpr u32 AU_SETTING_PRIORITY_BANK = 2;
constexpr u32 AU_SETTING_PRIORITY_INITIAL = 3;

constexpr f32 AU_DEFAULT_VOLUME_THRESHOLD_DB = -96.3f;
// 2^-16: the linear threshold the engine starts with.
constexpr f32 AU_DEFAULT_VOLUME_THRESHOLD_LINEAR = 1.52587890625e-05f;
constexpr f32 AU_MIN_VOLUME_THRESHOLD_DB = -96.3f;
constexpr u16 AU_DEFAULT_MAX_NUM_VOICES = 256;

namespace AuEngineSettings {

// Back to the start values and priorities; from the engine's Init.
void Reset();
// Any thread.
f32 VolumeThresholdDb();
f32 VolumeThresholdLinear();
u16 MaxNumVoices();
u32 VolumeThresholdPriority();
u32 MaxNumVoicesPriority();

} // namespace AuEngineSettings
