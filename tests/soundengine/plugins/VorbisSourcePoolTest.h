// The pool fixture of the Vorbis decoder and source tests.
#pragma once

#include "../voices/LowerEnginePoolTest.h"
#include "plugins/AuVorbisDecoder.h"

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

namespace vorbistest {

// Decoders and sources allocate from the lower engine's pool, made the default pool here; every
// test must give back the set-up records it shared.
class SourcePoolTest : public voicetest::LowerEnginePoolTest {
protected:
    SourcePoolTest() : LowerEnginePoolTest(32u << 20) {}
    void TearDown() override {
        EXPECT_EQ(VorbisSetupCache::Count(), 0u);
        LowerEnginePoolTest::TearDown();
    }
};

} // namespace vorbistest
