// mediagen: writes one media file, or every malformed variant, for tests and banks.
//   mediagen <out.wav | --aum <dir> <id>> [--codec pcm|adpcm] [--rate R] [--channels N]
//            [--signal sine:<hz> | dc:<level> | impulse:<frame> | chirp:<from>:<to> | noise:<seed>]
//            [--seconds S] [--amplitude A] [--loop <start> <end>] [--cue <id> <position> <label>]...
//            [--envelope <position>:<attenuation>,...] [--score <score.json>]
//   mediagen --malformed <dir>     one "<name>.wav" per malformed variant
#include <bankgen/Media.h>
#include <bankgen/Score.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool Write(const std::string& path, const bankgen::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Usage() {
    std::fprintf(stderr, "usage: mediagen <out.wav> | --aum <dir> <id> | --malformed <dir> [options]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace bankgen;
    std::string out, codec = "pcm", signal = "sine:1000", score;
    std::uint32_t rate = 48000;
    std::uint16_t channels = 1;
    double seconds = 1.0, amplitude = 0.5;
    WaveOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--malformed") {
            const std::string dir = next();
            for (int k = 0; k < static_cast<int>(Malformed::Count); ++k) {
                const auto kind = static_cast<Malformed>(k);
                if (!Write(dir + "/" + MalformedName(kind) + ".wav", MakeMalformed(kind))) {
                    std::fprintf(stderr, "mediagen: cannot write into %s\n", dir.c_str());
                    return 1;
                }
            }
            return 0;
        } else if (arg == "--aum") {
            const std::string dir = next();
            out = dir + "/" + std::to_string(std::strtoul(next().c_str(), nullptr, 10)) + ".aum";
        } else if (arg == "--codec") {
            codec = next();
        } else if (arg == "--rate") {
            rate = static_cast<std::uint32_t>(std::strtoul(next().c_str(), nullptr, 10));
        } else if (arg == "--channels") {
            channels = static_cast<std::uint16_t>(std::strtoul(next().c_str(), nullptr, 10));
        } else if (arg == "--signal") {
            signal = next();
        } else if (arg == "--score") {
            score = next();
        } else if (arg == "--seconds") {
            seconds = std::strtod(next().c_str(), nullptr);
        } else if (arg == "--amplitude") {
            amplitude = std::strtod(next().c_str(), nullptr);
        } else if (arg == "--loop") {
            options.loop = true;
            options.loopStart = static_cast<std::uint32_t>(std::strtoul(next().c_str(), nullptr, 10));
            options.loopEnd = static_cast<std::uint32_t>(std::strtoul(next().c_str(), nullptr, 10));
        } else if (arg == "--cue") {
            WaveCue cue{};
            cue.id = static_cast<std::uint32_t>(std::strtoul(next().c_str(), nullptr, 10));
            cue.position = static_cast<std::uint32_t>(std::strtoul(next().c_str(), nullptr, 10));
            cue.label = next();
            options.cues.push_back(cue);
        } else if (arg == "--envelope") {
            options.hasEnvelope = true;
            std::stringstream points(next());
            std::string point;
            while (std::getline(points, point, ',')) {
                const size_t colon = point.find(':');
                if (colon == std::string::npos) return Usage();
                options.envelope.push_back(
                    {static_cast<std::uint32_t>(std::strtoul(point.c_str(), nullptr, 10)),
                     static_cast<std::uint16_t>(std::strtoul(point.c_str() + colon + 1, nullptr, 10))});
            }
        } else if (out.empty() && arg[0] != '-') {
            out = arg;
        } else {
            return Usage();
        }
    }
    if (out.empty() || channels == 0 || channels > 8 || rate == 0 || (codec != "pcm" && codec != "adpcm"))
        return Usage();
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * rate + 0.5);
    const size_t colon = signal.find(':');
    const std::string kind = signal.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : signal.substr(colon + 1);
    std::vector<float> mono;
    if (!score.empty()) {
        std::ifstream file(score, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        Score parsed;
        std::string error;
        if (!file || !ParseScore(text.str(), parsed, error)) {
            std::fprintf(stderr, "mediagen: %s: %s\n", score.c_str(),
                         file ? error.c_str() : "cannot read it");
            return 1;
        }
        mono = RenderScore(parsed, rate);
    } else if (kind == "sine") {
        mono = Sine(std::strtod(arg.c_str(), nullptr), seconds, rate, amplitude);
    } else if (kind == "dc") {
        mono = Dc(frames, std::strtod(arg.c_str(), nullptr));
    } else if (kind == "impulse") {
        mono = Impulse(frames, static_cast<std::uint32_t>(std::strtoul(arg.c_str(), nullptr, 10)), amplitude);
    } else if (kind == "chirp") {
        const size_t second = arg.find(':');
        if (second == std::string::npos) return Usage();
        mono = Chirp(std::strtod(arg.c_str(), nullptr), std::strtod(arg.c_str() + second + 1, nullptr),
                     seconds, rate, amplitude);
    } else if (kind == "noise") {
        mono = Noise(static_cast<std::uint32_t>(std::strtoul(arg.c_str(), nullptr, 10)), frames, amplitude);
    } else {
        return Usage();
    }
    const std::vector<std::int16_t> samples = ToPcm16(std::vector<std::vector<float>>(channels, mono));
    const Bytes media = codec == "adpcm" ? MakeAdpcmWave(samples, channels, rate, options)
                                         : MakePcmWave(samples, channels, rate, options);
    if (!Write(out, media)) {
        std::fprintf(stderr, "mediagen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
