// The engine as the game starts it, reading the generated banks through the real stream manager
// with its own chunk readers; and the same engine with recording sinks in their place.
#pragma once

#include "BankFakes.h"
#include "banks/AuBankMgr.h"
#include <AU/AuDefaultIOHookBlocking.h>

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace banktest {

class EngineTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings memory{16};
        ASSERT_EQ(AU::MemoryMgr::Init(&memory), AuResultSuccess);
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
        const std::filesystem::path resources = std::filesystem::path(TORVIK_SOUNDBANKS_DIR).parent_path();
        ASSERT_EQ(m_io.SetBankPath(L"SoundBanks/"), AuResultSuccess);
        ASSERT_EQ(m_io.SetBasePath((resources.wstring() + L"/").c_str()), AuResultSuccess);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        ASSERT_EQ(m_io.Init(device), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
        m_pools = AU::MemoryMgr::GetNumPools();
        ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
        ASSERT_TRUE(g_pBankMgr->IsThreaded());
    }
    void TearDown() override {
        if (AU::SoundEngine::IsInitialized()) AU::SoundEngine::Term();
        m_io.Term();
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        AU::MemoryMgr::Term();
    }

    CAuDefaultIOHookBlocking m_io;
    i32 m_pools = 0;
};

class BankEngineTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (!HasFatalFailure()) g_pBankMgr->SetChunkSinks(&m_sinks, &m_sinks, &m_sinks);
    }

    RecordingSinks m_sinks;
};

} // namespace banktest
