// Settings records (hierarchy types 18 and 19) of the engine's three effects. Their parameter
// blocks are written through the layouts the engine reads them with (AU/AuEffectBlocks.h): one
// description of each block serves both sides.
#pragma once

#include <bankgen/Records.h>

#include <AU/AuEffectBlocks.h>

#include <cstdint>

namespace bankgen {

inline constexpr std::uint32_t kEffectDelay = 106;
inline constexpr std::uint32_t kEffectRoomReverb = 118;
inline constexpr std::uint32_t kEffectStereoDelay = 135;

// The plug-in ID word of an effect of company 0: the id above the company and type 3.
constexpr std::uint32_t EffectPluginId(std::uint32_t effect) {
    return ((effect << 12) + 0) << 4 | 3;
}
static_assert(EffectPluginId(kEffectDelay) == 0x006A0003);

template <typename Block> inline constexpr std::uint32_t kEffectOf = 0;
template <> inline constexpr std::uint32_t kEffectOf<AuDelayBlock> = kEffectDelay;
template <> inline constexpr std::uint32_t kEffectOf<AuStereoDelayBlock> = kEffectStereoDelay;
template <> inline constexpr std::uint32_t kEffectOf<AuRoomReverbBlock> = kEffectRoomReverb;

// `type` SharedPluginSettings (18) for a share set, PluginSettings (19) for a node's own.
template <typename Block>
PluginSettingsRecord EffectSettings(std::uint32_t id, const Block& block,
                                    HierarchyType type = HierarchyType::PluginSettings) {
    static_assert(kEffectOf<Block> != 0, "not a block of the engine's effects");
    PluginSettingsRecord record;
    record.type = type;
    record.id = id;
    record.plugin = EffectPluginId(kEffectOf<Block>);
    record.block.resize(Block::kSize);
    AuWriteBlock(block, record.block.data());
    return record;
}

} // namespace bankgen
