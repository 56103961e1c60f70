// libFuzzer target of the media header and the in-memory sources. The input is copied into a
// block of exactly its size so that any read past the media shows under the sanitizers.
#include "MediaFuzz.h"

#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <memory>

namespace {

// The fuzzer runs without the engine's initialisation; a replaying test brings its own.
void EnsureMemory() {
    if (AU::MemoryMgr::IsInitialized()) return;
    const AuMemoryMgrSettings settings{4};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 64u << 20, 64, AuPoolAttrMalloc, 0);
    g_LEngineDefaultPoolId = g_DefaultPoolId;
}

template <class Source> AURESULT Play(const u8* media, u32 size, u16 loopCount, bool seek) {
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance instance(params);
    instance.SetLoopCount(loopCount);
    if (seek) instance.SeekPercent(0.6f, true);
    Source source(&instance, media, size);
    const AURESULT result = source.StartStream();
    if (result == AuResultSuccess) {
        volatile i32 sum = 0;
        // Bounded: an infinite loop never ends by itself.
        for (u32 n = 0; n < 64; ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = 256;
            source.GetBuffer(buffer);
            if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData) {
                const i16* samples = reinterpret_cast<const i16*>(buffer.pData);
                for (u32 i = 0; i < u32(buffer.uValidFrames) * buffer.NumChannels(); ++i)
                    sum = sum + samples[i];
            }
            sum = sum + i32(source.GetAnalyzedEnvelope(n));
            buffer.FreeMarkers();
            source.ReleaseBuffer();
            if (buffer.eState != AuResultDataReady) break;
        }
        source.StopStream();
    }
    return result;
}

} // namespace

std::vector<AURESULT> voicetest::ReadMediaEveryWay(const uint8_t* data, size_t size) {
    std::vector<AURESULT> results;
    if (size > (1u << 24)) return results;
    EnsureMemory();
    const u32 bytes = u32(size);
    std::unique_ptr<u8[]> media(new u8[size ? size : 1]);
    if (size) memcpy(media.get(), data, size);
    {
        CAuCuePointList cues;
        AuRiffChunk format, analysis, seek;
        u32 loopStart, loopEnd, dataSize, dataOffset;
        results.push_back(ParseRiffHeader(media.get(), bytes, format, &cues, loopStart, loopEnd, dataSize,
                                          dataOffset, &analysis, &seek));
    }
    for (const u16 loops : {1, 2, 0}) {
        results.push_back(Play<CAuPcmBankSource>(media.get(), bytes, loops, loops == 2));
        results.push_back(Play<CAuAdpcmBankSource>(media.get(), bytes, loops, loops == 2));
    }
    return results;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    voicetest::ReadMediaEveryWay(data, size);
    return 0;
}
