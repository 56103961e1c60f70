// Files on disk: the fall-back file location resolver and the blocking I/O hook of a device.
#pragma once

#include <AU/AuFileLocationBase.h>

class CAuDefaultIOHookBlocking : public AU::StreamMgr::IAuFileLocationResolver,
                                 public AU::StreamMgr::IAuIOHookBlocking,
                                 public CAuFileLocationBase {
public:
    ~CAuDefaultIOHookBlocking() override;

    // Creates the streaming device that serves this object's files.
    AURESULT Init(const AuDeviceSettings& deviceSettings, bool asyncOpen = false);
    void Term();
    u32 DeviceID() const { return m_deviceID; }

    AURESULT Open(u32 fileID, AuOpenMode openMode, AuFileOpenFlags* flags, bool& syncOpen,
                  AuFileDescriptor& file) override;
    AURESULT Open(const wchar_t* fileName, AuOpenMode openMode, AuFileOpenFlags* flags, bool& syncOpen,
                  AuFileDescriptor& file) override;

    AURESULT Close(AuFileDescriptor& file) override;
    u32 GetBlockSize(AuFileDescriptor& file) override;
    u32 GetDeviceData() override { return m_bAsyncOpen; }
    AURESULT Read(AuFileDescriptor& file, const AuIoHeuristics& heuristics, void* buffer,
                  AuTransferInfo& transfer) override;
    AURESULT Write(AuFileDescriptor& file, const AuIoHeuristics& heuristics, void* buffer,
                   AuTransferInfo& transfer) override;

    // Opens a file on disk the way the open modes ask; 66 when it or its folder is missing.
    static AURESULT OpenFile(const wchar_t* path, AuOpenMode openMode, AuFileHandle& handle);

protected:
    // True when the open is left to the I/O thread; the descriptor is then filled as far as it can be.
    bool DeferOpen(bool& syncOpen, AuFileDescriptor& file);
    AURESULT OpenPath(AURESULT pathResult, const wchar_t* path, AuOpenMode openMode, AuFileDescriptor& file);

    u32 m_deviceID = AU_INVALID_DEVICE_ID;
    bool m_bAsyncOpen = false;
};
