// The built-in codebook library of the Vorbis decoder: media name their codebooks by index here
// instead of carrying them. The table is generated at build time by tools/vorbispack's harvester
// from the encoder the packer uses, so packed media and the engine always share one library.
#pragma once

#include <AU/AuTypes.h>

struct AuVorbisCodebookEntry {
    const u8* pBits; // the compact codebook, least-significant bit first
    u32 uBytes;
};

extern const AuVorbisCodebookEntry VorbisCodebookLibrary[];
extern const u32 g_uVorbisCodebookCount;
