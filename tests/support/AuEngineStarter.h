// The real engine started as the game starts it: the memory manager, the stream manager, the
// blocking I/O hook over a folder, then the engine; Stop undoes what was started, newest first.
// The stages stand alone, so that a test can start the engine itself or put a fault between them.
// A stage's failed check stops only that stage: callers wrap it in ASSERT_NO_FATAL_FAILURE.
#pragma once

#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

#include <gtest/gtest.h>

#include <filesystem>

class AuEngineStarter {
public:
    // The memory manager with room for `pools` pools, and the stream manager with its defaults.
    static void StartMemoryAndStreams(u32 pools) {
        const AuMemoryMgrSettings memory{pools};
        ASSERT_EQ(AU::MemoryMgr::Init(&memory), AuResultSuccess);
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
    }
    static void StopMemoryAndStreams() {
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        AU::MemoryMgr::Term();
    }

    static AuDeviceSettings DefaultDevice() {
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        return device;
    }
    // The stream manager finds its files below `base`, banks below `base`/`bankPath` when given.
    void OpenFolder(const std::filesystem::path& base, const AuDeviceSettings& device = DefaultDevice(),
                    const wchar_t* bankPath = nullptr) {
        if (bankPath) {
            ASSERT_EQ(m_io.SetBankPath(bankPath), AuResultSuccess);
        }
        ASSERT_EQ(m_io.SetBasePath((base.wstring() + L"/").c_str()), AuResultSuccess);
        ASSERT_EQ(m_io.Init(device), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
    }

    // With `settings` when given, else the engine's defaults.
    static void StartEngine(AuInitSettings* settings = nullptr) {
        ASSERT_EQ(AU::SoundEngine::Init(settings, nullptr), AuResultSuccess);
    }

    // Every stage, over the folder `base`.
    void Start(u32 pools, const std::filesystem::path& base, const AuDeviceSettings& device = DefaultDevice(),
               AuInitSettings* settings = nullptr) {
        ASSERT_NO_FATAL_FAILURE(StartMemoryAndStreams(pools));
        ASSERT_NO_FATAL_FAILURE(OpenFolder(base, device));
        StartEngine(settings);
    }
    // A stage that was never reached, or that the test ended itself, is passed over.
    void Stop() {
        if (AU::SoundEngine::IsInitialized()) AU::SoundEngine::Term();
        m_io.Term();
        StopMemoryAndStreams();
    }

private:
    CAuDefaultIOHookBlocking m_io;
};
