// The sound system's engine calls as a list of readable lines. Without forwarding every call
// answers success on its own; with it, the real sound engine runs. A call named in `failing`
// answers failure instead of reaching the engine.
#pragma once

#include <SoundEngineCalls.h>

#include <AU/MemoryMgr.h>
#include <AU/VorbisCodec.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

class RecordingCalls : public SoundEngineCalls {
public:
    explicit RecordingCalls(bool forward) : mForward(forward) {}

    std::vector<std::string> calls;
    std::set<std::string> failing;
    // What start-up passed, as it was when passed.
    AuMemoryMgrSettings memorySettings{};
    AuStreamMgrSettings streamSettings{};
    AuDeviceSettings deviceSettings{};
    AuInitSettings initSettings{};
    AuPlatformInitSettings platformSettings{};
    AuMusicSettings musicSettings{};
    // Replaces the default device settings' scheduler flags when set.
    u32 schedulerFlags = 0;
    // The resolver that the fake stream manager holds.
    AU::StreamMgr::IAuFileLocationResolver* resolver = nullptr;
    static constexpr u32 kFakeDeviceID = 7;
    // Pools that the memory manager still held when it was ended; -1 before it is.
    i32 poolsAtMemoryTerm = -1;

    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(calls);
        return taken;
    }

    AURESULT MemoryMgrInit(const AuMemoryMgrSettings* settings) override {
        memorySettings = *settings;
        Record("MemoryMgrInit(%u)", settings->uMaxNumPools);
        if (Fails("MemoryMgrInit")) return AuResultFail;
        return mForward ? SoundEngineCalls::MemoryMgrInit(settings) : AuResultSuccess;
    }
    void MemoryMgrTerm() override {
        Record("MemoryMgrTerm()");
        if (!mForward) return;
        poolsAtMemoryTerm = AU::MemoryMgr::IsInitialized() ? AU::MemoryMgr::GetNumPools() : 0;
        SoundEngineCalls::MemoryMgrTerm();
    }
    void StreamMgrGetDefaultSettings(AuStreamMgrSettings& settings) override {
        Record("StreamMgrGetDefaultSettings()");
        SoundEngineCalls::StreamMgrGetDefaultSettings(settings);
    }
    AU::IAuStreamMgr* StreamMgrCreate(const AuStreamMgrSettings& settings) override {
        streamSettings = settings;
        Record("StreamMgrCreate(%u)", settings.uMemorySize);
        if (Fails("StreamMgrCreate")) return nullptr;
        if (mForward) return SoundEngineCalls::StreamMgrCreate(settings);
        // Never used through: only compared with null.
        return reinterpret_cast<AU::IAuStreamMgr*>(this);
    }
    void StreamMgrDestroy() override {
        Record("StreamMgrDestroy()");
        if (mForward) SoundEngineCalls::StreamMgrDestroy();
    }
    void GetDefaultDeviceSettings(AuDeviceSettings& settings) override {
        Record("GetDefaultDeviceSettings()");
        SoundEngineCalls::GetDefaultDeviceSettings(settings);
        if (schedulerFlags) settings.uSchedulerTypeFlags = schedulerFlags;
    }
    AU::StreamMgr::IAuFileLocationResolver* GetFileLocationResolver() override {
        Record("GetFileLocationResolver()");
        return mForward ? SoundEngineCalls::GetFileLocationResolver() : resolver;
    }
    void SetFileLocationResolver(AU::StreamMgr::IAuFileLocationResolver* newResolver) override {
        Record("SetFileLocationResolver(%s)", newResolver ? "io" : "null");
        if (mForward)
            SoundEngineCalls::SetFileLocationResolver(newResolver);
        else
            resolver = newResolver;
    }
    u32 CreateDevice(const AuDeviceSettings& settings, AU::StreamMgr::IAuLowLevelIOHook* hook) override {
        deviceSettings = settings;
        Record("CreateDevice(%s)", hook ? "io" : "null");
        if (Fails("CreateDevice")) return AU_INVALID_DEVICE_ID;
        return mForward ? SoundEngineCalls::CreateDevice(settings, hook) : kFakeDeviceID;
    }
    AURESULT DestroyDevice(u32 deviceID) override {
        Record("DestroyDevice(%u)", deviceID);
        return mForward ? SoundEngineCalls::DestroyDevice(deviceID) : AuResultSuccess;
    }
    AURESULT SetBasePath(CAuFileLocationBase& location, const wchar_t* path) override {
        Record("SetBasePath(%ls)", path);
        return mForward ? SoundEngineCalls::SetBasePath(location, path) : AuResultSuccess;
    }
    AURESULT SetCurrentLanguage(const wchar_t* language) override {
        Record("SetCurrentLanguage(%ls)", language);
        return mForward ? SoundEngineCalls::SetCurrentLanguage(language) : AuResultSuccess;
    }
    void GetDefaultInitSettings(AuInitSettings& settings) override {
        Record("GetDefaultInitSettings()");
        SoundEngineCalls::GetDefaultInitSettings(settings);
    }
    void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings) override {
        Record("GetDefaultPlatformInitSettings()");
        SoundEngineCalls::GetDefaultPlatformInitSettings(settings);
    }
    AURESULT SoundEngineInit(AuInitSettings* settings, AuPlatformInitSettings* platform) override {
        initSettings = *settings;
        platformSettings = *platform;
        Record("SoundEngineInit()");
        if (Fails("SoundEngineInit")) return AuResultFail;
        return mForward ? SoundEngineCalls::SoundEngineInit(settings, platform) : AuResultSuccess;
    }
    void SoundEngineTerm() override {
        Record("SoundEngineTerm()");
        if (mForward) SoundEngineCalls::SoundEngineTerm();
    }
    void MusicGetDefaultInitSettings(AuMusicSettings& settings) override {
        Record("MusicGetDefaultInitSettings()");
        SoundEngineCalls::MusicGetDefaultInitSettings(settings);
    }
    AURESULT MusicInit(AuMusicSettings* settings) override {
        musicSettings = *settings;
        Record("MusicInit(%g)", static_cast<double>(settings->fLookAheadScale));
        if (Fails("MusicInit")) return AuResultFail;
        return mForward ? SoundEngineCalls::MusicInit(settings) : AuResultSuccess;
    }
    void MusicTerm() override {
        Record("MusicTerm()");
        if (mForward) SoundEngineCalls::MusicTerm();
    }
    AURESULT RegisterCodec(u32 companyID, u32 codecID, AuCreateSourceCallback fileSourceFactory,
                           AuCreateSourceCallback bankSourceFactory) override {
        Record("RegisterCodec(%u, %u, %s, %s)", companyID, codecID,
               fileSourceFactory == CreateVorbisFileSource ? "CreateVorbisFileSource" : "other",
               bankSourceFactory == CreateVorbisBankSource ? "CreateVorbisBankSource" : "other");
        return mForward
                   ? SoundEngineCalls::RegisterCodec(companyID, codecID, fileSourceFactory, bankSourceFactory)
                   : AuResultSuccess;
    }
    AURESULT RegisterPlugin(AuPluginType type, u32 companyID, u32 pluginID, AuCreatePluginCallback createFunc,
                            AuCreateParamCallback createParamFunc) override {
        Record("RegisterPlugin(%u, %u, %u)", type, companyID, pluginID);
        if (!createFunc || !createParamFunc) Record("RegisterPlugin without a creator");
        return mForward
                   ? SoundEngineCalls::RegisterPlugin(type, companyID, pluginID, createFunc, createParamFunc)
                   : AuResultSuccess;
    }
    AURESULT LoadBank(const char* fileName, AuMemPoolId poolID, AuBankID& bankID) override {
        Record("LoadBank(%s, %d)", fileName, poolID);
        if (Fails("LoadBank") || Fails(std::string("LoadBank ") + fileName)) return AuResultFail;
        if (mForward) return SoundEngineCalls::LoadBank(fileName, poolID, bankID);
        bankID = AU::SoundEngine::GetIDFromString(fileName);
        return AuResultSuccess;
    }
    AURESULT UnloadBank(const char* fileName, const void* memory, AuMemPoolId* poolID) override {
        Record("UnloadBank(%s, %s, %s)", fileName, memory ? "memory" : "null", poolID ? "pool" : "null");
        if (Fails("UnloadBank")) return AuResultFail;
        return mForward ? SoundEngineCalls::UnloadBank(fileName, memory, poolID) : AuResultSuccess;
    }
    AURESULT RegisterGameObj(AuGameObjectID gameObj, const char* name, u32 listenerMask) override {
        Record("RegisterGameObj(%u, %s, %u)", gameObj, name, listenerMask);
        if (Fails("RegisterGameObj")) return AuResultFail;
        return mForward ? SoundEngineCalls::RegisterGameObj(gameObj, name, listenerMask) : AuResultSuccess;
    }
    AURESULT UnregisterAllGameObj() override {
        Record("UnregisterAllGameObj()");
        return mForward ? SoundEngineCalls::UnregisterAllGameObj() : AuResultSuccess;
    }
    AURESULT SetRTPCValue(const char* name, f32 value, AuGameObjectID gameObj, i32 transitionMs,
                          AuCurveInterpolation curve, bool bypass) override {
        Record("SetRTPCValue(%s, %g, 0x%08X, %d, %u, %d)", name, static_cast<double>(value), gameObj,
               transitionMs, curve, bypass);
        if (Fails("SetRTPCValue")) return AuResultFail;
        return mForward ? SoundEngineCalls::SetRTPCValue(name, value, gameObj, transitionMs, curve, bypass)
                        : AuResultSuccess;
    }
    AuPlayingID PostEvent(AuUniqueID eventID, AuGameObjectID gameObj, u32 flags, AuCallbackFunc callback,
                          void* cookie, u32 numExternals, const AuExternalSourceInfo* externals,
                          AuPlayingID playingID) override {
        Record("PostEvent(0x%08X, %u, 0x%X, %s, %s, %u, %s, %u)", eventID, gameObj, flags,
               callback ? "callback" : "null", cookie ? "cookie" : "null", numExternals,
               externals ? "externals" : "null", playingID);
        if (Fails("PostEvent")) return 0;
        return mForward ? SoundEngineCalls::PostEvent(eventID, gameObj, flags, callback, cookie, numExternals,
                                                      externals, playingID)
                        : 1;
    }
    AURESULT SeekOnEvent(AuUniqueID eventID, AuGameObjectID gameObj, f32 fraction, bool snapToMarker,
                         AuPlayingID playingID) override {
        Record("SeekOnEvent(0x%08X, %u, %g, %d, %u)", eventID, gameObj, static_cast<double>(fraction),
               snapToMarker, playingID);
        return mForward ? SoundEngineCalls::SeekOnEvent(eventID, gameObj, fraction, snapToMarker, playingID)
                        : AuResultSuccess;
    }
    void StopAll(AuGameObjectID gameObj) override {
        Record("StopAll(%u)", gameObj);
        if (mForward) SoundEngineCalls::StopAll(gameObj);
    }
    AURESULT RenderAudio() override {
        Record("RenderAudio()");
        return mForward ? SoundEngineCalls::RenderAudio() : AuResultSuccess;
    }

private:
    bool Fails(const std::string& name) const { return failing.count(name) != 0; }

    __attribute__((format(printf, 2, 3))) void Record(const char* format, ...) {
        char line[256];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(line, sizeof line, format, arguments);
        va_end(arguments);
        calls.emplace_back(line);
    }

    bool mForward;
};
