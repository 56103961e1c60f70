// The payload of every queued message type, as its poster writes it and its handler reads it
// (msg.As<Payload>()). Fields keep the order of the records; pointers take their natural 8 bytes.
#pragma once

#include "core/AuQueuedMsg.h"

#include <AU/AuChannelConfig.h>
#include <AU/AuInitSettings.h>
#include <AU/AuPositionTypes.h>

class AuExternalSourceArray;
class CAuIndexable;

// The head that types 1, 22 and 37 share.
struct AuMsgPlayHead {
    u32 gameObjID;
    AuPlayingID playingID;
    u32 customParam; // the post's last argument, kept in every pending action
    u32 unused;
    // The custom play parameters: three words, then the external sources (referenced, or null).
    u32 customWords[3];
    AuExternalSourceArray* pExternalSources;
};

struct AuMsgEvent {
    AuMsgPlayHead head;
    CAuIndexable* pEvent; // referenced
};

struct AuMsgSetRTPC {
    u32 paramID;
    f32 value;
    u32 gameObjID; // 0xFFFFFFFF: global
    AuPlayingID playingID;
};

struct AuMsgSetRTPCWithTransition {
    u32 paramID;
    f32 value;
    u32 gameObjID;
    AuPlayingID playingID;
    i32 transitionMs;
    AuCurveInterpolation curve;
    bool bypass;
};

struct AuMsgResetRTPC {
    u32 paramID;
    u32 gameObjID;
    AuPlayingID playingID; // always 0
};

struct AuMsgResetRTPCWithTransition {
    u32 paramID;
    u32 gameObjID;
    AuPlayingID playingID;
    i32 transitionMs;
    AuCurveInterpolation curve;
    bool bypass;
};

struct AuMsgSetState {
    u32 groupID;
    u32 stateID; // "none" is sent as 0
    bool flagA;
    bool flagB;
};

struct AuMsgSetSwitch {
    u32 gameObjID;
    u32 groupID;
    u32 stateID;
};

struct AuMsgTrigger {
    u32 gameObjID; // 0xFFFFFFFF: global
    u32 triggerID;
};

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

struct AuMsgSecondaryOutputVolume {
    u32 deviceType;
    u32 outputID;
    f32 volume;
};

struct AuMsgOpenDynamicSequence {
    AuMsgPlayHead head;
    CAuIndexable* pSequence;
};

struct AuMsgDynamicSequenceCmd {
    CAuIndexable* pSequence; // referenced
    u32 command;
    i32 transitionMs;
    AuCurveInterpolation curve;
};

struct AuMsgBankRequest {
    void* pItem;
};

struct AuMsgStopAll {
    u32 gameObjID; // 0xFFFFFFFF: every object
};

// A secondary output, or the motion device of a player.
struct AuMsgAddRemoveOutput {
    u32 listenerMask;  // secondary outputs only
    void* pInitParams; // motion devices only
    u32 typeOrDevice;  // output type, or the motion device ID (low 16 bits)
    u32 idOrPlayer;    // output ID, or the player
    bool add;
};

struct AuMsgMotionPlayerListener {
    u8 player;
    u8 listener;
};

struct AuMsgMotionPlayerVolume {
    f32 volume;
    u32 player;
};

struct AuMsgStopPlayingID {
    AuPlayingID playingID;
    i32 transitionMs;
    AuCurveInterpolation curve;
};

struct AuMsgEventAction {
    CAuIndexable* pEvent; // referenced
    u32 gameObjID;        // 0xFFFFFFFF: every object
    u32 actionKind;       // 0 stop, 1 pause, 2 resume, 3 break
    i32 transitionMs;
    AuCurveInterpolation curve;
    AuPlayingID playingID; // 0: every one
};

struct AuMsgSeek {
    CAuIndexable* pEvent; // referenced
    u32 gameObjID;
    union {
        i32 ms;
        f32 fraction;
    } position;
    AuPlayingID playingID;
    bool isFraction;
    bool snapToMarker;
};

struct AuMsgSourcePlugin {
    AuMsgPlayHead head;
    u32 pluginID;
    u32 companyID;
    u32 stop; // 0 play, 1 stop
};

struct AuMsgOutputCapture {
    wchar_t* pFileName; // default pool, owned by the record; null: stop
    bool flag;
};

struct AuMsgOutputCaptureMarker {
    char* pText; // default pool, owned by the record
};

struct AuMsgSetEffect {
    u32 nodeID;
    u32 slot;
    u32 effectID;
    u32 isBus;
};

struct AuMsgSetMixer {
    u32 nodeID;
    u32 unused;
    u32 mixerID;
    u32 isBus;
};

struct AuMsgPanningRule {
    u32 outputID;
    u32 deviceType;
    AuPanningRule rule;
};

struct AuMsgSpeakerAngles {
    f32* pAngles; // default pool, owned by the record
    u32 count;
    f32 heightAngle;
    u32 deviceType;
    u32 outputID;
};

struct AuMsgRandomSeed {
    u32 seed; // 0: the current time
};
