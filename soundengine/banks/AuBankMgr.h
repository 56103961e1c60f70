// The bank manager: the loaded and prepared banks, the media table, the bank file names and the
// bank reader. All work arrives as bank requests; this manager runs each at once on the caller's
// thread, the threaded one (AuThreadedBankMgr.h) on its own thread.
#pragma once

#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"
#include "banks/AuBankReader.h"
#include "banks/AuBankSettings.h"
#include "banks/AuBankSinks.h"
#include "memory/AuArray.h"

#include <AU/AuBankTypes.h>
#include <AU/AuTypes.h>

#include <windows.h>

#include <atomic>

class AuRecordCursor;
struct AuBankSourceRecord;

// Guards the bank list and the load and prepare counts. Beneath g_csMain, above the media lock.
extern CRITICAL_SECTION g_csBankList;

enum AuBankRequestKind : u32 {
    AuBankRequest_Load = 0,
    AuBankRequest_Unload = 1,
    AuBankRequest_PrepareEvents = 2,
    AuBankRequest_UnprepareEvents = 3,
    AuBankRequest_PrepareGameSyncs = 4,
    AuBankRequest_ClearPreparedEvents = 5,
    AuBankRequest_PrepareBank = 6,
    AuBankRequest_UnprepareBank = 7,
    AuBankRequest_ClearBanks = 8,
    AuBankRequest_ReleaseMedia = 10,
};

enum AuBankSource : u32 {
    AuBankSource_ByName = 0, // by the file name known for the bank ID, else as by ID
    AuBankSource_ByID = 1,
    AuBankSource_InPlace = 2, // an image in memory used where it lies
    AuBankSource_Copied = 3,  // an image in memory copied into a pool
};

// One request, passed and queued by value. The words after the source depend on the kind.
struct AuBankRequest {
    u32 kind;
    AuBankCallbackFunc callback;
    void* cookie;
    u32 source;
    u32 bankID; // prepare events: the number of IDs
    union {
        AuMemPoolId poolID; // load, unload
        u32 content;        // prepare bank: AuBankContent
        u32 eventID;        // prepare events with one ID; release media: unused
        u32* pEventIDs;     // prepare events with several IDs: owned by the request
    };
    union {
        const void* memory;
        bool prepare; // game syncs: prepare, else unprepare
    };
    u32 size; // game syncs: the number of value IDs
    union {
        u32 valueID;    // game syncs with one value
        u32* pValueIDs; // several: owned by the request
    };
};

// Whatever lends its bytes to a media entry. A holder that is being unloaded is never handed out.
struct AuMediaHolder {
    static constexpr u8 kUnloading = 1;
    static constexpr u8 kIsBank = 2;
    u8 stateFlags = 0;
};

// One bank in the list, from its first load or preparation until both uses are gone.
struct CAuLoadedBank : AuMediaHolder {
    static constexpr u8 kLoaded = 1;
    static constexpr u8 kOwnsIndex = 2;
    static constexpr u8 kMediaPrepared = 4;

    CAuLoadedBank* pNext = nullptr;
    u32 bankID = 0;
    const void* secondKey = nullptr; // the image of a bank used in place
    u8* pData = nullptr;
    const AuMediaIndexEntry* pIndex = nullptr;
    u32 uDataSize = 0;
    AuMemPoolId poolID = AU_INVALID_POOL_ID;
    bool bOwnPool = false;
    bool bDataFromBlockPool = false;
    u32 uMediaRegistered = 0; // index entries entered into the media table
    u32 uMediaCount = 0;
    AuBankCallbackFunc pendingCallback = nullptr;
    void* pendingCookie = nullptr;
    // Changed under g_csBankList with atomic adds: the audio thread's unload completion and the
    // holders of its media give the load count back while the bank thread reads them. The lock
    // orders them; the atomics keep a reader outside it from tearing.
    std::atomic<i32> loadCount{0};
    std::atomic<i32> prepareCount{0};
    u8 flags = 0;
    u32 uExplicitPreparations = 0;
    // The hierarchy objects of its load, released when the load is undone or unloaded.
    AuBankObjectList objects;
};

// Loaded banks keyed by (bank ID, second key); every call holds g_csBankList.
class CAuBankList {
public:
    static constexpr u32 kBuckets = 193;
    void Init();
    CAuLoadedBank* Get(u32 bankID, const void* secondKey);
    // False when the pair is listed already.
    bool Set(CAuLoadedBank* bank);
    void Remove(CAuLoadedBank* bank);
    u32 Count() const { return m_uCount; }
    template <class Fn> void ForEach(Fn fn) {
        for (CAuLoadedBank* head : m_buckets)
            for (CAuLoadedBank* bank = head; bank;) {
                CAuLoadedBank* next = bank->pNext;
                fn(bank);
                bank = next;
            }
    }

private:
    static u32 Bucket(u32 bankID, const void* secondKey) {
        return static_cast<u32>((bankID + reinterpret_cast<uintptr_t>(secondKey)) % kBuckets);
    }
    CAuLoadedBank* m_buckets[kBuckets] = {};
    u32 m_uCount = 0;
};

// Stops every playing instance that reads a bank's data before the data goes. The voice side
// implements it; without one nothing plays.
class IAuBankInstanceStopper {
public:
    // [audio thread]
    virtual void StopInstancesUsingData(const CAuLoadedBank& bank) noexcept = 0;

protected:
    ~IAuBankInstanceStopper() = default;
};

// The events that preparation walks: the event table and its play actions, and the nodes whose
// data a play action needs. The hierarchy implements it; without one no event is found.
class IAuEventPreparation {
public:
    struct PlayAction {
        u32 bankID; // the bank that holds the target's structure
        void* target;
    };
    // The event, referenced; null when the table has none.
    virtual void* AcquireEvent(u32 eventID) = 0;
    virtual void ReleaseEvent(void* event) = 0;
    virtual u32 PreparationCount(void* event) = 0;
    virtual void SetPreparationCount(void* event, u32 count) = 0;
    // Its actions of type 0x0403 (play), in order.
    virtual u32 PlayActionCount(void* event) = 0;
    virtual PlayAction GetPlayAction(void* event, u32 index) = 0;
    virtual AURESULT PrepareData(void* node) = 0;
    virtual void UnPrepareData(void* node) = 0;
    // Referenced events whose preparation count is not 0; g_csMain is held.
    virtual u32 CollectPreparedEvents(void** out, u32 capacity) = 0;

protected:
    ~IAuEventPreparation() = default;
};

// The state manager's preparation of game-sync values.
class IAuGameSyncPreparation {
public:
    virtual AURESULT PrepareGameSync(u32 groupType, u32 groupID, u32 valueID, bool prepare) = 0;

protected:
    ~IAuGameSyncPreparation() = default;
};

class CAuBankMgr : public IAuBankMediaSink {
public:
    CAuBankMgr();
    virtual ~CAuBankMgr();
    CAuBankMgr(const CAuBankMgr&) = delete;
    CAuBankMgr& operator=(const CAuBankMgr&) = delete;

    virtual AURESULT Init();
    virtual void Term();
    // Runs the request at once; its result.
    virtual AURESULT QueueBankRequest(const AuBankRequest& request);
    // A synchronous caller's wait record {result, event, pool ID}.
    struct SyncWait {
        AURESULT result;
        HANDLE event;
        AuMemPoolId poolID;
    };
    virtual AURESULT MakeSyncWait(SyncWait& wait);
    // The request's result: here the request has run already.
    virtual AURESULT WaitSync(SyncWait& wait, AURESULT queued);
    virtual void NotifyCompletion(AuBankCallbackFunc callback, u32 bankID, const void* memory,
                                  AURESULT result, AuMemPoolId poolID, void* cookie);
    virtual void StopThread() {}
    virtual void CancelCookie(void*) {}
    // Posts the bank's unload; this manager does not wait for its completion.
    virtual AURESULT UnloadAndWait(CAuLoadedBank& bank);
    virtual bool IsThreaded() const { return false; }

    // The synchronous forms' callback: result and pool into the record, then its event.
    static void SyncCallback(u32 bankID, const void* memory, AURESULT result, AuMemPoolId poolID,
                             void* cookie);

    AURESULT ExecuteQueueItem(const AuBankRequest& request);

    // The readers of the chunks that other managers own. A load needs all three; the settings
    // reader is the engine's own unless one is given.
    void SetChunkSinks(IAuBankSettingsSink* settings, IAuCurveTableSink* curves, IAuHierarchySink* hierarchy);
    void SetInstanceStopper(IAuBankInstanceStopper* stopper) { m_pStopper = stopper; }
    void SetEventPreparation(IAuEventPreparation* events) { m_pEvents = events; }
    void SetGameSyncPreparation(IAuGameSyncPreparation* syncs) { m_pGameSyncs = syncs; }
    // Where prepared media are copied; -1: no preparation (52).
    void SetPreparedMediaPool(AuMemPoolId pool) { m_preparedMediaPool = pool; }

    AURESULT SetBankFileName(u32 bankID, const char* cutName);
    static u32 GetBankIDFromMemory(const void* image, u32 size) { return AuGetBankIDFromMemory(image, size); }
    CAuBankFileNames& FileNames() { return m_names; }
    AURESULT SetBankLoadIOSettings(f32 throughput, u8 priority) {
        return m_reader.SetBankLoadIOSettings(throughput, priority);
    }
    const AuBankHeader& LastHeader() const { return m_lastHeader; }

    // A sound's source record: 1; 2 for an unknown plug-in or stream type; 7 when the record ends
    // first (a parameter block longer than what is left included).
    static AURESULT LoadSource(AuRecordCursor& cursor, AuBankSourceRecord& out);

    // Media table.
    AURESULT SetMedia(const AuSourceSettings* settings, u32 count);
    AURESULT UnsetMedia(const AuSourceSettings* settings, u32 count);
    // [audio thread] The media's bytes with a reference, and the holder that lends them (null for
    // a prepared copy); (null, 0) when none can be had. A bank holder keeps its data until
    // ReleaseHolder.
    const u8* GetMedia(u32 mediaID, u32& outSize, AuMediaHolder*& outHolder) noexcept;
    // [audio thread] Gives back the reference of GetMedia.
    void ReleaseMedia(u32 mediaID) noexcept;
    // [audio thread] Gives back the holder of GetMedia: a bank whose unload waited for it finishes.
    void ReleaseHolder(AuMediaHolder* holder) noexcept;
    // Loads one media for preparation from its bank or media file; while events are being prepared
    // the load is deferred to one pass in (file ID, offset) order.
    struct MediaLoad {
        u32 mediaID;
        u32 fileID;
        u32 offset;
        u32 size;
        u32 flags; // bit 0: the file is language-specific
        const void* data;
        u32 pluginID; // bits 16 to 23: the codec
    };
    AURESULT LoadMedia(const MediaLoad& media);
    // Drops the preparation reference that LoadMedia took.
    void UnloadMedia(u32 mediaID);
    // Loads what was deferred, in order; on a failure what the pass loaded is given back.
    AURESULT LoadDeferredMedia();
    void SetPreparing(bool preparing) { m_bPreparing = preparing; }
    u32 DeferredCount() const { return m_deferred.Count(); }
    const MediaLoad& Deferred(u32 i) const { return m_deferred[i]; }

    // [audio thread] Message 24: stop what plays from the bank, then its unload completion.
    void FinishUnload(CAuLoadedBank& bank) noexcept;

    // Counts for tests and figures; under g_csBankList.
    u32 BankCount();
    CAuLoadedBank* FindBank(u32 bankID, const void* secondKey);
    u32 MediaEntryCount();
    i32 MediaRefCount(u32 mediaID);

    // IAuBankMediaSink, used by the chunk loop of the load in progress.
    void* AllocateDataBlock(u32 size) override;
    AURESULT RegisterMedia(const AuMediaIndexEntry* entries, u32 count, const u8* block, u32 size) override;
    AURESULT PrepareMedia(CAuBankReader& reader, const AuMediaIndexEntry* entries, u32 count,
                          u32 size) override;

protected:
    // The unload completion: gives one load back; at 0 the data goes and, without preparations,
    // the record. The stored callback is reported through NotifyCompletion when `notify`.
    void UnloadCompletion(CAuLoadedBank& bank, bool notify) noexcept;
    // Kind 1 on a listed record: leaves the list, posts message 24.
    AURESULT PostUnload(CAuLoadedBank& bank, AuBankCallbackFunc callback, void* cookie);
    // Term's first step: explicit preparations released, every listed bank unloaded here.
    void Unload();
    // After an unload's message is posted (the threaded manager watches for it at its stop).
    virtual void OnUnloadPosted() {}
    // A request that will never call back after all.
    virtual void ForgetCallback(void*) {}

private:
    struct MediaTriple {
        AuMediaHolder* holder;
        const u8* data;
        u32 size;
    };
    struct MediaEntry {
        MediaEntry* pNext;
        u32 mediaID;
        u8* pOwnData;
        u32 uOwnSize;
        AuArray<MediaTriple>* pHolders;
        i32 refCount;
    };
    static constexpr u32 kMediaBuckets = 193;

    AURESULT Load(const AuBankRequest& request);
    AURESULT UnloadRequest(const AuBankRequest& request);
    AURESULT PrepareBank(const AuBankRequest& request);
    AURESULT UnprepareBank(const AuBankRequest& request);
    AURESULT ClearBanks();
    AURESULT PrepareEvents(const AuBankRequest& request);
    AURESULT UnprepareEvents(const AuBankRequest& request);
    AURESULT PrepareGameSyncs(const AuBankRequest& request);
    AURESULT ClearPreparedEvents();
    AURESULT PrepareOneEvent(u32 eventID);
    // One preparation less; `force`: all of them. 15 for an event not in the table.
    AURESULT UnprepareOneEvent(u32 eventID);
    void UnprepareEventObject(void* event, bool force);
    void UndoPlayActions(void* event, u32 count);
    // A preparation of the bank on behalf of an event: structure only, not explicit.
    AURESULT PrepareBankForEvent(u32 bankID);
    void DropBankPreparation(u32 bankID);
    AURESULT ReleaseOneMedia(u32 mediaID);
    AURESULT LoadBankData(const AuBankRequest& request, CAuLoadedBank& bank, AuBankLoadMode mode);
    AURESULT OpenSource(const AuBankRequest& request, u32 bankID);
    CAuLoadedBank* NewBank(u32 bankID, const void* secondKey, AuMemPoolId poolID);
    // Under g_csBankList, for a listed record whose unload is still pending: it leaves the list,
    // and its preparation, if any, moves to a fresh listed record that `bank` then names (else
    // null). False without memory, nothing changed.
    bool TakeOverPreparation(CAuLoadedBank*& bank);
    void FreeBank(CAuLoadedBank* bank);
    void FreeData(CAuLoadedBank& bank);
    void DropPreparation(CAuLoadedBank& bank, bool force);

    // Media table, under m_mediaLock.
    MediaEntry* FindMedia(u32 mediaID);
    MediaEntry* NewMedia(u32 mediaID);
    void DropMediaRef(MediaEntry* entry);
    static bool AddTriple(MediaEntry& entry, AuMediaHolder* holder, const u8* data, u32 size);
    static void RemoveTriples(MediaEntry& entry, const void* data, AuMediaHolder* holder);
    void WithdrawMedia(CAuLoadedBank& bank);
    void ReleasePreparedMedia(CAuLoadedBank& bank);
    const u8* CopyFromBank(MediaEntry& entry, u32 size);
    AURESULT ReadMediaFromFile(const MediaLoad& media, u8* destination);
    AURESULT LoadOne(const MediaLoad& media);

    CAuBankReader m_reader;
    CRITICAL_SECTION m_mediaLock;
    MediaEntry* m_media[kMediaBuckets] = {};
    u32 m_uMediaCount = 0;
    CAuBankList m_list;
    CAuBankFileNames m_names;
    AuBankHeader m_lastHeader{};
    AuArray<MediaLoad> m_deferred;
    bool m_bPreparing = false;
    AuMemPoolId m_preparedMediaPool = AU_INVALID_POOL_ID;

    // The bank being read by the request in progress (the media sink's target).
    CAuLoadedBank* m_pLoading = nullptr;
    AuBankLoadMode m_loadingMode = AuBankLoadModeLoad;
    CAuBankSettingsSink m_engineSettings;
    IAuBankSettingsSink* m_pSettings = &m_engineSettings;
    IAuCurveTableSink* m_pCurves = nullptr;
    IAuHierarchySink* m_pHierarchy = nullptr;
    IAuBankInstanceStopper* m_pStopper = nullptr;
    IAuEventPreparation* m_pEvents = nullptr;
    IAuGameSyncPreparation* m_pGameSyncs = nullptr;
};

// Made by the engine's initialisation: this manager, or the threaded one.
extern CAuBankMgr* g_pBankMgr;

class CAuAudioMgr;
// The bank names of the game reach `mgr`'s file-name table (null: nowhere).
void AuInstallBankManager(CAuBankMgr* mgr);
// Message 24 runs `mgr`'s unload completion. Set before the audio thread starts.
void AuInstallBankMsgHandler(CAuAudioMgr& audio, CAuBankMgr& mgr);
