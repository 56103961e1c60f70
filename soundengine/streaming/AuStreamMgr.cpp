#include "streaming/detail/AuStreamDevice.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include "memory/AuArray.h"

#include <cstring>
#include <cwchar>
#include <new>

AuMemPoolId g_StreamMgrPoolId = AU_INVALID_POOL_ID;
AU::IAuStreamMgr* AU::IAuStreamMgr::m_pStreamMgr = nullptr;

namespace {

struct AuLanguageObserver {
    AU::StreamMgr::AuLanguageChangeHandler handler;
    void* cookie;
};

constexpr u32 kLanguageChars = 32;

// Devices and observers change only at initialisation and termination, on the game thread.
AU::StreamMgr::IAuFileLocationResolver* g_pFileLocationResolver = nullptr;
AuArray<CAuStreamDevice*, &g_StreamMgrPoolId> g_devices;
AuArray<AuLanguageObserver, &g_StreamMgrPoolId> g_languageObservers;
wchar_t g_szCurrentLanguage[kLanguageChars] = {};

constexpr u32 kDefaultStreamMgrPoolSize = 65536;
constexpr u32 kStreamMgrPoolBlockSize = 32;

CAuStreamDevice* DeviceOf(u32 deviceID) {
    return deviceID < g_devices.Count() ? g_devices[deviceID] : nullptr;
}

wchar_t* CopyToPool(const wchar_t* text) {
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    if (bytes > UINT32_MAX) return nullptr;
    auto* copy = static_cast<wchar_t*>(AU::MemoryMgr::Malloc(g_StreamMgrPoolId, static_cast<u32>(bytes)));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

class CAuStreamMgr final : public AU::IAuStreamMgr {
public:
    ~CAuStreamMgr() override { m_pStreamMgr = nullptr; }

    void Destroy() override {
        g_pFileLocationResolver = nullptr;
        for (u32 id = 0; id < g_devices.Count(); ++id) {
            if (g_devices[id]) g_devices[id]->Destroy();
        }
        g_devices.Term();
        g_languageObservers.Term();
        if (AU::MemoryMgr::IsInitialized() &&
            AU::MemoryMgr::CheckPoolId(g_StreamMgrPoolId) == AuResultSuccess) {
            this->~CAuStreamMgr();
            AU::MemoryMgr::Free(g_StreamMgrPoolId, this);
            AU::MemoryMgr::DestroyPool(g_StreamMgrPoolId);
        }
        m_pStreamMgr = nullptr;
        g_StreamMgrPoolId = AU_INVALID_POOL_ID;
    }

    void* GetStreamMgrProfile() override { return nullptr; }

    AURESULT CreateStd(u32 fileID, AuFileOpenFlags* flags, AuOpenMode openMode, AU::IAuStdStream*& stream,
                       bool syncOpen) override {
        return Create(fileID, nullptr, flags, openMode, stream, syncOpen);
    }

    AURESULT CreateStd(const wchar_t* fileName, AuFileOpenFlags* flags, AuOpenMode openMode,
                       AU::IAuStdStream*& stream, bool syncOpen) override {
        if (!fileName) return AuResultInvalidParameter;
        return Create(0, fileName, flags, openMode, stream, syncOpen);
    }

    // Automatic streams are not built in this engine yet: every request is refused.
    AURESULT CreateAuto(u32, AuFileOpenFlags*, const AuAutoStmHeuristics&, AuAutoStmBufSettings*,
                        AU::IAuAutoStream*& stream, bool) override {
        stream = nullptr;
        return AuResultFail;
    }

    AURESULT CreateAuto(const wchar_t* fileName, AuFileOpenFlags*, const AuAutoStmHeuristics&,
                        AuAutoStmBufSettings*, AU::IAuAutoStream*& stream, bool) override {
        stream = nullptr;
        return fileName ? AuResultFail : AuResultInvalidParameter;
    }

private:
    AURESULT Create(u32 fileID, const wchar_t* fileName, AuFileOpenFlags* flags, AuOpenMode openMode,
                    AU::IAuStdStream*& out, bool syncOpen) {
        out = nullptr;
        if (flags) flags->bIsAutomaticStream = false;
        auto* file = static_cast<AuFileDescriptor*>(
            AU::MemoryMgr::Malloc(g_StreamMgrPoolId, sizeof(AuFileDescriptor)));
        if (!file) return AuResultFail;
        memset(file, 0, sizeof(*file));
        AURESULT result = AuResultFail;
        if (g_pFileLocationResolver) {
            result = fileName ? g_pFileLocationResolver->Open(fileName, openMode, flags, syncOpen, *file)
                              : g_pFileLocationResolver->Open(fileID, openMode, flags, syncOpen, *file);
        }
        if (result != AuResultSuccess) {
            AU::MemoryMgr::Free(g_StreamMgrPoolId, file);
            return result;
        }
        CAuStreamDevice* device = DeviceOf(file->deviceID);
        if (!device) {
            AU::MemoryMgr::Free(g_StreamMgrPoolId, file);
            return AuResultFail;
        }
        CAuReadStream* stream = device->CreateStd(file, openMode);
        if (!stream) {
            if (syncOpen) device->Hook()->Close(*file);
            AU::MemoryMgr::Free(g_StreamMgrPoolId, file);
            return AuResultFail;
        }
        if (syncOpen) {
            stream->MarkFileOpen();
        } else {
            auto* open = static_cast<AuDeferredOpen*>(
                AU::MemoryMgr::Malloc(g_StreamMgrPoolId, sizeof(AuDeferredOpen)));
            wchar_t* name = open && fileName ? CopyToPool(fileName) : nullptr;
            if (!open || (fileName && !name)) {
                AU::MemoryMgr::Free(g_StreamMgrPoolId, open);
                stream->Destroy();
                return AuResultFail;
            }
            open->fileID = fileID;
            open->pszName = name;
            open->bHasFlags = flags != nullptr;
            open->flags = flags ? *flags : AuFileOpenFlags{};
            open->openMode = openMode;
            stream->SetDeferredOpen(open);
        }
        out = stream;
        return AuResultSuccess;
    }
};

} // namespace

namespace AU::StreamMgr {

IAuStreamMgr* Create(const AuStreamMgrSettings& settings) {
    if (!AU::MemoryMgr::IsInitialized()) return nullptr;
    if (IAuStreamMgr::m_pStreamMgr) return IAuStreamMgr::m_pStreamMgr;
    g_szCurrentLanguage[0] = L'\0';
    if (g_StreamMgrPoolId == AU_INVALID_POOL_ID) {
        g_StreamMgrPoolId = AU::MemoryMgr::CreatePool(nullptr, settings.uMemorySize, kStreamMgrPoolBlockSize,
                                                      AuPoolAttrMalloc, 0);
        if (g_StreamMgrPoolId == AU_INVALID_POOL_ID) return nullptr;
    }
    void* memory = AU::MemoryMgr::Malloc(g_StreamMgrPoolId, sizeof(CAuStreamMgr));
    if (!memory) {
        AU::MemoryMgr::DestroyPool(g_StreamMgrPoolId);
        g_StreamMgrPoolId = AU_INVALID_POOL_ID;
        return nullptr;
    }
    IAuStreamMgr::m_pStreamMgr = new (memory) CAuStreamMgr();
    return IAuStreamMgr::m_pStreamMgr;
}

void GetDefaultSettings(AuStreamMgrSettings& settings) {
    settings.uMemorySize = kDefaultStreamMgrPoolSize;
}

void GetDefaultDeviceSettings(AuDeviceSettings& settings) {
    settings.pIOMemory = nullptr;
    settings.uIOMemorySize = 2 * 1024 * 1024;
    settings.uIOMemoryAlignment = 4;
    settings.ePoolAttributes = AuPoolAttrVirtualAlloc;
    settings.uGranularity = 16 * 1024;
    settings.uSchedulerTypeFlags = AU_SCHEDULER_BLOCKING;
    settings.iThreadPriority = 1;
    settings.uThreadAffinityMask = 0;
    settings.uThreadStackSize = 32 * 1024;
    settings.fTargetBufferLength = 380.0f;
    settings.uMaxConcurrentIO = 8;
    settings.fCacheRatio = 1.0f;
    settings.uMaxCachePinnedBytes = 0xFFFFFFFFu;
}

u32 CreateDevice(const AuDeviceSettings& settings, IAuLowLevelIOHook* hook) {
    u32 id = g_devices.IndexOf([](CAuStreamDevice* device) { return device == nullptr; });
    if (id == g_devices.Count() && !g_devices.AddLast(nullptr)) return AU_INVALID_DEVICE_ID;
    // Only the blocking scheduler is built in this engine.
    if (!(settings.uSchedulerTypeFlags & AU_SCHEDULER_BLOCKING)) return AU_INVALID_DEVICE_ID;
    void* memory = AU::MemoryMgr::Malloc(g_StreamMgrPoolId, sizeof(CAuBlockingStreamDevice));
    if (!memory) return AU_INVALID_DEVICE_ID;
    CAuStreamDevice* device = new (memory) CAuBlockingStreamDevice();
    if (device->Init(settings, id, hook) != AuResultSuccess) {
        device->Destroy();
        return AU_INVALID_DEVICE_ID;
    }
    g_devices[id] = device;
    return id;
}

AURESULT DestroyDevice(u32 deviceID) {
    CAuStreamDevice* device = DeviceOf(deviceID);
    if (!device) return AuResultInvalidParameter;
    device->Destroy();
    g_devices[deviceID] = nullptr;
    return AuResultSuccess;
}

void FlushAllCaches() {
    for (CAuStreamDevice* device : g_devices)
        if (device) device->FlushCache();
}

IAuFileLocationResolver* GetFileLocationResolver() {
    return g_pFileLocationResolver;
}
void SetFileLocationResolver(IAuFileLocationResolver* resolver) {
    g_pFileLocationResolver = resolver;
}
AuMemPoolId GetPoolID() {
    return g_StreamMgrPoolId;
}

AURESULT SetCurrentLanguage(const wchar_t* language) {
    if (!language) return AuResultFail;
    const size_t length = wcslen(language);
    if (length >= kLanguageChars ||
        (length > 0 && (language[length - 1] == L'/' || language[length - 1] == L'\\')))
        return AuResultFail;
    wmemcpy(g_szCurrentLanguage, language, length + 1);
    // Newest first; an observer may remove itself while it runs.
    for (u32 i = g_languageObservers.Count(); i-- > 0;) {
        if (i < g_languageObservers.Count()) {
            const AuLanguageObserver observer = g_languageObservers[i];
            observer.handler(g_szCurrentLanguage, observer.cookie);
        }
    }
    return AuResultSuccess;
}

const wchar_t* GetCurrentLanguage() {
    return g_szCurrentLanguage;
}

AURESULT AddLanguageChangeObserver(AuLanguageChangeHandler handler, void* cookie) {
    return g_languageObservers.AddLast(AuLanguageObserver{handler, cookie}) ? AuResultSuccess : AuResultFail;
}

void RemoveLanguageChangeObserver(void* cookie) {
    for (u32 i = g_languageObservers.Count(); i-- > 0;)
        if (g_languageObservers[i].cookie == cookie) g_languageObservers.EraseOrdered(i);
}

} // namespace AU::StreamMgr
