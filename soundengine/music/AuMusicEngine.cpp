#include "music/AuMusicEngine.h"

#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <new>

std::atomic<CAuMusicEngine*> g_pMusicEngine{nullptr};

namespace {

// Whether MusicFrameCallback is in the core's global callback array. The core never drops an
// entry by itself except at its Term, which first calls the callback with true, so the
// callback's last call clears it. Written and read on the game's thread (Init and the sound
// engine's Term), so a relaxed order is enough.
std::atomic<bool> s_bFrameCallbackRegistered{false};

void FreeEngine(CAuMusicEngine* engine) {
    if (engine->pMidiHandler) {
        engine->pMidiHandler->~CAuMidiHandler();
        AU::MemoryMgr::Free(g_DefaultPoolId, engine->pMidiHandler);
    }
    engine->pendingStates.Term();
    engine->segmentInfo.Term();
    if (engine->hTermEvent) CloseHandle(engine->hTermEvent);
    engine->~CAuMusicEngine();
    AU::MemoryMgr::Free(g_DefaultPoolId, engine);
}

} // namespace

CAuMusicEngine* MusicEngineCreate(const AuMusicSettings* settings) {
    if (CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire)) return engine;
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuMusicEngine));
    if (!block) return nullptr;
    auto* engine = new (block) CAuMusicEngine();
    if (settings) engine->settings = *settings;
    const f32 scale = engine->settings.fLookAheadScale;
    if (!std::isfinite(scale) || scale < 0.0f) engine->settings.fLookAheadScale = 1.0f;
    engine->segmentInfo.Init();
    engine->hTermEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    engine->pendingStates.Init(0, AuPoolList<AuPendingStateChange>::kNoMaximum);
    if (engine->hTermEvent) {
        if (void* midi = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuMidiHandler)))
            engine->pMidiHandler = new (midi) CAuMidiHandler();
    }
    if (!engine->pMidiHandler) {
        FreeEngine(engine);
        return nullptr;
    }
    CAuMainLock lock;
    g_pMusicEngine.store(engine, std::memory_order_release);
    return engine;
}

void MusicEngineDestroy() {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    if (!engine) return;
    AU::SoundEngine::StopAll();
    AU::SoundEngine::RenderAudio();
    for (;;) {
        {
            CAuMainLock lock;
            if (!engine->pFirstTop) break;
        }
        // Each release of a top-level context sets the event; one set before this wait is kept.
        WaitForSingleObject(engine->hTermEvent, INFINITE);
    }
    CAuMainLock lock;
    g_pMusicEngine.store(nullptr, std::memory_order_release);
    FreeEngine(engine);
}

void MusicFrameCallback(bool lastCall) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    if (lastCall) {
        s_bFrameCallbackRegistered.store(false, std::memory_order_relaxed);
        // The sound engine is going and takes the default pool with it: the engine cannot outlive
        // this call. Its audio thread has stopped, so nothing else touches the engine now.
        if (engine) {
            g_pMusicEngine.store(nullptr, std::memory_order_release);
            FreeEngine(engine);
        }
        return;
    }
    if (!engine) return;
    engine->bSpeedRefresh = false;
    engine->pMidiHandler->NextFrame();
}

bool MusicStateChangeHandler(AuUniqueID, AuUniqueID) noexcept {
    // No music plays without the engine, and none can wait for a sync point yet.
    return false;
}

AURESULT MusicBankObjectLoader(const u8*, CAuLoadedBank*, u32) {
    return AuResultTypeNotHandled;
}

void MusicEngineRequestSpeedRefresh(u8 value) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    if (!engine) return;
    engine->bSpeedRefresh = true;
    engine->uSpeedRefresh = value;
}

namespace AU::MusicEngine {

void GetDefaultInitSettings(AuMusicSettings& settings) {
    settings.fLookAheadScale = 1.0f;
}

AURESULT Init(AuMusicSettings* settings) {
    if (!MusicEngineCreate(settings)) return AuResultFail;
    // A second registration would run every music clock twice per frame.
    if (!s_bFrameCallbackRegistered.load(std::memory_order_relaxed) &&
        AU::SoundEngine::RegisterGlobalCallback(MusicFrameCallback) == AuResultSuccess)
        s_bFrameCallbackRegistered.store(true, std::memory_order_relaxed);
    AU::SoundEngine::SetStateChangeHandler(MusicStateChangeHandler);
    AU::SoundEngine::SetBankExtensionReader(MusicBankObjectLoader);
    return AuResultSuccess;
}

void Term() {
    MusicEngineDestroy();
}

AURESULT GetPlayingSegmentInfo(AuPlayingID playingID, AuSegmentInfo& info, bool extrapolate) {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    if (!engine) return AuResultFail;
    return engine->segmentInfo.GetRow(playingID, info, extrapolate);
}

} // namespace AU::MusicEngine
