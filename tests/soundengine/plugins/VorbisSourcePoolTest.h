// The pool fixture of the Vorbis source tests.
#pragma once

#include "plugins/AuVorbisDecoder.h"

#include <AU/MemoryMgr.h>
#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

namespace vorbistest {

// Sources allocate from the lower engine's pool, made the default pool here; every test must give
// back the set-up records it shared.
class SourcePoolTest : public AuDefaultPoolTest {
protected:
    SourcePoolTest() : AuDefaultPoolTest(32u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = g_DefaultPoolId;
    }
    void TearDown() override {
        EXPECT_EQ(VorbisSetupCache::Count(), 0u);
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
};

} // namespace vorbistest
