// The XAudio2 output sink: one mastering and one source voice, fed from a ring of eight buffers of
// 32-bit float frames. The audio thread writes the ring; XAudio2's callback thread submits written
// slots to the source voice and wakes the audio thread when the voice runs low.
#pragma once

#include "voices/AuSink.h"

#include <xaudio2.h>

#include <atomic>

constexpr u32 AU_XAUDIO2_RING_SLOTS = 8;

class CAuXAudio2Sink final : public CAuBufferedSink {
public:
    CAuXAudio2Sink();
    ~CAuXAudio2Sink() override;

    // Game thread at start, audio thread when sinks are restored. 1, or 2 when any step fails (the
    // caller then calls Term).
    AURESULT Init(const AuPlatformInitSettings& platform, u32 channelMask, u32 options);
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) override;
    AURESULT Start() override;
    // [audio thread] The fewest buffers any XAudio2 sink can take, so that every XAudio2 device
    // renders the same count; 2 after a critical error.
    AURESULT IsDataNeeded(u32& buffers) noexcept override;
    bool IsStarved() noexcept override { return m_bStarved.load(std::memory_order_relaxed); }
    void ResetStarved() noexcept override { m_bStarved.store(false, std::memory_order_relaxed); }
    // [audio thread] Each writes one ring slot and counts it written.
    AURESULT WriteMix() noexcept override;
    AURESULT WriteSilence() noexcept override;
    u32 GetWaitTimeout() noexcept override;
    IXAudio2* GetXAudio2Interface() override { return m_pXAudio2; }

    u32 WriteIndex() const { return m_uWriteIndex; }
    u32 RefillCount() const { return m_uRefill; }
    i32 WrittenCount() const { return m_iWritten.load(std::memory_order_acquire); }
    const f32* Slot(u32 index) const { return reinterpret_cast<const f32*>(m_pSlots[index]); }
    IXAudio2SourceVoice* SourceVoice() const { return m_pSourceVoice; }
    // The live XAudio2 sink that `sink` is, or null.
    static CAuXAudio2Sink* FindLive(const CAuSinkBase* sink);

private:
    class EngineCallback final : public IXAudio2EngineCallback {
    public:
        explicit EngineCallback(CAuXAudio2Sink& sink) : m_sink(sink) {}
        void OnProcessingPassStart() override {}
        void OnProcessingPassEnd() override {}
        void OnCriticalError(HRESULT error) override;

    private:
        CAuXAudio2Sink& m_sink;
    };

    class VoiceCallback final : public IXAudio2VoiceCallback {
    public:
        explicit VoiceCallback(CAuXAudio2Sink& sink) : m_sink(sink) {}
        void OnVoiceProcessingPassStart(UINT32 bytesRequired) override;
        void OnVoiceProcessingPassEnd() override {}
        void OnStreamEnd() override {}
        void OnBufferStart(void*) override {}
        void OnBufferEnd(void* context) override;
        void OnLoopEnd(void*) override {}
        void OnVoiceError(void*, HRESULT) override {}

    private:
        CAuXAudio2Sink& m_sink;
    };

    // [callback thread] Submits every written slot the voice does not hold yet.
    void SubmitWritten() noexcept;
    void SubmitSlot(u32 index) noexcept;
    // Continues the ring of the running main sink this one replaces.
    void TakeOver(const CAuXAudio2Sink& old);
    void AdvanceWrite() noexcept;

    EngineCallback m_engineCallback;
    VoiceCallback m_voiceCallback;
    // The list of live XAudio2 sinks, newest first; changed and read only where sinks are made and
    // used (the game thread before the audio thread runs, then the audio thread), never concurrently.
    static CAuXAudio2Sink* s_pFirstSink;
    CAuXAudio2Sink* m_pNextSink = nullptr;
    u32 m_uNumChannels = 0;
    IXAudio2* m_pXAudio2 = nullptr;
    bool m_bCallbacksRegistered = false;
    IXAudio2MasteringVoice* m_pMasteringVoice = nullptr;
    IXAudio2SourceVoice* m_pSourceVoice = nullptr;
    u8* m_pRing = nullptr;
    u8* m_pSlots[AU_XAUDIO2_RING_SLOTS] = {};
    // Audio thread only.
    u16 m_uWriteIndex = 0;
    // Callback thread only once the voice runs (Init sets it before).
    u16 m_uSubmitIndex = 0;
    // Set by the callback thread, read and cleared by the audio thread; a flag alone, so relaxed.
    std::atomic<bool> m_bStarved{false};
    // Set by the callback thread, read by the audio thread; a flag alone, so relaxed.
    std::atomic<bool> m_bCriticalError{false};
    u16 m_uBlockSize = 0;
    // The platform's refill count, at most the ring's size.
    u32 m_uRefill = 4;
    // Ring slots written and not yet played. The audio thread raises it after writing a slot
    // (release: the slot's samples are visible to whoever acquires the count); the callback thread
    // acquires it before submitting and lowers it once the voice is done with a slot (release: the
    // voice's reads happen before the audio thread, acquiring the count, writes the slot again).
    std::atomic<i32> m_iWritten{0};
};

// The sink the factory makes first; null when XAudio2 cannot play.
CAuSinkBase* AuCreateXAudio2Sink(const AuPlatformInitSettings& platform, u32 channelMask, u32 options);
