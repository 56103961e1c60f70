// bankgen: writes a bank from a JSON recipe, after checking that the engine can load it.
//   bankgen <recipe.json> <out.bnk> [--after <bank loaded before it>]... [--media <folder of media files>]
#include <bankgen/Parse.h>
#include <bankgen/Recipe.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "bankgen: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string recipePath, outPath;
    std::vector<std::string> afterPaths;
    std::string mediaDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--after" && i + 1 < argc)
            afterPaths.push_back(argv[++i]);
        else if (arg == "--media" && i + 1 < argc)
            mediaDir = argv[++i];
        else if (recipePath.empty())
            recipePath = arg;
        else if (outPath.empty())
            outPath = arg;
        else
            return Fail(
                "usage: bankgen <recipe.json> <out.bnk> [--after <earlier.bnk>]... [--media <folder>]");
    }
    if (outPath.empty())
        return Fail("usage: bankgen <recipe.json> <out.bnk> [--after <earlier.bnk>]... [--media <folder>]");

    std::string text;
    if (!ReadFile(recipePath, text)) return Fail("cannot read " + recipePath);
    std::vector<std::string> errors;
    std::optional<bankgen::BankBuilder> builder = bankgen::BuilderFromRecipe(text, errors, mediaDir);
    bankgen::Bytes bank;
    if (builder) builder->Build(bank, errors);
    for (const std::string& e : errors)
        std::fprintf(stderr, "bankgen: %s: %s\n", recipePath.c_str(), e.c_str());
    if (!errors.empty()) return 1;

    std::vector<std::unique_ptr<bankgen::ParsedBank>> earlier;
    std::vector<const bankgen::ParsedBank*> earlierViews;
    for (const std::string& path : afterPaths) {
        std::string bytes, why;
        earlier.push_back(std::make_unique<bankgen::ParsedBank>());
        if (!ReadFile(path, bytes) ||
            !bankgen::ParseBank(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                                *earlier.back(), why))
            return Fail("cannot read the earlier bank " + path + (why.empty() ? "" : ": " + why));
        earlierViews.push_back(earlier.back().get());
    }

    // The written bytes are read back by the independent parser, so a bank that reaches the
    // disk is one the format and the loading rules accept.
    bankgen::ParsedBank parsed;
    std::string why;
    if (!bankgen::ParseBank(bank, parsed, why))
        return Fail(recipePath + ": the written bank does not read back: " + why);
    for (const std::string& e : bankgen::Validate(parsed, earlierViews))
        errors.push_back(e);
    for (const std::string& e : errors)
        std::fprintf(stderr, "bankgen: %s: %s\n", recipePath.c_str(), e.c_str());
    if (!errors.empty()) return 1;

    const std::string temporary = outPath + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bank.data()), static_cast<std::streamsize>(bank.size()));
        if (!out) return Fail("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), outPath.c_str()) != 0)
        return Fail("cannot rename " + temporary + " to " + outPath);
    return 0;
}
