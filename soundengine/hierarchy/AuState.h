// One state's property values (hierarchy type 1, index table 2), and the records through which a
// node follows a state group: the values now in force, the transitions moving them and the
// CAuState object of each state of the group.
#pragma once

#include "core/AuObjectIndex.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuRecordCursor.h"
#include "memory/AuArray.h"
#include "parameters/AuPropBundle.h"

class CAuNodeBase;
class CAuStateGroupRecord;

class CAuState : public CAuIndexable {
public:
    // In the default pool and in index table 2; null without memory.
    static CAuState* Create(u32 id);

    u32 AddRef() override;
    u32 Release() override;
    // The bank payload after the ID: u8 n, n IDs, n values. 1, 52 without memory, 7 when the
    // record ends first.
    AURESULT SetInitialValues(AuRecordCursor& cursor);

    // The node that uses the object; set and cleared by the node.
    void SetParent(CAuNodeBase* node) { m_pParent = node; }
    void ClearParent() { m_pParent = nullptr; }
    CAuNodeBase* Parent() const { return m_pParent; }
    AuPropBundle& Props() { return m_props; }

private:
    explicit CAuState(u32 id) : CAuIndexable(id) {}
    ~CAuState() override = default;

    AuPropBundle m_props;
    CAuNodeBase* m_pParent = nullptr;
};

// The state manager's side of membership; the state manager installs it. Without one the
// records live unregistered and read state 0 as current.
class IAuStateMembership {
public:
    // 1, or the reason the member was refused.
    virtual AURESULT AddStateGroupMember(u32 groupID, CAuStateGroupRecord* member) = 0;
    virtual void RemoveStateGroupMember(u32 groupID, CAuStateGroupRecord* member) = 0;
    virtual u32 GetState(u32 groupID) = 0;
    // Frees every state group, or with `onlyEmpty` the groups that have no members left.
    virtual void RemoveAllStateGroups(bool onlyEmpty) = 0;

protected:
    ~IAuStateMembership() = default;
};
void AuSetStateMembership(IAuStateMembership* membership);
IAuStateMembership* AuGetStateMembership();

// The state-driven properties: 0 to 5.
constexpr u8 AU_STATE_PROPS = 6;

struct AuStateLink {
    u32 stateID;
    CAuState* pState; // one reference
};

struct AuStateValue {
    u8 id;
    f32 value;
    CAuTransition* pTransition; // the transition moving the value, or null
};

class CAuStateGroupRecord : public IAuTransitionTarget {
public:
    // Registered with the state manager; null when that is refused or without memory.
    static CAuStateGroupRecord* Create(CAuNodeBase& node, u32 groupID);
    // Unregisters from the state manager and from every CAuState it links, stops its transitions.
    virtual ~CAuStateGroupRecord();
    // The state manager's apply operation: one value now, the last one of its transition with
    // `done`.
    virtual void ApplyValue(u8 id, f32 value, bool done);
    // [audio thread] A transition's step.
    void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;

    // Links a state to the CAuState object of that ID: 16 when the object is not loaded, 52 when
    // the entry cannot be stored.
    AURESULT LinkState(u32 stateID, u32 objectID);
    // The linked object, without a reference; null when none.
    CAuState* FindState(u32 stateID) const;
    // Re-reads the values of the group's current state (0 for what it lacks); values that a
    // transition moves are left to it. 1, or 2 without memory.
    AURESULT UpdateValues();
    // The value now in force, 0.0 when none.
    f32 Value(u8 id) const;
    // The value's entry, made when missing (value 0.0); null without memory.
    AuStateValue* Entry(u8 id);
    // Stops every running transition; each one had counted one activity on the node.
    void StopTransitions();
    void PauseTransitions(bool pause);

    CAuStateGroupRecord* pNext = nullptr;
    CAuStateGroupRecord* pNextMember = nullptr; // the state manager's list of the group's members
    CAuNodeBase& node;
    AuArray<AuStateValue> values;
    AuArray<AuStateLink> links;
    u32 groupID;
    u32 stateAtCreation;
    u8 bankByte = 0; // music: the synchronisation byte of the record

private:
    CAuStateGroupRecord(CAuNodeBase& owner, u32 group, u32 state)
        : node(owner), groupID(group), stateAtCreation(state) {}

    bool m_bRegistered = true;
};
