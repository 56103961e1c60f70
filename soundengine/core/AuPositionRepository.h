// Play positions and stream buffering per playing ID: voices write on the audio thread, the
// game reads from its own threads. One lock serialises both.
#pragma once

#include "memory/AuArray.h"
#include <AU/AuTypes.h>

#include <windows.h>

struct AuPlayPositionRow {
    AuPlayingID playingID;
    u64 stamp;      // performance counter of the last update
    u32 cookie;     // the voice that owns the row
    u32 position;   // samples; 0xFFFFFFFF until known
    f32 rate;       // playback speed factor
    u32 duration;   // samples; 0xFFFFFFFF until known
    u32 sampleRate; // 1 until known
};

struct AuStreamBufferingRow {
    AuPlayingID playingID;
    u32 audioFrame; // of the last update
    u32 amount;     // buffered milliseconds
    u32 status;     // 1 buffering, 2 error, 17 complete
};

class CAuPositionRepository {
public:
    CAuPositionRepository();
    ~CAuPositionRepository();

    AURESULT Init();
    void Term();

    // Audio thread, once per frame: the frame number and clock that later updates stamp with.
    void UpdateTime(u32 audioFrame);

    void AddSource(AuPlayingID playingID, u32 cookie);
    void UpdatePlayPosition(AuPlayingID playingID, u32 cookie, u32 position, u32 duration, u32 sampleRate);
    void SetRate(AuPlayingID playingID, f32 rate);
    void RemoveSource(AuPlayingID playingID, u32 cookie);
    void RemovePlayingID(AuPlayingID playingID);
    // 2 and 0 ms while the voice has not reported a sample rate.
    AURESULT GetSourcePlayPosition(AuPlayingID playingID, u32& ms, bool extrapolate);

    void UpdateStreamBuffering(AuPlayingID playingID, u32 amount, u32 status);
    AURESULT GetSourceStreamBuffering(AuPlayingID playingID, u32& amount, u32& status);
    void RemoveStreamBuffering(AuPlayingID playingID);

private:
    AuPlayPositionRow* FindRow(AuPlayingID playingID);

    AuArray<AuPlayPositionRow> m_positions;
    AuArray<AuStreamBufferingRow> m_buffering;
    CRITICAL_SECTION m_lock;
    u64 m_lastUpdate = 0;
    u32 m_audioFrame = 0;
};

// Made by the engine's initialisation.
extern CAuPositionRepository* g_pPositionRepository;
