#include "music/AuSegmentInfoRepository.h"

#include "core/AuSoundEngineInternal.h"

namespace {

u64 Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<u64>(now.QuadPart);
}

} // namespace

void CAuSegmentInfoRepository::Init() {
    InitializeCriticalSection(&m_lock);
    m_bLockMade = true;
}

void CAuSegmentInfoRepository::Term() {
    m_rows.Term();
    if (m_bLockMade) DeleteCriticalSection(&m_lock);
    m_bLockMade = false;
}

CAuSegmentInfoRepository::Row* CAuSegmentInfoRepository::Find(AuPlayingID playingID) {
    for (Row& row : m_rows)
        if (row.playingID == playingID) return &row;
    return nullptr;
}

AURESULT CAuSegmentInfoRepository::AddRow(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    Row* row = Find(playingID);
    if (!row) row = m_rows.AddLast();
    if (row) *row = Row{playingID, 0, AuSegmentInfo{}, Now()};
    LeaveCriticalSection(&m_lock);
    return row ? AuResultSuccess : AuResultNoMemory;
}

void CAuSegmentInfoRepository::UpdateRow(AuPlayingID playingID, const AuSegmentInfo& info) noexcept {
    EnterCriticalSection(&m_lock);
    if (Row* row = Find(playingID)) {
        row->info = info;
        row->uStamp = Now();
    }
    LeaveCriticalSection(&m_lock);
}

void CAuSegmentInfoRepository::RemoveRow(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    const u32 index = m_rows.IndexOf([playingID](const Row& row) { return row.playingID == playingID; });
    if (index < m_rows.Count()) m_rows.EraseSwap(index);
    LeaveCriticalSection(&m_lock);
}

AURESULT CAuSegmentInfoRepository::GetRow(AuPlayingID playingID, AuSegmentInfo& info, bool extrapolate) {
    EnterCriticalSection(&m_lock);
    const Row* row = Find(playingID);
    if (row) {
        info = row->info;
        const bool hasLength =
            info.iPreEntryDuration > 0 || info.iActiveDuration > 0 || info.iPostExitDuration > 0;
        if (extrapolate && hasLength && g_fPerfCountsPerMs > 0.0f)
            info.iCurrentPosition += static_cast<i32>(static_cast<f64>(Now() - row->uStamp) /
                                                      static_cast<f64>(g_fPerfCountsPerMs));
    }
    LeaveCriticalSection(&m_lock);
    return row ? AuResultSuccess : AuResultFail;
}
