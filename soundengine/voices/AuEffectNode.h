// The effect nodes of a voice's chain: one per effect slot that names a plug-in, between the
// modulator gain node and filter stage 1. Each owns its plug-in instance and a parameter holder:
// a private clone of the settings' parameters that their game-parameter curves drive. Plug-ins
// that work where the buffer lies get the in-place node; the others write an output of their
// own, of another length or layout, through the out-of-place node. Everything here runs on the
// audio thread under g_csMain.
#pragma once

#include "plugins/AuPlugin.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuEffectSlotHolder.h"
#include "voices/AuPipelineBuffer.h"
#include "voices/AuPipelineNode.h"

class CAuPlaybackInstance;

// The effect plug-in context of a voice's effect: voices never run effects in send mode.
class CAuVoiceEffectContext final : public CAuSlotEffectContext {
public:
    void Init(u32 slot, u16 framesPerBuffer) {
        m_uSlot = slot;
        m_uFramesPerBuffer = framesPerBuffer;
    }
    u32 GetMaxBufferLength() const noexcept override { return m_uFramesPerBuffer; }

private:
    u16 m_uFramesPerBuffer = 0;
};

// Appends the markers of `source` whose offsets lie in [start, start + length) to those of
// `destination`. When their array cannot grow, the destination's markers are dropped.
void CountMarkersInRange(const AuPipelineBuffer& source, AuPipelineBuffer& destination, u32 start,
                         u32 length) noexcept;

class CAuEffectNode : public CAuPipelineNode {
public:
    // [audio thread] Every operation below.
    // Takes `plugin` (Term frees it in every case) and runs it on a parameter holder of the
    // record's settings for the instance's key (a reference of its own on the settings, their
    // curves subscribed). `format` is the running format: the node's input, and its output after
    // Init. 2 when the parameters cannot be cloned, else the plug-in's Init result.
    AURESULT Init(AU::IAuPlugin* plugin, const AuEffectRecord& record, u32 slot,
                  CAuPlaybackInstance* instance, u16 framesPerBuffer, AuPluginFormat& format) noexcept;
    // Frees the plug-in, the holder (its subscriptions and settings reference go) and the node's
    // buffers. The final classes' destructors run it; running it twice does nothing more.
    void Term() noexcept;

    // False once the node makes its output without pulling: the input ended and the plug-in rings
    // out, or input is still held from an earlier call.
    virtual bool NeedsInput() const noexcept = 0;
    // The buffer from the input becomes the node's output; the state tells the voice what came of
    // it (43: the node needs more input).
    virtual void ProcessBuffer(AuPipelineBuffer& buffer) noexcept = 0;
    // The output of a call that pulls nothing, into `buffer` of `maxFrames`.
    virtual void Flush(AuPipelineBuffer& buffer, u16 maxFrames) noexcept = 0;
    virtual AuChannelConfig OutputConfig() const noexcept = 0;

    void VirtualOn(u32 mode) noexcept override;
    AURESULT VirtualOff(u32 mode, bool restart) noexcept override;
    AURESULT SeekIfPending() noexcept override;

    // The instance whose bypass-all flag and position reports the node follows.
    void SetInstance(CAuPlaybackInstance* instance) noexcept { m_pInstance = instance; }
    void SetBypass(bool bypass) noexcept { m_bBypass = bypass; }
    bool IsBypassed() const noexcept { return m_bBypass; }
    bool LastBufferSeen() const noexcept { return m_bLastBuffer; }
    AU::IAuPlugin* Plugin() const noexcept { return m_pPlugin; }
    AU::IAuPluginParam* Params() const noexcept { return m_pHolder ? m_pHolder->Params() : nullptr; }
    CAuPluginParamHolder* Holder() const noexcept { return m_pHolder; }
    // The media the plug-in asked for.
    const CAuEffectSlotHolder& Media() const noexcept { return m_context.Media(); }
    CAuPluginSettings* Settings() const noexcept { return m_pHolder ? &m_pHolder->Settings() : nullptr; }
    u32 SettingsID() const noexcept { return m_uSettingsID; }
    u32 Slot() const noexcept { return m_context.Slot(); }

protected:
    // After the plug-in's Init: the node's records for its input layout and the plug-in's output.
    virtual void PrepareBuffers(AuChannelConfig input, AuPluginFormat& format) noexcept = 0;
    virtual void TermBuffers() noexcept = 0;
    // What the node holds of the plug-in's output, and of its input, when the plug-in restarts.
    virtual void DropOutput() noexcept {}
    virtual void DropInput() noexcept {}
    // Whether this call bypasses the plug-in; a bypass that begins resets it, once.
    bool BypassNow() noexcept;

    CAuPlaybackInstance* m_pInstance = nullptr;
    CAuVoiceEffectContext m_context;
    CAuPluginParamHolder* m_pHolder = nullptr;
    u32 m_uSettingsID = 0;
    bool m_bLastBuffer = false;
    bool m_bBypass = false;
    bool m_bBypassReset = false;
    AU::IAuPlugin* m_pPlugin = nullptr;
};

class CAuInPlaceEffectNode final : public CAuEffectNode {
public:
    ~CAuInPlaceEffectNode() override { Term(); }
    // [audio thread] Every operation below.
    void ReleaseBuffer() noexcept override;
    // Forwards, then tells the plug-in; an input that ends turns the node to its tail.
    AURESULT TimeSkip(u32& frames) noexcept override;
    bool NeedsInput() const noexcept override { return !m_bLastBuffer; }
    void ProcessBuffer(AuPipelineBuffer& buffer) noexcept override;
    // The tail after the input ended: an empty buffer in state 17 for the plug-in to fill.
    void Flush(AuPipelineBuffer& buffer, u16 maxFrames) noexcept override;
    AuChannelConfig OutputConfig() const noexcept override { return m_config; }

private:
    void PrepareBuffers(AuChannelConfig input, AuPluginFormat& format) noexcept override;
    void TermBuffers() noexcept override;
    // The buffer gets the scratch samples with no valid frames; false (state 2) without memory.
    bool AttachScratch(AuPipelineBuffer& buffer) noexcept;
    void Process(AuPipelineBuffer& buffer) noexcept;

    AuChannelConfig m_config;
    // The buffer of this pass came from the input, which gets it back on release.
    bool m_bFromInput = false;
    // Samples for the tail, made when a buffer without samples arrives.
    f32* m_pScratch = nullptr;
    u16 m_uScratchFrames = 0;
};

class CAuOutOfPlaceEffectNode final : public CAuEffectNode {
public:
    ~CAuOutOfPlaceEffectNode() override { Term(); }
    // [audio thread] Every operation below.
    // The output was mixed: it empties. The input copy is released as the plug-in consumes it.
    void ReleaseBuffer() noexcept override;
    // Forwards, then lets the plug-in skip one buffer at a time while whole buffers remain and it
    // answers 45; 17 from either marks the last buffer.
    AURESULT TimeSkip(u32& frames) noexcept override;
    bool NeedsInput() const noexcept override { return m_input.uValidFrames == 0 && !m_bLastBuffer; }
    void ProcessBuffer(AuPipelineBuffer& buffer) noexcept override;
    void Flush(AuPipelineBuffer& buffer, u16 maxFrames) noexcept override;
    AuChannelConfig OutputConfig() const noexcept override { return m_output.channelConfig; }

    // Frames taken from the input, by processing or skipping.
    u32 TotalFrames() const noexcept { return m_uTotalFrames; }
    const AuPipelineBuffer& HeldInput() const noexcept { return m_input; }
    const AuPipelineBuffer& Output() const noexcept { return m_output; }
    // The running averages of frames in and out per full output, from 1.0 at Init.
    f32 InputAverage() const noexcept { return m_fInputAverage; }
    f32 OutputAverage() const noexcept { return m_fOutputAverage; }

private:
    void PrepareBuffers(AuChannelConfig input, AuPluginFormat& format) noexcept override;
    void TermBuffers() noexcept override;
    void DropOutput() noexcept override;
    void DropInput() noexcept override;
    // The plug-in is skipped: the input goes to the output through the unity matrix of the two
    // layouts.
    void CopyBypassed() noexcept;
    void HandOff(AuPipelineBuffer& buffer, u32 framesAtStart) noexcept;
    void ResetInput() noexcept;

    AuPipelineBuffer m_input;
    AuPipelineBuffer m_output;
    u32 m_uInputOffset = 0;
    u32 m_uTotalFrames = 0;
    u32 m_uFramesSinceOutput = 0;
    f32 m_fInputAverage = 1.0f;
    f32 m_fOutputAverage = 1.0f;
};
