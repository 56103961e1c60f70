// The codec, plug-in and motion-device registries: flat arrays in the default pool, searched by key.
#include "voices/AuLowerEngine.h"

#include <memory/AuArray.h>

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

AuArray<AuPluginRow> s_plugins;
AuArray<AuCodecRow> s_codecs;
AuArray<AuMotionRow> s_motionDevices;

template <class Row> Row* FindRow(AuArray<Row>& rows, u32 key) {
    const u32 index = rows.IndexOf([key](const Row& row) { return row.uKey == key; });
    return index < rows.Count() ? &rows[index] : nullptr;
}

} // namespace

AURESULT CAuLowerEngine::RegisterCodec(u32 companyId, u32 codecId, AuCreateSourceCallback streamed,
                                       AuCreateSourceCallback inMemory) {
    const u32 key = CodecKey(companyId, codecId);
    if (FindRow(s_codecs, key)) return AuResultFail;
    if (!streamed || !inMemory) return AuResultInvalidParameter;
    return s_codecs.AddLast({key, streamed, inMemory}) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuLowerEngine::RegisterPlugin(AuPluginType type, u32 companyId, u32 pluginId,
                                        AuCreatePluginCallback creator, AuCreateParamCallback paramCreator) {
    const u32 key = PluginKey(type, companyId, pluginId);
    if (FindRow(s_plugins, key)) return AuResultFail;
    if (!paramCreator) return AuResultInvalidParameter;
    return s_plugins.AddLast({key, creator, paramCreator}) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuLowerEngine::RegisterMotionDevice(u32 firstId, u32 secondId,
                                              AuCreateMotionDeviceCallback creator) {
    const u32 key = MotionKey(firstId, secondId);
    if (FindRow(s_motionDevices, key)) return AuResultFail;
    if (!creator) return AuResultInvalidParameter;
    return s_motionDevices.AddLast({key, creator}) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuLowerEngine::CreatePlugin(AU::IAuPluginMemAlloc* allocator, u32 key, AU::IAuPlugin*& plugin) {
    plugin = nullptr;
    const AuPluginRow* row = FindRow(s_plugins, key);
    if (!row || !row->pfnCreate) return AuResultFail;
    plugin = row->pfnCreate(allocator);
    return plugin ? AuResultSuccess : AuResultFail;
}

AURESULT CAuLowerEngine::CreatePluginParams(AU::IAuPluginMemAlloc* allocator, u32 key,
                                            AU::IAuPluginParam*& params) {
    params = nullptr;
    const AuPluginRow* row = FindRow(s_plugins, key);
    if (!row) return AuResultFail;
    params = row->pfnCreateParams(allocator);
    return params ? AuResultSuccess : AuResultFail;
}

AU::IAuSoftwareCodec* CAuLowerEngine::CreateCodecSource(void* playbackInstance, u32 sourceType,
                                                        u32 codecWord) {
    const AuCodecRow* row = FindRow(s_codecs, codecWord);
    if (!row) return nullptr;
    return sourceType == 1 ? row->pfnStreamed(playbackInstance) : row->pfnInMemory(playbackInstance);
}

AURESULT CAuLowerEngine::CreateMotionDevice(u32 firstId, u32 secondId, u32 settingsA, u32 settingsB,
                                            AU::IAuMotionDevice*& device, u32 settingsC) {
    device = nullptr;
    const AuMotionRow* row = FindRow(s_motionDevices, MotionKey(firstId, secondId));
    if (!row) return AuResultFail;
    AU::IAuMotionDevice* made = row->pfnCreate(&s_allocator);
    if (!made) return AuResultFail;
    if (made->Init(&s_allocator, settingsA, settingsB, settingsC) != AuResultSuccess) {
        made->Term(&s_allocator);
        return AuResultFail;
    }
    device = made;
    return AuResultSuccess;
}

AURESULT CAuLowerEngine::FreeRegistries() {
    s_plugins.Term();
    s_codecs.Term();
    s_motionDevices.Term();
    return AuResultSuccess;
}

u32 CAuLowerEngine::NumPlugins() {
    return s_plugins.Count();
}

u32 CAuLowerEngine::NumCodecs() {
    return s_codecs.Count();
}
