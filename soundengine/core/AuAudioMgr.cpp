#include "core/AuAudioMgr.h"

#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <algorithm>
#include <cstring>

CAuAudioMgr* g_pAudioMgr = nullptr;

namespace {

constexpr u32 kRecordAlign = 8;
// A record shorter than this is copied to the stack before it runs; longer ones to the pool.
constexpr u32 kStackCopy = 256;

constexpr u64 PackWrite(u32 lap, u32 offset) {
    return (u64{lap} << 32) | offset;
}

// With every size and the capacity multiples of 8, a reservation ends at least 8 bytes before the
// ring end: the wrap marker always fits and no record ever ends at the end.
static_assert(sizeof(AuQueuedMsg) == kRecordAlign);

} // namespace

CAuAudioMgr::~CAuAudioMgr() {
    Term();
}

AURESULT CAuAudioMgr::Init(u32 queueSize) {
    if (m_pRing) return AuResultFail;
    const u32 capacity = std::max(kMinQueueSize, queueSize & ~(kRecordAlign - 1));
    auto* ring = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, capacity));
    if (!ring) return AuResultNoMemory;
    if (m_pendingList.Init(kPendingLinks, AuPendingList::kNoMaximum) != AuResultSuccess ||
        m_pausedList.Init(kPendingLinks, AuPendingList::kNoMaximum) != AuResultSuccess) {
        m_pendingList.Term();
        m_pausedList.Term();
        AU::MemoryMgr::Free(g_DefaultPoolId, ring);
        return AuResultNoMemory;
    }
    HANDLE space = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!space) {
        m_pendingList.Term();
        m_pausedList.Term();
        AU::MemoryMgr::Free(g_DefaultPoolId, ring);
        return AuResultFail;
    }
    // Zero, so that every commit word starts unpublished.
    memset(ring, 0, capacity);
    m_pRing = ring;
    m_uCapacity = capacity;
    // Larger messages might never find room: the reader does not rewind an empty ring, so the
    // largest free span may be only half of it.
    m_uMaxMsgSize = std::min((capacity / 2 - 8) & ~(kRecordAlign - 1), kMaxRecordSize);
    m_hSpaceEvent = space;
    InitializeCriticalSection(&m_renderLock);
    m_bRenderLockMade = true;
    m_uRead.store(0);
    m_uWrite.store(0);
    m_bReaderStalled.store(false);
    m_uPostedFrames.store(0);
    m_uExecutedFrames.store(0);
    m_bWriterWaits.store(false);
    m_uExecutedMsgs = 0;
    return AuResultSuccess;
}

void CAuAudioMgr::Term() {
    if (m_pRing) {
        DropQueuedMessages();
        ClearPausedList();
        ClearPendingList();
        m_pausedList.Term();
        m_pendingList.Term();
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pRing);
        m_pRing = nullptr;
        m_uCapacity = 0;
        m_uMaxMsgSize = 0;
        m_uRead.store(0);
        m_uWrite.store(0);
    }
    if (m_hSpaceEvent) {
        CloseHandle(m_hSpaceEvent);
        m_hSpaceEvent = nullptr;
    }
    if (m_bRenderLockMade) {
        DeleteCriticalSection(&m_renderLock);
        m_bRenderLockMade = false;
    }
}

void CAuAudioMgr::SetAudioThreadId(DWORD threadId) {
    m_audioThreadId.store(threadId);
    // Writers waiting for a thread that has gone retry and run the passes themselves.
    if (threadId == 0 && m_hSpaceEvent) SetEvent(m_hSpaceEvent);
}

void CAuAudioMgr::WakeUp() {
    if (HANDLE wake = m_hWakeEvent.load(std::memory_order_acquire)) SetEvent(wake);
}

u32 CAuAudioMgr::PendingBytes() const {
    return Pending(ReadOffset(), WriteOffset());
}

bool CAuAudioMgr::TakeSpace(u32 s, u32& offset) {
    for (;;) {
        // W first, then R: R only grows the free space, so a later R is never too optimistic.
        u64 write = m_uWrite.load(std::memory_order_acquire);
        const u32 w = static_cast<u32>(write);
        const u32 lap = static_cast<u32>(write >> 32);
        const u32 r = m_uRead.load(std::memory_order_acquire);
        u64 next;
        bool wraps = false;
        // The strict "<" with 4 bytes spare keeps W from ever catching up with R: equal means empty.
        if (r > w) {
            if (s + 4 >= r - w) return false;
            next = PackWrite(lap, w + s);
        } else if (s + 4 < m_uCapacity - w) {
            next = PackWrite(lap, w + s);
        } else {
            if (s + 4 >= r) return false;
            next = PackWrite(lap + 1, s);
            wraps = true;
        }
        if (!m_uWrite.compare_exchange_weak(write, next, std::memory_order_acq_rel,
                                            std::memory_order_acquire))
            continue;
        if (!wraps) {
            offset = w;
            return true;
        }
        AuQueuedMsg* marker = At(w);
        marker->size = sizeof(AuQueuedMsg);
        marker->type = AuQueuedMsgType_WrapMarker;
        std::atomic_ref<u32>(marker->commit).store(1, std::memory_order_release);
        offset = 0;
        return true;
    }
}

bool CAuAudioMgr::WaitForSpace() {
    ResetEvent(m_hSpaceEvent);
    m_bWriterWaits.store(true);
    const DWORD audioThread = m_audioThreadId.load();
    // Waiting for a pass is safe only for a thread that does not hold g_csMain, which every pass
    // needs: a handler inside a pass, or any caller under the lock, must make the room itself.
    if (audioThread != 0 && audioThread != GetCurrentThreadId() && !CAuMainLock::HeldByThisThread()) {
        WakeUp();
        WaitForSingleObject(m_hSpaceEvent, INFINITE);
        return true;
    }
    CAuMainLock lock;
    if (m_uDispatchDepth >= kMaxDispatchDepth) return false;
    ProcessMsgQueue();
    return true;
}

AuQueuedMsg* CAuAudioMgr::ReserveQueue(u16 type, u32 size) {
    const u64 rounded = (u64{size} + kRecordAlign - 1) & ~u64{kRecordAlign - 1};
    if (size < sizeof(AuQueuedMsg) || rounded > m_uMaxMsgSize) return nullptr;
    const u32 s = static_cast<u32>(rounded);
    u32 offset;
    while (!TakeSpace(s, offset)) {
        if (!WaitForSpace()) return nullptr;
    }
    AuQueuedMsg* msg = At(offset);
    msg->size = static_cast<u16>(s);
    msg->type = type;
    return msg;
}

void CAuAudioMgr::PublishMsg(AuQueuedMsg* msg) {
    std::atomic_ref<u32>(msg->commit).store(1, std::memory_order_seq_cst);
    if (m_bReaderStalled.load(std::memory_order_seq_cst) && m_bReaderStalled.exchange(false)) WakeUp();
}

void CAuAudioMgr::WithdrawMsg(AuQueuedMsg* msg) {
    msg->type = AuQueuedMsgType_Cancelled;
    PublishMsg(msg);
}

AURESULT CAuAudioMgr::RenderAudio() {
    if (ReadOffset() == WriteOffset()) return AuResultSuccess;
    EnterCriticalSection(&m_renderLock);
    AuQueuedMsg* msg = ReserveQueue(AuQueuedMsgType_EndOfFrame, AuQueuedMsgSize<u32>());
    if (msg) {
        // Counted before it is published, so no pass can run it first. Records reserved before it
        // but still being filled stop the pass, and their posters wake it again.
        msg->As<u32>() = m_uPostedFrames.fetch_add(1, std::memory_order_acq_rel);
        PublishMsg(msg);
    }
    LeaveCriticalSection(&m_renderLock);
    WakeUp();
    return msg ? AuResultSuccess : AuResultFail;
}

AURESULT CAuAudioMgr::ProcessMsgQueue() noexcept {
    u32 read = m_uRead.load(std::memory_order_relaxed);
    if (read == WriteOffset() || (!m_bWriterWaits.load() && PostedFrames() == ExecutedFrames())) {
        SetEvent(m_hSpaceEvent);
        return AuResultSuccess;
    }
    ++m_uDispatchDepth;
    for (;;) {
        AuQueuedMsg* msg = At(read);
        // A writer still fills this record: stop before it; its poster wakes the next pass.
        if (std::atomic_ref<u32>(msg->commit).load(std::memory_order_acquire) == 0) {
            m_bReaderStalled.store(true, std::memory_order_seq_cst);
            if (std::atomic_ref<u32>(msg->commit).load(std::memory_order_seq_cst) == 0) break;
            m_bReaderStalled.store(false, std::memory_order_relaxed);
        }
        const u16 size = msg->size;
        const u16 type = msg->type;
        const u32 framesBefore = ExecutedFrames();
        if (type == AuQueuedMsgType_WrapMarker) {
            memset(msg, 0, sizeof(AuQueuedMsg));
            read = 0;
            m_uRead.store(read, std::memory_order_release);
            continue;
        }
        const AuMsgHandler handler = type < AuQueuedMsgType_WrapMarker ? m_handlers[type] : AuMsgHandler{};
        // The record is copied out and its space given back before it runs: a handler that posts
        // into a full ring runs a nested pass, which must start after this record.
        alignas(8) u8 local[kStackCopy];
        u8* copy = nullptr;
        if (handler.execute) {
            copy =
                size <= kStackCopy ? local : static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, size));
            if (copy)
                memcpy(copy, msg, size);
            else if (handler.drop)
                handler.drop(handler.context, *msg); // no memory to run it: release what it holds
        }
        // Zeroed before R moves on, so that a stale commit word is never taken for a new one.
        memset(msg, 0, size);
        read += size;
        m_uRead.store(read, std::memory_order_release);
        ++m_uExecutedMsgs;
        if (type == AuQueuedMsgType_EndOfFrame) {
            m_uExecutedFrames.fetch_add(1, std::memory_order_acq_rel);
        } else if (copy) {
            handler.execute(handler.context, *reinterpret_cast<const AuQueuedMsg*>(copy));
            if (copy != local) AU::MemoryMgr::Free(g_DefaultPoolId, copy);
            read = m_uRead.load(std::memory_order_relaxed); // a nested pass may have moved it
        }
        // The last posted frame may also have been closed by a nested pass inside the handler.
        if (ExecutedFrames() != framesBefore && ExecutedFrames() == PostedFrames()) break;
        const u32 write = WriteOffset();
        if (m_bWriterWaits.load() && Pending(read, write) > m_uCapacity / 2) break;
        if (read == write) break;
    }
    --m_uDispatchDepth;
    m_bWriterWaits.store(false);
    SetEvent(m_hSpaceEvent);
    return AuResultSuccess;
}

void CAuAudioMgr::DropQueuedMessages() {
    u32 read = ReadOffset();
    const u32 write = WriteOffset();
    while (read != write) {
        AuQueuedMsg* msg = At(read);
        if (std::atomic_ref<u32>(msg->commit).load(std::memory_order_acquire) == 0) break;
        const u16 size = msg->size;
        const u16 type = msg->type;
        if (type == AuQueuedMsgType_WrapMarker) {
            memset(msg, 0, sizeof(AuQueuedMsg));
            read = 0;
        } else {
            if (type < AuQueuedMsgType_WrapMarker && m_handlers[type].drop)
                m_handlers[type].drop(m_handlers[type].context, *msg);
            memset(msg, 0, size);
            read += size;
        }
        // Consumed as it goes, so a later drop or pass never sees the record again.
        m_uRead.store(read, std::memory_order_release);
    }
}

AURESULT AU::SoundEngine::RenderAudio() {
    return g_pAudioMgr ? g_pAudioMgr->RenderAudio() : AuResultFail;
}
