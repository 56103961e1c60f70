// Test control of the FBX stand-in: scenes built by hand, for what no file read through the
// importer can hold (a broken reference mode, a cluster linked to a node outside the skeleton, a
// skin without an animation stack).
#pragma once

#include <fbxsdk.h>

#include <functional>
#include <string>

namespace fbxtest {

// While set, FbxImporter::Initialize builds its scene with `builder` for the file names it accepts
// (returning true) and reads every other file as usual.
using SceneBuilder = std::function<bool(const std::string& file, FbxScene& scene)>;
void SetSceneBuilder(SceneBuilder builder);

// A mesh node under `parent` with the points and triangles given, normals (0, 0, 1) and UVs (0, 0)
// by control point, direct, and every triangle of material 0.
FbxNode* AddMeshNode(FbxNode* parent, const std::string& name, const std::vector<FbxVector4>& points,
                     const std::vector<FbxMesh::Triangle>& triangles);
// A skeleton node under `parent`, placed by `local`.
FbxNode* AddSkeletonNode(FbxNode* parent, const std::string& name, const FbxAMatrix& local = FbxAMatrix());
// A cluster of the mesh node's skin (made on first use) linked to `link` with the bind pose as the
// file gives it: the link's and the mesh's transforms to the scene.
FbxCluster* AddCluster(FbxNode* meshNode, FbxNode* link, const FbxAMatrix& transformLink,
                       const FbxAMatrix& transform, const std::vector<int>& points,
                       const std::vector<double>& weights);
// An animation stack `name` whose take runs from frame `first` to frame `last`.
void AddTake(FbxScene& scene, const std::string& name, FbxLongLong first, FbxLongLong last);

} // namespace fbxtest
