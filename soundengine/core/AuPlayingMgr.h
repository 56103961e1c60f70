// Playing IDs: one record per live posted event, counting its playback instances and pending
// actions; the record ends when both reach zero and the game hears of it if it asked. Every
// callback of the engine goes through here, under one discipline that lets the game cancel them.
#pragma once

#include <AU/AuCallback.h>
#include <memory/AuArray.h>

#include <windows.h>

class AuExternalSourceArray;

struct AuPlayingRecord {
    u32 uNumInstances;
    u32 uNumPendingActions; // 1 at creation: the post itself, until the audio thread has run it
    AuUniqueID eventID;
    u32 gameObj;
    AuExternalSourceArray* pExternalSources; // one reference held
    AuPlayingID playingID;
    AuCallbackFunc pfnCallback;
    void* pCookie;
    u32 uFlags;
    AuPlayingRecord* pNextItem;
};

class CAuBusCallbackMgr {
public:
    AURESULT Init();
    void Term();
    // A null callback removes the bus's entry. 1, or 52 when the array cannot grow.
    AURESULT SetVolumeCallback(AuUniqueID busID, AuBusCallbackFunc callback);
    AURESULT SetMeteringCallback(AuUniqueID busID, AuBusMeteringCallbackFunc callback, AuMeteringFlags flags);
    // [audio thread] Call the bus's callback under this manager's lock; false when it has none.
    bool DoVolumeCallback(AuUniqueID busID, AuSpeakerVolumeMatrixCallbackInfo* info) noexcept;
    bool DoMeteringCallback(AuUniqueID busID, AU::IAuMetering* metering, AuChannelConfig config) noexcept;
    AuMeteringFlags GetMeteringFlags(AuUniqueID busID);
    bool HasVolumeCallback(AuUniqueID busID);

private:
    struct VolumeEntry {
        AuUniqueID busID;
        AuBusCallbackFunc callback;
    };
    struct MeteringEntry {
        AuUniqueID busID;
        AuBusMeteringCallbackFunc callback;
        AuMeteringFlags flags;
    };
    AuArray<VolumeEntry> m_volume;
    AuArray<MeteringEntry> m_metering;
    CRITICAL_SECTION m_lock;
    bool m_bLockMade = false;
};

class CAuPlayingMgr {
public:
    static constexpr u32 kNumBuckets = 31;

    // The lock and the callback guard (signalled: no callback runs); 2 when the event cannot be made.
    AURESULT Init();
    // Frees every record still live, the bus callbacks, the lock and the event.
    void Term();

    // A record for a new post, holding one pending action. A callback-less post keeps only the
    // flag bits that need none. 52 when out of memory.
    AURESULT AddPlayingID(AuPlayingID playingID, u32 gameObj, AuUniqueID eventID, AuCallbackFunc callback,
                          void* cookie, u32 flags, AuExternalSourceArray* externalSources);
    // One more instance; its flags come back so that it knows what to report. 1 always.
    AURESULT AddInstance(AuPlayingID playingID, u32& flags);
    void RemoveInstance(AuPlayingID playingID);
    // A playing ID of 0 is ignored.
    void AddPendingAction(AuPlayingID playingID);
    void RemovePendingAction(AuPlayingID playingID);
    // 0xFFFFFFFF for a playing ID that has ended or never was.
    u32 GetGameObjFromPlayingID(AuPlayingID playingID);
    bool IsLive(AuPlayingID playingID);
    u32 NumRecords();

    void CancelEventCallback(AuPlayingID playingID);
    void CancelEventCallbackCookie(void* cookie);

    // [audio thread] Notifications.
    void NotifyDuration(AuPlayingID playingID, f32 duration, f32 estimatedDuration, u32 audioNodeID,
                        u32 mediaID) noexcept;
    void NotifyStarvation(AuPlayingID playingID) noexcept;
    // A voice reached a cue point (position in samples; the label may be null).
    void NotifyMarker(AuPlayingID playingID, u32 identifier, u32 position, const char* label) noexcept;

    CAuBusCallbackMgr& BusCallbacks() { return m_busCallbacks; }

private:
    AuPlayingRecord* Find(AuPlayingID playingID);
    // With the lock held: ends the record when both counts are 0. Leaves the lock either way.
    void CheckEndAndLeave(AuPlayingRecord* record);
    // With the lock held: marks a callback as running, leaves the lock, runs it, marks it done.
    void CallAndLeave(AuCallbackFunc callback, AuCallbackType type, AuCallbackInfo* info) noexcept;
    void WaitForRunningCallbacks();
    void FreeRecord(AuPlayingRecord* record);

    AuPlayingRecord* m_buckets[kNumBuckets] = {};
    u32 m_uNumRecords = 0;
    CRITICAL_SECTION m_lock;
    bool m_bLockMade = false;
    // Manual reset: reset while any callback runs, set when none does. Callbacks nest when one
    // raises another, so a count under the lock decides, not each callback's own end.
    HANDLE m_hCallbackEvent = nullptr;
    u32 m_uRunningCallbacks = 0;
    DWORD m_callbackThread = 0;
    CAuBusCallbackMgr m_busCallbacks;
};

extern CAuPlayingMgr* g_pPlayingMgr;
