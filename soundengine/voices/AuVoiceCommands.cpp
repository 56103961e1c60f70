#include "voices/AuVoiceCommands.h"

#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceContext.h"

#include <cmath>
#include <new>

namespace {

// The stop reason an instance receives when no voice could be made for it.
constexpr u32 kVoiceFailedReason = 0;

bool IsPlay(const AuVoiceCommandRecord& command) {
    return command.Kind() == AuVoiceCommand_Start || command.Kind() == AuVoiceCommand_StartPaused;
}

// Written and read on the audio thread only (Init before it starts).
u32 s_uChangeCounter = 0;

// An instance stopped before its voice was made plays nothing.
bool StoppedBeforeStart(const CAuPlaybackInstance& instance) {
    return instance.IsStopped() && !instance.Voice();
}

} // namespace

void IncrementChangeCounter() noexcept {
    ++s_uChangeCounter;
}

u32 AuChangeCounter() noexcept {
    return s_uChangeCounter;
}

AURESULT CAuVoiceCommands::Init(u32 entries) {
    s_uChangeCounter = 0;
    m_bPlayPending = false;
    return m_queue.Init(entries, AuPoolList<AuVoiceCommandRecord, &g_LEngineDefaultPoolId>::kNoMaximum);
}

void CAuVoiceCommands::Term() {
    while (m_pVoices) {
        CAuVoiceContext* voice = m_pVoices;
        m_pVoices = voice->NextVoice();
        DestroyVoice(voice);
    }
    m_uNumVoices = 0;
    while (m_pWaiting) {
        CAuVoiceContext* voice = m_pWaiting;
        m_pWaiting = voice->NextVoice();
        DestroyVoice(voice);
    }
    m_queue.Term();
    m_bPlayPending = false;
}

u32 CAuVoiceCommands::NumWaiting() const {
    u32 count = 0;
    for (CAuVoiceContext* voice = m_pWaiting; voice; voice = voice->NextVoice())
        ++count;
    return count;
}

CAuVoiceContext* CAuVoiceCommands::VoiceOf(const CAuPlaybackInstance* instance) noexcept {
    return static_cast<CAuVoiceContext*>(instance->Voice());
}

void CAuVoiceCommands::QueueCommand(CAuPlaybackInstance* instance, AuVoiceCommand command) noexcept {
    if (!m_queue.AddLast({instance, AuChangeCounter(), static_cast<u32>(command), false})) {
        AuLog(AuLogLevel::Error, "Voice command %u lost: no memory", static_cast<u32>(command));
        // A play that is lost would leave its instance waiting for a voice for ever.
        if (command == AuVoiceCommand_Start || command == AuVoiceCommand_StartPaused) EndInstance(instance);
        return;
    }
    if (command == AuVoiceCommand_Start || command == AuVoiceCommand_StartPaused) m_bPlayPending = true;
}

void CAuVoiceCommands::DestroyVoice(CAuVoiceContext* voice) noexcept {
    if (m_pBusses) m_pBusses->DisconnectVoice(*voice);
    CAuPlaybackInstance* instance = voice->Instance();
    if (instance && instance->Voice() == voice) instance->AttachVoice(nullptr);
    voice->~CAuVoiceContext();
    AU::MemoryMgr::Free(g_LEngineDefaultPoolId, voice);
    // Every voice that goes takes its instance with it: the instance ends at the frame's end.
    if (instance && !instance->Voice()) EndInstance(instance);
}

void CAuVoiceCommands::EndInstance(CAuPlaybackInstance* instance) noexcept {
    if (m_pInstances)
        m_pInstances->EndInstance(instance);
    else
        instance->OnStop(kVoiceFailedReason, 0);
}

bool CAuVoiceCommands::IsWaiting(const CAuVoiceContext* voice) const noexcept {
    for (CAuVoiceContext* v = m_pWaiting; v; v = v->NextVoice())
        if (v == voice) return true;
    return false;
}

void CAuVoiceCommands::RemoveWaiting(CAuVoiceContext* voice) noexcept {
    CAuVoiceContext* previous = nullptr;
    for (CAuVoiceContext* v = m_pWaiting; v; previous = v, v = v->NextVoice()) {
        if (v != voice) continue;
        (previous ? previous->SetNextVoice(v->NextVoice()) : void(m_pWaiting = v->NextVoice()));
        v->SetNextVoice(nullptr);
        return;
    }
}

void CAuVoiceCommands::StartPendingVoices() noexcept {
    m_queue.ForEach([&](AuVoiceCommandRecord& command) {
        if (command.bDrop || !IsPlay(command) || command.pInstance->Voice()) return;
        if (command.pInstance->IsStopped()) {
            EndInstance(command.pInstance);
            command.bDrop = true;
            return;
        }
        if (CreateVoice(command) != AuResultSuccess) command.bDrop = true;
    });
    m_queue.RemoveAll([](const AuVoiceCommandRecord& command) { return command.bDrop; });
    m_bPlayPending = false;
}

AURESULT CAuVoiceCommands::CreateVoice(AuVoiceCommandRecord& command) noexcept {
    CAuPlaybackInstance& instance = *command.pInstance;
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CAuVoiceContext), 16);
    CAuSourceBase* source = block ? AuCreateSource(&instance) : nullptr;
    if (!source) {
        if (block) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, block);
        EndInstance(&instance);
        return AuResultFail;
    }
    auto* voice = new (block) CAuVoiceContext();
    const AURESULT attached = voice->AttachSource(source, true, true);
    if (attached == AuResultStillBuffering) {
        voice->SetNextVoice(m_pWaiting);
        m_pWaiting = voice;
        return AuResultSuccess;
    }
    if (attached != AuResultSuccess) {
        DestroyVoice(voice);
        EndInstance(&instance);
        return attached;
    }
    if (ConnectVoice(*voice, instance) != AuResultSuccess) return AuResultFail;
    command.uWord |= AuVoiceCommandRecord::kVoiceReady;
    return AuResultSuccess;
}

AURESULT CAuVoiceCommands::ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance& instance) noexcept {
    if (m_pBusses && m_pBusses->ConnectVoice(voice, instance) != AuResultSuccess) {
        DestroyVoice(&voice);
        return AuResultFail;
    }
    // At the end, in the order they connect.
    voice.SetNextVoice(nullptr);
    if (!m_pVoices) {
        m_pVoices = &voice;
    } else {
        CAuVoiceContext* last = m_pVoices;
        while (last->NextVoice())
            last = last->NextVoice();
        last->SetNextVoice(&voice);
    }
    ++m_uNumVoices;
    instance.SetVoiceActivity(CAuPlaybackInstance::kVoiceCreated);
    return AuResultSuccess;
}

AURESULT CAuVoiceCommands::StartVoice(CAuPlaybackInstance& instance, CAuVoiceContext& voice) noexcept {
    const AURESULT started = voice.Source() ? voice.Source()->StartOnce() : AuResultFail;
    if (started == AuResultStillBuffering) return started;
    RemoveWaiting(&voice);
    if (started != AuResultSuccess || ConnectVoice(voice, instance) != AuResultSuccess) {
        if (started != AuResultSuccess) DestroyVoice(&voice);
        return AuResultFail;
    }
    return AuResultSuccess;
}

void CAuVoiceCommands::Apply(CAuVoiceContext& voice, const AuVoiceCommandRecord& command) noexcept {
    switch (command.Kind()) {
    case AuVoiceCommand_Start:
        voice.Start();
        command.pInstance->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
        break;
    case AuVoiceCommand_StartPaused:
        voice.Start();
        voice.Pause();
        command.pInstance->SetVoiceActivity(CAuPlaybackInstance::kVoiceStarted);
        break;
    case AuVoiceCommand_Pause:
        voice.Pause();
        break;
    case AuVoiceCommand_Resume:
        voice.Resume();
        break;
    case AuVoiceCommand_StopLooping:
        voice.StopLooping(command.pInstance);
        break;
    case AuVoiceCommand_Seek:
        voice.ApplySeek();
        break;
    default:
        break;
    }
}

void CAuVoiceCommands::ExecuteVoiceCommands() noexcept {
    bool waitingGroup = false;
    bool blocked = false; // a command of the group stays: the ones after it wait behind it
    bool inGroup = false;
    u32 stamp = 0;
    // Starts the plays of every group first, so that a group that cannot start all waits.
    bool restart = true;
    while (restart) {
        restart = false;
        m_queue.ForEach([&](AuVoiceCommandRecord& command) {
            if (restart || command.bDrop || !IsPlay(command)) return;
            if (command.uWord & AuVoiceCommandRecord::kVoiceReady) return;
            CAuVoiceContext* voice = VoiceOf(command.pInstance);
            if (!voice || !IsWaiting(voice)) return;
            if (StoppedBeforeStart(*command.pInstance)) return;
            const AURESULT started = voice->Source() ? voice->Source()->StartOnce() : AuResultFail;
            if (started == AuResultStillBuffering) return;
            if (started != AuResultSuccess) {
                command.bDrop = true;
                RemoveWaiting(voice);
                DestroyVoice(voice);
                restart = true;
            }
        });
        m_queue.RemoveAll([](const AuVoiceCommandRecord& command) { return command.bDrop; });
    }
    // A group waits while one of its plays still buffers; the others are connected together.
    m_queue.ForEach([&](AuVoiceCommandRecord& command) {
        if (!inGroup || command.uStamp != stamp) {
            inGroup = true;
            stamp = command.uStamp;
            blocked = false;
            waitingGroup = false;
            m_queue.ForEach([&](const AuVoiceCommandRecord& other) {
                if (other.uStamp != stamp || !IsPlay(other) ||
                    (other.uWord & AuVoiceCommandRecord::kVoiceReady))
                    return;
                CAuVoiceContext* voice = VoiceOf(other.pInstance);
                if (voice && IsWaiting(voice) && voice->Source()->StartOnce() == AuResultStillBuffering)
                    waitingGroup = true;
            });
        }
        if (waitingGroup || blocked) return;
        if (IsPlay(command) && !(command.uWord & AuVoiceCommandRecord::kVoiceReady)) {
            CAuVoiceContext* voice = VoiceOf(command.pInstance);
            if (voice && IsWaiting(voice)) {
                if (StartVoice(*command.pInstance, *voice) == AuResultSuccess)
                    command.uWord |= AuVoiceCommandRecord::kVoiceReady;
                else
                    command.bDrop = true;
            }
        }
        if (command.bDrop) return;
        if (command.uWord & AuVoiceCommandRecord::kVoiceReady) {
            if (CAuVoiceContext* voice = VoiceOf(command.pInstance)) Apply(*voice, command);
            command.bDrop = true;
            return;
        }
        if (IsPlay(command)) {
            blocked = true;
            return;
        }
        CAuVoiceContext* voice = VoiceOf(command.pInstance);
        if (!voice) {
            command.bDrop = true;
        } else if (!IsWaiting(voice)) {
            Apply(*voice, command);
            command.bDrop = true;
        } else {
            blocked = true;
        }
    });
    m_queue.RemoveAll([](const AuVoiceCommandRecord& command) { return command.bDrop; });
}

void CAuVoiceCommands::AdvanceWaitingVoices(u16 frames) noexcept {
    CAuVoiceContext* voice = m_pWaiting;
    while (voice) {
        CAuVoiceContext* next = voice->NextVoice();
        CAuPlaybackInstance* instance = voice->Instance();
        if (StoppedBeforeStart(*instance) || instance->IsStopped()) {
            m_queue.RemoveAll(
                [&](const AuVoiceCommandRecord& command) { return command.pInstance == instance; });
            RemoveWaiting(voice);
            DestroyVoice(voice);
        } else if (!(instance->Flags() & CAuPlaybackInstance::kFlagStopping) && instance->StartDelay() >= 0) {
            f64 advance = frames;
            if (instance->IsMotion()) advance = advance * AU_MOTION_VOICE_FRAMES / g_uNumSamplesPerFrame;
            advance *= std::exp2(f64(instance->Pitch()) / 1200.0);
            instance->SetStartDelay(instance->StartDelay() - static_cast<i32>(std::lround(advance)));
        }
        voice = next;
    }
}

void CAuVoiceCommands::RenderVoices(bool render, u16 framesPerBuffer) noexcept {
    // One buffer of the voice into its outputs; whether the voice ended with it.
    const auto pull = [&](CAuVoiceContext& voice) {
        AuPipelineBuffer buffer;
        buffer.PrepareForVoicePass(framesPerBuffer);
        const AURESULT state = voice.Pull(buffer, framesPerBuffer);
        if (state != AuResultDataReady && state != AuResultNoMoreData) return state != AuResultNoDataReady;
        if (m_pBusses) m_pBusses->MixVoice(voice, buffer);
        voice.ReleaseBuffer();
        if (CAuPlaybackInstance* mixed = voice.Instance()) {
            mixed->SetVoiceActivity(CAuPlaybackInstance::kVoiceMixed);
            if (state == AuResultNoMoreData) mixed->SetVoiceActivity(CAuPlaybackInstance::kVoiceEnded);
        }
        return state == AuResultNoMoreData;
    };
    CAuVoiceContext* previous = nullptr;
    CAuVoiceContext* voice = m_pVoices;
    while (voice) {
        CAuVoiceContext* next = voice->NextVoice();
        // A stopped instance's voice is not heard again past the fall of its last buffer; the
        // fade of a stop with a time is done by then.
        const CAuPlaybackInstance* instance = voice->Instance();
        bool ended = instance && instance->IsStopped();
        if (render && voice->TakeFall(ended)) {
            if (pull(*voice)) ended = true;
            if (ended) {
                voice->Stop();
                (previous ? previous->SetNextVoice(next) : void(m_pVoices = next));
                --m_uNumVoices;
                DestroyVoice(voice);
            } else {
                previous = voice;
            }
            voice = next;
            continue;
        }
        if (!ended && !voice->IsReadyToRender() && voice->State() == CAuVoiceContext::kPlaying) {
            const AURESULT ready = voice->CheckSourceReady();
            if (ready == AuResultSuccess)
                voice->SetReadyToRender();
            else if (ready != AuResultStillBuffering)
                voice->Stop();
        }
        if (!ended && render && voice->IsReadyToRender() && voice->State() == CAuVoiceContext::kPlaying) {
            AuVoiceFrame frame;
            frame.uFrames = framesPerBuffer;
            voice->ApplyFrameBudget(frame);
            // What the frame's volume pass found; heard without filters until it ran.
            const AuVoiceLevels& levels = voice->MixState().levels;
            if (frame.eState == AuResultFail) {
                voice->Stop();
            } else if (voice->VoiceUpdate(frame, levels)) {
                ended = pull(*voice);
            } else if (frame.eState == AuResultNoMoreData) {
                ended = true;
            }
        }
        if (ended || voice->State() == CAuVoiceContext::kStopped) {
            voice->Stop();
            (previous ? previous->SetNextVoice(next) : void(m_pVoices = next));
            --m_uNumVoices;
            DestroyVoice(voice);
        } else {
            previous = voice;
        }
        voice = next;
    }
}
