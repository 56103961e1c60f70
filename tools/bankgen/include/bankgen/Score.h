// Scores: the game's music, ambience and interface sounds described as layers of notes, rendered
// into samples at build time.
//
// A score is JSON:
//   {"seconds": S, "tempo": BPM, "root": HZ, "loop": true|false, "layers": [LAYER, ...]}
// Notes are [beat, beats, semitones above the root] (beats at the tempo). A layer is either a voice
//   {"partials": [[frequency ratio, amplitude], ...], "gain": G, "attack": s, "decay": s,
//    "release": s, "swell": depth, "notes": [...]}
// whose notes sound its partials under an envelope (a raised-cosine attack, then an exponential
// decay with that time constant, or a hold when "decay" is 0, then a raised-cosine release after the
// note's length), or a noise layer
//   {"noise": seed, "low": HZ, "high": HZ, "gain": RMS, "attack", "decay", "release", "swell",
//    "notes": [...]}
// of white noise band-limited by eighth-order Butterworth high- and low-pass filters, at the gain's
// RMS, held for the whole score when it has no notes. "swell" varies a layer's level by that
// fraction once over the score.
//
// A looping score ends where it begins: whatever rings past the end is added at the start, the
// noise is filtered as the periodic signal it is, and a voice note that holds the whole loop is
// tuned to a whole number of cycles of it, so the loop point has no seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bankgen {

struct ScoreNote {
    double beat = 0;
    double beats = 1;
    double semitones = 0;
};

struct ScoreLayer {
    bool noise = false;
    std::vector<std::pair<double, double>> partials; // voice: ratio, amplitude
    std::uint32_t seed = 1;                          // noise
    double low = 0, high = 0;                        // noise band; 0 leaves that side open
    double gain = 0.1;
    double attack = 0.005, decay = 0, release = 0.05, swell = 0;
    std::vector<ScoreNote> notes;
};

struct Score {
    double seconds = 1;
    double tempo = 120;
    double root = 440;
    bool loop = false;
    std::vector<ScoreLayer> layers;
};

// False with a reason for malformed JSON, missing or out-of-range fields.
bool ParseScore(const std::string& json, Score& out, std::string& error);
// One channel of round(seconds x rate) samples.
std::vector<float> RenderScore(const Score& score, std::uint32_t rate);

} // namespace bankgen
