// An RTPC manager over a transition manager of its own, as the engine's Init makes them.
#pragma once

#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

class RTPCMgrFixture : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(transitions.Init(0), AuResultSuccess);
        transitions.SetOutputTiming(21, 1024);
        g_pTransitionMgr = &transitions;
        ASSERT_EQ(mgr.Init(), AuResultSuccess);
    }
    void TearDown() override {
        mgr.Term();
        transitions.Term();
        g_pTransitionMgr = nullptr;
        AuDefaultPoolTest::TearDown();
    }
    // One audio frame: the transitions advance.
    void Frame() { transitions.ProcessTransitionsList(++frame); }

    CAuTransitionMgr transitions;
    CAuRTPCMgr mgr;
    u32 frame = 0;
};
