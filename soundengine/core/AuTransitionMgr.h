// Transitions: a value moved from a start to a target over a number of audio buffers along a
// curve, or by an exponential approach, delivered to its users once per audio frame. Everything
// here runs on the audio thread (or under g_csMain while no audio thread runs).
#pragma once

#include "memory/AuArray.h"

#include <AU/AuTypes.h>

// Receives a transition's values. [audio thread]
class IAuTransitionTarget {
public:
    virtual void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept = 0;

protected:
    ~IAuTransitionTarget() = default;
};

// The fade keys: play, stop, pause and resume fades (bits 24 to 27).
constexpr u32 AU_TRANSITION_KEY_FADE_PLAY = 0x1000000;
constexpr u32 AU_TRANSITION_KEY_FADE_STOP = 0x2000000;
constexpr u32 AU_TRANSITION_KEY_FADE_PAUSE = 0x4000000;
constexpr u32 AU_TRANSITION_KEY_FADE_RESUME = 0x8000000;
constexpr u32 AU_TRANSITION_KEY_FADE_GROUP = 0xF000000;
// Game-parameter ramps, and a record cleared for reuse.
constexpr u32 AU_TRANSITION_KEY_RTPC = 0x10000000;
constexpr u32 AU_TRANSITION_KEY_RESET = 0x20000000;

struct AuTransitionParams {
    IAuTransitionTarget* pTarget = nullptr;
    u32 uTargetKey = 0;
    f32 fStartValue = 0.0f;
    f32 fTargetValue = 0.0f;
    i32 lDurationMs = 0; // 0 or less: the target at the first frame
    AuCurveInterpolation eCurve = AuCurveInterpolation_Linear;
    bool bdBs = false;    // values in decibels: the run is linear, deliveries are in dB
    bool bMirror = false; // a falling run takes the mirrored curve
    bool bExponential = false;
    u32 uDelayFrames = 0; // frames before the run starts; nothing is delivered until then
};

enum AuTransitionState : u32 {
    AuTransitionState_Made = 0,
    AuTransitionState_Running = 1,
    AuTransitionState_PauseRequested = 2,
    AuTransitionState_Paused = 3,
    AuTransitionState_ResumeRequested = 4,
    AuTransitionState_ToRemove = 6,
};

class CAuTransition {
public:
    u32 TargetKey() const { return m_uTargetKey; }
    bool IsFadeTransition() const {
        return m_uTargetKey == AU_TRANSITION_KEY_FADE_PAUSE || m_uTargetKey == AU_TRANSITION_KEY_FADE_STOP;
    }
    // The last delivered value (dB in dB mode).
    f32 CurrentValue() const { return m_fCurrent; }
    // Linear in dB mode.
    f32 StartValue() const { return m_fStart; }
    f32 TargetValue() const { return m_fTarget; }
    u32 StartFrame() const { return m_uStartFrame; }
    u32 DurationBuffers() const { return m_uDuration; }
    f32 Elapsed() const { return m_fElapsed; }
    AuCurveInterpolation Curve() const { return m_eCurve; }
    AuTransitionState State() const { return m_eState; }
    u32 UserCount() const { return m_users.Count(); }

private:
    friend class CAuTransitionMgr;
    static constexpr u8 kFlagDbs = 1;
    static constexpr u8 kFlagUpdated = 2;
    static constexpr u8 kFlagExponential = 4;

    u32 m_uTargetKey = 0;
    f32 m_fStart = 0.0f;
    f32 m_fTarget = 0.0f;
    f32 m_fCurrent = 0.0f;
    // The exponential approach runs on linear values whatever the delivery.
    f32 m_fLinear = 0.0f;
    u32 m_uStartFrame = 0;
    u32 m_uDuration = 0;
    f32 m_fElapsed = 0.0f;
    u32 m_uPausedAt = 0;
    AuArray<IAuTransitionTarget*> m_users;
    AuCurveInterpolation m_eCurve = AuCurveInterpolation_Linear;
    AuTransitionState m_eState = AuTransitionState_Made;
    u8 m_flags = 0;
    f32 m_fRatio = 0.0f;
};

class CAuTransitionMgr {
public:
    static constexpr u32 kDefaultCapacity = 255;

    CAuTransitionMgr() = default;
    CAuTransitionMgr(const CAuTransitionMgr&) = delete;
    CAuTransitionMgr& operator=(const CAuTransitionMgr&) = delete;
    ~CAuTransitionMgr() { Term(); }

    // Room for `capacity` records in each pool (0 means 255); 52 without memory.
    AURESULT Init(u32 capacity);
    // Drives every record to its end (its users get the target with done), frees them and the pools.
    void Term();

    // The engine's output timing; 1024 frames per buffer and 21 ms buffers until it is set.
    void SetOutputTiming(u32 bufferMs, u32 framesPerBuffer);
    // Buffers for a time: rounded up, 0 for 0 ms or less.
    u32 DurationInBuffers(i32 ms) const;

    // Starts a transition at the current audio frame in pool 1 (`pool` 1) or pool 0 (any other).
    // A full pool first finishes and reuses its most advanced record. Null when no record can be
    // had: the target then gets the target value with done at once. [audio thread]
    CAuTransition* AddTransition(const AuTransitionParams& params, bool startNow, u32 pool = 0) noexcept;
    // 2 when already a user or out of memory, else 1. [audio thread]
    AURESULT AddTransitionUser(CAuTransition* transition, IAuTransitionTarget* user) noexcept;
    // 29 when not a user; without users the record is dropped at the next frame. [audio thread]
    AURESULT RemoveTransitionUser(CAuTransition* transition, IAuTransitionTarget* user) noexcept;
    // Moves a running record to a new target from where it is; mode 2 is relative to the old
    // target. Returns the new duration in buffers. [audio thread]
    u32 ChangeParameter(CAuTransition* transition, u32 targetKey, f32 value, i32 ms,
                        AuCurveInterpolation curve, u32 mode) noexcept;
    // Take effect at the next frame; a pause and a resume before it cancel out. [audio thread]
    void Pause(CAuTransition* transition) noexcept;
    void Resume(CAuTransition* transition) noexcept;

    // Once per audio frame, with the frame about to be rendered. [audio thread]
    void ProcessTransitionsList(u32 frame) noexcept;

    u32 Capacity() const { return m_uCapacity; }
    u32 Count(u32 pool) const { return m_pools[pool == 1].Count(); }
    // The frame of the last ProcessTransitionsList: the audio frame counter between passes.
    u32 CurrentFrame() const { return m_uNow; }

private:
    static bool Update(CAuTransition& record, u32 frame) noexcept;
    static void Finish(CAuTransition& record) noexcept;
    static void Destroy(CAuTransition* record) noexcept;
    static AuCurveInterpolation Mirrored(AuCurveInterpolation curve);

    u32 m_uCapacity = 0;
    AuArray<CAuTransition*> m_pools[2];
    u32 m_uBufferMs = 21;
    u32 m_uFramesPerBuffer = 1024;
    u32 m_uNow = 0;
};

// Made by the engine's initialisation; null before and after.
extern CAuTransitionMgr* g_pTransitionMgr;
