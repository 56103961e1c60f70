// A test whose lower engine takes its memory from the default pool, as after the engine's
// initialisation; the source tests make their instances here.
#pragma once

#include "voices/AuPlaybackInstance.h"

#include <AU/MemoryMgr.h>
#include <AuDefaultPoolTest.h>

#include <memory>

namespace voicetest {

class LowerEnginePoolTest : public AuDefaultPoolTest {
protected:
    using AuDefaultPoolTest::AuDefaultPoolTest;

    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = g_DefaultPoolId;
    }
    void TearDown() override {
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }

    // An instance of playing ID 1 that plays `loopCount` times (0: for ever).
    static std::unique_ptr<CAuPlaybackInstance> Instance(u16 loopCount) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        auto instance = std::make_unique<CAuPlaybackInstance>(params);
        instance->SetLoopCount(loopCount);
        return instance;
    }
};

} // namespace voicetest
