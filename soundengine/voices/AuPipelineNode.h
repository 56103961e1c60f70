// The nodes of a voice's chain after its pitch node: each pulls from its input and works on the
// voice's buffer in place. The voice connects them from the last to the first.
#pragma once

#include <AU/AuTypes.h>

class CAuPipelineNode {
public:
    CAuPipelineNode() = default;
    CAuPipelineNode(const CAuPipelineNode&) = delete;
    CAuPipelineNode& operator=(const CAuPipelineNode&) = delete;
    virtual ~CAuPipelineNode() = default;

    // [audio thread] Every operation below.
    // Drops the buffer the node holds and what it holds from its input.
    virtual void ReleaseBuffer() noexcept = 0;
    // Advances without producing samples; `frames` comes back as the frames skipped.
    virtual AURESULT TimeSkip(u32& frames) noexcept = 0;
    // 0 from the beginning, 1 from the elapsed time, 2 resume where it was.
    virtual void VirtualOn(u32 mode) noexcept {
        if (m_pInput) m_pInput->VirtualOn(mode);
    }
    virtual AURESULT VirtualOff(u32 mode, bool restart) noexcept {
        return m_pInput ? m_pInput->VirtualOff(mode, restart) : AuResultSuccess;
    }
    // The instance's pending seek.
    virtual AURESULT SeekIfPending() noexcept { return m_pInput ? m_pInput->SeekIfPending() : AuResultFail; }
    virtual void Connect(CAuPipelineNode* input) noexcept { m_pInput = input; }
    void Disconnect() noexcept { Connect(nullptr); }
    CAuPipelineNode* Input() const noexcept { return m_pInput; }

protected:
    CAuPipelineNode* m_pInput = nullptr;
};

// The forwarding the modulator gain node shares with the voice's filter nodes: buffers and time
// skips go upstream; going virtual first forgets the node's own state.
class CAuForwardingNode : public CAuPipelineNode {
public:
    void ReleaseBuffer() noexcept override {
        if (m_pInput) m_pInput->ReleaseBuffer();
    }
    // Without an input nothing is left to skip: 17 with no frames.
    AURESULT TimeSkip(u32& frames) noexcept override {
        if (m_pInput) return m_pInput->TimeSkip(frames);
        frames = 0;
        return AuResultNoMoreData;
    }
    void VirtualOn(u32 mode) noexcept override {
        ResetState();
        CAuPipelineNode::VirtualOn(mode);
    }

protected:
    // [audio thread] The node's own running state (filter memories) starts over.
    virtual void ResetState() noexcept {}
};
