// bankdump: lists a bank's chunks, media and records, and what would keep it from loading.
//   bankdump <bank.bnk> [--after <bank loaded before it>]...
#include <bankgen/Parse.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

bool Load(const std::string& path, bankgen::ParsedBank& bank, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open the file";
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bankgen::ParseBank(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                              bank, why);
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    std::vector<std::string> afterPaths;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--after" && i + 1 < argc)
            afterPaths.push_back(argv[++i]);
        else if (path.empty())
            path = arg;
        else
            usage = true;
    }
    if (path.empty() || usage) {
        std::fprintf(stderr, "usage: bankdump <bank.bnk> [--after <earlier.bnk>]...\n");
        return 2;
    }

    std::vector<std::unique_ptr<bankgen::ParsedBank>> earlier;
    std::vector<const bankgen::ParsedBank*> views;
    for (const std::string& p : afterPaths) {
        earlier.push_back(std::make_unique<bankgen::ParsedBank>());
        std::string why;
        if (!Load(p, *earlier.back(), why)) {
            std::fprintf(stderr, "bankdump: %s: %s\n", p.c_str(), why.c_str());
            return 1;
        }
        views.push_back(earlier.back().get());
    }

    bankgen::ParsedBank bank;
    std::string why;
    if (!Load(path, bank, why)) {
        std::fprintf(stderr, "bankdump: %s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    std::fputs(bankgen::Dump(bank).c_str(), stdout);
    const std::vector<std::string> problems = bankgen::Validate(bank, views);
    for (const std::string& p : problems)
        std::printf("problem: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
