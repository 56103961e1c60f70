#include "voices/AuStreamedSourceBase.h"

#include "core/AuPositionRepository.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/AuCallback.h>
#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

// A header that needs more than this is refused rather than gathered.
constexpr u32 kMaxHeaderBytes = 1u << 20;

i8 PriorityOf(const CAuPlaybackInstance& instance) {
    const f32 priority = instance.Priority().fPriority;
    return i8(priority < 0.0f ? 0 : priority > 100.0f ? 100 : priority);
}

} // namespace

CAuStreamedSourceBase::CAuStreamedSourceBase(CAuPlaybackInstance* instance) noexcept
    : CAuSourceBase(instance, instance->GetSourceMedia().pData, instance->GetSourceMedia().uSize),
      m_media(instance->GetSourceMedia()) {}

CAuStreamedSourceBase::~CAuStreamedSourceBase() {
    if (m_pStream) {
        ClearPendingFlag();
        m_pStream->Destroy();
    }
    FreeHeaderCopy();
    FreeAnalysisCopy();
}

AURESULT CAuStreamedSourceBase::OpenStream() noexcept {
    AU::IAuStreamMgr* manager = AU::IAuStreamMgr::m_pStreamMgr;
    if (!manager) return AuResultFail;
    AuFileOpenFlags flags{};
    flags.uOrigin = AU_FILE_ORIGIN_ENGINE;
    flags.uFileType = m_media.Codec();
    flags.bIsLanguageSpecific = m_media.uFlags & AuSourceMedia::kLanguageSpecific;
    flags.uCacheID = AU_NO_CACHE_ID;
    const AuAutoStmHeuristics heuristics{0.0f, 0, 0, 0, PriorityOf(*m_pInstance)};
    AuAutoStmBufSettings settings{0, 2048, 0};
    AURESULT result;
    if (m_media.pszFileName)
        result = manager->CreateAuto(m_media.pszFileName, &flags, heuristics, &settings, m_pStream, true);
    else if (m_media.uFileID != 0xFFFFFFFF)
        result = manager->CreateAuto(m_media.uFileID, &flags, heuristics, &settings, m_pStream, true);
    else
        return AuResultFail;
    if (result != AuResultSuccess) m_pStream = nullptr;
    return result;
}

bool CAuStreamedSourceBase::ApplyStartOffset(AURESULT& result) noexcept {
    if (!(m_media.uFlags & AuSourceMedia::kPrefetched) || !m_media.pData || m_pInstance->SeekPending())
        return false;
    // The analysis data may point into the prefetch: it stays in memory with the media.
    m_uStreamFlags |= kPrefetchInUse;
    result = ParseHeader(m_media.pData, m_media.uSize);
    if (result != AuResultSuccess) {
        m_uStreamFlags &= ~kPrefetchInUse;
        // A prefetch shorter than the header: the stream brings all of it.
        return result != AuResultTruncatedChunk;
    }
    m_uReceived = 0;
    m_uSkip = m_uDataOffset;
    ProcessStreamBuffer(m_media.pData, m_media.uSize, true);
    if (m_uLoopsCompleted == 0 && !EndOfFile()) result = SetStreamPosition(m_uReceived + m_uSkip);
    return true;
}

AURESULT CAuStreamedSourceBase::StartStream() noexcept {
    if (!(m_uStreamFlags & kStarted)) {
        if (!m_pStream) {
            const AURESULT opened = OpenStream();
            if (opened != AuResultSuccess) return opened;
        }
        AURESULT result;
        const bool prefetched = ApplyStartOffset(result);
        if (prefetched && result != AuResultSuccess) return result;
        if (m_pStream->Start() != AuResultSuccess) return AuResultFail;
        if (!prefetched) {
            result = ReadHeaderFromStream();
            if (result != AuResultSuccess) return result;
        }
        m_pStream->SetMinimalBufferSize(GetBlockAlign());
        ApplyHeuristics();
        m_uStreamFlags |= kStarted;
        // The prefetched start plays while the stream fills.
        if (prefetched) {
            m_bWaitForBuffering = false;
            return AuResultSuccess;
        }
    }
    const AURESULT result = UpdateBufferingStatus();
    return result == AuResultNoDataReady ? AuResultStillBuffering
           : result == AuResultDataReady ? AuResultSuccess
                                         : result;
}

AURESULT CAuStreamedSourceBase::ReadHeaderFromStream() noexcept {
    while (true) {
        void* data = nullptr;
        u32 size = 0;
        const AURESULT got = m_pStream->GetBuffer(data, size, false);
        if (got == AuResultNoDataReady) return AuResultStillBuffering;
        if (got != AuResultDataReady && got != AuResultNoMoreData) return AuResultFail;
        if (size == 0) {
            FreeHeaderCopy();
            return got == AuResultNoMoreData ? AuResultBadHeader : AuResultFail;
        }
        m_bHoldsBuffer = true;
        m_pCurrent = static_cast<const u8*>(data);
        const u8* header = m_pCurrent;
        u32 headerSize = size;
        if (m_pHeaderCopy) {
            if (u64{m_uHeaderCopySize} + size > kMaxHeaderBytes) {
                ClearPendingFlag();
                FreeHeaderCopy();
                return AuResultBadHeader;
            }
            auto* grown =
                static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, m_uHeaderCopySize + size));
            if (!grown) {
                ClearPendingFlag();
                FreeHeaderCopy();
                return AuResultNoMemory;
            }
            memcpy(grown, m_pHeaderCopy, m_uHeaderCopySize);
            memcpy(grown + m_uHeaderCopySize, data, size);
            AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pHeaderCopy);
            m_pHeaderCopy = grown;
            m_uHeaderCopySize += size;
            header = m_pHeaderCopy;
            headerSize = m_uHeaderCopySize;
        }
        // Below 20 bytes not even the form can be judged.
        const AURESULT parsed = headerSize < 20 ? AuResultTruncatedChunk : ParseHeader(header, headerSize);
        if (parsed == AuResultTruncatedChunk && got != AuResultNoMoreData) {
            // The header goes on in the next buffer: this one is kept as a copy.
            if (!m_pHeaderCopy) {
                m_pHeaderCopy = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, size));
                if (!m_pHeaderCopy) {
                    ClearPendingFlag();
                    return AuResultNoMemory;
                }
                memcpy(m_pHeaderCopy, data, size);
                m_uHeaderCopySize = size;
            }
            m_uReceived += size;
            ClearPendingFlag();
            continue;
        }
        FreeHeaderCopy();
        if (parsed != AuResultSuccess) {
            ClearPendingFlag();
            return parsed == AuResultTruncatedChunk ? AuResultBadHeader : parsed;
        }
        if (m_pInstance->SeekPending()) {
            m_uReceived += size;
            ClearPendingFlag();
            return Seek();
        }
        // A shorter header would have parsed before: the data start lies in this buffer.
        m_uSkip = m_uDataOffset - m_uReceived;
        ProcessStreamBuffer(static_cast<const u8*>(data), size, false);
        return AuResultSuccess;
    }
}

AURESULT CAuStreamedSourceBase::ReadStreamedHeader(const u8* header, u32 size, u16 tag, u32 samplesPerBlock,
                                                   u32 blockBytesPerChannel) noexcept {
    FreeAnalysisCopy();
    const AURESULT result = ReadHeader(header, size, false, tag, samplesPerBlock, blockBytesPerChannel);
    if (result != AuResultSuccess || !m_analysis.pData || (m_uStreamFlags & kPrefetchInUse)) return result;
    // Stream buffers go back to the stream: the envelope is kept as a copy (dropped without memory).
    m_pAnalysisCopy = static_cast<u8*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, m_analysis.uSize));
    if (m_pAnalysisCopy) memcpy(m_pAnalysisCopy, m_analysis.pData, m_analysis.uSize);
    m_analysis = m_pAnalysisCopy ? AuRiffChunk{m_analysis.uSize, m_pAnalysisCopy} : AuRiffChunk{};
    return result;
}

AURESULT CAuStreamedSourceBase::ApplyHeuristics() noexcept {
    const i8 priority = PriorityOf(*m_pInstance);
    m_lastPriority = priority;
    AuAutoStmHeuristics heuristics{GetThroughput(), 0, 0, 0, priority};
    if (!LastPass()) {
        heuristics.uLoopStart = m_uLoopStartByte;
        heuristics.uLoopEnd = m_uLoopEndByte;
    }
    return m_pStream->SetHeuristics(heuristics);
}

AURESULT CAuStreamedSourceBase::GetStreamBuffer() noexcept {
    if (PriorityOf(*m_pInstance) != m_lastPriority) ApplyHeuristics();
    void* data = nullptr;
    u32 size = 0;
    const AURESULT got = m_pStream->GetBuffer(data, size, false);
    if (got != AuResultDataReady && got != AuResultNoMoreData) return got;
    if (size == 0) {
        if (got != AuResultNoMoreData) return AuResultFail;
        // The file ends here, before its data may have: what came is all there is.
        m_uStreamFlags |= kEndOfFile;
        return AuResultNoMoreData;
    }
    m_bHoldsBuffer = true;
    const u16 loops = m_uLoopsCompleted;
    ProcessStreamBuffer(static_cast<const u8*>(data), size, false);
    if (got == AuResultNoMoreData && loops == m_uLoopsCompleted) m_uStreamFlags |= kEndOfFile;
    return AuResultDataReady;
}

void CAuStreamedSourceBase::ClearPendingFlag() noexcept {
    if (m_uStreamFlags & kPrefetchCurrent)
        m_uStreamFlags &= ~(kPrefetchCurrent | kInMediaMemory);
    else if (m_bHoldsBuffer)
        m_pStream->ReleaseBuffer();
    m_bHoldsBuffer = false;
    m_pCurrent = nullptr;
    m_uBytesLeft = 0;
}

void CAuStreamedSourceBase::ProcessStreamBuffer(const u8* buffer, u32 size, bool prefetch) noexcept {
    const u64 start = m_uReceived;
    const u64 received = start + size;
    m_uReceived = received > UINT32_MAX ? UINT32_MAX : u32(received);
    const u32 skip = m_uSkip < size ? m_uSkip : size;
    m_uSkip -= skip;
    m_pCurrent = buffer + skip;
    m_uBytesLeft = size - skip;
    m_uCurrentOffset = u32(start + skip);
    if (prefetch)
        m_uStreamFlags |= kPrefetchCurrent | kInMediaMemory;
    else
        m_uStreamFlags &= ~(kPrefetchCurrent | kInMediaMemory);
    const u32 limit = LastPass() ? DataEnd() : m_uLoopEndByte;
    if (received < limit) return;
    // What lies past the pass is not this pass's.
    const u64 over = received - limit;
    m_uBytesLeft = over >= m_uBytesLeft ? 0 : u32(m_uBytesLeft - over);
    if (LastPass()) {
        m_uStreamFlags |= kEndOfFile;
        return;
    }
    if (SetStreamPosition(m_uLoopStartByte) != AuResultSuccess) {
        m_uStreamFlags |= kEndOfFile;
        return;
    }
    ++m_uLoopsCompleted;
    if (LastPass()) ApplyHeuristics();
}

AURESULT CAuStreamedSourceBase::UpdateBufferingStatus() noexcept {
    if (!m_pStream || !(m_uStreamFlags & kStarted)) return AuResultFail;
    if ((m_pInstance->CallbackFlags() & AU_EnableGetSourceStreamBuffering) && g_pPositionRepository) {
        u32 held = 0;
        const AURESULT status = m_pStream->QueryBufferingStatus(held);
        const f32 throughput = GetThroughput();
        u32 ms = throughput > 0.0f ? u32(f64(u64{held} + m_uBytesLeft) / throughput) : 0;
        u32 report = AuResultSuccess;
        if (status == AuResultFail) {
            ms = 0;
            report = AuResultFail;
        } else if (status == AuResultNoMoreData || held >= m_pStream->GetNominalBuffering()) {
            report = AuResultNoMoreData;
        }
        g_pPositionRepository->UpdateStreamBuffering(m_pInstance->Key().playingID, ms, report);
    }
    if (!m_bWaitForBuffering) return AuResultDataReady;
    u32 held = 0;
    const AURESULT status = m_pStream->QueryBufferingStatus(held);
    if (status == AuResultNoMoreData) {
        m_bWaitForBuffering = false;
        return AuResultDataReady;
    }
    if (status != AuResultDataReady && status != AuResultNoDataReady) return status;
    if (u64{held} + m_uBytesLeft < m_pStream->GetNominalBuffering()) return AuResultNoDataReady;
    m_bWaitForBuffering = false;
    return AuResultDataReady;
}

AURESULT CAuStreamedSourceBase::SetStreamPosition(u32 offset) noexcept {
    i64 real = 0;
    if (m_pStream->SetPosition(offset, AuMoveBegin, &real) != AuResultSuccess || real < 0 || real > offset)
        return AuResultFail;
    m_uReceived = u32(real);
    m_uSkip = offset - u32(real);
    m_uStreamFlags &= ~kEndOfFile;
    return AuResultSuccess;
}

void CAuStreamedSourceBase::Consume(u32 bytes) noexcept {
    m_pCurrent += bytes;
    m_uBytesLeft -= bytes;
    m_uCurrentOffset += bytes;
    if (m_uBytesLeft == 0) ClearPendingFlag();
}

AURESULT CAuStreamedSourceBase::OnLoopComplete(bool atEnd) noexcept {
    const AURESULT result = CAuSourceBase::OnLoopComplete(atEnd);
    if (!atEnd && m_uLoopsCompleted) --m_uLoopsCompleted;
    return result;
}

void CAuStreamedSourceBase::StopStream() noexcept {
    if (m_pStream) {
        ClearPendingFlag();
        m_pStream->Destroy();
        m_pStream = nullptr;
    }
    DropPartial();
    m_uStreamFlags &= ~kStarted;
    m_cues.Free();
}

AURESULT CAuStreamedSourceBase::Seek() noexcept {
    if (!m_pStream) return AuResultFail;
    const u32 wanted = ComputeSeekPosition();
    ClearPendingFlag();
    DropPartial();
    if (wanted >= m_uTotalSamples) {
        m_pInstance->ClearSeek();
        return AuResultFail;
    }
    u32 reached = wanted;
    const u32 offset = FindClosestFileOffset(wanted, reached);
    m_uLoopsCompleted = 0;
    ApplyHeuristics();
    const AURESULT placed = SetStreamPosition(offset);
    m_pInstance->ClearSeek();
    if (placed != AuResultSuccess) return AuResultFail;
    m_uPosition = reached;
    // The frames between the block reached and the one wanted are the pitch node's to drop.
    m_pInstance->SetSourceFrameOffset(wanted - reached);
    return AuResultSuccess;
}

void CAuStreamedSourceBase::VirtualOn(u32 behavior) noexcept {
    if (m_pStream) m_pStream->Stop();
    if (behavior != 2) {
        ClearPendingFlag();
        DropPartial();
    }
}

AURESULT CAuStreamedSourceBase::VirtualOff(u32 behavior, bool useSeek) noexcept {
    if (!m_pStream) return AuResultFail;
    AURESULT result = AuResultSuccess;
    if (behavior == 1 && useSeek) {
        result = Seek();
    } else if (behavior == 0 || behavior == 1) {
        ClearPendingFlag();
        DropPartial();
        if (behavior == 0) {
            m_uPosition = 0;
            m_uLoopCount = m_pInstance->LoopCount();
        }
        m_uLoopsCompleted = 0;
        ApplyHeuristics();
        // The data's first byte, not the file's: the header is not samples.
        u32 reached = m_uPosition;
        if (SetStreamPosition(FindClosestFileOffset(m_uPosition, reached)) != AuResultSuccess) {
            reached = 0;
            if (SetStreamPosition(FindClosestFileOffset(0, reached)) != AuResultSuccess)
                result = AuResultFail;
        }
        m_pInstance->SetSourceFrameOffset(m_uPosition - reached);
        m_uPosition = reached;
    }
    m_bWaitForBuffering = true;
    if (m_pStream->Start() != AuResultSuccess) return AuResultFail;
    return result;
}

void CAuStreamedSourceBase::StopLooping() noexcept {
    m_uLoopCount = u16(m_uLoopsCompleted + 1);
    if (m_pStream && (m_uStreamFlags & kStarted)) ApplyHeuristics();
}

void CAuStreamedSourceBase::RelocateMedia(const u8* newBase, const u8* oldBase) noexcept {
    if (m_uStreamFlags & kInMediaMemory) m_pCurrent = newBase + (m_pCurrent - oldBase);
    if ((m_uStreamFlags & kPrefetchInUse) && m_analysis.pData)
        m_analysis.pData = newBase + (m_analysis.pData - oldBase);
    if (m_media.pData) m_media.pData = newBase + (m_media.pData - oldBase);
    if (m_pMedia) m_pMedia = newBase + (m_pMedia - oldBase);
}

void CAuStreamedSourceBase::FreeHeaderCopy() noexcept {
    if (m_pHeaderCopy) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pHeaderCopy);
    m_pHeaderCopy = nullptr;
    m_uHeaderCopySize = 0;
}

void CAuStreamedSourceBase::FreeAnalysisCopy() noexcept {
    if (m_pAnalysisCopy) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pAnalysisCopy);
    if (m_analysis.pData == m_pAnalysisCopy) m_analysis = {};
    m_pAnalysisCopy = nullptr;
}
