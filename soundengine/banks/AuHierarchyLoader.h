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

// Replaces the loader of one type; an entry without `create` removes it.
void AuSetHierarchyLoader(u8 type, const AuHierarchyLoaderEntry& entry);
// Called around the hierarchy of every bank load (not a preparation), on the bank thread; the
// end also after a failed load. Null members are skipped.
void AuSetBankLoadHooks(void (*begin)(), void (*end)());
// States (1), actions (3) and events (4); the other classes install theirs.
void AuInstallCoreHierarchyLoaders();

// Reads a record of a type the core does not build (music): 1 read, 3 not handled, anything else
// fails the load. The reader is bounded to the record.
using AuBankExtensionReader = AURESULT (*)(u8 type, u32 size, CAuBankReader& reader, CAuLoadedBank* bank,
                                           u32 bankID);
void SetBankExtensionReader(AuBankExtensionReader reader);

// Releases every listed object, 255 per hold of g_csMain, then frees the list.
void AuReleaseBankObjects(AuBankObjectList& list);

class CAuHierarchyLoader : public IAuHierarchySink {
public:
    CAuHierarchyLoader() = default;
    CAuHierarchyLoader(const CAuHierarchyLoader&) = delete;
    CAuHierarchyLoader& operator=(const CAuHierarchyLoader&) = delete;
    // A load still open is closed.
    ~CAuHierarchyLoader();
    // The bank whose chunk is read next, and its list.
    void BeginBank(AuBankObjectList* list, CAuLoadedBank* bank, u32 bankID) override;

    AURESULT BeginHierarchy(u32 recordCount) override;
    AURESULT LoadRecord(u8 type, const u8* payload, u32 size) override;
    bool HasExtensionReader() override;
    AURESULT ReadExtensionRecord(u8 type, u32 size, CAuBankReader& reader) override;

private:
    void List(CAuIndexable* object);
    AURESULT LoadOne(const AuHierarchyLoaderEntry& entry, u32 id, u8 type, const u8* payload, u32 size);

    AuBankObjectList* m_pList = nullptr;
    CAuLoadedBank* m_pBank = nullptr;
    u32 m_bankID = 0;
    bool m_bLoadOpen = false;
};
