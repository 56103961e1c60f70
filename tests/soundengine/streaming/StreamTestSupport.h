// Shared pieces of the streaming tests: the engine set-up, files made at run time, and an
// in-memory blocking hook that counts, fails, cuts and holds transfers on request.
#pragma once

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>
#include <win32_testing.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

namespace streamtest {

// A byte pattern that does not repeat at any power of two, so a misplaced block shows.
inline std::vector<u8> Pattern(size_t size, u32 seed = 0) {
    std::vector<u8> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<u8>((i * 131 + i / 251 + seed * 17) & 0xFF);
    return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<u8>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<u8> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::wstring Wide(const std::filesystem::path& path) {
    return path.wstring();
}

// A fresh folder per test under the test temporary folder.
inline std::filesystem::path FreshFolder() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "torvik_streaming" /
                                   (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::string CurrentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

// Spins until `count` threads are blocked in the platform's waits (stream waits, joins).
inline void WaitForBlockedWaiters(size_t count) {
    while (win32test::BlockedWaiterCount() < count)
        std::this_thread::yield();
}

inline AuDeviceSettings DeviceSettings(u32 ioMemory = 0, u32 granularity = 16384) {
    AuDeviceSettings settings;
    AU::StreamMgr::GetDefaultDeviceSettings(settings);
    settings.uIOMemorySize = ioMemory;
    settings.uGranularity = granularity;
    return settings;
}

// Memory manager and stream manager for one test.
class StreamingTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings memory{8};
        ASSERT_EQ(AU::MemoryMgr::Init(&memory), AuResultSuccess);
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        settings.uMemorySize = PoolSize();
        m_pStreamMgr = AU::StreamMgr::Create(settings);
        ASSERT_NE(m_pStreamMgr, nullptr);
    }
    void TearDown() override {
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        AU::MemoryMgr::Term();
    }
    virtual u32 PoolSize() const { return 1024 * 1024; }

    AU::IAuStreamMgr* m_pStreamMgr = nullptr;
};

// Files live in memory under their ids; names resolve to ids through a table. Every call is
// recorded. A transfer can be held inside the hook until the test lets it go.
class FakeIO : public AU::StreamMgr::IAuIOHookBlocking, public AU::StreamMgr::IAuFileLocationResolver {
public:
    struct Call {
        u32 fileID;
        u64 position;
        u32 size;
        std::string thread;
    };

    u32 deviceID = AU_INVALID_DEVICE_ID;
    u32 blockSize = 1;
    bool deferOpens = false;
    // Runs on the I/O thread at the start of every transfer, outside the fake's own lock.
    std::function<void()> onTransfer;

    void AddFile(u32 id, std::vector<u8> bytes) {
        std::lock_guard guard(m_lock);
        m_files[id] = std::move(bytes);
    }
    void FailReadsOf(u32 id) {
        std::lock_guard guard(m_lock);
        m_failing = id;
    }
    // The next transfer stops inside the hook until Release.
    void HoldNextTransfer() {
        std::lock_guard guard(m_lock);
        m_holdNext = true;
    }
    void WaitUntilHeld() {
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [this] { return m_held; });
    }
    void Release() {
        std::lock_guard guard(m_lock);
        m_release = true;
        m_changed.notify_all();
    }
    std::vector<Call> Transfers() {
        std::lock_guard guard(m_lock);
        return m_transfers;
    }
    int OpenCount() {
        std::lock_guard guard(m_lock);
        return m_opens;
    }
    int CloseCount() {
        std::lock_guard guard(m_lock);
        return m_closes;
    }
    const std::vector<u8>& Contents(u32 id) {
        std::lock_guard guard(m_lock);
        return m_files[id];
    }

    AURESULT Open(u32 fileID, AuOpenMode, AuFileOpenFlags*, bool& syncOpen, AuFileDescriptor& file) override {
        std::lock_guard guard(m_lock);
        file.deviceID = deviceID;
        if (!syncOpen && deferOpens) {
            file.iFileSize = 0;
            file.hFile = nullptr;
            return AuResultSuccess;
        }
        auto found = m_files.find(fileID);
        if (found == m_files.end()) return AuResultFileNotFound;
        syncOpen = true;
        ++m_opens;
        file.iFileSize = static_cast<i64>(found->second.size());
        file.hFile = reinterpret_cast<AuFileHandle>(uintptr_t{fileID} + 1);
        return AuResultSuccess;
    }
    AURESULT Open(const wchar_t* fileName, AuOpenMode mode, AuFileOpenFlags* flags, bool& syncOpen,
                  AuFileDescriptor& file) override {
        return Open(static_cast<u32>(wcstoul(fileName, nullptr, 10)), mode, flags, syncOpen, file);
    }
    AURESULT Close(AuFileDescriptor&) override {
        std::lock_guard guard(m_lock);
        ++m_closes;
        return AuResultSuccess;
    }
    u32 GetBlockSize(AuFileDescriptor&) override { return blockSize; }
    u32 GetDeviceData() override { return deferOpens; }
    AURESULT Read(AuFileDescriptor& file, const AuIoHeuristics&, void* buffer,
                  AuTransferInfo& transfer) override {
        return Transfer(file, buffer, transfer, false);
    }
    AURESULT Write(AuFileDescriptor& file, const AuIoHeuristics&, void* buffer,
                   AuTransferInfo& transfer) override {
        return Transfer(file, buffer, transfer, true);
    }

private:
    AURESULT Transfer(AuFileDescriptor& file, void* buffer, AuTransferInfo& transfer, bool write) {
        if (onTransfer) onTransfer();
        std::unique_lock guard(m_lock);
        const u32 id = static_cast<u32>(reinterpret_cast<uintptr_t>(file.hFile) - 1);
        m_transfers.push_back({id, transfer.uFilePosition, transfer.uRequestedSize, CurrentThreadName()});
        if (m_holdNext) {
            m_holdNext = false;
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(guard, [this] { return m_release; });
            m_held = false;
            m_release = false;
        }
        if (id == m_failing) return AuResultFail;
        std::vector<u8>& bytes = m_files[id];
        if (write) {
            if (bytes.size() < transfer.uFilePosition + transfer.uRequestedSize)
                bytes.resize(transfer.uFilePosition + transfer.uRequestedSize);
            memcpy(bytes.data() + transfer.uFilePosition, buffer, transfer.uRequestedSize);
        } else {
            if (transfer.uFilePosition + transfer.uRequestedSize > bytes.size()) return AuResultFail;
            memcpy(buffer, bytes.data() + transfer.uFilePosition, transfer.uRequestedSize);
        }
        return AuResultSuccess;
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<u32, std::vector<u8>> m_files;
    std::vector<Call> m_transfers;
    u32 m_failing = AU_INVALID_DEVICE_ID;
    bool m_holdNext = false;
    bool m_held = false;
    bool m_release = false;
    int m_opens = 0;
    int m_closes = 0;
};

} // namespace streamtest
