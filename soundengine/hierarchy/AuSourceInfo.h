// Where the audio of a sound comes from: a media ID with its codec or source plug-in, and whether
// the media is streamed from a file, held in memory or only named. Sounds fill it from their bank
// record; playback resolves external sources into a clone of it.
#pragma once

#include "hierarchy/AuRecordCursor.h"

#include <AU/AuTypes.h>

struct AuMediaHolder;

// Flag bits.
constexpr u32 AU_SOURCE_LANGUAGE_SPECIFIC = 1u << 0;
constexpr u32 AU_SOURCE_STREAM_TYPE_1 = 1u << 1;
constexpr u32 AU_SOURCE_STORAGE_SHIFT = 2; // bits 2-6
constexpr u32 AU_SOURCE_STORAGE_MASK = 31u << AU_SOURCE_STORAGE_SHIFT;
constexpr u32 AU_SOURCE_SET_EXPLICITLY = 1u << 7;
constexpr u32 AU_SOURCE_EXTERNAL = 1u << 8;
constexpr u32 AU_SOURCE_RECORD_BIT1 = 1u << 9;
constexpr u32 AU_SOURCE_OWNED_NAME = 1u << 10;
constexpr u32 AU_SOURCE_RECORD_BIT3 = 1u << 11;
constexpr u32 AU_SOURCE_FLAG_BITS = 0xFFF; // what Init and Term clear

enum AuSourceStorage : u32 {
    AuSourceStorage_Streamed = 1,
    AuSourceStorage_IDOnly = 2,
    AuSourceStorage_InMemory = 3,
};

struct AuSourceInfo {
    AuSourceInfo() { Init(); }
    AuSourceInfo(const AuSourceInfo&) = delete;
    AuSourceInfo& operator=(const AuSourceInfo&) = delete;
    ~AuSourceInfo() { Term(); }

    void Init();
    // Frees an owned file name, then clears everything but the plug-in ID.
    void Term();
    // A new description from the default pool with every word copied; null without memory. Data
    // that is not owned stays shared; an owned file name is copied, so that the original and the
    // clone each free their own.
    AuSourceInfo* Clone() const;
    // Terminates and frees a description made by Clone.
    static void Destroy(AuSourceInfo* info);

    // Only the ID is known (storage kind 2).
    void SetSourceID(u32 id);
    void SetFields(u32 plugin, u32 source, u32 file, u32 offset, u32 size, u32 flagBits);
    void SetWithData(u32 plugin, void* data, u32 source, u32 file, u32 offset, u32 size, u32 flagBits);
    // Streamed by name: the name is copied (terminator included); left null when memory is out.
    void SetFromFileName(u32 source, u32 plugin, const wchar_t* name, u32 file, bool flagA, bool flagB);

    // [audio thread] The media's bytes: the description's own, else the bank manager's with a
    // reference (and the holder that lends them); null when none.
    const u8* GetMedia(u32& outSize, AuMediaHolder*& outHolder) const noexcept;
    void ReleaseMedia() const noexcept;
    // A media held in memory and not carried here is loaded through the bank manager; else 1.
    AURESULT PrepareMedia() const;
    void UnprepareMedia() const;

    u32 StorageKind() const { return (flags & AU_SOURCE_STORAGE_MASK) >> AU_SOURCE_STORAGE_SHIFT; }
    void SetStorageKind(u32 kind) {
        flags =
            (flags & ~AU_SOURCE_STORAGE_MASK) | ((kind << AU_SOURCE_STORAGE_SHIFT) & AU_SOURCE_STORAGE_MASK);
    }
    // Set from a bank record (or explicitly): a sound met again keeps it.
    bool HasBankSource() const { return StorageKind() != 0 && (flags & AU_SOURCE_SET_EXPLICITLY); }

    u32 sourceID;
    u32 fileID;
    u32 fileOffset;
    u32 inMemorySize;
    u32 flags;
    void* pData;
    u32 pluginID;
};

// The source record of a bank, as CAuBankMgr::LoadSource reads it.
struct AuBankSourceRecord {
    u32 pluginID = 0;
    u8 streamType = 0;
    u32 sourceID = 0;
    u32 fileID = 0;
    u32 fileOffset = 0; // 0 when the stream type is 2 (not in the record)
    u32 inMemorySize = 0;
    u8 bits = 0;
    const u8* pParams = nullptr; // inside the payload: valid during the record's read only
    u32 paramSize = 0;

    bool HasParamBlock() const {
        const u32 kind = pluginID & 0xF;
        return kind == 2 || kind == 5;
    }
    // The description's flags for this record.
    u32 SourceFlags() const;
    // SetSourceID for a source with a parameter block, else SetFields.
    void ApplyTo(AuSourceInfo& info) const;
};
