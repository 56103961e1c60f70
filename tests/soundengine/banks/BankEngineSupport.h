// The engine as the game starts it, reading the generated banks through the real stream manager
// with its own chunk readers; and the same engine with recording sinks in their place.
#pragma once

#include "BankFakes.h"
#include "banks/AuBankMgr.h"

#include <AU/MemoryMgr.h>
#include <AuEngineStarter.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace banktest {

class EngineTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(16));
        const std::filesystem::path resources = std::filesystem::path(TORVIK_SOUNDBANKS_DIR).parent_path();
        ASSERT_NO_FATAL_FAILURE(
            m_engine.OpenFolder(resources, AuEngineStarter::DefaultDevice(), L"SoundBanks/"));
        m_pools = AU::MemoryMgr::GetNumPools();
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartEngine());
        ASSERT_TRUE(g_pBankMgr->IsThreaded());
    }
    void TearDown() override { m_engine.Stop(); }

    AuEngineStarter m_engine;
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
