// The node after the pitch node in every voice chain: the instance's running modulators that act
// on the volume, applied to the samples. It stands before the effects so that volume envelopes
// shape the dry sound and effect tails (reverb, delay) ring out past them.
#pragma once

#include "voices/AuPipelineBuffer.h"
#include "voices/AuPipelineNode.h"

class CAuPlaybackInstance;

// A modulator with a value per sample: sample n is multiplied by values[n] x scale + offset.
struct AuModulatorSampleTarget {
    const f32* pValues = nullptr; // at least the buffer's maximum frames
    f32 fOffset = 0.0f;
    f32 fScale = 1.0f;
};

// A modulator with one value per frame: the gain runs from the previous frame's to this one's.
struct AuModulatorFrameTarget {
    f32 fStart = 1.0f;
    f32 fEnd = 1.0f;
};

// The instance's running modulators as the gain node reads them; `mask` holds one bit per
// property (bits 0 to 63).
class IAuModulatorList {
public:
    // [audio thread] Every operation below.
    // The targets of the mask's properties, with a value per sample and with one per frame.
    virtual void CountTargets(u64 mask, u32& sampleRate, u32& frameRate) noexcept = 0;
    // The product over the matching targets of (current value x scale + offset), from 1.0.
    virtual f32 CurrentGain(u64 mask) noexcept = 0;
    // Fills as many records as CountTargets gave.
    virtual void FillTargets(u64 mask, AuModulatorSampleTarget* sampleRate,
                             AuModulatorFrameTarget* frameRate) noexcept = 0;

protected:
    ~IAuModulatorList() = default;
};

// The two volume properties whose modulators act on the samples.
constexpr u64 AU_MODULATOR_GAIN_PROPERTIES = (u64{1} << 0) | (u64{1} << 36);

// [audio thread] Multiplies the valid frames by a gain running linearly from `from`, four samples
// at a time by (to - from) / (frames rounded down to 4), the rest by (to - from) / frames. The LFE
// (the last channel) is left alone unless `includeLFE`.
void AuApplyGainRamp(AuPipelineBuffer& buffer, f32 from, f32 to, bool includeLFE) noexcept;

class CAuModulatorGainNode final : public CAuForwardingNode {
public:
    AURESULT Init(CAuPlaybackInstance* instance) noexcept {
        m_pInstance = instance;
        return AuResultSuccess;
    }
    // [audio thread] In place; nothing without data or without the instance's modulator list.
    void Execute(AuPipelineBuffer& buffer) noexcept;

private:
    CAuPlaybackInstance* m_pInstance = nullptr;
};
