// File names of banks by bank ID, filled by the game's bank names and by "STID" chunks.
#pragma once

#include <AU/AuTypes.h>

#include <windows.h>

class CAuBankFileNames {
public:
    static constexpr u32 kBuckets = 193;

    CAuBankFileNames();
    CAuBankFileNames(const CAuBankFileNames&) = delete;
    CAuBankFileNames& operator=(const CAuBankFileNames&) = delete;
    ~CAuBankFileNames();

    // Stores the name with ".bnk" appended unless the ID has a name already (the first one
    // stays). 52 when the memory cannot be had.
    AURESULT SetBankFileName(u32 bankID, const char* name, u32 length);
    AURESULT SetBankFileName(u32 bankID, const char* name);
    // Copies the stored name into `out` (terminated, cut to `capacity`); false when none.
    bool GetBankFileName(u32 bankID, char* out, u32 capacity);
    u32 Count();
    // Frees every name.
    void Term();

private:
    struct Entry {
        Entry* pNext;
        u32 bankID;
        char* pszName;
    };

    CRITICAL_SECTION m_lock;
    Entry* m_buckets[kBuckets] = {};
    u32 m_uCount = 0;
};
