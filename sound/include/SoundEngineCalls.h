// Every sound-engine call the sound system makes, in one place. The default forwards each to the
// engine; tests derive from it to record the calls, and to make one fail, on the way.
#pragma once

#include <AU/AuFileLocationBase.h>
#include <AU/MemoryMgr.h>
#include <AU/MusicEngine.h>
#include <AU/SoundEngine.h>
#include <AU/StreamMgr.h>

class SoundEngineCalls {
public:
    virtual ~SoundEngineCalls() = default;

    // The calls that reach the engine unchanged.
    static SoundEngineCalls& Engine();

    virtual AURESULT MemoryMgrInit(const AuMemoryMgrSettings* settings);
    virtual void MemoryMgrTerm();

    virtual void StreamMgrGetDefaultSettings(AuStreamMgrSettings& settings);
    virtual AU::IAuStreamMgr* StreamMgrCreate(const AuStreamMgrSettings& settings);
    // Destroys the stream manager when there is one.
    virtual void StreamMgrDestroy();
    virtual void GetDefaultDeviceSettings(AuDeviceSettings& settings);
    virtual AU::StreamMgr::IAuFileLocationResolver* GetFileLocationResolver();
    virtual void SetFileLocationResolver(AU::StreamMgr::IAuFileLocationResolver* resolver);
    virtual u32 CreateDevice(const AuDeviceSettings& settings, AU::StreamMgr::IAuLowLevelIOHook* hook);
    virtual AURESULT DestroyDevice(u32 deviceID);
    virtual AURESULT SetBasePath(CAuFileLocationBase& location, const wchar_t* path);
    virtual AURESULT SetCurrentLanguage(const wchar_t* language);

    virtual void GetDefaultInitSettings(AuInitSettings& settings);
    virtual void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings);
    virtual AURESULT SoundEngineInit(AuInitSettings* settings, AuPlatformInitSettings* platformSettings);
    virtual void SoundEngineTerm();
    virtual void MusicGetDefaultInitSettings(AuMusicSettings& settings);
    virtual AURESULT MusicInit(AuMusicSettings* settings);
    virtual void MusicTerm();
    virtual AURESULT RegisterCodec(u32 companyID, u32 codecID, AuCreateSourceCallback fileSourceFactory,
                                   AuCreateSourceCallback bankSourceFactory);
    virtual AURESULT RegisterPlugin(AuPluginType type, u32 companyID, u32 pluginID,
                                    AuCreatePluginCallback createFunc, AuCreateParamCallback createParamFunc);

    virtual AURESULT LoadBank(const char* fileName, AuMemPoolId poolID, AuBankID& bankID);
    virtual AURESULT UnloadBank(const char* fileName, const void* memory, AuMemPoolId* poolID);
    virtual AURESULT RegisterGameObj(AuGameObjectID gameObj, const char* name, u32 listenerMask);
    virtual AURESULT UnregisterAllGameObj();
    virtual AURESULT SetRTPCValue(const char* name, f32 value, AuGameObjectID gameObj, i32 transitionMs,
                                  AuCurveInterpolation curve, bool bypass);
    virtual AuPlayingID PostEvent(AuUniqueID eventID, AuGameObjectID gameObj, u32 flags,
                                  AuCallbackFunc callback, void* cookie, u32 numExternals,
                                  const AuExternalSourceInfo* externals, AuPlayingID playingID);
    virtual AURESULT SeekOnEvent(AuUniqueID eventID, AuGameObjectID gameObj, f32 fraction, bool snapToMarker,
                                 AuPlayingID playingID);
    virtual void StopAll(AuGameObjectID gameObj);
    virtual AURESULT RenderAudio();
};
