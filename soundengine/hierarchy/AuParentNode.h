// The part of every node with children (the grouping node, the containers and the music nodes):
// the children array in ID order, adding and removing children, and the forwarding of actions,
// notifications and data preparation down the tree. Audio thread or g_csMain, as the node base
// says.
#pragma once

#include "hierarchy/AuParameterNode.h"

// The most children a grouping node or a container keeps: counts and indexes are 16-bit.
constexpr u32 AU_MAX_CHILDREN = 65535;

class CAuParentNode : public CAuParameterNode {
public:
    explicit CAuParentNode(u32 id) : CAuParameterNode(id) {}
    // The children have dropped their reference on this node already: the array is empty or
    // holds only what the destructor may no longer touch.
    ~CAuParentNode() override;

    // The concrete class's check before a child is added: 1 to accept it.
    virtual AURESULT CanAddChild(CAuNodeBase* child) = 0;

    // Consumes the caller's reference on the child in every case.
    AURESULT AddChild(CAuNodeBase* child) override;
    void RemoveChildByID(u32 id) override;
    void RemoveChild(CAuNodeBase* child) override;
    void GatherChildren(u32 maximum, AuChildInfo* out, u32& count, u32 depth) override;
    bool NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) override;
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    AURESULT ExecuteActionExcept(const AuActionExec& exec) override;
    AURESULT PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) override;
    void ParamNotification(const AuParamChange& change) override;
    void ParamNotificationEntry(const AuParamChange& change) override;
    void LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) override;
    void LevelNotification(f32 level, const void* owner) override;
    void SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) override;
    void RecalcNotification() override;
    void BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool flag) override;
    void EffectChanged(u32 slot) override;
    void RecalcProps(u32 which) noexcept override;
    // Every child in order; a failure unprepares those before it and is returned.
    AURESULT PrepareData() override;
    void UnPrepareData() override;

    // The bank's child list: u32 count, then the IDs, each added by ID; the first failure ends
    // the read. 52 when the array cannot be sized.
    AURESULT SetChildren(AuRecordCursor& cursor);
    u32 GetChildCount() const { return m_children.Count(); }
    CAuNodeBase* Child(u32 i) const { return m_children[i]; }
    // Every child leaves, giving back the reference it held on this node: a node whose read
    // failed after its child list must not be kept alive by its children.
    void RemoveAllChildren();
    // The child with this ID, without a reference; null when absent.
    CAuNodeBase* FindChild(u32 id) const;

protected:
    // The children that count something below this node, each with a playing count.
    template <class Visit> void ForEachActiveChild(Visit visit) {
        if (!m_pActivity) return;
        AuArray<CAuNodeBase*>& active = m_pActivity->activeChildren;
        // A child may leave the array while it is told: indices are checked each time.
        for (u32 i = active.Count(); i-- > 0;) {
            if (i >= active.Count()) continue;
            CAuNodeBase* child = active[i];
            if (child->Activity() && child->Activity()->playing != 0) visit(*child);
        }
    }

private:
    AuArray<CAuNodeBase*> m_children; // in ID order; the children hold references on this node
};
