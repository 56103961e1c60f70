#include "plugins/AuPluginSettings.h"

#include "banks/AuBankFormat.h"
#include "core/AuLog.h"
#include "hierarchy/AuRecordCursor.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuPlugin.h"
#include "voices/AuLowerEngine.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <new>

namespace {

IAuPluginModulatorTrigger* s_pModulatorTrigger = nullptr;

// Arrays of settings grow two rows at a time: banks seldom add more than a few.
constexpr u32 kGrowRows = 2;

template <class Row> Row* AppendRow(AuArray<Row>& rows) {
    if (rows.Count() == rows.Capacity() && !rows.Grow(kGrowRows)) return nullptr;
    return rows.AddLast();
}

void FreePoints(AuPluginRTPCEntry& entry) {
    if (entry.pPoints) AU::MemoryMgr::Free(g_DefaultPoolId, entry.pPoints);
    entry.pPoints = nullptr;
    entry.uPointCount = 0;
}

// The record's fixed parts, walked before anything is stored.
struct AuSettingsLayout {
    u32 pluginID = AU_NO_PLUGIN;
    u32 blockSize = 0;
    const u8* block = nullptr;
    u8 mediaCount = 0;
    const u8* media = nullptr;
    u16 rtpcCount = 0;
    const u8* rtpcs = nullptr;
    u32 rtpcBytes = 0;
    u16 valueCount = 0;
    const u8* values = nullptr;
};

constexpr u32 kMediaEntrySize = 5;
constexpr u32 kRTPCHeaderSize = 4 + 1 + 1 + 1 + 4 + 1 + 2;
constexpr u32 kValueEntrySize = 5;

bool WalkSettings(AuRecordCursor& cursor, AuSettingsLayout& out) {
    if (!cursor.Skip(4) || !cursor.Read(out.pluginID) || !cursor.Read(out.blockSize)) return false;
    if (!(out.block = cursor.Take(out.blockSize))) return false;
    if (!cursor.Read(out.mediaCount)) return false;
    if (!(out.media = cursor.Take(u32{out.mediaCount} * kMediaEntrySize))) return false;
    if (!cursor.Read(out.rtpcCount)) return false;
    out.rtpcs = cursor.At();
    for (u32 i = 0; i < out.rtpcCount; ++i) {
        const u8* header = cursor.Take(kRTPCHeaderSize);
        if (!header) return false;
        const u16 points = static_cast<u16>(header[12] | header[13] << 8);
        if (!cursor.Skip(u32{points} * AU_BANK_CURVE_POINT_SIZE)) return false;
    }
    out.rtpcBytes = static_cast<u32>(cursor.At() - out.rtpcs);
    if (!cursor.Read(out.valueCount)) return false;
    return (out.values = cursor.Take(u32{out.valueCount} * kValueEntrySize)) != nullptr;
}

// Settings IDs whose slots were reported as playing dry, per table, under that table's lock. A
// fixed ring: past its size an old ID may be reported once more, never endlessly per frame.
constexpr u32 kDryReports = 64;
struct AuDryReports {
    u32 ids[kDryReports];
    u32 count;
    u32 next;
};
AuDryReports s_dryReports[2];

// True the first time the ID is reported from this table.
bool FirstDryReport(AuIndexTableId table, u32 id) {
    CAuIndexTable& lockOf = g_pIndex->Table(table);
    AuDryReports& reports = s_dryReports[table == AuIndexPluginSettings18 ? 0 : 1];
    lockOf.Lock();
    bool first = true;
    for (u32 i = 0; i < reports.count && first; ++i)
        first = reports.ids[i] != id;
    if (first) {
        reports.ids[reports.next] = id;
        reports.next = (reports.next + 1) % kDryReports;
        if (reports.count < kDryReports) ++reports.count;
    }
    lockOf.Unlock();
    return first;
}

} // namespace

CAuPluginSettings* CAuPluginSettings::Find(u32 id, bool shared) {
    if (id == 0) return nullptr;
    const AuIndexTableId table = shared ? AuIndexPluginSettings18 : AuIndexPluginSettings19;
    auto* settings = static_cast<CAuPluginSettings*>(g_pIndex->GetPtrAndAddRef(table, id));
    if (!settings && FirstDryReport(table, id))
        AuLog(AuLogLevel::Warning, "plug-in settings %u (type %u) are not loaded: the slot plays dry", id,
              shared ? 18u : 19u);
    return settings;
}

void AuSetPluginModulatorTrigger(IAuPluginModulatorTrigger* trigger) {
    s_pModulatorTrigger = trigger;
}

template <class Settings> Settings* CAuPluginSettings::Make(u32 id, AuIndexTableId table) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Settings));
    if (!memory) return nullptr;
    Settings* settings = new (memory) Settings(id);
    g_pIndex->Table(table).Add(settings);
    return settings;
}

CAuPluginSettingsType18* CAuPluginSettingsType18::Create(u32 id) {
    return Make<CAuPluginSettingsType18>(id, AuIndexPluginSettings18);
}

CAuPluginSettingsType19* CAuPluginSettingsType19::Create(u32 id) {
    return Make<CAuPluginSettingsType19>(id, AuIndexPluginSettings19);
}

CAuPluginSettings::~CAuPluginSettings() {
    for (AuPluginRTPCEntry& entry : m_rtpcs)
        FreePoints(entry);
    m_rtpcs.Term();
    m_media.Term();
    m_values.Term();
    if (m_pParams) m_pParams->Term(&CAuLowerEngine::PluginAllocator());
}

u32 CAuPluginSettings::AddRef() {
    return AddRefIn(g_pIndex->Table(m_table));
}

u32 CAuPluginSettings::Release() {
    return ReleaseIn(g_pIndex->Table(m_table));
}

void CAuPluginSettings::SetParamObject(u32 pluginID, AU::IAuPluginParam* params) {
    if (m_pParams && m_pParams != params) m_pParams->Term(&CAuLowerEngine::PluginAllocator());
    m_pParams = params;
    m_uPluginID = pluginID;
}

AURESULT CAuPluginSettings::CreateParamObject(u32 pluginID, const u8* block, u32 size) {
    AU::IAuPluginMemAlloc& allocator = CAuLowerEngine::PluginAllocator();
    AU::IAuPluginParam* params = nullptr;
    // An unregistered plug-in leaves the settings without parameters: its slots play dry.
    if (CAuLowerEngine::CreatePluginParams(&allocator, pluginID, params) != AuResultSuccess || !params) {
        AuLog(AuLogLevel::Warning, "plug-in settings %u: plug-in %08X is not registered", key, pluginID);
        return AuResultSuccess;
    }
    // The block lives as long as the bank's record: Init keeps what it needs.
    const AURESULT result = params->Init(&allocator, block, size);
    if (result != AuResultSuccess) {
        params->Term(&allocator);
        return result;
    }
    SetParamObject(pluginID, params);
    return AuResultSuccess;
}

AURESULT CAuPluginSettings::LoadPluginSettings(const u8* payload, u32 size) {
    AuRecordCursor cursor(payload, size);
    AuSettingsLayout layout;
    if (!WalkSettings(cursor, layout)) return AuResultBadHeader;

    AURESULT result = AuResultSuccess;
    if (layout.pluginID != AU_NO_PLUGIN) {
        result = CreateParamObject(layout.pluginID, layout.block, layout.blockSize);
        if (result != AuResultSuccess) return result;
    }

    AuRecordCursor media(layout.media, u32{layout.mediaCount} * kMediaEntrySize);
    // Without room for all of them the plug-in gets no media.
    const bool mediaRoom =
        m_media.Count() + layout.mediaCount <= m_media.Capacity() || m_media.Grow(layout.mediaCount);
    for (u32 i = 0; mediaRoom && i < layout.mediaCount; ++i) {
        u8 index = 0;
        u32 mediaID = 0;
        media.Read(index);
        media.Read(mediaID);
        SetMedia(index, mediaID);
    }

    AuRecordCursor rtpcs(layout.rtpcs, layout.rtpcBytes);
    for (u32 i = 0; i < layout.rtpcCount; ++i) {
        AuPluginRTPCEntry entry{};
        u8 kind = 0, mode = 0, parameterID = 0, scaling = 0;
        u16 points = 0;
        rtpcs.Read(entry.gameParamID);
        rtpcs.Read(kind);
        rtpcs.Read(mode);
        rtpcs.Read(parameterID);
        rtpcs.Read(entry.curveID);
        rtpcs.Read(scaling);
        rtpcs.Read(points);
        entry.kind = kind;
        entry.mode = mode;
        entry.parameterID = parameterID;
        entry.uScaling = scaling;
        entry.uPointCount = points;
        AddRTPCEntry(entry, rtpcs.Take(u32{points} * AU_BANK_CURVE_POINT_SIZE));
    }

    AuRecordCursor values(layout.values, u32{layout.valueCount} * kValueEntrySize);
    for (u32 i = 0; i < layout.valueCount; ++i) {
        u8 valueKey = 0;
        f32 value = 0.0f;
        values.Read(valueKey);
        values.Read(value);
        SetInitialValue(valueKey, value);
    }
    return result;
}

void CAuPluginSettings::SetMedia(u32 index, u32 mediaID) {
    for (AuPluginMediaEntry& entry : m_media) {
        if (entry.index == index) {
            entry.mediaID = mediaID;
            return;
        }
    }
    if (AuPluginMediaEntry* added = m_media.AddLast()) *added = {index, mediaID};
}

bool CAuPluginSettings::EraseRTPCEntry(u32 parameterID, u32 curveID) {
    const u32 at = m_rtpcs.IndexOf([&](const AuPluginRTPCEntry& entry) {
        return entry.parameterID == parameterID && entry.curveID == curveID;
    });
    if (at >= m_rtpcs.Count()) return false;
    FreePoints(m_rtpcs[at]);
    m_rtpcs.EraseOrdered(at);
    return true;
}

void CAuPluginSettings::AddRTPCEntry(const AuPluginRTPCEntry& entry, const u8* bankPoints) {
    // A bank entry for the same parameter and curve replaces the one before, without telling users.
    EraseRTPCEntry(entry.parameterID, entry.curveID);
    AuPluginRTPCEntry* added = AppendRow(m_rtpcs);
    if (!added) return;
    *added = entry;
    added->pPoints = nullptr;
    if (entry.uPointCount == 0) return;
    added->pPoints = static_cast<AuCurvePoint*>(
        AU::MemoryMgr::Malloc(g_DefaultPoolId, entry.uPointCount * u32{sizeof(AuCurvePoint)}));
    if (!added->pPoints) {
        added->uPointCount = 0;
        return;
    }
    for (u32 p = 0; p < entry.uPointCount; ++p) {
        AuRecordCursor point(bankPoints + p * AU_BANK_CURVE_POINT_SIZE, AU_BANK_CURVE_POINT_SIZE);
        point.Read(added->pPoints[p].x);
        point.Read(added->pPoints[p].y);
        point.Read(added->pPoints[p].interpolation);
    }
}

void CAuPluginSettings::SetInitialValue(u32 valueKey, f32 value) {
    for (AuPluginInitialValue& entry : m_values) {
        if (entry.key == valueKey) {
            entry.value = value;
            return;
        }
    }
    if (AuPluginInitialValue* added = AppendRow(m_values)) *added = {valueKey, value};
}

u32 CAuPluginSettings::GetRTPCEntry(u32 parameterID) const {
    for (const AuPluginRTPCEntry& entry : m_rtpcs)
        if (entry.parameterID == parameterID) return entry.mode;
    return 0;
}

f32 CAuPluginSettings::GetParamValue(u32 valueKey, f32 defaultValue) const {
    for (const AuPluginInitialValue& entry : m_values)
        if (entry.key == valueKey) return entry.value;
    return defaultValue;
}

u32 CAuPluginSettings::GetMediaID(u32 index) const {
    for (const AuPluginMediaEntry& entry : m_media)
        if (entry.index == index) return entry.mediaID;
    return 0;
}

AURESULT CAuPluginSettings::SubscribeRTPCs(IAuPluginParamSubscriber* target, const AuRTPCKey& rtpcKey) {
    // Settings without curves need no manager.
    if (m_rtpcs.Count() == 0) return AuResultSuccess;
    if (!g_pRTPCMgr) return AuResultFail;
    AURESULT first = AuResultSuccess;
    for (const AuPluginRTPCEntry& entry : m_rtpcs) {
        // A curve whose points could not be kept drives nothing.
        if (!entry.pPoints) continue;
        const AURESULT result = g_pRTPCMgr->SubscribeRTPC(
            target, entry.gameParamID, entry.kind, entry.mode, entry.parameterID, entry.curveID,
            entry.uScaling, entry.pPoints, entry.uPointCount, rtpcKey, AuRTPCSubscriberKind_PluginParams);
        if (result != AuResultSuccess && first == AuResultSuccess) first = result;
    }
    return first;
}

void CAuPluginSettings::UnsubscribeRTPCs(IAuPluginParamSubscriber* target) {
    if (g_pRTPCMgr) g_pRTPCMgr->UnSubscribeRTPC(target);
}

AURESULT CAuPluginSettings::TriggerModulators(IAuPluginParamSubscriber* target, const AuRTPCKey& rtpcKey,
                                              void* callback) {
    if (!s_pModulatorTrigger) return AuResultSuccess;
    AURESULT result = AuResultSuccess;
    for (const AuPluginRTPCEntry& entry : m_rtpcs) {
        if (entry.kind != AuRTPCDrivingType_Modulator) continue;
        if (s_pModulatorTrigger->Trigger(target, entry.parameterID, entry.gameParamID, rtpcKey, callback) !=
            AuResultSuccess)
            result = AuResultFail;
    }
    return result;
}

void CAuPluginSettings::RemoveRTPCEntry(u32 parameterID, u32 curveID) {
    if (!EraseRTPCEntry(parameterID, curveID) || !g_pRTPCMgr) return;
    struct Removal {
        u32 parameterID;
        u32 curveID;
    } removal{parameterID, curveID};
    CAuLowerEngine::ForEachPluginInstance(
        *this,
        [](CAuPluginParamHolder& instance, void* context) {
            const auto& r = *static_cast<const Removal*>(context);
            g_pRTPCMgr->UnSubscribeRTPCCurve(&instance, r.parameterID, r.curveID);
        },
        &removal);
}

CAuPluginParamHolder* CAuPluginParamHolder::Create(CAuPluginSettings& settings,
                                                   const AuRTPCKey& key) noexcept {
    AU::IAuPluginParam* source = settings.ParamObject();
    if (!source) {
        if (FirstDryReport(settings.Table(), settings.key))
            AuLog(AuLogLevel::Warning, "plug-in settings %u have no parameters: the slot plays dry",
                  settings.key);
        return nullptr;
    }
    AU::IAuPluginParam* clone = source->Clone(&CAuLowerEngine::PluginAllocator());
    if (!clone) return nullptr;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPluginParamHolder));
    if (!memory) {
        clone->Term(&CAuLowerEngine::PluginAllocator());
        return nullptr;
    }
    settings.AddRef();
    auto* holder = new (memory) CAuPluginParamHolder(settings, clone, key);
    // A curve the manager refuses leaves that parameter at its bank value; the instance still plays.
    if (settings.SubscribeRTPCs(holder, key) != AuResultSuccess)
        AuLog(AuLogLevel::Warning, "plug-in settings %u: a game-parameter curve was not subscribed",
              settings.key);
    return holder;
}

void CAuPluginParamHolder::Destroy() noexcept {
    CAuPluginSettings& settings = m_settings;
    settings.UnsubscribeRTPCs(this);
    m_pParams->Term(&CAuLowerEngine::PluginAllocator());
    this->~CAuPluginParamHolder();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
    settings.Release();
}

f32 CAuPluginParamHolder::GetBaseValue(u32 propertyID) noexcept {
    return m_settings.GetParamValue(propertyID);
}

void CAuPluginParamHolder::SetParam(u32 propertyID, const void* value, u32 size) noexcept {
    m_pParams->SetParam(static_cast<u16>(propertyID), value, size);
}
