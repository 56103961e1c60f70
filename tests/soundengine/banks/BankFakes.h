// Fakes shared by the bank tests and the chunk-loop fuzz target: sinks that record every call as
// a line of text, and an in-memory stream manager whose streams behave like standard streams
// (whole blocks per read, cut at the end of the file, positions rounded down to a block).
#pragma once

#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"

#include <AU/IAuStreamMgr.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace banktest {

// FNV-1a over bytes: records name payloads by content without copying them.
inline u32 Digest(const u8* data, size_t size) {
    u32 hash = 0x811C9DC5u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 0x01000193u;
    return hash;
}

template <class... Args> std::string Line(const char* format, Args... args) {
    char text[256];
    snprintf(text, sizeof(text), format, args...);
    return text;
}

class RecordingSinks : public IAuBankSettingsSink,
                       public IAuCurveTableSink,
                       public IAuBankMediaSink,
                       public IAuHierarchySink {
public:
    std::vector<std::string> calls;

    // Failure injection.
    bool stateGroupsFail = false;
    bool curveTableReady = true;
    bool dataBlocksFail = false;
    bool extensionReader = false;
    AURESULT extensionResult = AuResultSuccess;
    AURESULT recordResult = AuResultSuccess;
    // Whether PrepareMedia reads every indexed media through the reader.
    bool prepareReadsMedia = true;

    const u8* registeredBlock = nullptr;

    AuBankChunkSinks Sinks(CAuBankFileNames* names) {
        return AuBankChunkSinks{this, this, this, this, names};
    }

    void SetVolumeThreshold(f32 thresholdDb, u32 priority) override {
        calls.push_back(Line("threshold %g priority %u", thresholdDb, priority));
    }
    void SetMaxNumVoices(u16 maxVoices, u32 priority) override {
        calls.push_back(Line("voices %u priority %u", maxVoices, priority));
    }
    bool AddStateGroup(u32 groupID) override {
        calls.push_back(Line("state group %08X", groupID));
        return !stateGroupsFail;
    }
    void SetDefaultTransitionTime(u32 groupID, u32 ms) override {
        calls.push_back(Line("default transition %08X %u", groupID, ms));
    }
    void AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms) override {
        calls.push_back(Line("transition %08X %08X->%08X %u", groupID, fromState, toState, ms));
    }
    AURESULT AddSwitchRTPC(u32 switchGroupID, u32 gameParameterID, u8 drivingType,
                           const AuBankSwitchPoint* points, u32 count) override {
        std::string line =
            Line("switch %08X by %08X kind %u points %u", switchGroupID, gameParameterID, drivingType, count);
        for (u32 i = 0; i < count; ++i)
            line += Line(" (%g %08X %u)", points[i].gameParameterValue, points[i].switchID,
                         points[i].interpolation);
        calls.push_back(line);
        return AuResultSuccess;
    }
    void SetGameParameter(u32 gameParameterID, f32 defaultValue, u32 rampKind, f32 rampUp,
                          f32 rampDown) override {
        calls.push_back(Line("game parameter %08X default %g ramp %u %g %g", gameParameterID, defaultValue,
                             rampKind, rampUp, rampDown));
    }
    AURESULT AddBuiltInParamBinding(u32 gameParameterID, u8 kind) override {
        calls.push_back(Line("binding %08X kind %u", gameParameterID, kind));
        return AuResultSuccess;
    }

    bool IsReady() override { return curveTableReady; }
    void SetCurve(u32 group, u32 output, bool enabled, u8 scaling, const AuBankCurvePoint* points,
                  u32 count) override {
        std::string line =
            Line("curve %u.%u enabled %d scaling %u points %u", group, output, enabled, scaling, count);
        for (u32 i = 0; i < count; ++i)
            line += Line(" (%g %g %u)", points[i].x, points[i].y, points[i].interpolation);
        calls.push_back(line);
    }

    void* AllocateDataBlock(u32 size) override {
        calls.push_back(Line("data block %u", size));
        if (dataBlocksFail) return nullptr;
        blocks.push_back(std::make_unique<u8[]>(size));
        return blocks.back().get();
    }
    AURESULT RegisterMedia(const AuMediaIndexEntry* entries, u32 count, const u8* block, u32 size) override {
        registeredBlock = block;
        calls.push_back(Line("register %u media in %u bytes", count, size));
        for (u32 i = 0; i < count; ++i)
            if (entries[i].mediaID != 0)
                calls.push_back(Line("  media %08X at %u size %u digest %08X", entries[i].mediaID,
                                     entries[i].uOffset, entries[i].uSize,
                                     Digest(block + entries[i].uOffset, entries[i].uSize)));
        return AuResultSuccess;
    }
    AURESULT PrepareMedia(CAuBankReader& reader, const AuMediaIndexEntry* entries, u32 count,
                          u32 size) override {
        calls.push_back(Line("prepare %u media in %u bytes", count, size));
        if (!prepareReadsMedia) return AuResultSuccess;
        u64 at = 0;
        for (u32 i = 0; i < count; ++i) {
            if (entries[i].uOffset < at) return AuResultFail; // this fake reads in file order only
            u32 got = 0;
            reader.Skip(static_cast<u32>(entries[i].uOffset - at), got);
            if (entries[i].uSize > reader.BoundsLeft()) return AuResultFail;
            std::vector<u8> copy(entries[i].uSize);
            if (reader.Read(copy.data(), entries[i].uSize, got) != AuResultSuccess || got != entries[i].uSize)
                return AuResultFail;
            at = u64{entries[i].uOffset} + entries[i].uSize;
            calls.push_back(
                Line("  copy %08X digest %08X", entries[i].mediaID, Digest(copy.data(), copy.size())));
        }
        return AuResultSuccess;
    }

    AURESULT BeginHierarchy(u32 recordCount) override {
        calls.push_back(Line("hierarchy %u records", recordCount));
        return AuResultSuccess;
    }
    AURESULT LoadRecord(u8 type, const u8* payload, u32 size) override {
        u32 id;
        memcpy(&id, payload, sizeof(id));
        calls.push_back(
            Line("record type %u id %08X size %u digest %08X", type, id, size, Digest(payload, size)));
        return recordResult;
    }
    bool HasExtensionReader() override { return extensionReader; }
    AURESULT ReadExtensionRecord(u8 type, u32 size, CAuBankReader& reader) override {
        calls.push_back(Line("extension type %u size %u", type, size));
        if (extensionResult == AuResultSuccess) {
            std::vector<u8> payload(reader.BoundsLeft());
            u32 got = 0;
            reader.Read(payload.data(), size, got);
            calls.push_back(Line("  read %u", got));
        }
        return extensionResult;
    }

private:
    std::vector<std::unique_ptr<u8[]>> blocks;
};

// One file in memory read like a standard stream. Counts its transfers.
class FakeStream : public AU::IAuStdStream {
public:
    FakeStream(const std::vector<u8>& file, u32 blockSize, std::vector<std::string>* log)
        : m_file(file), m_uBlockSize(blockSize), m_log(log) {}

    void Destroy() override {
        if (m_log) m_log->push_back("destroy");
        delete this;
    }
    void GetInfo(AuStreamInfo& info) override { info = AuStreamInfo{0, nullptr, m_file.size(), true}; }
    AuFileDescriptor* GetFileDescriptor() override { return nullptr; }
    AURESULT SetStreamName(const wchar_t*) override { return AuResultSuccess; }
    u32 GetBlockSize() override { return m_uBlockSize; }
    AURESULT Read(void* buffer, u32 size, bool, u8 priority, f32 deadline, u32& outSize) override {
        outSize = 0;
        if (m_uBlockSize == 0 || size % m_uBlockSize != 0 || priority > 100 || !(deadline >= 0.0f))
            return AuResultFail;
        if (m_log)
            m_log->push_back(Line("read %llu %u priority %u", static_cast<unsigned long long>(m_uPosition),
                                  size, priority));
        const u64 left = m_uPosition < m_file.size() ? m_file.size() - m_uPosition : 0;
        outSize = static_cast<u32>(left < size ? left : size);
        if (outSize) memcpy(buffer, m_file.data() + m_uPosition, outSize);
        m_uPosition += outSize;
        m_bEndOfFile = outSize < size;
        m_status = AuStmStatusCompleted;
        return AuResultSuccess;
    }
    AURESULT Write(void*, u32, bool, u8, f32, u32& outSize) override {
        outSize = 0;
        return AuResultFail;
    }
    u64 GetPosition(bool* endOfFile) override {
        if (endOfFile) *endOfFile = m_bEndOfFile;
        return m_uPosition;
    }
    AURESULT SetPosition(i64 moveOffset, AuMoveMethod moveMethod, i64* realOffset) override {
        const i64 base = moveMethod == AuMoveCurrent ? static_cast<i64>(m_uPosition)
                         : moveMethod == AuMoveEnd   ? static_cast<i64>(m_file.size())
                                                     : 0;
        i64 position = base + moveOffset;
        if (position < 0) return AuResultInvalidParameter;
        position -= position % m_uBlockSize;
        if (m_log) m_log->push_back(Line("seek %lld", static_cast<long long>(position)));
        m_uPosition = static_cast<u64>(position);
        if (realOffset) *realOffset = position - base;
        return AuResultSuccess;
    }
    void Cancel() override {}
    void* GetData(u32& size) override {
        size = 0;
        return nullptr;
    }
    AuStmStatus GetStatus() override { return m_status; }

private:
    ~FakeStream() override = default;

    std::vector<u8> m_file;
    u32 m_uBlockSize;
    std::vector<std::string>* m_log;
    u64 m_uPosition = 0;
    bool m_bEndOfFile = false;
    AuStmStatus m_status = AuStmStatusIdle;
};

// Serves one file under every ID and name; records each open's flags. Installs itself as the
// engine's stream manager for its lifetime.
class FakeStreamMgr : public AU::IAuStreamMgr {
public:
    std::vector<u8> file;
    u32 blockSize = 1;
    // Opens of language-specific files fail with 66 (the file lies in the common folder).
    bool onlyCommon = false;
    // Every open fails with 66.
    bool missing = false;
    std::vector<std::string> log;

    FakeStreamMgr() { AU::IAuStreamMgr::m_pStreamMgr = this; }
    ~FakeStreamMgr() override { AU::IAuStreamMgr::m_pStreamMgr = nullptr; }

    void Destroy() override {}
    void* GetStreamMgrProfile() override { return nullptr; }
    AURESULT CreateStd(u32 fileID, AuFileOpenFlags* flags, AuOpenMode openMode, AU::IAuStdStream*& stream,
                       bool syncOpen) override {
        log.push_back(Line("open id %u", fileID) + Flags(flags, openMode, syncOpen));
        return Open(flags, stream);
    }
    AURESULT CreateStd(const wchar_t* fileName, AuFileOpenFlags* flags, AuOpenMode openMode,
                       AU::IAuStdStream*& stream, bool syncOpen) override {
        std::string narrow;
        for (const wchar_t* c = fileName; *c; ++c)
            narrow += static_cast<char>(*c);
        log.push_back("open name " + narrow + Flags(flags, openMode, syncOpen));
        return Open(flags, stream);
    }
    // Banks are read through standard streams only.
    AURESULT CreateAuto(u32, AuFileOpenFlags*, const AuAutoStmHeuristics&, AuAutoStmBufSettings*,
                        AU::IAuAutoStream*& stream, bool) override {
        stream = nullptr;
        return AuResultFail;
    }
    AURESULT CreateAuto(const wchar_t*, AuFileOpenFlags*, const AuAutoStmHeuristics&, AuAutoStmBufSettings*,
                        AU::IAuAutoStream*& stream, bool) override {
        stream = nullptr;
        return AuResultFail;
    }

private:
    static std::string Flags(const AuFileOpenFlags* flags, AuOpenMode openMode, bool syncOpen) {
        return Line(" flags {%u %u %u %p %d %d %08X} mode %u sync %d", flags->uOrigin, flags->uFileType,
                    flags->uCustomParamSize, flags->pCustomParam, flags->bIsLanguageSpecific,
                    flags->bReserved, flags->uCacheID, openMode, syncOpen);
    }
    AURESULT Open(const AuFileOpenFlags* flags, AU::IAuStdStream*& stream) {
        stream = nullptr;
        if (missing || (onlyCommon && flags->bIsLanguageSpecific)) return AuResultFileNotFound;
        stream = new FakeStream(file, blockSize, &log);
        return AuResultSuccess;
    }
};

} // namespace banktest
