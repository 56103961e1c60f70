#include "voices/AuFileSources.h"

#include "voices/AuPlaybackInstance.h"

#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

constexpr u16 kTagExtensible = 0xFFFE;
constexpr u16 kTagAdpcm = 2;
constexpr u32 kAdpcmFrames = 64;
constexpr u32 kAdpcmRecordBytes = 36;

u32 Min(u32 a, u32 b) {
    return a < b ? a : b;
}

void Fail(AuPipelineBuffer& buffer) {
    buffer.uValidFrames = 0;
    buffer.eState = AuResultFail;
}

} // namespace

CAuPcmFileSource::~CAuPcmFileSource() {
    FreeBlocks();
}

AURESULT CAuPcmFileSource::ParseHeader(const u8* header, u32 size) noexcept {
    const AURESULT result = ReadStreamedHeader(header, size, kTagExtensible, 1, 2);
    if (result != AuResultSuccess) return result;
    if (u64{m_uDataOffset} + m_uDataSize > UINT32_MAX) return AuResultBadHeader;
    const u32 frame = m_format.uBlockAlign;
    m_uLoopStartByte = m_uDataOffset + m_uLoopStart * frame;
    m_uLoopEndByte = m_uDataOffset + (m_uLoopEnd + 1) * frame;
    return AuResultSuccess;
}

f32 CAuPcmFileSource::GetThroughput() const noexcept {
    return f32(f64(m_format.uBlockAlign) * m_format.uSampleRate * 0.001);
}

u32 CAuPcmFileSource::FindClosestFileOffset(u32 sample, u32& reached) const noexcept {
    reached = sample;
    return m_uDataOffset + sample * m_format.uBlockAlign;
}

void CAuPcmFileSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    const AURESULT status = UpdateBufferingStatus();
    if (status != AuResultDataReady) {
        buffer.uValidFrames = 0;
        buffer.eState = status;
        return;
    }
    const u32 frame = m_format.uBlockAlign;
    const u32 wanted = Min(buffer.uMaxFrames, Limit() - m_uPosition);
    while (true) {
        if (m_uBytesLeft == 0 && !EndOfFile()) {
            ClearPendingFlag();
            const AURESULT got = GetStreamBuffer();
            if (got == AuResultNoDataReady) return FillBuffer(nullptr, 0, buffer);
            if (got != AuResultDataReady && got != AuResultNoMoreData) return Fail(buffer);
            continue;
        }
        if (m_uBytesLeft == 0) break; // the end of the file
        if (m_uStraddleHeld) {
            // A frame split between buffers is put together and delivered alone.
            const u32 take = Min(frame - m_uStraddleHeld, m_uBytesLeft);
            memcpy(m_pStraddle + m_uStraddleHeld, m_pCurrent, take);
            m_uStraddleHeld = u16(m_uStraddleHeld + take);
            Consume(take);
            if (m_uStraddleHeld < frame) continue;
            m_uStraddleHeld = 0;
            FillBuffer(m_pStraddle, 1, buffer);
        } else if (m_uBytesLeft >= frame) {
            const u32 frames = Min(wanted, m_uBytesLeft / frame);
            const u8* data = m_pCurrent;
            // Buffers of odd sizes may leave the samples at an odd address.
            if (reinterpret_cast<uintptr_t>(data) % alignof(i16)) {
                m_pAligned = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, frames * frame));
                if (!m_pAligned) return Fail(buffer);
                memcpy(m_pAligned, data, frames * frame);
                data = m_pAligned;
            }
            m_uDelivered = frames * frame;
            FillBuffer(data, frames, buffer);
        } else {
            if (!m_pStraddle) {
                m_pStraddle = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, frame));
                if (!m_pStraddle) return Fail(buffer);
            }
            m_uStraddleHeld = u16(m_uBytesLeft);
            memcpy(m_pStraddle, m_pCurrent, m_uBytesLeft);
            Consume(m_uBytesLeft);
            continue;
        }
        // The stream ended before the data did: this is the last of it.
        if (buffer.eState == AuResultDataReady && EndOfFile() && m_uBytesLeft - m_uDelivered < frame)
            buffer.eState = AuResultNoMoreData;
        return;
    }
    // Nothing more will come; a partial frame at the end is not a sample.
    m_uStraddleHeld = 0;
    buffer.uValidFrames = 0;
    buffer.eState = AuResultNoMoreData;
}

void CAuPcmFileSource::ReleaseBuffer() noexcept {
    if (m_uDelivered && m_uDelivered <= m_uBytesLeft) Consume(m_uDelivered);
    m_uDelivered = 0;
    if (m_pAligned) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pAligned);
    m_pAligned = nullptr;
}

void CAuPcmFileSource::StopStream() noexcept {
    ReleaseBuffer();
    CAuStreamedSourceBase::StopStream();
}

void CAuPcmFileSource::FreeBlocks() noexcept {
    if (m_pAligned) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pAligned);
    if (m_pStraddle) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pStraddle);
    m_pAligned = m_pStraddle = nullptr;
}

CAuAdpcmFileSource::~CAuAdpcmFileSource() {
    FreeBlocks();
}

AURESULT CAuAdpcmFileSource::ParseHeader(const u8* header, u32 size) noexcept {
    const AURESULT result = ReadStreamedHeader(header, size, kTagAdpcm, kAdpcmFrames, kAdpcmRecordBytes);
    if (result != AuResultSuccess) return result;
    if (u64{m_uDataOffset} + m_uDataSize > UINT32_MAX) return AuResultBadHeader;
    const u32 block = m_format.uBlockAlign;
    m_uLoopStartByte = m_uLoopStart / kAdpcmFrames * block + m_uDataOffset;
    // Through the block that holds the loop end, so that an unaligned end still has its frames.
    m_uLoopEndByte = (m_uLoopEnd / kAdpcmFrames + 1) * block + m_uDataOffset;
    return AuResultSuccess;
}

f32 CAuAdpcmFileSource::GetThroughput() const noexcept {
    return f32(f64(m_format.uBlockAlign) * m_format.uSampleRate / 64000.0);
}

u32 CAuAdpcmFileSource::FindClosestFileOffset(u32 sample, u32& reached) const noexcept {
    reached = sample / kAdpcmFrames * kAdpcmFrames;
    return sample / kAdpcmFrames * m_format.uBlockAlign + m_uDataOffset;
}

void CAuAdpcmFileSource::DropPartial() noexcept {
    m_uStraddleHeld = 0;
    m_uBlockRead = kAdpcmFrames;
}

void CAuAdpcmFileSource::DecodeBlock(const u8* block, u32 offset) noexcept {
    const u32 channels = m_format.uChannels;
    for (u32 c = 0; c < channels; ++c)
        AuDecodeAdpcmBlock(block + c * kAdpcmRecordBytes, m_pBlock + c, channels);
    m_uBlockFirst = (offset - m_uDataOffset) / m_format.uBlockAlign * kAdpcmFrames;
    m_uBlockRead = 0;
}

void CAuAdpcmFileSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    const AURESULT status = UpdateBufferingStatus();
    if (status != AuResultDataReady) {
        buffer.uValidFrames = 0;
        buffer.eState = status;
        return;
    }
    ReleaseBuffer();
    const u32 channels = m_format.uChannels;
    const u32 block = m_format.uBlockAlign;
    const u32 wanted = Min(buffer.uMaxFrames, Limit() - m_uPosition);
    if (!m_pBlock)
        m_pBlock = static_cast<i16*>(
            AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, kAdpcmFrames * channels * sizeof(i16)));
    if (!m_pStraddle) m_pStraddle = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, block));
    m_pDecoded =
        static_cast<i16*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, wanted * channels * sizeof(i16), 16));
    if (!m_pBlock || !m_pStraddle || !m_pDecoded) {
        ReleaseBuffer();
        return Fail(buffer);
    }
    u32 out = 0;
    while (out < wanted) {
        if (m_uBlockRead < kAdpcmFrames) {
            // A pass that starts inside a block drops the block's frames before it.
            const u32 sample = m_uBlockFirst + m_uBlockRead;
            const u32 at = m_uPosition + out;
            if (sample < at) {
                m_uBlockRead = Min(kAdpcmFrames, m_uBlockRead + (at - sample));
                continue;
            }
            const u32 n = Min(kAdpcmFrames - m_uBlockRead, wanted - out);
            memcpy(m_pDecoded + out * channels, m_pBlock + m_uBlockRead * channels,
                   n * channels * sizeof(i16));
            out += n;
            m_uBlockRead += n;
        } else if (m_uBytesLeft == 0) {
            if (EndOfFile()) break;
            ClearPendingFlag();
            const AURESULT got = GetStreamBuffer();
            if (got == AuResultNoDataReady) break;
            if (got != AuResultDataReady && got != AuResultNoMoreData) {
                ReleaseBuffer();
                return Fail(buffer);
            }
        } else if (m_uStraddleHeld) {
            // The rest of a block split between buffers.
            const u32 take = Min(block - m_uStraddleHeld, m_uBytesLeft);
            memcpy(m_pStraddle + m_uStraddleHeld, m_pCurrent, take);
            m_uStraddleHeld += take;
            Consume(take);
            if (m_uStraddleHeld == block) {
                m_uStraddleHeld = 0;
                DecodeBlock(m_pStraddle, m_uStraddleOffset);
            }
        } else if (m_uBytesLeft >= block) {
            DecodeBlock(m_pCurrent, m_uCurrentOffset);
            Consume(block);
        } else {
            m_uStraddleOffset = m_uCurrentOffset;
            m_uStraddleHeld = m_uBytesLeft;
            memcpy(m_pStraddle, m_pCurrent, m_uBytesLeft);
            Consume(m_uBytesLeft);
        }
    }
    const bool dry = EndOfFile() && m_uBytesLeft == 0 && m_uBlockRead >= kAdpcmFrames;
    if (out == 0) {
        ReleaseBuffer();
        if (!dry) return FillBuffer(nullptr, 0, buffer);
        // The stream ended before the data did; a partial block at the end is not samples.
        m_uStraddleHeld = 0;
        buffer.uValidFrames = 0;
        buffer.eState = AuResultNoMoreData;
        return;
    }
    const u32 before = m_uPosition;
    FillBuffer(m_pDecoded, out, buffer);
    if (m_uPosition != before + out)
        m_uBlockRead = kAdpcmFrames; // a new pass: the rest of that block lies past the loop
    else if (buffer.eState == AuResultDataReady && dry)
        buffer.eState = AuResultNoMoreData;
}

void CAuAdpcmFileSource::ReleaseBuffer() noexcept {
    if (m_pDecoded) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pDecoded);
    m_pDecoded = nullptr;
}

void CAuAdpcmFileSource::StopStream() noexcept {
    ReleaseBuffer();
    CAuStreamedSourceBase::StopStream();
}

void CAuAdpcmFileSource::FreeBlocks() noexcept {
    ReleaseBuffer();
    if (m_pStraddle) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pStraddle);
    if (m_pBlock) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pBlock);
    m_pStraddle = nullptr;
    m_pBlock = nullptr;
}
