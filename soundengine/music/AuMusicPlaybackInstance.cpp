#include "music/AuMusicPlaybackInstance.h"

#include "core/AuOutputTiming.h"
#include "music/AuMusicSequencer.h"

#include <cmath>

namespace {

u32 FrameSamples() {
    return g_uNumSamplesPerFrame ? g_uNumSamplesPerFrame : 1;
}

// Whole frames, rounded up.
u32 RoundUpToFrames(u32 samples) {
    const u64 frame = FrameSamples();
    const u64 rounded = (u64{samples} + frame - 1) / frame * frame;
    return rounded > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(rounded);
}

} // namespace

CAuMusicPlaybackInstance::CAuMusicPlaybackInstance(const AuPlaybackInstanceParams& params,
                                                   IAuMusicTrackCtx& track, const AuMusicTrackClip& clip,
                                                   u32 lookAhead) noexcept
    : CAuPlaybackInstance(params), m_track(track), m_clip(clip), m_uLookAhead(RoundUpToFrames(lookAhead)) {}

void CAuMusicPlaybackInstance::OnStop(u32 reason, u32 flag) noexcept {
    if (flag && m_lPendingStop != kNoPendingStop) return;
    CAuPlaybackInstance::OnStop(reason, 0);
}

AURESULT CAuMusicPlaybackInstance::Init(IAuInstanceLimiter* nodeLimiter,
                                        IAuInstanceLimiter* busLimiter) noexcept {
    CAuMusicCtx& context = m_track.TrackContext();
    context.AddChild(this);
    context.AddRef();
    m_uMusicFlags |= kJoinedTrack;
    return CAuPlaybackInstance::Init(nodeLimiter, busLimiter);
}

void CAuMusicPlaybackInstance::Term(u32 reason) noexcept {
    CAuPlaybackInstance::Term(reason);
    if (!(m_uMusicFlags & kJoinedTrack)) return;
    m_uMusicFlags &= static_cast<u8>(~kJoinedTrack);
    if (!(m_uMusicFlags & kTerminated)) m_track.DropQueuedActions(this);
    CAuMusicCtx& context = m_track.TrackContext();
    context.RemoveChild(this);
    // The last reference may end the whole tree: nothing of the track is touched after it.
    context.Release();
}

u32 CAuMusicPlaybackInstance::GetVirtualReturnMode() noexcept {
    u32 position = 0;
    if (!m_track.VirtualReturnPosition(this, m_uLookAhead, position)) return 2;
    m_uSourcePosition = position;
    SetSourceFrameOffset(position);
    return 1;
}

void CAuMusicPlaybackInstance::RefreshParams() noexcept {
    CAuPlaybackInstance::RefreshParams();
    SetPitch(1200.0f * std::log2(m_fSpeed));
}

i32 CAuMusicPlaybackInstance::TakeFrameBudget() noexcept {
    if (m_uMusicFlags & kFadeOutAutomation) return kNoPendingStop;
    const i32 pending = m_lPendingStop;
    m_lPendingStop = kNoPendingStop;
    return pending;
}

void CAuMusicPlaybackInstance::Terminate(u32 offset) noexcept {
    m_uMusicFlags |= kTerminated;
    OnStopped(offset);
}

void CAuMusicPlaybackInstance::OnStopped(u32 offset) noexcept {
    if (offset != AuMusicNoStopOffset) {
        // Half away from zero; the speed is never 0 (see UsableSpeed), the result fits an i32.
        const f64 scaled = std::round(static_cast<f64>(offset) / static_cast<f64>(m_fSpeed));
        const i32 voiceOffset = scaled >= 2147483647.0 ? 2147483647 : static_cast<i32>(scaled);
        if (m_lPendingStop == kNoPendingStop || voiceOffset < m_lPendingStop) m_lPendingStop = voiceOffset;
    }
    const bool immediate = m_lPendingStop == kNoPendingStop || (m_uMusicFlags & kFadeOutAutomation);
    Stop(AuInstanceTransition{0, AuCurveInterpolation_Linear}, immediate);
}

void CAuMusicPlaybackInstance::SetParamValue(u32 key, f32 value) noexcept {
    if (key != AuMusicParam_PlaybackSpeed) return;
    m_fSpeed = CAuMusicSequencer::UsableSpeed(value);
    RefreshParams();
}

u32 CAuMusicPlaybackInstance::AlignStart(u32 offset, u32 frameSamples, f32 speed, u32 lookAhead) noexcept {
    const u32 frame = CAuMusicSequencer::FrameStep(frameSamples, CAuMusicSequencer::UsableSpeed(speed));
    if (frame == 0) return offset;
    const u32 within = offset % frame;
    if (within == 0) return offset;
    const u32 start = offset - within;
    if (u64{within} * 2 < frame && within <= lookAhead) return start;
    return start + frame;
}
