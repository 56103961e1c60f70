// The interfaces between the engine's plug-in hosts (voice effect nodes, bus inserts) and the
// effect plug-ins, with the records they exchange. Every slot runs on the audio thread, where the
// host calls it during the pipeline pass; parameter updates reach the same thread, so nothing locks.
#pragma once

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

namespace AU {

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
