#include "SoundEngineCalls.h"

#include <AU/IAuStreamMgr.h>

SoundEngineCalls& SoundEngineCalls::Engine() {
    static SoundEngineCalls calls;
    return calls;
}

AURESULT SoundEngineCalls::MemoryMgrInit(const AuMemoryMgrSettings* settings) {
    return AU::MemoryMgr::Init(settings);
}

void SoundEngineCalls::MemoryMgrTerm() {
    AU::MemoryMgr::Term();
}

void SoundEngineCalls::StreamMgrGetDefaultSettings(AuStreamMgrSettings& settings) {
    AU::StreamMgr::GetDefaultSettings(settings);
}

AU::IAuStreamMgr* SoundEngineCalls::StreamMgrCreate(const AuStreamMgrSettings& settings) {
    return AU::StreamMgr::Create(settings);
}

void SoundEngineCalls::StreamMgrDestroy() {
    if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
}

void SoundEngineCalls::GetDefaultDeviceSettings(AuDeviceSettings& settings) {
    AU::StreamMgr::GetDefaultDeviceSettings(settings);
}

AU::StreamMgr::IAuFileLocationResolver* SoundEngineCalls::GetFileLocationResolver() {
    return AU::StreamMgr::GetFileLocationResolver();
}

void SoundEngineCalls::SetFileLocationResolver(AU::StreamMgr::IAuFileLocationResolver* resolver) {
    AU::StreamMgr::SetFileLocationResolver(resolver);
}

u32 SoundEngineCalls::CreateDevice(const AuDeviceSettings& settings, AU::StreamMgr::IAuLowLevelIOHook* hook) {
    return AU::StreamMgr::CreateDevice(settings, hook);
}

AURESULT SoundEngineCalls::DestroyDevice(u32 deviceID) {
    return AU::StreamMgr::DestroyDevice(deviceID);
}

AURESULT SoundEngineCalls::SetBasePath(CAuFileLocationBase& location, const wchar_t* path) {
    return location.SetBasePath(path);
}

AURESULT SoundEngineCalls::SetCurrentLanguage(const wchar_t* language) {
    return AU::StreamMgr::SetCurrentLanguage(language);
}

void SoundEngineCalls::GetDefaultInitSettings(AuInitSettings& settings) {
    AU::SoundEngine::GetDefaultInitSettings(settings);
}

void SoundEngineCalls::GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings) {
    AU::SoundEngine::GetDefaultPlatformInitSettings(settings);
}

AURESULT SoundEngineCalls::SoundEngineInit(AuInitSettings* settings,
                                           AuPlatformInitSettings* platformSettings) {
    return AU::SoundEngine::Init(settings, platformSettings);
}

void SoundEngineCalls::SoundEngineTerm() {
    AU::SoundEngine::Term();
}

void SoundEngineCalls::MusicGetDefaultInitSettings(AuMusicSettings& settings) {
    AU::MusicEngine::GetDefaultInitSettings(settings);
}

AURESULT SoundEngineCalls::MusicInit(AuMusicSettings* settings) {
    return AU::MusicEngine::Init(settings);
}

void SoundEngineCalls::MusicTerm() {
    AU::MusicEngine::Term();
}

AURESULT SoundEngineCalls::RegisterCodec(u32 companyID, u32 codecID, AuCreateSourceCallback fileSourceFactory,
                                         AuCreateSourceCallback bankSourceFactory) {
    return AU::SoundEngine::RegisterCodec(companyID, codecID, fileSourceFactory, bankSourceFactory);
}

AURESULT SoundEngineCalls::RegisterPlugin(AuPluginType type, u32 companyID, u32 pluginID,
                                          AuCreatePluginCallback createFunc,
                                          AuCreateParamCallback createParamFunc) {
    return AU::SoundEngine::RegisterPlugin(type, companyID, pluginID, createFunc, createParamFunc);
}

AURESULT SoundEngineCalls::LoadBank(const char* fileName, AuMemPoolId poolID, AuBankID& bankID) {
    return AU::SoundEngine::LoadBank(fileName, poolID, bankID);
}

AURESULT SoundEngineCalls::UnloadBank(const char* fileName, const void* memory, AuMemPoolId* poolID) {
    return AU::SoundEngine::UnloadBank(fileName, memory, poolID);
}

AURESULT SoundEngineCalls::RegisterGameObj(AuGameObjectID gameObj, const char* name, u32 listenerMask) {
    return AU::SoundEngine::RegisterGameObj(gameObj, name, listenerMask);
}

AURESULT SoundEngineCalls::UnregisterAllGameObj() {
    return AU::SoundEngine::UnregisterAllGameObj();
}

AURESULT SoundEngineCalls::SetRTPCValue(const char* name, f32 value, AuGameObjectID gameObj, i32 transitionMs,
                                        AuCurveInterpolation curve, bool bypass) {
    return AU::SoundEngine::SetRTPCValue(name, value, gameObj, transitionMs, curve, bypass);
}

AuPlayingID SoundEngineCalls::PostEvent(AuUniqueID eventID, AuGameObjectID gameObj, u32 flags,
                                        AuCallbackFunc callback, void* cookie, u32 numExternals,
                                        const AuExternalSourceInfo* externals, AuPlayingID playingID) {
    return AU::SoundEngine::PostEvent(eventID, gameObj, flags, callback, cookie, numExternals, externals,
                                      playingID);
}

AURESULT SoundEngineCalls::SeekOnEvent(AuUniqueID eventID, AuGameObjectID gameObj, f32 fraction,
                                       bool snapToMarker, AuPlayingID playingID) {
    return AU::SoundEngine::SeekOnEvent(eventID, gameObj, fraction, snapToMarker, playingID);
}

void SoundEngineCalls::StopAll(AuGameObjectID gameObj) {
    AU::SoundEngine::StopAll(gameObj);
}

AURESULT SoundEngineCalls::RenderAudio() {
    return AU::SoundEngine::RenderAudio();
}
