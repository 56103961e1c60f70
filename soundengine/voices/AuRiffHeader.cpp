#include "voices/AuRiffHeader.h"

#include "core/AuPlayingMgr.h"

#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

u32 ReadU32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}
u16 ReadU16(const u8* p) {
    return u16(p[0] | p[1] << 8);
}
bool IsTag(const u8* p, const char (&tag)[5]) {
    return memcmp(p, tag, 4) == 0;
}

constexpr u32 kCueRecordBytes = 24;
constexpr u32 kSamplerHeaderBytes = 36;
constexpr u32 kLoopRecordBytes = 24;

} // namespace

AURESULT CAuCuePointList::Allocate(u32 count) {
    Free();
    if (count == 0) return AuResultSuccess;
    const u64 bytes = u64{count} * sizeof(AuCuePoint);
    if (bytes > UINT32_MAX) return AuResultNoMemory;
    m_pPoints = static_cast<AuCuePoint*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, u32(bytes)));
    if (!m_pPoints) return AuResultNoMemory;
    memset(m_pPoints, 0, size_t(bytes));
    m_uCount = count;
    return AuResultSuccess;
}

AURESULT CAuCuePointList::SetLabel(u32 index, const char* text, u32 length) {
    if (index >= m_uCount || length == UINT32_MAX) return AuResultInvalidParameter;
    char* label = static_cast<char*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, length + 1));
    if (!label) return AuResultNoMemory;
    memcpy(label, text, length);
    label[length] = 0;
    if (m_pPoints[index].pLabel) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pPoints[index].pLabel);
    m_pPoints[index].pLabel = label;
    return AuResultSuccess;
}

const AuCuePoint* CAuCuePointList::FindNearest(u32 position) const {
    const AuCuePoint* best = nullptr;
    u32 bestDistance = 0;
    for (u32 i = 0; i < m_uCount; ++i) {
        const u32 p = m_pPoints[i].uPosition;
        const u32 distance = p > position ? p - position : position - p;
        if (!best || distance < bestDistance) best = &m_pPoints[i], bestDistance = distance;
    }
    return best;
}

void CAuCuePointList::NotifyMarkers(AuPlayingID playingID, u32 from, u32 to) const noexcept {
    if (!g_pPlayingMgr) return;
    for (u32 i = 0; i < m_uCount; ++i)
        if (m_pPoints[i].uPosition >= from && m_pPoints[i].uPosition < to)
            g_pPlayingMgr->NotifyMarker(playingID, m_pPoints[i].uID, m_pPoints[i].uPosition,
                                        m_pPoints[i].pLabel);
}

void CAuCuePointList::Free() {
    for (u32 i = 0; i < m_uCount; ++i)
        if (m_pPoints[i].pLabel) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pPoints[i].pLabel);
    if (m_pPoints) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pPoints);
    m_pPoints = nullptr;
    m_uCount = 0;
}

AURESULT ParseRiffHeader(const u8* media, u32 size, AuRiffChunk& format, CAuCuePointList* cues,
                         u32& loopStart, u32& loopEnd, u32& dataSize, u32& dataOffset, AuRiffChunk* analysis,
                         AuRiffChunk* seekTable) {
    if (!media || size == 0) return AuResultInvalidParameter;
    if (size < 12 || !IsTag(media, "RIFF") || !(IsTag(media + 8, "WAVE") || IsTag(media + 8, "XWMA")))
        return AuResultBadHeader;
    if (size < 20) return AuResultTruncatedChunk;
    loopStart = loopEnd = 0;
    format = {};
    if (analysis) *analysis = {};
    if (seekTable) *seekTable = {};
    bool haveFormat = false;
    bool haveCues = false;
    // 64-bit so that a size near 4 GiB cannot wrap the cursor.
    u64 at = 12;
    while (true) {
        if (u64{size} - at < 8) return AuResultTruncatedChunk;
        const u8* header = media + at;
        const u32 chunkSize = ReadU32(header + 4);
        const u8* data = header + 8;
        const u64 left = u64{size} - at - 8;
        if (IsTag(header, "data")) {
            if (!haveFormat) return AuResultBadHeader;
            dataSize = chunkSize;
            dataOffset = u32(at + 8);
            return AuResultSuccess;
        }
        if (chunkSize > left) return AuResultTruncatedChunk;
        u64 advance = 8 + u64{chunkSize};
        if (IsTag(header, "fmt ")) {
            if (!haveFormat) format = {chunkSize, data};
            haveFormat = true;
        } else if (IsTag(header, "cue ")) {
            if (!haveFormat) return AuResultBadHeader;
            if (!haveCues && cues) {
                if (chunkSize < 4) return AuResultBadHeader;
                const u32 count = ReadU32(data);
                if (u64{count} * kCueRecordBytes > chunkSize - 4) return AuResultBadHeader;
                const AURESULT result = cues->Allocate(count);
                if (result != AuResultSuccess) return result;
                for (u32 i = 0; i < count; ++i) {
                    (*cues)[i].uID = ReadU32(data + 4 + i * kCueRecordBytes);
                    (*cues)[i].uPosition = ReadU32(data + 4 + i * kCueRecordBytes + 4);
                }
            }
            haveCues = true;
        } else if (IsTag(header, "LIST")) {
            // Its sub-chunks ("labl" among them) are read as chunks of this level.
            if (chunkSize >= 4) advance = 12;
        } else if (IsTag(header, "labl")) {
            if (haveCues && cues && chunkSize >= 4) {
                const u32 id = ReadU32(data);
                for (u32 i = 0; i < cues->Count(); ++i) {
                    if ((*cues)[i].uID != id) continue;
                    // Up to the first NUL: the terminator and the pad are not the label.
                    const char* text = reinterpret_cast<const char*>(data + 4);
                    const u32 length = u32(strnlen(text, chunkSize - 4));
                    cues->SetLabel(i, text, length); // without memory the point keeps no label
                    break;
                }
            }
        } else if (IsTag(header, "smpl")) {
            if (chunkSize >= kSamplerHeaderBytes && ReadU32(data + 28) != 0) {
                const u64 record = kSamplerHeaderBytes + u64{ReadU32(data + 32)};
                if (record + kLoopRecordBytes <= chunkSize) {
                    loopStart = ReadU32(data + record + 8);
                    loopEnd = ReadU32(data + record + 12);
                }
            }
        } else if (IsTag(header, "aud ")) {
            if (analysis) *analysis = {chunkSize, data};
        } else if (IsTag(header, "seek")) {
            if (seekTable) *seekTable = {chunkSize, data};
        }
        at += advance;
        // Advances stay within the media (sizes are bounded by what is left), so the pad
        // check cannot read past it.
        if ((chunkSize & 1) && advance != 12 && at < size && media[at] == 0) ++at;
    }
}

bool ReadWaveFormat(const AuRiffChunk& chunk, AuWaveFormat& out) {
    if (!chunk.pData || chunk.uSize < 16) return false;
    const u8* p = chunk.pData;
    out.uTag = ReadU16(p);
    out.uChannels = ReadU16(p + 2);
    out.uSampleRate = ReadU32(p + 4);
    out.uBlockAlign = ReadU16(p + 12);
    out.uBitsPerSample = ReadU16(p + 14);
    out.uChannelMask = chunk.uSize >= 24 ? ReadU32(p + 20) : 0;
    return true;
}
