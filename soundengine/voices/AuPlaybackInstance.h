// One play of one node for one game object and one playing ID. The voice reads its values every
// frame; the instance drives the voice only through queued lower-engine commands. Everything
// here runs on the audio thread under g_csMain.
#pragma once

#include "core/AuObjectIndex.h"
#include "core/AuTransitionMgr.h"
#include "memory/AuArray.h"
#include "parameters/AuKeyedParamIds.h"
#include "parameters/AuRTPCKey.h"
#include "parameters/AuRTPCSubscriber.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuSourceMedia.h"

#include <AU/AuChannelConfig.h>
#include <AU/AuTypes.h>

class CAuPlaybackInstance;
class IAuModulatorList;
class IAuMixBusNode;

// Lower-engine voice commands.
enum AuVoiceCommand : u32 {
    AuVoiceCommand_Start = 0,
    AuVoiceCommand_StartPaused = 1,
    AuVoiceCommand_Pause = 2,
    AuVoiceCommand_Resume = 3,
    AuVoiceCommand_StopLooping = 4,
    AuVoiceCommand_Seek = 5,
};

// The voice command queue as the instance sees it.
class IAuVoiceCommandQueue {
public:
    // [audio thread]
    virtual void QueueCommand(CAuPlaybackInstance* instance, AuVoiceCommand command) noexcept = 0;

protected:
    ~IAuVoiceCommandQueue() = default;
};

// A voice limiter (the node's, a bus's or the global one) as the instance sees it.
class IAuInstanceLimiter {
public:
    // 1, or the limiter's failure. [audio thread]
    virtual AURESULT AddInstance(CAuPlaybackInstance* instance) noexcept = 0;
    virtual void RemoveInstance(CAuPlaybackInstance* instance) noexcept = 0;
    // Called before the instance stores its new priority, so the limiter can find its old place.
    virtual void Resort(CAuPlaybackInstance* instance, f32 newPriority) noexcept = 0;

protected:
    ~IAuInstanceLimiter() = default;
};

// The node an instance plays, as the instance sees it. The instance holds one object-index
// reference on it, dropped by Term.
class IAuInstanceNode : public CAuIndexable {
public:
    explicit IAuInstanceNode(u32 id) : CAuIndexable(id) {}
    // The head of the node's singly linked instance list.
    virtual CAuPlaybackInstance*& InstanceListHead() noexcept = 0;
    // Whether the node, an ancestor or one of their output busses carries the level-window marking.
    virtual bool UsesLevelWindow() noexcept = 0;
    // The last point of the attenuation curve of the positioning settings; false without one.
    virtual bool GetMaxDistance(f32& maxDistance) noexcept = 0;
    // Below-threshold action: 0 keep playing, 1 stop the voice, 2 make it virtual.
    virtual u8 GetBelowThresholdBehavior() noexcept = 0;
    // Once, when the instance leaves its limiters.
    virtual void OnInstanceTerm(CAuPlaybackInstance* instance) noexcept = 0;
    // [audio thread] The record of effect slot 0 to 3 of the node whose effects the instance
    // uses, its bypass for the instance's game object. A node that holds no effect slots leaves
    // the record empty.
    virtual void GetEffectRecord(u32 /*slot*/, CAuRegisteredObj* /*gameObj*/,
                                 AuEffectRecord& record) noexcept {
        record = AuEffectRecord{};
    }
    // [audio thread] The node's data goes away: actions waiting to play it must not run.
    virtual void ClearPendingActions() noexcept {}
    // [audio thread] The bus whose limit the node's plays count under (its output bus); null
    // without one.
    virtual CAuIndexable* OutputBus() noexcept { return nullptr; }
};

// The registered game object's reference and sends, until the registry's class lands.
class IAuGameObjRefs {
public:
    virtual void AddRef(CAuRegisteredObj* gameObj) noexcept = 0;
    virtual void Release(CAuRegisteredObj* gameObj) noexcept = 0;
    // Up to four game-defined sends; the count filled.
    virtual u32 GetGameDefinedSends(CAuRegisteredObj* gameObj, AuUniqueID busIDs[4],
                                    f32 levels[4]) noexcept = 0;

protected:
    ~IAuGameObjRefs() = default;
};

// The media record: it holds the current media data while the instance lives.
class IAuInstanceMedia {
public:
    // 1 when the data could be referenced.
    virtual AURESULT AcquireData() noexcept = 0;
    virtual void ReleaseData() noexcept = 0;
    // The instance is done with the record.
    virtual void Destroy() noexcept = 0;

protected:
    ~IAuInstanceMedia() = default;
};

// The instance's positioning path and modulators, as far as the instance drives them. One
// object serves every instance that names it.
class IAuInstanceLinks {
public:
    virtual void Pause(CAuPlaybackInstance& instance) noexcept = 0;
    virtual void Resume(CAuPlaybackInstance& instance) noexcept = 0;
    // Ends the path (clearing a per-node path's state on the node).
    virtual void EndPath(CAuPlaybackInstance& instance) noexcept = 0;
    virtual void ReleaseModulators(CAuPlaybackInstance& instance) noexcept = 0;
    // The instance ends: what it holds of the modulators goes.
    virtual void Unlink(CAuPlaybackInstance& instance) noexcept = 0;

protected:
    ~IAuInstanceLinks() = default;
};

// The owner context that keeps a list of its instances (a layer, a music context).
class IAuInstanceOwner {
public:
    virtual void RemoveInstance(CAuPlaybackInstance* instance) noexcept = 0;

protected:
    ~IAuInstanceOwner() = default;
};

// The voice as the instance sees it.
class IAuInstanceVoice {
public:
    virtual void ForwardVoiceFlags(u32 value, u32 mask) noexcept = 0;
    // The node's effect in `slot` changed while the voice plays.
    virtual void UpdateEffect(u32 slot) noexcept = 0;

protected:
    ~IAuInstanceVoice() = default;
};

// Installed by the engine's start; null until then (commands and the global limit are skipped).
extern IAuVoiceCommandQueue* g_pVoiceCommandQueue;
extern IAuInstanceLimiter* g_pGlobalVoiceLimiter;
extern IAuGameObjRefs* g_pGameObjRefs;

struct AuInstanceTransition {
    i32 lTimeMs = 0;
    AuCurveInterpolation eCurve = AuCurveInterpolation_Linear;
};

struct AuInstancePriority {
    f32 fPriority = 50.0f;
    f32 fBase = 50.0f;
    f32 fDistanceOffset = 0.0f; // added at the maximum distance
};

// The 3D positioning record, made when the positioning mode becomes 1.
struct AuInstance3DPositioning {
    f32 fDistances[2] = {}; // properties 37 and 38, scaled by the maximum distance
    u8 uFlags = 0;          // bit 0 property 65, bit 1 property 66
    AuUniqueID attenuationID = 0;
    AuUniqueID pathID = 0;
    f32 fRTPCValues[3] = {}; // properties 13 to 15
};

struct AuAuxSend {
    AuUniqueID busID;
    f32 fLevel; // linear
};

// Every delta of a parameter change reaching a playing instance.
struct AuParamNotification {
    u32 uParamID;
    CAuRegisteredObj* pGameObj; // null: any
    AuRTPCKey key;
    bool bMotion;
    f32 fDelta;
};

// The levels below which a send is not heard.
constexpr f32 AU_MIN_AUDIBLE_DB = -96.3f;

// What a new instance takes from its node and the nodes above it before its first frame. The
// busses' volumes are not in it: the voice takes them from its output bus.
struct AuInstanceStartValues {
    f32 fVolumeDb = 0.0f;
    f32 fPitch = 0.0f; // cents
    // Each filter value in its two parts: the nodes' (which notifications move) and the drawn one.
    f32 fFilter1[2] = {};
    f32 fFilter2[2] = {};
    f32 fEnvelopeThreshold = 0.0f;
    f32 fSourceOffsetDb = 0.0f;
    f32 fDryVolumeDb = 0.0f;
    f32 fOwnFilter1 = 0.0f;
    f32 fOwnFilter2 = 0.0f;
    f32 fGameSendDb = 0.0f;
    bool bUseGameSends = false;
    f32 fUserSendDb[4] = {};
    AuUniqueID userSendBus[4] = {};
};

struct AuPlaybackInstanceParams {
    IAuInstanceNode* pNode = nullptr; // one object-index reference passes to the instance
    IAuInstanceOwner* pOwner = nullptr;
    IAuInstanceMedia* pMedia = nullptr;
    IAuInstanceLinks* pLinks = nullptr;
    CAuRegisteredObj* pGameObj = nullptr;
    u8 midiStatus = 0; // status byte of the MIDI event that made the instance, 0 without
    u8 midiNote = AU_MIDI_ANY;
    AuRTPCKey key; // game object and playing ID; the MIDI fields come from the event
    u32 uCreatorWord = 0;
    AuInstancePriority priority;
    bool bMotion = false;
    f32 fSeekPosition = 0.0f; // non-zero sets the seek flag
    i32 lStartDelayFrames = -1;
    bool bMidi = false;
};

class CAuPlaybackInstance : public IAuTransitionTarget, public IAuInstanceSubscriber {
public:
    // Play mode bits.
    static constexpr u8 kPlayModePaused = 1;
    static constexpr u8 kPlayModeStopAfterStart = 2;
    // Voice-activity bits, set by the voice: it exists, its source started, its first buffer
    // was mixed, its source delivered its last buffer.
    static constexpr u8 kVoiceCreated = 1 << 3;
    static constexpr u8 kVoiceStarted = 1 << 4;
    static constexpr u8 kVoiceMixed = 1 << 5;
    static constexpr u8 kVoiceEnded = 1 << 6;
    static constexpr u8 kVoiceActivityMask = 0x78;
    // Flag bits.
    static constexpr u8 kFlagStarted = 1 << 0;
    static constexpr u8 kFlagStopByLimit = 1 << 1;
    static constexpr u8 kFlagStopped = 1 << 3;
    static constexpr u8 kFlagOnStopRan = 1 << 5;
    static constexpr u8 kFlagStopping = 1 << 6;
    static constexpr u8 kFlagPaused = 1 << 7;
    static constexpr u32 kNoStopReason = 0xFF;
    static constexpr u32 kMaxAuxSends = 8;

    explicit CAuPlaybackInstance(const AuPlaybackInstanceParams& params) noexcept;

    // [audio thread] Every operation from here on, under g_csMain. Slots 0 to 16.
    virtual void OnStop(u32 reason, u32 flag) noexcept;
    virtual ~CAuPlaybackInstance();
    // 2 for playing ID 0; the playing manager's failure else.
    virtual AURESULT Init(IAuInstanceLimiter* nodeLimiter, IAuInstanceLimiter* busLimiter) noexcept;
    virtual void Term(u32 reason) noexcept;
    // Slot 4: the voice's remaining time in samples (continuous play schedules the next item).
    virtual void NotifyRemainingTime(u32 samples) noexcept;
    virtual void PauseNow(bool skipCommand) noexcept;
    virtual void ResumeNow() noexcept;
    // Also the play-to-end request: the source plays its current pass to the end.
    virtual void StopLooping() noexcept;
    virtual void SeekTime(u32 ms, bool snapToMarker) noexcept;
    virtual void SeekPercent(f32 fraction, bool snapToMarker) noexcept;
    virtual void ReleaseModulators() noexcept;
    // Slot 11: a voice-activity bit was set.
    virtual void NotifyVoiceActivity(u8 bit) noexcept;
    // Slot 12: the next item of continuous play is due.
    virtual void Trigger() noexcept;
    // 0 restarts the voice where it was, 1 from the beginning, 2 stops it.
    virtual u32 GetVirtualReturnMode() noexcept;
    virtual void RefreshParams() noexcept;
    virtual void FadeHook(u32 paramID, i32 ms) noexcept;
    // The frame budget, reset to -1.
    virtual i32 TakeFrameBudget() noexcept;

    void Play(const AuInstanceTransition& transition, bool paused, bool count) noexcept;
    void Stop(const AuInstanceTransition& transition, bool immediate) noexcept;
    void Pause(const AuInstanceTransition& transition) noexcept;
    void Resume(const AuInstanceTransition& transition, bool force) noexcept;
    void ForwardVoiceFlags(u32 value, u32 mask) noexcept;
    // The node's record of an effect slot; empty without a node.
    void GetEffectRecord(u32 slot, AuEffectRecord& record) const noexcept {
        record = AuEffectRecord{};
        if (m_pNode) m_pNode->GetEffectRecord(slot, m_pGameObj, record);
    }
    // Nothing without a voice.
    void UpdateVoiceEffect(u32 slot) noexcept {
        if (m_pVoice) m_pVoice->UpdateEffect(slot);
    }
    void TryStopForLimit(u32 reason) noexcept;
    void StopForLimit(u32 reason) noexcept;

    void SetMuteLevel(const void* owner, f32 level, bool transition) noexcept;
    // Priority from the listener distance; re-sorts the limiters when it changes.
    void UpdatePriorityWithDistance(f32 distance) noexcept;
    void HandleParamNotification(const AuParamNotification& notification) noexcept;
    void SetPositioningProp(u32 propID, f32 value) noexcept;
    // Game-defined sends (when enabled) then user-defined ones; returns the count.
    u32 GetAuxSends(AuAuxSend (&sends)[kMaxAuxSends]) noexcept;

    void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;
    // Properties 13 to 15 into the 3D record.
    void ApplyRTPCParam(u16 propertyID, const void* value, u32 size) noexcept override;

    // The voice attaches itself and sets the activity bits as it goes.
    void AttachVoice(IAuInstanceVoice* voice) noexcept { m_pVoice = voice; }
    IAuInstanceVoice* Voice() const noexcept { return m_pVoice; }
    // The instance manager's list.
    CAuPlaybackInstance* NextInstance() const noexcept { return m_pNextInstance; }
    void SetNextInstance(CAuPlaybackInstance* next) noexcept { m_pNextInstance = next; }
    // Set while the instance manager owns the instance; its end event may be queued once.
    bool IsListed() const noexcept { return m_bListed; }
    void SetListed(bool listed) noexcept { m_bListed = listed; }
    // Its data goes away now: the voice stops without the fall a stop is heard with.
    void MarkCut() noexcept { m_bCut = true; }
    bool IsCut() const noexcept { return m_bCut; }
    bool EndQueued() const noexcept { return m_bEndQueued; }
    void SetEndQueued() noexcept { m_bEndQueued = true; }
    // The node's pending actions are dropped (its bank unloads); nothing without a node.
    void ClearNodePendingActions() noexcept {
        if (m_pNode) m_pNode->ClearPendingActions();
    }
    // Whether the media the instance plays lie in [data, data + size): a bank's data block.
    bool UsesData(const u8* data, u32 size) const noexcept {
        const u8* media = static_cast<const u8*>(m_sourceMedia.pData);
        return data && media && media >= data && media < data + size;
    }
    void SetVoiceActivity(u8 bit) noexcept;
    u8 VoiceActivity() const { return m_uPlayMode & kVoiceActivityMask; }

    // What the source reports back: the media's format, the frames the pitch node drops after a
    // block-aligned seek, and the end of a seek request.
    struct MediaFormat {
        u32 uSampleRate = 0;
        AuChannelConfig config;
        u32 uBits = 0; // bits per sample in bits 0-5, block align in bits 6-15
    };
    // The instance's source as the voices read it, filled by the instance's creator.
    void SetSourceMedia(const AuSourceMedia& media) { m_sourceMedia = media; }
    const AuSourceMedia& GetSourceMedia() const { return m_sourceMedia; }
    void SetMediaFormat(const MediaFormat& format) { m_mediaFormat = format; }
    const MediaFormat& GetMediaFormat() const { return m_mediaFormat; }
    void SetSourceFrameOffset(u32 frames) { m_uSourceFrameOffset = frames; }
    u32 SourceFrameOffset() const { return m_uSourceFrameOffset; }
    void ClearSeek() {
        m_bSeekPending = m_bSeekPercent = m_bSeekSnap = false;
        m_fSeekPosition = 0.0;
    }
    // The bus node the instance's output goes to (one reference held); null routes the voice to
    // each device's master bus. `volumeNode`, when given, is the node's own bus (one reference
    // held): a bus that passes through to `node` and whose volume the voice takes instead.
    void SetOutputBusNode(IAuMixBusNode* node, IAuMixBusNode* volumeNode = nullptr) noexcept;
    IAuMixBusNode* OutputBusNode() const { return m_pOutputBus; }
    // [audio thread] The volume in dB of the node's own bus as the voice takes it; 0 without a bus.
    f32 GetOutputBusVolume() const noexcept;
    IAuInstanceNode* Node() const { return m_pNode; }
    CAuRegisteredObj* GameObj() const { return m_pGameObj; }
    // The playing ID's callback flags (bit 4 markers), as the playing manager gave them.
    u32 CallbackFlags() const { return m_uCallbackFlags; }

    void SetPlayMode(u8 mode) { m_uPlayMode = mode & 7; }
    void SetLoopCount(u16 count) { m_uLoopCount = count; }
    void SetUserSend(u32 index, AuUniqueID busID, f32 volumeDb);
    // Replaces the values the voice reads; the parameter notifications add to them from then on.
    void SetStartValues(const AuInstanceStartValues& values) noexcept;
    void SetUseGameDefinedSends(bool use) { m_bUseGameDefinedSends = use; }
    void SetOwnerVolumeOffset(f32 dB);
    void SetFrameBudget(i32 frames) { m_lFrameBudget = frames; }
    // The running modulators; null until the modulators attach their list.
    void SetModulatorList(IAuModulatorList* list) { m_pModulators = list; }
    IAuModulatorList* ModulatorList() const { return m_pModulators; }
    // A motion feed's buffers are 8 frames long: its modulators act as one gain per buffer, as
    // long as no frame budget is set.
    bool UsesSingleModulatorGain() const { return m_bMotion && m_lFrameBudget == -1; }
    // What the voice reads when its source attaches: where it comes back from virtual mode (0 the
    // beginning, 1 the elapsed time, 2 where it was) and what it does below the volume threshold
    // (the node's: 0 keep playing, 1 stop, 2 go virtual).
    void SetVirtualMode(u8 mode) { m_uVirtualMode = mode; }
    u8 VirtualMode() const { return m_uVirtualMode; }
    u8 BelowThresholdAction() const { return m_pNode ? m_pNode->GetBelowThresholdBehavior() : 0; }
    // Set while the instance plays no voice because it is below the threshold.
    bool IsVirtual() const { return m_bVirtual; }
    void SetVirtual(bool isVirtual) {
        if (isVirtual && !m_bVirtual) m_bMadeVirtualThisFrame = true;
        m_bVirtual = isVirtual;
    }
    // Whether the instance went virtual (below the threshold, or sent there by a limit) in this
    // frame, and in the last one: a limiter's frame update still counts it for the frame after,
    // in which its voice rendered once more.
    bool MadeVirtualThisFrame() const { return m_bMadeVirtualThisFrame; }
    bool MadeVirtualLastFrame() const { return m_bMadeVirtualLastFrame; }
    // Once a frame, before the limiters are updated.
    void AgeVirtualFrameBits() {
        m_bMadeVirtualLastFrame = m_bMadeVirtualThisFrame;
        m_bMadeVirtualThisFrame = false;
    }
    bool IsMotion() const { return m_bMotion; }
    f32 RateFactor() const { return m_fRateFactor; }
    // Output frames before the voice starts; negative once it has run out.
    i32 StartDelay() const { return m_lStartDelay; }
    void SetStartDelay(i32 frames) { m_lStartDelay = frames; }
    // Value IDs stored under this instance's key, removed when it ends.
    AuKeyedParamIds& KeyedParamIds() { return m_keyedIds; }

    f32 Fader() const { return m_fFader; }
    f32 VolumeDb() const { return m_fVolumeDb; }
    f32 PlayFade() const { return m_fPlayFade; }
    f32 PauseFade() const { return m_fPauseFade; }
    f32 Pitch() const { return m_fPitch; }
    f32 Filter1() const { return m_fFilter1; }
    f32 Filter2() const { return m_fFilter2; }
    f32 EnvelopeThreshold() const { return m_fEnvelopeThreshold; }
    f32 SourceOffset() const { return m_fSourceOffset; }
    f32 DryVolumeDb() const { return m_fDryVolumeDb; }
    f32 OwnFilter1() const { return m_fOwnFilter1; }
    f32 OwnFilter2() const { return m_fOwnFilter2; }
    f32 GameSendVolumeDb() const { return m_fGameSendVolumeDb; }
    f32 UserSendVolumeDb(u32 i) const { return m_fUserSendDb[i]; }
    f32 VolumeOffsetDb() const { return m_fVolumeOffset; }
    const AuInstancePriority& Priority() const { return m_priority; }
    u32 SequenceNumber() const { return m_uSequence; }
    f64 SeekPosition() const { return m_fSeekPosition; }
    bool SeekPending() const { return m_bSeekPending; }
    bool SeekByPercent() const { return m_bSeekPercent; }
    bool SeekSnap() const { return m_bSeekSnap; }
    u16 LoopCount() const { return m_uLoopCount; }
    u8 Flags() const { return m_uFlags; }
    bool IsPaused() const { return m_uFlags & kFlagPaused; }
    bool IsStopped() const { return m_uFlags & kFlagStopped; }
    u32 PauseCount() const { return m_uPauseCount; }
    u32 StopReason() const { return m_uStopReason; }
    bool BypassAllEffects() const { return m_bBypassAll; }
    bool ForcedVirtual() const { return m_bForcedVirtual; }
    bool UsesLevelWindow() const { return m_bLevelWindow; }
    u8 PositioningMode() const { return m_uPositioningMode; }
    const AuInstance3DPositioning* Positioning3D() const { return m_p3D; }
    f32 PanLR() const { return m_fPanLR; }
    f32 PanFR() const { return m_fPanFR; }
    f32 CentrePct() const { return m_fCentrePct; }
    bool PannerEnabled() const { return m_bPanner; }
    u32 MuteEntries() const { return m_muteLevels.Count(); }
    const AuRTPCKey& Key() const { return m_key; }
    const AuRTPCKey& NoteKey() const { return m_noteKey; }
    CAuPlaybackInstance* NextOfNode() const { return m_pNextOfNode; }
    AuChannelConfig ChannelConfig() const { return m_channelConfig; }
    // The global count of instances started with the count flag.
    static u32 StartedCount();

protected:
    // A pitch the derived instance imposes (cents), e.g. music played faster or slower.
    void SetPitch(f32 cents) noexcept { m_fPitch = cents; }

private:
    struct MuteEntry {
        const void* owner;
        u32 flags;
        f32 level;
    };

    void ComputeFader() noexcept;
    void SetPriority(f32 priority) noexcept;
    void Queue(AuVoiceCommand command) noexcept;
    bool VoiceActive() const { return m_uPlayMode & kVoiceActivityMask; }
    // Starts a fade on `handle` or retargets the running one; the completion may run inside.
    void Fade(CAuTransition*& handle, u32 key, f32 from, f32 to, i32 ms, AuCurveInterpolation curve) noexcept;
    void PauseTransitions() noexcept;
    void ResumeTransitions() noexcept;
    void RemoveTransitions() noexcept;
    void RecordStopReason(u32 reason) noexcept;

    // Parameter links, the node's list, the mute levels and the owner's offset.
    AuKeyedParamIds m_keyedIds;
    CAuPlaybackInstance* m_pNextOfNode = nullptr;
    AuArray<MuteEntry> m_muteLevels;
    f32 m_fOwnerVolumeOffset = 0.0f;
    AuInstance3DPositioning* m_p3D = nullptr;
    AuRTPCKey m_key;
    CAuTransition* m_pPlayTrans = nullptr;
    CAuTransition* m_pPauseTrans = nullptr;
    IAuInstanceOwner* m_pOwner;
    u32 m_uCreatorWord;
    IAuInstanceNode* m_pNode;
    IAuInstanceMedia* m_pMedia;
    IAuInstanceLinks* m_pLinks;
    IAuInstanceVoice* m_pVoice = nullptr;
    AuChannelConfig m_channelConfig{0x4101};
    // What the voice reads.
    f32 m_fVolumeDb = 0.0f;
    f32 m_fFader = 1.0f;
    f32 m_fPitch = 0.0f;
    f32 m_fFilter1 = 0.0f;
    f32 m_fFilter2 = 0.0f;
    f32 m_fEnvelopeThreshold = 0.0f;
    f32 m_fSourceOffset = 0.0f;
    f32 m_fDryVolumeDb = 0.0f;
    f32 m_fOwnFilter1 = 0.0f;
    f32 m_fOwnFilter2 = 0.0f;
    f32 m_fGameSendVolumeDb = 0.0f;
    bool m_bUseGameDefinedSends = false;
    f32 m_fUserSendDb[4] = {};
    AuUniqueID m_userSendBus[4] = {};
    CAuRegisteredObj* m_pGameObj;
    AuRTPCKey m_noteKey;
    f32 m_fVolumeOffset = 0.0f;
    f32 m_fFilter1Parts[2] = {};
    f32 m_fFilter2Parts[2] = {};
    f32 m_fRateFactor = 1.0f;
    f32 m_fPlayFade = 1.0f;
    f32 m_fPauseFade = 1.0f;
    // Output-rate samples, or a fraction of the duration with the percentage flag.
    // Output samples, or the fraction: wide enough for the longest time seek, to the sample.
    f64 m_fSeekPosition = 0.0;
    u16 m_uLoopCount = 1;
    u8 m_uPlayMode = 0; // bits 0-2 play mode, 3-6 voice activity
    u8 m_uFlags = 0;
    bool m_bMotion;
    u32 m_uStopReason = kNoStopReason;
    bool m_bBypassAll = false;
    bool m_bForcedVirtual = false;
    bool m_bLevelWindow = false;
    bool m_bFadingIn = false;
    bool m_bVirtual = false;
    bool m_bMadeVirtualThisFrame = false;
    bool m_bMadeVirtualLastFrame = false;
    bool m_bMidi;
    bool m_bSeekPending = false;
    bool m_bSeekPercent = false;
    bool m_bSeekSnap = false;
    bool m_bRegistered = false; // with the node, the limiters and the playing manager
    bool m_bMediaHeld = false;
    AuInstancePriority m_priority;
    u32 m_uSequence;
    u32 m_uPauseCount = 0;
    i32 m_lStartDelay;
    u8 m_uPositioningMode = 0;
    f32 m_fPanLR = 0.0f;
    f32 m_fPanFR = 0.0f;
    f32 m_fCentrePct = 100.0f;
    bool m_bPanner = false;
    // What the 2D panner last built its matrices with; 101 forces a rebuild.
    f32 m_fLastPanLR = 101.0f;
    i32 m_lFrameBudget = -1;
    IAuInstanceLimiter* m_pNodeLimiter = nullptr;
    IAuInstanceLimiter* m_pBusLimiter = nullptr;
    MediaFormat m_mediaFormat;
    AuSourceMedia m_sourceMedia;
    u32 m_uSourceFrameOffset = 0;
    u32 m_uCallbackFlags = 0;
    IAuModulatorList* m_pModulators = nullptr;
    IAuMixBusNode* m_pOutputBus = nullptr;
    IAuMixBusNode* m_pVolumeBus = nullptr;
    u8 m_uVirtualMode = 0;
    bool m_bListed = false;
    bool m_bEndQueued = false;
    bool m_bCut = false;
    CAuPlaybackInstance* m_pNextInstance = nullptr;
};
