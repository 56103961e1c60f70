// The node property numbers (0 to 59): each one's game-parameter target and the value a node
// reads when its bundle lacks it. Actions, states and modulators number their properties alike.
#pragma once

#include "parameters/AuPropBundle.h"

#include <AU/AuTypes.h>

// Properties the engine reads by number.
enum AuPropID : u8 {
    AuPropID_Volume = 0,
    AuPropID_Pitch = 2,
    AuPropID_BusVolume = 5,
    AuPropID_Priority = 6,
    AuPropID_PriorityDistanceOffset = 7,
    AuPropID_Prop8 = 8,
    AuPropID_Prop9 = 9,
    AuPropID_Level = 10, // run time only: 0.0 muted by an action, 1.0 not
    AuPropID_Positioning1 = 11,
    AuPropID_Positioning2 = 12,
    AuPropID_Positioning3 = 13,
    AuPropID_Delay = 14,
    AuPropID_TransitionTime = 15,
    AuPropID_Probability = 16,
    AuPropID_MidiRootNote = 45,
    AuPropID_MidiPlayMode = 46,
    AuPropID_AttachedPlugin = 57,
    AuPropID_LoopCount = 58,
    AuPropID_FirstPlugin = 60, // 60 + n: the stored words of slot 58, without defaults
};

constexpr u32 AU_PROP_TABLE_SIZE = 60;
// The target of a property that cannot have a curve; also the size of the RTPC mask.
constexpr u32 AU_TARGET_NONE = 64;

// Targets with a meaning of their own.
enum AuTarget : u32 {
    AuTarget_Volume = 0,
    AuTarget_Priority = 8,
    AuTarget_InstanceLimit = 9,
    AuTarget_Positioning1 = 20,
    AuTarget_Positioning2 = 21,
    AuTarget_BypassSlot0 = 24, // to 27: effect slots 0 to 3
    AuTarget_BypassAll = 28,
    AuTarget_Prop8 = 29,
    AuTarget_Prop9 = 30,
    AuTarget_Modulated = 36,
    AuTarget_ApplyParam = 41,
};

struct AuPropInfo {
    u8 target;      // AU_TARGET_NONE: no curve
    bool isInteger; // else a float
    AuPropValue defaultValue;
};

// Null past the table (60 and above: opaque words without a default).
const AuPropInfo* AuGetPropInfo(u8 id);
// The default as a float (an integer property converted), 0.0 past the table.
f32 AuPropDefaultFloat(u8 id);
// The raw default word, 0 past the table.
u32 AuPropDefaultWord(u8 id);
