// What the stand-in's parts share: the sampled local transform and the move of a read scene.
#pragma once

#include <fbxsdk.h>

#include <string>

namespace fbxinternal {

// The node's local transform at `seconds` from its keys; a list without keys keeps the part of the
// node's static transform it would set.
FbxAMatrix SampleLocal(const FbxNode& node, double seconds);
// Moves the content of `from` into `to`, emptying `to` first.
void MoveInto(FbxScene& from, FbxScene& to);
// Reads the file at the native `path` into `scene`; false with the importer's reason in `error`.
bool ReadFile(const std::string& path, FbxScene& scene, std::string& error);

} // namespace fbxinternal
