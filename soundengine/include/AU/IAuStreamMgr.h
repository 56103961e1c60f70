// The stream manager object, its standard streams and its automatic streams.
#pragma once

#include <AU/StreamMgr.h>

enum AuStmStatus : u32 {
    AuStmStatusIdle = 0,
    AuStmStatusCompleted = 1,
    AuStmStatusPending = 2,
    AuStmStatusCancelled = 3,
    AuStmStatusError = 4,
};

enum AuMoveMethod : u32 {
    AuMoveBegin = 0,
    AuMoveCurrent = 1,
    AuMoveEnd = 2,
};

struct AuStreamInfo {
    u32 deviceID;
    const wchar_t* pszName;
    u64 uSize;
    bool bIsOpen;
};

// How an automatic stream is read ahead: bytes per millisecond its consumer takes, the region it
// loops over (loop end 0: no loop), the fewest buffers it keeps and its priority (0 to 100).
struct AuAutoStmHeuristics {
    f32 fThroughput;
    u32 uLoopStart;
    u32 uLoopEnd;
    u8 uMinNumBuffers;
    i8 priority;
};

// Sizes of an automatic stream's buffers; zeros leave them to the device.
struct AuAutoStmBufSettings {
    u32 uBufferSize;
    u32 uMinBufferSize;
    u32 uBlockSize;
};

namespace AU {

// A stream read or written by explicit requests into the caller's buffer. One operation is
// outstanding at a time; the device's I/O thread carries it out.
class IAuStdStream {
public:
    // The device frees the stream once no transfer is in progress; do not touch it afterwards.
    virtual void Destroy() = 0;
    virtual void GetInfo(AuStreamInfo& info) = 0;
    virtual AuFileDescriptor* GetFileDescriptor() = 0;
    virtual AURESULT SetStreamName(const wchar_t* name) = 0;
    virtual u32 GetBlockSize() = 0;
    // Sizes are multiples of the block size for reads; a read is cut at the end of the file.
    virtual AURESULT Read(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) = 0;
    virtual AURESULT Write(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) = 0;
    virtual u64 GetPosition(bool* endOfFile) = 0;
    virtual AURESULT SetPosition(i64 moveOffset, AuMoveMethod moveMethod, i64* realOffset) = 0;
    virtual void Cancel() = 0;
    virtual void* GetData(u32& size) = 0;
    virtual AuStmStatus GetStatus() = 0;

protected:
    virtual ~IAuStdStream() = default;
};

// A stream the device fills ahead of its consumer, who takes and gives back buffers in file order.
// Its loop region is read over and over without the consumer seeking.
class IAuAutoStream {
public:
    // The device frees the stream later; do not touch it afterwards.
    virtual void Destroy() = 0;
    virtual void GetInfo(AuStreamInfo& info) = 0;
    virtual AuFileDescriptor* GetFileDescriptor() = 0;
    virtual void GetHeuristics(AuAutoStmHeuristics& heuristics) = 0;
    // 31 for a priority outside 0 to 100.
    virtual AURESULT SetHeuristics(const AuAutoStmHeuristics& heuristics) = 0;
    virtual AURESULT SetMinimalBufferSize(u32 minBufferSize) = 0;
    virtual AURESULT SetStreamName(const wchar_t* name) = 0;
    virtual u32 GetBlockSize() = 0;
    // Bytes held and not yet handed out. 2 in error, 46 before the file is open or with nothing
    // held, 17 when nothing more will come, else 45.
    virtual AURESULT QueryBufferingStatus(u32& numBytesAvailable) = 0;
    // Bytes the stream holds when it is filled to its target.
    virtual u32 GetNominalBuffering() = 0;
    virtual AURESULT Start() = 0;
    virtual AURESULT Stop() = 0;
    virtual u64 GetPosition(bool* endOfStream) = 0;
    // The position is rounded down to the block size; `realOffset` tells where it landed.
    virtual AURESULT SetPosition(i64 moveOffset, AuMoveMethod moveMethod, i64* realOffset) = 0;
    // The next buffer in file order, valid until released. 45, or 17 when it is the last; without
    // a buffer 46 (none yet) or 17 (none will come); 2 in error.
    virtual AURESULT GetBuffer(void*& buffer, u32& size, bool wait) = 0;
    // Gives back the oldest buffer handed out; 2 when none is.
    virtual AURESULT ReleaseBuffer() = 0;

protected:
    virtual ~IAuAutoStream() = default;
};

class IAuStreamMgr {
public:
    static IAuStreamMgr* m_pStreamMgr;

    // Ends every device (joining their I/O threads), then the manager and its pool.
    virtual void Destroy() = 0;
    virtual void* GetStreamMgrProfile() = 0;
    virtual AURESULT CreateStd(u32 fileID, AuFileOpenFlags* flags, AuOpenMode openMode, IAuStdStream*& stream,
                               bool syncOpen) = 0;
    virtual AURESULT CreateStd(const wchar_t* fileName, AuFileOpenFlags* flags, AuOpenMode openMode,
                               IAuStdStream*& stream, bool syncOpen) = 0;
    // 31 for a negative throughput or a priority outside 0 to 100 (and a null name).
    virtual AURESULT CreateAuto(u32 fileID, AuFileOpenFlags* flags, const AuAutoStmHeuristics& heuristics,
                                AuAutoStmBufSettings* bufferSettings, IAuAutoStream*& stream,
                                bool syncOpen) = 0;
    virtual AURESULT CreateAuto(const wchar_t* fileName, AuFileOpenFlags* flags,
                                const AuAutoStmHeuristics& heuristics, AuAutoStmBufSettings* bufferSettings,
                                IAuAutoStream*& stream, bool syncOpen) = 0;

protected:
    virtual ~IAuStreamMgr() = default;
};

} // namespace AU
