// vorbispack: encodes a generated tone or a score (or takes the packets of an Ogg file) and writes
// codec-4 media, and optionally the reference Ogg file of the same packets.
#include <vorbispack/Pack.h>

#include <bankgen/Media.h>
#include <bankgen/Score.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: vorbispack [--rate HZ] [--channels N] [--quality Q] [--seconds S] [--frequency HZ]\n"
        "                  [--loop START END] [--ogg IN.ogg | --score SCORE.json] OUT.wav [REFERENCE.ogg]\n");
    return 2;
}

bool Write(const std::string& path, const vorbispack::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    long rate = 48000;
    int channels = 1;
    float quality = 0.4f;
    double seconds = 2.0;
    double frequency = 440.0;
    std::string ogg, score;
    vorbispack::PackOptions options;
    std::string outputs[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--rate" && more)
            rate = std::atol(argv[++i]);
        else if (a == "--channels" && more)
            channels = std::atoi(argv[++i]);
        else if (a == "--quality" && more)
            quality = float(std::atof(argv[++i]));
        else if (a == "--seconds" && more)
            seconds = std::atof(argv[++i]);
        else if (a == "--frequency" && more)
            frequency = std::atof(argv[++i]);
        else if (a == "--ogg" && more)
            ogg = argv[++i];
        else if (a == "--score" && more)
            score = argv[++i];
        else if (a == "--loop" && i + 2 < argc) {
            options.loop = true;
            options.loopStart = std::uint32_t(std::strtoul(argv[++i], nullptr, 10));
            options.loopEnd = std::uint32_t(std::strtoul(argv[++i], nullptr, 10));
        } else if (a.rfind("--", 0) != 0 && count < 2)
            outputs[count++] = a;
        else
            return Usage();
    }
    if (count == 0) return Usage();
    vorbispack::EncodedStream stream;
    std::string error;
    if (!ogg.empty()) {
        std::ifstream in(ogg, std::ios::binary);
        const vorbispack::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) error = "cannot read " + ogg;
        if (!error.empty() || !vorbispack::ReadOgg(bytes, stream, error)) {
            std::fprintf(stderr, "vorbispack: %s\n", error.c_str());
            return 1;
        }
    } else {
        std::vector<float> tone;
        if (!score.empty()) {
            std::ifstream in(score, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            bankgen::Score parsed;
            if (!in || !bankgen::ParseScore(text.str(), parsed, error)) {
                std::fprintf(stderr, "vorbispack: %s: %s\n", score.c_str(),
                             in ? error.c_str() : "cannot read it");
                return 1;
            }
            tone = bankgen::RenderScore(parsed, std::uint32_t(rate));
        } else {
            tone = bankgen::Sine(frequency, seconds, std::uint32_t(rate), 0.5);
        }
        if (!vorbispack::Encode(std::vector<std::vector<float>>(std::size_t(channels), tone), rate, quality,
                                stream, error)) {
            std::fprintf(stderr, "vorbispack: %s\n", error.c_str());
            return 1;
        }
    }
    vorbispack::Bytes media;
    if (!vorbispack::Pack(stream, options, media, error)) {
        std::fprintf(stderr, "vorbispack: %s\n", error.c_str());
        return 1;
    }
    if (!Write(outputs[0], media) || (count == 2 && !Write(outputs[1], vorbispack::WriteOgg(stream)))) {
        std::fprintf(stderr, "vorbispack: cannot write the output\n");
        return 1;
    }
    return 0;
}
