// The source node of a sound whose media is a generator: the source plug-in is made from the
// sound's plug-in settings (its source ID names them), runs on a clone of their parameters, and
// fills one planar float buffer per pull. Audio thread, under g_csMain.
#pragma once

#include "plugins/AuPlugin.h"
#include "voices/AuEffectSlotHolder.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceInfo.h"

class CAuPluginParamHolder;

class CAuSourcePluginHost final : public CAuSourceBase, public AU::IAuSourcePluginContext {
public:
    // The generator's rate; a motion-feed voice's 8-frame buffers make it 48000 / frames x 8.
    static constexpr u32 kRate = 48000;

    CAuSourcePluginHost(CAuPlaybackInstance* instance, u32 settingsID) noexcept;
    ~CAuSourcePluginHost() override;

    // The settings, a clone of their parameters, the plug-in and its format: 1, or 2 after
    // StopStream for settings that are not loaded, a plug-in that is not a source or fails, or a
    // format the voices cannot play.
    AURESULT StartStream() noexcept override;
    // Ends the plug-in and lets go of the parameters, the settings and the media.
    void StopStream() noexcept override;
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override;
    void ReleaseBuffer() noexcept override;
    AURESULT Seek() noexcept override;
    AURESULT TimeSkip(u32& frames) noexcept override;
    // From the beginning: the generator starts again.
    void VirtualOn(u32 behavior) noexcept override;
    AURESULT VirtualOff(u32, bool) noexcept override { return AuResultSuccess; }
    void StopLooping() noexcept override;
    f32 GetDuration() const noexcept override;
    // The generator's level in decibels, 0 without a plug-in.
    f32 GetAnalyzedEnvelope(u32 buffered) noexcept override;

    u32 GetMaxBufferLength() const noexcept override;
    AURESULT GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept override;
    u16 GetNumLoops() const noexcept override;
    const AU::IAuSourceVoiceInfo* GetVoiceInfo() const noexcept override { return &m_voiceInfo; }

    AU::IAuSourcePlugin* Plugin() const { return m_pPlugin; }
    AuChannelConfig Format() const { return m_pluginFormat.channelConfig; }

private:
    u32 m_uSettingsID;
    CAuVoiceInfo m_voiceInfo;
    AuPipelineBuffer m_output;
    AuPluginFormat m_pluginFormat;
    CAuEffectSlotHolder m_media;
    CAuPluginParamHolder* m_pParams = nullptr;
    AU::IAuSourcePlugin* m_pPlugin = nullptr;
};

// The format a generator leaves must be anonymous, or standard with a layout the voices mix.
bool AuIsSourcePluginFormat(AuChannelConfig config) noexcept;
