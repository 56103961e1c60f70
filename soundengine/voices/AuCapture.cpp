#include "voices/AuCapture.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace {

void PutU16(u8* at, u16 value) {
    at[0] = static_cast<u8>(value);
    at[1] = static_cast<u8>(value >> 8);
}

void PutU32(u8* at, u32 value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<u8>(value >> (8 * i));
}

void PutTag(u8* at, const char* tag) {
    memcpy(at, tag, 4);
}

char* CopyText(const char* first, const char* second) {
    const size_t a = strlen(first);
    const size_t b = second ? strlen(second) : 0;
    char* text = static_cast<char*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(a + b + 1)));
    if (!text) return nullptr;
    memcpy(text, first, a);
    if (b) memcpy(text + a, second, b);
    text[a + b] = '\0';
    return text;
}

} // namespace

CAuCaptureFileWriter* CAuCaptureFileWriter::Create() {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuCaptureFileWriter));
    return block ? new (block) CAuCaptureFileWriter() : nullptr;
}

void CAuCaptureFileWriter::Destroy() {
    if (m_pStream) m_pStream->Destroy();
    m_pStream = nullptr;
    this->~CAuCaptureFileWriter();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}

AURESULT CAuCaptureFileWriter::StartCapture(const wchar_t* fileName, const u8* header) {
    if (m_pStream) return AuResultSuccess;
    AU::IAuStreamMgr* streamMgr = AU::IAuStreamMgr::m_pStreamMgr;
    if (!streamMgr) return AuResultFail;
    AuFileOpenFlags flags{};
    flags.uOrigin = AU_FILE_ORIGIN_ENGINE;
    flags.uFileType = 1;
    flags.uCacheID = AU_NO_CACHE_ID;
    AU::IAuStdStream* stream = nullptr;
    AURESULT result = streamMgr->CreateStd(fileName, &flags, AuOpenModeWriteOverwrite, stream, true);
    if (result != AuResultSuccess) return result;
    u32 written = 0;
    result = stream->Write(const_cast<u8*>(header), AU_WAV_HEADER_SIZE, true, 100, 0.0f, written);
    if (result != AuResultSuccess) {
        stream->Destroy();
        return result;
    }
    m_pStream = stream;
    return AuResultSuccess;
}

AURESULT CAuCaptureFileWriter::StopCapture(const u8* header) {
    if (!m_pStream) return AuResultFail;
    AURESULT result = m_pStream->SetPosition(0, AuMoveBegin, nullptr);
    if (result == AuResultSuccess) {
        u32 written = 0;
        result = m_pStream->Write(const_cast<u8*>(header), AU_WAV_HEADER_SIZE, true, 100, 0.0f, written);
    }
    m_pStream->Destroy();
    m_pStream = nullptr;
    return result;
}

AURESULT CAuCaptureFileWriter::PassSampleData(const void* data, u32 size) {
    if (!m_pStream) return AuResultFail;
    u32 written = 0;
    return m_pStream->Write(const_cast<void*>(data), size, true, 0, 0.0f, written);
}

CAuWavFileWriter* CAuWavFileWriter::Create(const wchar_t* fileName, u16 channels, u32 sampleRate) {
    CAuCaptureFileWriter* file = CAuCaptureFileWriter::Create();
    if (!file) return nullptr;
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuWavFileWriter));
    if (!block) {
        file->Destroy();
        return nullptr;
    }
    CAuWavFileWriter* writer = new (block) CAuWavFileWriter();
    writer->m_uBlockAlign = static_cast<u16>(channels * 16 / 8);
    u8* h = writer->m_header;
    PutTag(h + 0, "RIFF");
    PutTag(h + 8, "WAVE");
    PutTag(h + 12, "fmt ");
    PutU32(h + 16, 18);
    PutU16(h + 20, 1);
    PutU16(h + 22, channels);
    PutU32(h + 24, sampleRate);
    PutU32(h + 28, writer->m_uBlockAlign * sampleRate);
    PutU16(h + 32, writer->m_uBlockAlign);
    PutU16(h + 34, 16);
    PutU16(h + 36, 0);
    PutTag(h + 38, "data");
    writer->SetHeaderSizes(0xFFFFFFFFu, 0xFFFFFFFFu);
    if (file->StartCapture(fileName, h) != AuResultSuccess) {
        file->Destroy();
        writer->Free();
        return nullptr;
    }
    writer->m_pFile = file;
    return writer;
}

void CAuWavFileWriter::SetHeaderSizes(u32 riffSize, u32 dataSize) {
    PutU32(m_header + 4, riffSize);
    PutU32(m_header + 42, dataSize);
}

AURESULT CAuWavFileWriter::AddMarker(const char* text) {
    if (!m_pFile || !m_pFile->IsOpen()) return AuResultFail;
    const u32 position = m_uBlockAlign ? m_uDataBytes / m_uBlockAlign : 0;
    if (m_markers.Count() && m_markers[m_markers.Count() - 1].uPosition == position) {
        AuCaptureMarker& last = m_markers[m_markers.Count() - 1];
        char* joined = CopyText(last.pLabel, text);
        if (!joined) return AuResultNoMemory;
        AU::MemoryMgr::Free(g_DefaultPoolId, last.pLabel);
        last.pLabel = joined;
        return AuResultSuccess;
    }
    char* label = CopyText(text, nullptr);
    if (!label) return AuResultNoMemory;
    if (!m_markers.AddLast({m_uLastMarkerId + 1, position, label})) {
        AU::MemoryMgr::Free(g_DefaultPoolId, label);
        return AuResultNoMemory;
    }
    ++m_uLastMarkerId;
    return AuResultSuccess;
}

AURESULT CAuWavFileWriter::WriteFrame(const void* data, u32 size) {
    const AURESULT result = m_pFile->PassSampleData(data, size);
    if (result == AuResultSuccess) m_uDataBytes += size;
    return result;
}

AURESULT CAuWavFileWriter::WriteMarkerChunks(u32& chunkBytes) {
    const u32 count = m_markers.Count();
    u32 labelBytes = 0;
    for (const AuCaptureMarker& marker : m_markers) {
        const u32 length = static_cast<u32>(strlen(marker.pLabel)) + 1;
        labelBytes += 12 + length + (length & 1);
    }
    chunkBytes = 24 + 24 * count + labelBytes;
    u8* chunks = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, chunkBytes));
    if (!chunks) return AuResultNoMemory;
    u8* at = chunks;
    PutTag(at, "cue ");
    PutU32(at + 4, count * 24 + 4);
    PutU32(at + 8, count);
    at += 12;
    for (const AuCaptureMarker& marker : m_markers) {
        PutU32(at, marker.uIdentifier);
        PutU32(at + 4, marker.uPosition);
        PutTag(at + 8, "data");
        PutU32(at + 12, 0);
        PutU32(at + 16, 0);
        PutU32(at + 20, marker.uPosition);
        at += 24;
    }
    PutTag(at, "LIST");
    PutU32(at + 4, 4 + labelBytes);
    PutTag(at + 8, "adtl");
    at += 12;
    for (const AuCaptureMarker& marker : m_markers) {
        const u32 length = static_cast<u32>(strlen(marker.pLabel)) + 1;
        PutTag(at, "labl");
        PutU32(at + 4, length + 4);
        PutU32(at + 8, marker.uIdentifier);
        memcpy(at + 12, marker.pLabel, length);
        at += 12 + length;
        if (length & 1) *at++ = 0;
    }
    const AURESULT result = m_pFile->PassSampleData(chunks, chunkBytes);
    AU::MemoryMgr::Free(g_DefaultPoolId, chunks);
    return result;
}

AURESULT CAuWavFileWriter::Stop() {
    AURESULT result = AuResultSuccess;
    if (m_pFile) {
        u32 chunkBytes = 0;
        if (m_markers.Count()) {
            result = WriteMarkerChunks(chunkBytes);
            if (result != AuResultSuccess) chunkBytes = 0;
        }
        SetHeaderSizes(38 + m_uDataBytes + chunkBytes, m_uDataBytes);
        const AURESULT stopped = m_pFile->StopCapture(m_header);
        if (result == AuResultSuccess) result = stopped;
        m_pFile->Destroy();
        m_pFile = nullptr;
    }
    Free();
    return result;
}

void CAuWavFileWriter::Free() {
    for (AuCaptureMarker& marker : m_markers)
        AU::MemoryMgr::Free(g_DefaultPoolId, marker.pLabel);
    this->~CAuWavFileWriter();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}

bool AuCaptureName::Make(const wchar_t* given) {
    const size_t length = wcslen(given);
    pName = static_cast<wchar_t*>(
        AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>((length + 2) * sizeof(wchar_t))));
    if (!pName) return false;
    size_t dot = 0;
    for (size_t i = length; i-- > 1;)
        if (given[i] == L'.') {
            dot = i;
            break;
        }
    wmemcpy(pName, given, dot);
    pName[dot] = L'0';
    wmemcpy(pName + dot + 1, given + dot, length - dot + 1);
    uDigitPos = static_cast<u32>(dot);
    return true;
}

const wchar_t* AuCaptureName::Next() {
    ++pName[uDigitPos];
    return pName;
}

void AuCaptureName::Free() {
    if (pName) AU::MemoryMgr::Free(g_DefaultPoolId, pName);
    pName = nullptr;
    uDigitPos = 0;
}
