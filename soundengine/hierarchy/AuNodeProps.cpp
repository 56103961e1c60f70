#include "hierarchy/AuNodeProps.h"

namespace {

constexpr AuPropInfo F(u8 target, f32 value) {
    AuPropInfo info{target, false, {}};
    info.defaultValue.f = value;
    return info;
}
constexpr AuPropInfo I(u8 target, u32 value) {
    AuPropInfo info{target, true, {}};
    info.defaultValue.u = value;
    return info;
}
constexpr u8 N = AU_TARGET_NONE;

// Rows without a meaning of their own here are kept as read; the Parts of other node kinds give
// them theirs.
constexpr AuPropInfo kTable[AU_PROP_TABLE_SIZE] = {
    F(0, 0.0f),  F(1, 0.0f),   F(2, 0.0f),       F(3, 0.0f),   F(4, 0.0f),  // 0-4
    F(5, 0.0f),  F(8, 50.0f),  F(N, -10.0f),     F(29, 0.0f),  F(30, 0.0f), // 5-9
    F(N, 1.0f),  F(20, 0.0f),  F(21, 0.0f),      F(11, 0.0f),  I(N, 0),     // 10-14
    I(N, 0),     F(N, 100.0f), F(N, 0.0f),       F(56, 0.0f),  F(57, 0.0f), // 15-19
    F(58, 0.0f), F(59, 0.0f),  F(19, 0.0f),      F(60, 0.0f),  F(61, 0.0f), // 20-24
    F(62, 0.0f), F(32, 96.0f), F(34, 16.0f),     F(33, 1.0f),  I(N, 0),     // 25-29
    F(N, 0.0f),  F(N, 200.0f), F(35, 12.0f),     F(36, 0.0f),  F(N, 0.0f),  // 30-34
    F(N, 0.0f),  F(N, 0.0f),   F(N, 0.0f),       F(N, 0.0f),   F(N, 0.0f),  // 35-39
    I(N, 1),     I(N, 1),      I(N, 0),          I(N, 1),      I(N, 7),     // 40-44
    I(N, 60),    I(N, 1),      F(39, 0.0f),      F(40, 0.0f),  F(N, 0.0f),  // 45-49
    I(N, 127),   F(N, 0.0f),   I(N, 127),        I(N, 0xFFFF), F(41, 1.0f), // 50-54
    F(N, 0.0f),  F(N, 0.0f),   I(N, 0xFFFFFFFF), I(N, 1),      F(6, 0.0f),  // 55-59
};

} // namespace

const AuPropInfo* AuGetPropInfo(u8 id) {
    return id < AU_PROP_TABLE_SIZE ? &kTable[id] : nullptr;
}

f32 AuPropDefaultFloat(u8 id) {
    const AuPropInfo* info = AuGetPropInfo(id);
    if (!info) return 0.0f;
    return info->isInteger ? static_cast<f32>(static_cast<i32>(info->defaultValue.u)) : info->defaultValue.f;
}

u32 AuPropDefaultWord(u8 id) {
    const AuPropInfo* info = AuGetPropInfo(id);
    return info ? info->defaultValue.u : 0;
}
