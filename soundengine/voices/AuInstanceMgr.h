// Every live playback instance of the engine: whether a new one may start (memory, the global
// voice limit, priorities from distance), the instances' queued events and their end. Runs on the
// audio thread under g_csMain, except Init and Term.
#pragma once

#include "banks/AuBankMgr.h"
#include "hierarchy/AuNodePlayParams.h"
#include "hierarchy/AuPlaybackLimiter.h"
#include "memory/AuArray.h"
#include "memory/AuPoolList.h"
#include "voices/AuPlaybackInstance.h"

struct AuInitSettings;

// An event for an instance, handed over at the end of the frame. Kind 4 ends the instance.
struct AuInstanceEvent {
    static constexpr u32 kEnd = 4;
    CAuPlaybackInstance* pInstance;
    u32 uKind;
    u32 uParam;
    f32 fParam;
};

// What the priority of a start depends on.
struct AuPriorityInputs {
    f32 fBase = 50.0f;
    f32 fDistanceOffset = 0.0f; // added at the maximum distance
    bool bHasMaxDistance = false;
    f32 fMaxDistance = 0.0f;
    f32 fScaling = 1.0f; // the game object's attenuation scaling
    // Distance to each listener of each position, already divided by the listener's scaling.
    const f32* pDistances = nullptr;
    u32 uNumDistances = 0;
};

class CAuInstanceMgr final : public IAuNodeInstances,
                             public IAuBankInstanceStopper,
                             public IAuPlaybackLimits {
public:
    static constexpr u32 kPreallocatedEvents = 64;
    static constexpr f32 kNoListenerDistance = 1e10f;
    // Stop reasons.
    static constexpr u32 kStopForVoiceLimit = 2;
    static constexpr u32 kStopForMemory = 3;
    // Refusal reasons.
    static constexpr u32 kRefusedVoiceLimit = 33;
    static constexpr u32 kRefusedMemory = 34;

    // The event records, then the output side; 52 without the records. InitEvents also makes
    // this manager the one that applies the lists' limits and keeps their registrations.
    AURESULT Init(const AuInitSettings& settings);
    AURESULT InitEvents();
    // Ends every instance and the event queue; the output side first when `withOutputSide`.
    void Term(bool withOutputSide = true);

    // [audio thread] Every operation below.
    // A new instance of the leaf playing `source`: the limits are checked with the node's
    // priority, the instance is made, holds the source's media, is counted below the node and
    // plays. The refusal or failure otherwise (52 without memory).
    AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo& source, AuNodePlayParams& params) override;
    // The node's instances of the game object (null: all) and playing ID (0: all).
    void StopInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                             AuCurveInterpolation curve, AuPlayingID playingID) override;
    void PauseInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                              AuCurveInterpolation curve, AuPlayingID playingID) override;
    void ResumeInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                               AuCurveInterpolation curve, AuPlayingID playingID, bool masterResume) override;
    void ReleaseModulatorsOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj,
                                 AuPlayingID playingID) override;

    void AddInstance(CAuPlaybackInstance* instance) noexcept;
    // Appends an event; with no record free and the pool refusing, the queue is worked first.
    void QueueInstanceEvent(CAuPlaybackInstance* instance, u32 kind, u32 param, f32 fParam) noexcept;
    // Hands every queued event to its instance; kind 4 also ends and frees it.
    void ProcessInstanceEvents() noexcept;
    // The instance's voice is gone or will never be: it is marked stopped and its end (kind 4)
    // queued, once, for an instance of this manager's list; nothing while the manager closes.
    void EndInstance(CAuPlaybackInstance* instance) noexcept;

    // Each frame: every instance's made-virtual bit of this frame becomes that of the last frame;
    // then the engine-wide limiter, the limiters of kind 1 and those of kind 2 that hold
    // instances, the latest registered first; instances past a maximum give way.
    void UpdateLimiters() noexcept;
    // The engine-wide limiter every instance joins at its Init (g_pGlobalVoiceLimiter while the
    // manager runs); its maximum is the voice limit.
    const CAuPlaybackLimiter& GlobalLimiter() const { return m_global; }
    u32 NumRegisteredLimiters(u32 kind) const {
        return kind == AU_LIMITER_KIND_1 || kind == AU_LIMITER_KIND_2 ? m_limiters[kind - 1].Count() : 0;
    }

    // A sound's source is external when its codec word's high half is this: the game names the
    // media with each post, under the cookie in the source's file ID word.
    static constexpr u32 kExternalSourceCodec = 8;
    static bool IsExternalSource(const AuSourceInfo& source) noexcept;
    // The source completed from the post's entry of its cookie, with the entry's codec: by file
    // name, else by memory block, else by file ID. 1 with a clone the caller owns; 2 without a
    // list, an entry or anything the entry names; 52 without memory.
    static AURESULT ResolveExternalSource(const AuSourceInfo& source, const AuExternalSourceArray* list,
                                          AuSourceInfo*& resolved) noexcept;
    // Limited to 0 to 100.
    static f32 ComputePriority(const AuPriorityInputs& inputs) noexcept;
    // Whether a start of `priority` may go on; out: the refusal reason.
    AURESULT CheckResourceLimits(f32 priority, u32& reason) noexcept;
    // False when memory is short and no instance of a lower priority could be stopped for it.
    bool CheckMemoryThreshold(f32 priority) noexcept;
    // The global limit over the live instances of the engine-wide list, highest priority first.
    AURESULT ApplyPlaybackLimit(u16 limit, f32 priority, bool tiesLose, bool useVirtual,
                                u32 stopReason) noexcept;
    // A node's or a bus's limit over its list, in the list's order; the victim stops with reason 1.
    AURESULT ApplyPlaybackLimit(const CAuPlaybackLimiter& list, u16 limit, f32 priority,
                                CAuRegisteredObj* gameObj, bool tiesLose, bool useVirtual,
                                CAuPlaybackInstance*& victim) noexcept override;
    // The bank holding [data, data + size) unloads: every instance playing from it stops at once
    // and its node's pending actions are dropped.
    void StopInstancesUsingData(const u8* data, u32 size) noexcept;
    void StopInstancesUsingData(const CAuLoadedBank& bank) noexcept override {
        StopInstancesUsingData(bank.pData, bank.uDataSize);
    }
    // One instance fewer plays as virtual; with `check`, the limit is applied again.
    void OnVirtualCountLowered(bool check) noexcept;

    void SetVoiceLimit(u16 limit) {
        m_uVoiceLimit = limit;
        m_global.SetMaximum(limit);
    }
    void SetVirtualCount(u32 count) { m_uNumVirtual = count; }
    // Ratios of the default pool and of the lower-engine pool above which starts must make room;
    // 1.0 or more never triggers.
    void SetMemoryThresholds(f32 defaultPool, f32 lowerEnginePool) {
        m_fDefaultThreshold = defaultPool;
        m_fLEngineThreshold = lowerEnginePool;
    }
    u32 NumInstances() const { return m_uNumInstances; }
    u32 NumVirtual() const { return m_uNumVirtual; }
    CAuPlaybackInstance* FirstInstance() const { return m_pHead; }

private:
    static void RegisterLimiter(CAuLimiterList<CAuPlaybackInstance>& list, u32 kind, bool registered);
    void RemoveInstance(CAuPlaybackInstance* instance) noexcept;
    static void DestroyInstance(CAuPlaybackInstance* instance) noexcept;

    CAuPlaybackInstance* m_pHead = nullptr;
    CAuPlaybackInstance* m_pTail = nullptr;
    u32 m_uNumInstances = 0;
    u32 m_uNumVirtual = 0;
    u16 m_uVoiceLimit = 256;
    f32 m_fDefaultThreshold = 1.0f;
    f32 m_fLEngineThreshold = 1.0f;
    // Set by Term: the voices it destroys end no instance, Term frees them all.
    bool m_bClosing = false;
    AuPoolList<AuInstanceEvent> m_events;
    CAuPlaybackLimiter m_global{0, 256, false, true};
    AuArray<CAuPlaybackLimiter*> m_limiters[2];
};
