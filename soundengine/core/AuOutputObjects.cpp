#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"

#include <AU/SoundEngine.h>

IDirectSound8* AU::GetDirectSoundInstance() {
    CAuSinkBase* sink = CAuLowerEngine::MainSink();
    return sink ? sink->GetDirectSoundInstance() : nullptr;
}

IXAudio2* AU::GetEngineXAudio2Interface() {
    CAuSinkBase* sink = CAuLowerEngine::MainSink();
    return sink ? sink->GetXAudio2Interface() : nullptr;
}
