// Banks described as JSON recipes (assets/soundbanks/*.json) and the name-to-ID rule.
#pragma once

#include <bankgen/Bank.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bankgen {

// The engine's own hash of a name (bank files carry only IDs, so authoring must agree with it).
std::uint32_t IdOfName(std::string_view name);
// A bank's ID: its name cut at the first '.', hashed.
std::uint32_t BankIdOfName(std::string_view name);

// Reads a recipe into a builder. IDs in a recipe are numbers, "0x..." hexadecimal strings, or
// names hashed with IdOfName. Problems (unknown keys' types, missing fields) go to `errors`.
// A media entry with a "file" takes that file's bytes as they are (media made at build time by
// another tool, such as vorbispack); a relative path is taken from `mediaDir`. Objects of type
// "delay", "stereoDelay" and "roomReverb" are the engine's effects' settings (keys named after the
// fields of AU/AuEffectBlocks.h, 0 when not given; "shared" makes a share set); busses and nodes
// take "effects" [{"slot", "id", "shared"}], and a node with effects overrides its parent's.
std::optional<BankBuilder> BuilderFromRecipe(std::string_view json, std::vector<std::string>& errors,
                                             std::string_view mediaDir = {});

} // namespace bankgen
