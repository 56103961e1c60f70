// The PCM and IMA ADPCM sources that read their media through an automatic stream. Frames and
// blocks that straddle two stream buffers are put together in a block of their own.
#pragma once

#include "voices/AuStreamedSourceBase.h"

class CAuPcmFileSource : public CAuStreamedSourceBase {
public:
    using CAuStreamedSourceBase::CAuStreamedSourceBase;
    ~CAuPcmFileSource() override;

    // [audio thread]
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    void StopStream() noexcept override;

protected:
    AURESULT ParseHeader(const u8* header, u32 size) noexcept override;
    f32 GetThroughput() const noexcept override;
    u32 FindClosestFileOffset(u32 sample, u32& reached) const noexcept override;
    u32 GetBlockAlign() const noexcept override { return m_format.uBlockAlign; }
    void DropPartial() noexcept override {
        m_uStraddleHeld = 0;
        m_uDelivered = 0;
    }

private:
    void FreeBlocks() noexcept;

    u8* m_pStraddle = nullptr; // one frame
    u16 m_uStraddleHeld = 0;
    u32 m_uDelivered = 0;     // bytes of the stream buffer handed out with the last buffer
    u8* m_pAligned = nullptr; // frames copied out of a buffer left at an odd address
};

class CAuAdpcmFileSource : public CAuStreamedSourceBase {
public:
    using CAuStreamedSourceBase::CAuStreamedSourceBase;
    ~CAuAdpcmFileSource() override;

    // [audio thread]
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    void StopStream() noexcept override;

protected:
    AURESULT ParseHeader(const u8* header, u32 size) noexcept override;
    f32 GetThroughput() const noexcept override;
    u32 FindClosestFileOffset(u32 sample, u32& reached) const noexcept override;
    u32 GetBlockAlign() const noexcept override { return m_format.uBlockAlign; }
    void DropPartial() noexcept override;

private:
    // Decodes the block at `block` (of the file offset `offset`) into the block cache.
    void DecodeBlock(const u8* block, u32 offset) noexcept;
    void FreeBlocks() noexcept;

    i16* m_pDecoded = nullptr; // the buffer handed out
    u8* m_pStraddle = nullptr; // one block of all channels
    u32 m_uStraddleHeld = 0;
    u32 m_uStraddleOffset = 0; // file offset of the straddling block
    i16* m_pBlock = nullptr;   // the last block decoded, 64 frames
    u32 m_uBlockFirst = 0;     // its first frame's sample
    u32 m_uBlockRead = 64;     // frames of it used up
};
