// Sources whose media lie whole in memory: the shared loop, seek, marker and envelope logic and
// the PCM and IMA ADPCM bank sources. A source runs on the audio thread only.
#pragma once

#include "voices/AuPipelineBuffer.h"
#include "voices/AuRiffHeader.h"

#include <AU/AuTypes.h>

class CAuPlaybackInstance;

// A cue point reached inside a buffer.
struct AuBufferMarker {
    CAuPlaybackInstance* pInstance;
    u32 uOffsetInBuffer; // frames
    AuCuePoint cue;      // the label is the source's, not a copy
};

// The callback flag of a playing ID that asks for markers.
constexpr u32 AU_CALLBACK_FLAG_MARKER = 4;

class CAuSourceBase {
public:
    // `media` stays owned by its bank; the instance's loop count is taken now.
    CAuSourceBase(CAuPlaybackInstance* instance, const u8* media, u32 mediaSize) noexcept;
    virtual ~CAuSourceBase();

    // [audio thread] Every operation below.
    virtual AURESULT StartStream() noexcept = 0;
    virtual void StopStream() noexcept;
    virtual void GetBuffer(AuPipelineBuffer& buffer) noexcept = 0;
    virtual void ReleaseBuffer() noexcept {}
    virtual AURESULT Seek() noexcept;
    // Advances without audio; `frames` comes back as the frames skipped. 17 at the end, else 45.
    // The markers passed over are notified, and the position reported when the instance asks.
    virtual AURESULT TimeSkip(u32& frames) noexcept;
    // The voice goes virtual: 0 to come back from the beginning, 1 from the elapsed time, 2 resume.
    virtual void VirtualOn(u32 /*behavior*/) noexcept {}
    // Back from virtual with the behaviour of VirtualOn (seeking when 1 and `useSeek`).
    virtual AURESULT VirtualOff(u32 behavior, bool useSeek) noexcept;
    // The current pass is the last.
    virtual void StopLooping() noexcept { m_uLoopCount = 1; }
    bool HasAnalysisData() const noexcept { return m_analysis.pData != nullptr; }
    // Milliseconds; 0 for an infinite loop.
    virtual f32 GetDuration() const noexcept;
    // Attenuation in dB at the position less the frames still buffered downstream.
    virtual f32 GetAnalyzedEnvelope(u32 buffered) noexcept;
    // The media moved in memory by (newBase - oldBase).
    virtual void RelocateMedia(const u8* newBase, const u8* oldBase) noexcept;

    // The operations every source shares, whatever its codec. [audio thread]
    // StartStream once: 1 when already started; the start's result else (63: ask again).
    AURESULT StartOnce() noexcept;
    // The instance's pitch in cents.
    f32 GetPitch() const noexcept;
    // The instance plays its media more than once.
    bool IsLooping() const noexcept;
    // The duration, and that heard at the instance's pitch, go to the playing ID; an instance
    // that tracks its position gets the source's row in the position repository.
    void NotifyDuration() noexcept;
    // The position repository's speed for the playing ID: 0 while paused.
    void OnPaused() noexcept;
    void OnResumed(f32 rate) noexcept;
    // Leaves the position repository, stops the instance with `reason`, then the stream.
    void Stop(u32 reason) noexcept;
    // Pulls one buffer of at most `frames` and gives it back: the frames it held, 0 without data.
    u32 ProbeBuffer(u32 frames) noexcept;

    // The remaining count and position a position `p` reaches through the loop; a position past
    // the last pass and past 32 bits is clamped to the largest.
    static void ResolveLoop(u64 p, u32 start, u32 end, u16 count, u32& position, u16& remaining) noexcept;
    // The instance's pending seek as a position in media samples; also sets the remaining loops.
    u32 ComputeSeekPosition() noexcept;

    CAuPlaybackInstance* Instance() const { return m_pInstance; }
    u32 Position() const { return m_uPosition; }
    u32 TotalSamples() const { return m_uTotalSamples; }
    u16 RemainingLoops() const { return m_uLoopCount; }
    u32 LoopStart() const { return m_uLoopStart; }
    u32 LoopEnd() const { return m_uLoopEnd; }
    const CAuCuePointList& Cues() const { return m_cues; }

protected:
    // Parses a header and checks it for a codec; writes the media format into the instance.
    // `wholeMedia`: the header's bytes are the whole media, which must end with the data.
    AURESULT ReadHeader(const u8* header, u32 size, bool wholeMedia, u16 tag, u32 samplesPerBlock,
                        u32 blockBytesPerChannel) noexcept;
    // ReadHeader over the media in memory, then a pending seek.
    AURESULT OpenMedia(u16 tag, u32 samplesPerBlock, u32 blockBytesPerChannel) noexcept;
    void FillBuffer(const void* data, u32 frames, AuPipelineBuffer& buffer) noexcept;
    // 17 at the end, else 45; one pass fewer to play. A codec that decodes ahead rewinds its decoder here.
    virtual AURESULT OnLoopComplete(bool atEnd) noexcept;
    bool Looping() const { return m_uLoopCount != 1; }
    u32 Limit() const { return Looping() ? m_uLoopEnd + 1 : m_uTotalSamples; }

    CAuPlaybackInstance* m_pInstance;
    const u8* m_pMedia;
    u32 m_uMediaSize;
    u32 m_uTotalSamples = 0;
    u32 m_uPosition = 0;
    u32 m_uDataSize = 0;
    u32 m_uDataOffset = 0;
    u32 m_uLoopStart = 0;
    u32 m_uLoopEnd = 0;
    CAuCuePointList m_cues;
    AuRiffChunk m_analysis;
    u32 m_uEnvelopeIndex = 0;
    u16 m_uLoopCount;
    AuWaveFormat m_format{};
    AuChannelConfig m_config;
    u32 m_uCookie; // the source's row in the position repository
    bool m_bStarted = false;
};

class CAuPcmBankSource : public CAuSourceBase {
public:
    using CAuSourceBase::CAuSourceBase;
    AURESULT StartStream() noexcept override;
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
};

class CAuAdpcmBankSource : public CAuSourceBase {
public:
    using CAuSourceBase::CAuSourceBase;
    ~CAuAdpcmBankSource() override;
    AURESULT StartStream() noexcept override;
    void StopStream() noexcept override;
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    AURESULT Seek() noexcept override;

private:
    i16* m_pDecoded = nullptr;
};

// The source of the instance's media, streamed or in memory: the PCM and IMA ADPCM classes, built
// in the lower-engine pool, or another codec's from the codec table; null for any other storage
// kind, a media without codec, a codec nobody registered, or without memory.
CAuSourceBase* AuCreateSource(CAuPlaybackInstance* instance) noexcept;
// Destroys a source that AuCreateSource built.
void AuDestroySource(CAuSourceBase* source) noexcept;

// One channel's 36-byte record into 64 samples written `stride` apart; the header's step index is
// clamped into the table.
void AuDecodeAdpcmBlock(const u8* record, i16* out, u32 stride) noexcept;
