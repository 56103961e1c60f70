// What the engine hands to plug-ins, and the creators the game registers for codecs, effects and
// motion devices.
#pragma once

#include <AU/AuTypes.h>

#include <cstddef>

enum AuPluginType : u32 {
    AuPluginTypeNone = 0,
    AuPluginTypeCodec = 1,
    AuPluginTypeSource = 2,
    AuPluginTypeEffect = 3,
    AuPluginTypeMotionDevice = 4,
    AuPluginTypeMotionSource = 5,
    AuPluginTypeMixer = 6,
};

namespace AU {

// Every block a plug-in owns comes from the allocator it was given and goes back to it.
class IAuPluginMemAlloc {
public:
    virtual ~IAuPluginMemAlloc() = default;
    // Null when the pool is exhausted.
    virtual void* Malloc(size_t size) = 0;
    virtual void Free(void* block) = 0;
};

class IAuPlugin;
class IAuPluginParam;
class IAuSoftwareCodec;

// A device fed by the motion output; supplied from outside the engine.
class IAuMotionDevice {
public:
    virtual ~IAuMotionDevice() = default;
    // 1 when the device is ready.
    virtual AURESULT Init(IAuPluginMemAlloc* allocator, u32 settingsA, u32 settingsB, u32 settingsC) = 0;
    virtual AURESULT Term(IAuPluginMemAlloc* allocator) = 0;
};

} // namespace AU

using AuCreatePluginCallback = AU::IAuPlugin* (*)(AU::IAuPluginMemAlloc* allocator);
using AuCreateParamCallback = AU::IAuPluginParam* (*)(AU::IAuPluginMemAlloc* allocator);
// Makes the codec of one playback instance's source.
using AuCreateSourceCallback = AU::IAuSoftwareCodec* (*)(void* playbackInstance);
using AuCreateMotionDeviceCallback = AU::IAuMotionDevice* (*)(AU::IAuPluginMemAlloc* allocator);
