// Effect plug-in 106: a feedback delay on every channel, each through its own line of one length.
// The output mixes the dry input with the delayed signal; changes of feedback, mix and output gain
// glide across one buffer.
#pragma once

#include "plugins/AuEffectCommon.h"
#include "plugins/AuPlugin.h"

#include <AU/AuEffectBlocks.h>

class CAuDelayEffectParams final : public AU::IAuPluginParam {
public:
    enum ParamId : u16 {
        DelayTime = 0,       // f32 seconds
        Feedback = 1,        // f32 percent
        WetDryMix = 2,       // f32 percent, 100 = only the delayed signal
        OutputLevel = 3,     // f32 dB
        FeedbackEnabled = 4, // f32, anything but 0.0 is on
        ProcessLFE = 5,      // first byte
    };

    // [audio thread] 31 for an unknown id, a null value or a number that is not finite.
    AURESULT SetParam(u16 id, const void* value, u32 size) noexcept override;
    AU::IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, const void* block, u32 size) noexcept override;
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT SetParamsBlock(const void* block, u32 size) noexcept override;

    void SetDefaults();

    // Working form: fractions and linear gains.
    f32 m_fFeedback = 0.0f;
    f32 m_fWetDryMix = 0.5f;
    f32 m_fOutputGain = 1.0f;
    bool m_bFeedbackEnabled = false;
    bool m_bFeedbackChanged = false;
    f32 m_fDelayTime = 0.5f;
    bool m_bProcessLFE = true;
    bool m_bDelayLineChanged = false;
};

struct AuDelayLines {
    f32** ppLines = nullptr;
    // Samples per line, a multiple of 4; 0 when the delay is shorter than one sample.
    u32 uLength = 0;
    u32 uWritePos = 0;
    u32 uNumLines = 0;
    AuEffectTail tail;
    // The values the last buffer ended with; the next one glides from them.
    f32 fPrevFeedback = 0.0f;
    f32 fPrevWetDryMix = 0.0f;
    f32 fPrevOutputGain = 1.0f;
    u32 uNumProcessed = 0;
    u32 uSampleRate = 0;
    u32 uTailLength = 0;
    bool bSendMode = false;
};

class CAuDelayEffect final : public AU::IAuPlugin {
public:
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Reset() noexcept override;
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                  AU::IAuPluginParam* params, AuPluginFormat& format) noexcept override;
    void Execute(AuPipelineBuffer& buffer) noexcept override;
    AURESULT TimeSkip(u32 frames) noexcept override;

    const AuDelayLines& Lines() const { return m_lines; }

private:
    AURESULT AllocLines(AuChannelConfig config) noexcept;
    void FreeLines() noexcept;
    void ComputeTailLength() noexcept;
    f32 EffectiveFeedback() const noexcept;
    f32 EffectiveWetDryMix() const noexcept;

    AuDelayLines m_lines;
    CAuDelayEffectParams* m_pParams = nullptr;
    AU::IAuPluginMemAlloc* m_pAllocator = nullptr;
};
