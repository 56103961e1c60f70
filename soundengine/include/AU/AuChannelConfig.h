// A channel configuration packed in one 32-bit word: channel count in bits 0-7, configuration
// type in bits 8-11, speaker mask from bit 12.
#pragma once

#include <AU/AuTypes.h>

// Speaker bits of the mask, in the standard order.
constexpr u32 AU_SPEAKER_FRONT_LEFT = 0x1;
constexpr u32 AU_SPEAKER_FRONT_RIGHT = 0x2;
constexpr u32 AU_SPEAKER_FRONT_CENTER = 0x4;
constexpr u32 AU_SPEAKER_LOW_FREQUENCY = 0x8;
constexpr u32 AU_SPEAKER_BACK_LEFT = 0x10;
constexpr u32 AU_SPEAKER_BACK_RIGHT = 0x20;
constexpr u32 AU_SPEAKER_BACK_CENTER = 0x100;
constexpr u32 AU_SPEAKER_SIDE_LEFT = 0x200;
constexpr u32 AU_SPEAKER_SIDE_RIGHT = 0x400;

constexpr u32 AU_SPEAKER_SETUP_MONO = AU_SPEAKER_FRONT_CENTER;
constexpr u32 AU_SPEAKER_SETUP_STEREO = AU_SPEAKER_FRONT_LEFT | AU_SPEAKER_FRONT_RIGHT;
constexpr u32 AU_SPEAKER_SETUP_5POINT1 = 0x60F;
constexpr u32 AU_SPEAKER_SETUP_7POINT1 = 0x63F;

enum AuChannelConfigType : u32 {
    AuChannelConfigType_Anonymous = 0,
    AuChannelConfigType_Standard = 1,
};

struct AuChannelConfig {
    u32 uWord = 0;

    constexpr AuChannelConfig() = default;
    constexpr explicit AuChannelConfig(u32 word) : uWord(word) {}

    // A standard configuration of the speakers of the mask.
    static constexpr AuChannelConfig Standard(u32 mask) {
        return AuChannelConfig((mask << 12) | (AuChannelConfigType_Standard << 8) |
                               static_cast<u32>(__builtin_popcount(mask)));
    }
    static constexpr AuChannelConfig Anonymous(u32 count) { return AuChannelConfig(count & 0xFF); }

    constexpr u32 NumChannels() const { return uWord & 0xFF; }
    constexpr u32 ConfigType() const { return (uWord >> 8) & 0xF; }
    constexpr u32 ChannelMask() const { return uWord >> 12; }
    constexpr bool IsStandard() const { return ConfigType() == AuChannelConfigType_Standard; }
    constexpr bool HasLFE() const { return (uWord & (AU_SPEAKER_LOW_FREQUENCY << 12)) != 0; }
    constexpr bool HasCenter() const { return (uWord & (AU_SPEAKER_FRONT_CENTER << 12)) != 0; }
    // The same layout with the LFE set apart: one channel fewer, mask without the LFE bit.
    constexpr AuChannelConfig WithoutLFE() const {
        return HasLFE() ? AuChannelConfig((uWord & ~(AU_SPEAKER_LOW_FREQUENCY << 12)) - 1) : *this;
    }

    constexpr bool operator==(const AuChannelConfig&) const = default;
};

static_assert(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO).uWord == 0x3102);
static_assert(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO).uWord == 0x4101);
static_assert(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1).WithoutLFE().uWord == 0x607105);
