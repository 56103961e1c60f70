#include "music/AuMusicEngine.h"

#include "banks/AuBankFormat.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuThreads.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "music/AuMusicSequencer.h"

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

// Term lets go of the roots itself when the audio thread has not released them after this many
// frames, or has played no frame at all for this long (about ten frames of 1024 at 48 kHz).
constexpr u64 kFramesToReleaseStoppedRoots = 2;
constexpr DWORD kTermWaitMs = 200;

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

// Stops each root and lets go of it on this thread: at the sound engine's Term (its audio thread
// has stopped) and at a Term that the audio thread does not serve. Under g_csMain or alone.
void ReleaseEveryRoot(CAuMusicEngine& engine) noexcept {
    while (CAuMusicTopCtx* top = engine.pFirstTop) {
        top->AddRef();
        top->OnStopped(0);
        top->OnLastFrame();
        top->Sequencer()->NextFrame(0);
        if (engine.pFirstTop == top) {
            // Someone still holds the root: it leaves the list and the engine forgets it.
            engine.pFirstTop = top->pNextTop;
            if (engine.pLastTop == top) engine.pLastTop = nullptr;
        }
        top->Release();
    }
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
    // A root that nothing stops would keep Term waiting for ever: every root stops here, now.
    u64 framesAtStop = 0;
    {
        CAuMainLock lock;
        for (CAuMusicTopCtx* top = engine->pFirstTop; top;) {
            CAuMusicTopCtx* next = top->pNextTop;
            if (!top->IsStopped()) top->OnStopped(0);
            top = next;
        }
        framesAtStop = engine->pMidiHandler->FramesAdvanced();
    }
    for (;;) {
        u64 framesBeforeWait = 0;
        {
            CAuMainLock lock;
            if (!engine->pFirstTop) break;
            framesBeforeWait = engine->pMidiHandler->FramesAdvanced();
            // Stopped roots go at the next frame: one still listed two frames later is held by
            // someone else, and only this thread can let go of it.
            if (framesBeforeWait - framesAtStop >= kFramesToReleaseStoppedRoots) {
                ReleaseEveryRoot(*engine);
                break;
            }
        }
        // Each release of a top-level context sets the event; one set before this wait is kept.
        if (WaitForSingleObject(engine->hTermEvent, kTermWaitMs) == WAIT_TIMEOUT) {
            CAuMainLock lock;
            // No frame during a whole wait: the audio thread renders nothing (suspended).
            if (engine->pMidiHandler->FramesAdvanced() == framesBeforeWait) {
                ReleaseEveryRoot(*engine);
                break;
            }
        }
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
            ReleaseEveryRoot(*engine);
            g_pMusicEngine.store(nullptr, std::memory_order_release);
            FreeEngine(engine);
        }
        return;
    }
    if (!engine) return;
    if (engine->bSpeedRefresh) {
        for (CAuMusicTopCtx* top = engine->pFirstTop; top; top = top->pNextTop)
            top->Sequencer()->MarkSpeedStale(engine->uSpeedRefresh);
        engine->bSpeedRefresh = false;
    }
    for (CAuMusicTopCtx* top = engine->pFirstTop; top;) {
        // Advancing may end this root and free it: the next one is taken first.
        CAuMusicTopCtx* next = top->pNextTop;
        CAuMusicSequencer* sequencer = top->Sequencer();
        if (top->PlayFlags() & CAuMusicTopCtx::kFlagSegmentInfo) {
            AuSegmentInfo info{};
            if (top->GetSegmentInfo(info) == AuResultSuccess)
                engine->segmentInfo.UpdateRow(sequencer->PlayingID(), info);
        }
        sequencer->NextFrame(g_uNumSamplesPerFrame);
        top = next;
    }
    engine->pMidiHandler->NextFrame();
}

i64 MusicEngineFindStateSync(AuUniqueID groupID, AuStateSync& found) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    bool any = false;
    u64 best = 0;
    for (CAuMusicTopCtx* top = engine ? engine->pFirstTop : nullptr; top; top = top->pNextTop) {
        if (!top->IsPlaying() || top->IsPaused()) continue;
        u64 position = 0;
        u32 lookAhead = 0;
        const u64 time = top->Sequencer()->TimeToNextStateSync(groupID, position, lookAhead);
        if (time == 0 || (any && time >= best)) continue;
        any = true;
        best = time;
        found = AuStateSync{top, position, lookAhead};
    }
    return static_cast<i64>(best) - static_cast<i64>(g_uNumSamplesPerFrame);
}

bool MusicStateChangeHandler(AuUniqueID groupID, AuUniqueID stateID) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    if (!engine) return false;
    AuStateSync sync;
    if (MusicEngineFindStateSync(groupID, sync) <= 0) return false;
    AuPendingStateChange* record = engine->pendingStates.AddFirst(AuPendingStateChange{groupID, stateID, 0});
    if (!record) {
        engine->pendingStates.ForEach([groupID](AuPendingStateChange& held) {
            if (held.groupID == groupID) held.uFlags |= AuPendingState_Cancelled;
        });
        return false;
    }
    if (sync.pContext->Sequencer()->ScheduleStateChange(record, sync.uLookAhead, sync.uPosition) !=
        AuResultSuccess) {
        engine->pendingStates.RemoveFirst(
            [record](const AuPendingStateChange& held) { return &held == record; });
        return false;
    }
    record->uFlags = AuPendingState_Scheduled;
    return true;
}

void MusicEngineOnStateSyncReached(AuPendingStateChange* record) noexcept {
    record->uFlags &= ~AuPendingState_Scheduled;
    if (record->uFlags & AuPendingState_Cancelled)
        MusicEnginePurgePendingStates();
    else
        MusicEngineApplyStateChange(record);
}

void MusicEngineOnStateSyncRecheck(AuPendingStateChange* record) noexcept {
    if (record->uFlags & AuPendingState_Cancelled) {
        record->uFlags &= ~AuPendingState_Scheduled;
        MusicEnginePurgePendingStates();
        return;
    }
    AuStateSync sync;
    if (MusicEngineFindStateSync(record->groupID, sync) <= 0 ||
        sync.pContext->Sequencer()->ScheduleStateChange(record, sync.uLookAhead, sync.uPosition) !=
            AuResultSuccess)
        MusicEngineApplyStateChange(record);
}

void MusicEngineApplyStateChange(AuPendingStateChange* record) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    AU::SoundEngine::SetStateInternal(record->groupID, record->stateID, false, true);
    record->uFlags = AuPendingState_Cancelled;
    // Records after this one in the list are older: a held change of the group is now stale.
    bool older = false;
    engine->pendingStates.ForEach([&](AuPendingStateChange& held) {
        if (older && held.groupID == record->groupID) held.uFlags |= AuPendingState_Cancelled;
        if (&held == record) older = true;
    });
    MusicEnginePurgePendingStates();
}

void MusicEnginePurgePendingStates() noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    engine->pendingStates.RemoveAll(
        [](const AuPendingStateChange& held) { return !(held.uFlags & AuPendingState_Scheduled); });
}

AURESULT MusicEnginePlay(CAuMusicTopCtx* context, const AuMusicPlayParams& params) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    // A play without a playing ID could never give its activity count back.
    if (!engine || params.playingID == 0) return AuResultFail;
    auto* sequencer = AuMusicNew<CAuMusicSequencer>(context, params);
    if (!sequencer) return AuResultFail;
    IAuMusicNode* node = context->Node();
    if (node && !node->IncrementActivity(AuMusicActivity_NodeAndBusses)) {
        node->DecrementActivity(AuMusicActivity_NodeAndBusses);
        sequencer->~CAuMusicSequencer();
        AU::MemoryMgr::Free(g_DefaultPoolId, sequencer);
        return AuResultFail;
    }
    context->pNextTop = engine->pFirstTop;
    engine->pFirstTop = context;
    if (!engine->pLastTop) engine->pLastTop = context;
    context->SetSequencer(sequencer);
    sequencer->HoldContext();
    u32 flags = 0;
    AURESULT result = AuResultSuccess;
    if (g_pPlayingMgr) result = g_pPlayingMgr->AddInstance(params.playingID, flags);
    if ((flags & CAuMusicTopCtx::kFlagSegmentInfo) &&
        engine->segmentInfo.AddRow(params.playingID) != AuResultSuccess)
        flags &= ~CAuMusicTopCtx::kFlagSegmentInfo;
    context->SetPlayFlags(flags);
    if (g_pPlayingMgr) g_pPlayingMgr->NotifyMusicPlayStarted(params.playingID);
    return result;
}

void MusicEngineReleaseRoot(CAuMusicTopCtx* context) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    CAuMusicSequencer* sequencer = context->Sequencer();
    if (!sequencer) return;
    CAuMusicTopCtx* previous = nullptr;
    for (CAuMusicTopCtx* top = engine ? engine->pFirstTop : nullptr; top;
         previous = top, top = top->pNextTop) {
        if (top != context) continue;
        (previous ? previous->pNextTop : engine->pFirstTop) = top->pNextTop;
        if (engine->pLastTop == top) engine->pLastTop = previous;
        break;
    }
    if (const AuPlayingID playingID = sequencer->PlayingID()) {
        if (engine && (context->PlayFlags() & CAuMusicTopCtx::kFlagSegmentInfo))
            engine->segmentInfo.RemoveRow(playingID);
        if (g_pPlayingMgr) g_pPlayingMgr->RemoveInstance(playingID);
        if (IAuMusicNode* node = context->Node()) node->DecrementActivity(AuMusicActivity_NodeAndBusses);
    }
    context->SetSequencer(nullptr);
    sequencer->~CAuMusicSequencer();
    AU::MemoryMgr::Free(g_DefaultPoolId, sequencer);
    if (engine) SetEvent(engine->hTermEvent);
}

namespace {

template <class Act>
void ForEachMatchingRoot(AuUniqueID nodeID, u32 gameObjID, AuPlayingID playingID, Act act) noexcept {
    CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire);
    for (CAuMusicTopCtx* top = engine ? engine->pFirstTop : nullptr; top;) {
        CAuMusicTopCtx* next = top->pNextTop;
        const CAuMusicSequencer* sequencer = top->Sequencer();
        const bool matches = top->Node() && top->Node()->NodeID() == nodeID &&
                             (gameObjID == 0 || sequencer->GameObjID() == gameObjID) &&
                             (playingID == 0 || sequencer->PlayingID() == playingID);
        if (matches) {
            top->AddRef();
            act(*top);
            top->Release();
        }
        top = next;
    }
}

} // namespace

void MusicEngineStopContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                             AuPlayingID playingID) noexcept {
    ForEachMatchingRoot(nodeID, gameObjID, playingID,
                        [&fade](CAuMusicTopCtx& top) { top.StopWithFade(fade, AuMusicNoStopOffset); });
}

void MusicEnginePauseContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                              AuPlayingID playingID) noexcept {
    ForEachMatchingRoot(nodeID, gameObjID, playingID,
                        [&fade](CAuMusicTopCtx& top) { top.PauseWithFade(fade); });
}

void MusicEngineResumeContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                               AuPlayingID playingID) noexcept {
    ForEachMatchingRoot(nodeID, gameObjID, playingID,
                        [&fade](CAuMusicTopCtx& top) { top.ResumeWithFade(fade, false); });
}

void MusicEngineSeekContextsByTime(AuUniqueID nodeID, u32 gameObjID, AuPlayingID playingID, i32& ms,
                                   bool nearestMarker) noexcept {
    ForEachMatchingRoot(nodeID, gameObjID, playingID, [&](CAuMusicTopCtx& top) {
        if (top.SeekTime(ms, nearestMarker) && g_pPlayingMgr)
            g_pPlayingMgr->NotifyMusicPlayStarted(top.Sequencer()->PlayingID());
    });
}

void MusicEngineSeekContextsByPercent(AuUniqueID nodeID, u32 gameObjID, AuPlayingID playingID, f32& fraction,
                                      bool nearestMarker) noexcept {
    ForEachMatchingRoot(nodeID, gameObjID, playingID, [&](CAuMusicTopCtx& top) {
        if (top.SeekPercent(fraction, nearestMarker) && g_pPlayingMgr)
            g_pPlayingMgr->NotifyMusicPlayStarted(top.Sequencer()->PlayingID());
    });
}

AURESULT MusicBankObjectLoader(const u8* record, CAuLoadedBank* bank, u32) {
    if (!g_pMusicEngine.load(std::memory_order_acquire) || !record) return AuResultTypeNotHandled;
    const u8 type = record[0];
    if (type < AuHierarchyTypeMusicSegment || type > AuHierarchyTypeMusicPlaylist)
        return AuResultTypeNotHandled;
    if (!bank) return AuResultFail;
    const u32 size = u32(record[1]) | u32(record[2]) << 8 | u32(record[3]) << 16 | u32(record[4]) << 24;
    return AuLoadExtensionRecord(type, record + AU_BANK_RECORD_HEADER_SIZE, size, *bank);
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
