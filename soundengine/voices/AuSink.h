// Output sinks: each output device hands one mixed buffer per frame to its sink, which delivers
// it to the system's audio output. The hardware sinks plug in through IAuHardwareSinks; without
// them every device gets the silent sink, paced by the clock.
#pragma once

#include "voices/AuMixKernels.h"
#include "voices/AuPipelineBuffer.h"

#include <AU/AuInitSettings.h>
#include <AU/MemoryMgr.h>

#include <new>
#include <utility>

struct IXAudio2;
struct IDirectSound8;

enum AuSinkKind : u32 {
    AuSinkKind_XAudio2 = 1,
    AuSinkKind_DirectSound = 2,
    AuSinkKind_Dummy = 4,
};

struct AuSinkInfo {
    u32 uKind;
    u32 uReserved;
};

class CAuSinkBase {
public:
    virtual ~CAuSinkBase() = default;
    // Destroys the sink and gives its memory back to the lower-engine pool; the sink is gone after.
    virtual AURESULT Term(AU::IAuPluginMemAlloc* allocator);
    // Once after creation or a swap, before the first buffer.
    virtual AURESULT Start() { return AuResultSuccess; }
    virtual AURESULT GetInfo(AuSinkInfo& info) {
        info = {7, 0};
        return AuResultSuccess;
    }
    // [audio thread] Buffers the sink can take now; 2 when the device failed.
    virtual AURESULT IsDataNeeded(u32& buffers) noexcept = 0;
    // [audio thread] Adds a device mix into the sink's buffer, ramping from the previous to the
    // target gain. The first mix of a frame clears the buffer.
    virtual void PassData(const AuPipelineBuffer& buffer, f32 previousGain, f32 targetGain) noexcept = 0;
    // [audio thread] Hands exactly one buffer on: the mix, or silence when nothing was passed.
    virtual AURESULT OnFrameEnd() noexcept = 0;
    virtual bool IsStarved() noexcept = 0;
    virtual void ResetStarved() noexcept = 0;
    // [audio thread] The buffer PassData adds into, emptied.
    virtual AuPipelineBuffer& NextWriteBuffer() noexcept = 0;
    virtual AURESULT WriteMix() noexcept = 0;
    virtual AURESULT WriteSilence() noexcept = 0;
    // Milliseconds the audio thread may sleep between wake-ups.
    virtual u32 GetWaitTimeout() noexcept = 0;
    virtual IXAudio2* GetXAudio2Interface() { return nullptr; }
    virtual IDirectSound8* GetDirectSoundInstance() { return nullptr; }

    AuChannelConfig ChannelConfig() const { return m_channelConfig; }

protected:
    // Set by PassData, cleared by OnFrameEnd; audio thread only.
    u32 m_bDataPassed = 0;
    AuChannelConfig m_channelConfig;
};

// A sink that mixes into an interleaved float buffer of its own.
class CAuBufferedSink : public CAuSinkBase {
public:
    explicit CAuBufferedSink(AuSinkKind kind);
    ~CAuBufferedSink() override;

    void PassData(const AuPipelineBuffer& buffer, f32 previousGain, f32 targetGain) noexcept override;
    AURESULT OnFrameEnd() noexcept override;
    AuPipelineBuffer& NextWriteBuffer() noexcept override;

    // Channels x frames per buffer floats, cleared, 16-byte aligned from the lower-engine pool;
    // 1 or 52.
    AURESULT AllocBuffer(AuChannelConfig config);
    const AuPipelineBuffer& Buffer() const { return m_buffer; }
    AuSinkKind Kind() const { return m_eKind; }

protected:
    AuPipelineBuffer m_buffer;
    AuSinkKind m_eKind;
};

// Makes no sound; answers for buffers as the clock (GetTickCount) says they would be played.
class CAuDummySink final : public CAuBufferedSink {
public:
    CAuDummySink() : CAuBufferedSink(AuSinkKind_Dummy) {}

    AURESULT Init(AuChannelConfig config);
    AURESULT IsDataNeeded(u32& buffers) noexcept override;
    bool IsStarved() noexcept override { return false; }
    void ResetStarved() noexcept override {}
    AURESULT WriteMix() noexcept override { return AuResultSuccess; }
    AURESULT WriteSilence() noexcept override { return AuResultSuccess; }
    u32 GetWaitTimeout() noexcept override;

    u32 PeriodMs() const { return m_uPeriodMs; }

private:
    u32 m_uLastTick = 0;
    u32 m_uPeriodMs = 0;
};

// The hardware outputs, installed by the output side once it exists; each answers null when its
// output cannot be opened.
class IAuHardwareSinks {
public:
    virtual CAuSinkBase* CreateXAudio2Sink(const AuPlatformInitSettings& platform, u32 channelMask,
                                           u32 options) = 0;
    virtual CAuSinkBase* CreateDirectSoundSink(const AuPlatformInitSettings& platform, u32 channelMask) = 0;

protected:
    ~IAuHardwareSinks() = default;
};

// Null removes them.
void AuSetHardwareSinks(IAuHardwareSinks* sinks);

// Builds an object of type T in the lower-engine pool; null when the pool is exhausted.
template <class T, class... Args> T* AuNewInLEngine(Args&&... args) {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(T), 16);
    return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

// A started-nothing dummy sink of this configuration; null when memory is short.
CAuDummySink* AuCreateDummySink(AuChannelConfig config);

// The factory: the silent sink when the options hold 4 (a configuration of count 0 takes the main
// sink's, or stereo); else the XAudio2 sink, else the DirectSound sink; null when both fail.
CAuSinkBase* CreateOutputSink(const AuOutputSettings& settings, u32 options);
