#include "core/AuTransitionMgr.h"

#include "parameters/AuFastMath.h"
#include "parameters/AuParamCurve.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <new>

CAuTransitionMgr* g_pTransitionMgr = nullptr;

namespace {

constexpr u32 kUsersGrowth = 8;

bool IsSymmetric(AuCurveInterpolation curve) {
    return curve == AuCurveInterpolation_SteepMiddle || curve == AuCurveInterpolation_SmoothS;
}

} // namespace

AuCurveInterpolation CAuTransitionMgr::Mirrored(AuCurveInterpolation curve) {
    // Hold and unknown shapes have no mirror image.
    if (IsSymmetric(curve) || curve > AuCurveInterpolation_EaseInCubic) return curve;
    return AuCurveInterpolation(AuCurveInterpolation_EaseInCubic - curve);
}

AURESULT CAuTransitionMgr::Init(u32 capacity) {
    Term();
    m_uCapacity = capacity ? capacity : kDefaultCapacity;
    if (!m_pools[0].Grow(m_uCapacity) || !m_pools[1].Grow(m_uCapacity)) {
        m_pools[0].Term();
        m_pools[1].Term();
        m_uCapacity = 0;
        return AuResultNoMemory;
    }
    return AuResultSuccess;
}

void CAuTransitionMgr::Term() {
    for (AuArray<CAuTransition*>& pool : m_pools) {
        for (CAuTransition* record : pool) {
            Finish(*record);
            Destroy(record);
        }
        pool.Term();
    }
    m_uCapacity = 0;
}

void CAuTransitionMgr::SetOutputTiming(u32 bufferMs, u32 framesPerBuffer) {
    m_uBufferMs = bufferMs ? bufferMs : 1;
    m_uFramesPerBuffer = framesPerBuffer;
}

u32 CAuTransitionMgr::DurationInBuffers(i32 ms) const {
    // A time of 0 or less is immediate: (ms - 1 + buffer) / buffer would go negative for it and
    // wrap to billions of buffers once unsigned.
    if (ms <= 0) return 0;
    return u32((i64{ms} - 1 + m_uBufferMs) / m_uBufferMs);
}

void CAuTransitionMgr::Destroy(CAuTransition* record) noexcept {
    record->~CAuTransition();
    AU::MemoryMgr::Free(g_DefaultPoolId, record);
}

void CAuTransitionMgr::Finish(CAuTransition& record) noexcept {
    Update(record, record.m_uStartFrame + record.m_uDuration);
}

bool CAuTransitionMgr::Update(CAuTransition& record, u32 frame) noexcept {
    // A delayed record waits for its start; otherwise frames never run behind a record's start.
    if (i32(frame - record.m_uStartFrame) < 0) return false;
    const bool done = frame - record.m_uStartFrame >= record.m_uDuration;
    f32 value;
    if (done) {
        value = record.m_fTarget;
    } else if ((record.m_flags & CAuTransition::kFlagExponential) && record.m_fRatio != 0.0f) {
        value = (record.m_fLinear - record.m_fTarget) * record.m_fRatio + record.m_fTarget;
    } else {
        const i32 since = i32(frame - record.m_uStartFrame);
        record.m_fElapsed = since > 0 ? f32(since) / f32(record.m_uDuration) : 0.0f;
        // A hold keeps the start value until the end.
        value =
            record.m_eCurve == AuCurveInterpolation_Hold
                ? record.m_fStart
                : AuInterpolateCurve(record.m_fElapsed, record.m_fStart, record.m_fTarget, record.m_eCurve);
    }
    record.m_fLinear = value;
    if (record.m_flags & CAuTransition::kFlagDbs) value = AuFastLinearToDb(value);
    record.m_fCurrent = value;
    record.m_flags |= CAuTransition::kFlagUpdated;
    for (IAuTransitionTarget* user : record.m_users)
        user->TransUpdateValue(record.m_uTargetKey, value, done);
    return done;
}

CAuTransition* CAuTransitionMgr::AddTransition(const AuTransitionParams& params, bool startNow,
                                               u32 pool) noexcept {
    AuArray<CAuTransition*>& records = m_pools[pool == 1];
    CAuTransition* record = nullptr;
    if (records.Count() < m_uCapacity) {
        if (void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuTransition)))
            record = new (memory) CAuTransition;
    }
    if (!record && records.Count() > 0) {
        u32 most = 0;
        for (u32 i = 1; i < records.Count(); ++i)
            if (records[i]->m_fElapsed > records[most]->m_fElapsed) most = i;
        record = records[most];
        Finish(*record);
        record->~CAuTransition();
        record = new (record) CAuTransition;
        records.EraseSwap(most);
    }
    const auto fail = [&]() -> CAuTransition* {
        if (record) Destroy(record);
        if (params.pTarget) params.pTarget->TransUpdateValue(params.uTargetKey, params.fTargetValue, true);
        return nullptr;
    };
    if (!record) return fail();

    record->m_uTargetKey = params.uTargetKey;
    record->m_fStart = params.bdBs ? AuDbToLinear(params.fStartValue) : params.fStartValue;
    record->m_fTarget = params.bdBs ? AuDbToLinear(params.fTargetValue) : params.fTargetValue;
    record->m_fCurrent = record->m_fStart;
    record->m_fLinear = record->m_fStart;
    record->m_eCurve =
        params.bMirror && record->m_fTarget <= record->m_fStart ? Mirrored(params.eCurve) : params.eCurve;
    record->m_uStartFrame = m_uNow + params.uDelayFrames;
    record->m_uDuration = DurationInBuffers(params.lDurationMs);
    record->m_fElapsed = 0.0f;
    record->m_flags = (params.bdBs ? CAuTransition::kFlagDbs : 0) |
                      (params.bExponential ? CAuTransition::kFlagExponential : 0);
    if (params.bExponential && record->m_uDuration != 0)
        record->m_fRatio =
            f32(std::exp(-f64(m_uFramesPerBuffer) / (f64(params.lDurationMs) * 0.2 * 0.001 * 48000.0)));
    if (!params.pTarget || AddTransitionUser(record, params.pTarget) != AuResultSuccess) return fail();
    if (!records.AddLast(record)) return fail();
    if (startNow) record->m_eState = AuTransitionState_Running;
    return record;
}

AURESULT CAuTransitionMgr::AddTransitionUser(CAuTransition* transition, IAuTransitionTarget* user) noexcept {
    AuArray<IAuTransitionTarget*>& users = transition->m_users;
    if (users.IndexOf([user](IAuTransitionTarget* held) { return held == user; }) < users.Count())
        return AuResultFail;
    if (users.Count() == users.Capacity() && !users.Grow(kUsersGrowth)) return AuResultFail;
    users.AddLast(user);
    return AuResultSuccess;
}

AURESULT CAuTransitionMgr::RemoveTransitionUser(CAuTransition* transition,
                                                IAuTransitionTarget* user) noexcept {
    AuArray<IAuTransitionTarget*>& users = transition->m_users;
    const u32 at = users.IndexOf([user](IAuTransitionTarget* held) { return held == user; });
    if (at == users.Count()) return AuResultNotTransitionUser;
    users.EraseOrdered(at);
    if (users.Count() == 0) transition->m_eState = AuTransitionState_ToRemove;
    return AuResultSuccess;
}

u32 CAuTransitionMgr::ChangeParameter(CAuTransition* record, u32 targetKey, f32 value, i32 ms,
                                      AuCurveInterpolation curve, u32 mode) noexcept {
    const u32 oldKey = record->m_uTargetKey;
    record->m_uTargetKey = targetKey;
    const bool updated = record->m_flags & CAuTransition::kFlagUpdated;
    const f32 oldTarget = record->m_fTarget;
    if (record->m_flags & CAuTransition::kFlagDbs) {
        if (updated) record->m_fStart = AuDbToLinear(record->m_fCurrent);
        record->m_fTarget = AuDbToLinear(value);
        if (mode == 2) record->m_fTarget *= oldTarget;
    } else {
        if (updated) record->m_fStart = record->m_fCurrent;
        record->m_fTarget = mode == 2 ? oldTarget + value : value;
    }
    record->m_fLinear = record->m_fStart;
    record->m_eCurve = record->m_fTarget > record->m_fStart ? curve : Mirrored(curve);
    const u32 buffers = DurationInBuffers(ms);
    u32 duration = buffers;
    if (targetKey == oldKey && (targetKey & AU_TRANSITION_KEY_FADE_GROUP)) {
        // A fade retargeted to its own key never outlasts what was left of it.
        const u32 end = record->m_uStartFrame + record->m_uDuration;
        const u32 remaining = i32(end - m_uNow) > 0 ? end - m_uNow : 0;
        duration = buffers < remaining ? buffers : remaining;
    }
    record->m_uStartFrame = m_uNow;
    record->m_uDuration = duration;
    record->m_fElapsed = 0.0f;
    return buffers;
}

void CAuTransitionMgr::Pause(CAuTransition* transition) noexcept {
    if (transition->m_eState == AuTransitionState_Running)
        transition->m_eState = AuTransitionState_PauseRequested;
    else if (transition->m_eState == AuTransitionState_ResumeRequested)
        transition->m_eState = AuTransitionState_Paused;
}

void CAuTransitionMgr::Resume(CAuTransition* transition) noexcept {
    if (transition->m_eState == AuTransitionState_Paused)
        transition->m_eState = AuTransitionState_ResumeRequested;
    else if (transition->m_eState == AuTransitionState_PauseRequested)
        transition->m_eState = AuTransitionState_Running;
}

void CAuTransitionMgr::ProcessTransitionsList(u32 frame) noexcept {
    m_uNow = frame;
    for (AuArray<CAuTransition*>& records : m_pools) {
        // Users may start transitions while being updated: the count is read on every step.
        for (u32 i = 0; i < records.Count();) {
            CAuTransition* record = records[i];
            switch (record->m_eState) {
            case AuTransitionState_ToRemove:
                Destroy(record);
                records.EraseSwap(i);
                continue;
            case AuTransitionState_PauseRequested:
                record->m_uPausedAt = frame;
                record->m_eState = AuTransitionState_Paused;
                break;
            case AuTransitionState_ResumeRequested:
                record->m_uStartFrame += frame - record->m_uPausedAt;
                record->m_eState = AuTransitionState_Running;
                break;
            default:
                break;
            }
            if (record->m_eState == AuTransitionState_Running && Update(*record, frame)) {
                Destroy(record);
                records.EraseSwap(i);
                continue;
            }
            ++i;
        }
    }
}
