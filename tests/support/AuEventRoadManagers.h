// The managers a posted event passes through up to a sound's start, without voices or mixing:
// the object index, the audio manager with the object and event handlers, transitions, game
// parameters, playing IDs, the listener and the registry with one registered game object. The
// event-handler tests and the event-road benchmark both stand on this one set. The caller owns
// the default pool and installs what a sound's start reaches (`g_pNodeInstances`).
#pragma once

#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuEventMsgHandlers.h"
#include "core/AuListener.h"
#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "core/AuRegistryMsgHandlers.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuRecordCursor.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/SoundEngine.h>

#include <vector>

class AuEventRoadManagers {
public:
    // Sets the engine's globals to these managers and registers `object` through the ring, as a
    // game does. Anything but success leaves what was made for Term.
    AURESULT Init(u32 queueBytes, AuGameObjectID object) {
        index.Init();
        g_pIndex = &index;
        AURESULT result = mgr.Init(queueBytes);
        if (result != AuResultSuccess) return result;
        g_pAudioMgr = &mgr;
        AuRegisterObjectMsgHandlers(mgr);
        AuRegisterEventMsgHandlers(mgr);
        CAuListener::Instance().Init();
        if ((result = transitions.Init(0)) != AuResultSuccess) return result;
        g_pTransitionMgr = &transitions;
        g_pRTPCMgr = &rtpc;
        if ((result = rtpc.Init()) != AuResultSuccess) return result;
        if ((result = playing.Init()) != AuResultSuccess) return result;
        g_pPlayingMgr = &playing;
        g_pRegistryMgr = &registry;
        if ((result = registry.Init()) != AuResultSuccess) return result;
        if ((result = AU::SoundEngine::RegisterGameObj(object)) != AuResultSuccess) return result;
        RunMessages();
        pObject = registry.GetObjAndAddref(object);
        if (!pObject) return AuResultFail;
        pObject->Release();
        return AuResultSuccess;
    }
    // The audio manager first: its messages still hold references into the others.
    void TermAudioMgr() {
        if (g_pAudioMgr != &mgr) return;
        mgr.Term();
        g_pAudioMgr = nullptr;
    }
    void Term() {
        TermAudioMgr();
        playing.Term();
        g_pPlayingMgr = nullptr;
        registry.Term();
        g_pRegistryMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
        transitions.Term();
        g_pTransitionMgr = nullptr;
        CAuListener::Instance().Term();
        index.Term();
        g_pIndex = nullptr;
    }

    // The messages posted so far, as one audio pass runs them.
    void RunMessages() {
        mgr.RenderAudio();
        CAuMainLock lock;
        mgr.ProcessMsgQueue();
    }

    // An event listing the actions, as a bank's record gives it, in the index; the caller
    // releases it.
    static CAuEvent* MakeEvent(u32 id, const std::vector<u32>& actionIDs) {
        std::vector<u32> words{id, u32(actionIDs.size())};
        words.insert(words.end(), actionIDs.begin(), actionIDs.end());
        CAuEvent* event = CAuEvent::Create(id);
        if (!event) return nullptr;
        AuRecordCursor cursor(reinterpret_cast<const u8*>(words.data()), u32(words.size() * 4));
        if (event->SetInitialValues(cursor) != AuResultSuccess) {
            event->Release();
            return nullptr;
        }
        event->AddToIndex();
        return event;
    }

    CAuObjectIndex index;
    CAuAudioMgr mgr;
    CAuTransitionMgr transitions;
    CAuRTPCMgr rtpc;
    CAuPlayingMgr playing;
    CAuRegistryMgr registry;
    CAuRegisteredObj* pObject = nullptr;
};
