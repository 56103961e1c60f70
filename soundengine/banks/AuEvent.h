// Events (hierarchy type 4, index table 3): what the game posts, a list of actions in bank order.
#pragma once

#include "banks/AuAction.h"
#include "banks/AuRecordCursor.h"
#include "core/AuObjectIndex.h"
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

private:
    explicit CAuEvent(u32 id) : CAuIndexable(id) {}
    ~CAuEvent() override;

    AuArray<CAuAction*> m_actions;
};
