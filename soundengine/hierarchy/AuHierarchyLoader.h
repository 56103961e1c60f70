// Turns the records of a bank's "HIRC" chunk into live objects: each is found in its index table
// or created and read under g_csMain, then listed in the bank's object list, which owns one
// reference per entry. One loader entry per hierarchy type; the issue of each class fills its own.
#pragma once

#include "banks/AuBankSinks.h"
#include "core/AuObjectIndex.h"
#include "memory/AuArray.h"

class CAuBankReader;

struct AuHierarchyLoaderEntry {
    AuIndexTableId table = AuIndexNodes;
    // Under g_csMain (events: outside it): a new object of the payload's ID, entered in its table
    // unless `indexAfterRead`; null without memory or for a payload that names no class (2).
    CAuIndexable* (*create)(u32 id, const u8* payload, u32 size) = nullptr;
    // Under g_csMain: reads the whole payload; `present` when the object was there already.
    AURESULT (*read)(CAuIndexable& object, const u8* payload, u32 size, bool present) = nullptr;
    // Whether an object found present is read again; null: kept as it is.
    bool (*readAgain)(CAuIndexable& object) = nullptr;
    // Entered in its table only after a successful read (events).
    void (*addToIndex)(CAuIndexable& object) = nullptr;
    // After every record of the type, whether its object was made, found or refused.
    void (*afterRecord)() = nullptr;
};

// Replaces the loader of one type; an entry without `create` removes it. Tests use it to stand in
// for classes not built yet.
void AuSetHierarchyLoader(u8 type, const AuHierarchyLoaderEntry& entry);
// Called around the hierarchy of every bank read (loaded or prepared), on the bank thread; the
// end also after a failed read. Null members are skipped.
void AuSetBankLoadHooks(void (*begin)(), void (*end)());
// The one place where the engine's loader entries are set, one line per type whose class is
// built: each class offers its entry and adds its line there. The engine's Init calls it; a type
// without an entry fails a load with 3.
void AuInstallCoreHierarchyLoaders();

// A record of a type the core hands to the bank extension reader (the music types), loaded with
// its type's entry into the bank's object list as the chunk loop would; 3 for a type without one.
AURESULT AuLoadExtensionRecord(u8 type, const u8* payload, u32 size, CAuLoadedBank& bank);

// Releases every listed object from `first` on, 255 per hold of g_csMain; the list keeps the
// ones before. From 0 the list's storage is freed as well.
void AuReleaseBankObjects(AuBankObjectList& list, u32 first = 0);

class CAuHierarchyLoader : public IAuHierarchySink {
public:
    CAuHierarchyLoader() = default;
    CAuHierarchyLoader(const CAuHierarchyLoader&) = delete;
    CAuHierarchyLoader& operator=(const CAuHierarchyLoader&) = delete;
    // A read still open is closed.
    ~CAuHierarchyLoader();
    // The bank whose chunk is read next, and its list: a loaded or a prepared bank alike.
    void BeginBank(AuBankObjectList* list, CAuLoadedBank* bank, u32 bankID) override;

    AURESULT BeginHierarchy(u32 recordCount) override;
    AURESULT LoadRecord(u8 type, const u8* payload, u32 size) override;
    // The engine's bank extension reader (AU::SoundEngine::SetBankExtensionReader), which takes
    // the record whole: its 5-byte header, then the payload.
    bool HasExtensionReader() override;
    AURESULT ReadExtensionRecord(u8 type, u32 size, CAuBankReader& reader) override;

private:
    AuBankObjectList* m_pList = nullptr;
    CAuLoadedBank* m_pBank = nullptr;
    u32 m_bankID = 0;
    bool m_bLoadOpen = false;
};
