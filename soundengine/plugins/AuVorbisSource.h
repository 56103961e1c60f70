// The in-memory source of codec-4 media: the seek table, the compact set-up and size-prefixed
// Vorbis packets in the "data" chunk, decoded on the audio thread as the pipeline pulls.
#pragma once

#include "plugins/AuVorbisDecoder.h"
#include "voices/AuSourceBase.h"
#include "voices/AuStreamedSourceBase.h"

// The header fields of the 66-byte "fmt " from offset 28 on.
struct AuVorbisHeader {
    u32 uAverageBytesPerSecond; // offset 8: the stream's throughput hint
    u32 uLoopStart;             // bytes from the end of the seek table
    u32 uLoopEnd;
    u16 uLoopStartSkip;
    u16 uLoopEndTrim;
    u32 uSeekTableSize;
    u32 uFirstPacket; // from the start of the data payload
    u16 uMaxPacket;
    u16 uEndTrim;
    AuVorbisSetupParams setup;
};

// Checks a codec-4 format chunk: 7 when shorter than 66 bytes, another tag, channels outside
// 1..8 or rate 0.
AURESULT ReadVorbisHeader(const AuRiffChunk& fmt, AuWaveFormat& format, u32& totalSamples,
                          AuVorbisHeader& header);

// The header checks both sources make: ReadVorbisHeader; the seek table and the first packet
// within the data (7); the byte loop fields within the data, both 0 meaning the whole media
// (2); the sample loop points ("smpl", else the whole media) within the total (2).
AURESULT CheckVorbisHeader(const AuRiffChunk& fmt, u32 dataSize, u16 loopCount, AuWaveFormat& format,
                           u32& total, u32& loopStart, u32& loopEnd, AuVorbisHeader& header);

// Target sample `t` to the step that holds it: the sample reached and the byte offset from the
// start of the data payload. 2 for t > 0 without a seek table of at least one entry.
AURESULT VorbisSeekTableLookup(const u8* table, u32 tableSize, u32 firstPacket, u32 t, u32& reached,
                               u32& offset) noexcept;

class CAuVorbisBankSource : public CAuSourceBase {
public:
    using CAuSourceBase::CAuSourceBase;
    ~CAuVorbisBankSource() override;

    AURESULT StartStream() noexcept override;
    void StopStream() noexcept override;
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    AURESULT Seek() noexcept override;
    AURESULT VirtualOff(u32 behavior, bool useSeek) noexcept override;
    void StopLooping() noexcept override;
    void RelocateMedia(const u8* newBase, const u8* oldBase) noexcept override;

protected:
    AURESULT OnLoopComplete(bool atEnd) noexcept override;

private:
    // The trim of the pass about to play: the end trim on the last pass.
    u16 Trim() const { return m_uLoopCount == 1 ? m_header.uEndTrim : m_header.uLoopEndTrim; }
    void Reset(u32 skip) noexcept;
    void FreeAll() noexcept;

    AuVorbisDecodeState m_state;
    AuVorbisHeader m_header{};
    u32 m_uSampleRate = 0;
    u8* m_pSeekTable = nullptr;
    const u8* m_pNextPacket = nullptr;
    const u8* m_pDataStart = nullptr;
    bool m_bSetupHeld = false;
};

// The streamed source of codec-4 media: the seek table and the set-up packet are read from the
// stream after the header, and a packet cut by the end of a stream buffer is decoded whole from
// the stitch buffer.
class CAuVorbisFileSource : public CAuStreamedSourceBase {
public:
    using CAuStreamedSourceBase::CAuStreamedSourceBase;
    ~CAuVorbisFileSource() override;

    // [audio thread] Every operation below.
    AURESULT StartStream() noexcept override;
    void StopStream() noexcept override;
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    AURESULT Seek() noexcept override;
    AURESULT VirtualOff(u32 behavior, bool useSeek) noexcept override;
    void StopLooping() noexcept override;

protected:
    AURESULT ParseHeader(const u8* header, u32 size) noexcept override;
    f32 GetThroughput() const noexcept override;
    u32 FindClosestFileOffset(u32 sample, u32& reached) const noexcept override;
    // The stream is asked for buffers that hold at least two whole packets.
    u32 GetBlockAlign() const noexcept override { return 2 * (u32(m_header.uMaxPacket) + 2); }
    void DropPartial() noexcept override { m_uStitchHeld = m_uStitchRead = 0; }
    AURESULT OnLoopComplete(bool atEnd) noexcept override;

private:
    u16 Trim() const { return m_uLoopCount == 1 ? m_header.uEndTrim : m_header.uLoopEndTrim; }
    void Reset(u32 skip) noexcept;
    // Stages 1 and 2: the seek table and the set-up packet from the stream; 63 while waiting.
    AURESULT ReadSetupFromStream() noexcept;
    // The stream's next buffer when the current one is used up: 45, 46, 17 or 2.
    AURESULT NextStreamBuffer() noexcept;
    void Decode(const u8* data, u32 size, bool allPresent) noexcept;
    void FreeAll() noexcept;

    AuVorbisDecodeState m_state;
    AuVorbisHeader m_header{};
    bool m_bSetupHeld = false;
    u8* m_pSeekTable = nullptr;
    u32 m_uSeekReceived = 0;
    u8* m_pSetupPacket = nullptr;
    u16 m_uSetupSize = 0;
    u16 m_uSetupReceived = 0;
    u8 m_uSetupCountBytes = 0;
    u8* m_pStitch = nullptr; // 2 x (maximum packet + 2) bytes
    u32 m_uStitchHeld = 0;
    u32 m_uStitchRead = 0;
};
