// The exported posting layer: each call checks its arguments on the caller's thread, then
// reserves, fills and publishes one record of the message ring; the audio thread acts on it at
// its next pass. A poster that fails after reserving withdraws the record (type 48).
#include "core/AuAudioMgr.h"
#include "core/AuEngineSettings.h"
#include "core/AuExternalSources.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <cstring>
#include <cwchar>

std::atomic<AuPlayingID> AU::SoundEngine::g_PlayingID{0};

namespace {

constexpr u32 kAllObjects = AU_INVALID_GAME_OBJECT;
// The ID of "none", which state messages carry as 0.
constexpr u32 kStateNone = 0x2CA33BDB;
constexpr u32 kMaxPlayers = 4;

// 0 means failure, so a wrap skips it.
AuPlayingID NextPlayingID() {
    AuPlayingID id = ++AU::SoundEngine::g_PlayingID;
    while (id == 0)
        id = ++AU::SoundEngine::g_PlayingID;
    return id;
}

AuQueuedMsg* Reserve(u16 type, u32 size) {
    return g_pAudioMgr ? g_pAudioMgr->ReserveQueue(type, size) : nullptr;
}

template <class Payload> AURESULT Post(AuQueuedMsgType type, const Payload& payload) {
    AuQueuedMsg* msg = Reserve(type, AuQueuedMsgSize<Payload>());
    if (!msg) return AuResultFail;
    msg->As<Payload>() = payload;
    g_pAudioMgr->PublishMsg(msg);
    return AuResultSuccess;
}

// The ID of a name; false for 0 (a null name, or one that hashes to 0).
template <class Char> bool IdOf(const Char* name, u32& id) {
    id = AU::SoundEngine::GetIDFromString(name);
    return id != 0;
}

CAuIndexable* LookUp(AuIndexTableId table, u32 id) {
    return g_pIndex ? g_pIndex->GetPtrAndAddRef(table, id) : nullptr;
}

template <class Char>
AuPlayingID PostEventByName(const Char* name, u32 gameObj, u32 flags, AuCallbackFunc callback, void* cookie,
                            u32 numExternals, const AuExternalSourceInfo* externals, AuPlayingID playingID) {
    return AU::SoundEngine::PostEvent(AU::SoundEngine::GetIDFromString(name), gameObj, flags, callback,
                                      cookie, numExternals, externals, playingID);
}

AURESULT PostSeek(AuUniqueID eventID, u32 gameObj, AuMsgSeek seek) {
    CAuIndexable* event = LookUp(AuIndexEvents, eventID);
    if (!event) return AuResultFail;
    seek.pEvent = event;
    seek.gameObjID = gameObj;
    if (Post(AuQueuedMsgType_Seek, seek) != AuResultSuccess) {
        event->Release();
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT PostRTPC(u32 paramID, f32 value, u32 gameObj, AuPlayingID playingID, i32 ms,
                  AuCurveInterpolation curve, bool bypass) {
    if (ms == 0 && !bypass)
        return Post(AuQueuedMsgType_SetRTPC, AuMsgSetRTPC{paramID, value, gameObj, playingID});
    return Post(AuQueuedMsgType_SetRTPCWithTransition,
                AuMsgSetRTPCWithTransition{paramID, value, gameObj, playingID, ms, curve, bypass});
}

template <class Char>
AURESULT SetRTPCByName(const Char* name, f32 value, u32 gameObj, i32 ms, AuCurveInterpolation curve,
                       bool bypass) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::SetRTPCValue(id, value, gameObj, ms, curve, bypass);
}

template <class Char>
AURESULT SetRTPCByPlayingIDName(const Char* name, f32 value, AuPlayingID playingID, i32 ms,
                                AuCurveInterpolation curve, bool bypass) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::SetRTPCValueByPlayingID(id, value, playingID, ms, curve, bypass);
}

template <class Char>
AURESULT ResetRTPCByName(const Char* name, u32 gameObj, i32 ms, AuCurveInterpolation curve, bool bypass) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::ResetRTPCValue(id, gameObj, ms, curve, bypass);
}

template <class Char> AURESULT SetStateByName(const Char* group, const Char* state) {
    u32 groupID, stateID;
    if (!IdOf(group, groupID) || !IdOf(state, stateID)) return AuResultIDNotFound;
    return AU::SoundEngine::SetState(groupID, stateID);
}

template <class Char> AURESULT SetSwitchByName(const Char* group, const Char* state, u32 gameObj) {
    u32 groupID, stateID;
    if (!IdOf(group, groupID) || !IdOf(state, stateID)) return AuResultIDNotFound;
    return AU::SoundEngine::SetSwitch(groupID, stateID, gameObj);
}

template <class Char> AURESULT PostTriggerByName(const Char* name, u32 gameObj) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::PostTrigger(id, gameObj);
}

template <class Char> AURESULT SetBusEffectByName(const Char* name, u32 index, AuUniqueID shareSet) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::SetBusEffect(id, index, shareSet);
}

template <class Char> AURESULT SetMixerByName(const Char* name, AuUniqueID shareSet) {
    u32 id;
    if (!IdOf(name, id)) return AuResultIDNotFound;
    return AU::SoundEngine::SetMixer(id, shareSet);
}

// The text copied into the default pool; null when it cannot be.
template <class Char> Char* CopyText(const Char* text, size_t length) {
    const size_t bytes = (length + 1) * sizeof(Char);
    if (bytes > UINT32_MAX) return nullptr;
    auto* copy = static_cast<Char*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes)));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

bool IsMainOutput(u32 type, u32 outputID) {
    return type == AuAudioOutputType_Main && outputID == 0;
}

} // namespace

namespace AU::SoundEngine {

AuPlayingID PostEvent(AuUniqueID eventID, u32 gameObj, u32 flags, AuCallbackFunc callback, void* cookie,
                      u32 numExternals, const AuExternalSourceInfo* externals, AuPlayingID playingID) {
    if (!g_pAudioMgr || !g_pPlayingMgr) return 0;
    // A count without an array would be read from address 0.
    if (numExternals && !externals) return 0;
    CAuIndexable* event = LookUp(AuIndexEvents, eventID);
    if (!event) return 0;
    AuExternalSourceArray* sources = nullptr;
    if (numExternals) {
        sources = AuExternalSourceArray::Create(numExternals, externals);
        if (!sources) {
            event->Release();
            return 0;
        }
    }
    const auto giveBack = [&] {
        event->Release();
        if (sources) sources->Release();
    };
    AuQueuedMsg* msg = Reserve(AuQueuedMsgType_Event, AuQueuedMsgSize<AuMsgEvent>());
    if (!msg) {
        giveBack();
        return 0;
    }
    const AuPlayingID id = NextPlayingID();
    msg->As<AuMsgEvent>() = AuMsgEvent{{gameObj, id, playingID, 0, {0, 0, 0}, sources}, event};
    if (g_pPlayingMgr->AddPlayingID(id, gameObj, eventID, callback, cookie, flags, sources) !=
        AuResultSuccess) {
        g_pAudioMgr->WithdrawMsg(msg);
        giveBack();
        return 0;
    }
    g_pAudioMgr->PublishMsg(msg);
    return id;
}

AuPlayingID PostEvent(const char* eventName, u32 gameObj, u32 flags, AuCallbackFunc callback, void* cookie,
                      u32 numExternals, const AuExternalSourceInfo* externals, AuPlayingID playingID) {
    return PostEventByName(eventName, gameObj, flags, callback, cookie, numExternals, externals, playingID);
}

AuPlayingID PostEvent(const wchar_t* eventName, u32 gameObj, u32 flags, AuCallbackFunc callback, void* cookie,
                      u32 numExternals, const AuExternalSourceInfo* externals, AuPlayingID playingID) {
    return PostEventByName(eventName, gameObj, flags, callback, cookie, numExternals, externals, playingID);
}

AURESULT ExecuteActionOnEvent(AuUniqueID eventID, AuActionOnEventType action, u32 gameObj, i32 transitionMs,
                              AuCurveInterpolation curve, AuPlayingID playingID) {
    CAuIndexable* event = LookUp(AuIndexEvents, eventID);
    if (!event) return AuResultFail;
    if (Post(AuQueuedMsgType_EventAction,
             AuMsgEventAction{event, gameObj, action, transitionMs, curve, playingID}) != AuResultSuccess) {
        event->Release();
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT ExecuteActionOnEvent(const char* eventName, AuActionOnEventType action, u32 gameObj,
                              i32 transitionMs, AuCurveInterpolation curve, AuPlayingID playingID) {
    return ExecuteActionOnEvent(GetIDFromString(eventName), action, gameObj, transitionMs, curve, playingID);
}

AURESULT ExecuteActionOnEvent(const wchar_t* eventName, AuActionOnEventType action, u32 gameObj,
                              i32 transitionMs, AuCurveInterpolation curve, AuPlayingID playingID) {
    return ExecuteActionOnEvent(GetIDFromString(eventName), action, gameObj, transitionMs, curve, playingID);
}

AURESULT SeekOnEvent(AuUniqueID eventID, u32 gameObj, i32 positionMs, bool snapToMarker,
                     AuPlayingID playingID) {
    AuMsgSeek seek{};
    seek.position.ms = positionMs;
    seek.playingID = playingID;
    seek.snapToMarker = snapToMarker;
    return PostSeek(eventID, gameObj, seek);
}

AURESULT SeekOnEvent(AuUniqueID eventID, u32 gameObj, f32 fraction, bool snapToMarker,
                     AuPlayingID playingID) {
    AuMsgSeek seek{};
    seek.position.fraction = fraction;
    seek.playingID = playingID;
    seek.isFraction = true;
    seek.snapToMarker = snapToMarker;
    return PostSeek(eventID, gameObj, seek);
}

AURESULT SeekOnEvent(const char* eventName, u32 gameObj, i32 positionMs, bool snapToMarker,
                     AuPlayingID playingID) {
    return SeekOnEvent(GetIDFromString(eventName), gameObj, positionMs, snapToMarker, playingID);
}

AURESULT SeekOnEvent(const char* eventName, u32 gameObj, f32 fraction, bool snapToMarker,
                     AuPlayingID playingID) {
    return SeekOnEvent(GetIDFromString(eventName), gameObj, fraction, snapToMarker, playingID);
}

AURESULT SeekOnEvent(const wchar_t* eventName, u32 gameObj, i32 positionMs, bool snapToMarker,
                     AuPlayingID playingID) {
    return SeekOnEvent(GetIDFromString(eventName), gameObj, positionMs, snapToMarker, playingID);
}

AURESULT SeekOnEvent(const wchar_t* eventName, u32 gameObj, f32 fraction, bool snapToMarker,
                     AuPlayingID playingID) {
    return SeekOnEvent(GetIDFromString(eventName), gameObj, fraction, snapToMarker, playingID);
}

AURESULT PostTrigger(AuUniqueID triggerID, u32 gameObj) {
    return Post(AuQueuedMsgType_Trigger, AuMsgTrigger{gameObj, triggerID});
}

AURESULT PostTrigger(const char* triggerName, u32 gameObj) {
    return PostTriggerByName(triggerName, gameObj);
}

AURESULT PostTrigger(const wchar_t* triggerName, u32 gameObj) {
    return PostTriggerByName(triggerName, gameObj);
}

void StopAll(u32 gameObj) {
    Post(AuQueuedMsgType_StopAll, AuMsgStopAll{gameObj});
}

void StopPlayingID(AuPlayingID playingID, i32 transitionMs, AuCurveInterpolation curve) {
    if (playingID == 0) return;
    Post(AuQueuedMsgType_StopPlayingID, AuMsgStopPlayingID{playingID, transitionMs, curve});
}

AuPlayingID PlaySourcePlugin(u32 pluginID, u32 companyID, u32 gameObj) {
    AuQueuedMsg* msg = Reserve(AuQueuedMsgType_SourcePlugin, AuQueuedMsgSize<AuMsgSourcePlugin>());
    if (!msg) return 0;
    const AuPlayingID id = NextPlayingID();
    msg->As<AuMsgSourcePlugin>() =
        AuMsgSourcePlugin{{gameObj, id, 0, 0, {0, 0, 0}, nullptr}, pluginID, companyID, 0};
    g_pAudioMgr->PublishMsg(msg);
    return id;
}

AURESULT StopSourcePlugin(u32 pluginID, u32 companyID, AuPlayingID playingID) {
    return Post(
        AuQueuedMsgType_SourcePlugin,
        AuMsgSourcePlugin{{kAllObjects, playingID, 0, 0, {0, 0, 0}, nullptr}, pluginID, companyID, 1});
}

AURESULT RegisterGameObj(u32 gameObj, u32 listenerMask) {
    if (gameObj == 0 || gameObj == kAllObjects || listenerMask > 0xFF) return AuResultInvalidParameter;
    return Post(AuQueuedMsgType_RegisterGameObj, AuMsgRegisterGameObj{gameObj, listenerMask, 0});
}

AURESULT RegisterGameObj(u32 gameObj, const char*, u32 listenerMask) {
    return RegisterGameObj(gameObj, listenerMask);
}

AURESULT UnregisterGameObj(u32 gameObj) {
    if (gameObj == 0) return AuResultFail;
    return Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{gameObj});
}

AURESULT UnregisterAllGameObj() {
    return Post(AuQueuedMsgType_UnregisterGameObj, AuMsgUnregisterGameObj{kAllObjects});
}

AURESULT SetPosition(u32 gameObj, const AuSoundPosition& position) {
    if (gameObj == 0) return AuResultFail;
    return SetPositionInternal(gameObj, position);
}

AURESULT SetPositionInternal(u32 gameObj, const AuSoundPosition& position) {
    return Post(AuQueuedMsgType_GameObjPosition, AuMsgGameObjPosition{gameObj, position});
}

AURESULT SetMultiplePositions(u32 gameObj, const AuSoundPosition* positions, u16 count,
                              AuMultiPositionType type) {
    if (type > AuMultiPositionType_MultiDirections) return AuResultInvalidParameter;
    if (count && !positions) return AuResultInvalidParameter;
    // A record the ring could never hold is refused before it is asked for.
    const u32 size = AuMsgMultiplePositions::RecordSize(count);
    if (!g_pAudioMgr || size > g_pAudioMgr->MaxMsgSize()) return AuResultInvalidParameter;
    AuQueuedMsg* msg = Reserve(AuQueuedMsgType_MultiplePositions, size);
    if (!msg) return AuResultInvalidParameter;
    auto& payload = msg->As<AuMsgMultiplePositions>();
    payload = AuMsgMultiplePositions{gameObj, count, type};
    if (count) memcpy(payload.Positions(), positions, count * sizeof(AuSoundPosition));
    g_pAudioMgr->PublishMsg(msg);
    return AuResultSuccess;
}

AURESULT SetActiveListeners(u32 gameObj, u32 listenerMask) {
    if (listenerMask > 0xFF) return AuResultInvalidParameter;
    return Post(AuQueuedMsgType_ActiveListeners, AuMsgActiveListeners{gameObj, listenerMask});
}

AURESULT SetAttenuationScalingFactor(u32 gameObj, f32 factor) {
    if (!(factor > 0.0f)) return AuResultInvalidParameter;
    return Post(AuQueuedMsgType_AttenuationScaling, AuMsgAttenuationScaling{gameObj, factor});
}

AURESULT SetGameObjectAuxSendValues(u32 gameObj, const AuAuxSendValue* values, u32 count) {
    if (count > AU_MAX_AUX_SENDS) return AuResultInvalidParameter;
    // A count without an array would be read from address 0.
    if (count && !values) return AuResultInvalidParameter;
    AuMsgAuxSends payload{gameObj, count, {}};
    if (count) memcpy(payload.values, values, count * sizeof(AuAuxSendValue));
    return Post(AuQueuedMsgType_AuxSends, payload);
}

AURESULT SetGameObjectOutputBusVolume(u32 gameObj, f32 volume) {
    return Post(AuQueuedMsgType_OutputBusVolume, AuMsgOutputBusVolume{gameObj, volume});
}

AURESULT SetObjectObstructionAndOcclusion(u32 gameObj, u32 listener, f32 obstruction, f32 occlusion) {
    return Post(AuQueuedMsgType_ObstructionOcclusion,
                AuMsgObstructionOcclusion{gameObj, listener, obstruction, occlusion});
}

AURESULT SetListenerPosition(const AuListenerPosition& position, u32 listener) {
    // Top is normalised before the front is made orthogonal to it: with a top that is not of unit
    // length the projection would leave part of the front along the top.
    AuListenerPosition frame = position;
    AuMath::Normalize(frame.OrientationTop);
    const AuVector& top = frame.OrientationTop;
    const f32 along = AuMath::DotProduct(frame.OrientationFront, top);
    frame.OrientationFront = {frame.OrientationFront.X - top.X * along,
                              frame.OrientationFront.Y - top.Y * along,
                              frame.OrientationFront.Z - top.Z * along};
    AuMath::Normalize(frame.OrientationFront);
    return Post(AuQueuedMsgType_ListenerPosition, AuMsgListenerPosition{listener, frame});
}

AURESULT SetListenerScalingFactor(u32 listener, f32 factor) {
    if (!(factor > 0.0f)) return AuResultInvalidParameter;
    return Post(AuQueuedMsgType_ListenerScaling, AuMsgListenerScaling{listener, factor});
}

AURESULT SetListenerSpatialization(u32 listener, bool spatialized, AuChannelConfig config,
                                   const f32* volumesDb) {
    AuQueuedMsg* msg =
        Reserve(AuQueuedMsgType_ListenerSpatialization, AuQueuedMsgSize<AuMsgListenerSpatialization>());
    if (!msg) return AuResultFail;
    const u32 count = config.NumChannels();
    f32* copy = nullptr;
    if (volumesDb && count) {
        copy = static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, (count + 3) / 4 * 16, 16));
        if (!copy) {
            g_pAudioMgr->WithdrawMsg(msg);
            return AuResultNoMemory;
        }
        memcpy(copy, volumesDb, count * sizeof(f32));
    }
    msg->As<AuMsgListenerSpatialization>() =
        AuMsgListenerSpatialization{listener, copy, config, spatialized, volumesDb != nullptr};
    g_pAudioMgr->PublishMsg(msg);
    return AuResultSuccess;
}

AURESULT SetListenerPipeline(u32 listener, bool audio, bool motion) {
    return Post(AuQueuedMsgType_ListenerPipeline, AuMsgListenerPipeline{listener, audio, motion});
}

AURESULT AddSecondaryOutput(u32 outputID, AuAudioOutputType type, u32 listenerMask) {
    if (type == AuAudioOutputType_Main || listenerMask > 0xFF) return AuResultInvalidParameter;
    if (type != AuAudioOutputType_SecondaryA && type != AuAudioOutputType_SecondaryB)
        return AuResultNotImplemented;
    return Post(AuQueuedMsgType_AddRemoveOutput,
                AuMsgAddRemoveOutput{listenerMask, nullptr, type, outputID, true});
}

AURESULT RemoveSecondaryOutput(u32 outputID, AuAudioOutputType type) {
    if (IsMainOutput(type, outputID)) return AuResultFail;
    return Post(AuQueuedMsgType_AddRemoveOutput, AuMsgAddRemoveOutput{0, nullptr, type, outputID, false});
}

AURESULT SetSecondaryOutputVolume(u32 outputID, AuAudioOutputType type, f32 volume) {
    if (IsMainOutput(type, outputID)) return AuResultFail;
    return Post(AuQueuedMsgType_SecondaryOutputVolume, AuMsgSecondaryOutputVolume{type, outputID, volume});
}

AURESULT SetPanningRule(AuPanningRule rule, AuAudioOutputType type, u32 outputID) {
    return Post(AuQueuedMsgType_PanningRule, AuMsgPanningRule{outputID, type, rule});
}

AURESULT SetSpeakerAngles(const f32* angles, u32 count, f32 heightAngle, AuAudioOutputType type,
                          u32 outputID) {
    // Three angles: one side of the six speakers of the widest layout.
    if (!angles || count < 3) return AuResultInvalidParameter;
    if (static_cast<u64>(count) * sizeof(f32) > UINT32_MAX) return AuResultInvalidParameter;
    AuQueuedMsg* msg = Reserve(AuQueuedMsgType_SpeakerAngles, AuQueuedMsgSize<AuMsgSpeakerAngles>());
    if (!msg) return AuResultFail;
    auto* copy =
        static_cast<f32*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, count * static_cast<u32>(sizeof(f32))));
    if (!copy) {
        g_pAudioMgr->WithdrawMsg(msg);
        return AuResultNoMemory;
    }
    memcpy(copy, angles, count * sizeof(f32));
    msg->As<AuMsgSpeakerAngles>() = AuMsgSpeakerAngles{copy, count, heightAngle, type, outputID};
    g_pAudioMgr->PublishMsg(msg);
    return AuResultSuccess;
}

AURESULT StartOutputCapture(const wchar_t* fileName) {
    if (!fileName) return AuResultInvalidParameter;
    if (!g_pAudioMgr) return AuResultFail;
    wchar_t* copy = CopyText(fileName, wcslen(fileName));
    if (!copy) return AuResultNoMemory;
    if (Post(AuQueuedMsgType_OutputCapture, AuMsgOutputCapture{copy, false}) != AuResultSuccess) {
        AU::MemoryMgr::Free(g_DefaultPoolId, copy);
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT StopOutputCapture() {
    return Post(AuQueuedMsgType_OutputCapture, AuMsgOutputCapture{nullptr, false});
}

AURESULT AddOutputCaptureMarker(const char* text) {
    if (!g_pAudioMgr) return AuResultFail;
    if (!text || !*text) return AuResultInvalidParameter;
    char* copy = CopyText(text, strlen(text));
    if (!copy) return AuResultNoMemory;
    if (Post(AuQueuedMsgType_OutputCaptureMarker, AuMsgOutputCaptureMarker{copy}) != AuResultSuccess) {
        AU::MemoryMgr::Free(g_DefaultPoolId, copy);
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT SetBusEffect(AuUniqueID busID, u32 effectIndex, AuUniqueID shareSetID) {
    return Post(AuQueuedMsgType_SetEffect, AuMsgSetEffect{busID, effectIndex, shareSetID, 1});
}

AURESULT SetBusEffect(const char* busName, u32 effectIndex, AuUniqueID shareSetID) {
    return SetBusEffectByName(busName, effectIndex, shareSetID);
}

AURESULT SetBusEffect(const wchar_t* busName, u32 effectIndex, AuUniqueID shareSetID) {
    return SetBusEffectByName(busName, effectIndex, shareSetID);
}

AURESULT SetActorMixerEffect(AuUniqueID nodeID, u32 effectIndex, AuUniqueID shareSetID) {
    return Post(AuQueuedMsgType_SetEffect, AuMsgSetEffect{nodeID, effectIndex, shareSetID, 0});
}

AURESULT SetMixer(AuUniqueID busID, AuUniqueID shareSetID) {
    return Post(AuQueuedMsgType_SetMixer, AuMsgSetMixer{busID, 0, shareSetID, 1});
}

AURESULT SetMixer(const char* busName, AuUniqueID shareSetID) {
    return SetMixerByName(busName, shareSetID);
}

AURESULT SetMixer(const wchar_t* busName, AuUniqueID shareSetID) {
    return SetMixerByName(busName, shareSetID);
}

void SetRandomSeed(u32 seed) {
    Post(AuQueuedMsgType_RandomSeed, AuMsgRandomSeed{seed});
}

// The output queries read the device list and the devices' fields, which the audio thread changes
// in its passes (outputs added and removed, angles, a device swapped): hence the lock.
AURESULT GetPanningRule(AuPanningRule& rule, AuAudioOutputType type, u32 outputID) {
    CAuMainLock lock;
    const CAuOutputDevice* device = CAuLowerEngine::FindDevice(type, outputID);
    if (!device) return AuResultFail;
    rule = device->ePanningRule;
    return AuResultSuccess;
}

AURESULT GetSpeakerAngles(f32* angles, u32& count, f32& heightAngle, AuAudioOutputType type, u32 outputID) {
    CAuMainLock lock;
    const CAuOutputDevice* device = CAuLowerEngine::FindDevice(type, outputID);
    if (!device) return AuResultFail;
    return device->GetSpeakerAngles(angles, count, heightAngle);
}

AuChannelConfig GetSpeakerConfiguration(AuAudioOutputType type, u32 outputID) {
    CAuMainLock lock;
    const CAuOutputDevice* device = CAuLowerEngine::FindDevice(type, outputID);
    if (!device || !device->pSink) return AuChannelConfig();
    return device->channelConfig;
}

AURESULT GetSourcePlayPosition(AuPlayingID playingID, i32* positionMs, bool extrapolate) {
    if (!positionMs) return AuResultInvalidParameter;
    if (!g_pPositionRepository) return AuResultFail;
    u32 ms = 0;
    const AURESULT result = g_pPositionRepository->GetSourcePlayPosition(playingID, ms, extrapolate);
    *positionMs = static_cast<i32>(ms);
    return result;
}

AURESULT GetSourceStreamBuffering(AuPlayingID playingID, i32& bufferingMs, bool& isBuffering) {
    u32 amount = 0, status = 0;
    const AURESULT result = g_pPositionRepository
                                ? g_pPositionRepository->GetSourceStreamBuffering(playingID, amount, status)
                                : AuResultFail;
    if (result != AuResultSuccess) {
        bufferingMs = 0;
        isBuffering = false;
        return result;
    }
    bufferingMs = static_cast<i32>(amount);
    isBuffering = status == 1;
    return result;
}

AURESULT SetVolumeThreshold(f32 thresholdDb) {
    return SetVolumeThresholdInternal(thresholdDb, AU_SETTING_PRIORITY_GAME);
}

AURESULT SetMaxNumVoicesLimit(u16 maxVoices) {
    return SetMaxNumVoicesLimitInternal(maxVoices, AU_SETTING_PRIORITY_GAME);
}

AURESULT RegisterCodec(u32 companyID, u32 codecID, AuCreateSourceCallback fileSourceFactory,
                       AuCreateSourceCallback bankSourceFactory) {
    return CAuLowerEngine::RegisterCodec(companyID, codecID, fileSourceFactory, bankSourceFactory);
}

AURESULT RegisterPlugin(AuPluginType type, u32 companyID, u32 pluginID, AuCreatePluginCallback createFunc,
                        AuCreateParamCallback createParamFunc) {
    return CAuLowerEngine::RegisterPlugin(type, companyID, pluginID, createFunc, createParamFunc);
}

AURESULT SetState(AuUniqueID groupID, AuUniqueID stateID) {
    return SetStateInternal(groupID, stateID, false, false);
}

AURESULT SetState(const char* groupName, const char* stateName) {
    return SetStateByName(groupName, stateName);
}

AURESULT SetState(const wchar_t* groupName, const wchar_t* stateName) {
    return SetStateByName(groupName, stateName);
}

AURESULT SetStateInternal(AuUniqueID groupID, AuUniqueID stateID, bool flagA, bool flagB) {
    return Post(AuQueuedMsgType_SetState,
                AuMsgSetState{groupID, stateID == kStateNone ? 0 : stateID, flagA, flagB});
}

AURESULT SetSwitch(AuUniqueID groupID, AuUniqueID stateID, u32 gameObj) {
    return Post(AuQueuedMsgType_SetSwitch, AuMsgSetSwitch{gameObj, groupID, stateID});
}

AURESULT SetSwitch(const char* groupName, const char* stateName, u32 gameObj) {
    return SetSwitchByName(groupName, stateName, gameObj);
}

AURESULT SetSwitch(const wchar_t* groupName, const wchar_t* stateName, u32 gameObj) {
    return SetSwitchByName(groupName, stateName, gameObj);
}

AURESULT SetRTPCValue(AuUniqueID paramID, f32 value, u32 gameObj, i32 transitionMs,
                      AuCurveInterpolation curve, bool bypass) {
    return PostRTPC(paramID, value, gameObj, 0, transitionMs, curve, bypass);
}

AURESULT SetRTPCValue(const char* paramName, f32 value, u32 gameObj, i32 transitionMs,
                      AuCurveInterpolation curve, bool bypass) {
    return SetRTPCByName(paramName, value, gameObj, transitionMs, curve, bypass);
}

AURESULT SetRTPCValue(const wchar_t* paramName, f32 value, u32 gameObj, i32 transitionMs,
                      AuCurveInterpolation curve, bool bypass) {
    return SetRTPCByName(paramName, value, gameObj, transitionMs, curve, bypass);
}

AURESULT SetRTPCValueByPlayingID(AuUniqueID paramID, f32 value, AuPlayingID playingID, i32 transitionMs,
                                 AuCurveInterpolation curve, bool bypass) {
    const u32 gameObj = g_pPlayingMgr ? g_pPlayingMgr->GetGameObjFromPlayingID(playingID) : kAllObjects;
    if (gameObj == kAllObjects) return AuResultInvalidParameter;
    return PostRTPC(paramID, value, gameObj, playingID, transitionMs, curve, bypass);
}

AURESULT SetRTPCValueByPlayingID(const char* paramName, f32 value, AuPlayingID playingID, i32 transitionMs,
                                 AuCurveInterpolation curve, bool bypass) {
    return SetRTPCByPlayingIDName(paramName, value, playingID, transitionMs, curve, bypass);
}

AURESULT SetRTPCValueByPlayingID(const wchar_t* paramName, f32 value, AuPlayingID playingID, i32 transitionMs,
                                 AuCurveInterpolation curve, bool bypass) {
    return SetRTPCByPlayingIDName(paramName, value, playingID, transitionMs, curve, bypass);
}

AURESULT ResetRTPCValue(AuUniqueID paramID, u32 gameObj, i32 transitionMs, AuCurveInterpolation curve,
                        bool bypass) {
    if (transitionMs == 0 && !bypass)
        return Post(AuQueuedMsgType_ResetRTPC, AuMsgResetRTPC{paramID, gameObj, 0});
    return Post(AuQueuedMsgType_ResetRTPCWithTransition,
                AuMsgResetRTPCWithTransition{paramID, gameObj, 0, transitionMs, curve, bypass});
}

AURESULT ResetRTPCValue(const char* paramName, u32 gameObj, i32 transitionMs, AuCurveInterpolation curve,
                        bool bypass) {
    return ResetRTPCByName(paramName, gameObj, transitionMs, curve, bypass);
}

AURESULT ResetRTPCValue(const wchar_t* paramName, u32 gameObj, i32 transitionMs, AuCurveInterpolation curve,
                        bool bypass) {
    return ResetRTPCByName(paramName, gameObj, transitionMs, curve, bypass);
}

} // namespace AU::SoundEngine

namespace AU::MotionEngine {

AURESULT AddPlayerMotionDevice(u8 player, u32, u32 deviceID, void* initParams) {
    if (player >= kMaxPlayers) return AuResultFail;
    return Post(AuQueuedMsgType_AddRemoveOutput,
                AuMsgAddRemoveOutput{0, initParams, deviceID & 0xFFFF, player, true});
}

void RemovePlayerMotionDevice(u8 player, u32, u32 deviceID) {
    if (player >= kMaxPlayers) return;
    Post(AuQueuedMsgType_AddRemoveOutput, AuMsgAddRemoveOutput{0, nullptr, deviceID & 0xFFFF, player, false});
}

void SetPlayerListener(u8 player, u8 listener) {
    // The handler indexes four players and eight listeners.
    if (player >= kMaxPlayers || listener >= AU_NUM_LISTENERS) return;
    Post(AuQueuedMsgType_MotionPlayerListener, AuMsgMotionPlayerListener{player, listener});
}

void SetPlayerVolume(u8 player, f32 volumeDb) {
    if (player >= kMaxPlayers) return;
    Post(AuQueuedMsgType_MotionPlayerVolume, AuMsgMotionPlayerVolume{volumeDb, player});
}

void RegisterMotionDevice(u32 companyID, u32 pluginID, AuCreateMotionDeviceCallback factory) {
    CAuLowerEngine::RegisterMotionDevice(companyID, pluginID, factory);
}

} // namespace AU::MotionEngine
