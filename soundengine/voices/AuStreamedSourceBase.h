// Sources whose media are read through an automatic stream of the stream manager: opening the
// stream, the prefetched start, the header that may come in several buffers, the loop region the
// stream reads ahead of the samples delivered, buffering and repositioning. Codecs derive from it
// and read the bytes of the current stream buffer. A source runs on the audio thread only.
#pragma once

#include "voices/AuSourceBase.h"
#include "voices/AuSourceMedia.h"

#include <AU/IAuStreamMgr.h>

class CAuStreamedSourceBase : public CAuSourceBase {
public:
    // The media's name, ID and prefetched start are the instance's source media.
    explicit CAuStreamedSourceBase(CAuPlaybackInstance* instance) noexcept;
    ~CAuStreamedSourceBase() override;

    // [audio thread] Every operation below.
    // 63 until the stream has its header and holds its nominal buffering (with a prefetched start,
    // 1 at once); 2 without a stream; the header's result when it is refused.
    AURESULT StartStream() noexcept override;
    void StopStream() noexcept override;
    AURESULT Seek() noexcept override;
    void VirtualOn(u32 behavior) noexcept override;
    AURESULT VirtualOff(u32 behavior, bool useSeek) noexcept override;
    void StopLooping() noexcept override;
    void RelocateMedia(const u8* newBase, const u8* oldBase) noexcept override;

    AU::IAuAutoStream* Stream() const { return m_pStream; }
    u16 LoopsCompleted() const { return m_uLoopsCompleted; }

protected:
    // Flag bits.
    static constexpr u8 kEndOfFile = 1 << 0;       // nothing more will be read for this pass
    static constexpr u8 kPrefetchCurrent = 1 << 1; // the current buffer is the prefetched start
    static constexpr u8 kStarted = 1 << 2;         // header read, stream started
    static constexpr u8 kInMediaMemory = 1 << 3;   // the current buffer moves with the media
    static constexpr u8 kPrefetchInUse = 1 << 4;   // the analysis data point into the prefetch

    // The codec's part. ParseHeader reads a header (1, 8 while it is cut short, else refused) and
    // sets the loop region in bytes; FindClosestFileOffset gives the byte a read for `sample`
    // starts at, and the sample it reaches.
    virtual AURESULT ParseHeader(const u8* header, u32 size) noexcept = 0;
    virtual f32 GetThroughput() const noexcept = 0; // bytes per millisecond
    virtual u32 FindClosestFileOffset(u32 sample, u32& reached) const noexcept = 0;
    virtual u32 GetBlockAlign() const noexcept = 0;
    // Forgets what the codec keeps across stream buffers (a straddling frame or block).
    virtual void DropPartial() noexcept {}

    AURESULT OnLoopComplete(bool atEnd) noexcept override;

    AURESULT OpenStream() noexcept;
    // The prefetched start becomes the current buffer; false when there is none to use.
    bool ApplyStartOffset(AURESULT& result) noexcept;
    // The next stream buffer becomes the current one: 45; 17 (and end of file) when the stream has
    // no more; 46 or 2 as the stream says; 2 for an empty buffer.
    AURESULT GetStreamBuffer() noexcept;
    // The current buffer is given back to the stream (or the prefetch let go).
    void ClearPendingFlag() noexcept;
    void ProcessStreamBuffer(const u8* buffer, u32 size, bool prefetch) noexcept;
    // 45 when the source may deliver; 46 while the stream is below its nominal buffering after a
    // (re)start; the stream's failure.
    AURESULT UpdateBufferingStatus() noexcept;
    AURESULT SetStreamPosition(u32 offset) noexcept;
    // Moves on by `bytes` in the current buffer, giving it back once it is used up.
    void Consume(u32 bytes) noexcept;
    // The stream reads its loop region while passes remain, else on to the end of the data.
    AURESULT ApplyHeuristics() noexcept;
    bool LastPass() const { return m_uLoopCount != 0 && m_uLoopCount <= u32(m_uLoopsCompleted) + 1; }
    u32 DataEnd() const { return m_uDataOffset + m_uDataSize; }
    bool EndOfFile() const { return m_uStreamFlags & kEndOfFile; }
    // PCM and ADPCM: ReadHeader over the stream's bytes, then the analysis data copied.
    AURESULT ReadStreamedHeader(const u8* header, u32 size, u16 tag, u32 samplesPerBlock,
                                u32 blockBytesPerChannel) noexcept;

    AU::IAuAutoStream* m_pStream = nullptr;
    const u8* m_pCurrent = nullptr;
    u32 m_uBytesLeft = 0;
    u32 m_uCurrentOffset = 0; // file offset of m_pCurrent
    u32 m_uReceived = 0;      // file offset just past the last byte received
    u32 m_uSkip = 0;          // bytes to skip at the start of what comes next
    u32 m_uLoopStartByte = 0;
    u32 m_uLoopEndByte = 0; // exclusive
    u16 m_uLoopsCompleted = 0;
    u8 m_uStreamFlags = 0;

private:
    // Takes header bytes from the stream until the header is whole: 1, 63 while waiting.
    AURESULT ReadHeaderFromStream() noexcept;
    void FreeHeaderCopy() noexcept;
    void FreeAnalysisCopy() noexcept;

    AuSourceMedia m_media;
    bool m_bHoldsBuffer = false;     // a buffer of the stream is handed out to this source
    bool m_bWaitForBuffering = true; // after a (re)start, until the stream holds its nominal amount
    u8* m_pHeaderCopy = nullptr;     // header bytes gathered over several buffers
    u32 m_uHeaderCopySize = 0;
    u8* m_pAnalysisCopy = nullptr;
    i8 m_lastPriority = -1;
};
