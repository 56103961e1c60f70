// Where the music sequencers hear of the triggers posted on their game object. The state manager
// keeps the handlers per game object and installs itself here; until it does, no handler is
// registered and no trigger reaches the music.
#pragma once

#include <AU/AuTypes.h>

class CAuRegisteredObj;

// [audio thread] The only slot: a trigger posted on the handler's game object.
class IAuTriggerHandler {
public:
    virtual void Trigger(AuUniqueID triggerID) noexcept = 0;

protected:
    ~IAuTriggerHandler() = default;
};

class IAuTriggerRegistry {
public:
    virtual AURESULT RegisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept = 0;
    virtual void UnregisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept = 0;

protected:
    ~IAuTriggerRegistry() = default;
};

// Installed before the sound engine's audio thread starts and removed after it stops; read under
// g_csMain by the sequencers.
void AuSetTriggerRegistry(IAuTriggerRegistry* registry) noexcept;
IAuTriggerRegistry* AuGetTriggerRegistry() noexcept;
