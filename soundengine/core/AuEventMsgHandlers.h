// The handlers of the messages that start and steer playback: a posted event, stop all, stop a
// playing ID, an action on an event and a seek on an event; and the pending-action queue as a
// node's deferred play reaches it.
#pragma once

class CAuAudioMgr;

// Plugs the handlers and their drops into the dispatcher's table; before the audio thread starts.
void AuRegisterEventMsgHandlers(CAuAudioMgr& audioMgr);
