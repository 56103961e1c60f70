// The one buffer record that travels through the lower engine: sources fill it, the voice stages
// process it in place, busses mix it, and each output device hands its mix to its sink.
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuTypes.h>

#include <cstddef>

// A cue point reached inside a buffer; its layout belongs to the sources.
struct AuBufferMarker;

constexpr u32 AU_NO_SOURCE_POSITION = 0xFFFFFFFFu;

struct AuPipelineBuffer {
    // Planar: channel c starts at pData + c x uMaxFrames; the LFE, when present, is the last.
    f32* pData = nullptr;
    AuChannelConfig channelConfig;
    // The last stage's result: 43 data needed, 45 data ready, 17 last buffer (still mixed),
    // 46 nothing this pass (late stream); anything else ends the voice's pass.
    AURESULT eState = AuResultDataNeeded;
    u16 uMaxFrames = 0;
    u16 uValidFrames = 0;
    f32 fGain = 1.0f;
    f32 fPrevGain = 1.0f;
    u16 uNumMarkers = 0;
    AuBufferMarker* pMarkers = nullptr;
    u32 uPosition = AU_NO_SOURCE_POSITION;
    // Source frames per output frame at uPosition, where a stage changes the timing.
    f32 fSpeed = 1.0f;

    // Channels x frames floats, 16-byte aligned, from the lower-engine pool, not cleared; 52
    // leaves the record as it was.
    AURESULT AllocAudioBuffer(u16 maxFrames, AuChannelConfig config);
    void FreeAudioBuffer();
    void FreeMarkers();

    f32* GetChannel(u32 channel) const { return pData + static_cast<size_t>(channel) * uMaxFrames; }
    // Null when the configuration has no LFE.
    f32* GetLFE() const {
        return channelConfig.HasLFE() ? GetChannel(channelConfig.NumChannels() - 1) : nullptr;
    }
    u32 NumChannels() const { return channelConfig.NumChannels(); }

    // The record every voice pass starts from; the storage is left to the stages.
    void PrepareForVoicePass(u16 maxFrames);
};
