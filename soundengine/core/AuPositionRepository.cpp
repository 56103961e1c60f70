#include "core/AuPositionRepository.h"

#include <algorithm>
#include <cmath>

CAuPositionRepository* g_pPositionRepository = nullptr;

namespace {

constexpr u32 kUnknown = 0xFFFFFFFFu;
constexpr u32 kRateUnknown = 1;
constexpr u32 kInitialRows = 8;
constexpr u32 kStatusError = 2;

u64 Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<u64>(counter.QuadPart);
}

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~Lock() { LeaveCriticalSection(&m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

} // namespace

CAuPositionRepository::CAuPositionRepository() {
    InitializeCriticalSection(&m_lock);
}

CAuPositionRepository::~CAuPositionRepository() {
    Term();
    DeleteCriticalSection(&m_lock);
}

AURESULT CAuPositionRepository::Init() {
    Lock lock(m_lock);
    if (m_positions.Capacity() == 0 && !m_positions.Grow(kInitialRows)) return AuResultNoMemory;
    m_lastUpdate = Now();
    return AuResultSuccess;
}

void CAuPositionRepository::Term() {
    Lock lock(m_lock);
    m_positions.Term();
    m_buffering.Term();
}

void CAuPositionRepository::UpdateTime(u32 audioFrame) {
    Lock lock(m_lock);
    m_lastUpdate = Now();
    m_audioFrame = audioFrame;
}

AuPlayPositionRow* CAuPositionRepository::FindRow(AuPlayingID playingID) {
    const u32 index =
        m_positions.IndexOf([&](const AuPlayPositionRow& row) { return row.playingID == playingID; });
    return index < m_positions.Count() ? &m_positions[index] : nullptr;
}

void CAuPositionRepository::AddSource(AuPlayingID playingID, u32 cookie) {
    Lock lock(m_lock);
    if (FindRow(playingID)) return;
    if (AuPlayPositionRow* row = m_positions.AddLast())
        *row = AuPlayPositionRow{playingID, Now(), cookie, kUnknown, 1.0f, kUnknown, kRateUnknown};
}

void CAuPositionRepository::UpdatePlayPosition(AuPlayingID playingID, u32 cookie, u32 position, u32 duration,
                                               u32 sampleRate) {
    Lock lock(m_lock);
    AuPlayPositionRow* row = FindRow(playingID);
    if (!row) {
        row = m_positions.AddLast();
        if (!row) return;
        row->playingID = playingID;
        row->rate = 1.0f;
    }
    row->cookie = cookie;
    row->position = position;
    row->duration = duration;
    row->sampleRate = sampleRate;
    row->stamp = Now();
}

void CAuPositionRepository::SetRate(AuPlayingID playingID, f32 rate) {
    Lock lock(m_lock);
    if (AuPlayPositionRow* row = FindRow(playingID)) {
        row->stamp = m_lastUpdate;
        row->rate = rate;
    }
}

void CAuPositionRepository::RemoveSource(AuPlayingID playingID, u32 cookie) {
    Lock lock(m_lock);
    const u32 index = m_positions.IndexOf(
        [&](const AuPlayPositionRow& row) { return row.playingID == playingID && row.cookie == cookie; });
    m_positions.EraseOrdered(index);
}

void CAuPositionRepository::RemovePlayingID(AuPlayingID playingID) {
    Lock lock(m_lock);
    m_positions.EraseOrdered(
        m_positions.IndexOf([&](const AuPlayPositionRow& row) { return row.playingID == playingID; }));
}

AURESULT CAuPositionRepository::GetSourcePlayPosition(AuPlayingID playingID, u32& ms, bool extrapolate) {
    ms = 0;
    Lock lock(m_lock);
    const AuPlayPositionRow* row = FindRow(playingID);
    // A rate of 0 would divide by zero; like 1, it means the voice has not reported yet.
    if (!row || row->sampleRate <= kRateUnknown) return AuResultFail;
    // Double precision: position x 1000 leaves 32 bits after about 89 s at 48 kHz.
    double positionMs = row->position * 1000.0 / row->sampleRate;
    const double durationMs = row->duration * 1000.0 / row->sampleRate;
    if (extrapolate) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        const double countsPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
        const u64 now = Now();
        const double elapsed = now > row->stamp ? static_cast<double>(now - row->stamp) : 0.0;
        const double rate = std::isfinite(row->rate) && row->rate > 0.0f ? row->rate : 0.0;
        positionMs += elapsed / countsPerMs * rate;
    }
    ms = static_cast<u32>(std::min(positionMs, durationMs));
    return AuResultSuccess;
}

void CAuPositionRepository::UpdateStreamBuffering(AuPlayingID playingID, u32 amount, u32 status) {
    Lock lock(m_lock);
    const u32 index =
        m_buffering.IndexOf([&](const AuStreamBufferingRow& row) { return row.playingID == playingID; });
    if (index == m_buffering.Count()) {
        if (AuStreamBufferingRow* row = m_buffering.AddLast())
            *row = AuStreamBufferingRow{playingID, m_audioFrame, amount, status};
        return;
    }
    AuStreamBufferingRow& row = m_buffering[index];
    if (row.audioFrame != m_audioFrame) {
        row.amount = amount;
        row.status = status;
    } else if (status == kStatusError) {
        // An error of any stream of the playing ID is what the game must see.
        row.amount = amount;
        row.status = status;
    } else {
        row.amount = std::min(row.amount, amount);
        if (row.amount != 1) row.status = status;
    }
    row.audioFrame = m_audioFrame;
}

AURESULT CAuPositionRepository::GetSourceStreamBuffering(AuPlayingID playingID, u32& amount, u32& status) {
    Lock lock(m_lock);
    const u32 index =
        m_buffering.IndexOf([&](const AuStreamBufferingRow& row) { return row.playingID == playingID; });
    if (index == m_buffering.Count()) return AuResultFail;
    amount = m_buffering[index].amount;
    status = m_buffering[index].status;
    return AuResultSuccess;
}

void CAuPositionRepository::RemoveStreamBuffering(AuPlayingID playingID) {
    Lock lock(m_lock);
    m_buffering.EraseOrdered(
        m_buffering.IndexOf([&](const AuStreamBufferingRow& row) { return row.playingID == playingID; }));
}
