// The key a game-driven value is stored under, and a transition request.
#pragma once

#include <AU/AuTypes.h>

class CAuRegisteredObj;
class CAuPlaybackInstance;

constexpr u8 AU_MIDI_ANY = 255;

// Six fields, widest first; null, 0 or 255 (the MIDI bytes) means any. A value stored under a
// key applies to every narrower request that has no value of its own.
struct AuRTPCKey {
    CAuRegisteredObj* pGameObj = nullptr;
    AuPlayingID playingID = 0;
    AuUniqueID midiTargetID = 0; // the node a MIDI event plays
    u8 midiChannel = AU_MIDI_ANY;
    u8 midiNote = AU_MIDI_ANY;
    CAuPlaybackInstance* pInstance = nullptr;

    // The global key.
    constexpr AuRTPCKey() = default;
    // One game object, any in the other fields.
    constexpr explicit AuRTPCKey(CAuRegisteredObj* gameObj) : pGameObj(gameObj) {}

    constexpr bool IsGlobal() const { return *this == AuRTPCKey{}; }

    // The five fields after the game object, each equal or any on either side.
    constexpr bool MatchesSubKey(const AuRTPCKey& other) const {
        const auto words = [](u64 a, u64 b) { return a == 0 || b == 0 || a == b; };
        const auto bytes = [](u8 a, u8 b) { return a >= AU_MIDI_ANY || b >= AU_MIDI_ANY || a == b; };
        return words(playingID, other.playingID) && words(midiTargetID, other.midiTargetID) &&
               bytes(midiChannel, other.midiChannel) && bytes(midiNote, other.midiNote) &&
               (!pInstance || !other.pInstance || pInstance == other.pInstance);
    }

    // Whether this key is specific in a field where the other holds any.
    constexpr bool HasNarrowerField(const AuRTPCKey& other) const {
        return (pInstance && !other.pInstance) ||
               (midiNote != AU_MIDI_ANY && other.midiNote == AU_MIDI_ANY) ||
               (midiChannel != AU_MIDI_ANY && other.midiChannel == AU_MIDI_ANY) ||
               (midiTargetID && !other.midiTargetID) || (playingID && !other.playingID) ||
               (pGameObj && !other.pGameObj);
    }

    constexpr bool operator==(const AuRTPCKey&) const = default;
};

// A transition request.
struct TransParamsBase {
    i32 TransitionTime = 0; // ms; 0 or less is immediate
    AuCurveInterpolation eFadeCurve = AuCurveInterpolation_Linear;
    // Skips the game parameter's own ramping.
    bool bBypassInternalValueInterpolation = false;
};
