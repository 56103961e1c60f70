// Where game objects and listeners are: the records the game passes in and the engine keeps.
// SoundEngine.h exports them; the voice side reads them without the rest of the interface.
#pragma once

#include <AU/AuTypes.h>

struct AuVector {
    f32 X;
    f32 Y;
    f32 Z;
};

// One place a game object sounds from, and where it faces.
struct AuSoundPosition {
    AuVector Position;
    AuVector Orientation;
};
static_assert(sizeof(AuSoundPosition) == 24);

// A listener's frame: front and top orientation, then where it stands.
struct AuListenerPosition {
    AuVector OrientationFront;
    AuVector OrientationTop;
    AuVector Position;
};

// One aux send of a game object: the bus, and how much of the object goes to it.
struct AuAuxSendValue {
    AuUniqueID auxBusID;
    f32 fControlValue;
};
static_assert(sizeof(AuAuxSendValue) == 8);

// How the positions of a game object with several are heard.
enum AuMultiPositionType : u32 {
    AuMultiPositionType_SingleSource = 0,
    AuMultiPositionType_MultiSources = 1,
    AuMultiPositionType_MultiDirections = 2,
};
