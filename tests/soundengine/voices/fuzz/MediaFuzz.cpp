// libFuzzer target of the media header and the PCM and ADPCM sources, in memory and streamed. The
// input is copied into a block of exactly its size, and a stream hands it out in copies of exactly
// their sizes, so that any read past the media shows under the sanitizers.
#include "MediaFuzz.h"
#include "FuzzMemory.h"

#include "voices/AuFileSources.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include <AuMemoryAutoStream.h>

#include <cstring>
#include <memory>
#include <type_traits>

namespace {

template <class Source> AURESULT Play(const u8* media, u32 size, u16 loopCount, bool seek) {
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance instance(params);
    instance.SetLoopCount(loopCount);
    if (seek) instance.SeekPercent(0.6f, true);
    AuSourceMedia described;
    described.uFlags = AuSourceMedia::kStorageStreamed << AuSourceMedia::kStorageShift;
    described.uFileID = 1;
    instance.SetSourceMedia(described);
    Source source = [&] {
        if constexpr (std::is_base_of_v<CAuStreamedSourceBase, Source>)
            return Source(&instance);
        else
            return Source(&instance, media, size);
    }();
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
    voicetest::EnsureFuzzMemory();
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
    autostm::MemoryStreamMgr streams;
    streams.AddFile(1, std::vector<u8>(data, data + size));
    // Buffers of a size the input chooses, not a multiple of frames or blocks.
    const u32 bufferSize = 1 + (size ? data[size - 1] % 97 : 0);
    streams.onCreate = [bufferSize](autostm::MemoryAutoStream& stream) { stream.sizes = {bufferSize}; };
    for (const u16 loops : {1, 2, 0}) {
        results.push_back(Play<CAuPcmBankSource>(media.get(), bytes, loops, loops == 2));
        results.push_back(Play<CAuAdpcmBankSource>(media.get(), bytes, loops, loops == 2));
        results.push_back(Play<CAuPcmFileSource>(media.get(), bytes, loops, loops == 2));
        results.push_back(Play<CAuAdpcmFileSource>(media.get(), bytes, loops, loops == 2));
    }
    return results;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    voicetest::ReadMediaEveryWay(data, size);
    return 0;
}
