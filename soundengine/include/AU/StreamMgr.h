// The stream manager's settings, file records and the interfaces the game implements for it:
// the file location resolver and the low-level I/O hook of a streaming device.
#pragma once

#include <AU/AuTypes.h>

using AuFileHandle = void*;

struct AuStreamMgrSettings {
    u32 uMemorySize; // bytes of the stream manager's own pool
};

// Scheduler type flags of a device.
constexpr u32 AU_SCHEDULER_BLOCKING = 1;
constexpr u32 AU_SCHEDULER_DEFERRED = 2;

struct AuDeviceSettings {
    void* pIOMemory;   // null: the I/O pool allocates its own memory
    u32 uIOMemorySize; // 0: a device without I/O memory
    u32 uIOMemoryAlignment;
    u32 ePoolAttributes;     // AuMemPoolAttributes; the device adds the fixed-block bit
    u32 uGranularity;        // bytes of one I/O buffer and of each transfer
    u32 uSchedulerTypeFlags; // AU_SCHEDULER_BLOCKING or AU_SCHEDULER_DEFERRED
    i32 iThreadPriority;     // the I/O thread's properties
    u32 uThreadAffinityMask;
    u32 uThreadStackSize;
    f32 fTargetBufferLength; // milliseconds automatic streams are filled ahead
    u32 uMaxConcurrentIO;    // deferred devices only
    f32 fCacheRatio;         // caching is on above 1.0
    u32 uMaxCachePinnedBytes;
};

constexpr u32 AU_INVALID_DEVICE_ID = 0xFFFFFFFFu;
constexpr u32 AU_NO_CACHE_ID = 0xFFFFFFFFu;

// What the resolver learnt about an open file; the stream owns it.
struct AuFileDescriptor {
    i64 iFileSize;
    u32 uSector;    // start block inside a package; 0 for a plain file
    u32 uBlockSize; // the package's block size; 0 for a plain file
    u32 uReserved;  // written 0
    AuFileHandle hFile;
    u32 deviceID;
    u32 uCustom;
};

// File origins and the file-type word that selects a raw path.
constexpr u32 AU_FILE_ORIGIN_ENGINE = 0;
constexpr u32 AU_FILE_ORIGIN_EXTERNAL = 1;
constexpr u32 AU_FILE_TYPE_BANK = 0;
constexpr u32 AU_FILE_TYPE_RAW_PATH = 201;

struct AuFileOpenFlags {
    u32 uOrigin;
    u32 uFileType; // 0 for banks; a streamed media's codec (1 PCM, 2 IMA ADPCM, 4 Vorbis)
    u32 uCustomParamSize;
    void* pCustomParam;
    bool bIsLanguageSpecific; // looked for under the current language's folder
    bool bReserved;
    bool bIsAutomaticStream; // written by the stream manager before the resolver sees the flags
    u32 uCacheID;            // AU_NO_CACHE_ID for none
    u32 uNumBytesToPin;
};

enum AuOpenMode : u32 {
    AuOpenModeRead = 0,
    AuOpenModeWrite = 1,
    AuOpenModeWriteOverwrite = 2,
    AuOpenModeReadWrite = 3,
};

// One transfer as the hook sees it. The position already includes a packaged file's start.
struct AuTransferInfo {
    u64 uFilePosition;
    u32 uBufferSize;
    u32 uRequestedSize;
};

struct AuIoHeuristics {
    f32 fDeadline; // milliseconds
    u8 priority;
};

namespace AU::StreamMgr {

class IAuLowLevelIOHook {
public:
    virtual ~IAuLowLevelIOHook() = default;
    virtual AURESULT Close(AuFileDescriptor& file) = 0;
    // Positions and sizes of this file's transfers are multiples of this.
    virtual u32 GetBlockSize(AuFileDescriptor& file) = 0;
    virtual u32 GetDeviceData() = 0;
};

// Reads and writes return when the transfer is done.
class IAuIOHookBlocking : public IAuLowLevelIOHook {
public:
    virtual AURESULT Read(AuFileDescriptor& file, const AuIoHeuristics& heuristics, void* buffer,
                          AuTransferInfo& transfer) = 0;
    virtual AURESULT Write(AuFileDescriptor& file, const AuIoHeuristics& heuristics, void* buffer,
                           AuTransferInfo& transfer) = 0;
};

// Turns a file id or name into an open file on one of the devices. Leaving syncOpen false
// defers the open to the device's I/O thread.
class IAuFileLocationResolver {
public:
    virtual ~IAuFileLocationResolver() = default;
    virtual AURESULT Open(u32 fileID, AuOpenMode openMode, AuFileOpenFlags* flags, bool& syncOpen,
                          AuFileDescriptor& file) = 0;
    virtual AURESULT Open(const wchar_t* fileName, AuOpenMode openMode, AuFileOpenFlags* flags,
                          bool& syncOpen, AuFileDescriptor& file) = 0;
};

using AuLanguageChangeHandler = void (*)(const wchar_t* language, void* cookie);

} // namespace AU::StreamMgr

namespace AU {
class IAuStreamMgr;
}

extern AuMemPoolId g_StreamMgrPoolId;

namespace AU::StreamMgr {

// Null when the memory manager is not initialised; the existing manager when there is one.
IAuStreamMgr* Create(const AuStreamMgrSettings& settings);
void GetDefaultSettings(AuStreamMgrSettings& settings);
void GetDefaultDeviceSettings(AuDeviceSettings& settings);

// The new device's id, or AU_INVALID_DEVICE_ID.
u32 CreateDevice(const AuDeviceSettings& settings, IAuLowLevelIOHook* hook);
AURESULT DestroyDevice(u32 deviceID);
void FlushAllCaches();

IAuFileLocationResolver* GetFileLocationResolver();
void SetFileLocationResolver(IAuFileLocationResolver* resolver);
AuMemPoolId GetPoolID();

// At most 31 characters, not ending in '/' or '\\'.
AURESULT SetCurrentLanguage(const wchar_t* language);
const wchar_t* GetCurrentLanguage();
// Observers run on the caller's thread, newest first.
AURESULT AddLanguageChangeObserver(AuLanguageChangeHandler handler, void* cookie);
void RemoveLanguageChangeObserver(void* cookie);

} // namespace AU::StreamMgr
