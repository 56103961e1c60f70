// The exported sound-engine interface.
#pragma once

#include <atomic>

#include <AU/AuCallback.h>
#include <AU/AuInitSettings.h>
#include <AU/AuPluginTypes.h>
#include <AU/AuPositionTypes.h>
#include <AU/AuTypes.h>
#include <AU/SoundEngineBanks.h>

// One external source posted with an event: the sound whose source carries the cookie plays the
// first usable of file name, memory or file ID.
struct AuExternalSourceInfo {
    u32 iExternalSrcCookie;
    u32 idCodec;
    const wchar_t* szFile;
    const void* pInMemory;
    u32 uiMemorySize;
    u32 idFile;
};

// Every game object at once (and, for game syncs, the global scope).
constexpr u32 AU_INVALID_GAME_OBJECT = 0xFFFFFFFF;

enum AuActionOnEventType : u32 {
    AuActionOnEventType_Stop = 0,
    AuActionOnEventType_Pause = 1,
    AuActionOnEventType_Resume = 2,
    AuActionOnEventType_Break = 3,
};

struct CAuLoadedBank;

// The music engine's hooks. The state handler answers true when it has taken the change (it sets
// the state later itself); the reader gets each hierarchy record the core does not read (at its
// 5-byte header {u8 type, u32 size}) and answers 3 for a type it does not read either.
using AuStateChangeHandlerFunc = bool (*)(AuUniqueID groupID, AuUniqueID stateID);
using AuBankExtensionReaderFunc = AURESULT (*)(const u8* record, CAuLoadedBank* bank, u32 bankID);

namespace AU::SoundEngine {

// Playing IDs count up from here; 0 is never handed out.
extern std::atomic<AuPlayingID> g_PlayingID;

// The ID of a name: at most 259 bytes, A-Z lower-cased, 32-bit FNV-1. Null gives 0, "" the basis.
u32 GetIDFromString(const char* name);
// Converts through the ANSI code page first, then hashes as the 8-bit form.
u32 GetIDFromString(const wchar_t* name);

// Ends the frame of calls made so far and wakes the audio thread to run them. Call it once per
// game frame. 1, or 2 while the engine is not initialised.
AURESULT RenderAudio();

void GetDefaultInitSettings(AuInitSettings& settings);
// Clears the record, then writes the defaults (the window is the foreground window).
void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings);

// Needs the memory manager (else 74) and the stream manager (else 75), and SSE (else 76). Null
// records take the defaults; given ones get the effective settings back from a start that
// succeeds (the ring's size as rounded, the defaults that replaced zero or too small values, the
// main output's layout and its sink options when it fell back to silence), and are left as they
// were by one that fails. 2 when already running (the running engine is left as it is), 31 for a
// samples-per-frame other than 256, 512, 1024 or 2048, 52 without memory; a failed start leaves
// nothing behind.
AURESULT Init(AuInitSettings* settings, AuPlatformInitSettings* platformSettings);
bool IsInitialized();
// Stops the threads and destroys every manager and the default pool.
void Term();

// Silent outputs until WakeupFromSuspend; with rendering, frames go on at the output's pace.
AURESULT Suspend(bool renderWhileSuspended = false);
AURESULT WakeupFromSuspend();

// Callbacks run on the audio thread. A posting call made inside a callback may find the message
// ring full and run queued messages itself, and with them other callbacks, before it returns: callback
// code must be re-entrant.

// Once per audio frame; 1, 2 before Init, 52 without memory.
AURESULT RegisterGlobalCallback(AuGlobalCallbackFunc callback);

// No callback for this playing ID (or any of this cookie's) starts after these return; off the
// audio thread they also wait for one that is running.
void CancelEventCallback(AuPlayingID playingID);
void CancelEventCallbackCookie(void* cookie);

// A null callback removes the bus's. 1, 2 before Init, 52 without memory.
AURESULT RegisterBusVolumeCallback(AuUniqueID busID, AuBusCallbackFunc callback);
AURESULT RegisterBusMeteringCallback(AuUniqueID busID, AuBusMeteringCallbackFunc callback,
                                     AuMeteringFlags flags);

// Every call below checks its arguments on the caller's thread and posts one message that the
// audio thread runs at its next pass; unknown game objects, groups and parameters are found there
// and dropped silently. Name forms take the ID of the name (GetIDFromString); most give 15 when
// that ID is 0. They need the engine initialised (2 otherwise; 0 where a playing ID is returned).

// Events and playback. The new playing ID, or 0: unknown event, external sources that cannot be
// copied (or a count without an array), or no record for the playing ID.
AuPlayingID PostEvent(AuUniqueID eventID, u32 gameObj, u32 flags = 0, AuCallbackFunc callback = nullptr,
                      void* cookie = nullptr, u32 numExternals = 0,
                      const AuExternalSourceInfo* externals = nullptr, AuPlayingID playingID = 0);
AuPlayingID PostEvent(const char* eventName, u32 gameObj, u32 flags = 0, AuCallbackFunc callback = nullptr,
                      void* cookie = nullptr, u32 numExternals = 0,
                      const AuExternalSourceInfo* externals = nullptr, AuPlayingID playingID = 0);
AuPlayingID PostEvent(const wchar_t* eventName, u32 gameObj, u32 flags = 0, AuCallbackFunc callback = nullptr,
                      void* cookie = nullptr, u32 numExternals = 0,
                      const AuExternalSourceInfo* externals = nullptr, AuPlayingID playingID = 0);
// 2 for an unknown event.
AURESULT ExecuteActionOnEvent(AuUniqueID eventID, AuActionOnEventType action,
                              u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                              AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                              AuPlayingID playingID = 0);
AURESULT ExecuteActionOnEvent(const char* eventName, AuActionOnEventType action,
                              u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                              AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                              AuPlayingID playingID = 0);
AURESULT ExecuteActionOnEvent(const wchar_t* eventName, AuActionOnEventType action,
                              u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                              AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                              AuPlayingID playingID = 0);
// 2 for an unknown event. The position in ms, or as a fraction of the duration.
AURESULT SeekOnEvent(AuUniqueID eventID, u32 gameObj, i32 positionMs, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT SeekOnEvent(AuUniqueID eventID, u32 gameObj, f32 fraction, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT SeekOnEvent(const char* eventName, u32 gameObj, i32 positionMs, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT SeekOnEvent(const char* eventName, u32 gameObj, f32 fraction, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT SeekOnEvent(const wchar_t* eventName, u32 gameObj, i32 positionMs, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT SeekOnEvent(const wchar_t* eventName, u32 gameObj, f32 fraction, bool snapToMarker = false,
                     AuPlayingID playingID = 0);
AURESULT PostTrigger(AuUniqueID triggerID, u32 gameObj);
AURESULT PostTrigger(const char* triggerName, u32 gameObj);
AURESULT PostTrigger(const wchar_t* triggerName, u32 gameObj);
void StopAll(u32 gameObj = AU_INVALID_GAME_OBJECT);
// Playing ID 0 posts nothing.
void StopPlayingID(AuPlayingID playingID, i32 transitionMs = 0,
                   AuCurveInterpolation curve = AuCurveInterpolation_Linear);
AuPlayingID PlaySourcePlugin(u32 pluginID, u32 companyID, u32 gameObj);
AURESULT StopSourcePlugin(u32 pluginID, u32 companyID, AuPlayingID playingID);

// Game objects. 0 and 0xFFFFFFFF are reserved.
AURESULT RegisterGameObj(u32 gameObj, u32 listenerMask = 1);
AURESULT RegisterGameObj(u32 gameObj, const char* name, u32 listenerMask = 1);
AURESULT UnregisterGameObj(u32 gameObj);
AURESULT UnregisterAllGameObj();
AURESULT SetPosition(u32 gameObj, const AuSoundPosition& position);
// Accepts object 0.
AURESULT SetPositionInternal(u32 gameObj, const AuSoundPosition& position);
AURESULT SetMultiplePositions(u32 gameObj, const AuSoundPosition* positions, u16 count,
                              AuMultiPositionType type = AuMultiPositionType_MultiDirections);
AURESULT SetActiveListeners(u32 gameObj, u32 listenerMask);
AURESULT SetAttenuationScalingFactor(u32 gameObj, f32 factor);
AURESULT SetGameObjectAuxSendValues(u32 gameObj, const AuAuxSendValue* values, u32 count);
AURESULT SetGameObjectOutputBusVolume(u32 gameObj, f32 volume);
AURESULT SetObjectObstructionAndOcclusion(u32 gameObj, u32 listener, f32 obstruction, f32 occlusion);

// Listeners 0 to 7; other indices are posted and refused by the audio thread.
AURESULT SetListenerPosition(const AuListenerPosition& position, u32 listener = 0);
AURESULT SetListenerScalingFactor(u32 listener, f32 factor);
// 52 when the volumes cannot be copied.
AURESULT SetListenerSpatialization(u32 listener, bool spatialized, AuChannelConfig config = AuChannelConfig(),
                                   const f32* volumesDb = nullptr);
AURESULT SetListenerPipeline(u32 listener, bool audio, bool motion);

// Outputs, mixing and capture.
AURESULT AddSecondaryOutput(u32 outputID, AuAudioOutputType type, u32 listenerMask);
AURESULT RemoveSecondaryOutput(u32 outputID, AuAudioOutputType type);
AURESULT SetSecondaryOutputVolume(u32 outputID, AuAudioOutputType type, f32 volume);
AURESULT SetPanningRule(AuPanningRule rule, AuAudioOutputType type = AuAudioOutputType_Main,
                        u32 outputID = 0);
AURESULT SetSpeakerAngles(const f32* angles, u32 count, f32 heightAngle,
                          AuAudioOutputType type = AuAudioOutputType_Main, u32 outputID = 0);
AURESULT StartOutputCapture(const wchar_t* fileName);
AURESULT StopOutputCapture();
AURESULT AddOutputCaptureMarker(const char* text);
AURESULT SetBusEffect(AuUniqueID busID, u32 effectIndex, AuUniqueID shareSetID);
AURESULT SetBusEffect(const char* busName, u32 effectIndex, AuUniqueID shareSetID);
AURESULT SetBusEffect(const wchar_t* busName, u32 effectIndex, AuUniqueID shareSetID);
AURESULT SetActorMixerEffect(AuUniqueID nodeID, u32 effectIndex, AuUniqueID shareSetID);
AURESULT SetMixer(AuUniqueID busID, AuUniqueID shareSetID);
AURESULT SetMixer(const char* busName, AuUniqueID shareSetID);
AURESULT SetMixer(const wchar_t* busName, AuUniqueID shareSetID);
void SetRandomSeed(u32 seed);

// Queries of the output devices and the play positions; 2 for no such device. The device queries
// wait for an audio pass in progress to end.
AURESULT GetPanningRule(AuPanningRule& rule, AuAudioOutputType type = AuAudioOutputType_Main,
                        u32 outputID = 0);
AURESULT GetSpeakerAngles(f32* angles, u32& count, f32& heightAngle,
                          AuAudioOutputType type = AuAudioOutputType_Main, u32 outputID = 0);
AuChannelConfig GetSpeakerConfiguration(AuAudioOutputType type = AuAudioOutputType_Main, u32 outputID = 0);
// 31 for a null position.
AURESULT GetSourcePlayPosition(AuPlayingID playingID, i32* positionMs, bool extrapolate = true);
AURESULT GetSourceStreamBuffering(AuPlayingID playingID, i32& bufferingMs, bool& isBuffering);

// Settings applied at once. A lower priority number wins: the game's calls 0, banks 2, start 3.
AURESULT SetVolumeThreshold(f32 thresholdDb);
AURESULT SetMaxNumVoicesLimit(u16 maxVoices);
AURESULT SetVolumeThresholdInternal(f32 thresholdDb, u32 priority);
AURESULT SetMaxNumVoicesLimitInternal(u16 maxVoices, u32 priority);

// Runs every audio frame with false and at Term with true, newest first. The extension forms take
// no lock: they are for callers that hold g_csMain already.
AURESULT AddBehavioralExtension(AuGlobalCallbackFunc callback);
AURESULT RemoveBehavioralExtension(AuGlobalCallbackFunc callback);
AURESULT UnregisterGlobalCallback(AuGlobalCallbackFunc callback);
AURESULT RegisterCodec(u32 companyID, u32 codecID, AuCreateSourceCallback fileSourceFactory,
                       AuCreateSourceCallback bankSourceFactory);
AURESULT RegisterPlugin(AuPluginType type, u32 companyID, u32 pluginID, AuCreatePluginCallback createFunc,
                        AuCreateParamCallback createParamFunc);

// Stored for the state manager and the bank loader; null removes the hook. Any thread.
void SetStateChangeHandler(AuStateChangeHandlerFunc handler);
void SetBankExtensionReader(AuBankExtensionReaderFunc reader);

// Game syncs.
AURESULT SetState(AuUniqueID groupID, AuUniqueID stateID);
AURESULT SetState(const char* groupName, const char* stateName);
AURESULT SetState(const wchar_t* groupName, const wchar_t* stateName);
AURESULT SetStateInternal(AuUniqueID groupID, AuUniqueID stateID, bool flagA, bool flagB);
AURESULT SetSwitch(AuUniqueID groupID, AuUniqueID stateID, u32 gameObj);
AURESULT SetSwitch(const char* groupName, const char* stateName, u32 gameObj);
AURESULT SetSwitch(const wchar_t* groupName, const wchar_t* stateName, u32 gameObj);
AURESULT SetRTPCValue(AuUniqueID paramID, f32 value, u32 gameObj = AU_INVALID_GAME_OBJECT,
                      i32 transitionMs = 0, AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                      bool bypass = false);
AURESULT SetRTPCValue(const char* paramName, f32 value, u32 gameObj = AU_INVALID_GAME_OBJECT,
                      i32 transitionMs = 0, AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                      bool bypass = false);
AURESULT SetRTPCValue(const wchar_t* paramName, f32 value, u32 gameObj = AU_INVALID_GAME_OBJECT,
                      i32 transitionMs = 0, AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                      bool bypass = false);
// 31 for a playing ID that has ended or never was.
AURESULT SetRTPCValueByPlayingID(AuUniqueID paramID, f32 value, AuPlayingID playingID, i32 transitionMs = 0,
                                 AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                                 bool bypass = false);
AURESULT SetRTPCValueByPlayingID(const char* paramName, f32 value, AuPlayingID playingID,
                                 i32 transitionMs = 0,
                                 AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                                 bool bypass = false);
AURESULT SetRTPCValueByPlayingID(const wchar_t* paramName, f32 value, AuPlayingID playingID,
                                 i32 transitionMs = 0,
                                 AuCurveInterpolation curve = AuCurveInterpolation_Linear,
                                 bool bypass = false);
AURESULT ResetRTPCValue(AuUniqueID paramID, u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                        AuCurveInterpolation curve = AuCurveInterpolation_Linear, bool bypass = false);
AURESULT ResetRTPCValue(const char* paramName, u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                        AuCurveInterpolation curve = AuCurveInterpolation_Linear, bool bypass = false);
AURESULT ResetRTPCValue(const wchar_t* paramName, u32 gameObj = AU_INVALID_GAME_OBJECT, i32 transitionMs = 0,
                        AuCurveInterpolation curve = AuCurveInterpolation_Linear, bool bypass = false);

} // namespace AU::SoundEngine

struct IXAudio2;
struct IDirectSound8;

namespace AU {

// The platform objects of the main output's sink, for a game that reaches the output itself;
// null when the main sink is of another kind or there is none.
IDirectSound8* GetDirectSoundInstance();
IXAudio2* GetEngineXAudio2Interface();

} // namespace AU

namespace AU::MotionEngine {

// Players 0 to 3: others give 2 (Remove posts nothing).
AURESULT AddPlayerMotionDevice(u8 player, u32 companyID, u32 deviceID, void* initParams = nullptr);
void RemovePlayerMotionDevice(u8 player, u32 companyID, u32 deviceID);
// Players 0 to 3 and listeners 0 to 7; others post nothing.
void SetPlayerListener(u8 player, u8 listener);
void SetPlayerVolume(u8 player, f32 volumeDb);
// A key held already keeps its first factory.
void RegisterMotionDevice(u32 companyID, u32 pluginID, AuCreateMotionDeviceCallback factory);

} // namespace AU::MotionEngine
