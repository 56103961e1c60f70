// What the action tests run against: the index, the parameter, transition and audio managers the
// actions reach, a bus that records what it is handed, and the step that runs an action as its
// pending action would.
#pragma once

#include "TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuBus.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace actiontest {

// A seek action's setting and the random draws its range takes.
struct SeekSetting {
    u16 type;
    bool percent;
    f32 base, min, max;
    std::vector<int> draws;

    void ScriptDraws() const {
        win32test::ResetRandScript();
        win32test::ScriptRand(draws.data(), draws.size());
    }
};

// A bus that can make itself a master bus, as a bus read with parent 0 does, and records its
// slots 17 and 18. With `passDown` it goes on to hand them to its children as a bus does.
class RecordingBus : public CAuBus {
public:
    static RecordingBus* Make(u32 id, bool master, bool passDown) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(RecordingBus));
        auto* bus = new (memory) RecordingBus(id, passDown);
        EXPECT_EQ(bus->Init(), AuResultSuccess);
        if (master) bus->BecomeMasterIfNone();
        return bus;
    }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        executed.push_back(exec);
        return m_passDown ? CAuBus::ExecuteAction(exec) : AuResultSuccess;
    }
    AURESULT ExecuteActionExcept(const AuActionExec& exec) override {
        excepted.push_back(exec);
        return m_passDown ? CAuBus::ExecuteActionExcept(exec) : AuResultSuccess;
    }
    std::vector<AuActionExec> executed;
    std::vector<AuActionExec> excepted;

private:
    RecordingBus(u32 id, bool passDown) : CAuBus(id), m_passDown(passDown) {}
    const bool m_passDown;
};

// The managers set up at 1024 samples a frame, and the objects a test makes released at its end.
// A fixture that holds more ends its own first, then calls TearDown here, which checks that no
// node, index entry or pool byte was left behind.
class ActionManagersTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
        SetOutputTiming(1024);
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        ASSERT_EQ(m_audio.Init(0), AuResultSuccess);
        g_pAudioMgr = &m_audio;
        CAuBus::ClearMasterBusses();
    }
    void TearDown() override {
        ReleaseOwned();
        CAuBus::ClearMasterBusses();
        EndAudio();
        EXPECT_EQ(nodetest::g_live.load(), 0);
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_transitions.Term();
        g_pTransitionMgr = nullptr;
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        m_index.Term();
        g_pIndex = nullptr;
        SetOutputTiming(AU_DEFAULT_SAMPLES_PER_FRAME);
        EXPECT_EQ(Used(), m_usedAtStart) << "something was left behind";
        AuDefaultPoolTest::TearDown();
    }

    // Terms the audio manager once: what is still queued drops its references.
    void EndAudio() {
        if (g_pAudioMgr == nullptr) return;
        m_audio.Term();
        g_pAudioMgr = nullptr;
    }
    void ReleaseOwned() {
        for (CAuIndexable* object : m_owned)
            object->Release();
        m_owned.clear();
    }
    template <class T> T* Own(T* object) {
        m_owned.push_back(object);
        return object;
    }

    // Runs the action as a pending action whose delay has run out would.
    // `filter`: the post's playing-ID filter, which the records carry (0 = any).
    AURESULT Run(CAuAction* action, CAuRegisteredObj* gameObj = nullptr, AuPlayingID playingID = 0,
                 AuPlayingID filter = 0) {
        AuCustomPlayParams params;
        params.playingID = playingID;
        CAuPendingAction* record = CAuPendingAction::Create(action, gameObj, params, filter);
        const AURESULT result = action->Execute(*record);
        CAuPendingAction::Destroy(record);
        return result;
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuTransitionMgr m_transitions;
    CAuAudioMgr m_audio;
    std::vector<CAuIndexable*> m_owned;
};

} // namespace actiontest
