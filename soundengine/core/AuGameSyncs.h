// The state and switch managers' ways into the rest of the engine: the actions' game-sync seam,
// state membership, the music's trigger registry, the bank manager's game-sync preparation and
// the game objects' links; and the handlers of the set-state, set-switch and trigger messages.
#pragma once

class CAuAudioMgr;
class CAuBankMgr;
class CAuMixer;

// Once both managers exist, before any bank is read; the mixer hears listener-mask changes.
void AuInstallGameSyncs(CAuBankMgr* bankMgr, CAuMixer& mixer);
// Before the managers go: every seam back to its uninstalled behaviour.
void AuRemoveGameSyncs(CAuBankMgr* bankMgr);
// Before the audio thread starts.
void AuRegisterGameSyncMsgHandlers(CAuAudioMgr& audioMgr);
