// What a play request carries down the hierarchy to the node that plays, and the narrow way out
// of the hierarchy that a play takes: the instance manager that makes playback instances. The
// engine installs it; until then (and in tests) plays fail.
#pragma once

#include "memory/AuPoolList.h"
#include "parameters/AuRTPCKey.h"

#include <AU/AuTypes.h>

class CAuNodeBase;
class CAuLeafNode;
class CAuRegisteredObj;
class AuExternalSourceArray;
struct AuSourceInfo;
class CAuPlaybackInstance;
struct AuPlaybackInstanceParams;
class IAuInstanceMaker;

constexpr u8 AU_MIDI_NOTE_ON = 0x90;
constexpr u8 AU_MIDI_NOTE_OFF = 0x80;
constexpr u8 AU_MIDI_AFTERTOUCH = 0xA0;

// {status, channel, note, velocity}; status 0 is no event.
struct AuMidiEvent {
    u8 status = 0;
    u8 channel = AU_MIDI_ANY;
    u8 note = AU_MIDI_ANY;
    u8 velocity = AU_MIDI_ANY;

    bool IsNoteOn() const { return status == AU_MIDI_NOTE_ON && velocity > 0; }
    // Only these three carry a note; other events use 255 in their keys.
    bool CarriesNote() const {
        return status == AU_MIDI_NOTE_ON || status == AU_MIDI_NOTE_OFF || status == AU_MIDI_AFTERTOUCH;
    }
};

// A sound a MIDI note-on reached, kept until its note-off: the node holds a reference.
struct AuNoteRecordEntry {
    u8 virtualBehaviour;
    CAuNodeBase* pNode;
    u32 linkedID;
};
using AuNoteRecord = AuPoolList<AuNoteRecordEntry>;

// Flag bits of a play request.
constexpr u8 AU_PLAY_MOTION = 1u << 0;
constexpr u8 AU_PLAY_MIDI_FIRST_CALL = 1u << 1; // the MIDI filters still run from the root down
constexpr u8 AU_PLAY_PASSED_2 = 1u << 2;
constexpr u8 AU_PLAY_DEFERRED_RETURN = 1u << 3; // the initial delay has been waited for

// The playlist index a container picked at each level of the play, down to the node that plays;
// levels past the 32nd are counted but not stored.
struct AuPlayPath {
    static constexpr u32 kMaxLevels = 32;
    u32 depth = 0;
    u16 index[kMaxLevels] = {};
    u32 continuousMask = 0; // bit n: level n walks its playlist continuously

    // Records the level's pick and steps down to the next level.
    void Push(u16 picked, bool continuous) {
        if (depth < kMaxLevels) {
            index[depth] = picked;
            const u32 bit = 1u << depth;
            continuousMask = continuous ? (continuousMask | bit) : (continuousMask & ~bit);
        }
        ++depth;
    }
};

struct AuNodePlayParams {
    AuMidiEvent midi;
    u8 flags = AU_PLAY_MIDI_FIRST_CALL;
    CAuRegisteredObj* pGameObj = nullptr;
    AuPlayingID playingID = 0;
    u32 customWords[3] = {};
    AuExternalSourceArray* pExternalSources = nullptr; // not referenced by the request
    i32 transitionMs = 0;
    AuCurveInterpolation eCurve = AuCurveInterpolation_Linear;
    // Non-zero while the play continues a walk that has its own context (continuous play): an
    // initial delay is then added to the frame offset instead of deferring the play.
    u32 uContinuationContext = 0;
    // Samples into the first frame at which the play starts.
    i32 lFrameOffset = 0;
    // The node a MIDI event plays (the keys' MIDI target).
    u32 linkedID = 0;
    // Where note-ons register the sounds they reach; none: not registered.
    AuNoteRecord* pNoteRecord = nullptr;
    // Makes the start's playback instance; null: the node's own kind of instance.
    IAuInstanceMaker* pInstanceMaker = nullptr;
    AuPlayPath path;
};

// A start that needs its own kind of playback instance (a music clip's voice) makes it here, with
// the parameters the node filled in. Null without memory. [audio thread]
class IAuInstanceMaker {
public:
    virtual CAuPlaybackInstance* MakeInstance(const AuPlaybackInstanceParams& params) noexcept = 0;

protected:
    ~IAuInstanceMaker() = default;
};

// The instance manager as the hierarchy calls it. [audio thread]
class IAuNodeInstances {
public:
    // A new playback instance of the leaf playing `source`; its result is the play's.
    virtual AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo& source, AuNodePlayParams& params) = 0;
    virtual void StopInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                     AuCurveInterpolation curve, AuPlayingID playingID) = 0;
    virtual void PauseInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                      AuCurveInterpolation curve, AuPlayingID playingID) = 0;
    virtual void ResumeInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                       AuCurveInterpolation curve, AuPlayingID playingID,
                                       bool masterResume) = 0;
    virtual void ReleaseModulatorsOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj,
                                         AuPlayingID playingID) = 0;

protected:
    ~IAuNodeInstances() = default;
};
extern IAuNodeInstances* g_pNodeInstances;

// The motion device manager's presence: type-17 leaves play only while it exists.
extern bool g_bMotionDevicesPresent;
