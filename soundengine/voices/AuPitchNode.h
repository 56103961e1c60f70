// The node after the source in every voice chain: it takes the source's buffers at the media's
// rate and fills the voice's buffer at the output rate with the voice's pitch, moving markers and
// the play position along, dropping what a block-aligned seek left over, and chaining a queued
// next source of the same format into the same buffer.
#pragma once

#include "core/AuPolyBase.h"
#include "voices/AuResampler.h"

class CAuPlaybackInstance;
class CAuSourceBase;

// What the voice tells its pitch node once, at set-up.
struct AuPitchNodeParams {
    u32 uOutputRate = 48000;
    u16 uFramesPerBuffer = 1024; // 8 for a motion-feed voice
    f32 fRateFactor = 1.0f;
    // Negative for a voice that starts inside its first frame: it begins that many frames (less
    // the buffer) late, see CAuPitchNode::Execute.
    i32 lFrameOffset = 0;
    // Pitch changes ramp over 1024 frames instead of jumping.
    bool bInterpolate = true;
};

// The voice side of a sample-accurate sequence.
class IAuPitchNodeVoice {
public:
    // [audio thread] Starts the voice's queued next source: 1 with `source` and `format` filled,
    // 63 while it is still buffering (ask again next frame), 17 when none is queued, anything else
    // on failure.
    virtual AURESULT StartNextSource(CAuSourceBase*& source, AuResamplerFormat& format) noexcept = 0;

protected:
    ~IAuPitchNodeVoice() = default;
};

class CAuPitchNode {
public:
    CAuPitchNode() = default;
    ~CAuPitchNode() { Term(); }
    CAuPitchNode(const CAuPitchNode&) = delete;
    CAuPitchNode& operator=(const CAuPitchNode&) = delete;

    // The resampler for the source's format; 2 for a format it has no kernel for (the voice does
    // not start). `voice` may be null (no next sources).
    AURESULT Init(CAuSourceBase* source, CAuPlaybackInstance* instance, const AuResamplerFormat& format,
                  const AuPitchNodeParams& params, IAuPitchNodeVoice* voice);
    // Gives back held input and frees the output buffer.
    void Term();

    // [audio thread] The start of a frame's pull: takes the instance's pitch, then converts held
    // input at once; without held input 17 once the source has finished, else 43 (the voice pulls
    // the source and calls Execute).
    AURESULT GetBuffer(AuPipelineBuffer& out) noexcept;
    // [audio thread] Converts one source buffer into the voice's buffer; the result is also the
    // state of `out`. 45 full, 43 pull again, 17 the last buffer, 46 a next source still
    // buffering, 2 no output buffer.
    AURESULT Execute(AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;
    // [audio thread] The voice is done with this frame's buffer: its markers go, its state is 43.
    void ReleaseBuffer() noexcept;
    // [audio thread] A virtual voice advances `frames` output frames without audio. 17 when the
    // source has finished, else 45.
    AURESULT TimeSkip(u32& frames) noexcept;
    // [audio thread] Behaviour 0 from the beginning, 1 from the elapsed time, 2 resume.
    void VirtualOn(u32 behavior) noexcept;
    AURESULT VirtualOff(u32 behavior, bool useSeek) noexcept;
    AURESULT SeekIfPending() noexcept;

    // Voice slot 25: the rate factor and whether pitch changes ramp.
    void SetRate(f32 rateFactor, bool interpolate) noexcept {
        m_params.fRateFactor = rateFactor;
        m_params.bInterpolate = interpolate;
    }
    const AuPitchNodeParams& Params() const { return m_params; }
    // The silent frames the first buffer begins with: the voice starts after them.
    u32 StartLead() const noexcept;
    CAuResampler& Resampler() { return m_resampler; }
    f32 GetSpeed() const { return m_fSpeed; }
    u32 HeldFrames() const { return m_input.uValidFrames; }
    bool SourceFinished() const { return m_bSourceFinished; }
    CAuSourceBase* Source() const { return m_pSource; }

private:
    void GiveBackInput() noexcept;
    // Markers of the input consumed between the two counts move to the output at offset 0.
    void MoveMarkers(u32 consumedBefore, u32 consumedAfter) noexcept;
    AURESULT ChainNextSource() noexcept;
    AURESULT Hand(AuPipelineBuffer& out, AURESULT state) noexcept;

    CAuPolyBase m_base;
    CAuResampler m_resampler;
    CAuSourceBase* m_pSource = nullptr;
    CAuPlaybackInstance* m_pInstance = nullptr;
    IAuPitchNodeVoice* m_pVoice = nullptr;
    AuPitchNodeParams m_params;
    AuResamplerFormat m_format;
    AuPipelineBuffer m_input;  // the source's record, held until used up
    u32 m_uInputFrames = 0;    // valid frames the held input came with
    AuPipelineBuffer m_output; // storage owned here, handed to the voice each frame
    f32 m_fSpeed = 1.0f;
    bool m_bSourceFinished = false;
    bool m_bStarted = false;       // the first buffer (and its silent lead) is behind
    bool m_bPositionTaken = false; // this output buffer has its position
    bool m_bNextPending = false;   // a next source is still buffering
};
