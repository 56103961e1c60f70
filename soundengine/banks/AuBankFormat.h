// Constants and records of the bank file format that the reader and the bank manager share.
#pragma once

#include <AU/AuTypes.h>

constexpr u32 AuBankTag(char a, char b, char c, char d) {
    return u32(u8(a)) | u32(u8(b)) << 8 | u32(u8(c)) << 16 | u32(u8(d)) << 24;
}

// Chunk tags as the little-endian u32 of their four characters in file order.
constexpr u32 AU_BANK_TAG_BKHD = AuBankTag('B', 'K', 'H', 'D');
constexpr u32 AU_BANK_TAG_STMG = AuBankTag('S', 'T', 'M', 'G');
constexpr u32 AU_BANK_TAG_ENVS = AuBankTag('E', 'N', 'V', 'S');
constexpr u32 AU_BANK_TAG_DIDX = AuBankTag('D', 'I', 'D', 'X');
constexpr u32 AU_BANK_TAG_DATA = AuBankTag('D', 'A', 'T', 'A');
constexpr u32 AU_BANK_TAG_HIRC = AuBankTag('H', 'I', 'R', 'C');
constexpr u32 AU_BANK_TAG_STID = AuBankTag('S', 'T', 'I', 'D');

constexpr u32 AU_BANK_VERSION = 112;
constexpr u32 AU_BANK_CHUNK_HEADER_SIZE = 8;
// The header fields every bank carries; a longer header payload is skipped.
constexpr u32 AU_BANK_HEADER_FIELDS_SIZE = 20;
// A bank image must at least hold the header chunk's fixed part for its ID to be read.
constexpr u32 AU_BANK_MIN_IMAGE_SIZE = AU_BANK_CHUNK_HEADER_SIZE + AU_BANK_HEADER_FIELDS_SIZE;
constexpr u32 AU_BANK_MEDIA_INDEX_ENTRY_SIZE = 12;
constexpr u32 AU_BANK_CURVE_POINT_SIZE = 12;
constexpr u32 AU_BANK_RECORD_HEADER_SIZE = 5;
// One table of curves per (obstruction, occlusion) x three outputs.
constexpr u32 AU_BANK_ENVIRONMENT_GROUPS = 2;
constexpr u32 AU_BANK_ENVIRONMENT_OUTPUTS = 3;
// Built-in game-parameter bindings name the lists 1 to 6 of the game-parameter manager.
constexpr u8 AU_BANK_MAX_BUILT_IN_BINDING = 6;

// Hierarchy record types.
enum AuHierarchyType : u8 {
    AuHierarchyTypeState = 1,
    AuHierarchyTypeSound = 2,
    AuHierarchyTypeAction = 3,
    AuHierarchyTypeEvent = 4,
    AuHierarchyTypeRandomSequence = 5,
    AuHierarchyTypeSwitch = 6,
    AuHierarchyTypeGrouping = 7,
    AuHierarchyTypeBus = 8,
    AuHierarchyTypeLayerContainer = 9,
    AuHierarchyTypeMusicSegment = 10,
    AuHierarchyTypeMusicTrack = 11,
    AuHierarchyTypeMusicSwitch = 12,
    AuHierarchyTypeMusicPlaylist = 13,
    AuHierarchyTypeAttenuation = 14,
    AuHierarchyTypeDialogueEvent = 15,
    AuHierarchyTypeDefaultBus = 16,
    AuHierarchyTypeLeafType17 = 17,
    AuHierarchyTypeSharedPluginSettings = 18,
    AuHierarchyTypePluginSettings = 19,
    AuHierarchyTypeBusType20 = 20,
    AuHierarchyTypeLfo = 21,
    AuHierarchyTypeEnvelope = 22,
};

// The types the core builds itself; every other type goes to the bank extension reader.
constexpr bool AuIsCoreHierarchyType(u8 type) {
    return (type >= AuHierarchyTypeState && type <= AuHierarchyTypeLayerContainer) ||
           (type >= AuHierarchyTypeAttenuation && type <= AuHierarchyTypeEnvelope);
}

// How far a bank is read: 0 loads it; 1 prepares its structure and copies its media; 2 prepares
// the structure only; 3 prepares the media of a bank whose record exists already.
enum AuBankLoadMode : u32 {
    AuBankLoadModeLoad = 0,
    AuBankLoadModePrepareWithMedia = 1,
    AuBankLoadModePrepareStructure = 2,
    AuBankLoadModePrepareAgain = 3,
};

struct AuBankHeader {
    u32 uVersion;
    u32 bankID;
    u32 languageID;
    // Non-zero: node and bus records end with an extra-owner bus ID.
    u16 uExtraOwnerFlag;
};

// One "DIDX" entry; the offset counts from the start of the "DATA" payload.
struct AuMediaIndexEntry {
    u32 mediaID;
    u32 uOffset;
    u32 uSize;
};

// A 12-byte point of a parameter curve.
struct AuBankCurvePoint {
    f32 x;
    f32 y;
    u32 interpolation; // AuCurveInterpolation
};

// A 12-byte point of a switch group driven by a game parameter.
struct AuBankSwitchPoint {
    f32 gameParameterValue;
    u32 switchID;
    u32 interpolation;
};

// The bank ID of a bank image in memory, read without parsing; 0 when the image is too short.
u32 AuGetBankIDFromMemory(const void* image, u32 size);
