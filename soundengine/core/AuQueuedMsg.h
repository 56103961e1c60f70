// The records of the message ring between the game's threads and the audio thread.
#pragma once

#include <AU/AuTypes.h>

// Every message type once; the enumeration and AuQueuedMsgTypeName come from this list.
// Types 4, 9, 15, 44 and 45 are never posted.
#define AU_QUEUED_MSG_TYPE_LIST(X)                                                                           \
    X(EndOfFrame, 0)                                                                                         \
    X(Event, 1)                                                                                              \
    X(SetRTPC, 2)                                                                                            \
    X(SetRTPCWithTransition, 3)                                                                              \
    X(ResetRTPC, 5)                                                                                          \
    X(ResetRTPCWithTransition, 6)                                                                            \
    X(SetState, 7)                                                                                           \
    X(SetSwitch, 8)                                                                                          \
    X(Trigger, 10)                                                                                           \
    X(RegisterGameObj, 11)                                                                                   \
    X(UnregisterGameObj, 12)                                                                                 \
    X(GameObjPosition, 13)                                                                                   \
    X(ActiveListeners, 14)                                                                                   \
    X(ListenerPosition, 16)                                                                                  \
    X(ListenerSpatialization, 17)                                                                            \
    X(AuxSends, 18)                                                                                          \
    X(OutputBusVolume, 19)                                                                                   \
    X(ObstructionOcclusion, 20)                                                                              \
    X(SecondaryOutputVolume, 21)                                                                             \
    X(OpenDynamicSequence, 22)                                                                               \
    X(DynamicSequenceCmd, 23)                                                                                \
    X(BankRequest, 24)                                                                                       \
    X(StopAll, 25)                                                                                           \
    X(ListenerPipeline, 26)                                                                                  \
    X(AddRemoveOutput, 27)                                                                                   \
    X(MotionPlayerListener, 28)                                                                              \
    X(MotionPlayerVolume, 29)                                                                                \
    X(StopPlayingID, 30)                                                                                     \
    X(EventAction, 31)                                                                                       \
    X(StreamPinning, 32)                                                                                     \
    X(AttenuationScaling, 33)                                                                                \
    X(MultiplePositions, 34)                                                                                 \
    X(ListenerScaling, 35)                                                                                   \
    X(Seek, 36)                                                                                              \
    X(SourcePlugin, 37)                                                                                      \
    X(OutputCapture, 38)                                                                                     \
    X(OutputCaptureMarker, 39)                                                                               \
    X(SetEffect, 40)                                                                                         \
    X(SetMixer, 41)                                                                                          \
    X(PanningRule, 42)                                                                                       \
    X(SpeakerAngles, 43)                                                                                     \
    X(RandomSeed, 46)                                                                                        \
    X(WrapMarker, 47)                                                                                        \
    X(Cancelled, 48)

enum AuQueuedMsgType : u16 {
#define AU_QUEUED_MSG_TYPE_ENUM(name, value) AuQueuedMsgType_##name = value,
    AU_QUEUED_MSG_TYPE_LIST(AU_QUEUED_MSG_TYPE_ENUM)
#undef AU_QUEUED_MSG_TYPE_ENUM
};

// "EndOfFrame" for 0; null for a number that is no type.
constexpr const char* AuQueuedMsgTypeName(u16 type) {
    switch (type) {
#define AU_QUEUED_MSG_TYPE_NAME(name, value)                                                                 \
    case value:                                                                                              \
        return #name;
        AU_QUEUED_MSG_TYPE_LIST(AU_QUEUED_MSG_TYPE_NAME)
#undef AU_QUEUED_MSG_TYPE_NAME
    }
    return nullptr;
}

// A record in the ring: this header, then the type's payload. Records start on multiples of 8
// and their sizes are multiples of 8, so payloads may hold pointers and 64-bit values.
struct AuQueuedMsg {
    u16 size; // the whole record, header included
    u16 type;
    // 0 while the writer is still filling the record; it becomes 1 (release order) when the record
    // is published. Touched only through std::atomic_ref once the record is in the ring.
    u32 commit;

    template <class Payload> Payload& As() { return *reinterpret_cast<Payload*>(this + 1); }
    template <class Payload> const Payload& As() const { return *reinterpret_cast<const Payload*>(this + 1); }
};
static_assert(sizeof(AuQueuedMsg) == 8);

// The size to reserve for a message that carries a Payload.
template <class Payload> constexpr u32 AuQueuedMsgSize() {
    static_assert(alignof(Payload) <= 8);
    return static_cast<u32>(sizeof(AuQueuedMsg) + sizeof(Payload));
}
