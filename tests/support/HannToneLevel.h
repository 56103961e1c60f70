// The level of one tone in a captured channel, for tests that listen to the engine's output.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

// The amplitude of the tone at `hz` in `length` samples from `from` (at `rate` samples per
// second), through a Hann window; -1 when the samples end first.
template <class Sample>
double HannToneLevel(const std::vector<Sample>& samples, std::size_t from, double hz, std::size_t length,
                     double rate) {
    if (from + length > samples.size()) return -1;
    const double w = 2 * M_PI * hz / rate;
    double re = 0, im = 0;
    for (std::size_t n = 0; n < length; ++n) {
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(n) / double(length - 1));
        re += samples[from + n] * hann * std::cos(w * double(n));
        im -= samples[from + n] * hann * std::sin(w * double(n));
    }
    return 4 * std::hypot(re, im) / double(length);
}
