// The handlers of the messages that reach the game-object registry and the listeners, of those
// that reach the output devices, the capture and the random source, and of the game-parameter
// sets and resets.
#pragma once

class CAuAudioMgr;

// Plugs the handlers into the dispatcher's table; before the audio thread starts.
void AuRegisterObjectMsgHandlers(CAuAudioMgr& audioMgr);
void AuRegisterOutputMsgHandlers(CAuAudioMgr& audioMgr);
void AuRegisterRTPCMsgHandlers(CAuAudioMgr& audioMgr);
