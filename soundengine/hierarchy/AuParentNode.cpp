#include "hierarchy/AuParentNode.h"

#include "hierarchy/AuRecordCursor.h"

namespace {

bool IsExcepted(const AuActionExec& exec, const CAuNodeBase* child) {
    const bool isBus = (child->FlagsB() & AU_NODE_B_IS_BUS) != 0;
    for (u32 i = 0; i < exec.exceptionCount; ++i)
        if (exec.pExceptions[i].id == child->key && (exec.pExceptions[i].isBus != 0) == isBus) return true;
    return false;
}

u32 Position(const AuArray<CAuNodeBase*>& children, u32 id) {
    return children.LowerBound(id, [](CAuNodeBase* row, u32 wanted) { return row->key < wanted; });
}

} // namespace

CAuParentNode::~CAuParentNode() {
    m_children.Term();
}

CAuNodeBase* CAuParentNode::FindChild(u32 id) const {
    const u32 at = Position(m_children, id);
    return at < m_children.Count() && m_children[at]->key == id ? m_children[at] : nullptr;
}

AURESULT CAuParentNode::AddChild(CAuNodeBase* child) {
    if (!child) return AuResultFail;
    AURESULT result = CanAddChild(child);
    if (result == AuResultSuccess) {
        if (m_children.Insert(Position(m_children, child->key), child)) {
            child->SetParent(this);
            AddRef();
        } else {
            result = AuResultFail;
        }
    }
    child->Release();
    return result;
}

void CAuParentNode::RemoveChildByID(u32 id) {
    if (CAuNodeBase* child = FindChild(id)) RemoveChild(child);
}

void CAuParentNode::RemoveChild(CAuNodeBase* child) {
    if (!child || child->Parent() != this) return;
    child->SetParent(nullptr);
    const u32 at = Position(m_children, child->key);
    if (at < m_children.Count() && m_children[at] == child) {
        m_children.EraseOrdered(at);
        Release();
    }
}

void CAuParentNode::RemoveAllChildren() {
    // Holds this node while the children's references go.
    AddRef();
    while (m_children.Count() > 0)
        RemoveChild(m_children[m_children.Count() - 1]);
    Release();
}

void CAuParentNode::GatherChildren(u32 maximum, AuChildInfo* out, u32& count, u32 depth) {
    for (CAuNodeBase* child : m_children) {
        if (count >= maximum) return;
        out[count++] = AuChildInfo{child->key, key, depth};
        if (count >= maximum) return;
        child->GatherChildren(maximum, out, count, depth + 1);
    }
}

bool CAuParentNode::NotifyChildren(void* arg1, void* arg2, u32 arg3, u32 arg4, u32 arg5) {
    for (CAuNodeBase* child : m_children)
        child->NotifyChildren(arg1, arg2, arg3, arg4, arg5);
    return true;
}

AURESULT CAuParentNode::ExecuteAction(const AuActionExec& exec) {
    if (!m_pActivity || (m_pActivity->playing == 0 && m_pActivity->activity == 0)) return AuResultSuccess;
    if (exec.flags & AU_EXEC_PAUSE_TRANSITIONS) PauseTransitions(exec.kind == AuActionExec_Pause);
    // A record that came down from a bus reaches a child with a bus of its own through that bus.
    const bool skipOwnBus = (exec.flags & AU_EXEC_TRANSITIONS_HANDLED) != 0;
    for (u32 i = m_children.Count(); i-- > 0;) {
        if (i >= m_children.Count()) continue;
        CAuNodeBase* child = m_children[i];
        if (!(skipOwnBus && child->Bus())) child->ExecuteAction(exec);
    }
    return AuResultSuccess;
}

AURESULT CAuParentNode::ExecuteActionExcept(const AuActionExec& exec) {
    if (!m_pActivity || (m_pActivity->playing == 0 && m_pActivity->activity == 0)) return AuResultSuccess;
    if (!exec.pGameObj) PauseTransitions(exec.kind == AuActionExec_Pause);
    for (u32 i = m_children.Count(); i-- > 0;) {
        if (i >= m_children.Count()) continue;
        CAuNodeBase* child = m_children[i];
        if (!IsExcepted(exec, child)) child->ExecuteActionExceptChecked(exec);
    }
    return AuResultSuccess;
}

AURESULT CAuParentNode::PlayToEnd(CAuRegisteredObj* gameObj, u32 value, AuPlayingID playingID) {
    for (CAuNodeBase* child : m_children) {
        const AURESULT result = child->PlayToEnd(gameObj, value, playingID);
        if (result != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}

void CAuParentNode::ParamNotification(const AuParamChange& change) {
    ForEachActiveChild([&](CAuNodeBase& child) {
        if (change.bFlag && child.Bus()) return;
        if (!child.OverridesParam(change.target)) child.ParamNotification(change);
    });
}

void CAuParentNode::ParamNotificationEntry(const AuParamChange& change) {
    ForEachActiveChild([&](CAuNodeBase& child) {
        if (!(child.FlagsA() & AU_NODE_A_OVERRIDE_PRIORITY)) child.ParamNotificationEntry(change);
    });
}

void CAuParentNode::LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) {
    ForEachActiveChild([&](CAuNodeBase& child) { child.LevelNotificationForObject(level, gameObj, owner); });
}

void CAuParentNode::LevelNotification(f32 level, const void* owner) {
    ForEachActiveChild([&](CAuNodeBase& child) { child.LevelNotification(level, owner); });
}

void CAuParentNode::SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool flag) {
    ForEachActiveChild([&](CAuNodeBase& child) {
        if (!(child.FlagsB() & AU_NODE_B_OWN_POSITIONING)) child.SetBusValue(value, target, gameObj, flag);
    });
}

void CAuParentNode::RecalcNotification() {
    ForEachActiveChild([](CAuNodeBase& child) { child.RecalcNotification(); });
}

void CAuParentNode::BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool flag) {
    ForEachActiveChild([&](CAuNodeBase& child) {
        if (!(child.FlagsB() & AU_NODE_B_OVERRIDE_EFFECTS))
            child.BypassNotification(bits, mask, gameObj, flag);
    });
}

void CAuParentNode::EffectChanged(u32 slot) {
    ForEachActiveChild([&](CAuNodeBase& child) { child.EffectChanged(slot); });
}

void CAuParentNode::RecalcProps(u32 which) noexcept {
    ForEachActiveChild([&](CAuNodeBase& child) { child.RecalcProps(which); });
}

AURESULT CAuParentNode::PrepareData() {
    for (u32 i = 0; i < m_children.Count(); ++i) {
        const AURESULT result = m_children[i]->PrepareData();
        if (result == AuResultSuccess) continue;
        for (u32 done = 0; done < i; ++done)
            m_children[done]->UnPrepareData();
        return result;
    }
    return AuResultSuccess;
}

void CAuParentNode::UnPrepareData() {
    for (CAuNodeBase* child : m_children)
        child->UnPrepareData();
}

AURESULT CAuParentNode::SetChildren(AuRecordCursor& cursor) {
    u32 count = 0;
    if (!cursor.Read(count)) return AuResultBadHeader;
    if (count == 0) return AuResultSuccess;
    if (cursor.Left() / 4 < count) return AuResultBadHeader;
    if (m_children.Count() + count > m_children.Capacity() &&
        !m_children.Grow(m_children.Count() + count - m_children.Capacity()))
        return AuResultNoMemory;
    for (u32 n = 0; n < count; ++n) {
        u32 id = 0;
        cursor.Read(id);
        const AURESULT result = AddChildByID(id);
        if (result != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}
