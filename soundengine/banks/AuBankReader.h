// Delivers a bank's bytes in order, from an image in memory or from a file read through the
// stream manager in large block-aligned transfers. Used by one request at a time.
#pragma once

#include <AU/AuTypes.h>

namespace AU {
class IAuStdStream;
}

class CAuBankReader {
public:
    // The read buffer is never smaller than this, whatever the stream's block size.
    static constexpr u32 kMinBufferSize = 32768;
    // Alignment of the read buffer and of GetData's temporary blocks.
    static constexpr u32 kBufferAlignment = 32;
    static constexpr f32 kDefaultThroughput = 1048.576f; // bytes per millisecond
    static constexpr u8 kDefaultPriority = 50;

    CAuBankReader() = default;
    CAuBankReader(const CAuBankReader&) = delete;
    CAuBankReader& operator=(const CAuBankReader&) = delete;
    ~CAuBankReader() { Term(); }

    // 2 when already initialised.
    AURESULT Init();
    // Closes the stream and frees the buffers.
    void Term();

    // 31 (settings unchanged) when the throughput is negative or the priority above 100.
    AURESULT SetBankLoadIOSettings(f32 throughput, u8 priority);
    f32 Throughput() const { return m_fThroughput; }
    u8 Priority() const { return m_priority; }

    // Opens the bank file through the stream manager and positions it at `offset`. A failed
    // language-specific open is tried again in the common location. The open's result as it is
    // (66: no such file); 2 when the stream has no block size or the offset cannot be reached.
    AURESULT OpenByID(u32 fileID, u32 offset, u32 codec, void* cookie, bool languageSpecific);
    // The same by an 8-bit name in the ANSI code page.
    AURESULT OpenByName(const char* name, u32 offset, void* cookie);
    // Reads from a bank image in memory; the image must outlive the reading.
    void SetMemory(const void* image, u32 size);
    // Empties the buffer; the next read starts a new bank.
    void Reset();
    // Destroys the stream and frees the read buffer; 1.
    AURESULT Close();

    // Up to n bytes; outCount < n at the end of the bank. A failed or short direct transfer is 2.
    AURESULT Read(void* destination, u32 n, u32& outCount);
    // 56 when fewer than n bytes come.
    AURESULT ReadExact(void* destination, u32 n);
    // 2 when the end of the file comes first; callers compare outCount with n as well.
    AURESULT Skip(u32 n, u32& outCount);
    // n contiguous bytes, valid until ReleaseData or the next read: in place for a bank in memory
    // (outCount = what was left, possibly fewer than n), inside the buffer, or in a temporary
    // block. Null (outCount 0) when a file comes up short or the block cannot be had.
    const u8* GetData(u32 n, u32& outCount);
    void ReleaseData();

    // Bounds every read, skip and view to the next n bytes (one chunk or record); bounds nest.
    // EndBounds takes what BeginBounds returned.
    u64 BeginBounds(u32 n);
    void EndBounds(u64 previousEnd);
    // Bytes left inside the current bounds.
    u64 BoundsLeft() const { return m_uBoundEnd - m_uConsumed; }
    // Bytes that can still come, within the bounds: a cap for counts read from the bank.
    u64 Available() const;
    // Bytes delivered or skipped since the bank was opened.
    u64 Consumed() const { return m_uConsumed; }

    u32 BufferCapacity() const { return m_uBufferCapacity; }
    bool IsStreamed() const { return m_pStream != nullptr; }

private:
    u32 Bounded(u32 n) const;
    AURESULT ReadFromStream(u8* destination, u32 n, u32& outCount);
    AURESULT SkipInStream(u32 n, u32& outCount);
    AURESULT FillBuffer();
    AURESULT Transfer(void* destination, u32 size, u32& outCount);
    AURESULT FinishOpen(u32 offset);

    u8* m_pBuffer = nullptr;
    u32 m_uBufferPos = 0;
    u32 m_uLeft = 0; // in the buffer, or in the memory image
    u32 m_uBufferCapacity = 0;
    u32 m_uBlockSize = 0;
    void* m_pTempBlock = nullptr;
    const u8* m_pMemory = nullptr;
    AU::IAuStdStream* m_pStream = nullptr;
    f32 m_fThroughput = kDefaultThroughput;
    u8 m_priority = kDefaultPriority;
    bool m_bInitialized = false;
    u64 m_uConsumed = 0;
    u64 m_uBoundEnd = UINT64_MAX;
};
