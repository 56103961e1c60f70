#include "hierarchy/AuHierarchyLoader.h"

#include "banks/AuBankMgr.h"
#include "banks/AuBankReader.h"
#include "core/AuLog.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuAttenuation.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuContainer.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuGroupingNode.h"
#include "hierarchy/AuSound.h"
#include "hierarchy/AuState.h"
#include "music/AuMusicNodes.h"
#include "parameters/AuModulator.h"
#include "plugins/AuPluginSettings.h"

#include <AU/MemoryMgr.h>

#include <cassert>

namespace {

constexpr u32 kTypes = 256;
// Releases per hold of g_csMain while a bank's objects go.
constexpr u32 kReleaseBatch = 255;

AuHierarchyLoaderEntry s_loaders[kTypes];
void (*s_pfnBeginLoad)() = nullptr;
void (*s_pfnEndLoad)() = nullptr;

u32 LoadU32(const u8* at) {
    return u32(at[0]) | u32(at[1]) << 8 | u32(at[2]) << 16 | u32(at[3]) << 24;
}

CAuIndexable* CreateState(u32 id, const u8*, u32) {
    return CAuState::Create(id);
}

AURESULT ReadState(CAuIndexable& object, const u8* payload, u32 size, bool) {
    AuRecordCursor cursor(payload, size);
    cursor.Skip(4);
    return static_cast<CAuState&>(object).SetInitialValues(cursor);
}

CAuIndexable* CreateAttenuation(u32 id, const u8*, u32) {
    return CAuAttenuation::Create(id);
}

AURESULT ReadAttenuation(CAuIndexable& object, const u8* payload, u32 size, bool) {
    return static_cast<CAuAttenuation&>(object).SetAttenuationParams(payload, size);
}

CAuIndexable* CreateAction(u32 id, const u8* payload, u32 size) {
    if (size < 6) return nullptr;
    const u16 type = static_cast<u16>(payload[4] | payload[5] << 8);
    CAuAction* action = CreateActionByType(type, id);
    if (!action) AuLog(AuLogLevel::Error, "bank: action %u has the unknown type %04X", id, type);
    return action;
}

AURESULT ReadAction(CAuIndexable& object, const u8* payload, u32 size, bool) {
    AuRecordCursor cursor(payload, size);
    return static_cast<CAuAction&>(object).SetInitialValues(cursor);
}

// A play action learns its bank ID from the first bank that carries its play part.
bool ReadActionAgain(CAuIndexable& object) {
    auto& action = static_cast<CAuAction&>(object);
    return action.ActionType() == AU_ACTION_PLAY && !(action.Flags() & AU_ACTION_BANK_ID_READ);
}

CAuIndexable* CreateEvent(u32 id, const u8*, u32) {
    return CAuEvent::Create(id);
}

AURESULT ReadEvent(CAuIndexable& object, const u8* payload, u32 size, bool) {
    AuRecordCursor cursor(payload, size);
    return static_cast<CAuEvent&>(object).SetInitialValues(cursor);
}

void IndexEvent(CAuIndexable& object) {
    static_cast<CAuEvent&>(object).AddToIndex();
}

CAuIndexable* CreateSharedPluginSettings(u32 id, const u8*, u32) {
    return CAuPluginSettingsType18::Create(id);
}

CAuIndexable* CreatePluginSettings(u32 id, const u8*, u32) {
    return CAuPluginSettingsType19::Create(id);
}

AURESULT ReadPluginSettings(CAuIndexable& object, const u8* payload, u32 size, bool) {
    return static_cast<CAuPluginSettings&>(object).LoadPluginSettings(payload, size);
}

CAuIndexable* CreateLfo(u32 id, const u8*, u32) {
    return CAuModulator::Create(id, AuModulatorKind_Lfo);
}

CAuIndexable* CreateEnvelope(u32 id, const u8*, u32) {
    return CAuModulator::Create(id, AuModulatorKind_Envelope);
}

AURESULT ReadModulator(CAuIndexable& object, const u8* payload, u32 size, bool) {
    return static_cast<CAuModulator&>(object).SetInitialValues(payload, size);
}

} // namespace

void AuSetHierarchyLoader(u8 type, const AuHierarchyLoaderEntry& entry) {
    s_loaders[type] = entry;
}

void AuInstallCoreHierarchyLoaders() {
    // In type order, one line per class.
    AuSetHierarchyLoader(AuHierarchyTypeState, {AuIndexStates, &CreateState, &ReadState, nullptr, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypeSound, AuSoundLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeAction,
                         {AuIndexActions, &CreateAction, &ReadAction, &ReadActionAgain, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypeEvent,
                         {AuIndexEvents, &CreateEvent, &ReadEvent, nullptr, &IndexEvent});
    AuSetHierarchyLoader(AuHierarchyTypeRandomSequence, AuRandomSequenceLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeGrouping, AuGroupingLoaderEntry());
    AuInstallBusHierarchyLoaders(); // 8 and 16
    // 10 to 13 reach their entries through the music engine's bank extension reader.
    AuSetHierarchyLoader(AuHierarchyTypeMusicSegment, AuMusicSegmentLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeMusicTrack, AuMusicTrackLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeMusicSwitch, AuMusicSwitchLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeMusicPlaylist, AuMusicPlaylistLoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeAttenuation,
                         {AuIndexAttenuations, &CreateAttenuation, &ReadAttenuation, nullptr, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypeLeafType17, AuLeafType17LoaderEntry());
    AuSetHierarchyLoader(
        AuHierarchyTypeSharedPluginSettings,
        {AuIndexPluginSettings18, &CreateSharedPluginSettings, &ReadPluginSettings, nullptr, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypePluginSettings, {AuIndexPluginSettings19, &CreatePluginSettings,
                                                         &ReadPluginSettings, nullptr, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypeBusType20, AuBusType20LoaderEntry());
    AuSetHierarchyLoader(AuHierarchyTypeLfo,
                         {AuIndexModulators, &CreateLfo, &ReadModulator, nullptr, nullptr});
    AuSetHierarchyLoader(AuHierarchyTypeEnvelope,
                         {AuIndexModulators, &CreateEnvelope, &ReadModulator, nullptr, nullptr});
}

void AuSetBankLoadHooks(void (*begin)(), void (*end)()) {
    s_pfnBeginLoad = begin;
    s_pfnEndLoad = end;
}

void AuReleaseBankObjects(AuBankObjectList& list, u32 first) {
    for (u32 at = first; at < list.Count();) {
        CAuMainLock lock;
        for (u32 n = 0; n < kReleaseBatch && at < list.Count(); ++n, ++at)
            list[at]->Release();
    }
    if (first == 0) {
        list.Term();
        return;
    }
    while (list.Count() > first)
        list.EraseSwap(list.Count() - 1);
}

CAuHierarchyLoader::~CAuHierarchyLoader() {
    if (m_bLoadOpen && s_pfnEndLoad) s_pfnEndLoad();
}

void CAuHierarchyLoader::BeginBank(AuBankObjectList* list, CAuLoadedBank* bank, u32 bankID) {
    // The bank manager opens each bank with its list and closes it with none.
    if (m_bLoadOpen && s_pfnEndLoad) s_pfnEndLoad();
    m_bLoadOpen = false;
    m_pList = list;
    m_pBank = bank;
    m_bankID = bankID;
    if (list && s_pfnBeginLoad) {
        s_pfnBeginLoad();
        m_bLoadOpen = true;
    }
}

AURESULT CAuHierarchyLoader::BeginHierarchy(u32 recordCount) {
    if (!m_pList) {
        AuLog(AuLogLevel::Error, "bank: hierarchy records read for no bank");
        return AuResultFail;
    }
    return m_pList->Grow(recordCount) ? AuResultSuccess : AuResultFail;
}

namespace {

void List(AuBankObjectList& list, CAuIndexable* object) {
    // The list was grown by the record count and each record lists at most one object; should
    // an append still find no room, the reference is given back rather than kept by no one.
    const bool listed = list.Count() < list.Capacity() && list.AddLast(object);
    assert(listed);
    if (!listed) object->Release();
}

AURESULT LoadOne(const AuHierarchyLoaderEntry& entry, u32 id, u8 type, const u8* payload, u32 size,
                 AuBankObjectList& list) {
    CAuIndexable* object = g_pIndex->GetPtrAndAddRef(entry.table, id);
    AURESULT result = AuResultSuccess;
    if (!object) {
        if (entry.addToIndex) {
            // Built outside the lock, visible only once read.
            object = entry.create(id, payload, size);
            if (!object) return AuResultFail;
            CAuMainLock lock;
            result = entry.read(*object, payload, size, false);
            if (result == AuResultSuccess) entry.addToIndex(*object);
        } else {
            CAuMainLock lock;
            object = entry.create(id, payload, size);
            if (!object) return AuResultFail;
            result = entry.read(*object, payload, size, false);
        }
    } else if (entry.readAgain && entry.readAgain(*object)) {
        CAuMainLock lock;
        result = entry.read(*object, payload, size, true);
    }
    if (result != AuResultSuccess) {
        AuLog(AuLogLevel::Error, "bank: hierarchy record %08X of type %u refused (%s)", id, type,
              AuResultName(result));
        object->Release();
        return result;
    }
    List(list, object);
    return AuResultSuccess;
}

AURESULT LoadWithEntry(u8 type, const u8* payload, u32 size, AuBankObjectList* list) {
    const AuHierarchyLoaderEntry& entry = s_loaders[type];
    const u32 id = size >= 4 ? LoadU32(payload) : 0;
    if (!entry.create || !list) {
        AuLog(AuLogLevel::Error,
              "bank: hierarchy record %08X of type %u: this engine does not build that type yet", id, type);
        return AuResultTypeNotHandled;
    }
    if (size < 4) return AuResultBadHeader; // no room for the object's ID
    const AURESULT result = LoadOne(entry, id, type, payload, size, *list);
    if (entry.afterRecord) entry.afterRecord();
    return result;
}

} // namespace

AURESULT AuLoadExtensionRecord(u8 type, const u8* payload, u32 size, CAuLoadedBank& bank) {
    return LoadWithEntry(type, payload, size, &bank.objects);
}

AURESULT CAuHierarchyLoader::LoadRecord(u8 type, const u8* payload, u32 size) {
    return LoadWithEntry(type, payload, size, m_pList);
}

bool CAuHierarchyLoader::HasExtensionReader() {
    return g_pfnBankExtensionReader.load(std::memory_order_acquire) != nullptr;
}

AURESULT CAuHierarchyLoader::ReadExtensionRecord(u8 type, u32 size, CAuBankReader& reader) {
    const AuBankExtensionReaderFunc read = g_pfnBankExtensionReader.load(std::memory_order_acquire);
    if (!read) return AuResultTypeNotHandled;
    // The chunk loop has bounded `size` by what the bank still holds.
    if (size > UINT32_MAX - AU_BANK_RECORD_HEADER_SIZE) return AuResultBadHeader;
    auto* record =
        static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, AU_BANK_RECORD_HEADER_SIZE + size));
    if (!record) return AuResultNoMemory;
    record[0] = type;
    for (u32 i = 0; i < 4; ++i)
        record[1 + i] = static_cast<u8>(size >> (8 * i));
    u32 got = 0;
    AURESULT result = reader.Read(record + AU_BANK_RECORD_HEADER_SIZE, size, got);
    if (result == AuResultSuccess && got != size) result = AuResultBadHeader;
    if (result == AuResultSuccess) result = read(record, m_pBank, m_bankID);
    AU::MemoryMgr::Free(g_DefaultPoolId, record);
    return result;
}
