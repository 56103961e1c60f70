// Events (hierarchy type 4, index table 3): what the game posts, a list of actions in bank order.
#pragma once

#include "banks/AuBankMgr.h"
#include "core/AuObjectIndex.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuRecordCursor.h"
#include "memory/AuArray.h"

class CAuEvent : public CAuIndexable {
public:
    // From the default pool with an empty list; null without memory.
    static CAuEvent* Create(u32 id);

    u32 AddRef() override;
    u32 Release() override;
    // The whole type-4 payload: u32 ID, u32 n, n action IDs. 1; 14 for an action ID 0, 2 for one
    // not loaded, 7 when the payload ends first (nothing sized by the count then), 52 when the list
    // cannot be had. Actions listed before a failure stay until the event goes.
    AURESULT SetInitialValues(AuRecordCursor& cursor);
    // Index table 3.
    void AddToIndex();
    // Slot 14 of the target of every play action of exactly type 0x0403, with the arguments; 1.
    AURESULT ForEachPlayTarget(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5);
    // One counted entry per listing, in bank order: an action listed twice is there twice.
    const AuArray<CAuAction*>& Actions() const { return m_actions; }
    // PrepareEvent calls not yet undone; the bank thread's, or g_csMain's holder's.
    u32 Preparations() const { return m_uPreparations; }
    void SetPreparations(u32 count) { m_uPreparations = count; }

private:
    explicit CAuEvent(u32 id) : CAuIndexable(id) {}
    ~CAuEvent() override;

    AuArray<CAuAction*> m_actions;
    u32 m_uPreparations = 0;
};

// What the bank manager walks to prepare events: the event table and each event's play actions
// (type exactly 0x0403). A play action stands for its target node, which is looked up only when
// its data is prepared: it may come with the bank that the preparation has just read.
class CAuEventPreparation final : public IAuEventPreparation {
public:
    void* AcquireEvent(u32 eventID) override;
    void ReleaseEvent(void* event) override;
    u32 PreparationCount(void* event) override;
    void SetPreparationCount(void* event, u32 count) override;
    u32 PlayActionCount(void* event) override;
    PlayAction GetPlayAction(void* event, u32 index) override;
    // 15 when the target is not loaded.
    AURESULT PrepareData(void* action) override;
    void UnPrepareData(void* action) override;
    u32 CollectPreparedEvents(void** out, u32 capacity) override;
};
