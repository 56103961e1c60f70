// One action of a posted event on its way to execution: what the audio manager keeps while the
// action waits for its launch frame or is paused (see CAuAudioMgr's pending actions), and what the
// action's Execute reads.
//
// Making one (message 1, a bus's recovery, a container's next item):
//     CAuPendingAction* record = CAuPendingAction::Create(action, gameObj, playParams, customParam);
//     if (record) g_pAudioMgr->EnqueueOrExecute(record); // the manager owns it from here on
#pragma once

#include "core/AuTransitionMgr.h"

#include <AU/AuTypes.h>

class AuExternalSourceArray;
class CAuAction;
class CAuNodeBase;
class CAuRegisteredObj;

// The post's custom play parameters and its playing ID, as the play request passes them on.
struct AuCustomPlayParams {
    u32 customWords[3] = {};
    AuExternalSourceArray* pExternalSources = nullptr; // one reference held by the record
    AuPlayingID playingID = 0;
};

// From the default pool. Holds a reference on its game object and its external sources from
// Create to Destroy; the audio manager holds one on the action while the record is its own.
class CAuPendingAction : public IAuTransitionTarget {
public:
    // Null without memory (no reference is taken then).
    static CAuPendingAction* Create(CAuAction* action, CAuRegisteredObj* gameObj,
                                    const AuCustomPlayParams& params, u32 customParam);
    // Releases the game object and the external sources, then frees the record.
    static void Destroy(CAuPendingAction* record);

    CAuPendingAction(const CAuPendingAction&) = delete;
    CAuPendingAction& operator=(const CAuPendingAction&) = delete;

    // [audio thread] A play-and-continue action's fades come here while its record waits.
    void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;

    AuPlayingID PlayingID() const { return playParams.playingID; }

    CAuAction* pAction;
    u32 uLaunchFrame = 0;
    // Samples of the delay that remain inside the launch frame.
    u32 uSampleOffset = 0;
    u32 uPausedAtFrame = 0;
    AuCustomPlayParams playParams;
    // Further pauses that must be resumed before the record runs again.
    u32 uPauseLevel = 0;
    // The post's last argument.
    u32 uCustomParam;
    // Null: every game object.
    CAuRegisteredObj* pGameObj;

protected:
    CAuPendingAction(CAuAction* action, CAuRegisteredObj* gameObj, const AuCustomPlayParams& params,
                     u32 customParam);
    virtual ~CAuPendingAction();
};

// Message 31 for a play action: the pending records of the node first (kind 0 clear, 1 pause,
// 2 resume, 3 remove the pending plays, 4 none), then the node's action execution with request
// kind 0, 1, 2, 3 or, for 4, 5. The node's result; 31 for a kind above 4. [audio thread]
AURESULT ExecuteActionOnNode(CAuNodeBase* node, CAuRegisteredObj* gameObj, u32 kind, i32 transitionMs,
                             AuCurveInterpolation curve, AuPlayingID playingID);
