// The interfaces between the engine's plug-in hosts (voice effect nodes, bus inserts) and the
// effect plug-ins, with the records they exchange. Every slot runs on the audio thread, where the
// host calls it during the pipeline pass; parameter updates reach the same thread, so nothing locks.
#pragma once

#include "voices/AuMixKernels.h"
#include "voices/AuPipelineBuffer.h"
#include "voices/AuPositioning.h"

#include <AU/AuChannelConfig.h>
#include <AU/AuPluginTypes.h>

struct AuPluginInfo {
    AuPluginType eType = AuPluginTypeNone;
    bool bIsInPlace = false;
    // A host drops an instance that sets this and leaves its slot empty.
    bool bRefused = false;
};

// What a host hands to a plug-in's Init.
struct AuPluginFormat {
    u32 uSampleRate = 0;
    AuChannelConfig channelConfig;
};

class CAuCpuInfo;

namespace AU {

class IAuStreamMgr;

// The host's side of one effect instance: what the effects ask about where they run.
class IAuEffectPluginContext {
public:
    // [audio thread] The engine's frames per buffer in the low 16 bits.
    virtual u32 GetMaxBufferLength() const noexcept = 0;
    // [audio thread] True on a bus fed by sends, where no dry signal may pass; false on voices.
    virtual bool IsSendModeEffect() const noexcept = 0;
    // [audio thread] The media at the effect's own media index, held until the effect ends. 1; 2
    // with null and 0 when there is none, or where the host serves no media.
    virtual AURESULT GetPluginMedia(u32 /*index*/, const u8*& data, u32& size) noexcept {
        data = nullptr;
        size = 0;
        return AuResultFail;
    }

protected:
    ~IAuEffectPluginContext() = default;
};

// An effect's parameters in their working form, shared by the host's updates and the effect.
class IAuPluginParam {
public:
    virtual ~IAuPluginParam() = default;
    // [audio thread] Stores one value by id; the size is not read.
    virtual AURESULT SetParam(u16 id, const void* value, u32 size) noexcept = 0;
    // A copy from `allocator` with every change flag raised; null without memory.
    virtual IAuPluginParam* Clone(IAuPluginMemAlloc* allocator) noexcept = 0;
    // Size 0 writes the defaults; otherwise the bank block is read.
    virtual AURESULT Init(IAuPluginMemAlloc* allocator, const void* block, u32 size) noexcept = 0;
    // Ends the object and returns its block to `allocator`.
    virtual AURESULT Term(IAuPluginMemAlloc* allocator) noexcept = 0;
    // A block shorter than the effect's layout is refused with 2 and the held values stay.
    virtual AURESULT SetParamsBlock(const void* block, u32 size) noexcept = 0;
};

class IAuPlugin {
public:
    virtual ~IAuPlugin() = default;
    // Frees what the effect allocated and the object itself.
    virtual AURESULT Term(IAuPluginMemAlloc* allocator) noexcept = 0;
    // [audio thread] Clears all signal memory; parameters and allocations stay.
    virtual AURESULT Reset() noexcept = 0;
    virtual AURESULT GetPluginInfo(AuPluginInfo& info) noexcept = 0;
    // 1, 2 (nothing to process) or 52; a failure leaves what was allocated for Term.
    virtual AURESULT Init(IAuPluginMemAlloc* allocator, IAuEffectPluginContext* context,
                          IAuPluginParam* params, AuPluginFormat& format) noexcept = 0;
    // [audio thread] Processes the valid frames in place; the outcome is the buffer's state.
    virtual void Execute(AuPipelineBuffer& buffer) noexcept = 0;
    // [audio thread] The host advanced without processing.
    virtual AURESULT TimeSkip(u32 frames) noexcept = 0;
};

// An effect that writes its own output buffer, which may differ from its input in length and
// channel configuration. Its GetPluginInfo clears bIsInPlace; hosts never run it in place.
class IAuOutOfPlacePlugin : public IAuPlugin {
public:
    // [audio thread] Takes input frames from `inputOffset` on, lowering in.uValidFrames by what it
    // took, appends to out's valid frames and sets out's state: 45 full, 43 wants more input, 17
    // after the last input.
    virtual void Execute(AuPipelineBuffer& in, u32 inputOffset, AuPipelineBuffer& out) noexcept = 0;
    void Execute(AuPipelineBuffer& buffer) noexcept final { buffer.eState = AuResultFail; }
};

} // namespace AU

namespace AU {

// What a generator may ask about the voice it plays in: its game object as that object's
// listeners hear it, and the playing instance. The engine only forwards the game object's values.
class IAuSourceVoiceInfo {
public:
    // [audio thread] Every query.
    virtual u32 GetGameObjectID() const noexcept = 0;
    // The game object's emitter-listener pairs, for all its listeners.
    virtual u32 GetNumEmitterListenerPairs() const noexcept = 0;
    // 2 past the pairs.
    virtual AURESULT GetEmitterListenerPair(u32 index, AuEmitterListenerPair& out) const noexcept = 0;
    // 1 unless the game object has several positions.
    virtual u32 GetNumPositions() const noexcept = 0;
    // 2 past the positions.
    virtual AURESULT GetPosition(u32 index, AuSoundPosition& out) const noexcept = 0;
    virtual u32 GetMultiPositionType() const noexcept = 0;
    virtual f32 GetAttenuationScaling() const noexcept = 0;
    virtual u8 GetListenerMask() const noexcept = 0;
    // The index-th listener of the mask; null past them.
    virtual const AuListenerData* GetListenerData(u32 index) const noexcept = 0;
    virtual AuPlayingID GetPlayingID() const noexcept = 0;
    virtual u32 GetPriority() const noexcept = 0;

protected:
    ~IAuSourceVoiceInfo() = default;
};

// The host's side of a source plug-in: what a generator asks about the voice it plays in.
class IAuSourcePluginContext {
public:
    // [audio thread] The engine's frames per buffer.
    virtual u32 GetMaxBufferLength() const noexcept = 0;
    // [audio thread] The media at the generator's own media index; 2 with null and 0 without one.
    virtual AURESULT GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept = 0;
    // The playing instance's loop count: 0 loops without end.
    virtual u16 GetNumLoops() const noexcept = 0;
    // Where the voice sounds from; it lives as long as the generator.
    virtual const IAuSourceVoiceInfo* GetVoiceInfo() const noexcept = 0;

protected:
    ~IAuSourcePluginContext() = default;
};

// A generator that a voice plays in place of media. Its GetPluginInfo gives AuPluginTypeSource;
// its Execute fills the valid frames of a planar float buffer and sets the buffer's state (45 with
// more to come, 17 with the last frames).
class IAuSourcePlugin : public IAuPlugin {
public:
    // The format offered (48 kHz mono) may be changed to the one the generator produces.
    virtual AURESULT Init(IAuPluginMemAlloc* allocator, IAuSourcePluginContext* context,
                          IAuPluginParam* params, AuPluginFormat& format) noexcept = 0;
    // Milliseconds; 0 when it plays without end.
    virtual f32 GetDuration() const noexcept = 0;
    // [audio thread] The current pass is the last.
    virtual void StopLooping() noexcept = 0;
    // [audio thread] To a sample position of its output; 1, or 2 when it cannot.
    virtual AURESULT Seek(u32 position) noexcept = 0;
    // [audio thread] The linear level of what it produces now.
    virtual f32 GetEnvelope() const noexcept = 0;

    // A generator has no effect context.
    AURESULT Init(IAuPluginMemAlloc*, IAuEffectPluginContext*, IAuPluginParam*,
                  AuPluginFormat&) noexcept final {
        return AuResultFail;
    }
};

} // namespace AU

namespace AU {

// What a bus offers the mixer plug-in that mixes its inputs: where it runs, and the engine's
// panning and mixing routines. Matrices hold one row per input channel, each padded to a
// multiple of four floats (AuMatrixRowStride). [audio thread], under g_csMain.
class IAuMixerPluginContext {
public:
    virtual IAuStreamMgr* GetStreamMgr() const noexcept = 0;
    virtual u32 GetMaxBufferLength() const noexcept = 0;
    // The media at the mixer's own media index, held while the mixer lives; 2 with null and 0.
    virtual AURESULT GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept = 0;
    virtual CAuCpuInfo* GetCpuInfo() const noexcept = 0;
    virtual u32 GetBusID() const noexcept = 0;
    // 0 an audio bus, 1 the master audio bus, 2 a motion bus, 3 the master motion bus.
    virtual u32 GetBusType() const noexcept = 0;
    // The angles of the bus's output device; 2 without a device.
    virtual AURESULT GetSpeakerAngles(f32* degrees, u32& count, f32& height) const noexcept = 0;
    // The matrix from `input` to `output` without a pan position.
    virtual AURESULT ComputeSpeakerVolumesDirect(AuChannelConfig input, AuChannelConfig output, f32 spread,
                                                 f32* matrix) noexcept = 0;
    // x left to right and y rear to front in -1 .. 1; centre 0 .. 1.
    virtual AURESULT ComputeSpeakerVolumes2DPanner(f32 x, f32 y, f32 centre, AuChannelConfig input,
                                                   AuChannelConfig output, f32* matrix) noexcept = 0;
    // A direction (radians, positive to the right) over the output's speakers without its LFE:
    // one row per input channel but the LFE, spread over an arc and drawn together by focus (both
    // percentages); centre 0 .. 1 is the share of the centre speaker. 2 without the bus's device.
    virtual AURESULT ComputeSpeakerVolumes3D(f32 azimuth, f32 centre, f32 spread, f32 focus,
                                             AuChannelConfig input, AuChannelConfig output,
                                             f32* matrix) noexcept = 0;
    // As ComputeSpeakerVolumes3D with the full centre, and the input's LFE to the output's LFE
    // when both have one. The speakers are panned in the horizontal plane: the elevation does
    // not move the sound.
    virtual AURESULT ComputePositioning(f32 azimuth, f32 elevation, f32 spread, AuChannelConfig input,
                                        AuChannelConfig output, f32 focus, f32* matrix) noexcept = 0;
    // Vector-base panning over speakers anywhere on the sphere, given as (azimuth, elevation)
    // pairs in radians. The set comes from `allocator` and is the mixer's until it terminates it;
    // 2 with fewer than two speakers or without memory.
    virtual AURESULT InitSphericalVBAP(IAuPluginMemAlloc* allocator, const f32* positions, u32 count,
                                       void*& handle) noexcept = 0;
    // The gains of one direction over the first `channels` speakers of the set (unit power).
    virtual AURESULT ComputeSpeakerVolumesVBAP(void* handle, f32 azimuth, f32 elevation, u32 channels,
                                               f32* gains) noexcept = 0;
    virtual AURESULT TermSphericalVBAP(IAuPluginMemAlloc* allocator, void* handle) noexcept = 0;
    // Adds `input` into `output` through the matrices, ramping from the previous to the next over
    // the bus's frames.
    virtual void MixNChannels(const AuPipelineBuffer& input, AuPipelineBuffer& output,
                              const f32* previousMatrix, const f32* nextMatrix) noexcept = 0;
    // Adds one channel into `output` through one row of each matrix, scaled by the gains.
    virtual void MixChannel(const f32* input, AuPipelineBuffer& output, AuGainPair gains,
                            const f32* previousRow, const f32* nextRow) noexcept = 0;
    // Adds `input` into `output` with the gain ramping from `start` to `end` over `frames`.
    virtual void ApplyGainRamp(const f32* input, f32* output, f32 start, f32 end, u32 frames) noexcept = 0;
    // The measures the mixer wants of the bus (AuMeteringFlags).
    virtual void EnableMetering(u32 flags) noexcept = 0;

protected:
    ~IAuMixerPluginContext() = default;
};

// A plug-in that takes over a bus's mixing: it receives every input the bus would mix and leaves
// the mix in the bus's buffer. Its GetPluginInfo gives AuPluginTypeMixer. [audio thread] for every
// call after Init.
class IAuMixerPlugin : public IAuPlugin {
public:
    virtual AURESULT Init(IAuPluginMemAlloc* allocator, IAuMixerPluginContext* context,
                          IAuPluginParam* params, AuPluginFormat& format) noexcept = 0;
    // An input joined the bus for this frame, before it is mixed; and one that left.
    virtual void OnInputConnected() noexcept = 0;
    virtual void OnInputDisconnected() noexcept = 0;
    // One input (a voice or a child bus) with the matrices and volume pair the bus would use;
    // `mix` is the bus's buffer. The previous matrix may equal the current one.
    virtual void ConsumeInput(const AuPipelineBuffer& input, const f32* previousMatrix,
                              const f32* currentMatrix, AuGainPair volumes,
                              AuPipelineBuffer& mix) noexcept = 0;
    // Every input of the frame was handed over; the bus's inserts run next.
    virtual void OnMixDone(AuPipelineBuffer& mix) noexcept = 0;
    // The inserts and the metering are done with the frame's mix.
    virtual void OnEffectsProcessed(AuPipelineBuffer& mix) noexcept = 0;

    // A mixer has no effect context and processes nothing in place.
    AURESULT Init(IAuPluginMemAlloc*, IAuEffectPluginContext*, IAuPluginParam*,
                  AuPluginFormat&) noexcept final {
        return AuResultFail;
    }
    void Execute(AuPipelineBuffer& buffer) noexcept final { buffer.eState = AuResultFail; }
};

} // namespace AU
