#include "banks/AuBankChunks.h"

#include "core/AuLog.h"

#include "banks/AuBankFileNames.h"

#include "memory/AuArray.h"
#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

static_assert(sizeof(AuBankCurvePoint) == AU_BANK_CURVE_POINT_SIZE);
static_assert(sizeof(AuBankSwitchPoint) == AU_BANK_CURVE_POINT_SIZE);

// A bank's settings never override what the game set through the exported setters (priority 0).
constexpr u32 kBankSettingPriority = 2;
// Media index entries are read this many at a time.
constexpr u32 kIndexBatch = 256;
constexpr u32 kMaxBankNameLength = 255;

u16 LoadU16(const u8* p) {
    return static_cast<u16>(p[0] | p[1] << 8);
}
u32 LoadU32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}
f32 LoadF32(const u8* p) {
    const u32 bits = LoadU32(p);
    f32 value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

AURESULT ReadU32(CAuBankReader& reader, u32& value) {
    u8 bytes[4];
    const AURESULT result = reader.ReadExact(bytes, sizeof(bytes));
    value = result == AuResultSuccess ? LoadU32(bytes) : 0;
    return result;
}

// A point array read from the bank and decoded in place (the 12-byte layouts match the file).
class CAuPointArray {
public:
    CAuPointArray() = default;
    CAuPointArray(const CAuPointArray&) = delete;
    CAuPointArray& operator=(const CAuPointArray&) = delete;
    ~CAuPointArray() {
        if (m_pBytes) AU::MemoryMgr::Free(g_DefaultPoolId, m_pBytes);
    }

    // 56 when the bank cannot hold `count` points (checked before anything is allocated), 52
    // when the array cannot be had, else the reader's result.
    AURESULT Read(CAuBankReader& reader, u32 count) {
        const u64 bytes = u64{count} * AU_BANK_CURVE_POINT_SIZE;
        if (bytes > reader.Available()) return AuResultHeaderChunkTooShort;
        if (count == 0) return AuResultSuccess;
        m_pBytes = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes)));
        if (!m_pBytes) return AuResultNoMemory;
        return reader.ReadExact(m_pBytes, static_cast<u32>(bytes));
    }

    template <class Point> const Point* As(u32 count) {
        for (u32 i = 0; i < count; ++i) {
            u8* at = m_pBytes + i * AU_BANK_CURVE_POINT_SIZE;
            const f32 first = LoadF32(at);
            const u32 second = LoadU32(at + 4);
            const u32 third = LoadU32(at + 8);
            memcpy(at, &first, 4);
            memcpy(at + 4, &second, 4);
            memcpy(at + 8, &third, 4);
        }
        return reinterpret_cast<const Point*>(m_pBytes);
    }

private:
    u8* m_pBytes = nullptr;
};

AURESULT ReadSettings(CAuBankReader& reader, IAuBankSettingsSink& sink) {
    u8 head[6];
    AURESULT result = reader.ReadExact(head, sizeof(head));
    if (result != AuResultSuccess) return result;
    sink.SetVolumeThreshold(LoadF32(head), kBankSettingPriority);
    sink.SetMaxNumVoices(LoadU16(head + 4), kBankSettingPriority);

    u32 groups = 0;
    if ((result = ReadU32(reader, groups)) != AuResultSuccess) return result;
    for (u32 g = 0; g < groups; ++g) {
        u32 groupID = 0;
        if ((result = ReadU32(reader, groupID)) != AuResultSuccess) return result;
        if (!sink.AddStateGroup(groupID)) return AuResultFail;
        u8 fields[8];
        if ((result = reader.ReadExact(fields, sizeof(fields))) != AuResultSuccess) return result;
        sink.SetDefaultTransitionTime(groupID, LoadU32(fields));
        const u32 transitions = LoadU32(fields + 4);
        for (u32 t = 0; t < transitions; ++t) {
            u8 transition[12];
            if ((result = reader.ReadExact(transition, sizeof(transition))) != AuResultSuccess) return result;
            sink.AddStateTransition(groupID, LoadU32(transition), LoadU32(transition + 4),
                                    LoadU32(transition + 8));
        }
    }

    u32 switchGroups = 0;
    if ((result = ReadU32(reader, switchGroups)) != AuResultSuccess) return result;
    for (u32 s = 0; s < switchGroups; ++s) {
        u8 fields[13];
        if ((result = reader.ReadExact(fields, sizeof(fields))) != AuResultSuccess) return result;
        const u32 count = LoadU32(fields + 9);
        CAuPointArray points;
        if ((result = points.Read(reader, count)) != AuResultSuccess) return result;
        result = sink.AddSwitchRTPC(LoadU32(fields), LoadU32(fields + 4), fields[8],
                                    count ? points.As<AuBankSwitchPoint>(count) : nullptr, count);
        if (result != AuResultSuccess) return result;
    }

    u32 parameters = 0;
    if ((result = ReadU32(reader, parameters)) != AuResultSuccess) return result;
    for (u32 p = 0; p < parameters; ++p) {
        u8 fields[21];
        if ((result = reader.ReadExact(fields, sizeof(fields))) != AuResultSuccess) return result;
        const u32 id = LoadU32(fields);
        sink.SetGameParameter(id, LoadF32(fields + 4), LoadU32(fields + 8), LoadF32(fields + 12),
                              LoadF32(fields + 16));
        // Kinds above 6 name no list of the game-parameter manager: such a binding is dropped.
        const u8 binding = fields[20];
        if (binding != 0 && binding <= AU_BANK_MAX_BUILT_IN_BINDING &&
            (result = sink.AddBuiltInParamBinding(id, binding)) != AuResultSuccess)
            return result;
    }
    return AuResultSuccess;
}

AURESULT ReadEnvironment(CAuBankReader& reader, u32 size, IAuCurveTableSink& sink) {
    if (size == 0 || !sink.IsReady()) return AuResultFail;
    for (u32 curve = 0; curve < AU_BANK_ENVIRONMENT_GROUPS * AU_BANK_ENVIRONMENT_OUTPUTS; ++curve) {
        u8 head[4];
        AURESULT result = reader.ReadExact(head, sizeof(head));
        if (result != AuResultSuccess) return result;
        const u32 count = LoadU16(head + 2);
        CAuPointArray points;
        if ((result = points.Read(reader, count)) != AuResultSuccess) return result;
        sink.SetCurve(curve / AU_BANK_ENVIRONMENT_OUTPUTS, curve % AU_BANK_ENVIRONMENT_OUTPUTS, head[0] != 0,
                      head[1], count ? points.As<AuBankCurvePoint>(count) : nullptr, count);
    }
    return AuResultSuccess;
}

// size / 12 entries; the remainder is left for the loop to skip.
AURESULT ReadMediaIndex(CAuBankReader& reader, u32 size, AuArray<AuMediaIndexEntry>& index) {
    const u32 count = size / AU_BANK_MEDIA_INDEX_ENTRY_SIZE;
    if (u64{count} * AU_BANK_MEDIA_INDEX_ENTRY_SIZE > reader.Available()) return AuResultTruncatedChunk;
    if (count == 0) return AuResultSuccess;
    if (!index.Grow(count)) return AuResultNoMemory;
    u8 bytes[kIndexBatch * AU_BANK_MEDIA_INDEX_ENTRY_SIZE];
    for (u32 done = 0; done < count;) {
        const u32 batch = count - done < kIndexBatch ? count - done : kIndexBatch;
        u32 got = 0;
        const AURESULT result = reader.Read(bytes, batch * AU_BANK_MEDIA_INDEX_ENTRY_SIZE, got);
        if (result != AuResultSuccess) return result;
        if (got != batch * AU_BANK_MEDIA_INDEX_ENTRY_SIZE) return AuResultTruncatedChunk;
        for (u32 i = 0; i < batch; ++i) {
            const u8* at = bytes + i * AU_BANK_MEDIA_INDEX_ENTRY_SIZE;
            index.AddLast(AuMediaIndexEntry{LoadU32(at), LoadU32(at + 4), LoadU32(at + 8)});
        }
        done += batch;
    }
    return AuResultSuccess;
}

AURESULT ReadData(CAuBankReader& reader, u32 size, AuBankLoadMode mode, bool dataInPlace,
                  const AuArray<AuMediaIndexEntry>& index, IAuBankMediaSink& sink) {
    // An entry reaching outside the payload would hand sources a pointer past the bank's block.
    for (const AuMediaIndexEntry& entry : index) {
        if (entry.mediaID != 0 && u64{entry.uOffset} + entry.uSize > size) return AuResultTruncatedChunk;
    }
    // A payload the bank cannot hold is refused before any memory is set aside for it.
    if (size > reader.Available()) return mode == AuBankLoadModeLoad ? AuResultBadHeader : AuResultFail;
    if (mode != AuBankLoadModeLoad) return sink.PrepareMedia(reader, index.begin(), index.Count(), size);
    if (size == 0) return AuResultSuccess; // nothing to keep: no block of size 0
    const u8* block = nullptr;
    u32 got = 0;
    if (dataInPlace && !reader.IsStreamed()) {
        block = reader.GetData(size, got);
    } else {
        u8* copy = static_cast<u8*>(sink.AllocateDataBlock(size));
        if (!copy) return AuResultNoMemory;
        if (reader.Read(copy, size, got) != AuResultSuccess) got = 0;
        block = copy;
    }
    if (got != size) return AuResultBadHeader;
    return sink.RegisterMedia(index.begin(), index.Count(), block, size);
}

AURESULT SkipRest(CAuBankReader& reader) {
    const u32 rest = static_cast<u32>(reader.BoundsLeft());
    u32 skipped = 0;
    reader.Skip(rest, skipped);
    return skipped == rest ? AuResultSuccess : AuResultBadHeader;
}

AURESULT ReadRecord(CAuBankReader& reader, u8 type, u32 size, IAuHierarchySink& sink) {
    if (AuIsCoreHierarchyType(type)) {
        if (size < sizeof(u32)) return AuResultBadHeader; // no room for the object's ID
        u32 got = 0;
        const u8* payload = reader.GetData(size, got);
        AURESULT result;
        if (!payload)
            result = AuResultFail;
        else if (got != size)
            result = AuResultBadHeader;
        else
            result = sink.LoadRecord(type, payload, size);
        reader.ReleaseData();
        return result;
    }
    if (!sink.HasExtensionReader()) return SkipRest(reader);
    AURESULT result = sink.ReadExtensionRecord(type, size, reader);
    if (result != AuResultSuccess && result != AuResultTypeNotHandled) return result;
    // Not handled: skipped, yet the load fails with 3.
    const AURESULT skipped = SkipRest(reader);
    return skipped == AuResultSuccess ? result : skipped;
}

AURESULT ReadHierarchy(CAuBankReader& reader, IAuHierarchySink& sink) {
    u8 countBytes[4];
    u32 got = 0;
    AURESULT result = reader.Read(countBytes, sizeof(countBytes), got);
    if (result != AuResultSuccess) return result;
    if (got != sizeof(countBytes)) return AuResultBadHeader;
    const u32 count = LoadU32(countBytes);
    if (count == 0) return AuResultSuccess;
    // More records than the chunk can hold headers for: the count is wrong, not the records.
    if (u64{count} * AU_BANK_RECORD_HEADER_SIZE > reader.Available()) return AuResultBadHeader;
    if ((result = sink.BeginHierarchy(count)) != AuResultSuccess) return result;
    for (u32 i = 0; i < count; ++i) {
        u8 header[AU_BANK_RECORD_HEADER_SIZE];
        if ((result = reader.Read(header, sizeof(header), got)) != AuResultSuccess) return result;
        if (got != sizeof(header)) return AuResultBadHeader;
        const u32 size = LoadU32(header + 1);
        // A size the chunk or the file cannot hold never reaches a reader, which may size a
        // buffer by it; in memory and from a stream alike.
        if (size > reader.Available()) {
            AuLog(AuLogLevel::Error, "bank: hierarchy record of type %u claims %u bytes; %llu remain",
                  header[0], size, static_cast<unsigned long long>(reader.Available()));
            return AuResultBadHeader;
        }
        const u64 outer = reader.BeginBounds(size);
        result = ReadRecord(reader, header[0], size, sink);
        reader.EndBounds(outer);
        if (result != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}

AURESULT ReadBankNames(CAuBankReader& reader, CAuBankFileNames& names) {
    while (reader.BoundsLeft() > 0) {
        u8 block[8];
        u32 got = 0;
        AURESULT result = reader.Read(block, sizeof(block), got);
        if (result != AuResultSuccess) return result;
        if (got != sizeof(block)) return AuResultTruncatedChunk;
        const u32 entries = LoadU32(block + 4);
        for (u32 e = 0; e < entries; ++e) {
            u8 entry[5];
            char name[kMaxBankNameLength];
            if ((result = reader.Read(entry, sizeof(entry), got)) != AuResultSuccess) return result;
            if (got != sizeof(entry)) return AuResultTruncatedChunk;
            const u8 length = entry[4];
            if ((result = reader.Read(name, length, got)) != AuResultSuccess) return result;
            if (got != length) return AuResultTruncatedChunk;
            if ((result = names.SetBankFileName(LoadU32(entry), name, length)) != AuResultSuccess)
                return result;
        }
    }
    return AuResultSuccess;
}

} // namespace

AURESULT AuReadBankHeader(CAuBankReader& reader, AuBankHeader& header) {
    header = AuBankHeader{};
    u8 chunk[AU_BANK_CHUNK_HEADER_SIZE];
    u32 got = 0;
    if (reader.Read(chunk, sizeof(chunk), got) != AuResultSuccess || got != sizeof(chunk) ||
        LoadU32(chunk) != AU_BANK_TAG_BKHD) {
        AuLog(AuLogLevel::Error, "bank: does not start with a bank header chunk");
        return AuResultBadHeader;
    }
    const u32 size = LoadU32(chunk + 4);
    if (size < AU_BANK_HEADER_FIELDS_SIZE) {
        AuLog(AuLogLevel::Error, "bank: header chunk of %u bytes is shorter than its %u fields", size,
              AU_BANK_HEADER_FIELDS_SIZE);
        return AuResultBadHeader;
    }
    u8 fields[AU_BANK_HEADER_FIELDS_SIZE];
    const AURESULT result = reader.ReadExact(fields, sizeof(fields));
    if (result != AuResultSuccess) {
        AuLog(AuLogLevel::Error, "bank: header fields cut short (%s)", AuResultName(result));
        return result;
    }
    header.uVersion = LoadU32(fields);
    header.bankID = LoadU32(fields + 4);
    header.languageID = LoadU32(fields + 8);
    header.uExtraOwnerFlag = LoadU16(fields + 12);
    const u32 rest = size - AU_BANK_HEADER_FIELDS_SIZE;
    u32 skipped = 0;
    reader.Skip(rest, skipped);
    if (skipped != rest) {
        AuLog(AuLogLevel::Error, "bank: header chunk claims %u bytes; the bank ends before", size);
        return AuResultHeaderChunkTooShort;
    }
    if (header.uVersion != AU_BANK_VERSION) {
        AuLog(AuLogLevel::Error, "bank: version %u, this engine reads %u", header.uVersion, AU_BANK_VERSION);
        return AuResultWrongBankVersion;
    }
    return AuResultSuccess;
}

AURESULT AuReadBankChunks(CAuBankReader& reader, AuBankLoadMode mode, bool dataInPlace,
                          const AuBankChunkSinks& sinks) {
    AuArray<AuMediaIndexEntry> index;
    bool indexRead = false;
    for (;;) {
        u8 chunk[AU_BANK_CHUNK_HEADER_SIZE];
        u32 got = 0;
        AURESULT result = reader.Read(chunk, sizeof(chunk), got);
        if (result != AuResultSuccess) return result;
        if (got == 0) return AuResultSuccess;
        if (got != sizeof(chunk)) {
            AuLog(AuLogLevel::Error, "bank: chunk header cut short after byte %llu",
                  static_cast<unsigned long long>(reader.Consumed()));
            return AuResultBadHeader;
        }
        const u32 tag = LoadU32(chunk);
        const u32 size = LoadU32(chunk + 4);
        const bool media = tag == AU_BANK_TAG_DIDX || tag == AU_BANK_TAG_DATA;
        const bool known = tag == AU_BANK_TAG_STMG || tag == AU_BANK_TAG_ENVS || tag == AU_BANK_TAG_HIRC ||
                           tag == AU_BANK_TAG_STID || (media && mode != AuBankLoadModePrepareStructure);
        if (!known) {
            u32 skipped = 0;
            reader.Skip(size, skipped);
            if (skipped != size) {
                AuLog(AuLogLevel::Error, "bank: chunk %.4s claims %u bytes; the bank ends before",
                      reinterpret_cast<const char*>(chunk), size);
                return AuResultBadHeader;
            }
            continue;
        }
        const u64 outer = reader.BeginBounds(size);
        switch (tag) {
        case AU_BANK_TAG_STMG:
            result = ReadSettings(reader, *sinks.pSettings);
            break;
        case AU_BANK_TAG_ENVS:
            result = ReadEnvironment(reader, size, *sinks.pCurves);
            break;
        case AU_BANK_TAG_DIDX:
            // The first index stays; a later one is skipped.
            result = indexRead ? AuResultSuccess : ReadMediaIndex(reader, size, index);
            indexRead = true;
            break;
        case AU_BANK_TAG_DATA:
            result = ReadData(reader, size, mode, dataInPlace, index, *sinks.pMedia);
            break;
        case AU_BANK_TAG_HIRC:
            result = ReadHierarchy(reader, *sinks.pHierarchy);
            break;
        default:
            result = ReadBankNames(reader, *sinks.pNames);
            break;
        }
        // What a chunk's reader left of its payload is skipped, so the next chunk header is found.
        if (result == AuResultSuccess) result = SkipRest(reader);
        reader.EndBounds(outer);
        if (result != AuResultSuccess) {
            AuLog(AuLogLevel::Error, "bank: chunk %.4s of %u bytes refused (%s)",
                  reinterpret_cast<const char*>(chunk), size, AuResultName(result));
            return result;
        }
    }
}

AURESULT AuReadBank(CAuBankReader& reader, AuBankLoadMode mode, bool dataInPlace,
                    const AuBankChunkSinks& sinks, AuBankHeader& header) {
    const AURESULT result = AuReadBankHeader(reader, header);
    if (result != AuResultSuccess) return result;
    return AuReadBankChunks(reader, mode, dataInPlace, sinks);
}
