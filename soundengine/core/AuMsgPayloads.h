// The payload of every queued message type, as its poster writes it and its handler reads it
// (msg.As<Payload>()). Fields keep the order of the records; pointers take their natural 8 bytes.
#pragma once

#include "core/AuQueuedMsg.h"

#include <AU/AuChannelConfig.h>
#include <AU/AuPositionTypes.h>

struct AuMsgRegisterGameObj {
    u32 gameObjID;
    u32 listenerMask;
    u32 reserved; // posted as 0
};

struct AuMsgUnregisterGameObj {
    u32 gameObjID; // 0xFFFFFFFF: every object
};

struct AuMsgGameObjPosition {
    u32 gameObjID;
    AuSoundPosition position;
};

struct AuMsgActiveListeners {
    u32 gameObjID;
    u32 listenerMask;
};

struct AuMsgListenerPosition {
    u32 listener;
    AuListenerPosition position;
};

struct AuMsgListenerSpatialization {
    u32 listener;
    // A copy in the lower-engine pool, owned by the record: freed by the handler, or by the drop
    // when the record is never run.
    f32* pVolumes;
    AuChannelConfig channelConfig;
    bool spatialized;
    bool volumesGiven;
};

struct AuMsgAuxSends {
    u32 gameObjID;
    u32 count;
    AuAuxSendValue values[4];
};

struct AuMsgOutputBusVolume {
    u32 gameObjID;
    f32 volume;
};

struct AuMsgObstructionOcclusion {
    u32 gameObjID;
    u32 listener;
    f32 obstruction;
    f32 occlusion;
};

struct AuMsgListenerPipeline {
    u32 listener;
    bool audio;
    bool motion;
};

struct AuMsgAttenuationScaling {
    u32 gameObjID;
    f32 factor;
};

// Followed in the record by `count` positions.
struct AuMsgMultiplePositions {
    u32 gameObjID;
    u16 count;
    u32 type;

    AuSoundPosition* Positions() { return reinterpret_cast<AuSoundPosition*>(this + 1); }
    const AuSoundPosition* Positions() const { return reinterpret_cast<const AuSoundPosition*>(this + 1); }
    static constexpr u32 RecordSize(u32 count) {
        return AuQueuedMsgSize<AuMsgMultiplePositions>() + count * static_cast<u32>(sizeof(AuSoundPosition));
    }
};
static_assert(sizeof(AuMsgMultiplePositions) % alignof(AuSoundPosition) == 0);

struct AuMsgListenerScaling {
    u32 listener;
    f32 factor;
};
