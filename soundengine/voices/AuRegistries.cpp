// The codec, plug-in and motion-device registries: flat arrays in the default pool, searched by key.
// The game registers on its own threads while the bank thread and the audio thread look rows up,
// so every access holds one lock; a lookup copies its row out and calls the creator after.
#include "voices/AuLowerEngine.h"

#include <memory/AuArray.h>

#include <mutex>

namespace {

struct AuPluginRow {
    u32 uKey;
    AuCreatePluginCallback pfnCreate;
    AuCreateParamCallback pfnCreateParams;
};

struct AuCodecRow {
    u32 uKey;
    AuCreateSourceCallback pfnStreamed;
    AuCreateSourceCallback pfnInMemory;
};

struct AuMotionRow {
    u32 uKey;
    AuCreateMotionDeviceCallback pfnCreate;
};

std::mutex s_lock;
AuArray<AuPluginRow> s_plugins;
AuArray<AuCodecRow> s_codecs;
AuArray<AuMotionRow> s_motionDevices;

// s_lock held.
template <class Row> bool HasRow(const AuArray<Row>& rows, u32 key) {
    return rows.IndexOf([key](const Row& row) { return row.uKey == key; }) < rows.Count();
}

// A copy of the key's row; false when there is none.
template <class Row> bool FindRow(const AuArray<Row>& rows, u32 key, Row& out) {
    std::lock_guard guard(s_lock);
    const u32 index = rows.IndexOf([key](const Row& row) { return row.uKey == key; });
    if (index >= rows.Count()) return false;
    out = rows[index];
    return true;
}

// A key registered already is refused before the creators are checked. Doubling keeps a long run
// of registrations from copying the table once per row.
template <class Row> AURESULT AddRow(AuArray<Row>& rows, const Row& row, bool creatorsGiven) {
    std::lock_guard guard(s_lock);
    if (HasRow(rows, row.uKey)) return AuResultFail;
    if (!creatorsGiven) return AuResultInvalidParameter;
    if (rows.Count() == rows.Capacity() && !rows.Grow(rows.Capacity() ? rows.Capacity() : 4))
        return AuResultFail;
    rows.AddLast(row);
    return AuResultSuccess;
}

} // namespace

AURESULT CAuLowerEngine::RegisterCodec(u32 companyId, u32 codecId, AuCreateSourceCallback streamed,
                                       AuCreateSourceCallback inMemory) {
    return AddRow(s_codecs, AuCodecRow{CodecKey(companyId, codecId), streamed, inMemory},
                  streamed && inMemory);
}

AURESULT CAuLowerEngine::RegisterPlugin(AuPluginType type, u32 companyId, u32 pluginId,
                                        AuCreatePluginCallback creator, AuCreateParamCallback paramCreator) {
    return AddRow(s_plugins, AuPluginRow{PluginKey(type, companyId, pluginId), creator, paramCreator},
                  paramCreator != nullptr);
}

AURESULT CAuLowerEngine::RegisterMotionDevice(u32 firstId, u32 secondId,
                                              AuCreateMotionDeviceCallback creator) {
    return AddRow(s_motionDevices, AuMotionRow{MotionKey(firstId, secondId), creator}, creator != nullptr);
}

AURESULT CAuLowerEngine::CreatePlugin(AU::IAuPluginMemAlloc* allocator, u32 key, AU::IAuPlugin*& plugin) {
    plugin = nullptr;
    AuPluginRow row;
    if (!FindRow(s_plugins, key, row) || !row.pfnCreate) return AuResultFail;
    plugin = row.pfnCreate(allocator);
    return plugin ? AuResultSuccess : AuResultFail;
}

AURESULT CAuLowerEngine::CreatePluginParams(AU::IAuPluginMemAlloc* allocator, u32 key,
                                            AU::IAuPluginParam*& params) {
    params = nullptr;
    AuPluginRow row;
    if (!FindRow(s_plugins, key, row)) return AuResultFail;
    params = row.pfnCreateParams(allocator);
    return params ? AuResultSuccess : AuResultFail;
}

AU::IAuSoftwareCodec* CAuLowerEngine::CreateCodecSource(void* playbackInstance, u32 sourceType,
                                                        u32 codecWord) {
    AuCodecRow row;
    if (!FindRow(s_codecs, codecWord, row)) return nullptr;
    return sourceType == 1 ? row.pfnStreamed(playbackInstance) : row.pfnInMemory(playbackInstance);
}

AURESULT CAuLowerEngine::CreateMotionDevice(u32 firstId, u32 secondId, u32 settingsA, u32 settingsB,
                                            AU::IAuMotionDevice*& device, u32 settingsC) {
    device = nullptr;
    AuMotionRow row;
    if (!FindRow(s_motionDevices, MotionKey(firstId, secondId), row)) return AuResultFail;
    AU::IAuMotionDevice* made = row.pfnCreate(&s_allocator);
    if (!made) return AuResultFail;
    if (made->Init(&s_allocator, settingsA, settingsB, settingsC) != AuResultSuccess) {
        made->Term(&s_allocator);
        return AuResultFail;
    }
    device = made;
    return AuResultSuccess;
}

AURESULT CAuLowerEngine::FreeRegistries() {
    std::lock_guard guard(s_lock);
    s_plugins.Term();
    s_codecs.Term();
    s_motionDevices.Term();
    return AuResultSuccess;
}

u32 CAuLowerEngine::NumPlugins() {
    std::lock_guard guard(s_lock);
    return s_plugins.Count();
}

u32 CAuLowerEngine::NumCodecs() {
    std::lock_guard guard(s_lock);
    return s_codecs.Count();
}
