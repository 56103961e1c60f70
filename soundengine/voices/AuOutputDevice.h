// One place where the mix leaves the engine: the main output {16, 0}, secondary outputs and the
// motion output. Each has its sink, channel configuration, speaker angles, pan tables, listener
// mask, volume and, while a capture runs, its capture writer.
#pragma once

#include "voices/AuPipelineBuffer.h"
#include "voices/AuSpeakerPan.h"

#include <AU/AuInitSettings.h>
#include <memory/AuArray.h>

class CAuSinkBase;
class CAuWavFileWriter;

struct AuPanTableEntry {
    u32 uSpeakerMask;
    AuPanTable* pTable; // default pool
};

// The 16-bit interleaved mix of one frame while a capture runs.
struct AuCaptureBuffer {
    i16* pSamples = nullptr;
    AuChannelConfig channelConfig;
    u16 uValidFrames = 0;
};

class CAuOutputDevice {
public:
    CAuOutputDevice* pNextItem = nullptr;
    u32 uOwner = 0;
    u32 uDeviceType = 0;
    u32 uDeviceId = 0;
    u32 uListenerMask = 0;
    bool bIsMainOutput = false;
    // The sink's actual configuration.
    AuChannelConfig channelConfig;
    u32* pSpeakerAngles = nullptr; // lower-engine pool
    u32 uNumSpeakerAngles = 0;
    f32 fInvMinSpeakerGap = 0.0f;
    f32 fHeightAngle = 0.0f;
    AuPanningRule ePanningRule = AuPanningRule_Speakers;
    AuOutputSettings settings{};
    u32 uOptions = 0;
    AuArray<AuPanTableEntry> panTables;
    CAuSinkBase* pSink = nullptr;
    f32 fPrevVolume = 1.0f;
    f32 fVolume = 1.0f;
    CAuWavFileWriter* pCaptureWriter = nullptr;
    AuCaptureBuffer captureBuffer;
    // A device-layout buffer for busses whose layout differs from the device's.
    AuPipelineBuffer conversionBuffer;

    bool Is(u32 type, u32 id) const { return uDeviceType == type && uDeviceId == id; }

    // Makes the sink (the factory with this device's settings and options) and takes its
    // configuration, turning a back pair alone into a side pair; 1, or 52 without a sink.
    AURESULT CreateSink() { return CreateSink(settings.channelConfig); }
    // The same, asking the factory for `layout` instead of the settings' configuration.
    AURESULT CreateSink(AuChannelConfig layout);
    // 31 for a height outside [-90, 90] (nothing changes); 2 when memory is short or the angles
    // are invalid (the old ones stay). Every pan table is rebuilt either way.
    AURESULT SetSpeakerAngles(const f32* degrees, u32 count, f32 height);
    // 2 without a sink or for a non-standard configuration (count and height 0). Null angles ask
    // only for the count (3).
    AURESULT GetSpeakerAngles(f32* degrees, u32& count, f32& height) const;
    // The pan table of a speaker mask, made on first use from the angles; null when it cannot
    // be made.
    AuPanTable* GetPanningTable(u32 speakerMask);

    // [audio thread] One top bus of the device's type and id: through the device's and the
    // engine's volume ramps into the sink, and into the capture buffer while capturing.
    void MixBus(const AuPipelineBuffer& busBuffer) noexcept;
    // [audio thread] Writes the capture frame, hands one buffer to the sink, advances the volume.
    void EndFrame() noexcept;

    // Capture of this device's mix to a file; 1, or the failure (the device then does not capture).
    AURESULT StartCapture(const wchar_t* fileName);
    void StopCapture();

    // Stops the capture, terminates the sink, frees the angles, pan tables and buffers.
    void Destroy();

private:
    void RebuildPanTables();
    const AuPipelineBuffer* ToDeviceLayout(const AuPipelineBuffer& busBuffer) noexcept;
};
