#include "music/AuMusicCtx.h"

#include "core/AuOutputTiming.h"
#include "music/AuMusicEngine.h"
#include "music/AuMusicSequencer.h"

CAuMusicCtx::CAuMusicCtx(CAuMusicCtx* parent) noexcept : m_pParent(parent) {
    if (parent) {
        parent->AddChild(this);
        parent->AddRef();
    }
}

CAuMusicCtx::~CAuMusicCtx() {
    // A fade still running must not reach a freed target.
    if (g_pTransitionMgr) {
        if (m_pPlayStopFade) g_pTransitionMgr->RemoveTransitionUser(m_pPlayStopFade, this);
        if (m_pPauseFade) g_pTransitionMgr->RemoveTransitionUser(m_pPauseFade, this);
    }
}

void CAuMusicCtx::AddChild(CAuMusicChild* child) noexcept {
    child->pNextSibling = m_pFirstChild;
    m_pFirstChild = child;
}

void CAuMusicCtx::HandDownLevels(CAuMusicChild& child) const noexcept {
    for (const CAuMusicCtx* context = this; context; context = context->m_pParent) {
        child.SetFadeLevel(&context->m_fPlayStopLevel, context->m_fPlayStopLevel);
        child.SetFadeLevel(&context->m_fPauseLevel, context->m_fPauseLevel);
    }
}

CAuMusicSequencer* CAuMusicCtx::RootSequencer() const noexcept {
    const CAuMusicCtx* root = this;
    while (root->m_pParent)
        root = root->m_pParent;
    const auto* top = dynamic_cast<const CAuMusicTopCtx*>(root);
    return top ? top->Sequencer() : nullptr;
}

void CAuMusicCtx::RemoveChild(CAuMusicChild* child) noexcept {
    for (CAuMusicChild** link = &m_pFirstChild; *link; link = &(*link)->pNextSibling) {
        if (*link != child) continue;
        *link = child->pNextSibling;
        child->pNextSibling = nullptr;
        return;
    }
}

void CAuMusicCtx::Release() noexcept {
    if (m_uRefCount == 0 || --m_uRefCount > 0) return;
    if (m_pParent) {
        m_pParent->RemoveChild(this);
        m_pParent->Release();
    } else {
        OnLastRelease();
    }
    // The derived context began the block; its address is only known while it still exists.
    void* block = dynamic_cast<void*>(this);
    this->~CAuMusicCtx();
    AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

void CAuMusicCtx::OnLastFrame() noexcept {
    ForEachChild([](CAuMusicChild& child) { child.OnLastFrame(); });
    if (m_uState & kStopping) SetStopped();
}

void CAuMusicCtx::OnStopped(u32 offset) noexcept {
    ForEachChild([offset](CAuMusicChild& child) {
        child.AddRef();
        child.OnStopped(offset);
        child.Release();
    });
    if (offset < m_uStopOffset) m_uStopOffset = offset;
    if (offset == 0 || IsPaused() || IsIdle())
        SetStopped();
    else if (IsPlaying())
        m_uState = static_cast<u8>((m_uState & ~kPlaying) | kStopping);
}

void CAuMusicCtx::OnPaused() noexcept {
    ForEachChild([](CAuMusicChild& child) { child.OnPaused(); });
    m_uState |= kPaused;
    if (m_pPlayStopFade && g_pTransitionMgr) g_pTransitionMgr->Pause(m_pPlayStopFade);
}

void CAuMusicCtx::OnResumed() noexcept {
    ForEachChild([](CAuMusicChild& child) { child.OnResumed(); });
    m_uState &= static_cast<u8>(~kPaused);
    if (m_pPlayStopFade && g_pTransitionMgr) g_pTransitionMgr->Resume(m_pPlayStopFade);
}

void CAuMusicCtx::SetFadeLevel(const void* owner, f32 level) noexcept {
    ForEachChild([owner, level](CAuMusicChild& child) { child.SetFadeLevel(owner, level); });
}

void CAuMusicCtx::SetParamValue(u32 key, f32 value) noexcept {
    ForEachChild([key, value](CAuMusicChild& child) { child.SetParamValue(key, value); });
}

void CAuMusicCtx::Notify(u32 notification) noexcept {
    ForEachChild([notification](CAuMusicChild& child) { child.Notify(notification); });
}

void CAuMusicCtx::SetPlaying() noexcept {
    m_uState = static_cast<u8>((m_uState & kPaused) | kPlaying);
}

void CAuMusicCtx::SetStopped() noexcept {
    m_uState = static_cast<u8>((m_uState & kPaused) | kStopped);
}

CAuTransition* CAuMusicCtx::StartFade(u32 key, f32 from, f32 to, const AuMusicFade& fade) noexcept {
    if (!g_pTransitionMgr) {
        TransUpdateValue(key, to, true);
        return nullptr;
    }
    AuTransitionParams params;
    params.pTarget = this;
    params.uTargetKey = key;
    params.fStartValue = from;
    params.fTargetValue = to;
    params.lDurationMs = fade.lTimeMs;
    params.eCurve = fade.eCurve;
    // An offset before now starts the fade at once.
    const u32 frame = g_uNumSamplesPerFrame ? g_uNumSamplesPerFrame : 1;
    params.uDelayFrames = fade.lOffsetSamples > 0 ? static_cast<u32>(fade.lOffsetSamples) / frame : 0;
    // A transition that cannot be made has delivered its end value with done already.
    return g_pTransitionMgr->AddTransition(params, true, 1);
}

void CAuMusicCtx::PlayWithFade(const AuMusicFade& fade) noexcept {
    if (!IsIdle() && !IsPlaying()) return;
    if (m_pPlayStopFade) {
        g_pTransitionMgr->ChangeParameter(m_pPlayStopFade, AU_TRANSITION_KEY_FADE_PLAY, 1.0f, fade.lTimeMs,
                                          fade.eCurve, 0);
    } else if (fade.lTimeMs > 0) {
        m_pPlayStopFade = StartFade(AU_TRANSITION_KEY_FADE_PLAY, 0.0f, 1.0f, fade);
    } else {
        TransUpdateValue(AU_TRANSITION_KEY_FADE_PLAY, 1.0f, true);
    }
    SetPlaying();
}

void CAuMusicCtx::StopWithFade(const AuMusicFade& fade, u32 stopOffset) noexcept {
    if (IsPaused()) {
        OnStopped(stopOffset);
    } else if (m_pPlayStopFade) {
        g_pTransitionMgr->ChangeParameter(m_pPlayStopFade, AU_TRANSITION_KEY_FADE_STOP, 0.0f, fade.lTimeMs,
                                          fade.eCurve, 0);
    } else if (fade.lTimeMs >= 1 && (IsPlaying() || IsStopping())) {
        m_pPlayStopFade = StartFade(AU_TRANSITION_KEY_FADE_STOP, 1.0f, 0.0f, fade);
    } else {
        OnStopped(stopOffset);
    }
}

void CAuMusicCtx::PauseWithFade(const AuMusicFade& fade) noexcept {
    ++m_uPauseCount;
    if (m_pPauseFade)
        g_pTransitionMgr->ChangeParameter(m_pPauseFade, AU_TRANSITION_KEY_FADE_PAUSE, 0.0f, fade.lTimeMs,
                                          fade.eCurve, 0);
    else
        m_pPauseFade = StartFade(AU_TRANSITION_KEY_FADE_PAUSE, 1.0f, 0.0f, fade);
}

void CAuMusicCtx::ResumeWithFade(const AuMusicFade& fade, bool force) noexcept {
    if (!force && m_uPauseCount > 1) {
        --m_uPauseCount;
        return;
    }
    m_uPauseCount = 0;
    if (m_pPauseFade) {
        g_pTransitionMgr->ChangeParameter(m_pPauseFade, AU_TRANSITION_KEY_FADE_RESUME, 1.0f, fade.lTimeMs,
                                          fade.eCurve, 0);
    } else if (fade.lTimeMs < 1) {
        m_fPauseLevel = 1.0f;
        SetFadeLevel(&m_fPauseLevel, m_fPauseLevel);
    } else {
        m_pPauseFade = StartFade(AU_TRANSITION_KEY_FADE_RESUME, m_fPauseLevel, 1.0f, fade);
    }
    OnResumed();
}

void CAuMusicCtx::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    const bool playStop =
        targetKey == AU_TRANSITION_KEY_FADE_PLAY || targetKey == AU_TRANSITION_KEY_FADE_STOP;
    f32& level = playStop ? m_fPlayStopLevel : m_fPauseLevel;
    level = value;
    SetFadeLevel(&level, value);
    if (!done) return;
    (playStop ? m_pPlayStopFade : m_pPauseFade) = nullptr;
    if (targetKey == AU_TRANSITION_KEY_FADE_STOP)
        OnStopped(AuMusicNoStopOffset);
    else if (targetKey == AU_TRANSITION_KEY_FADE_PAUSE)
        OnPaused();
}

AURESULT CAuMusicTopCtx::Play(const AuMusicPlayParams& params) noexcept {
    if (!Parent()) {
        const AURESULT result = MusicEnginePlay(this, params);
        if (result != AuResultSuccess) return result;
    } else {
        if (auto* top = dynamic_cast<CAuMusicTopCtx*>(Parent())) m_pSequencer = top->Sequencer();
    }
    PlayWithFade(params.fade);
    return AuResultSuccess;
}

void CAuMusicTopCtx::SetStopped() noexcept {
    CAuMusicCtx::SetStopped();
    if (!Parent() && m_pSequencer) m_pSequencer->ReleaseStingers();
}

void CAuMusicTopCtx::OnLastRelease() noexcept {
    MusicEngineReleaseRoot(this);
}
