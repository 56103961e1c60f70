// assetgen <texture recipes> <output folder>: writes every texture of the recipes as a PNG file.
// assetgen --list <texture recipes>: names the files it would write, one a line.
// assetgen --models <game|test> <output folder>: writes the model set as FBX files, each read back.
#include <assetgen/Models.h>
#include <assetgen/Textures.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool ReadRecipes(const char* path, std::vector<assetgen::TextureRecipe>& recipes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "assetgen: cannot read %s\n", path);
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    if (!assetgen::ParseTextureRecipes(text.str(), recipes, error)) {
        std::fprintf(stderr, "assetgen: %s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<assetgen::TextureRecipe> recipes;
    if (argc == 3 && std::string(argv[1]) == "--list") {
        if (!ReadRecipes(argv[2], recipes)) return 1;
        for (const auto& r : recipes)
            std::printf("%s\n", r.file.c_str());
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--models") {
        std::string error;
        if (!assetgen::WriteModels(argv[2], argv[3], error)) {
            std::fprintf(stderr, "assetgen: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: assetgen <texture recipes> <output folder>\n"
                             "       assetgen --list <texture recipes>\n"
                             "       assetgen --models <game|test> <output folder>\n");
        return 2;
    }
    if (!ReadRecipes(argv[1], recipes)) return 1;
    for (const auto& r : recipes) {
        const std::string path = std::string(argv[2]) + "/" + r.file;
        if (!assetgen::WritePng(r, path)) {
            std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
