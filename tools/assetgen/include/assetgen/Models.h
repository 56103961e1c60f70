// The models of the run-time tree and of the loader's tests: scenes built in code, written as ASCII
// FBX files and read back to check that the file holds what was built.
#pragma once

#include <string>
#include <vector>

namespace assetgen {

// The model sets by name: "game" (what the levels name) and "test" (the loader's cases).
std::vector<std::string> ModelFiles(const std::string& set);
// Writes every model of the set into `folder` and checks each by reading it back; false with the
// reason in `error` on the first that fails.
bool WriteModels(const std::string& set, const std::string& folder, std::string& error);
// A flat grid of `corners` triangle corners (rounded down to whole triangles) whose neighbours share
// points, written to `path` and read back; for timing the importers.
bool WriteGridModel(const std::string& path, int corners, std::string& error);

} // namespace assetgen
