// The game's low-level I/O object: the file location resolver and the blocking I/O hook of its
// streaming device at once. Files are read from disk through the file-location paths; the game
// loads no file package.
#pragma once

#include <AU/AuDefaultIOHookBlocking.h>

class CAuFilePackageLowLevelIOBlocking : public CAuDefaultIOHookBlocking {
public:
    // The caller creates the device with this object as its hook and hands the ID back here, so that
    // Term destroys that device.
    void SetDeviceID(u32 deviceID) { m_deviceID = deviceID; }
    // Off: every file opens on the caller's thread.
    void SetDeferredOpen(bool allowed) { m_bAsyncOpen = allowed; }
    bool IsDeferredOpen() const { return m_bAsyncOpen; }
};
