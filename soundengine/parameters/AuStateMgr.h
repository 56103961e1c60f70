// States, trigger handlers and the prepared game-sync lists. A state group is a game-wide switch:
// its current state moves a few properties of every node that follows it. Every operation runs
// on the audio thread or the bank thread under g_csMain; the manager's own lock guards only the
// lookup and creation of prepared records, which the bank thread also reaches.
#pragma once

#include "banks/AuBankMgr.h"
#include "hierarchy/AuState.h"
#include "memory/AuArray.h"
#include "memory/AuPoolList.h"
#include "music/AuMusicTriggers.h"
#include "parameters/AuSwitchMgr.h"

#include <windows.h>

// AuGroupType: 1 a state group, anything else a switch group.
constexpr u32 AU_GROUP_TYPE_STATE = 1;

// Follows the prepared values of one group (switch containers, music switch nodes): each one
// prepared or unprepared reaches ModifyActiveState.
class CAuPreparationAware {
public:
    // 1, or why the value's media cannot be had.
    virtual AURESULT ModifyActiveState(u32 valueID, bool prepare) noexcept = 0;

    // At the head of the group's subscribers: 1, or 2 when the record cannot be had.
    AURESULT SubscribePrepare(u32 groupID, u32 groupType);
    // Nothing when not subscribed.
    void UnsubscribePrepare(u32 groupID, u32 groupType);

    CAuPreparationAware* pNextPrepare = nullptr;

protected:
    ~CAuPreparationAware() = default;
};

struct AuPreparedGameSync {
    AuPreparedGameSync* pNext;
    AuArray<u32> values; // removal moves the last into the hole
    u32 groupID;
    CAuPreparationAware* pHead; // newest first
    CAuPreparationAware* pTail;
};

class CAuStateMgr final : public IAuStateMembership,
                          public IAuTriggerRegistry,
                          public IAuGameSyncPreparation {
public:
    CAuStateMgr();
    ~CAuStateMgr();
    CAuStateMgr(const CAuStateMgr&) = delete;
    CAuStateMgr& operator=(const CAuStateMgr&) = delete;

    // Both pooled lists with 8 items each; 52 without memory.
    AURESULT Init();
    // Every group, both pooled lists and both prepared lists.
    void Term();

    // 1 also when the group exists; 2 without memory.
    AURESULT AddStateGroup(u32 groupID);
    // 20 for an unknown group.
    AURESULT SetDefaultTransitionTime(u32 groupID, u32 ms);
    // (from, to) only unless `bothWays`; 20 for an unknown group, 2 without memory.
    AURESULT AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms, bool bothWays);

    AURESULT AddStateGroupMember(u32 groupID, CAuStateGroupRecord* member) override;
    void RemoveStateGroupMember(u32 groupID, CAuStateGroupRecord* member) override;
    u32 GetState(u32 groupID) override;
    void RemoveAllStateGroups(bool onlyEmpty) override;

    // 31 for a null follower, 2 without memory.
    AURESULT RegisterSwitch(CAuSwitchAware* follower, u32 groupID);
    // Every registration of the follower.
    void UnregisterSwitch(CAuSwitchAware* follower);

    // `skipTransition` (flag A): at once, and the music hook is not asked; `skipExtension` (flag
    // B): followers and the music hook are left out. An unknown group is ignored. [audio thread]
    void SetState(u32 groupID, u32 stateID, bool skipTransition, bool skipExtension) noexcept;

    // With trigger ID 0: every trigger on the object (null: on every object). 2 without memory.
    AURESULT RegisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept override;
    // Every registration of the handler, whatever its object.
    void UnregisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept override;
    // Null object: every handler; else only those registered on it. [audio thread]
    void Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept;

    // Found or made under the manager's lock; null without memory.
    AuPreparedGameSync* GetPreparedGameSyncGroup(u32 groupID, u32 groupType);
    // Found only; null without a record.
    AuPreparedGameSync* FindPrepared(u32 groupID, u32 groupType);
    // The prepared values, null without a record. The caller holds g_csMain while it reads them.
    AuArray<u32>* GetPreparedGameSyncValues(u32 groupID, u32 groupType);
    // Appends or removes the value and tells the subscribers; a subscriber failing a preparation
    // rolls it back. Bank thread or audio thread.
    AURESULT PrepareGameSync(u32 groupType, u32 groupID, u32 valueID, bool prepare) override;

    u32 GroupCount() const { return m_groups.Count(); }

private:
    struct TransitionTime {
        u32 from;
        u32 to;
        u32 ms;
    };
    struct Group {
        u32 defaultMs;
        u32 current;
        CAuStateGroupRecord* pMembers; // newest first
        AuArray<TransitionTime> transitions;
    };
    struct GroupSlot {
        u32 id;
        Group* pGroup;
    };
    struct Follower {
        CAuSwitchAware* pFollower;
        u32 groupID;
    };
    struct TriggerHandler {
        IAuTriggerHandler* pHandler;
        u32 triggerID;
        CAuRegisteredObj* pGameObj;
    };

    Group* FindGroup(u32 groupID) const;
    static void FreeGroup(Group* group);
    AURESULT SetTransitionTime(Group& group, u32 from, u32 to, u32 ms);
    u32 TransitionMs(const Group& group, u32 from, u32 to) const;
    void MoveMember(CAuStateGroupRecord& member, u32 stateID, i32 ms) noexcept;
    AuPreparedGameSync*& PreparedList(u32 groupType) {
        return groupType == AU_GROUP_TYPE_STATE ? m_pPreparedStates : m_pPreparedSwitches;
    }
    static void FreePrepared(AuPreparedGameSync*& head);

    AuArray<GroupSlot> m_groups;
    AuPoolList<Follower> m_followers;
    AuPoolList<TriggerHandler> m_triggers;
    CRITICAL_SECTION m_lock;
    AuPreparedGameSync* m_pPreparedStates = nullptr;
    AuPreparedGameSync* m_pPreparedSwitches = nullptr;
};
