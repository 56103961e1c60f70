// Where a voice's media come from, as the sources and their factory read it from the playback
// instance: storage kind and codec, and the media in memory or the file to stream.
#pragma once

#include <AU/AuTypes.h>

struct AuSourceMedia {
    static constexpr u32 kLanguageSpecific = 1 << 0;
    static constexpr u32 kPrefetched = 1 << 1; // a streamed media's first bytes are in `pData`
    static constexpr u32 kStorageShift = 2;    // bits 2-6: 1 streamed, 2 generated, 3 in memory
    static constexpr u32 kStorageStreamed = 1;
    static constexpr u32 kStoragePlugin = 2; // a source plug-in made from the settings of uSourceID
    static constexpr u32 kStorageInMemory = 3;

    u32 uFlags = 0;
    u32 uPluginID = 0; // the codec in bits 16-31
    u32 uFileID = 0xFFFFFFFF;
    u32 uSourceID = 0;
    const wchar_t* pszFileName = nullptr; // streamed by name when set
    const u8* pData = nullptr;            // the media in memory, or a streamed media's first bytes
    u32 uSize = 0;

    u32 StorageKind() const { return (uFlags >> kStorageShift) & 31; }
    u32 Codec() const { return uPluginID >> 16; }
};
