// The handlers of the messages that reach the game-object registry and the listeners.
#pragma once

class CAuAudioMgr;

// Plugs the handlers into the dispatcher's table; before the audio thread starts.
void AuRegisterObjectMsgHandlers(CAuAudioMgr& audioMgr);
