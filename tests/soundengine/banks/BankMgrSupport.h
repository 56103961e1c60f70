// The bank managers under test: the plain or the threaded one, with an audio manager whose passes
// the unloads run themselves (no audio thread), recording sinks and a recording instance stopper.
#pragma once

#include "BankTestSupport.h"

#include "banks/AuThreadedBankMgr.h"
#include "core/AuAudioMgr.h"

#include <AU/SoundEngine.h>

#include <cstdlib>
#include <mutex>

namespace banktest {

// The callbacks one cookie received.
struct Completions {
    struct Call {
        u32 id;
        const void* memory;
        AURESULT result;
        AuMemPoolId pool;
    };
    std::mutex lock;
    std::vector<Call> calls;
    // Signalled after each call when set.
    HANDLE signal = nullptr;

    static void Record(u32 id, const void* memory, AURESULT result, AuMemPoolId pool, void* cookie) {
        auto* self = static_cast<Completions*>(cookie);
        {
            std::lock_guard guard(self->lock);
            self->calls.push_back(Call{id, memory, result, pool});
        }
        if (self->signal) SetEvent(self->signal);
    }
    std::vector<Call> Calls() {
        std::lock_guard guard(lock);
        return calls;
    }
};

class RecordingStopper : public IAuBankInstanceStopper {
public:
    std::vector<u32> stopped;
    std::vector<const u8*> stoppedData;
    void StopInstancesUsingData(const CAuLoadedBank& bank) noexcept override {
        stopped.push_back(bank.bankID);
        stoppedData.push_back(bank.pData);
    }
};

// A bank of media only: {media ID, size} each, the bytes a pattern of the seed and the ID.
inline Bytes MediaBank(u32 bankID, std::initializer_list<std::pair<u32, size_t>> media, u32 seed = 0) {
    bankgen::BankBuilder builder(bankID);
    for (const auto& [id, size] : media)
        builder.AddMedia(id, Pattern(size, seed + id));
    Bytes out;
    std::vector<std::string> errors;
    EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
    return out;
}

// A copy of an image at an address 16-byte aligned plus `misalign`.
class Image {
public:
    explicit Image(const Bytes& bytes, size_t misalign = 0) : m_storage(bytes.size() + 32) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(m_storage.data());
        m_pData = m_storage.data() + ((16 - base % 16) % 16) + misalign;
        // Byte by byte: a block copy here draws a false overflow warning from the optimiser.
        for (size_t i = 0; i < bytes.size(); ++i)
            m_pData[i] = bytes[i];
        m_uSize = static_cast<u32>(bytes.size());
    }
    const void* data() const { return m_pData; }
    u32 size() const { return m_uSize; }

private:
    std::vector<u8> m_storage;
    u8* m_pData;
    u32 m_uSize;
};

class BankMgrTest : public BankTest {
protected:
    // Builds the manager; the threaded one starts its thread.
    void Start(bool threaded, u32 ringBytes = 8192) {
        void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuAudioMgr));
        ASSERT_NE(block, nullptr);
        m_audio = new (block) CAuAudioMgr();
        ASSERT_EQ(m_audio->Init(ringBytes), AuResultSuccess);
        g_pAudioMgr = m_audio;
        if (threaded) {
            AuThreadProperties properties{0, 0, 32768};
            m_mgr = new CAuThreadedBankMgr(properties);
        } else {
            m_mgr = new CAuBankMgr();
        }
        m_mgr->SetChunkSinks(&m_sinks, &m_sinks, &m_sinks);
        m_mgr->SetInstanceStopper(&m_stopper);
        AuInstallBankMsgHandler(*m_audio, *m_mgr);
        g_pBankMgr = m_mgr;
        AuInstallBankManager(m_mgr);
        ASSERT_EQ(m_mgr->Init(), AuResultSuccess);
    }
    void Stop() {
        if (!m_mgr) return;
        AuInstallBankManager(nullptr);
        m_mgr->StopThread();
        m_mgr->Term();
        delete m_mgr;
        m_mgr = nullptr;
        g_pBankMgr = nullptr;
        if (m_audio) {
            m_audio->Term();
            m_audio->~CAuAudioMgr();
            AU::MemoryMgr::Free(g_DefaultPoolId, m_audio);
        }
        m_audio = nullptr;
        g_pAudioMgr = nullptr;
    }
    void TearDown() override {
        Stop();
        BankTest::TearDown();
    }
    CAuThreadedBankMgr& Threaded() { return *static_cast<CAuThreadedBankMgr*>(m_mgr); }
    // Every request queued so far has run (a synchronous request runs after them).
    void Flush() {
        // Releasing media ID 0, which nothing registers: a request without side effects.
        AuBankRequest request{};
        request.kind = AuBankRequest_ReleaseMedia;
        CAuBankMgr::SyncWait wait;
        ASSERT_EQ(m_mgr->MakeSyncWait(wait), AuResultSuccess);
        request.callback = &CAuBankMgr::SyncCallback;
        request.cookie = &wait;
        EXPECT_EQ(m_mgr->WaitSync(wait, m_mgr->QueueBankRequest(request)), AuResultSuccess);
    }
    static u32 NumPools() { return static_cast<u32>(AU::MemoryMgr::GetNumPools()); }

    RecordingSinks m_sinks;
    RecordingStopper m_stopper;
    CAuAudioMgr* m_audio = nullptr;
    CAuBankMgr* m_mgr = nullptr;
};

} // namespace banktest
