#include "core/AuTransitionMgr.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuParamCurve.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Delivery {
    u32 key;
    f32 value;
    bool done;
};

class RecordingUser : public IAuTransitionTarget {
public:
    void TransUpdateValue(u32 key, f32 value, bool done) noexcept override {
        got.push_back({key, value, done});
    }
    std::vector<Delivery> got;
};

// 1024 samples per frame at 48000 Hz: 21 ms buffers.
class TransitionMgrTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(mgr.Init(0), AuResultSuccess);
        mgr.SetOutputTiming(21, 1024);
    }
    void TearDown() override {
        mgr.Term();
        AuDefaultPoolTest::TearDown();
    }
    CAuTransition* Start(RecordingUser& user, f32 from, f32 to, i32 ms,
                         AuCurveInterpolation curve = AuCurveInterpolation_Linear, u32 key = 7) {
        AuTransitionParams params;
        params.pTarget = &user;
        params.uTargetKey = key;
        params.fStartValue = from;
        params.fTargetValue = to;
        params.lDurationMs = ms;
        params.eCurve = curve;
        return mgr.AddTransition(params, true);
    }
    // Runs frames until nothing is left, at most `limit`.
    u32 RunToEnd(u32 limit = 1000) {
        u32 frames = 0;
        while ((mgr.Count(0) || mgr.Count(1)) && frames < limit)
            mgr.ProcessTransitionsList(++frame), ++frames;
        return frames;
    }
    CAuTransitionMgr mgr;
    u32 frame = 0;
};

TEST_F(TransitionMgrTest, ZeroAndNegativeTimesGiveTheTargetAtTheFirstFrame) {
    for (i32 ms : {0, -100, -2147483647 - 1}) {
        RecordingUser user;
        CAuTransition* transition = Start(user, 0, 5, ms);
        ASSERT_NE(transition, nullptr);
        EXPECT_EQ(transition->DurationBuffers(), 0u) << ms;
        EXPECT_EQ(RunToEnd(), 1u) << ms;
        ASSERT_EQ(user.got.size(), 1u) << ms;
        EXPECT_EQ(user.got[0].value, 5.0f);
        EXPECT_TRUE(user.got[0].done);
    }
    EXPECT_EQ(mgr.DurationInBuffers(1), 1u);
    EXPECT_EQ(mgr.DurationInBuffers(21), 1u);
    EXPECT_EQ(mgr.DurationInBuffers(22), 2u);
    EXPECT_EQ(mgr.DurationInBuffers(2147483647), 102261127u);
}

TEST_F(TransitionMgrTest, ALinearFadeOf500MsLasts24BuffersOnItsCurve) {
    RecordingUser user;
    ASSERT_NE(Start(user, -96.3f, 0, 500, AuCurveInterpolation_EaseOutCubic), nullptr);
    EXPECT_EQ(RunToEnd(), 24u);
    ASSERT_EQ(user.got.size(), 24u);
    for (u32 i = 0; i < 23; ++i) {
        EXPECT_EQ(user.got[i].value,
                  AuInterpolateCurve(f32(i + 1) / 24, -96.3f, 0, AuCurveInterpolation_EaseOutCubic));
        EXPECT_FALSE(user.got[i].done);
        EXPECT_EQ(user.got[i].key, 7u);
    }
    EXPECT_EQ(user.got[23].value, 0.0f);
    EXPECT_TRUE(user.got[23].done);
}

TEST_F(TransitionMgrTest, ADelayedRunDeliversNothingUntilItsStart) {
    RecordingUser user;
    AuTransitionParams params;
    params.pTarget = &user;
    params.uTargetKey = 7;
    params.fTargetValue = 1.0f;
    params.lDurationMs = 42;
    params.uDelayFrames = 3;
    ASSERT_NE(mgr.AddTransition(params, true, 1), nullptr);
    for (u32 i = 0; i < 2; ++i)
        mgr.ProcessTransitionsList(++frame);
    EXPECT_TRUE(user.got.empty());
    // The start frame delivers the start value; two buffers later the target.
    EXPECT_EQ(RunToEnd(), 3u);
    ASSERT_EQ(user.got.size(), 3u);
    EXPECT_EQ(user.got[0].value, 0.0f);
    EXPECT_EQ(user.got[1].value, 0.5f);
    EXPECT_TRUE(user.got[2].done);
}

TEST_F(TransitionMgrTest, AHoldKeepsTheStartUntilTheEnd) {
    RecordingUser user;
    Start(user, 3, 9, 100, AuCurveInterpolation_Hold);
    RunToEnd();
    ASSERT_EQ(user.got.size(), 5u);
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(user.got[i].value, 3.0f);
    EXPECT_EQ(user.got[4].value, 9.0f);
}

TEST_F(TransitionMgrTest, AFullPoolReusesTheMostAdvancedRecordAfterDeliveringItsTarget) {
    ASSERT_EQ(mgr.Init(3), AuResultSuccess);
    RecordingUser users[4];
    Start(users[0], 0, 10, 1000);
    mgr.ProcessTransitionsList(++frame);
    Start(users[1], 0, 20, 100); // starts later but runs faster
    Start(users[2], 0, 30, 2000);
    mgr.ProcessTransitionsList(++frame);
    mgr.ProcessTransitionsList(++frame); // users[1] at 2/5, users[0] at 3/48
    for (RecordingUser& user : users)
        user.got.clear();
    CAuTransition* reused = Start(users[3], 1, 2, 100);
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(mgr.Count(0), 3u);
    ASSERT_EQ(users[1].got.size(), 1u);
    EXPECT_EQ(users[1].got[0].value, 20.0f);
    EXPECT_TRUE(users[1].got[0].done);
    EXPECT_TRUE(users[0].got.empty());
    EXPECT_TRUE(users[2].got.empty());
    mgr.ProcessTransitionsList(++frame);
    EXPECT_TRUE(users[1].got.size() == 1); // no longer a user of the reused record
    ASSERT_EQ(users[3].got.size(), 1u);
    EXPECT_FLOAT_EQ(users[3].got[0].value, 1.2f);
    // Pool 1 is separate.
    RecordingUser other;
    AuTransitionParams params{&other, 1, 0, 1, 100};
    ASSERT_NE(mgr.AddTransition(params, true, 1), nullptr);
    EXPECT_EQ(mgr.Count(1), 1u);
    EXPECT_TRUE(other.got.empty());
    mgr.Term(); // while the users live
}

TEST_F(TransitionMgrTest, WithoutRoomOrMemoryTheTargetComesAtOnce) {
    CAuTransitionMgr empty; // never initialised: no room at all
    RecordingUser user;
    AuTransitionParams params{&user, 5, 0, 8, 500};
    EXPECT_EQ(empty.AddTransition(params, true), nullptr);
    ASSERT_EQ(user.got.size(), 1u);
    EXPECT_EQ(user.got[0].key, 5u);
    EXPECT_EQ(user.got[0].value, 8.0f);
    EXPECT_TRUE(user.got[0].done);
}

TEST_F(TransitionMgrTest, FallingRunsMirrorTheirCurveExceptTheSymmetricOnes) {
    struct Case {
        AuCurveInterpolation asked;
        f32 from, to;
        AuCurveInterpolation run;
    };
    const Case cases[] = {
        {AuCurveInterpolation_EaseOutCubic, 1, 0, AuCurveInterpolation_EaseInCubic},
        {AuCurveInterpolation_EaseOutCubic, 0, 1, AuCurveInterpolation_EaseOutCubic},
        {AuCurveInterpolation_EaseOutSine, 1, 1, AuCurveInterpolation_EaseInSine}, // level counts as falling
        {AuCurveInterpolation_SteepMiddle, 1, 0, AuCurveInterpolation_SteepMiddle},
        {AuCurveInterpolation_SmoothS, 1, 0, AuCurveInterpolation_SmoothS},
        {AuCurveInterpolation_Hold, 1, 0, AuCurveInterpolation_Hold},
    };
    RecordingUser user;
    for (const Case& c : cases) {
        AuTransitionParams params{&user, 1, c.from, c.to, 500, c.asked, false, true};
        CAuTransition* transition = mgr.AddTransition(params, true);
        ASSERT_NE(transition, nullptr);
        EXPECT_EQ(transition->Curve(), c.run) << c.asked;
        params.bMirror = false;
        EXPECT_EQ(mgr.AddTransition(params, true)->Curve(), c.asked);
    }
    mgr.Term();
}

TEST_F(TransitionMgrTest, PausesShiftTheEndByTheirFrames) {
    RecordingUser quick, paused;
    CAuTransition* a = Start(quick, 0, 1, 100); // 5 buffers
    CAuTransition* b = Start(paused, 0, 1, 100);
    mgr.ProcessTransitionsList(++frame);
    mgr.Pause(a);
    mgr.Resume(a); // before the next frame: no shift
    mgr.Pause(b);
    for (int i = 0; i < 3; ++i)
        mgr.ProcessTransitionsList(++frame);
    mgr.Resume(b);
    EXPECT_EQ(b->State(), AuTransitionState_ResumeRequested);
    RunToEnd();
    EXPECT_EQ(quick.got.size(), 5u);
    EXPECT_TRUE(quick.got.back().done);
    // b: one frame before the pause, paused at frame 2 for three frames, then the other four.
    ASSERT_EQ(paused.got.size(), 5u);
    EXPECT_FLOAT_EQ(paused.got[1].value, 0.4f);
    EXPECT_TRUE(paused.got.back().done);
    EXPECT_EQ(frame, 8u);
    EXPECT_EQ(mgr.CurrentFrame(), frame);
}

TEST_F(TransitionMgrTest, RetargetingAFadeKeyKeepsTheShorterOfNewAndRemaining) {
    RecordingUser user;
    CAuTransition* fade =
        Start(user, 0, 1, 210, AuCurveInterpolation_Linear, AU_TRANSITION_KEY_FADE_STOP); // 10
    EXPECT_TRUE(fade->IsFadeTransition());
    for (int i = 0; i < 4; ++i)
        mgr.ProcessTransitionsList(++frame);
    EXPECT_EQ(mgr.ChangeParameter(fade, AU_TRANSITION_KEY_FADE_STOP, 0, 1000, AuCurveInterpolation_Linear, 0),
              48u);
    EXPECT_EQ(fade->DurationBuffers(), 6u); // what was left
    EXPECT_FLOAT_EQ(fade->StartValue(), 0.4f);
    EXPECT_EQ(mgr.ChangeParameter(fade, AU_TRANSITION_KEY_FADE_STOP, 1, 21, AuCurveInterpolation_Linear, 0),
              1u);
    EXPECT_EQ(fade->DurationBuffers(), 1u);
    // Another key: the new duration whole; relative mode adds to the old target.
    EXPECT_EQ(mgr.ChangeParameter(fade, 9, 2, 420, AuCurveInterpolation_EaseOutCubic, 2), 20u);
    EXPECT_EQ(fade->DurationBuffers(), 20u);
    EXPECT_FALSE(fade->IsFadeTransition());
    EXPECT_EQ(fade->TargetValue(), 3.0f);
    EXPECT_EQ(fade->Curve(), AuCurveInterpolation_EaseOutCubic);
    EXPECT_EQ(mgr.ChangeParameter(fade, 9, -1, -100, AuCurveInterpolation_EaseOutCubic, 0),
              0u); // falling, at once
    EXPECT_EQ(fade->Curve(), AuCurveInterpolation_EaseInCubic);
    user.got.clear();
    mgr.ProcessTransitionsList(++frame);
    ASSERT_EQ(user.got.size(), 1u);
    EXPECT_EQ(user.got[0].value, -1.0f);
    EXPECT_TRUE(user.got[0].done);
}

TEST_F(TransitionMgrTest, TheLastUsersRemovalEndsTheRecordAtTheNextFrame) {
    RecordingUser first, second;
    const u32 before = Used();
    CAuTransition* transition = Start(first, 0, 1, 500);
    EXPECT_EQ(mgr.AddTransitionUser(transition, &second), AuResultSuccess);
    EXPECT_EQ(mgr.AddTransitionUser(transition, &second), AuResultFail);
    mgr.ProcessTransitionsList(++frame);
    EXPECT_EQ(first.got.size(), 1u);
    EXPECT_EQ(second.got.size(), 1u);
    EXPECT_EQ(mgr.RemoveTransitionUser(transition, &first), AuResultSuccess);
    EXPECT_EQ(mgr.RemoveTransitionUser(transition, &first), AuResultNotTransitionUser);
    mgr.ProcessTransitionsList(++frame);
    EXPECT_EQ(second.got.size(), 2u);
    EXPECT_EQ(mgr.RemoveTransitionUser(transition, &second), AuResultSuccess);
    EXPECT_EQ(mgr.Count(0), 1u);
    mgr.ProcessTransitionsList(++frame);
    EXPECT_EQ(mgr.Count(0), 0u);
    EXPECT_EQ(second.got.size(), 2u);
    EXPECT_EQ(Used(), before); // the record and its users' array are freed
}

TEST_F(TransitionMgrTest, TermDeliversEveryTargetWithDone) {
    RecordingUser users[3];
    Start(users[0], 0, 4, 500);
    Start(users[1], 0, 5, 0);
    AuTransitionParams params{&users[2], 1, 10, 6, 1000};
    mgr.AddTransition(params, false, 1); // made, never started
    mgr.ProcessTransitionsList(++frame);
    mgr.Term();
    for (u32 i = 0; i < 3; ++i) {
        ASSERT_FALSE(users[i].got.empty());
        EXPECT_EQ(users[i].got.back().value, f32(4 + i));
        EXPECT_TRUE(users[i].got.back().done);
    }
    EXPECT_EQ(users[1].got.size(), 1u); // finished at the frame already
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(TransitionMgrTest, DecibelRunsAreLinearAndDeliverDecibels) {
    RecordingUser user;
    AuTransitionParams params{&user, 1, -96.3f, 0, 210, AuCurveInterpolation_Linear, true};
    CAuTransition* transition = mgr.AddTransition(params, true);
    EXPECT_EQ(transition->StartValue(), AuDbToLinear(-96.3f));
    RunToEnd();
    ASSERT_EQ(user.got.size(), 10u);
    const f32 middle =
        AuInterpolateCurve(0.5f, AuDbToLinear(-96.3f), AuDbToLinear(0), AuCurveInterpolation_Linear);
    EXPECT_EQ(user.got[4].value, AuFastLinearToDb(middle));
    EXPECT_NEAR(user.got[4].value, -6.0f, 0.1f);                         // half the gain
    EXPECT_EQ(user.got.back().value, AuFastLinearToDb(AuDbToLinear(0))); // the engine's own 0 dB
    EXPECT_NEAR(user.got.back().value, 0.0f, 0.03f);
}

TEST_F(TransitionMgrTest, ExponentialApproachStepsByItsRatio) {
    for (bool dBs : {false, true}) {
        RecordingUser user;
        AuTransitionParams params{
            &user, 1,   dBs ? 0.0f : 1.0f, dBs ? -96.3f : 0.0f, 500, AuCurveInterpolation_Linear, dBs,
            false, true};
        mgr.AddTransition(params, true);
        RunToEnd();
        ASSERT_EQ(user.got.size(), 24u);
        const f64 ratio = std::exp(-1024.0 / (500 * 0.2 * 0.001 * 48000));
        f64 linear = dBs ? AuDbToLinear(0) : 1.0;
        const f64 target = dBs ? AuDbToLinear(-96.3f) : 0.0;
        for (u32 i = 0; i < 23; ++i) {
            linear = (linear - target) * ratio + target;
            const f64 want = dBs ? 20 * std::log10(linear) : linear;
            EXPECT_NEAR(user.got[i].value, want, dBs ? 0.02 : 1e-5) << i;
        }
        EXPECT_TRUE(user.got.back().done);
    }
}

} // namespace
