// The lower engine's voice command queue and its voices: play commands create voice contexts and
// connect them to their busses, the other commands reach a voice once it exists, and commands
// queued together (one stamp of the change counter) start together. Also the list of live
// voices that the frame pulls. Everything here runs on the audio thread under g_csMain, except
// Init and Term.
#pragma once

#include "memory/AuPoolList.h"
#include "voices/AuPlaybackInstance.h"

class CAuVoiceContext;
class CAuInstanceMgr;
struct AuPipelineBuffer;

// [audio thread] Closes a group of voice commands: those queued from here on start apart from the
// ones before. The engine calls it after each pending action it runs. The counter starts at 0
// with the queue's Init.
void IncrementChangeCounter() noexcept;
// [audio thread] The stamp that commands queued now receive.
u32 AuChangeCounter() noexcept;

// The bus graph as the voices reach it: where a voice's outputs go and where its buffers mix.
class IAuVoiceBusses {
public:
    // [audio thread] Connects the voice to the busses of every device that hears the instance; 2
    // destroys the voice.
    virtual AURESULT ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance& instance) noexcept = 0;
    // [audio thread] One rendered buffer of the voice, to be mixed into its outputs.
    // The buffer's part past its valid frames may be zeroed.
    virtual void MixVoice(CAuVoiceContext& voice, AuPipelineBuffer& buffer) noexcept = 0;
    // [audio thread] The voice goes away.
    virtual void DisconnectVoice(CAuVoiceContext& voice) noexcept = 0;

protected:
    ~IAuVoiceBusses() = default;
};

struct AuVoiceCommandRecord {
    static constexpr u32 kVoiceReady = 1 << 8;
    CAuPlaybackInstance* pInstance;
    u32 uStamp;
    u32 uWord; // kind in bits 0-7
    bool bDrop;
    u32 Kind() const { return uWord & 0xFF; }
};

class CAuVoiceCommands final : public IAuVoiceCommandQueue {
public:
    // The free list of `entries` records in the lower-engine pool; 52 without it.
    AURESULT Init(u32 entries);
    // Destroys the voices, the waiting ones, and empties the queue.
    void Term();
    void SetBusses(IAuVoiceBusses* busses) { m_pBusses = busses; }
    // Where an instance ends once its voice is gone or cannot be made; null ends none.
    void SetInstanceMgr(CAuInstanceMgr* instances) { m_pInstances = instances; }

    // [audio thread] Every operation below.
    // Stamps the command with the change counter; a command lost for want of memory is logged.
    void QueueCommand(CAuPlaybackInstance* instance, AuVoiceCommand command) noexcept override;
    bool HasVoicesToStart() const noexcept { return m_bPlayPending; }
    // Voices for the queued plays whose instances have none yet.
    void StartPendingVoices() noexcept;
    // The queue, group by group.
    void ExecuteVoiceCommands() noexcept;
    // Waiting voices count their start delays down by `frames` output frames.
    void AdvanceWaitingVoices(u16 frames) noexcept;
    // Every live voice: its frame budget, its update, its pull, its mix; then voices that ended
    // or stopped go. Nothing is pulled unless `render`.
    void RenderVoices(bool render, u16 framesPerBuffer) noexcept;

    u32 NumVoices() const { return m_uNumVoices; }
    u32 NumWaiting() const;
    u32 NumQueued() const { return m_queue.Count(); }
    CAuVoiceContext* FirstVoice() const { return m_pVoices; }

private:
    struct VoiceLink;
    AURESULT CreateVoice(AuVoiceCommandRecord& command) noexcept;
    AURESULT ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance& instance) noexcept;
    AURESULT StartVoice(CAuPlaybackInstance& instance, CAuVoiceContext& voice) noexcept;
    void Apply(CAuVoiceContext& voice, const AuVoiceCommandRecord& command) noexcept;
    void DestroyVoice(CAuVoiceContext* voice) noexcept;
    void EndInstance(CAuPlaybackInstance* instance) noexcept;
    bool IsWaiting(const CAuVoiceContext* voice) const noexcept;
    void RemoveWaiting(CAuVoiceContext* voice) noexcept;
    static CAuVoiceContext* VoiceOf(const CAuPlaybackInstance* instance) noexcept;

    AuPoolList<AuVoiceCommandRecord, &g_LEngineDefaultPoolId> m_queue;
    bool m_bPlayPending = false;
    IAuVoiceBusses* m_pBusses = nullptr;
    CAuInstanceMgr* m_pInstances = nullptr;
    CAuVoiceContext* m_pVoices = nullptr; // live voices, linked through the voice
    u32 m_uNumVoices = 0;
    CAuVoiceContext* m_pWaiting = nullptr; // created, not ready to start
};
