// The segment information of every play that asked for it, written by the audio thread each
// frame and read by the game's thread, so under a lock of its own.
#pragma once

#include "memory/AuArray.h"

#include <AU/MusicEngine.h>

#include <windows.h>

class CAuSegmentInfoRepository {
public:
    void Init();
    void Term();

    // A zeroed row stamped now (an existing row is reset). 52 without memory.
    AURESULT AddRow(AuPlayingID playingID);
    // [audio thread] Replaces the row's values and stamp; nothing for a playing ID without a row.
    void UpdateRow(AuPlayingID playingID, const AuSegmentInfo& info) noexcept;
    void RemoveRow(AuPlayingID playingID);
    // 1 with the row, 2 without one (info untouched).
    AURESULT GetRow(AuPlayingID playingID, AuSegmentInfo& info, bool extrapolate);

private:
    struct Row {
        AuPlayingID playingID;
        u32 uUnused;
        AuSegmentInfo info;
        u64 uStamp;
    };
    static_assert(sizeof(Row) == 40);

    Row* Find(AuPlayingID playingID);

    AuArray<Row> m_rows;
    CRITICAL_SECTION m_lock;
    bool m_bLockMade = false;
};
