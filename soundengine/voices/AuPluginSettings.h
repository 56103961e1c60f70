// A plug-in settings object (bank types 18 and 19) as the effect hosts use it, and the effect
// record a node gives for one of its effect slots.
#pragma once

#include "core/AuObjectIndex.h"

#include <AU/AuTypes.h>

struct AuRTPCKey;
namespace AU {
class IAuPluginParam;
}

class IAuPluginSettings : public CAuIndexable {
public:
    explicit IAuPluginSettings(u32 id) : CAuIndexable(id) {}
    // The registry key of the plug-in the settings are for.
    virtual u32 GetPluginID() noexcept = 0;
    // The parameter object every instance clones; null when the settings have none.
    virtual AU::IAuPluginParam* GetParams() noexcept = 0;
    // [audio thread] `target` follows the settings' game parameters for `key`, until unsubscribed.
    virtual void SubscribeRTPCs(AU::IAuPluginParam* target, const AuRTPCKey& key) noexcept = 0;
    virtual void UnsubscribeRTPCs(AU::IAuPluginParam* target) noexcept = 0;
};

struct AuEffectRecord {
    // With one reference for whoever asked; null for an empty slot.
    IAuPluginSettings* pSettings = nullptr;
    bool bBypass = false;
};
