// The grouping node (hierarchy type 7): children that share its parameters, and no play of its
// own. Audio thread or g_csMain, as the node base says.
#pragma once

#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuParentNode.h"

class CAuGroupingNode : public CAuParentNode {
public:
    // From the default pool, entered in the node table; null without memory.
    static CAuGroupingNode* Create(u32 id);
    explicit CAuGroupingNode(u32 id) : CAuParentNode(id) {}

    AuNodeCategory Category() override { return AuNodeCategory_Grouping; }
    // 9, 21, 5, 23, else 1.
    AURESULT CanAddChild(CAuNodeBase* child) override;
    // Nothing plays through the node itself: 0.
    AURESULT Play(AuNodePlayParams& params) override;
    // The common record of playable nodes, then the child list.
    AURESULT SetInitialValues(const u8* payload, u32 size);
};

AuHierarchyLoaderEntry AuGroupingLoaderEntry();
