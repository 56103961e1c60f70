// Kernel-streaming identifiers: sample sub-formats of WAVEFORMATEXTENSIBLE and the audio device
// interface classes that device-change notices carry.
#pragma once

#include <unknwn.h>

// The sub-formats are the wave format tag inside the RIFF base identifier, as files store them.
extern const GUID KSDATAFORMAT_SUBTYPE_PCM;
extern const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;

extern const GUID KSCATEGORY_AUDIO;
extern const GUID KSCATEGORY_RENDER;
