// Loading a generated grid through the FBX loader (its own merge of equal corners) beside the model
// library joining identical vertices on the same file, in the same run.
#include <resources/FBXLoader.h>

#include <assetgen/Models.h>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

// The grid file of `corners` corners, written once per run.
const std::string& Grid(int corners) {
    static std::map<int, std::string> files;
    auto& path = files[corners];
    if (path.empty()) {
        path = (std::filesystem::temp_directory_path() / ("fbx_bench_" + std::to_string(corners) + ".fbx"))
                   .string();
        std::string error;
        if (!assetgen::WriteGridModel(path, corners, error)) std::fprintf(stderr, "%s\n", error.c_str());
    }
    return path;
}

void FbxLoad(benchmark::State& state) {
    const std::string& file = Grid(int(state.range(0)));
    std::uint32_t vertices = 0;
    for (auto _ : state) {
        FBXLoader loader;
        Model* model = loader.LoadFBX(file, "grid", nullptr);
        if (!model) {
            state.SkipWithError("the grid does not load");
            break;
        }
        vertices = model->mMeshes.front().mesh->mVertexCount;
        delete model;
    }
    state.counters["vertices"] = double(vertices);
}
BENCHMARK(FbxLoad)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

void FbxLoadLibraryJoin(benchmark::State& state) {
    const std::string& file = Grid(int(state.range(0)));
    unsigned vertices = 0;
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene =
            importer.ReadFile(file, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices);
        if (!scene) {
            state.SkipWithError("the grid does not load");
            break;
        }
        vertices = scene->mMeshes[0]->mNumVertices;
    }
    state.counters["vertices"] = double(vertices);
}
BENCHMARK(FbxLoadLibraryJoin)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace
