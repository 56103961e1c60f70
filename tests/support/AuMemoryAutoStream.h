// An in-memory stream manager for the tests of streamed sources: it serves files held by the test
// as automatic streams that hand them out in buffers of chosen sizes, can run dry (46) or fail
// (2), and records what its callers asked for. Installed in AU::IAuStreamMgr::m_pStreamMgr for
// the lifetime of the object.
#pragma once

#include <AU/IAuStreamMgr.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace autostm {

class MemoryStreamMgr;

// Every buffer is a copy of exactly its bytes, so that a read past it is caught by the address
// sanitizer; the copies live until they are given back.
class MemoryAutoStream final : public AU::IAuAutoStream {
public:
    MemoryAutoStream(MemoryStreamMgr& owner, const std::vector<u8>& file,
                     const AuAutoStmHeuristics& heuristics)
        : m_owner(owner), m_file(file), m_heuristics(heuristics) {}

    void Destroy() override;
    void GetInfo(AuStreamInfo& info) override { info = {0, m_name.c_str(), m_file.size(), true}; }
    AuFileDescriptor* GetFileDescriptor() override { return nullptr; }
    void GetHeuristics(AuAutoStmHeuristics& heuristics) override { heuristics = m_heuristics; }
    AURESULT SetHeuristics(const AuAutoStmHeuristics& heuristics) override {
        if (heuristics.priority < 0 || heuristics.priority > 100) return AuResultInvalidParameter;
        m_heuristics = heuristics;
        ++heuristicsChanges;
        return AuResultSuccess;
    }
    AURESULT SetMinimalBufferSize(u32 size) override {
        minimalBufferSize = size;
        return AuResultSuccess;
    }
    AURESULT SetStreamName(const wchar_t* name) override {
        m_name = name ? name : L"";
        return AuResultSuccess;
    }
    u32 GetBlockSize() override { return 1; }
    AURESULT QueryBufferingStatus(u32& bytes) override {
        bytes = 0;
        if (error) return AuResultFail;
        if (dry) return AuResultNoDataReady;
        bytes = buffered >= 0 ? u32(buffered) : u32(AheadOfConsumer());
        if (AtEnd()) return AuResultNoMoreData;
        return bytes ? AuResultDataReady : AuResultNoDataReady;
    }
    u32 GetNominalBuffering() override { return nominal; }
    AURESULT Start() override {
        ++starts;
        running = true;
        return error ? AuResultFail : AuResultSuccess;
    }
    AURESULT Stop() override {
        ++stops;
        running = false;
        return AuResultSuccess;
    }
    u64 GetPosition(bool* end) override {
        if (end) *end = m_position >= m_file.size();
        return m_position;
    }
    AURESULT SetPosition(i64 offset, AuMoveMethod method, i64* real) override {
        const i64 base = method == AuMoveBegin     ? 0
                         : method == AuMoveCurrent ? i64(m_position)
                                                   : i64(m_file.size());
        if (method > AuMoveEnd || base + offset < 0) return AuResultInvalidParameter;
        if (failSetPosition) return AuResultFail;
        // The block rounding a real device does, when a test asks for it.
        m_position = u64(base + offset) / positionGranule * positionGranule;
        if (real) *real = i64(m_position) - base;
        positions.push_back(m_position);
        return AuResultSuccess;
    }
    AURESULT GetBuffer(void*& data, u32& size, bool) override {
        data = nullptr;
        size = 0;
        if (error) return AuResultFail;
        if (dry) return AuResultNoDataReady;
        const u64 end = ReadEnd();
        if (m_position >= end && Looping()) m_position = m_heuristics.uLoopStart;
        if (m_position >= m_file.size()) return AuResultNoMoreData;
        const u64 n = std::min<u64>(NextSize(), end - m_position);
        m_granted.emplace_back(m_file.begin() + i64(m_position), m_file.begin() + i64(m_position + n));
        m_position += n;
        data = m_granted.back().data();
        size = u32(n);
        ++buffersGiven;
        return AtEnd() ? AuResultNoMoreData : AuResultDataReady;
    }
    AURESULT ReleaseBuffer() override {
        if (m_granted.empty()) return AuResultFail;
        m_granted.pop_front();
        return AuResultSuccess;
    }

    u32 Granted() const { return u32(m_granted.size()); }
    const AuAutoStmHeuristics& Heuristics() const { return m_heuristics; }

    // Sizes of the buffers handed out, taken in turn (the last one repeats); empty: `sizeSource`.
    std::vector<u32> sizes{4096};
    std::function<u32()> sizeSource;
    bool dry = false;   // nothing held: 46
    bool error = false; // 2 from every read
    bool failSetPosition = false;
    i64 buffered = -1; // bytes reported held; -1: what is left of the file (or of its loop)
    u32 nominal = 0;
    u64 positionGranule = 1;
    u32 minimalBufferSize = 0;
    int heuristicsChanges = 0;
    int starts = 0;
    int stops = 0;
    int buffersGiven = 0;
    bool running = false;
    std::vector<u64> positions;

private:
    bool Looping() const { return m_heuristics.uLoopEnd != 0; }
    bool AtEnd() const { return !Looping() && m_position >= m_file.size(); }
    // As a device does, the loop end is cut to the file's size.
    u64 ReadEnd() const {
        return Looping() ? std::min<u64>(m_heuristics.uLoopEnd, m_file.size()) : m_file.size();
    }
    u64 AheadOfConsumer() const {
        const u64 end = ReadEnd();
        return m_position < end ? end - m_position : 0;
    }
    u32 NextSize() {
        if (sizeSource) return std::max<u32>(1, sizeSource());
        const u32 size = sizes[std::min<size_t>(m_next, sizes.size() - 1)];
        ++m_next;
        return std::max<u32>(1, size);
    }

    MemoryStreamMgr& m_owner;
    const std::vector<u8>& m_file;
    AuAutoStmHeuristics m_heuristics;
    std::wstring m_name;
    u64 m_position = 0;
    size_t m_next = 0;
    std::deque<std::vector<u8>> m_granted;
};

// One open request as the manager saw it.
struct AutoOpen {
    u32 fileID;
    std::wstring name; // empty for an open by ID
    AuFileOpenFlags flags;
    bool hadFlags;
    AuAutoStmHeuristics heuristics;
    AuAutoStmBufSettings bufferSettings;
    bool hadBufferSettings;
};

class MemoryStreamMgr final : public AU::IAuStreamMgr {
public:
    MemoryStreamMgr() : m_previous(m_pStreamMgr) { m_pStreamMgr = this; }
    ~MemoryStreamMgr() override { m_pStreamMgr = m_previous; }
    MemoryStreamMgr(const MemoryStreamMgr&) = delete;
    MemoryStreamMgr& operator=(const MemoryStreamMgr&) = delete;

    void AddFile(u32 fileID, std::vector<u8> bytes) { m_byID[fileID] = std::move(bytes); }
    void AddFile(const std::wstring& name, std::vector<u8> bytes) { m_byName[name] = std::move(bytes); }

    void Destroy() override {}
    void* GetStreamMgrProfile() override { return nullptr; }
    AURESULT CreateStd(u32, AuFileOpenFlags*, AuOpenMode, AU::IAuStdStream*& stream, bool) override {
        stream = nullptr;
        return AuResultFail;
    }
    AURESULT CreateStd(const wchar_t*, AuFileOpenFlags*, AuOpenMode, AU::IAuStdStream*& stream,
                       bool) override {
        stream = nullptr;
        return AuResultFail;
    }
    AURESULT CreateAuto(u32 fileID, AuFileOpenFlags* flags, const AuAutoStmHeuristics& heuristics,
                        AuAutoStmBufSettings* bufferSettings, AU::IAuAutoStream*& stream, bool) override {
        Record(fileID, L"", flags, heuristics, bufferSettings);
        const auto it = m_byID.find(fileID);
        return Open(it == m_byID.end() ? nullptr : &it->second, heuristics, stream);
    }
    AURESULT CreateAuto(const wchar_t* name, AuFileOpenFlags* flags, const AuAutoStmHeuristics& heuristics,
                        AuAutoStmBufSettings* bufferSettings, AU::IAuAutoStream*& stream, bool) override {
        stream = nullptr;
        if (!name) return AuResultInvalidParameter;
        Record(0, name, flags, heuristics, bufferSettings);
        const auto it = m_byName.find(name);
        return Open(it == m_byName.end() ? nullptr : &it->second, heuristics, stream);
    }

    // Called with each new stream before it is handed out, so that a test can shape it.
    std::function<void(MemoryAutoStream&)> onCreate;
    // Answered instead of a stream when not 1.
    AURESULT createResult = AuResultSuccess;
    std::vector<AutoOpen> opens;
    int destroyed = 0;
    MemoryAutoStream* last = nullptr; // the newest live stream

    u32 Live() const { return u32(m_streams.size()); }
    void Forget(MemoryAutoStream* stream) {
        ++destroyed;
        if (last == stream) last = nullptr;
        for (auto it = m_streams.begin(); it != m_streams.end(); ++it)
            if (it->get() == stream) {
                m_streams.erase(it);
                return;
            }
    }

private:
    void Record(u32 fileID, const std::wstring& name, AuFileOpenFlags* flags,
                const AuAutoStmHeuristics& heuristics, AuAutoStmBufSettings* bufferSettings) {
        opens.push_back({fileID, name, flags ? *flags : AuFileOpenFlags{}, flags != nullptr, heuristics,
                         bufferSettings ? *bufferSettings : AuAutoStmBufSettings{},
                         bufferSettings != nullptr});
        if (flags) flags->bIsAutomaticStream = true;
    }
    AURESULT Open(const std::vector<u8>* file, const AuAutoStmHeuristics& heuristics,
                  AU::IAuAutoStream*& stream) {
        stream = nullptr;
        if (createResult != AuResultSuccess) return createResult;
        if (!file) return AuResultFileNotFound;
        m_streams.push_back(std::make_unique<MemoryAutoStream>(*this, *file, heuristics));
        last = m_streams.back().get();
        if (onCreate) onCreate(*last);
        stream = last;
        return AuResultSuccess;
    }

    AU::IAuStreamMgr* m_previous;
    std::map<u32, std::vector<u8>> m_byID;
    std::map<std::wstring, std::vector<u8>> m_byName;
    std::vector<std::unique_ptr<MemoryAutoStream>> m_streams;
};

inline void MemoryAutoStream::Destroy() {
    m_owner.Forget(this);
}

// Buffer sizes drawn evenly from [lo, hi] by a seeded generator: the same seed, the same sizes.
inline std::function<u32()> RandomSizes(u32 seed, u32 lo, u32 hi) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine, lo, hi] { return std::uniform_int_distribution<u32>(lo, hi)(*engine); };
}

} // namespace autostm
