#include "hierarchy/AuGroupingNode.h"

#include <AU/MemoryMgr.h>

#include <new>

CAuGroupingNode* CAuGroupingNode::Create(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuGroupingNode));
    if (!memory) return nullptr;
    auto* node = new (memory) CAuGroupingNode(id);
    node->AddToIndex();
    return node;
}

AURESULT CAuGroupingNode::CanAddChild(CAuNodeBase* child) {
    if (GetChildCount() >= AU_MAX_CHILDREN) return AuResultTooManyChildren;
    if (child->Parent()) return AuResultChildHasParent;
    if (FindChild(child->key)) return AuResultAlreadyAChild;
    if (child->key == key) return AuResultCannotBeOwnChild;
    return AuResultSuccess;
}

AURESULT CAuGroupingNode::Play(AuNodePlayParams&) {
    return AuResultNotImplemented;
}

AURESULT CAuGroupingNode::SetInitialValues(const u8* payload, u32 size) {
    AuRecordCursor cursor(payload, size);
    if (!cursor.Skip(4)) return AuResultBadHeader;
    const AURESULT result = SetNodeBaseParams(cursor, false);
    return result == AuResultSuccess ? SetChildren(cursor) : result;
}

namespace {

CAuIndexable* CreateGrouping(u32 id, const u8*, u32) {
    return CAuGroupingNode::Create(id);
}

AURESULT ReadGrouping(CAuIndexable& object, const u8* payload, u32 size, bool) {
    auto& node = static_cast<CAuGroupingNode&>(object);
    const AURESULT result = node.SetInitialValues(payload, size);
    // A node refused after its child list lets its children go, so that the loader's release
    // destroys it.
    if (result != AuResultSuccess) node.RemoveAllChildren();
    return result;
}

} // namespace

AuHierarchyLoaderEntry AuGroupingLoaderEntry() {
    return {AuIndexNodes, &CreateGrouping, &ReadGrouping, nullptr, nullptr};
}
