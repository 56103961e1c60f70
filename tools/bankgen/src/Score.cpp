#include <bankgen/Media.h>
#include <bankgen/Score.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bankgen {

namespace {

using json = nlohmann::json;

bool Fail(std::string& error, const std::string& why) {
    error = why;
    return false;
}

bool Number(const json& o, const char* key, double& out, std::string& error, double min, double max) {
    if (!o.contains(key)) return true;
    if (!o[key].is_number()) return Fail(error, std::string("\"") + key + "\" is not a number");
    out = o[key].get<double>();
    if (!(out >= min && out <= max))
        return Fail(error, std::string("\"") + key + "\" is outside " + std::to_string(min) + ".." +
                               std::to_string(max));
    return true;
}

bool Notes(const json& o, std::vector<ScoreNote>& out, std::string& error) {
    if (!o.contains("notes")) return true;
    if (!o["notes"].is_array()) return Fail(error, "\"notes\" is not an array");
    for (const json& n : o["notes"]) {
        if (!n.is_array() || n.size() != 3 || !n[0].is_number() || !n[1].is_number() || !n[2].is_number())
            return Fail(error, "a note is not [beat, beats, semitones]");
        ScoreNote note{n[0].get<double>(), n[1].get<double>(), n[2].get<double>()};
        if (note.beat < 0 || note.beats <= 0 || std::abs(note.semitones) > 96)
            return Fail(error, "a note starts before 0, has no length or lies beyond 8 octaves");
        out.push_back(note);
    }
    return true;
}

// One biquad of the RBJ high- or low-pass at `hz` with quality q, run in direct form I.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    Biquad(bool highPass, double hz, double q, double rate) {
        const double w = 2 * std::numbers::pi * hz / rate;
        const double alpha = std::sin(w) / (2 * q), c = std::cos(w);
        const double a0 = 1 + alpha;
        const double k = highPass ? (1 + c) / 2 : (1 - c) / 2;
        b0 = k / a0;
        b1 = (highPass ? -2 * k : 2 * k) / a0;
        b2 = k / a0;
        a1 = -2 * c / a0;
        a2 = (1 - alpha) / a0;
    }
    double Run(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        return y;
    }
};

// The four sections of an eighth-order Butterworth filter: Q = 1 / (2 sin((2k - 1) pi / 16)).
constexpr double kButterworth8[4] = {2.5629154, 0.8999762, 0.6013449, 0.5097956};

// Band-limited noise at unit RMS; a looping score's noise is filtered twice round, so that what
// comes out is as periodic as what goes in.
std::vector<double> ShapedNoise(const ScoreLayer& layer, std::size_t frames, std::uint32_t rate, bool loop) {
    const std::vector<float> white = Noise(layer.seed, std::uint32_t(frames), 1.0);
    std::vector<Biquad> filters;
    for (double q : kButterworth8) {
        if (layer.low > 0) filters.emplace_back(true, layer.low, q, double(rate));
        if (layer.high > 0) filters.emplace_back(false, layer.high, q, double(rate));
    }
    std::vector<double> out(frames);
    for (int pass = loop ? 0 : 1; pass < 2; ++pass)
        for (std::size_t i = 0; i < frames; ++i) {
            double x = white[i];
            for (Biquad& f : filters)
                x = f.Run(x);
            out[i] = x;
        }
    double power = 0;
    for (double x : out)
        power += x * x;
    const double rms = std::sqrt(power / double(std::max<std::size_t>(1, frames)));
    if (rms > 0)
        for (double& x : out)
            x /= rms;
    return out;
}

// The note's envelope `t` seconds after its start; `length` is how long it is held.
double Envelope(const ScoreLayer& layer, double t, double length) {
    double e = t < layer.attack ? 0.5 - 0.5 * std::cos(std::numbers::pi * t / layer.attack) : 1.0;
    if (layer.decay > 0) e *= std::exp(-std::max(0.0, t - layer.attack) / layer.decay);
    if (t > length)
        e *= t - length < layer.release
                 ? 0.5 + 0.5 * std::cos(std::numbers::pi * (t - length) / layer.release)
                 : 0.0;
    return e;
}

} // namespace

bool ParseScore(const std::string& text, Score& out, std::string& error) {
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return Fail(error, "the score is not a JSON object");
    out = Score{};
    if (!Number(doc, "seconds", out.seconds, error, 0.001, 60) ||
        !Number(doc, "tempo", out.tempo, error, 1, 1000) || !Number(doc, "root", out.root, error, 1, 20000))
        return false;
    if (doc.contains("loop")) {
        if (!doc["loop"].is_boolean()) return Fail(error, "\"loop\" is not true or false");
        out.loop = doc["loop"].get<bool>();
    }
    if (!doc.contains("layers") || !doc["layers"].is_array() || doc["layers"].empty())
        return Fail(error, "the score has no \"layers\"");
    for (const json& l : doc["layers"]) {
        if (!l.is_object()) return Fail(error, "a layer is not an object");
        ScoreLayer layer;
        layer.noise = l.contains("noise");
        if (layer.noise) {
            if (!l["noise"].is_number_unsigned()) return Fail(error, "\"noise\" is not a seed");
            layer.seed = l["noise"].get<std::uint32_t>();
        } else {
            if (!l.contains("partials") || !l["partials"].is_array() || l["partials"].empty())
                return Fail(error, "a voice layer has no \"partials\"");
            for (const json& p : l["partials"]) {
                if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number() ||
                    p[0].get<double>() <= 0)
                    return Fail(error, "a partial is not [ratio above 0, amplitude]");
                layer.partials.emplace_back(p[0].get<double>(), p[1].get<double>());
            }
            if (!l.contains("notes")) return Fail(error, "a voice layer has no \"notes\"");
        }
        if (!Number(l, "low", layer.low, error, 0, 24000) ||
            !Number(l, "high", layer.high, error, 0, 24000) || !Number(l, "gain", layer.gain, error, 0, 1) ||
            !Number(l, "attack", layer.attack, error, 0.0005, 10) ||
            !Number(l, "decay", layer.decay, error, 0, 60) ||
            !Number(l, "release", layer.release, error, 0.0005, 10) ||
            !Number(l, "swell", layer.swell, error, 0, 1) || !Notes(l, layer.notes, error))
            return false;
        out.layers.push_back(std::move(layer));
    }
    return true;
}

std::vector<float> RenderScore(const Score& score, std::uint32_t rate) {
    const std::size_t frames = std::size_t(std::lround(score.seconds * rate));
    std::vector<double> mix(frames, 0.0);
    if (frames == 0) return {};
    const double loopSeconds = double(frames) / rate;
    const double secondsPerBeat = 60.0 / score.tempo;
    for (const ScoreLayer& layer : score.layers) {
        std::vector<double> sound(frames, 0.0);
        const std::vector<double> noise =
            layer.noise ? ShapedNoise(layer, frames, rate, score.loop) : std::vector<double>{};
        if (layer.noise && layer.notes.empty()) sound = noise;
        for (const ScoreNote& note : layer.notes) {
            const std::size_t start = std::size_t(std::lround(note.beat * secondsPerBeat * rate));
            const double length = note.beats * secondsPerBeat;
            const double hz = score.root * std::pow(2.0, note.semitones / 12.0);
            // Held through the whole loop: no envelope, whole cycles.
            const bool whole = score.loop && start == 0 && length >= loopSeconds;
            const std::size_t count =
                whole ? frames : std::min(frames, std::size_t(std::ceil((length + layer.release) * rate)));
            std::vector<std::pair<double, double>> partials;
            for (const auto& [ratio, amplitude] : layer.partials) {
                double f = hz * ratio;
                if (whole) f = std::round(f * loopSeconds) / loopSeconds;
                if (f < 0.45 * rate) partials.emplace_back(2 * std::numbers::pi * f / rate, amplitude);
            }
            for (std::size_t n = 0; n < count; ++n) {
                const std::size_t at = start + n;
                if (at >= frames && !score.loop) break;
                const double e = whole ? 1.0 : Envelope(layer, double(n) / rate, length);
                if (layer.decay > 0 && e < 1e-5 && double(n) / rate > layer.attack) break;
                double v = 0;
                if (layer.noise) {
                    v = noise[at % frames];
                } else {
                    for (const auto& [step, amplitude] : partials)
                        v += amplitude * std::sin(step * double(n));
                }
                sound[at % frames] += e * v;
            }
        }
        for (std::size_t n = 0; n < frames; ++n) {
            const double swell =
                1.0 + layer.swell * std::sin(2 * std::numbers::pi * double(n) / double(frames));
            mix[n] += layer.gain * swell * sound[n];
        }
    }
    return std::vector<float>(mix.begin(), mix.end());
}

} // namespace bankgen
