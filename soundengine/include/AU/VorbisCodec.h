// The Vorbis codec (company 0, codec 4) that the game registers with
// AU::SoundEngine::RegisterCodec(0, 4, CreateVorbisFileSource, CreateVorbisBankSource).
#pragma once

#include <AU/AuPluginTypes.h>

// The source of a playback instance whose media are streamed, or held in memory; built in the
// lower-engine pool, null without memory.
AU::IAuSoftwareCodec* CreateVorbisFileSource(void* playbackInstance);
AU::IAuSoftwareCodec* CreateVorbisBankSource(void* playbackInstance);
