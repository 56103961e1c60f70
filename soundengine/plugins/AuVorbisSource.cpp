#include "plugins/AuVorbisSource.h"

#include "voices/AuPlaybackInstance.h"

#include <AU/VorbisCodec.h>

#include <AU/MemoryMgr.h>

#include <cstring>
#include <initializer_list>
#include <new>

namespace {

constexpr u32 kVorbisFmtBytes = 66;
constexpr u16 kTagVorbis = 0xFFFF;

u16 U16(const u8* p) {
    return u16(p[0] | p[1] << 8);
}
u32 U32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

} // namespace

AURESULT ReadVorbisHeader(const AuRiffChunk& fmt, AuWaveFormat& format, u32& totalSamples,
                          AuVorbisHeader& h) {
    if (fmt.uSize < kVorbisFmtBytes || !ReadWaveFormat(fmt, format)) return AuResultBadHeader;
    if (format.uTag != kTagVorbis || format.uChannels == 0 || format.uChannels > kVorbisMaxChannels ||
        format.uSampleRate == 0)
        return AuResultBadHeader;
    const u8* f = fmt.pData;
    h.uAverageBytesPerSecond = U32(f + 8);
    totalSamples = U32(f + 24);
    h.uLoopStart = U32(f + 28);
    h.uLoopEnd = U32(f + 32);
    h.uLoopStartSkip = U16(f + 36);
    h.uLoopEndTrim = U16(f + 38);
    h.uSeekTableSize = U32(f + 40);
    h.uFirstPacket = U32(f + 44);
    h.uMaxPacket = U16(f + 48);
    h.uEndTrim = U16(f + 50);
    h.setup = {U32(f + 60), U32(f + 52), f[64], f[65]};
    return h.uMaxPacket ? AuResultSuccess : AuResultBadHeader;
}

AURESULT CheckVorbisHeader(const AuRiffChunk& fmt, const u8* data, u32 dataSize, u16 loopCount,
                           AuWaveFormat& format, u32& total, u32& loopStart, u32& loopEnd,
                           AuVorbisHeader& h) {
    const AURESULT header = ReadVorbisHeader(fmt, format, total, h);
    if (header != AuResultSuccess) return header;
    if (total == 0) return AuResultFail;
    // Every offset is checked against the data before it is used.
    if (h.uSeekTableSize > dataSize || dataSize - h.uSeekTableSize < 2 ||
        h.uFirstPacket < h.uSeekTableSize + 2 || h.uFirstPacket > dataSize)
        return AuResultBadHeader;
    if (data && h.uFirstPacket != h.uSeekTableSize + 2 + U16(data + h.uSeekTableSize))
        return AuResultBadHeader;
    // The byte loop fields count from the end of the seek table; both 0 mean the whole media.
    const u32 afterTable = dataSize - h.uSeekTableSize;
    const u32 firstPacket = h.uFirstPacket - h.uSeekTableSize;
    if (h.uLoopStart == 0 && h.uLoopEnd == 0) {
        h.uLoopStart = firstPacket;
        h.uLoopEnd = afterTable;
        h.uLoopStartSkip = 0;
        h.uLoopEndTrim = h.uEndTrim;
    }
    if (h.uLoopStart < firstPacket || h.uLoopEnd <= h.uLoopStart || h.uLoopEnd > afterTable)
        return AuResultFail;
    if (loopEnd == 0 || loopCount == 1) loopEnd = total - 1;
    if (loopEnd < loopStart || loopEnd >= total) return AuResultFail;
    return AuResultSuccess;
}

AURESULT VorbisSeekTableLookup(const u8* table, u32 tableSize, u32 firstPacket, u32 t, u32& reached,
                               u32& offset) noexcept {
    if (t == 0) {
        reached = 0;
        offset = firstPacket;
        return AuResultSuccess;
    }
    if (!table || tableSize < 4) {
        reached = 0;
        offset = 0;
        return AuResultFail;
    }
    u32 samples = 0, bytes = 0, passed = 0;
    for (u32 at = 0; at + 4 <= tableSize; at += 4, ++passed) {
        const u32 stepSamples = U16(table + at);
        if (samples + stepSamples > t) break;
        samples += stepSamples;
        bytes += U16(table + at + 2);
    }
    reached = passed ? samples : 0;
    offset = passed ? tableSize + bytes : firstPacket;
    return AuResultSuccess;
}

CAuVorbisBankSource::~CAuVorbisBankSource() {
    FreeAll();
}

void CAuVorbisBankSource::FreeAll() noexcept {
    ReleaseBuffer();
    FreeVorbisChannels(m_state.decoder);
    if (m_pSeekTable) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pSeekTable);
    m_pSeekTable = nullptr;
    if (m_bSetupHeld) VorbisSetupCache::Release(m_header.setup.uSetupId);
    m_bSetupHeld = false;
    m_state.decoder.pSetup = nullptr;
}

void CAuVorbisBankSource::Reset(u32 skip) noexcept {
    ResetVorbisDecoder(m_state.decoder, u16(skip), Trim());
    // A pass that ended left the stage at 4: every reset decodes again.
    m_state.uStage = kVorbisStageDecoding;
}

AURESULT CAuVorbisBankSource::StartStream() noexcept {
    if (!m_pMedia) return AuResultFail;
    FreeAll();
    AuRiffChunk fmt;
    const AURESULT parsed = ParseRiffHeader(m_pMedia, m_uMediaSize, fmt, &m_cues, m_uLoopStart, m_uLoopEnd,
                                            m_uDataSize, m_uDataOffset, &m_analysis, nullptr);
    if (parsed != AuResultSuccess) return parsed;
    // The whole file must be in memory, and nothing after the data.
    if (u64{m_uDataOffset} + m_uDataSize != m_uMediaSize) return AuResultFail;
    AuVorbisHeader& h = m_header;
    const AURESULT header = CheckVorbisHeader(fmt, m_pMedia + m_uDataOffset, m_uDataSize, m_uLoopCount,
                                              m_format, m_uTotalSamples, m_uLoopStart, m_uLoopEnd, h);
    if (header != AuResultSuccess) return header;
    m_uSampleRate = m_format.uSampleRate;
    m_pDataStart = m_pMedia + m_uDataOffset;
    const u32 setupSize = h.uFirstPacket - h.uSeekTableSize - 2;

    u32 mask = m_format.uChannelMask;
    m_config = AuChannelConfig(m_format.uChannels | (mask ? 1u << 8 : 0u) | mask << 12);
    CAuPlaybackInstance::MediaFormat format;
    format.uSampleRate = m_uSampleRate;
    format.config = m_config;
    format.uBits = 16 | (u32(m_format.uChannels) * 2) << 6;
    m_pInstance->SetMediaFormat(format);

    m_state = AuVorbisDecodeState{};
    m_state.config = m_config;
    m_state.uStage = kVorbisStageSeekTable;
    if (h.uSeekTableSize) {
        m_pSeekTable = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, h.uSeekTableSize));
        if (!m_pSeekTable) return AuResultNoMemory;
        std::memcpy(m_pSeekTable, m_pDataStart, h.uSeekTableSize);
    }
    m_state.uStage = kVorbisStageSetup;
    m_state.decoder.pSetup =
        VorbisSetupCache::Get(h.setup, m_format.uChannels, m_pDataStart + h.uSeekTableSize + 2, setupSize);
    if (!m_state.decoder.pSetup) return AuResultFail;
    m_bSetupHeld = true;
    if (InitVorbisChannels(m_state.decoder, m_format.uChannels) != 0) return AuResultFail;

    m_pNextPacket = m_pDataStart + h.uFirstPacket;
    m_uPosition = 0;
    m_uLoopCount = m_pInstance->LoopCount();
    // Reset at every start, seek or not: a decoder left as built would keep trim 0 and play the
    // padding of the last packet past the total.
    if (m_pInstance->SeekPending()) return Seek();
    Reset(0);
    return AuResultSuccess;
}

void CAuVorbisBankSource::StopStream() noexcept {
    ReleaseBuffer();
    FreeVorbisChannels(m_state.decoder);
    if (m_pSeekTable) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pSeekTable);
    m_pSeekTable = nullptr;
    CAuSourceBase::StopStream();
}

void CAuVorbisBankSource::ReleaseBuffer() noexcept {
    if (m_state.pOutput) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_state.pOutput);
    m_state.pOutput = nullptr;
}

void CAuVorbisBankSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    const u32 channels = m_format.uChannels;
    if (!m_state.pOutput)
        m_state.pOutput = static_cast<i16*>(AU::MemoryMgr::Malign(
            g_LEngineDefaultPoolId, u32(buffer.uMaxFrames) * channels * sizeof(i16), 16));
    if (!m_state.pOutput || !m_state.decoder.pBlock) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
        return;
    }
    const u8* end = m_uLoopCount == 1 ? m_pDataStart + m_uDataSize
                                      : m_pDataStart + m_header.uSeekTableSize + m_header.uLoopEnd;
    m_state.uFramesWanted = buffer.uMaxFrames;
    m_state.uBytesAvailable = m_pNextPacket < end ? u32(end - m_pNextPacket) : 0;
    m_state.bAllDataPresent = true;
    DecodeVorbisPackets(m_state, m_header.uMaxPacket, m_pNextPacket, m_state.pOutput);
    if (m_state.eStatus == AuResultFail) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
        return;
    }
    m_pNextPacket += m_state.uBytesConsumed;
    if (m_state.uFramesProduced == 0 && m_state.eStatus == AuResultNoMoreData) {
        // The pass ran out of packets before the position reached its end (media whose sample
        // and byte loop fields disagree): end the pass here instead of waiting for ever.
        buffer.uValidFrames = 0;
        if (Looping()) m_uPosition = m_uLoopStart;
        buffer.eState = OnLoopComplete(!Looping());
        return;
    }
    FillBuffer(m_state.pOutput, m_state.uFramesProduced, buffer);
}

AURESULT CAuVorbisBankSource::OnLoopComplete(bool atEnd) noexcept {
    if (m_uLoopCount > 1) --m_uLoopCount;
    if (atEnd) return AuResultNoMoreData;
    m_pNextPacket = m_pDataStart + m_header.uSeekTableSize + m_header.uLoopStart;
    Reset(m_header.uLoopStartSkip);
    return AuResultDataReady;
}

AURESULT CAuVorbisBankSource::Seek() noexcept {
    const u32 target = ComputeSeekPosition();
    m_pInstance->ClearSeek();
    if (target >= m_uTotalSamples) return AuResultFail;
    u32 reached, offset;
    if (VorbisSeekTableLookup(m_pSeekTable, m_header.uSeekTableSize, m_header.uFirstPacket, target, reached,
                              offset) != AuResultSuccess)
        return AuResultFail;
    // The decoder drops the frames up to the target itself; the pitch node drops none.
    m_pInstance->SetSourceFrameOffset(0);
    m_pNextPacket = m_pDataStart + offset;
    m_uPosition = target;
    Reset(target - reached);
    return AuResultSuccess;
}

AURESULT CAuVorbisBankSource::VirtualOff(u32 behavior, bool useSeek) noexcept {
    if (behavior == 2) return AuResultSuccess;
    if (behavior == 1 && useSeek) return Seek();
    if (behavior == 0) {
        m_uPosition = 0;
        m_uLoopCount = m_pInstance->LoopCount();
        m_pNextPacket = m_pDataStart + m_header.uFirstPacket;
        Reset(0);
        return AuResultSuccess;
    }
    // From the elapsed time: the step that holds the position, and the rest dropped so that the
    // sound resumes exactly where it would have been.
    u32 reached, offset;
    if (VorbisSeekTableLookup(m_pSeekTable, m_header.uSeekTableSize, m_header.uFirstPacket, m_uPosition,
                              reached, offset) != AuResultSuccess) {
        m_uPosition = 0;
        m_pNextPacket = m_pDataStart + m_header.uFirstPacket;
        Reset(0);
        return AuResultSuccess;
    }
    m_pNextPacket = m_pDataStart + offset;
    Reset(m_uPosition - reached);
    return AuResultSuccess;
}

void CAuVorbisBankSource::StopLooping() noexcept {
    m_state.decoder.uTrim = m_header.uEndTrim;
    CAuSourceBase::StopLooping();
}

void CAuVorbisBankSource::RelocateMedia(const u8* newBase, const u8* oldBase) noexcept {
    if (m_pNextPacket) m_pNextPacket = newBase + (m_pNextPacket - oldBase);
    if (m_pDataStart) m_pDataStart = newBase + (m_pDataStart - oldBase);
    CAuSourceBase::RelocateMedia(newBase, oldBase);
}

CAuVorbisFileSource::~CAuVorbisFileSource() {
    FreeAll();
}

void CAuVorbisFileSource::FreeAll() noexcept {
    ReleaseBuffer();
    FreeVorbisChannels(m_state.decoder);
    for (u8** block : {&m_pSeekTable, &m_pSetupPacket, &m_pStitch}) {
        if (*block) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, *block);
        *block = nullptr;
    }
    if (m_bSetupHeld) VorbisSetupCache::Release(m_header.setup.uSetupId);
    m_bSetupHeld = false;
    m_state.decoder.pSetup = nullptr;
    m_uStitchHeld = m_uStitchRead = 0;
}

void CAuVorbisFileSource::Reset(u32 skip) noexcept {
    ResetVorbisDecoder(m_state.decoder, u16(skip), Trim());
    m_state.uStage = kVorbisStageDecoding;
}

AURESULT CAuVorbisFileSource::ParseHeader(const u8* header, u32 size) noexcept {
    AuRiffChunk fmt;
    const AURESULT parsed = ParseRiffHeader(header, size, fmt, &m_cues, m_uLoopStart, m_uLoopEnd, m_uDataSize,
                                            m_uDataOffset, &m_analysis, nullptr);
    if (parsed != AuResultSuccess) return parsed == AuResultTruncatedChunk ? parsed : AuResultBadHeader;
    // The envelope would point into a stream buffer that goes back to the stream.
    m_analysis = {};
    if (u64{m_uDataOffset} + m_uDataSize > UINT32_MAX) return AuResultBadHeader;
    const AURESULT checked = CheckVorbisHeader(fmt, nullptr, m_uDataSize, m_uLoopCount, m_format,
                                               m_uTotalSamples, m_uLoopStart, m_uLoopEnd, m_header);
    if (checked != AuResultSuccess) return checked;
    const u32 mask = m_format.uChannelMask;
    m_config = AuChannelConfig(m_format.uChannels | (mask ? 1u << 8 : 0u) | mask << 12);
    CAuPlaybackInstance::MediaFormat format;
    format.uSampleRate = m_format.uSampleRate;
    format.config = m_config;
    format.uBits = 16 | (u32(m_format.uChannels) * 2) << 6;
    m_pInstance->SetMediaFormat(format);
    m_uLoopStartByte = m_uDataOffset + m_header.uSeekTableSize + m_header.uLoopStart;
    m_uLoopEndByte = m_uDataOffset + m_header.uSeekTableSize + m_header.uLoopEnd;
    m_uPosition = 0;
    return AuResultSuccess;
}

f32 CAuVorbisFileSource::GetThroughput() const noexcept {
    return f32(f64(m_header.uAverageBytesPerSecond) * 0.001);
}

u32 CAuVorbisFileSource::FindClosestFileOffset(u32 sample, u32& reached) const noexcept {
    u32 offset;
    if (VorbisSeekTableLookup(m_pSeekTable, m_header.uSeekTableSize, m_header.uFirstPacket, sample, reached,
                              offset) != AuResultSuccess) {
        reached = 0;
        offset = m_header.uFirstPacket;
    }
    return m_uDataOffset + offset;
}

AURESULT CAuVorbisFileSource::NextStreamBuffer() noexcept {
    ClearPendingFlag();
    const AURESULT got = GetStreamBuffer();
    if (got == AuResultNoMoreData) return m_uBytesLeft ? AuResultDataReady : AuResultNoMoreData;
    return got;
}

AURESULT CAuVorbisFileSource::ReadSetupFromStream() noexcept {
    AuVorbisHeader& h = m_header;
    while (m_state.uStage < kVorbisStageDecoding) {
        if (m_uBytesLeft == 0) {
            const AURESULT got = NextStreamBuffer();
            if (got == AuResultNoDataReady) return AuResultStillBuffering;
            // The stream ended inside the seek table or the set-up packet.
            if (got != AuResultDataReady) return AuResultFail;
            continue;
        }
        if (m_state.uStage == kVorbisStageSeekTable) {
            const u32 take = h.uSeekTableSize - m_uSeekReceived < m_uBytesLeft
                                 ? h.uSeekTableSize - m_uSeekReceived
                                 : m_uBytesLeft;
            if (take) std::memcpy(m_pSeekTable + m_uSeekReceived, m_pCurrent, take);
            m_uSeekReceived += take;
            Consume(take);
            if (m_uSeekReceived == h.uSeekTableSize) m_state.uStage = kVorbisStageSetup;
            continue;
        }
        if (m_uSetupCountBytes < 2) {
            m_uSetupSize = u16(m_uSetupSize | *m_pCurrent << (8 * m_uSetupCountBytes++));
            Consume(1);
            if (m_uSetupCountBytes < 2) continue;
            if (h.uFirstPacket != h.uSeekTableSize + 2 + m_uSetupSize) return AuResultBadHeader;
            m_pSetupPacket = static_cast<u8*>(
                AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, m_uSetupSize ? m_uSetupSize : 1));
            if (!m_pSetupPacket) return AuResultNoMemory;
        }
        const u32 take = u32(m_uSetupSize - m_uSetupReceived) < m_uBytesLeft
                             ? u32(m_uSetupSize - m_uSetupReceived)
                             : m_uBytesLeft;
        if (take) std::memcpy(m_pSetupPacket + m_uSetupReceived, m_pCurrent, take);
        m_uSetupReceived = u16(m_uSetupReceived + take);
        Consume(take);
        if (m_uSetupReceived < m_uSetupSize) continue;
        m_state.decoder.pSetup =
            VorbisSetupCache::Get(h.setup, m_format.uChannels, m_pSetupPacket, m_uSetupSize);
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pSetupPacket);
        m_pSetupPacket = nullptr;
        if (!m_state.decoder.pSetup) return AuResultFail;
        m_bSetupHeld = true;
        if (InitVorbisChannels(m_state.decoder, m_format.uChannels) != 0) return AuResultFail;
        m_state.uStage = kVorbisStageDecoding;
    }
    return AuResultSuccess;
}

AURESULT CAuVorbisFileSource::StartStream() noexcept {
    const bool first = !(m_uStreamFlags & kStarted);
    if (first && m_state.uStage == kVorbisStageHeader) {
        const AURESULT started = CAuStreamedSourceBase::StartStream();
        if (!(m_uStreamFlags & kStarted)) return started;
        m_state = AuVorbisDecodeState{};
        m_state.config = m_config;
        m_state.uStage = kVorbisStageSeekTable;
        if (m_header.uSeekTableSize) {
            m_pSeekTable =
                static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, m_header.uSeekTableSize));
            if (!m_pSeekTable) return AuResultNoMemory;
        }
    }
    if (m_state.uStage < kVorbisStageDecoding) {
        const AURESULT read = ReadSetupFromStream();
        if (read != AuResultSuccess) return read;
        // Reset at every start, seek or not: the trim of the last packet applies from the first pass.
        if (m_pInstance->SeekPending()) {
            const AURESULT sought = Seek();
            if (sought != AuResultSuccess) return sought;
        } else {
            Reset(0);
        }
    }
    return CAuStreamedSourceBase::StartStream();
}

AURESULT CAuVorbisFileSource::Seek() noexcept {
    if (m_state.uStage < kVorbisStageDecoding) {
        // Before the seek table is read the seek waits: the stream reads the data from its start
        // and the seek is made once the set-up is in.
        ClearPendingFlag();
        return SetStreamPosition(m_uDataOffset);
    }
    const u32 wanted = ComputeSeekPosition();
    ClearPendingFlag();
    DropPartial();
    m_pInstance->ClearSeek();
    if (wanted >= m_uTotalSamples) return AuResultFail;
    u32 reached, offset;
    if (VorbisSeekTableLookup(m_pSeekTable, m_header.uSeekTableSize, m_header.uFirstPacket, wanted, reached,
                              offset) != AuResultSuccess)
        return AuResultFail;
    m_uLoopsCompleted = 0;
    ApplyHeuristics();
    if (SetStreamPosition(m_uDataOffset + offset) != AuResultSuccess) return AuResultFail;
    // The decoder drops the frames up to the target itself; the pitch node drops none.
    m_pInstance->SetSourceFrameOffset(0);
    m_uPosition = wanted;
    Reset(wanted - reached);
    return AuResultSuccess;
}

AURESULT CAuVorbisFileSource::VirtualOff(u32 behavior, bool useSeek) noexcept {
    const AURESULT result = CAuStreamedSourceBase::VirtualOff(behavior, useSeek);
    if (behavior == 0 || (behavior == 1 && !useSeek)) {
        // The base placed the stream at the step that holds the position and left the rest to
        // drop: the decoder drops it.
        const u32 skip = m_pInstance->SourceFrameOffset();
        m_pInstance->SetSourceFrameOffset(0);
        m_uPosition += skip;
        Reset(skip);
    }
    return result;
}

void CAuVorbisFileSource::StopLooping() noexcept {
    if (m_uLoopsCompleted == 0) m_state.decoder.uTrim = m_header.uEndTrim;
    CAuStreamedSourceBase::StopLooping();
}

AURESULT CAuVorbisFileSource::OnLoopComplete(bool atEnd) noexcept {
    const AURESULT result = CAuStreamedSourceBase::OnLoopComplete(atEnd);
    if (atEnd) return result;
    // The stream is already at the loop start.
    Reset(m_header.uLoopStartSkip);
    return AuResultDataReady;
}

void CAuVorbisFileSource::StopStream() noexcept {
    ReleaseBuffer();
    FreeVorbisChannels(m_state.decoder);
    for (u8** block : {&m_pSeekTable, &m_pSetupPacket, &m_pStitch}) {
        if (*block) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, *block);
        *block = nullptr;
    }
    m_uStitchHeld = m_uStitchRead = 0;
    CAuStreamedSourceBase::StopStream();
}

void CAuVorbisFileSource::ReleaseBuffer() noexcept {
    if (m_state.pOutput) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_state.pOutput);
    m_state.pOutput = nullptr;
}

void CAuVorbisFileSource::Decode(const u8* data, u32 size, bool allPresent) noexcept {
    m_state.uBytesAvailable = size;
    m_state.bAllDataPresent = allPresent;
    DecodeVorbisPackets(m_state, m_header.uMaxPacket, data, m_state.pOutput);
}

void CAuVorbisFileSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    const auto fail = [&buffer] {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
    };
    const AURESULT status = UpdateBufferingStatus();
    if (status != AuResultDataReady) {
        buffer.uValidFrames = 0;
        buffer.eState = status;
        return;
    }
    const u32 channels = m_format.uChannels;
    if (!m_state.pOutput)
        m_state.pOutput = static_cast<i16*>(AU::MemoryMgr::Malign(
            g_LEngineDefaultPoolId, u32(buffer.uMaxFrames) * channels * sizeof(i16), 16));
    if (!m_state.pOutput || !m_state.decoder.pBlock) return fail();
    const u32 capacity = 2 * (u32(m_header.uMaxPacket) + 2);
    m_state.uFramesWanted = buffer.uMaxFrames;
    for (;;) {
        // The pass's bytes end with what is in hand once the stream reached the end of the file
        // or went on to the next pass.
        const bool passEnds = EndOfFile() || m_uLoopsCompleted > 0;
        if (m_uStitchHeld > m_uStitchRead) {
            Decode(m_pStitch + m_uStitchRead, m_uStitchHeld - m_uStitchRead, passEnds && m_uBytesLeft == 0);
            m_uStitchRead += m_state.uBytesConsumed;
            if (m_state.uFramesProduced || m_state.eStatus != AuResultNoDataReady) break;
            // A packet still cut: more bytes behind the held ones.
            if (m_uBytesLeft) {
                const u32 unread = m_uStitchHeld - m_uStitchRead;
                std::memmove(m_pStitch, m_pStitch + m_uStitchRead, unread);
                const u32 take = capacity - unread < m_uBytesLeft ? capacity - unread : m_uBytesLeft;
                std::memcpy(m_pStitch + unread, m_pCurrent, take);
                m_uStitchRead = 0;
                m_uStitchHeld = unread + take;
                Consume(take);
                continue;
            }
            if (passEnds) break;
        } else if (m_uBytesLeft) {
            Decode(m_pCurrent, m_uBytesLeft, passEnds);
            Consume(m_state.uBytesConsumed);
            if (m_state.uFramesProduced || m_state.eStatus != AuResultNoDataReady) break;
            if (!m_uBytesLeft) continue;
            // The next packet is cut by the end of this buffer: its bytes go to the stitch buffer.
            if (!m_pStitch)
                m_pStitch = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, capacity));
            if (!m_pStitch || m_uBytesLeft > capacity) return fail();
            std::memcpy(m_pStitch, m_pCurrent, m_uBytesLeft);
            m_uStitchRead = 0;
            m_uStitchHeld = m_uBytesLeft;
            Consume(m_uBytesLeft);
            continue;
        } else if (passEnds || m_state.uStage == kVorbisStageLastDecoded) {
            // Nothing more comes for this pass: what the decoder holds is all.
            Decode(nullptr, 0, true);
            break;
        }
        if (m_uBytesLeft == 0 && !passEnds) {
            const AURESULT got = NextStreamBuffer();
            if (got == AuResultNoDataReady) return FillBuffer(nullptr, 0, buffer);
            if (got != AuResultDataReady && got != AuResultNoMoreData) return fail();
        }
    }
    if (m_state.eStatus == AuResultFail) return fail();
    if (m_state.uFramesProduced == 0) {
        // The pass ran out of packets before the position reached its end (media whose sample
        // and byte loop fields disagree): end the pass here instead of waiting for ever.
        buffer.uValidFrames = 0;
        if (Looping()) m_uPosition = m_uLoopStart;
        buffer.eState = OnLoopComplete(!Looping());
        return;
    }
    FillBuffer(m_state.pOutput, m_state.uFramesProduced, buffer);
}

namespace {

// The codec table hands sources out as its opaque codec type; the source factory takes them back
// as the sources they are and destroys them with AuDestroySource.
template <class T, class... Args> AU::IAuSoftwareCodec* Build(Args... args) {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(T), 16);
    if (!block) return nullptr;
    CAuSourceBase* source = new (block) T(args...);
    return reinterpret_cast<AU::IAuSoftwareCodec*>(source);
}

} // namespace

AU::IAuSoftwareCodec* CreateVorbisFileSource(void* playbackInstance) {
    return Build<CAuVorbisFileSource>(static_cast<CAuPlaybackInstance*>(playbackInstance));
}

AU::IAuSoftwareCodec* CreateVorbisBankSource(void* playbackInstance) {
    auto* instance = static_cast<CAuPlaybackInstance*>(playbackInstance);
    const AuSourceMedia& media = instance->GetSourceMedia();
    return Build<CAuVorbisBankSource>(instance, media.pData, media.uSize);
}
