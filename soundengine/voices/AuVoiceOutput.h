// A voice's connection to one mixing bus on one output device: the voice's gain toward it this
// frame and last, and the mixing matrices the bus ramps between. Also the pieces of the voices'
// volume computation that need no engine around them. Audio thread, under g_csMain.
#pragma once

#include "voices/AuBusGraph.h"
#include "voices/AuVoiceContext.h"

class CAuVoiceOutput {
public:
    enum Kind : u32 { kDry = 0, kGameSend = 1, kUserSend = 2 };
    static constexpr u8 kFlagCreated = 1 << 0;
    static constexpr u8 kFlagBelow = 1 << 1;
    static constexpr u8 kFlagBelowLast = 1 << 2;
    static constexpr u8 kFlagLevelBus = 1 << 4;

    // Registered with the bus; null without memory. An output added to a voice that sounds
    // starts as if below the threshold, so that it fades in.
    static CAuVoiceOutput* Create(CAuVoiceContext* voice, CAuOutputBus* bus, u32 deviceType, u32 deviceId,
                                  Kind kind, bool voiceAudible, bool levelBus) noexcept;
    // Unregisters from the bus and frees the matrices.
    static void Destroy(CAuVoiceOutput* output) noexcept;

    // The frame's matrices for a voice of `input` (step 9 of the volumes): swapped when they fit
    // the voice, else made anew and started without a ramp; refilled by the 2D panner (scaled by
    // `sourceLevel`) or cleared below the threshold. `first` is the voice's first computation.
    void UpdateMatrices(AuChannelConfig input, f32 x, f32 y, f32 c, bool pan, f32 sourceLevel,
                        bool first) noexcept;
    bool HasMatrices() const { return m_bHasMatrices; }
    u32 MatrixInputs() const { return m_uMatrixInputs; }
    // Times the matrices were made for a new channel count.
    u32 MatrixRebuilds() const { return m_uRebuilds; }

    // What bus-side processing and plug-ins ask of the voice through this output, each for the
    // listeners of the output's device (a device that has gone hears none).
    u32 DeviceListenerMask() const noexcept;
    bool IsPositioned() const noexcept;
    f32 CentreFactor() const noexcept;
    u8 PositioningMode() const noexcept;
    // Left-right and front-rear in -1..1 (and 0) with the 2D panner on a 2D sound, else zeros.
    void Get2DPanning(f32 (&pan)[3]) const noexcept;
    // The voice's rays the device's listeners hear, counted for 3D sounds only.
    u32 NumRays() const noexcept;
    // 2 when there is no such ray.
    AURESULT GetRay(u32 index, AuVoiceRay& ray) const noexcept;
    // Both matrices (inputs x padded bus channels), or zeros without them.
    void GetMatrices(f32* previous, f32* current) const noexcept;
    u32 GameObjectID() const noexcept;
    // The voice's listeners that the device hears.
    u32 ListenerMask() const noexcept;
    AuPlayingID PlayingID() const noexcept;
    f32 Priority() const noexcept;

    f32 fPrevVolume = 1.0f;
    f32 fVolume = 1.0f;
    f32* pPrevMatrix = nullptr;
    f32* pMatrix = nullptr;
    CAuVoiceContext* pVoice = nullptr;
    CAuOutputBus* pBus = nullptr;
    u32 uDeviceType = 0;
    u32 uDeviceId = 0;
    f32 fTargets[4] = {};
    f32 fGain = 0.0f;
    Kind eKind = kDry;
    u8 uFlags = kFlagCreated;
    CAuVoiceOutput* pNext = nullptr;

private:
    void FreeMatrices() noexcept;

    bool m_bHasMatrices = false;
    u32 m_uMatrixInputs = 0;
    u32 m_uMatrixOutputs = 0;
    u32 m_uRebuilds = 0;
};

// The voice's send list for this frame: the instance's sends up to the first empty one, at most
// eight (more are ignored). A send gone from the list takes its output with it in the same frame.
u32 AuTakeAuxSends(const AuAuxSend* given, u32 count, AuAuxSend* list) noexcept;

// The level window's gain for a voice whose loudest output is `loudestDb`.
f32 AuLevelWindowGain(f32 loudestDb, const AuLevelWindow& window) noexcept;
