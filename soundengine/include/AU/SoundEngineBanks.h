// The exported bank calls: loading, unloading and preparing banks, events and game syncs, and
// media handed in by the game. Each synchronous form returns once its request has run; each
// callback form returns the queueing result and reports through the callback later.
#pragma once

#include <AU/AuBankTypes.h>
#include <AU/AuTypes.h>

namespace AU::SoundEngine {

using PreparationType = AuPreparationType;

// By bank ID (the file "<ID>.bnk").
AURESULT LoadBank(AuBankID bankID, AuMemPoolId poolID);
AURESULT LoadBank(AuBankID bankID, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID);
// By name: the bank ID of the name without its extension; the file is "<name>.bnk".
AURESULT LoadBank(const char* name, AuMemPoolId poolID, AuBankID& outBankID);
AURESULT LoadBank(const char* name, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID);
AURESULT LoadBank(const wchar_t* name, AuMemPoolId poolID, AuBankID& outBankID);
AURESULT LoadBank(const wchar_t* name, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID);
// An image in memory used where it lies: 16-byte aligned, at least 28 bytes, kept until the
// bank is unloaded (31 otherwise, nothing queued).
AURESULT LoadBank(const void* memory, u32 size, AuBankID& outBankID);
AURESULT LoadBank(const void* memory, u32 size, AuBankCallbackFunc callback, void* cookie,
                  AuBankID& outBankID);
// An image in memory copied into the pool (-1: a pool made for the bank).
AURESULT LoadBank(const void* memory, u32 size, AuMemPoolId poolID, AuBankID& outBankID);
AURESULT LoadBank(const void* memory, u32 size, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID);

// `memory`: the image of a bank loaded in place, else null. The synchronous forms return once
// the audio thread has let go of the bank's data; `outPoolID` receives the pool that held it.
AURESULT UnloadBank(AuBankID bankID, const void* memory, AuMemPoolId* outPoolID = nullptr);
AURESULT UnloadBank(AuBankID bankID, const void* memory, AuBankCallbackFunc callback, void* cookie);
AURESULT UnloadBank(const char* name, const void* memory, AuMemPoolId* outPoolID = nullptr);
AURESULT UnloadBank(const char* name, const void* memory, AuBankCallbackFunc callback, void* cookie);
AURESULT UnloadBank(const wchar_t* name, const void* memory, AuMemPoolId* outPoolID = nullptr);
AURESULT UnloadBank(const wchar_t* name, const void* memory, AuBankCallbackFunc callback, void* cookie);

AURESULT PrepareBank(PreparationType type, AuBankID bankID, AuBankContent content = AuBankContent_All);
AURESULT PrepareBank(PreparationType type, AuBankID bankID, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content = AuBankContent_All);
AURESULT PrepareBank(PreparationType type, const char* name, AuBankContent content = AuBankContent_All);
AURESULT PrepareBank(PreparationType type, const char* name, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content = AuBankContent_All);
AURESULT PrepareBank(PreparationType type, const wchar_t* name, AuBankContent content = AuBankContent_All);
AURESULT PrepareBank(PreparationType type, const wchar_t* name, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content = AuBankContent_All);

// Events prepared keep the structure of the banks their play actions name and the media of
// their sounds. 31 for no IDs or 2^30 and more; one name that hashes to 0 is 15.
AURESULT PrepareEvent(PreparationType type, const AuUniqueID* eventIDs, u32 count);
AURESULT PrepareEvent(PreparationType type, const AuUniqueID* eventIDs, u32 count,
                      AuBankCallbackFunc callback, void* cookie);
AURESULT PrepareEvent(PreparationType type, const char** names, u32 count);
AURESULT PrepareEvent(PreparationType type, const char** names, u32 count, AuBankCallbackFunc callback,
                      void* cookie);
AURESULT PrepareEvent(PreparationType type, const wchar_t** names, u32 count);
AURESULT PrepareEvent(PreparationType type, const wchar_t** names, u32 count, AuBankCallbackFunc callback,
                      void* cookie);

// The values of one state or switch group (`groupType`) kept prepared with their media. 31 for no
// values or 2^30 and more.
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, AuUniqueID groupID, const AuUniqueID* valueIDs,
                          u32 count);
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, AuUniqueID groupID, const AuUniqueID* valueIDs,
                          u32 count, AuBankCallbackFunc callback, void* cookie);
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const char* groupName, const char** valueNames,
                          u32 count);
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const char* groupName, const char** valueNames,
                          u32 count, AuBankCallbackFunc callback, void* cookie);
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const wchar_t* groupName,
                          const wchar_t** valueNames, u32 count);
AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const wchar_t* groupName,
                          const wchar_t** valueNames, u32 count, AuBankCallbackFunc callback, void* cookie);

// Every prepared event loses all its preparations.
AURESULT ClearPreparedEvents();

// Clears the prepared events, then unloads every loaded bank, the last found first; 2 before Init.
AURESULT ClearBanks();

// No callback of the requests queued so far with this cookie is made; waits for a running one
// unless called from a bank callback.
void CancelBankCallbackCookie(void* cookie);

// Throughput in bytes per millisecond (not negative) and priority 0 to 100 of bank reading:
// 31 and the settings kept otherwise; 2 before Init.
AURESULT SetBankLoadIOSettings(f32 throughput, u8 priority);

// Media that sources find by ID until unset; the memory stays the game's. 31 for a null array,
// 1 for none; a setting without memory or size refuses the whole call (2), nothing changed.
AURESULT SetMedia(const AuSourceSettings* settings, u32 count);
AURESULT UnsetMedia(const AuSourceSettings* settings, u32 count);

} // namespace AU::SoundEngine
