#include "hierarchy/AuSourceInfo.h"

#include "banks/AuBankMgr.h"
#include "core/AuLog.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <cwchar>
#include <new>

void AuSourceInfo::Init() {
    sourceID = 0;
    fileID = 0xFFFFFFFF;
    fileOffset = 0;
    inMemorySize = 0;
    flags = 0;
    pData = nullptr;
    pluginID = 0xFFFFFFFF;
}

void AuSourceInfo::Term() {
    // Only a name the description copied is its own; media data is lent.
    if ((flags & AU_SOURCE_OWNED_NAME) && pData) AU::MemoryMgr::Free(g_DefaultPoolId, pData);
    sourceID = 0;
    fileID = 0xFFFFFFFF;
    fileOffset = 0;
    inMemorySize = 0;
    flags &= ~AU_SOURCE_FLAG_BITS;
    pData = nullptr;
}

namespace {

wchar_t* CopyName(const wchar_t* name) {
    const size_t bytes = (wcslen(name) + 1) * sizeof(wchar_t);
    if (bytes > UINT32_MAX) return nullptr;
    auto* copy = static_cast<wchar_t*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes)));
    if (copy) memcpy(copy, name, bytes);
    return copy;
}

} // namespace

AuSourceInfo* AuSourceInfo::Clone() const {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuSourceInfo));
    if (!memory) return nullptr;
    auto* clone = new (memory) AuSourceInfo();
    clone->sourceID = sourceID;
    clone->fileID = fileID;
    clone->fileOffset = fileOffset;
    clone->inMemorySize = inMemorySize;
    clone->flags = flags;
    clone->pluginID = pluginID;
    clone->pData = pData;
    if ((flags & AU_SOURCE_OWNED_NAME) && pData) {
        clone->pData = CopyName(static_cast<const wchar_t*>(pData));
        if (!clone->pData) {
            Destroy(clone);
            return nullptr;
        }
    }
    return clone;
}

void AuSourceInfo::Destroy(AuSourceInfo* info) {
    if (!info) return;
    info->~AuSourceInfo();
    AU::MemoryMgr::Free(g_DefaultPoolId, info);
}

void AuSourceInfo::SetSourceID(u32 id) {
    Term();
    sourceID = id;
    fileID = 0xFFFFFFFF;
    pluginID = 0xFFFFFFFF;
    fileOffset = 0;
    inMemorySize = 0;
    flags = (flags & ~AU_SOURCE_FLAG_BITS) | (AuSourceStorage_IDOnly << AU_SOURCE_STORAGE_SHIFT);
}

void AuSourceInfo::SetFields(u32 plugin, u32 source, u32 file, u32 offset, u32 size, u32 flagBits) {
    Term();
    pluginID = plugin;
    sourceID = source;
    fileID = file;
    fileOffset = offset;
    inMemorySize = size;
    flags = flagBits | AU_SOURCE_SET_EXPLICITLY;
    pData = nullptr;
}

void AuSourceInfo::SetWithData(u32 plugin, void* data, u32 source, u32 file, u32 offset, u32 size,
                               u32 flagBits) {
    SetFields(plugin, source, file, offset, size, flagBits);
    pData = data;
}

void AuSourceInfo::SetFromFileName(u32 source, u32 plugin, const wchar_t* name, u32 file, bool flagA,
                                   bool flagB) {
    Term();
    pData = name ? CopyName(name) : nullptr;
    sourceID = source;
    pluginID = plugin;
    fileID = file;
    fileOffset = 0;
    inMemorySize = 0;
    constexpr u32 kCleared = 0x1 | 0x2 | AU_SOURCE_STORAGE_MASK | AU_SOURCE_EXTERNAL | AU_SOURCE_RECORD_BIT1 |
                             AU_SOURCE_RECORD_BIT3;
    flags &= ~kCleared;
    // Storage kind 1 (bit 2), set explicitly, owned name.
    flags |= (AuSourceStorage_Streamed << AU_SOURCE_STORAGE_SHIFT) | AU_SOURCE_SET_EXPLICITLY |
             AU_SOURCE_OWNED_NAME;
    if (flagA) flags |= AU_SOURCE_RECORD_BIT1;
    if (flagB) flags |= AU_SOURCE_EXTERNAL;
}

const u8* AuSourceInfo::GetMedia(u32& outSize, AuMediaHolder*& outHolder) const noexcept {
    outHolder = nullptr;
    if (pData) {
        outSize = inMemorySize;
        return static_cast<const u8*>(pData);
    }
    outSize = 0;
    return g_pBankMgr ? g_pBankMgr->GetMedia(sourceID, outSize, outHolder) : nullptr;
}

void AuSourceInfo::ReleaseMedia() const noexcept {
    if (!pData && g_pBankMgr) g_pBankMgr->ReleaseMedia(sourceID);
}

AURESULT AuSourceInfo::PrepareMedia() const {
    if (inMemorySize == 0 || pData) return AuResultSuccess;
    if (!g_pBankMgr) return AuResultFail;
    const CAuBankMgr::MediaLoad load{
        sourceID, fileID, fileOffset, inMemorySize, flags & AU_SOURCE_LANGUAGE_SPECIFIC, nullptr, pluginID};
    return g_pBankMgr->LoadMedia(load);
}

void AuSourceInfo::UnprepareMedia() const {
    if (inMemorySize != 0 && !pData && g_pBankMgr) g_pBankMgr->UnloadMedia(sourceID);
}

u32 AuBankSourceRecord::SourceFlags() const {
    u32 result = 0;
    if (bits & 1) result |= AU_SOURCE_LANGUAGE_SPECIFIC;
    if (streamType == 1) result |= AU_SOURCE_STREAM_TYPE_1;
    if (bits & 2) result |= AU_SOURCE_RECORD_BIT1;
    if (bits & 8) result |= AU_SOURCE_RECORD_BIT3;
    const u32 kind = streamType == 0 ? AuSourceStorage_InMemory : AuSourceStorage_Streamed;
    return result | kind << AU_SOURCE_STORAGE_SHIFT;
}

void AuBankSourceRecord::ApplyTo(AuSourceInfo& info) const {
    if (HasParamBlock())
        info.SetSourceID(sourceID);
    else
        info.SetFields(pluginID, sourceID, fileID, fileOffset, inMemorySize, SourceFlags());
}

AURESULT CAuBankMgr::LoadSource(AuRecordCursor& cursor, AuBankSourceRecord& out) {
    if (!cursor.Read(out.pluginID) || !cursor.Read(out.streamType)) return AuResultBadHeader;
    const u32 kind = out.pluginID & 0xF;
    if (kind != 0 && kind != 1 && kind != 2 && kind != 5) {
        AuLog(AuLogLevel::Error, "bank: source plug-in %08X has the unknown type %u", out.pluginID, kind);
        return AuResultFail;
    }
    if (out.streamType > 2) {
        AuLog(AuLogLevel::Error, "bank: source stream type %u unknown", out.streamType);
        return AuResultFail;
    }
    out.fileOffset = 0;
    if (!cursor.Read(out.sourceID) || !cursor.Read(out.fileID)) return AuResultBadHeader;
    if (out.streamType != 2 && !cursor.Read(out.fileOffset)) return AuResultBadHeader;
    if (!cursor.Read(out.inMemorySize) || !cursor.Read(out.bits)) return AuResultBadHeader;
    out.pParams = nullptr;
    out.paramSize = 0;
    if (out.HasParamBlock()) {
        if (!cursor.Read(out.paramSize)) return AuResultBadHeader;
        out.pParams = cursor.Take(out.paramSize);
        if (!out.pParams) {
            AuLog(AuLogLevel::Error, "bank: source %u: parameter block of %u bytes past the record",
                  out.sourceID, out.paramSize);
            return AuResultBadHeader;
        }
    }
    return AuResultSuccess;
}
