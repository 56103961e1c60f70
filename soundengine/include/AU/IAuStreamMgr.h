// The stream manager object and its standard streams.
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

protected:
    virtual ~IAuStreamMgr() = default;
};

} // namespace AU
