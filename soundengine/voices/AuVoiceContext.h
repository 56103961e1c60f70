// One sounding voice: its source, its chain (pitch node, modulator gain node, filter stage 1 and
// the final node holding filter stage 2), its play state and its virtual-voice behaviour. The
// voice command queue creates and drives it; the lower engine's frame asks it whether it renders
// and pulls one buffer through it. Everything here runs on the audio thread under g_csMain.
//
// Each effect slot of the instance's node that names a plug-in puts an effect node between the
// modulator gain node and filter stage 1, in slot order; the voice's layout is the last one's output.
//
// The four filter targets each output carries: 1 drives stage 1's low-pass and 3 its high-pass
// (attenuation, occlusion, cone); 2 drives stage 2's low-pass and 4 its high-pass (obstruction),
// those two raised to the instance's own low-pass and high-pass values when larger.
#pragma once

#include "voices/AuEffectNode.h"
#include "voices/AuModulatorGainNode.h"
#include "voices/AuPitchNode.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuPositioning.h"
#include "voices/AuVoiceEdge.h"
#include "voices/AuVoiceFilters.h"

class CAuPlaybackInstance;
class CAuSourceBase;
class CAuOutputBus;
class CAuVoiceOutput;

constexpr u32 AU_VOICE_EFFECT_SLOTS = 4;

// One filter parameter of a stage as the voice drives it.
struct AuFilterTarget {
    f32 fStart = 0.0f;
    f32 fTarget = 0.0f;
    u16 uSteps = AU_FILTER_RAMP_STEPS; // interpolation steps done towards the target
    bool bDirty = false;
};

// A filter stage of the voice's chain: a low-pass and a high-pass over the voice's channels.
class CAuVoiceFilterNode final : public CAuForwardingNode {
public:
    // 2 when the filters' memories cannot be had.
    AURESULT Init(AuChannelConfig config) { return m_filters.Init(config, 0); }
    void Term() { m_filters.Term(); }
    // [audio thread] Clamped to 0 to 100; a change first moves the start to where the running
    // interpolation stands.
    void SetTargets(f32 lowPass, f32 highPass) noexcept;
    // [audio thread] In place.
    void Process(AuPipelineBuffer& buffer) noexcept;
    const AuFilterTarget& LowPass() const { return m_targets[0]; }
    const AuFilterTarget& HighPass() const { return m_targets[1]; }

protected:
    void ResetState() noexcept override { m_filters.Reset(); }

private:
    CAuVoiceFilters m_filters;
    AuFilterTarget m_targets[2];
};

// One ray from the voice's emitter to a listener: the positioning fills it, the volumes read it.
struct AuVoiceRay {
    f32 fDistance = 0.0f;
    f32 fAzimuth = 0.0f;
    f32 fElevation = 0.0f;
    f32 fFourth = 0.0f;
    u8 listenerMask = 0;
    // Dry, game-defined auxiliary, user-defined auxiliary and a fourth.
    f32 fGains[4] = {1.0f, 1.0f, 1.0f, 1.0f};
};

// What the volume computation found for this frame (the mixing side fills it).
struct AuVoiceLevels {
    bool bAllBelowThreshold = false;
    bool bAudible = true;
    u32 uNumOutputs = 0;
    const f32 (*pTargets)[4] = nullptr; // per output, targets 1 to 4
};

// One emitter-listener ray of a voice: the listeners it reaches and its gains.
// What the mixing side keeps on a voice: its outputs (one per bus and device), its sends, its ray
// and the levels of this frame.
struct AuVoiceMixState {
    CAuVoiceOutput* pOutputs = nullptr;
    AuAuxSend sends[CAuPlaybackInstance::kMaxAuxSends] = {};
    u32 uNumSends = 0;
    AuVoiceRay ray;
    u32 uNumRays = 0;
    f32 fVoiceVolume = 1.0f;
    f32 fLoudestDb = -4096.0f;
    f32 fTargets[4] = {};
    AuVoiceLevels levels;
    bool bComputed = false;     // the first computation is done
    bool bAllBelowLast = false; // every output was below the threshold in the last frame
    // No listener of the voice hears any device it has an output to.
    bool bHeardByNone = false;
};

// The lower engine's record for one voice's frame.
struct AuVoiceFrame {
    AuChannelConfig config;
    u32 uFrames = 0;
    AURESULT eState = AuResultDataNeeded;
    bool bBudgeted = false; // the instance's frame budget lowered uFrames
};

class CAuVoiceContext : public IAuInstanceVoice, public IAuPitchNodeVoice {
public:
    enum PlayState : u8 { kCreated = 0, kPlaying = 1, kStopped = 2, kPaused = 3 };
    // Flag bits.
    static constexpr u8 kFlagAudible = 1 << 0;
    static constexpr u8 kFlagVolumesComputed = 1 << 1;
    static constexpr u8 kFlagSendsSetUp = 1 << 2;
    static constexpr u8 kFlagResyncPending = 1 << 3;
    static constexpr u8 kFlagOutputsChanged = 1 << 4;

    CAuVoiceContext() = default;
    virtual ~CAuVoiceContext();
    CAuVoiceContext(const CAuVoiceContext&) = delete;
    CAuVoiceContext& operator=(const CAuVoiceContext&) = delete;

    // [audio thread] Every operation below.
    // Takes ownership of `source` (a pooled source from AuCreateSource). 1 or 63 keep it (as the
    // current source, or the pending one); 3 refuses it below the threshold with action 1; 2 when
    // the voice's own memory cannot be had; any other start result is returned with the source
    // freed.
    AURESULT AttachSource(CAuSourceBase* source, bool asCurrent, bool firstAttachment) noexcept;
    // A start or a resume rises over AU_VOICE_EDGE_RISE_MS; a pause of a voice heard in the last
    // frame falls over the next buffer (see TakeFall).
    void Start() noexcept;
    void Stop() noexcept;
    void Pause() noexcept;
    void Resume() noexcept;
    // Whether the frame pulls the voice once more, falling to silence: after a pause, or once its
    // instance stopped (`stopped`) while the voice was heard, unless the instance's data is
    // going (see CAuPlaybackInstance::MarkCut).
    bool TakeFall(bool stopped) noexcept;
    void StopLooping(CAuPlaybackInstance* instance) noexcept;
    void ApplySeek() noexcept;
    // Stops and frees both sources and ends the chain; the voice is left a shell.
    void ReleaseSources() noexcept;

    // What the mixing side and plug-ins ask about where the voice sounds from: the instance's game
    // object seen by its listeners. Without a game object: no rays, one default position, scaling
    // 1 and no listener.
    // The game object's emitter-listener pairs for all its listeners.
    u32 GetNumEmitterRays() const noexcept;
    // The index-th of the pairs whose listener is in `listenerMask`; 2 past them.
    AURESULT GetEmitterRay(u32 index, u32 listenerMask, AuEmitterListenerPair& out) const noexcept;
    // 1 for a single-position game object, else its position count.
    u32 GetNumEmitterPositions() const noexcept;
    // The default position when the game object has none; 2 past the count.
    AURESULT GetEmitterPosition(u32 index, AuSoundPosition& out) const noexcept;
    f32 GetAttenuationScaling() const noexcept;
    u8 GetListenerMask() const noexcept;
    // The row of the listener whose bit is the index-th set bit of the listener mask; null past
    // them.
    const AuListenerData* GetListenerData(u32 index) const noexcept;
    AuPlayingID GetPlayingID() const noexcept { return m_pInstance->Key().playingID; }
    // The instance's current priority, rounded to an integer.
    u32 GetPriority() const noexcept;
    // The game object's ID; 0xFFFFFFFF without one.
    u32 GetGameObjectID() const noexcept;
    // The game object's multi-position type (its three low bits); 0 without a game object.
    u32 GetPositioningType() const noexcept;
    u32 GetNodeID() const noexcept;
    // Whether an effect slot runs a plug-in made from the settings of that ID.
    bool HasEffectOfSettings(u32 settingsID) const noexcept;
    // Whether an effect slot's plug-in settings hold a value under the property's key.
    bool HasEffectWithProperty(u32 propertyID) const noexcept;
    // The two values the voice hands its pitch node after set-up: the playback-rate factor the
    // output frames are counted in, and whether pitch changes ramp over a buffer or jump.
    void ForwardPitch(f32 rateFactor, bool interpolate) noexcept;
    // The source's analysed envelope (decibels) where the pitch node's held input starts.
    f32 GetSourceEnvelope() noexcept;

    // The rays: `count` of them, the ones beyond the old count new. The array grows one entry at
    // a time (rays come and go with listeners, a few at most); 2 without memory, the rays kept.
    AURESULT SetNumRays(u32 count) noexcept;
    u32 NumRays() const { return m_uNumRays; }
    u32 RayCapacity() const { return m_uRayCapacity; }
    AuVoiceRay* Rays() { return m_pRays; }

    // The start check before the first frame: 1 start now, 63 wait, 2 failed.
    AURESULT CheckSourceReady() noexcept;
    // The instance's frame budget and a pending source's check, before VoiceUpdate.
    void ApplyFrameBudget(AuVoiceFrame& frame) noexcept;
    // Whether the voice renders this frame, from its levels; builds the chain on the first one.
    bool VoiceUpdate(AuVoiceFrame& frame, const AuVoiceLevels& levels) noexcept;
    // Pulls one buffer through the chain into `out` (the pitch node's storage); its state.
    AURESULT Pull(AuPipelineBuffer& out, u16 framesPerPull) noexcept;
    // The frame is done with the pulled buffer: its markers go back down the chain.
    void ReleaseBuffer() noexcept { m_final.ReleaseBuffer(); }
    // Stage 1 takes the minimum of targets 1 and 3 over the outputs, stage 2 that of 2 and 4.
    void ApplyFilterTargets(const f32 (*targets)[4], u32 count) noexcept;
    // Builds the chain: the pitch node from the instance, the stages for the voice's format. 2
    // on failure.
    // `startOffset`: the start delay left after the first rendered frame, negative when the
    // voice starts inside it (see CAuPitchNode::Execute).
    AURESULT BuildChain(i32 startOffset) noexcept;
    // The pending source becomes current and started; the final node learns its instance.
    AURESULT SwitchToPendingSource() noexcept;

    // Rebuilds one effect slot from the node's record while the voice plays (a slot of 4 or more
    // does nothing); a layout change carries on to the next effect, or to the filter stages.
    void UpdateEffect(u32 slot) noexcept override;
    // Each slot whose mask bit is set and that holds a node takes its bit as its bypass.
    void SetEffectBypass(u32 bits, u32 mask) noexcept;
    // The slot's bypass from the node's record.
    void RefreshEffectBypass(u32 slot) noexcept;
    void RefreshAllEffectBypass() noexcept;
    // Null for an empty slot.
    const CAuEffectNode* Effect(u32 slot) const {
        return slot < AU_VOICE_EFFECT_SLOTS ? m_pEffects[slot] : nullptr;
    }

    // Bits 0 to 3 are the effect slots' bypass.
    void ForwardVoiceFlags(u32 value, u32 mask) noexcept override;
    AURESULT StartNextSource(CAuSourceBase*& source, AuResamplerFormat& format) noexcept override;

    PlayState State() const { return m_eState; }
    u8 Flags() const { return m_uFlags; }
    bool ChainBuilt() const { return m_bChainBuilt; }
    CAuSourceBase* Source() const { return m_pSource; }
    CAuSourceBase* PendingSource() const { return m_pPendingSource; }
    CAuPlaybackInstance* Instance() const { return m_pInstance; }
    AuChannelConfig Format() const { return m_config; }
    u8 VirtualMode() const { return m_uVirtualMode; }
    u8 BelowThresholdAction() const { return m_uBelowAction; }
    // The chain from its end: the final node's input is stage 1, whose input is the last effect
    // node or the modulator node, whose input is the pitch stage, whose source is Pitch().Source().
    const CAuPipelineNode& FinalNode() const { return m_final; }
    const CAuPipelineNode& FilterStage1() const { return m_stage1; }
    const CAuVoiceFilterNode& Stage1() const { return m_stage1; }
    const CAuVoiceFilterNode& Stage2() const { return m_final; }
    const CAuPipelineNode& ModulatorNode() const { return m_modulator; }
    const CAuPipelineNode& PitchStage() const { return m_pitchStage; }
    const CAuPitchNode& Pitch() const { return m_pitch; }
    // The list the voice is in (live or waiting), kept by the voice commands.
    CAuVoiceContext* NextVoice() const { return m_pNextVoice; }
    void SetNextVoice(CAuVoiceContext* next) { m_pNextVoice = next; }
    // The start check passed: the frame pulls the voice.
    bool IsReadyToRender() const { return m_bReady; }
    void SetReadyToRender() { m_bReady = true; }
    // The frames the voice last starved; the lower engine keeps the report to one per wait.
    bool IsStarving() const { return m_bStarving; }
    AuVoiceMixState& MixState() { return m_mix; }
    // [audio thread] A new output of `kind` (CAuVoiceOutput::Kind) to the bus on its device, at
    // the head of the voice's list; a dry one to the main device under a bus that keeps a level
    // window follows that window. A standard bus layout is registered with the device (its pan
    // tables); null when the device is missing or cannot take it, or without memory. Both calls
    // mark the outputs changed.
    CAuVoiceOutput* AddOutput(CAuOutputBus* bus, u32 deviceType, u32 deviceId, u32 kind) noexcept;
    // [audio thread] Unlinks the output from the voice's list and destroys it.
    void RemoveOutput(CAuVoiceOutput* output) noexcept;

private:
    // The pitch node as a chain node.
    class PitchStageNode final : public CAuPipelineNode {
    public:
        explicit PitchStageNode(CAuPitchNode& pitch) : m_pitch(pitch) {}
        void ReleaseBuffer() noexcept override { m_pitch.ReleaseBuffer(); }
        AURESULT TimeSkip(u32& frames) noexcept override { return m_pitch.TimeSkip(frames); }
        void VirtualOn(u32 mode) noexcept override { m_pitch.VirtualOn(mode); }
        AURESULT VirtualOff(u32 mode, bool restart) noexcept override {
            return m_pitch.VirtualOff(mode, restart);
        }
        AURESULT SeekIfPending() noexcept override { return m_pitch.SeekIfPending(); }

    private:
        CAuPitchNode& m_pitch;
    };

    // False without memory, the rays kept.
    bool GrowRays(u32 capacity) noexcept;
    void ReportStarvation() noexcept;
    void DisconnectChain() noexcept;
    u16 FramesPerBuffer() const noexcept;
    static u32 RiseFrames() noexcept;
    // The nodes that read the instance move to the next source's when the voice chains to it.
    void FollowInstance(CAuPlaybackInstance* instance) noexcept;
    // The pending source replaces the current one, which is stopped (unless it was) and destroyed;
    // the voice and its nodes follow the new source's instance.
    void TakePendingSource() noexcept;
    // The slot's node from the node's record, for the running format (which becomes its output).
    // 1 with or without a node (a plug-in that is missing, refuses or fails to start leaves the
    // slot empty); 2 when the node's memory cannot be had.
    AURESULT CreateEffect(u32 slot, AuPluginFormat& format, CAuEffectNode*& node) noexcept;
    void DestroyEffect(u32 slot) noexcept;
    // The pitch stage and modulator node, then the effects of the slots below `end`.
    AURESULT PullHead(AuPipelineBuffer& out, u16 framesPerPull) noexcept;
    AURESULT PullThrough(u32 end, AuPipelineBuffer& out, u16 framesPerPull) noexcept;

    CAuSourceBase* m_pSource = nullptr;
    CAuSourceBase* m_pPendingSource = nullptr;
    CAuPlaybackInstance* m_pInstance = nullptr;
    PlayState m_eState = kCreated;
    u8 m_uVirtualMode = 0;
    u8 m_uBelowAction = 0;
    u8 m_uFlags = kFlagAudible;
    bool m_bChainBuilt = false;
    bool m_bStarving = false;
    bool m_bSourceStopped = false;
    bool m_bReady = false;
    bool m_bFallPending = false; // paused while heard: the next buffer falls
    CAuVoiceContext* m_pNextVoice = nullptr;
    AuVoiceRay* m_pRays = nullptr;
    u32 m_uNumRays = 0;
    u32 m_uRayCapacity = 0;
    AuChannelConfig m_config;
    CAuPitchNode m_pitch;
    PitchStageNode m_pitchStage{m_pitch};
    CAuModulatorGainNode m_modulator;
    CAuEffectNode* m_pEffects[AU_VOICE_EFFECT_SLOTS] = {};
    CAuVoiceFilterNode m_stage1;
    CAuVoiceFilterNode m_final;
    CAuVoiceEdge m_edge;
    AuVoiceMixState m_mix;
};
