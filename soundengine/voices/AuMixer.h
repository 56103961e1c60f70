// The voice graph of the lower engine's frame: the voice commands and their voices, each voice's
// volumes and outputs, and the mixing busses they feed. Installed with CAuLowerEngine::SetVoiceGraph;
// its Init (from the lower engine's) also installs the busses as the hierarchy's bus operations.
#pragma once

#include "voices/AuBusGraph.h"
#include "voices/AuVoiceCommands.h"
#include "voices/AuVoiceOutput.h"

class CAuInstanceMgr;

class CAuMixer final : public IAuVoiceGraph, public IAuVoiceBusses {
public:
    // The instance manager whose events end the frame; the lookup of aux-send busses by ID.
    void SetInstanceMgr(CAuInstanceMgr* instances) {
        m_pInstances = instances;
        m_commands.SetInstanceMgr(instances);
    }
    void SetBusNodeLookup(AuBusNodeLookup lookup) { m_pfnLookup = lookup; }

    AURESULT InitVoiceCommands(u32 entries) override;
    bool HasVoicesToStart() noexcept override { return m_commands.HasVoicesToStart(); }
    void StartPendingVoices() noexcept override { m_commands.StartPendingVoices(); }
    // The instance manager's registered limiter lists drop what exceeds their maximum.
    void UpdateLimiters() noexcept override;
    void ProcessVoiceCommands() noexcept override { m_commands.ExecuteVoiceCommands(); }
    void ProcessInstanceEvents() noexcept override;
    void AdvancePendingVoices(u16 frames) noexcept override { m_commands.AdvanceWaitingVoices(frames); }
    // Bus volumes, then every playing voice's volumes and matrices, then the dynamic ranges.
    void PreFrame() noexcept override;
    void RenderVoices(bool render) noexcept override;
    void MixBusses() noexcept override { m_graph.MixBusses(); }
    void RemoveIdleBusses() noexcept override { m_graph.RemoveIdleBusses(); }
    // Voices whose listeners the device no longer hears lose their outputs to it; the others gain
    // one when they have none.
    void UpdateVoiceOutputs(u32 deviceType, u32 deviceId, u32 listenerMask) override;
    // The game object's voices follow its listeners: outputs to devices that no longer hear any of
    // them go, devices that now hear them gain one.
    void UpdateActiveListeners(const CAuRegisteredObj* gameObj, u32 oldMask, u32 newMask) noexcept;
    void ForEachPluginInstance(const CAuPluginSettings& settings, AuPluginInstanceVisit visit,
                               void* context) noexcept override;
    void ReleaseEffectsUsingData(const u8* data, u32 size) noexcept override {
        m_graph.ReleaseEffectsUsingData(data, size);
    }
    void TermVoices() override;
    void Term() override;

    // [audio thread] The bus graph as the voices reach it.
    AURESULT ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance& instance) noexcept override;
    void MixVoice(CAuVoiceContext& voice, AuPipelineBuffer& buffer) noexcept override;
    void DisconnectVoice(CAuVoiceContext& voice) noexcept override;

    // [audio thread] One voice's volumes for this frame (also run by PreFrame).
    void ComputeVolumes(CAuVoiceContext& voice) noexcept;
    // The listeners a voice is heard by: its game object's, or all without one.
    static u32 ListenerMask(const CAuPlaybackInstance& instance) noexcept;

    CAuVoiceCommands& Commands() { return m_commands; }
    CAuBusGraph& Graph() { return m_graph; }
    static u32 NumOutputs(CAuVoiceContext& voice);

private:
    // The voice's output to the node's bus on the device, made when missing; null on failure.
    CAuVoiceOutput* Connect(CAuVoiceContext& voice, IAuMixBusNode* node, u32 deviceType, u32 deviceId,
                            CAuVoiceOutput::Kind kind) noexcept;
    void UpdateSendOutputs(CAuVoiceContext& voice) noexcept;

    CAuVoiceCommands m_commands;
    CAuBusGraph m_graph;
    CAuInstanceMgr* m_pInstances = nullptr;
    AuBusNodeLookup m_pfnLookup = nullptr;
};
