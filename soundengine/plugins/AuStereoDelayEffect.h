// Effect plug-in 135: a left and a right line with feedback, cross-feedback and an equaliser in
// the feed. The front pair runs through one unit of lines, each rear pair through a unit of its
// own; a balance sends the delayed signal to the front or the rear.
#pragma once

#include "plugins/AuEffectCommon.h"
#include "plugins/AuEffectFilter.h"
#include "plugins/AuPlugin.h"

enum AuStereoDelayInput : u32 {
    AuStereoDelayInputOwn = 0,          // the side's own channel
    AuStereoDelayInputCenter = 1,       // the centre
    AuStereoDelayInputOwnAndCenter = 2, // both at 0.707
    AuStereoDelayInputNone = 3,         // silence, as every mode above it
};

struct AuStereoDelayValues {
    f32 fLeftDelayTime = 0.5f;
    f32 fLeftFeedback = 0.25f;
    f32 fLeftToRight = 0.25f;
    f32 fRightDelayTime = 0.5f;
    f32 fRightFeedback = 0.25f;
    f32 fRightToLeft = 0.25f;
    u32 uLeftInput = AuStereoDelayInputOwn;
    u32 uRightInput = AuStereoDelayInputOwn;
    // 0 no filter, 1 to 7 the equaliser's types 0 to 6.
    i32 iFilterType = 0;
    f32 fFilterGain = 1.0f;
    f32 fFilterFrequency = 1000.0f;
    f32 fFilterQ = 1.0f;
    f32 fDryLevel = 1.0f;
    f32 fWetLevel = 1.0f;
    f32 fBalance = 0.0f;
    bool bFeedbackEnabled = false;
    bool bCrossFeedbackEnabled = false;
};

class CAuStereoDelayEffectParams final : public AU::IAuPluginParam {
public:
    enum ParamId : u16 {
        CrossFeedbackEnabled = 0,
        FeedbackEnabled = 1,
        DryLevel = 2,
        WetLevel = 3,
        Balance = 4,
        FilterType = 5,
        FilterGain = 6,
        FilterFrequency = 7,
        FilterQ = 8,
        LeftInput = 9,
        LeftDelayTime = 10,
        LeftFeedback = 11,
        LeftToRight = 12,
        RightInput = 13,
        RightDelayTime = 14,
        RightFeedback = 15,
        RightToLeft = 16,
        NumParams = 17,
    };

    // [audio thread] 31 for an unknown id, a null value or a number that is not finite.
    AURESULT SetParam(u16 id, const void* value, u32 size) noexcept override;
    AU::IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, const void* block, u32 size) noexcept override;
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT SetParamsBlock(const void* block, u32 size) noexcept override;

    bool Changed(u32 id) const { return (m_changed[id / 8] >> (id % 8)) & 1u; }
    void Raise(u32 id) { m_changed[id / 8] |= u8(1u << (id % 8)); }
    void Lower(u32 id) { m_changed[id / 8] &= u8(~(1u << (id % 8))); }
    void RaiseAll() { m_changed[0] = m_changed[1] = 0xFF, m_changed[2] = 0x01; }
    void LowerAll() { m_changed[0] = m_changed[1] = m_changed[2] = 0; }

    u8 m_changed[3] = {};
    AuStereoDelayValues m_values;
};

struct AuStereoDelayLine {
    f32* pBuffer = nullptr;
    u32 uLength = 0; // a multiple of 4, at least one buffer
    u32 uPos = 0;
};

struct AuStereoDelayUnit {
    AuStereoDelayLine left;
    AuStereoDelayLine right;
    AuEffectFilter leftFilter;
    AuEffectFilter rightFilter;
    u32 uSampleRate = 0;
};

class CAuStereoDelayEffect final : public AU::IAuPlugin {
public:
    static constexpr u32 kNumUnits = 3;

    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Reset() noexcept override;
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                  AU::IAuPluginParam* params, AuPluginFormat& format) noexcept override;
    void Execute(AuPipelineBuffer& buffer) noexcept override;
    AURESULT TimeSkip(u32 frames) noexcept override;

    u32 TailLength() const { return m_uTailLength; }
    const AuStereoDelayUnit& Unit(u32 index) const { return m_units[index]; }

private:
    void BuildWorkingCopy() noexcept;
    void ComputeTailLength() noexcept;
    AURESULT AllocUnitLines(AuStereoDelayUnit& unit) noexcept;
    void FreeUnitLines(AuStereoDelayUnit& unit) noexcept;
    static void ClearUnit(AuStereoDelayUnit& unit) noexcept;
    void Process(AuPipelineBuffer& buffer, f32* work) noexcept;
    // Inputs in `in0` and `in1`, the delayed signals into `out0` and `out1`.
    void RunUnit(AuStereoDelayUnit& unit, f32* in0, f32* in1, f32* out0, f32* out1, u32 frames) noexcept;

    CAuStereoDelayEffectParams* m_pParams = nullptr;
    AU::IAuPluginMemAlloc* m_pAllocator = nullptr;
    AuStereoDelayUnit m_units[kNumUnits];
    AuStereoDelayValues m_current;
    AuStereoDelayValues m_previous;
    AuEffectTail m_tail;
    u32 m_uTailLength = 0;
    u32 m_uSampleRate = 0;
    u32 m_uMaxFrames = 0;
    bool m_bFilterChanged = false;
    bool m_bSendMode = false;
};
