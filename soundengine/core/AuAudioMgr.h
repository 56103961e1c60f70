// The audio manager's message ring: any number of game threads post typed messages without a
// lock; the audio thread runs them in reservation order at the start of each pass.
//
// A poster reserves, fills the payload, then publishes (or withdraws) the record:
//     AuQueuedMsg* msg = g_pAudioMgr->ReserveQueue(type, AuQueuedMsgSize<Payload>());
//     if (!msg) return AuResultFail;
//     msg->As<Payload>() = {...};
//     g_pAudioMgr->PublishMsg(msg);
#pragma once

#include "core/AuQueuedMsg.h"
#include "memory/AuPoolList.h"

#include <AU/AuThreadProperties.h>
#include <AU/AuTypes.h>

#include <windows.h>

#include <atomic>

class CAuAction;
class CAuNodeBase;
class CAuPendingAction;
class CAuPlaybackInstance;
class CAuRegisteredObj;
struct AuActionException;

// Audio thread, g_csMain held: runs one record (a copy of it, the ring space already given back).
using AuMsgExecuteFn = void (*)(void* context, const AuQueuedMsg& msg);
// Termination: drops the references that a record still in the ring holds, without running it.
using AuMsgDropFn = void (*)(void* context, const AuQueuedMsg& msg);

struct AuMsgHandler {
    AuMsgExecuteFn execute = nullptr;
    AuMsgDropFn drop = nullptr;
    void* context = nullptr;
};

class CAuAudioMgr {
public:
    static constexpr u32 kMinQueueSize = 256;
    static constexpr u32 kMaxRecordSize = 65528; // the largest multiple of 8 the u16 size field holds
    static constexpr u32 kMaxDispatchDepth = 8;  // nested passes run by the audio thread's own posts

    CAuAudioMgr() = default;
    ~CAuAudioMgr();
    CAuAudioMgr(const CAuAudioMgr&) = delete;
    CAuAudioMgr& operator=(const CAuAudioMgr&) = delete;

    // The ring takes queueSize bytes from the default pool, rounded down to a multiple of 8 and at
    // least kMinQueueSize. 52 without memory, 2 when the space event cannot be made.
    AURESULT Init(u32 queueSize);
    // After the audio thread has stopped: drops the references of the messages still queued,
    // frees the ring, closes the space event.
    void Term();

    // Who runs the passes. The wake event belongs to the audio thread's owner; the thread ID is
    // the running audio thread's, 0 when none runs (the writers then run passes themselves).
    void SetWakeEvent(HANDLE wakeEvent) { m_hWakeEvent.store(wakeEvent, std::memory_order_release); }
    void SetAudioThreadId(DWORD threadId);
    void WakeUp();

    // Plugs in the handler of one type (1 to 46); end of frame, wrap and withdrawn are the ring's own.
    void SetMsgHandler(u16 type, const AuMsgHandler& handler) {
        if (type > AuQueuedMsgType_EndOfFrame && type < AuQueuedMsgType_WrapMarker)
            m_handlers[type] = handler;
    }

    // Any thread. The record with its size and type written, or null when the message can never
    // fit (larger than half the ring less 8 bytes, or than the size field holds) or when the audio
    // thread's own posts nest too deep. Blocks while the ring is full.
    AuQueuedMsg* ReserveQueue(u16 type, u32 size);
    void PublishMsg(AuQueuedMsg* msg);
    // A poster that cannot finish a record: the dispatcher skips it whole.
    void WithdrawMsg(AuQueuedMsg* msg);

    // Any thread: closes a frame of messages and wakes the audio thread. Never waits for another
    // thread, so it may be called under g_csMain. 1; 2 when the end-of-frame record cannot be posted.
    AURESULT RenderAudio();

    // [audio thread] Or a writer that makes room itself (no audio thread runs, or it holds
    // g_csMain); g_csMain held. Always 1.
    AURESULT ProcessMsgQueue() noexcept;

    // The audio thread's ID; 0 when none runs. A cancel must not wait for a callback it runs itself.
    DWORD AudioThreadId() const { return m_audioThreadId.load(); }

    // Pending actions (AuPendingActions.cpp). Every operation runs on the audio thread, or under
    // g_csMain; each takes a record's removal to its end: a play or play-and-continue action hears
    // of it, the playing ID loses the pending count, the action is released, the record freed.
    // Filters: a node matches the action's target and every target below it (the parent chain,
    // then the bus found along it), a null game object matches every record, playing ID 0 every
    // record; exception lists are {ID, isBus} entries checked along the same chain. Records of
    // the bus-delayed type (0x1820) survive the clear and pause families.

    // Play-and-continue actions start this many frames before their delay runs out (1 at start).
    void SetPlayAndContinueLookAhead(u32 frames) { m_uPlayAndContinueLookAhead = frames; }
    // Owns the record from here on. Counts a pending action for its playing ID and references
    // the action; a delay (a negative one counts as 0) within the frame runs the action at once
    // with the rest as its sample offset; else the record waits for its launch frame. The
    // action's result when it ran, 1 when queued, 52 when the list refused it (the record is
    // removed then), 31 for no record.
    AURESULT EnqueueOrExecute(CAuPendingAction* record) noexcept;
    // Once per pass: every record whose launch frame has come, in launch order.
    void ProcessPendingList() noexcept;

    // A pending record goes to the paused list (a play-and-continue one with its action's pause
    // count less one, the count then cleared); a paused one gains a level (its action's pause
    // count for play-and-continue).
    void PausePendingItem(CAuPendingAction* record) noexcept;
    // Out of either list, then removed.
    void RemovePendingItem(CAuPendingAction* record) noexcept;

    // Pending records go to the paused list; paused ones gain a level. Records of resume actions
    // (0x03xx) only with `includePendingResumes`.
    void PausePendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj, bool includePendingResumes,
                           AuPlayingID playingID) noexcept;
    void PausePendingItemsExcept(CAuRegisteredObj* gameObj, bool includePendingResumes,
                                 const AuActionException* exceptions, u32 exceptionCount,
                                 AuPlayingID playingID) noexcept;
    void PausePendingItemsOfAction(CAuAction* action) noexcept;
    void PausePendingItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept;
    // One pause level less, or every one with `all`; a record without further levels goes back
    // to the pending list, its launch frame later by the frames it spent paused.
    void ResumePausedPendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj, bool all,
                                  AuPlayingID playingID) noexcept;
    // Then the fades of the matching pending play-and-continue records end.
    void ResumePausedPendingItemsExcept(CAuRegisteredObj* gameObj, bool all,
                                        const AuActionException* exceptions, u32 exceptionCount,
                                        AuPlayingID playingID) noexcept;
    void ResumePausedItemsOfAction(CAuAction* action) noexcept;
    void ResumePausedItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept;
    // Pending and paused records.
    void ClearPendingItems(CAuNodeBase* node, CAuRegisteredObj* gameObj, AuPlayingID playingID) noexcept;
    void ClearPendingItemsExcept(CAuRegisteredObj* gameObj, const AuActionException* exceptions,
                                 u32 exceptionCount, AuPlayingID playingID) noexcept;
    // Any game object and playing ID.
    void ClearPendingItemsOfNode(CAuNodeBase* node) noexcept;
    void ClearPausedItemsOfNode(CAuNodeBase* node) noexcept;
    // Pending plays (0x0403); pending and paused play-and-continue records whose action is done
    // (ContinueToNextItem with the node).
    void RemovePendingPlayActions(CAuNodeBase* node, CAuRegisteredObj* gameObj,
                                  AuPlayingID playingID) noexcept;
    // Modes 2 and 3 only: the action's pending records (mode 2: those whose action is done) and
    // its paused records whose action is done.
    void StopPendingItemsOfAction(CAuAction* action, CAuNodeBase* node, u32 mode) noexcept;
    void StopPendingItemsOfActionAndPlayingID(u32 actionID, AuPlayingID playingID) noexcept;
    // Playing ID 0 names no play: these do nothing with it.
    void RemovePendingItemsOfPlayingID(AuPlayingID playingID) noexcept;
    void PausePendingItemsOfPlayingID(AuPlayingID playingID) noexcept;
    void ResumePausedItemsOfPlayingID(AuPlayingID playingID) noexcept;
    // The instance a pending play-and-continue action would follow has gone.
    void ClearPlayAndContinueRef(const CAuPlaybackInstance* instance) noexcept;
    // The fades of pending play-and-continue records end.
    void StopPlayAndContinueTransitions(CAuAction* action) noexcept;
    void StopPlayAndContinueTransitionsOf(CAuNodeBase* node, CAuRegisteredObj* gameObj,
                                          AuPlayingID playingID) noexcept;
    void StopPlayAndContinueTransitionsExcept(CAuRegisteredObj* gameObj, const AuActionException* exceptions,
                                              u32 exceptionCount, AuPlayingID playingID) noexcept;
    // A fade of a play-and-continue record's action: when done, 0x1000000 and 0x2000000 end the
    // first, 0x4000000 and 0x8000000 the second; the stop fade then removes the record, the
    // pause fade pauses it.
    void OnPlayAndContinueTransition(CAuPendingAction& record, u32 key, f32 value, bool done) noexcept;
    // Termination: every record removed.
    void ClearPendingList() noexcept;
    void ClearPausedList() noexcept;
    u32 NumPendingItems() const { return m_pendingList.Count(); }
    u32 NumPausedItems() const { return m_pausedList.Count(); }

    // The audio thread and its frame (AuAudioThread.cpp).
    // Starts "AU::EventManager" with these properties and the wake event; 1, or 2 when it cannot.
    AURESULT StartAudioThread(const AuThreadProperties& properties, HANDLE wakeEvent);
    // Stops and joins the audio thread and the suspended pacing thread; again does nothing.
    void StopAudioThread();
    // [audio thread] One pass under g_csMain: messages, then each buffer's frame, then the
    // output-device check.
    void Perform() noexcept;
    // Any thread but the audio thread. Silent sinks; with rendering, the "AU Suspended" thread
    // paces the passes. 3 when already suspended (the render flag is taken all the same).
    AURESULT Suspend(bool renderWhileSuspended);
    AURESULT WakeupFromSuspend();
    bool IsPacingWhileSuspended() const { return m_hSuspendedThread != nullptr; }
    // Rendered frames since start; audio thread, or under g_csMain.
    u32 FrameCounter() const { return m_uFrameCounter; }
    // Time without a rendered buffer after which the output is taken as lost.
    void SetDeviceTimeoutMs(u32 ms) { m_uDeviceTimeoutMs = ms; }

    u32 Capacity() const { return m_uCapacity; }
    u32 MaxMsgSize() const { return m_uMaxMsgSize; }
    u32 PendingBytes() const;
    bool IsEmpty() const { return PendingBytes() == 0; }
    u32 PostedFrames() const { return m_uPostedFrames.load(std::memory_order_acquire); }
    u32 ExecutedFrames() const { return m_uExecutedFrames.load(std::memory_order_acquire); }
    // Read under g_csMain or once the writers are done.
    u64 ExecutedMsgCount() const { return m_uExecutedMsgs; }
    // Offsets of the read and write positions from the ring start.
    u32 ReadOffset() const { return m_uRead.load(std::memory_order_acquire); }
    u32 WriteOffset() const { return static_cast<u32>(m_uWrite.load(std::memory_order_acquire)); }
    const u8* Ring() const { return m_pRing; }
    // Once no thread runs the passes any more: releases what the queued records hold, in order,
    // while the handlers' owners still exist.
    void DropQueuedMessages();

private:
    // Claims s bytes; false when they do not fit now.
    bool TakeSpace(u32 s, u32& offset);
    // The writer found the ring full; false when it must give up.
    bool WaitForSpace();
    AuQueuedMsg* At(u32 offset) const { return reinterpret_cast<AuQueuedMsg*>(m_pRing + offset); }
    u32 Pending(u32 read, u32 write) const {
        return write >= read ? write - read : write + m_uCapacity - read;
    }

    u8* m_pRing = nullptr;
    u32 m_uCapacity = 0;
    u32 m_uMaxMsgSize = 0;

    // Written only by the thread that runs the passes (under g_csMain), with release order after
    // the consumed bytes are zeroed; writers read it with acquire order before reusing space.
    std::atomic<u32> m_uRead{0};
    // Keeps R, W and the frame counts on cache lines of their own without asking the pool for
    // more than 8-byte alignment: writers and the reader would otherwise fight over one line.
    u8 m_padRead[64];
    // {lap in the high half, offset in the low half}, changed only by compare-exchange. The lap
    // keeps a writer that slept through a whole lap from succeeding with stale positions.
    std::atomic<u64> m_uWrite{0};
    u8 m_padWrite[64];
    // Written by RenderAudio under the render lock, before its end-of-frame record is published,
    // so the executed count (acq_rel after running that record) can never pass it; read by the
    // dispatcher with acquire order.
    std::atomic<u32> m_uPostedFrames{0};
    // Written by the dispatcher; read by anyone for figures.
    std::atomic<u32> m_uExecutedFrames{0};
    // Set by writers that found the ring full; cleared by the dispatcher after a pass.
    std::atomic<bool> m_bWriterWaits{false};
    // Set by the dispatcher when it stops at a record still being filled; the poster that
    // publishes it takes the flag and wakes the audio thread. Both sides store then load with
    // sequential consistency, so at least one of them sees the other: the record is never left
    // unread until some later wake.
    std::atomic<bool> m_bReaderStalled{false};
    // Written by the audio thread's owner (set before the thread starts, cleared after it ends);
    // read by writers with acquire order to find the event, which the owner keeps open until
    // the wake event is cleared again.
    std::atomic<HANDLE> m_hWakeEvent{nullptr};
    // Written by the audio thread's owner before the thread is resumed and after it has stopped
    // taking passes; read by writers to choose between waiting for a pass and running one.
    // Sequentially consistent: a writer that reads 0 runs the pass itself under g_csMain, which
    // excludes the audio thread, so a stale value is never unsafe, only slower.
    std::atomic<DWORD> m_audioThreadId{0};

    HANDLE m_hSpaceEvent = nullptr; // manual reset: signalled after every pass
    CRITICAL_SECTION m_renderLock;
    bool m_bRenderLockMade = false;

    // Under g_csMain.
    u32 m_uDispatchDepth = 0;
    u64 m_uExecutedMsgs = 0;

    // The audio frame's state: audio thread, or under g_csMain.
    u32 m_uFrameCounter = 0;
    u64 m_uLastRenderStamp = 0; // performance-counter value of the last pass that rendered
    u32 m_uPassesWithoutRender = 0;
    u32 m_uDeviceTimeoutMs = 1000;
    void CheckOutputDevice(bool rendered) noexcept;
    u32 NumBuffersToRender() noexcept;

    // The threads: handles owned by the game thread that starts and stops them. The stop flag
    // is written by that thread and read by the audio thread; release and acquire suffice as it
    // guards nothing but the loop. The pacing flag likewise for the "AU Suspended" thread.
    HANDLE m_hAudioThread = nullptr;
    HANDLE m_hSuspendedThread = nullptr;
    std::atomic<bool> m_bStopAudioThread{false};
    std::atomic<bool> m_bPacing{false};
    AuThreadProperties m_audioThreadProperties{};
    static DWORD WINAPI AudioThreadProc(void* self);
    static DWORD WINAPI SuspendedThreadProc(void* self);
    void EndSuspendedPacing();

    AuMsgHandler m_handlers[AuQueuedMsgType_WrapMarker];

    // The two lists of pending actions: the pending one by launch frame, the paused one by the
    // action's target ID; equal keys keep their arrival order. Audio thread, or under g_csMain.
    struct AuPendingLink {
        u32 key;
        CAuPendingAction* pRecord;
    };
    using AuPendingList = AuPoolList<AuPendingLink>;
    static constexpr u32 kPendingLinks = 32;
    AuPendingList m_pendingList;
    AuPendingList m_pausedList;
    u32 m_uPlayAndContinueLookAhead = 1;

    struct PendingFilter;
    bool InsertPending(CAuPendingAction* record) noexcept;
    void MoveToPaused(CAuPendingAction* record, u32 level) noexcept;
    void MoveToPending(CAuPendingAction* record) noexcept;
    void ExecuteAndFree(CAuPendingAction* record) noexcept;
    void RemoveRecord(CAuPendingAction* record) noexcept;
    template <class Accept> void RemoveFrom(AuPendingList& list, Accept accept) noexcept;
    enum PendingLists : u32 { kPendingList = 1, kPausedList = 2, kBothLists = 3 };
    template <class Doomed> void RemoveWhere(PendingLists lists, Doomed doomed) noexcept;
    void RemoveMatching(const PendingFilter& filter, PendingLists lists) noexcept;
    void PauseMatching(const PendingFilter& filter) noexcept;
    void ResumeMatching(const PendingFilter& filter, bool all) noexcept;
    void StopTransitionsMatching(const PendingFilter& filter) noexcept;
    // Test programs reach the frame counter through it.
    friend class CAuAudioMgrTestAccess;
};

// Made by the engine's initialisation in the default pool.
extern CAuAudioMgr* g_pAudioMgr;
