// What the game hands to the bank calls and gets back from them.
#pragma once

#include <AU/AuTypes.h>

using AuBankID = u32;

// Called once per bank request that carried it: on the bank thread with the threaded bank
// manager, else on the thread that made the request. `memory` is the image of a bank loaded in
// place; `poolID` the pool that held the bank's data, or -1.
using AuBankCallbackFunc = void (*)(u32 bankID, const void* memory, AURESULT result, AuMemPoolId poolID,
                                    void* cookie);

// One media handed in by the game: its ID, where its bytes lie and how many there are.
struct AuSourceSettings {
    u32 sourceID;
    const u8* pMediaMemory;
    u32 uMediaSize;
};

// Prepare events and banks: 0 prepares, any other value unprepares.
enum AuPreparationType : u32 {
    AuPreparation_Load = 0,
    AuPreparation_Unload = 1,
};

// What PrepareBank reads: the structure and the media, or the structure only.
enum AuBankContent : u32 {
    AuBankContent_All = 1,
    AuBankContent_StructureOnly = 2,
};
