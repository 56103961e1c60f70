#include "banks/AuBankReader.h"

#include "banks/AuBankFormat.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr u32 kMaxPathChars = 260;

} // namespace

u32 AuGetBankIDFromMemory(const void* image, u32 size) {
    if (!image || size < AU_BANK_MIN_IMAGE_SIZE) return 0;
    const u8* bytes = static_cast<const u8*>(image) + 12;
    return u32(bytes[0]) | u32(bytes[1]) << 8 | u32(bytes[2]) << 16 | u32(bytes[3]) << 24;
}

AURESULT CAuBankReader::Init() {
    if (m_bInitialized) return AuResultFail;
    m_fThroughput = kDefaultThroughput;
    m_priority = kDefaultPriority;
    m_bInitialized = true;
    return AuResultSuccess;
}

void CAuBankReader::Term() {
    Close();
    ReleaseData();
    m_pMemory = nullptr;
    m_uLeft = 0;
    m_bInitialized = false;
}

AURESULT CAuBankReader::SetBankLoadIOSettings(f32 throughput, u8 priority) {
    if (!(throughput >= 0.0f) || priority > 100) return AuResultInvalidParameter;
    m_fThroughput = throughput;
    m_priority = priority;
    return AuResultSuccess;
}

void CAuBankReader::Reset() {
    ReleaseData();
    m_uBufferPos = 0;
    m_uLeft = 0;
    m_pMemory = nullptr;
    m_uConsumed = 0;
    m_uBoundEnd = UINT64_MAX;
}

AURESULT CAuBankReader::Close() {
    if (m_pStream) m_pStream->Destroy();
    m_pStream = nullptr;
    m_uBufferPos = 0;
    m_uLeft = 0;
    // Banks are read seldom: the buffer is not worth keeping between them.
    if (m_pBuffer) AU::MemoryMgr::Falign(g_DefaultPoolId, m_pBuffer);
    m_pBuffer = nullptr;
    m_uBufferCapacity = 0;
    return AuResultSuccess;
}

void CAuBankReader::SetMemory(const void* image, u32 size) {
    Close();
    Reset();
    m_pMemory = static_cast<const u8*>(image);
    m_uLeft = image ? size : 0;
}

AURESULT CAuBankReader::OpenByID(u32 fileID, u32 offset, u32 codec, void* cookie, bool languageSpecific) {
    Close();
    Reset();
    AU::IAuStreamMgr* manager = AU::IAuStreamMgr::m_pStreamMgr;
    if (!manager) return AuResultStreamMgrMissing;
    AuFileOpenFlags flags{0, codec, 0, cookie, languageSpecific, false, false, AU_NO_CACHE_ID, 0};
    AURESULT result = manager->CreateStd(fileID, &flags, AuOpenModeRead, m_pStream, true);
    if (result != AuResultSuccess && languageSpecific) {
        flags = AuFileOpenFlags{0, codec, 0, cookie, false, false, false, AU_NO_CACHE_ID, 0};
        result = manager->CreateStd(fileID, &flags, AuOpenModeRead, m_pStream, true);
    }
    if (result != AuResultSuccess) {
        m_pStream = nullptr;
        return result;
    }
    return FinishOpen(offset);
}

AURESULT CAuBankReader::OpenByName(const char* name, u32 offset, void* cookie) {
    Close();
    Reset();
    if (!name) return AuResultInvalidParameter;
    AU::IAuStreamMgr* manager = AU::IAuStreamMgr::m_pStreamMgr;
    if (!manager) return AuResultStreamMgrMissing;
    wchar_t wide[kMaxPathChars];
    const int length = static_cast<int>(strnlen(name, kMaxPathChars - 1));
    const int written = length ? MultiByteToWideChar(CP_ACP, 0, name, length, wide, kMaxPathChars - 1) : 0;
    wide[written > 0 ? written : 0] = 0;
    AuFileOpenFlags flags{0, 0, 0, cookie, false, false, false, AU_NO_CACHE_ID, 0};
    const AURESULT result = manager->CreateStd(wide, &flags, AuOpenModeRead, m_pStream, true);
    if (result != AuResultSuccess) {
        m_pStream = nullptr;
        return result;
    }
    return FinishOpen(offset);
}

AURESULT CAuBankReader::FinishOpen(u32 offset) {
    m_uBlockSize = m_pStream->GetBlockSize();
    if (m_uBlockSize == 0) {
        Close();
        return AuResultFail;
    }
    // Large transfers keep the number of I/O requests per bank low. Every open starts closed, so
    // there is no buffer yet.
    const u32 capacity = std::max(m_uBlockSize, kMinBufferSize);
    m_pBuffer = static_cast<u8*>(AU::MemoryMgr::Malign(g_DefaultPoolId, capacity, kBufferAlignment));
    if (!m_pBuffer) {
        Close();
        return AuResultNoMemory;
    }
    m_uBufferCapacity = capacity;
    if (offset == 0) return AuResultSuccess;
    // The stream moves only to block boundaries; the rest up to the offset is read and dropped.
    i64 reached = 0;
    if (m_pStream->SetPosition(offset, AuMoveBegin, &reached) != AuResultSuccess || reached < 0 ||
        static_cast<u64>(reached) > offset)
        return AuResultFail;
    const u32 rest = offset - static_cast<u32>(reached);
    u32 skipped = 0;
    if (SkipInStream(rest, skipped) != AuResultSuccess || skipped != rest) return AuResultFail;
    m_uConsumed = 0;
    return AuResultSuccess;
}

u32 CAuBankReader::Bounded(u32 n) const {
    return static_cast<u32>(std::min<u64>(n, BoundsLeft()));
}

u64 CAuBankReader::BeginBounds(u32 n) {
    const u64 previous = m_uBoundEnd;
    m_uBoundEnd = std::min(previous, m_uConsumed + n);
    return previous;
}

void CAuBankReader::EndBounds(u64 previousEnd) {
    m_uBoundEnd = previousEnd;
}

u64 CAuBankReader::Available() const {
    u64 available = m_uLeft;
    if (m_pStream) {
        AuStreamInfo info{};
        m_pStream->GetInfo(info);
        const u64 position = m_pStream->GetPosition(nullptr);
        if (info.uSize > position) available += info.uSize - position;
    }
    return std::min(available, BoundsLeft());
}

AURESULT CAuBankReader::Read(void* destination, u32 n, u32& outCount) {
    outCount = 0;
    n = Bounded(n);
    if (!m_pStream) {
        const u32 count = std::min(n, m_uLeft);
        if (count) memcpy(destination, m_pMemory, count);
        m_pMemory += count;
        m_uLeft -= count;
        m_uConsumed += count;
        outCount = count;
        return AuResultSuccess;
    }
    const AURESULT result = ReadFromStream(static_cast<u8*>(destination), n, outCount);
    m_uConsumed += outCount;
    return result;
}

AURESULT CAuBankReader::ReadExact(void* destination, u32 n) {
    u32 count = 0;
    const AURESULT result = Read(destination, n, count);
    if (result != AuResultSuccess) return result;
    return count == n ? AuResultSuccess : AuResultHeaderChunkTooShort;
}

AURESULT CAuBankReader::Skip(u32 n, u32& outCount) {
    outCount = 0;
    n = Bounded(n);
    if (!m_pStream) {
        const u32 count = std::min(n, m_uLeft);
        m_pMemory += count;
        m_uLeft -= count;
        m_uConsumed += count;
        outCount = count;
        return AuResultSuccess;
    }
    const AURESULT result = SkipInStream(n, outCount);
    m_uConsumed += outCount;
    return result;
}

const u8* CAuBankReader::GetData(u32 n, u32& outCount) {
    outCount = 0;
    ReleaseData();
    if (!m_pStream) {
        const u8* data = m_pMemory;
        Skip(n, outCount);
        return data;
    }
    if (Bounded(n) == n && m_uLeft >= n) {
        const u8* data = m_pBuffer + m_uBufferPos;
        m_uBufferPos += n;
        m_uLeft -= n;
        m_uConsumed += n;
        outCount = n;
        return data;
    }
    // The buffered rest is copied first; placing the data so that it ends on a 32-byte boundary
    // lets the block transfers that follow land aligned.
    // A view the file cannot fill is refused before a block is set aside for it.
    if (n == 0 || n > Available()) return nullptr;
    const u32 lead = m_uLeft % kBufferAlignment;
    const u64 size = u64{n} + (lead ? kBufferAlignment - 1 : 0);
    if (size > UINT32_MAX) return nullptr;
    u8* block =
        static_cast<u8*>(AU::MemoryMgr::Malign(g_DefaultPoolId, static_cast<u32>(size), kBufferAlignment));
    if (!block) return nullptr;
    u8* data = block + (lead ? kBufferAlignment - lead : 0);
    u32 count = 0;
    if (Read(data, n, count) != AuResultSuccess || count != n) {
        AU::MemoryMgr::Falign(g_DefaultPoolId, block);
        return nullptr;
    }
    m_pTempBlock = block;
    outCount = n;
    return data;
}

void CAuBankReader::ReleaseData() {
    if (m_pTempBlock) AU::MemoryMgr::Falign(g_DefaultPoolId, m_pTempBlock);
    m_pTempBlock = nullptr;
}

AURESULT CAuBankReader::Transfer(void* destination, u32 size, u32& outCount) {
    outCount = 0;
    const f32 deadline = m_fThroughput > 0.0f ? static_cast<f32>(size) / m_fThroughput : 0.0f;
    const AURESULT result = m_pStream->Read(destination, size, true, m_priority, deadline, outCount);
    if (result != AuResultSuccess) return result;
    return m_pStream->GetStatus() == AuStmStatusCompleted ? AuResultSuccess : AuResultFail;
}

AURESULT CAuBankReader::FillBuffer() {
    m_uBufferPos = 0;
    m_uLeft = 0;
    u32 count = 0;
    const AURESULT result = Transfer(m_pBuffer, (m_uBufferCapacity / m_uBlockSize) * m_uBlockSize, count);
    if (result == AuResultSuccess) m_uLeft = count;
    return result;
}

AURESULT CAuBankReader::ReadFromStream(u8* destination, u32 n, u32& outCount) {
    while (n > 0) {
        if (m_uLeft) {
            const u32 count = std::min(n, m_uLeft);
            memcpy(destination + outCount, m_pBuffer + m_uBufferPos, count);
            m_uBufferPos += count;
            m_uLeft -= count;
            outCount += count;
            n -= count;
        } else if (n < m_uBufferCapacity) {
            const AURESULT result = FillBuffer();
            if (result != AuResultSuccess) return result;
            if (m_uLeft == 0) return AuResultSuccess; // end of the file
        } else {
            // Large reads go straight to the destination, whole blocks at a time.
            const u32 size = (n / m_uBlockSize) * m_uBlockSize;
            u32 count = 0;
            const AURESULT result = Transfer(destination + outCount, size, count);
            outCount += count;
            n -= count;
            if (result != AuResultSuccess) return result;
            if (count < size) return AuResultFail; // the file ended inside a direct transfer
        }
    }
    return AuResultSuccess;
}

AURESULT CAuBankReader::SkipInStream(u32 n, u32& outCount) {
    const u32 buffered = std::min(n, m_uLeft);
    m_uBufferPos += buffered;
    m_uLeft -= buffered;
    outCount += buffered;
    n -= buffered;
    if (n > m_uBufferCapacity) {
        // Moved over without reading. The stream does not stop at the end of the file, so the
        // move is cut there and the end is then met by the buffered part below.
        AuStreamInfo info{};
        m_pStream->GetInfo(info);
        const u64 position = m_pStream->GetPosition(nullptr);
        const u64 room = info.uSize > position ? info.uSize - position : 0;
        const u64 move =
            std::min<u64>((n - m_uBufferCapacity) / m_uBlockSize, room / m_uBlockSize) * m_uBlockSize;
        if (move) {
            i64 moved = 0;
            const AURESULT result = m_pStream->SetPosition(static_cast<i64>(move), AuMoveCurrent, &moved);
            if (result != AuResultSuccess) return result;
            outCount += static_cast<u32>(moved);
            n -= static_cast<u32>(moved);
        }
    }
    while (n > 0) {
        const AURESULT result = FillBuffer();
        if (result != AuResultSuccess) return result;
        if (m_uLeft == 0) return AuResultFail;
        const u32 count = std::min(n, m_uLeft);
        m_uBufferPos += count;
        m_uLeft -= count;
        outCount += count;
        n -= count;
    }
    return AuResultSuccess;
}
